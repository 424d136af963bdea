// Whole conversions of well-formed movies, compared file for file.

#include <fstream>
#include <random>
#include <sys/stat.h>

#include "driver/extract.h"
#include "output/tga_writer.h"
#include "output/wav_writer.h"
#include "test_support.h"

namespace {

using Conversion = InScratchDir;

TEST_F(Conversion, PictureRepeatAndAudioComeOutByteForByte) {
    MovieBuilder movie;
    const Palette6 palette = test_palette();
    add_palette(movie, palette, 1);
    FrameBuffer filled;
    filled.fill(1);
    const FrameBuffer f = letter_f_frame();
    add_audio(movie, Bytes{10, 20, 30});
    add_delta_between(movie, filled, f);
    add_repeat(movie);
    add_audio(movie, Bytes{40, 50, 60, 70, 80});

    const RunResult r = convert(movie);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tga_files(), (std::vector<std::string>{"00000000.tga", "00000001.tga"}));
    const Bytes expected = expected_tga(palette, rows_of(f));
    EXPECT_EQ(read_file("00000000.tga"), expected);
    EXPECT_EQ(read_file("00000001.tga"), expected);
    const Bytes wav = read_file("BOOK.WAV");
    EXPECT_EQ(wav, expected_wav(Bytes{10, 20, 30, 40, 50, 60, 70, 80}));
    EXPECT_EQ(wav.size(), 52u);
    EXPECT_EQ(le32_at(wav, 4), 44u);
}

TEST_F(Conversion, EveryPixelLandsInPlaceWhateverChanged) {
    // Random pictures, then small changes in scattered columns, so that every
    // image depends on columns being turned into rows correctly, and on the
    // unchanged ones being left right.
    std::mt19937 rng(1234);
    MovieBuilder movie;
    const Palette6 palette = test_palette(5);
    add_palette(movie, palette, 0);
    FrameBuffer shown{}, next{};
    std::vector<Bytes> expected;
    for (auto& px : next) px = static_cast<std::uint8_t>(rng());
    add_delta_between(movie, shown, next);
    shown = next;
    expected.push_back(expected_tga(palette, rows_of(shown)));
    for (int step = 0; step < 6; ++step) {
        for (int k = 0; k < 40; ++k) {
            const std::size_t x = rng() % FRAME_WIDTH, y = rng() % FRAME_HEIGHT;
            next[x * FRAME_HEIGHT + y] = static_cast<std::uint8_t>(rng());
        }
        next[FRAME_BYTES - 1] = static_cast<std::uint8_t>(step);  // bottom right corner
        add_delta_between(movie, shown, next);
        shown = next;
        expected.push_back(expected_tga(palette, rows_of(shown)));
    }
    ASSERT_EQ(convert(movie).status, 0);
    ASSERT_EQ(tga_files().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(read_file(tga_files()[i]), expected[i]) << "image " << i;
}

TEST_F(Conversion, RunsCrossColumnsAndSkipsCountFromTheLastPixel) {
    MovieBuilder movie;
    // Start column 3, skip 198, four pixels of colour 9: rows 198 and 199 of
    // column 3, rows 0 and 1 of column 4.
    const Bytes chunk = {0x03, 0x08, 0x00, 0x00, 0x00, 0x03, 0x00, 0xC6, 0x04, 0x09, 0x09, 0x09, 0x09};
    movie.bytes.insert(movie.bytes.end(), chunk.begin(), chunk.end());
    // Column 10: two pixels from row 5, then skip 3 counts from row 7.
    add_delta(movie, 10, {{5, {4, 4}}, {3, {6}}});
    ASSERT_EQ(convert(movie).status, 0);

    FrameBuffer first{};
    first[3 * 200 + 198] = first[3 * 200 + 199] = first[4 * 200 + 0] = first[4 * 200 + 1] = 9;
    FrameBuffer second = first;
    second[10 * 200 + 5] = second[10 * 200 + 6] = 4;
    second[10 * 200 + 10] = 6;
    const Palette6 black{};
    EXPECT_EQ(read_file("00000000.tga"), expected_tga(black, rows_of(first)));
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(black, rows_of(second)));
}

