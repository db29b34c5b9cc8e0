// The silent byte sum against field decoding, and the loop against the
// exact rewrite applied a line at a time, across read blocks, at every level
// this processor has. What each kind of line becomes is checked end to end
// by the golden files in data/.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "by_line.hpp"
#include "edit_values.hpp"
#include "format_choice.hpp"
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
		return rewrite_by_line(input, static_cast<loop_kind>(std::get<2>(GetParam())),
		                       std::get<1>(GetParam()));
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

// A first line longer than the first read, and no record in it: the loop
// reads on to choose the format, as far as its block and the window go.
TEST_P(Stream, FormatChosenPastTheFirstRead)
{
	const std::string input =
	    ";" + std::string(std::size_t{200} << 10, 'x') + "\nS1050030023300\nS9030000FC\n";
	EXPECT_EQ(run(input), by_line(input));
}

// Runs of records of one shape, as firmware files are made of, one shape at
// a time (of every kind of length the fast path for runs handles and the
// first it does not), with one character changed at a time (to a neighbour
// of a digit range, lower case, another digit, a line end) or deleted: every
// record it does not take must come out as the general path writes it.
// Every third record's checksum is right, so that it is the same as the
// record before once that one is rewritten. The head and the end of each
// record are changed at every column; in between, the vector steps take 16
// or 32 characters at a time, and one column a step is changed, a column
// further on in each record, so that the runs see a change in every step
// and at every place in one.
TEST_P(Stream, RunsOfRecordsWithOneCharacterChanged)
{
	// The head of each shape, and its count: Intel HEX's of data bytes, an
	// S-record's of its address, data and checksum, the smallest an S1
	// record has among them.
	const std::pair<std::string, unsigned> shapes[] = {
	    {":01123400", 0x01},    {":0A123400", 0x0A},    {":10123400", 0x10},
	    {":20123400", 0x20},    {":30123400", 0x30},    {":7A123400", 0x7A},
	    {"S1031234", 0x03},     {"S1131234", 0x13},     {"S224123456", 0x24},
	    {"S32512345678", 0x25}, {"S37F12345678", 0x7F}, {"S0100000", 0x10}};
	constexpr std::size_t ends = 24, step = 16;
	for (const auto &[head, count] : shapes) {
		const record_layout &layout = head[0] == 'S' ? s_record_layout : intel_hex_layout;
		std::string input;
		std::vector<std::pair<std::size_t, std::size_t>> records; // start, length
		for (std::size_t i = 0; i < 6; ++i) {
			std::string record = head;
			while (record.size() < checksum_column(layout, count))
				record += "FEDCBA9876543210"[record.size() % 16];
			record += i < 3 ? "FF\r\n" : "FF\n";
			records.emplace_back(input.size(), record.size());
			input += i % 3 == 2 ? rewrite_by_line(record) : record;
		}
		for (std::size_t r = 0; r < records.size(); ++r)
			for (std::size_t column = 0; column < records[r].second; ++column) {
				if (column >= ends && column + ends < records[r].second &&
				    column % step != (5 * r) % step)
					continue;
				for (const char *c :
				     {"/", ":", "@", "G", "a", "1", "S", "\n", "\r", ""}) {
					std::string changed = input;
					changed.replace(records[r].first + column, 1, c);
					ASSERT_EQ(run(changed), by_line(changed))
					    << r << ' ' << column << c;
				}
			}
	}
}

