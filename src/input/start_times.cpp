#include "input/start_times.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/calendar.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "input/name_parsing.h"

namespace wtk {
namespace {

// The first and last minute a file can be placed at (minute 0 stands for no date).
constexpr int64_t kFirstPlacedMinute = 1;
constexpr int64_t kLastPlacedMinute = INT32_MAX;

// Microseconds as seconds with three decimals: "3600.000".
std::string SecondsText(int64_t us) {
    return FixedText(static_cast<double>(us) / 1e6, 3);
}

// Seconds with an optional sign and decimals, to the microsecond, within +-10^8 s.
std::optional<int64_t> SecondsToUs(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    double v = 0;
    const auto r =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v) ||
        std::fabs(v) > 1e8) {
        return std::nullopt;
    }
    return static_cast<int64_t>(std::llround(v * 1e6));
}

}  // namespace

std::optional<TimeSourceChoice> ParseTimeSourceChoice(std::string_view text) {
    for (int i = 0; i < 3; ++i) {
        if (text == kTimeSourceChoiceNames[i]) return static_cast<TimeSourceChoice>(i);
    }
    return std::nullopt;
}

void TimeCorrections::AddClockError(const ClockErrorPoint& point) {
    auto at = std::lower_bound(ClockErrors.begin(), ClockErrors.end(), point.AtUs,
                               [](const ClockErrorPoint& p, int64_t t) { return p.AtUs < t; });
    if (at != ClockErrors.end() && at->AtUs == point.AtUs) {
        *at = point;
    } else {
        ClockErrors.insert(at, point);
    }
}

int64_t TimeCorrections::CorrectionFor(int64_t startUs) const {
    const int64_t t = startUs + ShiftUs;
    int64_t error = 0;
    if (!ClockErrors.empty()) {
        if (t <= ClockErrors.front().AtUs) {
            error = ClockErrors.front().ErrorUs;
        } else if (t >= ClockErrors.back().AtUs) {
            error = ClockErrors.back().ErrorUs;
        } else {
            const auto next =
                std::upper_bound(ClockErrors.begin(), ClockErrors.end(), t,
                                 [](int64_t v, const ClockErrorPoint& p) { return v < p.AtUs; });
            const ClockErrorPoint& a = *(next - 1);
            const ClockErrorPoint& b = *next;
            const long double f =
                static_cast<long double>(t - a.AtUs) / static_cast<long double>(b.AtUs - a.AtUs);
            error = a.ErrorUs + std::llround(f * static_cast<long double>(b.ErrorUs - a.ErrorUs));
        }
    }
    return ShiftUs - error;
}

std::variant<int64_t, std::string> ParseTimeShift(std::string_view text) {
    const std::string refusal =
        "--time-shift takes +HH:MM or -HH:MM[:SS], not \"" + std::string(text) + "\"";
    int64_t sign = 1;
    if (text.starts_with('+') || text.starts_with('-')) {
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
    }
    const size_t colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > 2) return refusal;
    const int32_t hours = DigitsAt(text, 0, colon);
    const int32_t minutes = DigitsAt(text, colon + 1, 2);
    int32_t seconds = 0;
    if (text.size() == colon + 6 && text[colon + 3] == ':') {
        seconds = DigitsAt(text, colon + 4, 2);
    } else if (text.size() != colon + 3) {
        return refusal;
    }
    if (hours < 0 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) return refusal;
    return sign * ((int64_t{hours} * 60 + minutes) * 60 + seconds) * kMicrosecondsPerSecond;
}

std::variant<ClockErrorPoint, std::string> ParseClockError(std::string_view text) {
    const std::string refusal =
        "--clock-error takes TIME=SECONDS such as "
        "2021-06-10T03:36=+1.5 or \"2021-09-01 12:00:00=-20\", not \"" +
        std::string(text) + "\"";
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return refusal;
    const std::string_view time = text.substr(0, eq);
    if (time.size() != 16 && time.size() != 19) return refusal;
    if (time[4] != '-' || time[7] != '-' || (time[10] != 'T' && time[10] != ' ') ||
        time[13] != ':' || (time.size() == 19 && time[16] != ':')) {
        return refusal;
    }
    const int32_t second = time.size() == 19 ? DigitsAt(time, 17, 2) : 0;
    const std::optional<int32_t> minute =
        EncodeMinuteNumber(DigitsAt(time, 0, 4), DigitsAt(time, 5, 2), DigitsAt(time, 8, 2),
                           DigitsAt(time, 11, 2), DigitsAt(time, 14, 2));
    const std::optional<int64_t> error = SecondsToUs(text.substr(eq + 1));
    if (!minute || second < 0 || second > 59 || !error) return refusal;
    return ClockErrorPoint{
        int64_t{*minute} * kMicrosecondsPerMinute + int64_t{second} * kMicrosecondsPerSecond,
        *error};
}

