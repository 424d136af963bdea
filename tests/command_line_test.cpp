// The command line and the console: arguments, the window a double-clicked
// program gets on Windows, and the README's recipes for the Command Prompt.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <tuple>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/arguments.h"
#include "driver/console.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using CommandLine = InScratchDir;

TEST_F(CommandLine, ArgumentsAskForHelpOrTheVersionOrConvertNothing) {
    MovieBuilder movie;
    add_repeat(movie);
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    const std::string how = ON_WINDOWS ? "run movie-extract there, or copy movie-extract.exe there and double-click it"
                                       : "run movie-extract there";
    const auto refused = [&](const std::string& argument) {
        return "movie-extract: " + argument + ": takes no arguments; put the movie in a folder of its own as BOOK.MOV and " +
               how + "\n";
    };
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out_starts;  // standard output begins so; empty: it is empty
        std::string err;
        bool windows_only = false;
    };
    const Row rows[] = {
        {{"--help"}, 0, "Usage: movie-extract [--help | --version]" + NEWLINE, ""},
        {{"-h"}, 0, "Usage: movie-extract [--help | --version]" + NEWLINE, ""},
        {{"/?"}, 0, "Usage: movie-extract [--help | --version]" + NEWLINE, "", true},
        {{"--version"}, 0, "movie-extract 1.8.6" + NEWLINE, ""},
        {{"other/clip.mov"}, 1, "", refused("other/clip.mov")},
        {{"--verbose"}, 1, "", "movie-extract: --verbose: unknown option; see movie-extract --help\n"},
        {{"/verbose"}, 1, "", "movie-extract: /verbose: unknown option; see movie-extract --help\n", true},
        {{"-"}, 1, "", refused("-")},
        {{"--help", "clip.mov"}, 1, "", refused("clip.mov")},
    };
    for (const Row& row : rows) {
        if (row.windows_only && !ON_WINDOWS) continue;
        SCOPED_TRACE(row.args.front() + (row.args.size() > 1 ? " " + row.args.back() : ""));
        ChildOptions options;
        options.args = row.args;
        const ChildEnd end = run_converter(options);
        EXPECT_EQ(end.status, row.status);
        EXPECT_EQ(end.err, row.err);
        EXPECT_TRUE(end.out.starts_with(row.out_starts) && (row.out_starts.empty() == end.out.empty())) << end.out;
        EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator{}), 1) << "a file was written";
    }
    // The usage says what is read and written, where, and where more is.
    ChildOptions help;
    help.args = {"--help"};
    const std::string usage = run_converter(help).out;
    for (const char* word : {"BOOK.MOV", "BOOK.WAV", "00000000.tga", "current folder",
                             ON_WINDOWS ? "README.md" : "man movie-extract"})
        EXPECT_NE(usage.find(word), std::string::npos) << word << " in\n" << usage;
}

TEST_F(CommandLine, TheDemoMakerTakesOnePathAndHelpAndNothingElse) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out_starts;
        const char* written;  // the one file it leaves, or nullptr
    };
    const Row rows[] = {
        {{"--help"}, 0, "Usage: make-demo-movie [PATH]\n", nullptr},
        {{"-h"}, 0, "Usage: make-demo-movie [PATH]\n", nullptr},
        {{"--verbose"}, 1, "make-demo-movie: --verbose: unknown option; see make-demo-movie --help\n", nullptr},
        {{"a.mov", "b.mov"}, 1, "make-demo-movie: b.mov: one PATH at most; see make-demo-movie --help\n", nullptr},
        {{"-"}, 0, "wrote -: ", "-"},
        {{}, 0, "wrote BOOK.MOV: ", "BOOK.MOV"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "(none)" : row.args.front());
        std::string command;
        for (const auto& word : target_command(MAKE_DEMO_MOVIE, TOOLS_EMULATOR)) command += word + " ";
        for (const auto& word : row.args) command += "'" + word + "' ";
        FILE* out = popen((command + "2>&1").c_str(), "r");
        ASSERT_NE(out, nullptr);
        std::string said;
        for (int c; (c = std::fgetc(out)) != EOF;) said += static_cast<char>(c);
        const int end = pclose(out);
        EXPECT_EQ(WIFEXITED(end) ? WEXITSTATUS(end) : -1, row.status);
        EXPECT_TRUE(said.starts_with(row.out_starts)) << said;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(".")) left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, row.written ? std::vector<std::string>{row.written} : std::vector<std::string>{});
        for (const auto& name : left) fs::remove(name);
    }
}

