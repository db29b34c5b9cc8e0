// Runs of data records of one shape, rewritten as twins of the one before.
#pragma once

#include <cstddef>

#include "record_checksum.hpp"
#include "simd_level.hpp"

// The records after one that rewrite_plain_record has just rewritten, of
// length bytes and ending just before text: as long as they are its twins
// (same mark, type, count and line end, every column up to the checksum an
// uppercase digit), takes them as action says (see rewrite_plain_record).
// Returns how many records it took: none where the next line is not a twin,
// or to be verified has a wrong checksum, and always none below the AVX2
// level. Never reads past end.
std::size_t rewrite_record_run(record_format format, char *text, const char *end,
                               std::size_t length, simd_level level, checksum_action action,
                               std::size_t &mended);
