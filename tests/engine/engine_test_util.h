// Test support for the sample processing: a fixture that wires a SampleProcessor to a
// recording host, a sink double that records peaks and minute records, and a reference
// converter written straight from the processing rules, one position and one value at a time,
// without chunks or wide kernels.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/main_controls.h"
#include "base/sample_rate.h"
#include "detector/click_detector.h"
#include "engine/filter_kernels.h"
#include "engine/sample_processor.h"
#include "engine/sample_processor_core.h"
#include "input/wav_file_rec.h"
#include "output/tk1_writer.h"
#include "recording_host.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"
#include "settings_fixtures.h"

namespace wtk::test {

// One call into the sink: a peak (or the minute-end reset) or a minute record.
struct SinkEvent {
    enum Kind { Peak, MinuteRecord } kind;
    int32_t a, b, c;  // Peak: IPI, Amp, time (Init: 255, 0, 0 with init); Record: n, uplift, scaler
    bool init;
    bool operator==(const SinkEvent& o) const {
        return std::tie(kind, a, b, c, init) == std::tie(o.kind, o.a, o.b, o.c, o.init);
    }
};

inline std::ostream& operator<<(std::ostream& os, const SinkEvent& e) {
    return os << (e.kind == SinkEvent::Peak ? "peak(" : "minrec(") << e.a << "," << e.b << ","
              << e.c << (e.init ? ",init)" : ")");
}

// Records every call. Each peak for which countsAsClick returns true adds a click.
struct RecordingSink {
    std::vector<SinkEvent> events;
    int32_t clicks = 0;
    enum class Counting { None, Every, Some } counting = Counting::None;

    void ClickSelSM(uint8_t ipi, uint8_t amp, int32_t time, bool init) {
        events.push_back({SinkEvent::Peak, ipi, amp, time, init});
        if (init) return;
        if (counting == Counting::Every || (counting == Counting::Some && (ipi + amp) % 3 == 0)) {
            ++clicks;
        }
    }
    int32_t& ClicksThisMin() { return clicks; }
    void WriteMinuteRecs(int32_t n, uint8_t uplift, int32_t scaler) {
        events.push_back({SinkEvent::MinuteRecord, n, uplift, scaler, false});
    }
    size_t PeakCount() const {
        size_t n = 0;
        for (const auto& e : events) n += (e.kind == SinkEvent::Peak && !e.init);
        return n;
    }
    size_t MinuteRecordCount() const {
        size_t n = 0;
        for (const auto& e : events) n += (e.kind == SinkEvent::MinuteRecord);
        return n;
    }
};

struct EngineFixture {
    SampleRate rate;
    DetectorSettings settings = NormalOperationSettings();
    Sensitivity sens;
    RecordingHost host;
    TK1Writer writer{host};
    ClickDetector detector{settings, sens, writer, host};
    MainControls controls;
    SampleProcessor proc{rate, settings, sens, detector, writer, controls, host};

