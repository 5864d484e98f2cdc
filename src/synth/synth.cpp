#include "synth/synth.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>

#include "base/calendar.h"
#include "base/numbers.h"
#include "synth/portable_math.h"
#include "synth/random_draws.h"

namespace wtk::synth {

namespace {

namespace pm = portable;

constexpr double kEnvelopeReachSigmas = 7.0;  // a click is drawn over its centre +- 7 sigma
constexpr int64_t kMaxSamples = int64_t{1} << 40;
constexpr int32_t kMaxClicksPerTrain = 1'000'000;
constexpr size_t kMaxClicks = 10'000'000;
constexpr size_t kPieceSamples = 16384;  // generator's working piece
constexpr int64_t kSwellStep = 32;       // samples that share one RMS of a vessel's noise
// Seeds the second random stream that settles the flow-noise filter before the first sample.
constexpr uint64_t kFlowWarmUpSeedMix = 0x9E3779B97F4A7C15ULL;

[[noreturn]] void Refuse(const std::string& what) {
    throw std::invalid_argument(what);
}

bool Finite(double x) {
    return std::isfinite(x);
}

void CheckSpec(const RecordingSpec& spec) {
    if (spec.SampleRate < 1000 || spec.SampleRate > 10'000'000)
        Refuse("sample rate must be 1000 ... 10000000 samples/s");
    if (!Finite(spec.Seconds) || spec.Seconds < 0) Refuse("length must be 0 s or more");
    if (spec.Seconds * spec.SampleRate > static_cast<double>(kMaxSamples))
        Refuse("recording too long");
    if (!Finite(spec.NoiseRms) || spec.NoiseRms < 0 || spec.NoiseRms > 1e6)
        Refuse("noise RMS must be 0 ... 1e6 counts");
    if (!Finite(spec.FlowRms) || spec.FlowRms < 0 || spec.FlowRms > 1e6)
        Refuse("flow noise RMS must be 0 ... 1e6 counts");
    if (spec.FlowRms > 0 && (!Finite(spec.FlowCornerHz) || spec.FlowCornerHz < 10 ||
                             spec.FlowCornerHz >= spec.SampleRate / 2.0))
        Refuse("flow noise corner must be 10 Hz ... half the sample rate");
    for (const NoiseSwell& w : spec.Swells) {
        if (!Finite(w.CentreSec) || std::fabs(w.CentreSec) > 1e9 || !Finite(w.HalfWidthSec) ||
            w.HalfWidthSec < 1e-3 || w.HalfWidthSec > 1e9)
            Refuse("noise swell centre or width out of range");
        if (!Finite(w.PeakRms) || w.PeakRms < 0 || w.PeakRms > 1e6)
            Refuse("noise swell RMS must be 0 ... 1e6 counts");
        if (!Finite(w.ModulationHz) || w.ModulationHz < 0 ||
            w.ModulationHz >= spec.SampleRate / 2.0 || !Finite(w.ModulationDepth) ||
            w.ModulationDepth < 0 || w.ModulationDepth > 1)
            Refuse("noise swell modulation out of range");
    }
    const double nyquist = spec.SampleRate / 2.0;
    for (const ClickTrain& t : spec.Trains) {
        if (!Finite(t.StartSec) || std::fabs(t.StartSec) > 1e9) Refuse("train start out of range");
        if (!Finite(t.IciStartSec) || !Finite(t.IciEndSec) || t.IciStartSec < 1e-6 ||
            t.IciEndSec < 1e-6 || t.IciStartSec > 1e3 || t.IciEndSec > 1e3)
            Refuse("inter-click interval must be 1 us ... 1000 s");
        if (t.Clicks < 0 || t.Clicks > kMaxClicksPerTrain)
            Refuse("clicks per train must be 0 ... 1000000");
        if (t.Clicks == 0 &&
            (!Finite(t.EndSec) || t.EndSec < t.StartSec ||
             (t.EndSec - t.StartSec) / std::min(t.IciStartSec, t.IciEndSec) > kMaxClicksPerTrain))
            Refuse("train end must lie after its start, within 1000000 clicks");
        if (!Finite(t.FrequencyHz) || t.FrequencyHz <= 0 || t.FrequencyHz >= nyquist)
            Refuse("click frequency must lie between 0 and half the sample rate");
        if (!Finite(t.DurationSec) || t.DurationSec < 1e-6 || t.DurationSec > 0.1)
            Refuse("click duration must be 1 us ... 0.1 s");
        if (!Finite(t.PeakAmplitude) || t.PeakAmplitude < 0 || t.PeakAmplitude > 1e9)
            Refuse("click amplitude must be 0 ... 1e9 counts");
        if (!Finite(t.EdgeLevel) || t.EdgeLevel <= 0 || t.EdgeLevel > 1)
            Refuse("edge level must be above 0 and at most 1");
        if (!Finite(t.PeakAt) || t.PeakAt < 0 || t.PeakAt > 1)
            Refuse("peak position must be 0 ... 1");
        if (!Finite(t.PhaseTurns) || std::fabs(t.PhaseTurns) > 1e6) Refuse("phase out of range");
    }
}

// Interval after a click at fraction u (0 ... 1) of the train: a half cosine from start to end.
double IciAt(const ClickTrain& t, double u) {
    const double c = pm::SinCosTurns(0.5 * u).Cos;  // cos(pi u)
    return t.IciStartSec + (t.IciEndSec - t.IciStartSec) * (0.5 * (1.0 - c));
}

// Relative amplitude of a click at fraction u (0 ... 1) of the train.
double ShapeAt(const ClickTrain& t, double u) {
    // Map u so that the loudest click sits at PeakAt: v runs 0 ... 0.5 before it, 0.5 ... 1 after.
    double v;
    if (u <= t.PeakAt)
        v = t.PeakAt > 0 ? 0.5 * u / t.PeakAt : 0.5;
    else
        v = 0.5 + 0.5 * (u - t.PeakAt) / (1.0 - t.PeakAt);
    switch (t.Shape) {
        case TrainShape::Flat:
            return 1.0;
        case TrainShape::RaisedCosine: {
            const double c = pm::SinCosTurns(v).Cos;
            return t.EdgeLevel + (1.0 - t.EdgeLevel) * (0.5 * (1.0 - c));
        }
        case TrainShape::Gaussian: {
            const double w = 2.0 * v - 1.0;
            return pm::Exp(pm::Log(t.EdgeLevel) * (w * w));
        }
    }
    return 1.0;
}

// Click centre times of one train, s.
std::vector<double> CentresOf(const ClickTrain& t) {
    std::vector<double> centres;
    double c = t.StartSec;
    if (t.Clicks > 0) {
        centres.reserve(static_cast<size_t>(t.Clicks));
        for (int32_t k = 0; k < t.Clicks; ++k) {
            centres.push_back(c);
            const double u = t.Clicks > 2 ? static_cast<double>(k) / (t.Clicks - 2) : 0.0;
            c += IciAt(t, u);
        }
    } else {
        const double span = t.EndSec - t.StartSec;
        while (c <= t.EndSec && centres.size() <= static_cast<size_t>(kMaxClicksPerTrain)) {
            centres.push_back(c);
            c += IciAt(t, span > 0 ? (c - t.StartSec) / span : 0.0);
        }
    }
    return centres;
}

std::vector<ClickTruth> Truths(const RecordingSpec& spec) {
    const int64_t total = SampleCount(spec);
    std::vector<ClickTruth> truth;
    for (size_t ti = 0; ti < spec.Trains.size(); ++ti) {
        const ClickTrain& t = spec.Trains[ti];
        const std::vector<double> centres = CentresOf(t);
        const size_t n = centres.size();
        for (size_t k = 0; k < n; ++k) {
            const double u = n > 1 ? static_cast<double>(k) / static_cast<double>(n - 1) : 0.5;
            ClickTruth c;
            c.Train = static_cast<int32_t>(ti);
            c.Index = static_cast<int32_t>(k);
            c.CentreSec = centres[k];
            c.CentreSample = centres[k] * spec.SampleRate;
            c.PeakAmplitude = t.PeakAmplitude * ShapeAt(t, u);
            c.FrequencyHz = t.FrequencyHz;
            c.DurationSec = t.DurationSec;
            if (c.CentreSample < 0 || c.CentreSample >= static_cast<double>(total)) continue;
            truth.push_back(c);
            if (truth.size() > kMaxClicks) Refuse("too many clicks");
        }
    }
    std::stable_sort(truth.begin(), truth.end(), [](const ClickTruth& a, const ClickTruth& b) {
        return a.CentreSec < b.CentreSec;
    });
    return truth;
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t SaturatedU32(int64_t v) {
    return v > int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(v < 0 ? 0 : v);
}

std::string Num(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}
std::string Num(int64_t v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// Date and time of a minute count from 2024-06-11 08:00, as yyyymmddhhmm00.
std::string ExampleStamp(int64_t minutesAfterStart) {
    const FloorDivision day =
        FloorDivide(MinuteNumberFromCivil(2024, 6, 11, 8, 0) + minutesAfterStart, kMinutesPerDay);
    const CivilDate date = CivilFromDayNumber(day.Quotient);
    const int64_t minute = day.Remainder;
    std::string s;
    AppendZeroPadded(s, date.Year, 4);
    AppendZeroPadded(s, date.Month, 2);
    AppendZeroPadded(s, date.Day, 2);
    AppendZeroPadded(s, minute / 60, 2);
    AppendZeroPadded(s, minute % 60, 2);
    return s + "00";
}

// The chunks one after the other, each with its header and the pad byte of an odd body.
std::vector<uint8_t> ChunkBytes(const std::vector<MetadataChunk>& chunks) {
    std::vector<uint8_t> out;
    for (const MetadataChunk& c : chunks) {
        if (c.Body.size() > UINT32_MAX - 1) Refuse("metadata chunk too large");
        uint8_t header[8];
        std::memcpy(header, c.Id.data(), 4);
        PutU32(header + 4, static_cast<uint32_t>(c.Body.size()));
        out.insert(out.end(), header, header + 8);
        out.insert(out.end(), c.Body.begin(), c.Body.end());
        if (c.Body.size() % 2 == 1) out.push_back(0);
    }
    return out;
}

}  // namespace

double ConverterSeconds(const ClickTruth& c, int32_t sampleRate, int32_t skipSamples) {
    return ConverterSample(c, skipSamples) / sampleRate;
}

double DbFsToCounts(double dbfs) {
    return 32767.0 * pm::Exp(dbfs * (pm::Log(10.0) / 20.0));
}

double SigmaFromDuration(double durationSec) {
    // exp(-(D/2)^2 / (2 sigma^2)) = 1/10  <=>  sigma = D / (2 sqrt(2 ln 10)).
    return durationSec / (2.0 * std::sqrt(2.0 * pm::Log(10.0)));
}

int64_t SampleCount(const RecordingSpec& spec) {
    return RoundHalfEven(spec.Seconds * static_cast<double>(spec.SampleRate));
}

double NoiseRmsAt(const RecordingSpec& spec, double sec) {
    double power = spec.NoiseRms * spec.NoiseRms;
    for (const NoiseSwell& w : spec.Swells) {
        const double u = (sec - w.CentreSec) / w.HalfWidthSec;
        const double beat = 1 + w.ModulationDepth * pm::SinCosTurns(w.ModulationHz * sec).Cos;
        const double rms = w.PeakRms * beat / std::sqrt(1 + u * u);
        power += rms * rms;
    }
    return std::sqrt(power);
}

std::vector<ClickTruth> GroundTruth(const RecordingSpec& spec) {
    CheckSpec(spec);
    return Truths(spec);
}

Generator::Generator(RecordingSpec spec) : spec_(std::move(spec)), rng_(spec_.Seed) {
    CheckSpec(spec_);
    total_ = SampleCount(spec_);
    truth_ = Truths(spec_);
    const double rate = spec_.SampleRate;
    shapes_.reserve(truth_.size());
    for (const ClickTruth& c : truth_) {
        const ClickTrain& t = spec_.Trains[static_cast<size_t>(c.Train)];
        const double sigma = SigmaFromDuration(c.DurationSec) * rate;  // samples
        ClickShape s;
        s.Centre = c.CentreSample;
        s.Amplitude = c.PeakAmplitude;
        s.TurnsPerSample = c.FrequencyHz / rate;
        s.PhaseTurns = t.PhaseTurns;
        s.InvTwoSigma2 = 1.0 / (2.0 * sigma * sigma);
        const double reach = kEnvelopeReachSigmas * sigma;
        s.First = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(c.CentreSample - reach)));
        s.End =
            std::min<int64_t>(total_, static_cast<int64_t>(std::floor(c.CentreSample + reach)) + 1);
        shapes_.push_back(s);
    }
    std::stable_sort(shapes_.begin(), shapes_.end(),
                     [](const ClickShape& a, const ClickShape& b) { return a.First < b.First; });

