#include "dump/tk1_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "base/calendar.h"
#include "base/csv.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "dump/tk1_exports.h"
#include "input/format_check.h"
#include "input/wav_header.h"
#include "output/click_sources.h"
#include "output/tk1_codec.h"
#include "output/tk1_writer.h"

namespace wtk::dump {

namespace {

using tk1::kHeaderBytes;
using tk1::kRecordBytes;

std::string Num(int64_t v) {
    return std::to_string(v);
}

class Output {
public:
    explicit Output(std::FILE* f) : f_(f) {}
    void Line(const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), f_);
        std::fwrite("\r\n", 1, 2, f_);
    }

private:
    std::FILE* f_;
};

// "d/m/yyyy hh:mm" of a minute number; "" for one beyond the 32-bit range that the date texts
// cover (a damaged header's start minute plus the minutes counted after it).
std::string MinuteText(int64_t minute) {
    if (minute < INT32_MIN || minute > INT32_MAX) return {};
    return MinToDateStr(static_cast<int32_t>(minute));
}

// What a file whose header is no TK1 header holds, as far as its first bytes tell; nothing for
// a TK1 header (or too few bytes to tell).
// What a file that is not a regular file is, for the refusal.
const char* KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "no regular file";
}

std::optional<std::string> NotTK1(const uint8_t* h, size_t got) {
    auto starts = [&](std::string_view magic, size_t at = 0) {
        return got >= at + magic.size() && std::memcmp(h + at, magic.data(), magic.size()) == 0;
    };
    if ((starts("RIFF") || starts("RF64")) && starts("WAVE", 8)) {
        return "it is a WAV file (" + DescribeWavHeader(ReadWavHeader({h, got})) + ")";
    }
    static const std::pair<std::string_view, const char*> kKnown[] = {
        {"RIFF", "a RIFF file"},      {"fLaC", "a FLAC file"}, {"OggS", "an Ogg file"},
        {"FORM", "an IFF/AIFF file"}, {"ID3", "an MP3 file"},  {"PK\x03\x04", "a ZIP file"},
    };
    for (const auto& [magic, what] : kKnown) {
        if (starts(magic)) return std::string("it is ") + what;
    }
    const std::span<const uint8_t> header(h, got);
    if (got <= static_cast<size_t>(tk1::kConstantOffsets.back()) || tk1::HasTK1Constants(header)) {
        return std::nullopt;
    }
    return tk1::ConstantsMismatchText(header);
}

// A side file's text; nothing when it cannot be read (error: why).
std::optional<std::string> ReadSmallFile(const std::string& path, std::string& error) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = std::strerror(EIO);
        return std::nullopt;
    }
    return text;
}

// The linkage file's entries; lines that are no linkage lines are reported (unless quiet) and
// left out. Nothing when the file cannot be read (error: why).
std::optional<std::vector<tk1::LinkageLine>> ReadLinkage(const std::string& path, bool quiet,
                                                         std::FILE* err, std::string& error) {
    const std::optional<std::string> read = ReadSmallFile(path, error);
    if (!read) return std::nullopt;
    const tk1::LinkageText text = tk1::DecodeLinkage(*read);
    if (!quiet) {
        for (const int64_t lineNo : text.BadLines) {
            std::fprintf(err,
                         "wavtokeb-cli: %s: line %lld is no source linkage line (minute, tab, "
                         "path) and is left out\n",
                         PrintableName(path).c_str(), static_cast<long long>(lineNo));
        }
    }
    return text.Lines;
}

void Problem(std::FILE* err, const std::string& path, const std::string& what) {
    std::fprintf(err, "wavtokeb-cli: %s: %s\n", PrintableName(path).c_str(), what.c_str());
}

