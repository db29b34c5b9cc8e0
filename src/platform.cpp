// The Windows and POSIX sides of the calls in platform.hpp.
#include "platform.hpp"

namespace {

// Closes the new file, which must be written whole, and the file read, over
// which Windows renames nothing while it is open.
bool close_both(file_in_place &file)
{
	const int closed = std::fclose(file.out);
	std::fclose(file.in); // read only: nothing to lose here
	file.out = file.in = nullptr;
	return closed == 0;
}

} // namespace

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cwchar>

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
	return _wfopen(wide_from_utf8(path).c_str(), L"rb");
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

namespace {

// The new file's name, for the interrupt handler: set while the file exists.
wchar_t temporary_name[32768];
volatile std::sig_atomic_t temporary_made = 0;

extern "C" void remove_temporary(int signal)
{
	if (temporary_made != 0)
		_wunlink(temporary_name);
	std::signal(signal, SIG_DFL);
	std::raise(signal);
}

bool fail(file_in_place &file, const char *step)
{
	file.error = errno != 0 ? errno : EIO;
	file.step = step;
	return false;
}

} // namespace

open_result open_in_place(const char *path, file_in_place &file)
{
	file.path = path;
	const std::wstring wide = wide_from_utf8(file.path);
	const DWORD attributes = GetFileAttributesW(wide.c_str());
	if (attributes != INVALID_FILE_ATTRIBUTES &&
	    (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
		return open_result::more_links; // a link: replacing it would replace the link
	if ((file.in = _wfopen(wide.c_str(), L"rb")) == nullptr) {
		file.error = errno;
		return attributes != INVALID_FILE_ATTRIBUTES &&
		               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
		           ? open_result::not_a_file
		           : open_result::failed;
	}
	BY_HANDLE_FILE_INFORMATION information;
	if (GetFileInformationByHandle(file_handle(file.in), &information) == 0) {
		file.error = EIO;
		return open_result::failed;
	}
	return information.nNumberOfLinks > 1 ? open_result::more_links : open_result::opened;
}

bool make_replacement(file_in_place &file)
{
	std::signal(SIGINT, remove_temporary);
	std::signal(SIGTERM, remove_temporary);
	file.temporary = file.path + ".tallyfix-" + std::to_string(GetCurrentProcessId());
	const std::wstring wide = wide_from_utf8(file.temporary);
	if (wide.size() >= 32768) {
		errno = ENAMETOOLONG;
		return fail(file, "make the new file");
	}
	wcscpy(temporary_name, wide.c_str());
	const int fd =
	    _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
	temporary_made = fd >= 0;
	if (fd < 0) {
		file.temporary.clear();
		return fail(file, "make the new file");
	}
	if ((file.out = _fdopen(fd, "wb")) == nullptr) {
		_close(fd);
		return fail(file, "make the new file");
	}
	return true;
}

bool commit_replacement(file_in_place &file)
{
	if (std::fflush(file.out) != 0)
		return fail(file, "write the new file");
	if (_commit(_fileno(file.out)) != 0)
		return fail(file, "flush the new file to disk");
	if (!close_both(file))
		return fail(file, "write the new file");
	if (MoveFileExW(wide_from_utf8(file.temporary).c_str(), wide_from_utf8(file.path).c_str(),
	                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
		errno = EACCES;
		return fail(file, "rename the new file over the file");
	}
	temporary_made = 0;
	file.temporary.clear();
	return true;
}

void close_in_place(file_in_place &file)
{
	if (file.out != nullptr)
		std::fclose(file.out); // the new file is removed: what it held does not matter
	if (!file.temporary.empty()) {
		temporary_made = 0;
		_wunlink(wide_from_utf8(file.temporary).c_str());
	}
	if (file.in != nullptr)
		std::fclose(file.in); // read only: nothing to lose here
	file.in = file.out = nullptr;
	file.temporary.clear();
}
#else

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The new file's name, for the signal handler: set while the file exists.
char temporary_name[PATH_MAX + 32];
volatile std::sig_atomic_t temporary_made = 0;

const int interrupts[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temporary(int signal)
{
	if (temporary_made != 0)
		unlink(temporary_name);
	std::raise(signal); // the handler was reset: this ends the tool as it would have
}

// While the name and the file might not agree, interrupts wait.
void hold_interrupts(bool hold)
{
	sigset_t set;
	sigemptyset(&set);
	for (int signal : interrupts)
		sigaddset(&set, signal);
	sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void remove_temporary_on_interrupt()
{
	struct sigaction action {};
	action.sa_handler = remove_temporary;
	action.sa_flags = static_cast<int>(SA_RESETHAND);
	sigemptyset(&action.sa_mask);
	for (int signal : interrupts)
		sigaction(signal, &action, nullptr);
}

bool fail(file_in_place &file, const char *step)
{
	file.error = errno;
	file.step = step;
	return false;
}

} // namespace

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

open_result open_in_place(const char *path, file_in_place &file)
{
	char *resolved = realpath(path, nullptr);
	if (resolved == nullptr) {
		file.error = errno;
		return open_result::failed;
	}
	file.path = resolved;
	std::free(resolved);
	const int fd = open(file.path.c_str(), O_RDONLY | O_NOFOLLOW);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0 || (file.in = fdopen(fd, "rb")) == nullptr) {
		file.error = errno;
		if (fd >= 0)
			close(fd);
		return open_result::failed;
	}
	file.device = st.st_dev;
	file.inode = st.st_ino;
	file.mode = st.st_mode & 07777;
	file.owner = static_cast<long>(st.st_uid);
	file.group = static_cast<long>(st.st_gid);
	if (!S_ISREG(st.st_mode))
		return open_result::not_a_file;
	return st.st_nlink > 1 ? open_result::more_links : open_result::opened;
}

bool make_replacement(file_in_place &file)
{
	remove_temporary_on_interrupt();
	const std::size_t slash = file.path.rfind('/');
	const std::string name =
	    file.path.substr(0, slash + 1) + "." + file.path.substr(slash + 1) + ".tallyfix-XXXXXX";
	if (name.size() >= sizeof temporary_name) {
		errno = ENAMETOOLONG;
		return fail(file, "make the new file");
	}
	hold_interrupts(true);
	std::memcpy(temporary_name, name.c_str(), name.size() + 1);
	const int fd = mkstemp(temporary_name);
	temporary_made = fd >= 0;
	hold_interrupts(false);
	if (fd < 0)
		return fail(file, "make the new file");
	file.temporary = temporary_name;
	if ((file.out = fdopen(fd, "wb")) == nullptr) {
		close(fd);
		return fail(file, "make the new file");
	}
	return true;
}

bool commit_replacement(file_in_place &file)
{
	const int fd = fileno(file.out);
	struct stat now;
	if (std::fflush(file.out) != 0)
		return fail(file, "write the new file");
	if (fsync(fd) != 0)
		return fail(file, "flush the new file to disk");
	// The owner first: changing it may clear the set-user-ID bits.
	if (fchown(fd, static_cast<uid_t>(file.owner), static_cast<gid_t>(file.group)) != 0 &&
	    fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(file.group)) != 0) {
		// not allowed to: the new file keeps the tool's user and group
	}
	if (fchmod(fd, static_cast<mode_t>(file.mode)) != 0)
		return fail(file, "give the new file the permissions of the file");
	if (!close_both(file))
		return fail(file, "write the new file");
	if (lstat(file.path.c_str(), &now) != 0 || now.st_dev != file.device ||
	    now.st_ino != file.inode) {
		errno = EAGAIN;
		return fail(file, "replace the file, which was replaced while being fixed");
	}
	hold_interrupts(true);
	const bool renamed = std::rename(file.temporary.c_str(), file.path.c_str()) == 0;
	temporary_made = !renamed;
	hold_interrupts(false);
	if (!renamed)
		return fail(file, "rename the new file over the file");
	file.temporary.clear();
	// The rename survives a power cut once the folder is on the disk too.
	const int folder = open(file.path.substr(0, file.path.rfind('/') + 1).c_str(), O_RDONLY);
	const bool synced = folder >= 0 && fsync(folder) == 0;
	if (folder >= 0)
		close(folder);
	return synced || fail(file, "flush the folder to disk");
}

void close_in_place(file_in_place &file)
{
	if (file.out != nullptr)
		std::fclose(file.out); // the new file is removed: what it held does not matter
	if (!file.temporary.empty()) {
		hold_interrupts(true);
		unlink(file.temporary.c_str());
		temporary_made = 0;
		hold_interrupts(false);
	}
	if (file.in != nullptr)
		std::fclose(file.in); // read only: nothing to lose here
	file.in = file.out = nullptr;
	file.temporary.clear();
}

#endif
