#include "output/column_turn.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define HAVE_X86_SHUFFLES 1
#include <immintrin.h>
#endif

namespace {

constexpr int SQUARE = 16;  // rows and columns one shuffle network turns
// Strides through the rows and the columns, as pointer offsets.
constexpr std::ptrdiff_t ROW = FRAME_WIDTH;
constexpr std::ptrdiff_t COLUMN = FRAME_HEIGHT;
using Index = std::ptrdiff_t;
static_assert(TURN_BLOCK_COLUMNS == SQUARE && FRAME_WIDTH % TURN_BLOCK_COLUMNS == 0 && FRAME_HEIGHT >= SQUARE);

// 200 rows are 12.5 squares: the last square overlaps the one before.
constexpr Index square_top(Index y0) { return y0 + SQUARE <= FRAME_HEIGHT ? y0 : FRAME_HEIGHT - SQUARE; }

template <int COLUMNS>
void turn_plain(const std::uint8_t* src, std::uint8_t* dst) {
    for (Index y = 0; y < FRAME_HEIGHT; ++y)
        for (Index i = 0; i < COLUMNS; ++i) dst[y * ROW + i] = src[i * COLUMN + y];
}

#if HAVE_X86_SHUFFLES
// One network for both widths: 16 registers, one column each, become 16
// rows by interleaving bytes, then pairs, quads and halves. With 256-bit
// registers each 128-bit lane runs the same network on its own square, the
// upper lane holding the next 16 columns, so every result is 32 bytes of
// one row.
#define TURN_NETWORK(V, LOAD, STORE, LO8, HI8, LO16, HI16, LO32, HI32, LO64, HI64)             \
    for (Index y0 = 0; y0 < FRAME_HEIGHT; y0 += SQUARE) {                                    \
        const Index y = square_top(y0);                                                      \
        V a[16], b[16];                                                                      \
        for (Index i = 0; i < 16; ++i) a[i] = LOAD(src + y + i * COLUMN);                    \
        for (Index i = 0; i < 8; ++i) {                                                      \
            b[i] = LO8(a[2 * i], a[2 * i + 1]);                                              \
            b[i + 8] = HI8(a[2 * i], a[2 * i + 1]);                                          \
        }                                                                                    \
        for (Index h = 0; h < 16; h += 8)                                                    \
            for (Index k = 0; k < 4; ++k) {                                                  \
                a[h + k] = LO16(b[h + 2 * k], b[h + 2 * k + 1]);                             \
                a[h + k + 4] = HI16(b[h + 2 * k], b[h + 2 * k + 1]);                         \
            }                                                                                \
        for (Index g = 0; g < 16; g += 4)                                                    \
            for (Index m = 0; m < 2; ++m) {                                                  \
                b[g + m] = LO32(a[g + 2 * m], a[g + 2 * m + 1]);                             \
                b[g + m + 2] = HI32(a[g + 2 * m], a[g + 2 * m + 1]);                         \
            }                                                                                \
        for (Index r = 0; r < 16; r += 2) {                                                  \
            STORE(dst + (y + r) * ROW, LO64(b[r], b[r + 1]));                                \
            STORE(dst + (y + r + 1) * ROW, HI64(b[r], b[r + 1]));                            \
        }                                                                                    \
    }

inline __m128i load16(const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
inline void store16(std::uint8_t* at, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }

// 16 columns.
void turn_half_sse2(const std::uint8_t* src, std::uint8_t* dst) {
    TURN_NETWORK(__m128i, load16, store16, _mm_unpacklo_epi8, _mm_unpackhi_epi8, _mm_unpacklo_epi16,
                 _mm_unpackhi_epi16, _mm_unpacklo_epi32, _mm_unpackhi_epi32, _mm_unpacklo_epi64,
                 _mm_unpackhi_epi64)
}

void turn_pair_sse2(const std::uint8_t* src, std::uint8_t* dst) {
    turn_half_sse2(src, dst);
    turn_half_sse2(src + SQUARE * COLUMN, dst + SQUARE);
}

__attribute__((target("avx2"))) inline __m256i load_pair(const std::uint8_t* at) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load16(at)), load16(at + SQUARE * COLUMN), 1);
}

__attribute__((target("avx2"))) inline void store32(std::uint8_t* at, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v);
}