void DumpHeader(const std::string& path, int64_t fileBytes, const tk1::Header& h, Output& out) {
    auto field = [&](const char* name, int64_t v) { out.Line(std::string(name) + "\t" + Num(v)); };
    auto minuteField = [&](const char* name, uint32_t v) {
        out.Line(std::string(name) + "\t" + Num(v) + "\t" +
                 MinToDateStr(static_cast<int32_t>(v & 0x7FFFFFFFu)));
    };
    out.Line("File\t" + PrintableName(path));
    field("FileBytes", fileBytes);
    field("LoggerNumber", h.LoggerNumber);
    field("HighPassFilterIndex", h.HighPassFilterIndex);
    out.Line("Constants\t" + Num(h.Constants[0]) + " " + Num(h.Constants[1]) + " " +
             Num(h.Constants[2]) + " " + Num(h.Constants[3]));
    field("DeadBandSetting", h.DeadBandSetting);
    field("MinAnyIPI", h.MinAnyIPI);
    field("MaxStartIPI", h.MaxStartIPI);
    field("FixedCycLimit", h.FixedCycLimit);
    field("MaxSPLforReversalTest", h.MaxSPLforReversalTest);
    field("BwAddon", h.BwAddon);
    field("WorkingStrongLimit1", h.WorkingStrongLimit[0]);
    field("WorkingStrongLimit2", h.WorkingStrongLimit[1]);
    field("WorkingStrongLimit3", h.WorkingStrongLimit[2]);
    field("WorkingStrongLimit4", h.WorkingStrongLimit[3]);
    field("UsingToughAmpDrop", h.UsingToughAmpDrop ? 1 : 0);
    field("UserMaxSPLforBWtestLow4", h.UserMaxSPLforBWtestLow4);
    field("MaxSPLforAmpDropTest", h.MaxSPLforAmpDropTest);
    field("NoisyLevel", h.NoisyLevel);
    field("QuietLevel", h.QuietLevel);
    field("NofNoisyMinsForAction", h.NofNoisyMinsForAction);
    field("NofQuietMinsForAction", h.NofQuietMinsForAction);
    field("AmpStep", h.AmpStep);
    minuteField("TK1StartMin", h.StartMin);
    minuteField("LastLoggingMin", h.LastLoggingMin);
    minuteField("FinalisedAtMin", h.FinalisedAtMin);
    out.Line("TK1StartMinCopies\t" + Num(h.StartMin2) + "\t" + Num(h.StartMin3));
    field("LastLoggingMinCopy", h.LastLoggingMin2);
    field("MinuteRecords", h.MinuteCount);
}

using Click = tk1::Click;

// Durationto16Cyc when the record holds it whole.
std::string DurationText(const Click& c) {
    const std::optional<int32_t> d = tk1::Duration(c);
    return d ? Num(*d) : std::string();
}

constexpr const char* kCsvHeader =
    "DateTime,Minute,ClkTime5MuSecs,Ncyc,PkAtPosn,ClkIPIrangeCode,IPIpreMax,IPIpreMax_kHz,"
    "IPIPostMax,IPIPostMax_kHz,IPIPost1,IPIPost1_kHz,IPIPost2,IPIPost2_kHz,PkMinus1,Pmax,"
    "PkPlus1,IPIbefore,IPIbefore_kHz,Durationto16CycDiv256,AmpReversalCount,"
    "Durationto16CycLow8,Durationto16Cyc,PreLastIPI,PreLastIPI_kHz";

// What a CSV row adds after a field: its frequency, or the whole duration.
enum class CsvExtra { None, KiloHertz, Duration };

struct ClickField {
    const char* Name;  // as the record lines name it
    int32_t Value;
    CsvExtra Extra;
};

