#include "cli/tk1_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/calendar.h"
#include "base/csv.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "input/name_parsing.h"
#include "input/wav_header.h"
#include "output/tk1_header_offsets.h"
#include "output/tk1_writer.h"

namespace wtk::cli {
using namespace ::wtk::tk1;

namespace {

constexpr int32_t kHeaderBytes = TK1Writer::constTK1HdrBytes;
constexpr int32_t kRecordBytes = 16;

uint32_t BigEndian(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int k = 0; k < bytes; ++k) v = (v << 8) | p[k];
    return v;
}

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
    const size_t marks[] = {hdrConst1, hdrConst245, hdrConst11, hdrConst15};
    if (got <= hdrConst15) return std::nullopt;
    if (h[hdrConst1] == 1 && h[hdrConst245] == 245 && h[hdrConst11] == 11 && h[hdrConst15] == 15)
        return std::nullopt;
    std::string found;
    for (size_t at : marks) found += (found.empty() ? "" : ", ") + Num(h[at]);
    return "bytes 12, 31, 66 and 78 hold " + found + " where a TK1 header holds 1, 245, 11 and 15";
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

// The entries a linkage file would have given, from a recordings table: each file's minute,
// or the next one for a file that continues the minute its predecessor ran into (an undated
// one, or one that starts in an earlier minute than where it is placed).
std::vector<LinkageEntry> LinkageFromTable(const std::vector<RecordingsRow>& rows) {
    std::vector<LinkageEntry> entries;
    for (const RecordingsRow& row : rows) {
        const int64_t placed = FloorDivide(row.PlacedUs, 60'000'000).Quotient;
        const bool continues =
            !entries.empty() &&
            (!row.StartUs || FloorDivide(*row.StartUs, 60'000'000).Quotient < placed);
        entries.push_back(
            {static_cast<int32_t>(placed + (continues ? 1 : 0)), row.Path, 0, std::nullopt, false});
    }
    return entries;
}

// The linkage file's entries; lines that are no linkage lines are reported (unless quiet) and
// left out. Nothing when the file cannot be read (error: why).
std::optional<std::vector<LinkageEntry>> ReadLinkage(const std::string& path, bool quiet,
                                                     std::FILE* err, std::string& error) {
    const std::optional<std::string> read = ReadSmallFile(path, error);
    if (!read) return std::nullopt;
    const std::string& text = *read;
    std::vector<LinkageEntry> entries;
    size_t pos = 0;
    for (int64_t lineNo = 1; pos < text.size(); ++lineNo) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const size_t tab = line.find('\t');
        const std::optional<int32_t> minute =
            tab == std::string_view::npos ? std::nullopt : ParseInt32(line.substr(0, tab));
        if (!minute || *minute < 0 || tab + 1 == line.size()) {
            if (!quiet) {
                std::fprintf(err,
                             "wavtokeb-cli: %s: line %lld is no source linkage line (minute, tab, "
                             "path) and is left out\n",
                             PrintableName(path).c_str(), static_cast<long long>(lineNo));
            }
            continue;
        }
        entries.push_back({*minute, std::string(line.substr(tab + 1)), 0, std::nullopt, false});
    }
    return entries;
}

void Problem(std::FILE* err, const std::string& path, const std::string& what) {
    std::fprintf(err, "wavtokeb-cli: %s: %s\n", PrintableName(path).c_str(), what.c_str());
}

