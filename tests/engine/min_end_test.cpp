// The minute end: detector reset, time restart, automatic sensitivity, texts, minute record.
#include <gtest/gtest.h>

#include "engine_test_util.h"

namespace wtk {
namespace {

using test::EngineFixture;
using test::RecordingSink;
using test::SinkEvent;

struct MinEnd : EngineFixture {
    RecordingSink sink;
    MinEnd() : EngineFixture("576", false) {}
    // Close a minute that stored `clicks` clicks; returns its DATA2Memo line.
    std::string Close(int32_t clicks) {
        sink.clicks = clicks;
        proc.DoMinEndWith(sink);
        return host.MemoLines(Memo::DATA2Memo).back();
    }
    const SinkEvent& LastRecord() const { return sink.events.back(); }
};

float Lowered(float s, int pct) {
    return static_cast<float>(s - static_cast<double>(s) / 100 * pct);
}
float Raised(float s, int pct) {
    return static_cast<float>(s + static_cast<double>(s) / 100 * pct);
}

TEST(MinEndTest, ResetsTheDetectorAndTheTimeThenWritesTheRecordAndPumpsEvents) {
    MinEnd m;
    m.proc.FileNo = 2;
    m.proc.SampleTimeNear2MHz = 138239497;
    m.proc.LastPkNear4MHZtime = 999;
    m.proc.PkAmp = 77;  // the peak being tracked is kept
    int pumps = -1;
    m.host.onProcessMessages = [&](int) { pumps = static_cast<int>(m.sink.events.size()); };
    EXPECT_EQ(m.Close(3000), "0\t3000\t10\t0.00100");
    EXPECT_EQ(m.host.Text(Label::ProgressLbl), "File 3   Min 0  Clx 3000  DB/Scaler 10 / 0.00100");
    ASSERT_EQ(m.sink.events.size(), 2u);
    EXPECT_EQ(m.sink.events[0], (SinkEvent{SinkEvent::Peak, 255, 0, 0, true}));
    EXPECT_EQ(m.sink.events[1], (SinkEvent{SinkEvent::MinuteRecord, 1, 0, 3, false}));
    EXPECT_EQ(pumps, 2) << "events are handled after the record";
    EXPECT_EQ(m.sink.clicks, 0);
    EXPECT_EQ(m.proc.SampleTimeNear2MHz, 0);
    EXPECT_EQ(m.proc.LastPkNear4MHZtime, 0);
    EXPECT_EQ(m.proc.PkAmp, 77);
    EXPECT_EQ(m.sens.MinsInThisTK1File, 1);
    EXPECT_EQ(m.Close(12), "1\t12\t10\t0.00130") << "the line shows the adjusted gain";
}

TEST(MinEndTest, NoisyMinutesCountThreeTimesThenLowerTheGainEachMinute) {
    MinEnd m;
    EXPECT_EQ(m.Close(7000), "0\t7000\t10\t0.00100");
    EXPECT_EQ(m.Close(7000), "1\t7000\t10\t0.00100");
    EXPECT_EQ(m.Close(6145), "2\t6145\t10\t0.00100");
    EXPECT_EQ(m.sens.CurrentNofNoisyMinsInSeq, 3);
    EXPECT_EQ(m.Close(7000), "3\t7000\t10\t0.00070");
    EXPECT_EQ(m.sens.CurrentAmpScaler, Lowered(0.001f, 30));
    EXPECT_EQ(m.LastRecord(), (SinkEvent{SinkEvent::MinuteRecord, 1, 0, 2, false}));
    EXPECT_EQ(m.Close(7000), "4\t7000\t10\t0.00049");
    EXPECT_EQ(m.LastRecord().c, 1);  // Round(0.00049 x 2560)
    EXPECT_EQ(m.host.Text(Label::ProgressLbl), "File 1   Min 4  Clx 7000  DB/Scaler 10 / 0.00049");
    // Exactly the noisy level is not noisy; neither noisy nor quiet clears both counters.
    m.sens.CurrentNofQuietMinsInSeq = 1;
    m.Close(6144);
    EXPECT_EQ(m.sens.CurrentNofNoisyMinsInSeq, 0);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 0);
    EXPECT_EQ(m.sens.CurrentAmpScaler, Lowered(Lowered(0.001f, 30), 30));
}

TEST(MinEndTest, QuietMinutesRaiseTheGainAndAVeryQuietOneRaisesItAtOnceOrTwice) {
    MinEnd m;
    // Too quiet in the first quiet minute: counted and raised once.
    m.Close(19);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 1);
    EXPECT_EQ(m.sens.CurrentAmpScaler, Raised(0.001f, 30));
    m.Close(20);  // quiet but not too quiet: only counted
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 2);
    EXPECT_EQ(m.sens.CurrentAmpScaler, Raised(0.001f, 30));
    m.Close(2047);  // the run is complete: raised
    EXPECT_EQ(m.sens.CurrentAmpScaler, Raised(Raised(0.001f, 30), 30));
    const float before = m.sens.CurrentAmpScaler;
    m.Close(0);  // run complete and too quiet: raised twice
    EXPECT_EQ(m.sens.CurrentAmpScaler, Raised(Raised(before, 30), 30));
    // Up to the maximum and no further.
    for (int i = 0; i < 10; ++i) m.Close(0);
    EXPECT_EQ(m.sens.CurrentAmpScaler, 0.005f);
    EXPECT_EQ(m.host.MemoLines(Memo::DATA2Memo).back(), "13\t0\t10\t0.00500");
    EXPECT_EQ(m.LastRecord().c, 13);  // Round(12.8)
}

