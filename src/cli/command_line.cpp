#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>
#include <variant>

#include "base/calendar.h"
#include "base/numbers.h"
#include "input/start_times.h"
#include "presence/presence.h"
#include "presence/trains.h"

namespace wtk::cli {
namespace {

// A whole number of at least 1 in decimal digits.
std::optional<int> PositiveNumber(const std::string& text) {
    int n = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, n);
    if (r.ec != std::errc() || r.ptr != end || n < 1) {
        return std::nullopt;
    }
    return n;
}

// Degrees from -limit to limit in decimal notation, for --lat and --lon.
double Degrees(const char* option, const std::string& text, double limit) {
    double v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (text.empty() || r.ec != std::errc() || r.ptr != end || !(v >= -limit && v <= limit)) {
        throw UsageError{std::string(option) + " takes degrees from " +
                         std::to_string(static_cast<int>(-limit)) + " to " +
                         std::to_string(static_cast<int>(limit)) + ", not \"" + text + "\""};
    }
    return v;
}

// --utc-offset of presence and of report: minutes east of UTC.
void SetUtcOffset(CommandLine& c, const std::string& v) {
    const std::optional<int32_t> offset = presence::ParseUtcOffset(v);
    if (!offset) {
        throw UsageError{"--utc-offset takes +HH:MM or -HH:MM (at most 14:00), not \"" + v + "\""};
    }
    c.utcOffsetMinutes = *offset;
}

struct VerbDef {
    Verb verb;
    const char* Name;
    const char* Operands;  // as the usage line shows them
    int MinOperands;
    int MaxOperands;  // -1: any number
    const char* Summary;
    const char* Notes = "";  // after the options
};

constexpr const char* kConversionNotes =
    "The preset is pressed first, wherever it stands; then --set, --ipi-export and --ipi-limit "
    "set their controls in the order given, so the last value given for a control counts. "
    "Exit status: 0 done, 1 ended on an error message, an output (TK1, linkage, IPI export, "
    "--minutes) could not be written or a recording changed after it was listed, or an input (a "
    "file not opened, a directory not searched) was skipped, 2 usage, settings or outputs "
    "refused, 128 + the "
    "signal number when SIGINT, SIGTERM or SIGHUP stopped the conversion at the next minute "
    "end (the minute closed, the TK1 file finished) or a second one aborted it at once, "
    "removing the unfinished files.";

constexpr const char* kPresenceNotes =
    "Clicks are timed by the recordings table beside each TK1 file (its recording's start plus "
    "its offset); without one by the TK1 minute clock, with a warning. A damaged TK1 file, "
    "recordings table or linkage file is refused before anything is written, naming the file "
    "and the place. Exit status: 0 done, 1 an input damaged or unreadable or the output not "
    "written, 2 usage or the output refused.";

// clang-format off
const VerbDef kVerbs[] = {
    {kConvert, "convert", "PATH...", 1, -1,
     "One TK1 file per location, placed by the start times in the file names.",
     kConversionNotes},
    {kScrapbook, "scrapbook", "PATH...", 1, -1,
     "Every file in a new minute from 2000-01-01, one TK1 file per location.",
     kConversionNotes},
    {kList, "list", "PATH...", 1, -1,
     "The file list: header and one line per file on stdout, then the status line."},
    {kDump, "dump", "FILE.TK1", 1, 1,
     "Decodes a TK1 file: header fields and one line per record, one CSV row per click, a "
     "Raven selection table, Audacity label files, or the table of its minutes."},
    {kSettings, "settings", "", 0, 0,
     "Every settings control that --set accepts, one per line: its name, the field it stands "
     "for, its kind, what it accepts and its value after start-up (the \"normal operation\" "
     "preset), or after the preset and controls given."},
    {kTrains, "trains", "PATH...", 1, -1,
     "The click trains of TK1 files (PATH: a TK1 file, or a folder searched with its "
     "sub-folders), every location: one CSV row per train with its times, intervals, "
     "frequency, amplitude, class (nbhf, dolphin, sonar, unclassed), quality, buzz clicks and "
     "encounter.",
     kPresenceNotes},
    {kPresence, "presence", "PATH...", 1, -1,
     "Presence per minute, hour or day at every location of the TK1 files (PATH as for "
     "trains): one CSV row per period and location with the recording effort and the NBHF "
     "and dolphin detection-positive minutes, sonar and buzz minutes, NBHF trains and "
     "encounters; a period without recording has empty counts.",
     kPresenceNotes},
    {kReport, "report", "PATH...", 1, -1,
     "A presence report of the TK1 files (or folders of them): one HTML file, for any browser "
     "offline and for print, with each location's effort and NBHF detection-positive minutes "
     "(DPM), an hour-of-day x date grid of DPM (night shaded with --lat and --lon), daily bars "
     "of DPM with the hours recorded, histograms of the intervals and frequencies of NBHF "
     "clicks and a click-train plot of each of the ten richest encounters.",
     "Exit status: 0 written, 1 a TK1 file, recordings table or linkage file is damaged or "
     "unreadable (the message names it and the place) or the report could not be written, 2 "
     "usage refused or the report is there already (nothing is written then)."},
};
// clang-format on

// One option. Rows may share a name when verbs give it different help texts.
struct OptionDef {
    const char* Long;       // without the leading "--"
    char Short;             // 0: none
    const char* ValueName;  // nullptr: a flag
    bool ValueOptional;     // the value only as "--name=VALUE"
    unsigned Verbs;
    const char* Help;
    void (*Take)(CommandLine& c, const std::string& value);
};

// clang-format off
const OptionDef kOptions[] = {
    {"help", 'h', nullptr, false, kEveryVerb, "show this help and end",
     [](CommandLine& c, const std::string&) { c.help = true; }},
    {"version", 'V', nullptr, false, kEveryVerb, "show the version and end",
     [](CommandLine& c, const std::string&) { c.version = true; }},
    {"quiet", 'q', nullptr, false, kEveryVerb, "no progress lines and no warnings on stderr",
     [](CommandLine& c, const std::string&) { c.quiet = true; }},
    {"rate", 'r', "K", false, kConversions | kList,
     "sample rate in k samples/s (1 ... 2000), or \"header\": the rate that the headers of "
     "the 16-bit PCM mono files give, all the same. Without it the headers' rate is taken "
     "(headers that disagree refuse the conversion); 576 where no header gives one",
     [](CommandLine& c, const std::string& v) { c.rate = v; }},
    {"site", 0, "TEXT", false, kConversions,
     "site name: starts the TK1 file names; may be empty [NewFileName]",
     [](CommandLine& c, const std::string& v) { c.site = v; }},
    {"logger", 0, "TEXT", false, kConversions, "logger ID number stored in the TK1 header",
     [](CommandLine& c, const std::string& v) { c.logger = v; }},
    {"out", 'o', "DIR", false, kConversions,
     "folder for the TK1 files and side files; created (with its parents) when missing",
     [](CommandLine& c, const std::string& v) { c.out = v; }},
    {"name-date", 0, "PATTERN", false, kConversions | kList,
     "take dates and locations from names of this form (see the examples below)",
     [](CommandLine& c, const std::string& v) { c.nameDate = v; }},
    {"time-source", 0, "WHICH", false, kConvert | kList,
     "start times from: auto (the name's where it gives one, else the recording's own: "
     "log.xml, guan, wamd, icmt, bext; the recording's own also where it lies less than 60 s "
     "from the name's, or where its zone's local time is the name's), name (the name's only) "
     "or file (the recording's own where it has one, else the name's) [auto]",
     [](CommandLine& c, const std::string& v) {
         const std::optional<TimeSourceChoice> choice = ParseTimeSourceChoice(v);
         if (!choice) {
             std::string text = "--time-source takes auto, name or file, not \"" + v + "\"";
             const std::string near = Nearest(v, {"auto", "name", "file"});
             if (!near.empty()) text += ", did you mean " + near + "?";
             throw UsageError{text};
         }
         c.timeSource = static_cast<int>(*choice);
     }},
    {"time-shift", 0, "[+-]HH:MM[:SS]", false, kConvert | kList,
     "added to every start time, e.g. -02:00 for a recorder set to UTC+2",
     [](CommandLine& c, const std::string& v) {
         const auto shift = ParseTimeShift(v);
         if (const auto* refusal = std::get_if<std::string>(&shift)) throw UsageError{*refusal};
         c.timeShiftUs = std::get<int64_t>(shift);
     }},
    {"clock-error", 0, "TIME=[+-]SECONDS", false, kConvert | kList,
     "the recorder clock's error (ahead: +) measured at TIME (YYYY-MM-DDThh:mm[:ss]), e.g. at "
     "deployment and at recovery; repeatable. Interpolated linearly between the points, held "
     "beyond them, and subtracted from every start time (after --time-shift)",
     [](CommandLine& c, const std::string& v) {
         const auto point = ParseClockError(v);
         if (const auto* refusal = std::get_if<std::string>(&point)) throw UsageError{*refusal};
         const ClockErrorPoint p = std::get<ClockErrorPoint>(point);
         // Two errors at one instant leave the clock's error there unknown.
         for (const auto& [at, error] : c.clockErrors) {
             if (at == p.AtUs) {
                 throw UsageError{"--clock-error gives two errors at " +
                                  IsoMicroseconds(at).substr(0, 19) +
                                  ": one error per instant"};
             }
         }
         c.clockErrors.emplace_back(p.AtUs, p.ErrorUs);
     }},
    {"exact-start", 0, nullptr, false, kConvert,
     "each recording starts at its start second in the TK1 file (clicks keep their true time), "
     "not at the first tick of its minute; recordings that follow each other within a minute "
     "continue one timeline",
     [](CommandLine& c, const std::string&) { c.exactStart = true; }},
    {"no-recordings", 0, nullptr, false, kConversions,
     "no recordings table (NAME.recordings.csv beside each TK1 file: each recording's path, "
     "exact start, time source, correction, rate, samples, duration and placement)",
     [](CommandLine& c, const std::string&) { c.noRecordings = true; }},
    {"to-16-bit", 0, nullptr, false, kConversions | kList,
     "turn 24- and 32-bit integer, 32-bit float and 8-bit samples (WAV, FLAC) into the 16-bit "
     "samples a 16-bit recorder of the same full scale would have written: integers keep their "
     "top 16 bits, floats x 32768 rounded and clipped, 8-bit (x - 128) x 256",
     [](CommandLine& c, const std::string&) { c.toSixteenBit = true; }},
    {"channel", 0, "N", false, kConversions | kList,
     "convert channel N (from 1) of recordings with several channels; files with fewer than N "
     "channels are refused",
     [](CommandLine& c, const std::string& v) {
         const std::optional<int> n = PositiveNumber(v);
         if (!n || *n > 65535) {
             throw UsageError{"--channel takes a channel number from 1, not \"" + v + "\""};
         }
         c.channel = *n;
     }},
    {"ignore-headers", 0, nullptr, false, kConversions,
     "convert files whose header says they hold no samples the converter can read (their bytes "
     "are read as 16-bit mono samples)",
     [](CommandLine& c, const std::string&) { c.ignoreHeaders = true; }},
    {"overwrite", 0, nullptr, false, kConversions,
     "replace the files of the names the conversion writes (TK1, source linkage, IPI export, "
     "--minutes); without it nothing is converted when any of them is there already, and no file "
     "another run writes meanwhile is replaced. Each file is replaced whole when it is complete "
     "and its batch has succeeded: a batch that fails keeps every earlier file",
     [](CommandLine& c, const std::string&) { c.overwrite = true; }},
    {"resume", 0, nullptr, false, kConversions,
     "go on with an earlier run into the same --out folder (killed, stopped or failed part of "
     "the way): each location is converted as a batch of its own, as with --jobs; a location "
     "whose files are complete is kept (one line on stderr, its summary line as before), the "
     "others are converted and the files an unfinished run left of them replaced. A location "
     "whose files are of other recordings or settings is converted again only with "
     "--overwrite. Not with --minutes or --no-recordings",
     [](CommandLine& c, const std::string&) { c.resume = true; }},
    {"max-gap-days", 0, "N", false, kConversions,
     "the longest time without recordings, in days, that a TK1 file holds as empty minutes "
     "between two of its files; a longer gap refuses the conversion [31]",
     [](CommandLine& c, const std::string& v) {
         const std::optional<int> n = v == "0" ? 0 : PositiveNumber(v);
         if (!n) {
             throw UsageError{"--max-gap-days takes a whole number of days, not \"" + v + "\""};
         }
         c.maxGapDays = *n;
     }},
    {"no-dates", 0, nullptr, false, kConversions | kList,
     "do not take locations and dates from file names",
     [](CommandLine& c, const std::string&) { c.noDates = true; }},
    {"no-linkage", 0, nullptr, false, kConversions, "no source linkage file",
     [](CommandLine& c, const std::string&) { c.noLinkage = true; }},
    {"graphs", 0, nullptr, false, kConversions,
     "\"show graphs\" ticked (it also skips blocks of little raw activity)",
     [](CommandLine& c, const std::string&) { c.graphs = true; }},
    {"preset", 0, "NAME", false, kConversions | kSettings,
     "settings preset normal, severe or minimal, pressed before the controls are set [normal]",
     [](CommandLine& c, const std::string& v) {
         if (v != "normal" && v != "severe" && v != "minimal") {
             std::string text = "--preset takes normal, severe or minimal, not \"" + v + "\"";
             const std::string near = Nearest(v, {"normal", "severe", "minimal"});
             if (!near.empty()) text += ", did you mean " + near + "?";
             throw UsageError{text};
         }
         c.preset = v;
     }},
    {"set", 0, "CONTROL=TEXT", false, kConversions | kSettings,
     "a settings control by its name, e.g. MinNcycFedit=4, FixedScalerEdit=0.002, "
     "GainControlGroup=1 (wavtokeb-cli settings lists them; repeatable, a control set twice "
     "keeps the last value)",
     [](CommandLine& c, const std::string& v) {
         const size_t eq = v.find('=');
         if (eq == std::string::npos) throw UsageError{"--set takes CONTROL=TEXT, not \"" + v + "\""};
         c.controls.push_back({v.substr(0, eq), v.substr(eq + 1), "--set"});
     }},
    {"ipi-export", 0, nullptr, false, kConversions | kSettings,
     "write the IPI export file of every peak: --set MakeIPIexportFile=1",
     [](CommandLine& c, const std::string&) {
         c.controls.push_back({"MakeIPIexportFile", "1", "--ipi-export"});
     }},
    {"ipi-limit", 0, "N", false, kConversions | kSettings,
     "line limit of the IPI export file: --set IPIFileLineLimitEdit=N [10000]",
     [](CommandLine& c, const std::string& v) {
         c.controls.push_back({"IPIFileLineLimitEdit", v, "--ipi-limit"});
     }},
    {"minutes", 0, "FILE", false, kConversions,
     "write the per-minute lines to FILE; refused for one of the recordings, a WAV file or a "
     "name ending in .wav",
     [](CommandLine& c, const std::string& v) { c.minutes = v; }},
    {"jobs", 'j', "N", false, kConversions,
     "convert the locations as separate batches, N at a time. Each TK1 file then depends only "
     "on its own location's recordings: one batch carries gain and threshold "
     "from one location's file to the next, so its files differ slightly. The texts come out "
     "in location order; the exit status is the worst of the batches",
     [](CommandLine& c, const std::string& v) {
         const std::optional<int> n = PositiveNumber(v);
         if (!n) throw UsageError{"--jobs takes a whole number of at least 1, not \"" + v + "\""};
         c.jobs = n;
     }},
    {"location", 0, "NAME", false, kConversions | kList,
     "only the files of location NAME, as list --locations prints it",
     [](CommandLine& c, const std::string& v) { c.location = v; }},
    {"locations", 0, nullptr, false, kList,
     "the location names instead of the file list, one per line (LF)",
     [](CommandLine& c, const std::string&) { c.locations = true; }},
    {"progress", 0, "N", true, kConversions,
     "progress lines on stderr, also when it is no terminal: one per file and one every N "
     "minutes of audio (file i of n, minutes done of the total, x real time, ETA) [10]",
     [](CommandLine& c, const std::string& v) {
         const std::optional<int> n = v.empty() ? 10 : PositiveNumber(v);
         if (!n) {
             throw UsageError{"--progress takes a whole number of at least 1, not \"" + v + "\""};
         }
         c.progressMinutes = n;
     }},
    {"csv", 0, nullptr, false, kDump,
     "one CSV row per click with its date and time, and with its source_wav and offset_s "
     "(seconds from the start of that file's samples) where a source linkage file is found",
     [](CommandLine& c, const std::string&) { c.csv = true; }},
    {"raven", 0, nullptr, false, kDump,
     "a Raven selection table (tab-separated, for a .txt file): one selection per click with "
     "its file, its second there and its fields; Begin Time (s) counts over the TK1 file's "
     "recordings played one after another",
     [](CommandLine& c, const std::string&) { c.raven = true; }},
    {"per-file", 0, "DIR", false, kDump,
     "with --raven: one table per recording instead, NAME.Table.1.selections.txt in DIR "
     "(created when missing), Begin Time (s) counting from the start of the recording; one "
     "line per table written on stdout",
     [](CommandLine& c, const std::string& v) { c.perFile = v; }},
    {"audacity", 0, "DIR", false, kDump,
     "one Audacity label file per recording, NAME.txt in DIR (created when missing): start, "
     "end and \"Pmax kHz\" of each click in seconds from the start of the recording; one line "
     "per file written on stdout",
     [](CommandLine& c, const std::string& v) { c.audacity = v; }},
    {"minutes-csv", 0, nullptr, false, kDump,
     "one CSV row per minute of the TK1 file: minute, recorded_s (seconds of recording in it, "
     "0 in a gap; from the recordings table), clicks, and its minute record's scaler and "
     "threshold",
     [](CommandLine& c, const std::string&) { c.minutesCsv = true; }},
    {"overwrite", 0, nullptr, false, kDump,
     "replace the files of the names --per-file and --audacity write; without it nothing is "
     "written when any of them is there already",
     [](CommandLine& c, const std::string&) { c.overwrite = true; }},
    {"linkage", 0, "FILE", false, kDump,
     "the source linkage file for every output but the text dump [the TK1 file's name with "
     ".txt, beside it]",
     [](CommandLine& c, const std::string& v) { c.linkage = v; }},
    {"recordings", 0, "FILE", false, kDump,
     "the recordings table for every output but the text dump: --csv adds each click's "
     "recording_time (its recording's start plus offset_s) [the TK1 file's name with "
     ".recordings.csv, beside it]",
     [](CommandLine& c, const std::string& v) { c.recordings = v; }},
    {"csv", 0, nullptr, false, kList,
     "one CSV row per file: start (ISO 8601 to the microsecond, Z where the zone is known), "
     "time_source, duration_s, location, group (its TK1 file, 1, 2, ...) and path; the status "
     "line goes to stderr",
     [](CommandLine& c, const std::string&) { c.csv = true; }},
    {"csv", 0, nullptr, false, kSettings, "a CSV table instead of aligned columns",
     [](CommandLine& c, const std::string&) { c.csv = true; }},
    {"trains", 0, nullptr, false, kDump,
     "with --csv: each click's train (its number as trains gives it for the file) and class, "
     "empty for a click in no train",
     [](CommandLine& c, const std::string&) { c.trains = true; }},
    {"out", 'o', "FILE", false, kTrains | kPresence,
     "write the table to FILE, which takes its name only when it is complete; refused when "
     "FILE is there already (unless --overwrite) [standard output]",
     [](CommandLine& c, const std::string& v) { c.out = v; }},
    {"overwrite", 0, nullptr, false, kTrains | kPresence,
     "replace FILE of --out, once the table is complete",
     [](CommandLine& c, const std::string&) { c.overwrite = true; }},
    {"per", 0, "PERIOD", false, kPresence, "minute, hour or day [hour]",
     [](CommandLine& c, const std::string& v) {
         if (!presence::ParsePeriod(v)) {
             throw UsageError{"--per takes minute, hour or day, not \"" + v + "\""};
         }
         c.per = v;
     }},
    {"utc-offset", 0, "+-HH:MM", false, kPresence,
     "periods follow the clock of this offset from UTC: hours and days begin at its hh:00 and "
     "00:00, and period_start is written with it, e.g. +02:00 [Z]",
     SetUtcOffset},
    {"out", 'o', "FILE", false, kReport, "the report's file, e.g. report.html",
     [](CommandLine& c, const std::string& v) { c.out = v; }},
    {"lat", 0, "DEGREES", false, kReport,
     "latitude of the recordings in degrees, north positive (-90 ... 90); with --lon the night "
     "is shaded in the hour-of-day x date grid",
     [](CommandLine& c, const std::string& v) { c.latitude = Degrees("--lat", v, 90); }},
    {"lon", 0, "DEGREES", false, kReport,
     "longitude of the recordings in degrees, east positive (-180 ... 180); with --lat",
     [](CommandLine& c, const std::string& v) { c.longitude = Degrees("--lon", v, 180); }},
    {"utc-offset", 0, "+-HH:MM", false, kReport,
     "hours and days of the report in the clock this far east of UTC, e.g. +02:00 or -03:30 "
     "(at most 14:00 either way) [Z: UTC]",
     SetUtcOffset},
    {"overwrite", 0, nullptr, false, kReport,
     "replace a file of the report's name (whole, once the new report is complete); without it "
     "nothing is written when one is there",
     [](CommandLine& c, const std::string&) { c.overwrite = true; }},
    {"min-quality", 0, "QUALITY", false, kTrains | kPresence | kDump | kReport,
     "the least quality (low, moderate or high) of the trains that count: in presence, and in "
     "encounters [moderate]",
     [](CommandLine& c, const std::string& v) {
         if (!presence::ParseQuality(v)) {
             std::string text = "--min-quality takes low, moderate or high, not \"" + v + "\"";
             const std::string near = Nearest(v, {"low", "moderate", "high"});
             if (!near.empty()) text += ", did you mean " + near + "?";
             throw UsageError{text};
         }
         c.minQuality = v;
     }},
    {"set-train", 0, "NAME=VALUE", false, kTrains | kPresence | kDump | kReport,
     "a threshold of the train rules by its name, e.g. MinClicks=8 (repeatable; the README and "
     "wavtokeb-cli trains --help list them)",
     [](CommandLine& c, const std::string& v) {
         const size_t eq = v.find('=');
         if (eq == std::string::npos) {
             throw UsageError{"--set-train takes NAME=VALUE, not \"" + v + "\""};
         }
         presence::TrainOptions probe;
         std::string error;
         if (!presence::SetTrainOption(probe, v.substr(0, eq), v.substr(eq + 1), error)) {
             std::vector<std::string> names;
             for (const presence::TrainOptionDef& d : presence::TrainOptionDefs()) {
                 names.emplace_back(d.Name);
             }
             const std::string near = Nearest(v.substr(0, eq), names);
             if (!near.empty() && error.starts_with("unknown")) {
                 error += ", did you mean " + near + "?";
             }
             throw UsageError{"--set-train: " + error};
         }
         c.trainSettings.emplace_back(v.substr(0, eq), v.substr(eq + 1));
     }},
};
// clang-format on

const VerbDef* FindVerb(std::string_view name) {
    for (const VerbDef& v : kVerbs) {
        if (name == v.Name) return &v;
    }
    return nullptr;
}

const VerbDef& DefOf(Verb verb) {
    for (const VerbDef& v : kVerbs) {
        if (v.verb == verb) return v;
    }
    return kVerbs[0];
}

// The option named so that the verb takes it; else any row of that name (the verb does not
// take it); else nullptr.
const OptionDef* FindLong(std::string_view name, Verb verb) {
    const OptionDef* any = nullptr;
    for (const OptionDef& o : kOptions) {
        if (name != o.Long) continue;
        if ((o.Verbs & verb) != 0) return &o;
        if (any == nullptr) any = &o;
    }
    return any;
}

const OptionDef* FindShort(char name, Verb verb) {
    const OptionDef* any = nullptr;
    for (const OptionDef& o : kOptions) {
        if (o.Short != name) continue;
        if ((o.Verbs & verb) != 0) return &o;
        if (any == nullptr) any = &o;
    }
    return any;
}

std::vector<std::string> OptionNames(Verb verb) {
    std::vector<std::string> names;
    for (const OptionDef& o : kOptions) {
        if ((o.Verbs & verb) != 0) names.push_back(std::string("--") + o.Long);
    }
    return names;
}

std::string OptionText(const OptionDef& o) {
    return std::string("--") + o.Long;
}

void CheckTakenBy(const OptionDef& o, const std::string& given, Verb verb) {
    if ((o.Verbs & verb) == 0) {
        throw UsageError{std::string(VerbName(verb)) + " takes no option " + given, verb};
    }
}

size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

constexpr size_t kHelpColumns = 79;

// text broken at blanks into lines of at most columns characters, the lines after the first
// indented by indent blanks (which the first line's start is taken to occupy).
std::string Wrapped(std::string_view text, size_t indent, size_t columns) {
    std::string out;
    size_t used = indent;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(pos, end - pos);
        if (used > indent && used + 1 + word.size() > columns) {
            out += "\n" + std::string(indent, ' ');
            used = indent;
        } else if (used > indent) {
            out += ' ';
            ++used;
        }
        out += word;
        used += word.size();
        pos = end + 1;
    }
    return out;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    CommandLine Parse() {
        if (args_.empty()) {
            throw UsageError{
                "a command is required: convert, scrapbook, list, dump, settings, trains, "
                "presence or report"};
        }
        const std::string& first = args_[0];
        if (first == "-h" || first == "--help") {
            c_.help = true;
            return c_;
        }
        if (first == "-V" || first == "--version") {
            c_.version = true;
            return c_;
        }
        if (first == "help") {
            c_.help = true;
            if (args_.size() > 1) c_.verb = VerbNamed(args_[1]);
            return c_;
        }
        if (first.starts_with("-")) {
            // A mistyped --help or --version, else an option given before the command.
            const std::string near = first.starts_with("--")
                                         ? Nearest(first, {"--help", "--version"})
                                     : first == "-v" ? "-V"
                                                     : "";
            if (!near.empty()) {
                throw UsageError{"unknown option " + first + ", did you mean " + near + "?"};
            }
            throw UsageError{"the command comes first: wavtokeb-cli COMMAND [options], not " +
                             first};
        }
        c_.verb = VerbNamed(first);
        for (i_ = 1; i_ < args_.size() && !c_.help && !c_.version; ++i_) {
            const std::string& a = args_[i_];
            if (optionsEnded_ || a == "-" || !a.starts_with("-")) {
                c_.operands.push_back(a);
            } else if (a == "--") {
                optionsEnded_ = true;
            } else if (a.starts_with("--")) {
                LongOption(a);
            } else {
                ShortOptions(a);
            }
        }
        if (c_.help || c_.version) return c_;
        CheckOperands();
        if (c_.quiet && c_.progressMinutes) {
            throw UsageError{"-q (--quiet) and --progress exclude each other", c_.verb};
        }
        if (c_.csv && c_.locations) {
            throw UsageError{"--csv and --locations exclude each other", c_.verb};
        }
        // A resumed run writes the minute lines of the locations it converts only, and tells a
        // complete location by its recordings table.
        if (c_.resume && !c_.minutes.empty()) {
            throw UsageError{"--resume and --minutes exclude each other", c_.verb};
        }
        if (c_.resume && c_.noRecordings) {
            throw UsageError{"--resume needs the recordings tables: not with --no-recordings",
                             c_.verb};
        }
        return c_;
    }

private:
    Verb VerbNamed(const std::string& name) {
        if (const VerbDef* v = FindVerb(name)) return v->verb;
        std::vector<std::string> names;
        for (const VerbDef& v : kVerbs) names.emplace_back(v.Name);
        names.emplace_back("help");
        std::string text = "unknown command \"" + name + "\"";
        const std::string near = Nearest(name, names);
        text += near.empty() ? ": the commands are convert, scrapbook, list, dump, settings, "
                               "trains, presence and report"
                             : ", did you mean " + near + "?";
        throw UsageError{text};
    }