TEST_F(Conversion, PaletteComponentsWidenAndLandBlueGreenRed) {
    MovieBuilder movie;
    Palette6 p{};
    p.fill(63);
    p[0] = 10, p[1] = 20, p[2] = 30;  // entry 0
    p[3] = 0, p[4] = 1, p[5] = 16;    // entry 1
    p[6] = 32, p[7] = 64, p[8] = 255;  // entry 2: out of range values are cut the same way
    add_palette(movie, p, 0);
    add_repeat(movie);
    ASSERT_EQ(convert(movie).status, 0);
    const Bytes tga = read_file("00000000.tga");
    ASSERT_EQ(tga.size(), 18u + 768u + 64000u);
    const Bytes head(tga.begin() + 18, tga.begin() + 27);
    EXPECT_EQ(head, (Bytes{121, 81, 40, 65, 4, 0, 255, 4, 130}));
    for (std::size_t i = 27; i < 18 + 768; ++i) ASSERT_EQ(tga[i], 255) << i;
}

TEST_F(Conversion, PaletteFillsThePictureAndShowsNothingByItself) {
    MovieBuilder movie;
    add_delta(movie, 0, {{0, {5, 5, 5}}});  // before any palette: black palette
    add_palette(movie, test_palette(), 9);
    add_palette(movie, test_palette(3), 12);
    add_repeat(movie);
    add_palette(movie, full_range_palette(), 13);
    add_repeat(movie);
    ASSERT_EQ(convert(movie).status, 0);
    ASSERT_EQ(tga_files().size(), 3u);
    FrameBuffer first{};
    first[0] = first[1] = first[2] = 5;
    EXPECT_EQ(read_file("00000000.tga"), expected_tga(Palette6{}, rows_of(first)));
    FrameBuffer filled;
    filled.fill(12);
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(test_palette(3), rows_of(filled)));
    filled.fill(13);
    EXPECT_EQ(read_file("00000002.tga"), expected_tga(full_range_palette(), rows_of(filled)));
}

TEST_F(Conversion, EmptyRunsAndBareColumnsChangeNothingButStillShow) {
    MovieBuilder movie;
    add_palette(movie, test_palette(), 3);
    add_delta(movie, 7, {});                     // length 2: the column only
    add_delta(movie, 7, {{0, {}}, {0, {}}});     // runs of skip 0, count 0
    add_chunk(movie, CHUNK_DELTA, 0, Bytes{0, 0});   // length below 2: its column is still read
    add_chunk(movie, CHUNK_DELTA, -5, Bytes{0, 0});
    add_chunk(movie, CHUNK_DELTA, INT32_MIN, Bytes{0, 0});  // no room to count 2 down from
    add_delta(movie, 0, {{0, {8}}});
    // Longer than the reader's buffer: 150,000 empty runs, then one pixel.
    std::vector<PictureRun> runs(150000);
    runs.push_back({0, {8}});
    add_delta(movie, 1, runs);
    add_audio(movie, Bytes{1, 2, 3});
    ASSERT_EQ(convert(movie).status, 0);
    ASSERT_EQ(tga_files().size(), 7u);
    FrameBuffer filled;
    filled.fill(3);
    const Bytes unchanged = expected_tga(test_palette(), rows_of(filled));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(read_file(tga_files()[i]), unchanged) << i;
    filled[0] = 8;
    EXPECT_EQ(read_file("00000005.tga"), expected_tga(test_palette(), rows_of(filled)));
    filled[200] = 8;
    EXPECT_EQ(read_file("00000006.tga"), expected_tga(test_palette(), rows_of(filled)));
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{1, 2, 3}));
}

TEST_F(Conversion, LengthsThatDisagreeWithThePayloadKeepTheirMeaning) {
    MovieBuilder movie;
    // A palette chunk claiming 0 bytes: 769 are read all the same.
    const Palette6 palette = test_palette();
    Bytes palette_payload(palette.begin(), palette.end());
    palette_payload.push_back(4);
    add_chunk(movie, CHUNK_PALETTE, 0, palette_payload);
    // A picture chunk whose last run reaches 3 bytes past its length: the run
    // is read in full and the next head follows it.
    add_chunk(movie, CHUNK_DELTA, 5, Bytes{1, 0, 0, 4, 6, 6, 6, 6});
    // The farthest a last run can reach: length 3, and a run of 255 bytes.
    Bytes farthest = {2, 0, 0, 255};
    farthest.resize(farthest.size() + 255, 7);
    add_chunk(movie, CHUNK_DELTA, 3, farthest);
    add_audio(movie, Bytes{1, 2, 3});
    ASSERT_EQ(convert(movie).status, 0);
    FrameBuffer expected;
    expected.fill(4);
    for (int y = 0; y < 4; ++y) expected[200 + y] = 6;
    EXPECT_EQ(read_file("00000000.tga"), expected_tga(test_palette(), rows_of(expected)));
    std::fill_n(expected.begin() + 400, 255, 7);
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(test_palette(), rows_of(expected)));
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{1, 2, 3}));
}

