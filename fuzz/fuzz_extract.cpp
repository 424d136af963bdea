// libFuzzer target: the fuzzer's bytes are BOOK.MOV, and the whole
// conversion runs on them in a scratch directory, in this process.
// Any crash, sanitizer finding, or broken output invariant is a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "driver/extract.h"
#include "fuzz/conversion_checks.h"

namespace {

int quiet_stderr = -1;
int scratch_dir = -1;
std::string scratch_path;

void remove_scratch_dir() {
    std::error_code ec;
    std::filesystem::remove_all(scratch_path, ec);
}

// The conversion works in the current directory; the fuzzer reads and writes
// its corpus by relative paths, so the directory is changed only around it.
bool make_scratch_dir() {
    const char* shm = "/dev/shm";
    std::string pattern = std::string(std::filesystem::is_directory(shm) ? shm : "/tmp") + "/movie-extract-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    scratch_path = pattern;
    std::atexit(remove_scratch_dir);
    scratch_dir = open(pattern.c_str(), O_RDONLY | O_DIRECTORY);
    quiet_stderr = open("/dev/null", O_WRONLY);
    return scratch_dir >= 0 && quiet_stderr >= 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = make_scratch_dir();
    const int home = open(".", O_RDONLY | O_DIRECTORY);
    if (!ready || home < 0 || fchdir(scratch_dir) != 0) std::abort();
    std::FILE* movie = std::fopen(MOVIE_FILE_NAME, "wb");
    if (movie == nullptr || std::fwrite(data, 1, size, movie) != size || std::fclose(movie) != 0) std::abort();

    // The damage reports would drown the fuzzer's own output.
    const int saved = dup(2);
    dup2(quiet_stderr, 2);
    const int status = extract_movie();
    dup2(saved, 2);
    close(saved);

    const std::string problem = check_conversion(status);
    if (!problem.empty()) {
        std::fprintf(stderr, "broken conversion: %s\n", problem.c_str());
        std::abort();
    }
    remove_conversion_outputs();
    if (fchdir(home) != 0) std::abort();
    close(home);
    return 0;
}
