// The structure checks: what loaders refuse (counts that do not fit a
// record's type, no end record) and what they disagree on (addresses written
// twice, records after the end, record types of other tools, data that runs
// over a 64 KiB boundary, start addresses that differ).
#include "file_structure.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "record_checksum.hpp"

namespace {

constexpr const record_layout &intel = intel_hex_layout;
constexpr std::size_t count_column = intel.count_column, address_column = intel.address_column,
                      type_column = intel.type_column, data_column = ::data_column(intel, 0);
constexpr int data_type = 0, end_type = 1, segment_type = 2, segment_start_type = 3,
              linear_type = 4, linear_start_type = 5;

constexpr const record_layout &srec = s_record_layout;
constexpr int s_header_type = 0, s_last_data_type = 3, s_reserved_type = 4, s_count_type = 5,
              s_long_count_type = 6, s_first_end_type = 7;
constexpr std::uint64_t no_limit = std::numeric_limits<std::uint64_t>::max();

unsigned word_at(const char *line, std::size_t column)
{
	return byte_at(line, column) << 8 | byte_at(line, column + 2);
}

finding at(const file_structure &s, rule kind, std::size_t line, std::size_t column)
{
	finding found{};
	found.kind = kind;
	found.format = s.format;
	found.line = line;
	found.column = column;
	found.type = -1;
	return found;
}

void say(file_structure &s, const finding &found)
{
	s.report(s.context, found);
}

// Adds [from, to) to the ranges, joined with any it meets or touches, and
// returns the range that holds it.
std::map<std::uint64_t, std::uint64_t>::iterator
add_range(std::map<std::uint64_t, std::uint64_t> &ranges, std::uint64_t from, std::uint64_t to)
{
	auto it = ranges.upper_bound(from);
	if (it != ranges.begin() && std::prev(it)->second >= from)
		--it;
	while (it != ranges.end() && it->first <= to) {
		from = std::min(from, it->first);
		to = std::max(to, it->second);
		it = ranges.erase(it);
	}
	return ranges.emplace_hint(it, from, to);
}

// Any record that does not extend the run: the run goes back among the
// ranges, the record is looked for in them, and the range that takes it
// becomes the run.
[[gnu::noinline]] void write_elsewhere(file_structure &s, std::uint64_t from, std::uint64_t to,
                                       std::size_t line)
{
	auto &ranges = s.written;
	if (s.run_to > s.run_from)
		add_range(ranges, s.run_from, s.run_to);
	const auto next = ranges.lower_bound(to);
	const bool written_before = next != ranges.begin() && std::prev(next)->second > from;
	if (written_before && s.overlaps.size() < max_overlaps) {
		s.overlaps.push_back({line, from, to, 0, same_bytes::unknown, {}, {}, false});
	} else if (written_before && s.more_overlaps++ == 0) {
		s.first_more = line;
	}
	const auto run = add_range(ranges, from, to);
	s.run_from = run->first;
	s.run_to = run->second;
	const auto after = ranges.erase(run);
	s.run_limit = after == ranges.end() ? no_limit : after->first;
}

[[gnu::always_inline]] inline void note_range(file_structure &s, std::uint64_t from,
                                              std::uint64_t to, std::size_t line)
{
	if (from == s.run_to && to <= s.run_limit)
		s.run_to = to;
	else
		write_elsewhere(s, from, to, line);
}

// A data record that holds edited bytes is kept for the loop to edit, and
// its wanted bytes go into the image; the run has moved, so the next edited
// and wanted addresses are found from its end.
[[gnu::noinline]] void note_held(file_structure &s, const held_record &held)
{
	const std::uint64_t to = held.from + held.count;
	std::uint64_t limit = no_limit;
	if (s.edits != nullptr && next_edited(*s.edits, held.from) < to)
		s.held.push_back(held);
	if (s.edits != nullptr)
		limit = next_edited(*s.edits, s.run_to);
	if (s.image != nullptr && wanted_by(*s.image, held))
		take_record(*s.image, held);
	if (s.image != nullptr)
		limit = std::min(limit, next_wanted(*s.image, s.run_to));
	s.edit_limit = limit;
}

[[gnu::always_inline]] inline void note_data(file_structure &s, unsigned count, unsigned offset,
                                             const char *text, std::size_t line)
{
	s.last_is_empty_data = count == 0;
	if (count == 0)
		return;
	if (offset + count > 0x10000) {
		finding found = at(s, rule::crosses_64k, line, address_column + 1);
		found.from = s.base + offset;
		found.to = found.from + count;
		say(s, found);
	}
	note_range(s, s.base + offset, s.base + offset + count, line);
	if (s.edits != nullptr || s.image != nullptr)
		note_held(s, {text, line, s.base + offset, count, data_column, s.base + 0x10000,
		              s.doubtful_base});
}

// The records after the first end record: the first of them is said, and
// whether it is an end record too.
void note_after_end(file_structure &s, bool second, std::size_t line)
{
	if (s.said_after_end)
		return;
	finding found = at(s, rule::after_end, line, 1);
	found.other_line = s.end_line;
	found.second = second;
	s.said_after_end = true;
	say(s, found);
}

bool count_fits(int type, unsigned count)
{
	switch (type) {
	case end_type:
		return count == 0;
	case segment_type:
	case linear_type:
		return count == 2;
	case segment_start_type:
	case linear_start_type:
		return count == 4;
	}
	return true;
}

// An address record of the right count sets the base of the data records
// after it, each kind replacing the other, as most loaders do.
bool sets_base(const char *line, int type, unsigned count, std::uint64_t &base)
{
	if ((type != segment_type && type != linear_type) || count != 2)
		return false;
	base = type == segment_type ? std::uint64_t{word_at(line, data_column)} << 4
	                            : std::uint64_t{word_at(line, data_column)} << 16;
	return true;
}

void note_start(file_structure &s, int type, const char *line, std::size_t line_number)
{
	const std::uint32_t value =
	    word_at(line, data_column) << 16 | word_at(line, data_column + 4);
	if (s.start_type < 0) {
		s.start_type = type;
		s.start_value = value;
		s.start_line = line_number;
	} else if (type != s.start_type || value != s.start_value) {
		finding found = at(s, rule::start_conflict, line_number, data_column + 1);
		found.other_line = s.start_line;
		say(s, found);
	}
}

} // namespace

