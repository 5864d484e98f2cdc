#include "presence/trains.h"

#include <array>
#include <charconv>
#include <cmath>

#include "base/calendar.h"
#include "base/numbers.h"

namespace wtk::presence {

namespace {

constexpr std::array<std::string_view, kTrainClasses> kClassNames = {"nbhf", "dolphin", "sonar",
                                                                     "unclassed"};
constexpr std::array<std::string_view, 3> kQualityNames = {"low", "moderate", "high"};

using O = TrainOptions;
constexpr TrainOptionDef kDefs[] = {
    {"MinIciMs", &O::MinIciMs, "shortest interval taken as the next click of a chain, ms", 0.1,
     100},
    {"MaxIciMs", &O::MaxIciMs, "longest interval between two clicks of an animal's train, ms", 1,
     5000},
    {"MaxSonarIciMs", &O::MaxSonarIciMs, "longest interval between regular pings, ms", 1, 60000},
    {"MaxIciChange", &O::MaxIciChange,
     "an interval may be at most this times, or 1 / this of, the one before", 1.01, 10},
    {"MaxKhzStep", &O::MaxKhzStep, "largest change of frequency from one click to the next, kHz",
     0.5, 200},
    {"MaxLevelStepDb", &O::MaxLevelStepDb,
     "largest change of amplitude from one click to the next, dB", 0.5, 60},
    {"MinClicks", &O::MinClicks, "fewest clicks of a train", 3, 1000},
    {"MaxIciJitter", &O::MaxIciJitter,
     "largest median |ln(interval / previous interval)| of a train (more: random intervals)", 0, 5},
    {"MaxChance", &O::MaxChance,
     "largest median chance that a train's clicks were there at random (0-1)", 0, 1},
    {"NbhfMinKhz", &O::NbhfMinKhz, "lowest median frequency of an NBHF train, kHz", 1, 500},
    {"NbhfMaxKhz", &O::NbhfMaxKhz, "highest median frequency of an NBHF train, kHz", 1, 500},
    {"NbhfMinCycles", &O::NbhfMinCycles, "fewest median cycles of the clicks of an NBHF train", 1,
     255},
    {"NbhfMaxSpread", &O::NbhfMaxSpread,
     "largest median period spread (IPI range code 0-15) of the clicks of an NBHF train", 0, 15},
    {"NbhfFewCycles", &O::NbhfFewCycles,
     "fewest median cycles of an NBHF train whose clicks are narrow-band (NbhfNarrowSpread)", 1,
     255},
    {"NbhfNarrowSpread", &O::NbhfNarrowSpread,
     "largest median period spread (IPI range code 0-15) of an NBHF train of fewer than "
     "NbhfMinCycles cycles",
     0, 15},
    {"NbhfMinRing", &O::NbhfMinRing,
     "lowest median height of the peaks around a click's largest, as a share of it, of an NBHF "
     "train (less: short broadband clicks)",
     0, 1},
    {"NbhfLoudPmax", &O::NbhfLoudPmax,
     "median Pmax byte from which an NBHF train's clicks must ring NbhfLoudMinRing", 0, 256},
    {"NbhfLoudMinRing", &O::NbhfLoudMinRing,
     "lowest median ring (as NbhfMinRing) of a loud NBHF train (NbhfLoudPmax)", 0, 1},
    {"ClippedPmax", &O::ClippedPmax,
     "median Pmax byte from which a train's clicks are clipped (their ring tells nothing)", 0, 256},
    {"NbhfMaxCycles", &O::NbhfMaxCycles,
     "most median cycles of the clicks of an NBHF train (more: long pings)", 1, 255},
    {"DolphinMaxKhz", &O::DolphinMaxKhz,
     "median frequency under which a train is dolphin-like, kHz", 1, 500},
    {"SonarIciTolerance", &O::SonarIciTolerance,
     "successive intervals of pings are equal within this many %", 0.01, 50},
    {"SonarMinRegular", &O::SonarMinRegular,
     "share of a sonar train's intervals that are that regular, %", 1, 100},
    {"SonarMinPings", &O::SonarMinPings, "fewest pings of a sonar train", 3, 100000},
    {"SonarMaxChance", &O::SonarMaxChance,
     "largest median chance that a sonar train's pings were there at random (0-1)", 0, 1},
    {"SonarMaxIciJitter", &O::SonarMaxIciJitter,
     "largest median |ln(interval / previous interval)| of a sonar train", 0, 1},
    {"BuzzIciMs", &O::BuzzIciMs, "NBHF clicks after a shorter interval are buzz clicks, ms", 0.5,
     100},
    {"CompanySeconds", &O::CompanySeconds,
     "trains of a recording this close to one another are weighed together, s", 0, 3600},
    {"SonarEchoTolerance", &O::SonarEchoTolerance,
     "a train whose modal interval is within this many % of a sonar train's around it (or "
     "2-4 times it) is sonar",
     0, 50},
    {"CompanyMinRing", &O::CompanyMinRing,
     "an NBHF train whose clicks ring at least this (as NbhfMinRing) stays NBHF among dolphin "
     "trains",
     0, 2},
    {"HighMaxIciJitter", &O::HighMaxIciJitter,
     "largest median |ln(interval / previous interval)| of a high-quality train", 0, 5},
    {"ModerateMaxIciJitter", &O::ModerateMaxIciJitter,
     "largest median |ln(interval / previous interval)| of a moderate-quality train", 0, 5},
    {"HighMinClicks", &O::HighMinClicks, "fewest clicks of a high-quality train", 3, 100000},
    {"ModerateMinClicks", &O::ModerateMinClicks, "fewest clicks of a moderate-quality train", 3,
     100000},
    {"HighMaxChance", &O::HighMaxChance,
     "largest median chance that a high-quality train's clicks were there at random (0-1)", 0, 1},
    {"ModerateMaxChance", &O::ModerateMaxChance,
     "largest median chance that a moderate-quality train's clicks were there at random (0-1)", 0,
     1},
    {"ShortMinRing", &O::ShortMinRing,
     "lowest median ring (as NbhfMinRing) of an NBHF train of fewer than ModerateMinClicks "
     "clicks that is of moderate quality (more than 1: none is)",
     0, 2},
    {"ShortSonarKhz", &O::ShortSonarKhz,
     "such a short train stays of low quality beside a sonar train within this many kHz of it", 0,
     500},
    {"MaxKhzSpread", &O::MaxKhzSpread,
     "largest median distance of a click's frequency from its train's median for moderate or "
     "high quality, kHz",
     0, 500},
    {"MaxLevelJitterDb", &O::MaxLevelJitterDb,
     "largest median change of level from click to click of a moderate or high-quality train, "
     "dB",
     0, 60},
    {"EncounterGapMinutes", &O::EncounterGapMinutes,
     "NBHF trains that begin less than this after the one before are one encounter, minutes", 0,
     100000},
};

}  // namespace

std::string_view ClassName(TrainClass c) {
    return kClassNames[static_cast<size_t>(c)];
}

std::string_view QualityName(TrainQuality q) {
    return kQualityNames[static_cast<size_t>(q)];
}

std::optional<TrainClass> ParseClass(std::string_view text) {
    for (size_t i = 0; i < kClassNames.size(); ++i) {
        if (kClassNames[i] == text) return static_cast<TrainClass>(i);
    }
    return std::nullopt;
}

std::optional<TrainQuality> ParseQuality(std::string_view text) {
    for (size_t i = 0; i < kQualityNames.size(); ++i) {
        if (kQualityNames[i] == text) return static_cast<TrainQuality>(i);
    }
    return std::nullopt;
}

std::span<const TrainOptionDef> TrainOptionDefs() {
    return kDefs;
}

bool SetTrainOption(TrainOptions& options, std::string_view name, std::string_view text,
                    std::string& error) {
    for (const TrainOptionDef& d : kDefs) {
        if (d.Name != name) continue;
        double v = 0;
        const char* end = text.data() + text.size();
        const auto r = std::from_chars(text.data(), end, v);
        if (text.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(v) || v < d.Min ||
            v > d.Max) {
            error = std::string(name) + " takes a number from " + FixedText(d.Min, 2) + " to " +
                    FixedText(d.Max, 2) + ", not \"" + std::string(text) + "\"";
            return false;
        }
        options.*d.Field = v;
        return true;
    }
    error = "unknown train option \"" + std::string(name) + "\"";
    return false;
}

EncounterGrouper::EncounterGrouper(const TrainOptions& options, TrainQuality minQuality)
    : gapUs_(static_cast<int64_t>(std::llround(options.EncounterGapMinutes * 60e6))),
      minQuality_(minQuality) {}

void EncounterGrouper::Assign(Train& train) {
    train.Encounter = 0;
    if (train.Class != TrainClass::Nbhf || train.Quality < minQuality_) return;
    if (!lastEndUs_ || train.StartUs - *lastEndUs_ >= gapUs_) ++count_;
    train.Encounter = count_;
    lastEndUs_ = lastEndUs_ ? std::max(*lastEndUs_, train.EndUs) : train.EndUs;
}

}  // namespace wtk::presence
