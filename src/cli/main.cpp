// wavtokeb-cli: the converter without a window, for archives on machines without a display.
//
//   wavtokeb-cli convert   [options] PATH...   the per-location conversion
//   wavtokeb-cli scrapbook [options] PATH...   the scrapbook conversion
//   wavtokeb-cli list      [options] PATH...   the file list of the selection only
//   wavtokeb-cli dump      [options] FILE.TK1  decode a TK1 file
//   wavtokeb-cli trains    [options] PATH...   the click trains of TK1 files
//   wavtokeb-cli presence  [options] PATH...   presence per period with its effort
//
// stdout carries the memo texts with CR LF line ends; stderr carries the message-box texts and
// the date/time failure texts, one line each (a progress line is added on a terminal), and the
// tool's own refusals and warnings, each starting "wavtokeb-cli: ". Exit status: 0 done, 1 the
// conversion did not do all it was asked (an error message, an output not written, a recording
// that changed, an input skipped: the kinds of the core's reports say which), 2 usage,
// settings or outputs refused, 128 + the signal number when SIGINT, SIGTERM or SIGHUP stopped
// the batch at a minute end (or the listing before anything was converted), or when a second
// one aborted it.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/numbers.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "cli/cli_host.h"
#include "cli/command_line.h"
#include "cli/listings.h"
#include "cli/presence_verbs.h"
#include "cli/tk1_dump.h"
#include "input/dir_search.h"
#include "input/format_check.h"
#include "input/location_groups.h"
#include "input/selection.h"
#include "session/location_batches.h"
#include "session/progress.h"
#include "session/session.h"

#ifndef WTK_VERSION
#define WTK_VERSION "0"
#endif

namespace wtk::cli {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

// The settings window's state: the preset first, wherever it stood, then the controls in
// command-line order, so that the last value given for a control counts.
void SetControls(SettingsForm& form, const CommandLine& c) {
    if (c.preset == "severe") {
        form.SevereNoiseSettingsBtnClick();
    } else if (c.preset == "minimal") {
        form.MinimalNoiseSettingsBtnClick();
    } else {
        form.DefaultSettingsBtnClick();
    }
    for (const ControlValue& v : c.controls) {
        const ControlDef* def = SettingsForm::Find(v.Name);
        if (def == nullptr) {
            std::vector<std::string> names;
            for (const ControlDef& d : SettingsForm::Controls()) names.emplace_back(d.Name);
            std::string text = "unknown settings control \"" + v.Name + "\" in " + v.Option;
            const std::string near = Nearest(v.Name, names);
            if (!near.empty()) text += ", did you mean " + near + "?";
            throw UsageError{text, c.verb};
        }
        if (!SettingsForm::Accepts(*def, v.Value)) {
            throw UsageError{v.Option + ": " + ControlText(*def) + " takes " + AcceptedText(*def) +
                                 ", not \"" + v.Value + "\"",
                             c.verb};
        }
        form.Set(v.Name, v.Value);
    }
}

// The nearest existing folder above path (path itself when it exists).
std::filesystem::path ExistingAncestor(std::filesystem::path path) {
    std::error_code ec;
    while (!path.empty() && !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        const std::filesystem::path parent = path.parent_path();
        if (parent == path) break;
        path = parent;
    }
    return path.empty() ? std::filesystem::path(".") : path;
}

void CheckPaths(const CommandLine& c) {
    if ((c.verb & kConversions) != 0) {
        if (c.out.empty()) {
            throw UsageError{std::string(VerbName(c.verb)) + " needs --out DIR", c.verb};
        }
        // A missing folder is created when the conversion starts; here only what cannot
        // become one is refused.
        const std::filesystem::path base = ExistingAncestor(c.out);
        struct stat st {};
        if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            throw UsageError{base == std::filesystem::path(c.out)
                                 ? "--out " + c.out + " is not a directory"
                                 : "--out " + c.out + " cannot be created: " + base.string() +
                                       " is not a directory",
                             c.verb};
        }
    }
    for (const std::string& p : c.operands) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) throw UsageError{p + " does not exist", c.verb};
    }
}

// The sample-rate refusal, with the unit spelt out for a value given in samples per second.
std::string RateRefusal(const std::string& refusal, const std::string& rate) {
    std::string text = "wavtokeb-cli: " + refusal;
    const std::optional<int32_t> value = ParseInt32(rate);
    if (value && *value > SampleRate::kMaxKsps) {
        text += "; the unit is k samples/s";
        if (*value % 1000 == 0 && *value / 1000 <= SampleRate::kMaxKsps) {
            text += ": " + rate + " samples/s is --rate " + std::to_string(*value / 1000);
        }
    }
    return text;
}

