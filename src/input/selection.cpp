#include "input/selection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <optional>
#include <set>
#include <utility>

#include "base/calendar.h"
#include "base/host.h"
#include "base/main_controls.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "input/harp_chunk.h"
#include "input/location_groups.h"
#include "input/name_parsing.h"
#include "input/name_pattern.h"
#include "input/start_times.h"

namespace wtk {
namespace {

// Clears Busy when the command ends by an exception, so the button stays usable.
class BusyGuard {
public:
    explicit BusyGuard(bool& busy) : busy_(busy) {}
    ~BusyGuard() {
        if (armed_) busy_ = false;
    }
    void Release() { armed_ = false; }

private:
    bool& busy_;
    bool armed_ = true;
};

// A file named twice (a folder and a file in it, two overlapping folders, a link beside its
// target) is one recording: listed twice, its clicks would be written twice into the same
// minutes. The first of its names is kept; a path that cannot be read stays, to be reported.
StringList DropRepeatedFiles(StringList paths) {
    std::set<std::pair<dev_t, ino_t>> seen;
    StringList kept;
    kept.reserve(paths.size());
    for (std::string& p : paths) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            !seen.insert({st.st_dev, st.st_ino}).second) {
            continue;
        }
        kept.push_back(std::move(p));
    }
    return kept;
}

// Steps shared by both ways in: reset, latch, header line.
void BeginSelection(SelectionContext& c) {
    c.host.HideSettingsWindow();
    c.NofWAVfilesFound = 0;
    c.host.SetText(Label::BigLbl, "Finding WAV files");
    c.Busy = true;
    c.STOP = false;
    c.ExportIPIandAmpsToText = c.MakeIPIexportFileChecked;
    if (c.NofInputsSkipped != nullptr) *c.NofInputsSkipped = 0;
    c.host.AppendMemo(Memo::FilesMemo, FilesMemoHeader());
}

// What the start times of a listing tell the user once, after the list: names in the
// recorders' local time, and locations taken from folders.
struct ListingNotes {
    size_t LocalNames = 0;
    std::vector<int32_t> LocalZones;  // each zone once, in the order met
    // The folders that gave recordings their location, in the order met.
    struct FolderLocation {
        std::string Dir;  // the folder's path, as the recordings' paths give it
        std::string Location;
        size_t Recordings = 0;
    };
    std::vector<FolderLocation> FolderLocations;
};

// A start the recording's own metadata gave (its recorder's clock), not its name.
bool OwnTimeSource(TimeSource source) {
    return source != TimeSource::None && source != TimeSource::Name &&
           source != TimeSource::Pattern;
}

// Recordings dated by their own time whose names give no location would all fall into one
// group of the site name, whatever site recorded them: each folder's name is their location.
void LocationFromFolder(WavFileRec& rec, std::string_view site, ListingNotes& notes) {
    if (!OwnTimeSource(rec.StartTime.Source) ||
        !ShortNameGivesNoLocation(rec.OriginalShortNameMinusSuffix) ||
        (rec.IdentityName != std::string(site) + " " && rec.IdentityName != "No Name ")) {
        return;
    }
    const std::string_view folder = FolderName(rec.Path());
    if (folder.empty()) return;
    rec.IdentityName = folder;
    std::string_view dir = DirectoryPart(rec.Path());
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    auto& seen = notes.FolderLocations;
    auto at = std::find_if(seen.begin(), seen.end(), [&](const auto& f) { return f.Dir == dir; });
    if (at == seen.end()) {
        seen.push_back({std::string(dir), std::string(folder), 1});
    } else {
        at->Recordings += 1;
    }
}

