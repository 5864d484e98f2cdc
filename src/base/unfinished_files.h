// Files being written that are not complete yet, so that an abort at any moment (a second
// SIGINT) can remove them instead of leaving a partial file behind. A writer registers the name
// it writes under when it creates the file and forgets it once the file is complete or closed.
// The names are held in fixed storage, so RemoveUnfinishedFiles may run in a signal handler.
#pragma once

#include <string>

namespace wtk {

// Registers path; a path too long to open, or one beyond the registry's room, is not held.
void RegisterUnfinishedFile(const std::string& path);
void ForgetUnfinishedFile(const std::string& path);
// Removes every registered file; async-signal-safe. Returns how many were removed.
int RemoveUnfinishedFiles() noexcept;

}  // namespace wtk
