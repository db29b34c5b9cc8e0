// tallyfix: writes an Intel HEX file to standard output with the checksum
// of every data record recomputed and every other byte as it came in.
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "rewrite_stream.hpp"

namespace {

const char *const banner[] = {
    "tallyfix version 1.1\n\n",
    "This program recomputes the checksum for a .hex file.\n",
    "You can now go in and edit the .hex file directly, and\n",
    "then run tallyfix against the file to recalculate the\n",
    "checksum values.\n\n",
    "Syntax: tallyfix myfile.hex > newfile.hex\n",
    "This will process myfile.hex and produce a new file,\n",
    "newfile.hex which contains correct checksum values\n",
};

// The one line the tool ever writes to standard error: a failed read or
// write, which must not pass for success.
int complain(const char *what)
{
	std::fprintf(stderr, "tallyfix: %s: %s\n", what, std::strerror(errno));
	return 1;
}

} // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
	// Carriage returns and a final Ctrl-Z must pass through exactly as read.
	_setmode(_fileno(stdout), _O_BINARY);
#endif
	if (argc != 2)
		for (const char *text : banner)
			std::fputs(text, stdout);

	const char *path = argc > 1 ? argv[1] : nullptr;
	std::FILE *in = path != nullptr ? std::fopen(path, "rb") : nullptr;
	int status = 0;
	stream_result result = stream_result::ok;
	if (in == nullptr) {
		std::printf("%s failed to open\n", path != nullptr ? path : "(null)");
		status = 1;
	} else {
		result = rewrite_stream(in, stdout);
		if (result == stream_result::read_failed)
			status = complain(path);
		std::fclose(in); // read only: nothing to lose here
	}
	bool written = result != stream_result::write_failed && std::fflush(stdout) == 0 &&
	               std::ferror(stdout) == 0;
	if (!written && result != stream_result::read_failed)
		status = complain("standard output");
	return status;
}
