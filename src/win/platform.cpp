// The Windows side of platform.hpp. A file fixed in place is opened so that
// no other program may write to it, rename onto it or remove it while it is
// read; the new file is marked to be deleted when the tool ends until the
// moment it replaces the file, with ReplaceFileW, which keeps the file's
// access list, attributes and creation time.
#include "../platform.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <shellapi.h>

#include "../text_escapes.hpp"

struct system_file {
	std::wstring path;     // the file
	std::wstring new_path; // the new file, while it is there
	HANDLE out = INVALID_HANDLE_VALUE;
	FILE_BASIC_INFO opened; // the file when it was opened
	LARGE_INTEGER size;
};

namespace {

std::string utf8_from_wide(const wchar_t *wide)
{
	int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
	std::string text(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
	WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
	text.resize(text.size() - 1); // the terminator counted in size
	return text;
}

std::wstring wide_from_utf8(const std::string &text)
{
	int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
	std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
	MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
	wide.resize(wide.size() - 1); // the terminator counted in size
	return wide;
}

HANDLE file_handle(std::FILE *stream)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// The system's own words for an error.
std::string words_for(DWORD error)
{
	wchar_t *text = nullptr;
	const DWORD length =
	    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
	                       FORMAT_MESSAGE_IGNORE_INSERTS,
	                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
	std::string words = length != 0 ? utf8_from_wide(text) : "error " + std::to_string(error);
	LocalFree(text);
	while (!words.empty() &&
	       (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
		words.pop_back();
	return words;
}

bool fail(file_in_place &file, fix_step step, DWORD error = GetLastError())
{
	file.failed = step;
	file.reason = words_for(error);
	return false;
}

// A step of the C library's, which says why in errno.
bool fail_in_c_library(file_in_place &file, fix_step step)
{
	file.failed = step;
	file.reason = std::strerror(errno);
	return false;
}

// A handle as a C stream; the handle is closed if it cannot be one.
std::FILE *stream_of(HANDLE handle, int flags, const char *mode)
{
	const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
	std::FILE *stream = fd >= 0 ? _fdopen(fd, mode) : nullptr;
	if (stream == nullptr && fd >= 0)
		_close(fd);
	else if (fd < 0)
		CloseHandle(handle);
	return stream;
}

// A file the system deletes when its last handle closes, however the tool
// ends, unless this is undone.
bool delete_on_close(HANDLE handle, bool delete_it)
{
	FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(delete_it)};
	return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
	                                  sizeof disposition) != 0;
}

// The replaced file's name, for a moment, beside the new file's.
const wchar_t backup_suffix[] = L"-old";

// "FOLDER\.NAME.tallyfix-PID", NAME cut short, never inside a character,
// where the whole, or the backup's name, would pass the 255 UTF-16 units of
// a name.
std::wstring new_file_path(const std::wstring &path)
{
	const std::size_t slash = path.find_last_of(L"\\/");
	const std::size_t start = slash == std::wstring::npos ? 0 : slash + 1;
	const std::wstring suffix = L".tallyfix-" + std::to_wstring(GetCurrentProcessId());
	std::size_t keep =
	    std::min(path.size() - start, 255 - suffix.size() - 1 - (std::size(backup_suffix) - 1));
	if (keep > 0 && start + keep < path.size() && path[start + keep] >= 0xDC00 &&
	    path[start + keep] <= 0xDFFF)
		--keep; // the second half of a character outside the first 65,536
	return path.substr(0, start) + L"." + path.substr(start, keep) + suffix;
}

// Read where they are: the stream reading the file goes on from where it
// was. A file that ends before them has changed.
bool copy_range(HANDLE in, HANDLE out, std::uint64_t from, std::uint64_t to, bool &ended)
{
	static char buffer[1 << 16];
	LARGE_INTEGER zero{}, position{};
	if (SetFilePointerEx(in, zero, &position, FILE_CURRENT) == 0)
		return false;
	bool copied = true;
	for (std::uint64_t done = from; copied && done < to;) {
		OVERLAPPED at{};
		at.Offset = static_cast<DWORD>(done);
		at.OffsetHigh = static_cast<DWORD>(done >> 32);
		DWORD got = 0, put = 0;
		const auto chunk =
		    static_cast<DWORD>(std::min<std::uint64_t>(to - done, sizeof buffer));
		copied = ReadFile(in, buffer, chunk, &got, &at) != 0 && !(ended = got == 0) &&
		         WriteFile(out, buffer, got, &put, nullptr) != 0 && put == got;
		done += got;
	}
	return SetFilePointerEx(in, position, nullptr, FILE_BEGIN) != 0 && copied;
}

std::wstring last_name(const std::wstring &path)
{
	const std::size_t slash = path.find_last_of(L"\\/");
	return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A symbolic link shows as a reparse point; one that Wine passes through
// from Unix does not, but the file opened then has a name of its own.
bool is_link(HANDLE in, const std::wstring &path, DWORD attributes)
{
	wchar_t final_path[32768], long_path[32768];
	if (attributes != INVALID_FILE_ATTRIBUTES &&
	    (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
		return true;
	const DWORD got = GetFinalPathNameByHandleW(in, final_path, 32768, FILE_NAME_NORMALIZED);
	const DWORD given = GetLongPathNameW(path.c_str(), long_path, 32768);
	if (got == 0 || got >= 32768 || given == 0 || given >= 32768)
		return false;
	const std::wstring one = last_name(final_path), other = last_name(long_path);
	return CompareStringOrdinal(one.c_str(), static_cast<int>(one.size()), other.c_str(),
	                            static_cast<int>(other.size()), TRUE) != CSTR_EQUAL;
}

// The file as it was opened, or changed since by another program.
bool unchanged(const file_in_place &file)
{
	FILE_BASIC_INFO now{};
	LARGE_INTEGER size{};
	const HANDLE in = file_handle(file.in);
	const system_file &s = *file.system;
	return GetFileInformationByHandleEx(in, FileBasicInfo, &now, sizeof now) != 0 &&
	       GetFileSizeEx(in, &size) != 0 && size.QuadPart == s.size.QuadPart &&
	       now.LastWriteTime.QuadPart == s.opened.LastWriteTime.QuadPart &&
	       now.ChangeTime.QuadPart == s.opened.ChangeTime.QuadPart;
}

// ReplaceFileW moves the file to backup, the new file to the file's name,
// and deletes nothing. Where it fails half way, the file is put back.
bool put_in_place(file_in_place &file)
{
	system_file &s = *file.system;
	const std::wstring backup = s.new_path + backup_suffix;
	if (ReplaceFileW(s.path.c_str(), s.new_path.c_str(), backup.c_str(),
	                 REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0) {
		s.new_path.clear();
		DeleteFileW(backup.c_str());
		return true;
	}
	const DWORD error = GetLastError();
	if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
	    MoveFileExW(backup.c_str(), s.path.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
		file.reason = utf8_from_wide(backup.c_str());
		file.failed = fix_step::renamed; // the file, whole, under the backup's name
		return false;
	}
	return fail(file,
	            error == ERROR_ACCESS_DENIED &&
	                    (s.opened.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0
	                ? fix_step::read_only
	                : fix_step::replace,
	            error);
}

} // namespace

const bool names_have_drives = true;

const char read_only_hint[] = "attrib -r to let tallyfix fix it";

std::string folder_uri()
{
	wchar_t folder[32768];
	const DWORD length = GetCurrentDirectoryW(32768, folder);
	if (length == 0 || length >= 32768)
		return "";
	const std::string uri = uri_of(utf8_from_wide(folder), true);
	return uri.back() == '/' ? uri : uri + "/";
}

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
	return _wfopen(wide_from_utf8(path).c_str(), L"rb");
}

bool is_terminal(std::FILE *stream)
{
	DWORD mode = 0;
	const HANDLE console = file_handle(stream);
	return _isatty(_fileno(stream)) != 0 && GetConsoleMode(console, &mode) != 0 &&
	       SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t terminal_width(std::FILE *stream)
{
	CONSOLE_SCREEN_BUFFER_INFO console{};
	if (GetConsoleScreenBufferInfo(file_handle(stream), &console) == 0)
		return 0;
	return static_cast<std::size_t>(console.srWindow.Right - console.srWindow.Left + 1);
}

bool names_output(const char *path, std::FILE *out)
{
	std::FILE *in = open_input(path);
	const bool same = in != nullptr && same_file(in, out);
	if (in != nullptr)
		std::fclose(in); // read only: nothing to lose here
	return same;
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

open_result open_in_place(const char *path, file_in_place &file)
{
	system_file &s = *(file.system = new system_file);
	s.path = wide_from_utf8(path);
	const DWORD attributes = GetFileAttributesW(s.path.c_str());
	if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
		file.reason = std::strerror(EISDIR); // as on POSIX
		return open_result::failed;
	}
	// Others may read it, nothing more, while it is open.
	const HANDLE in = CreateFileW(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
	                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (in == INVALID_HANDLE_VALUE) {
		file.reason = words_for(GetLastError());
		return open_result::failed;
	}
	BY_HANDLE_FILE_INFORMATION information;
	if (GetFileType(in) != FILE_TYPE_DISK) {
		CloseHandle(in);
		return open_result::not_a_file;
	}
	if (GetFileInformationByHandle(in, &information) == 0 ||
	    GetFileInformationByHandleEx(in, FileBasicInfo, &s.opened, sizeof s.opened) == 0 ||
	    GetFileSizeEx(in, &s.size) == 0) {
		file.reason = words_for(GetLastError());
		CloseHandle(in);
		return open_result::failed;
	}
	if ((file.in = stream_of(in, _O_RDONLY | _O_BINARY, "rb")) == nullptr) {
		file.reason = std::strerror(errno);
		return open_result::failed;
	}
	file.more_names = information.nNumberOfLinks > 1;
	file.a_link = is_link(in, s.path, attributes);
	file.read_only = (s.opened.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
	const std::size_t slash = s.path.find_last_of(L"\\/");
	file.folder =
	    slash == std::wstring::npos ? "." : utf8_from_wide(s.path.substr(0, slash).c_str());
	return open_result::opened;
}

bool make_new_file(file_in_place &file)
{
	system_file &s = *file.system;
	if ((s.opened.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
		return fail(file, fix_step::read_only, ERROR_ACCESS_DENIED);
	const std::wstring path = new_file_path(s.path);
	const HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
	                               FILE_ATTRIBUTE_NORMAL, nullptr);
	if (out == INVALID_HANDLE_VALUE)
		return fail(file, GetLastError() == ERROR_ACCESS_DENIED ? fix_step::folder
		                                                        : fix_step::make);
	if (!delete_on_close(out, true)) {
		fail(file, fix_step::make);
		CloseHandle(out);
		DeleteFileW(path.c_str());
		return false;
	}
	if ((file.out = stream_of(out, _O_WRONLY | _O_BINARY, "wb")) == nullptr)
		return fail(file, fix_step::make);
	s.out = out;
	s.new_path = path;
	return true;
}

bool copy_into_new_file(file_in_place &file, std::uint64_t from, std::uint64_t to)
{
	bool ended = false;
	if (std::fflush(file.out) != 0)
		return fail_in_c_library(file, fix_step::write);
	if (copy_range(file_handle(file.in), file.system->out, from, to, ended))
		return true;
	fail(file, ended ? fix_step::changed : fix_step::write);
	errno = EIO;
	return false;
}

bool replace_file(file_in_place &file)
{
	system_file &s = *file.system;
	if (std::fflush(file.out) != 0)
		return fail_in_c_library(file, fix_step::write);
	if (FlushFileBuffers(s.out) == 0)
		return fail(file, fix_step::flush);
	if (!unchanged(file)) {
		file.failed = fix_step::changed;
		return false;
	}
	// From here on a killed tool may leave the new file.
	if (!delete_on_close(s.out, false))
		return fail(file, fix_step::replace);
	const bool closed = std::fclose(file.out) == 0;
	file.out = nullptr;
	std::fclose(
	    file.in); // read only: nothing to lose here, and it must be closed to be replaced
	file.in = nullptr;
	if (!closed)
		return fail_in_c_library(file, fix_step::write);
	return put_in_place(file);
}

void close_in_place(file_in_place &file)
{
	system_file *s = file.system;
	if (file.out != nullptr)
		std::fclose(file.out); // marked for deletion: gone once closed
	else if (s != nullptr && !s->new_path.empty())
		DeleteFileW(s->new_path.c_str());
	if (file.in != nullptr)
		std::fclose(file.in); // read only: nothing to lose here
	delete s;
	file.in = file.out = nullptr;
	file.system = nullptr;
}

// NTFS writes a rename to its journal itself: there is no folder to flush.
bool folder_held(const file_in_place &)
{
	return false;
}

bool hold_folder(const file_in_place &, std::string &)
{
	return true;
}

bool flush_held_folder(std::string &)
{
	return true;
}
