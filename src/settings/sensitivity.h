// The automatic sensitivity state: the band-pass gain and the amplitude threshold, with the
// filter coefficients and the minute-record byte that follow the gain.
#pragma once

#include <array>
#include <cstdint>

namespace wtk {

struct DetectorSettings;

struct Sensitivity {
    float CurrentAmpScaler = 0;      // gain of the band-pass filter
    int32_t AdjustedDeadBand = 0;    // band-pass values above it are peak candidates
    uint8_t DeadBandPlusUplift = 0;  // AdjustedDeadBand - DeadBandSetting
    uint8_t CurrentNofNoisyMinsInSeq = 0;
    uint8_t CurrentNofQuietMinsInSeq = 0;
    int32_t MinsInThisTK1File = 0;  // minutes closed by the minute end in this TK1 file
    uint8_t RescaledMinAnyIPI = 0;  // MinAnyIPI in half ticks
    std::array<float, 20> Coeff{};  // band-pass coefficients: kernel x CurrentAmpScaler
    int32_t MinuteScalerX2560 = 0;  // CurrentAmpScaler x 2560, at most 255

    // Band-pass kernel; each phase of the 4x interpolation sums to 912.
    static constexpr std::array<int32_t, 20> kKernel = {
        1, 4, 13, 34, 75, 144, 240, 351, 451, 511, 511, 451, 351, 240, 144, 75, 34, 13, 4, 1};

    // Recompute Coeff and MinuteScalerX2560 from CurrentAmpScaler.
    void ReviseFilterScale();

    // The sensitivity step of a minute end for the closing minute's click count.
    void AdjustForMinute(const DetectorSettings& s, int32_t ClicksThisMin);
};

}  // namespace wtk
