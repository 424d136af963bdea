#include "fuzz/conversion_checks.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "driver/extract.h"
#include "output/tga_writer.h"
#include "output/wav_writer.h"

namespace fs = std::filesystem;

namespace {

bool is_image_name(const std::string& name) {
    return name.size() >= 12 && name.ends_with(".tga");
}

}  // namespace

std::string check_conversion(int status) {
    if (status != EXIT_COMPLETE && status != EXIT_DAMAGED) return "exit status " + std::to_string(status);
    std::error_code ec;
    const auto wav_size = fs::file_size(AUDIO_FILE_NAME, ec);
    if (ec || wav_size < WAV_HEADER_BYTES) return "BOOK.WAV missing or shorter than its header";
    std::ifstream wav(AUDIO_FILE_NAME, std::ios::binary);
    char got[WAV_HEADER_BYTES];
    wav.read(got, sizeof got);
    const auto want = wav_header(static_cast<std::int64_t>(wav_size - WAV_HEADER_BYTES));
    if (!wav || !std::equal(want.begin(), want.end(), reinterpret_cast<const std::uint8_t*>(got)))
        return "BOOK.WAV header does not match its size";

    std::size_t images = 0;
    for (const auto& entry : fs::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        if (!is_image_name(name)) continue;
        ++images;
        if (entry.file_size() != TGA_FILE_BYTES) return name + " has the wrong size";
    }
    // Images are numbered without gaps from 0.
    if (images > 0 && !fs::exists(frame_image_name(static_cast<std::int64_t>(images) - 1).text))
        return "image numbers have a gap";
    return {};
}

void remove_conversion_outputs() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        if (is_image_name(name) || name == AUDIO_FILE_NAME) fs::remove(entry.path(), ec);
    }
}
