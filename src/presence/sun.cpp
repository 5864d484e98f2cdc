#include "presence/sun.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/calendar.h"

namespace wtk::presence {

namespace {

constexpr double kDegree = std::numbers::pi / 180;
// The sun's upper limb on the horizon, with the refraction there.
constexpr double kZenithDegrees = 90.833;

}  // namespace

SunDay SunOn(double latitude, double longitude, int64_t dayNumber) {
    const CivilDate date = CivilFromDayNumber(dayNumber);
    const int64_t dayOfYear = dayNumber - DayNumberFromCivil(date.Year, 1, 1);  // from 0
    const double daysInYear = IsLeapYear(date.Year) ? 366 : 365;
    // The fractional year at noon of the date, in radians.
    const double g = 2 * std::numbers::pi / daysInYear * static_cast<double>(dayOfYear);
    const double equationOfTime =
        229.18 * (0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) -
                  0.014615 * std::cos(2 * g) - 0.040849 * std::sin(2 * g));
    const double declination = 0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) -
                               0.006758 * std::cos(2 * g) + 0.000907 * std::sin(2 * g) -
                               0.002697 * std::cos(3 * g) + 0.00148 * std::sin(3 * g);
    const double lat = std::clamp(latitude, -89.999, 89.999) * kDegree;
    const double cosHourAngle =
        std::cos(kZenithDegrees * kDegree) / (std::cos(lat) * std::cos(declination)) -
        std::tan(lat) * std::tan(declination);
    SunDay day;
    if (cosHourAngle > 1) {
        day.Sky = SunDay::Kind::AlwaysDown;
        return day;
    }
    if (cosHourAngle < -1) {
        day.Sky = SunDay::Kind::AlwaysUp;
        return day;
    }
    const double hourAngleDegrees = std::acos(cosHourAngle) / kDegree;
    day.SunriseMinutes = 720 - 4 * (longitude + hourAngleDegrees) - equationOfTime;
    day.SunsetMinutes = 720 - 4 * (longitude - hourAngleDegrees) - equationOfTime;
    return day;
}

std::vector<std::pair<int64_t, int64_t>> NightSpans(double latitude, double longitude,
                                                    int64_t fromUs, int64_t toUs) {
    std::vector<std::pair<int64_t, int64_t>> nights;
    if (toUs <= fromUs) return nights;
    constexpr int64_t kDayUs = kSecondsPerDay * kMicrosecondsPerSecond;
    // The daylight of every date whose sunrise or sunset can fall in the span: a date's
    // events lie at most half a day (and the equation of time) outside it.
    std::vector<std::pair<int64_t, int64_t>> days;
    const int64_t first = FloorDivide(fromUs, kDayUs).Quotient - 1;
    const int64_t last = FloorDivide(toUs - 1, kDayUs).Quotient + 1;
    for (int64_t d = first; d <= last; ++d) {
        const SunDay sun = SunOn(latitude, longitude, d);
        const int64_t start = d * kDayUs;
        if (sun.Sky == SunDay::Kind::AlwaysUp) {
            days.emplace_back(start, start + kDayUs);
        } else if (sun.Sky == SunDay::Kind::RisesAndSets) {
            days.emplace_back(start + std::llround(sun.SunriseMinutes * kMicrosecondsPerMinute),
                              start + std::llround(sun.SunsetMinutes * kMicrosecondsPerMinute));
        }
    }
    std::sort(days.begin(), days.end());
    // The night is what no daylight covers.
    int64_t at = fromUs;
    for (const auto& [rise, set] : days) {
        if (rise > at) nights.emplace_back(at, std::min(rise, toUs));
        at = std::max(at, set);
        if (at >= toUs) break;
    }
    if (at < toUs) nights.emplace_back(at, toUs);
    // Spans cut off before fromUs or after toUs leave nothing empty behind.
    std::erase_if(nights, [](const auto& n) { return n.second <= n.first; });
    return nights;
}

}  // namespace wtk::presence
