// The words of each finding, and the formats they are written in: GCC's
// diagnostics, GitHub's workflow commands, SARIF and JSON lines.
#include "findings.hpp"

#include <cstdarg>
#include <cstdio>

namespace {

struct rule_text {
	const char *id, *name; // the name is SARIF's friendly one
	severity level;
	const char *summary, *description, *help; // SARIF's short and full descriptions, help
};

// In the order of rule.
const rule_text rules[rule_count] = {
    {"not-a-record", "NonRecordLine", severity::error,
     "A line that is not a record, a comment or blank",
     "A line that is neither a record of the file's format (':' and hexadecimal digits for "
     "Intel HEX, 'S' and a digit for S-records), a blank line, a ';' comment nor Ctrl-Z "
     "padding. Loaders refuse the file. A record of the other format is one of these.",
     "Remove the line or make it a ';' comment; keep each file to one format."},
    {"bad-digit", "BadDigit", severity::error, "A character that is not a hexadecimal digit",
     "A character that is not a hexadecimal digit where a record's count, address, type, "
     "data or checksum stands.",
     "Type the digit that was meant: tallyfix --in-place leaves such a file as it is, as "
     "which byte was meant cannot be told."},
    {"digits-missing", "DigitsMissing", severity::error, "A record shorter than its count says",
     "The record ends digits before the end its count gives it: a data or checksum digit was "
     "deleted, and which cannot be told.",
     "Restore the digits, or correct the count; tallyfix --in-place then writes the checksum."},
    {"checksum-missing", "ChecksumMissing", severity::error, "A record without its checksum",
     "The record ends where its checksum should start: the checksum was left out, or a data "
     "byte deleted without changing the count.",
     "Type 00 where the checksum goes if it was left out, and tallyfix --in-place writes the "
     "right one; else restore the byte."},
    {"digits-extra", "DigitsExtra", severity::error, "A record longer than its count says",
     "Hexadecimal digits follow the checksum where the count says the record ends: data "
     "typed in without changing the count.",
     "Correct the count, or remove the digits; tallyfix --in-place then writes the checksum."},
    {"checksum-wrong", "ChecksumWrong", severity::error,
     "A checksum that does not match its record",
     "The record's checksum does not match its bytes, as after a data byte was edited by hand.",
     "tallyfix --in-place FILE writes the right checksum in the record's case; tallyfix FILE "
     "> NEW writes a copy with every data record's checksum right."},
    {"count-for-type", "CountForType", severity::error,
     "A record whose count does not fit its type",
     "An end-of-file, address or start record whose count is not its type's: 00, 02 or 04.",
     "Correct the count or the type: loaders refuse the record."},
    {"no-end-record", "NoEndRecord", severity::error, "A file without an end-of-file record",
     "The file ends without an end-of-file record: it may have been cut short.",
     "If the file is whole, add :00000001FF as its last record."},
    {"after-end", "RecordsAfterTheEnd", severity::warning, "Records after the end-of-file record",
     "Records after the end-of-file or termination record, where loaders stop: what follows "
     "is not loaded.",
     "Move the end record to the end, or remove what follows unless it is meant to stay out."},
    {"unknown-type", "UnknownType", severity::warning, "A record type that is not Intel HEX's",
     "A record type of 06 to FF, which Intel HEX does not have; some tools have their own.",
     "Check that the loader takes this type; remove the record otherwise."},
    {"overlap", "AddressesWrittenTwice", severity::warning,
     "Data written twice to the same address",
     "A data record writes addresses that an earlier record wrote: most loaders keep the "
     "later bytes, some refuse the file.",
     "Remove one of the records or make their bytes agree, unless this is meant."},
    {"crosses-64k", "CrossesSegmentBoundary", severity::warning,
     "A data record that runs over a 64 KiB boundary",
     "A data record runs over a 64 KiB boundary of its segment or upper address: loaders "
     "disagree on whether it wraps to the start of the segment.",
     "Split the record at the boundary, with an address record before the second part."},
    {"start-address", "StartAddressesDiffer", severity::warning, "Start addresses that differ",
     "Start address records that differ: a loader keeps one of them.",
     "Keep one start address record."},
    {"more-overlaps", "MoreAddressesWrittenTwice", severity::warning, "More data written twice",
     "More records write addresses written before, past the first 1000 said one by one.",
     "Look at the overlaps said before it."},
    {"count-too-small", "CountTooSmall", severity::error,
     "A count too small for the address and checksum of its record",
     "An S-record whose count is too small to hold its address and checksum.",
     "Correct the count: it covers the address, the data and the checksum."},
    {"reserved-type", "ReservedType", severity::error, "An S4 record, which is no S-record type",
     "An S4 record: S4 is no S-record type, and loaders refuse it.", "Remove the record."},
    {"record-count", "RecordCountWrong", severity::error,
     "An S5 or S6 record that miscounts the data records",
     "An S5 or S6 record whose count is not the number of S1, S2 and S3 records before it.",
     "Correct the count (S6 past 65535 records) or remove the record."},
    {"no-termination", "NoTerminationRecord", severity::warning,
     "An S-record file without a termination record",
     "An S-record file without an S7, S8 or S9 record, nor a count of its data records at its "
     "end: it may have been cut short.",
     "If the file is whole, add the termination record of its data records' address width."},
    {"termination-width", "TerminationWidth", severity::warning,
     "A termination record whose address width is not that of the data records",
     "A termination record whose start address is not as wide as the data records' "
     "addresses: loaders may want the one that matches.",
     "Use S7 after S3 data, S8 after S2 data and S9 after S1 data."},
    {"binary-data", "BinaryData", severity::error, "Binary data: not an Intel HEX or S-record file",
     "A file that is not text: no line of its first 4 KiB is a record, and more than a tenth "
     "of its bytes are not printable.",
     "Name the Intel HEX or S-record file; objcopy -I binary -O ihex makes one of a binary."},
    {"stored-checksum", "StoredChecksumWrong", severity::error,
     "A CRC or sum stored in the image that is not that of its range",
     "The value stored at the address --crc names is not the CRC or sum of its range, as "
     "after an edit of the image, or it cannot be checked: no record holds it, or a byte of "
     "the range is not in the file and fill=none. A loader that checks it refuses the image.",
     "tallyfix --in-place with the same --crc writes the right value there."},
};

const rule_text &text_of(rule kind)
{
	return rules[static_cast<std::size_t>(kind)];
}

std::string format(const char *pattern, ...)
{
	char text[256];
	va_list values;
	va_start(values, pattern);
	std::vsnprintf(text, sizeof text, pattern, values);
	va_end(values);
	return text;
}

bool is_s_record(const finding &found)
{
	return found.format == record_format::s_record;
}

// Of a record the plain run does not rewrite: whether --in-place does (a
// checksum missing, never: it does not add to a line).
std::string type_note(const finding &found)
{
	const record_layout &layout = layout_of(found.format);
	if (is_rewritten(layout, found.type))
		return "";
	const char *what = is_known_type(layout, found.type) && found.kind == rule::checksum_wrong
	                       ? "only --in-place rewrites it"
	                       : "not rewritten";
	return is_s_record(found)
	           ? format(" (an S%d record: %s)", found.type, what)
	           : format(" (a type %02X record: %s)", static_cast<unsigned>(found.type), what);
}

// An address width in bits, from an S-record type that gives it.
int address_bits(int type)
{
	return 8 * static_cast<int>(address_bytes(s_record_layout, type));
}

std::string s_record_words(const finding &found)
{
	switch (found.kind) {
	case rule::count_too_small:
		return format("count %02X is too small for an S%d record: its address and checksum "
		              "alone take %02X",
		              found.found, found.type, found.right);
	case rule::reserved_type:
		return "S4 is no S-record type: loaders refuse it";
	case rule::record_count:
		return format("an S%d record that counts %u data records, after %u of them",
		              found.type, found.found, found.right) +
		       (found.type == 5 && found.right > 0xFFFF
		            ? ": more than 65535 need an S6 record"
		            : "");
	case rule::no_termination:
		return "no termination record (S7, S8 or S9): the file may have been cut short";
	default:
		return format("an S%d record (a %d-bit start address) ends S%u data records "
		              "(%d-bit addresses): loaders may want S%u",
		              found.type, address_bits(found.type), found.right,
		              address_bits(static_cast<int>(found.right)), 10 - found.right);
	}
}

// With its article.
const char *type_name(int type)
{
	switch (type) {
	case 1:
		return "an end-of-file";
	case 2:
		return "an extended segment address";
	case 3:
		return "a start segment address";
	case 4:
		return "an extended linear address";
	}
	return "a start linear address";
}

std::string addresses(const finding &found)
{
	const auto from = static_cast<unsigned long long>(found.from);
	const auto last = static_cast<unsigned long long>(found.to - 1);
	return from == last ? format("0x%04llX", from) : format("0x%04llX to 0x%04llX", from, last);
}

std::string overlap_words(const finding &found)
{
	const std::string written = "writes " + addresses(found) + ", written before";
	if (found.other_line == 0)
		return written + "; which line wrote them and with what bytes is not known: " +
		       (found.same == same_bytes::file_changed
		            ? "the file changed between tallyfix's two readings of it"
		            : "the input cannot be read twice");
	return written + format(" by line %zu", found.other_line) +
	       (found.same == same_bytes::yes ? ", with the same bytes"
	                                      : ", with other bytes: loaders disagree on which "
	                                        "they keep");
}

std::string checksum_words(const finding &found)
{
	switch (found.kind) {
	case rule::digits_missing:
		return found.count == 1 ? "a digit is missing"
		                        : format("%zu digits are missing", found.count);
	case rule::digits_extra: // counted up to three: a long line's head shows no more
		return found.count == 1 ? "1 digit more than the count says: a digit typed in "
		                          "without changing the count?"
		       : found.count == 2
		           ? "2 digits more than the count says: a byte added without changing "
		             "the count?"
		           : "more digits than the count says: data added without changing the "
		             "count?";
	case rule::checksum_missing:
		if (is_rewritten(layout_of(found.format), found.type))
			return format(
			    "checksum missing (it would be %02X), or a byte deleted without "
			    "changing the count",
			    found.right);
		return format("checksum missing, should be %02X", found.right) + type_note(found);
	default:
		return format("checksum %02X, should be %02X", found.found, found.right) +
		       type_note(found);
	}
}

} // namespace

