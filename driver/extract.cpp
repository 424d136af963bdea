#include "driver/extract.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "driver/interruption.h"
#include "movie/movie_format.h"
#include "movie/movie_reader.h"
#include "movie/picture_decoder.h"
#include "output/tga_writer.h"
#include "output/wav_writer.h"

namespace {

// A long audio chunk is copied in pieces of this size, so that an
// interruption is seen between them.
constexpr std::int64_t AUDIO_PIECE_BYTES = std::int64_t{1} << 20;

struct Run {
    MovieReader movie;
    AudioTrack audio;
    PictureState state;
    FrameWriter frames;
    bool damaged = false;
    bool failed = false;
};

void report_file_error(const std::string& name, FileError error) {
    std::fprintf(stderr, "movie-extract: %s: %s\n", name.c_str(), file_error_text(error));
}

void report_damage(Run& run, std::int64_t offset, const std::string& what, std::int64_t had = -1,
                   std::int64_t wanted = -1) {
    std::fprintf(stderr, "movie-extract: %s: chunk at offset %lld: %s", run.movie.name.c_str(),
                 static_cast<long long>(offset), what.c_str());
    if (had >= 0) std::fprintf(stderr, " (%lld of %lld bytes)", static_cast<long long>(had),
                                static_cast<long long>(wanted));
    std::fputc('\n', stderr);
    run.damaged = true;
}

// A chunk the movie ended inside of. After a read error the movie only
// seems to end there: that is reported once, as the read error, after the run.
void report_cut(Run& run, std::int64_t offset, const std::string& what, std::int64_t had = -1,
                std::int64_t wanted = -1) {
    if (run.movie.error == 0) report_damage(run, offset, what, had, wanted);
}

// The one line on standard output, before the reason on standard error.
void say_movie_unopened() {
    std::puts("error opening BOOK.MOV file");
    std::fflush(stdout);
}

bool show_picture(Run& run) {
    const FileError error = write_frame_image(run.frames, run.state);
    if (error == 0) return true;
    report_file_error(frame_image_name(run.frames.frame_counter).text, error);
    run.failed = true;
    return false;
}

std::string chunk_kind(std::uint8_t type) {
    switch (type) {
        case CHUNK_AUDIO: return "audio chunk";
        case CHUNK_REPEAT: return "repeat chunk";
        default: return "chunk of unknown type " + std::to_string(type);
    }
}

// One chunk, its head already read. Returns false when the run ends here.
bool handle_chunk(Run& run, const ChunkHeader& head, std::int64_t offset) {
    MovieReader& movie = run.movie;
    switch (head.type) {
        case CHUNK_PALETTE: {
            const std::int64_t left = movie_left(movie);
            if (!apply_palette_chunk(movie, run.state)) {
                report_cut(run, offset, "palette chunk cut short, palette left unchanged", left,
                           PALETTE_PAYLOAD_BYTES);
                return false;
            }
            frame_writer_note_change(run.frames, WHOLE_FRAME);
            return true;
        }
        case CHUNK_DELTA: {
            const DeltaOutcome outcome = apply_delta_chunk(movie, head.length, run.state);
            frame_writer_note_change(run.frames, outcome.written);
            // After a read error the movie goes on where it could not be read,
            // so a picture cut there is not the movie's: it is not shown.
            if (outcome.cut_short && movie.error != 0) return false;
            if (outcome.cut_short || outcome.outside_frame) {
                const char* what = outcome.cut_short && outcome.outside_frame
                                       ? "picture chunk writes outside the picture (dropped) and is cut short"
                                   : outcome.cut_short ? "picture chunk cut short"
                                                       : "picture chunk writes outside the picture; those pixels dropped";
                report_damage(run, offset, what);
            }
            return show_picture(run) && !outcome.cut_short;
        }
        default: break;
    }

    // Audio, repeat and unknown chunks carry `length` bytes of payload.
    if (head.length < 0) {
        report_damage(run, offset,
                      chunk_kind(head.type) + " has a negative length (" + std::to_string(head.length) + ")");
        return false;
    }
    std::int64_t had = 0;
    if (head.type == CHUNK_AUDIO) {
        while (had < head.length) {
            const std::int64_t piece = std::min<std::int64_t>(head.length - had, AUDIO_PIECE_BYTES);
            const std::int64_t got = audio_copy_chunk(run.audio, movie, piece);
            had += got;
            if (run.audio.error != 0) {
                run.failed = true;
                return false;
            }
            if (got < piece) break;
            if (had < head.length && interruption_event() != 0) return false;
        }
    } else {
        had = movie_skip(movie, head.length);
    }
    const bool whole = had == head.length;
    if (!whole && movie.error != 0) return false;  // no repeat of a chunk that could not be read
    if (!whole) report_damage(run, offset, chunk_kind(head.type) + " runs past the end of the movie", had, head.length);
    if (head.type == CHUNK_REPEAT && !show_picture(run)) return false;
    return whole;
}

bool ascii_iequal(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> find_movie_names() {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(MOVIE_FILE_NAME, ec))) return {MOVIE_FILE_NAME};
    std::vector<std::string> found;
    for (std::filesystem::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (ascii_iequal(name, MOVIE_FILE_NAME)) found.push_back(std::move(name));
    }
    std::sort(found.begin(), found.end());
    return found;
}

