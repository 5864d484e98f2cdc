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
};

TEST_F(StartTimes, TheChoiceTakesTheNamesOrTheFilesOwnTime) {
    const RecordingStart log{At(2021, 6, 10, 3, 36, 54.25), true, TimeSource::LogXml};
    const RecordingStart far{At(2021, 6, 10, 1, 36, 54), true, TimeSource::Guan};
    const RecordingStart nextMinute{At(2021, 6, 10, 3, 37, 0.5), true, TimeSource::Wamd};
    const RecordingStart minuteBefore{At(2021, 6, 10, 3, 35, 55), true, TimeSource::Guan};
    const RecordingStart minuteAfter{At(2021, 6, 10, 3, 37, 55), true, TimeSource::Guan};
    const int32_t m0336 = *EncodeMinuteNumber(2021, 6, 10, 3, 36);
    const int32_t m0136 = *EncodeMinuteNumber(2021, 6, 10, 1, 36);
    using enum TimeSourceChoice;
    const ChoiceCase cases[] = {
        {"/d/L.20210610033655.wav", std::nullopt, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, false},
        // The own time refines the name's within its minute; placement stays the name's.
        {"/d/L.20210610033655.wav", log, Auto, false, "2021-06-10T03:36:54.250000Z",
         TimeSource::LogXml, m0336, 0, false},
        {"/d/L.20210610033655.wav", log, Auto, true, "2021-06-10T03:36:54.250000Z",
         TimeSource::LogXml, m0336, 54, false},
        // The name's time when it is chosen, however close the own time lies.
        {"/d/L.20210610033655.wav", log, Name, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, false},
        {"/d/L.20210610033655.wav", nextMinute, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, false},
        {"/d/L.20210610033655.wav", far, Auto, true, "2021-06-10T03:36:55.000000", TimeSource::Name,
         m0336, 55, true},
        // A whole minute apart, either way, is worth a warning.
        {"/d/L.20210610033655.wav", minuteBefore, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, true},
        {"/d/L.20210610033655.wav", minuteAfter, Auto, false, "2021-06-10T03:36:55.000000",
         TimeSource::Name, m0336, 0, true},
        {"/d/L.20210610033655.wav", far, File, false, "2021-06-10T01:36:54.000000Z",
         TimeSource::Guan, m0136, 0, true},
        {"/d/rec1.wav", far, Auto, false, "2021-06-10T01:36:54.000000Z", TimeSource::Guan, m0136, 0,
         false},
        {"/d/rec1.wav", std::nullopt, File, false, "", TimeSource::None, 0, 0, false},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(static_cast<int>(c.choice)));
        WavFileRec rec = Named(c.path);
        const auto warning = ResolveStartTime(rec, c.own, c.choice, none, c.exact, Rate);
        EXPECT_EQ(rec.StartTime.Source != TimeSource::None ? StartTimeText(rec.StartTime) : "",
                  c.start);
        EXPECT_EQ(rec.StartTime.Source, c.source);
        EXPECT_EQ(rec.Start.Mn, c.minute);
        EXPECT_EQ(rec.Start.Second, c.second);
        // Second x 2,000,000 / IPIscaler ticks, the rest of the minute after them.
        EXPECT_EQ(rec.Start.TimeInMinuteNear2MHz, c.second == 54   ? 124415996
                                                  : c.second == 55 ? 126719996
                                                                   : 0);
        EXPECT_EQ(rec.Start.TimeInMinuteNear2MHz + rec.Start.NofNear2MHzToEndOfMinute,
                  c.minute != 0 ? 138239996 : 0);
        EXPECT_EQ(warning.has_value(), c.warned);
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
    // A start before the minute numbers begin gives no date.
    c.ShiftUs = -200LL * 365 * 86400 * kMicrosecondsPerSecond;
    rec = Named("/d/L.20210611013655.wav");
    ResolveStartTime(rec, std::nullopt, TimeSourceChoice::Auto, c, false, Rate);
    EXPECT_FALSE(rec.DateFound);
    EXPECT_EQ(rec.Start.Mn, 0);
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
              "/d/A.20210610033700.wav ends 1.500 s after /d/A.20210610033800.wav begins "
              "(recordings of one location overlap: a clock jump or a wrong name?)");
}

}  // namespace
}  // namespace wtk
