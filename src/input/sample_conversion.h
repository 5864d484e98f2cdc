// Samples of other formats as the samples a 16-bit recorder of the same full scale would have
// written: integers keep their top 16 bits (an arithmetic shift; fewer bits are shifted up),
// floats are multiplied by 32768, rounded half to even and clipped to -32768 ... 32767 (NaN
// becomes 0), 8-bit unsigned samples become (x - 128) x 256. Frames are little-endian, as WAV
// files hold them; the results are written as 16-bit little-endian samples.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "input/little_endian.h"
#include "input/recording_layout.h"

namespace wtk {

inline int16_t FloatTo16(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v * 32768.0);
    if (r >= 32767.0) return 32767;
    if (r <= -32768.0) return -32768;
    return static_cast<int16_t>(r);
}

// A value of `bits` significant bits (4 ... 32) as a 16-bit sample.
inline int16_t IntTo16(int32_t v, int bits) {
    if (bits >= 16) return static_cast<int16_t>(v >> (bits - 16));
    return static_cast<int16_t>(static_cast<uint32_t>(v) << (16 - bits));
}

inline void PutSample16(uint8_t* out, int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    out[0] = static_cast<uint8_t>(u);
    out[1] = static_cast<uint8_t>(u >> 8);
}

// n values of `bits` significant bits as 16-bit samples: IntTo16 of each, eight at a time where
// the processor can.
inline void IntsTo16(const int32_t* in, int64_t n, int bits, uint8_t* out) {
    int64_t i = 0;
#if defined(__SSE2__)
    // The shifted value's low 16 bits, sign-extended, so that the saturating pack keeps them
    // as they stand (as the cast to int16_t does).
    const __m128i right = _mm_cvtsi32_si128(bits >= 16 ? bits - 16 : 0);
    const __m128i left = _mm_cvtsi32_si128(bits >= 16 ? 16 : 32 - bits);
    const __m128i down = _mm_cvtsi32_si128(16);
    const auto to16 = [&](__m128i v) {
        return _mm_sra_epi32(_mm_sll_epi32(_mm_sra_epi32(v, right), left), down);
    };
    for (; i + 8 <= n; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                         _mm_packs_epi32(to16(a), to16(b)));
    }
#endif
    for (; i < n; ++i) PutSample16(out + 2 * i, IntTo16(in[i], bits));
}

namespace detail {
// The two bytes at top, top + step, top + 2 step ... of n samples, as n 16-bit samples. Where
// the step is known here (the frames of common formats), the compiler unrolls the copy into
// plain moves at fixed offsets.
template <size_t kStep>
inline void TakeTwoBytes(const uint8_t* top, int64_t n, size_t step, uint8_t* out) {
    const size_t by = kStep != 0 ? kStep : step;
#pragma GCC unroll 8
    for (int64_t i = 0; i < n; ++i) std::memcpy(out + 2 * i, top + by * static_cast<size_t>(i), 2);
}

// Single-precision samples step bytes apart (one channel of a run of frames), eight at a time
// where the processor can: FloatTo16 of each. Scaling by 32768 is exact in float (or overflows
// to an infinity, which is clipped as the double it replaces would be), and clipping to the two
// ends before rounding gives what rounding and then clipping gives, since the ends are whole
// numbers; a NaN is masked to 0 first. The conversion rounds as nearbyint does, in the
// processor's rounding mode (half to even).
inline void FloatsTo16(const uint8_t* p, int64_t n, size_t step, uint8_t* out) {
    const auto at = [&](int64_t i) {
        return std::bit_cast<float>(Le32(p + step * static_cast<size_t>(i)));
    };
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 lo = _mm_set1_ps(-32768.0f);
    const __m128 hi = _mm_set1_ps(32767.0f);
    const auto to32 = [&](int64_t k) {
        __m128 v = step == 4 ? _mm_loadu_ps(reinterpret_cast<const float*>(p + 4 * k))
                             : _mm_setr_ps(at(k), at(k + 1), at(k + 2), at(k + 3));
        v = _mm_and_ps(v, _mm_cmpord_ps(v, v));  // NaN: 0
        v = _mm_min_ps(_mm_max_ps(_mm_mul_ps(v, scale), lo), hi);
        return _mm_cvtps_epi32(v);
    };
    for (; i + 8 <= n; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                         _mm_packs_epi32(to32(i), to32(i + 4)));
    }
#endif
    for (; i < n; ++i) PutSample16(out + 2 * i, FloatTo16(at(i)));
}
}  // namespace detail

// Channel `channel` of n frames of format f (frame after frame, Channels x Bytes bytes each) as
// n 16-bit samples.
inline void ConvertFrames(const uint8_t* frames, int64_t n, const SampleFormat& f, int channel,
                          uint8_t* out) {
    const size_t step = static_cast<size_t>(f.Channels) * f.Bytes;
    const uint8_t* p = frames + static_cast<size_t>(channel) * f.Bytes;
    switch (f.Coding) {
        case SampleCoding::UnsignedInt8:
            for (int64_t i = 0; i < n; ++i, p += step, out += 2) {
                out[0] = 0;
                out[1] = static_cast<uint8_t>(p[0] ^ 0x80);
            }
            return;
        case SampleCoding::Int: {
            // The top two bytes of each sample.
            const uint8_t* top = p + f.Bytes - 2;
            switch (step) {
                case 3:  // 24-bit, one channel
                    return detail::TakeTwoBytes<3>(top, n, step, out);
                case 4:  // 32-bit, one channel; 16-bit, two
                    return detail::TakeTwoBytes<4>(top, n, step, out);
                case 6:  // 24-bit, two channels
                    return detail::TakeTwoBytes<6>(top, n, step, out);
                case 8:  // 32-bit, two channels; 16-bit, four
                    return detail::TakeTwoBytes<8>(top, n, step, out);
                default:
                    return detail::TakeTwoBytes<0>(top, n, step, out);
            }
        }
        case SampleCoding::Float:
            if (f.Bytes == 4) return detail::FloatsTo16(p, n, step, out);
            for (int64_t i = 0; i < n; ++i, p += step, out += 2) {
                const uint64_t low = Le32(p);
                PutSample16(out,
                            FloatTo16(std::bit_cast<double>(low | uint64_t{Le32(p + 4)} << 32)));
            }
            return;
    }
}

}  // namespace wtk
