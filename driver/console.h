// What differs between the platforms' consoles: how help is asked for, what
// to tell someone who gave the program a file, and on Windows a console
// window of the program's own, which would close before its last lines
// could be read. One file a platform implements these (console_posix.cpp,
// console_windows.cpp).
#pragma once

// Another way to ask for help on this platform ("/?" on Windows), or nullptr.
extern const char* const CONSOLE_HELP_SWITCH;

// The characters that begin an option: "-", and on Windows "/" too.
extern const char* const CONSOLE_OPTION_STARTS;

// How to run the program on a movie, after "put the movie in a folder of its
// own as BOOK.MOV and ".
extern const char* const CONSOLE_HOW_TO_RUN;

// Where more is written.
extern const char* const CONSOLE_MORE_HELP;

// What decides whether the console window is kept open at the end.
struct ConsoleFacts {
    unsigned processes = 0;       // processes attached to the console; 1 is this one alone
    bool input_is_console = false;
    bool error_is_console = false;
    bool interrupted = false;     // Ctrl-C, Ctrl-Break or a closed window
    bool said_anything = false;
    int status = 0;
};

// A window that belongs to this process alone closes when it ends: it is
// kept open when there is something to read in it, and never when a shell
// or a script shares it, when input or errors go elsewhere, or after an
// interruption.
inline bool console_should_wait(const ConsoleFacts& facts) {
    return facts.processes == 1 && facts.input_is_console && facts.error_is_console && !facts.interrupted &&
           (facts.said_anything || facts.status != 0);
}

// At the very end: on Windows, when console_should_wait says so, asks for
// Enter and waits for it. Elsewhere it does nothing.
void console_end(int status, bool said_anything);
