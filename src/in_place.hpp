// Fixing a file in place: when the new file is made, when it replaces the
// file, and what is said of it.
#pragma once

#include "rewrite_stream.hpp"
#include "tool.hpp"

// Fixes the file at path, repaired with settings' level and block: the flaws
// that keep it from being fixed on standard error, and one line for what
// was done to it, unless it was clean.
//
// With read_first, the file as opened is read by it before the fix is made
// (to compute what the edits are to write): it leaves the file at its start,
// or returns false, having said why the fix is not to be made.
using first_reading = bool (*)(void *context, const char *path, std::FILE *in);
status fix_in_place(const char *path, loop_settings settings, first_reading read_first = nullptr,
                    void *first_context = nullptr);

// Whether every edit can be made in the file the structure was read from:
// if not, says why and what that left (left as it is); if so, warns of a
// byte two records hold.
bool edits_can_be_made(const char *path, const edit_progress &edits,
                       const file_structure &structure, const char *left);

// What was done to a file: "2 checksums fixed"; with edits, the bytes set
// first: "4 bytes set at 0x0801F000 (line 4097), 1 checksum rewritten".
std::string done_words(const stream_outcome &found, const edit_progress *edits);

// After the last file: the folders of the files replaced, on the disk.
status flush_fixed_folders();
