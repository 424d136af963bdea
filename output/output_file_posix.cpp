// Output files on POSIX systems.
#include "output/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A 32-bit off_t would make every file past 2 GiB fail: ask the build for
// _FILE_OFFSET_BITS=64.
static_assert(sizeof(off_t) >= 8, "64-bit file offsets are needed");

namespace {

int last_error() { return errno != 0 ? errno : EIO; }

int fd_of(const OutputFile& file) { return static_cast<int>(file.handle); }

// Writes all `count` bytes, going on after short writes: at `offset`, or at
// the end when it is negative.
int write_fully(int fd, const void* bytes, std::size_t count, std::int64_t offset) {
    const auto* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t done = offset < 0 ? write(fd, at, count) : pwrite(fd, at, count, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return done < 0 ? last_error() : EIO;
        at += done;
        if (offset >= 0) offset += done;
        count -= static_cast<std::size_t>(done);
    }
    return 0;
}

}  // namespace

int output_create(OutputFile& file, const char* name) {
    file = OutputFile{};
    file.name = name;
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return last_error();
    file.handle = fd;
    file.opened = true;
    return 0;
}

int output_write(OutputFile& file, const void* bytes, std::size_t count) {
    return write_fully(fd_of(file), bytes, count, -1);
}

int output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset) {
    return write_fully(fd_of(file), bytes, count, offset);
}

std::int64_t output_length(const OutputFile& file) {
    struct stat st {};
    return fstat(fd_of(file), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

int output_close(OutputFile& file) {
    if (!output_is_open(file)) return 0;
    // The descriptor is released whatever close reports, so it is never retried.
    const int result = close(fd_of(file));
    file.handle = -1;
    return result == 0 ? 0 : last_error();
}

void output_discard(OutputFile& file) {
    if (!file.opened) return;
    // Asked only now, so that a file that is written well costs no query.
    // Should the query fail, the file is most likely the one just created.
    struct stat st {};
    const bool pipe =
        (output_is_open(file) ? fstat(fd_of(file), &st) : stat(file.name, &st)) == 0 && S_ISFIFO(st.st_mode);
    output_close(file);
    if (!pipe) unlink(file.name);
    file.opened = false;
}