    noiseScale_ = spec_.NoiseRms;
    if (spec_.FlowRms > 0) {
        // Two one-pole low-passes y += (1 - a)(x - y). For white input of unit variance the
        // output variance is (1 - a)^4 (1 + a^2) / (1 - a^2)^3; scale the input to FlowRms.
        const double a = pm::Exp(-pm::kTwoPi * spec_.FlowCornerHz / rate);
        const double b = 1.0 - a;
        const double oneMinusA2 = 1.0 - a * a;
        const double var = b * b * b * b * (1.0 + a * a) / (oneMinusA2 * oneMinusA2 * oneMinusA2);
        flowPole_ = a;
        flowGain_ = spec_.FlowRms / std::sqrt(var);
        // Settle the filter for 20 time constants so the flow noise is steady from sample 0.
        std::mt19937_64 warm(spec_.Seed ^ kFlowWarmUpSeedMix);
        const int64_t settle = static_cast<int64_t>(std::ceil(20.0 / b));
        for (int64_t i = 0; i < settle; ++i) {
            const double x = flowGain_ * GaussianPair(warm).first;
            flow1_ += b * (x - flow1_);
            flow2_ += b * (flow1_ - flow2_);
        }
    }
    acc_.resize(kPieceSamples);
}

void Generator::Fill(int64_t first, size_t n) {
    assert(n <= acc_.size());
    const bool flow = spec_.FlowRms > 0;
    const double b = 1.0 - flowPole_;
    // Every sample takes one Gaussian pair: the first value is background noise, the second
    // drives the flow noise, so switching flow noise or clicks on or off keeps the background.
    // A vessel's noise changes slowly beside the sample rate: its RMS is taken once every
    // kSwellStep samples, at the middle of the step.
    const bool swells = !spec_.Swells.empty();
    auto stepScale = [&](int64_t sample) {
        const int64_t step = sample - sample % kSwellStep;
        const double mid = static_cast<double>(step) + 0.5 * static_cast<double>(kSwellStep);
        return NoiseRmsAt(spec_, mid / spec_.SampleRate);
    };
    double scale = swells ? stepScale(first) : noiseScale_;
    for (size_t i = 0; i < n; ++i) {
        const auto [z0, z1] = GaussianPair(rng_);
        const int64_t sample = first + static_cast<int64_t>(i);
        if (swells && sample % kSwellStep == 0) scale = stepScale(sample);
        double v = scale * z0;
        if (flow) {
            flow1_ += b * (flowGain_ * z1 - flow1_);
            flow2_ += b * (flow1_ - flow2_);
            v += flow2_;
        }
        acc_[i] = v;
    }
    const int64_t end = first + static_cast<int64_t>(n);
    while (firstLive_ < shapes_.size() && shapes_[firstLive_].End <= first) ++firstLive_;
    for (size_t k = firstLive_; k < shapes_.size() && shapes_[k].First < end; ++k) {
        const ClickShape& s = shapes_[k];
        const int64_t from = std::max(s.First, first);
        const int64_t to = std::min(s.End, end);
        for (int64_t j = from; j < to; ++j) {
            const double d = static_cast<double>(j) - s.Centre;
            const double env = pm::Exp(-(d * d) * s.InvTwoSigma2);
            const double tone = pm::SinCosTurns(d * s.TurnsPerSample + s.PhaseTurns).Cos;
            acc_[static_cast<size_t>(j - first)] += s.Amplitude * env * tone;
        }
    }
}

size_t Generator::Next(std::span<int16_t> out) {
    size_t done = 0;
    while (done < out.size() && pos_ < total_) {
        const size_t n = static_cast<size_t>(
            std::min<int64_t>(std::min(out.size() - done, acc_.size()), total_ - pos_));
        Fill(pos_, n);
        for (size_t i = 0; i < n; ++i) {
            const double v = acc_[i];
            int16_t s;
            if (v > 32767.0) {
                s = 32767;
                ++clipped_;
            } else if (v < -32768.0) {
                s = -32768;
                ++clipped_;
            } else {
                s = static_cast<int16_t>(pm::RoundToInt(v));  // ties to even, like RoundHalfEven
            }
            out[done + i] = s;
        }
        pos_ += static_cast<int64_t>(n);
        done += n;
    }
    return done;
}

std::vector<int16_t> Generate(const RecordingSpec& spec) {
    Generator g(spec);
    std::vector<int16_t> samples(static_cast<size_t>(g.TotalSamples()));
    const size_t n = g.Next(samples);
    assert(n == samples.size());
    (void)n;
    return samples;
}

std::array<uint8_t, kWavHeaderBytes> WavHeader(int32_t sampleRate, int64_t samples) {
    std::array<uint8_t, kWavHeaderBytes> h{};
    const int64_t dataBytes = 2 * samples;
    std::memcpy(&h[0], "RIFF", 4);
    PutU32(&h[4], SaturatedU32(36 + dataBytes));
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    PutU32(&h[16], 16);  // fmt chunk size
    PutU16(&h[20], 1);   // PCM
    PutU16(&h[22], 1);   // mono
    PutU32(&h[24], static_cast<uint32_t>(sampleRate));
    PutU32(&h[28], static_cast<uint32_t>(sampleRate) * 2u);  // bytes per second
    PutU16(&h[32], 2);                                       // bytes per sample frame
    PutU16(&h[34], 16);                                      // bits per sample
    std::memcpy(&h[36], "data", 4);
    PutU32(&h[40], SaturatedU32(dataBytes));
    return h;
}

int16_t ReadBackSample(int16_t k, SampleStore store) {
    return store == SampleStore::Pcm8 ? static_cast<int16_t>((k >> 8) * 256) : k;
}

namespace {

int32_t StoreBytes(SampleStore store) {
    switch (store) {
        case SampleStore::Pcm8:
            return 1;
        case SampleStore::Pcm24:
            return 3;
        case SampleStore::Pcm32:
        case SampleStore::Float32:
            return 4;
        case SampleStore::Pcm16:
            break;
    }
    return 2;
}

// The fmt chunk's body of the format at the rate.
std::vector<uint8_t> FmtBody(const StoreFormat& f, int32_t sampleRate) {
    const auto bytes = static_cast<uint32_t>(StoreBytes(f.Store));
    const uint16_t code = f.Store == SampleStore::Float32 ? 3 : 1;
    std::vector<uint8_t> b(f.Extensible ? 40 : 16, 0);
    PutU16(&b[0], f.Extensible ? 0xFFFE : code);
    PutU16(&b[2], static_cast<uint16_t>(f.Channels));
    PutU32(&b[4], static_cast<uint32_t>(sampleRate));
    PutU32(&b[8], static_cast<uint32_t>(sampleRate) * bytes * static_cast<uint32_t>(f.Channels));
    PutU16(&b[12], static_cast<uint16_t>(bytes * static_cast<uint32_t>(f.Channels)));
    PutU16(&b[14], static_cast<uint16_t>(8 * bytes));
    if (f.Extensible) {
        static constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        PutU16(&b[16], 22);
        PutU16(&b[18], static_cast<uint16_t>(8 * bytes));  // valid bits
        PutU32(&b[20], 0);                                 // no speaker positions
        PutU16(&b[24], code);
        std::memcpy(&b[26], kGuidTail, sizeof kGuidTail);
    }
    return b;
}

// Sample k of the recording as the format stores it, appended.
// Writes k as stored at b; returns the byte after it.
uint8_t* PutStored(uint8_t* b, int16_t k, SampleStore store) {
    switch (store) {
        case SampleStore::Pcm16:
            PutU16(b, static_cast<uint16_t>(k));
            break;
        case SampleStore::Pcm24: {
            // three bytes only: a fourth would run past the last frame of the buffer
            const uint32_t v = static_cast<uint32_t>(k) << 8;
            b[0] = static_cast<uint8_t>(v);
            b[1] = static_cast<uint8_t>(v >> 8);
            b[2] = static_cast<uint8_t>(v >> 16);
            break;
        }
        case SampleStore::Pcm32:
            PutU32(b, static_cast<uint32_t>(k) << 16);
            break;
        case SampleStore::Float32:
            PutU32(b, std::bit_cast<uint32_t>(static_cast<float>(k) / 32768.0f));
            break;
        case SampleStore::Pcm8:
            b[0] = static_cast<uint8_t>((k >> 8) + 128);
            break;
    }
    return b + StoreBytes(store);
}

}  // namespace

int64_t WriteStoredWav(const std::string& path, int32_t sampleRate, int64_t samples,
                       const std::function<size_t(std::span<int16_t>)>& next,
                       const StoreFormat& format,
                       const std::vector<MetadataChunk>& chunksBeforeData,
                       const std::vector<MetadataChunk>& chunksAfterData) {
    if (format.Channels < 1 || format.Channels > 8 || format.Channel < 1 ||
        format.Channel > format.Channels)
        throw std::invalid_argument("channel " + std::to_string(format.Channel) + " of " +
                                    std::to_string(format.Channels) + " channels");
    const int64_t frameBytes = int64_t{StoreBytes(format.Store)} * format.Channels;
    const int64_t dataBytes = frameBytes * samples;
    // RIFF header, fmt chunk, the chunks before the data, the data chunk's header.
    std::vector<uint8_t> head = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const std::vector<uint8_t> fmt =
        ChunkBytes({{{'f', 'm', 't', ' '}, FmtBody(format, sampleRate)}});
    const std::vector<uint8_t> before = ChunkBytes(chunksBeforeData);
    const std::vector<uint8_t> after = ChunkBytes(chunksAfterData);
    head.insert(head.end(), fmt.begin(), fmt.end());
    head.insert(head.end(), before.begin(), before.end());
    const uint8_t data[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    head.insert(head.end(), data, data + 8);
    PutU32(&head[head.size() - 4], SaturatedU32(dataBytes));
    PutU32(&head[4], SaturatedU32(static_cast<int64_t>(head.size()) - 8 + dataBytes +
                                  static_cast<int64_t>(after.size())));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    auto fail = [&](const char* what) {
        const std::string msg = std::string(what) + " " + path + ": " + std::strerror(errno);
        std::fclose(f);
        std::remove(path.c_str());  // no truncated recording left behind
        throw std::runtime_error(msg);
    };
    if (std::fwrite(head.data(), 1, head.size(), f) != head.size()) fail("cannot write");
    constexpr size_t kChunk = 65536;
    std::vector<int16_t> piece(kChunk);
    std::vector<uint8_t> bytes(kChunk * static_cast<size_t>(frameBytes));
    for (;;) {
        const size_t n = next(piece);
        if (n == 0) break;
        uint8_t* at = bytes.data();
        for (size_t i = 0; i < n; ++i) {
            for (int32_t c = 1; c <= format.Channels; ++c) {
                const int16_t k = piece[i];
                at = PutStored(at, c == format.Channel ? k : static_cast<int16_t>(-(k / 2)),
                               format.Store);
            }
        }
        const size_t size = static_cast<size_t>(at - bytes.data());
        if (std::fwrite(bytes.data(), 1, size, f) != size) fail("cannot write");
    }
    if (!after.empty() && std::fwrite(after.data(), 1, after.size(), f) != after.size())
        fail("cannot write");
    if (std::fclose(f) != 0) {
        const std::string msg = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(path.c_str());
        throw std::runtime_error(msg);
    }
    return static_cast<int64_t>(head.size());
}

WriteResult WriteWav(const std::string& path, const RecordingSpec& spec,
                     const std::vector<MetadataChunk>& chunksBeforeData,
                     const std::vector<MetadataChunk>& chunksAfterData, const StoreFormat& format) {
    Generator g(spec);
    WriteResult result{};
    result.DataOffset = WriteStoredWav(
        path, spec.SampleRate, g.TotalSamples(),
        [&](std::span<int16_t> out) { return g.Next(out); }, format, chunksBeforeData,
        chunksAfterData);
    result.Truth = g.Truth();
    result.Samples = g.TotalSamples();
    result.ClippedSamples = g.ClippedSamples();
    result.ConverterSkipSamples =
        static_cast<int32_t>(std::max<int64_t>(0, kConverterSkipBytes - result.DataOffset) / 2);
    return result;
}

std::string TruthCsvHeader() {
    return "file,train,click,centre_s,centre_sample,converter_s,converter_sample,peak_counts,"
           "frequency_hz,duration_s\r\n";
}

std::string TruthCsvRows(const std::vector<ClickTruth>& truth, int32_t sampleRate,
                         const std::string& fileName, int32_t skipSamples) {
    std::string out;
    for (const ClickTruth& c : truth) {
        out += fileName + ',' + Num(int64_t{c.Train}) + ',' + Num(int64_t{c.Index}) + ',' +
               Num(c.CentreSec) + ',' + Num(c.CentreSample) + ',' +
               Num(ConverterSeconds(c, sampleRate, skipSamples)) + ',' +
               Num(ConverterSample(c, skipSamples)) + ',' + Num(c.PeakAmplitude) + ',' +
               Num(c.FrequencyHz) + ',' + Num(c.DurationSec) + "\r\n";
    }
    return out;
}

std::vector<ClickTrain> PlanTrains(const TrainPlan& plan) {
    if (!Finite(plan.Seconds) || plan.Seconds < 0 || plan.Seconds > 1e7)
        Refuse("plan length out of range");
    if (!Finite(plan.MinPeak) || !Finite(plan.MaxPeak) || plan.MinPeak <= 0 ||
        plan.MaxPeak < plan.MinPeak)
        Refuse("plan amplitudes must satisfy 0 < MinPeak <= MaxPeak");
    if (!Finite(plan.MinGapSec) || !Finite(plan.MaxGapSec) || plan.MinGapSec < 0.01 ||
        plan.MaxGapSec < plan.MinGapSec)
        Refuse("plan gaps must satisfy 0.01 <= MinGapSec <= MaxGapSec");
    std::mt19937_64 g(plan.Seed);
    std::vector<ClickTrain> trains;
    const double logMin = pm::Log(plan.MinPeak);
    const double logMax = pm::Log(plan.MaxPeak);
    // Short recordings: the first train starts early and a train is cut to fit the end.
    const double margin = std::min(0.5, 0.1 * plan.Seconds);
    double t = 0;
    for (;;) {
        const double gap = Uniform(g, plan.MinGapSec, plan.MaxGapSec);
        t += trains.empty() ? std::min(gap, 0.1 * plan.Seconds) : gap;
        ClickTrain c;
        c.StartSec = t;
        c.Clicks = 15 + static_cast<int32_t>(std::floor(Uniform(g, 0, 46)));  // 15 ... 60
        c.IciStartSec = Uniform(g, 0.03, 0.1);
        c.IciEndSec = Uniform(g, 0.03, 0.1);
        c.FrequencyHz = plan.FrequencyHz + Uniform(g, -3000, 3000);
        c.DurationSec = Uniform(g, 80e-6, 150e-6);
        c.PeakAmplitude = pm::Exp(logMin + (logMax - logMin) * Uniform01(g));
        c.Shape = Uniform01(g) < 0.5 ? TrainShape::RaisedCosine : TrainShape::Gaussian;
        c.EdgeLevel = Uniform(g, 0.05, 0.25);
        c.PeakAt = Uniform(g, 0.3, 0.7);
        c.PhaseTurns = Uniform01(g);
        // The half-cosine interval law averages to the mean of its ends, so a train of n
        // clicks spans (n - 1) x that mean.
        const double meanIci = 0.5 * (c.IciStartSec + c.IciEndSec);
        const double room = plan.Seconds - margin - t;
        const double fits = room >= 0 ? std::floor(room / meanIci) + 1 : 0;
        if (fits < 5) break;
        if (fits < c.Clicks) c.Clicks = static_cast<int32_t>(fits);
        trains.push_back(c);
        t += (c.Clicks - 1) * meanIci;
    }
    return trains;
}

std::vector<ExampleFile> ExampleArchive(const ExampleOptions& options) {
    if (options.HarbourFiles < 0 || options.ReefFiles < 0 || options.HarbourFiles > 1000 ||
        options.ReefFiles > 1000)
        Refuse("example file counts must be 0 ... 1000");
    if (!Finite(options.Seconds) || options.Seconds <= 0 || options.Seconds > 86400)
        Refuse("example file length must be above 0 and at most one day");
    const int64_t minutesPerFile = static_cast<int64_t>(std::ceil(options.Seconds / 60.0));
    std::vector<ExampleFile> files;
    auto add = [&](const char* location, int32_t i, int64_t startMinute, uint64_t seed,
                   double noise, double flow, double freq) {
        ExampleFile f;
        f.Name = std::string(location) + '.' + ExampleStamp(startMinute) + ".wav";
        f.Spec.SampleRate = options.SampleRate;
        f.Spec.Seconds = options.Seconds;
        f.Spec.NoiseRms = noise;
        f.Spec.FlowRms = flow;
        f.Spec.FlowCornerHz = 200;
        f.Spec.Seed = seed + static_cast<uint64_t>(i);
        TrainPlan plan;
        plan.Seed = f.Spec.Seed * 7919u;
        plan.Seconds = options.Seconds;
        plan.FrequencyHz = freq;
        f.Spec.Trains = PlanTrains(plan);
        files.push_back(std::move(f));
    };
    // HARBOUR: one empty minute or more between files; REEF: files back to back.
    for (int32_t i = 0; i < options.HarbourFiles; ++i)
        add("HARBOUR", i, i * (minutesPerFile + 1), 1000, 5, 300, 130000);
    for (int32_t i = 0; i < options.ReefFiles; ++i)
        add("REEF", i, i * minutesPerFile, 2000, 4, 100, 132000);
    return files;
}

// ---- Recordings in recorders' styles ----------------------------------------------------

namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;
constexpr int64_t kMicrosPerDay = kSecondsPerDay * kMicrosPerSecond;
constexpr int32_t kMaxZoneMinutes = 23 * 60 + 59;

// A moment as the recorder's clock shows it.
struct ClockTime {
    CivilDate Date;
    int64_t Hour = 0, Minute = 0, Second = 0, Microsecond = 0;
    int64_t MicrosecondOfDay = 0;
};

ClockTime ClockAt(int64_t utcMicroseconds, int32_t zoneMinutes) {
    const FloorDivision day =
        FloorDivide(utcMicroseconds + zoneMinutes * 60 * kMicrosPerSecond, kMicrosPerDay);
    ClockTime t;
    t.Date = CivilFromDayNumber(day.Quotient);
    t.MicrosecondOfDay = day.Remainder;
    const int64_t second = day.Remainder / kMicrosPerSecond;
    t.Hour = second / 3600;
    t.Minute = second / 60 % 60;
    t.Second = second % 60;
    t.Microsecond = day.Remainder % kMicrosPerSecond;
    return t;
}

// Fields zero-padded to their widths, each after its separator: Fields({{"", v, 4}, {"-", ...}}).
struct Field {
    const char* Before;
    int64_t Value;
    int Digits;
};
std::string Fields(std::initializer_list<Field> fields) {
    std::string text;
    for (const Field& f : fields) {
        text += f.Before;
        AppendZeroPadded(text, f.Value, f.Digits);
    }
    return text;
}

std::string IsoDate(const ClockTime& t) {
    return Fields({{"", t.Date.Year, 4}, {"-", t.Date.Month, 2}, {"-", t.Date.Day, 2}});
}
std::string IsoTime(const ClockTime& t) {
    return Fields({{"", t.Hour, 2}, {":", t.Minute, 2}, {":", t.Second, 2}});
}
// YYYYMMDD_HHMMSS
std::string NameStamp(const ClockTime& t) {
    return Fields({{"", t.Date.Year, 4},
                   {"", t.Date.Month, 2},
                   {"", t.Date.Day, 2},
                   {"_", t.Hour, 2},
                   {"", t.Minute, 2},
                   {"", t.Second, 2}});
}
// +hh:mm
std::string ZoneText(int32_t zoneMinutes) {
    const int32_t a = std::abs(zoneMinutes);
    return (zoneMinutes < 0 ? "-" : "+") + Fields({{"", a / 60, 2}, {":", a % 60, 2}});
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

MetadataChunk Chunk(const char (&id)[5], std::vector<uint8_t> body) {
    return {{id[0], id[1], id[2], id[3]}, std::move(body)};
}

std::string SoundTrapLog(int64_t wavStartUtc, const RecordingSpec& spec, int64_t samples,
                         int32_t zoneMinutes) {
    const int64_t micros = samples * kMicrosPerSecond / spec.SampleRate;
    auto iso = [](const ClockTime& t) { return IsoDate(t) + "T" + IsoTime(t); };
    auto event = [](const char* id, const std::string& attribute, const std::string& value) {
        return std::string("<PROC_EVENT ID=\"") + id + "\">\r\n<WavFileHandler " + attribute +
               "=\"" + value + "\"/>\r\n</PROC_EVENT>\r\n";
    };
    auto stream = [&](const char* id, int64_t start) {
        return event(id, "SamplingStartTimeUTC", iso(ClockAt(start, 0))) +
               event(id, "SamplingStartTimeLocal", iso(ClockAt(start, zoneMinutes))) +
               event(id, "SamplingStopTimeUTC", iso(ClockAt(wavStartUtc + micros, 0))) +
               event(id, "SamplingTimePeriod", Num(wavStartUtc + micros - start) + " us") +
               event(id, "SampleCount", Num(samples));
    };
    const std::string rate = Num(int64_t{spec.SampleRate});
    return "<ST>\r\n<EVENT>\n<HARDWARE_ID> ST300 </HARDWARE_ID>\n</EVENT>\n"
           "<CFG ID=\"1\">\n<PROC> AUDIO </PROC>\n<NCHS> 1 </NCHS>\n<FS UNIT=\"Hz\"> " +
           rate +
           " </FS>\n<NBITS> 16 </NBITS>\n</CFG>\n"
           "<CFG ID=\"4\" FTYPE=\"wav\" CODEC=\"3\">\n<SRC ID=\"1\" />\n<FS> " +
           rate +
           " </FS>\n<NBITS> 16 </NBITS>\n<NCHS> 1 </NCHS>\n<SUFFIX> wav </SUFFIX>\n</CFG>\n"
           "<CFG ID=\"12\" FTYPE=\"wav\" CODEC=\"11\">\n<SRC ID=\"1\" />\n<FS> " +
           rate +
           " </FS>\n<SUFFIX> dwv </SUFFIX>\n</CFG>\n"
           "<EVENT>\n<END STATE=\"REOPEN\"> schedule </END>\n</EVENT>\n" +
           stream("12", wavStartUtc + kMicrosPerSecond) + stream("4", wavStartUtc) + "</ST>\r\n";
}

std::vector<uint8_t> AudioMothInfo(const ClockTime& t, int32_t zoneMinutes) {
    std::string zone;
    if (zoneMinutes != 0) {
        const int32_t a = std::abs(zoneMinutes);
        zone = (zoneMinutes < 0 ? "-" : "+") + Num(int64_t{a / 60});
        if (a % 60 != 0) zone += Fields({{":", a % 60, 2}});
    }
    std::string comment =
        "Recorded at " + IsoTime(t) +
        Fields({{" ", t.Date.Day, 2}, {"/", t.Date.Month, 2}, {"/", t.Date.Year, 4}}) + " (UTC" +
        zone +
        ") by AudioMoth 24A04F085FDF2793 at medium gain while battery was 4.1V and "
        "temperature was 20.3C.";
    comment.resize(std::max<size_t>(comment.size() + 1, 256), '\0');  // a fixed, NUL-padded field
    const std::string artist("AudioMoth 24A04F085FDF2793\0", 27);
    std::vector<uint8_t> info = Bytes("INFO");
    const std::vector<uint8_t> items =
        ChunkBytes({Chunk("ICMT", Bytes(comment)), Chunk("IART", Bytes(artist))});
    info.insert(info.end(), items.begin(), items.end());
    return info;
}

std::vector<uint8_t> WamdBody(const ClockTime& t, const RecorderStamp& stamp,
                              const std::string& prefix) {
    std::string time = IsoDate(t) + " " + IsoTime(t);
    if (t.Microsecond >= 1000) time += Fields({{".", t.Microsecond / 1000, 3}});
    if (stamp.ZoneWritten) time += ZoneText(stamp.ZoneMinutes);
    std::vector<uint8_t> body;
    auto field = [&](uint16_t id, const std::vector<uint8_t>& bytes) {
        uint8_t header[6];
        PutU16(header, id);
        PutU32(header + 2, static_cast<uint32_t>(bytes.size()));
        body.insert(body.end(), header, header + 6);
        body.insert(body.end(), bytes.begin(), bytes.end());
    };
    field(0, {1, 0});  // version
    field(1, Bytes("SM4"));
    field(2, Bytes("S4A12345"));
    field(3, Bytes("R3.1.0"));
    field(4, Bytes(prefix));
    field(5, Bytes(time));
    return body;
}

std::vector<uint8_t> GuanoBody(const ClockTime& t, const RecorderStamp& stamp,
                               const RecordingSpec& spec) {
    std::string time = IsoDate(t) + "T" + IsoTime(t);
    if (t.Microsecond != 0) time += Fields({{".", t.Microsecond, 6}});
    if (stamp.ZoneWritten) time += stamp.ZoneMinutes == 0 ? "Z" : ZoneText(stamp.ZoneMinutes);
    return Bytes("GUANO|Version: 1.0\nMake: Synthetic\nModel: Click generator\nSamplerate: " +
                 Num(int64_t{spec.SampleRate}) + "\nLength: " + Num(spec.Seconds) +
                 "\nTimestamp: " + time + "\n");
}

std::vector<uint8_t> BextBody(const ClockTime& t, int32_t sampleRate) {
    std::vector<uint8_t> body(602, 0);
    auto put = [&](size_t at, const std::string& text) {
        std::copy(text.begin(), text.end(), body.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0, "Synthetic click recording");  // Description
    put(256, "wavtokeb-synth");           // Originator
    put(320, IsoDate(t));                 // OriginationDate
    put(330, IsoTime(t));                 // OriginationTime
    // TimeReference: samples since the clock's midnight, to the nearest sample.
    const int64_t reference =
        (t.MicrosecondOfDay * sampleRate + kMicrosPerSecond / 2) / kMicrosPerSecond;
    PutU32(&body[338], static_cast<uint32_t>(reference));
    PutU32(&body[342], static_cast<uint32_t>(reference >> 32));
    PutU16(&body[346], 1);  // Version
    return body;
}

}  // namespace

int64_t StartMicroseconds(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                          int32_t second, int32_t microsecond) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || microsecond < 0 || microsecond >= kMicrosPerSecond)
        Refuse("no such date and time");
    return (DayNumberFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 +
            second) *
               kMicrosPerSecond +
           microsecond;
}

RecorderFiles StampRecording(const RecorderStamp& stamp, const RecordingSpec& spec) {
    CheckSpec(spec);
    if (stamp.ZoneMinutes < -kMaxZoneMinutes || stamp.ZoneMinutes > kMaxZoneMinutes)
        Refuse("recorder zone must be -23:59 ... +23:59");
    for (const char c : stamp.Prefix) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                        (c >= 'a' && c <= 'z') || c == '-' || c == '_';
        if (!ok) Refuse("recorder prefix may hold letters, digits, '-' and '_' only");
    }
    const int64_t samples = SampleCount(spec);
    // Every time shown, local or UTC, from the start to a second after it, within 0001 ... 9999.
    const int64_t latest = stamp.StartUtcMicroseconds + kMicrosPerSecond;
    for (const int64_t t : {stamp.StartUtcMicroseconds, latest}) {
        for (const int32_t zone : {0, stamp.ZoneMinutes}) {
            const int64_t year = ClockAt(t, zone).Date.Year;
            if (year < 1 || year > 9999) Refuse("recorder start must lie in the years 1 ... 9999");
        }
    }
    const ClockTime local = ClockAt(stamp.StartUtcMicroseconds, stamp.ZoneMinutes);
    auto prefix = [&](const char* fallback) {
        return stamp.Prefix.empty() ? std::string(fallback) : stamp.Prefix;
    };
    RecorderFiles files;
    switch (stamp.Style) {
        case RecorderStyle::SoundTrap: {
            // The recording starts on a whole second of the log; the snippet stream and the
            // name a second later.
            const int64_t wavStart =
                FloorDivide(stamp.StartUtcMicroseconds, kMicrosPerSecond).Quotient *
                kMicrosPerSecond;
            const std::string stem =
                prefix("5987") + "." +
                NameStamp(ClockAt(wavStart + kMicrosPerSecond, stamp.ZoneMinutes))
                    .erase(8, 1)
                    .substr(2);
            files.Name = stem + ".wav";
            files.SidecarName = stem + ".log.xml";
            files.SidecarText = SoundTrapLog(wavStart, spec, samples, stamp.ZoneMinutes);
            break;
        }
        case RecorderStyle::AudioMoth:
            files.Name = NameStamp(local) + ".WAV";
            files.ChunksBeforeData.push_back(
                Chunk("LIST", AudioMothInfo(local, stamp.ZoneMinutes)));
            break;
        case RecorderStyle::Sm4:
            files.Name = prefix("SM4") + "_" + NameStamp(local) + ".wav";
            files.ChunksAfterData.push_back(Chunk("wamd", WamdBody(local, stamp, prefix("SM4"))));
            break;
        case RecorderStyle::Guano:
            files.Name = prefix("rec1") + ".wav";
            files.ChunksAfterData.push_back(Chunk("guan", GuanoBody(local, stamp, spec)));
            break;
        case RecorderStyle::Bext:
            files.Name = prefix("bext1") + ".wav";
            files.ChunksBeforeData.push_back(Chunk("bext", BextBody(local, spec.SampleRate)));
            break;
    }
    return files;
}

RecorderWriteResult WriteRecorderRecording(const std::string& folder, const RecordingSpec& spec,
                                           const RecorderStamp& stamp) {
    const RecorderFiles files = StampRecording(stamp, spec);
    RecorderWriteResult result;
    result.Path = folder + "/" + files.Name;
    static_cast<WriteResult&>(result) =
        WriteWav(result.Path, spec, files.ChunksBeforeData, files.ChunksAfterData);
    if (!files.SidecarName.empty()) {
        result.SidecarPath = folder + "/" + files.SidecarName;
        std::FILE* f = std::fopen(result.SidecarPath.c_str(), "wb");
        bool ok = f && std::fwrite(files.SidecarText.data(), 1, files.SidecarText.size(), f) ==
                           files.SidecarText.size();
        if (f) ok = std::fclose(f) == 0 && ok;
        if (!ok) throw std::runtime_error("cannot write " + result.SidecarPath);
    }
    return result;
}

}  // namespace wtk::synth
