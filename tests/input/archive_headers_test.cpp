// The readers of archive forms: samples of other formats as 16-bit ones, the harp chunk's raw
// files, a FLAC stream's STREAMINFO and kept RIFF chunks, the layout of each recording, and a
// FLAC source read in pieces and from anywhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "input/flac_frames.h"
#include "input/flac_header.h"
#include "input/harp_chunk.h"
#include "input/recording_layout.h"
#include "input/recording_source.h"
#include "input/recording_start.h"
#include "input/sample_conversion.h"
#include "riff_bytes.h"
#include "synth/archive_formats.h"
#include "synth/synth.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::Bytes;
using test::Put16;
using test::Put32;

int16_t Converted(const Bytes& frame, SampleCoding coding, uint8_t bytes, uint16_t channels = 1,
                  int channel = 0) {
    SampleFormat f;
    f.Coding = coding;
    f.Bytes = bytes;
    f.Bits = static_cast<uint8_t>(8 * bytes);
    f.Channels = channels;
    uint8_t out[2];
    ConvertFrames(frame.data(), 1, f, channel, out);
    return static_cast<int16_t>(out[0] | (out[1] << 8));
}

Bytes FloatBytes(float v) {
    Bytes b;
    Put32(b, std::bit_cast<uint32_t>(v));
    return b;
}

TEST(SampleConversion, EachFormatBecomesWhatA16BitRecorderWouldHaveWritten) {
    // Integers keep their top 16 bits: an arithmetic shift, so negative values round down.
    EXPECT_EQ(Converted({0x00, 0x34, 0x12}, SampleCoding::Int, 3), 0x1234);
    EXPECT_EQ(Converted({0xFF, 0xFF, 0xFF}, SampleCoding::Int, 3), -1);
    EXPECT_EQ(Converted({0xFF, 0x00, 0x80}, SampleCoding::Int, 3), -32768);
    EXPECT_EQ(Converted({0xAA, 0xBB, 0xFF, 0x7F}, SampleCoding::Int, 4), 32767);
    // 8-bit unsigned: (x - 128) x 256.
    EXPECT_EQ(Converted({0x00}, SampleCoding::UnsignedInt8, 1), -32768);
    EXPECT_EQ(Converted({0x80}, SampleCoding::UnsignedInt8, 1), 0);
    EXPECT_EQ(Converted({0xFF}, SampleCoding::UnsignedInt8, 1), 127 * 256);
    // Floats x 32768, rounded half to even and clipped; NaN is silence.
    const struct {
        float v;
        int16_t k;
    } floats[] = {{0.5f, 16384},
                  {-1.0f, -32768},
                  {1.0f, 32767},
                  {2.5f / 32768, 2},
                  {3.5f / 32768, 4},
                  {-2.5f / 32768, -2},
                  {-7.0f, -32768},
                  {std::numeric_limits<float>::infinity(), 32767},
                  {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const auto& c : floats) {
        EXPECT_EQ(Converted(FloatBytes(c.v), SampleCoding::Float, 4), c.k) << c.v;
    }
    Bytes d;
    Put32(d, 0);
    Put32(d, std::bit_cast<uint64_t>(-0.25) >> 32);
    EXPECT_EQ(Converted(d, SampleCoding::Float, 8), -8192);
    // The chosen channel of a frame.
    EXPECT_EQ(Converted({1, 0, 2, 0, 3, 0}, SampleCoding::Int, 2, 3, 2), 3);
    // Decoded FLAC values of fewer or more bits.
    EXPECT_EQ(IntTo16(-3, 12), -48);
    EXPECT_EQ(IntTo16(0x123456, 24), 0x1234);
    EXPECT_EQ(IntTo16(-1, 20), -1);
}

TEST(SampleConversion, DecodedBlocksBecomeTheSamplesOfEachValue) {
    // Every value of a decoded block as IntTo16 gives it, also values outside their bits' range
    // (the low 16 bits after the shift), in blocks with and without a tail of fewer than eight.
    std::vector<int32_t> in = {0,      1,       -1,       32767,      -32768,    65535,
                               -65536, 0x12345, -0x12345, 0x7FFFFFFF, INT32_MIN, 12,
                               -7,     0x800,   0x7FFFFF, -0x800000,  0x1234567, 3};
    for (int bits : {4, 8, 12, 15, 16, 17, 20, 24, 31, 32}) {
        for (size_t n : {size_t{0}, size_t{5}, size_t{8}, in.size()}) {
            std::vector<uint8_t> out(2 * n + 2, 0xEE);
            IntsTo16(in.data(), static_cast<int64_t>(n), bits, out.data());
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8)),
                          IntTo16(in[i], bits))
                    << "bits " << bits << " value " << in[i];
            }
            EXPECT_EQ(out[2 * n], 0xEE) << "wrote past the block";
        }
    }
}

