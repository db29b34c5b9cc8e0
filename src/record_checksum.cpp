// The checksum of a data record: the two's complement of the sum, modulo
// 256, of its count, address, type and data bytes.
#include "record_checksum.hpp"

#include <algorithm>
#include <cstring>

#include "hex_field.hpp"

namespace {

bool is_line_end(char c)
{
	return c == '\n' || c == '\r';
}

bool is_hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_decimal(char c)
{
	return c >= '0' && c <= '9';
}

// The type of a record whose type is the digit after its mark, or -1 for a
// line that does not start with them: no record.
int type_after_mark(const record_layout &layout, const char *line, std::size_t length)
{
	return length >= 2 && line[0] == layout.mark && is_decimal(line[1]) ? line[1] - '0' : -1;
}

// Whether line is a record of the format the file is not read in.
bool has_other_form(const record_layout &layout, const char *line, std::size_t length)
{
	const record_layout &other = other_layout(layout);
	return length != 0 && line[0] == other.mark &&
	       has_record_form(other, check_record(other, line, length));
}

} // namespace

// Digit by digit, reporting every non-digit in column order. The header is
// decoded twice for a record that is rewritten, once to learn where its
// fields lie and once as part of the sum, so a bad header character is
// reported twice.
std::size_t rewrite_record_line(const record_layout &layout, char *line, std::size_t length,
                                std::string &messages, line_trouble &trouble)
{
	trouble = line_trouble::none;
	if (has_other_form(layout, line, length)) {
		trouble = line_trouble::other_format;
		return length;
	}
	int type = 0;
	if (layout.type_digits == 1 && (type = type_after_mark(layout, line, length)) < 0)
		return length;
	const int count = read_hex_field(line, length, layout.count_column, 2, messages);
	// Only its messages matter: a byte at a time, as four bytes overflow an int.
	for (std::size_t i = 0; i < address_bytes(layout, type); ++i)
		read_hex_field(line, length, layout.address_column + 2 * i, 2, messages);
	if (layout.type_digits == 2)
		type = read_hex_field(line, length, layout.type_column, 2, messages);
	const std::size_t checksum_at = checksum_column(layout, static_cast<std::size_t>(count));
	if (!is_rewritten(layout, type))
		return length;
	if (static_cast<std::size_t>(count) < smallest_count(layout, type)) {
		// Where the count puts it, the checksum would go over the address.
		trouble = line_trouble::count_too_small;
		return length;
	}
	if (length < checksum_at)
		return length;
	unsigned sum = 0;
	for (std::size_t column = layout.count_column; column < checksum_at; column += 2)
		sum += static_cast<unsigned>(read_hex_field(line, length, column, 2, messages));
	if (length < checksum_at + 2 ||
	    (length > checksum_at + 2 && is_hex_digit(line[checksum_at + 2])))
		trouble = line_trouble::length_disagrees;
	put_checksum(layout, line + checksum_at, sum);
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
[[gnu::noinline]] bool mend_checksum(const record_layout &layout, char *text,
                                     std::size_t checksum_at, int sum, std::size_t &mended)
{
	const int old = hex_byte_sum(text + checksum_at, 1, simd_level::table);
	if (old < 0)
		return false;
	if (checksum_of(layout, static_cast<unsigned>(sum)) == static_cast<unsigned>(old))
		return true;
	if (has_lower_case_letter(text + layout.count_column,
	                          checksum_at + 2 - layout.count_column))
		return false;
	put_checksum(layout, text + checksum_at, static_cast<unsigned>(sum));
	++mended;
	return true;
}

} // namespace

