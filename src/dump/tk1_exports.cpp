#include "dump/tk1_exports.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include "base/calendar.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "input/format_check.h"
#include "input/harp_chunk.h"
#include "input/recording_layout.h"
#include "input/wav_header.h"
#include "output/replacing_file.h"

namespace wtk::dump {

const char* const kRavenHeading =
    "Selection\tView\tChannel\tBegin Time (s)\tEnd Time (s)\tLow Freq (Hz)\tHigh Freq (Hz)\t"
    "Begin File\tBegin Path\tFile Offset (s)\tNcyc\tPmax\tkHz\tPkAtPosn\tClkIPIrangeCode\t"
    "IPIpreMax\tIPIPostMax\tIPIPost1\tIPIPost2\tPkMinus1\tPkPlus1\tIPIbefore\t"
    "AmpReversalCount\tDurationto16Cyc\tPreLastIPI\tRecording Time";

const char* const kMinutesHeading =
    "minute,recorded_s,clicks,MinuteScalerX2560,scaler,DeadBandPlusUplift,threshold";

namespace {

constexpr double kSecondsPer250ns = 250e-9;

void Line(std::FILE* f, const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), f);
    std::fwrite("\r\n", 1, 2, f);
}

// Of the name "PATH#N" of raw file N of an XWAV file: PATH and N.
std::optional<std::pair<std::string, int32_t>> RawFileOf(const std::string& path) {
    const size_t hash = path.rfind('#');
    if (hash == std::string::npos || hash == 0 || path.size() - hash < 2 ||
        path.size() - hash > 6 || path[hash + 1] == '0') {
        return std::nullopt;
    }
    int32_t n = 0;
    for (size_t i = hash + 1; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return std::nullopt;
        n = n * 10 + (path[i] - '0');
    }
    return std::pair{path.substr(0, hash), n};
}

// The file name of a path without its extension, as a name of a file we write: without
// control characters. Of raw file N of an XWAV file, "NAME#N".
std::string StemOf(const std::string& path) {
    if (const auto raw = RawFileOf(path)) {
        return StemOf(raw->first) + "#" + std::to_string(raw->second);
    }
    std::string_view name = FileNamePart(path);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return name.empty() ? std::string("recording") : PrintableName(name);
}

// Where a recording's clicks lie in the file a player opens for it (the recording, or the XWAV
// file that holds it as a raw file): the converter counts from the first sample it read, at
// the rate of the conversion; a player from the data's first sample at the header's rate.
struct Timeline {
    std::string File;          // the file a player opens
    double ConverterRate = 0;  // 0: not known
    double PlayerRate = 0;
    int64_t LeadSamples = 0;        // the file's samples before the first one converted
    std::optional<double> Seconds;  // the file's length in a player
    bool Read = false;              // its header was read here

    double FileSeconds(double offset) const {
        if (ConverterRate <= 0 || PlayerRate <= 0) return offset;
        return (offset * ConverterRate + static_cast<double>(LeadSamples)) / PlayerRate;
    }
};

// Reads the header of the file (and the raw files of an XWAV file) where the recording lies:
// at its path, or, for "PATH#N" where no file has that name, raw file N of the XWAV file PATH.
// Only a regular file is read (a name may stand for a pipe or a device by now).
Timeline TimelineOf(const std::string& path, const tk1::RecordingRow* row) {
    Timeline t;
    t.File = path;
    if (row != nullptr && row->RateHz > 0) {
        t.ConverterRate = t.PlayerRate = row->RateHz;
        t.Seconds = row->DurationSeconds();
    }
    std::string file = path;
    int32_t rawNumber = 0;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        if (const auto raw = RawFileOf(path)) {
            file = raw->first;
            rawNumber = raw->second;
            fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
    }
    if (fd < 0) return t;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return t;
    }
    const WavHeader h = ReadWavHeaderOfFd(fd, st.st_size);
    RawFile raw;
    if (rawNumber > 0) {
        const auto raws = ReadRawFiles(ReadAtFd(fd), h);
        const auto* list = std::get_if<std::vector<RawFile>>(&raws);
        if (list == nullptr || static_cast<size_t>(rawNumber) > list->size()) {
            ::close(fd);
            return t;  // no such raw file there
        }
        raw = (*list)[static_cast<size_t>(rawNumber) - 1];
    }
    ::close(fd);
    if (!h.FmtFound || h.SampleRate == 0) return t;
    // Frames of any format as a player counts them (the choices of channel and of 16 bits
    // change no frame).
    const RecordingLayout layout = LayoutOf(h, raw, ReadOptions{true, 1});
    const SampleByteRange range = SampleBytes(h);
    const int64_t first = h.DataFound ? h.DataOffset : range.Begin;
    std::optional<int64_t> frames;  // of the whole file
    switch (layout.Read) {
        case RecordingLayout::Reading::Bytes16:
            t.LeadSamples = (layout.Begin - first) / 2;
            frames = (range.End - first) / 2;
            break;
        case RecordingLayout::Reading::Frames: {
            const int64_t frameBytes = std::max<int64_t>(h.BlockAlign, 1);
            t.LeadSamples = (layout.Begin - first) / frameBytes;
            frames = (range.End - first) / frameBytes;
            break;
        }
        case RecordingLayout::Reading::Flac:
            t.LeadSamples = layout.Begin;
            if (h.FlacSamples > 0) frames = h.FlacSamples;
            break;
    }
    t.File = file;
    t.PlayerRate = h.SampleRate;
    if (t.ConverterRate <= 0) t.ConverterRate = t.PlayerRate;
    if (frames) {
        t.Seconds = static_cast<double>(*frames) / t.PlayerRate;
    } else if (t.Seconds) {
        t.Seconds = t.FileSeconds(*t.Seconds);
    }
    t.Read = true;
    return t;
}

