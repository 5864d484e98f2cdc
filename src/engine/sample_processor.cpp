#include "engine/sample_processor.h"

#include <sched.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

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

void DetectorSink::ClickSelSMPeaks(const DetectorPeak* peaks, int32_t count) {
    detector.ClickSelSMPeaks(peaks, count);
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

bool SampleProcessor::SeveralProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) > 1;
    return std::thread::hardware_concurrency() > 1;
}

void SampleProcessor::AllocateBuffers(int32_t hiResSamplesLength) {
    GraphHead.assign(kGraphHead, 0);
    HiResSamples.assign(static_cast<size_t>(std::max(hiResSamplesLength, 0)), 0);
    bandPassVals_.assign(4u * kChunkPositions + kValuesPadding, 0);
    aboveMask_.assign(kChunkPositions / 16, 0);
    pipeline_.Configure(pieceSamples_, threads_);
    bandPass_ = nullptr;  // the pipeline is handed a filter again
}

void SampleProcessor::ReleaseBuffers() {
    GraphHead = {};
    HiResSamples = {};
    bandPassVals_ = {};
    aboveMask_ = {};
    pipeline_.Release();
    bandPass_ = nullptr;
}

void SampleProcessor::ConvertOneWavFile(std::FILE* WavFile, int32_t fileNo, const WavFileRec& rec,
                                        std::optional<SampleByteRange> range) {
    DetectorSink sink{detector_, writer_};
    ConvertOneWavFileWith(sink, WavFile, fileNo, rec, range);
}

void SampleProcessor::ConvertOneWavFile(RecordingSource& source, int32_t fileNo,
                                        const WavFileRec& rec) {
    DetectorSink sink{detector_, writer_};
    ConvertOneWavFileWith(sink, source, fileNo, rec);
}

void SampleProcessor::ReportReadFailure(const WavFileRec& rec, const ReadFailure& failure) {
    host_.Report(Event(EventKind::WavReadFailed, ReadFailureText(rec.NameWithPath, failure))
                     .About(rec.Path(), true)
                     .Because(failure.What.empty() && failure.Errno == 0 ? EIO : failure.Errno));
}

void SampleProcessor::DoMinEnd() {
    DetectorSink sink{detector_, writer_};
    DoMinEndWith(sink);
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
