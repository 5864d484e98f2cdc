#include "engine/sample_processor.h"

#include <sys/stat.h>

#include "detector/click_detector.h"
#include "engine/sample_processor_core.h"
#include "output/tk1_writer.h"

namespace wtk {

uint8_t CompressedAmplitude(int32_t inputvalue) {
    if (inputvalue < 0) return 255;
    if (inputvalue < 128) return static_cast<uint8_t>(inputvalue);
    if (inputvalue < 256) return static_cast<uint8_t>(128 + (inputvalue - 128) / 4);
    if (inputvalue < 512) return static_cast<uint8_t>(192 + (inputvalue - 256) / 8);
    if (inputvalue < 1024) return static_cast<uint8_t>(224 + (inputvalue - 512) / 32);
    if (inputvalue < 2048) return static_cast<uint8_t>(248 + (inputvalue - 1024) / 128);
    if (inputvalue < 4096) return 252;
    if (inputvalue < 8192) return 253;
    if (inputvalue < 16384) return 254;
    return 255;
}

void DetectorSink::ClickSelSM(uint8_t NewTrueIPI, uint8_t NewAmp, int32_t TimeTrue2Mhz, bool Init) {
    detector.ClickSelSM(NewTrueIPI, NewAmp, TimeTrue2Mhz, Init);
}

int32_t& DetectorSink::ClicksThisMin() {
    return detector.ClicksThisMin;
}

void DetectorSink::WriteMinuteRecs(int32_t NofMins, uint8_t DeadBandPlusUplift,
                                   int32_t ScalerX2560) {
    writer.WriteMinuteRecs(NofMins, DeadBandPlusUplift, ScalerX2560);
}

namespace detail {

int64_t StreamSize(std::FILE* f) {
    struct stat st {};
    if (fstat(fileno(f), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace detail

SampleProcessor::SampleProcessor(const SampleRate& rate, const DetectorSettings& settings,
                                 Sensitivity& sens, ClickDetector& detector, TK1Writer& writer,
                                 const MainControls& controls, Host& host)
    : rate_(rate),
      s_(settings),
      sens_(sens),
      detector_(detector),
      writer_(writer),
      controls_(controls),
      host_(host) {}

void SampleProcessor::AllocateBuffers(int32_t hiResSamplesLength) {
    const size_t perMin = static_cast<size_t>(std::max(rate_.SamplesPerMin, 0));
    WavBytesArr.assign(2 * perMin, 0);
    Samples.assign(perMin + 1, 0);
    HiResSamples.assign(static_cast<size_t>(std::max(hiResSamplesLength, 0)), 0);
    bandPassVals_.assign(4u * kChunkPositions, 0);
    aboveMask_.assign(kChunkPositions / 16, 0);
}

void SampleProcessor::ReleaseBuffers() {
    WavBytesArr = {};
    Samples = {};
    HiResSamples = {};
    bandPassVals_ = {};
    aboveMask_ = {};
}

void SampleProcessor::ConvertOneWavFile(std::FILE* WavFile, int32_t fileNo, const WavFileRec& rec,
                                        std::optional<SampleByteRange> range) {
    DetectorSink sink{detector_, writer_};
    ConvertOneWavFileWith(sink, WavFile, fileNo, rec, range);
}

void SampleProcessor::DoMinEnd() {
    DetectorSink sink{detector_, writer_};
    DoMinEndWith(sink);
}

int32_t SampleProcessor::ReadBlock(std::FILE* WavFile, int64_t maxSamples, int64_t& bytesRead,
                                   int64_t maxBytes) {
    // Never more than the batch's buffers hold, whatever the rate tables say now.
    const int64_t capacity = std::min<int64_t>(static_cast<int64_t>(WavBytesArr.size()) / 2,
                                               static_cast<int64_t>(Samples.size()) - 1);
    const int64_t want = std::max<int64_t>(0, std::min(maxSamples, capacity));
    const int64_t bytes = std::max<int64_t>(0, std::min(2 * want, maxBytes));
    bytesRead = bytes > 0 ? static_cast<int64_t>(std::fread(WavBytesArr.data(), 1,
                                                            static_cast<size_t>(bytes), WavFile))
                          : 0;
    const int32_t n = static_cast<int32_t>(bytesRead / 2);  // an odd trailing byte is ignored
    const uint8_t* b = WavBytesArr.data();
    int32_t* s = Samples.data();
    MaxSampleThisMinute = 0;
    MinSampleThisMinute = 2147483647;
    if (GraphRequired) {
        int32_t mx = MaxSampleThisMinute, mn = MinSampleThisMinute;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t v = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
            s[i + 1] = v;
            if (v > mx) {
                mx = v;
            } else if (v < mn) {
                mn = v;
            }
        }
        MaxSampleThisMinute = mx;
        MinSampleThisMinute = mn;
    } else {
        WidenSamples(b, n, s + 1);
    }
    return n;
}

void SampleProcessor::ApplyHighPassFilter(int32_t NofSamplesInArr) {
    assert(NofSamplesInArr == 0 || static_cast<size_t>(NofSamplesInArr) < Samples.size());
    HighPassInPlace(Samples.data(), NofSamplesInArr);
    if (GraphRequired) host_.Graphvals(Samples, 2, 8, false);
}

void SampleProcessor::PrepareHiResGraph(int32_t HiResAmp) {
    if (HiResGraphPtr < static_cast<int64_t>(HiResSamples.size()) - 1) {
        HiResSamples[static_cast<size_t>(HiResGraphPtr)] = HiResAmp;
        HiResGraphPtr += 1;
    } else {
        host_.Graphvals(HiResSamples, 3, 2, false);
        GraphRequired = false;
    }
}

}  // namespace wtk
