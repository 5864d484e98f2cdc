// make bench-presence and the presence part of make bench: how well and how fast click trains
// and presence are found.
//
//   presence_bench scenes [--hours H] [--seed N] [--dir DIR] [--jobs N]
//       Duty-cycled recordings of acoustic scenes (wavtokeb-synth scenes: two minutes recorded
//       every ten): H hours of mixed scenes (10) and an hour each of echosounders only,
//       snapping shrimp only, dolphins only and noise only, generated, converted by
//       wavtokeb-cli convert and deleted in turns of an hour, so that the disk holds at most
//       an hour's recordings. Then wavtokeb-cli trains and presence --per minute over the TK1
//       files, and against the truth of every recorded minute: the NBHF detection-positive
//       minutes' precision and recall, those of two hand-made rules on the same clicks (a
//       minute with a click; a minute with at least 10 clicks of 110-150 kHz and 5 cycles), the
//       NBHF minutes of the hours without porpoises, and the confusion of the train classes
//       with what made the trains' clicks.
//   presence_bench year [--dir DIR]
//       A year of one location written straight as a TK1 file (525,600 minutes, about 20 M
//       clicks: porpoise encounters, echosounders, random clicks) with its recordings table;
//       wavtokeb-cli trains and presence --per hour on one processor (taskset -c 0): CPU time,
//       wall time and peak memory.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/calendar.h"
#include "bench_run.h"
#include "output/tk1_codec.h"
#include "presence/location_clicks.h"
#include "presence/trains.h"
#include "synth/scenes.h"
#include "synth/synth.h"
#include "synth/tk1_sketch.h"

namespace {

namespace fs = std::filesystem;
namespace synth = wtk::synth;
namespace presence = wtk::presence;
using wtk::kMicrosecondsPerMinute;

std::string kCli = WTK_CLI_PATH;  // --cli: another build of the tool

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "presence_bench: %s\n", what.c_str());
    std::exit(1);
}

bool HasTaskset() {
    return std::system("taskset -c 0 true > /dev/null 2>&1") == 0;
}

// ---- scenes ----

struct SceneTruth {
    std::string Location;  // as the TK1 files name it
    synth::SceneContent Content;
    synth::SceneMinute Minute;
    int32_t PositiveClicks = 0;  // the scene's rule: audible porpoise clicks of a true minute
};

// What made each click, by its time: the scene's clicks in the order of their times.
struct SourceClick {
    int64_t TimeUs;
    synth::SceneSource What;
    synth::SceneArrival How = synth::SceneArrival::Direct;
    float OverNoise = 0;  // its amplitude over the noise RMS at its time
};

