// What a run of the tool is to do, read once from its arguments: the mode,
// its options and its files. Every usage message is written beside the
// options it is about, in command_line.cpp.
#pragma once

#include <string>
#include <vector>

#include "edits.hpp"
#include "findings.hpp"
#include "stamps.hpp"

// edit: --set or --crc without --in-place or --check: one file to standard
// output, or only the values of --crc said.
enum class run_mode { plain, help, version, check, in_place, edit, usage_error };

struct run_request {
	run_mode mode;
	// The files, as given. The plain run takes the first, if any, and
	// writes the banner first when it was not given exactly one argument.
	std::vector<std::string> files;
	bool wrong_count;
	output_format format;
	std::string colour; // auto, always or never
	bool strict;
	std::vector<byte_edit> edits;  // --set, in the order given
	std::vector<crc_stamp> stamps; // --crc, in the order given
};

// The arguments, program name first. A usage error is said on standard
// error; the request then has the mode usage_error.
//
// The plain run is the one argument of a file, or --help, -h or --version
// alone. Any argument before "--" that names a mode (--check, --in-place,
// -i) makes the run that mode's wherever it stands; options may then stand
// anywhere among the files, as --name=value or --name value, "--" ends
// them, and "-" alone is a file. --help anywhere in such a run asks for the
// help, and --version for the version. --set without a mode makes the run
// edit's; its values are read, files named in them too, before any file.
run_request read_command_line(const std::vector<std::string> &arguments);

// Whether the run writes bytes into the files: --set, or --crc with at=.
bool writes_bytes(const run_request &run);

// The plain run's banner, which says how to run it.
std::string banner_text();

// The banner, then what else the tool takes.
std::string help_text();

// The version line.
std::string version_text();

// Why a plain run's first argument that could not be opened may have been
// meant as an option ("--chek", "--strict"), or nothing.
std::string note_on_option(const std::string &argument);
