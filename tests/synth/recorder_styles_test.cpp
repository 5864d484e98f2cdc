// Recordings in recorders' styles, read back by the converter's own readers: the name, the
// start time and its source, and where the samples lie.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "input/recording_start.h"
#include "input/wav_header.h"
#include "synth/synth.h"
#include "temp_dir.h"

namespace {

using namespace wtk::synth;

struct Row {
    RecorderStyle style;
    int32_t zoneMinutes;
    bool zoneWritten;
    const char* name;
    const char* start;  // as the readers give it
    const char* source;
    int32_t skipSamples;  // data samples the converter does not read
};

TEST(SynthRecorder, EachStyleReadsBackItsStart) {
    const Row rows[] = {
        {RecorderStyle::SoundTrap, 120, true, "5987.210610053655.wav",
         "2021-06-10T03:36:54.000000Z", "log.xml", 28},
        {RecorderStyle::AudioMoth, 120, true, "20210610_053654.WAV", "2021-06-10T03:36:54.000000Z",
         "icmt", 0},
        {RecorderStyle::AudioMoth, -210, true, "20210610_000654.WAV", "2021-06-10T03:36:54.000000Z",
         "icmt", 0},
        {RecorderStyle::AudioMoth, 0, true, "20210610_033654.WAV", "2021-06-10T03:36:54.000000Z",
         "icmt", 0},
        {RecorderStyle::Sm4, 120, true, "SM4_20210610_053654.wav", "2021-06-10T03:36:54.250000Z",
         "wamd", 28},
        {RecorderStyle::Sm4, -240, false, "SM4_20210609_233654.wav", "2021-06-09T23:36:54.250000",
         "wamd", 28},
        {RecorderStyle::Guano, 0, true, "rec1.wav", "2021-06-10T03:36:54.250001Z", "guan", 28},
        {RecorderStyle::Guano, 120, false, "rec1.wav", "2021-06-10T05:36:54.250001", "guan", 28},
        {RecorderStyle::Bext, 120, true, "bext1.wav", "2021-06-10T05:36:54.250002", "bext", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        wtk::test::TempDir dir;
        RecordingSpec spec;
        spec.SampleRate = row.style == RecorderStyle::AudioMoth ? 384000 : 576000;
        spec.Seconds = 0.5;
        RecorderStamp stamp;
        stamp.Style = row.style;
        // Guano keeps the microsecond; bext rounds it to a whole sample (144001 / 576000 s).
        stamp.StartUtcMicroseconds = StartMicroseconds(2021, 6, 10, 3, 36, 54, 250001);
        stamp.ZoneMinutes = row.zoneMinutes;
        stamp.ZoneWritten = row.zoneWritten;
        const RecorderWriteResult r = WriteRecorderRecording(dir.path().string(), spec, stamp);
        EXPECT_EQ(r.Path, dir / row.name);
        EXPECT_EQ(r.ConverterSkipSamples, row.skipSamples);

        const auto start = wtk::ReadRecordingStart(r.Path);
        ASSERT_TRUE(start);
        EXPECT_EQ(wtk::FormatRecordingStart(*start), row.start);
        EXPECT_EQ(wtk::TimeSourceText(start->Source), row.source);

        // The samples the converter reads are the data chunk's, whatever surrounds it.
        const std::vector<uint8_t> bytes = wtk::test::ReadFileBytes(r.Path);
        const wtk::WavHeader h = wtk::ReadWavHeader(bytes);
        EXPECT_EQ(wtk::ClassifyWav(h), wtk::WavFit::Fit);
        EXPECT_EQ(h.DataOffset, r.DataOffset);
        EXPECT_EQ(wtk::SampleBytes(h).End, r.DataOffset + 2 * r.Samples);
        EXPECT_EQ(wtk::SampleBytes(h).Begin, r.DataOffset + 2 * r.ConverterSkipSamples);
    }
}

TEST(SynthRecorder, BadStampsAreRefused) {
    RecordingSpec spec;
    spec.Seconds = 0.1;
    RecorderStamp stamp;
    stamp.StartUtcMicroseconds = StartMicroseconds(2021, 6, 10, 3, 36, 54);
    stamp.ZoneMinutes = 24 * 60;
    EXPECT_THROW(StampRecording(stamp, spec), std::invalid_argument);
    stamp.ZoneMinutes = 0;
    stamp.Prefix = "../x";
    EXPECT_THROW(StampRecording(stamp, spec), std::invalid_argument);
    stamp.Prefix = "";
    stamp.StartUtcMicroseconds = StartMicroseconds(9999, 12, 31, 23, 59, 59);
    EXPECT_THROW(StampRecording(stamp, spec), std::invalid_argument);  // the name a second later
    EXPECT_THROW(StartMicroseconds(2021, 2, 29, 0, 0, 0), std::invalid_argument);
    spec.SampleRate = 0;
    stamp.StartUtcMicroseconds = 0;
    EXPECT_THROW(StampRecording(stamp, spec), std::invalid_argument);
}

}  // namespace
