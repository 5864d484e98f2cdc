// The batch driver through the session: name groups, placement on the minute axis, scrapbook
// layout, STOP, side files, refusals and failures. TK1 files are decoded by the test's own
// reader. Most cases run at 2 k samples/s (a minute is 120000 samples) with silent files.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "output/replacing_file.h"
#include "recording_host.h"
#include "session/session.h"
#include "session_probe.h"
#include "synth/synth.h"
#include "temp_dir.h"
#include "tk1_reader.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

// Minute number of 2023-05-17 14:00.
constexpr int32_t kMin1400 = 64891560;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "out");
        out = dir / "out";
        s.Start();
        s.Controls.ShowGraphs = false;
        host.saveAnswer = out + "/chosen.TK1";
    }
    void SetRate(const std::string& k) {
        s.Controls.KsamplesPerSecEdit = k;
        s.KsamplesPerSecEditChange();
    }
    // A silent file of the given length at the current rate.
    std::string Silent(const std::string& name, double seconds) {
        const std::string path = dir / name;
        WriteSamplesFile(path,
                         std::vector<int16_t>(
                             static_cast<size_t>(std::lround(seconds * s.Rate().SamplesPerSec))),
                         s.Rate().SamplesPerSec);
        return path;
    }
    std::string Out(const std::string& name) const { return out + "/" + name; }
    // What a per-location batch of the listing would write into the output folder.
    PlannedOutputs PlanInOut(int32_t maxGapDays = 31) {
        BatchPlan plan = s.PlanBatch(BatchKind::PerLocation);
        plan.MaxGapDays = maxGapDays;
        return s.PlanOutputs(plan, out + "/chosen.TK1");
    }
    std::vector<std::string> Memo(Memo m) { return host.MemoLines(m); }

    TempDir dir;
    RecordingHost host;
    Session s{host};
    std::string out;
};

// Two click trains, 2 s long, at 576 k samples/s.
synth::RecordingSpec ClickSpec(uint64_t seed) {
    synth::RecordingSpec spec;
    spec.SampleRate = 576000;
    spec.Seconds = 2;
    spec.NoiseRms = 5;
    spec.Seed = seed;
    synth::ClickTrain t;
    t.StartSec = 0.2;
    t.IciStartSec = t.IciEndSec = 0.06;
    t.Clicks = 25;
    t.PeakAmplitude = 3000;
    t.EdgeLevel = 0.5;
    spec.Trains = {t};
    return spec;
}

TEST_F(BatchTest, GroupsGetOneFileEachWithGapMinutesAndClicksInTheirMinutes) {
    const std::string a1 = dir / "A.20230517140000.wav";
    const std::string a2 = dir / "A.20230517140300.wav";
    const std::string b = dir / "B.20230517120000.wav";
    const auto t1 = synth::WriteWav(a1, ClickSpec(1)).Truth;
    const auto t2 = synth::WriteWav(a2, ClickSpec(2)).Truth;
    synth::WriteWav(b, ClickSpec(3));
    s.SelectPaths({b, a2, a1});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.questions.at(0), "NewFileName A 2023 05 17.TK1");

    const Tk1File fa = ReadTk1(Out("NewFileNameA 2023 05 17.TK1"));
    ASSERT_TRUE(fa.wellFormed);
    EXPECT_EQ(fa.StartMin(), kMin1400);
    EXPECT_EQ(fa.MinuteCount(), 4);
    EXPECT_EQ(fa.LastLoggingMin(), kMin1400 + 4);
    // Minute 14:00 holds the first file's clicks, 14:01 and 14:02 stay empty, the second file's
    // clicks follow the record of 14:03.
    const std::string kinds = fa.Kinds();
    const size_t firstGap = kinds.find('M', 2);
    ASSERT_NE(firstGap, std::string::npos);
    EXPECT_EQ(kinds.substr(0, 2), "LM");
    EXPECT_EQ(kinds.substr(firstGap, 3), "MMM");
    EXPECT_EQ(kinds.find('M', firstGap + 3), std::string::npos);
    EXPECT_EQ(kinds.back(), 'E');
    int in1400 = 0, in1403 = 0;
    for (const Tk1Record& c : fa.Clicks()) {
        ASSERT_TRUE(c.Minute == kMin1400 || c.Minute == kMin1400 + 3) << c.Minute;
        const auto& truth = c.Minute == kMin1400 ? t1 : t2;
        (c.Minute == kMin1400 ? in1400 : in1403) += 1;
        const double t = c.ClkTime5MuSecs() * 5e-6;
        double best = 1e9;
        for (const auto& k : truth)
            best = std::min(best, std::abs(synth::ConverterSeconds(k, 576000) - t));
        EXPECT_LT(best, 0.0002) << "click at " << t << " s of minute " << c.Minute;
    }
    EXPECT_GT(in1400, 10);
    EXPECT_GT(in1403, 10);

    const Tk1File fb = ReadTk1(Out("NewFileNameB 2023 05 17.TK1"));
    ASSERT_TRUE(fb.wellFormed);
    EXPECT_EQ(fb.StartMin(), kMin1400 - 120);
    EXPECT_EQ(fb.CountKind('M'), 1);
    EXPECT_GT(fb.CountKind('C'), 10);

    // Source linkage: one line per WAV file with its start minute.
    EXPECT_EQ(Lines(ReadFileText(Out("NewFileNameA 2023 05 17.txt"))),
              (std::vector<std::string>{std::to_string(kMin1400) + "\t" + a1,
                                        std::to_string(kMin1400 + 3) + "\t" + a2}));
    EXPECT_EQ(Lines(ReadFileText(Out("NewFileNameB 2023 05 17.txt"))),
              (std::vector<std::string>{std::to_string(kMin1400 - 120) + "\t" + b}));

    const auto data = Memo(Memo::DataMemo);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0], "TK1BriefName\tNofWavFiles\tcompression");
    EXPECT_EQ(data[1].substr(0, data[1].rfind('\t')), "NewFileNameA 2023 05 17.TK1\t2");
    EXPECT_EQ(data[2].substr(0, data[2].rfind('\t')), "NewFileNameB 2023 05 17.TK1\t1");
    EXPECT_EQ(Memo(Memo::DATA2Memo).at(0),
              "MinsInThisTK1File\tClicksThisMin\tAdjustedDeadBand\tCurrentAmpScaler");
    EXPECT_EQ(host.Text(Label::ProgressLbl), "3 .wav files converted");
    EXPECT_EQ(host.Text(Label::ConvertBatchBtn), "Create vTKEB files for each location");
    EXPECT_EQ(host.Text(Label::MakeScrapbookBtn), "Create a single 'TKEB scrapbook' file");
    EXPECT_TRUE(s.Idle());
}

