// Findings in each format: GCC's "FILE:LINE:COLUMN: error: what", which
// editors and problem matchers read, on a terminal with colour and the
// record under it; GitHub's workflow commands; a JSON object a line; and the
// documents of ci_reports.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "ci_reports.hpp"
#include "findings.hpp"
#include "text_escapes.hpp"
#include "tool.hpp"

namespace {

// GitHub shows this many errors, and as many warnings, from a step.
constexpr std::size_t github_shows = 10;

void put(finding_writer &w, const std::string &text)
{
	if (w.error == 0 && std::fputs(text.c_str(), w.out) < 0)
		w.error = errno != 0 ? errno : EIO;
}

// GitHub's workflow commands take these characters of a message, and of a
// property also ':' and ','; a line end in a name as GitHub reads it (%0D,
// %0A), any other control character as one_line shows it.
std::string github_escaped(const std::string &text, bool property)
{
	std::string escaped;
	for (const char c : text) {
		if (c == '%' || c == '\r' || c == '\n' || (property && (c == ':' || c == ',')))
			escaped += hex_byte(static_cast<unsigned char>(c), "%%%02X");
		else
			escaped += one_line(std::string(1, c));
	}
	return escaped;
}

// How many characters of the record the finding's field takes.
std::size_t field_width(rule kind)
{
	switch (kind) {
	case rule::checksum_wrong:
	case rule::count_for_type:
	case rule::unknown_type:
	case rule::count_too_small:
		return 2;
	case rule::overlap:
	case rule::crosses_64k:
		return 4;
	default:
		return 1;
	}
}

// The record as GCC shows a source line, a caret under the field: what
// cannot be shown as it is, control characters above all, as '?'. A record
// wider than the terminal is cut to it, with "..." where it is cut, around
// the field.
std::string record_under(const finding &found, bool colour, std::size_t width)
{
	char margin[32];
	const auto margin_width =
	    static_cast<std::size_t>(std::snprintf(margin, sizeof margin, "%5zu | ", found.line));
	const std::size_t room =
	    width == 0 ? found.length : std::max(width, margin_width + 24) - margin_width;
	const std::size_t column = found.column - 1;
	const std::size_t field =
	    std::min(field_width(found.kind), found.length + 1 - found.column);
	std::size_t from = 0, to = found.length;
	if (found.length > room && column + field + 3 <= room) {
		to = room - 3;
	} else if (found.length > room) {
		from = column - std::min(column, (room - 6) / 2);
		to = from + room - 6;
		if (to >= found.length) {
			to = found.length;
			from = found.length - (room - 3);
		}
	}
	std::string shown = from != 0 ? "..." : "";
	for (std::size_t i = from; i < to; ++i) {
		const auto c = static_cast<unsigned char>(found.text[i]);
		shown += c >= ' ' && c < 0x7F ? static_cast<char>(c) : '?';
	}
	if (to < found.length)
		shown += "...";
	const std::size_t caret = column - from + (from != 0 ? 3 : 0);
	return margin + shown + "\n      | " + std::string(caret, ' ') +
	       (colour ? "\033[1;32m" : "") + "^" + std::string(field > 1 ? field - 1 : 0, '~') +
	       (colour ? "\033[0m" : "") + "\n";
}

std::string gcc_line(const finding_writer &w, const finding &found)
{
	const bool error = severity_of(found.kind) == severity::error;
	const std::string place = one_line(w.name) + ":" + std::to_string(found.line) + ":" +
	                          std::to_string(found.column) + ":";
	const char *level = error ? "error:" : "warning:";
	if (!w.colour)
		return place + " " + level + " " + describe(found) + "\n";
	return "\033[1m" + place + "\033[0m " + (error ? "\033[1;31m" : "\033[1;35m") + level +
	       "\033[0m " + describe(found) + "\n";
}

std::string github_line(const finding_writer &w, const finding &found)
{
	return std::string(severity_of(found.kind) == severity::error ? "::error" : "::warning") +
	       " file=" + github_escaped(w.name, true) + ",line=" + std::to_string(found.line) +
	       ",col=" + std::to_string(found.column) +
	       "::" + github_escaped(describe(found), false) + "\n";
}

std::string json_line(const finding_writer &w, const finding &found)
{
	return "{\"file\":" + json_string(w.name) + ",\"line\":" + std::to_string(found.line) +
	       ",\"column\":" + std::to_string(found.column) + ",\"severity\":\"" +
	       (severity_of(found.kind) == severity::error ? "error" : "warning") +
	       "\",\"rule\":\"" + rule_id(found.kind) +
	       "\",\"message\":" + json_string(describe(found)) + "}\n";
}

} // namespace

std::string counted(std::size_t errors, std::size_t warnings)
{
	const auto some = [](std::size_t n, const char *what) {
		return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
	};
	if (warnings == 0)
		return some(errors, "error");
	return errors == 0 ? some(warnings, "warning")
	                   : some(errors, "error") + " and " + some(warnings, "warning");
}

void begin_findings(finding_writer &w)
{
	if (w.format == output_format::sarif)
		put(w, sarif_head(w));
	else if (w.format == output_format::gitlab)
		put(w, "[\n");
}

void begin_file(finding_writer &w, const char *name)
{
	if (w.format == output_format::junit && w.name != nullptr)
		junit_end_file(w, "");
	w.name = name;
	w.file_has_findings = false;
}

void file_unreadable(finding_writer &w, const std::string &reason)
{
	if (w.format == output_format::sarif)
		sarif_unreadable(w, reason);
	else if (w.format == output_format::junit) {
		junit_end_file(w, reason);
		w.name = nullptr;
	}
}

void write_finding(finding_writer &w, const finding &found)
{
	if (severity_of(found.kind) == severity::error)
		++w.errors;
	else
		++w.warnings;
	w.files_with_findings += !w.file_has_findings;
	w.file_has_findings = true;
	switch (w.format) {
	case output_format::gcc:
		put(w, gcc_line(w, found));
		if (w.show_record && found.text != nullptr)
			put(w, record_under(found, w.colour, w.width));
		break;
	case output_format::github:
		put(w, github_line(w, found));
		break;
	case output_format::sarif:
		put(w, sarif_result(w, found));
		break;
	case output_format::json:
		put(w, json_line(w, found));
		break;
	case output_format::gitlab:
		put(w, gitlab_issue(w, found));
		break;
	case output_format::junit:
		junit_finding(w, found);
		break;
	}
	++w.written;
}

void end_findings(finding_writer &w)
{
	switch (w.format) {
	case output_format::sarif:
		put(w, sarif_tail(w));
		break;
	case output_format::gitlab:
		put(w, "]\n");
		break;
	case output_format::junit:
		if (w.name != nullptr)
			junit_end_file(w, "");
		put(w, junit_document(w));
		break;
	case output_format::github:
		if (w.errors > github_shows || w.warnings > github_shows)
			put(w, "::notice::" + counted(w.errors, w.warnings) +
			           " in all: GitHub shows 10 of each a step, the step's log lists "
			           "them "
			           "all\n");
		break;
	default:
		break;
	}
}

void report_finding(void *writer, const finding &found)
{
	write_finding(*static_cast<finding_writer *>(writer), found);
}
