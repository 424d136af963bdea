// Output files on Windows, through the Windows API. Handles are binary by
// nature. Every write says where it goes: at the end of the file, or at an
// offset for the header, so that overwriting the header never moves where
// the next samples go.
#include "output/output_file.h"

#include <cerrno>
#include <windows.h>

namespace {

HANDLE handle_of(const OutputFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

// The errno value of a Windows error, so that the run words it as on every
// other platform.
int errno_of(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_FILE_TOO_LARGE: return EFBIG;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: return EACCES;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_INVALID_HANDLE: return EBADF;
        default: return EIO;
    }
}

int last_error() { return errno_of(GetLastError()); }

// Writes all `count` bytes, going on after short writes: at `offset`, or at
// the end when it is negative.
int write_fully(HANDLE handle, const void* bytes, std::size_t count, std::int64_t offset) {
    const auto* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const DWORD ask = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
        // An offset of all ones in both halves means the end of the file.
        const auto where = offset < 0 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(offset);
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(where);
        position.OffsetHigh = static_cast<DWORD>(where >> 32);
        DWORD done = 0;
        if (!WriteFile(handle, at, ask, &done, &position)) return last_error();
        if (done == 0) return EIO;
        at += done;
        if (offset >= 0) offset += done;
        count -= done;
    }
    return 0;
}

}  // namespace

int output_create(OutputFile& file, const char* name) {
    file = OutputFile{};
    file.name = name;
    const HANDLE handle = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Windows refuses a directory in the way as "access denied"; say what it is.
        const DWORD attributes = GetFileAttributesA(name);
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return EISDIR;
        return errno_of(error);
    }
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    file.opened = true;
    return 0;
}

int output_write(OutputFile& file, const void* bytes, std::size_t count) {
    return write_fully(handle_of(file), bytes, count, -1);
}

int output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset) {
    return write_fully(handle_of(file), bytes, count, offset);
}

std::int64_t output_length(const OutputFile& file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(handle_of(file), &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

int output_close(OutputFile& file) {
    if (!output_is_open(file)) return 0;
    // The handle is released whatever CloseHandle reports, so it is never retried.
    const BOOL closed = CloseHandle(handle_of(file));
    file.handle = -1;
    return closed ? 0 : last_error();
}

void output_discard(OutputFile& file) {
    if (!file.opened) return;
    // Windows removes no open file: close it first.
    output_close(file);
    DeleteFileA(file.name);
    file.opened = false;
}
