#include "output/column_turn.h"

#include <cstring>
#include <type_traits>
#include <utility>

// GCC (12 and later) and Clang have vector types and a shuffle of them; MSVC
// keeps to the plain loop.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector)
#define HAVE_VECTOR_TYPES 1
#endif
#endif
// Where 16-byte vectors are registers of the processor. Elsewhere the
// compiler builds them from scalar code, which is still correct but no
// faster than the plain loop.
#if defined(__SSE2__) || defined(__ARM_NEON) || defined(__ALTIVEC__) || defined(__VEC__) || defined(__wasm_simd128__)
#define HAVE_VECTOR_REGISTERS 1
#endif
// Wider vectors, chosen at run time by what the processor reports.
#if HAVE_VECTOR_TYPES && defined(__x86_64__)
#define HAVE_X86_WIDE_VECTORS 1
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

#if HAVE_VECTOR_TYPES
// The helpers below take and return vectors wider than the default target's
// registers. They are always inlined into functions built for those widths,
// so no call passes one and the calling convention never matters (the build
// turns -Wpsabi off for this file).

// Vectors of BYTES bytes, one type for each width of element.
template <int BYTES>
struct Vectors {
    typedef std::uint8_t u8 __attribute__((vector_size(BYTES)));
    typedef std::uint16_t u16 __attribute__((vector_size(BYTES)));
    typedef std::uint32_t u32 __attribute__((vector_size(BYTES)));
    typedef std::uint64_t u64 __attribute__((vector_size(BYTES)));
};

template <typename V>
using Element = std::remove_cvref_t<decltype(V{}[0])>;

// Element i of the interleave of a and b (b's elements numbered after a's),
// within each 16-byte lane: the low or the high halves of the lanes, a's and
// b's elements taking turns. This is what every processor's interleave does
// (punpckl/h on x86, zip1/zip2 on Arm), lane by lane on the wider ones.
template <typename V, bool HIGH>
constexpr int interleave_index(int i) {
    constexpr int count = sizeof(V) / sizeof(Element<V>);
    constexpr int lane = 16 / sizeof(Element<V>);
    const int j = i % lane;
    return (j % 2 == 0 ? 0 : count) + i / lane * lane + j / 2 + (HIGH ? lane / 2 : 0);
}

template <typename V, bool HIGH, std::size_t... I>
[[gnu::always_inline]] inline V interleave(V a, V b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, interleave_index<V, HIGH>(static_cast<int>(I))...);
}

// Interleaves the bytes of a and b in elements of type E's width.
template <typename E, bool HIGH, typename V>
[[gnu::always_inline]] inline V interleave_as(V a, V b) {
    constexpr std::size_t count = sizeof(E) / sizeof(Element<E>);
    return reinterpret_cast<V>(interleave<E, HIGH>(reinterpret_cast<E>(a), reinterpret_cast<E>(b),
                                                   std::make_index_sequence<count>{}));
}

// The network, written once for every width: 16 vectors, one column each,
// become 16 rows by interleaving bytes, then pairs, quads and halves. With
// vectors of 32 or 64 bytes each 16-byte lane runs the same network on its
// own square, lane k holding the square k blocks to the right, so every
// result is 32 or 64 bytes of one row. `a` holds the columns of one band of
// 16 rows; the rows go to `dst`. Every loop is unrolled (GCC's pragma, which
// Clang takes too), so that the vectors live in registers. Clang 14 left the
// first loop rolled, over vectors kept in memory, and turned a picture with
// AVX-512 in 2.0 us against 1.1 us unrolled; GCC 12 unrolls it either way.
template <int BYTES>
[[gnu::always_inline]] inline void turn_band(typename Vectors<BYTES>::u8 (&a)[16], std::uint8_t* dst) {
    using V = typename Vectors<BYTES>::u8;
    using U16 = typename Vectors<BYTES>::u16;
    using U32 = typename Vectors<BYTES>::u32;
    using U64 = typename Vectors<BYTES>::u64;
    V b[16];
    // GCOVR_EXCL_BR_START: fixed counts, one set for each width, and the
    // widths that run are the processor's
#pragma GCC unroll 8
    for (Index i = 0; i < 8; ++i) {
        b[i] = interleave_as<V, false>(a[2 * i], a[2 * i + 1]);
        b[i + 8] = interleave_as<V, true>(a[2 * i], a[2 * i + 1]);
    }
#pragma GCC unroll 2
    for (Index h = 0; h < 16; h += 8)
#pragma GCC unroll 4
        for (Index k = 0; k < 4; ++k) {
            a[h + k] = interleave_as<U16, false>(b[h + 2 * k], b[h + 2 * k + 1]);
            a[h + k + 4] = interleave_as<U16, true>(b[h + 2 * k], b[h + 2 * k + 1]);
        }
#pragma GCC unroll 4
    for (Index g = 0; g < 16; g += 4)
#pragma GCC unroll 2
        for (Index m = 0; m < 2; ++m) {
            b[g + m] = interleave_as<U32, false>(a[g + 2 * m], a[g + 2 * m + 1]);
            b[g + m + 2] = interleave_as<U32, true>(a[g + 2 * m], a[g + 2 * m + 1]);
        }
#pragma GCC unroll 8
    for (Index r = 0; r < 16; r += 2) {
        const V lo = interleave_as<U64, false>(b[r], b[r + 1]);
        const V hi = interleave_as<U64, true>(b[r], b[r + 1]);
        std::memcpy(dst + r * ROW, &lo, BYTES);
        std::memcpy(dst + (r + 1) * ROW, &hi, BYTES);
    }
    // GCOVR_EXCL_BR_STOP
}

