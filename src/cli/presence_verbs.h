// The trains and presence commands, and the train of each click for dump --csv --trains: the
// click-train analysis of presence/ run over TK1 files or output folders, every location.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "presence/trains.h"

namespace wtk::cli {

// Exit status: 0 done, 1 an input damaged or unreadable or the output not written, 2 the
// output refused.
int RunTrains(const CommandLine& c);
int RunPresence(const CommandLine& c);

// The thresholds of the train rules as the command line sets them (--set-train).
presence::TrainOptions TrainOptionsOf(const CommandLine& c);

// The cells dump --csv --trains adds to each click row of the TK1 file at path: ",train,class"
// of the next click in file order ("," and "," for a click in no train). Nothing, with the
// reason on stderr, when the file or its side files are damaged.
std::function<std::string()> TrainCellsOf(const std::string& path, const CommandLine& c);
inline constexpr const char* kTrainCellsHeading = ",train,class";

}  // namespace wtk::cli
