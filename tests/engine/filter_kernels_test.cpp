#include "engine/filter_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "engine/piece_reader.h"
#include "engine_test_util.h"
#include "settings/sensitivity.h"

namespace wtk {
namespace {

// Every kernel variant the processor offers; the active one is restored afterwards.
class EachKernel : public ::testing::TestWithParam<FilterKernelKind> {
protected:
    void SetUp() override {
        saved_ = ActiveFilterKernel();
        if (!SelectFilterKernel(GetParam())) GTEST_SKIP() << "processor lacks this variant";
    }
    void TearDown() override { SelectFilterKernel(saved_); }
    FilterKernelKind saved_{};
};

INSTANTIATE_TEST_SUITE_P(Kernels, EachKernel,
                         ::testing::Values(FilterKernelKind::Portable, FilterKernelKind::Avx2,
                                           FilterKernelKind::Avx512),
                         [](const auto& info) { return test::KernelName(info.param); });

TEST_P(EachKernel, SamplesAreSigned16BitLittleEndian) {
    std::vector<uint8_t> b;
    std::vector<int32_t> want;
    for (int32_t v = -32768; v <= 32767; v += 251) {
        b.push_back(static_cast<uint8_t>(v & 0xFF));
        b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        want.push_back(v);
    }
    for (size_t n : {size_t{0}, size_t{7}, want.size()}) {
        std::vector<int32_t> out(n + 1, 99);
        WidenSamples(b.data(), static_cast<int32_t>(n), out.data());
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + n, want.begin()));
        EXPECT_EQ(out[n], 99);
    }
}

// The samples as the file holds them: 16-bit little-endian.
std::vector<uint8_t> Bytes(const std::vector<int32_t>& s) {
    std::vector<uint8_t> b;
    for (int32_t v : s) {
        b.push_back(static_cast<uint8_t>(v & 0xFF));
        b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    return b;
}

TEST_P(EachKernel, HighPassOfAConstantBlockIsItsSmallDcResponse) {
    for (int32_t c : {0, 1, 1163, -1163, 1164, 32767, -32768}) {
        const int32_t n = 300;
        const std::vector<uint8_t> b = Bytes(std::vector<int32_t>(n, c));
        std::vector<int32_t> out(n - 35, 99);
        HighPassFromBytes(b.data(), n - 36, out.data());
        const int32_t want = static_cast<int32_t>(std::nearbyint(-0.000429668 * c));
        for (int32_t i = 0; i < n - 36; ++i) ASSERT_EQ(out[i], want) << "c " << c << " at " << i;
        EXPECT_EQ(out[n - 36], 99) << "wrote past the count";
    }
    std::vector<int32_t> out(1);
    HighPassFromBytes(Bytes(std::vector<int32_t>(37, 1163)).data(), 1, out.data());
    EXPECT_EQ(out[0], 0);
    HighPassFromBytes(Bytes(std::vector<int32_t>(37, 32767)).data(), 1, out.data());
    EXPECT_EQ(out[0], -14);
}

TEST_P(EachKernel, HighPassMatchesTheInPlaceReferenceOnRandomBlocks) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> full(-32768, 32767);
    std::uniform_int_distribution<int32_t> quiet(-20, 20);
    std::uniform_int_distribution<int32_t> downward(-32768, 20);
    // The long row runs through loud stretches, quiet ones and ones loud only below zero, each
    // of whose outputs a wide variant may form with less precision than its loudest sample
    // needs, and holds many sums near a half. In the ones below zero, the four samples at 34 ...
    // 37 of every 1024 (the last a wide variant's stretches of outputs read) are quiet.
    for (int32_t n : {0, 50, 83, 84, 85, 86, 87, 88, 91, 200, 1123, 4099, 4112, 200003}) {
        std::vector<int32_t> s(static_cast<size_t>(n) + 1);
        for (size_t k = 0; k < s.size(); ++k) {
            const size_t kind = (k / 1500) % 3;
            const bool tail = k % 1024 >= 34 && k % 1024 < 38;
            s[k] = kind == 0 ? full(rng) : kind == 1 || tail ? quiet(rng) : downward(rng);
        }
        std::vector<int32_t> want = s;
        test::RefHighPass(want, n);  // want[q] (q = 0 ... n - 84) is centred on s[q + 20]
        const int32_t count = std::max(n - 83, 0);
        const std::vector<uint8_t> b = Bytes(s);
        // Stored for this thread, and for another, into values aligned on a cache line, on 16
        // bytes, or on 4.
        for (const Stores stores : {Stores::Cached, Stores::Streaming}) {
            for (const size_t at : {size_t{0}, size_t{4}, size_t{1}}) {
                CacheLineVector<int32_t> out(at + static_cast<size_t>(count) + 1, 99);
                HighPassFromBytes(b.data() + 4, count, out.data() + at, stores);  // from s[2] on
                ASSERT_TRUE(std::equal(out.begin() + at, out.begin() + at + count, want.begin()))
                    << "n " << n << " at " << at;
                EXPECT_EQ(out[at + count], 99) << "wrote past the count";
            }
        }
    }
}