namespace {

// The count of the record at text when it is one the fast paths take: of a
// rewritten type, with the mark where an action needs it and a count that
// holds the record's address; or -1.
template <record_format format, checksum_action action>
[[gnu::always_inline]] inline int plain_count(const char *text, std::size_t available,
                                              simd_level level)
{
	constexpr const record_layout &layout = layout_of(format);
	if constexpr (layout.type_digits == 2) {
		// The plain run takes any line as a record, as the exact path does,
		// but an empty one, and one that may be an S-record, which the exact
		// path tells.
		const int count = available > data_column(layout, 0)
		                      ? hex_byte_sum(text + layout.count_column, 1, level)
		                      : -1;
		if (count < 0 || hex_byte_sum(text + layout.type_column, 1, level) != 0 ||
		    (action == checksum_action::rewrite
		         ? text[0] == '\n' || text[0] == other_layout(layout).mark
		         : text[0] != layout.mark))
			return -1;
		return count;
	} else {
		if (available <= layout.count_column + 2 || text[0] != layout.mark)
			return -1;
		const auto type = static_cast<unsigned char>(text[1] - '0');
		const int count = hex_byte_sum(text + layout.count_column, 1, level);
		if (type > layout.last_rewritten_type || count < 0 ||
		    static_cast<std::size_t>(count) < smallest_count(layout, type))
			return -1;
		return count;
	}
}

} // namespace

template <record_format format, checksum_action action>
std::size_t rewrite_plain_record(char *text, std::size_t available, simd_level level,
                                 std::size_t &mended)
{
	constexpr const record_layout &layout = layout_of(format);
	constexpr bool verify = action == checksum_action::verify;
	const int count = plain_count<format, action>(text, available, level);
	if (count < 0)
		return 0;
	// The count says where the line must end; anything else there, or a
	// line end inside the checksum, leaves the line to the general rewrite.
	const std::size_t checksum_at = checksum_column(layout, static_cast<std::size_t>(count));
	std::size_t end = checksum_at + 2;
	if (end < available && text[end] == '\r')
		++end;
	if (end >= available || text[end] != '\n' || is_line_end(text[checksum_at]) ||
	    is_line_end(text[checksum_at + 1]))
		return 0;
	// Every digit checked here also rules out a line feed before the end.
	// A right checksum brings the sum of the whole record to the complement.
	const std::size_t bytes =
	    static_cast<std::size_t>(count) + layout.uncounted_bytes + (verify ? 1 : 0);
	const int sum = hex_byte_sum(text + layout.count_column, bytes, level);
	if (sum < 0 || (verify && static_cast<unsigned>(sum) != layout.complement))
		return 0;
	if constexpr (action == checksum_action::mend)
		return mend_checksum(layout, text, checksum_at, sum, mended) ? end + 1 : 0;
	if (!verify)
		put_checksum(layout, text + checksum_at, static_cast<unsigned>(sum));
	return end + 1;
}

template std::size_t
rewrite_plain_record<record_format::intel_hex, checksum_action::rewrite>(char *, std::size_t,
                                                                         simd_level, std::size_t &);
template std::size_t
rewrite_plain_record<record_format::intel_hex, checksum_action::verify>(char *, std::size_t,
                                                                        simd_level, std::size_t &);
template std::size_t
rewrite_plain_record<record_format::intel_hex, checksum_action::mend>(char *, std::size_t,
                                                                      simd_level, std::size_t &);
template std::size_t
rewrite_plain_record<record_format::s_record, checksum_action::rewrite>(char *, std::size_t,
                                                                        simd_level, std::size_t &);
template std::size_t
rewrite_plain_record<record_format::s_record, checksum_action::verify>(char *, std::size_t,
                                                                       simd_level, std::size_t &);
template std::size_t
rewrite_plain_record<record_format::s_record, checksum_action::mend>(char *, std::size_t,
                                                                     simd_level, std::size_t &);

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

