#include "settings/sensitivity.h"

#include <algorithm>
#include <cassert>
#include <cfloat>

#include "base/numbers.h"
#include "settings/detector_settings.h"

namespace wtk {

void Sensitivity::ReviseFilterScale() {
    const double scaler = CurrentAmpScaler;
    for (size_t i = 0; i < Coeff.size(); ++i) {
        // A coefficient beyond the float32 range (absurd scalers) stays at its largest value.
        const double c = std::clamp(kKernel[i] * scaler, -static_cast<double>(FLT_MAX),
                                    static_cast<double>(FLT_MAX));
        Coeff[i] = static_cast<float>(c);
    }
    // The minute records hold this as a byte: 255 above, and a negative scaler (which a minute
    // record would store as 0) is kept at 0.
    const double x2560 = scaler * 2560.0;
    MinuteScalerX2560 = x2560 > 255.0 ? 255
                        : x2560 < 0.0 ? 0
                                      : static_cast<int32_t>(RoundHalfEven(x2560));
}

void Sensitivity::AdjustForMinute(const DetectorSettings& s, int32_t ClicksThisMin) {
    // Gain steps: a = scaler / 100; b = a x percent; the result stored as float32, clamped,
    // and the coefficients recomputed even when the clamp leaves the scaler unchanged.
    // Comparing before the conversion gives the same result (rounding to float32 keeps the
    // order to a float32 limit) and keeps absurd values from overflowing the conversion.
    auto toFloat = [](double v) {
        return static_cast<float>(
            std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
    };
    auto lowerGain = [&] {
        const double a = static_cast<double>(CurrentAmpScaler) / 100.0;
        const double b = a * s.GainPercentChange;
        const double next = CurrentAmpScaler - b;
        CurrentAmpScaler = next < s.MinAmpScalerValue ? s.MinAmpScalerValue : toFloat(next);
        ReviseFilterScale();
    };
    auto raiseGain = [&] {
        const double a = static_cast<double>(CurrentAmpScaler) / 100.0;
        const double b = a * s.GainPercentChange;
        const double next = CurrentAmpScaler + b;
        CurrentAmpScaler = next > s.MaxAmpScalerValue ? s.MaxAmpScalerValue : toFloat(next);
        ReviseFilterScale();
    };
    // Threshold steps keep AdjustedDeadBand = DeadBandSetting + DeadBandPlusUplift, within
    // [DeadBandSetting, 255) and the uplift within [0, 255).
    auto lowerThreshold = [&] {
        DeadBandPlusUplift = static_cast<uint8_t>(std::max(0, DeadBandPlusUplift - s.AmpStep));
        AdjustedDeadBand = std::max(s.DeadBandSetting, AdjustedDeadBand - s.AmpStep);
    };
    auto raiseThreshold = [&] {
        if (255 - s.AmpStep > AdjustedDeadBand) {
            const int32_t uplift = DeadBandPlusUplift + s.AmpStep;
            assert(uplift >= 0 && uplift <= 255);
            DeadBandPlusUplift = static_cast<uint8_t>(std::clamp(uplift, 0, 255));
            AdjustedDeadBand += s.AmpStep;
        }
    };

    switch (s.GainType) {
        case tGainType::tgGain:
            if (ClicksThisMin > s.NoisyLevelClkCount) {
                CurrentNofQuietMinsInSeq = 0;
                if (CurrentNofNoisyMinsInSeq < s.NofNoisyMinsForAction) {
                    ++CurrentNofNoisyMinsInSeq;
                } else {
                    lowerGain();
                }
            } else if (ClicksThisMin < s.QuietLevelClkCount && CurrentAmpScaler < 0.05) {
                CurrentNofNoisyMinsInSeq = 0;
                if (CurrentNofQuietMinsInSeq < s.NofQuietMinsForAction) {
                    ++CurrentNofQuietMinsInSeq;
                } else if (CurrentAmpScaler < s.MaxAmpScalerValue) {
                    raiseGain();
                }
            } else {
                CurrentNofNoisyMinsInSeq = 0;
                CurrentNofQuietMinsInSeq = 0;
            }
            // A very quiet minute raises the gain at once (a second time if raised above).
            if (ClicksThisMin < s.TooQuietCount && CurrentAmpScaler < s.MaxAmpScalerValue) {
                raiseGain();
            }
            break;
        case tGainType::tgThreshold:
            if (ClicksThisMin > s.NoisyLevelClkCount) {
                if (CurrentNofNoisyMinsInSeq < s.NofNoisyMinsForAction) {
                    ++CurrentNofNoisyMinsInSeq;
                } else {
                    raiseThreshold();
                }
                CurrentNofQuietMinsInSeq = 0;
            } else if (ClicksThisMin < s.QuietLevelClkCount) {
                if (CurrentNofQuietMinsInSeq < s.NofQuietMinsForAction) {
                    ++CurrentNofQuietMinsInSeq;
                } else {
                    lowerThreshold();
                }
                CurrentNofNoisyMinsInSeq = 0;
            } else {
                CurrentNofNoisyMinsInSeq = 0;
                CurrentNofQuietMinsInSeq = 0;
            }
            if (ClicksThisMin < s.TooQuietCount) lowerThreshold();
            break;
        case tGainType::tgNone:
            break;
    }
}

}  // namespace wtk
