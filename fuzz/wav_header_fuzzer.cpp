// The header reader on any bytes (a RIFF/WAVE header, or a FLAC stream's metadata blocks with the
// RIFF chunks kept in its APPLICATION blocks), then the raw files of a harp chunk and the layout
// of each recording with every choice: the whole input as a file, and the same bytes as the
// start of a file that claims to be longer than it is (a file cut while it is read). Besides the
// sanitizers' findings, a result that points outside the file is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "input/harp_chunk.h"
#include "input/recording_layout.h"
#include "input/wav_header.h"

namespace {

// Where a layout's samples may begin at the earliest. Bytes as they stand skip the first 100
// bytes of the file; converted frames skip as many samples as a 16-bit file would, so frames
// narrower than two bytes may begin before byte 100, but never before their recording's bytes.
int64_t FirstSampleByte(const wtk::WavHeader& h, const wtk::RawFile& raw,
                        const wtk::RecordingLayout& L) {
    if (L.Read != wtk::RecordingLayout::Reading::Frames) return wtk::kSkippedHeaderBytes;
    if (raw.Number > 0) return raw.ByteOffset;
    return h.DataFound ? h.DataOffset : wtk::kSkippedHeaderBytes;
}

// The layouts of the file's recordings: within the file (a WAV file's bytes) and never of a
// negative length; raw files in order.
bool CheckLayouts(const wtk::ReadAtFunction& readAt, const wtk::WavHeader& h, int64_t fileSize) {
    const auto raws = wtk::ReadRawFiles(readAt, h);
    std::vector<wtk::RawFile> recordings = {wtk::RawFile{}};
    if (const auto* r = std::get_if<std::vector<wtk::RawFile>>(&raws)) {
        for (size_t i = 0; i < r->size(); ++i) {
            const wtk::RawFile& raw = (*r)[i];
            if (raw.Number != static_cast<int32_t>(i + 1) || raw.ByteLength < 0) return false;
            if (i > 0 && raw.ByteOffset < (*r)[i - 1].ByteOffset + (*r)[i - 1].ByteLength)
                return false;
            recordings.push_back(raw);
        }
    } else if (std::get<std::string>(raws).empty()) {
        return false;
    }
    for (const wtk::RawFile& raw : recordings) {
        for (const wtk::ReadOptions o : {wtk::ReadOptions{}, wtk::ReadOptions{true, 1},
                                         wtk::ReadOptions{true, 2}, wtk::ReadOptions{false, 3}}) {
            const wtk::RecordingLayout L = wtk::LayoutOf(h, raw, o);
            if (L.Samples() < 0) return false;
            if (L.Read == wtk::RecordingLayout::Reading::Flac) {
                if (L.Begin < 0 || (L.End >= 0 && L.End < L.Begin)) return false;
                if (L.Channel >= L.Format.Channels) return false;
            } else if (L.Begin < FirstSampleByte(h, raw, L) || L.End < L.Begin ||
                       L.End > std::max<int64_t>(fileSize, L.Begin)) {
                return false;
            }
            if (L.Read == wtk::RecordingLayout::Reading::Frames &&
                (L.Channel >= L.Format.Channels ||
                 (L.End - L.Begin) % (int64_t{L.Format.Channels} * L.Format.Bytes) != 0))
                return false;
        }
    }
    return true;
}

void Check(const wtk::WavHeader& h, int64_t fileSize, const wtk::ReadAtFunction& readAt) {
    const wtk::SampleByteRange r = wtk::SampleBytes(h);
    bool ok = r.Begin >= wtk::kSkippedHeaderBytes && r.End >= r.Begin &&
              r.End <= std::max<int64_t>(fileSize, r.Begin) && h.FileSize == fileSize;
    // Of a FLAC stream, the data chunk is the one of the WAV file it was made from.
    if (h.DataFound && !h.Flac) ok = ok && h.DataOffset >= 20 && h.DataOffset <= fileSize;
    if (h.DataSizeValid && !h.Flac) {
        ok = ok && h.DataSize > 0 && h.DataOffset + h.DataSize <= fileSize;
    }
    if (h.ChunksAfterData) ok = ok && h.DataSizeValid;
    if (h.FmtFound || h.DataFound) ok = ok && (h.RiffWave != h.Flac);
    if (h.HarpFound) ok = ok && h.HarpOffset >= 0 && h.HarpOffset + h.HarpSize <= fileSize;
    ok = ok && !wtk::DescribeWavHeader(h).empty();
    const wtk::WavFit fit = wtk::ClassifyWav(h);
    if (fit == wtk::WavFit::Fit) ok = ok && h.Channels == 1 && h.BitsPerSample == 16;
    ok = ok && CheckLayouts(readAt, h, fileSize);
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);

    const int64_t claimed = static_cast<int64_t>(size) + 4096;
    const wtk::ReadAtFunction shortReads = [bytes](int64_t offset, uint8_t* buf,
                                                   size_t n) -> size_t {
        if (n == 0 || offset < 0 || static_cast<uint64_t>(offset) >= bytes.size()) return 0;
        const size_t got = std::min(n, bytes.size() - static_cast<size_t>(offset));
        std::memcpy(buf, bytes.data() + offset, got);
        return got;
    };
    Check(wtk::ReadWavHeader(bytes), static_cast<int64_t>(size), shortReads);
    Check(wtk::ReadWavHeader(shortReads, claimed), claimed, shortReads);
    return 0;
}
