// The stamps over an image: each range fed in address order, gaps as runs of
// the fill, and what each value comes to in words.
#include "stamps.hpp"

#include <algorithm>
#include <cstring>

namespace {

// A group that data and fill share is made up byte by byte, each where its
// group, reversed, puts it; whole groups go a chunk at a time.
void feed_pending(range_feed &feed, checksum_state &state, unsigned char byte)
{
	const unsigned group = std::min<unsigned>(feed.group, sizeof feed.pending);
	feed.pending[(group - 1 - feed.filled) % group] = byte;
	if (++feed.filled < group)
		return;
	add_bytes(state, feed.pending, group);
	feed.filled = 0;
}

void feed_bytes(range_feed &feed, checksum_state &state, const unsigned char *bytes,
                std::size_t count)
{
	if (feed.group == 1)
		return add_bytes(state, bytes, count);
	while (count != 0 && feed.filled != 0) {
		feed_pending(feed, state, *bytes++);
		--count;
	}
	unsigned char chunk[4096];
	while (count >= feed.group) {
		const std::size_t n = std::min(sizeof chunk, count - count % feed.group);
		for (std::size_t i = 0; i < n; i += feed.group)
			std::reverse_copy(bytes + i, bytes + i + feed.group, chunk + i);
		add_bytes(state, chunk, n);
		bytes += n;
		count -= n;
	}
	while (count-- != 0)
		feed_pending(feed, state, *bytes++);
}

// A group of fill bytes alone is the same in either order.
void feed_fill(range_feed &feed, checksum_state &state, unsigned char byte, std::uint64_t count)
{
	if (count == 0) // as between records that follow each other
		return;
	while (count != 0 && feed.filled != 0) {
		feed_pending(feed, state, byte);
		--count;
	}
	add_fill(state, byte, count - count % feed.group);
	for (count %= feed.group; count != 0; --count)
		feed_pending(feed, state, byte);
}

// The stamp's range over the image: its value, or the first address of a
// gap where there may be none.
bool range_value(const image_bytes &image, const crc_stamp &stamp, std::uint32_t &value,
                 std::uint64_t &gap)
{
	checksum_state state;
	begin_checksum(state, stamp.algorithm);
	range_feed feed{stamp.reverse, {}, 0};
	std::uint64_t next = stamp.from;
	auto it = image.stretches.upper_bound(stamp.from);
	if (it != image.stretches.begin())
		--it;
	for (; it != image.stretches.end() && it->first < stamp.to; ++it) {
		const std::uint64_t from = std::max(it->first, stamp.from);
		const std::uint64_t to = std::min(it->first + it->second.size(), stamp.to);
		if (to <= from)
			continue;
		if (from > next && stamp.fill < 0) {
			gap = next;
			return false;
		}
		feed_fill(feed, state, static_cast<unsigned char>(stamp.fill), from - next);
		const auto *bytes = reinterpret_cast<const unsigned char *>(it->second.data());
		feed_bytes(feed, state, bytes + (from - it->first),
		           static_cast<std::size_t>(to - from));
		next = to;
	}
	if (next < stamp.to && stamp.fill < 0) {
		gap = next;
		return false;
	}
	feed_fill(feed, state, static_cast<unsigned char>(stamp.fill), stamp.to - next);
	value = checksum_value(state);
	return true;
}

std::string stored_bytes(const crc_stamp &stamp, std::uint32_t value)
{
	const unsigned n = stored_size(stamp);
	std::string bytes(n, '\0');
	for (unsigned i = 0; i < n; ++i)
		bytes[stamp.big_endian ? n - 1 - i : i] =
		    static_cast<char>(value >> (8 * i) & 0xFF);
	return bytes;
}

// The value's low digits, upper case.
std::string hex(std::uint64_t value, unsigned digits)
{
	std::string text(digits, '0');
	for (unsigned i = digits; i-- != 0; value >>= 4)
		text[i] = "0123456789ABCDEF"[value & 0xF];
	return text;
}

std::string doubtful_words(const doubtful_bytes &d, std::uint64_t address)
{
	switch (d.why) {
	case doubt::past_boundary:
		return address_text(address) + " is in line " + std::to_string(d.line) +
		       " past the 64 KiB boundary that record runs over, where loaders disagree on "
		       "the addresses of its bytes";
	case doubt::wrapped:
		return address_text(address) + " is where line " + std::to_string(d.line) +
		       " puts bytes for loaders that wrap a record over a 64 KiB boundary to the "
		       "start of its segment, as some do";
	default:
		return "the address record of line " + std::to_string(d.line) +
		       " has a wrong count, which loaders may or may not take as the base of the "
		       "records after it";
	}
}

} // namespace

