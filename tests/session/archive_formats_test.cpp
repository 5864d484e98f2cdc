// Recordings as archives store them give the TK1 bytes of the 16-bit mono WAV file holding the
// same samples: FLAC streams, 24-, 32-bit and float samples, one channel of several, on one
// thread or two and in pieces of any size; XWAV raw files land at their own starts; a damaged
// FLAC stream ends at its last good sample.
#include "synth/archive_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "output/tk1_codec.h"
#include "recording_host.h"
#include "session/session.h"
#include "synth/synth.h"
#include "temp_dir.h"
#include "tk1_reader.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

struct Choices {
    bool ToSixteenBit = false;
    int Channel = 0;
    bool Threads = true;
    int32_t PieceSamples = 0;  // 0: the default
    bool Graphs = false;       // each block read twice
};

struct Converted {
    Session::Outcome Outcome = Session::Outcome::Done;
    std::vector<std::string> Messages;
    std::vector<Event> Events;
    std::vector<uint8_t> Tk1;  // the one TK1 file, its clock bytes zeroed
    Tk1File File;
    std::vector<tk1::RecordingRow> Rows;  // of its recordings table
};

Converted Convert(const TempDir& dir, const std::string& path, const Choices& run) {
    static int n = 0;
    const std::string out = dir / ("out" + std::to_string(++n));
    fs::create_directories(out);
    RecordingHost host;
    Session s(host);
    s.Start();
    s.Controls.ShowGraphs = run.Graphs;
    s.Controls.KsamplesPerSecEdit = "384";
    s.Controls.ToSixteenBit = run.ToSixteenBit;
    s.Controls.Channel = run.Channel;
    s.KsamplesPerSecEditChange();
    Session::EngineOptions engine;
    engine.Threads = run.Threads;
    engine.PieceSamples = run.PieceSamples;
    s.Tune(engine);
    host.saveAnswer = out + "/chosen.TK1";
    s.SelectPaths({path});
    s.ConvertBatchBtnClick();
    Converted c{s.LastOutcome, host.messages, host.events, {}, {}, {}};
    for (const auto& e : fs::directory_iterator(out)) {
        if (e.path().string().ends_with(".recordings.csv")) {
            auto rows = tk1::DecodeRecordingsTable(ReadFileText(e.path().string()));
            if (auto* r = std::get_if<std::vector<tk1::RecordingRow>>(&rows)) c.Rows = *r;
        }
        if (e.path().extension() != ".TK1") continue;
        EXPECT_TRUE(c.Tk1.empty()) << "one TK1 file";
        c.File = ReadTk1(e.path().string());
        c.Tk1 = c.File.bytes;
        if (c.Tk1.size() >= 268) std::fill(c.Tk1.begin() + 264, c.Tk1.begin() + 268, 0);
    }
    return c;
}

synth::RecordingSpec Clicks(double seconds = 2.5) {
    synth::RecordingSpec spec;
    spec.SampleRate = 384000;
    spec.Seconds = seconds;
    spec.NoiseRms = 6;
    spec.Seed = 3;
    synth::ClickTrain t;
    t.StartSec = 0.2;
    t.Clicks = 30;
    t.IciStartSec = 0.04;
    t.IciEndSec = 0.07;
    t.FrequencyHz = 110000;
    t.PeakAmplitude = 6000;
    spec.Trains = {t};
    return spec;
}

