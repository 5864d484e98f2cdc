// Unsigned integers stored in bytes: most significant byte first (TK1 files) or least
// significant first (RIFF chunks and the metadata inside them).
#pragma once

#include <cstdint>

namespace wtk {

// The unsigned number in bytes p[0 .. bytes), most significant first; bytes 0..4.
constexpr uint32_t ReadBigEndian(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int k = 0; k < bytes; ++k) v = (v << 8) | p[k];
    return v;
}

// The low bytes (0..4) of v at p[0 .. bytes), most significant first.
constexpr void PutBigEndian(uint8_t* p, int bytes, uint32_t v) {
    for (int k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - k)));
}

constexpr uint16_t ReadLittleEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

constexpr uint32_t ReadLittleEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace wtk
