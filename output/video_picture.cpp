#include "output/video_picture.h"

#include <array>
#include <cmath>
#include <cstring>

namespace {

// Each chroma value as a whole number of 2^-24ths: a float of 16 to 240,
// as every Cb and Cr is, is one exactly. The mean of two such, rounded
// halves up, is then (a + b + 2^24) >> 25, and one value rounded is the
// mean of it with itself.
constexpr int FRACTION_BITS = 24;
using Fixed = std::uint64_t;

struct Colours {
    std::array<std::uint8_t, PALETTE_ENTRIES> y{};
    std::array<Fixed, PALETTE_ENTRIES> cb{}, cr{};
};

Fixed fixed(float value) {
    return static_cast<Fixed>(std::ldexp(double{value}, FRACTION_BITS));
}

Colours colours_of(const std::uint8_t* tga) {
    Colours colours;
    const std::uint8_t* map = tga + TGA_HEADER_BYTES;  // blue, green, red
    for (std::size_t i = 0; i < PALETTE_ENTRIES; i++) {
        double blue = map[3 * i], green = map[3 * i + 1], red = map[3 * i + 2];
        double light = 0.2126 * red + 0.7152 * green + 0.0722 * blue;
        double y = static_cast<float>(16 + (219.0 / 255) * light);
        double whole = std::floor(y);
        colours.y[i] = static_cast<std::uint8_t>(y - whole >= 0.5 ? whole + 1 : whole);
        colours.cb[i] = fixed(static_cast<float>(128 + (224.0 / 255) * ((blue - light) / 1.8556)));
        colours.cr[i] = fixed(static_cast<float>(128 + (224.0 / 255) * ((red - light) / 1.5748)));
    }
    return colours;
}

std::uint8_t mean(Fixed a, Fixed b) {
    return static_cast<std::uint8_t>((a + b + (Fixed{1} << FRACTION_BITS)) >> (FRACTION_BITS + 1));
}

// One chroma row of a picture row: two pixels a, b are five samples,
// a a m b b, where m covers a column of each.
void chroma_row(const std::uint8_t* pixels, const std::array<Fixed, PALETTE_ENTRIES>& values, std::uint8_t* out) {
    for (int x = 0; x < FRAME_WIDTH; x += 2, out += VIDEO_ACROSS) {
        Fixed a = values[pixels[x]], b = values[pixels[x + 1]];
        out[0] = out[1] = mean(a, a);
        out[2] = mean(a, b);
        out[3] = out[4] = mean(b, b);
    }
}

}  // namespace

void enlarge_picture(const std::uint8_t* tga, std::uint8_t* frame) {
    const Colours colours = colours_of(tga);
    const std::uint8_t* pixels = tga + TGA_HEADER_BYTES + PALETTE_BYTES;
    std::uint8_t* cb = frame + VIDEO_LUMA_BYTES;
    std::uint8_t* cr = cb + VIDEO_CHROMA_BYTES;
    constexpr std::size_t CHROMA_WIDTH = VIDEO_WIDTH / 2;
    constexpr int CHROMA_DOWN = VIDEO_DOWN / 2;
    for (int row = 0; row < FRAME_HEIGHT; row++, pixels += FRAME_WIDTH) {
        std::uint8_t* luma = frame + std::size_t(row) * VIDEO_DOWN * VIDEO_WIDTH;
        for (int x = 0; x < FRAME_WIDTH; x++) {
            std::uint8_t value = colours.y[pixels[x]];
            for (int i = 0; i < VIDEO_ACROSS; i++) luma[VIDEO_ACROSS * x + i] = value;
        }
        for (int copy = 1; copy < VIDEO_DOWN; copy++) std::memcpy(luma + copy * VIDEO_WIDTH, luma, VIDEO_WIDTH);
        std::uint8_t* cb_row = cb + std::size_t(row) * CHROMA_DOWN * CHROMA_WIDTH;
        std::uint8_t* cr_row = cr + std::size_t(row) * CHROMA_DOWN * CHROMA_WIDTH;
        chroma_row(pixels, colours.cb, cb_row);
        chroma_row(pixels, colours.cr, cr_row);
        for (int copy = 1; copy < CHROMA_DOWN; copy++) {
            std::memcpy(cb_row + copy * CHROMA_WIDTH, cb_row, CHROMA_WIDTH);
            std::memcpy(cr_row + copy * CHROMA_WIDTH, cr_row, CHROMA_WIDTH);
        }
    }
}
