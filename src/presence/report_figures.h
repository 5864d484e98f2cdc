// The SVG figures of the presence report, each a complete <svg> element with its axes, units
// and legend, drawn in a coordinate space about as wide as a page (viewBox) so that it scales
// to the window and to paper alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "presence/report.h"

namespace wtk::presence {

// Text as HTML and SVG take it: control characters and invalid UTF-8 made visible, then
// & < > " ' as character references.
std::string HtmlText(std::string_view text);

// "UTC", "UTC+02:00", "UTC-03:30".
std::string ClockName(int32_t offsetMinutes);

// "1,234,567".
std::string Grouped(int64_t n);

// The hour-of-day x date grid of NBHF DPM: one <rect class="cell"> per hour and date, those
// without recording also of class "none"; the night (with a latitude and longitude) as one
// <path class="night">.
std::string GridFigure(const LocationReport& location, const ReportOptions& options);

// DPM per day as bars over the days (grey where nothing was recorded), and below them the
// hours recorded per day.
std::string DailyFigure(const LocationReport& location, const ReportOptions& options);

// Bars of a histogram's counts.
std::string HistogramFigure(const Histogram& histogram, std::string_view xTitle,
                            std::string_view yTitle);

// Interval, frequency and amplitude of an encounter's clicks against the time of day, coloured
// by the class of their trains.
std::string EncounterFigure(const EncounterPlot& encounter, const ReportOptions& options);

}  // namespace wtk::presence
