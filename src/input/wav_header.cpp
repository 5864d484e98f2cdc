#include "input/wav_header.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/byte_order.h"
#include "input/flac_header.h"
#include "input/little_endian.h"

namespace wtk {
namespace {

// Chunks stepped over before the walk gives up (a file of nothing but tiny chunks).
constexpr int kMaxChunks = 1024;
// The first bytes are read at once; chunk headers beyond them one by one.
constexpr size_t kPrefixBytes = 512;
// The fmt chunk's fields that are read: the 16 basic bytes, the extension size, the valid bits,
// the channel mask and the sub-format GUID.
constexpr size_t kFmtBytesRead = 40;

bool IsId(const uint8_t* p, const char (&id)[5]) {
    return std::memcmp(p, id, 4) == 0;
}

// Reads through the caller's function, serving what lies in the first bytes from memory.
class Reader {
public:
    Reader(const ReadAtFunction& readAt, int64_t fileSize) : readAt_(readAt), size_(fileSize) {
        const auto want = static_cast<size_t>(std::min<int64_t>(fileSize, kPrefixBytes));
        prefixLength_ = want > 0 ? std::min(readAt_(0, prefix_.data(), want), want) : 0;
    }
    int64_t Size() const { return size_; }
    const uint8_t* Prefix() const { return prefix_.data(); }
    size_t PrefixLength() const { return prefixLength_; }