TEST(ArchiveFormats, EveryStoredFormGivesTheBytesOfThe16BitMonoWav) {
    TempDir dir;
    const synth::RecordingSpec spec = Clicks();
    const std::string wav = dir / "A.20230517140000.wav";
    synth::WriteWav(wav, spec);
    const Converted reference = Convert(dir, wav, {});
    ASSERT_EQ(reference.Outcome, Session::Outcome::Done)
        << ::testing::PrintToString(reference.Messages);
    ASSERT_GT(reference.File.Clicks().size(), 10u);

    // Each stored form in a folder of its own, under the same name.
    auto stored = [&](const std::string& form, synth::StoreFormat format) {
        fs::create_directories(dir / form);
        const std::string path = dir / (form + "/A.20230517140000.wav");
        synth::WriteWav(path, spec, {}, {}, format);
        return path;
    };
    auto flac = [&](const std::string& form, const std::string& wavPath, bool keepChunks,
                    int level = 5) {
        fs::create_directories(dir / form);
        const std::string path = dir / (form + "/A.20230517140000.flac");
        synth::WavToFlac(wavPath, path, keepChunks, level);
        return path;
    };
    using synth::SampleStore;
    const std::string stereo24 = stored("s24", {SampleStore::Pcm24, 2, 2});
    struct Case {
        const char* what;
        std::string path;
        Choices run;
        const Converted* reference = nullptr;  // the 16-bit mono WAV's, unless another
    };
    // A file with a longer header keeps more of its first samples, in any format alike.
    const Converted extensible =
        Convert(dir, stored("ext16", {SampleStore::Pcm16, 1, 1, true}), {});
    ASSERT_NE(extensible.Tk1, reference.Tk1);
    const std::vector<Case> cases = {
        {"FLAC with the WAV file's chunks", flac("flac", wav, true), {}},
        {"FLAC without them (a plain header)", flac("plain", wav, false), {}},
        {"FLAC in pieces of 37 samples on one thread",
         flac("p37", wav, true, 0),
         {false, 0, false, 37}},
        {"FLAC in pieces of 4099 samples on two threads",
         flac("p4099", wav, false, 8),
         {false, 0, true, 4099}},
        {"FLAC with graphs (each block read twice)",
         flac("graphs", wav, false),
         {false, 0, true, 0, true}},
        {"24-bit, low byte zero", stored("pcm24", {SampleStore::Pcm24}), {true}},
        {"24-bit extensible",
         stored("ext24", {SampleStore::Pcm24, 1, 1, true}),
         {true},
         &extensible},
        {"float extensible",
         stored("extf", {SampleStore::Float32, 1, 1, true}),
         {true},
         &extensible},
        {"32-bit", stored("pcm32", {SampleStore::Pcm32}), {true, 0, false, 1000}},
        {"float holding k / 32768", stored("float", {SampleStore::Float32}), {true}},
        {"float, one thread, small pieces",
         stored("f2", {SampleStore::Float32}),
         {true, 0, false, 211}},
        {"stereo, channel 2", stored("stereo", {SampleStore::Pcm16, 2, 2}), {false, 2}},
        {"four channels, channel 3", stored("quad", {SampleStore::Pcm16, 4, 3}), {false, 3}},
        {"24-bit stereo, channel 2", stereo24, {true, 2}},
        {"24-bit stereo FLAC, channel 2", flac("f24", stereo24, true), {true, 2}},
        {"24-bit stereo FLAC in small pieces", flac("f24p", stereo24, false), {true, 2, true, 600}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Converted got = Convert(dir, c.path, c.run);
        EXPECT_EQ(got.Outcome, Session::Outcome::Done) << ::testing::PrintToString(got.Messages);
        EXPECT_TRUE(got.Tk1 == (c.reference != nullptr ? *c.reference : reference).Tk1);
    }
}

TEST(ArchiveFormats, XwavRawFilesLandAtTheirOwnMinutesWithEmptyMinutesBetween) {
    TempDir dir;
    // Three raw files of 70 s, ten minutes apart, the first at 14:00:00.000.
    const int64_t start = (int64_t{45063} * 86400 + 14 * 3600) * 1000000;  // 2023-05-17 14:00
    std::vector<synth::RawFileSpec> raws;
    for (int i = 0; i < 3; ++i) {
        synth::RecordingSpec spec = Clicks(70);
        spec.Seed = 10 + static_cast<uint64_t>(i);
        raws.push_back({spec, start + i * int64_t{600} * 1000000});
    }
    const std::string path = dir / "H.20230517140000.x.wav";
    synth::WriteXwav(path, raws);
    const Converted c = Convert(dir, path, {});
    ASSERT_EQ(c.Outcome, Session::Outcome::Done) << ::testing::PrintToString(c.Messages);
    const Tk1File& f = c.File;
    ASSERT_TRUE(f.wellFormed);
    constexpr int32_t kMin1400 = 64891560;
    EXPECT_EQ(f.StartMin(), kMin1400);
    // Each raw file's train in its first minute (minutes 0, 10 and 20); nothing in the pauses.
    std::map<int32_t, int> clicksIn;
    for (const Tk1Record& r : f.Clicks()) ++clicksIn[r.Minute - kMin1400];
    for (const int32_t m : {0, 10, 20}) EXPECT_GE(clicksIn[m], 25) << m;
    for (const auto& [m, n] : clicksIn) EXPECT_LE(m % 10, 1) << m << ": " << n << " clicks";
    EXPECT_EQ(f.MinuteCount(), 22);
    // The same file as a FLAC stream that keeps its chunks: the decoder seeks to each raw file.
    const std::string flac = dir / "H.20230517140000.x.flac";
    synth::WavToFlac(path, flac, true);
    const Converted fromFlac = Convert(dir, flac, {});
    EXPECT_EQ(fromFlac.Outcome, Session::Outcome::Done);
    EXPECT_TRUE(fromFlac.Tk1 == c.Tk1);
}

TEST(ArchiveFormats, ADamagedFlacStreamStopsAtItsLastGoodSampleAndTheBatchGoesOn) {
    TempDir dir;
    const synth::RecordingSpec spec = Clicks(3);
    const std::string wav = dir / "A.20230517140000.wav";
    synth::WriteWav(wav, spec);
    const std::string damaged = dir / "A.20230517140000.flac";
    synth::WavToFlac(wav, damaged, false);
    std::vector<uint8_t> bytes = ReadFileBytes(damaged);
    // Garbage over the middle of the stream.
    const size_t at = bytes.size() / 2;
    std::fill(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4000,
              0x5A);
    WriteFileBytes(damaged, bytes);
    const Converted c = Convert(dir, damaged, {});
    EXPECT_EQ(c.Outcome, Session::Outcome::Failed);
    ASSERT_FALSE(c.Messages.empty());
    const std::string& m = c.Messages.front();
    EXPECT_EQ(m.rfind("Failed to decode " + damaged + " at ", 0), 0u) << m;
    EXPECT_NE(m.find("; converted up to there"), std::string::npos) << m;
    // A failed read, of the file concerned, is what makes the batch fail.
    ASSERT_EQ(c.Events.size(), 1u);
    EXPECT_EQ(c.Events[0].Kind, EventKind::WavReadFailed);
    EXPECT_EQ(c.Events[0].File, damaged);
    // What was converted is the WAV file's conversion up to there: the TK1 file holds clicks
    // of the first half, each one the WAV file gives too.
    const Tk1File& f = c.File;
    ASSERT_TRUE(f.wellFormed);
    const Converted whole = Convert(dir, wav, {});
    const auto got = f.Clicks(), all = whole.File.Clicks();
    ASSERT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), all.size());
    for (size_t i = 0; i + 1 < got.size(); ++i) {
        EXPECT_EQ(got[i].ClkTime5MuSecs(), all[i].ClkTime5MuSecs()) << i;
    }
}

