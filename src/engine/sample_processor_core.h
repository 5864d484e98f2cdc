// The per-block work of SampleProcessor as templates over the sink (see sample_processor.h).
// Included by the production code and by tests that drive the processor with doubles.
#pragma once

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "base/host.h"
#include "base/main_controls.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "engine/filter_kernels.h"
#include "engine/sample_processor.h"
#include "input/recording_source.h"
#include "input/wav_file_rec.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"

namespace wtk {

// The peak state while a chunk is scanned (copied from and back to the members).
struct SampleProcessor::PeakLocals {
    int32_t PkAmp;
    int32_t PrePkAmp;
    int32_t LastAmp;
    int32_t PkNear2MHZtime;
    int32_t PkNear4MHZtime;
    int32_t LastPkNear4MHZtime;
    int32_t PkConfirmationLevel;
    bool PkOnHold;
};

// What the hand-off needs besides the peak state; read at the start of every chunk, so that a
// minute end (which may change the threshold) starts a new one.
struct SampleProcessor::PassContext {
    int32_t AdjustedDeadBand;
    int32_t IPI255Equivalent;       // cap on an interval, < RescaleTo250ns.size()
    int32_t RescaledMinAnyIPI;      // intervals up to this are not handed over
    const uint8_t* RescaleTo250ns;  // half ticks -> 250 ns, saturating at 255
    double IPIscaler;               // ticks -> 500 ns
};

namespace detail {

inline constexpr int32_t kNoPeakConfirmation = -2147483647;

// Round to nearest, ties to even, for |x| <= 2^51 (times and the like).
inline double RoundNearestEvenSmall(double x) {
    constexpr double kMagic = 6755399441055744.0;
    return (x + kMagic) - kMagic;
}

inline void AppendInt(std::string& out, int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// CompressedAmplitude, from a table below 2048.
inline constexpr auto kCompressedAmplitudes = [] {
    std::array<uint8_t, 2048> t{};
    for (int32_t v = 0; v < 2048; ++v) {
        t[static_cast<size_t>(v)] = static_cast<uint8_t>(v < 128    ? v
                                                         : v < 256  ? 128 + (v - 128) / 4
                                                         : v < 512  ? 192 + (v - 256) / 8
                                                         : v < 1024 ? 224 + (v - 512) / 32
                                                                    : 248 + (v - 1024) / 128);
    }
    return t;
}();
inline uint8_t CompressedAmplitudeFast(int32_t v) {
    if (static_cast<uint32_t>(v) < 2048u) return kCompressedAmplitudes[static_cast<size_t>(v)];
    return CompressedAmplitude(v);
}

// Size of the open file in bytes (the reading loop ends when its position reaches it).
int64_t StreamSize(std::FILE* f);
// Tells the kernel that the file is read from offset on to its end, once.

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

// Hand the confirmed peak to the detector when its interval is long enough; it becomes the
// reference for the next interval either way. Returns whether the detector was called.
template <class Sink>
inline bool SampleProcessor::PassPkToSM(Sink& sink, PeakLocals& L, const PassContext& c) {
    // Times are below 2^30 half ticks, so the difference cannot overflow.
    const int32_t NewIPI = std::min(L.PkNear4MHZtime - L.LastPkNear4MHZtime, c.IPI255Equivalent);
    bool handed = false;
    if (NewIPI > c.RescaledMinAnyIPI) {
        assert(NewIPI > 0 && NewIPI <= c.IPI255Equivalent);
        const double t =
            detail::RoundNearestEvenSmall(static_cast<double>(L.PkNear2MHZtime) * c.IPIscaler);
        sink.ClickSelSM(c.RescaleTo250ns[NewIPI], detail::CompressedAmplitudeFast(L.PkAmp),
                        static_cast<int32_t>(t), false);
        handed = true;
    }
    L.LastPkNear4MHZtime = L.PkNear4MHZtime;
    L.PkAmp = c.AdjustedDeadBand;
    L.PkConfirmationLevel = detail::kNoPeakConfirmation;
    L.PkOnHold = false;
    return handed;
}

// A value above the threshold: raise the tracked peak, or put it on hold at the first fall
// with the half-tick refinement toward the larger neighbour.
template <class Sink>
inline bool SampleProcessor::TestNewAmpVal(Sink& sink, PeakLocals& L, const PassContext& c,
                                           int32_t NewAmpValue, int32_t time) {
    bool handed = false;
    if (NewAmpValue < L.PkAmp && !L.PkOnHold) [[unlikely]] {
        L.PkOnHold = true;
        L.PkNear4MHZtime = 2 * L.PkNear2MHZtime;
        const int64_t diff = static_cast<int64_t>(NewAmpValue) - L.PrePkAmp;
        if ((diff < 0 ? -diff : diff) > L.PkAmp / 64) {
            L.PkNear4MHZtime += (L.PrePkAmp > NewAmpValue) ? -1 : 1;
        }
        if (NewAmpValue < L.PkConfirmationLevel) handed = PassPkToSM(sink, L, c);
    } else {
        // A rise raises the tracked peak; an equal value, or a lower one while the peak is
        // held, changes nothing. Written as selects: rises are frequent and irregular in noise.
        const bool rise = NewAmpValue > L.PkAmp;
        L.PrePkAmp = rise ? L.LastAmp : L.PrePkAmp;
        L.PkAmp = rise ? NewAmpValue : L.PkAmp;
        L.PkNear2MHZtime = rise ? time : L.PkNear2MHZtime;
        L.PkConfirmationLevel = rise ? NewAmpValue / 2 : L.PkConfirmationLevel;
        L.PkOnHold = L.PkOnHold && !rise;
    }
    L.LastAmp = NewAmpValue;
    return handed;
}

template <class Sink>
inline bool SampleProcessor::StepValue(Sink& sink, PeakLocals& L, const PassContext& c,
                                       int32_t NewAmpValue, int32_t time) {
    bool handed = false;
    if (NewAmpValue < L.PkConfirmationLevel && L.PkOnHold) [[unlikely]] {
        handed = PassPkToSM(sink, L, c);
    }
    if (NewAmpValue > c.AdjustedDeadBand) handed |= TestNewAmpVal(sink, L, c, NewAmpValue, time);
    return handed;
}

template <class Sink>
void SampleProcessor::OfferBandPassValue(Sink& sink, int32_t NewAmpValue) {
    PeakLocals L = LoadPeakState();
    const PassContext c = MakePassContext();
    SampleTimeNear2MHz += 1;
    StepValue(sink, L, c, NewAmpValue, SampleTimeNear2MHz);
    StorePeakState(L);
    if (GraphRequired) PrepareHiResGraph(NewAmpValue);
}

namespace detail {
// Index of the first set bit at or after i in mask, or a value >= n.
inline int32_t NextAbove(const uint64_t* mask, int32_t i, int32_t n) {
    int32_t w = i >> 6;
    uint64_t bits = mask[w] & (~uint64_t{0} << (i & 63));
    while (bits == 0) {
        if (++w * 64 >= n) return n;
        bits = mask[w];
    }
    return w * 64 + std::countr_zero(bits);
}
}  // namespace detail

namespace detail {
// Index of the last set bit in mask before i and at or after from, or -1.
inline int32_t LastAboveBefore(const uint64_t* mask, int32_t from, int32_t i) {
    if (i <= from) return -1;
    const int32_t j = i - 1;
    int32_t w = j >> 6;
    uint64_t bits = mask[w] & (~uint64_t{0} >> (63 - (j & 63)));
    while (bits == 0) {
        if (w * 64 <= from) return -1;
        bits = mask[--w];
    }
    const int32_t k = w * 64 + 63 - std::countl_zero(bits);
    return k >= from ? k : -1;
}
}  // namespace detail

namespace detail {

// Searches over a few values at once (the values arrays carry kValuesPadding readable entries
// past their end, so that a search may read past the last value it considers).
#if defined(__SSE2__)
inline uint32_t OutsideBits(const int32_t* v, __m128i lo, __m128i hi) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
    const __m128i out = _mm_or_si128(_mm_cmplt_epi32(x, lo), _mm_cmpgt_epi32(x, hi));
    return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(out)));
}
#endif

// The first k in [i, n) with v[k] < lo or v[k] > hi, or n.
inline int32_t FirstOutside(const int32_t* v, int32_t i, int32_t n, int32_t lo, int32_t hi) {
#if defined(__SSE2__)
    const __m128i l = _mm_set1_epi32(lo), h = _mm_set1_epi32(hi);
    for (; i < n; i += 4) {
        const uint32_t bits = OutsideBits(v + i, l, h);
        if (bits != 0) return std::min(i + std::countr_zero(bits), n);
    }
    return n;
#else
    while (i < n && v[i] >= lo && v[i] <= hi) ++i;
    return i;
#endif
}

// A stretch of values that never fall and stay above thr, from a rise at k: end is the first
// index after k that falls below its predecessor or lies at or below thr (or n), top the last
// index before end that rose above its predecessor (or k). Reads v[k].
struct RiseStretch {
    int32_t end;
    int32_t top;
};
inline RiseStretch RiseEnd(const int32_t* v, int32_t k, int32_t n, int32_t thr) {
    int32_t top = k;
    int32_t i = k + 1;
#if defined(__SSE2__)
    const __m128i t = _mm_set1_epi32(thr);
    for (; i < n; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i - 1));
        const __m128i above = _mm_cmpgt_epi32(x, t);
        const auto bits = [](__m128i m) {
            return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(m)));
        };
        const uint32_t falls = bits(_mm_cmpgt_epi32(prev, x));
        const uint32_t rises = bits(_mm_and_si128(_mm_cmpgt_epi32(x, prev), above));
        const uint32_t inRange = n - i >= 4 ? 15u : (1u << (n - i)) - 1;
        const uint32_t stop = (falls | ~bits(above)) & inRange;
        const uint32_t before = stop != 0 ? (1u << std::countr_zero(stop)) - 1 : inRange;
        if ((rises & before) != 0) top = i + 31 - std::countl_zero(rises & before);
        if (stop != 0) return {i + std::countr_zero(stop), top};
    }
    return {n, top};
