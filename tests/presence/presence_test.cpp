// Presence per period with its effort, and the two tables.
#include "presence/presence.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "base/calendar.h"
#include "presence/tables.h"

namespace wtk::presence {
namespace {

constexpr int64_t kMinute = kMicrosecondsPerMinute;
constexpr int64_t kSecond = kMicrosecondsPerSecond;
// 2024-06-01 00:00 UTC.
const int64_t kJune1 = *EncodeMinuteNumber(2024, 6, 1, 0, 0) * kMinute;

Train NbhfTrain(int64_t startUs, std::vector<int64_t> minutes, TrainQuality q, int64_t encounter,
                std::vector<int64_t> buzzMinutes = {}) {
    Train t;
    t.StartUs = startUs;
    t.EndUs = startUs + 2 * kSecond;
    t.Class = TrainClass::Nbhf;
    t.Quality = q;
    t.Encounter = encounter;
    t.ClickMinutes = std::move(minutes);
    t.BuzzMinutes = std::move(buzzMinutes);
    return t;
}

int64_t MinuteAt(int64_t us) {
    return FloorDivide(us, kMinute).Quotient;
}

TEST(Presence, PeriodsWithoutEffortHaveEmptyCountsNeverZero) {
    PresenceCounter c("REEF", {Period::Hour, 0, TrainQuality::Moderate});
    c.AddEffort(kJune1, kJune1 + 10 * kMinute);                   // hour 0
    c.AddEffort(kJune1 + 120 * kMinute, kJune1 + 125 * kMinute);  // hour 2
    const std::vector<PresenceRow> rows = c.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].PeriodStartUs, kJune1 + 60 * kMinute);
    EXPECT_EQ(rows[1].RecordedMinutes, 0);
    EXPECT_FALSE(rows[1].NbhfDpm);
    EXPECT_EQ(PresenceRowText(rows[1]), "2024-06-01T01:00:00.000000Z,REEF,0,0.000000,,,,,,");
    EXPECT_EQ(rows[0].NbhfDpm, 0);  // recorded, nothing found: 0
    EXPECT_EQ(PresenceRowText(rows[2]),
              "2024-06-01T02:00:00.000000Z,REEF,5,300.000000,0,0,0,0,0,0");
}

TEST(Presence, ASpanOfCenturiesIsRefusedNotAllocated) {
    // Two recordings of a damaged table centuries apart would ask for a row per minute
    // between them.
    PresenceCounter c("REEF", {Period::Day, 0, TrainQuality::Moderate});
    c.AddEffort(kJune1, kJune1 + kMinute);
    c.AddEffort(kJune1 + 300 * 366 * 1440 * kMinute, kJune1 + 300 * 366 * 1440 * kMinute + kMinute);
    EXPECT_THROW(c.Rows(), std::length_error);
}

TEST(Presence, PartialMinutesCountBySeconds) {
    PresenceCounter minutes("A", {Period::Minute, 0, TrainQuality::Moderate});
    PresenceCounter hours("A", {Period::Hour, 0, TrainQuality::Moderate});
    for (PresenceCounter* c : {&minutes, &hours}) {
        c->AddEffort(kJune1 + 30 * kSecond, kJune1 + 135 * kSecond);
        c->AddEffort(kJune1 + 100 * kSecond, kJune1 + 120 * kSecond);  // overlaps: counts once
    }
    const std::vector<PresenceRow> m = minutes.Rows();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].RecordedUs, 30 * kSecond);
    EXPECT_EQ(m[1].RecordedUs, 60 * kSecond);
    EXPECT_EQ(m[2].RecordedUs, 15 * kSecond);
    for (const PresenceRow& r : m) EXPECT_EQ(r.RecordedMinutes, 1);
    const std::vector<PresenceRow> h = hours.Rows();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].RecordedMinutes, 3);
    EXPECT_EQ(PresenceRowText(h[0]), "2024-06-01T00:00:00.000000Z,A,3,105.000000,0,0,0,0,0,0");
}

TEST(Presence, DaysFollowTheOffsetGiven) {
    // Recording from 21:30 to 23:30 UTC: 23:30 to 01:30 at UTC+2, two local days.
    const int64_t from = kJune1 + (21 * 60 + 30) * kMinute;
    for (const auto& [offset, days, firstStart] :
         {std::tuple{120, 2u, std::string("2024-06-01T00:00:00.000000+02:00")},
          std::tuple{0, 1u, std::string("2024-06-01T00:00:00.000000Z")},
          std::tuple{-330, 1u, std::string("2024-06-01T00:00:00.000000-05:30")}}) {
        PresenceCounter c("A", {Period::Day, offset, TrainQuality::Moderate});
        c.AddEffort(from, from + 120 * kMinute);
        c.AddTrain(NbhfTrain(from + 45 * kMinute, {MinuteAt(from) + 45}, TrainQuality::High, 1));
        const std::vector<PresenceRow> rows = c.Rows();
        ASSERT_EQ(rows.size(), days) << offset;
        EXPECT_EQ(PresenceRowText(rows[0]).substr(0, firstStart.size()), firstStart) << offset;
        int recorded = 0, dpm = 0;
        for (const PresenceRow& r : rows) {
            recorded += r.RecordedMinutes;
            dpm += r.NbhfDpm.value_or(0);
        }
        EXPECT_EQ(recorded, 120);
        EXPECT_EQ(dpm, 1);
        if (offset == 120) {
            EXPECT_EQ(rows[0].RecordedMinutes, 30);  // 23:30 to midnight local
            EXPECT_EQ(rows[1].NbhfDpm, 1);           // 00:15 local
        }
    }
    // Hours of a half-hour zone begin at its hh:00.
    PresenceCounter c("A", {Period::Hour, 330, TrainQuality::Moderate});
    c.AddEffort(kJune1, kJune1 + 60 * kMinute);
    const std::vector<PresenceRow> rows = c.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(PresenceRowText(rows[0]).substr(0, 32), "2024-06-01T05:00:00.000000+05:30");
    EXPECT_EQ(rows[0].RecordedMinutes, 30);
}

