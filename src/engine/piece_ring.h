// The pieces of a block on their way from the reader to the peak finder: a ring of slots, piece
// k of a block in slot k % size from its claim until the peak finder is done with it. Pieces
// are taken strictly in order, each valid until DonePiece.
//
// On one thread the ring has one slot and the peak finder's thread reads and high-passes every
// piece itself; its band-pass values are made in small chunks right before the peak finder
// reads them, while they are in the processor's first cache.
//
// With threads, a piece goes through three steps: it is read (decoded, for a FLAC stream), by
// one thread at a time and in order; it is high-passed, by any thread; and the peak finder's
// thread band-passes it in chunks and finds its peaks. No lock is held while a piece is read or
// filtered: the threads meet under one lock a few times per piece, never per sample. The
// second thread reads ahead as far as the ring allows, then high-passes the pieces read. The
// peak finder's thread high-passes the next piece itself when it has only been read, and reads
// it itself when no one has; so where reading is slow (decoding) the second thread reads while
// the first filters, and where finding peaks is quick both filter. While the peak finder asks
// for it (SetScreenAhead), whichever thread high-passes a piece also screens it with the filter
// in force: which of its 16-position blocks may reach the threshold, a few bits the peak
// finder's thread then takes instead of screening the piece's chunks itself.
//
// The band-pass values are made by the peak finder's thread, in chunks that stay in its first
// cache. The second thread can also band-pass the pieces furthest ahead with the filter in
// force when it has nothing else to do (SetBandPassAhead), but that costs more than it saves:
// four values per position made on one processor must travel to the other, and the peak finder
// waits on memory for them where it reads most values (noise near the threshold), so two
// threads used over one and a half times the processor time of one, without finishing sooner.
// It stays for tests, which check that such values are used only with the filter they were
// made with.
//
// The peak finder never waits for a piece that the other thread filters much longer than
// filtering a piece takes (that thread may have lost its processor to another program): it
// then high-passes the piece from its bytes itself, and the other thread's result is dropped;
// the slot stays the other thread's until it lets go. Where that happens to more than one piece
// in kGiveWay of a block, the second thread does not pay, and the rest of the batch runs on one
// thread. A piece that is being read cannot be taken over; the peak finder waits for it.
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

    // The reader is used by one thread at a time, the one whose read is under way.
    explicit PieceRing(PieceReader& reader) : reader_(reader) {}
    ~PieceRing();
    PieceRing(const PieceRing&) = delete;
    PieceRing& operator=(const PieceRing&) = delete;

    // The reader's pieces of up to pieceSamples new samples, with their slots; threaded: a
    // second thread reads and filters ahead. Stops a running block.
    void Configure(int32_t pieceSamples, bool threaded);
    void Release();
    bool Configured() const { return !slots_.empty(); }

    // The filter that pieces band-passed ahead from now on are made with (null: none are).
    void SetFilter(BandPassRef filter);

    // Starts a block on the reader (every piece of the block before must have been taken).
    void BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead);
    // The next piece of the block (reading or filtering it here, or waiting for it); valid
    // until DonePiece.
    FilteredPiece& NextPiece();
    void DonePiece();
    // Abandons the block in progress (after an error in the consumer, or a stop).
    void Abandon();

    // Stage times of the reading and filtering on both threads (kept only while timed).
    void SetTimed(bool timed);
    StageTimes ProducerTimes();
    void ResetTimes();
    // Whether a second thread works ahead (until the batch gives it up).
    bool Threaded() const { return threaded_; }

    // Whether pieces high-passed from now on are also screened with the filter in force (which
    // of their 16-position blocks may reach its threshold), with threads: the peak finder's
    // thread then need not screen them itself (off unless set).
    void SetScreenAhead(bool on);
    // Whether the other thread band-passes the pieces furthest ahead when it has nothing else
    // to do (off unless set: see above).
    void SetBandPassAhead(bool on);
    // For tests, with threads: the peak finder takes a piece only once the other thread has
    // read and high-passed every piece the ring holds (or up to the block's last one), and,
    // with band-passing ahead, band-passed it, so that pieces past each minute end have been
    // band-passed ahead with the filter before it.
    void SetFillAhead(bool on) { fillAhead_ = on; }
    // For tests: the peak finder takes over every piece the other thread high-passes, done or
    // not. Unless the queue is filled ahead, the other thread reads and high-passes every piece
    // and is held up on the one the peak finder needs next until the peak finder has taken it
    // over; and the peak finder lets the other thread run as far ahead as the ring lets it
    // before it high-passes a piece it took over from the slot's bytes.
    void SetTakeOverAtOnce(bool on) { takeOverAtOnce_ = on; }

