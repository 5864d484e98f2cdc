#include "base/unfinished_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace wtk {
namespace {

// A batch writes a TK1 file, its linkage file and an IPI export file at once, holds finished
// files that wait to replace earlier ones, and a folder's lock while it makes a file; the room
// allows for several batches in one process. Files beyond it are left for the next run's
// clean-up.
constexpr int kSlots = 256;

enum SlotState : int { kFree = 0, kFilling = 1, kHeld = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    bool shared = false;      // a lock file other runs may hold too
    std::atomic<int> fd{-1};  // the descriptor through which this run holds a shared lock
    char path[PATH_MAX];
};

Slot g_slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

int Register(const std::string& path, bool shared) {
    if (path.empty() || path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        Slot& s = g_slots[i];
        int expected = kFree;
        if (!s.state.compare_exchange_strong(expected, kFilling)) continue;
        s.shared = shared;
        s.fd.store(-1);
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.state.store(kHeld, std::memory_order_release);
        return i;
    }
    return -1;
}

void Free(Slot& s) {
    int expected = kHeld;
    if (!s.state.compare_exchange_strong(expected, kFilling)) return;
    s.path[0] = '\0';
    s.fd.store(-1);
    s.state.store(kFree, std::memory_order_release);
}

// Removes a shared lock file where this process can lock it alone: its own hold let go, the
// file opened afresh and locked without waiting.
bool RemoveSharedLock(Slot& s) {
    const int held = s.fd.load();
    if (held >= 0) ::flock(held, LOCK_UN);
    const int fd = ::open(s.path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool alone = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool removed = alone && ::unlink(s.path) == 0;
    ::close(fd);
    return removed;
}

}  // namespace

void RegisterUnfinishedFile(const std::string& path) {
    Register(path, false);
}

void ForgetUnfinishedFile(const std::string& path) {
    for (Slot& s : g_slots) {
        if (s.state.load(std::memory_order_acquire) != kHeld || s.shared) continue;
        if (path != s.path) continue;
        Free(s);
        return;
    }
}

int RegisterSharedLock(const std::string& path) {
    return Register(path, true);
}

void SetSharedLockDescriptor(int handle, int fd) {
    if (handle >= 0 && handle < kSlots) g_slots[handle].fd.store(fd);
}

void ForgetSharedLock(int handle) {
    if (handle >= 0 && handle < kSlots) Free(g_slots[handle]);
}

int RemoveUnfinishedFiles() noexcept {
    int removed = 0;
    for (Slot& s : g_slots) {
        if (s.state.load(std::memory_order_acquire) != kHeld) continue;
        if (s.shared ? RemoveSharedLock(s) : ::unlink(s.path) == 0) ++removed;
    }
    return removed;
}

}  // namespace wtk