// The fields of a click in record order, as both the record lines and the CSV rows list them.
std::array<ClickField, 16> ClickFields(const Click& c) {
    using enum CsvExtra;
    return {{{"ClkTime5MuSecs", c.ClkTime5MuSecs, None},
             {"Ncyc", c.Ncyc, None},
             {"PkAtPosn", c.PkAtPosn, None},
             {"ClkIPIrangeCode", c.IPIrangeCode, None},
             {"IPIpreMax", c.IPIpreMax, KiloHertz},
             {"IPIPostMax", c.IPIPostMax, KiloHertz},
             {"IPIPost1", c.IPIPost1, KiloHertz},
             {"IPIPost2", c.IPIPost2, KiloHertz},
             {"PkMinus1", c.PkMinus1, None},
             {"Pmax", c.Pmax, None},
             {"PkPlus1", c.PkPlus1, None},
             {"IPIbefore", c.IPIbefore, KiloHertz},
             {"Durationto16CycDiv256", c.DurationHigh, None},
             {"AmpReversalCount", c.AmpReversalCount, None},
             {"Durationto16CycLow8", c.DurationLow, Duration},
             {"PreLastIPI", c.PreLastIPI, KiloHertz}}};
}

// A CSV row; with a source its two columns at the end (and with the recordings table, the
// exact time).
std::string CsvRow(int64_t minute, const Click& c, const SourceRecording* recording,
                   const tk1::ClickSource* source, bool withTimes) {
    std::string s = IsoDateTime(minute, int64_t{c.ClkTime5MuSecs} * 5) + "," + Num(minute);
    for (const ClickField& f : ClickFields(c)) {
        s += ',';
        s += Num(f.Value);
        if (f.Extra == CsvExtra::KiloHertz) {
            s += ',';
            s += KiloHertz(static_cast<uint8_t>(f.Value));
        } else if (f.Extra == CsvExtra::Duration) {
            s += ',';
            s += DurationText(c);
        }
    }
    if (source != nullptr) {
        s += ',';
        if (recording != nullptr) {
            s +=
                CsvField(PrintableName(recording->Path)) + "," + tk1::SecondsText(source->OffsetUs);
        } else {
            s += ',';
        }
        if (withTimes) {
            s += ',';
            if (recording != nullptr && source->FromStart) {
                s += IsoMicroseconds(source->TimeUs, ' ') + (recording->Zoned ? "Z" : "");
            }
        }
    }
    return s;
}

std::string ClickLine(int64_t offset, int64_t minute, const Click& c) {
    std::string s = Num(offset) + "\tCLICK\t" + Num(minute) + "\t" +
                    IsoDateTime(minute, int64_t{c.ClkTime5MuSecs} * 5);
    for (const ClickField& f : ClickFields(c)) {
        s += '\t';
        s += f.Name;
        s += '=';
        s += Num(f.Value);
    }
    return s;
}

}  // namespace

std::string IsoDateTime(int64_t minute, int64_t microseconds) {
    return IsoMicroseconds(minute * 60'000'000 + microseconds, ' ');
}

std::string KiloHertz(uint8_t ipi) {
    if (ipi == 0 || ipi == 255) return {};
    // 4000 / ipi to three decimals, rounded half up, in integers: 4,000,000 / ipi thousandths.
    const int64_t thousandths = (int64_t{8'000'000} / ipi + 1) / 2;
    std::string s = Num(thousandths / 1000) + ".";
    AppendZeroPadded(s, thousandths % 1000, 3);
    return s;
}

