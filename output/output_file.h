// Creating an output file.
#pragma once

#include <cstdio>

// Creates `name`, or cuts an existing file to nothing, for writing in binary,
// as fopen(name, "wb") does, except that a named pipe nobody reads fails at
// once instead of blocking the run. Null with errno set on failure.
std::FILE* create_output(const char* name);
