#include "input/start_times.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/calendar.h"
#include "base/sample_rate.h"
#include "input/name_parsing.h"
#include "recording_host.h"

namespace wtk {
namespace {

int64_t At(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi, double s = 0) {
    return int64_t{*EncodeMinuteNumber(y, mo, d, h, mi)} * kMicrosecondsPerMinute +
           std::llround(s * 1e6);
}

TEST(TimeCorrections, ParseShiftsAndClockErrors) {
    EXPECT_EQ(std::get<int64_t>(ParseTimeShift("-02:00")), -7200 * kMicrosecondsPerSecond);
    EXPECT_EQ(std::get<int64_t>(ParseTimeShift("+5:30:15")), 19815 * kMicrosecondsPerSecond);
    EXPECT_EQ(std::get<int64_t>(ParseTimeShift("00:01")), 60 * kMicrosecondsPerSecond);
    for (const char* bad : {"", "2", "+2:0", "2:60", "1:00:60", "123:00", "+-1:00", "1:00:0",
                            "1:00 ", "--1:00", "1:00:00:00"}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(ParseTimeShift(bad))) << bad;
    }
    const auto p = std::get<ClockErrorPoint>(ParseClockError("2021-06-10T03:36=+1.5"));
    EXPECT_EQ(p.AtUs, At(2021, 6, 10, 3, 36));
    EXPECT_EQ(p.ErrorUs, 1'500'000);
    const auto q = std::get<ClockErrorPoint>(ParseClockError("2021-09-01 12:00:30=-0.000001"));
    EXPECT_EQ(q.AtUs, At(2021, 9, 1, 12, 0, 30));
    EXPECT_EQ(q.ErrorUs, -1);
    for (const char* bad :
         {"2021-06-10T03:36", "2021-06-10T03:36=", "2021-06-10=1", "2021-02-30T03:36=1",
          "2021-06-10T03:36:60=1", "2021-06-10T03:36:61=1", "2021-06-10T03:36=x",
          "2021-06-10T03:36=1e3", "2021-06-10T03:36=++1", "=1", "2021-06-10T03:36=999999999"}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(ParseClockError(bad))) << bad;
    }
}

TEST(TimeCorrections, ClockErrorIsInterpolatedBetweenItsPointsAndHeldBeyond) {
    TimeCorrections c;
    EXPECT_EQ(c.CorrectionFor(At(2021, 6, 10, 0, 0)), 0);
    c.ShiftUs = -3600 * kMicrosecondsPerSecond;
    c.AddClockError({At(2021, 6, 11, 0, 0), 20'000'000});
    c.AddClockError({At(2021, 6, 10, 0, 0), 10'000'000});
    c.AddClockError({At(2021, 6, 11, 0, 0), 30'000'000});  // the same instant again: replaced
    ASSERT_EQ(c.ClockErrors.size(), 2u);
    // The error at the shifted time, subtracted.
    EXPECT_EQ(c.CorrectionFor(At(2021, 6, 10, 1, 0)), -3600'000'000 - 10'000'000);
    EXPECT_EQ(c.CorrectionFor(At(2021, 6, 10, 13, 0)), -3600'000'000 - 20'000'000);
    EXPECT_EQ(c.CorrectionFor(At(2021, 6, 9, 0, 0)), -3600'000'000 - 10'000'000);
    EXPECT_EQ(c.CorrectionFor(At(2021, 6, 12, 0, 0)), -3600'000'000 - 30'000'000);
}

class StartTimes : public ::testing::Test {
protected:
    StartTimes() { Rate.KsamplesPerSecEditChange("576"); }
    WavFileRec Named(const std::string& path) {
        WavFileRec rec;
        rec.NameWithPath = path;
        DateAndIdentityFromName(rec, false, false, Rate, host, "S");
        return rec;
    }
    SampleRate Rate;
    test::RecordingHost host;
    TimeCorrections none;
};

struct ChoiceCase {
    const char* path;
    std::optional<RecordingStart> own;
    TimeSourceChoice choice;
    bool exact;
    const char* start;  // the exact start; "" none
    TimeSource source;
    int32_t minute;  // Start.Mn
    int32_t second;  // Start.Second
    bool warned;
    std::optional<int32_t> localZone = std::nullopt;  // the name read as local time
};