namespace {

// The text dump: the header's fields, one line per record, and a summary line.
class TextDump : public RecordConsumer {
public:
    explicit TextDump(std::FILE* f) : out_(f) {}
    void Lead(int64_t offset) override { out_.Line(Num(offset) + "\tLEAD"); }
    void Minute(int64_t offset, int64_t minute, const tk1::Minute& m) override {
        out_.Line(Num(offset) + "\tMINUTE\t" + Num(minute) + "\t" + MinuteText(minute) +
                  "\tDeadBandPlusUplift=" + Num(m.DeadBandPlusUplift) +
                  "\tMinuteScalerX2560=" + Num(m.MinuteScalerX2560));
    }
    void Click(const ClickAt& c) override { out_.Line(ClickLine(c.Offset, c.Minute, c.Fields)); }
    void End(int64_t offset) override { out_.Line(Num(offset) + "\tEND"); }

private:
    Output out_;
};

// One CSV row per click.
class CsvDump : public RecordConsumer {
public:
    CsvDump(std::FILE* f, bool withTimes, std::function<std::string()> extra)
        : out_(f), withTimes_(withTimes), extra_(std::move(extra)) {}
    void Click(const ClickAt& c) override {
        out_.Line(CsvRow(c.Minute, c.Fields, c.Recording, c.Source, withTimes_) +
                  (extra_ ? extra_() : std::string()));
    }

private:
    Output out_;
    bool withTimes_;
    std::function<std::string()> extra_;
};

// Where the clicks came from: the linkage file (named, or beside the TK1 file) and the
// recordings table (likewise), as far as they are there and readable.
struct Sources {
    std::optional<std::vector<tk1::LinkageLine>> Lines;
    std::optional<std::vector<tk1::RecordingRow>> Rows;
    std::vector<SourceRecording> Recordings;  // with either of them

