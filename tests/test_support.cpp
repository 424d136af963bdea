#include "test_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <fcntl.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/extract.h"

namespace fs = std::filesystem;

void InScratchDir::SetUp() {
    previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "movie-extract-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    fs::current_path(dir);
}

void InScratchDir::TearDown() {
    fs::current_path(previous);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

RunResult convert_here() {
    RunResult r;
    if (ON_WINDOWS) {
        const ChildEnd end = run_converter();
        r.status = end.status;
        r.out = end.out;
        r.err = end.err;
        return r;
    }
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    r.status = extract_movie();
    r.err = ::testing::internal::GetCapturedStderr();
    r.out = ::testing::internal::GetCapturedStdout();
    return r;
}

RunResult convert(const MovieBuilder& movie) {
    EXPECT_TRUE(write_movie(movie, "BOOK.MOV"));
    return convert_here();
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> tga_files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("."))
        if (entry.path().extension() == ".tga") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Rows rows_of(const FrameBuffer& frame) {
    Rows rows(FRAME_BYTES);
    for (int x = 0; x < FRAME_WIDTH; ++x)
        for (int y = 0; y < FRAME_HEIGHT; ++y) rows[y * FRAME_WIDTH + x] = frame[x * FRAME_HEIGHT + y];
    return rows;
}

Bytes expected_tga(const Palette6& palette, const Rows& rows) {
    Bytes b = {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x18, 0x00,
               0x00, 0x00, 0x00, 0x40, 0x01, 0xC8, 0x00, 0x08, 0x20};
    for (int i = 0; i < 256; ++i)
        for (int c = 2; c >= 0; --c) {  // blue, green, red
            // Shifted left by two, the top bits repeated below, cut to 8 bits.
            const int v = palette[3 * i + c];
            b.push_back(static_cast<std::uint8_t>((v << 2) | (v >> 4)));
        }
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

Bytes expected_wav(const Bytes& samples) {
    const auto n = static_cast<std::uint32_t>(samples.size());
    Bytes b = {'R', 'I', 'F', 'F'};
    put_le32(b, n + 36);
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<std::uint8_t>(c));
    put_le32(b, 16);
    b.insert(b.end(), {1, 0, 1, 0});
    put_le32(b, 22050);
    put_le32(b, 22050);
    b.insert(b.end(), {1, 0, 8, 0, 'd', 'a', 't', 'a'});
    put_le32(b, n);
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

Palette6 test_palette(int shift) {
    Palette6 p{};
    for (int i = 0; i < 256; ++i) {
        p[3 * i] = static_cast<std::uint8_t>((i + shift) % 64);
        p[3 * i + 1] = static_cast<std::uint8_t>((i / 4 + 17 + shift) % 64);
        p[3 * i + 2] = static_cast<std::uint8_t>((63 - i % 64 + 2 * shift) % 64);
    }
    return p;
}

Palette6 full_range_palette() {
    Palette6 p{};
    for (int i = 0; i < 256; ++i) {
        p[3 * i] = static_cast<std::uint8_t>(i);
        p[3 * i + 1] = static_cast<std::uint8_t>(255 - i);
        p[3 * i + 2] = static_cast<std::uint8_t>((i * 7 + 3) % 256);
    }
    return p;
}

FrameBuffer letter_f_frame() {
    Rows rows(FRAME_BYTES, 1);
    auto box = [&](int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) rows[y * FRAME_WIDTH + x] = 7;
    };
    box(40, 30, 20, 140);   // stem
    box(40, 30, 120, 20);   // top bar
    box(40, 90, 80, 20);    // middle bar
    for (int y = 0; y < FRAME_HEIGHT; ++y) rows[y * FRAME_WIDTH] = 2;
    FrameBuffer frame{};
    for (int x = 0; x < FRAME_WIDTH; ++x)
        for (int y = 0; y < FRAME_HEIGHT; ++y) frame[x * FRAME_HEIGHT + y] = rows[y * FRAME_WIDTH + x];
    return frame;
}

std::vector<std::string> target_command(const std::string& program, const std::string& emulator) {
    std::vector<std::string> words;
    std::istringstream emulator_words(emulator);
    for (std::string word; emulator_words >> word;) words.push_back(word);
    words.push_back(program);
    return words;
}

namespace {

// An unnamed file for a child's output.
int scratch_file() {
    std::string path = (fs::temp_directory_path() / "movie-extract-child-XXXXXX").string();
    const int fd = mkstemp(path.data());
    if (fd >= 0) unlink(path.c_str());
    return fd;
}

// All that was written to it, and closes it.
std::string take_scratch_file(int fd) {
    std::string text;
    if (fd < 0) return text;
    char buffer[4096];
    ssize_t got = 0;
    lseek(fd, 0, SEEK_SET);
    while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return text;
}

}  // namespace

Child start_converter(const ChildOptions& options) {
    std::vector<std::string> args = options.wrapper;
    for (const auto& word : target_command(MOVIE_EXTRACT_PATH)) args.push_back(word);
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = options.env;
    for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    Child child;
    child.err_fd = scratch_file();
    child.out_fd = scratch_file();
    if (child.err_fd < 0 || child.out_fd < 0) return child;
    child.pid = fork();
    if (child.pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        int unread[2];
        if (options.unread_stderr && pipe(unread) == 0) {
            close(unread[0]);
            dup2(unread[1], 2);
        } else {
            dup2(child.err_fd, 2);
        }
        dup2(child.out_fd, 1);
        if (options.file_size_limit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit), static_cast<rlim_t>(options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.fixed_addresses) personality(ADDR_NO_RANDOMIZE);
        if (options.user >= 0 && (setgid(static_cast<gid_t>(options.user)) != 0 || setuid(static_cast<uid_t>(options.user)) != 0))
            _exit(126);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return child;
}

ChildEnd wait_converter(Child child) {
    ChildEnd end;
    int wstatus = 0;
    if (child.pid > 0 && waitpid(child.pid, &wstatus, 0) == child.pid) {
        if (WIFEXITED(wstatus)) end.status = WEXITSTATUS(wstatus);
        if (WIFSIGNALED(wstatus)) end.signal = WTERMSIG(wstatus);
    }
    end.err = take_scratch_file(child.err_fd);
    end.out = take_scratch_file(child.out_fd);
    // Windows ends console lines in CR LF; only standard output is compared as written.
    for (std::size_t at = 0; (at = end.err.find("\r\n", at)) != std::string::npos;) end.err.erase(at, 1);
    return end;
}
