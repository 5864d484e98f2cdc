// Little-endian integers in the bytes of a file, as RIFF chunks and their bodies hold them.
#pragma once

#include <cstdint>

#include "base/byte_order.h"

namespace wtk {

inline uint16_t Le16(const uint8_t* p) {
    return ReadLittleEndian16(p);
}

inline uint32_t Le32(const uint8_t* p) {
    return ReadLittleEndian32(p);
}

}  // namespace wtk
