#include "engine/filter_kernels.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cfloat>
#include <climits>
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

void HighPassPortable(const uint8_t* b, int32_t count, int32_t* out, Stores) {
    HighPassPortableRange(b, 0, count, out);
}

void BandPassPortable(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                      int32_t threshold, int32_t* out, uint64_t* mask, Stores) {
    ClearMask(mask, count);
    BandPassPortableRange(s, pFirst, 0, count, c, threshold, out, mask);
}

// What a block screen compares its float sums with (S: the largest sum of a phase's coefficient
// magnitudes, X < 2^17: the samples' magnitude bound).
// - A value above the threshold is the rounding of a double sum of at least threshold + 1/2,
//   which lies within 5 x 2^-53 S X < 2^-33 S of the exact sum (exactly on it when folded).
// - A plain float sum of five products of coefficients (floats, held exactly in c) and samples
//   lies within 5.0001 x 2^-24 S X < S / 25 of the exact sum, whether each product is rounded
//   before it is added or fused with its addition (one rounding instead of two).
// - A folded float P + |Q| (see BandPassCoeffs) is the larger of a pair of phases within
//   5.0001 x 2^-24 x 2 S X < S / 12: the half sums and differences rounded to float add one
//   rounding to each product, the final sum one more, and each pair of samples |x0| + |x4| is
//   below 2 X, times |h| + |g| = the larger of the two coefficients' magnitudes.
// - 2^-20 covers products that underflow.
// So a block whose float sums all lie at or below threshold + 1/2 - S / 8 - 2^-20 has no value
// above the threshold. Not usable where float sums could overflow.
struct ScreenLimit {
    bool usable;
    float limit;
};

ScreenLimit ScreenLimitFor(const BandPassCoeffs& c, int32_t threshold) {
    const double largestSum = c.largestSum;
    if (!(largestSum * 131072.0 < 1e30)) return {false, 0};
    const double limit =
        static_cast<double>(threshold) + 0.5 - largestSum / 8.0 - std::ldexp(1.0, -20);
    float f = static_cast<float>(limit);
    if (static_cast<double>(f) > limit) f = std::nextafter(f, -INFINITY);
    return {true, f};
}

// The largest float sum of the four phases at position p (x = s + p - 2).
inline float ScreenSumMax(const int32_t* x, const float (&cf)[4][5]) {
    float m = -INFINITY;
    for (int k = 0; k < 4; ++k) {
        float v = cf[k][0] * static_cast<float>(x[0]);
        for (int j = 1; j < 5; ++j) v += cf[k][j] * static_cast<float>(x[j]);
        m = std::max(m, v);
    }
    return m;
}

void FloatCoeffs(const BandPassCoeffs& c, float (&cf)[4][5]) {
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 5; ++j) cf[k][j] = static_cast<float>(c.c[k][j]);
}

// Blocks from..blocks-1 of the screen, one position at a time.
void ScreenPortableRange(const int32_t* s, int32_t pFirst, int32_t fromBlock, int32_t count,
                         const BandPassCoeffs& c, float limit, uint64_t* blocks) {
    float cf[4][5];
    FloatCoeffs(c, cf);
    for (int32_t b = fromBlock; 16 * b < count; ++b) {
        float m = -INFINITY;
        for (int32_t i = 16 * b; i < std::min(16 * b + 16, count); ++i)
            m = std::max(m, ScreenSumMax(s + pFirst + i - 2, cf));
        blocks[b >> 6] |= static_cast<uint64_t>(m > limit) << (b & 63);
    }
}

void ScreenAllBlocks(int32_t count, uint64_t* blocks) {
    for (int32_t b = 0; 16 * b < count; ++b) blocks[b >> 6] |= uint64_t{1} << (b & 63);
}

void ScreenPortable(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                    int32_t threshold, uint64_t* blocks) {
    const ScreenLimit l = ScreenLimitFor(c, threshold);
    if (!l.usable) return ScreenAllBlocks(count, blocks);
    ScreenPortableRange(s, pFirst, 0, count, c, l.limit, blocks);
}

#ifdef WTK_HAVE_X86_KERNELS

