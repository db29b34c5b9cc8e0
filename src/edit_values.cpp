// ADDRESS=VALUE: an address a loader writes to, and the bytes from it up.
#include "edit_values.hpp"

#include <cstdint>
#include <limits>

namespace {

int digit_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

bool has_hex_prefix(const std::string &text)
{
	return text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

bool refuse(std::string &reason, const std::string &why)
{
	reason = why;
	return false;
}

struct number_kind {
	const char *name;
	unsigned bytes;
	bool big_endian, is_signed;
};

const number_kind number_kinds[] = {
    {"u8", 1, false, false},    {"u16le", 2, false, false}, {"u16be", 2, true, false},
    {"u32le", 4, false, false}, {"u32be", 4, true, false},  {"u64le", 8, false, false},
    {"u64be", 8, true, false},  {"i8", 1, false, true},     {"i16le", 2, false, true},
    {"i16be", 2, true, true},   {"i32le", 4, false, true},  {"i32be", 4, true, true},
    {"i64le", 8, false, true},  {"i64be", 8, true, true},
};

// The largest magnitude a number of the kind may have, with its sign.
std::uint64_t largest(const number_kind &kind, bool negative)
{
	const unsigned bits = 8 * kind.bytes;
	return kind.is_signed ? (std::uint64_t{1} << (bits - 1)) - 1 + negative
	       : bits == 64   ? std::numeric_limits<std::uint64_t>::max()
	                      : (std::uint64_t{1} << bits) - 1;
}

std::string range_of(const number_kind &kind)
{
	return std::string(kind.name) + " takes " +
	       (kind.is_signed ? "-" + std::to_string(largest(kind, true)) : std::string("0")) +
	       " to " + std::to_string(largest(kind, false));
}

// The number after u32le: and its kin, as its width's bytes in its order.
bool read_number_value(const number_kind &kind, const std::string &text, std::string &bytes,
                       std::string &reason)
{
	const bool negative = kind.is_signed && !text.empty() && text[0] == '-';
	std::uint64_t value = 0;
	const std::string digits = text.substr(negative ? 1 : 0);
	if (!read_number(digits, std::numeric_limits<std::uint64_t>::max(), value))
		return refuse(reason, "the number is decimal without a leading 0, or 0x and "
		                      "hexadecimal digits: " +
		                          std::string(kind.name) + ":4096 or " + kind.name +
		                          ":0x1000");
	if (value > largest(kind, negative))
		return refuse(reason, range_of(kind));
	if (negative)
		value = ~value + 1; // two's complement, in the width's bytes below
	bytes.clear();
	for (unsigned i = 0; i < kind.bytes; ++i) {
		const unsigned shift = 8 * (kind.big_endian ? kind.bytes - 1 - i : i);
		bytes += static_cast<char>(value >> shift & 0xFF);
	}
	return true;
}

bool read_hex_digits(const std::string &text, std::string &bytes, std::string &reason)
{
	if (has_hex_prefix(text))
		return refuse(reason, "hexadecimal bytes are written without 0x, in address order "
		                      "(DEADBEEF); a number takes its width and byte order "
		                      "(u32le:0xDEADBEEF)");
	bytes.clear();
	for (std::size_t i = 0; i < text.size(); ++i)
		if (digit_value(text[i]) < 0)
			return refuse(reason,
			              "the value is hexadecimal digits, two a byte (DEADBEEF), or "
			              "u8: to u64be:, i8: to i64be:, text: or file: before it");
	if (text.size() % 2 != 0)
		return refuse(reason, "an odd number of hexadecimal digits: two make a byte");
	for (std::size_t i = 0; i < text.size(); i += 2)
		bytes += static_cast<char>(digit_value(text[i]) << 4 | digit_value(text[i + 1]));
	return true;
}

bool read_value(const std::string &value, std::string &bytes, std::string &reason,
                file_reader read_file)
{
	const std::size_t colon = value.find(':');
	const std::string kind = value.substr(0, colon), rest = value.substr(colon + 1);
	if (colon == std::string::npos)
		return read_hex_digits(value, bytes, reason);
	if (kind == "text") {
		bytes = rest;
		return true;
	}
	if (kind == "file" && rest.empty())
		return refuse(reason, "file: needs the name of a file after it");
	if (kind == "file")
		return read_file(rest, bytes, reason) || refuse(reason, rest + ": " + reason);
	for (const number_kind &k : number_kinds)
		if (kind == k.name)
			return read_number_value(k, rest, bytes, reason);
	return refuse(reason, kind + ": is no kind of value: u8: to u64be:, i8: to i64be:, "
	                             "text: or file:");
}

} // namespace

bool read_number(const std::string &text, std::uint64_t limit, std::uint64_t &value)
{
	const bool hex = has_hex_prefix(text);
	const std::size_t start = hex ? 2 : 0;
	const unsigned radix = hex ? 16 : 10;
	if (text.size() == start || (!hex && text[0] == '0' && text.size() > 1))
		return false;
	value = 0;
	for (std::size_t i = start; i < text.size(); ++i) {
		const int digit = digit_value(text[i]);
		if (digit < 0 || static_cast<unsigned>(digit) >= radix ||
		    value > (limit - static_cast<unsigned>(digit)) / radix)
			return false;
		value = value * radix + static_cast<unsigned>(digit);
	}
	return true;
}

bool read_edit(const std::string &text, byte_edit &edit, std::string &reason, file_reader read_file)
{
	const std::size_t equals = text.find('=');
	if (equals == std::string::npos)
		return refuse(reason, "it takes ADDRESS=VALUE: 0x0801F000=DEADBEEF");
	const std::string address = text.substr(0, equals);
	if (!read_number(address, address_space - 1, edit.address))
		return refuse(reason, "the address is 0x and hexadecimal digits (0x0801F000), or "
		                      "decimal without a leading 0, up to 0xFFFFFFFF");
	if (!read_value(text.substr(equals + 1), edit.bytes, reason, read_file))
		return false;
	if (edit.bytes.empty())
		return refuse(reason, "the value sets no bytes");
	if (edit.bytes.size() > address_space - edit.address)
		return refuse(reason, std::to_string(edit.bytes.size()) +
		                          " bytes from there run past 0xFFFFFFFF");
	return true;
}
