#include "engine/filter_kernels.h"

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "base/numbers.h"

// Every sum must be formed in double precision itself: with a wider evaluation format (the x87
// unit of 32-bit x86) the rounded values would depend on where the compiler spills registers.
static_assert(FLT_EVAL_METHOD == 0, "the filters need double arithmetic without excess precision");

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define WTK_HAVE_X86_KERNELS 1
#include <immintrin.h>
#endif

// The wide variants convert with the processor's current rounding mode, which (like the
// portable variant's rounding) is round to nearest, ties to even unless a program changes it.

namespace wtk {

namespace {

// Clamping before rounding gives the same integer as rounding and then saturating.
inline int32_t SaturatingRound(double x) {
    x = std::min(std::max(x, -2147483648.0), 2147483647.0);
    return static_cast<int32_t>(RoundHalfEvenSmall(x));
}

inline int32_t SampleAt(const uint8_t* b, int32_t j) {
    return static_cast<int16_t>(b[2 * j] | (b[2 * j + 1] << 8));
}

// The high-pass sum at centre c of the samples in b.
inline double HighPassSum(const uint8_t* b, int32_t c) {
    double acc = kHighPassTaps[0] * static_cast<double>(SampleAt(b, c));
    for (size_t t = 1; t < kHighPassTaps.size(); ++t) {
        const int32_t d = kHighPassOffsets[t];
        acc += kHighPassTaps[t] * static_cast<double>(SampleAt(b, c - d) + SampleAt(b, c + d));
    }
    return acc;
}

void WidenPortableRange(const uint8_t* b, int32_t i, int32_t n, int32_t* out) {
    for (; i < n; ++i) out[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
}

// Outputs i ... count - 1 of the high-pass, one at a time.
void HighPassPortableRange(const uint8_t* b, int32_t i, int32_t count, int32_t* out) {
    for (; i < count; ++i)
        out[i] = static_cast<int32_t>(RoundHalfEvenSmall(HighPassSum(b, i + 18)));
}

void BandPassPortableRange(const int32_t* s, int32_t pFirst, int32_t from, int32_t count,
                           const BandPassCoeffs& c, int32_t threshold, int32_t* out,
                           uint64_t* mask) {
    // Mask bits are gathered per word, so that no value waits for the previous one's store.
    int32_t word = (4 * from) >> 6;
    uint64_t bits = 0;
    for (int32_t i = from; i < count; ++i) {
        const int32_t* x = s + pFirst + i - 2;
        const double x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4];
        if ((4 * i) >> 6 != word) {
            mask[word] |= bits;
            word = (4 * i) >> 6;
            bits = 0;
        }
        for (int k = 0; k < 4; ++k) {
            const auto& ck = c.c[k];
            const double sum = ck[0] * x0 + ck[1] * x1 + ck[2] * x2 + ck[3] * x3 + ck[4] * x4;
            const int32_t v = SaturatingRound(sum);
            const int32_t at = 4 * i + k;
            out[at] = v;
            bits |= static_cast<uint64_t>(v > threshold) << (at & 63);
        }
    }
    if (from < count) mask[word] |= bits;
}

void ClearMask(uint64_t* mask, int32_t count) {
    std::memset(mask, 0, sizeof(uint64_t) * ((4 * static_cast<size_t>(count) + 63) / 64));
}

void WidenPortable(const uint8_t* b, int32_t n, int32_t* out) {
    WidenPortableRange(b, 0, n, out);
}

void HighPassPortable(const uint8_t* b, int32_t count, int32_t* out) {
    HighPassPortableRange(b, 0, count, out);
}

void BandPassPortable(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                      int32_t threshold, int32_t* out, uint64_t* mask) {
    ClearMask(mask, count);
    BandPassPortableRange(s, pFirst, 0, count, c, threshold, out, mask);
}

#ifdef WTK_HAVE_X86_KERNELS

// ---- AVX2: four outputs or positions per step ----

#define WTK_AVX2 __attribute__((target("avx2")))

WTK_AVX2 inline __m256d LoadAsDouble4(const int32_t* p) {
    return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

WTK_AVX2 void WidenAvx2(const uint8_t* b, int32_t n, int32_t* out) {
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepi16_epi32(v));
    }
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    WidenPortableRange(b, i, n, out);
}

// Eight 16-bit samples at b[2 j ...] as 32-bit integers.
WTK_AVX2 inline __m256i Load8Samples(const uint8_t* b, int32_t j) {
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * j)));
}

