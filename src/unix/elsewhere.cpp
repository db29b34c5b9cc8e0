// system_calls.hpp where Linux's calls are missing: each says so, and the
// portable way is taken.
#include "system_calls.hpp"

#include <cerrno>

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
