// Whole conversions of realistic input: a generated two-minute recording at 576 k samples/s
// with click trains against the generator's truth, the same noise without clicks, and the real
// recordings of the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "recording_host.h"
#include "session/session.h"
#include "synth/synth.h"
#include "temp_dir.h"
#include "tk1_reader.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kRate = 576000;
constexpr int32_t kMin1400 = 64891560;  // 2023-05-17 14:00

struct Converted {
    Session::Outcome outcome;
    std::vector<std::string> messages;
    std::vector<Tk1File> files;
};

// Converts the given files (per location) at the rate text into dir/out.
Converted Convert(const TempDir& dir, const std::vector<std::string>& paths,
                  const std::string& rate) {
    const std::string out = dir / "out";
    fs::create_directories(out);
    RecordingHost host;
    Session s(host);
    s.Start();
    s.Controls.ShowGraphs = false;
    s.Controls.KsamplesPerSecEdit = rate;
    s.KsamplesPerSecEditChange();
    host.saveAnswer = out + "/chosen.TK1";
    s.SelectPaths(paths);
    s.ConvertBatchBtnClick();
    Converted c{s.LastOutcome, host.messages, {}};
    for (const auto& e : fs::directory_iterator(out)) {
        if (e.path().extension() == ".TK1") c.files.push_back(ReadTk1(e.path().string()));
    }
    return c;
}

synth::RecordingSpec TwoMinutes(bool clicks) {
    synth::RecordingSpec spec;
    spec.SampleRate = kRate;
    spec.Seconds = 120;
    spec.NoiseRms = 5;
    spec.Seed = 7;
    if (clicks) {
        synth::TrainPlan plan;
        plan.Seed = 11;
        plan.Seconds = 120;
        spec.Trains = synth::PlanTrains(plan);
    }
    return spec;
}

double TwoMinutesTrainFrequency(int train) {
    static const synth::RecordingSpec spec = TwoMinutes(true);
    return spec.Trains.at(static_cast<size_t>(train)).FrequencyHz;
}

TEST(EndToEnd, ClickTrainsLandAtTheirTimesWithSteadyIntervals) {
    TempDir dir;
    const std::string wav = dir / "SITE.20230517140000.wav";
    const auto truth = synth::WriteWav(wav, TwoMinutes(true)).Truth;
    ASSERT_GT(truth.size(), 100u);
    const Converted c = Convert(dir, {wav}, "576");
    ASSERT_EQ(c.outcome, Session::Outcome::Done) << ::testing::PrintToString(c.messages);
    ASSERT_EQ(c.files.size(), 1u);
    const Tk1File& f = c.files[0];
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.StartMin(), kMin1400);
    // The first counted minute record and one at each of the two minute ends.
    EXPECT_EQ(f.CountKind('M'), 3);

    // Every click record sits at a generated click: its minute and its time in the minute
    // give the time since the file's first sample (the second minute's block starts exactly
    // one minute of samples in).
    const auto clicks = f.Clicks();
    ASSERT_GT(clicks.size(), truth.size() / 3);
    std::map<int, std::vector<int>> ipisOfTrain;
    size_t matched = 0;
    std::vector<bool> found(truth.size(), false);
    for (const Tk1Record& r : clicks) {
        const double t = (r.Minute - kMin1400) * 60.0 + r.ClkTime5MuSecs() * 5e-6;
        size_t best = 0;
        double bestDiff = 1e9;
        for (size_t k = 0; k < truth.size(); ++k) {
            const double d = std::abs(synth::ConverterSeconds(truth[k], kRate) - t);
            if (d < bestDiff) {
                bestDiff = d;
                best = k;
            }
        }
        if (bestDiff < 0.0002) {
            ++matched;
            found[best] = true;
            ipisOfTrain[truth[best].Train].push_back(r.IPIpreMax());
        }
    }
    EXPECT_GE(matched, clicks.size() * 95 / 100) << matched << " of " << clicks.size();

    // The loud clicks are all found.
    size_t loud = 0, loudFound = 0;
    for (size_t k = 0; k < truth.size(); ++k) {
        if (truth[k].PeakAmplitude < 1000) continue;
        ++loud;
        loudFound += found[k];
    }
    ASSERT_GT(loud, 10u);
    EXPECT_GE(loudFound, loud * 9 / 10) << loudFound << " of " << loud;

    // Within a train the interval before the largest peak is steady: it is the tone's period
    // (4000 / kHz in 250 ns units) or, where the peak finder took a flank peak of the previous
    // cycle as its reference, up to about 5 units shorter; never longer, never wandering.
    for (auto& [train, ipis] : ipisOfTrain) {
        const double period = 4e6 / TwoMinutesTrainFrequency(train);
        size_t steady = 0;
        std::string all;
        for (int ipi : ipis) {
            steady += ipi <= period + 2.5 && ipi >= period - 7.5;
            all += std::to_string(ipi) + " ";
        }
        EXPECT_GE(steady, ipis.size() * 95 / 100)
            << "train " << train << ", period " << period << ": " << all;
    }

    // The same noise without clicks gives far fewer clicks.
    TempDir quietDir;
    const std::string quiet = quietDir / "SITE.20230517140000.wav";
    synth::WriteWav(quiet, TwoMinutes(false));
    const Converted q = Convert(quietDir, {quiet}, "576");
    ASSERT_EQ(q.files.size(), 1u);
    ASSERT_TRUE(q.files[0].wellFormed);
    EXPECT_LT(q.files[0].CountKind('C') * 10, static_cast<int>(clicks.size()));
}