WTK_AVX2 void HighPassAvx2(const uint8_t* b, int32_t count, int32_t* out) {
    int32_t i = 0;
    __m256d h[11];
    for (int t = 0; t < 11; ++t) h[t] = _mm256_set1_pd(kHighPassTaps[t]);
    for (; i + 8 <= count; i += 8) {
        const int32_t c = i + 18;
        const __m256i centre = Load8Samples(b, c);
        __m256d acc0 = _mm256_mul_pd(h[0], _mm256_cvtepi32_pd(_mm256_castsi256_si128(centre)));
        __m256d acc1 = _mm256_mul_pd(h[0], _mm256_cvtepi32_pd(_mm256_extracti128_si256(centre, 1)));
#pragma GCC unroll 16
        for (int t = 1; t < 11; ++t) {
            const int32_t d = kHighPassOffsets[t];
            const __m256i pair = _mm256_add_epi32(Load8Samples(b, c - d), Load8Samples(b, c + d));
            acc0 = _mm256_add_pd(
                acc0, _mm256_mul_pd(h[t], _mm256_cvtepi32_pd(_mm256_castsi256_si128(pair))));
            acc1 = _mm256_add_pd(
                acc1, _mm256_mul_pd(h[t], _mm256_cvtepi32_pd(_mm256_extracti128_si256(pair, 1))));
        }
        const __m256i r = _mm256_set_m128i(_mm256_cvtpd_epi32(acc1), _mm256_cvtpd_epi32(acc0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), r);
    }
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    HighPassPortableRange(b, i, count, out);
}

template <bool kClamp>
WTK_AVX2 void BandPassAvx2T(const int32_t* s, int32_t pFirst, int32_t count,
                            const BandPassCoeffs& c, int32_t threshold, int32_t* out,
                            uint64_t* mask) {
    ClearMask(mask, count);
    __m256d ck[4][5];
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 5; ++j) ck[k][j] = _mm256_set1_pd(c.c[k][j]);
    const __m256d lo = _mm256_set1_pd(-2147483648.0);
    const __m256d hi = _mm256_set1_pd(2147483647.0);
    const __m256i th = _mm256_set1_epi32(threshold);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const int32_t* x = s + pFirst + i - 2;
        const __m256d x0 = LoadAsDouble4(x), x1 = LoadAsDouble4(x + 1), x2 = LoadAsDouble4(x + 2),
                      x3 = LoadAsDouble4(x + 3), x4 = LoadAsDouble4(x + 4);
        __m128 r[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            __m256d v = _mm256_mul_pd(ck[k][0], x0);
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][1], x1));
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][2], x2));
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][3], x3));
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][4], x4));
            if constexpr (kClamp) v = _mm256_min_pd(_mm256_max_pd(v, lo), hi);
            r[k] = _mm_castsi128_ps(_mm256_cvtpd_epi32(v));  // phase k of 4 positions
        }
        _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);  // -> the 4 values of each position
        const __m256i a = _mm256_castps_si256(_mm256_set_m128(r[1], r[0]));
        const __m256i b = _mm256_castps_si256(_mm256_set_m128(r[3], r[2]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i + 8), b);
        const uint32_t bits =
            static_cast<uint32_t>(
                _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(a, th)))) |
            static_cast<uint32_t>(
                _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(b, th))))
                << 8;
        mask[(4 * i) >> 6] |= static_cast<uint64_t>(bits) << ((4 * i) & 63);
    }
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    BandPassPortableRange(s, pFirst, i, count, c, threshold, out, mask);
}

void BandPassAvx2(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                  int32_t threshold, int32_t* out, uint64_t* mask) {
    if (c.mayOverflow) {
        BandPassAvx2T<true>(s, pFirst, count, c, threshold, out, mask);
    } else {
        BandPassAvx2T<false>(s, pFirst, count, c, threshold, out, mask);
    }
}

