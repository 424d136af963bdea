// Interruption on Windows: Ctrl-C, Ctrl-Break and a closed console window.
// Windows runs console control handlers on a thread of its own, so the event
// is kept in a lock-free atomic. A closed window ends the process as soon as
// its handler returns, or after about five seconds, so that handler waits
// for the run to finish BOOK.WAV first.
#include "driver/interruption.h"

#include <atomic>
#include <windows.h>

namespace {

// The events as the run sees them; 0 is none.
constexpr int CTRL_C = 1;
constexpr int CTRL_BREAK = 2;
constexpr int WINDOW_CLOSED = 3;

std::atomic<int> pending_event{0};
std::atomic<bool> run_finished{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Well inside the time the system gives a closed window's handler.
constexpr DWORD CLOSE_WAIT_MS = 4500;

BOOL WINAPI note_event(DWORD type) {
    int event = 0;
    switch (type) {
        case CTRL_C_EVENT: event = CTRL_C; break;
        case CTRL_BREAK_EVENT: event = CTRL_BREAK; break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: event = WINDOW_CLOSED; break;
        default: return FALSE;
    }
    int none = 0;
    pending_event.compare_exchange_strong(none, event);
    if (event == WINDOW_CLOSED)
        for (DWORD waited = 0; waited < CLOSE_WAIT_MS && !run_finished.load(); waited += 10) Sleep(10);
    return TRUE;
}

}  // namespace

void interruption_install() { SetConsoleCtrlHandler(note_event, TRUE); }

int interruption_event() { return pending_event.load(); }

const char* interruption_name(int event) {
    switch (event) {
        case CTRL_C: return "Ctrl-C";
        case CTRL_BREAK: return "Ctrl-Break";
        case WINDOW_CLOSED: return "closing the console window";
        default: return "an interruption";
    }
}

void interruption_finished() { run_finished.store(true); }

void interruption_resend(int) {
    interruption_finished();
    // How Windows programs end when Ctrl-C ends them (0xC000013A); cmd and
    // PowerShell scripts stop on it.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}
