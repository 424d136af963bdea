// One TGA written by the converter as a picture of the video the page
// makes: each pixel enlarged to a block 5 wide and 6 high, 1600 × 1200 in
// all (4:3, as on the screens of its time), in YUV 4:2:0 (I420: the luma
// plane, then Cb, then Cr, each row after row) with the BT.709 matrix in
// limited range, which the video is tagged with.
//
// A colour map entry (red R, green G, blue B, 0..255) gives
//   L  = 0.2126 R + 0.7152 G + 0.0722 B
//   Y  = 16 + 219/255 L
//   Cb = 128 + 224/255 (B - L) / 1.8556
//   Cr = 128 + 224/255 (R - L) / 1.5748
// each kept as a float, and each luma byte is Y rounded (halves up). A
// chroma sample covers 2 × 2 luma bytes: two columns, which may fall in two
// pixels of the picture, and two rows of one. It is the pixel's Cb or Cr
// rounded, or with two pixels, their mean rounded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "movie/movie_format.h"
#include "output/tga_writer.h"

inline constexpr int VIDEO_ACROSS = 5;
inline constexpr int VIDEO_DOWN = 6;
inline constexpr std::size_t VIDEO_WIDTH = std::size_t{FRAME_WIDTH} * VIDEO_ACROSS;
inline constexpr std::size_t VIDEO_HEIGHT = std::size_t{FRAME_HEIGHT} * VIDEO_DOWN;
inline constexpr std::size_t VIDEO_LUMA_BYTES = VIDEO_WIDTH * VIDEO_HEIGHT;
inline constexpr std::size_t VIDEO_CHROMA_BYTES = VIDEO_LUMA_BYTES / 4;
inline constexpr std::size_t VIDEO_FRAME_BYTES = VIDEO_LUMA_BYTES + 2 * VIDEO_CHROMA_BYTES;

// Writes every byte of `frame` (VIDEO_FRAME_BYTES) from `tga`
// (TGA_FILE_BYTES, as tga_writer.h lays it out).
void enlarge_picture(const std::uint8_t* tga, std::uint8_t* frame);