record_check check_record(const record_layout &layout, const char *line, std::size_t length)
{
	record_check check{flaw::none, -1, false, false, false, 0, 0, 0, 0, 0};
	// Blank lines, comments, and the Ctrl-Z bytes CP/M padded its files
	// with, up to its 128-byte sectors.
	if (length == 0 || line[0] == ';' || is_only(line, length, " \t") ||
	    is_only(line, length, "\x1A"))
		return check;
	int type = -1;
	if (line[0] != layout.mark ||
	    (layout.type_digits == 1 && (type = type_after_mark(layout, line, length)) < 0)) {
		check.kind = flaw::not_a_record;
		check.other_format = has_other_form(layout, line, length);
		return check;
	}
	const std::size_t count_at = layout.count_column;
	// The count is known once its digits are; until then a whole record of
	// the smallest count is due.
	const bool counted = length > count_at + 1 && is_hex_digit(line[count_at]) &&
	                     is_hex_digit(line[count_at + 1]);
	const std::size_t smallest = smallest_count(layout, type);
	const std::size_t count = counted ? byte_at(line, count_at) : smallest;
	const std::size_t checksum_at = checksum_column(layout, count);
	const std::size_t needed = checksum_at + 2;
	if (count < smallest) {
		check.kind = flaw::count_too_small;
		check.type = type;
		check.column = count_at;
		check.right = static_cast<unsigned>(smallest);
		return check;
	}
	check.digits_end = std::min(length, needed);
	check.column = next_bad_digit(line, count_at, check.digits_end);
	if (check.column < check.digits_end) {
		check.kind = flaw::bad_digit;
		return check;
	}
	if (layout.type_digits == 2 && length > layout.type_column + 1)
		type = static_cast<int>(byte_at(line, layout.type_column));
	check.type = type;
	check.rewritten = is_rewritten(layout, type);
	check.mendable = is_known_type(layout, type);
	if (length + 2 < needed || (length + 1 == needed)) {
		check.kind = flaw::digits_missing;
		check.digits = needed - length;
		return check;
	}
	const int sum =
	    hex_byte_sum(line + count_at, (checksum_at - count_at) / 2, simd_level::table);
	check.right = checksum_of(layout, static_cast<unsigned>(sum));
	if (length + 2 == needed) {
		check.kind = flaw::checksum_missing;
	} else if ((check.digits = digits_after(line, length, needed)) != 0) {
		check.kind = flaw::digits_extra;
	} else {
		check.found = byte_at(line, checksum_at);
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

bool has_record_form(const record_layout &layout, const record_check &check)
{
	return (check.kind == flaw::none || check.kind == flaw::checksum_wrong) &&
	       is_known_type(layout, check.type);
}

bool usable_record(const record_check &check)
{
	return check.type >= 0 && !needs_a_hand(check);
}

bool can_mend(const record_check &check)
{
	return check.mendable && check.kind == flaw::checksum_wrong;
}

bool needs_a_hand(const record_check &check)
{
	return check.kind == flaw::bad_digit || check.kind == flaw::digits_missing ||
	       check.kind == flaw::count_too_small || check.kind == flaw::digits_extra ||
	       (check.kind == flaw::checksum_missing && check.rewritten);
}

const char *digits_of_record(const record_layout &layout, const char *line)
{
	const std::size_t checksum_at = checksum_column(layout, byte_at(line, layout.count_column));
	bool upper = false, lower = false;
	for (std::size_t column = layout.count_column; column < checksum_at + 2; ++column) {
		upper = upper || (line[column] >= 'A' && line[column] <= 'F');
		lower = lower || (line[column] >= 'a' && line[column] <= 'f');
	}
	return lower && !upper ? "0123456789abcdef" : "0123456789ABCDEF";
}

void mend_record(const record_layout &layout, char *line, const record_check &check)
{
	const std::size_t checksum_at = checksum_column(layout, byte_at(line, layout.count_column));
	const char *digits = digits_of_record(layout, line);
	line[checksum_at] = digits[check.right >> 4];
	line[checksum_at + 1] = digits[check.right & 0xF];
}

void rewrite_checksum(const record_layout &layout, char *line, const char *digits)
{
	const std::size_t checksum_at = checksum_column(layout, byte_at(line, layout.count_column));
	const int sum = hex_byte_sum(line + layout.count_column,
	                             (checksum_at - layout.count_column) / 2, simd_level::table);
	const unsigned right = checksum_of(layout, static_cast<unsigned>(sum));
	line[checksum_at] = digits[right >> 4];
	line[checksum_at + 1] = digits[right & 0xF];
}
