// TK1 files for the tests of the results view: a location of two recordings of five minutes on
// 2024-06-11, at 08:00:30 and 10:02:10 UTC, each with a porpoise-like train of 40 clicks (the
// first at 08:01:31, the second at 10:02:11), and an isolated click at 08:03:50.
#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "synth/click_file.h"

namespace wtk::ui::test {

inline constexpr int64_t kHourUs = 60 * kMicrosecondsPerMinute;
// 2024-06-11 00:00 UTC.
inline const int64_t kDay0Us = DayNumberFromCivil(2024, 6, 11) * 24 * kHourUs;
inline const int64_t kFirstRecordingUs = kDay0Us + 8 * kHourUs + 30'000'000;
inline const int64_t kSecondRecordingUs = kDay0Us + 10 * kHourUs + 130'000'000;

// n clicks from at, intervals drifting down from 60 ms, 130 kHz, many cycles, the level rising
// and falling.
inline std::vector<synth::ClickAtTime> PorpoiseTrain(int64_t at, int n) {
    std::vector<synth::ClickAtTime> clicks;
    double ici = 60'000;
    for (int i = 0; i < n; ++i) {
        tk1::Click c;
        c.Ncyc = 12;
        c.PkAtPosn = 4;
        c.IPIrangeCode = 2;
        c.IPIpreMax = c.IPIPostMax = c.IPIPost1 = c.IPIPost2 = 31;
        c.Pmax = static_cast<uint8_t>(60 + 60 * std::sin(3.14159 * i / n));
        c.PkMinus1 = c.PkPlus1 = static_cast<uint8_t>(c.Pmax * 3 / 4);
        clicks.push_back({at, c});
        at += static_cast<int64_t>(ici);
        ici *= 0.99;
    }
    return clicks;
}

// Writes "NAME 2024 06 11.TK1" with its recordings table and linkage file into dir; its path.
inline std::string WriteTwoTrainLocation(const std::filesystem::path& dir,
                                         const std::string& name) {
    const std::string tk1 = (dir / (name + " 2024 06 11.TK1")).string();
    std::vector<synth::ClickAtTime> clicks = PorpoiseTrain(kFirstRecordingUs + 61'000'000, 40);
    tk1::Click lone;
    lone.Ncyc = 3;
    lone.IPIpreMax = 60;
    lone.Pmax = 30;
    clicks.push_back({kFirstRecordingUs + 200'000'000, lone});
    const auto later = PorpoiseTrain(kSecondRecordingUs + 1'000'000, 40);
    clicks.insert(clicks.end(), later.begin(), later.end());
    synth::WriteClickFile(
        tk1,
        {{"/rec/" + name + ".20240611080030.wav", kFirstRecordingUs, 576000LL * 300},
         {"/rec/" + name + ".20240611100210.wav", kSecondRecordingUs, 576000LL * 300}},
        clicks);
    return tk1;
}

}  // namespace wtk::ui::test