// The span of a click around its time in the record (at 0), in seconds. That time is the one
// of its largest peak among its first six cycles (PkAtPosn is the cycle of its largest peak
// overall); it lasts Ncyc cycles, the first 17 of them measured by its duration sum.
struct Span {
    double Before = 0, After = 0;
};
Span SpanOf(const tk1::Click& c) {
    const uint8_t period = c.IPIpreMax > 0 && c.IPIpreMax < 255 ? c.IPIpreMax
                           : c.IPIPostMax < 255                 ? c.IPIPostMax
                                                                : 0;
    const double cycle = std::max<int>(period, 20) * kSecondsPer250ns;  // 5 us at least
    const double before = std::min<int>(c.PkAtPosn, 5) * period * kSecondsPer250ns;
    const std::optional<int32_t> sum = tk1::Duration(c);
    const double length = sum && *sum > 0 && c.Ncyc <= 17 ? *sum * kSecondsPer250ns
                                                          : std::max<int>(c.Ncyc, 1) * cycle;
    return {before, std::max(length - before, cycle)};
}

// The band of a click's intervals, in Hz, for a conversion at rateHz (0: not known). The
// detector times each peak to the half tick (a quarter of a sample period, halved) and counts
// an interval in 250 ns units rounded, so an interval n stands for the periods within
// n - 1/2 - h and n + 1/2 + h, h the half tick in 250 ns units (500,000 / rate; 1 where the
// rate is not known); 255 stands for 255 or more. With the rate, the band ends at half of it.
std::pair<double, double> BandOf(const tk1::Click& c, int32_t rateHz) {
    int lo = 255, hi = 0;
    for (const uint8_t ipi : {c.IPIpreMax, c.IPIPostMax, c.IPIPost1, c.IPIPost2}) {
        if (ipi == 0) continue;
        lo = std::min<int>(lo, ipi);
        hi = std::max<int>(hi, ipi);
    }
    if (hi == 0) return {0.0, 0.0};
    const double halfTick = rateHz > 0 ? 500'000.0 / rateHz : 1.0;
    const double nyquist = rateHz > 0 ? rateHz / 2.0 : 4e6;
    const double low = hi >= 255 ? 0.0 : std::min(4e6 / (hi + 0.5 + halfTick), nyquist);
    const double shortest = lo - 0.5 - halfTick;
    const double high = shortest > 4e6 / nyquist ? 4e6 / shortest : nyquist;
    return {low, high};
}

// The exact time of a click: its recording's start plus its second there; without a start,
// its time in the TK1 file.
std::string RecordingTime(const ClickAt& click) {
    if (click.Source != nullptr && click.Recording != nullptr && click.Source->FromStart) {
        return IsoMicroseconds(click.Source->TimeUs, ' ') + (click.Recording->Zoned ? "Z" : "");
    }
    return IsoDateTime(click.Minute,
                       int64_t{click.Fields.ClkTime5MuSecs} * tk1::kMicrosecondsPerTimeUnit);
}

