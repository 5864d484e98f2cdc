// The main window's controls that the engine reads, as plain values. The window keeps this in
// step with its widgets; the command-line tool fills it from its options.
#pragma once

#include <string>

namespace wtk {

struct MainControls {
    std::string KsamplesPerSecEdit = "576";         // sample rate, k samples/s
    std::string AddedSiteNameEdit = "NewFileName";  // site name: TK1 names, identity fallback
    std::string LoggerNumberEdit = "Logger ID number";
    bool UseFileNameDateTimes = true;   // "Get Date/time from file name"
    std::string NameDatePatternEdit;    // how other recorders' names hold the date; "": the
                                        // built-in forms
    bool SearchDirectories = false;     // "Search directories"
    bool ShowGraphs = true;             // " show graphs" (also enables the quiet-block skip)
    bool MakeSourceLinkageFile = true;  // "Make source linkage file"
};

}  // namespace wtk