TEST_F(BatchTest, UndatedGroupStartsIn2015AndLaterFilesMoveToTheNextMinute) {
    SetRate("2");
    s.Controls.AddedSiteNameEdit = "S";
    const std::string x1 = Silent("x1.wav", 20), x2 = Silent("x2.wav", 20);
    s.SelectPaths({x1, x2});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(host.questions.at(0), "S S  .TK1");
    const Tk1File f = ReadTk1(Out("SS  .TK1"));
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.StartMin(), kUndatedStartMin);
    EXPECT_EQ(f.Kinds(), "LME");  // the moved file continues the open minute
    EXPECT_EQ(s.WavFileRecs[0].Start.Mn, kUndatedStartMin);
    EXPECT_EQ(s.WavFileRecs[1].Start.Mn, kUndatedStartMin + 1);
    EXPECT_EQ(Lines(ReadFileText(Out("SS  .txt"))),
              (std::vector<std::string>{"60487200\t" + x1, "60487201\t" + x2}));
}

TEST_F(BatchTest, FileInTheSameMinuteContinuesIt) {
    SetRate("2");
    const std::string a = Silent("A.20230517140000.wav", 40);
    const std::string b = Silent("A.20230517140030.wav", 40);  // seconds digits are not read
    s.SelectPaths({a, b});
    s.ConvertBatchBtnClick();
    const Tk1File f = ReadTk1(Out("NewFileNameA 2023 05 17.TK1"));
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.Kinds(), "LME");
    EXPECT_EQ(s.WavFileRecs[1].Start.Mn, kMin1400);
}

TEST_F(BatchTest, ScrapbookLaysFilesOnConsecutiveMinutesAndLongFilesPushTheNextOnes) {
    SetRate("2");
    s.Controls.AddedSiteNameEdit = "";
    const std::string r1 = Silent("rec one.wav", 150), r2 = Silent("rec two.wav", 150);
    const std::string r3 = Silent("rec three.wav", 150);
    s.SelectPaths({r1, r2, r3});
    s.MakeScrapbookBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);
    EXPECT_TRUE(SessionProbe::Scrapbook(s));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s.WavFileRecs[i].Start.TimeInMinuteNear2MHz, 1);
        EXPECT_EQ(s.WavFileRecs[i].OriginalShortNameMinusSuffix, "rec  TK1 scrapbook");
    }
    // Each 2.5-minute file closes two minutes; the next file's minute has been overtaken, so
    // it is moved after the open minute and its samples continue that minute.
    EXPECT_EQ(s.WavFileRecs[0].Start.Mn, 52597440);
    EXPECT_EQ(s.WavFileRecs[1].Start.Mn, 52597443);
    EXPECT_EQ(s.WavFileRecs[2].Start.Mn, 52597445);
    const Tk1File f = ReadTk1(Out("No Name  .TK1"));
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.StartMin(), 52597440);
    EXPECT_EQ(f.Kinds(), "LMMMMMMME");
    const auto minutes = Memo(Memo::DATA2Memo);
    ASSERT_EQ(minutes.size(), 7u);
    for (size_t i = 1; i < minutes.size(); ++i) {
        EXPECT_EQ(minutes[i].substr(0, minutes[i].find('\t')), std::to_string(i - 1));
    }

    // A per-location conversion afterwards keeps the scrapbook's minutes.
    s.ConvertBatchBtnClick();
    EXPECT_FALSE(SessionProbe::Scrapbook(s));
    EXPECT_EQ(ReadTk1(Out("No Name  .TK1")).StartMin(), 52597440);
}

TEST_F(BatchTest, ScrapbookOfTwoIdentitiesGivesTwoFiles) {
    SetRate("2");
    const std::string a1 = Silent("A.20230517140000.wav", 10);
    const std::string a2 = Silent("A.20230517150000.wav", 10);
    const std::string b = Silent("B.20230517120000.wav", 10);
    s.SelectPaths({a1, b, a2});
    s.MakeScrapbookBtnClick();
    const Tk1File fa = ReadTk1(Out("NewFileNameA 2023 05 17.TK1"));
    const Tk1File fb = ReadTk1(Out("NewFileNameB 2023 05 17.TK1"));
    ASSERT_TRUE(fa.wellFormed && fb.wellFormed);
    EXPECT_EQ(fa.StartMin(), 52597440);
    EXPECT_EQ(fa.Kinds(), "LMME");  // the second file starts the next minute
    EXPECT_EQ(fb.StartMin(), 52597442);
    EXPECT_EQ(fb.Kinds(), "LME");
}

TEST_F(BatchTest, NewTK1FileRestartsTheMinuteCountButKeepsTheSensitivity) {
    SetRate("2");
    s.SelectPaths({Silent("A.20230517140000.wav", 70), Silent("B.20230517140000.wav", 70)});
    s.ConvertBatchBtnClick();
    const auto minutes = Memo(Memo::DATA2Memo);
    ASSERT_EQ(minutes.size(), 3u);
    // Silent minutes are too quiet: the gain rises at every minute end, across files.
    EXPECT_EQ(minutes[1], "0\t0\t10\t0.00130");
    EXPECT_EQ(minutes[2], "0\t0\t10\t0.00169");
}

TEST_F(BatchTest, NoisyAndQuietRunsAreCountedPerTK1File) {
    // Group A closes two minutes, B one. One minute of a run is only counted, the next acts.
    // Noisy minutes come from the host: it leaves 7000 clicks in every minute after the first.
    struct Case {
        bool noisy;
        std::vector<std::string> minutes;
    } cases[] = {
        {true, {"0\t0\t10\t0.00130", "1\t7000\t10\t0.00130", "0\t7000\t10\t0.00130"}},
        {false, {"0\t0\t10\t0.00100", "1\t0\t10\t0.00130", "0\t0\t10\t0.00130"}},
    };
    SetRate("2");
    s.SelectPaths({Silent("A.20230517140000.wav", 130), Silent("B.20230517140000.wav", 70)});
    s.SetFm.Set("NoisyMinsEdit", "1");
    s.SetFm.Set("QuietMinsEdit", "1");
    host.yesNoAnswer = true;  // the second case replaces the first one's files
    for (const Case& c : cases) {
        s.SetFm.Set("TooQuietCountEdit", c.noisy ? "20" : "0");
        // Noisy from the end of A's first minute on, and again from the start of B (a new TK1
        // file counts its open minute's clicks from 0).
        host.onProcessMessages = [&](int) {
            if (c.noisy) SessionProbe::Detector(s).ClicksThisMin = 7000;
        };
        host.onProgress = [&](const BatchProgress& p) {
            if (c.noisy && p.FileNumber == 2) SessionProbe::Detector(s).ClicksThisMin = 7000;
        };
        host.memos.clear();
        s.ConvertBatchBtnClick();
        ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
        const auto lines = Memo(Memo::DATA2Memo);
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.minutes);
    }
}