unsigned stored_size(const crc_stamp &stamp)
{
	return (stamp.algorithm.width + 7) / 8;
}

void begin_stamp_image(image_bytes &image, const std::vector<crc_stamp> &stamps)
{
	std::vector<address_range> ranges;
	std::vector<std::uint64_t> watched;
	for (const crc_stamp &stamp : stamps) {
		ranges.push_back({stamp.from, stamp.to});
		if (stamp.at == no_address)
			continue;
		ranges.push_back({stamp.at, stamp.at + stored_size(stamp)});
		watched.push_back(stamp.at);
	}
	begin_image(image, ranges, watched);
}

namespace {

// What a stamp came to, its range's value found or not.
stamp_value value_of(const crc_stamp &stamp, std::uint32_t value, const std::string &problem,
                     const image_bytes &stored)
{
	if (!problem.empty())
		value = 0; // none
	stamp_value v{value, stored_bytes(stamp, value), problem, "", {}};
	if (stamp.at != no_address)
		v.stored = bytes_at(stored, stamp.at, stamp.at + stored_size(stamp), v.held);
	return v;
}

std::string gap_words(std::uint64_t gap)
{
	return address_text(gap) + " is not in the file, and fill=none";
}

// Why loaders may not agree on the bytes of the stamp's range, or "".
std::string doubtful_range(const image_bytes &image, const crc_stamp &stamp)
{
	const doubtful_bytes *d = doubtful_in(image, stamp.from, stamp.to);
	return d == nullptr ? "" : doubtful_words(*d, std::max(d->from, stamp.from));
}

} // namespace

std::vector<stamp_value> compute_stamps(image_bytes &image, const std::vector<crc_stamp> &stamps,
                                        const edit_plan &edits, bool chained)
{
	for (const edit_span &span : edits.spans)
		put_bytes(image, span.from, span.bytes);
	std::vector<stamp_value> values;
	for (const crc_stamp &stamp : stamps) {
		std::uint32_t value = 0;
		std::uint64_t gap = 0;
		std::string problem = doubtful_range(image, stamp);
		if (problem.empty() && !range_value(image, stamp, value, gap))
			problem = gap_words(gap);
		values.push_back(value_of(stamp, value, problem, image));
		if (chained && problem.empty() && stamp.at != no_address)
			put_bytes(image, stamp.at, values.back().bytes);
	}
	return values;
}

bool can_stream(const std::vector<crc_stamp> &stamps, bool chained)
{
	if (!chained)
		return true;
	for (std::size_t i = 0; i < stamps.size(); ++i)
		for (std::size_t j = 0; j < i; ++j)
			if (stamps[j].at != no_address && stamps[j].at < stamps[i].to &&
			    stamps[j].at + stored_size(stamps[j]) > stamps[i].from)
				return false;
	return true;
}

