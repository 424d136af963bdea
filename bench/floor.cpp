// The floor that the converter is measured against: the file work it cannot
// avoid, with plain system calls and no stream library. Reads the movie once
// with a large buffer, then writes as many 64,786-byte images as the
// converter does (open, one write, close each) and a WAV of the same size.
//
//   bench-floor MOVIE IMAGES WAV_BYTES

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

bool write_all(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t done = write(fd, bytes, count);
        if (done <= 0) return false;
        bytes += done;
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-floor MOVIE IMAGES WAV_BYTES\n");
        return 2;
    }
    const long images = std::atol(argv[2]);
    const long wav_bytes = std::atol(argv[3]);
    std::vector<char> buffer(1 << 20);

    const int movie = open(argv[1], O_RDONLY);
    if (movie < 0) return 1;
    unsigned sum = 0;
    for (ssize_t got; (got = read(movie, buffer.data(), buffer.size())) > 0;) sum += static_cast<unsigned char>(buffer[static_cast<std::size_t>(got) - 1]);
    close(movie);

    std::vector<char> image(64786, static_cast<char>(sum));
    for (long i = 0; i < images; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%08ld.tga", i);
        const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || !write_all(fd, image.data(), image.size()) || close(fd) != 0) return 1;
    }
    const int wav = open("BOOK.WAV", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (wav < 0) return 1;
    for (long left = wav_bytes; left > 0;) {
        const std::size_t n = left < static_cast<long>(buffer.size()) ? static_cast<std::size_t>(left) : buffer.size();
        if (!write_all(wav, buffer.data(), n)) return 1;
        left -= static_cast<long>(n);
    }
    return close(wav) == 0 ? 0 : 1;
}
