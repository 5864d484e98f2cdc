// The click detector's assembly of clicks and its acceptance tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

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
    // Three cycles at the base interval, then the peak under test: a continued click is stored
    // with 4 cycles, an ended one with 3 (the peak that ended it opens a click too short to keep).
    struct Case {
        int base, ipi, amp;
        bool continues;
    } cases[] = {
        {40, 60, 60, true},  {40, 20, 60, true}, {40, 61, 60, false},  // at WorkingStrongLimit3
        {40, 50, 59, true},  {40, 30, 59, true}, {40, 51, 59, false},  // below: 40 div 4
        {40, 29, 59, false}, {20, 18, 70, true},  // an interval of exactly MinAnyIPI belongs to the
                                                  // click
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        const size_t before = NofRecords();
        Train(t, c.base, {70, 70, 70});
        Pk(c.ipi, c.amp, t + 60);
        EndClick(t + 80);
        ASSERT_EQ(NofRecords(), before + 1) << c.ipi << " " << c.amp;
        EXPECT_EQ(LastRecord()[3], c.continues ? 4 : 3) << c.ipi << " " << c.amp;
        t += 10000;
    }
    // After an overlong interval the period compares with 255.
    for (auto [base, ipi, amp, continues] : {Case{200, 128, 70, true}, Case{200, 127, 70, false},
                                             Case{200, 192, 59, true}, Case{200, 191, 59, false}}) {
        const size_t before = NofRecords();
        Train(t, base, {70, 70, 70});
        Pk(255, 70, t + 60);
        Pk(ipi, amp, t + 80);
        EndClick(t + 100);
        ASSERT_EQ(NofRecords(), before + 1) << ipi << " " << amp;
        EXPECT_EQ(LastRecord()[3], continues ? 4 : 3) << ipi << " " << amp;
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
        {true, 0, 40, 10, true},
        {true, 0, 40, 9, false},  // a quarter
        {false, 0, 40, 20, true},
        {false, 0, 40, 19, false},  // a half
        {true, 0, 50, 1, true},     // Pmax at MaxSPLforAmpDropTest: no filter
        {true, 10, 55, 5, false},   // the uplift raises the filter's level
        {true, 10, 60, 5, true},
        // odd levels: the quarter and the half are rounded down
        {true, 0, 43, 10, true},
        {true, 0, 43, 9, false},
        {false, 0, 41, 20, true},
        {false, 0, 41, 19, false},
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
    // Loud clicks at a steady 40 with one louder peak (90) at the given cycle, then one weaker
    // peak. The click time follows the maximum during the first five cycles only; from cycle 16
    // on a louder peak is no longer the maximum.
    struct Case {
        int maxCycle;  // cycle of the 90, counting the first peak as 1
        int posn, pmax, pkMinus1;
        int32_t timeOffset;  // of the stored click time, in 500 ns units after the first peak
    } cases[] = {
        {5, 5, 90, 50, 80},  {6, 6, 90, 50, 0}, {7, 7, 90, 50, 0},
        {15, 15, 90, 50, 0}, {16, 0, 50, 0, 0},
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        std::vector<int> amps(size_t(c.maxCycle - 1), 50);
        amps.push_back(90);
        amps.push_back(60);
        Train(t, 40, amps);
        EndClick(t + 1000);
        ASSERT_EQ(NofRecords(), size_t(&c - cases) + 1) << c.maxCycle;
        const auto r = LastRecord();
        EXPECT_EQ(r[4] >> 4, c.posn) << c.maxCycle;
        EXPECT_EQ(r[9], c.pkMinus1) << c.maxCycle;
        EXPECT_EQ(r[10], c.pmax) << c.maxCycle;
        EXPECT_EQ(TimeOf(r), (t + c.timeOffset) / 10) << c.maxCycle;
        t += 10000;
    }
}

