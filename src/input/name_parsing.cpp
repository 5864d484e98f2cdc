#include "input/name_parsing.h"

#include <string>

#include "engine/host.h"
#include "engine/numbers.h"
#include "engine/sample_rate.h"
#include "engine/utf8.h"

namespace wtk {
namespace {

constexpr int64_t kMinutesPerDay = 1440;
// Days from 1899-12-30 (day 0 of the minute numbers) to 1970-01-01.
constexpr int64_t kEpochTo1970Days = 25569;

bool IsLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int32_t DaysInMonth(int32_t year, int32_t month) {
    static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (valid for any year).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;                                   // 0 ... 399
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;  // 0 ... 365
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;           // 0 ... 146096
    return era * 146097 + doe - 719468;
}

}  // namespace

std::optional<int32_t> EncodeMinuteNumber(int32_t year, int32_t month, int32_t day, int32_t hour,
                                          int32_t minute) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
    const int64_t days = DaysFromCivil(year, month, day) + kEpochTo1970Days;
    const int64_t mn = days * kMinutesPerDay + hour * 60 + minute;
    if (mn < INT32_MIN || mn > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(mn);
}

void PutFileStartTimeInWavFileRec(WavFileRec& rec, bool Scrapbook, const SampleRate& Rate,
                                  Host& host) {
    std::string YearStr, MonthStr, DayStr, HrStr, MinStr;
    const int32_t Secs = 0;  // the name's seconds digits are never read

    auto SetBlankRecord = [&] {
        rec.Start.Mn = 0;
        rec.Start.TimeInMinuteNear2MHz = 0;
        rec.Start.Second = 0;
        rec.DateFound = false;
        if (!Scrapbook) {
            host.SetText(Label::ProgressLbl, "Date/time conversion failed (D2) " + YearStr + "  " +
                                                 MonthStr + "  " + DayStr + "  " + HrStr + "  " +
                                                 MinStr + "  " + std::to_string(Secs));
        }
    };

    rec.Start.Mn = 0;
    rec.Start.TimeInMinuteNear2MHz = 0;
    const std::string_view Fname = FileNamePart(rec.NameWithPath);
    const size_t FnameLength = Utf8Length(Fname);
    if (FnameLength < 15 || Scrapbook) {
        SetBlankRecord();
        return;
    }

    // Each field: a right-hand part of the previous text, then its first two characters.
    std::string_view S = Utf8Right(Fname, 16);
    YearStr = "20" + std::string(Utf8Left(S, 2));
    S = Utf8Right(S, 14);
    MonthStr = Utf8Left(S, 2);
    S = Utf8Right(S, 12);
    DayStr = Utf8Left(S, 2);
    S = Utf8Right(S, 10);
    HrStr = Utf8Left(S, 2);
    S = Utf8Right(S, 8);
    MinStr = Utf8Left(S, 2);

    const auto Year = ParseInt32(YearStr);
    const auto Month = ParseInt32(MonthStr);
    const auto Day = ParseInt32(DayStr);
    const auto Hr = ParseInt32(HrStr);
    const auto Min = ParseInt32(MinStr);
    if (!Year || !Month || !Day || !Hr || !Min || *Year < 0 || *Month < 0 || *Day < 0 || *Hr < 0 ||
        *Min < 0) {
        SetBlankRecord();
        return;
    }
    // The date-time value carries 10 seconds past the named minute, so rounding it to minutes
    // gives exactly the named minute: computed here in whole minutes.
    const auto Mn = EncodeMinuteNumber(*Year, *Month, *Day, *Hr, *Min);
    if (!Mn) {
        SetBlankRecord();
        return;
    }
    rec.DateString = YearStr + " " + MonthStr + " " + DayStr;
    rec.Start.Mn = *Mn;
    // Secs x 2,000,000 / IPIscaler ticks: 0, as no seconds are read.
    rec.Start.TimeInMinuteNear2MHz = 0;
    // The whole minute in ticks; 0 while no sample rate has been set.
    const int32_t TicksPerMinute = Rate.IPIscaler > 0 ? Rate.TicksPerMinute() : 0;
    rec.Start.NofNear2MHzToEndOfMinute = TicksPerMinute - rec.Start.TimeInMinuteNear2MHz;
    rec.DateFound = true;
}

void ApplyIdentityRule(WavFileRec& rec, std::string_view AddedSiteNameEdit) {
    const std::string_view Fname = FileNamePart(rec.NameWithPath);
    rec.OriginalShortNameMinusSuffix = Utf8DropRight(Fname, 4);
    const std::string& Short = rec.OriginalShortNameMinusSuffix;
    if (const auto dot = Short.find('.'); dot != std::string::npos) {
        rec.IdentityName = Short.substr(0, dot);
    } else if (Utf8Length(Short) > 9) {
        rec.IdentityName = Utf8DropRight(Short, 9);
    } else if (!AddedSiteNameEdit.empty()) {
        rec.IdentityName = std::string(AddedSiteNameEdit) + " ";
    } else {
        rec.IdentityName = "No Name ";
    }
}

}  // namespace wtk
