// What the graphs show of a block before its pieces are filtered: the head of the block's sample
// buffer as the raw and high-pass traces draw it, and, with graphs on, the block's raw extremes
// from a first read of the whole block. The extremes also make a block quiet: its band-pass
// values are then neither made nor searched (see IsQuietBlock).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/stage_times.h"

namespace wtk {

class RecordingSource;

// Entries 0 ... kGraphHead - 1 of the block's sample buffer as the graphs draw it: the raw
// samples at 1 ... N, then the high-pass values written over 0 ... N - 84; what no block wrote
// keeps the value an earlier block left.
inline constexpr int32_t kGraphHead = 32768;

// What the first read of a block with graphs gives.
struct BlockPreview {
    int32_t MaxSample = 0;           // raw extremes by the graphs' rule: a sample above the
    int32_t MinSample = 2147483647;  // maximum raises it, otherwise one below the minimum lowers it
    std::vector<int32_t> RawHead;    // the graph head after reading, before filtering
    std::vector<int32_t> FilteredHead;  // after the high-pass
};

class GraphPreview {
public:
    // Raw samples of the block's start that the head needs: 1 ... kGraphHead + 40.
    static constexpr int32_t kHeadRawSamples = kGraphHead + 40;

    void Configure();
    void Release();

    // Starts a block whose head goes to graphHead (kGraphHead entries, kept by the caller across
    // blocks; null: nowhere).
    void Begin(std::vector<int32_t>* graphHead);
    // The first read of a block with graphs on: at most maxSamples samples of source from where
    // it stands, in reads of readSamples; the raw extremes, the head (as the main pass will
    // leave it) and its two snapshots. The source is put back where it stood. With t, the read
    // counts as reading and the head as high-pass.
    void PrePass(RecordingSource& source, int64_t maxSamples, int32_t readSamples, StageTimes* t);
    // The main pass: the block's next n new samples, in order (copied while the head needs them).
    void Collect(const uint8_t* fresh, int64_t n);
    // The main pass after each read, with the block's samples read so far and whether the block
    // has ended: writes the head once, when enough samples for it are known.
    void AfterRead(int64_t samplesRead, bool blockEnded, StageTimes* t);

    const BlockPreview& Preview() const { return preview_; }
    // The block's raw span (maximum less minimum) when the first read made one, else -1.
    int64_t RawSpan() const;

private:
    // The head from the raw samples of a block of n samples (more than the head: unknown).
    void WriteHead(int64_t n, bool snapshot, StageTimes* t);

    std::vector<int32_t>* graphHead_ = nullptr;
    std::vector<uint8_t> headBytes_;  // raw samples 1 ... kHeadRawSamples of the block
    std::vector<uint8_t> scratch_;    // the first read's buffer
    int64_t headHave_ = 0;            // samples in headBytes_
    bool headDone_ = false;
    bool prePassed_ = false;
    BlockPreview preview_;
};

}  // namespace wtk
