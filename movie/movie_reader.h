// Bounded, buffered, forward reading of the movie file.
//
// Every read is limited by what is left of the movie, so a length field can
// never make the program read, seek or allocate past the end. Positions are
// 64-bit: a movie may be larger than 2 GiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "movie/file_error.h"

inline constexpr std::size_t MOVIE_BUFFER_BYTES = std::size_t{1} << 18;

struct MovieReader {
    std::FILE* file = nullptr;
    std::string name;            // as found in the directory, for messages
    std::int64_t position = 0;   // offset of the next byte to be read
    std::int64_t size = 0;       // lowered if the file turns out shorter
    FileError error = 0;         // a failed read or seek, 0 if none
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t begin = 0;       // buffer[begin, end) holds the bytes at position
    std::size_t end = 0;
};

// Returns 0, or why the movie could not be opened: NOT_A_REGULAR_FILE for a
// device, a named pipe or a socket.
FileError movie_open(MovieReader& movie, const std::string& name);
void movie_close(MovieReader& movie);

inline std::int64_t movie_left(const MovieReader& movie) {
    return movie.size - movie.position;
}

// Makes up to `want` bytes at the read position visible without consuming
// them (at most MOVIE_BUFFER_BYTES). Fewer come back only at the end of the
// movie or after a read error.
std::span<const std::uint8_t> movie_refill(MovieReader& movie, std::size_t want);

inline std::span<const std::uint8_t> movie_window(MovieReader& movie, std::size_t want) {
    if (movie.end - movie.begin >= want) return {movie.buffer.get() + movie.begin, want};
    return movie_refill(movie, want);
}

inline void movie_advance(MovieReader& movie, std::size_t count) {
    movie.begin += count;
    movie.position += static_cast<std::int64_t>(count);
}

// Copies up to `count` bytes; returns how many the movie still had.
std::size_t movie_read(MovieReader& movie, std::uint8_t* out, std::size_t count);

// Passes over up to `count` bytes; returns how many the movie still had.
std::int64_t movie_skip(MovieReader& movie, std::int64_t count);
