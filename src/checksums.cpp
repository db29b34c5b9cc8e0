// The CRCs by their parameters, eight bytes a step through slicing tables,
// and the plain sums; a run of one byte folded in by squaring its step.
#include "checksums.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

const checksum_preset checksum_presets[] = {
    {"crc-32/iso-hdlc", "crc-32", 32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF, 0xCBF43926},
    {"crc-32/mpeg-2", nullptr, 32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0x00000000, 0x0376E6E7},
    {"crc-32/bzip2", nullptr, 32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0xFFFFFFFF, 0xFC891918},
    {"crc-32/iscsi", "crc-32c", 32, 0x1EDC6F41, 0xFFFFFFFF, true, true, 0xFFFFFFFF, 0xE3069283},
    {"crc-32/autosar", nullptr, 32, 0xF4ACFB13, 0xFFFFFFFF, true, true, 0xFFFFFFFF, 0x1697D06A},
    {"crc-16/ibm-3740", "crc-16/ccitt-false", 16, 0x1021, 0xFFFF, false, false, 0x0000, 0x29B1},
    {"crc-16/xmodem", nullptr, 16, 0x1021, 0x0000, false, false, 0x0000, 0x31C3},
    {"crc-16/kermit", nullptr, 16, 0x1021, 0x0000, true, true, 0x0000, 0x2189},
    {"crc-16/modbus", nullptr, 16, 0x8005, 0xFFFF, true, true, 0x0000, 0x4B37},
    {"crc-16/arc", nullptr, 16, 0x8005, 0x0000, true, true, 0x0000, 0xBB3D},
    {"crc-16/spi-fujitsu", nullptr, 16, 0x1021, 0x1D0F, false, false, 0x0000, 0xE5CC},
    {"crc-8/smbus", nullptr, 8, 0x07, 0x00, false, false, 0x00, 0xF4},
    {"crc-8/maxim-dow", nullptr, 8, 0x31, 0x00, true, true, 0x00, 0xA1},
};
const std::size_t checksum_preset_count = std::size(checksum_presets);

namespace {

const unsigned sum_widths[] = {8, 16, 32};

// name is in lower case.
bool same_name(const std::string &said, const char *name)
{
	return said.size() == std::strlen(name) &&
	       std::equal(said.begin(), said.end(), name, [](char c, char lower) {
		       return std::tolower(static_cast<unsigned char>(c)) == lower;
	       });
}

std::uint32_t width_mask(unsigned width)
{
	return 0xFFFFFFFFu >> (32 - width);
}

std::uint32_t reflect(std::uint32_t value, unsigned width)
{
	std::uint32_t reflected = 0;
	for (unsigned i = 0; i < width; ++i, value >>= 1) {
		reflected = (reflected << 1) | (value & 1);
	}
	return reflected;
}

// The register of a CRC fed least significant bit first is kept reflected
// in its low bits and shifts right; the other is kept at the top of the
// word and shifts left, so that a byte always enters at one end.
std::uint32_t step_byte(const checksum_state &state, std::uint32_t crc, unsigned char byte)
{
	if (state.algorithm.refin) {
		return (crc >> 8) ^ state.table[0][(crc ^ byte) & 0xFF];
	}
	return (crc << 8) ^ state.table[0][(crc >> 24) ^ byte];
}

// The bytes of one step of the slicing tables, one table each.
const std::size_t slice = 8;

void make_tables(checksum_state &state)
{
	const checksum_algorithm &a = state.algorithm;
	const std::uint32_t poly = a.refin ? reflect(a.poly, a.width) : a.poly << (32 - a.width);
	for (std::uint32_t i = 0; i < 256; ++i) {
		std::uint32_t crc = a.refin ? i : i << 24;
		for (int bit = 0; bit < 8; ++bit) {
			if (a.refin) {
				crc = (crc & 1) != 0 ? (crc >> 1) ^ poly : crc >> 1;
			} else {
				crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ poly : crc << 1;
			}
		}
		state.table[0][i] = crc;
	}
	// table[k] is a byte followed by k zero bytes.
	for (std::size_t k = 1; k < slice; ++k) {
		for (std::size_t i = 0; i < 256; ++i) {
			state.table[k][i] = step_byte(state, state.table[k - 1][i], 0);
		}
	}
}

// Unaligned, in either byte order whatever the processor's: compilers make
// each one load (and a byte swap where the order is the other one).
std::uint64_t load_little(const unsigned char *p)
{
	return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
	       std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 |
	       std::uint64_t{p[6]} << 48 | std::uint64_t{p[7]} << 56;
}

std::uint64_t load_big(const unsigned char *p)
{
	return std::uint64_t{p[0]} << 56 | std::uint64_t{p[1]} << 48 | std::uint64_t{p[2]} << 40 |
	       std::uint64_t{p[3]} << 32 | std::uint64_t{p[4]} << 24 | std::uint64_t{p[5]} << 16 |
	       std::uint64_t{p[6]} << 8 | std::uint64_t{p[7]};
}

std::uint32_t entry(const checksum_state &state, std::size_t k, std::uint64_t word, int shift)
{
	return state.table[k][(word >> shift) & 0xFF];
}

// A slice a step: the register is folded into its first four bytes, and
// each byte looked up in the table of the bytes that follow it.
std::uint32_t add_reflected(const checksum_state &state, std::uint32_t crc, const unsigned char *p,
                            std::size_t count)
{
	for (std::size_t at = 0; at < count; at += slice) {
		const std::uint64_t w = load_little(p + at) ^ crc;
		crc = entry(state, 7, w, 0) ^ entry(state, 6, w, 8) ^ entry(state, 5, w, 16) ^
		      entry(state, 4, w, 24) ^ entry(state, 3, w, 32) ^ entry(state, 2, w, 40) ^
		      entry(state, 1, w, 48) ^ entry(state, 0, w, 56);
	}
	return crc;
}

std::uint32_t add_normal(const checksum_state &state, std::uint32_t crc, const unsigned char *p,
                         std::size_t count)
{
	for (std::size_t at = 0; at < count; at += slice) {
		const std::uint64_t w = load_big(p + at) ^ (std::uint64_t{crc} << 32);
		crc = entry(state, 7, w, 56) ^ entry(state, 6, w, 48) ^ entry(state, 5, w, 40) ^
		      entry(state, 4, w, 32) ^ entry(state, 3, w, 24) ^ entry(state, 2, w, 16) ^
		      entry(state, 1, w, 8) ^ entry(state, 0, w, 0);
	}
	return crc;
}

const unsigned register_bits = 32;

// A byte's step is affine over GF(2): crc -> A crc ^ c, A as its columns.
struct affine_map {
	std::uint32_t column[register_bits];
	std::uint32_t constant;
};

std::uint32_t apply(const affine_map &map, std::uint32_t crc)
{
	std::uint32_t result = map.constant;
	for (unsigned j = 0; crc != 0; ++j, crc >>= 1) {
		if ((crc & 1) != 0) {
			result ^= map.column[j];
		}
	}
	return result;
}

// Twice: A (A crc ^ c) ^ c, so A A's columns and A c ^ c.
affine_map square(const affine_map &map)
{
	affine_map twice;
	for (unsigned j = 0; j < register_bits; ++j) {
		twice.column[j] = apply(map, map.column[j]) ^ map.constant;
	}
	twice.constant = apply(map, map.constant);
	return twice;
}

void fill_crc(checksum_state &state, unsigned char byte, std::uint64_t count)
{
	affine_map map;
	map.constant = step_byte(state, 0, byte);
	for (unsigned j = 0; j < register_bits; ++j) {
		map.column[j] = step_byte(state, std::uint32_t{1} << j, 0);
	}
	// The powers of one map commute: apply those of count's bits, in any order.
	for (; count != 0; count >>= 1) {
		if ((count & 1) != 0) {
			state.crc = apply(map, state.crc);
		}
		map = square(map);
	}
}

} // namespace

