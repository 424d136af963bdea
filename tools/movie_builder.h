// Builds movies in memory: for the tests, the fuzzer's seeds, the demo and
// the benchmark. Chunks are appended as they are given, well formed or not.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "movie/movie_format.h"

struct MovieBuilder {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(MOVIE_HEADER_BYTES, 0);
};

struct PictureRun {
    std::uint8_t skip = 0;
    std::vector<std::uint8_t> pixels;  // at most 255
};

// 256 entries of red, green, blue, 6 bits each.
using Palette6 = std::array<std::uint8_t, PALETTE_BYTES>;

void put_le32(std::vector<std::uint8_t>& out, std::uint32_t value);

// A head with the given length, then the payload as given.
void add_chunk(MovieBuilder& movie, std::uint8_t type, std::int32_t length,
               std::span<const std::uint8_t> payload = {});
void add_palette(MovieBuilder& movie, const Palette6& palette, std::uint8_t fill);
void add_audio(MovieBuilder& movie, std::span<const std::uint8_t> samples);
void add_repeat(MovieBuilder& movie);
void add_delta(MovieBuilder& movie, std::int16_t start_column, const std::vector<PictureRun>& runs);

// The picture chunk that turns `before` into `after`; a chunk of length 2
// when nothing changed.
void add_delta_between(MovieBuilder& movie, const FrameBuffer& before, const FrameBuffer& after);

bool write_movie(const MovieBuilder& movie, const std::string& path);
