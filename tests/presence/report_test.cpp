#include "presence/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "base/calendar.h"
#include "presence/report_figures.h"
#include "synth/tk1_sketch.h"
#include "temp_dir.h"
#include "train_fixtures.h"

namespace wtk::presence {
namespace {

constexpr int64_t kHourUs = 3600 * kMicrosecondsPerSecond;
constexpr int64_t kDayUs = 24 * kHourUs;

// How often a string occurs in a text.
size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The bin of a histogram that holds its one value.
size_t IndexOf(const Histogram& h) {
    return static_cast<size_t>(
        std::find_if(h.Counts.begin(), h.Counts.end(), [](int64_t c) { return c > 0; }) -
        h.Counts.begin());
}

PresenceRow Row(int64_t startUs, std::optional<int32_t> dpm, int32_t recordedMinutes) {
    PresenceRow row;
    row.PeriodStartUs = startUs;
    row.RecordedMinutes = dpm ? recordedMinutes : 0;
    row.RecordedUs = int64_t{row.RecordedMinutes} * kMicrosecondsPerMinute;
    row.NbhfDpm = dpm;
    if (dpm) {
        row.DolphinDpm = row.SonarMinutes = row.BuzzMinutes = row.NbhfTrains = row.Encounters = 0;
    }
    return row;
}

// A location recorded from fromUs for the given hours (UTC), dpm(hour index) NBHF DPM in each
// hour (nullopt: not recorded), and day rows of the same hours in the clock of offset.
LocationReport Location(const std::string& name, int64_t fromUs, int hours,
                        const std::function<std::optional<int32_t>(int)>& dpm, int32_t offset = 0) {
    LocationReport l;
    l.Location = name;
    std::map<int64_t, PresenceRow> days;
    const int64_t offsetUs = int64_t{offset} * kMicrosecondsPerMinute;
    for (int h = 0; h < hours; ++h) {
        const int64_t start = fromUs + h * kHourUs;
        l.Hours.push_back(Row(start, dpm(h), 10));
        const int64_t dayStart = FloorDivide(start + offsetUs, kDayUs).Quotient * kDayUs - offsetUs;
        auto [it, fresh] = days.try_emplace(dayStart, Row(dayStart, std::nullopt, 0));
        if (const std::optional<int32_t> d = dpm(h)) {
            PresenceRow& day = it->second;
            day.NbhfDpm = day.NbhfDpm.value_or(0) + *d;
            day.RecordedMinutes += 10;
            day.RecordedUs += 10 * kMicrosecondsPerMinute;
        }
    }
    for (auto& [start, row] : days) l.Days.push_back(row);
    return l;
}

int64_t Day(int year, int month, int day) {
    return DayNumberFromCivil(year, month, day) * kDayUs;
}

TEST(ReportGridTest, OneCellPerHourAndDateAndGreyWhereNothingWasRecorded) {
    struct Case {
        const char* Name;
        int64_t FromUs;
        int Hours;
        int32_t Offset;
        size_t Dates;
        size_t Grey;
    };
    // 50 hours from 05:00 on the 11th: hours 10 to 19 not recorded.
    const Case cases[] = {
        // The 11th (05:00 on), 12th and 13th (to 06:59): 72 cells, of which the 5 before,
        // the 10 in the gap and the 17 after are grey.
        {"UTC", Day(2024, 6, 11) + 5 * kHourUs, 50, 0, 3, 5 + 10 + 17},
        // Two hours east the same hours begin at 07:00 and end at 08:59 two days later.
        {"UTC+02:00", Day(2024, 6, 11) + 5 * kHourUs, 50, 120, 3, 7 + 10 + 15},
        // Five hours west they begin at 00:00 and end at 01:59 two days later.
        {"UTC-05:00", Day(2024, 6, 11) + 5 * kHourUs, 50, -300, 3, 10 + 22},
        // A day's hours in the clock of +05:30 lie over two dates.
        {"UTC+05:30", Day(2024, 6, 11) + 30 * kMicrosecondsPerMinute, 24, 330, 2, 24 + 0},
    };
    for (const Case& c : cases) {
        auto dpm = [&](int h) -> std::optional<int32_t> {
            if (c.Hours == 50 && h >= 10 && h < 20) return std::nullopt;
            return h % 7;
        };
        ReportOptions options;
        options.UtcOffsetMinutes = c.Offset;
        const std::string svg =
            GridFigure(Location("SiteA", c.FromUs, c.Hours, dpm, c.Offset), options);
        EXPECT_EQ(Count(svg, "<rect class=\"cell"), c.Dates * 24) << c.Name;
        EXPECT_EQ(Count(svg, "<rect class=\"cell none\""), c.Grey) << c.Name;
        EXPECT_NE(svg.find("Hour of day (" + std::string(c.Name) + ")"), std::string::npos)
            << c.Name;
        EXPECT_EQ(svg.find("class=\"night\""), std::string::npos) << c.Name;
    }
}

TEST(ReportGridTest, CellsShowTheirHourInTheClockOfTheOffsetAndTheirCounts) {
    // 22:00 UTC on the 11th is 00:00 on the 12th two hours east.
    ReportOptions options;
    options.UtcOffsetMinutes = 120;
    const LocationReport l = Location(
        "SiteA", Day(2024, 6, 11) + 22 * kHourUs, 3,
        [](int h) -> std::optional<int32_t> {
            return h == 1 ? std::nullopt : std::optional(h + 3);
        },
        120);
    const std::string svg = GridFigure(l, options);
    EXPECT_NE(svg.find("<title>2024-06-12 00:00: 3 NBHF DPM of 10 recorded minutes</title>"),
              std::string::npos);
    EXPECT_NE(svg.find("<title>2024-06-12 01:00: not recorded</title>"), std::string::npos);
    EXPECT_NE(svg.find("<title>2024-06-12 02:00: 5 NBHF DPM of 10 recorded minutes</title>"),
              std::string::npos);
    // The richest hour has the darkest colour, an hour recorded without detections white, and
    // one of half as many an orange between; the legend ends at the richest.
    const std::string none = GridFigure(
        Location("SiteA", Day(2024, 6, 11), 3, [](int h) { return std::optional(h * 3); }),
        ReportOptions{});
    EXPECT_NE(none.find("fill=\"#ffffff\" x=\"72\" y=\"12\""), std::string::npos);
    EXPECT_NE(none.find("fill=\"#fd9c42\" x=\"72\" y=\"23\""), std::string::npos);
    EXPECT_NE(none.find("fill=\"#800026\" x=\"72\" y=\"34\""), std::string::npos);
    EXPECT_NE(none.find(">6</text>"), std::string::npos);
}

// Where the night band of a grid of one day ends and begins again, in minutes of the day: its
// path is a band from the top and one to the bottom, 11 units an hour from y = 12.
std::pair<double, double> NightOfOneDay(const std::string& svg) {
    const size_t at = svg.find("class=\"night\" d=\"");
    double end = -1, start = -1;
    int matched = 0;  // characters matched: the whole path, to the end of the day at y = 276
    if (at == std::string::npos ||
        std::sscanf(svg.c_str() + at,
                    "class=\"night\" d=\"M72 12h56V%lfh-56zM72 %lfh56V276h-56z\"%n", &end, &start,
                    &matched) != 2 ||
        matched == 0) {
        ADD_FAILURE() << "no night of one day in " << svg.substr(at, 120);
    }
    return {(end - 12) / 11 * 60, (start - 12) / 11 * 60};
}

TEST(ReportGridTest, NightIsShadedFromSunsetToSunriseOfThePlaceAndDate) {
    // Greenwich on the day of the summer solstice, hours in UTC: night until 03:43 and from
    // 20:21; the grid is 11 units an hour from y = 12.
    auto all = [](int) { return std::optional<int32_t>(1); };
    ReportOptions options;
    options.Latitude = 51.4769;
    options.Longitude = -0.0005;
    std::string svg = GridFigure(Location("Greenwich", Day(2024, 6, 21), 24, all), options);
    auto [end, start] = NightOfOneDay(svg);
    EXPECT_NEAR(end, 3 * 60 + 43, 3);
    EXPECT_NEAR(start, 20 * 60 + 21, 3);
    EXPECT_NE(svg.find("night (sun down)"), std::string::npos);

    // In the clock of BST (+01:00) the same night ends at 04:43 and begins at 21:21.
    options.UtcOffsetMinutes = 60;
    svg = GridFigure(Location("Greenwich", Day(2024, 6, 21) - kHourUs, 24, all, 60), options);
    std::tie(end, start) = NightOfOneDay(svg);
    EXPECT_NEAR(end, 4 * 60 + 43, 3);
    EXPECT_NEAR(start, 21 * 60 + 21, 3);

    // Tromso in December: night all day, every day; in June none.
    options = {};
    options.Latitude = 69.65;
    options.Longitude = 18.96;
    svg = GridFigure(Location("Tromso", Day(2024, 12, 20), 48, all), options);
    EXPECT_NE(svg.find("class=\"night\" d=\"M72 12h56V276h-56zM128 12h56V276h-56z\""),
              std::string::npos);
    svg = GridFigure(Location("Tromso", Day(2024, 6, 20), 48, all), options);
    EXPECT_NE(svg.find("class=\"night\" d=\"\""), std::string::npos);
}

TEST(ReportDailyTest, DaysWithoutRecordingAreGreyAndBarsScaleWithTheRichestDay) {
    // Three days: 10 DPM, not recorded, 40 DPM. The scale ends at 40; bars are 150 high there.
    const LocationReport l = Location("SiteA", Day(2024, 6, 11), 72, [](int h) {
        if (h >= 24 && h < 48) return std::optional<int32_t>();
        return std::optional<int32_t>(h == 0 ? 10 : h == 48 ? 40 : 0);
    });
    const std::string svg = DailyFigure(l, ReportOptions{});
    EXPECT_EQ(Count(svg, "class=\"day none\""), 1u);
    EXPECT_EQ(Count(svg, "class=\"day dpm\""), 2u);
    EXPECT_NE(svg.find("y=\"124.5\" width=\"44.8\" height=\"37.5\"><title>2024-06-11: 10 NBHF "
                       "DPM in 4.0 h recorded"),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find("height=\"150\"><title>2024-06-13: 40 NBHF DPM"), std::string::npos);
    EXPECT_NE(svg.find(">NBHF DPM per day</text>"), std::string::npos);
    // Four hours a day fill a scale of 4 hours; five hours a day of 10 minutes one of 50
    // minutes, full at its top.
    EXPECT_NE(svg.find(">Recorded (h)</text>"), std::string::npos);
    EXPECT_NE(svg.find(">4</text>"), std::string::npos);
    const std::string duty = DailyFigure(
        Location("SiteA", Day(2024, 6, 11), 5, [](int) { return std::optional<int32_t>(0); }),
        ReportOptions{});
    EXPECT_NE(duty.find(">Recorded (min)</text>"), std::string::npos);
    EXPECT_NE(duty.find(">50</text>"), std::string::npos);
    EXPECT_NE(duty.find("class=\"day effort\" x=\"77.6\" y=\"178\" width=\"44.8\" "
                        "height=\"60\"><title>2024-06-11: 0 NBHF DPM in 50 min recorded"),
              std::string::npos)
        << duty;
}

TEST(ReportPageTest, SummarisesEffortAndPresencePerLocation) {
    // Two days of 24 recorded hours (10 minutes each): the first with 8 positive minutes, the
    // second with none; then a day without recording.
    std::vector<LocationReport> locations;
    locations.push_back(Location("SiteA", Day(2024, 6, 11), 72, [](int h) {
        if (h >= 48) return std::optional<int32_t>();
        return std::optional<int32_t>(h < 4 ? 2 : 0);
    }));
    locations.back().EncounterCount = 2;
    // A location of which nothing was recorded: no dates and no figures of hours and days.
    locations.emplace_back().Location = "SiteB";
    const std::string html = ReportHtml(locations, ReportOptions{});
    EXPECT_NE(html.find("<td><a href=\"#location-2\">SiteB</a></td><td></td><td></td><td>0</td>"
                        "<td>0.0</td><td>0</td><td>0</td>"),
              std::string::npos);
    EXPECT_NE(html.find("<h2>SiteB</h2>\n<dl>\n<dt>Recorded</dt><dd>nothing</dd>"),
              std::string::npos);
    EXPECT_EQ(Count(html, "<p class=\"note\">Nothing recorded.</p>"), 1u);
    EXPECT_EQ(Count(html, "<svg class=\"grid"), 1u);
    EXPECT_NE(html.find("<td>2024-06-11</td><td>2024-06-13</td><td>2</td><td>8.0</td><td>8 "
                        "(1.7 %)</td><td>1 (50.0 %)</td><td>0</td><td>2</td>"),
              std::string::npos)
        << html.substr(html.find("<tbody>"), 400);
    EXPECT_NE(html.find("<dd>2 days from 2024-06-11 to 2024-06-13, 8.0 hours (480 minutes with "
                        "recording)</dd>"),
              std::string::npos);
}

TEST(ReportPageTest, FetchesNothingAndNamesAreText) {
    // Nothing in the page reaches outside it: a policy that forbids every fetch, no script, no
    // element that loads, no link but to the page's own sections; and names from files are
    // shown as text, never as markup.
    std::vector<LocationReport> locations;
    locations.push_back(Location("<script>alert(1)</script> & \"x\"", Day(2024, 6, 11), 30,
                                 [](int h) { return std::optional<int32_t>(h % 3); }));
    locations.back().Files = {"/data/<img src=x onerror=alert(1)>.TK1"};
    locations.back().Warnings = {"times are minute-exact only"};
    EncounterPlot e;
    e.Number = 1;
    e.StartUs = Day(2024, 6, 11) + kHourUs;
    e.EndUs = e.StartUs + 2 * kMicrosecondsPerSecond;
    for (int i = 0; i < 40; ++i) {
        e.Clicks.push_back({e.StartUs + i * 50'000, i == 0 ? 0.0f : 50.0f, 130, 60,
                            static_cast<int8_t>(TrainClass::Nbhf)});
    }
    locations.back().Encounters.push_back(e);
    ReportOptions options;
    options.Latitude = 54.5;
    options.Longitude = 10.25;
    const std::string html = ReportHtml(locations, options);

    EXPECT_NE(html.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                        "'none'; style-src 'unsafe-inline'\">"),
              std::string::npos);
    for (const char* outside : {"url(", "@import", "http:", "https:", "xlink"}) {
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    }
    // Every tag: no element that loads, no src, no link but to a section.
    for (size_t open = html.find('<'); open != std::string::npos; open = html.find('<', open + 1)) {
        const std::string t = html.substr(open, html.find('>', open) + 1 - open);
        const std::string name = t.substr(1, t.find_first_of(" >/\n", 1) - 1);
        for (const char* loads : {"script", "img", "link", "iframe", "object", "embed", "image",
                                  "use", "audio", "video", "source", "base", "form"}) {
            EXPECT_NE(name, loads) << t;
        }
        EXPECT_EQ(t.find(" src="), std::string::npos) << t;
        const size_t href = t.find(" href=\"");
        if (href != std::string::npos) {
            EXPECT_EQ(t.compare(href + 7, 10, "#location-"), 0) << t;
        }
    }
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot;"),
              std::string::npos);
    EXPECT_NE(html.find("night (sun down)"), std::string::npos);
    EXPECT_NE(html.find("54.5\u00b0N 10.25\u00b0E"), std::string::npos);
}

