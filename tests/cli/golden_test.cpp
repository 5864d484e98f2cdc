// Whole conversions by the built wavtokeb-cli of generated recordings, compared by SHA-256
// with the values kept in golden_outputs.txt: every file written into the output directory
// (a TK1 file with its finalisation minute masked) and stdout. The cases cover quiet, noisy and
// busy water; 576, 500, 384 and 97 k samples/s; two locations with a gap; files continuing an
// open minute; an undated file; graphs on and off; each sensitivity method; the IPI export.
//
// A change that alters output bytes on purpose updates golden_outputs.txt in the same commit:
//   WTK_UPDATE_GOLDEN=1 build/tests/cli/golden_tests
// rewrites the values of the cases it runs from what the tool wrote. WTK_GOLDEN_KEEP=DIR keeps
// each case's output folder as DIR/<case> (the Python reader's tests read those files).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sha256.h"
#include "synth/synth.h"
#include "temp_dir.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

struct Recording {
    std::string name;
    double seconds;
    double noiseRms;
    uint64_t seed;
    double clickKHz = 130;  // 0: no clicks
    double maxGapSec = 6;   // quiet time before each train, up to
    double maxPeak = 4000;
};

struct GoldenCase {
    std::string id;
    std::vector<Recording> recordings;
    std::vector<std::string> args;  // besides --out, --minutes and the input directory
};

void WriteRecording(const std::string& dir, const Recording& r, int32_t rate) {
    synth::RecordingSpec spec;
    spec.SampleRate = rate;
    spec.Seconds = r.seconds;
    spec.NoiseRms = r.noiseRms;
    spec.Seed = r.seed;
    if (r.clickKHz > 0) {
        synth::TrainPlan plan;
        plan.Seed = r.seed * 7919u;
        plan.Seconds = r.seconds;
        plan.FrequencyHz = r.clickKHz * 1000;
        plan.MaxGapSec = r.maxGapSec;
        plan.MinGapSec = std::min(plan.MinGapSec, r.maxGapSec);
        plan.MaxPeak = r.maxPeak;
        spec.Trains = synth::PlanTrains(plan);
    }
    synth::WriteWav(dir + "/" + r.name, spec);
}