ReadOptions ReadOptionsOf(const CommandLine& c) {
    return {c.toSixteenBit, c.channel};
}

void SetMainControls(Session& session, const CommandLine& c);

// The rate of headers, as RateFromHeaders takes it; empty when no header fits the converter.
std::optional<std::variant<int32_t, std::string>> RateOf(const std::vector<WavHeader>& headers,
                                                         const std::vector<std::string>& names,
                                                         const CommandLine& c) {
    const bool anyFit = std::any_of(headers.begin(), headers.end(), [&](const WavHeader& h) {
        return ClassifyRecording(h, ReadOptionsOf(c)) == FormatFit::Fit;
    });
    if (!anyFit) return std::nullopt;
    return RateFromHeaders(headers, names, ReadOptionsOf(c));
}

// The batch rate from the headers of the files the operands stand for (those read with the
// choices given); empty when no file has such a header to take it from.
std::optional<std::variant<int32_t, std::string>> RateOfHeaders(const CommandLine& c) {
    std::vector<WavHeader> headers;
    std::vector<std::string> names;
    for (const std::string& path : ExpandSelectionPaths(c.operands)) {
        if (std::optional<WavHeader> h = OpenedFileHeader(path)) {
            headers.push_back(*h);
            names.push_back(path);
        }
    }
    return RateOf(headers, names, c);
}

// The locations of the files the operands stand for, as a listing without texts finds them
// (the location does not depend on the rate, which is the one of old here).
std::vector<LocationGroup> LocationsOf(const CommandLine& c) {
    NullHost quiet;
    Session listing(quiet);
    listing.Start();
    SetMainControls(listing, c);
    listing.SelectPaths(c.operands, c.location ? &*c.location : nullptr);
    return SplitIntoLocations(listing.WavFileRecs);
}

// The rate the headers of one location's files give.
std::optional<std::variant<int32_t, std::string>> RateOfLocation(const CommandLine& c,
                                                                 const LocationGroup& group) {
    std::vector<WavHeader> headers;
    std::vector<std::string> names;
    for (const WavFileRec& rec : group.Recs) {
        headers.push_back(rec.Header);
        names.push_back(rec.Path());
    }
    return RateOf(headers, names, c);
}

// The rates the fit headers of some files give, each once.
std::vector<uint32_t> RatesOf(const WavFileRecTable& recs, const CommandLine& c) {
    std::vector<uint32_t> rates;
    for (const WavFileRec& rec : recs) {
        if (ClassifyRecording(rec.Header, ReadOptionsOf(c)) != FormatFit::Fit) continue;
        if (std::find(rates.begin(), rates.end(), rec.Header.SampleRate) == rates.end()) {
            rates.push_back(rec.Header.SampleRate);
        }
    }
    return rates;
}

// What a conversion refused for the headers' rate can do instead. Where they give different
// rates: each location in a run of its own where every location's files share one rate, else
// the files of each rate apart (a rate given for all would read the others' at a wrong rate).
std::string RateAdvice(const CommandLine& c) {
    const std::vector<LocationGroup> groups = LocationsOf(c);
    WavFileRecTable all;
    for (const LocationGroup& group : groups)
        all.insert(all.end(), group.Recs.begin(), group.Recs.end());
    if (RatesOf(all, c).size() < 2) return "--rate K converts every file at K k samples/s";
    for (const LocationGroup& group : groups) {
        if (RatesOf(group.Recs, c).size() > 1) {
            return "location " + group.Name +
                   " holds files of different rates: convert the files of each rate in a run "
                   "of their own";
        }
    }
    return "the files of each location share one rate: convert each location in a run of its "
           "own with --location NAME, which reads it at its rate; list --locations names them";
}

