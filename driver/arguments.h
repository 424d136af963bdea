// The command line. The program converts BOOK.MOV in the current folder and
// takes no other input, so an argument is either a request for help or for
// the version, or a mistake: most often a movie's path, given as it is to
// other converters or dropped onto the program's icon.
#pragma once

#include <string>

enum class Request { CONVERT, HELP, VERSION, UNKNOWN_OPTION, REFUSED };

struct Arguments {
    Request request = Request::CONVERT;
    std::string refused;  // the first argument that is not understood
};

// `help_switch` is the platform's other way to ask for help, or nullptr;
// `option_starts` holds the characters that begin an option there.
Arguments read_arguments(int argc, const char* const* argv, const char* help_switch, const char* option_starts);

// The texts the program prints for them, each without its last line end.
std::string usage_text(const char* more_help);
std::string version_text();
std::string unknown_option_text(const std::string& argument);
std::string refusal_text(const std::string& argument, const char* how_to_run);