void begin_structure(file_structure &s, void (*report)(void *, const finding &), void *context)
{
	s = file_structure{};
	s.report = report;
	s.context = context;
	s.start_type = -1;
	s.run_limit = no_limit;
	s.counted = std::numeric_limits<std::size_t>::max(); // none yet
	s.edit_limit = no_limit;
}

void hold_edited_records(file_structure &s, const edit_plan &plan)
{
	s.edits = &plan;
	s.edit_limit = next_edited(plan, s.run_to);
}

void keep_image(file_structure &s, image_bytes &image)
{
	s.image = &image;
	s.edit_limit = std::min(s.edit_limit, next_wanted(image, s.run_to));
}

namespace {

void note_intel_record(file_structure &s, const char *line, std::size_t line_number)
{
	const unsigned count = byte_at(line, count_column);
	const int type = static_cast<int>(byte_at(line, type_column));
	if (s.end_line != 0)
		return note_after_end(s, type == end_type, line_number);
	if (type == data_type)
		return note_data(s, count, word_at(line, address_column), line, line_number);
	s.last_is_empty_data = false;
	if (type == end_type)
		s.end_line = line_number;
	if (!count_fits(type, count) && (type == segment_type || type == linear_type))
		s.doubtful_base = line_number;
	if (s.doubtful_base == line_number && s.image != nullptr)
		doubt_base(*s.image, line_number);
	if (!count_fits(type, count)) {
		finding found = at(s, rule::count_for_type, line_number, count_column + 1);
		found.type = type;
		found.found = count;
		found.right = type == end_type                              ? 0
		              : type == segment_type || type == linear_type ? 2
		                                                            : 4;
		return say(s, found);
	}
	if (type > linear_start_type) {
		finding found = at(s, rule::unknown_type, line_number, type_column + 1);
		found.type = type;
		return say(s, found);
	}
	if (sets_base(line, type, count, s.base))
		s.doubtful_base = 0;
	if (type == segment_start_type || type == linear_start_type)
		note_start(s, type, line, line_number);
}

// The value of four hexadecimal digits, all at once: each character's low
// four bits, plus 9 for a letter (the only ones with the 0x40 bit), are its
// digit, and a little-endian load has them in column order.
[[gnu::always_inline]] inline unsigned four_digits(const char *text)
{
	std::uint32_t chars;
	std::memcpy(&chars, text, sizeof chars);
	const std::uint32_t digits = (chars & 0x0F0F0F0Fu) + ((chars >> 6) & 0x01010101u) * 9;
	const std::uint32_t pairs = ((digits << 4) | (digits >> 8)) & 0x00FF00FFu;
	return (pairs & 0xFF) << 8 | pairs >> 16;
}

// Two characters as one number, to tell a count from the one before.
[[gnu::always_inline]] inline std::uint16_t two_characters(const char *text)
{
	std::uint16_t chars;
	std::memcpy(&chars, text, sizeof chars);
	return chars;
}

// The address field of an S-record of the type, of two to four bytes.
[[gnu::always_inline]] inline std::uint64_t s_address(const char *line, int type)
{
	const std::size_t bytes = address_bytes(srec, type);
	const char *field = line + srec.address_column;
	const std::uint64_t high = four_digits(field);
	return bytes == 2   ? high
	       : bytes == 3 ? high << 8 | byte_at(field, 4)
	                    : high << 16 | four_digits(field + 4);
}

// The data bytes of an S-record of the type: its count covers the address
// and the checksum too.
unsigned s_data_bytes(const char *line, int type)
{
	return byte_at(line, srec.count_column) - static_cast<unsigned>(smallest_count(srec, type));
}

// An S5 or S6 record: how many data records came before it.
void note_count(file_structure &s, int type, const char *line, std::size_t line_number)
{
	const std::uint64_t said = s_address(line, type);
	if (said == s.data_records) {
		s.counted = s.data_records;
		return;
	}
	finding found = at(s, rule::record_count, line_number, srec.address_column + 1);
	found.type = type;
	found.found = static_cast<unsigned>(said);
	found.right = static_cast<unsigned>(s.data_records);
	say(s, found);
}

// S7, S8 and S9 go with S3, S2 and S1 data records: the termination's
// start address as wide as theirs, unless it is 0, no start address at all
// (CodeWarrior ends every file with S9030000FC).
void note_termination(file_structure &s, int type, const char *line, std::size_t line_number)
{
	s.end_line = line_number;
	if (s.widest_data_type == 0 || type == 10 - s.widest_data_type ||
	    s_address(line, type) == 0)
		return;
	finding found = at(s, rule::termination_width, line_number, srec.type_column + 1);
	found.type = type;
	found.right = static_cast<unsigned>(s.widest_data_type);
	say(s, found);
}

[[gnu::always_inline]] inline void note_s_record(file_structure &s, const char *line,
                                                 std::size_t line_number)
{
	const int type = line[srec.type_column] - '0';
	if (s.end_line != 0)
		return note_after_end(s, type >= s_first_end_type, line_number);
	if (type > s_header_type && type <= s_last_data_type) {
		++s.data_records;
		s.widest_data_type = std::max(s.widest_data_type, type);
		const unsigned data = s_data_bytes(line, type);
		const std::uint64_t from = s_address(line, type);
		if (data != 0)
			note_range(s, from, from + data, line_number);
		if (data != 0 && (s.edits != nullptr || s.image != nullptr))
			note_held(s, {line, line_number, from, data, ::data_column(srec, type),
			              no_limit, 0});
	} else if (type == s_reserved_type) {
		say(s, at(s, rule::reserved_type, line_number, srec.type_column + 1));
	} else if (type == s_count_type || type == s_long_count_type) {
		note_count(s, type, line, line_number);
	} else if (type >= s_first_end_type) {
		note_termination(s, type, line, line_number);
	}
}

// Each record is guessed to be as long as the one before, of the same
// count: the guess, when it holds, lets the processor start on the next
// record before this one is decoded. The end of the run stays in a register
// while records extend it, the common case; anything else takes the
// general path.
void note_intel_data_records(file_structure &s, const char *text, const char *end,
                             std::size_t first_line)
{
	if (text >= end)
		return;
	if (s.end_line != 0) // only the first record after the end is said
		return note_after_end(s, false, first_line);
	std::uint16_t count_text = 0; // no count reads as two NULs
	unsigned count = 0;
	std::size_t length = 0;
	std::uint64_t run_to = s.run_to, limit = std::min(s.run_limit, s.edit_limit);
	for (std::size_t line = first_line; text < end; ++line, text += length) {
		if (two_characters(text + count_column) != count_text ||
		    length > static_cast<std::size_t>(end - text) || text[length - 1] != '\n') {
			count_text = two_characters(text + count_column);
			count = byte_at(text, count_column);
			length = checksum_column(intel, count) + 2;
			length += text[length] == '\r' ? 2 : 1;
		}
		const unsigned offset = four_digits(text + address_column);
		if (s.base + offset == run_to && run_to + count <= limit &&
		    offset + count <= 0x10000 && count != 0) {
			run_to += count;
			continue;
		}
		s.run_to = run_to;
		note_data(s, count, offset, text, line);
		run_to = s.run_to;
		limit = std::min(s.run_limit, s.edit_limit);
	}
	s.run_to = run_to;
	s.last_is_empty_data = count == 0;
}

// As for Intel HEX: each record is guessed to be as long as the one before
// when it starts with the same mark, type and count, and a data record that
// extends the run of addresses does so in a register.
void note_s_records(file_structure &s, const char *text, const char *end, std::size_t first_line)
{
	std::uint32_t head = 0; // no head reads as four NULs
	int type = 0;
	unsigned data = 0;
	std::size_t length = 0;
	std::uint64_t run_to = s.run_to, limit = std::min(s.run_limit, s.edit_limit);
	for (std::size_t line = first_line; text < end; ++line, text += length) {
		std::uint32_t this_head;
		std::memcpy(&this_head, text, sizeof this_head);
		if (this_head != head || length > static_cast<std::size_t>(end - text) ||
		    text[length - 1] != '\n') {
			head = this_head;
			type = text[srec.type_column] - '0';
			const unsigned count = byte_at(text, srec.count_column);
			data = count - static_cast<unsigned>(smallest_count(srec, type));
			length = checksum_column(srec, count) + 2;
			length += text[length] == '\r' ? 2 : 1;
		}
		if (s.end_line == 0 && type > s_header_type && type <= s_last_data_type) {
			const std::uint64_t from = s_address(text, type);
			if (from == run_to && from + data <= limit && data != 0 &&
			    type <= s.widest_data_type) {
				run_to += data;
				++s.data_records;
				continue;
			}
		}
		s.run_to = run_to;
		note_s_record(s, text, line);
		run_to = s.run_to;
		limit = std::min(s.run_limit, s.edit_limit);
	}
	s.run_to = run_to;
}

} // namespace

