#include "movie/movie_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "movie/movie_file.h"

namespace {

FileError last_error() { return errno != 0 ? errno : EIO; }

// The movie's file offset is position + buffered bytes; reading never goes
// beyond `size`, so a file that grows while it is read changes nothing.
void fill(MovieReader& movie, std::size_t want) {
    if (movie.begin > 0) {
        std::memmove(movie.buffer.get(), movie.buffer.get() + movie.begin, movie.end - movie.begin);
        movie.end -= movie.begin;
        movie.begin = 0;
    }
    while (movie.end < want) {
        const std::int64_t unread = movie_left(movie) - static_cast<std::int64_t>(movie.end);
        const std::size_t room = MOVIE_BUFFER_BYTES - movie.end;
        const std::size_t ask = static_cast<std::size_t>(std::min<std::int64_t>(unread, static_cast<std::int64_t>(room)));
        if (ask == 0) return;
        errno = 0;
        const std::size_t got = movie_file_read(movie.file, movie.buffer.get() + movie.end, ask);
        movie.end += got;
        if (got < ask) {
            // Only the end of the file makes a short read that is no error.
            if (!std::feof(movie.file)) {
                if (errno == EINTR) {
                    std::clearerr(movie.file);
                    continue;
                }
                movie.error = last_error();
            }
            // Shorter than measured, or unreadable from here on: the movie ends here.
            movie.size = movie.position + static_cast<std::int64_t>(movie.end);
            return;
        }
    }
}

}  // namespace

FileError movie_open(MovieReader& movie, const std::string& name) {
    movie = MovieReader{};
    movie.name = name;
    // Only a regular file has a size to measure; a named pipe would also
    // block the open until someone writes to it.
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (std::filesystem::is_directory(status)) return EISDIR;
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return NOT_A_REGULAR_FILE;
    errno = 0;
    movie.file = movie_file_open(name.c_str());
    if (movie.file == nullptr) return last_error();
    std::setvbuf(movie.file, nullptr, _IONBF, 0);  // reads go through our own buffer
    if ((movie.size = movie_file_size(movie.file)) < 0 || !movie_file_seek(movie.file, 0)) {
        const FileError error = last_error();
        movie_close(movie);
        return error;
    }
    movie.buffer = std::make_unique<std::uint8_t[]>(MOVIE_BUFFER_BYTES);
    return 0;
}

void movie_close(MovieReader& movie) {
    if (movie.file != nullptr) std::fclose(movie.file);
    movie.file = nullptr;
}

std::span<const std::uint8_t> movie_refill(MovieReader& movie, std::size_t want) {
    want = std::min(want, MOVIE_BUFFER_BYTES);
    fill(movie, want);
    const std::size_t have = std::min(want, movie.end - movie.begin);
    return {movie.buffer.get() + movie.begin, have};
}

std::size_t movie_read(MovieReader& movie, std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const auto window = movie_window(movie, count - done);
        if (window.empty()) break;
        std::memcpy(out + done, window.data(), window.size());
        movie_advance(movie, window.size());
        done += window.size();
    }
    return done;
}

std::int64_t movie_skip(MovieReader& movie, std::int64_t count) {
    const std::int64_t step = std::clamp<std::int64_t>(count, 0, movie_left(movie));
    const auto buffered = static_cast<std::int64_t>(movie.end - movie.begin);
    if (step <= buffered) {
        movie_advance(movie, static_cast<std::size_t>(step));
        return step;
    }
    const std::int64_t target = movie.position + step;
    movie.begin = movie.end = 0;
    if (!movie_file_seek(movie.file, target)) {
        movie.error = last_error();
        movie.size = movie.position;
        return 0;
    }
    movie.position = target;
    return step;
}
