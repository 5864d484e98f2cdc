#include "synth/field_scenes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <vector>

#include "synth/synth.h"

namespace {

using namespace wtk::synth;

constexpr int64_t kMinuteUs = 60'000'000;

SceneOptions Field(SceneContent content, uint64_t seed, int32_t rate, double hours = 2) {
    SceneOptions o;
    o.Style = SceneStyle::Field;
    o.Content = content;
    o.Seed = seed;
    o.SampleRate = rate;
    o.Hours = hours;
    o.RecordSeconds = 120;
    o.CycleSeconds = 600;
    o.StartUs = StartMicroseconds(2024, 6, 1, 0, 0, 0);
    return o;
}

// The truth table counted again from the clicks the generator would write: every pulse's centre
// in its recording, each direct click counted in the minute its centre falls in, and a porpoise
// click audible at 10 times the noise RMS at its own time (background and vessels) and 30
// counts.
TEST(FieldScenes, TheTruthOfEveryMinuteIsTheClicksWrittenInIt) {
    int positive = 0, negativeWithClicks = 0, drownedByVessels = 0;
    for (const int32_t rate : {576000, 384000}) {
        for (const uint64_t seed : {1u, 4u, 6u}) {
            const Scene scene = PlanScene(Field(SceneContent::Mixed, seed, rate));
            EXPECT_EQ(scene.AudibleOverNoise, 10);
            EXPECT_EQ(scene.AudibleFloor, 30);
            EXPECT_EQ(scene.PositiveClicks, 5);
            ASSERT_EQ(scene.Recordings.size(), 12u);
            std::map<int64_t, SceneMinute> recount;
            for (const SceneRecording& r : scene.Recordings) {
                EXPECT_EQ(r.Spec.SampleRate, rate);
                EXPECT_EQ(r.Spec.Seconds, 120);
                EXPECT_EQ(r.Name, SceneFileName("SCENE", r.StartUs));
                ASSERT_EQ(r.Sources.size(), r.Spec.Trains.size());
                ASSERT_EQ(r.Arrivals.size(), r.Spec.Trains.size());
                for (int64_t m = 0; m < 2; ++m) {
                    recount[r.StartUs + m * kMinuteUs].NoiseRms = r.Spec.NoiseRms;
                }
                for (const ClickTruth& c : GroundTruth(r.Spec)) {
                    ASSERT_GE(c.CentreSec, 0);
                    ASSERT_LT(c.CentreSec, 120);
                    const size_t i = size_t(c.Train);
                    if (r.Arrivals[i] != SceneArrival::Direct) continue;
                    const int64_t us = r.StartUs + std::llround(c.CentreSec * 1e6);
                    SceneMinute& m = recount[us - (us - r.StartUs) % kMinuteUs];
                    switch (r.Sources[i]) {
                        case SceneSource::Buzz:
                            ++m.BuzzClicks;
                            [[fallthrough]];
                        case SceneSource::Porpoise:
                            ++m.PorpoiseClicks;
                            if (c.PeakAmplitude >=
                                std::max(30.0, 10 * NoiseRmsAt(r.Spec, c.CentreSec))) {
                                ++m.AudiblePorpoiseClicks;
                            } else if (c.PeakAmplitude >= std::max(30.0, 10 * r.Spec.NoiseRms)) {
                                ++drownedByVessels;
                            }
                            break;
                        case SceneSource::Dolphin:
                            ++m.DolphinClicks;
                            break;
                        case SceneSource::Sonar:
                            ++m.SonarPings;
                            break;
                        case SceneSource::Shrimp:
                            ++m.ShrimpClicks;
                            break;
                    }
                }
            }
            ASSERT_EQ(scene.Minutes.size(), recount.size());
            for (const SceneMinute& m : scene.Minutes) {
                const auto it = recount.find(m.StartUs);
                ASSERT_NE(it, recount.end()) << m.StartUs;
                const SceneMinute& want = it->second;
                EXPECT_EQ(m.RecordedSeconds, 60);
                EXPECT_EQ(m.NoiseRms, want.NoiseRms);
                EXPECT_EQ(m.PorpoiseClicks, want.PorpoiseClicks) << m.StartUs;
                EXPECT_EQ(m.AudiblePorpoiseClicks, want.AudiblePorpoiseClicks) << m.StartUs;
                EXPECT_EQ(m.BuzzClicks, want.BuzzClicks);
                EXPECT_EQ(m.DolphinClicks, want.DolphinClicks);
                EXPECT_EQ(m.SonarPings, want.SonarPings);
                EXPECT_EQ(m.ShrimpClicks, want.ShrimpClicks);
                EXPECT_GE(m.NoiseRms, 2);
                EXPECT_LE(m.NoiseRms, 30);
                positive += m.AudiblePorpoiseClicks >= 5;
                negativeWithClicks += m.PorpoiseClicks > 0 && m.AudiblePorpoiseClicks < 5;
            }
        }
    }
    // The scenes hold both kinds of porpoise minute the truth must tell apart.
    EXPECT_GT(positive, 5);
    EXPECT_GT(negativeWithClicks, 2);
    // and clicks loud over the background that a passing vessel's noise drowns.
    EXPECT_GT(drownedByVessels, 0) << "seeds without vessels near porpoises";
}

// What each source sends: porpoise clicks of 50-180 us near 120-145 kHz (lower off the axis),
// levels from below the noise to beyond full scale, echoes later than and no louder than their
// click, nothing the recorder's anti-alias filter removes.
TEST(FieldScenes, SourcesHaveTheirFrequenciesLengthsLevelsAndEchoes) {
    EXPECT_NEAR(CountsOfLevel(175, 175), 32767, 1e-9);
    EXPECT_NEAR(CountsOfLevel(180 - 20 * std::log10(2.0), 180), 32767 / 2.0, 1e-6);
    double loudest = 0;
    int faint = 0, clipped = 0, porpoiseEchoes = 0, slowGaps = 0, fastGaps = 0, buzzGaps = 0;
    for (const int32_t rate : {576000, 384000}) {
        for (const uint64_t seed : {4u, 5u}) {
            const Scene scene = PlanScene(Field(SceneContent::Mixed, seed, rate, 3));
            for (const SceneRecording& r : scene.Recordings) {
                const std::vector<ClickTrain>& t = r.Spec.Trains;
                double lastPorpoise = -1;
                for (size_t i = 0; i < t.size(); ++i) {
                    EXPECT_LT(t[i].FrequencyHz, 0.45 * rate);
                    EXPECT_EQ(t[i].Clicks, 1);
                    const SceneSource s = r.Sources[i];
                    const bool porpoise = s == SceneSource::Porpoise || s == SceneSource::Buzz;
                    if (porpoise && r.Arrivals[i] == SceneArrival::Direct) {
                        EXPECT_GE(t[i].FrequencyHz, 120e3 - 12e3 - 5e3);
                        EXPECT_LE(t[i].FrequencyHz, 145e3 + 5e3);
                        EXPECT_GE(t[i].DurationSec, 50e-6);
                        EXPECT_LE(t[i].DurationSec, 180e-6);
                        const double noise = NoiseRmsAt(r.Spec, t[i].StartSec);
                        faint += t[i].PeakAmplitude < 3 * noise;
                        clipped += t[i].PeakAmplitude > 32767;
                        loudest = std::max(loudest, t[i].PeakAmplitude);
                        if (lastPorpoise >= 0) {
                            const double gap = t[i].StartSec - lastPorpoise;
                            slowGaps += gap >= 0.1 && gap <= 0.25;
                            fastGaps += gap >= 0.015 && gap <= 0.03;
                            buzzGaps += s == SceneSource::Buzz && gap < 0.005;
                        }
                        lastPorpoise = t[i].StartSec;
                    }
                    if (r.Arrivals[i] != SceneArrival::Echo) continue;
                    porpoiseEchoes += porpoise;
                    // Its click: a direct pulse of the same source up to 60 ms before (the
                    // deepest water, 40 m, gives a bottom echo at most 53 ms later).
                    bool found = false;
                    for (size_t j = i; j-- > 0 && t[i].StartSec - t[j].StartSec <= 0.06;) {
                        if (r.Arrivals[j] != SceneArrival::Direct) continue;
                        const bool same = r.Sources[j] == s ||
                                          (porpoise && (r.Sources[j] == SceneSource::Porpoise ||
                                                        r.Sources[j] == SceneSource::Buzz));
                        if (same && t[j].FrequencyHz == t[i].FrequencyHz &&
                            t[j].PeakAmplitude >= t[i].PeakAmplitude &&
                            t[j].StartSec < t[i].StartSec) {
                            found = true;
                            break;
                        }
                    }
                    // (An echo in the first 60 ms may be of a click before the recording.)
                    EXPECT_TRUE(found || t[i].StartSec < 0.06) << r.Name << " pulse " << i;
                }
            }
        }
    }
    EXPECT_GT(faint, 100);
    EXPECT_GT(clipped, 5) << loudest;
    EXPECT_GT(porpoiseEchoes, 1000);
    EXPECT_GT(slowGaps, 50);
    EXPECT_GT(fastGaps, 50);
    EXPECT_GT(buzzGaps, 50);
}

// A scene of one kind of sound holds that sound alone; sounders use their frequencies, and at
// 384 k samples/s a 200 kHz sounder is not heard.
TEST(FieldScenes, ScenesOfOneKindHoldThatKindAlone) {
    std::map<double, int> sonarKhz;
    for (const int32_t rate : {576000, 384000}) {
        for (const SceneContent c : {SceneContent::Sonar, SceneContent::Shrimp,
                                     SceneContent::Dolphins, SceneContent::Noise}) {
            const Scene scene = PlanScene(Field(c, 7, rate, c == SceneContent::Shrimp ? 1 : 3));
            size_t pulses = 0, swells = 0;
            for (const SceneRecording& r : scene.Recordings) {
                pulses += r.Sources.size();
                swells += r.Spec.Swells.size();
                for (size_t i = 0; i < r.Sources.size(); ++i) {
                    const SceneSource want = c == SceneContent::Sonar    ? SceneSource::Sonar
                                             : c == SceneContent::Shrimp ? SceneSource::Shrimp
                                                                         : SceneSource::Dolphin;
                    EXPECT_EQ(r.Sources[i], want);
                    if (want == SceneSource::Sonar && r.Arrivals[i] == SceneArrival::Direct) {
                        ++sonarKhz[std::round(r.Spec.Trains[i].FrequencyHz / 1e3)];
                        EXPECT_LT(r.Spec.Trains[i].FrequencyHz, 0.45 * rate);
                    }
                }
            }
            for (const SceneMinute& m : scene.Minutes) EXPECT_EQ(m.PorpoiseClicks, 0);
            if (c == SceneContent::Noise) {
                EXPECT_EQ(pulses, 0u);
                EXPECT_GT(swells, 0u);  // vessels passing
            } else {
                EXPECT_GT(pulses, 1000u) << SceneContentName(c);
            }
        }
    }
    for (uint64_t seed = 8; seed < 12; ++seed) {
        for (const SceneRecording& r :
             PlanScene(Field(SceneContent::Sonar, seed, 576000, 3)).Recordings) {
            for (const ClickTrain& t : r.Spec.Trains) ++sonarKhz[std::round(t.FrequencyHz / 1e3)];
        }
    }
    for (const double khz : {38.0, 50.0, 120.0, 130.0, 200.0}) EXPECT_GT(sonarKhz[khz], 0) << khz;
}

TEST(FieldScenes, SeedsDecideTheSceneAndOptionsOutOfRangeAreRefused) {
    const Scene a = PlanScene(Field(SceneContent::Mixed, 9, 576000));
    const Scene b = PlanScene(Field(SceneContent::Mixed, 9, 576000));
    const Scene c = PlanScene(Field(SceneContent::Mixed, 10, 576000));
    ASSERT_EQ(a.Recordings.size(), b.Recordings.size());
    for (size_t i = 0; i < a.Recordings.size(); ++i) {
        EXPECT_EQ(a.Recordings[i].Spec.Seed, b.Recordings[i].Spec.Seed);
        EXPECT_EQ(a.Recordings[i].Spec.Trains.size(), b.Recordings[i].Spec.Trains.size());
    }
    EXPECT_NE(a.Recordings[0].Spec.Seed, c.Recordings[0].Spec.Seed);
    // The basic scenes keep their own rule of the truth.
    SceneOptions basic = Field(SceneContent::Mixed, 9, 576000);
    basic.Style = SceneStyle::Basic;
    EXPECT_EQ(PlanScene(basic).PositiveClicks, kPositiveClicks);

    for (auto bad :
         {+[](SceneOptions& o) { o.Hours = 0; }, +[](SceneOptions& o) { o.RecordSeconds = 700; },
          +[](SceneOptions& o) { o.CycleSeconds = 610, o.RecordSeconds = 60; },
          +[](SceneOptions& o) { o.StartUs += 1; }}) {
        SceneOptions o = Field(SceneContent::Mixed, 1, 576000);
        bad(o);
        EXPECT_THROW(PlanScene(o), std::invalid_argument);
    }
}

}  // namespace