// Runs the tool in dir (relative paths keep the source linkage lines free of the temporary
// directory's name); returns its exit status, stdout into dir/stdout.
int RunIn(const std::string& dir, std::vector<std::string> args) {
    args.insert(args.begin(), WTK_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        const int o = ::open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::dup2(in, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// "file<TAB>sha256" for stdout and every output file, sorted by name.
std::map<std::string, std::string> Digests(const std::string& dir) {
    std::map<std::string, std::string> d;
    d["stdout"] = Sha256Hex(ReadFileText(dir + "/stdout"));
    for (const auto& e : fs::directory_iterator(dir + "/out")) {
        // The recordings tables name the recordings by their absolute paths, which differ from
        // run to run; their contents are checked by the CLI tests.
        if (e.path().filename().string().ends_with(".recordings.csv")) continue;
        std::string bytes = ReadFileText(e.path().string());
        // The minute at which the file was finalised is the wall clock's.
        if (e.path().extension() == ".TK1" && bytes.size() >= 268) {
            std::fill(bytes.begin() + 264, bytes.begin() + 268, '\0');
        }
        d[e.path().filename().string()] = Sha256Hex(bytes);
    }
    return d;
}

// The kept values: lines "case<TAB>file<TAB>sha256".
std::map<std::string, std::string> KeptDigests(const std::string& id) {
    std::map<std::string, std::string> d;
    const std::string text = ReadFileText(WTK_GOLDEN_FILE);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t t1 = line.find('\t'), t2 = line.rfind('\t');
        if (t1 == std::string::npos || t1 == t2 || line.substr(0, t1) != id) continue;
        d[line.substr(t1 + 1, t2 - t1 - 1)] = line.substr(t2 + 1);
    }
    return d;
}

// Replaces the case's lines in the kept file (locked, as cases may run side by side).
void UpdateKeptDigests(const std::string& id, const std::map<std::string, std::string>& d) {
    const int fd = ::open(WTK_GOLDEN_FILE, O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::flock(fd, LOCK_EX);
    const std::string text = ReadFileText(WTK_GOLDEN_FILE);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        if (!line.starts_with(id + "\t")) lines.push_back(line);
        pos = end + 1;
    }
    for (const auto& [file, sha] : d) lines.push_back(id + "\t" + file + "\t" + sha);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    WriteFileBytes(WTK_GOLDEN_FILE, std::vector<uint8_t>(out.begin(), out.end()));
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

void ExpectGolden(const GoldenCase& c, int32_t rate) {
    TempDir dir;
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "out");
    for (const Recording& r : c.recordings) WriteRecording(dir / "in", r, rate);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--out", "out", "--minutes", "out/minutes.txt", "in"});
    ASSERT_EQ(RunIn(dir.path().string(), args), 0) << ReadFileText(dir / "stderr");
    if (const char* keep = std::getenv("WTK_GOLDEN_KEEP")) {
        fs::create_directories(fs::path(keep) / c.id);
        fs::copy(dir / "out", fs::path(keep) / c.id,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    const auto digests = Digests(dir.path().string());
    if (std::getenv("WTK_UPDATE_GOLDEN") != nullptr) {
        UpdateKeptDigests(c.id, digests);
        return;
    }
    const auto kept = KeptDigests(c.id);
    std::string actual;
    for (const auto& [file, sha] : digests) actual += c.id + "\t" + file + "\t" + sha + "\n";
    EXPECT_EQ(digests, kept) << "output of case " << c.id << " now:\n" << actual;
}

TEST(GoldenOutputs, TwoLocationsWithAGapAt576GainStepsAndIpiExport) {
    // A quiet minute and more with clicks, then an empty minute and a noisy file; a busy
    // second location. Every minute end raises the gain (fewer than 999 clicks).
    ExpectGolden({"576",
                  {{"HARBOUR.20230517140000.wav", 60.5, 3, 101},
                   {"HARBOUR.20230517140300.wav", 4, 10, 102, 128, 1},
                   {"REEF.20230517140000.wav", 3, 30, 103, 133, 0.3, 8000}},
                  {"convert", "--rate", "576", "--site", "GOLD", "--logger", "7", "--ipi-export",
                   "--ipi-limit", "200000", "--set", "TooQuietCountEdit=999"}},
                 576000);
}

TEST(GoldenOutputs, GraphsOnAt500WithAQuietBlockAndFilesSharingAMinute) {
    // A noisy file; a nearly silent one, whose block the graphs' quiet test skips; a busy one
    // starting in the minute the silent one left open. The rate is the headers', as without
    // --rate.
    ExpectGolden({"500",
                  {{"BAY.20230517150000.wav", 5, 10, 201},
                   {"BAY.20230517150100.wav", 3, 1, 202, 0},
                   {"BAY.20230517150130.wav", 4, 30, 203, 125, 0.5, 8000}},
                  {"convert", "--graphs", "--no-linkage"}},
                 500000);
}

TEST(GoldenOutputs, SeverePresetAt384WithoutSensitivityStepsAndAnUndatedFile) {
    // The minute end leaves gain and threshold as they are.
    ExpectGolden(
        {"384",
         {{"SOUND.20230601000000.wav", 60.5, 10, 301, 120, 1},
          {"unnamed recording.wav", 2, 5, 302, 110, 0.5}},
         {"convert", "--rate", "384", "--preset", "severe", "--set", "GainControlGroup=2"}},
        384000);
}

TEST(GoldenOutputs, ScrapbookAt97ThresholdStepsOverSeveralMinutes) {
    // Every minute with a click is noisy and acts at once: the threshold rises each minute.
    ExpectGolden({"97",
                  {{"DEEP.20230517140000.wav", 125, 8, 401, 40, 2},
                   {"DEEP.20230517140500.wav", 20, 20, 402, 38, 1}},
                  {"scrapbook", "--rate", "97", "--ipi-export", "--set", "GainControlGroup=1",
                   "--set", "NoisyLevelEdit=0", "--set", "NoisyMinsEdit=0"}},
                 97000);
}

}  // namespace
}  // namespace wtk::test
