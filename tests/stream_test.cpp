// The read-rewrite-write loop, driven from memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "rewrite_stream.hpp"

namespace {

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

TEST(Stream, KeepsTerminatorsAndEveryByte)
{
	const std::string tail(300000, 'x');
	struct {
		std::string input, expected;
	} cases[] = {
	    {"", ""},
	    {"\n\r\n\r\r\n", "\n\r\n\r\r\n"},
	    {":0300300002337AFF\n:00000001FF\n", ":0300300002337A1E\n:00000001FF\n"},
	    {":0300300002337A\r\n", ":0300300002337A1E\r\n"},
	    {":0300300002337AF\n:0300300002337A", ":0300300002337A1E\n:0300300002337A1E"},
	    {":00000001FF\r\n\x1A", ":00000001FF\r\n\x1A"},
	    {std::string(":0300300002337AFF\0x\n", 20), std::string(":0300300002337A1E\0x\n", 20)},
	    {":0300300002337AFF\r", ":0300300002337A1E\r"},
	    // A long line is one line: only its head is a record.
	    {":0300300002337AFF" + std::string(300, 'G') + "\n:00000000FF\n",
	     ":0300300002337A1E" + std::string(300, 'G') + "\n:0000000000\n"},
	    {":0300300002337AFF" + tail + "\r\n:0100000001FF",
	     ":0300300002337A1E" + tail + "\r\n:0100000001FE"},
	    // Messages come just before their line, after everything before it.
	    {":00000001FF\n::\n", ":00000001FF\ninvalid hex digit :\n::\n"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(run(c.input), c.expected) << c.input.substr(0, 40);
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
