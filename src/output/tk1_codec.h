// The TK1 file layout, encoded and decoded in this one place: the 1024-byte header and its
// fields, the 16-byte body records (minute, click and end records, told apart by their first
// byte), the walk through the body that gives each record its minute, and the two text files
// that accompany a TK1 file: the source-linkage file and the recordings table.
//
// A TK1 file is the header, then from offset 1024 a lead minute record, the first counted
// minute record, the click and minute records in the order they occur (each minute record
// opens the next minute; click records belong to the minute opened last) and an end record.
// Every multi-byte integer is unsigned big-endian.
//
// The record encoders are inline and allocate nothing: the click detector packs every accepted
// click through them.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/byte_order.h"
#include "base/calendar.h"

namespace wtk::tk1 {

// ---- layout ----

inline constexpr int32_t kHeaderBytes = 1024;
inline constexpr int32_t kRecordBytes = 16;
// The header and the lead minute record, written together when a file is created.
inline constexpr int32_t kHeaderBlockBytes = kHeaderBytes + kRecordBytes;
// A file finalised without data: header, lead and first minute record, end record.
inline constexpr int32_t kEmptyFileBytes = kHeaderBytes + 3 * kRecordBytes;
inline constexpr uint8_t kMinuteMarker = 254;  // first byte of a minute record
inline constexpr uint8_t kEndMarker = 255;     // every byte of the end record
// Click times count 5 us units from the start of their minute.
inline constexpr int32_t kMicrosecondsPerTimeUnit = 5;
inline constexpr int32_t kTimeUnitsPerMinute = 12'000'000;
// The most minute records the header's 3-byte count can hold.
inline constexpr int32_t kMaxMinuteRecords = 0xFFFFFF;

using Record = std::array<uint8_t, kRecordBytes>;

// Header offsets: one byte unless said otherwise.
inline constexpr int32_t hdrLogger = 2;  // 4 bytes
inline constexpr int32_t hdrConst1 = 12;
inline constexpr int32_t hdrConst245 = 31;
inline constexpr int32_t hdrFilter = 65;
inline constexpr int32_t hdrConst11 = 66;
inline constexpr int32_t hdrDeadBand = 67;
inline constexpr int32_t hdrMinAnyIPI = 68;
inline constexpr int32_t hdrMaxStartIPI = 69;
inline constexpr int32_t hdrFixedCycLimit = 70;
inline constexpr int32_t hdrMaxSPLforReversal = 71;
inline constexpr int32_t hdrBwAddon = 72;
inline constexpr int32_t hdrStrongLimit1 = 73;  // 73..76
inline constexpr int32_t hdrFlags = 77;
inline constexpr int32_t hdrConst15 = 78;
inline constexpr int32_t hdrMaxSPLforAmpDrop = 79;
inline constexpr int32_t hdrNoisyLevel = 93;
inline constexpr int32_t hdrQuietLevel = 94;
inline constexpr int32_t hdrNofNoisyMins = 95;
inline constexpr int32_t hdrNofQuietMins = 96;
inline constexpr int32_t hdrAmpStep = 113;
inline constexpr int32_t hdrStartMin = 256;        // 4 bytes; copies at 268 and 272
inline constexpr int32_t hdrLastLoggingMin = 260;  // 4 bytes; copy at 276
inline constexpr int32_t hdrFinalisedAtMin = 264;  // 4 bytes
inline constexpr int32_t hdrStartMin2 = 268;
inline constexpr int32_t hdrStartMin3 = 272;
inline constexpr int32_t hdrLastLoggingMin2 = 276;
inline constexpr int32_t hdrMinuteCount = 340;  // 3 bytes

// ---- numbers ----

// Low NofBytes (1..4) bytes of i, most significant first; a negative i is stored as 0; any
// other NofBytes writes nothing. Throws std::out_of_range for bytes outside the buffer.
void Int32toBuffer(uint8_t* Buf, size_t BufSize, int32_t First, int32_t NofBytes, int32_t i);

// The unsigned big-endian number in bytes p[0 .. bytes).
constexpr uint32_t BigEndian(const uint8_t* p, int bytes) {
    return ReadBigEndian(p, bytes);
}

// ---- header ----

// The header's fields. The writer stores the settings fields and the three copies of the start
// minute when it creates a file, and the last logging minute (twice), the finalisation time
// and the minute count when it finalises it; every other byte is 0.
struct Header {
    uint32_t LoggerNumber = 0;
    int32_t HighPassFilterIndex = 0;
    std::array<uint8_t, 4> Constants{};  // bytes 12, 31, 66, 78: kConstants in a TK1 file
    int32_t DeadBandSetting = 0;
    int32_t MinAnyIPI = 0;
    int32_t MaxStartIPI = 0;
    int32_t FixedCycLimit = 0;
    int32_t MaxSPLforReversalTest = 0;
    int32_t BwAddon = 0;
    std::array<int32_t, 4> WorkingStrongLimit{};
    bool UsingToughAmpDrop = false;
    int32_t UserMaxSPLforBWtestLow4 = 0;  // its low four bits are stored
    int32_t MaxSPLforAmpDropTest = 0;
    int32_t NoisyLevel = 0;  // NoisyLevelClkCount div 256
    int32_t QuietLevel = 0;  // QuietLevelClkCount div 256
    int32_t NofNoisyMinsForAction = 0;
    int32_t NofQuietMinsForAction = 0;
    int32_t AmpStep = 0;
    uint32_t StartMin = 0;
    uint32_t StartMin2 = 0, StartMin3 = 0;  // the copies
    uint32_t LastLoggingMin = 0;
    uint32_t LastLoggingMin2 = 0;  // the copy
    uint32_t FinalisedAtMin = 0;
    uint32_t MinuteCount = 0;  // counted minute records
};

inline constexpr std::array<uint8_t, 4> kConstants = {1, 245, 11, 15};
inline constexpr std::array<int32_t, 4> kConstantOffsets = {hdrConst1, hdrConst245, hdrConst11,
                                                            hdrConst15};

// Stores what a file's creation stores: the constants, the settings fields of h and h.StartMin
// at its three places. header holds at least kHeaderBytes zeroed bytes. The settings values
// must fit their bytes (a negative one is stored as 0). Throws std::out_of_range for a header
// shorter than kHeaderBytes.
void PutCreationFields(std::span<uint8_t> header, const Header& h);
// Stores what finalisation patches: the last logging minute and its copy, the finalisation
// minute and the minute count (3 bytes).
void PutFinalisationFields(std::span<uint8_t> header, int32_t lastLoggingMin,
                           int32_t finalisedAtMin, int32_t minuteCount);
// The fields of a header of kHeaderBytes bytes.
Header DecodeHeader(std::span<const uint8_t, kHeaderBytes> header);
// Whether the constant bytes hold what every TK1 header holds (false when fewer than the last
// of them are given).
bool HasTK1Constants(std::span<const uint8_t> header);
// "bytes 12, 31, 66 and 78 hold a, b, c and d where a TK1 header holds 1, 245, 11 and 15".
std::string ConstantsMismatchText(std::span<const uint8_t> header);

// ---- body records ----

enum class RecordKind : uint8_t { Lead, Minute, Click, End };

constexpr RecordKind KindOf(uint8_t firstByte) {
    return firstByte == kMinuteMarker ? RecordKind::Minute
           : firstByte == kEndMarker  ? RecordKind::End
                                      : RecordKind::Click;
}

// A minute record: what governs the minute it opens.
struct Minute {
    uint8_t DeadBandPlusUplift = 0;
    uint8_t MinuteScalerX2560 = 0;
};

// Byte 15 is 0: nothing reads it.
constexpr Record EncodeMinute(const Minute& m) {
    Record r{};
    r[0] = kMinuteMarker;
    r[13] = m.DeadBandPlusUplift;
    r[14] = m.MinuteScalerX2560;
    return r;
}
constexpr Minute DecodeMinute(const uint8_t* r) {
    return {r[13], r[14]};
}
// The lead minute record at offset 1024: the marker, every other byte 0.
constexpr Record LeadRecord() {
    return EncodeMinute({});
}
constexpr Record EndRecord() {
    Record r{};
    r.fill(kEndMarker);
    return r;
}

// The fields of a click record. IPIs in 250 ns units, amplitudes on the detector's byte scale.
struct Click {
    int32_t ClkTime5MuSecs = 0;  // time of the largest peak in its minute; negative stored as 0
    uint8_t Ncyc = 0;
    uint8_t PkAtPosn = 0;      // 0..15: the cycle of the largest peak
    uint8_t IPIrangeCode = 0;  // 0..15, IPIrangeCode() of the spread of the period
    uint8_t IPIpreMax = 0, IPIPostMax = 0, IPIPost1 = 0, IPIPost2 = 0;
    uint8_t PkMinus1 = 0, Pmax = 0, PkPlus1 = 0;
    uint8_t IPIbefore = 0;
    uint8_t DurationHigh = 0;      // 0..15, DurationHigh() of Durationto16Cyc
    uint8_t AmpReversalCount = 0;  // 0..15
    uint8_t DurationLow = 0;       // the low 8 bits of Durationto16Cyc
    uint8_t PreLastIPI = 0;        // stored with bit 0 cleared
};

// The spread of the period (largest less smallest IPI) as its 4-bit code: 0..7 as itself,
// 8..63 as 8 + range div 8, 64 or more as 15.
constexpr uint8_t IPIrangeCode(int32_t range) {
    return static_cast<uint8_t>(range < 8 ? range : range < 64 ? 8 + range / 8 : 15);
}
// The high part of a duration sum: its value div 256, at most 15; a negative sum gives 15.
constexpr uint8_t DurationHigh(int32_t duration) {
    const uint32_t high = static_cast<uint32_t>(duration) / 256;
    return static_cast<uint8_t>(high < 15 ? high : 15);
}

// The record of c at r[0 .. kRecordBytes).
constexpr void PutClick(uint8_t* r, const Click& c) {
    // The other two nibbles come from IPIrangeCode() and DurationHigh().
    assert(c.PkAtPosn <= 15 && c.AmpReversalCount <= 15);
    const uint32_t t = c.ClkTime5MuSecs < 0 ? 0u : static_cast<uint32_t>(c.ClkTime5MuSecs);
    PutBigEndian(r, 3, t);
    r[3] = c.Ncyc;
    r[4] = static_cast<uint8_t>(c.PkAtPosn << 4 | c.IPIrangeCode);
    r[5] = c.IPIpreMax;
    r[6] = c.IPIPostMax;
    r[7] = c.IPIPost1;
    r[8] = c.IPIPost2;
    r[9] = c.PkMinus1;
    r[10] = c.Pmax;
    r[11] = c.PkPlus1;
    r[12] = c.IPIbefore;
    r[13] = static_cast<uint8_t>(c.DurationHigh << 4 | c.AmpReversalCount);
    r[14] = c.DurationLow;
    r[15] = static_cast<uint8_t>(c.PreLastIPI & 0xFEu);
}

constexpr Record EncodeClick(const Click& c) {
    Record r{};
    PutClick(r.data(), c);
    return r;
}

constexpr Click DecodeClick(const uint8_t* r) {
    Click c;
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

// Durationto16Cyc (250 ns units) when the record holds it whole: its high part below the
// saturation at 15.
constexpr std::optional<int32_t> Duration(const Click& c) {
    if (c.DurationHigh >= 15) return std::nullopt;
    return c.DurationHigh * 256 + c.DurationLow;
}

// ---- the body in file order ----

// One body record with its place in the file.
struct RecordView {
    int64_t Offset = 0;  // in the file
    RecordKind Kind = RecordKind::Click;
    // The minute number it belongs to (a minute record: the minute it opens); counts on past
    // the 32-bit range in a damaged file.
    int64_t Minute = 0;
    const uint8_t* Bytes = nullptr;  // kRecordBytes of them
    bool AfterEnd = false;           // it follows the end record
};

// Gives each record of a body, fed in file order from offset 1024, its kind and its minute,
// and notes what does not have the shape of a finished file.
class BodyWalk {
public:
    // startMin: the header's start minute (the first counted minute record opens it).
    explicit BodyWalk(uint32_t startMin) : startMin_(startMin & 0x7FFFFFFFu) {}

    // The next record, kRecordBytes at r (kept by the caller while the view is used).
    RecordView Next(const uint8_t* r);

    int64_t CountedMinutes() const { return countedMinutes_; }
    int64_t Clicks() const { return clicks_; }
    bool LeadSeen() const { return leadSeen_; }
    bool LeadBad() const { return leadBad_; }  // the first record is no minute record
    bool EndSeen() const { return endSeen_; }
    bool DataAfterEnd() const { return dataAfterEnd_; }
    bool BadClickTime() const { return badClickTime_; }  // a time beyond its minute's end
    // The minute the records reached: the start minute plus the counted minute records less 1.
    int64_t CurrentMinute() const { return int64_t{startMin_} + countedMinutes_ - 1; }

private:
    uint32_t startMin_;
    int64_t offset_ = kHeaderBytes;
    int64_t countedMinutes_ = 0;
    int64_t clicks_ = 0;
    bool leadSeen_ = false, leadBad_ = false, endSeen_ = false, dataAfterEnd_ = false;
    bool badClickTime_ = false;
};

// The records of a whole file held in memory, for range-for: whole records from offset 1024
// (a partial one at the end is left out).
class Records {
public:
    explicit Records(std::span<const uint8_t> file) : file_(file) {}

    class iterator {
    public:
        iterator(std::span<const uint8_t> file, size_t at, uint32_t startMin)
            : file_(file), at_(at), walk_(startMin) {
            Load();
        }
        const RecordView& operator*() const { return view_; }
        const RecordView* operator->() const { return &view_; }
        iterator& operator++() {
            at_ += kRecordBytes;
            Load();
            return *this;
        }
        bool operator==(const iterator& o) const { return at_ == o.at_; }

    private:
        void Load() {
            if (at_ + kRecordBytes <= file_.size()) view_ = walk_.Next(file_.data() + at_);
        }
        std::span<const uint8_t> file_;
        size_t at_;
        BodyWalk walk_;
        RecordView view_;
    };

    iterator begin() const;
    iterator end() const;

private:
    std::span<const uint8_t> file_;
};

// ---- the source-linkage file ----

// One line: the minute the batch driver gave a WAV file and the file's path.
struct LinkageLine {
    int32_t Minute = 0;
    std::string Path;
};

// "<minute>\t<path>\r\n", the path by its bytes, so that it still names its file. A path that
// holds a line end (CR or LF) or begins with a quote is put in quotes, its quotes doubled, as
// CSV quotes a field: its line ends then lie inside the quotes.
std::string EncodeLinkageLine(int32_t minute, std::string_view path);

struct LinkageText {
    std::vector<LinkageLine> Lines;
    std::vector<int64_t> BadLines;  // numbers (from 1) of lines that are no linkage lines
};
// The lines of a linkage file's text (CR LF or LF line ends); a line needs a minute number of
// at least 0, a tab and a path. A path in quotes that close at the end of a line is the text
// between them, its doubled quotes single, line ends included; any other path is the rest of
// its line as it stands.
LinkageText DecodeLinkage(std::string_view text);

// ---- the recordings table ----

// NAME.recordings.csv beside a TK1 file: one row per recording behind it, in the order of the
// linkage file, with its exact start and where the TK1 file placed its first sample. CSV as
// RFC 4180 writes it, CR LF line ends; paths by their bytes (a line end in one lies inside its
// quotes).
inline constexpr std::string_view kRecordingsHeading =
    "path,start,time_source,correction_s,rate_hz,samples,duration_s,placed_minute,"
    "placed_offset_s";

struct RecordingRow {
    std::string Path;  // absolute
    // The start of the recording in microseconds since 1899-12-30 00:00; none for a recording
    // without a start time.
    std::optional<int64_t> StartUs;
    bool Zoned = false;        // the start is UTC (its zone was known)
    std::string TimeSource;    // where the start came from
    int64_t CorrectionUs = 0;  // added to the start read (with a start only)
    int32_t RateHz = 0;        // samples per second of the conversion
    int64_t Samples = 0;       // samples converted
    // Where its first sample lies in the TK1 file: the start of the minute the file reached,
    // plus its start's second and microseconds when files are placed at their exact start.
    int64_t PlacedUs = 0;

    // Seconds of the samples converted.
    double DurationSeconds() const {
        return RateHz > 0 ? static_cast<double>(Samples) / RateHz : 0.0;
    }
};

// One row as a CSV line (no line end): the cells of the heading in its order.
std::string EncodeRecordingRow(const RecordingRow& row);
// The rows of a table's text, or why it is none (a heading without path, start and
// placed_minute, a row without its cells or with a time or number that does not read). Cells
// are told by the heading's names, so columns added later are ignored; rate_hz and samples
// may be missing (then 0).
std::variant<std::vector<RecordingRow>, std::string> DecodeRecordingsTable(std::string_view text);

// Microseconds as seconds with six decimals: "-0.250000", "61.000000".
std::string SecondsText(int64_t microseconds);

}  // namespace wtk::tk1