TEST(Arguments, EachPlatformsWayOfAskingForHelp) {
    struct Row {
        std::vector<const char*> args;
        const char* help_switch;
        const char* option_starts;
        Request request;
        std::string refused;
    };
    const Row rows[] = {
        {{}, nullptr, "-", Request::CONVERT, ""},
        {{"/?"}, "/?", "-/", Request::HELP, ""},
        {{"/?"}, nullptr, "-", Request::REFUSED, "/?"},
        {{"/x"}, "/?", "-/", Request::UNKNOWN_OPTION, "/x"},
        {{"--version", "/?"}, "/?", "-/", Request::VERSION, ""},
        {{"-h", "--version"}, nullptr, "-", Request::HELP, ""},
        {{"--version", "BOOK.MOV"}, "/?", "-/", Request::REFUSED, "BOOK.MOV"},
        {{"-h", "-v", "clip.mov"}, nullptr, "-", Request::UNKNOWN_OPTION, "-v"},
        {{"-", "-v"}, nullptr, "-", Request::REFUSED, "-"},
        {{""}, nullptr, "-", Request::REFUSED, ""},
    };
    for (const Row& row : rows) {
        std::vector<const char*> argv = {"movie-extract"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const Arguments read = read_arguments(static_cast<int>(argv.size()), argv.data(), row.help_switch, row.option_starts);
        EXPECT_EQ(read.request, row.request) << argv.size() << " " << argv.back();
        EXPECT_EQ(read.refused, row.refused);
    }
}

TEST(ConsoleWindow, KeptOpenOnlyWhenItIsTheProgramsOwnAndHasSomethingToRead) {
    struct Row {
        const char* what;
        ConsoleFacts facts;
        bool waits;
    };
    // processes, input is a console, errors go to it, interrupted, said anything, status
    const Row rows[] = {
        {"double-clicked, no movie there", {1, true, true, false, true, 1}, true},
        {"double-clicked, a damaged movie", {1, true, true, false, true, 2}, true},
        {"double-clicked, a notice with status 0", {1, true, true, false, true, 0}, true},
        {"double-clicked, all went well", {1, true, true, false, false, 0}, false},
        {"a failure that printed nothing", {1, true, true, false, false, 1}, true},
        {"started from a Command Prompt", {2, true, true, false, true, 1}, false},
        {"no console at all", {0, false, false, false, true, 1}, false},
        {"input from a file or a pipe", {1, false, true, false, true, 1}, false},
        {"messages to a file", {1, true, false, false, true, 1}, false},
        {"after Ctrl-C or a closed window", {1, true, true, true, true, 1}, false},
    };
    for (const Row& row : rows) EXPECT_EQ(console_should_wait(row.facts), row.waits) << row.what;
}

#ifdef CONVERTER_ON_WINDOWS
// The Windows build's own: these are compiled into the suite that runs it
// under wine.

// Under wine, a program whose standard streams are a terminal gets a console
// of its own, as a double-clicked one does on Windows.
TEST_F(CommandLine, AWindowOfItsOwnWaitsForEnterWhenThereIsSomethingToRead) {
    if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "script (util-linux) is not installed";
    // Enter comes two seconds after the start; a run that does not wait has
    // ended by then.
    const auto in_a_terminal = [] {
        const std::string command = "(sleep 2; printf '\\r\\n') | timeout 60 script -qec '" + MOVIE_EXTRACT_EMULATOR +
                                    " " + std::string(MOVIE_EXTRACT_PATH) + "' /dev/null >terminal.txt 2>&1";
        const int status = std::system(command.c_str());
        const Bytes shown = read_file("terminal.txt");
        fs::remove("terminal.txt");
        return std::pair{WEXITSTATUS(status), std::string(shown.begin(), shown.end())};
    };
    // No movie here: the window waits, and Enter closes it.
    auto [status, shown] = in_a_terminal();
    EXPECT_EQ(status, 1) << shown;
    std::string text;  // the terminal's control sequences taken out; a move right is a space
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\x1b') {
            while (i < shown.size() && !std::isalpha(static_cast<unsigned char>(shown[i]))) ++i;
            if (i < shown.size() && shown[i] == 'C') text += ' ';
            continue;
        }
        text += shown[i];
    }
    EXPECT_NE(text.find("Press Enter to close this window."), std::string::npos) << text;
    // A movie converted with nothing said: the window closes at once.
    MovieBuilder movie;
    add_repeat(movie);
    ASSERT_TRUE(write_movie(movie, "BOOK.MOV"));
    std::tie(status, shown) = in_a_terminal();
    EXPECT_EQ(status, 0) << shown;
    EXPECT_EQ(shown.find("Press"), std::string::npos) << shown;
}

