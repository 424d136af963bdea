// The console on Windows. A program started from Explorer, or with a movie
// dropped onto it, gets a console window of its own, which closes the moment
// the program ends; its last lines are kept readable until Enter.
#include "driver/console.h"

#include <cstdio>
#include <windows.h>

#include "driver/interruption.h"

const char* const CONSOLE_HELP_SWITCH = "/?";
const char* const CONSOLE_OPTION_STARTS = "-/";
const char* const CONSOLE_HOW_TO_RUN = "run movie-extract there, or copy movie-extract.exe there and double-click it";
const char* const CONSOLE_MORE_HELP = "README.md, in the .zip beside movie-extract.exe";

namespace {

bool is_console(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

void console_end(int status, bool said_anything) {
    ConsoleFacts facts;
    DWORD processes[2];
    facts.processes = GetConsoleProcessList(processes, 2);
    facts.input_is_console = is_console(STD_INPUT_HANDLE);
    facts.error_is_console = is_console(STD_ERROR_HANDLE);
    facts.interrupted = interruption_event() != 0;
    facts.said_anything = said_anything;
    facts.status = status;
    if (!console_should_wait(facts)) return;
    std::fputs("Press Enter to close this window.\n", stderr);
    std::fflush(stderr);
    char line[256];
    std::fgets(line, sizeof line, stdin);
}
