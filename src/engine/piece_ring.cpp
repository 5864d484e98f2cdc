#include "engine/piece_ring.h"

#include <algorithm>
#include <cassert>
#include <chrono>

namespace wtk {

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
    std::lock_guard lk(mutex_);
    filter_ = std::move(filter);
}

void PieceRing::SetTimed(bool timed) {
    std::lock_guard lk(mutex_);
    timed_ = timed;
    reader_.SetTimed(timed);
}

StageTimes PieceRing::ProducerTimes() {
    std::lock_guard lk(mutex_);
    times_ += reader_.TakeTimes();
    return times_;
}

void PieceRing::ResetTimes() {
    std::lock_guard lk(mutex_);
    reader_.TakeTimes();
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
    blockActive_ = false;
    for (Slot& s : slots_) {
        s.state = Slot::State::Free;
        s.Dropped = false;
    }
}

void PieceRing::Abandon() {
    if (threaded_) {
        StopThread();  // the other thread may be filtering a piece of the block
    } else {
        taken_ = claimed_ = 0;
        blockActive_ = false;
    }
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
        assert(taken_ == claimed_);  // every piece of the block before was taken
        taken_ = claimed_ = 0;
        reader_.Begin(req, graphHead);
        blockActive_ = true;
    }
    if (threaded_) helperCv_.notify_one();
}

bool PieceRing::CanClaim() const {
    return blockActive_ && !reader_.Done() && claimed_ - taken_ < slots_.size() &&
           slots_[claimed_ % slots_.size()].state == Slot::State::Free;
}

PieceRing::Slot& PieceRing::ClaimAndRead() {
    Slot& s = slots_[claimed_ % slots_.size()];
    ++claimed_;
    s.state = Slot::State::Busy;
    reader_.Read(s);
    s.ByHelper = false;
    if (s.BlockEnd) blockActive_ = false;
    return s;
}

void PieceRing::Filter(Slot& s, bool bandPass, StageTimes& t) {
    if (s.Count <= 0) return;
    HighPassPiece(s, s.Hp.data(), Times(t));
    if (!bandPass) return;
    BandPassRef filter;
    {
        std::lock_guard lk(mutex_);
        filter = filter_;
    }
    if (filter != nullptr) BandPassPiece(s, *filter, Times(t));
}

void PieceRing::Filtered(Slot& s, const StageTimes& t) {
    s.state = Slot::State::Ready;
    times_ += t;
}

void PieceRing::HelperLoop() {
    std::unique_lock lk(mutex_);
    for (;;) {
        helperWaits_ = true;
        helperCv_.wait(lk, [&] { return stop_ || CanClaim(); });
        helperWaits_ = false;
        if (stop_) return;
        const bool needed = claimed_ == taken_;  // the piece the peak finder needs next
        Slot& s = ClaimAndRead();
        s.ByHelper = true;
        if (needed && HoldsUpHelper()) {
            // Held up, as by another program on its processor: the peak finder's thread takes
            // the piece over and runs on past it meanwhile.
            if (consumerWaits_) consumerCv_.notify_one();
            helperCv_.wait(lk, [&] { return stop_ || s.Dropped; });
            if (stop_) return;
        }
        lk.unlock();
        StageTimes t;
        const int64_t c0 = ThreadCpuNs();
        Filter(s, true, t);
        const int64_t cpu = ThreadCpuNs() - c0;
        lk.lock();
        helperPieceNs_ = cpu;
        if (s.Dropped) {
            s.Dropped = false;
            s.state = Slot::State::Free;
        } else {
            Filtered(s, t);
        }
        if (consumerWaits_) consumerCv_.notify_one();
    }
}

bool PieceRing::QueueFilled() const {
    if (taken_ == claimed_ || (blockActive_ && claimed_ - taken_ < slots_.size())) return false;
    for (uint64_t k = taken_; k < claimed_; ++k) {
        if (slots_[k % slots_.size()].state != Slot::State::Ready) return false;
    }
    return true;
}

FilteredPiece& PieceRing::NextPiece() {
    std::unique_lock lk(mutex_);
    if (threaded_ && fillAhead_) {
        consumerWaits_ = true;
        consumerCv_.wait(lk, [&] { return QueueFilled(); });
        consumerWaits_ = false;
    }
    for (;;) {
        Slot& next = slots_[taken_ % slots_.size()];
        if (taken_ == claimed_) {
            // Its slot may still be held by the other thread, filtering an earlier piece that
            // was taken over from it (which writes the slot's values when it gets its processor
            // back): wait until it lets go (it may then take this piece itself). A thread held
            // up for tests takes every piece: wait until it has claimed this one.
            const bool own = !HoldsUpHelper();
            if (own && next.state == Slot::State::Free) return ReadHere(lk);
            if (!own) helperCv_.notify_one();
            consumerWaits_ = true;
            consumerCv_.wait(
                lk, [&] { return (own && next.state == Slot::State::Free) || taken_ != claimed_; });
            consumerWaits_ = false;
            continue;
        }
        if (takeOverAtOnce_ && next.ByHelper) return TakeOver(next, lk);
        if (next.state == Slot::State::Ready) return next;
        // The other thread is filtering it: filter a later piece meanwhile, or wait.
        if (CanClaim()) {
            Slot& s = ClaimAndRead();
            lk.unlock();
            StageTimes t;
            Filter(s, true, t);
            lk.lock();
            Filtered(s, t);
            continue;
        }
        // Wait about as long as filtering it here would take, or the other thread (on a free
        // processor) takes for a piece.
        const auto budget = std::chrono::nanoseconds(
            std::max<int64_t>({3 * ownPieceNs_, 3 * helperPieceNs_, 200000}));
        consumerWaits_ = true;
        const bool ready =
            consumerCv_.wait_for(lk, budget, [&] { return next.state == Slot::State::Ready; });
        consumerWaits_ = false;
        return ready ? next : TakeOver(next, lk);
    }
}

// Its band-pass values are made in small chunks as the peak finder reaches them.
FilteredPiece& PieceRing::ReadHere(std::unique_lock<std::mutex>& lk) {
    const auto w0 = std::chrono::steady_clock::now();
    Slot& s = ClaimAndRead();
    lk.unlock();
    StageTimes t;
    Filter(s, false, t);
    ownPieceNs_ =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - w0)
            .count();
    lk.lock();
    Filtered(s, t);
    return s;
}

// High-passes a piece the other thread took from its bytes (which no one changes until the
// peak finder is done with the piece); the other thread's result, if it is still at it, is
// dropped.
FilteredPiece& PieceRing::TakeOver(Slot& s, std::unique_lock<std::mutex>& lk) {
    s.Dropped = s.state == Slot::State::Busy;
    ++takenOver_;
    static_cast<PieceRead&>(own_) = s;
    own_.FilterGen = 0;  // band-passed in chunks as the peak finder reaches them
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
        // A piece taken over while the other thread was at it is freed by that thread.
        Slot& s = slots_[taken_ % slots_.size()];
        if (!s.Dropped) s.state = Slot::State::Free;
        ++taken_;
        // The other thread, waiting for room, is woken once half the queue is free.
        wake = helperWaits_ && (fillAhead_ || 2 * (claimed_ - taken_) <= slots_.size());
    }
    if (wake) helperCv_.notify_one();
}

}  // namespace wtk
