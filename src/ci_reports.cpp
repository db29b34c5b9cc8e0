// SARIF 2.1.0 for GitHub code scanning, a GitLab Code Quality report and
// JUnit XML for Jenkins, GitLab and Azure test results: what each needs of a
// finding, and of a file that could not be read.
#include "ci_reports.hpp"

#include <cstdint>

#include "text_escapes.hpp"
#include "tool.hpp"

namespace {

const char *level_of(rule kind)
{
	return severity_of(kind) == severity::error ? "error" : "warning";
}

std::string sarif_location(const finding_writer &w)
{
	const std::string uri = uri_of(w.name, w.drive_letters);
	const bool relative = uri.compare(0, 5, "file:") != 0;
	return "{\"physicalLocation\":{\"artifactLocation\":{\"uri\":" + json_string(uri) +
	       (relative ? ",\"uriBaseId\":\"%SRCROOT%\"" : "") + "}";
}

// FNV-1a, 64 bits, from a basis of one's own.
std::uint64_t hash(const std::string &text, std::uint64_t basis)
{
	for (const char c : text)
		basis = (basis ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
	return basis;
}

std::string path_of(const finding_writer &w)
{
	std::string path = w.name;
	for (char &c : path)
		c = w.drive_letters && c == '\\' ? '/' : c;
	while (path.compare(0, 2, "./") == 0)
		path.erase(0, 2);
	return path;
}

// How many times what stands in text.
std::size_t occurrences(const std::string &text, const char *what)
{
	std::size_t n = 0;
	for (std::size_t at = text.find(what); at != std::string::npos;
	     at = text.find(what, at + 1))
		++n;
	return n;
}

// A finding's own mark, the same from run to run: of the file's name and
// what the finding is about (the record's text, the addresses, the values)
// but not where the file has it, so that a line added above does not make
// it new; and of how many like it came before in the run.
std::string fingerprint(finding_writer &w, const finding &found)
{
	std::string mark = path_of(w) + '\n' + rule_id(found.kind);
	for (const std::uint64_t value :
	     {std::uint64_t{found.column}, found.from, found.to, std::uint64_t(found.type + 1),
	      std::uint64_t{found.found}, std::uint64_t{found.right}, std::uint64_t{found.count},
	      std::uint64_t{found.character}})
		mark += ' ' + std::to_string(value);
	if (found.text != nullptr)
		mark.append(found.text, found.length);
	mark += '\n' + std::to_string(w.fingerprints[mark]++);
	char text[40];
	std::snprintf(text, sizeof text, "%016llx%016llx",
	              static_cast<unsigned long long>(hash(mark, 0xCBF29CE484222325u)),
	              static_cast<unsigned long long>(hash(mark, 0x84222325CBF29CE4u)));
	return text;
}

} // namespace

std::string sarif_head(const finding_writer &w)
{
	std::string head = "{\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\","
	                   "\"version\":\"2.1.0\",\"runs\":[{\"tool\":{\"driver\":{"
	                   "\"name\":\"tallyfix\",\"fullName\":\"tallyfix " +
	                   std::string(tool_version) + "\",\"version\":\"" + tool_version +
	                   "\",\"informationUri\":\"" + tool_home + "\",\"rules\":[";
	for (std::size_t i = 0; i < rule_count; ++i) {
		const auto kind = static_cast<rule>(i);
		head += std::string(i != 0 ? ",\n" : "\n") + "{\"id\":\"" + rule_id(kind) +
		        "\",\"name\":\"" + rule_name(kind) +
		        "\",\"shortDescription\":{\"text\":" + json_string(rule_summary(kind)) +
		        "},\"fullDescription\":{\"text\":" + json_string(rule_description(kind)) +
		        "},\"help\":{\"text\":" + json_string(rule_help(kind)) +
		        "},\"defaultConfiguration\":{\"level\":\"" + level_of(kind) + "\"}}";
	}
	head += "]}}";
	if (!w.base.empty())
		head +=
		    ",\"originalUriBaseIds\":{\"%SRCROOT%\":{\"uri\":" + json_string(w.base) + "}}";
	return head + ",\"results\":[\n";
}

std::string sarif_result(const finding_writer &w, const finding &found)
{
	return std::string(w.written != 0 ? ",\n" : "") + "{\"ruleId\":\"" + rule_id(found.kind) +
	       "\",\"ruleIndex\":" + std::to_string(static_cast<std::size_t>(found.kind)) +
	       ",\"level\":\"" + level_of(found.kind) +
	       "\",\"message\":{\"text\":" + json_string(describe(found)) + "},\"locations\":[" +
	       sarif_location(w) + ",\"region\":{\"startLine\":" + std::to_string(found.line) +
	       ",\"startColumn\":" + std::to_string(found.column) + "}}}]}";
}

void sarif_unreadable(finding_writer &w, const std::string &reason)
{
	w.kept += std::string(w.kept.empty() ? "" : ",\n") +
	          "{\"level\":\"error\",\"message\":{\"text\":" +
	          json_string(one_line(w.name) + " could not be read: " + reason) +
	          "},\"locations\":[" + sarif_location(w) + "}}]}";
}

// The run's invocation: successful only when every file was read.
std::string sarif_tail(const finding_writer &w)
{
	return std::string("],\"invocations\":[{\"executionSuccessful\":") +
	       (w.kept.empty() ? "true" : "false") + ",\"toolExecutionNotifications\":[" + w.kept +
	       "]}]}]}\n";
}

std::string gitlab_issue(finding_writer &w, const finding &found)
{
	return std::string(w.written != 0 ? ",\n" : "") +
	       "{\"type\":\"issue\",\"description\":" + json_string(describe(found)) +
	       ",\"check_name\":\"" + rule_id(found.kind) + "\",\"fingerprint\":\"" +
	       fingerprint(w, found) + "\",\"severity\":\"" +
	       (severity_of(found.kind) == severity::error ? "major" : "minor") +
	       "\",\"location\":{\"path\":" + json_string(path_of(w)) +
	       ",\"lines\":{\"begin\":" + std::to_string(found.line) + "}}}";
}

void junit_finding(finding_writer &w, const finding &found)
{
	const bool error = severity_of(found.kind) == severity::error;
	(error || w.strict ? w.file_errors : w.file_warnings) +=
	    std::to_string(found.line) + ":" + std::to_string(found.column) + ": " +
	    level_of(found.kind) + ": " + describe(found) + "\n";
}

// A test case for the file at hand: one failure with its errors (and its
// warnings, when strict), warnings as its output, or an error when it could
// not be read.
void junit_end_file(finding_writer &w, const std::string &unreadable_reason)
{
	const std::string name = xml_text(one_line(w.name));
	w.kept += "<testcase classname=\"tallyfix\" name=\"" + name + "\" file=\"" + name + "\">";
	if (!unreadable_reason.empty()) {
		w.kept +=
		    "<error type=\"unreadable\" message=\"" + xml_text(unreadable_reason) + "\"/>";
		++w.unreadable_files;
	} else if (!w.file_errors.empty()) {
		w.kept += "<failure type=\"error\" message=\"" +
		          counted(occurrences(w.file_errors, ": error: "),
		                  occurrences(w.file_errors, ": warning: ")) +
		          "\">" + xml_text(w.file_errors) + "</failure>";
		++w.failed_files;
	}
	if (!w.file_warnings.empty())
		w.kept += "<system-out>" + xml_text(w.file_warnings) + "</system-out>";
	w.kept += "</testcase>\n";
	w.file_errors.clear();
	w.file_warnings.clear();
	++w.files;
}

std::string junit_document(const finding_writer &w)
{
	const std::string counts = " tests=\"" + std::to_string(w.files) + "\" failures=\"" +
	                           std::to_string(w.failed_files) + "\" errors=\"" +
	                           std::to_string(w.unreadable_files) + "\"";
	return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tallyfix\"" +
	       counts + ">\n<testsuite name=\"tallyfix --check\"" + counts + ">\n" + w.kept +
	       "</testsuite>\n</testsuites>\n";
}
