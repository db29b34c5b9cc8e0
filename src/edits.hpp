// Bytes set by address (--set): which bytes of a record an edit covers,
// written over that record's data digits, and what came of the edits in a
// file. The loop is handed the edits as data; the structure checks, which
// follow the address records, tell it which records hold edited bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "image.hpp"
#include "record_layout.hpp"

// One --set as given: its bytes, from address upwards.
struct byte_edit {
	std::uint64_t address;
	std::string bytes;
};

// Addresses end here: a byte may be set at 0xFFFFFFFF, none above it.
constexpr std::uint64_t address_space = std::uint64_t{1} << 32;
constexpr std::uint64_t no_address = std::numeric_limits<std::uint64_t>::max();

// Bytes at consecutive addresses, from one of them; first is the index of
// the first of them among all the bytes the run sets.
struct edit_span {
	std::uint64_t from;
	std::string bytes;
	std::size_t first;
};

// What a run sets in every file: each address once, the latest edit that
// covers it winning, in spans apart and in address order.
struct edit_plan {
	std::vector<edit_span> spans;
	std::size_t bytes;
};

edit_plan plan_edits(const std::vector<byte_edit> &edits);

// The first address from from on that the plan sets, or no_address.
std::uint64_t next_edited(const edit_plan &plan, std::uint64_t from);

// The byte the plan sets at an address it sets.
char edited_byte(const edit_plan &plan, std::uint64_t address);

// What the edits came to in one file.
struct edit_progress {
	const edit_plan *plan;
	std::vector<std::size_t> held_by;   // for each byte, the first line that held it, or 0
	std::vector<std::size_t> last_line; // for each span, the latest line that held any of it
	std::size_t checksums;              // of the records whose digits changed
	// A byte held by two records, set in both: the first such, and how many.
	std::uint64_t twice_at;
	std::size_t twice_lines[2], twice;
	// The first byte past a 64 KiB boundary its record runs over, and the record.
	std::uint64_t past_boundary;
	std::size_t past_boundary_line;
	// The first byte in a record after an address record of a wrong count.
	std::uint64_t doubtful_at;
	std::size_t doubtful_line, doubtful_base;
	// With --crc: the spans said as bytes set, those of --set alone (null:
	// the plan's), and what each stored value is said as, with its address.
	const edit_plan *named;
	std::vector<std::pair<std::string, std::uint64_t>> stamped;
};

void begin_edits(edit_progress &progress, const edit_plan &plan);

// Writes the edited bytes of the record over its data digits, those whose
// value changes, in the record's case (lower case where every letter of it
// is), and then its checksum. Returns whether any digit changed.
bool edit_record(const record_layout &layout, char *line, const held_record &held,
                 edit_progress &progress);

// The first byte set that no record held, or no_address.
std::uint64_t first_missing(const edit_progress &progress);

// "4 bytes set at 0x0801F000 (line 4097), 1 checksum rewritten".
std::string edit_words(const edit_progress &progress);

struct file_structure;

// Why the edits cannot all be made in the file the structure was read
// from, in words, or "" when they can: a byte no record holds, or one past
// a 64 KiB boundary its record runs over.
std::string why_not_edited(const edit_progress &progress, const file_structure &structure);

// "0x0801F000 is held by lines 12 and 40: set in both", or "".
std::string twice_words(const edit_progress &progress);

// "0x0801F000" for an address.
std::string address_text(std::uint64_t address);
