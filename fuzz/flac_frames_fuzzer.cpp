// The FLAC frame decoder on any frame bytes, against libFLAC. Six leading bytes choose the
// stream (sample size, channels, block sizes, rate), which the harness writes as "fLaC" and a
// STREAMINFO before the rest of the input. libFLAC decodes the stream until its first error;
// FlacFrameDecoder decodes frame by frame from the first byte after the STREAMINFO until it
// refuses or asks for more. A frame it accepts must be libFLAC's frame of the same index (first
// sample, block size, every sample), decoded before libFLAC reported any error; and cut anywhere
// before its end, with other bytes past the cut, the same frame must ask for more.
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "input/flac_frames.h"

namespace {

using wtk::FlacFrameDecoder;
using wtk::fuzz::Expect;

struct Frame {
    int64_t first = 0;
    uint32_t blockSize = 0;
    std::vector<std::vector<int32_t>> channels;
};

struct LibFlac {
    const uint8_t* bytes = nullptr;
    size_t size = 0, at = 0;
    std::vector<Frame> frames;
    size_t framesBeforeError = SIZE_MAX;
};

FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* n,
                                   void* client) {
    auto* s = static_cast<LibFlac*>(client);
    const size_t k = std::min(*n, s->size - s->at);
    std::memcpy(buffer, s->bytes + s->at, k);
    s->at += k;
    *n = k;
    return k == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                     const FLAC__int32* const buffer[], void* client) {
    auto* s = static_cast<LibFlac*>(client);
    // Frames after an error are never compared; no need to keep them.
    if (s->framesBeforeError != SIZE_MAX) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    Frame f;
    f.first = static_cast<int64_t>(frame->header.number.sample_number);
    f.blockSize = frame->header.blocksize;
    for (uint32_t c = 0; c < frame->header.channels; ++c)
        f.channels.emplace_back(buffer[c], buffer[c] + frame->header.blocksize);
    s->frames.push_back(std::move(f));
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
    auto* s = static_cast<LibFlac*>(client);
    if (s->framesBeforeError == SIZE_MAX) s->framesBeforeError = s->frames.size();
}

void Put(std::vector<uint8_t>& b, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    wtk::FlacStreamInfo info;
    info.BitsPerSample = 4 + data[0] % 21;
    info.Channels = 1 + data[1] % 8;
    info.MaxBlockSize = 1 + ((uint32_t{data[2]} << 8 | data[3]) % 65535);
    info.MinBlockSize = (data[4] & 1) ? info.MaxBlockSize : 1 + data[4] % info.MaxBlockSize;
    constexpr uint32_t kRates[4] = {576000, 384000, 44100, 8000};
    info.SampleRate = kRates[data[5] % 4];
    const uint8_t* frames = data + 6;
    const size_t n = size - 6;

    // "fLaC", the STREAMINFO (the last metadata block), the frames.
    std::vector<uint8_t> stream = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    Put(stream, info.MinBlockSize, 2);
    Put(stream, info.MaxBlockSize, 2);
    Put(stream, 0, 6);  // frame sizes unknown
    Put(stream,
        (uint64_t{info.SampleRate} << 44) | (uint64_t{info.Channels - 1} << 41) |
            (uint64_t{info.BitsPerSample - 1} << 36),
        8);  // rate, channels, bits, total samples unknown
    Put(stream, 0, 8);
    Put(stream, 0, 8);  // no MD5
    stream.insert(stream.end(), frames, frames + n);

    LibFlac lib;
    lib.bytes = stream.data();
    lib.size = stream.size();
    FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(dec, false);
    Expect(FLAC__stream_decoder_init_stream(dec, Read, nullptr, nullptr, nullptr, nullptr, Write,
                                            nullptr, Error,
                                            &lib) == FLAC__STREAM_DECODER_INIT_STATUS_OK);
    FLAC__stream_decoder_process_until_end_of_stream(dec);
    FLAC__stream_decoder_delete(dec);

    FlacFrameDecoder ours(info);
    std::vector<uint8_t> padded(frames, frames + n);
    padded.resize(n + FlacFrameDecoder::kPadding, 0);
    FlacFrameDecoder again(info);
    std::vector<uint8_t> cut;
    size_t at = 0;
    for (size_t index = 0;; ++index) {
        size_t used = 0;
        const FlacFrameDecoder::Result r = ours.Decode(padded.data() + at, n - at, &used);
        if (r != FlacFrameDecoder::Result::Frame) {
            Expect(used == 0);
            break;
        }
        Expect(used > 0 && used <= n - at);
        Expect(index < lib.frames.size() && index < lib.framesBeforeError);
        const Frame& f = lib.frames[index];
        Expect(f.first == ours.FirstSample() && f.blockSize == uint32_t(ours.BlockSize()));
        Expect(f.channels.size() == info.Channels);
        for (uint32_t c = 0; c < info.Channels; ++c)
            Expect(std::equal(f.channels[c].begin(), f.channels[c].end(), ours.Channel(c)));
        // Cut short, with the frame's own bytes or their complement past the cut.
        for (const size_t keep : {used - 1, used / 2, size_t{used * 7 / 8}}) {
            for (const uint8_t flip : {0x00, 0xFF}) {
                cut.assign(padded.begin() + static_cast<ptrdiff_t>(at),
                           padded.begin() + static_cast<ptrdiff_t>(at + used));
                for (size_t i = keep; i < used; ++i) cut[i] ^= flip;
                cut.resize(std::max(used, keep + FlacFrameDecoder::kPadding), 0x5A);
                size_t cutUsed = 0;
                Expect(again.Decode(cut.data(), keep, &cutUsed) ==
                       FlacFrameDecoder::Result::NeedMore);
            }
        }
        at += used;
    }
    return 0;
}