// Runs of frames of every integer layout (the steps with a copy of their own and others), each
// channel, give each sample's top two bytes, and nothing past the run.
TEST(SampleConversion, RunsOfFramesBecomeTheTopTwoBytesOfTheirSamples) {
    std::mt19937 rng(21);
    for (uint8_t bytes : {1, 2, 3, 4}) {
        const SampleCoding coding = bytes == 1 ? SampleCoding::UnsignedInt8 : SampleCoding::Int;
        for (uint16_t channels : {1, 2, 3, 4}) {
            SampleFormat f;
            f.Coding = coding;
            f.Bytes = bytes;
            f.Bits = static_cast<uint8_t>(8 * bytes);
            f.Channels = channels;
            const size_t step = size_t{bytes} * channels;
            for (int channel = 0; channel < channels; ++channel) {
                for (size_t n : {size_t{1}, size_t{7}, size_t{8}, size_t{37}}) {
                    Bytes frames(n * step);
                    for (uint8_t& b : frames) b = static_cast<uint8_t>(rng());
                    Bytes out(2 * n + 2, 0xEE);
                    ConvertFrames(frames.data(), static_cast<int64_t>(n), f, channel, out.data());
                    for (size_t i = 0; i < n; ++i) {
                        // The sample's top two bytes (an 8-bit one's offset byte, as the top).
                        const uint8_t* sample = frames.data() + i * step + size_t{bytes} * channel;
                        const int want = bytes == 1
                                             ? static_cast<int16_t>((sample[0] ^ 0x80) << 8)
                                             : static_cast<int16_t>(sample[bytes - 2] |
                                                                    (sample[bytes - 1] << 8));
                        ASSERT_EQ(static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8)), want)
                            << int{bytes} << " bytes, " << channels << " channels, channel "
                            << channel << ", frame " << i << " of " << n;
                    }
                    EXPECT_EQ(out[2 * n], 0xEE) << "wrote past the run";
                }
            }
        }
    }
}

// Runs of single-precision samples (eight at a time where the processor can), of one channel or
// one of several, give FloatTo16 of each value, at every place in the run: halves of a count,
// both ends of the range and past them, infinities, NaNs and subnormal values.
TEST(SampleConversion, RunsOfFloatsBecomeTheSamplesOfEachValue) {
    const float q = 1.0f / 32768.0f;
    const std::vector<float> special = {0.0f,
                                        -0.0f,
                                        0.5f * q,
                                        1.5f * q,
                                        2.5f * q,
                                        -0.5f * q,
                                        -1.5f * q,
                                        -2.5f * q,
                                        32766.5f * q,
                                        32767.5f * q,
                                        32767.49f * q,
                                        -32767.5f * q,
                                        -32768.5f * q,
                                        1.0f,
                                        -1.0f,
                                        2.0f,
                                        -2.0f,
                                        0.999f,
                                        -0.12345f,
                                        0.0731f,
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(),
                                        std::numeric_limits<float>::quiet_NaN(),
                                        -std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::denorm_min(),
                                        std::numeric_limits<float>::max(),
                                        std::numeric_limits<float>::lowest(),
                                        1e-30f};
    SampleFormat f;
    f.Coding = SampleCoding::Float;
    f.Bytes = 4;
    f.Bits = 32;
    for (size_t shift = 0; shift < 8; ++shift) {
        std::vector<float> v(special.begin() + static_cast<long>(shift), special.end());
        v.insert(v.end(), special.begin(), special.begin() + static_cast<long>(shift));
        // One channel; or the second of three, the others holding other values.
        const uint16_t channels = shift % 2 == 0 ? 1 : 3;
        const int channel = channels == 1 ? 0 : 1;
        f.Channels = channels;
        Bytes frames;
        for (float x : v) {
            for (int c = 0; c < channels; ++c) {
                Put32(frames, std::bit_cast<uint32_t>(c == channel ? x : -x * 0.5f));
            }
        }
        for (size_t n : {size_t{3}, size_t{8}, size_t{9}, v.size()}) {
            Bytes out(2 * n + 2, 0xEE);
            ConvertFrames(frames.data(), static_cast<int64_t>(n), f, channel, out.data());
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8)), FloatTo16(v[i]))
                    << "value " << v[i] << " at " << i << " of " << n;
            }
            EXPECT_EQ(out[2 * n], 0xEE) << "wrote past the run";
        }
    }
    EXPECT_EQ(FloatTo16(32767.5f * q), 32767);
    EXPECT_EQ(FloatTo16(2.5f * q), 2);
    EXPECT_EQ(FloatTo16(std::numeric_limits<float>::quiet_NaN()), 0);
}

