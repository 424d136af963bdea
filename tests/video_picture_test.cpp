// A picture of the video is its TGA enlarged 5 × 6 into BT.709 YUV 4:2:0 in
// limited range: each luma byte is the colour of the pixel it falls in, and
// each chroma sample that of the pixel its two columns fall in, or the mean
// of the two pixels when they fall in two. The expected values were worked
// out apart from the program, and the colours chosen so that none of them
// lies near a half.

#include <vector>

#include "output/video_picture.h"
#include "test_support.h"

namespace {

struct Colour {
    std::uint8_t red, green, blue;
};

// Two neighbouring pixels 2k and 2k + 1, which share a chroma sample.
struct Pair {
    Colour left, right;
    std::uint8_t y_left, y_right;
    std::uint8_t cb_left, cb_mean, cb_right;
    std::uint8_t cr_left, cr_mean, cr_right;
};

constexpr Colour BLACK{0, 0, 0}, WHITE{255, 255, 255}, RED{255, 0, 0}, GREEN{0, 255, 0}, BLUE{0, 0, 255},
    GREY{128, 128, 128}, ORANGE{255, 128, 0}, VIOLET{120, 40, 200}, TEAL{0, 128, 128}, PALE{200, 220, 180};

TEST(VideoPicture, EachPixelIsABlockOfItsColour) {
    const Pair pairs[] = {
        {RED, GREEN, 63, 173, 102, 72, 42, 240, 133, 26},
        {BLUE, WHITE, 32, 235, 240, 184, 128, 118, 123, 128},
        {BLACK, ORANGE, 16, 141, 128, 93, 59, 128, 158, 189},
        {VIOLET, TEAL, 75, 103, 190, 166, 141, 157, 114, 72},
        {PALE, GREY, 199, 126, 112, 120, 128, 121, 124, 128},
        {TEAL, TEAL, 103, 103, 141, 141, 141, 72, 72, 72},
        {ORANGE, VIOLET, 141, 75, 59, 125, 190, 189, 173, 157},
    };
    constexpr std::size_t PAIRS = std::size(pairs);
    // Pixels 2k and 2k + 1 of row r are pair (r + k) mod PAIRS, each colour
    // at an index of its own, the left's and the right's apart.
    std::vector<std::uint8_t> tga(TGA_FILE_BYTES, 0);
    const auto index = [](std::size_t pair, std::size_t side) { return static_cast<std::uint8_t>(3 + 37 * pair + 11 * side); };
    for (std::size_t p = 0; p < PAIRS; ++p)
        for (std::size_t side = 0; side < 2; ++side) {
            const Colour c = side == 0 ? pairs[p].left : pairs[p].right;
            std::uint8_t* entry = &tga[TGA_HEADER_BYTES + 3 * std::size_t{index(p, side)}];
            entry[0] = c.blue;
            entry[1] = c.green;
            entry[2] = c.red;
        }
    const auto pair_at = [&](std::size_t row, std::size_t x) { return (row + x / 2) % PAIRS; };
    for (std::size_t row = 0; row < FRAME_HEIGHT; ++row)
        for (std::size_t x = 0; x < FRAME_WIDTH; ++x)
            tga[TGA_HEADER_BYTES + PALETTE_BYTES + row * FRAME_WIDTH + x] = index(pair_at(row, x), x % 2);

    std::vector<std::uint8_t> frame(VIDEO_FRAME_BYTES, 0xEE);
    enlarge_picture(tga.data(), frame.data());

    for (std::size_t y = 0; y < VIDEO_HEIGHT; ++y)
        for (std::size_t x = 0; x < VIDEO_WIDTH; ++x) {
            const std::size_t pixel = x / VIDEO_ACROSS;
            const Pair& pair = pairs[pair_at(y / VIDEO_DOWN, pixel)];
            ASSERT_EQ(frame[y * VIDEO_WIDTH + x], pixel % 2 == 0 ? pair.y_left : pair.y_right) << "luma x " << x << " y " << y;
        }
    const std::size_t chroma_width = VIDEO_WIDTH / 2;
    for (std::size_t y = 0; y < VIDEO_HEIGHT / 2; ++y)
        for (std::size_t x = 0; x < chroma_width; ++x) {
            const std::size_t first = 2 * x / VIDEO_ACROSS, second = (2 * x + 1) / VIDEO_ACROSS;
            const Pair& pair = pairs[pair_at(2 * y / VIDEO_DOWN, first)];
            const std::uint8_t cb = first != second ? pair.cb_mean : first % 2 == 0 ? pair.cb_left : pair.cb_right;
            const std::uint8_t cr = first != second ? pair.cr_mean : first % 2 == 0 ? pair.cr_left : pair.cr_right;
            ASSERT_EQ(frame[VIDEO_LUMA_BYTES + y * chroma_width + x], cb) << "Cb x " << x << " y " << y;
            ASSERT_EQ(frame[VIDEO_LUMA_BYTES + VIDEO_CHROMA_BYTES + y * chroma_width + x], cr) << "Cr x " << x << " y " << y;
        }
}

}  // namespace
