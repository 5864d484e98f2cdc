// What the recordings table beside a TK1 file says of one recording.
#pragma once

#include <cstdint>

#include "input/wav_file_rec.h"
#include "output/tk1_codec.h"

namespace wtk {

// A recording's row in the recordings table: its absolute path, start, time source,
// correction, rate and samples converted, and where its first sample lies in the TK1 file
// (placedUs: its minute, or its second when files are placed at their exact start).
tk1::RecordingRow RecordingsTableRow(const WavFileRec& rec, int64_t placedUs, int64_t samples,
                                     int32_t samplesPerSec);

}  // namespace wtk