TEST_P(EachKernel, HighPassSumsThatFloatWouldRoundTheOtherWayComeOutOfTheDoubleSums) {
    // Windows of 37 loud samples, searched for: a float sum of the high-pass (products fused
    // with the sums, in a wide kernel's order) lies 2^-21 ... 2^-20 of the loudest sample from
    // the double sum, on the other side of a half, and further from the half than a bound of
    // 2^-21 of the loudest sample would look at. The output centred on each must come from the
    // double sum all the same.
    static const int32_t kWindows[][37] = {
        {28254, -26391, 9551,  25724,  -5051,  11901, 16209,  6634,   -16694, 14227,
         18413, -23405, 18182, 2421,   24202,  8521,  -6454,  2974,   -32499, 26918,
         27987, -21856, 22641, -29813, -12183, -9221, -24955, -23446, 170,    -31046,
         28857, 21556,  25129, -4627,  24118,  8590,  -17628},
        {25437,  -16330, -17764, -11333, 14802,  -867,   -10788, 31413,  31244,  19823,
         -27150, 2952,   29502,  31571,  23612,  24,     -16463, -31271, 31538,  -17129,
         25817,  -27618, -28476, 25578,  4445,   -29503, -14807, -14146, -28640, 27068,
         -4256,  -11502, -24224, 7697,   -28530, 30503,  4715},
        {4991,  -180,  -15137, -12219, 27457, 18600,  18398,  -23925, 7812,   -5526,
         2570,  -577,  1012,   18449,  22992, 27593,  7467,   27162,  -28423, -15584,
         10312, 14269, 14071,  -25545, 17817, 4802,   -26966, 18224,  2605,   6328,
         -5122, 11959, -17165, -12078, 24510, -18371, 10892},
        {-23262, -29305, 4201,   5021,   -18883, 8511,   15641,  -12963, -10510, -26458,
         7878,   13553,  -389,   -18097, 24450,  -575,   -21188, -7182,  30540,  -26332,
         -5048,  8855,   -17529, -26717, 24801,  -10941, 7263,   28263,  12021,  9775,
         14280,  -16025, -3594,  -7851,  -21442, -29574, -14993},
        {27967,  -15931, 14890, 21253,  8715,   -18644, -15812, -1709,  18801, -3029,
         -16720, -25926, 22246, -631,   24850,  -10263, -18046, -29916, 30949, -8634,
         10546,  13023,  -7748, -32242, -16247, 15249,  15104,  32132,  20023, 4241,
         11639,  -4602,  1689,  21011,  17831,  -8175,  6612},
        {12433,  12698,  18450,  25913, -7466,  26207,  -20447, 10002, 15069,  3424,
         6195,   -10596, -21151, 24568, -27823, 12476,  -26201, -9180, 28142,  -901,
         -28119, -25813, -20668, 26350, -4264,  -2044,  -8295,  4024,  -11649, 15686,
         -19951, -8781,  -23429, 9070,  -25352, -20249, 20947},
    };
    // Window w holds s[2 + 37 w ...], so that output 37 w is centred on its middle sample.
    const int32_t n = 2 + 37 * static_cast<int32_t>(std::size(kWindows)) + 83;
    std::vector<int32_t> s(static_cast<size_t>(n) + 1, 0);
    for (size_t w = 0; w < std::size(kWindows); ++w)
        std::copy(std::begin(kWindows[w]), std::end(kWindows[w]), s.begin() + 2 + 37 * w);
    std::vector<int32_t> want = s;
    test::RefHighPass(want, n);
    const int32_t count = n - 83;
    const std::vector<uint8_t> b = Bytes(s);
    std::vector<int32_t> out(static_cast<size_t>(count));
    HighPassFromBytes(b.data() + 4, count, out.data());
    for (int32_t q = 0; q < count; ++q) ASSERT_EQ(out[q], want[q]) << "output " << q;
}

