#include "synth/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

#include "temp_dir.h"

namespace {

using namespace wtk::synth;

// Envelope of one click measured from the samples by the moments of s^2 over [from, to):
// s^2 = A^2 env^2 cos^2, whose envelope part is a Gaussian of variance sigma^2 / 2.
struct Measured {
    double Centre;     // samples
    double Sigma;      // samples
    double Amplitude;  // counts
};

Measured Measure(const std::vector<int16_t>& s, int64_t from, int64_t to) {
    double m0 = 0, m1 = 0, m2 = 0;
    for (int64_t n = from; n < to; ++n) {
        const double e = double(s[size_t(n)]) * s[size_t(n)];
        m0 += e;
        m1 += e * n;
        m2 += e * double(n) * n;
    }
    const double c = m1 / m0;
    const double sigma = std::sqrt(2 * (m2 / m0 - c * c));
    // sum of A^2 env^2 cos^2 = A^2 / 2 * sigma sqrt(pi)
    return {c, sigma, std::sqrt(2 * m0 / (sigma * std::sqrt(M_PI)))};
}

double DftMagnitude(const std::vector<int16_t>& s, int64_t from, int64_t to, double hz,
                    double rate) {
    std::complex<double> x = 0;
    for (int64_t n = from; n < to; ++n)
        x += double(s[size_t(n)]) * std::polar(1.0, -2 * M_PI * hz * double(n) / rate);
    return std::abs(x);
}

RecordingSpec OneClick(int32_t rate, double centreSec, double hz, double durationSec, double amp) {
    RecordingSpec spec;
    spec.SampleRate = rate;
    spec.Seconds = 0.02;
    spec.NoiseRms = 0;
    ClickTrain t;
    t.StartSec = centreSec;
    t.Clicks = 1;
    t.FrequencyHz = hz;
    t.DurationSec = durationSec;
    t.PeakAmplitude = amp;
    spec.Trains = {t};
    return spec;
}

uint64_t Fnv1a(const std::vector<int16_t>& s) {
    uint64_t h = 1469598103934665603ULL;
    for (int16_t v : s) {
        for (int i = 0; i < 2; ++i) {
            h ^= (static_cast<uint16_t>(v) >> (8 * i)) & 0xFF;
            h *= 1099511628211ULL;
        }
    }
    return h;
}

RecordingSpec BusySpec() {
    RecordingSpec spec;
    spec.SampleRate = 576000;
    spec.Seconds = 1.5;
    spec.NoiseRms = 30;
    spec.FlowRms = 200;
    spec.Seed = 42;
    ClickTrain a;
    a.StartSec = 0.00003;  // its first click is cut by the start of the recording
    a.Clicks = 40;
    a.IciStartSec = 0.03;
    a.IciEndSec = 0.035;
    a.PeakAmplitude = 3000;
    ClickTrain b = a;  // a second animal, interleaved with the first
    b.StartSec = 0.0172;
    b.FrequencyHz = 127000;
    b.DurationSec = 140e-6;
    b.Shape = TrainShape::Gaussian;
    spec.Trains = {a, b};
    return spec;
}

TEST(SynthClick, ToneEnvelopeAndAmplitudeFollowTheSpecAtEveryRate) {
    struct Case {
        int32_t Rate;
        double Hz;
        double Duration;
    };
    for (const Case c : {Case{576000, 130000, 100e-6}, Case{384000, 120000, 80e-6},
                         Case{500000, 135000, 150e-6}}) {
        SCOPED_TRACE(c.Rate);
        const double centreSec = 0.01 + 0.37 / c.Rate;  // off the sample grid
        const RecordingSpec spec = OneClick(c.Rate, centreSec, c.Hz, c.Duration, 10000);
        const std::vector<int16_t> s = Generate(spec);
        ASSERT_EQ(s.size(), size_t(std::lround(0.02 * c.Rate)));
        const std::vector<ClickTruth> truth = GroundTruth(spec);
        ASSERT_EQ(truth.size(), 1u);
        EXPECT_DOUBLE_EQ(truth[0].CentreSample, centreSec * c.Rate);

        const int64_t mid = std::lround(truth[0].CentreSample);
        const int64_t half = int64_t(c.Duration * c.Rate * 2);  // well past the -20 dB points
        const Measured m = Measure(s, mid - half, mid + half);
        EXPECT_NEAR(m.Centre, truth[0].CentreSample, 0.05);
        const double width = m.Sigma / c.Rate * 2 * std::sqrt(2 * std::log(10.0));
        EXPECT_NEAR(width, c.Duration, 0.02 * c.Duration);
        EXPECT_NEAR(m.Amplitude, 10000, 100);

        // The spectrum peaks at the tone frequency and falls well off 20 kHz either side.
        double best = 0, bestHz = 0;
        for (double hz = c.Hz - 15000; hz <= c.Hz + 15000; hz += 250) {
            const double mag = DftMagnitude(s, mid - half, mid + half, hz, c.Rate);
            if (mag > best) best = mag, bestHz = hz;
        }
        EXPECT_NEAR(bestHz, c.Hz, 500);
        EXPECT_GT(best, 5 * DftMagnitude(s, mid - half, mid + half, c.Hz - 20000, c.Rate));
        EXPECT_GT(best, 5 * DftMagnitude(s, mid - half, mid + half, c.Hz + 20000, c.Rate));

        // Nothing outside the click's reach.
        EXPECT_EQ(*std::max_element(s.begin(), s.begin() + (mid - 4 * half)), 0);
        EXPECT_EQ(*std::min_element(s.begin() + (mid + 4 * half), s.end()), 0);
    }
    // Phase 0 puts the cosine's crest at the centre: on the sample grid it is the amplitude.
    const std::vector<int16_t> s = Generate(OneClick(576000, 0.01, 130000, 100e-6, 12345));
    EXPECT_EQ(s[5760], 12345);
    EXPECT_NEAR(SigmaFromDuration(100e-6), 23.30e-6, 0.01e-6);
    EXPECT_NEAR(DbFsToCounts(-6.0205999), 16383.5, 0.01);
}

TEST(SynthClick, GroundTruthMatchesTheClicksInNoisyInterleavedTrains) {
    const RecordingSpec spec = BusySpec();
    RecordingSpec quiet = spec;
    quiet.Trains.clear();
    const std::vector<int16_t> s = Generate(spec);
    const std::vector<int16_t> noise = Generate(quiet);
    // The clicks alone (the background does not depend on them, see below), up to rounding.
    std::vector<int16_t> clicks(s.size());
    for (size_t i = 0; i < s.size(); ++i) clicks[i] = int16_t(s[i] - noise[i]);
    const std::vector<ClickTruth> truth = GroundTruth(spec);
    ASSERT_EQ(truth.size(), 80u);
    for (size_t i = 1; i < truth.size(); ++i) {
        EXPECT_LE(truth[i - 1].CentreSec, truth[i].CentreSec);
        EXPECT_NE(truth[i - 1].Train, truth[i].Train);  // the two animals alternate
    }
    for (const ClickTruth& c : truth) {
        const double sigma = SigmaFromDuration(c.DurationSec) * spec.SampleRate;
        const int64_t mid = std::lround(c.CentreSample);
        const int64_t half = std::lround(5 * sigma);
        if (mid - half < 0) continue;  // the first click is cut by the start of the file
        SCOPED_TRACE(c.CentreSec);
        const Measured m = Measure(clicks, mid - half, mid + half);
        EXPECT_NEAR(m.Centre, c.CentreSample, 0.05);
        EXPECT_NEAR(m.Amplitude, c.PeakAmplitude, 0.01 * c.PeakAmplitude + 2);
        EXPECT_NEAR(m.Sigma, sigma, 0.02 * sigma + 0.2);
    }
    EXPECT_LT(truth[0].CentreSample, 7 * SigmaFromDuration(100e-6) * spec.SampleRate);
    EXPECT_GT(*std::max_element(clicks.begin(), clicks.begin() + 8), 20);  // the cut click is there
}

TEST(SynthClick, TheConverterSeesClicks28SamplesEarlier) {
    wtk::test::TempDir dir;
    RecordingSpec spec = OneClick(576000, 0.005, 130000, 100e-6, 8000);
    spec.Trains[0].Clicks = 3;
    spec.Trains[0].IciStartSec = spec.Trains[0].IciEndSec = 0.004;
    const WriteResult r = WriteWav(dir / "a.wav", spec);
    ASSERT_EQ(r.Truth.size(), 3u);
    const std::vector<uint8_t> bytes = wtk::test::ReadFileBytes(dir / "a.wav");
    ASSERT_EQ(bytes.size(), 44u + 2 * 11520);
    // What the converter reads: everything after the first 100 bytes.
    std::vector<int16_t> seen;
    for (size_t i = 100; i + 1 < bytes.size(); i += 2)
        seen.push_back(int16_t(uint16_t(bytes[i] | bytes[i + 1] << 8)));
    for (const ClickTruth& c : r.Truth) {
        const int64_t mid = std::lround(ConverterSample(c));
        const Measured m = Measure(seen, mid - 100, mid + 100);
        EXPECT_NEAR(m.Centre, ConverterSample(c), 0.05);
        EXPECT_DOUBLE_EQ(ConverterSeconds(c, 576000), c.CentreSec - 28.0 / 576000);
    }
    const std::string csv = TruthCsvHeader() + TruthCsvRows(r.Truth, 576000, "a.wav");
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
              "file,train,click,centre_s,centre_sample,converter_s,converter_sample,peak_counts,"
              "frequency_hz,duration_s");
    EXPECT_NE(csv.find("\r\na.wav,0,0,0.005,2880,0.004951388888888889,2852,"), std::string::npos)
        << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\r'), 4);
}