    // allocate: the batch's sample buffers (not needed to feed values or close minutes).
    explicit EngineFixture(const char* ksps = "2", bool allocate = true) {
        EXPECT_TRUE(rate.KsamplesPerSecEditChange(ksps));
        controls.ShowGraphs = false;
        ApplySensitivityStart();
        if (allocate) proc.AllocateBuffers(host.hiResLength);
    }
    // What the start of a batch does to the sensitivity state.
    void ApplySensitivityStart() {
        sens.CurrentAmpScaler = settings.FixedAmpScaler;
        sens.ReviseFilterScale();
        sens.AdjustedDeadBand = settings.DeadBandSetting;
        sens.DeadBandPlusUplift = 0;
        sens.RescaledMinAnyIPI = static_cast<uint8_t>(
            std::nearbyint(settings.MinAnyIPI / static_cast<double>(rate.IPIscaler)));
    }
};

// Deterministic test signal: Gaussian noise plus tone bursts, as 16-bit samples.
inline std::vector<int16_t> NoisyBursts(size_t n, double noise, double toneAmp, double period,
                                        uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, noise);
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i) {
        double v = g(rng);
        const size_t phase = i % 4000;
        if (phase < 300) {
            const double env =
                std::exp(-0.5 * std::pow((static_cast<double>(phase) - 150) / 50, 2));
            v += toneAmp * env * std::sin(2 * M_PI * static_cast<double>(i) / period);
        }
        v = std::round(v);
        s[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
    return s;
}

inline const char* KernelName(FilterKernelKind k) {
    return k == FilterKernelKind::Portable ? "Portable"
           : k == FilterKernelKind::Avx2   ? "Avx2"
                                           : "Avx512";
}

// ---- Reference: the processing rules one step at a time. ----

struct ReferenceState {
    int32_t SampleTimeNear2MHz = 0, PkAmp = 0, PrePkAmp = 0, LastAmp = 0, PkNear2MHZtime = 0,
            PkNear4MHZtime = 0, LastPkNear4MHZtime = 0, PkConfirmationLevel = 0;
    bool PkOnHold = false, GraphRequired = false;
    int32_t MaxSample = 0, MinSample = 2147483647, HiResGraphPtr = 0;
    std::vector<int32_t> hiRes;
    std::vector<int32_t> hiResDrawn;  // what the third trace was drawn with (last draw)
    int hiResDraws = 0;
    // The head of the sample buffer as the raw and the filtered trace were drawn (last draw).
    std::vector<int32_t> rawDrawn, filteredDrawn;
};

inline int32_t RefRound(double x) {
    const double r = std::nearbyint(x);
    if (r > 2147483647.0) return 2147483647;
    if (r < -2147483648.0) return -2147483648;
    return static_cast<int32_t>(r);
}

// High-pass of a block into a separate array, then copied back: out[p - 20] for
// p = 20 ... n - 64, the pair sums multiplied and accumulated in the order 0, 1 ... 9, 18.
inline void RefHighPass(std::vector<int32_t>& S, int32_t n) {
    static const double h[] = {0.957,        -0.08387869,  -0.080566929, -0.075193191,
                               -0.068096363, -0.059647107, -0.050278888, -0.040401718,
                               -0.030523624, -0.021081845};
    const std::vector<int32_t> in = S;
    for (int32_t p = 20; p <= n - 64; ++p) {
        double acc = h[0] * in[p];
        for (int d = 1; d <= 9; ++d) acc += h[d] * static_cast<double>(in[p - d] + in[p + d]);
        acc += 0.030953521 * static_cast<double>(in[p - 18] + in[p + 18]);
        S[p - 20] = static_cast<int32_t>(std::nearbyint(acc));
    }
}

struct ReferenceConverter {
    const SampleRate& rate;
    const DetectorSettings& settings;
    Sensitivity sens;  // own copy
    ReferenceState st;
    RecordingSink sink;
    int32_t hiResLength = 500;
    // The sample buffer: a block's samples at 1 ... n, its high-pass written over 0 ... n - 84;
    // it keeps what earlier blocks left beyond.
    std::vector<int32_t> S;

    void Pass() {
        int32_t NewIPI = st.PkNear4MHZtime - st.LastPkNear4MHZtime;
        if (NewIPI > rate.IPI255Equivalent) NewIPI = rate.IPI255Equivalent;
        if (NewIPI > sens.RescaledMinAnyIPI) {
            sink.ClickSelSM(rate.RescaleTo250ns[NewIPI], CompressedAmplitude(st.PkAmp),
                            static_cast<int32_t>(std::nearbyint(
                                st.PkNear2MHZtime * static_cast<double>(rate.IPIscaler))),
                            false);
        }
        st.LastPkNear4MHZtime = st.PkNear4MHZtime;
        st.PkAmp = sens.AdjustedDeadBand;
        st.PkConfirmationLevel = -2147483647;
        st.PkOnHold = false;
    }
    void Test(int32_t v) {
        if (v > st.PkAmp) {
            st.PkAmp = v;
            st.PrePkAmp = st.LastAmp;
            st.PkNear2MHZtime = st.SampleTimeNear2MHz;
            st.PkConfirmationLevel = st.PkAmp / 2;
            st.PkOnHold = false;
        } else if (v < st.PkAmp && !st.PkOnHold) {
            st.PkOnHold = true;
            st.PkNear4MHZtime = 2 * st.PkNear2MHZtime;
            if (std::llabs(static_cast<long long>(v) - st.PrePkAmp) > st.PkAmp / 64) {
                st.PkNear4MHZtime += st.PrePkAmp > v ? -1 : 1;
            }
            if (v < st.PkConfirmationLevel) Pass();
        }
        st.LastAmp = v;
    }
    void Prepare(int32_t v) {
        if (st.HiResGraphPtr < hiResLength - 1) {
            st.hiRes[st.HiResGraphPtr++] = v;
        } else {
            st.hiResDrawn = st.hiRes;
            ++st.hiResDraws;
            st.GraphRequired = false;
        }
    }
    void MinEnd() {
        sink.ClickSelSM(255, 0, 0, true);
        st.SampleTimeNear2MHz = 0;
        st.LastPkNear4MHZtime = 0;
        sens.AdjustForMinute(settings, sink.clicks);
        sink.clicks = 0;
        sink.WriteMinuteRecs(1, sens.DeadBandPlusUplift, sens.MinuteScalerX2560);
        sens.MinsInThisTK1File += 1;
    }
    // The band-pass stage over S (high-pass output) of a block of n samples.
    void Stage(const std::vector<int32_t>& S, int32_t n) {
        static const int idx[4][5] = {
            {3, 7, 11, 15, 19}, {2, 6, 10, 14, 18}, {1, 5, 9, 13, 17}, {0, 4, 8, 12, 16}};
        for (int32_t p = 2; p <= n - 86; ++p) {
            if (std::llabs(static_cast<long long>(st.MaxSample) - st.MinSample) <=
                4LL * sens.AdjustedDeadBand) {
                st.SampleTimeNear2MHz += 4;
            } else {
                for (int k = 0; k < 4; ++k) {
                    st.SampleTimeNear2MHz += 1;
                    double sum = 0;
                    for (int j = 0; j < 5; ++j) {
                        sum += static_cast<double>(sens.Coeff[idx[k][j]]) * S[p - 2 + j];
                    }
                    const int32_t v = RefRound(sum);
                    if (v < st.PkConfirmationLevel && st.PkOnHold) Pass();
                    if (v > sens.AdjustedDeadBand) Test(v);
                    if (st.GraphRequired) Prepare(v);
                }
            }
            if (st.SampleTimeNear2MHz > rate.SampleTimeNear2MHzPerMin || sink.clicks >= 65536) {
                MinEnd();
            }
        }
    }
    // A whole file: 100 bytes skipped, blocks by the first-block rule.
    void Convert(const std::vector<uint8_t>& bytes, const WavFileRec& rec, bool graphs) {
        size_t pos = std::min<size_t>(100, bytes.size());
        bool first = true;
        do {
            st.GraphRequired = graphs;
            int64_t want = first ? (60 - rec.Start.Second) * int64_t{rate.SamplesPerMin} / 60
                                 : rate.SamplesPerMin;
            if (want == 0) want = rate.SamplesPerMin / 120;
            const size_t nbytes =
                std::min<size_t>(2 * static_cast<size_t>(want), bytes.size() - pos);
            const int32_t n = static_cast<int32_t>(nbytes / 2);
            S.resize(static_cast<size_t>(rate.SamplesPerMin) + 1, 0);
            st.MaxSample = 0;
            st.MinSample = 2147483647;
            for (int32_t i = 0; i < n; ++i) {
                const int32_t v =
                    static_cast<int16_t>(bytes[pos + 2 * i] | (bytes[pos + 2 * i + 1] << 8));
                S[i + 1] = v;
                if (st.GraphRequired) {
                    if (v > st.MaxSample) {
                        st.MaxSample = v;
                    } else if (v < st.MinSample) {
                        st.MinSample = v;
                    }
                }
            }
            pos += nbytes;
            st.SampleTimeNear2MHz = first ? rec.Start.TimeInMinuteNear2MHz : 0;
            first = false;
            if (st.GraphRequired) st.rawDrawn.assign(S.begin(), S.begin() + kGraphHead);
            RefHighPass(S, n);
            if (st.GraphRequired) st.filteredDrawn.assign(S.begin(), S.begin() + kGraphHead);
            st.HiResGraphPtr = 0;
            st.hiRes.assign(hiResLength, 0);
            st.LastPkNear4MHZtime = 2 * st.SampleTimeNear2MHz;
            st.PkOnHold = false;
            Stage(S, n);
        } while (pos < bytes.size());
    }
};

inline std::vector<uint8_t> FileBytes(const std::vector<int16_t>& samples, size_t extraBytes = 0) {
    std::vector<uint8_t> b(100, 0x55);
    for (int16_t s : samples) {
        b.push_back(static_cast<uint8_t>(s & 0xFF));
        b.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
    for (size_t i = 0; i < extraBytes; ++i) b.push_back(0x7F);
    return b;
}

}  // namespace wtk::test
