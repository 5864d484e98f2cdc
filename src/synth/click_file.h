// A TK1 file holding chosen clicks, with the recordings table and linkage file a conversion
// with exact starts writes beside it: for tests and benchmarks of what reads TK1 files, without
// converting recordings first. Each recording is placed at its exact start; every minute from
// the first recording's to the last one's end gets its minute record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/tk1_codec.h"

namespace wtk::synth {

struct ClickFileRecording {
    std::string Path;
    int64_t StartUs = 0;  // microseconds since 1899-12-30 00:00 (UTC)
    int64_t Samples = 0;
    int32_t RateHz = 576000;
};

struct ClickAtTime {
    int64_t TimeUs = 0;  // within one of the recordings
    tk1::Click Fields;   // its ClkTime5MuSecs is set from TimeUs
};

struct ClickFileSides {
    bool RecordingsTable = true;
    bool Linkage = true;
};

// Writes tk1Path (and tk1Path less ".TK1" plus ".recordings.csv" and ".txt"); clicks in time
// order. Throws std::runtime_error when a file cannot be written.
void WriteClickFile(const std::string& tk1Path, const std::vector<ClickFileRecording>& recordings,
                    const std::vector<ClickAtTime>& clicks, ClickFileSides sides = {});

}  // namespace wtk::synth
