#include "synth/field_scenes.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include "base/calendar.h"
#include "synth/portable_math.h"
#include "synth/random_draws.h"

namespace wtk::synth {

namespace {

namespace pm = portable;

constexpr double kSoundSpeed = 1500;  // m/s
// Absorption, dB/m: at porpoise frequencies, at dolphins' and low sounders'.
constexpr double kHighAbsorption = 0.04;
constexpr double kLowAbsorption = 0.015;

// One pulse reaching the hydrophone, seconds from the scene's start.
struct Pulse {
    double T = 0;
    double Amplitude = 0;  // counts, before clipping
    double Hz = 0;
    double Duration = 0;
    double Phase = 0;  // turns
    SceneSource What = SceneSource::Porpoise;
    SceneArrival How = SceneArrival::Direct;
};

double Db(double ratio) {
    return 20 * pm::Log(ratio) / pm::Log(10.0);
}

double FromDb(double db) {
    return pm::Exp(db * pm::Log(10.0) / 20);
}

// The arc tangent in degrees.
double AtanDegrees(double x) {
    return 360 * pm::AtanTurns(x);
}

// The water around the hydrophone.
struct Site {
    double Depth = 20;        // m
    double PhoneDepth = 10;   // m
    double SurfaceGain = -3;  // dB at a reflection
    double BottomGain = -12;
    double MaxHz = 0;              // frequencies at and above are not recorded
    double ClipDb = kFieldClipDb;  // the level of full scale at the recorder's gain
};

// A source at depth and horizontal range r: the direct path, and the paths reflected once by
// the surface and by the bottom, with the angle (degrees) by which each leaves the source
// above or below the direct one.
struct Paths {
    double Direct = 0;
    double Surface = 0, SurfaceAngle = 0;
    double Bottom = 0, BottomAngle = 0;
};

Paths PathsOf(const Site& s, double range, double depth) {
    const double r = std::max(range, 1.0);
    const double dz = depth - s.PhoneDepth;
    const double up = depth + s.PhoneDepth;                  // to the phone's image above
    const double down = 2 * s.Depth - depth - s.PhoneDepth;  // and below
    Paths p;
    p.Direct = std::sqrt(r * r + dz * dz);
    p.Surface = std::sqrt(r * r + up * up);
    p.Bottom = std::sqrt(r * r + down * down);
    const double direct = AtanDegrees(dz / r);
    p.SurfaceAngle = std::fabs(AtanDegrees(up / r) - direct);
    p.BottomAngle = std::fabs(AtanDegrees(-down / r) - direct);
    return p;
}

// Spreading and absorption over a path.
double Loss(double path, double absorption) {
    return Db(std::max(path, 1.0)) + absorption * path;
}

// The level (dB) of a click heard theta degrees off its source's axis: a main lobe 3 dB down at
// halfBeam, no lower than floor.
double Beam(double theta, double halfBeam, double floor) {
    const double x = theta / halfBeam;
    return std::max(-3 * x * x, floor);
}

// The distance of a source passing at its closest at closest m and speed m/s, at t.
double Distance(double closest, double speed, double atClosest, double t) {
    const double along = speed * (t - atClosest);
    return std::sqrt(closest * closest + along * along);
}

// What the hydrophone hears of one click: the click (and its further pulse), and its echoes
// from the surface and the bottom, each at the level its source sends that way.
struct Click {
    double T = 0;
    double Range = 0;
    double Depth = 0;
    double SourceDb = 0;  // at 1 m on the axis
    double OffAxis = 0;   // degrees, of the direct path
    double HalfBeam = 8;
    double BeamFloor = -22;
    double Absorption = kHighAbsorption;
    double Hz = 0;
    double Duration = 0;
    // A further pulse: its delay, level relative to the click (0: none) and frequency.
    double SecondDelay = 0;
    double SecondGain = 0;
    double SecondHz = 0;
    SceneSource What = SceneSource::Porpoise;
};

void Hear(std::mt19937_64& g, const Site& s, const Click& c, std::vector<Pulse>& out) {
    if (c.Hz >= s.MaxHz) return;
    const Paths p = PathsOf(s, c.Range, c.Depth);
    const double phase = Uniform01(g);
    auto level = [&](double angle, double path) {
        return c.SourceDb + Beam(angle, c.HalfBeam, c.BeamFloor) - Loss(path, c.Absorption);
    };
    const double direct = CountsOfLevel(level(c.OffAxis, p.Direct), s.ClipDb);
    out.push_back({c.T, direct, c.Hz, c.Duration, phase, c.What, SceneArrival::Direct});
    if (c.SecondGain > 0 && c.SecondHz < s.MaxHz) {
        out.push_back({c.T + c.SecondDelay, direct * c.SecondGain, c.SecondHz, c.Duration,
                       Uniform01(g), c.What, SceneArrival::Component});
    }
    // The surface turns the pressure over.
    const double surfaceAngle = std::sqrt(c.OffAxis * c.OffAxis + p.SurfaceAngle * p.SurfaceAngle);
    out.push_back({c.T + (p.Surface - p.Direct) / kSoundSpeed,
                   CountsOfLevel(level(surfaceAngle, p.Surface) + s.SurfaceGain, s.ClipDb), c.Hz,
                   c.Duration, phase + 0.5, c.What, SceneArrival::Echo});
    const double bottomAngle = std::sqrt(c.OffAxis * c.OffAxis + p.BottomAngle * p.BottomAngle);
    out.push_back({c.T + (p.Bottom - p.Direct) / kSoundSpeed,
                   CountsOfLevel(level(bottomAngle, p.Bottom) + s.BottomGain, s.ClipDb), c.Hz,
                   c.Duration, phase, c.What, SceneArrival::Echo});
}

// An animal's scanning: the angle off its axis at which the hydrophone hears it, as its head
// swings amplitude degrees to either side of a heading every period seconds.
struct Scan {
    double Heading = 0;
    double Amplitude = 10;
    double Period = 2;
    double Phase = 0;
    double At(double t) const {
        return std::fabs(Heading + Amplitude * pm::SinCosTurns(t / Period + Phase).Sin);
    }
};

Scan DrawScan(std::mt19937_64& g, double spread, double lo, double hi) {
    return {spread * Normal(g), Uniform(g, lo, hi), Uniform(g, 0.5, 4), Uniform01(g)};
}

// A group of porpoises passing: each animal clicks in trains of drifting interval, scanning,
// some ending in a buzz.
void AddPorpoises(std::mt19937_64& g, const Site& s, double start, double length,
                  std::vector<Pulse>& out) {
    const double pick = Uniform01(g);
    const int animals = pick < 0.5 ? 1 : pick < 0.75 ? 2 : pick < 0.9 ? 3 : 4;
    const double closest = LogUniform(g, 2, 400);
    const double atClosest = start + Uniform(g, 0.2, 0.8) * length;
    for (int a = 0; a < animals; ++a) {
        // Now and then an animal comes to look at the hydrophone: close, level with it and
        // facing it, lingering, so its clicks reach it near the axis and may clip.
        const bool curious = Uniform01(g) < 0.2;
        const double myClosest = curious
                                     ? LogUniform(g, 2, 10)
                                     : std::clamp(closest * pm::Exp(0.4 * Normal(g)), 2.0, 800.0);
        const double speed = curious ? Uniform(g, 0.05, 0.2) : Uniform(g, 0.3, 2);
        const double sourceDb = Uniform(g, 175, 199);
        const double hz = Uniform(g, 120e3, 145e3);
        const double duration = Uniform(g, 50e-6, 180e-6);
        const double depth = curious
                                 ? std::clamp(s.PhoneDepth + Uniform(g, -2, 2), 1.0, s.Depth - 1)
                                 : Uniform(g, 1, s.Depth - 1);
        const double secondDelay = Uniform(g, 15e-6, 50e-6);
        double t = start + Uniform(g, 0, 0.3 * length);
        while (t < start + length) {
            const double kind = Uniform01(g);
            const double lo = kind < 0.2 ? 0.015 : kind < 0.75 ? 0.03 : 0.1;
            const double hi = kind < 0.2 ? 0.03 : kind < 0.75 ? 0.1 : 0.25;
            double ici = LogUniform(g, lo, hi);
            const int n = Uniform01(g) < 0.25
                              ? 5 + static_cast<int>(Uniform(g, 0, 6))
                              : static_cast<int>(std::lround(LogUniform(g, 10, 300)));
            double trend = Uniform(g, -0.015, 0.015);
            const double jitter = LogUniform(g, 0.004, 0.04);
            const Scan scan = DrawScan(g, curious ? 5 : 35, 5, 30);
            const double floor = Uniform(g, -26, -18);
            const double wobble = Uniform(g, 0.5, 2.5);
            auto click = [&](double when, double levelDb, SceneSource what) {
                Click c;
                c.T = when;
                c.Range = Distance(myClosest, speed, atClosest, when);
                c.Depth = depth;
                c.OffAxis = scan.At(when);
                c.SourceDb = levelDb + wobble * Normal(g);
                c.HalfBeam = 8;
                c.BeamFloor = floor + 2 * Normal(g);
                c.Absorption = kHighAbsorption;
                // Heard off the axis a click is lower in frequency and has a second pulse.
                const double off = std::max(0.0, c.OffAxis - 10);
                c.Hz = hz - std::min(12e3, 250 * off) + 700 * Normal(g);
                c.Duration = duration;
                if (c.OffAxis > 15) {
                    c.SecondDelay = secondDelay;
                    c.SecondGain = Uniform(g, 0.3, 0.8) * std::min(1.0, (c.OffAxis - 15) / 15);
                    c.SecondHz = c.Hz - 10e3;
                }
                c.What = what;
                Hear(g, s, c, out);
            };
            for (int k = 0; k < n && t < start + length; ++k) {
                click(t, sourceDb, SceneSource::Porpoise);
                if (Uniform01(g) < 0.03) trend = -trend;  // the animal turns
                ici = std::clamp(ici * pm::Exp(trend + jitter * Normal(g)), 0.01, 0.3);
                t += ici;
            }
            if (Uniform01(g) < 0.25) {
                // Closing on prey: the interval falls to a buzz, quieter clicks.
                const double buzzIci = LogUniform(g, 1.5e-3, 5e-3);
                const int approach = 5 + static_cast<int>(Uniform(g, 0, 11));
                const double fall = pm::Exp(pm::Log(buzzIci / ici) / approach);
                const double buzzDb = sourceDb - Uniform(g, 6, 15);
                for (int k = 0; k < approach; ++k) {
                    ici *= fall;
                    click(t, sourceDb - (sourceDb - buzzDb) * k / approach, SceneSource::Porpoise);
                    t += ici;
                }
                const int buzz = static_cast<int>(std::lround(LogUniform(g, 20, 400)));
                double buzzTrend = Uniform(g, -0.01, 0.01);
                for (int k = 0; k < buzz; ++k) {
                    click(t, buzzDb, SceneSource::Buzz);
                    if (Uniform01(g) < 0.05) buzzTrend = -buzzTrend;
                    ici = std::clamp(ici * pm::Exp(buzzTrend + 0.03 * Normal(g)), 1.5e-3, 8e-3);
                    t += ici;
                }
                t += Uniform(g, 1, 5);
            }
            t += LogUniform(g, 0.3, 20);
            if (Uniform01(g) < 0.1) t += Uniform(g, 10, 90);  // a dive, or out of hearing
        }
    }
}

// A group of dolphins passing: broadband clicks, louder and lower than porpoises', in trains
// and burst pulses.
void AddDolphins(std::mt19937_64& g, const Site& s, double start, double length,
                 std::vector<Pulse>& out) {
    const int animals = 2 + static_cast<int>(Uniform(g, 0, 11));
    const double closest = LogUniform(g, 20, 800);
    const double atClosest = start + Uniform(g, 0.2, 0.8) * length;
    for (int a = 0; a < animals; ++a) {
        const double myClosest = std::clamp(closest * pm::Exp(0.4 * Normal(g)), 10.0, 1500.0);
        const double speed = Uniform(g, 1, 4);
        const double sourceDb = Uniform(g, 190, 215);
        const double hz = Uniform(g, 30e3, 120e3);
        const double duration = Uniform(g, 8e-6, 40e-6);
        const bool twoBands = Uniform01(g) < 0.3;
        const double highHz = Uniform(g, 105e3, 130e3);
        const double highGain = Uniform(g, 0.6, 1.4);
        const double depth = Uniform(g, 1, s.Depth - 1);
        double t = start + Uniform(g, 0, 0.3 * length);
        while (t < start + length) {
            const bool burst = Uniform01(g) < 0.1;
            double ici = burst ? LogUniform(g, 2e-3, 8e-3) : LogUniform(g, 0.02, 0.2);
            const int n = static_cast<int>(
                std::lround(burst ? LogUniform(g, 20, 200) : LogUniform(g, 10, 300)));
            const double trend = Uniform(g, -0.01, 0.01);
            const double jitter = LogUniform(g, 0.01, 0.06);
            const Scan scan = DrawScan(g, 35, 5, 25);
            const double floor = Uniform(g, -28, -20);
            for (int k = 0; k < n && t < start + length; ++k) {
                Click c;
                c.T = t;
                c.Range = Distance(myClosest, speed, atClosest, t);
                c.Depth = depth;
                c.OffAxis = scan.At(t);
                c.SourceDb = sourceDb + 2 * Normal(g);
                c.HalfBeam = 5;
                c.BeamFloor = floor + 2 * Normal(g);
                c.Absorption = kLowAbsorption;
                const double off = std::max(0.0, c.OffAxis - 5);
                c.Hz = hz * (1 - std::min(0.5, 0.015 * off)) + 3e3 * Normal(g);
                c.Duration = duration * (1 + std::min(1.0, 0.03 * off));
                if (twoBands && c.OffAxis < 20) {
                    c.SecondDelay = 0;
                    c.SecondGain = highGain * (1 - c.OffAxis / 20);
                    c.SecondHz = highHz + 2e3 * Normal(g);
                }
                c.What = SceneSource::Dolphin;
                Hear(g, s, c, out);
                ici = std::clamp(ici * pm::Exp(trend + jitter * Normal(g)), 1.5e-3, 0.3);
                t += ici;
            }
            t += LogUniform(g, 0.2, 10);
        }
    }
}

// A vessel passing (or moored: it stays at its closest): its engine's noise, and perhaps its
// echosounders.
struct Passage {
    double AtClosest = 0;
    double HalfWidth = 0;  // s: sqrt(2) times the closest distance away
    double PeakRms = 0;
    double BladeHz = 0;
    double Depth = 0;
};

void AddVessel(std::mt19937_64& g, const Site& s, double start, double length, bool sounders,
               std::vector<Pulse>& out, std::vector<Passage>& passages) {
    const bool moored = sounders && Uniform01(g) < 0.3;
    const double closest = LogUniform(g, 30, 1000);
    const double speed = moored ? 0 : Uniform(g, 2, 8);
    const double atClosest = start + Uniform(g, 0.3, 0.7) * length;
    if (!moored) {
        passages.push_back({atClosest, closest / speed, LogUniform(g, 2, 40), Uniform(g, 8, 40),
                            Uniform(g, 0.2, 0.9)});
    }
    if (!sounders) return;
    // One sounder, or two frequencies pinging together.
    const int frequencies = Uniform01(g) < 0.3 ? 2 : 1;
    const bool sideLooking = Uniform01(g) < 0.15;
    const double interval = sideLooking ? Uniform(g, 0.03, 0.08) : LogUniform(g, 0.1, 2);
    const double first = start + Uniform(g, 0, interval);
    for (int f = 0; f < frequencies; ++f) {
        static constexpr double kHz[] = {38e3, 50e3, 120e3, 130e3, 200e3};
        const double hz =
            sideLooking ? Uniform(g, 100e3, 140e3) : kHz[static_cast<size_t>(Uniform(g, 0, 5))];
        const double duration = sideLooking  ? Uniform(g, 40e-6, 150e-6)
                                : hz < 100e3 ? Uniform(g, 0.3e-3, 2e-3)
                                             : Uniform(g, 0.1e-3, 1e-3);
        const double absorption = hz < 100e3 ? kLowAbsorption : kHighAbsorption;
        const double atClosestCounts = LogUniform(g, 40, 30000);
        const double sourceDb = Db(atClosestCounts / 32767) + s.ClipDb + Loss(closest, absorption);
        const double echoDelay = 2 * s.Depth / kSoundSpeed * Uniform(g, 0.8, 1.2);
        const double echoGain = FromDb(s.BottomGain + Uniform(g, -6, 3));
        for (double t = first; t < start + length; t += interval) {
            const double d = Distance(closest, speed, atClosest, t);
            const double level = sourceDb - Loss(d, absorption) + 1.5 * Normal(g);
            const double amplitude = CountsOfLevel(level, s.ClipDb);
            const double at = t + 2e-6 * Normal(g);  // the sounder's clock
            if (hz >= s.MaxHz) continue;
            out.push_back({at, amplitude, hz, duration, Uniform01(g), SceneSource::Sonar,
                           SceneArrival::Direct});
            out.push_back({at + echoDelay, amplitude * echoGain, hz, duration, Uniform01(g),
                           SceneSource::Sonar, SceneArrival::Echo});
        }
    }
}

// Episodes at random (Poisson) times at a rate per hour, each lasting minMin ... maxMin
// minutes; the first may have begun before the scene.
template <class Add>
void Episodes(std::mt19937_64& g, double seconds, double perHour, double minMin, double maxMin,
              Add add) {
    double t = -pm::Log(1 - Uniform01(g)) * 3600 / perHour - maxMin * 30;
    while (t < seconds) {
        const double length = 60 * Uniform(g, minMin, maxMin);
        add(t, length);
        t += length - pm::Log(1 - Uniform01(g)) * 3600 / perHour;
    }
}

}  // namespace

double CountsOfLevel(double dbPeak, double clipDb) {
    return 32767 * FromDb(dbPeak - clipDb);
}

Scene PlanFieldScene(const SceneOptions& o) {
    if (!(o.Hours > 0 && o.Hours <= 24 * 366)) throw std::invalid_argument("hours out of range");
    if (!(o.RecordSeconds >= 1 && o.RecordSeconds <= o.CycleSeconds)) {
        throw std::invalid_argument("recordings must be 1 s or longer and fit their cycle");
    }
    if (std::fmod(o.CycleSeconds, 60) != 0 || o.StartUs % kMicrosecondsPerMinute != 0) {
        throw std::invalid_argument("recordings start on whole minutes");
    }
    std::mt19937_64 g(o.Seed);
    const double seconds = o.Hours * 3600;
    Site site;
    site.Depth = Uniform(g, 8, 40);
    site.PhoneDepth = Uniform(g, 2, std::min(20.0, site.Depth - 1));
    site.SurfaceGain = Uniform(g, -6, -1);
    site.BottomGain = Uniform(g, -20, -8);
    site.MaxHz = 0.45 * o.SampleRate;
    site.ClipDb = Uniform(g, kFieldClipDb - 12, kFieldClipDb);

    std::vector<Pulse> pulses;
    std::vector<Passage> passages;
    auto porpoises = [&](double t, double length) { AddPorpoises(g, site, t, length, pulses); };
    auto dolphins = [&](double t, double length) { AddDolphins(g, site, t, length, pulses); };
    auto sounders = [&](double t, double length) {
        AddVessel(g, site, t, length, true, pulses, passages);
    };
    auto engines = [&](double t, double length) {
        AddVessel(g, site, t, length, false, pulses, passages);
    };
    switch (o.Content) {
        case SceneContent::Mixed:
            Episodes(g, seconds, 4, 1, 25, porpoises);
            Episodes(g, seconds, 0.4, 5, 25, dolphins);
            Episodes(g, seconds, 0.6, 10, 60, sounders);
            Episodes(g, seconds, 0.5, 5, 20, engines);
            break;
        case SceneContent::Sonar:
            Episodes(g, seconds, 3, 10, 40, sounders);
            break;
        case SceneContent::Dolphins:
            Episodes(g, seconds, 3, 5, 25, dolphins);
            break;
        case SceneContent::Noise:
            Episodes(g, seconds, 2, 5, 30, engines);
            break;
        case SceneContent::Shrimp:
            break;
    }
    std::stable_sort(pulses.begin(), pulses.end(),
                     [](const Pulse& a, const Pulse& b) { return a.T < b.T; });

    Scene scene;
    scene.AudibleOverNoise = kFieldAudibleOverNoise;
    scene.AudibleFloor = kFieldAudibleFloor;
    scene.PositiveClicks = kFieldPositiveClicks;
    // The sea's noise wanders from one recording to the next.
    double logNoise = Uniform(g, pm::Log(2), pm::Log(30));
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
        logNoise += 0.3 * Normal(g);
        if (logNoise < pm::Log(2)) logNoise = 2 * pm::Log(2) - logNoise;
        if (logNoise > pm::Log(30)) logNoise = 2 * pm::Log(30) - logNoise;
        spec.NoiseRms = pm::Exp(logNoise);
        for (const Passage& p : passages) {
            if (std::fabs(p.AtClosest - (from + to) / 2) < 30 * p.HalfWidth + o.RecordSeconds) {
                spec.Swells.push_back(
                    {p.AtClosest - from, p.HalfWidth, p.PeakRms, p.BladeHz, p.Depth});
            }
        }
        std::vector<Pulse> here;
        for (auto it = std::lower_bound(pulses.begin(), pulses.end(), from,
                                        [](const Pulse&p, double t) { return p.T < t; });
             it != pulses.end() && it->T < to; ++it) {
            here.push_back(*it);
        }
        // Snapping shrimp: a bed near the hydrophone snaps at its own rate in each recording.
        double shrimpRate = 0;
        if (o.Content == SceneContent::Mixed && Uniform01(g) < 0.6) {
            shrimpRate = LogUniform(g, 0.5, 100);
        }
        if (o.Content == SceneContent::Shrimp) shrimpRate = LogUniform(g, 20, 400);
        if (shrimpRate > 0) {
            for (double t = from - pm::Log(1 - Uniform01(g)) / shrimpRate; t < to;
                 t -= pm::Log(1 - Uniform01(g)) / shrimpRate) {
                here.push_back({t, LogUniform(g, 2 * spec.NoiseRms, 40000),
                                Uniform(g, 20e3, std::min(180e3, site.MaxHz)),
                                Uniform(g, 3e-6, 15e-6), Uniform01(g), SceneSource::Shrimp,
                                SceneArrival::Direct});
            }
            std::stable_sort(here.begin(), here.end(),
                             [](const Pulse& a, const Pulse& b) { return a.T < b.T; });
        }

        for (double m = std::floor(from / 60) * 60; m < to; m += 60) {
            SceneMinute minute;
            minute.StartUs = o.StartUs + std::llround(m * 1e6);
            minute.RecordedSeconds = std::min(to, m + 60) - std::max(from, m);
            minute.NoiseRms = spec.NoiseRms;
            for (const Pulse& p : here) {
                if (p.T < m || p.T >= m + 60 || p.How != SceneArrival::Direct) continue;
                const bool porpoise =
                    p.What == SceneSource::Porpoise || p.What == SceneSource::Buzz;
                minute.Count(p.What, p.Hz,
                             porpoise && p.Amplitude >= std::max(kFieldAudibleFloor,
                                                                 kFieldAudibleOverNoise *
                                                                     NoiseRmsAt(spec, p.T - from)));
            }
            scene.Minutes.push_back(minute);
        }

        for (const Pulse& p : here) {
            ClickTrain t;
            t.StartSec = p.T - from;
            t.Clicks = 1;
            t.FrequencyHz = p.Hz;
            t.DurationSec = p.Duration;
            t.PeakAmplitude = p.Amplitude;
            t.Shape = TrainShape::Flat;
            t.PhaseTurns = p.Phase - std::floor(p.Phase);
            spec.Trains.push_back(t);
            rec.Sources.push_back(p.What);
            rec.Arrivals.push_back(p.How);
        }
        scene.Recordings.push_back(std::move(rec));
    }
    return scene;
}

}  // namespace wtk::synth
