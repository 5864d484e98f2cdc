// wavtokeb-cli: the converter without a window, for archives on machines without a display.
//
//   wavtokeb-cli convert   [options] PATH...   the per-location conversion
//   wavtokeb-cli scrapbook [options] PATH...   the scrapbook conversion
//   wavtokeb-cli list      [options] PATH...   the file list of the selection only
//   wavtokeb-cli dump      [--csv] FILE.TK1    decode a TK1 file
//
// stdout carries the memo texts with CR LF line ends; stderr carries the message-box texts and
// the date/time failure texts, one line each (a progress line is added on a terminal). Exit
// status: 0 done, 1 the batch ended on an error message, 2 usage or settings refused, 128 + the
// signal number when SIGINT or SIGTERM stopped the batch after the current file (or the listing
// before anything was converted).
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "cli/tk1_dump.h"
#include "session/session.h"

#ifndef WTK_VERSION
#define WTK_VERSION "0"
#endif

namespace wtk::cli {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

struct Options {
    std::string rate = "576";
    std::string site = "NewFileName";
    std::string logger = "Logger ID number";
    std::string out;
    bool noDates = false;
    bool noLinkage = false;
    bool graphs = false;
    bool ipiExport = false;
    std::optional<std::string> ipiLimit;
    std::string preset = "normal";
    std::vector<std::string> sets;
    std::string minutes;
    std::vector<std::string> paths;
    bool csv = false;
    std::string tk1File;
};

// A refusal before anything was written: one line on stderr.
struct UsageError {
    std::string text;
};

constexpr const char* kDescription =
    "Converts 16-bit PCM .wav recordings of underwater sound into TK1 click-data files.\n\n"
    "  wavtokeb-cli convert   [options] PATH...   one TK1 file per location, placed by the\n"
    "                                             start times in the file names\n"
    "  wavtokeb-cli scrapbook [options] PATH...   every file in a new minute from 2000-01-01\n"
    "  wavtokeb-cli list      [options] PATH...   the file list: header and one line per file\n"
    "                                             on stdout, then the status line\n"
    "  wavtokeb-cli dump      [--csv] FILE.TK1    decode a TK1 file: header fields and one line\n"
    "                                             per record; --csv: one row per click\n\n"
    "PATH: a file is taken as it is; a directory is searched with all its sub-directories for\n"
    "names ending in .wav (any case) of more than 1000 bytes.\n"
    "stdout: the TK1 file summary (convert, scrapbook) with CR LF line ends. stderr: the\n"
    "messages, one line each. Exit status: 0 done, 1 ended on an error message, 2 usage or\n"
    "settings refused. SIGINT or SIGTERM stops a conversion after the file in progress, with\n"
    "the TK1 file finished (exit status 128 + the signal number); a second one ends at once.";

// list takes the same options (those about output have no effect there), so that one option
// set serves all three verbs.
void AddConversionOptions(CLI::App* sub, Options& o) {
    sub->add_option("--rate", o.rate, "sample rate in k samples/s (1 ... 2000)")
        ->type_name("K")
        ->capture_default_str();
    sub->add_option("--site", o.site, "site name: starts the TK1 file names; may be empty")
        ->type_name("TEXT")
        ->capture_default_str();
    sub->add_option("--logger", o.logger, "logger ID number stored in the TK1 header")
        ->type_name("TEXT")
        ->capture_default_str();
    sub->add_option("--out", o.out,
                    "directory for the TK1 files and side files (convert, scrapbook)")
        ->type_name("DIR");
    sub->add_flag("--no-dates", o.noDates, "do not take locations and dates from file names");
    sub->add_flag("--no-linkage", o.noLinkage, "no source linkage file");
    sub->add_flag("--graphs", o.graphs,
                  "\"show graphs\" ticked (it also skips blocks of little raw activity)");
    sub->add_flag("--ipi-export", o.ipiExport, "write the IPI export file of every peak");
    sub->add_option("--ipi-limit", o.ipiLimit, "line limit of the IPI export file [10000]")
        ->type_name("N");
    sub->add_option("--preset", o.preset, "settings preset, pressed before the --set values")
        ->type_name("NAME")
        ->check(CLI::IsMember({"normal", "severe", "minimal"}))
        ->capture_default_str();
    sub->add_option("--set", o.sets,
                    "a settings control by its name, e.g. MinNcycFedit=4, FixedScalerEdit=0.002, "
                    "GainControlGroup=1, HighPassFilterCombo=3 (repeatable)")
        ->type_name("CONTROL=TEXT")
        ->allow_extra_args(false);
    sub->add_option("--minutes", o.minutes, "write the per-minute lines to FILE")
        ->type_name("FILE");
    sub->add_option("PATH", o.paths, "WAV files or directories")->required();
}

// A settings control as the usage message names it: its name and the field it stands for.
std::string ControlText(const ControlDef& def) {
    std::string text = def.Name;
    if (def.FieldName[0] != '\0') text += std::string(" (\"") + def.FieldName + "\")";
    return text;
}

// What a settings control accepts, for the usage message.
std::string AcceptedText(const ControlDef& def) {
    switch (def.Kind) {
        case ControlKind::DigitEdit:
            return "digits only, at most " + std::to_string(def.MaxLength) + " characters";
        case ControlKind::CheckBox:
            return "0 or 1";
        case ControlKind::RadioGroup:
        case ControlKind::ComboBox:
            return "0 ... " + std::to_string(def.Items.size() - 1);
        case ControlKind::TextEdit:
            break;
    }
    return "any text";
}

// The settings window's state: preset, then the --set values in order, then the IPI options.
void SetControls(SettingsForm& form, const Options& o) {
    if (o.preset == "severe") {
        form.SevereNoiseSettingsBtnClick();
    } else if (o.preset == "minimal") {
        form.MinimalNoiseSettingsBtnClick();
    } else {
        form.DefaultSettingsBtnClick();
    }
    auto set = [&](const std::string& name, const std::string& value, const std::string& what) {
        const ControlDef* def = SettingsForm::Find(name);
        if (def == nullptr) throw UsageError{"unknown settings control " + name + " in " + what};
        if (!SettingsForm::Accepts(*def, value)) {
            throw UsageError{what + ": " + ControlText(*def) + " takes " + AcceptedText(*def) +
                             ", not \"" + value + "\""};
        }
        form.Set(name, value);
    };
    for (const std::string& s : o.sets) {
        const size_t eq = s.find('=');
        if (eq == std::string::npos)
            throw UsageError{"--set takes CONTROL=TEXT, not \"" + s + "\""};
        set(s.substr(0, eq), s.substr(eq + 1), "--set");
    }
    if (o.ipiExport) form.Set("MakeIPIexportFile", "1");
    if (o.ipiLimit) set("IPIFileLineLimitEdit", *o.ipiLimit, "--ipi-limit");
}

void CheckPaths(const Options& o, bool conversion) {
    if (conversion) {
        if (o.out.empty()) throw UsageError{"--out DIR is required for convert and scrapbook"};
        struct stat st {};
        if (::stat(o.out.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            throw UsageError{"--out " + o.out + " is not a directory"};
        }
    }
    for (const std::string& p : o.paths) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) throw UsageError{p + " does not exist"};
    }
}

