// The checksums against their catalogue check values, fed in every split,
// and runs of fill against the same bytes fed one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "checksums.hpp"

namespace {

const std::string digits = "123456789";

// Found in an algorithm that held another: nothing of it may be left, the
// complement none but as asked.
checksum_algorithm named(const std::string &name, sum_complement complement = {})
{
	checksum_algorithm found{"old", false, 12, 1, 1, true, false, 1, sum_complement::ones};
	EXPECT_TRUE(find_checksum(name, found)) << name;
	found.complement = complement != sum_complement::none ? complement : found.complement;
	return found;
}

// The pieces fed one by one, a run of fill after the first, through one
// state that held others before, as a caller's may: nothing may show through.
std::uint32_t value_of(const checksum_algorithm &a, const std::vector<std::string> &pieces,
                       char fill = 0, std::uint64_t count = 0)
{
	static checksum_state state;
	std::memset(&state.table, 0xA5, sizeof state.table);
	state.crc = 0xA5A5A5A5;
	state.sum = 0xA5A5A5A5;
	begin_checksum(state, a);
	for (std::size_t i = 0; i < pieces.size(); ++i) {
		const std::vector<unsigned char> bytes(pieces[i].begin(), pieces[i].end());
		add_bytes(state, bytes.data(), bytes.size()); // no terminator to read past
		add_fill(state, static_cast<unsigned char>(fill), i == 0 ? count : 0);
	}
	return checksum_value(state);
}

// Width 12 fed most significant bit first but reflected out; width 32 the
// other way (a reflected CRC-32's register reflected back); width 14 and 24.
const std::pair<checksum_algorithm, std::uint32_t> odd_ones[] = {
    {{"custom", false, 12, 0x80F, 0, false, true, 0, {}}, 0xDAF},
    {{"custom", false, 32, 0x04C11DB7, 0xFFFFFFFF, true, false, 0xFFFFFFFF, {}}, 0x649C2FD3},
    {{"custom", false, 14, 0x805, 0, true, true, 0, {}}, 0x082D},
    {{"custom", false, 24, 0x864CFB, 0xB704CE, false, false, 0, {}}, 0x21CF02}};

TEST(Checksum, CheckValuesInEveryPieceSize)
{
	std::vector<std::pair<checksum_algorithm, std::uint32_t>> cases(std::begin(odd_ones),
	                                                                std::end(odd_ones));
	// '1' to '9' add up to 0x1DD: the sums as they are, in ones' and in twos' complement.
	const std::tuple<const char *, std::uint32_t, std::uint32_t, std::uint32_t> sums[] = {
	    {"sum8", 0xDD, 0x22, 0x23},
	    {"sum16", 0x1DD, 0xFE22, 0xFE23},
	    {"sum32", 0x1DD, 0xFFFFFE22, 0xFFFFFE23}};
	for (const auto &[name, plain, ones, twos] : sums) {
		cases.insert(cases.end(), {{named(name), plain},
		                           {named(name, sum_complement::ones), ones},
		                           {named(name, sum_complement::twos), twos}});
	}
	for (std::size_t i = 0; i < checksum_preset_count; ++i) {
		const checksum_preset &p = checksum_presets[i];
		cases.emplace_back(named(p.alias != nullptr ? p.alias : p.name), p.check);
	}
	for (const auto &[algorithm, check] : cases) {
		for (std::size_t size = 1; size <= digits.size(); ++size) {
			std::vector<std::string> pieces;
			for (std::size_t at = 0; at < digits.size(); at += size) {
				pieces.push_back(digits.substr(at, size));
			}
			EXPECT_EQ(value_of(algorithm, pieces), check) << algorithm.name << size;
		}
	}
}

TEST(Checksum, FillIsTheSameBytesFed)
{
	const checksum_algorithm algorithms[] = {named("crc-32"),          named("crc-32/bzip2"),
	                                         named("crc-16/xmodem"),   named("crc-8/smbus"),
	                                         named("crc-8/maxim-dow"), named("sum16"),
	                                         odd_ones[0].first,        odd_ones[1].first};
	for (const checksum_algorithm &a : algorithms) {
		for (const char byte : {'\x00', '\xFF', '\xA5'}) {
			for (const unsigned n : {0u, 1u, 7u, 8u, 9u, 4096u + 3, 100003u}) {
				EXPECT_EQ(value_of(a, {digits, digits}, byte, n),
				          value_of(a, {digits + std::string(n, byte) + digits}))
				    << a.name << " " << int{byte} << " " << n;
			}
		}
	}
	// By Python's zlib.crc32 and binascii.crc_hqx (crc-16/xmodem from 0),
	// over 256 pieces of 16 MiB, and 3 bytes more; the sum is 0xA5 * 3.
	const std::tuple<const char *, char, std::uint64_t, std::uint32_t> gibibytes[] = {
	    {"crc-32", '\xFF', 1ull << 32, 0xFF000000},
	    {"crc-32", '\xA5', (1ull << 32) + 3, 0xF18EB66B},
	    {"crc-16/xmodem", '\xA5', (1ull << 32) + 3, 0x1029},
	    {"sum16", '\xA5', (1ull << 32) + 3, 0x1EF}};
	for (const auto &[name, byte, n, expected] : gibibytes) {
		EXPECT_EQ(value_of(named(name), {""}, byte, n), expected) << name << int{byte};
	}
}

TEST(Checksum, NamesForUsageAreTheNamesTaken)
{
	const std::string names = checksum_names();
	EXPECT_EQ(std::count(names.begin(), names.end(), ','), 19); // 13, 3 aliases, 3 sums, custom
	for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 2) {
		end = names.find(", ", at);
		const std::string name = names.substr(at, end - at);
		checksum_algorithm a{};
		EXPECT_EQ(find_checksum(name, a), name != "custom") << name;
	}
	EXPECT_EQ(named("SUM16").name + named("CRC-16/CCITT-false").name, "sum16crc-16/ibm-3740");
	checksum_algorithm a{};
	EXPECT_FALSE(find_checksum("crc-32/iso-hdlcx", a) || find_checksum("crc-3", a) ||
	             find_checksum("xrc-32", a) || find_checksum("sum", a));
}

} // namespace
