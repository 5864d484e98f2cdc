// TK1 files made straight from clicks, without audio, as the converter lays them out: for tests
// and benchmarks of what reads TK1 files (a year of clicks in seconds).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "output/tk1_codec.h"

namespace wtk::synth {

class TK1Sketch {
public:
    // Creates path with the header of a file starting at startMin. Throws std::runtime_error.
    TK1Sketch(const std::string& path, int32_t startMin);
    ~TK1Sketch();
    TK1Sketch(const TK1Sketch&) = delete;
    TK1Sketch& operator=(const TK1Sketch&) = delete;

    // A click of the given minute (not before the last one's, not before the start): minute
    // records open every minute up to it.
    void Click(int64_t minute, const tk1::Click& click);
    // Minute records up to lastMinute, the end record and the header's counts. Throws
    // std::runtime_error when the file cannot be written.
    void Finish(int64_t lastMinute);

private:
    void Put(const tk1::Record& r);

    std::string path_;
    std::FILE* file_ = nullptr;
    int32_t startMin_;
    int64_t minute_;  // the minute the records reached
    std::vector<uint8_t> buffer_;
};

// Writes the recordings table and the source linkage file beside the TK1 file at tk1Path.
void WriteSketchSideFiles(const std::string& tk1Path, const std::vector<tk1::RecordingRow>& rows);

// A click the converter might have stored for a tone of khz with cycles cycles at amplitude
// byte pmax, peaking timeUs into its minute.
tk1::Click SketchClick(int64_t timeInMinuteUs, double khz, int cycles, int pmax, int spread = 6);

}  // namespace wtk::synth
