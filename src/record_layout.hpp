// The two record formats, each described once: where a record's fields lie,
// how its checksum is made, and which of its types get one written. The
// code that checks and rewrites records takes a layout, as it takes the fast
// paths' level, and asks it rather than the format; what loaders make of each
// format's record types (the structure checks, the words of findings) is
// written once for each format.
#pragma once

#include <cstddef>

enum class record_format { intel_hex, s_record };

struct record_layout {
	char mark; // a record's first character
	// The type: two hexadecimal digits, or one decimal digit right after the
	// mark, without which the line is no record.
	std::size_t type_column, type_digits;
	// The count's two digits. The checksum covers the bytes from the count
	// up to it: as many as the count says and uncounted_bytes more.
	std::size_t count_column, uncounted_bytes;
	std::size_t address_column;
	unsigned char address_bytes[10];   // by type: 0 to 9, and 0's for any higher
	std::size_t columns_after_address; // before the data
	// The checksum is this minus the sum, modulo 256: 0 for the two's
	// complement of the sum, 0xFF for its ones' complement. A right checksum
	// brings the sum of the whole record to it.
	unsigned complement;
	int last_rewritten_type; // types 0 to this get their checksum written
	unsigned known_types;    // a bit for each type the format has, of 0 to 9
};

// ":CCAAAATT...KK": the count is of data bytes; only data records (00)
// are rewritten.
inline constexpr record_layout intel_hex_layout{
    ':', 7, 2, 1, 4, 3, {2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, 2, 0, 0, 0x3F};

// "STCCAA...KK": the count is of the address, data and checksum bytes. S0
// (the header) and the data records S1 to S3 are rewritten; S5 and S6 (the
// count of data records) and S7 to S9 (the termination) only checked. S4
// is no type at all.
inline constexpr record_layout s_record_layout{
    'S', 1, 1, 2, 0, 4, {2, 2, 3, 4, 0, 2, 3, 4, 3, 2}, 0, 0xFF, 3, 0x3EF};

constexpr const record_layout &layout_of(record_format format)
{
	return format == record_format::s_record ? s_record_layout : intel_hex_layout;
}

// The layout of the format a file is not read in.
constexpr const record_layout &other_layout(const record_layout &layout)
{
	return layout.mark == intel_hex_layout.mark ? s_record_layout : intel_hex_layout;
}

constexpr bool is_known_type(const record_layout &layout, int type)
{
	return type >= 0 && type <= 9 && (layout.known_types >> type & 1) != 0;
}

constexpr std::size_t address_bytes(const record_layout &layout, int type)
{
	return layout.address_bytes[type >= 0 && type <= 9 ? type : 0];
}

constexpr std::size_t data_column(const record_layout &layout, int type)
{
	return layout.address_column + 2 * address_bytes(layout, type) +
	       layout.columns_after_address;
}

constexpr std::size_t checksum_column(const record_layout &layout, std::size_t count)
{
	return layout.count_column + 2 * (count + layout.uncounted_bytes);
}

// The count of a record of the type without data: its address and checksum
// alone for an S-record.
constexpr std::size_t smallest_count(const record_layout &layout, int type)
{
	return (data_column(layout, type) - layout.count_column) / 2 - layout.uncounted_bytes;
}

constexpr bool is_rewritten(const record_layout &layout, int type)
{
	return type >= 0 && type <= layout.last_rewritten_type;
}

// The checksum of a record whose bytes up to it add up to sum.
constexpr unsigned checksum_of(const record_layout &layout, unsigned sum)
{
	return (layout.complement - sum) & 0xFF;
}

// Every column a rewrite reads or writes lies below this one, in either
// format: Intel HEX's mark, then count, address, type, up to 255 data bytes
// and the checksum, two digits a byte: 1 + 2 * (1 + 2 + 1 + 255 + 1) = 521.
// An S-record's count covers its address and checksum too: 4 + 2 * 255.
constexpr std::size_t record_columns = 521;
static_assert(checksum_column(intel_hex_layout, 255) + 2 == record_columns);
static_assert(checksum_column(s_record_layout, 255) + 2 <= record_columns);
