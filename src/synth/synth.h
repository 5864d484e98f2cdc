// Synthetic hydrophone recordings: trains of narrow-band high-frequency (porpoise-like) clicks
// in Gaussian background noise, written as mono 16-bit PCM WAV files, with the true time,
// amplitude and frequency of every click for tests.
//
// A click is a tone under a Gaussian envelope,
//     s(t) = A exp(-(t - tc)^2 / (2 sigma^2)) cos(2 pi f (t - tc) + phase),
// whose duration D is its -20 dB width: the envelope is at a tenth of A at tc +- D/2, so
//     sigma = D / (2 sqrt(2 ln 10)) = D / 4.292.
// A 100 us click therefore has sigma = 23.3 us; it is drawn over tc +- 7 sigma.
//
// Everything is deterministic: the same spec gives the same bytes on every machine. The noise
// comes from std::mt19937_64 (whose sequence the standard fixes) through our own Box-Muller
// transform and our own exp/log/sin/cos, never from the library's distributions or functions.
//
// Times are seconds from the first data sample (data sample 0 at t = 0). The converter never
// reads the first 100 bytes of a file as samples, so it sees data sample k as its own sample
// k - kConverterSkipSamples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace wtk::synth {

inline constexpr int32_t kWavHeaderBytes = 44;
inline constexpr int32_t kConverterSkipBytes = 100;
inline constexpr int32_t kConverterSkipSamples = (kConverterSkipBytes - kWavHeaderBytes) / 2;  // 28

// How the click amplitude rises and falls over a train (an animal's beam sweeping past).
enum class TrainShape {
    Flat,          // every click at PeakAmplitude
    RaisedCosine,  // EdgeLevel + (1 - EdgeLevel) (1 - cos(2 pi v)) / 2
    Gaussian,      // EdgeLevel ^ ((2 v - 1)^2)
};

struct ClickTrain {
    double StartSec = 0;          // centre of the first click, s from the first data sample
    double IciStartSec = 0.05;    // first inter-click interval, s
    double IciEndSec = 0.05;      // last one; between them the interval moves along a half cosine
    int32_t Clicks = 20;          // number of clicks; 0: clicks up to EndSec
    double EndSec = 0;            // with Clicks 0: no click centre after this time
    double FrequencyHz = 130000;  // tone frequency, below half the sample rate
    double DurationSec = 100e-6;  // -20 dB width of the envelope, 1 us ... 0.1 s
    double PeakAmplitude = 8000;  // tone amplitude (counts) of the loudest click of the train
    TrainShape Shape = TrainShape::RaisedCosine;
    double EdgeLevel =
        0.1;                // amplitude of the first and last click relative to the loudest, (0, 1]
    double PeakAt = 0.5;    // where in the train the loudest click sits, 0 (first) ... 1 (last)
    double PhaseTurns = 0;  // carrier phase at the envelope centre, in turns (0: cosine peak)
};

// The noise of a vessel passing: white noise added to the background whose RMS falls with the
// vessel's distance, PeakRms / sqrt(1 + ((t - CentreSec) / HalfWidthSec)^2), and beats at the
// propeller's blade rate as cavitation does: times 1 + ModulationDepth cos(2 pi ModulationHz t).
struct NoiseSwell {
    double CentreSec = 0;      // closest approach, s from the first data sample (may lie outside)
    double HalfWidthSec = 60;  // time from there to where the RMS has fallen by 3 dB
    double PeakRms = 0;        // counts
    double ModulationHz = 0;
    double ModulationDepth = 0;  // 0 ... 1
};

struct RecordingSpec {
    int32_t SampleRate = 576000;          // samples per second, 1000 ... 10,000,000
    double Seconds = 10;                  // length of the data; Round(Seconds x SampleRate) samples
    double NoiseRms = 20;                 // white Gaussian background noise, counts RMS
    std::vector<NoiseSwell> Swells = {};  // vessels passing (none: the background alone)
    double FlowRms = 0;                   // low-frequency "flow" noise, counts RMS (0: none)
    double FlowCornerHz = 300;            // its corner: white noise through two one-pole low-passes
    uint64_t Seed = 1;
    std::vector<ClickTrain> Trains;  // clicks whose centre falls outside the data are left out
};

