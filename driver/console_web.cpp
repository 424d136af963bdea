// The web page is the program's console: it shows every line, and it takes
// no arguments.
#include "driver/console.h"

const char* const CONSOLE_HELP_SWITCH = nullptr;
const char* const CONSOLE_OPTION_STARTS = "-";
const char* const CONSOLE_HOW_TO_RUN = "choose it in the page";
const char* const CONSOLE_MORE_HELP = "the README";

void console_end(int, bool) {}
