// The peak finder fed one band-pass value at a time.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "engine_test_util.h"

namespace wtk {
namespace {

using test::EngineFixture;
using test::RecordingSink;
using test::SinkEvent;

struct PeakFinder : EngineFixture {
    RecordingSink sink;
    explicit PeakFinder(const char* ksps = "576") : EngineFixture(ksps, false) {
        proc.PkAmp = sens.AdjustedDeadBand;
        proc.PkConfirmationLevel = -2147483647;
    }
    void Offer(std::initializer_list<int32_t> values) {
        for (int32_t v : values) proc.OfferBandPassValue(sink, v);
    }
    // A peak of 100 at the given tick with equal neighbours (no refinement), confirmed by its
    // first falling value.
    void Peak(int32_t tick) {
        proc.SampleTimeNear2MHz = tick - 2;
        Offer({40, 100, 40});
    }
};

TEST(PeakFinderTest, RefinementMovesHalfATickTowardTheLargerNeighbourPastPkAmpDiv64) {
    struct Case {
        int32_t fall;  // first value after the peak 128 (rising neighbour 100)
        int32_t move;  // expected half-tick move
    };
    // 128 div 64 = 2: a difference of exactly 2 does not move the time.
    for (const Case c : {Case{100, 0}, Case{102, 0}, Case{98, 0}, Case{103, 1}, Case{97, -1}}) {
        PeakFinder f;
        f.proc.SampleTimeNear2MHz = 1000;
        f.Offer({100, 128, c.fall});  // the peak is at tick 1002
        EXPECT_TRUE(f.proc.PkOnHold);
        EXPECT_EQ(f.proc.PkNear2MHZtime, 1002);
        EXPECT_EQ(f.proc.PkNear4MHZtime, 2004 + c.move) << "fall " << c.fall;
        EXPECT_TRUE(f.sink.events.empty()) << "not yet confirmed";
        f.Offer({63});  // below PkAmp div 2 = 64: confirmed and handed over
        ASSERT_EQ(f.sink.events.size(), 1u);
        EXPECT_EQ(f.proc.LastPkNear4MHZtime, 2004 + c.move);
        EXPECT_EQ(f.sink.events[0].c,
                  static_cast<int32_t>(std::nearbyint(1002 * double{f.rate.IPIscaler})));
        EXPECT_EQ(f.sink.events[0].b, CompressedAmplitude(128));
        EXPECT_FALSE(f.sink.events[0].init);
        // 63 lies above the threshold: it starts a new tracked peak on the flank.
        EXPECT_FALSE(f.proc.PkOnHold);
        EXPECT_EQ(f.proc.PkAmp, 63);
        EXPECT_EQ(f.proc.PkConfirmationLevel, 31);
    }
}

TEST(PeakFinderTest, AFirstFallBelowHalfThePeakConfirmsAtOnceAndEqualValuesChangeNothing) {
    PeakFinder f;
    f.proc.SampleTimeNear2MHz = 500;
    f.Offer({100, 100});  // an equal value neither raises nor holds
    EXPECT_FALSE(f.proc.PkOnHold);
    EXPECT_EQ(f.proc.PkNear2MHZtime, 501);
    f.Offer({5});  // at or below the threshold: not tested, LastAmp stays
    EXPECT_EQ(f.proc.LastAmp, 100);
    EXPECT_TRUE(f.sink.events.empty());
    f.Offer({49});  // below 100 div 2 at the first fall: confirmed inside TestNewAmpVal
    ASSERT_EQ(f.sink.events.size(), 1u);
    EXPECT_EQ(f.proc.LastAmp, 49);
    EXPECT_EQ(f.proc.PkAmp, 10);
    EXPECT_EQ(f.proc.PkConfirmationLevel, -2147483647);
    EXPECT_EQ(f.proc.SampleTimeNear2MHz, 504);
}

TEST(PeakFinderTest, LongIntervalsAreCappedAt255) {
    for (const char* ksps : {"576", "384"}) {
        PeakFinder f(ksps);
        f.proc.LastPkNear4MHZtime = 0;
        f.Peak(20000);
        ASSERT_EQ(f.sink.events.size(), 1u);
        EXPECT_EQ(f.sink.events[0].a, 255) << ksps;
        // One half tick short of the cap gives less than 255.
        PeakFinder g(ksps);
        g.proc.LastPkNear4MHZtime = 40000 - (g.rate.IPI255Equivalent - 1);
        g.Peak(20000);
        ASSERT_EQ(g.sink.events.size(), 1u);
        EXPECT_LT(g.sink.events[0].a, 255) << ksps;
        EXPECT_EQ(g.sink.events[0].a, g.rate.RescaleTo250ns[g.rate.IPI255Equivalent - 1]);
    }
}

TEST(PeakFinderTest, ShortAndNegativeIntervalsAreNotHandedOverButBecomeTheReference) {
    PeakFinder f;
    ASSERT_EQ(f.sens.RescaledMinAnyIPI, 21);
    f.proc.LastPkNear4MHZtime = 0;
    f.Peak(1000);
    ASSERT_EQ(f.sink.events.size(), 1u);
    f.Peak(1010);  // 20 half ticks: too close
    EXPECT_EQ(f.sink.events.size(), 1u);
    EXPECT_EQ(f.proc.LastPkNear4MHZtime, 2020);
    f.Peak(1030);  // measured from the peak that was too close: 40 half ticks
    ASSERT_EQ(f.sink.events.size(), 2u);
    EXPECT_EQ(f.sink.events[1].a, f.rate.RescaleTo250ns[40]);
    // A peak before the reference gives a negative interval: not handed over.
    f.proc.LastPkNear4MHZtime = 5000;
    f.Peak(1040);
    EXPECT_EQ(f.sink.events.size(), 2u);
    EXPECT_EQ(f.proc.LastPkNear4MHZtime, 2080);
    // Exactly RescaledMinAnyIPI is too close as well; one more is handed over.
    f.proc.LastPkNear4MHZtime = 4000 - 21;
    f.Peak(2000);
    EXPECT_EQ(f.sink.events.size(), 2u);
    f.proc.LastPkNear4MHZtime = 6000 - 22;
    f.Peak(3000);
    ASSERT_EQ(f.sink.events.size(), 3u);
    EXPECT_EQ(f.sink.events[2].a, f.rate.RescaleTo250ns[22]);
}

TEST(PeakFinderTest, FlankPeaksShortenTheIntervalOfASteadyTone) {
    // One period of 12 ticks: the true peak (100) is handed over at 40, 40 then starts a
    // flank peak that is confirmed at 15, too close to be handed over, and becomes the
    // reference. The true period is 24 half ticks; the interval handed over is 22.
    PeakFinder f;
    for (int cycle = 0; cycle < 6; ++cycle) {
        f.Offer({20, 60, 100, 70, 40, 30, 15, 5, -50, -100, -50, 0});
    }
    // The first cycle's peak lies too close to the start; each later one is handed over.
    ASSERT_EQ(f.sink.events.size(), 5u);
    for (size_t i = 0; i < f.sink.events.size(); ++i) {
        EXPECT_EQ(f.sink.events[i].a, f.rate.RescaleTo250ns[22]) << i;
        EXPECT_NE(f.rate.RescaleTo250ns[22], f.rate.RescaleTo250ns[24]);
        // The time handed over is the unrefined tick of the true peak.
        EXPECT_EQ(
            f.sink.events[i].c,
            static_cast<int32_t>(std::nearbyint((12 * (i + 1) + 3) * double{f.rate.IPIscaler})));
    }
}

// The chunked scan of the band-pass stage against the same values offered one at a time, from
// many peak states: held or not, a held peak below a threshold raised since it was found
// (a minute end may raise it), no confirmation level, values around the threshold.
// The search for the end of a run of rises, which looks at four values at once, against the
// plain walk: every start, every end of the values (the last group partly past it), values
// past the end that would continue the run or stop it.
TEST(PeakFinderTest, TheRiseSearchAgreesWithThePlainWalkAtEveryEnd) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 3000; ++trial) {
        const int32_t thr = std::array<int32_t, 3>{-5, 0, 20}[trial % 3];
        std::vector<int32_t> v(20 + peaks::kValuesPadding);
        // Mostly rising runs, with equal values, falls and dips to the threshold.
        int32_t x = thr + std::uniform_int_distribution<int32_t>(-3, 10)(rng);
        for (int32_t& e : v) {
            const int32_t r = std::uniform_int_distribution<int32_t>(0, 9)(rng);
            x = r < 6 ? x + r : r < 8 ? x : r == 8 ? x - 4 : thr;
            e = x;
        }
        for (int32_t n = 1; n <= 20; ++n) {
            for (int32_t k = 0; k < n; ++k) {
                int32_t end = k + 1, top = k;
                for (; end < n && v[end] >= v[end - 1] && v[end] > thr; ++end) {
                    if (v[end] > v[end - 1]) top = end;
                }
                const auto got = peaks::detail::RiseEnd(v.data(), k, n, thr);
                ASSERT_EQ(std::make_pair(got.end, got.top), std::make_pair(end, top))
                    << "trial " << trial << " n " << n << " k " << k;
            }
        }
    }
}

