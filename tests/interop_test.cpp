// Ordinary tools read what the converter writes: ImageMagick decodes every
// image to the exact colours, sox and ffprobe read the sound track's format
// and length. A test whose tool is missing is skipped, never passed.

#include <array>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "test_support.h"

namespace {

using Interop = InScratchDir;

bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// Standard output of a shell command; empty when it fails.
std::string output_of(const std::string& command) {
    std::string out;
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 4096> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) out.append(chunk.data(), n);
    return pclose(pipe) == 0 ? out : std::string{};
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// ImageMagick proper; /usr/local/bin may hold something else named convert.
std::string imagemagick() {
    for (const char* path : {"/usr/bin/magick", "/usr/bin/convert"})
        if (executable(path) && output_of(std::string(path) + " -version").find("ImageMagick") != std::string::npos)
            return path;
    return {};
}

// Red, green, blue of every pixel, top row first, computed from the movie's
// own 6-bit palette and the picture's indices.
Bytes expected_rgb(const Palette6& palette, const Rows& rows) {
    Bytes rgb;
    rgb.reserve(rows.size() * 3);
    for (std::uint8_t index : rows)
        for (int c = 0; c < 3; ++c) {
            const int v = palette[3 * index + c];
            rgb.push_back(static_cast<std::uint8_t>((v << 2) | (v >> 4)));
        }
    return rgb;
}

constexpr std::size_t SAMPLES = 22051;  // odd, and more than a second

// An "F" under one palette, then the same picture under another, with a
// region repainted; an odd number of samples in three chunks.
void convert_interop_movie(std::vector<Bytes>& rgb_of_images) {
    MovieBuilder movie;
    add_palette(movie, test_palette(0), 1);
    FrameBuffer ones;
    ones.fill(1);
    const FrameBuffer f = letter_f_frame();
    add_delta_between(movie, ones, f);
    rgb_of_images.push_back(expected_rgb(test_palette(0), rows_of(f)));
    Bytes samples(SAMPLES);
    for (std::size_t i = 0; i < SAMPLES; ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
    add_audio(movie, Bytes(samples.begin(), samples.begin() + 1001));
    add_palette(movie, test_palette(9), 1);
    add_delta_between(movie, ones, f);
    rgb_of_images.push_back(expected_rgb(test_palette(9), rows_of(f)));
    add_audio(movie, Bytes(samples.begin() + 1001, samples.begin() + 20000));
    FrameBuffer g = f;
    for (int x = 200; x < 260; ++x)
        for (int y = 150; y < 190; ++y) g[x * FRAME_HEIGHT + y] = static_cast<std::uint8_t>(x + y);
    add_delta_between(movie, f, g);
    rgb_of_images.push_back(expected_rgb(test_palette(9), rows_of(g)));
    add_audio(movie, Bytes(samples.begin() + 20000, samples.end()));
    ASSERT_EQ(convert(movie).status, 0);
}

TEST_F(Interop, ImageMagickDecodesEveryImageToTheMoviesColours) {
    const std::string magick = imagemagick();
    if (magick.empty()) GTEST_SKIP() << "ImageMagick is not installed (Debian package imagemagick)";
    std::vector<Bytes> expected;
    convert_interop_movie(expected);
    ASSERT_EQ(tga_files().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string name = tga_files()[i];
        const std::string info = output_of(magick + " " + name + " -format '%w %h' info:");
        EXPECT_EQ(info, "320 200") << name;
        ASSERT_EQ(std::system((magick + " " + name + " -depth 8 rgb:decoded.rgb").c_str()), 0) << name;
        EXPECT_TRUE(read_file("decoded.rgb") == expected[i]) << name << " decodes to other colours";
    }
}

TEST_F(Interop, SoxReadsTheSoundTrackFormatAndLength) {
    if (!executable("/usr/bin/soxi")) GTEST_SKIP() << "sox is not installed (Debian package sox)";
    std::vector<Bytes> images;
    convert_interop_movie(images);
    EXPECT_EQ(trimmed(output_of("/usr/bin/soxi -r BOOK.WAV")), "22050");
    EXPECT_EQ(trimmed(output_of("/usr/bin/soxi -c BOOK.WAV")), "1");
    EXPECT_EQ(trimmed(output_of("/usr/bin/soxi -b BOOK.WAV")), "8");
    EXPECT_EQ(trimmed(output_of("/usr/bin/soxi -e BOOK.WAV")), "Unsigned Integer PCM");
    EXPECT_EQ(trimmed(output_of("/usr/bin/soxi -s BOOK.WAV")), std::to_string(SAMPLES));
}

TEST_F(Interop, FfprobeAgreesOnTheSoundTrack) {
    if (!executable("/usr/bin/ffprobe")) GTEST_SKIP() << "ffprobe is not installed (Debian package ffmpeg)";
    std::vector<Bytes> images;
    convert_interop_movie(images);
    const std::string streams = output_of(
        "/usr/bin/ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts "
        "-of default=noprint_wrappers=1 BOOK.WAV");
    EXPECT_NE(streams.find("codec_name=pcm_u8"), std::string::npos) << streams;
    EXPECT_NE(streams.find("sample_rate=22050"), std::string::npos) << streams;
    EXPECT_NE(streams.find("channels=1"), std::string::npos) << streams;
    EXPECT_NE(streams.find("duration_ts=" + std::to_string(SAMPLES)), std::string::npos) << streams;
}

}  // namespace
