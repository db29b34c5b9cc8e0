// The read-rewrite-write loop. The input is read in large blocks, records
// are rewritten in place inside the block, and the block goes out in as few
// writes as its messages and added checksum digits allow.
#include "rewrite_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "record_run.hpp"

namespace {

// Once this many bytes of a line have gone by without a line feed, its
// content covers every column a rewrite reads or writes and the two after
// them, which tell whether digits follow a checksum (only the last of them
// could still be a carriage return of the terminator), so the line's head
// can be rewritten at once and the rest of it passed through.
constexpr std::size_t decode_window = record_columns + 3;
static_assert(smallest_block_size > decode_window, "a block must hold a line's head and more");

// See put_off.
constexpr std::uint64_t copy_blocks = 16;

// Each page of the block costs a fault the first time it is filled, as much
// as the records in it: the reads fill first_read_size of it until a file
// has shown itself larger than firmware files are, then the whole block,
// which a large file is written fastest in.
constexpr std::uint64_t small_file_size = std::uint64_t{4} << 20;

// Pieces shorter than this, the text between lines that have messages and
// the messages themselves, are gathered and written together: the output
// stream may be unbuffered, and a write call per message line is slow.
constexpr std::size_t gather_size = std::size_t{1} << 16;

struct loop_state {
	std::FILE *out; // or null: nothing is written
	const loop_settings &settings;
	stream_outcome found;
	const char *pending;       // first byte of the block not yet written
	std::uint64_t block_start; // where the block starts in the input
	std::size_t lines;         // complete lines before the one at hand
	bool in_long_line;         // the current line's head is done; the rest passes through
	// In place, what is left as it is from copy_from on goes to the output
	// in one copy, put off until something comes after it; the first,
	// from 0, makes the output.
	bool copying;
	std::uint64_t copy_from;
	std::string messages;
	std::string gathered; // written, in order, before anything that follows
};

// After the first failed write nothing more goes out, so what was written
// is always a clean prefix of the output, never the output with a hole in it.
void write_now(loop_state &s, const char *bytes, std::size_t size)
{
	if (s.out != nullptr && s.found.error == 0 && size != 0 &&
	    std::fwrite(bytes, 1, size, s.out) != size)
		s.found.error = errno != 0 ? errno : EIO;
}

void write_gathered(loop_state &s)
{
	write_now(s, s.gathered.data(), s.gathered.size());
	s.gathered.clear();
}

void write_bytes(loop_state &s, const char *bytes, std::size_t size)
{
	if (s.gathered.size() + size > gather_size)
		write_gathered(s);
	if (size >= gather_size)
		write_now(s, bytes, size);
	else
		s.gathered.append(bytes, size);
}

void write_pending(loop_state &s, const char *to)
{
	write_bytes(s, s.pending, static_cast<std::size_t>(to - s.pending));
	s.pending = to;
}

// The two bytes after a line's content (its terminator, the next line, or
// the slack at the end of the buffer) lend room to the checksum digits a
// record may lack: the line grown into them is written at once and those
// bytes, saved in after, put back, to be written after it.
void write_grown_line(loop_state &s, char *line, std::size_t length, std::size_t grown,
                      const char *after)
{
	if (grown > length) {
		write_pending(s, line + grown);
		std::memcpy(line + length, after, 2);
		s.pending = line + length;
	}
}

void add_line(line_list &list, std::size_t line)
{
	if (list.count < 3)
		list.first[list.count] = line;
	++list.count;
}

// The layout of the file's format, chosen on its first block.
const record_layout &layout(const loop_state &s)
{
	return layout_of(s.found.format);
}

// The plain rewrite of one line, its messages written just before it.
void rewrite_line(loop_state &s, char *line, std::size_t length)
{
	const char after[2] = {line[length], line[length + 1]};
	line_trouble trouble = line_trouble::none;
	s.messages.clear();
	std::size_t rewritten = rewrite_record_line(layout(s), line, length, s.messages, trouble);
	if (!s.messages.empty()) {
		write_pending(s, line);
		write_bytes(s, s.messages.data(), s.messages.size());
		add_line(s.found.message_lines, s.lines + 1);
	}
	if (trouble == line_trouble::length_disagrees)
		add_line(s.found.disagreeing_lines, s.lines + 1);
	else if (trouble == line_trouble::count_too_small)
		add_line(s.found.small_count_lines, s.lines + 1);
	else if (trouble == line_trouble::other_format)
		add_line(s.found.other_format_lines, s.lines + 1);
	write_grown_line(s, line, length, rewritten, after);
}

// The findings of a checked line: each bad digit, or its one flaw, at the
// column of its field, counted from 1 as editors do.
void report(loop_state &s, const char *line, std::size_t length, const record_check &check)
{
	finding found{};
	found.format = s.found.format;
	found.line = s.lines + 1;
	found.type = check.type;
	found.found = check.found;
	found.right = check.right;
	found.count = check.digits;
	found.text = line;
	found.length = length;
	const std::size_t end = check.digits_end;
	switch (check.kind) {
	case flaw::bad_digit:
		found.kind = rule::bad_digit;
		for (std::size_t c = check.column; c < end; c = next_bad_digit(line, c + 1, end)) {
			found.column = c + 1;
			found.character = static_cast<unsigned char>(line[c]);
			s.settings.report(s.settings.report_context, found);
		}
		return;
	case flaw::not_a_record:
		found.kind = rule::not_a_record;
		found.column = 1;
		found.other_format = check.other_format;
		break;
	case flaw::digits_missing:
		found.kind = rule::digits_missing;
		found.column = length + 1;
		break;
	case flaw::count_too_small:
		found.kind = rule::count_too_small;
		found.column = check.column + 1;
		found.found = byte_at(line, check.column);
		break;
	case flaw::checksum_missing:
		found.kind = rule::checksum_missing;
		found.column = length + 1;
		break;
	case flaw::digits_extra:
		found.kind = rule::digits_extra;
		found.column = end + 1;
		break;
	default:
		found.kind = rule::checksum_wrong;
		found.column = end - 1;
		break;
	}
	s.settings.report(s.settings.report_context, found);
}

std::uint64_t offset_of(const loop_state &s, const char *at)
{
	return s.block_start + static_cast<std::uint64_t>(at - s.settings.block);
}

// The copy put off, up to to: what the output lacks of the input before it.
void copy_input(loop_state &s, const char *to)
{
	std::FILE *const out = s.out;
	if (!s.copying || s.found.error != 0) // after a failed write, nothing
		return;
	s.copying = false;
	s.out = s.settings.copy_input(s.settings.context, s.copy_from, offset_of(s, to));
	if (s.out == nullptr && out != nullptr && s.found.error == 0)
		s.found.error = errno != 0 ? errno : EIO;
	s.pending = to;
}

// Before anything is written after it.
void flush_copy(loop_state &s)
{
	if (s.out != nullptr)
		copy_input(s, s.pending);
}

// In place, a block without a mend is put off, to be copied with the next
// ones, up to copy_blocks at a time, so that the disk writes the new file
// while the rest is read; and after a block written, the next copy starts,
// of nothing if the next block is written too: each copy tells the output
// that it holds all before it.
void put_off(loop_state &s, const char *to)
{
	if (!s.copying)
		s.copy_from = offset_of(s, s.pending);
	s.copying = true;
	s.pending = to;
	if (offset_of(s, to) - s.copy_from >= copy_blocks * s.settings.block_size)
		copy_input(s, to);
}

// The records the structure found holding edited bytes, in the block,
// edited; the first to change, in place, makes the output, as a mend does.
void edit_held_records(loop_state &s)
{
	std::vector<held_record> &held = s.settings.structure->held;
	for (const held_record &record : held) {
		char *line = s.settings.block + (record.line - s.settings.block);
		if (!edit_record(layout(s), line, record, *s.settings.edits))
			continue;
		if (s.out == nullptr)
			copy_input(s, line);
		++s.found.edited;
	}
	held.clear();
}

// A checked line's flaw: its checksum mended where it can be, else counted.
void mend_line(loop_state &s, char *line, std::size_t length, const record_check &check)
{
	if (check.kind == flaw::none)
		return;
	const bool mend = can_mend(check);
	if (s.settings.report != nullptr && (s.settings.fixes_too || !mend))
		report(s, line, length, check);
	if (mend) {
		if (s.out == nullptr)
			copy_input(s, line); // the first mend
		++s.found.mended;
		if (!check.rewritten)
			++s.found.mended_by_type[check.type];
		mend_record(layout(s), line, check);
	} else if (needs_a_hand(check)) {
		++s.found.refused;
		if (s.settings.copy_input != nullptr) {
			// The file stays as it is: what is left to write is of no use.
			s.copying = false;
			s.out = nullptr;
		}
	} else {
		++s.found.left;
	}
}

// Checks one line and mends its checksum where it can (see check_record),
// then sets the bytes it holds that are to be edited.
void repair_line(loop_state &s, char *line, std::size_t length)
{
	const record_check check = check_record(layout(s), line, length);
	if (s.settings.structure != nullptr && usable_record(check))
		note_record(*s.settings.structure, line, s.lines + 1);
	mend_line(s, line, length, check);
	if (s.settings.edits != nullptr)
		edit_held_records(s);
}

void take_line(loop_state &s, char *line, std::size_t length)
{
	if (s.settings.repair)
		repair_line(s, line, length);
	else
		rewrite_line(s, line, length);
}

char *find_line_feed(char *p, char *end)
{
	return static_cast<char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
}

// Takes the well-formed records from p on that are rewritten, as many as
// there are in a row, counts them in lines (and those mended) and returns
// where the first other line starts. The level and the format are fixed at
// compile time and the calls built into the loop, so that the constants of
// the vector steps stay in registers from one record to the next: taken at
// run time, the level cost 3 % more instructions a record on the table and
// 14 % on SSE2.
template <simd_level level, record_format format, checksum_action action>
[[gnu::flatten]] char *take_plain_records(char *p, char *end, std::size_t &lines,
                                          std::size_t &mended)
{
	// Not lines and mended themselves: every byte written might be one of them.
	std::size_t records = 0, records_mended = 0;
	for (;;) {
		std::size_t plain = rewrite_plain_record<format, action>(
		    p, static_cast<std::size_t>(end - p), level, records_mended);
		if (plain == 0)
			break;
		p += plain;
		const std::size_t twins =
		    rewrite_record_run(format, p, end, plain, level, action, records_mended);
		p += twins * plain;
		records += 1 + twins;
	}
	lines += records;
	mended += records_mended;
	return p;
}

template <record_format format, checksum_action action>
char *take_plain_records(simd_level level, char *p, char *end, std::size_t &lines,
                         std::size_t &mended)
{
	switch (level) {
	case simd_level::table:
		return take_plain_records<simd_level::table, format, action>(p, end, lines, mended);
	case simd_level::sse2:
		return take_plain_records<simd_level::sse2, format, action>(p, end, lines, mended);
	case simd_level::avx2:
		break;
	}
	return take_plain_records<simd_level::avx2, format, action>(p, end, lines, mended);
}

template <checksum_action action>
char *take_plain_records(record_format format, simd_level level, char *p, char *end,
                         std::size_t &lines, std::size_t &mended)
{
	return format == record_format::s_record
	           ? take_plain_records<record_format::s_record, action>(level, p, end, lines,
	                                                                 mended)
	           : take_plain_records<record_format::intel_hex, action>(level, p, end, lines,
	                                                                  mended);
}

// A repair needs the line of each fix that it reports, and of the first
// one in place, where the output starts: until then its fast paths only
// verify, and every record they leave goes through the exact path.
char *take_plain_records(loop_state &s, char *p, char *end)
{
	const simd_level level = s.settings.level;
	const record_format format = s.found.format;
	std::size_t &mended = s.found.mended;
	if (!s.settings.repair)
		return take_plain_records<checksum_action::rewrite>(format, level, p, end, s.lines,
		                                                    mended);
	const std::size_t first_line = s.lines + 1;
	char *const taken =
	    s.settings.fixes_too || s.out == nullptr
	        ? take_plain_records<checksum_action::verify>(format, level, p, end, s.lines,
	                                                      mended)
	        : take_plain_records<checksum_action::mend>(format, level, p, end, s.lines, mended);
	if (s.settings.structure != nullptr)
		note_data_records(*s.settings.structure, p, taken, first_line);
	if (s.settings.edits != nullptr)
		edit_held_records(s);
	return taken;
}

// Rewrites the complete lines in [p, end), and the head of a line too long
// to wait for its end. Returns where the unfinished line that is left starts.
char *rewrite_lines(loop_state &s, char *p, char *end)
{
	if (s.in_long_line) {
		char *lf = find_line_feed(p, end);
		if (lf == nullptr)
			return end;
		s.in_long_line = false;
		++s.lines;
		p = lf + 1;
	}
	for (;;) {
		p = take_plain_records(s, p, end);
		char *lf = find_line_feed(p, end);
		if (lf == nullptr)
			break;
		char *content_end = lf > p && lf[-1] == '\r' ? lf - 1 : lf;
		take_line(s, p, static_cast<std::size_t>(content_end - p));
		++s.lines;
		p = lf + 1;
	}
	if (static_cast<std::size_t>(end - p) >= decode_window) {
		take_line(s, p, static_cast<std::size_t>(end - p));
		s.in_long_line = true;
		return end;
	}
	return p;
}

bool starts_with(const char *bytes, std::size_t size, const char *prefix)
{
	std::size_t length = std::strlen(prefix);
	return size >= length && std::memcmp(bytes, prefix, length) == 0;
}

// A UTF-8 byte-order mark, as Windows editors may write it, is passed through
// and the first line counted from the byte after it. UTF-16 text cannot be
// edited byte by byte as records at all: nothing of it is written.
// fread fills the whole first block unless the input is shorter, so the
// mark is there in full if the file has it.
char *skip_byte_order_mark(char *start, std::size_t size)
{
	return starts_with(start, size, "\xEF\xBB\xBF") ? start + 3 : start;
}

bool is_utf16(const char *start, std::size_t size)
{
	return starts_with(start, size, "\xFF\xFE") || starts_with(start, size, "\xFE\xFF");
}

// Once, from the first block: the format the whole file is read in. Where
// the block's first read does not settle it, more of the file is read into
// the block, up to format_window; returns how many bytes were read.
std::size_t read_to_choose_format(loop_state &s, std::FILE *in, char *block, std::size_t got)
{
	const std::size_t window = std::min(s.settings.block_size, format_window);
	format_choice choice = choose_format(block, got, std::feof(in) != 0);
	while (!choice.settled && got < window && std::feof(in) == 0 && std::ferror(in) == 0) {
		got += std::fread(block + got, 1, window - got, in);
		choice = choose_format(block, got, std::feof(in) != 0);
	}
	s.found.format = choice.format;
	if (s.settings.structure != nullptr)
		s.settings.structure->format = s.found.format;
	return got;
}

} // namespace

