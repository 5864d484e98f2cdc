// Sample input and filtering for one WAV file: read a minute of samples at a time, high-pass
// filter in place, 4x band-pass interpolation with the sensitivity gain, positive-peak tracking
// with half-tick refinement, hand-off of each confirmed peak to the click detector, and the
// minute end with the automatic sensitivity step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace wtk {

class Host;
class ClickDetector;
class TK1Writer;
struct DetectorSettings;
struct MainControls;
struct SampleRate;
struct Sensitivity;
struct WavFileRec;

// One byte code for a peak amplitude (0..127 linear, then coarser bands up to 255).
uint8_t CompressedAmplitude(int32_t inputvalue);

class SampleProcessor {
public:
    SampleProcessor(const SampleRate& rate, const DetectorSettings& settings, Sensitivity& sens,
                    ClickDetector& detector, TK1Writer& writer, const MainControls& controls,
                    Host& host);

    // Buffers for one batch, sized from SamplesPerMin at its start.
    void AllocateBuffers(int32_t hiResSamplesLength);
    void ReleaseBuffers();

    // Convert the open file (at position 0) of record FileNo. Returns when the file's end has
    // been reached. A failed full-buffer write of the TK1 writer propagates as TK1WriteError.
    void ConvertOneWavFile(std::FILE* WavFile, int32_t FileNo, const WavFileRec& rec);

    // The minute end: detector reset, time base restart, sensitivity step, progress label,
    // minute log line, the minute record that opens the next minute, pending events.
    void DoMinEnd();

    // Peak state (kept across blocks and files; public for tests).
    int32_t SampleTimeNear2MHz = 0;
    int32_t PkAmp = 0;
    int32_t PrePkAmp = 0;
    int32_t LastAmp = 0;
    int32_t PkNear2MHZtime = 0;
    int32_t PkNear4MHZtime = 0;
    int32_t LastPkNear4MHZtime = 0;
    int32_t PkConfirmationLevel = 0;
    bool PkOnHold = false;
    bool GraphRequired = false;
    int32_t MaxSampleThisMinute = 0;
    int32_t MinSampleThisMinute = 0;
    int32_t HiResGraphPtr = 0;
    int32_t FileNo = 0;  // record number of the file being converted (for the progress text)

    // Buffers (one batch).
    std::vector<uint8_t> WavBytesArr;
    std::vector<int32_t> Samples;
    std::vector<int32_t> HiResSamples;

private:
    const SampleRate& rate_;
    const DetectorSettings& s_;
    Sensitivity& sens_;
    ClickDetector& detector_;
    TK1Writer& writer_;
    const MainControls& controls_;
    Host& host_;
};

}  // namespace wtk
