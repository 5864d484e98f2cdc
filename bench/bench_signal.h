// The benchmark recordings: 576 k samples/s of noise plus trains of 130 kHz clicks (100 us
// Gaussian envelope, one every 50 ms for 2 s in every 10 s, amplitude rising and falling).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "synth/synth.h"

namespace wtk::bench {

inline constexpr int32_t kSamplesPerSec = 576000;

// Deterministic noise: xorshift64 and the sum of four uniforms (close enough to Gaussian).
class Noise {
public:
    explicit Noise(uint64_t seed) : x_(seed) {}
    double Next() {
        double sum = 0;
        for (int i = 0; i < 4; ++i) {
            x_ ^= x_ << 13;
            x_ ^= x_ >> 7;
            x_ ^= x_ << 17;
            sum += static_cast<double>(x_ >> 11) * 0x1.0p-53;
        }
        return (sum - 2.0) * std::sqrt(3.0);  // unit variance
    }

private:
    uint64_t x_;
};

// Samples first ... first + n - 1 of the recording with the given noise (the noise of a piece
// continues that of the piece before it when the pieces are made in order).
inline std::vector<int16_t> MakeSamples(Noise& noise, double noiseStd, int64_t first, size_t n) {
    std::vector<int16_t> s(n);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<int16_t>(std::lround(noiseStd * noise.Next()));
    const int64_t clickSpacing = kSamplesPerSec / 20;
    const int64_t halfWidth = kSamplesPerSec / 10000;  // 100 us
    const int64_t end = first + static_cast<int64_t>(n);
    for (int64_t c =
             std::max<int64_t>(clickSpacing, (first - halfWidth) / clickSpacing * clickSpacing);
         c - halfWidth < end; c += clickSpacing) {
        const int64_t inTrain = c % (10 * int64_t{kSamplesPerSec});
        if (inTrain >= 2 * int64_t{kSamplesPerSec}) continue;
        const double amp = 3000.0 * std::sin(pi * inTrain / (2.0 * kSamplesPerSec));
        for (int64_t k = -halfWidth; k <= halfWidth; ++k) {
            const int64_t at = c + k - first;
            if (at < 0 || at >= static_cast<int64_t>(n)) continue;
            const double env = std::exp(-0.5 * std::pow(3.0 * k / halfWidth, 2));
            const double v = s[at] + amp * env * std::sin(2 * pi * 130000.0 * k / kSamplesPerSec);
            s[at] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        }
    }
    return s;
}

// Writes a recording of the given length; false when the file cannot be written. A 16-bit mono
// header (or the tool refuses the file) and silence up to byte 100, where the samples begin.
inline bool WriteRecording(const std::string& path, double noiseStd, int64_t samples) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::vector<uint8_t> bytes(100, 0);
    const auto header =
        synth::WavHeader(kSamplesPerSec, (100 - synth::kWavHeaderBytes) / 2 + samples);
    std::copy(header.begin(), header.end(), bytes.begin());
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    Noise noise(0x9E3779B97F4A7C15ull);
    const int64_t piece = kSamplesPerSec;  // one second at a time
    for (int64_t first = 0; ok && first < samples; first += piece) {
        const auto n = static_cast<size_t>(std::min(piece, samples - first));
        const std::vector<int16_t> s = MakeSamples(noise, noiseStd, first, n);
        bytes.resize(2 * n);
        for (size_t i = 0; i < n; ++i) {
            bytes[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>((s[i] >> 8) & 0xFF);
        }
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    return std::fclose(f) == 0 && ok;
}

}  // namespace wtk::bench