// ---- AVX2: four outputs or positions per step ----

#define WTK_AVX2 __attribute__((target("avx2")))
// The float kernels whose results are checked against a proven bound (the high-pass and the
// screen) fuse their multiply-adds: one rounding where a product and its sum took two keeps them
// within the same bounds. The AVX2 variant is chosen only where the processor has both.
#define WTK_AVX2_FMA __attribute__((target("avx2,fma")))

// Eight values at p: through the caches, or past them (p 32-byte aligned).
template <bool kStream>
WTK_AVX2 inline void Store8(int32_t* p, __m256i v) {
    if constexpr (kStream) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
}

bool Aligned32(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & 31) == 0;
}

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

// Samples j ... j + n - 1 (n a multiple of 4) as floats into x (exact: they are 16-bit);
// returns the largest magnitude among them.
WTK_AVX2 int32_t WidenToFloat(const uint8_t* b, int32_t j, int32_t n, float* x) {
    __m256i largest = _mm256_setzero_si256();
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256i v = Load8Samples(b, j + k);
        largest = _mm256_max_epi32(largest, _mm256_abs_epi32(v));
        _mm256_storeu_ps(x + k, _mm256_cvtepi32_ps(v));
    }
    if (k < n) {  // four more
        const __m128i v4 =
            _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + 2 * (j + k))));
        largest = _mm256_max_epi32(largest, _mm256_castsi128_si256(_mm_abs_epi32(v4)));
        _mm_storeu_ps(x + k, _mm_cvtepi32_ps(v4));
    }
    alignas(32) int32_t m[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(m), largest);
    return *std::max_element(m, m + 8);
}

