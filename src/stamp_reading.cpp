// The values of --crc from a reading of the file: streamed, or kept.
#include "stamp_reading.hpp"

#include <cerrno>

#include "rewrite_stream.hpp"
#include "simd_level.hpp"

value_source source_of(std::FILE *in)
{
	return std::fseek(in, 0, SEEK_CUR) == 0 ? value_source::streamed : value_source::kept;
}

void begin_value_reading(value_reading &reading, file_structure &structure,
                         const std::vector<crc_stamp> &stamps, const edit_plan &edits, bool chained,
                         value_source source)
{
	reading.stamps = &stamps;
	reading.edits = &edits;
	reading.chained = chained;
	reading.source = source == value_source::streamed && !can_stream(stamps, chained)
	                     ? value_source::kept
	                     : source;
	if (reading.source == value_source::none)
		return;
	begin_stamp_image(reading.image, stamps);
	if (reading.source == value_source::streamed)
		begin_stamp_stream(reading.stream, reading.image, stamps, edits);
	keep_image(structure, reading.image);
}

bool end_value_reading(value_reading &reading, std::vector<stamp_value> &values)
{
	values.clear();
	if (reading.source == value_source::none)
		return true;
	if (reading.source == value_source::streamed && reading.stream.out_of_order)
		return false;
	values =
	    reading.source == value_source::streamed
	        ? end_stamp_stream(reading.stream, reading.image)
	        : compute_stamps(reading.image, *reading.stamps, *reading.edits, reading.chained);
	return true;
}

namespace {

void ignore_finding(void *, const finding &)
{
}

} // namespace

bool read_values_kept(std::FILE *in, value_reading &reading, std::vector<stamp_value> &values)
{
	if (std::fseek(in, 0, SEEK_SET) != 0)
		return false;
	file_structure structure;
	begin_structure(structure, ignore_finding, nullptr);
	begin_value_reading(reading, structure, *reading.stamps, *reading.edits, reading.chained,
	                    value_source::kept);
	const loop_settings settings{best_simd_level(),
	                             tool_block(),
	                             default_block_size,
	                             true,
	                             false,
	                             nullptr,
	                             nullptr,
	                             &structure,
	                             nullptr,
	                             nullptr,
	                             false,
	                             nullptr};
	const stream_outcome outcome = rewrite_stream(in, nullptr, settings);
	if (outcome.result != stream_result::ok) {
		errno = outcome.result == stream_result::read_failed ? outcome.error : EIO;
		return false;
	}
	return end_value_reading(reading, values);
}

bool values_of_reading(std::FILE *in, value_reading &reading, std::vector<stamp_value> &values)
{
	return end_value_reading(reading, values) || read_values_kept(in, reading, values);
}
