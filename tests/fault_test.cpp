// Faults of the surroundings: full disks, failing calls, file-size limits and
// signals. After every fault the same promise holds: the images present are
// 0..k-1, each exactly as a complete run writes it, and BOOK.WAV is a valid
// WAV stating the first samples of a complete run.

#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <sstream>
#include <filesystem>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "output/wav_writer.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Faults = InScratchDir;

struct Reference {
    std::vector<Bytes> images;
    Bytes samples;
};

// What a complete run makes of the movie at `movie`, converted in a folder of its own.
Reference reference_of(const fs::path& movie) {
    const fs::path here = fs::current_path();
    const fs::path dir = here / "reference";
    fs::create_directory(dir);
    fs::current_path(dir);
    fs::copy_file(movie, "BOOK.MOV");
    const RunResult r = convert_here();
    EXPECT_EQ(r.status, 0) << r.err;
    Reference ref;
    for (const auto& name : tga_files()) ref.images.push_back(read_file(name));
    const Bytes wav = read_file("BOOK.WAV");
    ref.samples.assign(wav.begin() + WAV_HEADER_BYTES, wav.end());
    fs::current_path(here);
    fs::remove_all(dir);
    return ref;
}

struct Kept {
    std::size_t images = 0;
    std::int64_t stated = -1;  // samples the header states; -1 without BOOK.WAV
};

// Checks the promise in `dir` and says what was kept. A kill may leave the
// last image cut and up to `unstated` samples after those the header states.
Kept expect_kept(const Reference& ref, const fs::path& dir, std::int64_t unstated = 0, bool killed = false) {
    Kept kept;
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".tga")) images.push_back(name);
        else EXPECT_TRUE(name == "BOOK.MOV" || name == "BOOK.WAV") << "stray file " << name;
    }
    std::sort(images.begin(), images.end());
    for (std::size_t i = 0; i < images.size(); ++i) {
        char want[32];
        std::snprintf(want, sizeof want, "%08zu.tga", i);
        EXPECT_EQ(images[i], want) << "images are not numbered 0.." << images.size() - 1;
        const bool may_be_cut = killed && i + 1 == images.size();
        if (i < ref.images.size() && !may_be_cut) {
            EXPECT_TRUE(read_file(dir / images[i]) == ref.images[i]) << images[i] << " differs from a complete run's";
        }
    }
    EXPECT_LE(images.size(), ref.images.size());
    kept.images = images.size();

    if (!file_exists(dir / "BOOK.WAV")) {
        EXPECT_TRUE(images.empty()) << "images without BOOK.WAV";
        return kept;
    }
    const Bytes wav = read_file(dir / "BOOK.WAV");
    if (wav.size() < WAV_HEADER_BYTES) {
        ADD_FAILURE() << "BOOK.WAV is " << wav.size() << " bytes, shorter than its header";
        return kept;
    }
    kept.stated = le32_at(wav, 40);
    const auto in_file = static_cast<std::int64_t>(wav.size() - WAV_HEADER_BYTES);
    const Bytes samples(wav.begin() + WAV_HEADER_BYTES, wav.end());
    const Bytes stated_prefix(samples.begin(), samples.begin() + std::min(kept.stated, in_file));
    const Bytes header = expected_wav(stated_prefix);
    EXPECT_TRUE(std::equal(header.begin(), header.begin() + WAV_HEADER_BYTES, wav.begin())) << "BOOK.WAV header";
    EXPECT_LE(kept.stated, in_file) << "the header states samples the file lacks";
    EXPECT_LE(in_file - kept.stated, unstated) << "samples in BOOK.WAV that its header leaves out";
    EXPECT_LE(samples.size(), ref.samples.size());
    if (samples.size() <= ref.samples.size()) {
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), ref.samples.begin())) << "samples differ";
    }
    return kept;
}

// Everything a complete run writes, with nothing said.
void expect_complete(const Reference& ref, const fs::path& dir, const std::string& err) {
    const Kept kept = expect_kept(ref, dir);
    EXPECT_EQ(kept.images, ref.images.size());
    EXPECT_EQ(kept.stated, static_cast<std::int64_t>(ref.samples.size()));
    EXPECT_EQ(err, "");
}

