// The WAV header reader on any bytes: the whole input as a file, and the same bytes as the start
// of a file that claims to be longer than it is (a file cut while it is read). Besides the
// sanitizers' findings, a result that points outside the file is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "input/wav_header.h"

namespace {

void Check(const wtk::WavHeader& h, int64_t fileSize) {
    const wtk::SampleByteRange r = wtk::SampleBytes(h);
    bool ok = r.Begin >= wtk::kSkippedHeaderBytes && r.End >= r.Begin &&
              r.End <= std::max<int64_t>(fileSize, r.Begin) && h.FileSize == fileSize;
    if (h.DataFound) ok = ok && h.DataOffset >= 20 && h.DataOffset <= fileSize;
    if (h.DataSizeValid) ok = ok && h.DataSize > 0 && h.DataOffset + h.DataSize <= fileSize;
    if (h.ChunksAfterData) ok = ok && h.DataSizeValid;
    if (h.FmtFound || h.DataFound) ok = ok && h.RiffWave;
    ok = ok && !wtk::DescribeWavHeader(h).empty();
    const wtk::WavFit fit = wtk::ClassifyWav(h);
    if (fit == wtk::WavFit::Fit) ok = ok && h.Channels == 1 && h.BitsPerSample == 16;
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    Check(wtk::ReadWavHeader(bytes), static_cast<int64_t>(size));

    const int64_t claimed = static_cast<int64_t>(size) + 4096;
    const wtk::ReadAtFunction shortReads = [bytes](int64_t offset, uint8_t* buf,
                                                   size_t n) -> size_t {
        if (offset < 0 || static_cast<uint64_t>(offset) >= bytes.size()) return 0;
        const size_t got = std::min(n, bytes.size() - static_cast<size_t>(offset));
        std::memcpy(buf, bytes.data() + offset, got);
        return got;
    };
    Check(wtk::ReadWavHeader(shortReads, claimed), claimed);
    return 0;
}