int extract_movie() {
    auto run = std::make_unique<Run>();
    MovieReader& movie = run->movie;

    const std::vector<std::string> names = find_movie_names();
    if (names.size() > 1) {
        say_movie_unopened();
        std::string list;
        for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
        std::fprintf(stderr, "movie-extract: %s: more than one file matches it when letter case is ignored: %s\n",
                     MOVIE_FILE_NAME, list.c_str());
        return EXIT_FAILED;
    }
    const std::string name = names.empty() ? MOVIE_FILE_NAME : names.front();  // a missing one is reported below
    if (const FileError error = movie_open(movie, name); error != 0) {
        say_movie_unopened();
        report_file_error(name, error);
        return EXIT_FAILED;
    }
    if (const FileError error = audio_begin(run->audio); error != 0) {
        report_file_error(AUDIO_FILE_NAME, error);
        movie_close(movie);
        return EXIT_FAILED;
    }
    frame_writer_init(run->frames);

    if (const std::int64_t header = movie_skip(movie, MOVIE_HEADER_BYTES);
        header < MOVIE_HEADER_BYTES && movie.error == 0) {
        std::fprintf(stderr, "movie-extract: %s: header cut short (%lld of %lld bytes)\n", movie.name.c_str(),
                     static_cast<long long>(header), static_cast<long long>(MOVIE_HEADER_BYTES));
        run->damaged = true;
    }
    while (movie.position < movie.size && interruption_event() == 0) {
        const std::int64_t offset = movie.position;
        ChunkHeader head;
        const std::size_t got = read_chunk_header(movie, head);
        if (got < CHUNK_HEADER_BYTES) {
            report_cut(*run, offset, "chunk head cut short", static_cast<std::int64_t>(got),
                       CHUNK_HEADER_BYTES);
            break;
        }
        if (!handle_chunk(*run, head, offset)) break;
    }

    if (movie.error != 0) {
        report_file_error(movie.name, movie.error);
        run->failed = true;
    }
    // Every sample is in the file, so the status stays 0; only the header
    // cannot say how many there are.
    // GCOVR_EXCL_START: over 4 GiB of sound, too slow to write in a test
    if (const char* capped = wav_capped_sizes(audio_samples(run->audio)); capped != nullptr)
        std::fprintf(stderr, "movie-extract: %s: the sound track is longer than a WAV header can state; "
                             "%s set to the largest value\n", AUDIO_FILE_NAME, capped);
    // GCOVR_EXCL_STOP
    if (const FileError error = audio_finish(run->audio); error != 0) {
        report_file_error(AUDIO_FILE_NAME, error);
        run->failed = true;
    }
    if (run->audio.header_error != 0)
        std::fprintf(stderr, "movie-extract: %s: its header could not be brought up to date: %s\n", AUDIO_FILE_NAME,
                     file_error_text(run->audio.header_error));
    movie_close(movie);
    if (const int event = interruption_event(); event != 0) {
        std::fprintf(stderr, "movie-extract: interrupted by %s; %s holds the sound copied so far\n",
                     interruption_name(event), AUDIO_FILE_NAME);
        return EXIT_INTERRUPTED + event;
    }
    if (run->failed) return EXIT_FAILED;
    return run->damaged ? EXIT_DAMAGED : EXIT_COMPLETE;
}
