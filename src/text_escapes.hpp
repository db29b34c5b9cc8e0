// Text made safe for the formats findings are written in: JSON strings,
// XML text, URI references, names on one line.
#pragma once

#include <string>

// A JSON string, quoted; a byte that is not part of well-formed UTF-8, as a
// name may have, becomes U+FFFD, so that the document stays valid.
std::string json_string(const std::string &text);

// Text for XML, inside an element or an attribute's quotes: the five
// markup characters as entities, a byte that is not well-formed UTF-8 as
// U+FFFD, and the control characters XML 1.0 has no place for as \x1b.
std::string xml_text(const std::string &text);

// A path as a URI reference: relative ones stay relative, absolute ones
// become file URIs; every byte but the unreserved characters and the
// separator percent-encoded. With drive_letters, as on Windows, a backslash
// separates too and "C:\" starts an absolute path.
std::string uri_of(const std::string &path, bool drive_letters);

// The length of the well-formed UTF-8 sequence of more than one byte that
// text starts with, or 0.
std::size_t utf8_sequence(const char *text, std::size_t size);

// Two bytes' worth of a pattern such as "%%%02X", for one byte.
std::string hex_byte(unsigned char byte, const char *pattern);
