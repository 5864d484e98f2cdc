#include "input/harp_chunk.h"

#include <algorithm>

#include "input/little_endian.h"
#include "input/recording_start.h"

namespace wtk {
namespace {

constexpr size_t kFieldBytes = 56;
constexpr size_t kCountAt = 36;
constexpr size_t kEntryBytes = 32;

}  // namespace

std::variant<std::vector<RawFile>, std::string> ParseHarpChunk(std::span<const uint8_t> body,
                                                               int64_t dataBegin, int64_t dataEnd) {
    if (body.size() < kFieldBytes) {
        return "its harp chunk is too short (" + std::to_string(body.size()) + " bytes)";
    }
    const size_t count = Le16(body.data() + kCountAt);
    if (count == 0) return std::string("its harp chunk lists no raw files");
    if ((body.size() - kFieldBytes) / kEntryBytes < count) {
        return "its harp chunk lists " + std::to_string(count) + " raw files but holds " +
               std::to_string((body.size() - kFieldBytes) / kEntryBytes);
    }
    std::vector<RawFile> raws;
    raws.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = body.data() + kFieldBytes + kEntryBytes * i;
        const std::string which = "raw file " + std::to_string(i + 1) + " of its harp chunk";
        const uint16_t ms = Le16(e + 6);
        const std::optional<int64_t> start =
            ms < 1000 ? EncodeMicroseconds(2000 + e[0], e[1], e[2], e[3], e[4], e[5], ms * 1000)
                      : std::nullopt;
        if (!start) return which + " has no valid start time";
        RawFile raw;
        raw.Number = static_cast<int32_t>(i + 1);
        raw.Count = static_cast<int32_t>(count);
        raw.StartUs = *start;
        raw.FirstStartUs = raws.empty() ? *start : raws.front().StartUs;
        raw.ByteOffset = Le32(e + 8);
        raw.ByteLength = Le32(e + 12);
        const int64_t from =
            raws.empty() ? dataBegin : raws.back().ByteOffset + raws.back().ByteLength;
        if (raws.empty() ? raw.ByteOffset != dataBegin : raw.ByteOffset < from) {
            return which + (raws.empty() ? " does not begin where the samples do"
                                         : " begins inside the one before it");
        }
        if (raw.ByteLength > dataEnd - raw.ByteOffset) return which + " runs past the samples";
        raws.push_back(raw);
    }
    return raws;
}

std::variant<std::vector<RawFile>, std::string> ReadRawFiles(const ReadAtFunction& readAt,
                                                             const WavHeader& h) {
    if (!h.HarpFound) return std::vector<RawFile>{};
    if (!h.DataFound) return std::string("it has a harp chunk but no data chunk");
    if (h.HarpSize > kMaxHarpBytes) {
        return "its harp chunk is too long (" + std::to_string(h.HarpSize) + " bytes)";
    }
    int64_t dataEnd = h.DataSizeValid ? h.DataOffset + h.DataSize : h.FileSize;
    if (h.Flac) {
        // The samples of the WAV file the stream was made from, as far as the stream holds them.
        dataEnd = h.DataOffset + h.DataSize;
        if (h.FlacSamples > 0) {
            dataEnd = std::min(dataEnd, h.DataOffset + h.FlacSamples * h.BlockAlign);
        }
    }
    std::vector<uint8_t> body(h.HarpSize);
    if (!body.empty() && readAt(h.HarpOffset, body.data(), body.size()) != body.size()) {
        return std::string("its harp chunk cannot be read");
    }
    return ParseHarpChunk(body, h.DataOffset, dataEnd);
}

std::string RawFileName(const std::string& path, const RawFile& raw) {
    return raw.Number > 0 ? path + "#" + std::to_string(raw.Number) : path;
}

}  // namespace wtk
