// Calls that Linux has and other POSIX systems lack. Elsewhere each fails
// with ENOSYS, and the caller takes the portable way.
#pragma once

#include <cstddef>
#include <cstdint>

// A new file in folder that has no name yet, open to be written, or -1.
int open_unnamed_file(int folder);

// Gives the unnamed file open as fd a name in folder; 0, or -1.
int name_unnamed_file(int fd, int folder, const char *name);

// Swaps the files that two names in folder stand for, at once; 0, or -1
// (EINVAL where the filesystem cannot).
int exchange_names(int folder, const char *one, const char *other);

// Copies up to size bytes, from offset in in to out at its position,
// inside the kernel; how many, or -1.
long long copy_in_kernel(int in, std::uint64_t offset, int out, std::size_t size);

// Starts writing the file's new bytes to the disk and returns: the flush
// at the end then has less left to wait for.
void start_writing_back(int fd);
