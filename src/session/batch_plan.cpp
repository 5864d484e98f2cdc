// What a batch will write, worked out before it writes anything: the names of its files, the
// gaps between the recordings of each TK1 file, and whether each file's minutes fit its header.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "base/utf8.h"
#include "engine/block_reader.h"
#include "input/format_check.h"
#include "input/selection.h"
#include "session/session.h"

namespace wtk {
namespace {

// The minute ends a file's samples reach as the engine closes minutes (base/sample_rate.h): a
// block closes at most one minute. A block's last samples are no positions of their own (the
// filters read them ahead). Minutes closed early by their click count cannot be foreseen.
int64_t MinuteEnds(const WavFileRec& rec, const SampleRate& rate) {
    const int64_t perMin = rate.SamplesPerMin;
    if (perMin <= 0) return 0;
    const int64_t samples = SamplesOf(rec);
    auto closes = [&](int64_t blockSamples, int64_t t0) {
        const int64_t positions = blockSamples - (BlockReader::kOverlapSamples + 1);
        return positions >= rate.PositionsToMinuteEnd(t0);
    };
    const int64_t first =
        std::min(samples, rate.FirstBlockSamplesAt(rec.Start.MicrosecondInMinute()));
    const int64_t rest = samples - first;
    return int64_t{closes(first, rec.Start.TimeInMinuteNear2MHz)} + rest / perMin +
           int64_t{closes(rest % perMin, 0)};
}

std::string ReplaceQuestion(const std::vector<std::string>& existing) {
    std::string text =
        FilesAre(existing.size()) + " already there and would be replaced by this conversion:\n";
    std::vector<std::string> names;
    for (const std::string& name : existing) names.push_back(PrintableName(name));
    for (const std::string& line : NamedLines(std::move(names))) text += line + "\n";
    return text + "\nReplace them?";
}

std::string LongGapQuestion(const std::vector<PlannedGap>& gaps, int32_t maxGapDays) {
    std::string text = "Recordings of one TK1 file lie more than " + std::to_string(maxGapDays) +
                       " days apart; the days between them would be written as empty minutes:\n";
    std::vector<std::string> lines;
    for (const PlannedGap& gap : gaps) lines.push_back(GapLine(gap));
    for (const std::string& line : NamedLines(std::move(lines))) text += line + "\n";
    return text + "\nWrite them?";
}

}  // namespace

std::string Session::SuggestedNameFor(const std::string& site, const WavFileRec& rec) {
    return site + " " + rec.IdentityName + " " + rec.DateString + ".TK1";
}

std::string Session::TK1BriefNameFor(const std::string& site, const WavFileRec& rec) {
    return TK1NameOf(site, rec);
}

const WavFileRec& Session::FirstListed() const {
    // The first file that was listed with its path (records of files that could not be opened
    // at selection are blank).
    const auto N = std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size());
    for (size_t i = 0; i < N; ++i) {
        if (!WavFileRecs[i].NameWithPath.empty()) return WavFileRecs[i];
    }
    return N > 0 ? WavFileRecs[0] : BlankWavFileRec;
}

std::string Session::SuggestedTK1Name() const {
    return SuggestedNameFor(Controls.AddedSiteNameEdit, FirstListed());
}