// Pictures that differ from each other, sound between them, and a palette.
MovieBuilder varied_movie(int pictures, std::size_t samples_each) {
    MovieBuilder movie;
    add_palette(movie, test_palette(3), 1);
    FrameBuffer shown;
    shown.fill(1);
    FrameBuffer next = letter_f_frame();
    for (int i = 0; i < pictures; ++i) {
        Bytes sound(samples_each);
        for (std::size_t s = 0; s < sound.size(); ++s) sound[s] = static_cast<std::uint8_t>(i * 7 + s * 3);
        add_audio(movie, sound);
        next[static_cast<std::size_t>(i % FRAME_WIDTH) * FRAME_HEIGHT + static_cast<std::size_t>(i % FRAME_HEIGHT)] =
            static_cast<std::uint8_t>(i + 9);
        add_delta_between(movie, shown, next);
        shown = next;
    }
    return movie;
}

// Unmounts the small disk. Under wine the server holds the converter's
// current folder open a moment after the converter has ended, so a busy disk
// is tried again for a while; a disk still busy then names what holds it,
// and is detached.
std::string unmount(const fs::path& disk) {
    for (int tries = 0; umount(disk.c_str()) != 0; ++tries) {
        if (errno != EBUSY || tries == 200) {
            std::string why = std::strerror(errno);
            for (const auto& proc : fs::directory_iterator("/proc")) {
                std::error_code ec;
                for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec)) {
                    const fs::path held = fs::read_symlink(fd.path(), ec);
                    if (!ec && held.native().starts_with(disk.native())) why += "; held by " + proc.path().string();
                }
                const fs::path cwd = fs::read_symlink(proc.path() / "cwd", ec);
                if (!ec && cwd.native().starts_with(disk.native())) why += "; the folder of " + proc.path().string();
            }
            umount2(disk.c_str(), MNT_DETACH);  // out of the way of later tests
            return why;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
}

void clear_outputs(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != "BOOK.MOV") fs::remove(entry.path());
}

TEST_F(Faults, RealFullDisksKeepEveryCompleteFile) {
    // The disk fills at an image, inside the sound track, or at the last
    // samples written before the final header.
    MovieBuilder movie = varied_movie(8, 7000);
    add_audio(movie, Bytes(5000, 0x55));
    ASSERT_TRUE(write_movie(movie, "movie"));
    const Reference ref = reference_of(dir / "movie");
    const fs::path disk = dir / "disk";
    fs::create_directory(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4k") != 0)
        GTEST_SKIP() << "cannot mount a small disk here: " << std::strerror(errno) << " (needs root)";
    umount(disk.c_str());

    bool at_image = false, inside_sound = false, at_last_samples = false, complete = false;
    for (int pages = 1; pages <= 160 && !complete; ++pages) {
        const std::string size = "size=" + std::to_string(4 * pages) + "k";
        ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()), 0);
        fs::current_path(disk);
        fs::create_symlink(dir / "movie", "BOOK.MOV");
        const ChildEnd end = run_converter();
        const Kept kept = expect_kept(ref, ".");
        if (end.status == 0) {
            complete = true;
            expect_complete(ref, ".", end.err);
        } else {
            EXPECT_EQ(end.status, 1) << size;
            EXPECT_NE(end.err.find("No space left on device"), std::string::npos)
                << size << ": status " << end.status << ", signal " << end.signal << ", standard error \"" << end.err
                << "\", standard output \"" << end.out << "\"";
            if (end.err.find(".tga: No space") != std::string::npos) at_image = true;
            if (end.err.find("BOOK.WAV: No space") != std::string::npos)
                (kept.images == ref.images.size() ? at_last_samples : inside_sound) = true;
        }
        clear_outputs(".");
        fs::current_path(dir);
        ASSERT_EQ(unmount(disk), "");
    }
    EXPECT_TRUE(at_image && inside_sound && at_last_samples && complete)
        << at_image << inside_sound << at_last_samples << complete;
}

