// Tables that wavtokeb-cli prints for people and for analysis tools: the settings controls
// that --set accepts, and the file list as CSV. CSV follows RFC 4180 (a field holding a comma,
// a quote or a line break is quoted, its quotes doubled) with CR LF line ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/csv.h"
#include "input/wav_file_rec.h"
#include "settings/settings_form.h"

namespace wtk::cli {

// A control as messages name it: its name and the field it stands for, MinNcycFedit ("Min nCyc").
std::string ControlText(const ControlDef& def);
// What --set accepts for a control: "digits only, at most 3 characters", "0 or 1",
// "0 ... 2 (gain, level, none)", "a decimal number".
std::string AcceptedText(const ControlDef& def);

// Every control of the settings model, one per line: name, field, kind, what it accepts and
// its value in form; aligned columns with a heading, or CSV.
void WriteSettings(const SettingsForm& form, bool csv, std::FILE* out);

// The file list as CSV: one row per listed file with its start time (ISO 8601 to the
// microsecond, "Z" where the zone is known; empty for a file without a date) and where it came
// from, its duration in seconds at the given rate (the samples the converter
// reads), its location (identity name), the number of the TK1 file it goes into (1, 2, ... in
// table order) and its path.
void WriteFileListCsv(const WavFileRecTable& recs, int32_t count, int32_t samplesPerSec,
                      std::FILE* out);

}  // namespace wtk::cli
