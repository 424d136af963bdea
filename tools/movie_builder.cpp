#include "tools/movie_builder.h"

#include <cstdio>

void put_le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void add_chunk(MovieBuilder& movie, std::uint8_t type, std::int32_t length,
               std::span<const std::uint8_t> payload) {
    movie.bytes.push_back(type);
    put_le32(movie.bytes, static_cast<std::uint32_t>(length));
    movie.bytes.insert(movie.bytes.end(), payload.begin(), payload.end());
}

void add_palette(MovieBuilder& movie, const Palette6& palette, std::uint8_t fill) {
    std::vector<std::uint8_t> payload(palette.begin(), palette.end());
    payload.push_back(fill);
    add_chunk(movie, CHUNK_PALETTE, static_cast<std::int32_t>(payload.size()), payload);
}

void add_audio(MovieBuilder& movie, std::span<const std::uint8_t> samples) {
    add_chunk(movie, CHUNK_AUDIO, static_cast<std::int32_t>(samples.size()), samples);
}

void add_repeat(MovieBuilder& movie) { add_chunk(movie, CHUNK_REPEAT, 0); }

void add_delta(MovieBuilder& movie, std::int16_t start_column, const std::vector<PictureRun>& runs) {
    std::vector<std::uint8_t> payload;
    payload.push_back(static_cast<std::uint8_t>(start_column));
    payload.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(start_column) >> 8));
    for (const PictureRun& run : runs) {
        payload.push_back(run.skip);
        payload.push_back(static_cast<std::uint8_t>(run.pixels.size()));
        payload.insert(payload.end(), run.pixels.begin(), run.pixels.end());
    }
    add_chunk(movie, CHUNK_DELTA, static_cast<std::int32_t>(payload.size()), payload);
}

void add_delta_between(MovieBuilder& movie, const FrameBuffer& before, const FrameBuffer& after) {
    std::size_t p = 0;
    while (p < FRAME_BYTES && before[p] == after[p]) ++p;
    if (p == FRAME_BYTES) {
        add_delta(movie, 0, {});
        return;
    }
    const auto start_column = static_cast<std::int16_t>(p / FRAME_HEIGHT);
    std::size_t at = static_cast<std::size_t>(start_column) * FRAME_HEIGHT;  // write position
    std::vector<PictureRun> runs;
    while (true) {
        while (p < FRAME_BYTES && before[p] == after[p]) ++p;
        if (p == FRAME_BYTES) break;
        while (p - at > 255) {  // a gap longer than one skip
            runs.push_back({255, {}});
            at += 255;
        }
        PictureRun run{static_cast<std::uint8_t>(p - at), {}};
        while (p < FRAME_BYTES && before[p] != after[p] && run.pixels.size() < 255) run.pixels.push_back(after[p++]);
        at = p;
        runs.push_back(std::move(run));
    }
    add_delta(movie, start_column, runs);
}

bool write_movie(const MovieBuilder& movie, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(movie.bytes.data(), 1, movie.bytes.size(), file) == movie.bytes.size();
    return std::fclose(file) == 0 && written;
}