// The start time of a listed file from its name and its own time, as the time-source choice
// takes them. A name that gives no date is reported only where the file has no time of its own.
// A raw file of an XWAV file has the time its harp chunk gives it as its own, and the name's
// time, which is that of the first raw file, moved by as much as it starts after the first. The
// name is read from the file's path; the record takes the raw file's name before its start is
// chosen.
void ReadStartTime(SelectionContext& c, WavFileRec& rec,
                   const std::optional<NameDatePattern>& pattern, StringList& warnings,
                   ListingNotes& notes) {
    const auto choice = static_cast<TimeSourceChoice>(c.Controls.TimeSourceCombo);
    const bool raw = rec.Raw.Number > 0;
    std::optional<RecordingStart> own;
    if (!c.Scrapbook && choice != TimeSourceChoice::Name) {
        own = raw ? std::optional(RecordingStart{rec.Raw.StartUs, false, TimeSource::Harp})
                  : ReadRecordingStart(rec.NameWithPath);
    }
    const bool quiet = own.has_value();
    if (pattern) {
        ApplyNameDatePattern(rec, *pattern, c.Scrapbook, c.Rate, c.host,
                             c.Controls.AddedSiteNameEdit, quiet);
    } else {
        DateAndIdentityFromName(rec, c.Scrapbook, quiet, c.Rate, c.host,
                                c.Controls.AddedSiteNameEdit);
    }
    if (raw) {
        rec.NameWithPath = RawFileName(rec.FilePath, rec.Raw);
        if (rec.StartTime.Source != TimeSource::None) {
            rec.StartTime.Microseconds += rec.Raw.StartUs - rec.Raw.FirstStartUs;
        }
    }
    if (c.Scrapbook) return;
    static const TimeCorrections kNone;
    StartChoice chosen =
        ResolveStartTime(rec, own, choice, c.Corrections != nullptr ? *c.Corrections : kNone,
                         c.Controls.ExactStart, c.Rate);
    if (chosen.Warning) warnings.push_back(std::move(*chosen.Warning));
    if (chosen.LocalNameZone) {
        notes.LocalNames += 1;
        auto& zones = notes.LocalZones;
        if (std::find(zones.begin(), zones.end(), *chosen.LocalNameZone) == zones.end()) {
            zones.push_back(*chosen.LocalNameZone);
        }
    }
    LocationFromFolder(rec, c.Controls.AddedSiteNameEdit, notes);
}

// The notes' lines.
StringList NoteLines(const ListingNotes& notes) {
    StringList lines;
    if (notes.LocalNames > 0) lines.push_back(LocalNamesNote(notes.LocalNames, notes.LocalZones));
    for (const auto& f : notes.FolderLocations) {
        const bool one = f.Recordings == 1;
        lines.push_back(std::to_string(f.Recordings) + (one ? " recording" : " recordings") +
                        " in " + f.Dir + ", dated by " + (one ? "its" : "their") + " own time, " +
                        (one ? "has" : "have") + " no location in " +
                        (one ? "its name" : "their names") + ": location \"" + f.Location +
                        "\", the folder's name");
    }
    return lines;
}

void NoFilesSelected(SelectionContext& c) {
    c.host.Report(Event(EventKind::NoFilesSelected, "No Files selected"));
    c.host.SetText(Label::BigLbl, "No Files selected");
    c.Busy = false;
}

}  // namespace

// The header (with the size in bytes) of a file that can be opened for reading; empty for
// anything else (missing, unreadable, a directory, a pipe or device, a dangling link).
std::optional<WavHeader> OpenedFileHeader(const std::string& path) {
    // Non-blocking, so that opening a named pipe cannot hang the listing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::optional<WavHeader> header;
    if (regular) header = ReadWavHeaderOfFd(fd, static_cast<int64_t>(st.st_size));
    ::close(fd);
    return header;
}

std::optional<ListedFile> OpenedListedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<ListedFile> listed;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        listed.emplace();
        listed->Header = ReadWavHeaderOfFd(fd, static_cast<int64_t>(st.st_size));
        auto raws = ReadRawFiles(ReadAtFd(fd), listed->Header);
        if (auto* list = std::get_if<std::vector<RawFile>>(&raws)) {
            listed->Raws = std::move(*list);
        } else {
            listed->HarpProblem = std::get<std::string>(raws);
        }
    }
    ::close(fd);
    return listed;
}

