// --check and --in-place over the files named.
#pragma once

#include "command_line.hpp"
#include "tool.hpp"

// Each file checked, or fixed in place, in the order named: the highest
// status of them.
status check_or_fix_files(const run_request &run);