// The seconds of a click in the TK1 file, from the start of its first minute.
double Tk1Seconds(const ClickAt& click, uint32_t startMin) {
    return static_cast<double>(click.Minute - static_cast<int64_t>(startMin & 0x7FFFFFFFu)) * 60 +
           click.Fields.ClkTime5MuSecs * (tk1::kMicrosecondsPerTimeUnit * 1e-6);
}

// The index of the recording a click came from (kNoRecording: none known).
constexpr size_t kNoRecording = tk1::ClickSource::kNone;
size_t RecordingOf(const ClickAt& click) {
    return click.Source != nullptr && click.Recording != nullptr ? click.Source->Recording
                                                                 : kNoRecording;
}

// The seconds of a click from its recording's first sample.
double OffsetSeconds(const ClickAt& click) {
    return static_cast<double>(click.Source->OffsetUs) * 1e-6;
}

// The per-recording files (one for each file a player opens), written one after another in
// the order of the recordings (a click's recording never lies before the one of the click
// before it). Every file gets written, one without clicks with the heading alone. Each file
// replaces one of its name only when complete (output/replacing_file.h).
class PerRecordingFiles {
public:
    PerRecordingFiles(std::vector<std::string> names, std::string heading, const ExportContext& c)
        : names_(std::move(names)), heading_(std::move(heading)), c_(c) {}

    // A line of the file of recording i.
    void Put(size_t i, const std::string& line) {
        Reach(i);
        // (A recording whose file is complete already gets no more lines.)
        if (open_ && file_.IsOpen() && i + 1 == next_) {
            Line(file_.Stream(), line);
            ++lines_;
        }
    }
    // Completes the last file. Files that replace earlier ones (--overwrite) are put in place
    // only when every file was written; otherwise the earlier files stay as they were.
    bool Finish() {
        Reach(names_.size());
        if (ok_) {
            for (const auto& [name, e] : earlier_.Replace()) {
                if (e != 0) Failed(name, ReplacingFileErrorText(e));
            }
        } else {
            for (const std::string& name : earlier_.Keep()) {
                std::fprintf(c_.Err, "wavtokeb-cli: earlier file kept: %s\n",
                             PrintableName(name).c_str());
            }
        }
        for (const auto& [name, lines] : written_) {
            if (ok_ || !replacing_.contains(name)) {
                Line(c_.Out, PrintableName(name) + "\t" + std::to_string(lines));
            }
        }
        return ok_;
    }

private:
    // Completes the files before recording i and begins its file (a file without a name is
    // not written).
    void Reach(size_t i) {
        while (next_ <= i && next_ <= names_.size()) {
            if (open_) Close();
            if (next_ == names_.size()) break;
            const std::string& name = names_[next_++];
            if (name.empty()) continue;
            open_ = true;
            lines_ = 0;
            if (const int e = file_.Open(name); e != 0) {
                Failed(name, ReplacingFileErrorText(e));
                continue;
            }
            if (!heading_.empty()) Line(file_.Stream(), heading_);
        }
    }
    void Close() {
        open_ = false;
        if (!file_.IsOpen()) return;
        const std::string name = file_.FinalName();
        const bool overwrite = c_.Options != nullptr && c_.Options->Overwrite;
        const int e = file_.Commit(overwrite ? &earlier_ : nullptr);
        if (e == ReplacingFile::kReplacesLater) {
            replacing_.insert(name);
        } else if (e != 0) {
            Failed(name, ReplacingFileErrorText(e));
            return;
        }
        written_.emplace_back(name, lines_);
    }
    void Failed(const std::string& name, const std::string& why) {
        std::fprintf(c_.Err, "wavtokeb-cli: cannot write %s: %s\n", PrintableName(name).c_str(),
                     why.c_str());
        ok_ = false;
    }

    std::vector<std::string> names_;
    std::string heading_;
    const ExportContext& c_;
    ReplacingFile file_;
    PendingReplacements earlier_;  // complete files whose names were taken
    std::set<std::string> replacing_;
    std::vector<std::pair<std::string, int64_t>> written_;  // complete files and their lines
    size_t next_ = 0;
    bool open_ = false;
    int64_t lines_ = 0;
    bool ok_ = true;
};

const tk1::RecordingRow* RowOf(const ExportContext& c, size_t i) {
    return c.Rows != nullptr && i < c.Rows->size() ? &(*c.Rows)[i] : nullptr;
}

// The path of recording i: absolute as the recordings table gives it, else as the linkage
// file gives it (as typed for the conversion).
const std::string& PathOf(const ExportContext& c, size_t i) {
    const tk1::RecordingRow* row = RowOf(c, i);
    return row != nullptr && !row->Path.empty() ? row->Path : (*c.Recordings)[i].Path;
}

