// Damaged movies: everything before the damage is written, BOOK.WAV is
// always finished, each damaged chunk gets one line on standard error and
// the exit status is 2.

#include <algorithm>

#include "fuzz/conversion_checks.h"
#include "test_support.h"

namespace {

using DamagedMovie = InScratchDir;

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The run reported exactly these chunk offsets as damaged, in this order.
void expect_damage_at(const RunResult& r, std::initializer_list<std::size_t> offsets) {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(line_count(r.err), offsets.size()) << r.err;
    std::size_t from = 0;
    for (std::size_t offset : offsets) {
        const std::string where = "BOOK.MOV: chunk at offset " + std::to_string(offset) + ":";
        const std::size_t at = r.err.find(where, from);
        EXPECT_NE(at, std::string::npos) << "no report for offset " << offset << " in:\n" << r.err;
        if (at != std::string::npos) from = at + 1;
    }
}

FrameBuffer filled(std::uint8_t colour) {
    FrameBuffer f;
    f.fill(colour);
    return f;
}

// A palette filling colour 3, one sample and one picture: what every damaged
// movie below starts with.
MovieBuilder good_start() {
    MovieBuilder movie;
    add_palette(movie, test_palette(), 3);
    add_audio(movie, Bytes{0x11});
    add_repeat(movie);
    return movie;
}

TEST_F(DamagedMovie, ChunkHeadCutShortEndsTheRun) {
    for (std::size_t left = 1; left <= 4; ++left) {
        MovieBuilder movie = good_start();
        const std::size_t at = movie.bytes.size();
        movie.bytes.insert(movie.bytes.end(), left, CHUNK_REPEAT);
        const RunResult r = convert(movie);
        expect_damage_at(r, {at});
        EXPECT_NE(r.err.find("chunk head cut short"), std::string::npos) << r.err;
        EXPECT_EQ(tga_files().size(), 1u);
        EXPECT_EQ(read_file("00000000.tga"), expected_tga(test_palette(), rows_of(filled(3))));
        EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{0x11}));
    }
}

TEST_F(DamagedMovie, MovieShorterThanItsHeaderGivesAnEmptySoundTrack) {
    for (const std::size_t size : {0u, 10u, 31u}) {
        MovieBuilder movie;
        movie.bytes.assign(size, CHUNK_REPEAT);
        const RunResult r = convert(movie);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "movie-extract: BOOK.MOV: header cut short (" + std::to_string(size) + " of 32 bytes)\n");
        EXPECT_TRUE(tga_files().empty());
        EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{})) << size;
    }
}

TEST_F(DamagedMovie, NegativeLengthEndsTheRunBeforeTheChunk) {
    for (const int type : {int{CHUNK_AUDIO}, int{CHUNK_REPEAT}, 9}) {
        std::filesystem::remove("00000000.tga");
        MovieBuilder movie = good_start();
        const std::size_t at = movie.bytes.size();
        add_chunk(movie, static_cast<std::uint8_t>(type), -1, Bytes(64, 0x22));
        add_repeat(movie);
        const RunResult r = convert(movie);
        expect_damage_at(r, {at});
        EXPECT_NE(r.err.find("negative length"), std::string::npos) << r.err;
        EXPECT_EQ(tga_files().size(), 1u) << type;
        EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{0x11})) << type;
    }
}

TEST_F(DamagedMovie, PaletteCutShortLeavesThePictureAlone) {
    MovieBuilder movie = good_start();
    const std::size_t at = movie.bytes.size();
    add_chunk(movie, CHUNK_PALETTE, 769, Bytes(768, 63));  // the fill colour is missing
    const RunResult r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_NE(r.err.find("(768 of 769 bytes)"), std::string::npos) << r.err;
    EXPECT_EQ(tga_files().size(), 1u);
}

TEST_F(DamagedMovie, AudioCutShortKeepsTheSamplesThatAreThere) {
    MovieBuilder movie = good_start();
    const std::size_t at = movie.bytes.size();
    add_chunk(movie, CHUNK_AUDIO, 10, Bytes{1, 2, 3, 4});
    const RunResult r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_NE(r.err.find("(4 of 10 bytes)"), std::string::npos) << r.err;
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{0x11, 1, 2, 3, 4}));

    // Found under another letter case, the movie is named as found; a file
    // system that ignores case finds it as BOOK.MOV itself.
    std::filesystem::remove("BOOK.MOV");
    ASSERT_TRUE(write_movie(movie, "book.mov"));
    const RunResult lower = convert_here();
    EXPECT_EQ(lower.status, 2);
    const std::string found = ON_WINDOWS ? "BOOK.MOV" : "book.mov";
    EXPECT_NE(lower.err.find("movie-extract: " + found + ": chunk at offset " + std::to_string(at) + ": "),
              std::string::npos) << lower.err;
}

