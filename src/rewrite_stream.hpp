// The read-rewrite-write loop: one input stream to one output stream.
#pragma once

#include <cstdio>

enum class stream_result { ok, read_failed, write_failed, utf16_text };

// Copies in to out line by line, every data record with its checksum
// recomputed and each line's invalid-digit messages written just before it.
// Lines end at a line feed; a carriage return just before it belongs to the
// terminator, which is never decoded or moved. Memory stays bounded however
// long a line is. A UTF-8 byte-order mark at the start passes through; input
// that starts as UTF-16 text is refused before anything is written. Stops at
// the first failed read or write, and writes nothing after a failed write;
// on a read error nothing read since the last complete block is written.
stream_result rewrite_stream(std::FILE *in, std::FILE *out);