// The files a player opens for the recordings of a TK1 file: each recording's timeline, and
// the file of each, one for every run of recordings that lie in the same file (the raw files of
// an XWAV file), in the order of the recordings.
struct PlayerFiles {
    std::vector<Timeline> Timelines;  // of each recording
    std::vector<size_t> FileOf;       // of each recording
    std::vector<size_t> FirstOf;      // of each file: its first recording
};

PlayerFiles PlayerFilesOf(const ExportContext& c) {
    PlayerFiles p;
    if (c.Recordings == nullptr) return p;
    for (size_t i = 0; i < c.Recordings->size(); ++i) {
        p.Timelines.push_back(TimelineOf(PathOf(c, i), RowOf(c, i)));
        if (i == 0 || p.Timelines[i].File != p.Timelines[i - 1].File) p.FirstOf.push_back(i);
        p.FileOf.push_back(p.FirstOf.size() - 1);
    }
    return p;
}

// One file name per file a player opens: NAME plus suffix in the folder; names that two files
// share are told apart by " (2)", " (3)", ... A file of no recording wanted gets "" (and the
// others the names they have when every file is written).
std::vector<std::string> NamesIn(const std::string& folder, const PlayerFiles& files,
                                 const std::string& suffix, const ExportContext& c) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    const std::string dir = folder.ends_with('/') ? folder : folder + "/";
    for (const size_t first : files.FirstOf) {
        const std::string stem = StemOf(files.Timelines[first].File);
        std::string name = stem + suffix;
        for (int k = 2; taken.count(name) != 0; ++k)
            name = stem + " (" + std::to_string(k) + ")" + suffix;
        taken.insert(name);
        names.push_back(dir + name);
    }
    if (c.Wanted != nullptr) {
        std::vector<bool> wanted(names.size(), false);
        for (size_t i = 0; i < files.FileOf.size() && i < c.Wanted->size(); ++i) {
            if ((*c.Wanted)[i]) wanted[files.FileOf[i]] = true;
        }
        for (size_t f = 0; f < names.size(); ++f) {
            if (!wanted[f]) names[f].clear();
        }
    }
    return names;
}

// Raven selection tables: one over the whole sequence of the files of the TK1 file's
// recordings on stdout, or one per file. Begin Time counts from the start of the table's sound:
// the file, or the files played one after another.
class RavenExport : public RecordConsumer {
public:
    explicit RavenExport(const ExportContext& c) : c_(c), players_(PlayerFilesOf(c)) {
        const bool perFile = !c.Options->PerFileDir.empty();
        if (perFile) {
            files_.emplace(NamesIn(c.Options->PerFileDir, players_, ".Table.1.selections.txt", c),
                           kRavenHeading, c);
            selection_.assign(players_.FirstOf.size(), 0);
        } else {
            Line(c.Out, kRavenHeading);
            selection_.assign(1, 0);
            // Each file's start in the sequence.
            double at = 0;
            for (const size_t first : players_.FirstOf) {
                const Timeline& t = players_.Timelines[first];
                sequenceStart_.push_back(at);
                if (!t.Seconds) {
                    sequenceStart_.clear();
                    break;
                }
                at += *t.Seconds;
            }
            if (sequenceStart_.empty() && c.Recordings != nullptr && !c.Recordings->empty() &&
                !c.Options->Quiet) {
                std::fprintf(c.Err,
                             "wavtokeb-cli: %s: the lengths of its recordings are not known (no "
                             "recordings table, and they cannot be read here): Begin Time (s) "
                             "counts from the TK1 file's first minute\n",
                             PrintableName(c.Path).c_str());
            }
        }
        WarnUnread(c, players_.Timelines);
    }

