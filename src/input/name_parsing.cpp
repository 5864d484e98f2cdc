#include "input/name_parsing.h"

#include <string>

#include "base/calendar.h"
#include "base/host.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "base/utf8.h"

namespace wtk {
namespace {

// The file name as the built-in form and the identity rule read it, by its last characters: a
// FLAC file's ".flac" counts as the four-character ".wav" of a WAV file's name.
std::string RulesName(std::string_view path) {
    std::string name(FileNamePart(path));
    if (name.size() > 5) {
        std::string extension = name.substr(name.size() - 5);
        for (char& ch : extension) ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
        if (extension == ".flac") name.replace(name.size() - 5, 5, ".wav");
    }
    return name;
}

// The texts the built-in form takes from a name, for the failure text.
struct NameFields {
    std::string YearStr, MonthStr, DayStr, HrStr, MinStr;
};

// The built-in form: true with Start, DateString, DateFound and StartTime filled; false with
// the texts taken so far in f (the start is then left to be blanked).
bool BuiltInForm(WavFileRec& rec, bool Scrapbook, const SampleRate& Rate, NameFields& f) {
    rec.Start.Mn = 0;
    rec.Start.TimeInMinuteNear2MHz = 0;
    const std::string name = RulesName(rec.NameWithPath);
    const std::string_view Fname = name;
    const size_t FnameLength = Utf8Length(Fname);
    if (FnameLength < 15 || Scrapbook) return false;

    // Each field: a right-hand part of the previous text, then its first two characters.
    std::string_view S = Utf8Right(Fname, 16);
    f.YearStr = "20" + std::string(Utf8Left(S, 2));
    S = Utf8Right(S, 14);
    f.MonthStr = Utf8Left(S, 2);
    S = Utf8Right(S, 12);
    f.DayStr = Utf8Left(S, 2);
    S = Utf8Right(S, 10);
    f.HrStr = Utf8Left(S, 2);
    S = Utf8Right(S, 8);
    f.MinStr = Utf8Left(S, 2);

    const auto Year = ParseInt32(f.YearStr);
    const auto Month = ParseInt32(f.MonthStr);
    const auto Day = ParseInt32(f.DayStr);
    const auto Hr = ParseInt32(f.HrStr);
    const auto Min = ParseInt32(f.MinStr);
    if (!Year || !Month || !Day || !Hr || !Min || *Year < 0 || *Month < 0 || *Day < 0 || *Hr < 0 ||
        *Min < 0) {
        return false;
    }
    // The date-time value carries 10 seconds past the named minute, so rounding it to minutes
    // gives exactly the named minute: computed here in whole minutes.
    const auto Mn = EncodeMinuteNumber(*Year, *Month, *Day, *Hr, *Min);
    if (!Mn) return false;
    rec.DateString = f.YearStr + " " + f.MonthStr + " " + f.DayStr;
    rec.Start.Mn = *Mn;
    // Secs x 2,000,000 / IPIscaler ticks: 0, as the file is placed at its minute.
    rec.Start.TimeInMinuteNear2MHz = 0;
    // The whole minute in ticks; 0 while no sample rate has been set.
    const int32_t TicksPerMinute = Rate.IPIscaler > 0 ? Rate.TicksPerMinute() : 0;
    rec.Start.NofNear2MHzToEndOfMinute = TicksPerMinute - rec.Start.TimeInMinuteNear2MHz;
    rec.DateFound = true;
    // The seconds digits, where they are two digits of a second, give the exact start.
    const std::string_view SecStr = Utf8Left(Utf8Right(S, 6), 2);
    const int32_t Sec = SecStr.size() == 2 ? DigitsAt(SecStr, 0, 2) : -1;
    const int32_t secs = Sec >= 0 && Sec < 60 ? Sec : 0;
    rec.StartTime = {int64_t{*Mn} * kMicrosecondsPerMinute + secs * kMicrosecondsPerSecond, false,
                     TimeSource::Name};
    return true;
}

// "YYYYMMDD_HHMMSS" at pos, followed by the end or "_": its start in microseconds.
std::optional<int64_t> StampAt(std::string_view stem, size_t pos) {
    if (stem.size() < pos + 15 || DigitsAt(stem, pos, 8) < 0 || stem[pos + 8] != '_' ||
        DigitsAt(stem, pos + 9, 6) < 0) {
        return std::nullopt;
    }
    if (stem.size() > pos + 15 && stem[pos + 15] != '_') return std::nullopt;
    const int32_t second = DigitsAt(stem, pos + 13, 2);
    const auto mn = EncodeMinuteNumber(DigitsAt(stem, pos, 4), DigitsAt(stem, pos + 4, 2),
                                       DigitsAt(stem, pos + 6, 2), DigitsAt(stem, pos + 9, 2),
                                       DigitsAt(stem, pos + 11, 2));
    // A minute number of 0 or less reads as "no date".
    if (!mn || *mn <= 0 || second > 59) return std::nullopt;
    return int64_t{*mn} * kMicrosecondsPerMinute + int64_t{second} * kMicrosecondsPerSecond;
}

}  // namespace

void SetBlankRecord(WavFileRec& rec, bool Scrapbook, Host& host, const std::string& YearStr,
                    const std::string& MonthStr, const std::string& DayStr,
                    const std::string& HrStr, const std::string& MinStr) {
    const int32_t Secs = 0;  // the name's seconds never place a file
    rec.Start.Mn = 0;
    rec.Start.TimeInMinuteNear2MHz = 0;
    rec.Start.Second = 0;
    rec.Start.FractionUs = 0;
    rec.DateFound = false;
    rec.StartTime = {};
    if (Scrapbook) return;
    host.Report(Event(EventKind::DateNotFound, "Date/time conversion failed (D2) " + YearStr +
                                                   "  " + MonthStr + "  " + DayStr + "  " + HrStr +
                                                   "  " + MinStr + "  " + std::to_string(Secs))
                    .About(rec.NameWithPath));
}

// The built-in form reads two digits of the year: a name with other century digits before them
// is dated in 2000 ... 2099 all the same, which the user is told.
void ReportCentury(const WavFileRec& rec, const NameFields& f, Host& host) {
    const std::string name = RulesName(rec.NameWithPath);
    const std::string_view century = Utf8Left(Utf8Right(name, 18), 2);
    if (century.size() != 2 || DigitsAt(century, 0, 2) < 0 || century == "20") return;
    host.Report(Event(EventKind::CenturyIgnored, PrintableName(rec.NameWithPath) + ": year " +
                                                     std::string(century) + f.YearStr.substr(2) +
                                                     " of the name is read as " + f.YearStr)
                    .About(rec.NameWithPath, true));
}

void PutFileStartTimeInWavFileRec(WavFileRec& rec, bool Scrapbook, const SampleRate& Rate,
                                  Host& host) {
    NameFields f;
    if (BuiltInForm(rec, Scrapbook, Rate, f)) {
        ReportCentury(rec, f, host);
    } else {
        SetBlankRecord(rec, Scrapbook, host, f.YearStr, f.MonthStr, f.DayStr, f.HrStr, f.MinStr);
    }
}

std::string_view FolderName(std::string_view path) {
    std::string_view dir = DirectoryPart(path);
    while (!dir.empty() && dir.back() == '/') dir.remove_suffix(1);
    const std::string_view folder = FileNamePart(dir);
    if (folder == "." || folder == "..") return {};
    return folder;
}

bool PutRecorderNameStartInWavFileRec(WavFileRec& rec, const SampleRate& Rate,
                                      std::string_view AddedSiteNameEdit) {
    const std::string_view Fname = FileNamePart(rec.NameWithPath);
    const size_t dot = Fname.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? Fname : Fname.substr(0, dot);
    std::optional<int64_t> start = StampAt(stem, 0);
    std::string location(FolderName(rec.NameWithPath));
    // Else the first "_YYYYMMDD_HHMMSS" after a location of at least one character.
    for (size_t pos = stem.find('_', 1); !start && pos != std::string_view::npos;
         pos = stem.find('_', pos + 1)) {
        start = StampAt(stem, pos + 1);
        if (start) location = std::string(stem.substr(0, pos));
    }
    if (!start) return false;
    ApplyIdentityRule(rec, AddedSiteNameEdit);
    if (!location.empty()) rec.IdentityName = location;
    rec.Start.Mn = static_cast<int32_t>(*start / kMicrosecondsPerMinute);
    rec.Start.TimeInMinuteNear2MHz = 0;
    rec.Start.NofNear2MHzToEndOfMinute = Rate.IPIscaler > 0 ? Rate.TicksPerMinute() : 0;
    rec.StartTime = {*start, false, TimeSource::Name};
    rec.DateString = DateStringOf(rec.Start.Mn);
    rec.DateFound = true;
    return true;
}

void DateAndIdentityFromName(WavFileRec& rec, bool Scrapbook, bool quiet, const SampleRate& Rate,
                             Host& host, std::string_view AddedSiteNameEdit) {
    NameFields f;
    if (BuiltInForm(rec, Scrapbook, Rate, f)) {
        ReportCentury(rec, f, host);
        ApplyIdentityRule(rec, AddedSiteNameEdit);
        return;
    }
    if (!Scrapbook && PutRecorderNameStartInWavFileRec(rec, Rate, AddedSiteNameEdit)) return;
    SetBlankRecord(rec, Scrapbook || quiet, host, f.YearStr, f.MonthStr, f.DayStr, f.HrStr,
                   f.MinStr);
    ApplyIdentityRule(rec, AddedSiteNameEdit);
}

bool ShortNameGivesNoLocation(std::string_view Short) {
    return Short.find('.') == std::string_view::npos && Utf8Length(Short) <= 9;
}

void ApplyIdentityRule(WavFileRec& rec, std::string_view AddedSiteNameEdit) {
    const std::string name = RulesName(rec.NameWithPath);
    const std::string_view Fname = name;
    rec.OriginalShortNameMinusSuffix = Utf8DropRight(Fname, 4);
    const std::string& Short = rec.OriginalShortNameMinusSuffix;
    if (const auto dot = Short.find('.'); dot != std::string::npos) {
        rec.IdentityName = Short.substr(0, dot);
    } else if (!ShortNameGivesNoLocation(Short)) {
        rec.IdentityName = Utf8DropRight(Short, 9);
    } else if (!AddedSiteNameEdit.empty()) {
        rec.IdentityName = std::string(AddedSiteNameEdit) + " ";
    } else {
        rec.IdentityName = "No Name ";
    }
}

}  // namespace wtk
