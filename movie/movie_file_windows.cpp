// The movie on Windows, where long is 32 bits, so positions past 2 GiB take
// the 64-bit calls.
#include "movie/movie_file.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "movie/windows_errors.h"

// The C library opens files without FILE_SHARE_DELETE, and Windows then
// refuses to remove any other name of the file while it is open: a
// BOOK.WAV that is another name of the movie could not be replaced.
std::FILE* movie_file_open(const char* name) {
    const HANDLE handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (file == nullptr) _close(fd);  // closes the handle too
    return file;
}

std::size_t movie_file_read(std::FILE* file, void* out, std::size_t count) { return std::fread(out, 1, count, file); }

bool movie_file_seek(std::FILE* file, std::int64_t offset) { return _fseeki64(file, offset, SEEK_SET) == 0; }

std::int64_t movie_file_size(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}