    void LongOption(const std::string& a) {
        const size_t eq = a.find('=');
        const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionDef* o = FindLong(name, c_.verb);
        if (o == nullptr) {
            const std::string given = "--" + name;
            std::string text = "unknown option " + given + " for " + std::string(VerbName(c_.verb));
            const std::string near = Nearest(given, OptionNames(c_.verb));
            if (!near.empty()) text += ", did you mean " + near + "?";
            throw UsageError{text, c_.verb};
        }
        CheckTakenBy(*o, OptionText(*o), c_.verb);
        if (o->ValueName == nullptr) {
            if (eq != std::string::npos)
                throw UsageError{OptionText(*o) + " takes no value", c_.verb};
            o->Take(c_, {});
        } else if (eq != std::string::npos) {
            Take(*o, a.substr(eq + 1));
        } else if (o->ValueOptional) {
            o->Take(c_, {});
        } else {
            Take(*o, NextValue(*o, OptionText(*o)));
        }
    }

    void ShortOptions(const std::string& a) {
        for (size_t k = 1; k < a.size(); ++k) {
            const std::string given = std::string("-") + a[k];
            const OptionDef* o = FindShort(a[k], c_.verb);
            if (o == nullptr) {
                std::string text = "unknown option " + given + " for " + VerbName(c_.verb);
                // A short option is one letter: the nearest is the same letter in the other
                // case.
                for (const OptionDef& d : kOptions) {
                    if (d.Short != 0 && (d.Verbs & c_.verb) != 0 &&
                        std::tolower(static_cast<unsigned char>(d.Short)) ==
                            std::tolower(static_cast<unsigned char>(a[k]))) {
                        text += std::string(", did you mean -") + d.Short + "?";
                        break;
                    }
                }
                throw UsageError{text, c_.verb};
            }
            CheckTakenBy(*o, given, c_.verb);
            if (o->ValueName == nullptr || o->ValueOptional) {
                o->Take(c_, {});
                if (c_.help || c_.version) return;
                continue;
            }
            // The rest of the word is the value, or else the next argument.
            Take(*o, k + 1 < a.size() ? a.substr(k + 1) : NextValue(*o, given));
            return;
        }
    }

