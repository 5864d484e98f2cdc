// Clicks of the kinds the train rules tell apart, made with their times for tests: porpoise,
// dolphin and echosounder trains and random clicks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "presence/timed_click.h"
#include "presence/trains.h"
#include "synth/tk1_sketch.h"

namespace wtk::presence::test {

// 2024-06-01 00:00 in microseconds since 1899-12-30.
inline constexpr int64_t kDay = int64_t{45444} * 86'400'000'000;

inline TimedClick ClickAt(int64_t timeUs, double khz, int cycles, int pmax, int spread = 6,
                          int32_t recording = 0) {
    TimedClick c;
    c.TimeUs = timeUs;
    c.Recording = recording;
    c.Fields = synth::SketchClick(0, khz, cycles, pmax, spread);
    return c;
}

struct TrainSpec {
    int64_t StartUs = kDay;
    int Clicks = 40;
    double IciMs = 60;
    double DriftPerClick = 0;      // relative change of the interval from click to click
    double JitterPerClick = 0.01;  // uniform, relative
    double Khz = 133;
    int Cycles = 14;
    int PeakPmax = 200;  // the loudest click, at the middle: a beam sweeping past
    int EdgePmax = 120;  // the first and last
    int Spread = 6;
    int32_t Recording = 0;
    uint64_t Seed = 1;
};

inline std::vector<TimedClick> TrainClicks(const TrainSpec& s) {
    std::mt19937_64 g(s.Seed);
    auto uniform = [&](double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(g() >> 11) * 0x1p-53;
    };
    std::vector<TimedClick> clicks;
    double t = static_cast<double>(s.StartUs);
    double ici = s.IciMs * 1000;
    for (int k = 0; k < s.Clicks; ++k) {
        const double u = s.Clicks > 1 ? 2.0 * k / (s.Clicks - 1) - 1 : 0;
        const int pmax =
            static_cast<int>(std::lround(s.PeakPmax - (s.PeakPmax - s.EdgePmax) * u * u));
        clicks.push_back(ClickAt(std::llround(t), s.Khz, s.Cycles, pmax, s.Spread, s.Recording));
        ici *= 1 + s.DriftPerClick;
        t += ici * (1 + uniform(-s.JitterPerClick, s.JitterPerClick));
    }
    return clicks;
}

// Clicks at random (Poisson) times: shrimp, noise.
inline std::vector<TimedClick> RandomClicks(int64_t fromUs, double seconds, double perSecond,
                                            uint64_t seed, double khzLo = 20, double khzHi = 200,
                                            int cyclesLo = 1, int cyclesHi = 4) {
    std::mt19937_64 g(seed);
    auto uniform = [&](double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(g() >> 11) * 0x1p-53;
    };
    std::vector<TimedClick> clicks;
    for (double t = -std::log(1 - uniform(0, 1)) / perSecond; t < seconds;
         t -= std::log(1 - uniform(0, 1)) / perSecond) {
        clicks.push_back(ClickAt(fromUs + std::llround(t * 1e6), uniform(khzLo, khzHi),
                                 static_cast<int>(uniform(cyclesLo, cyclesHi + 1)),
                                 static_cast<int>(uniform(20, 250)), 12));
    }
    return clicks;
}

inline std::vector<TimedClick> Merged(std::vector<std::vector<TimedClick>> parts) {
    std::vector<TimedClick> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    std::stable_sort(all.begin(), all.end(),
                     [](const TimedClick& a, const TimedClick& b) { return a.TimeUs < b.TimeUs; });
    return all;
}

// Every train the detector finds in clicks (fed in order, then Finish).
inline std::vector<Train> TrainsOf(const std::vector<TimedClick>& clicks,
                                   const TrainOptions& options = {}) {
    TrainDetector d(options);
    std::vector<Train> trains;
    Train t;
    for (const TimedClick& c : clicks) {
        d.Feed(c);
        while (d.NextTrain(t)) trains.push_back(t);
    }
    d.Finish();
    while (d.NextTrain(t)) trains.push_back(t);
    return trains;
}

}  // namespace wtk::presence::test