// A harp chunk body: the count at byte 36, then 32 bytes per raw file.
Bytes Harp(const std::vector<std::vector<uint32_t>>& raws, uint16_t count) {
    Bytes b(56, 0);
    b[36] = static_cast<uint8_t>(count);
    b[37] = static_cast<uint8_t>(count >> 8);
    for (const auto& r : raws) {  // {year - 2000, month, day, h, m, s, ms, offset, length}
        for (int i = 0; i < 6; ++i) b.push_back(static_cast<uint8_t>(r[i]));
        Put16(b, r[6]);
        Put32(b, r[7]);
        Put32(b, r[8]);
        b.resize(b.size() + 16, 0);
    }
    return b;
}

TEST(HarpChunk, RawFilesAreTakenOnlyFromAWholeSoundChunk) {
    const std::vector<uint32_t> first = {23, 5, 17, 14, 0, 0, 250, 100, 4000};
    const std::vector<uint32_t> second = {23, 5, 17, 14, 10, 0, 0, 4100, 4000};
    const auto ok = ParseHarpChunk(Harp({first, second}, 2), 100, 8100);
    ASSERT_TRUE(std::holds_alternative<std::vector<RawFile>>(ok));
    const auto& raws = std::get<std::vector<RawFile>>(ok);
    ASSERT_EQ(raws.size(), 2u);
    EXPECT_EQ(raws[1].Number, 2);
    EXPECT_EQ(raws[1].Count, 2);
    EXPECT_EQ(raws[1].StartUs - raws[0].StartUs, 600'000'000 - 250'000);
    EXPECT_EQ(raws[1].FirstStartUs, raws[0].StartUs);
    EXPECT_EQ(raws[1].ByteOffset, 4100);
    EXPECT_EQ(RawFileName("/a/x.wav", raws[1]), "/a/x.wav#2");
    EXPECT_EQ(RawFileName("/a/x.wav", RawFile{}), "/a/x.wav");

    auto with = [&](std::vector<uint32_t> r, size_t field, uint32_t v) {
        r[field] = v;
        return r;
    };
    const struct {
        Bytes body;
        const char* why;
    } bad[] = {
        {Bytes(55, 0), "its harp chunk is too short (55 bytes)"},
        {Harp({}, 0), "its harp chunk lists no raw files"},
        {Harp({first, second}, 3), "its harp chunk lists 3 raw files but holds 2"},
        {Harp({with(first, 1, 13), second}, 2),
         "raw file 1 of its harp chunk has no valid start time"},
        {Harp({first, with(second, 6, 1000)}, 2),
         "raw file 2 of its harp chunk has no valid start time"},
        {Harp({with(first, 7, 102), second}, 2),
         "raw file 1 of its harp chunk does not begin where the samples do"},
        {Harp({first, with(second, 7, 4098)}, 2),
         "raw file 2 of its harp chunk begins inside the one before it"},
        {Harp({first, with(second, 8, 4001)}, 2),
         "raw file 2 of its harp chunk runs past the samples"},
        {Harp({first, with(second, 8, 0xFFFFFFFFu)}, 2),
         "raw file 2 of its harp chunk runs past the samples"},
    };
    for (const auto& c : bad) {
        const auto got = ParseHarpChunk(c.body, 100, 8100);
        ASSERT_TRUE(std::holds_alternative<std::string>(got)) << c.why;
        EXPECT_EQ(std::get<std::string>(got), c.why);
    }
}

std::string WriteRecording(const test::TempDir& dir, const std::string& name,
                           const synth::RecordingSpec& spec, synth::StoreFormat format = {}) {
    const std::string path = dir / name;
    synth::WriteWav(path, spec, {}, {}, format);
    return path;
}

// Reads bytes held in memory as a file of their size is read.
ReadAtFunction ReaderOf(const Bytes& b) {
    return [&b](int64_t at, uint8_t* buf, size_t n) {
        const size_t k = at < static_cast<int64_t>(b.size())
                             ? std::min(n, b.size() - static_cast<size_t>(at))
                             : 0;
        std::copy_n(b.begin() + at, k, buf);
        return k;
    };
}

WavHeader HeaderOf(const std::string& path) {
    const Bytes b = test::ReadFileBytes(path);
    return ReadWavHeader(b);
}

TEST(FlacHeader, StreamInfoAndTheKeptChunksPlaceTheSamplesAsInTheWavFile) {
    test::TempDir dir;
    synth::RecordingSpec spec;
    spec.SampleRate = 96000;
    spec.Seconds = 0.5;
    const std::string wav = WriteRecording(dir, "a.wav", spec, {synth::SampleStore::Pcm24, 2, 1});
    const std::string kept = dir / "kept.flac", plain = dir / "plain.flac";
    synth::WavToFlac(wav, kept, true);
    synth::WavToFlac(wav, plain, false);
    for (const std::string& path : {kept, plain}) {
        SCOPED_TRACE(path);
        const WavHeader h = HeaderOf(path);
        EXPECT_TRUE(h.Flac);
        EXPECT_EQ(h.SampleRate, 96000u);
        EXPECT_EQ(h.Channels, 2);
        EXPECT_EQ(h.BitsPerSample, 24);
        EXPECT_EQ(h.BlockAlign, 6);
        EXPECT_EQ(h.FlacSamples, 48000);
        EXPECT_EQ(DescribeWavHeader(h), "FLAC, 24 bits, 2 channels, 96000 samples/s");
        EXPECT_EQ(ClassifyWav(h), WavFit::Unfit);
        EXPECT_EQ(ClassifyRecording(h, {}), FormatFit::NeedsChoice);
        EXPECT_EQ(ClassifyRecording(h, {true, 2}), FormatFit::Fit);
        EXPECT_EQ(ClassifyRecording(h, {true, 3}), FormatFit::FewerChannels);
        EXPECT_EQ(h.DataOffset, 44);  // where the WAV file had them, or a plain header would
        const RecordingLayout L = LayoutOf(h, RawFile{}, {true, 2});
        EXPECT_EQ(L.Read, RecordingLayout::Reading::Flac);
        EXPECT_EQ(L.Channel, 1);
        EXPECT_EQ(L.Begin, 28);  // the samples that would fill bytes 44 ... 99 of a 16-bit file
        EXPECT_EQ(L.End, 48000);
        EXPECT_EQ(L.Samples(), 48000 - 28);
    }
    EXPECT_TRUE(HeaderOf(kept).DataFound);
    EXPECT_FALSE(HeaderOf(plain).DataFound);
    // Up to eight channels.
    const std::string six = WriteRecording(dir, "six.wav", spec, {synth::SampleStore::Pcm16, 6, 1});
    synth::WavToFlac(six, dir / "six.flac", false);
    EXPECT_EQ(DescribeWavHeader(HeaderOf(dir / "six.flac")),
              "FLAC, 16 bits, 6 channels, 96000 samples/s");
    EXPECT_EQ(HeaderOf(dir / "six.flac").BlockAlign, 12);

    // An ID3v2 tag before the stream is stepped over, with its footer where it has one; a
    // stream cut inside STREAMINFO, and "fLaC" with no blocks, are FLAC streams without a
    // format.
    const Bytes stream = test::ReadFileBytes(plain);
    for (const uint8_t flags : {0x00, 0x10}) {
        Bytes tagged = {'I', 'D', '3', 4, 0, flags, 0, 0, 0, 20};
        tagged.resize(flags != 0 ? 40 : 30, 0);
        tagged.insert(tagged.end(), stream.begin(), stream.end());
        EXPECT_EQ(ReadWavHeader(tagged).SampleRate, 96000u) << int{flags};
    }
    for (const size_t cut : {size_t{4}, size_t{20}, size_t{41}}) {
        const WavHeader h = ReadWavHeader(std::span(stream).first(cut));
        EXPECT_TRUE(h.Flac) << cut;
        EXPECT_FALSE(h.FmtFound) << cut;
        EXPECT_EQ(ClassifyRecording(h, {true, 1}), FormatFit::Unfit) << cut;
    }
}

// An XWAV file of raw files of 1 s at 20 k samples/s, starting the given seconds after
// 2023-05-17 00:00, as DIR/x.wav and as a stream that keeps its chunks, DIR/x.flac.
synth::XwavResult WriteXwavAndFlac(const test::TempDir& dir, const std::vector<int64_t>& seconds) {
    synth::RecordingSpec spec;
    spec.SampleRate = 20000;
    spec.Seconds = 1;
    std::vector<synth::RawFileSpec> raws;
    for (const int64_t s : seconds) raws.push_back({spec, (int64_t{45063} * 86400 + s) * 1000000});
    const synth::XwavResult written = synth::WriteXwav(dir / "x.wav", raws);
    synth::WavToFlac(dir / "x.wav", dir / "x.flac", true);
    return written;
}

TEST(FlacHeader, TheHarpChunkOfAnXwavKeptInAStreamGivesItsRawFiles) {
    test::TempDir dir;
    const std::string xwav = dir / "x.wav", flac = dir / "x.flac";
    const synth::XwavResult written = WriteXwavAndFlac(dir, {0, 75, 150});
    for (const std::string& path : {xwav, flac}) {
        SCOPED_TRACE(path);
        const Bytes b = test::ReadFileBytes(path);
        const WavHeader h = ReadWavHeader(b);
        EXPECT_EQ(h.DataOffset, written.DataOffset);
        const auto raws = ReadRawFiles(ReaderOf(b), h);
        ASSERT_TRUE(std::holds_alternative<std::vector<RawFile>>(raws));
        const auto& r = std::get<std::vector<RawFile>>(raws);
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(r[2].StartUs - r[0].StartUs, 150'000'000);
        EXPECT_EQ(r[2].FirstStartUs, r[0].StartUs);
        // Each raw file's samples: the WAV file's bytes, the stream's samples.
        ASSERT_GT(written.DataOffset, 100);
        for (int i = 0; i < 3; ++i) {
            const RecordingLayout L = LayoutOf(h, r[static_cast<size_t>(i)], {});
            EXPECT_EQ(L.Samples(), 20000) << i;
            const int64_t first = path == xwav ? (L.Begin - written.DataOffset) / 2 : L.Begin;
            EXPECT_EQ(first, 20000 * i) << i;
        }
    }
}

// A harp chunk whose size says it runs past its block was cut short: the file is one
// recording, however much of the chunk the next blocks would seem to hold.
TEST(FlacHeader, AHarpChunkCutShortInItsBlockGivesNoRawFiles) {
    test::TempDir dir;
    WriteXwavAndFlac(dir, {0, 75});
    Bytes b = test::ReadFileBytes(dir / "x.flac");
    const std::string id = "riffharp";
    const auto at = std::search(b.begin(), b.end(), id.begin(), id.end());
    ASSERT_NE(at, b.end());
    const size_t size = static_cast<size_t>(at - b.begin()) + id.size();
    b[size] = static_cast<uint8_t>(b[size] + 64);
    const WavHeader h = ReadWavHeader(b);
    EXPECT_TRUE(h.DataFound);
    EXPECT_FALSE(h.HarpFound);
    const auto raws = ReadRawFiles(ReaderOf(b), h);
    ASSERT_TRUE(std::holds_alternative<std::vector<RawFile>>(raws));
    EXPECT_TRUE(std::get<std::vector<RawFile>>(raws).empty());
}

// The raw files of an XWAV file of two channels or of 24 bits kept in a stream: their byte
// offsets are those of the WAV file, whose frames are wider than 16-bit mono ones.
TEST(FlacHeader, RawFilesOfWideFramesInAStream) {
    test::TempDir dir;
    const struct { uint16_t channels, bits; } forms[] = {{2, 16}, {1, 24}};
    for (const auto& form : forms) {
        SCOPED_TRACE(std::to_string(form.channels) + " channels, " + std::to_string(form.bits));
        const uint32_t frame = form.channels * form.bits / 8u;
        const uint32_t half = 1000 * frame;  // each raw file 1000 frames
        const uint32_t dataBegin = 12 + 24 + 8 + 56 + 2 * 32 + 8;
        Bytes samples(2 * half);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
        const Bytes wav =
            test::Riff({{"fmt ", test::Fmt(1, form.channels, 20000, form.bits)},
                        {"harp", Harp({{23, 5, 17, 14, 0, 0, 0, dataBegin, half},
                                       {23, 5, 17, 14, 10, 0, 0, dataBegin + half, half}},
                                      2)},
                        {"data", samples}});
        const std::string path = dir / "w.wav", flac = dir / "w.flac";
        test::WriteFileBytes(path, wav);
        ASSERT_EQ(HeaderOf(path).DataOffset, dataBegin);
        synth::WavToFlac(path, flac, true);
        const Bytes b = test::ReadFileBytes(flac);
        const WavHeader h = ReadWavHeader(b);
        ASSERT_TRUE(h.Flac && h.HarpFound);
        const auto raws = ReadRawFiles(ReaderOf(b), h);
        ASSERT_TRUE(std::holds_alternative<std::vector<RawFile>>(raws))
            << std::get<std::string>(raws);
        EXPECT_EQ(std::get<std::vector<RawFile>>(raws).size(), 2u);
    }
}

TEST(FlacHeader, TheKeptChunksGiveTheRecordersStartTime) {
    test::TempDir dir;
    synth::RecordingSpec spec;
    spec.SampleRate = 48000;
    spec.Seconds = 0.2;
    const std::string guano = "GUANO|Version: 1.0\nTimestamp: 2021-06-10T03:36:55.250Z\n";
    synth::MetadataChunk guan{{'g', 'u', 'a', 'n'}, Bytes(guano.begin(), guano.end())};
    const std::string wav = dir / "a.wav", kept = dir / "kept.flac", plain = dir / "plain.flac";
    synth::WriteWav(wav, spec, {synth::MetadataChunk{{'J', 'U', 'N', 'K'}, Bytes(77, 0)}}, {guan});
    synth::WavToFlac(wav, kept, true);
    synth::WavToFlac(wav, plain, false);
    const auto fromWav = ReadWavStart(test::ReadFileBytes(wav));
    const auto fromFlac = ReadWavStart(test::ReadFileBytes(kept));
    ASSERT_TRUE(fromWav && fromFlac);
    EXPECT_EQ(fromFlac->Microseconds, fromWav->Microseconds);
    EXPECT_EQ(fromFlac->Source, TimeSource::Guan);
    EXPECT_FALSE(ReadWavStart(test::ReadFileBytes(plain)));
    // The samples begin where the WAV file's did, after its JUNK chunk.
    EXPECT_EQ(HeaderOf(kept).DataOffset, HeaderOf(wav).DataOffset);
    EXPECT_EQ(HeaderOf(kept).DataOffset, 12 + 24 + 8 + 78 + 8);  // JUNK padded to 78 bytes
}

// All samples of a source read n at a time.
std::vector<uint8_t> ReadAll(RecordingSource& s, int64_t n) {
    std::vector<uint8_t> all, buf(static_cast<size_t>(2 * n));
    while (!s.AtEnd()) {
        const int64_t got = s.Read(buf.data(), n);
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * got);
        if (got == 0) break;
    }
    return all;
}