// The rate text the batch is converted (or listed) at: --rate as given, else the headers' rate
// (576 where no header gives one). With --location, where all the files' headers do not give
// one rate, that location's files' headers alone. Empty after a refusal, which is reported.
std::optional<std::string> BatchRate(const CommandLine& c, CliHost& host) {
    if (!c.rate.empty() && c.rate != "header") return c.rate;
    auto rate = RateOfHeaders(c);
    const std::string defaultRate = MainControls{}.KsamplesPerSecEdit;
    if (c.location && rate && std::holds_alternative<std::string>(*rate)) {
        const std::vector<LocationGroup> groups = LocationsOf(c);
        if (!groups.empty()) rate = RateOfLocation(c, groups.front());
    }
    if (!rate && c.rate.empty()) return defaultRate;
    const std::string* refusal = rate ? std::get_if<std::string>(&*rate) : nullptr;
    if (rate && refusal == nullptr) return std::to_string(std::get<int32_t>(*rate));
    const std::string why = refusal != nullptr ? *refusal : std::string(kNoRateHeader);
    if (c.rate == "header") {
        host.Message("wavtokeb-cli: --rate header: " + why);
        return std::nullopt;
    }
    // Without --rate: a listing goes on at the rate of old, a conversion is refused.
    if ((c.verb & kConversions) == 0) {
        if (!c.quiet) {
            host.Message("wavtokeb-cli: " + why + "; durations at " + defaultRate + " k samples/s");
        }
        return defaultRate;
    }
    host.Message("wavtokeb-cli: " + why + ": nothing converted (" + RateAdvice(c) + ")");
    return std::nullopt;
}

// What files that need a choice need: "--to-16-bit", "--channel N" or both.
std::string ChoicesNeeded(bool sixteenBit, bool channel) {
    if (sixteenBit && channel) return "--to-16-bit and --channel N";
    return sixteenBit ? "--to-16-bit" : "--channel N";
}

// The format check of the listed files: a conversion is refused for files that need
// --to-16-bit or --channel N without it, for files with fewer channels than --channel, and for
// files that hold no samples the converter can read unless --ignore-headers is given; one
// warning for each file whose header gives another rate. False when the conversion is refused.
bool ReportFormats(const Session& session, CliHost& host, const CommandLine& c) {
    const FormatFindings f =
        CheckFormats(session.WavFileRecs, session.Rate().SamplesPerSec, ReadOptionsOf(c));
    const bool conversion = (c.verb & kConversions) != 0;
    const bool refuseUnfit = conversion && !c.ignoreHeaders && !f.Unfit.empty();
    const bool refuse = refuseUnfit || (conversion && !f.NeedsChoice.empty()) ||
                        (conversion && !f.FewerChannels.empty());
    auto lines = [&](const std::vector<const WavFileRec*>& recs,
                     std::string (*line)(const WavFileRec&), auto after) {
        const std::vector<std::string> texts = NamedLines(recs, line);
        for (size_t i = 0; i < texts.size(); ++i) {
            host.Message("wavtokeb-cli: " + texts[i] + (i < recs.size() ? after(*recs[i]) : ""));
        }
    };
    const bool show = refuse || (!conversion && !c.quiet);
    if (show && (refuseUnfit || !conversion)) {
        lines(f.Unfit, UnfitLine, [](const WavFileRec&) { return std::string(); });
    }
    if (refuseUnfit) {
        host.Message("wavtokeb-cli: " + FilesAre(f.Unfit.size()) +
                     " not 16-bit PCM mono WAV: nothing converted (--ignore-headers converts "
                     "them anyway)");
    }
    if (show) {
        lines(f.NeedsChoice, FormatLine, [&](const WavFileRec& rec) {
            const FormatNeeds needs = NeedsOf(*SampleFormatOf(rec.Header));
            return ": needs " + ChoicesNeeded(needs.SixteenBit && !c.toSixteenBit,
                                              needs.Channel && c.channel == 0);
        });
    }
    if (conversion && !f.NeedsChoice.empty()) {
        std::string how;
        if (f.NeedSixteenBit) how = "--to-16-bit converts their samples to 16 bits";
        if (f.NeedChannel) {
            how += (how.empty() ? "" : ", ") + std::string("--channel N reads channel N");
        }
        host.Message("wavtokeb-cli: " + FilesAre(f.NeedsChoice.size()) +
                     " not 16-bit PCM of one channel: nothing converted (" + how + ")");
    }
    if (show) {
        lines(f.FewerChannels, FormatLine, [&](const WavFileRec&) {
            return ": it has no channel " + std::to_string(c.channel);
        });
    }
    if (conversion && !f.FewerChannels.empty()) {
        host.Message("wavtokeb-cli: " + FilesHave(f.FewerChannels.size()) + " fewer than " +
                     std::to_string(c.channel) + " channels: nothing converted");
    }
    if (refuse) return false;
    if (!c.quiet) {
        for (const WavFileRec* rec : f.OtherRate) {
            host.Message(
                "wavtokeb-cli: " + OtherRateLine(*rec) + ", not the " +
                std::to_string(session.Rate().SamplesPerSec / 1000) +
                (c.rate.empty() ? " k samples/s the files are read at" : " k samples/s of --rate"));
        }
        for (const WavFileRec* rec : f.SecondData)
            host.Message("wavtokeb-cli: " + SecondDataLine(*rec));
    }
    return true;
}