TEST_F(Faults, InjectedFailuresKeepTheSamePromise) {
    if (!MOVIE_EXTRACT_EMULATOR.empty()) GTEST_SKIP() << "a preloaded fault library would fail the emulator's own calls, not the program's";
    if (access("/usr/bin/fiu-run", X_OK) != 0) GTEST_SKIP() << "fiu-run is not installed (Debian package fiu-utils)";
    if (UNDER_SANITIZER) GTEST_SKIP() << "the sanitizer's runtime does not survive the open failures that fiu injects";
    // Several reads of the movie, large pictures and a 1 MiB sound chunk for
    // them to cut, a seek past a long chunk, and several header updates of
    // the sound track.
    MovieBuilder movie = varied_movie(30, 1470);
    std::mt19937 rng(7);
    FrameBuffer shown{}, next{};
    for (int i = 0; i < 6; ++i) {
        for (auto& px : next) px = static_cast<std::uint8_t>(rng());
        add_delta_between(movie, shown, next);
        shown = next;
    }
    add_audio(movie, Bytes(1 << 20, 0x77));
    add_chunk(movie, 9, 300 << 10, Bytes(300 << 10, 0x99));
    // A header that reads as six repeat chunks: a run that lost its place and
    // read it as chunks would show them.
    for (std::size_t at = 0; at + CHUNK_HEADER_BYTES <= MOVIE_HEADER_BYTES; at += CHUNK_HEADER_BYTES)
        movie.bytes[at] = CHUNK_REPEAT;
    MovieBuilder rest = varied_movie(30, 1470);
    movie.bytes.insert(movie.bytes.end(), rest.bytes.begin() + MOVIE_HEADER_BYTES, rest.bytes.end());
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    const Reference ref = reference_of(dir / "BOOK.MOV");

    struct Fault {
        const char* enable;             // fiu-run's enable_random arguments; several split by ';'
        bool movie_read = false;        // the failures are the movie's reads alone
        bool messages = false;          // they may also fail the writing of the messages themselves
        bool harmless = false;          // short or interrupted calls, which are no failures
        const char* says = "movie-extract: ";  // in every failed run's messages
        int seeds = 8;
    };
    const Fault faults[] = {
        {.enable = "name=posix/io/oc/open,probability=0.05"},
        {.enable = "name=posix/io/rw/write,probability=0.05"},
        {.enable = "name=posix/io/rw/write/reduce,probability=0.5", .harmless = true},
        {.enable = "name=posix/io/rw/pwrite/reduce,probability=0.5", .harmless = true},
        {.enable = "name=posix/io/rw/write,probability=0.3,failinfo=4", .harmless = true},  // EINTR
        {.enable = "name=posix/stdio/rw/fread,probability=0.3,failinfo=4", .harmless = true},
        // A write that fails after part of it went through.
        {.enable = "name=posix/io/rw/write/reduce,probability=0.5;name=posix/io/rw/write,probability=0.05"},
        {.enable = "name=posix/io/rw/pwrite,probability=0.3"},
        {.enable = "name=posix/io/oc/close,probability=0.05"},
        {.enable = "name=posix/io/oc/close,probability=1", .says = "BOOK.WAV: "},
        // Two failures of the sound track: the first is the one reported.
        {.enable = "name=posix/io/rw/pwrite,probability=1,failinfo=28;name=posix/io/oc/close,probability=1,failinfo=5",
         .says = "BOOK.WAV: No space left on device"},
        {.enable = "name=posix/stdio/rw/fread,probability=0.3", .movie_read = true},
        // Enough seeds for the seek past the movie's header to fail too.
        {.enable = "name=posix/stdio/seek/*,probability=0.3", .seeds = 24},
        {.enable = "name=posix/stdio/*,probability=0.05", .messages = true},
        {.enable = "name=posix/*,probability=0.02", .messages = true},
    };
    for (const Fault& fault : faults) {
        int failed = 0, read_errors_after_images = 0;
        for (int seed = 1; seed <= fault.seeds; ++seed) {
            SCOPED_TRACE(std::string(fault.enable) + " seed " + std::to_string(seed));
            ChildOptions options;
            options.wrapper = {"fiu-run", "-x", "-f", ""};
            std::istringstream enables(fault.enable);
            for (std::string one; std::getline(enables, one, ';');)
                options.wrapper.insert(options.wrapper.end(), {"-c", "enable_random " + one});
            options.env = {"FIU_PRNG_SEED=" + std::to_string(seed), "ASAN_OPTIONS=verify_asan_link_order=0"};
            options.fixed_addresses = true;  // the failures follow from the seed alone
            const ChildEnd end = run_converter(options);
            EXPECT_EQ(end.err.find("chunk at offset"), std::string::npos) << "reported as damage: " << end.err;
            if (end.status == 0) {
                expect_complete(ref, ".", end.err);
            } else {
                ++failed;
                EXPECT_EQ(end.status, 1) << end.err;
                if (!fault.messages) {
                    EXPECT_NE(end.err.find(fault.says), std::string::npos) << end.err;
                }
                // A header that could not be brought up to date at the end
                // still states the samples up to its last update.
                const bool header_behind = end.err.find("header could not be") != std::string::npos;
                const Kept kept = expect_kept(ref, ".", header_behind ? AUDIO_STEP_BYTES : 0);
                if (fault.movie_read) {
                    EXPECT_NE(end.err.find("movie-extract: BOOK.MOV: "), std::string::npos) << end.err;
                    EXPECT_EQ(std::count(end.err.begin(), end.err.end(), '\n'), 1) << end.err;
                    // Every read is of bytes some chunk needs: the run stops there.
                    EXPECT_TRUE(kept.images < ref.images.size() ||
                                kept.stated < static_cast<std::int64_t>(ref.samples.size()))
                        << "the run went on after a read error";
                    if (kept.images > 0) ++read_errors_after_images;
                }
            }
            clear_outputs(".");
        }
        if (fault.harmless) {
            EXPECT_EQ(failed, 0) << "short or interrupted calls are not failures";
        } else {
            EXPECT_GT(failed, 0) << fault.enable << " never failed";
        }
        if (fault.movie_read) {
            EXPECT_GT(read_errors_after_images, 0) << "no read error came after the first image";
        }
    }
}

