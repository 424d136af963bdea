// Interruption on POSIX systems, by signals.
#include "driver/interruption.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t pending_signal = 0;

extern "C" void note_signal(int signal_number) { pending_signal = signal_number; }

constexpr int STOPPING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void interruption_install() {
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    for (const int s : STOPPING_SIGNALS) sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;  // reads and writes are never cut short by it
    for (const int s : STOPPING_SIGNALS) sigaction(s, &action, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

int interruption_event() { return pending_signal; }

const char* interruption_name(int event) {
    switch (event) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";  // GCOVR_EXCL_LINE: no other is caught
    }
}

void interruption_finished() {}

void interruption_resend(int signal_number) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
}