    const std::string& NextValue(const OptionDef& o, const std::string& given) {
        if (i_ + 1 >= args_.size()) {
            throw UsageError{given + " needs a value: " + given + " " + o.ValueName, c_.verb};
        }
        return args_[++i_];
    }

    void Take(const OptionDef& o, const std::string& value) {
        try {
            o.Take(c_, value);
        } catch (UsageError& e) {
            e.verb = c_.verb;
            throw;
        }
    }

    void CheckOperands() {
        const VerbDef& v = DefOf(c_.verb);
        const int n = static_cast<int>(c_.operands.size());
        if (n < v.MinOperands) {
            throw UsageError{std::string(v.Name) + " needs " + v.Operands, c_.verb};
        }
        if (v.MaxOperands >= 0 && n > v.MaxOperands) {
            throw UsageError{std::string(v.Name) + " takes " +
                                 (v.MaxOperands == 0 ? std::string("no operand")
                                                     : std::string("one ") + v.Operands) +
                                 ", not " + std::to_string(n) + ": " + c_.operands.back(),
                             c_.verb};
        }
    }

    const std::vector<std::string>& args_;
    size_t i_ = 0;
    bool optionsEnded_ = false;
    CommandLine c_;
};

constexpr const char* kGeneralHelp =
    "Usage: wavtokeb-cli COMMAND [options] OPERAND...\n"
    "Converts recordings of underwater sound (.wav, .flac) into TK1 click-data files.\n\n"
    "  wavtokeb-cli convert   [options] PATH...   one TK1 file per location, placed by the\n"
    "                                             start times in the file names\n"
    "  wavtokeb-cli scrapbook [options] PATH...   every file in a new minute from 2000-01-01\n"
    "  wavtokeb-cli list      [options] PATH...   the file list: header and one line per file\n"
    "                                             on stdout, then the status line; --locations:\n"
    "                                             the location names, one per line\n"
    "  wavtokeb-cli dump      [options] FILE.TK1  decode a TK1 file: header fields and one line\n"
    "                                             per record; --csv: one row per click\n"
    "  wavtokeb-cli settings  [options]           every settings control that --set accepts\n"
    "  wavtokeb-cli trains    [options] PATH...   the click trains of TK1 files: one CSV row\n"
    "                                             per train\n"
    "  wavtokeb-cli presence  [options] PATH...   detection-positive minutes with the\n"
    "                                             recording effort per minute, hour or day\n"
    "  wavtokeb-cli report    [options] PATH...   a presence report of TK1 files: one HTML\n"
    "                                             file of figures, -o FILE\n\n"
    "wavtokeb-cli COMMAND --help lists the options of a command; -h, --help and -V, --version\n"
    "work everywhere.\n\n"
    "PATH: a file is taken as it is; a directory is searched with all its sub-directories for\n"
    "names ending in .wav or .flac (any case) of more than 1000 bytes.\n"
    "Many locations: convert and scrapbook --jobs N convert each location as a batch of its\n"
    "own, N at a time, so that each TK1 file depends only on its own location's recordings\n"
    "(one batch carries gain and threshold from one location's file to the next).\n"
    "--location NAME keeps one location's files: one run per location, say on the\n"
    "machines of a cluster, gives the same files as --jobs.\n"
    "stdout: the TK1 file summary (convert, scrapbook) with CR LF line ends. stderr: the\n"
    "messages, one line each. Exit status: 0 done, 1 ended on an error message, an output\n"
    "could not be written, a recording changed after it was listed, or an input was skipped\n"
    "(a file not opened, a directory not searched), 2 usage, settings or outputs refused.\n"
    "SIGINT, SIGTERM or SIGHUP stops a conversion at the next minute end, with the minute\n"
    "closed and the TK1 file finished (exit status 128 + the signal number); a second one\n"
    "aborts at once and removes the unfinished files.\n";

