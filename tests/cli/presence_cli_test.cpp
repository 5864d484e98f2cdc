// wavtokeb-cli trains, presence and dump --csv --trains, run as a user runs them: their tables,
// their answers with and without --exact-start, and their refusals of damaged input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "synth/synth.h"
#include "synth/tk1_sketch.h"
#include "temp_dir.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out, err;
};

Result RunTool(const TempDir& dir, std::vector<std::string> args) {
    const std::string outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
    args.insert(args.begin(), WTK_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileText(outPath),
            ReadFileText(errPath)};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, ',')) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    return cells;
}

constexpr int64_t kMinute = kMicrosecondsPerMinute;
const int32_t kStartMin = *EncodeMinuteNumber(2024, 6, 11, 8, 0);

// An output folder's TK1 file of a location: `minutes` minutes from kStartMin + first, one
// recording starting at its first minute; a porpoise train of 40 clicks at 60 ms in each minute
// listed in trainMinutes (from the file's start), beginning 10 s into it.
std::string WriteLocation(const std::string& folder, const std::string& location, int first,
                          int minutes, const std::vector<int>& trainMinutes) {
    fs::create_directories(folder);
    const int32_t start = kStartMin + first;
    const std::string path =
        folder + "/NewFileName" + location + " " + DateStringOf(start) + ".TK1";
    synth::TK1Sketch sketch(path, start);
    for (const int m : trainMinutes) {
        for (int k = 0; k < 40; ++k) {
            const int pmax = 200 - (k - 20) * (k - 20) / 8;
            sketch.Click(start + m, synth::SketchClick(10'000'000 + k * 60'000 + (k % 3) * 400, 133,
                                                       14, pmax));
        }
    }
    sketch.Finish(start + minutes - 1);
    tk1::RecordingRow row;
    row.Path = "/rec/" + location + ".wav";
    row.StartUs = int64_t{start} * kMinute;
    row.Zoned = true;
    row.TimeSource = "name";
    row.RateHz = 576000;
    row.Samples = int64_t{576000} * 60 * minutes;
    row.PlacedUs = *row.StartUs;
    synth::WriteSketchSideFiles(path, {row});
    return path;
}

TEST(PresenceCli, TrainsOfEveryLocationInAFolder) {
    TempDir dir;
    WriteLocation(dir / "out", "REEF", 0, 10, {1, 4});
    WriteLocation(dir / "out/more", "HARBOUR", 0, 3, {2});
    const Result r = RunTool(dir, {"trains", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0],
              "train,location,recording,start,end,clicks,ici_ms_modal,ici_ms_min,ici_ms_max,"
              "khz_median,pmax_median,class,quality,buzz_clicks,encounter");
    const std::vector<std::string> harbour = Cells(lines[1]);
    ASSERT_EQ(harbour.size(), 15u);
    EXPECT_EQ(harbour[0], "1");
    EXPECT_EQ(harbour[1], "NewFileNameHARBOUR");
    EXPECT_EQ(harbour[2], "/rec/HARBOUR.wav");
    EXPECT_EQ(harbour[3], "2024-06-11T08:02:10.000000Z");
    EXPECT_EQ(harbour[5], "40");
    EXPECT_EQ(harbour[11], "nbhf");
    EXPECT_EQ(harbour[14], "1");
    // Two trains three minutes apart at REEF: one encounter, numbered per location.
    EXPECT_EQ(Cells(lines[2])[0], "1");
    EXPECT_EQ(Cells(lines[3])[0], "2");
    EXPECT_EQ(Cells(lines[3])[1], "NewFileNameREEF");
    EXPECT_EQ(Cells(lines[3])[14], "1");
    // Encounters of high-quality trains only.
    const Result high = RunTool(dir, {"trains", "--min-quality", "high", dir / "out"});
    EXPECT_EQ(Cells(Lines(high.out)[1])[14], Cells(lines[1])[12] == "high" ? "1" : "");
}