// Whether everything written to stdout reached it; if not, a message says so, with the reason
// a failed flush gives, else writeErrno (what the failed write left in errno; 0: unknown).
bool StdoutWritten(int writeErrno = 0) {
    int err = 0;
    if (std::fflush(stdout) != 0) {
        err = errno;
    } else if (std::ferror(stdout) != 0) {
        err = writeErrno;
    } else {
        return true;
    }
    std::fprintf(stderr, "wavtokeb-cli: Failed to write to standard output: %s\n",
                 std::strerror(err != 0 ? err : EIO));
    return false;
}

// Every control of the settings model with its value after start-up, the preset and the
// controls given.
int RunSettings(const CommandLine& c) {
    SettingsForm form;
    try {
        SetControls(form, c);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s\n", UsageLine(e).c_str());
        return kExitRefused;
    }
    errno = 0;
    WriteSettings(form, c.csv, stdout);
    return StdoutWritten(errno) ? kExitDone : kExitFailed;
}

bool SameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Two names of one file, or of one file to be: the same path once links are followed, or
// links of one file.
bool SameOutput(const std::string& a, const std::string& b) {
    std::error_code ea, eb;
    const std::filesystem::path pa = std::filesystem::weakly_canonical(a, ea);
    const std::filesystem::path pb = std::filesystem::weakly_canonical(b, eb);
    if (!ea && !eb && pa == pb) return true;
    struct stat st {};
    return ::stat(a.c_str(), &st) == 0 && SameFile(st, b);
}

// Why --minutes FILE must not be written: it is one of the recordings, a WAV file, or named as
// one (the file name forgotten, the first recording would have taken its place), or a file the
// conversion writes itself.
std::optional<std::string> MinutesRefusal(const std::string& path, const Session& session,
                                          const CommandLine& c,
                                          const std::vector<std::string>& outputs) {
    if (EndsWithIgnoringCase(path, kWavFileType)) {
        return "a name ending in .wav is taken for a recording";
    }
    if (EndsWithIgnoringCase(path, kFlacFileType)) {
        return "a name ending in .flac is taken for a recording";
    }
    for (const std::string& output : outputs) {
        if (SameOutput(path, output)) return "it is one of the files the conversion writes";
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    for (const std::string& operand : c.operands) {
        if (SameFile(st, operand)) return "it is one of the recordings to convert";
    }
    for (const WavFileRec& rec : session.WavFileRecs) {
        if (!rec.NameWithPath.empty() && SameFile(st, rec.Path())) {
            return "it is one of the recordings to convert";
        }
    }
    if (S_ISREG(st.st_mode)) {
        char magic[4] = {};
        if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
            const size_t got = std::fread(magic, 1, sizeof magic, f);
            std::fclose(f);
            if (got == sizeof magic && std::string_view(magic, 4) == "RIFF") {
                return "it is a WAV file (it begins with RIFF)";
            }
            if (got == sizeof magic && std::string_view(magic, 4) == "fLaC") {
                return "it is a FLAC file (it begins with fLaC)";
            }
        }
    }
    return std::nullopt;
}

// The lines naming the first kFilesNamed of some texts, then "... and N more".
void MessageNamed(CliHost& host, const std::vector<std::string>& lines) {
    for (const std::string& line : NamedLines(lines)) host.Message("wavtokeb-cli: " + line);
}

// How a conversion of the command line treats what it would write: gaps up to --max-gap-days,
// earlier files replaced with --overwrite only; nothing is asked.
void SetWritingPolicy(BatchPlan& plan, const CommandLine& c) {
    plan.MaxGapDays = c.maxGapDays;
    plan.AskBeforeWriting = false;
    plan.ReplaceExisting = c.overwrite;
}

