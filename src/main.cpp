// tallyfix: writes an Intel HEX file to standard output with the checksum
// of every data record recomputed and every other byte as it came in; or
// checks files, or fixes them in place.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "in_place.hpp"
#include "platform.hpp"
#include "rewrite_stream.hpp"
#include "simd_level.hpp"

namespace {

const char version_line[] = "tallyfix version 1.1\n";
const char *const banner[] = {
    version_line,
    "\n",
    "This program recomputes the checksum for a .hex file.\n",
    "You can now go in and edit the .hex file directly, and\n",
    "then run tallyfix against the file to recalculate the\n",
    "checksum values.\n\n",
    "Syntax: tallyfix myfile.hex > newfile.hex\n",
    "This will process myfile.hex and produce a new file,\n",
    "newfile.hex which contains correct checksum values\n",
};
const char options[] = "\n"
                       "Options, taken only as the first argument:\n"
                       "  --check FILE...     report what is wrong in each file; change nothing\n"
                       "  --in-place FILE...  fix each file in place (also -i)\n"
                       "  --help, -h          this text\n"
                       "  --version           the version\n";

// The read block, reused file after file, with the two bytes the loop keeps
// after it. Static: its pages are mapped only as a file fills them, so a small
// file touches few of them.
char block[default_block_size + 2];
constexpr std::size_t block_size = sizeof block - 2;

// Standard output is unbuffered in the plain run: a write fails here or not
// at all.
bool write_text(const std::string &text)
{
	return std::fputs(text.c_str(), stdout) >= 0 ||
	       complain("standard output", std::strerror(errno));
}

bool write_banner()
{
	for (const char *text : banner)
		if (!write_text(text))
			return false;
	return true;
}

loop_settings plain_rewrite()
{
	return {best_simd_level(), block, block_size, false,  nullptr,
	        nullptr,           false, nullptr,    nullptr};
}

// What --check and --in-place run: findings named after path, fixes among
// them only with fixes_too.
loop_settings repair(const char *path, std::FILE *findings, bool fixes_too)
{
	return {best_simd_level(), block,     block_size, true,   path,
	        findings,          fixes_too, nullptr,    nullptr};
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
}

// Rewrites the open file to standard output; false if any of it was lost.
bool rewrite_file(const char *path, std::FILE *in)
{
	const stream_outcome outcome = rewrite_stream(in, stdout, plain_rewrite());
	switch (outcome.result) {
	case stream_result::ok:
		point_at_trouble(path, outcome);
		return true;
	case stream_result::read_failed:
	case stream_result::block_too_small:
		return complain(path, std::strerror(outcome.error));
	case stream_result::utf16_text:
		return complain(path,
		                "the file is UTF-16 text: save it as plain text and try again");
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
	if (wrong_count && !onto_itself && !write_banner())
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

bool rewrite_named_file(const std::vector<std::string> &arguments)
{
	const bool wrong_count = arguments.size() != 2;
	const char *path = arguments.size() > 1 ? arguments[1].c_str() : nullptr;
	std::FILE *in = path != nullptr ? open_input(path) : nullptr;
	const int open_error = errno;
	const bool done = rewrite_opened_file(path, in, open_error, wrong_count);
	if (in != nullptr)
		std::fclose(in); // read only: nothing to lose here
	return done;
}

// --check: every flaw on standard output, nothing changed.
status check_file(const char *path)
{
	std::FILE *in = open_input(path);
	if (in == nullptr)
		return complain(failed, path, std::strerror(errno));
	const stream_outcome outcome = rewrite_stream(in, nullptr, repair(path, stdout, true));
	std::fclose(in); // read only: nothing to lose here
	switch (outcome.result) {
	case stream_result::ok:
		return outcome.mended + outcome.refused + outcome.left != 0 ? flawed : clean;
	case stream_result::utf16_text:
		return complain(failed, path,
		                "the file is UTF-16 text: save it as plain text and try again");
	case stream_result::write_failed:
		return complain(failed, "standard output", std::strerror(outcome.error));
	default:
		return complain(failed, path, std::strerror(outcome.error));
	}
}

status fix_file(const char *path)
{
	return fix_in_place(path, repair(path, nullptr, false));
}

status for_each_file(const std::vector<std::string> &arguments, status (*take)(const char *))
{
	if (arguments.size() < 3)
		return complain(failed, arguments[1], "name at least one file");
	status worst = clean;
	for (std::size_t i = 2; i < arguments.size(); ++i)
		worst = std::max(worst, take(arguments[i].c_str()));
	worst = std::max(worst, flush_fixed_folders());
	// A write that failed on the way was said with its file.
	if (std::ferror(stdout) == 0 && std::fflush(stdout) != 0)
		worst = complain(failed, "standard output", std::strerror(errno));
	return worst;
}

// The plain run writes through an unbuffered standard output: a failed write
// is seen where it happens, and leaves nothing behind for the flush at exit
// to add after the gap, whatever the C library keeps of a buffer it could
// not write.
int plain_run(const std::vector<std::string> &arguments)
{
	const bool wrong_count = arguments.size() != 2;
	bool done = std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 ||
	            complain("standard output", "cannot be made unbuffered");
	if (done && !wrong_count && (arguments[1] == "--help" || arguments[1] == "-h"))
		done = write_banner() && write_text(options);
	else if (done && !wrong_count && arguments[1] == "--version")
		done = write_text(version_line);
	else if (done)
		done = rewrite_named_file(arguments);
	return wrong_count ? 2 : done ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
	const std::vector<std::string> arguments = utf8_arguments(argc, argv);
	set_binary_mode(stdout);
	const std::string first = arguments.size() > 1 ? arguments[1] : "";
	if (first == "--check")
		return for_each_file(arguments, check_file);
	if (first == "--in-place" || first == "-i")
		return for_each_file(arguments, fix_file);
	return plain_run(arguments);
}
