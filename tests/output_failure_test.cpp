// Outputs that cannot be written: the failure is named with the system's
// reason, no partly written image is left, BOOK.WAV is finished for what was
// copied, and the exit status is 1.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// What the user keeps under an output name, and what becomes of it.
enum class Kind { DIRECTORY, LINK_TO_DIRECTORY, LINK_TO_FILE, LINK_TO_NOTHING, FULL_DEVICE, HARD_LINK_TO_MOVIE,
                  HARD_LINK_ELSEWHERE, READ_ONLY_HARD_LINK, HARD_LINK_IN_LOCKED_FOLDER };
struct Obstacle {
    const char* what;
    Kind kind;
    const char* name;  // the output name it stands under
    const char* says;  // the reason given after the name; nullptr when the run converts
};

bool is_root() { return geteuid() == 0; }

// Why the row cannot run here, or nullptr.
const char* cannot_make(Kind kind) {
    if (kind == Kind::FULL_DEVICE && ON_WINDOWS) return "a folder holds no devices";
    if (kind == Kind::FULL_DEVICE && !is_root()) return "making a device node needs root";
    if (ON_WINDOWS && (kind == Kind::LINK_TO_DIRECTORY || kind == Kind::LINK_TO_FILE || kind == Kind::LINK_TO_NOTHING))
        return "wine shows a Unix symbolic link as the file it points to, not as a reparse point";
    if ((kind == Kind::READ_ONLY_HARD_LINK || kind == Kind::HARD_LINK_IN_LOCKED_FOLDER) && ON_WINDOWS)
        return "wine keeps no Unix permissions from the converter";
    return nullptr;
}

// Makes the obstacle in the current folder; `keep` is the user's folder
// beside it, which holds what links point to.
void make_obstacle(Kind kind, const char* name) {
    switch (kind) {
        case Kind::DIRECTORY: fs::create_directory(name); break;
        case Kind::LINK_TO_DIRECTORY: fs::create_directory_symlink("../keep", name); break;
        case Kind::LINK_TO_FILE: fs::create_symlink("../keep/notes.txt", name); break;
        case Kind::LINK_TO_NOTHING: fs::create_symlink("../keep/new.txt", name); break;
        case Kind::FULL_DEVICE: ASSERT_EQ(mknod(name, S_IFCHR | 0666, makedev(1, 7)), 0) << std::strerror(errno); break;
        case Kind::HARD_LINK_TO_MOVIE: fs::create_hard_link("BOOK.MOV", name); break;
        case Kind::HARD_LINK_ELSEWHERE: fs::create_hard_link("../keep/notes.txt", name); break;
        case Kind::READ_ONLY_HARD_LINK:
            fs::permissions("../keep/notes.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
            fs::create_hard_link("../keep/notes.txt", name);
            break;
        case Kind::HARD_LINK_IN_LOCKED_FOLDER:
            // The files before it can be rewritten in place, but no name can be removed.
            for (const char* writable : {"BOOK.WAV", "00000000.tga"}) {
                std::ofstream(writable).put('x');
                fs::permissions(writable, fs::perms::all);
            }
            fs::permissions("../keep/notes.txt", fs::perms::all);
            fs::create_hard_link("../keep/notes.txt", name);
            break;
    }
}

// Converts a movie with each obstacle in the way, in a folder of its own
// beside keep/, which holds the user's notes.txt. Returns the rows that
// cannot run here, with the reasons.
std::string convert_past(const fs::path& dir, std::initializer_list<Obstacle> obstacles) {
    // The first picture writes outside the picture: damage, after which the
    // run goes on until a failure, which decides the status.
    MovieBuilder movie;
    add_palette(movie, test_palette(), 4);
    add_audio(movie, Bytes{1});
    add_delta(movie, 320, {{0, {5}}});
    add_audio(movie, Bytes{2});
    add_repeat(movie);
    add_repeat(movie);
    FrameBuffer four;
    four.fill(4);
    const Bytes image = expected_tga(test_palette(), rows_of(four));
    const Bytes notes = {'m', 'i', 'n', 'e'};
    const auto untouched = [&] {
        EXPECT_EQ(read_file(dir / "keep" / "notes.txt"), notes);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "keep"), fs::directory_iterator{}), 1) << "keep/ changed";
    };

    std::string skipped;
    for (const Obstacle& row : obstacles) {
        SCOPED_TRACE(row.what);
        if (const char* why = cannot_make(row.kind)) {
            skipped += std::string(skipped.empty() ? "" : "; ") + row.what + ": " + why;
            continue;
        }
        const fs::path here = dir / "run";
        fs::remove_all(here);
        fs::remove_all(dir / "keep");
        fs::create_directory(dir / "keep");
        std::ofstream(dir / "keep" / "notes.txt", std::ios::binary).write("mine", 4);
        fs::create_directory(here);
        fs::current_path(here);
        EXPECT_TRUE(write_movie(movie, "BOOK.MOV"));
        make_obstacle(row.kind, row.name);
        const fs::file_type type = fs::symlink_status(row.name).type();

        ChildOptions options;
        const bool locked = row.kind == Kind::HARD_LINK_IN_LOCKED_FOLDER;
        if (row.kind == Kind::READ_ONLY_HARD_LINK || locked) {
            // Root writes any file and changes any folder: run as a user who may not.
            if (is_root()) options.user = 65534;
            fs::permissions(dir, fs::perms::all);
            fs::permissions(here, locked ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                               fs::perms::others_read | fs::perms::others_exec
                                         : fs::perms::all);
            if (locked && !is_root()) fs::permissions(here, fs::perms::owner_write, fs::perm_options::remove);
        }
        const ChildEnd r = run_converter(options);
        fs::permissions(here, fs::perms::owner_all, fs::perm_options::add);
        const std::string name = row.name;
        const bool sound = name == "BOOK.WAV";
        untouched();
        if (row.says == nullptr) {
            EXPECT_EQ(r.status, 2) << r.err;
            EXPECT_NE(r.err.find("outside the picture"), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(read_file("BOOK.MOV"), movie.bytes) << "the movie changed";
            EXPECT_EQ(tga_files().size(), 3u);
            EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator{}), 5) << "a stray file";
            EXPECT_EQ(read_file(name), sound ? expected_wav(Bytes{1, 2}) : image);
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("movie-extract: " + name + ": " + row.says + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(fs::symlink_status(name).type(), type) << "not the run's to change or remove";
        if (sound) {
            EXPECT_TRUE(tga_files().empty()) << "without a sound track nothing else is written";
            continue;
        }
        // Everything before the obstacle was written, and the sound track finished.
        const std::vector<std::string> before =
            name == "00000000.tga" ? std::vector<std::string>{name} : std::vector<std::string>{"00000000.tga", name};
        EXPECT_EQ(tga_files(), before);
        if (name != "00000000.tga") {
            EXPECT_EQ(read_file("00000000.tga"), image);
        }
        EXPECT_EQ(read_file("BOOK.WAV"), name == "00000000.tga" ? expected_wav(Bytes{1}) : expected_wav(Bytes{1, 2}));
    }
    fs::current_path(dir);
    return skipped;
}

