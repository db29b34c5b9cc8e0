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
		std::size_t end = std::min(input.find('\n', start), input.size() - 1) + 1;
		std::size_t content = end;
		if (input[end - 1] == '\n')
			content -= end - start > 1 && input[end - 2] == '\r' ? 2u : 1u;
		std::string line =
		    input.substr(start, content - start) + "  "; // room for two digits
		std::string messages;
		line.resize(rewrite_record_line(line.data(), content - start, messages));
		output += messages + line + input.substr(content, end - content);
		start = end;
	}
	return output;
}