TEST(PresenceCli, PresencePerHourWithEffortGapsAndAnOffset) {
    TempDir dir;
    // Two files of REEF, an hour apart: the hour between has no effort.
    WriteLocation(dir / "out", "REEF", 0, 30, {5});
    WriteLocation(dir / "out/later", "REEF", 120, 10, {});
    WriteLocation(dir / "out", "HARBOUR", 0, 10, {});
    const Result r =
        RunTool(dir, {"presence", "--per", "hour", "--utc-offset", "+02:00", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0],
              "period_start,location,recorded_minutes,recorded_s,nbhf_dpm,dolphin_dpm,"
              "sonar_minutes,buzz_minutes,nbhf_trains,encounters");
    EXPECT_EQ(lines[1],
              "2024-06-11T10:00:00.000000+02:00,NewFileNameHARBOUR,10,600.000000,0,0,0,0,0,0");
    EXPECT_EQ(lines[2],
              "2024-06-11T10:00:00.000000+02:00,NewFileNameREEF,30,1800.000000,1,0,0,0,1,1");
    EXPECT_EQ(lines[3], "2024-06-11T11:00:00.000000+02:00,NewFileNameREEF,0,0.000000,,,,,,");
    EXPECT_EQ(lines[4],
              "2024-06-11T12:00:00.000000+02:00,NewFileNameREEF,10,600.000000,0,0,0,0,0,0");
    // Per minute: one row a minute from the first to the last, gaps included.
    const Result m = RunTool(dir, {"presence", "--per", "minute", dir / "out/later"});
    EXPECT_EQ(Lines(m.out).size(), 11u);
}

TEST(PresenceCli, DumpCsvTrainsGivesEachClickItsTrain) {
    TempDir dir;
    const std::string tk1 = WriteLocation(dir / "out", "REEF", 0, 5, {1, 3});
    const Result r = RunTool(dir, {"dump", "--csv", "--trains", tk1});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 81u);
    EXPECT_TRUE(lines[0].ends_with(",recording_time,train,class")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(",1,nbhf")) << lines[1];
    EXPECT_TRUE(lines[80].ends_with(",2,nbhf")) << lines[80];
    // The plain dump is as it was.
    const Result plain = RunTool(dir, {"dump", "--csv", tk1});
    EXPECT_EQ(Lines(plain.out)[1] + ",1,nbhf", lines[1]);
    EXPECT_EQ(RunTool(dir, {"dump", "--trains", tk1}).status, 2);
    EXPECT_EQ(RunTool(dir, {"dump", "--csv", "--min-quality", "high", tk1}).status, 2);
}

TEST(PresenceCli, AnswersAreTheSameWithOrWithoutExactStart) {
    TempDir dir;
    // A recording starting 30.5 s into its minute with trains of 130 kHz clicks.
    synth::RecordingSpec spec;
    spec.Seconds = 20;
    spec.NoiseRms = 3;
    synth::TrainPlan plan;
    plan.Seconds = 20;
    plan.MinPeak = 1500;
    spec.Trains = synth::PlanTrains(plan);
    fs::create_directories(dir / "wav");
    synth::WriteWav(dir / "wav/LOC.20240611080030.wav", spec);
    std::vector<std::vector<std::string>> starts;
    for (const bool exact : {false, true}) {
        const std::string out = dir / (exact ? "exact" : "minute");
        std::vector<std::string> args = {"convert", "-q", "-o", out, dir / "wav"};
        if (exact) args.push_back("--exact-start");
        ASSERT_EQ(RunTool(dir, args).status, 0);
        const Result r = RunTool(dir, {"trains", out});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::string> s;
        for (const std::string& line : Lines(r.out)) s.push_back(Cells(line)[3]);
        starts.push_back(s);
    }
    ASSERT_GT(starts[0].size(), 2u);
    EXPECT_EQ(starts[0], starts[1]);
    EXPECT_TRUE(starts[0][1].starts_with("2024-06-11T08:00:3")) << starts[0][1];
}