TEST_F(StartTimes, TheChoiceTakesTheNamesOrTheFilesOwnTime) {
    const RecordingStart log{At(2021, 6, 10, 3, 36, 54.25), true, TimeSource::LogXml};
    const RecordingStart far{At(2021, 6, 10, 1, 36, 54), true, TimeSource::Guan};
    const RecordingStart nextMinute{At(2021, 6, 10, 3, 37, 0.5), true, TimeSource::Wamd};
    const RecordingStart lateLog{At(2021, 6, 10, 3, 36, 59), true, TimeSource::LogXml};
    const RecordingStart almostMinute{At(2021, 6, 10, 3, 37, 54.9), false, TimeSource::Bext};
    // A recorder on UTC+2 that names its files in local time, and one on UTC-3:30 that does not.
    const RecordingStart moth{At(2021, 6, 10, 1, 36, 40), true, TimeSource::Icmt, 120};
    const RecordingStart otherZone{At(2021, 6, 10, 7, 6, 55), true, TimeSource::Wamd, 210};
    const RecordingStart minuteBefore{At(2021, 6, 10, 3, 35, 55), true, TimeSource::Guan};
    const RecordingStart minuteAfter{At(2021, 6, 10, 3, 37, 55), true, TimeSource::Guan};
    const int32_t m0336 = *EncodeMinuteNumber(2021, 6, 10, 3, 36);
    const int32_t m0337 = *EncodeMinuteNumber(2021, 6, 10, 3, 37);
    const int32_t m0136 = *EncodeMinuteNumber(2021, 6, 10, 1, 36);
    using enum TimeSourceChoice;
    const ChoiceCase cases[] = {
        {"/d/L.20210610033655.wav", std::nullopt, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, false},
        // The own time less than a minute from the name's is the start, and places the file.
        {"/d/L.20210610033655.wav", log, Auto, false, "2021-06-10T03:36:54.250000Z",
         TimeSource::LogXml, m0336, 0, false},
        {"/d/L.20210610033655.wav", log, Auto, true, "2021-06-10T03:36:54.250000Z",
         TimeSource::LogXml, m0336, 54, false},
        {"/d/5987.210610033700.wav", lateLog, Auto, false, "2021-06-10T03:36:59.000000Z",
         TimeSource::LogXml, m0336, 0, false},
        {"/d/L.20210610033655.wav", nextMinute, Auto, false, "2021-06-10T03:37:00.500000Z",
         TimeSource::Wamd, m0337, 0, false},
        {"/d/L.20210610033655.wav", almostMinute, Auto, false, "2021-06-10T03:37:54.900000",
         TimeSource::Bext, m0337, 0, false},
        // The name's time when it is chosen, however close the own time lies.
        {"/d/L.20210610033655.wav", log, Name, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, false},
        // A minute or more apart: the name's, with a warning, unless the file's is chosen.
        {"/d/L.20210610033655.wav", far, Auto, true, "2021-06-10T03:36:55.000000", TimeSource::Name,
         m0336, 55, true},
        // A whole minute apart, either way, is worth a warning.
        {"/d/L.20210610033655.wav", minuteBefore, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, true},
        {"/d/L.20210610033655.wav", minuteAfter, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, true},
        {"/d/L.20210610033655.wav", far, File, false, "2021-06-10T01:36:54.000000Z",
         TimeSource::Guan, m0136, 0, true},
        // The name in the recorder's local time: the own time in UTC, without a warning.
        {"/d/L.20210610033655.wav", moth, Auto, false, "2021-06-10T01:36:40.000000Z",
         TimeSource::Icmt, m0136, 0, false, 120},
        {"/d/L.20210610033655.wav", moth, File, false, "2021-06-10T01:36:40.000000Z",
         TimeSource::Icmt, m0136, 0, false, 120},
        {"/d/L.20210610033655.wav", moth, Name, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, false},
        {"/d/L.20210610033655.wav", otherZone, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, true},
        {"/d/rec1.wav", far, Auto, false, "2021-06-10T01:36:54.000000Z", TimeSource::Guan, m0136, 0,
         false},
        {"/d/rec1.wav", std::nullopt, File, false, "", TimeSource::None, 0, 0, false},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(static_cast<int>(c.choice)) + " " +
                     c.start);
        WavFileRec rec = Named(c.path);
        const StartChoice found = ResolveStartTime(rec, c.own, c.choice, none, c.exact, Rate);
        EXPECT_EQ(rec.StartTime.Source != TimeSource::None ? StartTimeText(rec.StartTime) : "",
                  c.start);
        EXPECT_EQ(rec.StartTime.Source, c.source);
        EXPECT_EQ(rec.Start.Mn, c.minute);
        EXPECT_EQ(rec.Start.Second, c.second);
        // The log's 54.25 s keeps its fraction when the file is placed at it.
        EXPECT_EQ(rec.Start.FractionUs, c.second == 54 ? 250'000 : 0);
        // Microseconds x 2 / IPIscaler ticks, the rest of the minute after them.
        EXPECT_EQ(rec.Start.TimeInMinuteNear2MHz, c.second == 54   ? 124991996
                                                  : c.second == 55 ? 126719996
                                                                   : 0);
        EXPECT_EQ(rec.Start.TimeInMinuteNear2MHz + rec.Start.NofNear2MHzToEndOfMinute,
                  c.minute != 0 ? 138239996 : 0);
        EXPECT_EQ(found.Warning.has_value(), c.warned);
        EXPECT_EQ(found.LocalNameZone, c.localZone);
        EXPECT_FALSE(rec.Unplaced.has_value());
    }
}