// What a conversion would write, refused before it writes anything: a --minutes file that is
// a recording, a TK1 file whose minutes its header cannot count, gaps longer than
// --max-gap-days, and files that are there already (unless --overwrite).
bool CheckOutputs(const CommandLine& c, const Session& session, const BatchPlan& batch,
                  CliHost& host) {
    const PlannedOutputs plan =
        session.PlanOutputs(batch, CliHost::DestinationName(c.out, session.SuggestedTK1Name()),
                            c.jobs.has_value() || c.resume);
    if (!c.minutes.empty()) {
        if (const std::optional<std::string> why =
                MinutesRefusal(c.minutes, session, c, plan.Outputs)) {
            host.Message("wavtokeb-cli: --minutes " + c.minutes + ": " + *why +
                         "; nothing converted");
            return false;
        }
    }
    if (!plan.Unfit.empty()) {
        MessageNamed(host, plan.Unfit);
        host.Message("wavtokeb-cli: nothing converted");
        return false;
    }
    if (!plan.LongGaps.empty()) {
        std::vector<std::string> lines;
        for (const PlannedGap& gap : plan.LongGaps) lines.push_back(GapLine(gap));
        MessageNamed(host, lines);
        host.Message("wavtokeb-cli: " + std::to_string(lines.size()) +
                     (lines.size() == 1 ? " gap is" : " gaps are") + " longer than " +
                     std::to_string(c.maxGapDays) +
                     " days: nothing converted (--max-gap-days N allows gaps of up to N days)");
        return false;
    }
    std::vector<std::string> existing = ExistingFiles(plan.Outputs);
    struct stat st {};
    if (!c.minutes.empty() && ::stat(c.minutes.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        existing.push_back(c.minutes);
    }
    // A resumed run judges each location's files by what an earlier run left (JudgeLocations).
    if (!existing.empty() && !c.overwrite && !c.resume) {
        MessageNamed(host, existing);
        host.Message("wavtokeb-cli: " + FilesAre(existing.size()) +
                     " there already: nothing converted (--overwrite replaces them)");
        return false;
    }
    return true;
}

// A finished file that waits to replace an earlier one at its batch's end keeps its lock open:
// as many files as the system allows this process.
void KeepFilesOpen() {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur >= files.rlim_max) return;
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
}

int RunDump(const CommandLine& c) {
    const std::string& file = c.operands.front();
    auto refuse = [](const std::string& what) {
        std::fprintf(stderr, "%s\n", UsageLine({what, kDump}).c_str());
        return kExitRefused;
    };
    const int outputs =
        (c.csv ? 1 : 0) + (c.raven ? 1 : 0) + (c.audacity.empty() ? 0 : 1) + (c.minutesCsv ? 1 : 0);
    if (outputs > 1)
        return refuse("--csv, --raven, --audacity and --minutes-csv exclude each other");
    if (!c.perFile.empty() && !c.raven) return refuse("--per-file is used with --raven only");
    if (c.overwrite && c.perFile.empty() && c.audacity.empty()) {
        return refuse("--overwrite is used with --per-file and --audacity only");
    }
    for (const auto& [given, option] :
         {std::pair{&c.linkage, "--linkage"}, std::pair{&c.recordings, "--recordings"}}) {
        if (!given->empty() && outputs == 0) {
            return refuse(std::string(option) +
                          " is used with --csv, --raven, --audacity or --minutes-csv only");
        }
    }
    if (c.trains && !c.csv) return refuse("--trains is used with --csv only");
    if ((!c.trainSettings.empty() || c.minQuality != CommandLine{}.minQuality) && !c.trains) {
        return refuse("--set-train and --min-quality are used with --trains only");
    }
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        std::fprintf(stderr, "wavtokeb-cli: %s does not exist\n", file.c_str());
        return kExitRefused;
    }
    // Each click's train: the trains of the file first, then its clicks again beside the dump.
    std::function<std::string()> trainCells;
    if (c.trains) {
        trainCells = TrainCellsOf(file, c);
        if (!trainCells) return kExitFailed;
    }
    const DumpOptions options{.Csv = c.csv,
                              .Linkage = c.linkage,
                              .Quiet = c.quiet,
                              .Recordings = c.recordings,
                              .Raven = c.raven,
                              .PerFileDir = c.perFile,
                              .AudacityDir = c.audacity,
                              .MinutesCsv = c.minutesCsv,
                              .Overwrite = c.overwrite,
                              .ExtraCells = trainCells,
                              .ExtraHeading = c.trains ? kTrainCellsHeading : ""};
    const int status = DumpTK1(file, options, stdout, stderr);
    if (!StdoutWritten()) return kExitFailed;
    return status == kDumpSound ? kExitDone : status == kDumpRefused ? kExitRefused : kExitFailed;
}

