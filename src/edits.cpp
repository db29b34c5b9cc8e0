// Bytes set by address: the plan made once from the edits as given, and
// each record that holds some of them rewritten digit by digit.
#include "edits.hpp"

#include <algorithm>
#include <cstdio>

#include "file_structure.hpp"
#include "record_checksum.hpp"

edit_plan plan_edits(const std::vector<byte_edit> &edits)
{
	// Every byte with its address, in the order given; sorted stably, the
	// last of an address is the latest edit of it.
	std::vector<std::pair<std::uint64_t, char>> bytes;
	for (const byte_edit &edit : edits)
		for (std::size_t i = 0; i < edit.bytes.size(); ++i)
			bytes.emplace_back(edit.address + i, edit.bytes[i]);
	std::stable_sort(bytes.begin(), bytes.end(),
	                 [](const auto &a, const auto &b) { return a.first < b.first; });
	edit_plan plan{{}, 0};
	for (std::size_t i = 0; i < bytes.size(); ++i) {
		if (i + 1 < bytes.size() && bytes[i + 1].first == bytes[i].first)
			continue;
		if (plan.spans.empty() ||
		    plan.spans.back().from + plan.spans.back().bytes.size() != bytes[i].first)
			plan.spans.push_back({bytes[i].first, {}, plan.bytes});
		plan.spans.back().bytes += bytes[i].second;
		++plan.bytes;
	}
	return plan;
}

namespace {

// The first span that ends after address, or the end.
std::vector<edit_span>::const_iterator span_after(const edit_plan &plan, std::uint64_t address)
{
	return std::upper_bound(plan.spans.begin(), plan.spans.end(), address,
	                        [](std::uint64_t a, const edit_span &span) {
		                        return a < span.from + span.bytes.size();
	                        });
}

// The byte at index of all those set is held by the record on line.
void note_held(edit_progress &progress, std::size_t span, std::size_t index, std::uint64_t address,
               std::size_t line)
{
	std::size_t &first = progress.held_by[index];
	if (first != 0 && first != line && progress.twice++ == 0) {
		progress.twice_at = address;
		progress.twice_lines[0] = first;
		progress.twice_lines[1] = line;
	}
	if (first == 0)
		first = line;
	progress.last_line[span] = line;
}

} // namespace

std::uint64_t next_edited(const edit_plan &plan, std::uint64_t from)
{
	const auto span = span_after(plan, from);
	return span == plan.spans.end() ? no_address : std::max(from, span->from);
}

char edited_byte(const edit_plan &plan, std::uint64_t address)
{
	const auto span = span_after(plan, address);
	return span->bytes[static_cast<std::size_t>(address - span->from)];
}

void begin_edits(edit_progress &progress, const edit_plan &plan)
{
	progress = edit_progress{};
	progress.plan = &plan;
	progress.held_by.assign(plan.bytes, 0);
	progress.last_line.assign(plan.spans.size(), 0);
	progress.past_boundary = no_address;
	progress.doubtful_at = no_address;
}

bool edit_record(const record_layout &layout, char *line, const held_record &held,
                 edit_progress &progress)
{
	const edit_plan &plan = *progress.plan;
	const std::uint64_t to = held.from + held.count;
	const char *digits = digits_of_record(layout, line);
	bool changed = false;
	for (auto span = span_after(plan, held.from); span != plan.spans.end() && span->from < to;
	     ++span) {
		const std::uint64_t span_to = span->from + span->bytes.size();
		for (std::uint64_t a = std::max(held.from, span->from); a < std::min(to, span_to);
		     ++a) {
			if (held.doubtful_base != 0) {
				if (progress.doubtful_at == no_address) {
					progress.doubtful_at = a;
					progress.doubtful_line = held.line_number;
					progress.doubtful_base = held.doubtful_base;
				}
				continue;
			}
			if (a >= held.boundary) {
				if (progress.past_boundary == no_address) {
					progress.past_boundary = a;
					progress.past_boundary_line = held.line_number;
				}
				continue;
			}
			const auto in_span = static_cast<std::size_t>(a - span->from);
			note_held(progress, static_cast<std::size_t>(span - plan.spans.begin()),
			          span->first + in_span, a, held.line_number);
			const auto value = static_cast<unsigned char>(span->bytes[in_span]);
			const std::size_t column =
			    held.data_column + 2 * static_cast<std::size_t>(a - held.from);
			if (byte_at(line, column) == value)
				continue;
			line[column] = digits[value >> 4];
			line[column + 1] = digits[value & 0xF];
			changed = true;
		}
	}
	if (changed) {
		rewrite_checksum(layout, line, digits);
		++progress.checksums;
	}
	return changed;
}

