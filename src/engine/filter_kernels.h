// The two filters of the sample processing as plain array kernels. Every variant gives the
// same bits: the high-pass sum is formed in double in one fixed order per output, the band-pass
// sums are exact in double, rounding is to nearest with ties to even, and no multiply-add that
// forms them is fused. The wide variants only process several outputs side by side (the AVX2
// high-pass and screen add in float, fused, and check every result against a proven bound).
#pragma once

#include <array>
#include <cstdint>
#include <limits>

namespace wtk {

// High-pass taps: offset 0, then the pair offsets 1 ... 9 and 18 (no taps at 10 ... 17).
inline constexpr std::array<double, 11> kHighPassTaps = {
    0.957,        -0.08387869,  -0.080566929, -0.075193191, -0.068096363, -0.059647107,
    -0.050278888, -0.040401718, -0.030523624, -0.021081845, 0.030953521};
inline constexpr std::array<int32_t, 11> kHighPassOffsets = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 18};

// Band-pass coefficients as the kernels take them: phase k (the k-th of the four outputs of a
// position, k = 0 ... 3) multiplies Samples[p - 2 + j] by Coeff[(3 - k) + 4 j], j = 0 ... 4.
struct BandPassCoeffs {
    std::array<std::array<double, 5>, 4> c{};
    // The largest sum of a phase's coefficient magnitudes (unknown, so infinite, until made).
    double largestSum = std::numeric_limits<double>::infinity();
    // A sum can leave the int32 range for inputs below 2^17 (only with absurd gains), so the
    // kernels must saturate.
    bool mayOverflow = false;
    // The kernel is symmetric (phase 3 is phase 0 reversed, phase 2 phase 1) and every sum and
    // product below is exact in double, so a kernel may form phases 0 and 3 (1 and 2) as
    // P + Q and P - Q from the pairs x0 + x4, x0 - x4, x1 + x3, x1 - x3 of the samples they
    // read: P = h0 (x0 + x4) + h1 (x1 + x3) + h2 x2, Q = g0 (x0 - x4) + g1 (x1 - x3), with
    // half sums h and half differences g of the coefficients. Exact sums are the same
    // in any order, so this gives the very values of the plain sums with half the products.
    bool folded = false;
    // h0, h1, h2, g0, g1 of phases 0 and 3, then those of phases 1 and 2 (when folded).
    std::array<std::array<double, 5>, 2> fold{};
};
// From the sensitivity's 20 coefficients (the gain in them), with mayOverflow set where the sum
// of a phase's magnitudes times 2^17 reaches the int32 range, and folded where it may be.
BandPassCoeffs MakeBandPassCoeffs(const std::array<float, 20>& Coeff);

enum class FilterKernelKind { Portable, Avx2, Avx512 };

// How a kernel stores its values: for the thread that made them (in the caches), or for another
// thread (Streaming: past the caches where the processor can and the values are 32-byte
// aligned, so that lines the other thread read last need not be taken back from it first, and
// it reads them from memory rather than from this thread's cache).
enum class Stores { Cached, Streaming };

// Samples from the raw block: out[i] = the signed 16-bit little-endian value of
// bytes[2 i], bytes[2 i + 1], for i = 0 ... n - 1.
void WidenSamples(const uint8_t* bytes, int32_t n, int32_t* out);

// High-pass straight from the raw block: out[i] = Round(0.957 x[i + 18] + sum over d of
// h(d) (x[i + 18 - d] + x[i + 18 + d])) for i = 0 ... count - 1, where x[j] is the signed 16-bit
// little-endian sample at bytes[2 j], bytes[2 j + 1] (reads samples 0 ... count + 35).
void HighPassFromBytes(const uint8_t* bytes, int32_t count, int32_t* out,
                       Stores stores = Stores::Cached);

// Four band-pass values per position p = pFirst ... pFirst + count - 1, in time order, into
// out[0 ... 4 count - 1]; reads s[pFirst - 2 ... pFirst + count + 1], which must lie below 2^17
// in magnitude (high-pass outputs of 16-bit samples do). A rounded value outside the int32
// range saturates. Bit i of aboveMask (ceil(4 count / 64) words) is set when out[i] > threshold.
void BandPassValues(const int32_t* s, int32_t pFirst, int32_t count, const BandPassCoeffs& c,
                    int32_t threshold, int32_t* out, uint64_t* aboveMask,
                    Stores stores = Stores::Cached);

// Which 16-position blocks of positions pFirst ... pFirst + count - 1 (block b: positions
// pFirst + 16 b ..., the last one possibly shorter) may hold a band-pass value above threshold:
// bit b of blocks (ceil(count / 1024) words) is clear only where every value of the block
// surely lies at or below it. Made from float sums with a margin that covers their rounding, at
// a fraction of the cost of the values; reads as BandPassValues reads.
void BandPassBlocksMayExceed(const int32_t* s, int32_t pFirst, int32_t count,
                             const BandPassCoeffs& c, int32_t threshold, uint64_t* blocks);

// A quiet block: its raw samples span (maximum less minimum, known only for a block scanned
// for the graphs) no more than 4 x the threshold. Its band-pass values are neither made nor
// searched for peaks; its time runs on.
constexpr bool IsQuietBlock(int64_t rawSpan, int32_t threshold) {
    return rawSpan <= 4 * int64_t{threshold};
}

// The variant in use (the widest the processor supports, unless a test selects another).
FilterKernelKind ActiveFilterKernel();
// Select a variant; returns false (and changes nothing) when the processor lacks it.
bool SelectFilterKernel(FilterKernelKind kind);

}  // namespace wtk