#else
    for (; i < n && v[i] >= v[i - 1] && v[i] > thr; ++i) {
        if (v[i] > v[i - 1]) top = i;
    }
    return {i, top};
#endif
}

}  // namespace detail

// A confirmed peak with an interval long enough to be handed to the detector.
struct SampleProcessor::PendingPeak {
    int32_t Interval;  // half ticks since the previous confirmed peak, capped
    int32_t Amp;
    int32_t Time;  // PkNear2MHZtime
};

// The peak logic over values i ... n - 1 (time of value k: t0 + k + 1) when no graph collects
// them, written around what changes state, with the same result as StepValue on every value:
// - not on hold, only values above the threshold count (their bits in above): a rise and the
//   rises right after it, or a fall, which puts the peak on hold (an equal value changes
//   nothing);
// - on hold, values from the confirmation level up to the larger of the peak and the threshold
//   change nothing; a value below the level hands the peak over (and starts the next one when
//   it lies above the threshold), one above both is a rise.
// LastAmp, the last value above the threshold, is only read by a rise: it is taken from the
// threshold bits when needed. The peaks confirmed are collected in out (no detector call
// here, so the state stays in registers); once room of them are collected the scan ends with
// the position of the last one (n lowered to its end). Returns where it stopped.
inline int32_t SampleProcessor::FindPeaks(PeakLocals& state, const PassContext& c,
                                          const int32_t* vals, const uint64_t* above, int32_t i,
                                          int32_t& nEnd, int32_t t0, int32_t from,
                                          int32_t entryLastAmp, PendingPeak* out, int32_t room,
                                          int32_t& found) {
    PeakLocals L = state;
    int32_t n = nEnd;
    int32_t np = 0;
    const int32_t thr = c.AdjustedDeadBand;
    auto lastAmpBefore = [&](int32_t k) {
        const int32_t at = detail::LastAboveBefore(above, from, k);
        return at >= 0 ? vals[at] : entryLastAmp;
    };
    // The hand-over without the detector call: the peak is kept when its interval is long
    // enough, and becomes the reference for the next interval either way.
    auto pass = [&](int32_t k) {
        const int32_t interval =
            std::min(L.PkNear4MHZtime - L.LastPkNear4MHZtime, c.IPI255Equivalent);
        out[np] = {interval, L.PkAmp, L.PkNear2MHZtime};
        np += interval > c.RescaledMinAnyIPI ? 1 : 0;
        L.LastPkNear4MHZtime = L.PkNear4MHZtime;
        L.PkAmp = thr;
        L.PkConfirmationLevel = detail::kNoPeakConfirmation;
        L.PkOnHold = false;
        if (np >= room) [[unlikely]] {
            n = std::min(n, (k / 4 + 1) * 4);  // the rest of this position, then stop
        }
    };
    // A fall above the threshold while no peak is held.
    auto holdStart = [&](int32_t v, int32_t k) {
        L.PkOnHold = true;
        const int64_t diff = static_cast<int64_t>(v) - L.PrePkAmp;
        const int32_t toward = L.PrePkAmp > v ? -1 : 1;
        L.PkNear4MHZtime =
            2 * L.PkNear2MHZtime + ((diff < 0 ? -diff : diff) > L.PkAmp / 64 ? toward : 0);
        if (v < L.PkConfirmationLevel) pass(k);
    };
    while (i < n) {
        int32_t k;
        int32_t v;
        if (L.PkOnHold) {
            k = detail::FirstOutside(vals, i, n, L.PkConfirmationLevel, std::max(L.PkAmp, thr));
            if (k >= n) {
                i = n;
                break;
            }
            v = vals[k];
            if (v < L.PkConfirmationLevel) {
                pass(k);
                if (v <= thr) {
                    i = k + 1;
                    continue;
                }
            }
            // A rise above the held peak, or above the threshold after the hand-over.
        } else {
            k = detail::NextAbove(above, i, n);
            if (k >= n) {
                i = n;
                break;
            }
            v = vals[k];
            if (v <= L.PkAmp) {
                if (v < L.PkAmp) holdStart(v, k);
                i = k + 1;
                continue;
            }
        }
        // A rise at k, and the rises after it while no value falls or leaves the threshold
        // (a value equal to the peak changes nothing).
        const auto [end, top] = detail::RiseEnd(vals, k, n, thr);
        L.PrePkAmp = top > k ? vals[top - 1] : lastAmpBefore(k);
        L.PkAmp = vals[top];
        L.PkNear2MHZtime = t0 + top + 1;
        L.PkConfirmationLevel = L.PkAmp / 2;
        L.PkOnHold = false;
        i = end;
        // Most often the next value falls, above the threshold.
        if (i < n && vals[i] > thr && vals[i] < L.PkAmp) {
            holdStart(vals[i], i);
            ++i;
        }
    }
    state = L;
    nEnd = n;
    found = np;
    return i;
}