TEST_F(BatchTest, ClicksOfAMinuteLeftOpenCountNowhereElse) {
    // The tail minute of group A is not closed, nor the minute of A's first file before its
    // gap: their clicks stay in their TK1 minute and count in no later minute line.
    SetRate("384");
    synth::RecordingSpec clicks = ClickSpec(1);
    clicks.SampleRate = 384000;
    const std::string a = dir / "A.20230517140000.wav";
    synth::WriteWav(a, clicks);
    const std::string b = Silent("B.20230517140000.wav", 61);
    s.SelectPaths({a, b});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);
    const Tk1File fa = ReadTk1(Out("NewFileNameA 2023 05 17.TK1"));
    ASSERT_TRUE(fa.wellFormed);
    EXPECT_GT(fa.CountKind('C'), 10);
    auto minutes = Memo(Memo::DATA2Memo);
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_EQ(minutes[1].substr(0, minutes[1].find('\t', 2)), "0\t0");

    host.memos.clear();
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    const std::string later = Silent("A.20230517140500.wav", 61);
    s.SelectPaths({a, later});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);
    minutes = Memo(Memo::DATA2Memo);
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_EQ(minutes[1].substr(0, minutes[1].find('\t', 2)), "0\t0");
}

TEST_F(BatchTest, ASecondBatchStartsWithoutTheClicksOfTheFirstOnesOpenMinute) {
    SetRate("384");
    synth::RecordingSpec clicks = ClickSpec(1);
    clicks.SampleRate = 384000;
    const std::string a = dir / "A.20230517140000.wav";
    synth::WriteWav(a, clicks);
    s.SelectPaths({a});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    ASSERT_GT(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).CountKind('C'), 10);

    SetRate("2");
    s.SelectPaths({Silent("B.20230517140000.wav", 61)});
    host.memos.clear();
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(Memo(Memo::DATA2Memo).at(1), "0\t0\t10\t0.00130");
}

TEST_F(BatchTest, NoClickOrEchoCrossesIntoAnotherTK1FileOrOverAGap) {
    // A loud train late in the first file sets the echo filter; the second file's quieter clicks
    // early in their minute would look like its echoes. The second file must give the clicks
    // that a conversion of it alone gives, in another TK1 file and after a gap.
    synth::RecordingSpec loud = ClickSpec(1);
    loud.Trains[0].StartSec = 1.2;
    loud.Trains[0].Clicks = 12;
    loud.Trains[0].PeakAmplitude = 12000;
    const std::string first = dir / "A.20230517140000.wav", second = dir / "B.20230517140000.wav";
    synth::WriteWav(first, loud);
    synth::WriteWav(second, ClickSpec(2));
    const std::string later = dir / "A.20230517140500.wav";  // the same recording 5 minutes on
    fs::copy_file(second, later);

    // The clicks after the last minute record of the file: their times, and all their bytes.
    using Clicks = std::pair<std::vector<int32_t>, std::vector<std::array<uint8_t, 16>>>;
    auto lastMinutesClicks = [&](const std::vector<std::string>& paths, const std::string& tk1) {
        TempDir to;
        RecordingHost h;
        Session one{h};
        one.Start();
        one.Controls.ShowGraphs = false;
        h.saveAnswer = to / "x.TK1";
        one.SelectPaths(paths);
        one.ConvertBatchBtnClick();
        EXPECT_EQ(one.LastOutcome, Session::Outcome::Done);
        Clicks clicks;
        for (const Tk1Record& r : ReadTk1(to / tk1).records) {
            if (r.Kind == 'M') clicks = {};
            if (r.Kind == 'C') {
                clicks.first.push_back(r.ClkTime5MuSecs());
                clicks.second.push_back(r.b);
            }
        }
        return clicks;
    };
    const Clicks alone = lastMinutesClicks({second}, "NewFileNameB 2023 05 17.TK1");
    ASSERT_GT(alone.first.size(), 10u);
    for (const Clicks& after : {lastMinutesClicks({first, second}, "NewFileNameB 2023 05 17.TK1"),
                                lastMinutesClicks({first, later}, "NewFileNameA 2023 05 17.TK1")}) {
        EXPECT_EQ(after.first, alone.first);
        EXPECT_TRUE(after.second == alone.second);
    }
}

TEST_F(BatchTest, StopDuringTheThirdOfFiveFilesFinishesItAndTheTK1File) {
    SetRate("2");
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
        paths.push_back(Silent("A.2023051714" + std::to_string(10 + i) + "00.wav", 10));
    s.SelectPaths(paths);
    host.onProcessMessages = [&](int) {
        if (host.Text(Label::Caption) == paths[2]) s.RequestStop();
    };
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(host.Text(Label::BigLbl), "File conversion stopped at file 3");
    EXPECT_EQ(host.Text(Label::ProgressLbl), "2 .wav files converted");
    std::vector<std::string> progress;
    for (const auto& [label, text] : host.textLog) {
        if (label == Label::ProgressLbl && text.starts_with("Wav file ")) progress.push_back(text);
    }
    EXPECT_EQ(progress,
              (std::vector<std::string>{"Wav file 1 of 5", "Wav file 2 of 5", "Wav file 3 of 5"}));
    EXPECT_FALSE(s.STOP);
    EXPECT_FALSE(s.Busy);
    const Tk1File f = ReadTk1(Out("NewFileNameA 2023 05 17.TK1"));
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.Kinds(), "LMMME");
    EXPECT_EQ(Lines(ReadFileText(Out("NewFileNameA 2023 05 17.txt"))).size(), 3u);
    EXPECT_EQ(Memo(Memo::DataMemo).at(1).substr(0, 30), "NewFileNameA 2023 05 17.TK1\t3\t");
    // The files are shorter than a minute: the stop took effect when the third one ended.
    EXPECT_EQ(host.notes[Memo::DATA2Memo],
              (std::vector<std::string>{"Stop took effect at the end of file 3, in minute 0 "
                                        "(17/5/2023 14:12) of NewFileNameA 2023 05 17.TK1: " +
                                        paths[2]}));
    // The progress ends at the file where the stop took effect, short of the whole.
    ASSERT_FALSE(host.progress.empty());
    const BatchProgress& last = host.progress.back();
    EXPECT_TRUE(last.Finished);
    EXPECT_EQ(last.FileNumber, 3);
    EXPECT_EQ(last.BytesDone * 5, last.BytesTotal * 3);
}

