// system_calls.hpp where Linux's calls are missing: each says so, or does
// what POSIX can, and the portable way is taken.
#include "system_calls.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

int open_folder(int at, const char *name)
{
	const int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_SEARCH
	if (fd < 0 && errno == EACCES) // entered, not listed
		return openat(at, name, O_SEARCH | O_DIRECTORY | O_CLOEXEC);
#endif
	return fd;
}

int open_unnamed_file(int)
{
	errno = ENOSYS;
	return -1;
}

int name_unnamed_file(int, int, const char *)
{
	errno = ENOSYS;
	return -1;
}

int exchange_names(int, const char *, const char *)
{
	errno = ENOSYS;
	return -1;
}

long long copy_in_kernel(int, std::uint64_t, int, std::size_t)
{
	errno = ENOSYS;
	return -1;
}

void start_writing_back(int)
{
}

// Every filesystem: POSIX has no call for one.
int flush_filesystem(int)
{
	sync();
	return 0;
}

// Their calls differ from system to system: neither is carried over.
int copy_access_list_and_attributes(int, int)
{
	return 0;
}

int remove_access_list(int)
{
	return 0;
}

int watch_file(int)
{
	return -1;
}

int watch_changes(int)
{
	return 0;
}

void stop_watching(int)
{
}
