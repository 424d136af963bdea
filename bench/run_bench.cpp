// Speed benchmark: for each of two movie shapes, writes a realistic movie
// into a RAM-backed folder, then times movie-extract and the floor program in
// alternation over several rounds and prints the medians, their ratio,
// images per second and the converter's peak memory.
//
//   band       a band of half the width drifts across the frame
//   scattered  runs all over the frame, as in camera moves, fades and redraws
//
//   movie-bench [ROUNDS] [PICTURES] [CONVERTER] [SHAPE]
//       defaults 11, 3000, the movie-extract built beside it, both shapes
//   movie-bench --movie-only PATH [PICTURES] [SHAPE]   writes a benchmark movie

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tools/movie_builder.h"

namespace fs = std::filesystem;

namespace {

constexpr int AUDIO_PER_PICTURE = 1470;  // 15 pictures a second at 22050 Hz
constexpr int PALETTE_EVERY = 300;
constexpr int REPEAT_EVERY = 25;

Palette6 bench_palette(int seed) {
    Palette6 p{};
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>((i * 5 + static_cast<std::size_t>(seed) * 11) % 64);
    return p;
}

// Each picture redraws about a third of the frame: a band of columns half the
// width that drifts across, rows in it redrawn in runs broken by gaps.
void band_picture(int i, std::mt19937& rng, FrameBuffer& next) {
    const int first = (i * 3) % (FRAME_WIDTH / 2);
    for (int x = first; x < first + FRAME_WIDTH / 2; ++x) {
        std::uint8_t* column = next.data() + static_cast<std::ptrdiff_t>(x) * FRAME_HEIGHT;
        for (int y = static_cast<int>(rng() % 12); y < FRAME_HEIGHT;) {
            const int run = 20 + static_cast<int>(rng() % 60);
            for (int k = y; k < std::min(y + run, FRAME_HEIGHT); ++k)
                column[k] = static_cast<std::uint8_t>(column[k] + 1 + (x + k + i) % 7);
            y += run + 10 + static_cast<int>(rng() % 30);
        }
    }
}

// About a third of the pixels too, but all over the frame: runs of 1 to 120
// bytes with skips of up to 200, from one of the first 80 columns to the end,
// so that nearly every block of 16 columns changes in every picture.
void scattered_picture(std::mt19937& rng, FrameBuffer& next) {
    std::size_t p = (rng() % 80) * FRAME_HEIGHT + rng() % FRAME_HEIGHT;
    while (true) {
        p += rng() % 201;
        const std::size_t run = 1 + rng() % 120;
        if (p + run > FRAME_BYTES) break;
        for (std::size_t k = p; k < p + run; ++k) next[k] = static_cast<std::uint8_t>(rng());
        p += run;
    }
}

MovieBuilder make_movie(int pictures, const std::string& shape) {
    MovieBuilder movie;
    std::mt19937 rng(42);
    FrameBuffer shown{}, next{};
    std::vector<std::uint8_t> tone(AUDIO_PER_PICTURE);
    long sample = 0;
    for (int i = 0; i < pictures; ++i) {
        if (i % PALETTE_EVERY == 0) {
            add_palette(movie, bench_palette(i / PALETTE_EVERY), static_cast<std::uint8_t>(i / PALETTE_EVERY));
            shown.fill(static_cast<std::uint8_t>(i / PALETTE_EVERY));
            next = shown;
        }
        for (auto& s : tone) s = static_cast<std::uint8_t>(128 + ((sample++ / 25) % 2 ? 40 : -40));
        add_audio(movie, tone);
        if (i % REPEAT_EVERY == REPEAT_EVERY - 1) {
            add_repeat(movie);
            continue;
        }
        if (shape == "scattered") scattered_picture(rng, next);
        else band_picture(i, rng, next);
        add_delta_between(movie, shown, next);
        shown = next;
    }
    return movie;
}

struct Timing {
    double seconds = 0;
    long peak_kib = 0;
    int status = -1;
};

Timing run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    // posix_spawn, not fork: a forked copy of this process would count in
    // the child's peak resident size.
    pid_t pid = 0;
    Timing t;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return t;
    int wstatus = 0;
    rusage usage{};
    wait4(pid, &wstatus, 0, &usage);
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.peak_kib = usage.ru_maxrss;
    t.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return t;
}

