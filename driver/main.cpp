#include "driver/arguments.h"
#include "driver/console.h"
#include "driver/extract.h"
#include "driver/interruption.h"
#include "driver/messages.h"

namespace {

int run(int argc, const char* const* argv) {
    const Arguments arguments = read_arguments(argc, argv, CONSOLE_HELP_SWITCH, CONSOLE_OPTION_STARTS);
    switch (arguments.request) {
        case Request::HELP: say_out(usage_text(CONSOLE_MORE_HELP)); return EXIT_COMPLETE;
        case Request::VERSION: say_out(version_text()); return EXIT_COMPLETE;
        case Request::UNKNOWN_OPTION: say(unknown_option_text(arguments.refused)); return EXIT_FAILED;
        case Request::REFUSED: say(refusal_text(arguments.refused, CONSOLE_HOW_TO_RUN)); return EXIT_FAILED;
        case Request::CONVERT: break;
    }
    return extract_movie();
}

}  // namespace

int main(int argc, char** argv) {
    interruption_install();
    const int status = run(argc, argv);
    if (const int event = interruption_event(); event != 0) interruption_resend(event);
    interruption_finished();
    console_end(status, said_anything());
    return status;
}
