#include "presence/report_figures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "base/calendar.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "presence/sun.h"

namespace wtk::presence {

namespace {

constexpr int64_t kHourUs = 3600 * kMicrosecondsPerSecond;
constexpr int64_t kDayUs = 24 * kHourUs;

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The colours of the train classes (in TrainClass order), and of clicks in no train; they stay
// apart for the common kinds of colour blindness.
constexpr std::array<std::string_view, kTrainClasses> kClassColours = {"#d55e00", "#0072b2",
                                                                       "#009e73", "#cc79a7"};
constexpr std::string_view kNoTrainColour = "#a0a0a0";
// (Cells without recording and the bars of time recorded take their colours from the page's
// style sheet: classes "none" and "effort".)

// A coordinate: one decimal, none where it is 0.
std::string N(double v) {
    std::string t = FixedText(v, 1);
    if (t.size() > 2 && t.ends_with(".0")) t.resize(t.size() - 2);
    return t;
}

// The local day (days since 1899-12-30) and the microseconds into it of a UTC time.
FloorDivision LocalDay(int64_t utcUs, int32_t offsetMinutes) {
    return FloorDivide(utcUs + int64_t{offsetMinutes} * kMicrosecondsPerMinute, kDayUs);
}

// "2024-06-11" of a day number.
std::string DateText(int64_t day) {
    return IsoMicroseconds(day * kDayUs).substr(0, 10);
}

// "14:02:10" (digits: 5 "hh:mm", 8 "hh:mm:ss", 10 "hh:mm:ss.s") of microseconds into a day.
std::string ClockText(int64_t usIntoDay, size_t digits) {
    return IsoMicroseconds(usIntoDay).substr(11, digits);
}

// An <svg> element drawn piece by piece.
class Svg {
public:
    Svg(std::string_view cls, double width, double height, std::string_view label) {
        s_ = "<svg class=\"" + std::string(cls) + "\" viewBox=\"0 0 " + N(width) + " " + N(height) +
             "\" style=\"max-width:" + N(width) + "px\" role=\"img\" aria-label=\"" +
             HtmlText(label) + "\">\n";
    }
    void Raw(std::string_view text) { s_ += text; }
    void Rect(double x, double y, double w, double h, std::string_view attributes) {
        s_ += "<rect x=\"" + N(x) + "\" y=\"" + N(y) + "\" width=\"" + N(w) + "\" height=\"" +
              N(h) + "\" " + std::string(attributes) + "/>\n";
    }
    void Line(double x1, double y1, double x2, double y2, std::string_view cls) {
        s_ += "<line class=\"" + std::string(cls) + "\" x1=\"" + N(x1) + "\" y1=\"" + N(y1) +
              "\" x2=\"" + N(x2) + "\" y2=\"" + N(y2) + "\"/>\n";
    }
    // anchor: "start", "middle", "end".
    void Text(double x, double y, std::string_view text, std::string_view anchor = "middle",
              std::string_view cls = "") {
        s_ += "<text x=\"" + N(x) + "\" y=\"" + N(y) + "\"";
        if (anchor != "start") s_ += " text-anchor=\"" + std::string(anchor) + "\"";
        if (!cls.empty()) s_ += " class=\"" + std::string(cls) + "\"";
        s_ += ">" + HtmlText(text) + "</text>\n";
    }
    // A title turned to read upwards, centred on (x, y).
    void UpTitle(double x, double y, std::string_view text) {
        s_ += "<text class=\"axis-title\" text-anchor=\"middle\" transform=\"translate(" + N(x) +
              " " + N(y) + ") rotate(-90)\">" + HtmlText(text) + "</text>\n";
    }
    std::string Done() { return std::move(s_) + "</svg>\n"; }

private:
    std::string s_;
};

struct Tick {
    double At = 0;  // a coordinate of the figure
    std::string Label;
};

// The characters of the longest label of some ticks.
size_t LongestLabel(const std::vector<Tick>& ticks) {
    size_t longest = 0;
    for (const Tick& t : ticks) longest = std::max(longest, Utf8Length(t.Label));
    return longest;
}

// A frame's left axis: tick marks and labels at the ticks, the title turned upwards, clear of
// labels of alignChars characters (about 6.6 units each) or of the axis's own longest label,
// so that panels stacked in one figure have their titles in one line.
void LeftAxis(Svg& svg, double left, double top, double height, const std::vector<Tick>& ticks,
              std::string_view title, size_t alignChars = 0) {
    svg.Line(left, top, left, top + height, "axis");
    for (const Tick& t : ticks) {
        svg.Line(left - 4, t.At, left, t.At, "axis");
        svg.Text(left - 6, t.At + 4, t.Label, "end");
    }
    const size_t longest = std::max({size_t{3}, alignChars, LongestLabel(ticks)});
    svg.UpTitle(left - 18 - 6.6 * static_cast<double>(longest), top + height / 2, title);
}

// A frame's bottom axis: tick marks and labels, the title under them.
void BottomAxis(Svg& svg, double left, double width, double bottom, const std::vector<Tick>& ticks,
                std::string_view title) {
    svg.Line(left, bottom, left + width, bottom, "axis");
    for (const Tick& t : ticks) {
        svg.Line(t.At, bottom, t.At, bottom + 4, "axis");
        svg.Text(t.At, bottom + 16, t.Label);
    }
    svg.Text(left + width / 2, bottom + 36, title, "middle", "axis-title");
}

// 1, 2 or 5 times a power of ten: the step of at most maxTicks ticks from 0 to at least top.
double NiceStep(double top, int maxTicks) {
    if (!(top > 0)) return 1;
    const double rough = top / maxTicks;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= rough) return m * power;
    }
    return 10 * power;
}