TEST_F(Conversion, UnknownChunksArePassedOver) {
    MovieBuilder movie;
    for (int type : {0, 5, 99, 255}) add_chunk(movie, static_cast<std::uint8_t>(type), 3, Bytes{3, 0, 0});
    add_chunk(movie, CHUNK_REPEAT, 4, Bytes{1, 2, 3, 4});  // a repeat's payload is not read either
    add_audio(movie, Bytes{7});
    add_delta(movie, 0, {{0, {1}}});
    ASSERT_EQ(convert(movie).status, 0);
    EXPECT_EQ(tga_files().size(), 2u);
    FrameBuffer expected{};
    EXPECT_EQ(read_file("00000000.tga"), expected_tga(Palette6{}, rows_of(expected)));
    expected[0] = 1;
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(Palette6{}, rows_of(expected)));
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{7}));
}

TEST_F(Conversion, MovieOfOnlyAHeaderGivesAnEmptySoundTrack) {
    MovieBuilder movie;
    movie.bytes.assign(32, 0xAB);
    const RunResult r = convert(movie);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(tga_files().empty());
    const Bytes empty_wav = {0x52, 0x49, 0x46, 0x46, 0x24, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56,
                             0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                             0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x22, 0x56, 0x00, 0x00, 0x01,
                             0x00, 0x08, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(read_file("BOOK.WAV"), empty_wav);
}

TEST_F(Conversion, OddAndEmptyAudioChunksAddExactlyTheirSamples) {
    MovieBuilder movie;
    add_audio(movie, Bytes{});
    add_audio(movie, Bytes{9, 8, 7, 6, 5});
    add_audio(movie, Bytes{});
    ASSERT_EQ(convert(movie).status, 0);
    const Bytes wav = read_file("BOOK.WAV");
    EXPECT_EQ(wav, expected_wav(Bytes{9, 8, 7, 6, 5}));
    EXPECT_EQ(wav.size(), 49u);  // no pad byte
}

TEST(WavHeader, SizesPastFourGiBStopAtTheLargestValueAndSaySo) {
    struct Bound {
        std::int64_t data_bytes;
        std::uint32_t riff_size, data_size;
        const char* capped;
    };
    const Bound bounds[] = {
        {0xFFFFFFDB, 0xFFFFFFFF, 0xFFFFFFDB, nullptr},
        {0xFFFFFFDC, 0xFFFFFFFF, 0xFFFFFFDC, "its RIFF size is"},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, "its RIFF size is"},
        {0x100000000, 0xFFFFFFFF, 0xFFFFFFFF, "its RIFF and data sizes are"},
        {std::int64_t{5} << 30, 0xFFFFFFFF, 0xFFFFFFFF, "its RIFF and data sizes are"},
    };
    const Bytes small = expected_wav(Bytes{});
    for (const Bound& bound : bounds) {
        SCOPED_TRACE(bound.data_bytes);
        const auto h = wav_header(bound.data_bytes);
        const Bytes header(h.begin(), h.end());
        EXPECT_EQ(le32_at(header, 4), bound.riff_size);
        EXPECT_EQ(le32_at(header, 40), bound.data_size);
        EXPECT_EQ(Bytes(header.begin() + 8, header.begin() + 40), Bytes(small.begin() + 8, small.begin() + 40));
        const char* capped = wav_capped_sizes(bound.data_bytes);
        EXPECT_EQ(capped == nullptr ? "" : std::string(capped), bound.capped == nullptr ? "" : bound.capped);
    }
}

TEST_F(Conversion, AWriterGivenAnotherPictureWritesItWhole) {
    // A writer keeps the rows of the picture it last wrote, and turns again
    // only what the run says changed there; another picture is all new.
    const auto writer = std::make_unique<FrameWriter>();
    frame_writer_init(*writer);
    const auto first = std::make_unique<PictureState>();
    const auto second = std::make_unique<PictureState>();
    first->frame.fill(7);
    second->frame.fill(9);
    ASSERT_EQ(write_frame_image(*writer, *first), 0);
    ASSERT_EQ(write_frame_image(*writer, *second), 0);
    FrameBuffer nine;
    nine.fill(9);
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(Palette6{}, rows_of(nine)));
}

TEST_F(Conversion, ASecondRunStartsAgainFromNumberZero) {
    MovieBuilder movie;
    add_palette(movie, test_palette(), 2);
    add_audio(movie, Bytes(30000, 0x21));
    add_repeat(movie);
    add_repeat(movie);
    ASSERT_EQ(convert(movie).status, 0);
    MovieBuilder shorter;
    add_palette(shorter, test_palette(), 6);
    add_audio(shorter, Bytes{7, 8, 9});
    add_repeat(shorter);
    ASSERT_EQ(convert(shorter).status, 0);
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{7, 8, 9}));  // nothing of the first run's left
    FrameBuffer six, two;
    six.fill(6);
    two.fill(2);
    EXPECT_EQ(read_file("00000000.tga"), expected_tga(test_palette(), rows_of(six)));
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(test_palette(), rows_of(two)));
}

