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
    int TimeSourceCombo = 0;            // start times from: 0 auto (the name's, else the
                                        // file's own), 1 the name only, 2 the file's own first
    bool ExactStart = false;            // each file starts at its start second, not at the
                                        // first tick of its minute
    bool ToSixteenBit = false;          // samples of other formats turned into 16-bit ones
    int Channel = 0;                    // the channel read of recordings with several (from 1;
                                        // 0: none chosen)
    bool SearchDirectories = false;     // "Search directories"
    bool ShowGraphs = true;             // " show graphs" (also enables the quiet-block skip)
    bool MakeSourceLinkageFile = true;  // "Make source linkage file"
    bool MakeRecordingsTable = true;    // NAME.recordings.csv beside each TK1 file
};

}  // namespace wtk
