// The movie's stream, opened so that the outputs can replace other names of
// the same file, and positioned with 64-bit offsets, so that a movie past
// 2 GiB reads the same on every platform. One file a platform implements
// these (movie_file_posix.cpp, movie_file_windows.cpp, movie_file_web.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

// Opens the movie for reading, in binary; nullptr, with errno set, on failure.
// While it is open, another name of the same file (a hard link where an
// output goes) can still be removed.
std::FILE* movie_file_open(const char* name);

// Moves to `offset` bytes from the start. Returns false, with errno set, on failure.
bool movie_file_seek(std::FILE* file, std::int64_t offset);

// The size of the file, measured by moving to its end; -1, with errno set, on failure.
std::int64_t movie_file_size(std::FILE* file);

// Reads up to `count` bytes at the position, as std::fread does: fewer only
// at the end of the file (std::feof) or after a failure, with errno set.
std::size_t movie_file_read(std::FILE* file, void* out, std::size_t count);
