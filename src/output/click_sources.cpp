#include "output/click_sources.h"

#include <limits>
#include <utility>

#include "base/calendar.h"

namespace wtk::tk1 {

namespace {

// The ticks at the end of a block that open the next minute, in microseconds at 1 sample/s.
constexpr int64_t kTailUsHertz = 125'000'000;
// The allowance for a rate that is not known: the widest, at 1 k samples/s.
constexpr int64_t kUnknownAllowanceUs = kTailUsHertz / 1000 + kMicrosecondsPerTimeUnit;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

}  // namespace

ClickSources::ClickSources(std::vector<RecordingRow> rows)
    : fromTable_(true), rows_(std::move(rows)) {}

ClickSources::ClickSources(std::vector<LinkageLine> lines) : lines_(std::move(lines)) {}

int64_t ClickSources::EndUs(size_t i) const {
    const RecordingRow& row = rows_[i];
    if (row.RateHz > 0) {
        // (Counts from a damaged table may pass the 64-bit range.)
        const __int128 end =
            __int128{row.PlacedUs} + __int128{row.Samples} * kMicrosecondsPerSecond / row.RateHz;
        return end < kNever ? static_cast<int64_t>(end) : kNever;
    }
    return i + 1 < rows_.size() ? rows_[i + 1].PlacedUs : kNever;
}

int64_t ClickSources::AllowanceUs(size_t i) const {
    const int64_t rate = rows_[i].RateHz;
    return rate > 0 ? (kTailUsHertz + rate - 1) / rate + kMicrosecondsPerTimeUnit
                    : kUnknownAllowanceUs;
}

bool ClickSources::PastEnd(size_t i, int64_t t, int64_t inMinute) const {
    const int64_t end = EndUs(i);
    if (t < end) return false;
    // The last ticks of the recording's last block may open the minute after its end.
    const int64_t allowance = AllowanceUs(i);
    return !(inMinute < allowance && t - end < allowance);
}

ClickSource ClickSources::FromRows(int64_t minute, int32_t time) {
    ClickSource s;
    const int64_t inMinute = int64_t{time} * kMicrosecondsPerTimeUnit;
    const int64_t t = minute * kMicrosecondsPerMinute + inMinute;
    s.TimeUs = t;
    if (rows_.empty()) return s;
    while (current_ + 1 < rows_.size()) {
        const size_t next = current_ + 1;
        // Times step back within a recording only where a block's last ticks opened a minute
        // and its next block starts that minute again; not after its last block.
        const bool stepBack =
            hadClick_ && t < previousUs_ &&
            (previousInMinute_ >= AllowanceUs(current_) || previousUs_ >= EndUs(current_));
        if (PastEnd(current_, t, inMinute) ||
            (stepBack && rows_[next].PlacedUs <= t && !PastEnd(next, t, inMinute))) {
            current_ = next;
        } else {
            break;
        }
    }
    hadClick_ = true;
    previousUs_ = t;
    previousInMinute_ = inMinute;
    const RecordingRow& row = rows_[current_];
    s.Recording = current_;
    s.OffsetUs = t - row.PlacedUs;
    if (row.StartUs) {
        s.TimeUs = *row.StartUs + s.OffsetUs;
        s.FromStart = true;
    }
    return s;
}

std::vector<ClickSource> ClickSources::FromLinkage(int64_t minute, std::span<const int32_t> times) {
    // Times within a minute only grow inside one file, apart from the last samples of each
    // block (500 ticks, at most 125 ms at 1 k samples/s), which open the next minute.
    constexpr int32_t kFileStartStep = 50'000;  // 250 ms
    // The line after the current one may begin in this minute (as its own minute or as a file
    // that continues this minute).
    auto nextMayBeginIn = [&](int64_t m) {
        return next_ < lines_.size() && lines_[next_].Minute <= m + 1;
    };
    auto reach = [&] {
        line_ = next_++;
        origin_ = lines_[line_].Minute;
    };
    // Files whose minutes came without a click.
    while (next_ < lines_.size() && lines_[next_].Minute < minute) reach();
    const bool hadLine = next_ > 0;
    const size_t previous = line_;
    const int64_t previousOrigin = origin_;
    bool reached = false;
    while (next_ < lines_.size() && lines_[next_].Minute == minute) {
        reach();
        reached = true;
    }
    std::vector<size_t> steps;
    for (size_t i = 1; i < times.size(); ++i) {
        if (times[i] + kFileStartStep < times[i - 1]) steps.push_back(i);
    }
    // A file given this minute whose samples start after a step continues the minute that its
    // predecessor ran into: the clicks before the step are the predecessor's.
    size_t own = 0;
    if (reached && hadLine && previous != line_ && !steps.empty() && !nextMayBeginIn(minute)) {
        own = steps.front();
        steps.erase(steps.begin());
    }
    auto sourceOf = [&](size_t line, int64_t origin, int32_t time) {
        ClickSource s;
        s.TimeUs = minute * kMicrosecondsPerMinute + int64_t{time} * kMicrosecondsPerTimeUnit;
        s.Recording = line;
        s.OffsetUs = s.TimeUs - origin * kMicrosecondsPerMinute;
        return s;
    };
    std::vector<ClickSource> sources;
    sources.reserve(times.size());
    size_t step = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        if (i < own) {
            sources.push_back(sourceOf(previous, previousOrigin, times[i]));
            continue;
        }
        if (step < steps.size() && steps[step] == i) {
            ++step;
            if (nextMayBeginIn(minute)) {
                line_ = next_++;
                origin_ = minute;
            }
        }
        if (next_ == 0) {
            ClickSource none;
            none.TimeUs =
                minute * kMicrosecondsPerMinute + int64_t{times[i]} * kMicrosecondsPerTimeUnit;
            sources.push_back(none);
        } else {
            sources.push_back(sourceOf(line_, origin_, times[i]));
        }
    }
    return sources;
}

std::vector<ClickSource> ClickSources::Minute(int64_t minute, std::span<const int32_t> times) {
    if (!fromTable_) return FromLinkage(minute, times);
    std::vector<ClickSource> sources;
    sources.reserve(times.size());
    for (const int32_t time : times) sources.push_back(FromRows(minute, time));
    return sources;
}

std::vector<ClickSource> AttributeClicks(ClickSources& sources, std::span<const ClickTime> clicks) {
    std::vector<ClickSource> all;
    all.reserve(clicks.size());
    std::vector<int32_t> times;
    for (size_t i = 0; i < clicks.size();) {
        const int64_t minute = clicks[i].Minute;
        times.clear();
        for (; i < clicks.size() && clicks[i].Minute == minute; ++i) {
            times.push_back(clicks[i].ClkTime5MuSecs);
        }
        const std::vector<ClickSource> found = sources.Minute(minute, times);
        all.insert(all.end(), found.begin(), found.end());
    }
    return all;
}

}  // namespace wtk::tk1
