#include "cli/presence_verbs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/utf8.h"
#include "output/replacing_file.h"
#include "presence/location_clicks.h"
#include "presence/presence.h"
#include "presence/tables.h"

namespace wtk::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kRefused = 2;

using presence::LocationReader;

void Say(const std::string& text) {
    std::fprintf(stderr, "wavtokeb-cli: %s\n", text.c_str());
}

presence::TrainQuality MinQualityOf(const CommandLine& c) {
    return presence::ParseQuality(c.minQuality).value_or(presence::TrainQuality::Moderate);
}

// Every location of the operands, each checked whole (TK1 files and side files) before
// anything is written, and the TK1 files; nothing when one is damaged (the reason is on
// stderr).
struct Inputs {
    std::vector<std::unique_ptr<LocationReader>> Readers;
    std::vector<std::string> Tk1Paths;
};
std::optional<Inputs> OpenLocations(const CommandLine& c) {
    Inputs inputs;
    try {
        for (presence::LocationFiles& l : presence::GatherLocations(c.operands)) {
            inputs.Tk1Paths.insert(inputs.Tk1Paths.end(), l.Tk1Paths.begin(), l.Tk1Paths.end());
            inputs.Readers.push_back(std::make_unique<LocationReader>(std::move(l)));
        }
    } catch (const presence::InputError& e) {
        Say(e.what());
        return std::nullopt;
    }
    if (!c.quiet) {
        for (const auto& r : inputs.Readers) {
            for (const std::string& w : r->Warnings()) Say(w);
        }
    }
    return inputs;
}

// The same file, as far as the names tell (an output must not replace an input).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// Where a table goes: standard output, or FILE of --out, which takes its name only when the
// table is complete.
class TableOutput {
public:
    // Refused (the reason on stderr) when FILE is there already without --overwrite, or is one
    // of the inputs or their side files.
    bool Open(const CommandLine& c, const std::vector<std::string>& inputPaths) {
        if (c.out.empty()) {
            stream_ = stdout;
            return true;
        }
        for (const std::string& p : inputPaths) {
            const std::string stem(Utf8DropRight(p, 4));
            for (const std::string& input : {p, stem + ".recordings.csv", stem + ".txt"}) {
                if (SameFile(c.out, input)) {
                    Say("--out " + PrintableName(c.out) + " is one of the inputs: nothing written");
                    return false;
                }
            }
        }
        struct stat st {};
        if (::lstat(c.out.c_str(), &st) == 0 && !c.overwrite) {
            Say(PrintableName(c.out) +
                " is there already: nothing written (--overwrite replaces it)");
            return false;
        }
        overwrite_ = c.overwrite;
        const int err = file_.Open(c.out);
        if (err != 0) {
            Say(PrintableName(c.out) + ": " + ReplacingFileErrorText(err));
            return false;
        }
        stream_ = file_.Stream();
        return true;
    }

    void Line(const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), stream_);
        std::fwrite("\r\n", 1, 2, stream_);
    }

    // Puts the table in place (complete) or removes it; false when that failed (on stderr).
    bool Finish(bool complete) {
        if (stream_ == stdout) {
            if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
                Say("Failed to write to standard output");
                return false;
            }
            return complete;
        }
        if (!complete) {
            file_.Discard();
            return false;
        }
        PendingReplacements replacements;
        const int err = file_.Commit(overwrite_ ? &replacements : nullptr);
        if (err != 0 && err != ReplacingFile::kReplacesLater) {
            Say(PrintableName(file_.FinalName()) + ": " + ReplacingFileErrorText(err));
            return false;
        }
        for (const auto& [name, error] : replacements.Replace()) {
            if (error != 0) {
                Say(PrintableName(name) + ": " + std::strerror(error));
                return false;
            }
        }
        return true;
    }

private:
    std::FILE* stream_ = nullptr;
    ReplacingFile file_;
    bool overwrite_ = false;
};

