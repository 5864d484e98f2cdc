#include "engine/graph_preview.h"

#include <algorithm>
#include <cstring>

#include "engine/block_reader.h"
#include "engine/filter_kernels.h"
#include "input/recording_source.h"

namespace wtk {

namespace {

int32_t SampleAt(const uint8_t* b, int64_t j) {
    return static_cast<int16_t>(b[2 * j] | (b[2 * j + 1] << 8));
}

int64_t Clock(const StageTimes* t) {
    return t != nullptr ? ThreadCpuNs() : 0;
}

}  // namespace

void GraphPreview::Configure() {
    headBytes_.assign(2 * static_cast<size_t>(kHeadRawSamples), 0);
}

void GraphPreview::Release() {
    headBytes_ = {};
    scratch_ = {};
    preview_ = {};
}

void GraphPreview::Begin(std::vector<int32_t>* graphHead) {
    graphHead_ = graphHead;
    headHave_ = 0;
    headDone_ = prePassed_ = false;
}

int64_t GraphPreview::RawSpan() const {
    if (!prePassed_) return -1;
    const int64_t span = static_cast<int64_t>(preview_.MaxSample) - preview_.MinSample;
    return span < 0 ? -span : span;
}

void GraphPreview::Collect(const uint8_t* fresh, int64_t n) {
    if (headHave_ >= kHeadRawSamples || n <= 0) return;
    const int64_t k = std::min(n, kHeadRawSamples - headHave_);
    std::memcpy(headBytes_.data() + 2 * headHave_, fresh, static_cast<size_t>(2 * k));
    headHave_ += k;
}

void GraphPreview::AfterRead(int64_t samplesRead, bool blockEnded, StageTimes* t) {
    if (headDone_) return;
    if (blockEnded) {
        WriteHead(samplesRead, false, t);
    } else if (samplesRead >= kGraphHead + BlockReader::kOverlapSamples) {
        WriteHead(int64_t{kHeadRawSamples} + BlockReader::kOverlapSamples, false, t);
    }
}

// The sample buffer's head as the block leaves it: raw samples over 1 ... N, then the
// high-pass over 0 ... N - 84.
void GraphPreview::WriteHead(int64_t n, bool snapshot, StageTimes* t) {
    const int64_t t0 = Clock(t);
    headDone_ = true;
    if (graphHead_ == nullptr || graphHead_->size() < static_cast<size_t>(kGraphHead)) return;
    std::vector<int32_t>& g = *graphHead_;
    const int64_t rawEnd = std::min<int64_t>(n, kGraphHead - 1);
    WidenSamples(headBytes_.data(), static_cast<int32_t>(rawEnd), g.data() + 1);
    if (snapshot) preview_.RawHead = g;
    const int64_t hpCount = std::min<int64_t>(n - 83, kGraphHead);
    if (hpCount > 0) {
        // hp[q] reads samples q + 2 ... q + 38, that is headBytes_ from sample q + 1 on.
        HighPassFromBytes(headBytes_.data() + 2, static_cast<int32_t>(hpCount), g.data());
    }
    if (snapshot) preview_.FilteredHead = g;
    if (t != nullptr) t->HighPassNs += Clock(t) - t0;
}

void GraphPreview::PrePass(RecordingSource& source, int64_t maxSamples, int32_t readSamples,
                           StageTimes* t) {
    const int64_t t0 = Clock(t);
    int32_t mx = 0, mn = 2147483647;
    int64_t samples = 0;
    const int64_t start = source.Tell();
    scratch_.resize(2 * static_cast<size_t>(readSamples));
    for (;;) {
        const int64_t want = std::min<int64_t>(readSamples, maxSamples - samples);
        const int64_t n = want > 0 && !source.AtEnd() ? source.Read(scratch_.data(), want) : 0;
        const uint8_t* b = scratch_.data();
        for (int64_t i = 0; i < n; ++i) {
            const int32_t v = SampleAt(b, i);
            if (v > mx) {
                mx = v;
            } else if (v < mn) {
                mn = v;
            }
        }
        Collect(b, n);
        samples += n;
        if (n < want || want == 0 || samples >= maxSamples || source.AtEnd()) break;
    }
    source.Seek(start);
    preview_.MaxSample = mx;
    preview_.MinSample = mn;
    prePassed_ = true;
    if (t != nullptr) t->ReadNs += Clock(t) - t0;
    WriteHead(samples, true, t);
    headHave_ = kHeadRawSamples;  // the main pass needs no second copy
}

}  // namespace wtk
