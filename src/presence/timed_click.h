// A click as the train analysis sees it: its exact time, the recording it came from and the
// fields of its TK1 record, with the two measures taken from those fields that every rule uses:
// the frequency of the click and its amplitude on a linear scale.
#pragma once

#include <cstdint>

#include "output/amplitude_scale.h"
#include "output/tk1_codec.h"

namespace wtk::presence {

// No recording known (clicks timed by the TK1 minute clock alone).
inline constexpr int32_t kNoRecording = -1;

struct TimedClick {
    // Microseconds since 1899-12-30 00:00: the recording's start plus the click's offset in it
    // (UTC where the recording's zone was known), else the TK1 minute plus the click's time.
    int64_t TimeUs = 0;
    // Index of the recording among the location's recordings (LocationReader::Recordings), or
    // kNoRecording.
    int32_t Recording = kNoRecording;
    tk1::Click Fields;
};

// The frequency in kHz of the click's loudest cycle: 8000 / (IPIpreMax + IPIPostMax), the mean
// of the two periods around the largest peak (250 ns units); one of them alone where the other
// is 0 or 255 (255 means 255 or more); 0 when neither is known.
double ClickKhz(const tk1::Click& c);

using tk1::LinearAmplitude;

}  // namespace wtk::presence
