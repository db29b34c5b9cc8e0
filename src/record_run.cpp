// Runs of data records of one shape, the bulk of every firmware file: the
// same type and count, uppercase digits and the same line end, record after
// record. Once one such record has been rewritten, the next is guessed to
// be its twin and checked against it in a few vector steps; the guess fixes
// where the record after that starts, so the processor can work on several
// at once. A record that is not a twin ends the run and goes back to the
// general path, so nothing is accepted here that the exact rewrite would
// treat differently.
#include "record_run.hpp"

#include "record_checksum.hpp"

// AVX2, at the level that says the processor has it.
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

namespace {

// Records of up to this many 32-byte steps, line end included: up to 121
// data bytes with CR LF. Longer ones spend their time in the byte sum.
constexpr std::size_t max_steps = 8;

// What each byte of a record must be, taken from the record before it.
struct record_shape {
	std::size_t steps;
	std::size_t checksum_at;
	unsigned char model[max_steps * 32];  // the record before
	unsigned char same[max_steps * 32];   // equal to it: mark, count, type, line end
	unsigned char digit[max_steps * 32];  // an uppercase hexadecimal digit
	unsigned char weight[max_steps * 32]; // 16 or 1: a summed byte's first or second digit
};

// A verified record sums its checksum too: to 0 when the checksum is right.
void take_shape(record_shape &s, const record_layout &layout, const char *model, std::size_t length,
                checksum_action action)
{
	const std::size_t count_column = layout.count_column, type_column = layout.type_column;
	const std::size_t line_end = model[length - 2] == '\r' ? 2 : 1;
	const std::size_t checksum_at = length - line_end - 2;
	s.steps = (length + 31) / 32;
	s.checksum_at = checksum_at;
	for (std::size_t i = 0; i < s.steps * 32; ++i) {
		const bool in_record = i < length;
		const bool header = i < count_column + 2 ||
		                    (i >= type_column && i < type_column + layout.type_digits);
		const bool summed = i >= count_column &&
		                    i < checksum_at + (action == checksum_action::verify ? 2 : 0);
		s.model[i] = in_record ? static_cast<unsigned char>(model[i]) : 0;
		s.same[i] = in_record && (header || i >= checksum_at + 2) ? 0xFF : 0;
		s.digit[i] = i >= count_column && i < checksum_at + 2 ? 0xFF : 0;
		s.weight[i] = !summed ? 0 : (i - count_column) % 2 == 0 ? 16 : 1;
	}
}

__attribute__((target("avx2"))) __m256i load(const void *p)
{
	return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}

// The sum modulo 256 of the bytes of the record at text, or -1 if it is
// not a twin of the shape. Reads 32 bytes a step: steps of them, or the
// shape's number when steps is 0. Inlined, so that the steps are unrolled
// into each caller.
template <std::size_t steps>
[[gnu::always_inline]] __attribute__((target("avx2"))) inline int twin_sum(const char *text,
                                                                           const record_shape &s)
{
	const __m256i zero = _mm256_setzero_si256();
	__m256i bad = zero, sum = zero;
	for (std::size_t i = 0; i < (steps != 0 ? steps : s.steps) * 32; i += 32) {
		const __m256i chars = load(text + i);
		bad = _mm256_or_si256(
		    bad,
		    _mm256_and_si256(_mm256_xor_si256(chars, load(s.model + i)), load(s.same + i)));
		// Each range check moves its range to the bottom of the signed bytes.
		const __m256i is_decimal =
		    _mm256_cmpgt_epi8(_mm256_set1_epi8(10 - 128),
		                      _mm256_add_epi8(chars, _mm256_set1_epi8(0x80 - '0')));
		const __m256i is_letter =
		    _mm256_cmpgt_epi8(_mm256_set1_epi8(6 - 128),
		                      _mm256_add_epi8(chars, _mm256_set1_epi8(0x80 - 'A')));
		bad =
		    _mm256_or_si256(bad, _mm256_andnot_si256(_mm256_or_si256(is_decimal, is_letter),
		                                             load(s.digit + i)));
		// Each weighted pair is a byte of the record, at most 255: the
		// high byte of every 16-bit lane stays 0 for the byte sum.
		const __m256i values =
		    _mm256_add_epi8(_mm256_and_si256(chars, _mm256_set1_epi8(0x0F)),
		                    _mm256_and_si256(is_letter, _mm256_set1_epi8(9)));
		const __m256i weighted = _mm256_maddubs_epi16(values, load(s.weight + i));
		sum = _mm256_add_epi64(sum, _mm256_sad_epu8(weighted, zero));
	}
	const __m128i halves =
	    _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
	return _mm256_testz_si256(bad, bad) == 0
	           ? -1
	           : (_mm_cvtsi128_si32(halves) + _mm_extract_epi16(halves, 4)) & 0xFF;
}

// With the number of steps fixed at compile time (0: the shape's), a
// record's steps are unrolled and several records are in flight at once.
// The format too, so that its checksum rule costs nothing.
template <std::size_t steps, checksum_action action, record_format format>
__attribute__((target("avx2"))) char *rewrite_twins(char *p, const char *end, const record_shape &s,
                                                    std::size_t length, std::size_t &mended)
{
	constexpr const record_layout &layout = layout_of(format);
	constexpr unsigned right_sum = layout.complement;
	const std::size_t bytes = (steps != 0 ? steps : s.steps) * 32;
	const std::size_t checksum_at = s.checksum_at;
	for (; static_cast<std::size_t>(end - p) >= bytes; p += length) {
		const int sum = twin_sum<steps>(p, s);
		if (sum < 0 ||
		    (action == checksum_action::verify && static_cast<unsigned>(sum) != right_sum))
			break;
		if (action == checksum_action::mend) {
			// A twin's checksum is in upper case, as the right one is written.
			char right[2];
			put_checksum(layout, right, static_cast<unsigned>(sum));
			mended += p[checksum_at] != right[0] || p[checksum_at + 1] != right[1];
		}
		if (action != checksum_action::verify)
			put_checksum(layout, p + checksum_at, static_cast<unsigned>(sum));
	}
	return p;
}

template <checksum_action action, record_format format>
char *rewrite_twins(char *p, const char *end, const record_shape &s, std::size_t length,
                    std::size_t &mended)
{
	return s.steps == 2   ? rewrite_twins<2, action, format>(p, end, s, length,
                                                               mended) // 16 data bytes
	       : s.steps == 3 ? rewrite_twins<3, action, format>(p, end, s, length, mended) // 32
	                      : rewrite_twins<0, action, format>(p, end, s, length, mended);
}

// Apart from rewrite_record_run, so that a line that is no twin does not
// pay for this frame: the shape is a kilobyte.
template <record_format format>
[[gnu::noinline]] std::size_t take_run(char *text, const char *end, std::size_t length,
                                       checksum_action action, std::size_t &mended)
{
	record_shape shape{}; // no mask byte is ever left unset
	take_shape(shape, layout_of(format), text - length, length, action);
	char *p =
	    action == checksum_action::rewrite
	        ? rewrite_twins<checksum_action::rewrite, format>(text, end, shape, length, mended)
	    : action == checksum_action::verify
	        ? rewrite_twins<checksum_action::verify, format>(text, end, shape, length, mended)
	        : rewrite_twins<checksum_action::mend, format>(text, end, shape, length, mended);
	return static_cast<std::size_t>(p - text) / length;
}

} // namespace

std::size_t rewrite_record_run(record_format format, char *text, const char *end,
                               std::size_t length, simd_level level, checksum_action action,
                               std::size_t &mended)
{
	const std::size_t span = (length + 31) / 32 * 32;
	// Setting up a shape costs more than one record: not worth it unless
	// the next line at least ends where a twin would.
	if (level != simd_level::avx2 || span > max_steps * 32 ||
	    static_cast<std::size_t>(end - text) < span || text[length - 1] != '\n')
		return 0;
	return format == record_format::s_record
	           ? take_run<record_format::s_record>(text, end, length, action, mended)
	           : take_run<record_format::intel_hex>(text, end, length, action, mended);
}

#else

std::size_t rewrite_record_run(record_format, char *, const char *, std::size_t, simd_level,
                               checksum_action, std::size_t &)
{
	return 0;
}

#endif
