// The image within the ranges asked for: records in address order append to
// the last stretch; any other record is merged into the stretches it meets.
#include "image.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

void begin_image(image_bytes &image, const std::vector<address_range> &ranges,
                 const std::vector<std::uint64_t> &watched)
{
	image = image_bytes{};
	std::vector<address_range> sorted = ranges;
	std::sort(sorted.begin(), sorted.end(),
	          [](const address_range &a, const address_range &b) { return a.from < b.from; });
	for (const address_range &r : sorted) {
		if (r.from >= r.to)
			continue;
		if (!image.wanted.empty() && image.wanted.back().to >= r.from)
			image.wanted.back().to = std::max(image.wanted.back().to, r.to);
		else
			image.wanted.push_back(r);
	}
	for (const std::uint64_t address : watched)
		image.watched.push_back({address, 0, 0});
}

namespace {

// A hexadecimal digit's value, of a record already checked: its low four
// bits, plus 9 for a letter, the only digits with the 0x40 bit.
unsigned digit_value(char c)
{
	const auto d = static_cast<unsigned char>(c);
	return (d & 0x0Fu) + (d >> 6 & 1u) * 9;
}

// The bytes of 2 * count digits, eight digits at a time as one word: a
// little-endian load has them in column order, each pair's first digit
// the high half of its byte.
void decode_digits(const char *digits, char *bytes, std::size_t count)
{
	std::size_t i = 0;
	for (; i + 4 <= count; i += 4) {
		std::uint64_t chars;
		std::memcpy(&chars, digits + 2 * i, sizeof chars);
		const std::uint64_t values =
		    (chars & 0x0F0F0F0F0F0F0F0Fu) + (chars >> 6 & 0x0101010101010101u) * 9;
		std::uint64_t pairs = ((values << 4) | (values >> 8)) & 0x00FF00FF00FF00FFu;
		pairs = (pairs | pairs >> 8) & 0x0000FFFF0000FFFFu;
		const auto four = static_cast<std::uint32_t>(pairs | pairs >> 16);
		std::memcpy(bytes + i, &four, sizeof four);
	}
	for (; i < count; ++i)
		bytes[i] = static_cast<char>(digit_value(digits[2 * i]) << 4 |
		                             digit_value(digits[2 * i + 1]));
}

// The first wanted range that ends after address, or the end.
std::vector<address_range>::const_iterator range_after(const image_bytes &image,
                                                       std::uint64_t address)
{
	return std::upper_bound(image.wanted.begin(), image.wanted.end(), address,
	                        [](std::uint64_t a, const address_range &r) { return a < r.to; });
}

// Writes [address, address + count) of bytes, all wanted, over the
// stretches. Stretches may touch: one that starts where the bytes end is
// left apart, so that records in falling address order cost a stretch
// each, not a copy each of all after them. The stretch the bytes start in
// or right after grows in place, unless they reach into the next; only
// bytes written over two stretches merge them.
void put_wanted(image_bytes &image, std::uint64_t address, const char *bytes, std::size_t count)
{
	auto &stretches = image.stretches;
	const std::uint64_t to = address + count;
	auto it = stretches.upper_bound(address);
	const auto next = it;
	if (it != stretches.begin() &&
	    std::prev(it)->first + std::prev(it)->second.size() >= address)
		--it;
	if (it == next && (it == stretches.end() || it->first >= to)) {
		stretches.emplace_hint(it, address, std::string(bytes, count));
		return;
	}
	if (it != next && (next == stretches.end() || next->first >= to)) {
		std::string &held = it->second;
		const auto at = static_cast<std::size_t>(address - it->first);
		if (held.size() < at + count)
			held.resize(at + count);
		held.replace(at, count, bytes, count);
		return;
	}
	const std::uint64_t from = std::min(it->first, address);
	std::string merged;
	while (it != stretches.end() && it->first < to) {
		merged.resize(static_cast<std::size_t>(it->first - from));
		merged += it->second;
		it = stretches.erase(it);
	}
	if (merged.size() < to - from)
		merged.resize(static_cast<std::size_t>(to - from));
	merged.replace(static_cast<std::size_t>(address - from), count, bytes, count);
	stretches.emplace_hint(it, from, std::move(merged));
}

// A stretch that extends the last one needs no merge.
void append_or_put(image_bytes &image, std::uint64_t address, const char *bytes, std::size_t count)
{
	auto &stretches = image.stretches;
	if (!stretches.empty()) {
		auto &last = *std::prev(stretches.end());
		if (last.first + last.second.size() == address) {
			last.second.append(bytes, count);
			return;
		}
	}
	put_wanted(image, address, bytes, count);
}

// The bytes of a record past the 64 KiB boundary it runs over wrap, for
// some loaders, to the start of the segment.
address_range wrapped(const held_record &record)
{
	const std::uint64_t to = record.from + record.count;
	if (to <= record.boundary)
		return {0, 0};
	const std::uint64_t start = record.boundary - 0x10000;
	return {start, start + (to - record.boundary)};
}

} // namespace