TEST_F(DamagedMovie, PictureCutShortKeepsItsPixelsAndItsImage) {
    struct Cut {
        const char* where;
        Bytes payload;      // all that is left after the head
        std::size_t from;   // the kept pixels of colour 9 in column 0
        std::size_t kept;
        std::int32_t length = 40;
        std::int64_t needed = 40;  // what the chunk needed after its head
    };
    // Past the reader's buffer: 140,000 empty runs, then a run cut in its bytes.
    Bytes long_payload = {0, 0};
    long_payload.resize(2 + 280000, 0);
    long_payload.insert(long_payload.end(), {0, 5, 9, 9, 9});
    const Cut cuts[] = {
        {"in its column", {0}, 0, 0},
        {"in a run head", {0, 0, 0, 2, 9, 9, 0}, 0, 2},
        {"in a run's bytes", {0, 0, 0, 5, 9, 9, 9}, 0, 3},
        {"in a run's bytes after a skip", {0, 0, 4, 5, 9, 9, 9}, 4, 3},
        {"before a run's bytes", {0, 0, 0, 2, 9, 9, 0, 5}, 0, 2},
        {"past the reader's buffer", long_payload, 0, 3, 300000, 300000},
        {"in a last run that reaches past the length", {0, 0, 0, 10, 9, 9, 9}, 0, 3, 6, 14},
        {"in its column, with a length below 2", {0}, 0, 0, 0, 2},
    };
    for (const Cut& cut : cuts) {
        MovieBuilder movie = good_start();
        const std::size_t at = movie.bytes.size();
        add_chunk(movie, CHUNK_DELTA, cut.length, cut.payload);
        const RunResult r = convert(movie);
        expect_damage_at(r, {at});
        const std::string had = std::to_string(cut.payload.size()) + " of " + std::to_string(cut.needed) + " bytes";
        EXPECT_NE(r.err.find("picture chunk cut short (" + had + ")\n"), std::string::npos) << cut.where << r.err;
        FrameBuffer expected = filled(3);
        std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(cut.from), cut.kept, 9);
        EXPECT_EQ(read_file("00000001.tga"), expected_tga(test_palette(), rows_of(expected))) << cut.where;
        EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{0x11})) << cut.where;
    }
}

TEST_F(DamagedMovie, PassingOverThePastTheEndStopsAfterTheRepeatShows) {
    MovieBuilder movie = good_start();
    std::size_t at = movie.bytes.size();
    add_chunk(movie, CHUNK_REPEAT, 100, Bytes(10, 0));
    RunResult r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_NE(r.err.find("repeat chunk runs past the end of the movie (10 of 100 bytes)"), std::string::npos)
        << r.err;
    EXPECT_EQ(tga_files().size(), 2u);

    std::filesystem::remove("00000001.tga");
    movie = good_start();
    at = movie.bytes.size();
    add_chunk(movie, CHUNK_AUDIO, 100);  // not one byte of it is there
    r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_NE(r.err.find("audio chunk runs past the end of the movie (0 of 100 bytes)"), std::string::npos) << r.err;
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{0x11}));

    movie = good_start();
    at = movie.bytes.size();
    add_chunk(movie, 77, 100, Bytes(10, 0));
    r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_EQ(tga_files().size(), 1u);
}

