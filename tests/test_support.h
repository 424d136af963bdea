// Shared by the tests: a scratch directory to run in, whole-file reading and
// the expected bytes of output files, built independently of the converter.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tools/movie_builder.h"

using Bytes = std::vector<std::uint8_t>;

// Every test that runs the converter gets a fresh directory as the current one.
class InScratchDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path dir;

private:
    std::filesystem::path previous;
};

struct RunResult {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Writes the movie as BOOK.MOV in the current directory and converts it.
RunResult convert(const MovieBuilder& movie);
// Converts whatever is in the current directory.
RunResult convert_here();

Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);
std::vector<std::string> tga_files();  // sorted

// A picture as people draw it: pixel (x, y) at y * 320 + x.
using Rows = std::vector<std::uint8_t>;

// Independent of the converter: the rows of a column-ordered frame.
Rows rows_of(const FrameBuffer& frame);

// The TGA the converter must write for a palette of 6-bit red, green, blue
// and a picture in rows.
Bytes expected_tga(const Palette6& palette, const Rows& rows);
Bytes expected_wav(const Bytes& samples);

// Distinct red, green and blue everywhere, so a swap cannot pass unseen.
Palette6 test_palette(int shift = 0);
// Components over the whole byte, 0 to 255, beyond the 6 bits a movie should
// hold: 65, 127 and 255 among them, where sloppy widenings differ.
Palette6 full_range_palette();

// An "F" of colour 7 on colour 1 with a one-pixel border of colour 2 on the
// left only: wrong under any flip, turn or row/column mix-up.
FrameBuffer letter_f_frame();

inline std::uint32_t le32_at(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

// Built with AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool UNDER_SANITIZER = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool UNDER_SANITIZER = true;
#else
inline constexpr bool UNDER_SANITIZER = false;
#endif
#else
inline constexpr bool UNDER_SANITIZER = false;
#endif

// The program that runs the converter on this host, if any (qemu-user for a
// cross build, wine for a Windows build); empty when it runs natively. The
// build's own tools run under TOOLS_EMULATOR.
#ifndef CONVERTER_EMULATOR
#define CONVERTER_EMULATOR ""
#endif
#ifndef TOOLS_EMULATOR
#define TOOLS_EMULATOR ""
#endif
inline const std::string MOVIE_EXTRACT_EMULATOR = CONVERTER_EMULATOR;
// The emulator and its options, then `program`: the words that start it.
std::vector<std::string> target_command(const std::string& program,
                                        const std::string& emulator = MOVIE_EXTRACT_EMULATOR);

// The converter under test is another build's Windows program, run under
// wine: every conversion starts it as a child, and the surroundings Windows
// does not have are skipped. Its console lines end in CR LF.
#ifdef CONVERTER_ON_WINDOWS
inline constexpr bool ON_WINDOWS = true;
#else
inline constexpr bool ON_WINDOWS = false;
#endif
inline const std::string NEWLINE = ON_WINDOWS ? "\r\n" : "\n";
#define SKIP_ON_WINDOWS(reason) \
    if (ON_WINDOWS) GTEST_SKIP() << "Windows: " << reason

// The converter as a child process in the current directory, with its
// standard error and output kept.
struct ChildOptions {
    std::vector<std::string> wrapper;  // a program to start it through, with its options
    std::vector<std::string> args;     // the converter's own arguments
    std::vector<std::string> env;      // extra NAME=value entries
    long long file_size_limit = -1;    // RLIMIT_FSIZE in bytes, when not -1
    bool fixed_addresses = false;      // no address randomisation, for repeatable runs
    bool unread_stderr = false;        // standard error a pipe whose reading end is closed
    int user = -1;                     // runs as this user and group id, when not -1 (needs root)
};
struct Child {
    pid_t pid = -1;
    int err_fd = -1;  // files that collect its standard error and output
    int out_fd = -1;
};
struct ChildEnd {
    int status = -1;  // exit status, or -1 when ended by a signal
    int signal = 0;   // the signal that ended it
    std::string err;  // lines end in "\n" on every platform
    std::string out;  // as written
};
Child start_converter(const ChildOptions& options = {});
ChildEnd wait_converter(Child child);
inline ChildEnd run_converter(const ChildOptions& options = {}) { return wait_converter(start_converter(options)); }
