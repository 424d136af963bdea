#include "driver/messages.h"

#include <cstdio>

namespace {

bool said = false;

}  // namespace

void say(const std::string& text) {
    const std::string line = "movie-extract: " + text + "\n";
    std::fputs(line.c_str(), stderr);
    said = true;
}

void say_out(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
    said = true;
}

bool said_anything() { return said; }
