// What a chain of clicks is: whether it is a train at all, its class, its quality and its buzz
// clicks, from the measures of its clicks alone (the detector's chaining is apart, in
// TrainDetector).
//
// The measures:
// - the intervals, each divided by 2 after a missed click, and their jitter: the median of
//   |ln(ICI / previous ICI)|, small for an animal whose interval drifts as it scans, about 0.2
//   for intervals drawn at random within the chaining limits;
// - the share of successive intervals equal within SonarIciTolerance % (an echosounder's
//   pings: a clock's interval), and the spread of the levels (a ping's level does not follow a
//   beam sweeping past);
// - the median frequency (kHz from the periods around each click's largest peak), its spread,
//   and the median number of cycles and spread of the period of the clicks;
// - how evenly a click rings around its largest peak (ChainClick::Ring): how long it lasts, in
//   cycles, whatever its level.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "presence/trains.h"

namespace wtk::presence {

// One click of a chain with the measures the rules use.
struct ChainClick {
    int64_t TimeUs = 0;
    float Khz = 0;      // ClickKhz
    float LevelDb = 0;  // 20 log10 of the linear amplitude of Pmax
    uint8_t Ncyc = 0;
    uint8_t Spread = 0;  // IPI range code
    uint8_t Pmax = 0;
    // The peaks just before and after its largest, on average, as a share of it (linear
    // amplitudes): near 1 where many cycles of nearly even height make the click (a long
    // narrow-band click), well under 1 where it rises and falls within a cycle or two (a short
    // broadband click).
    float Ring = 1;
    uint8_t Gap = 1;   // intervals since the click before: 2 after a missed click
    uint8_t Part = 0;  // 0: its chain's own click; 1: of a buzz chain merged into it
    // How likely a click that follows on this well would have been there by chance among the
    // clicks the chain could have taken: the deviation of its interval from the expected one,
    // as a share of the deviation allowed, times the number of clicks it was chosen from (at
    // most 1); negative where the chain did not choose it (its first two clicks).
    float Chance = -1;
};

ChainClick ChainClickOf(const TimedClick& click);

// The measures of a chain that the rules weigh.
struct TrainMeasures {
    double IciJitter = 0;      // median |ln(ICI / previous ICI)|
    double RegularShare = 0;   // % of successive intervals equal within SonarIciTolerance %
    double LevelJitterDb = 0;  // median change of level from click to click
    double LevelSpreadDb = 0;  // 10th to 90th percentile of the levels
    double KhzMedian = 0;
    double KhzSpread = 0;  // median distance from the median
    double MedianCycles = 0;
    double MedianSpread = 0;  // IPI range code
    double MedianRing = 0;    // ChainClick::Ring
    double Chance = 0;        // median Chance of the clicks chosen
};
TrainMeasures Measure(std::span<const ChainClick> clicks, const TrainOptions& options);

// The train that the clicks (in time order) make, or nothing when they make none: fewer than
// MinClicks, or intervals that jump as random ones do. Fills every field but Number, Chains,
// Recording and Encounter.
std::optional<Train> DescribeTrain(std::span<const ChainClick> clicks, const TrainOptions& options);

// What a train is among the trains of its recording around it (within CompanySeconds of it;
// itself not among them): a train that keeps the interval of a sonar train there (or two to
// four times it, within SonarEchoTolerance %) is sonar: echoes or fragments of the pings; an NBHF
// train among more dolphin trains of moderate or high quality than NBHF ones is dolphin: the clicks
// of a dolphin near its beam's axis may ring in the NBHF band, and porpoises keep away from
// dolphins; but not where its own clicks ring as long as CompanyMinRing and are not clipped.
// A train of fewer than ModerateMinClicks clicks beside a sonar train within ShortSonarKhz of
// its frequency is of low quality: the sounder's pings cut apart. Buzz clicks go with the NBHF
// class.
void WeighCompany(Train& train, std::span<const Train* const> around, const TrainOptions& options);

// The median interval in ms, for telling a buzz chain (clicks at intervals under BuzzIciMs).
double MedianIciMs(std::span<const ChainClick> clicks);

}  // namespace wtk::presence
