// The command line: the options, their words in --help, how each is read,
// and what is said of one that is wrong.
#include "command_line.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "edit_values.hpp"
#include "platform.hpp"
#include "stamp_option.hpp"
#include "tool.hpp"

namespace {

const char *const banner[] = {
    "tallyfix version 1.1\n",
    "\n",
    "This program recomputes the checksum for a .hex file.\n",
    "You can now go in and edit the .hex file directly, and\n",
    "then run tallyfix against the file to recalculate the\n",
    "checksum values.\n\n",
    "Syntax: tallyfix myfile.hex > newfile.hex\n",
    "This will process myfile.hex and produce a new file,\n",
    "newfile.hex which contains correct checksum values\n",
};

// A mode makes the run its own wherever it stands; help and version are
// asked for alone in the plain run, anywhere in a mode's; an edit makes a
// run without a mode its own, and goes with --in-place.
enum class kind { mode, info, edit, option };

// Each option once: its names, whether it takes a value and what it is, and
// its help, whose lines after the first are indented under it.
struct option {
	const char *name;
	const char *short_name; // or null
	kind is;
	run_mode mode;          // a mode's
	const char *value_name; // or null: no value
	const char *values;     // what the value may be, in words
	const char *help;
};

const char format_names[] = "the formats are gcc, github, sarif, json, gitlab and junit";
const char colour_names[] = "the choices are auto, always and never";

const option options[] = {
    {"--check", nullptr, kind::mode, run_mode::check, nullptr, nullptr,
     "report what is wrong in each file; change nothing"},
    {"--in-place", "-i", kind::mode, run_mode::in_place, nullptr, nullptr,
     "fix each file in place"},
    {"--set", nullptr, kind::edit, run_mode::edit, "ADDRESS=VALUE",
     "ADDRESS=VALUE, as 0x0801F000=DEADBEEF",
     "set bytes from ADDRESS (0x hexadecimal, or decimal) up:\n"
     "one file to standard output, or each in place with -i,\n"
     "as -i fixes it; VALUE is hexadecimal bytes (DEADBEEF),\n"
     "u8: u16le: u16be: to u64be: or i8: to i64be: and a\n"
     "number, text:TEXT or file:PATH; given again, more"},
    {"--crc", nullptr, kind::edit, run_mode::edit, "ALGORITHM,...",
     "ALGORITHM,range=START-END,at=ADDRESS,order=le|be, as "
     "crc-32,range=0x08000000-0x0801FFFB,at=0x0801FFFC,order=le",
     "a CRC or sum over range=START-END (or START+LENGTH)\n"
     "of the image, gaps as fill=BYTE (FF) or none, written\n"
     "at=ADDRESS in order=le|be as --set writes bytes;\n"
     "compared with --check; only said without at=; crc-32,\n"
     "crc-16/xmodem, sum8 and more (man tallyfix); again, more"},
    {"--help", "-h", kind::info, run_mode::help, nullptr, nullptr, "this text"},
    {"--version", nullptr, kind::info, run_mode::version, nullptr, nullptr, "the version"},
    {"--format", nullptr, kind::option, run_mode::check, "FORMAT", format_names,
     "how --check writes what it finds: gcc (the default,\n"
     "FILE:LINE:COLUMN: error: what), github, sarif, json,\n"
     "gitlab (a GitLab Code Quality report) or junit (JUnit XML)"},
    {"--color", nullptr, kind::option, run_mode::check, "WHEN", colour_names,
     "colours of the gcc format: auto (on a terminal), always\nor never"},
    {"--strict", nullptr, kind::option, run_mode::check, nullptr, nullptr,
     "warnings give status 1 too"},
};

const struct {
	const char *name;
	output_format format;
} formats[] = {
    {"gcc", output_format::gcc},       {"github", output_format::github},
    {"sarif", output_format::sarif},   {"json", output_format::json},
    {"gitlab", output_format::gitlab}, {"junit", output_format::junit},
};
bool say(const std::string &text)
{
	std::fflush(stdout);
	std::fprintf(stderr, "tallyfix: %s\n", one_line(text).c_str());
	return false;
}

const option *named(const std::string &argument)
{
	const std::string name = argument.substr(0, argument.find('='));
	for (const option &o : options)
		if (name == o.name || (o.short_name != nullptr && argument == o.short_name))
			return &o;
	return nullptr;
}

bool is_option(const std::string &argument)
{
	return argument.size() > 1 && argument[0] == '-';
}

// The index of "--", or of the end.
std::size_t end_of_options(const std::vector<std::string> &arguments)
{
	std::size_t i = 1;
	while (i < arguments.size() && arguments[i] != "--")
		++i;
	return i;
}

// The mode that the arguments before "--" name: plain when they name none,
// else help or version where they ask for either, else the mode; or
// usage_error, said, for two modes that cannot go together.
run_mode mode_named(const std::vector<std::string> &arguments)
{
	run_mode mode = run_mode::plain, info = run_mode::plain;
	bool both = false, edit = false, set = false;
	const std::size_t end = end_of_options(arguments);
	for (std::size_t i = 1; i < end; ++i) {
		const option *o = is_option(arguments[i]) ? named(arguments[i]) : nullptr;
		if (o != nullptr && o->is == kind::info && info == run_mode::plain &&
		    arguments[i].find('=') == std::string::npos)
			info = o->mode;
		edit = edit || (o != nullptr && o->is == kind::edit);
		set = set || (o != nullptr && o->name == std::string("--set"));
		if (o == nullptr || o->is != kind::mode)
			continue;
		both = both || (mode != run_mode::plain && o->mode != mode);
		mode = o->mode;
	}
	if ((mode != run_mode::plain || edit) && info != run_mode::plain)
		return info;
	if (both)
		say("--check and --in-place cannot go together: run tallyfix once for each");
	if (!both && set && mode == run_mode::check)
		say("--set changes files and --check changes nothing: give --set alone to write "
		    "the file to standard output, or with -i to change files in place");
	return both || (set && mode == run_mode::check) ? run_mode::usage_error
	       : edit && mode == run_mode::plain        ? run_mode::edit
	                                                : mode;
}

// An option's value: after '=', or the next argument; false, said, when
// it has none or one it should not have.
bool take_value(const std::vector<std::string> &arguments, std::size_t &i, const option &o,
                std::string &value)
{
	const std::string &argument = arguments[i];
	const std::size_t equals = argument.find('=');
	if (o.value_name == nullptr)
		return equals == std::string::npos ||
		       say(argument + ": " + o.name + " takes no value");
	if (equals != std::string::npos) {
		value = argument.substr(equals + 1);
		return true;
	}
	if (i + 1 >= end_of_options(arguments))
		return say(std::string(o.name) + " needs a value: " + o.values);
	value = arguments[++i];
	return true;
}

// The most a file:PATH value takes: far more than a calibration table or a
// key, and its plan stays well within memory.
constexpr std::size_t largest_file_value = std::size_t{16} << 20;

// The bytes of a file:PATH value, all of them.
bool read_whole_file(const std::string &path, std::string &bytes, std::string &reason)
{
	std::FILE *in = open_input(path.c_str());
	if (in == nullptr) {
		reason = std::strerror(errno);
		return false;
	}
	char chunk[1 << 14];
	std::size_t got;
	bytes.clear();
	while (bytes.size() <= largest_file_value &&
	       (got = std::fread(chunk, 1, sizeof chunk, in)) != 0)
		bytes.append(chunk, got);
	const bool read = std::ferror(in) == 0;
	reason = read ? "" : std::strerror(errno);
	std::fclose(in); // read only: nothing to lose
	if (read && bytes.empty())
		reason = "the file is empty";
	if (read && bytes.size() > largest_file_value)
		reason = "it holds more than the 16 MiB --set takes";
	return reason.empty();
}

// Sets what the option says; false, said, for a value it does not take.
bool take_option(run_request &run, const option &o, const std::string &value)
{
	const std::string shown = std::string(o.name) + "=" + value;
	std::string reason;
	if (o.name == std::string("--crc")) {
		run.stamps.emplace_back();
		if (!read_stamp(value, run.stamps.back(), reason))
			return say(shown + ": " + reason);
		if (run.mode == run_mode::check && run.stamps.back().at == no_address)
			return say(shown +
			           ": --check compares the value stored in the file: give at= "
			           "and order=, or leave --check out to have the value said");
	} else if (o.is == kind::edit) {
		run.edits.emplace_back();
		if (!read_edit(value, run.edits.back(), reason, read_whole_file))
			return say(std::string(o.name) + " " + value + ": " + reason);
	} else if (o.name == std::string("--strict")) {
		run.strict = true;
	} else if (o.name == std::string("--color")) {
		if (value != "auto" && value != "always" && value != "never")
			return say(shown + ": " + colour_names);
		run.colour = value;
	} else {
		bool known = false;
		for (const auto &f : formats)
			if (value == f.name) {
				run.format = f.format;
				known = true;
			}
		if (!known)
			return say(shown + ": " + format_names);
		if (run.mode != run_mode::check && run.format != output_format::gcc)
			return say(shown + ": the format is --check's: " +
			           (run.mode == run_mode::edit
			                ? "--set and --crc say what they leave"
			                : "--in-place says what it leaves") +
			           " on standard error, as GCC does");
	}
	return true;
}

run_request usage_error(run_request run)
{
	run.mode = run_mode::usage_error;
	return run;
}

// A mode's run: its options anywhere among the files.
run_request mode_request(const std::vector<std::string> &arguments, run_mode mode)
{
	run_request run{mode, {}, false, output_format::gcc, "auto", false, {}, {}};
	const std::size_t end = end_of_options(arguments);
	for (std::size_t i = 1; i < arguments.size(); ++i) {
		const std::string &argument = arguments[i];
		std::string value;
		if (i == end)
			continue;
		if (i > end || !is_option(argument)) {
			run.files.push_back(argument);
			continue;
		}
		const option *o = named(argument);
		if (o == nullptr) {
			say("unknown option " + argument + " (tallyfix --help lists them)");
			return usage_error(run);
		}
		if (!take_value(arguments, i, *o, value) ||
		    ((o->is == kind::option || o->is == kind::edit) &&
		     !take_option(run, *o, value)))
			return usage_error(run);
	}
	if (run.files.empty()) {
		say(std::string(mode == run_mode::check      ? "--check: name at least one file"
		                : mode == run_mode::in_place ? "--in-place: name at least one file"
		                : !run.edits.empty()         ? "--set: name the file to change"
		                                             : "--crc: name the file"));
		return usage_error(run);
	}
	const std::string conflict = stamp_conflict(run.stamps, run.edits);
	if (!conflict.empty()) {
		say("--crc: " + conflict);
		return usage_error(run);
	}
	if (mode == run_mode::edit && run.files.size() > 1 && writes_bytes(run)) {
		say(std::string(run.edits.empty() ? "--crc" : "--set") +
		    " writes one file to standard output: name one, or give -i to change each file "
		    "in place");
		return usage_error(run);
	}
	return run;
}

} // namespace