void DumpHeader(const std::string& path, int64_t fileBytes, const uint8_t* h, Output& out) {
    auto field = [&](const char* name, int64_t v) { out.Line(std::string(name) + "\t" + Num(v)); };
    auto minuteField = [&](const char* name, uint32_t v) {
        out.Line(std::string(name) + "\t" + Num(v) + "\t" +
                 MinToDateStr(static_cast<int32_t>(v & 0x7FFFFFFFu)));
    };
    out.Line("File\t" + PrintableName(path));
    field("FileBytes", fileBytes);
    field("LoggerNumber", BigEndian(h + hdrLogger, 4));
    field("HighPassFilterIndex", h[hdrFilter]);
    out.Line("Constants\t" + Num(h[hdrConst1]) + " " + Num(h[hdrConst245]) + " " +
             Num(h[hdrConst11]) + " " + Num(h[hdrConst15]));
    field("DeadBandSetting", h[hdrDeadBand]);
    field("MinAnyIPI", h[hdrMinAnyIPI]);
    field("MaxStartIPI", h[hdrMaxStartIPI]);
    field("FixedCycLimit", h[hdrFixedCycLimit]);
    field("MaxSPLforReversalTest", h[hdrMaxSPLforReversal]);
    field("BwAddon", h[hdrBwAddon]);
    field("WorkingStrongLimit1", h[hdrStrongLimit1]);
    field("WorkingStrongLimit2", h[hdrStrongLimit1 + 1]);
    field("WorkingStrongLimit3", h[hdrStrongLimit1 + 2]);
    field("WorkingStrongLimit4", h[hdrStrongLimit1 + 3]);
    field("UsingToughAmpDrop", h[hdrFlags] & 1);
    field("UserMaxSPLforBWtestLow4", (h[hdrFlags] >> 3) & 15);
    field("MaxSPLforAmpDropTest", h[hdrMaxSPLforAmpDrop]);
    field("NoisyLevel", h[hdrNoisyLevel]);
    field("QuietLevel", h[hdrQuietLevel]);
    field("NofNoisyMinsForAction", h[hdrNofNoisyMins]);
    field("NofQuietMinsForAction", h[hdrNofQuietMins]);
    field("AmpStep", h[hdrAmpStep]);
    minuteField("TK1StartMin", BigEndian(h + hdrStartMin, 4));
    minuteField("LastLoggingMin", BigEndian(h + hdrLastLoggingMin, 4));
    minuteField("FinalisedAtMin", BigEndian(h + hdrFinalisedAtMin, 4));
    out.Line("TK1StartMinCopies\t" + Num(BigEndian(h + hdrStartMin2, 4)) + "\t" +
             Num(BigEndian(h + hdrStartMin3, 4)));
    field("LastLoggingMinCopy", BigEndian(h + hdrLastLoggingMin2, 4));
    field("MinuteRecords", BigEndian(h + hdrMinuteCount, 3));
}

// The decoded fields of a click record.
struct Click {
    int32_t ClkTime5MuSecs;
    uint8_t Ncyc, PkAtPosn, IPIrangeCode, IPIpreMax, IPIPostMax, IPIPost1, IPIPost2;
    uint8_t PkMinus1, Pmax, PkPlus1, IPIbefore, DurationHigh, AmpReversalCount, DurationLow;
    uint8_t PreLastIPI;
};

Click DecodeClick(const uint8_t* r) {
    Click c{};
    c.ClkTime5MuSecs = static_cast<int32_t>(BigEndian(r, 3));
    c.Ncyc = r[3];
    c.PkAtPosn = r[4] >> 4;
    c.IPIrangeCode = r[4] & 15;
    c.IPIpreMax = r[5];
    c.IPIPostMax = r[6];
    c.IPIPost1 = r[7];
    c.IPIPost2 = r[8];
    c.PkMinus1 = r[9];
    c.Pmax = r[10];
    c.PkPlus1 = r[11];
    c.IPIbefore = r[12];
    c.DurationHigh = r[13] >> 4;
    c.AmpReversalCount = r[13] & 15;
    c.DurationLow = r[14];
    c.PreLastIPI = r[15];
    return c;
}

