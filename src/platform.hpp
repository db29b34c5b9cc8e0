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

// A file being fixed in place: the file itself (the target of a symbolic
// link, which stays a link), open for reading, and the new file that is to
// replace it, made beside it.
struct file_in_place {
	std::FILE *in;
	std::FILE *out;
	std::string path;      // of the file itself
	std::string temporary; // of the new file, once made
	unsigned long long device, inode;
	unsigned mode;
	long owner, group;
	int error;        // errno of what failed
	const char *step; // what failed, when the new file could not replace the file
};

enum class open_result { opened, failed, not_a_file, more_links };

// Opens the file that path names, to be replaced: not when it is not a
// regular file, nor when it has more than one link, which a replacement
// would split. On failure error is set.
open_result open_in_place(const char *path, file_in_place &file);

// Makes the new file, empty, beside the file. An interrupt from now on
// removes it before the tool ends as the signal would have ended it.
bool make_replacement(file_in_place &file);

// Writes the new file out to the disk, gives it the file's permissions (and
// owner, where the tool may) and renames it over the file, which stays
// whole until then. On failure the new file is removed, and step says what
// failed.
bool commit_replacement(file_in_place &file);

// Removes the new file, if there is one, and closes what is open.
void close_in_place(file_in_place &file);
