// What must hold after any conversion, whatever the movie was: used by the
// fuzz target after every input and by the tests that replay old findings.
#pragma once

#include <string>

// Checks the files that a conversion just left in the current directory,
// given its exit status. Returns what is wrong, or an empty string.
std::string check_conversion(int status);

// Removes what a conversion left in the current directory, BOOK.MOV aside.
void remove_conversion_outputs();