TEST_F(Faults, FileSizeLimitIsReportedLikeAFullDisk) {
    SKIP_ON_WINDOWS("there is no file-size limit");
    MovieBuilder movie = varied_movie(3, 100);
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    const Reference ref = reference_of(dir / "BOOK.MOV");
    ChildOptions options;
    options.file_size_limit = 40000;  // less than one image
    const ChildEnd end = run_converter(options);
    EXPECT_EQ(end.status, 1);
    EXPECT_NE(end.err.find("00000000.tga: File too large"), std::string::npos) << end.err;
    const Kept kept = expect_kept(ref, ".");
    EXPECT_EQ(kept.images, 0u);
    EXPECT_EQ(kept.stated, 100);
}

TEST_F(Faults, SamplesWhoseWriteFailedAreNeverWrittenAgain) {
    // A write of the sound track fails part way, at a file-size limit that is
    // lifted before the track is finished: the samples that did not reach
    // the file then must not follow the ones that did.
    Bytes samples(3 * AUDIO_STEP_BYTES);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    MovieBuilder movie;
    movie.bytes = samples;
    ASSERT_TRUE(write_movie(movie, "samples"));
    MovieReader reader;
    ASSERT_EQ(movie_open(reader, "samples"), 0);
    AudioTrack audio;
    ASSERT_EQ(audio_begin(audio), 0);

    constexpr std::size_t LIMIT = WAV_HEADER_BYTES + AUDIO_STEP_BYTES + 1000;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = LIMIT;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::int64_t copied = audio_copy_chunk(audio, reader, static_cast<std::int64_t>(samples.size()));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(audio.error, EFBIG);
    EXPECT_LT(copied, static_cast<std::int64_t>(samples.size()));
    EXPECT_EQ(audio_finish(audio), EFBIG);
    EXPECT_EQ(audio_finish(audio), EFBIG) << "a finished track is left alone";
    movie_close(reader);
    EXPECT_EQ(read_file("BOOK.WAV"), expected_wav(Bytes(samples.begin(), samples.begin() + (LIMIT - WAV_HEADER_BYTES))));
}

TEST_F(Faults, NobodyReadingTheMessagesChangesNothing) {
    MovieBuilder movie = varied_movie(3, 100);
    add_chunk(movie, CHUNK_AUDIO, 100, Bytes(10, 1));  // cut short: damage, reported last
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    ChildOptions options;
    options.unread_stderr = true;
    const ChildEnd end = run_converter(options);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.status, 2);
    EXPECT_EQ(tga_files().size(), 3u);
}