// Runs table over every location into the output; the exit status.
int RunTable(const CommandLine& c, const std::string& heading,
             const std::function<void(LocationReader&, TableOutput&)>& table) {
    std::optional<Inputs> inputs = OpenLocations(c);
    if (!inputs) return kFailed;
    TableOutput out;
    if (!out.Open(c, inputs->Tk1Paths)) return kRefused;
    out.Line(heading);
    try {
        for (const auto& r : inputs->Readers) table(*r, out);
    } catch (const presence::InputError& e) {
        Say(e.what());
        out.Finish(false);
        return kFailed;
    } catch (const std::length_error& e) {
        Say(e.what());
        out.Finish(false);
        return kFailed;
    }
    return out.Finish(true) ? kDone : kFailed;
}

}  // namespace

presence::TrainOptions TrainOptionsOf(const CommandLine& c) {
    presence::TrainOptions options;
    std::string error;
    for (const auto& [name, value] : c.trainSettings) {
        presence::SetTrainOption(options, name, value, error);  // checked when parsed
    }
    return options;
}

int RunTrains(const CommandLine& c) {
    const presence::TrainOptions options = TrainOptionsOf(c);
    return RunTable(
        c, std::string(presence::kTrainsHeading), [&](LocationReader& reader, TableOutput& out) {
            presence::FindTrains(reader, options, MinQualityOf(c), [&](const presence::Train& t) {
                const auto& recordings = reader.Recordings();
                const std::string recording =
                    t.Recording >= 0 && static_cast<size_t>(t.Recording) < recordings.size()
                        ? PrintableName(recordings[static_cast<size_t>(t.Recording)].Path)
                        : std::string();
                out.Line(presence::TrainRow(t, PrintableName(reader.Location()), recording));
            });
        });
}

int RunPresence(const CommandLine& c) {
    const presence::TrainOptions options = TrainOptionsOf(c);
    presence::PresenceOptions presenceOptions;
    presenceOptions.Per = presence::ParsePeriod(c.per).value_or(presence::Period::Hour);
    presenceOptions.UtcOffsetMinutes = c.utcOffsetMinutes;
    presenceOptions.MinQuality = MinQualityOf(c);
    return RunTable(
        c, std::string(presence::kPresenceHeading), [&](LocationReader& reader, TableOutput& out) {
            presence::PresenceCounter counter(PrintableName(reader.Location()), presenceOptions);
            for (const auto& [from, to] : reader.Effort()) counter.AddEffort(from, to);
            presence::FindTrains(reader, options, presenceOptions.MinQuality,
                                 [&](const presence::Train& t) { counter.AddTrain(t); });
            for (const presence::PresenceRow& row : counter.Rows()) {
                out.Line(presence::PresenceRowText(row));
            }
        });
}

std::function<std::string()> TrainCellsOf(const std::string& path, const CommandLine& c) {
    struct State {
        std::unique_ptr<LocationReader> Reader;
        presence::TrainIndex Index;
        std::unique_ptr<presence::ClickLabeller> Labeller;
    };
    auto state = std::make_shared<State>();
    const presence::TrainOptions options = TrainOptionsOf(c);
    try {
        state->Reader = std::make_unique<LocationReader>(
            presence::LocationFiles{presence::LocationOfTK1Name(path), {path}});
        presence::FindTrains(*state->Reader, options, MinQualityOf(c),
                             [&](const presence::Train& t) { state->Index.Add(t); });
        state->Labeller =
            std::make_unique<presence::ClickLabeller>(*state->Reader, options, state->Index);
    } catch (const presence::InputError& e) {
        Say(e.what());
        return nullptr;
    }
    return [state]() -> std::string {
        presence::TimedClick click;
        const presence::TrainLabel* label = nullptr;
        try {
            if (!state->Labeller->Next(click, label) || label == nullptr) return ",,";
        } catch (const presence::InputError&) {
            return ",,";
        }
        return "," + std::to_string(label->Number) + "," +
               std::string(presence::ClassName(label->Class));
    };
}

}  // namespace wtk::cli
