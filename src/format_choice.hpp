// Which of the two formats a file is read in, from the lines at its start
// that have a record's form.
#pragma once

#include <cstddef>

#include "record_layout.hpp"

// Up to this many lines of a record's form decide, found within the first
// format_window bytes of the file: the loop reads that far before its
// first block is taken, where they are not found sooner.
constexpr std::size_t format_votes = 16;
constexpr std::size_t format_window = std::size_t{1} << 20;

struct format_choice {
	record_format format;
	bool settled; // format_votes lines found, or the whole file looked at
};

// The format of the file whose first size bytes are text: that of most of
// its first format_votes lines that have a record's form of either format,
// a tie going to the format with more right checksums among them, then to
// Intel HEX, as does a file without such a line. Not the first character
// alone: a comment may start with ':' or with 'S' and a digit. A line
// counts once its line feed is in text, or at_end, when text is the whole
// file: a line cut short may not be what it looks like. A byte-order mark
// is passed over.
format_choice choose_format(const char *text, std::size_t size, bool at_end);

// How much of a file's start tells whether it is text at all.
constexpr std::size_t binary_window = 4096;

// Whether the file whose first size bytes are text is no text at all (an
// executable, an image, a binary dump): no line in its first binary_window
// bytes has a record's form, and more than a tenth of them are not
// printable ASCII, UTF-8 characters, tabs or line ends (or, in a ';'
// comment line, any byte of the top half). A hex file with a stray NUL is
// text.
bool is_binary(const char *text, std::size_t size);
