#include "movie/picture_decoder.h"

#include <algorithm>
#include <cstring>

namespace {

void mark_columns(ColumnSet& columns, std::int64_t first_byte, std::int64_t end_byte) {
    const auto first = static_cast<std::size_t>(first_byte / FRAME_HEIGHT);
    const auto last = static_cast<std::size_t>((end_byte - 1) / FRAME_HEIGHT);
    for (std::size_t x = first; x <= last; ++x) columns[x / 64] |= std::uint64_t{1} << (x % 64);
}

void mark_all_columns(ColumnSet& columns) {
    mark_columns(columns, 0, static_cast<std::int64_t>(FRAME_BYTES));
}

// Stores the `count` bytes of one run at frame position `p`, keeping only
// those that land inside the frame. Returns how many the movie had.
std::size_t store_run(MovieReader& movie, std::int64_t p, std::size_t count, PictureState& state,
                      DeltaOutcome& outcome) {
    const auto run = movie_window(movie, count);
    const std::int64_t end = p + static_cast<std::int64_t>(run.size());
    const std::int64_t lo = std::max<std::int64_t>(p, 0);
    const std::int64_t hi = std::min<std::int64_t>(end, static_cast<std::int64_t>(FRAME_BYTES));
    if (lo < hi) {
        std::memcpy(state.frame.data() + lo, run.data() + (lo - p), static_cast<std::size_t>(hi - lo));
        mark_columns(state.changed_columns, lo, hi);
    }
    if (hi - lo != end - p) outcome.outside_frame = true;
    movie_advance(movie, run.size());
    return run.size();
}

}  // namespace

std::size_t read_chunk_header(MovieReader& movie, ChunkHeader& head) {
    std::uint8_t b[CHUNK_HEADER_BYTES];
    const std::size_t got = movie_read(movie, b, sizeof b);
    head.type = b[0];
    head.length = static_cast<std::int32_t>(std::uint32_t{b[1]} | std::uint32_t{b[2]} << 8 |
                                            std::uint32_t{b[3]} << 16 | std::uint32_t{b[4]} << 24);
    return got;
}

bool apply_palette_chunk(MovieReader& movie, PictureState& state) {
    std::uint8_t payload[PALETTE_PAYLOAD_BYTES];
    if (movie_read(movie, payload, sizeof payload) < sizeof payload) return false;
    for (std::size_t i = 0; i < PALETTE_BYTES; i += 3) {
        state.palette[i] = expand_component(payload[i + 2]);
        state.palette[i + 1] = expand_component(payload[i + 1]);
        state.palette[i + 2] = expand_component(payload[i]);
    }
    state.frame.fill(payload[PALETTE_BYTES]);
    mark_all_columns(state.changed_columns);
    return true;
}

DeltaOutcome apply_delta_chunk(MovieReader& movie, std::int32_t length, PictureState& state) {
    DeltaOutcome outcome;
    std::uint8_t column[2];
    if (movie_read(movie, column, sizeof column) < sizeof column) {
        outcome.cut_short = true;
        return outcome;
    }
    const auto start_column = static_cast<std::int16_t>(column[0] | column[1] << 8);
    std::int64_t p = std::int64_t{start_column} * FRAME_HEIGHT;
    std::int64_t remaining = std::int64_t{length} - 2;
    while (remaining > 0) {
        const auto run_head = movie_window(movie, 2);
        if (run_head.size() < 2) {
            movie_advance(movie, run_head.size());
            outcome.cut_short = true;
            break;
        }
        const std::size_t skip = run_head[0];
        const std::size_t count = run_head[1];
        movie_advance(movie, 2);
        remaining -= 2 + static_cast<std::int64_t>(count);
        p += static_cast<std::int64_t>(skip);
        if (count == 0) continue;
        if (store_run(movie, p, count, state, outcome) < count) {
            outcome.cut_short = true;
            break;
        }
        p += static_cast<std::int64_t>(count);
    }
    return outcome;
}
