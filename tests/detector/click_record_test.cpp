// The click records the detector stores, its minute-end reset and its peak export.
#include <gtest/gtest.h>

#include <string>

#include "detector_rig.h"
#include "output/side_files.h"
#include "temp_dir.h"

namespace wtk::test {
namespace {

using ClickRecords = DetectorRig;
using Bytes16 = std::array<uint8_t, 16>;

// Six cycles with the maximum (80) at cycle 3 and one reversal.
const std::vector<int> kSixAmps = {30, 40, 80, 70, 60, 60};

TEST_F(ClickRecords, PositionAndPeriodSpreadByte) {
    struct Case {
        std::vector<int> ipis;
        uint8_t byte4;
    } cases[] = {
        {{40, 40, 40, 45, 45, 45}, 0x35},       {{40, 40, 40, 47, 47, 47}, 0x37},
        {{40, 40, 40, 48, 48, 48}, 0x39},       {{40, 40, 40, 60, 60, 60}, 0x3A},
        {{100, 100, 100, 150, 163, 163}, 0x3F}, {{100, 100, 100, 150, 200, 200}, 0x3F},
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        Train(t, c.ipis, kSixAmps);
        EndClick(t + 200);
        ASSERT_EQ(NofRecords(), size_t(&c - cases) + 1);
        EXPECT_EQ(LastRecord()[4], c.byte4) << c.ipis[4];
        EXPECT_EQ(TimeOf(LastRecord()), (t + 40) / 10);  // time of the maximum
        t += 10000;
    }
}

TEST_F(ClickRecords, OneCycleClickWithNegativeDuration) {
    Pk(255, 0, 123000);
    Pk(20, 5, 123100);    // opens a weak click that the next peak ends and drops
    Pk(60, 120, 123456);  // opens a loud one-cycle click
    Pk(230, 10, 123800);  // breaks it and opens nothing; PreLastIPI is now 20
    ASSERT_EQ(NofRecords(), 1u);
    const Bytes16 expected = {0x00, 0x30, 0x39, 1, 0x0F, 60,   60,   0,
                              0,    5,    120,  0, 255,  0xF0, 0xEC, 20};
    EXPECT_EQ(Record(0), expected);

    // A negative click time is stored as 0.
    Pk(255, 0, -1000);
    Pk(60, 120, -50);
    Pk(230, 10, 0);
    ASSERT_EQ(NofRecords(), 2u);
    EXPECT_EQ(TimeOf(Record(1)), 0);
    EXPECT_EQ(Record(1)[3], 1);
}

TEST_F(ClickRecords, DurationAndReversalByte) {
    struct Case {
        int duration, reversals;
        uint8_t byte13, byte14;
    } cases[] = {{300, 2, 0x12, 44}, {5000, 1, 0xF1, 136}, {4095, 0, 0xF0, 255}};
    int32_t t = 10000;
    for (const Case& c : cases) {
        Train(t, 40, kSixAmps);
        det.AmpReversalCount = uint8_t(c.reversals);
        det.Durationto16Cyc = c.duration + det.LastIPI;  // the click's PreLastIPI is taken off
        EndClick(t + 200);
        EXPECT_EQ(LastRecord()[13], c.byte13) << c.duration;
        EXPECT_EQ(LastRecord()[14], c.byte14) << c.duration;
        t += 10000;
    }
    EXPECT_EQ(NofRecords(), 3u);
}

TEST_F(ClickRecords, ReversalsCountedFromTheAmplitudes) {
    // A turn is a fall after a rise, where a level step counts as a rise; only cycles 2 to 28
    // count.
    auto level = [](size_t n, int fall) {
        std::vector<int> amps(n, 70);
        amps.push_back(fall);
        return amps;
    };
    struct Case {
        std::vector<int> amps;
        int reversals;
    } cases[] = {
        {{50, 70, 70, 60, 60, 60}, 1},  // rise, level, fall
        {{50, 70, 60, 70, 60, 60}, 2},
        {{70, 60, 50, 50, 40, 30}, 2},  // falling from the start peak, level, falling
        {level(27, 60), 1},             // a fall at cycle 28
        {level(28, 60), 0},             // at cycle 29
    };
    int32_t t = 10000;
    for (const Case& c : cases) {
        Train(t, 40, c.amps);
        EndClick(t + 2000);
        ASSERT_EQ(NofRecords(), size_t(&c - cases) + 1) << c.amps.size();
        EXPECT_EQ(LastRecord()[13] & 15, c.reversals) << c.amps.size();
        t += 10000;
    }
}

TEST_F(ClickRecords, ClickOf255CyclesIsStoredWithItsOwnTime) {
    Train(1000, 40, kSixAmps);  // an ordinary click (time 104), ended by the next train
    Train(50000, 40, std::vector<int>(256, 50));
    ASSERT_EQ(NofRecords(), 2u);
    EXPECT_EQ(TimeOf(Record(0)), 104);
    const Bytes16 expected = {0x00, 0x13, 0x88, 0xFF, 0x00, 40,   40,   40,
                              40,   0,    50,   50,   40,   0x20, 0x58, 40};
    EXPECT_EQ(Record(1), expected);
    EXPECT_EQ(det.ClicksThisMin, 2);
    EXPECT_EQ(det.Ncyc, 1);  // the 256th peak opens the next click
    // Stored without the judging tests: the echo filter still holds the first click.
    EXPECT_EQ(det.ReverbFilterAmp, 80);
    EXPECT_EQ(det.LastAmpSeqFilterTime, 104);
}

TEST_F(ClickRecords, FullBufferIsWrittenOnlyWhenTheNextRecordArrives) {
    TempDir dir;
    writer.TK1StartMin = writer.TK1min = 52597440;
    TK1HeaderInputs in;
    in.Settings = &s;
    in.LoggerNumberText = "7";
    writer.CreateTK1file(dir / "buf.TK1", in);
    ASSERT_TRUE(writer.TK1Open);
    const int32_t first = writer.OutBufPtr / 16;  // records already buffered

    // One click per 1000 time units; click k gets the time 100 k + 100.
    auto click = [&](int32_t k) { Train(1000 * k + 1000, 40, {70, 70, 70}); };
    int32_t k = 0;
    click(k++);
    while (writer.OutBufPtr < TK1Writer::constOutBufBytes) click(k++);
    EXPECT_EQ(k - 1, 4096 - first);  // the click of train k is stored by train k + 1
    EXPECT_EQ(writer.OutBufPtr, 65536);
    click(k++);
    EXPECT_EQ(writer.OutBufPtr, 16);
    EXPECT_EQ(TimeOf(Record(0)), 100 * (k - 2) + 100);
    EXPECT_EQ(det.ClicksThisMin, k - 1);

    writer.FinaliseTK1File();
    const auto bytes = ReadFileBytes(dir / "buf.TK1");
    ASSERT_EQ(bytes.size(), 1040u + 65536u + 16u + 16u);
    for (int32_t i : {0, 1, 4094 - first, 4095 - first, 4096 - first}) {
        const size_t at = 1040 + 16 * size_t(first + i);
        EXPECT_EQ((bytes[at] << 16) | (bytes[at + 1] << 8) | bytes[at + 2], 100 * i + 100) << i;
        EXPECT_EQ(bytes[at + 3], 3);
    }
}

TEST_F(ClickRecords, ResetChangesOnlyResetVariablesAndExportsNothing) {
    TempDir dir;
    IpiExportFile exportFile;
    exportFile.CreateIPIexportFile(dir / "peaks.TK1", 100, host);
    ASSERT_TRUE(exportFile.IPIExportFileOpen);
    det.SetIpiExport(&exportFile);
    det.ClickSelSM(255, 0, 0, true);
    Pk(255, 30, 1000);
    Pk(40, 35, 1020);
    Pk(41, 60, 1041);  // a click of two cycles is open
    det.SonarMinIPI = 10;
    det.SonarMaxIPI = 20;
    det.ClicksThisMin = 5;
    det.ClickSelSM(44, 99, 4444, true);
    EXPECT_EQ(det.Ncyc, 0);
    EXPECT_EQ(det.SonarMinIPI, 255);
    EXPECT_EQ(det.SonarMaxIPI, 0);
    EXPECT_EQ(det.Snr2MinIPI, 255);
    EXPECT_EQ(det.Snr2MaxIPI, 0);
    EXPECT_EQ(det.ClicksThisMin, 5);  // the minute end clears it, not the detector

    // The open click is gone and the reset's values never reach the history: the next peak
    // opens a click whose previous peak (60, after 35 and the interval 40) is its maximum.
    Pk(42, 50, 1061);
    Pk(43, 45, 1082);
    Pk(42, 40, 1103);
    EndClick(1124);
    ASSERT_EQ(NofRecords(), 1u);
    const Bytes16 expected = {0x00, 0x00, 106, 3,  0x01, 42,   43, 42,
                              0,    35,   60,  45, 40,   0x01, 42, 42};
    EXPECT_EQ(Record(0), expected);
    EXPECT_EQ(det.ClicksThisMin, 6);
    ASSERT_EQ(exportFile.Close(), 0);
    EXPECT_EQ(ReadFileText(exportFile.FileName()),
              "IPI\tAmp\tt 250ns\r\n255\t30\t2000\r\n40\t35\t2040\r\n41\t60\t2082\r\n"
              "42\t50\t2122\r\n43\t45\t2164\r\n42\t40\t2206\r\n10\t0\t2248\r\n");

    // The echo filter carries over too: soon after the reset a quieter click is dropped.
    det.SetIpiExport(nullptr);
    ASSERT_EQ(det.ReverbFilterAmp, 60);
    det.ClickSelSM(255, 0, 0, true);
    Train(1500, 40, {59, 59, 59, 59, 59, 40});
    EndClick(1700);
    EXPECT_EQ(NofRecords(), 1u);
}

TEST_F(ClickRecords, ExportHeadingComesWithTheFirstPeak) {
    TempDir dir;
    IpiExportFile exportFile;
    exportFile.CreateIPIexportFile(dir / "none.TK1", 100, host);
    det.SetIpiExport(&exportFile);
    det.ClickSelSM(255, 0, 0, true);
    ASSERT_EQ(exportFile.Close(), 0);
    EXPECT_EQ(ReadFileText(exportFile.FileName()), "");
}

}  // namespace
}  // namespace wtk::test
