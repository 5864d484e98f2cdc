// The exports of the results view: the clicks of a train, or of a span, written by the code
// that writes dump's exports (a Raven selection table or an Audacity label file per recording
// that holds one of them, or CSV rows as dump --csv writes them), from each TK1 file of the
// location that holds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/results_model.h"

namespace wtk::ui {

enum class ExportFormat { Raven, Audacity, Csv };

struct ExportRequest {
    ExportFormat Format = ExportFormat::Csv;
    TimeSpan Span;               // the clicks within it
    bool AllInSpan = false;      // every one; else only those at Times
    std::vector<int64_t> Times;  // the exact times of the clicks to write, in increasing order
    std::string Target;          // the CSV file, or the folder of the per-recording files
    bool Overwrite = false;      // files of the names written may be replaced
};

struct ExportOutcome {
    bool Ok = false;
    std::vector<std::string> Written;   // the files written
    std::vector<std::string> Existing;  // refused (nothing written): files of these names exist
    std::string Problems;               // what went wrong, one line each
};

ExportOutcome ExportClicks(const ResultsLocation& location, const ExportRequest& request);

}  // namespace wtk::ui
