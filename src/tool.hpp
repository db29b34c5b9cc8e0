// What the command line's parts share: the statuses of --check and
// --in-place, and the tool's lines on standard error.
#pragma once

#include <cstdio>
#include <string>

// With several files the highest wins. The plain run keeps its own: 0, 1 for
// a failure, 2 for a usage error.
enum status { clean = 0, flawed = 1, failed = 2 };

#include "findings.hpp"

// In the SARIF output; the version line says it too.
constexpr char tool_version[] = "1.1";

// Where users learn more about the tool, in the SARIF output: a placeholder
// of the reserved .invalid domain until the project has a public home.
constexpr char tool_home[] = "https://example.invalid/tallyfix";

// Said of a file that is UTF-16 text, which no run takes.
constexpr char utf16_words[] = "the file is UTF-16 text: save it as plain text and try again";

// What kept the tool from doing what was asked, which must not pass for
// success, and what it did to files in place: after whatever standard
// output holds, so that with 2>&1 each file's lines keep their order.
inline bool complain(const std::string &name, const std::string &reason)
{
	std::fflush(stdout); // a failed write is seen at the end
	std::fprintf(stderr, "tallyfix: %s: %s\n", one_line(name).c_str(), reason.c_str());
	return false;
}

inline status complain(status result, const std::string &name, const std::string &reason)
{
	complain(name, reason);
	return result;
}
