#include "input/recording_start.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/calendar.h"
#include "input/little_endian.h"

namespace wtk {
namespace {

constexpr int32_t kMaxZoneMinutes = 23 * 60 + 59;

std::string_view AsText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text without surrounding blanks, and without what follows a NUL (writers pad fixed-size
// fields and chunks with NULs).
std::string_view Trim(std::string_view s) {
    s = s.substr(0, s.find('\0'));
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Reads a text from left to right; every step either takes what it expects or leaves the
// position where it was.
class Scanner {
public:
    explicit Scanner(std::string_view s) : s_(s) {}
    bool AtEnd() const { return pos_ == s_.size(); }
    bool Peek(char c) const { return pos_ < s_.size() && s_[pos_] == c; }

    bool Take(char c) {
        if (!Peek(c)) return false;
        ++pos_;
        return true;
    }
    bool Take(std::string_view text) {
        if (s_.substr(pos_).substr(0, text.size()) != text) return false;
        pos_ += text.size();
        return true;
    }
    // One of the characters of set, stored in c.
    bool TakeAnyOf(std::string_view set, char& c) {
        if (pos_ >= s_.size() || set.find(s_[pos_]) == std::string_view::npos) return false;
        c = s_[pos_++];
        return true;
    }
    // Between min and max ASCII digits (as many as there are), their value in out.
    bool Digits(size_t min, size_t max, int32_t& out) {
        size_t n = 0;
        int32_t value = 0;
        while (n < max && pos_ + n < s_.size() && s_[pos_ + n] >= '0' && s_[pos_ + n] <= '9') {
            value = value * 10 + (s_[pos_ + n] - '0');
            ++n;
        }
        if (n < min) return false;
        pos_ += n;
        out = value;
        return true;
    }
    bool Digits(size_t n, int32_t& out) { return Digits(n, n, out); }
    // A decimal fraction of a second after its '.' (1 to 9 digits, cut to microseconds).
    bool Fraction(int32_t& microseconds) {
        const size_t start = pos_;
        int32_t digits = 0;
        if (!Digits(1, 9, digits)) return false;
        size_t n = pos_ - start;
        for (; n < 6; ++n) digits *= 10;
        for (; n > 6; --n) digits /= 10;
        microseconds = digits;
        return true;
    }

private:
    std::string_view s_;
    size_t pos_ = 0;
};

struct CivilTime {
    int32_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Microsecond = 0;
    int32_t ZoneMinutes = 0;
    bool Zoned = false;
};

std::optional<RecordingStart> Encode(const CivilTime& t, TimeSource source) {
    const auto us = EncodeMicroseconds(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second,
                                       t.Microsecond, t.ZoneMinutes);
    if (!us) return std::nullopt;
    return RecordingStart{*us, t.Zoned, source, t.Zoned ? t.ZoneMinutes : 0};
}

// A zone after the time: "Z", or a sign and hours with optional minutes (hh:mm, hhmm or h
// with oneDigitHours).
bool ParseZone(Scanner& s, CivilTime& t, bool oneDigitHours) {
    if (s.Take('Z')) {
        t.Zoned = true;
        return true;
    }
    char sign = 0;
    if (!s.TakeAnyOf("+-", sign)) return false;
    int32_t hours = 0, minutes = 0;
    if (!s.Digits(oneDigitHours ? 1 : 2, 2, hours)) return false;
    if (s.Take(':')) {
        if (!s.Digits(2, minutes)) return false;
    } else {
        s.Digits(2, minutes);  // hhmm, or hours alone
    }
    if (hours > 23 || minutes > 59) return false;
    t.ZoneMinutes = (sign == '-' ? -1 : 1) * (hours * 60 + minutes);
    t.Zoned = true;
    return true;
}

// YYYY-MM-DD, a separator of dateTimeSeparators, hh:mm:ss[.f...][zone]; nothing may follow.
std::optional<CivilTime> ParseDateTime(std::string_view text, std::string_view dateTimeSeparators) {
    Scanner s(text);
    CivilTime t;
    char separator = 0;
    if (!s.Digits(4, t.Year) || !s.Take('-') || !s.Digits(2, t.Month) || !s.Take('-') ||
        !s.Digits(2, t.Day) || !s.TakeAnyOf(dateTimeSeparators, separator) ||
        !s.Digits(2, t.Hour) || !s.Take(':') || !s.Digits(2, t.Minute) || !s.Take(':') ||
        !s.Digits(2, t.Second))
        return std::nullopt;
    if (s.Take('.') && !s.Fraction(t.Microsecond)) return std::nullopt;
    if (!s.AtEnd() && !ParseZone(s, t, false)) return std::nullopt;
    if (!s.AtEnd()) return std::nullopt;
    return t;
}

// ---- log.xml -------------------------------------------------------------------------------

// One tag of an XML text: its name, the text of its attributes, and where it ends.
struct Tag {
    std::string_view Name;
    std::string_view Attributes;
    bool End = false;  // </Name>
    size_t After = 0;  // the position after its '>'
};

// Calls visit(tag) for every tag in order, stepping over comments and declarations, until visit
// returns false. Quoted attribute values may hold '>'.
template <typename Visit>
void ForEachTag(std::string_view xml, Visit visit) {
    size_t pos = 0;
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        if (xml.substr(pos, 4) == "<!--") {
            const size_t end = xml.find("-->", pos + 4);
            if (end == std::string_view::npos) return;
            pos = end + 3;
            continue;
        }
        size_t end = pos + 1;
        char quote = 0;
        while (end < xml.size() && (quote != 0 || xml[end] != '>')) {
            if (quote != 0 && xml[end] == quote) {
                quote = 0;
            } else if (quote == 0 && (xml[end] == '"' || xml[end] == '\'')) {
                quote = xml[end];
            }
            ++end;
        }
        if (end >= xml.size()) return;  // cut off
        std::string_view inside = xml.substr(pos + 1, end - pos - 1);
        Tag tag;
        tag.After = end + 1;
        pos = end + 1;
        if (inside.empty() || inside[0] == '?' || inside[0] == '!') continue;
        if (inside[0] == '/') {
            tag.End = true;
            inside.remove_prefix(1);
        }
        if (!inside.empty() && inside.back() == '/') inside.remove_suffix(1);
        size_t nameEnd = 0;
        while (nameEnd < inside.size() && !IsSpace(inside[nameEnd])) ++nameEnd;
        tag.Name = inside.substr(0, nameEnd);
        tag.Attributes = inside.substr(nameEnd);
        if (!visit(tag)) return;
    }
}

// The value of an attribute in a tag's attribute text, if it is there.
std::optional<std::string_view> Attribute(std::string_view attributes, std::string_view name) {
    size_t pos = 0;
    while (pos < attributes.size()) {
        while (pos < attributes.size() && IsSpace(attributes[pos])) ++pos;
        const size_t nameStart = pos;
        while (pos < attributes.size() && attributes[pos] != '=' && !IsSpace(attributes[pos]))
            ++pos;
        const std::string_view attribute = attributes.substr(nameStart, pos - nameStart);
        while (pos < attributes.size() && IsSpace(attributes[pos])) ++pos;
        if (pos >= attributes.size() || attributes[pos] != '=') return std::nullopt;
        ++pos;
        while (pos < attributes.size() && IsSpace(attributes[pos])) ++pos;
        if (pos >= attributes.size() || (attributes[pos] != '"' && attributes[pos] != '\''))
            return std::nullopt;
        const char quote = attributes[pos++];
        const size_t end = attributes.find(quote, pos);
        if (end == std::string_view::npos) return std::nullopt;
        if (attribute == name) return attributes.substr(pos, end - pos);
        pos = end + 1;
    }
    return std::nullopt;
}

// The ID of the stream whose files are the recordings: a CFG block of FTYPE "wav" whose SUFFIX
// is "wav".
std::optional<std::string_view> WavStreamId(std::string_view xml) {
    std::optional<std::string_view> found;
    std::optional<std::string_view> id;  // of the open CFG block of FTYPE "wav"
    bool wavSuffix = false;
    ForEachTag(xml, [&](const Tag& tag) {
        if (tag.Name == "CFG") {
            if (tag.End) {
                if (id && wavSuffix) found = id;
                id.reset();
            } else {
                const auto ftype = Attribute(tag.Attributes, "FTYPE");
                id.reset();
                if (ftype && Trim(*ftype) == "wav") id = Attribute(tag.Attributes, "ID");
                if (id) id = Trim(*id);
                wavSuffix = false;
            }
        } else if (tag.Name == "SUFFIX" && !tag.End && id) {
            const size_t end = xml.find('<', tag.After);
            if (end != std::string_view::npos)
                wavSuffix = Trim(xml.substr(tag.After, end - tag.After)) == "wav";
        }
        return !found;
    });
    return found;
}

// ---- ICMT / INFO ---------------------------------------------------------------------------

// A RIFF-style list of {id[4], u32 size, body, pad to even}: calls visit(id, body) for each
// complete sub-chunk until visit returns false.
template <typename Visit>
void ForEachInfoChunk(std::span<const uint8_t> bytes, Visit visit) {
    size_t pos = 0;
    while (bytes.size() - pos >= 8) {
        const std::string_view id = AsText(bytes.subspan(pos, 4));
        const uint32_t size = Le32(bytes.data() + pos + 4);
        pos += 8;
        if (size > bytes.size() - pos) return;  // cut off
        if (!visit(id, bytes.subspan(pos, size))) return;
        pos += size;
        if (size % 2 == 1 && pos < bytes.size()) ++pos;
    }
}

// ---- bext ----------------------------------------------------------------------------------

constexpr size_t kBextDateOffset = 320;
constexpr size_t kBextTimeOffset = 330;
constexpr size_t kBextTimeReferenceOffset = 338;

// Fields of three numbers of the given widths, separated by one of the characters the format
// allows ('-', '_', ':', ' ', '.').
bool ThreeFields(std::string_view text, size_t first, int32_t& a, int32_t& b, int32_t& c) {
    Scanner s(text);
    char separator = 0;
    return s.Digits(first, a) && s.TakeAnyOf("-_: .", separator) && s.Digits(2, b) &&
           s.TakeAnyOf("-_: .", separator) && s.Digits(2, c) && s.AtEnd();
}

// ---- files ---------------------------------------------------------------------------------

// An open file descriptor, closed on leaving.
class OpenFile {
public:
    // Opens without waiting (a FIFO or device named like a recording must not block) and keeps
    // only regular files.
    explicit OpenFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) Close();
        if (fd_ >= 0) size_ = st.st_size;
    }
    ~OpenFile() { Close(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const { return size_; }

    ReadAtFunction Reader() const { return ReadAtFd(fd_); }

private:
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    int64_t size_ = 0;
};

// What ReadWavStart collects on its walk.
struct CollectedChunks {
    std::vector<std::array<char, 4>> Ids;
    std::vector<std::vector<uint8_t>> Bodies;
    uint32_t SampleRate = 0;
};

// At most this many chunks of interest are kept from one file.
constexpr size_t kMaxCollectedChunks = 16;

CollectedChunks CollectChunks(const ReadAtFunction& readAt, int64_t fileSize) {
    CollectedChunks found;
    bool fmtSeen = false;
    WalkRiffChunks(readAt, fileSize, [&](const RiffChunkHeader& c) {
        if (!c.Complete) return false;
        if (std::memcmp(c.Id.data(), "fmt ", 4) == 0 && !fmtSeen) {
            fmtSeen = true;
            uint8_t rate[4];
            if (c.Size >= 16 && readAt(c.BodyOffset + 4, rate, 4) == 4)
                found.SampleRate = Le32(rate);
        } else if (IsStartTimeChunk(c.Id) && c.Size <= kMaxStartChunkBytes &&
                   found.Bodies.size() < kMaxCollectedChunks) {
            std::vector<uint8_t> body(c.Size);
            if (body.empty() || readAt(c.BodyOffset, body.data(), body.size()) == body.size()) {
                found.Ids.push_back(c.Id);
                found.Bodies.push_back(std::move(body));
            }
        }
        return true;
    });
    return found;
}

std::vector<RiffChunk> ChunksOf(const CollectedChunks& found) {
    std::vector<RiffChunk> chunks;
    for (size_t i = 0; i < found.Bodies.size(); ++i)
        chunks.push_back({found.Ids[i], found.Bodies[i]});
    return chunks;
}

constexpr std::array<char, 4> ChunkId(const char (&id)[5]) {
    return {id[0], id[1], id[2], id[3]};
}

// The sources found in chunks, in the order they are preferred (the sidecar comes after these
// but before bext).
std::optional<RecordingStart> FirstFromChunks(std::span<const RiffChunk> chunks,
                                              const std::array<char, 4>& id, uint32_t sampleRate) {
    for (const RiffChunk& c : chunks) {
        if (c.Id != id) continue;
        std::optional<RecordingStart> start;
        if (id == ChunkId("guan")) start = ParseGuanoChunk(c.Body);
        if (id == ChunkId("wamd")) start = ParseWamdChunk(c.Body);
        if (id == ChunkId("LIST")) start = ParseInfoList(c.Body);
        if (id == ChunkId("bext")) start = ParseBextChunk(c.Body, sampleRate);
        if (start) return start;
    }
    return std::nullopt;
}

constexpr std::array<std::array<char, 4>, 3> kChunksBeforeSidecar = {
    ChunkId("guan"), ChunkId("wamd"), ChunkId("LIST")};

std::optional<RecordingStart> StartBeforeSidecar(std::span<const RiffChunk> chunks,
                                                 uint32_t sampleRate) {
    for (const auto& id : kChunksBeforeSidecar) {
        if (auto start = FirstFromChunks(chunks, id, sampleRate)) return start;
    }
    return std::nullopt;
}

}  // namespace

std::string_view TimeSourceText(TimeSource source) {
    switch (source) {
        case TimeSource::None:
            return "";
        case TimeSource::Name:
            return "name";
        case TimeSource::Pattern:
            return "pattern";
        case TimeSource::LogXml:
            return "log.xml";
        case TimeSource::Guan:
            return "guan";
        case TimeSource::Wamd:
            return "wamd";
        case TimeSource::Icmt:
            return "icmt";
        case TimeSource::Bext:
            return "bext";
        case TimeSource::Harp:
            return "harp";
    }
    return "";
}

std::string FormatRecordingStart(const RecordingStart& start) {
    return IsoMicroseconds(start.Microseconds) + (start.Zoned ? "Z" : "");
}

std::optional<int64_t> EncodeMicroseconds(int32_t year, int32_t month, int32_t day, int32_t hour,
                                          int32_t minute, int32_t second, int32_t microsecond,
                                          int32_t zoneMinutes) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || microsecond < 0 || microsecond >= kMicrosecondsPerSecond ||
        zoneMinutes < -kMaxZoneMinutes || zoneMinutes > kMaxZoneMinutes)
        return std::nullopt;
    const int64_t seconds = DayNumberFromCivil(year, month, day) * kSecondsPerDay + hour * 3600LL +
                            minute * 60LL + second - zoneMinutes * 60LL;
    return seconds * kMicrosecondsPerSecond + microsecond;
}

