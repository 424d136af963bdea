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

FileError last_error() { return errno != 0 ? errno : EIO; }

int fd_of(const OutputFile& file) { return static_cast<int>(file.handle); }

// Links are never followed, and a named pipe nobody reads fails at once.
constexpr int WRITE_FLAGS = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// A new file under a name that was free; EEXIST when something is there.
int create_new(const char* name) { return open(name, WRITE_FLAGS | O_CREAT | O_EXCL, 0666); }

// Writes all `count` bytes, going on after short writes: at `offset`, or at
// the end when it is negative.
FileError write_fully(int fd, const void* bytes, std::size_t count, std::int64_t offset) {
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

FileError output_create(OutputFile& file, const char* name) {
    file = OutputFile{};
    file.name = name;
    // A free name, as in a new folder, costs this one call.
    int fd = create_new(name);
    if (fd < 0 && errno == EEXIST) {
        // Something is there already: open it as it is and see what it is.
        fd = open(name, WRITE_FLAGS);
        if (fd < 0) return errno == ELOOP ? SYMBOLIC_LINK : last_error();
        file.handle = fd;
        struct stat st {};
        if (fstat(fd, &st) != 0) return last_error();
        if (!S_ISREG(st.st_mode)) return 0;  // a device or a pipe: written to, never removed
        if (st.st_nlink == 1) {
            if (ftruncate(fd, 0) != 0) return last_error();
            file.ours = true;
            return 0;
        }
        // Other names share the file and keep its contents: this name gets a new one.
        output_close(file);
        if (unlink(name) != 0) return last_error();
        fd = create_new(name);
    }
    if (fd < 0) return last_error();
    file.handle = fd;
    file.ours = true;
    return 0;
}

FileError output_write(OutputFile& file, const void* bytes, std::size_t count) {
    return write_fully(fd_of(file), bytes, count, -1);
}

FileError output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset) {
    return write_fully(fd_of(file), bytes, count, offset);
}

std::int64_t output_length(const OutputFile& file) {
    struct stat st {};
    return fstat(fd_of(file), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

FileError output_close(OutputFile& file) {
    if (!output_is_open(file)) return 0;
    // The descriptor is released whatever close reports, so it is never retried.
    const int result = close(fd_of(file));
    file.handle = -1;
    return result == 0 ? 0 : last_error();
}

void output_discard(OutputFile& file) {
    output_close(file);
    if (file.ours) unlink(file.name);
    file.ours = false;
}