run_request read_command_line(const std::vector<std::string> &arguments)
{
	const run_mode mode = mode_named(arguments);
	if (mode == run_mode::check || mode == run_mode::in_place || mode == run_mode::edit)
		return mode_request(arguments, mode);
	run_request run{mode, {}, arguments.size() != 2, output_format::gcc, "auto", false, {}, {}};
	if (mode != run_mode::plain)
		return run;
	run.files.assign(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
	const option *o = arguments.size() == 2 ? named(arguments[1]) : nullptr;
	if (o != nullptr && o->is == kind::info && arguments[1].find('=') == std::string::npos)
		run.mode = o->mode;
	return run;
}

// Whether the run writes bytes into the files: --set, or --crc with at=.
bool writes_bytes(const run_request &run)
{
	return !run.edits.empty() ||
	       std::any_of(run.stamps.begin(), run.stamps.end(),
	                   [](const crc_stamp &stamp) { return stamp.at != no_address; });
}

std::string banner_text()
{
	std::string text;
	for (const char *line : banner)
		text += line;
	return text;
}

std::string help_text()
{
	std::string text = banner_text() +
	                   "\nIt takes Intel HEX and Motorola S-record (S19, S28, S37) files.\n"
	                   "\nModes, each of any number of files, options anywhere among them:\n";
	for (const kind part : {kind::mode, kind::option}) {
		if (part == kind::option)
			text += "\nOptions of --check, --in-place and --set:\n";
		for (const option &o : options) {
			if ((o.is == kind::option) != (part == kind::option))
				continue;
			std::string usage = std::string("  ") + o.name +
			                    (o.short_name ? std::string(", ") + o.short_name : "") +
			                    (o.value_name ? std::string("=") + o.value_name : "");
			usage.resize(22, ' ');
			text += usage;
			for (const char *c = o.help; *c != '\0'; ++c)
				text += *c == '\n' ? std::string("\n") + std::string(22, ' ')
				                   : std::string(1, *c);
			text += "\n";
		}
	}
	return text + "  --                  the end of the options: a file may be named --x.hex\n"
	              "\nThe manual page has the rest: man tallyfix, or man ./tallyfix.1 where\n"
	              "tallyfix was unpacked (tallyfix.txt on Windows).\n";
}

std::string version_text()
{
	return banner[0];
}

std::string note_on_option(const std::string &argument)
{
	if (!is_option(argument) || argument == "--")
		return "";
	const option *o = named(argument);
	if (o == nullptr)
		return "no option tallyfix knows (tallyfix --help lists them)";
	if (o->is == kind::option)
		return "an option of --check, --in-place and --set";
	if (o->is == kind::info && argument.find('=') != std::string::npos)
		return std::string(o->name) + " takes no value";
	if (o->is == kind::info)
		return std::string("asked for alone: tallyfix ") + o->name;
	return "";
}