std::uint64_t first_missing(const edit_progress &progress)
{
	for (const edit_span &span : progress.plan->spans)
		for (std::size_t i = 0; i < span.bytes.size(); ++i)
			if (progress.held_by[span.first + i] == 0)
				return span.from + i;
	return no_address;
}

std::string address_text(std::uint64_t address)
{
	char text[24];
	std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(address));
	return text;
}

namespace {

// The first line that held the byte at address, which the plan sets.
std::size_t line_of(const edit_progress &progress, std::uint64_t address)
{
	const auto span = span_after(*progress.plan, address);
	return progress.held_by[span->first + static_cast<std::size_t>(address - span->from)];
}

// The lines that held a span: from the first that held any of its bytes to
// the latest that held any.
std::string lines_text(const edit_progress &progress, const edit_span &named)
{
	std::size_t first = 0, last = 0;
	const auto &spans = progress.plan->spans;
	for (std::size_t i = 0; i < named.bytes.size(); ++i) {
		const std::size_t line = line_of(progress, named.from + i);
		first = i == 0 ? line : std::min(first, line);
	}
	for (auto span = span_after(*progress.plan, named.from);
	     span != spans.end() && span->from < named.from + named.bytes.size(); ++span)
		last = std::max(last,
		                progress.last_line[static_cast<std::size_t>(span - spans.begin())]);
	return first == last ? "line " + std::to_string(first)
	                     : "lines " + std::to_string(first) + " to " + std::to_string(last);
}

} // namespace

std::string edit_words(const edit_progress &progress)
{
	// Past a few spans the line would be longer than a terminal's.
	constexpr std::size_t spans_said = 3;
	const std::vector<edit_span> &spans =
	    (progress.named != nullptr ? progress.named : progress.plan)->spans;
	std::string words;
	for (std::size_t i = 0; i < spans.size() && i < spans_said; ++i) {
		const std::size_t n = spans[i].bytes.size();
		words += (i == 0                  ? ""
		          : i + 1 == spans.size() ? " and "
		                                  : ", ") +
		         std::to_string(n) +
		         (i != 0   ? ""
		          : n == 1 ? " byte set"
		                   : " bytes set") +
		         " at " + address_text(spans[i].from) + " (" +
		         lines_text(progress, spans[i]) + ")";
	}
	if (spans.size() > spans_said)
		words += " and " + std::to_string(spans.size() - spans_said) +
		         (spans.size() - spans_said == 1 ? " more range" : " more ranges");
	for (const auto &stamp : progress.stamped)
		words += (words.empty() ? "" : ", ") + stamp.first + " (line " +
		         std::to_string(line_of(progress, stamp.second)) + ")";
	const std::size_t n = progress.checksums;
	return words + ", " +
	       (n == 0   ? std::string("no checksum rewritten: the file held them already")
	        : n == 1 ? std::string("1 checksum rewritten")
	                 : std::to_string(n) + " checksums rewritten");
}

std::string why_not_edited(const edit_progress &progress, const file_structure &structure)
{
	if (progress.past_boundary != no_address)
		return address_text(progress.past_boundary) + " is in line " +
		       std::to_string(progress.past_boundary_line) +
		       " past the 64 KiB boundary that record runs over, where loaders disagree on "
		       "the addresses of its bytes";
	if (progress.doubtful_at != no_address)
		return address_text(progress.doubtful_at) + " is in line " +
		       std::to_string(progress.doubtful_line) +
		       ", after the address record of line " +
		       std::to_string(progress.doubtful_base) +
		       " whose count is wrong, which loaders may or may not take as its base";
	const std::uint64_t missing = first_missing(progress);
	if (missing != no_address)
		return address_text(missing) +
		       " is not in the file: " + data_near(structure, missing);
	return "";
}

std::string twice_words(const edit_progress &progress)
{
	if (progress.twice == 0)
		return "";
	const std::size_t more = progress.twice - 1;
	return address_text(progress.twice_at) + " is held by lines " +
	       std::to_string(progress.twice_lines[0]) + " and " +
	       std::to_string(progress.twice_lines[1]) + ": set in both" +
	       (more == 0   ? std::string()
	        : more == 1 ? std::string(", as is 1 more byte held twice")
	                    : ", as are " + std::to_string(more) + " more bytes held twice");
}
