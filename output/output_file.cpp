#include "output/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::FILE* create_output(const char* name) {
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return file;
}
