// Findings in each format: GCC's "FILE:LINE:COLUMN: error: what", which
// editors and problem matchers read, on a terminal with colour and the
// record under it; GitHub's workflow commands; SARIF 2.1.0 for code
// scanning; a JSON object a line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "findings.hpp"
#include "tool.hpp"

namespace {

// GitHub shows this many errors, and as many warnings, from a step.
constexpr std::size_t github_shows = 10;

void put(finding_writer &w, const std::string &text)
{
	if (w.error == 0 && std::fputs(text.c_str(), w.out) < 0)
		w.error = errno != 0 ? errno : EIO;
}

std::string hex_byte(unsigned char byte, const char *pattern)
{
	char text[8];
	std::snprintf(text, sizeof text, pattern, byte);
	return text;
}

// The length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t utf8_sequence(const std::string &text, std::size_t i)
{
	const auto c = static_cast<unsigned char>(text[i]);
	const std::size_t length = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
	// The second byte's range rules out overlong forms, surrogates and
	// code points past U+10FFFF.
	const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
	const unsigned high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
	if (length == 0 || i + length > text.size())
		return 0;
	for (std::size_t k = 1; k < length; ++k) {
		const auto next = static_cast<unsigned char>(text[i + k]);
		if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
			return 0;
	}
	return length;
}

// A JSON string; a byte that is not part of well-formed UTF-8, as a name
// may have, becomes U+FFFD, so that the line stays valid JSON.
std::string json_string(const std::string &text)
{
	std::string quoted = "\"";
	for (std::size_t i = 0; i < text.size();) {
		const auto c = static_cast<unsigned char>(text[i]);
		const std::size_t length = c < 0x80 ? 1 : utf8_sequence(text, i);
		if (c == '"' || c == '\\')
			quoted += std::string("\\") + text[i];
		else if (c < 0x20)
			quoted += hex_byte(c, "\\u%04x");
		else if (length == 0)
			quoted += "\\ufffd";
		else
			quoted.append(text, i, length);
		i += length != 0 ? length : 1;
	}
	return quoted + "\"";
}

// A path as a URI reference: relative ones stay relative (to the folder the
// tool runs in), absolute ones become file URIs; every byte but the
// unreserved characters and the separator percent-encoded.
std::string uri_of(const std::string &path)
{
	std::string uri;
	for (const char c : path) {
		const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
		                        (c >= '0' && c <= '9') || c == '-' || c == '.' ||
		                        c == '_' || c == '~';
		if (c == '/' || c == '\\')
			uri += '/';
		else if (unreserved || (c == ':' && uri.size() == 1 && path.size() > 2)) // C:
			uri += c;
		else
			uri += hex_byte(static_cast<unsigned char>(c), "%%%02X");
	}
	while (uri.compare(0, 2, "./") == 0)
		uri.erase(0, 2);
	if (uri[0] == '/')
		return "file://" + uri;
	if (uri.size() > 1 && uri[1] == ':')
		return "file:///" + uri;
	return uri;
}

// GitHub's workflow commands take these characters of a message, and of a
// property also ':' and ','.
std::string github_escaped(const std::string &text, bool property)
{
	std::string escaped;
	for (const char c : text) {
		if (c == '%' || c == '\r' || c == '\n' || (property && (c == ':' || c == ',')))
			escaped += hex_byte(static_cast<unsigned char>(c), "%%%02X");
		else
			escaped += c;
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
	       " file=" + github_escaped(one_line(w.name), true) +
	       ",line=" + std::to_string(found.line) + ",col=" + std::to_string(found.column) +
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

const char *sarif_level(rule kind)
{
	return severity_of(kind) == severity::error ? "error" : "warning";
}

std::string sarif_result(const finding_writer &w, const finding &found)
{
	const std::string uri = uri_of(w.name);
	const bool relative = uri.compare(0, 5, "file:") != 0;
	return std::string(w.written != 0 ? ",\n" : "") + "{\"ruleId\":\"" + rule_id(found.kind) +
	       "\",\"ruleIndex\":" + std::to_string(static_cast<std::size_t>(found.kind)) +
	       ",\"level\":\"" + sarif_level(found.kind) +
	       "\",\"message\":{\"text\":" + json_string(describe(found)) +
	       "},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":" +
	       json_string(uri) + (relative ? ",\"uriBaseId\":\"%SRCROOT%\"" : "") +
	       "},\"region\":{\"startLine\":" + std::to_string(found.line) +
	       ",\"startColumn\":" + std::to_string(found.column) + "}}}]}";
}

std::string sarif_head()
{
	std::string head = "{\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\","
	                   "\"version\":\"2.1.0\",\"runs\":[{\"tool\":{\"driver\":{"
	                   "\"name\":\"tallyfix\",\"version\":\"" +
	                   std::string(tool_version) + "\",\"rules\":[";
	for (std::size_t i = 0; i < rule_count; ++i) {
		const auto kind = static_cast<rule>(i);
		head += std::string(i != 0 ? ",\n" : "\n") + "{\"id\":\"" + rule_id(kind) +
		        "\",\"shortDescription\":{\"text\":" + json_string(rule_summary(kind)) +
		        "},\"defaultConfiguration\":{\"level\":\"" + sarif_level(kind) + "\"}}";
	}
	return head + "]}},\"results\":[\n";
}

} // namespace

void begin_findings(finding_writer &w)
{
	if (w.format == output_format::sarif)
		put(w, sarif_head());
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
	}
	++w.written;
}

void end_findings(finding_writer &w)
{
	if (w.format == output_format::sarif)
		put(w, "]}]}\n");
	if (w.format == output_format::github &&
	    (w.errors > github_shows || w.warnings > github_shows))
		put(w, "::notice::" + std::to_string(w.errors) + " errors and " +
		           std::to_string(w.warnings) +
		           " warnings in all: GitHub shows 10 of each a step, the step's log lists "
		           "them all\n");
}

void report_finding(void *writer, const finding &found)
{
	write_finding(*static_cast<finding_writer *>(writer), found);
}
