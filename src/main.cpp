// tallyfix: writes an Intel HEX file to standard output with the checksum
// of every data record recomputed and every other byte as it came in.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// The tool's lines on standard error: what kept it from writing the whole
// file, which must not pass for success.
bool complain(const char *name, const char *reason)
{
	std::fprintf(stderr, "tallyfix: %s: %s\n", name, reason);
	return false;
}

// Standard output is unbuffered: a write fails here or not at all.
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

// Rewrites the open file to standard output; false if any of it was lost.
bool rewrite_file(const char *path, std::FILE *in)
{
	// Static: its pages are mapped only as a file fills them, so a small
	// file touches few of them.
	static char block[default_block_size + 2];
	const stream_outcome outcome =
	    rewrite_stream(in, stdout, best_simd_level(), block, default_block_size);
	switch (outcome.result) {
	case stream_result::ok:
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

// The usual run: the banner first when the argument count is wrong, then the
// first argument opened and rewritten. in is the file opened, or null.
bool rewrite_opened_file(const char *path, std::FILE *in, bool wrong_count)
{
	// Opened first, so that nothing, the banner included, is ever appended
	// to an input file that is also the output.
	const bool onto_itself = in != nullptr && same_file(in, stdout);
	if (wrong_count && !onto_itself && !write_banner())
		return false;
	if (in == nullptr) {
		write_text(std::string(path != nullptr ? path : "(null)") + " failed to open\n");
		return false;
	}
	if (onto_itself)
		return complain(path, "the input file is the output file; write to a new one "
		                      "(a > redirect empties the file before tallyfix starts)");
	return rewrite_file(path, in);
}

bool run(const std::vector<std::string> &arguments)
{
	const bool wrong_count = arguments.size() != 2;
	if (!wrong_count && (arguments[1] == "--help" || arguments[1] == "-h"))
		return write_banner();
	if (!wrong_count && arguments[1] == "--version")
		return write_text(version_line);
	const char *path = arguments.size() > 1 ? arguments[1].c_str() : nullptr;
	std::FILE *in = path != nullptr ? open_input(path) : nullptr;
	const bool done = rewrite_opened_file(path, in, wrong_count);
	if (in != nullptr)
		std::fclose(in); // read only: nothing to lose here
	return done;
}

// The loop gathers its own writes. Unbuffered, a failed write is seen where
// it happens, and leaves nothing behind for the flush at exit to add after
// the gap, whatever the C library keeps of a buffer it could not write.
bool unbuffered_binary_output()
{
	set_binary_mode(stdout);
	return std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 ||
	       complain("standard output", "cannot be made unbuffered");
}

} // namespace

int main(int argc, char **argv)
{
	const std::vector<std::string> arguments = utf8_arguments(argc, argv);
	const bool done = unbuffered_binary_output() && run(arguments);
	return arguments.size() != 2 ? 2 : done ? 0 : 1;
}
