// The FLAC frame decoder against libFLAC, two ways, chosen by the first byte's top bit.
// Encoded: the bytes choose libFLAC encoder settings (sample size, channels, block size, LPC
// order and precision, partition orders, stereo decorrelation, model search, apodization) and
// samples (raw, in steps of 2^k, constant runs, full-scale alternation, slow ramps); the stream
// is encoded in memory, and the decoder must take every frame of it, each equal to libFLAC's.
// Frames: six leading bytes choose the stream (sample size, channels, block sizes, rate), which the
// harness writes as "fLaC" and a STREAMINFO before the rest of the input. libFLAC decodes the
// stream until its first error; FlacFrameDecoder decodes frame by frame from the first byte after
// the STREAMINFO until it refuses or asks for more. A frame it accepts must be libFLAC's frame of
// the same index (first sample, block size, every sample), decoded before libFLAC reported any
// error; and cut anywhere before its end, with other bytes past the cut, the same frame must ask
// for more.
// WTK_PLAIN_RICE=1 in the environment fuzzes the plain code of processors without BMI2 or
// carry-less multiplication (Rice readers, CRC-16).
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

// libFLAC's frames of a stream in memory, until its first error.
LibFlac DecodeWithLibFlac(const std::vector<uint8_t>& stream) {
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
    return lib;
}

bool SameFrame(const Frame& f, const FlacFrameDecoder& d, uint32_t channels) {
    if (f.first != d.FirstSample() || f.blockSize != uint32_t(d.BlockSize()) ||
        f.channels.size() != channels)
        return false;
    for (uint32_t c = 0; c < channels; ++c)
        if (!std::equal(f.channels[c].begin(), f.channels[c].end(), d.Channel(c))) return false;
    return true;
}

