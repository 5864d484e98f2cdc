// The presence report: one HTML file that a browser opens offline and prints, with everything
// inline (CSS and SVG figures; no script, no fetch: its Content-Security-Policy forbids any).
// Per location: the effort and the NBHF presence in figures, an hour-of-day x date grid of
// NBHF detection-positive minutes (grey where nothing was recorded, night shaded where the
// place is known), daily bars of DPM over the recorded hours, histograms of the intervals and
// frequencies of NBHF clicks, and a click-train plot of each of the ten richest encounters.
//
// Gathering reads every click of a location twice (trains first, then the clicks with their
// trains) and keeps per click only what the figures draw, so a year of data needs little
// memory. Rendering takes the gathered figures alone and gives the same bytes for the same
// figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "presence/presence.h"
#include "presence/trains.h"

namespace wtk::presence {

struct ReportOptions {
    // Hours and days follow the clock this many minutes east of UTC.
    int32_t UtcOffsetMinutes = 0;
    // Degrees north and east of the recordings, for the night bands; none without them.
    std::optional<double> Latitude;
    std::optional<double> Longitude;
    TrainOptions Trains;
    TrainQuality MinQuality = TrainQuality::Moderate;  // of the NBHF trains that count
};

// Counts of values in equal bins between Low and High (of their logarithms with Log); values
// outside fall in the first or last bin.
struct Histogram {
    double Low = 0;
    double High = 1;
    bool Log = false;
    std::vector<int64_t> Counts;

    Histogram() = default;
    Histogram(double low, double high, int bins, bool log);
    void Add(double value);
    int64_t Total() const;
};

// A click as an encounter's plot draws it.
struct PlotClick {
    int64_t TimeUs = 0;
    float IciMs = 0;    // from the click before it in its train; 0: first of its train, or in none
    float Khz = 0;      // 0: not known
    uint8_t Pmax = 0;   // amplitude byte
    int8_t Class = -1;  // TrainClass of its train; -1: in no train
};

struct EncounterPlot {
    int64_t Number = 0;
    int64_t StartUs = 0;  // first click of its first train, last click of its last
    int64_t EndUs = 0;
    int32_t Trains = 0;  // NBHF trains in it
    int64_t NbhfClicks = 0;
    int32_t BuzzClicks = 0;
    // Every click from StartUs to EndUs, or every Stride-th one of a busy encounter.
    int32_t Stride = 1;
    std::vector<PlotClick> Clicks;
};

struct LocationReport {
    std::string Location;
    std::vector<std::string> Files;     // its TK1 files
    std::vector<std::string> Warnings;  // e.g. that times are minute-exact only
    std::vector<PresenceRow> Hours;     // every hour from the first to the last with effort
    std::vector<PresenceRow> Days;
    Histogram NbhfIciMs{1, 1000, 60, true};  // intervals between clicks of NBHF trains
    Histogram NbhfKhz{20, 200, 90, false};   // frequencies of those clicks
    std::vector<EncounterPlot> Encounters;   // the richest first, at most kEncounterPlots
    int64_t EncounterCount = 0;              // every encounter of the location
};

inline constexpr size_t kEncounterPlots = 10;
// Clicks an encounter's plot keeps before it thins them.
inline constexpr size_t kPlotClicks = 4000;

// The figures of every location of paths (TK1 files or folders), in the order of the locations'
// names. Throws InputError for damaged or unreadable input.
std::vector<LocationReport> GatherReport(const std::vector<std::string>& paths,
                                         const ReportOptions& options);

// The report's HTML.
std::string ReportHtml(const std::vector<LocationReport>& locations, const ReportOptions& options);

// Writes text to path whole or not at all (output/replacing_file.h): a file of that name is
// replaced only with overwrite. Returns the reason it was not written, else nothing.
std::optional<std::string> WriteReportFile(const std::string& path, const std::string& text,
                                           bool overwrite);

}  // namespace wtk::presence
