// Turning the column-ordered frame into the rows a TGA file holds.
//
// This is the one costly step of writing an image, so it is done in blocks
// of 16 columns, two or four at a time where it can, with the widest byte
// interleaves the processor has. One network, written with the compiler's
// vector types, becomes each processor's own interleaves: SSE2 on any
// x86-64, and AVX2 or AVX-512 (BW) where the processor reports them; NEON on
// aarch64; AltiVec, z/Architecture vectors and the like elsewhere. A plain
// loop serves compilers without vector types (MSVC) and processors without
// vector registers. All give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "movie/movie_format.h"

// VECTOR: 16-byte vectors; AVX2: 32 bytes; AVX512: 64 bytes.
enum class TurnMethod { PLAIN, VECTOR, AVX2, AVX512 };

inline constexpr int TURN_BLOCK_COLUMNS = 16;

// The fastest method this processor runs.
TurnMethod best_turn_method();
bool turn_method_available(TurnMethod method);

// Turns the columns of `frame` that hold bytes [begin, end), widened to whole
// blocks, into rows of `rows` (FRAME_WIDTH bytes each).
void columns_to_rows(const FrameBuffer& frame, std::size_t begin, std::size_t end, std::uint8_t* rows,
                     TurnMethod method = best_turn_method());