// Outputs first ... first + 7 of the high-pass as v, with the lanes set in unsure formed from
// the double sum itself.
[[gnu::noinline]] WTK_AVX2 __m256i HighPassExactLanes(const uint8_t* b, int32_t first, __m256i v,
                                                      uint32_t unsure) {
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    for (; unsure != 0; unsure &= unsure - 1) {
        const int32_t k = std::countr_zero(unsure);
        lanes[k] = static_cast<int32_t>(RoundHalfEvenSmall(HighPassSum(b, first + k + 18)));
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
}

// The high-pass in float, eight outputs side by side, with every rounding checked against the
// double sum that defines the output.
// - With M the largest sample magnitude an output reads, its exact sum R (double taps h) has
//   sum |h x| <= 2.0383 M. The float taps are within 2^-24 of h relatively, the first product
//   adds one rounding and the ten multiply-adds (fused: the product is exact within each) at
//   most 10 x 2^-24 (1 + 2^-20) of the sum of magnitudes, so the float sum A lies within 12.001 x
//   2^-24 x 2.0383 M < 24.5 x 2^-24 M of R, and the double sum (eleven roundings of 2^-53) within
//   2^-48 M of R: both within E = 2^-19 M of each other.
// - A - r, for r the integer nearest A, is exact (Sterbenz), so where |A - r| < 1/2 - E the
//   double sum lies strictly between r - 1/2 and r + 1/2 and rounds to r whatever the tie
//   rule. Elsewhere (about 2 E of the outputs) the output is formed in double, one at a time.
// M is taken over each stretch of 1024 outputs, so a loud click costs a little more only in
// its own stretch.
template <bool kStream>
WTK_AVX2_FMA void HighPassAvx2T(const uint8_t* b, int32_t count, int32_t* out) {
    constexpr int32_t kStep = 16;
    constexpr int32_t kStretch = 1024;  // outputs per stretch; its samples fit the first cache
    alignas(32) float x[kStretch + 36];
    __m256 h[11];
    for (int t = 0; t < 11; ++t) h[t] = _mm256_set1_ps(static_cast<float>(kHighPassTaps[t]));
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    int32_t i = 0;
    while (count - i >= kStep) {
        const int32_t n = std::min(kStretch, (count - i) / kStep * kStep);
        const int32_t largest = WidenToFloat(b, i, n + 36, x);  // samples i ... i + n + 35
        // 1/2 - 2^-19 M, exact in float (M <= 2^15).
        const __m256 safe = _mm256_set1_ps(0.5f - static_cast<float>(largest) * 0x1p-19f);
        for (int32_t o = 0; o < n; o += kStep) {
            const float* c = x + o + 18;
            __m256 acc[2];
#pragma GCC unroll 2
            for (int m = 0; m < 2; ++m) acc[m] = _mm256_mul_ps(h[0], _mm256_loadu_ps(c + 8 * m));
#pragma GCC unroll 16
            for (int t = 1; t < 11; ++t) {
                const int32_t d = kHighPassOffsets[t];
#pragma GCC unroll 2
                for (int m = 0; m < 2; ++m) {
                    const __m256 pair = _mm256_add_ps(_mm256_loadu_ps(c + 8 * m - d),
                                                      _mm256_loadu_ps(c + 8 * m + d));
                    acc[m] = _mm256_fmadd_ps(h[t], pair, acc[m]);
                }
            }
            int32_t* to = out + i + o;
#pragma GCC unroll 2
            for (int m = 0; m < 2; ++m) {
                const __m256 r =
                    _mm256_round_ps(acc[m], _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
                const __m256 off = _mm256_and_ps(_mm256_sub_ps(acc[m], r), magnitude);
                const auto unsure = static_cast<uint32_t>(
                    _mm256_movemask_ps(_mm256_cmp_ps(off, safe, _CMP_NLT_UQ)));
                __m256i v = _mm256_cvtps_epi32(r);
                if (unsure != 0) [[unlikely]] {
                    v = HighPassExactLanes(b, i + o + 8 * m, v, unsure);
                }
                Store8<kStream>(to + 8 * m, v);
            }
        }
        i += n;
    }
    if constexpr (kStream) _mm_sfence();  // the stores are seen before whatever follows
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    HighPassPortableRange(b, i, count, out);
}

void HighPassAvx2(const uint8_t* b, int32_t count, int32_t* out, Stores stores) {
    if (stores == Stores::Streaming && Aligned32(out)) {
        HighPassAvx2T<true>(b, count, out);
    } else {
        HighPassAvx2T<false>(b, count, out);
    }
}

// The folded band-pass (BandPassCoeffs::folded): each value of s is converted once, the five
// windows of four positions are shuffled from two converted vectors, and the rounded values are
// taken from the low halves of value + 1.5 x 2^52 (exact below 2^31, as these are).
template <bool kStream>
WTK_AVX2 void BandPassAvx2Folded(const int32_t* s, int32_t pFirst, int32_t count,
                                 const BandPassCoeffs& c, int32_t threshold, int32_t* out,
                                 uint64_t* mask) {
    ClearMask(mask, count);
    __m256d f[2][5];
    for (int pair = 0; pair < 2; ++pair)
        for (int j = 0; j < 5; ++j) f[pair][j] = _mm256_set1_pd(c.fold[pair][j]);
    const __m256d magic = _mm256_set1_pd(6755399441055744.0);
    const __m256i th = _mm256_set1_epi32(threshold);
    const int32_t* x = s + pFirst - 2;
    int32_t i = 0;
    if (count >= 4) {
        __m256d a = LoadAsDouble4(x);  // x[i ... i + 3]
        for (; i + 4 <= count; i += 4) {
            const __m256d b = LoadAsDouble4(x + i + 4);
            const __m256d x2 = _mm256_permute2f128_pd(a, b, 0x21);  // x[i + 2 ... i + 5]
            const __m256d x1 = _mm256_shuffle_pd(a, x2, 5);         // x[i + 1 ... i + 4]
            const __m256d x3 = _mm256_shuffle_pd(x2, b, 5);         // x[i + 3 ... i + 6]
            const __m256d sum04 = _mm256_add_pd(a, b), diff04 = _mm256_sub_pd(a, b);
            const __m256d sum13 = _mm256_add_pd(x1, x3), diff13 = _mm256_sub_pd(x1, x3);
            a = b;
            __m256i r[4];
#pragma GCC unroll 2
            for (int pair = 0; pair < 2; ++pair) {
                const __m256d* g = f[pair];
                const __m256d p = _mm256_add_pd(
                    _mm256_add_pd(_mm256_mul_pd(g[0], sum04), _mm256_mul_pd(g[1], sum13)),
                    _mm256_mul_pd(g[2], x2));
                const __m256d q =
                    _mm256_add_pd(_mm256_mul_pd(g[3], diff04), _mm256_mul_pd(g[4], diff13));
                // Phases 0 and 3, or 1 and 2.
                r[pair] = _mm256_castpd_si256(_mm256_add_pd(_mm256_add_pd(p, q), magic));
                r[3 - pair] = _mm256_castpd_si256(_mm256_add_pd(_mm256_sub_pd(p, q), magic));
            }
            // Each 64-bit lane holds a position's value in its low half: phases 0 and 1 of
            // each position side by side, and 2 and 3, then the positions in order.
            const __m256i v01 = _mm256_blend_epi32(r[0], _mm256_slli_epi64(r[1], 32), 0xAA);
            const __m256i v23 = _mm256_blend_epi32(r[2], _mm256_slli_epi64(r[3], 32), 0xAA);
            const __m256i even = _mm256_unpacklo_epi64(v01, v23);  // positions 0 and 2
            const __m256i odd = _mm256_unpackhi_epi64(v01, v23);   // positions 1 and 3
            const __m256i lo = _mm256_permute2x128_si256(even, odd, 0x20);
            const __m256i hi = _mm256_permute2x128_si256(even, odd, 0x31);
            Store8<kStream>(out + 4 * i, lo);
            Store8<kStream>(out + 4 * i + 8, hi);
            const uint32_t bits =
                static_cast<uint32_t>(
                    _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(lo, th)))) |
                static_cast<uint32_t>(
                    _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(hi, th))))
                    << 8;
            mask[(4 * i) >> 6] |= static_cast<uint64_t>(bits) << ((4 * i) & 63);
        }
    }
    if constexpr (kStream) _mm_sfence();  // the stores are seen before whatever follows
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    BandPassPortableRange(s, pFirst, i, count, c, threshold, out, mask);
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