TEST(MinEndTest, AQuietMinuteAtAHighGainIsNeitherNoisyNorQuiet) {
    MinEnd m;
    m.settings.MaxAmpScalerValue = 1.0f;
    m.sens.CurrentAmpScaler = 0.05f;  // float 0.05 lies just above 0.05
    m.sens.ReviseFilterScale();
    m.sens.CurrentNofNoisyMinsInSeq = 2;
    m.sens.CurrentNofQuietMinsInSeq = 1;
    m.Close(1000);
    EXPECT_EQ(m.sens.CurrentNofNoisyMinsInSeq, 0);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 0);
    EXPECT_EQ(m.sens.CurrentAmpScaler, 0.05f);
    EXPECT_EQ(m.LastRecord().c, 128);
}

TEST(MinEndTest, LoweringAtTheMinimumStillRecomputesTheCoefficients) {
    MinEnd m;
    m.sens.CurrentAmpScaler = 0.00005f;
    m.sens.CurrentNofNoisyMinsInSeq = 3;
    m.sens.Coeff.fill(99.0f);
    m.Close(9000);
    EXPECT_EQ(m.sens.CurrentAmpScaler, 0.00005f);
    EXPECT_EQ(m.sens.Coeff[0], 0.00005f);
    EXPECT_EQ(m.sens.Coeff[9], static_cast<float>(511 * double{0.00005f}));
    EXPECT_EQ(m.host.MemoLines(Memo::DATA2Memo).back(), "0\t9000\t10\t0.00005");
    // A gain step of more than 100 % would go negative: clamped as well.
    m.settings.GainPercentChange = 250;
    m.sens.CurrentAmpScaler = 0.001f;
    m.Close(9000);
    EXPECT_EQ(m.sens.CurrentAmpScaler, 0.00005f);
}

TEST(MinEndTest, AbsurdGainLimitsStayWithinTheFloatRange) {
    MinEnd m;
    m.settings.MaxAmpScalerValue = 3e38f;
    m.settings.GainPercentChange = 999;
    m.sens.CurrentAmpScaler = 1e38f;
    m.Close(0);  // would be 1e40 before the clamp
    EXPECT_EQ(m.sens.CurrentAmpScaler, 3e38f);
    EXPECT_EQ(m.LastRecord().c, 255);
    m.settings.MinAmpScalerValue = -3e38f;
    m.sens.CurrentNofNoisyMinsInSeq = 3;
    m.Close(9000);  // 3e38 - 30e38
    EXPECT_EQ(m.sens.CurrentAmpScaler, -3e38f);
    EXPECT_EQ(m.LastRecord().c, 0) << "a negative scaler is recorded as 0";
}

