#include "engine/filter_pipeline.h"

#include <algorithm>
#include <cassert>

namespace wtk {

FilterPipeline::~FilterPipeline() {
    StopThread();
}

void FilterPipeline::Configure(int32_t pieceSamples, bool threaded) {
    StopThread();
    pieceSamples_ = std::max<int32_t>(pieceSamples, 1);
    threaded_ = threaded;
    reader_.Configure(pieceSamples_);
    const size_t positions = static_cast<size_t>(pieceSamples_) + BlockReader::kOverlapSamples;
    slots_.assign(threaded ? kSlots : 1, Slot{});
    for (Slot& s : slots_) {
        s.Bytes.assign(BlockReader::PieceBytes(pieceSamples_), 0);
        s.Hp.assign(positions + 4, 0);
        if (threaded) {
            s.Values.assign(4 * positions + 4, 0);  // + the peak finder's padding
            s.Above.assign((4 * positions + 63) / 64, 0);
        }
    }
    if (threaded) own_.Hp.assign(positions + 4, 0);
    taken_ = claimed_ = 0;
    blockActive_ = false;
}

void FilterPipeline::Release() {
    StopThread();
    slots_ = {};
    own_ = {};
    reader_.Release();
}

void FilterPipeline::SetFilter(const BandPassCoeffs& c, int32_t threshold, uint64_t gen) {
    std::lock_guard lk(filterMutex_);
    filter_ = c;
    threshold_ = threshold;
    filterGen_ = gen;
}

void FilterPipeline::SetTimed(bool timed) {
    std::lock_guard lk(mutex_);
    timed_ = timed;
    reader_.SetTimed(timed);
}

StageTimes FilterPipeline::ProducerTimes() {
    std::lock_guard lk(mutex_);
    times_ += reader_.TakeTimes();
    return times_;
}

void FilterPipeline::ResetTimes() {
    std::lock_guard lk(mutex_);
    reader_.TakeTimes();
    times_ = {};
}

void FilterPipeline::StopThread() {
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

void FilterPipeline::Abandon() {
    if (threaded_) {
        StopThread();  // the other thread may be filtering a piece of the block
    } else {
        taken_ = claimed_ = 0;
        blockActive_ = false;
    }
}

void FilterPipeline::BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead) {
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
        if (req.Graphs) reader_.PrePass();
        blockActive_ = true;
    }
    if (threaded_) helperCv_.notify_one();
}

bool FilterPipeline::CanClaim() const {
    return blockActive_ && !reader_.Done() && claimed_ - taken_ < slots_.size() &&
           slots_[claimed_ % slots_.size()].state == Slot::State::Free;
}

FilterPipeline::Slot& FilterPipeline::ClaimAndRead() {
    Slot& s = slots_[claimed_ % slots_.size()];
    ++claimed_;
    s.state = Slot::State::Busy;
    static_cast<PieceRead&>(s) = reader_.ReadPiece(s.Bytes.data());
    s.FilterGen = 0;
    s.ByHelper = false;
    const BlockPreview& pv = reader_.Preview();
    const int64_t span = static_cast<int64_t>(pv.MaxSample) - pv.MinSample;
    s.GraphSpan = reader_.Request().Graphs ? (span < 0 ? -span : span) : -1;
    if (s.BlockEnd) blockActive_ = false;
    return s;
}

void FilterPipeline::Filter(Slot& s, bool bandPass, StageTimes& t, bool heldUp) {
    if (s.Count <= 0) return;
    const int64_t t0 = Clock();
    HighPassFromBytes(s.Bytes.data() + 2 * static_cast<size_t>(s.PFirst - s.First), s.Count + 4,
                      s.Hp.data());
    const int64_t t1 = Clock();
    t.HighPassNs += t1 - t0;
    if (!bandPass) return;
    // Held up, as by another program on its processor: the peak finder's thread takes the
    // piece over and runs on past it meanwhile.
    if (heldUp) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // At the gain and threshold in force; a quiet block with graphs on needs none.
    std::lock_guard lk(filterMutex_);
    if (filterGen_ != 0 && !(s.GraphSpan >= 0 && s.GraphSpan <= 4 * int64_t{threshold_})) {
        BandPassValues(s.Hp.data(), 2, s.Count, filter_, threshold_, s.Values.data(),
                       s.Above.data());
        s.FilterGen = filterGen_;
    }
    t.BandPassNs += Clock() - t1;
}

