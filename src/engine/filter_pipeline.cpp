#include "engine/filter_pipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace wtk {

namespace {

// The high-pass reads 18 samples on each side of its centre; a position reads two high-pass
// values on each side. What a piece leaves for the next one starts at its next position.
constexpr int32_t kLastPositionBeforeEnd = 86;  // p <= N - 86
constexpr int32_t kHeadRawSamples = kGraphHead + 40;

int32_t SampleAt(const uint8_t* b, int64_t j) {
    return static_cast<int16_t>(b[2 * j] | (b[2 * j + 1] << 8));
}

// Reads up to n bytes at offset; the count read (short only at the end of the file), -1 with
// errno on failure.
int64_t ReadAt(int fd, uint8_t* buf, int64_t n, int64_t offset) {
    int64_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, buf + got, static_cast<size_t>(n - got), offset + got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return got > 0 ? got : -1;
        }
        if (r == 0) break;
        got += r;
    }
    return got;
}

}  // namespace

int64_t ThreadCpuNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

FilterPipeline::~FilterPipeline() {
    StopThread();
}

void FilterPipeline::Configure(int32_t pieceSamples, bool threaded) {
    StopThread();
    pieceSamples_ = std::max<int32_t>(pieceSamples, 1);
    threaded_ = threaded;
    const size_t positions = static_cast<size_t>(pieceSamples_) + kLastPositionBeforeEnd;
    slots_.assign(threaded ? 4 : 1, FilteredPiece{});
    for (FilteredPiece& s : slots_) {
        s.Hp.assign(positions + 4, 0);
        if (threaded) {
            s.Values.assign(4 * positions + 4, 0);  // + the peak finder's padding
            s.Above.assign((4 * positions + 63) / 64, 0);
        }
    }
    bytes_.assign(2 * (static_cast<size_t>(pieceSamples_) + kLastPositionBeforeEnd + 4), 0);
    headBytes_.assign(2 * static_cast<size_t>(kHeadRawSamples), 0);
    blockDone_ = true;
    head_ = filled_ = 0;
}

void FilterPipeline::Release() {
    StopThread();
    slots_ = {};
    bytes_ = {};
    headBytes_ = {};
    preview_ = {};
}

void FilterPipeline::SetFilter(const BandPassCoeffs& c, int32_t threshold, uint64_t gen) {
    std::lock_guard lk(filterMutex_);
    filter_ = c;
    threshold_ = threshold;
    filterGen_ = gen;
}