// Generates the recordings of one scene an hour at a time, converting each hour into its own
// folder of out and deleting its recordings.
void MakeScene(const synth::SceneOptions& options, const fs::path& dir, int jobs,
               std::vector<SceneTruth>& truth, std::vector<SourceClick>& sources,
               synth::Scene& rule) {
    const synth::Scene scene = synth::PlanScene(options);
    rule.AudibleOverNoise = scene.AudibleOverNoise;
    rule.AudibleFloor = scene.AudibleFloor;
    rule.PositiveClicks = scene.PositiveClicks;
    for (const synth::SceneMinute& m : scene.Minutes) {
        truth.push_back(
            {"NewFileName" + options.Location, options.Content, m, scene.PositiveClicks});
    }
    const size_t perHour = static_cast<size_t>(std::round(3600 / options.CycleSeconds));
    for (size_t first = 0; first < scene.Recordings.size(); first += perHour) {
        const size_t last = std::min(scene.Recordings.size(), first + perHour);
        const fs::path wav = dir / "wav";
        fs::remove_all(wav);
        fs::create_directories(wav);
        std::vector<std::thread> workers;
        std::atomic<size_t> next{first};
        auto work = [&] {
            for (size_t i = next++; i < last; i = next++) {
                const synth::SceneRecording& r = scene.Recordings[i];
                synth::WriteWav((wav / r.Name).string(), r.Spec);
            }
        };
        for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
        work();
        for (std::thread& w : workers) w.join();
        const fs::path out =
            dir / "out" / (options.Location + "-" + std::to_string(first / perHour));
        const wtk::bench::Usage u =
            wtk::bench::Run({kCli, "convert", wav.string(), "-o", out.string(), "-q"});
        if (!u.ok) Fail("the conversion of " + wav.string() + " failed");
        fs::remove_all(wav);
        std::printf("  %s hour %zu: %zu recordings converted\n", options.Location.c_str(),
                    first / perHour + 1, last - first);
        std::fflush(stdout);
    }
    // The converter reads from the 100th byte: its times are 28 samples behind the clicks'.
    const int64_t skipUs = std::llround(1e6 * synth::kConverterSkipSamples / options.SampleRate);
    for (const synth::SceneRecording& r : scene.Recordings) {
        for (size_t i = 0; i < r.Spec.Trains.size(); ++i) {
            const synth::ClickTrain& c = r.Spec.Trains[i];
            sources.push_back(
                {r.StartUs + std::llround(c.StartSec * 1e6) - skipUs, r.Sources[i],
                 r.Arrivals.empty() ? synth::SceneArrival::Direct : r.Arrivals[i],
                 static_cast<float>(c.PeakAmplitude / synth::NoiseRmsAt(r.Spec, c.StartSec))});
        }
    }
}

// The minute numbers (of the TK1 clock: minutes since 1899-12-30) of an ISO 8601 time.
int64_t MinuteOf(const std::string& iso) {
    const auto parsed = wtk::ParseIsoMicroseconds(iso);
    if (!parsed) Fail("no time: " + iso);
    return wtk::FloorDivide(parsed->first, kMicrosecondsPerMinute).Quotient;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, ',')) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    return cells;
}

struct Score {
    int Detected = 0, TruePositive = 0, FalsePositive = 0, Audible = 0, Found = 0;
    void Add(bool detected, bool anyPorpoise, bool audible) {
        Detected += detected;
        TruePositive += detected && anyPorpoise;
        FalsePositive += detected && !anyPorpoise;
        Audible += audible;
        Found += audible && detected;
    }
    void Print(const char* rule) const {
        std::printf("  %-44s %8d %5d %5d %5d %9.3f %7.3f\n", rule, Detected, TruePositive,
                    FalsePositive, Audible - Found,
                    Detected > 0 ? static_cast<double>(TruePositive) / Detected : 0.0,
                    Audible > 0 ? static_cast<double>(Found) / Audible : 0.0);
    }
};

// The scenes of a style: its mixed hours and an hour of each kind of sound without porpoises.
// The field scenes run half their mixed hours and each hour without porpoises at both sample
// rates recorders use for porpoises.
struct ScenePlan {
    synth::SceneContent Content;
    double Hours;
    int32_t Rate;
};
std::vector<ScenePlan> PlanOf(synth::SceneStyle style, double hours) {
    using C = synth::SceneContent;
    if (style == synth::SceneStyle::Basic) {
        return {{C::Mixed, hours, 576000},
                {C::Sonar, 1, 576000},
                {C::Shrimp, 1, 576000},
                {C::Dolphins, 1, 576000},
                {C::Noise, 1, 576000}};
    }
    std::vector<ScenePlan> plan;
    for (const int32_t rate : {576000, 384000}) plan.push_back({C::Mixed, hours / 2, rate});
    for (const C c : {C::Sonar, C::Shrimp, C::Dolphins, C::Noise}) {
        for (const int32_t rate : {576000, 384000}) plan.push_back({c, 1, rate});
    }
    return plan;
}

