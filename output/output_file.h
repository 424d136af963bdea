// Output files, written with the system's own calls. Each is created by this
// run (or cut to nothing), written in whole, checked when it is closed, and
// removed again when it could not be completed. Every platform has a file of
// its own that implements these (output_file_posix.cpp,
// output_file_windows.cpp), with the same promises.
//
// Failures come back as errno values, so that std::strerror words them on
// every platform.
#pragma once

#include <cstddef>
#include <cstdint>

struct OutputFile {
    std::intptr_t handle = -1;  // the system's descriptor or handle; -1 when closed
    const char* name = nullptr;
    // This run opened a file under the name. Only such a name may be removed
    // again, and not if it is a named pipe; a directory, or a pipe nobody
    // reads, never opens.
    bool opened = false;
};

// Creates `name`, or cuts an existing file to nothing, for writing, in binary.
// A named pipe nobody reads fails at once instead of blocking the run. Returns 0 or
// the errno value; after a failure the file may still be open, so pass it to
// output_discard.
int output_create(OutputFile& file, const char* name);

// Writes all `count` bytes at the end, going on after short writes. Returns
// 0 or the errno value; the bytes that went through stay in the file.
int output_write(OutputFile& file, const void* bytes, std::size_t count);

// Overwrites `count` bytes at `offset` without moving the end, going on after
// short writes. Later writes still go to the end.
int output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset);

inline bool output_is_open(const OutputFile& file) { return file.handle != -1; }

// The file's length now, or -1.
std::int64_t output_length(const OutputFile& file);

// Closes the file; returns 0 or the errno value of the close.
int output_close(OutputFile& file);

// Closes the file if it is still open and removes it if it is this run's.
void output_discard(OutputFile& file);
