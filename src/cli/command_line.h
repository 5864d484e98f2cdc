// The command line of wavtokeb-cli: the verbs, one table of options (each row says which verbs
// take it), GNU-style parsing and the help texts made from the table.
//
// Parsing follows GNU conventions: "--name VALUE", "--name=VALUE", "-x VALUE", "-xVALUE",
// grouped short flags ("-qV"), options before or after the operands, "--" ends the options.
// An option given twice counts the last time. Options that set a settings control (--set,
// --ipi-export, --ipi-limit) are kept in command-line order, so that the last one wins; the
// preset is kept apart and pressed before all of them.
//
// To add an option: one row in kOptions (command_line.cpp) naming the verbs that take it, and a
// field in CommandLine that its Take function fills.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/main_controls.h"

namespace wtk::cli {

// The verbs as bits, so that an option row can name several.
enum Verb : unsigned {
    kNoVerb = 0,
    kConvert = 1u << 0,
    kScrapbook = 1u << 1,
    kList = 1u << 2,
    kDump = 1u << 3,
    kSettings = 1u << 4,
    kTrains = 1u << 5,
    kPresence = 1u << 6,
};
inline constexpr unsigned kConversions = kConvert | kScrapbook;
inline constexpr unsigned kEveryVerb =
    kConvert | kScrapbook | kList | kDump | kSettings | kTrains | kPresence;

// A settings control set from the command line, with the option that set it (for messages).
struct ControlValue {
    std::string Name;
    std::string Value;
    std::string Option;  // "--set", "--ipi-export", "--ipi-limit"
};

// What a command line asks for. The defaults are the window's state after start-up.
struct CommandLine {
    Verb verb = kNoVerb;
    bool help = false;     // print the help of the verb (or the general help) and end
    bool version = false;  // print the version and end

    // k samples/s, or "header": the rate the fit files' headers give; "" (not given): the
    // headers' rate where any gives one, else 576
    std::string rate;
    std::string site = MainControls{}.AddedSiteNameEdit;
    std::string logger = MainControls{}.LoggerNumberEdit;
    std::string out;
    std::string minutes;
    std::string linkage;
    std::string preset = "normal";
    std::vector<ControlValue> controls;  // in command-line order
    std::string nameDate;                // --name-date PATTERN ("": the built-in forms)
    int timeSource = 0;                  // --time-source: 0 auto, 1 name, 2 file
    int64_t timeShiftUs = 0;             // --time-shift
    std::vector<std::pair<int64_t, int64_t>> clockErrors;  // --clock-error: (at, error) in us
    bool exactStart = false;                               // --exact-start
    bool noRecordings = false;                             // --no-recordings
    std::string recordings;                                // dump --recordings FILE
    bool raven = false;                                    // dump --raven
    std::string perFile;                                   // dump --per-file DIR
    std::string audacity;                                  // dump --audacity DIR
    bool minutesCsv = false;                               // dump --minutes-csv
    bool toSixteenBit = false;                             // --to-16-bit
    int channel = 0;                                       // --channel N (0: not given)
    bool ignoreHeaders = false;  // convert files whose header says they hold no readable samples
    bool overwrite = false;      // replace files of the names a conversion writes
    bool resume = false;         // keep the complete locations of an earlier run, convert the rest
    int maxGapDays = 31;         // longest gap between recordings written as empty minutes
    bool noDates = false;
    bool noLinkage = false;
    bool graphs = false;
    bool csv = false;
    bool quiet = false;
    std::optional<int> progressMinutes;   // --progress: a line every so many minutes of audio
    std::optional<int> jobs;              // --jobs: location batches at a time
    std::optional<std::string> location;  // --location: only this location's files
    bool locations = false;               // list --locations: the location names only
    std::vector<std::string> operands;    // PATHs, or the TK1 file of dump

    // trains, presence and dump --trains
    bool trains = false;                                             // dump --trains
    std::vector<std::pair<std::string, std::string>> trainSettings;  // --set-train, in order
    std::string minQuality = "moderate";                             // --min-quality
    std::string per = "hour";                                        // presence --per
    int32_t utcOffsetMinutes = 0;                                    // presence --utc-offset
};

// A refusal of the command line: the text after "wavtokeb-cli: ", and the verb whose help
// explains it (kNoVerb: the general help).
struct UsageError {
    std::string text;
    Verb verb = kNoVerb;
};

// Parses the arguments after the program name. Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The whole tool (main.cpp): argv[0] is the program's name; returns the exit status.
int Run(int argc, char** argv);

// "convert", "list", ... ("" for kNoVerb).
const char* VerbName(Verb verb);

// The help of a verb, or the general help for kNoVerb.
std::string HelpText(Verb verb);

// The candidate meant by word: one that differs only in case, else the nearest (edit distance
// at most 2, and less than the word's length), else the few that word begins ("a or b"), else
// the longest that begins word; "" when there is none.
std::string Nearest(std::string_view word, const std::vector<std::string>& candidates);

// The usage line "wavtokeb-cli: TEXT (see wavtokeb-cli [VERB] --help)".
std::string UsageLine(const UsageError& error);

// The verbs and options as the help shows them, for documents made from the same table (the
// manual page and the shell completion).
struct VerbDoc {
    Verb verb;
    std::string Name;
    std::string Operands;  // "PATH...", "FILE.TK1", ""
    std::string Summary;
    std::string Notes;  // "" when the help has none
};
struct OptionDoc {
    std::string Long;       // without the leading "--"
    char Short;             // 0: none
    std::string ValueName;  // "": a flag
    bool ValueOptional;     // the value only as "--name=VALUE"
    unsigned Verbs;
    std::string Help;
};
std::vector<VerbDoc> VerbDocs();
std::vector<OptionDoc> OptionDocs();  // in the order of the help, rows sharing a name apart

}  // namespace wtk::cli