TEST_F(BatchTest, StopTakesEffectAtTheNextMinuteEndWithTheMinuteClosed) {
    SetRate("2");
    const std::string ten = Silent("A.20230517140000.wav", 600);
    s.SelectPaths({ten, Silent("A.20230517141000.wav", 10)});
    // STOP pressed while the fourth minute end lets events through.
    host.onProcessMessages = [&](int) {
        if (Memo(Memo::DATA2Memo).size() == 5) s.RequestStop();
    };
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(host.Text(Label::BigLbl), "File conversion stopped at file 1");
    EXPECT_EQ(host.Text(Label::ProgressLbl), "0 .wav files converted");
    EXPECT_EQ(host.notes[Memo::DATA2Memo],
              (std::vector<std::string>{"Stop took effect at the end of minute 3 (17/5/2023 "
                                        "14:03) of NewFileNameA 2023 05 17.TK1, in file 1: " +
                                        ten}));
    EXPECT_EQ(Memo(Memo::DATA2Memo).size(), 5u);  // no minute after the stop
    // Minutes 0 to 3 closed, the record that opens minute 4, the end record.
    const Tk1File f = ReadTk1(Out("NewFileNameA 2023 05 17.TK1"));
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.Kinds(), "LMMMMME");
    EXPECT_EQ(f.MinuteCount(), 5);
    EXPECT_EQ(f.LastLoggingMin(), kMin1400 + 5);
    EXPECT_EQ(Lines(ReadFileText(Out("NewFileNameA 2023 05 17.txt"))).size(), 1u);
    // The effort of the recording is the four minutes converted (to the position where the
    // last of them closed, a fraction of a second before its last sample), not its ten.
    const std::vector<std::string> table =
        Lines(ReadFileText(Out("NewFileNameA 2023 05 17.recordings.csv")));
    ASSERT_EQ(table.size(), 2u);
    const size_t rate = table[1].find(",2000,");
    ASSERT_NE(rate, std::string::npos) << table[1];
    const long samples = std::stol(table[1].substr(rate + 6));
    EXPECT_LE(samples, 4 * 120000) << table[1];
    EXPECT_GT(samples, 4 * 120000 - 2000) << table[1];
    EXPECT_FALSE(s.STOP);
    EXPECT_FALSE(s.Busy);
}

TEST_F(BatchTest, ProgressIsReportedAtEachFileAndMinuteAndEndsWhole) {
    SetRate("2");
    const std::string a = Silent("A.20230517140000.wav", 150);  // two minute ends
    const std::string b = Silent("B.20230517140000.wav", 30);   // none
    s.SelectPaths({a, b});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    const int64_t bytesA = static_cast<int64_t>(fs::file_size(a));
    const int64_t total = bytesA + static_cast<int64_t>(fs::file_size(b));
    struct Step {
        int32_t FileNumber;
        int64_t BytesDone;
        double AudioSecondsDone;
        bool Finished;
    };
    const std::vector<Step> expected = {
        {0, 0, 0, false},               // the batch begins
        {1, 0, 0, false},               // A opened
        {1, 100 + 240000, 60, false},   // A's first minute end
        {1, 100 + 480000, 120, false},  // and its second
        {1, bytesA, 150, false},        // A finished
        {2, bytesA, 150, false},        // B opened
        {2, total, 180, false},         // B finished
        {2, total, 180, true},          // the batch ends
    };
    ASSERT_EQ(host.progress.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const BatchProgress& p = host.progress[i];
        EXPECT_EQ(p.FileNumber, expected[i].FileNumber) << i;
        EXPECT_EQ(p.FileCount, 2) << i;
        EXPECT_EQ(p.BytesDone, expected[i].BytesDone) << i;
        EXPECT_EQ(p.BytesTotal, total) << i;
        EXPECT_NEAR(p.AudioSecondsDone, expected[i].AudioSecondsDone, 1e-9) << i;
        EXPECT_NEAR(p.AudioSecondsTotal, 180, 1e-9) << i;
        EXPECT_EQ(p.Finished, expected[i].Finished) << i;
        if (i > 0) {
            EXPECT_GE(p.ElapsedSeconds, host.progress[i - 1].ElapsedSeconds) << i;
        }
    }
    EXPECT_EQ(host.progress.back().Fraction(), 1.0);
}

TEST_F(BatchTest, CommandsPressedDuringABatchAreRefused) {
    SetRate("2");
    s.SelectPaths({Silent("A.20230517140000.wav", 10), Silent("A.20230517140100.wav", 10)});
    host.onProcessMessages = [&](int) {
        s.ConvertBatchBtnClick();
        s.MakeScrapbookBtnClick();
        s.SelectBatchBtnClick();
        s.Controls.KsamplesPerSecEdit = "500";
        s.KsamplesPerSecEditChange();
    };
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(Memo(Memo::DataMemo).size(), 2u);  // one header, one file
    EXPECT_EQ(s.Rate().SamplesPerSec, 2000);
    EXPECT_EQ(s.NofWAVfilesFound, 2);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).wellFormed);
}

TEST_F(BatchTest, IpiExportKeepsItsLineLimitAcrossGroups) {
    SetRate("2");
    // Loud noise: plenty of peaks above the dead band.
    synth::RecordingSpec noise;
    noise.SampleRate = 2000;
    noise.Seconds = 5;
    noise.NoiseRms = 3000;
    const std::string a = dir / "A.20230517140000.wav", b = dir / "B.20230517140000.wav";
    synth::WriteWav(a, noise);
    synth::WriteWav(b, noise);
    s.SetFm.Set("MakeIPIexportFile", "1");
    s.SetFm.Set("IPIFileLineLimitEdit", "5");
    s.SelectPaths({a, b});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    const auto lines = Lines(ReadFileText(Out("chosen IPIs.txt")));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "IPI\tAmp\tt 250ns");
    EXPECT_TRUE(s.Idle());
    // The next batch's export file has its heading and its limit again.
    host.yesNoAnswer = true;  // replacing the first batch's files
    s.ConvertBatchBtnClick();
    EXPECT_EQ(Lines(ReadFileText(Out("chosen IPIs.txt"))), lines);

    // An export file that cannot be created: the message, and the batch goes on without it,
    // but it is no success.
    fs::remove(Out("chosen IPIs.txt"));
    fs::create_directory(Out("chosen IPIs.txt"));
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("chosen IPIs.txt"), std::string::npos);
    EXPECT_TRUE(ReadTk1(Out("NewFileNameB 2023 05 17.TK1")).wellFormed);
}

