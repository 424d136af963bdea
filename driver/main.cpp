#include "driver/extract.h"

// No arguments are read: the movie, the outputs and their formats are fixed.
int main() { return extract_movie(); }
