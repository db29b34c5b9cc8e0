// What --set takes: ADDRESS=VALUE, read into the bytes it sets.
#pragma once

#include <cstdint>
#include <string>

#include "edits.hpp"

// Reads the bytes of a file named in a value (file:PATH) into bytes; false,
// with the reason in the system's words, if it cannot.
using file_reader = bool (*)(const std::string &path, std::string &bytes, std::string &reason);

// Reads ADDRESS=VALUE (see the manual page) into edit. False, with the
// reason in words, for anything it does not take, so that a typing slip is
// never taken for other bytes at another address: an address without 0x
// must be decimal without a leading 0, and a number must fit its width.
bool read_edit(const std::string &text, byte_edit &edit, std::string &reason,
               file_reader read_file);

// A number in hexadecimal after 0x or in decimal without a leading 0, up to
// limit; false for anything else or more.
bool read_number(const std::string &text, std::uint64_t limit, std::uint64_t &value);