PlannedOutputs Session::PlanOutputs(const BatchPlan& batch, const std::string& chosen,
                                    bool exportPerGroup) const {
    PlannedOutputs plan;
    const BatchSettings& settings = batch.Settings;
    const bool scrapbook = batch.Kind == BatchKind::Scrapbook;
    const std::string folder(DirectoryPart(chosen));
    if (settings.IpiExport && !exportPerGroup) {
        plan.Outputs.push_back(std::string(Utf8DropRight(chosen, 4)) + " IPIs.txt");
    }
    const int64_t limit = int64_t{batch.MaxGapDays} * 1440;
    const auto N = std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size());

    // The driver's placement, run on the listed files: tk1min is the minute the TK1 file has
    // reached. A gap is the minutes left empty between the minute a file ends in and the
    // minute the next one starts in.
    const WavFileRec* first = nullptr;  // of the current group
    const WavFileRec* previous = nullptr;
    int64_t startMin = 0, tk1min = 0;
    auto closeGroup = [&] {
        if (first == nullptr) return;
        if (tk1min - startMin + 1 > TK1Writer::kMaxMinuteRecords || tk1min + 1 > INT32_MAX) {
            plan.Unfit.push_back(TK1BriefNameFor(settings.Site, *first) +
                                 " would hold more minutes than a TK1 file can count (" +
                                 std::to_string(TK1Writer::kMaxMinuteRecords) + ", " +
                                 DaysText(TK1Writer::kMaxMinuteRecords) + " days): from " +
                                 first->NameWithPath + " to the end of " + previous->NameWithPath);
        }
    };
    for (size_t i = 0; i < N; ++i) {
        const WavFileRec& rec = WavFileRecs[i];
        if (rec.NameWithPath.empty()) continue;
        // A start the corrections moved off the minute axis would place the file nowhere.
        if (!scrapbook && rec.Unplaced) plan.Unfit.push_back(UnplacedLine(rec));
        int64_t start = scrapbook ? int64_t{kScrapbookStartMin} + static_cast<int64_t>(i)
                                  : int64_t{rec.Start.Mn};
        if (first == nullptr || CompareUtf16(rec.IdentityName, first->IdentityName) != 0) {
            closeGroup();
            first = &rec;
            startMin = tk1min = start != 0 ? start : kUndatedStartMin;
            start = tk1min;
            const std::string tk1 = folder + TK1BriefNameFor(settings.Site, rec);
            plan.Outputs.push_back(tk1);
            if (settings.SourceLinkage) {
                plan.Outputs.push_back(std::string(Utf8DropRight(tk1, 4)) + ".txt");
            }
            if (settings.RecordingsTable) plan.Outputs.push_back(RecordingsTable::NameFor(tk1));
            if (settings.IpiExport && exportPerGroup) {
                plan.Outputs.push_back(
                    folder + std::string(Utf8DropRight(SuggestedNameFor(settings.Site, rec), 4)) +
                    " IPIs.txt");
            }
        } else if (start - tk1min - 1 > limit) {
            plan.LongGaps.push_back({previous->NameWithPath, rec.NameWithPath, start - tk1min - 1});
        }
        tk1min = std::max(start, tk1min) + MinuteEnds(rec, rate_);
        previous = &rec;
    }
    closeGroup();
    // A name the folder's file system cannot hold would fail only when the file is finished.
    const auto longest = static_cast<size_t>(LongestNameIn(folder));
    for (const std::string& output : plan.Outputs) {
        const size_t bytes = FileNamePart(output).size();
        if (bytes <= longest) continue;
        plan.Unfit.push_back(std::string(FileNamePart(output)) +
                             " is too long a file name for the folder (" + std::to_string(bytes) +
                             " bytes, at most " + std::to_string(longest) + ")");
    }
    return plan;
}

std::vector<std::string> ExistingFiles(const std::vector<std::string>& names) {
    std::vector<std::string> existing;
    for (const std::string& name : names) {
        struct stat st {};
        if (::lstat(name.c_str(), &st) == 0) existing.push_back(name);
    }
    return existing;
}

std::string GapLine(const PlannedGap& gap) {
    return DaysText(gap.Minutes) + " days (" + std::to_string(gap.Minutes) +
           (gap.Minutes == 1 ? " minute) from " : " minutes) from ") + PrintableName(gap.Before) +
           " to " + PrintableName(gap.After);
}

bool Session::ConfirmPlan(const std::string& chosen) {
    const PlannedOutputs plan = PlanOutputs(plan_, chosen);
    bool go = true;
    bool replace = plan_.ReplaceExisting;
    earlierFiles_.clear();
    if (!plan.Unfit.empty()) {
        std::string text;
        for (const std::string& line : plan.Unfit) text += (text.empty() ? "" : "\n") + line;
        host_.Report(Event(EventKind::OutputsRefused, text));
        go = false;
    } else if (plan_.AskBeforeWriting) {
        go = plan.LongGaps.empty() ||
             host_.AskYesNo(LongGapQuestion(plan.LongGaps, plan_.MaxGapDays));
        if (go) {
            const std::vector<std::string> existing = ExistingFiles(plan.Outputs);
            go = existing.empty() || host_.AskYesNo(ReplaceQuestion(existing));
            // Names that were free are not taken from a file another run puts there meanwhile.
            replace = !existing.empty();
        }
    }
    if (!go) {
        LastOutcome = Outcome::Refused;
        Busy = false;
    }
    Writer.Replacements = replace ? &replacements_ : nullptr;
    if (go && replace) {
        // The files a failed batch keeps (a directory in an output's place is no such file).
        for (std::string& name : ExistingFiles(plan.Outputs)) {
            if (!std::filesystem::is_directory(name)) earlierFiles_.push_back(std::move(name));
        }
    }
    return go;
}

}  // namespace wtk