TEST(RecordingSourceTest, AFlacStreamGivesTheWavFilesSamplesInAnyPiecesAndAfterASeek) {
    test::TempDir dir;
    synth::RecordingSpec spec;
    spec.SampleRate = 48000;
    spec.Seconds = 1.3;
    spec.NoiseRms = 300;
    const std::string wav = WriteRecording(dir, "a.wav", spec);
    const std::string flac = dir / "a.flac";
    synth::WavToFlac(wav, flac, false);
    const Bytes wavBytes = test::ReadFileBytes(wav);
    const std::vector<uint8_t> expected(wavBytes.begin() + 100, wavBytes.end());
    const int fd = ::open(flac.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const WavHeader h = HeaderOf(flac);
    const RecordingLayout layout = LayoutOf(h, RawFile{}, {});
    for (const int64_t piece : {1, 37, 4096, 100000}) {
        const auto source = OpenRecordingSource(fd, h.FileSize, layout);
        EXPECT_TRUE(ReadAll(*source, piece) == expected) << piece;
        EXPECT_EQ(source->Failure(), nullptr);
    }
    // Back to where a block began, far behind the frame last decoded.
    const auto source = OpenRecordingSource(fd, h.FileSize, layout);
    std::vector<uint8_t> head(2 * 30000);
    ASSERT_EQ(source->Read(head.data(), 10000), 10000);
    const int64_t place = source->Tell();
    ASSERT_EQ(source->Read(head.data(), 30000), 30000);
    source->Seek(place);
    const std::vector<uint8_t> rest = ReadAll(*source, 5000);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), expected.begin() + 20000, expected.end()));
    EXPECT_EQ(rest.size(), expected.size() - 20000);
    ::close(fd);
}

