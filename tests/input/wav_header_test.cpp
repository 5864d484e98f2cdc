#include "input/wav_header.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "input/recording_layout.h"
#include "riff_bytes.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::Bytes;
using test::Chunk;
using test::Fmt;
using test::Put16;
using test::Put32;
using test::Riff;

// The 40-byte extensible fmt chunk; guidTail false spoils the standard GUID.
Bytes FmtExtensible(uint16_t sub, uint16_t bits, bool guidTail = true) {
    Bytes b = Fmt(kWavFormatExtensible, 1, 576000, bits);
    Put16(b, 22);
    Put16(b, bits);
    Put32(b, 4);
    Put16(b, sub);
    const Bytes tail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, guidTail ? uint8_t{0x71} : uint8_t{0}};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

const Bytes kPcm = Fmt(kWavFormatPcm, 1, 576000, 16);
const Bytes kSamples(400, 0x11);
const Bytes kInfo(100, 'i');

struct Case {
    const char* what;
    Bytes file;
    WavFit fit;
    const char* description;
    int64_t begin, end;  // the bytes read as samples
    bool chunksAfterData = false;
    bool secondData = false;
};

// n empty chunks, then the data chunk.
std::vector<Chunk> ManyChunksBeforeData(int n) {
    std::vector<Chunk> chunks = {{"fmt ", kPcm}};
    for (int i = 0; i < n; ++i) chunks.push_back({"JUNK", {}});
    chunks.push_back({"data", kSamples});
    return chunks;
}

