// Interruption: SIGINT, SIGTERM or SIGHUP on POSIX systems; Ctrl-C,
// Ctrl-Break or a closed console window on Windows. The handler only notes
// the event; the run looks at it between chunks and between the pieces of a
// long copy, finishes its files, and the process then ends the way that
// platform's programs end when so interrupted, so that whoever started it
// sees how it ended. One file a platform implements these
// (interruption_posix.cpp, interruption_windows.cpp).
#pragma once

// Installs the handlers. On POSIX systems SIGPIPE and SIGXFSZ are ignored: a
// closed standard error must not end the conversion half way, and a
// file-size limit shows up as a failed write (EFBIG), like a full disk.
void interruption_install();

// The event that asked the run to stop, 0 if none: the signal's number on
// POSIX systems, which the exit status carries (128 + n); on Windows a
// number of this program's own for the console event, which the exit code
// does not carry.
int interruption_event();

// Its name for messages: "SIGINT", "Ctrl-C", ...
const char* interruption_name(int event);

// The run has finished its files: from now on a closed console window may
// end the process at once, while it waits for Enter, say.
void interruption_finished();

// Ends the process as the event does by default: by the same signal on POSIX
// systems, with STATUS_CONTROL_C_EXIT on Windows. Returns only if it could not.
void interruption_resend(int event);
