// Samples of other formats as the samples a 16-bit recorder of the same full scale would have
// written: integers keep their top 16 bits (an arithmetic shift; fewer bits are shifted up),
// floats are multiplied by 32768, rounded half to even and clipped to -32768 ... 32767 (NaN
// becomes 0), 8-bit unsigned samples become (x - 128) x 256. Frames are little-endian, as WAV
// files hold them; the results are written as 16-bit little-endian samples.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "input/little_endian.h"
#include "input/recording_layout.h"

namespace wtk {

inline int16_t FloatTo16(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v * 32768.0);
    if (r >= 32767.0) return 32767;
    if (r <= -32768.0) return -32768;
    return static_cast<int16_t>(r);
}

// A value of `bits` significant bits (4 ... 32) as a 16-bit sample.
inline int16_t IntTo16(int32_t v, int bits) {
    if (bits >= 16) return static_cast<int16_t>(v >> (bits - 16));
    return static_cast<int16_t>(static_cast<uint32_t>(v) << (16 - bits));
}

inline void PutSample16(uint8_t* out, int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    out[0] = static_cast<uint8_t>(u);
    out[1] = static_cast<uint8_t>(u >> 8);
}

// Channel `channel` of n frames of format f (frame after frame, Channels x Bytes bytes each) as
// n 16-bit samples.
inline void ConvertFrames(const uint8_t* frames, int64_t n, const SampleFormat& f, int channel,
                          uint8_t* out) {
    const size_t step = static_cast<size_t>(f.Channels) * f.Bytes;
    const uint8_t* p = frames + static_cast<size_t>(channel) * f.Bytes;
    switch (f.Coding) {
        case SampleCoding::UnsignedInt8:
            for (int64_t i = 0; i < n; ++i, p += step, out += 2) {
                out[0] = 0;
                out[1] = static_cast<uint8_t>(p[0] ^ 0x80);
            }
            return;
        case SampleCoding::Int:
            // The top two bytes of each sample.
            for (int64_t i = 0; i < n; ++i, p += step, out += 2) {
                out[0] = p[f.Bytes - 2];
                out[1] = p[f.Bytes - 1];
            }
            return;
        case SampleCoding::Float:
            for (int64_t i = 0; i < n; ++i, p += step, out += 2) {
                const uint64_t low = Le32(p);
                if (f.Bytes == 4) {
                    PutSample16(out, FloatTo16(std::bit_cast<float>(static_cast<uint32_t>(low))));
                } else {
                    PutSample16(
                        out, FloatTo16(std::bit_cast<double>(low | uint64_t{Le32(p + 4)} << 32)));
                }
            }
            return;
    }
}

}  // namespace wtk
