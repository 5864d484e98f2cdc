// A conversion batch before it runs: the settings it runs with, read once from the two windows'
// models, and what it will write, worked out before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/recording_layout.h"

namespace wtk {

// The two conversions: one TK1 file per location on the recordings' own minutes, or the
// scrapbook's consecutive minutes from 2000-01-01 00:00.
enum class BatchKind { PerLocation, Scrapbook };

// The fixed minute numbers of the batch driver.
inline constexpr int32_t kUndatedStartMin = 60487200;    // 2015-01-01 00:00
inline constexpr int32_t kScrapbookStartMin = 52597440;  // 2000-01-01 00:00

// The settings one batch runs with. Read once when the batch is planned; what the user changes
// while it runs counts from the next batch on (the graphs box excepted: it only shows).
struct BatchSettings {
    std::string Site;          // starts every TK1 file's name; no separator, no control character
    std::string LoggerText;    // the logger number as typed: not negative; no number: 9999
    bool IpiExport = false;    // one IPI export file per batch
    int32_t IpiLineLimit = 0;  // lines of that file (valid where IpiExport is set)
    int32_t HighPassFilterIndex = -1;  // the settings window's high-pass choice, for the header
    bool SourceLinkage = true;         // a source-linkage file beside each TK1 file
    bool RecordingsTable = true;       // a recordings table beside each TK1 file
    ReadOptions Read;                  // samples turned into 16-bit ones, the channel read
};

// A batch that may run: its kind, its settings, and how it treats what it would write.
struct BatchPlan {
    BatchKind Kind = BatchKind::PerLocation;
    // Nothing refused the batch (the refusal has been reported); only a ready plan runs.
    bool Ready = false;
    BatchSettings Settings;
    // Gaps longer than this between the recordings of one TK1 file are asked about first.
    int32_t MaxGapDays = 31;
    // The batch asks (Yes/No) before it writes a gap longer than MaxGapDays or replaces a file.
    // A front end that has settled both from its options clears it; TK1 files whose minutes
    // the header cannot count are refused either way.
    bool AskBeforeWriting = true;
    // Where the batch asks nothing: files that have the names of its outputs may be replaced.
    // Where it asks, only a Yes allows it. A name that another run takes while the batch runs
    // is replaced only where this allows it, and no earlier file is replaced by a batch that
    // failed.
    bool ReplaceExisting = false;
};

struct PlannedGap {
    std::string Before, After;  // the recordings on either side (paths)
    int64_t Minutes = 0;        // empty minutes between the one Before ends in and After's
};

// What a batch writes into a chosen destination.
struct PlannedOutputs {
    std::vector<std::string> Outputs;  // every file the batch writes (TK1, linkage, export)
    std::vector<PlannedGap> LongGaps;  // gaps within a TK1 file longer than MaxGapDays
    std::vector<std::string> Unfit;    // TK1 files whose minutes the header cannot count,
                                       // names too long for the folder, and recordings whose
                                       // corrected start lies off the minute axis
};

// The files of names that exist (any kind of file), in the order given.
std::vector<std::string> ExistingFiles(const std::vector<std::string>& names);
// "40.2 days (57888 minutes) from BEFORE to AFTER"
std::string GapLine(const PlannedGap& gap);

}  // namespace wtk