TEST_F(BatchTest, RefusalsComeBeforeAnythingIsWritten) {
    SetRate("2");
    const std::string a = Silent("A.20230517140000.wav", 1);
    auto refused = [&](const std::string& expectStart) {
        host.messages.clear();
        s.ConvertBatchBtnClick();
        EXPECT_EQ(s.LastOutcome, Session::Outcome::Refused);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].substr(0, expectStart.size()), expectStart);
        EXPECT_FALSE(s.Busy);
        EXPECT_TRUE(fs::is_empty(out));
        EXPECT_TRUE(Memo(Memo::DataMemo).empty());
        // The scrapbook's plan is refused alike, and a plan that is not ready runs nothing.
        const BatchPlan plan = s.PlanBatch(BatchKind::Scrapbook);
        EXPECT_FALSE(plan.Ready);
        EXPECT_EQ(host.messages.size(), 2u);
        s.RunPlan(plan);
        EXPECT_TRUE(fs::is_empty(out));
        EXPECT_TRUE(Memo(Memo::DataMemo).empty());
    };
    s.ConvertBatchBtnClick();  // nothing selected yet
    EXPECT_EQ(host.messages, std::vector<std::string>{"No WAV files listed"});
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    host.messages.clear();
    s.MakeScrapbookBtnClick();
    EXPECT_EQ(host.messages, std::vector<std::string>{"No WAV files found"});

    s.SelectPaths({a});
    s.Controls.KsamplesPerSecEdit = "2001";
    refused("Sample rate k/s must be a whole number in the range 1 ... 2000");
    s.Controls.KsamplesPerSecEdit = "2";
    s.SetFm.Set("MinNcycFedit", "");
    refused("");
    EXPECT_NE(host.messages.at(0).find("Min nCyc"), std::string::npos) << host.messages.at(0);
    s.SetFm.Set("MinNcycFedit", "5");
    s.Controls.LoggerNumberEdit = "-7";
    refused("Logger ID number");
    s.Controls.LoggerNumberEdit = "0";  // the lowest number a logger has
    host.messages.clear();
    EXPECT_TRUE(s.PlanBatch(BatchKind::PerLocation).Ready);
    EXPECT_EQ(host.messages, std::vector<std::string>{});
    s.Controls.LoggerNumberEdit = "Logger ID number";
    s.SetFm.Set("MakeIPIexportFile", "1");
    s.SelectPaths({a});  // the listing latches the box
    s.SetFm.Set("IPIFileLineLimitEdit", "");
    refused("File line limit");
    s.SetFm.Set("IPIFileLineLimitEdit", "10");
    s.Controls.AddedSiteNameEdit = "up\\..";
    refused("Site name must not contain");
    s.Controls.AddedSiteNameEdit = "NewFileName";

    s.SetFm.Set("MakeIPIexportFile", "0");
    s.SelectPaths({a});
    // While a command runs, a plan is not ready and nothing is reported.
    host.messages.clear();
    s.Busy = true;
    EXPECT_FALSE(s.PlanBatch(BatchKind::PerLocation).Ready);
    s.Busy = false;
    EXPECT_TRUE(host.messages.empty());
    host.saveAnswer.reset();
    host.messages.clear();
    s.ConvertBatchBtnClick();
    EXPECT_EQ(host.messages,
              std::vector<std::string>{
                  "No destination directory identified for TK1 files. Process aborted."});
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Refused);
    EXPECT_FALSE(s.Busy);
    EXPECT_TRUE(fs::is_empty(out));

    // What the plan of the batch refuses or asks about, once the destination is known: minutes
    // beyond the header's count (a message), a gap longer than 31 days and files that would be
    // replaced (Yes/No, No writes nothing).
    host.saveAnswer = out + "/chosen.TK1";
    const std::string late = Silent("A.20990517140000.wav", 1);
    s.SelectPaths({a, late});
    host.questions.clear();
    host.messages.clear();
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Refused);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].starts_with(
        "NewFileNameA 2023 05 17.TK1 would hold more minutes than a TK1 file can count"))
        << host.messages[0];
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_EQ(host.questions.size(), 1u);  // the destination only
    const std::string later = Silent("A.20230717140000.wav", 1);
    s.SelectPaths({a, later});
    host.questions.clear();
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Refused);
    EXPECT_TRUE(fs::is_empty(out));
    ASSERT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(host.questions[1],
              "Recordings of one TK1 file lie more than 31 days apart; the days between them "
              "would be written as empty minutes:\n61.0 days (87839 minutes) from " +
                  a + " to " + later + "\n\nWrite them?");
    host.yesNoAnswer = true;
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    const std::string tk1 = Out("NewFileNameA 2023 05 17.TK1");
    const std::vector<uint8_t> written = ReadFileBytes(tk1);
    host.yesNoAnswer = false;
    host.questions.clear();
    s.SelectPaths({a});
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Refused);
    EXPECT_EQ(ReadFileBytes(tk1), written);
    ASSERT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(host.questions[1],
              "3 files are already there and would be replaced by this conversion:\n" + tk1 + "\n" +
                  Out("NewFileNameA 2023 05 17.txt") + "\n" +
                  Out("NewFileNameA 2023 05 17.recordings.csv") + "\n\nReplace them?");
    host.yesNoAnswer = true;
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(ReadTk1(tk1).Kinds(), "LME");
}

// A file placed at its start second is read from there to the end of its minute first: the plan
// counts the minutes it closes as the engine does, so a gap after it is as long as written.
TEST_F(BatchTest, TheGapAfterAFileStartingInsideItsMinuteIsCountedAsWritten) {
    SetRate("2");
    s.Controls.ExactStart = true;
    const std::string a = Silent("A.20230517140030.wav", 90);
    s.SelectPaths({a});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    const std::string tk1 = Out("NewFileNameA 2023 05 17.TK1");
    // The lead record, 14:00, and 14:01 and 14:02: 14:00 closes after 30 s, 14:01 60 s later.
    EXPECT_EQ(ReadTk1(tk1).Kinds(), "LMMME");

    const std::string b = Silent("A.20230619140000.wav", 1);  // 33 days later
    s.SelectPaths({a, b});
    host.questions.clear();
    host.yesNoAnswer = true;
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    ASSERT_EQ(host.questions.size(), 3u);  // the destination, the gap, the files replaced
    // Empty minutes from 14:03 (a's last samples fall in 14:02) up to b's minute.
    EXPECT_NE(host.questions[1].find("(" + std::to_string(33 * 1440 - 3) + " minutes)"),
              std::string::npos)
        << host.questions[1];
    EXPECT_EQ(ReadTk1(tk1).MinuteCount(), 33 * 1440 + 1);
}

