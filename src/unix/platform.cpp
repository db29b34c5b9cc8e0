// The POSIX side of platform.hpp. A file fixed in place is reached through
// its folder, opened once from the folder the tool runs in a step at a
// time, so that a folder renamed meanwhile changes nothing and a path of any
// length works; the new file has no name until just before it takes the
// file's place, where the system can; and the file is replaced only as the
// tool read it, which a watch on it and its state before and after the
// exchange of names tell.
#include "../platform.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../findings.hpp"
#include "../text_escapes.hpp"
#include "system_calls.hpp"

struct system_file {
	int folder = -1;      // reached through, not listed
	std::string name;     // of the file, in its folder
	struct stat opened;   // the file when it was opened
	std::string new_name; // of the new file, while it has one
	int watch = -1;       // on the file, where the system has one
	bool saw_change = false;
	int new_file = -1; // a copy of the new file's descriptor, once it is written
};

namespace {

// The new file's name, for the signal handler, while it has one.
int new_file_folder = -1;
char new_file_name[NAME_MAX + 1];
volatile std::sig_atomic_t new_file_named = 0;

// Every signal that ends the tool by default and may be caught.
const int interrupts[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGPIPE,
                          SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};

extern "C" void remove_new_file(int signal)
{
	if (new_file_named != 0)
		unlinkat(new_file_folder, new_file_name, 0);
	std::raise(signal); // the handler was reset: this ends the tool as it would have
}

// Once, before the first new file. A signal ignored when the tool started
// (nohup, a script's background job) stays ignored. XFSZ is ignored, so
// that a write past the file size limit fails and is said as any other.
void catch_interrupts()
{
	static bool caught = false;
	if (caught)
		return;
	caught = true;
	struct sigaction action {};
	action.sa_handler = remove_new_file;
	action.sa_flags = static_cast<int>(SA_RESETHAND);
	sigemptyset(&action.sa_mask);
	for (int signal : interrupts)
		sigaddset(&action.sa_mask, signal);
	for (int signal : interrupts) {
		struct sigaction old {};
		if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
			sigaction(signal, &action, nullptr);
	}
	std::signal(SIGXFSZ, SIG_IGN);
}

// While a name and what it stands for might not agree, interrupts wait;
// the mask is then put back as it was.
sigset_t hold_interrupts()
{
	sigset_t set, saved;
	sigemptyset(&set);
	for (int signal : interrupts)
		sigaddset(&set, signal);
	sigprocmask(SIG_BLOCK, &set, &saved);
	return saved;
}

void release_interrupts(const sigset_t &saved)
{
	sigprocmask(SIG_SETMASK, &saved, nullptr);
}

bool fail(file_in_place &file, fix_step step)
{
	file.failed = step;
	file.reason = std::strerror(errno);
	return false;
}

open_result open_failed(file_in_place &file)
{
	file.reason = std::strerror(errno);
	return open_result::failed;
}

bool same_time(const timespec &a, const timespec &b)
{
	return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether st is the file as it was opened: the same file, of the same size,
// time of its last write, permissions, owner and links, and the same change
// time, which any change of the file moves, unless with_change_time is
// false: an exchange of names moves it too.
bool as_opened(const struct stat &opened, const struct stat &st, bool with_change_time)
{
	return st.st_dev == opened.st_dev && st.st_ino == opened.st_ino &&
	       st.st_size == opened.st_size && same_time(st.st_mtim, opened.st_mtim) &&
	       st.st_mode == opened.st_mode && st.st_uid == opened.st_uid &&
	       st.st_gid == opened.st_gid && st.st_nlink == opened.st_nlink &&
	       (!with_change_time || same_time(st.st_ctim, opened.st_ctim));
}

bool fail_changed(file_in_place &file)
{
	file.failed = fix_step::changed;
	file.reason.clear();
	return false;
}

// What the watch saw, once seen, stays seen. False, with the step, when it
// saw a change or could not tell.
bool watch_saw_nothing(file_in_place &file)
{
	system_file &s = *file.system;
	const int seen = s.watch >= 0 && !s.saw_change ? watch_changes(s.watch) : 0;
	s.saw_change = s.saw_change || seen > 0;
	if (seen < 0)
		return fail(file, fix_step::replace);
	return !s.saw_change || fail_changed(file);
}

// The last look at the file before it is replaced. False, with the step.
bool still_as_read(file_in_place &file)
{
	struct stat now;
	if (fstat(fileno(file.in), &now) != 0)
		return fail(file, fix_step::replace);
	return (as_opened(file.system->opened, now, true) || fail_changed(file)) &&
	       watch_saw_nothing(file);
}

// ".NAME.tallyfix-XXXXXX": NAME cut short, never inside a UTF-8 character,
// where the whole would not fit the folder's longest name.
std::string new_file_name_for(int folder, const std::string &name)
{
	static const char letters[] =
	    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
	static unsigned long long state = 0;
	const std::string suffix = ".tallyfix-XXXXXX";
	const long longest = fpathconf(folder, _PC_NAME_MAX);
	const std::size_t room =
	    std::min<std::size_t>(longest > 0 ? static_cast<std::size_t>(longest) : 255, NAME_MAX);
	std::size_t keep =
	    std::min(name.size(), room > suffix.size() ? room - suffix.size() - 1 : 0);
	while (keep > 0 && keep < name.size() && (name[keep] & 0xC0) == 0x80)
		--keep;
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	state = state * 6364136223846793005ULL +
	        static_cast<unsigned long long>(now.tv_nsec ^ getpid()) + 1442695040888963407ULL;
	std::string made = "." + name.substr(0, keep) + suffix;
	unsigned long long bits = state >> 16;
	for (std::size_t i = made.size() - 6; i < made.size(); ++i, bits /= 62)
		made[i] = letters[bits % 62];
	return made;
}

// The handler's copy of the new file's name; interrupts held.
void name_for_handler(const system_file &s)
{
	new_file_folder = s.folder;
	std::memcpy(new_file_name, s.new_name.c_str(), s.new_name.size() + 1);
	new_file_named = 1;
}

// A new file with a name from the start, where it cannot have none.
int make_named_file(system_file &s)
{
	for (int tries = 0; tries < 100; ++tries) {
		s.new_name = new_file_name_for(s.folder, s.name);
		const sigset_t saved = hold_interrupts();
		const int fd = openat(s.folder, s.new_name.c_str(),
		                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
		if (fd >= 0)
			name_for_handler(s);
		release_interrupts(saved);
		if (fd >= 0 || errno != EEXIST) {
			if (fd < 0)
				s.new_name.clear();
			return fd;
		}
	}
	s.new_name.clear();
	return -1;
}

// Gives an unnamed new file its name; interrupts held.
bool name_new_file(system_file &s, int fd)
{
	for (int tries = 0; tries < 100; ++tries) {
		s.new_name = new_file_name_for(s.folder, s.name);
		if (name_unnamed_file(fd, s.folder, s.new_name.c_str()) == 0) {
			name_for_handler(s);
			return true;
		}
		if (errno != EEXIST)
			break;
	}
	s.new_name.clear();
	return false;
}

bool write_all(int fd, const char *bytes, std::size_t size)
{
	while (size != 0) {
		const ssize_t done = write(fd, bytes, size);
		if (done < 0 && errno != EINTR)
			return false;
		if (done > 0) {
			bytes += done;
			size -= static_cast<std::size_t>(done);
		}
	}
	return true;
}

bool cannot_copy_in_kernel(int error)
{
	return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
	       error == ENOTSUP;
}

enum class copy_result { copied, failed, ended };

// Inside the kernel where it can, else through a buffer. The disk starts
// on each step while the next is copied.
copy_result copy_data(int in, int out, std::uint64_t from, std::uint64_t to)
{
	static char buffer[1 << 16];
	bool in_kernel = true;
	for (std::uint64_t done = from; done < to;) {
		const auto chunk =
		    static_cast<std::size_t>(std::min<std::uint64_t>(to - done, 16 << 20));
		long long got = -1;
		if (in_kernel && (got = copy_in_kernel(in, done, out, chunk)) < 0 &&
		    cannot_copy_in_kernel(errno)) {
			in_kernel = false;
			continue;
		}
		if (got > 0)
			start_writing_back(out);
		if (!in_kernel &&
		    (got = pread(in, buffer, std::min(chunk, sizeof buffer),
		                 static_cast<off_t>(done))) > 0 &&
		    !write_all(out, buffer, static_cast<std::size_t>(got)))
			return copy_result::failed;
		if (got == 0)
			return copy_result::ended;
		if (got < 0 && errno != EINTR)
			return copy_result::failed;
		done += static_cast<std::uint64_t>(std::max(got, 0LL));
	}
	return copy_result::copied;
}

// Where the data after offset starts, or the end of the file, which has
// none after it; offset itself where the system cannot tell holes.
std::uint64_t next_data(int in, std::uint64_t offset)
{
	const off_t data = lseek(in, static_cast<off_t>(offset), SEEK_DATA);
	if (data >= 0)
		return static_cast<std::uint64_t>(data);
	const off_t end = errno == ENXIO ? lseek(in, 0, SEEK_END) : -1;
	return end >= 0 ? std::max(offset, static_cast<std::uint64_t>(end)) : offset;
}

// A hole of the file is a hole of the new file: it is passed over, not
// written, and the file ends where it ended. lseek moves the offset of the
// file, which its stream reads on from: it is put back.
copy_result copy_range(int in, int out, std::uint64_t from, std::uint64_t to)
{
	const off_t reading = lseek(in, 0, SEEK_CUR);
	copy_result done = copy_result::copied;
	for (std::uint64_t at = from; at < to && done == copy_result::copied;) {
		const std::uint64_t data = std::min(next_data(in, at), to);
		if (data > at && lseek(out, static_cast<off_t>(data - at), SEEK_CUR) < 0)
			done = copy_result::failed;
		const off_t hole = lseek(in, static_cast<off_t>(data), SEEK_HOLE);
		const std::uint64_t data_end = hole > static_cast<off_t>(data)
		                                   ? std::min(static_cast<std::uint64_t>(hole), to)
		                                   : to;
		if (done == copy_result::copied && data < to)
			done = copy_data(in, out, data, data_end);
		at = data < to ? data_end : to;
	}
	struct stat made;
	const off_t end = lseek(out, 0, SEEK_CUR);
	if (done == copy_result::copied &&
	    (end < 0 || fstat(out, &made) != 0 || (made.st_size < end && ftruncate(out, end) != 0)))
		done = copy_result::failed;
	if (reading < 0 || lseek(in, reading, SEEK_SET) != reading)
		return copy_result::failed;
	return done;
}

std::string user_name(uid_t id)
{
	const passwd *entry = getpwuid(id);
	return entry != nullptr ? entry->pw_name : std::to_string(id);
}

std::string group_name(gid_t id)
{
	const struct group *entry = getgrgid(id);
	return entry != nullptr ? entry->gr_name : std::to_string(id);
}

// Where the tool may: an owner or group it cannot give is said. A group
// that cannot be kept is given no more than others had, so that the group
// the new file has may do no more than before.
mode_t keep_owner(file_in_place &file, int out, const struct stat &opened)
{
	mode_t mode = opened.st_mode & 07777;
	if (fchown(out, opened.st_uid, opened.st_gid) == 0)
		return mode;
	if (fchown(out, static_cast<uid_t>(-1), opened.st_gid) != 0) {
		// not a member of the group either
	}
	struct stat made;
	if (fstat(out, &made) != 0)
		return mode & ~mode_t{070};
	const bool owner = made.st_uid != opened.st_uid, group = made.st_gid != opened.st_gid;
	if (group)
		mode &= ~(~(mode << 3) & 070);
	if (owner || group)
		file.owner_change =
		    (owner ? "owner " + user_name(opened.st_uid) : std::string()) +
		    (owner && group ? " and " : "") +
		    (group ? "group " + group_name(opened.st_gid) : "") +
		    " could not be kept, now " + (owner ? user_name(made.st_uid) : "") +
		    (owner && group ? " and " : "") + (group ? group_name(made.st_gid) : "") +
		    (group ? ", whose permissions are no more than others had" : "");
	return mode;
}

bool forget_new_name(system_file &s)
{
	s.new_name.clear();
	new_file_named = 0;
	return true;
}

// Where names cannot be swapped: the name is checked just before the new
// file is renamed onto it, which cannot be undone.
bool rename_into_place(file_in_place &file)
{
	system_file &s = *file.system;
	struct stat current;
	if (fstatat(s.folder, s.name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
	    current.st_dev != s.opened.st_dev || current.st_ino != s.opened.st_ino)
		return fail_changed(file);
	if (renameat(s.folder, s.new_name.c_str(), s.folder, s.name.c_str()) != 0)
		return fail(file, fix_step::replace);
	return forget_new_name(s);
}

// The new file, named, swapped with the file just after the last look at
// it: what came out must be the file as the tool read it, or the swap is
// undone. From the naming to the removal of what came out, the fewest
// calls: a kill -9 among them leaves that name.
bool put_in_place(file_in_place &file)
{
	system_file &s = *file.system;
	if (!still_as_read(file))
		return false;
	if (exchange_names(s.folder, s.new_name.c_str(), s.name.c_str()) != 0) {
		if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
			return fail(file, fix_step::replace);
		return rename_into_place(file);
	}
	struct stat displaced;
	const bool as_read =
	    fstatat(s.folder, s.new_name.c_str(), &displaced, AT_SYMLINK_NOFOLLOW) != 0
	        ? fail(file, fix_step::replace)
	        : (as_opened(s.opened, displaced, false) || fail_changed(file)) &&
	              watch_saw_nothing(file);
	if (as_read) {
		if (unlinkat(s.folder, s.new_name.c_str(), 0) != 0) // the old file
			file.left_behind =
			    file.folder + "/" + s.new_name + ": " + std::strerror(errno);
		return forget_new_name(s);
	}
	if (exchange_names(s.folder, s.new_name.c_str(), s.name.c_str()) == 0)
		return false; // the new file, back in its place, is removed
	// The other program's file is under the new file's name, if it did not
	// remove it meanwhile: kept.
	file.failed = faccessat(s.folder, s.new_name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0
	                  ? fix_step::kept_aside
	                  : fix_step::lost_aside;
	file.reason = file.folder + "/" + s.new_name;
	forget_new_name(s);
	return false;
}

// The folder held to be flushed, and what it is: opened to be read, to be
// flushed itself, or where it may not be listed, the new file, whose
// filesystem is flushed.
struct held_folder {
	int fd = -1;
	bool whole_filesystem;
	dev_t device;
	ino_t inode;
} held;

bool say_why(std::string &reason)
{
	reason = std::strerror(errno);
	return false;
}

// Filesystems that have no flush of a folder refuse it so.
bool flush_folder_now(int fd, bool whole_filesystem)
{
	if (whole_filesystem)
		return flush_filesystem(fd) == 0;
	return fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP;
}

// Steps from folder, which it takes, through the folders that path names
// before its last part, which goes to name ("." after a last slash); the
// folder reached, or -1.
int walk(int folder, const std::string &path, std::string &name)
{
	std::size_t at = 0;
	for (std::size_t slash; folder >= 0 && (slash = path.find('/', at)) != std::string::npos;
	     at = slash + 1) {
		if (slash == at)
			continue;
		const int next = open_folder(folder, path.substr(at, slash - at).c_str());
		const int error = errno;
		close(folder);
		errno = error;
		folder = next;
	}
	name = at < path.size() ? path.substr(at) : ".";
	return folder;
}

int walk_from_start(const std::string &path, int here, std::string &name)
{
	if (path.empty()) {
		errno = ENOENT;
		return -1;
	}
	const int start = open_folder(path[0] == '/' ? AT_FDCWD : here, path[0] == '/' ? "/" : ".");
	return start < 0 ? -1 : walk(start, path, name);
}

std::string folder_part(const std::string &path)
{
	const std::size_t slash = path.rfind('/');
	return slash == std::string::npos ? "" : slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path names, the target of a symbolic link, which stays a
// link, followed: its folder in s, reached a step at a time, and its name;
// the file open to be read, or -1. shown is the folder's path, for words.
int open_through_links(const char *path, system_file &s, std::string &shown)
{
	std::string given = path;
	shown = folder_part(given);
	if ((s.folder = walk_from_start(given, AT_FDCWD, s.name)) < 0)
		return -1;
	for (int links = 0;; ++links) {
		// Looked at before it is opened: opening a device may reset a board
		// on a serial port or rewind a tape. Not blocking, so that a FIFO
		// that takes its place meanwhile is refused rather than waited on.
		struct stat st;
		if (fstatat(s.folder, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
		    !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
			errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
			return -1;
		}
		const int fd = openat(s.folder, s.name.c_str(),
		                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
		if (fd >= 0 || (errno != ELOOP && errno != EMLINK) || links == 40)
			return fd;
		char target[PATH_MAX];
		const ssize_t length = readlinkat(s.folder, s.name.c_str(), target, sizeof target);
		if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) {
			errno = ELOOP;
			return -1;
		}
		given.assign(target, static_cast<std::size_t>(length));
		const std::string part = folder_part(given);
		shown = given[0] == '/' || shown.empty() ? part
		        : part.empty()                   ? shown
		                                         : shown + "/" + part;
		const int here = s.folder;
		s.folder = walk_from_start(given, here, s.name);
		close(here);
		if (s.folder < 0)
			return -1;
	}
}

// The folder's path as words: absolute where the system can make it so.
std::string folder_words(const std::string &shown)
{
	char *resolved = realpath(shown.empty() ? "." : shown.c_str(), nullptr);
	const std::string words = resolved != nullptr ? resolved : shown.empty() ? "." : shown;
	std::free(resolved);
	return words;
}

} // namespace

const bool names_have_drives = false;

const char read_only_hint[] = "chmod u+w to let tallyfix fix it";

std::string folder_uri()
{
	char *folder = getcwd(nullptr, 0);
	const std::string uri = folder != nullptr ? uri_of(folder, false) + "/" : "";
	std::free(folder);
	return uri == "file:////" ? "file:///" : uri;
}

std::vector<std::string> utf8_arguments(int argc, char **argv)
{
	return std::vector<std::string>(argv, argv + argc);
}

void set_binary_mode(std::FILE *)
{
}

// A path longer than the system takes at once is followed a folder at a
// time.
std::FILE *open_input(const char *path)
{
	std::FILE *in = std::fopen(path, "rb");
	if (in != nullptr || errno != ENAMETOOLONG)
		return in;
	std::string name;
	const int folder = walk_from_start(path, AT_FDCWD, name);
	const int fd = folder < 0 ? -1 : openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
	const int error = errno;
	if (folder >= 0)
		close(folder);
	if (fd >= 0 && (in = fdopen(fd, "rb")) == nullptr)
		close(fd);
	errno = error;
	return in;
}

bool is_terminal(std::FILE *stream)
{
	return isatty(fileno(stream)) != 0;
}

std::size_t terminal_width(std::FILE *stream)
{
	winsize size{};
	return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool names_output(const char *path, std::FILE *out)
{
	struct stat a, b;
	return stat(path, &a) == 0 && fstat(fileno(out), &b) == 0 && S_ISREG(b.st_mode) &&
	       a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file(std::FILE *in, std::FILE *out)
{
	struct stat a, b;
	return fstat(fileno(in), &a) == 0 && fstat(fileno(out), &b) == 0 && S_ISREG(b.st_mode) &&
	       a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

open_result open_in_place(const char *path, file_in_place &file)
{
	system_file &s = *(file.system = new system_file);
	std::string shown;
	const int fd = open_through_links(path, s, shown);
	// What the system makes of the path itself, where it names no regular
	// file: a link to a pipe (/dev/stdin) is one.
	struct stat st;
	if (fd < 0 &&
	    (errno == ENXIO || (errno == ENOENT && stat(path, &st) == 0 && !S_ISREG(st.st_mode))))
		return open_result::not_a_file;
	if (fd < 0)
		return open_failed(file);
	file.folder = one_line(folder_words(shown));
	if (fstat(fd, &s.opened) != 0 ||
	    (S_ISREG(s.opened.st_mode) && (file.in = fdopen(fd, "rb")) == nullptr)) {
		open_failed(file);
		close(fd);
		return open_result::failed;
	}
	if (!S_ISREG(s.opened.st_mode)) {
		close(fd);
		errno = EISDIR; // what --check is told of one
		return S_ISDIR(s.opened.st_mode) ? open_failed(file) : open_result::not_a_file;
	}
	file.more_names = s.opened.st_nlink > 1;
	file.read_only = (s.opened.st_mode & S_IWUSR) == 0;
	s.watch = watch_file(fd);
	return open_result::opened;
}

bool make_new_file(file_in_place &file)
{
	system_file &s = *file.system;
	catch_interrupts();
	int fd = open_unnamed_file(s.folder);
	if (fd < 0 && (fd = make_named_file(s)) < 0)
		return fail(file, errno == EACCES || errno == EPERM || errno == EROFS
		                      ? fix_step::folder
		                      : fix_step::make);
	// Until it is given the file's, no access list of its folder's lets
	// another user read what it is given.
	if (remove_access_list(fd) != 0 || (file.out = fdopen(fd, "wb")) == nullptr) {
		fail(file, fix_step::make);
		close(fd);
		return false;
	}
	return true;
}

bool copy_into_new_file(file_in_place &file, std::uint64_t from, std::uint64_t to)
{
	if (std::fflush(file.out) != 0)
		return fail(file, fix_step::write);
	switch (copy_range(fileno(file.in), fileno(file.out), from, to)) {
	case copy_result::copied:
		start_writing_back(fileno(file.out));
		return true;
	case copy_result::failed:
		return fail(file, fix_step::write);
	case copy_result::ended:
		break;
	}
	errno = EIO;
	return fail_changed(file);
}

// Everything the new file is given before it is named: the owner, access
// list, attributes and permissions the file had when it was opened (and has,
// the last look just said), then all of it on the disk. The owner first:
// changing it may clear the set-user-ID bits.
bool give_new_file_its_own(file_in_place &file)
{
	const int in = fileno(file.in), out = fileno(file.out);
	if (std::fflush(file.out) != 0)
		return fail(file, fix_step::write);
	const mode_t mode = keep_owner(file, out, file.system->opened);
	if (copy_access_list_and_attributes(in, out) != 0)
		return fail(file, fix_step::attributes);
	if (fchmod(out, mode) != 0)
		return fail(file, fix_step::permissions);
	if (fsync(out) != 0)
		return fail(file, fix_step::flush);
	file.system->new_file = fcntl(out, F_DUPFD_CLOEXEC, 0); // for the flush, if it can be
	return true;
}

bool replace_file(file_in_place &file)
{
	system_file &s = *file.system;
	if (!still_as_read(file) || !give_new_file_its_own(file))
		return false;
	const sigset_t saved = hold_interrupts();
	bool done = !s.new_name.empty() || name_new_file(s, fileno(file.out)) ||
	            fail(file, fix_step::replace);
	const bool closed = std::fclose(file.out) == 0;
	file.out = nullptr;
	done = done && (closed || fail(file, fix_step::write)) && put_in_place(file);
	release_interrupts(saved);
	return done;
}

void close_in_place(file_in_place &file)
{
	system_file *s = file.system;
	if (file.out != nullptr)
		std::fclose(file.out); // the new file is removed: what it held does not matter
	if (s != nullptr && !s->new_name.empty()) {
		const sigset_t saved = hold_interrupts();
		unlinkat(s->folder, s->new_name.c_str(), 0);
		new_file_named = 0;
		release_interrupts(saved);
	}
	if (file.in != nullptr)
		std::fclose(file.in); // read only: nothing to lose here
	if (s != nullptr) {
		stop_watching(s->watch);
		if (s->folder >= 0)
			close(s->folder);
		if (s->new_file >= 0)
			close(s->new_file);
	}
	delete s;
	file.in = file.out = nullptr;
	file.system = nullptr;
}

bool folder_held(const file_in_place &file)
{
	struct stat st;
	return held.fd >= 0 && fstat(file.system->folder, &st) == 0 && st.st_dev == held.device &&
	       st.st_ino == held.inode;
}

// Opened to be read where it may be, else, where it may not be listed, the
// new file's filesystem; flushed at once when neither can be held.
bool hold_folder(const file_in_place &file, std::string &reason)
{
	struct stat st;
	const system_file &s = *file.system;
	if (fstat(s.folder, &st) != 0)
		return say_why(reason);
	held.whole_filesystem = false;
	held.fd = openat(s.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (held.fd < 0 && errno == EACCES && s.new_file >= 0) {
		held.whole_filesystem = true;
		held.fd = fcntl(s.new_file, F_DUPFD_CLOEXEC, 0);
	}
	if (held.fd < 0)
		return s.new_file >= 0 ? flush_folder_now(s.new_file, true) || say_why(reason)
		                       : say_why(reason);
	held.device = st.st_dev;
	held.inode = st.st_ino;
	return true;
}

bool flush_held_folder(std::string &reason)
{
	if (held.fd < 0)
		return true;
	const bool flushed = flush_folder_now(held.fd, held.whole_filesystem) || say_why(reason);
	close(held.fd);
	held.fd = -1;
	return flushed;
}
