// Output files on Windows, through the Windows API. Handles are binary by
// nature. Every write says where it goes: at the end of the file, or at an
// offset for the header, so that overwriting the header never moves where
// the next samples go.
#include "output/output_file.h"

#include <cerrno>
#include <string>
#include <windows.h>

#include "movie/windows_errors.h"

namespace {

HANDLE handle_of(const OutputFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

FileError last_error() { return errno_of(GetLastError()); }

// Writes all `count` bytes, going on after short writes: at `offset`, or at
// the end when it is negative.
FileError write_fully(HANDLE handle, const void* bytes, std::size_t count, std::int64_t offset) {
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

// FileDispositionInfoEx, which headers for older Windows leave out.
constexpr auto DISPOSITION_INFO_EX = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// Removes the name, though its file may stay open elsewhere: the movie may
// be that file, under another name. Windows keeps a removed name until the
// last handle to its file is closed (Windows 10 and later can drop it at
// once, but not every system and file system can), so the name is first
// moved aside, to a name of this process's own, and removed there.
// Returns false, with the error left for GetLastError, on failure.
bool remove_name(const char* name) {
    const std::string aside = std::string(name) + ".movie-extract-" + std::to_string(GetCurrentProcessId());
    if (!MoveFileExA(name, aside.c_str(), 0)) return false;
    const HANDLE handle = CreateFileA(aside.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    FILE_DISPOSITION_INFO_EX now{};
    now.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
    FILE_DISPOSITION_INFO later{};
    later.DeleteFile = TRUE;
    const bool removed = handle != INVALID_HANDLE_VALUE &&
                         (SetFileInformationByHandle(handle, DISPOSITION_INFO_EX, &now, sizeof now) ||
                          SetFileInformationByHandle(handle, FileDispositionInfo, &later, sizeof later));
    const DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (!removed) MoveFileExA(aside.c_str(), name, 0);  // the name back as it was
    SetLastError(error);
    return removed;
}

}  // namespace

FileError output_create(OutputFile& file, const char* name) {
    file = OutputFile{};
    file.name = name;
    // Reparse points (symbolic links, junctions) are opened as themselves,
    // never followed.
    constexpr DWORD SHARE = FILE_SHARE_READ | FILE_SHARE_DELETE;
    constexpr DWORD FLAGS = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    // A free name, as in a new folder, costs this one call.
    HANDLE handle = CreateFileA(name, GENERIC_WRITE, SHARE, nullptr, CREATE_NEW, FLAGS, nullptr);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        // Something is there already: see what it is.
        const DWORD attributes = GetFileAttributesA(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return SYMBOLIC_LINK;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
        if (error == ERROR_ACCESS_DENIED) return EACCES;
        handle = CreateFileA(name, GENERIC_WRITE, SHARE, nullptr, OPEN_EXISTING, FLAGS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return last_error();
        file.handle = reinterpret_cast<std::intptr_t>(handle);
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(handle) != FILE_TYPE_DISK) return 0;  // a device or a pipe: never removed
        if (!GetFileInformationByHandle(handle, &info)) return last_error();
        if (info.nNumberOfLinks <= 1) {
            if (!SetEndOfFile(handle)) return last_error();  // at its start: cut to nothing
            file.ours = true;
            return 0;
        }
        // Other names share the file and keep its contents: this name gets a new one.
        output_close(file);
        if (!remove_name(name)) return last_error();
        handle = CreateFileA(name, GENERIC_WRITE, SHARE, nullptr, CREATE_NEW, FLAGS, nullptr);
        error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    if (handle == INVALID_HANDLE_VALUE) return errno_of(error);
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    file.ours = true;
    return 0;
}

FileError output_write(OutputFile& file, const void* bytes, std::size_t count) {
    return write_fully(handle_of(file), bytes, count, -1);
}

FileError output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset) {
    return write_fully(handle_of(file), bytes, count, offset);
}

std::int64_t output_length(const OutputFile& file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(handle_of(file), &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

FileError output_close(OutputFile& file) {
    if (!output_is_open(file)) return 0;
    // The handle is released whatever CloseHandle reports, so it is never retried.
    const BOOL closed = CloseHandle(handle_of(file));
    file.handle = -1;
    return closed ? 0 : last_error();
}

void output_discard(OutputFile& file) {
    // Windows removes no open file: close it first.
    output_close(file);
    if (file.ours) DeleteFileA(file.name);
    file.ours = false;
}
