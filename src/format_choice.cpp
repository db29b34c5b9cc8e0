// The format choice: a vote of the first lines that are records of either
// format, so that no comment, however it starts, decides it.
#include "format_choice.hpp"

#include <cstring>

#include "record_checksum.hpp"

format_choice choose_format(const char *text, std::size_t size, bool at_end)
{
	std::size_t votes[2] = {0, 0}, right[2] = {0, 0};
	std::size_t at = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
	while (at < size && votes[0] + votes[1] < format_votes) {
		const char *line = text + at;
		const auto *line_feed =
		    static_cast<const char *>(std::memchr(line, '\n', size - at));
		if (line_feed == nullptr && !at_end)
			break;
		std::size_t length =
		    line_feed != nullptr ? static_cast<std::size_t>(line_feed - line) : size - at;
		at += length + 1;
		if (length != 0 && line[length - 1] == '\r' && line_feed != nullptr)
			--length;
		for (const record_format format :
		     {record_format::intel_hex, record_format::s_record}) {
			const record_layout &layout = layout_of(format);
			if (length == 0 || line[0] != layout.mark)
				continue;
			const record_check check = check_record(layout, line, length);
			const auto i = static_cast<std::size_t>(format);
			votes[i] += has_record_form(layout, check);
			right[i] += has_record_form(layout, check) && check.kind == flaw::none;
		}
	}
	const bool s_records = votes[1] > votes[0] || (votes[1] == votes[0] && right[1] > right[0]);
	return {s_records ? record_format::s_record : record_format::intel_hex,
	        at_end || votes[0] + votes[1] == format_votes};
}
