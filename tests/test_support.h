// Shared by the tests: a scratch directory to run in, whole-file reading and
// the expected bytes of output files, built independently of the converter.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
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

// An "F" of colour 7 on colour 1 with a one-pixel border of colour 2 on the
// left only: wrong under any flip, turn or row/column mix-up.
FrameBuffer letter_f_frame();

inline std::uint32_t le32_at(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}
