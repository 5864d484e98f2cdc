// The peak finder: positive peaks of the band-pass values, tracked above the threshold, put on
// hold at their first fall with a half-tick refinement toward the larger neighbour, confirmed
// once a value falls below half of them, and handed with the interval from the previous confirmed
// peak to a sink. StepValue takes one value at a time (as the graphs need); FindPeaks and
// ScanValues take a chunk of values with their threshold bits, with the same result.
//
// Times are in ticks (band-pass values, time value k of a chunk is t0 + k + 1); intervals in
// half ticks (the refinement), capped at IPI255Equivalent, and handed over as 250 ns units; times
// handed over in 500 ns units (ticks x IPIscaler, rounded half to even).
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <concepts>
#include <cstdint>

#include "base/numbers.h"
#include "detector/click_detector.h"

namespace wtk {

// One byte code for a peak amplitude (0..127 linear, then coarser bands up to 255).
uint8_t CompressedAmplitude(int32_t inputvalue);

// What takes the peaks and the minute records: the click detector and the TK1 writer, or a
// test's recording double (called directly, no virtual call per peak).
template <class S>
concept PeakSink = requires(S& sink, uint8_t code, int32_t n, bool init) {
    // A peak: its interval (250 ns units) and amplitude codes and its time in the minute (500 ns
    // units); Init: the minute ends, the detector starts afresh (codes 255 and 0, time 0).
    sink.ClickSelSM(code, code, n, init);
    // The clicks stored in the current minute, which the minute end reads and clears.
    { sink.ClicksThisMin() } -> std::same_as<int32_t&>;
    // NofMins minute records carrying the threshold uplift and the scaler x 2560 (0..255).
    sink.WriteMinuteRecs(n, code, n);
};

// A sink that also takes the peaks of a stretch in one call, as the click detector does (the
// same as a ClickSelSM call for each, in order).
template <class S>
concept PeaksInOneCallSink = PeakSink<S> && requires(S& sink, const DetectorPeak* p, int32_t n) {
    sink.ClickSelSMPeaks(p, n);
};

namespace peaks {

// A minute ends early once this many clicks have been stored in it.
inline constexpr int32_t kMaxClicksPerMin = 65536;
// Peaks FindPeaks collects before ScanValues hands them to the sink.
inline constexpr int32_t kPendingPeaks = 256;
// Readable entries that the values FindPeaks searches carry past their end (it looks at a few
// values at once).
inline constexpr int32_t kValuesPadding = 4;

// The peak state while a chunk is scanned (copied from and back to the members).
struct PeakLocals {
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
struct PassContext {
    int32_t AdjustedDeadBand;
    int32_t IPI255Equivalent;       // cap on an interval, < RescaleTo250ns.size()
    int32_t RescaledMinAnyIPI;      // intervals up to this are not handed over
    const uint8_t* RescaleTo250ns;  // half ticks -> 250 ns, saturating at 255
    double IPIscaler;               // ticks -> 500 ns
};

namespace detail {

inline constexpr int32_t kNoPeakConfirmation = -2147483647;

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
}  // namespace detail

// Hand the confirmed peak to the detector when its interval is long enough; it becomes the
// reference for the next interval either way. Returns whether the detector was called.
template <PeakSink Sink>
inline bool PassPkToSM(Sink& sink, PeakLocals& L, const PassContext& c) {
    // Times are below 2^30 half ticks, so the difference cannot overflow.
    const int32_t NewIPI = std::min(L.PkNear4MHZtime - L.LastPkNear4MHZtime, c.IPI255Equivalent);
    bool handed = false;
    if (NewIPI > c.RescaledMinAnyIPI) {
        assert(NewIPI > 0 && NewIPI <= c.IPI255Equivalent);
        const double t = RoundHalfEvenSmall(static_cast<double>(L.PkNear2MHZtime) * c.IPIscaler);
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
template <PeakSink Sink>
inline bool TestNewAmpVal(Sink& sink, PeakLocals& L, const PassContext& c, int32_t NewAmpValue,
                          int32_t time) {
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

template <PeakSink Sink>
inline bool StepValue(Sink& sink, PeakLocals& L, const PassContext& c, int32_t NewAmpValue,
                      int32_t time) {
    bool handed = false;
    if (NewAmpValue < L.PkConfirmationLevel && L.PkOnHold) [[unlikely]] {
        handed = PassPkToSM(sink, L, c);
    }
    if (NewAmpValue > c.AdjustedDeadBand) handed |= TestNewAmpVal(sink, L, c, NewAmpValue, time);
    return handed;
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
struct PendingPeak {
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
inline int32_t FindPeaks(PeakLocals& state, const PassContext& c, const int32_t* vals,
                         const uint64_t* above, int32_t i, int32_t& nEnd, int32_t t0, int32_t from,
                         int32_t entryLastAmp, PendingPeak* out, int32_t room, int32_t& found) {
    PeakLocals L = state;
    int32_t n = nEnd;
    // Local copies: the stores into out cannot change them.
    const int32_t thr = c.AdjustedDeadBand;
    const int32_t cap = c.IPI255Equivalent;
    const int32_t shortest = c.RescaledMinAnyIPI;
    PendingPeak* next = out;  // where the next kept peak goes
    PendingPeak* const last = out + room - 1;
    auto lastAmpBefore = [&](int32_t k) {
        const int32_t at = detail::LastAboveBefore(above, from, k);
        return at >= 0 ? vals[at] : entryLastAmp;
    };
    // The hand-over without the detector call: the peak is kept when its interval is long
    // enough, and becomes the reference for the next interval either way.
    auto pass = [&](int32_t k) {
        const int32_t interval = std::min(L.PkNear4MHZtime - L.LastPkNear4MHZtime, cap);
        *next = {interval, L.PkAmp, L.PkNear2MHZtime};
        next += interval > shortest ? 1 : 0;
        L.LastPkNear4MHZtime = L.PkNear4MHZtime;
        L.PkAmp = thr;
        L.PkConfirmationLevel = detail::kNoPeakConfirmation;
        L.PkOnHold = false;
        if (next > last) [[unlikely]] {
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
    found = static_cast<int32_t>(next - out);
    return i;
}

// FindPeaks over values i ... n - 1, handing the peaks it collects to the detector after each
// stretch (in one call where the sink takes them so). Ends early (n lowered to the end of its
// position) when a hand-over brings the minute's clicks to the limit: a peak adds at most one
// click, so a stretch that collects no more peaks than the clicks left before the limit can reach
// it only with its last one.
template <PeakSink Sink>
int32_t ScanValues(Sink& sink, PeakLocals& L, const PassContext& c, const int32_t* vals,
                   const uint64_t* above, int32_t i, int32_t& nEnd, int32_t t0,
                   bool& clickLimitReached) {
    const int32_t from = i;
    const int32_t entryLastAmp = L.LastAmp;
    std::array<PendingPeak, kPendingPeaks + 4> pending;  // + the rest of the last position
    std::array<DetectorPeak, kPendingPeaks + 4> handed;
    int32_t n = nEnd;
    while (i < n) {
        const int32_t room = std::clamp(kMaxClicksPerMin - sink.ClicksThisMin(), 1, kPendingPeaks);
        int32_t stop = n;
        int32_t found = 0;
        i = FindPeaks(L, c, vals, above, i, stop, t0, from, entryLastAmp, pending.data(), room,
                      found);
        for (int32_t k = 0; k < found; ++k) {
            const PendingPeak& p = pending[static_cast<size_t>(k)];
            const double t = RoundHalfEvenSmall(static_cast<double>(p.Time) * c.IPIscaler);
            const DetectorPeak peak{c.RescaleTo250ns[p.Interval],
                                    detail::CompressedAmplitudeFast(p.Amp),
                                    static_cast<int32_t>(t)};
            if constexpr (PeaksInOneCallSink<Sink>) {
                handed[static_cast<size_t>(k)] = peak;
            } else {
                sink.ClickSelSM(peak.NewTrueIPI, peak.NewAmp, peak.TimeTrue2Mhz, false);
            }
        }
        if constexpr (PeaksInOneCallSink<Sink>) {
            if (found > 0) sink.ClickSelSMPeaks(handed.data(), found);
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

}  // namespace peaks
}  // namespace wtk