// FindPeaks over values i ... n - 1, handing the peaks it collects to the detector after each
// stretch. Ends early (n lowered to the end of its position) when a hand-over brings the
// minute's clicks to the limit: a peak adds at most one click, so a stretch that collects no
// more peaks than the clicks left before the limit can reach it only with its last one.
template <class Sink>
int32_t SampleProcessor::ScanValues(Sink& sink, PeakLocals& L, const PassContext& c,
                                    const int32_t* vals, const uint64_t* above, int32_t i,
                                    int32_t& nEnd, int32_t t0, bool& clickLimitReached) {
    const int32_t from = i;
    const int32_t entryLastAmp = L.LastAmp;
    std::array<PendingPeak, kPendingPeaks + 4> pending;  // + the rest of the last position
    int32_t n = nEnd;
    while (i < n) {
        const int32_t room = std::clamp(kMaxClicksPerMin - sink.ClicksThisMin(), 1, kPendingPeaks);
        int32_t stop = n;
        int32_t found = 0;
        i = FindPeaks(L, c, vals, above, i, stop, t0, from, entryLastAmp, pending.data(), room,
                      found);
        for (int32_t k = 0; k < found; ++k) {
            const PendingPeak& p = pending[static_cast<size_t>(k)];
            const double t =
                detail::RoundNearestEvenSmall(static_cast<double>(p.Time) * c.IPIscaler);
            sink.ClickSelSM(c.RescaleTo250ns[p.Interval], detail::CompressedAmplitudeFast(p.Amp),
                            static_cast<int32_t>(t), false);
        }
        if (!clickLimitReached && found > 0 && sink.ClicksThisMin() >= kMaxClicksPerMin) {
            clickLimitReached = true;
            n = stop;  // finish this position, then the minute ends
        }
    }
    const int32_t lastAt = detail::LastAboveBefore(above, from, n);
    L.LastAmp = lastAt >= 0 ? vals[lastAt] : entryLastAmp;
    nEnd = n;
    return i;
}

