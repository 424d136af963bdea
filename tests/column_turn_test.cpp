// Every way of turning columns into rows gives the rows a person would read
// off the picture, for any changed span, and leaves the other columns alone.

#include <random>

#include "output/column_turn.h"
#include "test_support.h"

namespace {

TEST(ColumnTurn, EveryMethodMatchesThePlainPicture) {
    std::mt19937 rng(7);
    FrameBuffer frame;
    for (auto& px : frame) px = static_cast<std::uint8_t>(rng());
    const Rows expected = rows_of(frame);

    struct Span {
        std::size_t begin, end;
    };
    const Span spans[] = {{0, FRAME_BYTES}, {0, 1}, {FRAME_BYTES - 1, FRAME_BYTES}, {31 * 200 + 199, 32 * 200 + 1},
                          {100 * 200 + 5, 100 * 200 + 6}, {250 * 200, 300 * 200}, {17 * 200, 117 * 200},
                          {48 * 200, FRAME_BYTES}, {16 * 200 + 3, 47 * 200}, {32 * 200, 64 * 200}};
    for (TurnMethod method : {TurnMethod::PLAIN, TurnMethod::VECTOR, TurnMethod::AVX2, TurnMethod::AVX512}) {
        if (!turn_method_available(method)) continue;
        for (const Span& span : spans) {
            Rows rows(FRAME_BYTES, 0xEE);
            columns_to_rows(frame, span.begin, span.end, rows.data(), method);
            const std::size_t first = span.begin / 200 / TURN_BLOCK_COLUMNS * TURN_BLOCK_COLUMNS;
            const std::size_t last = ((span.end - 1) / 200 / TURN_BLOCK_COLUMNS + 1) * TURN_BLOCK_COLUMNS;
            for (std::size_t y = 0; y < FRAME_HEIGHT; ++y)
                for (std::size_t x = 0; x < FRAME_WIDTH; ++x) {
                    const std::uint8_t want = x >= first && x < last ? expected[y * 320 + x] : 0xEE;
                    ASSERT_EQ(rows[y * 320 + x], want) << "method " << static_cast<int>(method) << " x " << x
                                                       << " y " << y << " span " << span.begin << ".." << span.end;
                }
        }
    }
    EXPECT_TRUE(turn_method_available(best_turn_method()));
}

}  // namespace