void note_record(file_structure &s, const char *line, std::size_t line_number)
{
	if (s.format == record_format::s_record)
		note_s_record(s, line, line_number);
	else
		note_intel_record(s, line, line_number);
}

void note_data_records(file_structure &s, const char *text, const char *end, std::size_t first_line)
{
	if (s.format == record_format::intel_hex)
		note_intel_data_records(s, text, end, first_line);
	else
		note_s_records(s, text, end, first_line);
}

namespace {

// The overlaps whose addresses [from, to) meets, for each record read
// again: they are sorted by where they start, and none is longer than 255.
void compare_record(std::vector<overlap> &overlaps, const char *line, std::size_t data_at,
                    std::uint64_t from, unsigned count, std::size_t line_number)
{
	const std::uint64_t to = from + count;
	auto it = std::lower_bound(overlaps.begin(), overlaps.end(), from < 255 ? 0 : from - 255,
	                           [](const overlap &o, std::uint64_t a) { return o.from < a; });
	for (; it != overlaps.end() && it->from < to; ++it) {
		overlap &o = *it;
		o.read_again =
		    o.read_again || (line_number == o.line && o.from == from && o.to == to);
		if (o.to <= from || line_number > o.line)
			continue;
		for (std::uint64_t a = std::max(from, o.from); a < std::min(to, o.to); ++a) {
			const unsigned byte =
			    byte_at(line, data_at + 2 * static_cast<std::size_t>(a - from));
			const auto i = static_cast<std::size_t>(a - o.from);
			if (line_number < o.line) {
				o.bytes[i] = static_cast<unsigned char>(byte);
				o.known[i] = true;
				o.other_line = line_number;
			} else if (o.known[i]) {
				o.same = o.same == same_bytes::no || o.bytes[i] != byte
				             ? same_bytes::no
				             : same_bytes::yes;
			}
		}
	}
}

// Reads in again from its start, the records as the first reading took
// them (see note_record), up to the last overlap.
void compare_overlaps(file_structure &s, std::FILE *in)
{
	std::vector<overlap> &overlaps = s.overlaps;
	std::stable_sort(overlaps.begin(), overlaps.end(),
	                 [](const overlap &a, const overlap &b) { return a.from < b.from; });
	std::size_t last = 0;
	for (const overlap &o : overlaps)
		last = std::max(last, o.line);
	// A record's every column, and the characters after them that the
	// first reading saw; the rest of a longer line is passed over.
	char line[record_columns + 8];
	std::uint64_t base = 0;
	for (std::size_t number = 1; number <= last; ++number) {
		if (std::fgets(line, sizeof line, in) == nullptr)
			break;
		std::size_t length = std::strlen(line);
		const bool whole = length != 0 && line[length - 1] == '\n';
		for (int c = whole ? '\n' : 0; c != '\n' && c != EOF;)
			c = std::getc(in);
		length -= whole;
		if (whole && length != 0 && line[length - 1] == '\r')
			--length;
		char *start =
		    number == 1 && std::strncmp(line, "\xEF\xBB\xBF", 3) == 0 ? line + 3 : line;
		length -= static_cast<std::size_t>(start - line);
		const record_check check = check_record(layout_of(s.format), start, length);
		if (!usable_record(check))
			continue;
		const int type = check.type;
		if (s.format == record_format::s_record) {
			if (type >= s_first_end_type)
				break;
			if (type > s_header_type && type <= s_last_data_type)
				compare_record(overlaps, start, ::data_column(srec, type),
				               s_address(start, type), s_data_bytes(start, type),
				               number);
			continue;
		}
		const unsigned count = byte_at(start, count_column);
		if (type == end_type)
			break;
		if (type == data_type)
			compare_record(overlaps, start, data_column,
			               base + word_at(start, address_column), count, number);
		sets_base(start, type, count, base);
	}
	std::stable_sort(overlaps.begin(), overlaps.end(),
	                 [](const overlap &a, const overlap &b) { return a.line < b.line; });
}

// Where an overlap is said: the address's first digit.
std::size_t address_column_of(const file_structure &s)
{
	return layout_of(s.format).address_column + 1;
}

} // namespace

