// The structure of a file as loaders see it, beside the checksums: the end
// record, address and start records, and addresses written twice; in an
// S-record file, the count and termination records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "edits.hpp"
#include "findings.hpp"
#include "image.hpp"

// A data record that writes addresses already written, said once the file
// has been read (see compare_overlaps).
struct overlap {
	std::size_t line;
	std::uint64_t from, to;
	std::size_t other_line; // the latest earlier record among them, or 0
	same_bytes same;
	unsigned char bytes[255]; // the memory those lines left, where known
	bool known[255];
	bool read_again; // its record, as the second reading found it
};

// Memory grows with the separate address ranges of the file, not its data:
// records in address order extend one range.
struct file_structure {
	void (*report)(void *context, const finding &found);
	void *context;
	record_format format;    // Intel HEX until the loop has read the first block
	std::uint64_t base;      // set by the latest address record
	std::size_t end_line;    // the first end-of-file or termination record, or 0
	bool said_after_end;     // the first record after it is said
	bool last_is_empty_data; // :0000000000 ends a file, as CP/M wrote it
	std::size_t last_line;   // the file's last line
	int start_type;          // of the first start address record, or -1
	std::uint32_t start_value;
	std::size_t start_line;
	std::map<std::uint64_t, std::uint64_t> written; // start to end, apart
	// The range records in address order extend, out of the map, and the
	// start of the next one in it.
	std::uint64_t run_from, run_to, run_limit;
	std::vector<overlap> overlaps; // the first max_overlaps
	std::size_t more_overlaps, first_more;
	// S-records: the data records so far, and the widest of their types;
	// how many of them an S5 or S6 record counted rightly, of the latest.
	std::size_t data_records;
	int widest_data_type;
	std::size_t counted;
	// With edits to make: the data records that hold edited bytes, noted
	// since the loop last took them. With an image to keep, the bytes it
	// wants. The first edited or wanted address from the end of the run on,
	// below which records extend the run untaken.
	const edit_plan *edits;
	std::vector<held_record> held;
	image_bytes *image;
	std::uint64_t edit_limit;
	std::size_t doubtful_base; // an address record of a wrong count since the base was set
};

constexpr std::size_t max_overlaps = 1000;

void begin_structure(file_structure &structure, void (*report)(void *, const finding &),
                     void *context);

// The records that hold bytes the plan sets are to be noted in held.
void hold_edited_records(file_structure &structure, const edit_plan &plan);

// The data records' bytes within the image's wanted ranges are to be kept
// in it.
void keep_image(file_structure &structure, image_bytes &image);

// A record line taken by the exact path: its type known and every digit up
// to its checksum's end valid (see usable_record).
void note_record(file_structure &structure, const char *line, std::size_t line_number);

// The well-formed records the fast paths took in [text, end), the first of
// them line first_line: Intel HEX data records, or S-records S0 to S3.
void note_data_records(file_structure &structure, const char *text, const char *end,
                       std::size_t first_line);

// After the last line: the end record, and each overlap. Where in can be
// read again from its start, the records that wrote the addresses first are
// found and the bytes compared; a pipe cannot, and then neither is known.
void end_structure(file_structure &structure, std::size_t lines, std::FILE *in);

// Whether the data records noted put a byte in [from, to).
bool holds_data(const file_structure &structure, std::uint64_t from, std::uint64_t to);

// Where the data records noted put bytes, in words, as seen from an address
// they do not hold: "its data ends at 0x0801EFFF".
std::string data_near(const file_structure &structure, std::uint64_t address);
