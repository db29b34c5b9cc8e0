// Recomputing the checksum of a record in its line.
#pragma once

#include <cstddef>
#include <string>

#include "record_layout.hpp"
#include "simd_level.hpp"

// Writes the checksum of a record whose bytes up to it add up to sum as two
// uppercase digits at checksum.
inline void put_checksum(const record_layout &layout, char *checksum, unsigned sum)
{
	static const char digits[] = "0123456789ABCDEF";
	const unsigned value = checksum_of(layout, sum);
	checksum[0] = digits[value >> 4];
	checksum[1] = digits[value & 0xF];
}

// What the plain rewrite could not settle in a line: its checksum went where
// the count puts it though the line's length says otherwise, one or two
// digits short of its end, or with a hexadecimal digit straight after it,
// where a byte may have been deleted or added without changing the count;
// or its count is too small to hold its address and checksum, and it was
// left as it is; or it is a record of the other format, left as it is.
enum class line_trouble { none, length_disagrees, count_too_small, other_format };

// Takes line as a record and, when its type is one that is rewritten and its
// content holds every column up to its checksum, writes the record's
// checksum where its count puts it as two uppercase digits; every other line
// is left unchanged. An Intel HEX line is taken as a record whatever its first
// character; an S-record only when it starts with the mark and a digit. A
// line that has the other format's record form is never written into: a
// checksum of this format would spoil it. line
// holds length characters of content, the line without its terminator, and
// may be written up to two characters past them, where a record that lacks
// checksum digits gets them. Returns the content length after the rewrite.
// Non-digits in the decoded columns are reported in messages, which must be
// written before the line.
std::size_t rewrite_record_line(const record_layout &layout, char *line, std::size_t length,
                                std::string &messages, line_trouble &trouble);

// What the fast paths do with a record they take: rewrite its checksum;
// verify: take only records that start with the mark and whose checksum is
// right, and leave them as they are; or mend: as verify, and also take a
// record whose checksum is wrong when none of its letters is in lower case,
// write the right checksum and count it in mended.
enum class checksum_action { rewrite, verify, mend };

// The fast path for the lines of a well-formed file. When text starts with
// a record of a rewritten type whose header and data are all hexadecimal digits, followed by
// two checksum characters and at once by its terminator, all within the
// available bytes, takes it as action says and returns the length of the
// line, terminator included. Returns 0, having changed nothing, for anything
// else: such a line is for rewrite_record_line or check_record. Never reads
// past available.
// One function for each action, so that the plain run's carries nothing of
// the others.
template <record_format format, checksum_action action>
std::size_t rewrite_plain_record(char *text, std::size_t available, simd_level level,
                                 std::size_t &mended);

// What is wrong with a line of a file being checked or fixed in place.
enum class flaw {
	none,
	not_a_record,     // neither a record nor blank, a comment (';') or padding
	bad_digit,        // a character that is not a hexadecimal digit, at column
	digits_missing,   // the line ends digits short of its checksum's end
	count_too_small,  // for the address and checksum its type has
	checksum_missing, // both digits of it: or a byte deleted, the count unchanged
	digits_extra,     // hexadecimal digits straight after the checksum
	checksum_wrong,
};

struct record_check {
	flaw kind;
	int type;               // the record type, or -1 when the line has none
	bool rewritten;         // a type whose checksum the plain run writes
	bool mendable;          // one a fix in place writes: any type the format has
	bool other_format;      // not_a_record: a record of the other format
	std::size_t column;     // of the first bad digit, from 0
	std::size_t digits_end; // the columns that must be digits end here
	std::size_t digits;     // missing or extra
	unsigned found, right;  // checksum values
};

// Checks the line of length characters of content as a record: the first
// flaw found, in column order. Blank lines, comments (from ';') and lines
// of Ctrl-Z bytes are none; other lines that do not start with the mark (and
// a digit, for an S-record) are not records, so nothing in them is decoded.
// A record is as long as its count says: a hexadecimal digit in every column
// up to its checksum's end, then its line end or something that is not a
// digit (a comment). Its checksum is compared by value.
record_check check_record(const record_layout &layout, const char *line, std::size_t length);

// The byte written at column, whose two digits are known to be hexadecimal.
unsigned byte_at(const char *line, std::size_t column);

// The first column from from on, before to, that holds no hexadecimal
// digit, or to.
std::size_t next_bad_digit(const char *line, std::size_t from, std::size_t to);

// Whether a checked line has the record form of its layout: the mark, a
// type the format has, hexadecimal digits up to its checksum's end where
// the count puts it, then its end or something that is not a digit. Its
// checksum may be wrong.
bool has_record_form(const record_layout &layout, const record_check &check);

// Whether a checked line is a record whose fields all hold digits: the
// structure checks take it.
bool usable_record(const record_check &check);

// Whether a checked line is a record of a type the format has, whose wrong
// checksum a fix in place writes: data records as the plain run does, and
// also the others (end, address and start records, S5 to S9), which an edit
// by hand may leave wrong as well.
bool can_mend(const record_check &check);

// Whether the flaw is one only a person can mend, as the record's length
// and count disagree or a character is bad: a missing digit may have been a
// data digit as well as a checksum digit, a missing checksum a deleted byte,
// and extra digits data added without changing the count.
bool needs_a_hand(const record_check &check);

// The digits a record is written in: lower case when every letter of it
// is, else upper case. Its columns up to its checksum's end are digits.
const char *digits_of_record(const record_layout &layout, const char *line);

// Writes the right checksum of a record that can_mend over the old one, in
// the record's case.
void mend_record(const record_layout &layout, char *line, const record_check &check);

// Writes the checksum of a record whose digits are all hexadecimal over
// the old one, in the given digits (see digits_of_record).
void rewrite_checksum(const record_layout &layout, char *line, const char *digits);
