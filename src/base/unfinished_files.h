// Files being written that are not complete yet, so that an abort at any moment (a second
// SIGINT) can remove them instead of leaving a partial file behind. A writer registers the name
// it writes under when it creates the file and forgets it once the file is complete or closed.
// Lock files that other runs may hold at the same time are registered as shared locks: an abort
// removes such a file only where it can then lock it alone, so it never takes one from a run
// that holds it. The names are held in fixed storage, so RemoveUnfinishedFiles may run in a
// signal handler.
#pragma once

#include <string>

namespace wtk {

// Registers path; a path too long to open, or one beyond the registry's room, is not held.
void RegisterUnfinishedFile(const std::string& path);
void ForgetUnfinishedFile(const std::string& path);

// Registers the lock file path, which this run is about to make or open and lock; returns a
// handle for the calls below (-1 where it is not held). SetSharedLockDescriptor gives the
// descriptor through which this run holds the lock (-1: none now); forget it before closing
// that descriptor.
int RegisterSharedLock(const std::string& path);
void SetSharedLockDescriptor(int handle, int fd);
void ForgetSharedLock(int handle);

// Removes every registered file; async-signal-safe. Returns how many were removed.
int RemoveUnfinishedFiles() noexcept;

}  // namespace wtk
