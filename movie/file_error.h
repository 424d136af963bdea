// Why a file could not be used: an errno value from the system, or one of
// the program's own refusals, which no system call makes. Refusals are
// negative, so they never meet an errno value, and never go into errno.
#pragma once

#include <cstring>

using FileError = int;  // 0 when there is none

enum FileRefusal : FileError {
    NOT_A_REGULAR_FILE = -1,  // the movie is a device, a named pipe or a socket
    SYMBOLIC_LINK = -2,       // an output name is a symbolic link, which is not followed
};

// The reason in words, for the message that names the file.
inline const char* file_error_text(FileError error) {
    switch (error) {
        case NOT_A_REGULAR_FILE: return "not a regular file";
        case SYMBOLIC_LINK: return "a symbolic link, which is not followed";
        default: return std::strerror(error);
    }
}
