// The loop run from memory, and the output it must give: the exact rewrite
// applied a line at a time, each line's messages just before it. Shared by
// the unit tests and the fuzzer; glibc's memory and cookie streams.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "rewrite_stream.hpp"

// An unbuffered output, as the tool's standard output is, that keeps what
// it is given, or refuses its first write by taking none of it (a cookie
// may not return a negative count).
struct sink {
	std::string bytes;
	bool refuse_next;
};

inline ssize_t take(void *cookie, const char *bytes, std::size_t size)
{
	sink &out = *static_cast<sink *>(cookie);
	if (std::exchange(out.refuse_next, false))
		return 0;
	out.bytes.append(bytes, size);
	return static_cast<ssize_t>(size);
}

// A failed write is made to happen, at the first one, when it is expected.
inline std::string run_loop(const std::string &input, simd_level level, std::size_t block_size,
                            stream_result expected = stream_result::ok)
{
	std::FILE *in = fmemopen(const_cast<char *>(input.data()), input.size(), "rb");
	sink output{{}, expected == stream_result::write_failed};
	std::FILE *out = fopencookie(&output, "wb", {nullptr, take, nullptr, nullptr});
	// Kept from run to run, as a fresh 1 MiB block costs AddressSanitizer more
	// than the run; exactly as large as the loop may use, so that it sees a
	// read past the end.
	static std::vector<char> block;
	block.resize(block_size + 2);
	block.shrink_to_fit();
	if (in == nullptr || out == nullptr || std::setvbuf(out, nullptr, _IONBF, 0) != 0 ||
	    rewrite_stream(in, out,
	                   {level, block.data(), block_size, false, nullptr, nullptr, false})
	            .result != expected)
		std::abort();
	std::fclose(in);
	std::fclose(out);
	return output.bytes;
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
