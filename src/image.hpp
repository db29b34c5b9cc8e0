// The image a loader would write, as stretches of bytes at their addresses,
// kept only within the ranges asked for: memory grows with the data there,
// never with the address space. Where two records write one address, the
// later record's byte is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Addresses from from to to, to not included.
struct address_range {
	std::uint64_t from, to;
};

// An address whose record is wanted: the line and column of the digits
// that hold it, in the latest record that wrote it; line 0 when none did.
struct watched_address {
	std::uint64_t address;
	std::size_t line, column;
};

// Wanted bytes whose addresses loaders disagree on, how, and the line that
// makes it so.
enum class doubt {
	past_boundary, // past a 64 KiB boundary their record (line) runs over
	wrapped,       // where such a record's bytes land if they wrap
	base           // any: an address record of a wrong count (line) came before
};

struct doubtful_bytes {
	std::uint64_t from, to;
	doubt why;
	std::size_t line;
};

struct image_bytes {
	std::vector<address_range> wanted;              // apart and in address order
	std::map<std::uint64_t, std::string> stretches; // apart, some may touch
	std::vector<watched_address> watched;
	std::vector<doubtful_bytes> doubtful; // in the order read
	// Where the wanted bytes go as they come, in the order read, instead of
	// being kept, or null.
	void (*sink)(void *context, std::uint64_t address, const char *bytes, std::size_t count);
	void *sink_context;
};

// An image that keeps the bytes of the ranges, which may overlap and come
// in any order, and notes the records of the addresses watched.
void begin_image(image_bytes &image, const std::vector<address_range> &ranges,
                 const std::vector<std::uint64_t> &watched);

// The first wanted address from from on, or the largest address there is.
std::uint64_t next_wanted(const image_bytes &image, std::uint64_t from);

// A data record whose addresses hold wanted bytes, as the structure found
// it: its line in the block, its addresses and where its data digits start.
// Bytes at boundary and above it are past a 64 KiB boundary the record runs
// over, where loaders disagree on their addresses.
struct held_record {
	const char *line;
	std::size_t line_number;
	std::uint64_t from;
	unsigned count;
	std::size_t data_column;
	std::uint64_t boundary;
	// The address record before it whose count is wrong, which loaders may
	// or may not take as the base of its addresses, or 0.
	std::size_t doubtful_base;
};

// Whether the record meets the wanted ranges, where its bytes may wrap to
// too.
bool wanted_by(const image_bytes &image, const held_record &record);

// The data records after the address record of a wrong count on line are
// doubtful wherever they are.
void doubt_base(image_bytes &image, std::size_t line);

// Keeps the record's wanted bytes, over any an earlier record wrote; bytes
// whose address loaders disagree on are only noted as doubtful.
void take_record(image_bytes &image, const held_record &record);

// Writes bytes from address on, over what was there: as a loader would
// write a later record. Nothing outside the wanted ranges is kept.
void put_bytes(image_bytes &image, std::uint64_t address, const std::string &bytes);

// The first doubtful bytes read that meet [from, to), or null.
const doubtful_bytes *doubtful_in(const image_bytes &image, std::uint64_t from, std::uint64_t to);

// The bytes of [from, to) that the image holds, each with whether it does.
std::string bytes_at(const image_bytes &image, std::uint64_t from, std::uint64_t to,
                     std::vector<bool> &held);
