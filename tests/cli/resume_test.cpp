// A long conversion killed part of the way and run again with --resume: the locations whose
// files are complete are kept, one line each, the rest converted, and the result is that of one
// run that was never interrupted. Files of other settings are replaced only with --overwrite.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "synth/synth.h"
#include "temp_dir.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

struct Ran {
    int status = -1;  // the exit status, or 128 + the signal that ended the tool
    bool killed = false;
    std::string out, err;
};

// Runs the tool with stdout and stderr in files; with killWhenThere, kills it (SIGKILL) as soon
// as that file exists.
Ran RunTool(const TempDir& dir, std::vector<std::string> args,
            const std::string& killWhenThere = "") {
    const std::string outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
    args.insert(args.begin(), WTK_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Ran r;
    int wstatus = 0;
    for (;;) {
        if (!killWhenThere.empty() && !r.killed && fs::exists(killWhenThere)) {
            ::kill(pid, SIGKILL);
            r.killed = true;
        }
        const pid_t done = ::waitpid(pid, &wstatus, killWhenThere.empty() ? 0 : WNOHANG);
        if (done == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = ReadFileText(outPath);
    r.err = ReadFileText(errPath);
    return r;
}

// Every file of a folder with its bytes, the minute of finalisation in TK1 headers zeroed.
std::map<std::string, std::vector<uint8_t>> Outputs(const std::string& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        std::vector<uint8_t> bytes = ReadFileBytes(e.path().string());
        if (e.path().extension() == ".TK1" && bytes.size() >= 268) {
            std::fill(bytes.begin() + 264, bytes.begin() + 268, 0);
        }
        files[e.path().filename().string()] = std::move(bytes);
    }
    return files;
}

class ResumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(archive);
        // A short first location; three that take longer to convert.
        Write("A.20230517140000.wav", 1, 1);
        Write("B.20230517120000.wav", 2, 25);
        Write("C.20230517100000.wav", 3, 25);
        Write("D.20230517080000.wav", 4, 25);
    }
    void Write(const std::string& name, uint64_t seed, double seconds) {
        synth::RecordingSpec spec;
        spec.SampleRate = 192000;
        spec.Seconds = seconds;
        spec.NoiseRms = 8;
        spec.Seed = seed;
        synth::ClickTrain t;
        t.FrequencyHz = 40000;
        t.StartSec = 0.1;
        t.Clicks = 20;
        t.PeakAmplitude = 2500;
        spec.Trains = {t};
        synth::WriteWav(archive + "/" + name, spec);
    }
    std::vector<std::string> Convert(const std::string& folder, std::vector<std::string> more) {
        std::vector<std::string> args = {"convert", "--ipi-export", "-o", folder};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(archive);
        return args;
    }

    TempDir dir;
    std::string archive = dir / "archive";
};

TEST_F(ResumeTest, AKilledRunResumedGivesTheFilesOfOneUninterruptedRun) {
    const std::string whole = dir / "whole", resumed = dir / "resumed";
    const Ran reference = RunTool(dir, Convert(whole, {"--jobs", "2"}));
    ASSERT_EQ(reference.status, 0) << reference.err;
    const auto expected = Outputs(whole);
    ASSERT_EQ(expected.size(), 16u);  // per location: TK1, linkage, recordings, IPI export

    // Killed once the first location's files are in place (its IPI export goes last, when its
    // batch ends).
    const std::string firstDone = resumed + "/NewFileNameA 2023 05 17.TK1";
    const Ran killed = RunTool(dir, Convert(resumed, {"--jobs", "2"}),
                               resumed + "/NewFileName A 2023 05 17 IPIs.txt");
    ASSERT_TRUE(killed.killed) << "the run ended before its first location was done";
    ASSERT_EQ(killed.status, 128 + SIGKILL);

    // Without --resume the files there refuse the run; with it the run goes on.
    EXPECT_EQ(RunTool(dir, Convert(resumed, {"--jobs", "2"})).status, 2);
    const Ran again = RunTool(dir, Convert(resumed, {"--jobs", "2", "--resume"}));
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(
        again.err.find("wavtokeb-cli: Kept, complete from an earlier run: " + firstDone + "\n"),
        std::string::npos)
        << again.err;
    // Not every location was done when the run was killed: some were converted now.
    size_t keptLines = 0;
    for (size_t at = 0; (at = again.err.find("Kept, complete", at)) != std::string::npos; ++at) {
        ++keptLines;
    }
    EXPECT_LT(keptLines, 4u) << again.err;
    EXPECT_TRUE(Outputs(resumed) == expected);  // nothing hidden is left either
    // Its summary is that of the run that was not interrupted.
    EXPECT_EQ(again.out, reference.out);

    // Run again: every location is kept, no file touched.
    const auto mtime = fs::last_write_time(firstDone);
    const Ran kept = RunTool(dir, Convert(resumed, {"--resume"}));
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(kept.out, reference.out);
    EXPECT_EQ(std::count(kept.err.begin(), kept.err.end(), '\n'), 4) << kept.err;
    EXPECT_EQ(fs::last_write_time(firstDone), mtime);

    // What a run cut short between the names of a location's files leaves (its linkage file
    // alone): converted again, that file replaced.
    const std::string b = resumed + "/NewFileNameB 2023 05 17";
    fs::remove(b + ".TK1");
    fs::remove(b + ".recordings.csv");
    const Ran unfinished = RunTool(dir, Convert(resumed, {"--resume"}));
    EXPECT_EQ(unfinished.status, 0) << unfinished.err;
    EXPECT_EQ(unfinished.out, reference.out);
    EXPECT_TRUE(Outputs(resumed) == expected);

    // Other settings: refused, naming each location, unless --overwrite.
    const Ran other = RunTool(dir, Convert(resumed, {"--resume", "--preset", "severe"}));
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("wavtokeb-cli: A: NewFileNameA 2023 05 17.TK1 was made with other "
                             "settings"),
              std::string::npos)
        << other.err;
    EXPECT_NE(other.err.find("4 locations' files are of other recordings or settings than this "
                             "run's: nothing converted (--overwrite converts them again)"),
              std::string::npos)
        << other.err;
    EXPECT_TRUE(Outputs(resumed) == expected);
}

TEST_F(ResumeTest, ResumeNeedsTheRecordingsTablesAndWritesNoMinutesFile) {
    for (const std::vector<std::string>& more :
         {std::vector<std::string>{"--resume", "--no-recordings"},
          std::vector<std::string>{"--resume", "--minutes", dir / "m.txt"}}) {
        const Ran r = RunTool(dir, Convert(dir / "out", more));
        EXPECT_EQ(r.status, 2) << more[1];
        EXPECT_NE(r.err.find("--resume"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

}  // namespace
}  // namespace wtk::test
