// The loop run from memory, and the output it must give: the exact rewrite
// applied a line at a time, each line's messages just before it. Shared by
// the unit tests and the fuzzer; glibc's memory and cookie streams.
#pragma once

#include <algorithm>
#include <cstdint>
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

// The counts of a repair, after its output, and what the structure checks
// found after them.
inline std::string with_counts(std::string output, std::size_t mended, std::size_t refused,
                               std::size_t left, const std::string &structure = "")
{
	return output + "[" + std::to_string(mended) + " " + std::to_string(refused) + " " +
	       std::to_string(left) + "]" + structure;
}

// The structure's findings, "line:column:rule;" each: the fast paths and
// the exact path must tell the same.
inline void keep_structure_finding(void *kept, const finding &found)
{
	if (found.kind >= rule::count_for_type && found.kind != rule::count_too_small)
		*static_cast<std::string *>(kept) += std::to_string(found.line) + ":" +
		                                     std::to_string(found.column) + ":" +
		                                     rule_id(found.kind) + ";";
}

// The plain rewrite, or a repair with its counts after the output: as
// --check runs it (each fix reported, so the fast paths only verify), its
// output written from the start, or as --in-place writes a file: nothing
// before the first fix, the bytes before it then copied from the input, and
// the file as it was when nothing is mended or a line needs a hand. A failed
// write is made to happen, at the first one, when it is expected.
enum class loop_kind { plain, check, fix };

struct in_place_output {
	const std::string &input;
	sink &output;
	std::FILE *out;
	bool made;
};

// What the loop leaves as it is, from the input, right after what it
// wrote: in place, a line keeps its length.
inline std::FILE *copy_in_place(void *context, std::uint64_t from, std::uint64_t to)
{
	auto &in_place = *static_cast<in_place_output *>(context);
	if (from > to || to > in_place.input.size() || from != in_place.output.bytes.size())
		std::abort();
	in_place.output.bytes += in_place.input.substr(static_cast<std::size_t>(from),
	                                               static_cast<std::size_t>(to - from));
	in_place.made = true;
	return in_place.out;
}

// What edits came to, after a repair's counts: the records edited and, for
// each byte set, the line that held it.
inline std::string edit_counts(std::size_t edited, const edit_progress &progress)
{
	std::string text = "{" + std::to_string(edited);
	for (std::size_t line : progress.held_by)
		text += " " + std::to_string(line);
	return text + "}";
}

inline std::string run_loop(const std::string &input, simd_level level, std::size_t block_size,
                            loop_kind kind, stream_result expected = stream_result::ok,
                            const edit_plan *edits = nullptr, image_bytes *image = nullptr)
{
	const bool repair = kind != loop_kind::plain;
	std::FILE *in = fmemopen(const_cast<char *>(input.data()), input.size(), "rb");
	sink output{{}, expected == stream_result::write_failed};
	std::FILE *out = fopencookie(&output, "wb", {nullptr, take, nullptr, nullptr});
	in_place_output in_place{input, output, out, false};
	// Kept from run to run, as a fresh 1 MiB block costs AddressSanitizer more
	// than the run; exactly as large as the loop may use, so that it sees a
	// read past the end.
	static std::vector<char> block;
	block.resize(block_size + 2);
	block.shrink_to_fit();
	const bool fix = kind == loop_kind::fix;
	std::string structure_found;
	file_structure structure;
	begin_structure(structure, keep_structure_finding, &structure_found);
	edit_progress progress{};
	if (edits != nullptr) {
		hold_edited_records(structure, *edits);
		begin_edits(progress, *edits);
	}
	if (image != nullptr)
		keep_image(structure, *image);
	const loop_settings settings{level,
	                             block.data(),
	                             block_size,
	                             repair,
	                             kind == loop_kind::check,
	                             keep_structure_finding,
	                             &structure_found,
	                             &structure,
	                             fix ? copy_in_place : nullptr,
	                             &in_place,
	                             false,
	                             edits != nullptr ? &progress : nullptr};
	stream_outcome found{};
	if (in == nullptr || out == nullptr || std::setvbuf(out, nullptr, _IONBF, 0) != 0 ||
	    (found = rewrite_stream(in, fix ? nullptr : out, settings)).result != expected)
		std::abort();
	std::fclose(in);
	std::fclose(out);
	// In place, the output is made for a mend or an edit, and for nothing else.
	const std::size_t changes = found.mended + found.edited;
	if ((changes == 0 && in_place.made) ||
	    (fix && changes != 0 && found.refused == 0 && !in_place.made))
		std::abort();
	if (!repair)
		return output.bytes;
	end_structure(structure, found.lines, nullptr);
	const bool as_it_was = fix && (changes == 0 || found.refused != 0);
	return with_counts(as_it_was ? input : output.bytes, found.mended, found.refused,
	                   found.left, structure_found) +
	       (edits != nullptr ? edit_counts(found.edited, progress) : "");
}

inline std::string rewrite_by_line(const std::string &input, loop_kind kind = loop_kind::plain,
                                   std::size_t block_size = default_block_size,
                                   const edit_plan *edits = nullptr, image_bytes *image = nullptr)
{
	std::size_t start = input.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
	std::size_t mended = 0, refused = 0, left = 0, lines = 0, edited = 0;
	std::string output = input.substr(0, start), structure_found;
	// The format as the loop chooses it, from as much as its block holds.
	const std::size_t window = std::min({input.size(), block_size, format_window});
	const record_format format =
	    choose_format(input.data(), window, window == input.size()).format;
	const record_layout &layout = layout_of(format);
	file_structure structure;
	begin_structure(structure, keep_structure_finding, &structure_found);
	structure.format = format;
	edit_progress progress{};
	if (edits != nullptr) {
		hold_edited_records(structure, *edits);
		begin_edits(progress, *edits);
	}
	if (image != nullptr)
		keep_image(structure, *image);
	while (start < input.size()) {
		const std::size_t lf = std::min(input.find('\n', start), input.size());
		const std::size_t content =
		    lf > start && lf < input.size() && input[lf - 1] == '\r' ? lf - 1 : lf;
		// Room for the two checksum digits a record may lack.
		std::string line = input.substr(start, content - start) + "  ";
		std::string messages;
		line_trouble trouble = line_trouble::none;
		const record_check check = check_record(layout, line.data(), content - start);
		if (usable_record(check))
			note_record(structure, line.data(), ++lines);
		else
			++lines;
		if (kind == loop_kind::plain)
			line.resize(rewrite_record_line(layout, line.data(), content - start,
			                                messages, trouble));
		else
			line.resize(content - start);
		if (kind != loop_kind::plain && can_mend(check))
			mend_record(layout, line.data(), check);
		for (const held_record &held : structure.held)
			edited += edit_record(layout, line.data(), held, progress);
		structure.held.clear();
		mended += can_mend(check);
		refused += needs_a_hand(check);
		left += check.kind != flaw::none && !can_mend(check) && !needs_a_hand(check);
		start = std::min(lf + 1, input.size());
		output += messages + line + input.substr(content, start - content);
	}
	if (kind == loop_kind::fix && (mended + edited == 0 || refused != 0))
		output = input;
	if (kind == loop_kind::plain)
		return output;
	end_structure(structure, lines, nullptr);
	return with_counts(output, mended, refused, left, structure_found) +
	       (edits != nullptr ? edit_counts(edited, progress) : "");
}
