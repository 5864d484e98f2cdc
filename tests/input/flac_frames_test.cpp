// The frame decoder against libFLAC: streams encoded in memory by libFLAC's encoder (levels,
// sample sizes, channels, block sizes and signals that bring out every subframe kind) are decoded
// by libFLAC's stream decoder and by FlacFrameDecoder frame by frame, and every frame must match
// sample for sample. Then damaged and cut frames, which it must refuse or ask more bytes for.
#include "input/flac_frames.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace wtk {
namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    int64_t first = 0;
    uint32_t blockSize = 0;
    std::vector<std::vector<int32_t>> channels;
    bool operator==(const Frame&) const = default;
};

enum class Signal { Noise, Silence, FullScale, MultiplesOf4, Burst, Scaled };

// Interleaved samples of `frames` sample frames: noise at `level` (a fraction of full scale),
// silence, full-scale noise, noise in steps of 4, or a click-like burst in faint noise.
std::vector<int32_t> MakeSamples(Signal signal, uint32_t bits, uint32_t channels, uint32_t frames,
                                 double level, uint32_t seed) {
    std::mt19937 rng(seed);
    const double full = std::ldexp(1.0, static_cast<int>(bits) - 1);
    const int32_t top = static_cast<int32_t>(full) - 1;
    std::uniform_int_distribution<int32_t> any(-top - 1, top);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<int32_t> out(size_t{frames} * channels);
    // Noise coloured by a resonance (unit variance), which linear prediction pays for.
    std::vector<double> y1(channels), y2(channels);
    double base = 0;
    const auto coloured = [&](uint32_t c) {
        const double y = 1.6 * y1[c] - 0.8 * y2[c] + 0.3 * gauss(rng);
        y2[c] = y1[c];
        y1[c] = y;
        return y;
    };
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            double v = 0;
            switch (signal) {
                case Signal::Noise:
                    v = level * full * 0.3 * coloured(c) + (c == 1 ? 0.2 * out[i * channels] : 0);
                    break;
                case Signal::Silence:
                    break;
                case Signal::FullScale:
                    out[i * channels + c] = any(rng);
                    continue;
                case Signal::MultiplesOf4:
                    v = 4 * std::round(level * full * 0.05 * gauss(rng));
                    break;
                case Signal::Scaled:  // loud noise, the other channels it times level and faint
                    if (c == 0) base = 0.4 * full * gauss(rng);
                    v = c == 0 ? base : level * base + 3 * gauss(rng);
                    break;
                case Signal::Burst: {
                    const uint32_t t = i % 3000;
                    v = 0.001 * full * gauss(rng);
                    if (t < 60) v += 0.9 * full * std::exp(-t / 10.0) * std::sin(t * 1.3 + c);
                    break;
                }
            }
            out[i * channels + c] = std::clamp(static_cast<int32_t>(std::lround(v)), -top - 1, top);
        }
    }
    return out;
}

struct Encoding {
    uint32_t bits, channels, blockSize, level;
};