// ---- AVX-512: eight outputs or positions per step ----

// The compiler's own conversion intrinsics start from an "undefined" register, which some
// compiler versions report as maybe uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define WTK_AVX512 __attribute__((target("avx512f")))

WTK_AVX512 inline __m512d LoadAsDouble8(const int32_t* p) {
    return _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// Sixteen 16-bit samples at b[2 j ...] as 32-bit integers.
WTK_AVX512 inline __m512i Load16Samples(const uint8_t* b, int32_t j) {
    return _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 2 * j)));
}

WTK_AVX512 void HighPassAvx512(const uint8_t* b, int32_t count, int32_t* out) {
    int32_t i = 0;
    __m512d h[11];
    for (int t = 0; t < 11; ++t) h[t] = _mm512_set1_pd(kHighPassTaps[t]);
    for (; i + 16 <= count; i += 16) {
        const int32_t c = i + 18;
        const __m512i centre = Load16Samples(b, c);
        __m512d acc0 = _mm512_mul_pd(h[0], _mm512_cvtepi32_pd(_mm512_castsi512_si256(centre)));
        __m512d acc1 =
            _mm512_mul_pd(h[0], _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(centre, 1)));
#pragma GCC unroll 16
        for (int t = 1; t < 11; ++t) {
            const int32_t d = kHighPassOffsets[t];
            const __m512i pair = _mm512_add_epi32(Load16Samples(b, c - d), Load16Samples(b, c + d));
            acc0 = _mm512_add_pd(
                acc0, _mm512_mul_pd(h[t], _mm512_cvtepi32_pd(_mm512_castsi512_si256(pair))));
            acc1 = _mm512_add_pd(
                acc1, _mm512_mul_pd(h[t], _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(pair, 1))));
        }
        const __m512i r = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtpd_epi32(acc0)),
                                             _mm512_cvtpd_epi32(acc1), 1);
        _mm512_storeu_si512(out + i, r);
    }
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    HighPassPortableRange(b, i, count, out);
}

template <bool kClamp>
WTK_AVX512 void BandPassAvx512T(const int32_t* s, int32_t pFirst, int32_t count,
                                const BandPassCoeffs& c, int32_t threshold, int32_t* out,
                                uint64_t* mask) {
    ClearMask(mask, count);
    __m512d ck[4][5];
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 5; ++j) ck[k][j] = _mm512_set1_pd(c.c[k][j]);
    const __m512d lo = _mm512_set1_pd(-2147483648.0);
    const __m512d hi = _mm512_set1_pd(2147483647.0);
    const __m512i th = _mm512_set1_epi32(threshold);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const int32_t* x = s + pFirst + i - 2;
        const __m512d x0 = LoadAsDouble8(x), x1 = LoadAsDouble8(x + 1), x2 = LoadAsDouble8(x + 2),
                      x3 = LoadAsDouble8(x + 3), x4 = LoadAsDouble8(x + 4);
        __m256i r[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            __m512d v = _mm512_mul_pd(ck[k][0], x0);
            v = _mm512_add_pd(v, _mm512_mul_pd(ck[k][1], x1));
            v = _mm512_add_pd(v, _mm512_mul_pd(ck[k][2], x2));
            v = _mm512_add_pd(v, _mm512_mul_pd(ck[k][3], x3));
            v = _mm512_add_pd(v, _mm512_mul_pd(ck[k][4], x4));
            if constexpr (kClamp) v = _mm512_min_pd(_mm512_max_pd(v, lo), hi);
            r[k] = _mm512_cvtpd_epi32(v);  // phase k of 8 positions
        }
        // 4 x 8 transpose: within each 128-bit lane, then the lanes in position order.
        const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
        const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
        const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);  // positions 0 and 4
        const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);  // 1 and 5
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);  // 2 and 6
        const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);  // 3 and 7
        const __m256i p01 = _mm256_permute2x128_si256(u0, u1, 0x20);
        const __m256i p23 = _mm256_permute2x128_si256(u2, u3, 0x20);
        const __m256i p45 = _mm256_permute2x128_si256(u0, u1, 0x31);
        const __m256i p67 = _mm256_permute2x128_si256(u2, u3, 0x31);
        const __m512i a = _mm512_inserti64x4(_mm512_castsi256_si512(p01), p23, 1);
        const __m512i b = _mm512_inserti64x4(_mm512_castsi256_si512(p45), p67, 1);
        _mm512_storeu_si512(out + 4 * i, a);
        _mm512_storeu_si512(out + 4 * i + 16, b);
        const uint32_t bits = static_cast<uint32_t>(_mm512_cmpgt_epi32_mask(a, th)) |
                              static_cast<uint32_t>(_mm512_cmpgt_epi32_mask(b, th)) << 16;
        mask[(4 * i) >> 6] |= static_cast<uint64_t>(bits) << ((4 * i) & 63);
    }
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    BandPassPortableRange(s, pFirst, i, count, c, threshold, out, mask);
}