// "--name=" followed by nothing means an empty value; CLI11 would take the next argument.
std::vector<std::string> ReversedArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.size() > 3 && a.starts_with("--") && a.back() == '=' && a.find('=') == a.size() - 1) {
            args.push_back(a.substr(0, a.size() - 1));
            args.emplace_back();
        } else {
            args.push_back(std::move(a));
        }
    }
    return {args.rbegin(), args.rend()};
}

int Run(int argc, char** argv) {
    Options o;
    CLI::App app{kDescription, "wavtokeb-cli"};
    app.set_version_flag("--version", std::string("wavtokeb-cli ") + WTK_VERSION);
    app.require_subcommand(1);
    CLI::App* convert = app.add_subcommand("convert", "one TK1 file per location");
    CLI::App* scrapbook = app.add_subcommand("scrapbook", "every file in a new minute");
    CLI::App* list = app.add_subcommand("list", "the file list of the selection");
    CLI::App* dump = app.add_subcommand("dump", "decode a TK1 file");
    AddConversionOptions(convert, o);
    AddConversionOptions(scrapbook, o);
    AddConversionOptions(list, o);
    dump->add_flag("--csv", o.csv, "one CSV row per click with its date and time");
    dump->add_option("FILE.TK1", o.tk1File, "the TK1 file")->required();

    std::vector<std::string> args = ReversedArguments(argc, argv);
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "wavtokeb-cli: %s (see wavtokeb-cli --help)\n", e.what());
        return kExitRefused;
    }

    if (dump->parsed()) {
        struct stat st {};
        if (::stat(o.tk1File.c_str(), &st) != 0) {
            std::fprintf(stderr, "wavtokeb-cli: %s does not exist\n", o.tk1File.c_str());
            return kExitRefused;
        }
        const int status = DumpTK1(o.tk1File, o.csv, stdout, stderr);
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            std::fprintf(stderr, "Failed to write to standard output\n");
            return kExitFailed;
        }
        return status == 0 ? kExitDone : kExitFailed;
    }

    const bool conversion = !list->parsed();
    const CliHost::Verb verb = convert->parsed()     ? CliHost::Verb::Convert
                               : scrapbook->parsed() ? CliHost::Verb::Scrapbook
                                                     : CliHost::Verb::List;
    CliHost host(verb, o.out, o.minutes);
    Session session(host);
    host.SetSession(&session);
    try {
        // The windows right after start-up, then the options.
        session.Start();
        SetControls(session.SetFm, o);
        CheckPaths(o, conversion);
    } catch (const UsageError& e) {
        host.Message("wavtokeb-cli: " + e.text + " (see wavtokeb-cli --help)");
        return kExitRefused;
    }
    session.Controls.KsamplesPerSecEdit = o.rate;
    session.Controls.AddedSiteNameEdit = o.site;
    session.Controls.LoggerNumberEdit = o.logger;
    session.Controls.UseFileNameDateTimes = !o.noDates;
    session.Controls.SearchDirectories = false;
    session.Controls.ShowGraphs = o.graphs;
    session.Controls.MakeSourceLinkageFile = !o.noLinkage;

    // Refusals before anything is written.
    std::optional<std::string> refusal = session.CheckSampleRate();
    if (!refusal && conversion) {
        refusal = session.CheckConversionSettings(session.SetFm.Get("MakeIPIexportFile") == "1");
    }
    if (refusal) {
        host.Message(*refusal);
        return kExitRefused;
    }

    if (conversion) {
        InstallStopSignalHandlers();
        // A reader that goes away (a pager quit, "| head") must not kill the batch between two
        // files: the conversion goes on, and the failed writes make the exit status 1.
        std::signal(SIGPIPE, SIG_IGN);
    }
    session.SelectPaths(o.paths);
    int status = kExitDone;
    if (verb == CliHost::Verb::List) {
        host.StdoutLine(host.BigLblText());
    } else if (g_stopSignal != 0) {
        // Stopped while the files were listed: nothing is converted.
    } else {
        if (verb == CliHost::Verb::Convert) {
            session.ConvertBatchBtnClick();
        } else {
            session.MakeScrapbookBtnClick();
        }
        switch (session.LastOutcome) {
            case Session::Outcome::Done:
                status = kExitDone;
                break;
            case Session::Outcome::Failed:
                status = kExitFailed;
                break;
            case Session::Outcome::Refused:
                status = kExitRefused;
                break;
        }
    }
    if (!host.Finish() && status == kExitDone) status = kExitFailed;
    if (status == kExitDone && g_stopSignal != 0) status = 128 + g_stopSignal;
    return status;
}

}  // namespace
}  // namespace wtk::cli

int main(int argc, char** argv) {
    return wtk::cli::Run(argc, argv);
}