TEST_F(StartTimes, DisagreementsNameTheOptionThatGivesTheOtherTime) {
    const RecordingStart moth{At(2021, 6, 10, 5, 36, 55), false, TimeSource::Icmt};
    WavFileRec rec = Named("/d/L.20210610033655.wav");
    EXPECT_EQ(*ResolveStartTime(rec, moth, TimeSourceChoice::Auto, none, false, Rate).Warning,
              "/d/L.20210610033655.wav: its name says 2021-06-10T03:36:55.000000, its icmt "
              "2021-06-10T05:36:55.000000 (7200.000 s apart: a clock or time-zone mistake?); the "
              "name's time is taken (--time-source file takes the icmt's, --time-shift +02:00 "
              "moves every start by the difference)");
    rec = Named("/d/L.20210610033655.wav");
    EXPECT_EQ(*ResolveStartTime(rec, moth, TimeSourceChoice::File, none, false, Rate).Warning,
              "/d/L.20210610033655.wav: its name says 2021-06-10T03:36:55.000000, its icmt "
              "2021-06-10T05:36:55.000000 (7200.000 s apart: a clock or time-zone mistake?); the "
              "icmt's time is taken (--time-source name takes the name's, --time-shift -02:00 "
              "moves every start by the difference)");
    // A difference that is no zone's offers no shift.
    const RecordingStart drifted{At(2021, 6, 10, 3, 44, 1), true, TimeSource::Guan};
    rec = Named("/d/L.20210610033655.wav");
    EXPECT_TRUE(ResolveStartTime(rec, drifted, TimeSourceChoice::Auto, none, false, Rate)
                    .Warning->ends_with("(--time-source file takes the guan's)"));
}

TEST_F(StartTimes, TheDateStringKeepsTheNamesTextWhereTheFileIsPlacedOnItsDay) {
    TimeCorrections c;
    for (const auto& [shift, date, minute] :
         {std::tuple{int64_t{0}, "2023 +5 17", *EncodeMinuteNumber(2023, 5, 17, 12, 0)},
          {int64_t{-3600}, "2023 +5 17", *EncodeMinuteNumber(2023, 5, 17, 11, 0)},
          {int64_t{-13 * 3600}, "2023 05 16", *EncodeMinuteNumber(2023, 5, 16, 23, 0)}}) {
        c.ShiftUs = shift * kMicrosecondsPerSecond;
        WavFileRec rec = Named("/d/Plus.2023+517120000.wav");
        ResolveStartTime(rec, std::nullopt, TimeSourceChoice::Auto, c, false, Rate);
        EXPECT_EQ(rec.DateString, date);
        EXPECT_EQ(rec.Start.Mn, minute);
    }
}

