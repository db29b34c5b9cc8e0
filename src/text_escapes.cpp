// Escapes for the output formats. Names come from the command line and may
// hold any byte; what is written must still parse.
#include "text_escapes.hpp"

#include <cstdio>

#include "findings.hpp"

namespace {

bool is_letter(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

std::size_t utf8_sequence(const char *text, std::size_t size)
{
	const auto c = static_cast<unsigned char>(text[0]);
	const std::size_t length = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
	// The second byte's range rules out overlong forms, surrogates and
	// code points past U+10FFFF.
	const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
	const unsigned high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
	if (length == 0 || length > size)
		return 0;
	for (std::size_t k = 1; k < length; ++k) {
		const auto next = static_cast<unsigned char>(text[k]);
		if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
			return 0;
	}
	return length;
}

std::string hex_byte(unsigned char byte, const char *pattern)
{
	char text[8];
	std::snprintf(text, sizeof text, pattern, byte);
	return text;
}

std::string json_string(const std::string &text)
{
	std::string quoted = "\"";
	for (std::size_t i = 0; i < text.size();) {
		const auto c = static_cast<unsigned char>(text[i]);
		const std::size_t length =
		    c < 0x80 ? 1 : utf8_sequence(text.data() + i, text.size() - i);
		if (c == '"' || c == '\\')
			quoted += std::string("\\") + text[i];
		else if (c < 0x20)
			quoted += hex_byte(c, "\\u%04x");
		else if (length == 0)
			quoted += "\\ufffd";
		else
			quoted.append(text, i, length);
		i += length != 0 ? length : 1;
	}
	return quoted + "\"";
}

std::string xml_text(const std::string &text)
{
	std::string escaped;
	for (std::size_t i = 0; i < text.size();) {
		const auto c = static_cast<unsigned char>(text[i]);
		const std::size_t length =
		    c < 0x80 ? 1 : utf8_sequence(text.data() + i, text.size() - i);
		if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'')
			escaped += c == '&'   ? "&amp;"
			           : c == '<' ? "&lt;"
			           : c == '>' ? "&gt;"
			           : c == '"' ? "&quot;"
			                      : "&apos;";
		else if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
			escaped += one_line(std::string(1, text[i]));
		// Not well-formed, or U+FFFE and U+FFFF, which XML has no place for.
		else if (length == 0 || (length == 3 && text.compare(i, 2, "\xEF\xBF") == 0 &&
		                         static_cast<unsigned char>(text[i + 2]) >= 0xBE))
			escaped += "\xEF\xBF\xBD";
		else
			escaped.append(text, i, length);
		i += length != 0 ? length : 1;
	}
	return escaped;
}

std::string uri_of(const std::string &path, bool drive_letters)
{
	const bool drive = drive_letters && path.size() > 2 && is_letter(path[0]) &&
	                   path[1] == ':' && (path[2] == '\\' || path[2] == '/');
	std::string uri;
	for (std::size_t i = 0; i < path.size(); ++i) {
		const char c = path[i];
		const bool unreserved = is_letter(c) || (c >= '0' && c <= '9') || c == '-' ||
		                        c == '.' || c == '_' || c == '~';
		if (c == '/' || (drive_letters && c == '\\'))
			uri += '/';
		else if (unreserved || (drive && i == 1))
			uri += c;
		else
			uri += hex_byte(static_cast<unsigned char>(c), "%%%02X");
	}
	while (uri.compare(0, 2, "./") == 0)
		uri.erase(0, 2);
	if (drive)
		return "file:///" + uri;
	if (!uri.empty() && uri[0] == '/')
		return "file://" + uri;
	return uri;
}
