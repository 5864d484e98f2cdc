#include "session/location_batches.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace wtk {

int AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
    return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

void RunLocationBatches(size_t groups, int jobs, const std::function<void(size_t group)>& batch) {
    const size_t threads = std::min(groups, static_cast<size_t>(std::max(jobs, 1)));
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t g = next++; g < groups; g = next++) batch(g);
    };
    if (threads <= 1) {
        work();
        return;
    }
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(work);
}

CombinedProgress::CombinedProgress(std::vector<BatchProgress> planned,
                                   std::function<double()> clock)
    : parts_(std::move(planned)), clock_(std::move(clock)), start_(clock_()) {}

BatchProgress CombinedProgress::Update(size_t group, const BatchProgress& p) {
    std::lock_guard lock(mutex_);
    parts_.at(group) = p;
    return Sum();
}

BatchProgress CombinedProgress::Finish() {
    std::lock_guard lock(mutex_);
    BatchProgress all = Sum();
    all.Finished = true;
    return all;
}

BatchProgress CombinedProgress::Sum() const {
    BatchProgress all;
    for (const BatchProgress& p : parts_) {
        all.FileNumber += p.FileNumber;
        all.FileCount += p.FileCount;
        all.BytesDone += p.BytesDone;
        all.BytesTotal += p.BytesTotal;
        all.AudioSecondsDone += p.AudioSecondsDone;
        all.AudioSecondsTotal += p.AudioSecondsTotal;
    }
    all.ElapsedSeconds = clock_() - start_;
    return all;
}

OrderedOutput::OrderedOutput(size_t groups, size_t outputs, Sink sink, size_t memoryLimit)
    : sink_(std::move(sink)), memoryLimit_(memoryLimit), held_(groups) {
    for (Held& h : held_) {
        h.text.resize(outputs);
        h.spill.resize(outputs, nullptr);
        h.spilled.resize(outputs, 0);
    }
}

OrderedOutput::~OrderedOutput() {
    for (Held& h : held_) {
        for (std::FILE* f : h.spill) {
            if (f != nullptr) std::fclose(f);
        }
    }
}

void OrderedOutput::Write(size_t group, size_t output, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (group == head_) {
        sink_(output, bytes);
    } else {
        Hold(held_.at(group), output, bytes);
    }
}

void OrderedOutput::Finish(size_t group) {
    std::lock_guard lock(mutex_);
    held_.at(group).finished = true;
    while (head_ < held_.size() && held_[head_].finished) {
        ++head_;
        // The next group now writes straight through, after what it wrote while it waited.
        if (head_ < held_.size()) Release(held_[head_]);
    }
}

bool OrderedOutput::Lost() {
    std::lock_guard lock(mutex_);
    return lost_;
}

void OrderedOutput::Hold(Held& held, size_t output, std::string_view bytes) {
    if (std::FILE* f = held.spill[output]) {
        const size_t n = std::fwrite(bytes.data(), 1, bytes.size(), f);
        held.spilled[output] += n;
        if (n != bytes.size()) lost_ = true;
        return;
    }
    held.text[output].append(bytes);
    held.bytesInMemory += bytes.size();
    if (held.bytesInMemory <= memoryLimit_) return;
    // Past the limit every output of the group goes on in a temporary file of its own; where
    // none can be made its text stays in memory.
    for (size_t o = 0; o < held.text.size(); ++o) {
        if (held.spill[o] != nullptr) continue;
        std::FILE* f = std::tmpfile();
        if (f == nullptr) continue;
        const std::string& text = held.text[o];
        if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
            std::fclose(f);
            continue;
        }
        held.spill[o] = f;
        held.spilled[o] = text.size();
        held.bytesInMemory -= text.size();
        std::string().swap(held.text[o]);
    }
}

void OrderedOutput::Release(Held& held) {
    for (size_t o = 0; o < held.text.size(); ++o) {
        if (std::FILE* f = held.spill[o]) {
            size_t read = 0;
            if (std::fflush(f) == 0) {
                std::rewind(f);
                char buf[1 << 14];
                for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0; read += n) {
                    sink_(o, std::string_view(buf, n));
                }
            }
            if (read != held.spilled[o] || std::ferror(f) != 0) lost_ = true;
            std::fclose(f);
            held.spill[o] = nullptr;
        }
        // Only a group whose spill file could not be made keeps text here.
        if (!held.text[o].empty()) sink_(o, held.text[o]);
        std::string().swap(held.text[o]);
    }
    held.bytesInMemory = 0;
}

}  // namespace wtk
