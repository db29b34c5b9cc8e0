// Recomputing the checksum of an Intel HEX data record in its line.
#pragma once

#include <cstddef>
#include <string>

#include "simd_level.hpp"

// Columns of a record line: the mark in column 0, then two digits a byte for
// the count, the address (two bytes), the type and the data bytes, then the
// checksum.
constexpr std::size_t count_column = 1;
constexpr std::size_t address_column = 3;
constexpr std::size_t type_column = 7;
constexpr std::size_t data_column = 9;

// Every column a rewrite reads or writes lies below this one: the mark,
// then count, address, type, up to 255 data bytes and the checksum, two
// digits a byte: 1 + 2 * (1 + 2 + 1 + 255 + 1) = 521.
constexpr std::size_t record_columns = 521;

constexpr std::size_t checksum_column(std::size_t count)
{
	return data_column + 2 * count;
}

// Writes the checksum of a record whose count, address, type and data bytes
// add up to sum: the two's complement of the sum modulo 256, as two
// uppercase digits at checksum.
inline void put_checksum(char *checksum, unsigned sum)
{
	static const char digits[] = "0123456789ABCDEF";
	const unsigned value = (0x100 - (sum & 0xFF)) & 0xFF;
	checksum[0] = digits[value >> 4];
	checksum[1] = digits[value & 0xF];
}

// Takes line as an Intel HEX record and, when its type field decodes to 0
// and its content holds every data column, writes the record's checksum
// over columns 9 + 2n and 10 + 2n as two uppercase digits; every other
// line is left unchanged. line holds length characters of content, the line
// without its terminator, and may be written up to two characters past
// them, where a record that lacks checksum digits gets them. Returns the
// content length after the rewrite. Non-digits in the decoded columns are
// reported in messages, which must be written before the line. Sets
// length_disagrees when the checksum went where the count puts it in a line
// whose length says otherwise: one or two digits short of its end, or with a
// hexadecimal digit straight after it, where a byte may have been deleted or
// added without changing the count.
std::size_t rewrite_record_line(char *line, std::size_t length, std::string &messages,
                                bool &length_disagrees);

// What the fast paths do with a data record they take: rewrite its checksum;
// verify: take only records that start with the mark and whose checksum is
// right, and leave them as they are; or mend: as verify, and also take a
// record whose checksum is wrong when none of its letters is in lower case,
// write the right checksum and count it in mended.
enum class checksum_action { rewrite, verify, mend };

// The fast path for the lines of a well-formed file. When text starts with
// a data record whose header and data are all hexadecimal digits, followed by
// two checksum characters and at once by its terminator, all within the
// available bytes, takes it as action says and returns the length of the
// line, terminator included. Returns 0, having changed nothing, for anything
// else: such a line is for rewrite_record_line or check_record. Never reads
// past available.
// One function for each action, so that the plain run's carries nothing of
// the others.
template <checksum_action action>
std::size_t rewrite_plain_record(char *text, std::size_t available, simd_level level,
                                 std::size_t &mended);

// What is wrong with a line of a file being checked or fixed in place.
enum class flaw {
	none,
	not_a_record,     // neither a record nor blank, a comment (';') or padding
	bad_digit,        // a character that is not a hexadecimal digit, at column
	digits_missing,   // the line ends digits short of its checksum's end
	checksum_missing, // both digits of it: or a byte deleted, the count unchanged
	digits_extra,     // hexadecimal digits straight after the checksum
	checksum_wrong,
};

struct record_check {
	flaw kind;
	int type;               // the record type, or -1 when the line has none
	std::size_t column;     // of the first bad digit, from 0
	std::size_t digits_end; // the columns that must be digits end here
	std::size_t digits;     // missing or extra
	unsigned found, right;  // checksum values
};

// Checks the line of length characters of content as a record: the first
// flaw found, in column order. Blank lines, comments (from ';') and lines
// of Ctrl-Z bytes are none; other lines that do not start with ':' are not
// records, so nothing in them is decoded. A record is as long as its count
// says, 2n + 11 characters: a hexadecimal digit in every column up to its
// checksum's end, then its line end or something that is not a digit (a
// comment). Its checksum is compared by value.
record_check check_record(const char *line, std::size_t length);

// The byte written at column, whose two digits are known to be hexadecimal.
unsigned byte_at(const char *line, std::size_t column);

// The first column from from on, before to, that holds no hexadecimal
// digit, or to.
std::size_t next_bad_digit(const char *line, std::size_t from, std::size_t to);

// Whether a checked line is a record whose fields all hold digits: the
// structure checks take it.
bool usable_record(const record_check &check);

// Whether a checked line is a data record with a checksum to write in place.
bool can_mend(const record_check &check);

// Whether the flaw is one only a person can mend, as the record's length
// and count disagree or a character is bad: a missing digit may have been a
// data digit as well as a checksum digit, a missing checksum a deleted byte,
// and extra digits data added without changing the count.
bool needs_a_hand(const record_check &check);

// Writes the right checksum of a record that can_mend over the old one, in
// lower case when every letter of the record is.
void mend_record(char *line, const record_check &check);