TEST(WavHeader, CraftedHeaders) {
    Bytes flac = {'f', 'L', 'a', 'C'};
    flac.resize(60, 0);
    const Bytes big(1000, 'b');  // its chunk reaches past the bytes read at once
    Bytes extensibleLong = FmtExtensible(kWavFormatPcm, 16);
    extensibleLong.resize(extensibleLong.size() + 6, 0);  // a longer extension is allowed
    const Case cases[] = {
        {"plain 44-byte header", Riff({{"fmt ", kPcm}, {"data", kSamples}}), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 444},
        {"LIST before data", Riff({{"fmt ", kPcm}, {"LIST", kInfo}, {"data", kSamples}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 152, 552},
        {"LIST after data", Riff({{"fmt ", kPcm}, {"data", kSamples}, {"LIST", kInfo}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 444, true},
        {"chunk beyond the first bytes", Riff({{"fmt ", kPcm}, {"bext", big}, {"data", kSamples}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 1052, 1452},
        {"odd chunk with its pad byte",
         Riff({{"fmt ", kPcm}, {"note", Bytes(5, 'n')}, {"data", kSamples}}), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 458},
        {"odd chunk with its pad byte, data past the skipped bytes and before a chunk",
         Riff({{"fmt ", kPcm}, {"note", Bytes(101, 'n')}, {"data", kSamples}, {"LIST", kInfo}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 154, 554, true},
        {"odd chunk without a pad byte",
         Riff({{"fmt ", kPcm}, {"note", Bytes(5, 'n'), {}, false}, {"data", kSamples}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 457},
        {"odd data chunk, then a chunk",
         Riff({{"fmt ", kPcm}, {"data", Bytes(301, 1)}, {"LIST", kInfo}}), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 345, true},
        {"data size 0: to the file's end", Riff({{"fmt ", kPcm}, {"data", kSamples, 0}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 444},
        {"data size 0xFFFFFFFF", Riff({{"fmt ", kPcm}, {"LIST", kInfo}, {"data", kSamples, ~0u}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 152, 552},
        {"data size past the file's end", Riff({{"fmt ", kPcm}, {"data", kSamples, 100000}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 444},
        {"data chunk inside the skipped bytes",
         Riff({{"fmt ", kPcm}, {"data", Bytes(20, 1)}, {"LIST", kInfo}}), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 100, true},
        {"RF64 container", Riff({{"fmt ", kPcm}, {"data", kSamples, ~0u}}, "RF64"), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 444},
        {"a second fmt chunk does not override the first",
         Riff({{"fmt ", kPcm}, {"fmt ", Fmt(kWavFormatFloat, 2, 44100, 32)}, {"data", kSamples}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 468},
        {"fmt after data", Riff({{"data", kSamples}, {"fmt ", kPcm}}), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 420, true},
        {"extensible PCM", Riff({{"fmt ", FmtExtensible(kWavFormatPcm, 16)}, {"data", kSamples}}),
         WavFit::Fit, "extensible PCM, 16 bits, 1 channel, 576000 samples/s", 100, 468},
        {"extensible PCM, longer extension", Riff({{"fmt ", extensibleLong}, {"data", kSamples}}),
         WavFit::Fit, "extensible PCM, 16 bits, 1 channel, 576000 samples/s", 100, 474},
        {"32-bit float", Riff({{"fmt ", Fmt(kWavFormatFloat, 1, 576000, 32)}, {"data", kSamples}}),
         WavFit::Unfit, "IEEE float, 32 bits, 1 channel, 576000 samples/s", 100, 444},
        {"24-bit PCM", Riff({{"fmt ", Fmt(kWavFormatPcm, 1, 576000, 24)}, {"data", kSamples}}),
         WavFit::Unfit, "PCM, 24 bits, 1 channel, 576000 samples/s", 100, 444},
        {"8-bit PCM", Riff({{"fmt ", Fmt(kWavFormatPcm, 1, 384000, 8)}, {"data", kSamples}}),
         WavFit::Unfit, "PCM, 8 bits, 1 channel, 384000 samples/s", 100, 444},
        {"stereo", Riff({{"fmt ", Fmt(kWavFormatPcm, 2, 576000, 16)}, {"data", kSamples}}),
         WavFit::Unfit, "PCM, 16 bits, 2 channels, 576000 samples/s", 100, 444},
        {"extensible float",
         Riff({{"fmt ", FmtExtensible(kWavFormatFloat, 32)}, {"data", kSamples}}), WavFit::Unfit,
         "extensible IEEE float, 32 bits, 1 channel, 576000 samples/s", 100, 468},
        {"extensible, strange GUID",
         Riff({{"fmt ", FmtExtensible(kWavFormatPcm, 16, false)}, {"data", kSamples}}),
         WavFit::Unfit, "extensible, unknown format, 16 bits, 1 channel, 576000 samples/s", 100,
         468},
        {"A-law", Riff({{"fmt ", Fmt(6, 1, 8000, 8)}, {"data", kSamples}}), WavFit::Unfit,
         "format 0x0006, 8 bits, 1 channel, 8000 samples/s", 100, 444},
        {"FLAC without a STREAMINFO", flac, WavFit::Unfit, "FLAC stream without a STREAMINFO",
         100, 100},
        {"raw samples named .wav", Bytes(600, 0), WavFit::Unfit,
         "not a RIFF/WAVE file (it starts with 00 00 00 00)", 100, 600},
        {"43 bytes of something else", Bytes(43, 'x'), WavFit::Unknown,
         "not a RIFF/WAVE file (it starts with \"xxxx\")", 100, 100},
        {"empty file", {}, WavFit::Unknown, "not a RIFF/WAVE file (it is empty)", 100, 100},
        {"RIFF of another form", [] {
             Bytes b = Riff({{"fmt ", kPcm}, {"data", kSamples}});
             b[8] = 'A';
             return b;
         }(),
         WavFit::Unfit, "not a RIFF/WAVE file (it starts with \"RIFF\")", 100, 444},
        {"fmt cut off by the file's end", Riff({{"fmt ", Bytes(10, 1), 16}}), WavFit::Unknown,
         "RIFF/WAVE file without a complete fmt chunk", 100, 100},
        {"fmt of 14 bytes", Riff({{"fmt ", Bytes(14, 1)}, {"data", kSamples}}), WavFit::Unknown,
         "RIFF/WAVE file without a complete fmt chunk", 100, 442},
        {"no fmt chunk", Riff({{"LIST", kInfo}, {"data", kSamples}}), WavFit::Unknown,
         "RIFF/WAVE file without a complete fmt chunk", 128, 528},
        {"a chunk size past the end hides data",
         Riff({{"fmt ", kPcm}, {"JUNK", kInfo, 0xFFFFFFF0u}, {"data", kSamples}}), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 552},
        {"a second data chunk after the samples",
         Riff({{"fmt ", kPcm}, {"data", kSamples}, {"LIST", kInfo}, {"data", kSamples}}),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 444, true, true},
        // The walk gives up after 1,024 chunks: samples it cannot find are not read as sound.
        {"1,000 chunks before the data", Riff(ManyChunksBeforeData(1000)), WavFit::Fit,
         "PCM, 16 bits, 1 channel, 576000 samples/s", 8044, 8444},
        {"1,100 chunks before the data", Riff(ManyChunksBeforeData(1100)), WavFit::Unfit,
         "RIFF/WAVE file with more than 1024 chunks before its data chunk", 100, 9244},
        {"data header cut off", [] {
             Bytes b = Riff({{"fmt ", kPcm}, {"LIST", kInfo}});
             b.insert(b.end(), {'d', 'a', 't', 'a', 1});
             return b;
         }(),
         WavFit::Fit, "PCM, 16 bits, 1 channel, 576000 samples/s", 100, 149},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const WavHeader h = ReadWavHeader(c.file);
        EXPECT_EQ(ClassifyWav(h), c.fit);
        EXPECT_EQ(DescribeWavHeader(h), c.description);
        const SampleByteRange r = SampleBytes(h);
        EXPECT_EQ(r.Begin, c.begin);
        EXPECT_EQ(r.End, c.end);
        EXPECT_EQ(h.ChunksAfterData, c.chunksAfterData);
        EXPECT_EQ(h.SecondDataChunk, c.secondData);
    }
    // Samples the walk cannot find are not converted, whatever the choices.
    EXPECT_EQ(ClassifyRecording(ReadWavHeader(Riff(ManyChunksBeforeData(1100))), {true, 1}),
              FormatFit::Unfit);
}

// Through a file descriptor: the same answers, and the file position does not move.
TEST(WavHeader, ReadFromAnOpenFile) {
    test::TempDir dir;
    const Bytes file = Riff({{"fmt ", kPcm}, {"bext", Bytes(700, 'b')}, {"data", kSamples}});
    test::WriteFileBytes(dir / "b.wav", file);
    const int fd = ::open((dir / "b.wav").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const WavHeader h = ReadWavHeaderOfFd(fd, static_cast<int64_t>(file.size()));
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);
    ::close(fd);
    EXPECT_EQ(h.SampleRate, 576000u);
    EXPECT_EQ(h.DataOffset, 752);
    EXPECT_TRUE(h.DataSizeValid);
    // A file that is shorter than its size says (cut while it is read) is no crash.
    const int fd2 = ::open((dir / "b.wav").c_str(), O_RDONLY);
    const WavHeader cut = ReadWavHeaderOfFd(fd2, 1 << 20);
    ::close(fd2);
    EXPECT_EQ(cut.DataOffset, 752);
    EXPECT_TRUE(cut.DataSizeValid);
}

}  // namespace
}  // namespace wtk
