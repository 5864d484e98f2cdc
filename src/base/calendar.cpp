#include "base/calendar.h"

#include <algorithm>
#include <cassert>
#include <ctime>
#include <limits>

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

std::optional<int32_t> EncodeMinuteNumber(int32_t year, int32_t month, int32_t day, int32_t hour,
                                          int32_t minute) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
    const int64_t mn = MinuteNumberFromCivil(year, month, day, hour, minute);
    if (mn < INT32_MIN || mn > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(mn);
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

std::optional<std::pair<int64_t, bool>> ParseIsoMicroseconds(std::string_view text) {
    bool zoned = false;
    if (text.ends_with('Z')) {
        zoned = true;
        text.remove_suffix(1);
    }
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    auto digits = [&](size_t pos, size_t n) { return DigitsAt(text, pos, n); };
    const int32_t year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
    const int32_t hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    int64_t us = 0;
    if (text.size() > 19) {
        const size_t n = text.size() - 20;
        if (text[19] != '.' || n < 1 || n > 6) return std::nullopt;
        const int32_t fraction = digits(20, n);
        if (fraction < 0) return std::nullopt;
        us = fraction;
        for (size_t k = n; k < 6; ++k) us *= 10;
    }
    return std::pair{
        MinuteNumberFromCivil(year, month, day, hour, minute) * kMicrosecondsPerMinute +
            int64_t{second} * kMicrosecondsPerSecond + us,
        zoned};
}

std::string MinToDateStr(int32_t m) {
    const FloorDivision day = FloorDivide(m, kMinutesPerDay);
    const CivilDate date = CivilFromDayNumber(day.Quotient);
    std::string s;
    s.reserve(20);
    AppendZeroPadded(s, date.Day, 1);
    s += '/';
    AppendZeroPadded(s, date.Month, 1);
    s += '/';
    AppendZeroPadded(s, date.Year, 4);
    s += ' ';
    AppendZeroPadded(s, day.Remainder / 60, 2);
    s += ':';
    AppendZeroPadded(s, day.Remainder % 60, 2);
    return s;
}

std::string DateStringOf(int32_t minute) {
    const CivilDate d = CivilFromDayNumber(FloorDivide(minute, kMinutesPerDay).Quotient);
    std::string s;
    AppendZeroPadded(s, d.Year, 4);
    s += ' ';
    AppendZeroPadded(s, d.Month, 2);
    s += ' ';
    AppendZeroPadded(s, d.Day, 2);
    return s;
}

std::string DaysText(int64_t minutes) {
    const int64_t tenths =
        (std::max<int64_t>(minutes, 0) * 10 + kMinutesPerDay / 2) / kMinutesPerDay;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

int32_t LocalNowMinute() {
    const std::time_t t = std::time(nullptr);
    std::tm lt{};
    if (localtime_r(&t, &lt) == nullptr) return 0;
    const int64_t days = DayNumberFromCivil(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
    const int64_t secs = days * kSecondsPerDay + lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec;
    const int64_t mins = RoundHalfEven(static_cast<double>(secs) / 60.0);
    return static_cast<int32_t>(std::clamp<int64_t>(mins, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace wtk
