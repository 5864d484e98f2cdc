#include "ui/results_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "base/calendar.h"
#include "base/utf8.h"
#include "dump/tk1_dump.h"
#include "dump/tk1_exports.h"
#include "output/replacing_file.h"

namespace wtk::ui {

namespace {

// What dump writes to a stream, held in memory.
class Captured {
public:
    Captured() : file_(::open_memstream(&buffer_, &size_)) {}
    ~Captured() {
        if (file_ != nullptr) std::fclose(file_);
        std::free(buffer_);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    std::FILE* File() const { return file_; }
    bool Ok() const { return file_ != nullptr; }
    std::string Text() {
        if (file_ != nullptr) std::fflush(file_);
        return buffer_ != nullptr ? std::string(buffer_, size_) : std::string();
    }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* file_ = nullptr;
};

// dump's messages as the window shows them: one line each, without the program's name.
std::string Messages(std::string text) {
    static constexpr std::string_view kPrefix = "wavtokeb-cli: ";
    std::string out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with(kPrefix)) line.erase(0, kPrefix.size());
        if (!line.empty()) out += line + "\n";
    }
    return out;
}

// A click's exact time as the location gives it: from its recording's start where its source
// is known, else its minute and its time in the minute.
int64_t ExactTime(const dump::ClickAt& c) {
    if (c.Source != nullptr) return c.Source->TimeUs;
    return c.Minute * kMicrosecondsPerMinute +
           int64_t{c.Fields.ClkTime5MuSecs} * tk1::kMicrosecondsPerTimeUnit;
}

// Which clicks the request asks for, counting those it was asked about while counting is on.
struct Chooser {
    const ExportRequest& Request;
    bool Counting = false;
    size_t Kept = 0;

    bool operator()(const dump::ClickAt& c) {
        const int64_t t = ExactTime(c);
        if (t < Request.Span.FromUs || t >= Request.Span.ToUs) return false;
        if (!Request.AllInSpan &&
            !std::binary_search(Request.Times.begin(), Request.Times.end(), t)) {
            return false;
        }
        if (Counting) ++Kept;
        return true;
    }
};

size_t ClicksAsked(const ResultsLocation& l, const ExportRequest& r) {
    if (!r.AllInSpan) return r.Times.size();
    const auto [first, last] = l.ClicksIn(r.Span);
    return last - first;
}

// False when the TK1 files gave fewer of the clicks than were asked for (a file changed or gone
// since it was opened).
bool CheckCount(size_t asked, size_t kept, ExportOutcome& outcome) {
    if (kept < asked) {
        outcome.Problems += std::to_string(asked - kept) + " of the " + std::to_string(asked) +
                            " clicks were not found in the TK1 files: they are not written\n";
        return false;
    }
    return true;
}

dump::DumpOptions OptionsFor(const ExportRequest& r, Chooser& chooser) {
    dump::DumpOptions o;
    o.Quiet = true;  // the page named what it found missing when it opened the files
    o.Overwrite = r.Overwrite;
    o.Keep = [&chooser](const dump::ClickAt& c) { return chooser(c); };
    switch (r.Format) {
        case ExportFormat::Raven:
            o.Raven = true;
            o.PerFileDir = r.Target;
            break;
        case ExportFormat::Audacity:
            o.AudacityDir = r.Target;
            break;
        case ExportFormat::Csv:
            o.Csv = true;
            break;
    }
    return o;
}

// One file of Raven selection tables or Audacity labels per recording that holds a click
// asked for, from every TK1 file of the location; nothing written when one of them is there
// already and may not be replaced.
ExportOutcome ExportPerRecording(const ResultsLocation& l, const ExportRequest& r) {
    ExportOutcome outcome;
    Chooser chooser{r};
    const dump::DumpOptions options = OptionsFor(r, chooser);

    // First the files each TK1 file would write.
    std::vector<std::vector<std::string>> names(l.Files.size());
    std::map<std::string, size_t> writer;  // each name and the TK1 file that writes it
    chooser.Counting = true;
    for (size_t f = 0; f < l.Files.size(); ++f) {
        Captured err;
        if (!err.Ok()) return {false, {}, {}, "cannot hold the export's messages\n"};
        const auto files = dump::PerRecordingFiles(l.Files[f].Path, options, err.File());
        if (!files) {
            outcome.Problems += Messages(err.Text());
            continue;
        }
        for (const std::string& n : *files) {
            if (const auto [at, added] = writer.emplace(n, f); !added) {
                outcome.Problems += PrintableName(n) + " holds clicks of " +
                                    PrintableName(l.Files[at->second].Path) + " and of " +
                                    PrintableName(l.Files[f].Path) +
                                    ": only those of the later are in it\n";
            }
        }
        names[f] = *files;
    }
    chooser.Counting = false;
    if (writer.empty()) {
        outcome.Problems += "No click to export.\n";
        return outcome;
    }
    if (!r.Overwrite) {
        std::error_code ec;
        for (const auto& [n, f] : writer) {
            if (std::filesystem::exists(n, ec)) outcome.Existing.push_back(n);
        }
        if (!outcome.Existing.empty()) return outcome;
    }

    bool ok = true;
    for (size_t f = 0; f < l.Files.size(); ++f) {
        if (names[f].empty()) continue;
        Captured out, err;
        if (!out.Ok() || !err.Ok()) return {false, {}, {}, "cannot hold the export's messages\n"};
        const int status = dump::DumpTK1(l.Files[f].Path, options, out.File(), err.File());
        if (status != dump::kDumpSound) ok = false;
        outcome.Problems += Messages(err.Text());
        // One line per file written: its name, a tab and its lines.
        std::istringstream lines(out.Text());
        for (std::string line; std::getline(lines, line);) {
            const size_t tab = line.rfind('\t');
            if (tab != std::string::npos) outcome.Written.push_back(line.substr(0, tab));
        }
    }
    if (!CheckCount(ClicksAsked(l, r), chooser.Kept, outcome)) ok = false;
    outcome.Ok = ok;
    return outcome;
}

// Copies the rest of from to to.
bool CopyRest(std::FILE* from, std::FILE* to) {
    char buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, from)) > 0;) {
        if (std::fwrite(buffer, 1, got, to) != got) return false;
    }
    return std::ferror(from) == 0;
}