int RunScenes(synth::SceneStyle style, double hours, uint64_t seed, const fs::path& dir, int jobs,
              const std::string& detailsPath) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<SceneTruth> truth;
    std::vector<SourceClick> sources;
    std::printf("%s scenes: two minutes recorded every ten, seed %llu\n",
                style == synth::SceneStyle::Basic ? "Basic" : "Field",
                static_cast<unsigned long long>(seed));
    int64_t start = synth::StartMicroseconds(2024, 6, 1, 0, 0, 0);
    synth::Scene rule;  // the truth's rule, as the scenes of the style state it
    for (const ScenePlan& plan : PlanOf(style, hours)) {
        synth::SceneOptions o;
        o.Style = style;
        o.Seed = seed++;
        o.Content = plan.Content;
        o.Hours = plan.Hours;
        o.StartUs = start;
        o.SampleRate = plan.Rate;
        std::string name = synth::SceneContentName(plan.Content);
        for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        o.Location =
            style == synth::SceneStyle::Basic ? name : name + std::to_string(plan.Rate / 1000);
        o.RecordSeconds = 120;
        o.CycleSeconds = 600;
        MakeScene(o, dir, jobs, truth, sources, rule);
        start += std::llround(plan.Hours * 3600e6) + 24 * 3600'000'000LL;  // the next a day later
    }
    std::sort(sources.begin(), sources.end(),
              [](const SourceClick& a, const SourceClick& b) { return a.TimeUs < b.TimeUs; });

    // The verbs, as a user runs them.
    const fs::path presenceCsv = dir / "presence.csv";
    const fs::path trainsCsv = dir / "trains.csv";
    const wtk::bench::Usage p = wtk::bench::Run(
        {kCli, "presence", (dir / "out").string(), "--per", "minute", "-o", presenceCsv.string()});
    const wtk::bench::Usage t =
        wtk::bench::Run({kCli, "trains", (dir / "out").string(), "-o", trainsCsv.string()});
    if (!p.ok || !t.ok) Fail("wavtokeb-cli presence or trains failed");

    // NBHF-positive minutes as presence gives them.
    std::map<std::pair<std::string, int64_t>, bool> nbhf;
    {
        std::ifstream in(presenceCsv);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::vector<std::string> c = Cells(line);
            if (c.size() < 5) continue;
            nbhf[{c[1], MinuteOf(c[0])}] = !c[4].empty() && c[4] != "0";
        }
    }

    // The hand-made rules, on the clicks of the same TK1 files; the clicks in trains of each
    // class per minute; the time of every click.
    struct MinuteClicks {
        int Clicks = 0, NbhfLike = 0;
        std::array<int, presence::kTrainClasses> Counted{};  // in trains of moderate or better
        int LowNbhf = 0;                                     // in NBHF trains of low quality
    };
    std::map<std::pair<std::string, int64_t>, MinuteClicks> perMinute;
    std::vector<int64_t> clickTimes;
    // The classes of the trains against what made their clicks.
    constexpr int kTruths = 6;  // porpoise, dolphin, sonar, shrimp, noise, mixed
    static const char* kTruthNames[kTruths] = {"porpoise", "dolphin", "sonar",
                                               "shrimp",   "noise",   "mixed"};
    std::array<std::array<int, presence::kTrainClasses>, kTruths> confusion{};
    std::string trainRows =
        "location,train,class,quality,clicks,porpoise,dolphin,sonar,shrimp,noise,echoes\n";
    for (presence::LocationFiles& l : presence::GatherLocations({(dir / "out").string()})) {
        const std::string location = l.Location;
        presence::LocationReader reader(std::move(l));
        presence::TrainIndex index;
        presence::FindTrains(reader, {}, presence::TrainQuality::Moderate,
                             [&](const presence::Train& train) { index.Add(train); });
        struct TrainTruth {
            presence::TrainClass Class;
            presence::TrainQuality Quality;
            std::array<int, kTruths> Made{};
            int Echoes = 0;
        };
        std::map<int64_t, TrainTruth> trainTruth;
        presence::LabelClicks(
            reader, {}, index,
            [&](const presence::TimedClick& click, const presence::TrainLabel* label) {
                clickTimes.push_back(click.TimeUs);
                MinuteClicks& m = perMinute[{
                    location, wtk::FloorDivide(click.TimeUs, kMicrosecondsPerMinute).Quotient}];
                ++m.Clicks;
                const double khz = presence::ClickKhz(click.Fields);
                if (khz >= 110 && khz <= 150 && click.Fields.Ncyc >= 5) ++m.NbhfLike;
                if (label == nullptr) return;
                if (label->Quality >= presence::TrainQuality::Moderate) {
                    ++m.Counted[static_cast<size_t>(label->Class)];
                } else if (label->Class == presence::TrainClass::Nbhf) {
                    ++m.LowNbhf;
                }
                // What made it: the scene's click nearest in time, within a millisecond.
                const auto at =
                    std::lower_bound(sources.begin(), sources.end(), click.TimeUs - 1000,
                                     [](const SourceClick& s, int64_t t) { return s.TimeUs < t; });
                int what = 4;  // noise
                bool echo = false;
                int64_t best = 1001;
                for (auto it = at; it != sources.end() && it->TimeUs <= click.TimeUs + 1000; ++it) {
                    const int64_t d = std::llabs(it->TimeUs - click.TimeUs);
                    if (d < best) {
                        best = d;
                        echo = it->How == synth::SceneArrival::Echo;
                        what = it->What == synth::SceneSource::Porpoise ||
                                       it->What == synth::SceneSource::Buzz
                                   ? 0
                               : it->What == synth::SceneSource::Dolphin ? 1
                               : it->What == synth::SceneSource::Sonar   ? 2
                                                                         : 3;
                    }
                }
                TrainTruth& entry = trainTruth[label->Number];
                entry.Class = label->Class;
                entry.Quality = label->Quality;
                ++entry.Made[static_cast<size_t>(what)];
                entry.Echoes += echo;
            });
        for (const auto& [number, entry] : trainTruth) {
            const auto& counts = entry.Made;
            int total = 0;
            for (int v : counts) total += v;
            const auto most = std::max_element(counts.begin(), counts.end());
            const int truthIndex = 2 * *most >= total ? static_cast<int>(most - counts.begin()) : 5;
            ++confusion[static_cast<size_t>(truthIndex)][static_cast<size_t>(entry.Class)];
            trainRows += location + "," + std::to_string(number) + "," +
                         std::string(presence::ClassName(entry.Class)) + "," +
                         std::string(presence::QualityName(entry.Quality)) + "," +
                         std::to_string(total);
            for (int k = 0; k < 5; ++k) trainRows += "," + std::to_string(counts[size_t(k)]);
            trainRows += "," + std::to_string(entry.Echoes) + "\n";
        }
    }
    std::sort(clickTimes.begin(), clickTimes.end());

    Score trains, anyClick, handRule;
    std::map<std::string, std::pair<int, int>> quietHours;  // location: minutes, NBHF minutes
    std::string minuteRows =
        "location,minute,content,recorded_s,porpoise_clicks,audible_porpoise_clicks,buzz_clicks,"
        "dolphin_clicks,sonar_pings,sonar_khz,shrimp_clicks,noise_rms,truly_positive,detected,"
        "clicks,nbhf_like_clicks,nbhf_train_clicks,dolphin_train_clicks,sonar_train_clicks,"
        "unclassed_train_clicks,low_nbhf_train_clicks\n";
    for (const SceneTruth& t : truth) {
        const int64_t minute = wtk::FloorDivide(t.Minute.StartUs, kMicrosecondsPerMinute).Quotient;
        const bool anyPorpoise = t.Minute.PorpoiseClicks > 0;
        const bool audible = t.Minute.AudiblePorpoiseClicks >= t.PositiveClicks;
        const auto found = nbhf.find({t.Location, minute});
        const bool detected = found != nbhf.end() && found->second;
        const MinuteClicks& m = perMinute[{t.Location, minute}];
        trains.Add(detected, anyPorpoise, audible);
        anyClick.Add(m.Clicks > 0, anyPorpoise, audible);
        handRule.Add(m.NbhfLike >= 10, anyPorpoise, audible);
        if (t.Content != synth::SceneContent::Mixed) {
            ++quietHours[t.Location].first;
            quietHours[t.Location].second += detected;
        }
        const synth::SceneMinute& s = t.Minute;
        minuteRows += t.Location + "," + wtk::IsoMicroseconds(s.StartUs, 'T') + "," +
                      synth::SceneContentName(t.Content) + "," +
                      std::to_string(std::lround(s.RecordedSeconds)) + "," +
                      std::to_string(s.PorpoiseClicks) + "," +
                      std::to_string(s.AudiblePorpoiseClicks) + "," + std::to_string(s.BuzzClicks) +
                      "," + std::to_string(s.DolphinClicks) + "," + std::to_string(s.SonarPings) +
                      "," + std::to_string(std::lround(s.SonarKhz)) + "," +
                      std::to_string(s.ShrimpClicks) + "," + std::to_string(s.NoiseRms) + "," +
                      std::to_string(audible) + "," + std::to_string(detected) + "," +
                      std::to_string(m.Clicks) + "," + std::to_string(m.NbhfLike);
        for (const int c : m.Counted) minuteRows += "," + std::to_string(c);
        minuteRows += "," + std::to_string(m.LowNbhf) + "\n";
    }
    std::printf(
        "\nNBHF detection-positive minutes of %zu recorded minutes: truly positive with %d or more "
        "porpoise clicks loud enough to hear (%.0f times the noise RMS and %.0f counts); a "
        "detected minute without any porpoise click is a false positive.\n",
        truth.size(), rule.PositiveClicks, rule.AudibleOverNoise, rule.AudibleFloor);
    std::printf("  %-44s %8s %5s %5s %5s %9s %7s\n", "rule", "detected", "TP", "FP", "FN",
                "precision", "recall");
    trains.Print("NBHF trains of moderate or high quality");
    anyClick.Print("a minute with a click");
    handRule.Print("10 clicks of 110-150 kHz and 5 cycles");
    std::printf("\nNBHF detection-positive minutes where no porpoise was:\n");
    for (const auto& [location, counts] : quietHours) {
        std::printf("  %-24s %4d minutes recorded, %d NBHF-positive\n", location.c_str(),
                    counts.first, counts.second);
    }
    std::printf("\nTrains by class (columns) and what made most of their clicks (rows):\n");
    std::printf("  %-10s", "");
    for (int c = 0; c < presence::kTrainClasses; ++c) {
        std::printf(" %10s",
                    std::string(presence::ClassName(static_cast<presence::TrainClass>(c))).c_str());
    }
    std::printf("\n");
    for (int r = 0; r < kTruths; ++r) {
        std::printf("  %-10s", kTruthNames[r]);
        for (int c = 0; c < presence::kTrainClasses; ++c) {
            std::printf(" %10d", confusion[static_cast<size_t>(r)][static_cast<size_t>(c)]);
        }
        std::printf("\n");
    }
    std::printf(
        "\n(mixed: no source made half of the train's clicks; noise: clicks no source made)\n");

    // What the detector sees: the share of porpoise clicks (not their echoes) with a detection
    // within 0.3 ms, by their amplitude over the noise RMS.
    static constexpr double kBins[] = {0, 3, 5, 7, 10, 15, 20, 30, 50, 100, 1e300};
    constexpr size_t kBinCount = std::size(kBins) - 1;
    std::array<std::pair<int, int>, kBinCount> seen{};
    for (const SourceClick& c : sources) {
        if (c.How != synth::SceneArrival::Direct ||
            (c.What != synth::SceneSource::Porpoise && c.What != synth::SceneSource::Buzz)) {
            continue;
        }
        size_t bin = 0;
        while (bin + 1 < kBinCount && c.OverNoise >= kBins[bin + 1]) ++bin;
        const auto near = std::lower_bound(clickTimes.begin(), clickTimes.end(), c.TimeUs - 300);
        ++seen[bin].first;
        seen[bin].second += near != clickTimes.end() && *near <= c.TimeUs + 300;
    }
    std::printf("\nPorpoise clicks detected, by their amplitude over the noise RMS:\n");
    for (size_t b = 0; b < kBinCount; ++b) {
        if (seen[b].first == 0) continue;
        std::printf("  %5.0f - %-5s %8d clicks %6.1f %% detected\n", kBins[b],
                    b + 1 < kBinCount ? std::to_string(static_cast<int>(kBins[b + 1])).c_str() : "",
                    seen[b].first, 100.0 * seen[b].second / seen[b].first);
    }
    std::printf("\npresence took %.1f s CPU, trains %.1f s CPU\n", p.cpuMs / 1000, t.cpuMs / 1000);
    if (!detailsPath.empty()) {
        std::ofstream(detailsPath + "-minutes.csv") << minuteRows;
        std::ofstream(detailsPath + "-trains.csv") << trainRows;
        std::printf("per minute and per train: %s-minutes.csv, %s-trains.csv\n",
                    detailsPath.c_str(), detailsPath.c_str());
    }
    return 0;
}

