// --check and --in-place: each file named, its findings, and what they
// come to.
#include "check_and_fix.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file_structure.hpp"
#include "findings.hpp"
#include "in_place.hpp"
#include "platform.hpp"
#include "rewrite_stream.hpp"
#include "simd_level.hpp"
#include "stamp_reading.hpp"
#include "stamps.hpp"

namespace {

void ignore_finding(void *, const finding &)
{
}

// What --check and --in-place run: findings given to writer, if any, fixes
// among them only with fixes_too, and the structure checked.
loop_settings repair(finding_writer *writer, file_structure &structure, bool fixes_too)
{
	return {best_simd_level(),
	        tool_block(),
	        default_block_size,
	        true,
	        fixes_too,
	        writer != nullptr ? report_finding : nullptr,
	        writer,
	        &structure,
	        nullptr,
	        nullptr,
	        true,
	        nullptr};
}

// How --check and --in-place run.
struct run_settings {
	finding_writer writer;
	bool strict;
	std::size_t files, unreadable; // named; and of them, not read to the end
	edit_plan edits;               // --set's, or none
	const std::vector<byte_edit> *set;
	const std::vector<crc_stamp> *stamps;
	bool writes;  // bytes into the files: --set, or --crc with at=
	bool several; // files named
};

// The structure of a file to be edited, the edits' progress in it and
// their plan: --set's and then the values of --crc stored. With --crc, the
// image of their ranges and what they came to.
struct edit_run {
	file_structure structure;
	edit_progress progress;
	edit_plan plan;
	value_reading reading;
	std::vector<stamp_value> values;
};

// The values are those to be written, or none yet: the records that are to
// hold them are found all the same. The values are computed from the
// reading as source says.
void begin_edit_run(edit_run &edit, const run_settings &run, finding_writer *writer,
                    const std::vector<stamp_value> &values, value_source source)
{
	begin_structure(edit.structure, writer != nullptr ? report_finding : ignore_finding,
	                writer);
	edit.plan = plan_edits(stamped_edits(*run.set, *run.stamps, values));
	if (!edit.plan.spans.empty())
		hold_edited_records(edit.structure, edit.plan);
	begin_edits(edit.progress, edit.plan);
	if (!run.stamps->empty())
		edit.progress.named = &run.edits;
	begin_value_reading(edit.reading, edit.structure, *run.stamps, run.edits, true,
	                    run.stamps->empty() ? value_source::none : source);
}

// The stamps over what was read, after the --set edits; false, said with
// what that left, when one of them has no value.
bool compute_values(const char *path, std::FILE *in, edit_run &edit, const run_settings &run,
                    const char *left)
{
	if (!values_of_reading(in, edit.reading, edit.values))
		return complain(path, std::string("it could not be read again: ") +
		                          std::strerror(errno) + ": " + left);
	for (std::size_t i = 0; i < edit.values.size(); ++i)
		if (!edit.values[i].problem.empty())
			return complain(path, stamp_range_words((*run.stamps)[i]) +
			                          " cannot be computed: " + edit.values[i].problem +
			                          ": " + left);
	// A range typed wrong is as likely as one of erased flash alone.
	for (const crc_stamp &stamp : *run.stamps)
		if (!holds_data(edit.structure, stamp.from, stamp.to))
			complain(path,
			         "warning: " + stamp_range_words(stamp) +
			             ": no record holds a byte of it, so its value is the fill's");
	return true;
}

// The values of the stamps without at=, each a line on out; with the
// file's name before it where more than one file may be said.
void say_values(std::FILE *out, const char *path, bool named, const edit_run &edit,
                const run_settings &run)
{
	for (std::size_t i = 0; i < edit.values.size(); ++i) {
		const crc_stamp &stamp = (*run.stamps)[i];
		if (stamp.at != no_address)
			continue;
		const std::string words = said_value_words(stamp, edit.values[i]);
		if (out == stderr)
			complain(path, words);
		else
			std::fprintf(out, "%s%s\n", named ? (one_line(path) + ": ").c_str() : "",
			             words.c_str());
	}
}

status file_status(const run_settings &run, std::size_t errors, std::size_t warnings)
{
	return run.writer.errors != errors || (run.strict && run.writer.warnings != warnings)
	           ? flawed
	           : clean;
}

// A file that could not be read, said on standard error and in the
// formats that have a place for it.
status unreadable(run_settings &run, const char *path, const std::string &reason)
{
	++run.unreadable;
	file_unreadable(run.writer, reason);
	return complain(failed, path, reason);
}

// Each stored value that is not its range's, as a finding at its first
// digit, or at the last line where no record holds it.
void check_stamps(const char *path, std::FILE *in, run_settings &run, value_reading &reading,
                  const stream_outcome &outcome)
{
	std::vector<stamp_value> values;
	if (!values_of_reading(in, reading, values)) {
		unreadable(run, path,
		           std::string("it could not be read again: ") + std::strerror(errno));
		return;
	}
	// A line that needs a hand may hold bytes of the range, which cannot be
	// read off it.
	for (stamp_value &value : values)
		if (outcome.refused != 0 && value.problem.empty())
			value.problem = "a line above that needs a hand may hold its bytes";
	for (std::size_t i = 0; i < values.size(); ++i) {
		finding found{};
		const std::string words = check_stamp_words(
		    (*run.stamps)[i], values[i], reading.image, found.line, found.column);
		if (words.empty())
			continue;
		found.kind = rule::stored_checksum;
		found.format = outcome.format;
		found.type = -1;
		found.words = words.c_str();
		if (found.line == 0) {
			found.line = std::max<std::size_t>(outcome.lines, 1);
			found.column = 1;
		}
		write_finding(run.writer, found);
	}
}

// --check: every flaw on standard output, nothing changed. The output may
// not be one of the files: a > redirect has emptied it, and findings
// appended to it would be read as its records.
status check_file(const char *path, run_settings &run)
{
	begin_file(run.writer, path);
	std::FILE *in = open_input(path);
	if (in == nullptr)
		return unreadable(run, path, std::strerror(errno));
	const std::size_t errors = run.writer.errors, warnings = run.writer.warnings;
	file_structure structure;
	value_reading reading;
	begin_structure(structure, report_finding, &run.writer);
	begin_value_reading(reading, structure, *run.stamps, run.edits, false,
	                    run.stamps->empty() ? value_source::none : source_of(in));
	const bool onto_itself = same_file(in, stdout);
	const stream_outcome outcome =
	    onto_itself ? stream_outcome{}
	                : rewrite_stream(in, nullptr, repair(&run.writer, structure, true));
	if (outcome.result == stream_result::ok && !onto_itself) {
		end_structure(structure, outcome.lines, in);
		if (!run.stamps->empty())
			check_stamps(path, in, run, reading, outcome);
	}
	std::fclose(in); // read only: nothing to lose here
	if (run.writer.error != 0)
		return complain(failed, "standard output", std::strerror(run.writer.error));
	if (onto_itself)
		return unreadable(run, path,
		                  "it is also the output of --check, which a > redirect empties: "
		                  "write the findings to another file");
	switch (outcome.result) {
	case stream_result::ok:
		return file_status(run, errors, warnings);
	case stream_result::utf16_text:
		return unreadable(run, path, utf16_words);
	case stream_result::binary_data: // its one finding, none of the others it would bring
		write_finding(run.writer, binary_finding());
		return failed;
	default:
		return unreadable(run, path, std::strerror(outcome.error));
	}
}

// What -i with --crc reads first: the file as opened.
struct first_fix_reading {
	run_settings *run;
	edit_run *edit;
};

// Before -i with --crc: the values, from a reading of its own, and the
// edits that write them made ready for the fix, which then finds the file
// as it was (or says it is changed). A file that is no text or has lines
// that need a hand is left for the fix to say so: it refuses them before
// the stored values (all 0 until known) could be written.
bool read_values_first(void *context, const char *path, std::FILE *in)
{
	const auto &first = *static_cast<first_fix_reading *>(context);
	run_settings &run = *first.run;
	edit_run values;
	begin_edit_run(values, run, nullptr, {}, value_source::streamed);
	loop_settings settings = repair(nullptr, values.structure, false);
	settings.edits = values.plan.spans.empty() ? nullptr : &values.progress;
	const stream_outcome outcome = rewrite_stream(in, nullptr, settings);
	if (outcome.result == stream_result::read_failed)
		return complain(path, std::string("left as it is: it could not be read: ") +
		                          std::strerror(outcome.error));
	const bool usable = outcome.result == stream_result::ok && outcome.refused == 0;
	if (usable && !compute_values(path, in, values, run, "left as it is"))
		return false;
	if (std::fseek(in, 0, SEEK_SET) != 0)
		return complain(path, std::string("left as it is: it could not be read again: ") +
		                          std::strerror(errno));
	begin_edit_run(*first.edit, run, &run.writer, values.values, value_source::none);
	if (usable) {
		note_stamped(first.edit->progress, *run.stamps, values.values);
		say_values(stdout, path, true, values, run);
	}
	return true;
}

// --in-place: the findings that are left on standard error.
status fix_file(const char *path, run_settings &run)
{
	const std::size_t errors = run.writer.errors, warnings = run.writer.warnings;
	edit_run edit;
	begin_file(run.writer, path);
	begin_edit_run(edit, run, &run.writer, {}, value_source::none);
	loop_settings settings = repair(&run.writer, edit.structure, false);
	settings.edits = edit.plan.spans.empty() ? nullptr : &edit.progress;
	first_fix_reading first{&run, &edit};
	const status done = run.stamps->empty()
	                        ? fix_in_place(path, settings)
	                        : fix_in_place(path, settings, read_values_first, &first);
	// Findings that could not be said are a failure, whatever was done.
	return std::max(
	    {done, file_status(run, errors, warnings), run.writer.error != 0 ? failed : clean});
}

// Whether the second reading found what the first did: every edit held
// where it was, and the stored values over the same bytes.
bool read_the_same(const edit_run &first, edit_run &again, const run_settings &run)
{
	if (again.progress.held_by != first.progress.held_by)
		return false;
	if (run.stamps->empty())
		return true;
	if (!end_value_reading(again.reading, again.values))
		return false;
	for (std::size_t i = 0; i < first.values.size(); ++i)
		if (again.values[i].bytes != first.values[i].bytes ||
		    again.values[i].problem != first.values[i].problem)
			return false;
	return true;
}

// The second reading, which writes: the file must read as it did the first
// time.
status write_edited(const char *path, std::FILE *in, const stream_outcome &first,
                    const edit_run &edit, const run_settings &run)
{
	edit_run again;
	begin_edit_run(again, run, nullptr, edit.values, edit.reading.source);
	loop_settings settings = repair(nullptr, again.structure, false);
	settings.edits = &again.progress;
	if (std::fseek(in, 0, SEEK_SET) != 0)
		return complain(failed, path, std::strerror(errno));
	const stream_outcome second = rewrite_stream(in, stdout, settings);
	if (second.result == stream_result::write_failed)
		return complain(failed, "standard output", std::strerror(second.error));
	if (second.result != stream_result::ok || second.lines != first.lines ||
	    second.refused != 0 || second.mended != first.mended ||
	    !read_the_same(edit, again, run))
		return complain(failed, path,
		                "it changed while tallyfix read it: the output is not to be used; "
		                "run tallyfix again");
	// Said only once all of it is out: a failed write is seen at the flush.
	if (std::fflush(stdout) != 0)
		return complain(failed, "standard output", std::strerror(errno));
	note_stamped(again.progress, *run.stamps, edit.values);
	complain(path, done_words(second, &again.progress));
	say_values(stderr, path, false, edit, run);
	return first.left != 0 ? flawed : clean;
}

// The first reading: whether every edit can be made, and the values of
// --crc, said when not; left says what that leaves.
status check_edits(const char *path, std::FILE *in, run_settings &run, edit_run &edit,
                   stream_outcome &first, const char *left)
{
	loop_settings settings = repair(&run.writer, edit.structure, false);
	settings.edits = edit.plan.spans.empty() ? nullptr : &edit.progress;
	first = rewrite_stream(in, nullptr, settings);
	switch (first.result) {
	case stream_result::ok:
		break;
	case stream_result::utf16_text:
		return complain(failed, path, utf16_words);
	case stream_result::binary_data:
		write_finding(run.writer, binary_finding());
		return complain(failed, path, left);
	default:
		return unreadable(run, path, std::strerror(first.error));
	}
	end_structure(edit.structure, first.lines, in);
	if (first.refused != 0)
		return complain(flawed, path, std::string(left) + ": mend the lines above by hand");
	return edits_can_be_made(path, edit.progress, edit.structure, left) &&
	               compute_values(path, in, edit, run, left)
	           ? clean
	           : flawed;
}

// --set and --crc without --in-place: the file, edited and fixed as
// --in-place would leave it, on standard output; nothing at all unless
// every edit can be made, which a first reading finds out. --crc without
// at= alone: the values on standard output, from one reading.
status edit_file(const char *path, run_settings &run)
{
	begin_file(run.writer, path);
	std::FILE *in = open_input(path);
	if (in == nullptr)
		return unreadable(run, path, std::strerror(errno));
	const std::size_t errors = run.writer.errors, warnings = run.writer.warnings;
	edit_run edit;
	begin_edit_run(edit, run, &run.writer, {}, source_of(in));
	stream_outcome first{};
	status done = clean;
	if (same_file(in, stdout))
		done = unreadable(run, path,
		                  "it is also the output: write the edited file to another one, or "
		                  "give -i to change it in place");
	else if (!run.writes &&
	         (done = check_edits(path, in, run, edit, first, "no value is said")) == clean)
		say_values(stdout, path, run.several, edit, run);
	else if (run.writes && std::fseek(in, 0, SEEK_SET) != 0)
		done =
		    unreadable(run, path,
		               "it cannot be read twice, as a pipe cannot: --set and --crc read a "
		               "file once to find that every edit can be made and once to write "
		               "it; name the file itself");
	else if (run.writes &&
	         (done = check_edits(path, in, run, edit, first, "nothing was written")) == clean)
		done = write_edited(path, in, first, edit, run);
	std::fclose(in); // read only: nothing to lose here
	return std::max(done, file_status(run, errors, warnings));
}

// "3 errors and 1 warning in 2 of 5 files; 1 could not be read": every
// file named is counted.
std::string tally(const finding_writer &writer, std::size_t files, std::size_t unreadable)
{
	if (unreadable == files)
		return files == 1 ? "the file could not be read"
		                  : "none of the " + std::to_string(files) + " files could be read";
	const std::string could_not =
	    unreadable != 0 ? "; " + std::to_string(unreadable) + " could not be read" : "";
	const std::string in =
	    files == 1 ? " in 1 file" : " in " + std::to_string(files) + " files";
	if (writer.errors + writer.warnings == 0)
		return "no errors or warnings" + in + could_not;
	return counted(writer.errors, writer.warnings) +
	       (files == 1 ? in
	                   : " in " + std::to_string(writer.files_with_findings) + " of " +
	                         std::to_string(files) + " files") +
	       could_not;
}

bool wants_colour(std::FILE *stream, const std::string &when)
{
	const char *no_colour = std::getenv("NO_COLOR");
	const char *term = std::getenv("TERM");
	return when == "always" || (when == "auto" && is_terminal(stream) &&
	                            (no_colour == nullptr || *no_colour == 0) &&
	                            (term == nullptr || std::strcmp(term, "dumb") != 0));
}

// Where the findings go and how they look.
run_settings settings_of(const run_request &request)
{
	run_settings run{};
	const bool check = request.mode == run_mode::check;
	std::FILE *out = check ? stdout : stderr;
	run.strict = request.strict;
	run.writer.format = request.format;
	run.writer.out = out;
	run.writer.colour =
	    run.writer.format == output_format::gcc && wants_colour(out, request.colour);
	run.writer.show_record = run.writer.format == output_format::gcc && is_terminal(out);
	run.writer.width = run.writer.show_record ? terminal_width(out) : 0;
	run.writer.strict = request.strict;
	run.writer.drive_letters = names_have_drives;
	run.writer.base = request.format == output_format::sarif ? folder_uri() : "";
	return run;
}

} // namespace