// Ticks of whole numbers from 0 to the first tick at or above top (top at least 1), at most
// about maxTicks of them; the scale's top is the last tick.
std::vector<double> CountTicks(double top, int maxTicks = 5) {
    const double step = std::max(1.0, NiceStep(std::max(top, 1.0), maxTicks));
    std::vector<double> values;
    for (double v = 0;; v += step) {
        values.push_back(v);
        if (v >= top && v > 0) break;
    }
    return values;
}

// "1,234" of whole counts, "0.5" of others.
// Counts of ten thousand and more in thousands or millions ("250k", "1.5M"), so that an axis
// label stays short.
std::string CountText(double v) {
    auto shortened = [](double n, const char* unit) {
        std::string t = FixedText(n, 1);
        if (t.ends_with(".0")) t.resize(t.size() - 2);
        return t + unit;
    };
    if (v >= 1e6) return shortened(v / 1e6, "M");
    if (v >= 1e4) return shortened(v / 1e3, "k");
    return v == std::floor(v) ? Grouped(static_cast<int64_t>(v)) : FixedText(v, 1);
}

// The days of a location's figures: from the first to the last of its hours' and days' rows.
struct DayRange {
    int64_t First = 0;
    int64_t Count = 0;
};
DayRange DaysOf(const LocationReport& location, int32_t offset) {
    std::optional<int64_t> first, last;
    auto take = [&](const std::vector<PresenceRow>& rows) {
        for (const PresenceRow& row : rows) {
            const int64_t day = LocalDay(row.PeriodStartUs, offset).Quotient;
            first = std::min(first.value_or(day), day);
            last = std::max(last.value_or(day), day);
        }
    };
    take(location.Hours);
    take(location.Days);
    if (!first) return {};
    return {*first, *last - *first + 1};
}

// The horizontal scale of the day figures: a column per day, at most 56 units wide, the whole
// at most 760.
struct DayScale {
    DayRange Days;
    double Left = 72;
    double ColumnWidth = 36;
    double Width() const { return ColumnWidth * static_cast<double>(Days.Count); }
    double X(int64_t day) const {
        return Left + ColumnWidth * static_cast<double>(day - Days.First);
    }
};
DayScale DayScaleOf(const LocationReport& location, int32_t offset) {
    DayScale scale;
    scale.Days = DaysOf(location, offset);
    if (scale.Days.Count > 0) {
        scale.ColumnWidth = std::min(56.0, 760.0 / static_cast<double>(scale.Days.Count));
    }
    return scale;
}