char *tool_block()
{
	static char block[default_block_size + 2];
	return block;
}

stream_outcome rewrite_stream(std::FILE *in, std::FILE *out, const loop_settings &settings)
{
	loop_state s{out, settings, {}, settings.block, 0, 0, false, settings.copy_input != nullptr,
	             0,   {},       {}};
	if (settings.block_size < smallest_block_size)
		return {
		    stream_result::block_too_small, EINVAL, {}, {}, {}, {}, 0, 0, 0, {}, 0, 0, {}};
	// An output that has already failed takes nothing more.
	if (out != nullptr && std::ferror(out) != 0)
		s.found.error = EIO;
	char *const block = settings.block;
	std::size_t carried = 0; // bytes of an unfinished line kept from the last block
	std::size_t reach = first_read_size(settings.block_size);
	for (bool first = true;; first = false) {
		std::size_t got = std::fread(block + carried, 1, reach - carried, in);
		if (first && got != 0 && !is_utf16(block, got))
			got = read_to_choose_format(s, in, block, got);
		if (s.block_start >= small_file_size)
			reach = settings.block_size;
		if (std::ferror(in)) {
			s.found.result = stream_result::read_failed;
			s.found.error = errno;
			return s.found;
		}
		if (got == 0)
			break;
		if (first && is_utf16(block, got)) {
			s.found.result = stream_result::utf16_text;
			return s.found;
		}
		if (first && settings.refuse_binary && is_binary(block, got)) {
			s.found.result = stream_result::binary_data;
			return s.found;
		}
		char *end = block + carried + got;
		end[0] = end[1] = '\0'; // what a line lends its missing checksum digits
		s.pending = block;
		const std::size_t changed = s.found.mended + s.found.edited;
		char *from = first ? skip_byte_order_mark(block, got) : block;
		char *rest = rewrite_lines(s, from, end);
		if (s.settings.copy_input == nullptr ||
		    (s.out != nullptr && s.found.mended + s.found.edited != changed)) {
			flush_copy(s);
			write_pending(s, rest);
			write_gathered(s);
		}
		if (s.settings.copy_input != nullptr && s.out != nullptr)
			put_off(s, rest);
		if (s.found.error != 0)
			break;
		carried = static_cast<std::size_t>(end - rest);
		s.block_start += static_cast<std::uint64_t>(rest - block);
		std::memmove(block, rest, carried);
	}
	// A last line without a line feed: all of it is content.
	s.pending = block;
	if (carried != 0 && s.found.error == 0)
		take_line(s, block, carried);
	s.found.lines = s.lines + (carried != 0 || s.in_long_line ? 1 : 0);
	flush_copy(s);
	write_pending(s, block + carried);
	write_gathered(s);
	if (s.found.error != 0)
		s.found.result = stream_result::write_failed;
	return s.found;
}