FLAC__StreamEncoderWriteStatus CollectBytes(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                            size_t bytes, uint32_t, uint32_t, void* out) {
    auto* b = static_cast<std::vector<uint8_t>*>(out);
    b->insert(b->end(), buffer, buffer + bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

// The bytes as a source of numbers, repeating; zeros when there are none.
struct Source {
    const uint8_t* data;
    size_t size, at = 0;
    uint32_t Byte() { return size == 0 ? 0 : data[at++ % size]; }
    uint32_t Word() { return Byte() | Byte() << 8 | Byte() << 16 | Byte() << 24; }
};

void Encoded(const uint8_t* data, size_t size) {
    if (size < 12) return;
    const uint32_t bits = 4 + data[1] % 21;
    const uint32_t channels = data[2] & 0x80 ? 1 + data[2] % 8 : 1 + data[2] % 2;
    constexpr uint32_t kBlocks[16] = {16,   17,   64,   192,  576, 1152,  1153, 2048,
                                      4096, 4097, 4608, 8192, 16,  65535, 100,  255};
    const uint32_t blockSize = data[3] & 0x80
                                   ? 16 + ((uint32_t{data[3] & 0x7Fu} << 8 | data[4]) % 20000)
                                   : kBlocks[data[3] & 15];
    const uint32_t maxLpc = data[5] % 33;
    const uint32_t precision = data[6] % 16 < 5 ? 0 : data[6] % 16;  // 0: the encoder's choice
    const uint32_t minPartition = data[7] & 15, maxPartition = data[7] >> 4;
    const uint8_t flags = data[8];
    const uint32_t pattern = data[9] % 6;
    const uint32_t k = data[10] % bits;
    Source src{data + 11, size - 11};
    // At most about 20 000 samples, fewer for the slowest searches.
    const uint32_t perChannel =
        std::min<uint32_t>((flags & 4 ? 4000 : 20000) / channels, 1 + src.Word() % 20000);

    const int32_t top = static_cast<int32_t>((int64_t{1} << (bits - 1)) - 1);
    const int32_t bottom = -top - 1;
    const auto fit = [&](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, bottom, top));
    };
    std::vector<int32_t> samples(size_t{perChannel} * channels);
    int64_t held = 0, ramp = 0;
    uint32_t run = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const int32_t raw = static_cast<int32_t>(src.Word() << (32 - bits)) >> (32 - bits);
        switch (pattern) {
            case 0:
                samples[i] = raw;
                break;
            case 1:  // steps of 2^k: wasted bits
                samples[i] = fit(int64_t{raw} >> k << k);
                break;
            case 2:  // constant runs
                if (run == 0) held = raw, run = 1 + src.Byte() * 4;
                --run;
                samples[i] = fit(held);
                break;
            case 3:  // full scale, alternating, now and then something else
                samples[i] = (i / channels) % 17 == 5 ? raw : (i / channels) % 2 ? top : bottom;
                break;
            case 4:  // a slow ramp
                ramp += static_cast<int8_t>(src.Byte()) >> 4;
                samples[i] = fit(ramp);
                break;
            default:  // a smooth wave and faint noise
                samples[i] = fit(static_cast<int64_t>(top * std::sin(double(i) * 0.01 / channels)) +
                                 (raw >> (bits > 6 ? 6 : 0)));
                break;
        }
    }

    std::vector<uint8_t> stream;
    FLAC__StreamEncoder* enc = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_streamable_subset(enc, false);
    FLAC__stream_encoder_set_channels(enc, channels);
    FLAC__stream_encoder_set_bits_per_sample(enc, bits);
    FLAC__stream_encoder_set_sample_rate(enc, 576000);
    FLAC__stream_encoder_set_compression_level(enc, flags & 3 ? 8 : 0);
    FLAC__stream_encoder_set_blocksize(enc, blockSize);
    FLAC__stream_encoder_set_max_lpc_order(enc, maxLpc);
    FLAC__stream_encoder_set_qlp_coeff_precision(enc, precision);
    FLAC__stream_encoder_set_min_residual_partition_order(enc,
                                                          std::min(minPartition, maxPartition));
    FLAC__stream_encoder_set_max_residual_partition_order(enc, maxPartition);
    FLAC__stream_encoder_set_do_mid_side_stereo(enc, channels == 2 && (flags & 8));
    FLAC__stream_encoder_set_loose_mid_side_stereo(enc, channels == 2 && (flags & 16));
    FLAC__stream_encoder_set_do_exhaustive_model_search(enc, flags & 4);
    FLAC__stream_encoder_set_do_qlp_coeff_prec_search(enc, flags & 32);
    constexpr const char* kApodizations[4] = {"tukey(0.5)", "rectangle", "hann;partial_tukey(2)",
                                              "welch;flattop"};
    FLAC__stream_encoder_set_apodization(enc, kApodizations[(flags >> 6) & 3]);
    const bool ok =
        FLAC__stream_encoder_init_stream(enc, CollectBytes, nullptr, nullptr, nullptr, &stream) ==
            FLAC__STREAM_ENCODER_INIT_STATUS_OK &&
        FLAC__stream_encoder_process_interleaved(enc, samples.data(), perChannel) &&
        FLAC__stream_encoder_finish(enc);
    FLAC__stream_encoder_delete(enc);
    if (!ok) return;  // settings the encoder does not take

    const LibFlac lib = DecodeWithLibFlac(stream);
    Expect(lib.framesBeforeError == SIZE_MAX);
    // The STREAMINFO the encoder wrote, and the frames after the metadata.
    const uint8_t* si = stream.data() + 8;
    wtk::FlacStreamInfo info;
    info.MinBlockSize = uint32_t{si[0]} << 8 | si[1];
    info.MaxBlockSize = uint32_t{si[2]} << 8 | si[3];
    info.SampleRate = uint32_t{si[10]} << 12 | uint32_t{si[11]} << 4 | si[12] >> 4;
    info.Channels = ((si[12] >> 1) & 7) + 1;
    info.BitsPerSample = ((si[12] & 1) << 4 | si[13] >> 4) + 1;
    size_t at = 4;
    for (bool last = false; !last;) {
        last = (stream[at] & 0x80) != 0;
        at += 4 + (size_t{stream[at + 1]} << 16 | size_t{stream[at + 2]} << 8 | stream[at + 3]);
    }
    const size_t n = stream.size();
    stream.resize(n + FlacFrameDecoder::kPadding, 0);
    FlacFrameDecoder ours(info);
    Expect(ours.Takes());
    size_t index = 0;
    while (at < n) {
        size_t used = 0;
        Expect(ours.Decode(stream.data() + at, n - at, &used) == FlacFrameDecoder::Result::Frame);
        Expect(index < lib.frames.size() && SameFrame(lib.frames[index], ours, info.Channels));
        at += used;
        ++index;
    }
    Expect(at == n && index == lib.frames.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::getenv("WTK_PLAIN_RICE") != nullptr) wtk::UseProcessorInstructions(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && (data[0] & 0x80)) {
        Encoded(data, size);
        return 0;
    }
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

    const LibFlac lib = DecodeWithLibFlac(stream);

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
        Expect(SameFrame(lib.frames[index], ours, info.Channels));
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