// ---- a year ----

// A year of one location: porpoise encounters, echosounders and random clicks.
int64_t WriteYear(const fs::path& dir) {
    std::mt19937_64 g(2024);
    auto uniform = [&](double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(g() >> 11) * 0x1p-53;
    };
    const int32_t startMin = *wtk::EncodeMinuteNumber(2023, 1, 1, 0, 0);
    constexpr int64_t kMinutes = 525'600;
    const fs::path tk1 = dir / "NewFileNameYEAR 2023 01 01.TK1";
    synth::TK1Sketch sketch(tk1.string(), startMin);
    int64_t clicks = 0;
    std::vector<std::pair<int64_t, wtk::tk1::Click>> minute;  // time in minute, click
    // The sources that run over minutes: when they end, and their state.
    double porpoiseUntil = -1, sonarUntil = -1, sonarNext = 0, sonarIci = 0, sonarKhz = 0;
    double trainNext = 0, ici = 0.05;
    int trainLeft = 0, level = 100;
    for (int64_t m = 0; m < kMinutes; ++m) {
        minute.clear();
        const double t0 = static_cast<double>(m) * 60;
        // Random clicks (shrimp, noise): 0.3 a second.
        for (double t = t0 - std::log(1 - uniform(0, 1)) / 0.3; t < t0 + 60;
             t -= std::log(1 - uniform(0, 1)) / 0.3) {
            minute.emplace_back(
                std::llround((t - t0) * 1e6),
                synth::SketchClick(0, uniform(25, 200), static_cast<int>(uniform(1, 5)),
                                   static_cast<int>(uniform(15, 250)), 12));
        }
        // A porpoise encounter begins about twice a day and lasts 10-60 minutes.
        if (porpoiseUntil < t0 && uniform(0, 1) < 1.8 / 1440) {
            porpoiseUntil = t0 + uniform(600, 3600);
            trainNext = t0;
        }
        while (porpoiseUntil >= t0 && trainNext < t0 + 60) {
            if (trainLeft == 0) {
                trainLeft = static_cast<int>(uniform(20, 120));
                ici = uniform(0.04, 0.12);
                level = static_cast<int>(uniform(60, 240));
            }
            minute.emplace_back(
                std::llround((trainNext - t0) * 1e6),
                synth::SketchClick(0, uniform(128, 140), static_cast<int>(uniform(10, 20)),
                                   level + static_cast<int>(uniform(-4, 4)), 6));
            ici *= std::exp(uniform(-0.03, 0.03));
            trainNext += ici;
            if (--trainLeft == 0) trainNext += uniform(2, 10);
        }
        // An echosounder about every other day for 1-4 hours.
        if (sonarUntil < t0 && uniform(0, 1) < 0.5 / 1440) {
            sonarUntil = t0 + uniform(3600, 4 * 3600);
            sonarIci = uniform(0.25, 1);
            sonarKhz = uniform(0, 1) < 0.5 ? 130 : 50;
            sonarNext = t0;
        }
        while (sonarUntil >= t0 && sonarNext < t0 + 60) {
            minute.emplace_back(std::llround((sonarNext - t0) * 1e6),
                                synth::SketchClick(0, sonarKhz, 60, 200, 8));
            sonarNext += sonarIci;
        }
        std::sort(minute.begin(), minute.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [us, click] : minute) {
            click.ClkTime5MuSecs = static_cast<int32_t>(std::min<int64_t>(us / 5, 11'999'999));
            sketch.Click(startMin + m, click);
            ++clicks;
        }
    }
    sketch.Finish(startMin + kMinutes - 1);
    // One recording a day.
    std::vector<wtk::tk1::RecordingRow> rows;
    for (int day = 0; day < 365; ++day) {
        wtk::tk1::RecordingRow row;
        row.Path = (dir / ("YEAR." + std::to_string(day) + ".wav")).string();
        row.PlacedUs = (int64_t{startMin} + day * 1440) * kMicrosecondsPerMinute;
        row.StartUs = row.PlacedUs;
        row.Zoned = true;
        row.TimeSource = "name";
        row.RateHz = 576000;
        row.Samples = int64_t{86400} * 576000;
        rows.push_back(row);
    }
    synth::WriteSketchSideFiles(tk1.string(), rows);
    return clicks;
}

