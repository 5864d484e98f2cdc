// What the window's results view shows of TK1 files, without any widget: the clicks of each
// location with their exact times and the trains they are in, the hour-of-day x date grid of
// NBHF detection-positive minutes with the recording effort behind each cell, the clicks per
// minute, and the questions the view asks while it draws: which clicks a time span holds, which
// of them to draw at a given size (one per pixel, every train's first and last click always),
// which click lies under the mouse, and which train or encounter comes next.
//
// Times are microseconds since 1899-12-30 00:00, as the click-train library gives them: UTC
// where the recordings' zones were known, else the clock the recordings were named by.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/tk1_codec.h"
#include "presence/location_clicks.h"
#include "presence/presence.h"
#include "presence/trains.h"

namespace wtk::ui {

// A half-open stretch of time [FromUs, ToUs).
struct TimeSpan {
    int64_t FromUs = 0;
    int64_t ToUs = 0;
    int64_t Length() const { return ToUs - FromUs; }
    bool operator==(const TimeSpan&) const = default;
};

// How a click is drawn: the class of its train, or in none.
enum class PointKind : uint8_t { Nbhf, Dolphin, Sonar, Unclassed, NoTrain };
inline constexpr int kPointKinds = 5;
using KindsShown = std::array<bool, kPointKinds>;
inline constexpr KindsShown kAllKinds = {true, true, true, true, true};
PointKind KindOf(presence::TrainClass c);

struct ResultsClick {
    int64_t TimeUs = 0;
    // From the click before it in its train (in no train: the click before it in its
    // recording); NaN for the first.
    float IciMs = 0;
    float Khz = 0;       // of its loudest cycle; 0 when not known
    int32_t Train = -1;  // index in ResultsLocation::Trains; -1: in none
    int32_t Recording = presence::kNoRecording;
    PointKind Kind = PointKind::NoTrain;
    tk1::Click Fields;
};

struct TrainClicks {
    size_t First = 0;  // indices in ResultsLocation::Clicks
    size_t Last = 0;
};

struct Encounter {
    int64_t Number = 0;
    size_t FirstTrain = 0;  // indices in ResultsLocation::Trains
    size_t LastTrain = 0;
    int64_t StartUs = 0;
    int64_t EndUs = 0;
};

// One TK1 file of a location and the minutes its records cover.
struct ResultsFile {
    std::string Path;
    int64_t FirstMinute = 0;
    int64_t Minutes = 0;
};

// One hour of the grid: minutes with recording, and NBHF detection-positive minutes.
struct HourCell {
    int32_t RecordedMinutes = 0;
    int32_t NbhfDpm = 0;
};

class ResultsLocation {
public:
    std::string Name;
    std::vector<ResultsFile> Files;
    std::vector<presence::RecordingSpan> Recordings;
    std::vector<ResultsClick> Clicks;     // in time order
    std::vector<presence::Train> Trains;  // in order of their start, numbered from 1
    std::vector<TrainClicks> TrainEnds;   // of each train
    std::vector<Encounter> Encounters;    // in order of their start
    std::vector<std::string> Warnings;
    bool AllZoned = false;  // every recording's start is UTC

    // The grid: days from FirstDay (day numbers since 1899-12-30), 24 hours each.
    int64_t FirstDay = 0;
    int32_t Days = 0;
    std::vector<HourCell> Hours;  // Days x 24, day by day
    const HourCell& Cell(int32_t day, int32_t hour) const { return Hours[day * 24 + hour]; }

    // Clicks per minute from FirstMinute, and how many of them are in NBHF trains.
    int64_t FirstMinute = 0;
    std::vector<int32_t> ClicksPerMinute;
    std::vector<int32_t> NbhfClicksPerMinute;

