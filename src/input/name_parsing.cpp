#include "input/name_parsing.h"

#include <string>

#include "base/calendar.h"
#include "base/host.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "base/utf8.h"

namespace wtk {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<int32_t> EncodeMinuteNumber(int32_t year, int32_t month, int32_t day, int32_t hour,
                                          int32_t minute) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
    const int64_t mn = MinuteNumberFromCivil(year, month, day, hour, minute);
    if (mn < INT32_MIN || mn > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(mn);
}

void SetBlankRecord(WavFileRec& rec, bool Scrapbook, Host& host, const std::string& YearStr,
                    const std::string& MonthStr, const std::string& DayStr,
                    const std::string& HrStr, const std::string& MinStr) {
    const int32_t Secs = 0;  // the name's seconds are never used
    rec.Start.Mn = 0;
    rec.Start.TimeInMinuteNear2MHz = 0;
    rec.Start.Second = 0;
    rec.DateFound = false;
    if (Scrapbook) return;
    host.Report(Event(EventKind::DateNotFound, "Date/time conversion failed (D2) " + YearStr +
                                                   "  " + MonthStr + "  " + DayStr + "  " + HrStr +
                                                   "  " + MinStr + "  " + std::to_string(Secs))
                    .About(rec.NameWithPath));
}

void PutFileStartTimeInWavFileRec(WavFileRec& rec, bool Scrapbook, const SampleRate& Rate,
                                  Host& host) {
    std::string YearStr, MonthStr, DayStr, HrStr, MinStr;
    auto SetBlank = [&] {
        SetBlankRecord(rec, Scrapbook, host, YearStr, MonthStr, DayStr, HrStr, MinStr);
    };

    rec.Start.Mn = 0;
    rec.Start.TimeInMinuteNear2MHz = 0;
    const std::string_view Fname = FileNamePart(rec.NameWithPath);
    const size_t FnameLength = Utf8Length(Fname);
    if (FnameLength < 15 || Scrapbook) {
        SetBlank();
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
        SetBlank();
        return;
    }
    // The date-time value carries 10 seconds past the named minute, so rounding it to minutes
    // gives exactly the named minute: computed here in whole minutes.
    const auto Mn = EncodeMinuteNumber(*Year, *Month, *Day, *Hr, *Min);
    if (!Mn) {
        SetBlank();
        return;
    }
    rec.DateString = YearStr + " " + MonthStr + " " + DayStr;
    rec.Start.Mn = *Mn;
    // The name form reads two digits of the year: a name with other century digits before them
    // is dated in 2000 ... 2099 all the same, which the user is told.
    if (const std::string_view century = Utf8Left(Utf8Right(Fname, 18), 2);
        century.size() == 2 && IsDigit(century[0]) && IsDigit(century[1]) && century != "20") {
        host.Report(Event(EventKind::CenturyIgnored, PrintableName(rec.NameWithPath) + ": year " +
                                                         std::string(century) + YearStr.substr(2) +
                                                         " of the name is read as " + YearStr)
                        .About(rec.NameWithPath, true));
    }
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