    // Exactly n bytes at offset, or false.
    bool Read(int64_t offset, uint8_t* buf, size_t n) const {
        if (offset < 0 || offset > size_ || static_cast<int64_t>(n) > size_ - offset) return false;
        if (offset + static_cast<int64_t>(n) <= static_cast<int64_t>(prefixLength_)) {
            std::memcpy(buf, prefix_.data() + offset, n);
            return true;
        }
        return readAt_(offset, buf, n) == n;
    }

private:
    const ReadAtFunction& readAt_;
    int64_t size_;
    std::array<uint8_t, kPrefixBytes> prefix_{};
    size_t prefixLength_ = 0;
};

// A chunk name as writers make them: four printable ASCII characters.
bool PlausibleChunkAt(const Reader& r, int64_t offset) {
    uint8_t id[4];
    if (!r.Read(offset, id, 4)) return false;
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// Where the chunk after one of `size` bytes whose body starts at `body` begins: after the pad
// byte of an odd size, unless only the unpadded position holds a chunk name.
int64_t NextChunk(const Reader& r, int64_t body, uint32_t size) {
    const int64_t unpadded = body + size;
    if ((size & 1) == 0) return unpadded;
    if (!PlausibleChunkAt(r, unpadded + 1) && PlausibleChunkAt(r, unpadded)) return unpadded;
    return unpadded + 1;
}

void ReadFmt(const Reader& r, int64_t body, uint32_t size, WavHeader& h) {
    if (size < 16) return;
    uint8_t f[kFmtBytesRead] = {};
    const size_t n = std::min<size_t>(size, kFmtBytesRead);
    if (!r.Read(body, f, n)) return;  // cut off by the file's end
    h.FmtFound = true;
    h.FormatTag = Le16(f);
    h.Channels = Le16(f + 2);
    h.SampleRate = Le32(f + 4);
    h.BlockAlign = Le16(f + 12);
    h.BitsPerSample = Le16(f + 14);
    h.SubFormat = 0;
    if (h.FormatTag == kWavFormatExtensible && n >= kFmtBytesRead && Le16(f + 16) >= 22) {
        // The GUID's last 14 bytes are those of every standard sub-format.
        static constexpr uint8_t kBaseGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        if (std::memcmp(f + 26, kBaseGuidTail, sizeof kBaseGuidTail) == 0)
            h.SubFormat = Le16(f + 24);
    }
}

// Visits the chunks after "RIFF", size, "WAVE" in file order until visit returns false, a
// chunk runs past the file's end (it is visited, then the walk ends) or kMaxChunks were seen.
// Returns false when it gave up after kMaxChunks chunks with more of the file to walk.
template <typename Visit>
bool Walk(const Reader& r, Visit visit) {
    int64_t pos = 12;
    for (int chunks = 0; pos <= r.Size() - 8; ++chunks) {
        if (chunks == kMaxChunks) return false;
        uint8_t ch[8];
        if (!r.Read(pos, ch, sizeof ch)) break;
        RiffChunkHeader c;
        std::memcpy(c.Id.data(), ch, 4);
        c.Size = Le32(ch + 4);
        c.BodyOffset = pos + 8;
        c.Complete = c.Size <= r.Size() - c.BodyOffset;
        c.NextOffset = NextChunk(r, c.BodyOffset, c.Size);
        if (!visit(c) || !c.Complete) break;
        pos = c.NextOffset;
    }
    return true;
}

bool IsRiffWave(const Reader& r) {
    const uint8_t* p = r.Prefix();
    return r.PrefixLength() >= 12 && (IsId(p, "RIFF") || IsId(p, "RF64") || IsId(p, "BW64")) &&
           IsId(p + 8, "WAVE");
}

}  // namespace

WavHeader ReadWavHeader(const ReadAtFunction& readAt, int64_t fileSize) {
    WavHeader h;
    h.FileSize = std::max<int64_t>(fileSize, 0);
    const Reader r(readAt, h.FileSize);
    h.MagicLength = static_cast<uint8_t>(std::min<size_t>(r.PrefixLength(), h.Magic.size()));
    std::copy_n(r.Prefix(), h.MagicLength, h.Magic.begin());
    if (!IsRiffWave(r)) {
        ReadFlacHeader(readAt, h);
        return h;
    }
    h.RiffWave = true;

    const bool walked = Walk(r, [&](const RiffChunkHeader& c) {
        const uint8_t* id = reinterpret_cast<const uint8_t*>(c.Id.data());
        if (IsId(id, "fmt ") && !h.FmtFound) {
            ReadFmt(r, c.BodyOffset, c.Size, h);
        } else if (IsId(id, "harp") && !h.HarpFound && c.Complete && !h.DataFound) {
            // Before the data chunk, where XWAV files have it.
            h.HarpFound = true;
            h.HarpOffset = c.BodyOffset;
            h.HarpSize = c.Size;
        } else if (IsId(id, "data") && h.DataFound) {
            h.SecondDataChunk = true;
            return false;
        } else if (IsId(id, "data")) {
            h.DataFound = true;
            h.DataOffset = c.BodyOffset;
            h.DataSize = c.Size;
            h.DataSizeValid = c.Size != 0 && c.Size != 0xFFFFFFFFu && c.Complete;
            // Otherwise the samples run to the file's end: nothing follows them.
            if (!h.DataSizeValid) return false;
            h.ChunksAfterData = c.NextOffset <= h.FileSize - 8;
            // The chunks after the samples are walked only for a second data chunk.
        }
        return true;
    });
    // Bytes that may hold the samples lie beyond the chunks walked: nothing says where they are.
    h.TooManyChunks = !walked && !h.DataFound;
    return h;
}

bool WalkRiffChunks(const ReadAtFunction& readAt, int64_t fileSize,
                    const std::function<bool(const RiffChunkHeader&)>& visit) {
    const Reader r(readAt, std::max<int64_t>(fileSize, 0));
    if (!IsRiffWave(r)) return WalkFlacRiffChunks(readAt, std::max<int64_t>(fileSize, 0), visit);
    Walk(r, [&](const RiffChunkHeader& c) {
        // A data chunk without a valid size holds the rest of the file.
        const bool openData = IsId(reinterpret_cast<const uint8_t*>(c.Id.data()), "data") &&
                              (c.Size == 0 || c.Size == 0xFFFFFFFFu || !c.Complete);
        return visit(c) && !openData;
    });
    return true;
}

ReadAtFunction ReadAtMemory(std::span<const uint8_t> file) {
    return [file](int64_t offset, uint8_t* buf, size_t n) -> size_t {
        if (offset < 0 || static_cast<uint64_t>(offset) >= file.size() || n == 0) return 0;
        const size_t got = std::min(n, file.size() - static_cast<size_t>(offset));
        std::memcpy(buf, file.data() + offset, got);
        return got;
    };
}

WavHeader ReadWavHeader(std::span<const uint8_t> file) {
    return ReadWavHeader(ReadAtMemory(file), static_cast<int64_t>(file.size()));
}

ReadAtFunction ReadAtFd(int fd) {
    return [fd](int64_t offset, uint8_t* buf, size_t n) -> size_t {
        size_t got = 0;
        while (got < n) {
            const ssize_t k = ::pread(fd, buf + got, n - got,
                                      static_cast<off_t>(offset) + static_cast<off_t>(got));
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) break;
            got += static_cast<size_t>(k);
        }
        return got;
    };
}

WavHeader ReadWavHeaderOfFd(int fd, int64_t fileSize) {
    return ReadWavHeader(ReadAtFd(fd), fileSize);
}

WavFit ClassifyWav(const WavHeader& h) {
    if (h.Flac)
        return h.FmtFound && h.BitsPerSample == 16 && h.Channels == 1 ? WavFit::Fit : WavFit::Unfit;
    if (!h.RiffWave) return h.FileSize >= 44 ? WavFit::Unfit : WavFit::Unknown;
    if (h.TooManyChunks) return WavFit::Unfit;
    if (!h.FmtFound) return WavFit::Unknown;
    const bool pcm = h.FormatTag == kWavFormatPcm ||
                     (h.FormatTag == kWavFormatExtensible && h.SubFormat == kWavFormatPcm);
    return pcm && h.BitsPerSample == 16 && h.Channels == 1 ? WavFit::Fit : WavFit::Unfit;
}

namespace {

std::string FormatText(const WavHeader& h) {
    return std::to_string(h.BitsPerSample) + " bits, " + std::to_string(h.Channels) +
           (h.Channels == 1 ? " channel, " : " channels, ") + std::to_string(h.SampleRate) +
           " samples/s";
}

}  // namespace

std::string DescribeWavHeader(const WavHeader& h) {
    if (h.Flac) return h.FmtFound ? "FLAC, " + FormatText(h) : "FLAC stream without a STREAMINFO";
    if (!h.RiffWave) {
        std::string text = "not a RIFF/WAVE file";
        if (h.MagicLength == 0) return text + " (it is empty)";
        const bool printable = std::all_of(h.Magic.begin(), h.Magic.begin() + h.MagicLength,
                                           [](uint8_t c) { return c >= 0x21 && c < 0x7F; });
        text += " (it starts with ";
        if (printable) {
            text += "\"" + std::string(h.Magic.begin(), h.Magic.begin() + h.MagicLength) + "\")";
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            for (uint8_t i = 0; i < h.MagicLength; ++i) {
                if (i > 0) text += ' ';
                text += kHex[h.Magic[i] >> 4];
                text += kHex[h.Magic[i] & 15];
            }
            text += ")";
        }
        return text;
    }
    if (h.TooManyChunks) {
        return "RIFF/WAVE file with more than " + std::to_string(kMaxChunks) +
               " chunks before its data chunk";
    }
    if (!h.FmtFound) return "RIFF/WAVE file without a complete fmt chunk";
    auto code = [](uint16_t c) -> std::string {
        switch (c) {
            case kWavFormatPcm:
                return "PCM";
            case kWavFormatFloat:
                return "IEEE float";
            default:
                break;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string text = "format 0x";
        for (int shift = 12; shift >= 0; shift -= 4) text += kHex[(c >> shift) & 15];
        return text;
    };
    std::string text;
    if (h.FormatTag == kWavFormatExtensible) {
        text = h.SubFormat != 0 ? "extensible " + code(h.SubFormat) : "extensible, unknown format";
    } else {
        text = code(h.FormatTag);
    }
    return text + ", " + FormatText(h);
}

SampleByteRange SampleBytes(const WavHeader& h) {
    SampleByteRange range;
    range.End = h.FileSize;
    if (h.DataFound && h.RiffWave) {
        range.Begin = std::max(kSkippedHeaderBytes, h.DataOffset);
        if (h.DataSizeValid) range.End = h.DataOffset + h.DataSize;
    }
    range.End = std::max(range.End, range.Begin);
    return range;
}

}  // namespace wtk
