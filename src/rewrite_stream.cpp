// The read-rewrite-write loop. The input is read in large blocks, records
// are rewritten in place inside the block, and the block goes out in as few
// writes as its messages and added checksum digits allow.
#include "rewrite_stream.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "record_run.hpp"

namespace {

// Once this many bytes of a line have gone by without a line feed, its
// content covers every column a rewrite reads or writes (only the last of
// them could still be a carriage return of the terminator), so the line's
// head can be rewritten at once and the rest of it passed through.
constexpr std::size_t decode_window = record_columns + 1;
static_assert(smallest_block_size > decode_window, "a block must hold a line's head and more");

// Pieces shorter than this, the text between lines that have messages and
// the messages themselves, are gathered and written together: the output
// stream may be unbuffered, and a write call per message line is slow.
constexpr std::size_t gather_size = std::size_t{1} << 16;

struct loop_state {
	std::FILE *out;
	simd_level level;
	const char *pending; // first byte of the block not yet written
	int write_error;     // errno of the first failed write, or 0
	bool in_long_line;   // the current line's head is done; the rest passes through
	std::string messages;
	std::string gathered; // written, in order, before anything that follows
};

// After the first failed write nothing more goes out, so what was written
// is always a clean prefix of the output, never the output with a hole in it.
void write_now(loop_state &s, const char *bytes, std::size_t size)
{
	if (s.write_error == 0 && size != 0 && std::fwrite(bytes, 1, size, s.out) != size)
		s.write_error = errno != 0 ? errno : EIO;
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

// Rewrites one line in place. The two bytes after its content (its
// terminator, the next line, or the slack at the end of the buffer) lend
// room to the checksum digits a record may lack: the grown line is written
// at once and those bytes put back, to be written after it.
void rewrite_line(loop_state &s, char *line, std::size_t length)
{
	const char after[2] = {line[length], line[length + 1]};
	s.messages.clear();
	std::size_t rewritten = rewrite_record_line(line, length, s.messages);
	if (!s.messages.empty()) {
		write_pending(s, line);
		write_bytes(s, s.messages.data(), s.messages.size());
	}
	if (rewritten > length) {
		write_pending(s, line + rewritten);
		std::memcpy(line + length, after, sizeof after);
		s.pending = line + length;
	}
}

char *find_line_feed(char *p, char *end)
{
	return static_cast<char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
}

// Rewrites the well-formed data records from p on, as many as there are in
// a row, and returns where the first other line starts. The level is fixed
// at compile time and the calls built into the loop, so that the constants
// of the vector steps stay in registers from one record to the next: taken
// at run time, the level cost 3 % more instructions a record on the table
// and 14 % on SSE2.
template <simd_level level> [[gnu::flatten]] char *rewrite_plain_records(char *p, char *end)
{
	for (;;) {
		std::size_t plain =
		    rewrite_plain_record(p, static_cast<std::size_t>(end - p), level);
		if (plain == 0)
			return p;
		p += plain;
		p += rewrite_record_run(p, end, plain, level);
	}
}

char *rewrite_plain_records(simd_level level, char *p, char *end)
{
	switch (level) {
	case simd_level::table:
		return rewrite_plain_records<simd_level::table>(p, end);
	case simd_level::sse2:
		return rewrite_plain_records<simd_level::sse2>(p, end);
	case simd_level::avx2:
		break;
	}
	return rewrite_plain_records<simd_level::avx2>(p, end);
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
		p = lf + 1;
	}
	for (;;) {
		p = rewrite_plain_records(s.level, p, end);
		char *lf = find_line_feed(p, end);
		if (lf == nullptr)
			break;
		char *content_end = lf > p && lf[-1] == '\r' ? lf - 1 : lf;
		rewrite_line(s, p, static_cast<std::size_t>(content_end - p));
		p = lf + 1;
	}
	if (static_cast<std::size_t>(end - p) >= decode_window) {
		rewrite_line(s, p, static_cast<std::size_t>(end - p));
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

} // namespace

stream_outcome rewrite_stream(std::FILE *in, std::FILE *out, simd_level level, char *block,
                              std::size_t block_size)
{
	if (block_size < smallest_block_size)
		return {stream_result::block_too_small, EINVAL};
	// An output that has already failed takes nothing more.
	loop_state s{out, level, block, std::ferror(out) != 0 ? EIO : 0, false, {}, {}};
	std::size_t carried = 0; // bytes of an unfinished line kept from the last block
	for (bool first = true;; first = false) {
		std::size_t got = std::fread(block + carried, 1, block_size - carried, in);
		if (std::ferror(in))
			return {stream_result::read_failed, errno};
		if (got == 0)
			break;
		if (first && is_utf16(block, got))
			return {stream_result::utf16_text, 0};
		char *end = block + carried + got;
		end[0] = end[1] = '\0'; // what a line lends its missing checksum digits
		s.pending = block;
		char *from = first ? skip_byte_order_mark(block, got) : block;
		char *rest = rewrite_lines(s, from, end);
		write_pending(s, rest);
		write_gathered(s);
		if (s.write_error != 0)
			return {stream_result::write_failed, s.write_error};
		carried = static_cast<std::size_t>(end - rest);
		std::memmove(block, rest, carried);
	}
	// A last line without a line feed: all of it is content.
	s.pending = block;
	if (carried != 0)
		rewrite_line(s, block, carried);
	write_pending(s, block + carried);
	write_gathered(s);
	if (s.write_error != 0)
		return {stream_result::write_failed, s.write_error};
	return {stream_result::ok, 0};
}