// The peak logic over the band-pass values of nPos positions (4 values each, in time order,
// at vals[first ...], their threshold bits in above at the same indexes) starting at time
// SampleTimeNear2MHz. Stops after the position in which the minute's click count reaches the
// limit (clickLimitReached). Returns the positions processed; the time has advanced by 4 per
// position.
template <class Sink, bool kGraph>
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
            if (StepValue(sink, L, c, v, t0 + i + 1) && !clickLimitReached &&
                sink.ClicksThisMin() >= kMaxClicksPerMin) {
                clickLimitReached = true;
                n = (i / 4 + 1) * 4;  // finish this position, then the minute ends
            }
            if (GraphRequired) PrepareHiResGraph(v);
        }
    }
    ScanValues(sink, L, c, vals, above, i, n, t0, clickLimitReached);
    StorePeakState(L);
    const int32_t done = (n - first) / 4;
    SampleTimeNear2MHz += 4 * done;
    return done;
}

inline void SampleProcessor::RefreshFilter() {
    if (filterGen_ != 0 && sens_.Coeff == filterCoeff_ &&
        sens_.AdjustedDeadBand == filterThreshold_) {
        return;
    }
    filterCoeff_ = sens_.Coeff;
    filterThreshold_ = sens_.AdjustedDeadBand;
    ++filterGen_;
    pipeline_.SetFilter(MakeBandPassCoeffs(filterCoeff_), filterThreshold_, filterGen_);
}

