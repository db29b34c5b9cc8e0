// The read-rewrite-write loop: one input stream to one output stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "file_structure.hpp"
#include "findings.hpp"
#include "format_choice.hpp"
#include "record_checksum.hpp"
#include "simd_level.hpp"

// The tool's read block. Records cost little next to the copies to and from
// the kernel, and blocks as large as a plain copy's (dd bs=1M) write to a
// file fastest.
constexpr std::size_t default_block_size = std::size_t{1} << 20;

// The loop needs room in a block for the head of the longest record, every
// column a rewrite reads or writes and the two after them, and one byte more.
constexpr std::size_t smallest_block_size = record_columns + 4;

// How much of the block the reads fill at first; the format of the records
// is chosen from the first of them, read on where it does not settle it
// (see choose_format).
constexpr std::size_t first_read_size(std::size_t block_size)
{
	return block_size < (std::size_t{1} << 17) ? block_size : std::size_t{1} << 17;
}

// The tool's own read block, reused file after file: default_block_size
// bytes and the two the loop keeps after them. Static: its pages are mapped
// only as a file fills them, so a small file touches few of them.
char *tool_block();

enum class stream_result {
	ok,
	read_failed,
	write_failed,
	utf16_text,
	binary_data,
	block_too_small
};

// What a run of the loop does.
struct loop_settings {
	simd_level level; // the fast paths to take
	// block_size + 2 bytes, whatever they hold: the loop reads block_size at a
	// time, and the two past a full block lend room to the checksum digits a
	// last line without a line end may lack.
	char *block;
	std::size_t block_size;
	// Instead of the plain rewrite, each line is checked (check_record) and
	// a record's checksum mended where it can be (can_mend); report, if not null,
	// is given each flaw as a finding, mended ones only with fixes_too, and
	// structure, if not null, each record that has all its digits.
	bool repair;
	bool fixes_too;
	void (*report)(void *context, const finding &found);
	void *report_context;
	file_structure *structure;
	// A repair in place writes only the blocks it mends in, and copy_input
	// puts what it leaves as it is, the input's bytes from one offset to
	// another, in the output after what it holds: the bytes before the first
	// mend, from 0, where it makes the output, and runs of blocks without a
	// mend (or nothing, between two blocks written). It returns the output,
	// or null: none is made (for the first), or the copy failed (errno).
	// Nothing more is written once a line needs a hand. Null when the
	// output, if any, is written from the start.
	std::FILE *(*copy_input)(void *context, std::uint64_t from, std::uint64_t to);
	void *context;
	// A file that is no text at all (see is_binary) is refused before
	// anything is written.
	bool refuse_binary;
	// Bytes to set, or null: a repair writes them over the digits of each
	// record the structure finds holding them (see hold_edited_records),
	// and their progress tells what came of them.
	edit_progress *edits;
};

// How many lines, and the first three of them, numbered from 1.
struct line_list {
	std::size_t count;
	std::size_t first[3];
};

struct stream_outcome {
	stream_result result;
	int error; // errno of a failed read or write, EINVAL for a block too small
	// The plain rewrite: lines that got invalid-digit messages, lines whose
	// checksum went where the count puts it though their length says
	// otherwise, and lines left as they are: their count too small for their
	// address and checksum, or records of the other format.
	line_list message_lines, disagreeing_lines, small_count_lines, other_format_lines;
	// A repair: checksums mended; flaws that keep a file from being replaced
	// (see needs_a_hand); flaws reported and left as they are.
	std::size_t mended, refused, left;
	std::size_t mended_by_type[10]; // of those mended, in records but data records
	std::size_t edited;             // records whose digits an edit changed

	std::size_t lines; // the last one without a line end too
	record_format format;
};

// Copies in to out line by line, out may be null for a repair, taking the
// fast paths of the level. The format of the records is chosen from the first
// read (see first_read_size and choose_format) and told to the structure. The plain rewrite
// recomputes the checksum of every record of a rewritten type and writes each line's invalid-digit
// messages just before it. Lines end at a line feed; a carriage return just before it belongs to
// the terminator, which is never decoded or moved. Memory stays bounded however long a line is. A
// UTF-8 byte-order mark at the start passes through; input that starts as UTF-16 text is refused
// before anything is written, and so is binary data where the settings say. Stops at the first
// failed read or write, and writes nothing after a failed write; on a read error nothing read since
// the last complete block is written.
stream_outcome rewrite_stream(std::FILE *in, std::FILE *out, const loop_settings &settings);
