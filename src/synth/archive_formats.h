// Synthetic recordings in the forms archives store them: XWAV files of several raw files (a
// duty-cycled recorder's stretches with their start times in a harp chunk) and FLAC streams
// made from WAV files, with the WAV file's chunks kept as a FLAC encoder keeps them when asked
// to keep foreign metadata.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth/synth.h"

namespace wtk::synth {

// One raw file of an XWAV file: its samples, and its start (microseconds since 1899-12-30 00:00
// UTC, to the millisecond; years 2000 ... 2255).
struct RawFileSpec {
    RecordingSpec Spec;
    int64_t StartUtcMicroseconds = 0;
};

struct XwavResult {
    std::vector<WriteResult> Raws;  // each raw file's truth (times from its own first sample)
    int64_t DataOffset = 0;         // the first raw file's first sample byte
};

// Writes an XWAV file of 16-bit samples of one channel: the fmt chunk, the harp chunk listing
// the raw files, and the data chunk holding their samples one after the other. Every raw file
// must have the rate of the first. Throws std::invalid_argument for a bad spec or start and
// std::runtime_error when the file cannot be written.
XwavResult WriteXwav(const std::string& path, const std::vector<RawFileSpec>& raws);

// Writes the samples of a WAV file of 8-, 16- or 24-bit PCM as a FLAC stream; with keepChunks,
// the WAV file's chunks in APPLICATION blocks of id "riff" (its header, every chunk, and of the
// data chunk its header only). Throws std::runtime_error for a file it cannot read or write.
void WavToFlac(const std::string& wavPath, const std::string& flacPath, bool keepChunks,
               int compressionLevel = 5);

}  // namespace wtk::synth