template <class Sink>
void SampleProcessor::BandPassStage(Sink& sink, const int32_t* hp, int32_t pFirst, int32_t count,
                                    const FilteredPiece* ahead) {
    if (bandPassVals_.size() < 4u * kChunkPositions + kValuesPadding) {
        bandPassVals_.assign(4u * kChunkPositions + kValuesPadding, 0);
        aboveMask_.assign(kChunkPositions / 16, 0);
    }
    const int64_t start = Timing != nullptr ? ThreadCpuNs() : 0;
    int64_t filtering = 0;
    int32_t r = 0;  // positions of the stage done
    while (r < count) {
        // Positions until the tick count passes the minute's end (after each position the time
        // has grown by 4).
        const int64_t perMin = rate_.SampleTimeNear2MHzPerMin;
        const int64_t t0 = SampleTimeNear2MHz;
        const int64_t toMinuteEnd = t0 <= perMin ? (perMin - t0) / 4 + 1 : 1;
        int64_t n64 = std::min<int64_t>({count - r, kChunkPositions, toMinuteEnd});
        // A click count already at the limit ends the minute after one position.
        if (sink.ClicksThisMin() >= kMaxClicksPerMin) n64 = 1;
        bool minuteEnds = n64 == toMinuteEnd || sink.ClicksThisMin() >= kMaxClicksPerMin;
        const int64_t span = static_cast<int64_t>(MaxSampleThisMinute) - MinSampleThisMinute;
        const auto n = static_cast<int32_t>(n64);
        if ((span < 0 ? -span : span) <= 4 * static_cast<int64_t>(sens_.AdjustedDeadBand)) {
            // A quiet block (only detectable while graphs are on): no values, time runs on.
            SampleTimeNear2MHz += 4 * n;
            r += n;
        } else {
            const int32_t* vals;
            const uint64_t* above;
            int32_t first;
            if (ahead != nullptr && ahead->FilterGen == filterGen_ && filterGen_ != 0) {
                vals = ahead->Values.data();
                above = ahead->Above.data();
                first = 4 * r;
            } else {
                // Not made ahead, or at a gain or threshold that a minute end has changed.
                const int64_t f0 = Timing != nullptr ? ThreadCpuNs() : 0;
                BandPassValues(hp, r + 2, n, MakeBandPassCoeffs(sens_.Coeff),
                               sens_.AdjustedDeadBand, bandPassVals_.data(), aboveMask_.data());
                if (Timing != nullptr) filtering += ThreadCpuNs() - f0;
                vals = bandPassVals_.data();
                above = aboveMask_.data();
                first = 0;
            }
            bool clickLimit = false;
            const int32_t done =
                GraphRequired ? ScanChunk<Sink, true>(sink, vals, above, first, n, clickLimit)
                              : ScanChunk<Sink, false>(sink, vals, above, first, n, clickLimit);
            r += done;
            if (clickLimit) minuteEnds = true;
        }
        if (minuteEnds) {
            DoMinEndWith(sink);
            RefreshFilter();
            if (StopRequest != nullptr && *StopRequest) {
                StoppedAtMinuteEnd = true;
                break;
            }
        }
    }
    (void)pFirst;
    if (Timing != nullptr) {
        Timing->BandPassNs += filtering;
        Timing->PeaksNs += ThreadCpuNs() - start - filtering;
    }
}

