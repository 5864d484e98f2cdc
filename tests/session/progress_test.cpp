// The batch progress: what the tracker counts at file starts, minute ends and file ends, the
// speed and time left derived from it, and the progress line.
#include "session/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace wtk::test {
namespace {

TEST(ProgressTest, TrackerCountsBytesAndAudioAtFileAndMinutePoints) {
    TempDir dir;
    // At 2 k samples/s a minute of samples is 240000 bytes after the 100 skipped.
    WavFileRecTable recs(3);
    recs[0].NameWithPath = dir / "a.wav";
    recs[2].NameWithPath = dir / "b.wav";                                  // recs[1] is blank
    WriteSamplesFile(recs[0].NameWithPath, std::vector<int16_t>(300000));  // 150 s
    WriteSamplesFile(recs[2].NameWithPath, std::vector<int16_t>(120000));  // 60 s

    enum Event { FileStarted, MinuteEnded, FileEnded, Ended };
    struct Step {
        Event event;
        int32_t fileNo;
        int64_t bytes;  // FileStarted: the size read
        double now;
        int64_t bytesDone, bytesTotal;
        double audioDone, audioTotal;
    };
    const std::vector<Step> steps = {
        {FileStarted, 0, 600100, 10, 0, 840200, 0, 210},
        {MinuteEnded, 0, 0, 11, 240100, 840200, 60, 210},
        {MinuteEnded, 0, 0, 12, 480100, 840200, 120, 210},
        {MinuteEnded, 0, 0, 13, 600100, 840200, 150, 210},  // early minute end: capped
        {FileEnded, 0, 0, 13, 600100, 840200, 150, 210},
        {FileStarted, 2, 300100, 13, 600100, 900200, 150, 225},  // b grew since the start
        {MinuteEnded, 2, 0, 14, 840200, 900200, 210, 225},
        {FileEnded, 2, 0, 15, 900200, 900200, 225, 225},
        {Ended, 2, 0, 16, 900200, 900200, 225, 225},
    };
    ProgressTracker t;
    t.Begin(recs, 3, 2000, 10);
    EXPECT_EQ(t.Progress().FileCount, 3);
    EXPECT_EQ(t.Progress().BytesTotal, 840200);
    EXPECT_FALSE(t.Progress().EtaSeconds());
    for (const Step& s : steps) {
        switch (s.event) {
            case FileStarted:
                t.FileStarted(s.fileNo, s.bytes, SampleByteRange{100, s.bytes}, s.now);
                break;
            case MinuteEnded:
                t.MinuteEnded(s.now);
                break;
            case FileEnded:
                t.FileEnded(s.now);
                break;
            case Ended:
                t.Ended(s.now);
                break;
        }
        const BatchProgress& p = t.Progress();
        EXPECT_EQ(p.FileNumber, s.fileNo + 1) << s.now;
        EXPECT_EQ(p.BytesDone, s.bytesDone) << s.now;
        EXPECT_EQ(p.BytesTotal, s.bytesTotal) << s.now;
        EXPECT_DOUBLE_EQ(p.AudioSecondsDone, s.audioDone) << s.now;
        EXPECT_DOUBLE_EQ(p.AudioSecondsTotal, s.audioTotal) << s.now;
        EXPECT_DOUBLE_EQ(p.ElapsedSeconds, s.now - 10) << s.now;
        EXPECT_EQ(p.Finished, s.event == Ended) << s.now;
    }
    // Reports after the end change nothing.
    t.MinuteEnded(20);
    EXPECT_DOUBLE_EQ(t.Progress().ElapsedSeconds, 6);
    EXPECT_FALSE(t.Running());

    // A file stopped at its first minute end counts that minute done, not the whole file.
    ProgressTracker stopped;
    stopped.Begin(recs, 3, 2000, 0);
    stopped.FileStarted(0, 600100, SampleByteRange{100, 600100}, 1);
    stopped.MinuteEnded(2);
    stopped.FileEnded(2, false);
    stopped.Ended(3);
    EXPECT_EQ(stopped.Progress().BytesDone, 240100);
    EXPECT_DOUBLE_EQ(stopped.Progress().AudioSecondsDone, 60);
    EXPECT_EQ(ProgressText(stopped.Progress()).substr(0, 26), "done: 1.0 min of audio in ");
}

TEST(ProgressTest, SpeedTimeLeftAndLine) {
    struct Case {
        BatchProgress p;
        std::string line;
    };
    auto at = [](int32_t file, int64_t done, double audio, double elapsed, bool finished) {
        BatchProgress p;
        p.FileNumber = file;
        p.FileCount = 12;
        p.BytesDone = done;
        p.BytesTotal = 1000;
        p.AudioSecondsDone = audio;
        p.AudioSecondsTotal = 7200;
        p.ElapsedSeconds = elapsed;
        p.Finished = finished;
        return p;
    };
    const std::vector<Case> cases = {
        {at(1, 0, 0, 0, false), "file 1 of 12, 0.0 of 120.0 min of audio (0 %)"},
        {at(3, 375, 2700, 10, false),
         "file 3 of 12, 45.0 of 120.0 min of audio (37 %), 270x real time, ETA 17 s"},
        {at(3, 100, 720, 20, false),
         "file 3 of 12, 12.0 of 120.0 min of audio (10 %), 36x real time, ETA 3 min 0 s"},
        {at(2, 1, 60, 8, false),
         "file 2 of 12, 1.0 of 120.0 min of audio (0 %), 8x real time, ETA 2 h 13 min"},
        {at(12, 1000, 7200, 21, true), "done: 120.0 min of audio in 21 s, 343x real time"},
        {at(5, 400, 2880, 150, true), "done: 48.0 min of audio in 2 min 30 s, 19x real time"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressText(c.p), c.line);
    EXPECT_DOUBLE_EQ(cases[1].p.Fraction(), 0.375);
    EXPECT_DOUBLE_EQ(*cases[1].p.EtaSeconds(), 625.0 * 10 / 375);
    EXPECT_DOUBLE_EQ(cases[1].p.RealTimeFactor(), 270);
    // An empty batch is complete when it ends.
    EXPECT_EQ(BatchProgress{}.Fraction(), 0.0);
    EXPECT_EQ(BatchProgress{.Finished = true}.Fraction(), 1.0);
    EXPECT_DOUBLE_EQ(AudioSeconds(2 * 576000, 576000), 1.0);
    EXPECT_EQ(AudioSeconds(-40, 576000), 0.0);
}

}  // namespace
}  // namespace wtk::test