// What a source gives read in pieces of n samples (once, with seekBack, going back that many
// samples after the first 30000 and reading on): the samples, where it stands, and why it ended.
struct SourceRun {
    std::vector<uint8_t> samples;
    int64_t tell = 0;
    bool atEnd = false;
    std::optional<ReadFailure> failure;
};
SourceRun RunSource(int fd, int64_t size, const RecordingLayout& layout, FlacDecoding decoding,
                    int64_t n, int64_t seekBack = 0) {
    const auto source = OpenRecordingSource(fd, size, layout, decoding);
    SourceRun run;
    if (seekBack > 0) {
        std::vector<uint8_t> head(2 * 30000);
        const int64_t got = source->Read(head.data(), 30000);
        run.samples.assign(head.begin(), head.begin() + 2 * got);
        source->Seek(source->Tell() - std::min(seekBack, got));
    }
    const std::vector<uint8_t> rest = ReadAll(*source, n);
    run.samples.insert(run.samples.end(), rest.begin(), rest.end());
    run.tell = source->Tell();
    run.atEnd = source->AtEnd();
    if (source->Failure() != nullptr) run.failure = *source->Failure();
    return run;
}

// Where the frames of a stream (plain "fLaC" and metadata blocks, as the encoder writes them)
// begin, found by the converter's frame decoder, and the end of the last one.
std::vector<size_t> FrameEdges(const Bytes& b) {
    size_t at = 4;
    bool last = false;
    while (!last) {
        last = (b[at] & 0x80) != 0;
        at += 4 + ((size_t{b[at + 1]} << 16) | (size_t{b[at + 2]} << 8) | b[at + 3]);
    }
    FlacStreamInfo info;
    info.MinBlockSize = (uint32_t{b[8]} << 8) | b[9];
    info.MaxBlockSize = (uint32_t{b[10]} << 8) | b[11];
    info.SampleRate = (uint32_t{b[18]} << 12) | (uint32_t{b[19]} << 4) | (b[20] >> 4);
    info.Channels = ((b[20] >> 1) & 7) + 1u;
    info.BitsPerSample = (((b[20] & 1u) << 4) | (b[21] >> 4)) + 1u;
    FlacFrameDecoder frames(info);
    Bytes padded = b;
    padded.resize(b.size() + FlacFrameDecoder::kPadding);
    std::vector<size_t> edges = {at};
    size_t used = 0;
    while (at < b.size() && frames.Decode(padded.data() + at, b.size() - at, &used) ==
                                FlacFrameDecoder::Result::Frame) {
        at += used;
        edges.push_back(at);
    }
    return edges;
}

