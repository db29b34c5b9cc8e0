// The Linux calls of system_calls.hpp.
#include "system_calls.hpp"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

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
