// The progress of a conversion batch as the session measures it (base/batch_progress.h), and
// its text for progress lines. Measured at file starts and ends and at minute ends only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/batch_progress.h"
#include "input/recording_layout.h"
#include "input/wav_file_rec.h"
#include "input/wav_header.h"

namespace wtk {

// Seconds of audio in sampleBytes bytes of 16-bit samples at the batch's rate.
double AudioSeconds(int64_t sampleBytes, int32_t samplesPerSec);

// What of a file is read: its samples, and the bytes of the file they come from.
struct ProgressSpan {
    int64_t ByteBegin = 0;
    int64_t ByteEnd = 0;
    int64_t Samples = 0;
};
// The span of 16-bit samples in a byte range.
ProgressSpan ProgressSpanOf(const SampleByteRange& range);
// The span of a recording's layout: its bytes (a FLAC stream: the whole file of fileBytes).
ProgressSpan ProgressSpanOf(const RecordingLayout& layout, int64_t fileBytes);

class ProgressTracker {
public:
    // A batch of the records recs[0 .. count) (blank records have no file); the file sizes are
    // taken from the file system now, and their audio estimated from them (where the header
    // says other than 16-bit samples of one channel, from the samples it gives) until each file
    // is opened. Times are seconds on any steady clock.
    void Begin(const WavFileRecTable& recs, int32_t count, int32_t samplesPerSec, double now);
    // Record fileNo (0-based) has been opened: its size (of a raw file, its bytes), and what of
    // it is read.
    void FileStarted(int32_t fileNo, int64_t bytes, const ProgressSpan& span, double now);
    void FileStarted(int32_t fileNo, int64_t bytes, const SampleByteRange& samples, double now) {
        FileStarted(fileNo, bytes, ProgressSpanOf(samples), now);
    }
    // A minute of the file in progress has ended (about one minute of its samples converted).
    void MinuteEnded(double now);
    // The file in progress has ended: read to its end (whole), or stopped at a minute end, so
    // that only the minutes converted count as done.
    void FileEnded(double now, bool whole = true);
    void Ended(double now);

    bool Running() const { return running_; }
    const BatchProgress& Progress() const { return p_; }

private:
    void SetCurrent();
    double SpanSeconds(const ProgressSpan& span) const;
    // Bytes and audio of the file in progress converted by its minute ends so far.
    int64_t CurrentBytes() const;
    double CurrentAudio() const;

    BatchProgress p_;
    bool running_ = false;
    double start_ = 0;
    int32_t samplesPerSec_ = 0;
    std::vector<int64_t> plannedBytes_;  // per record, as found at the start
    std::vector<double> plannedAudio_;
    int64_t fileBytes_ = 0;  // the file in progress
    ProgressSpan span_;
    int64_t bytesBefore_ = 0;  // of the files finished
    double audioBefore_ = 0;
    int32_t minutesInFile_ = 0;
    bool inFile_ = false;
};

// One line: "file 3 of 12, 45.0 of 120.0 min of audio (37 %), 350x real time, ETA 2 min 10 s";
// at the end "done: 120.0 min of audio in 21 s, 343x real time".
std::string ProgressText(const BatchProgress& p);

}  // namespace wtk