TEST(ReportPageTest, EncountersPlotTheirClicksByClassWithAxesAndLegend) {
    EncounterPlot e;
    e.Number = 7;
    e.StartUs = Day(2024, 6, 11) + 14 * kHourUs;
    e.EndUs = e.StartUs + 10 * kMicrosecondsPerSecond;
    e.Stride = 2;
    e.Clicks = {{e.StartUs, 0, 130, 40, static_cast<int8_t>(TrainClass::Nbhf)},
                {e.StartUs + 50'000, 50, 131, 80, static_cast<int8_t>(TrainClass::Nbhf)},
                {e.StartUs + 70'000, 0, 60, 100, -1},
                {e.EndUs, 200, 130, 255, static_cast<int8_t>(TrainClass::Sonar)}};
    ReportOptions options;
    options.UtcOffsetMinutes = 60;
    const std::string svg = EncounterFigure(e, options);
    // NBHF: two frequencies and amplitudes, one interval; the click in no train has no
    // interval; the sonar ping all three.
    EXPECT_EQ(Count(svg, "stroke=\"#d55e00\""), 3u);
    EXPECT_EQ(Count(svg, "stroke=\"#a0a0a0\""), 2u);
    EXPECT_EQ(Count(svg, "stroke=\"#009e73\""), 3u);
    for (const char* text : {">Interval (ms)<", ">Frequency (kHz)<", ">Amplitude (Pmax)<",
                             ">Time of day (UTC+01:00) on 2024-06-11<", ">nbhf<", ">sonar<",
                             ">in no train<", ">15:00:00<", ">15:00:10<"}) {
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(svg.find(">dolphin<"), std::string::npos);
    // The three panels' titles stand in one line, clear of the widest labels ("1,000").
    std::set<std::string> titleX;
    for (size_t at = svg.find("translate("); at != std::string::npos;
         at = svg.find("translate(", at + 1)) {
        titleX.insert(svg.substr(at + 10, svg.find(' ', at) - at - 10));
    }
    EXPECT_EQ(titleX, (std::set<std::string>{"21"}));
    std::vector<LocationReport> locations(1);
    locations[0].Location = "SiteA";
    locations[0].Encounters.push_back(e);
    EXPECT_NE(ReportHtml(locations, options).find("every 2nd click shown"), std::string::npos);
}

TEST(ReportHistogramTest, BinsEvenlyOnTheirScaleAndKeepOutliersAtTheEnds) {
    Histogram log(1, 1000, 3, true);  // 1-10, 10-100, 100-1000
    for (const double v : {0.5, 1.0, 9.9, 10.0, 99.0, 150.0, 999.0, 5000.0}) log.Add(v);
    EXPECT_EQ(log.Counts, (std::vector<int64_t>{3, 2, 3}));
    Histogram linear(100, 160, 6, false);  // 10 kHz bins
    for (const double v : {20.0, 100.0, 109.9, 130.0, 159.9, 160.0, 400.0}) linear.Add(v);
    EXPECT_EQ(linear.Counts, (std::vector<int64_t>{3, 0, 0, 1, 0, 3}));
    EXPECT_EQ(linear.Total(), 7);
    const std::string svg = HistogramFigure(log, "Interval between clicks (ms)", "Clicks");
    EXPECT_EQ(Count(svg, "class=\"bar\""), 3u);
    for (const char* tick : {">1<", ">10<", ">100<", ">1,000<", ">Interval between clicks (ms)<"}) {
        EXPECT_NE(svg.find(tick), std::string::npos) << tick;
    }
    // A year's clicks: counts from ten thousand on are written short, so that the axis title
    // stays clear of its labels.
    linear.Counts = {250000, 0, 0, 1500000, 0, 9000};
    const std::string many = HistogramFigure(linear, "Frequency (kHz)", "Clicks");
    for (const char* tick : {">0<", ">500k<", ">1M<", ">1.5M<"}) {
        EXPECT_NE(many.find(tick), std::string::npos) << tick;
    }
    EXPECT_EQ(many.find(">1,000,000<"), std::string::npos);
}

TEST(ReportFileTest, AnEarlierReportIsReplacedOnlyWithOverwrite) {
    wtk::test::TempDir dir;
    const std::string path = dir / "report.html";
    EXPECT_EQ(WriteReportFile(path, "first", false), std::nullopt);
    EXPECT_EQ(wtk::test::ReadFileText(path), "first");
    EXPECT_NE(WriteReportFile(path, "second", false), std::nullopt);
    EXPECT_EQ(wtk::test::ReadFileText(path), "first");
    EXPECT_EQ(WriteReportFile(path, "third", true), std::nullopt);
    EXPECT_EQ(wtk::test::ReadFileText(path), "third");
    // Nothing but the report is left in the folder.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

// A location's TK1 file of clicks with their exact times, and its recordings table: recordings
// from and to (UTC microseconds) on whole minutes.
void WriteLocation(const std::string& tk1Path,
                   const std::vector<std::pair<int64_t, int64_t>>& recordings,
                   const std::vector<TimedClick>& clicks) {
    const int64_t first = recordings.front().first / kMicrosecondsPerMinute;
    synth::TK1Sketch sketch(tk1Path, static_cast<int32_t>(first));
    for (const TimedClick& c : clicks) {
        tk1::Click fields = c.Fields;
        fields.ClkTime5MuSecs =
            static_cast<int32_t>(c.TimeUs % kMicrosecondsPerMinute / tk1::kMicrosecondsPerTimeUnit);
        sketch.Click(c.TimeUs / kMicrosecondsPerMinute, fields);
    }
    sketch.Finish(recordings.back().second / kMicrosecondsPerMinute - 1);
    std::vector<tk1::RecordingRow> rows;
    for (const auto& [from, to] : recordings) {
        tk1::RecordingRow row;
        row.Path = tk1Path + "." + std::to_string(rows.size()) + ".wav";
        row.StartUs = row.PlacedUs = from;
        row.Zoned = true;
        row.TimeSource = "name";
        row.RateHz = 576000;
        row.Samples = (to - from) / 1000 * 576;
        rows.push_back(row);
    }
    synth::WriteSketchSideFiles(tk1Path, rows);
}

// A time as a TK1 file keeps it: in whole 5 us units.
int64_t Stored(int64_t us) {
    return us - us % tk1::kMicrosecondsPerTimeUnit;
}

// Porpoise trains of 40 clicks at an interval of iciMs, one every spacingS seconds from fromUs.
std::vector<TimedClick> Trains(int64_t fromUs, int count, double spacingS, double iciMs) {
    std::vector<std::vector<TimedClick>> parts;
    for (int i = 0; i < count; ++i) {
        test::TrainSpec spec;
        spec.StartUs = fromUs + std::llround(i * spacingS * 1e6);
        spec.IciMs = iciMs;
        spec.Seed = static_cast<uint64_t>(i + 1);
        parts.push_back(test::TrainClicks(spec));
    }
    return test::Merged(std::move(parts));
}

TEST(ReportGatherTest, EffortTrainsIntervalsAndEncountersOfTK1Files) {
    // Half an hour recorded from 00:00 with five trains at 60 ms from 00:01:00, 20 s apart, and
    // ten minutes from 02:00 with one train at 100 ms: two encounters.
    wtk::test::TempDir dir;
    const int64_t day = test::kDay;
    std::vector<TimedClick> clicks = Trains(day + 60'000'000, 5, 20, 60);
    for (const TimedClick& c : Trains(day + 2 * kHourUs + 60'000'000, 1, 0, 100)) {
        clicks.push_back(c);
    }
    WriteLocation(dir / "SiteA 2024 06 01.TK1",
                  {{day, day + 30 * kMicrosecondsPerMinute},
                   {day + 2 * kHourUs, day + 2 * kHourUs + 10 * kMicrosecondsPerMinute}},
                  clicks);
    const std::vector<LocationReport> report = GatherReport({dir.path().string()}, {});
    ASSERT_EQ(report.size(), 1u);
    const LocationReport& l = report[0];
    EXPECT_EQ(l.Location, "SiteA");
    EXPECT_TRUE(l.Warnings.empty());

    // The hours: recorded for 30 and 10 minutes, with 2 and 1 DPM; the hour between without.
    ASSERT_EQ(l.Hours.size(), 3u);
    EXPECT_EQ(l.Hours[0].RecordedMinutes, 30);
    EXPECT_EQ(l.Hours[0].NbhfDpm, 2);
    EXPECT_EQ(l.Hours[1].NbhfDpm, std::nullopt);
    EXPECT_EQ(l.Hours[2].RecordedMinutes, 10);
    EXPECT_EQ(l.Hours[2].NbhfDpm, 1);
    ASSERT_EQ(l.Days.size(), 1u);
    EXPECT_EQ(l.Days[0].NbhfDpm, 3);

    // The intervals between clicks of a train, and their frequency (an IPI of 30 x 250 ns).
    // (Clicks within a bin of the interval's own, as the intervals vary by 1 %.)
    auto around = [&](double ms) {
        Histogram one(1, 1000, 60, true);
        one.Add(ms);
        int64_t n = 0;
        for (size_t i = IndexOf(one) - 1; i <= IndexOf(one) + 1; ++i) n += l.NbhfIciMs.Counts[i];
        return n;
    };
    EXPECT_EQ(l.NbhfIciMs.Total(), 6 * 39);
    EXPECT_EQ(around(60), 5 * 39);
    EXPECT_EQ(around(100), 39);
    Histogram khz(20, 200, 90, false);
    khz.Add(4000.0 / 30);
    EXPECT_EQ(l.NbhfKhz.Counts[IndexOf(khz)], 6 * 40);

    // The richer encounter first, with every click, each train's first without an interval.
    EXPECT_EQ(l.EncounterCount, 2);
    ASSERT_EQ(l.Encounters.size(), 2u);
    const EncounterPlot& e = l.Encounters[0];
    EXPECT_EQ(e.Number, 1);
    EXPECT_EQ(e.Trains, 5);
    EXPECT_EQ(e.NbhfClicks, 200);
    EXPECT_EQ(e.StartUs, Stored(clicks.front().TimeUs));
    EXPECT_EQ(e.EndUs, Stored(clicks[199].TimeUs));
    ASSERT_EQ(e.Clicks.size(), 200u);
    int firsts = 0;
    for (const PlotClick& c : e.Clicks) {
        EXPECT_EQ(c.Class, static_cast<int8_t>(TrainClass::Nbhf));
        EXPECT_NEAR(c.Khz, 133.3, 0.1);
        if (c.IciMs == 0) {
            ++firsts;
        } else {
            EXPECT_NEAR(c.IciMs, 60, 1.5);
        }
    }
    EXPECT_EQ(firsts, 5);
    EXPECT_EQ(l.Encounters[1].Number, 2);
    EXPECT_EQ(l.Encounters[1].Clicks.size(), 40u);
}

TEST(ReportGatherTest, ABusyEncounterIsThinnedToEveryOtherClick) {
    // 300 trains of 40 clicks, one every 6 s: one encounter of 12000 clicks. The plot keeps
    // 8000, then every other one: the clicks of even number, 6000. The intervals stay those
    // of each train however many trains have come and gone.
    wtk::test::TempDir dir;
    const int64_t day = test::kDay;
    const std::vector<TimedClick> clicks = Trains(day + 1'000'000, 300, 6, 50);
    WriteLocation(dir / "SiteB 2024 06 01.TK1", {{day, day + 40 * kMicrosecondsPerMinute}}, clicks);
    const std::vector<LocationReport> report = GatherReport({dir.path().string()}, {});
    ASSERT_EQ(report.size(), 1u);
    ASSERT_EQ(report[0].Encounters.size(), 1u);
    const EncounterPlot& e = report[0].Encounters[0];
    EXPECT_EQ(e.NbhfClicks, 12000);
    EXPECT_EQ(e.Stride, 2);
    ASSERT_EQ(e.Clicks.size(), 6000u);
    for (size_t k = 0; k < e.Clicks.size(); k += 499) {
        EXPECT_EQ(e.Clicks[k].TimeUs, Stored(clicks[2 * k].TimeUs)) << k;
    }
    // Every train's first click is kept (trains begin at even numbers) and has no interval.
    EXPECT_EQ(std::count_if(e.Clicks.begin(), e.Clicks.end(),
                            [](const PlotClick& c) { return c.IciMs == 0; }),
              300);
    EXPECT_EQ(report[0].NbhfIciMs.Total(), 300 * 39);
}

}  // namespace
}  // namespace wtk::presence