std::string StartTimeText(const RecordingStart& start) {
    return FormatRecordingStart(start);
}

bool PlaceAtStartTime(WavFileRec& rec, bool exactStart, const SampleRate& Rate, int64_t atUs) {
    const FloorDivision m = FloorDivide(atUs, kMicrosecondsPerMinute);
    if (m.Quotient < kFirstPlacedMinute || m.Quotient > kLastPlacedMinute) {
        rec.Start = {};
        rec.DateFound = false;
        rec.StartTime = {};
        return false;
    }
    const int32_t ticksPerMinute = Rate.IPIscaler > 0 ? Rate.TicksPerMinute() : 0;
    rec.Start.Mn = static_cast<int32_t>(m.Quotient);
    const int64_t inMinute = exactStart ? m.Remainder : 0;
    rec.Start.Second = static_cast<int32_t>(inMinute / kMicrosecondsPerSecond);
    rec.Start.FractionUs = static_cast<int32_t>(inMinute % kMicrosecondsPerSecond);
    rec.Start.TimeInMinuteNear2MHz = Rate.TickOfMicrosecond(inMinute);
    rec.Start.NofNear2MHzToEndOfMinute = ticksPerMinute - rec.Start.TimeInMinuteNear2MHz;
    rec.DateString = DateStringOf(rec.Start.Mn);
    rec.DateFound = true;
    return true;
}

namespace {

// "+02:00" of minutes.
std::string HoursMinutesText(int64_t minutes) {
    const int64_t m = std::llabs(minutes);
    std::string text(1, minutes < 0 ? '-' : '+');
    auto twoDigits = [&](int64_t v) {
        text += static_cast<char>('0' + v / 10 % 10);
        text += static_cast<char>('0' + v % 10);
    };
    twoDigits(m / 60);
    text += ':';
    twoDigits(m % 60);
    return text;
}

// The options that give the time a disagreement warning did not take: the other time source,
// and where the two lie whole quarter hours apart (a zone's offset), the shift between them.
std::string OtherTimeOptions(bool ownTaken, const RecordingStart& own, int64_t nameUs) {
    std::string text =
        ownTaken ? std::string("--time-source name takes the name's")
                 : "--time-source file takes the " + std::string(TimeSourceText(own.Source)) + "'s";
    const int64_t apart = ownTaken ? nameUs - own.Microseconds : own.Microseconds - nameUs;
    const int64_t quarter = 15 * kMicrosecondsPerMinute;
    const int64_t quarters = (apart + (apart < 0 ? -quarter : quarter) / 2) / quarter;
    constexpr int64_t kLongestShiftMinutes = 99 * 60 + 59;
    if (quarters != 0 && std::llabs(apart - quarters * quarter) < kSameStartUs &&
        std::llabs(quarters) * 15 <= kLongestShiftMinutes) {
        text += ", --time-shift " + HoursMinutesText(quarters * 15) +
                " moves every start by the difference";
    }
    return text;
}

std::string MinuteText(int64_t minute) {
    return IsoMicroseconds(minute * kMicrosecondsPerMinute, ' ').substr(0, 16);
}

}  // namespace

StartChoice ResolveStartTime(WavFileRec& rec, const std::optional<RecordingStart>& own,
                             TimeSourceChoice choice, const TimeCorrections& corrections,
                             bool exactStart, const SampleRate& Rate) {
    StartChoice found;
    rec.Unplaced.reset();
    const RecordingStart name = rec.StartTime;
    const bool hasName = name.Source != TimeSource::None;
    if (!own && !hasName) return found;
    bool takeOwn = own && (choice == TimeSourceChoice::File || !hasName);
    if (own && hasName) {
        const int64_t apart = std::llabs(own->Microseconds - name.Microseconds);
        const int64_t localApart =
            std::llabs(own->Microseconds + int64_t{own->ZoneMinutes} * kMicrosecondsPerMinute -
                       name.Microseconds);
        if (apart < kSameStartUs) {
            takeOwn = takeOwn || choice == TimeSourceChoice::Auto;
        } else if (own->Zoned && localApart < kSameStartUs) {
            // The name is the recorder's local time: its own time says so, in UTC.
            if (choice != TimeSourceChoice::Name) {
                takeOwn = true;
                found.LocalNameZone = own->ZoneMinutes;
            }
        } else {
            const std::string taken =
                takeOwn ? std::string(TimeSourceText(own->Source)) : std::string("name");
            found.Warning =
                rec.NameWithPath + ": its name says " + StartTimeText(name) + ", its " +
                std::string(TimeSourceText(own->Source)) + " " + StartTimeText(*own) + " (" +
                SecondsText(apart) + " s apart: a clock or time-zone mistake?); the " + taken +
                "'s time is taken (" + OtherTimeOptions(takeOwn, *own, name.Microseconds) + ")";
        }
    }
    // The day the name gives, and its text as the name writes it.
    const bool nameDated = hasName && rec.DateFound && rec.Start.Mn > 0;
    const int64_t nameDay = FloorDivide(rec.Start.Mn, kMinutesPerDay).Quotient;
    const std::string nameDate = rec.DateString;

    const RecordingStart& placing = takeOwn ? *own : name;
    rec.CorrectionUs = corrections.CorrectionFor(placing.Microseconds);
    rec.StartTime = placing;
    rec.StartTime.Microseconds += rec.CorrectionUs;
    const RecordingStart start = rec.StartTime;
    if (!PlaceAtStartTime(rec, exactStart, Rate, start.Microseconds)) {
        rec.Unplaced = start;
        found.Warning = UnplacedLine(rec);
    } else if (nameDated && !nameDate.empty() &&
               FloorDivide(rec.Start.Mn, kMinutesPerDay).Quotient == nameDay) {
        rec.DateString = nameDate;
    }
    return found;
}