    bool Known() const { return Lines || Rows; }
    // The clicks are attributed by the table's placement where it is at hand, else by the
    // linkage file's minutes.
    tk1::ClickSources Attribution() const {
        return Rows ? tk1::ClickSources(*Rows) : tk1::ClickSources(*Lines);
    }
};

// Nothing when a file named by an option cannot be used (the refusal is on err).
std::optional<Sources> LoadSources(const std::string& path, const DumpOptions& options,
                                   std::FILE* err) {
    Sources s;
    const bool named = !options.Linkage.empty();
    const std::string linkage =
        named ? options.Linkage : std::string(Utf8DropRight(path, 4)) + ".txt";
    struct stat st {};
    if (named || (::stat(linkage.c_str(), &st) == 0 && S_ISREG(st.st_mode))) {
        std::string error;
        s.Lines = ReadLinkage(linkage, options.Quiet, err, error);
        if (!s.Lines && named) {
            std::fprintf(err, "wavtokeb-cli: --linkage %s: %s\n", PrintableName(linkage).c_str(),
                         error.c_str());
            return std::nullopt;
        }
        if (!s.Lines && !options.Quiet) {
            std::fprintf(err, "wavtokeb-cli: %s: %s; no source columns\n",
                         PrintableName(linkage).c_str(), error.c_str());
        }
    }

    // The recordings table: the start of each file, and where its first sample lies.
    const bool tableNamed = !options.Recordings.empty();
    const std::string table =
        tableNamed ? options.Recordings : std::string(Utf8DropRight(path, 4)) + ".recordings.csv";
    if (tableNamed || (::stat(table.c_str(), &st) == 0 && S_ISREG(st.st_mode))) {
        std::string error;
        if (const std::optional<std::string> text = ReadSmallFile(table, error)) {
            auto parsed = tk1::DecodeRecordingsTable(*text);
            if (auto* r = std::get_if<std::vector<tk1::RecordingRow>>(&parsed)) {
                s.Rows = std::move(*r);
            } else {
                error = std::get<std::string>(parsed);
            }
        }
        if (s.Rows && s.Lines && s.Lines->size() != s.Rows->size()) {
            error = "it has " + Num(static_cast<int64_t>(s.Rows->size())) + " rows for the " +
                    Num(static_cast<int64_t>(s.Lines->size())) +
                    " files of the source linkage file";
            s.Rows.reset();
        }
        if (!s.Rows && tableNamed) {
            std::fprintf(err, "wavtokeb-cli: --recordings %s: %s\n", PrintableName(table).c_str(),
                         error.c_str());
            return std::nullopt;
        }
        if (!s.Rows && !options.Quiet) {
            std::fprintf(err, "wavtokeb-cli: %s: %s; no recording_time column\n",
                         PrintableName(table).c_str(), error.c_str());
        }
    }
    // The recordings by the names the linkage file gives them (as typed for the conversion),
    // else by the table's.
    const size_t count = s.Lines ? s.Lines->size() : s.Rows ? s.Rows->size() : 0;
    for (size_t i = 0; i < count; ++i) {
        s.Recordings.push_back(
            {s.Lines ? (*s.Lines)[i].Path : (*s.Rows)[i].Path, s.Rows && (*s.Rows)[i].Zoned});
    }
    return s;
}

// The folder of a per-recording export, before anything is written: refused (false, on err)
// when it cannot be made or when files of the names the export writes are there already
// (unless overwrite).
bool PrepareFolder(const std::string& option, const std::string& folder,
                   const std::vector<std::string>& files, bool overwrite, std::FILE* err) {
    std::vector<std::string> existing;
    for (const std::string& f : files) {
        struct stat st {};
        if (::lstat(f.c_str(), &st) == 0) existing.push_back(PrintableName(f));
    }
    if (!existing.empty() && !overwrite) {
        for (size_t i = 0; i < existing.size() && i < kFilesNamed; ++i) {
            std::fprintf(err, "wavtokeb-cli: %s\n", existing[i].c_str());
        }
        if (existing.size() > kFilesNamed) {
            std::fprintf(err, "wavtokeb-cli: ... and %zu more\n", existing.size() - kFilesNamed);
        }
        std::fprintf(err,
                     "wavtokeb-cli: %s there already: nothing written (--overwrite replaces "
                     "them)\n",
                     FilesAre(existing.size()).c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        std::fprintf(err, "wavtokeb-cli: %s %s: %s\n", option.c_str(),
                     PrintableName(folder).c_str(), ec ? ec.message().c_str() : "not a directory");
        return false;
    }
    return true;
}

// A TK1 file opened for the dump, with its size when opened and its header.
struct OpenedTK1 {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File{nullptr, std::fclose};
    int64_t Bytes = 0;
    tk1::Header Header;
};

// Opens path and reads its header. Only a regular file is read, and only as far as its size
// when opened: a pipe or a device (one that never ends, one that blocks) is refused without
// reading it. Where there is no TK1 header, the dump's exit status (the reason is on err).
std::variant<OpenedTK1, int> OpenTK1(const std::string& path, std::FILE* err) {
    errno = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        Problem(err, path, std::strerror(errno != 0 ? errno : EIO));
        if (fd >= 0) ::close(fd);
        return kDumpProblems;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        std::fprintf(err, "wavtokeb-cli: %s is not a TK1 file: it is %s\n",
                     PrintableName(path).c_str(), KindOfFile(st.st_mode));
        return kDumpRefused;
    }
    OpenedTK1 t;
    t.File.reset(::fdopen(fd, "rb"));
    if (!t.File) {
        Problem(err, path, std::strerror(errno));
        ::close(fd);
        return kDumpProblems;
    }
    t.Bytes = st.st_size;
    std::vector<uint8_t> header(kHeaderBytes);
    errno = 0;
    const size_t got =
        std::fread(header.data(), 1, static_cast<size_t>(std::min<int64_t>(kHeaderBytes, t.Bytes)),
                   t.File.get());
    if (std::ferror(t.File.get()) != 0) {
        Problem(err, path, std::strerror(errno != 0 ? errno : EIO));
        return kDumpProblems;
    }
    if (const std::optional<std::string> found = NotTK1(header.data(), got)) {
        std::fprintf(err, "wavtokeb-cli: %s is not a TK1 file: %s\n", PrintableName(path).c_str(),
                     found->c_str());
        return kDumpRefused;
    }
    if (got < static_cast<size_t>(kHeaderBytes)) {
        Problem(err, path, "too short for a TK1 file (" + Num(t.Bytes) + " bytes)");
        return kDumpProblems;
    }
    t.Header =
        tk1::DecodeHeader(std::span<const uint8_t, kHeaderBytes>(header.data(), kHeaderBytes));
    return t;
}

// What the records go to: the export the options ask for (its folder made ready first), the CSV
// dump or the text dump (after the header it writes here). Nothing where an export cannot be
// written (the refusal is on err).
std::unique_ptr<RecordConsumer> MakeConsumer(const ExportContext& context, const OpenedTK1& t,
                                             bool withTimes) {
    const DumpOptions& options = *context.Options;
    const bool perFile =
        !options.AudacityDir.empty() || (options.Raven && !options.PerFileDir.empty());
    if (perFile) {
        const std::string option = options.AudacityDir.empty() ? "--per-file" : "--audacity";
        const std::string& folder =
            options.AudacityDir.empty() ? options.PerFileDir : options.AudacityDir;
        if (context.Recordings == nullptr) {
            std::fprintf(context.Err,
                         "wavtokeb-cli: %s: the recordings of %s are not known: no source linkage "
                         "file or recordings table beside it (--linkage FILE, --recordings FILE)\n",
                         option.c_str(), PrintableName(context.Path).c_str());
            return nullptr;
        }
        if (!PrepareFolder(option, folder, ExportFiles(context), options.Overwrite, context.Err)) {
            return nullptr;
        }
    }
    if (std::unique_ptr<RecordConsumer> e = MakeExport(context)) return e;
    if (options.Csv) {
        Output(context.Out)
            .Line(std::string(kCsvHeader) +
                  (context.Recordings != nullptr ? ",source_wav,offset_s" : "") +
                  (withTimes ? ",recording_time" : "") + options.ExtraHeading);
        return std::make_unique<CsvDump>(context.Out, withTimes, options.ExtraCells);
    }
    Output out(context.Out);
    DumpHeader(context.Path, t.Bytes, t.Header, out);
    return std::make_unique<TextDump>(context.Out);
}

// What reading the body found besides the records.
struct BodyRead {
    tk1::BodyWalk Walk;
    size_t Partial = 0;  // bytes of a partial record at the end
    bool ReadError = false;
};

// Feeds the body's records, up to the file's size when opened, in file order to consumer; with
// sources, the clicks of one minute once the minute is complete, with their sources.
BodyRead ReadBody(OpenedTK1& t, tk1::ClickSources* finder,
                  const std::vector<SourceRecording>& recordings, RecordConsumer& consumer,
                  const std::function<bool(const ClickAt&)>& keep) {
    std::FILE* f = t.File.get();
    BodyRead body{tk1::BodyWalk(t.Header.StartMin)};
    tk1::BodyWalk& walk = body.Walk;
    std::vector<ClickAt> held;
    std::vector<tk1::ClickSource> found;
    auto putHeld = [&] {
        if (held.empty()) return;
        std::vector<int32_t> times;
        for (const ClickAt& c : held) times.push_back(c.Fields.ClkTime5MuSecs);
        found = finder->Minute(held.front().Minute, times);
        for (size_t i = 0; i < held.size(); ++i) {
            held[i].Source = &found[i];
            if (found[i].Recording < recordings.size()) {
                held[i].Recording = &recordings[found[i].Recording];
            }
            if (!keep || keep(held[i])) consumer.Click(held[i]);
        }
        held.clear();
    };
    tk1::Record r{};
    size_t n = 0;
    // Whole records up to the size the file had when opened; what follows is its tail.
    int64_t records = (t.Bytes - kHeaderBytes) / kRecordBytes;
    const auto tail = static_cast<size_t>((t.Bytes - kHeaderBytes) % kRecordBytes);
    while (records > 0 && (n = std::fread(r.data(), 1, r.size(), f)) == r.size()) {
        --records;
        n = 0;
        const tk1::RecordView v = walk.Next(r.data());
        if (v.AfterEnd) continue;
        switch (v.Kind) {
            case tk1::RecordKind::Lead:
                consumer.Lead(v.Offset);
                break;
            case tk1::RecordKind::End:
                putHeld();
                consumer.End(v.Offset);
                break;
            case tk1::RecordKind::Minute:
                putHeld();
                consumer.Minute(v.Offset, v.Minute, tk1::DecodeMinute(v.Bytes));
                break;
            case tk1::RecordKind::Click: {
                ClickAt c{v.Offset, v.Minute, tk1::DecodeClick(v.Bytes)};
                if (finder == nullptr) {
                    if (!keep || keep(c)) consumer.Click(c);
                } else {
                    held.push_back(c);
                }
                break;
            }
        }
    }
    putHeld();
    if (records == 0 && tail > 0) n = std::fread(r.data(), 1, tail, f);
    body.ReadError =
        std::ferror(f) != 0 || (records > 0 && n != kRecordBytes) || (records == 0 && n != tail);
    body.Partial = n;
    return body;
}

// The faults of a file's shape on err, and whether it has none: a read error, a missing lead or
// end record, a partial record, data after the end record, click times beyond their minute, and
// header counts that disagree with the records.
bool SoundBody(const std::string& path, const tk1::Header& h, const BodyRead& body,
               std::FILE* err) {
    const tk1::BodyWalk& walk = body.Walk;
    const int64_t countedMinutes = walk.CountedMinutes();
    bool sound = true;
    auto problem = [&](const std::string& what) {
        Problem(err, path, what);
        sound = false;
    };
    if (body.ReadError) problem("read error");
    if (walk.LeadBad()) {
        problem("has no lead minute record at offset " + Num(tk1::kHeaderBytes));
    }
    if (body.Partial != 0) {
        problem("ends in a partial record of " + Num(static_cast<int64_t>(body.Partial)) +
                " bytes");
    }
    if (!walk.EndSeen()) problem("has no end record (the file was not finalised)");
    if (walk.DataAfterEnd()) problem("holds data after its end record");
    if (walk.BadClickTime()) problem("holds click times beyond the end of their minute");
    if (walk.EndSeen()) {
        // The counts the header was finalised with against the records the file holds.
        if (h.MinuteCount != countedMinutes) {
            problem("its header counts " + Num(h.MinuteCount) + " minute records, the file holds " +
                    Num(countedMinutes));
        }
        const uint32_t last = h.StartMin + static_cast<uint32_t>(countedMinutes);
        const std::pair<int32_t, uint32_t> copies[] = {
            {tk1::hdrLastLoggingMin, h.LastLoggingMin},
            {tk1::hdrLastLoggingMin2, h.LastLoggingMin2}};
        for (const auto& [at, held] : copies) {
            if (held != last) {
                problem("its header's last logging minute at offset " + Num(at) + " is " +
                        Num(held) + ", its start minute and minute records give " + Num(last));
            }
        }
    }
    return sound;
}

// Notes the recordings of the clicks it is given.
class RecordingsOfClicks : public RecordConsumer {
public:
    explicit RecordingsOfClicks(size_t recordings) : Held(recordings, false) {}
    void Click(const ClickAt& c) override {
        if (c.Source != nullptr && c.Recording != nullptr && c.Source->Recording < Held.size()) {
            Held[c.Source->Recording] = true;
        }
    }
    std::vector<bool> Held;
};

// A TK1 file opened for the dump with what is known of its recordings.
struct Prepared {
    OpenedTK1 File;
    Sources Recordings;
    // With Keep and a per-recording export: the recordings that hold a click kept.
    std::optional<std::vector<bool>> Wanted;
};

bool PerRecording(const DumpOptions& options) {
    return !options.AudacityDir.empty() || (options.Raven && !options.PerFileDir.empty());
}

// Opens path and reads what its outputs need; where it cannot be dumped, the dump's exit
// status (the reason is on err).
std::variant<Prepared, int> Prepare(const std::string& path, const DumpOptions& options,
                                    std::FILE* err) {
    auto opened = OpenTK1(path, err);
    if (const int* status = std::get_if<int>(&opened)) return *status;
    Prepared p{std::move(std::get<OpenedTK1>(opened)), {}, {}};
    // Every output but the text dump follows the clicks to their recordings where it can.
    const bool text =
        !options.Csv && !options.Raven && options.AudacityDir.empty() && !options.MinutesCsv;
    if (!text) {
        std::optional<Sources> loaded = LoadSources(path, options, err);
        if (!loaded) return kDumpRefused;
        p.Recordings = std::move(*loaded);
    }
    if (options.Keep && PerRecording(options) && p.Recordings.Known()) {
        // A first reading finds the recordings whose files are written; the body is read again
        // from its start.
        tk1::ClickSources attribution = p.Recordings.Attribution();
        RecordingsOfClicks held(p.Recordings.Recordings.size());
        ReadBody(p.File, &attribution, p.Recordings.Recordings, held, options.Keep);
        if (std::fseek(p.File.File.get(), kHeaderBytes, SEEK_SET) != 0) {
            Problem(err, path, std::strerror(errno != 0 ? errno : EIO));
            return kDumpProblems;
        }
        std::clearerr(p.File.File.get());
        p.Wanted = std::move(held.Held);
    }
    return p;
}

}  // namespace

