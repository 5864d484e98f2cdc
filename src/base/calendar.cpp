#include "base/calendar.h"

#include <cassert>

#include "base/numbers.h"

namespace wtk {

FloorDivision FloorDivide(int64_t value, int64_t divisor) {
    assert(divisor > 0);
    FloorDivision r{value / divisor, value % divisor};
    if (r.Remainder < 0) {
        r.Remainder += divisor;
        --r.Quotient;
    }
    return r;
}

bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t DaysInMonth(int64_t year, int32_t month) {
    static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    assert(month >= 1 && month <= 12);
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Both directions count in eras of 400 years (146097 days) from 0000-03-01, so that the leap
// day is the last day of each counted year.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;                                             // 0..399
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;  // 0..365
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;                     // 0..146096
    return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(int64_t days) {
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;                                       // 0..146096
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // 0..399
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // 0..365
    const int64_t mp = (5 * doy + 2) / 153;                                     // 0..11
    CivilDate d;
    d.Day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    d.Month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    d.Year = yoe + era * 400 + (d.Month <= 2 ? 1 : 0);
    return d;
}

int64_t DayNumberFromCivil(int64_t year, int64_t month, int64_t day) {
    return DaysFromCivil(year, month, day) + kEpochTo1970Days;
}

CivilDate CivilFromDayNumber(int64_t dayNumber) {
    return CivilFromDays(dayNumber - kEpochTo1970Days);
}

int64_t MinuteNumberFromCivil(int64_t year, int64_t month, int64_t day, int64_t hour,
                              int64_t minute) {
    return DayNumberFromCivil(year, month, day) * kMinutesPerDay + hour * 60 + minute;
}

std::string IsoMicroseconds(int64_t microseconds, char separator) {
    const FloorDivision second = FloorDivide(microseconds, 1'000'000);
    const FloorDivision day = FloorDivide(second.Quotient, kSecondsPerDay);
    const CivilDate date = CivilFromDayNumber(day.Quotient);
    const int64_t secOfDay = day.Remainder;
    std::string s;
    s.reserve(26);
    AppendZeroPadded(s, date.Year, 4);
    s += '-';
    AppendZeroPadded(s, date.Month, 2);
    s += '-';
    AppendZeroPadded(s, date.Day, 2);
    s += separator;
    AppendZeroPadded(s, secOfDay / 3600, 2);
    s += ':';
    AppendZeroPadded(s, secOfDay / 60 % 60, 2);
    s += ':';
    AppendZeroPadded(s, secOfDay % 60, 2);
    s += '.';
    AppendZeroPadded(s, second.Remainder, 6);
    return s;
}

}  // namespace wtk
