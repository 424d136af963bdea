// The sound track as a WAV file: the samples of every audio chunk, in movie
// order, behind a 44-byte header. The file is a valid WAV at every moment:
// it starts with the header of no samples, and each second of sound that
// reaches the file is then stated in the header, which is overwritten in
// place. The final header states every sample.
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
#include <memory>

#include "movie/movie_reader.h"
#include "output/output_file.h"

inline constexpr std::size_t WAV_HEADER_BYTES = 44;
inline constexpr std::uint32_t AUDIO_SAMPLE_RATE = 22050;
inline constexpr const char* AUDIO_FILE_NAME = "BOOK.WAV";

// Samples are written, and the header brought up to date, once a second of
// sound: a kill loses at most that much from what the header states.
inline constexpr std::size_t AUDIO_STEP_BYTES = AUDIO_SAMPLE_RATE;

struct AudioTrack {
    OutputFile file;
    std::unique_ptr<std::uint8_t[]> buffer;  // AUDIO_STEP_BYTES not yet written
    std::size_t buffered = 0;
    std::int64_t written_bytes = 0;  // samples that reached the file
    FileError error = 0;         // the first failed write, 0 if none
    FileError header_error = 0;  // a final header that could not be written
};

// The samples taken in so far, those still buffered included.
inline std::int64_t audio_samples(const AudioTrack& audio) {
    return audio.written_bytes + static_cast<std::int64_t>(audio.buffered);
}

// The most sample bytes whose sizes the header can state exactly: beyond
// them the RIFF size (data size + 36) no longer fits 32 bits, and beyond
// 0xFFFFFFFF the data size does not either.
inline constexpr std::int64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFLL - (WAV_HEADER_BYTES - 8);

// The header as it stands for `data_bytes` samples. Sizes beyond what 32 bits
// hold are set to the largest value.
std::array<std::uint8_t, WAV_HEADER_BYTES> wav_header(std::int64_t data_bytes);

// Which of the header's sizes `data_bytes` samples set to the largest value,
// in words for the run's notice: "its RIFF size is", "its RIFF and data sizes
// are"; nullptr when both are exact.
const char* wav_capped_sizes(std::int64_t data_bytes);

// Creates the file and writes the header of no samples. Returns why not on
// failure, after removing a file it made, 0 otherwise.
FileError audio_begin(AudioTrack& audio);

// Copies the next `length` bytes of the movie, or as many as it still has,
// to the end of the track through the movie's own buffer, stopping at the
// first failed write (left in `error`). Returns how many were copied.
std::int64_t audio_copy_chunk(AudioTrack& audio, MovieReader& movie, std::int64_t length);

// Writes what is buffered and the final header, and closes the file. After
// a failed write the header states exactly the samples that reached the
// file. Returns the errno value of the first failure of any write to the
// track, 0 when all went through; a final header that could not be written
// is also left in `header_error`.
FileError audio_finish(AudioTrack& audio);
