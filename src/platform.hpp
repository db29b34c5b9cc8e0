// What differs between Windows and POSIX systems, behind plain calls, so
// that the command-line flow reads the same on both.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The command-line arguments, program name first, as UTF-8: Windows has
// them as UTF-16, so that names outside the console's code page arrive whole.
std::vector<std::string> utf8_arguments(int argc, char **argv);

// Bytes go out as they are: no carriage return added before a line feed.
void set_binary_mode(std::FILE *stream);

// The file named by a UTF-8 path, opened to be read byte for byte, or null.
std::FILE *open_input(const char *path);

// Whether out is a regular file that is the file in.
bool same_file(std::FILE *in, std::FILE *out);
