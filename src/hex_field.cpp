// Hexadecimal digits and fields, lenient: a non-digit is reported and
// counts as 0, and decoding goes on.
#include "hex_field.hpp"

#include <array>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

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
	const char lower[] = "0123456789abcdef";
	const char upper[] = "0123456789ABCDEF";
	for (std::size_t i = 0; i < 16; ++i) {
		table[static_cast<unsigned char>(lower[i])] = static_cast<unsigned char>(i);
		table[static_cast<unsigned char>(upper[i])] = static_cast<unsigned char>(i);
	}
	return table;
}

constexpr std::array<unsigned char, 256> digit_table = make_digit_table();

int byte_sum_by_table(const char *text, std::size_t count)
{
	const auto *p = reinterpret_cast<const unsigned char *>(text);
	unsigned sum = 0;
	unsigned seen = 0;
	for (std::size_t i = 0; i < count; ++i, p += 2) {
		unsigned high = digit_table[p[0]];
		unsigned low = digit_table[p[1]];
		seen |= high | low;
		sum += high * 16 + low;
	}
	return (seen & not_a_digit) != 0 ? -1 : static_cast<int>(sum & 0xFF);
}

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

#if defined(__SSE2__) || defined(_M_X64)

// Sixteen characters a step. Each 16-bit lane of a step holds one pair of
// digits, the first in its low byte; the lanes gather 16 * first + second.
namespace {

__m128i digit_values(__m128i chars, __m128i &all_digits)
{
	// Each range check moves its range to the bottom of the signed bytes,
	// where nothing else lands, characters from 0x80 up included.
	const __m128i decimal =
	    _mm_cmpgt_epi8(_mm_set1_epi8(10 - 128), _mm_add_epi8(chars, _mm_set1_epi8(0x80 - '0')));
	const __m128i folded = _mm_or_si128(chars, _mm_set1_epi8(0x20)); // letters to lower case
	const __m128i letter =
	    _mm_cmpgt_epi8(_mm_set1_epi8(6 - 128), _mm_add_epi8(folded, _mm_set1_epi8(0x80 - 'a')));
	all_digits = _mm_and_si128(all_digits, _mm_or_si128(decimal, letter));
	return _mm_add_epi8(_mm_and_si128(chars, _mm_set1_epi8(0x0F)),
	                    _mm_and_si128(letter, _mm_set1_epi8(9)));
}

void add_pairs(__m128i chars, __m128i &sums, __m128i &all_digits)
{
	const __m128i values = digit_values(chars, all_digits);
	const __m128i first = _mm_and_si128(_mm_slli_epi16(values, 4), _mm_set1_epi16(0xFF));
	sums = _mm_add_epi16(sums, _mm_or_si128(first, _mm_srli_epi16(values, 8)));
}

// At least sixteen digits.
int byte_sum_sse2(const char *text, std::size_t count)
{
	const std::size_t digits = 2 * count;
	__m128i sums = _mm_setzero_si128();
	__m128i all_digits = _mm_set1_epi8(-1);
	std::size_t i = 0;
	for (; i + 16 <= digits; i += 16)
		add_pairs(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i)), sums,
		          all_digits);
	if (i < digits) {
		// The last step ends with the last digit and so overlaps the one
		// before: the characters already counted are replaced by zeros.
		static const unsigned char window[32] = {
		    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
		    0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
		    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
		const __m128i keep =
		    _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + (digits - i)));
		const __m128i last =
		    _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + digits - 16));
		add_pairs(_mm_or_si128(_mm_and_si128(keep, last),
		                       _mm_andnot_si128(keep, _mm_set1_epi8('0'))),
		          sums, all_digits);
	}
	if (_mm_movemask_epi8(all_digits) != 0xFFFF)
		return -1;
	// Only the sum modulo 256 is wanted, so the low byte of each lane will do.
	const __m128i low_bytes = _mm_and_si128(sums, _mm_set1_epi16(0xFF));
	const __m128i halves = _mm_sad_epu8(low_bytes, _mm_setzero_si128());
	return (_mm_cvtsi128_si32(halves) + _mm_extract_epi16(halves, 4)) & 0xFF;
}

} // namespace

#endif

int hex_byte_sum(const char *text, std::size_t count, [[maybe_unused]] simd_level level)
{
#if defined(__SSE2__) || defined(_M_X64)
	if (level != simd_level::table && count >= 8)
		return byte_sum_sse2(text, count);
#endif
	return byte_sum_by_table(text, count);
}
