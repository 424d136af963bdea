// Interruption by SIGINT, SIGTERM or SIGHUP. The handler only notes the
// signal; the run looks at it between chunks and between the pieces of a
// long copy, finishes its files, and the process then ends by the same
// signal, so that whoever started it sees how it ended.
#pragma once

// Installs the handlers. SIGPIPE and SIGXFSZ are ignored: a closed standard
// error must not end the conversion half way, and a file-size limit shows up
// as a failed write (EFBIG), like a full disk.
void interruption_install();

// The signal that asked the run to stop, 0 if none.
int interruption_signal();

// "SIGINT", "SIGTERM" or "SIGHUP".
const char* interruption_name(int signal_number);

// Ends the process by `signal_number` with its default action. Returns only
// if the signal could not end it.
void interruption_resend(int signal_number);
