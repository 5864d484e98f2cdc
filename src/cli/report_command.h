// wavtokeb-cli report: the presence report of TK1 files as one HTML file.
#pragma once

#include "cli/command_line.h"

namespace wtk::cli {

// Writes the report the command line asks for; returns the exit status (0 written, 1 damaged
// input or the report not written, 2 refused).
int RunReport(const CommandLine& c);

}  // namespace wtk::cli
