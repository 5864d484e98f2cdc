#include "ui/results_axes.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "base/calendar.h"
#include "base/numbers.h"

namespace wtk::ui {

namespace {

constexpr int64_t kMs = 1000;
constexpr int64_t kS = 1000 * kMs;
constexpr int64_t kMin = 60 * kS;
constexpr int64_t kH = 60 * kMin;
constexpr int64_t kD = 24 * kH;

constexpr std::array<int64_t, 33> kSteps = {
    100,       200,       500,       kMs,       2 * kMs,   5 * kMs,   10 * kMs, 20 * kMs, 50 * kMs,
    100 * kMs, 200 * kMs, 500 * kMs, kS,        2 * kS,    5 * kS,    10 * kS,  15 * kS,  30 * kS,
    kMin,      2 * kMin,  5 * kMin,  10 * kMin, 15 * kMin, 30 * kMin, kH,       2 * kH,   3 * kH,
    6 * kH,    12 * kH,   kD,        2 * kD,    7 * kD,    14 * kD};

int64_t FloorTo(int64_t v, int64_t step) {
    return FloorDivide(v, step).Quotient * step;
}

// "yyyy-mm-dd hh:mm:ss.ffffff" split into its parts.
struct Parts {
    std::string Date, Hm, Seconds, Fraction;
};
Parts PartsOf(int64_t us) {
    const std::string iso = IsoMicroseconds(us, ' ');  // "2024-06-11 14:05:30.123456"
    const size_t space = iso.find(' ');
    return {iso.substr(0, space), iso.substr(space + 1, 5), iso.substr(space + 7, 2),
            iso.substr(space + 10)};
}

}  // namespace

int64_t TimeStep(TimeSpan span, int width, int minPixels) {
    const double perPixel = static_cast<double>(span.Length()) / std::max(width, 1);
    for (const int64_t step : kSteps) {
        if (static_cast<double>(step) / perPixel >= minPixels) return step;
    }
    // Longer than a fortnight: whole multiples of four weeks.
    const double weeks = perPixel * minPixels / static_cast<double>(28 * kD);
    return static_cast<int64_t>(std::ceil(weeks)) * 28 * kD;
}

std::vector<TimeTick> TimeTicks(TimeSpan span, int width, int minPixels) {
    std::vector<TimeTick> ticks;
    if (span.Length() <= 0 || width <= 0) return ticks;
    const int64_t step = TimeStep(span, width, minPixels);
    int64_t at = FloorTo(span.FromUs, step);
    if (at < span.FromUs) at += step;
    for (; at < span.ToUs; at += step) {
        const Parts p = PartsOf(at);
        std::string label;
        if (step >= kD || (step >= kMin && at % kD == 0)) {
            label = p.Date.substr(5);  // "06-11"
        } else if (step >= kMin) {
            label = p.Hm;
        } else if (step >= kS) {
            label = p.Hm + ":" + p.Seconds;
        } else {
            const int digits = step >= 100 * kMs ? 1 : step >= 10 * kMs ? 2 : step >= kMs ? 3 : 4;
            label =
                p.Hm + ":" + p.Seconds + "." + p.Fraction.substr(0, static_cast<size_t>(digits));
        }
        ticks.push_back({at, std::move(label)});
    }
    return ticks;
}

std::string TimeText(int64_t us) {
    return IsoMicroseconds(us, ' ');
}

std::string TimeTextTo(int64_t us, int64_t precisionUs) {
    const Parts p = PartsOf(us);
    std::string s = p.Date + " " + p.Hm;
    if (precisionUs >= kMin) return s;
    s += ":" + p.Seconds;
    if (precisionUs >= kS) return s;
    const size_t digits = precisionUs >= 100 * kMs  ? 1
                          : precisionUs >= 10 * kMs ? 2
                          : precisionUs >= kMs      ? 3
                          : precisionUs >= 100      ? 4
                                                    : 6;
    return s + "." + p.Fraction.substr(0, digits);
}

std::string LengthText(int64_t us) {
    us = std::max<int64_t>(us, 0);
    if (us >= kD) {
        const int64_t h = (us + kH / 2) / kH;
        return std::to_string(h / 24) + " d" +
               (h % 24 != 0 ? " " + std::to_string(h % 24) + " h" : "");
    }
    if (us >= kH) {
        const int64_t m = (us + kMin / 2) / kMin;
        return std::to_string(m / 60) + " h" +
               (m % 60 != 0 ? " " + std::to_string(m % 60) + " min" : "");
    }
    if (us >= 10 * kMin) return std::to_string((us + kMin / 2) / kMin) + " min";
    if (us >= kMin) return FixedText(static_cast<double>(us) / kMin, 1) + " min";
    if (us >= 10 * kS) return std::to_string((us + kS / 2) / kS) + " s";
    if (us >= kS) return FixedText(static_cast<double>(us) / kS, 2) + " s";
    if (us >= 10 * kMs) return FixedText(static_cast<double>(us) / kMs, 0) + " ms";
    return FixedText(static_cast<double>(us) / kMs, 2) + " ms";
}

std::vector<double> ValueTicks(const ValueAxis& axis, int rows, int minPixels) {
    std::vector<double> ticks;
    if (axis.Log) {
        for (double v = std::pow(10.0, std::ceil(std::log10(axis.Min))); v <= axis.Max * 1.0001;
             v *= 10) {
            ticks.push_back(v);
        }
        return ticks;
    }
    const double range = axis.Max - axis.Min;
    if (range <= 0 || rows <= 0) return ticks;
    double step = 1;
    for (const double s : {1.0, 2.0, 5.0, 10.0, 20.0, 25.0, 50.0, 100.0, 200.0, 500.0}) {
        step = s;
        if (s / range * rows >= minPixels) break;
    }
    for (double v = std::ceil(axis.Min / step) * step; v <= axis.Max + 1e-9; v += step) {
        ticks.push_back(v);
    }
    return ticks;
}

}  // namespace wtk::ui