void clear_outputs() {
    for (const auto& entry : fs::directory_iterator("."))
        if (entry.path().extension() == ".tga" || entry.path().filename() == "BOOK.WAV") fs::remove(entry.path());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Result {
    double ratio = 0;
    bool ok = false;
};

Result bench_shape(const std::string& shape, int rounds, int pictures, const std::string& converter,
                   const fs::path& bin, const fs::path& base) {
    const std::string floor = (bin / "bench-floor").string();
    const fs::path dir = base / ("movie-bench-" + std::to_string(getpid()) + "-" + shape);
    fs::create_directories(dir);
    fs::current_path(dir);
    Result result;
    // The movie is made by a child, so that this process stays small: its
    // size would count in the peak resident size measured for the runs.
    if (run({(bin / "movie-bench").string(), "--movie-only", "BOOK.MOV", std::to_string(pictures), shape}).status != 0) {
        std::fprintf(stderr, "movie-bench: could not write the benchmark movie\n");
        return result;
    }
    // One run to learn what the floor must write.
    if (run({converter}).status != 0) {
        std::fprintf(stderr, "movie-bench: the converter failed on the benchmark movie\n");
        return result;
    }
    long images = 0;
    for (const auto& entry : fs::directory_iterator(".")) images += entry.path().extension() == ".tga";
    const auto wav_bytes = static_cast<long>(fs::file_size("BOOK.WAV"));
    std::printf("%s movie: %ju bytes, %ld images, BOOK.WAV %ld bytes, in %s\n", shape.c_str(),
                static_cast<std::uintmax_t>(fs::file_size("BOOK.MOV")), images, wav_bytes, dir.c_str());

    std::vector<double> conv, flo;
    long peak = 0;
    for (int r = 0; r < rounds; ++r) {
        clear_outputs();
        const Timing c = run({converter});
        clear_outputs();
        const Timing f = run({floor, "BOOK.MOV", std::to_string(images), std::to_string(wav_bytes)});
        if (c.status != 0 || f.status != 0) {
            std::fprintf(stderr, "movie-bench: a run failed (converter %d, floor %d)\n", c.status, f.status);
            return result;
        }
        conv.push_back(c.seconds);
        flo.push_back(f.seconds);
        peak = std::max(peak, c.peak_kib);
        std::printf("round %d: converter %.4f s, floor %.4f s\n", r + 1, c.seconds, f.seconds);
    }
    const double mc = median(conv), mf = median(flo);
    std::printf("%s: median converter %.4f s, median floor %.4f s, ratio converter/floor %.3f\n", shape.c_str(), mc,
                mf, mc / mf);
    std::printf("%s: images per second %.0f, converter peak resident size %ld KiB\n", shape.c_str(),
                static_cast<double>(images) / mc, peak);
    clear_outputs();
    fs::current_path(base);
    fs::remove_all(dir);
    result.ratio = mc / mf;
    result.ok = true;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--movie-only")
        return write_movie(make_movie(argc > 3 ? std::atoi(argv[3]) : 3000, argc > 4 ? argv[4] : "band"), argv[2]) ? 0
                                                                                                                : 1;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 11;
    const int pictures = argc > 2 ? std::atoi(argv[2]) : 3000;
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    const std::string converter =
        argc > 3 && std::string(argv[3]) != "-" ? fs::absolute(argv[3]).string() : (bin / "movie-extract").string();
    std::vector<std::string> shapes = {"band", "scattered"};
    if (argc > 4) shapes = {argv[4]};
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();

    std::vector<Result> results;
    for (const auto& shape : shapes) {
        results.push_back(bench_shape(shape, rounds, pictures, converter, bin, base));
        if (!results.back().ok) return 1;
    }
    for (std::size_t i = 0; i < shapes.size(); ++i)
        std::printf("ratio converter/floor, %s: %.3f\n", shapes[i].c_str(), results[i].ratio);
    return 0;
}