// Every band from the top, each of BYTES / 16 squares side by side, loaded by
// LOAD. A macro, so that the loads take the target of the function it is in.
#define TURN_BANDS(BYTES, LOAD)                                            \
    for (Index y0 = 0; y0 < FRAME_HEIGHT; y0 += SQUARE) {                 \
        const Index y = square_top(y0);                                   \
        Vectors<BYTES>::u8 a[16];                                         \
        for (Index i = 0; i < 16; ++i) a[i] = LOAD(src + y + i * COLUMN); \
        turn_band<BYTES>(a, dst + y * ROW);                               \
    }
#endif

#if HAVE_VECTOR_TYPES
inline Vectors<16>::u8 load_column(const std::uint8_t* at) {
    Vectors<16>::u8 v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// 16 columns.
void turn_one_vector(const std::uint8_t* src, std::uint8_t* dst) { TURN_BANDS(16, load_column) }

void turn_pair_vector(const std::uint8_t* src, std::uint8_t* dst) {
    turn_one_vector(src, dst);
    turn_one_vector(src + SQUARE * COLUMN, dst + SQUARE);
}
#endif

#if HAVE_X86_WIDE_VECTORS
// GCOVR_EXCL_START: run where the processor has AVX2 or AVX-512
inline __m128i load16(const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Two squares side by side, one a lane.
__attribute__((target("avx2"), always_inline)) inline Vectors<32>::u8 load_pair(const std::uint8_t* at) {
    return reinterpret_cast<Vectors<32>::u8>(
        _mm256_inserti128_si256(_mm256_castsi128_si256(load16(at)), load16(at + SQUARE * COLUMN), 1));
}

__attribute__((target("avx2"))) void turn_pair_avx2(const std::uint8_t* src, std::uint8_t* dst) {
    TURN_BANDS(32, load_pair)
}

// Four squares side by side, one a lane, put together with inserts from
// memory: built from 16-byte loads in vector types, GCC 12 loads 64 bytes
// and permutes, 1.24 against 1.17 us a picture.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline Vectors<64>::u8 load_quad(const std::uint8_t* at) {
    constexpr Index NEXT = SQUARE * COLUMN;
    __m512i v = _mm512_castsi128_si512(load16(at));
    v = _mm512_inserti32x4(v, load16(at + NEXT), 1);
    v = _mm512_inserti32x4(v, load16(at + 2 * NEXT), 2);
    return reinterpret_cast<Vectors<64>::u8>(_mm512_inserti32x4(v, load16(at + 3 * NEXT), 3));
}

__attribute__((target("avx512f,avx512bw"))) void turn_quad_avx512(const std::uint8_t* src, std::uint8_t* dst) {
    TURN_BANDS(64, load_quad)
}
// GCOVR_EXCL_STOP
#endif

}  // namespace

bool turn_method_available(TurnMethod method) {
    switch (method) {
#if HAVE_VECTOR_TYPES
        case TurnMethod::VECTOR:
#endif
        case TurnMethod::PLAIN: return true;
#if HAVE_X86_WIDE_VECTORS
        // GCOVR_EXCL_START: what the processor has
        case TurnMethod::AVX2: return __builtin_cpu_supports("avx2") != 0;
        case TurnMethod::AVX512: return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
#endif
        default: return false;
        // GCOVR_EXCL_STOP
    }
}

TurnMethod best_turn_method() {
    // GCOVR_EXCL_START: what the processor has
    static const TurnMethod best = turn_method_available(TurnMethod::AVX512) ? TurnMethod::AVX512
                                   : turn_method_available(TurnMethod::AVX2) ? TurnMethod::AVX2
#if HAVE_VECTOR_REGISTERS
                                   : turn_method_available(TurnMethod::VECTOR) ? TurnMethod::VECTOR
#endif
                                                                               : TurnMethod::PLAIN;
    // GCOVR_EXCL_STOP
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
#if HAVE_VECTOR_TYPES
    if (method != TurnMethod::PLAIN) {
        one = turn_one_vector;
        two = turn_pair_vector;
    }
#endif
#if HAVE_X86_WIDE_VECTORS
    // GCOVR_EXCL_START: what the processor has
    if (method == TurnMethod::AVX2 || method == TurnMethod::AVX512) two = turn_pair_avx2;
    if (method == TurnMethod::AVX512) four = turn_quad_avx512;
    // GCOVR_EXCL_STOP
#endif
    (void)method;
    auto x = static_cast<std::ptrdiff_t>(begin / FRAME_HEIGHT) / TURN_BLOCK_COLUMNS * TURN_BLOCK_COLUMNS;
    const auto stop =
        (static_cast<std::ptrdiff_t>((end - 1) / FRAME_HEIGHT) / TURN_BLOCK_COLUMNS + 1) * TURN_BLOCK_COLUMNS;
    constexpr auto PAIR = std::ptrdiff_t{2} * TURN_BLOCK_COLUMNS;
    constexpr auto QUAD = 2 * PAIR;
    // Rows start on 64-byte boundaries. A wide turn started between them
    // would split every store it makes across two cache lines, which costs
    // more than the narrower turns that first bring it to a boundary.
    if (x % PAIR != 0) {
        one(frame.data() + x * COLUMN, rows + x);
        x += TURN_BLOCK_COLUMNS;
    }
    // GCOVR_EXCL_START: only where the processor has AVX-512
    if (four != nullptr && x % QUAD != 0 && x + PAIR <= stop) {
        two(frame.data() + x * COLUMN, rows + x);
        x += PAIR;
    }
    if (four != nullptr)
        for (; x + QUAD <= stop; x += QUAD) four(frame.data() + x * COLUMN, rows + x);
    // GCOVR_EXCL_STOP
    for (; x + PAIR <= stop; x += PAIR) two(frame.data() + x * COLUMN, rows + x);
    if (x < stop) one(frame.data() + x * COLUMN, rows + x);
}