void FilterPipeline::StopThread() {
    if (thread_.joinable()) {
        {
            std::lock_guard lk(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    stop_ = false;
    blockRequested_ = previewReady_ = taken_ = false;
    head_ = filled_ = 0;
    blockDone_ = true;
}

void FilterPipeline::Abandon() {
    if (threaded_) {
        StopThread();
    } else {
        blockDone_ = true;
    }
}

void FilterPipeline::BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead) {
    assert(Configured());
    if (threaded_ && !thread_.joinable()) thread_ = std::thread([this] { ProducerLoop(); });
    {
        std::lock_guard lk(mutex_);
        assert(filled_ == 0);
        req_ = req;
        graphHead_ = graphHead;
        // The producer is idle between blocks: its block state starts afresh.
        b0_ = 1;
        have_ = samplesRead_ = bytesRead_ = headHave_ = 0;
        readAt_ = req.Offset;
        eof_ = headDone_ = false;
        readError_ = 0;
        nextP_ = 2;
        head_ = filled_ = 0;
        previewReady_ = false;
        blockRequested_ = true;
        blockDone_ = false;
    }
    if (threaded_) {
        cv_.notify_all();
    } else {
        blockRequested_ = false;
        if (req_.Graphs) PrePass();
    }
}

const BlockPreview& FilterPipeline::Preview() {
    if (threaded_) {
        std::unique_lock lk(mutex_);
        consumerWaits_ = true;
        cv_.wait(lk, [&] { return previewReady_; });
        consumerWaits_ = false;
    }
    return preview_;
}

FilteredPiece& FilterPipeline::NextPiece() {
    if (!threaded_) {
        ProduceNext(slots_[0]);
        return slots_[0];
    }
    std::unique_lock lk(mutex_);
    consumerWaits_ = true;
    cv_.wait(lk, [&] { return filled_ > 0; });
    consumerWaits_ = false;
    taken_ = true;
    return slots_[head_];
}

void FilterPipeline::DonePiece() {
    if (!threaded_) return;
    bool wake;
    {
        std::lock_guard lk(mutex_);
        taken_ = false;
        head_ = (head_ + 1) % slots_.size();
        --filled_;
        wake = producerWaits_;
    }
    if (wake) cv_.notify_all();
}

void FilterPipeline::ProducerLoop() {
    for (;;) {
        {
            std::unique_lock lk(mutex_);
            cv_.wait(lk, [&] { return stop_ || blockRequested_; });
            if (stop_) return;
            blockRequested_ = false;
        }
        if (req_.Graphs) {
            PrePass();
            bool wake;
            {
                std::lock_guard lk(mutex_);
                previewReady_ = true;
                wake = consumerWaits_;
            }
            if (wake) cv_.notify_all();
        }
        bool end = false;
        while (!end) {
            size_t slot;
            {
                std::unique_lock lk(mutex_);
                producerWaits_ = true;
                cv_.wait(lk, [&] { return stop_ || filled_ < slots_.size(); });
                producerWaits_ = false;
                if (stop_) return;
                slot = (head_ + filled_) % slots_.size();
            }
            ProduceNext(slots_[slot]);
            end = slots_[slot].BlockEnd;
            bool wake;
            {
                std::lock_guard lk(mutex_);
                ++filled_;
                wake = consumerWaits_;
            }
            if (wake) cv_.notify_all();
        }
    }
}

// Reads the next piece of the block into bytes_ after the samples still needed (those from
// the next position on).
void FilterPipeline::ReadMore() {
    const int64_t t0 = Clock();
    const int64_t keepFrom = std::min<int64_t>(nextP_, b0_ + have_);
    if (keepFrom > b0_) {
        const int64_t drop = keepFrom - b0_;
        std::memmove(bytes_.data(), bytes_.data() + 2 * drop,
                     static_cast<size_t>(2 * (have_ - drop)));
        have_ -= drop;
        b0_ = keepFrom;
    }
    const int64_t wantSamples = std::min<int64_t>(pieceSamples_, req_.MaxSamples - samplesRead_);
    int64_t want = std::min<int64_t>(2 * wantSamples, req_.EndOffset - readAt_);
    want = std::max<int64_t>(want, 0);
    assert(2 * have_ + want <= static_cast<int64_t>(bytes_.size()));
    int64_t got = want > 0 ? ReadAt(req_.Fd, bytes_.data() + 2 * have_, want, readAt_) : 0;
    if (got < 0) {
        readError_ = errno != 0 ? errno : EIO;
        got = 0;
    }
    readAt_ += got;
    bytesRead_ += got;
    const int64_t newSamples = got / 2;  // an odd last byte of the file is not a sample
    // The start of the block for the graph heads.
    if (headHave_ < kHeadRawSamples && newSamples > 0) {
        const int64_t n = std::min(newSamples, kHeadRawSamples - headHave_);
        std::memcpy(headBytes_.data() + 2 * headHave_, bytes_.data() + 2 * have_,
                    static_cast<size_t>(2 * n));
        headHave_ += n;
    }
    have_ += newSamples;
    samplesRead_ += newSamples;
    if (got < want || readError_ != 0 || samplesRead_ >= req_.MaxSamples ||
        readAt_ >= req_.EndOffset) {
        eof_ = true;
    }
    producerTimes_.ReadNs += Clock() - t0;
}

bool FilterPipeline::ProduceNext(FilteredPiece& out) {
    out.PFirst = nextP_;
    out.Count = 0;
    out.FilterGen = 0;
    out.BlockEnd = false;
    if (blockDone_) {
        out.BlockEnd = true;
        return false;
    }
    ReadMore();
    const int64_t pHi = samplesRead_ - kLastPositionBeforeEnd;
    if (pHi >= nextP_) {
        const auto count = static_cast<int32_t>(pHi - nextP_ + 1);
        const int64_t t0 = Clock();
        HighPassFromBytes(bytes_.data() + 2 * (nextP_ - b0_), count + 4, out.Hp.data());
        const int64_t t1 = Clock();
        producerTimes_.HighPassNs += t1 - t0;
        out.PFirst = nextP_;
        out.Count = count;
        if (threaded_) {
            // Ahead at the gain and threshold in force; a quiet block with graphs on needs none.
            std::lock_guard lk(filterMutex_);
            const int64_t span = static_cast<int64_t>(preview_.MaxSample) - preview_.MinSample;
            if (filterGen_ != 0 &&
                !(req_.Graphs && (span < 0 ? -span : span) <= 4 * int64_t{threshold_})) {
                BandPassValues(out.Hp.data(), 2, count, filter_, threshold_, out.Values.data(),
                               out.Above.data());
                out.FilterGen = filterGen_;
            }
            producerTimes_.BandPassNs += Clock() - t1;
        }
        nextP_ = static_cast<int32_t>(pHi + 1);
    }
    if (!headDone_ && (samplesRead_ >= kGraphHead + kLastPositionBeforeEnd || eof_)) {
        UpdateGraphHead(false);
    }
    if (eof_) {
        out.BlockEnd = true;
        out.BlockBytes = bytesRead_;
        out.ReadError = readError_;
        blockDone_ = true;
    }
    return true;
}

// The sample buffer's head as the block leaves it: raw samples over 1 ... N, then the
// high-pass over 0 ... N - 84 (N: the block's samples, or more than the head when unknown).
void FilterPipeline::UpdateGraphHead(bool snapshot) {
    const int64_t t0 = Clock();
    headDone_ = true;
    if (graphHead_ == nullptr || graphHead_->size() < static_cast<size_t>(kGraphHead)) return;
    std::vector<int32_t>& g = *graphHead_;
    const int64_t n = eof_ ? samplesRead_ : int64_t{kHeadRawSamples} + kLastPositionBeforeEnd;
    const int64_t rawEnd = std::min<int64_t>(n, kGraphHead - 1);
    WidenSamples(headBytes_.data(), static_cast<int32_t>(rawEnd), g.data() + 1);
    if (snapshot) preview_.RawHead = g;
    const int64_t hpCount = std::min<int64_t>(n - 83, kGraphHead);
    if (hpCount > 0) {
        // hp[q] reads samples q + 2 ... q + 38, that is headBytes_ from sample q + 1 on.
        HighPassFromBytes(headBytes_.data() + 2, static_cast<int32_t>(hpCount), g.data());
    }
    if (snapshot) preview_.FilteredHead = g;
    producerTimes_.HighPassNs += Clock() - t0;
}

// The first read of a block with graphs on: its raw extremes and the graph heads.
void FilterPipeline::PrePass() {
    const int64_t t0 = Clock();
    preview_.MaxSample = 0;
    preview_.MinSample = 2147483647;
    int32_t mx = 0, mn = 2147483647;
    int64_t at = req_.Offset, samples = 0;
    for (;;) {
        const int64_t wantSamples = std::min<int64_t>(pieceSamples_, req_.MaxSamples - samples);
        const int64_t want =
            std::max<int64_t>(0, std::min<int64_t>(2 * wantSamples, req_.EndOffset - at));
        int64_t got = want > 0 ? ReadAt(req_.Fd, bytes_.data(), want, at) : 0;
        if (got < 0) got = 0;
        at += got;
        const int64_t n = got / 2;
        const uint8_t* b = bytes_.data();
        for (int64_t i = 0; i < n; ++i) {
            const int32_t v = SampleAt(b, i);
            if (v > mx) {
                mx = v;
            } else if (v < mn) {
                mn = v;
            }
        }
        if (headHave_ < kHeadRawSamples && n > 0) {
            const int64_t k = std::min(n, kHeadRawSamples - headHave_);
            std::memcpy(headBytes_.data() + 2 * headHave_, b, static_cast<size_t>(2 * k));
            headHave_ += k;
        }
        samples += n;
        if (got < want || want == 0 || samples >= req_.MaxSamples) break;
    }
    preview_.MaxSample = mx;
    preview_.MinSample = mn;
    producerTimes_.ReadNs += Clock() - t0;
    // The head as the main pass will leave it.
    const bool eofSaved = eof_;
    const int64_t readSaved = samplesRead_;
    eof_ = true;
    samplesRead_ = samples;
    UpdateGraphHead(true);
    eof_ = eofSaved;
    samplesRead_ = readSaved;
    headHave_ = kHeadRawSamples;  // the main pass needs no second copy
}

}  // namespace wtk
