#include "output/tk1_codec.h"

#include <algorithm>
#include <stdexcept>

#include "base/calendar.h"
#include "base/csv.h"
#include "base/numbers.h"

namespace wtk::tk1 {

void Int32toBuffer(uint8_t* Buf, size_t BufSize, int32_t First, int32_t NofBytes, int32_t i) {
    if (NofBytes < 1 || NofBytes > 4) return;
    if (First < 0 || static_cast<size_t>(First) + static_cast<size_t>(NofBytes) > BufSize) {
        throw std::out_of_range("Int32toBuffer: bytes " + std::to_string(First) + ".." +
                                std::to_string(First + NofBytes - 1) + " outside a buffer of " +
                                std::to_string(BufSize));
    }
    wtk::PutBigEndian(Buf + First, NofBytes, i < 0 ? 0u : static_cast<uint32_t>(i));
}

namespace {

// Calls record(number of its first line, from 1; its text without its line end; whether it is
// the last) for each record of a CSV text with CR LF or LF line ends, until it returns false: a
// line end inside quotes belongs to the record's field. The last record may lack its line end.
template <class Record>
void ForEachCsvRecord(std::string_view text, Record record) {
    size_t pos = 0;
    for (int64_t lineNo = 1; pos < text.size();) {
        bool quoted = false;
        int64_t lines = 1;
        size_t end = pos;
        for (; end < text.size(); ++end) {
            if (text[end] == '"') {
                quoted = !quoted;
            } else if (text[end] == '\n') {
                if (!quoted) break;
                ++lines;
            }
        }
        std::string_view r = text.substr(pos, end - pos);
        pos = end + 1;
        if (r.ends_with('\r')) r.remove_suffix(1);
        if (!record(lineNo, r, pos >= text.size())) return;
        lineNo += lines;
    }
}

// The low bytes of v, most significant first, at header[at ..].
void PutHeaderField(std::span<uint8_t> header, int32_t at, int bytes, uint32_t v) {
    if (at < 0 || static_cast<size_t>(at) + static_cast<size_t>(bytes) > header.size()) {
        throw std::out_of_range("TK1 header field at " + std::to_string(at) +
                                " outside a buffer of " + std::to_string(header.size()));
    }
    wtk::PutBigEndian(header.data() + at, bytes, v);
}

}  // namespace

void PutCreationFields(std::span<uint8_t> header, const Header& h) {
    uint8_t* b = header.data();
    const size_t n = header.size();
    // A stored byte: low 8 bits of a non-negative value, 0 for a negative one.
    auto putByte = [&](int32_t at, int32_t v) {
        assert(v >= 0 && v <= 255);
        Int32toBuffer(b, n, at, 1, v);
    };
    PutHeaderField(header, hdrLogger, 4, h.LoggerNumber);
    for (size_t k = 0; k < kConstants.size(); ++k) putByte(kConstantOffsets[k], kConstants[k]);
    putByte(hdrFilter, h.HighPassFilterIndex);
    putByte(hdrDeadBand, h.DeadBandSetting);
    putByte(hdrMinAnyIPI, h.MinAnyIPI);
    putByte(hdrMaxStartIPI, h.MaxStartIPI);
    putByte(hdrFixedCycLimit, h.FixedCycLimit);
    putByte(hdrMaxSPLforReversal, h.MaxSPLforReversalTest);
    putByte(hdrBwAddon, h.BwAddon);
    for (int32_t k = 0; k < 4; ++k) putByte(hdrStrongLimit1 + k, h.WorkingStrongLimit[k]);
    // bit 0: tough amplitude drop; bits 3..6: low four bits of the bandwidth-test level
    putByte(hdrFlags, (h.UsingToughAmpDrop ? 1 : 0) + (h.UserMaxSPLforBWtestLow4 & 15) * 8);
    putByte(hdrMaxSPLforAmpDrop, h.MaxSPLforAmpDropTest);
    putByte(hdrNoisyLevel, h.NoisyLevel);
    putByte(hdrQuietLevel, h.QuietLevel);
    putByte(hdrNofNoisyMins, h.NofNoisyMinsForAction);
    putByte(hdrNofQuietMins, h.NofQuietMinsForAction);
    putByte(hdrAmpStep, h.AmpStep);
    for (const int32_t at : {hdrStartMin, hdrStartMin2, hdrStartMin3}) {
        PutHeaderField(header, at, 4, h.StartMin);
    }
}

void PutFinalisationFields(std::span<uint8_t> header, int32_t lastLoggingMin,
                           int32_t finalisedAtMin, int32_t minuteCount) {
    uint8_t* b = header.data();
    const size_t n = header.size();
    Int32toBuffer(b, n, hdrLastLoggingMin, 4, lastLoggingMin);
    Int32toBuffer(b, n, hdrLastLoggingMin2, 4, lastLoggingMin);
    Int32toBuffer(b, n, hdrFinalisedAtMin, 4, finalisedAtMin);
    Int32toBuffer(b, n, hdrMinuteCount, 3, minuteCount);
}

Header DecodeHeader(std::span<const uint8_t, kHeaderBytes> header) {
    const uint8_t* b = header.data();
    Header h;
    h.LoggerNumber = BigEndian(b + hdrLogger, 4);
    h.HighPassFilterIndex = b[hdrFilter];
    for (size_t k = 0; k < kConstants.size(); ++k) h.Constants[k] = b[kConstantOffsets[k]];
    h.DeadBandSetting = b[hdrDeadBand];
    h.MinAnyIPI = b[hdrMinAnyIPI];
    h.MaxStartIPI = b[hdrMaxStartIPI];
    h.FixedCycLimit = b[hdrFixedCycLimit];
    h.MaxSPLforReversalTest = b[hdrMaxSPLforReversal];
    h.BwAddon = b[hdrBwAddon];
    for (int32_t k = 0; k < 4; ++k) h.WorkingStrongLimit[k] = b[hdrStrongLimit1 + k];
    h.UsingToughAmpDrop = (b[hdrFlags] & 1) != 0;
    h.UserMaxSPLforBWtestLow4 = (b[hdrFlags] >> 3) & 15;
    h.MaxSPLforAmpDropTest = b[hdrMaxSPLforAmpDrop];
    h.NoisyLevel = b[hdrNoisyLevel];
    h.QuietLevel = b[hdrQuietLevel];
    h.NofNoisyMinsForAction = b[hdrNofNoisyMins];
    h.NofQuietMinsForAction = b[hdrNofQuietMins];
    h.AmpStep = b[hdrAmpStep];
    h.StartMin = BigEndian(b + hdrStartMin, 4);
    h.StartMin2 = BigEndian(b + hdrStartMin2, 4);
    h.StartMin3 = BigEndian(b + hdrStartMin3, 4);
    h.LastLoggingMin = BigEndian(b + hdrLastLoggingMin, 4);
    h.LastLoggingMin2 = BigEndian(b + hdrLastLoggingMin2, 4);
    h.FinalisedAtMin = BigEndian(b + hdrFinalisedAtMin, 4);
    h.MinuteCount = BigEndian(b + hdrMinuteCount, 3);
    return h;
}

bool HasTK1Constants(std::span<const uint8_t> header) {
    for (size_t k = 0; k < kConstants.size(); ++k) {
        const auto at = static_cast<size_t>(kConstantOffsets[k]);
        if (at >= header.size() || header[at] != kConstants[k]) return false;
    }
    return true;
}

std::string ConstantsMismatchText(std::span<const uint8_t> header) {
    std::string offsets, found, expected;
    for (size_t k = 0; k < kConstants.size(); ++k) {
        const char* sep = k == 0 ? "" : k + 1 == kConstants.size() ? " and " : ", ";
        const auto at = static_cast<size_t>(kConstantOffsets[k]);
        offsets += sep + std::to_string(at);
        found += sep + (at < header.size() ? std::to_string(header[at]) : std::string("nothing"));
        expected += sep + std::to_string(kConstants[k]);
    }
    return "bytes " + offsets + " hold " + found + " where a TK1 header holds " + expected;
}

RecordView BodyWalk::Next(const uint8_t* r) {
    RecordView v;
    v.Offset = offset_;
    v.Bytes = r;
    offset_ += kRecordBytes;
    if (endSeen_) {
        dataAfterEnd_ = true;
        v.AfterEnd = true;
        v.Kind = KindOf(r[0]);
    } else if (!leadSeen_) {
        leadSeen_ = true;
        leadBad_ = r[0] != kMinuteMarker;
        v.Kind = RecordKind::Lead;
    } else {
        v.Kind = KindOf(r[0]);
        if (v.Kind == RecordKind::End) {
            endSeen_ = true;
        } else if (v.Kind == RecordKind::Minute) {
            ++countedMinutes_;
        } else {
            ++clicks_;
            if (BigEndian(r, 3) >= static_cast<uint32_t>(kTimeUnitsPerMinute)) badClickTime_ = true;
        }
    }
    v.Minute = CurrentMinute();
    return v;
}

namespace {

// Where the whole records of a file end (the header's end for a file too short for one).
size_t WholeRecordsEnd(std::span<const uint8_t> file) {
    if (file.size() < static_cast<size_t>(kHeaderBytes)) return kHeaderBytes;
    return file.size() - (file.size() - kHeaderBytes) % kRecordBytes;
}

uint32_t StartMinOf(std::span<const uint8_t> file) {
    return file.size() >= static_cast<size_t>(kHeaderBytes)
               ? BigEndian(file.data() + hdrStartMin, 4)
               : 0;
}

}  // namespace

Records::iterator Records::begin() const {
    return iterator(file_, std::min<size_t>(kHeaderBytes, WholeRecordsEnd(file_)),
                    StartMinOf(file_));
}

Records::iterator Records::end() const {
    return iterator(file_, WholeRecordsEnd(file_), StartMinOf(file_));
}

namespace {

// A path the linkage line must quote: one that holds a line end, or begins with a quote.
bool QuotedInLinkage(std::string_view path) {
    return path.find_first_of("\r\n") != std::string_view::npos || path.starts_with('"');
}

// The quoted field that begins at text[at] (a '"') and ends at a quote followed by a line end
// or the end of the text.
struct QuotedLinkagePath {
    std::string Value;
    size_t LineEnds = 0;  // line ends inside the quotes
    size_t Next = 0;      // where the text goes on after the field's line end
};
// Empty when the quotes do not close so.
std::optional<QuotedLinkagePath> QuotedField(std::string_view text, size_t at) {
    QuotedLinkagePath field;
    for (size_t k = at + 1; k < text.size(); ++k) {
        if (text[k] != '"') {
            field.Value += text[k];
            field.LineEnds += text[k] == '\n' ? 1 : 0;
            continue;
        }
        if (k + 1 < text.size() && text[k + 1] == '"') {
            field.Value += '"';
            ++k;
            continue;
        }
        const std::string_view rest = text.substr(k + 1);
        if (rest.starts_with("\r\n")) {
            field.Next = k + 3;
        } else if (rest.starts_with('\n') || rest.empty()) {
            field.Next = k + 2;
        } else {
            return std::nullopt;
        }
        return field;
    }
    return std::nullopt;
}

}  // namespace

std::string EncodeLinkageLine(int32_t minute, std::string_view path) {
    std::string line = std::to_string(minute);
    line += '\t';
    if (QuotedInLinkage(path)) {
        line += '"';
        for (const char c : path) {
            if (c == '"') line += '"';
            line += c;
        }
        line += '"';
    } else {
        line += path;
    }
    line += "\r\n";
    return line;
}

LinkageText DecodeLinkage(std::string_view text) {
    LinkageText out;
    size_t pos = 0;
    for (int64_t lineNo = 1; pos < text.size(); ++lineNo) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        size_t next = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const size_t tab = line.find('\t');
        const std::optional<int32_t> minute =
            tab == std::string_view::npos ? std::nullopt : ParseInt32(line.substr(0, tab));
        if (!minute || *minute < 0 || tab + 1 == line.size()) {
            out.BadLines.push_back(lineNo);
        } else if (line[tab + 1] != '"') {
            out.Lines.push_back({*minute, std::string(line.substr(tab + 1))});
        } else if (auto quoted = QuotedField(text, pos + tab + 1);
                   quoted && !quoted->Value.empty()) {
            // A path that holds line ends goes on over the lines it spans.
            out.Lines.push_back({*minute, std::move(quoted->Value)});
            lineNo += static_cast<int64_t>(quoted->LineEnds);
            next = quoted->Next;
        } else {
            // Quotes that do not close a field: the line as it stands, as linkage files that
            // quoted nothing wrote it.
            out.Lines.push_back({*minute, std::string(line.substr(tab + 1))});
        }
        pos = next;
    }
    return out;
}

