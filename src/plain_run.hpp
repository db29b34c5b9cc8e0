// The plain run, and what the plain run's rule also takes: --help and
// --version. Each returns the exit status.
#pragma once

#include "command_line.hpp"

// The file to standard output, rewritten; the banner first when the count
// of arguments was wrong (status 2 then, whatever else happened).
int plain_run(const run_request &run);

int write_help();
int write_version();