TEST_P(EachKernel, BandPassValuesFollowThePhaseTable) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> hp(-70000, 70000);
    std::vector<int32_t> s(3000);
    for (auto& v : s) v = hp(rng);
    static const int idx[4][5] = {
        {3, 7, 11, 15, 19}, {2, 6, 10, 14, 18}, {1, 5, 9, 13, 17}, {0, 4, 8, 12, 16}};
    for (float scaler : {0.001f, 0.00049f, 0.0123457f, 1.7f, -0.3f, 3e-7f}) {
        Sensitivity sens;
        sens.CurrentAmpScaler = scaler;
        sens.ReviseFilterScale();
        const BandPassCoeffs c = MakeBandPassCoeffs(sens.Coeff);
        for (int32_t pFirst : {2, 3, 5}) {
            for (int32_t count : {0, 1, 3, 4, 5, 17, 2000}) {
                // Stored for this thread, or for another into values aligned on a cache line
                // (pFirst 2), on 16 bytes (3) or on 4 (5).
                const Stores stores = count % 2 == 0 ? Stores::Streaming : Stores::Cached;
                const size_t from = pFirst == 2 ? 0 : pFirst == 3 ? 4 : 1;
                CacheLineVector<int32_t> values(from + 4 * static_cast<size_t>(count) + 4, 12345);
                int32_t* out = values.data() + from;
                std::vector<uint64_t> mask((4 * count + 63) / 64 + 1, ~uint64_t{0});
                const int32_t threshold = 10 + pFirst;
                BandPassValues(s.data(), pFirst, count, c, threshold, out, mask.data(), stores);
                for (int32_t i = 0; i < count; ++i) {
                    for (int k = 0; k < 4; ++k) {
                        double sum = 0;
                        for (int j = 0; j < 5; ++j)
                            sum +=
                                static_cast<double>(sens.Coeff[idx[k][j]]) * s[pFirst + i - 2 + j];
                        const int32_t at = 4 * i + k;
                        ASSERT_EQ(out[at], test::RefRound(sum))
                            << "scaler " << scaler << " position " << pFirst + i << " phase " << k;
                        ASSERT_EQ((mask[at / 64] >> (at % 64)) & 1, out[at] > threshold ? 1u : 0u)
                            << "mask bit " << at;
                    }
                }
                EXPECT_EQ(out[4 * count], 12345) << "wrote past the chunk";
                for (int32_t at = 4 * count; at < static_cast<int32_t>(mask.size()) * 64 - 64;
                     ++at) {
                    ASSERT_EQ((mask[at / 64] >> (at % 64)) & 1, 0u) << "mask bit past the chunk";
                }
            }
        }
    }
}

