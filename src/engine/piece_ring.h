// The pieces of a block on their way from the reader to the peak finder: a ring of slots, piece
// k of a block in slot k % size from its claim until the peak finder is done with it. Pieces
// are taken strictly in order, each valid until DonePiece.
//
// On one thread the ring has one slot and the peak finder's thread reads and high-passes every
// piece itself (its band-pass values are made in small chunks right before the peak finder
// reads them). With threads, a second thread reads pieces ahead and filters them (high-pass,
// then band-pass with the filter in force), while the peak finder's thread filters too wherever
// it would otherwise wait: it reads and high-passes the next piece itself when no one has taken
// it yet, and filters a later piece while the one it needs is still being filtered. So both
// processors filter when the peak finder has time to spare, and the second one works ahead when
// the peak finder has none. The peak finder never waits for a piece much longer than filtering
// a piece takes (the other thread may have lost its processor to another program): then it
// high-passes the piece from its bytes itself, and the other thread's result is dropped; the
// slot stays the other thread's until it lets go. Where that happens to more than one piece in
// kGiveWay of a block, the second thread does not pay, and the rest of the batch runs on one
// thread. The threads meet under one lock once or twice per piece, never per sample.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/band_pass.h"
#include "engine/piece_reader.h"

namespace wtk {

class PieceRing {
public:
    static constexpr uint64_t kSlots = 4;  // with threads, the peak finder's piece included
    static constexpr uint64_t kGiveWay = 16;

    // The reader is used only with the ring's lock held.
    explicit PieceRing(PieceReader& reader) : reader_(reader) {}
    ~PieceRing();
    PieceRing(const PieceRing&) = delete;
    PieceRing& operator=(const PieceRing&) = delete;

    // The reader's pieces of up to pieceSamples new samples, with their slots; threaded: a
    // second thread filters ahead. Stops a running block.
    void Configure(int32_t pieceSamples, bool threaded);
    void Release();
    bool Configured() const { return !slots_.empty(); }

    // The filter that pieces band-passed from now on are made with (null: none are).
    void SetFilter(BandPassRef filter);

    // Starts a block on the reader (every piece of the block before must have been taken).
    void BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead);
    // The next piece of the block (filtering it here or waiting for it); valid until DonePiece.
    FilteredPiece& NextPiece();
    void DonePiece();
    // Abandons the block in progress (after an error in the consumer, or a stop).
    void Abandon();

    // Stage times of the reading and filtering on both threads (kept only while timed).
    void SetTimed(bool timed);
    StageTimes ProducerTimes();
    void ResetTimes();
    // Whether a second thread filters ahead (until the batch gives it up).
    bool Threaded() const { return threaded_; }

    // For tests, with threads: the peak finder takes a piece only once the other thread has
    // filtered every piece the ring holds (or the block's last one), so that pieces past each
    // minute end have been band-passed ahead with the filter before it.
    void SetFillAhead(bool on) { fillAhead_ = on; }
    // For tests: the peak finder takes over every piece the other thread took, done or not.
    // Unless the queue is filled ahead, the other thread takes every piece and is held up on
    // the one the peak finder needs next until the peak finder has taken it over; and the peak
    // finder lets the other thread run as far ahead as the ring lets it before it high-passes
    // a piece it took over.
    void SetTakeOverAtOnce(bool on) { takeOverAtOnce_ = on; }

private:
    struct Slot : PieceBuffer {
        enum class State { Free, Busy, Ready } state = State::Free;
        bool ByHelper = false;  // claimed by the other thread
        bool Dropped = false;   // taken over by the peak finder's thread while still in the works
    };
    void HelperLoop();
    bool CanClaim() const;  // mutex_ held
    // Claims the next piece of the block and reads it (mutex_ held); its slot.
    Slot& ClaimAndRead();
    // High-pass, and with bandPass the band-pass with the filter in force (mutex_ not held).
    void Filter(Slot& s, bool bandPass, StageTimes& t);
    void Filtered(Slot& s, const StageTimes& t);  // mutex_ held
    // The next piece when no one has claimed it yet: read and high-passed here.
    FilteredPiece& ReadHere(std::unique_lock<std::mutex>& lk);
    FilteredPiece& TakeOver(Slot& s, std::unique_lock<std::mutex>& lk);
    bool QueueFilled() const;  // mutex_ held
    bool HoldsUpHelper() const { return threaded_ && takeOverAtOnce_ && !fillAhead_; }
    void StopThread();
    StageTimes* Times(StageTimes& t) const { return timed_ ? &t : nullptr; }

    PieceReader& reader_;
    bool threaded_ = false;
    bool timed_ = false;
    bool fillAhead_ = false;
    bool takeOverAtOnce_ = false;
    StageTimes times_;

    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable helperCv_;
    std::condition_variable consumerCv_;
    BandPassRef filter_;    // mutex_ held
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
