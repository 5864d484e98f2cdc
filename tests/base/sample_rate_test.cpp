#include "base/sample_rate.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace wtk {
namespace {

TEST(SampleRate, TablesAt576FollowTheSinglePrecisionScaler) {
    SampleRate r;
    ASSERT_TRUE(r.KsamplesPerSecEditChange("576"));
    EXPECT_EQ(r.SamplesPerSec, 576000);
    EXPECT_EQ(r.SamplesPerMin, 34560000);
    EXPECT_FLOAT_EQ(r.IPIscaler, 0.86805558f);
    EXPECT_EQ(r.SampleTimeNear2MHzPerMin, 138239496);
    EXPECT_EQ(r.IPI255Equivalent, 294);
    EXPECT_EQ(r.TicksPerMinute(), 138239996);
    const std::vector<uint8_t> start(r.RescaleTo250ns.begin(), r.RescaleTo250ns.begin() + 8);
    EXPECT_EQ(start, (std::vector<uint8_t>{0, 1, 2, 3, 3, 4, 5, 6}));
    EXPECT_LT(r.RescaleTo250ns[293], 255);
    EXPECT_EQ(r.RescaleTo250ns[294], 255);
    EXPECT_EQ(r.RescaleTo250ns.size(), 501u);
}

TEST(SampleRate, TablesAt384And500) {
    SampleRate r;
    ASSERT_TRUE(r.KsamplesPerSecEditChange("384"));
    EXPECT_FLOAT_EQ(r.IPIscaler, 1.3020834f);
    EXPECT_EQ(r.SampleTimeNear2MHzPerMin, 92159497);
    EXPECT_EQ(r.IPI255Equivalent, 196);
    EXPECT_EQ(r.TicksPerMinute(), 92159997);
    const std::vector<uint8_t> start(r.RescaleTo250ns.begin(), r.RescaleTo250ns.begin() + 6);
    EXPECT_EQ(start, (std::vector<uint8_t>{0, 1, 3, 4, 5, 7}));
    EXPECT_LT(r.RescaleTo250ns[195], 255);
    EXPECT_EQ(r.RescaleTo250ns[196], 255);

    ASSERT_TRUE(r.KsamplesPerSecEditChange("500"));
    EXPECT_EQ(r.IPIscaler, 1.0f);
    EXPECT_EQ(r.SampleTimeNear2MHzPerMin, 119999500);
    EXPECT_EQ(r.IPI255Equivalent, 255);
    EXPECT_EQ(r.TicksPerMinute(), 120000000);
}

TEST(SampleRate, InvalidTextLeavesTablesUnchanged) {
    SampleRate r;
    ASSERT_TRUE(r.KsamplesPerSecEditChange("576"));
    const SampleRate before = r;
    for (const char* bad : {"", "0", "-5", "2001", "57a", "5.5"}) {
        EXPECT_FALSE(r.KsamplesPerSecEditChange(bad)) << bad;
        EXPECT_FALSE(r.Valid);
        EXPECT_EQ(r.SamplesPerSec, before.SamplesPerSec);
        EXPECT_EQ(r.RescaleTo250ns, before.RescaleTo250ns);
    }
    EXPECT_TRUE(r.KsamplesPerSecEditChange("2000"));
    EXPECT_TRUE(r.Valid);
}

TEST(SampleRate, HighRatesGetATableCoveringTheCap) {
    SampleRate r;
    ASSERT_TRUE(r.KsamplesPerSecEditChange("2000"));
    EXPECT_EQ(r.IPI255Equivalent, 1020);
    EXPECT_EQ(r.RescaleTo250ns.size(), 1021u);
    EXPECT_EQ(r.RescaleTo250ns[1020], 255);
    // 32-bit products would overflow at this rate; the minute length still comes out right.
    EXPECT_EQ(r.SamplesPerMin, 120000000);
}

// The blocks a file is read in and the positions after which their minutes close, which the
// batch plan and the minute table foresee by the same rules as the engine follows.
TEST(SampleRate, BlocksAndMinuteEnds) {
    SampleRate r;
    EXPECT_EQ(r.TickOfSecond(30), 0);  // no rate yet
    ASSERT_TRUE(r.KsamplesPerSecEditChange("576"));
    EXPECT_EQ(r.FirstBlockSamples(0), 34560000);
    EXPECT_EQ(r.FirstBlockSamples(30), 17280000);
    EXPECT_EQ(r.FirstBlockSamples(59), 576000);
    EXPECT_EQ(r.FirstBlockSamples(60), 288000);  // at least half a second
    EXPECT_EQ(r.TickOfSecond(0), 0);
    EXPECT_EQ(r.TickOfSecond(1), 2304000);
    EXPECT_EQ(r.TickOfSecond(30), 69119998);
    // A start with a fraction of a second: the block to its minute's end, and its tick.
    EXPECT_EQ(r.FirstBlockSamplesAt(30'000'000), 17280000);
    EXPECT_EQ(r.FirstBlockSamplesAt(30'250'000), 17136000);
    EXPECT_EQ(r.TickOfMicrosecond(30'000'000), 69119998);
    EXPECT_EQ(r.TickOfMicrosecond(30'250'000), 69695998);
    // 138239496 ticks: a count from 0 passes them after position 34559875 (not 34559874,
    // where it only reaches them).
    EXPECT_EQ(r.PositionsToMinuteEnd(0), 34559875);
    EXPECT_EQ(r.PositionsToMinuteEnd(1), 34559874);
    EXPECT_EQ(r.PositionsToMinuteEnd(4), 34559874);
    EXPECT_EQ(r.PositionsToMinuteEnd(138239496), 1);
    EXPECT_EQ(r.PositionsToMinuteEnd(138239500), 1);  // past the minute already
    // A first block from second 30 closes its minute, with 125 positions to spare.
    EXPECT_EQ(r.FirstBlockSamples(30) - r.PositionsToMinuteEnd(r.TickOfSecond(30)), 125);
    // The band-pass stage of a 2 k samples/s block closes its minute after 119876 positions.
    ASSERT_TRUE(r.KsamplesPerSecEditChange("2"));
    EXPECT_EQ(r.PositionsToMinuteEnd(0), 119876);
}

}  // namespace
}  // namespace wtk
