// Duty-cycled recordings of a mixed acoustic scene, with the truth about every recorded minute,
// for measuring how well click trains and presence are found: porpoise-like NBHF trains whose
// intervals drift as an animal scans, whose amplitude rises and falls as its beam sweeps past
// and which sometimes end in a buzz; dolphin-like broadband clicks in interleaved trains;
// echosounder pings at a fixed interval and level; snapping shrimp at random times; and
// background noise of several levels.
//
// The scene runs continuously; each recording takes RecordSeconds of it every CycleSeconds.
// What happens in the scene is drawn from the seed alone (encounters, animals, their distance
// and so their level, interval ranges, train lengths, sonar settings, shrimp rates), so the
// same options give the same recordings on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth/synth.h"

namespace wtk::synth {

enum class SceneContent {
    Mixed,     // everything, porpoise encounters now and then
    Sonar,     // echosounders only (50, 120, 130 and 200 kHz), with shrimp at a low rate
    Shrimp,    // snapping shrimp only, at high rates
    Dolphins,  // dolphin groups only
    Noise,     // background noise only
};
const char* SceneContentName(SceneContent c);  // "mixed", "sonar", "shrimp", "dolphins", "noise"

// How the scene is drawn: the basic scenes below, or the field scenes (field_scenes.h), whose
// sounds follow what a deployment meets: animals passing at their own range and heading with
// echoes from the surface and the bottom, vessels passing with their sounders and engine noise.
enum class SceneStyle {
    Basic,
    Field,
};
const char* SceneStyleName(SceneStyle s);  // "basic", "field"

struct SceneOptions {
    SceneStyle Style = SceneStyle::Basic;
    uint64_t Seed = 1;
    std::string Location = "SCENE";
    SceneContent Content = SceneContent::Mixed;
    int64_t StartUs = 0;  // the scene's start, microseconds since 1899-12-30 00:00 UTC; whole
                          // minutes
    double Hours = 1;
    double RecordSeconds = 60;  // each recording
    double CycleSeconds = 240;  // from one recording's start to the next (whole minutes)
    int32_t SampleRate = 576000;
};

// What made a click of the scene.
enum class SceneSource : uint8_t { Porpoise, Buzz, Dolphin, Sonar, Shrimp };

// How a pulse reached the hydrophone: a click itself, a further pulse of the click before it
// (a click heard off its animal's axis has several; a broadband click has energy in two
// bands), or that click's echo from the surface or the bottom.
enum class SceneArrival : uint8_t { Direct, Component, Echo };

// One recording of the scene: its file name (LOCATION.yyyymmddhhmmss.wav), start and content:
// Spec.Trains holds one single-click train per pulse, Sources says what made each and Arrivals
// how it came (empty: every pulse is a click itself).
struct SceneRecording {
    std::string Name;
    int64_t StartUs = 0;
    RecordingSpec Spec;
    std::vector<SceneSource> Sources;
    std::vector<SceneArrival> Arrivals;
};

// The truth about one minute of the scene that was recorded. Porpoise clicks are audible when
// their amplitude is at least kAudibleOverNoise times the noise RMS and kAudibleFloor counts.
struct SceneMinute {
    int64_t StartUs = 0;
    double RecordedSeconds = 0;
    int32_t PorpoiseClicks = 0;
    int32_t AudiblePorpoiseClicks = 0;
    int32_t BuzzClicks = 0;
    int32_t DolphinClicks = 0;
    int32_t SonarPings = 0;
    double SonarKhz = 0;  // 0: no sonar
    int32_t ShrimpClicks = 0;
    double NoiseRms = 0;

    // One sound heard in the minute (a porpoise or buzz click counts as audible when so).
    void Count(SceneSource what, double hz, bool audible);
};
inline constexpr double kAudibleOverNoise = 12;
inline constexpr double kAudibleFloor = 60;
// A minute is truly porpoise-positive with this many audible porpoise clicks.
inline constexpr int32_t kPositiveClicks = 3;

struct Scene {
    std::vector<SceneRecording> Recordings;
    std::vector<SceneMinute> Minutes;
    // The rule of the truth: a porpoise click is audible at AudibleOverNoise times the noise
    // RMS and AudibleFloor counts or louder; a minute is truly positive with PositiveClicks.
    double AudibleOverNoise = kAudibleOverNoise;
    double AudibleFloor = kAudibleFloor;
    int32_t PositiveClicks = kPositiveClicks;
};

// The scene of the options' style. Throws std::invalid_argument for options out of range.
Scene PlanScene(const SceneOptions& options);

// LOCATION.yyyymmddhhmmss.wav for a recording starting at us (microseconds since 1899-12-30).
std::string SceneFileName(const std::string& location, int64_t us);

// The truth as CSV (CR LF line ends): a heading, then one row per recorded minute.
std::string SceneTruthHeading();
std::string SceneTruthRow(const SceneMinute& m, const std::string& location, SceneContent c);

}  // namespace wtk::synth
