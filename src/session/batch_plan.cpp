// What a batch will write, worked out before it writes anything: the names of its files, the
// gaps between the recordings of each TK1 file, and whether each file's minutes fit its header.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "base/utf8.h"
#include "input/format_check.h"
#include "session/session.h"

namespace wtk {
namespace {

// Minutes a file's samples can close at most: its listed length, rounded up, and one more for
// the minute it starts in.
int64_t MinutesSpanned(const WavFileRec& rec) {
    return std::max<int64_t>(rec.DurationMs, 0) / 60000 + 2;
}

}  // namespace

std::string DaysText(int64_t minutes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(minutes) / 1440.0);
    return buf;
}

std::string Session::SuggestedNameFor(const WavFileRec& rec) const {
    return Controls.AddedSiteNameEdit + " " + rec.IdentityName + " " + rec.DateString + ".TK1";
}

std::string Session::TK1BriefNameFor(const WavFileRec& rec) const {
    return Controls.AddedSiteNameEdit + rec.IdentityName + " " + rec.DateString + ".TK1";
}

std::string Session::SuggestedTK1Name() const {
    // The first file that was listed with its path (records of files that could not be opened
    // at selection are blank).
    const auto N = std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size());
    for (size_t i = 0; i < N; ++i) {
        if (!WavFileRecs[i].NameWithPath.empty()) return SuggestedNameFor(WavFileRecs[i]);
    }
    return SuggestedNameFor(N > 0 ? WavFileRecs[0] : BlankWavFileRec);
}

Session::BatchPlan Session::PlanBatch(const std::string& chosen, bool scrapbook,
                                      bool exportPerGroup) const {
    BatchPlan plan;
    const std::string folder(DirectoryPart(chosen));
    if (ExportIPIandAmpsToText && !exportPerGroup) {
        plan.Outputs.push_back(std::string(Utf8DropRight(chosen, 4)) + " IPIs.txt");
    }
    const int64_t limit = int64_t{MaxGapDays} * 1440;
    const auto N = std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size());

    // The driver's placement, run on the listed lengths: TK1min, the minute the file has
    // reached, is taken as far as each file can bring it, so the minute count is never less
    // than the one written. The gap before a file is measured from where its predecessor
    // ends.
    const WavFileRec* first = nullptr;  // of the current group
    const WavFileRec* previous = nullptr;
    int64_t startMin = 0, tk1min = 0, previousEnd = 0;
    auto closeGroup = [&] {
        if (first == nullptr) return;
        if (tk1min - startMin + 1 > TK1Writer::kMaxMinuteRecords || tk1min + 1 > INT32_MAX) {
            plan.Unfit.push_back(TK1BriefNameFor(*first) +
                                 " would hold more minutes than a TK1 file can count (" +
                                 std::to_string(TK1Writer::kMaxMinuteRecords) + ", " +
                                 DaysText(TK1Writer::kMaxMinuteRecords) + " days): from " +
                                 first->NameWithPath + " to the end of " + previous->NameWithPath);
        }
    };
    for (size_t i = 0; i < N; ++i) {
        const WavFileRec& rec = WavFileRecs[i];
        if (rec.NameWithPath.empty()) continue;
        int64_t start = scrapbook ? int64_t{kScrapbookStartMin} + static_cast<int64_t>(i)
                                  : int64_t{rec.Start.Mn};
        if (first == nullptr || CompareUtf16(rec.IdentityName, first->IdentityName) != 0) {
            closeGroup();
            first = &rec;
            startMin = tk1min = start != 0 ? start : kUndatedStartMin;
            start = tk1min;
            const std::string tk1 = folder + TK1BriefNameFor(rec);
            plan.Outputs.push_back(tk1);
            if (Controls.MakeSourceLinkageFile) {
                plan.Outputs.push_back(std::string(Utf8DropRight(tk1, 4)) + ".txt");
            }
            if (ExportIPIandAmpsToText && exportPerGroup) {
                plan.Outputs.push_back(
                    folder + std::string(Utf8DropRight(SuggestedNameFor(rec), 4)) + " IPIs.txt");
            }
        } else if (start > tk1min && start - previousEnd > limit) {
            plan.LongGaps.push_back(
                {previous->NameWithPath, rec.NameWithPath, start - previousEnd});
        }
        const int64_t placed = std::max(start, tk1min);
        tk1min = placed + MinutesSpanned(rec);
        previousEnd = placed + (std::max<int64_t>(rec.DurationMs, 0) + 59999) / 60000;
        previous = &rec;
    }
    closeGroup();
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

std::string Session::ReplaceQuestion(const std::vector<std::string>& existing) {
    std::string text =
        FilesAre(existing.size()) + " already there and would be replaced by this conversion:\n";
    for (size_t i = 0; i < existing.size() && i < kFilesNamed; ++i) {
        text += PrintableName(existing[i]) + "\n";
    }
    if (existing.size() > kFilesNamed) {
        text += "... and " + std::to_string(existing.size() - kFilesNamed) + " more\n";
    }
    return text + "\nReplace them?";
}

std::string Session::LongGapQuestion(const std::vector<PlannedGap>& gaps) const {
    std::string text = "Recordings of one TK1 file lie more than " + std::to_string(MaxGapDays) +
                       " days apart; the days between them would be written as empty minutes:\n";
    for (size_t i = 0; i < gaps.size() && i < kFilesNamed; ++i) {
        text += GapLine(gaps[i]) + "\n";
    }
    if (gaps.size() > kFilesNamed) {
        text += "... and " + std::to_string(gaps.size() - kFilesNamed) + " more\n";
    }
    return text + "\nWrite them?";
}

std::string GapLine(const Session::PlannedGap& gap) {
    return DaysText(gap.Minutes) + " days (" + std::to_string(gap.Minutes) + " minutes) from " +
           PrintableName(gap.Before) + " to " + PrintableName(gap.After);
}

}  // namespace wtk