// The README's ```bat blocks, each as one text.
std::vector<std::string> readme_bat_blocks() {
    std::ifstream readme(fs::path(SOURCE_DIR) / "README.md");
    std::vector<std::string> blocks;
    bool inside = false;
    for (std::string line; std::getline(readme, line);) {
        if (line == "```bat") {
            inside = true;
            blocks.emplace_back();
        } else if (inside && line == "```") {
            inside = false;
        } else if (inside) {
            blocks.back() += line + "\r\n";
        }
    }
    return blocks;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Types `lines` at a Command Prompt in the current folder; what it printed.
std::string at_the_prompt(const std::string& lines) {
    std::ofstream("typed.txt", std::ios::binary) << lines << "exit\r\n";
    const std::string command = MOVIE_EXTRACT_EMULATOR + " cmd <typed.txt >printed.txt 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes printed = read_file("printed.txt");
    fs::remove("typed.txt");
    fs::remove("printed.txt");
    return std::string(printed.begin(), printed.end());
}

TEST_F(CommandLine, TheReadmesCommandPromptRecipesWork) {
    std::string loop, rate;
    for (const std::string& block : readme_bat_blocks()) {
        if (block.starts_with("for %f in (movies")) loop = block;
        if (block.starts_with("set images=0")) rate = block;
    }
    ASSERT_FALSE(loop.empty()) << "no loop over movies in the README";
    ASSERT_FALSE(rate.empty()) << "no picture rate recipe in the README";

    // Two movies, one of them damaged.
    MovieBuilder good;
    add_audio(good, Bytes(22050 * 2, 0x80));
    for (int i = 0; i < 30; ++i) add_repeat(good);
    fs::create_directory("movies");
    ASSERT_TRUE(write_movie(good, "movies/good.mov"));
    MovieBuilder cut = good;
    add_chunk(cut, CHUNK_AUDIO, 100, Bytes(10, 1));
    ASSERT_TRUE(write_movie(cut, "movies/cut.mov"));
    const std::string program = "Z:" + replaced(fs::absolute(MOVIE_EXTRACT_PATH).string(), "/", "\\");
    at_the_prompt(replaced(loop, "C:\\Tools\\movie-extract\\movie-extract.exe", program));
    for (const auto& [name, status] : {std::pair{"good", "0"}, std::pair{"cut", "2"}}) {
        const fs::path folder = fs::path("converted") / name;
        const Bytes kept = read_file((folder / "status.txt").string());
        EXPECT_EQ(std::string(kept.begin(), kept.end()), std::string(status) + "\r\n") << name;
        EXPECT_EQ(read_file((folder / "BOOK.MOV").string()), read_file(std::string("movies/") + name + ".mov"));
        EXPECT_TRUE(fs::exists(folder / "00000029.tga")) << name;
        EXPECT_TRUE(fs::exists(folder / "messages.txt")) << name;
    }

    // 30 images over two seconds of sound: 15 a second.
    fs::current_path("converted/good");
    const std::string printed = at_the_prompt(replaced(rate, "\r\nffmpeg ", "\r\necho ffmpeg "));
    EXPECT_NE(printed.find("ffmpeg -framerate 30*22050/44100 -i %08d.tga"), std::string::npos) << printed;
}
#endif

}  // namespace