    void Click(const ClickAt& click) override {
        const size_t i = RecordingOf(click);
        const size_t file = i != kNoRecording ? players_.FileOf[i] : 0;
        if (files_ && i == kNoRecording) return;  // before the first recording: no file of its own
        const tk1::Click& f = click.Fields;
        const Span span = SpanOf(f);
        const tk1::RecordingRow* recordingRow = i != kNoRecording ? RowOf(c_, i) : nullptr;
        const auto [low, high] = BandOf(f, recordingRow != nullptr ? recordingRow->RateHz : 0);
        double fileBegin = 0, begin = 0;
        if (i != kNoRecording) {
            fileBegin = std::max(
                0.0, players_.Timelines[i].FileSeconds(OffsetSeconds(click)) - span.Before);
            begin = files_ || sequenceStart_.empty() ? fileBegin : sequenceStart_[file] + fileBegin;
            if (!files_ && sequenceStart_.empty()) {
                begin = std::max(0.0, Tk1Seconds(click, c_.Header.StartMin) - span.Before);
            }
        } else {
            begin = fileBegin = std::max(0.0, Tk1Seconds(click, c_.Header.StartMin) - span.Before);
        }
        const size_t table = files_ ? file : 0;
        std::string row = std::to_string(++selection_[table]) + "\tSpectrogram 1\t1\t" +
                          FixedText(begin, 6) + "\t" +
                          FixedText(begin + span.Before + span.After, 6) + "\t" +
                          FixedText(low, 1) + "\t" + FixedText(high, 1) + "\t";
        if (i != kNoRecording) {
            const std::string& p = players_.Timelines[i].File;
            // Cells that no name can split.
            row += PrintableName(FileNamePart(p)) + "\t" + PrintableName(p);
        } else {
            row += "\t";
        }
        row += "\t" + FixedText(fileBegin, 6);
        for (const int32_t v : {int32_t{f.Ncyc}, int32_t{f.Pmax}}) row += "\t" + std::to_string(v);
        row += "\t" + KiloHertz(f.IPIpreMax);
        const std::optional<int32_t> duration = tk1::Duration(f);
        for (const int32_t v :
             {f.PkAtPosn, f.IPIrangeCode, f.IPIpreMax, f.IPIPostMax, f.IPIPost1, f.IPIPost2,
              f.PkMinus1, f.PkPlus1, f.IPIbefore, f.AmpReversalCount}) {
            row += "\t" + std::to_string(v);
        }
        row += "\t" + (duration ? std::to_string(*duration) : std::string());
        row += "\t" + std::to_string(f.PreLastIPI) + "\t" + RecordingTime(click);
        if (files_) {
            files_->Put(table, row);
        } else {
            Line(c_.Out, row);
        }
    }

    bool Finish() override { return !files_ || files_->Finish(); }

    // A note on the recordings whose headers could not be read: their times count from their
    // first converted sample.
    static void WarnUnread(const ExportContext& c, const std::vector<Timeline>& timelines) {
        const auto unread = std::count_if(timelines.begin(), timelines.end(),
                                          [](const Timeline& t) { return !t.Read; });
        if (unread == 0 || c.Options->Quiet) return;
        std::fprintf(c.Err,
                     "wavtokeb-cli: %s: %lld of its %zu recordings cannot be read here: their "
                     "times count from the first sample the conversion read (byte 100 of a file "
                     "with a plain 44-byte header, 28 samples into its data)\n",
                     PrintableName(c.Path).c_str(), static_cast<long long>(unread),
                     timelines.size());
    }

private:
    const ExportContext& c_;
    PlayerFiles players_;
    std::optional<PerRecordingFiles> files_;
    std::vector<double> sequenceStart_;  // empty: the lengths are not known
    std::vector<int64_t> selection_;     // the last selection number of each table
};

// Audacity label files, one per file a player opens (a recording, or an XWAV file of raw
// files): start, end and "Pmax kHz" of every click, in seconds from the start of the file.
class AudacityExport : public RecordConsumer {
public:
    explicit AudacityExport(const ExportContext& c)
        : players_(PlayerFilesOf(c)),
          files_(NamesIn(c.Options->AudacityDir, players_, ".txt", c), "", c) {
        RavenExport::WarnUnread(c, players_.Timelines);
    }

    void Click(const ClickAt& click) override {
        const size_t i = RecordingOf(click);
        if (i == kNoRecording) return;
        const tk1::Click& f = click.Fields;
        const Span span = SpanOf(f);
        const double begin =
            std::max(0.0, players_.Timelines[i].FileSeconds(OffsetSeconds(click)) - span.Before);
        const std::string kHz = KiloHertz(f.IPIpreMax);
        files_.Put(players_.FileOf[i], FixedText(begin, 6) + "\t" +
                                           FixedText(begin + span.Before + span.After, 6) + "\t" +
                                           std::to_string(f.Pmax) + (kHz.empty() ? "" : " " + kHz));
    }
    bool Finish() override { return files_.Finish(); }

private:
    PlayerFiles players_;
    PerRecordingFiles files_;
};

