#include "driver/extract.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "driver/interruption.h"
#include "driver/messages.h"
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
    bool image_failed = false;  // the run ended at an image it could not write
};

void report_file_error(const std::string& name, FileError error) {
    say(name + ": " + file_error_text(error));
}

// What is wrong with a chunk: its words, and the bytes it had of those it
// needed, where it was cut short.
struct Damage {
    std::string what;
    std::int64_t had = -1;
    std::int64_t wanted = -1;
    // Its length or its first run is beyond any use. In the very first
    // chunk that is most likely a file of some other kind.
    bool unusable = false;
};

void report_damage(Run& run, std::int64_t offset, const Damage& damage) {
    std::string line = run.movie.name + ": chunk at offset " + std::to_string(offset) + ": " + damage.what;
    if (damage.had >= 0)
        line += " (" + std::to_string(damage.had) + " of " + std::to_string(damage.wanted) + " bytes)";
    if (damage.unusable && offset == MOVIE_HEADER_BYTES)
        line += "; " + run.movie.name + " may not be a movie of this kind";
    say(line);
    run.damaged = true;
}

// A chunk the movie ended inside of. After a read error the movie only
// seems to end there: that is reported once, as the read error, after the run.
void report_cut(Run& run, std::int64_t offset, const Damage& damage) {
    if (run.movie.error == 0) report_damage(run, offset, damage);
}

bool show_picture(Run& run) {
    const FileError error = write_frame_image(run.frames, run.state);
    if (error == 0) return true;
    report_file_error(frame_image_name(run.frames.frame_counter).text, error);
    run.failed = true;
    run.image_failed = true;
    return false;
}

// Images an earlier run left after this run's last one would show in a video
// made from the folder: they are named, never removed.
void report_earlier_images(const Run& run) {
    const std::int64_t first = run.frames.frame_counter;
    const std::int64_t count = count_images_from(first);
    if (count == 0) return;
    const bool one = count == 1;
    std::string names = frame_image_name(first).text;
    if (!one) names += std::string(" to ") + frame_image_name(first + count - 1).text;
    say(std::to_string(count) + (one ? " image from an earlier run follows (" : " images from an earlier run follow (") +
        names + "); a video made from this folder would show " + (one ? "it" : "them"));
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
                report_cut(run, offset, {"palette chunk cut short, palette left unchanged", left,
                                         static_cast<std::int64_t>(PALETTE_PAYLOAD_BYTES), true});
                return false;
            }
            frame_writer_note_change(run.frames, WHOLE_FRAME);
            return true;
        }
        case CHUNK_DELTA: {
            const std::int64_t left = movie_left(movie);
            const DeltaOutcome outcome = apply_delta_chunk(movie, head.length, run.state);
            frame_writer_note_change(run.frames, outcome.written);
            // After a read error the movie goes on where it could not be read,
            // so a picture cut there is not the movie's: it is not shown.
            if (outcome.cut_short && movie.error != 0) return false;
            if (outcome.cut_short) {
                report_damage(run, offset,
                              {outcome.outside_frame ? "picture chunk writes outside the picture (dropped) and is cut short"
                                                     : "picture chunk cut short",
                               left, outcome.needed, true});
            } else if (outcome.outside_frame) {
                report_damage(run, offset, {"picture chunk writes outside the picture; those pixels dropped", -1, -1,
                                            outcome.outside_from_first_run});
            }
            return show_picture(run) && !outcome.cut_short;
        }
        default: break;
    }

    // Audio, repeat and unknown chunks carry `length` bytes of payload.
    if (head.length < 0) {
        report_damage(run, offset,
                      {chunk_kind(head.type) + " has a negative length (" + std::to_string(head.length) + ")", -1,
                       -1, true});
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
    if (!whole)
        report_damage(run, offset, {chunk_kind(head.type) + " runs past the end of the movie", had, head.length, true});
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
    // The one line on standard output comes before the reason on standard error.
    if (names.size() > 1) {
        say_out(MOVIE_UNOPENED);
        std::string list;
        for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
        say(std::string(MOVIE_FILE_NAME) + ": more than one file matches it when letter case is ignored: " + list);
        return EXIT_FAILED;
    }
    const std::string name = names.empty() ? MOVIE_FILE_NAME : names.front();  // a missing one is reported below
    if (const FileError error = movie_open(movie, name); error != 0) {
        say_out(MOVIE_UNOPENED);
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
        say(movie.name + ": header cut short (" + std::to_string(header) + " of " +
            std::to_string(MOVIE_HEADER_BYTES) + " bytes)");
        run->damaged = true;
    }
    while (movie.position < movie.size && interruption_event() == 0) {
        const std::int64_t offset = movie.position;
        ChunkHeader head;
        const std::size_t got = read_chunk_header(movie, head);
        if (got < CHUNK_HEADER_BYTES) {
            report_cut(*run, offset,
                       {"chunk head cut short", static_cast<std::int64_t>(got), CHUNK_HEADER_BYTES});
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
        say(std::string(AUDIO_FILE_NAME) + ": the sound track is longer than a WAV header can state; " + capped +
            " set to the largest value");
    // GCOVR_EXCL_STOP
    if (const FileError error = audio_finish(run->audio); error != 0) {
        report_file_error(AUDIO_FILE_NAME, error);
        run->failed = true;
    }
    if (run->audio.header_error != 0)
        say(std::string(AUDIO_FILE_NAME) + ": its header could not be brought up to date: " +
            file_error_text(run->audio.header_error));
    movie_close(movie);
    if (!run->image_failed) report_earlier_images(*run);
    if (const int event = interruption_event(); event != 0) {
        say(std::string("interrupted by ") + interruption_name(event) + "; " + AUDIO_FILE_NAME +
            " holds the sound copied so far");
        return EXIT_INTERRUPTED + event;
    }
    if (run->failed) return EXIT_FAILED;
    return run->damaged ? EXIT_DAMAGED : EXIT_COMPLETE;
}
