// Fuzz target: arbitrary bytes through the read-rewrite-write loop, in
// memory. The first byte picks the level (its value modulo 3, up to the best
// this processor has), the second the read block size, the rest is the file.
// Whatever the file, the output must be the exact rewrite, or the repair of
// --check and of --in-place, a line at a time, however the blocks, the fast
// paths and the long-line handling cut it; nothing but UTF-16 text is
// refused; output with no message in it comes back unchanged when run again;
// a file a repair finds clean comes back unchanged from it; and a fix that
// refused nothing leaves nothing more to mend or refuse, only what it left,
// and the structure as it found it. The structure checks tell the same
// whether the fast paths or the exact path took a record, and so do the
// edits of --set, which a second time change nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../tests/by_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	if (size < 2 || input.compare(2, 2, "\xFF\xFE") == 0 ||
	    input.compare(2, 2, "\xFE\xFF") == 0)
		return 0;
	const auto level =
	    static_cast<simd_level>(std::min(data[0] % 3, static_cast<int>(best_simd_level())));
	const std::size_t block_size = smallest_block_size + 4u * data[1];
	const std::string file = input.substr(2);
	const std::string output = run_loop(file, level, block_size, loop_kind::plain);
	if (output != rewrite_by_line(file, loop_kind::plain, block_size) ||
	    (output.find("invalid hex digit ") == std::string::npos &&
	     run_loop(output, level, block_size, loop_kind::plain) != output))
		std::abort();
	const std::string checked = run_loop(file, level, block_size, loop_kind::check);
	const std::string repaired = run_loop(file, level, block_size, loop_kind::fix);
	const std::string fixed = repaired.substr(0, repaired.rfind('['));
	const std::string structure = repaired.substr(repaired.find(']', fixed.size()) + 1);
	unsigned long mended = 0, refused = 0, left = 0;
	std::sscanf(repaired.c_str() + fixed.size(), "[%lu %lu %lu]", &mended, &refused, &left);
	// A fix changes checksums, never what the structure checks see.
	if (checked != rewrite_by_line(file, loop_kind::check, block_size) ||
	    repaired != rewrite_by_line(file, loop_kind::fix, block_size) ||
	    (mended + refused + left == 0 && checked != with_counts(file, 0, 0, 0, structure)) ||
	    (refused == 0 && run_loop(fixed, level, block_size, loop_kind::check) !=
	                         with_counts(fixed, 0, 0, left, structure)))
		std::abort();
	// Bytes set where fuzzed records land: low addresses, sparse and dense,
	// over a 64 KiB boundary and at an image's usual place.
	const auto value = static_cast<char>(data[0] ^ 0xA5);
	const edit_plan edits = plan_edits({{0x0, std::string(16, value)},
	                                    {0x21, std::string(3, value)},
	                                    {0x100, std::string(0x80, value)},
	                                    {0xFFF0, std::string(0x20, value)},
	                                    {0x08000004, std::string(4, value)}});
	const std::string edited =
	    run_loop(file, level, block_size, loop_kind::fix, stream_result::ok, &edits);
	if (edited != rewrite_by_line(file, loop_kind::fix, block_size, &edits) ||
	    run_loop(file, level, block_size, loop_kind::check, stream_result::ok, &edits) !=
	        rewrite_by_line(file, loop_kind::check, block_size, &edits))
		std::abort();
	const std::string edited_file = edited.substr(0, edited.rfind('['));
	const std::string again =
	    run_loop(edited_file, level, block_size, loop_kind::fix, stream_result::ok, &edits);
	const std::string counts = again.substr(again.rfind('['));
	if (refused == 0 &&
	    (counts.rfind("[0 0 ", 0) != 0 || counts.find("{0 ") == std::string::npos))
		std::abort();
	return 0;
}
