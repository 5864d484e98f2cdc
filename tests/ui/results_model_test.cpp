// The results view's model without widgets: the locations opened from TK1 files (exact times,
// trains, the hour grid, refusals), the clicks a span holds, which clicks are drawn at a size,
// the click under the mouse, and the order in which trains and encounters are visited.
#include "ui/results_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "base/calendar.h"
#include "results_fixture.h"
#include "temp_dir.h"

namespace wtk::ui {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kMinute = kMicrosecondsPerMinute;
constexpr int64_t kHour = 60 * kMinute;
// 2024-06-11 00:00 UTC.
const int64_t kDay0 = DayNumberFromCivil(2024, 6, 11) * 24 * kHour;

// ---- locations made by hand ----

struct HandClick {
    int64_t TimeUs;
    int Train;  // -1: none
    float IciMs = 50;
    float Khz = 130;
    uint8_t Pmax = 100;
};

// A location of the clicks given (in time order) and of trains of the kinds given, each train
// from its first to its last click.
ResultsLocation Made(const std::vector<HandClick>& clicks, const std::vector<PointKind>& kinds,
                     const std::vector<int64_t>& encounters = {}) {
    ResultsLocation l;
    l.FirstDay = kDay0 / (24 * kHour);
    l.Days = 1;
    l.Trains.resize(kinds.size());
    l.TrainEnds.resize(kinds.size());
    std::vector<bool> seen(kinds.size(), false);
    for (size_t i = 0; i < clicks.size(); ++i) {
        const HandClick& h = clicks[i];
        ResultsClick c;
        c.TimeUs = h.TimeUs;
        c.IciMs = h.IciMs;
        c.Khz = h.Khz;
        c.Fields.Pmax = h.Pmax;
        c.Train = h.Train;
        if (h.Train >= 0) {
            const auto t = static_cast<size_t>(h.Train);
            c.Kind = kinds[t];
            if (!seen[t]) l.TrainEnds[t].First = i, l.Trains[t].StartUs = h.TimeUs;
            seen[t] = true;
            l.TrainEnds[t].Last = i;
            l.Trains[t].EndUs = h.TimeUs;
        }
        l.Clicks.push_back(c);
    }
    const presence::TrainClass classes[] = {
        presence::TrainClass::Nbhf, presence::TrainClass::Dolphin, presence::TrainClass::Sonar,
        presence::TrainClass::Unclassed};
    for (size_t t = 0; t < kinds.size(); ++t) {
        l.Trains[t].Number = static_cast<int64_t>(t) + 1;
        l.Trains[t].Class = classes[static_cast<int>(kinds[t]) % 4];
        if (t < encounters.size()) l.Trains[t].Encounter = encounters[t];
    }
    for (size_t t = 0; t < kinds.size(); ++t) {
        const int64_t e = l.Trains[t].Encounter;
        if (e == 0) continue;
        if (l.Encounters.empty() || l.Encounters.back().Number != e) {
            l.Encounters.push_back({e, t, t, l.Trains[t].StartUs, l.Trains[t].EndUs});
        }
        l.Encounters.back().LastTrain = t;
        l.Encounters.back().EndUs = l.Trains[t].EndUs;
    }
    return l;
}

// 100 columns of a millisecond each from kDay0, 100 rows per panel.
PlotFrame Frame100() {
    PlotFrame f;
    f.Span = {kDay0, kDay0 + 100'000};
    f.Width = 100;
    f.Rows = 100;
    f.Axes = {ValueAxis{0.5, 5000, true}, ValueAxis{0, 200, false}, ValueAxis{0, 255, false}};
    return f;
}

TEST(ResultsModelTest, ASpanHoldsTheClicksFromItsStartUpToItsEnd) {
    const ResultsLocation l =
        Made({{kDay0 + 10, -1}, {kDay0 + 20, -1}, {kDay0 + 20, -1}, {kDay0 + 30, -1}}, {});
    using Range = std::pair<size_t, size_t>;
    EXPECT_EQ(l.ClicksIn({kDay0 + 20, kDay0 + 30}),
              (Range{1, 3}));  // both at 20, not the one at 30
    EXPECT_EQ(l.ClicksIn({kDay0 + 11, kDay0 + 20}), (Range{1, 1}));
    EXPECT_EQ(l.ClicksIn({kDay0, kDay0 + 31}), (Range{0, 4}));
    EXPECT_EQ(l.ClicksIn({kDay0 + 31, kDay0 + 99}), (Range{4, 4}));
    EXPECT_EQ(l.Whole(), (TimeSpan{kDay0, kDay0 + 24 * kHour}));
}

TEST(ResultsModelTest, DrawingKeepsOneClickPerPixelOfEachKindAndEveryTrainsEnds) {
    // A train of 1000 clicks and 1000 clicks in no train, all on the same pixels, and a sonar
    // ping there too.
    std::vector<HandClick> clicks;
    for (int i = 0; i < 1000; ++i) {
        clicks.push_back({kDay0 + 5'000 + i, 0});
        clicks.push_back({kDay0 + 5'000 + i, -1});
    }
    clicks.push_back({kDay0 + 5'999, 1});
    // A second train whose first click lies before the span and whose last click lies in it.
    clicks.insert(clicks.begin(), {kDay0 - 50'000, 2});
    clicks.push_back({kDay0 + 7'000, 2});
    std::sort(clicks.begin(), clicks.end(),
              [](const HandClick& a, const HandClick& b) { return a.TimeUs < b.TimeUs; });
    const ResultsLocation l = Made(clicks, {PointKind::Nbhf, PointKind::Sonar, PointKind::Nbhf});
    const PlotFrame frame = Frame100();
    const std::vector<uint32_t> drawn = VisibleClicks(l, frame);
    auto has = [&](size_t i) { return std::binary_search(drawn.begin(), drawn.end(), i); };
    EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end()));
    EXPECT_TRUE(has(l.TrainEnds[0].First));
    EXPECT_TRUE(has(l.TrainEnds[0].Last));
    EXPECT_TRUE(has(l.TrainEnds[1].First));
    EXPECT_TRUE(has(l.TrainEnds[2].Last));
    EXPECT_FALSE(has(l.TrainEnds[2].First));  // before the span
    // The train's first click, one click in no train, the train's last click, the ping and the
    // other train's last click: nothing else adds a pixel.
    EXPECT_EQ(drawn.size(), 5u);
    size_t noTrain = 0;
    for (const uint32_t i : drawn) noTrain += l.Clicks[i].Kind == PointKind::NoTrain;
    EXPECT_EQ(noTrain, 1u);

    // Clicks of a kind not shown are not drawn, nor are their trains' ends.
    PlotFrame nbhfHidden = frame;
    nbhfHidden.Shown[static_cast<size_t>(PointKind::Nbhf)] = false;
    for (const uint32_t i : VisibleClicks(l, nbhfHidden)) {
        EXPECT_NE(l.Clicks[i].Kind, PointKind::Nbhf);
    }

    // A click that differs in one panel only takes its own pixel.
    std::vector<HandClick> two = {{kDay0 + 5'000, -1, 50, 130, 100},
                                  {kDay0 + 5'001, -1, 50, 130, 180}};
    EXPECT_EQ(VisibleClicks(Made(two, {}), frame).size(), 2u);
    two[1].Pmax = 100;
    EXPECT_EQ(VisibleClicks(Made(two, {}), frame).size(), 1u);
}

TEST(ResultsModelTest, TheClickUnderTheMouseIsTheNearestShownOneWithinTheRadius) {
    // Columns 10, 12 and 30 (a millisecond each); kHz 100 is row 50 of 100.
    const ResultsLocation l = Made({{kDay0 + 10'000, -1, 50, 100},
                                    {kDay0 + 12'000, 0, 50, 100},
                                    {kDay0 + 12'000, -1, 50, 100},
                                    {kDay0 + 30'000, 1, 50, 160}},
                                   {PointKind::Nbhf, PointKind::Dolphin});
    const PlotFrame frame = Frame100();
    // Nearest first; at equal distance the one drawn on top (the NBHF click over the one in no
    // train at the same place).
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 10.5, 50, 4), std::optional<size_t>(0));
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 12.2, 50, 4), std::optional<size_t>(1));
    // Within the radius however it lies, and not beyond it.
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 10, 53.5, 4), std::optional<size_t>(0));
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 10, 54.5, 4), std::nullopt);
    // Beyond the radius, or in a panel where the click lies elsewhere: nothing.
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 20, 50, 4), std::nullopt);
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 30, 50, 4), std::nullopt);  // at row 20
    EXPECT_EQ(ClickUnder(l, frame, Panel::Khz, 30, 20, 4), std::optional<size_t>(3));
    // Hidden kinds are not found.
    PlotFrame hidden = frame;
    hidden.Shown[static_cast<size_t>(PointKind::Nbhf)] = false;
    EXPECT_EQ(ClickUnder(l, hidden, Panel::Khz, 12.2, 50, 4), std::optional<size_t>(2));
}

TEST(ResultsModelTest, TrainsAndEncountersAreVisitedInOrderOfTheirStarts) {
    // Trains starting at 1, 2, 3, 4 and 5 s: NBHF, sonar, NBHF, dolphin, NBHF; encounters 1
    // (trains 0 and 2) and 2 (train 4).
    std::vector<HandClick> clicks;
    const PointKind kinds[] = {PointKind::Nbhf, PointKind::Sonar, PointKind::Nbhf,
                               PointKind::Dolphin, PointKind::Nbhf};
    for (int t = 0; t < 5; ++t) {
        for (int k = 0; k < 3; ++k)
            clicks.push_back({kDay0 + (t + 1) * 1'000'000 + k * 100'000, t});
    }
    const ResultsLocation l = Made(clicks, {std::begin(kinds), std::end(kinds)}, {1, 0, 1, 0, 2});
    using T = std::optional<size_t>;
    // From a train, the next and the previous one.
    EXPECT_EQ(StepTrain(l, kAllKinds, T(1), 0, +1), T(2));
    EXPECT_EQ(StepTrain(l, kAllKinds, T(1), 0, -1), T(0));
    EXPECT_EQ(StepTrain(l, kAllKinds, T(4), 0, +1), std::nullopt);
    EXPECT_EQ(StepTrain(l, kAllKinds, T(0), 0, -1), std::nullopt);
    // Without one, from a time: the first starting there or later, the last starting before.
    EXPECT_EQ(StepTrain(l, kAllKinds, std::nullopt, kDay0 + 2'000'000, +1), T(1));
    EXPECT_EQ(StepTrain(l, kAllKinds, std::nullopt, kDay0 + 2'000'000, -1), T(0));
    EXPECT_EQ(StepTrain(l, kAllKinds, std::nullopt, kDay0 + 2'000'001, +1), T(2));
    // Only the kinds shown: NBHF trains alone go 0, 2, 4.
    KindsShown nbhf{};
    nbhf[static_cast<size_t>(PointKind::Nbhf)] = true;
    EXPECT_EQ(StepTrain(l, nbhf, T(0), 0, +1), T(2));
    EXPECT_EQ(StepTrain(l, nbhf, T(2), 0, +1), T(4));
    EXPECT_EQ(StepTrain(l, nbhf, T(4), 0, -1), T(2));
    EXPECT_EQ(StepTrain(l, nbhf, std::nullopt, kDay0 + 1'500'000, +1), T(2));

    ASSERT_EQ(l.Encounters.size(), 2u);
    EXPECT_EQ(l.Encounters[0].LastTrain, 2u);
    EXPECT_EQ(StepEncounter(l, T(0), 0, +1), T(1));
    EXPECT_EQ(StepEncounter(l, T(1), 0, +1), std::nullopt);
    EXPECT_EQ(StepEncounter(l, T(1), 0, -1), T(0));
    EXPECT_EQ(StepEncounter(l, std::nullopt, kDay0 + 2'000'000, +1), T(1));
    EXPECT_EQ(StepEncounter(l, std::nullopt, kDay0 + 2'000'000, -1), T(0));
    EXPECT_EQ(StepEncounter(l, std::nullopt, kDay0, -1), std::nullopt);
}

TEST(ResultsModelTest, ZoomAndPanStayWithinTheLimitsAndAboveTheShortestSpan) {
    const TimeSpan limits{0, 1'000'000};
    // About the anchor: it keeps its place in the span.
    EXPECT_EQ(Zoomed({0, 1'000'000}, 0.5, 250'000, limits), (TimeSpan{125'000, 625'000}));
    EXPECT_EQ(Zoomed({0, 1'000'000}, 1e-9, 500'000, limits).Length(), kShortestSpanUs);
    EXPECT_EQ(Zoomed({100'000, 200'000}, 100, 150'000, limits), limits);
    // Panning stops at the ends.
    EXPECT_EQ(Panned({100'000, 200'000}, -500'000, limits), (TimeSpan{0, 100'000}));
    EXPECT_EQ(Panned({100'000, 200'000}, 900'000, limits), (TimeSpan{900'000, 1'000'000}));
    EXPECT_EQ(Panned({100'000, 200'000}, 50'000, limits), (TimeSpan{150'000, 250'000}));
    // A train of 10 ms gets 2 ms on either side, one of 1 s a fifth.
    presence::Train t;
    t.StartUs = 1'000'000;
    t.EndUs = 1'010'000;
    EXPECT_EQ(AroundTrain(t), (TimeSpan{998'000, 1'012'001}));
    t.EndUs = 2'000'000;
    EXPECT_EQ(AroundTrain(t), (TimeSpan{800'000, 2'200'001}));
}

// ---- locations opened from TK1 files ----

class ResultsFilesTest : public ::testing::Test {
protected:
    std::string WriteLocation(const std::string& name) {
        return test::WriteTwoTrainLocation(dir.path(), name);
    }

    wtk::test::TempDir dir;
};

TEST_F(ResultsFilesTest, ALocationOpensWithExactTimesTrainsAndItsHourGrid) {
    const std::string tk1 = WriteLocation("SiteA");
    OpenedResults opened = OpenResults({tk1});
    ASSERT_TRUE(opened.Refused.empty()) << opened.Refused.front();
    ASSERT_EQ(opened.Locations.size(), 1u);
    const ResultsLocation& l = *opened.Locations[0];
    EXPECT_EQ(l.Name, "SiteA");
    ASSERT_EQ(l.Clicks.size(), 81u);
    EXPECT_TRUE(std::is_sorted(
        l.Clicks.begin(), l.Clicks.end(),
        [](const ResultsClick& a, const ResultsClick& b) { return a.TimeUs < b.TimeUs; }));
    // Exact: the recording's start plus the click's second, not the minute clock.
    const int64_t first = test::kFirstRecordingUs;
    EXPECT_EQ(l.Clicks[0].TimeUs, first + 61'000'000);
    EXPECT_EQ(l.RecordingPath(l.Clicks[0]), "/rec/SiteA.20240611080030.wav");
    EXPECT_DOUBLE_EQ(*l.RecordingSecond(l.Clicks[0]), 61.0);
    EXPECT_NEAR(l.Clicks[1].IciMs, 60.0, 1e-3);
    EXPECT_NEAR(l.Clicks[0].Khz, 4000.0 / 31, 1e-3);
    EXPECT_TRUE(l.AllZoned);

    // Both trains found, NBHF, their ends the first and last of their clicks, one encounter
    // each (two hours apart).
    ASSERT_EQ(l.Trains.size(), 2u);
    for (size_t t = 0; t < 2; ++t) {
        EXPECT_EQ(l.Trains[t].Class, presence::TrainClass::Nbhf);
        EXPECT_EQ(l.Clicks[l.TrainEnds[t].First].TimeUs, l.Trains[t].StartUs);
        EXPECT_EQ(l.Clicks[l.TrainEnds[t].Last].TimeUs, l.Trains[t].EndUs);
        EXPECT_TRUE(std::isnan(l.Clicks[l.TrainEnds[t].First].IciMs));
    }
    EXPECT_EQ(l.Clicks[40].Train, -1);  // the lone click
    EXPECT_EQ(l.Clicks[40].Kind, PointKind::NoTrain);
    EXPECT_EQ(l.Encounters.size(), 2u);
    EXPECT_EQ(l.TrainRowText(0).substr(0, 8), "1,SiteA,");

    // The grid: one day; hours 08 and 10 recorded with NBHF minutes, the others grey.
    ASSERT_EQ(l.Days, 1);
    EXPECT_EQ(l.FirstDay * 24 * kHour, kDay0);
    EXPECT_EQ(l.Cell(0, 8).RecordedMinutes, 6);  // 08:00:30 to 08:05:30
    EXPECT_EQ(l.Cell(0, 8).NbhfDpm, 1);          // 08:01:31 to 08:01:33
    EXPECT_EQ(l.Cell(0, 10).NbhfDpm, 1);
    EXPECT_EQ(l.Cell(0, 9).RecordedMinutes, 0);
    EXPECT_EQ(l.Cell(0, 7).RecordedMinutes, 0);
    // Clicks per minute on the same days.
    EXPECT_EQ(l.ClicksPerMinute.size(), 1440u);
    EXPECT_EQ(l.ClicksPerMinute[8 * 60 + 1], 40);
    EXPECT_EQ(l.NbhfClicksPerMinute[8 * 60 + 1], 40);
    EXPECT_EQ(l.ClicksPerMinute[8 * 60 + 3] - l.NbhfClicksPerMinute[8 * 60 + 3],
              1);  // the lone one
}

TEST_F(ResultsFilesTest, DamagedAndForeignFilesAreRefusedByNameAndTheRestOpen) {
    const std::string good = WriteLocation("SiteA");
    const std::string other = WriteLocation("SiteB");
    // A TK1 file cut short, and a picture named like a TK1 file, both of location SiteB.
    const std::string cut = (fs::path(dir.path()) / "SiteB 2024 06 12.TK1").string();
    fs::copy_file(other, cut);
    fs::resize_file(cut, fs::file_size(cut) - 20);
    const std::string foreign = (fs::path(dir.path()) / "SiteB 2024 06 13.TK1").string();
    std::ofstream(foreign) << "\x89PNG\r\n\x1a\n" << std::string(3000, 'x');
    const std::string missing = (fs::path(dir.path()) / "gone.TK1").string();

    OpenedResults opened = OpenResults({good, other, cut, foreign, missing});
    ASSERT_EQ(opened.Refused.size(), 3u);
    EXPECT_EQ(opened.Refused[0].rfind(missing + ": ", 0), 0u) << opened.Refused[0];
    EXPECT_EQ(opened.Refused[1].rfind(cut + ": ", 0), 0u) << opened.Refused[1];
    EXPECT_NE(opened.Refused[1].find("partial record"), std::string::npos) << opened.Refused[1];
    EXPECT_EQ(opened.Refused[2].rfind(foreign + ": ", 0), 0u) << opened.Refused[2];
    EXPECT_NE(opened.Refused[2].find("not a TK1 file"), std::string::npos) << opened.Refused[2];
    // Both locations open, SiteB with its one sound file.
    ASSERT_EQ(opened.Locations.size(), 2u);
    EXPECT_EQ(opened.Locations[1]->Name, "SiteB");
    EXPECT_EQ(opened.Locations[1]->Files.size(), 1u);
    EXPECT_EQ(opened.Locations[1]->Clicks.size(), 81u);

    // A folder opens every TK1 file below it, with the same refusals.
    opened = OpenResults({dir.path().string()});
    EXPECT_EQ(opened.Locations.size(), 2u);
    EXPECT_EQ(opened.Refused.size(), 2u);

    // A file of the location dated 1950 (a recorder's clock unset) would make it last 74 years.
    const int64_t early = DayNumberFromCivil(1950, 1, 1) * 24 * kHour;
    const std::string old = (fs::path(dir.path()) / "SiteA 1950 01 01.TK1").string();
    synth::WriteClickFile(old, {{"/rec/SiteA.19500101000000.wav", early, 576000}},
                          {{early + 1000, tk1::Click{}}});
    opened = OpenResults({good, old});
    EXPECT_TRUE(opened.Locations.empty());
    ASSERT_EQ(opened.Refused.size(), 1u);
    EXPECT_EQ(opened.Refused[0],
              "SiteA: its recordings and clicks span 27191 days, from 1950-01-01 to 2024-06-11; "
              "the Results page shows at most 3660 days of a location: open fewer of its files");

    // Ten years to the day open; a day more does not.
    for (const int64_t days : {kMostDays - 1, kMostDays}) {
        const int64_t at = kDay0 - days * 24 * kHour;
        const std::string far = (fs::path(dir.path()) / "SiteA 2010 01 01.TK1").string();
        synth::WriteClickFile(far, {{"/rec/SiteA.far.wav", at, 576000}},
                              {{at + 1000, tk1::Click{}}});
        opened = OpenResults({good, far});
        EXPECT_EQ(opened.Refused.size(), days < kMostDays ? 0u : 1u) << days;
        if (days < kMostDays) {
            ASSERT_EQ(opened.Locations.size(), 1u);
            EXPECT_EQ(opened.Locations[0]->Days, kMostDays);
        }
    }
}

}  // namespace
}  // namespace wtk::ui
