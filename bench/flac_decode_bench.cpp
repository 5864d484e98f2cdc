// A FLAC file decoded in memory by libFLAC's stream decoder (MD5 off) and by FlacFrameDecoder
// frame by frame, for instruction counts and times of the two:
//   flac_decode_bench FILE [libflac|frames|both]
// "both" also checks that every sample agrees. Under callgrind, collect only the decoding:
//   valgrind --tool=callgrind --toggle-collect='*DecodeWith*' flac_decode_bench FILE frames
#include <FLAC/stream_decoder.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "input/flac_frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A running sum of every sample, channel by channel, to compare the decoders (only when both
// run, so that the counts of one are of its decoding alone).
bool compare = false;
struct Digest {
    uint64_t samples = 0, sum = 0;
    void Add(const int32_t* s, uint32_t n) {
        samples += n;
        if (compare)
            for (uint32_t i = 0; i < n; ++i) sum = sum * 31 + static_cast<uint32_t>(s[i]);
    }
};

struct LibState {
    const Bytes* bytes;
    size_t at = 0;
    Digest digest;
};

__attribute__((noinline)) Digest DecodeWithLibFlac(const Bytes& bytes) {
    LibState s{&bytes, 0, {}};
    FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(dec, false);
    const auto read = [](const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* n,
                         void* client) -> FLAC__StreamDecoderReadStatus {
        auto* st = static_cast<LibState*>(client);
        const size_t k = std::min(*n, st->bytes->size() - st->at);
        std::memcpy(buffer, st->bytes->data() + st->at, k);
        st->at += k;
        *n = k;
        return k == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                      : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    };
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                          const FLAC__int32* const buffer[],
                          void* client) -> FLAC__StreamDecoderWriteStatus {
        auto* st = static_cast<LibState*>(client);
        for (uint32_t c = 0; c < frame->header.channels; ++c)
            st->digest.Add(buffer[c], frame->header.blocksize);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
        std::fprintf(stderr, "libFLAC reported an error\n");
    };
    FLAC__stream_decoder_init_stream(dec, read, nullptr, nullptr, nullptr, nullptr, write, nullptr,
                                     error, &s);
    FLAC__stream_decoder_process_until_end_of_stream(dec);
    FLAC__stream_decoder_delete(dec);
    return s.digest;
}

// The STREAMINFO and the offset of the first frame.
size_t ReadStreamInfo(const Bytes& b, wtk::FlacStreamInfo* info) {
    size_t at = 4;
    for (;;) {
        const bool last = (b[at] & 0x80) != 0;
        const size_t length = (size_t{b[at + 1]} << 16) | (size_t{b[at + 2]} << 8) | b[at + 3];
        if ((b[at] & 0x7F) == 0) {
            const uint8_t* s = b.data() + at + 4;
            info->MinBlockSize = (uint32_t{s[0]} << 8) | s[1];
            info->MaxBlockSize = (uint32_t{s[2]} << 8) | s[3];
            info->SampleRate = (uint32_t{s[10]} << 12) | (uint32_t{s[11]} << 4) | (s[12] >> 4);
            info->Channels = ((s[12] >> 1) & 7) + 1;
            info->BitsPerSample = (((s[12] & 1) << 4) | (s[13] >> 4)) + 1;
        }
        at += 4 + length;
        if (last) return at;
    }
}

__attribute__((noinline)) Digest DecodeWithFrames(const Bytes& padded, size_t size) {
    wtk::FlacStreamInfo info;
    size_t at = ReadStreamInfo(padded, &info);
    wtk::FlacFrameDecoder d(info);
    Digest digest;
    while (at < size) {
        size_t used = 0;
        if (d.Decode(padded.data() + at, size - at, &used) !=
            wtk::FlacFrameDecoder::Result::Frame) {
            std::fprintf(stderr, "frame at byte %zu not taken\n", at);
            break;
        }
        for (uint32_t c = 0; c < info.Channels; ++c)
            digest.Add(d.Channel(c), static_cast<uint32_t>(d.BlockSize()));
        at += used;
    }
    return digest;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: flac_decode_bench FILE [libflac|frames|both]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t size = bytes.size();
    const std::string mode = argc > 2 ? argv[2] : "both";
    using Clock = std::chrono::steady_clock;
    compare = mode == "both";
    Digest lib, ours;
    if (mode != "frames") {
        const auto t0 = Clock::now();
        lib = DecodeWithLibFlac(bytes);
        std::printf("libFLAC: %llu samples, %.3f s\n", static_cast<unsigned long long>(lib.samples),
                    std::chrono::duration<double>(Clock::now() - t0).count());
    }
    if (mode != "libflac") {
        bytes.resize(size + wtk::FlacFrameDecoder::kPadding);
        const auto t0 = Clock::now();
        ours = DecodeWithFrames(bytes, size);
        std::printf("frames:  %llu samples, %.3f s\n",
                    static_cast<unsigned long long>(ours.samples),
                    std::chrono::duration<double>(Clock::now() - t0).count());
    }
    if (mode == "both" && (lib.samples != ours.samples || lib.sum != ours.sum)) {
        std::printf("the decoders disagree\n");
        return 1;
    }
    return 0;
}
