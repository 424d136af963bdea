#include "output/wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "output/little_endian.h"
#include "output/output_file.h"

namespace {

constexpr std::size_t WAV_BUFFER_BYTES = std::size_t{1} << 18;

std::uint32_t clamp32(std::int64_t value) {
    return static_cast<std::uint32_t>(std::min<std::int64_t>(value, UINT32_MAX));
}

void note_failure(AudioTrack& audio) {
    if (audio.error == 0) audio.error = errno != 0 ? errno : EIO;
}

bool put(AudioTrack& audio, const void* bytes, std::size_t count) {
    errno = 0;
    if (std::fwrite(bytes, 1, count, audio.file) == count) return true;
    note_failure(audio);
    return false;
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

int audio_begin(AudioTrack& audio) {
    audio = AudioTrack{};
    audio.file = create_output(AUDIO_FILE_NAME);
    if (audio.file == nullptr) return errno != 0 ? errno : EIO;
    audio.buffer = std::make_unique<char[]>(WAV_BUFFER_BYTES);
    std::setvbuf(audio.file, audio.buffer.get(), _IOFBF, WAV_BUFFER_BYTES);
    const std::uint8_t placeholder[WAV_HEADER_BYTES] = {};
    put(audio, placeholder, sizeof placeholder);
    return 0;
}

std::int64_t audio_copy_chunk(AudioTrack& audio, MovieReader& movie, std::int64_t length) {
    std::int64_t copied = 0;
    while (copied < length) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - copied, MOVIE_BUFFER_BYTES));
        const auto piece = movie_window(movie, want);
        // A failed write ends the copy; audio_finish reports it.
        if (piece.empty() || audio.error != 0 || !put(audio, piece.data(), piece.size())) break;
        audio.data_bytes += static_cast<std::int64_t>(piece.size());
        movie_advance(movie, piece.size());
        copied += static_cast<std::int64_t>(piece.size());
    }
    return copied;
}

int audio_finish(AudioTrack& audio) {
    if (audio.file == nullptr) return audio.error;
    const auto header = wav_header(audio.data_bytes);
    errno = 0;
    if (std::fflush(audio.file) != 0) note_failure(audio);
    if (audio.error == 0) {
        if (std::fseek(audio.file, 0, SEEK_SET) != 0) note_failure(audio);
        else if (put(audio, header.data(), header.size()) && std::fflush(audio.file) != 0) note_failure(audio);
    }
    errno = 0;
    if (std::fclose(audio.file) != 0) note_failure(audio);
    audio.file = nullptr;
    return audio.error;
}