TEST_F(DamagedMovie, PixelsOutsideThePictureAreDroppedAndTheRunGoesOn) {
    MovieBuilder movie = good_start();
    std::vector<std::size_t> offsets;
    auto mark = [&] { offsets.push_back(movie.bytes.size()); };
    mark();  // column -1: its 200 bytes fall before the picture, the rest start column 0
    Bytes across(255);
    for (std::size_t i = 0; i < across.size(); ++i) across[i] = static_cast<std::uint8_t>(i);
    add_delta(movie, -1, {{0, across}});
    mark();  // a column past the right edge
    add_delta(movie, 320, {{0, Bytes(4, 8)}});
    mark();
    add_delta(movie, -32768, {{255, Bytes(255, 8)}});
    mark();  // the last column, running past the last pixel: 10 kept, 10 dropped
    add_delta(movie, 319, {{190, Bytes(20, 6)}});
    add_delta(movie, 1, {{0, {5}}});  // well inside: not reported
    add_audio(movie, Bytes{0x12});
    const RunResult r = convert(movie);
    ASSERT_EQ(offsets.size(), 4u);
    expect_damage_at(r, {offsets[0], offsets[1], offsets[2], offsets[3]});
    EXPECT_NE(r.err.find("outside the picture"), std::string::npos) << r.err;

    FrameBuffer expected = filled(3);
    std::copy(across.begin() + 200, across.end(), expected.begin());
    EXPECT_EQ(read_file("00000001.tga"), expected_tga(test_palette(), rows_of(expected)));
    EXPECT_EQ(read_file("00000003.tga"), expected_tga(test_palette(), rows_of(expected)));
    std::fill_n(expected.begin() + 319 * 200 + 190, 10, 6);
    EXPECT_EQ(read_file("00000004.tga"), expected_tga(test_palette(), rows_of(expected)));
    expected[200] = 5;
    EXPECT_EQ(read_file("00000005.tga"), expected_tga(test_palette(), rows_of(expected)));
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{0x11, 0x12}));
}

TEST_F(DamagedMovie, CutBeforeAnyByteOutsideThePictureDropsNothing) {
    MovieBuilder movie = good_start();
    const std::size_t at = movie.bytes.size();
    add_chunk(movie, CHUNK_DELTA, 100, Bytes{0xFF, 0xFF, 0, 10});  // column -1, then the movie ends
    const RunResult r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_NE(r.err.find("picture chunk cut short (4 of 100 bytes)\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("outside"), std::string::npos) << r.err;
}

TEST_F(DamagedMovie, OneLinePerChunkEvenWhenCutShortOutsideThePicture) {
    MovieBuilder movie = good_start();
    const std::size_t at = movie.bytes.size();
    add_chunk(movie, CHUNK_DELTA, 100, Bytes{0x40, 0x01, 0, 10, 1, 2});  // column 320, cut in its run
    const RunResult r = convert(movie);
    expect_damage_at(r, {at});
    EXPECT_NE(r.err.find("writes outside the picture (dropped) and is cut short (6 of 100 bytes)\n"),
              std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("may not be a movie"), std::string::npos) << "not the first chunk: " << r.err;
    EXPECT_EQ(tga_files().size(), 2u);
}

TEST_F(DamagedMovie, AFirstChunkBeyondUseSaysTheFileMayBeOfAnotherKind) {
    // Another kind of file saved as BOOK.MOV: its bytes after the first 32
    // make a first chunk that is of no use. Later chunks like it are only
    // damage.
    struct FirstChunk {
        const char* what;
        std::uint8_t type;
        std::int32_t length;
        Bytes payload;
        bool hint;
    };
    const FirstChunk rows[] = {
        {"a length past the end", 0, 1711800320, Bytes(40, 7), true},
        {"an audio chunk past the end", CHUNK_AUDIO, 5000, Bytes(40, 7), true},
        {"a negative length", 9, -77, Bytes(40, 7), true},
        {"a palette past the end", CHUNK_PALETTE, 769, Bytes(40, 7), true},
        {"a picture past the end", CHUNK_DELTA, 5000, Bytes{0, 0, 0, 3, 1, 2, 3}, true},
        {"a picture outside from its first run", CHUNK_DELTA, 7, Bytes{0x88, 0x13, 0, 3, 1, 2, 3}, true},
        {"a picture outside only from its second run", CHUNK_DELTA, 12,
         Bytes{0x3F, 0x01, 0, 3, 1, 2, 3, 255, 3, 1, 2, 3}, false},
    };
    for (const FirstChunk& row : rows) {
        SCOPED_TRACE(row.what);
        remove_conversion_outputs();
        MovieBuilder movie;
        add_chunk(movie, row.type, row.length, row.payload);
        RunResult r = convert(movie);
        expect_damage_at(r, {MOVIE_HEADER_BYTES});
        const std::string hint = "; BOOK.MOV may not be a movie of this kind\n";
        EXPECT_EQ(r.err.ends_with(hint), row.hint) << r.err;
        // The same chunk after a good one is damage, with no word of the kind.
        remove_conversion_outputs();
        movie = good_start();
        const std::size_t at = movie.bytes.size();
        add_chunk(movie, row.type, row.length, row.payload);
        r = convert(movie);
        expect_damage_at(r, {at});
        EXPECT_EQ(r.err.find("may not be a movie"), std::string::npos) << r.err;
    }
}

}  // namespace