// The plain sums of each phase, in the order of the phase table.
void ExpectPlainSums(const std::array<float, 20>& coeff, const std::vector<int32_t>& s,
                     const char* row) {
    static const int idx[4][5] = {
        {3, 7, 11, 15, 19}, {2, 6, 10, 14, 18}, {1, 5, 9, 13, 17}, {0, 4, 8, 12, 16}};
    const BandPassCoeffs c = MakeBandPassCoeffs(coeff);
    const auto count = static_cast<int32_t>(s.size()) - 4;
    std::vector<int32_t> out(4 * s.size());
    std::vector<uint64_t> mask(s.size() / 16 + 1);
    BandPassValues(s.data(), 2, count, c, 0, out.data(), mask.data());
    for (int32_t i = 0; i < count; ++i) {
        for (int k = 0; k < 4; ++k) {
            double sum = 0;
            for (int j = 0; j < 5; ++j) sum += static_cast<double>(coeff[idx[k][j]]) * s[i + j];
            ASSERT_EQ(out[4 * i + k], test::RefRound(sum)) << row << " position " << i;
        }
    }
}

TEST_P(EachKernel, BandPassValuesAreThePlainSumsWhereAFewSamplesAreLoud) {
    // Values are the plain sums whatever the loudness of a chunk's samples: quiet chunks whose
    // last four samples are loud, and chunks loud only below zero (a variant that took its
    // precision from part of the samples, or from their signed values, would round some wrong).
    std::mt19937 rng(9);
    std::uniform_int_distribution<int32_t> quiet(-20, 20), loud(-131071, 131071),
        downward(-131071, 20);
    for (float scaler : {1.7f, 0.0123457f}) {
        Sensitivity sens;
        sens.CurrentAmpScaler = scaler;
        sens.ReviseFilterScale();
        for (int trial = 0; trial < 400; ++trial) {
            std::vector<int32_t> s(24 + 4);
            for (size_t k = 0; k < s.size(); ++k) {
                s[k] = trial % 2 == 1 ? downward(rng) : k + 4 >= s.size() ? loud(rng) : quiet(rng);
            }
            ExpectPlainSums(sens.Coeff, s, trial % 2 == 1 ? "downward" : "loud end");
        }
    }
}

TEST_P(EachKernel, BandPassFoldsOnlyASymmetricKernelWhoseSumsAreExact) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int32_t> hp(-131071, 131071);
    std::vector<int32_t> s(1003);
    for (auto& v : s) v = hp(rng);
    // The sensitivity's kernels, at the presets' least and greatest gains and beyond, up to
    // where the sums may overflow.
    for (float scaler : {0.001f, 0.00005f, 0.005f, 0.0123457f, 3e-7f, 17.9f}) {
        Sensitivity sens;
        sens.CurrentAmpScaler = scaler;
        sens.ReviseFilterScale();
        EXPECT_TRUE(MakeBandPassCoeffs(sens.Coeff).folded) << scaler;
        ExpectPlainSums(sens.Coeff, s, "gain");
    }
    Sensitivity sens;
    sens.CurrentAmpScaler = 0.001f;
    sens.ReviseFilterScale();
    // Not symmetric: one coefficient of phase 0 differs from its mirror in phase 3.
    std::array<float, 20> lopsided = sens.Coeff;
    lopsided[3] = std::nextafter(lopsided[3], 1.0f);
    EXPECT_FALSE(MakeBandPassCoeffs(lopsided).folded);
    ExpectPlainSums(lopsided, s, "lopsided");
    // Symmetric, but bits 2^-70 and 2^0 in one sum: the plain order rounds, and so must every
    // kernel.
    std::array<float, 20> wide = sens.Coeff;
    wide[0] = wide[19] = 1.0f;
    wide[4] = wide[15] = std::ldexp(1.0f, -70);
    EXPECT_FALSE(MakeBandPassCoeffs(wide).folded);
    ExpectPlainSums(wide, s, "wide");
    // At the edge: phase 0 is {0, 0, 0, 2^-e, 1} (and its mirrors). Its half sums have bits
    // down to 2^-(e + 1) in values up to 2^17 (pairs of samples below 2^18), exact in double
    // for e = 34 and not for e = 35.
    for (const int e : {34, 35}) {
        std::array<float, 20> edge{};
        edge[0] = edge[19] = 1.0f;
        edge[4] = edge[15] = std::ldexp(1.0f, -e);
        EXPECT_EQ(MakeBandPassCoeffs(edge).folded, e == 34) << "2^-" << e;
        ExpectPlainSums(edge, s, "edge");
    }
    // Overflowing sums saturate and are not folded.
    sens.CurrentAmpScaler = 3e38f;
    sens.ReviseFilterScale();
    EXPECT_FALSE(MakeBandPassCoeffs(sens.Coeff).folded);
}

