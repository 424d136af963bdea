// Writes a small synthetic movie: six seconds of an "F" gliding over a
// gradient, with a palette change half way, repeated pictures and a tone.
//
//   make-demo-movie [PATH]      (default BOOK.MOV)

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "tools/movie_builder.h"

namespace {

constexpr int PICTURES = 90;            // 15 a second
constexpr int SAMPLES_PER_PICTURE = 1470;  // 22050 / 15

Palette6 make_palette(int tint) {
    Palette6 p{};
    for (int i = 0; i < 256; ++i) {
        const int level = i % 64;
        p[3 * i] = static_cast<std::uint8_t>(i < 128 ? level : (level + tint) % 64);
        p[3 * i + 1] = static_cast<std::uint8_t>(i < 64 || i >= 192 ? 63 - level : level / 2);
        p[3 * i + 2] = static_cast<std::uint8_t>(i < 128 ? (level + tint) % 64 : 63 - level);
    }
    return p;
}

// A gradient, and the letter F in colour 200 with its top-left corner at (left, top).
void draw(FrameBuffer& frame, int left, int top) {
    for (int x = 0; x < FRAME_WIDTH; ++x)
        for (int y = 0; y < FRAME_HEIGHT; ++y) frame[x * FRAME_HEIGHT + y] = static_cast<std::uint8_t>((x / 5 + y / 25) % 128);
    auto box = [&](int x0, int y0, int w, int h) {
        for (int x = x0; x < x0 + w; ++x)
            for (int y = y0; y < y0 + h; ++y)
                if (x >= 0 && x < FRAME_WIDTH && y >= 0 && y < FRAME_HEIGHT) frame[x * FRAME_HEIGHT + y] = 200;
    };
    box(left, top, 12, 80);       // stem
    box(left, top, 50, 12);       // top bar
    box(left, top + 34, 34, 12);  // middle bar
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = "BOOK.MOV";
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::printf("Usage: make-demo-movie [PATH]\n"
                        "\n"
                        "Writes a six-second demo movie, 90 pictures with sound, to PATH\n"
                        "(BOOK.MOV when none is given), for trying movie-extract.\n");
            return 0;
        }
        if ((a[0] == '-' && a[1] != '\0') || named) {
            std::fprintf(stderr, "make-demo-movie: %s: %s; see make-demo-movie --help\n", a,
                         named ? "one PATH at most" : "unknown option");
            return 1;
        }
        path = a;
        named = true;
    }
    MovieBuilder movie;
    FrameBuffer shown{};
    FrameBuffer next{};
    add_palette(movie, make_palette(0), 0);
    long sample = 0;
    for (int i = 0; i < PICTURES; ++i) {
        if (i == PICTURES / 2) {
            add_palette(movie, make_palette(32), 0);
            shown.fill(0);
        }
        std::vector<std::uint8_t> tone(SAMPLES_PER_PICTURE);
        for (auto& s : tone) {
            const double pitch = i < PICTURES / 2 ? 440.0 : 660.0;
            s = static_cast<std::uint8_t>(128 + 60 * std::sin(2 * std::numbers::pi * pitch * static_cast<double>(sample++) / 22050));
        }
        add_audio(movie, tone);
        if (i % 10 == 9) {
            add_repeat(movie);
            continue;
        }
        draw(next, 10 + i * 3, 20 + (i % 30) * 3);
        add_delta_between(movie, shown, next);
        shown = next;
    }
    if (!write_movie(movie, path)) {
        std::perror(path.c_str());
        return 1;
    }
    std::printf("wrote %s: %zu bytes\n", path.c_str(), movie.bytes.size());
    return 0;
}