// One line of from (with its line end); "" at its end.
std::string LineOf(std::FILE* from) {
    char* line = nullptr;
    size_t room = 0;
    const ssize_t got = ::getline(&line, &room, from);
    std::string text = got > 0 ? std::string(line, static_cast<size_t>(got)) : std::string();
    std::free(line);
    return text;
}

// The CSV rows of the clicks asked for from every TK1 file of the location, in one file under
// one heading, as dump --csv writes them; the file takes its name only once it is complete.
ExportOutcome ExportCsv(const ResultsLocation& l, const ExportRequest& r) {
    ExportOutcome outcome;
    std::error_code ec;
    if (!r.Overwrite && std::filesystem::exists(r.Target, ec)) {
        outcome.Existing.push_back(r.Target);
        return outcome;
    }
    Chooser chooser{r, true};
    const dump::DumpOptions options = OptionsFor(r, chooser);
    ReplacingFile target;
    if (const int e = target.Open(r.Target); e != 0) {
        outcome.Problems =
            "cannot write " + PrintableName(r.Target) + ": " + ReplacingFileErrorText(e) + "\n";
        return outcome;
    }
    std::string written;  // the heading written
    bool ok = true;
    for (const ResultsFile& f : l.Files) {
        // Each file's rows go to a file of their own first: the heading is written once.
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> rows(std::tmpfile(), std::fclose);
        Captured err;
        if (!rows || !err.Ok()) {
            outcome.Problems += "cannot hold the rows of " + PrintableName(f.Path) + ": " +
                                std::strerror(errno) + "\n";
            ok = false;
            break;
        }
        const int status = dump::DumpTK1(f.Path, options, rows.get(), err.File());
        outcome.Problems += Messages(err.Text());
        if (status != dump::kDumpSound) ok = false;
        if (std::fflush(rows.get()) != 0) ok = false;
        std::rewind(rows.get());
        const std::string heading = LineOf(rows.get());
        if (heading.empty()) continue;
        const std::string first = LineOf(rows.get());
        if (first.empty() && !written.empty()) continue;
        if (heading != written) {
            if (!written.empty()) {
                outcome.Problems += "the rows of " + PrintableName(f.Path) +
                                    " have other columns: their heading is written before them\n";
            }
            std::fputs(heading.c_str(), target.Stream());
            written = heading;
        }
        std::fputs(first.c_str(), target.Stream());
        if (!CopyRest(rows.get(), target.Stream())) {
            outcome.Problems += "cannot copy the rows of " + PrintableName(f.Path) + "\n";
            ok = false;
        }
    }
    if (!CheckCount(ClicksAsked(l, r), chooser.Kept, outcome)) ok = false;
    if (!ok) {
        target.Discard();
        outcome.Problems += "nothing written to " + PrintableName(r.Target) + "\n";
        return outcome;
    }
    PendingReplacements earlier;
    int e = target.Commit(r.Overwrite ? &earlier : nullptr);
    if (e == ReplacingFile::kReplacesLater) {
        e = 0;
        for (const auto& [name, error] : earlier.Replace()) {
            if (error != 0) e = error;
        }
    }
    if (e != 0) {
        outcome.Problems +=
            "cannot write " + PrintableName(r.Target) + ": " + ReplacingFileErrorText(e) + "\n";
        return outcome;
    }
    outcome.Written.push_back(r.Target);
    outcome.Ok = true;
    return outcome;
}

}  // namespace

ExportOutcome ExportClicks(const ResultsLocation& location, const ExportRequest& request) {
    ExportOutcome outcome = request.Format == ExportFormat::Csv
                                ? ExportCsv(location, request)
                                : ExportPerRecording(location, request);
    while (!outcome.Problems.empty() && outcome.Problems.back() == '\n') {
        outcome.Problems.pop_back();
    }
    return outcome;
}

}  // namespace wtk::ui
