#include "session/recordings_row.h"

#include <filesystem>

namespace wtk {

tk1::RecordingRow RecordingsTableRow(const WavFileRec& rec, int64_t placedUs, int64_t samples,
                                     int32_t samplesPerSec) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(rec.NameWithPath, ec);
    tk1::RecordingRow row;
    // By its bytes, so that the file can be found again.
    row.Path = ec ? rec.NameWithPath : absolute.string();
    if (rec.StartTime.Source != TimeSource::None) {
        row.StartUs = rec.StartTime.Microseconds;
        row.Zoned = rec.StartTime.Zoned;
        row.CorrectionUs = rec.CorrectionUs;
    }
    row.TimeSource = std::string(TimeSourceText(rec.StartTime.Source));
    row.RateHz = samplesPerSec;
    row.Samples = samples;
    row.PlacedUs = placedUs;
    return row;
}

}  // namespace wtk