// The plan works out, before anything is written, the minutes that the driver will write:
// for recordings that end just before or just after their last block closes a minute, and for
// overlapping ones, the empty minutes it foresees before a later recording are those between
// the minute records the driver writes for the earlier ones and that recording's minute.
TEST_F(BatchTest, ThePlanForeseesTheMinutesTheDriverWrites) {
    SetRate("2");
    const int64_t perMin = s.Rate().SamplesPerMin;
    auto samples = [&](const std::string& name, int64_t n) {
        const std::string path = dir / name;
        WriteSamplesFile(path, std::vector<int16_t>(static_cast<size_t>(n)),
                         s.Rate().SamplesPerSec);
        return path;
    };
    // The minute records the driver writes for one recording of n samples.
    host.yesNoAnswer = true;
    auto written = [&](int64_t n) {
        s.SelectPaths({samples("T.20230517140000.wav", n)});
        s.ConvertBatchBtnClick();
        EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
        return ReadTk1(Out("NewFileNameT 2023 05 17.TK1")).MinuteCount();
    };
    // The shortest recording in (lo, hi] whose last block closes its minute: a block closes it
    // somewhat before the minute's samples are all there (the tick count runs a little fast).
    auto firstClosing = [&](int64_t lo, int64_t hi) {
        const int32_t more = written(hi);
        EXPECT_EQ(written(lo) + 1, more);
        while (hi - lo > 1) {
            const int64_t mid = (lo + hi) / 2;
            (written(mid) == more ? hi : lo) = mid;
        }
        return hi;
    };
    const int64_t closesFirst = firstClosing(perMin - perMin / 100, perMin);
    const int64_t closesSecond = firstClosing(2 * perMin - perMin / 100, 2 * perMin);
    fs::remove(Out("NewFileNameT 2023 05 17.TK1"));
    fs::remove(Out("NewFileNameT 2023 05 17.txt"));

    std::vector<std::vector<std::string>> groups;
    const std::string ids = "ABCDEFGHIJKL";
    for (const int64_t length : {closesFirst - 1, closesFirst, closesSecond - 1, closesSecond}) {
        const std::string id(1, ids[groups.size()]);
        groups.push_back({samples(id + ".20230517140000.wav", length)});
    }
    // A recording that starts before the one before it has ended.
    groups.push_back(
        {samples("M.20230517140000.wav", 150 * 2000), samples("M.20230517140100.wav", 2000)});
    std::vector<std::string> early;
    for (const auto& g : groups) early.insert(early.end(), g.begin(), g.end());
    s.SelectPaths(early);
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);

    // The same groups with a recording at 15:00 each: the gaps before it, every one asked about.
    std::vector<std::string> all;
    std::vector<PlannedGap> expected;
    for (const auto& g : groups) {
        const std::string id = fs::path(g[0]).filename().string().substr(0, 1);
        const Tk1File f = ReadTk1(Out("NewFileName" + id + " 2023 05 17.TK1"));
        ASSERT_TRUE(f.wellFormed) << id;
        all.insert(all.end(), g.begin(), g.end());
        all.push_back(samples(id + ".20230517150000.wav", 2000));
        expected.push_back({g.back(), all.back(), 60 - f.MinuteCount()});
    }
    s.SelectPaths(all);
    const PlannedOutputs plan = PlanInOut(0);
    ASSERT_EQ(plan.LongGaps.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].Before);
        EXPECT_EQ(plan.LongGaps[i].Before, expected[i].Before);
        EXPECT_EQ(plan.LongGaps[i].After, expected[i].After);
        EXPECT_EQ(plan.LongGaps[i].Minutes, expected[i].Minutes);
    }
    EXPECT_TRUE(plan.Unfit.empty());
}

// A gap is asked about when it is longer than the limit, and a TK1 file is refused when it
// would hold more minutes than its header counts; at the limits, neither.
TEST_F(BatchTest, ThePlanAsksAndRefusesOnlyBeyondItsLimits) {
    SetRate("2");
    const std::string a = Silent("A.20230517140000.wav", 1);
    const std::string next = Silent("A.20230517140100.wav", 1);      // no minute between
    const std::string in31 = Silent("A.20230617140200.wav", 1);      // 31 days between
    const std::string in31More = Silent("A.20230718140400.wav", 1);  // and a minute more
    s.SelectPaths({a, next, in31, in31More});
    PlannedOutputs plan = PlanInOut();
    ASSERT_EQ(plan.LongGaps.size(), 1u);
    EXPECT_EQ(plan.LongGaps[0].Before, in31);
    EXPECT_EQ(plan.LongGaps[0].Minutes, 31 * 1440 + 1);
    plan = PlanInOut(0);
    EXPECT_EQ(plan.LongGaps.size(), 2u);  // not the gap of no minute

    // From 2000-01-01 00:00 to 2031-11-24 20:14 are 16777214 minutes: with the last one's
    // minute record, as many minute records as the header can count.
    const std::string first = Silent("B.20000101000000.wav", 1);
    const std::string last = Silent("B.20311124201400.wav", 1);
    const std::string later = Silent("C.20000101000000.wav", 1);
    const std::string tooLate = Silent("C.20311124201500.wav", 1);
    s.SelectPaths({first, last, later, tooLate});
    plan = PlanInOut();
    ASSERT_EQ(plan.Unfit.size(), 1u);
    EXPECT_EQ(plan.Unfit[0],
              "NewFileNameC 2000 01 01.TK1 would hold more minutes than a TK1 file can count "
              "(16777215, 11650.8 days): from " +
                  later + " to the end of " + tooLate);

    // File names as long as the folder's file system takes, and one byte longer: the longest
    // output is "SITEA 2023 05 17.recordings.csv".
    const size_t longest = static_cast<size_t>(LongestNameIn(out));
    const std::string rest = "A 2023 05 17.recordings.csv";
    s.SelectPaths({a});
    s.Controls.AddedSiteNameEdit = std::string(longest - rest.size(), 's');
    EXPECT_EQ(PlanInOut().Unfit, std::vector<std::string>{});
    s.Controls.AddedSiteNameEdit += "s";
    plan = PlanInOut();
    ASSERT_EQ(plan.Unfit.size(), 1u);
    EXPECT_EQ(plan.Unfit[0],
              s.Controls.AddedSiteNameEdit + rest + " is too long a file name for the folder (" +
                  std::to_string(longest + 1) + " bytes, at most " + std::to_string(longest) + ")");
}

// A name that was free when the window's batch began is not taken from a file another run puts
// there meanwhile: that file stays and the batch fails.
TEST_F(BatchTest, ANameTakenDuringTheWindowsBatchIsNeverReplaced) {
    SetRate("2");
    s.SelectPaths({Silent("A.20230517140000.wav", 10), Silent("B.20230517140000.wav", 10)});
    const std::string taken = Out("NewFileNameB 2023 05 17.TK1");
    host.onProcessMessages = [&](int) {
        if (!fs::exists(taken)) WriteFileBytes(taken, {'o', 't', 'h', 'e', 'r'});
    };
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    EXPECT_EQ(ReadFileBytes(taken), (std::vector<uint8_t>{'o', 't', 'h', 'e', 'r'}));
    EXPECT_TRUE(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).wellFormed);
}

// A batch runs with the settings it was planned with: the site, logger number and side-file
// boxes changed while it runs count from the next batch on.
TEST_F(BatchTest, ControlsChangedWhileABatchRunsCountFromTheNextBatch) {
    SetRate("2");
    s.SelectPaths({Silent("A.20230517140000.wav", 10), Silent("B.20230517140000.wav", 10)});
    host.onProcessMessages = [&](int) {
        s.Controls.AddedSiteNameEdit = "Late";
        s.Controls.LoggerNumberEdit = "77";
        s.Controls.MakeSourceLinkageFile = false;
    };
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);
    const Tk1File b = ReadTk1(Out("NewFileNameB 2023 05 17.TK1"));
    ASSERT_TRUE(b.wellFormed);
    EXPECT_EQ(b.U(2, 4), 9999u);  // the logger number as planned: none
    EXPECT_TRUE(fs::exists(Out("NewFileNameB 2023 05 17.txt")));
    EXPECT_FALSE(fs::exists(Out("LateB 2023 05 17.TK1")));

    host.onProcessMessages = nullptr;
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done) << ::testing::PrintToString(host.messages);
    const Tk1File late = ReadTk1(Out("LateB 2023 05 17.TK1"));
    ASSERT_TRUE(late.wellFormed);
    EXPECT_EQ(late.U(2, 4), 77u);
    EXPECT_FALSE(fs::exists(Out("LateB 2023 05 17.txt")));
}

