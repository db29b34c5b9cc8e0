// Fuzz target: arbitrary bytes through the read-rewrite-write loop, in
// memory, with small read blocks. Whatever the input, the output must be
// the exact rewrite applied a line at a time, however the blocks, the fast
// path and the long-line handling cut it; UTF-16 text, and only that, is
// refused; and output with no message in it comes back unchanged when run
// again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../tests/by_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	const bool utf16 = input.rfind("\xFF\xFE", 0) == 0 || input.rfind("\xFE\xFF", 0) == 0;
	const std::string output =
	    run_loop(input, utf16 ? stream_result::utf16_text : stream_result::ok);
	if (output != (utf16 ? "" : rewrite_by_line(input)))
		std::abort();
	if (output.find("invalid hex digit ") == std::string::npos && run_loop(output) != output)
		std::abort();
	return 0;
}
