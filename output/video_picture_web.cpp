// The video worker's way in to enlarge_picture (web/video_worker.js): a
// WebAssembly module of its own, with no imports, whose memory holds one
// TGA and one picture of the video. The worker copies the TGA in, and hands
// the browser's encoder a frame made from the picture where it lies.
#include <emscripten.h>

#include "output/video_picture.h"

namespace {
std::uint8_t tga[TGA_FILE_BYTES];
alignas(16) std::uint8_t frame[VIDEO_FRAME_BYTES];
}  // namespace

extern "C" {
EMSCRIPTEN_KEEPALIVE std::uint8_t* video_tga() { return tga; }
EMSCRIPTEN_KEEPALIVE std::uint8_t* video_frame() { return frame; }
EMSCRIPTEN_KEEPALIVE void video_enlarge() { enlarge_picture(tga, frame); }
}
