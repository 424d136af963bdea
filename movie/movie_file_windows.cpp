// 64-bit positions in the movie on Windows, where long is 32 bits.
#include "movie/movie_file.h"

bool movie_file_seek(std::FILE* file, std::int64_t offset) { return _fseeki64(file, offset, SEEK_SET) == 0; }

std::int64_t movie_file_size(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}
