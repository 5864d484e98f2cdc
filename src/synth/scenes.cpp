#include "synth/scenes.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include "base/calendar.h"
#include "base/numbers.h"
#include "synth/field_scenes.h"
#include "synth/portable_math.h"
#include "synth/random_draws.h"

namespace wtk::synth {

namespace {

namespace pm = portable;

using Kind = SceneSource;

// One click or ping of the scene, seconds from the scene's start.
struct Event {
    double T = 0;
    double Amplitude = 0;
    double Hz = 0;
    double Duration = 0;
    Kind What = Kind::Porpoise;
};

double FromDb(double db) {
    return pm::Exp(db * std::log(10.0) / 20);
}

// The beam's sweep past the hydrophone: the relative amplitude at fraction u of a train whose
// loudest click sits at peakAt, edge its level at the ends.
double Sweep(double u, double peakAt, double edge) {
    const double v = u <= peakAt ? 0.5 * u / std::max(peakAt, 1e-9)
                                 : 0.5 + 0.5 * (u - peakAt) / std::max(1 - peakAt, 1e-9);
    const double w = 2 * v - 1;
    return pm::Exp(pm::Log(edge) * w * w);
}

// A porpoise group: each animal scans in trains whose interval drifts (a random walk with a
// trend, and a natural jitter), its amplitude following the beam's sweep with a click-to-click
// wobble; a quarter of the trains close on prey: the interval falls to a buzz of 1.5-3 ms.
void AddPorpoises(std::mt19937_64& g, double start, double length, std::vector<Event>& out) {
    const int animals = 1 + static_cast<int>(std::floor(3 * Uniform01(g) * Uniform01(g)));
    for (int a = 0; a < animals; ++a) {
        const double hz = Uniform(g, 125e3, 140e3);
        const double duration = Uniform(g, 60e-6, 130e-6);
        const double level = LogUniform(g, 40, 15000);  // its distance
        double t = start + Uniform(g, 0, 0.3 * length);
        while (t < start + length) {
            const int n = static_cast<int>(std::lround(LogUniform(g, 8, 150)));
            double ici = LogUniform(g, 0.03, 0.15);
            const double trend = Uniform(g, -0.012, 0.012);
            const double jitter = Uniform(g, 0.005, 0.03);
            const double peakAt = Uniform(g, 0.2, 0.8);
            const double edge = Uniform(g, 0.03, 0.3);
            const double wobbleDb = Uniform(g, 0.5, 2);
            const double trainLevel = level * pm::Exp(0.5 * Normal(g));
            for (int k = 0; k < n; ++k) {
                const double u = n > 1 ? static_cast<double>(k) / (n - 1) : 0.5;
                out.push_back({t,
                               trainLevel * Sweep(u, peakAt, edge) * FromDb(wobbleDb * Normal(g)),
                               hz + 1000 * Normal(g), duration, Kind::Porpoise});
                ici = std::clamp(ici * pm::Exp(trend + jitter * Normal(g)), 0.015, 0.25);
                t += ici;
            }
            if (Uniform01(g) < 0.25) {
                const double buzzIci = Uniform(g, 1.5e-3, 3e-3);
                const int approach = 6 + static_cast<int>(Uniform(g, 0, 7));
                const double fall = pm::Exp(pm::Log(buzzIci / ici) / approach);
                const double buzzLevel = trainLevel * edge * 0.5;
                for (int k = 0; k < approach; ++k) {
                    ici *= fall;
                    out.push_back({t, buzzLevel * FromDb(wobbleDb * Normal(g)),
                                   hz + 1000 * Normal(g), duration, Kind::Porpoise});
                    t += ici;
                }
                const int buzz = static_cast<int>(Uniform(g, 40, 300));
                for (int k = 0; k < buzz; ++k) {
                    out.push_back({t, buzzLevel * FromDb(wobbleDb * Normal(g)),
                                   hz + 1000 * Normal(g), duration, Kind::Buzz});
                    t += buzzIci * pm::Exp(0.03 * Normal(g));
                }
            }
            t += Uniform(g, 0.5, 15);
        }
    }
}

// A dolphin group: several animals at once, broadband clicks of a few cycles at 40-90 kHz in
// trains of tens to hundreds of clicks, intervals of 20-200 ms.
void AddDolphins(std::mt19937_64& g, double start, double length, std::vector<Event>& out) {
    const int animals = 2 + static_cast<int>(Uniform(g, 0, 5));
    for (int a = 0; a < animals; ++a) {
        const double hz = Uniform(g, 40e3, 90e3);
        const double duration = Uniform(g, 10e-6, 30e-6);
        const double level = LogUniform(g, 200, 20000);
        double t = start + Uniform(g, 0, 0.3 * length);
        while (t < start + length) {
            const int n = static_cast<int>(Uniform(g, 20, 200));
            double ici = LogUniform(g, 0.02, 0.2);
            const double trend = Uniform(g, -0.01, 0.01);
            const double jitter = Uniform(g, 0.01, 0.05);
            const double peakAt = Uniform(g, 0.2, 0.8);
            const double edge = Uniform(g, 0.05, 0.4);
            for (int k = 0; k < n; ++k) {
                const double u = n > 1 ? static_cast<double>(k) / (n - 1) : 0.5;
                out.push_back({t, level * Sweep(u, peakAt, edge) * FromDb(2 * Normal(g)),
                               hz + 3000 * Normal(g), duration, Kind::Dolphin});
                ici = std::clamp(ici * pm::Exp(trend + jitter * Normal(g)), 0.01, 0.3);
                t += ici;
            }
            t += Uniform(g, 0.2, 8);
        }
    }
}

// An echosounder: pings of a fixed frequency, length, interval and level.
void AddSonar(std::mt19937_64& g, double start, double length, std::vector<Event>& out) {
    static constexpr double kFrequencies[] = {50e3, 120e3, 130e3, 200e3};
    const double hz = kFrequencies[static_cast<size_t>(Uniform(g, 0, 4))];
    const double interval = Uniform(g, 0.1, 1.5);
    const double duration = Uniform(g, 0.2e-3, 1e-3);
    const double level = LogUniform(g, 100, 6000);
    for (double t = start + Uniform(g, 0, interval); t < start + length; t += interval) {
        out.push_back(
            {t + 5e-6 * Normal(g), level * FromDb(0.3 * Normal(g)), hz, duration, Kind::Sonar});
    }
}

// Episodes at random (Poisson) times at a rate per hour, each lasting minMin ... maxMin minutes.
template <class Add>
void Episodes(std::mt19937_64& g, double seconds, double perHour, double minMin, double maxMin,
              Add add, std::vector<Event>& out) {
    if (perHour <= 0) return;
    double t = -pm::Log(1 - Uniform01(g)) * 3600 / perHour - maxMin * 30;
    while (t < seconds) {
        const double length = 60 * Uniform(g, minMin, maxMin);
        add(g, t, length, out);
        t += length - pm::Log(1 - Uniform01(g)) * 3600 / perHour;
    }
}

}  // namespace

void SceneMinute::Count(SceneSource what, double hz, bool audible) {
    switch (what) {
        case SceneSource::Porpoise:
        case SceneSource::Buzz:
            ++PorpoiseClicks;
            if (audible) ++AudiblePorpoiseClicks;
            if (what == SceneSource::Buzz) ++BuzzClicks;
            break;
        case SceneSource::Dolphin:
            ++DolphinClicks;
            break;
        case SceneSource::Sonar:
            ++SonarPings;
            SonarKhz = std::max(SonarKhz, hz / 1000);
            break;
        case SceneSource::Shrimp:
            ++ShrimpClicks;
            break;
    }
}

std::string SceneFileName(const std::string& location, int64_t us) {
    const int64_t minute = FloorDivide(us, kMicrosecondsPerMinute).Quotient;
    const CivilDate d = CivilFromDayNumber(FloorDivide(minute, kMinutesPerDay).Quotient);
    const int64_t inDay = FloorDivide(minute, kMinutesPerDay).Remainder;
    const int64_t second = FloorDivide(us, kMicrosecondsPerSecond).Quotient % 60;
    std::string s;
    AppendZeroPadded(s, d.Year, 4);
    AppendZeroPadded(s, d.Month, 2);
    AppendZeroPadded(s, d.Day, 2);
    AppendZeroPadded(s, inDay / 60, 2);
    AppendZeroPadded(s, inDay % 60, 2);
    AppendZeroPadded(s, second, 2);
    return location + "." + s + ".wav";
}

const char* SceneContentName(SceneContent c) {
    switch (c) {
        case SceneContent::Mixed:
            return "mixed";
        case SceneContent::Sonar:
            return "sonar";
        case SceneContent::Shrimp:
            return "shrimp";
        case SceneContent::Dolphins:
            return "dolphins";
        case SceneContent::Noise:
            return "noise";
    }
    return "";
}

const char* SceneStyleName(SceneStyle s) {
    return s == SceneStyle::Field ? "field" : "basic";
}

Scene PlanScene(const SceneOptions& o) {
    if (o.Style == SceneStyle::Field) return PlanFieldScene(o);
    if (!(o.Hours > 0 && o.Hours <= 24 * 366)) throw std::invalid_argument("hours out of range");
    if (!(o.RecordSeconds >= 1 && o.RecordSeconds <= o.CycleSeconds)) {
        throw std::invalid_argument("recordings must be 1 s or longer and fit their cycle");
    }
    if (std::fmod(o.CycleSeconds, 60) != 0 || o.StartUs % kMicrosecondsPerMinute != 0) {
        throw std::invalid_argument("recordings start on whole minutes");
    }
    std::mt19937_64 g(o.Seed);
    const double seconds = o.Hours * 3600;
    std::vector<Event> events;
    switch (o.Content) {
        case SceneContent::Mixed:
            Episodes(g, seconds, 2, 3, 20, AddPorpoises, events);
            Episodes(g, seconds, 0.4, 3, 15, AddDolphins, events);
            Episodes(g, seconds, 0.4, 10, 60, AddSonar, events);
            break;
        case SceneContent::Sonar:
            for (double t = 0; t < seconds;) {
                const double length = 60 * Uniform(g, 10, 40);
                AddSonar(g, t, length, events);
                // Often two at once, as from two vessels or a two-frequency sounder.
                if (Uniform01(g) < 0.5) AddSonar(g, t, length, events);
                t += length;
            }
            break;
        case SceneContent::Dolphins:
            Episodes(g, seconds, 3, 5, 20, AddDolphins, events);
            break;
        case SceneContent::Shrimp:
        case SceneContent::Noise:
            break;
    }
    std::sort(events.begin(), events.end(),
              [](const Event& a, const Event& b) { return a.T < b.T; });

    Scene scene;
    const double cycles = std::floor(seconds / o.CycleSeconds);
    for (double c = 0; c < cycles; ++c) {
        const double from = c * o.CycleSeconds;
        const double to = from + o.RecordSeconds;
        SceneRecording rec;
        rec.StartUs = o.StartUs + std::llround(from * 1e6);
        rec.Name = SceneFileName(o.Location, rec.StartUs);
        RecordingSpec& spec = rec.Spec;
        spec.SampleRate = o.SampleRate;
        spec.Seconds = o.RecordSeconds;
        spec.Seed = g();
        spec.NoiseRms = Uniform01(g) < 0.1 ? LogUniform(g, 12, 25) : LogUniform(g, 2, 12);
        std::vector<Event> here;
        for (auto it = std::lower_bound(events.begin(), events.end(), from,
                                        [](const Event&e, double t) { return e.T < t; });
             it != events.end() && it->T < to; ++it) {
            here.push_back(*it);
        }
        double shrimpRate = 0;
        if (o.Content == SceneContent::Mixed && Uniform01(g) < 0.7)
            shrimpRate = LogUniform(g, 0.3, 30);
        if (o.Content == SceneContent::Shrimp) shrimpRate = LogUniform(g, 5, 60);
        if (o.Content == SceneContent::Sonar) shrimpRate = LogUniform(g, 0.2, 2);
        if (shrimpRate > 0) {
            for (double t = from - pm::Log(1 - Uniform01(g)) / shrimpRate; t < to;
                 t -= pm::Log(1 - Uniform01(g)) / shrimpRate) {
                here.push_back({t, LogUniform(g, std::max(30.0, 3 * spec.NoiseRms), 20000),
                                Uniform(g, 20e3, 200e3), Uniform(g, 4e-6, 20e-6), Kind::Shrimp});
            }
            std::sort(here.begin(), here.end(),
                      [](const Event& a, const Event& b) { return a.T < b.T; });
        }

        // The truth of each minute the recording covers.
        const double audible = std::max(kAudibleFloor, kAudibleOverNoise * spec.NoiseRms);
        for (double m = std::floor(from / 60) * 60; m < to; m += 60) {
            SceneMinute minute;
            minute.StartUs = o.StartUs + std::llround(m * 1e6);
            minute.RecordedSeconds = std::min(to, m + 60) - std::max(from, m);
            minute.NoiseRms = spec.NoiseRms;
            for (const Event& e : here) {
                if (e.T >= m && e.T < m + 60) minute.Count(e.What, e.Hz, e.Amplitude >= audible);
            }
            scene.Minutes.push_back(minute);
        }

        for (const Event& e : here) {
            ClickTrain t;
            t.StartSec = e.T - from;
            t.Clicks = 1;
            t.FrequencyHz = e.Hz;
            t.DurationSec = e.Duration;
            t.PeakAmplitude = e.Amplitude;
            t.Shape = TrainShape::Flat;
            t.PhaseTurns = Uniform01(g);
            spec.Trains.push_back(t);
            rec.Sources.push_back(e.What);
        }
        scene.Recordings.push_back(std::move(rec));
    }
    return scene;
}

std::string SceneTruthHeading() {
    return "minute,location,content,recorded_s,porpoise_clicks,audible_porpoise_clicks,"
           "buzz_clicks,dolphin_clicks,sonar_pings,sonar_khz,shrimp_clicks,noise_rms\r\n";
}

std::string SceneTruthRow(const SceneMinute& m, const std::string& location, SceneContent c) {
    return IsoMicroseconds(m.StartUs, 'T') + "Z," + location + "," + SceneContentName(c) + "," +
           FixedText(m.RecordedSeconds, 3) + "," + std::to_string(m.PorpoiseClicks) + "," +
           std::to_string(m.AudiblePorpoiseClicks) + "," + std::to_string(m.BuzzClicks) + "," +
           std::to_string(m.DolphinClicks) + "," + std::to_string(m.SonarPings) + "," +
           FixedText(m.SonarKhz, 0) + "," + std::to_string(m.ShrimpClicks) + "," +
           FixedText(m.NoiseRms, 2) + "\r\n";
}

}  // namespace wtk::synth
