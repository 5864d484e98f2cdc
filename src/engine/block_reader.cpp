#include "engine/block_reader.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <ctime>

#include "engine/filter_kernels.h"
#include "input/recording_source.h"

namespace wtk {

namespace {

constexpr int32_t kHeadRawSamples = kGraphHead + 40;

int32_t SampleAt(const uint8_t* b, int64_t j) {
    return static_cast<int16_t>(b[2 * j] | (b[2 * j + 1] << 8));
}

}  // namespace

int64_t ThreadCpuNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t BlockReader::Clock() const {
    return timed_ ? ThreadCpuNs() : 0;
}

void BlockReader::Configure(int32_t pieceSamples) {
    pieceSamples_ = std::max<int32_t>(pieceSamples, 1);
    carry_.assign(2 * static_cast<size_t>(kOverlapSamples + 2), 0);
    headBytes_.assign(2 * static_cast<size_t>(kHeadRawSamples), 0);
    done_ = true;
}

void BlockReader::Release() {
    carry_ = {};
    headBytes_ = {};
    preview_ = {};
    done_ = true;
}

StageTimes BlockReader::TakeTimes() {
    const StageTimes t = times_;
    times_ = {};
    return t;
}

void BlockReader::Begin(const BlockRequest& req, std::vector<int32_t>* graphHead) {
    req_ = req;
    graphHead_ = graphHead;
    samplesRead_ = headHave_ = 0;
    eof_ = headDone_ = done_ = false;
    nextP_ = 2;
}

PieceRead BlockReader::ReadPiece(uint8_t* bytes) {
    PieceRead r;
    r.PFirst = nextP_;
    if (done_) {
        r.BlockEnd = true;
        return r;
    }
    const int64_t t0 = Clock();
    // The samples still needed (from the next position on; none before sample 1), then the
    // new ones.
    const int64_t first = std::min<int64_t>(nextP_, samplesRead_ + 1);
    const int64_t carried = samplesRead_ + 1 - first;
    assert(carried <= kOverlapSamples + 2);
    std::memcpy(bytes, carry_.data(), static_cast<size_t>(2 * carried));
    r.First = static_cast<int32_t>(first);
    const int64_t want = std::min<int64_t>(pieceSamples_, req_.MaxSamples - samplesRead_);
    uint8_t* fresh = bytes + 2 * carried;
    RecordingSource& source = *req_.Source;
    const int64_t newSamples = want > 0 && !source.AtEnd() ? source.Read(fresh, want) : 0;
    // The start of the block for the graph heads.
    if (headHave_ < kHeadRawSamples && newSamples > 0) {
        const int64_t n = std::min(newSamples, kHeadRawSamples - headHave_);
        std::memcpy(headBytes_.data() + 2 * headHave_, fresh, static_cast<size_t>(2 * n));
        headHave_ += n;
    }
    samplesRead_ += newSamples;
    if (newSamples < want || samplesRead_ >= req_.MaxSamples || source.AtEnd()) eof_ = true;
    const int64_t pHi = samplesRead_ - kOverlapSamples;
    if (pHi >= nextP_) {
        r.Count = static_cast<int32_t>(pHi - nextP_ + 1);
        nextP_ = static_cast<int32_t>(pHi + 1);
    }
    // What the next piece carries over.
    const int64_t keepFrom = std::min<int64_t>(nextP_, samplesRead_ + 1);
    std::memcpy(carry_.data(), bytes + 2 * (keepFrom - first),
                static_cast<size_t>(2 * (samplesRead_ + 1 - keepFrom)));
    times_.ReadNs += Clock() - t0;
    if (!headDone_ && (samplesRead_ >= kGraphHead + kOverlapSamples || eof_)) {
        UpdateGraphHead(false);
    }
    if (eof_) {
        r.BlockEnd = true;
        done_ = true;
    }
    return r;
}

// The sample buffer's head as the block leaves it: raw samples over 1 ... N, then the
// high-pass over 0 ... N - 84 (N: the block's samples, or more than the head when unknown).
void BlockReader::UpdateGraphHead(bool snapshot) {
    const int64_t t0 = Clock();
    headDone_ = true;
    if (graphHead_ == nullptr || graphHead_->size() < static_cast<size_t>(kGraphHead)) return;
    std::vector<int32_t>& g = *graphHead_;
    const int64_t n = eof_ ? samplesRead_ : int64_t{kHeadRawSamples} + kOverlapSamples;
    const int64_t rawEnd = std::min<int64_t>(n, kGraphHead - 1);
    WidenSamples(headBytes_.data(), static_cast<int32_t>(rawEnd), g.data() + 1);
    if (snapshot) preview_.RawHead = g;
    const int64_t hpCount = std::min<int64_t>(n - 83, kGraphHead);
    if (hpCount > 0) {
        // hp[q] reads samples q + 2 ... q + 38, that is headBytes_ from sample q + 1 on.
        HighPassFromBytes(headBytes_.data() + 2, static_cast<int32_t>(hpCount), g.data());
    }
    if (snapshot) preview_.FilteredHead = g;
    times_.HighPassNs += Clock() - t0;
}

// The first read of a block with graphs on: its raw extremes and the graph heads. The source
// is then put back where the block begins.
void BlockReader::PrePass() {
    const int64_t t0 = Clock();
    int32_t mx = 0, mn = 2147483647;
    int64_t samples = 0;
    RecordingSource& source = *req_.Source;
    const int64_t start = source.Tell();
    std::vector<uint8_t>& buf = scratch_;
    buf.resize(2 * static_cast<size_t>(pieceSamples_));
    for (;;) {
        const int64_t want = std::min<int64_t>(pieceSamples_, req_.MaxSamples - samples);
        const int64_t n = want > 0 && !source.AtEnd() ? source.Read(buf.data(), want) : 0;
        const uint8_t* b = buf.data();
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
        if (n < want || want == 0 || samples >= req_.MaxSamples || source.AtEnd()) break;
    }
    source.Seek(start);
    preview_.MaxSample = mx;
    preview_.MinSample = mn;
    times_.ReadNs += Clock() - t0;
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
