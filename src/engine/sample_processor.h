// Sample input and filtering for one WAV file: a minute of samples at a time (read and filtered
// in pieces, see engine/filter_pipeline.h), high-pass filter, 4x band-pass interpolation with the
// sensitivity gain, positive-peak tracking with half-tick refinement, hand-off of each confirmed
// peak to the click detector, and the minute end with the automatic sensitivity step.
//
// The per-block work is a template over a sink that receives the peaks and the minute records
// (PeakSink, engine/peak_finder.h). The production path uses DetectorSink (the real click
// detector and TK1 writer); tests use recording doubles. The template bodies are in
// engine/sample_processor_core.h.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "engine/filter_pipeline.h"
#include "engine/peak_finder.h"
#include "input/wav_header.h"

namespace wtk {

class Host;
class ClickDetector;
class RecordingSource;
struct ReadFailure;
class TK1Writer;
struct DetectorSettings;
struct MainControls;
struct SampleRate;
struct Sensitivity;
struct WavFileRec;

// The production sink: peaks to the click detector, minute records to the TK1 writer.
struct DetectorSink {
    ClickDetector& detector;
    TK1Writer& writer;
    void ClickSelSM(uint8_t NewTrueIPI, uint8_t NewAmp, int32_t TimeTrue2Mhz, bool Init);
    void ClickSelSMPeaks(const DetectorPeak* peaks, int32_t count);
    int32_t& ClicksThisMin();
    void WriteMinuteRecs(int32_t NofMins, uint8_t DeadBandPlusUplift, int32_t ScalerX2560);
};

class SampleProcessor {
public:
    // Band-pass values of one chunk of positions are computed ahead of the peak logic into a
    // buffer of this many positions.
    static constexpr int32_t kChunkPositions = 2048;  // a multiple of 16
    // Readable entries past the last value of a values buffer (the peak finder's searches
    // look at a few values at once).
    static constexpr int32_t kValuesPadding = peaks::kValuesPadding;
    static constexpr int32_t kMaxClicksPerMin = peaks::kMaxClicksPerMin;

    SampleProcessor(const SampleRate& rate, const DetectorSettings& settings, Sensitivity& sens,
                    ClickDetector& detector, TK1Writer& writer, const MainControls& controls,
                    Host& host);

    // Buffers for one batch (a few megabytes, whatever the rate).
    void AllocateBuffers(int32_t hiResSamplesLength);
    void ReleaseBuffers();
    bool BuffersAllocated() const { return !GraphHead.empty(); }

    // How the samples are read and filtered: new samples per piece, and whether a second
    // thread filters ahead (by default when more than one processor is available to us). The
    // bytes written are the same either way. Take effect at the next AllocateBuffers.
    void SetPieceSamples(int32_t n) { pieceSamples_ = n; }
    void UseThreads(bool on) { threads_ = on; }
    // Whether a second thread filters ahead now: a batch gives it up where it does not pay
    // (see engine/piece_ring.h).
    bool FiltersAhead() const { return pipeline_.Threaded(); }
    // For tests: with threads, pieces are filtered ahead as far as the queue allows before the
    // peak finder takes one (see PieceRing::SetFillAhead), and band-passed ahead too where
    // BandPassAheadForTests is on (see PieceRing::SetBandPassAhead).
    void FillAheadForTests(bool on) { pipeline_.SetFillAhead(on); }
    void BandPassAheadForTests(bool on) { pipeline_.SetBandPassAhead(on); }
    // For tests: with threads, the peak finder filters every piece itself that the other
    // thread took, done or not (see PieceRing::SetTakeOverAtOnce).
    void TakeOverAtOnceForTests(bool on) { pipeline_.SetTakeOverAtOnce(on); }
    // For tests: the generation of the band-pass filter in force (0: none made yet).
    uint64_t BandPassGenForTests() const { return bandPass_ != nullptr ? bandPass_->Gen() : 0; }
    static bool SeveralProcessors();

    // When set, the CPU time of each stage is added to it (for benchmarks).
    StageTimes* Timing = nullptr;

    // Convert the recording of record FileNo, read from source, to its end (or to where it
    // cannot be read further: then the failure is reported as a failed read). A failed
    // full-buffer write of the TK1 writer propagates as TK1WriteError.
    void ConvertOneWavFile(RecordingSource& source, int32_t FileNo, const WavFileRec& rec);
    // The same for the 16-bit samples of one channel in the bytes of range of an open file
    // (without one, from byte 100 to the file's end).
    void ConvertOneWavFile(std::FILE* WavFile, int32_t FileNo, const WavFileRec& rec,
                           std::optional<SampleByteRange> range = std::nullopt);

    // The minute end: detector reset, time base restart, sensitivity step, progress label,
    // minute log line, the minute record that opens the next minute, pending events.
    void DoMinEnd();

