#include "input/flac_header.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "input/little_endian.h"

namespace wtk {
namespace {

// Blocks stepped over before the walk gives up.
constexpr int kMaxBlocks = 1024;
constexpr uint8_t kStreamInfo = 0;
constexpr uint8_t kApplication = 2;
constexpr uint32_t kStreamInfoBytes = 34;

// Exactly n bytes at offset of a file of size bytes, or false.
bool ReadExact(const ReadAtFunction& readAt, int64_t size, int64_t offset, uint8_t* buf, size_t n) {
    if (offset < 0 || offset > size || static_cast<int64_t>(n) > size - offset) return false;
    return readAt(offset, buf, n) == n;
}

// Where "fLaC" stands: at the start, or after an ID3v2 tag.
std::optional<int64_t> MagicOffset(const ReadAtFunction& readAt, int64_t size) {
    uint8_t b[10];
    int64_t at = 0;
    if (ReadExact(readAt, size, 0, b, 10) && std::memcmp(b, "ID3", 3) == 0) {
        // Ten header bytes, the size in four bytes of seven bits, ten more with a footer.
        if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return std::nullopt;
        const int64_t tag =
            (int64_t{b[6]} << 21) | (int64_t{b[7]} << 14) | (int64_t{b[8]} << 7) | int64_t{b[9]};
        at = 10 + tag + ((b[5] & 0x10) != 0 ? 10 : 0);
    }
    uint8_t magic[4];
    if (!ReadExact(readAt, size, at, magic, 4) || std::memcmp(magic, "fLaC", 4) != 0)
        return std::nullopt;
    return at;
}

struct Block {
    uint8_t Type = 0;
    uint32_t Length = 0;
    int64_t BodyOffset = 0;
    bool Complete = false;  // the body ends within the file
};

// Visits the metadata blocks in order until visit returns false, the last block, a block that
// runs past the file's end (visited) or kMaxBlocks. False when the file is no FLAC stream.
template <typename Visit>
bool ForEachBlock(const ReadAtFunction& readAt, int64_t size, Visit visit) {
    const std::optional<int64_t> magic = MagicOffset(readAt, size);
    if (!magic) return false;
    int64_t pos = *magic + 4;
    for (int i = 0; i < kMaxBlocks; ++i) {
        uint8_t h[4];
        if (!ReadExact(readAt, size, pos, h, 4)) break;
        Block b;
        b.Type = h[0] & 0x7F;
        b.Length = (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8) | h[3];
        b.BodyOffset = pos + 4;
        b.Complete = b.Length <= size - b.BodyOffset;
        if (b.Type == 127 || !visit(b) || (h[0] & 0x80) != 0 || !b.Complete) break;
        pos = b.BodyOffset + b.Length;
    }
    return true;
}

// The kept RIFF chunks: the header block of the WAV file first, then one chunk per block.
struct ForeignChunk {
    std::array<char, 4> Id{};
    uint32_t Size = 0;
    int64_t BodyOffset = 0;  // in the FLAC file
    uint32_t Stored = 0;     // bytes of the block after the chunk header
};

// Visits the chunks of the "riff" blocks (only where the first of them is a RIFF/WAVE header)
// until visit returns false.
template <typename Visit>
bool ForEachForeignChunk(const ReadAtFunction& readAt, int64_t size, Visit visit) {
    bool header = false, stop = false;
    return ForEachBlock(readAt, size, [&](const Block& b) {
        if (b.Type != kApplication || !b.Complete || b.Length < 4 + 8) return true;
        uint8_t head[16] = {};
        const size_t n = std::min<size_t>(b.Length, sizeof head);
        if (!ReadExact(readAt, size, b.BodyOffset, head, n) || std::memcmp(head, "riff", 4) != 0)
            return true;
        if (!header) {
            // The first one must be the WAV file's own header.
            header =
                n >= 16 &&
                (std::memcmp(head + 4, "RIFF", 4) == 0 || std::memcmp(head + 4, "RF64", 4) == 0 ||
                 std::memcmp(head + 4, "BW64", 4) == 0) &&
                std::memcmp(head + 12, "WAVE", 4) == 0;
            return header;  // other blocks are no WAV file's chunks
        }
        ForeignChunk c;
        std::memcpy(c.Id.data(), head + 4, 4);
        c.Size = Le32(head + 8);
        c.BodyOffset = b.BodyOffset + 12;
        c.Stored = b.Length - 12;
        stop = !visit(c);
        return !stop;
    });
}

}  // namespace

bool ReadFlacHeader(const ReadAtFunction& readAt, WavHeader& h) {
    bool first = true, isFlac = false;
    WavHeader f = h;
    isFlac = ForEachBlock(readAt, h.FileSize, [&](const Block& b) {
        if (!first) return true;
        first = false;
        uint8_t s[kStreamInfoBytes];
        if (b.Type != kStreamInfo || b.Length < kStreamInfoBytes ||
            !ReadExact(readAt, h.FileSize, b.BodyOffset, s, sizeof s))
            return false;
        const uint32_t rate = (uint32_t{s[10]} << 12) | (uint32_t{s[11]} << 4) | (s[12] >> 4);
        const uint16_t channels = static_cast<uint16_t>(((s[12] >> 1) & 7) + 1);
        const uint16_t bits = static_cast<uint16_t>((((s[12] & 1) << 4) | (s[13] >> 4)) + 1);
        if (rate == 0 || bits < 4) return false;
        f.FmtFound = true;
        f.FormatTag = kWavFormatPcm;
        f.Channels = channels;
        f.SampleRate = rate;
        f.BitsPerSample = bits;
        f.BlockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
        f.FlacSamples = (int64_t{s[13] & 0x0F} << 32) | (int64_t{s[14]} << 24) |
                        (int64_t{s[15]} << 16) | (int64_t{s[16]} << 8) | int64_t{s[17]};
        return true;
    });
    if (!isFlac) return false;
    f.Flac = true;
    f.DataOffset = kPlainWavDataOffset;
    // Where the chunks lay in the WAV file: its 12-byte header, then each chunk as kept.
    int64_t at = 12;
    ForEachForeignChunk(readAt, h.FileSize, [&](const ForeignChunk& c) {
        if (std::memcmp(c.Id.data(), "data", 4) == 0) {
            if (f.DataFound) return true;
            f.DataFound = true;
            f.DataOffset = at + 8;
            f.DataSize = c.Size;
            f.DataSizeValid = c.Size != 0 && c.Size != 0xFFFFFFFFu;
            at += 8 + int64_t{c.Size} + (c.Size & 1);
            return true;
        }
        if (std::memcmp(c.Id.data(), "harp", 4) == 0 && !f.HarpFound && c.Size <= c.Stored) {
            f.HarpFound = true;
            f.HarpOffset = c.BodyOffset;
            f.HarpSize = c.Size;
        }
        at += 8 + int64_t{c.Stored};
        return true;
    });
    h = f;
    return true;
}

bool WalkFlacRiffChunks(const ReadAtFunction& readAt, int64_t fileSize,
                        const std::function<bool(const RiffChunkHeader&)>& visit) {
    return ForEachForeignChunk(readAt, fileSize, [&](const ForeignChunk& c) {
        if (std::memcmp(c.Id.data(), "data", 4) == 0) return true;
        RiffChunkHeader r;
        r.Id = c.Id;
        r.Size = c.Size;
        r.BodyOffset = c.BodyOffset;
        r.NextOffset = c.BodyOffset + c.Stored;
        r.Complete = c.Size <= c.Stored;
        return visit(r);
    });
}

}  // namespace wtk
