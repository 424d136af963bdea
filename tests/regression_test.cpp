// Replays every movie that ever made the fuzz target fail, and the fuzzer's
// seeds, through the whole conversion, checking the same invariants.

#include <cstdlib>
#include <filesystem>
#include <string>

#include "driver/extract.h"
#include "fuzz/conversion_checks.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using RegressionReplay = InScratchDir;

void replay_folder(const fs::path& folder, int& replayed) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        fs::copy_file(entry.path(), "BOOK.MOV", fs::copy_options::overwrite_existing);
        const RunResult r = convert_here();
        EXPECT_EQ(check_conversion(r.status), "") << entry.path();
        remove_conversion_outputs();
        ++replayed;
    }
}

TEST_F(RegressionReplay, EveryKeptInputConvertsSafely) {
    int replayed = 0;
    replay_folder(fs::path(SOURCE_DIR) / "fuzz" / "regressions", replayed);

    const fs::path seeds = dir / "seeds";
    fs::create_directory(seeds);
    std::string command;
    for (const auto& word : target_command(MAKE_FUZZ_SEEDS, TOOLS_EMULATOR)) command += word + " ";
    command += seeds.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    replay_folder(seeds, replayed);
    EXPECT_GE(replayed, 4);
}

}  // namespace