status check_or_fix_files(const run_request &request)
{
	const bool check = request.mode == run_mode::check;
	// Nothing at all, not a document's head, goes into a file that is to
	// be checked: a >> redirect appends to it.
	for (const std::string &name : request.files)
		if (check && names_output(name.c_str(), stdout))
			return complain(
			    failed, name,
			    "it is also the output of --check: nothing was written; write "
			    "the findings to another file");
	run_settings run = settings_of(request);
	run.edits = plan_edits(request.edits);
	run.set = &request.edits;
	run.stamps = &request.stamps;
	run.writes = writes_bytes(request);
	run.several = request.files.size() > 1;
	begin_findings(run.writer);
	status worst = clean;
	for (const std::string &name : request.files) {
		const char *path = name.c_str();
		++run.files;
		worst = std::max(worst, check                            ? check_file(path, run)
		                        : request.mode == run_mode::edit ? edit_file(path, run)
		                                                         : fix_file(path, run));
		// Each file's findings before the next one's lines; a failure
		// kept with its reason.
		if (std::fflush(stdout) != 0 && run.writer.error == 0) {
			run.writer.error = errno != 0 ? errno : EIO;
			worst =
			    complain(failed, "standard output", std::strerror(run.writer.error));
		}
		if (check && run.writer.error != 0)
			break; // said: nothing more can be told
	}
	worst = std::max(worst, flush_fixed_folders());
	end_findings(run.writer);
	// Where the findings are lines a person reads, also in a CI log.
	if (check &&
	    (run.writer.format == output_format::gcc || run.writer.format == output_format::github))
		std::fprintf(stderr, "%s\n", tally(run.writer, run.files, run.unreadable).c_str());
	// A write that failed on the way was said with its file, unless it was
	// the flush before a line on standard error.
	const bool flushed = std::fflush(stdout) == 0;
	const int error = errno;
	if ((!flushed || std::ferror(stdout) != 0) && run.writer.error == 0)
		worst = complain(failed, "standard output",
		                 flushed ? "a write failed" : std::strerror(error));
	return worst;
}