bool find_checksum(const std::string &name, checksum_algorithm &found)
{
	for (std::size_t i = 0; i < checksum_preset_count; ++i) {
		const checksum_preset &p = checksum_presets[i];
		if (same_name(name, p.name) || (p.alias != nullptr && same_name(name, p.alias))) {
			found = checksum_algorithm{p.name,   false,    p.width,
			                           p.poly,   p.init,   p.refin,
			                           p.refout, p.xorout, sum_complement::none};
			return true;
		}
	}
	for (const unsigned width : sum_widths) {
		const std::string sum = "sum" + std::to_string(width);
		if (same_name(name, sum.c_str())) {
			found = checksum_algorithm{};
			found.name = sum;
			found.is_sum = true;
			found.width = width;
			return true;
		}
	}
	return false;
}

std::string checksum_names()
{
	std::string names;
	for (std::size_t i = 0; i < checksum_preset_count; ++i) {
		names += checksum_presets[i].name;
		names += ", ";
		if (checksum_presets[i].alias != nullptr) {
			names += checksum_presets[i].alias;
			names += ", ";
		}
	}
	for (const unsigned width : sum_widths) {
		names += "sum" + std::to_string(width) + ", ";
	}
	return names + "custom";
}

// A sum's tables and register are made as a CRC's of its zero parameters,
// and go unused.
void begin_checksum(checksum_state &state, const checksum_algorithm &algorithm)
{
	state.algorithm = algorithm;
	state.sum = 0;
	make_tables(state);
	const std::uint32_t init = algorithm.init & width_mask(algorithm.width);
	state.crc =
	    algorithm.refin ? reflect(init, algorithm.width) : init << (32 - algorithm.width);
}

void add_bytes(checksum_state &state, const unsigned char *bytes, std::size_t count)
{
	if (state.algorithm.is_sum) {
		std::uint64_t sum = state.sum;
		for (std::size_t i = 0; i < count; ++i) {
			sum += bytes[i];
		}
		state.sum = sum;
	} else {
		const std::size_t sliced = count - count % slice;
		std::uint32_t crc = state.algorithm.refin
		                        ? add_reflected(state, state.crc, bytes, sliced)
		                        : add_normal(state, state.crc, bytes, sliced);
		for (std::size_t i = sliced; i < count; ++i) {
			crc = step_byte(state, crc, bytes[i]);
		}
		state.crc = crc;
	}
}

void add_fill(checksum_state &state, unsigned char byte, std::uint64_t count)
{
	if (state.algorithm.is_sum) {
		state.sum += std::uint64_t{byte} * count; // modulo 2^64, of which 2^width divides
	} else {
		fill_crc(state, byte, count);
	}
}

std::uint32_t checksum_value(const checksum_state &state)
{
	const checksum_algorithm &a = state.algorithm;
	const std::uint32_t mask = width_mask(a.width);
	if (a.is_sum) {
		auto sum = static_cast<std::uint32_t>(state.sum);
		if (a.complement == sum_complement::ones) {
			sum = ~sum;
		} else if (a.complement == sum_complement::twos) {
			sum = 0 - sum;
		}
		return sum & mask;
	}
	std::uint32_t crc = a.refin ? reflect(state.crc, a.width) : state.crc >> (32 - a.width);
	if (a.refout) {
		crc = reflect(crc, a.width);
	}
	return (crc ^ a.xorout) & mask;
}