TEST(PresenceCli, DamagedInputIsRefusedByNameAndPlaceWithNothingWritten) {
    const struct {
        const char* What;
        const char* Suffix;  // of the file damaged
        std::function<void(std::vector<uint8_t>&)> Damage;
        const char* Named;  // in the message
    } kRows[] = {
        {"cut TK1", ".TK1", [](auto& b) { b.resize(b.size() - 7); }, ": byte "},
        {"TK1 without its end", ".TK1", [](auto& b) { b.resize(b.size() - 16); },
         ": no end record"},
        {"recordings table", ".recordings.csv",
         [](auto& b) {
             const std::string junk = "x,y\r\n";
             b.insert(b.end(), junk.begin(), junk.end());
         },
         "line 3 is no recordings table row"},
        {"linkage file", ".txt",
         [](auto& b) {
             b.insert(b.begin(), {'?', '\r', '\n'});
         },
         ": line 1: no source linkage line"},
    };
    for (const auto& row : kRows) {
        TempDir dir;
        const std::string tk1 = WriteLocation(dir / "out", "REEF", 0, 5, {1});
        const std::string damaged = tk1.substr(0, tk1.size() - 4) + row.Suffix;
        std::vector<uint8_t> bytes = ReadFileBytes(damaged);
        row.Damage(bytes);
        WriteFileBytes(damaged, bytes);
        for (const char* verb : {"trains", "presence"}) {
            const Result r = RunTool(dir, {verb, dir / "out"});
            EXPECT_EQ(r.status, 1) << row.What << " " << verb;
            EXPECT_EQ(r.out, "") << row.What << " " << verb;
            EXPECT_NE(r.err.find(fs::path(damaged).filename().string()), std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find(row.Named), std::string::npos) << row.What << ": " << r.err;
            const Result file = RunTool(dir, {verb, "-o", dir / "table.csv", dir / "out"});
            EXPECT_EQ(file.status, 1);
            EXPECT_FALSE(fs::exists(dir / "table.csv"));
        }
        const Result dump = RunTool(dir, {"dump", "--csv", "--trains", tk1});
        EXPECT_NE(dump.status, 0) << row.What;
    }
}

TEST(PresenceCli, OutputsTakeTheirNameOnlyWhereAllowed) {
    TempDir dir;
    const std::string tk1 = WriteLocation(dir / "out", "REEF", 0, 5, {1});
    WriteFileBytes(dir / "trains.csv", {'o', 'l', 'd'});
    const Result refused = RunTool(dir, {"trains", "-o", dir / "trains.csv", dir / "out"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("there already"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFileText(dir / "trains.csv"), "old");
    const Result replaced =
        RunTool(dir, {"trains", "--overwrite", "-o", dir / "trains.csv", dir / "out"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(ReadFileText(dir / "trains.csv").starts_with("train,location"));
    // An output never replaces an input, not even with --overwrite.
    const std::string table = tk1.substr(0, tk1.size() - 4) + ".recordings.csv";
    const std::string before = ReadFileText(table);
    const Result input = RunTool(dir, {"presence", "--overwrite", "-o", table, dir / "out"});
    EXPECT_EQ(input.status, 2);
    EXPECT_EQ(ReadFileText(table), before);
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    }
}

TEST(PresenceCli, WithoutARecordingsTableOneWarningAndTheMinuteClock) {
    TempDir dir;
    const std::string tk1 = WriteLocation(dir / "out", "REEF", 0, 5, {1});
    fs::remove(tk1.substr(0, tk1.size() - 4) + ".recordings.csv");
    const Result r = RunTool(dir, {"presence", dir / "out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("minute-exact only"), std::string::npos) << r.err;
    EXPECT_EQ(Cells(Lines(r.out)[1])[2], "5");
    EXPECT_EQ(RunTool(dir, {"presence", "-q", dir / "out"}).err, "");
}

TEST(PresenceCli, UsageRefusals) {
    TempDir dir;
    WriteLocation(dir / "out", "REEF", 0, 2, {});
    const struct {
        std::vector<std::string> Args;
        const char* Says;
    } kRows[] = {
        {{"presence", "--per", "week", dir / "out"}, "--per takes minute, hour or day"},
        {{"presence", "--utc-offset", "+2", dir / "out"}, "--utc-offset takes +HH:MM"},
        {{"trains", "--set-train", "MinClick=8", dir / "out"}, "did you mean MinClicks?"},
        {{"trains", "--set-train", "MinClicks=two", dir / "out"}, "MinClicks takes a number"},
        {{"trains", "--min-quality", "best", dir / "out"}, "--min-quality takes low"},
        {{"trains", "--per", "day", dir / "out"}, "trains takes no option --per"},
        {{"trains"}, "trains needs PATH..."},
        {{"presence", dir / "nowhere"}, "does not exist"},
    };
    for (const auto& row : kRows) {
        const Result r = RunTool(dir, row.Args);
        EXPECT_NE(r.status, 0) << row.Says;
        EXPECT_NE(r.err.find(row.Says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const Result help = RunTool(dir, {"trains", "--help"});
    EXPECT_NE(help.out.find("MaxIciChange"), std::string::npos);
    EXPECT_NE(help.out.find("EncounterGapMinutes"), std::string::npos);
}

}  // namespace
}  // namespace wtk::test
