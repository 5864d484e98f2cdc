// The start times of listed recordings: the recording's own time beside the one its name
// gives, the choice between them, the corrections of a recorder's clock, the placement on the
// minute axis, and the warnings about doubtful times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "input/recording_start.h"
#include "input/wav_file_rec.h"

namespace wtk {

struct SampleRate;

// Which time a recording starts at: the name's where it gives one, else the file's own (auto);
// the name's only; the file's own where it has one, else the name's.
enum class TimeSourceChoice { Auto = 0, Name = 1, File = 2 };
// "auto", "name", "file", in the order of the choices.
inline constexpr const char* kTimeSourceChoiceNames[] = {"auto", "name", "file"};
std::optional<TimeSourceChoice> ParseTimeSourceChoice(std::string_view text);

// A recorder clock's error measured at an instant (in the clock of the start times after the
// shift): positive when the clock was ahead.
struct ClockErrorPoint {
    int64_t AtUs = 0;
    int64_t ErrorUs = 0;
};

struct TimeCorrections {
    int64_t ShiftUs = 0;                       // added to every start time
    std::vector<ClockErrorPoint> ClockErrors;  // in time order, at most one per instant

    // A point of the clock error; one at an instant already given replaces it.
    void AddClockError(const ClockErrorPoint& point);
    // What is added to a start time: the shift less the clock error at the shifted time,
    // interpolated linearly between the points and held constant beyond them.
    int64_t CorrectionFor(int64_t startUs) const;
    bool Empty() const { return ShiftUs == 0 && ClockErrors.empty(); }
};

// "+HH:MM[:SS]" or "-HH:MM[:SS]" (the sign may be left out for +) in microseconds, or why it is
// refused.
std::variant<int64_t, std::string> ParseTimeShift(std::string_view text);
// "YYYY-MM-DDThh:mm[:ss]=[+|-]SECONDS" (a blank may stand for the T; seconds to the
// microsecond), or why it is refused.
std::variant<ClockErrorPoint, std::string> ParseClockError(std::string_view text);

// What choosing a recording's start found beside the start itself.
struct StartChoice {
    // The name's and the file's own time a minute or more apart (a clock or time-zone mistake),
    // with the option that gives the time not taken; or a start the corrections moved off the
    // minute axis.
    std::optional<std::string> Warning;
    // The name gave the recorder's local time: the file's own time, whose zone this is (minutes
    // east of UTC), agrees with the name there, and was taken in UTC.
    std::optional<int32_t> LocalNameZone;
};

// Own and name times less than this apart are one start, and auto takes the recorder's own.
inline constexpr int64_t kSameStartUs = 60 * 1'000'000;

// The recording's start from the time its name gave (rec.StartTime, Source None for none) and
// its own time (own), as the choice takes them, corrected, and the file placed. With auto, the
// own time is taken where the name gives none, where the two are less than a minute apart (the
// recorder's own clock, often to the millisecond, where a name keeps whole seconds or names
// another stream's start), and where the own time carries a zone and its local time is the
// name's (a recorder that names its files in local time); else the name's time. The date
// string of a file placed on the day its name gives stays the name's text. A start that the
// corrections move off the minute axis leaves the file without a date and sets rec.Unplaced.
// Without either time the record is left as the name left it.
StartChoice ResolveStartTime(WavFileRec& rec, const std::optional<RecordingStart>& own,
                             TimeSourceChoice choice, const TimeCorrections& corrections,
                             bool exactStart, const SampleRate& Rate);

// The line naming a recording whose start lies off the minute axis (rec.Unplaced).
std::string UnplacedLine(const WavFileRec& rec);

// The note of a listing where names gave local time: one line for zones (minutes east of UTC)
// of count recordings.
std::string LocalNamesNote(size_t count, const std::vector<int32_t>& zones);

// Places the file at atUs: its minute, and with exactStart its second and microsecond and the
// tick of that instant (else the first tick of the minute). A time outside the minute axis leaves
// the file without a date. False when it has none.
bool PlaceAtStartTime(WavFileRec& rec, bool exactStart, const SampleRate& Rate, int64_t atUs);

// Samples the converter reads from a listed file.
int64_t SamplesOf(const WavFileRec& rec);

// One warning for each recording that ends more than a second after the next recording of its
// location begins (table order, files with start times), naming both, the overlap and the
// minutes of the TK1 file that both reach.
std::vector<std::string> OverlapWarnings(const WavFileRecTable& recs, int32_t samplesPerSec);

// The start time's text: ISO 8601 to the microsecond, "Z" where the zone was known.
std::string StartTimeText(const RecordingStart& start);

}  // namespace wtk