// Durationto16Cyc when the record holds it whole (its high part below the saturation at 15).
std::string Duration(const Click& c) {
    return c.DurationHigh < 15 ? Num(c.DurationHigh * 256 + c.DurationLow) : std::string();
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

// A CSV row; with a source (from the linkage file) its two columns at the end.
std::string CsvRow(int64_t minute, const Click& c, const SourceFinder::Source* source,
                   bool withTimes) {
    std::string s = IsoDateTime(minute, int64_t{c.ClkTime5MuSecs} * 5) + "," + Num(minute);
    for (const ClickField& f : ClickFields(c)) {
        s += ',';
        s += Num(f.Value);
        if (f.Extra == CsvExtra::KiloHertz) {
            s += ',';
            s += KiloHertz(static_cast<uint8_t>(f.Value));
        } else if (f.Extra == CsvExtra::Duration) {
            s += ',';
            s += Duration(c);
        }
    }
    if (source != nullptr) {
        const auto [entry, offset] = *source;
        s += ',';
        if (entry != nullptr) {
            char buf[40];
            const auto r =
                std::to_chars(buf, buf + sizeof buf, offset, std::chars_format::fixed, 6);
            s += CsvField(PrintableName(entry->Path)) + "," + std::string(buf, r.ptr);
        } else {
            s += ',';
        }
        if (withTimes) {
            s += ',';
            if (entry != nullptr && entry->StartUs) {
                s += IsoMicroseconds(*entry->StartUs + std::llround(offset * 1e6), ' ') +
                     (entry->Zoned ? "Z" : "");
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

std::vector<SourceFinder::Source> SourceFinder::Minute(int64_t minute,
                                                       const std::vector<int32_t>& times) {
    // Times within a minute only grow inside one file, apart from the last samples of each
    // block (500 ticks, at most 125 ms at 1 k samples/s), which open the next minute.
    constexpr int32_t kFileStartStep = 50'000;  // 250 ms
    auto reach = [&] {
        current_ = next_++;
        origin_ = entries_[current_].Minute;
    };
    // Files whose minutes came without a click.
    while (next_ < entries_.size() && entries_[next_].Minute < minute) reach();
    const bool hadEntry = next_ > 0;
    const size_t previous = current_;
    const int64_t previousOrigin = origin_;
    bool reached = false;
    while (next_ < entries_.size() && entries_[next_].Minute == minute) {
        reach();
        reached = true;
    }
    std::vector<size_t> steps;
    for (size_t i = 1; i < times.size(); ++i) {
        if (times[i] + kFileStartStep < times[i - 1]) steps.push_back(i);
    }
    // A file given this minute whose samples start after a step continues the minute that its
    // predecessor ran into: the clicks before the step are the predecessor's.
    size_t own = 0;
    if (reached && hadEntry && previous != current_ && !steps.empty() && !NextMayBeginIn(minute)) {
        own = steps.front();
        steps.erase(steps.begin());
    } else if (reached && hadEntry && previous != current_ && entries_[current_].BeginUs > 0) {
        // Without a step, a file placed at its start second begins there.
        while (own < times.size() && int64_t{times[own]} * 5 < entries_[current_].BeginUs) ++own;
        while (!steps.empty() && steps.front() <= own) steps.erase(steps.begin());
    }
    std::vector<Source> sources;
    sources.reserve(times.size());
    auto offsetOf = [&](const LinkageEntry& entry, int64_t origin, int32_t time) {
        return static_cast<double>(minute - origin) * 60 + time * 5e-6 -
               static_cast<double>(entry.BeginUs) * 1e-6;
    };
    size_t step = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        if (i < own) {
            sources.emplace_back(&entries_[previous],
                                 offsetOf(entries_[previous], previousOrigin, times[i]));
            continue;
        }
        if (step < steps.size() && steps[step] == i) {
            ++step;
            if (NextMayBeginIn(minute)) {
                current_ = next_++;
                origin_ = minute;
            }
        }
        if (next_ == 0) {
            sources.emplace_back(nullptr, 0.0);
        } else {
            sources.emplace_back(&entries_[current_],
                                 offsetOf(entries_[current_], origin_, times[i]));
        }
    }
    return sources;
}

void SourceFinder::Annotate(const std::vector<RecordingsRow>& rows) {
    for (size_t i = 0; i < entries_.size() && i < rows.size(); ++i) {
        entries_[i].BeginUs = FloorDivide(rows[i].PlacedUs, 60'000'000).Remainder;
        entries_[i].StartUs = rows[i].StartUs;
        entries_[i].Zoned = rows[i].Zoned;
    }
}

std::optional<std::pair<int64_t, bool>> ParseIsoMicroseconds(std::string_view text) {
    bool zoned = false;
    if (text.ends_with('Z')) {
        zoned = true;
        text.remove_suffix(1);
    }
    auto digits = [&](size_t pos, size_t n) { return DigitsAt(text, pos, n); };
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const int32_t second = digits(17, 2);
    const std::optional<int32_t> minute =
        EncodeMinuteNumber(digits(0, 4), digits(5, 2), digits(8, 2), digits(11, 2), digits(14, 2));
    if (!minute || second < 0 || second > 59) return std::nullopt;
    int64_t us = 0;
    if (text.size() > 19) {
        const size_t n = text.size() - 20;
        if (text[19] != '.' || n < 1 || n > 6) return std::nullopt;
        const int32_t fraction = digits(20, n);
        if (fraction < 0) return std::nullopt;
        us = fraction;
        for (size_t k = n; k < 6; ++k) us *= 10;
    }
    return std::pair{int64_t{*minute} * 60'000'000 + int64_t{second} * 1'000'000 + us, zoned};
}

std::variant<std::vector<RecordingsRow>, std::string> ParseRecordingsTable(std::string_view text) {
    // RFC 4180 cells of one line (no line breaks inside them).
    auto cellsOf = [](std::string_view line) {
        std::vector<std::string> cells(1);
        bool quoted = false;
        for (size_t k = 0; k < line.size(); ++k) {
            const char ch = line[k];
            if (quoted) {
                if (ch != '"') {
                    cells.back() += ch;
                } else if (k + 1 < line.size() && line[k + 1] == '"') {
                    cells.back() += '"';
                    ++k;
                } else {
                    quoted = false;
                }
            } else if (ch == '"') {
                quoted = true;
            } else if (ch == ',') {
                cells.emplace_back();
            } else {
                cells.back() += ch;
            }
        }
        return cells;
    };
    std::vector<RecordingsRow> rows;
    size_t pathAt = 0, startAt = 0, placedAt = 0, needed = 0;
    size_t pos = 0;
    for (int64_t lineNo = 1; pos < text.size(); ++lineNo) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::vector<std::string> cells = cellsOf(line);
        if (lineNo == 1) {
            auto column = [&](std::string_view name) {
                return static_cast<size_t>(std::find(cells.begin(), cells.end(), name) -
                                           cells.begin());
            };
            pathAt = column("path");
            startAt = column("start");
            placedAt = column("placed_minute");
            needed = std::max({pathAt, startAt, placedAt}) + 1;
            if (needed > cells.size()) {
                return std::string(
                    "its first line is no recordings table heading (path, start, "
                    "..., placed_minute)");
            }
            continue;
        }
        if (line.empty() && pos >= text.size()) break;
        const auto placed =
            cells.size() >= needed ? ParseIsoMicroseconds(cells[placedAt]) : std::nullopt;
        const auto start = cells.size() >= needed && !cells[startAt].empty()
                               ? ParseIsoMicroseconds(cells[startAt])
                               : std::nullopt;
        if (!placed || (cells.size() >= needed && !cells[startAt].empty() && !start)) {
            return "line " + Num(lineNo) + " is no recordings table row";
        }
        RecordingsRow row;
        row.Path = cells[pathAt];
        if (start) {
            row.StartUs = start->first;
            row.Zoned = start->second;
        }
        row.PlacedUs = placed->first;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string KiloHertz(uint8_t ipi) {
    if (ipi == 0 || ipi == 255) return {};
    // 4000 / ipi to three decimals, rounded half up, in integers: 4,000,000 / ipi thousandths.
    const int64_t thousandths = (int64_t{8'000'000} / ipi + 1) / 2;
    std::string s = Num(thousandths / 1000) + ".";
    AppendZeroPadded(s, thousandths % 1000, 3);
    return s;
}

int DumpTK1(const std::string& path, const DumpOptions& options, std::FILE* outFile,
            std::FILE* err) {
    const bool csv = options.Csv;
    // Only a regular file is read, and only as far as its size when opened: a pipe or a
    // device (one that never ends, one that blocks) is refused without reading it.
    errno = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        Problem(err, path, std::strerror(errno != 0 ? errno : EIO));
        if (fd >= 0) ::close(fd);
        return 1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        std::fprintf(err, "wavtokeb-cli: %s is not a TK1 file: it is %s\n",
                     PrintableName(path).c_str(), KindOfFile(st.st_mode));
        return kDumpRefused;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        Problem(err, path, std::strerror(errno));
        ::close(fd);
        return 1;
    }
    const int64_t fileBytes = st.st_size;
    std::vector<uint8_t> header(kHeaderBytes);
    errno = 0;
    const size_t got = std::fread(
        header.data(), 1, static_cast<size_t>(std::min<int64_t>(kHeaderBytes, fileBytes)), f);
    if (std::ferror(f) != 0) {
        const int readErrno = errno;
        std::fclose(f);
        Problem(err, path, std::strerror(readErrno != 0 ? readErrno : EIO));
        return 1;
    }
    if (const std::optional<std::string> found = NotTK1(header.data(), got)) {
        std::fclose(f);
        std::fprintf(err, "wavtokeb-cli: %s is not a TK1 file: %s\n", PrintableName(path).c_str(),
                     found->c_str());
        return kDumpRefused;
    }
    if (got < static_cast<size_t>(kHeaderBytes)) {
        std::fclose(f);
        Problem(err, path, "too short for a TK1 file (" + Num(fileBytes) + " bytes)");
        return 1;
    }

    // The clicks' sources: the linkage file named, or the one beside the TK1 file if any.
    std::optional<SourceFinder> sources;
    if (csv) {
        const bool named = !options.Linkage.empty();
        const std::string linkage =
            named ? options.Linkage
                  : path.substr(0, path.size() - std::min<size_t>(4, path.size())) + ".txt";
        struct stat st {};
        if (named || (::stat(linkage.c_str(), &st) == 0 && S_ISREG(st.st_mode))) {
            std::string error;
            auto entries = ReadLinkage(linkage, options.Quiet, err, error);
            if (!entries && named) {
                std::fclose(f);
                std::fprintf(err, "wavtokeb-cli: --linkage %s: %s\n",
                             PrintableName(linkage).c_str(), error.c_str());
                return kDumpRefused;
            }
            if (entries) {
                sources.emplace(std::move(*entries));
            } else if (!options.Quiet) {
                std::fprintf(err, "wavtokeb-cli: %s: %s; no source columns\n",
                             PrintableName(linkage).c_str(), error.c_str());
            }
        }
    }

    // The recordings table: the start of each file, and where its first sample lies.
    bool withTimes = false;
    if (csv) {
        const bool named = !options.Recordings.empty();
        const std::string table =
            named ? options.Recordings : std::string(Utf8DropRight(path, 4)) + ".recordings.csv";
        struct stat st {};
        if (named || (::stat(table.c_str(), &st) == 0 && S_ISREG(st.st_mode))) {
            std::string error;
            std::optional<std::vector<RecordingsRow>> rows;
            if (const std::optional<std::string> text = ReadSmallFile(table, error)) {
                auto parsed = ParseRecordingsTable(*text);
                if (auto* r = std::get_if<std::vector<RecordingsRow>>(&parsed)) {
                    rows = std::move(*r);
                } else {
                    error = std::get<std::string>(parsed);
                }
            }
            if (rows && sources && sources->Size() != rows->size()) {
                error = "it has " + Num(static_cast<int64_t>(rows->size())) + " rows for the " +
                        Num(static_cast<int64_t>(sources->Size())) +
                        " files of the source linkage file";
                rows.reset();
            }
            if (!rows && named) {
                std::fclose(f);
                std::fprintf(err, "wavtokeb-cli: --recordings %s: %s\n",
                             PrintableName(table).c_str(), error.c_str());
                return kDumpRefused;
            }
            if (!rows) {
                if (!options.Quiet) {
                    std::fprintf(err, "wavtokeb-cli: %s: %s; no recording_time column\n",
                                 PrintableName(table).c_str(), error.c_str());
                }
            } else {
                // Without a linkage file, the table tells where each file lies.
                if (!sources) {
                    sources.emplace(LinkageFromTable(*rows));
                }
                sources->Annotate(*rows);
                withTimes = true;
            }
        }
    }

    Output out(outFile);
    if (csv) {
        out.Line(std::string(kCsvHeader) + (sources ? ",source_wav,offset_s" : "") +
                 (withTimes ? ",recording_time" : ""));
    } else {
        DumpHeader(path, fileBytes, header.data(), out);
    }

    const int32_t startMin = static_cast<int32_t>(BigEndian(header.data() + 256, 4) & 0x7FFFFFFF);
    int64_t countedMinutes = 0;  // counted minute records seen; the first one opens startMin
    int64_t clicks = 0;
    bool leadSeen = false, leadBad = false, endSeen = false, dataAfterEnd = false;
    bool badClickTime = false;
    int64_t offset = kHeaderBytes;
    // With sources, the rows of one minute are held until the minute is complete.
    int64_t heldMinute = 0;
    std::vector<Click> held;
    auto putHeld = [&] {
        std::vector<int32_t> times;
        for (const Click& c : held) times.push_back(c.ClkTime5MuSecs);
        const std::vector<SourceFinder::Source> found = sources->Minute(heldMinute, times);
        for (size_t i = 0; i < held.size(); ++i)
            out.Line(CsvRow(heldMinute, held[i], &found[i], withTimes));
        held.clear();
    };
    std::array<uint8_t, kRecordBytes> r{};
    size_t n = 0;
    // Whole records up to the size the file had when opened; what follows is its tail.
    int64_t records = (fileBytes - kHeaderBytes) / kRecordBytes;
    const auto tail = static_cast<size_t>((fileBytes - kHeaderBytes) % kRecordBytes);
    while (records > 0 && (n = std::fread(r.data(), 1, r.size(), f)) == r.size()) {
        --records;
        n = 0;
        if (endSeen) {
            dataAfterEnd = true;
        } else if (!leadSeen) {
            leadSeen = true;
            leadBad = r[0] != 254;
            if (!csv) out.Line(Num(offset) + "\tLEAD");
        } else if (r[0] == 255) {
            endSeen = true;
            if (!csv) out.Line(Num(offset) + "\tEND");
        } else if (r[0] == 254) {
            ++countedMinutes;
            const int64_t minute = int64_t{startMin} + countedMinutes - 1;
            if (!csv) {
                out.Line(Num(offset) + "\tMINUTE\t" + Num(minute) + "\t" + MinuteText(minute) +
                         "\tDeadBandPlusUplift=" + Num(r[13]) +
                         "\tMinuteScalerX2560=" + Num(r[14]));
            }
        } else {
            ++clicks;
            const Click c = DecodeClick(r.data());
            if (c.ClkTime5MuSecs >= 12'000'000) badClickTime = true;
            const int64_t minute = int64_t{startMin} + countedMinutes - 1;
            if (!csv) {
                out.Line(ClickLine(offset, minute, c));
            } else if (!sources) {
                out.Line(CsvRow(minute, c, nullptr, false));
            } else {
                if (!held.empty() && minute != heldMinute) putHeld();
                heldMinute = minute;
                held.push_back(c);
            }
        }
        offset += kRecordBytes;
    }
    if (!held.empty()) putHeld();
    if (records == 0 && tail > 0) n = std::fread(r.data(), 1, tail, f);
    const bool readError =
        std::ferror(f) != 0 || (records > 0 && n != kRecordBytes) || (records == 0 && n != tail);
    std::fclose(f);
    if (!csv) {
        out.Line("Summary\t" + Num(countedMinutes) + " minute records\t" + Num(clicks) +
                 " click records");
    }

    int status = 0;
    auto problem = [&](const std::string& what) {
        Problem(err, path, what);
        status = 1;
    };
    if (readError) problem("read error");
    if (leadBad) problem("has no lead minute record at offset 1024");
    if (n != 0) problem("ends in a partial record of " + Num(static_cast<int64_t>(n)) + " bytes");
    if (!endSeen) problem("has no end record (the file was not finalised)");
    if (dataAfterEnd) problem("holds data after its end record");
    if (badClickTime) problem("holds click times beyond the end of their minute");
    if (endSeen) {
        // The counts the header was finalised with against the records the file holds.
        const uint32_t stored = BigEndian(header.data() + hdrMinuteCount, 3);
        if (stored != countedMinutes) {
            problem("its header counts " + Num(stored) + " minute records, the file holds " +
                    Num(countedMinutes));
        }
        const uint32_t last =
            BigEndian(header.data() + hdrStartMin, 4) + static_cast<uint32_t>(countedMinutes);
        for (const size_t at : {size_t{hdrLastLoggingMin}, size_t{hdrLastLoggingMin2}}) {
            const uint32_t held = BigEndian(header.data() + at, 4);
            if (held != last) {
                problem("its header's last logging minute at offset " + Num(at) + " is " +
                        Num(held) + ", its start minute and minute records give " + Num(last));
            }
        }
    }
    return status;
}

}  // namespace wtk::cli