// Date ticks of a day scale: every day, second day, Monday or second Monday (at the middle of
// the day's column), else the first of every month, second, third, sixth month or year (at the
// beginning of the day), as far apart as their labels need.
std::vector<Tick> DateTicks(const DayScale& scale) {
    std::vector<Tick> ticks;
    const int64_t end = scale.Days.First + scale.Days.Count;
    for (const int64_t step : {1, 2, 7, 14}) {
        if (scale.ColumnWidth * static_cast<double>(step) < 46) continue;
        int64_t day = scale.Days.First;
        // Day 0, 1899-12-30, was a Saturday: Mondays are the days 2 modulo 7.
        if (step >= 7) day += FloorDivide(2 - day, 7).Remainder;
        for (; day < end; day += step) {
            const CivilDate d = CivilFromDayNumber(day);
            ticks.push_back({scale.X(day) + scale.ColumnWidth / 2,
                             std::to_string(d.Day) + " " + std::string(kMonths[d.Month - 1])});
        }
        return ticks;
    }
    for (const int32_t months : {1, 2, 3, 6, 12}) {
        if (scale.ColumnWidth * 30.4 * months < 64 && months < 12) continue;
        const CivilDate first = CivilFromDayNumber(scale.Days.First);
        int64_t year = first.Year;
        int32_t month = first.Month;
        bool labelledYear = false;
        for (;;) {
            const int64_t day = DayNumberFromCivil(year, month, 1);
            if (day >= end) break;
            if (day >= scale.Days.First && (month - 1) % months == 0) {
                std::string label(kMonths[month - 1]);
                if (month == 1 || !labelledYear) label += " " + std::to_string(year);
                labelledYear = true;
                ticks.push_back({scale.X(day), std::move(label)});
            }
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
        return ticks;
    }
    return ticks;
}

// "Date (2024)", "Date (2024-2025)".
std::string DateTitle(const DayScale& scale) {
    const int64_t firstYear = CivilFromDayNumber(scale.Days.First).Year;
    const int64_t lastYear = CivilFromDayNumber(scale.Days.First + scale.Days.Count - 1).Year;
    std::string title = "Date (" + std::to_string(firstYear);
    if (lastYear != firstYear) title += "\u2013" + std::to_string(lastYear);
    return title + ")";
}

// The colour of a cell with dpm detection-positive minutes when the richest cell has top:
// white for none, then from pale yellow to dark red.
std::string DpmColour(int32_t dpm, int32_t top) {
    if (dpm <= 0) return "#ffffff";
    static constexpr std::array<std::array<int, 3>, 5> kStops = {
        {{255, 237, 160}, {254, 178, 76}, {253, 141, 60}, {227, 26, 28}, {128, 0, 38}}};
    const double t = top <= 1 ? 1.0 : static_cast<double>(dpm - 1) / (top - 1);
    const double at = std::clamp(t, 0.0, 1.0) * (kStops.size() - 1);
    const size_t i = std::min(static_cast<size_t>(at), kStops.size() - 2);
    const double f = at - static_cast<double>(i);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string colour = "#";
    for (size_t c = 0; c < 3; ++c) {
        const int v =
            static_cast<int>(std::lround(kStops[i][c] + f * (kStops[i + 1][c] - kStops[i][c])));
        colour += kHex[v / 16];
        colour += kHex[v % 16];
    }
    return colour;
}

// The night within day columns of a scale, each from its local 00:00 to 24:00 mapped onto
// [top, top + height), as one path.
std::string NightPath(const DayScale& scale, const ReportOptions& options, double top,
                      double height) {
    std::string d;
    const int64_t offsetUs = int64_t{options.UtcOffsetMinutes} * kMicrosecondsPerMinute;
    for (int64_t i = 0; i < scale.Days.Count; ++i) {
        const int64_t day = scale.Days.First + i;
        const int64_t from = day * kDayUs - offsetUs;
        for (const auto& [a, b] :
             NightSpans(*options.Latitude, *options.Longitude, from, from + kDayUs)) {
            const double y0 = top + height * static_cast<double>(a - from) / kDayUs;
            const double y1 = top + height * static_cast<double>(b - from) / kDayUs;
            d += "M" + N(scale.X(day)) + " " + N(y0) + "h" + N(scale.ColumnWidth) + "V" + N(y1) +
                 "h" + N(-scale.ColumnWidth) + "z";
        }
    }
    return d;
}

bool KnowsPlace(const ReportOptions& options) {
    return options.Latitude.has_value() && options.Longitude.has_value();
}

// Legend rows from (x, y) down: a swatch and its text each.
class Legend {
public:
    Legend(Svg& svg, double x, double y, std::string_view title) : svg_(svg), x_(x), y_(y) {
        if (!title.empty()) {
            svg_.Text(x_, y_ + 10, title, "start", "legend-title");
            y_ += 18;
        }
    }
    // overlay: the attributes of a second rectangle over the first ("": none).
    void Swatch(std::string_view attributes, std::string_view text, std::string_view overlay = "") {
        svg_.Rect(x_, y_, 16, 11, attributes);
        if (!overlay.empty()) svg_.Rect(x_, y_, 16, 11, overlay);
        svg_.Text(x_ + 22, y_ + 10, text, "start");
        y_ += 16;
    }
    void Dot(std::string_view colour, std::string_view text) {
        svg_.Raw("<circle cx=\"" + N(x_ + 8) + "\" cy=\"" + N(y_ + 5.5) + "\" r=\"3.5\" fill=\"" +
                 std::string(colour) + "\"/>\n");
        svg_.Text(x_ + 22, y_ + 10, text, "start");
        y_ += 16;
    }
    void Gap() { y_ += 6; }

private:
    Svg& svg_;
    double x_;
    double y_;
};

}  // namespace