namespace {

// Records are a few bytes each: fed a batch at a time, the tables run
// longer.
constexpr std::size_t batch_size = std::size_t{1} << 16;

void feed_batch(running_stamp &r)
{
	feed_bytes(r.feed, r.state, reinterpret_cast<const unsigned char *>(r.batch.data()),
	           r.batch.size());
	r.batch.clear();
}

// A piece of the image as a loader would write it, the edits' bytes over
// it, into each stamp whose range it meets; a piece below what a stamp was
// fed breaks the order.
void stream_piece(void *context, std::uint64_t address, const char *bytes, std::size_t count)
{
	auto &stream = *static_cast<stamp_stream *>(context);
	unsigned char piece[255];
	std::memcpy(piece, bytes, count);
	const std::uint64_t to = address + count;
	for (auto a = next_edited(*stream.edits, address); a < to;
	     a = next_edited(*stream.edits, a + 1))
		piece[a - address] = static_cast<unsigned char>(edited_byte(*stream.edits, a));
	if (next_wanted(stream.stored, address) < to)
		put_bytes(stream.stored, address,
		          std::string(reinterpret_cast<char *>(piece), count));
	for (std::size_t i = 0; i < stream.running.size(); ++i) {
		const crc_stamp &stamp = (*stream.stamps)[i];
		running_stamp &r = stream.running[i];
		const std::uint64_t from = std::max(address, stamp.from),
		                    end = std::min(to, stamp.to);
		if (from >= end)
			continue;
		if (from < r.next) {
			stream.out_of_order = true;
			continue;
		}
		if (from > r.next && stamp.fill < 0 && r.gap == no_address)
			r.gap = r.next;
		if (from > r.next && stamp.fill >= 0) {
			feed_batch(r);
			feed_fill(r.feed, r.state, static_cast<unsigned char>(stamp.fill),
			          from - r.next);
		}
		r.batch.append(reinterpret_cast<const char *>(piece) + (from - address),
		               static_cast<std::size_t>(end - from));
		if (r.batch.size() >= batch_size)
			feed_batch(r);
		r.next = end;
	}
}

} // namespace

void begin_stamp_stream(stamp_stream &stream, image_bytes &image,
                        const std::vector<crc_stamp> &stamps, const edit_plan &edits)
{
	stream.stamps = &stamps;
	stream.edits = &edits;
	stream.out_of_order = false;
	stream.running.resize(stamps.size());
	std::vector<address_range> stored;
	for (std::size_t i = 0; i < stamps.size(); ++i) {
		running_stamp &r = stream.running[i];
		begin_checksum(r.state, stamps[i].algorithm);
		r.feed = range_feed{stamps[i].reverse, {}, 0};
		r.next = stamps[i].from;
		r.gap = no_address;
		r.batch.reserve(batch_size + 255);
		if (stamps[i].at != no_address)
			stored.push_back({stamps[i].at, stamps[i].at + stored_size(stamps[i])});
	}
	begin_image(stream.stored, stored, {});
	image.sink = stream_piece;
	image.sink_context = &stream;
}

std::vector<stamp_value> end_stamp_stream(stamp_stream &stream, const image_bytes &image)
{
	std::vector<stamp_value> values;
	for (std::size_t i = 0; i < stream.running.size(); ++i) {
		const crc_stamp &stamp = (*stream.stamps)[i];
		running_stamp &r = stream.running[i];
		feed_batch(r);
		std::string problem = doubtful_range(image, stamp);
		if (problem.empty() && stamp.fill < 0 && (r.gap != no_address || r.next < stamp.to))
			problem = gap_words(r.gap != no_address ? r.gap : r.next);
		if (stamp.fill >= 0)
			feed_fill(r.feed, r.state, static_cast<unsigned char>(stamp.fill),
			          stamp.to - r.next);
		values.push_back(value_of(stamp, checksum_value(r.state), problem, stream.stored));
	}
	return values;
}

namespace {

bool meet(std::uint64_t from, std::uint64_t to, std::uint64_t other_from, std::uint64_t other_to)
{
	return from < other_to && other_from < to;
}

} // namespace

