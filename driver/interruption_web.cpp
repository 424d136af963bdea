// Interruption in the web page: its Stop button. The converter runs in a
// worker, which hears the button only between its tasks, so the run gives
// way to the worker's events every 50 ms (Asyncify turns the wait into a
// return to the worker's event loop). The worker then hands the page the
// files and lines of those 50 ms and how far the run has come. Giving way
// waits on a message, not a timer, so that a page in a background tab,
// whose timers the browser slows, converts at its full pace. The contract
// with the worker is written at the top of web/converter_worker.js.
#include "driver/interruption.h"

#include <emscripten.h>

namespace {

// 1 when the Stop button was pressed.
EM_ASYNC_JS(int, page_give_way, (), { return await Module.giveWay(); });

// The event numbers the exit status as Ctrl-C does at a prompt: 128 + 2.
constexpr int STOP_BUTTON = 2;
constexpr double GIVE_WAY_MS = 50;
// The clock costs a call out to the page, more than the work of a chunk: it
// is read at every CLOCK_EVERY-th chunk or piece.
constexpr int CLOCK_EVERY = 16;

int pending_event = 0;
double last_given_way = 0;
int unclocked = 0;

}  // namespace

void interruption_install() {
    pending_event = 0;
    last_given_way = emscripten_get_now();
    unclocked = 0;
}

int interruption_event() {
    if (pending_event != 0 || ++unclocked < CLOCK_EVERY) return pending_event;
    unclocked = 0;
    const double now = emscripten_get_now();
    if (now - last_given_way >= GIVE_WAY_MS) {
        if (page_give_way() != 0) pending_event = STOP_BUTTON;
        last_given_way = emscripten_get_now();
    }
    return pending_event;
}

const char* interruption_name(int) { return "the Stop button"; }

void interruption_finished() {}

// The page says "Stopped"; the worker ends with the run.
void interruption_resend(int) {}
