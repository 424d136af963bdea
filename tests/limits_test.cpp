// Movies past 2 GiB, and memory that stays small whatever the lengths say.

#include <cstdio>
#include <filesystem>
#include <string>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Limits = InScratchDir;

// A movie file whose bytes from `tail_at` on are `tail`, with a hole of
// zeros (no disk blocks) between the head and the tail.
void write_sparse_movie(const Bytes& head, std::int64_t tail_at, const Bytes& tail) {
    std::FILE* f = std::fopen("BOOK.MOV", "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(head.data(), 1, head.size(), f), head.size());
    ASSERT_EQ(fseeko(f, tail_at, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), f), tail.size());
    ASSERT_EQ(std::fclose(f), 0);
}

struct ChildRun {
    int status = -1;
    long peak_kib = 0;
};

// Runs the converter as a child process in the current directory.
ChildRun run_converter_process() {
    ChildRun r;
    // posix_spawn, not fork: a forked copy of the test process would count
    // in the child's peak resident size.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words = target_command(MOVIE_EXTRACT_PATH);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return r;
    int wstatus = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &wstatus, 0, &usage) == pid && WIFEXITED(wstatus)) {
        r.status = WEXITSTATUS(wstatus);
        r.peak_kib = usage.ru_maxrss;
    }
    return r;
}

TEST_F(Limits, MovieLargerThan2GiBConvertsCompletely) {
    // A passed-over chunk of 0x7FFFFFF0 bytes carries the rest past 2 GiB.
    MovieBuilder head;
    add_chunk(head, 9, 0x7FFFFFF0);
    const auto tail_at = static_cast<std::int64_t>(head.bytes.size()) + 0x7FFFFFF0;
    MovieBuilder tail;
    tail.bytes.clear();
    add_palette(tail, test_palette(), 5);
    add_delta(tail, 2, {{7, {1, 2, 3}}});
    add_repeat(tail);
    add_audio(tail, Bytes{4, 5, 6});
    write_sparse_movie(head.bytes, tail_at, tail.bytes);
    ASSERT_GT(fs::file_size("BOOK.MOV"), 0x80000000u);

    const RunResult r = convert_here();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    FrameBuffer expected;
    expected.fill(5);
    expected[2 * 200 + 7] = 1, expected[2 * 200 + 8] = 2, expected[2 * 200 + 9] = 3;
    EXPECT_EQ(tga_files().size(), 2u);
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(test_palette(), rows_of(expected)));
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{4, 5, 6}));
}

TEST_F(Limits, PeakMemoryStaysSmallWhateverTheLengths) {
    if (UNDER_SANITIZER) GTEST_SKIP() << "sanitizer shadow memory makes resident size meaningless";
    // Beyond what the program needs for a movie of only a header. Under an
    // emulator that includes the emulator's own memory.
    ASSERT_TRUE(write_movie(MovieBuilder{}, "BOOK.MOV"));
    const long base_kib = run_converter_process().peak_kib;
    ASSERT_GT(base_kib, 0);
    const long LIMIT_KIB = (MOVIE_EXTRACT_EMULATOR.empty() ? 0 : base_kib) + 16 * 1024;

    // A 200 MiB audio chunk, all of it there: copied through a small buffer.
    constexpr std::int32_t BIG = 200 << 20;
    MovieBuilder movie;
    add_chunk(movie, CHUNK_AUDIO, BIG);
    write_sparse_movie(movie.bytes, static_cast<std::int64_t>(movie.bytes.size()) + BIG - 1, Bytes{0x7F});
    ChildRun r = run_converter_process();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fs::file_size("BOOK.WAV"), 44u + BIG);
    EXPECT_LT(r.peak_kib, LIMIT_KIB);
    std::printf("peak resident size with a 200 MiB audio chunk: %ld KiB (%ld KiB for an empty movie)\n", r.peak_kib,
                base_kib);

    // Lengths of 0x7FFFFFFF over a few bytes: nothing is sized from them.
    for (const int type : {int{CHUNK_AUDIO}, int{CHUNK_DELTA}, int{CHUNK_REPEAT}, 8}) {
        MovieBuilder damaged;
        add_chunk(damaged, static_cast<std::uint8_t>(type), 0x7FFFFFFF, Bytes{0, 0, 0, 4, 1, 2});
        ASSERT_TRUE(write_movie(damaged, "BOOK.MOV"));
        r = run_converter_process();
        EXPECT_EQ(r.status, 2) << type;
        EXPECT_LT(r.peak_kib, LIMIT_KIB) << type;
    }
}

}  // namespace