// The truth about one generated click.
struct ClickTruth {
    int32_t Train = 0;         // index into RecordingSpec::Trains
    int32_t Index = 0;         // click number within its train, from 0
    double CentreSec = 0;      // envelope centre, s from the first data sample
    double CentreSample = 0;   // the same in data samples (CentreSec x SampleRate, fractional)
    double PeakAmplitude = 0;  // tone amplitude at the envelope centre, counts, before clipping
    double FrequencyHz = 0;
    double DurationSec = 0;  // -20 dB envelope width
};

// Where the converter sees the click centre: its sample index and seconds from its first sample.
// skipSamples: the data samples the converter does not read, kConverterSkipSamples behind the
// 44-byte header, 0 where chunks before the data put it at byte 100 or later
// (WriteResult::ConverterSkipSamples).
inline double ConverterSample(const ClickTruth& c, int32_t skipSamples = kConverterSkipSamples) {
    return c.CentreSample - skipSamples;
}
double ConverterSeconds(const ClickTruth& c, int32_t sampleRate,
                        int32_t skipSamples = kConverterSkipSamples);

double DbFsToCounts(double dbfs);              // 0 dB re full scale = 32767 counts
double SigmaFromDuration(double durationSec);  // envelope sigma of a -20 dB width

int64_t SampleCount(const RecordingSpec& spec);  // Round(Seconds x SampleRate), ties to even

// The RMS of the white noise at sec (s from the first data sample): the background and the
// swells together, sqrt(NoiseRms^2 + the sum of the squares of the swells' RMS).
double NoiseRmsAt(const RecordingSpec& spec, double sec);

// The clicks a spec produces, sorted by centre time (ties: by train, then click number).
// Throws std::invalid_argument when the recording description is out of range.
std::vector<ClickTruth> GroundTruth(const RecordingSpec& spec);

// Produces a recording piece by piece, so that files of any length can be written with a small
// buffer. Splitting the output into pieces of any sizes gives exactly the samples of one piece.
class Generator {
public:
    explicit Generator(RecordingSpec spec);  // throws std::invalid_argument
    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;

    // Writes the next min(out.size(), remaining) samples; returns how many (0 at the end).
    size_t Next(std::span<int16_t> out);

    const RecordingSpec& Spec() const { return spec_; }
    int64_t TotalSamples() const { return total_; }
    int64_t Position() const { return pos_; }
    const std::vector<ClickTruth>& Truth() const { return truth_; }
    int64_t ClippedSamples() const {
        return clipped_;
    }  // samples limited to the int16 range so far

private:
    struct ClickShape {
        double Centre;     // data samples
        double Amplitude;  // counts
        double TurnsPerSample;
        double PhaseTurns;
        double InvTwoSigma2;  // 1 / (2 sigma^2), sigma in samples
        int64_t First;        // first and one past the last sample drawn
        int64_t End;
    };
    void Fill(int64_t first, size_t n);  // fills acc_[0 .. n) with data samples first ...

    RecordingSpec spec_;
    int64_t total_ = 0;
    int64_t pos_ = 0;
    int64_t clipped_ = 0;
    std::vector<ClickTruth> truth_;
    std::vector<ClickShape> shapes_;  // sorted by First
    size_t firstLive_ = 0;            // shapes before this one end before pos_
    std::mt19937_64 rng_;
    double noiseScale_ = 0;
    double flowGain_ = 0;  // white-noise scale at the low-pass input
    double flowPole_ = 0;
    double flow1_ = 0;  // the two low-pass states
    double flow2_ = 0;
    std::vector<double> acc_;
};

// All samples at once (for short recordings in tests).
std::vector<int16_t> Generate(const RecordingSpec& spec);

