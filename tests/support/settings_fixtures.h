// Setting variables for tests that need no settings window.
#pragma once

#include "settings/detector_settings.h"

namespace wtk::test {

// The values that the "normal operation" preset gives every setting variable.
inline DetectorSettings NormalOperationSettings() {
    DetectorSettings s;
    s.FixedCycLimit = 5;
    s.NofNoisyMinsForAction = 3;
    s.NofQuietMinsForAction = 2;
    s.NoisyLevelClkCount = 6144;  // 24 x 256
    s.QuietLevelClkCount = 2048;  // 8 x 256
    s.TooQuietCount = 20;
    s.AmpStep = 5;
    s.GainPercentChange = 30;
    s.FixedAmpScaler = 0.001f;
    s.MaxAmpScalerValue = 0.005f;
    s.MinAmpScalerValue = 0.00005f;
    s.WorkingStrongLimit1 = 25;
    s.WorkingStrongLimit2 = 40;
    s.WorkingStrongLimit3 = 60;
    s.WorkingStrongLimit4 = 100;
    s.MaxStartIPI = 220;
    s.MinAnyIPI = 18;
    s.ExcludedMaxIPI = 0;  // an empty excluded band
    s.ExcludedMinIPI = 255;
    s.DeadBandSetting = 10;
    s.UsingToughAmpDrop = true;
    s.MaxSPLforAmpDropTest = 50;
    s.UserMaxSPLforBWtest = 30;
    s.BwAddon = 3;
    s.MaxSPLforReversalTest = 50;
    s.GainType = tGainType::tgGain;
    return s;
}

}  // namespace wtk::test