namespace {

// samples x 1000 / SamplesPerSec, rounded half to even, within the int32 range.
int32_t DurationMsFromSamples(int64_t samples, int32_t SamplesPerSec) {
    if (SamplesPerSec <= 0) return 0;
    if (samples > INT64_MAX / 1000) return INT32_MAX;  // far beyond the int32 range anyway
    const int64_t num = samples * 1000;
    const int64_t den = SamplesPerSec;
    int64_t q = num / den;
    int64_t r = num % den;
    if (r < 0) {  // floor division: 0 <= r < den
        q -= 1;
        r += den;
    }
    if (2 * r > den || (2 * r == den && (q & 1) != 0)) q += 1;
    return static_cast<int32_t>(std::clamp<int64_t>(q, INT32_MIN, INT32_MAX));
}

}  // namespace

int32_t DurationMsFromSize(int64_t SizeBytes, int32_t SamplesPerSec) {
    return DurationMsFromSamples(SizeBytes / 2 - 44, SamplesPerSec);
}

int32_t DurationMsOf(const WavFileRec& rec, int32_t SamplesPerSec) {
    const RecordingLayout layout = rec.Layout();
    if (rec.Raw.Number == 0 && layout.Read == RecordingLayout::Reading::Bytes16) {
        // The size up to the end of the samples: chunks after the data chunk are no sound.
        return DurationMsFromSize(std::min(layout.End, rec.Header.FileSize), SamplesPerSec);
    }
    return DurationMsFromSamples(layout.Samples(), SamplesPerSec);
}

std::string DurationCell(int32_t DurationMs) {
    const int64_t ms = DurationMs;
    const int64_t hundredths = ((ms < 0 ? -ms : ms) + 5) / 10;
    std::string cell = ms < 0 && hundredths != 0 ? "-" : "";
    const int64_t frac = hundredths % 100;
    cell += std::to_string(hundredths / 100);
    cell += '.';
    cell += static_cast<char>('0' + frac / 10);
    cell += static_cast<char>('0' + frac % 10);
    return cell;
}

std::string FilesMemoHeader() {
    return "Start time          \ts   \tDuration s\tIdentity name" + std::string(37, ' ') +
           "\tLong name" + std::string(102, ' ') + "\tTK1 name";
}

std::string FilesMemoLine(const WavFileRec& rec, const std::string& tk1Name) {
    return MinToDateStr(rec.Start.Mn) + "\t" + std::to_string(rec.Start.Second) + "\t" +
           DurationCell(rec.DurationMs) + "\t" + PrintableName(rec.IdentityName) + "\t" +
           PrintableName(rec.NameWithPath) + "\t" + PrintableName(tk1Name);
}

std::string TK1NameOf(const std::string& site, const WavFileRec& first) {
    return site + first.IdentityName + " " + first.DateString + ".TK1";
}

// Repeated passes that exchange strictly out-of-order neighbours leave equal keys in their
// found order: exactly what a stable sort gives, without the passes' quadratic time on long
// lists that arrive in reverse order.
void SortWavFileRecsByName(WavFileRecTable& recs) {
    std::stable_sort(recs.begin(), recs.end(), [](const WavFileRec& a, const WavFileRec& b) {
        return CompareUtf16(a.IdentityName, b.IdentityName) < 0;
    });
}

void SortWavFileRecsByTime(WavFileRecTable& recs) {
    // Neighbours are compared only inside a run of equal names, so each run is sorted alone.
    auto first = recs.begin();
    while (first != recs.end()) {
        auto last = std::find_if(first, recs.end(), [&](const WavFileRec& r) {
            return CompareUtf16(r.IdentityName, first->IdentityName) != 0;
        });
        std::stable_sort(first, last, [](const WavFileRec& a, const WavFileRec& b) {
            if (a.Start.Mn != b.Start.Mn) return a.Start.Mn < b.Start.Mn;
            return a.Start.TimeInMinuteNear2MHz < b.Start.TimeInMinuteNear2MHz;
        });
        first = last;
    }
}

int32_t CountNameGroups(const WavFileRecTable& recs) {
    int32_t nOfBriefNames = 0;
    std::string_view previous;
    for (const WavFileRec& r : recs) {
        // Blank records (files not opened, or not reached by a stopped listing) are converted
        // into no TK1 file; the first record with a file starts a group, whatever its name.
        if (r.NameWithPath.empty()) continue;
        if (nOfBriefNames == 0 || CompareUtf16(r.IdentityName, previous) != 0) {
            previous = r.IdentityName;
            ++nOfBriefNames;
        }
    }
    return nOfBriefNames;
}