int StatusOf(Session::Outcome outcome) {
    switch (outcome) {
        case Session::Outcome::Done:
            return kExitDone;
        case Session::Outcome::Failed:
            return kExitFailed;
        case Session::Outcome::Refused:
            return kExitRefused;
    }
    return kExitFailed;
}

BatchKind KindOf(CliHost::Verb verb) {
    return verb == CliHost::Verb::Scrapbook ? BatchKind::Scrapbook : BatchKind::PerLocation;
}

// What a run that resumes an earlier one does with one location.
struct LocationRun {
    bool Keep = false;     // complete: kept as it is, with these lines
    bool Replace = false;  // the files an earlier run left of it are replaced
    std::string KeptLine;  // stderr
    std::string Summary;   // stdout: the data memo's header and the TK1 file's line
};

// The locations of a run with --resume, each judged by what an earlier run left of its files;
// none when a location's files are of other recordings or settings and --overwrite is not
// given (each such location is named).
std::optional<std::vector<LocationRun>> JudgeLocations(const CommandLine& c, CliHost& host,
                                                       const Session& session,
                                                       const BatchPlan& plan,
                                                       const std::vector<LocationGroup>& groups) {
    const std::string chosen = CliHost::DestinationName(c.out, session.SuggestedTK1Name());
    std::vector<LocationRun> runs(groups.size());
    std::vector<std::string> changed;
    for (size_t g = 0; g < groups.size(); ++g) {
        const EarlierOutputs earlier = session.JudgeEarlierOutputs(plan, chosen, groups[g].Recs);
        LocationRun& run = runs[g];
        switch (earlier.State) {
            case EarlierState::None:
                break;
            case EarlierState::Complete:
                run.Keep = true;
                if (!c.quiet) {
                    run.KeptLine =
                        "wavtokeb-cli: Kept, complete from an earlier run: " +
                        PrintableName(
                            Session::OutputNamesOf(plan, chosen, groups[g].Recs.front()).Tk1) +
                        "\n";
                }
                run.Summary = "TK1BriefName\tNofWavFiles\tcompression\r\n" +
                              session.SummaryLineOf(plan, chosen, groups[g].Recs) + "\r\n";
                break;
            case EarlierState::Unfinished:
                run.Replace = true;
                break;
            case EarlierState::Changed:
                run.Replace = c.overwrite;
                changed.push_back(PrintableName(groups[g].Name) + ": " + earlier.Why);
                break;
        }
    }
    if (!changed.empty() && !c.overwrite) {
        MessageNamed(host, changed);
        host.Message("wavtokeb-cli: " + std::to_string(changed.size()) +
                     (changed.size() == 1 ? " location's files are" : " locations' files are") +
                     " of other recordings or settings than this run's: nothing converted "
                     "(--overwrite converts them again)");
        return std::nullopt;
    }
    return runs;
}

