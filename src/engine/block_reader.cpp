#include "engine/block_reader.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <ctime>

#include "input/recording_source.h"

namespace wtk {

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
    graphs_.Configure();
    done_ = true;
}

void BlockReader::Release() {
    carry_ = {};
    graphs_.Release();
    done_ = true;
}

StageTimes BlockReader::TakeTimes() {
    const StageTimes t = times_;
    times_ = {};
    return t;
}

void BlockReader::Begin(const BlockRequest& req, std::vector<int32_t>* graphHead) {
    req_ = req;
    graphs_.Begin(graphHead);
    samplesRead_ = 0;
    eof_ = done_ = false;
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
    graphs_.Collect(fresh, newSamples);
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
    graphs_.AfterRead(samplesRead_, eof_, timed_ ? &times_ : nullptr);
    if (eof_) {
        r.BlockEnd = true;
        done_ = true;
    }
    return r;
}

void BlockReader::PrePass() {
    graphs_.PrePass(*req_.Source, req_.MaxSamples, pieceSamples_, timed_ ? &times_ : nullptr);
}

}  // namespace wtk