template <class Sink>
void SampleProcessor::DoMinEndWith(Sink& sink) {
    sink.ClickSelSM(255, 0, 0, true);
    SampleTimeNear2MHz = 0;
    LastPkNear4MHZtime = 0;
    int32_t& clicks = sink.ClicksThisMin();
    sens_.AdjustForMinute(s_, clicks);

    const std::string scaler = FormatScaler(sens_.CurrentAmpScaler);
    std::string progress = "File ";
    detail::AppendInt(progress, static_cast<int64_t>(FileNo) + 1);
    progress += "   Min ";
    detail::AppendInt(progress, sens_.MinsInThisTK1File);
    progress += "  Clx ";
    detail::AppendInt(progress, clicks);
    progress += "  DB/Scaler ";
    detail::AppendInt(progress, sens_.AdjustedDeadBand);
    progress += " / ";
    progress += scaler;
    std::string line;
    detail::AppendInt(line, sens_.MinsInThisTK1File);
    line += '\t';
    detail::AppendInt(line, clicks);
    line += '\t';
    detail::AppendInt(line, sens_.AdjustedDeadBand);
    line += '\t';
    line += scaler;
    host_.SetText(Label::ProgressLbl, progress);  // the label is redrawn when set
    host_.AppendMemo(Memo::DATA2Memo, line);

    clicks = 0;
    sink.WriteMinuteRecs(1, sens_.DeadBandPlusUplift, sens_.MinuteScalerX2560);
    sens_.MinsInThisTK1File += 1;
    host_.ProcessMessages();
}

template <class Sink>
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

template <class Sink>
void SampleProcessor::ConvertOneWavFileWith(Sink& sink, RecordingSource& source, int32_t fileNo,
                                            const WavFileRec& rec) {
    FileNo = fileNo;
    if (!pipeline_.Configured() || GraphHead.size() < static_cast<size_t>(kGraphHead)) {
        AllocateBuffers(static_cast<int32_t>(HiResSamples.size()));
    }

    const int64_t perMin = rate_.SamplesPerMin;
    int64_t NofSamplesToRead = (60 - static_cast<int64_t>(rec.Start.Second)) * perMin / 60;
    if (NofSamplesToRead <= 0) NofSamplesToRead = perMin / 120;
    NofSamplesToRead = std::min(NofSamplesToRead, perMin);
    pipeline_.SetTimed(Timing != nullptr);
    RefreshFilter();
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
    do {
        GraphRequired = controls_.ShowGraphs;
        BlockRequest req;
        req.Source = &source;
        req.MaxSamples = FirstMinuteInFile ? NofSamplesToRead : perMin;
        req.Graphs = GraphRequired;
        const int64_t blockStart = source.Tell();
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
                RefreshFilter();
                BandPassStage(sink, piece.Hp.data(), piece.PFirst, piece.Count, &piece);
                if (StoppedAtMinuteEnd) break;
            }
            const bool end = piece.BlockEnd;
            pipeline_.DonePiece();
            if (end) break;
        }
        if (StoppedAtMinuteEnd) {
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