namespace {

// "-1.500000" seconds as microseconds.
std::optional<int64_t> ParseSeconds(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 12 || fraction.size() > 6 ||
        (dot != std::string_view::npos && fraction.empty())) {
        return std::nullopt;
    }
    const int32_t high = whole.size() > 6 ? DigitsAt(whole, 0, whole.size() - 6) : 0;
    const int32_t low =
        DigitsAt(whole, whole.size() > 6 ? whole.size() - 6 : 0, std::min<size_t>(6, whole.size()));
    int64_t us = fraction.empty() ? 0 : DigitsAt(fraction, 0, fraction.size());
    if (high < 0 || low < 0 || us < 0) return std::nullopt;
    for (size_t k = fraction.size(); k < 6; ++k) us *= 10;
    us += (int64_t{high} * 1'000'000 + low) * kMicrosecondsPerSecond;
    return negative ? -us : us;
}

std::optional<int64_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// The cells of one CSV record (line breaks inside quoted cells are theirs).
std::vector<std::string> CsvCells(std::string_view line) {
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
}

}  // namespace

std::string SecondsText(int64_t us) {
    const FloorDivision d = FloorDivide(us, kMicrosecondsPerSecond);
    const bool negative = d.Quotient < 0 && d.Remainder != 0;
    const int64_t whole = negative ? d.Quotient + 1 : d.Quotient;
    const int64_t frac = negative ? kMicrosecondsPerSecond - d.Remainder : d.Remainder;
    std::string s = negative && whole == 0 ? "-" : "";
    s += std::to_string(whole) + ".";
    AppendZeroPadded(s, frac, 6);
    return s;
}