WTK_AVX2 inline __m256 LoadAsFloat8(const int32_t* p) {
    return _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// The largest float sum of the phases of eight positions (x = s + p - 2 for the first) and m,
// the five samples each phase reads converted once (any order of the sums keeps the bound).
template <bool kFolded>
WTK_AVX2_FMA inline __m256 ScreenEight(const int32_t* x, const __m256 (&ck)[4][5], __m256 m) {
    const __m256 x0 = LoadAsFloat8(x), x1 = LoadAsFloat8(x + 1), x2 = LoadAsFloat8(x + 2),
                 x3 = LoadAsFloat8(x + 3), x4 = LoadAsFloat8(x + 4);
    if constexpr (kFolded) {
        // The larger of P + Q and P - Q is P + |Q|; the pairs are exact in float.
        const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
        const __m256 sum04 = _mm256_add_ps(x0, x4), diff04 = _mm256_sub_ps(x0, x4);
        const __m256 sum13 = _mm256_add_ps(x1, x3), diff13 = _mm256_sub_ps(x1, x3);
#pragma GCC unroll 2
        for (int pair = 0; pair < 2; ++pair) {
            const __m256* g = ck[pair];
            const __m256 p =
                _mm256_fmadd_ps(g[2], x2, _mm256_fmadd_ps(g[1], sum13, _mm256_mul_ps(g[0], sum04)));
            const __m256 q = _mm256_fmadd_ps(g[4], diff13, _mm256_mul_ps(g[3], diff04));
            m = _mm256_max_ps(m, _mm256_add_ps(p, _mm256_and_ps(q, magnitude)));
        }
    } else {
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            __m256 v = _mm256_mul_ps(ck[k][0], x0);
            v = _mm256_fmadd_ps(ck[k][1], x1, v);
            v = _mm256_fmadd_ps(ck[k][2], x2, v);
            v = _mm256_fmadd_ps(ck[k][3], x3, v);
            v = _mm256_fmadd_ps(ck[k][4], x4, v);
            m = _mm256_max_ps(m, v);
        }
    }
    return m;
}

