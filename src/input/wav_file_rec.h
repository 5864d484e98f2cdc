// One selected WAV file and its start time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/harp_chunk.h"
#include "input/recording_layout.h"
#include "input/recording_start.h"
#include "input/wav_header.h"

namespace wtk {

// A start time: the minute (minutes since 1899-12-30 00:00, 0 = no date known) and the
// position inside it in near-2 MHz ticks (a quarter of a sample period).
struct tSampleTime {
    int32_t Mn = 0;
    int32_t Second = 0;  // the start's second when files are placed at it, else 0
    int32_t TimeInMinuteNear2MHz = 0;
    int32_t NofNear2MHzToEndOfMinute = 0;
    int32_t FractionUs = 0;  // the start's microseconds within Second

    // Where in its minute the file's first sample lies.
    int64_t MicrosecondInMinute() const { return int64_t{Second} * 1'000'000 + FractionUs; }
};

struct WavFileRec {
    std::string NameWithPath;  // full path as selected, kept byte for byte; of a raw file of an
                               // XWAV file, "PATH#N" (its name everywhere it is shown)
    std::string OriginalShortNameMinusSuffix;  // file name less its last four characters
    std::string IdentityName;                  // location or instrument: the grouping key
    std::string DateString;                    // "yyyy mm dd" from the name's digits
    tSampleTime Start;
    int32_t DurationMs = 0;
    bool DateFound = false;
    WavHeader Header;  // what the file's header said when it was listed
    // The start to the microsecond, with its corrections, and where it came from (Source None:
    // no start known). Start.Mn is its minute; the seconds place the file only when files are
    // placed at their exact start.
    RecordingStart StartTime;
    int64_t CorrectionUs = 0;  // --time-shift less the clock error, added to StartTime
    // The start chosen, corrected, where it lies off the minute axis (before 1899-12-30 00:01 or
    // beyond the last minute number): the file has no date, and it cannot be converted.
    std::optional<RecordingStart> Unplaced;
    // The file of a raw file of an XWAV file ("": NameWithPath is the file), and the raw file.
    std::string FilePath;
    RawFile Raw;
    ReadOptions Read;  // the choices it was listed with (to 16 bits, a channel)

    // The file to open.
    const std::string& Path() const { return FilePath.empty() ? NameWithPath : FilePath; }
    // Which of its samples are read, and how.
    RecordingLayout Layout() const { return LayoutOf(Header, Raw, Read); }
};

// The blank record: every string empty, every number 0, DateFound false.
inline const WavFileRec BlankWavFileRec{};

using WavFileRecTable = std::vector<WavFileRec>;

}  // namespace wtk
