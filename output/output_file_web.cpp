// Output files in the web page. The converter runs in a worker, which hands
// every finished file, and a long file's bytes as they grow, to the page
// (web/page_files.js; the whole contract with the worker is written at the
// top of web/converter_worker.js). The page keeps them out of its own memory or saves them
// where the user chose. When the page falls behind, the converter waits,
// through Asyncify, until it has caught up: however long the movie, only a
// bounded part of the outputs is ever on its way.
#include "output/output_file.h"

#include <cerrno>
#include <emscripten.h>

namespace {

// Each returns 0, or why it failed: 1 when the worker's memory would not
// take the bytes, 2 when the page could not keep or save a file.
EM_JS(int, page_file_create, (const char* name), { return Module.pageFiles.create(UTF8ToString(name)); });
EM_JS(int, page_file_write, (int id, const void* bytes, std::size_t count, double offset),
      { return Module.pageFiles.write(id, HEAPU8.subarray(bytes, bytes + count), offset); });
EM_JS(double, page_file_length, (int id), { return Module.pageFiles.length(id); });
EM_JS(int, page_file_close, (int id), { return Module.pageFiles.close(id); });
EM_JS(void, page_file_discard, (int id), { Module.pageFiles.discard(id); });
// 1 when more bytes are on their way to the page than it should hold.
EM_JS(int, page_files_behind, (), { return Module.pageFiles.behind() ? 1 : 0; });
EM_ASYNC_JS(void, page_files_catch_up, (), { await Module.pageFiles.caughtUp(); });

int id_of(const OutputFile& file) { return static_cast<int>(file.handle); }

FileError outcome(int failure) {
    if (failure == 1) return ENOMEM;
    if (failure != 0) return EIO;
    if (page_files_behind() != 0) page_files_catch_up();
    return 0;
}

}  // namespace

FileError output_create(OutputFile& file, const char* name) {
    file = OutputFile{};
    file.name = name;
    const int id = page_file_create(name);
    if (id < 0) return EIO;
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
    const int failure = page_file_close(id_of(file));
    file.handle = -1;
    return outcome(failure);
}

void output_discard(OutputFile& file) {
    if (output_is_open(file)) page_file_discard(id_of(file));
    file.handle = -1;
}