constexpr const char* kNameDateHelp =
    "\nFile names: Location.yyyymmddhhmmss.wav gives the location and the start minute; where it\n"
    "gives none, LOCATION_YYYYMMDD_HHMMSS[_...] and YYYYMMDD_HHMMSS[_...] (the folder's name as\n"
    "the location) do. Where the name gives no date, the recording's own start is taken: a\n"
    "NAME.log.xml beside it, or its guan, wamd, LIST/INFO ICMT or bext chunk (--time-source).\n"
    "Other names: --name-date PATTERN, matched against the name without its extension,\n"
    "with %Y (4 digits), %y (2 digits, 2000-2099), %m %d %H %M %S (2 digits), {location} (the\n"
    "location), * (any text); without {location} the folder's name is the location:\n"
    "  PAM_20210610_033655_123.wav       --name-date '{location}_%Y%m%d_%H%M%S*'\n"
    "  channelA_2021-10-11_13-11-09.wav  --name-date '{location}_%Y-%m-%d_%H-%M-%S'\n"
    "  20190527_190000.wav               --name-date '%Y%m%d_%H%M%S'\n"
    "An XWAV file is one recording per raw file of its harp chunk (PATH#N, at its own start).\n"
    "The header of every file (WAV or FLAC) is read: other samples than 16-bit ones are\n"
    "converted with --to-16-bit, one channel of several with --channel N, and refused without\n"
    "them (convert, scrapbook); a file that holds no samples the converter can read is refused\n"
    "unless --ignore-headers is given; a header rate other than --rate gives a warning.\n";