std::optional<RecordingStart> ParseIso8601(std::string_view text) {
    const auto t = ParseDateTime(Trim(text), "T ");
    return t ? Encode(*t, TimeSource::None) : std::nullopt;
}

std::optional<RecordingStart> ParseSoundTrapLog(std::string_view xml) {
    const auto id = WavStreamId(xml);
    if (!id) return std::nullopt;
    std::optional<RecordingStart> start;
    bool inStream = false;
    ForEachTag(xml, [&](const Tag& tag) {
        if (tag.Name == "PROC_EVENT") {
            const auto eventId = Attribute(tag.Attributes, "ID");
            inStream = !tag.End && eventId && Trim(*eventId) == *id;
        } else if (tag.Name == "WavFileHandler" && inStream && !tag.End) {
            if (const auto value = Attribute(tag.Attributes, "SamplingStartTimeUTC")) {
                // UTC by its name; a zone written after it is honoured.
                auto t = ParseDateTime(Trim(*value), "T ");
                if (!t) return false;
                t->Zoned = true;
                start = Encode(*t, TimeSource::LogXml);
                return false;
            }
        }
        return true;
    });
    return start;
}

std::optional<RecordingStart> ParseGuanoChunk(std::span<const uint8_t> body) {
    std::string_view text = AsText(body);
    text = text.substr(0, text.find('\0'));
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    bool first = true;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            if (first) return std::nullopt;
            continue;
        }
        const std::string_view key = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (first) {
            if (key != "GUANO|Version") return std::nullopt;
            first = false;
        } else if (key == "Timestamp") {
            const auto t = ParseDateTime(value, "T ");
            return t ? Encode(*t, TimeSource::Guan) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<RecordingStart> ParseWamdChunk(std::span<const uint8_t> body) {
    constexpr uint16_t kTimestampId = 0x0005;
    size_t pos = 0;
    while (body.size() - pos >= 6) {
        const uint16_t id = Le16(body.data() + pos);
        const uint32_t length = Le32(body.data() + pos + 2);
        pos += 6;
        if (length > body.size() - pos) return std::nullopt;  // cut off
        if (id == kTimestampId) {
            const auto t = ParseDateTime(Trim(AsText(body.subspan(pos, length))), " T");
            return t ? Encode(*t, TimeSource::Wamd) : std::nullopt;
        }
        pos += length;
    }
    return std::nullopt;
}

std::optional<RecordingStart> ParseAudioMothComment(std::string_view comment) {
    Scanner s(Trim(comment));
    CivilTime t;
    if (!s.Take("Recorded at ") || !s.Digits(2, t.Hour) || !s.Take(':') || !s.Digits(2, t.Minute) ||
        !s.Take(':') || !s.Digits(2, t.Second))
        return std::nullopt;
    if (s.Take('.') && !s.Fraction(t.Microsecond)) return std::nullopt;
    if (!s.Take(' ') || !s.Digits(2, t.Day) || !s.Take('/') || !s.Digits(2, t.Month) ||
        !s.Take('/') || !s.Digits(4, t.Year) || !s.Take(" (UTC"))
        return std::nullopt;
    if (!s.Peek(')') && (s.Peek('Z') || !ParseZone(s, t, true))) return std::nullopt;
    if (!s.Take(')')) return std::nullopt;
    t.Zoned = true;
    return Encode(t, TimeSource::Icmt);
}

std::optional<RecordingStart> ParseInfoList(std::span<const uint8_t> body) {
    if (body.size() < 4 || AsText(body.first(4)) != "INFO") return std::nullopt;
    std::optional<RecordingStart> start;
    ForEachInfoChunk(body.subspan(4), [&](std::string_view id, std::span<const uint8_t> text) {
        if (id != "ICMT") return true;
        start = ParseAudioMothComment(AsText(text));
        return false;
    });
    return start;
}

std::optional<RecordingStart> ParseBextChunk(std::span<const uint8_t> body, uint32_t sampleRate) {
    if (body.size() < kBextTimeReferenceOffset) return std::nullopt;
    CivilTime t;
    if (!ThreeFields(AsText(body.subspan(kBextDateOffset, 10)), 4, t.Year, t.Month, t.Day))
        return std::nullopt;
    const bool timeWritten =
        ThreeFields(AsText(body.subspan(kBextTimeOffset, 8)), 2, t.Hour, t.Minute, t.Second);
    uint64_t reference = 0;
    if (body.size() >= kBextTimeReferenceOffset + 8) {
        const uint8_t* p = body.data() + kBextTimeReferenceOffset;
        reference = Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
    }
    // The sample count since midnight, when it falls within the day, places the start to the
    // microsecond; a count beyond the day is no time of that date.
    const uint64_t samplesPerDay = static_cast<uint64_t>(sampleRate) * kSecondsPerDay;
    if (reference > 0 && sampleRate > 0 && reference < samplesPerDay) {
        const uint64_t seconds = reference / sampleRate;
        const uint64_t rest = reference % sampleRate;
        t.Hour = static_cast<int32_t>(seconds / 3600);
        t.Minute = static_cast<int32_t>(seconds / 60 % 60);
        t.Second = static_cast<int32_t>(seconds % 60);
        // Rounded to the nearest microsecond; rest < 2^32, so the product fits.
        t.Microsecond = static_cast<int32_t>(
            std::min<uint64_t>((rest * 2'000'000 + sampleRate) / (2ULL * sampleRate), 999'999));
    } else if (!timeWritten) {
        return std::nullopt;
    }
    return Encode(t, TimeSource::Bext);
}

bool IsStartTimeChunk(const std::array<char, 4>& id) {
    return id == ChunkId("guan") || id == ChunkId("wamd") || id == ChunkId("LIST") ||
           id == ChunkId("bext");
}

std::optional<RecordingStart> StartFromChunks(std::span<const RiffChunk> chunks,
                                              uint32_t sampleRate) {
    if (auto start = StartBeforeSidecar(chunks, sampleRate)) return start;
    return FirstFromChunks(chunks, ChunkId("bext"), sampleRate);
}

std::optional<RecordingStart> ReadWavStart(const ReadAtFunction& readAt, int64_t fileSize) {
    const CollectedChunks found = CollectChunks(readAt, fileSize);
    return StartFromChunks(ChunksOf(found), found.SampleRate);
}

std::optional<RecordingStart> ReadWavStart(std::span<const uint8_t> file) {
    return ReadWavStart(ReadAtMemory(file), static_cast<int64_t>(file.size()));
}

std::string SoundTrapLogPath(std::string_view wavPath) {
    for (const std::string_view extension : {".wav", ".flac"}) {
        if (wavPath.size() < extension.size()) continue;
        std::string suffix(wavPath.substr(wavPath.size() - extension.size()));
        std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        if (suffix == extension) {
            return std::string(wavPath.substr(0, wavPath.size() - extension.size())) + ".log.xml";
        }
    }
    return {};
}

std::optional<RecordingStart> ReadSoundTrapLog(const std::string& wavPath) {
    const std::string path = SoundTrapLogPath(wavPath);
    if (path.empty()) return std::nullopt;
    const OpenFile file(path);
    if (!file.IsOpen() || file.Size() > kMaxSoundTrapLogBytes) return std::nullopt;
    std::string text(static_cast<size_t>(file.Size()), '\0');
    text.resize(file.Reader()(0, reinterpret_cast<uint8_t*>(text.data()), text.size()));
    return ParseSoundTrapLog(text);
}

std::optional<RecordingStart> ReadRecordingStart(const std::string& wavPath) {
    CollectedChunks found;
    {
        const OpenFile file(wavPath);
        if (!file.IsOpen()) return std::nullopt;
        found = CollectChunks(file.Reader(), file.Size());
    }
    const std::vector<RiffChunk> chunks = ChunksOf(found);
    if (auto start = StartBeforeSidecar(chunks, found.SampleRate)) return start;
    if (auto start = ReadSoundTrapLog(wavPath)) return start;
    return FirstFromChunks(chunks, ChunkId("bext"), found.SampleRate);
}

}  // namespace wtk
