#include "presence/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "base/calendar.h"
#include "base/numbers.h"
#include "output/replacing_file.h"
#include "presence/location_clicks.h"
#include "presence/report_figures.h"

namespace wtk::presence {

namespace {

constexpr int64_t kHourUs = 3600 * kMicrosecondsPerSecond;

// What the first pass learns of an encounter.
struct EncounterTally {
    int64_t StartUs = 0;
    int64_t EndUs = 0;
    int32_t Trains = 0;
    int64_t NbhfClicks = 0;
    int32_t BuzzClicks = 0;
};

// The encounters with the most NBHF clicks (the earlier of two as rich), richest first.
std::vector<EncounterPlot> RichestEncounters(const std::map<int64_t, EncounterTally>& tallies) {
    std::vector<EncounterPlot> plots;
    for (const auto& [number, t] : tallies) {
        EncounterPlot p;
        p.Number = number;
        p.StartUs = t.StartUs;
        p.EndUs = t.EndUs;
        p.Trains = t.Trains;
        p.NbhfClicks = t.NbhfClicks;
        p.BuzzClicks = t.BuzzClicks;
        plots.push_back(std::move(p));
    }
    std::stable_sort(
        plots.begin(), plots.end(),
        [](const EncounterPlot& a, const EncounterPlot& b) { return a.NbhfClicks > b.NbhfClicks; });
    if (plots.size() > kEncounterPlots) plots.resize(kEncounterPlots);
    return plots;
}

// Keeps a click in a plot: every Stride-th of the encounter's clicks; when the plot holds
// twice kPlotClicks, every other one is dropped and the stride doubles.
void Keep(EncounterPlot& plot, int64_t& seen, const PlotClick& click) {
    if (seen++ % plot.Stride != 0) return;
    plot.Clicks.push_back(click);
    if (plot.Clicks.size() < 2 * kPlotClicks) return;
    size_t kept = 0;
    for (size_t i = 0; i < plot.Clicks.size(); i += 2) plot.Clicks[kept++] = plot.Clicks[i];
    plot.Clicks.resize(kept);
    plot.Stride *= 2;
}

// One location: its presence by hour and by day, then its clicks.
LocationReport GatherLocation(LocationFiles files, const ReportOptions& options) {
    LocationReport report;
    report.Location = files.Location;
    report.Files = files.Tk1Paths;
    LocationReader reader(std::move(files));
    report.Warnings = reader.Warnings();

    PresenceOptions hourly{Period::Hour, options.UtcOffsetMinutes, options.MinQuality};
    PresenceOptions daily{Period::Day, options.UtcOffsetMinutes, options.MinQuality};
    PresenceCounter hours(report.Location, hourly);
    PresenceCounter days(report.Location, daily);
    for (const auto& [from, to] : reader.Effort()) {
        hours.AddEffort(from, to);
        days.AddEffort(from, to);
    }
    TrainIndex index;
    std::map<int64_t, EncounterTally> tallies;
    FindTrains(reader, options.Trains, options.MinQuality, [&](const Train& train) {
        index.Add(train);
        hours.AddTrain(train);
        days.AddTrain(train);
        if (train.Encounter == 0) return;
        auto [at, first] = tallies.try_emplace(train.Encounter);
        EncounterTally& t = at->second;
        if (first) t.StartUs = train.StartUs;
        t.StartUs = std::min(t.StartUs, train.StartUs);
        t.EndUs = std::max(t.EndUs, train.EndUs);
        ++t.Trains;
        t.NbhfClicks += train.Clicks;
        t.BuzzClicks += train.BuzzClicks;
    });
    report.Hours = hours.Rows();
    report.Days = days.Rows();
    report.EncounterCount = static_cast<int64_t>(tallies.size());
    report.Encounters = RichestEncounters(tallies);

    // The second pass: the intervals and frequencies of NBHF clicks, and the clicks of the
    // richest encounters.
    std::vector<int64_t> seen(report.Encounters.size(), 0);
    std::unordered_map<int64_t, int64_t> lastOfTrain;  // train number: its click before
    const auto closedAfterUs = static_cast<int64_t>(
        2000 * std::max(options.Trains.MaxIciMs, options.Trains.MaxSonarIciMs));
    reader.Rewind();
    LabelClicks(
        reader, options.Trains, index, [&](const TimedClick& click, const TrainLabel* train) {
            PlotClick p;
            p.TimeUs = click.TimeUs;
            p.Khz = static_cast<float>(ClickKhz(click.Fields));
            p.Pmax = click.Fields.Pmax;
            if (train != nullptr) {
                p.Class = static_cast<int8_t>(train->Class);
                auto [last, first] = lastOfTrain.try_emplace(train->Number, click.TimeUs);
                if (!first) {
                    p.IciMs = static_cast<float>(click.TimeUs - last->second) / 1000;
                    last->second = click.TimeUs;
                }
                // A train whose last click lies further back than two of the longest intervals
                // a chain may bridge has closed: its last click is forgotten.
                if (lastOfTrain.size() > 256) {
                    std::erase_if(lastOfTrain, [&](const auto& e) {
                        return e.second < click.TimeUs - closedAfterUs;
                    });
                }
                if (train->Class == TrainClass::Nbhf && train->Quality >= options.MinQuality) {
                    if (p.IciMs > 0) report.NbhfIciMs.Add(p.IciMs);
                    if (p.Khz > 0) report.NbhfKhz.Add(p.Khz);
                }
            }
            for (size_t e = 0; e < report.Encounters.size(); ++e) {
                EncounterPlot& plot = report.Encounters[e];
                if (click.TimeUs >= plot.StartUs && click.TimeUs <= plot.EndUs) {
                    Keep(plot, seen[e], p);
                }
            }
        });
    return report;
}

// "1,234 (5.6 %)" of a part of a whole.
std::string PartText(int64_t part, int64_t whole) {
    std::string text = Grouped(part);
    if (whole > 0) text += " (" + FixedText(100.0 * part / whole, 1) + " %)";
    return text;
}

// "2024-06-11 14:02:10" in the clock of the offset.
std::string LocalTimeText(int64_t utcUs, int32_t offset) {
    return IsoMicroseconds(utcUs + int64_t{offset} * kMicrosecondsPerMinute, ' ').substr(0, 19);
}

// A location's totals, for its row of the summary.
struct Totals {
    // The first and last local day as text ("" without any).
    std::string FirstDay, LastDay;
    int64_t DaysRecorded = 0;
    int64_t RecordedMinutes = 0;
    int64_t RecordedUs = 0;
    int64_t NbhfDpm = 0;
    int64_t PositiveDays = 0;
    int64_t NbhfTrains = 0;
    int64_t BuzzMinutes = 0;
};
Totals TotalsOf(const LocationReport& location, int32_t offset) {
    Totals t;
    if (!location.Days.empty()) {
        t.FirstDay = LocalTimeText(location.Days.front().PeriodStartUs, offset).substr(0, 10);
        t.LastDay = LocalTimeText(location.Days.back().PeriodStartUs, offset).substr(0, 10);
    }
    for (const PresenceRow& day : location.Days) {
        if (!day.NbhfDpm) continue;
        if (day.RecordedMinutes > 0) ++t.DaysRecorded;
        t.RecordedMinutes += day.RecordedMinutes;
        t.RecordedUs += day.RecordedUs;
        t.NbhfDpm += *day.NbhfDpm;
        if (*day.NbhfDpm > 0) ++t.PositiveDays;
        t.NbhfTrains += day.NbhfTrains.value_or(0);
        t.BuzzMinutes += day.BuzzMinutes.value_or(0);
    }
    return t;
}

// "54.5°N", "3.25°W": degrees to at most four decimals, without trailing zeros.
std::string Degrees(double value, const char* positive, const char* negative) {
    std::string text = FixedText(std::abs(value), 4);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.ends_with('.')) text.pop_back();
    return text + "\u00b0" + (value < 0 ? negative : positive);
}

// "1 NBHF train", "1,234 NBHF trains".
std::string Counted(int64_t n, std::string_view what) {
    return Grouped(n) + " " + std::string(what) + (n == 1 ? "" : "s");
}

// "every 2nd", "every 4th", ...
std::string EveryNth(int32_t n) {
    const int32_t tens = n % 100;
    const char* suffix = tens >= 11 && tens <= 13 ? "th"
                         : n % 10 == 1            ? "st"
                         : n % 10 == 2            ? "nd"
                         : n % 10 == 3            ? "rd"
                                                  : "th";
    return "every " + std::to_string(n) + suffix;
}

constexpr const char* kStyle = R"(
:root{color-scheme:light}
body{font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:#1d1d1d;
 background:#fff;margin:0 auto;max-width:1080px;padding:20px 28px}
h1{font-size:24px;margin:0 0 4px}
h2{font-size:19px;margin:30px 0 8px;padding-top:10px;border-top:2px solid #333}
h3{font-size:15px;margin:20px 0 6px}
p.lead{margin:0 0 12px;color:#333}
table{border-collapse:collapse;margin:8px 0 14px;font-variant-numeric:tabular-nums}
th,td{padding:3px 10px;border-bottom:1px solid #ddd;text-align:right}
td{white-space:nowrap}
th{background:#f2f2f2;font-weight:600}
th:first-child,td:first-child{text-align:left}
figure{margin:10px 0 18px;break-inside:avoid;page-break-inside:avoid}
figcaption{font-size:13px;color:#333;margin:2px 0 0}
svg{display:block;width:100%;height:auto}
svg text{font:11px "DejaVu Sans",Verdana,sans-serif;fill:#222}
svg .axis-title,svg .legend-title{font-size:12px;font-weight:600}
.axis{stroke:#333;stroke-width:1}
.frame{fill:none;stroke:#333;stroke-width:1}
.gridline{stroke:#e4e4e4;stroke-width:1}
.none{fill:#bdbdbd}
.gaps .cell{stroke:#fff;stroke-width:.5}
.swatch{stroke:#777;stroke-width:.5}
.night{fill:#0b1d51;fill-opacity:.24;pointer-events:none}
.dpm{fill:#d55e00}
.effort{fill:#6f8fb3}
.bar{fill:#d55e00;stroke:#fff;stroke-width:.3}
.dots{fill:none;stroke-width:3.2;stroke-linecap:round}
.pair{display:flex;flex-wrap:wrap;gap:18px}
.pair figure{flex:1 1 420px;margin-top:0}
.note{background:#fff6d6;border-left:4px solid #e0b000;padding:6px 10px;margin:8px 0}
dl{display:grid;grid-template-columns:max-content auto;gap:2px 14px;font-size:13px}
dt{font-weight:600}
dd{margin:0}
ul.files{font-size:12px;color:#333;word-break:break-all}
@page{size:A4 landscape;margin:12mm}
@media print{body{max-width:none;padding:0}
 h2{break-before:page;page-break-before:always}
 *{-webkit-print-color-adjust:exact;print-color-adjust:exact}}
)";

}  // namespace

Histogram::Histogram(double low, double high, int bins, bool log)
    : Low(low), High(high), Log(log), Counts(static_cast<size_t>(std::max(bins, 1)), 0) {}

void Histogram::Add(double value) {
    if (Counts.empty() || !std::isfinite(value)) return;
    double f = 0;
    if (Log) {
        f = value > 0 ? std::log(value / Low) / std::log(High / Low) : 0;
    } else {
        f = (value - Low) / (High - Low);
    }
    const auto bins = static_cast<double>(Counts.size());
    const double at = std::clamp(std::floor(f * bins), 0.0, bins - 1);
    ++Counts[static_cast<size_t>(at)];
}

int64_t Histogram::Total() const {
    int64_t total = 0;
    for (const int64_t c : Counts) total += c;
    return total;
}

std::vector<LocationReport> GatherReport(const std::vector<std::string>& paths,
                                         const ReportOptions& options) {
    std::vector<LocationReport> reports;
    for (LocationFiles& files : GatherLocations(paths)) {
        reports.push_back(GatherLocation(std::move(files), options));
    }
    return reports;
}

std::string ReportHtml(const std::vector<LocationReport>& locations, const ReportOptions& options) {
    const int32_t offset = options.UtcOffsetMinutes;
    const std::string clock = ClockName(offset);
    std::string names;
    for (const LocationReport& l : locations) names += (names.empty() ? "" : ", ") + l.Location;

    std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    // Nothing may be fetched: styles are inline and there is nothing else.
    h += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'\">\n";
    h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    h += "<title>Presence report: " + HtmlText(names) + "</title>\n<style>" + kStyle +
         "</style>\n</head>\n<body>\n";
    h += "<h1>Presence report</h1>\n<p class=\"lead\">Narrow-band high-frequency (NBHF) click "
         "trains of " +
         std::string(QualityName(options.MinQuality)) +
         " quality or better, per location. Hours and days in " + clock + ".";
    if (options.Latitude && options.Longitude) {
        h += " Night (sun below the horizon) is shaded for " +
             Degrees(*options.Latitude, "N", "S") + " " + Degrees(*options.Longitude, "E", "W") +
             ".";
    }
    h += "</p>\n";

    // The summary of every location.
    h += "<table class=\"summary\">\n<thead><tr><th>Location</th><th>From</th><th>To</th>"
         "<th>Days recorded</th><th>Hours recorded</th><th>NBHF DPM (of recorded "
         "minutes)</th><th>Detection-positive days (of days recorded)</th><th>NBHF "
         "trains</th><th>Encounters</th></tr></thead>\n<tbody>\n";
    for (const LocationReport& l : locations) {
        const Totals t = TotalsOf(l, offset);
        h += "<tr><td><a href=\"#location-" + std::to_string(&l - locations.data() + 1) + "\">" +
             HtmlText(l.Location) + "</a></td><td>" + t.FirstDay + "</td><td>" + t.LastDay +
             "</td><td>" + Grouped(t.DaysRecorded) + "</td><td>" +
             FixedText(static_cast<double>(t.RecordedUs) / kHourUs, 1) + "</td><td>" +
             PartText(t.NbhfDpm, t.RecordedMinutes) + "</td><td>" +
             PartText(t.PositiveDays, t.DaysRecorded) + "</td><td>" + Grouped(t.NbhfTrains) +
             "</td><td>" + Grouped(l.EncounterCount) + "</td></tr>\n";
    }
    h += "</tbody>\n</table>\n";
    if (locations.empty()) h += "<p class=\"note\">No TK1 files.</p>\n";

    for (const LocationReport& l : locations) {
        const Totals t = TotalsOf(l, offset);
        const std::string name = HtmlText(l.Location);
        h += "<section class=\"location\" id=\"location-" +
             std::to_string(&l - locations.data() + 1) + "\">\n<h2>" + name + "</h2>\n";
        for (const std::string& w : l.Warnings) h += "<p class=\"note\">" + HtmlText(w) + "</p>\n";
        h += "<dl>\n<dt>Recorded</dt><dd>";
        h += t.FirstDay.empty()
                 ? std::string("nothing")
                 : Grouped(t.DaysRecorded) + " days from " + t.FirstDay + " to " + t.LastDay +
                       ", " + FixedText(static_cast<double>(t.RecordedUs) / kHourUs, 1) +
                       " hours (" + Grouped(t.RecordedMinutes) + " minutes with recording)";
        h += "</dd>\n";
        h += "<dt>NBHF DPM</dt><dd>" + PartText(t.NbhfDpm, t.RecordedMinutes) +
             " of the recorded minutes</dd>\n";
        h += "<dt>Detection-positive days</dt><dd>" + PartText(t.PositiveDays, t.DaysRecorded) +
             " of the days recorded</dd>\n";
        h += "<dt>NBHF trains</dt><dd>" + Grouped(t.NbhfTrains) + " in " +
             Counted(l.EncounterCount, "encounter") + "; buzzes in " +
             Counted(t.BuzzMinutes, "minute") + "</dd>\n</dl>\n";

        if (l.Hours.empty()) {
            h += "<p class=\"note\">Nothing recorded.</p>\n";
        } else {
            h += "<figure>\n" + GridFigure(l, options) +
                 "<figcaption>NBHF detection-positive minutes (DPM) in each hour of each day (" +
                 clock + "); grey: nothing recorded in that hour";
            if (options.Latitude && options.Longitude) h += "; shaded: night";
            h += ".</figcaption>\n</figure>\n";
            h += "<figure>\n" + DailyFigure(l, options) +
                 "<figcaption>NBHF DPM per day, and the time recorded on each day below "
                 "them.</figcaption>\n</figure>\n";
        }

        h += "<div class=\"pair\">\n<figure>\n" +
             HistogramFigure(l.NbhfIciMs, "Interval between clicks (ms)", "Clicks") +
             "<figcaption>Intervals between successive clicks of NBHF trains (" +
             Grouped(l.NbhfIciMs.Total()) +
             "); buzzes lie below 10 ms.</figcaption>\n</figure>\n<figure>\n" +
             HistogramFigure(l.NbhfKhz, "Frequency (kHz)", "Clicks") +
             "<figcaption>Frequency of the loudest cycle of clicks of NBHF trains (" +
             Grouped(l.NbhfKhz.Total()) + ").</figcaption>\n</figure>\n</div>\n";

        if (!l.Encounters.empty()) {
            h += "<h3>" +
                 std::string(l.Encounters.size() == 1
                                 ? "The encounter"
                                 : "The " + std::to_string(l.Encounters.size()) +
                                       " richest encounters") +
                 " of " + name + "</h3>\n";
        }
        for (const EncounterPlot& e : l.Encounters) {
            h += "<figure>\n" + EncounterFigure(e, options) + "<figcaption>Encounter " +
                 std::to_string(e.Number) + ": " + LocalTimeText(e.StartUs, offset) + " to " +
                 LocalTimeText(e.EndUs, offset).substr(11) + " (" + clock + "), " +
                 Counted(e.Trains, "NBHF train") + ", " + Counted(e.NbhfClicks, "NBHF click") +
                 ", " + Counted(e.BuzzClicks, "buzz click");
            if (e.Stride > 1) h += "; " + EveryNth(e.Stride) + " click shown";
            h += ".</figcaption>\n</figure>\n";
        }
        h += "<details>\n<summary>TK1 files (" + std::to_string(l.Files.size()) +
             ")</summary>\n<ul class=\"files\">\n";
        for (const std::string& f : l.Files) h += "<li>" + HtmlText(f) + "</li>\n";
        h += "</ul>\n</details>\n</section>\n";
    }
    h += "<h2>Terms</h2>\n<dl>\n"
         "<dt>DPM</dt><dd>Detection-positive minute: a minute that holds a click of an NBHF "
         "train of " +
         std::string(QualityName(options.MinQuality)) +
         " quality or better.</dd>\n"
         "<dt>Recorded</dt><dd>A minute, hour or day counts as recorded when any recording "
         "covers part of it; hours recorded add up the recording itself.</dd>\n"
         "<dt>Encounter</dt><dd>NBHF trains that follow each other within " +
         FixedText(options.Trains.EncounterGapMinutes, 0) +
         " minutes.</dd>\n"
         "<dt>Interval</dt><dd>Time from the click before in the same train.</dd>\n"
         "<dt>Pmax</dt><dd>The detector's amplitude byte of a click's largest peak.</dd>\n"
         "</dl>\n</body>\n</html>\n";
    return h;
}

std::optional<std::string> WriteReportFile(const std::string& path, const std::string& text,
                                           bool overwrite) {
    ReplacingFile file;
    if (const int e = file.Open(path); e != 0) return ReplacingFileErrorText(e);
    if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
        file.Discard();
        return std::string("the disk refused the report's bytes");
    }
    PendingReplacements earlier;
    const int e = file.Commit(overwrite ? &earlier : nullptr);
    if (e == ReplacingFile::kReplacesLater) {
        for (const auto& [name, err] : earlier.Replace()) {
            if (err != 0) return ReplacingFileErrorText(err);
        }
        return std::nullopt;
    }
    if (e != 0) return ReplacingFileErrorText(e);
    return std::nullopt;
}

}  // namespace wtk::presence
