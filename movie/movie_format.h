// The movie file and the picture it builds up.
//
// A movie is a 32-byte header, never interpreted, then chunks back to back
// until the end of the file. Every chunk is a 5-byte head and a payload:
//
//   offset 0  u8    type
//   offset 1  s32   length, little-endian: payload bytes after the head
//
//   type 1  palette  768 bytes, 256 entries of red, green, blue, each 6 bits
//                    (0..63), then 1 byte: the colour the whole picture is
//                    filled with. Exactly 769 bytes are read, whatever the
//                    length says.
//   type 2  audio    `length` bytes of 8-bit mono sound at 22050 per second.
//   type 3  picture  s16 little-endian start column, then runs to the end of
//                    the payload, each: u8 skip, u8 count, count colour
//                    indices. One write position runs on over the whole chunk,
//                    column after column (see FrameBuffer); a skip moves it
//                    forward, a run's bytes are stored from it downwards. A
//                    last run may reach past `length`: its bytes are still
//                    read, and the next head follows them.
//   type 4  repeat   `length` bytes, unread: the picture is shown again.
//   other            `length` bytes, unread.
//
// Every picture chunk and every repeat chunk shows the current picture once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::int64_t MOVIE_HEADER_BYTES = 32;
inline constexpr std::size_t CHUNK_HEADER_BYTES = 5;

inline constexpr int FRAME_WIDTH = 320;
inline constexpr int FRAME_HEIGHT = 200;
inline constexpr std::size_t FRAME_BYTES = std::size_t{FRAME_WIDTH} * FRAME_HEIGHT;
inline constexpr std::size_t PALETTE_ENTRIES = 256;
inline constexpr std::size_t PALETTE_BYTES = PALETTE_ENTRIES * 3;
inline constexpr std::size_t PALETTE_PAYLOAD_BYTES = PALETTE_BYTES + 1;

enum ChunkType : std::uint8_t {
    CHUNK_PALETTE = 1,
    CHUNK_AUDIO = 2,
    CHUNK_DELTA = 3,
    CHUNK_REPEAT = 4,
};

struct ChunkHeader {
    std::uint8_t type = 0;
    std::int32_t length = 0;
};

// After a palette chunk each entry holds blue, green, red with 8-bit
// components: the order and depth of a TGA colour map.
using Palette = std::array<std::uint8_t, PALETTE_BYTES>;

// Colour indices stored column by column: pixel (x, y), x from the left and
// y from the top, is byte x * FRAME_HEIGHT + y.
using FrameBuffer = std::array<std::uint8_t, FRAME_BYTES>;

// The current picture. All zero at the start of a run.
struct PictureState {
    Palette palette{};
    FrameBuffer frame{};
};

// Frame bytes [begin, end): what a chunk wrote into the picture. A picture
// chunk only moves forward through the frame, so one span covers it.
struct FrameSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

inline constexpr FrameSpan WHOLE_FRAME{0, FRAME_BYTES};

inline bool span_empty(const FrameSpan& span) { return span.begin >= span.end; }

// The smallest span that covers both.
inline FrameSpan span_union(const FrameSpan& a, const FrameSpan& b) {
    if (span_empty(a)) return b;
    if (span_empty(b)) return a;
    return {a.begin < b.begin ? a.begin : b.begin, a.end > b.end ? a.end : b.end};
}
