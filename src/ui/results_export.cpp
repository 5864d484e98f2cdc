#include "ui/results_export.h"

namespace wtk::ui {

ExportOutcome ExportClicks(const ResultsLocation&, const ExportRequest&) {
    return {false, {}, {}, "The exports are not built into this version yet."};
}

}  // namespace wtk::ui