std::string stamp_conflict(const std::vector<crc_stamp> &stamps,
                           const std::vector<byte_edit> &edits)
{
	for (std::size_t i = 0; i < stamps.size(); ++i) {
		const crc_stamp &stamp = stamps[i];
		if (stamp.at == no_address)
			continue;
		const std::uint64_t to = stamp.at + stored_size(stamp);
		const std::string value =
		    "the value of " + stamp_range_words(stamp) + " at " + address_text(stamp.at);
		for (std::size_t j = 0; j < i; ++j) {
			if (meet(stamp.at, to, stamps[j].from, stamps[j].to))
				return value +
				       " is in the range of an earlier --crc, which it would make "
				       "wrong: give it before that one";
			if (stamps[j].at != no_address &&
			    meet(stamp.at, to, stamps[j].at, stamps[j].at + stored_size(stamps[j])))
				return value + " meets that of an earlier --crc";
		}
		for (const byte_edit &edit : edits)
			if (meet(stamp.at, to, edit.address, edit.address + edit.bytes.size()))
				return value + " meets bytes --set sets";
	}
	return "";
}

std::vector<byte_edit> stamped_edits(const std::vector<byte_edit> &edits,
                                     const std::vector<crc_stamp> &stamps,
                                     const std::vector<stamp_value> &values)
{
	std::vector<byte_edit> all = edits;
	for (std::size_t i = 0; i < stamps.size(); ++i)
		if (stamps[i].at != no_address)
			all.push_back({stamps[i].at, values.empty()
			                                 ? std::string(stored_size(stamps[i]), '\0')
			                                 : values[i].bytes});
	return all;
}

std::string stamp_range_words(const crc_stamp &stamp)
{
	return stamp.algorithm.name + " of " + address_text(stamp.from) + "-" +
	       address_text(stamp.to - 1);
}

std::string value_digits(const crc_stamp &stamp, std::uint32_t value)
{
	return hex(value, 2 * stored_size(stamp));
}

std::string said_value_words(const crc_stamp &stamp, const stamp_value &value)
{
	return stamp_range_words(stamp) + ": " +
	       (value.problem.empty() ? "0x" + value_digits(stamp, value.value) : value.problem);
}

std::string check_stamp_words(const crc_stamp &stamp, const stamp_value &value,
                              const image_bytes &image, std::size_t &line, std::size_t &column)
{
	const auto watched =
	    std::find_if(image.watched.begin(), image.watched.end(),
	                 [&](const watched_address &w) { return w.address == stamp.at; });
	line = watched->line;
	column = watched->column;
	if (!value.problem.empty())
		return stamp_range_words(stamp) + " cannot be computed: " + value.problem;
	const std::vector<bool> &held = value.held;
	const std::string &stored = value.stored;
	const auto missing = std::find(held.begin(), held.end(), false);
	const std::string said = stamp_range_words(stamp) + " is " +
	                         value_digits(stamp, value.value) + "; stored at " +
	                         address_text(stamp.at);
	const doubtful_bytes *d = doubtful_in(image, stamp.at, stamp.at + stored_size(stamp));
	if (d != nullptr)
		return said + ": " + doubtful_words(*d, std::max(d->from, stamp.at));
	if (missing != held.end())
		return said + ": " +
		       address_text(stamp.at + static_cast<std::uint64_t>(missing - held.begin())) +
		       " is not in the file";
	if (stored == value.bytes)
		return "";
	std::uint64_t was = 0;
	for (std::size_t i = 0; i < stored.size(); ++i)
		was |= std::uint64_t{static_cast<unsigned char>(
		           stored[stamp.big_endian ? stored.size() - 1 - i : i])}
		       << (8 * i);
	const char *order = stored.size() == 1 ? ""
	                    : stamp.big_endian ? " (big-endian)"
	                                       : " (little-endian)";
	return said + order + ": " + hex(was, 2 * stored_size(stamp));
}

void note_stamped(edit_progress &progress, const std::vector<crc_stamp> &stamps,
                  const std::vector<stamp_value> &values)
{
	for (std::size_t i = 0; i < stamps.size(); ++i)
		if (stamps[i].at != no_address)
			progress.stamped.emplace_back(stamps[i].algorithm.name + " " +
			                                  value_digits(stamps[i], values[i].value) +
			                                  " written at " +
			                                  address_text(stamps[i].at),
			                              stamps[i].at);
}
