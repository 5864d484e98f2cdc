#include "ui/results_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "base/calendar.h"
#include "base/utf8.h"
#include "presence/tables.h"

namespace wtk::ui {

namespace {

constexpr int64_t kMicrosecondsPerHour = 60 * kMicrosecondsPerMinute;
constexpr int64_t kMicrosecondsPerDay = 24 * kMicrosecondsPerHour;
constexpr float kNoInterval = std::numeric_limits<float>::quiet_NaN();

int64_t DayOf(int64_t us) {
    return FloorDivide(us, kMicrosecondsPerDay).Quotient;
}

// The header's start minute and minute count of a TK1 file that was checked already.
ResultsFile FileOf(const std::string& path) {
    ResultsFile f{path, 0, 0};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return f;
    std::array<uint8_t, tk1::kHeaderBytes> h{};
    if (::read(fd, h.data(), h.size()) == static_cast<ssize_t>(h.size())) {
        const tk1::Header header = tk1::DecodeHeader(h);
        f.FirstMinute = header.StartMin & 0x7FFFFFFFu;
        f.Minutes = header.MinuteCount;
    }
    ::close(fd);
    return f;
}

// Every click's interval: in a train from the train's click before it, else from the click
// before it in its recording; and each train's first and last click.
void MeasureIntervals(ResultsLocation& l) {
    std::vector<int64_t> lastOfTrain(l.Trains.size(), -1);
    std::vector<int64_t> lastOfRecording(l.Recordings.size() + 1, -1);
    l.TrainEnds.assign(l.Trains.size(), TrainClicks{});
    for (size_t i = 0; i < l.Clicks.size(); ++i) {
        ResultsClick& c = l.Clicks[i];
        const bool inTrain = c.Train >= 0;
        int64_t& last = inTrain ? lastOfTrain[static_cast<size_t>(c.Train)]
                                : lastOfRecording[static_cast<size_t>(c.Recording + 1)];
        if (inTrain) {
            TrainClicks& ends = l.TrainEnds[static_cast<size_t>(c.Train)];
            if (last < 0) ends.First = i;
            ends.Last = i;
        }
        c.IciMs = last < 0 ? kNoInterval
                           : static_cast<float>(static_cast<double>(c.TimeUs - last) / 1000.0);
        last = c.TimeUs;
    }
}

// The days from the one of firstUs to the one of lastUs; throws presence::InputError for more
// than kMostDays (a date far off, from a damaged table or a recorder's clock never set, would
// ask for a grid and counts of centuries).
int64_t CheckedDays(const std::string& location, int64_t firstUs, int64_t lastUs) {
    const int64_t days = DayOf(lastUs) - DayOf(firstUs) + 1;
    if (days > kMostDays) {
        throw presence::InputError(
            PrintableName(location), "",
            "its recordings and clicks span " + std::to_string(days) + " days, from " +
                IsoMicroseconds(firstUs).substr(0, 10) + " to " +
                IsoMicroseconds(lastUs).substr(0, 10) + "; the Results page shows at most " +
                std::to_string(kMostDays) + " days of a location: open fewer of its files");
    }
    return days;
}

// The grid's days and hours and the clicks per minute.
void CountPerHourAndMinute(ResultsLocation& l, const std::vector<presence::PresenceRow>& rows,
                           const std::vector<std::pair<int64_t, int64_t>>& effort) {
    std::optional<int64_t> first, last;  // microseconds
    auto take = [&](int64_t from, int64_t to) {
        first = first ? std::min(*first, from) : from;
        last = last ? std::max(*last, to) : to;
    };
    for (const auto& [from, to] : effort) {
        if (to > from) take(from, to - 1);
    }
    if (!l.Clicks.empty()) take(l.Clicks.front().TimeUs, l.Clicks.back().TimeUs);
    for (const ResultsFile& f : l.Files) {
        if (!first)
            take(f.FirstMinute * kMicrosecondsPerMinute, f.FirstMinute * kMicrosecondsPerMinute);
    }
    if (!first) take(0, 0);
    const int64_t days = CheckedDays(l.Name, *first, *last);
    l.FirstDay = DayOf(*first);
    l.Days = static_cast<int32_t>(days);
    l.Hours.assign(static_cast<size_t>(l.Days) * 24, HourCell{});
    for (const presence::PresenceRow& row : rows) {
        const int64_t hour =
            FloorDivide(row.PeriodStartUs, kMicrosecondsPerHour).Quotient - l.FirstDay * 24;
        if (hour < 0 || hour >= static_cast<int64_t>(l.Hours.size())) continue;
        HourCell& cell = l.Hours[static_cast<size_t>(hour)];
        cell.RecordedMinutes = row.RecordedMinutes;
        cell.NbhfDpm = row.NbhfDpm.value_or(0);
    }
    l.FirstMinute = l.FirstDay * kMinutesPerDay;
    const size_t minutes = static_cast<size_t>(l.Days) * kMinutesPerDay;
    l.ClicksPerMinute.assign(minutes, 0);
    l.NbhfClicksPerMinute.assign(minutes, 0);
    for (const ResultsClick& c : l.Clicks) {
        const auto m = static_cast<size_t>(FloorDivide(c.TimeUs, kMicrosecondsPerMinute).Quotient -
                                           l.FirstMinute);
        ++l.ClicksPerMinute[m];
        if (c.Kind == PointKind::Nbhf) ++l.NbhfClicksPerMinute[m];
    }
}

// Higher for a kind drawn later, on top of the others.
int DrawRank(PointKind k) {
    return kPointKinds - 1 - static_cast<int>(k);
}

}  // namespace

PointKind KindOf(presence::TrainClass c) {
    switch (c) {
        case presence::TrainClass::Nbhf:
            return PointKind::Nbhf;
        case presence::TrainClass::Dolphin:
            return PointKind::Dolphin;
        case presence::TrainClass::Sonar:
            return PointKind::Sonar;
        case presence::TrainClass::Unclassed:
            break;
    }
    return PointKind::Unclassed;
}

TimeSpan ResultsLocation::Whole() const {
    return {FirstDay * kMicrosecondsPerDay, (FirstDay + Days) * kMicrosecondsPerDay};
}

std::pair<size_t, size_t> ResultsLocation::ClicksIn(TimeSpan span) const {
    auto before = [](const ResultsClick& c, int64_t t) { return c.TimeUs < t; };
    const auto from = std::lower_bound(Clicks.begin(), Clicks.end(), span.FromUs, before);
    const auto to = std::lower_bound(from, Clicks.end(), span.ToUs, before);
    return {static_cast<size_t>(from - Clicks.begin()), static_cast<size_t>(to - Clicks.begin())};
}

std::string ResultsLocation::RecordingPath(const ResultsClick& c) const {
    if (c.Recording < 0 || static_cast<size_t>(c.Recording) >= Recordings.size()) return {};
    return Recordings[static_cast<size_t>(c.Recording)].Path;
}

std::optional<double> ResultsLocation::RecordingSecond(const ResultsClick& c) const {
    if (c.Recording < 0 || static_cast<size_t>(c.Recording) >= Recordings.size()) return {};
    return static_cast<double>(c.TimeUs - Recordings[static_cast<size_t>(c.Recording)].StartUs) *
           1e-6;
}

std::string ResultsLocation::TrainRowText(size_t train) const {
    const presence::Train& t = Trains[train];
    const std::string recording =
        t.Recording >= 0 && static_cast<size_t>(t.Recording) < Recordings.size()
            ? PrintableName(Recordings[static_cast<size_t>(t.Recording)].Path)
            : std::string();
    return presence::TrainRow(t, PrintableName(Name), recording);
}

std::unique_ptr<ResultsLocation> LoadLocation(presence::LocationReader& reader,
                                              const presence::TrainOptions& options,
                                              presence::TrainQuality minQuality,
                                              size_t expectedClicks) {
    auto l = std::make_unique<ResultsLocation>();
    l->Clicks.reserve(expectedClicks);
    l->Name = reader.Location();
    l->Recordings = reader.Recordings();
    l->Warnings = reader.Warnings();
    l->AllZoned = !l->Recordings.empty() &&
                  std::all_of(l->Recordings.begin(), l->Recordings.end(),
                              [](const presence::RecordingSpan& r) { return r.Zoned; });

    // The recordings' days first: the counts below take room for every minute between them.
    if (!reader.Effort().empty()) {
        int64_t first = reader.Effort().front().first, last = first;
        for (const auto& [from, to] : reader.Effort()) {
            first = std::min(first, from);
            last = std::max(last, to);
        }
        CheckedDays(l->Name, first, last);
    }

    // One pass of the train detector gives the trains and the chain of every click.
    presence::PresenceCounter counter(l->Name, {presence::Period::Hour, 0, minQuality});
    for (const auto& [from, to] : reader.Effort()) counter.AddEffort(from, to);
    presence::TrainDetector detector(options, true);
    presence::EncounterGrouper encounters(options, minQuality);
    std::vector<presence::ChainKey> chains;
    chains.reserve(expectedClicks);
    auto drain = [&] {
        for (presence::Train t; detector.NextTrain(t); t = presence::Train{}) {
            encounters.Assign(t);
            counter.AddTrain(t);
            // The view needs no minutes of its own; a month holds tens of thousands of trains.
            t.ClickMinutes = {};
            t.BuzzMinutes = {};
            l->Trains.push_back(std::move(t));
        }
        uint64_t sequence = 0;
        presence::ChainKey chain = presence::kNoChain;
        while (detector.NextSettled(sequence, chain)) chains[sequence] = chain;
    };
    reader.Rewind();
    presence::TimedClick click;
    while (reader.Next(click)) {
        l->Clicks.push_back({click.TimeUs, kNoInterval,
                             static_cast<float>(presence::ClickKhz(click.Fields)), -1,
                             click.Recording, PointKind::NoTrain, click.Fields});
        chains.push_back(presence::kNoChain);
        detector.Feed(click);
        drain();
    }
    detector.Finish();
    drain();

    // In order of their start (trains of recordings that overlap may have come in turn).
    std::stable_sort(
        l->Trains.begin(), l->Trains.end(),
        [](const presence::Train& a, const presence::Train& b) { return a.StartUs < b.StartUs; });
    presence::TrainIndex index;
    std::vector<int32_t> byNumber;
    for (size_t i = 0; i < l->Trains.size(); ++i) {
        const presence::Train& t = l->Trains[i];
        index.Add(t);
        if (t.Number >= static_cast<int64_t>(byNumber.size())) {
            byNumber.resize(static_cast<size_t>(t.Number) + 1, -1);
        }
        byNumber[static_cast<size_t>(t.Number)] = static_cast<int32_t>(i);
    }
    for (size_t i = 0; i < l->Clicks.size(); ++i) {
        if (const presence::TrainLabel* label = index.Find(chains[i])) {
            l->Clicks[i].Train = byNumber[static_cast<size_t>(label->Number)];
            l->Clicks[i].Kind = KindOf(label->Class);
        }
    }
    chains = {};
    // Recordings that overlap give their clicks in turn; the view wants them in time order.
    auto earlier = [](const ResultsClick& a, const ResultsClick& b) { return a.TimeUs < b.TimeUs; };
    if (!std::is_sorted(l->Clicks.begin(), l->Clicks.end(), earlier)) {
        std::stable_sort(l->Clicks.begin(), l->Clicks.end(), earlier);
    }
    MeasureIntervals(*l);

    for (size_t i = 0; i < l->Trains.size(); ++i) {
        const presence::Train& t = l->Trains[i];
        if (t.Encounter <= 0) continue;
        if (l->Encounters.empty() || l->Encounters.back().Number != t.Encounter) {
            l->Encounters.push_back({t.Encounter, i, i, t.StartUs, t.EndUs});
        }
        Encounter& e = l->Encounters.back();
        e.LastTrain = i;
        e.EndUs = std::max(e.EndUs, t.EndUs);
    }
    CountPerHourAndMinute(*l, counter.Rows(), reader.Effort());
    return l;
}

OpenedResults OpenResults(const std::vector<std::string>& paths,
                          const presence::TrainOptions& options,
                          presence::TrainQuality minQuality) {
    OpenedResults out;
    std::vector<std::string> files;
    for (const std::string& p : paths) {
        try {
            for (const presence::LocationFiles& l : presence::GatherLocations({p})) {
                files.insert(files.end(), l.Tk1Paths.begin(), l.Tk1Paths.end());
            }
        } catch (const presence::InputError& e) {
            out.Refused.push_back(e.what());
        }
    }
    std::vector<presence::LocationFiles> locations;
    try {
        locations = presence::GatherLocations(files);
    } catch (const presence::InputError& e) {
        out.Refused.push_back(e.what());
        return out;
    }
    for (const presence::LocationFiles& location : locations) {
        // Each file on its own first, so that a damaged one keeps none of the others out.
        presence::LocationFiles good{location.Location, {}};
        for (const std::string& f : location.Tk1Paths) {
            try {
                presence::LocationReader check(presence::LocationFiles{location.Location, {f}});
                good.Tk1Paths.push_back(f);
            } catch (const presence::InputError& e) {
                const std::string name = PrintableName(f);
                out.Refused.push_back(e.Path() == name ? e.what() : name + ": " + e.what());
            }
        }
        if (good.Tk1Paths.empty()) continue;
        std::vector<ResultsFile> headers;
        size_t records = 0;  // at most as many clicks
        for (const std::string& f : good.Tk1Paths) {
            headers.push_back(FileOf(f));
            std::error_code ec;
            const auto bytes = std::filesystem::file_size(f, ec);
            if (!ec && bytes > tk1::kHeaderBytes)
                records += (bytes - tk1::kHeaderBytes) / tk1::kRecordBytes;
        }
        try {
            presence::LocationReader reader(std::move(good));
            std::unique_ptr<ResultsLocation> loaded =
                LoadLocation(reader, options, minQuality, records);
            loaded->Files = std::move(headers);
            out.Locations.push_back(std::move(loaded));
        } catch (const presence::InputError& e) {
            out.Refused.push_back(e.what());
        }
    }
    return out;
}

// ---- drawing ----

std::optional<int> ValueAxis::Row(double value, int rows) const {
    const int row = AxisRows(*this, rows).Row(value);
    if (row < 0) return std::nullopt;
    return row;
}

double ValueAxis::ValueAt(double row, int rows) const {
    const double f = row / rows;
    if (Log) return Max * std::pow(Min / Max, f);
    return Max - f * (Max - Min);
}

AxisRows::AxisRows(const ValueAxis& a, int rows) : a_(a), rows_(rows) {
    if (a.Log) {
        valid_ = a.Min > 0 && a.Max > a.Min;
        top_ = valid_ ? std::log(a.Max) : 0;
        scale_ = valid_ ? rows / std::log(a.Max / a.Min) : 0;
    } else {
        valid_ = a.Max > a.Min;
        scale_ = valid_ ? rows / (a.Max - a.Min) : 0;
    }
}

double AxisRows::Below(double value) const {
    if (!valid_ || !(value >= a_.Min && value <= a_.Max)) return -1;
    return a_.Log ? (top_ - std::log(value)) * scale_ : (a_.Max - value) * scale_;
}

int AxisRows::Row(double value) const {
    const double below = Below(value);
    return below < 0 ? -1 : std::min(static_cast<int>(below), rows_ - 1);
}

double PanelValue(const ResultsClick& c, Panel p) {
    switch (p) {
        case Panel::Ici:
            return c.IciMs;
        case Panel::Khz:
            return c.Khz > 0 ? c.Khz : std::numeric_limits<double>::quiet_NaN();
        case Panel::Amplitude:
            return c.Fields.Pmax;
    }
    return 0;
}

double PlotFrame::X(int64_t timeUs) const {
    return static_cast<double>(timeUs - Span.FromUs) * Width / static_cast<double>(Span.Length());
}

int64_t PlotFrame::TimeAt(double x) const {
    return Span.FromUs + std::llround(x * static_cast<double>(Span.Length()) / Width);
}

std::array<ValueAxis, kPanels> AxesFor(const ResultsLocation& location) {
    float highest = 0;
    for (const ResultsClick& c : location.Clicks) highest = std::max(highest, c.Khz);
    const double khz = std::max(200.0, std::ceil(highest / 50.0) * 50.0);
    return {ValueAxis{0.5, 5000, true}, ValueAxis{0, khz, false}, ValueAxis{0, 255, false}};
}

std::vector<uint32_t> VisibleClicks(const ResultsLocation& location, const PlotFrame& frame) {
    std::vector<uint32_t> drawn;
    if (frame.Width <= 0 || frame.Rows <= 0 || frame.Span.Length() <= 0) return drawn;
    const auto [first, last] = location.ClicksIn(frame.Span);
    // One bit per panel, kind, column and row.
    const size_t plane = static_cast<size_t>(frame.Width) * static_cast<size_t>(frame.Rows);
    std::vector<uint64_t> taken((kPanels * kPointKinds * plane + 63) / 64, 0);
    const std::array<AxisRows, kPanels> scales = {AxisRows(frame.Axes[0], frame.Rows),
                                                  AxisRows(frame.Axes[1], frame.Rows),
                                                  AxisRows(frame.Axes[2], frame.Rows)};
    for (size_t i = first; i < last; ++i) {
        const ResultsClick& c = location.Clicks[i];
        const auto kind = static_cast<size_t>(c.Kind);
        if (!frame.Shown[kind]) continue;
        const int column = std::clamp(static_cast<int>(frame.X(c.TimeUs)), 0, frame.Width - 1);
        bool keep = false;
        for (int p = 0; p < kPanels; ++p) {
            const int row =
                scales[static_cast<size_t>(p)].Row(PanelValue(c, static_cast<Panel>(p)));
            if (row < 0) continue;
            const size_t bit = (static_cast<size_t>(p) * kPointKinds + kind) * plane +
                               static_cast<size_t>(column) * static_cast<size_t>(frame.Rows) +
                               static_cast<size_t>(row);
            const uint64_t mask = uint64_t{1} << (bit % 64);
            if ((taken[bit / 64] & mask) == 0) {
                taken[bit / 64] |= mask;
                keep = true;
            }
        }
        if (!keep && c.Train >= 0) {
            const TrainClicks& ends = location.TrainEnds[static_cast<size_t>(c.Train)];
            keep = ends.First == i || ends.Last == i;
        }
        if (keep) drawn.push_back(static_cast<uint32_t>(i));
    }
    return drawn;
}

std::optional<size_t> ClickUnder(const ResultsLocation& location, const PlotFrame& frame,
                                 Panel panel, double x, double y, double radius) {
    if (frame.Width <= 0 || frame.Rows <= 0 || frame.Span.Length() <= 0) return std::nullopt;
    const TimeSpan near{frame.TimeAt(x - radius), frame.TimeAt(x + radius) + 1};
    const auto [first, last] = location.ClicksIn(near);
    const AxisRows scale(frame.Axes[static_cast<size_t>(panel)], frame.Rows);
    std::optional<size_t> best;
    double bestDistance = 0;
    int bestRank = -1;
    for (size_t i = first; i < last; ++i) {
        const ResultsClick& c = location.Clicks[i];
        if (!frame.Shown[static_cast<size_t>(c.Kind)]) continue;
        const double below = scale.Below(PanelValue(c, panel));
        if (below < 0) continue;
        const double dx = frame.X(c.TimeUs) - x;
        const double dy = below - y;
        const double d = dx * dx + dy * dy;
        const int rank = DrawRank(c.Kind);
        if (d > radius * radius) continue;
        if (!best || d < bestDistance || (d == bestDistance && rank > bestRank)) {
            best = i;
            bestDistance = d;
            bestRank = rank;
        }
    }
    return best;
}

// ---- moving about ----

TimeSpan Zoomed(TimeSpan span, double factor, int64_t anchorUs, TimeSpan limits) {
    const int64_t longest = std::max(limits.Length(), kShortestSpanUs);
    const double wanted = static_cast<double>(span.Length()) * factor;
    const int64_t length =
        std::clamp(static_cast<int64_t>(std::llround(wanted)), kShortestSpanUs, longest);
    const double share = span.Length() > 0 ? static_cast<double>(anchorUs - span.FromUs) /
                                                 static_cast<double>(span.Length())
                                           : 0.5;
    const int64_t from = anchorUs - std::llround(share * static_cast<double>(length));
    return Panned({from, from + length}, 0, limits);
}

TimeSpan Panned(TimeSpan span, int64_t byUs, TimeSpan limits) {
    TimeSpan s{span.FromUs + byUs, span.ToUs + byUs};
    if (s.Length() >= limits.Length()) {
        // Longer than the limits: centred on them.
        const int64_t from = limits.FromUs - (s.Length() - limits.Length()) / 2;
        return {from, from + s.Length()};
    }
    if (s.FromUs < limits.FromUs) s = {limits.FromUs, limits.FromUs + s.Length()};
    if (s.ToUs > limits.ToUs) s = {limits.ToUs - s.Length(), limits.ToUs};
    return s;
}

TimeSpan AroundTrain(const presence::Train& train) {
    const int64_t length = std::max<int64_t>(train.EndUs - train.StartUs, 0);
    const int64_t margin = std::max<int64_t>(length / 5, 2'000);
    return {train.StartUs - margin, train.EndUs + margin + 1};
}

TimeSpan AroundEncounter(const Encounter& e) {
    const int64_t length = std::max<int64_t>(e.EndUs - e.StartUs, 0);
    const int64_t margin = std::max<int64_t>(length / 20, 2'000);
    return {e.StartUs - margin, e.EndUs + margin + 1};
}

std::optional<size_t> StepTrain(const ResultsLocation& location, const KindsShown& shown,
                                std::optional<size_t> current, int64_t atUs, int direction) {
    const auto& trains = location.Trains;
    auto isShown = [&](size_t i) { return shown[static_cast<size_t>(KindOf(trains[i].Class))]; };
    if (direction > 0) {
        size_t i =
            current
                ? *current + 1
                : static_cast<size_t>(std::lower_bound(trains.begin(), trains.end(), atUs,
                                                       [](const presence::Train& t, int64_t at) {
                                                           return t.StartUs < at;
                                                       }) -
                                      trains.begin());
        for (; i < trains.size(); ++i) {
            if (isShown(i)) return i;
        }
        return std::nullopt;
    }
    size_t end =
        current ? *current
                : static_cast<size_t>(std::lower_bound(trains.begin(), trains.end(), atUs,
                                                       [](const presence::Train& t, int64_t at) {
                                                           return t.StartUs < at;
                                                       }) -
                                      trains.begin());
    while (end > 0) {
        --end;
        if (isShown(end)) return end;
    }
    return std::nullopt;
}

std::optional<size_t> StepEncounter(const ResultsLocation& location, std::optional<size_t> current,
                                    int64_t atUs, int direction) {
    const auto& all = location.Encounters;
    size_t at = current ? *current + (direction > 0 ? 1 : 0)
                        : static_cast<size_t>(std::lower_bound(all.begin(), all.end(), atUs,
                                                               [](const Encounter& e, int64_t t) {
                                                                   return e.StartUs < t;
                                                               }) -
                                              all.begin());
    if (direction > 0) return at < all.size() ? std::optional<size_t>(at) : std::nullopt;
    return at > 0 ? std::optional<size_t>(at - 1) : std::nullopt;
}

}  // namespace wtk::ui
