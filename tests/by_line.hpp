// The loop run from memory, and the output it must give: the exact rewrite
// applied a line at a time, each line's messages just before it. Shared by
// the unit tests and the fuzzer; glibc's memory streams.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "record_checksum.hpp"
#include "rewrite_stream.hpp"

inline std::string run_loop(const std::string &input, stream_result expected = stream_result::ok)
{
	std::FILE *in = fmemopen(const_cast<char *>(input.data()), input.size(), "rb");
	char *bytes = nullptr;
	std::size_t size = 0;
	std::FILE *out = open_memstream(&bytes, &size);
	if (in == nullptr || out == nullptr || rewrite_stream(in, out) != expected)
		std::abort();
	std::fclose(in);
	std::fclose(out);
	std::string output(bytes, size);
	std::free(bytes);
	return output;
}

inline std::string rewrite_by_line(const std::string &input)
{
	std::size_t start = input.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
	std::string output = input.substr(0, start);
	while (start < input.size()) {
		const std::size_t lf = std::min(input.find('\n', start), input.size());
		const std::size_t content =
		    lf > start && lf < input.size() && input[lf - 1] == '\r' ? lf - 1 : lf;
		// Room for the two checksum digits a record may lack.
		std::string line = input.substr(start, content - start) + "  ";
		std::string messages;
		line.resize(rewrite_record_line(line.data(), content - start, messages));
		start = std::min(lf + 1, input.size());
		output += messages + line + input.substr(content, start - content);
	}
	return output;
}
