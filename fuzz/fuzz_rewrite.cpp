// Fuzz target: arbitrary bytes through the read-rewrite-write loop, in
// memory, with small read blocks. Whatever the input, the output must be
// the exact rewrite applied a line at a time, however the blocks, the fast
// path and the long-line handling cut it; UTF-16 text, and only that, is
// refused; and output with no message in it comes back unchanged when run
// again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "by_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	if (input.rfind("\xFF\xFE", 0) == 0 || input.rfind("\xFE\xFF", 0) == 0) {
		if (!run_loop(input, stream_result::utf16_text).empty())
			std::abort();
		return 0;
	}
	const std::string output = run_loop(input);
	if (output != rewrite_by_line(input))
		std::abort();
	if (output.find("invalid hex digit ") == std::string::npos && run_loop(output) != output)
		std::abort();
	return 0;
}
