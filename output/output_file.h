// Output files, written with the system's own calls. Each is created by this
// run, written in whole, checked when it is closed, and removed again when it
// could not be completed. Every platform has a file of its own that
// implements these (output_file_posix.cpp, output_file_windows.cpp), with the
// same promises.
//
// What is already under an output name is the user's, and is treated so:
// - a regular file is rewritten; one that has other names too (hard links)
//   is replaced by a new file under this name, so the others keep their
//   contents, the movie's own among them. A file this run may not write is
//   an error, and is not removed to get round that;
// - a symbolic link is not followed: the output fails (SYMBOLIC_LINK), and
//   neither the link nor what it points to changes;
// - a device or a named pipe is written to, as the user asked, and never
//   removed; a named pipe nobody reads fails at once instead of blocking the
//   run; a directory fails.
//
// Failures come back as errno values, so that std::strerror words them on
// every platform, or as the program's own refusal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "movie/file_error.h"

struct OutputFile {
    std::intptr_t handle = -1;  // the system's descriptor or handle; -1 when closed
    const char* name = nullptr;
    // The name holds a regular file that this run created or rewrote: the
    // only kind of file that is removed again when it cannot be completed.
    bool ours = false;
};

// Creates `name` for writing, in binary, as above. Returns 0 or why not;
// after a failure the file may still be open, so pass it to output_discard.
FileError output_create(OutputFile& file, const char* name);

// Writes all `count` bytes at the end, going on after short writes. Returns
// 0 or the errno value; the bytes that went through stay in the file.
FileError output_write(OutputFile& file, const void* bytes, std::size_t count);

// Overwrites `count` bytes at `offset` without moving the end, going on after
// short writes. Later writes still go to the end.
FileError output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset);

inline bool output_is_open(const OutputFile& file) { return file.handle != -1; }

// The file's length now, or -1.
std::int64_t output_length(const OutputFile& file);

// Closes the file; returns 0 or the errno value of the close.
FileError output_close(OutputFile& file);

// Closes the file if it is still open and removes it if it is `ours`.
void output_discard(OutputFile& file);
