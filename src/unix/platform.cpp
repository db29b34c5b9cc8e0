// The POSIX side of platform.hpp. A file fixed in place is reached through
// its folder, opened once, so that a folder renamed meanwhile changes
// nothing; the new file has no name until it takes the file's place, where
// the system can; and the file is replaced only as the tool read it.
#include "../platform.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system_calls.hpp"

struct system_file {
	int folder = -1;
	std::string name;     // of the file, in its folder
	struct stat opened;   // the file when it was opened
	std::string new_name; // of the new file, while it has one
};

namespace {

// The new file's name, for the signal handler, while it has one.
int new_file_folder = -1;
char new_file_name[NAME_MAX + 1];
volatile std::sig_atomic_t new_file_named = 0;

const int interrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

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

// Whether another program wrote to the file since it was opened, or changed
// its permissions, owner or links (the change time, which a rename of the
// file sets too, unless with_change is false).
bool changed(const struct stat &opened, const struct stat &now, bool with_change)
{
	return now.st_size != opened.st_size || !same_time(now.st_mtim, opened.st_mtim) ||
	       (with_change && !same_time(now.st_ctim, opened.st_ctim));
}

bool fail_changed(file_in_place &file)
{
	file.failed = fix_step::changed;
	file.reason.clear();
	return false;
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
copy_result copy_range(int in, int out, std::uint64_t from, std::uint64_t to)
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

// Where the tool may: an owner or group it cannot give is said.
void keep_owner(file_in_place &file, int out, const struct stat &now)
{
	if (fchown(out, now.st_uid, now.st_gid) == 0)
		return;
	if (fchown(out, static_cast<uid_t>(-1), now.st_gid) != 0) {
		// not a member of the group either
	}
	struct stat made;
	if (fstat(out, &made) == 0 && (made.st_uid != now.st_uid || made.st_gid != now.st_gid))
		file.owner_change = std::to_string(now.st_uid) + ":" + std::to_string(now.st_gid) +
		                    ", now " + std::to_string(made.st_uid) + ":" +
		                    std::to_string(made.st_gid);
}

// The new file, named, swapped with the file: what came out must be the
// file as the tool read it, or the swap is undone. Where names cannot be
// swapped, the name is checked just before the new file is renamed onto it.
bool put_in_place(file_in_place &file)
{
	system_file &s = *file.system;
	if (exchange_names(s.folder, s.new_name.c_str(), s.name.c_str()) != 0) {
		struct stat current;
		if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
			return fail(file, fix_step::replace);
		if (fstatat(s.folder, s.name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
		    current.st_dev != s.opened.st_dev || current.st_ino != s.opened.st_ino)
			return fail_changed(file);
		if (renameat(s.folder, s.new_name.c_str(), s.folder, s.name.c_str()) != 0)
			return fail(file, fix_step::replace);
		s.new_name.clear();
		new_file_named = 0;
		return true;
	}
	struct stat displaced, after;
	if (fstatat(s.folder, s.new_name.c_str(), &displaced, AT_SYMLINK_NOFOLLOW) != 0 ||
	    displaced.st_dev != s.opened.st_dev || displaced.st_ino != s.opened.st_ino ||
	    fstat(fileno(file.in), &after) != 0 || changed(s.opened, after, false)) {
		if (exchange_names(s.folder, s.new_name.c_str(), s.name.c_str()) == 0)
			return fail_changed(file); // the new file, back in its place, is removed
		// The other program's file is under the new file's name: kept.
		file.failed = fix_step::kept_aside;
		file.reason = file.folder + "/" + s.new_name;
		s.new_name.clear();
		new_file_named = 0;
		return false;
	}
	unlinkat(s.folder, s.new_name.c_str(), 0); // the old file
	s.new_name.clear();
	new_file_named = 0;
	return true;
}

// The folder held to be flushed, and what it is.
struct held_folder {
	int fd = -1;
	dev_t device;
	ino_t inode;
} held;

bool say_why(std::string &reason)
{
	reason = std::strerror(errno);
	return false;
}

// Filesystems that have no flush of a folder refuse it so.
bool flush_folder_now(int fd)
{
	return fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP;
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

bool is_terminal(std::FILE *stream)
{
	return isatty(fileno(stream)) != 0;
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
	char *resolved = realpath(path, nullptr);
	if (resolved == nullptr)
		return open_failed(file);
	const std::string full = resolved;
	std::free(resolved);
	const std::size_t slash = full.rfind('/');
	file.folder = slash == 0 ? "/" : full.substr(0, slash);
	s.name = full.substr(slash + 1);
	if (s.name.empty())
		return open_result::not_a_file; // the root folder
	if ((s.folder = open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
		return open_failed(file);
	// Not blocking, so that a FIFO is refused rather than waited on.
	const int fd = openat(s.folder, s.name.c_str(),
	                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return open_failed(file);
	if (fstat(fd, &s.opened) != 0 ||
	    (S_ISREG(s.opened.st_mode) && (file.in = fdopen(fd, "rb")) == nullptr)) {
		open_failed(file);
		close(fd);
		return open_result::failed;
	}
	if (!S_ISREG(s.opened.st_mode)) {
		close(fd);
		return open_result::not_a_file;
	}
	file.more_names = s.opened.st_nlink > 1;
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
	if ((file.out = fdopen(fd, "wb")) == nullptr) {
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

bool replace_file(file_in_place &file)
{
	system_file &s = *file.system;
	const int out = fileno(file.out);
	struct stat now;
	if (std::fflush(file.out) != 0)
		return fail(file, fix_step::write);
	if (fsync(out) != 0)
		return fail(file, fix_step::flush);
	if (fstat(fileno(file.in), &now) != 0)
		return fail(file, fix_step::replace);
	if (changed(s.opened, now, true))
		return fail_changed(file);
	// The owner first: changing it may clear the set-user-ID bits.
	keep_owner(file, out, now);
	if (fchmod(out, now.st_mode & 07777) != 0)
		return fail(file, fix_step::permissions);
	const sigset_t saved = hold_interrupts();
	bool done = !s.new_name.empty() || name_new_file(s, out) || fail(file, fix_step::replace);
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
	if (s != nullptr && s->folder >= 0)
		close(s->folder);
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

bool hold_folder(const file_in_place &file, std::string &reason)
{
	struct stat st;
	const int folder = file.system->folder;
	if (fstat(folder, &st) != 0 || (held.fd = fcntl(folder, F_DUPFD_CLOEXEC, 0)) < 0) {
		held.fd = -1;
		return flush_folder_now(folder) || say_why(reason);
	}
	held.device = st.st_dev;
	held.inode = st.st_ino;
	return true;
}

bool flush_held_folder(std::string &reason)
{
	if (held.fd < 0)
		return true;
	const bool flushed = flush_folder_now(held.fd) || say_why(reason);
	close(held.fd);
	held.fd = -1;
	return flushed;
}
