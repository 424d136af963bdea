// The movie in the web page. The converter runs in a worker, and not every
// browser lets a worker read the file the user chose: the page reads it, a
// piece at a time, and hands the pieces to the worker (web/movie_pieces.js;
// the whole contract is written at the top of web/converter_worker.js). The
// worker's file system knows the movie's name and size; its bytes come from
// the pieces, and a read waits, through Asyncify, for a piece on its way.
#include "movie/movie_file.h"

#include <cerrno>
#include <emscripten.h>
#include <sys/types.h>

namespace {

// How many bytes at `position` were copied to `out`: 0 when the piece that
// holds them is still to come, -1 when the page could not read them.
EM_JS(double, page_movie_copy, (double position, void* out, std::size_t count),
      { return Module.movie.copy(position, HEAPU8.subarray(out, out + count)); });
EM_ASYNC_JS(void, page_movie_wait, (double position), { await Module.movie.arrival(position); });
// A seek past bytes the converter has no use for: they count as read.
EM_JS(void, page_movie_reached, (double position), { Module.movie.reached(position); });

}  // namespace

std::FILE* movie_file_open(const char* name) { return std::fopen(name, "rb"); }

std::size_t movie_file_read(std::FILE* file, void* out, std::size_t count) {
    const std::int64_t start = ftello(file);
    std::size_t done = 0;
    while (done < count) {
        const double got = page_movie_copy(static_cast<double>(start + static_cast<std::int64_t>(done)),
                                           static_cast<char*>(out) + done, count - done);
        if (got < 0) {
            errno = EIO;
            break;
        }
        if (got == 0) {
            page_movie_wait(static_cast<double>(start + static_cast<std::int64_t>(done)));
            continue;
        }
        done += static_cast<std::size_t>(got);
    }
    fseeko(file, static_cast<off_t>(start + static_cast<std::int64_t>(done)), SEEK_SET);
    return done;
}

bool movie_file_seek(std::FILE* file, std::int64_t offset) {
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    page_movie_reached(static_cast<double>(offset));
    return true;
}

std::int64_t movie_file_size(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    return static_cast<std::int64_t>(ftello(file));
}
