// Times each way of turning columns into rows that this processor runs: a
// whole picture, and the columns 16 to 319 (a span that starts off a 64-byte
// boundary). Prints the median of 15 batches of 2000 turns, in microseconds a
// picture.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "output/column_turn.h"

int main() {
    std::mt19937 rng(5);
    FrameBuffer frame;
    for (auto& px : frame) px = static_cast<std::uint8_t>(rng());
    alignas(64) static std::uint8_t rows[FRAME_BYTES];
    const char* names[] = {"plain loop", "16-byte vectors", "AVX2", "AVX-512"};
    const TurnMethod methods[] = {TurnMethod::PLAIN, TurnMethod::VECTOR, TurnMethod::AVX2, TurnMethod::AVX512};
    struct Span {
        const char* name;
        std::size_t begin, end;
    };
    const Span spans[] = {{"whole picture", 0, FRAME_BYTES}, {"columns 16 to 319", 16 * FRAME_HEIGHT, FRAME_BYTES}};
    for (const Span& span : spans) {
        for (std::size_t m = 0; m < std::size(methods); ++m) {
            if (!turn_method_available(methods[m])) continue;
            std::vector<double> batches;
            for (int batch = 0; batch < 15; ++batch) {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < 2000; ++i) columns_to_rows(frame, span.begin, span.end, rows, methods[m]);
                const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
                batches.push_back(took.count() / 2000);
            }
            std::sort(batches.begin(), batches.end());
            std::printf("%-18s %-16s %6.2f us  (%.2f to %.2f)\n", span.name, names[m], batches[7], batches[0],
                        batches[14]);
        }
    }
    return rows[12345] == 0x5A ? 1 : 0;  // keeps the turns from being optimised away
}
