// 64-bit positions in the movie on POSIX systems.
#include "movie/movie_file.h"

#include <sys/types.h>

// A 32-bit off_t would refuse every movie past 2 GiB: ask the build for
// _FILE_OFFSET_BITS=64.
static_assert(sizeof(off_t) >= 8, "64-bit file offsets are needed");

std::FILE* movie_file_open(const char* name) { return std::fopen(name, "rb"); }

std::size_t movie_file_read(std::FILE* file, void* out, std::size_t count) { return std::fread(out, 1, count, file); }

bool movie_file_seek(std::FILE* file, std::int64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t movie_file_size(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    return static_cast<std::int64_t>(ftello(file));
}
