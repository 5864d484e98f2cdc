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
    Pk(41, 60, 1041);
    det.SonarMinIPI = 10;
    det.SonarMaxIPI = 20;
    const ClickDetector before = det;
    det.ClickSelSM(44, 99, 4444, true);

    EXPECT_EQ(det.Ncyc, 0);
    EXPECT_EQ(det.SonarMinIPI, 255);
    EXPECT_EQ(det.SonarMaxIPI, 0);
    EXPECT_EQ(det.Snr2MinIPI, 255);
    EXPECT_EQ(det.Snr2MaxIPI, 0);
#define SAME(f) EXPECT_EQ(det.f, before.f) << #f;
    SAME(IPI)
    SAME(LastIPI)
    SAME(PreLastIPI) SAME(Amp) SAME(SMLastAmp) SAME(PreLastAmp) SAME(IPIdiff) SAME(IPIokAsStart)
        SAME(Pmax) SAME(PkAtPosn) SAME(PkMinus1) SAME(PkPlus1) SAME(IPIpreMax) SAME(IPIPostMax)
            SAME(IPIPost1) SAME(IPIPost2) SAME(PksSinceMax) SAME(IPIbefore) SAME(MaxPeakTime)
                SAME(ClkMinIPI) SAME(ClkMaxIPI) SAME(Durationto16Cyc) SAME(AmpRising)
                    SAME(AmpReversalCount) SAME(CycLimit) SAME(ClkTime5MuSecs) SAME(ReverbFilterAmp)
                        SAME(LastAmpSeqFilterTime) SAME(ClicksThisMin)
#undef SAME

                            Pk(255, 7, 600000);
    ASSERT_TRUE(exportFile.Close());
    EXPECT_EQ(ReadFileText(exportFile.FileName()),
              "IPI\tAmp\tt 250ns\r\n255\t30\t2000\r\n40\t35\t2040\r\n41\t60\t2082\r\n"
              "255\t7\t1200000\r\n");
}

TEST_F(ClickRecords, ExportHeadingComesWithTheFirstPeak) {
    TempDir dir;
    IpiExportFile exportFile;
    exportFile.CreateIPIexportFile(dir / "none.TK1", 100, host);
    det.SetIpiExport(&exportFile);
    det.ClickSelSM(255, 0, 0, true);
    ASSERT_TRUE(exportFile.Close());
    EXPECT_EQ(ReadFileText(exportFile.FileName()), "");
}

}  // namespace
}  // namespace wtk::test
