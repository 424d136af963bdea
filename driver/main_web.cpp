// The web page's entry: its worker (web/converter_worker.js) calls
// page_convert once for the movie the user chose, which it has put in the
// current folder as BOOK.MOV.
#include <cstdio>
#include <emscripten.h>

#include "driver/extract.h"
#include "driver/interruption.h"

extern "C" EMSCRIPTEN_KEEPALIVE int page_convert() {
    interruption_install();
    const int status = extract_movie();
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
