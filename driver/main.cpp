#include "driver/extract.h"
#include "driver/interruption.h"

// No arguments are read: the movie, the outputs and their formats are fixed.
int main() {
    interruption_install();
    const int status = extract_movie();
    if (const int signal_number = interruption_signal(); signal_number != 0) interruption_resend(signal_number);
    return status;
}