std::string UnplacedLine(const WavFileRec& rec) {
    if (!rec.Unplaced) return {};
    const int64_t minute = FloorDivide(rec.Unplaced->Microseconds, kMicrosecondsPerMinute).Quotient;
    std::string text = rec.NameWithPath + ": its start " + StartTimeText(*rec.Unplaced) + " (" +
                       std::string(TimeSourceText(rec.Unplaced->Source));
    if (rec.CorrectionUs != 0) {
        text += ", with " + SecondsText(rec.CorrectionUs) + " s of --time-shift and --clock-error";
    }
    text += ") lies ";
    text +=
        minute < kFirstPlacedMinute
            ? "before " + MinuteText(kFirstPlacedMinute) + ", where the minutes of TK1 files begin"
            : "after " + MinuteText(kLastPlacedMinute) + ", where the minutes of TK1 files end";
    return text + ": it cannot be placed";
}

std::string LocalNamesNote(size_t count, const std::vector<int32_t>& zones) {
    std::string zoneText;
    for (const int32_t zone : zones) {
        zoneText += (zoneText.empty() ? "UTC" : ", UTC") + HoursMinutesText(zone);
    }
    const bool one = count == 1;
    return std::to_string(count) + (one ? " recording is" : " recordings are") + " named in " +
           (one ? "its recorder's" : "their recorders'") + " local time (" + zoneText + "), as " +
           (one ? "its" : "their") + " own start time with its zone shows: placed by " +
           (one ? "its" : "their") + " own time, in UTC (--time-source name places by the name)";
}

int64_t SamplesOf(const WavFileRec& rec) {
    return rec.Layout().Samples();
}

std::vector<std::string> OverlapWarnings(const WavFileRecTable& recs, int32_t samplesPerSec) {
    std::vector<std::string> warnings;
    if (samplesPerSec <= 0) return warnings;
    const WavFileRec* previous = nullptr;
    for (const WavFileRec& rec : recs) {
        if (rec.NameWithPath.empty() || rec.StartTime.Source == TimeSource::None) continue;
        if (previous != nullptr && previous->IdentityName == rec.IdentityName) {
            const int64_t end = previous->StartTime.Microseconds +
                                SamplesOf(*previous) * kMicrosecondsPerSecond / samplesPerSec;
            const int64_t overlap = end - rec.StartTime.Microseconds;
            if (overlap > kMicrosecondsPerSecond) {
                const int64_t ends = rec.StartTime.Microseconds +
                                     SamplesOf(rec) * kMicrosecondsPerSecond / samplesPerSec;
                const int64_t first =
                    FloorDivide(rec.StartTime.Microseconds, kMicrosecondsPerMinute).Quotient;
                const int64_t last =
                    FloorDivide(std::min(end, ends) - 1, kMicrosecondsPerMinute).Quotient;
                const std::string minutes =
                    last > first ? "the minutes " + MinuteText(first) + " to " + MinuteText(last)
                                 : "the minute " + MinuteText(first);
                warnings.push_back(previous->NameWithPath + " ends " + SecondsText(overlap) +
                                   " s after " + rec.NameWithPath + " begins: both reach " +
                                   minutes +
                                   " of their TK1 file (recordings of one location overlap: a "
                                   "clock jump or a wrong name?)");
            }
        }
        previous = &rec;
    }
    return warnings;
}

}  // namespace wtk
