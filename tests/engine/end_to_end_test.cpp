// The production path: peaks to the real click detector, minute records to the real TK1
// writer, on a click train that crosses a minute end; the same bytes from every filter kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "engine/filter_kernels.h"
#include "engine_test_util.h"
#include "settings/settings_form.h"
#include "temp_dir.h"

namespace wtk {
namespace {

// Trains of 130 kHz clicks (100 us Gaussian envelope) every 50 ms in faint noise.
std::vector<int16_t> ClickTrain(int32_t samplesPerSec, size_t n) {
    std::vector<int16_t> s = test::NoisyBursts(n, 3.0, 0.0, 1.0, 21);
    const double pi = 3.14159265358979323846;
    const size_t spacing = static_cast<size_t>(samplesPerSec) / 20;
    const int half = samplesPerSec / 10000;
    for (size_t c = spacing / 2; c + half < n; c += spacing) {
        for (int k = -half; k <= half; ++k) {
            const double env = std::exp(-0.5 * std::pow(3.0 * k / half, 2));
            const double v =
                s[c + k] + 2500.0 * env * std::sin(2 * pi * 130000.0 * k / samplesPerSec);
            s[c + k] = static_cast<int16_t>(std::lround(v));
        }
    }
    return s;
}

TEST(EndToEndTest, ClicksAndMinuteRecordsReachTheTK1FileInTheirMinutes) {
    test::EngineFixture fx("576", false);
    SettingsForm form;
    form.DefaultSettingsBtnClick();
    ASSERT_FALSE(ApplySettings(form, fx.rate, fx.settings, fx.sens).has_value());
    fx.proc.AllocateBuffers(fx.host.hiResLength);
    fx.writer.AllocateOutBuf();
    test::TempDir dir;
    fx.writer.TK1StartMin = fx.writer.TK1min = 60487200;
    TK1HeaderInputs in;
    in.Settings = &fx.settings;
    fx.writer.CreateTK1file(dir / "t.TK1", in);
    ASSERT_TRUE(fx.writer.TK1Open);

    // Two seconds that start one second before the end of a minute.
    test::WriteSamplesFile(dir / "c.wav", ClickTrain(576000, 2 * 576000));
    WavFileRec rec;
    rec.Start.TimeInMinuteNear2MHz = fx.rate.TicksPerMinute() - 4 * 576000;
    std::FILE* f = std::fopen((dir / "c.wav").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    fx.proc.ConvertOneWavFile(f, 4, rec);
    std::fclose(f);
    const int32_t clicksOpen = fx.detector.ClicksThisMin;
    fx.writer.FinaliseTK1File();

    // Records after the header: lead minute, first minute, clicks, the minute end's record,
    // clicks, end record.
    const std::vector<uint8_t> b = test::ReadFileBytes(dir / "t.TK1");
    ASSERT_GT(b.size(), 1024u + 64u);
    std::vector<int> minuteAt;
    std::vector<int32_t> clickTimes[3];
    for (size_t at = 1024; at + 16 <= b.size(); at += 16) {
        const uint8_t kind = b[at];
        if (kind == 254) {
            minuteAt.push_back(static_cast<int>((at - 1024) / 16));
        } else if (kind == 255) {
            EXPECT_EQ(at + 16, b.size()) << "the end record closes the file";
        } else {
            ASSERT_LE(kind, 183);
            ASSERT_FALSE(minuteAt.empty());
            const int32_t t5us = (b[at] << 16) | (b[at + 1] << 8) | b[at + 2];
            clickTimes[std::min<size_t>(minuteAt.size() - 1, 2)].push_back(t5us);
        }
    }
    ASSERT_EQ(minuteAt.size(), 3u);
    EXPECT_EQ(minuteAt[0], 0);
    EXPECT_EQ(minuteAt[1], 1);
    EXPECT_EQ(b[1024 + 16 * minuteAt[2] + 14], 3) << "scaler byte of the minute it opens";
    const auto& lines = fx.host.MemoLines(Memo::DATA2Memo);
    ASSERT_EQ(lines.size(), 1u);
    // Fewer than 20 clicks in the closing minute raise the gain by 30 % at once.
    const size_t closed = clickTimes[1].size();
    EXPECT_EQ(lines[0],
              "0\t" + std::to_string(closed) + "\t10\t" + (closed < 20 ? "0.00130" : "0.00100"));
    EXPECT_EQ(fx.host.Text(Label::ProgressLbl).substr(0, 11), "File 5   Mi");
    EXPECT_EQ(static_cast<int32_t>(clickTimes[2].size()), clicksOpen);
    // Twenty clicks a second: about 20 before and 20 after the minute end, each near its
    // train position (within 0.2 ms) in 5 us units since its minute began.
    EXPECT_GE(clickTimes[1].size(), 18u);
    EXPECT_GE(clickTimes[2].size(), 18u);
    for (int32_t t : clickTimes[1]) {
        const double sinceTrainStart = t * 5e-6 - 59.0 - 0.025;
        EXPECT_LT(std::fabs(std::remainder(sinceTrainStart, 0.05)), 0.0002) << t;
    }
    for (int32_t t : clickTimes[2]) {
        const double sinceTrainStart = t * 5e-6 - 0.025;
        EXPECT_LT(std::fabs(std::remainder(sinceTrainStart, 0.05)), 0.0002) << t;
    }
}

// Converts the samples through the production path with the given filter kernel into a TK1
// file; returns its bytes (empty when the processor lacks the kernel).
std::vector<uint8_t> ConvertWithKernel(FilterKernelKind kernel, bool graphs,
                                       const std::vector<int16_t>& samples) {
    const FilterKernelKind saved = ActiveFilterKernel();
    if (!SelectFilterKernel(kernel)) return {};
    test::EngineFixture fx("192", false);
    SettingsForm form;
    form.DefaultSettingsBtnClick();
    EXPECT_FALSE(ApplySettings(form, fx.rate, fx.settings, fx.sens).has_value());
    fx.controls.ShowGraphs = graphs;
    fx.proc.AllocateBuffers(fx.host.hiResLength);
    fx.writer.AllocateOutBuf();
    fx.writer.NowMinute = [] { return 63000000; };
    test::TempDir dir;
    fx.writer.TK1StartMin = fx.writer.TK1min = 60487200;
    TK1HeaderInputs in;
    in.Settings = &fx.settings;
    fx.writer.CreateTK1file(dir / "k.TK1", in);
    test::WriteSamplesFile(dir / "k.wav", samples);
    WavFileRec rec;  // a minute end after 0.5 s, with a gain step
    rec.Start.TimeInMinuteNear2MHz = fx.rate.TicksPerMinute() - 2 * 192000;
    std::FILE* f = std::fopen((dir / "k.wav").c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
        fx.proc.ConvertOneWavFile(f, 0, rec);
        std::fclose(f);
    }
    fx.writer.FinaliseTK1File();
    SelectFilterKernel(saved);
    return test::ReadFileBytes(dir / "k.TK1");
}

TEST(EndToEndTest, EveryFilterKernelWritesTheSameBytes) {
    // One second at 192 k samples/s of busy input: tone bursts near the threshold and a click
    // train in noise, so that many values decide peaks.
    std::vector<int16_t> s = test::NoisyBursts(192000, 25.0, 400.0, 192.0 / 45.0, 5);
    const std::vector<int16_t> clicks = ClickTrain(192000, s.size());
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(s[i] + clicks[i]);
    for (bool graphs : {false, true}) {
        const std::vector<uint8_t> portable =
            ConvertWithKernel(FilterKernelKind::Portable, graphs, s);
        size_t clickRecords = 0;
        for (size_t at = 1040; at + 16 <= portable.size(); at += 16)
            clickRecords += portable[at] < 254;
        ASSERT_GT(clickRecords, 50u);
        for (FilterKernelKind k : {FilterKernelKind::Avx2, FilterKernelKind::Avx512}) {
            const std::vector<uint8_t> wide = ConvertWithKernel(k, graphs, s);
            if (wide.empty()) continue;  // not on this processor
            EXPECT_TRUE(wide == portable)
                << test::KernelName(k) << (graphs ? " with" : " without")
                << " graphs: " << wide.size() << " bytes instead of " << portable.size();
        }
    }
}

}  // namespace
}  // namespace wtk