    // From the first day of the grid to the end of its last.
    TimeSpan Whole() const;
    // The clicks in span: [first, last) indices.
    std::pair<size_t, size_t> ClicksIn(TimeSpan span) const;
    // The path of a click's recording ("" when not known) and its second in it.
    std::string RecordingPath(const ResultsClick& c) const;
    std::optional<double> RecordingSecond(const ResultsClick& c) const;
    // The train's row of the trains table (without line end).
    std::string TrainRowText(size_t train) const;
};

// The clicks of one location with their trains, from a reader whose files were checked
// (expectedClicks: room to make for them at once). Throws presence::InputError when a file
// cannot be read any more.
std::unique_ptr<ResultsLocation> LoadLocation(presence::LocationReader& reader,
                                              const presence::TrainOptions& options,
                                              presence::TrainQuality minQuality,
                                              size_t expectedClicks = 0);

// The longest a location may last, days (ten years).
inline constexpr int64_t kMostDays = 3660;

// TK1 files and folders opened for the view: every location whose files could be read, and a
// line "PATH: why" for each path or file refused (damaged, not a TK1 file, unreadable side
// files), or for a location lasting more than kMostDays; the other files of a location open
// without the refused one.
struct OpenedResults {
    std::vector<std::unique_ptr<ResultsLocation>> Locations;
    std::vector<std::string> Refused;
};
OpenedResults OpenResults(const std::vector<std::string>& paths,
                          const presence::TrainOptions& options = {},
                          presence::TrainQuality minQuality = presence::TrainQuality::Moderate);

// ---- drawing ----

// A value axis of a panel: Rows pixel rows, the top row at Max; log: logarithmic.
struct ValueAxis {
    double Min = 0;
    double Max = 1;
    bool Log = false;
    // The row of a value, 0 at the top; nothing outside the axis or for NaN.
    std::optional<int> Row(double value, int rows) const;
    // The value at a pixel row (fractional rows allowed).
    double ValueAt(double row, int rows) const;
};

// The rows of an axis, worked out once for the many values of a picture.
class AxisRows {
public:
    AxisRows(const ValueAxis& axis, int rows);
    // How far below the axis's top a value lies, in rows (fractional); negative for a value
    // outside the axis or NaN.
    double Below(double value) const;
    // The pixel row, -1 for none.
    int Row(double value) const;

private:
    ValueAxis a_;
    int rows_;
    bool valid_ = false;
    double top_ = 0, scale_ = 0;
};

enum class Panel : uint8_t { Ici, Khz, Amplitude };
inline constexpr int kPanels = 3;
double PanelValue(const ResultsClick& c, Panel p);

// What a click display shows: a span over Width pixel columns, three panels of Rows pixel
// rows each, and the kinds of clicks shown.
struct PlotFrame {
    TimeSpan Span;
    int Width = 1;
    int Rows = 1;
    std::array<ValueAxis, kPanels> Axes{};
    KindsShown Shown = kAllKinds;

    // The pixel column of a time (may lie outside 0..Width-1), and the time at a column.
    double X(int64_t timeUs) const;
    int64_t TimeAt(double x) const;
};

// The axes a location's clicks need: intervals 0.5 ms to 5 s (log), kHz from 0 to above the
// highest click, Pmax 0 to 255.
std::array<ValueAxis, kPanels> AxesFor(const ResultsLocation& location);

// The clicks to draw in frame, in index order: in each panel one click for every pixel that
// clicks of a kind fall on, and the first and last click of every train in the span whatever
// else falls on their pixels.
std::vector<uint32_t> VisibleClicks(const ResultsLocation& location, const PlotFrame& frame);

// The shown click nearest to (x, y) in panel (pixels), within radius pixels; of two as near,
// the one drawn on top (NBHF over dolphin over sonar over unclassed over no train).
std::optional<size_t> ClickUnder(const ResultsLocation& location, const PlotFrame& frame,
                                 Panel panel, double x, double y, double radius);

// ---- moving about ----

// The shortest and the longest span a display shows.
inline constexpr int64_t kShortestSpanUs = 2'000;
// span scaled by factor (< 1: in) about anchorUs, kept within limits and at least
// kShortestSpanUs long.
TimeSpan Zoomed(TimeSpan span, double factor, int64_t anchorUs, TimeSpan limits);
// span moved by byUs, kept within limits.
TimeSpan Panned(TimeSpan span, int64_t byUs, TimeSpan limits);
// A train with a margin of a fifth of its length on either side (at least 2 ms).
TimeSpan AroundTrain(const presence::Train& train);
TimeSpan AroundEncounter(const Encounter& encounter);

// The next (direction +1) or previous (-1) train of a shown kind, in order of the trains'
// starts: from the current one, or without one, the first starting at or after atUs (the
// last starting before it).
std::optional<size_t> StepTrain(const ResultsLocation& location, const KindsShown& shown,
                                std::optional<size_t> current, int64_t atUs, int direction);
// Likewise for encounters: from the encounter current (index in Encounters) or from atUs.
std::optional<size_t> StepEncounter(const ResultsLocation& location, std::optional<size_t> current,
                                    int64_t atUs, int direction);

}  // namespace wtk::ui
