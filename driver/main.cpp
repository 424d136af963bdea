#include "driver/extract.h"
#include "driver/interruption.h"

// No arguments are read: the movie, the outputs and their formats are fixed.
int main() {
    interruption_install();
    const int status = extract_movie();
    if (const int event = interruption_event(); event != 0) interruption_resend(event);
    return status;
}