// The fast paths take what they are for, whatever the record's format,
// length and line end: a well-formed record of a rewritten type, and at the
// AVX2 level each record of up to 256 bytes after it that is of the same
// shape, its address and data aside, as a twin.
template <record_format format> void take_every_record_of_a_run()
{
	const record_layout &layout = layout_of(format);
	for (unsigned count : {1u, 16u, 32u, 122u})
		for (const std::string line_end : {"\n", "\r\n"}) {
			char head[16];
			if (format == record_format::intel_hex)
				std::snprintf(head, sizeof head, ":%02X123400", count);
			else
				std::snprintf(head, sizeof head, "S3%02X00123456", count + 5);
			std::string record = head;
			while (record.size() <
			       checksum_column(
			           layout, format == record_format::intel_hex ? count : count + 5))
				record += "FEDCBA9876543210"[record.size() % 16];
			record += "00" + line_end;
			// Twins at addresses of their own, as in a file.
			std::string run;
			for (int i = 0; i < 8; ++i) {
				record[layout.address_column + 2] = "0123456789ABCDEF"[i];
				run += rewrite_by_line(record);
			}
			record = rewrite_by_line(record);
			run += std::string(32, '\n'); // room for the last twin's steps
			for (int l = 0; l < levels_here; ++l) {
				const auto level = static_cast<simd_level>(l);
				auto take = [&](auto action) {
					std::string text = run;
					std::size_t mended = 0; // they are right
					ASSERT_EQ((rewrite_plain_record<format, action()>(
					              text.data(), text.size(), level, mended)),
					          record.size());
					const bool twins =
					    level == simd_level::avx2 && record.size() <= 256;
					EXPECT_EQ(rewrite_record_run(
					              format, text.data() + record.size(),
					              text.data() + text.size(), record.size(),
					              level, action(), mended),
					          twins ? 7u : 0u)
					    << head << line_end.size() << l;
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

TEST(FastPath, TakesEveryRecordOfARun)
{
	take_every_record_of_a_run<record_format::intel_hex>();
	take_every_record_of_a_run<record_format::s_record>();
}

namespace {

// A record from its digits before the checksum, checksum added.
std::string record(const std::string &digits)
{
	unsigned sum = 0;
	for (std::size_t i = 0; i < digits.size(); i += 2)
		sum += static_cast<unsigned>(std::stoul(digits.substr(i, 2), nullptr, 16));
	char checksum[3];
	std::snprintf(checksum, sizeof checksum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
	return ":" + digits + checksum + "\n";
}

std::string data_at(unsigned address, std::size_t count)
{
	char header[9];
	std::snprintf(header, sizeof header, "%02zX%04X00", count, address);
	return record(header + std::string(2 * count, '5'));
}

const std::string end_record = ":00000001FF\n";

// What the structure checks say of a file, at every level, block size and
// kind of repair: the fast paths must tell what the exact path tells.
std::string structure_of(const std::string &file)
{
	std::string first;
	bool taken = false;
	for (int level = 0; level < levels_here; ++level)
		for (std::size_t block : {smallest_block_size, default_block_size})
			for (loop_kind kind : {loop_kind::check, loop_kind::fix}) {
				const std::string out =
				    run_loop(file, static_cast<simd_level>(level), block, kind);
				const std::string said = out.substr(out.rfind(']') + 1);
				if (taken) {
					EXPECT_EQ(said, first)
					    << level_names[level] << " " << block;
				}
				first = taken ? first : said;
				taken = true;
			}
	return first;
}

// The same findings whatever the file's line ends.
void expect_structure(const std::string &file, const std::string &said)
{
	EXPECT_EQ(structure_of(file), said) << file;
	std::string crlf;
	for (const char ch : file)
		crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
	EXPECT_EQ(structure_of(crlf), said) << "CR LF";
}

} // namespace

TEST(Structure, WhatLoadersRefuseAndWhatTheyDisagreeOn)
{
	std::string run; // records in address order, long enough for runs of twins
	for (unsigned i = 0; i < 40; ++i)
		run += data_at(16 * i, 16);
	const struct {
		std::string file, said;
	} cases[] = {
	    {record("020000040001") + run + data_at(0x1000, 16) + end_record, ""},
	    {run + data_at(0x27F, 1) + end_record, "41:4:overlap;"},
	    {run + data_at(0x280, 1) + data_at(0x200, 16) + end_record, "42:4:overlap;"},
	    // Joined from both sides, then a byte at each end of the range.
	    {data_at(0, 16) + data_at(0x20, 16) + data_at(0x10, 16) + data_at(0x30, 1) +
	         data_at(0x2F, 1) + end_record,
	     "5:4:overlap;"},
	    {data_at(0x10, 16) + data_at(0, 16) + data_at(0x0F, 2) + end_record, "3:4:overlap;"},
	    // A range inside one written before stays part of it; a record that
	    // extends a range into the next one; an empty record writes nothing.
	    {data_at(0, 100) + data_at(8, 16) + data_at(50, 10) + end_record,
	     "2:4:overlap;3:4:overlap;"},
	    {data_at(0x100, 16) + data_at(0xE0, 16) + data_at(0xF0, 32) + end_record,
	     "3:4:overlap;"},
	    {data_at(0, 16) + record("00000800") + end_record, ""},
	    // A segment and an upper address alike, each replacing the other.
	    {record("020000021000") + data_at(0, 4) + record("020000040001") + data_at(2, 1) +
	         record("020000020000") + data_at(2, 1) + end_record,
	     "4:4:overlap;"},
	    {":10a0000055555555555555555555555555555555bb\n" + data_at(0xA00F, 1) + end_record,
	     "2:4:overlap;"},
	    {data_at(0xFFF0, 16) + record("020000040001") + data_at(0xFFF1, 16) + end_record,
	     "3:4:crosses-64k;"},
	    {data_at(0xFFE1, 16) + data_at(0xFFF1, 16) + end_record, "2:4:crosses-64k;"},
	    {record("0400000500000100") + record("0400000500000100") + record("0400000300001234") +
	         end_record,
	     "3:10:start-address;"},
	    {record("0400000500000100") + record("0400000500000101") + end_record,
	     "2:10:start-address;"},
	    {record("0100000400") + record("00000002") + record("020000050000") +
	         record("0200000300") + record("00000006") + record("00000005") + end_record,
	     "1:2:count-for-type;2:2:count-for-type;3:2:count-for-type;4:2:count-for-type;"
	     "5:8:unknown-type;6:2:count-for-type;"},
	    {record("0100000100") + data_at(0, 1), "1:2:count-for-type;2:1:after-end;"},
	    {end_record + end_record + data_at(0, 1) + end_record, "2:1:after-end;"},
	    // CP/M's end, then its padding; a comment after the end.
	    {data_at(0, 16) + ":0000000000\n\x1A\x1A\x1A", ""},
	    {data_at(0, 16) + ":0000000000\n;CRC=1234\n \t\n", ""},
	    {":0000000000\n" + data_at(0, 16), "2:1:no-end-record;"},
	    {"", "1:1:no-end-record;"},
	    {";a comment\n;another", "2:1:no-end-record;"},
	    {run, "40:1:no-end-record;"},
	};
	for (const auto &c : cases)
		expect_structure(c.file, c.said);
}

// Memory stays bounded however many records write addresses written before.
TEST(Structure, OverlapsPastTheFirstThousandAreCounted)
{
	std::string file;
	for (int i = 0; i < 1003; ++i)
		file += data_at(0, 16);
	const std::string said = structure_of(file + end_record);
	EXPECT_EQ(said.substr(said.size() - 36), "1001:4:overlap;1002:4:more-overlaps;") << said;
}

namespace {

// An S-record of the type from its address and data digits, its count and
// checksum added.
std::string s_record(int type, const std::string &digits)
{
	char count[17];
	std::snprintf(count, sizeof count, "%02zX", digits.size() / 2 + 1);
	unsigned sum = 0;
	const std::string counted = count + digits;
	for (std::size_t i = 0; i < counted.size(); i += 2)
		sum += static_cast<unsigned>(std::stoul(counted.substr(i, 2), nullptr, 16));
	char checksum[3];
	std::snprintf(checksum, sizeof checksum, "%02X", 0xFF - (sum & 0xFF));
	return "S" + std::to_string(type) + counted + checksum + "\n";
}

// A data record of the type, S1 to S3, with its address as wide as the type has.
std::string s_data(int type, unsigned long address, std::size_t count)
{
	char field[9];
	std::snprintf(field, sizeof field, "%0*lX", 2 + 2 * type, address);
	return s_record(type, field + std::string(2 * count, '5'));
}

} // namespace

TEST(Structure, OfSRecordFiles)
{
	std::string run; // as objcopy writes them: a header, data in address order
	for (unsigned i = 0; i < 40; ++i)
		run += s_data(1, 16 * i, 16);
	const std::string header = s_record(0, "0000"
	                                       "66696C652E733139");
	const std::string s9 = s_record(9, "0000"), s9_at_100 = s_record(9, "0100"),
	                  s8 = s_record(8, "000000"), s7 = s_record(7, "00000000");
	const struct {
		std::string file, said;
	} cases[] = {
	    {header + run + s9, ""},
	    {header + s_data(2, 0x12340, 32) + s_data(2, 0x12360, 1) + s8, ""},
	    {s_data(3, 0xFFFFFFE0, 32) + s_record(5, "0001") + s7, ""},
	    {s_data(1, 0, 16) + s_data(1, 0x100, 16) + s_record(6, "000002") + s9, ""},
	    {run + s_data(1, 0x27F, 1) + s9, "41:5:overlap;"},
	    {s_data(3, 0xFFFFFFF0, 16) + s_data(3, 0xFFFFFFFF, 1) + s7, "2:5:overlap;"},
	    // Each byte of the address counts: across 64 KiB, and in each part.
	    {s_data(3, 0x1FFF8, 16) + s_data(3, 0x20000, 1) + s7, "2:5:overlap;"},
	    {s_data(2, 0x1FFF8, 16) + s_data(2, 0x20000, 1) + s8, "2:5:overlap;"},
	    {s_data(3, 0x01000000, 1) + s_data(3, 0x02000000, 1) + s_data(2, 0x010000, 1) +
	         s_data(2, 0x020000, 1) + s_data(1, 0x0100, 1) + s_data(1, 0x0200, 1) + s7,
	     ""},
	    {s_data(2, 0xFFFF00, 16) + s_data(1, 0xFF00, 16) + s8, ""},
	    {s_record(4, "00") + s9, "1:2:reserved-type;"},
	    {s_data(1, 0, 1) + s_record(5, "0002") + s_data(1, 1, 1) + s_record(5, "0002") + s9,
	     "2:5:record-count;"},
	    {s_data(1, 0, 1) + s_record(6, "000000") + s9, "2:5:record-count;"},
	    {s_data(3, 0, 1) + s9_at_100, "2:2:termination-width;"},
	    {s_data(1, 0, 1) + s_data(2, 0x10000, 1) + s9_at_100, "3:2:termination-width;"},
	    {s_data(1, 0xFFF0, 16) + s_data(2, 0x10000, 1) + s9_at_100, "3:2:termination-width;"},
	    // No start address, as CodeWarrior ends every file; a count of every
	    // data record at the end, as SRecord ends a file without one.
	    {s_data(2, 0x10000, 16) + s9, ""},
	    {s_data(1, 0, 1) + s_data(1, 1, 1) + s_record(5, "0002"), ""},
	    {s_data(1, 0, 1) + s_record(5, "0001") + s_data(1, 1, 1), "3:1:no-termination;"},
	    {header + s7, ""},
	    {s9 + s_data(1, 0, 1) + s9, "2:1:after-end;"},
	    {s9 + s9 + s_data(1, 0, 1), "2:1:after-end;"},
	    {header + run, "41:1:no-termination;"},
	    {";a comment\n" + header, "2:1:no-termination;"},
	};
	for (const auto &c : cases)
		expect_structure(c.file, c.said);
}

// A file is read in the format of most of its first lines that have a
// record's form, whatever its comments start with; a record's form is not
// its checksum, which only breaks a tie.
TEST(Format, ChosenByTheLinesThatAreRecords)
{
	const std::string s1 = "S1050030023395\n", s9 = "S9030000FC\n";
	const std::string data = ":0300300002337A1E\n", end = ":00000001FF\n";
	const auto many = [](const std::string &line, int n) {
		std::string lines;
		for (int i = 0; i < n; ++i)
			lines += line;
		return lines;
	};
	const struct {
		std::string text;
		record_format format;
		bool settled;
	} cases[] = {
	    {"S00600004844521B\n", record_format::s_record, true},
	    {":: exported by flashtool\n" + s1 + s9, record_format::s_record, true},
	    {"S2 board, rev B\n" + data + end, record_format::intel_hex, true},
	    {"\xEF\xBB\xBF\r\n;S1 or :00\n\nS9030000FC", record_format::s_record, true},
	    // Hand-edited: a checksum wrong, a lower-case digit; an S4 and a
	    // type 06 are no record's form, nor is a count the length belies.
	    {"S1050030023300\n:0300300002337A\n", record_format::s_record, true},
	    {"s1050030023395\n:0300300002337a00\n", record_format::intel_hex, true},
	    {"S4030000FC\n:00000006FA\nS9030000FC\n", record_format::s_record, true},
	    {"S105003002339500\n:00000001FF\n", record_format::intel_hex, true},
	    // A tie, to the right checksums, then to Intel HEX.
	    {"S1050030023300\n" + end, record_format::intel_hex, true},
	    {s1 + ":00000001FE\n", record_format::s_record, true},
	    {s1 + end, record_format::intel_hex, true},
	    // The majority of the first sixteen, however many follow.
	    {data + many(s1, 2) + many(data, 14) + many(s1, 20), record_format::intel_hex, true},
	    {many(s1, 9) + many(data, 7) + many(data, 20), record_format::s_record, true},
	    // Settled only by sixteen records, or the whole file; a last line
	    // counts only when it is known to be whole.
	    {many(s1, 15), record_format::s_record, true},
	    {"S1050030023395", record_format::s_record, true},
	    {"", record_format::intel_hex, true},
	    {"Sx\nS\ns1\n:\n", record_format::intel_hex, true},
	};
	for (const auto &c : cases) {
		const format_choice choice = choose_format(c.text.data(), c.text.size(), true);
		EXPECT_EQ(choice.format, c.format) << c.text;
		EXPECT_EQ(choice.settled, c.settled) << c.text;
	}
	const std::string cut = many(s1, 15) + "S1050030023395";
	EXPECT_FALSE(choose_format(cut.data(), cut.size(), false).settled);
	EXPECT_EQ(choose_format(cut.data(), cut.size() - 1, false).format, record_format::s_record);
	const std::string whole = many(data, 3) + many(s1, 16);
	EXPECT_TRUE(choose_format(whole.data(), whole.size(), false).settled);
	EXPECT_EQ(choose_format(whole.data(), whole.size(), false).format, record_format::s_record);
}

// No text at all, in the first 4 KiB: no record there, and more than a
// tenth of the bytes neither printable ASCII, UTF-8, tabs nor line ends.
TEST(Format, BinaryDataIsNoText)
{
	std::string random;
	for (unsigned i = 0, x = 7; i < 5000; ++i, x = x * 1103515245u + 12345u)
		random += static_cast<char>(x >> 16);
	const std::string record = ":0300300002337A1E\n";
	const std::string tenth(409, '\x01'), text(4096 - 410, 'x');
	const struct {
		std::string text;
		bool binary;
	} cases[] = {
	    {random, true},
	    {record + random, false},
	    {std::string(1000, '\0') + "\n" + record, false},
	    {";" + std::string(3000, '\0') + "\n", true},
	    {std::string(2000, '\xe6') + std::string(3000, 'x'), true}, // not UTF-8
	    {";caf" + std::string(3000, '\xe9') + "\n", false},         // Latin-1, a comment
	    {";\xe6\x97\xa5\xe6\x9c\xac" + std::string(4000, 'y') + "\n", false},
	    {[] {
		     std::string comment = ";";
		     while (comment.size() < 5000)
			     comment += "\xe6\x97\xa5"; // in another script
		     return comment;
	     }(),
	     false},
	    {tenth + text, false},
	    {tenth + '\x01' + text, true},
	    {tenth + '\x01' + text.substr(1) + '\x01', true}, // the window's end
	    {"", false},
	};
	for (const auto &c : cases)
		EXPECT_EQ(is_binary(c.text.data(), c.text.size()), c.binary)
		    << c.text.substr(0, 40);
}

TEST(Findings, AnS5RecordCountsNoMoreThan65535)
{
	finding found{};
	found.kind = rule::record_count;
	found.format = record_format::s_record;
	found.type = 5;
	found.right = 0x10000;
	EXPECT_EQ(describe(found), "an S5 record that counts 0 data records, after 65536 of them: "
	                           "more than 65535 need an S6 record");
	found.type = 6;
	EXPECT_EQ(describe(found), "an S6 record that counts 0 data records, after 65536 of them");
}

namespace {

std::string s3_at(unsigned address, std::size_t count)
{
	char head[16];
	std::snprintf(head, sizeof head, "%02zX%08X", count + 5, address);
	std::string digits = head + std::string(2 * count, '5');
	unsigned sum = 0;
	for (std::size_t i = 0; i < digits.size(); i += 2)
		sum += static_cast<unsigned>(std::stoul(digits.substr(i, 2), nullptr, 16));
	char checksum[3];
	std::snprintf(checksum, sizeof checksum, "%02X", ~sum & 0xFF);
	return "S3" + digits + checksum + "\n";
}

std::string lower_case(std::string text)
{
	for (char &c : text)
		c = c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
	return text;
}

} // namespace

// The records an edit covers are found whether the fast paths or the exact
// path take them, in a run of records in address order, out of it, across
// two records, held twice, and where the bytes are already so; bytes no
// record holds are held by none.
TEST(Edits, FoundWhereverTheFastPathsRun)
{
	std::string intel = record("020000040801"), srec = "S00600004844521B\n";
	for (unsigned i = 0; i < 40; ++i) {
		intel += data_at(16 * i, 16);
		srec += s3_at(0x08010000 + 16 * i, 16);
	}
	intel += data_at(0x1000, 16) + data_at(0x100, 16) + end_record;
	srec += s3_at(0x08011000, 16) + s3_at(0x08010100, 16) + "S70508010000ED\n";
	const std::vector<std::vector<byte_edit>> plans = {
	    {{0x08010005, "\xAB"}},
	    {{0x0801000E, "\xAA\xBB\xCC\xDD"},
	     {0x08010000, "\x01"},
	     {0x0801027F, "\x02"},
	     {0x08011001, "\x03"},
	     {0x08010104, "\x04\x05"},
	     {0x08010200, std::string(32, 'U')},
	     {0x08012000, "\x06"},
	     {0x0801000F, "\xEE"}},
	};
	for (const std::string &file : {intel, srec, lower_case(intel)})
		for (const auto &edits : plans) {
			const edit_plan plan = plan_edits(edits);
			for (int level = 0; level < levels_here; ++level)
				for (std::size_t block : {smallest_block_size, default_block_size})
					for (loop_kind kind : {loop_kind::check, loop_kind::fix})
						EXPECT_EQ(
						    run_loop(file, static_cast<simd_level>(level),
						             block, kind, stream_result::ok, &plan),
						    rewrite_by_line(file, kind, block, &plan))
						    << file.substr(0, 20) << level << block;
		}
	const edit_plan plan = plan_edits(plans[1]);
	const std::string fixed = rewrite_by_line(intel, loop_kind::fix, default_block_size, &plan);
	// The line that held each byte first, the 32 already so among them; the
	// later edit of 0x0801000F wins.
	std::string held = "{6 2 2 2 3 3 18 18";
	for (int i = 0; i < 32; ++i)
		held += i < 16 ? " 34" : " 35";
	EXPECT_EQ(fixed.substr(fixed.find('{')), held + " 41 42 0}");
	EXPECT_NE(fixed.find(":1000000001" + std::string(26, '5') + "AAEE"), std::string::npos);
	EXPECT_NE(fixed.find(":10001000CCDD"), std::string::npos);
}

// What --set takes, and the bytes it makes of it; "" for a value refused.
TEST(Edits, ValuesAsBytes)
{
	const struct {
		const char *text;
		std::uint64_t address;
		std::string bytes;
	} cases[] = {
	    {"0x0801F000=DEADbeef", 0x0801F000, "\xDE\xAD\xBE\xEF"},
	    {"4096=00", 4096, std::string(1, '\0')},
	    {"0=u8:255", 0, "\xFF"},
	    {"0xFFFFFFFF=u8:0x7f", 0xFFFFFFFF, "\x7F"},
	    {"0XFFFFFFFE=u16le:0xBEEF", 0xFFFFFFFE, "\xEF\xBE"},
	    {"1=u16be:48879", 1, "\xBE\xEF"},
	    {"1=u32le:1001", 1, std::string("\xE9\x03\0\0", 4)},
	    {"1=u32be:0x01020304", 1, "\x01\x02\x03\x04"},
	    {"1=u64le:18446744073709551615", 1, std::string(8, '\xFF')},
	    {"1=u64be:0x0102030405060708", 1, "\x01\x02\x03\x04\x05\x06\x07\x08"},
	    {"1=i8:-128", 1, "\x80"},
	    {"1=i16le:-5", 1, "\xFB\xFF"},
	    {"1=i16be:32767", 1, "\x7F\xFF"},
	    {"1=i32le:-1", 1, std::string(4, '\xFF')},
	    {"1=i64be:-9223372036854775808", 1, std::string("\x80\0\0\0\0\0\0\0", 8)},
	    {"1=i64le:-0", 1, std::string(8, '\0')},
	    {"1=text:Hi =x", 1, "Hi =x"},
	    {"1=file:cal.bin", 1, "CAL"},
	    // Refused: a slip must never set other bytes at another address.
	    {"0800F000=00", 0, ""},
	    {"0801F00A=00", 0, ""},
	    {"0x100000000=00", 0, ""},
	    {"4294967296=00", 0, ""},
	    {"0x=00", 0, ""},
	    {"=00", 0, ""},
	    {"0x10", 0, ""},
	    {"0x10=ABC", 0, ""},
	    {"0x10=0xAB", 0, ""},
	    {"0x10=AG", 0, ""},
	    {"0x10=", 0, ""},
	    {"0x10=text:", 0, ""},
	    {"0x10=u8:256", 0, ""},
	    {"0x10=u8:-1", 0, ""},
	    {"0x10=i8:128", 0, ""},
	    {"0x10=i8:-129", 0, ""},
	    {"0x10=u16le:65536", 0, ""},
	    {"0x10=i16be:-32769", 0, ""},
	    {"0x10=u32le:4294967296", 0, ""},
	    {"0x10=u64le:18446744073709551616", 0, ""},
	    {"0x10=u32le:010", 0, ""},
	    {"0x10=u32le:", 0, ""},
	    {"0x10=u24le:1", 0, ""},
	    {"0x10=file:", 0, ""},
	    {"0x10=file:missing.bin", 0, ""},
	    {"0xFFFFFFFF=ABCD", 0, ""},
	    {"0xFFFFFFFD=u32be:1", 0, ""},
	};
	const file_reader reader = [](const std::string &path, std::string &bytes,
	                              std::string &reason) {
		bytes = "CAL";
		reason = path == "cal.bin" ? "" : "No such file or directory";
		return reason.empty();
	};
	for (const auto &c : cases) {
		byte_edit edit{};
		std::string reason;
		const bool read = read_edit(c.text, edit, reason, reader);
		EXPECT_EQ(read, !c.bytes.empty()) << c.text << ": " << reason;
		EXPECT_EQ(read ? edit.address : 0, c.address) << c.text;
		EXPECT_EQ(read ? edit.bytes : "", c.bytes) << c.text;
		EXPECT_EQ(reason.empty(), read) << c.text;
	}
}
