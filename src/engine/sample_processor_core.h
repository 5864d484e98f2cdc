// The per-block work of SampleProcessor as templates over the sink (see sample_processor.h).
// Included by the production code and by tests that drive the processor with doubles.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <string>

#include "base/host.h"
#include "base/main_controls.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "engine/filter_kernels.h"
#include "engine/peak_finder.h"
#include "engine/sample_processor.h"
#include "input/recording_source.h"
#include "input/wav_file_rec.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"

namespace wtk {

namespace detail {

// Size of the open file in bytes (the reading loop ends when its position reaches it).
int64_t StreamSize(std::FILE* f);

// Bits from ... from + count - 1 of src (srcWords words) into bits 0 ... count - 1 of dst; the
// rest of dst's last word cleared.
inline void CopyBits(const uint64_t* src, size_t srcWords, int32_t from, int32_t count,
                     uint64_t* dst) {
    const int32_t shift = from & 63;
    const auto w0 = static_cast<size_t>(from >> 6);
    const int32_t words = (count + 63) / 64;
    for (int32_t w = 0; w < words; ++w) {
        const size_t at = w0 + static_cast<size_t>(w);
        uint64_t v = src[at] >> shift;
        if (shift != 0 && at + 1 < srcWords) v |= src[at + 1] << (64 - shift);
        dst[w] = v;
    }
    if ((count & 63) != 0) dst[words - 1] &= (uint64_t{1} << (count & 63)) - 1;
}

}  // namespace detail

inline SampleProcessor::PeakLocals SampleProcessor::LoadPeakState() const {
    return {PkAmp,
            PrePkAmp,
            LastAmp,
            PkNear2MHZtime,
            PkNear4MHZtime,
            LastPkNear4MHZtime,
            PkConfirmationLevel,
            PkOnHold};
}

inline void SampleProcessor::StorePeakState(const PeakLocals& L) {
    PkAmp = L.PkAmp;
    PrePkAmp = L.PrePkAmp;
    LastAmp = L.LastAmp;
    PkNear2MHZtime = L.PkNear2MHZtime;
    PkNear4MHZtime = L.PkNear4MHZtime;
    LastPkNear4MHZtime = L.LastPkNear4MHZtime;
    PkConfirmationLevel = L.PkConfirmationLevel;
    PkOnHold = L.PkOnHold;
}

inline SampleProcessor::PassContext SampleProcessor::MakePassContext() const {
    // The rate tables hold max(501, IPI255Equivalent + 1) entries, so every capped interval
    // indexes them.
    assert(rate_.IPI255Equivalent >= 0 &&
           static_cast<size_t>(rate_.IPI255Equivalent) < rate_.RescaleTo250ns.size());
    return {sens_.AdjustedDeadBand, rate_.IPI255Equivalent, sens_.RescaledMinAnyIPI,
            rate_.RescaleTo250ns.data(), static_cast<double>(rate_.IPIscaler)};
}

template <PeakSink Sink>
void SampleProcessor::OfferBandPassValue(Sink& sink, int32_t NewAmpValue) {
    PeakLocals L = LoadPeakState();
    const PassContext c = MakePassContext();
    SampleTimeNear2MHz += 1;
    peaks::StepValue(sink, L, c, NewAmpValue, SampleTimeNear2MHz);
    StorePeakState(L);
    if (GraphRequired) PrepareHiResGraph(NewAmpValue);
}

// The peak logic over the band-pass values of nPos positions (4 values each, in time order,
// at vals[first ...], their threshold bits in above at the same indexes) starting at time
// SampleTimeNear2MHz. Stops after the position in which the minute's click count reaches the
// limit (clickLimitReached). Returns the positions processed; the time has advanced by 4 per
// position.
template <PeakSink Sink, bool kGraph>
int32_t SampleProcessor::ScanChunk(Sink& sink, const int32_t* vals, const uint64_t* above,
                                   int32_t first, int32_t nPos, bool& clickLimitReached) {
    PeakLocals L = LoadPeakState();
    const PassContext c = MakePassContext();
    // The time of value i is t0 + i + 1.
    const int32_t t0 = SampleTimeNear2MHz - first;
    int32_t n = first + 4 * nPos;
    int32_t i = first;
    clickLimitReached = false;
    if constexpr (kGraph) {
        // Every value goes to the graph while it collects.
        for (; i < n && GraphRequired; ++i) {
            const int32_t v = vals[i];
            if (peaks::StepValue(sink, L, c, v, t0 + i + 1) && !clickLimitReached &&
                sink.ClicksThisMin() >= kMaxClicksPerMin) {
                clickLimitReached = true;
                n = (i / 4 + 1) * 4;  // finish this position, then the minute ends
            }
            if (GraphRequired) PrepareHiResGraph(v);
        }
    }
    peaks::ScanValues(sink, L, c, vals, above, i, n, t0, clickLimitReached);
    StorePeakState(L);
    const int32_t done = (n - first) / 4;
    SampleTimeNear2MHz += 4 * done;
    return done;
}

inline void SampleProcessor::UpdateBandPass() {
    if (bandPass_ != nullptr && bandPass_->Matches(sens_.Coeff, sens_.AdjustedDeadBand)) return;
    bandPass_ =
        std::make_shared<const BandPass>(sens_.Coeff, sens_.AdjustedDeadBand, ++bandPassGen_);
    pipeline_.SetFilter(bandPass_);
}

template <PeakSink Sink>
void SampleProcessor::BandPassStage(Sink& sink, const int32_t* hp, int32_t count,
                                    const FilteredPiece* ahead) {
    if (bandPassVals_.size() < 4u * kChunkPositions + kValuesPadding) {
        bandPassVals_.assign(4u * kChunkPositions + kValuesPadding, 0);
        aboveMask_.assign(kChunkPositions / 16, 0);
    }
    if (bandPass_ == nullptr) UpdateBandPass();
    if (const bool screen = !GraphRequired && screenPays_; screen != screenAheadAsked_) {
        pipeline_.SetScreenAhead(screen);
        screenAheadAsked_ = screen;
    }
    const int64_t start = Timing != nullptr ? ThreadCpuNs() : 0;
    const uint64_t startTicks = Timing != nullptr ? TickCount() : 0;
    uint64_t filtering = 0;  // ticks spent band-passing (and screening)
    int32_t r = 0;           // positions of the stage done
    while (r < count) {
        const int64_t toMinuteEnd = rate_.PositionsToMinuteEnd(SampleTimeNear2MHz);
        int64_t n64 = std::min<int64_t>({count - r, kChunkPositions, toMinuteEnd});
        // A click count already at the limit ends the minute after one position.
        if (sink.ClicksThisMin() >= kMaxClicksPerMin) n64 = 1;
        bool minuteEnds = n64 == toMinuteEnd || sink.ClicksThisMin() >= kMaxClicksPerMin;
        const int64_t span = static_cast<int64_t>(MaxSampleThisMinute) - MinSampleThisMinute;
        const auto n = static_cast<int32_t>(n64);
        const BandPass& filter = *bandPass_;
        const bool madeAhead = ahead != nullptr && ahead->FilterGen == filter.Gen();
        bool clickLimit = false;
        if (IsQuietBlock(span < 0 ? -span : span, filter.Threshold())) {
            SampleTimeNear2MHz += 4 * n;
            r += n;
        } else if (!madeAhead && !GraphRequired && wholeChunksLeft_ == 0) {
            r += ScanWhereValuesMayRise(sink, hp, r, n, filter, ahead, clickLimit, filtering);
        } else {
            const int32_t* vals;
            const uint64_t* above;
            int32_t first;
            if (madeAhead) {
                vals = ahead->Values.data();
                above = ahead->Above.data();
                first = 4 * r;
            } else {
                // Not made ahead, or with a filter that a minute end has since replaced.
                if (wholeChunksLeft_ > 0) --wholeChunksLeft_;
                const uint64_t f0 = Timing != nullptr ? TickCount() : 0;
                BandPassValues(hp, r + 2, n, filter.Coeffs(), filter.Threshold(),
                               bandPassVals_.data(), aboveMask_.data());
                if (Timing != nullptr) filtering += TickCount() - f0;
                vals = bandPassVals_.data();
                above = aboveMask_.data();
                first = 0;
            }
            r += GraphRequired ? ScanChunk<Sink, true>(sink, vals, above, first, n, clickLimit)
                               : ScanChunk<Sink, false>(sink, vals, above, first, n, clickLimit);
        }
        if (clickLimit) minuteEnds = true;
        if (minuteEnds) {
            DoMinEndWith(sink);
            UpdateBandPass();
            if (StopRequest != nullptr && *StopRequest) {
                StoppedAtMinuteEnd = true;
                break;
            }
        }
    }
    blockPositions_ += r;
    if (Timing != nullptr) {
        const int64_t cpu = ThreadCpuNs() - start;
        const uint64_t ticks = TickCount() - startTicks;
        const auto share =
            ticks > 0 ? static_cast<double>(std::min(filtering, ticks)) / static_cast<double>(ticks)
                      : 0.0;
        const auto filteringNs = static_cast<int64_t>(static_cast<double>(cpu) * share);
        Timing->BandPassNs += filteringNs;
        Timing->PeaksNs += cpu - filteringNs;
    }
}

template <PeakSink Sink>
int32_t SampleProcessor::ScanWhereValuesMayRise(Sink& sink, const int32_t* hp, int32_t r, int32_t n,
                                                const BandPass& filter, const FilteredPiece* ahead,
                                                bool& clickLimitReached, uint64_t& filteringTicks) {
    const int32_t blocks = (n + 15) / 16;
    mayRise_.fill(0);
    if (ahead != nullptr && ahead->ScreenGen == filter.Gen() && r % 16 == 0) {
        // Screened with this filter on the other thread (a block of the piece past the chunk's
        // end, as the chunk's last block, covers more positions: none of which may rise when
        // the block may not).
        detail::CopyBits(ahead->MayRise.data(), ahead->MayRise.size(), r / 16, blocks,
                         mayRise_.data());
    } else {
        const uint64_t f0 = Timing != nullptr ? TickCount() : 0;
        BandPassBlocksMayExceed(hp, r + 2, n, filter.Coeffs(), filter.Threshold(), mayRise_.data());
        if (Timing != nullptr) filteringTicks += TickCount() - f0;
    }
    const auto mayRise = [&](int32_t b) { return ((mayRise_[b >> 6] >> (b & 63)) & 1) != 0; };
    int32_t j = 0;     // positions of the chunk done (a multiple of 16 until the last block)
    int32_t made = 0;  // positions band-passed
    while (j < n) {
        int32_t b = j / 16;
        if (!PkOnHold) {
            b = std::min(peaks::detail::NextAbove(mayRise_.data(), b, blocks), blocks);
            const int32_t to = std::min(16 * b, n);
            SampleTimeNear2MHz += 4 * (to - j);  // nothing in between can change the state
            j = to;
            if (j >= n) break;
        }
        // This block, and the blocks after it that may rise, through gaps of one block (making
        // its values costs less than another stretch).
        int32_t e = b + 1;
        while (e < blocks && (mayRise(e) || (e + 1 < blocks && mayRise(e + 1)))) ++e;
        const int32_t end = std::min(16 * e, n);
        const uint64_t f1 = Timing != nullptr ? TickCount() : 0;
        BandPassValues(hp, r + 2 + j, end - j, filter.Coeffs(), filter.Threshold(),
                       bandPassVals_.data() + 4 * j, aboveMask_.data() + j / 16);
        if (Timing != nullptr) filteringTicks += TickCount() - f1;
        made += end - j;
        j += ScanChunk<Sink, false>(sink, bandPassVals_.data(), aboveMask_.data(), 4 * j, end - j,
                                    clickLimitReached);
        if (clickLimitReached) break;
    }
    // Where more than half of a chunk was band-passed, the next chunks are band-passed whole.
    screenPays_ = 2 * made <= n;
    if (!screenPays_) wholeChunksLeft_ = 15;
    return j;
}

template <PeakSink Sink>
void SampleProcessor::DoMinEndWith(Sink& sink) {
    sink.ClickSelSM(255, 0, 0, true);
    SampleTimeNear2MHz = 0;
    LastPkNear4MHZtime = 0;
    int32_t& clicks = sink.ClicksThisMin();
    sens_.AdjustForMinute(s_, clicks);

    const std::string scaler = FormatScaler(sens_.CurrentAmpScaler);
    std::string progress = "File ";
    AppendInt(progress, static_cast<int64_t>(FileNo) + 1);
    progress += "   Min ";
    AppendInt(progress, sens_.MinsInThisTK1File);
    progress += "  Clx ";
    AppendInt(progress, clicks);
    progress += "  DB/Scaler ";
    AppendInt(progress, sens_.AdjustedDeadBand);
    progress += " / ";
    progress += scaler;
    std::string line;
    AppendInt(line, sens_.MinsInThisTK1File);
    line += '\t';
    AppendInt(line, clicks);
    line += '\t';
    AppendInt(line, sens_.AdjustedDeadBand);
    line += '\t';
    line += scaler;
    host_.SetText(Label::ProgressLbl, progress);  // the label is redrawn when set
    host_.AppendMemo(Memo::DATA2Memo, line);

    clicks = 0;
    sink.WriteMinuteRecs(1, sens_.DeadBandPlusUplift, sens_.MinuteScalerX2560);
    sens_.MinsInThisTK1File += 1;
    host_.ProcessMessages();
}

template <PeakSink Sink>
void SampleProcessor::ConvertOneWavFileWith(Sink& sink, std::FILE* WavFile, int32_t fileNo,
                                            const WavFileRec& rec,
                                            std::optional<SampleByteRange> range) {
    // Only the bytes of the range are samples: the first 100 bytes are never read, nor any
    // chunk before or after the data chunk.
    if (!range) range = SampleByteRange{kSkippedHeaderBytes, detail::StreamSize(WavFile)};
    RecordingLayout layout;
    layout.Begin = range->Begin;
    layout.End = std::max(range->End, range->Begin);
    const std::unique_ptr<RecordingSource> source =
        OpenRecordingSource(fileno(WavFile), detail::StreamSize(WavFile), layout);
    ConvertOneWavFileWith(sink, *source, fileNo, rec);
}

template <PeakSink Sink>
void SampleProcessor::ConvertOneWavFileWith(Sink& sink, RecordingSource& source, int32_t fileNo,
                                            const WavFileRec& rec) {
    FileNo = fileNo;
    if (!pipeline_.Configured() || GraphHead.size() < static_cast<size_t>(kGraphHead)) {
        AllocateBuffers(static_cast<int32_t>(HiResSamples.size()));
    }

    const int64_t perMin = rate_.SamplesPerMin;
    const int64_t NofSamplesToRead = rate_.FirstBlockSamplesAt(rec.Start.MicrosecondInMinute());
    pipeline_.SetTimed(Timing != nullptr);
    UpdateBandPass();
    // A failure in the detector or the writer leaves the block unfinished.
    struct AbandonOnThrow {
        FilterPipeline& p;
        bool done = false;
        ~AbandonOnThrow() {
            if (!done) p.Abandon();
        }
    } guard{pipeline_};
    bool FirstMinuteInFile = true;
    StoppedAtMinuteEnd = false;
    const int64_t firstPlace = source.Tell();
    do {
        GraphRequired = controls_.ShowGraphs;
        BlockRequest req;
        req.Source = &source;
        req.MaxSamples = FirstMinuteInFile ? NofSamplesToRead : perMin;
        req.Graphs = GraphRequired;
        const int64_t blockStart = source.Tell();
        blockPositions_ = 0;
        pipeline_.BeginBlock(req, &GraphHead);
        MaxSampleThisMinute = 0;
        MinSampleThisMinute = 2147483647;
        if (GraphRequired) {
            const BlockPreview& pv = pipeline_.Preview();
            MaxSampleThisMinute = pv.MaxSample;
            MinSampleThisMinute = pv.MinSample;
            host_.Graphvals(pv.RawHead, 1, 8, true);
            host_.Graphvals(pv.FilteredHead, 2, 8, false);
        }
        SampleTimeNear2MHz = FirstMinuteInFile ? rec.Start.TimeInMinuteNear2MHz : 0;
        FirstMinuteInFile = false;
        HiResGraphPtr = 0;
        LastPkNear4MHZtime = 2 * SampleTimeNear2MHz;
        PkOnHold = false;
        for (;;) {
            FilteredPiece& piece = pipeline_.NextPiece();
            if (piece.Count > 0) {
                BandPassStage(sink, piece.Hp.data(), piece.Count, &piece);
                if (StoppedAtMinuteEnd) break;
            }
            const bool end = piece.BlockEnd;
            pipeline_.DonePiece();
            if (end) break;
        }
        if (StoppedAtMinuteEnd) {
            // The samples up to the minute end, where the file ends.
            SamplesConverted = source.SamplesBefore(blockStart) - source.SamplesBefore(firstPlace) +
                               blockPositions_;
            pipeline_.Abandon();  // the rest of the block is not read
            break;
        }
        // A failed read or decoding ends the file where it failed, and one that gives nothing
        // before the end (a file cut short while it is read) ends it too instead of looping.
        if (const ReadFailure* failure = source.Failure()) {
            ReportReadFailure(rec, *failure);
            break;
        }
        if (source.Tell() == blockStart) break;
    } while (!source.AtEnd());
    if (!StoppedAtMinuteEnd) {
        SamplesConverted = source.SamplesBefore(source.Tell()) - source.SamplesBefore(firstPlace);
    }
    guard.done = true;
    if (Timing != nullptr) {
        const StageTimes t = pipeline_.ProducerTimes();
        Timing->ReadNs += t.ReadNs;
        Timing->HighPassNs += t.HighPassNs;
        Timing->BandPassNs += t.BandPassNs;
        Timing->PeaksNs += t.PeaksNs;
        pipeline_.ResetTimes();
    }
}

}  // namespace wtk
