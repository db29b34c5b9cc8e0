// Fixing a file in place. One pass over the file: nothing is written until
// the first checksum to mend, where the new file is made with the bytes
// before it, and nothing more once a line needs a hand. The new file
// replaces the file only if another program has not changed it meanwhile.
#include "in_place.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform.hpp"

namespace {

// The new file is made at the first mend, unless it would part the file
// from its other names, replace a link or write a file its owner may not:
// that is said once the file is read. What is left as it is goes into it as
// the file has it.
std::FILE *copy_to_new_file(void *context, std::uint64_t from, std::uint64_t to)
{
	auto &file = *static_cast<file_in_place *>(context);
	if (file.out == nullptr &&
	    (file.more_names || file.a_link || file.read_only || !make_new_file(file)))
		return nullptr;
	return copy_into_new_file(file, from, to) ? file.out : nullptr;
}

// What failed, of a step that leaves the file as it is.
std::string what_failed(const file_in_place &file)
{
	switch (file.failed) {
	case fix_step::folder:
		return "its folder " + file.folder + " cannot be written";
	case fix_step::write:
		return "the fixed copy could not be written";
	case fix_step::flush:
		return "the fixed copy could not be flushed to disk";
	case fix_step::permissions:
		return "the fixed copy could not be given its permissions";
	case fix_step::attributes:
		return "the fixed copy could not be given its access list and extended attributes";
	case fix_step::replace:
		return "the fixed copy could not replace it";
	default:
		return "no new file could be made beside it";
	}
}

status left_as_it_is(const char *path, const file_in_place &file)
{
	if (file.failed == fix_step::read_only)
		return complain(failed, path,
		                std::string("it is read-only: left as it is (") + read_only_hint +
		                    ")");
	if (file.failed == fix_step::changed)
		return complain(failed, path,
		                "left as another program left it, not replaced: that program "
		                "changed it while tallyfix was fixing it; run tallyfix again");
	if (file.failed == fix_step::kept_aside)
		return complain(failed, path,
		                "replaced by the fixed copy as another program was changing it: "
		                "that program's file is kept as " +
		                    file.reason);
	if (file.failed == fix_step::lost_aside)
		return complain(
		    failed, path,
		    "replaced by the fixed copy as another program was changing it, "
		    "which then removed what it had put in its place: look at it before "
		    "you use it");
	if (file.failed == fix_step::renamed)
		return complain(failed, path,
		                "not replaced, and left whole under another name: " + file.reason +
		                    "; rename it back");
	return complain(failed, path, "left as it is: " + what_failed(file) + ": " + file.reason);
}

// The names, as given, of the files replaced in the folder held to be
// flushed.
std::vector<std::string> replaced_in_folder;

// The kinds of records other than data records, by type, as words, one
// and more of them: what a fix said of them.
struct record_kind {
	int types[3];
	const char *one, *more;
};
const record_kind intel_kinds[] = {{{1, 1, 1}, "an end-of-file record", "end-of-file records"},
                                   {{2, 4, 4}, "an address record", "address records"},
                                   {{3, 5, 5}, "a start record", "start records"}};
const record_kind s_record_kinds[] = {{{5, 6, 6}, "a count record", "count records"},
                                      {{7, 8, 9}, "a termination record", "termination records"}};

// "2 checksums fixed, 1 of them in an address record".
std::string fixed_words(const stream_outcome &found)
{
	std::string words = std::to_string(found.mended) +
	                    (found.mended == 1 ? " checksum fixed" : " checksums fixed");
	const bool s_records = found.format == record_format::s_record;
	const record_kind *kinds = s_records ? s_record_kinds : intel_kinds;
	std::size_t parts = 0;
	for (std::size_t k = 0; k < (s_records ? 2 : 3); ++k) {
		const int *types = kinds[k].types;
		std::size_t n = found.mended_by_type[types[0]];
		for (int i = 1; i < 3; ++i)
			n += types[i] != types[i - 1] ? found.mended_by_type[types[i]] : 0;
		if (n == 0)
			continue;
		words += parts++ != 0        ? " and " + std::to_string(n) + " in "
		         : found.mended == 1 ? std::string(", in ")
		                             : ", " + std::to_string(n) + " of them in ";
		words += n == 1 ? kinds[k].one : kinds[k].more;
	}
	return words;
}

// Said of a file that replaced the file.
status replaced(const char *path, const file_in_place &file, const stream_outcome &found,
                const edit_progress *edits)
{
	complain(path, done_words(found, edits));
	if (!file.owner_change.empty())
		complain(path, "its " + file.owner_change);
	status done = clean;
	if (!file.left_behind.empty())
		done = complain(failed, path,
		                "replaced, but the old file could not be removed and is left as " +
		                    file.left_behind);
	std::string reason;
	if (!folder_held(file)) {
		done = std::max(done, flush_fixed_folders());
		if (!hold_folder(file, reason))
			done = complain(failed, path,
			                "replaced, but its folder could not be flushed to disk: " +
			                    reason + "; a power cut may undo it");
	}
	if (folder_held(file))
		replaced_in_folder.push_back(path);
	return done;
}

status fix_file(const char *path, loop_settings &settings, file_in_place &file,
                first_reading read_first, void *first_context)
{
	switch (open_in_place(path, file)) {
	case open_result::opened:
		break;
	case open_result::failed:
		return complain(failed, path, file.reason);
	case open_result::not_a_file:
		return complain(failed, path, "not a regular file");
	}
	if (read_first != nullptr && !read_first(first_context, path, file.in))
		return flawed;
	settings.copy_input = copy_to_new_file;
	settings.context = &file;
	const stream_outcome found = rewrite_stream(file.in, nullptr, settings);
	if (found.result == stream_result::utf16_text)
		return complain(failed, path, utf16_words);
	if (found.result == stream_result::binary_data) {
		settings.report(settings.report_context, binary_finding());
		return complain(failed, path, "left as it is");
	}
	if (found.result == stream_result::write_failed) {
		if (file.failed == fix_step::none) { // a failed copy says why itself
			file.failed = fix_step::write;
			file.reason = std::strerror(found.error);
		}
		return left_as_it_is(path, file);
	}
	if (found.result != stream_result::ok)
		return complain(failed, path,
		                std::string("left as it is: it could not be read: ") +
		                    std::strerror(found.error));
	end_structure(*settings.structure, found.lines, file.in);
	if (found.refused != 0)
		return complain(flawed, path, "left as it is: mend the lines above by hand");
	const edit_progress *edits = settings.edits;
	if (edits != nullptr &&
	    !edits_can_be_made(path, *edits, *settings.structure, "left as it is"))
		return flawed;
	if (found.mended + found.edited == 0 && edits != nullptr)
		complain(path, edit_words(*edits) + ": left as it is");
	if (found.mended + found.edited == 0)
		return found.left != 0 ? flawed : clean;
	if (file.more_names)
		return complain(
		    flawed, path,
		    "left as it is: it has more than one name (a hard link), which a fixed "
		    "copy would part");
	if (file.a_link)
		return complain(flawed, path,
		                "left as it is: it is a symbolic link, which the fixed copy would "
		                "replace: name the file it points to");
	if (file.read_only) {
		file.failed = fix_step::read_only;
		return left_as_it_is(path, file);
	}
	if (file.out == nullptr || file.failed != fix_step::none || !replace_file(file))
		return left_as_it_is(path, file);
	const status done = replaced(path, file, found, edits);
	return std::max(done, found.left != 0 ? flawed : clean);
}

} // namespace

bool edits_can_be_made(const char *path, const edit_progress &edits,
                       const file_structure &structure, const char *left)
{
	const std::string undone = why_not_edited(edits, structure);
	if (!undone.empty())
		return complain(path, undone + ": " + left);
	if (!twice_words(edits).empty())
		complain(path, "warning: " + twice_words(edits));
	return true;
}

std::string done_words(const stream_outcome &found, const edit_progress *edits)
{
	if (edits == nullptr)
		return fixed_words(found);
	return edit_words(*edits) + (found.mended != 0 ? "; " + fixed_words(found) : "");
}

status fix_in_place(const char *path, loop_settings settings, first_reading read_first,
                    void *first_context)
{
	file_in_place file{};
	const status done = fix_file(path, settings, file, read_first, first_context);
	close_in_place(file);
	return done;
}

status flush_fixed_folders()
{
	std::string reason;
	status done = clean;
	if (!flush_held_folder(reason))
		for (const std::string &path : replaced_in_folder)
			done = complain(failed, path,
			                "replaced, but its folder could not be flushed to disk: " +
			                    reason + "; a power cut may undo it");
	replaced_in_folder.clear();
	return done;
}
