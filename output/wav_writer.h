// The sound track as a WAV file: the samples of every audio chunk, in movie
// order, behind a 44-byte header that is written last.
//
//   offset  size  field               value
//   0       4     RIFF tag            "RIFF"
//   4       4     RIFF size           file size - 8
//   8       4     form type           "WAVE"
//   12      4     format chunk tag    "fmt "
//   16      4     format chunk size   16
//   20      2     format tag          1, PCM
//   22      2     channels            1
//   24      4     samples per second  22050
//   28      4     bytes per second    22050
//   32      2     block align         1
//   34      2     bits per sample     8
//   36      4     data chunk tag      "data"
//   40      4     data size           file size - 44
//
// Every number is little-endian. The samples follow with no pad byte, even
// when their count is odd.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "movie/movie_reader.h"

inline constexpr std::size_t WAV_HEADER_BYTES = 44;
inline constexpr std::uint32_t AUDIO_SAMPLE_RATE = 22050;
inline constexpr const char* AUDIO_FILE_NAME = "BOOK.WAV";

struct AudioTrack {
    std::FILE* file = nullptr;
    std::unique_ptr<char[]> buffer;  // the stream's: samples arrive in small pieces
    std::int64_t data_bytes = 0;  // samples written after the header
    int error = 0;                // errno of the first failed write, 0 if none
};

// The most sample bytes whose sizes the header can state exactly.
inline constexpr std::int64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFLL - (WAV_HEADER_BYTES - 8);

// The header as it stands for `data_bytes` samples. Sizes beyond what 32 bits
// hold are set to the largest value.
std::array<std::uint8_t, WAV_HEADER_BYTES> wav_header(std::int64_t data_bytes);

// Creates the file with a zero header in place. Returns the errno value on
// failure, 0 otherwise.
int audio_begin(AudioTrack& audio);

// Copies the next `length` bytes of the movie, or as many as it still has,
// to the end of the track through the movie's own buffer, stopping at the
// first failed write (left in `error`). Returns how many were copied.
std::int64_t audio_copy_chunk(AudioTrack& audio, MovieReader& movie, std::int64_t length);

// Writes the final header and closes the file. Returns the errno value of
// the first failure of any write to the track, 0 when all went through.
int audio_finish(AudioTrack& audio);