TEST(Presence, MinutesTrainsAndEncountersCount) {
    PresenceCounter c("A", {Period::Hour, 0, TrainQuality::Moderate});
    const int64_t m0 = MinuteAt(kJune1);
    c.AddEffort(kJune1, kJune1 + 60 * kMinute);
    // Encounter 1: two trains, one spanning two minutes, one with a buzz.
    c.AddTrain(NbhfTrain(kJune1 + 59 * kSecond, {m0, m0 + 1}, TrainQuality::High, 1));
    c.AddTrain(NbhfTrain(kJune1 + 5 * kMinute, {m0 + 5}, TrainQuality::Moderate, 1, {m0 + 5}));
    // A low-quality NBHF train counts nowhere.
    c.AddTrain(NbhfTrain(kJune1 + 8 * kMinute, {m0 + 8}, TrainQuality::Low, 0));
    // Encounter 2, in a minute that already holds one.
    c.AddTrain(NbhfTrain(kJune1 + 30 * kMinute, {m0 + 30}, TrainQuality::High, 2));
    c.AddTrain(NbhfTrain(kJune1 + 30 * kMinute + kSecond, {m0 + 30}, TrainQuality::High, 2));
    Train sonar = NbhfTrain(kJune1, {m0, m0 + 1, m0 + 2}, TrainQuality::High, 0);
    sonar.Class = TrainClass::Sonar;
    c.AddTrain(sonar);
    Train dolphin = NbhfTrain(kJune1, {m0 + 40}, TrainQuality::Moderate, 0, {m0 + 40});
    dolphin.Class = TrainClass::Dolphin;
    c.AddTrain(dolphin);
    const std::vector<PresenceRow> rows = c.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].NbhfDpm, 4);  // minutes 0, 1, 5, 30
    EXPECT_EQ(rows[0].DolphinDpm, 1);
    EXPECT_EQ(rows[0].SonarMinutes, 3);
    EXPECT_EQ(rows[0].BuzzMinutes, 1);  // a dolphin's short intervals are no buzz here
    EXPECT_EQ(rows[0].NbhfTrains, 4);
    EXPECT_EQ(rows[0].Encounters, 2);
    // With the low-quality trains counted.
    PresenceCounter low("A", {Period::Hour, 0, TrainQuality::Low});
    low.AddEffort(kJune1, kJune1 + 60 * kMinute);
    low.AddTrain(NbhfTrain(kJune1 + 8 * kMinute, {m0 + 8}, TrainQuality::Low, 0));
    EXPECT_EQ(low.Rows()[0].NbhfDpm, 1);
    EXPECT_EQ(low.Rows()[0].NbhfTrains, 1);
}

TEST(Presence, UtcOffsetsAreRead) {
    const struct {
        const char* Text;
        std::optional<int32_t> Minutes;
    } kRows[] = {{"+02:00", 120}, {"-05:30", -330}, {"Z", 0},       {"+00:00", 0}, {"+14:00", 840},
                 {"+0200", 120},  {"-03", -180},    {"+14:01", {}}, {"+2:00", {}}, {"02:00", {}},
                 {"+02:60", {}},  {"", {}},         {"+02:0a", {}}, {"UTC+2", {}}, {"+02:00Z", {}}};
    for (const auto& row : kRows) EXPECT_EQ(ParseUtcOffset(row.Text), row.Minutes) << row.Text;
    EXPECT_EQ(UtcOffsetText(-330), "-05:30");
    EXPECT_EQ(UtcOffsetText(0), "Z");
    EXPECT_EQ(ParsePeriod("day"), Period::Day);
    EXPECT_FALSE(ParsePeriod("week"));
}

TEST(Presence, TrainRowsHoldTheirFields) {
    Train t;
    t.Number = 12;
    t.StartUs = kJune1 + 5 * kSecond + 250;
    t.EndUs = kJune1 + 7 * kSecond;
    t.Clicks = 41;
    t.IciModalMs = 52.25;
    t.IciMinMs = 1.5;
    t.IciMaxMs = 80;
    t.KhzMedian = 133.3333;
    t.PmaxMedian = 180.5;
    t.Class = TrainClass::Nbhf;
    t.Quality = TrainQuality::High;
    t.BuzzClicks = 3;
    t.Encounter = 2;
    EXPECT_EQ(TrainRow(t, "Site,A", "/rec/A.20240601000000.wav"),
              "12,\"Site,A\",/rec/A.20240601000000.wav,2024-06-01T00:00:05.000250Z,"
              "2024-06-01T00:00:07.000000Z,41,52.250,1.500,80.000,133.333,180.5,nbhf,high,3,2");
    t.Encounter = 0;
    t.Class = TrainClass::Sonar;
    EXPECT_TRUE(TrainRow(t, "A", "").ends_with(",sonar,high,3,"));
}

}  // namespace
}  // namespace wtk::presence
