// One minute of a synthetic 576 k samples/s recording through ConvertOneWavFile with the real
// click detector and TK1 writer, graphs off, with each filter kernel variant. Reports input
// samples per second and the real-time factor (seconds of audio per second of processing).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/host.h"
#include "base/main_controls.h"
#include "base/sample_rate.h"
#include "bench_signal.h"
#include "detector/click_detector.h"
#include "engine/filter_kernels.h"
#include "engine/sample_processor.h"
#include "input/wav_file_rec.h"
#include "output/tk1_codec.h"
#include "output/tk1_writer.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"
#include "settings/settings_form.h"

namespace {

constexpr int32_t kSamplesPerSec = wtk::bench::kSamplesPerSec;
constexpr int32_t kSeconds = 60;

std::vector<int16_t> MakeMinute(double noiseStd) {
    wtk::bench::Noise noise(0x9E3779B97F4A7C15ull);
    return wtk::bench::MakeSamples(noise, noiseStd, 0, size_t{kSamplesPerSec} * kSeconds);
}

std::string WriteWav(const std::vector<int16_t>& samples, const std::string& name) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return {};
    std::vector<uint8_t> bytes(100, 0);
    bytes.reserve(100 + 2 * samples.size());
    for (int16_t v : samples) {
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    return ok ? path : std::string();
}

// Arguments: noise standard deviation in 16-bit counts; filter kernel variant (0 portable,
// 1 AVX2, 2 AVX-512, 3 the widest the processor has).
void BM_ConvertOneMinute(benchmark::State& state) {
    const double noiseStd = static_cast<double>(state.range(0));
    const wtk::FilterKernelKind saved = wtk::ActiveFilterKernel();
    if (state.range(1) < 3 &&
        !wtk::SelectFilterKernel(static_cast<wtk::FilterKernelKind>(state.range(1)))) {
        state.SkipWithError("the processor lacks this kernel variant");
        return;
    }
    const std::string wav = WriteWav(MakeMinute(noiseStd), "wtk_convert_bench.wav");
    const std::string tk1 =
        (std::filesystem::temp_directory_path() / "wtk_convert_bench.TK1").string();
    if (wav.empty()) {
        state.SkipWithError("cannot write the test recording");
        return;
    }

    wtk::NullHost host;
    wtk::SampleRate rate;
    rate.KsamplesPerSecEditChange("576");
    wtk::DetectorSettings settings;
    wtk::Sensitivity sens;
    wtk::SettingsForm form;
    form.DefaultSettingsBtnClick();  // "normal operation", as at program start
    wtk::TK1Writer writer(host);
    wtk::ClickDetector detector(settings, sens, writer, host);
    wtk::MainControls controls;
    controls.ShowGraphs = false;
    wtk::SampleProcessor proc(rate, settings, sens, detector, writer, controls, host);
    proc.AllocateBuffers(host.HiResSamplesLength());
    writer.AllocateOutBuf();
    wtk::WavFileRec rec;

    double records = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Every iteration starts from the batch's initial state.
        if (wtk::ApplySettings(form, rate, settings, sens)) {
            state.SkipWithError("settings refused");
            break;
        }
        writer.TK1StartMin = writer.TK1min = 60487200;
        wtk::TK1HeaderInputs in;
        in.Settings = &settings;
        writer.CreateTK1file(tk1, in);
        std::FILE* f = std::fopen(wav.c_str(), "rb");
        state.ResumeTiming();

        proc.ConvertOneWavFile(f, 0, rec);

        state.PauseTiming();
        std::fclose(f);
        writer.FinaliseTK1File();
        records = static_cast<double>(std::filesystem::file_size(tk1) - wtk::tk1::kHeaderBytes) /
                  wtk::tk1::kRecordBytes;
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["samples_per_s"] =
        benchmark::Counter(n * kSamplesPerSec * kSeconds, benchmark::Counter::kIsRate);
    state.counters["x_real_time"] = benchmark::Counter(n * kSeconds, benchmark::Counter::kIsRate);
    state.counters["tk1_records"] = records;
    wtk::SelectFilterKernel(saved);
    std::filesystem::remove(wav);
    std::filesystem::remove(tk1);
    std::filesystem::remove(tk1.substr(0, tk1.size() - 4) + ".txt");
}

// Noise standard deviations in 16-bit counts: a quiet sea, noise at about the threshold of the
// default settings, and noise far above it (the gain control would lower the gain after three
// such minutes).
BENCHMARK(BM_ConvertOneMinute)
    ->Args({3, 3})
    ->Args({10, 3})
    ->Args({30, 3})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Args({10, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
