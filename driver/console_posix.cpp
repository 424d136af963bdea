// The console on POSIX systems: the terminal belongs to the shell that
// started the program, which outlives it.
#include "driver/console.h"

const char* const CONSOLE_HELP_SWITCH = nullptr;
const char* const CONSOLE_OPTION_STARTS = "-";
const char* const CONSOLE_HOW_TO_RUN = "run movie-extract there";
const char* const CONSOLE_MORE_HELP = "man movie-extract";

void console_end(int, bool) {}
