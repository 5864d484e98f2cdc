#include "session/progress.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "base/numbers.h"

namespace wtk {
namespace {

// "42 s", "2 min 10 s", "3 h 05 min".
std::string Duration(double seconds) {
    const auto s = static_cast<int64_t>(std::llround(std::max(0.0, seconds)));
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    const int64_t m = s / 60 % 60;
    return std::to_string(s / 3600) + " h " + (m < 10 ? "0" : "") + std::to_string(m) + " min";
}

}  // namespace

double AudioSeconds(int64_t sampleBytes, int32_t samplesPerSec) {
    if (samplesPerSec <= 0 || sampleBytes <= 0) return 0;
    return static_cast<double>(sampleBytes / 2) / samplesPerSec;
}

ProgressSpan ProgressSpanOf(const SampleByteRange& range) {
    return {range.Begin, range.End, std::max<int64_t>(range.End - range.Begin, 0) / 2};
}

ProgressSpan ProgressSpanOf(const RecordingLayout& layout, int64_t fileBytes) {
    if (layout.Read == RecordingLayout::Reading::Flac) return {0, fileBytes, layout.Samples()};
    return {layout.Begin, std::max(layout.End, layout.Begin), layout.Samples()};
}

void ProgressTracker::Begin(const WavFileRecTable& recs, int32_t count, int32_t samplesPerSec,
                            double now) {
    p_ = BatchProgress{};
    running_ = true;
    start_ = now;
    samplesPerSec_ = samplesPerSec;
    fileBytes_ = bytesBefore_ = 0;
    audioBefore_ = 0;
    minutesInFile_ = 0;
    inFile_ = false;
    const size_t n = std::min(recs.size(), static_cast<size_t>(std::max(count, 0)));
    plannedBytes_.assign(n, 0);
    plannedAudio_.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const WavFileRec& rec = recs[i];
        struct stat st {};
        if (rec.NameWithPath.empty() || ::stat(rec.Path().c_str(), &st) != 0) continue;
        plannedBytes_[i] = static_cast<int64_t>(st.st_size);
        plannedAudio_[i] = AudioSeconds(plannedBytes_[i] - kSkippedHeaderBytes, samplesPerSec);
        const RecordingLayout layout = rec.Layout();
        if (rec.Raw.Number > 0) plannedBytes_[i] = rec.Raw.ByteLength;
        if (rec.Raw.Number > 0 || layout.Read != RecordingLayout::Reading::Bytes16) {
            plannedAudio_[i] =
                samplesPerSec > 0 ? static_cast<double>(layout.Samples()) / samplesPerSec : 0;
        }
        p_.BytesTotal += plannedBytes_[i];
        p_.AudioSecondsTotal += plannedAudio_[i];
    }
    p_.FileCount = count;
}

void ProgressTracker::FileStarted(int32_t fileNo, int64_t bytes, const ProgressSpan& span,
                                  double now) {
    if (!running_) return;
    p_.ElapsedSeconds = now - start_;
    p_.FileNumber = fileNo + 1;
    // The totals follow what is read: the samples the header gives, and a file may have
    // changed since the batch began.
    if (fileNo >= 0 && static_cast<size_t>(fileNo) < plannedBytes_.size()) {
        const auto i = static_cast<size_t>(fileNo);
        const double audio = SpanSeconds(span);
        p_.BytesTotal += bytes - plannedBytes_[i];
        p_.AudioSecondsTotal += audio - plannedAudio_[i];
        plannedBytes_[i] = bytes;
        plannedAudio_[i] = audio;
    }
    fileBytes_ = bytes;
    span_ = span;
    minutesInFile_ = 0;
    inFile_ = true;
    SetCurrent();
}

void ProgressTracker::MinuteEnded(double now) {
    if (!running_ || !inFile_) return;
    p_.ElapsedSeconds = now - start_;
    ++minutesInFile_;
    SetCurrent();
}

void ProgressTracker::FileEnded(double now, bool whole) {
    if (!running_ || !inFile_) return;
    p_.ElapsedSeconds = now - start_;
    bytesBefore_ += whole ? fileBytes_ : CurrentBytes();
    audioBefore_ += whole ? SpanSeconds(span_) : CurrentAudio();
    inFile_ = false;
    SetCurrent();
}

double ProgressTracker::SpanSeconds(const ProgressSpan& span) const {
    return samplesPerSec_ > 0 && span.Samples > 0
               ? static_cast<double>(span.Samples) / samplesPerSec_
               : 0.0;
}

void ProgressTracker::Ended(double now) {
    if (!running_) return;
    p_.ElapsedSeconds = now - start_;
    p_.Finished = true;
    running_ = false;
}

// A minute ends about one block of a minute of samples into the file, which lie in its bytes
// evenly.
int64_t ProgressTracker::CurrentBytes() const {
    if (minutesInFile_ <= 0) return 0;
    const int64_t blockSamples = int64_t{60} * samplesPerSec_;
    const double bytesPerSample =
        span_.Samples > 0 ? static_cast<double>(span_.ByteEnd - span_.ByteBegin) / span_.Samples
                          : 2.0;
    return std::min(fileBytes_,
                    span_.ByteBegin + static_cast<int64_t>(std::llround(
                                          bytesPerSample * blockSamples * minutesInFile_)));
}

double ProgressTracker::CurrentAudio() const {
    if (minutesInFile_ <= 0) return 0;
    return std::min(SpanSeconds(span_), 60.0 * minutesInFile_);
}

void ProgressTracker::SetCurrent() {
    p_.BytesDone = bytesBefore_ + (inFile_ ? CurrentBytes() : 0);
    p_.AudioSecondsDone = audioBefore_ + (inFile_ ? CurrentAudio() : 0);
}

std::string ProgressText(const BatchProgress& p) {
    const double speed = p.RealTimeFactor();
    if (p.Finished) {
        std::string text = "done: " + FixedText(p.AudioSecondsDone / 60, 1) + " min of audio in " +
                           Duration(p.ElapsedSeconds);
        if (speed > 0) text += ", " + FixedText(speed, 0) + "x real time";
        return text;
    }
    std::string text = "file " + std::to_string(p.FileNumber) + " of " +
                       std::to_string(p.FileCount) + ", " + FixedText(p.AudioSecondsDone / 60, 1) +
                       " of " + FixedText(p.AudioSecondsTotal / 60, 1) + " min of audio (" +
                       FixedText(std::floor(p.Fraction() * 100), 0) + " %)";
    if (speed > 0) text += ", " + FixedText(speed, 0) + "x real time";
    if (const auto eta = p.EtaSeconds()) text += ", ETA " + Duration(*eta);
    return text;
}

}  // namespace wtk