std::uint64_t next_wanted(const image_bytes &image, std::uint64_t from)
{
	const auto r = range_after(image, from);
	return r == image.wanted.end() ? std::numeric_limits<std::uint64_t>::max()
	                               : std::max(from, r->from);
}

bool wanted_by(const image_bytes &image, const held_record &record)
{
	const address_range wraps = wrapped(record);
	return next_wanted(image, record.from) < record.from + record.count ||
	       next_wanted(image, wraps.from) < wraps.to;
}

void doubt_base(image_bytes &image, std::size_t line)
{
	image.doubtful.push_back({0, std::numeric_limits<std::uint64_t>::max(), doubt::base, line});
}

void take_record(image_bytes &image, const held_record &record)
{
	const std::uint64_t to = record.from + record.count;
	const address_range wraps = wrapped(record);
	if (next_wanted(image, wraps.from) < wraps.to)
		image.doubtful.push_back(
		    {wraps.from, wraps.to, doubt::wrapped, record.line_number});
	for (watched_address &w : image.watched)
		if (w.address >= record.from && w.address < to) {
			w.line = record.line_number;
			w.column = record.data_column +
			           2 * static_cast<std::size_t>(w.address - record.from) + 1;
		}
	char bytes[255];
	for (auto r = range_after(image, record.from); r != image.wanted.end() && r->from < to;
	     ++r) {
		std::uint64_t from = std::max(record.from, r->from);
		const std::uint64_t end = std::min({to, r->to, record.boundary});
		const std::uint64_t wanted_to = std::min(to, r->to);
		if (end < wanted_to)
			image.doubtful.push_back({std::max(from, end), wanted_to,
			                          doubt::past_boundary, record.line_number});
		if (from >= end)
			continue;
		const char *digits = record.line + record.data_column +
		                     2 * static_cast<std::size_t>(from - record.from);
		const auto n = static_cast<std::size_t>(end - from);
		decode_digits(digits, bytes, n);
		if (image.sink != nullptr)
			image.sink(image.sink_context, from, bytes, n);
		else
			append_or_put(image, from, bytes, n);
	}
}

void put_bytes(image_bytes &image, std::uint64_t address, const std::string &bytes)
{
	const std::uint64_t to = address + bytes.size();
	for (auto r = range_after(image, address); r != image.wanted.end() && r->from < to; ++r) {
		const std::uint64_t from = std::max(address, r->from), end = std::min(to, r->to);
		put_wanted(image, from, bytes.data() + (from - address),
		           static_cast<std::size_t>(end - from));
	}
}

const doubtful_bytes *doubtful_in(const image_bytes &image, std::uint64_t from, std::uint64_t to)
{
	for (const doubtful_bytes &d : image.doubtful)
		if (d.from < to && d.to > from)
			return &d;
	return nullptr;
}

std::string bytes_at(const image_bytes &image, std::uint64_t from, std::uint64_t to,
                     std::vector<bool> &held)
{
	std::string bytes(static_cast<std::size_t>(to - from), '\0');
	held.assign(bytes.size(), false);
	auto it = image.stretches.upper_bound(from);
	if (it != image.stretches.begin())
		--it;
	for (; it != image.stretches.end() && it->first < to; ++it) {
		const std::uint64_t end = it->first + it->second.size();
		for (std::uint64_t a = std::max(from, it->first); a < std::min(to, end); ++a) {
			bytes[static_cast<std::size_t>(a - from)] =
			    it->second[static_cast<std::size_t>(a - it->first)];
			held[static_cast<std::size_t>(a - from)] = true;
		}
	}
	return bytes;
}
