// The click detector's assembly of clicks and its acceptance tests.
#include <gtest/gtest.h>

#include "detector_rig.h"

namespace wtk::test {
namespace {

using Detector = DetectorRig;

// Eleven peaks: an overlong interval, then a ten-cycle click with its maximum (80) at cycle 4.
void FeedExampleClick(DetectorRig& d) {
    d.Pk(255, 30, 1000);
    const int amps[10] = {30, 40, 60, 80, 70, 60, 50, 40, 35, 30};
    for (int i = 0; i < 10; ++i) d.Pk(40, amps[i], 1020 + 20 * i);
}

TEST_F(Detector, WorkedExampleStoresOneRecordAndOpensTheNextClick) {
    FeedExampleClick(*this);
    EXPECT_EQ(det.Ncyc, 10);
    Pk(255, 20, 3200);  // an overlong interval neither ends nor starts a click
    EXPECT_EQ(det.Ncyc, 10);
    EXPECT_EQ(NofRecords(), 0u);
    Pk(30, 20, 3215);  // breaks the period: the click is judged

    ASSERT_EQ(NofRecords(), 1u);
    const std::array<uint8_t, 16> expected = {0x00, 0x00, 0x6C, 0x0A, 0x40, 0x28, 0x28, 0x28,
                                              0x28, 0x3C, 0x50, 0x46, 0x00, 0x11, 0x40, 0x28};
    EXPECT_EQ(Record(0), expected);
    EXPECT_EQ(det.ClicksThisMin, 1);
    EXPECT_EQ(det.CycLimit, 2);
    EXPECT_EQ(det.ReverbFilterAmp, 80);
    EXPECT_EQ(det.LastAmpSeqFilterTime, 108);
    EXPECT_EQ(det.Ncyc, 1);
    EXPECT_EQ(det.NextState, NextStateKind::sWaitForPeak);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(Detector, ClickOpenAtMinuteEndIsLost) {
    FeedExampleClick(*this);
    det.ClickSelSM(40, 99, 777, true);
    EXPECT_EQ(det.Ncyc, 0);
    Pk(255, 20, 3200);
    Pk(30, 20, 3215);
    EXPECT_EQ(NofRecords(), 0u);
    EXPECT_EQ(det.ClicksThisMin, 0);
    EXPECT_EQ(det.Ncyc, 1);  // the last peak still opens a click
}

TEST_F(Detector, PeriodJumpLimitsDependOnAmplitude) {
    struct Case {
        int ipi, amp;
        bool continues;
    } cases[] = {
        {60, 60, true}, {20, 60, true}, {61, 60, false},  // at WorkingStrongLimit3: 40 div 2
        {50, 59, true}, {30, 59, true}, {51, 59, false}, {29, 59, false},  // below: 40 div 4
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        Train(t, 40, {70, 70, 70});
        ASSERT_EQ(det.Ncyc, 3);
        Pk(c.ipi, c.amp, t + 60);
        EXPECT_EQ(det.Ncyc, c.continues ? 4 : 1) << c.ipi << " " << c.amp;
        EndClick(t + 80);
        t += 10000;
    }
    // After an overlong interval the period compares with 255.
    for (auto [ipi, amp, continues] :
         {Case{128, 70, true}, Case{127, 70, false}, Case{192, 59, true}, Case{191, 59, false}}) {
        Train(t, 200, {70, 70, 70});
        Pk(255, 70, t + 60);
        Pk(ipi, amp, t + 80);
        EXPECT_EQ(det.Ncyc, continues ? 4 : 1) << ipi << " " << amp;
        EndClick(t + 100);
        t += 10000;
    }
}

TEST_F(Detector, BreakingPeakOpensNextClickOnlyWithAStartInterval) {
    int32_t t = 10000;
    for (auto [ipi, opens] : {std::pair{219, true}, {220, false}, {18, true}, {17, false}}) {
        Train(t, 40, {70, 70, 70});
        Pk(ipi, 70, t + 60);
        EXPECT_EQ(det.Ncyc, opens ? 1 : 0) << ipi;
        EndClick(t + 80);
        t += 10000;
    }
}

TEST_F(Detector, AmplitudeDropFilter) {
    struct Case {
        bool tough;
        int uplift, level, drop;
        bool continues;
    } cases[] = {
        {true, 0, 40, 19, true},  // just below half: tough filter keeps it
        {true, 0, 40, 10, true},  {true, 0, 40, 9, false},    // a quarter
        {false, 0, 40, 20, true}, {false, 0, 40, 19, false},  // a half
        {true, 0, 50, 1, true},    // Pmax at MaxSPLforAmpDropTest: no filter
        {true, 10, 55, 5, false},  // the uplift raises the filter's level
        {true, 10, 60, 5, true},
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        s.UsingToughAmpDrop = c.tough;
        sens.DeadBandPlusUplift = uint8_t(c.uplift);
        Train(t, 40, {c.level, c.level, c.level});
        Pk(40, c.drop, t + 60);
        EXPECT_EQ(det.Ncyc, c.continues ? 4 : 1) << c.tough << " " << c.level << " " << c.drop;
        EndClick(t + 80);
        t += 10000;
    }
}

TEST_F(Detector, MaximumPositionAndItsTime) {
    // A new maximum at cycle 7 moves Pmax but not the click time.
    Train(10000, 40, {30, 40, 50, 50, 50, 50, 70});
    EXPECT_EQ(det.Pmax, 70);
    EXPECT_EQ(det.PkAtPosn, 7);
    EXPECT_EQ(det.PkMinus1, 50);
    EXPECT_EQ(det.MaxPeakTime, 10040);
    EndClick(10200);

    // Cycle 15 may still take the maximum, cycle 16 not.
    std::vector<int> amps(14, 30);
    amps.push_back(90);
    Train(20000, 40, amps);
    EXPECT_EQ(det.Pmax, 90);
    EXPECT_EQ(det.PkAtPosn, 15);
    EndClick(21000);
    amps.insert(amps.begin(), 30);
    Train(30000, 40, amps);
    EXPECT_EQ(det.Ncyc, 16);
    EXPECT_EQ(det.Pmax, 30);
    EXPECT_EQ(det.PkAtPosn, 0);
    EXPECT_EQ(det.MaxPeakTime, 30000);
}

TEST_F(Detector, IntervalsAfterTheMaximum) {
    Train(10000, {40, 41}, {30, 60});
    EXPECT_EQ(det.IPIpreMax, 41);
    EXPECT_EQ(det.PksSinceMax, 0);
    const int post[4] = {42, 43, 44, 45};
    const int expectedPks[4] = {1, 2, 4, 4};
    for (int i = 0; i < 4; ++i) {
        Pk(post[i], 50, 10040 + 20 * i);
        EXPECT_EQ(det.PksSinceMax, expectedPks[i]);
    }
    EXPECT_EQ(det.PkPlus1, 50);
    EXPECT_EQ(det.IPIPostMax, 42);
    EXPECT_EQ(det.IPIPost1, 43);
    EXPECT_EQ(det.IPIPost2, 44);  // the fourth interval is not recorded
}

TEST_F(Detector, ClickEndingAtItsMaximumIsDropped) {
    Train(10000, 40, {30, 40, 50, 60, 70});  // Ncyc 5, maximum at cycle 5
    EndClick(10200);
    EXPECT_EQ(NofRecords(), 0u);
    Train(20000, 40, {30, 40, 50, 60, 70, 65});
    EndClick(20200);
    ASSERT_EQ(NofRecords(), 1u);
    EXPECT_EQ(LastRecord()[4] >> 4, 5);
}

TEST_F(Detector, ReversalTestByCycleCount) {
    struct Case {
        int ncyc, reversals, pmax, uplift;
        bool kept;
    } cases[] = {
        {4, 14, 30, 0, true}, {5, 1, 30, 0, true}, {5, 2, 30, 0, false},  {6, 2, 30, 0, true},
        {7, 3, 30, 0, false}, {8, 3, 30, 0, true}, {8, 4, 30, 0, false},  {9, 4, 30, 0, true},
        {9, 5, 30, 0, false}, {9, 5, 50, 0, true}, {9, 5, 55, 10, false},
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        sens.DeadBandPlusUplift = uint8_t(c.uplift);
        Train(t, 40, std::vector<int>(size_t(c.ncyc), c.pmax));
        det.AmpReversalCount = uint8_t(c.reversals);
        const size_t before = NofRecords();
        EndClick(t + 1000);
        EXPECT_EQ(NofRecords(), before + (c.kept ? 1 : 0)) << c.ncyc << " " << c.reversals;
        t += 10000;
    }
}

TEST_F(Detector, CycleLimitFallsWithLoudnessAndNeverBelowZero) {
    int32_t t = 10000;
    for (int fixed = 0; fixed <= 3; ++fixed) {
        s.FixedCycLimit = uint8_t(fixed);
        Train(t, 40, {120});  // a one-cycle click louder than WorkingStrongLimit4
        EndClick(t + 100);
        EXPECT_EQ(det.CycLimit, 0);
        EXPECT_EQ(NofRecords(), size_t(fixed) + 1);
        t += 10000;
    }
    s.FixedCycLimit = 5;
    // Pmax above limits 4, 3, 2, 1 and none: one-cycle clicks need 1, 2, 3, 4, 5 cycles.
    for (auto [pmax, limit] : {std::pair{101, 1}, {61, 2}, {41, 3}, {26, 4}, {25, 5}}) {
        Train(t, 40, {pmax});
        EndClick(t + 100);
        EXPECT_EQ(det.CycLimit, limit) << pmax;
        t += 10000;
    }
    EXPECT_EQ(NofRecords(), 5u);  // only the loudest of these was long enough
}

TEST_F(Detector, ExcludedBandAndSonarBands) {
    s.ExcludedMinIPI = 30;
    s.ExcludedMaxIPI = 50;
    int32_t t = 10000;
    for (auto [ipi, kept] : {std::pair{30, true}, {31, false}, {49, false}, {50, true}}) {
        const size_t before = NofRecords();
        Train(t, ipi, {70, 70, 70});
        EndClick(t + 100);
        EXPECT_EQ(NofRecords(), before + (kept ? 1 : 0)) << ipi;
        t += 10000;
    }
    s.ExcludedMinIPI = 255;
    s.ExcludedMaxIPI = 0;
    det.Snr2MinIPI = 60;
    det.Snr2MaxIPI = 80;
    Train(t, 70, {70, 70, 70});
    EndClick(t + 100);
    EXPECT_EQ(NofRecords(), 2u);
    det.ClickSelSM(255, 0, 0, true);  // the minute end empties the bands
    EXPECT_EQ(det.Snr2MinIPI, 255);
    EXPECT_EQ(det.Snr2MaxIPI, 0);
    Train(t + 10000, 70, {70, 70, 70});
    EndClick(t + 10100);
    EXPECT_EQ(NofRecords(), 3u);
}

TEST_F(Detector, EchoFilterThresholdsByGap) {
    struct Case {
        int gap, pmax;
        bool kept;
    } cases[] = {
        {80, 99, false},  {80, 100, true}, {81, 49, false}, {81, 50, true},
        {121, 24, false}, {121, 25, true}, {161, 1, true},  {-500, 99, false},
    };
    for (const Case& c : cases) {
        det.ReverbFilterAmp = 100;
        det.LastAmpSeqFilterTime = 1000;
        const size_t before = NofRecords();
        Train((1000 + c.gap) * 10, 40, std::vector<int>(6, c.pmax));
        EndClick((1000 + c.gap) * 10 + 200);
        EXPECT_EQ(NofRecords(), before + (c.kept ? 1 : 0)) << c.gap << " " << c.pmax;
        EXPECT_EQ(det.ReverbFilterAmp, c.kept ? c.pmax : 100);
        EXPECT_EQ(det.LastAmpSeqFilterTime, c.kept ? 1000 + c.gap : 1000);
    }
}

}  // namespace
}  // namespace wtk::test
