// The read-rewrite-write loop: one input stream to one output stream.
#pragma once

#include <cstdio>

enum class stream_result { ok, read_failed, write_failed };

// Copies in to out line by line, every data record with its checksum
// recomputed and each line's invalid-digit messages written just before it.
// Lines end at a line feed; a carriage return just before it belongs to the
// terminator, which is never decoded or moved. Memory stays bounded however
// long a line is. Stops at the first failed read or write; on a read error
// nothing read since the last complete block is written.
stream_result rewrite_stream(std::FILE *in, std::FILE *out);
