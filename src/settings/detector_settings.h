// The detector and sensitivity setting variables. ApplySettings fills them from the settings
// window's controls at program start and at the start of every conversion, so that a whole
// batch runs with one set of values.
#pragma once

#include <cstdint>

namespace wtk {

enum class tGainType : uint8_t { tgGain = 0, tgThreshold = 1, tgNone = 2 };

struct DetectorSettings {
    uint8_t FixedCycLimit = 0;          // minimum cycles of a weak click
    uint8_t NofNoisyMinsForAction = 0;  // noisy minutes only counted before the control acts
    uint8_t NofQuietMinsForAction = 0;
    int32_t NoisyLevelClkCount = 0;  // more clicks than this: a noisy minute (setting x 256)
    int32_t QuietLevelClkCount = 0;  // fewer clicks than this: a quiet minute (setting x 256)
    int32_t TooQuietCount = 0;       // fewer clicks than this raises the sensitivity at once
    uint8_t AmpStep = 0;             // step of the threshold
    int32_t GainPercentChange = 0;   // step of the gain, percent of its current value
    float FixedAmpScaler = 0;        // start value of CurrentAmpScaler
    float MaxAmpScalerValue = 0;
    float MinAmpScalerValue = 0;
    uint8_t WorkingStrongLimit1 = 0;  // amplitude levels above which clicks may be 1..4
    uint8_t WorkingStrongLimit2 = 0;  //   cycles shorter
    uint8_t WorkingStrongLimit3 = 0;
    uint8_t WorkingStrongLimit4 = 0;
    uint8_t MaxStartIPI = 0;     // a start IPI must be below it (250 ns units)
    uint8_t MinAnyIPI = 0;       // smallest IPI of any peak in a click
    uint8_t ExcludedMaxIPI = 0;  // exclusive bounds of the IPI band whose clicks drop
    uint8_t ExcludedMinIPI = 0;
    int32_t DeadBandSetting = 0;     // lowest threshold, the user's dead band
    bool UsingToughAmpDrop = false;  // amplitude-drop filter at a quarter instead of a half
    uint8_t MaxSPLforAmpDropTest = 0;
    uint8_t UserMaxSPLforBWtest = 0;  // recorded in the TK1 header only
    uint8_t BwAddon = 0;              // recorded in the TK1 header only
    uint8_t MaxSPLforReversalTest = 0;
    tGainType GainType = tGainType::tgGain;
};

}  // namespace wtk
