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
// edits of --set, which a second time change nothing, and the image --crc
// computes over.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../tests/by_line.hpp"
#include "stamps.hpp"

namespace {

crc_stamp stamp_of(const char *name, std::uint64_t from, std::uint64_t to, std::uint64_t at,
                   int fill, unsigned reverse)
{
	crc_stamp stamp{{}, from, to, at, false, fill, reverse};
	find_checksum(name, stamp.algorithm);
	return stamp;
}

bool same_image(const image_bytes &a, const image_bytes &b)
{
	const auto same_doubtful = [](const doubtful_bytes &x, const doubtful_bytes &y) {
		return x.from == y.from && x.to == y.to && x.why == y.why && x.line == y.line;
	};
	const auto same_watched = [](const watched_address &x, const watched_address &y) {
		return x.line == y.line && x.column == y.column;
	};
	return a.stretches == b.stretches &&
	       std::equal(a.doubtful.begin(), a.doubtful.end(), b.doubtful.begin(),
	                  b.doubtful.end(), same_doubtful) &&
	       std::equal(a.watched.begin(), a.watched.end(), b.watched.begin(), b.watched.end(),
	                  same_watched);
}

// The image where fuzzed records land is the same whichever path took each
// record, and a stream that found the records in order comes to the values
// the image kept whole gives.
void check_image(const std::string &file, simd_level level, std::size_t block_size)
{
	const std::vector<crc_stamp> stamps = {
	    stamp_of("crc-32", 0x0, 0x200, 0x200, 0xFF, 1),
	    stamp_of("crc-16/xmodem", 0xFFF0, 0x10010, no_address, -1, 2),
	    stamp_of("sum16", 0x08000000, 0x08000100, 0x0800FFFE, 0x00, 4)};
	const edit_plan none{};
	image_bytes fast, exact, streamed;
	stamp_stream stream;
	for (image_bytes *image : {&fast, &exact, &streamed})
		begin_stamp_image(*image, stamps);
	begin_stamp_stream(stream, streamed, stamps, none);
	run_loop(file, level, block_size, loop_kind::check, stream_result::ok, nullptr, &fast);
	rewrite_by_line(file, loop_kind::check, block_size, nullptr, &exact);
	run_loop(file, level, block_size, loop_kind::check, stream_result::ok, nullptr, &streamed);
	if (!same_image(fast, exact))
		std::abort();
	if (stream.out_of_order)
		return;
	const std::vector<stamp_value> kept = compute_stamps(fast, stamps, none, true),
	                               as_read = end_stamp_stream(stream, streamed);
	for (std::size_t i = 0; i < stamps.size(); ++i)
		if (kept[i].bytes != as_read[i].bytes || kept[i].problem != as_read[i].problem ||
		    kept[i].stored != as_read[i].stored || kept[i].held != as_read[i].held)
			std::abort();
}

} // namespace

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
	check_image(file, level, block_size);
	return 0;
}
