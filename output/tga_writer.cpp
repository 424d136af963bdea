#include "output/tga_writer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "output/column_turn.h"
#include "output/little_endian.h"
#include "output/output_file.h"

namespace {

constexpr std::size_t PIXELS_AT = TGA_HEADER_BYTES + PALETTE_BYTES;

}  // namespace

void frame_writer_init(FrameWriter& writer) {
    writer.frame_counter = 0;
    writer.storage.fill(0);
    writer.shown = nullptr;
    writer.changed = WHOLE_FRAME;
    std::uint8_t* h = frame_writer_image(writer);
    h[1] = 1;                          // colour map present
    h[2] = 1;                          // uncompressed, colour-mapped
    put_le16(h + 5, PALETTE_ENTRIES);  // colour map length
    h[7] = 24;                         // colour map entry size
    put_le16(h + 12, FRAME_WIDTH);
    put_le16(h + 14, FRAME_HEIGHT);
    h[16] = 8;     // pixel depth
    h[17] = 0x20;  // top row first
}

ImageName frame_image_name(std::int64_t number) {
    ImageName name;
    if (static_cast<std::uint64_t>(number) > 99999999) {  // negative ones too
        std::snprintf(name.text, sizeof name.text, "%08lld.tga", static_cast<long long>(number));
        return name;
    }
    for (int i = 7; i >= 0; --i, number /= 10) name.text[i] = static_cast<char>('0' + number % 10);
    std::memcpy(name.text + 8, ".tga", 5);
    return name;
}

std::int64_t count_images_from(std::int64_t first) {
    std::int64_t count = 0;
    std::error_code ec;
    while (std::filesystem::is_regular_file(frame_image_name(first + count).text, ec)) ++count;
    return count;
}

FileError write_frame_image(FrameWriter& writer, const PictureState& state) {
    std::uint8_t* image = frame_writer_image(writer);
    std::memcpy(image + TGA_HEADER_BYTES, state.palette.data(), PALETTE_BYTES);
    const FrameSpan turn = writer.shown == &state ? writer.changed : WHOLE_FRAME;
    columns_to_rows(state.frame, turn.begin, turn.end, image + PIXELS_AT);
    writer.shown = &state;
    writer.changed = FrameSpan{};

    const ImageName name = frame_image_name(writer.frame_counter);
    OutputFile file;
    FileError error = output_create(file, name.text);
    if (error == 0) error = output_write(file, image, TGA_FILE_BYTES);
    if (error == 0) error = output_close(file);
    if (error != 0) {
        output_discard(file);
        return error;
    }
    ++writer.frame_counter;
    return 0;
}