TEST_F(Detector, IntervalsAfterTheMaximum) {
    // Every interval and amplitude differs, so each byte of the record shows where it came from.
    const int32_t t0 = 6623125;
    Pk(200, 10, t0 - 600);  // a weak one-cycle click, dropped when the next click starts
    Pk(255, 20, t0 - 20);
    Pk(41, 30, t0);        // opens the click: the interval before it (PreLastIPI) is 200
    Pk(43, 52, t0 + 20);   // new maximum at cycle 2
    Pk(45, 80, t0 + 40);   // the maximum at cycle 3
    Pk(47, 70, t0 + 60);   // first interval after it
    Pk(49, 60, t0 + 80);   // second
    Pk(51, 55, t0 + 100);  // third
    Pk(53, 50, t0 + 120);  // the fourth is not recorded
    EndClick(t0 + 140);    // PreLastIPI is now 51
    ASSERT_EQ(NofRecords(), 1u);
    // Time 662316 (truncated from 662316.5), 7 cycles, maximum at 3 with an IPI spread of
    // 51 - 41 = 10 (code 9), one reversal, duration 43 + 45 + 47 + 49 + 51 + 53 - 51 = 237.
    const std::array<uint8_t, 16> expected = {0x0A, 0x1B, 0x2C, 7,  0x39, 45,   47,   49,
                                              51,   52,   80,   70, 200,  0x01, 0xED, 50};
    EXPECT_EQ(Record(0), expected);
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
    // Pmax at the top, above limits 4, 3, 2, 1 and none: one-cycle clicks need 1, 1, 2, 3, 4,
    // 5 cycles.
    for (auto [pmax, limit] : {std::pair{255, 1}, {101, 1}, {61, 2}, {41, 3}, {26, 4}, {25, 5}}) {
        Train(t, 40, {pmax});
        EndClick(t + 100);
        EXPECT_EQ(det.CycLimit, limit) << pmax;
        t += 10000;
    }
    EXPECT_EQ(NofRecords(), 6u);  // only the loudest two of these were long enough
    // Each level is followed when it changes between calls: raised above the click, the click
    // falls to the next level down.
    for (auto [level, pmax, limit] : {std::tuple{&DetectorSettings::WorkingStrongLimit4, 101, 2},
                                      {&DetectorSettings::WorkingStrongLimit3, 61, 3},
                                      {&DetectorSettings::WorkingStrongLimit2, 41, 4},
                                      {&DetectorSettings::WorkingStrongLimit1, 26, 5}}) {
        s.*level = 200;
        Train(t, 40, {pmax});
        EndClick(t + 100);
        EXPECT_EQ(det.CycLimit, limit) << pmax;
        t += 10000;
    }
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
        {80, 99, false},  {80, 100, true},  {81, 49, false},   {81, 50, true},
        {120, 49, false}, {121, 24, false}, {121, 25, true},   {160, 24, false},
        {160, 25, true},  {161, 1, true},   {-500, 99, false},
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

// Peaks handed over in one call give the same records and state as one call each, whatever
// the lengths of the calls (none, one peak, a few, many), across minute ends, and when calls
// of both kinds alternate on one detector.
TEST_F(Detector, PeaksInOneCallEqualOneCallEach) {
    RecordingHost host2;
    TK1Writer writer2{host2};
    ClickDetector det2{s, sens, writer2, host2};
    writer2.AllocateOutBuf();
    det2.ClickSelSM(255, 0, 0, true);
    RecordingHost host3;
    TK1Writer writer3{host3};
    ClickDetector det3{s, sens, writer3, host3};
    writer3.AllocateOutBuf();
    det3.ClickSelSM(255, 0, 0, true);
    const auto stateOf = [](const ClickDetector& d) -> const ClickMachineState& { return d; };

    // Trains of steady intervals with shaped amplitudes, broken by jumps, overlong and short
    // intervals and noise peaks.
    uint32_t x = 12345;
    auto next = [&x](uint32_t m) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % m;
    };
    std::vector<DetectorPeak> peaks;
    int32_t t = 0;
    int ipi = 40;
    for (int k = 0; k < 6000; ++k) {
        const uint32_t r = next(64);
        if (r < 3) ipi = 20 + int(next(120));
        const int thisIpi = r == 3   ? 255
                            : r == 4 ? 10
                            : r == 5 ? int(next(255))
                                     : ipi + int(next(3)) - 1;
        const int amp = 20 + int(next(40)) + (k % 12 < 6 ? 10 * (k % 12) : 10 * (12 - k % 12));
        t += thisIpi / 2 + 1;
        peaks.push_back({uint8_t(thisIpi), uint8_t(amp), t});
    }

    size_t at = 0;
    for (size_t len = 0; at < peaks.size(); len = (len + 1) % 40) {
        const size_t n = std::min(len, peaks.size() - at);
        for (size_t k = at; k < at + n; ++k) {
            det.ClickSelSM(peaks[k].NewTrueIPI, peaks[k].NewAmp, peaks[k].TimeTrue2Mhz, false);
        }
        det2.ClickSelSMPeaks(peaks.data() + at, int32_t(n));
        if (len % 3 == 1) {
            for (size_t k = at; k < at + n; ++k) {
                det3.ClickSelSM(peaks[k].NewTrueIPI, peaks[k].NewAmp, peaks[k].TimeTrue2Mhz, false);
            }
        } else {
            det3.ClickSelSMPeaks(peaks.data() + at, int32_t(n));
        }
        at += n;
        if (len == 17) {  // a minute end now and then
            det.ClickSelSM(255, 0, 0, true);
            det2.ClickSelSM(255, 0, 0, true);
            det3.ClickSelSM(255, 0, 0, true);
        }
        ASSERT_EQ(det2.ClicksThisMin, det.ClicksThisMin) << at;
        ASSERT_EQ(det3.ClicksThisMin, det.ClicksThisMin) << at;
        ASSERT_TRUE(stateOf(det2) == stateOf(det)) << at;
        ASSERT_TRUE(stateOf(det3) == stateOf(det)) << at;
    }
    EXPECT_GT(NofRecords(), 20u);
    ASSERT_EQ(writer2.OutBufPtr, writer.OutBufPtr);
    EXPECT_TRUE(std::equal(writer.OutBuf.begin(), writer.OutBuf.begin() + writer.OutBufPtr,
                           writer2.OutBuf.begin()));
    ASSERT_EQ(writer3.OutBufPtr, writer.OutBufPtr);
    EXPECT_TRUE(std::equal(writer.OutBuf.begin(), writer.OutBuf.begin() + writer.OutBufPtr,
                           writer3.OutBuf.begin()));
    EXPECT_EQ(det2.ReverbFilterAmp, det.ReverbFilterAmp);
    EXPECT_EQ(det2.LastAmpSeqFilterTime, det.LastAmpSeqFilterTime);
    EXPECT_EQ(det2.Pmax, det.Pmax);
    EXPECT_EQ(det2.IPI, det.IPI);
}

}  // namespace
}  // namespace wtk::test