severity severity_of(rule kind)
{
	return text_of(kind).level;
}

const char *rule_id(rule kind)
{
	return text_of(kind).id;
}

const char *rule_name(rule kind)
{
	return text_of(kind).name;
}

const char *rule_summary(rule kind)
{
	return text_of(kind).summary;
}

const char *rule_description(rule kind)
{
	return text_of(kind).description;
}

const char *rule_help(rule kind)
{
	return text_of(kind).help;
}

finding binary_finding()
{
	finding found{};
	found.kind = rule::binary_data;
	found.line = found.column = 1;
	found.type = -1;
	return found;
}

std::string describe(const finding &found)
{
	const unsigned char c = found.character;
	switch (found.kind) {
	case rule::not_a_record:
		if (found.other_format)
			return is_s_record(found)
			           ? "an Intel HEX record in a file of S-records: left as it is"
			           : "an S-record in a file of Intel HEX records: left as it is";
		return is_s_record(found) ? "not a record: a record starts with 'S' and a digit"
		                          : "not a record: a record starts with ':'";
	case rule::bad_digit:
		return format(c > ' ' && c < 0x7F ? "'%c' is not a hexadecimal digit"
		                                  : "0x%02X is not a hexadecimal digit",
		              c);
	case rule::count_for_type:
		return format("count %02X in %s record (type %02X), which has %02X", found.found,
		              type_name(found.type), static_cast<unsigned>(found.type),
		              found.right);
	case rule::no_end_record:
		return "no end-of-file record (:00000001FF): the file may have been cut short";
	case rule::after_end:
		if (is_s_record(found))
			return format(found.second
			                  ? "a second termination record, after that of line "
			                    "%zu: loaders stop at the first"
			                  : "records after the termination record of line "
			                    "%zu: loaders stop at that record",
			              found.other_line);
		return found.second
		           ? format("a second end-of-file record, after that of line %zu: loaders "
		                    "stop at the first",
		                    found.other_line)
		           : format("records after the end-of-file record of line %zu: loaders "
		                    "stop at that record",
		                    found.other_line);
	case rule::unknown_type:
		return format("record type %02X is not an Intel HEX type: loaders may refuse it",
		              static_cast<unsigned>(found.type));
	case rule::overlap:
		return overlap_words(found);
	case rule::crosses_64k:
		return addresses(found) + " runs over a 64 KiB boundary: loaders disagree on "
		                          "whether it wraps to the start of its segment";
	case rule::start_conflict:
		return format("a start address unlike that of line %zu", found.other_line);
	case rule::more_overlaps:
		return format("%zu more records from here on write addresses written before",
		              found.count);
	case rule::binary_data:
		return "binary data: not an Intel HEX or S-record file";
	case rule::stored_checksum:
		return found.words;
	case rule::count_too_small:
	case rule::reserved_type:
	case rule::record_count:
	case rule::no_termination:
	case rule::termination_width:
		return s_record_words(found);
	default:
		return checksum_words(found);
	}
}

std::string one_line(const std::string &name)
{
	std::string shown;
	for (const char c : name) {
		const auto byte = static_cast<unsigned char>(c);
		if (c == '\n')
			shown += "\\n";
		else if (c == '\t')
			shown += "\\t";
		else if (byte < 0x20 || byte == 0x7F)
			shown += format("\\x%02x", byte);
		else
			shown += c;
	}
	return shown;
}
