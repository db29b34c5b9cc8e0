// The checksum of a data record: the two's complement of the sum, modulo
// 256, of its count, address, type and data bytes.
#include "record_checksum.hpp"

#include <algorithm>

#include "hex_field.hpp"

namespace {

// Columns of the fields in a record line, after the mark in column 0.
constexpr std::size_t count_column = 1;
constexpr std::size_t address_column = 3;
constexpr std::size_t type_column = 7;
constexpr std::size_t data_column = 9;
constexpr int data_type = 0;

std::size_t checksum_column(int count)
{
	return data_column + 2 * static_cast<std::size_t>(count);
}

std::size_t write_checksum(char *line, std::size_t length, std::size_t column, unsigned sum)
{
	static const char digits[] = "0123456789ABCDEF";
	unsigned checksum = (0x100 - (sum & 0xFF)) & 0xFF;
	line[column] = digits[checksum >> 4];
	line[column + 1] = digits[checksum & 0xF];
	return std::max(length, column + 2);
}

// The rewrite digit by digit, reporting every non-digit in column order.
// The header is decoded twice for a data record, once to learn the type
// and once as part of the sum, so a bad header character is reported twice.
std::size_t rewrite_reporting(char *line, std::size_t length, std::string &messages)
{
	int count = read_hex_field(line, length, count_column, 2, messages);
	read_hex_field(line, length, address_column, 4, messages); // only its messages matter
	int type = read_hex_field(line, length, type_column, 2, messages);
	std::size_t checksum_at = checksum_column(count);
	if (type != data_type || length < checksum_at)
		return length;
	unsigned sum = 0;
	for (std::size_t column = count_column; column < checksum_at; column += 2)
		sum += static_cast<unsigned>(read_hex_field(line, length, column, 2, messages));
	return write_checksum(line, length, checksum_at, sum);
}

} // namespace

std::size_t rewrite_record_line(char *line, std::size_t length, std::string &messages)
{
	// Nearly every line is a clean record: decode it without messages, and
	// fall back to the reporting rewrite only when a non-digit turns up.
	if (length >= data_column) {
		int count = hex_byte_sum(line + count_column, 1);
		int address = hex_byte_sum(line + address_column, 2);
		int type = hex_byte_sum(line + type_column, 1);
		if (count >= 0 && address >= 0 && type >= 0) {
			if (type != data_type)
				return length;
			std::size_t checksum_at = checksum_column(count);
			if (length < checksum_at)
				return length;
			int sum =
			    hex_byte_sum(line + count_column, static_cast<std::size_t>(count) + 4);
			if (sum >= 0)
				return write_checksum(line, length, checksum_at,
				                      static_cast<unsigned>(sum));
		}
	}
	return rewrite_reporting(line, length, messages);
}
