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
    if (m.Quotient <= 0 || m.Quotient > INT32_MAX) {
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

std::optional<std::string> ResolveStartTime(WavFileRec& rec,
                                            const std::optional<RecordingStart>& own,
                                            TimeSourceChoice choice,
                                            const TimeCorrections& corrections, bool exactStart,
                                            const SampleRate& Rate) {
    const RecordingStart name = rec.StartTime;
    const bool hasName = name.Source != TimeSource::None;
    const bool takeOwn = own && (choice == TimeSourceChoice::File || !hasName);
    std::optional<std::string> warning;
    if (own && hasName &&
        std::llabs(own->Microseconds - name.Microseconds) >= kMicrosecondsPerMinute) {
        warning = rec.NameWithPath + ": its name says " + StartTimeText(name) + ", its " +
                  std::string(TimeSourceText(own->Source)) + " " + StartTimeText(*own) + " (" +
                  SecondsText(std::llabs(own->Microseconds - name.Microseconds)) +
                  " s apart: a clock or time-zone mistake?); the " +
                  (takeOwn ? std::string(TimeSourceText(own->Source)) : "name") +
                  "'s time is taken";
    }
    if (!own && !hasName) return warning;
    // The correction of the time that places the file.
    const RecordingStart& placing = takeOwn || !hasName ? *own : name;
    rec.CorrectionUs = corrections.CorrectionFor(placing.Microseconds);
    const int64_t placeUs = placing.Microseconds + rec.CorrectionUs;
    // The name places the file where it gives a time; the recording's own time, where it falls
    // in the minute the name gives, is the finer start (the recorder's own clock, often to the
    // millisecond, where a name keeps whole seconds or names another stream's start).
    const bool refine =
        !takeOwn && own && hasName && choice == TimeSourceChoice::Auto &&
        FloorDivide(own->Microseconds + rec.CorrectionUs, kMicrosecondsPerMinute).Quotient ==
            FloorDivide(placeUs, kMicrosecondsPerMinute).Quotient;
    rec.StartTime = refine ? *own : placing;
    rec.StartTime.Microseconds += rec.CorrectionUs;
    PlaceAtStartTime(rec, exactStart, Rate, exactStart ? rec.StartTime.Microseconds : placeUs);
    return warning;
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
                warnings.push_back(previous->NameWithPath + " ends " + SecondsText(overlap) +
                                   " s after " + rec.NameWithPath +
                                   " begins (recordings of one location overlap: a clock jump "
                                   "or a wrong name?)");
            }
        }
        previous = &rec;
    }
    return warnings;
}

}  // namespace wtk
