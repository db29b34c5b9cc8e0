// What differs between Windows and POSIX systems, behind plain calls, so
// that the command line and the steps of a fix in place read the same on
// both. Each system's side is a file of its own: unix/ and win/.
#pragma once

#include <cstdint>
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

// Whether stream is a terminal that takes ANSI colours (Windows: once its
// console is asked to).
bool is_terminal(std::FILE *stream);

// How many columns the terminal that stream is shows, or 0 where that is not
// known.
std::size_t terminal_width(std::FILE *stream);

// Whether a file's name may start with a drive ("C:\\"), as on Windows.
extern const bool names_have_drives;

// How a user lets the tool write a read-only file.
extern const char read_only_hint[];

// The folder the tool runs in as a file URI ending in '/', or empty where
// it cannot be told.
std::string folder_uri();

// Whether the file that path names is out, a regular file: looked at
// without opening it where the system can, as a FIFO would wait.
bool names_output(const char *path, std::FILE *out);

// Whether out is a regular file that is the file in.
bool same_file(std::FILE *in, std::FILE *out);

// What the system keeps of a file being fixed in place: its folder, its
// names, what it was when opened.
struct system_file;

// The step of a fix in place that failed, and left the file as it was.
enum class fix_step {
	none,
	make,        // a new file beside the file
	folder,      // the folder, which may not be written
	read_only,   // the file, marked read-only (Windows)
	write,       // the new file's bytes
	flush,       // the new file, to the disk
	permissions, // the new file, given the file's
	attributes,  // the new file, given the file's access list and attributes
	replace,     // the file, by the new one
	changed,     // another program wrote to the file, moved another onto
	             // its name or changed its permissions
	kept_aside,  // the file replaced at the moment another program changed
	             // it: that program's file kept under the name in reason
	lost_aside,  // the same, but that program's file was gone by then
	renamed,     // the file whole, but under the name in reason (Windows)
};

// A file being fixed in place: the file itself (the target of a symbolic
// link, which stays a link), open for reading, and the new file that is to
// replace it, made beside it. UTF-8 names for what is said of them.
struct file_in_place {
	std::FILE *in;
	std::FILE *out;     // the new file, once made
	bool more_names;    // hard links, which a new file would part
	bool a_link;        // a symbolic link or junction (Windows), which it would replace
	bool read_only;     // no write permission for its owner, or marked so (Windows)
	std::string folder; // the file's folder
	fix_step failed;    // and why, in the system's words:
	std::string reason;
	std::string owner_change; // an owner or group that could not be kept, in words
	std::string left_behind;  // the old file, replaced, whose name could not be removed
	system_file *system;
};

enum class open_result { opened, failed, not_a_file };

// Opens the file that path names, to be replaced: a regular file, checked
// before anything is read from it. A symbolic link is followed where the
// new file can replace its target (POSIX), else read and marked. On failure
// reason says why.
open_result open_in_place(const char *path, file_in_place &file);

// Makes the new file beside the file, out. Nothing of it is left if the
// tool is killed or interrupted before it replaces the file (but by SIGKILL
// where the system cannot make a file without a name). False, with failed
// and reason, if it could not be made.
bool make_new_file(file_in_place &file);

// Appends the file's bytes from one offset to another to the new file,
// after what out has been given, without their passing through the tool
// where the system can. False, with failed and reason (and errno): a
// failed write, or a file that ends before them, which has changed.
bool copy_into_new_file(file_in_place &file, std::uint64_t from, std::uint64_t to);

// Writes the new file out to the disk, gives it the file's permissions,
// access list and attributes (and owner, where the tool may) and puts it in
// the file's place, unless another program changed the file since it was
// opened: then, or on any failure, the file stays as that program or the
// tool left it. False, with failed and reason.
bool replace_file(file_in_place &file);

// Removes the new file, unless it replaced the file, and closes what is
// open.
void close_in_place(file_in_place &file);

// A replaced file lasts through a power cut once its folder is written to
// the disk, done once after the files replaced in one folder one after
// another. On a system or filesystem that has no such flush, none is held
// and there is nothing to flush.

// Whether the file's folder is the one held to be flushed.
bool folder_held(const file_in_place &file);

// Holds the folder of a file just replaced, or flushes it at once when it
// cannot be held (out of descriptors). False, with the reason, when that
// flush failed.
bool hold_folder(const file_in_place &file, std::string &reason);

// Flushes the folder held, if any, and lets it go. False, with the reason,
// when the flush failed.
bool flush_held_folder(std::string &reason);