TEST_F(Conversion, ImagesOfAnEarlierRunAfterTheLastAreNamed) {
    // Runs of so many pictures, one after another in one folder, and what
    // each says of the images an earlier run left after its own.
    const auto pictures = [](int count) {
        MovieBuilder movie;
        for (int i = 0; i < count; ++i) add_repeat(movie);
        return movie;
    };
    struct Step {
        int pictures;
        std::string says;
    };
    const std::string video = "; a video made from this folder would show ";
    const Step steps[] = {
        {3, ""},  // an empty folder
        {1, "movie-extract: 2 images from an earlier run follow (00000001.tga to 00000002.tga)" + video + "them\n"},
        {2, "movie-extract: 1 image from an earlier run follows (00000002.tga)" + video + "it\n"},
        {4, ""},  // longer than the earlier runs
        {0, "movie-extract: 4 images from an earlier run follow (00000000.tga to 00000003.tga)" + video + "them\n"},
    };
    std::ofstream("00000009.tga").put('x');  // after a gap: not counted
    for (const Step& step : steps) {
        SCOPED_TRACE(step.pictures);
        const RunResult r = convert(pictures(step.pictures));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, step.says);
    }
}

TEST_F(Conversion, ImagesAreNumberedWithEightDigits) {
    MovieBuilder movie;
    for (int i = 0; i < 124; ++i) add_repeat(movie);
    ASSERT_EQ(convert(movie).status, 0);
    const auto names = tga_files();
    ASSERT_EQ(names.size(), 124u);
    EXPECT_EQ(names.front(), "00000000.tga");
    EXPECT_EQ(names.back(), "00000123.tga");
    // Past eight digits the number is written in full.
    EXPECT_STREQ(frame_image_name(99999999).text, "99999999.tga");
    EXPECT_STREQ(frame_image_name(100000000).text, "100000000.tga");
}

TEST_F(Conversion, MovieNameIsFoundWhateverItsLetterCase) {
    MovieBuilder movie;
    add_repeat(movie);
    ASSERT_TRUE(write_movie(movie, "book.Mov"));
    const RunResult r = convert_here();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(file_exists("00000000.tga"));
    EXPECT_TRUE(file_exists("BOOK.WAV"));
}

TEST_F(Conversion, TwoNamesOfTheMovieInOtherLetterCasesAreNeitherGuessedAt) {
    SKIP_ON_WINDOWS("names that differ only in letter case cannot both be in a folder");
    MovieBuilder movie;
    add_repeat(movie);
    ASSERT_TRUE(write_movie(movie, "book.Mov"));
    ASSERT_TRUE(write_movie(movie, "Book.mov"));
    const RunResult r = convert_here();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "error opening BOOK.MOV file" + NEWLINE);
    EXPECT_EQ(r.err, "movie-extract: BOOK.MOV: more than one file matches it when letter case is ignored: "
                     "Book.mov, book.Mov\n");
    EXPECT_FALSE(file_exists("BOOK.WAV"));
}

TEST_F(Conversion, MissingMovieIsReportedAndNothingIsWritten) {
    const RunResult r = convert_here();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "error opening BOOK.MOV file" + NEWLINE);
    EXPECT_NE(r.err.find("BOOK.MOV: No such file or directory"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty("."));

    std::filesystem::create_directory("BOOK.MOV");
    const RunResult d = convert_here();
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.out, "error opening BOOK.MOV file" + NEWLINE);
    EXPECT_NE(d.err.find("Is a directory"), std::string::npos) << d.err;
    EXPECT_FALSE(file_exists("BOOK.WAV"));
}

TEST_F(Conversion, AMovieThatIsANamedPipeIsNotOpened) {
    // It would block the open until someone wrote to it.
    SKIP_ON_WINDOWS("a folder holds no named pipes");
    ASSERT_EQ(mkfifo("BOOK.MOV", 0600), 0);
    const RunResult p = convert_here();
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.out, "error opening BOOK.MOV file" + NEWLINE);
    EXPECT_NE(p.err.find("BOOK.MOV: not a regular file"), std::string::npos) << p.err;
    EXPECT_FALSE(file_exists("BOOK.WAV"));
}

}  // namespace
