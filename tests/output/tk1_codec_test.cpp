// The TK1 codec against bytes written out by hand: what it decodes is what the layout says,
// what it encodes decodes to the same fields, and its walk through a body tells each record's
// minute and every departure from the shape of a finished file.
#include "output/tk1_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace wtk::tk1 {
namespace {

TEST(Tk1Codec, ClickAndMinuteRecordsDecodeTheirBytesAndEncodeBack) {
    const Record bytes = {0xB7, 0x1A, 0xFF, 9,   0x4C, 40,   41,   42,
                          43,   200,  250,  201, 39,   0xE3, 0x7F, 0x2A};
    const Click c = DecodeClick(bytes.data());
    EXPECT_EQ(c.ClkTime5MuSecs, 0xB71AFF);
    EXPECT_EQ(c.Ncyc, 9);
    EXPECT_EQ(c.PkAtPosn, 4);
    EXPECT_EQ(c.IPIrangeCode, 12);
    EXPECT_EQ(c.IPIPost2, 43);
    EXPECT_EQ(c.Pmax, 250);
    EXPECT_EQ(c.IPIbefore, 39);
    EXPECT_EQ(c.DurationHigh, 14);
    EXPECT_EQ(c.AmpReversalCount, 3);
    EXPECT_EQ(Duration(c), 14 * 256 + 0x7F);
    // PreLastIPI is stored with bit 0 cleared, so only an even one comes back as it was.
    Record again = EncodeClick(c);
    EXPECT_EQ(again, bytes);
    Click odd = c;
    odd.PreLastIPI = 0x2B;
    odd.ClkTime5MuSecs = -3;  // stored as 0
    again = EncodeClick(odd);
    EXPECT_EQ(again[15], 0x2A);
    EXPECT_EQ(BigEndian(again.data(), 3), 0u);

    // A duration of 4096 or more, or a negative one, saturates the high nibble: not whole.
    EXPECT_EQ(DurationHigh(4095), 15);
    EXPECT_EQ(DurationHigh(3839), 14);
    EXPECT_EQ(DurationHigh(-1), 15);
    Click saturated = c;
    saturated.DurationHigh = DurationHigh(5000);
    EXPECT_FALSE(Duration(saturated).has_value());

    const Record minute = EncodeMinute({7, 31});
    EXPECT_EQ(minute, (Record{254, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 31, 0}));
    EXPECT_EQ(DecodeMinute(minute.data()).MinuteScalerX2560, 31);
    EXPECT_EQ(KindOf(LeadRecord()[0]), RecordKind::Minute);
    Record ends;
    ends.fill(255);
    EXPECT_EQ(EndRecord(), ends);
}

TEST(Tk1Codec, HeaderFieldsGoWhereTheLayoutPutsThem) {
    std::vector<uint8_t> h(kHeaderBytes, 0);
    Header in;
    in.LoggerNumber = 0x01020304;
    in.HighPassFilterIndex = 2;
    in.WorkingStrongLimit = {11, 12, 13, 14};
    in.UsingToughAmpDrop = true;
    in.UserMaxSPLforBWtestLow4 = 5;
    in.NoisyLevel = 3;
    in.StartMin = 60487200;
    PutCreationFields(h, in);
    PutFinalisationFields(h, 60487203, -1, 3);
    EXPECT_EQ((std::vector<uint8_t>(h.begin() + 2, h.begin() + 6)),
              (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(h[12], 1);
    EXPECT_EQ(h[31], 245);
    EXPECT_EQ(h[66], 11);
    EXPECT_EQ(h[78], 15);
    EXPECT_EQ(h[65], 2);
    EXPECT_EQ(h[76], 14);
    EXPECT_EQ(h[77], 1 + 5 * 8);
    EXPECT_EQ(h[93], 3);
    for (const size_t at : {256u, 268u, 272u}) EXPECT_EQ(BigEndian(&h[at], 4), 60487200u) << at;
    for (const size_t at : {260u, 276u}) EXPECT_EQ(BigEndian(&h[at], 4), 60487203u) << at;
    EXPECT_EQ(BigEndian(&h[264], 4), 0u);  // a negative minute is stored as 0
    EXPECT_EQ(BigEndian(&h[340], 3), 3u);

    const Header out = DecodeHeader(std::span<const uint8_t, kHeaderBytes>(h.data(), kHeaderBytes));
    EXPECT_EQ(out.LoggerNumber, in.LoggerNumber);
    EXPECT_EQ(out.Constants, kConstants);
    EXPECT_EQ(out.WorkingStrongLimit, in.WorkingStrongLimit);
    EXPECT_TRUE(out.UsingToughAmpDrop);
    EXPECT_EQ(out.UserMaxSPLforBWtestLow4, 5);
    EXPECT_EQ(out.StartMin3, 60487200u);
    EXPECT_EQ(out.LastLoggingMin2, 60487203u);
    EXPECT_EQ(out.MinuteCount, 3u);
    EXPECT_TRUE(HasTK1Constants(h));
    h[31] = 0;
    EXPECT_FALSE(HasTK1Constants(h));
    EXPECT_EQ(ConstantsMismatchText(h),
              "bytes 12, 31, 66 and 78 hold 1, 0, 11 and 15 where a TK1 header holds 1, 245, 11 "
              "and 15");
    EXPECT_THROW(PutCreationFields(std::span<uint8_t>(h.data(), 200), in), std::out_of_range);
}

TEST(Tk1Codec, TheWalkGivesEachRecordItsMinuteAndNotesWhatIsOutOfShape) {
    std::vector<uint8_t> f(kHeaderBytes, 0);
    f[256 + 3] = 100;  // start minute 100
    auto add = [&](std::initializer_list<uint8_t> first) {
        Record r{};
        std::copy(first.begin(), first.end(), r.begin());
        f.insert(f.end(), r.begin(), r.end());
    };
    add({0});              // a lead record without its marker
    add({254});            // opens minute 100
    add({0x10});           // a click of minute 100
    add({254});            // 101
    add({254});            // 102
    add({0xB7, 0x1B, 0});  // 12,000,000: beyond the minute's end
    add({255, 255});       // the end
    add({254});            // after the end
    f.push_back(7);        // a partial record is left out
    std::string kinds;
    std::vector<int64_t> minutes;
    for (const RecordView& r : Records(f)) {
        kinds += r.AfterEnd ? 'A' : "LMCE"[static_cast<int>(r.Kind)];
        minutes.push_back(r.Minute);
    }
    EXPECT_EQ(kinds, "LMCMMCEA");
    EXPECT_EQ(minutes, (std::vector<int64_t>{99, 100, 100, 101, 102, 102, 102, 102}));

    BodyWalk walk(100);
    for (size_t at = kHeaderBytes; at + kRecordBytes <= f.size(); at += kRecordBytes) {
        walk.Next(&f[at]);
    }
    EXPECT_TRUE(walk.LeadBad());
    EXPECT_TRUE(walk.EndSeen());
    EXPECT_TRUE(walk.DataAfterEnd());
    EXPECT_TRUE(walk.BadClickTime());
    EXPECT_EQ(walk.CountedMinutes(), 3);
    EXPECT_EQ(walk.Clicks(), 2);

    // Too short for a header: no records.
    EXPECT_EQ(Records(std::span<const uint8_t>(f.data(), 1000)).begin(),
              Records(std::span<const uint8_t>(f.data(), 1000)).end());
}

TEST(Tk1Codec, LinkageLinesReadBackAndOtherLinesAreNamed) {
    const std::string text = EncodeLinkageLine(62809200, "/rec/A.20190601120000.wav") +
                             "no tab here\r\n-5\t/neg.wav\n7\t\r\n" +
                             EncodeLinkageLine(62809203, "/rec/b\tc.wav") + "62809204\t/last.wav";
    EXPECT_EQ(text.substr(0, 36), "62809200\t/rec/A.20190601120000.wav\r\n");
    const LinkageText read = DecodeLinkage(text);
    ASSERT_EQ(read.Lines.size(), 3u);
    EXPECT_EQ(read.Lines[0].Minute, 62809200);
    EXPECT_EQ(read.Lines[0].Path, "/rec/A.20190601120000.wav");
    EXPECT_EQ(read.Lines[1].Path, "/rec/b\tc.wav");  // the first tab ends the minute
    EXPECT_EQ(read.Lines[2].Path, "/last.wav");      // without a line end
    EXPECT_EQ(read.BadLines, (std::vector<int64_t>{2, 3, 4}));
}

// Paths are kept by their bytes: one with a line end, or that begins with a quote, is quoted as
// CSV quotes a field and reads back whole; lines written before quoting read as they stand.
TEST(Tk1Codec, LinkagePathsWithLineEndsAndOtherBytesReadBack) {
    const std::vector<std::string> paths = {"/rec/L\nx\r\ny\xFF.wav", "\"q\".wav",
                                            "/rec/\x01\xC2\x85z.wav", "/rec/a\"b\r"};
    std::string text;
    for (size_t i = 0; i < paths.size(); ++i) {
        text += EncodeLinkageLine(static_cast<int32_t>(i), paths[i]);
    }
    EXPECT_EQ(EncodeLinkageLine(0, paths[0]), "0\t\"/rec/L\nx\r\ny\xFF.wav\"\r\n");
    EXPECT_EQ(EncodeLinkageLine(1, paths[1]), "1\t\"\"\"q\"\".wav\"\r\n");
    EXPECT_EQ(EncodeLinkageLine(2, paths[2]), "2\t" + paths[2] + "\r\n");
    text += "9\t\"/old\".wav\r\n9\t\"/open.wav\r\nno tab\r\n";
    const LinkageText read = DecodeLinkage(text);
    ASSERT_EQ(read.Lines.size(), paths.size() + 2);
    for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(read.Lines[i].Path, paths[i]);
    EXPECT_EQ(read.Lines[4].Path, "\"/old\".wav");
    EXPECT_EQ(read.Lines[5].Path, "\"/open.wav");
    EXPECT_EQ(read.BadLines, (std::vector<int64_t>{9}));  // counted by the lines of the text
}

TEST(Tk1Codec, RecordingsTableRowsReadBackAsWritten) {
    RecordingRow dated;
    dated.Path = "/rec/A,b \"x\".wav";
    dated.StartUs = ParseIsoMicroseconds("2021-06-10T03:36:54.25Z")->first;
    dated.Zoned = true;
    dated.TimeSource = "guan";
    dated.CorrectionUs = -1'500'000;
    dated.RateHz = 384000;
    dated.Samples = 384000 * 90 - 28;
    dated.PlacedUs = *dated.StartUs - 54'250'000;
    RecordingRow undated;
    undated.Path = "/rec/B.wav";
    undated.TimeSource = "";
    undated.RateHz = 384000;
    undated.Samples = 10;
    undated.PlacedUs = dated.PlacedUs + 120'000'000;
    const std::string first = EncodeRecordingRow(dated);
    EXPECT_EQ(first,
              "\"/rec/A,b \"\"x\"\".wav\",2021-06-10T03:36:54.250000Z,guan,-1.500000,384000,"
              "34559972,89.999927,2021-06-10T03:36:00,54.250000");
    EXPECT_EQ(EncodeRecordingRow(undated), "/rec/B.wav,,,,384000,10,0.000026,2021-06-10T03:38:00,");
    // Placed at its start, fraction of a second included (only then are microseconds written).
    RecordingRow exact = dated;
    exact.PlacedUs = *dated.StartUs;
    EXPECT_EQ(EncodeRecordingRow(exact),
              "\"/rec/A,b \"\"x\"\".wav\",2021-06-10T03:36:54.250000Z,guan,-1.500000,384000,"
              "34559972,89.999927,2021-06-10T03:36:54.250000,0.000000");

    const std::string text = std::string(kRecordingsHeading) + "\r\n" + first + "\r\n" +
                             EncodeRecordingRow(undated) + "\r\n" + EncodeRecordingRow(exact) +
                             "\r\n";
    const auto decoded = DecodeRecordingsTable(text);
    const auto* rows = std::get_if<std::vector<RecordingRow>>(&decoded);
    ASSERT_NE(rows, nullptr) << std::get<std::string>(decoded);
    ASSERT_EQ(rows->size(), 3u);
    for (const auto& [in, out] :
         {std::pair{&dated, &(*rows)[0]}, {&undated, &(*rows)[1]}, {&exact, &(*rows)[2]}}) {
        EXPECT_EQ(out->Path, in->Path);
        EXPECT_EQ(out->StartUs, in->StartUs);
        EXPECT_EQ(out->Zoned, in->Zoned);
        EXPECT_EQ(out->TimeSource, in->TimeSource);
        EXPECT_EQ(out->CorrectionUs, in->CorrectionUs);
        EXPECT_EQ(out->Samples, in->Samples);
        EXPECT_EQ(out->PlacedUs, in->PlacedUs);
    }
    EXPECT_NEAR((*rows)[0].DurationSeconds(), 89.999927, 1e-6);
    // A path with line ends and bytes that are not UTF-8 reads back by its bytes.
    undated.Path = "/rec/L\nx\r\ny\xFF.wav";
    const auto multiLine = DecodeRecordingsTable(std::string(kRecordingsHeading) + "\r\n" +
                                                 EncodeRecordingRow(undated) + "\r\n" + first);
    ASSERT_TRUE(std::holds_alternative<std::vector<RecordingRow>>(multiLine));
    EXPECT_EQ(std::get<std::vector<RecordingRow>>(multiLine).at(0).Path, undated.Path);
    EXPECT_EQ(std::get<std::vector<RecordingRow>>(multiLine).at(1).Path, dated.Path);

    // Cells are found by the heading's names; a table of an older form without rate_hz and
    // samples reads with them 0.
    const auto reordered =
        DecodeRecordingsTable("start,placed_minute,extra,path\n,2021-06-10T03:36:00,x,/r.wav\n");
    ASSERT_TRUE(std::holds_alternative<std::vector<RecordingRow>>(reordered));
    const RecordingRow& r = std::get<std::vector<RecordingRow>>(reordered).at(0);
    EXPECT_EQ(r.Path, "/r.wav");
    EXPECT_EQ(r.RateHz, 0);
    EXPECT_FALSE(r.StartUs.has_value());
    // What is no table, and rows that do not read.
    EXPECT_EQ(std::get<std::string>(DecodeRecordingsTable("path,start\n")),
              "its first line is no recordings table heading (path, start, ..., placed_minute)");
    for (const std::string bad :
         {"/a.wav,2021-02-30T00:00:00,,,1,1,,2021-06-10T03:36:00,", "/a.wav",
          "/a.wav,,,,-5,1,,2021-06-10T03:36:00,", "/a.wav,,,1.5x,1,1,,2021-06-10T03:36:00,",
          "/a.wav,,,0.1234567,1,1,,2021-06-10T03:36:00,"}) {
        EXPECT_EQ(std::get<std::string>(
                      DecodeRecordingsTable(std::string(kRecordingsHeading) + "\n" + bad)),
                  "line 2 is no recordings table row")
            << bad;
    }
}

}  // namespace
}  // namespace wtk::tk1
