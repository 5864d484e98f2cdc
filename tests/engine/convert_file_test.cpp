// Reading a file: the header skip, the first-block rule, short and empty reads, the raw
// minimum and maximum, and the graph calls of a block.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine_test_util.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::EngineFixture;
using test::RecordingSink;

struct Converter : EngineFixture {
    RecordingSink sink;
    test::TempDir dir;
    Converter() : EngineFixture("2") {}
    void Convert(const std::vector<uint8_t>& bytes, const WavFileRec& rec, int32_t fileNo = 0) {
        test::WriteFileBytes(dir / "f.wav", bytes);
        std::FILE* f = std::fopen((dir / "f.wav").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        proc.ConvertOneWavFileWith(sink, f, fileNo, rec);
        std::fclose(f);
    }
};

TEST(ConvertFileTest, AFileWithoutSamplesStillRunsThePerBlockSteps) {
    for (size_t size : {0u, 37u, 100u, 101u}) {
        Converter c;
        c.controls.ShowGraphs = true;
        c.proc.PkOnHold = true;
        c.proc.HiResGraphPtr = 77;
        c.proc.LastPkNear4MHZtime = 5;
        WavFileRec rec;
        rec.Start.TimeInMinuteNear2MHz = 1234;
        c.Convert(std::vector<uint8_t>(size, 1), rec);
        EXPECT_EQ(c.proc.SampleTimeNear2MHz, 1234) << size;
        EXPECT_EQ(c.proc.LastPkNear4MHZtime, 2468);
        EXPECT_FALSE(c.proc.PkOnHold);
        EXPECT_EQ(c.proc.HiResGraphPtr, 0);
        EXPECT_TRUE(c.sink.events.empty()) << "no positions, no minute end";
        ASSERT_EQ(c.host.graphs.size(), 2u) << "raw and high-pass traces, no band-pass trace";
        EXPECT_EQ(c.host.graphs[0].GraphID, 1);
        EXPECT_EQ(c.host.graphs[1].GraphID, 2);
    }
}

TEST(ConvertFileTest, ShortBlocksFilterOnlyWhereTheirWindowsFit) {
    // 87 samples: the high-pass fills entries 0 ... 3 of the sample buffer (as the filtered
    // trace shows it), no band-pass position (needs 88).
    Converter c;
    c.controls.ShowGraphs = true;
    std::vector<int16_t> s(87, 1000);
    c.Convert(test::FileBytes(s, 1), WavFileRec{});
    ASSERT_EQ(c.host.graphs.size(), 2u);
    EXPECT_EQ(c.host.graphs[1].values[3], 0);     // Round(-0.43): filtered
    EXPECT_EQ(c.host.graphs[1].values[4], 1000);  // raw
    EXPECT_EQ(c.proc.SampleTimeNear2MHz, 0);
    // 88 samples: exactly one position.
    Converter d;
    d.Convert(test::FileBytes(std::vector<int16_t>(88, 1000)), WavFileRec{});
    EXPECT_EQ(d.proc.SampleTimeNear2MHz, 4);
}

TEST(ConvertFileTest, TheFirstBlockHoldsTheRestOfTheStartMinute) {
    // Start second 30 at 2 k samples/s: a first block of 60000 samples, then full minutes.
    // With a start tick of 0 the first block ends at tick 4 x (60000 - 87); the second
    // block restarts at 0 and closes its minute inside.
    Converter c;
    WavFileRec rec;
    rec.Start.Second = 30;
    c.Convert(test::FileBytes(std::vector<int16_t>(60000 + 120000, 0)), rec);
    EXPECT_EQ(c.sink.MinuteRecordCount(), 1u);
    EXPECT_EQ(c.proc.SampleTimeNear2MHz, 4 * (120000 - 87 - 119876));
    // Without the rule the whole file would be one block and a half.
    Converter d;
    d.Convert(test::FileBytes(std::vector<int16_t>(60000, 0)), rec);
    EXPECT_EQ(d.sink.MinuteRecordCount(), 0u);
    EXPECT_EQ(d.proc.SampleTimeNear2MHz, 4 * (60000 - 87));
}

TEST(ConvertFileTest, TheFirstBlockLengthIsNotCutShortByA32BitProduct) {
    // At 597 k samples/s, 60 s x SamplesPerMin exceeds 2^31: a 32-bit product would wrap to a
    // negative length and leave a first block of SamplesPerMin div 120 = 298500 samples.
    test::EngineFixture fx("597");
    ASSERT_GT(60 * int64_t{fx.rate.SamplesPerMin}, int64_t{INT32_MAX});
    RecordingSink sink;
    test::TempDir dir;
    test::WriteFileBytes(dir / "f.wav", test::FileBytes(std::vector<int16_t>(300000, 0)));
    std::FILE* f = std::fopen((dir / "f.wav").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    fx.proc.ConvertOneWavFileWith(sink, f, 0, WavFileRec{});
    std::fclose(f);
    EXPECT_EQ(fx.proc.SampleTimeNear2MHz, 4 * (300000 - 87)) << "one block of all the samples";
}

TEST(ConvertFileTest, AFileEndingExactlyAtABlockBoundaryReadsNoEmptyBlock) {
    Converter c;
    c.Convert(test::FileBytes(std::vector<int16_t>(120000, 0)), WavFileRec{});
    // An extra empty block would have reset the time to 0.
    EXPECT_EQ(c.proc.SampleTimeNear2MHz, 4 * (120000 - 87 - 119876));
    Converter d;
    d.Convert(test::FileBytes(std::vector<int16_t>(120000, 0), 1), WavFileRec{});
    EXPECT_EQ(d.proc.SampleTimeNear2MHz, 0) << "a one-byte tail is a block without samples";
}

TEST(ConvertFileTest, AReadThatFailsEndsTheFileWithItsMessageOnOneThreadOrTwo) {
    // A directory opens as a stream whose reads fail (EISDIR); the file's range is its size.
    for (const bool threads : {false, true}) {
        Converter c;
        c.proc.UseThreads(threads);
        c.proc.SetPieceSamples(37);
        c.proc.AllocateBuffers(c.host.hiResLength);
        std::FILE* f = std::fopen(c.dir.path().c_str(), "rb");
        ASSERT_NE(f, nullptr);
        WavFileRec rec;
        rec.NameWithPath = "d.wav";
        c.proc.ConvertOneWavFileWith(c.sink, f, 0, rec, SampleByteRange{100, 100000});
        std::fclose(f);
        ASSERT_EQ(c.host.messages.size(), 1u) << threads;
        EXPECT_EQ(c.host.messages[0], "Failed to read wav file d.wav: Is a directory");
        EXPECT_TRUE(c.sink.events.empty());
        EXPECT_EQ(c.proc.SampleTimeNear2MHz, 0) << "a block without samples";
    }
}

TEST(ConvertFileTest, RawMinimumAndMaximumFollowTheirRuleOnlyWhileGraphsAreOn) {
    Converter c;
    c.controls.ShowGraphs = true;
    c.Convert(test::FileBytes({1, 2, 3, 4}), WavFileRec{});
    // Each sample raised the maximum, so the minimum was never lowered.
    EXPECT_EQ(c.proc.MaxSampleThisMinute, 4);
    EXPECT_EQ(c.proc.MinSampleThisMinute, 2147483647);
    Converter d;
    d.controls.ShowGraphs = true;
    d.Convert(test::FileBytes({-5, 7, 3, -9}), WavFileRec{});
    EXPECT_EQ(d.proc.MaxSampleThisMinute, 7);
    EXPECT_EQ(d.proc.MinSampleThisMinute, -9);
    Converter e;
    e.Convert(test::FileBytes({-5, 7, 3, -9}), WavFileRec{});
    EXPECT_EQ(e.proc.MaxSampleThisMinute, 0);
    EXPECT_EQ(e.proc.MinSampleThisMinute, 2147483647);
}

TEST(ConvertFileTest, GraphsPerBlockRawThenFilteredThenTheFullBandPassBuffer) {
    Converter c;
    c.controls.ShowGraphs = true;
    c.host.hiResLength = 50;
    c.proc.AllocateBuffers(50);
    std::vector<int16_t> s = test::NoisyBursts(150000, 200.0, 0.0, 1.0, 4);
    c.Convert(test::FileBytes(s), WavFileRec{});
    ASSERT_EQ(c.host.graphs.size(), 6u);  // two blocks
    const int ids[] = {1, 2, 3, 1, 2, 3};
    const int xinc[] = {8, 8, 2, 8, 8, 2};
    const bool clear[] = {true, false, false, true, false, false};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(c.host.graphs[i].GraphID, ids[i]) << i;
        EXPECT_EQ(c.host.graphs[i].Xinc, xinc[i]) << i;
        EXPECT_EQ(c.host.graphs[i].ClearFirst, clear[i]) << i;
    }
    // Raw and filtered traces get the head of the sample buffer (more than any window draws),
    // the third its 50 values, of which the first 49 are filled.
    EXPECT_EQ(c.host.graphs[0].values.size(), size_t{kGraphHead});
    EXPECT_EQ(c.host.graphs[0].values[1], s[0]);
    EXPECT_EQ(c.host.graphs[2].values.size(), 50u);
    EXPECT_FALSE(c.proc.GraphRequired);
    EXPECT_EQ(c.proc.HiResGraphPtr, 49);
    // Graphs are read from the check box once per block.
    Converter d;
    d.controls.ShowGraphs = false;
    d.host.onProcessMessages = [&](int) { d.controls.ShowGraphs = true; };
    d.Convert(test::FileBytes(s), WavFileRec{});
    ASSERT_EQ(d.host.graphs.size(), 3u) << "only the second block, after the minute end";
    EXPECT_EQ(d.host.graphs[0].values[1], s[120000]);
}

}  // namespace
}  // namespace wtk
