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

ImageName frame_image_name(std::int64_t number) {
    ImageName name;
    if (number < 0 || number > 99999999) {
        std::snprintf(name.text, sizeof name.text, "%08lld.tga", static_cast<long long>(number));
        return name;
    }
    for (int i = 7; i >= 0; --i, number /= 10) name.text[i] = static_cast<char>('0' + number % 10);
    std::memcpy(name.text + 8, ".tga", 5);
    return name;
}

void columns_to_rows(const FrameBuffer& frame, std::size_t begin, std::size_t end, std::uint8_t* rows) {
    if (begin >= end) return;
    const int first = static_cast<int>(begin / FRAME_HEIGHT) / BLOCK * BLOCK;
    const int last = static_cast<int>((end - 1) / FRAME_HEIGHT);
    for (int x0 = first; x0 <= last; x0 += BLOCK) turn_block(frame.data() + x0 * FRAME_HEIGHT, rows + x0);
}

int write_frame_image(FrameWriter& writer, PictureState& state) {
    std::uint8_t* image = writer.image.data();
    std::memcpy(image + TGA_HEADER_BYTES, state.palette.data(), PALETTE_BYTES);
    columns_to_rows(state.frame, state.changed_begin, state.changed_end, image + PIXELS_AT);
    state.changed_begin = state.changed_end = 0;

    const ImageName name = frame_image_name(writer.frame_counter);
    std::FILE* file = std::fopen(name.text, "wb");
    if (file == nullptr) return errno != 0 ? errno : EIO;
    std::setvbuf(file, nullptr, _IONBF, 0);  // the image leaves in one write
    errno = 0;
    int error = 0;
    if (std::fwrite(image, 1, TGA_FILE_BYTES, file) != TGA_FILE_BYTES) error = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    if (error != 0) {
        std::remove(name.text);
        return error;
    }
    ++writer.frame_counter;
    return 0;
}
