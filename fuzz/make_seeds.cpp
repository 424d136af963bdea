// Writes the fuzzer's seed movies into a folder: small, well-formed movies
// that hold every kind of chunk, and a few with typical damage.
//
//   make-fuzz-seeds DIR

#include <cstdio>
#include <string>

#include "tools/movie_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    Palette6 palette{};
    for (std::size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<std::uint8_t>(i * 7 % 64);
    const std::vector<std::uint8_t> tone = {128, 180, 220, 180, 128, 76, 36, 76, 128};

    MovieBuilder every_kind;
    add_palette(every_kind, palette, 2);
    add_audio(every_kind, tone);
    add_delta(every_kind, 3, {{198, {9, 9, 9, 9}}, {10, {1, 2, 3}}});
    add_repeat(every_kind);
    add_chunk(every_kind, 7, 3, std::vector<std::uint8_t>{1, 2, 3});
    add_delta(every_kind, 319, {{190, std::vector<std::uint8_t>(10, 5)}});

    MovieBuilder many_runs;
    add_audio(many_runs, tone);
    std::vector<PictureRun> runs;
    for (int i = 0; i < 40; ++i) runs.push_back({static_cast<std::uint8_t>(i * 13), std::vector<std::uint8_t>(i % 9, static_cast<std::uint8_t>(i))});
    add_delta(many_runs, 100, runs);
    add_palette(many_runs, palette, 0);
    add_delta(many_runs, -2, {{0, std::vector<std::uint8_t>(255, 7)}});

    MovieBuilder cut = every_kind;
    cut.bytes.resize(cut.bytes.size() - 7);

    MovieBuilder negative;
    add_repeat(negative);
    add_chunk(negative, 2, -4, std::vector<std::uint8_t>{1, 2, 3, 4});

    const std::pair<const char*, const MovieBuilder*> seeds[] = {
        {"every-kind", &every_kind}, {"many-runs", &many_runs}, {"cut", &cut}, {"negative", &negative}};
    for (const auto& [name, movie] : seeds)
        if (!write_movie(*movie, dir + "/" + name + ".mov")) {
            std::perror(name);
            return 1;
        }
    return 0;
}
