// tallyfix: writes an Intel HEX file to standard output with the checksum
// of every data record recomputed and every other byte as it came in.
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>
#include <vector>
#else
#include <sys/stat.h>
#endif

#include "rewrite_stream.hpp"

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

void write_banner()
{
	for (const char *text : banner)
		std::fputs(text, stdout);
}

// The tool's lines on standard error: what kept it from writing the whole
// file, which must not pass for success.
bool complain(const char *name, const char *reason)
{
	std::fprintf(stderr, "tallyfix: %s: %s\n", name, reason);
	return false;
}

// Whether standard output is the input file itself (tallyfix f.hex >> f.hex
// would read its own output until the disk is full; with > the shell has
// already emptied the file).
#ifdef _WIN32
bool same_file(std::FILE *in, std::FILE *out)
{
	BY_HANDLE_FILE_INFORMATION a, b;
	auto handle = [](std::FILE *f) {
		return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
	};
	return GetFileType(handle(out)) == FILE_TYPE_DISK &&
	       GetFileInformationByHandle(handle(in), &a) != 0 &&
	       GetFileInformationByHandle(handle(out), &b) != 0 &&
	       a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
	       a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
#else
bool same_file(std::FILE *in, std::FILE *out)
{
	struct stat a, b;
	return fstat(fileno(in), &a) == 0 && fstat(fileno(out), &b) == 0 && S_ISREG(b.st_mode) &&
	       a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
#endif

// Names are UTF-8 inside the tool. Windows takes them as UTF-16, so that
// names outside the console's code page open as they do elsewhere.
#ifdef _WIN32
std::string utf8_from_wide(const wchar_t *wide)
{
	int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
	std::string text(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
	WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
	text.resize(text.size() - 1); // the terminator counted in size
	return text;
}

std::FILE *open_input(const char *path)
{
	int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
	std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
	MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
	return _wfopen(wide.c_str(), L"rb");
}
#else
std::FILE *open_input(const char *path)
{
	return std::fopen(path, "rb");
}
#endif

// Rewrites the open file to standard output; false if any of it was lost.
// A failed write is reported once the output is closed.
bool rewrite_file(const char *path, std::FILE *in)
{
	switch (rewrite_stream(in, stdout)) {
	case stream_result::ok:
		return true;
	case stream_result::read_failed:
		return complain(path, std::strerror(errno));
	case stream_result::utf16_text:
		return complain(path,
		                "the file is UTF-16 text: save it as plain text and try again");
	case stream_result::write_failed:
		break;
	}
	return false;
}

// The usual run: the banner first when the argument count is wrong, then the
// first argument opened and rewritten.
bool rewrite_named_file(const char *path, bool wrong_count)
{
	std::FILE *in = path != nullptr ? open_input(path) : nullptr;
	// Opened first, so that nothing, the banner included, is ever appended
	// to an input file that is also the output.
	const bool onto_itself = in != nullptr && same_file(in, stdout);
	if (wrong_count && !onto_itself)
		write_banner();
	if (in == nullptr) {
		std::printf("%s failed to open\n", path != nullptr ? path : "(null)");
		return false;
	}
	bool rewritten =
	    onto_itself ? complain(path, "the input file is the output file; write to a new one "
	                                 "(a > redirect empties the file before tallyfix starts)")
	                : rewrite_file(path, in);
	std::fclose(in); // read only: nothing to lose here
	return rewritten;
}

bool is_argument(const char *path, const char *option)
{
	return path != nullptr && std::strcmp(path, option) == 0;
}

int run(int argc, const char *const *argv)
{
	// The loop gathers its own writes. Unbuffered, a failed write leaves
	// nothing behind for the flush at exit to add after the gap, whatever
	// the C library keeps of a buffer it could not write.
	std::setvbuf(stdout, nullptr, _IONBF, 0);
	const bool wrong_count = argc != 2;
	const char *path = argc > 1 ? argv[1] : nullptr;
	bool done = true;
	if (!wrong_count && (is_argument(path, "--help") || is_argument(path, "-h")))
		write_banner();
	else if (!wrong_count && is_argument(path, "--version"))
		std::fputs(version_line, stdout);
	else
		done = rewrite_named_file(path, wrong_count);
	if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
		done = complain("standard output", std::strerror(errno));
	return wrong_count ? 2 : done ? 0 : 1;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t **wide_argv)
{
	// Carriage returns and a final Ctrl-Z must pass through exactly as read.
	_setmode(_fileno(stdout), _O_BINARY);
	std::vector<std::string> arguments;
	for (int i = 0; i < argc; ++i)
		arguments.push_back(utf8_from_wide(wide_argv[i]));
	std::vector<const char *> argv;
	for (const std::string &argument : arguments)
		argv.push_back(argument.c_str());
	argv.push_back(nullptr);
	return run(argc, argv.data());
}
#else
int main(int argc, char **argv)
{
	return run(argc, argv);
}
#endif