TEST(PeakFinderTest, TheChunkedScanAgreesWithOneValueAtATimeFromAnyState) {
    std::mt19937 rng(7);
    auto uniform = [&](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    };
    for (int trial = 0; trial < 400; ++trial) {
        EngineFixture chunked("576"), single("576", false);
        RecordingSink a, b;
        const int32_t thr = std::array<int32_t, 4>{0, 3, 10, 25}[trial % 4];
        chunked.sens.AdjustedDeadBand = single.sens.AdjustedDeadBand = thr;
        // High-pass values: a few tones of random amplitude and period plus noise.
        const int32_t count = uniform(1, 3000);
        std::vector<int32_t> hp(static_cast<size_t>(count) + 4);
        const double amp = uniform(0, 4 * thr + 20), period = uniform(3, 40);
        for (size_t i = 0; i < hp.size(); ++i) {
            hp[i] = static_cast<int32_t>(std::lround(amp * std::sin(6.283 * i / period))) +
                    uniform(-thr / 2 - 1, thr / 2 + 1);
        }
        std::vector<int32_t> values(4 * hp.size());
        std::vector<uint64_t> above(values.size() / 64 + 1);
        BandPassValues(hp.data(), 2, count, MakeBandPassCoeffs(chunked.sens.Coeff), thr,
                       values.data(), above.data());
        for (SampleProcessor* p : {&chunked.proc, &single.proc}) {
            std::mt19937 same(trial);
            auto pick = [&](int32_t lo, int32_t hi) {
                return std::uniform_int_distribution<int32_t>(lo, hi)(same);
            };
            p->SampleTimeNear2MHz = 1000;
            p->PkAmp = pick(0, 3 * thr + 30);
            p->PkOnHold = pick(0, 1) == 1;
            p->PkConfirmationLevel = pick(0, 2) == 0 ? -2147483647 : p->PkAmp / 2;
            p->PrePkAmp = pick(-20, 60);
            p->LastAmp = pick(-20, 60);
            p->PkNear2MHZtime = pick(0, 999);
            p->PkNear4MHZtime = pick(0, 1999);
            p->LastPkNear4MHZtime = pick(0, 1999);
            p->MaxSampleThisMinute = 0;  // no quiet-block skip
            p->MinSampleThisMinute = 2147483647;
        }
        chunked.proc.BandPassStage(a, hp.data(), count);
        for (int32_t i = 0; i < 4 * count; ++i) single.proc.OfferBandPassValue(b, values[i]);
        ASSERT_EQ(a.events, b.events) << "trial " << trial;
        const SampleProcessor &x = chunked.proc, &y = single.proc;
        ASSERT_EQ(
            std::tie(x.SampleTimeNear2MHz, x.PkAmp, x.PrePkAmp, x.LastAmp, x.PkNear2MHZtime,
                     x.PkNear4MHZtime, x.LastPkNear4MHZtime, x.PkConfirmationLevel, x.PkOnHold),
            std::tie(y.SampleTimeNear2MHz, y.PkAmp, y.PrePkAmp, y.LastAmp, y.PkNear2MHZtime,
                     y.PkNear4MHZtime, y.LastPkNear4MHZtime, y.PkConfirmationLevel, y.PkOnHold))
            << "trial " << trial;
    }
}

}  // namespace
}  // namespace wtk