__attribute__((target("avx2"))) void turn_pair_avx2(const std::uint8_t* src, std::uint8_t* dst) {
    TURN_NETWORK(__m256i, load_pair, store32, _mm256_unpacklo_epi8, _mm256_unpackhi_epi8,
                 _mm256_unpacklo_epi16, _mm256_unpackhi_epi16, _mm256_unpacklo_epi32,
                 _mm256_unpackhi_epi32, _mm256_unpacklo_epi64, _mm256_unpackhi_epi64)
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i load_quad(const std::uint8_t* at) {
    // The same 16 rows of the k-th square to the right.
    auto square = [at](Index k) { return load16(at + k * SQUARE * COLUMN); };
    __m512i v = _mm512_castsi128_si512(square(0));
    v = _mm512_inserti32x4(v, square(1), 1);
    v = _mm512_inserti32x4(v, square(2), 2);
    return _mm512_inserti32x4(v, square(3), 3);
}

__attribute__((target("avx512f,avx512bw"))) inline void store64(std::uint8_t* at, __m512i v) {
    _mm512_storeu_si512(at, v);
}

// The plain 32- and 64-bit interleaves of this compiler's headers start from
// an undefined register and draw a false warning; with every lane selected
// the zero-masked forms are the same instruction.
#define AVX512_INTERLEAVE(NAME, INTRINSIC, MASK)                                          \
    __attribute__((target("avx512f"))) inline __m512i NAME(__m512i a, __m512i b) { \
        return INTRINSIC(MASK, a, b);                                                     \
    }
AVX512_INTERLEAVE(unpacklo32_avx512, _mm512_maskz_unpacklo_epi32, 0xFFFF)
AVX512_INTERLEAVE(unpackhi32_avx512, _mm512_maskz_unpackhi_epi32, 0xFFFF)
AVX512_INTERLEAVE(unpacklo64_avx512, _mm512_maskz_unpacklo_epi64, 0xFF)
AVX512_INTERLEAVE(unpackhi64_avx512, _mm512_maskz_unpackhi_epi64, 0xFF)

// Four squares side by side: each result is 64 bytes of one row.
__attribute__((target("avx512f,avx512bw"))) void turn_quad_avx512(const std::uint8_t* src, std::uint8_t* dst) {
    TURN_NETWORK(__m512i, load_quad, store64, _mm512_unpacklo_epi8, _mm512_unpackhi_epi8,
                 _mm512_unpacklo_epi16, _mm512_unpackhi_epi16, unpacklo32_avx512, unpackhi32_avx512,
                 unpacklo64_avx512, unpackhi64_avx512)
}

#endif

}  // namespace

bool turn_method_available(TurnMethod method) {
    if (method == TurnMethod::PLAIN) return true;
#if HAVE_X86_SHUFFLES
    if (method == TurnMethod::SSE2) return true;  // every x86-64 processor has it
    if (method == TurnMethod::AVX2) return __builtin_cpu_supports("avx2") != 0;
    if (method == TurnMethod::AVX512)
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
#endif
    return false;
}

TurnMethod best_turn_method() {
    static const TurnMethod best = turn_method_available(TurnMethod::AVX512) ? TurnMethod::AVX512
                                   : turn_method_available(TurnMethod::AVX2) ? TurnMethod::AVX2
                                   : turn_method_available(TurnMethod::SSE2) ? TurnMethod::SSE2
                                                                             : TurnMethod::PLAIN;
    return best;
}

void columns_to_rows(const FrameBuffer& frame, std::size_t begin, std::size_t end, std::uint8_t* rows,
                     TurnMethod method) {
    if (begin >= end) return;
    // Two or four neighbouring blocks are turned at once where the method is wider.
    using Turn = void (*)(const std::uint8_t*, std::uint8_t*);
    Turn one = turn_plain<TURN_BLOCK_COLUMNS>;
    Turn two = turn_plain<2 * TURN_BLOCK_COLUMNS>;
    Turn four = nullptr;
#if HAVE_X86_SHUFFLES
    if (method != TurnMethod::PLAIN) {
        one = turn_half_sse2;
        two = method == TurnMethod::SSE2 ? turn_pair_sse2 : turn_pair_avx2;
        if (method == TurnMethod::AVX512) four = turn_quad_avx512;
    }
#else
    (void)method;
#endif
    auto x = static_cast<std::ptrdiff_t>(begin / FRAME_HEIGHT) / TURN_BLOCK_COLUMNS * TURN_BLOCK_COLUMNS;
    const auto stop =
        (static_cast<std::ptrdiff_t>((end - 1) / FRAME_HEIGHT) / TURN_BLOCK_COLUMNS + 1) * TURN_BLOCK_COLUMNS;
    constexpr auto PAIR = std::ptrdiff_t{2} * TURN_BLOCK_COLUMNS;
    constexpr auto QUAD = 2 * PAIR;
    // Rows start on 64-byte boundaries. A wide turn started between them
    // would split every store it makes across two cache lines, which costs
    // more than the narrower turns that first bring it to a boundary.
    if (x % PAIR != 0 && x < stop) {
        one(frame.data() + x * COLUMN, rows + x);
        x += TURN_BLOCK_COLUMNS;
    }
    if (four != nullptr && x % QUAD != 0 && x + PAIR <= stop) {
        two(frame.data() + x * COLUMN, rows + x);
        x += PAIR;
    }
    if (four != nullptr)
        for (; x + QUAD <= stop; x += QUAD) four(frame.data() + x * COLUMN, rows + x);
    for (; x + PAIR <= stop; x += PAIR) two(frame.data() + x * COLUMN, rows + x);
    if (x < stop) one(frame.data() + x * COLUMN, rows + x);
}
