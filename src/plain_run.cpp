// The plain run: one file to standard output with the checksum of every
// data record recomputed and every other byte as it came in, its messages
// among the records; and the banner, the help and the version.
#include "plain_run.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.hpp"
#include "platform.hpp"
#include "rewrite_stream.hpp"
#include "simd_level.hpp"
#include "tool.hpp"

namespace {

// Standard output is unbuffered in the plain run: a write fails here or not
// at all.
bool write_text(const std::string &text)
{
	return std::fputs(text.c_str(), stdout) >= 0 ||
	       complain("standard output", std::strerror(errno));
}

loop_settings plain_rewrite()
{
	return {best_simd_level(),
	        tool_block(),
	        default_block_size,
	        false,
	        false,
	        nullptr,
	        nullptr,
	        nullptr,
	        nullptr,
	        nullptr,
	        false,
	        nullptr};
}

// "N lines (a, b, c, ...)".
std::string some_lines(const line_list &lines)
{
	std::string text =
	    std::to_string(lines.count) + (lines.count == 1 ? " line (" : " lines (");
	for (std::size_t i = 0; i < std::min<std::size_t>(lines.count, 3); ++i)
		text += (i == 0 ? "" : ", ") + std::to_string(lines.first[i]);
	return text + (lines.count > 3 ? ", ...)" : ")");
}

// Says what the plain run's output does not: where its messages went, into
// the output among the records, where nobody looks before a loader refuses
// the file; and which checksums went where a count that the line's length
// belies puts them, over a data digit or after a deleted byte.
void point_at_trouble(const char *path, const stream_outcome &outcome)
{
	if (outcome.message_lines.count != 0)
		complain(path, "invalid hex digit messages went into the output, for " +
		                   some_lines(outcome.message_lines));
	if (outcome.disagreeing_lines.count != 0)
		complain(path,
		         some_lines(outcome.disagreeing_lines) +
		             (outcome.disagreeing_lines.count == 1 ? " is" : " are") +
		             " longer or shorter than the count says: the checksum went where "
		             "the count puts it; tallyfix --check says more");
	if (outcome.small_count_lines.count != 0)
		complain(path, some_lines(outcome.small_count_lines) +
		                   (outcome.small_count_lines.count == 1 ? " has" : " have") +
		                   " a count too small for the address and checksum: left as they "
		                   "are; tallyfix --check says more");
	const line_list &others = outcome.other_format_lines;
	const bool one = others.count == 1;
	if (others.count != 0)
		complain(
		    path,
		    some_lines(others) +
		        (outcome.format == record_format::s_record
		             ? (one ? " is an Intel HEX record" : " are Intel HEX records")
		             : (one ? " is an S-record" : " are S-records")) +
		        ", in a file read as " +
		        (outcome.format == record_format::s_record ? "S-records" : "Intel HEX") +
		        ": left as " + (one ? "it is" : "they are"));
}

// Rewrites the open file to standard output; false if any of it was lost,
// or lines of the other format were left as they are: a file that mixes the
// two is not what a loader takes.
bool rewrite_file(const char *path, std::FILE *in)
{
	const stream_outcome outcome = rewrite_stream(in, stdout, plain_rewrite());
	switch (outcome.result) {
	case stream_result::ok:
		point_at_trouble(path, outcome);
		return outcome.other_format_lines.count == 0;
	case stream_result::read_failed:
	case stream_result::binary_data:
	case stream_result::block_too_small:
		return complain(path, std::strerror(outcome.error));
	case stream_result::utf16_text:
		return complain(path, utf16_words);
	case stream_result::write_failed:
		return complain("standard output", std::strerror(outcome.error));
	}
	return false;
}

bool is_empty(std::FILE *in)
{
	return std::fseek(in, 0, SEEK_END) == 0 && std::ftell(in) == 0;
}

// The usual run: the banner first when the argument count is wrong, then the
// first argument opened and rewritten. in is the file opened, or null, and
// open_error why not.
bool rewrite_opened_file(const char *path, std::FILE *in, int open_error, bool wrong_count)
{
	// Opened first, so that nothing, the banner included, is ever appended
	// to an input file that is also the output.
	const bool onto_itself = in != nullptr && same_file(in, stdout);
	if (wrong_count && !onto_itself && !write_text(banner_text()))
		return false;
	if (in == nullptr) {
		write_text(std::string(path != nullptr ? path : "(null)") + " failed to open\n");
		if (path != nullptr)
			complain(path, std::strerror(open_error));
		return false;
	}
	if (onto_itself)
		return complain(path, is_empty(in)
		                          ? "the input file is the output file, which a > redirect "
		                            "emptied before tallyfix started; --in-place fixes a "
		                            "file in place"
		                          : "the input file is the output file: nothing was "
		                            "written; --in-place fixes a file in place");
	return rewrite_file(path, in);
}

bool rewrite_named_file(const run_request &run)
{
	const char *path = run.files.empty() ? nullptr : run.files[0].c_str();
	std::FILE *in = path != nullptr ? open_input(path) : nullptr;
	const int open_error = errno;
	const bool done = rewrite_opened_file(path, in, open_error, run.wrong_count);
	if (in != nullptr)
		std::fclose(in); // read only: nothing to lose here
	else if (path != nullptr && !note_on_option(path).empty())
		complain(path, note_on_option(path));
	return done;
}

// Unbuffered, for what write_text says of it.
bool unbuffered()
{
	return std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 ||
	       complain("standard output", "cannot be made unbuffered");
}

} // namespace

// The plain run writes through an unbuffered standard output: a failed write
// is seen where it happens, and leaves nothing behind for the flush at exit
// to add after the gap, whatever the C library keeps of a buffer it could
// not write.
int plain_run(const run_request &run)
{
	const bool done = unbuffered() && rewrite_named_file(run);
	return run.wrong_count ? 2 : done ? 0 : 1;
}

int write_help()
{
	return unbuffered() && write_text(help_text()) ? 0 : 1;
}

int write_version()
{
	return unbuffered() && write_text(version_text()) ? 0 : 1;
}
