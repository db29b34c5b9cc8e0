// What --check and --in-place find in a file, as data: the loop and the
// structure checks make findings, and one place writes them in each format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "record_layout.hpp"

enum class severity { error, warning };

// A kind of finding; its name, its severity and its words are in findings.cpp.
enum class rule {
	not_a_record,     // a line that is neither blank, a comment nor a record
	bad_digit,        // a character that is not a hexadecimal digit
	digits_missing,   // the line ends digits short of its checksum's end
	checksum_missing, // both digits of it: or a byte deleted, the count unchanged
	digits_extra,     // hexadecimal digits straight after the checksum
	checksum_wrong,
	count_for_type, // an end, address or start record of the wrong count
	no_end_record,  // the file ends without an end-of-file record
	after_end,      // records after the end-of-file record
	unknown_type,   // a type of 06 or above
	overlap,        // a data record writes addresses written before
	crosses_64k,    // a data record runs over a 64 KiB boundary
	start_conflict, // a start address record unlike an earlier one
	more_overlaps,  // overlaps past those said one by one
	// S-records
	count_too_small,   // for the address and checksum of the record's type
	reserved_type,     // S4
	record_count,      // an S5 or S6 record that miscounts the data records
	no_termination,    // no S7, S8 or S9 record
	termination_width, // a termination record of another address width
	binary_data,       // a file that is not text at all
	stored_checksum,   // --crc: the value stored is not the range's, or cannot be checked
};
constexpr std::size_t rule_count = static_cast<std::size_t>(rule::stored_checksum) + 1;

// Whether two records that write the same address write the same bytes:
// unknown from a pipe, which cannot be read twice, and from a file that
// changed between its two readings.
enum class same_bytes { yes, no, unknown, file_changed };

struct finding {
	rule kind;
	record_format format;
	std::size_t line, column; // from 1; the colon of a record is column 1
	int type;                 // the record's type, or -1
	// Checksum values; counts of count_for_type, count_too_small and
	// record_count; the types of termination_width.
	unsigned found, right;
	std::size_t count;       // digits missing or extra; lines of more_overlaps
	unsigned char character; // a bad digit
	std::size_t other_line;  // the earlier record, or 0 when not known
	std::uint64_t from, to;  // addresses written, to not included
	same_bytes same;
	bool second;       // after_end: an end-of-file record itself
	bool other_format; // not_a_record: a record of the other format
	const char *text;  // the line, length characters, or null
	std::size_t length;
	const char *words; // stored_checksum: what was found, whole
};

severity severity_of(rule kind);
const char *rule_id(rule kind);          // "checksum-wrong"
const char *rule_name(rule kind);        // "ChecksumWrong"
const char *rule_summary(rule kind);     // a line
const char *rule_description(rule kind); // what it means
const char *rule_help(rule kind);        // what to do

enum class output_format { gcc, github, sarif, json, gitlab, junit };

// Where and how the findings of a run are written, and how many there were.
struct finding_writer {
	std::FILE *out;
	output_format format;
	bool colour;        // GCC's colours
	bool show_record;   // the record under its finding, a caret under the field,
	std::size_t width;  // cut to this many columns, unless 0
	bool strict;        // JUnit: warnings fail a file too
	bool drive_letters; // a name may start with a Windows drive ("C:")
	std::string base;   // SARIF: where relative names start, as a URI, or empty
	const char *name;   // of the file at hand, as given
	std::size_t errors, warnings, files_with_findings, written;
	bool file_has_findings;
	int error; // errno of a failed write
	// What the formats written whole at the end keep until then: JUnit's
	// test cases and the file at hand's findings, SARIF's notifications; and
	// how many of each fingerprint GitLab has been given.
	std::string kept, file_errors, file_warnings;
	std::size_t files, failed_files, unreadable_files;
	std::map<std::string, std::size_t> fingerprints;
};

// The one finding of a file that is no text at all.
finding binary_finding();

// The words of a finding, without its place.
std::string describe(const finding &found);

// "3 errors and 1 warning", none of what there is none of.
std::string counted(std::size_t errors, std::size_t warnings);

// A name made one line: control characters as \n, \t, \x1b.
std::string one_line(const std::string &name);

// What starts and ends a run's output (SARIF's and JUnit's documents,
// GitLab's array, GitHub's count of the findings it shows), what starts
// each file, and each finding. A file that could not be read is said in
// SARIF's notifications and as a JUnit error.
void begin_findings(finding_writer &writer);
void begin_file(finding_writer &writer, const char *name);
void file_unreadable(finding_writer &writer, const std::string &reason);
void write_finding(finding_writer &writer, const finding &found);
void end_findings(finding_writer &writer);

// The loop's report: a finding_writer as context.
void report_finding(void *writer, const finding &found);
