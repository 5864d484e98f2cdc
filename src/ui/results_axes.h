// The marks and texts of the results view's axes: time ticks at a round step that suits the
// span shown (from weeks down to a tenth of a millisecond), labelled as briefly as that step
// allows, and the texts of times and lengths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/results_model.h"

namespace wtk::ui {

struct TimeTick {
    int64_t AtUs = 0;
    std::string Label;
};

// The round step (microseconds) that leaves at least minPixels between ticks over width pixels.
int64_t TimeStep(TimeSpan span, int width, int minPixels);
// Ticks at every multiple of that step within span (days, weeks and months counted from
// midnight), each labelled: "06-11" for steps of days, "14:00" for minutes and hours (a date at
// midnight), "14:05:30" for seconds, "14:05:30.125" (to the step) below a second.
std::vector<TimeTick> TimeTicks(TimeSpan span, int width, int minPixels);

// "2024-06-11 14:05:30.123456" (to the microsecond).
std::string TimeText(int64_t us);
// "2024-06-11 14:05" (to the minute) to "14:05:30.125" as fine as precisionUs needs.
std::string TimeTextTo(int64_t us, int64_t precisionUs);
// A length: "3 d 4 h", "2 h 10 min", "12 min", "4.5 s", "250 ms", "12.5 ms".
std::string LengthText(int64_t us);

// Ticks of a value axis: decades for a log axis (1, 10, 100, 1000), else a round step with at
// least minPixels between ticks over rows pixels.
std::vector<double> ValueTicks(const ValueAxis& axis, int rows, int minPixels);

}  // namespace wtk::ui
