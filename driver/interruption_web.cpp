// Interruption in the web page: its Stop button. The converter runs in a
// worker, which hears the button only between its tasks, so the run gives
// way for a moment every 50 ms (Asyncify turns the wait into a return to the
// worker's event loop), and the page learns how far the run has come.
#include "driver/interruption.h"

#include <emscripten.h>

namespace {

EM_JS(int, page_stop_asked, (), { return Module.stopAsked ? 1 : 0; });
EM_JS(void, page_report_progress, (), { if (Module.reportProgress) Module.reportProgress(); });

// The event numbers the exit status as Ctrl-C does at a prompt: 128 + 2.
constexpr int STOP_BUTTON = 2;
constexpr double GIVE_WAY_MS = 50;

int pending_event = 0;
double last_given_way = 0;

}  // namespace

void interruption_install() {
    pending_event = 0;
    last_given_way = emscripten_get_now();
}

int interruption_event() {
    if (pending_event != 0) return pending_event;
    const double now = emscripten_get_now();
    if (now - last_given_way >= GIVE_WAY_MS) {
        page_report_progress();
        emscripten_sleep(0);
        last_given_way = emscripten_get_now();
        if (page_stop_asked() != 0) pending_event = STOP_BUTTON;
    }
    return pending_event;
}

const char* interruption_name(int) { return "the Stop button"; }

void interruption_finished() {}

// The page says "Stopped"; the worker ends with the run.
void interruption_resend(int) {}