// Chunks that recorders write around the samples (a LIST or bext chunk before them, a LIST chunk
// after them) are not read as sound: the records are those of the same samples without them.
TEST(EndToEnd, ChunksAroundTheSamplesAreNotReadAsSound) {
    const synth::RecordingSpec spec{
        .SampleRate = kRate,
        .Seconds = 1,
        .NoiseRms = 5,
        .Trains = {{.StartSec = 0.1, .Clicks = 12, .PeakAmplitude = 2000}}};
    const std::vector<int16_t> samples = synth::Generate(spec);
    TempDir dir;
    const std::string plainPath = dir / "S.20230517140000.wav";
    WriteSamplesFile(plainPath, samples, kRate);  // the samples start at byte 100
    const std::vector<uint8_t> plain = ReadFileBytes(plainPath);

    auto chunk = [](const char* id, size_t n, char fill) {
        std::vector<uint8_t> c(id, id + 4);
        for (int k = 0; k < 4; ++k) c.push_back(static_cast<uint8_t>(n >> (8 * k)));
        c.insert(c.end(), n, static_cast<uint8_t>(fill));
        return c;
    };
    // Header and fmt chunk of the plain file, a LIST and a bext chunk, then the data chunk
    // holding exactly the samples the plain file gives.
    std::vector<uint8_t> before(plain.begin(), plain.begin() + 36);
    for (const auto& c : {chunk("LIST", 300, 'L'), chunk("bext", 602, '\x7f')})
        before.insert(before.end(), c.begin(), c.end());
    const std::vector<uint8_t> data = chunk("data", 2 * samples.size(), 0);
    before.insert(before.end(), data.begin(), data.begin() + 8);
    before.insert(before.end(), plain.begin() + 100, plain.end());
    std::vector<uint8_t> after = plain;
    const std::vector<uint8_t> list = chunk("LIST", 5000, '\x7f');
    after.insert(after.end(), list.begin(), list.end());

    const Converted reference = Convert(dir, {plainPath}, "576");
    ASSERT_EQ(reference.files.size(), 1u);
    const auto records = [](const Tk1File& f) {
        return std::vector<uint8_t>(f.bytes.begin() + 1024, f.bytes.end());
    };
    ASSERT_GE(reference.files[0].CountKind('C'), 6);
    for (const auto& bytes : {before, after}) {
        TempDir other;
        const std::string path = other / "S.20230517140000.wav";
        WriteFileBytes(path, bytes);
        const Converted c = Convert(other, {path}, "576");
        ASSERT_EQ(c.files.size(), 1u);
        EXPECT_EQ(records(c.files[0]), records(reference.files[0]));
    }
}

TEST(EndToEnd, RealRecordingsConvertToSoundFiles) {
    const fs::path corpus = WTK_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    TempDir dir;
    const Converted c = Convert(dir, {corpus.string()}, "500");
    ASSERT_EQ(c.outcome, Session::Outcome::Done) << ::testing::PrintToString(c.messages);
    ASSERT_EQ(c.files.size(), 3u);  // one group per identity
    for (const Tk1File& f : c.files) {
        EXPECT_TRUE(f.wellFormed);
        // The two cuts are dated by their names' stamps (2014-08-11 16:00), the reference
        // click is not.
        EXPECT_TRUE(f.StartMin() == kUndatedStartMin || f.StartMin() == 60282240) << f.StartMin();
        EXPECT_EQ(f.MinuteCount(), f.CountKind('M'));
        EXPECT_EQ(f.LastLoggingMin(), f.StartMin() + f.CountKind('M'));
    }

    // The two Dall's porpoise files are the same recording cut about 1.9 ms apart: the clicks
    // of the shorter cut reappear in the longer one, shifted by one common offset.
    // By size: the longer cut, the shorter cut, then the single reference click.
    std::vector<const Tk1File*> bySize;
    for (const Tk1File& f : c.files) bySize.push_back(&f);
    std::sort(bySize.begin(), bySize.end(),
              [](const Tk1File* x, const Tk1File* y) { return x->bytes.size() > y->bytes.size(); });
    const Tk1File* longer = bySize[0];
    const Tk1File* shorter = bySize[1];
    const auto a = longer->Clicks(), b = shorter->Clicks();
    ASSERT_GT(b.size(), 20u);
    std::map<int, int> offsets;  // in 5 us units
    for (const auto& x : a)
        for (const auto& y : b) ++offsets[x.ClkTime5MuSecs() - y.ClkTime5MuSecs()];
    int offset = 0, best = 0;
    for (const auto& [d, n] : offsets) {
        if (n > best) {
            best = n;
            offset = d;
        }
    }
    EXPECT_GE(offset * 5, 1700);  // microseconds
    EXPECT_LE(offset * 5, 2100);
    size_t inner = 0, matched = 0;
    for (const auto& y : b) {
        if (y.ClkTime5MuSecs() < 200) continue;  // the first ms: the detector is still settling
        ++inner;
        for (const auto& x : a) {
            if (std::abs(x.ClkTime5MuSecs() - y.ClkTime5MuSecs() - offset) <= 2) {
                ++matched;
                break;
            }
        }
    }
    EXPECT_GE(matched, inner * 8 / 10) << matched << " of " << inner;
}

}  // namespace
}  // namespace wtk::test
