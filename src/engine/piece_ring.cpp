#include "engine/piece_ring.h"

#include <algorithm>
#include <cassert>
#include <chrono>

#include "engine/filter_kernels.h"

namespace wtk {

namespace {

int64_t WallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PieceRing::~PieceRing() {
    StopThread();
}

void PieceRing::Configure(int32_t pieceSamples, bool threaded) {
    StopThread();
    reader_.Configure(pieceSamples);
    threaded_ = threaded;
    slots_.assign(threaded ? kSlots : 1, Slot{});
    for (Slot& s : slots_) reader_.Allocate(s, threaded);
    if (threaded) reader_.Allocate(own_);
    taken_ = claimed_ = 0;
    blockActive_ = false;
}

void PieceRing::Release() {
    StopThread();
    slots_ = {};
    own_ = {};
    reader_.Release();
    std::lock_guard lk(mutex_);
    filter_ = nullptr;
}

void PieceRing::SetFilter(BandPassRef filter) {
    bool wake;
    {
        std::lock_guard lk(mutex_);
        filter_ = std::move(filter);
        wake = helperWaits_;  // pieces ahead may be band-passed again
    }
    if (wake) helperCv_.notify_one();
}

void PieceRing::SetScreenAhead(bool on) {
    std::lock_guard lk(mutex_);
    screenAhead_ = on;
}

void PieceRing::SetBandPassAhead(bool on) {
    bool wake;
    {
        std::lock_guard lk(mutex_);
        bandPassAhead_ = on;
        wake = helperWaits_;
    }
    if (wake) helperCv_.notify_one();
}

void PieceRing::SetTimed(bool timed) {
    std::lock_guard lk(mutex_);
    timed_ = timed;
    reader_.SetTimed(timed);
}

StageTimes PieceRing::ProducerTimes() {
    std::lock_guard lk(mutex_);
    if (!reading_) times_ += reader_.TakeTimes();
    return times_;
}

void PieceRing::ResetTimes() {
    std::lock_guard lk(mutex_);
    if (!reading_) reader_.TakeTimes();
    times_ = {};
}

void PieceRing::StopThread() {
    if (thread_.joinable()) {
        {
            std::lock_guard lk(mutex_);
            stop_ = true;
        }
        helperCv_.notify_all();
        thread_.join();
    }
    stop_ = false;
    taken_ = claimed_ = takenOver_ = 0;
    blockActive_ = holding_ = reading_ = false;
    for (Slot& s : slots_) {
        s.state = Slot::State::Free;
        s.ByHelper = s.BandPassing = s.Dropped = false;
    }
}

void PieceRing::Abandon() {
    // The other thread may be reading or filtering a piece of the block.
    StopThread();
}

void PieceRing::BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead) {
    assert(Configured());
    // A second thread that kept the peak finder waiting (it took over more than one piece in
    // kGiveWay of the block before) does not pay: the rest of the batch runs on one thread.
    if (threaded_ && takenOver_ > 0 && takenOver_ * kGiveWay > taken_) {
        StopThread();
        threaded_ = false;
    }
    takenOver_ = 0;
    if (threaded_ && !thread_.joinable()) thread_ = std::thread([this] { HelperLoop(); });
    {
        std::lock_guard lk(mutex_);
        assert(taken_ == claimed_ && !reading_);  // every piece of the block before was taken
        taken_ = claimed_ = 0;
        holding_ = false;
        reader_.Begin(req, graphHead);
        blockActive_ = true;
    }
    if (threaded_) helperCv_.notify_one();
}

bool PieceRing::CanClaim() const {
    return blockActive_ && !reading_ && !reader_.Done() && claimed_ - taken_ < slots_.size() &&
           slots_[claimed_ % slots_.size()].state == Slot::State::Free;
}

PieceRing::Slot& PieceRing::ClaimAndRead(std::unique_lock<std::mutex>& lk) {
    Slot& s = SlotOf(claimed_);
    s.Index = claimed_++;
    s.state = Slot::State::Reading;
    s.ByHelper = s.BandPassing = s.Dropped = false;
    reading_ = true;
    lk.unlock();
    reader_.Read(s);
    lk.lock();
    if (timed_) times_ += reader_.TakeTimes();
    reading_ = false;
    if (s.BlockEnd) blockActive_ = false;
    s.state = Slot::State::Read;
    WakeHelper();
    return s;
}

void PieceRing::HighPass(Slot& s, bool byHelper, std::unique_lock<std::mutex>& lk) {
    s.state = Slot::State::Filtering;
    s.ByHelper = byHelper;
    const BandPassRef screenWith = threaded_ && screenAhead_ ? filter_ : nullptr;
    lk.unlock();
    StageTimes t;
    s.ScreenGen = 0;
    if (s.Count > 0) {
        // Values for the peak finder's thread, when made on the other one and not read again
        // here by the screen.
        const bool stream = byHelper && screenWith == nullptr;
        HighPassPiece(s, s.Hp.data(), Times(t), stream ? Stores::Streaming : Stores::Cached);
        if (screenWith != nullptr) {
            ScreenPiece(s, *screenWith, Times(t));
            s.ScreenGen = screenWith->Gen();
        }
    }
    lk.lock();
    times_ += t;
    if (s.Dropped) {
        Release(s);
    } else {
        s.state = Slot::State::Ready;
        if (!byHelper) WakeHelper();
    }
}

PieceRing::Slot* PieceRing::FirstRead(uint64_t from) {
    for (uint64_t k = from; k < claimed_; ++k) {
        if (SlotOf(k).state == Slot::State::Read) return &SlotOf(k);
    }
    return nullptr;
}

PieceRing::Slot* PieceRing::BandPassCandidate() {
    if (!bandPassAhead_ || filter_ == nullptr) return nullptr;
    const uint64_t first = taken_ + (holding_ ? 1 : 0);
    for (uint64_t k = claimed_; k > first; --k) {
        Slot& s = SlotOf(k - 1);
        if (s.state != Slot::State::Ready || s.BandPassing || s.Count <= 0 ||
            s.FilterGen == filter_->Gen() ||
            (s.GraphSpan >= 0 && IsQuietBlock(s.GraphSpan, filter_->Threshold()))) {
            continue;
        }
        return &s;
    }
    return nullptr;
}

void PieceRing::BandPassAhead(Slot& s, std::unique_lock<std::mutex>& lk) {
    s.BandPassing = true;
    s.FilterGen = 0;  // its values are being replaced
    const uint64_t piece = s.Index;
    const BandPassRef filter = filter_;
    lk.unlock();
    StageTimes t;
    const bool made = BandPassPiece(s, *filter, Times(t));
    lk.lock();
    times_ += t;
    s.BandPassing = false;
    if (s.Dropped) {
        Release(s);
    } else if (made && s.Index == piece && s.state == Slot::State::Ready &&
               !(holding_ && piece == taken_)) {
        // Values of the piece still in the slot, which the peak finder did not start without.
        s.FilterGen = filter->Gen();
    }
}

void PieceRing::Release(Slot& s) {
    s.state = Slot::State::Free;
    s.ByHelper = s.BandPassing = s.Dropped = false;
    WakeConsumer();
}

void PieceRing::HelperLoop() {
    std::unique_lock lk(mutex_);
    for (;;) {
        if (stop_) return;
        if (CanClaim()) {
            Slot& s = ClaimAndRead(lk);
            WakeConsumer();
            if (HoldsUpHelper() && s.Index == taken_ && !holding_) {
                // Held up on the piece the peak finder needs next, as by another program on
                // its processor: the peak finder's thread takes the piece over meanwhile.
                s.state = Slot::State::Filtering;
                s.ByHelper = true;
                helperCv_.wait(lk, [&] { return stop_ || s.Dropped; });
                if (stop_) return;
                HighPass(s, true, lk);
            }
        } else if (Slot* r = FirstRead(taken_)) {
            const int64_t c0 = ThreadCpuNs();
            HighPass(*r, true, lk);
            helperPieceNs_ = ThreadCpuNs() - c0;
            WakeConsumer();
        } else if (Slot* b = BandPassCandidate()) {
            BandPassAhead(*b, lk);
            WakeConsumer();
        } else {
            helperWaits_ = true;
            WakeConsumer();
            helperCv_.wait(lk, [&] {
                return stop_ || CanClaim() || FirstRead(taken_) != nullptr ||
                       BandPassCandidate() != nullptr;
            });
            helperWaits_ = false;
        }
    }
}

bool PieceRing::QueueFilled() const {
    if (taken_ == claimed_ || reading_ || (blockActive_ && claimed_ - taken_ < slots_.size())) {
        return false;
    }
    for (uint64_t k = taken_; k < claimed_; ++k) {
        const Slot& s = slots_[k % slots_.size()];
        if (s.state != Slot::State::Ready || s.BandPassing) return false;
        const bool quiet = s.GraphSpan >= 0 && filter_ != nullptr &&
                           IsQuietBlock(s.GraphSpan, filter_->Threshold());
        if (bandPassAhead_ && s.FilterGen == 0 && s.Count > 0 && !quiet) return false;
    }
    return true;
}

FilteredPiece& PieceRing::Take(Slot& s) {
    holding_ = true;
    return s;
}

FilteredPiece& PieceRing::NextPiece() {
    std::unique_lock lk(mutex_);
    if (threaded_ && fillAhead_) {
        consumerWaits_ = true;
        consumerCv_.wait(lk, [&] { return QueueFilled(); });
        consumerWaits_ = false;
    }
    for (;;) {
        const uint64_t k = taken_;
        Slot& s = SlotOf(k);
        if (k == claimed_) {
            // No one has claimed it: read and high-pass it here. Its slot may still be held by
            // the other thread, at work on an earlier piece that was taken from it (whose
            // results it drops when it gets its processor back): wait until it lets go. A
            // thread held up for tests takes every piece: wait until it has claimed this one.
            const bool own = !HoldsUpHelper();
            if (own && CanClaim()) {
                const int64_t w0 = WallNs();
                ClaimAndRead(lk);
                HighPass(s, false, lk);
                ownPieceNs_ = WallNs() - w0;
                return Take(s);
            }
            if (!own) helperCv_.notify_one();
            consumerWaits_ = true;
            consumerCv_.wait(lk, [&] { return (own && CanClaim()) || claimed_ != k; });
            consumerWaits_ = false;
            continue;
        }
        switch (s.state) {
            case Slot::State::Ready:
                if (takeOverAtOnce_ && s.ByHelper) return TakeOver(s, lk);
                return Take(s);
            case Slot::State::Read: {
                if (HoldsUpHelper()) {
                    // A thread held up for tests high-passes every piece.
                    helperCv_.notify_one();
                    consumerWaits_ = true;
                    consumerCv_.wait(lk, [&] { return s.state != Slot::State::Read; });
                    consumerWaits_ = false;
                    continue;
                }
                const int64_t w0 = WallNs();
                HighPass(s, false, lk);
                ownPieceNs_ = WallNs() - w0;
                return Take(s);
            }
            case Slot::State::Filtering: {
                // The other thread high-passes it.
                if (takeOverAtOnce_) return TakeOver(s, lk);
                // Meanwhile high-pass a later piece that has been read, or read the next one.
                if (Slot* later = FirstRead(k + 1)) {
                    HighPass(*later, false, lk);
                    continue;
                }
                if (CanClaim()) {
                    ClaimAndRead(lk);
                    continue;
                }
                // Wait about as long as high-passing it here would take, or the other thread
                // (on a free processor) takes for a piece.
                const auto budget = std::chrono::nanoseconds(
                    std::max<int64_t>({3 * ownPieceNs_, 3 * helperPieceNs_, 200000}));
                consumerWaits_ = true;
                const bool done = consumerCv_.wait_for(
                    lk, budget, [&] { return s.state != Slot::State::Filtering; });
                consumerWaits_ = false;
                if (done) continue;
                return TakeOver(s, lk);
            }
            case Slot::State::Reading:
            case Slot::State::Free:
                // The other thread reads it (a read cannot be taken over).
                consumerWaits_ = true;
                consumerCv_.wait(lk, [&] { return s.state != Slot::State::Reading; });
                consumerWaits_ = false;
                continue;
        }
    }
}

// High-passes a piece the other thread high-passes or high-passed from its bytes (which no one
// changes until the peak finder is done with the piece); the other thread's result, if it is
// still at it, is dropped.
FilteredPiece& PieceRing::TakeOver(Slot& s, std::unique_lock<std::mutex>& lk) {
    s.Dropped = s.state == Slot::State::Filtering;
    ++takenOver_;
    static_cast<PieceRead&>(own_) = s;
    own_.FilterGen = own_.ScreenGen = 0;  // band-passed in chunks as the peak finder reaches them
    holding_ = true;
    if (takeOverAtOnce_) {
        // The other thread lets go of the slot and runs ahead as far as the ring lets it before
        // the piece's bytes are read here: they must still be the piece's.
        helperCv_.notify_one();
        consumerWaits_ = true;
        consumerCv_.wait(lk, [&] { return !s.Dropped && helperWaits_; });
        consumerWaits_ = false;
    }
    StageTimes t;
    lk.unlock();
    HighPassPiece(s, own_.Hp.data(), Times(t));
    lk.lock();
    times_ += t;
    return own_;
}

void PieceRing::DonePiece() {
    bool wake;
    {
        std::lock_guard lk(mutex_);
        // A piece the other thread is still at is freed by that thread.
        Slot& s = SlotOf(taken_);
        if (s.state == Slot::State::Filtering || s.BandPassing) {
            s.Dropped = true;
        } else {
            s.state = Slot::State::Free;
            s.ByHelper = s.Dropped = false;
        }
        ++taken_;
        holding_ = false;
        wake = helperWaits_;
    }
    if (wake) helperCv_.notify_one();
}

}  // namespace wtk
