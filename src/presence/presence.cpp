#include "presence/presence.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "base/calendar.h"
#include "base/numbers.h"

namespace wtk::presence {

namespace {

constexpr std::array<std::string_view, 3> kPeriodNames = {"minute", "hour", "day"};

enum : uint8_t {
    kNbhf = 1,
    kDolphin = 2,
    kSonar = 4,
    kBuzz = 8,
};

int64_t MinutesOf(Period p) {
    return p == Period::Minute ? 1 : p == Period::Hour ? 60 : kMinutesPerDay;
}

}  // namespace

std::string_view PeriodName(Period p) {
    return kPeriodNames[static_cast<size_t>(p)];
}

std::optional<Period> ParsePeriod(std::string_view text) {
    for (size_t i = 0; i < kPeriodNames.size(); ++i) {
        if (kPeriodNames[i] == text) return static_cast<Period>(i);
    }
    return std::nullopt;
}

std::optional<int32_t> ParseUtcOffset(std::string_view text) {
    if (text == "Z" || text == "z") return 0;
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    const int32_t sign = text[0] == '-' ? -1 : 1;
    text.remove_prefix(1);
    auto digits = [&](size_t at) { return DigitsAt(text, at, 2); };
    int32_t hours = -1, minutes = 0;
    if (text.size() == 2) {
        hours = digits(0);
    } else if (text.size() == 5 && text[2] == ':') {
        hours = digits(0);
        minutes = digits(3);
    } else if (text.size() == 4) {
        hours = digits(0);
        minutes = digits(2);
    }
    if (hours < 0 || minutes < 0 || minutes > 59 || hours * 60 + minutes > 14 * 60) {
        return std::nullopt;
    }
    return sign * (hours * 60 + minutes);
}

std::string UtcOffsetText(int32_t minutes) {
    if (minutes == 0) return "Z";
    std::string s = minutes < 0 ? "-" : "+";
    const int32_t m = minutes < 0 ? -minutes : minutes;
    AppendZeroPadded(s, m / 60, 2);
    s += ':';
    AppendZeroPadded(s, m % 60, 2);
    return s;
}

PresenceCounter::PresenceCounter(std::string location, const PresenceOptions& options)
    : location_(std::move(location)), options_(options) {}

void PresenceCounter::AddEffort(int64_t fromUs, int64_t toUs) {
    if (toUs > fromUs) effort_.emplace_back(fromUs, toUs);
}

void PresenceCounter::AddTrain(const Train& train) {
    if (train.Quality < options_.MinQuality) return;
    const uint8_t flag = train.Class == TrainClass::Nbhf      ? kNbhf
                         : train.Class == TrainClass::Dolphin ? kDolphin
                         : train.Class == TrainClass::Sonar   ? kSonar
                                                              : 0;
    if (flag == 0) return;
    for (const int64_t m : train.ClickMinutes) marks_.push_back({m, {0, 0, flag, 0}});
    if (train.Class != TrainClass::Nbhf) return;
    for (const int64_t m : train.BuzzMinutes) marks_.push_back({m, {0, 0, kBuzz, 0}});
    const int64_t start = FloorDivide(train.StartUs, kMicrosecondsPerMinute).Quotient;
    const bool newEncounter = train.Encounter > lastEncounter_;
    if (newEncounter) lastEncounter_ = train.Encounter;
    marks_.push_back({start, {0, 1, 0, static_cast<uint8_t>(newEncounter ? 1 : 0)}});
}

std::vector<PresenceRow> PresenceCounter::Rows() const {
    // The minutes from the first to the last that hold recording or a mark.
    std::vector<std::pair<int64_t, int64_t>> spans = effort_;
    std::sort(spans.begin(), spans.end());
    std::optional<int64_t> first, last;
    auto extend = [&](int64_t minute) {
        first = first ? std::min(*first, minute) : minute;
        last = last ? std::max(*last, minute) : minute;
    };
    for (const auto& [from, to] : spans) {
        extend(FloorDivide(from, kMicrosecondsPerMinute).Quotient);
        extend(FloorDivide(to - 1, kMicrosecondsPerMinute).Quotient);
    }
    for (const auto& [minute, state] : marks_) extend(minute);
    if (!first) return {};
    const int64_t per = MinutesOf(options_.Per);
    const int64_t offset = options_.UtcOffsetMinutes;
    const int64_t firstPeriod = FloorDivide(*first + offset, per).Quotient;
    const int64_t lastPeriod = FloorDivide(*last + offset, per).Quotient;
    const int64_t begin = firstPeriod * per - offset;  // UTC minute of the first period
    const int64_t count = (lastPeriod - firstPeriod + 1) * per;
    if (count > kMaxYears * 366 * kMinutesPerDay) {
        throw std::length_error(location_ + ": the recordings and clicks span more than " +
                                std::to_string(kMaxYears) + " years");
    }
    std::vector<MinuteState> minutes(static_cast<size_t>(count));

    // The union of the spans, minute by minute.
    int64_t covered = INT64_MIN;  // the union reaches this far
    for (const auto& [spanFrom, to] : spans) {
        const int64_t from = std::max(spanFrom, covered);
        if (to <= from) continue;
        covered = to;
        for (int64_t m = FloorDivide(from, kMicrosecondsPerMinute).Quotient;
             m * kMicrosecondsPerMinute < to; ++m) {
            const int64_t lo = std::max(from, m * kMicrosecondsPerMinute);
            const int64_t hi = std::min(to, (m + 1) * kMicrosecondsPerMinute);
            minutes[static_cast<size_t>(m - begin)].RecordedUs += static_cast<int32_t>(hi - lo);
        }
    }
    for (const auto& [minute, mark] : marks_) {
        MinuteState& s = minutes[static_cast<size_t>(minute - begin)];
        s.Flags |= mark.Flags;
        s.TrainsStarted =
            static_cast<uint16_t>(std::min(0xFFFF, s.TrainsStarted + mark.TrainsStarted));
        s.EncountersStarted =
            static_cast<uint8_t>(std::min(0xFF, s.EncountersStarted + mark.EncountersStarted));
    }

    std::vector<PresenceRow> rows;
    rows.reserve(static_cast<size_t>(count / per));
    for (int64_t p = 0; p < count; p += per) {
        PresenceRow row;
        row.PeriodStartUs = (begin + p) * kMicrosecondsPerMinute;
        row.UtcOffsetMinutes = options_.UtcOffsetMinutes;
        row.Location = location_;
        int32_t nbhf = 0, dolphin = 0, sonar = 0, buzz = 0, trains = 0, encounters = 0;
        for (int64_t m = p; m < p + per; ++m) {
            const MinuteState& s = minutes[static_cast<size_t>(m)];
            if (s.RecordedUs > 0) ++row.RecordedMinutes;
            row.RecordedUs += s.RecordedUs;
            nbhf += (s.Flags & kNbhf) != 0;
            dolphin += (s.Flags & kDolphin) != 0;
            sonar += (s.Flags & kSonar) != 0;
            buzz += (s.Flags & kBuzz) != 0;
            trains += s.TrainsStarted;
            encounters += s.EncountersStarted;
        }
        if (row.RecordedUs > 0) {
            row.NbhfDpm = nbhf;
            row.DolphinDpm = dolphin;
            row.SonarMinutes = sonar;
            row.BuzzMinutes = buzz;
            row.NbhfTrains = trains;
            row.Encounters = encounters;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace wtk::presence