std::string EncodeRecordingRow(const RecordingRow& row) {
    const bool dated = row.StartUs.has_value();
    // Whole seconds, as files are placed; the microseconds of one placed at a fraction.
    std::string placed = IsoMicroseconds(row.PlacedUs);
    if (FloorDivide(row.PlacedUs, kMicrosecondsPerSecond).Remainder == 0) placed.resize(19);
    const std::string cells[] = {
        row.Path,
        dated ? IsoMicroseconds(*row.StartUs) + (row.Zoned ? "Z" : "") : std::string(),
        row.TimeSource,
        dated ? SecondsText(row.CorrectionUs) : std::string(),
        std::to_string(row.RateHz),
        std::to_string(row.Samples),
        row.RateHz > 0 ? SecondsText(row.Samples * kMicrosecondsPerSecond / row.RateHz)
                       : std::string(),
        placed,
        dated ? SecondsText(*row.StartUs - row.PlacedUs) : std::string()};
    std::string line;
    for (const std::string& cell : cells) {
        if (!line.empty() || &cell != &cells[0]) line += ',';
        line += CsvField(cell);
    }
    return line;
}

namespace {

// Where the cells of a recordings table's rows are, by the names of its heading.
struct TableColumns {
    static constexpr size_t kMissing = SIZE_MAX;
    size_t Path = kMissing, Start = kMissing, Placed = kMissing, Source = kMissing,
           Correction = kMissing, Rate = kMissing, Samples = kMissing;
    size_t Needed = 0;  // cells a row must have
};

std::optional<TableColumns> ColumnsOf(const std::vector<std::string>& heading) {
    auto column = [&](std::string_view name) {
        const auto at = std::find(heading.begin(), heading.end(), name);
        return at == heading.end() ? TableColumns::kMissing
                                   : static_cast<size_t>(at - heading.begin());
    };
    TableColumns c;
    c.Path = column("path");
    c.Start = column("start");
    c.Placed = column("placed_minute");
    c.Source = column("time_source");
    c.Correction = column("correction_s");
    c.Rate = column("rate_hz");
    c.Samples = column("samples");
    for (const size_t at : {c.Path, c.Start, c.Placed}) {
        if (at == TableColumns::kMissing) return std::nullopt;
    }
    for (const size_t at : {c.Path, c.Start, c.Placed, c.Source, c.Correction, c.Rate, c.Samples}) {
        if (at != TableColumns::kMissing) c.Needed = std::max(c.Needed, at + 1);
    }
    return c;
}

std::optional<RecordingRow> RowOf(const std::vector<std::string>& cells, const TableColumns& c) {
    if (cells.size() < c.Needed) return std::nullopt;
    RecordingRow row;
    row.Path = cells[c.Path];
    const auto placed = ParseIsoMicroseconds(cells[c.Placed]);
    if (!placed) return std::nullopt;
    row.PlacedUs = placed->first;
    if (!cells[c.Start].empty()) {
        const auto start = ParseIsoMicroseconds(cells[c.Start]);
        if (!start) return std::nullopt;
        row.StartUs = start->first;
        row.Zoned = start->second;
    }
    if (c.Source != TableColumns::kMissing) row.TimeSource = cells[c.Source];
    if (c.Correction != TableColumns::kMissing && !cells[c.Correction].empty()) {
        const auto us = ParseSeconds(cells[c.Correction]);
        if (!us) return std::nullopt;
        row.CorrectionUs = *us;
    }
    if (c.Rate != TableColumns::kMissing) {
        const auto rate = ParseCount(cells[c.Rate]);
        if (!rate || *rate > INT32_MAX) return std::nullopt;
        row.RateHz = static_cast<int32_t>(*rate);
    }
    if (c.Samples != TableColumns::kMissing) {
        const auto samples = ParseCount(cells[c.Samples]);
        if (!samples) return std::nullopt;
        row.Samples = *samples;
    }
    return row;
}

}  // namespace

std::variant<std::vector<RecordingRow>, std::string> DecodeRecordingsTable(std::string_view text) {
    std::vector<RecordingRow> rows;
    std::optional<TableColumns> columns;
    std::string error;
    ForEachCsvRecord(text, [&](int64_t lineNo, std::string_view line, bool last) {
        const std::vector<std::string> cells = CsvCells(line);
        if (lineNo == 1) {
            columns = ColumnsOf(cells);
            if (!columns) {
                error =
                    "its first line is no recordings table heading (path, start, ..., "
                    "placed_minute)";
            }
            return columns.has_value();
        }
        if (line.empty() && last) return false;
        std::optional<RecordingRow> row = RowOf(cells, *columns);
        if (!row) {
            error = "line " + std::to_string(lineNo) + " is no recordings table row";
            return false;
        }
        rows.push_back(std::move(*row));
        return true;
    });
    if (!error.empty()) return error;
    return rows;
}

}  // namespace wtk::tk1
