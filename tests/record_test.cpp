// Field decoding and the rewrite of single record lines.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "hex_field.hpp"
#include "record_checksum.hpp"

namespace {

std::string bad(char c)
{
	return std::string("invalid hex digit ") + c + '\n';
}

TEST(HexField, DecodesDigitsAndReportsEachNonDigitRaw)
{
	struct {
		std::string text;
		int value;
		std::string messages;
	} cases[] = {
	    {"00", 0, ""},
	    {"ff", 255, ""},
	    {"FF", 255, ""},
	    {"7fFF", 32767, ""},
	    {" 5", 5, bad(' ')},
	    {"1G", 16, bad('G')},
	    {"G1", 1, bad('G')},
	    {"1\n", 16, bad('\n')},
	    {std::string("\0\xff", 2), 0, bad('\0') + bad('\xff')},
	};
	for (const auto &c : cases) {
		std::string messages;
		EXPECT_EQ(read_hex_field(c.text.data(), c.text.size(), 0, c.text.size(), messages),
		          c.value)
		    << c.text;
		EXPECT_EQ(messages, c.messages) << c.text;
	}
}

// The silent byte sum works several characters a step; it must agree with
// the field decoding at every length and catch every kind of non-digit.
TEST(HexField, ByteSumAgreesWithFieldDecoding)
{
	const std::string digits = "0123456789abcdefABCDEF";
	const std::string near_misses("/:@G`g \0\x10\x19\x80\xb0\xc1\xe6\xff", 15);
	std::mt19937 random(1);
	for (std::size_t count = 0; count <= 259; ++count) {
		std::string text;
		int expected = 0;
		for (std::size_t i = 0; i < 2 * count; ++i)
			text += digits[random() % digits.size()];
		for (std::size_t i = 0; i < count; ++i) {
			std::string messages;
			expected += read_hex_field(text.data(), text.size(), 2 * i, 2, messages);
		}
		EXPECT_EQ(hex_byte_sum(text.data(), count), expected & 0xFF) << text;
		for (char bad : near_misses) {
			if (count == 0)
				break;
			text[random() % text.size()] = bad;
			EXPECT_EQ(hex_byte_sum(text.data(), count), -1) << text;
		}
	}
}

TEST(HexField, ColumnsPastTheContentCountAsZeroSilently)
{
	std::string messages;
	EXPECT_EQ(read_hex_field("A", 1, 0, 4, messages), 0xA000);
	EXPECT_EQ(read_hex_field("AG", 1, 1, 2, messages), 0);
	EXPECT_EQ(messages, "");
}

std::string rewrite(std::string line, std::string &messages)
{
	std::size_t length = line.size();
	line.resize(length + 2, '#'); // the room the record may grow into
	line.resize(rewrite_record_line(line.data(), length, messages));
	return line;
}

TEST(RecordChecksum, RewritesDataRecordsAndNothingElse)
{
	const std::string zero_sum_255 = ":FF000000" + std::string(510, '0');
	std::string twice =
	    bad(' ') + bad('h') + bad('l') + bad('l') + bad('o') + bad(' ') + bad('w');
	twice += twice;
	struct {
		std::string line, expected, messages;
	} cases[] = {
	    {":0300300002337AFF", ":0300300002337A1E", ""},
	    {":0300300002337a00", ":0300300002337a1E", ""},
	    {":00000000FF", ":0000000000", ""},
	    {":0300300002337AZZ", ":0300300002337A1E", ""},
	    {":0300300002337AFF  ; patched", ":0300300002337A1E  ; patched", ""},
	    // The count is trusted over the length of the line.
	    {":0200300002337AFF", ":02003000023399FF", ""},
	    // Missing checksum digits are added.
	    {":0300300002337A", ":0300300002337A1E", ""},
	    {":0300300002337AF", ":0300300002337A1E", ""},
	    {zero_sum_255 + "00", zero_sum_255 + "01", ""},
	    {zero_sum_255, zero_sum_255 + "01", ""},
	    // Other record types keep their checksums, right or wrong.
	    {":00000001AA", ":00000001AA", ""},
	    {":020000040800FF", ":020000040800FF", ""},
	    // Too short for its data: unchanged, the header decoded once.
	    {":FF00000000", ":FF00000000", ""},
	    {":0300300002", ":0300300002", ""},
	    {"", "", ""},
	    {"\x1A", "\x1A", ""},
	    {"::", "::", bad(':')},
	    // A data record with a bad digit still gets a checksum.
	    {":010000001GFF", ":010000001GEF", bad('G')},
	    // Prose whose type field decodes to 0 is taken for a data record.
	    {"; hello world", "; hello w20ld", twice},
	};
	for (const auto &c : cases) {
		std::string messages;
		EXPECT_EQ(rewrite(c.line, messages), c.expected) << c.line;
		EXPECT_EQ(messages, c.messages) << c.line;
		// The fast path takes a line only when it can give the same result.
		std::string line = c.line + "\r\n";
		std::size_t taken = rewrite_plain_record(line.data(), line.size());
		if (taken != 0) {
			EXPECT_EQ(line, c.expected + "\r\n") << c.line;
		}
		EXPECT_TRUE(taken == 0 || (taken == line.size() && c.messages.empty())) << c.line;
	}
}

} // namespace
