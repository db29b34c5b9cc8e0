// The read-rewrite-write loop: one input stream to one output stream.
#pragma once

#include <cstddef>
#include <cstdio>

#include "record_checksum.hpp"
#include "simd_level.hpp"

// The tool's read block. Records cost little next to the copies to and from
// the kernel, and blocks as large as a plain copy's (dd bs=1M) write to a
// file fastest.
constexpr std::size_t default_block_size = std::size_t{1} << 20;

// The loop needs room in a block for the head of the longest record, every
// column a rewrite reads or writes, and one byte more.
constexpr std::size_t smallest_block_size = record_columns + 2;

enum class stream_result { ok, read_failed, write_failed, utf16_text, block_too_small };

struct stream_outcome {
	stream_result result;
	int error; // errno of a failed read or write, EINVAL for a block too small
};

// Copies in to out line by line, every data record with its checksum
// recomputed and each line's invalid-digit messages written just before it,
// reading block_size bytes at a time into block and taking the fast paths of
// level. block holds block_size + 2 bytes, whatever they are: the two past a
// full block lend room to the checksum digits a last line without a line
// end may lack.
// Lines end at a line feed; a carriage return just before it belongs to the
// terminator, which is never decoded or moved. Memory stays bounded however
// long a line is. A UTF-8 byte-order mark at the start passes through; input
// that starts as UTF-16 text is refused before anything is written. Stops at
// the first failed read or write, and writes nothing after a failed write;
// on a read error nothing read since the last complete block is written.
stream_outcome rewrite_stream(std::FILE *in, std::FILE *out, simd_level level, char *block,
                              std::size_t block_size);
