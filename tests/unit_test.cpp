// The silent byte sum against field decoding, and the loop against the
// exact rewrite applied a line at a time, across read blocks, at every level
// this processor has. What each kind of line becomes is checked end to end
// by the golden files in data/.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "by_line.hpp"
#include "hex_field.hpp"
#include "record_run.hpp"

namespace {

const char *const level_names[] = {"table", "sse2", "avx2"};
const int levels_here = static_cast<int>(best_simd_level()) + 1;

const char *const kind_names[] = {"", "_check", "_fix"};

// At a level, at the smallest and the tool's read block size, the plain
// rewrite or a repair as --check or --in-place runs it.
struct Stream : testing::TestWithParam<std::tuple<int, std::size_t, int>> {
	std::string run(const std::string &input, stream_result expected = stream_result::ok)
	{
		const auto [level, block_size, kind] = GetParam();
		return run_loop(input, static_cast<simd_level>(level), block_size,
		                static_cast<loop_kind>(kind), expected);
	}
	std::string by_line(const std::string &input)
	{
		return rewrite_by_line(input, static_cast<loop_kind>(std::get<2>(GetParam())));
	}
};

INSTANTIATE_TEST_SUITE_P(, Stream,
                         testing::Combine(testing::Range(0, levels_here),
                                          testing::Values(smallest_block_size, default_block_size),
                                          testing::Range(0, 3)),
                         [](const auto &info) {
	                         return level_names[std::get<0>(info.param)] +
	                                ("_" + std::to_string(std::get<1>(info.param))) +
	                                kind_names[std::get<2>(info.param)];
                         });

} // namespace

// Sixteen digits a step, then a partial step: every length up to three
// steps and the longest record, every position, and the characters on
// either side of each digit range, also with the top bit set, at each level.
TEST(HexField, ByteSumMatchesFieldDecodingAndRefusesEveryNonDigit)
{
	const std::string digits = "0123456789abcdefABCDEF";
	const std::string near_misses("/:@G`g \0\x80\xb0\xb9\xc1\xe6\xff", 14);
	for (std::size_t count = 1; count <= 260; count += count < 24 ? 1 : 59) {
		std::string text, messages;
		int expected = 0;
		for (std::size_t i = 0; i < 2 * count; ++i)
			text += digits[(7 * i + count) % digits.size()];
		for (std::size_t i = 0; i < count; ++i)
			expected += read_hex_field(text.data(), text.size(), 2 * i, 2, messages);
		for (int l = 0; l < levels_here; ++l) {
			const auto level = static_cast<simd_level>(l);
			ASSERT_EQ(hex_byte_sum(text.data(), count, level), expected & 0xFF) << text;
			for (std::size_t at = 0; at < text.size(); ++at)
				for (char bad : near_misses) {
					std::string spoiled = text;
					spoiled[at] = bad;
					ASSERT_EQ(hex_byte_sum(spoiled.data(), count, level), -1)
					    << level_names[l] << ' ' << spoiled;
				}
		}
	}
}

// The longest records with CR LF, stale checksums, one of them a digit
// short, and a run of twins longer than the smallest block, with blank lines
// before and after the first, as many in all as a record has bytes: a
// record's head and its end, and the run, straddle each block boundary at
// every offset. Then a
// line longer than a block, with a message for each column of its head (in
// place, a record and a long comment), written in several pieces: after
// the first fails, none of them is. A block too small for a record's head
// is refused.
TEST_P(Stream, LongLinesAcrossBlockBoundaries)
{
	const std::string record = ":FF000000" + std::string(510, 'e') + "00\r\n";
	std::string twins;
	for (int i = 0; i < 12; ++i)
		twins += ":10123400" + std::string(32, '5') + "00\r\n";
	// In place a digit short, or a bad one, would leave the file as it is,
	// proving nothing: there the long line is a record and a comment.
	const bool fix = std::get<2>(GetParam()) == 2;
	const std::size_t shortened = fix ? 521 : 520;
	for (std::size_t filler = 0; filler <= record.size(); ++filler) {
		const std::string input = std::string(filler, '\n') + record.substr(0, shortened) +
		                          "\r\n" + std::string(record.size() - filler, '\n') +
		                          twins + record;
		ASSERT_EQ(run(input), by_line(input)) << filler;
	}
	// Clean, nothing is written, or in place even begun.
	const std::string clean = rewrite_by_line(twins + record + twins);
	EXPECT_EQ(run(clean), by_line(clean));
	const std::string input = record +
	                          (fix ? record.substr(0, 521) + " " + std::string(3 << 20, 'x')
	                               : ":FF" + std::string(3 << 20, 'G')) +
	                          "\r\n" + record;
	EXPECT_EQ(run(input), by_line(input));
	const std::string failed = run(input, stream_result::write_failed);
	EXPECT_TRUE(failed.empty() || failed[0] == '[') << failed; // counts alone
	EXPECT_EQ(run_loop(input, simd_level::table, smallest_block_size - 1, loop_kind::plain,
	                   stream_result::block_too_small),
	          "");
}