int RunYear(const fs::path& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const int64_t clicks = WriteYear(dir);
    struct stat st {};
    ::stat((dir / "NewFileNameYEAR 2023 01 01.TK1").c_str(), &st);
    std::printf("A year of one location: 525,600 minutes, %.1f M clicks, a TK1 file of %.0f MB\n",
                static_cast<double>(clicks) / 1e6, static_cast<double>(st.st_size) / 1e6);
    std::vector<std::string> pin;
    if (HasTaskset()) pin = {"taskset", "-c", "0"};
    auto run = [&](std::vector<std::string> args, const char* what) {
        args.insert(args.begin(), pin.begin(), pin.end());
        const wtk::bench::Usage u = wtk::bench::Run(args);
        if (!u.ok) Fail(std::string(what) + " failed");
        std::printf("  %-36s %6.2f s CPU %6.2f s wall %6.0f MB peak memory%s\n", what,
                    u.cpuMs / 1000, u.wallMs / 1000, u.rssMb,
                    pin.empty() ? "" : " (one processor)");
    };
    run({kCli, "trains", dir.string(), "-o", (dir / "trains.csv").string()}, "trains");
    run({kCli, "presence", dir.string(), "--per", "hour", "-o", (dir / "presence.csv").string()},
        "presence --per hour");
    if (std::getenv("WTK_BENCH_KEEP") == nullptr) fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    double hours = 10;
    uint64_t seed = 1;
    synth::SceneStyle style = synth::SceneStyle::Basic;
    std::string details;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    fs::path dir = fs::temp_directory_path() / ("wtk-presence-bench-" + std::to_string(::getpid()));
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--hours") {
            hours = std::atof(value.c_str());
        } else if (name == "--seed") {
            seed = std::strtoull(value.c_str(), nullptr, 10);
        } else if (name == "--dir") {
            dir = value;
        } else if (name == "--cli") {
            kCli = value;
        } else if (name == "--jobs") {
            jobs = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--style") {
            if (value != "basic" && value != "field") Fail("--style is basic or field");
            style = value == "field" ? synth::SceneStyle::Field : synth::SceneStyle::Basic;
        } else if (name == "--details") {
            details = value;
        } else {
            Fail("unknown option " + name);
        }
    }
    if (mode == "scenes") return RunScenes(style, hours, seed, dir, jobs, details);
    if (mode == "year") return RunYear(dir);
    Fail(
        "usage: presence_bench scenes|year [--hours H] [--seed N] [--style basic|field] [--dir "
        "DIR] "
        "[--jobs N] [--details PREFIX] [--cli PATH]");
}
