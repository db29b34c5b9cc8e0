// The silent byte sum against field decoding, and the loop driven from
// memory across read blocks. What each kind of line becomes is checked end
// to end by the golden files in data/.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "hex_field.hpp"
#include "rewrite_stream.hpp"

namespace {

// The byte sum works sixteen characters a step; it must agree with the
// field decoding at every length and catch every kind of non-digit.
TEST(HexField, ByteSumAgreesWithFieldDecoding)
{
	const std::string digits = "0123456789abcdefABCDEF";
	const std::string near_misses("/:@G`g \0\x10\x19\x80\xb0\xc1\xe6\xff", 15);
	std::mt19937 random(1);
	for (std::size_t count = 1; count <= 259; ++count) {
		std::string text, messages;
		int expected = 0;
		for (std::size_t i = 0; i < 2 * count; ++i)
			text += digits[random() % digits.size()];
		for (std::size_t i = 0; i < count; ++i)
			expected += read_hex_field(text.data(), text.size(), 2 * i, 2, messages);
		EXPECT_EQ(hex_byte_sum(text.data(), count), expected & 0xFF) << text;
		for (char bad : near_misses) {
			text[random() % text.size()] = bad;
			EXPECT_EQ(hex_byte_sum(text.data(), count), -1) << text;
		}
	}
}

std::string run(const std::string &input)
{
	std::FILE *in = std::tmpfile();
	std::FILE *out = std::tmpfile();
	EXPECT_TRUE(in != nullptr && out != nullptr);
	EXPECT_EQ(std::fwrite(input.data(), 1, input.size(), in), input.size());
	std::rewind(in);
	EXPECT_EQ(rewrite_stream(in, out), stream_result::ok);
	std::string output(static_cast<std::size_t>(std::ftell(out)), '\0');
	std::rewind(out);
	EXPECT_EQ(std::fread(output.data(), 1, output.size(), out), output.size());
	std::fclose(in);
	std::fclose(out);
	return output;
}

TEST(Stream, LineLongerThanABlockIsOneLine)
{
	const std::string tail(300000, 'G');
	EXPECT_EQ(run(":0300300002337AFF" + tail + "\r\n:0100000001FF"),
	          ":0300300002337A1E" + tail + "\r\n:0100000001FE");
}

// Lines are independent, so a file must come out as the concatenation of
// its parts run one at a time, wherever the read blocks happen to cut it.
TEST(Stream, BlockBoundariesDoNotChangeTheOutput)
{
	std::mt19937 random(7);
	const std::string pieces[] = {":10000000", "0123456789abcdef", "G", "\r", ":FF000000", ";",
	                              ""};
	std::string whole, expected, part;
	for (int line = 1; whole.size() < 1500000; ++line) {
		std::size_t count =
		    line % 1000 == 0 ? 60000 : random() % 40; // some longer than a block
		for (std::size_t i = 0; i < count; ++i)
			part += pieces[random() % std::size(pieces)];
		part += random() % 3 == 0 ? "\r\n" : "\n";
		if (line % 64 == 0) {
			whole += part;
			expected += run(part);
			part.clear();
		}
	}
	part += ":0300300002337A";
	EXPECT_EQ(run(whole + part), expected + run(part));
}

} // namespace
