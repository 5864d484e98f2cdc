// Decoding a TK1 file for people and for analysis tools: the header fields and one line per
// record, or one CSV row per click with its absolute date and time and, where the source
// linkage file is at hand, the WAV file it came from and the second in that file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace wtk::cli {

// Calendar text of a minute number (minutes since 1899-12-30 00:00) plus microseconds:
// "yyyy-mm-dd hh:mm:ss.ffffff".
std::string IsoDateTime(int64_t minute, int64_t microseconds);

// 4000 / IPI with three decimals: the frequency in kHz of a period given in 250 ns units; ""
// for an IPI of 0 and for 255, which stands for 255 or more.
std::string KiloHertz(uint8_t ipi);

// One line of a source linkage file: the minute the batch driver gave the WAV file, its path.
// With the recordings table beside it: where within its minute the file's first sample lies
// (files placed at their exact start), and the file's start time.
struct LinkageEntry {
    int32_t Minute = 0;
    std::string Path;
    int64_t BeginUs = 0;
    std::optional<int64_t> StartUs;
    bool Zoned = false;
};

// One row of a recordings table as the dump reads it.
struct RecordingsRow {
    std::string Path;
    std::optional<int64_t> StartUs;  // empty for a recording without a start time
    bool Zoned = false;
    int64_t PlacedUs = 0;  // where its first sample lies in the TK1 file
};
// The rows of a recordings table's text, or why it is none (a heading that is not the table's,
// a row without its cells or with a time that does not read). Rows are told by their cells'
// names, so columns added after them are ignored.
std::variant<std::vector<RecordingsRow>, std::string> ParseRecordingsTable(std::string_view text);
// "2021-06-10T03:36:54.250000Z" (fraction of 1 to 6 digits optional, "Z" optional) in
// microseconds since 1899-12-30 00:00, with whether it carried the Z.
std::optional<std::pair<int64_t, bool>> ParseIsoMicroseconds(std::string_view text);

// Where the clicks of a TK1 file came from, given the file's linkage entries, minute by minute
// in file order: for each click the entry and the seconds from the start of that WAV file's
// samples. A file's samples begin at the start of the minute the linkage gives it. Within one
// file click times only grow inside a minute, so a time that goes back (by more than 250 ms)
// shows where another file's samples begin in the same minute: a file that continues the
// minute its predecessor ran into (the linkage gives it that minute when its name did, or the
// next one when its name gave an earlier minute). A file whose first sample lies later in its
// minute (BeginUs) and that no step shows begins there: the clicks before are its
// predecessor's, and its offsets count from its first sample.
class SourceFinder {
public:
    using Source = std::pair<const LinkageEntry*, double>;  // nullptr: before the first entry

    explicit SourceFinder(std::vector<LinkageEntry> entries) : entries_(std::move(entries)) {}
    // The sources of the clicks of one minute, given their times in 5 us units in file order.
    // Minutes come in increasing order.
    std::vector<Source> Minute(int64_t minute, const std::vector<int32_t>& times);
    // Each entry's first sample and start from the recordings table's row of the same place.
    void Annotate(const std::vector<RecordingsRow>& rows);
    size_t Size() const { return entries_.size(); }

private:
    // The entry after the current one may begin in this minute (as its linkage minute or as a
    // file that continues this minute).
    bool NextMayBeginIn(int64_t minute) const {
        return next_ < entries_.size() && entries_[next_].Minute <= minute + 1;
    }

    std::vector<LinkageEntry> entries_;
    size_t next_ = 0;     // the first entry not yet reached
    size_t current_ = 0;  // valid once next_ > 0
    int64_t origin_ = 0;  // the minute in which the current entry's samples begin
};

struct DumpOptions {
    bool Csv = false;
    std::string Linkage;  // for Csv: the source linkage file ("": the TK1 name with .txt)
    bool Quiet = false;   // no warnings
    // For Csv: the recordings table ("": the TK1 name with .recordings.csv), for the clicks'
    // recording_time.
    std::string Recordings;
};

// What DumpTK1 returns.
inline constexpr int kDumpSound = 0;
inline constexpr int kDumpProblems = 1;  // decoded as far as it goes, problems reported
inline constexpr int kDumpRefused = 2;   // not a TK1 file, or the named linkage file unreadable

// Writes the decoding of the file at path to out (CR LF line ends). Problems with the file's
// structure (too short, a partial record, no end record, data after it) are reported on err,
// one line each, as are lines of the linkage file that are no linkage lines.
int DumpTK1(const std::string& path, const DumpOptions& options, std::FILE* out, std::FILE* err);

}  // namespace wtk::cli