private:
    struct Slot : PieceBuffer {
        // Free; being read (Reading); read, not yet high-passed (Read); being high-passed
        // (Filtering); high-passed (Ready), perhaps with band-pass values (FilterGen).
        enum class State { Free, Reading, Read, Filtering, Ready } state = State::Free;
        uint64_t Index = 0;        // the piece of the block it holds
        bool ByHelper = false;     // Filtering: by the other thread
        bool BandPassing = false;  // Ready: the other thread makes its band-pass values
        bool Dropped = false;      // taken by the peak finder while the other thread was at it
    };

    void HelperLoop();
    bool CanClaim() const;  // mutex_ held
    Slot& SlotOf(uint64_t k) { return slots_[k % slots_.size()]; }
    // Claims the next piece (mutex_ held), reads it with mutex_ released; its slot, Read.
    Slot& ClaimAndRead(std::unique_lock<std::mutex>& lk);
    // High-passes a Read slot (mutex_ released meanwhile); Ready unless it was dropped.
    void HighPass(Slot& s, bool byHelper, std::unique_lock<std::mutex>& lk);
    // The earliest Read piece after the one from, or null (mutex_ held).
    Slot* FirstRead(uint64_t from);
    // The other thread's band-pass work ahead: the last piece the peak finder is not at whose
    // values are not those of the filter in force, or null (mutex_ held).
    Slot* BandPassCandidate();
    void BandPassAhead(Slot& s, std::unique_lock<std::mutex>& lk);
    // The other thread lets go of a slot it worked on (mutex_ held).
    void Release(Slot& s);
    FilteredPiece& Take(Slot& s);  // mutex_ held
    FilteredPiece& TakeOver(Slot& s, std::unique_lock<std::mutex>& lk);
    bool QueueFilled() const;  // mutex_ held
    bool HoldsUpHelper() const { return threaded_ && takeOverAtOnce_ && !fillAhead_; }
    void WakeConsumer() {
        if (consumerWaits_) consumerCv_.notify_one();
    }
    // After the peak finder's thread read or high-passed a piece: the other thread may read
    // the next one, or high-pass or band-pass this one (mutex_ held).
    void WakeHelper() {
        if (helperWaits_) helperCv_.notify_one();
    }
    void StopThread();
    StageTimes* Times(StageTimes& t) const { return timed_ ? &t : nullptr; }

    PieceReader& reader_;
    bool threaded_ = false;
    bool timed_ = false;
    bool fillAhead_ = false;
    bool takeOverAtOnce_ = false;
    bool bandPassAhead_ = false;  // mutex_ held
    bool screenAhead_ = false;    // mutex_ held
    StageTimes times_;

    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable helperCv_;
    std::condition_variable consumerCv_;
    BandPassRef filter_;    // mutex_ held
    uint64_t taken_ = 0;    // pieces of the block the peak finder is done with
    uint64_t claimed_ = 0;  // pieces of the block claimed for reading
    bool holding_ = false;  // the peak finder holds piece taken_
    bool reading_ = false;  // a read is under way
    bool blockActive_ = false;
    bool stop_ = false;
    bool helperWaits_ = false;
    bool consumerWaits_ = false;
    std::thread thread_;
    // The piece the peak finder high-passed itself while the other thread was still at it.
    FilteredPiece own_;
    int64_t ownPieceNs_ = 0;     // wall time the peak finder's thread took for its last piece
    int64_t helperPieceNs_ = 0;  // CPU time the other thread took for its last piece
    uint64_t takenOver_ = 0;     // pieces of the block taken over from the other thread
};

}  // namespace wtk