TEST(SynthFile, HeaderFieldsAndDataAreLittleEndianPcm) {
    wtk::test::TempDir dir;
    RecordingSpec spec = BusySpec();
    spec.Seconds = 0.25;
    const WriteResult r = WriteWav(dir / "b.wav", spec);
    const std::vector<uint8_t> bytes = wtk::test::ReadFileBytes(dir / "b.wav");
    auto u32 = [&](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    auto u16 = [&](size_t at) { return unsigned(bytes[at] | bytes[at + 1] << 8); };
    auto tag = [&](size_t at) { return std::string(bytes.begin() + at, bytes.begin() + at + 4); };
    ASSERT_EQ(r.Samples, 144000);
    ASSERT_EQ(bytes.size(), 44u + 288000);
    EXPECT_EQ(tag(0), "RIFF");
    EXPECT_EQ(u32(4), 36u + 288000);
    EXPECT_EQ(tag(8), "WAVE");
    EXPECT_EQ(tag(12), "fmt ");
    EXPECT_EQ(u32(16), 16u);
    EXPECT_EQ(u16(20), 1u);  // PCM
    EXPECT_EQ(u16(22), 1u);  // mono
    EXPECT_EQ(u32(24), 576000u);
    EXPECT_EQ(u32(28), 1152000u);
    EXPECT_EQ(u16(32), 2u);
    EXPECT_EQ(u16(34), 16u);
    EXPECT_EQ(tag(36), "data");
    EXPECT_EQ(u32(40), 288000u);
    const std::vector<int16_t> s = Generate(spec);
    for (size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(int16_t(uint16_t(bytes[44 + 2 * i] | bytes[45 + 2 * i] << 8)), s[i]) << i;

    // Longer than 4 GiB of data: the size fields saturate instead of wrapping.
    const auto big = WavHeader(576000, 3'000'000'000LL);
    EXPECT_EQ(big[4] & big[5] & big[6] & big[7], 0xFF);
    EXPECT_EQ(big[40] & big[41] & big[42] & big[43], 0xFF);
    // An hour at 576 k still fits.
    const auto hour = WavHeader(576000, 576000LL * 3600);
    EXPECT_EQ(uint32_t(hour[40] | hour[41] << 8 | hour[42] << 16) | uint32_t(hour[43]) << 24,
              uint32_t(576000ULL * 3600 * 2));

    // An empty recording is a header alone.
    spec.Seconds = 0;
    EXPECT_EQ(WriteWav(dir / "empty.wav", spec).Samples, 0);
    EXPECT_EQ(wtk::test::ReadFileBytes(dir / "empty.wav").size(), 44u);

    // A file that cannot be created is an error, not a silent success.
    EXPECT_THROW(WriteWav(dir / "no/such/dir/c.wav", spec), std::runtime_error);
}

TEST(SynthNoise, DeterministicPerSeedAndPinnedAcrossMachines) {
    RecordingSpec spec = BusySpec();
    spec.Seconds = 0.1;
    const std::vector<int16_t> a = Generate(spec);
    EXPECT_EQ(Generate(spec), a);
    spec.Seed = 43;
    const std::vector<int16_t> b = Generate(spec);
    size_t differ = 0;
    for (size_t i = 0; i < a.size(); ++i) differ += a[i] != b[i];
    EXPECT_GT(differ, a.size() * 9 / 10);
    // Same bytes on every platform and with every library: a change here changes every
    // recording the tests and the example are built from.
    RecordingSpec pinned;
    pinned.Seconds = 0.05;
    pinned.NoiseRms = 20;
    pinned.FlowRms = 100;
    pinned.Seed = 2024;
    ClickTrain t;
    t.StartSec = 0.001;
    t.Clicks = 3;
    t.IciStartSec = 0.02;
    t.IciEndSec = 0.02;
    t.PeakAmplitude = 5000;
    t.PhaseTurns = 0.3;
    pinned.Trains = {t};
    EXPECT_EQ(Fnv1a(Generate(pinned)), 0x9d7f3eab64f6a804ULL);
}

TEST(SynthNoise, LevelsAndSpectraOfBackgroundAndFlowNoise) {
    RecordingSpec spec;
    spec.SampleRate = 500000;
    spec.Seconds = 0.5;
    spec.NoiseRms = 100;
    const std::vector<int16_t> w = Generate(spec);
    double sum = 0, sum2 = 0, lag = 0;
    size_t beyond2 = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        sum += w[i];
        sum2 += double(w[i]) * w[i];
        if (i) lag += double(w[i]) * w[i - 1];
        beyond2 += std::abs(w[i]) > 200;
    }
    const double n = double(w.size());
    EXPECT_NEAR(sum / n, 0, 1);
    EXPECT_NEAR(std::sqrt(sum2 / n), 100, 1.5);
    EXPECT_NEAR(lag / sum2, 0, 0.01);         // white
    EXPECT_NEAR(beyond2 / n, 0.0455, 0.003);  // Gaussian tails

    // Flow noise alone: the asked RMS, and hardly anything left after a first difference.
    spec.NoiseRms = 0;
    spec.FlowRms = 300;
    spec.FlowCornerHz = 300;
    spec.Seconds = 4;
    const std::vector<int16_t> f = Generate(spec);
    double f2 = 0, d2 = 0, firstHalf2 = 0;
    for (size_t i = 0; i < f.size(); ++i) {
        f2 += double(f[i]) * f[i];
        if (i < 100000) firstHalf2 += double(f[i]) * f[i];
        if (i) d2 += double(f[i] - f[i - 1]) * (f[i] - f[i - 1]);
    }
    EXPECT_NEAR(std::sqrt(f2 / f.size()), 300, 15);
    EXPECT_GT(std::sqrt(firstHalf2 / 100000), 200);  // settled from the first sample
    EXPECT_LT(std::sqrt(d2 / f.size()), 0.02 * 300);
}

TEST(SynthNoise, ClicksAndFlowNoiseLeaveTheBackgroundUntouched) {
    const RecordingSpec with = BusySpec();
    RecordingSpec without = with;
    without.Trains.clear();
    const std::vector<int16_t> a = Generate(with);
    const std::vector<int16_t> b = Generate(without);
    std::vector<bool> nearClick(a.size());
    for (const ClickTruth& c : GroundTruth(with)) {
        const double reach = 7 * SigmaFromDuration(c.DurationSec) * with.SampleRate + 1;
        for (int64_t n = std::max<int64_t>(0, int64_t(c.CentreSample - reach));
             n <= int64_t(c.CentreSample + reach) && n < int64_t(a.size()); ++n)
            nearClick[size_t(n)] = true;
    }
    size_t outside = 0, differInside = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (nearClick[i]) {
            differInside += a[i] != b[i];
        } else {
            ++outside;
            ASSERT_EQ(a[i], b[i]) << i;
        }
    }
    EXPECT_GT(outside, a.size() / 2);
    EXPECT_GT(differInside, 1000u);

    // The white noise is the same with and without the flow noise: their difference is slow.
    RecordingSpec noFlow = without;
    noFlow.FlowRms = 0;
    const std::vector<int16_t> c = Generate(noFlow);
    double d2 = 0;
    for (size_t i = 1; i < b.size(); ++i) {
        const double d = double(b[i] - c[i]) - double(b[i - 1] - c[i - 1]);
        d2 += d * d;
    }
    EXPECT_LT(std::sqrt(d2 / b.size()), 2.0);  // rounding only; a new white noise would give ~42
}

TEST(SynthTrain, IntervalsStayInRangeAndMoveSmoothly) {
    RecordingSpec spec;
    spec.Seconds = 10;
    ClickTrain t;
    t.StartSec = 0.5;
    t.Clicks = 30;
    t.IciStartSec = 0.03;
    t.IciEndSec = 0.1;
    ClickTrain steady = t;
    steady.StartSec = 5;
    steady.IciStartSec = steady.IciEndSec = 0.045;
    ClickTrain byEnd = t;  // clicks up to an end time, the interval falling
    byEnd.StartSec = 7;
    byEnd.Clicks = 0;
    byEnd.EndSec = 9;
    byEnd.IciStartSec = 0.1;
    byEnd.IciEndSec = 0.04;
    spec.Trains = {t, steady, byEnd};
    const std::vector<ClickTruth> truth = GroundTruth(spec);
    std::vector<std::vector<double>> centres(3);
    for (const ClickTruth& c : truth) {
        ASSERT_EQ(size_t(c.Index), centres[size_t(c.Train)].size());
        centres[size_t(c.Train)].push_back(c.CentreSec);
    }
    ASSERT_EQ(centres[0].size(), 30u);
    ASSERT_EQ(centres[1].size(), 30u);
    std::vector<double> ici;
    for (size_t k = 1; k < 30; ++k) ici.push_back(centres[0][k] - centres[0][k - 1]);
    EXPECT_NEAR(ici.front(), 0.03, 1e-12);
    EXPECT_NEAR(ici.back(), 0.1, 1e-12);
    for (size_t k = 1; k < ici.size(); ++k) {
        EXPECT_GE(ici[k], ici[k - 1]);
        EXPECT_LT(ici[k] - ici[k - 1], 0.01);  // no jumps
    }
    for (size_t k = 1; k < 30; ++k) EXPECT_NEAR(centres[1][k] - centres[1][k - 1], 0.045, 1e-12);
    const std::vector<double>& e = centres[2];
    ASSERT_GT(e.size(), 20u);
    EXPECT_DOUBLE_EQ(e.front(), 7);
    EXPECT_LE(e.back(), 9);
    EXPECT_GT(e.back() + 0.04, 9);
    for (size_t k = 1; k < e.size(); ++k) {
        EXPECT_LE(e[k] - e[k - 1], 0.1 + 1e-12);
        EXPECT_GE(e[k] - e[k - 1], 0.04 - 1e-12);
    }
}

TEST(SynthTrain, AmplitudeRisesToThePeakAndFallsAgain) {
    RecordingSpec spec;
    spec.Seconds = 6;
    spec.NoiseRms = 0;
    ClickTrain rc;
    rc.StartSec = 0.1;
    rc.Clicks = 21;
    rc.PeakAmplitude = 10000;
    rc.EdgeLevel = 0.1;
    ClickTrain gauss = rc;
    gauss.StartSec = 2;
    gauss.Shape = TrainShape::Gaussian;
    gauss.PeakAt = 0.25;
    ClickTrain flat = rc;
    flat.StartSec = 4;
    flat.Shape = TrainShape::Flat;
    spec.Trains = {rc, gauss, flat};
    const std::vector<int16_t> s = Generate(spec);
    std::vector<std::vector<double>> amp(3);
    for (const ClickTruth& c : GroundTruth(spec)) {
        // The truth is what is in the samples.
        const int64_t mid = std::lround(c.CentreSample);
        EXPECT_NEAR(Measure(s, mid - 60, mid + 60).Amplitude, c.PeakAmplitude,
                    0.01 * c.PeakAmplitude + 2);
        amp[size_t(c.Train)].push_back(c.PeakAmplitude);
    }
    for (size_t train = 0; train < 2; ++train) {
        SCOPED_TRACE(train);
        const std::vector<double>& a = amp[train];
        ASSERT_EQ(a.size(), 21u);
        const size_t top = train == 0 ? 10 : 5;
        for (size_t k = 1; k <= top; ++k) EXPECT_GT(a[k], a[k - 1]);
        for (size_t k = top + 1; k < a.size(); ++k) EXPECT_LT(a[k], a[k - 1]);
        EXPECT_NEAR(a[top], 10000, 1e-6);
        EXPECT_NEAR(a.front(), 1000, 1e-6);
        EXPECT_NEAR(a.back(), 1000, 1e-6);
    }
    for (double a : amp[2]) EXPECT_EQ(a, 10000);
}

TEST(SynthNoise, VesselNoiseFollowsItsDistanceAndBladeRate) {
    RecordingSpec spec;
    spec.SampleRate = 384000;
    spec.Seconds = 2;
    spec.NoiseRms = 10;
    spec.Seed = 7;
    // Closest at 0.5 s, 3 dB down 0.4 s either side, beating 4 times a second.
    spec.Swells = {{0.5, 0.4, 200, 4, 0.5}};
    const std::vector<int16_t> s = Generate(spec);
    // The RMS over 5 ms windows against the stated law.
    for (const double at : {0.0, 0.125, 0.25, 0.5, 0.6, 0.9, 1.3, 1.99}) {
        const int64_t from = int64_t(at * spec.SampleRate);
        const int64_t to = std::min<int64_t>(from + 1920, int64_t(s.size()));
        double sum2 = 0;
        for (int64_t n = from; n < to; ++n) sum2 += double(s[size_t(n)]) * s[size_t(n)];
        const double want = NoiseRmsAt(spec, (from + to) / 2.0 / spec.SampleRate);
        EXPECT_NEAR(std::sqrt(sum2 / double(to - from)), want, 0.06 * want) << at;
    }
    EXPECT_NEAR(NoiseRmsAt(spec, 0.5), std::hypot(10.0, 300.0), 1e-9);  // crest of a beat
    EXPECT_NEAR(NoiseRmsAt(spec, 0.625), std::hypot(10.0, 100 / std::sqrt(1 + 0.0977)), 0.01);
    EXPECT_NEAR(NoiseRmsAt(spec, 1.0), std::hypot(10.0, 300 / std::sqrt(1 + 1.5625)), 1e-9);
    spec.Swells.clear();
    EXPECT_EQ(NoiseRmsAt(spec, 0.5), 10);
}

TEST(SynthStream, PiecesOfAnySizeGiveTheSamplesOfOnePiece) {
    RecordingSpec vessel = BusySpec();
    vessel.Swells = {{0.7, 0.3, 80, 23, 0.6}, {-2, 1, 30, 11, 0.2}};
    for (const RecordingSpec& spec : {BusySpec(), vessel}) {
        const std::vector<int16_t> whole = Generate(spec);
        Generator g(spec);
        EXPECT_EQ(g.TotalSamples(), int64_t(whole.size()));
        std::vector<int16_t> joined;
        std::vector<int16_t> buf(200000);
        size_t step = 0;
        for (size_t size : {1, 2, 7, 4096, 16383, 16384, 16385, 1, 100000, 2999, 200000}) {
            const size_t n = g.Next(std::span(buf.data(), size));
            joined.insert(joined.end(), buf.begin(), buf.begin() + long(n));
            EXPECT_EQ(g.Position(), int64_t(joined.size())) << step++;
        }
        while (size_t n = g.Next(buf))
            joined.insert(joined.end(), buf.begin(), buf.begin() + long(n));
        EXPECT_EQ(g.Next(buf), 0u);
        EXPECT_TRUE(joined == whole);
        EXPECT_EQ(g.Truth().size(), GroundTruth(spec).size());
    }
}

TEST(SynthClip, LoudClicksAndNoiseStopAtTheInt16Limits) {
    RecordingSpec spec = OneClick(576000, 0.01, 130000, 100e-6, 100000);
    Generator g(spec);
    std::vector<int16_t> s(size_t(g.TotalSamples()));
    g.Next(s);
    EXPECT_EQ(s[5760], 32767);
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 32767);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), -32768);
    EXPECT_GT(g.ClippedSamples(), 10);
    // No wrap-around: next to a clipped crest the samples keep their sign.
    for (size_t i = 5700; i < 5820; ++i) {
        const double d = (double(i) - 5760) / 576000;
        const double ideal = 100000 *
                             std::exp(-d * d / (2 * std::pow(SigmaFromDuration(100e-6), 2))) *
                             std::cos(2 * M_PI * 130000 * d);
        if (ideal > 32767) {
            EXPECT_EQ(s[i], 32767) << i;
        } else if (ideal < -32768) {
            EXPECT_EQ(s[i], -32768) << i;
        }
        if (std::fabs(ideal) > 100) {
            EXPECT_EQ(s[i] > 0, ideal > 0) << i;
        }
    }

    RecordingSpec loud;
    loud.Seconds = 0.01;
    loud.NoiseRms = 100000;
    Generator n(loud);
    std::vector<int16_t> v(size_t(n.TotalSamples()));
    n.Next(v);
    size_t atLimit = 0;
    for (int16_t x : v) atLimit += x == 32767 || x == -32768;
    // |z| > 0.328 for a tenth of the range at 3 sigma: about 74 % of the samples.
    EXPECT_NEAR(double(n.ClippedSamples()), double(atLimit), 2);
    EXPECT_NEAR(double(atLimit) / double(v.size()), 0.743, 0.03);
}

