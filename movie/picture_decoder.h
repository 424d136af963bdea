// Decoding of chunk heads, palette chunks and picture chunks into the
// current picture. Nothing here writes a file or reports anything: damage is
// handed back to the caller, which knows where in the movie it happened.
#pragma once

#include "movie/movie_format.h"
#include "movie/movie_reader.h"

// Returns how many of the 5 head bytes the movie still had; `head` is only
// meaningful when that is CHUNK_HEADER_BYTES.
std::size_t read_chunk_header(MovieReader& movie, ChunkHeader& head);

// Reads the 769-byte palette payload, whatever the chunk's length says, and
// fills the whole frame (WHOLE_FRAME). When fewer bytes are left the picture
// is left as it was and false returned.
bool apply_palette_chunk(MovieReader& movie, PictureState& state);

struct DeltaOutcome {
    bool cut_short = false;      // the movie ended inside the chunk
    bool outside_frame = false;  // some bytes fell outside the picture and were dropped
    FrameSpan written;           // the frame bytes it wrote; empty when none
    // The first run that carries pixels already falls outside the picture.
    bool outside_from_first_run = false;
    // When cut short: the bytes after the head that the chunk needed, its
    // length or more, where the run it was cut in reaches past that.
    std::int64_t needed = 0;
};

// Reads a picture payload of `length` bytes (a last run may reach beyond it)
// and writes its runs into the frame. Bytes whose position falls outside the
// frame are read and dropped; the pixels read before a cut are kept.
DeltaOutcome apply_delta_chunk(MovieReader& movie, std::int32_t length, PictureState& state);

// 6-bit palette component to 8 bits: the top bits repeat in the low ones, so
// 0 stays 0 and 63 becomes 255.
inline std::uint8_t expand_component(std::uint8_t v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}
