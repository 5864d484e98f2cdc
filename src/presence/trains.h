// Click trains: clicks grouped by the continuity of their intervals, frequency and amplitude,
// each train given a class, a quality and its buzz clicks; NBHF trains close in time form
// encounters.
//
// The detector takes the clicks of one location in time order, one at a time, and keeps only
// the last few seconds of clicks and the chains still open (a chain closes once no click has
// come for longer than it could wait), so its memory does not grow with the length of the
// data. It gives the trains back in order of their first click, numbered from 1.
//
// A chain is begun by three clicks whose two intervals are nearly equal and whose frequency
// and amplitude follow on. It takes its next click only once every click that could follow it
// has come: the one whose interval, frequency and amplitude follow on best from the chain's
// last click, so two animals clicking at once make two chains even where their clicks
// alternate, and a click that happens to come first does not cut a train. An interval near
// twice the expected one continues a chain across one missed click. A chain of buzz clicks
// that begins in a train or just after it becomes part of that train. Nothing joins a chain
// across the end of a recording or a gap in the recording: Break() closes every chain, and so
// does a click of another recording.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "presence/timed_click.h"

namespace wtk::presence {

enum class TrainClass : uint8_t {
    Nbhf,       // narrow-band high-frequency clicks: porpoises and other NBHF species
    Dolphin,    // broadband or lower-frequency clicks in trains
    Sonar,      // echosounder pings: fixed interval, level and frequency
    Unclassed,  // train-like, but none of the above
};
inline constexpr int kTrainClasses = 4;

enum class TrainQuality : uint8_t { Low, Moderate, High };

// "nbhf", "dolphin", "sonar", "unclassed"; "low", "moderate", "high".
std::string_view ClassName(TrainClass c);
std::string_view QualityName(TrainQuality q);
std::optional<TrainClass> ParseClass(std::string_view text);
std::optional<TrainQuality> ParseQuality(std::string_view text);

// The rules' thresholds. Every field can be set by name (TrainOptionDefs, SetTrainOption); the
// README gives the reasons for the defaults.
struct TrainOptions {
    // ---- grouping clicks into chains ----
    double MinIciMs = 1.0;        // shorter intervals are not taken as the next click
    double MaxIciMs = 500;        // longest interval between two clicks of an animal's train
    double MaxSonarIciMs = 2500;  // longest interval between regular pings
    double MaxIciChange = 1.3;    // an interval at most this times, or 1 / this of, the expected
    double MaxKhzStep = 20;       // kHz from one click of a chain to the next
    double MaxLevelStepDb = 12;   // amplitude change from one click of a chain to the next, dB
    double MinClicks = 5;         // fewer clicks make no train
    // Chains whose interval jumps more than this from click to click (the median of
    // |ln(ICI / previous ICI)|) are no trains: intervals drawn at random.
    double MaxIciJitter = 0.15;
    // Chains whose clicks could as well have been there by chance are no trains: the median
    // over its clicks of the deviation of the interval from the expected one, as a share of
    // the deviation allowed, times the number of clicks the chain could have taken instead.
    double MaxChance = 0.3;

    // ---- classes ----
    double NbhfMinKhz = 115;  // median frequency of an NBHF train
    double NbhfMaxKhz = 160;
    double NbhfMinCycles = 5;   // median cycles of its clicks: several
    double NbhfMaxCycles = 30;  // and not a long ping
    double NbhfMaxSpread = 11;  // median IPI range code of its clicks (narrow band)
    // Short narrow-band clicks ring only a few cycles above the detector's count: a train of
    // fewer cycles (down to NbhfFewCycles) is NBHF still when its clicks' spread is at most
    // NbhfNarrowSpread, and then of moderate quality at most, with HighMinClicks clicks.
    double NbhfFewCycles = 3;
    double NbhfNarrowSpread = 6;
    // Median share of its largest peak that the peaks around it reach (ChainClick::Ring): an
    // NBHF click lasts many cycles, a dolphin's click in the band only one or two.
    double NbhfMinRing = 0.6;
    // A loud click shows its envelope as it is, a faint one's peaks are blurred by the noise:
    // a train whose median Pmax byte is at least NbhfLoudPmax rings at least NbhfLoudMinRing.
    double NbhfLoudPmax = 150;
    double NbhfLoudMinRing = 0.76;
    // A train whose median Pmax byte is at least this is clipped: cut at full scale, every peak
    // of its clicks reads alike whatever their length, so their ring weighs neither way.
    double ClippedPmax = 250;
    double DolphinMaxKhz = 100;    // median frequency under which a train is dolphin-like
    double SonarIciTolerance = 1;  // successive intervals of pings are equal within this many %
    double SonarMinRegular = 70;   // % of a sonar train's intervals that are that regular
    double SonarMinPings = 8;
    double SonarMaxChance = 0.1;  // the chance (MaxChance) of a sonar train's pings
    // The median change of a sonar train's interval, |ln(ICI / previous ICI)|: a sounder's
    // clock is steadier than any animal.
    double SonarMaxIciJitter = 0.003;
    double BuzzIciMs = 10;  // NBHF clicks after an interval shorter than this are buzz clicks
    // ---- the company a train keeps (the trains of its recording around it) ----
    double CompanySeconds = 30;  // trains this close to one another are weighed together
    // A train whose modal interval is within this many % of a sonar train's around it (or of
    // two to four times it) is that sounder's: echoes or fragments of its pings.
    double SonarEchoTolerance = 2;
    // An NBHF train whose own clicks ring at least this (ChainClick::Ring, median) stays NBHF
    // among dolphins, unless they are clipped.
    double CompanyMinRing = 0.8;