TEST(ArchiveFormats, TheEffortOfAFlacStreamIsTheSamplesConvertedWhateverItsStreamInfoSays) {
    TempDir dir;
    const std::string wav = dir / "A.20230517140000.wav";
    synth::WriteWav(wav, Clicks(3));
    const Converted reference = Convert(dir, wav, {});
    ASSERT_EQ(reference.Rows.size(), 1u);
    const int64_t whole = reference.Rows[0].Samples;  // 3 s less the 28 samples of the header
    ASSERT_EQ(whole, 3 * 384000 - 28);
    const std::string flac = dir / "A.20230517140000.flac";
    synth::WavToFlac(wav, flac, false);
    const std::vector<uint8_t> stream = ReadFileBytes(flac);
    // STREAMINFO's count of samples: 36 bits from the low half of byte 21 on.
    auto counting = [&](int64_t total) {
        std::vector<uint8_t> b = stream;
        b[21] = static_cast<uint8_t>((b[21] & 0xF0) | ((total >> 32) & 0x0F));
        for (int k = 0; k < 4; ++k) b[22 + k] = static_cast<uint8_t>(total >> (24 - 8 * k));
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Session::Outcome outcome;
        std::vector<EventKind> kinds;
        bool converted;  // whole: the bytes of the WAV file's conversion
    };
    const std::vector<Case> cases = {
        {"its true count: no warning", stream, Session::Outcome::Done, {}, true},
        {"a count of 0, unknown", counting(0), Session::Outcome::Done, {}, true},
        {"a count of 2^36 - 1",
         counting((int64_t{1} << 36) - 1),
         Session::Outcome::Failed,
         {EventKind::WavReadFailed},
         true},
        {"a count of half the stream: read to its end",
         counting(3 * 384000 / 2),
         Session::Outcome::Done,
         {EventKind::StreamLongerThanHeader},
         true},
        {"cut at 30 %",
         std::vector<uint8_t>(stream.begin(),
                              stream.begin() + static_cast<long>(stream.size() * 3 / 10)),
         Session::Outcome::Failed,
         {EventKind::WavReadFailed},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(flac, c.bytes);
        const Converted got = Convert(dir, flac, {});
        EXPECT_EQ(got.Outcome, c.outcome) << ::testing::PrintToString(got.Messages);
        std::vector<EventKind> kinds;
        for (const Event& e : got.Events) kinds.push_back(e.Kind);
        EXPECT_EQ(kinds, c.kinds) << ::testing::PrintToString(got.Messages);
        ASSERT_EQ(got.Rows.size(), 1u);
        if (c.converted) {
            EXPECT_EQ(got.Rows[0].Samples, whole);
            EXPECT_TRUE(got.Tk1 == reference.Tk1);
        } else {
            // What was decoded before the cut, to within a frame of 4096 samples.
            EXPECT_NEAR(static_cast<double>(got.Rows[0].Samples), 0.3 * static_cast<double>(whole),
                        0.05 * static_cast<double>(whole));
        }
    }
}

}  // namespace
}  // namespace wtk::test
