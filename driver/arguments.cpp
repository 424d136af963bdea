#include "driver/arguments.h"

#include <cstring>

#include "driver/extract.h"

Arguments read_arguments(int argc, const char* const* argv, const char* help_switch, const char* option_starts) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool help = std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0 ||
                          (help_switch != nullptr && std::strcmp(a, help_switch) == 0);
        if (help || std::strcmp(a, "--version") == 0) {
            if (arguments.request == Request::CONVERT) arguments.request = help ? Request::HELP : Request::VERSION;
            continue;
        }
        // Anything else, even beside a request for help, converts nothing. A
        // lone "-" names a file, as any other word does.
        const bool option = a[0] != '\0' && a[1] != '\0' && std::strchr(option_starts, a[0]) != nullptr;
        return {option ? Request::UNKNOWN_OPTION : Request::REFUSED, a};
    }
    return arguments;
}

std::string usage_text(const char* more_help) {
    return std::string("Usage: movie-extract [--help | --version]\n"
                       "\n"
                       "Converts the movie BOOK.MOV in the current folder into one TGA image for\n"
                       "every picture it shows (00000000.tga, 00000001.tga, ...) and BOOK.WAV with\n"
                       "its whole sound track, all written into the same folder. It reads no other\n"
                       "file and takes no other arguments: put the movie in a folder of its own as\n"
                       "BOOK.MOV and run movie-extract there.\n"
                       "\n"
                       "More: ") +
           more_help;
}

std::string unknown_option_text(const std::string& argument) {
    return argument + ": unknown option; see movie-extract --help";
}

std::string version_text() { return std::string("movie-extract ") + MOVIE_EXTRACT_VERSION; }

std::string refusal_text(const std::string& argument, const char* how_to_run) {
    return argument + ": takes no arguments; put the movie in a folder of its own as " + MOVIE_FILE_NAME +
           " and " + how_to_run;
}
