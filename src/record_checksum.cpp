// The checksum of a data record: the two's complement of the sum, modulo
// 256, of its count, address, type and data bytes.
#include "record_checksum.hpp"

#include <algorithm>
#include <cstring>

#include "hex_field.hpp"

namespace {

constexpr int data_type = 0;

bool is_line_end(char c)
{
	return c == '\n' || c == '\r';
}

bool is_hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

// Digit by digit, reporting every non-digit in column order. The header is
// decoded twice for a data record, once to learn the type and once as part
// of the sum, so a bad header character is reported twice.
std::size_t rewrite_record_line(char *line, std::size_t length, std::string &messages,
                                bool &length_disagrees)
{
	length_disagrees = false;
	int count = read_hex_field(line, length, count_column, 2, messages);
	read_hex_field(line, length, address_column, 4, messages); // only its messages matter
	int type = read_hex_field(line, length, type_column, 2, messages);
	std::size_t checksum_at = checksum_column(static_cast<std::size_t>(count));
	if (type != data_type || length < checksum_at)
		return length;
	unsigned sum = 0;
	for (std::size_t column = count_column; column < checksum_at; column += 2)
		sum += static_cast<unsigned>(read_hex_field(line, length, column, 2, messages));
	length_disagrees = length < checksum_at + 2 ||
	                   (length > checksum_at + 2 && is_hex_digit(line[checksum_at + 2]));
	put_checksum(line + checksum_at, sum);
	return std::max(length, checksum_at + 2);
}

namespace {

// Of the hexadecimal digits, only a lower-case letter has both the 0x40 and
// the 0x20 bit: a test without branches, which the compiler runs 16 digits
// at a time.
bool has_lower_case_letter(const char *digits, std::size_t length)
{
	unsigned char both = 0;
	for (std::size_t i = 0; i < length; ++i) {
		const auto c = static_cast<unsigned char>(digits[i]);
		both |= static_cast<unsigned char>(c & (c + c));
	}
	return (both & 0x40u) != 0;
}

// The mend action on a record whose sum up to its checksum is sum: a right
// checksum keeps its characters, a wrong one is written and counted. False,
// having changed nothing, for a record the exact path must take: a checksum
// that is not two digits, or a wrong one in a record with lower-case letters,
// which gets a lower-case one there. Apart from rewrite_plain_record so that
// the plain run does not pay for it.
[[gnu::noinline]] bool mend_checksum(char *text, std::size_t checksum_at, int sum,
                                     std::size_t &mended)
{
	const int old = hex_byte_sum(text + checksum_at, 1, simd_level::table);
	if (old < 0)
		return false;
	if (((sum + old) & 0xFF) == 0)
		return true;
	if (has_lower_case_letter(text + count_column, checksum_at + 2 - count_column))
		return false;
	put_checksum(text + checksum_at, static_cast<unsigned>(sum));
	++mended;
	return true;
}

} // namespace

template <checksum_action action>
std::size_t rewrite_plain_record(char *text, std::size_t available, simd_level level,
                                 std::size_t &mended)
{
	constexpr bool rewrite = action == checksum_action::rewrite;
	constexpr bool verify = action == checksum_action::verify;
	int count = available > data_column ? hex_byte_sum(text + count_column, 1, level) : -1;
	if (count < 0 || hex_byte_sum(text + type_column, 1, level) != data_type ||
	    (rewrite ? text[0] == '\n' : text[0] != ':'))
		return 0;
	// The count says where the line must end; anything else there, or a
	// line end inside the checksum, leaves the line to the general rewrite.
	std::size_t checksum_at = checksum_column(static_cast<std::size_t>(count));
	std::size_t end = checksum_at + 2;
	if (end < available && text[end] == '\r')
		++end;
	if (end >= available || text[end] != '\n' || is_line_end(text[checksum_at]) ||
	    is_line_end(text[checksum_at + 1]))
		return 0;
	// Every digit checked here also rules out a line feed before the end.
	// A right checksum brings the sum of the whole record to 0.
	const std::size_t bytes = static_cast<std::size_t>(count) + (verify ? 5 : 4);
	int sum = hex_byte_sum(text + count_column, bytes, level);
	if (sum < 0 || (verify && sum != 0))
		return 0;
	if constexpr (action == checksum_action::mend)
		return mend_checksum(text, checksum_at, sum, mended) ? end + 1 : 0;
	if (!verify)
		put_checksum(text + checksum_at, static_cast<unsigned>(sum));
	return end + 1;
}

template std::size_t rewrite_plain_record<checksum_action::rewrite>(char *, std::size_t, simd_level,
                                                                    std::size_t &);
template std::size_t rewrite_plain_record<checksum_action::verify>(char *, std::size_t, simd_level,
                                                                   std::size_t &);
template std::size_t rewrite_plain_record<checksum_action::mend>(char *, std::size_t, simd_level,
                                                                 std::size_t &);

unsigned byte_at(const char *line, std::size_t column)
{
	return static_cast<unsigned>(hex_byte_sum(line + column, 1, simd_level::table));
}

namespace {

// How many hexadecimal digits stand straight after the checksum's end.
std::size_t digits_after(const char *line, std::size_t length, std::size_t end)
{
	std::size_t column = end;
	while (column < length && is_hex_digit(line[column]))
		++column;
	return column - end;
}

} // namespace

namespace {

// A line of nothing but these is no record and no flaw.
bool is_only(const char *line, std::size_t length, const char *characters)
{
	for (std::size_t i = 0; i < length; ++i)
		if (std::strchr(characters, line[i]) == nullptr || line[i] == '\0')
			return false;
	return true;
}

} // namespace

record_check check_record(const char *line, std::size_t length)
{
	record_check check{flaw::none, -1, 0, 0, 0, 0, 0};
	// Blank lines, comments, and the Ctrl-Z bytes CP/M padded its files
	// with, up to its 128-byte sectors.
	if (length == 0 || line[0] == ';' || is_only(line, length, " \t") ||
	    is_only(line, length, "\x1A"))
		return check;
	if (line[0] != ':') {
		check.kind = flaw::not_a_record;
		return check;
	}
	// The count is known once its digits are; until then a whole header is due.
	const bool counted = length > count_column + 1 && is_hex_digit(line[count_column]) &&
	                     is_hex_digit(line[count_column + 1]);
	const std::size_t needed = checksum_column(counted ? byte_at(line, count_column) : 0) + 2;
	check.digits_end = std::min(length, needed);
	check.column = next_bad_digit(line, count_column, check.digits_end);
	if (check.column < check.digits_end) {
		check.kind = flaw::bad_digit;
		return check;
	}
	if (length > type_column + 1)
		check.type = static_cast<int>(byte_at(line, type_column));
	if (length + 2 < needed || (length + 1 == needed)) {
		check.kind = flaw::digits_missing;
		check.digits = needed - length;
		return check;
	}
	const int sum =
	    hex_byte_sum(line + count_column, (needed - 2 - count_column) / 2, simd_level::table);
	check.right = static_cast<unsigned>(0x100 - sum) & 0xFF;
	if (length + 2 == needed) {
		check.kind = flaw::checksum_missing;
	} else if ((check.digits = digits_after(line, length, needed)) != 0) {
		check.kind = flaw::digits_extra;
	} else {
		check.found = byte_at(line, needed - 2);
		if (check.found != check.right)
			check.kind = flaw::checksum_wrong;
	}
	return check;
}

std::size_t next_bad_digit(const char *line, std::size_t from, std::size_t to)
{
	while (from < to && is_hex_digit(line[from]))
		++from;
	return from;
}

bool usable_record(const record_check &check)
{
	return check.type >= 0 && !needs_a_hand(check);
}

bool can_mend(const record_check &check)
{
	return check.type == data_type && check.kind == flaw::checksum_wrong;
}

bool needs_a_hand(const record_check &check)
{
	return check.kind == flaw::bad_digit || check.kind == flaw::digits_missing ||
	       check.kind == flaw::digits_extra ||
	       (check.kind == flaw::checksum_missing && check.type == data_type);
}

void mend_record(char *line, const record_check &check)
{
	const std::size_t checksum_at = checksum_column(byte_at(line, count_column));
	bool upper = false, lower = false;
	for (std::size_t column = count_column; column < checksum_at + 2; ++column) {
		upper = upper || (line[column] >= 'A' && line[column] <= 'F');
		lower = lower || (line[column] >= 'a' && line[column] <= 'f');
	}
	const char *digits = lower && !upper ? "0123456789abcdef" : "0123456789ABCDEF";
	line[checksum_at] = digits[check.right >> 4];
	line[checksum_at + 1] = digits[check.right & 0xF];
}
