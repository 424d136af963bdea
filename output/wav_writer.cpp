#include "output/wav_writer.h"

#include <algorithm>
#include <cstring>

#include "output/little_endian.h"

namespace {

std::uint32_t clamp32(std::int64_t value) {
    return static_cast<std::uint32_t>(std::min<std::int64_t>(value, UINT32_MAX));
}

void note_failure(AudioTrack& audio, FileError error) {
    if (audio.error == 0) audio.error = error;
}

// States the samples that have reached the file; the header is overwritten
// in place, which needs no new room on the disk.
FileError state_written(AudioTrack& audio) {
    const auto header = wav_header(audio.written_bytes);
    return output_write_at(audio.file, header.data(), header.size(), 0);
}

// Writes the buffered samples, then states them in the header. A failure is
// left in `error`.
void write_step(AudioTrack& audio) {
    FileError error = output_write(audio.file, audio.buffer.get(), audio.buffered);
    if (error == 0) {
        audio.written_bytes += static_cast<std::int64_t>(audio.buffered);
        audio.buffered = 0;
        error = state_written(audio);
    }
    if (error != 0) note_failure(audio, error);
}

}  // namespace

std::array<std::uint8_t, WAV_HEADER_BYTES> wav_header(std::int64_t data_bytes) {
    std::array<std::uint8_t, WAV_HEADER_BYTES> h{};
    std::memcpy(&h[0], "RIFF", 4);
    put_le32(&h[4], clamp32(data_bytes + static_cast<std::int64_t>(WAV_HEADER_BYTES) - 8));
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    put_le32(&h[16], 16);
    put_le16(&h[20], 1);  // PCM
    put_le16(&h[22], 1);  // mono
    put_le32(&h[24], AUDIO_SAMPLE_RATE);
    put_le32(&h[28], AUDIO_SAMPLE_RATE);  // one byte a sample
    put_le16(&h[32], 1);
    put_le16(&h[34], 8);
    std::memcpy(&h[36], "data", 4);
    put_le32(&h[40], clamp32(data_bytes));
    return h;
}

const char* wav_capped_sizes(std::int64_t data_bytes) {
    if (data_bytes > 0xFFFFFFFFLL) return "its RIFF and data sizes are";
    if (data_bytes > WAV_MAX_DATA_BYTES) return "its RIFF size is";
    return nullptr;
}

FileError audio_begin(AudioTrack& audio) {
    audio = AudioTrack{};
    FileError error = output_create(audio.file, AUDIO_FILE_NAME);
    if (error == 0) {
        const auto header = wav_header(0);
        error = output_write(audio.file, header.data(), header.size());
    }
    if (error != 0) {
        output_discard(audio.file);
        return error;
    }
    audio.buffer = std::make_unique<std::uint8_t[]>(AUDIO_STEP_BYTES);
    return 0;
}

std::int64_t audio_copy_chunk(AudioTrack& audio, MovieReader& movie, std::int64_t length) {
    std::int64_t copied = 0;
    while (copied < length && audio.error == 0) {
        const std::size_t room = AUDIO_STEP_BYTES - audio.buffered;
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - copied, static_cast<std::int64_t>(room)));
        const auto piece = movie_window(movie, want);
        if (piece.empty()) break;
        std::memcpy(audio.buffer.get() + audio.buffered, piece.data(), piece.size());
        audio.buffered += piece.size();
        movie_advance(movie, piece.size());
        copied += static_cast<std::int64_t>(piece.size());
        // A failed write ends the copy; audio_finish reports it.
        if (audio.buffered == AUDIO_STEP_BYTES) write_step(audio);
    }
    return copied;
}

FileError audio_finish(AudioTrack& audio) {
    if (!output_is_open(audio.file)) return audio.error;
    if (audio.error == 0 && audio.buffered > 0) write_step(audio);
    if (audio.error != 0) {
        // State what did reach the file, however much of a write went through.
        const std::int64_t length = output_length(audio.file);
        if (length >= static_cast<std::int64_t>(WAV_HEADER_BYTES))
            audio.written_bytes = length - static_cast<std::int64_t>(WAV_HEADER_BYTES);
        audio.header_error = state_written(audio);
    }
    if (const FileError error = output_close(audio.file); error != 0) note_failure(audio, error);
    audio.buffer.reset();
    return audio.error;
}