TEST_F(BatchTest, UnopenableWavFileEndsTheBatchWithEverythingClosed) {
    SetRate("2");
    s.Controls.AddedSiteNameEdit = "";
    const std::string a1 = Silent("A.20230517140000.wav", 10);
    const std::string a2 = Silent("A.20230517140200.wav", 10);
    const std::string b = Silent("B.20230517140000.wav", 10);
    s.SetFm.Set("MakeIPIexportFile", "1");
    s.SelectPaths({a1, a2, b});
    fs::remove(a2);
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    EXPECT_EQ(host.messages,
              std::vector<std::string>{
                  "Failed to open wav file A.20230517140200: No such file or directory"});
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events[0].Kind, EventKind::WavNotOpened);
    EXPECT_EQ(host.events[0].File, a2);
    EXPECT_EQ(host.events[0].Errno, ENOENT);
    // The open TK1 file lacks the rest of its recordings: it is removed with its side files
    // and the batch's export, each named beside the data memo; nothing of group B is made.
    EXPECT_EQ(
        host.notes[Memo::DataMemo],
        (std::vector<std::string>{"Removed, not written: " + Out("A 2023 05 17.TK1"),
                                  "Removed, not written: " + Out("A 2023 05 17.txt"),
                                  "Removed, not written: " + Out("A 2023 05 17.recordings.csv"),
                                  "Removed, not written: " + Out("chosen IPIs.txt")}));
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_TRUE(s.Idle());

    // The scrapbook's name stands in for the file name in the message.
    host.messages.clear();
    WriteFileBytes(Out("chosen IPIs.txt"), {1, 2, 3});
    host.yesNoAnswer = true;  // the export file of a batch before is replaced
    fs::remove(a1);
    s.SelectPaths({Silent("x y.wav", 1), Silent("x z.wav", 1)});
    fs::remove(dir / "x y.wav");
    s.MakeScrapbookBtnClick();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0],
              "Failed to open wav file x  TK1 scrapbook: No such file or directory");
    // The export file it would have replaced is kept, and the window's data memo says so.
    EXPECT_EQ(
        host.notes[Memo::DataMemo].back(),
        "Earlier file kept, not replaced by this failed conversion: " + Out("chosen IPIs.txt"));
}

TEST_F(BatchTest, ReportsCarryTheirKindAndFileAndTheKindsGiveTheOutcome) {
    SetRate("2");
    const std::string a = Silent("A.20230517140000.wav", 70);
    const std::string old = Silent("G.19990101000000.wav", 1);
    const std::string undated = Silent("x.wav", 1);
    s.SelectPaths({a, old, undated});
    // Listing: the century read as 20, a name without a date; neither fails anything.
    std::vector<EventKind> kinds = host.Kinds();
    ASSERT_EQ(kinds, (std::vector<EventKind>{EventKind::CenturyIgnored, EventKind::DateNotFound}));
    EXPECT_EQ(host.events[0].File, old);
    EXPECT_EQ(host.notes[Memo::FilesMemo],
              std::vector<std::string>{old + ": year 1999 of the name is read as 2099"});
    EXPECT_EQ(host.events[1].File, undated);
    EXPECT_EQ(host.Text(Label::DateFailureFile), undated);

    // A recording cut short after it was listed: converted as far as it goes, reported beside
    // the data memo, and the batch is no success.
    host.events.clear();
    fs::resize_file(a, 100 + 2 * 2000 * 30);
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    ASSERT_EQ(host.Kinds(), std::vector<EventKind>{EventKind::RecordingChanged});
    EXPECT_EQ(host.events[0].File, a);
    EXPECT_EQ(host.notes[Memo::DataMemo].back(),
              "Recording changed size since it was listed (280100 bytes, now 120100), "
              "converted as far as it went: " +
                  a);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).wellFormed);

    // Listed again, it converts as it is now.
    host.events.clear();
    s.SelectPaths({a});
    host.yesNoAnswer = true;
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(BatchTest, TK1FileThatCannotBeCreatedStopsTheBatch) {
    SetRate("2");
    s.SetFm.Set("MakeIPIexportFile", "1");
    const std::string a = Silent("A.20230517140000.wav", 5);
    const std::string b = Silent("B.20230517140000.wav", 5);
    const std::string c = Silent("C.20230517140000.wav", 5);
    fs::create_directory(Out("NewFileNameB 2023 05 17.TK1"));  // a directory in its place
    s.SelectPaths({a, b, c});
    host.yesNoAnswer = true;  // as good as replaced
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].substr(0, 16), "TK1 open failed ");
    EXPECT_TRUE(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).wellFormed);
    EXPECT_FALSE(fs::exists(Out("NewFileNameC 2023 05 17.TK1")));
    EXPECT_EQ(Memo(Memo::DataMemo).size(), 2u);  // the header and group A
    // The export holds group A's peaks only: it does not take its name.
    EXPECT_FALSE(fs::exists(Out("chosen IPIs.txt")));
    EXPECT_EQ(host.notes[Memo::DataMemo].back(), "Removed, not written: " + Out("chosen IPIs.txt"));
    EXPECT_TRUE(s.Idle());
}

TEST_F(BatchTest, BlankRecordsAreSkipped) {
    SetRate("2");
    const std::string a = Silent("A.20230517140000.wav", 5);
    s.SelectPaths({dir / "missing.wav", a});  // the listing leaves a blank record
    ASSERT_EQ(s.NofWAVfilesFound, 2);
    host.messages.clear();
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.questions.back(), "NewFileName A 2023 05 17.TK1");
    EXPECT_TRUE(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).wellFormed);
    EXPECT_EQ(host.Text(Label::ProgressLbl), "2 .wav files converted");
}

TEST_F(BatchTest, FailedWriteClosesTheFileUnfinishedAndIsNeverSuccess) {
    SetRate("2");
    // 5000 empty minutes between the two files need more than one full output buffer.
    const std::string a1 = Silent("A.20230517140000.wav", 1);
    const std::string a2 = Silent("A.20230521033000.wav", 1);  // 5130 minutes later
    const std::string earlier = Out("NewFileNameA 2023 05 17.TK1");
    WriteFileBytes(earlier, {1, 2, 3});
    s.SetFm.Set("MakeIPIexportFile", "1");
    s.SelectPaths({a1, a2});
    host.yesNoAnswer = true;  // replace the earlier file
    {
        FileSizeLimit full(2000);  // the header fits, the first full buffer does not
        s.ConvertBatchBtnClick();
    }
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    ASSERT_FALSE(host.messages.empty());
    const std::string& last = host.messages.back();
    EXPECT_NE(last.find("NewFileNameA 2023 05 17.TK1"), std::string::npos) << last;
    EXPECT_NE(last.find(std::strerror(EFBIG)), std::string::npos) << last;
    // The earlier file keeps its bytes; nothing of the batch is left, not even temporarily.
    EXPECT_EQ(ReadFileBytes(earlier), (std::vector<uint8_t>{1, 2, 3}));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(out)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"NewFileNameA 2023 05 17.TK1"});
    EXPECT_TRUE(s.Idle());
    EXPECT_EQ(Memo(Memo::DataMemo).size(), 1u);  // no summary line for the file
}

