// Where a conversion batch stands: files, bytes and minutes of audio done of the whole, and the
// time it has taken so far. The session fills it at each file and minute end and passes it to
// its host; front ends draw progress bars and lines from it.
#pragma once

#include <cstdint>
#include <optional>

namespace wtk {

struct BatchProgress {
    int32_t FileNumber = 0;  // the file in progress as "Wav file i of N" counts it; 0 before
    int32_t FileCount = 0;   // N
    int64_t BytesDone = 0;   // of the files finished and the part of the current one converted
    int64_t BytesTotal = 0;
    double AudioSecondsDone = 0;
    double AudioSecondsTotal = 0;
    double ElapsedSeconds = 0;  // since the batch began
    bool Finished = false;      // the batch has ended (converted, stopped or failed)

    // BytesDone of BytesTotal, 0 ... 1; an empty batch is complete once it has finished.
    double Fraction() const {
        if (BytesTotal <= 0) return Finished ? 1.0 : 0.0;
        const double f = static_cast<double>(BytesDone) / static_cast<double>(BytesTotal);
        return f < 0 ? 0.0 : f > 1 ? 1.0 : f;
    }
    // Seconds of audio converted per second taken; 0 while either is 0.
    double RealTimeFactor() const {
        return ElapsedSeconds > 0 ? AudioSecondsDone / ElapsedSeconds : 0.0;
    }
    // Seconds still to go at the speed so far; none before anything has been converted.
    std::optional<double> EtaSeconds() const {
        if (BytesDone <= 0 || ElapsedSeconds <= 0) return std::nullopt;
        const int64_t left = BytesTotal > BytesDone ? BytesTotal - BytesDone : 0;
        return static_cast<double>(left) * ElapsedSeconds / static_cast<double>(BytesDone);
    }
};

}  // namespace wtk
