// tallyfix: writes an Intel HEX or S-record file to standard output with the
// checksum of every data record recomputed and every other byte as it came
// in; or checks files, or fixes them in place.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file_structure.hpp"
#include "findings.hpp"
#include "in_place.hpp"
#include "platform.hpp"
#include "rewrite_stream.hpp"
#include "simd_level.hpp"

namespace {

const char version_line[] = "tallyfix version 1.1\n";
const char *const banner[] = {
    version_line,
    "\n",
    "This program recomputes the checksum for a .hex file.\n",
    "You can now go in and edit the .hex file directly, and\n",
    "then run tallyfix against the file to recalculate the\n",
    "checksum values.\n\n",
    "Syntax: tallyfix myfile.hex > newfile.hex\n",
    "This will process myfile.hex and produce a new file,\n",
    "newfile.hex which contains correct checksum values\n",
};
const char options[] =
    "\n"
    "Options, taken only as the first argument:\n"
    "  --check FILE...     report what is wrong in each file; change nothing\n"
    "  --in-place FILE...  fix each file in place (also -i)\n"
    "  --help, -h          this text\n"
    "  --version           the version\n"
    "\n"
    "After --check or --in-place, before the first file:\n"
    "  --format=FORMAT     how --check writes what it finds: gcc\n"
    "                      (FILE:LINE:COLUMN: error: what), github, sarif or json\n"
    "  --color=WHEN        auto (on a terminal), always or never\n"
    "  --strict            warnings give status 1 too\n"
    "  --                  the end of the options\n";

// The read block, reused file after file, with the two bytes the loop keeps
// after it. Static: its pages are mapped only as a file fills them, so a small
// file touches few of them.
char block[default_block_size + 2];
constexpr std::size_t block_size = sizeof block - 2;

// Standard output is unbuffered in the plain run: a write fails here or not
// at all.
bool write_text(const std::string &text)
{
	return std::fputs(text.c_str(), stdout) >= 0 ||
	       complain("standard output", std::strerror(errno));
}

bool write_banner()
{
	for (const char *text : banner)
		if (!write_text(text))
			return false;
	return true;
}

loop_settings plain_rewrite()
{
	return {best_simd_level(), block,   block_size, false,   false,
	        nullptr,           nullptr, nullptr,    nullptr, nullptr};
}

// What --check and --in-place run: findings given to writer, fixes among
// them only with fixes_too, and the structure checked.
loop_settings repair(finding_writer &writer, file_structure &structure, bool fixes_too)
{
	return {best_simd_level(), block,   block_size, true,    fixes_too,
	        report_finding,    &writer, &structure, nullptr, nullptr};
}

// "N lines (a, b, c, ...)".
std::string some_lines(const line_list &lines)
{
	std::string text =
	    std::to_string(lines.count) + (lines.count == 1 ? " line (" : " lines (");
	for (std::size_t i = 0; i < std::min<std::size_t>(lines.count, 3); ++i)
		text += (i == 0 ? "" : ", ") + std::to_string(lines.first[i]);
	return text + (lines.count > 3 ? ", ...)" : ")");
}

// Says what the plain run's output does not: where its messages went, into
// the output among the records, where nobody looks before a loader refuses
// the file; and which checksums went where a count that the line's length
// belies puts them, over a data digit or after a deleted byte.
void point_at_trouble(const char *path, const stream_outcome &outcome)
{
	if (outcome.message_lines.count != 0)
		complain(path, "invalid hex digit messages went into the output, for " +
		                   some_lines(outcome.message_lines));
	if (outcome.disagreeing_lines.count != 0)
		complain(path,
		         some_lines(outcome.disagreeing_lines) +
		             (outcome.disagreeing_lines.count == 1 ? " is" : " are") +
		             " longer or shorter than the count says: the checksum went where "
		             "the count puts it; tallyfix --check says more");
	if (outcome.small_count_lines.count != 0)
		complain(path, some_lines(outcome.small_count_lines) +
		                   (outcome.small_count_lines.count == 1 ? " has" : " have") +
		                   " a count too small for the address and checksum: left as they "
		                   "are; tallyfix --check says more");
	const line_list &others = outcome.other_format_lines;
	const bool one = others.count == 1;
	if (others.count != 0)
		complain(
		    path,
		    some_lines(others) +
		        (outcome.format == record_format::s_record
		             ? (one ? " is an Intel HEX record" : " are Intel HEX records")
		             : (one ? " is an S-record" : " are S-records")) +
		        ", in a file read as " +
		        (outcome.format == record_format::s_record ? "S-records" : "Intel HEX") +
		        ": left as " + (one ? "it is" : "they are"));
}

// Rewrites the open file to standard output; false if any of it was lost,
// or lines of the other format were left as they are: a file that mixes the
// two is not what a loader takes.
bool rewrite_file(const char *path, std::FILE *in)
{
	const stream_outcome outcome = rewrite_stream(in, stdout, plain_rewrite());
	switch (outcome.result) {
	case stream_result::ok:
		point_at_trouble(path, outcome);
		return outcome.other_format_lines.count == 0;
	case stream_result::read_failed:
	case stream_result::block_too_small:
		return complain(path, std::strerror(outcome.error));
	case stream_result::utf16_text:
		return complain(path,
		                "the file is UTF-16 text: save it as plain text and try again");
	case stream_result::write_failed:
		return complain("standard output", std::strerror(outcome.error));
	}
	return false;
}

bool is_empty(std::FILE *in)
{
	return std::fseek(in, 0, SEEK_END) == 0 && std::ftell(in) == 0;
}

// The usual run: the banner first when the argument count is wrong, then the
// first argument opened and rewritten. in is the file opened, or null, and
// open_error why not.
bool rewrite_opened_file(const char *path, std::FILE *in, int open_error, bool wrong_count)
{
	// Opened first, so that nothing, the banner included, is ever appended
	// to an input file that is also the output.
	const bool onto_itself = in != nullptr && same_file(in, stdout);
	if (wrong_count && !onto_itself && !write_banner())
		return false;
	if (in == nullptr) {
		write_text(std::string(path != nullptr ? path : "(null)") + " failed to open\n");
		if (path != nullptr)
			complain(path, std::strerror(open_error));
		return false;
	}
	if (onto_itself)
		return complain(path, is_empty(in)
		                          ? "the input file is the output file, which a > redirect "
		                            "emptied before tallyfix started; --in-place fixes a "
		                            "file in place"
		                          : "the input file is the output file: nothing was "
		                            "written; --in-place fixes a file in place");
	return rewrite_file(path, in);
}

bool rewrite_named_file(const std::vector<std::string> &arguments)
{
	const bool wrong_count = arguments.size() != 2;
	const char *path = arguments.size() > 1 ? arguments[1].c_str() : nullptr;
	std::FILE *in = path != nullptr ? open_input(path) : nullptr;
	const int open_error = errno;
	const bool done = rewrite_opened_file(path, in, open_error, wrong_count);
	if (in != nullptr)
		std::fclose(in); // read only: nothing to lose here
	return done;
}

// How --check and --in-place run, from the options before the first file.
struct run_settings {
	finding_writer writer;
	bool strict;
	std::size_t files, unreadable; // named; and of them, not read to the end
};

status file_status(const run_settings &run, std::size_t errors, std::size_t warnings)
{
	return run.writer.errors != errors || (run.strict && run.writer.warnings != warnings)
	           ? flawed
	           : clean;
}

void start_file(run_settings &run, const char *path, file_structure &structure)
{
	run.writer.name = path;
	run.writer.file_has_findings = false;
	begin_structure(structure, report_finding, &run.writer);
}

status unreadable(run_settings &run, const char *path, const std::string &reason)
{
	++run.unreadable;
	return complain(failed, path, reason);
}

// --check: every flaw on standard output, nothing changed.
status check_file(const char *path, run_settings &run)
{
	std::FILE *in = open_input(path);
	if (in == nullptr)
		return unreadable(run, path, std::strerror(errno));
	const std::size_t errors = run.writer.errors, warnings = run.writer.warnings;
	file_structure structure;
	start_file(run, path, structure);
	const stream_outcome outcome =
	    rewrite_stream(in, nullptr, repair(run.writer, structure, true));
	if (outcome.result == stream_result::ok)
		end_structure(structure, outcome.lines, in);
	std::fclose(in); // read only: nothing to lose here
	if (run.writer.error != 0)
		return complain(failed, "standard output", std::strerror(run.writer.error));
	switch (outcome.result) {
	case stream_result::ok:
		return file_status(run, errors, warnings);
	case stream_result::utf16_text:
		return unreadable(run, path,
		                  "the file is UTF-16 text: save it as plain text and try again");
	default:
		return unreadable(run, path, std::strerror(outcome.error));
	}
}

// --in-place: the findings that are left on standard error.
status fix_file(const char *path, run_settings &run)
{
	const std::size_t errors = run.writer.errors, warnings = run.writer.warnings;
	file_structure structure;
	start_file(run, path, structure);
	const status done = fix_in_place(path, repair(run.writer, structure, false));
	// Findings that could not be said are a failure, whatever was done.
	return std::max(
	    {done, file_status(run, errors, warnings), run.writer.error != 0 ? failed : clean});
}

// "3 errors and 1 warning in 2 of 5 files; 1 could not be read": every
// file named is counted.
std::string tally(const finding_writer &writer, std::size_t files, std::size_t unreadable)
{
	const auto some = [](std::size_t n, const char *what) {
		return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
	};
	if (unreadable == files)
		return files == 1 ? "the file could not be read"
		                  : "none of the " + std::to_string(files) + " files could be read";
	const std::string could_not =
	    unreadable != 0 ? "; " + std::to_string(unreadable) + " could not be read" : "";
	const std::string in =
	    files == 1 ? " in 1 file" : " in " + std::to_string(files) + " files";
	if (writer.errors + writer.warnings == 0)
		return "no errors or warnings" + in + could_not;
	std::string found = writer.errors != 0 ? some(writer.errors, "error") : "";
	if (writer.warnings != 0)
		found += (found.empty() ? "" : " and ") + some(writer.warnings, "warning");
	return found +
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

// The options between --check or --in-place and the first file; the index
// of that file, or 0 after a usage error, said.
std::size_t take_options(const std::vector<std::string> &arguments, run_settings &run)
{
	const bool check = arguments[1] == "--check";
	std::string colour = "auto";
	std::size_t i = 2;
	for (; i < arguments.size() && arguments[i].size() > 1 && arguments[i][0] == '-'; ++i) {
		const std::string &option = arguments[i];
		const std::string value = option.substr(option.find('=') + 1);
		if (option == "--") {
			++i;
			break;
		} else if (option == "--strict") {
			run.strict = true;
		} else if (option.rfind("--color=", 0) == 0 &&
		           (value == "auto" || value == "always" || value == "never")) {
			colour = value;
		} else if (option.rfind("--format=", 0) == 0 && check &&
		           (value == "gcc" || value == "github" || value == "sarif" ||
		            value == "json")) {
			run.writer.format = value == "gcc"      ? output_format::gcc
			                    : value == "github" ? output_format::github
			                    : value == "sarif"  ? output_format::sarif
			                                        : output_format::json;
		} else {
			complain(option, option.rfind("--format=", 0) == 0 && !check
			                     ? "the format is --check's: --in-place says what it "
			                       "leaves on standard error, as GCC does"
			                     : "not an option here; tallyfix --help lists them");
			return 0;
		}
	}
	std::FILE *out = check ? stdout : stderr;
	run.writer.out = out;
	run.writer.colour = run.writer.format == output_format::gcc && wants_colour(out, colour);
	run.writer.show_record = run.writer.format == output_format::gcc && is_terminal(out);
	run.writer.width = run.writer.show_record ? terminal_width(out) : 0;
	return i;
}

status for_each_file(const std::vector<std::string> &arguments)
{
	const bool check = arguments[1] == "--check";
	run_settings run{};
	const std::size_t first = take_options(arguments, run);
	if (first == 0)
		return failed;
	if (first == arguments.size())
		return complain(failed, arguments[1], "name at least one file");
	begin_findings(run.writer);
	status worst = clean;
	for (std::size_t i = first; i < arguments.size(); ++i) {
		const char *path = arguments[i].c_str();
		++run.files;
		worst = std::max(worst, check ? check_file(path, run) : fix_file(path, run));
		std::fflush(stdout); // each file's findings before the next one's lines
		if (check && run.writer.error != 0)
			break; // said: nothing more can be told
	}
	worst = std::max(worst, flush_fixed_folders());
	end_findings(run.writer);
	if (check && run.writer.format != output_format::sarif && is_terminal(stdout))
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

// The plain run writes through an unbuffered standard output: a failed write
// is seen where it happens, and leaves nothing behind for the flush at exit
// to add after the gap, whatever the C library keeps of a buffer it could
// not write.
int plain_run(const std::vector<std::string> &arguments)
{
	const bool wrong_count = arguments.size() != 2;
	bool done = std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 ||
	            complain("standard output", "cannot be made unbuffered");
	if (done && !wrong_count && (arguments[1] == "--help" || arguments[1] == "-h"))
		done = write_banner() && write_text(options);
	else if (done && !wrong_count && arguments[1] == "--version")
		done = write_text(version_line);
	else if (done)
		done = rewrite_named_file(arguments);
	return wrong_count ? 2 : done ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
	const std::vector<std::string> arguments = utf8_arguments(argc, argv);
	set_binary_mode(stdout);
	const std::string first = arguments.size() > 1 ? arguments[1] : "";
	if (first == "--check" || first == "--in-place" || first == "-i")
		return for_each_file(arguments);
	return plain_run(arguments);
}