FLAC__StreamEncoderWriteStatus CollectBytes(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                            size_t bytes, uint32_t, uint32_t, void* out) {
    auto* b = static_cast<Bytes*>(out);
    b->insert(b->end(), buffer, buffer + bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

Bytes Encode(const Encoding& e, const std::vector<int32_t>& samples) {
    Bytes out;
    FLAC__StreamEncoder* enc = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(enc, e.channels);
    FLAC__stream_encoder_set_bits_per_sample(enc, e.bits);
    FLAC__stream_encoder_set_sample_rate(enc, 576000);
    FLAC__stream_encoder_set_compression_level(enc, e.level);
    FLAC__stream_encoder_set_blocksize(enc, e.blockSize);
    FLAC__stream_encoder_set_streamable_subset(enc, false);
    EXPECT_EQ(FLAC__stream_encoder_init_stream(enc, CollectBytes, nullptr, nullptr, nullptr, &out),
              FLAC__STREAM_ENCODER_INIT_STATUS_OK);
    const uint32_t frames = static_cast<uint32_t>(samples.size() / e.channels);
    EXPECT_TRUE(FLAC__stream_encoder_process_interleaved(enc, samples.data(), frames));
    EXPECT_TRUE(FLAC__stream_encoder_finish(enc));
    FLAC__stream_encoder_delete(enc);
    return out;
}

// libFLAC's frames of a whole stream in memory.
struct LibDecoding {
    const Bytes* bytes = nullptr;
    size_t at = 0;
    std::vector<Frame> frames;
    bool error = false;
};

std::vector<Frame> DecodeWithLibFlac(const Bytes& bytes, bool* error) {
    LibDecoding d;
    d.bytes = &bytes;
    FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
    const auto read = [](const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* n,
                         void* client) -> FLAC__StreamDecoderReadStatus {
        auto* s = static_cast<LibDecoding*>(client);
        const size_t k = std::min(*n, s->bytes->size() - s->at);
        std::memcpy(buffer, s->bytes->data() + s->at, k);
        s->at += k;
        *n = k;
        return k == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                      : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    };
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                          const FLAC__int32* const buffer[],
                          void* client) -> FLAC__StreamDecoderWriteStatus {
        auto* s = static_cast<LibDecoding*>(client);
        Frame f;
        f.first = static_cast<int64_t>(frame->header.number.sample_number);
        f.blockSize = frame->header.blocksize;
        for (uint32_t c = 0; c < frame->header.channels; ++c)
            f.channels.emplace_back(buffer[c], buffer[c] + frame->header.blocksize);
        s->frames.push_back(std::move(f));
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto onError = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus,
                            void* client) { static_cast<LibDecoding*>(client)->error = true; };
    EXPECT_EQ(FLAC__stream_decoder_init_stream(dec, read, nullptr, nullptr, nullptr, nullptr, write,
                                               nullptr, onError, &d),
              FLAC__STREAM_DECODER_INIT_STATUS_OK);
    EXPECT_TRUE(FLAC__stream_decoder_process_until_end_of_stream(dec));
    FLAC__stream_decoder_delete(dec);
    *error = d.error;
    return d.frames;
}

// The offset of the first frame, past "fLaC" and the metadata blocks.
size_t FirstFrame(const Bytes& b) {
    size_t at = 4;
    for (;;) {
        const bool last = (b.at(at) & 0x80) != 0;
        at += 4 + ((size_t{b.at(at + 1)} << 16) | (size_t{b.at(at + 2)} << 8) | b.at(at + 3));
        if (last) return at;
    }
}

FlacStreamInfo InfoOf(const Encoding& e) {
    return {e.blockSize, e.blockSize, 576000, e.channels, e.bits};
}

// Bytes with kPadding more, so that no read of the decoder passes the vector.
struct Padded {
    Bytes bytes;
    explicit Padded(const Bytes& b, size_t from, size_t n)
        : bytes(b.begin() + static_cast<ptrdiff_t>(from),
                b.begin() + static_cast<ptrdiff_t>(from + n)) {
        bytes.resize(n + FlacFrameDecoder::kPadding, 0xA5);
    }
};

// What a whole one-channel frame decodes to.
struct Decoded {
    FlacFrameDecoder::Result result;
    size_t used;
    std::vector<int32_t> samples;  // with Frame
};

// A whole one-channel frame of n samples of `bits` bits decoded with the plain code and with the
// processor's own instructions where it has them (left in use after), each way handed to check.
template <class Check>
void DecodeEachWay(const Bytes& frame, uint32_t n, uint32_t bits, Check check) {
    for (const bool own : {false, true}) {
        if (!UseProcessorInstructions(own)) continue;
        SCOPED_TRACE(own ? "own instructions" : "plain");
        FlacFrameDecoder d({n, n, 0, 1, bits});
        const Padded p(frame, 0, frame.size());
        Decoded got{{}, 0, {}};
        got.result = d.Decode(p.bytes.data(), frame.size(), &got.used);
        if (got.result == FlacFrameDecoder::Result::Frame) {
            got.samples.assign(d.Channel(0), d.Channel(0) + d.BlockSize());
        }
        check(got);
    }
    UseProcessorInstructions(true);
}

// The length of the frame header at f, its CRC-8 included.
size_t HeaderLength(const uint8_t* f) {
    size_t h = 4;
    h += f[4] < 0x80 ? 1 : static_cast<size_t>(std::countl_one(f[4]));
    const uint32_t sizeCode = f[2] >> 4, rateCode = f[2] & 15;
    h += sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0;
    h += rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    return h + 1;
}

uint8_t HeaderCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int b = 0; b < 8; ++b) c = ((c & 0x80) ? (c << 1) ^ 0x07 : c << 1) & 0xFF;
    }
    return static_cast<uint8_t>(c);
}

// FlacFrameDecoder's frames from the first frame on, until it stops; *stop is why.
std::vector<Frame> DecodeWithFrames(const Bytes& b, const FlacStreamInfo& info,
                                    std::vector<uint32_t>* firstSubframeHeads,
                                    FlacFrameDecoder::Result* stop) {
    FlacFrameDecoder d(info);
    EXPECT_TRUE(d.Takes());
    std::vector<Frame> frames;
    size_t at = FirstFrame(b);
    const Padded all(b, 0, b.size());
    for (;;) {
        size_t used = 0;
        *stop = d.Decode(all.bytes.data() + at, b.size() - at, &used);
        if (*stop != FlacFrameDecoder::Result::Frame) break;
        Frame f;
        f.first = d.FirstSample();
        f.blockSize = static_cast<uint32_t>(d.BlockSize());
        for (uint32_t c = 0; c < info.Channels; ++c)
            f.channels.emplace_back(d.Channel(c), d.Channel(c) + d.BlockSize());
        frames.push_back(std::move(f));
        firstSubframeHeads->push_back(uint32_t{b[at + 3]} >> 4 << 8 |
                                      b[at + HeaderLength(b.data() + at)]);
        at += used;
        if (at == b.size()) {
            *stop = d.Decode(all.bytes.data() + at, 0, &used);
            break;
        }
    }
    return frames;
}

// What the first channel's subframes must show at least once.
enum class Shows { Any, Constant, Verbatim, Wasted, Lpc, LeftSide, RightSide, MidSide };

bool Showed(Shows s, const std::vector<uint32_t>& heads) {
    for (const uint32_t h : heads) {
        const uint32_t type = (h >> 1) & 0x3F;
        if (s == Shows::Any || (s == Shows::Constant && type == 0) ||
            (s == Shows::Verbatim && type == 1) || (s == Shows::Wasted && (h & 1)) ||
            (s == Shows::Lpc && type >= 32) || (s == Shows::LeftSide && (h >> 8) == 8) ||
            (s == Shows::RightSide && (h >> 8) == 9) || (s == Shows::MidSide && (h >> 8) == 10))
            return true;
    }
    return false;
}