std::string HtmlText(std::string_view text) {
    const std::string printable = PrintableName(text);
    std::string out;
    out.reserve(printable.size());
    for (const char c : printable) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string ClockName(int32_t offsetMinutes) {
    return offsetMinutes == 0 ? "UTC" : "UTC" + UtcOffsetText(offsetMinutes);
}

std::string Grouped(int64_t n) {
    const std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out = n < 0 ? "-" : "";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string GridFigure(const LocationReport& location, const ReportOptions& options) {
    const int32_t offset = options.UtcOffsetMinutes;
    const DayScale scale = DayScaleOf(location, offset);
    constexpr double kTop = 12;
    constexpr double kRowHeight = 11;
    constexpr double kPlotHeight = 24 * kRowHeight;
    const double legendX = scale.Left + scale.Width() + 22;
    Svg svg(scale.ColumnWidth >= 5 ? "grid gaps" : "grid", std::max(legendX + 200, 560.0),
            kTop + kPlotHeight + 50,
            "NBHF detection-positive minutes per hour of day and date at " + location.Location);

    // The hours' rows by day and hour; a missing row is an hour without recording.
    std::vector<const PresenceRow*> cells(static_cast<size_t>(scale.Days.Count) * 24, nullptr);
    int32_t top = 1;
    for (const PresenceRow& row : location.Hours) {
        const FloorDivision at = LocalDay(row.PeriodStartUs, offset);
        const int64_t i = (at.Quotient - scale.Days.First) * 24 + at.Remainder / kHourUs;
        if (i < 0 || i >= static_cast<int64_t>(cells.size())) continue;
        cells[static_cast<size_t>(i)] = &row;
        if (row.NbhfDpm) top = std::max(top, *row.NbhfDpm);
    }
    for (int64_t day = scale.Days.First; day < scale.Days.First + scale.Days.Count; ++day) {
        const std::string date = DateText(day);
        for (int hour = 0; hour < 24; ++hour) {
            const PresenceRow* row =
                cells[static_cast<size_t>((day - scale.Days.First) * 24 + hour)];
            std::string title = date + " " + ClockText(hour * kHourUs, 5) + ": ";
            std::string attributes;
            if (row == nullptr || !row->NbhfDpm) {
                attributes = "class=\"cell none\"";
                title += "not recorded";
            } else {
                attributes = "class=\"cell\" fill=\"" + DpmColour(*row->NbhfDpm, top) + "\"";
                title += std::to_string(*row->NbhfDpm) + " NBHF DPM of " +
                         std::to_string(row->RecordedMinutes) + " recorded minutes";
            }
            svg.Raw("<rect " + attributes + " x=\"" + N(scale.X(day)) + "\" y=\"" +
                    N(kTop + hour * kRowHeight) + "\" width=\"" + N(scale.ColumnWidth) +
                    "\" height=\"" + N(kRowHeight) + "\"><title>" + HtmlText(title) +
                    "</title></rect>\n");
        }
    }
    if (KnowsPlace(options) && scale.Days.Count > 0) {
        svg.Raw("<path class=\"night\" d=\"" + NightPath(scale, options, kTop, kPlotHeight) +
                "\"/>\n");
    }
    svg.Rect(scale.Left, kTop, scale.Width(), kPlotHeight, "class=\"frame\"");

    std::vector<Tick> hours;
    for (int hour = 0; hour <= 24; hour += 3) {
        hours.push_back({kTop + hour * kRowHeight,
                         hour == 24 ? std::string("24:00") : ClockText(hour * kHourUs, 5)});
    }
    LeftAxis(svg, scale.Left, kTop, kPlotHeight, hours, "Hour of day (" + ClockName(offset) + ")");
    BottomAxis(svg, scale.Left, scale.Width(), kTop + kPlotHeight, DateTicks(scale),
               DateTitle(scale));

    Legend legend(svg, legendX, kTop, "NBHF DPM per hour");
    legend.Swatch("class=\"swatch\" fill=\"#ffffff\"", "0");
    std::vector<int32_t> levels;
    for (int k = 1; k <= 5; ++k) {
        const int32_t v = std::max(1, static_cast<int32_t>(std::lround(top * k / 5.0)));
        if (levels.empty() || levels.back() != v) levels.push_back(v);
    }
    for (const int32_t v : levels) {
        legend.Swatch("class=\"swatch\" fill=\"" + DpmColour(v, top) + "\"", std::to_string(v));
    }
    legend.Gap();
    legend.Swatch("class=\"swatch none\"", "not recorded");
    if (KnowsPlace(options)) {
        legend.Swatch("class=\"swatch\" fill=\"#ffffff\"", "night (sun down)", "class=\"night\"");
    }
    return svg.Done();
}

std::string DailyFigure(const LocationReport& location, const ReportOptions& options) {
    const int32_t offset = options.UtcOffsetMinutes;
    const DayScale scale = DayScaleOf(location, offset);
    constexpr double kTop = 12;
    constexpr double kDpmHeight = 150;
    constexpr double kGap = 16;
    constexpr double kHoursTop = kTop + kDpmHeight + kGap;
    constexpr double kHoursHeight = 60;
    const double legendX = scale.Left + scale.Width() + 22;
    Svg svg("daily", std::max(legendX + 200, 560.0), kHoursTop + kHoursHeight + 50,
            "NBHF detection-positive minutes and hours recorded per day at " + location.Location);

    std::vector<const PresenceRow*> days(static_cast<size_t>(scale.Days.Count), nullptr);
    int32_t most = 0;
    int64_t longest = 0;  // of the recording in a day
    for (const PresenceRow& row : location.Days) {
        const int64_t i = LocalDay(row.PeriodStartUs, offset).Quotient - scale.Days.First;
        if (i < 0 || i >= scale.Days.Count) continue;
        days[static_cast<size_t>(i)] = &row;
        if (row.NbhfDpm) most = std::max(most, *row.NbhfDpm);
        longest = std::max(longest, row.RecordedUs);
    }
    const std::vector<double> dpmTicks = CountTicks(most);
    const double dpmTop = dpmTicks.back();
    // The recording per day on a scale it fills: hours up to 24 (marked every 12 hours past
    // half a day), or minutes where no day holds two hours, as duty cycles often leave.
    const bool inMinutes = longest < 2 * kHourUs;
    const double effortUnit = inMinutes ? kMicrosecondsPerMinute : kHourUs;
    const std::vector<double> effortTicks =
        longest > 12 * kHourUs ? std::vector<double>{0, 12, 24}
                               : CountTicks(static_cast<double>(longest) / effortUnit, 2);
    const double effortTop = effortTicks.back();
    const double bar = scale.ColumnWidth >= 3 ? scale.ColumnWidth * 0.8 : scale.ColumnWidth;
    const double inset = (scale.ColumnWidth - bar) / 2;
    for (int64_t i = 0; i < scale.Days.Count; ++i) {
        const PresenceRow* row = days[static_cast<size_t>(i)];
        const double x = scale.X(scale.Days.First + i);
        const std::string date = DateText(scale.Days.First + i);
        if (row == nullptr || !row->NbhfDpm) {
            svg.Raw("<rect class=\"day none\" x=\"" + N(x) + "\" y=\"" + N(kTop) + "\" width=\"" +
                    N(scale.ColumnWidth) + "\" height=\"" + N(kDpmHeight) + "\"><title>" + date +
                    ": not recorded</title></rect>\n");
            continue;
        }
        const double h = kDpmHeight * *row->NbhfDpm / dpmTop;
        const double recorded = static_cast<double>(row->RecordedUs) / effortUnit;
        const std::string title = date + ": " + std::to_string(*row->NbhfDpm) + " NBHF DPM in " +
                                  FixedText(recorded, inMinutes ? 0 : 1) +
                                  (inMinutes ? " min" : " h") + " recorded";
        if (h > 0) {
            svg.Raw("<rect class=\"day dpm\" x=\"" + N(x + inset) + "\" y=\"" +
                    N(kTop + kDpmHeight - h) + "\" width=\"" + N(bar) + "\" height=\"" + N(h) +
                    "\"><title>" + title + "</title></rect>\n");
        }
        const double e = kHoursHeight *
                         std::min(static_cast<double>(row->RecordedUs) / effortUnit, effortTop) /
                         effortTop;
        svg.Raw("<rect class=\"day effort\" x=\"" + N(x + inset) + "\" y=\"" +
                N(kHoursTop + kHoursHeight - e) + "\" width=\"" + N(bar) + "\" height=\"" + N(e) +
                "\"><title>" + title + "</title></rect>\n");
    }
    std::vector<Tick> ticks;
    for (const double v : dpmTicks) {
        ticks.push_back({kTop + kDpmHeight - kDpmHeight * v / dpmTop, CountText(v)});
    }
    std::vector<Tick> effort;
    for (const double v : effortTicks) {
        effort.push_back({kHoursTop + kHoursHeight - kHoursHeight * v / effortTop, CountText(v)});
    }
    const size_t labelChars = std::max(LongestLabel(ticks), LongestLabel(effort));
    LeftAxis(svg, scale.Left, kTop, kDpmHeight, ticks, "NBHF DPM per day", labelChars);
    svg.Line(scale.Left, kTop + kDpmHeight, scale.Left + scale.Width(), kTop + kDpmHeight, "axis");
    LeftAxis(svg, scale.Left, kHoursTop, kHoursHeight, effort,
             inMinutes ? "Recorded (min)" : "Recorded (h)", labelChars);
    BottomAxis(svg, scale.Left, scale.Width(), kHoursTop + kHoursHeight, DateTicks(scale),
               DateTitle(scale) + ", days of " + ClockName(offset));

    Legend legend(svg, legendX, kTop, "");
    legend.Swatch("class=\"swatch dpm\"", "NBHF DPM");
    legend.Swatch("class=\"swatch none\"", "not recorded");
    legend.Swatch("class=\"swatch effort\"", "time recorded");
    return svg.Done();
}

std::string HistogramFigure(const Histogram& histogram, std::string_view xTitle,
                            std::string_view yTitle) {
    constexpr double kLeft = 72;
    constexpr double kTop = 12;
    constexpr double kWidth = 400;
    constexpr double kHeight = 170;
    Svg svg("histogram", kLeft + kWidth + 20, kTop + kHeight + 50,
            std::string(yTitle) + " by " + std::string(xTitle));
    const size_t bins = histogram.Counts.size();
    int64_t most = 0;
    for (const int64_t c : histogram.Counts) most = std::max(most, c);
    const std::vector<double> countTicks = CountTicks(static_cast<double>(most));
    const double countTop = countTicks.back();
    const double binWidth = kWidth / static_cast<double>(std::max<size_t>(bins, 1));
    for (size_t i = 0; i < bins; ++i) {
        const int64_t c = histogram.Counts[i];
        if (c == 0) continue;
        const double h = kHeight * static_cast<double>(c) / countTop;
        svg.Rect(kLeft + binWidth * static_cast<double>(i), kTop + kHeight - h, binWidth, h,
                 "class=\"bar\"");
    }
    if (most == 0) svg.Text(kLeft + kWidth / 2, kTop + kHeight / 2, "no NBHF clicks", "middle");
    std::vector<Tick> yTicks;
    for (const double v : countTicks) {
        yTicks.push_back({kTop + kHeight - kHeight * v / countTop, CountText(v)});
    }
    LeftAxis(svg, kLeft, kTop, kHeight, yTicks, yTitle);

    auto xOf = [&](double value) {
        const double f = histogram.Log ? std::log(value / histogram.Low) /
                                             std::log(histogram.High / histogram.Low)
                                       : (value - histogram.Low) / (histogram.High - histogram.Low);
        return kLeft + kWidth * f;
    };
    std::vector<Tick> xTicks;
    if (histogram.Log) {
        for (double decade = 1e-3; decade <= histogram.High * 10; decade *= 10) {
            for (const double m : {1.0, 2.0, 5.0}) {
                const double v = decade * m;
                if (v < histogram.Low * 0.999 || v > histogram.High * 1.001) continue;
                xTicks.push_back({xOf(v), v >= 1 ? Grouped(std::llround(v)) : FixedText(v, 3)});
            }
        }
    } else {
        const double step = NiceStep(histogram.High - histogram.Low, 10);
        // Each tick a whole multiple of the step, so that no sum of steps drifts off it.
        for (double k = std::ceil(histogram.Low / step); k * step <= histogram.High + step / 1000;
             ++k) {
            xTicks.push_back({xOf(k * step), CountText(k * step)});
        }
    }
    BottomAxis(svg, kLeft, kWidth, kTop + kHeight, xTicks, xTitle);
    return svg.Done();
}

namespace {

// Ticks of the time of day from fromUs to toUs (local microseconds): at most eight, at a step
// that a clock shows plainly.
std::vector<std::pair<int64_t, std::string>> TimeTicks(int64_t fromUs, int64_t toUs) {
    static constexpr std::array<int64_t, 20> kSteps = {
        100'000,       200'000,    500'000,     1'000'000,   2'000'000,   5'000'000,   10'000'000,
        15'000'000,    30'000'000, 60'000'000,  120'000'000, 300'000'000, 600'000'000, 900'000'000,
        1'800'000'000, kHourUs,    2 * kHourUs, 3 * kHourUs, 6 * kHourUs, 12 * kHourUs};
    int64_t step = kSteps.back();
    for (const int64_t s : kSteps) {
        if ((toUs - fromUs) / s <= 8) {
            step = s;
            break;
        }
    }
    const size_t digits = step < 1'000'000 ? 10 : step < 60'000'000 ? 8 : 5;
    std::vector<std::pair<int64_t, std::string>> ticks;
    for (int64_t t = (FloorDivide(fromUs, step).Quotient + 1) * step; t < toUs; t += step) {
        ticks.emplace_back(t, ClockText(FloorDivide(t, kDayUs).Remainder, digits));
    }
    return ticks;
}

}  // namespace

std::string EncounterFigure(const EncounterPlot& encounter, const ReportOptions& options) {
    constexpr double kLeft = 72;
    constexpr double kTop = 12;
    constexpr double kWidth = 760;
    constexpr double kPanel = 110;
    constexpr double kGap = 14;
    const double legendX = kLeft + kWidth + 22;
    Svg svg("encounter", legendX + 150, kTop + 3 * kPanel + 2 * kGap + 50,
            "Clicks of encounter " + std::to_string(encounter.Number) +
                ": interval, frequency and amplitude against time");

    const int64_t offsetUs = int64_t{options.UtcOffsetMinutes} * kMicrosecondsPerMinute;
    const int64_t span = std::max<int64_t>(encounter.EndUs - encounter.StartUs, 0);
    const int64_t pad = std::max<int64_t>(span / 50, 200'000);
    const int64_t from = encounter.StartUs + offsetUs - pad;
    const int64_t to = encounter.EndUs + offsetUs + pad;
    auto xOf = [&](int64_t utcUs) {
        return kLeft + kWidth * static_cast<double>(utcUs + offsetUs - from) /
                           static_cast<double>(to - from);
    };

    // The three panels top down: interval (log), frequency, amplitude.
    struct Panel {
        double Top;
        std::string Title;
    };
    const std::array<Panel, 3> panels = {{{kTop, "Interval (ms)"},
                                          {kTop + kPanel + kGap, "Frequency (kHz)"},
                                          {kTop + 2 * (kPanel + kGap), "Amplitude (Pmax)"}}};
    auto iciY = [&](double ms) {
        const double f = std::log10(std::clamp(ms, 1.0, 1000.0)) / 3;
        return panels[0].Top + kPanel - kPanel * f;
    };
    auto khzY = [&](double khz) {
        return panels[1].Top + kPanel - kPanel * std::clamp(khz, 0.0, 200.0) / 200;
    };
    auto ampY = [&](double pmax) { return panels[2].Top + kPanel - kPanel * pmax / 255; };

    // One path of dots per class and panel, the clicks in no train first (beneath).
    std::array<std::array<std::string, 3>, kTrainClasses + 1> dots;
    std::array<bool, kTrainClasses + 1> present{};
    for (const PlotClick& c : encounter.Clicks) {
        const size_t k = c.Class < 0 ? 0 : static_cast<size_t>(c.Class) + 1;
        present[k] = true;
        const std::string x = "M" + N(xOf(c.TimeUs)) + " ";
        if (c.IciMs > 0) dots[k][0] += x + N(iciY(c.IciMs)) + "h0";
        if (c.Khz > 0) dots[k][1] += x + N(khzY(c.Khz)) + "h0";
        dots[k][2] += x + N(ampY(c.Pmax)) + "h0";
    }
    for (size_t k = 0; k < dots.size(); ++k) {
        const std::string_view colour = k == 0 ? kNoTrainColour : kClassColours[k - 1];
        for (const std::string& d : dots[k]) {
            if (d.empty()) continue;
            svg.Raw("<path class=\"dots\" stroke=\"" + std::string(colour) + "\" d=\"" + d +
                    "\"/>\n");
        }
    }

    std::vector<Tick> iciTicks;
    for (const double ms : {1.0, 10.0, 100.0, 1000.0}) {
        iciTicks.push_back({iciY(ms), Grouped(std::llround(ms))});
    }
    std::vector<Tick> khzTicks;
    for (int khz = 0; khz <= 200; khz += 50) khzTicks.push_back({khzY(khz), std::to_string(khz)});
    std::vector<Tick> ampTicks;
    for (int a = 0; a <= 250; a += 50) ampTicks.push_back({ampY(a), std::to_string(a)});
    const std::array<const std::vector<Tick>*, 3> yTicks = {&iciTicks, &khzTicks, &ampTicks};
    std::vector<Tick> xTicks;
    for (auto& [t, label] : TimeTicks(from, to)) {
        xTicks.push_back(
            {kLeft + kWidth * static_cast<double>(t - from) / static_cast<double>(to - from),
             std::move(label)});
    }
    size_t labelChars = 0;
    for (const std::vector<Tick>* t : yTicks) labelChars = std::max(labelChars, LongestLabel(*t));
    for (size_t p = 0; p < panels.size(); ++p) {
        svg.Rect(kLeft, panels[p].Top, kWidth, kPanel, "class=\"frame\"");
        for (const Tick& t : xTicks) {
            svg.Line(t.At, panels[p].Top, t.At, panels[p].Top + kPanel, "gridline");
        }
        LeftAxis(svg, kLeft, panels[p].Top, kPanel, *yTicks[p], panels[p].Title, labelChars);
    }
    const int64_t firstDay = FloorDivide(from + pad, kDayUs).Quotient;
    const int64_t lastDay = FloorDivide(to - pad, kDayUs).Quotient;
    std::string title =
        "Time of day (" + ClockName(options.UtcOffsetMinutes) + ") on " + DateText(firstDay);
    if (lastDay != firstDay) title += " to " + DateText(lastDay);
    BottomAxis(svg, kLeft, kWidth, panels[2].Top + kPanel, xTicks, title);

    Legend legend(svg, legendX, kTop, "Train class");
    for (size_t c = 0; c < kTrainClasses; ++c) {
        if (present[c + 1]) {
            legend.Dot(kClassColours[c], ClassName(static_cast<TrainClass>(c)));
        }
    }
    if (present[0]) legend.Dot(kNoTrainColour, "in no train");
    return svg.Done();
}

}  // namespace wtk::presence
