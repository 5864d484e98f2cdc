// Where the time of a conversion goes, stage by stage (for benchmarks).
#pragma once

#include <chrono>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace wtk {

// CPU time (of the thread doing the work) spent in each stage, in nanoseconds; the graph
// heads, pre-reads and the rest count with the stage they serve.
struct StageTimes {
    int64_t ReadNs = 0;      // reading the file
    int64_t HighPassNs = 0;  // high-pass (with the widening of the samples)
    int64_t BandPassNs = 0;  // band-pass values and their threshold bits
    int64_t PeaksNs = 0;     // peak finder, detector, minute ends, graph calls

    StageTimes& operator+=(const StageTimes& o) {
        ReadNs += o.ReadNs;
        HighPassNs += o.HighPassNs;
        BandPassNs += o.BandPassNs;
        PeaksNs += o.PeaksNs;
        return *this;
    }
};

// The thread's CPU clock in nanoseconds (a system call: read it a few times per piece, not per
// stretch of values).
int64_t ThreadCpuNs();

// A cheap count that grows steadily with time (the processor's time-stamp counter where there
// is one): a stage that interleaves two kinds of work splits the CPU time of a piece between
// them in proportion to the counts spent in each.
inline uint64_t TickCount() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

}  // namespace wtk