TEST_F(FailingOutput, WhatIsUnderAnOutputNameIsNeverHarmed) {
    const std::string skipped = convert_past(dir, {
        {"a directory", Kind::DIRECTORY, "00000001.tga", "Is a directory"},
        {"BOOK.WAV, another name of the movie", Kind::HARD_LINK_TO_MOVIE, "BOOK.WAV", nullptr},
        {"an image, another name of the movie", Kind::HARD_LINK_TO_MOVIE, "00000001.tga", nullptr},
        {"an image, another name of a file elsewhere", Kind::HARD_LINK_ELSEWHERE, "00000002.tga", nullptr},
    });
    EXPECT_EQ(skipped, "");
}

TEST_F(FailingOutput, LinksDevicesAndProtectedFilesUnderAnOutputNameAreNeverHarmed) {
    const std::string skipped = convert_past(dir, {
        {"a link to a directory", Kind::LINK_TO_DIRECTORY, "00000001.tga", "a symbolic link, which is not followed"},
        {"a link to a file", Kind::LINK_TO_FILE, "00000000.tga", "a symbolic link, which is not followed"},
        {"a link to a file that is not there", Kind::LINK_TO_NOTHING, "00000001.tga",
         "a symbolic link, which is not followed"},
        {"a link as BOOK.WAV", Kind::LINK_TO_FILE, "BOOK.WAV", "a symbolic link, which is not followed"},
        {"a full device", Kind::FULL_DEVICE, "00000001.tga", "No space left on device"},
        {"a full device as BOOK.WAV", Kind::FULL_DEVICE, "BOOK.WAV", "No space left on device"},
        {"a read-only file with another name", Kind::READ_ONLY_HARD_LINK, "00000001.tga", "Permission denied"},
        {"a file with another name, in a folder whose names cannot change", Kind::HARD_LINK_IN_LOCKED_FOLDER,
         "00000001.tga", "Permission denied"},
    });
    if (!skipped.empty()) GTEST_SKIP() << skipped;
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

}  // namespace