void ListWavFiles(SelectionContext& c, const StringList& ListOfLongNames,
                  const StringList& skipped) {
    BusyGuard guard(c.Busy);
    Host& host = c.host;
    assert(ListOfLongNames.size() <= static_cast<size_t>(INT32_MAX));
    const auto N = static_cast<int32_t>(ListOfLongNames.size());
    host.SetText(Label::BigLbl, "Ordering list of " + std::to_string(N) + " WAV files");
    host.SetText(Label::SelectBatchBtn, "Select WAV files");

    // The front ends refuse a pattern that does not parse before they select; such a pattern
    // leaves the built-in forms.
    std::optional<NameDatePattern> pattern;
    if (!c.Controls.NameDatePatternEdit.empty()) {
        auto parsed = NameDatePattern::Parse(c.Controls.NameDatePatternEdit);
        if (auto* p = std::get_if<NameDatePattern>(&parsed)) pattern = std::move(*p);
    }
    const ReadOptions options{c.Controls.ToSixteenBit, c.Controls.Channel};
    WavFileRecTable recs;
    recs.reserve(static_cast<size_t>(N));
    StringList warnings;  // about start times and raw files, shown after the list
    ListingNotes notes;
    int32_t I = 0;
    for (; I < N; ++I) {
        if (I % 20 == 0) host.SetText(Label::SelectBatchBtn, std::to_string(I));
        const std::string& path = ListOfLongNames[static_cast<size_t>(I)];
        std::optional<ListedFile> listed = OpenedListedFile(path);
        if (!listed) {
            host.Report(Event(EventKind::InputNotOpened, path + " not opened").About(path, true));
            if (c.NofInputsSkipped != nullptr) *c.NofInputsSkipped += 1;
            recs.push_back(BlankWavFileRec);
        } else {
            if (!listed->HarpProblem.empty()) {
                warnings.push_back(path + ": " + listed->HarpProblem +
                                   "; its samples are read as one recording");
            }
            // One record for the file, or one for each of its raw files.
            const size_t n = std::max<size_t>(listed->Raws.size(), 1);
            for (size_t k = 0; k < n; ++k) {
                WavFileRec& rec = recs.emplace_back(BlankWavFileRec);
                rec.NameWithPath = path;
                rec.Header = listed->Header;
                rec.Read = options;
                if (!listed->Raws.empty()) {
                    rec.FilePath = path;
                    rec.Raw = listed->Raws[k];
                }
                rec.DurationMs = DurationMsOf(rec, c.Rate.SamplesPerSec);
                if (c.Controls.UseFileNameDateTimes) {
                    ReadStartTime(c, rec, pattern, warnings, notes);
                } else {
                    rec.NameWithPath = RawFileName(path, rec.Raw);
                }
            }
        }
        host.ProcessMessages();
        if (c.STOP) {
            host.Report(Event(EventKind::ListingStopped,
                              "File listing stopped at file " + std::to_string(I + 1)));
            break;
        }
    }
    // A stopped listing leaves a blank record for each file it did not reach.
    if (I < N) recs.resize(recs.size() + static_cast<size_t>(N - I - 1), BlankWavFileRec);
    c.WavFileRecs = std::move(recs);
    c.NofWAVfilesFound = static_cast<int32_t>(c.WavFileRecs.size());

    if (c.WavFileRecs.size() > 1) {
        host.SetText(Label::BigLbl, "Sorting WAV file names");
        SortWavFileRecsByName(c.WavFileRecs);
        host.SetText(Label::BigLbl, "Sorting WAV file times");
        SortWavFileRecsByTime(c.WavFileRecs);
    }
    if (c.OnlyLocation != nullptr) {
        KeepLocation(c.WavFileRecs, *c.OnlyLocation);
        c.NofWAVfilesFound = static_cast<int32_t>(c.WavFileRecs.size());
    }
    const int32_t nOfBriefNames = CountNameGroups(c.WavFileRecs);
    host.SetText(Label::SelectBatchBtn, "Select WAV files");
    if (nOfBriefNames > 1) {
        host.SetText(Label::BigLbl, std::to_string(c.NofWAVfilesFound) + " WAV files in " +
                                        std::to_string(nOfBriefNames) + " name groups");
    } else {
        host.SetText(Label::BigLbl,
                     std::to_string(c.NofWAVfilesFound) + " WAV files, all in one name group");
    }
    StringList lines;
    lines.reserve(c.WavFileRecs.size());
    // Each line names the TK1 file its recording goes into: its location's, named after the
    // location's first file.
    const WavFileRec* first = nullptr;
    std::string tk1;
    for (const WavFileRec& rec : c.WavFileRecs) {
        if (rec.NameWithPath.empty()) {
            lines.push_back(FilesMemoLine(rec, ""));
            continue;
        }
        if (first == nullptr || CompareUtf16(rec.IdentityName, first->IdentityName) != 0) {
            first = &rec;
            tk1 = TK1NameOf(c.Controls.AddedSiteNameEdit, rec);
        }
        lines.push_back(FilesMemoLine(rec, tk1));
    }
    for (const std::string& line : lines) host.AppendMemo(Memo::FilesMemo, line);
    for (const std::string& text : skipped) host.AppendNote(Memo::FilesMemo, PrintableName(text));
    if (c.Controls.UseFileNameDateTimes && !c.Scrapbook) {
        for (std::string& text : OverlapWarnings(c.WavFileRecs, c.Rate.SamplesPerSec)) {
            warnings.push_back(std::move(text));
        }
    }
    for (std::string& text : NoteLines(notes)) warnings.push_back(std::move(text));
    for (const std::string& text : warnings) host.SetText(Label::StartTimeWarning, text);
    if (c.NofInputsSkipped != nullptr) *c.NofInputsSkipped += static_cast<int32_t>(skipped.size());
    c.Busy = false;
    c.STOP = false;
    guard.Release();
}