// The converter's own frame decoder gives libFLAC's samples and failures for every stream, sound
// or damaged, in any pieces and after seeks; and sound streams of the forms recorders write it
// decodes throughout, without libFLAC.
TEST(RecordingSourceTest, TheFrameDecoderGivesWhatLibFlacGivesForEveryStream) {
    test::TempDir dir;
    synth::RecordingSpec spec;
    spec.SampleRate = 96000;
    spec.Seconds = 1.5;
    spec.NoiseRms = 40;
    synth::ClickTrain t;
    t.StartSec = 0.1;
    t.Clicks = 40;
    t.IciStartSec = 0.02;
    t.IciEndSec = 0.03;
    t.FrequencyHz = 30000;
    t.PeakAmplitude = 20000;
    spec.Trains = {t};
    struct Stream {
        std::string what;
        Bytes bytes;
        int32_t channel = 0;  // chosen, from 1
        bool sound = true;    // the frame decoder decodes it throughout
    };
    std::vector<Stream> streams;
    const auto flacOf = [&](const std::string& name, synth::StoreFormat form, int level) {
        const std::string wav = WriteRecording(dir, name + ".wav", spec, form);
        const std::string flac = dir / (name + ".flac");
        synth::WavToFlac(wav, flac, false, level);
        return test::ReadFileBytes(flac);
    };
    for (const int level : {0, 5, 8}) {
        streams.push_back({"16-bit mono, level " + std::to_string(level),
                           flacOf("m" + std::to_string(level), {}, level)});
    }
    streams.push_back({"24-bit", flacOf("p24", {synth::SampleStore::Pcm24}, 5)});
    streams.push_back({"8-bit", flacOf("p8", {synth::SampleStore::Pcm8}, 5)});
    streams.push_back(
        {"stereo, the second channel", flacOf("st", {synth::SampleStore::Pcm16, 2, 2}, 5), 2});
    // Porpoise clicks recorded at sea (the corpus's real recordings, where the checkout has
    // them beside it), at the highest level.
    for (const char* real :
         {"Detection_CalCURSeas_Dalls - Copy.OE2.400000003CH1_20140811_160018_977.wav",
          "Detection_CalCURSeas_Dalls_NoDecimation.OE1.389000004CH1_20140811_160018_979.wav"}) {
        if (!std::filesystem::is_directory(WTK_CORPUS_DIR)) break;
        const std::string flac = dir / "real.flac";
        synth::WavToFlac(std::string(WTK_CORPUS_DIR) + "/" + real, flac, false, 8);
        streams.push_back({std::string("recorded: ") + real, test::ReadFileBytes(flac)});
    }
    const Bytes sound = streams[1].bytes;
    const size_t mid = sound.size() / 2;
    Bytes garbage = sound;
    std::fill(garbage.begin() + static_cast<long>(mid),
              garbage.begin() + static_cast<long>(mid) + 4000, 0x5A);
    streams.push_back({"garbage over its middle", garbage, 0, false});
    Bytes early = sound;  // ends within the first 30000 samples, before the reading goes back
    std::fill(early.begin() + static_cast<long>(sound.size() / 10),
              early.begin() + static_cast<long>(sound.size() / 10) + 2000, 0x00);
    streams.push_back({"zeros over a tenth of the way in", early, 0, false});
    Bytes flipped = sound;
    flipped[mid] ^= 0x10;
    streams.push_back({"one bit flipped in its middle", flipped, 0, false});
    streams.push_back(
        {"cut at 30 %",
         Bytes(sound.begin(), sound.begin() + static_cast<long>(sound.size() * 3 / 10)), 0, false});
    // A sound frame left out: the next one is sound too, but not where the stream stands.
    const std::vector<size_t> edges = FrameEdges(sound);
    ASSERT_EQ(edges.back(), sound.size());
    ASSERT_GT(edges.size(), 8u);
    Bytes without = sound;
    without.erase(without.begin() + static_cast<long>(edges[5]),
                  without.begin() + static_cast<long>(edges[6]));
    streams.push_back({"its sixth frame left out", without, 0, false});
    // Two frames, a few damaged bytes, then the frames of another stream (8-bit, numbered from
    // 0 again): where libFLAC, asked to go back into the second frame, would find another one.
    const Bytes other = streams[4].bytes;
    const std::vector<size_t> otherEdges = FrameEdges(other);
    Bytes spliced(sound.begin(), sound.begin() + static_cast<long>(edges[2]));
    spliced.insert(spliced.end(), 50, 0x33);
    spliced.insert(spliced.end(), other.begin() + static_cast<long>(otherEdges[0]), other.end());
    streams.push_back({"two frames, then another stream's", spliced, 0, false});
    Bytes trailing = sound;
    trailing.insert(trailing.end(), 100, 0xA7);
    streams.push_back({"100 bytes after its last frame", trailing, 0, false});
    Bytes longer = sound;  // a STREAMINFO count past the stream's end
    longer[21] = static_cast<uint8_t>(longer[21] | 0x0F);
    for (int k = 0; k < 4; ++k) longer[22 + static_cast<size_t>(k)] = 0xFF;
    streams.push_back({"a count past its end", longer, 0, true});

    for (const Stream& st : streams) {
        SCOPED_TRACE(st.what);
        const std::string path = dir / "s.flac";
        test::WriteFileBytes(path, st.bytes);
        const WavHeader h = HeaderOf(path);
        ASSERT_TRUE(h.Flac);
        const RecordingLayout layout = LayoutOf(h, RawFile{}, {false, st.channel});
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const SourceRun reference =
            RunSource(fd, h.FileSize, layout, FlacDecoding::LibFlacOnly, 4096);
        EXPECT_FALSE(reference.samples.empty());
        for (const auto& [piece, back] : std::vector<std::pair<int64_t, int64_t>>{
                 {4096, 0}, {1007, 0}, {1000, 5000}, {3000, 25000}, {4096, 1}}) {
            SCOPED_TRACE(std::to_string(piece) + " at a time, back " + std::to_string(back));
            const SourceRun fast =
                RunSource(fd, h.FileSize, layout, FlacDecoding::Fast, piece, back);
            const SourceRun slow = back == 0 ? reference
                                             : RunSource(fd, h.FileSize, layout,
                                                         FlacDecoding::LibFlacOnly, piece, back);
            EXPECT_TRUE(fast.samples == slow.samples)
                << fast.samples.size() << " " << slow.samples.size();
            EXPECT_EQ(fast.tell, slow.tell);
            EXPECT_EQ(fast.atEnd, slow.atEnd);
            ASSERT_EQ(fast.failure.has_value(), slow.failure.has_value());
            if (fast.failure) {
                EXPECT_EQ(fast.failure->What, slow.failure->What);
                EXPECT_EQ(fast.failure->StreamSample, slow.failure->StreamSample);
                EXPECT_EQ(fast.failure->Errno, slow.failure->Errno);
            }
        }
        {
            // A file grown since it was opened (its size then, 3000 bytes ago).
            SCOPED_TRACE("grown");
            const SourceRun fast =
                RunSource(fd, h.FileSize - 3000, layout, FlacDecoding::Fast, 4096);
            const SourceRun slow =
                RunSource(fd, h.FileSize - 3000, layout, FlacDecoding::LibFlacOnly, 4096);
            EXPECT_TRUE(fast.samples == slow.samples)
                << fast.samples.size() << " " << slow.samples.size();
            EXPECT_EQ(fast.failure.has_value(), slow.failure.has_value());
            if (fast.failure && slow.failure) {
                EXPECT_EQ(fast.failure->What, slow.failure->What);
                EXPECT_EQ(fast.failure->StreamSample, slow.failure->StreamSample);
            }
        }
        if (st.sound) {
            const SourceRun own = RunSource(fd, h.FileSize, layout, FlacDecoding::FastOnly, 4096);
            EXPECT_TRUE(own.samples == reference.samples);
            EXPECT_EQ(own.failure.has_value(), reference.failure.has_value());
        }
        ::close(fd);
    }
}

TEST(RecordingSourceTest, FailuresNameTheFileAndTheTimeInIt) {
    ReadFailure f;
    f.Errno = EIO;
    EXPECT_EQ(ReadFailureText("a.wav", f), "Failed to read wav file a.wav: Input/output error");
    f.Stream = true;
    EXPECT_EQ(ReadFailureText("a.flac", f), "Failed to read FLAC file a.flac: Input/output error");
    f.What = "a frame header is damaged";
    f.StreamSample = 48070656;
    f.StreamRate = 576000;
    EXPECT_EQ(ReadFailureText("a.flac", f),
              "Failed to decode a.flac at 83.456 s (sample 48070656): a frame header is "
              "damaged; converted up to there");
}

}  // namespace
}  // namespace wtk