// convert and scrapbook with --jobs (or --resume): each location of the listing converted by a
// session of its own, exactly as a run with --location would convert it, so many at a time.
// Their texts reach the outputs in location order; the exit status is the worst of the batches.
// A batch that fails leaves the others running; after a stop no further batch starts. runs
// (--resume): which locations are kept, and which replace what an earlier run left.
int ConvertLocations(const CommandLine& c, CliHost& host, const Session& session,
                     std::vector<LocationGroup> groups, CliHost::Verb verb,
                     const std::vector<LocationRun>& runs) {
    OrderedOutput merged(groups.size(), CliHost::kOutputs,
                         [&](size_t output, std::string_view bytes) { host.Put(output, bytes); });
    std::vector<BatchProgress> planned;
    for (size_t g = 0; g < groups.size(); ++g) {
        ProgressTracker plan;
        const bool kept = g < runs.size() && runs[g].Keep;
        plan.Begin(groups[g].Recs, kept ? 0 : static_cast<int32_t>(groups[g].Recs.size()),
                   session.Rate().SamplesPerSec, 0);
        planned.push_back(plan.Progress());
    }
    CombinedProgress combined(std::move(planned), session.ProgressClock);
    host.CombineProgress(&combined);
    // A conversion filters ahead on a second thread only where every batch that runs at the
    // same time can have two processors, so that the threads never outnumber the processors.
    const int jobs = c.jobs.value_or(1);
    const size_t running = std::min(groups.size(), static_cast<size_t>(jobs));
    const bool filterAhead = static_cast<size_t>(AvailableProcessors()) >= 2 * running;
    std::vector<int> status(groups.size(), kExitDone);
    RunLocationBatches(groups.size(), jobs, [&](size_t g) {
        if (g < runs.size() && runs[g].Keep) {
            merged.Write(g, CliHost::kStderr, runs[g].KeptLine);
            merged.Write(g, CliHost::kStdout, runs[g].Summary);
        } else if (g_stopSignal == 0) {
            try {
                CliHost batchHost(verb, c.out, c.minutes);
                batchHost.SetQuiet(c.quiet);
                batchHost.RouteTo(&merged, g, &host);
                Session batch(batchHost);
                batchHost.SetSession(&batch);
                batch.Start();
                batch.SetFm = session.SetFm;
                batch.Controls = session.Controls;
                batch.SelectRecords(std::move(groups[g].Recs));
                Session::EngineOptions engine;
                engine.Threads = filterAhead;
                batch.Tune(engine);
                BatchPlan plan = batch.PlanBatch(KindOf(verb));
                SetWritingPolicy(plan, c);
                if (g < runs.size() && runs[g].Replace) plan.ReplaceExisting = true;
                batch.RunPlan(std::move(plan));
                status[g] = StatusOf(batch.LastOutcome);
            } catch (const std::exception& e) {
                merged.Write(g, CliHost::kStderr, "wavtokeb-cli: " + std::string(e.what()) + "\n");
                status[g] = kExitFailed;
            }
        }
        merged.Finish(g);
    });
    host.BatchesEnded();
    host.CombineProgress(nullptr);
    int worst = *std::max_element(status.begin(), status.end());
    if (merged.Lost()) {
        host.Message("wavtokeb-cli: texts of a location batch were lost: a temporary file failed");
        worst = std::max(worst, kExitFailed);
    }
    return worst;
}

// The main window's controls and the clock corrections from the options.
void SetMainControls(Session& session, const CommandLine& c) {
    MainControls& m = session.Controls;
    m.AddedSiteNameEdit = c.site;
    m.LoggerNumberEdit = c.logger;
    m.UseFileNameDateTimes = !c.noDates;
    m.NameDatePatternEdit = c.nameDate;
    m.SearchDirectories = false;
    m.ShowGraphs = c.graphs;
    m.MakeSourceLinkageFile = !c.noLinkage;
    m.MakeRecordingsTable = !c.noRecordings;
    m.TimeSourceCombo = c.timeSource;
    m.ExactStart = c.exactStart;
    m.ToSixteenBit = c.toSixteenBit;
    m.Channel = c.channel;
    session.Corrections.ShiftUs = c.timeShiftUs;
    for (const auto& [at, error] : c.clockErrors) session.Corrections.AddClockError({at, error});
}

