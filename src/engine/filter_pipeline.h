// The filters ahead of the peak finder. A block is read in pieces (engine/block_reader.h) and
// each piece is high-pass filtered straight from its bytes; since every piece carries the
// filters' overlap, every value equals the one a filter over the whole block would give, and
// pieces can be filtered in any order and on any thread. The peak finder takes them in order.
//
// With threads, a second thread reads pieces ahead and filters them (high-pass, then band-pass
// at the gain and threshold in force), while the peak finder's thread filters too wherever it
// would otherwise wait: it reads and high-passes the next piece itself when no one has taken it
// yet (its band-pass is then made in small chunks right before the peak finder reads them), and
// filters a later piece while the one it needs is still being filtered. So both processors
// filter when the peak finder has time to spare, and the second one works ahead when the peak
// finder has none. The peak finder never waits for a piece much longer than filtering a piece
// takes (the other thread may have lost its processor to another program): then it
// high-passes the piece from its bytes itself, and the other thread's result is dropped. Where
// that happens to more than one piece in kGiveWay of a block, the second thread does not pay,
// and the rest of the batch runs on one thread. A piece
// band-passed at a gain or threshold that a minute end has since changed is band-passed again by
// the peak finder's side. The queue of pieces is bounded (a few pieces), and the threads meet once
// per piece, never per sample.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/block_reader.h"
#include "engine/filter_kernels.h"

namespace wtk {

// Consecutive positions of a block as read, with their high-pass values and, when filtered
// ahead, their band-pass values.
struct FilteredPiece : PieceRead {
    std::vector<int32_t> Hp;      // hp[PFirst - 2 ... PFirst + Count + 1]
    std::vector<int32_t> Values;  // 4 band-pass values per position (FilterGen != 0)
    std::vector<uint64_t> Above;  // bit i: Values[i] > the threshold they were made with
    uint64_t FilterGen = 0;       // gain and threshold they were made with; 0: not made
};

class FilterPipeline {
public:
    static constexpr int32_t kDefaultPieceSamples = 65536;
    // Pieces in the queue with threads (the one the peak finder works on included).
    static constexpr uint64_t kSlots = 4;
    static constexpr uint64_t kGiveWay = 16;

    FilterPipeline() = default;
    ~FilterPipeline();
    FilterPipeline(const FilterPipeline&) = delete;
    FilterPipeline& operator=(const FilterPipeline&) = delete;

    // Buffers for pieces of up to pieceSamples new samples; threaded: a second thread filters
    // ahead. Stops a running block.
    void Configure(int32_t pieceSamples, bool threaded);
    void Release();
    bool Configured() const { return !slots_.empty(); }

    // The gain and threshold in force (generation gen, never 0), for the pieces filtered ahead.
    void SetFilter(const BandPassCoeffs& c, int32_t threshold, uint64_t gen);

    // Starts a block; graphHead (kGraphHead entries, kept by the caller across blocks) is
    // updated by the block.
    void BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead);
    // With Graphs: the raw extremes and the graph heads.
    const BlockPreview& Preview() const { return reader_.Preview(); }
    // The next piece of the block (filtering it here or waiting for it); valid until DonePiece.
    FilteredPiece& NextPiece();
    void DonePiece();
    // Abandons the block in progress (after an error in the consumer, or a stop).
    void Abandon();

    // Stage times of the reading and filtering on both threads (kept only while timed).
    void SetTimed(bool timed);
    StageTimes ProducerTimes();
    void ResetTimes();
    // Whether a second thread filters ahead (until the batch gives it up, see above).
    bool Threaded() const { return threaded_; }

    // For tests, with threads: the peak finder takes a piece only once the other thread has
    // filtered every piece the queue holds (or the block's last one), so that pieces past each
    // minute end have been band-passed ahead at the gain before it.
    void SetFillAhead(bool on) { fillAhead_ = on; }
    // For tests: the peak finder takes over every piece the other thread took, done or not,
    // and the other thread is held up for a millisecond in the middle of each piece.
    void SetTakeOverAtOnce(bool on) { takeOverAtOnce_ = on; }

private:
    struct Slot : FilteredPiece {
        enum class State { Free, Busy, Ready } state = State::Free;
        std::vector<uint8_t> Bytes;  // the piece's samples, from sample First of the block
        int64_t GraphSpan = -1;  // with graphs on, the block's raw span (a quiet block is skipped)
        bool ByHelper = false;   // claimed by the other thread
        bool Dropped = false;    // taken over by the peak finder's thread while still in the works
    };
    void HelperLoop();
    bool CanClaim() const;
    // Claims the next piece of the block and reads it (mutex_ held); its slot.
    Slot& ClaimAndRead();
    // High-pass, and with bandPass the band-pass at the gain and threshold in force.
    void Filter(Slot& s, bool bandPass, StageTimes& t, bool heldUp = false);
    void Filtered(Slot& s, const StageTimes& t);  // mutex_ held
    FilteredPiece& TakeOver(Slot& s, std::unique_lock<std::mutex>& lk);
    bool QueueFilled() const;  // mutex_ held
    void StopThread();
    int64_t Clock() const { return timed_ ? ThreadCpuNs() : 0; }

    int32_t pieceSamples_ = kDefaultPieceSamples;
    bool threaded_ = false;
    bool timed_ = false;
    bool fillAhead_ = false;
    bool takeOverAtOnce_ = false;
    BlockReader reader_;  // used with mutex_ held
    StageTimes times_;

    // The gain and threshold for filtering ahead.
    std::mutex filterMutex_;
    BandPassCoeffs filter_{};
    int32_t threshold_ = 0;
    uint64_t filterGen_ = 0;

    // Slots: piece k of the block lives in slots_[k % size] from its claim until the peak
    // finder is done with it.
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable helperCv_;
    std::condition_variable consumerCv_;
    uint64_t taken_ = 0;    // pieces of the block the peak finder is done with
    uint64_t claimed_ = 0;  // pieces of the block claimed for reading
    bool blockActive_ = false;
    bool stop_ = false;
    bool helperWaits_ = false;
    bool consumerWaits_ = false;
    std::thread thread_;
    // The piece the peak finder filtered itself while the other thread was still at it.
    FilteredPiece own_;
    int64_t ownPieceNs_ = 0;     // wall time the peak finder's thread took for its last piece
    int64_t helperPieceNs_ = 0;  // CPU time the other thread took for its last piece
    uint64_t takenOver_ = 0;     // pieces of the block taken over from the other thread
};

}  // namespace wtk