void end_structure(file_structure &s, std::size_t lines, std::FILE *in)
{
	const bool read_again =
	    !s.overlaps.empty() && in != nullptr && std::fseek(in, 0, SEEK_SET) == 0;
	if (read_again)
		compare_overlaps(s, in);
	// What the second reading found is of no use unless it found every
	// overlap where the first did.
	const bool changed =
	    read_again && std::any_of(s.overlaps.begin(), s.overlaps.end(),
	                              [](const overlap &o) { return !o.read_again; });
	for (const overlap &o : s.overlaps) {
		finding found = at(s, rule::overlap, o.line, address_column_of(s));
		found.from = o.from;
		found.to = o.to;
		found.other_line = changed ? 0 : o.other_line;
		found.same = changed             ? same_bytes::file_changed
		             : o.other_line == 0 ? same_bytes::unknown
		                                 : o.same;
		say(s, found);
	}
	if (s.more_overlaps != 0) {
		finding found = at(s, rule::more_overlaps, s.first_more, address_column_of(s));
		found.count = s.more_overlaps;
		say(s, found);
	}
	const std::size_t last_line = std::max<std::size_t>(lines, 1);
	// A count of every data record at the end proves the file whole, as a
	// termination record does: SRecord ends so a file without a start
	// address.
	if (s.format == record_format::s_record && s.end_line == 0 && s.counted != s.data_records)
		say(s, at(s, rule::no_termination, last_line, 1));
	else if (s.format == record_format::intel_hex && s.end_line == 0 && !s.last_is_empty_data)
		say(s, at(s, rule::no_end_record, last_line, 1));
}

bool holds_data(const file_structure &s, std::uint64_t from, std::uint64_t to)
{
	if (s.run_to > s.run_from && s.run_from < to && from < s.run_to)
		return true;
	const auto after = s.written.lower_bound(to);
	return after != s.written.begin() && std::prev(after)->second > from;
}

std::string data_near(const file_structure &s, std::uint64_t address)
{
	std::map<std::uint64_t, std::uint64_t> ranges = s.written;
	if (s.run_to > s.run_from)
		add_range(ranges, s.run_from, s.run_to);
	if (ranges.empty())
		return "it holds no data";
	// The ranges on either side of the address; the nearer is said.
	const auto above = ranges.upper_bound(address);
	const bool has_below = above != ranges.begin();
	const auto below = has_below ? std::prev(above) : ranges.end();
	const bool say_below =
	    has_below &&
	    (above == ranges.end() || address - (below->second - 1) <= above->first - address);
	if (say_below)
		return std::string(above == ranges.end()
		                       ? "its data ends at "
		                       : "the nearest of its data, below it, ends at ") +
		       address_text(below->second - 1);
	return std::string(has_below ? "the nearest of its data, above it, starts at "
	                             : "its data starts at ") +
	       address_text(above->first);
}
