// The floor that the converter is measured against: the file work it cannot
// avoid. Reads the movie once, then writes as many 64,786-byte images as the
// converter does (open, one write, close each) and a WAV of the same size.
//
//   bench-floor MOVIE IMAGES WAV_BYTES

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-floor MOVIE IMAGES WAV_BYTES\n");
        return 2;
    }
    const long images = std::atol(argv[2]);
    const long wav_bytes = std::atol(argv[3]);
    std::vector<char> buffer(1 << 20);

    std::FILE* movie = std::fopen(argv[1], "rb");
    if (movie == nullptr) return 1;
    std::setvbuf(movie, nullptr, _IONBF, 0);
    unsigned sum = 0;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), movie)) > 0;) sum += buffer[got - 1];
    std::fclose(movie);

    std::vector<char> image(64786, static_cast<char>(sum));
    for (long i = 0; i < images; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%08ld.tga", i);
        std::FILE* f = std::fopen(name, "wb");
        if (f == nullptr) return 1;
        std::setvbuf(f, nullptr, _IONBF, 0);
        if (std::fwrite(image.data(), 1, image.size(), f) != image.size() || std::fclose(f) != 0) return 1;
    }
    std::FILE* wav = std::fopen("BOOK.WAV", "wb");
    if (wav == nullptr) return 1;
    for (long left = wav_bytes; left > 0;) {
        const std::size_t n = left < static_cast<long>(buffer.size()) ? static_cast<std::size_t>(left) : buffer.size();
        if (std::fwrite(buffer.data(), 1, n, wav) != n) return 1;
        left -= static_cast<long>(n);
    }
    return std::fclose(wav) == 0 ? 0 : 1;
}
