#include "presence/sun.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/calendar.h"

namespace wtk::presence {
namespace {

constexpr int64_t kMinuteUs = kMicrosecondsPerMinute;
constexpr int64_t kDayUs = 1440 * kMinuteUs;

// Sunrise and sunset times of almanacs (UTC, minutes after midnight of the date; before 0 for
// the evening before), which the approximation meets within a few minutes.
struct KnownDay {
    const char* Place;
    double Latitude, Longitude;
    int Year, Month, Day;
    double Sunrise, Sunset;
};
const KnownDay kKnownDays[] = {
    // Greenwich at the solstices: 04:43 and 21:21 BST in June, 08:04 and 15:53 GMT in December.
    {"Greenwich, June", 51.4769, -0.0005, 2024, 6, 21, 3 * 60 + 43, 20 * 60 + 21},
    {"Greenwich, December", 51.4769, -0.0005, 2024, 12, 21, 8 * 60 + 4, 15 * 60 + 53},
    // Sydney in December: 05:41 and 20:05 AEDT (UTC+11), the sunrise on the UTC date before.
    {"Sydney, December", -33.8688, 151.2093, 2024, 12, 21, 5 * 60 + 41 - 11 * 60,
     20 * 60 + 5 - 11 * 60},
    // Anchorage at midsummer: 04:20 and 23:42 AKDT (UTC-8), the sunset on the next UTC date.
    {"Anchorage, June", 61.2181, -149.9003, 2024, 6, 21, 4 * 60 + 20 + 8 * 60,
     23 * 60 + 42 + 8 * 60},
    // Honolulu in March: 06:35 and 18:43 HST (UTC-10) by the full solar-position algorithm;
    // the sunset falls after the UTC date's end.
    {"Honolulu, March", 21.3069, -157.8583, 2024, 3, 20, 6 * 60 + 35 + 10 * 60,
     18 * 60 + 43 + 10 * 60},
};

TEST(SunTest, SunriseAndSunsetWithinThreeMinutesOfAlmanacTimes) {
    for (const KnownDay& k : kKnownDays) {
        const SunDay sun =
            SunOn(k.Latitude, k.Longitude, DayNumberFromCivil(k.Year, k.Month, k.Day));
        ASSERT_EQ(sun.Sky, SunDay::Kind::RisesAndSets) << k.Place;
        EXPECT_NEAR(sun.SunriseMinutes, k.Sunrise, 3) << k.Place;
        EXPECT_NEAR(sun.SunsetMinutes, k.Sunset, 3) << k.Place;
    }
}

TEST(SunTest, MidnightSunAndPolarNightBeyondThePolarCircle) {
    // Tromso, 69.65 N: the sun stays up at midsummer and down at midwinter.
    EXPECT_EQ(SunOn(69.65, 18.96, DayNumberFromCivil(2024, 6, 21)).Sky, SunDay::Kind::AlwaysUp);
    EXPECT_EQ(SunOn(69.65, 18.96, DayNumberFromCivil(2024, 12, 21)).Sky, SunDay::Kind::AlwaysDown);
    // The same dates the other way round in the Antarctic.
    EXPECT_EQ(SunOn(-77.85, 166.67, DayNumberFromCivil(2024, 6, 21)).Sky, SunDay::Kind::AlwaysDown);
    EXPECT_EQ(SunOn(-77.85, 166.67, DayNumberFromCivil(2024, 12, 21)).Sky, SunDay::Kind::AlwaysUp);
}

TEST(SunTest, NightSpansOfADayFollowTheSunAndItsNeighbours) {
    const int64_t june21 = DayNumberFromCivil(2024, 6, 21) * kDayUs;
    // Greenwich: night before sunrise and after sunset, cut at the day's ends.
    auto nights = NightSpans(51.4769, -0.0005, june21, june21 + kDayUs);
    ASSERT_EQ(nights.size(), 2u);
    EXPECT_EQ(nights[0].first, june21);
    EXPECT_NEAR(static_cast<double>(nights[0].second - june21) / kMinuteUs, 3 * 60 + 43, 3);
    EXPECT_NEAR(static_cast<double>(nights[1].first - june21) / kMinuteUs, 20 * 60 + 21, 3);
    EXPECT_EQ(nights[1].second, june21 + kDayUs);

    // Sydney's UTC day in December holds one night, between the sunset and the next sunrise
    // (the local evening of the day and the morning after).
    const int64_t dec21 = DayNumberFromCivil(2024, 12, 21) * kDayUs;
    nights = NightSpans(-33.8688, 151.2093, dec21, dec21 + kDayUs);
    ASSERT_EQ(nights.size(), 1u);
    EXPECT_NEAR(static_cast<double>(nights[0].first - dec21) / kMinuteUs, 9 * 60 + 5, 3);
    EXPECT_NEAR(static_cast<double>(nights[0].second - dec21) / kMinuteUs, 18 * 60 + 41, 3);

    // Anchorage's UTC day at midsummer begins in the daylight of the date before, which sets at
    // 07:42; its one night ends with the sunrise at 12:20.
    nights = NightSpans(61.2181, -149.9003, june21, june21 + kDayUs);
    ASSERT_EQ(nights.size(), 1u);
    EXPECT_NEAR(static_cast<double>(nights[0].first - june21) / kMinuteUs, 7 * 60 + 42, 3);
    EXPECT_NEAR(static_cast<double>(nights[0].second - june21) / kMinuteUs, 12 * 60 + 20, 3);

    // The whole day in the polar night, none of it under the midnight sun, and a span of a
    // few hours within one night.
    const int64_t dec21Night = DayNumberFromCivil(2024, 12, 21) * kDayUs;
    nights = NightSpans(69.65, 18.96, dec21Night, dec21Night + kDayUs);
    ASSERT_EQ(nights.size(), 1u);
    EXPECT_EQ(nights[0], std::make_pair(dec21Night, dec21Night + kDayUs));
    EXPECT_TRUE(NightSpans(69.65, 18.96, june21, june21 + kDayUs).empty());
    const int64_t oneAm = june21 + 60 * kMinuteUs;
    nights = NightSpans(51.4769, -0.0005, oneAm, oneAm + 60 * kMinuteUs);
    ASSERT_EQ(nights.size(), 1u);
    EXPECT_EQ(nights[0], std::make_pair(oneAm, oneAm + 60 * kMinuteUs));
    EXPECT_TRUE(NightSpans(51.4769, -0.0005, oneAm, oneAm).empty());
}

}  // namespace
}  // namespace wtk::presence
