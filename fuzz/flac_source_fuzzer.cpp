// A FLAC file read as the converter reads it, once with the frames going to the converter's own
// frame decoder (libFLAC taking over from the first frame it refuses, or at a seek) and once
// with libFLAC throughout: both must give the same samples, stand at the same place and end
// with the same failure, read in pieces of any size, with or without going back.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "input/recording_layout.h"
#include "input/recording_source.h"
#include "input/wav_header.h"

namespace {

struct Run {
    std::vector<uint8_t> samples;
    int64_t tell = 0;
    bool atEnd = false;
    std::optional<wtk::ReadFailure> failure;
};

// At most this many samples are read of one stream (a stream of any length is made of frames
// of at most 65535 samples, so a few of them show every way it can go).
constexpr int64_t kMostSamples = 400000;

Run Read(int fd, int64_t size, const wtk::RecordingLayout& layout, wtk::FlacDecoding decoding,
         int64_t piece, int64_t back) {
    const auto source = wtk::OpenRecordingSource(fd, size, layout, decoding);
    Run run;
    std::vector<uint8_t> buf(static_cast<size_t>(2 * piece));
    bool wentBack = back == 0;
    while (!source->AtEnd() && static_cast<int64_t>(run.samples.size()) < 2 * kMostSamples) {
        const int64_t got = source->Read(buf.data(), piece);
        run.samples.insert(run.samples.end(), buf.begin(), buf.begin() + 2 * got);
        if (!wentBack && static_cast<int64_t>(run.samples.size()) >= 2 * back) {
            wentBack = true;
            const int64_t to = std::max<int64_t>(source->Tell() - back, 0);
            source->Seek(to);
            run.samples.push_back(0xEE);  // where the seek was, in both runs
        }
        if (got == 0) break;
    }
    run.tell = source->Tell();
    run.atEnd = source->AtEnd();
    if (source->Failure() != nullptr) run.failure = *source->Failure();
    return run;
}

bool Same(const Run& a, const Run& b) {
    if (a.samples != b.samples || a.tell != b.tell || a.atEnd != b.atEnd) return false;
    if (a.failure.has_value() != b.failure.has_value()) return false;
    return !a.failure || (a.failure->What == b.failure->What &&
                          a.failure->StreamSample == b.failure->StreamSample &&
                          a.failure->Errno == b.failure->Errno);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const wtk::WavHeader h = wtk::ReadWavHeader(bytes);
    if (!h.Flac) return 0;
    const auto path = wtk::fuzz::ScratchFolder("flac_source") / "s.flac";
    wtk::fuzz::WriteBytes(path, data, size);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    // The piece size and the seek back from the input's last byte.
    const uint8_t knob = size > 0 ? data[size - 1] : 0;
    const int64_t piece = 1 + (knob & 0x0F) * 613;
    const int64_t back = (knob & 0x10) != 0 ? 1 + (knob >> 5) * 1500 : 0;
    for (const wtk::ReadOptions o : {wtk::ReadOptions{}, wtk::ReadOptions{false, 2}}) {
        const wtk::RecordingLayout layout = wtk::LayoutOf(h, wtk::RawFile{}, o);
        if (layout.Read != wtk::RecordingLayout::Reading::Flac) continue;
        const Run fast = Read(fd, h.FileSize, layout, wtk::FlacDecoding::Fast, piece, back);
        const Run slow = Read(fd, h.FileSize, layout, wtk::FlacDecoding::LibFlacOnly, piece, back);
        wtk::fuzz::Expect(Same(fast, slow));
    }
    ::close(fd);
    return 0;
}
