// The formats that CI systems take as a whole document: SARIF for code
// scanning, GitLab's Code Quality report and JUnit XML. Each is begun,
// given the run's files and findings, and ended by output_formats.cpp.
#pragma once

#include <string>

#include "findings.hpp"

std::string sarif_head(const finding_writer &w);
std::string sarif_result(const finding_writer &w, const finding &found);
void sarif_unreadable(finding_writer &w, const std::string &reason); // kept
std::string sarif_tail(const finding_writer &w);

std::string gitlab_issue(finding_writer &w, const finding &found);

void junit_finding(finding_writer &w, const finding &found); // kept
void junit_end_file(finding_writer &w, const std::string &unreadable_reason);
std::string junit_document(const finding_writer &w);