// The 44-byte header: RIFF/WAVE, PCM, mono, 16 bits, the given rate. Size fields that would
// pass 4 GiB are written as 0xFFFFFFFF (the converter then reads the samples to the file's end).
std::array<uint8_t, kWavHeaderBytes> WavHeader(int32_t sampleRate, int64_t samples);

struct WriteResult {
    std::vector<ClickTruth> Truth;
    int64_t Samples = 0;
    int64_t ClippedSamples = 0;
    int64_t DataOffset = kWavHeaderBytes;  // the first data sample's byte
    int32_t ConverterSkipSamples = kConverterSkipSamples;
};

// A chunk of the RIFF file besides fmt and data: its id and body (a pad byte follows an odd one).
struct MetadataChunk {
    std::array<char, 4> Id{};
    std::vector<uint8_t> Body;
};

// How the generated 16-bit samples k are stored: as they are, or as the samples of another
// format that a converter turning them into 16-bit ones gives back (Pcm24 k x 256, Pcm32
// k x 65536, Float32 k / 32768: k itself; Pcm8 the top byte (k >> 8) + 128: (k >> 8) x 256).
enum class SampleStore { Pcm16, Pcm24, Pcm32, Float32, Pcm8 };
struct StoreFormat {
    SampleStore Store = SampleStore::Pcm16;
    int32_t Channels = 1;     // 1 ... 8
    int32_t Channel = 1;      // the channel holding the recording; the others hold -k / 2
    bool Extensible = false;  // a WAVE_FORMAT_EXTENSIBLE fmt chunk (40 bytes instead of 16)
};
// The 16-bit sample a converter turning a stored sample into 16 bits gives for k.
int16_t ReadBackSample(int16_t k, SampleStore store);

// Writes the recording to path, generating it in pieces: the 44-byte header (a 16-byte fmt
// chunk; 68 bytes with an extensible one), or with chunks, the fmt chunk, the chunks before the
// data, the data and the chunks after it. Throws std::invalid_argument for a bad spec or format
// and std::runtime_error when the file cannot be written.
WriteResult WriteWav(const std::string& path, const RecordingSpec& spec,
                     const std::vector<MetadataChunk>& chunksBeforeData = {},
                     const std::vector<MetadataChunk>& chunksAfterData = {},
                     const StoreFormat& format = {});

// Writes 16-bit samples as a WAV file of the format at sampleRate, as WriteWav stores them (the
// other channels holding -k / 2): next fills its span with the following ones and returns how
// many it gave (0: no more); samples is how many it gives in all. Returns the first data
// sample's byte. Throws std::invalid_argument for a bad format and std::runtime_error when the
// file cannot be written (leaving none behind).
int64_t WriteStoredWav(const std::string& path, int32_t sampleRate, int64_t samples,
                       const std::function<size_t(std::span<int16_t>)>& next,
                       const StoreFormat& format,
                       const std::vector<MetadataChunk>& chunksBeforeData = {},
                       const std::vector<MetadataChunk>& chunksAfterData = {});

// The truth as CSV text, CR LF line ends, numbers independent of the locale: the header line,
// then one row per click, each starting with the file name.
std::string TruthCsvHeader();
std::string TruthCsvRows(const std::vector<ClickTruth>& truth, int32_t sampleRate,
                         const std::string& fileName, int32_t skipSamples = kConverterSkipSamples);

// A varied set of click trains across a recording, drawn deterministically from a seed: trains
// one after another with quiet gaps, ICIs 30 ... 100 ms, frequency within +-3 kHz of
// FrequencyHz, durations 80 ... 150 us, loudest amplitudes log-uniform in [MinPeak, MaxPeak].
struct TrainPlan {
    uint64_t Seed = 1;
    double Seconds = 60;  // length of the recording
    double FrequencyHz = 130000;
    double MinPeak = 150;  // counts
    double MaxPeak = 4000;
    double MinGapSec = 1;  // quiet time before each train
    double MaxGapSec = 6;
};
std::vector<ClickTrain> PlanTrains(const TrainPlan& plan);

