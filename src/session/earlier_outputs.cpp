#include "session/earlier_outputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <variant>

#include "base/utf8.h"
#include "output/recordings_table.h"
#include "output/tk1_writer.h"
#include "session/recordings_row.h"
#include "session/session.h"

namespace wtk {
namespace {

bool Exists(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::lstat(name.c_str(), &st) == 0;
}

bool RegularFile(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The header fields a file's finalisation writes: everything else is its creation's.
bool FinalisationByte(size_t i) {
    return (i >= tk1::hdrLastLoggingMin && i < tk1::hdrFinalisedAtMin + 4) ||
           (i >= tk1::hdrLastLoggingMin2 && i < tk1::hdrLastLoggingMin2 + 4) ||
           (i >= tk1::hdrMinuteCount && i < tk1::hdrMinuteCount + 3);
}

struct TK1Check {
    bool OtherCreation = false;  // its creation fields are not this run's
    std::string Unsound;         // why it is not a whole, finalised file ("" it is)
};

TK1Check CheckTK1(const std::string& path, const std::array<uint8_t, tk1::kHeaderBytes>& creation) {
    TK1Check c;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        c.Unsound = "its TK1 file cannot be read";
        return c;
    }
    std::array<uint8_t, tk1::kHeaderBytes> header{};
    if (std::fread(header.data(), 1, header.size(), f) != header.size()) {
        std::fclose(f);
        c.OtherCreation = true;
        c.Unsound = "its TK1 file has no whole header";
        return c;
    }
    for (size_t i = 0; i < header.size(); ++i) {
        if (!FinalisationByte(i) && header[i] != creation[i]) c.OtherCreation = true;
    }
    const tk1::Header h = tk1::DecodeHeader(header);
    tk1::BodyWalk walk(h.StartMin);
    std::vector<uint8_t> buf(size_t{4096} * tk1::kRecordBytes);
    size_t got = 0, partial = 0;
    bool endLast = false;
    while ((got = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        partial = got % tk1::kRecordBytes;
        for (size_t at = 0; at + tk1::kRecordBytes <= got; at += tk1::kRecordBytes) {
            endLast = walk.Next(buf.data() + at).Kind == tk1::RecordKind::End;
        }
        if (partial != 0) break;
    }
    const bool readFailed = std::ferror(f) != 0;
    std::fclose(f);
    const int64_t counted = walk.CountedMinutes();
    const int64_t last = int64_t{h.StartMin} + counted;
    if (readFailed) {
        c.Unsound = "its TK1 file cannot be read";
    } else if (partial != 0 || !endLast || walk.DataAfterEnd() || walk.LeadBad() || counted < 1) {
        c.Unsound = "its TK1 file does not end with its end record";
    } else if (h.MinuteCount != static_cast<uint32_t>(counted) || h.LastLoggingMin != last ||
               h.LastLoggingMin2 != last) {
        c.Unsound = "its TK1 file's header does not count its minutes";
    }
    return c;
}

// The samples a recording gives whole, and whether a count other than that can only be short
// (a FLAC stream may hold more than its STREAMINFO says; one of unknown length any number).
struct Expected {
    int64_t Samples = 0;
    bool AtLeast = false;
    bool Unknown = false;
};

Expected ExpectedOf(const WavFileRec& rec) {
    const RecordingLayout layout = rec.Layout();
    Expected e;
    e.Samples = layout.Samples();
    if (layout.Read == RecordingLayout::Reading::Flac) {
        e.Unknown = layout.End < 0;
        e.AtLeast = layout.ToStreamEnd;
    }
    return e;
}

std::string Named(const std::string& name) {
    return PrintableName(std::string(FileNamePart(name)));
}

}  // namespace

EarlierOutputs JudgeEarlierOutputs(const EarlierOutputsQuery& q) {
    EarlierOutputs result;
    const LocationOutputNames& n = q.Names;
    std::vector<std::string> planned;
    for (const std::string* name : {&n.Tk1, &n.Linkage, &n.Table, &n.Export}) {
        if (!name->empty()) planned.push_back(*name);
    }
    std::string missing;
    bool any = false;
    for (const std::string& name : planned) {
        if (RegularFile(name)) {
            any = true;
        } else if (Exists(name)) {
            // Not a file this tool writes: nothing of it is replaced unasked.
            return {EarlierState::Changed, Named(name) + " is no regular file"};
        } else if (missing.empty()) {
            missing = Named(name) + " is missing";
        }
    }
    if (!any) return result;

    auto changed = [](std::string why) { return EarlierOutputs{EarlierState::Changed, why}; };
    std::string unfinished = missing;
    if (RegularFile(n.Tk1)) {
        const TK1Check tk1 = CheckTK1(n.Tk1, q.CreationHeader);
        if (tk1.OtherCreation) {
            return changed(Named(n.Tk1) +
                           " was made with other settings or another first "
                           "recording");
        }
        if (unfinished.empty()) unfinished = tk1.Unsound;
    }

    // The table says which recordings were converted, and how far.
    size_t rowsListed = 0;
    bool allWhole = true;
    if (n.Table.empty()) {
        if (unfinished.empty()) unfinished = "it has no recordings table to tell";
    } else if (RegularFile(n.Table)) {
        std::ifstream in(n.Table, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        auto decoded = tk1::DecodeRecordingsTable(text);
        if (const auto* error = std::get_if<std::string>(&decoded)) {
            return changed(Named(n.Table) + " cannot be read: " + *error);
        }
        const auto& rows = std::get<std::vector<tk1::RecordingRow>>(decoded);
        rowsListed = rows.size();
        if (rows.size() > q.Recs.size()) {
            return changed(Named(n.Table) + " lists " + std::to_string(rows.size()) +
                           " recordings, the location has " + std::to_string(q.Recs.size()));
        }
        for (size_t i = 0; i < rows.size(); ++i) {
            const tk1::RecordingRow& row = rows[i];
            const WavFileRec& rec = q.Recs[i];
            const tk1::RecordingRow now = RecordingsTableRow(rec, 0, 0, q.SamplesPerSec);
            if (row.Path != now.Path) {
                return changed(Named(n.Table) + " lists " + row.Path + " where the location has " +
                               now.Path);
            }
            if (row.StartUs != now.StartUs || row.Zoned != now.Zoned ||
                row.TimeSource != now.TimeSource || row.CorrectionUs != now.CorrectionUs ||
                row.RateHz != now.RateHz) {
                return changed(Named(n.Table) + " gives " + row.Path +
                               " another start time or rate than this run");
            }
            const Expected e = ExpectedOf(rec);
            if (!e.Unknown && !e.AtLeast && row.Samples > e.Samples) {
                return changed(row.Path + " holds fewer samples than were converted from it");
            }
            const bool whole = e.Unknown ? row.Samples > 0 : row.Samples >= e.Samples;
            if (!whole) {
                // The last one where a stop ended the run; any one a failed read cut short.
                allWhole = false;
                if (unfinished.empty()) unfinished = row.Path + " was converted in part";
            }
        }
        if (rows.size() < q.Recs.size() && unfinished.empty()) {
            unfinished = Named(n.Table) + " lists " + std::to_string(rows.size()) + " of its " +
                         std::to_string(q.Recs.size()) + " recordings";
        }
    }
    if (unfinished.empty() && allWhole && rowsListed == q.Recs.size()) {
        return {EarlierState::Complete, ""};
    }
    return {EarlierState::Unfinished, unfinished};
}

LocationOutputNames Session::OutputNamesOf(const BatchPlan& plan, const std::string& chosen,
                                           const WavFileRec& first) {
    const BatchSettings& s = plan.Settings;
    const std::string folder(DirectoryPart(chosen));
    LocationOutputNames names;
    names.Tk1 = folder + TK1BriefNameFor(s.Site, first);
    if (s.SourceLinkage) names.Linkage = std::string(Utf8DropRight(names.Tk1, 4)) + ".txt";
    if (s.RecordingsTable) names.Table = RecordingsTable::NameFor(names.Tk1);
    if (s.IpiExport) {
        names.Export =
            folder + std::string(Utf8DropRight(SuggestedNameFor(s.Site, first), 4)) + " IPIs.txt";
    }
    return names;
}

EarlierOutputs Session::JudgeEarlierOutputs(const BatchPlan& plan, const std::string& chosen,
                                            std::span<const WavFileRec> recs) const {
    if (recs.empty()) return {};
    EarlierOutputsQuery q;
    q.Names = OutputNamesOf(plan, chosen, recs.front());
    q.Recs = recs;
    q.SamplesPerSec = rate_.SamplesPerSec;
    const int32_t startMin = plan.Kind == BatchKind::Scrapbook ? kScrapbookStartMin
                             : recs.front().Start.Mn != 0      ? recs.front().Start.Mn
                                                               : kUndatedStartMin;
    TK1HeaderInputs in;
    in.Settings = &Settings;
    in.LoggerNumberText = plan.Settings.LoggerText;
    in.HighPassFilterIndex = plan.Settings.HighPassFilterIndex;
    PutCreationHeader(q.CreationHeader, in, startMin);
    return ::wtk::JudgeEarlierOutputs(q);
}

std::string Session::SummaryLineOf(const BatchPlan& plan, const std::string& chosen,
                                   std::span<const WavFileRec> recs) const {
    if (recs.empty()) return {};
    int64_t bytes = 0;
    for (const WavFileRec& rec : recs) {
        bytes += rec.Raw.Number > 0 ? rec.Raw.ByteLength : rec.Header.FileSize;
    }
    struct stat st {};
    const std::string tk1 = OutputNamesOf(plan, chosen, recs.front()).Tk1;
    const int64_t tk1Bytes = ::stat(tk1.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
    return PrintableName(TK1BriefNameFor(plan.Settings.Site, recs.front())) + "\t" +
           std::to_string(recs.size()) + "\t" + std::to_string(CompressionFigure(bytes, tk1Bytes));
}

}  // namespace wtk
