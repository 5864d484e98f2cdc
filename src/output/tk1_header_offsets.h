// Byte offsets of the fields of the 1024-byte TK1 header, shared by the writer and the dump.
#pragma once

#include <cstdint>

namespace wtk::tk1 {

constexpr int32_t hdrLogger = 2;  // 4 bytes
constexpr int32_t hdrConst1 = 12;
constexpr int32_t hdrConst245 = 31;
constexpr int32_t hdrFilter = 65;
constexpr int32_t hdrConst11 = 66;
constexpr int32_t hdrDeadBand = 67;
constexpr int32_t hdrMinAnyIPI = 68;
constexpr int32_t hdrMaxStartIPI = 69;
constexpr int32_t hdrFixedCycLimit = 70;
constexpr int32_t hdrMaxSPLforReversal = 71;
constexpr int32_t hdrBwAddon = 72;
constexpr int32_t hdrStrongLimit1 = 73;  // 73..76
constexpr int32_t hdrFlags = 77;
constexpr int32_t hdrConst15 = 78;
constexpr int32_t hdrMaxSPLforAmpDrop = 79;
constexpr int32_t hdrNoisyLevel = 93;
constexpr int32_t hdrQuietLevel = 94;
constexpr int32_t hdrNofNoisyMins = 95;
constexpr int32_t hdrNofQuietMins = 96;
constexpr int32_t hdrAmpStep = 113;
constexpr int32_t hdrStartMin = 256;        // 4 bytes; copies at 268 and 272
constexpr int32_t hdrLastLoggingMin = 260;  // 4 bytes; copy at 276
constexpr int32_t hdrFinalisedAtMin = 264;  // 4 bytes
constexpr int32_t hdrStartMin2 = 268;
constexpr int32_t hdrStartMin3 = 272;
constexpr int32_t hdrLastLoggingMin2 = 276;
constexpr int32_t hdrMinuteCount = 340;  // 3 bytes

}  // namespace wtk::tk1