// The screen, eight positions a step and a stretch of 16 in two.
template <bool kFolded>
WTK_AVX2_FMA void ScreenAvx2T(const int32_t* s, int32_t pFirst, int32_t count,
                              const BandPassCoeffs& c, float limitValue, uint64_t* blocks) {
    __m256 ck[4][5];
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 5; ++j) {
            // Folded: h0, h1, h2, g0, g1 of phases 0 and 3, then of phases 1 and 2.
            const double v = kFolded ? (k < 2 ? c.fold[k][j] : 0.0) : c.c[k][j];
            ck[k][j] = _mm256_set1_ps(static_cast<float>(v));
        }
    }
    const __m256 limit = _mm256_set1_ps(limitValue);
    const __m256 none = _mm256_set1_ps(-INFINITY);
    const int32_t full = count / 16;  // blocks of 16 positions
    const int32_t* x = s + pFirst - 2;
    for (int32_t b = 0; b < full; ++b, x += 16) {
        const __m256 m = ScreenEight<kFolded>(x + 8, ck, ScreenEight<kFolded>(x, ck, none));
        const bool may = _mm256_movemask_ps(_mm256_cmp_ps(m, limit, _CMP_GT_OQ)) != 0;
        blocks[b >> 6] |= static_cast<uint64_t>(may) << (b & 63);
    }
    _mm256_zeroupper();  // the portable tail and the caller use the legacy encoding
    ScreenPortableRange(s, pFirst, full, count, c, limitValue, blocks);
}

WTK_AVX2_FMA void ScreenAvx2(const int32_t* s, int32_t pFirst, int32_t count,
                             const BandPassCoeffs& c, int32_t threshold, uint64_t* blocks) {
    const ScreenLimit l = ScreenLimitFor(c, threshold);
    if (!l.usable) return ScreenAllBlocks(count, blocks);
    if (c.folded) return ScreenAvx2T<true>(s, pFirst, count, c, l.limit, blocks);
    ScreenAvx2T<false>(s, pFirst, count, c, l.limit, blocks);
}

void BandPassAvx2(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                  int32_t threshold, int32_t* out, uint64_t* mask, Stores stores) {
    if (c.folded && stores == Stores::Streaming && Aligned32(out)) {
        BandPassAvx2Folded<true>(s, pFirst, count, c, threshold, out, mask);
    } else if (c.folded) {
        BandPassAvx2Folded<false>(s, pFirst, count, c, threshold, out, mask);
    } else if (c.mayOverflow) {
        BandPassAvx2T<true>(s, pFirst, count, c, threshold, out, mask);
    } else {
        BandPassAvx2T<false>(s, pFirst, count, c, threshold, out, mask);
    }
}

// ---- AVX-512: eight positions per step ----

// Only the band-pass has a variant of its own. The AVX-512 kind high-passes and screens with the
// AVX2 float kernels, which take fewer instructions and less time than a double high-pass of
// sixteen outputs a step, at least where the processor splits 512-bit work in two halves; a
// float high-pass of sixteen outputs a step took the same time as the AVX2 one there.

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
                    int32_t threshold, int32_t* out, uint64_t* mask, Stores) {
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
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case FilterKernelKind::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
                   __builtin_cpu_supports("fma");
    }
    return false;
}

#else

bool CpuHas(FilterKernelKind kind) {
    return kind == FilterKernelKind::Portable;
}

#endif

using WidenFn = void (*)(const uint8_t*, int32_t, int32_t*);
using HighPassFn = void (*)(const uint8_t*, int32_t, int32_t*, Stores);
using BandPassFn = void (*)(const int32_t*, int32_t, int32_t, const BandPassCoeffs&, int32_t,
                            int32_t*, uint64_t*, Stores);
using ScreenFn = void (*)(const int32_t*, int32_t, int32_t, const BandPassCoeffs&, int32_t,
                          uint64_t*);

struct Kernels {
    FilterKernelKind kind;
    WidenFn widen;
    HighPassFn highPass;
    BandPassFn bandPass;
    ScreenFn screen;
};

