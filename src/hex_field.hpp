// Decoding of the hexadecimal fields of a record line.
#pragma once

#include <cstddef>
#include <string>

#include "simd_level.hpp"

// The value 0 to 15 of a hexadecimal digit of either case. Any other
// character counts as 0 and appends "invalid hex digit C\n" to messages,
// the character written raw, whatever it is.
int hex_digit_value(unsigned char c, std::string &messages);

// The value of the width digits from column on, most significant first.
// Columns at or past length lie outside the line's content: they count as
// the digit 0 and report nothing.
int read_hex_field(const char *line, std::size_t length, std::size_t column, std::size_t width,
                   std::string &messages);

// The sum modulo 256 of the count bytes written as 2 * count digits at text,
// or -1 when any of those characters is not a hexadecimal digit. This is the
// silent fast path; a caller that gets -1 decodes again with messages.
// Sixteen digits a step from the SSE2 level up, else by table.
int hex_byte_sum(const char *text, std::size_t count, simd_level level);
