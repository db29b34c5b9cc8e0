// What the command line's parts share: the statuses of --check and
// --in-place, and the tool's lines on standard error.
#pragma once

#include <cstdio>
#include <string>

// With several files the highest wins. The plain run keeps its own: 0, 1 for
// a failure, 2 for a usage error.
enum status { clean = 0, flawed = 1, failed = 2 };

// What kept the tool from doing what was asked, which must not pass for
// success, and what it did to files in place.
inline bool complain(const std::string &name, const std::string &reason)
{
	std::fprintf(stderr, "tallyfix: %s: %s\n", name.c_str(), reason.c_str());
	return false;
}

inline status complain(status result, const std::string &name, const std::string &reason)
{
	complain(name, reason);
	return result;
}
