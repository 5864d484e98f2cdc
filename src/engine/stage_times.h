// Where the time of a conversion goes, stage by stage (for benchmarks).
#pragma once

#include <cstdint>

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

// The thread's CPU clock in nanoseconds.
int64_t ThreadCpuNs();

}  // namespace wtk