// Runs of records of one shape, as firmware files are made of, one shape at
// a time (of every kind of length the fast path for runs handles and the
// first it does not), with one character changed at a time (to a neighbour of a digit range,
// lower case, another digit, a line end) or deleted: every record it does
// not take must come out as the general path writes it. Every third
// record's checksum is right, so that it is the same as the record before
// once that one is rewritten.
TEST_P(Stream, RunsOfRecordsWithOneCharacterChanged)
{
	for (const std::string count : {"01", "0A", "10", "20", "30", "7A"}) {
		std::string input;
		for (int i = 0; i < 6; ++i) {
			std::string record = ":" + count + "123400";
			while (record.size() < checksum_column(std::stoul(count, nullptr, 16)))
				record += "FEDCBA9876543210"[record.size() % 16];
			record += i < 3 ? "FF\r\n" : "FF\n";
			input += i % 3 == 2 ? rewrite_by_line(record) : record;
		}
		for (std::size_t at = 0; at < input.size(); ++at)
			for (const char *c : {"/", ":", "@", "G", "a", "1", "\n", "\r", ""}) {
				std::string changed = input;
				changed.replace(at, 1, c);
				ASSERT_EQ(run(changed), by_line(changed)) << at << c;
			}
	}
}

// The fast paths take what they are for, whatever the record's length and
// line end: a well-formed data record, and at the AVX2 level each record of
// up to 256 bytes after it that is of the same shape, as a twin.
TEST(FastPath, TakesEveryRecordOfARun)
{
	for (unsigned count : {1u, 16u, 32u, 122u})
		for (const std::string line_end : {"\n", "\r\n"}) {
			char head[10];
			std::snprintf(head, sizeof head, ":%02X123400", count);
			std::string record = head;
			while (record.size() < checksum_column(count))
				record += "FEDCBA9876543210"[record.size() % 16];
			record = rewrite_by_line(record + "00" + line_end);
			std::string run;
			for (int i = 0; i < 8; ++i)
				run += record;
			run += std::string(32, '\n'); // room for the last twin's steps
			for (int l = 0; l < levels_here; ++l) {
				const auto level = static_cast<simd_level>(l);
				auto take = [&](auto action) {
					std::string text = run;
					std::size_t mended = 0; // they are right
					ASSERT_EQ(rewrite_plain_record<action()>(
					              text.data(), text.size(), level, mended),
					          record.size());
					const bool twins =
					    level == simd_level::avx2 && record.size() <= 256;
					EXPECT_EQ(rewrite_record_run(text.data() + record.size(),
					                             text.data() + text.size(),
					                             record.size(), level, action(),
					                             mended),
					          twins ? 7u : 0u)
					    << count << line_end.size() << l;
					EXPECT_EQ(mended, 0u);
				};
				take(std::integral_constant<checksum_action,
				                            checksum_action::rewrite>());
				take(std::integral_constant<checksum_action,
				                            checksum_action::verify>());
				take(std::integral_constant<checksum_action,
				                            checksum_action::mend>());
			}
		}
}