Kernels KernelsFor(FilterKernelKind kind) {
#ifdef WTK_HAVE_X86_KERNELS
    if (kind == FilterKernelKind::Avx512)
        return {kind, WidenAvx2, HighPassAvx2, BandPassAvx512, ScreenAvx2};
    if (kind == FilterKernelKind::Avx2)
        return {kind, WidenAvx2, HighPassAvx2, BandPassAvx2, ScreenAvx2};
#endif
    return {FilterKernelKind::Portable, WidenPortable, HighPassPortable, BandPassPortable,
            ScreenPortable};
}

Kernels& Active() {
    static Kernels k = KernelsFor(CpuHas(FilterKernelKind::Avx512) ? FilterKernelKind::Avx512
                                  : CpuHas(FilterKernelKind::Avx2) ? FilterKernelKind::Avx2
                                                                   : FilterKernelKind::Portable);
    return k;
}

}  // namespace

namespace {

// The exponent of the lowest set bit of a finite nonzero double: x is a multiple of 2^result.
int LowestBitExponent(double x) {
    int e = 0;
    const double m = std::frexp(std::fabs(x), &e);  // |x| = m 2^e, m in [0.5, 1)
    const auto mantissa = static_cast<uint64_t>(std::ldexp(m, 53));
    return e - 53 + std::countr_zero(mantissa);
}

// Whether the folded sums of c are exact: every coefficient and every half sum or difference
// of two is a multiple of 2^(q - 1), where 2^q is the lowest bit of any coefficient, and no
// product or partial sum of samples below 2^17 (their pairs below 2^18) reaches 2^(q - 1 + 53)
// in magnitude, each being at most 2^17 times a phase's sum of magnitudes.
bool FoldedSumsAreExact(const BandPassCoeffs& c, double largestSum) {
    int q = INT32_MAX;
    for (const auto& phase : c.c) {
        for (double v : phase) {
            if (!std::isfinite(v)) return false;
            if (v != 0) q = std::min(q, LowestBitExponent(v));
        }
    }
    if (q == INT32_MAX) return true;  // all zero
    // Halving is exact: float coefficients have no bit below 2^-149, far above the subnormal
    // doubles.
    return largestSum * 131072.0 <= std::ldexp(1.0, q - 1 + 53);
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
    c.largestSum = largestSum;
    c.mayOverflow = !(largestSum * 131072.0 < 2147483647.0);
    bool symmetric = true;
    for (int j = 0; j < 5; ++j) {
        symmetric = symmetric && c.c[3][j] == c.c[0][4 - j] && c.c[2][j] == c.c[1][4 - j];
    }
    c.folded = symmetric && !c.mayOverflow && FoldedSumsAreExact(c, largestSum);
    if (c.folded) {
        for (int pair = 0; pair < 2; ++pair) {
            const auto& a = c.c[pair];  // phase 0 for phases 0 and 3, phase 1 for 1 and 2
            c.fold[pair] = {(a[0] + a[4]) / 2, (a[1] + a[3]) / 2, a[2], (a[0] - a[4]) / 2,
                            (a[1] - a[3]) / 2};
        }
    }
    return c;
}

void WidenSamples(const uint8_t* bytes, int32_t n, int32_t* out) {
    if (n > 0) Active().widen(bytes, n, out);
}

void HighPassFromBytes(const uint8_t* bytes, int32_t count, int32_t* out, Stores stores) {
    if (count > 0) Active().highPass(bytes, count, out, stores);
}

void BandPassValues(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                    int32_t threshold, int32_t* out, uint64_t* aboveMask, Stores stores) {
    assert(pFirst >= 2 && count >= 0);
    Active().bandPass(s, pFirst, count, c, threshold, out, aboveMask, stores);
}

void BandPassBlocksMayExceed(const int32_t* s, int32_t pFirst, int32_t count,
                             const BandPassCoeffs& c, int32_t threshold, uint64_t* blocks) {
    assert(pFirst >= 2 && count >= 0);
    std::memset(blocks, 0, sizeof(uint64_t) * ((static_cast<size_t>(count) + 1023) / 1024));
    if (count > 0) Active().screen(s, pFirst, count, c, threshold, blocks);
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
