// The checksum of a data record: the two's complement of the sum, modulo
// 256, of its count, address, type and data bytes.
#include "record_checksum.hpp"

#include <algorithm>

#include "hex_field.hpp"

namespace {

constexpr int data_type = 0;

bool is_line_end(char c)
{
	return c == '\n' || c == '\r';
}

} // namespace

// Digit by digit, reporting every non-digit in column order. The header is
// decoded twice for a data record, once to learn the type and once as part
// of the sum, so a bad header character is reported twice.
std::size_t rewrite_record_line(char *line, std::size_t length, std::string &messages)
{
	int count = read_hex_field(line, length, count_column, 2, messages);
	read_hex_field(line, length, address_column, 4, messages); // only its messages matter
	int type = read_hex_field(line, length, type_column, 2, messages);
	std::size_t checksum_at = checksum_column(static_cast<std::size_t>(count));
	if (type != data_type || length < checksum_at)
		return length;
	unsigned sum = 0;
	for (std::size_t column = count_column; column < checksum_at; column += 2)
		sum += static_cast<unsigned>(read_hex_field(line, length, column, 2, messages));
	put_checksum(line + checksum_at, sum);
	return std::max(length, checksum_at + 2);
}

std::size_t rewrite_plain_record(char *text, std::size_t available, simd_level level)
{
	int count = available > data_column ? hex_byte_sum(text + count_column, 1, level) : -1;
	if (count < 0 || hex_byte_sum(text + type_column, 1, level) != data_type || text[0] == '\n')
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
	int sum = hex_byte_sum(text + count_column, static_cast<std::size_t>(count) + 4, level);
	if (sum < 0)
		return 0;
	put_checksum(text + checksum_at, static_cast<unsigned>(sum));
	return end + 1;
}
