#include "output/tga_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t PIXELS_AT = TGA_HEADER_BYTES + PALETTE_BYTES;
constexpr int BLOCK = 16;  // columns turned together

void put_le16(std::uint8_t* at, unsigned value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

bool block_changed(const ColumnSet& columns, int x0) {
    const std::uint64_t bits = columns[static_cast<std::size_t>(x0) / 64] >> (x0 % 64);
    return (bits & ((std::uint64_t{1} << BLOCK) - 1)) != 0;
}

#if defined(__SSE2__)
// A 16 x 16 byte square: 16 columns of `src` (stride FRAME_HEIGHT) become 16
// rows of `dst` (stride FRAME_WIDTH), by interleaving ever wider units.
void turn_square(const std::uint8_t* src, std::uint8_t* dst) {
    __m128i a[16], b[16];
    for (int i = 0; i < 16; ++i)
        a[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * FRAME_HEIGHT));
    for (int i = 0; i < 8; ++i) {
        b[i] = _mm_unpacklo_epi8(a[2 * i], a[2 * i + 1]);
        b[i + 8] = _mm_unpackhi_epi8(a[2 * i], a[2 * i + 1]);
    }
    for (int h = 0; h < 16; h += 8)
        for (int k = 0; k < 4; ++k) {
            a[h + k] = _mm_unpacklo_epi16(b[h + 2 * k], b[h + 2 * k + 1]);
            a[h + k + 4] = _mm_unpackhi_epi16(b[h + 2 * k], b[h + 2 * k + 1]);
        }
    for (int g = 0; g < 16; g += 4)
        for (int m = 0; m < 2; ++m) {
            b[g + m] = _mm_unpacklo_epi32(a[g + 2 * m], a[g + 2 * m + 1]);
            b[g + m + 2] = _mm_unpackhi_epi32(a[g + 2 * m], a[g + 2 * m + 1]);
        }
    for (int r = 0; r < 16; r += 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + r * FRAME_WIDTH),
                         _mm_unpacklo_epi64(b[r], b[r + 1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (r + 1) * FRAME_WIDTH),
                         _mm_unpackhi_epi64(b[r], b[r + 1]));
    }
}

void turn_block(const std::uint8_t* src, std::uint8_t* dst) {
    // 200 rows are 12.5 squares: the last square overlaps the one before.
    for (int y0 = 0; y0 < FRAME_HEIGHT; y0 += BLOCK) {
        const int y = y0 + BLOCK <= FRAME_HEIGHT ? y0 : FRAME_HEIGHT - BLOCK;
        turn_square(src + y, dst + y * FRAME_WIDTH);
    }
}
#else
void turn_block(const std::uint8_t* src, std::uint8_t* dst) {
    for (int y = 0; y < FRAME_HEIGHT; ++y)
        for (int i = 0; i < BLOCK; ++i) dst[y * FRAME_WIDTH + i] = src[i * FRAME_HEIGHT + y];
}
#endif

static_assert(FRAME_WIDTH % BLOCK == 0 && FRAME_HEIGHT >= BLOCK);

}  // namespace

void frame_writer_init(FrameWriter& writer) {
    writer.frame_counter = 0;
    writer.image.fill(0);
    std::uint8_t* h = writer.image.data();
    h[1] = 1;                          // colour map present
    h[2] = 1;                          // uncompressed, colour-mapped
    put_le16(h + 5, PALETTE_ENTRIES);  // colour map length
    h[7] = 24;                         // colour map entry size
    put_le16(h + 12, FRAME_WIDTH);
    put_le16(h + 14, FRAME_HEIGHT);
    h[16] = 8;     // pixel depth
    h[17] = 0x20;  // top row first
}

std::string frame_image_name(std::int64_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08lld.tga", static_cast<long long>(number));
    return name;
}

void columns_to_rows(const FrameBuffer& frame, const ColumnSet& columns, std::uint8_t* rows) {
    for (int x0 = 0; x0 < FRAME_WIDTH; x0 += BLOCK)
        if (block_changed(columns, x0)) turn_block(frame.data() + x0 * FRAME_HEIGHT, rows + x0);
}

int write_frame_image(FrameWriter& writer, PictureState& state) {
    std::uint8_t* image = writer.image.data();
    std::memcpy(image + TGA_HEADER_BYTES, state.palette.data(), PALETTE_BYTES);
    columns_to_rows(state.frame, state.changed_columns, image + PIXELS_AT);
    state.changed_columns = {};

    const std::string name = frame_image_name(writer.frame_counter);
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) return errno != 0 ? errno : EIO;
    std::setvbuf(file, nullptr, _IONBF, 0);  // the image leaves in one write
    errno = 0;
    int error = 0;
    if (std::fwrite(image, 1, TGA_FILE_BYTES, file) != TGA_FILE_BYTES) error = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    if (error != 0) {
        std::remove(name.c_str());
        return error;
    }
    ++writer.frame_counter;
    return 0;
}