void BandPassAvx512(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                    int32_t threshold, int32_t* out, uint64_t* mask) {
    if (c.mayOverflow) {
        BandPassAvx512T<true>(s, pFirst, count, c, threshold, out, mask);
    } else {
        BandPassAvx512T<false>(s, pFirst, count, c, threshold, out, mask);
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool CpuHas(FilterKernelKind kind) {
    switch (kind) {
        case FilterKernelKind::Portable:
            return true;
        case FilterKernelKind::Avx2:
            return __builtin_cpu_supports("avx2");
        case FilterKernelKind::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
    }
    return false;
}

#else

bool CpuHas(FilterKernelKind kind) {
    return kind == FilterKernelKind::Portable;
}

#endif

using WidenFn = void (*)(const uint8_t*, int32_t, int32_t*);
using HighPassFn = void (*)(const uint8_t*, int32_t, int32_t*);
using BandPassFn = void (*)(const int32_t*, int32_t, int32_t, const BandPassCoeffs&, int32_t,
                            int32_t*, uint64_t*);

struct Kernels {
    FilterKernelKind kind;
    WidenFn widen;
    HighPassFn highPass;
    BandPassFn bandPass;
};

Kernels KernelsFor(FilterKernelKind kind) {
#ifdef WTK_HAVE_X86_KERNELS
    if (kind == FilterKernelKind::Avx512) return {kind, WidenAvx2, HighPassAvx512, BandPassAvx512};
    if (kind == FilterKernelKind::Avx2) return {kind, WidenAvx2, HighPassAvx2, BandPassAvx2};
#endif
    return {FilterKernelKind::Portable, WidenPortable, HighPassPortable, BandPassPortable};
}

Kernels& Active() {
    static Kernels k = KernelsFor(CpuHas(FilterKernelKind::Avx512) ? FilterKernelKind::Avx512
                                  : CpuHas(FilterKernelKind::Avx2) ? FilterKernelKind::Avx2
                                                                   : FilterKernelKind::Portable);
    return k;
}

}  // namespace

BandPassCoeffs MakeBandPassCoeffs(const std::array<float, 20>& Coeff) {
    BandPassCoeffs c;
    double largestSum = 0;
    for (int k = 0; k < 4; ++k) {
        double sum = 0;
        for (int j = 0; j < 5; ++j) {
            c.c[k][j] = Coeff[(3 - k) + 4 * j];
            sum += std::fabs(c.c[k][j]);
        }
        largestSum = std::max(largestSum, sum);
    }
    c.mayOverflow = !(largestSum * 131072.0 < 2147483647.0);
    return c;
}

void WidenSamples(const uint8_t* bytes, int32_t n, int32_t* out) {
    if (n > 0) Active().widen(bytes, n, out);
}

void HighPassFromBytes(const uint8_t* bytes, int32_t count, int32_t* out) {
    if (count > 0) Active().highPass(bytes, count, out);
}

void BandPassValues(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                    int32_t threshold, int32_t* out, uint64_t* aboveMask) {
    assert(pFirst >= 2 && count >= 0);
    Active().bandPass(s, pFirst, count, c, threshold, out, aboveMask);
}

FilterKernelKind ActiveFilterKernel() {
    return Active().kind;
}

bool SelectFilterKernel(FilterKernelKind kind) {
    if (!CpuHas(kind)) return false;
    Active() = KernelsFor(kind);
    return true;
}

}  // namespace wtk
