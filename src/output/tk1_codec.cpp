#include "output/tk1_codec.h"

#include <algorithm>
#include <stdexcept>

#include "base/numbers.h"

namespace wtk::tk1 {

void Int32toBuffer(uint8_t* Buf, size_t BufSize, int32_t First, int32_t NofBytes, int32_t i) {
    if (NofBytes < 1 || NofBytes > 4) return;
    if (First < 0 || static_cast<size_t>(First) + static_cast<size_t>(NofBytes) > BufSize) {
        throw std::out_of_range("Int32toBuffer: bytes " + std::to_string(First) + ".." +
                                std::to_string(First + NofBytes - 1) + " outside a buffer of " +
                                std::to_string(BufSize));
    }
    const uint32_t v = i < 0 ? 0u : static_cast<uint32_t>(i);
    for (int32_t k = 0; k < NofBytes; ++k) {
        const int shift = 8 * (NofBytes - 1 - k);
        Buf[First + k] = static_cast<uint8_t>((v >> shift) & 0xFFu);
    }
}

namespace {

// The low bytes of v, most significant first, at header[at ..].
void PutBigEndian(std::span<uint8_t> header, int32_t at, int bytes, uint32_t v) {
    if (at < 0 || static_cast<size_t>(at) + static_cast<size_t>(bytes) > header.size()) {
        throw std::out_of_range("TK1 header field at " + std::to_string(at) +
                                " outside a buffer of " + std::to_string(header.size()));
    }
    for (int k = 0; k < bytes; ++k) {
        header[static_cast<size_t>(at + k)] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - k)));
    }
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
    PutBigEndian(header, hdrLogger, 4, h.LoggerNumber);
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
        PutBigEndian(header, at, 4, h.StartMin);
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

std::string EncodeLinkageLine(int32_t minute, std::string_view path) {
    std::string line = std::to_string(minute);
    line += '\t';
    line += path;
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
        pos = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const size_t tab = line.find('\t');
        const std::optional<int32_t> minute =
            tab == std::string_view::npos ? std::nullopt : ParseInt32(line.substr(0, tab));
        if (!minute || *minute < 0 || tab + 1 == line.size()) {
            out.BadLines.push_back(lineNo);
            continue;
        }
        out.Lines.push_back({*minute, std::string(line.substr(tab + 1))});
    }
    return out;
}

}  // namespace wtk::tk1