// The bundled example archive: two locations with dated file names; the HARBOUR files are three
// minutes apart so that the converted file has empty minutes, the REEF files follow each other.
struct ExampleOptions {
    int32_t SampleRate = 576000;
    double Seconds = 90;
    int32_t HarbourFiles = 2;
    int32_t ReefFiles = 1;
};
struct ExampleFile {
    std::string Name;  // LOCATION.yyyymmddhhmmss.wav
    RecordingSpec Spec;
};
std::vector<ExampleFile> ExampleArchive(const ExampleOptions& options = {});

// Recordings as field recorders write them: a file name of the recorder's form and the start
// time of the first data sample in the file's chunks or in a file beside it. Names and texts
// show the recorder's local time (UTC + ZoneMinutes); each source keeps the precision its
// recorder writes (the rest is cut off): the log and the comment whole seconds, wamd
// milliseconds, guan microseconds, bext's TimeReference whole samples.
enum class RecorderStyle {
    // SERIAL.yymmddHHMMSS.wav and SERIAL.yymmddHHMMSS.log.xml: the log describes the recording's
    // stream (wav) and a click-snippet stream (dwv) that starts a second later, at the name's
    // time; their events (the dwv stream's first) give both starts in UTC.
    SoundTrap,
    // YYYYMMDD_HHMMSS.WAV with a LIST/INFO chunk before the data whose ICMT comment reads
    // "Recorded at hh:mm:ss DD/MM/YYYY (UTC+h) by AudioMoth ...".
    AudioMoth,
    // PREFIX_YYYYMMDD_HHMMSS.wav with a wamd chunk after the data (model, serial, prefix, and
    // the start "YYYY-MM-DD hh:mm:ss[.mmm][+hh:mm]").
    Sm4,
    // PREFIX.wav with only a guan chunk, after the data ("Timestamp: YYYY-MM-DDThh:mm:ss...").
    Guano,
    // PREFIX.wav with only a bext chunk, before the data: OriginationDate and OriginationTime
    // in local time without a zone, TimeReference the samples since that midnight.
    Bext,
};

struct RecorderStamp {
    RecorderStyle Style = RecorderStyle::SoundTrap;
    // The first data sample: microseconds since 1899-12-30 00:00 UTC (StartMicroseconds).
    int64_t StartUtcMicroseconds = 0;
    int32_t ZoneMinutes = 0;  // the recorder's zone east of UTC, -23:59 ... +23:59
    bool ZoneWritten = true;  // guan and wamd: the zone after the time (else local time alone)
    // SoundTrap serial ("5987"), SM4 prefix ("SM4"), guan ("rec1") and bext ("bext1") names;
    // "" takes these. Letters, digits, '-' and '_' only.
    std::string Prefix;
};

// The microseconds of a UTC date and time since 1899-12-30 00:00; throws std::invalid_argument
// for a date or time that does not exist or a year outside 1 ... 9999.
int64_t StartMicroseconds(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                          int32_t second, int32_t microsecond = 0);

struct RecorderFiles {
    std::string Name;  // the recording's file name
    std::vector<MetadataChunk> ChunksBeforeData;
    std::vector<MetadataChunk> ChunksAfterData;
    std::string SidecarName;  // "" when the style writes none
    std::string SidecarText;
};
// What a recorder writes for a recording of spec (its rate and length) starting at the stamp's
// time. Throws std::invalid_argument for a stamp out of range.
RecorderFiles StampRecording(const RecorderStamp& stamp, const RecordingSpec& spec);

struct RecorderWriteResult : WriteResult {
    std::string Path;         // the recording
    std::string SidecarPath;  // "" when none
};
// Writes the recording and its sidecar into folder (which must exist).
RecorderWriteResult WriteRecorderRecording(const std::string& folder, const RecordingSpec& spec,
                                           const RecorderStamp& stamp);

}  // namespace wtk::synth