TEST_F(StartTimes, CorrectionsMoveTheStartAndItsPlacement) {
    TimeCorrections c;
    c.ShiftUs = -2 * 3600 * kMicrosecondsPerSecond;
    WavFileRec rec = Named("/d/L.20210611013655.wav");
    ResolveStartTime(rec, std::nullopt, TimeSourceChoice::Auto, c, false, Rate);
    EXPECT_EQ(StartTimeText(rec.StartTime), "2021-06-10T23:36:55.000000");
    EXPECT_EQ(rec.DateString, "2021 06 10");
    EXPECT_EQ(rec.Start.Mn, *EncodeMinuteNumber(2021, 6, 10, 23, 36));
    EXPECT_EQ(rec.CorrectionUs, c.ShiftUs);
    // A start the shift moves before the minute numbers begin gives no date, and is named.
    c.ShiftUs = -2 * 3600 * kMicrosecondsPerSecond;
    rec = Named("/d/rec1.wav");
    const RecordingStart early{At(1899, 12, 30, 1, 30), true, TimeSource::Guan};
    EXPECT_EQ(*ResolveStartTime(rec, early, TimeSourceChoice::Auto, c, false, Rate).Warning,
              "/d/rec1.wav: its start 1899-12-29T23:30:00.000000Z (guan, with -7200.000 s of "
              "--time-shift and --clock-error) lies before 1899-12-30 00:01, where the minutes of "
              "TK1 files begin: it cannot be placed");
    EXPECT_FALSE(rec.DateFound);
    EXPECT_EQ(rec.Start.Mn, 0);
    ASSERT_TRUE(rec.Unplaced.has_value());
    EXPECT_EQ(rec.Unplaced->Microseconds, At(1899, 12, 29, 23, 30));
    // Two hours later it lies on the axis.
    c.ShiftUs = 0;
    rec = Named("/d/rec1.wav");
    EXPECT_FALSE(ResolveStartTime(rec, early, TimeSourceChoice::Auto, c, false, Rate).Warning);
    EXPECT_FALSE(rec.Unplaced.has_value());
    EXPECT_EQ(rec.Start.Mn, 90);
}

TEST_F(StartTimes, OverlappingRecordingsOfALocationAreNamed) {
    WavFileRecTable recs = {Named("/d/A.20210610033600.wav"), Named("/d/A.20210610033700.wav"),
                            Named("/d/A.20210610033800.wav"), Named("/d/B.20210610033800.wav")};
    // Converted samples of 61 s, 61.5 s and 120 s at 576 k (the conversion begins 28 samples
    // into the data): the first ends exactly 1 s after the second begins (no warning), the
    // second 1.5 s after the third begins.
    const int64_t perSecond = 576000 * 2;
    for (auto [i, seconds] : {std::pair{0, 61.0}, {1, 61.5}, {2, 120.0}}) {
        recs[i].Header.DataFound = true;
        recs[i].Header.DataOffset = 44;
        recs[i].Header.DataSize = static_cast<uint32_t>(seconds * perSecond + 2 * 28);
        recs[i].Header.DataSizeValid = true;
        recs[i].Header.FileSize = 44 + recs[i].Header.DataSize;
    }
    recs[3].Header = recs[2].Header;
    const auto warnings = OverlapWarnings(recs, 576000);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0],
              "/d/A.20210610033700.wav ends 1.500 s after /d/A.20210610033800.wav begins: both "
              "reach the minute 2021-06-10 03:38 of their TK1 file (recordings of one location "
              "overlap: a clock jump or a wrong name?)");
    // One that lies within the other shares all its minutes.
    recs[1].Header.FileSize = 44 + 185 * perSecond;
    recs[2].Header.FileSize = 44 + static_cast<int64_t>(61.5 * perSecond);
    EXPECT_EQ(OverlapWarnings(recs, 576000).back(),
              "/d/A.20210610033700.wav ends 125.000 s after /d/A.20210610033800.wav begins: both "
              "reach the minutes 2021-06-10 03:38 to 2021-06-10 03:39 of their TK1 file "
              "(recordings of one location overlap: a clock jump or a wrong name?)");
}

}  // namespace
}  // namespace wtk
