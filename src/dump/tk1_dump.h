// Decoding a TK1 file for people and for analysis tools: the header fields and one line per
// record, or one CSV row per click with its absolute date and time and, where the recordings
// table or the source linkage file is at hand, the recording it came from, the second in that
// recording and its exact time (output/click_sources.h); and the exports of dump/tk1_exports.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "output/tk1_codec.h"

namespace wtk::dump {

struct ClickAt;  // dump/tk1_exports.h

// Calendar text of a minute number (minutes since 1899-12-30 00:00) plus microseconds:
// "yyyy-mm-dd hh:mm:ss.ffffff".
std::string IsoDateTime(int64_t minute, int64_t microseconds);

// 4000 / IPI with three decimals: the frequency in kHz of a period given in 250 ns units; ""
// for an IPI of 0 and for 255, which stands for 255 or more.
std::string KiloHertz(uint8_t ipi);

// One recording behind a TK1 file as dump names it: its path as the source linkage file gives
// it (else the recordings table's), and whether its start is UTC.
struct SourceRecording {
    std::string Path;
    bool Zoned = false;
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
    // With Csv: cells added to each click row (their heading after the others), in file order.
    std::function<std::string()> ExtraCells;
    std::string ExtraHeading;
    // The clicks to write (every one where empty): the others are left out of every output,
    // and a per-recording export writes only the files of the recordings that hold one.
    std::function<bool(const ClickAt&)> Keep = {};
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

// The files DumpTK1 would write for the per-recording export of options (whether or not they
// are there); nothing where it would refuse the export, or where path is no TK1 file (the
// reason on err).
std::optional<std::vector<std::string>> PerRecordingFiles(const std::string& path,
                                                          const DumpOptions& options,
                                                          std::FILE* err);

}  // namespace wtk::dump