// The seconds of recording in each minute of the TK1 file, as the engine cuts a recording into
// blocks and closes minutes (base/sample_rate.h): the last 500 ticks of a whole block open the
// next minute; a block that ends before its minute closes (the end of a recording) leaves the
// minute open for the next recording, whose first block begins in it.
std::map<int64_t, double> RecordedSeconds(const std::vector<tk1::RecordingRow>& rows) {
    std::map<int64_t, double> seconds;
    for (const tk1::RecordingRow& row : rows) {
        if (row.RateHz <= 0 || row.RateHz % 1000 != 0) continue;
        SampleRate rate;
        if (!rate.KsamplesPerSecEditChange(std::to_string(row.RateHz / 1000))) continue;
        const FloorDivision placed = FloorDivide(row.PlacedUs, kMicrosecondsPerMinute);
        const int64_t perMin = rate.SamplesPerMin;
        int64_t minute = placed.Quotient;
        int64_t left = row.Samples;
        for (bool first = true; left > 0; first = false) {
            const int64_t block = first ? rate.FirstBlockSamplesAt(placed.Remainder) : perMin;
            const int64_t n = std::min(block, left);
            const int64_t tick = first ? rate.TickOfMicrosecond(placed.Remainder) : 0;
            const int64_t beforeClose = rate.PositionsToMinuteEnd(tick);
            if (n >= beforeClose) {
                seconds[minute] += static_cast<double>(beforeClose) / row.RateHz;
                ++minute;
                seconds[minute] += static_cast<double>(n - beforeClose) / row.RateHz;
            } else {
                seconds[minute] += static_cast<double>(n) / row.RateHz;
            }
            left -= n;
        }
    }
    return seconds;
}

// The minute table: one row per minute of the TK1 file, its seconds of recording, its clicks
// and what its minute record says governed it.
class MinutesExport : public RecordConsumer {
public:
    explicit MinutesExport(const ExportContext& c) : c_(c) {
        if (c.Rows != nullptr) {
            recorded_ = RecordedSeconds(*c.Rows);
        } else if (!c.Options->Quiet) {
            std::fprintf(c.Err, "wavtokeb-cli: %s: no recordings table: recorded_s is left empty\n",
                         PrintableName(c.Path).c_str());
        }
        Line(c.Out, kMinutesHeading);
    }

    void Minute(int64_t, int64_t minute, const tk1::Minute& m) override {
        Put();
        open_ = true;
        minute_ = minute;
        fields_ = m;
        clicks_ = 0;
    }
    void Click(const ClickAt&) override { ++clicks_; }
    bool Finish() override {
        Put();
        return true;
    }

private:
    void Put() {
        if (!open_) return;
        std::string iso = IsoMicroseconds(minute_ * kMicrosecondsPerMinute);
        iso.resize(19);
        std::string recorded;
        if (c_.Rows != nullptr) {
            const auto at = recorded_.find(minute_);
            recorded = FixedText(at == recorded_.end() ? 0.0 : at->second, 6);
        }
        Line(c_.Out, iso + "," + recorded + "," + std::to_string(clicks_) + "," +
                         std::to_string(fields_.MinuteScalerX2560) + "," +
                         FixedText(fields_.MinuteScalerX2560 / 2560.0, 6) + "," +
                         std::to_string(fields_.DeadBandPlusUplift) + "," +
                         std::to_string(c_.Header.DeadBandSetting + fields_.DeadBandPlusUplift));
    }

    const ExportContext& c_;
    std::map<int64_t, double> recorded_;
    bool open_ = false;
    int64_t minute_ = 0;
    tk1::Minute fields_;
    int64_t clicks_ = 0;
};

}  // namespace

std::vector<std::string> ExportFiles(const ExportContext& c) {
    if (c.Recordings == nullptr) return {};
    std::vector<std::string> names;
    if (c.Options->Raven && !c.Options->PerFileDir.empty()) {
        names = NamesIn(c.Options->PerFileDir, PlayerFilesOf(c), ".Table.1.selections.txt", c);
    } else if (!c.Options->AudacityDir.empty()) {
        names = NamesIn(c.Options->AudacityDir, PlayerFilesOf(c), ".txt", c);
    }
    std::erase(names, std::string());
    return names;
}

std::unique_ptr<RecordConsumer> MakeExport(const ExportContext& c) {
    if (c.Options->Raven) return std::make_unique<RavenExport>(c);
    if (!c.Options->AudacityDir.empty()) return std::make_unique<AudacityExport>(c);
    if (c.Options->MinutesCsv) return std::make_unique<MinutesExport>(c);
    return nullptr;
}

}  // namespace wtk::dump