std::optional<std::vector<std::string>> PerRecordingFiles(const std::string& path,
                                                          const DumpOptions& options,
                                                          std::FILE* err) {
    auto prepared = Prepare(path, options, err);
    if (std::holds_alternative<int>(prepared)) return std::nullopt;
    const Prepared& p = std::get<Prepared>(prepared);
    if (!p.Recordings.Known()) {
        std::fprintf(err,
                     "wavtokeb-cli: the recordings of %s are not known: no source linkage file or "
                     "recordings table beside it\n",
                     PrintableName(path).c_str());
        return std::nullopt;
    }
    const ExportContext context{path,
                                p.File.Header,
                                &p.Recordings.Recordings,
                                p.Recordings.Rows ? &*p.Recordings.Rows : nullptr,
                                &options,
                                nullptr,
                                err,
                                p.Wanted ? &*p.Wanted : nullptr};
    return ExportFiles(context);
}

int DumpTK1(const std::string& path, const DumpOptions& options, std::FILE* outFile,
            std::FILE* err) {
    auto prepared = Prepare(path, options, err);
    if (const int* status = std::get_if<int>(&prepared)) return *status;
    OpenedTK1& t = std::get<Prepared>(prepared).File;
    const Sources& sources = std::get<Prepared>(prepared).Recordings;
    const std::optional<std::vector<bool>>& wanted = std::get<Prepared>(prepared).Wanted;
    const bool text =
        !options.Csv && !options.Raven && options.AudacityDir.empty() && !options.MinutesCsv;

    std::optional<tk1::ClickSources> attribution;
    if (sources.Known()) attribution.emplace(sources.Attribution());
    const ExportContext context{path,
                                t.Header,
                                sources.Known() ? &sources.Recordings : nullptr,
                                sources.Rows ? &*sources.Rows : nullptr,
                                &options,
                                outFile,
                                err,
                                wanted ? &*wanted : nullptr};
    const std::unique_ptr<RecordConsumer> consumer =
        MakeConsumer(context, t, sources.Rows.has_value());
    if (!consumer) return kDumpRefused;

    const BodyRead body = ReadBody(t, attribution ? &*attribution : nullptr, sources.Recordings,
                                   *consumer, options.Keep);
    const bool written = consumer->Finish();
    t.File.reset();
    if (text) {
        Output(outFile).Line("Summary\t" + Num(body.Walk.CountedMinutes()) + " minute records\t" +
                             Num(body.Walk.Clicks()) + " click records");
    }
    const bool sound = SoundBody(path, t.Header, body, err);
    return written && sound ? kDumpSound : kDumpProblems;
}

}  // namespace wtk::dump