struct Row {
    const char* name;
    Encoding enc;
    Signal signal;
    double level;
    Shows shows;
};

const Row kRows[] = {
    {"16bit_mono_l0_4096", {16, 1, 4096, 0}, Signal::Noise, 0.1, Shows::Any},
    {"16bit_mono_l5_4096", {16, 1, 4096, 5}, Signal::Noise, 0.1, Shows::Lpc},
    {"16bit_mono_l8_4096", {16, 1, 4096, 8}, Signal::Noise, 0.01, Shows::Lpc},
    {"16bit_mono_l8_1152", {16, 1, 1152, 8}, Signal::Noise, 0.5, Shows::Lpc},
    {"16bit_mono_l5_192", {16, 1, 192, 5}, Signal::Noise, 0.001, Shows::Any},
    {"16bit_stereo_l0_4096", {16, 2, 4096, 0}, Signal::Noise, 0.1, Shows::Any},
    {"16bit_stereo_l5_4096", {16, 2, 4096, 5}, Signal::Noise, 0.1, Shows::Lpc},
    {"16bit_stereo_l8_1152", {16, 2, 1152, 8}, Signal::Noise, 0.3, Shows::Any},
    {"16bit_stereo_l8_192", {16, 2, 192, 8}, Signal::Burst, 0, Shows::Any},
    {"8bit_mono_l5_4096", {8, 1, 4096, 5}, Signal::Noise, 0.2, Shows::Any},
    {"8bit_stereo_l8_1152", {8, 2, 1152, 8}, Signal::Noise, 0.5, Shows::Any},
    {"8bit_mono_l0_192_fullscale", {8, 1, 192, 0}, Signal::FullScale, 0, Shows::Verbatim},
    {"24bit_mono_l0_4096", {24, 1, 4096, 0}, Signal::Noise, 0.1, Shows::Any},
    {"24bit_mono_l8_4096", {24, 1, 4096, 8}, Signal::Noise, 0.3, Shows::Lpc},
    {"24bit_stereo_l5_1152", {24, 2, 1152, 5}, Signal::Noise, 0.9, Shows::Any},
    {"24bit_stereo_l8_4096_fullscale", {24, 2, 4096, 8}, Signal::FullScale, 0, Shows::Verbatim},
    {"24bit_mono_l8_1152_burst", {24, 1, 1152, 8}, Signal::Burst, 0, Shows::Any},
    {"16bit_mono_l5_4096_silence", {16, 1, 4096, 5}, Signal::Silence, 0, Shows::Constant},
    {"16bit_stereo_l8_1152_silence", {16, 2, 1152, 8}, Signal::Silence, 0, Shows::Constant},
    {"16bit_mono_l8_4096_fullscale", {16, 1, 4096, 8}, Signal::FullScale, 0, Shows::Verbatim},
    {"16bit_mono_l5_1152_steps_of_4", {16, 1, 1152, 5}, Signal::MultiplesOf4, 0.3, Shows::Wasted},
    {"24bit_stereo_l8_192_steps_of_4", {24, 2, 192, 8}, Signal::MultiplesOf4, 0.1, Shows::Any},
    {"16bit_mono_l8_4096_burst", {16, 1, 4096, 8}, Signal::Burst, 0, Shows::Any},
    {"16bit_stereo_l8_192_left_side", {16, 2, 192, 8}, Signal::Scaled, 1, Shows::LeftSide},
    {"16bit_stereo_l8_192_right_side", {16, 2, 192, 8}, Signal::Scaled, 0.5, Shows::RightSide},
    {"24bit_stereo_l5_1152_mid_side", {24, 2, 1152, 5}, Signal::Scaled, -1, Shows::MidSide},
};

class FlacFramesMatch : public testing::TestWithParam<Row> {};

TEST_P(FlacFramesMatch, EveryFrameAsLibFlacDecodesIt) {
    const Row& row = GetParam();
    // Whole blocks (many when small, for the encoder's choices to vary) and a short last one.
    const uint32_t blocks = row.enc.blockSize <= 192 ? 40 : 5;
    const uint32_t frames = row.enc.blockSize * blocks + 77;
    const Bytes flac = Encode(
        row.enc, MakeSamples(row.signal, row.enc.bits, row.enc.channels, frames, row.level, 7));
    bool libError = false;
    const std::vector<Frame> expected = DecodeWithLibFlac(flac, &libError);
    ASSERT_FALSE(libError);
    ASSERT_EQ(expected.size(), blocks + 1);
    // With the plain code, and with the processor's own instructions where it has them.
    for (const bool own : {false, true}) {
        if (!UseProcessorInstructions(own)) continue;
        SCOPED_TRACE(own ? "own instructions" : "plain");
        std::vector<uint32_t> heads;
        FlacFrameDecoder::Result stop{};
        const std::vector<Frame> got = DecodeWithFrames(flac, InfoOf(row.enc), &heads, &stop);
        EXPECT_EQ(stop, FlacFrameDecoder::Result::NeedMore);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << "frame " << i;
        EXPECT_TRUE(Showed(row.shows, heads));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, FlacFramesMatch, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& i) { return i.param.name; });

