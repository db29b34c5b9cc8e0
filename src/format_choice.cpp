// The format choice: a vote of the first lines that are records of either
// format, so that no comment, however it starts, decides it.
#include "format_choice.hpp"

#include <cstring>

#include "record_checksum.hpp"
#include "text_escapes.hpp"

namespace {

// Lines of a record's form of either format among the first of text: up to
// format_votes of them, and of them those whose checksum is right, by
// format.
struct form_count {
	std::size_t votes[2], right[2];
};

form_count count_record_forms(const char *text, std::size_t size, bool at_end)
{
	form_count c{{0, 0}, {0, 0}};
	std::size_t at = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
	while (at < size && c.votes[0] + c.votes[1] < format_votes) {
		const char *line = text + at;
		const auto *line_feed =
		    static_cast<const char *>(std::memchr(line, '\n', size - at));
		if (line_feed == nullptr && !at_end)
			return c;
		std::size_t length =
		    line_feed != nullptr ? static_cast<std::size_t>(line_feed - line) : size - at;
		at += length + 1;
		if (length != 0 && line[length - 1] == '\r' && line_feed != nullptr)
			--length;
		const record_format format = length != 0 && line[0] == s_record_layout.mark
		                                 ? record_format::s_record
		                                 : record_format::intel_hex;
		const record_layout &layout = layout_of(format);
		if (length == 0 || line[0] != layout.mark)
			continue;
		const record_check check = check_record(layout, line, length);
		const auto i = static_cast<std::size_t>(format);
		const bool form = has_record_form(layout, check);
		c.votes[i] += form;
		c.right[i] += form && check.kind == flaw::none;
	}
	return c;
}

} // namespace

format_choice choose_format(const char *text, std::size_t size, bool at_end)
{
	const form_count c = count_record_forms(text, size, at_end);
	const bool s_records =
	    c.votes[1] > c.votes[0] || (c.votes[1] == c.votes[0] && c.right[1] > c.right[0]);
	return {s_records ? record_format::s_record : record_format::intel_hex,
	        at_end || c.votes[0] + c.votes[1] == format_votes};
}

bool is_binary(const char *text, std::size_t size)
{
	size = size < binary_window ? size : binary_window;
	std::size_t other = 0;
	bool comment = false; // in a line that starts with ';'
	for (std::size_t i = 0; i < size; ++i) {
		const auto c = static_cast<unsigned char>(text[i]);
		comment =
		    c == '\n' ? false : comment || (c == ';' && (i == 0 || text[i - 1] == '\n'));
		// A comment in any script is text: a character of UTF-8 counts as
		// printable, as no executable is made of them, and so does any
		// byte of the top half in a comment line, in Latin-1 or a code page.
		const std::size_t character = c >= 0x80 ? utf8_sequence(text + i, size - i) : 0;
		if (character != 0)
			i += character - 1;
		else
			other += (c < ' ' || c > '~') && c != '\t' && c != '\n' && c != '\r' &&
			         !(comment && c >= 0x80);
	}
	if (other * 10 <= size)
		return false;
	const form_count c = count_record_forms(text, size, true);
	return c.votes[0] + c.votes[1] == 0;
}