// The block screen must flag every block that holds a value above the threshold, also where
// the largest value lies just one above it, and should pass over a block whose values all lie
// clearly below it; a gain whose float sums could overflow flags every block.
TEST_P(EachKernel, TheBlockScreenMissesNoValueAboveTheThreshold) {
    std::mt19937 rng(13);
    std::array<float, 20> lopsided{}, wide{};
    {
        Sensitivity sens;
        sens.CurrentAmpScaler = 0.001f;
        sens.ReviseFilterScale();
        lopsided = sens.Coeff;
        lopsided[3] = std::nextafter(lopsided[3], 1.0f);
        wide = sens.Coeff;
        wide[0] = wide[19] = 1.0f;
        wide[4] = wide[15] = std::ldexp(1.0f, -70);
    }
    std::vector<std::pair<const char*, std::array<float, 20>>> kernels = {{"lopsided", lopsided},
                                                                          {"wide", wide}};
    for (float scaler : {0.001f, 0.00005f, 0.0123457f, 1.7f, -0.3f, 3e-7f}) {
        Sensitivity sens;
        sens.CurrentAmpScaler = scaler;
        sens.ReviseFilterScale();
        kernels.emplace_back("gain", sens.Coeff);
    }
    for (const auto& [name, coeff] : kernels) {
        const BandPassCoeffs c = MakeBandPassCoeffs(coeff);
        double largestSum = 0;
        for (const auto& phase : c.c) {
            double sum = 0;
            for (double v : phase) sum += std::fabs(v);
            largestSum = std::max(largestSum, sum);
        }
        for (const int32_t range : {40, 3000, 131071}) {
            std::uniform_int_distribution<int32_t> hp(-range, range);
            const int32_t count = 1990;  // 124 blocks of 16 and one of 6
            std::vector<int32_t> s(static_cast<size_t>(count) + 4);
            for (auto& v : s) v = hp(rng);
            std::vector<int32_t> values(4 * s.size());
            std::vector<uint64_t> above(s.size() / 16 + 1);
            BandPassValues(s.data(), 2, count, c, 0, values.data(), above.data());
            for (int32_t b = 0; 16 * b < count; ++b) {
                const int32_t n = std::min(16, count - 16 * b);
                const int32_t most =
                    *std::max_element(values.begin() + 64 * b, values.begin() + 64 * b + 4 * n);
                // The block alone, at thresholds just below its largest value and clearly
                // above it.
                uint64_t bits = 0;
                BandPassBlocksMayExceed(s.data(), 2 + 16 * b, n, c, most - 1, &bits);
                ASSERT_EQ(bits, 1u)
                    << name << " range " << range << " block " << b << " max " << most;
                if (most > INT32_MAX - 2 - static_cast<int32_t>(largestSum)) continue;
                bits = 7;
                BandPassBlocksMayExceed(s.data(), 2 + 16 * b, n, c,
                                        most + 1 + static_cast<int32_t>(std::ceil(largestSum)),
                                        &bits);
                EXPECT_EQ(bits, c.mayOverflow ? 1u : 0u)
                    << name << " range " << range << " block " << b << " max " << most;
            }
            // All blocks at once, with a threshold that some blocks reach.
            const int32_t threshold = values[17];
            BandPassValues(s.data(), 2, count, c, threshold, values.data(), above.data());
            std::array<uint64_t, 2> blocks{~uint64_t{0}, ~uint64_t{0}};
            BandPassBlocksMayExceed(s.data(), 2, count, c, threshold, blocks.data());
            for (int32_t b = 0; b < 128; ++b) {
                const bool flagged = ((blocks[b / 64] >> (b % 64)) & 1) != 0;
                if (16 * b >= count) {
                    ASSERT_FALSE(flagged) << "bit past the last block " << b;
                } else if (above[b] != 0) {
                    ASSERT_TRUE(flagged) << name << " range " << range << " block " << b;
                }
            }
        }
    }
    // Coefficients whose float sums could overflow (to infinities of both signs, whose sums
    // are not numbers): every block may rise.
    Sensitivity sens;
    sens.CurrentAmpScaler = 3e38f;
    sens.ReviseFilterScale();
    std::vector<int32_t> s(40);
    for (size_t i = 0; i < s.size(); ++i) s[i] = (i % 3 == 0 ? -1 : 1) * static_cast<int32_t>(i);
    uint64_t bits = 0;
    BandPassBlocksMayExceed(s.data(), 2, 36, MakeBandPassCoeffs(sens.Coeff), 1000, &bits);
    EXPECT_EQ(bits, 7u);
}