// A 16-bit stereo stream and the offset and length of its second frame.
struct Sample {
    Encoding enc{16, 2, 1152, 8};
    Bytes flac;
    size_t at = 0, length = 0;
    Sample() {
        flac = Encode(enc, MakeSamples(Signal::Noise, 16, 2, 1152 * 3, 0.2, 3));
        FlacFrameDecoder d(InfoOf(enc));
        at = FirstFrame(flac);
        const Padded all(flac, 0, flac.size());
        EXPECT_EQ(d.Decode(all.bytes.data() + at, flac.size() - at, &length),
                  FlacFrameDecoder::Result::Frame);
        at += length;
        EXPECT_EQ(d.Decode(all.bytes.data() + at, flac.size() - at, &length),
                  FlacFrameDecoder::Result::Frame);
    }
};

uint16_t FrameCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        c ^= uint32_t{p[i]} << 8;
        for (int b = 0; b < 8; ++b) c = ((c & 0x8000) ? (c << 1) ^ 0x8005 : c << 1) & 0xFFFF;
    }
    return static_cast<uint16_t>(c);
}

// Where a damage lies: a header byte, the header's CRC-8, a byte from the first subframe on,
// or the frame's last byte before its CRC-16.
enum class Where { Header, HeaderCrc, Body, BodyEnd };
// The CRCs made right again after the damage, so that a check of its own must refuse it; or
// only the frame's CRC-16, so that the header's CRC-8 must.
enum class Fix { None, Crcs, FrameCrc };

struct Damage {
    const char* name;
    Where where;
    size_t offset;
    uint8_t mask, value;  // the masked bits become value; value 0xFF: the masked bits flip
    Fix fix;
};

constexpr uint8_t kFlip = 0xFF;

const Damage kDamages[] = {
    {"body_bit_flipped", Where::Body, 40, 0x10, kFlip, Fix::None},
    {"last_body_bit_flipped", Where::BodyEnd, 0, 0x01, kFlip, Fix::None},
    {"frame_number_bit_flipped", Where::Header, 4, 0x02, kFlip, Fix::None},
    {"crc8_flipped", Where::HeaderCrc, 0, 0x80, kFlip, Fix::None},
    {"crc8_flipped_frame_crc_right", Where::HeaderCrc, 0, 0x80, kFlip, Fix::FrameCrc},
    {"sync_broken", Where::Header, 1, 0x04, kFlip, Fix::Crcs},
    {"reserved_bit_after_sync", Where::Header, 1, 0x02, 0x02, Fix::Crcs},
    {"block_size_code_0", Where::Header, 2, 0xF0, 0x00, Fix::Crcs},
    {"block_size_over_the_largest", Where::Header, 2, 0xF0, 0x50, Fix::Crcs},
    {"sample_rate_code_15", Where::Header, 2, 0x0F, 0x0F, Fix::Crcs},
    {"channel_coding_11", Where::Header, 3, 0xF0, 0xB0, Fix::Crcs},
    {"channels_not_the_streams", Where::Header, 3, 0xF0, 0x00, Fix::Crcs},
    {"sample_size_code_3", Where::Header, 3, 0x0E, 0x06, Fix::Crcs},
    {"sample_size_not_the_streams", Where::Header, 3, 0x0E, 0x0C, Fix::Crcs},
    {"reserved_bit_after_sample_size", Where::Header, 3, 0x01, 0x01, Fix::Crcs},
    {"number_continuation_byte_first", Where::Header, 4, 0xFF, 0x81, Fix::Crcs},
    {"subframe_padding_bit", Where::Body, 0, 0x80, 0x80, Fix::Crcs},
    {"subframe_type_reserved", Where::Body, 0, 0x7E, 0x04, Fix::Crcs},
    {"subframe_fixed_order_5", Where::Body, 0, 0x7E, 0x1A, Fix::Crcs},
};

class FlacFramesDamaged : public testing::TestWithParam<Damage> {};

