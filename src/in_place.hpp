// Fixing a file in place: when the new file is made, when it replaces the
// file, and what is said of it.
#pragma once

#include "rewrite_stream.hpp"
#include "tool.hpp"

// Fixes the file at path, repaired with settings' level and block: the flaws
// that keep it from being fixed on standard error, and one line for what
// was done to it, unless it was clean.
status fix_in_place(const char *path, loop_settings settings);

// After the last file: the folders of the files replaced, on the disk.
status flush_fixed_folders();