void SelectBatchBtnClick(SelectionContext& c) {
    if (c.Busy) return;
    BusyGuard guard(c.Busy);
    BeginSelection(c);
    bool ProcessingDirectories = false;
    if (c.Controls.SearchDirectories) ProcessingDirectories = c.host.AskYesNo(kDirectoryQuestion);

    StringList ListOfLongNames, skipped;
    if (ProcessingDirectories) {
        const StringList FileTypeList{std::string(kWavFileType), std::string(kFlacFileType)};
        const std::optional<std::string> dir = c.host.ChooseDirectory(kDirectoryDialogTitle);
        if (!dir || dir->empty()) {
            NoFilesSelected(c);
            guard.Release();
            return;
        }
        ListOfLongNames = GetAllFileNamesInSubDirsFromDir(*dir, FileTypeList, &skipped);
    } else {
        std::optional<std::vector<std::string>> chosen =
            c.host.OpenFilesDialog(kOpenDialogTitle, kOpenDialogFilter);
        if (!chosen || chosen->empty()) {
            NoFilesSelected(c);
            guard.Release();
            return;
        }
        ListOfLongNames = std::move(*chosen);
    }
    guard.Release();
    ListWavFiles(c, DropRepeatedFiles(std::move(ListOfLongNames)), skipped);
}

StringList ExpandSelectionPaths(const std::vector<std::string>& paths, StringList* skipped) {
    const StringList FileTypeList{std::string(kWavFileType), std::string(kFlacFileType)};
    StringList result;
    for (const std::string& p : paths) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            StringList found = GetAllFileNamesInSubDirsFromDir(p, FileTypeList, skipped);
            result.insert(result.end(), std::make_move_iterator(found.begin()),
                          std::make_move_iterator(found.end()));
        } else {
            result.push_back(p);
        }
    }
    return DropRepeatedFiles(std::move(result));
}

void SelectPaths(SelectionContext& c, const std::vector<std::string>& paths) {
    if (c.Busy) return;
    BusyGuard guard(c.Busy);
    BeginSelection(c);
    StringList skipped;
    const StringList ListOfLongNames = ExpandSelectionPaths(paths, &skipped);
    guard.Release();
    ListWavFiles(c, ListOfLongNames, skipped);
}

}  // namespace wtk