    // ---- quality ----
    // The median change of the interval from click to click, |ln(ICI / previous ICI)|: a
    // scanning animal's interval drifts smoothly, intervals drawn at random jump.
    double HighMaxIciJitter = 0.05;
    double ModerateMaxIciJitter = 0.1;
    double HighMinClicks = 15;
    double ModerateMinClicks = 8;
    double HighMaxChance = 0.1;  // the chance (MaxChance) of a high-quality train's clicks
    double ModerateMaxChance = 0.2;
    // An NBHF train of fewer than ModerateMinClicks clicks is of moderate quality when its
    // clicks are long (NbhfMinCycles), ring at least this (ChainClick::Ring, median) and keep
    // a moderate train's intervals, chance, frequency and level: their form is evidence in
    // itself. Not beside a sonar train within ShortSonarKhz kHz of it, whose pings it may be.
    double ShortMinRing = 0.7;
    double ShortSonarKhz = 20;
    double MaxKhzSpread = 10;  // median distance of a click's kHz from the train's median
    // The median change of level from click to click, dB: a beam sweeping past changes it
    // smoothly, clicks at random jump.
    double MaxLevelJitterDb = 4;

    // ---- encounters ----
    double EncounterGapMinutes = 10;  // NBHF trains closer than this are one encounter
};

// One settable threshold: its name (the field's), what it is, and the values it takes.
struct TrainOptionDef {
    std::string_view Name;
    double TrainOptions::*Field;
    std::string_view Help;
    double Min;
    double Max;
};
std::span<const TrainOptionDef> TrainOptionDefs();
// Sets options' field called name from text; false with why in error ("unknown train option
// ...", "... takes a number from 1 to 10, not ...").
bool SetTrainOption(TrainOptions& options, std::string_view name, std::string_view text,
                    std::string& error);

// The key of a chain of clicks; trains carry the keys of the chains they were made of.
using ChainKey = uint64_t;
inline constexpr ChainKey kNoChain = 0;

struct Train {
    int64_t Number = 0;                // from 1, in order of the first click
    std::vector<ChainKey> Chains;      // its chain, and the chain of a buzz it ended in
    int32_t Recording = kNoRecording;  // the recording of its clicks
    int64_t StartUs = 0;               // its first and last click (TimedClick::TimeUs)
    int64_t EndUs = 0;
    int32_t Clicks = 0;
    double IciModalMs = 0;  // the most common interval (to 0.5 ms below 20 ms, else 5 %)
    double IciMinMs = 0;
    double IciMaxMs = 0;
    double KhzMedian = 0;
    double PmaxMedian = 0;  // on the detector's amplitude byte scale
    double RingMedian = 0;  // how evenly its clicks ring around their largest peak (0-1)
    TrainClass Class = TrainClass::Unclassed;
    TrainQuality Quality = TrainQuality::Low;
    int32_t BuzzClicks = 0;  // NBHF trains only
    int64_t Encounter = 0;   // 0: none (not NBHF, or below the encounters' quality)
    // The minutes (TimeUs div one minute) that hold its clicks, and those that hold its buzz
    // clicks, in increasing order.
    std::vector<int64_t> ClickMinutes;
    std::vector<int64_t> BuzzMinutes;
};

class TrainDetector {
public:
    // reportClicks: NextSettled gives the chain of every click fed.
    explicit TrainDetector(const TrainOptions& options = {}, bool reportClicks = false);
    ~TrainDetector();
    TrainDetector(const TrainDetector&) = delete;
    TrainDetector& operator=(const TrainDetector&) = delete;

    // The next click, in time order within a recording (a click up to a second earlier than
    // the latest takes its place among the clicks not yet settled). A click of another
    // recording, or one further back in time, first closes every chain (Break).
    void Feed(const TimedClick& click);
    // The recording ended or has a gap: every open chain closes.
    void Break();
    // No more clicks: every open chain closes and every train is ready.
    void Finish();
    // The next train in order of the first click, once no chain still open or yet to be found
    // can begin before it or end in a buzz that belongs to it.
    bool NextTrain(Train& train);
    // With reportClicks, a click whose chain is settled: its number in the order fed (from 0)
    // and the chain it is in (kNoChain: none), once no chain can take it any more (a few
    // seconds of clicks later, or at Break). A chain that closed with too few clicks or too
    // little of a train's shape became no train: a key that no train carries.
    bool NextSettled(uint64_t& sequence, ChainKey& chain);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Numbers the encounters of one location: NBHF trains of at least minQuality, fed in order of
// their start, that begin less than EncounterGapMinutes after the end of the one before are one
// encounter. Encounters are numbered from 1.
class EncounterGrouper {
public:
    EncounterGrouper(const TrainOptions& options, TrainQuality minQuality);
    // Sets train.Encounter (0 for a train that is in none).
    void Assign(Train& train);
    int64_t Encounters() const { return count_; }

private:
    int64_t gapUs_;
    TrainQuality minQuality_;
    int64_t count_ = 0;
    std::optional<int64_t> lastEndUs_;
};

}  // namespace wtk::presence
