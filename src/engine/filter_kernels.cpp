#include "engine/filter_kernels.h"

#include <algorithm>
#include <cassert>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define WTK_HAVE_AVX2_KERNELS 1
#include <immintrin.h>
#endif

namespace wtk {

namespace {

// Round to nearest, ties to even, for |x| <= 2^51: adding and removing 1.5 x 2^52 leaves no
// fraction bits, and the default rounding mode decides the tie.
inline double RoundNearestEven(double x) {
    constexpr double kMagic = 6755399441055744.0;
    return (x + kMagic) - kMagic;
}

// Clamping before rounding gives the same integer as rounding and then saturating.
inline int32_t SaturatingRound(double x) {
    x = std::min(std::max(x, -2147483648.0), 2147483647.0);
    return static_cast<int32_t>(RoundNearestEven(x));
}

inline double HighPassSum(const int32_t* s, int32_t p) {
    double acc = kHighPassTaps[0] * static_cast<double>(s[p]);
    for (size_t t = 1; t < kHighPassTaps.size(); ++t) {
        const int32_t d = kHighPassOffsets[t];
        acc += kHighPassTaps[t] * static_cast<double>(s[p - d] + s[p + d]);
    }
    return acc;
}

// Positions p ... pEnd - 1 of the high-pass, one at a time.
void HighPassPortableRange(int32_t* s, int32_t p, int32_t pEnd) {
    for (; p < pEnd; ++p) s[p - 20] = static_cast<int32_t>(RoundNearestEven(HighPassSum(s, p)));
}

void BandPassPortableRange(const int32_t* s, int32_t pFirst, int32_t from, int32_t count,
                           const BandPassCoeffs& c, int32_t* out) {
    for (int32_t i = from; i < count; ++i) {
        const int32_t* x = s + pFirst + i - 2;
        const double x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4];
        for (int k = 0; k < 4; ++k) {
            const auto& ck = c.c[k];
            const double v = ck[0] * x0 + ck[1] * x1 + ck[2] * x2 + ck[3] * x3 + ck[4] * x4;
            out[4 * i + k] = SaturatingRound(v);
        }
    }
}

void HighPassPortable(int32_t* s, int32_t n) {
    HighPassPortableRange(s, 20, n - 63);
}

void BandPassPortable(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                      int32_t* out) {
    BandPassPortableRange(s, pFirst, 0, count, c, out);
}

#ifdef WTK_HAVE_AVX2_KERNELS

__attribute__((target("avx2"))) inline __m256d LoadAsDouble(const int32_t* p) {
    return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Four high-pass outputs per step. All loads of a step come before its store, and a step's
// store (s[p - 20 ... p - 17]) is never read by a later step, so the filter stays in place.
__attribute__((target("avx2"))) void HighPassAvx2(int32_t* s, int32_t n) {
    const int32_t pEnd = n - 63;
    int32_t p = 20;
    __m256d h[11];
    for (int t = 0; t < 11; ++t) h[t] = _mm256_set1_pd(kHighPassTaps[t]);
    for (; p + 4 <= pEnd; p += 4) {
        __m256d acc = _mm256_mul_pd(h[0], LoadAsDouble(s + p));
        for (int t = 1; t < 11; ++t) {
            const int32_t d = kHighPassOffsets[t];
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p - d));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p + d));
            acc =
                _mm256_add_pd(acc, _mm256_mul_pd(h[t], _mm256_cvtepi32_pd(_mm_add_epi32(lo, hi))));
        }
        const __m256d r = _mm256_round_pd(acc, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s + p - 20), _mm256_cvtpd_epi32(r));
    }
    HighPassPortableRange(s, p, pEnd);
}

__attribute__((target("avx2"))) void BandPassAvx2(const int32_t* s, int32_t pFirst, int32_t count,
                                                  const BandPassCoeffs& c, int32_t* out) {
    __m256d ck[4][5];
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 5; ++j) ck[k][j] = _mm256_set1_pd(c.c[k][j]);
    const __m256d lo = _mm256_set1_pd(-2147483648.0);
    const __m256d hi = _mm256_set1_pd(2147483647.0);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const int32_t* x = s + pFirst + i - 2;
        const __m256d x0 = LoadAsDouble(x), x1 = LoadAsDouble(x + 1), x2 = LoadAsDouble(x + 2),
                      x3 = LoadAsDouble(x + 3), x4 = LoadAsDouble(x + 4);
        __m128 r[4];
        for (int k = 0; k < 4; ++k) {
            __m256d v = _mm256_mul_pd(ck[k][0], x0);
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][1], x1));
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][2], x2));
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][3], x3));
            v = _mm256_add_pd(v, _mm256_mul_pd(ck[k][4], x4));
            v = _mm256_min_pd(_mm256_max_pd(v, lo), hi);
            v = _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
            r[k] = _mm_castsi128_ps(_mm256_cvtpd_epi32(v));  // phase k of 4 positions
        }
        _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);  // -> 4 values of each position
        for (int k = 0; k < 4; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * (i + k)), _mm_castps_si128(r[k]));
    }
    BandPassPortableRange(s, pFirst, i, count, c, out);
}

bool CpuHasAvx2() {
    return __builtin_cpu_supports("avx2");
}

#else

bool CpuHasAvx2() {
    return false;
}

#endif

using HighPassFn = void (*)(int32_t*, int32_t);
using BandPassFn = void (*)(const int32_t*, int32_t, int32_t, const BandPassCoeffs&, int32_t*);

struct Kernels {
    FilterKernelKind kind;
    HighPassFn highPass;
    BandPassFn bandPass;
};

Kernels KernelsFor(FilterKernelKind kind) {
#ifdef WTK_HAVE_AVX2_KERNELS
    if (kind == FilterKernelKind::Avx2) return {kind, HighPassAvx2, BandPassAvx2};
#endif
    return {FilterKernelKind::Portable, HighPassPortable, BandPassPortable};
}

Kernels& Active() {
    static Kernels k =
        KernelsFor(CpuHasAvx2() ? FilterKernelKind::Avx2 : FilterKernelKind::Portable);
    return k;
}

}  // namespace

BandPassCoeffs MakeBandPassCoeffs(const std::array<float, 20>& Coeff) {
    BandPassCoeffs c;
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 5; ++j) c.c[k][j] = Coeff[(3 - k) + 4 * j];
    return c;
}

void HighPassInPlace(int32_t* s, int32_t n) {
    if (n < 84) return;
    Active().highPass(s, n);
}

void BandPassValues(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                    int32_t* out) {
    assert(pFirst >= 2 && count >= 0);
    Active().bandPass(s, pFirst, count, c, out);
}

FilterKernelKind ActiveFilterKernel() {
    return Active().kind;
}

bool SelectFilterKernel(FilterKernelKind kind) {
    if (kind == FilterKernelKind::Avx2 && !CpuHasAvx2()) return false;
    Active() = KernelsFor(kind);
    return true;
}

}  // namespace wtk