TEST_P(FlacFramesDamaged, Refused) {
    const Damage& dmg = GetParam();
    static const Sample s;
    Bytes frame(s.flac.begin() + static_cast<ptrdiff_t>(s.at),
                s.flac.begin() + static_cast<ptrdiff_t>(s.at + s.length));
    const size_t header = HeaderLength(frame.data());
    const size_t at = dmg.where == Where::Header      ? dmg.offset
                      : dmg.where == Where::HeaderCrc ? header - 1
                      : dmg.where == Where::Body      ? header + dmg.offset
                                                      : frame.size() - 3;
    frame[at] = dmg.value == kFlip ? frame[at] ^ dmg.mask
                                   : static_cast<uint8_t>((frame[at] & ~dmg.mask) | dmg.value);
    if (dmg.fix != Fix::None) {
        const size_t h = HeaderLength(frame.data());
        if (dmg.fix == Fix::Crcs) frame[h - 1] = HeaderCrc(frame.data(), h - 1);
        const uint16_t crc = FrameCrc(frame.data(), frame.size() - 2);
        frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
        frame[frame.size() - 1] = static_cast<uint8_t>(crc);
    }
    const Padded p(frame, 0, frame.size());
    for (const bool own : {false, true}) {
        if (!UseProcessorInstructions(own)) continue;
        SCOPED_TRACE(own ? "own instructions" : "plain");
        FlacFrameDecoder d(InfoOf(s.enc));
        size_t used = 99;
        EXPECT_EQ(d.Decode(p.bytes.data(), frame.size(), &used), FlacFrameDecoder::Result::Refused);
        EXPECT_EQ(used, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, FlacFramesDamaged, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage>& i) { return i.param.name; });

// Frames written bit by bit: one 8-bit mono subframe of a few samples, so that a sample or a
// Rice value can be put just inside or just past what the decoder may take.
class FrameWriter {
public:
    void Put(uint64_t v, int bits) {
        for (int i = bits - 1; i >= 0; --i) Bit((v >> i) & 1);
    }
    void Bit(bool b) {
        acc_ = static_cast<uint8_t>(acc_ << 1 | b);
        if (++n_ == 8) bytes_.push_back(acc_), n_ = 0, acc_ = 0;
    }
    // A Rice code of residual r, parameter k.
    void Rice(int64_t r, int k) {
        const uint64_t u = r < 0 ? static_cast<uint64_t>(-2 * r - 1) : static_cast<uint64_t>(2 * r);
        for (uint64_t q = u >> k; q > 0; --q) Bit(false);
        Bit(true);
        Put(u & ((uint64_t{1} << k) - 1), k);
    }
    // The frame: a header (fixed blocks, 8-bit block size, rate and size from the STREAMINFO),
    // the subframe bits written so far, padding and the CRC-16.
    Bytes Frame(uint32_t blockSize) {
        while (n_ != 0) Bit(false);
        const uint8_t header[6] = {0xFF, 0xF8, 0x60,
                                   0x00, 0x00, static_cast<uint8_t>(blockSize - 1)};
        Bytes f(header, header + 6);
        f.reserve(6 + 1 + bytes_.size() + 2);
        f.push_back(HeaderCrc(f.data(), f.size()));
        f.insert(f.end(), bytes_.begin(), bytes_.end());
        const uint16_t crc = FrameCrc(f.data(), f.size());
        f.push_back(static_cast<uint8_t>(crc >> 8));
        f.push_back(static_cast<uint8_t>(crc));
        return f;
    }

private:
    Bytes bytes_;
    uint8_t acc_ = 0;
    int n_ = 0;
};

struct Built {
    const char* name;
    int type;                    // subframe type: 8 + order for FIXED, 31 + order for LPC
    std::vector<int32_t> warm;   // warm-up samples
    std::vector<int32_t> coefs;  // LPC: 4-bit coefficients
    std::vector<int64_t> residuals;
    int k;                          // Rice parameter
    std::vector<int32_t> expected;  // the samples; empty: refused
    int shift = 0;                  // LPC: the prediction's shift
};

const Built kBuilt[] = {
    {"fixed0_at_the_edges", 8, {}, {}, {127, -128, 0, -1}, 6, {127, -128, 0, -1}},
    {"fixed0_over_the_top", 8, {}, {}, {0, 128, 0, 0}, 6, {}},
    {"fixed0_under_the_bottom", 8, {}, {}, {0, 0, -129, 0}, 6, {}},
    // Past the top amid values taken many at a time.
    {"fixed0_over_the_top_in_a_run",
     8,
     {},
     {},
     {1, -1, 2, -2, 3, -3, 4, -4, 5, -5, 6, -6, 7, 128, 8, -8, 9, -9, 10, -10},
     6,
     {}},
    {"fixed2_at_the_top", 10, {126, 126}, {}, {1, -1}, 2, {126, 126, 127, 127}},
    {"fixed2_over_the_top", 10, {127, 127}, {}, {0, 1}, 2, {}},
    {"lpc1_at_the_edges", 32, {100}, {1}, {27, -255, 0}, 7, {100, 127, -128, -128}},
    {"lpc1_over_the_top", 32, {127}, {1}, {0, 0, 1}, 2, {}},
    {"lpc2_under_the_bottom", 33, {-128, -128}, {1, 0}, {0, -1}, 2, {}},
    {"lpc1_negative_shift", 32, {10}, {2}, {0, 0, 0}, 2, {}, -1},
    {"lpc1_shift_1", 32, {10}, {2}, {0, 1, 0}, 2, {10, 10, 11, 11}, 1},
    // An order without a loop of its own.
    {"lpc13_over_the_top",
     44,
     {127, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
     {1, 0},
     2,
     {}},
    {"lpc13_at_the_top",
     44,
     {126, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
     {1, 0},
     2,
     {126, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 127, 0}},
    // 4096 zeros with parameter 20 would be 2^32: past 32 bits, whatever it wraps to.
    {"rice_value_past_32_bits", 8, {}, {}, {0, 0, 0, int64_t{1} << 31}, 20, {}},
};

class FlacFramesBuilt : public testing::TestWithParam<Built> {};

TEST_P(FlacFramesBuilt, SamplesWithinTheirBitsOrRefused) {
    const Built& b = GetParam();
    FrameWriter w;
    w.Put(0, 1);
    w.Put(static_cast<uint32_t>(b.type), 6);
    w.Put(0, 1);  // no wasted bits
    for (const int32_t s : b.warm) w.Put(static_cast<uint32_t>(s) & 0xFF, 8);
    if (!b.coefs.empty()) {
        w.Put(3, 4);  // precision 4
        w.Put(static_cast<uint32_t>(b.shift) & 31, 5);
        for (const int32_t c : b.coefs) w.Put(static_cast<uint32_t>(c) & 15, 4);
    }
    const int paramBits = b.k < 15 ? 4 : 5;
    w.Put(paramBits == 4 ? 0 : 1, 2);  // Rice, 4- or 5-bit parameters
    w.Put(0, 4);                       // one partition
    w.Put(static_cast<uint32_t>(b.k), paramBits);
    for (const int64_t r : b.residuals) w.Rice(r, b.k);
    const uint32_t n = static_cast<uint32_t>(b.warm.size() + b.residuals.size());
    const Bytes frame = w.Frame(n);
    DecodeEachWay(frame, n, 8, [&](const Decoded& got) {
        if (b.expected.empty()) {
            EXPECT_EQ(got.result, FlacFrameDecoder::Result::Refused);
        } else {
            ASSERT_EQ(got.result, FlacFrameDecoder::Result::Frame);
            EXPECT_EQ(got.used, frame.size());
            EXPECT_EQ(got.samples, b.expected);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Frames, FlacFramesBuilt, testing::ValuesIn(kBuilt),
                         [](const testing::TestParamInfo<Built>& i) { return i.param.name; });

// Runs of Rice codes whose quotients climb from none to past what the bits of one load hold,
// for parameters read several codes to a load and one read code by code: every code must come
// out, wherever the run's long codes and the partition's end fall, and the frame cut within
// its last bytes must ask for more, with zeros or ones past the cut.
TEST(FlacFrames, RiceCodesOfEveryLength) {
    for (const int k : {0, 1, 3, 7, 12, 20, 24, 25}) {
        for (const uint32_t maxQ : {2u, 9u, 30u, 70u}) {
            for (const uint32_t n : {256u, 251u}) {
                // 24-bit samples of FIXED order 0 are the residuals; a folded value must stay
                // below 2^24.
                const uint32_t qLimit = std::min(maxQ, (1u << (24 - std::min(k, 24))) - 1);
                std::vector<int32_t> samples;
                FrameWriter w;
                w.Put(0x10, 8);  // FIXED order 0, no wasted bits
                w.Put(k < 15 ? 0 : 1, 2);
                w.Put(0, 4);
                w.Put(static_cast<uint32_t>(k), k < 15 ? 4 : 5);
                for (uint32_t i = 0; i < n; ++i) {
                    const uint64_t q = (i * 5 + i / 7) % (qLimit + 1);
                    const uint64_t rest = (i * 2654435761u) & ((uint64_t{1} << k) - 1);
                    const uint64_t u = std::min<uint64_t>(q << k | rest, (1u << 24) - 1);
                    const int64_t r =
                        (u & 1) ? -static_cast<int64_t>(u + 1) / 2 : static_cast<int64_t>(u / 2);
                    w.Rice(r, k);
                    samples.push_back(static_cast<int32_t>(r));
                }
                const Bytes frame = w.Frame(n);
                for (const bool own : {false, true}) {
                    if (!UseProcessorInstructions(own)) continue;
                    SCOPED_TRACE(testing::Message()
                                 << "k " << k << ", quotients to " << maxQ << ", " << n
                                 << " codes, " << (own ? "own instructions" : "plain"));
                    FlacFrameDecoder d({n, n, 0, 1, 24});
                    const Padded whole(frame, 0, frame.size());
                    size_t used = 0;
                    ASSERT_EQ(d.Decode(whole.bytes.data(), frame.size(), &used),
                              FlacFrameDecoder::Result::Frame);
                    EXPECT_EQ(used, frame.size());
                    EXPECT_EQ(std::vector<int32_t>(d.Channel(0), d.Channel(0) + n), samples);
                    for (size_t cut = frame.size() - 24; cut < frame.size(); ++cut) {
                        for (const uint8_t fill : {0x00, 0xFF}) {
                            // Exactly as long as the decoder may read, for the sanitizers.
                            Bytes b(cut + FlacFrameDecoder::kPadding, fill);
                            std::copy_n(frame.begin(), cut, b.begin());
                            EXPECT_EQ(d.Decode(b.data(), cut, &used),
                                      FlacFrameDecoder::Result::NeedMore)
                                << cut << " bytes, padding " << int{fill};
                        }
                    }
                }
            }
        }
    }
    UseProcessorInstructions(true);
}

// LPC subframes of every order with its own loop (and one without), 16-bit samples, 15-bit
// coefficients of either sign and a large shift: residuals are chosen so that the samples are
// given ones, whose predictions the test sums exactly.
TEST(FlacFrames, LpcOfEveryOrder) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> sample(-30000, 30000), coefficient(-16384, 16383);
    for (const uint32_t order :
         {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 16u, 20u, 32u}) {
        const uint32_t n = 96;
        const int shift = 14, k = 18;
        std::vector<int32_t> samples(n), coefs(order);
        for (int32_t& s : samples) s = sample(rng);
        for (int32_t& c : coefs) c = coefficient(rng);
        FrameWriter w;
        w.Put(0, 1);
        w.Put(31 + order, 6);
        w.Put(0, 1);
        for (uint32_t i = 0; i < order; ++i) w.Put(static_cast<uint32_t>(samples[i]) & 0xFFFF, 16);
        w.Put(14, 4);  // precision 15
        w.Put(static_cast<uint32_t>(shift), 5);
        for (const int32_t c : coefs) w.Put(static_cast<uint32_t>(c) & 0x7FFF, 15);
        w.Put(1, 2);  // Rice, 5-bit parameters
        w.Put(0, 4);
        w.Put(static_cast<uint32_t>(k), 5);
        for (uint32_t i = order; i < n; ++i) {
            int64_t sum = 0;
            for (uint32_t j = 0; j < order; ++j) sum += int64_t{coefs[j]} * samples[i - 1 - j];
            w.Rice(samples[i] - (sum >> shift), k);
        }
        const Bytes frame = w.Frame(n);
        SCOPED_TRACE(testing::Message() << "order " << order);
        DecodeEachWay(frame, n, 16, [&](const Decoded& got) {
            ASSERT_EQ(got.result, FlacFrameDecoder::Result::Frame);
            EXPECT_EQ(got.samples, samples);
        });
    }
}

// A residual of almost -2^31, its coded value just under 2^32 with parameter 27, that a large
// prediction brings back to a 24-bit sample: taken, not mistaken for a value past 32 bits.
TEST(FlacFrames, AResidualNearTheEndOf32Bits) {
    const int32_t warm = 131072, coef = 16383;
    const int64_t residual = -int64_t{coef} * warm;  // the sample after it is 0
    FrameWriter w;
    w.Put(0x40, 8);  // LPC order 1, no wasted bits
    w.Put(static_cast<uint32_t>(warm), 24);
    w.Put(14, 4);  // precision 15
    w.Put(0, 5);   // no shift
    w.Put(static_cast<uint32_t>(coef), 15);
    w.Put(1, 2);  // Rice, 5-bit parameters
    w.Put(0, 4);
    w.Put(27, 5);
    w.Rice(residual, 27);
    const Bytes frame = w.Frame(2);
    DecodeEachWay(frame, 2, 24, [&](const Decoded& got) {
        ASSERT_EQ(got.result, FlacFrameDecoder::Result::Frame);
        EXPECT_EQ(got.samples, (std::vector<int32_t>{warm, 0}));
    });
}

// One residual in partitions of every coding side by side: Rice codes of small and large
// parameters, values escaped to a few bits and to none, after a FIXED order 1 warm-up sample.
TEST(FlacFrames, PartitionsOfEveryCoding) {
    const uint32_t n = 64;  // four partitions of 16, the first with 15 residuals
    FrameWriter w;
    w.Put(0x12, 8);  // FIXED order 1, no wasted bits
    w.Put(0x10, 8);  // warm-up sample 16
    w.Put(0, 2);     // Rice, 4-bit parameters
    w.Put(2, 4);     // partition order 2
    std::vector<int64_t> residuals;
    const auto residual = [](uint32_t i) { return static_cast<int64_t>((i * 7) % 11) - 5; };
    // Rice parameters 0 and 7, values escaped to 4 bits (99) and to none (100).
    for (const int coding : {0, 99, 7, 100}) {
        const uint32_t count = residuals.empty() ? 15 : 16;
        if (coding < 15) {
            w.Put(static_cast<uint32_t>(coding), 4);
        } else {
            w.Put(15, 4);
            w.Put(coding == 99 ? 4 : 0, 5);
        }
        for (uint32_t i = 0; i < count; ++i) {
            const int64_t r = coding == 100 ? 0 : residual(static_cast<uint32_t>(residuals.size()));
            if (coding < 15) {
                w.Rice(r, coding);
            } else if (coding == 99) {
                w.Put(static_cast<uint64_t>(r) & 15, 4);
            }
            residuals.push_back(r);
        }
    }
    std::vector<int32_t> expected = {16};
    for (const int64_t r : residuals) expected.push_back(static_cast<int32_t>(expected.back() + r));
    const Bytes frame = w.Frame(n);
    DecodeEachWay(frame, n, 8, [&](const Decoded& got) {
        ASSERT_EQ(got.result, FlacFrameDecoder::Result::Frame);
        EXPECT_EQ(got.samples, expected);
    });
}

// Frames of every length from a few bytes to a few hundred (verbatim 8-bit samples, which any
// byte is): whole, each is taken; with any one bit of its samples flipped, which only the CRC-16
// can tell, refused.
TEST(FlacFrames, ChecksumsOfEveryLength) {
    for (uint32_t n = 1; n <= 256; ++n) {
        FrameWriter w;
        w.Put(0x02, 8);  // VERBATIM, no wasted bits
        std::vector<int32_t> samples;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t v = (i * 2654435761u) >> 24;
            w.Put(v, 8);
            samples.push_back(static_cast<int8_t>(v));
        }
        const Bytes frame = w.Frame(n);
        const size_t first = frame.size() - 2 - n;
        for (const bool own : {false, true}) {
            if (!UseProcessorInstructions(own)) continue;
            SCOPED_TRACE(testing::Message() << n << " samples, " << (own ? "own" : "plain"));
            FlacFrameDecoder d({n, n, 0, 1, 8});
            const Padded whole(frame, 0, frame.size());
            size_t used = 0;
            ASSERT_EQ(d.Decode(whole.bytes.data(), frame.size(), &used),
                      FlacFrameDecoder::Result::Frame);
            EXPECT_EQ(std::vector<int32_t>(d.Channel(0), d.Channel(0) + n), samples);
            for (const size_t at : {first, first + n / 2, first + n - 1}) {
                Padded damaged(frame, 0, frame.size());
                damaged.bytes[at] ^= static_cast<uint8_t>(1u << (at % 8));
                EXPECT_EQ(d.Decode(damaged.bytes.data(), frame.size(), &used),
                          FlacFrameDecoder::Result::Refused)
                    << "bit flipped in byte " << at;
            }
        }
    }
    UseProcessorInstructions(true);
}

// A frame cut anywhere asks for more bytes, whatever the padding holds; whole, it is a frame
// of exactly its length even with the next frame after it.
TEST(FlacFrames, CutFramesNeedMore) {
    static const Sample s;
    FlacFrameDecoder d(InfoOf(s.enc));
    for (size_t n = 0; n < s.length; n += (n < 20 || n + 20 > s.length) ? 1 : 37) {
        for (const uint8_t fill : {0x00, 0xFF, 0x5A}) {
            Bytes cut(s.flac.begin() + static_cast<ptrdiff_t>(s.at),
                      s.flac.begin() + static_cast<ptrdiff_t>(s.at + n));
            cut.resize(n + FlacFrameDecoder::kPadding, fill);
            size_t used = 99;
            ASSERT_EQ(d.Decode(cut.data(), n, &used), FlacFrameDecoder::Result::NeedMore)
                << n << " bytes, padding " << int{fill};
            EXPECT_EQ(used, 0u);
        }
    }
    const Padded whole(s.flac, s.at, s.flac.size() - s.at);
    size_t used = 0;
    EXPECT_EQ(d.Decode(whole.bytes.data(), s.flac.size() - s.at, &used),
              FlacFrameDecoder::Result::Frame);
    EXPECT_EQ(used, s.length);
    EXPECT_EQ(d.FirstSample(), 1152);
    EXPECT_EQ(d.BlockSize(), 1152);
}

// Streams it does not take refuse every frame.
TEST(FlacFrames, StreamsNotTaken) {
    static const Sample s;
    const Padded whole(s.flac, s.at, s.length);
    for (const FlacStreamInfo& info :
         {FlacStreamInfo{1152, 1152, 576000, 2, 32}, FlacStreamInfo{1152, 1152, 576000, 2, 3},
          FlacStreamInfo{1152, 1152, 576000, 9, 16}, FlacStreamInfo{0, 1152, 576000, 2, 16},
          FlacStreamInfo{1152, 1000, 576000, 2, 16}, FlacStreamInfo{1152, 65536, 576000, 2, 16}}) {
        FlacFrameDecoder d(info);
        EXPECT_FALSE(d.Takes());
        size_t used = 0;
        EXPECT_EQ(d.Decode(whole.bytes.data(), s.length, &used), FlacFrameDecoder::Result::Refused);
    }
    // Frame numbers stand for sample numbers only when every block is as long.
    FlacFrameDecoder d({192, 1152, 576000, 2, 16});
    size_t used = 0;
    EXPECT_EQ(d.Decode(whole.bytes.data(), s.length, &used), FlacFrameDecoder::Result::Refused);
}

// After a frame shorter than the stream's blocks (normally the last), a frame number no longer
// tells its first sample for certain: later numbered frames are refused, the first still taken.
TEST(FlacFrames, FrameNumbersAfterAShortFrame) {
    const Encoding enc{16, 1, 192, 5};
    const Bytes flac = Encode(enc, MakeSamples(Signal::Noise, 16, 1, 192 * 2 + 50, 0.1, 1));
    const Padded all(flac, 0, flac.size());
    std::vector<size_t> starts = {FirstFrame(flac)};
    FlacFrameDecoder d(InfoOf(enc));
    size_t used = 0;
    while (d.Decode(all.bytes.data() + starts.back(), flac.size() - starts.back(), &used) ==
           FlacFrameDecoder::Result::Frame)
        starts.push_back(starts.back() + used);
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_EQ(d.FirstSample(), 384);
    EXPECT_EQ(d.BlockSize(), 50);
    EXPECT_EQ(d.Decode(all.bytes.data() + starts[1], flac.size() - starts[1], &used),
              FlacFrameDecoder::Result::Refused);
    EXPECT_EQ(d.Decode(all.bytes.data() + starts[0], flac.size() - starts[0], &used),
              FlacFrameDecoder::Result::Frame);
}

// A stream keeps the blocking strategy of its first frame: a frame of the other is refused.
TEST(FlacFrames, OneBlockingStrategy) {
    static const Sample s;
    Bytes frame(s.flac.begin() + static_cast<ptrdiff_t>(s.at),
                s.flac.begin() + static_cast<ptrdiff_t>(s.at + s.length));
    frame[1] |= 1;  // variable: the number 1 is now a sample number
    const size_t h = HeaderLength(frame.data());
    frame[h - 1] = HeaderCrc(frame.data(), h - 1);
    const uint16_t crc = FrameCrc(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc);
    const Padded variable(frame, 0, frame.size());
    const Padded fixed(s.flac, FirstFrame(s.flac), s.flac.size() - FirstFrame(s.flac));
    size_t used = 0;
    FlacFrameDecoder fresh(InfoOf(s.enc));
    ASSERT_EQ(fresh.Decode(variable.bytes.data(), frame.size(), &used),
              FlacFrameDecoder::Result::Frame);
    EXPECT_EQ(fresh.FirstSample(), 1);
    EXPECT_EQ(fresh.Decode(fixed.bytes.data(), s.flac.size() - FirstFrame(s.flac), &used),
              FlacFrameDecoder::Result::Refused);
    FlacFrameDecoder d(InfoOf(s.enc));
    ASSERT_EQ(d.Decode(fixed.bytes.data(), s.flac.size() - FirstFrame(s.flac), &used),
              FlacFrameDecoder::Result::Frame);
    EXPECT_EQ(d.Decode(variable.bytes.data(), frame.size(), &used),
              FlacFrameDecoder::Result::Refused);
}

}  // namespace
}  // namespace wtk