TEST(MinEndTest, ThresholdStepsBetweenTheDeadBandAndTwoHundredFifty) {
    MinEnd m;
    m.settings.GainType = tGainType::tgThreshold;
    m.settings.NofNoisyMinsForAction = 0;
    m.settings.NofQuietMinsForAction = 0;
    std::vector<int32_t> seen;
    for (int i = 0; i < 52; ++i) {
        m.Close(7000);
        seen.push_back(m.sens.AdjustedDeadBand);
        ASSERT_EQ(m.sens.DeadBandPlusUplift, m.sens.AdjustedDeadBand - 10);
        ASSERT_EQ(m.LastRecord().b, m.sens.DeadBandPlusUplift);
    }
    EXPECT_EQ(seen[0], 15);
    EXPECT_EQ(seen[1], 20);
    EXPECT_EQ(seen[47], 250);
    EXPECT_EQ(seen[51], 250);
    EXPECT_EQ(m.sens.DeadBandPlusUplift, 240);
    EXPECT_EQ(m.sens.CurrentAmpScaler, 0.001f) << "the gain stays";
    EXPECT_EQ(m.host.Text(Label::ProgressLbl),
              "File 1   Min 51  Clx 7000  DB/Scaler 250 / 0.00100");
    for (int i = 0; i < 60; ++i) m.Close(100);  // quiet and too quiet: 10 a minute
    EXPECT_EQ(m.sens.AdjustedDeadBand, 10);
    EXPECT_EQ(m.sens.DeadBandPlusUplift, 0);
    for (int i = 0; i < 3; ++i) m.Close(2500);  // quiet by count, not too quiet: 5 a minute
    EXPECT_EQ(m.sens.AdjustedDeadBand, 10);
    // The two levels themselves are neither noisy nor quiet.
    m.sens.AdjustedDeadBand = 20;
    m.sens.DeadBandPlusUplift = 10;
    EXPECT_EQ(m.Close(6144), "115\t6144\t20\t0.00100");
    EXPECT_EQ(m.Close(2048), "116\t2048\t20\t0.00100");
    EXPECT_EQ(m.Close(2047), "117\t2047\t15\t0.00100");
}

TEST(MinEndTest, AVeryQuietMinuteLowersTheThresholdWhileTheQuietRunIsCounted) {
    MinEnd m;
    m.settings.GainType = tGainType::tgThreshold;
    m.sens.AdjustedDeadBand = 30;
    m.sens.DeadBandPlusUplift = 20;
    m.Close(5);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 1);
    EXPECT_EQ(m.sens.AdjustedDeadBand, 25);
    m.Close(5);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 2);
    EXPECT_EQ(m.sens.AdjustedDeadBand, 20);
    m.Close(5);  // run complete: the quiet step and the very-quiet step
    EXPECT_EQ(m.sens.AdjustedDeadBand, 10);
    EXPECT_EQ(m.sens.DeadBandPlusUplift, 0);
    // Noisy minutes are counted first, then raise; the quiet counter is cleared.
    m.Close(7000);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 0);
    EXPECT_EQ(m.sens.CurrentNofNoisyMinsInSeq, 1);
    EXPECT_EQ(m.sens.AdjustedDeadBand, 10);
}

TEST(MinEndTest, WithoutControlNothingChangesButEveryMinuteIsLogged) {
    MinEnd m;
    m.settings.GainType = tGainType::tgNone;
    m.sens.CurrentNofNoisyMinsInSeq = 2;
    m.sens.CurrentNofQuietMinsInSeq = 1;
    for (int32_t clicks : {0, 9000, 3000, 5}) m.Close(clicks);
    EXPECT_EQ(m.sens.CurrentNofNoisyMinsInSeq, 2);
    EXPECT_EQ(m.sens.CurrentNofQuietMinsInSeq, 1);
    EXPECT_EQ(m.sens.CurrentAmpScaler, 0.001f);
    EXPECT_EQ(m.sink.MinuteRecordCount(), 4u);
    EXPECT_EQ(m.LastRecord(), (SinkEvent{SinkEvent::MinuteRecord, 1, 0, 3, false}));
    EXPECT_EQ(m.host.MemoLines(Memo::DATA2Memo),
              (std::vector<std::string>{"0\t0\t10\t0.00100", "1\t9000\t10\t0.00100",
                                        "2\t3000\t10\t0.00100", "3\t5\t10\t0.00100"}));
    EXPECT_EQ(m.host.processMessagesCalls, 4);
}

}  // namespace
}  // namespace wtk
