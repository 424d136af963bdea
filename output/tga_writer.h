// One picture as an uncompressed, colour-mapped TGA file.
//
// The 18-byte header, little-endian:
//
//   offset  size  field                    value
//   0       1     image ID length          0
//   1       1     colour map type          1: a colour map follows the header
//   2       1     image type               1: uncompressed, colour-mapped
//   3       2     first colour map entry   0
//   5       2     colour map length        256
//   7       1     colour map entry size    24 bits (blue, green, red)
//   8       2     x origin                 0
//   10      2     y origin                 0
//   12      2     width                    320
//   14      2     height                   200
//   16      1     pixel depth              8 bits
//   17      1     image descriptor         0x20: rows run from the top
//
// then the 768-byte palette as stored, then 64000 colour indices row by row
// from the top, each row left to right. Nothing follows.
#pragma once

#include <array>
#include <cstdint>

#include "movie/file_error.h"
#include "movie/movie_format.h"

inline constexpr std::size_t TGA_HEADER_BYTES = 18;
inline constexpr std::size_t TGA_FILE_BYTES = TGA_HEADER_BYTES + PALETTE_BYTES + FRAME_BYTES;

struct FrameWriter {
    std::int64_t frame_counter = 0;  // number of the next image
    // The whole file as it will be written. Its rows hold the picture `shown`
    // as it was at the last image, so only the columns changed since then
    // are turned again. Another picture is turned whole.
    // The file starts IMAGE_LEAD bytes in, so that its rows start on 64-byte
    // boundaries and the turned rows are stored without splitting cache lines.
    alignas(64) std::array<std::uint8_t, TGA_FILE_BYTES + 64> storage{};
    const PictureState* shown = nullptr;
    FrameSpan changed = WHOLE_FRAME;  // written into `shown` since the last image
};

inline constexpr std::size_t IMAGE_LEAD = 64 - (TGA_HEADER_BYTES + PALETTE_BYTES) % 64;

inline std::uint8_t* frame_writer_image(FrameWriter& writer) { return writer.storage.data() + IMAGE_LEAD; }

void frame_writer_init(FrameWriter& writer);

// "%08d.tga" of the given number.
struct ImageName {
    char text[32];
};
ImageName frame_image_name(std::int64_t number);

// How many images follow one another from number `first` on, up to the first
// number that is not there: what an earlier run left after this one's last.
std::int64_t count_images_from(std::int64_t first);

// The decoder wrote `span` of the picture since the last image.
inline void frame_writer_note_change(FrameWriter& writer, const FrameSpan& span) {
    writer.changed = span_union(writer.changed, span);
}

// Writes the picture as the next numbered image and counts the number up. On
// failure returns why, leaves no partly written file behind and keeps the
// number.
FileError write_frame_image(FrameWriter& writer, const PictureState& state);
