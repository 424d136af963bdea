// The whole conversion: BOOK.MOV in the current directory becomes numbered
// TGA images and BOOK.WAV in the same directory.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* MOVIE_FILE_NAME = "BOOK.MOV";
// The one fixed line on standard output: the movie could not be opened.
inline constexpr const char* MOVIE_UNOPENED = "error opening BOOK.MOV file";

// Exit statuses.
inline constexpr int EXIT_COMPLETE = 0;
inline constexpr int EXIT_FAILED = 1;   // the movie could not be read or an output not written
inline constexpr int EXIT_DAMAGED = 2;  // the movie is damaged; all that could be decoded is written
// Interrupted by signal n: 128 + n, as a shell reports a process ended by it.
inline constexpr int EXIT_INTERRUPTED = 128;

// Runs the conversion once; every run starts from number 0 and a black
// picture. Returns the exit status.
int extract_movie();

// The movie's names: BOOK.MOV itself, or else every directory entry that
// matches it ignoring the case of ASCII letters, sorted. Only one name is a
// movie to read.
std::vector<std::string> find_movie_names();
