// Decoding a TK1 file for people and for analysis tools: the header fields and one line per
// record, or one CSV row per click with its absolute date and time and, where the source
// linkage file is at hand, the WAV file it came from and the second in that file; and the
// exports of cli/tk1_exports.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "output/tk1_codec.h"

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
    void Annotate(const std::vector<tk1::RecordingRow>& rows);
    size_t Size() const { return entries_.size(); }
    const std::vector<LinkageEntry>& Entries() const { return entries_; }

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

// What dump writes: the text dump, or one of the CSV, the Raven selection table(s), the
// Audacity label files and the minute table.
struct DumpOptions {
    bool Csv = false;
    // For every output but the text dump: the source linkage file ("": the TK1 name with .txt)
    std::string Linkage;
    bool Quiet = false;  // no warnings
    // Likewise, the recordings table ("": the TK1 name with .recordings.csv), for the clicks'
    // exact times.
    std::string Recordings;
    bool Raven = false;       // a Raven selection table on the output
    std::string PerFileDir;   // with Raven: one table per recording into this folder instead
    std::string AudacityDir;  // one Audacity label file per recording into this folder
    bool MinutesCsv = false;  // one row per minute of the TK1 file
    bool Overwrite = false;   // the per-recording files may replace files of their names
};

// What DumpTK1 returns.
inline constexpr int kDumpSound = 0;
inline constexpr int kDumpProblems = 1;  // decoded as far as it goes, problems reported
inline constexpr int kDumpRefused = 2;   // not a TK1 file, a named side file unreadable, ...

// Writes the decoding of the file at path to out (CR LF line ends), or the per-recording files
// with one line per file written on out. Problems with the file's structure (too short, a
// partial record, no end record, data after it) are reported on err, one line each, as are
// lines of the linkage file that are no linkage lines. A per-recording export is refused
// before anything is written when the recordings are not known or its files are there
// already (unless Overwrite).
int DumpTK1(const std::string& path, const DumpOptions& options, std::FILE* out, std::FILE* err);

}  // namespace wtk::cli