// convert, scrapbook and list.
int RunBatch(const CommandLine& c) {
    const bool conversion = (c.verb & kConversions) != 0;
    const CliHost::Verb verb = c.verb == kConvert     ? CliHost::Verb::Convert
                               : c.verb == kScrapbook ? CliHost::Verb::Scrapbook
                               : c.locations          ? CliHost::Verb::Locations
                               : c.csv                ? CliHost::Verb::ListCsv
                                                      : CliHost::Verb::List;
    CliHost host(verb, c.out, c.minutes);
    host.SetQuiet(c.quiet);
    host.SetOverwrite(c.overwrite);
    if (c.progressMinutes) host.SetProgressLines(*c.progressMinutes);
    Session session(host);
    host.SetSession(&session);
    try {
        // The windows right after start-up, then the options.
        session.Start();
        SetControls(session.SetFm, c);
        CheckPaths(c);
    } catch (const UsageError& e) {
        host.Message(UsageLine(e));
        return kExitRefused;
    }
    SetMainControls(session, c);

    // Refusals before anything is written.
    if (const std::optional<std::string> refusal = session.CheckNameDatePattern()) {
        host.Message("wavtokeb-cli: --name-date: " + *refusal);
        return kExitRefused;
    }
    const std::optional<std::string> rate = BatchRate(c, host);
    if (!rate) return kExitRefused;
    session.Controls.KsamplesPerSecEdit = *rate;
    if (const std::optional<std::string> refusal = session.CheckSampleRate()) {
        host.Message(RateRefusal(*refusal, c.rate));
        return kExitRefused;
    }
    if (conversion) {
        const auto settings = session.ReadBatchSettings();
        if (const auto* refusal = std::get_if<std::string>(&settings)) {
            host.Message("wavtokeb-cli: " + *refusal);
            return kExitRefused;
        }
        InstallStopSignalHandlers();
        // A reader that goes away (a pager quit, "| head") must not kill the batch between two
        // files: the conversion goes on, and the failed writes make the exit status 1.
        std::signal(SIGPIPE, SIG_IGN);
    }

    session.SelectPaths(c.operands, c.location ? &*c.location : nullptr);
    if (!ReportFormats(session, host, c)) return kExitRefused;
    std::optional<BatchPlan> plan;
    std::vector<LocationRun> runs;
    if (conversion && session.NofWAVfilesFound > 0 && g_stopSignal == 0) {
        plan = session.PlanBatch(KindOf(verb));
        SetWritingPolicy(*plan, c);
        if (!CheckOutputs(c, session, *plan, host)) return kExitRefused;
        if (c.resume) {
            auto judged =
                JudgeLocations(c, host, session, *plan, SplitIntoLocations(session.WavFileRecs));
            if (!judged) return kExitRefused;
            runs = std::move(*judged);
        }
        // Nothing refuses the conversion: its folder is made now, before the minutes file that
        // may lie in it (a folder that cannot be made is reported when the batch begins).
        std::error_code ec;
        std::filesystem::create_directories(c.out, ec);
        KeepFilesOpen();
    }
    int status = kExitDone;
    if (verb == CliHost::Verb::List) {
        host.StdoutLine(host.BigLblText());
    } else if (verb == CliHost::Verb::ListCsv) {
        WriteFileListCsv(session.WavFileRecs, session.NofWAVfilesFound,
                         session.Rate().SamplesPerSec, stdout);
        host.Message(host.BigLblText());
    } else if (verb == CliHost::Verb::Locations) {
        for (const LocationGroup& g : SplitIntoLocations(session.WavFileRecs)) {
            host.Put(CliHost::kStdout, PrintableName(g.Name) + "\n");
        }
    } else if (g_stopSignal != 0) {
        // Stopped while the files were listed: nothing is converted.
    } else if (std::vector<LocationGroup> groups = SplitIntoLocations(session.WavFileRecs);
               (c.jobs || c.resume) && !groups.empty()) {
        status = ConvertLocations(c, host, session, std::move(groups), verb, runs);
    } else {
        if (!plan) plan = session.PlanBatch(KindOf(verb));
        session.RunPlan(std::move(*plan));
        status = StatusOf(session.LastOutcome);
    }
    // A file that could not be opened or a directory that could not be searched was reported
    // where it was met; the rest was converted, but not all that was asked for.
    if (status == kExitDone && session.NofInputsSkipped > 0) status = kExitFailed;
    if (!host.Finish(status == kExitDone) && status == kExitDone) status = kExitFailed;
    if (status == kExitDone && g_stopSignal != 0) status = 128 + g_stopSignal;
    return status;
}

}  // namespace

int Run(int argc, char** argv) {
    CommandLine c;
    try {
        c = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s\n", UsageLine(e).c_str());
        return kExitRefused;
    }
    if (c.version || c.help) {
        errno = 0;
        if (c.version) {
            std::printf("wavtokeb-cli %s\n", WTK_VERSION);
        } else {
            std::fputs(HelpText(c.verb).c_str(), stdout);
        }
        return StdoutWritten(errno) ? kExitDone : kExitFailed;
    }
    if (c.verb == kDump) return RunDump(c);
    if (c.verb == kSettings) return RunSettings(c);
    if (c.verb == kTrains) return RunTrains(c);
    if (c.verb == kPresence) return RunPresence(c);
    return RunBatch(c);
}

}  // namespace wtk::cli

// The options' fuzz harness runs the tool through Run, without this entry point.
#ifndef WTK_CLI_WITHOUT_MAIN
int main(int argc, char** argv) {
    try {
        return wtk::cli::Run(argc, argv);
    } catch (const std::exception& e) {
        // What no command foresaw ends the tool with a line of its own, not the runtime's.
        std::fprintf(stderr, "wavtokeb-cli: %s\n", e.what());
        return 1;
    }
}
#endif