TEST_F(BatchTest, WindowAsksForTheChoicesThatFilesOfOtherFormatsNeed) {
    SetRate("384");
    synth::RecordingSpec spec;
    spec.SampleRate = 384000;
    spec.Seconds = 0.3;
    const std::string a = dir / "A.20230517140000.wav", b = dir / "B.20230517140000.wav",
                      c = dir / "C.20230517140000.wav";
    synth::WriteWav(a, spec, {}, {}, {synth::SampleStore::Pcm24, 3, 1});
    synth::WriteWav(b, spec, {}, {}, {synth::SampleStore::Pcm16, 2, 1});
    synth::WriteWav(c, spec, {}, {}, {synth::SampleStore::Float32, 2, 2});
    host.openAnswer = std::vector<std::string>{a, b, c};
    host.yesNoAnswer = true;
    host.choiceAnswer = 1;
    s.SelectBatchBtnClick();
    // The open dialog, whether to turn samples into 16 bits, which channel of those every file
    // has; all fit then, so no box follows.
    ASSERT_EQ(host.questions.size(), 3u);
    const std::string lineA = a + ": PCM, 24 bits, 3 channels, 384000 samples/s\n";
    const std::string lineC = c + ": IEEE float, 32 bits, 2 channels, 384000 samples/s\n";
    EXPECT_EQ(host.questions[1],
              "2 files have samples of other than 16 bits:\n" + lineA + lineC +
                  "\nConvert their samples to 16 bits, as a 16-bit recorder of the same full "
                  "scale would have written them?");
    EXPECT_EQ(host.questions[2], "3 files have several channels:\n" + lineA + b +
                                     ": PCM, 16 bits, 2 channels, 384000 samples/s\n" + lineC +
                                     "\nWhich channel should be converted?|Channel 1|Channel 2");
    EXPECT_TRUE(s.Controls.ToSixteenBit);
    EXPECT_EQ(s.Controls.Channel, 2);
    // The file list follows the choices: 0.3 s each.
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.WavFileRecs[static_cast<size_t>(i)].DurationMs, 300);
    EXPECT_TRUE(s.ConfirmUnfitFiles());
    EXPECT_EQ(host.questions.size(), 3u) << "nothing more to ask";

    // Declined: the conversion does not start, and the box names what still needs a choice.
    s.Controls.ToSixteenBit = false;
    s.Controls.Channel = 0;
    host.questions.clear();
    host.yesNoAnswer = false;
    host.choiceAnswer.reset();
    EXPECT_FALSE(s.ConfirmUnfitFiles());
    s.ReportFormatFindings();
    ASSERT_FALSE(host.questions.empty());
    EXPECT_EQ(host.messages.back().substr(0, 34), "3 files are not converted unless t")
        << host.messages.back();

    // With a file of one channel listed, channel 1 is the only one offered.
    const std::string mono = dir / "D.20230517140000.wav";
    synth::WriteWav(mono, spec);
    host.questions.clear();
    host.openAnswer = std::vector<std::string>{b, mono};
    host.choiceAnswer = 0;
    s.SelectBatchBtnClick();
    ASSERT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(host.questions[1].substr(host.questions[1].find('|')), "|Channel 1");
    EXPECT_EQ(s.Controls.Channel, 1);
    EXPECT_TRUE(s.ConfirmUnfitFiles());
    // The channel chosen, the first one too, is not asked for again where the samples still
    // need a choice.
    s.Controls.ToSixteenBit = false;
    host.questions.clear();
    host.openAnswer = std::vector<std::string>{a};
    host.yesNoAnswer = true;
    s.SelectBatchBtnClick();
    ASSERT_EQ(host.questions.size(), 2u);  // the open dialog, whether to turn samples into 16 bits
    EXPECT_EQ(host.questions[1].substr(0, 40), "1 file has samples of other than 16 bits");
    EXPECT_EQ(s.Controls.Channel, 1);
    EXPECT_TRUE(s.ConfirmUnfitFiles());
}

}  // namespace
}  // namespace wtk::test

namespace wtk::test {
namespace {

// The window's format check: one box after the selection naming the files, an offer of the
// headers' rate, and a question before unfit files are converted.
TEST_F(BatchTest, WindowFormatCheckNamesFilesOffersTheHeaderRateAndAsksBeforeConverting) {
    SetRate("384");
    const std::string a = Silent("A.20230517140000.wav", 1), b = Silent("B.20230517140000.wav", 1);
    std::vector<uint8_t> bytes = ReadFileBytes(b);
    bytes[34] = 24;  // 24 bits
    const std::string c = dir / "C.20230517140000.wav";
    WriteFileBytes(c, bytes);
    SetRate("576");
    host.openAnswer = std::vector<std::string>{a, b, c};
    host.yesNoAnswer = true;
    s.SelectBatchBtnClick();
    ASSERT_EQ(host.questions.size(), 2u);  // the open dialog, then the box
    EXPECT_EQ(host.questions[1],
              "1 file is not 16-bit PCM mono WAV and would give wrong clicks:\n" + c +
                  ": not 16-bit PCM mono: PCM, 24 bits, 1 channel, 384000 samples/s\n\n"
                  "2 files are not at the typed rate of 576 k samples/s:\n" +
                  a + ": its header says 384000 samples/s\n" + b +
                  ": its header says 384000 samples/s\n\n"
                  "Take 384 k samples/s from the headers as the sample rate?");
    EXPECT_EQ(s.Controls.KsamplesPerSecEdit, "384");
    EXPECT_EQ(s.Rate().SamplesPerSec, 384000);

    // Before converting: No leaves everything as it was.
    host.yesNoAnswer = false;
    EXPECT_FALSE(s.ConfirmUnfitFiles());
    EXPECT_EQ(host.questions.back().substr(0, 19), "1 file is not 16-bi");
    EXPECT_EQ(host.questions.back().substr(host.questions.back().size() - 20),
              "Convert them anyway?");

    // Headers of a rate no whole number of k samples/s: the box names them, offering nothing.
    const std::string cd = dir / "CD.20230517140000.wav";
    WriteSamplesFile(cd, std::vector<int16_t>(44100), 44100);
    host.questions.clear();
    host.openAnswer = std::vector<std::string>{cd};
    s.SelectBatchBtnClick();
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.messages.back(), "1 file is not at the typed rate of 384 k samples/s:\n" + cd +
                                        ": its header says 44100 samples/s");
    EXPECT_EQ(s.Controls.KsamplesPerSecEdit, "384");

    // Files that all fit at the typed rate: no box; an invalid pattern: no selection.
    host.questions.clear();
    host.openAnswer = std::vector<std::string>{a, b};
    s.SelectBatchBtnClick();
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_TRUE(s.ConfirmUnfitFiles());
    s.Controls.NameDatePatternEdit = "%Y";
    s.SelectBatchBtnClick();
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.messages.back().substr(0, 22), "Name-date pattern \"%Y\"");
}

}  // namespace
}  // namespace wtk::test