TEST(SynthSpec, OutOfRangeValuesAreRefused) {
    auto refused = [](auto change) {
        RecordingSpec spec = OneClick(576000, 0.01, 130000, 100e-6, 1000);
        change(spec);
        return [&] {
            try {
                Generator g(spec);
                return false;
            } catch (const std::invalid_argument&) {
                return true;
            }
        }();
    };
    EXPECT_FALSE(refused([](RecordingSpec&) {}));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.SampleRate = 0; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Seconds = -1; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Seconds = NAN; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.NoiseRms = -1; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.FlowRms = 10, s.FlowCornerHz = 0; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].FrequencyHz = 288000; }));  // Nyquist
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].DurationSec = 0; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].IciStartSec = 0; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].EdgeLevel = 0; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].PeakAt = 1.5; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].Clicks = -1; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].Clicks = 0, s.Trains[0].EndSec = 0; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Trains[0].PeakAmplitude = INFINITY; }));
    EXPECT_FALSE(refused([](RecordingSpec& s) { s.Swells = {{-5, 1, 100, 20, 1}}; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Swells = {{0, 0, 100, 20, 0.5}}; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Swells = {{0, 1, -1, 20, 0.5}}; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Swells = {{0, 1, 100, 20, 1.5}}; }));
    EXPECT_TRUE(refused([](RecordingSpec& s) { s.Swells = {{NAN, 1, 100, 20, 0.5}}; }));
}

