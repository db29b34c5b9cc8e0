// The Windows and POSIX sides of the calls in platform.hpp.
#include "platform.hpp"

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

namespace {

std::string utf8_from_wide(const wchar_t *wide)
{
	int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
	std::string text(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
	WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
	text.resize(text.size() - 1); // the terminator counted in size
	return text;
}

HANDLE file_handle(std::FILE *stream)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

// argv is in the console's code page: the command line is split again from
// its UTF-16 form.
std::vector<std::string> utf8_arguments(int, char **)
{
	int count = 0;
	wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
	std::vector<std::string> arguments;
	for (int i = 0; wide != nullptr && i < count; ++i)
		arguments.push_back(utf8_from_wide(wide[i]));
	LocalFree(wide);
	return arguments;
}

void set_binary_mode(std::FILE *stream)
{
	_setmode(_fileno(stream), _O_BINARY);
}

std::FILE *open_input(const char *path)
{
	int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
	std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
	MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
	return _wfopen(wide.c_str(), L"rb");
}

bool same_file(std::FILE *in, std::FILE *out)
{
	BY_HANDLE_FILE_INFORMATION a, b;
	return GetFileType(file_handle(out)) == FILE_TYPE_DISK &&
	       GetFileInformationByHandle(file_handle(in), &a) != 0 &&
	       GetFileInformationByHandle(file_handle(out), &b) != 0 &&
	       a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
	       a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

#else

#include <sys/stat.h>

std::vector<std::string> utf8_arguments(int argc, char **argv)
{
	return std::vector<std::string>(argv, argv + argc);
}

void set_binary_mode(std::FILE *)
{
}

std::FILE *open_input(const char *path)
{
	return std::fopen(path, "rb");
}

bool same_file(std::FILE *in, std::FILE *out)
{
	struct stat a, b;
	return fstat(fileno(in), &a) == 0 && fstat(fileno(out), &b) == 0 && S_ISREG(b.st_mode) &&
	       a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

#endif
