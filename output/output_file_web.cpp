// Output files in the web page. The converter runs in a worker, where the
// files are kept as bytes by the page's script (web/worker.js): each is
// handed on to the page when it is closed, and leaves the converter's memory
// then. The page keeps it for the .zip or writes it into the folder the user
// chose.
#include "output/output_file.h"

#include <cerrno>
#include <emscripten.h>

namespace {

// Each returns 0, or 1 when the page's memory would not take the bytes.
EM_JS(int, page_file_create, (const char* name), { return Module.pageFiles.create(UTF8ToString(name)); });
EM_JS(int, page_file_write, (int id, const void* bytes, std::size_t count, double offset),
      { return Module.pageFiles.write(id, HEAPU8.subarray(bytes, bytes + count), offset); });
EM_JS(double, page_file_length, (int id), { return Module.pageFiles.length(id); });
EM_JS(int, page_file_close, (int id), { return Module.pageFiles.close(id); });
EM_JS(void, page_file_discard, (int id), { Module.pageFiles.discard(id); });

int id_of(const OutputFile& file) { return static_cast<int>(file.handle); }

FileError outcome(int failed) { return failed != 0 ? ENOMEM : 0; }

}  // namespace

FileError output_create(OutputFile& file, const char* name) {
    file = OutputFile{};
    file.name = name;
    const int id = page_file_create(name);
    if (id < 0) return ENOMEM;
    file.handle = id;
    return 0;
}

FileError output_write(OutputFile& file, const void* bytes, std::size_t count) {
    return outcome(page_file_write(id_of(file), bytes, count, -1));
}

FileError output_write_at(OutputFile& file, const void* bytes, std::size_t count, std::int64_t offset) {
    return outcome(page_file_write(id_of(file), bytes, count, static_cast<double>(offset)));
}

std::int64_t output_length(const OutputFile& file) { return static_cast<std::int64_t>(page_file_length(id_of(file))); }

// A file that could not be handed on is dropped by the page.
FileError output_close(OutputFile& file) {
    if (!output_is_open(file)) return 0;
    const int failed = page_file_close(id_of(file));
    file.handle = -1;
    return outcome(failed);
}

void output_discard(OutputFile& file) {
    if (output_is_open(file)) page_file_discard(id_of(file));
    file.handle = -1;
}
