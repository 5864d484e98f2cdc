// Calendar arithmetic of minute numbers: whole minutes since 1899-12-30 00:00 in the proleptic
// Gregorian calendar, the time axis of TK1 files and of the WAV file starts.
#pragma once

#include <cstdint>
#include <string>

namespace wtk {

inline constexpr int64_t kMinutesPerDay = 1440;
inline constexpr int64_t kSecondsPerDay = 86400;
inline constexpr int64_t kMicrosecondsPerSecond = 1'000'000;
inline constexpr int64_t kMicrosecondsPerMinute = 60 * kMicrosecondsPerSecond;
// Days from 1899-12-30 (day 0 of the minute numbers) to 1970-01-01.
inline constexpr int64_t kEpochTo1970Days = 25569;

struct CivilDate {
    int64_t Year = 0;
    int32_t Month = 0;  // 1..12
    int32_t Day = 0;    // 1..31
};

// Quotient rounded towards minus infinity and the remainder that goes with it (0..divisor-1),
// so that times before an epoch fall on the day (second, ...) before it. divisor > 0.
struct FloorDivision {
    int64_t Quotient = 0;
    int64_t Remainder = 0;
};
FloorDivision FloorDivide(int64_t value, int64_t divisor);

bool IsLeapYear(int64_t year);
// Days of a month (1..12) of a year, 28..31.
int32_t DaysInMonth(int64_t year, int32_t month);

// Days since 1970-01-01 of a date, and the date of such a day count (any year, any count
// within +-2^60).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
CivilDate CivilFromDays(int64_t days);

// Day numbers: days since 1899-12-30.
int64_t DayNumberFromCivil(int64_t year, int64_t month, int64_t day);
CivilDate CivilFromDayNumber(int64_t dayNumber);

// Minute number of a date and time, unchecked (hour and minute as given).
int64_t MinuteNumberFromCivil(int64_t year, int64_t month, int64_t day, int64_t hour,
                              int64_t minute);

// ISO 8601 text of a time in microseconds since 1899-12-30 00:00, to the microsecond:
// "2021-06-10T03:36:54.250000" (separator: the character between date and time).
std::string IsoMicroseconds(int64_t microseconds, char separator = 'T');

}  // namespace wtk
