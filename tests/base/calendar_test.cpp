#include "base/calendar.h"

#include <gtest/gtest.h>

#include <utility>

namespace wtk {
namespace {

TEST(Calendar, DayCountsAndDatesRoundTripAcrossLeapRulesAndEras) {
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DayNumberFromCivil(1899, 12, 30), 0);
    EXPECT_EQ(DayNumberFromCivil(1970, 1, 1), kEpochTo1970Days);
    EXPECT_EQ(DayNumberFromCivil(2000, 1, 1), 36526);
    EXPECT_EQ(DayNumberFromCivil(1900, 3, 1), 61);  // 1900 has no 29 February
    EXPECT_EQ(DaysFromCivil(0, 3, 1), -719468);
    // Every day over five centuries (1600..2100, with the leap days of 1600 and 2000 and the
    // missing ones of 1700, 1800, 1900, 2100) and a stretch before year 0 follows its
    // predecessor by one day in the calendar.
    for (const auto& [from, to] :
         {std::pair<int64_t, int64_t>{-135140, 47847}, {-800000, -780000}}) {
        CivilDate prev = CivilFromDays(from - 1);
        for (int64_t z = from; z < to; ++z) {
            const CivilDate d = CivilFromDays(z);
            ASSERT_EQ(DaysFromCivil(d.Year, d.Month, d.Day), z);
            if (d.Day == 1) {
                ASSERT_EQ(prev.Day, DaysInMonth(prev.Year, prev.Month)) << z;
                ASSERT_EQ(d.Month, prev.Month % 12 + 1) << z;
                ASSERT_EQ(d.Year, prev.Year + (d.Month == 1 ? 1 : 0)) << z;
            } else {
                ASSERT_EQ(d.Day, prev.Day + 1) << z;
                ASSERT_EQ(d.Month, prev.Month) << z;
                ASSERT_EQ(d.Year, prev.Year) << z;
            }
            prev = d;
        }
    }
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(-4));
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(2023, 2), 28);
    EXPECT_EQ(DaysInMonth(2023, 4), 30);
}

TEST(Calendar, MinuteNumbersAndFloorDivision) {
    EXPECT_EQ(MinuteNumberFromCivil(2015, 1, 1, 0, 0), 60487200);
    EXPECT_EQ(MinuteNumberFromCivil(1899, 12, 29, 23, 59), -1);
    const FloorDivision before = FloorDivide(-1, kMinutesPerDay);  // 1899-12-29 23:59
    EXPECT_EQ(before.Quotient, -1);
    EXPECT_EQ(before.Remainder, 1439);
    const CivilDate d = CivilFromDayNumber(before.Quotient);
    EXPECT_EQ(d.Year, 1899);
    EXPECT_EQ(d.Month, 12);
    EXPECT_EQ(d.Day, 29);
    EXPECT_EQ(FloorDivide(-1440, 1440).Quotient, -1);
    EXPECT_EQ(FloorDivide(-1440, 1440).Remainder, 0);
    EXPECT_EQ(FloorDivide(1441, 1440).Quotient, 1);
    EXPECT_EQ(FloorDivide(1441, 1440).Remainder, 1);
}

TEST(Calendar, DaysWithOneDecimal) {
    const std::pair<int64_t, const char*> cases[] = {{0, "0.0"},      {71, "0.0"},     {72, "0.1"},
                                                     {14400, "10.0"}, {87839, "61.0"}, {-5, "0.0"}};
    for (const auto& [minutes, text] : cases) EXPECT_EQ(DaysText(minutes), text) << minutes;
}

}  // namespace
}  // namespace wtk