    // --- The same work over any sink (definitions in engine/sample_processor_core.h). ---
    template <PeakSink Sink>
    void ConvertOneWavFileWith(Sink& sink, RecordingSource& source, int32_t FileNo,
                               const WavFileRec& rec);
    template <PeakSink Sink>
    void ConvertOneWavFileWith(Sink& sink, std::FILE* WavFile, int32_t FileNo,
                               const WavFileRec& rec,
                               std::optional<SampleByteRange> range = std::nullopt);
    template <PeakSink Sink>
    void DoMinEndWith(Sink& sink);
    // Band-pass stage of count consecutive positions of a block, whose high-pass values from two
    // positions before the first are at hp[0 ...], with the minute-end tests after each
    // position. ahead: the same positions' band-pass values when they were made ahead (or null).
    template <PeakSink Sink>
    void BandPassStage(Sink& sink, const int32_t* hp, int32_t count,
                       const FilteredPiece* ahead = nullptr);
    // One band-pass output value through the peak logic, as the band-pass stage does it:
    // SampleTimeNear2MHz += 1, hand-off of a confirmed peak, TestNewAmpVal, graph collection.
    template <PeakSink Sink>
    void OfferBandPassValue(Sink& sink, int32_t NewAmpValue);

    // Collect one band-pass value for the third trace; draws it when the buffer is full.
    void PrepareHiResGraph(int32_t HiResAmp);

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

    // The front end's STOP flag, read at each minute end once the pending events have been
    // handled: when it is set the file ends there, with its minute closed, instead of at its
    // last sample. StoppedAtMinuteEnd tells whether the last file ended so.
    const bool* StopRequest = nullptr;
    bool StoppedAtMinuteEnd = false;
    // The samples of the last file converted: all it holds, or those up to where it could not
    // be read further or where a stop ended it (its minute end).
    int64_t SamplesConverted = 0;

    // Buffers (one batch): the head of the sample buffer that the raw and high-pass traces
    // draw (kGraphHead entries, see engine/graph_preview.h), the band-pass trace.
    std::vector<int32_t> GraphHead;
    std::vector<int32_t> HiResSamples;

private:
    using PeakLocals = peaks::PeakLocals;
    using PassContext = peaks::PassContext;
    PeakLocals LoadPeakState() const;
    void StorePeakState(const PeakLocals& L);
    PassContext MakePassContext() const;
    template <PeakSink Sink, bool kGraph>
    int32_t ScanChunk(Sink& sink, const int32_t* vals, const uint64_t* above, int32_t first,
                      int32_t nPos, bool& clickLimitReached);
    // Band-passes and scans positions r ... r + n - 1 of a piece (high-pass values at hp, as
    // BandPassStage takes them) only where it can matter: a 16-position block whose values all
    // lie at or below the threshold changes nothing while no peak is held, so such a block is
    // passed over (its time runs on) unless a peak is held when it begins. With the graphs off.
    // Returns the positions done (fewer when the minute's clicks reach the limit).
    // ahead: the piece, whose blocks may have been screened ahead.
    template <PeakSink Sink>
    int32_t ScanWhereValuesMayRise(Sink& sink, const int32_t* hp, int32_t r, int32_t n,
                                   const BandPass& filter, const FilteredPiece* ahead,
                                   bool& clickLimitReached, uint64_t& filteringTicks);
    // Makes the band-pass filter that the sensitivity asks for the one in force (a new value
    // with the next generation, handed to the pipeline) unless it already is. The sensitivity
    // changes only at minute ends and between files, where this is called.
    void UpdateBandPass();
    // The report of a recording that ends early because it cannot be read or decoded further.
    void ReportReadFailure(const WavFileRec& rec, const ReadFailure& failure);

    const SampleRate& rate_;
    const DetectorSettings& s_;
    Sensitivity& sens_;
    ClickDetector& detector_;
    TK1Writer& writer_;
    const MainControls& controls_;
    Host& host_;
    std::vector<int32_t> bandPassVals_;  // 4 x kChunkPositions values of the current chunk
    std::vector<uint64_t> aboveMask_;    // bit i: bandPassVals_[i] > AdjustedDeadBand
    // Bit b: block b of the chunk may hold a value above the threshold.
    std::array<uint64_t, kChunkPositions / 1024> mayRise_{};
    // Chunks left that are band-passed whole: where most blocks may rise (loud noise), finding
    // the few that cannot costs more than it saves.
    int32_t wholeChunksLeft_ = 0;
    // Whether the last chunk screened had fewer than half of its positions band-passed (the
    // pieces ahead are then screened too), and whether the pipeline was last asked to.
    bool screenPays_ = true;
    bool screenAheadAsked_ = false;
    FilterPipeline pipeline_;
    int32_t pieceSamples_ = FilterPipeline::kDefaultPieceSamples;
    bool threads_ = SeveralProcessors();
    int64_t blockPositions_ = 0;  // positions of the current block through the peak logic
    BandPassRef bandPass_;        // the filter in force (null: none made since the buffers)
    uint64_t bandPassGen_ = 0;    // generation of the last filter made
};

}  // namespace wtk
