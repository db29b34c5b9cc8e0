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
// reported in messages, which must be written before the line.
std::size_t rewrite_record_line(char *line, std::size_t length, std::string &messages);

// The fast path for the lines of a well-formed file. When text starts with
// a data record whose header and data are all hexadecimal digits, followed by
// two checksum characters and at once by its terminator, all within the
// available bytes, rewrites its checksum and returns the length of the line,
// terminator included. Returns 0, having changed nothing, for anything else:
// such a line is for rewrite_record_line. Never reads past available.
std::size_t rewrite_plain_record(char *text, std::size_t available, simd_level level);
