// Several location batches at a time: each location's files converted by a session of its own
// on a thread of its own, so that a location's TK1 files depend only on its own recordings,
// and the texts of the batches put out in location order whatever finishes first.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/batch_progress.h"

namespace wtk {

// Processors this process may run on (at least 1).
int AvailableProcessors();

// Runs batch(g) for g = 0 ... groups - 1 on up to `jobs` threads, starting the batches in
// order of g, and returns when all have returned. batch must not throw; whatever a stop should
// skip it decides itself. With one job (or one group) everything runs on the caller's thread.
void RunLocationBatches(size_t groups, int jobs, const std::function<void(size_t group)>& batch);

// The progress of location batches side by side as one batch's: their files, bytes and audio
// summed, the time since they began. Safe to call from the batches' threads.
class CombinedProgress {
public:
    // planned: each location's batch as it stands before it begins (its totals); clock:
    // seconds on a steady clock. The time counts from now.
    CombinedProgress(std::vector<BatchProgress> planned, std::function<double()> clock);
    // Batch `group` stands at p; returns where all of them stand.
    BatchProgress Update(size_t group, const BatchProgress& p);
    // All batches have ended (or will not run).
    BatchProgress Finish();

private:
    BatchProgress Sum() const;

    std::mutex mutex_;
    std::vector<BatchProgress> parts_;
    std::function<double()> clock_;
    double start_;
};

// The texts that location batches write to one set of outputs (say stdout, stderr and a file
// of minute lines), put out so that every output receives the groups' texts in group order:
// the lowest group that has not finished writes straight through; the others are held until
// every group before them has finished, in memory up to `memoryLimit` bytes per group and
// beyond that in unnamed temporary files. Safe to call from the batches' threads.
class OrderedOutput {
public:
    // Puts bytes out to output number `output`; called under the object's lock, so never from
    // two threads at once.
    using Sink = std::function<void(size_t output, std::string_view bytes)>;

    OrderedOutput(size_t groups, size_t outputs, Sink sink, size_t memoryLimit = size_t{1} << 20);
    ~OrderedOutput();
    OrderedOutput(const OrderedOutput&) = delete;
    OrderedOutput& operator=(const OrderedOutput&) = delete;

    void Write(size_t group, size_t output, std::string_view bytes);
    // The group has written everything (also for a group that never ran).
    void Finish(size_t group);
    // Held text was lost because a temporary file could not be written or read back.
    bool Lost();

private:
    struct Held {
        std::vector<std::string> text;  // per output, in memory
        std::vector<std::FILE*> spill;  // per output, once the memory limit was passed
        std::vector<size_t> spilled;    // bytes written to each spill file
        size_t bytesInMemory = 0;
        bool finished = false;
    };
    void Hold(Held& held, size_t output, std::string_view bytes);
    void Release(Held& held);

    std::mutex mutex_;
    Sink sink_;
    size_t memoryLimit_;
    std::vector<Held> held_;
    size_t head_ = 0;  // the lowest group that has not finished
    bool lost_ = false;
};

}  // namespace wtk