// The thresholds --set-train takes, with their values by default.
std::string TrainSettingsHelp() {
    const presence::TrainOptions defaults;
    std::string text = "\nTrain rules (--set-train NAME=VALUE) [default]:\n";
    size_t width = 0;
    for (const presence::TrainOptionDef& d : presence::TrainOptionDefs()) {
        width = std::max(width, d.Name.size());
    }
    for (const presence::TrainOptionDef& d : presence::TrainOptionDefs()) {
        std::string value = FixedText(defaults.*d.Field, 3);
        while (value.ends_with('0')) value.pop_back();
        if (value.ends_with('.')) value.pop_back();
        const std::string help = std::string(d.Help) + " [" + value + "]";
        text += "  " + std::string(d.Name) + std::string(width + 2 - d.Name.size(), ' ') +
                Wrapped(help, width + 4, kHelpColumns) + "\n";
    }
    return text;
}

}  // namespace

const char* VerbName(Verb verb) {
    return verb == kNoVerb ? "" : DefOf(verb).Name;
}

std::string Nearest(std::string_view word, const std::vector<std::string>& candidates) {
    auto lower = [](std::string_view s) {
        std::string l(s);
        for (char& ch : l) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return l;
    };
    const std::string folded = lower(word);
    for (const std::string& c : candidates) {
        if (lower(c) == folded) return c;  // typed in the wrong case
    }
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& c : candidates) {
        const size_t d = EditDistance(word, c);
        if (d < bestDistance && d < word.size()) {
            best = c;
            bestDistance = d;
        }
    }
    if (!best.empty()) return best;
    // A shortened name ("--prog", "scrap"): every name it begins, when there are few.
    const size_t letters = word.size() - std::min(word.find_first_not_of('-'), word.size());
    std::vector<std::string> begun;
    for (const std::string& c : candidates) {
        if (letters >= 2 && c.size() > word.size() && c.starts_with(word)) begun.push_back(c);
    }
    if (!begun.empty() && begun.size() <= 3) {
        std::string text = begun[0];
        for (size_t i = 1; i < begun.size(); ++i) {
            text += (i + 1 == begun.size() ? " or " : ", ") + begun[i];
        }
        return text;
    }
    // A name with something added ("--output", "--outdir"): the longest name it begins with.
    for (const std::string& c : candidates) {
        const size_t cLetters = c.size() - std::min(c.find_first_not_of('-'), c.size());
        if (cLetters >= 3 && word.starts_with(c) && c.size() > best.size()) best = c;
    }
    return best;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    return Parser(args).Parse();
}

