#include "base/unfinished_files.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace wtk {
namespace {

// A batch writes at most a TK1 file, its linkage file and an IPI export file at once; the
// room allows for several batches in one process.
constexpr int kSlots = 64;

enum SlotState : int { kFree = 0, kFilling = 1, kHeld = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

Slot g_slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

}  // namespace

void RegisterUnfinishedFile(const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX) return;
    for (Slot& s : g_slots) {
        int expected = kFree;
        if (!s.state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.state.store(kHeld, std::memory_order_release);
        return;
    }
}

void ForgetUnfinishedFile(const std::string& path) {
    for (Slot& s : g_slots) {
        if (s.state.load(std::memory_order_acquire) != kHeld) continue;
        if (path != s.path) continue;
        int expected = kHeld;
        if (s.state.compare_exchange_strong(expected, kFilling)) {
            s.path[0] = '\0';
            s.state.store(kFree, std::memory_order_release);
            return;
        }
    }
}

int RemoveUnfinishedFiles() noexcept {
    int removed = 0;
    for (Slot& s : g_slots) {
        if (s.state.load(std::memory_order_acquire) != kHeld) continue;
        if (::unlink(s.path) == 0) ++removed;
    }
    return removed;
}

}  // namespace wtk
