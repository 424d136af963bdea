// Outputs that cannot be written: the failure is named with the system's
// reason, no partly written image is left, BOOK.WAV is finished for what was
// copied, and the exit status is 1.

#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using FailingOutput = InScratchDir;

MovieBuilder three_pictures_with_sound() {
    MovieBuilder movie;
    add_palette(movie, test_palette(), 4);
    for (std::uint8_t i = 1; i <= 3; ++i) {
        add_audio(movie, Bytes{i});
        add_repeat(movie);
    }
    return movie;
}

TEST_F(FailingOutput, SoundTrackThatCannotBeCreatedStopsEverything) {
    fs::create_directory("BOOK.WAV");
    const RunResult r = convert(three_pictures_with_sound());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("BOOK.WAV: Is a directory"), std::string::npos) << r.err;
    EXPECT_TRUE(tga_files().empty());
}

TEST_F(FailingOutput, ImageThatCannotBeCreatedEndsTheRun) {
    // The first picture writes outside the picture: damage, after which the
    // run goes on until the failure, which decides the status.
    MovieBuilder movie;
    add_palette(movie, test_palette(), 4);
    add_audio(movie, Bytes{1});
    add_delta(movie, 320, {{0, {5}}});
    add_audio(movie, Bytes{2});
    add_repeat(movie);
    add_repeat(movie);
    fs::create_directory("elsewhere");
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link to a directory" : "a directory");
        if (link) fs::create_directory_symlink("elsewhere", "00000001.tga");
        else fs::create_directory("00000001.tga");
        const RunResult r = convert(movie);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("outside the picture"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("00000001.tga: Is a directory"), std::string::npos) << r.err;
        // Not ours to remove.
        EXPECT_EQ(fs::symlink_status("00000001.tga").type(), link ? fs::file_type::symlink : fs::file_type::directory);
        EXPECT_TRUE(fs::exists("00000000.tga"));
        EXPECT_FALSE(fs::exists("00000002.tga"));
        EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{1, 2}));
        fs::remove("00000001.tga");
    }
}

TEST_F(FailingOutput, ImageOnAFullDiskIsRemoved) {
    SKIP_ON_WINDOWS("there is no /dev/full; Faults.RealFullDisksKeepEveryCompleteFile fills a real disk");
    fs::create_symlink("/dev/full", "00000000.tga");
    const RunResult r = convert(three_pictures_with_sound());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("00000000.tga: No space left on device"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists("00000000.tga"));
    EXPECT_TRUE(tga_files().empty());
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{1}));
}

TEST_F(FailingOutput, NamedPipesFailInsteadOfBlockingAndStay) {
    SKIP_ON_WINDOWS("a folder holds no named pipes");
    ASSERT_EQ(mkfifo("00000001.tga", 0600), 0);
    RunResult r = convert(three_pictures_with_sound());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("00000001.tga: "), std::string::npos) << r.err;
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{1, 2}));

    ASSERT_EQ(mkfifo("BOOK.WAV.pipe", 0600), 0);
    fs::remove("BOOK.WAV");
    fs::remove("00000000.tga");
    fs::rename("BOOK.WAV.pipe", "BOOK.WAV");
    r = convert(three_pictures_with_sound());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("BOOK.WAV: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists("00000000.tga"));

    // A pipe that somebody reads, but that fills up: the write fails, and the
    // pipe, which is not this run's, stays.
    fs::remove("BOOK.WAV");
    fs::remove("00000001.tga");
    ASSERT_EQ(mkfifo("00000000.tga", 0600), 0);
    const int reader = open("00000000.tga", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GT(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    r = convert(three_pictures_with_sound());
    close(reader);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("00000000.tga: Resource temporarily unavailable"), std::string::npos) << r.err;
    EXPECT_EQ(fs::symlink_status("00000000.tga").type(), fs::file_type::fifo);
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes{1}));
}

TEST_F(FailingOutput, SoundTrackOnAFullDiskIsReported) {
    SKIP_ON_WINDOWS("there is no /dev/full; Faults.RealFullDisksKeepEveryCompleteFile fills a real disk");
    fs::create_symlink("/dev/full", "BOOK.WAV");
    MovieBuilder small = three_pictures_with_sound();
    RunResult r = convert(small);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("BOOK.WAV: No space left on device"), std::string::npos) << r.err;
    // Its header could not be written: nothing else is, and the name is freed.
    EXPECT_TRUE(tga_files().empty());
    EXPECT_FALSE(file_exists("BOOK.WAV"));

    fs::create_symlink("/dev/full", "BOOK.WAV");
    MovieBuilder large;
    add_audio(large, Bytes(1 << 20, 0x80));
    add_repeat(large);
    r = convert(large);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("BOOK.WAV: No space left on device"), std::string::npos) << r.err;
    EXPECT_TRUE(tga_files().empty());
}

}  // namespace