void FilterPipeline::Filtered(Slot& s, const StageTimes& t) {
    s.state = Slot::State::Ready;
    times_ += t;
}

void FilterPipeline::HelperLoop() {
    std::unique_lock lk(mutex_);
    for (;;) {
        helperWaits_ = true;
        helperCv_.wait(lk, [&] { return stop_ || CanClaim(); });
        helperWaits_ = false;
        if (stop_) return;
        Slot& s = ClaimAndRead();
        s.ByHelper = true;
        lk.unlock();
        StageTimes t;
        const int64_t c0 = ThreadCpuNs();
        Filter(s, true, t, takeOverAtOnce_);
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

bool FilterPipeline::QueueFilled() const {
    if (taken_ == claimed_ || (blockActive_ && claimed_ - taken_ < slots_.size())) return false;
    for (uint64_t k = taken_; k < claimed_; ++k) {
        if (slots_[k % slots_.size()].state != Slot::State::Ready) return false;
    }
    return true;
}

FilteredPiece& FilterPipeline::NextPiece() {
    std::unique_lock lk(mutex_);
    if (threaded_ && fillAhead_) {
        consumerWaits_ = true;
        consumerCv_.wait(lk, [&] { return QueueFilled(); });
        consumerWaits_ = false;
    }
    for (;;) {
        Slot& next = slots_[taken_ % slots_.size()];
        StageTimes t;
        if (taken_ == claimed_) {
            // No one has taken it yet: read and high-pass it here; its band-pass values are
            // made in small chunks as the peak finder reaches them. Its slot may still be held
            // by the other thread, filtering an earlier piece that was taken over from it
            // (which writes the slot's values when it gets its processor back): wait until it
            // lets go (it may then take this piece itself).
            if (next.state != Slot::State::Free) {
                consumerWaits_ = true;
                consumerCv_.wait(
                    lk, [&] { return next.state == Slot::State::Free || taken_ != claimed_; });
                consumerWaits_ = false;
                continue;
            }
            const auto w0 = std::chrono::steady_clock::now();
            Slot& s = ClaimAndRead();
            lk.unlock();
            Filter(s, false, t);
            ownPieceNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now() - w0)
                              .count();
            lk.lock();
            Filtered(s, t);
            return s;
        }
        if (takeOverAtOnce_ && next.ByHelper) return TakeOver(next, lk);
        if (next.state == Slot::State::Ready) return next;
        // The other thread is filtering it: filter a later piece meanwhile, or wait.
        if (CanClaim()) {
            Slot& s = ClaimAndRead();
            lk.unlock();
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

// High-passes a piece the other thread took from its bytes (which no one changes until the
// peak finder is done with the piece); the other thread's result, if it is still at it, is
// dropped.
FilteredPiece& FilterPipeline::TakeOver(Slot& s, std::unique_lock<std::mutex>& lk) {
    s.Dropped = s.state == Slot::State::Busy;
    ++takenOver_;
    static_cast<PieceRead&>(own_) = s;
    own_.FilterGen = 0;  // band-passed in chunks as the peak finder reaches them
    StageTimes t;
    lk.unlock();
    if (s.Count > 0) {
        const int64_t t0 = Clock();
        HighPassFromBytes(s.Bytes.data() + 2 * static_cast<size_t>(s.PFirst - s.First), s.Count + 4,
                          own_.Hp.data());
        t.HighPassNs += Clock() - t0;
    }
    lk.lock();
    times_ += t;
    return own_;
}

void FilterPipeline::DonePiece() {
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
