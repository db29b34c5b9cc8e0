// Checksums over bytes, as firmware stores them: the CRCs by their
// parameters and the plain sums, with a run of one byte folded in in
// logarithmic time, so that a gap of erased flash costs nothing. Bytes in,
// a value out: nothing here knows of records or files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class sum_complement { none, ones, twos };

// A CRC by the parameters of the usual catalogue (width 8 to 32; refin:
// each byte fed least significant bit first; refout: the register reflected
// before xorout), or a sum of the bytes modulo 2^width (8, 16 or 32),
// complemented or not.
struct checksum_algorithm {
	std::string name; // as said: "crc-32/iso-hdlc", "sum16", "custom"
	bool is_sum;
	unsigned width;
	std::uint32_t poly, init;
	bool refin, refout;
	std::uint32_t xorout;
	sum_complement complement; // sums only
};

// The named algorithm (a preset or an alias of one, case-insensitive, or a
// sum), or false. "custom" is not among them: its parameters are given.
bool find_checksum(const std::string &name, checksum_algorithm &found);

// Every name find_checksum takes, with "custom", for a usage message.
std::string checksum_names();

// A CRC preset with its catalogue check value, the CRC of "123456789".
struct checksum_preset {
	const char *name;
	const char *alias; // or null
	unsigned width;
	std::uint32_t poly, init;
	bool refin, refout;
	std::uint32_t xorout, check;
};

extern const checksum_preset checksum_presets[];
extern const std::size_t checksum_preset_count;

// A computation under way. The tables are slicing tables for the
// algorithm, made by begin_checksum; crc is the CRC register in the
// form the tables work on, sum the sum so far.
struct checksum_state {
	checksum_algorithm algorithm;
	std::uint32_t crc;
	std::uint64_t sum;
	std::uint32_t table[8][256];
};

// Sets all of state, whatever it held. A CRC's width is 8 to 32, a sum's 8,
// 16 or 32; the bits of poly, init and xorout above the width are ignored.
void begin_checksum(checksum_state &state, const checksum_algorithm &algorithm);

void add_bytes(checksum_state &state, const unsigned char *bytes, std::size_t count);

// count copies of byte, in time logarithmic in count.
void add_fill(checksum_state &state, unsigned char byte, std::uint64_t count);

// The value as stored: the register reflected and xored, or the sum
// complemented, in width bits.
std::uint32_t checksum_value(const checksum_state &state);
