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

// The counts of a repair, after its output.
inline std::string with_counts(std::string output, std::size_t mended, std::size_t refused,
                               std::size_t left)
{
	return output + "[" + std::to_string(mended) + " " + std::to_string(refused) + " " +
	       std::to_string(left) + "]";
}

// The plain rewrite, or a repair with its counts after the output: as
// --check runs it (each fix reported, so the fast paths only verify) or as
// --in-place writes a file (the fast paths mend). A failed write is made to
// happen, at the first one, when it is expected.
enum class loop_kind { plain, check, fix };

inline std::string run_loop(const std::string &input, simd_level level, std::size_t block_size,
                            loop_kind kind, stream_result expected = stream_result::ok)
{
	const bool repair = kind != loop_kind::plain;
	std::FILE *in = fmemopen(const_cast<char *>(input.data()), input.size(), "rb");
	sink output{{}, expected == stream_result::write_failed};
	std::FILE *out = fopencookie(&output, "wb", {nullptr, take, nullptr, nullptr});
	// Kept from run to run, as a fresh 1 MiB block costs AddressSanitizer more
	// than the run; exactly as large as the loop may use, so that it sees a
	// read past the end.
	static std::vector<char> block;
	block.resize(block_size + 2);
	block.shrink_to_fit();
	const loop_settings settings{
	    level, block.data(), block_size, repair, "", nullptr, kind == loop_kind::check};
	stream_outcome found{};
	if (in == nullptr || out == nullptr || std::setvbuf(out, nullptr, _IONBF, 0) != 0 ||
	    (found = rewrite_stream(in, out, settings)).result != expected)
		std::abort();
	std::fclose(in);
	std::fclose(out);
	return repair ? with_counts(output.bytes, found.mended, found.refused, found.left)
	              : output.bytes;
}

inline std::string rewrite_by_line(const std::string &input, bool repair = false)
{
	std::size_t start = input.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
	std::size_t mended = 0, refused = 0, left = 0;
	std::string output = input.substr(0, start);
	while (start < input.size()) {
		const std::size_t lf = std::min(input.find('\n', start), input.size());
		const std::size_t content =
		    lf > start && lf < input.size() && input[lf - 1] == '\r' ? lf - 1 : lf;
		// Room for the two checksum digits a record may lack.
		std::string line = input.substr(start, content - start) + "  ";
		std::string messages;
		const record_check check = check_record(line.data(), content - start);
		if (!repair)
			line.resize(rewrite_record_line(line.data(), content - start, messages));
		else
			line.resize(can_mend(check)
			                ? mend_record(line.data(), content - start, check)
			                : content - start);
		mended += can_mend(check);
		refused += check.kind == flaw::bad_digit || check.kind == flaw::digits_missing;
		left +=
		    check.kind == flaw::not_a_record ||
		    ((check.kind == flaw::checksum_missing || check.kind == flaw::checksum_wrong) &&
		     check.type != 0);
		start = std::min(lf + 1, input.size());
		output += messages + line + input.substr(content, start - content);
	}
	return repair ? with_counts(output, mended, refused, left) : output;
}
