// The Linux calls of system_calls.hpp.
#include "system_calls.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const char access_list[] = "system.posix_acl_access";

// The value of one extended attribute, copied; false with errno.
bool copy_attribute(int from, int to, const char *name)
{
	std::vector<char> value;
	for (int tries = 0; tries < 4; ++tries) {
		const ssize_t size = fgetxattr(from, name, nullptr, 0);
		if (size < 0)
			return false;
		value.resize(static_cast<std::size_t>(size) + 1);
		const ssize_t got = fgetxattr(from, name, value.data(), value.size());
		if (got >= 0)
			return fsetxattr(to, name, value.data(), static_cast<std::size_t>(got),
			                 0) == 0;
		if (errno != ERANGE) // grown meanwhile: asked again
			return false;
	}
	return false;
}

// The names of the file's extended attributes, each ending with a NUL;
// false with errno.
bool attribute_names(int fd, std::vector<char> &names)
{
	for (int tries = 0; tries < 4; ++tries) {
		const ssize_t size = flistxattr(fd, nullptr, 0);
		if (size < 0)
			return false;
		names.resize(static_cast<std::size_t>(size) + 1);
		const ssize_t got = flistxattr(fd, names.data(), names.size());
		if (got >= 0) {
			names.resize(static_cast<std::size_t>(got));
			return true;
		}
		if (errno != ERANGE)
			return false;
	}
	return false;
}

bool no_attributes_here(int error)
{
	return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

int notify = -1; // one inotify instance for the run, for one file at a time

} // namespace

int open_folder(int at, const char *name)
{
	return openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int open_unnamed_file(int folder)
{
	// It is named through /proc, which a chroot may lack: then it is named
	// from the start.
	if (access("/proc/self/fd", X_OK) != 0) {
		errno = ENOSYS;
		return -1;
	}
	return openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

int name_unnamed_file(int fd, int folder, const char *name)
{
	char path[32];
	std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
	return linkat(AT_FDCWD, path, folder, name, AT_SYMLINK_FOLLOW);
}

int exchange_names(int folder, const char *one, const char *other)
{
	return renameat2(folder, one, folder, other, RENAME_EXCHANGE);
}

long long copy_in_kernel(int in, std::uint64_t offset, int out, std::size_t size)
{
	auto from = static_cast<off_t>(offset);
	return copy_file_range(in, &from, out, nullptr, size, 0);
}

void start_writing_back(int fd)
{
	sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); // a hint: a failure costs only time
}

int flush_filesystem(int fd)
{
	return syncfs(fd);
}

int copy_access_list_and_attributes(int from, int to)
{
	std::vector<char> names;
	if (!attribute_names(from, names))
		return no_attributes_here(errno) ? 0 : -1;
	bool listed = false;
	for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
		const char *name = names.data() + at;
		const bool is_list = std::strcmp(name, access_list) == 0;
		listed = listed || is_list;
		if ((is_list || std::strncmp(name, "user.", 5) == 0) &&
		    !copy_attribute(from, to, name) && errno != ENODATA) // removed meanwhile
			return -1;
	}
	return listed ? 0 : remove_access_list(to);
}

int remove_access_list(int fd)
{
	return fremovexattr(fd, access_list) == 0 || errno == ENODATA || no_attributes_here(errno)
	           ? 0
	           : -1;
}

int watch_file(int fd)
{
	if (notify < 0 && (notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) < 0)
		return -1;
	watch_changes(-1); // what earlier files left in the queue
	char path[32];
	std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
	return inotify_add_watch(notify, path, IN_MODIFY | IN_ATTRIB);
}

int watch_changes(int watch)
{
	alignas(inotify_event) char events[4096];
	bool seen = false;
	ssize_t got;
	while ((got = read(notify, events, sizeof events)) > 0) {
		for (ssize_t at = 0; at < got;) {
			inotify_event event;
			std::memcpy(&event, events + at, sizeof event);
			seen = seen || event.wd == watch || (event.mask & IN_Q_OVERFLOW) != 0;
			at += static_cast<ssize_t>(sizeof event + event.len);
		}
	}
	if (seen)
		return 1;
	return got == 0 || errno == EAGAIN ? 0 : -1;
}

void stop_watching(int watch)
{
	if (watch >= 0)
		inotify_rm_watch(notify, watch);
}
