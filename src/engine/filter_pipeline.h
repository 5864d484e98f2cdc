// The filters ahead of the peak finder. A block of samples (a minute, or the rest of the start
// minute) is read in pieces into a small reused buffer and high-pass filtered straight from its
// bytes; the filters' overlap is carried from piece to piece, so that every value equals the one
// a filter over the whole block would give. On a second thread the pieces are also band-pass
// filtered ahead at the gain and threshold in force, while the peak finder works on earlier
// pieces; a piece filtered at a gain that a minute end has since changed is filtered again by
// the peak finder's side.
//
// Positions follow the sample buffer of a block: samples r[1 ... N]; the high-pass value hp[q]
// (q = 0 ... N - 84) is centred on r[q + 20] and reads r[q + 2 ... q + 38]; band-pass position p
// (p = 2 ... N - 86) reads hp[p - 2 ... p + 2].
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/filter_kernels.h"

namespace wtk {

// CPU time (of the thread doing the work) spent in each stage, in nanoseconds; the graph
// heads, pre-reads and the rest count with the stage they serve.
struct StageTimes {
    int64_t ReadNs = 0;      // reading the file
    int64_t HighPassNs = 0;  // high-pass (with the widening of the samples)
    int64_t BandPassNs = 0;  // band-pass values and their threshold bits
    int64_t PeaksNs = 0;     // peak finder, detector, minute ends, graph calls
};

// The thread's CPU clock in nanoseconds.
int64_t ThreadCpuNs();

// Entries 0 ... kGraphHead - 1 of the block's sample buffer as the graphs draw it: the raw
// samples at 1 ... N, then the high-pass values written over 0 ... N - 84; what no block wrote
// keeps the value an earlier block left.
inline constexpr int32_t kGraphHead = 32768;

// One block to read: bytes [Offset, EndOffset) of the file, at most MaxSamples samples.
struct BlockRequest {
    int Fd = -1;
    int64_t Offset = 0;
    int64_t EndOffset = 0;
    int64_t MaxSamples = 0;
    bool Graphs = false;  // read the block twice: first for its raw extremes and graph heads
};

// What the first read of a block with graphs gives.
struct BlockPreview {
    int32_t MaxSample = 0;           // raw extremes by the graphs' rule: a sample above the
    int32_t MinSample = 2147483647;  // maximum raises it, otherwise one below the minimum lowers it
    std::vector<int32_t> RawHead;    // the graph head after reading, before filtering
    std::vector<int32_t> FilteredHead;  // after the high-pass
};

// Consecutive positions of a block with their high-pass values and, when filtered ahead,
// their band-pass values.
struct FilteredPiece {
    int32_t PFirst = 2;  // positions PFirst ... PFirst + Count - 1
    int32_t Count = 0;
    std::vector<int32_t> Hp;      // hp[PFirst - 2 ... PFirst + Count + 1]
    std::vector<int32_t> Values;  // 4 band-pass values per position (FilterGen != 0)
    std::vector<uint64_t> Above;  // bit i: Values[i] > the threshold they were made with
    uint64_t FilterGen = 0;       // gain and threshold they were made with; 0: not made
    bool BlockEnd = false;        // the block's last piece (it may hold no positions)
    int64_t BlockBytes = 0;       // with BlockEnd: bytes the block's reads returned
    int ReadError = 0;            // with BlockEnd: errno of a read that failed
};

class FilterPipeline {
public:
    static constexpr int32_t kDefaultPieceSamples = 65536;

    FilterPipeline() = default;
    ~FilterPipeline();
    FilterPipeline(const FilterPipeline&) = delete;
    FilterPipeline& operator=(const FilterPipeline&) = delete;

    // Buffers for pieces of up to pieceSamples new samples; threaded: band-pass ahead on a
    // second thread. Stops a running block.
    void Configure(int32_t pieceSamples, bool threaded);
    void Release();
    bool Configured() const { return !slots_.empty(); }

    // The gain and threshold in force (generation gen, never 0), for the pieces filtered ahead.
    void SetFilter(const BandPassCoeffs& c, int32_t threshold, uint64_t gen);

    // Starts a block; graphHead (kGraphHead entries, kept by the caller across blocks) is
    // updated by the block.
    void BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead);
    // With Graphs: the raw extremes and the graph heads (waits for the first read).
    const BlockPreview& Preview();
    // The next piece of the block (waits for it); valid until DonePiece.
    FilteredPiece& NextPiece();
    void DonePiece();
    // Abandons the block in progress (after an error in the consumer).
    void Abandon();

    // Stage times of the reading and filtering (kept only while timed).
    void SetTimed(bool timed) { timed_ = timed; }
    StageTimes ProducerTimes() const { return producerTimes_; }
    void ResetTimes() { producerTimes_ = {}; }
    bool Threaded() const { return threaded_; }

private:
    struct Block;
    void ProducerLoop();
    void PrePass();
    bool ProduceNext(FilteredPiece& out);  // false: the block has ended
    void ReadMore();
    void UpdateGraphHead(bool snapshot);
    void StopThread();
    int64_t Clock() const { return timed_ ? ThreadCpuNs() : 0; }

    int32_t pieceSamples_ = kDefaultPieceSamples;
    bool threaded_ = false;
    bool timed_ = false;

    // Block state (producer side).
    BlockRequest req_;
    std::vector<int32_t>* graphHead_ = nullptr;
    std::vector<uint8_t> bytes_;  // samples r[b0_ ...] of the block, with the carried overlap
    int64_t b0_ = 1;              // sample number of bytes_[0]
    int64_t have_ = 0;            // samples in bytes_
    int64_t samplesRead_ = 0;     // R: samples of the block read so far
    int64_t bytesRead_ = 0;
    int64_t readAt_ = 0;  // next byte offset
    bool eof_ = false;
    int readError_ = 0;
    int32_t nextP_ = 2;
    bool headDone_ = false;
    bool blockDone_ = true;
    std::vector<uint8_t> headBytes_;  // samples 1 ... kGraphHead + 40 of the block
    int64_t headHave_ = 0;
    BlockPreview preview_;
    StageTimes producerTimes_;

    // The gain and threshold for filtering ahead.
    std::mutex filterMutex_;
    BandPassCoeffs filter_{};
    int32_t threshold_ = 0;
    uint64_t filterGen_ = 0;

    // Slots: a ring of pieces; the producer fills [tail, head + n), the consumer takes from head.
    std::vector<FilteredPiece> slots_;
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t head_ = 0;    // next slot the consumer takes
    size_t filled_ = 0;  // slots filled and not yet taken
    bool taken_ = false;
    bool blockRequested_ = false;
    bool previewReady_ = false;
    bool stop_ = false;
    bool consumerWaits_ = false;
    bool producerWaits_ = false;
    std::thread thread_;
};

}  // namespace wtk