TEST_P(EachKernel, BandPassSaturatesAbsurdGains) {
    Sensitivity sens;
    sens.CurrentAmpScaler = 3e38f;  // coefficients beyond the float range stay finite
    sens.ReviseFilterScale();
    for (float c : sens.Coeff) EXPECT_TRUE(std::isfinite(c));
    const BandPassCoeffs c = MakeBandPassCoeffs(sens.Coeff);
    std::vector<int32_t> s = {0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(c.mayOverflow);
    std::vector<int32_t> out(8);
    uint64_t mask = 0;
    BandPassValues(s.data(), 2, 2, c, 10, out.data(), &mask);
    for (int32_t v : out) EXPECT_EQ(v, 2147483647);
    EXPECT_EQ(mask, 0xFFu);
    s[2] = -5;
    BandPassValues(s.data(), 2, 2, c, 10, out.data(), &mask);
    EXPECT_EQ(mask, 0u);
    for (int32_t v : out) EXPECT_EQ(v, -2147483647 - 1);
    // Enough positions for every vector loop, not only the tail: each value equals the portable
    // kernel's, saturated to one end of the range (or zero).
    std::mt19937 rng(5);
    std::vector<int32_t> many(48);
    for (int32_t& v : many) v = static_cast<int32_t>(rng() % 11) - 5;
    std::vector<int32_t> vals(4 * 40), want(4 * 40);
    std::vector<uint64_t> above(3), wantAbove(3);
    BandPassValues(many.data(), 2, 40, c, 10, vals.data(), above.data());
    ASSERT_TRUE(SelectFilterKernel(FilterKernelKind::Portable));
    BandPassValues(many.data(), 2, 40, c, 10, want.data(), wantAbove.data());
    SelectFilterKernel(GetParam());
    EXPECT_EQ(vals, want);
    EXPECT_EQ(above, wantAbove);
    EXPECT_TRUE(std::all_of(want.begin(), want.end(), [](int32_t v) {
        return v == 0 || v == 2147483647 || v == -2147483647 - 1;
    }));
    EXPECT_EQ(sens.MinuteScalerX2560, 255);
    sens.CurrentAmpScaler = -3e38f;
    sens.ReviseFilterScale();
    EXPECT_EQ(sens.MinuteScalerX2560, 0);
}

}  // namespace
}  // namespace wtk
