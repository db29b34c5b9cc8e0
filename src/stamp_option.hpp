// What --crc takes: ALGORITHM,range=...,at=...,order=..., read into a stamp.
#pragma once

#include <string>

#include "stamps.hpp"

// Reads the value of a --crc (see the manual page) into stamp. False, with
// the reason in words, for anything it does not take: a stored value wider
// than a byte without its byte order, a key given twice or not known, a
// custom CRC without every parameter.
bool read_stamp(const std::string &text, crc_stamp &stamp, std::string &reason);