std::string HelpText(Verb verb) {
    if (verb == kNoVerb) return std::string(kGeneralHelp) + kNameDateHelp;
    const VerbDef& v = DefOf(verb);
    std::string text = std::string("Usage: wavtokeb-cli ") + v.Name + " [options]" +
                       (v.Operands[0] != '\0' ? " " : "") + v.Operands + "\n" +
                       Wrapped(v.Summary, 0, kHelpColumns) + "\n\nOptions:\n";
    std::vector<std::pair<std::string, const char*>> rows;
    size_t width = 0;
    for (const OptionDef& o : kOptions) {
        if ((o.Verbs & verb) == 0) continue;
        std::string left = o.Short != 0 ? std::string("-") + o.Short + ", " : "    ";
        left += OptionText(o);
        if (o.ValueName != nullptr) {
            left += o.ValueOptional ? std::string("[=") + o.ValueName + "]"
                                    : std::string(" ") + o.ValueName;
        }
        width = std::max(width, left.size());
        rows.emplace_back(std::move(left), o.Help);
    }
    for (const auto& [left, help] : rows) {
        text += "  " + left + std::string(width + 2 - left.size(), ' ') +
                Wrapped(help, width + 4, kHelpColumns) + "\n";
    }
    if (v.Notes[0] != '\0') text += std::string("\n") + Wrapped(v.Notes, 0, kHelpColumns) + "\n";
    if ((verb & (kConversions | kList)) != 0) text += kNameDateHelp;
    if ((verb & (kTrains | kPresence)) != 0) text += TrainSettingsHelp();
    return text;
}

std::vector<VerbDoc> VerbDocs() {
    std::vector<VerbDoc> docs;
    for (const VerbDef& v : kVerbs)
        docs.push_back({v.verb, v.Name, v.Operands, v.Summary, v.Notes});
    return docs;
}

std::vector<OptionDoc> OptionDocs() {
    std::vector<OptionDoc> docs;
    for (const OptionDef& o : kOptions) {
        docs.push_back({o.Long, o.Short, o.ValueName != nullptr ? o.ValueName : "", o.ValueOptional,
                        o.Verbs, o.Help});
    }
    return docs;
}

std::string UsageLine(const UsageError& error) {
    std::string see = "wavtokeb-cli ";
    if (error.verb != kNoVerb) see += std::string(VerbName(error.verb)) + " ";
    return "wavtokeb-cli: " + error.text + " (see " + see + "--help)";
}

}  // namespace wtk::cli
