// Reading a file for the values of --crc: as the records come where they
// come in address order, as most files have them, with nothing of the
// ranges kept; else from the ranges' bytes kept whole, from a reading of
// their own where the file can be read again.
#pragma once

#include <cstdio>
#include <vector>

#include "edits.hpp"
#include "file_structure.hpp"
#include "stamps.hpp"

enum class value_source { none, streamed, kept };

struct value_reading {
	const std::vector<crc_stamp> *stamps;
	const edit_plan *edits; // --set's, written first
	bool chained;           // as written (see compute_stamps), not as --check compares
	value_source source;
	image_bytes image;
	stamp_stream stream;
};

// Streamed where in can be read again, should its records not come in
// address order; else kept, as from a pipe.
value_source source_of(std::FILE *in);

// The reading of the structure is to give the values: streamed where the
// stamps allow it, or kept.
void begin_value_reading(value_reading &reading, file_structure &structure,
                         const std::vector<crc_stamp> &stamps, const edit_plan &edits, bool chained,
                         value_source source);

// After the reading: the values (none without a source), unless it
// streamed records that came out of address order.
bool end_value_reading(value_reading &reading, std::vector<stamp_value> &values);

// The values from in, read again from its start with the ranges kept whole,
// into reading; false, with errno, where in cannot be read again.
bool read_values_kept(std::FILE *in, value_reading &reading, std::vector<stamp_value> &values);

// end_value_reading, or else read_values_kept.
bool values_of_reading(std::FILE *in, value_reading &reading, std::vector<stamp_value> &values);
