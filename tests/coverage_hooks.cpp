// Linked into the converter of coverage builds only, so that the runs the
// tests end by a signal, or run under fiu-run, still write their counts.
#include <cstdlib>
#include <dlfcn.h>
#include <string>

extern "C" void __gcov_dump();
extern "C" int __real_raise(int signal_number);

namespace {

// fiu-run enables its failure points from FIU_ENABLE; they are disabled
// before the counts are written, which they would fail as well.
void disable_injected_failures() {
    using RcString = int (*)(const char*, char**);
    const auto rc = reinterpret_cast<RcString>(dlsym(RTLD_DEFAULT, "fiu_rc_string"));
    const char* enabled = std::getenv("FIU_ENABLE");
    if (rc == nullptr || enabled == nullptr) return;
    const std::string commands = enabled;
    for (std::size_t at = 0; (at = commands.find("name=", at)) != std::string::npos;) {
        const std::size_t end = commands.find_first_of(",\n", at);
        const std::string disable = "disable " + commands.substr(at, end - at);
        char* error = nullptr;
        rc(disable.c_str(), &error);
        at = end;
    }
}

// Runs before the coverage runtime's own destructor, which writes the counts.
__attribute__((destructor)) void before_counts_are_written() { disable_injected_failures(); }

}  // namespace

// The process is about to end by this signal, which writes nothing.
extern "C" int __wrap_raise(int signal_number) {
    disable_injected_failures();
    __gcov_dump();
    return __real_raise(signal_number);
}