TEST(SynthExample, ArchiveNamesDatesAndPlannedTrains) {
    const std::vector<ExampleFile> files = ExampleArchive();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].Name, "HARBOUR.20240611080000.wav");
    EXPECT_EQ(files[1].Name, "HARBOUR.20240611080300.wav");
    EXPECT_EQ(files[2].Name, "REEF.20240611080000.wav");
    for (const ExampleFile& f : files) {
        SCOPED_TRACE(f.Name);
        EXPECT_EQ(f.Spec.SampleRate, 576000);
        EXPECT_EQ(SampleCount(f.Spec), 576000LL * 90);
        ASSERT_GE(f.Spec.Trains.size(), 3u);
        for (const ClickTrain& t : f.Spec.Trains) {
            EXPECT_GE(t.IciStartSec, 0.03);
            EXPECT_LE(t.IciStartSec, 0.1);
            EXPECT_GE(t.IciEndSec, 0.03);
            EXPECT_LE(t.IciEndSec, 0.1);
            EXPECT_GE(t.DurationSec, 80e-6);
            EXPECT_LE(t.DurationSec, 150e-6);
            EXPECT_NEAR(t.FrequencyHz, 131000, 4000);
        }
        const std::vector<ClickTruth> truth = GroundTruth(f.Spec);
        size_t planned = 0;
        for (const ClickTrain& t : f.Spec.Trains) planned += size_t(t.Clicks);
        ASSERT_EQ(truth.size(), planned);  // every click inside the file
        EXPECT_LE(truth.back().CentreSec, 89.5);
        for (size_t i = 1; i < truth.size(); ++i) {
            if (truth[i].Train == truth[i - 1].Train) continue;
            // Trains follow one another with a quiet gap of at least a second.
            EXPECT_EQ(truth[i].Train, truth[i - 1].Train + 1);
            EXPECT_GE(truth[i].CentreSec - truth[i - 1].CentreSec, 1 - 1e-9);
        }
    }
    EXPECT_NE(files[0].Spec.Seed, files[1].Spec.Seed);

    // A short recording still gets clicks: the train is cut to end before the recording does.
    TrainPlan shortPlan;
    shortPlan.Seconds = 2;
    const std::vector<ClickTrain> shortTrains = PlanTrains(shortPlan);
    ASSERT_EQ(shortTrains.size(), 1u);
    RecordingSpec shortSpec;
    shortSpec.Seconds = 2;
    shortSpec.Trains = shortTrains;
    const std::vector<ClickTruth> shortTruth = GroundTruth(shortSpec);
    EXPECT_EQ(shortTruth.size(), size_t(shortTrains[0].Clicks));
    EXPECT_GE(shortTruth.size(), 5u);
    EXPECT_LE(shortTruth.back().CentreSec, 1.8);

    ExampleOptions more;
    more.Seconds = 3600;
    more.HarbourFiles = 20;
    more.ReefFiles = 0;
    const std::vector<ExampleFile> day = ExampleArchive(more);
    ASSERT_EQ(day.size(), 20u);
    EXPECT_EQ(day[1].Name, "HARBOUR.20240611090100.wav");
    EXPECT_EQ(day[16].Name, "HARBOUR.20240612001600.wav");  // past midnight
}

}  // namespace
