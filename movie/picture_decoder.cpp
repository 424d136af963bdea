#include "movie/picture_decoder.h"

#include <algorithm>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER 1
#endif

// The sanitizer sees into library copies but not into inline assembly, so
// checked builds keep to the library.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(UNDER_ADDRESS_SANITIZER)
#include <cpuid.h>
#define HAVE_X86_STRING_MOVES 1
#endif

namespace {

#if HAVE_X86_STRING_MOVES
// GCOVR_EXCL_START: what the processor has
// Processors with "fast short rep movsb" copy a short run of any length in
// one instruction, with none of the length-dependent branches of a library
// copy, which runs of random lengths keep mispredicting.
bool has_fast_short_moves() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (d & (1u << 4)) != 0;
}
const bool FAST_SHORT_MOVES = has_fast_short_moves();
// GCOVR_EXCL_STOP
#endif

// Copies the bytes of one run (at most 255).
inline void copy_run(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) {
    // GCOVR_EXCL_START: one way or the other, as the processor has
#if HAVE_X86_STRING_MOVES
    if (FAST_SHORT_MOVES) {
        asm volatile("rep movsb" : "+D"(dst), "+S"(src), "+c"(count) : : "memory");
        return;
    }
#endif
    std::memcpy(dst, src, count);
    // GCOVR_EXCL_STOP
}

// Stores `count` run bytes at frame position `p`, keeping only those that
// land inside the frame.
inline void store_run(const std::uint8_t* bytes, std::int64_t p, std::size_t count, PictureState& state,
                      DeltaOutcome& outcome) {
    const std::int64_t end = p + static_cast<std::int64_t>(count);
    std::int64_t lo = p, hi = end;
    if (p < 0 || end > static_cast<std::int64_t>(FRAME_BYTES)) {
        if (!outcome.outside_frame && span_empty(outcome.written)) outcome.outside_from_first_run = true;
        outcome.outside_frame = true;
        lo = std::max<std::int64_t>(p, 0);
        hi = std::min<std::int64_t>(end, static_cast<std::int64_t>(FRAME_BYTES));
        if (lo >= hi) return;
    }
    copy_run(state.frame.data() + lo, bytes + (lo - p), static_cast<std::size_t>(hi - lo));
    // Positions only grow within a chunk: the first run stored starts the span.
    if (span_empty(outcome.written)) outcome.written.begin = static_cast<std::size_t>(lo);
    outcome.written.end = static_cast<std::size_t>(hi);
}

}  // namespace

std::size_t read_chunk_header(MovieReader& movie, ChunkHeader& head) {
    std::uint8_t b[CHUNK_HEADER_BYTES] = {};
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
    return true;
}

DeltaOutcome apply_delta_chunk(MovieReader& movie, std::int32_t length, PictureState& state) {
    DeltaOutcome outcome;
    std::uint8_t column[2];
    if (movie_read(movie, column, sizeof column) < sizeof column) {
        outcome.cut_short = true;
        outcome.needed = std::max<std::int64_t>(length, sizeof column);
        return outcome;
    }
    const auto start_column = static_cast<std::int16_t>(column[0] | column[1] << 8);
    std::int64_t p = std::int64_t{start_column} * FRAME_HEIGHT;
    std::int64_t remaining = std::int64_t{length} - 2;
    while (remaining > 0) {
        // Enough for the rest of the chunk, a last run reaching past it included.
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(remaining + 257, MOVIE_BUFFER_BYTES));
        const auto window = movie_window(movie, want);
        const std::uint8_t* at = window.data();
        const std::uint8_t* const end = at + window.size();
        // Runs that lie wholly inside the window.
        while (remaining > 0 && end - at >= 2 && end - at >= 2 + at[1]) {
            const std::size_t skip = at[0];
            const std::size_t count = at[1];
            at += 2;
            remaining -= 2 + static_cast<std::int64_t>(count);
            p += static_cast<std::int64_t>(skip);
            if (count > 0) store_run(at, p, count, state, outcome);
            at += count;
            p += static_cast<std::int64_t>(count);
        }
        if (remaining > 0 && window.size() < want) {
            // The movie ends inside this run: keep the pixels that are there.
            // The chunk needed its length, or up to the end of this run where
            // that reaches past it.
            outcome.needed = length;
            if (end - at >= 2) outcome.needed += std::max<std::int64_t>(0, 2 + at[1] - remaining);
            if (end - at > 2) store_run(at + 2, p + at[0], static_cast<std::size_t>(end - at - 2), state, outcome);
            at = end;
            outcome.cut_short = true;
        }
        movie_advance(movie, static_cast<std::size_t>(at - window.data()));
        if (outcome.cut_short) break;
    }
    return outcome;
}
