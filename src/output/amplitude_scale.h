// The amplitude bytes of a click record (Pmax and the peaks either side of it) hold band-pass
// values on the detector's compressed scale: one value per code up to 127, then 4, 8, 32 and
// 128 values per code.
#pragma once

#include <cstdint>

namespace wtk::tk1 {

// An amplitude byte back on the linear scale it was compressed from (the lowest value of its
// step).
constexpr int32_t LinearAmplitude(uint8_t code) {
    if (code < 128) return code;
    if (code < 192) return 128 + (code - 128) * 4;
    if (code < 224) return 256 + (code - 192) * 8;
    if (code < 248) return 512 + (code - 224) * 32;
    return 1024 + (code - 248) * 128;
}

}  // namespace wtk::tk1