TEST_F(Faults, MovieCutWhileItIsReadIsDamage) {
    const MovieBuilder movie = varied_movie(600, 1470);
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    const Reference ref = reference_of(dir / "BOOK.MOV");
    const Child child = start_converter();
    std::error_code ec;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists("00000000.tga", ec)) {
        ASSERT_LT(std::chrono::steady_clock::now(), give_up);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(child.pid, SIGSTOP);
    fs::resize_file("BOOK.MOV", movie.bytes.size() * 3 / 4);
    kill(child.pid, SIGCONT);
    const ChildEnd end = wait_converter(child);
    EXPECT_EQ(end.status, 2) << end.err;
    EXPECT_NE(end.err.find("movie-extract: BOOK.MOV: chunk at offset "), std::string::npos) << end.err;
    EXPECT_EQ(std::count(end.err.begin(), end.err.end(), '\n'), 1) << end.err;
    const Kept kept = expect_kept(ref, ".");
    EXPECT_LT(kept.images, ref.images.size());
}

TEST_F(Faults, InterruptionsEndTheRunCleanly) {
    // Pictures, then a 200 MiB sound chunk (a hole in the file), then more.
    constexpr std::int32_t LONG_SOUND = 200 << 20;
    MovieBuilder movie = varied_movie(600, 1470);
    add_chunk(movie, CHUNK_AUDIO, LONG_SOUND);
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    const MovieBuilder tail = varied_movie(20, 1470);
    {
        std::FILE* f = std::fopen("BOOK.MOV", "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fseeko(f, static_cast<off_t>(movie.bytes.size()) + LONG_SOUND, SEEK_SET), 0);
        const std::size_t n = tail.bytes.size() - MOVIE_HEADER_BYTES;
        ASSERT_EQ(std::fwrite(tail.bytes.data() + MOVIE_HEADER_BYTES, 1, n, f), n);
        ASSERT_EQ(std::fclose(f), 0);
    }
    const Reference ref = reference_of(dir / "BOOK.MOV");
    const std::int64_t before_long_sound = 600 * 1470;

    // When to send it: once the first image is there, half way through the
    // pictures, or inside the long sound chunk; and the samples the run must
    // stop before, looking between chunks and between pieces of a long one.
    struct Moment {
        const char* name;
        const char* file;
        std::uintmax_t size;
        std::int64_t stops_before;
    };
    const Moment moments[] = {
        {"after the first image", "00000000.tga", 1, before_long_sound},
        {"half way through the pictures", "00000300.tga", 1, before_long_sound},
        {"inside a 200 MiB sound chunk", "BOOK.WAV", 8u << 20, before_long_sound + LONG_SOUND},
    };
    // On Windows only Ctrl-C has a way in: wine turns SIGINT into it.
    const std::vector<int> signals = ON_WINDOWS ? std::vector<int>{SIGINT} : std::vector<int>{SIGINT, SIGTERM, SIGHUP, SIGKILL};
    for (const int sig : signals) {
        for (const Moment& moment : moments) {
            SCOPED_TRACE(std::string(strsignal(sig)) + ", " + moment.name);
            const Child child = start_converter();
            std::error_code ec;
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (fs::file_size(moment.file, ec) < moment.size || ec) {
                ASSERT_LT(std::chrono::steady_clock::now(), give_up);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                ec.clear();
            }
            const auto sent = std::chrono::steady_clock::now();
            kill(child.pid, sig);
            const ChildEnd end = wait_converter(child);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
            if (ON_WINDOWS) {
                // STATUS_CONTROL_C_EXIT, 0xC000013A; a Unix parent sees its low byte.
                EXPECT_EQ(end.status, 0x3A) << end.err;
            } else {
                EXPECT_EQ(end.signal, sig) << "exit status " << end.status << ": " << end.err;
            }
            const bool killed = sig == SIGKILL;
            const Kept kept = expect_kept(ref, ".", killed ? AUDIO_STEP_BYTES : 0, killed);
            if (!killed) {
                const std::string name = ON_WINDOWS      ? "Ctrl-C"
                                         : sig == SIGINT  ? "SIGINT"
                                         : sig == SIGTERM ? "SIGTERM"
                                                          : "SIGHUP";
                EXPECT_NE(end.err.find("movie-extract: interrupted by " + name), std::string::npos) << end.err;
                EXPECT_EQ(std::count(end.err.begin(), end.err.end(), '\n'), 1) << end.err;
            }
            EXPECT_LT(kept.stated, moment.stops_before) << "the run went on after the signal";
            if (moment.size > 1) {
                std::printf("%s stopped a 200 MiB sound chunk in %.1f ms\n", strsignal(sig), ms);
            }
            clear_outputs(".");
        }
    }
}

}  // namespace
