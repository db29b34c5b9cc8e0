// Hexadecimal digits and fields, lenient: a non-digit is reported and
// counts as 0, and decoding goes on.
#include "hex_field.hpp"

#include <array>

namespace {

// Table value for a character that is not a hexadecimal digit. Its high
// bits can never come from a digit, so OR-ing the table values of a run of
// characters tells whether any of them was bad.
constexpr unsigned char not_a_digit = 0xF0;

constexpr std::array<unsigned char, 256> make_digit_table()
{
	std::array<unsigned char, 256> table{};
	for (auto &value : table)
		value = not_a_digit;
	for (int i = 0; i < 10; ++i)
		table[static_cast<std::size_t>('0' + i)] = static_cast<unsigned char>(i);
	for (int i = 0; i < 6; ++i) {
		table[static_cast<std::size_t>('A' + i)] = static_cast<unsigned char>(10 + i);
		table[static_cast<std::size_t>('a' + i)] = static_cast<unsigned char>(10 + i);
	}
	return table;
}

constexpr std::array<unsigned char, 256> digit_table = make_digit_table();

} // namespace

int hex_digit_value(unsigned char c, std::string &messages)
{
	unsigned char value = digit_table[c];
	if (value != not_a_digit)
		return value;
	messages += "invalid hex digit ";
	messages += static_cast<char>(c);
	messages += '\n';
	return 0;
}

int read_hex_field(const char *line, std::size_t length, std::size_t column, std::size_t width,
                   std::string &messages)
{
	int value = 0;
	for (std::size_t i = column; i < column + width; ++i) {
		int digit =
		    i < length ? hex_digit_value(static_cast<unsigned char>(line[i]), messages) : 0;
		value = value * 16 + digit;
	}
	return value;
}

int hex_byte_sum(const char *text, std::size_t count)
{
	const auto *p = reinterpret_cast<const unsigned char *>(text);
	unsigned high = 0;
	unsigned low = 0;
	unsigned seen = 0;
	for (std::size_t i = 0; i < count; ++i, p += 2) {
		unsigned h = digit_table[p[0]];
		unsigned l = digit_table[p[1]];
		seen |= h | l;
		high += h;
		low += l;
	}
	if ((seen & not_a_digit) != 0)
		return -1;
	return static_cast<int>((high * 16 + low) & 0xFF);
}
