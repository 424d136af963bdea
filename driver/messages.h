// The program's own lines. Each goes out whole, so that lines from a
// conversion and from the shell never mix inside one.
#pragma once

#include <string>

// "movie-extract: " and the text, on standard error.
void say(const std::string& text);

// A line on standard output, as it stands.
void say_out(const std::string& line);

// Whether any line has gone out, on either stream.
bool said_anything();
