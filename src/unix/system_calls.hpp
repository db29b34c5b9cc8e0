// Calls that Linux has and other POSIX systems lack. Elsewhere each fails
// with ENOSYS, or does what the system can, and the caller takes the
// portable way.
#pragma once

#include <cstddef>
#include <cstdint>

// The folder name in the folder at (a descriptor, or AT_FDCWD), opened only
// to be reached through (O_PATH), so that a folder that may be written and
// entered but not listed is opened too; or -1.
int open_folder(int at, const char *name);

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

// Writes everything of the filesystem that holds the file open as fd to
// the disk, a folder's entries among it; 0, or -1.
int flush_filesystem(int fd);

// Gives the file open as to the access list and the extended attributes of
// the user namespace that the file open as from has, and takes from to an
// access list from lacks (one inherited from its folder); 0, or -1 with
// errno. A filesystem without extended attributes has none to give.
int copy_access_list_and_attributes(int from, int to);

// Takes away an access list that the file open as fd inherited from its
// folder's; 0, or -1.
int remove_access_list(int fd);

// Watches the file open as fd for writes and for changes of its
// permissions, owner, times, links and attributes, however another program
// makes them; a watch, or -1 where the system has no such watch.
int watch_file(int fd);

// Whether the watch has seen any of them since the last call, or lost
// count of them: 1; 0 for none; -1 when it could not be asked (errno).
int watch_changes(int watch);

void stop_watching(int watch);
