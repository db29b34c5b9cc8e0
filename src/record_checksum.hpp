// Recomputing the checksum of an Intel HEX data record in its line.
#pragma once

#include <cstddef>
#include <string>

// Every column a rewrite reads or writes lies below this one: the mark,
// then count, address, type, up to 255 data bytes and the checksum, two
// digits a byte: 1 + 2 * (1 + 2 + 1 + 255 + 1) = 521.
constexpr std::size_t record_columns = 521;

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
std::size_t rewrite_plain_record(char *text, std::size_t available);

// The records after one that rewrite_plain_record has just rewritten, of
// length bytes and ending just before text: as long as they are its twins
// (same count, type and line end, every column up to the checksum an
// uppercase digit), rewrites their checksums. Returns the bytes done, a
// whole number of records, 0 where the next line is not a twin or the
// build has no vector instructions. Never reads past end.
std::size_t rewrite_record_run(char *text, const char *end, std::size_t length);
