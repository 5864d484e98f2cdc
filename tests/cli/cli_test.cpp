// The built wavtokeb-cli run as a user runs it: exit statuses, what goes to stdout and stderr,
// refusals before anything is written, CR LF outputs, list, dump and dump --csv.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "settings/settings_form.h"
#include "synth/archive_formats.h"
#include "synth/synth.h"
#include "temp_dir.h"
#include "tk1_reader.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out, err;
    // With Launch::killWhileWritingIn: the tool had put its files in place before the
    // temporary TK1 file was seen (a loaded machine), and was killed at its next output instead.
    bool missedWriting = false;
};

// How the tool is started apart from its arguments.
struct Launch {
    bool closedStdout = false;      // stdout is a pipe whose reader has gone
    bool pendingInterrupt = false;  // a SIGINT waits, blocked, from before the tool starts
    // SIGTERM once the batch has begun (stdout's header line has come), sent while the tool
    // cannot write the summary line of its first TK1 file: stdout is a pipe kept nearly full
    // until then, so the stop is taken in the first name group or, at the latest, the second.
    bool terminateAtBatchStart = false;
    // With terminateAtBatchStart: SIGKILL instead, once a temporary TK1 file has appeared in this
    // folder as well (the tool then waits at the summary line of that file, before it is renamed
    // into place).
    std::string killWhileWritingIn = {};
    // With terminateAtBatchStart and killWhileWritingIn: done at that point instead of the kill,
    // after which the tool goes on (what another run or a user does meanwhile).
    std::function<void()> meanwhile = {};
    // Done while the tool waits to write its first message to stderr (a pipe kept full until
    // then), after which the tool goes on: what another run or a user does meanwhile.
    std::function<void()> atFirstMessage = {};
    bool unprivileged = false;  // run by root: as the user nobody, whom permissions restrain
    long fileSizeLimit = -1;    // bytes a file may grow to (writes beyond fail as on a full disk)
    mode_t umask = 022;
};

// Room left in the nearly full stdout pipe: the header line fits, a summary line does not.
constexpr size_t kHeaderLineBytes = 38;  // "TK1BriefName\tNofWavFiles\tcompression\r\n"
constexpr size_t kPipeRoom = kHeaderLineBytes + 16;

// What is left to read from a pipe, read to its end and closed, without the filler bytes put
// into it first.
std::string Drained(int fd, size_t filler) {
    std::string text;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text.erase(0, std::min(filler, text.size()));
}

// Runs the tool with stdout and stderr in files (so that neither is a terminal).
// The thread of process pid that is in system call `call` with first argument arg0: its id, 0
// while there is none, -1 when the system calls of pid's threads cannot be seen.
pid_t ThreadInSystemCall(pid_t pid, long call, long arg0) {
    bool seen = false;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream file(task.path() / "syscall");
        std::string number, first;
        if (!(file >> number)) continue;
        seen = true;  // "running", or the call and its arguments
        if (number == std::to_string(call) && file >> first &&
            std::strtol(first.c_str(), nullptr, 16) == arg0) {
            return static_cast<pid_t>(std::stol(task.path().filename().string()));
        }
    }
    return seen ? 0 : -1;
}

Result RunCli(const TempDir& dir, std::vector<std::string> args, Launch launch = {}) {
    const std::string outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
    args.insert(args.begin(), WTK_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    const bool piped = launch.closedStdout || launch.terminateAtBatchStart;
    if (piped) {
        EXPECT_EQ(::pipe(pipeEnds), 0);
    }
    if (launch.closedStdout) ::close(pipeEnds[0]);
    // A stderr pipe with less room left than any message needs.
    int errEnds[2] = {-1, -1};
    size_t errFiller = 0;
    if (launch.atFirstMessage) {
        EXPECT_EQ(::pipe(errEnds), 0);
        errFiller = static_cast<size_t>(::fcntl(errEnds[1], F_GETPIPE_SZ)) - 8;
        const std::string bytes(errFiller, '-');
        EXPECT_EQ(::write(errEnds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(errFiller));
    }
    size_t filler = 0;
    if (launch.terminateAtBatchStart) {
        // Whole pages fill up one after another, so the last page keeps exactly kPipeRoom
        // bytes free; a write of up to a page that does not fit there waits for the reader.
        const int capacity = ::fcntl(pipeEnds[1], F_GETPIPE_SZ);
        EXPECT_GT(capacity, static_cast<int>(kPipeRoom));
        filler = static_cast<size_t>(capacity) - kPipeRoom;
        const std::string bytes(filler, '-');
        EXPECT_EQ(::write(pipeEnds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(filler));
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (launch.pendingInterrupt) {
            // The child interrupts itself with SIGINT blocked, so the signal is pending when the
            // tool starts, however the two processes are scheduled.
            sigset_t interrupt;
            sigemptyset(&interrupt);
            sigaddset(&interrupt, SIGINT);
            ::sigprocmask(SIG_BLOCK, &interrupt, nullptr);
            ::raise(SIGINT);
        }
        if (launch.terminateAtBatchStart) ::close(pipeEnds[0]);
        const int o =
            piped ? pipeEnds[1] : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (launch.atFirstMessage) ::close(errEnds[0]);
        const int e = launch.atFirstMessage
                          ? errEnds[1]
                          : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::dup2(in, 0);
        std::signal(SIGPIPE, SIG_DFL);  // as from a shell, whatever the test runner does
        ::umask(launch.umask);
        if (launch.unprivileged && ::geteuid() == 0 &&
            (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(127);
        if (launch.fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = static_cast<rlim_t>(launch.fileSizeLimit);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int wstatus = 0;
    bool exited = false;
    bool missedWriting = false;
    if (launch.atFirstMessage) {
        ::close(errEnds[1]);
        // Until the tool waits in a write to its stderr (or has ended, or its system calls
        // cannot be seen here: then the pipe is drained without waiting, and the test fails).
        bool seen = true;
        auto writingErr = [&] {
            std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
            seen = syscall.is_open();
            std::string number, fd;
            return static_cast<bool>(syscall >> number >> fd) &&
                   number == std::to_string(SYS_write) && fd == "0x2";
        };
        while (!writingErr() && seen) {
            if (::waitpid(pid, &wstatus, WNOHANG) == pid) {
                exited = true;
                break;
            }
            ::usleep(1000);
        }
        EXPECT_TRUE(seen) << "the tool's system calls cannot be seen here";
        EXPECT_FALSE(exited) << "the tool wrote no message";
        if (!exited && seen) launch.atFirstMessage();
        const std::string text = Drained(errEnds[0], errFiller);
        WriteFileBytes(errPath, std::vector<uint8_t>(text.begin(), text.end()));
    }
    if (piped) {
        ::close(pipeEnds[1]);
        std::string text;
        if (launch.terminateAtBatchStart) {
            // Wait (without reading, which would make room) until the header line is in.
            int queued = 0;
            const std::string& folder = launch.killWhileWritingIn;
            auto writing = [&] {
                for (const auto& e : fs::directory_iterator(folder)) {
                    if (e.path().string().ends_with(".TK1.wtk-part")) return true;
                }
                return false;
            };
            bool missed = false;
            while ((::ioctl(pipeEnds[0], FIONREAD, &queued) == 0 &&
                    static_cast<size_t>(queued) < filler + kHeaderLineBytes) ||
                   (!folder.empty() && !writing())) {
                if (::waitpid(pid, &wstatus, WNOHANG) == pid) {
                    exited = true;
                    break;
                }
                // Waiting at a summary line with no temporary file left: the files were put in
                // place (a file that replaces an earlier one is, when the batch ends) while this
                // thread did not look.
                if (!folder.empty() && static_cast<size_t>(queued) >= filler + kHeaderLineBytes &&
                    ThreadInSystemCall(pid, SYS_write, STDOUT_FILENO) > 0 && !writing()) {
                    missed = true;
                    break;
                }
                ::usleep(1000);
            }
            if (launch.meanwhile && !exited && !missed) {
                launch.meanwhile();
            } else {
                ::kill(pid, folder.empty() ? SIGTERM : SIGKILL);
            }
            text = Drained(pipeEnds[0], filler);
            missedWriting = missed;
        }
        WriteFileBytes(outPath, std::vector<uint8_t>(text.begin(), text.end()));
    }
    if (!exited) ::waitpid(pid, &wstatus, 0);
    Result r;
    r.missedWriting = missedWriting;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = ReadFileText(outPath);
    r.err = ReadFileText(errPath);
    return r;
}

// Lines of a text, each required to end in the given line end.
std::vector<std::string> Lines(const std::string& text, const std::string& eol = "\r\n") {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find(eol, pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated line: " << text.substr(pos);
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + eol.size();
    }
    if (eol == "\r\n") {
        for (const auto& l : lines)
            EXPECT_EQ(l.find('\r'), std::string::npos) << "bare CR in " << l;
    }
    return lines;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> cells;
    size_t pos = 0;
    for (;;) {
        const size_t end = s.find(sep, pos);
        cells.push_back(s.substr(pos, end - pos));
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return cells;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        wavs = dir / "wavs";
        out = dir / "out";
        fs::create_directories(wavs);
        fs::create_directories(out);
    }
    std::string Silent(const std::string& name, double seconds, int rate = 2000) {
        const std::string p = wavs + "/" + name;
        WriteSamplesFile(p, std::vector<int16_t>(static_cast<size_t>(std::lround(seconds * rate))),
                         rate);
        return p;
    }
    TempDir dir;
    std::string wavs, out;
};

// Every file under root, apart from the tool's captured stdout and stderr.
// The files under root with their sizes and modification times, so that a file written again
// shows even with its size unchanged.
std::vector<std::string> FilesUnder(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().filename().string();
        if (name == "stdout.txt" || name == "stderr.txt") continue;
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        files.push_back(e.path().string() + " " + std::to_string(st.st_size) + " " +
                        std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec));
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(CliTest, RefusalsGiveStatus2AndChangeNothing) {
    Silent("A.20230517140000.wav", 1);
    const std::string file = wavs + "/A.20230517140000.wav";
    // What a conversion must not write over or must not write at all: the output of an earlier
    // run, a minutes file, a recording not named .wav, a WAV file under another name, two
    // recordings 61 days apart and two 99 years apart; and files dump must not read or write.
    const std::string done = dir / "done", minutes = dir / "m.txt",
                      recording = dir / "B.20230517140000.rec";
    const std::string take = dir / "take.bin", gap = dir / "gap", century = dir / "century";
    const std::string pipe = dir / "pipe.TK1";
    ASSERT_EQ(RunCli(dir, {"convert", "-r", "2", "-o", done, wavs}).status, 0);
    const std::string doneTK1 = done + "/NewFileNameA 2023 05 17.TK1";
    // An earlier Raven table of the recording; a TK1 file without its side files.
    WriteFileBytes(done + "/A.20230517140000.Table.1.selections.txt", {'x'});
    const std::string alone = dir / "alone.TK1";
    fs::copy_file(doneTK1, alone);
    WriteFileBytes(minutes, {'x'});
    fs::copy_file(file, recording);
    fs::copy_file(file, take);
    fs::create_directories(gap);
    fs::copy_file(file, gap + "/A.20230517140000.wav");
    fs::copy_file(file, gap + "/A.20230717140000.wav");
    const std::string run = dir / "run";  // two back to back, then a minute without recording
    fs::create_directories(run);
    for (const char* name : {"A.20230517140000.wav", "A.20230517140100.wav"}) {
        WriteSamplesFile(run + "/" + name, std::vector<int16_t>(120000), 2000);
    }
    fs::copy_file(file, run + "/A.20230517140400.wav");
    fs::create_directories(century);
    fs::copy_file(file, century + "/A.20000517140000.wav");
    fs::copy_file(file, century + "/A.20990517140000.wav");
    // A name of 255 bytes: the TK1 and linkage names made of it are longer.
    const std::string longNames = dir / "long", longLocation(236, 'L');
    fs::create_directories(longNames);
    fs::copy_file(file, longNames + "/" + longLocation + ".20230517140000.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // A recording whose own time a shift would move before the minutes begin.
    const std::string early = dir / "early";
    fs::create_directories(early);
    synth::RecorderStamp stamp;
    stamp.Style = synth::RecorderStyle::Guano;
    stamp.StartUtcMicroseconds = synth::StartMicroseconds(1899, 12, 30, 1, 0, 0);
    synth::RecordingSpec tiny;
    tiny.SampleRate = 2000;
    synth::WriteRecorderRecording(early, tiny, stamp);
    const std::string nothing = "nothing converted";
    const std::string fresh = out + "/new/deeper";  // created only when a conversion starts
    const std::string see = " (see wavtokeb-cli --help)";
    const std::string seeConvert = " (see wavtokeb-cli convert --help)";
    const std::string seeList = " (see wavtokeb-cli list --help)";
    const std::string seeReport = " (see wavtokeb-cli report --help)";
    const std::string report = dir / "report.html";
    struct Case {
        std::vector<std::string> args;
        std::string message;  // the line after "wavtokeb-cli: "
    };
    const std::vector<Case> cases = {
        {{},
         "a command is required: convert, scrapbook, list, dump, settings, trains, presence or "
         "report" +
             see},
        {{"conver", wavs}, "unknown command \"conver\", did you mean convert?" + see},
        {{"lis", wavs}, "unknown command \"lis\", did you mean list?" + see},
        {{"--verison"}, "unknown option --verison, did you mean --version?" + see},
        {{"-v"}, "unknown option -v, did you mean -V?" + see},
        {{"--rate", "2", "list", wavs},
         "the command comes first: wavtokeb-cli COMMAND [options], not --rate" + see},
        {{"convert", "--bogus", "--out", fresh, wavs},
         "unknown option --bogus for convert" + seeConvert},
        {{"convert", "--ouy", fresh, wavs},
         "unknown option --ouy for convert, did you mean --out?" + seeConvert},
        {{"scrap", wavs}, "unknown command \"scrap\", did you mean scrapbook?" + see},
        {{"convert", "--prog", "-o", fresh, wavs},
         "unknown option --prog for convert, did you mean --progress?" + seeConvert},
        {{"convert", "--ipi", "-o", fresh, wavs},
         "unknown option --ipi for convert, did you mean --ipi-export or --ipi-limit?" +
             seeConvert},
        {{"convert", "--output", fresh, wavs},
         "unknown option --output for convert, did you mean --out?" + seeConvert},
        {{"list", "--RATE", "2", wavs},
         "unknown option --RATE for list, did you mean --rate?" + seeList},
        {{"list", "-v", wavs}, "unknown option -v for list, did you mean -V?" + seeList},
        {{"list", "--csv", "--locations", wavs},
         "--csv and --locations exclude each other" + seeList},
        {{"list", "--out", fresh, wavs}, "list takes no option --out" + seeList},
        {{"list", "-o", fresh, wavs}, "list takes no option -o" + seeList},
        {{"list", "--minutes", dir / "m.txt", wavs}, "list takes no option --minutes" + seeList},
        {{"list", "--set", "MinNcycFedit=4", wavs}, "list takes no option --set" + seeList},
        {{"list", "-j", "2", wavs}, "list takes no option -j" + seeList},
        {{"convert", "--locations", "-o", fresh, wavs},
         "convert takes no option --locations" + seeConvert},
        {{"convert", "--jobs", "0", "-o", fresh, wavs},
         "--jobs takes a whole number of at least 1, not \"0\"" + seeConvert},
        {{"scrapbook", "-j2x", "-o", fresh, wavs},
         "--jobs takes a whole number of at least 1, not \"2x\" (see wavtokeb-cli scrapbook "
         "--help)"},
        {{"convert", "--graphs=1", "-o", fresh, wavs}, "--graphs takes no value" + seeConvert},
        {{"convert", wavs, "-o"}, "-o needs a value: -o DIR" + seeConvert},
        {{"convert", "-o", fresh}, "convert needs PATH..." + seeConvert},
        {{"convert", wavs}, "convert needs --out DIR" + seeConvert},
        {{"convert", "--out", file, wavs}, "--out " + file + " is not a directory" + seeConvert},
        {{"convert", "-o", file + "/x/y", wavs},
         "--out " + file + "/x/y cannot be created: " + file + " is not a directory" + seeConvert},
        {{"list", dir / "missing.wav"}, dir / "missing.wav" + " does not exist" + seeList},
        {{"convert", "-o", fresh, "--set", "NoSuchControl=1", wavs},
         "unknown settings control \"NoSuchControl\" in --set" + seeConvert},
        {{"convert", "-o", fresh, "--set", "MinNcycEdit=4", wavs},
         "unknown settings control \"MinNcycEdit\" in --set, did you mean MinNcycFedit?" +
             seeConvert},
        {{"convert", "-o", fresh, "--set", "Strong1=40", wavs},
         "unknown settings control \"Strong1\" in --set, did you mean Strong1Edit?" + seeConvert},
        {{"convert", "-o", fresh, "--set", "MinNcycFedit", wavs},
         "--set takes CONTROL=TEXT, not \"MinNcycFedit\"" + seeConvert},
        {{"convert", "-o", fresh, "--set", "MinNcycFedit=-1", wavs},
         "--set: MinNcycFedit (\"Min nCyc\") takes digits only, at most 3 characters, not \"-1\"" +
             seeConvert},
        {{"convert", "-o", fresh, "--set", "MinNcycFedit=1234", wavs},
         "--set: MinNcycFedit (\"Min nCyc\") takes digits only, at most 3 characters, not "
         "\"1234\"" +
             seeConvert},
        {{"convert", "-o", fresh, "--set", "GainControlGroup=3", wavs},
         "--set: GainControlGroup (\"method\") takes 0 ... 2 (gain, level, none), not \"3\"" +
             seeConvert},
        {{"convert", "-o", fresh, "--set", "FilterSonars=2", wavs},
         "--set: FilterSonars (\"Filter out boat sonars\") takes 0 or 1, not \"2\"" + seeConvert},
        {{"convert", "-o", fresh, "--set", "HighPassFilterCombo=4", wavs},
         "--set: HighPassFilterCombo (\"Filter\") takes 0 ... 3 (120kHz, 80kHz, 40kHz, 20kHz), "
         "not \"4\"" +
             seeConvert},
        {{"convert", "-o", fresh, "--ipi-limit", "-5", wavs},
         "--ipi-limit: IPIFileLineLimitEdit (\"File line limit\") takes digits only, at most 8 "
         "characters, not \"-5\"" +
             seeConvert},
        {{"convert", "-o", fresh, "--preset", "loud", wavs},
         "--preset takes normal, severe or minimal, not \"loud\"" + seeConvert},
        {{"convert", "-o", fresh, "--preset", "sever", wavs},
         "--preset takes normal, severe or minimal, not \"sever\", did you mean severe?" +
             seeConvert},
        {{"list", "--rate", "576000", wavs},
         "Sample rate k/s must be a whole number in the range 1 ... 2000, not \"576000\"; the "
         "unit is k samples/s: 576000 samples/s is --rate 576"},
        {{"convert", "-r", "2500", "-o", fresh, wavs},
         "Sample rate k/s must be a whole number in the range 1 ... 2000, not \"2500\"; the unit "
         "is k samples/s"},
        {{"convert", "-o", fresh, "--logger", "-3", wavs},
         "Logger ID number must not be negative: -3"},
        // A site name that would put the TK1 files elsewhere, or that no text output can show.
        {{"convert", "-o", fresh, "--site", "../x", wavs},
         "Site name must not contain \"/\", \"\\\" or control characters: \"../x\""},
        {{"scrapbook", "-o", fresh, "--site", "a\\b", wavs},
         "Site name must not contain \"/\", \"\\\" or control characters: \"a\\b\""},
        {{"convert", "-o", fresh, "--site", "a\tb\x7F", wavs},
         "Site name must not contain \"/\", \"\\\" or control characters: \"a\\tb\\x7F\""},
        {{"convert", "-q", "--progress", "-o", fresh, wavs},
         "-q (--quiet) and --progress exclude each other" + seeConvert},
        {{"convert", "--progress=0", "-o", fresh, wavs},
         "--progress takes a whole number of at least 1, not \"0\"" + seeConvert},
        {{"dump"}, "dump needs FILE.TK1 (see wavtokeb-cli dump --help)"},
        {{"dump", file},
         file + " is not a TK1 file: it is a WAV file (PCM, 16 bits, 1 channel, 2000 samples/s)"},
        {{"dump", "--linkage", file, file},
         "--linkage is used with --csv, --raven, --audacity or --minutes-csv only (see "
         "wavtokeb-cli dump --help)"},
        {{"dump", "--raven", "--minutes-csv", doneTK1},
         "--csv, --raven, --audacity and --minutes-csv exclude each other (see wavtokeb-cli "
         "dump --help)"},
        {{"dump", "--per-file", fresh, doneTK1},
         "--per-file is used with --raven only (see wavtokeb-cli dump --help)"},
        {{"dump", "--raven", "--per-file", done, doneTK1},
         done + "/A.20230517140000.Table.1.selections.txt\nwavtokeb-cli: 1 file is there "
                "already: nothing written (--overwrite replaces them)"},
        {{"dump", "--audacity", fresh, alone},
         "--audacity: the recordings of " + alone +
             " are not known: no source linkage file or recordings table beside it (--linkage "
             "FILE, --recordings FILE)"},
        {{"settings", "-r", "2"}, "settings takes no option -r (see wavtokeb-cli settings --help)"},
        {{"settings", file},
         "settings takes no operand, not 1: " + file + " (see wavtokeb-cli settings --help)"},
        {{"settings", "--set", "DeadbandEdit=1000"},
         "--set: DeadbandEdit (\"Deadband\") takes digits only, at most 3 characters, not "
         "\"1000\" (see wavtokeb-cli settings --help)"},
        {{"dump", file, file},
         "dump takes one FILE.TK1, not 2: " + file + " (see wavtokeb-cli dump --help)"},
        {{"convert", "--max-gap-days", "-1", "-o", fresh, wavs},
         "--max-gap-days takes a whole number of days, not \"-1\"" + seeConvert},
        // Refusals of what would be written, after the files are listed.
        {{"convert", "-r", "2", "-o", done, wavs},
         doneTK1 + "\nwavtokeb-cli: " + done + "/NewFileNameA 2023 05 17.txt\nwavtokeb-cli: " +
             done + "/NewFileNameA 2023 05 17.recordings.csv\nwavtokeb-cli: " +
             "3 files are there already: " + nothing + " (--overwrite replaces them)"},
        {{"convert", "-r", "2", "-o", done, "--jobs", "2", wavs},
         doneTK1 + "\nwavtokeb-cli: " + done + "/NewFileNameA 2023 05 17.txt\nwavtokeb-cli: " +
             done + "/NewFileNameA 2023 05 17.recordings.csv\nwavtokeb-cli: " +
             "3 files are there already: " + nothing + " (--overwrite replaces them)"},
        {{"scrapbook", "-r", "2", "-o", fresh, "--minutes", minutes, wavs},
         minutes + "\nwavtokeb-cli: 1 file is there already: " + nothing +
             " (--overwrite replaces them)"},
        {{"convert", "-r", "2", "-o", fresh, "--overwrite", "--minutes", file, wavs},
         "--minutes " + file + ": a name ending in .wav is taken for a recording; " + nothing},
        {{"convert", "-r", "2", "-o", fresh, "--minutes", dir / "M.WAV", wavs},
         "--minutes " + dir / "M.WAV" + ": a name ending in .wav is taken for a recording; " +
             nothing},
        {{"convert", "-r", "2", "-o", fresh, "--minutes", recording, recording},
         "--minutes " + recording + ": it is one of the recordings to convert; " + nothing},
        {{"convert", "-r", "2", "-o", fresh, "--overwrite", "--minutes", take, wavs},
         "--minutes " + take + ": it is a WAV file (it begins with RIFF); " + nothing},
        // --minutes naming a file the conversion writes itself, there or not yet, with or
        // without --overwrite.
        {{"convert", "-r", "2", "-o", done, "--overwrite", "--minutes", doneTK1, wavs},
         "--minutes " + doneTK1 + ": it is one of the files the conversion writes; " + nothing},
        {{"convert", "-r", "2", "-o", fresh, "--minutes", fresh + "/NewFileNameA 2023 05 17.txt",
          wavs},
         "--minutes " + fresh +
             "/NewFileNameA 2023 05 17.txt: it is one of the files the "
             "conversion writes; " +
             nothing},
        {{"convert", "-r", "2", "-o", fresh + "/", "--jobs", "2", "--ipi-export", "--minutes",
          out + "/new/./deeper/NewFileName A 2023 05 17 IPIs.txt", wavs},
         "--minutes " + out +
             "/new/./deeper/NewFileName A 2023 05 17 IPIs.txt: it is one of "
             "the files the conversion writes; " +
             nothing},
        // Names the folder's file system cannot hold are refused before hours of work.
        {{"convert", "-r", "2", "-o", fresh, longNames},
         "NewFileName" + longLocation +
             " 2023 05 17.TK1 is too long a file name for the folder (262 bytes, at most "
             "255)\nwavtokeb-cli: NewFileName" +
             longLocation +
             " 2023 05 17.txt is too long a file name for the folder (262 bytes, at most "
             "255)\nwavtokeb-cli: NewFileName" +
             longLocation +
             " 2023 05 17.recordings.csv is too long a file name for the folder (273 bytes, at "
             "most 255)\nwavtokeb-cli: " +
             nothing},
        {{"convert", "-r", "2", "-o", fresh, gap},
         "61.0 days (87839 minutes) from " + gap + "/A.20230517140000.wav to " + gap +
             "/A.20230717140000.wav\nwavtokeb-cli: 1 gap is longer than 31 days: " + nothing +
             " (--max-gap-days N allows gaps of up to N days)"},
        {{"convert", "-r", "2", "-o", fresh, "--max-gap-days", "0", run},
         "0.0 days (1 minute) from " + run + "/A.20230517140100.wav to " + run +
             "/A.20230517140400.wav\nwavtokeb-cli: 1 gap is longer than 0 days: " + nothing +
             " (--max-gap-days N allows gaps of up to N days)"},
        {{"convert", "-r", "2", "-o", done, "--overwrite", "--max-gap-days", "40000", century},
         "NewFileNameA 2000 05 17.TK1 would hold more minutes than a TK1 file can count "
         "(16777215, 11650.8 days): from " +
             century + "/A.20000517140000.wav to the end of " + century +
             "/A.20990517140000.wav\nwavtokeb-cli: " + nothing},
        // Corrections that place a recording nowhere, or that contradict each other.
        {{"convert", "-q", "-o", fresh, "--time-shift", "-02:00", early},
         early +
             "/rec1.wav: its start 1899-12-29T23:00:00.000000Z (guan, with -7200.000 s of "
             "--time-shift and --clock-error) lies before 1899-12-30 00:01, where the minutes of "
             "TK1 files begin: it cannot be placed\nwavtokeb-cli: " +
             nothing},
        {{"convert", "-o", fresh, "--clock-error", "2021-06-10T03:36=+1", "--clock-error",
          "2021-06-10 03:36:00=-2", wavs},
         "--clock-error gives two errors at 2021-06-10T03:36:00: one error per instant" +
             seeConvert},
        {{"dump", pipe}, pipe + " is not a TK1 file: it is a pipe"},
        {{"dump", "/dev/zero"}, "/dev/zero is not a TK1 file: it is a device"},
        // A report needs its file, a whole place, a clock and a quality it knows, and never
        // takes the place of a TK1 file or of an earlier report unasked.
        {{"report", done}, "report needs -o FILE (--out FILE)" + seeReport},
        {{"report", "-o", report, "--lat", "54.5", done},
         "--lat and --lon are given together" + seeReport},
        {{"report", "-o", report, "--lat", "91", "--lon", "0", done},
         "--lat takes degrees from -90 to 90, not \"91\"" + seeReport},
        {{"report", "-o", report, "--lon", "10,2", "--lat", "0", done},
         "--lon takes degrees from -180 to 180, not \"10,2\"" + seeReport},
        {{"report", "-o", report, "--utc-offset", "2", done},
         "--utc-offset takes +HH:MM or -HH:MM (at most 14:00), not \"2\"" + seeReport},
        {{"report", "-o", report, "--min-quality", "hihg", done},
         "--min-quality takes low, moderate or high, not \"hihg\", did you mean high?" + seeReport},
        {{"report", "-o", dir / "r.tk1", done},
         "-o " + dir / "r.tk1" +
             " is a TK1 file name: give the report a name of its own, e.g. "
             "report.html" +
             seeReport},
        {{"report", "-o", done, done},
         "-o " + done + " is a directory: give a file name" + seeReport},
        {{"report", "-o", dir / "missing/report.html", done},
         "-o " + dir / "missing/report.html" + ": the folder " + dir / "missing/" +
             " does not exist" + seeReport},
        {{"report", "-o", minutes, done},
         minutes + " is there already: nothing written (--overwrite replaces it)"},
        {{"report", "-o", minutes, "--overwrite", minutes},
         "-o " + minutes + " is one of the files to report on" + seeReport},
    };
    const std::vector<std::string> before = FilesUnder(dir.path());
    for (const Case& c : cases) {
        const Result r = RunCli(dir, c.args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(c.args);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err, "wavtokeb-cli: " + c.message + "\n");
        EXPECT_EQ(FilesUnder(dir.path()), before) << ::testing::PrintToString(c.args);
    }

    // A line limit that is no whole number is refused naming the field.
    const Result limit =
        RunCli(dir, {"convert", "--ipi-export", "--ipi-limit", "1e3", "--out", out, wavs});
    EXPECT_EQ(limit.status, 2);
    EXPECT_NE(limit.err.find("File line limit"), std::string::npos) << limit.err;

    // The same folder is made when nothing refuses the conversion, before the minutes file
    // that goes into it.
    const Result made =
        RunCli(dir, {"convert", "-qr2", "-o", fresh, "--minutes", fresh + "/m.txt", "--", wavs});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(fs::exists(fresh + "/NewFileNameA 2023 05 17.TK1"));
    EXPECT_TRUE(fs::exists(fresh + "/m.txt"));
}

TEST_F(CliTest, SettingsRefusalsComeInOrderBeforeAnythingIsWritten) {
    Silent("A.20230517140000.wav", 1);
    std::vector<std::string> args = {"convert",
                                     "--out",
                                     out,
                                     "--rate",
                                     "0",
                                     "--set",
                                     "MinNcycFedit=",
                                     "--logger",
                                     "-3",
                                     "--ipi-export",
                                     "--ipi-limit",
                                     "",
                                     "--minutes",
                                     dir / "minutes.txt",
                                     wavs};
    auto expectRefusal = [&](const std::string& start) -> std::string {
        const Result r = RunCli(dir, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        const auto lines = Lines(r.err, "\n");
        EXPECT_EQ(lines.size(), 1u) << r.err;
        if (lines.empty()) return {};
        EXPECT_EQ(lines[0].substr(0, start.size()), start) << lines[0];
        EXPECT_TRUE(fs::is_empty(out));
        EXPECT_FALSE(fs::exists(dir / "minutes.txt"));
        return lines[0];
    };
    expectRefusal("wavtokeb-cli: Sample rate k/s");
    args[4] = "2";
    EXPECT_NE(expectRefusal("").find("Min nCyc"), std::string::npos);
    args[6] = "MinNcycFedit=5";
    expectRefusal("wavtokeb-cli: Logger ID number");
    args[8] = "12";
    expectRefusal("wavtokeb-cli: File line limit");
    args[11] = "3";
    const Result ok = RunCli(dir, args);
    EXPECT_EQ(ok.status, 0) << ok.err;

    // The rate is refused for list too.
    const Result list = RunCli(dir, {"list", "--rate", "x", wavs});
    EXPECT_EQ(list.status, 2);
    EXPECT_TRUE(list.out.empty());
}

TEST_F(CliTest, ListPrintsTheFileListAndStatusWithMessagesOnStderr) {
    const std::string a2 = Silent("LOC1.20230102000000.wav", 1);
    const std::string a1 = Silent("LOC1.20230101000000.wav", 1);
    const std::string bad = Silent("LOC2.20231317143000.wav", 1);  // month 13
    fs::create_symlink(dir / "gone.wav", dir / "dangling.wav");
    const Result r = RunCli(dir, {"list", "--rate", "2", wavs, dir / "dangling.wav"});
    EXPECT_EQ(r.status, 1);  // the dangling link was named but not listed
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(0, 11), "Start time ");
    EXPECT_EQ(Split(lines[1], '\t').at(4),
              "");  // the blank record of the dangling link sorts first
    const auto c1 = Split(lines[2], '\t');
    ASSERT_EQ(c1.size(), 6u);
    EXPECT_EQ(c1[0], "1/1/2023 00:00");
    EXPECT_EQ(c1[1], "0");
    EXPECT_EQ(c1[2], "1.00");  // (4100 bytes div 2 - 44) samples at 2 k samples/s: 1003 ms
    EXPECT_EQ(c1[3], "LOC1");
    EXPECT_EQ(c1[4], a1);
    EXPECT_EQ(c1[5], "NewFileNameLOC1 2023 01 01.TK1");  // the file it goes into
    EXPECT_EQ(Split(lines[3], '\t')[4], a2);
    EXPECT_EQ(Split(lines[3], '\t')[5], "NewFileNameLOC1 2023 01 01.TK1");
    EXPECT_EQ(Split(lines[4], '\t')[4], bad);
    EXPECT_EQ(lines[5], "4 WAV files in 2 name groups");
    const auto err = Lines(r.err, "\n");
    ASSERT_EQ(err.size(), 3u) << r.err;
    EXPECT_EQ(err[0], "Date/time conversion failed (D2) 2023  13  17  14  30  0");
    EXPECT_EQ(err[1], "wavtokeb-cli: no date from the name of " + bad +
                          " (try --name-date, e.g. '%Y%m%d_%H%M%S*', or --time-source file)");
    EXPECT_EQ(err[2], dir / "dangling.wav" + " not opened");

    // The same list as CSV: one row per file opened, the status line on stderr.
    const Result csv = RunCli(dir, {"list", "--csv", "-qr2", wavs, dir / "dangling.wav"});
    EXPECT_EQ(csv.status, 1);
    EXPECT_EQ(Lines(csv.out),
              (std::vector<std::string>{"start,time_source,duration_s,location,group,path",
                                        "2023-01-01T00:00:00.000000,name,1.000,LOC1,1," + a1,
                                        "2023-01-02T00:00:00.000000,name,1.000,LOC1,1," + a2,
                                        ",,1.000,LOC2,2," + bad}));
    EXPECT_EQ(Lines(csv.err, "\n"),
              (std::vector<std::string>{err[2], "4 WAV files in 2 name groups"}));

    // The locations of the listed files (LF, for shells), and one location's list.
    const Result names = RunCli(dir, {"list", "--locations", wavs, dir / "dangling.wav"});
    EXPECT_EQ(names.out, "LOC1\nLOC2\n");
    const Result one = RunCli(dir, {"list", "--rate", "2", "--location", "LOC1", wavs});
    EXPECT_EQ(Lines(one.out).size(), 4u);
    EXPECT_EQ(Lines(one.out).back(), "2 WAV files, all in one name group");

    // Names and headers that are read otherwise than they say: a year of another century (read
    // as 20yy), a second data chunk (not read); an empty location is a group like any other.
    const std::string odd = dir / "odd";
    fs::create_directories(odd);
    const std::string empty = odd + "/.20230517140000.wav", old = odd + "/G.19990101000000.wav";
    const std::string twice = odd + "/T.20230517140000.wav";
    for (const std::string& f : {empty, old, twice}) fs::copy_file(a1, f);
    std::vector<uint8_t> bytes = ReadFileBytes(twice);
    const std::vector<uint8_t> second = {'d', 'a', 't', 'a', 2, 0, 0, 0, 1, 2};
    bytes.insert(bytes.end(), second.begin(), second.end());
    WriteFileBytes(twice, bytes);
    const Result oddList = RunCli(dir, {"list", "--rate", "2", odd});
    EXPECT_EQ(oddList.status, 0);
    EXPECT_EQ(Lines(oddList.out).back(), "3 WAV files in 3 name groups");
    EXPECT_EQ(oddList.err, "wavtokeb-cli: " + old + ": year 1999 of the name is read as 2099\n" +
                               "wavtokeb-cli: " + twice +
                               ": a second data chunk follows the samples and is not read\n");
    EXPECT_TRUE(RunCli(dir, {"list", "-q", "--rate", "2", odd}).err.empty());
}

TEST_F(CliTest, ConvertWritesSummaryMinutesAndFiles) {
    Silent("A.20230517140000.wav", 70);
    Silent("B.20230517140000.wav", 10);
    const Result r = RunCli(dir, {"convert", "--rate", "2", "--site", "", "--out", out + "/",
                                  "--minutes", dir / "minutes.txt", "--progress=1", wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    // Progress lines as each file begins and as each minute of audio is done, and at the end.
    const auto progress = Lines(r.err, "\n");
    const std::vector<std::string> starts = {
        "file 1 of 2, 0.0 of 1.3 min of audio (0 %)", "file 1 of 2, 1.0 of 1.3 min of audio (74 %)",
        "file 2 of 2, 1.2 of 1.3 min of audio (87 %)", "done: 1.3 min of audio in "};
    ASSERT_EQ(progress.size(), starts.size()) << r.err;
    for (size_t i = 0; i < starts.size(); ++i) {
        EXPECT_EQ(progress[i].substr(0, starts[i].size()), starts[i]);
    }
    // Location batches report their progress summed: one at a time, as one batch does.
    const Result jobs =
        RunCli(dir, {"convert", "-r2", "-j1", "-o", dir / "jobs", "--progress=1", wavs});
    const auto summed = Lines(jobs.err, "\n");
    ASSERT_EQ(summed.size(), starts.size()) << jobs.err;
    for (size_t i = 0; i < starts.size(); ++i) {
        EXPECT_EQ(summed[i].substr(0, starts[i].size()), starts[i]);
    }
    const auto lines = Lines(r.out);
    // Compression: WAV bytes div (16 x TK1 bytes), 280100 div (16 x 1088) and 40100 div
    // (16 x 1072).
    EXPECT_EQ(lines,
              (std::vector<std::string>{"TK1BriefName\tNofWavFiles\tcompression",
                                        "A 2023 05 17.TK1\t1\t16", "B 2023 05 17.TK1\t1\t2"}));
    EXPECT_TRUE(ReadTk1(out + "/A 2023 05 17.TK1").wellFormed);
    EXPECT_TRUE(fs::exists(out + "/A 2023 05 17.txt"));
    const auto minutes = Lines(ReadFileText(dir / "minutes.txt"));
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_EQ(minutes[0], "MinsInThisTK1File\tClicksThisMin\tAdjustedDeadBand\tCurrentAmpScaler");
    EXPECT_EQ(minutes[1], "0\t0\t10\t0.00130");

    // --no-linkage, an empty site name after "=", and a scrapbook of the same files.
    fs::remove_all(out);
    fs::create_directories(out);
    const Result sb =
        RunCli(dir, {"scrapbook", "--rate=2", "--no-linkage", "--site=", "--out", out, wavs});
    EXPECT_EQ(sb.status, 0) << sb.err;
    EXPECT_EQ(ReadTk1(out + "/B 2023 05 17.TK1").StartMin(), 52597441);
    EXPECT_FALSE(fs::exists(out + "/B 2023 05 17.txt"));
}

TEST_F(CliTest, BatchErrorsEndWithStatus1) {
    const Result none = RunCli(dir, {"convert", "--out", out, wavs});  // an empty directory
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "No WAV files listed\n");
    EXPECT_TRUE(none.out.empty());
    const Result noneSb = RunCli(dir, {"scrapbook", "--out", out, wavs});
    EXPECT_EQ(noneSb.status, 1);
    EXPECT_EQ(noneSb.err, "No WAV files found\n");

    Silent("A.20230517140000.wav", 1);
    Silent("A.20230521033000.wav", 1);  // over 4096 empty minutes later: a full buffer
    const Result full =
        RunCli(dir, {"convert", "--rate", "2", "--out", out, wavs}, {.fileSizeLimit = 60000});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find(std::strerror(EFBIG)), std::string::npos) << full.err;
    EXPECT_EQ(Lines(full.out).size(), 1u);  // only the header: no file was finished
    EXPECT_TRUE(fs::is_empty(out));

    // A disk full from the start: the header and the finalisation writes fail, the batch runs
    // to its end and is still no success, and the damaged file does not take the name.
    fs::remove(wavs + "/A.20230521033000.wav");
    const Result header =
        RunCli(dir, {"convert", "--rate", "2", "--out", out, wavs}, {.fileSizeLimit = 1000});
    EXPECT_EQ(header.status, 1);
    EXPECT_EQ(Lines(header.err, "\n"),
              (std::vector<std::string>{
                  "Failed to write TK1 header: error " + std::to_string(EFBIG) + " (" +
                      std::strerror(EFBIG) + ")",
                  "wavtokeb-cli: file concerned: " + out + "/NewFileNameA 2023 05 17.TK1",
                  "BlockWrite failed in FinaliseTK1File", "Failed to write to TK1 header",
                  "Failed to finalise TK1File",
                  "wavtokeb-cli: Removed, not written: " + out + "/NewFileNameA 2023 05 17.TK1",
                  "wavtokeb-cli: Removed, not written: " + out + "/NewFileNameA 2023 05 17.txt",
                  "wavtokeb-cli: Removed, not written: " + out +
                      "/NewFileNameA 2023 05 17.recordings.csv"}));
    EXPECT_TRUE(fs::is_empty(out));

    // A source linkage file or an IPI export file that cannot be created is reported, named
    // with the reason, and the batch is no success; the TK1 file is complete all the same.
    const std::string tk1 = out + "/NewFileNameA 2023 05 17.TK1";
    const std::string linkageName = out + "/NewFileNameA 2023 05 17.txt";
    struct Case {
        std::string blocked;  // a directory in the way of this file
        std::vector<std::string> more;
        std::string err;
    };
    const std::vector<Case> cases = {
        {linkageName,
         {},
         "Failed to create source linkage file\nwavtokeb-cli: file concerned: " + linkageName +
             ": " + std::strerror(EISDIR) + "\n"},
        // Its hidden file is in the way: the error is the system's, not another conversion.
        {out + "/.NewFileNameA 2023 05 17.txt.wtk-part",
         {},
         "Failed to create source linkage file\nwavtokeb-cli: file concerned: " + linkageName +
             ": " + std::strerror(EEXIST) + "\n"},
        {out + "/NewFileNameA 2023 05 17.recordings.csv",
         {},
         "Failed to create recordings table " + out +
             "/NewFileNameA 2023 05 17.recordings.csv: " + std::strerror(EISDIR) + "\n"},
        {out + "/NewFileName A 2023 05 17 IPIs.txt",
         {"--ipi-export"},
         "Failed to create IPI export file " + out +
             "/NewFileName A 2023 05 17 IPIs.txt: " + std::strerror(EISDIR) + "\n"},
    };
    for (const Case& c : cases) {
        fs::remove_all(out);
        fs::create_directories(c.blocked);
        std::vector<std::string> args = {"convert", "--rate", "2", "--overwrite", "--out", out};
        args.insert(args.end(), c.more.begin(), c.more.end());
        args.push_back(wavs);
        const Result r = RunCli(dir, args);
        EXPECT_EQ(r.status, 1) << c.blocked;
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(ReadTk1(tk1).wellFormed) << c.blocked;
        EXPECT_EQ(Lines(r.out).size(), 2u);
    }
}

// The text after "NAME\t" of the first dump line naming that header field.
std::string Field(const std::vector<std::string>& lines, const std::string& name) {
    for (const auto& l : lines)
        if (l.rfind(name + "\t", 0) == 0) return l.substr(name.size() + 1);
    return "<missing>";
}

TEST_F(CliTest, OptionsReachTheSettingsTheNamesAndTheSideFiles) {
    // Faint noise: with a high fixed gain its peaks pass the dead band, unless "show graphs"
    // skips the blocks of so little raw activity.
    synth::RecordingSpec faint;
    faint.SampleRate = 576000;
    faint.Seconds = 0.2;
    faint.NoiseRms = 2;
    synth::WriteWav(wavs + "/A.20230517140000.wav", faint);
    std::vector<std::string> args = {"convert",
                                     "--preset",
                                     "severe",
                                     "--set",
                                     "DeadbandEdit=12",
                                     "--set",
                                     "HighPassFilterCombo=0",
                                     "--set",
                                     "FixedScalerEdit=0.005",
                                     "--logger",
                                     "4711",
                                     "--ipi-export",
                                     "--ipi-limit",
                                     "3",
                                     "--out",
                                     out,
                                     wavs};
    const Result r = RunCli(dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string tk1 = out + "/NewFileNameA 2023 05 17.TK1";
    ASSERT_TRUE(fs::exists(tk1));
    const auto header = Lines(RunCli(dir, {"dump", tk1}).out);
    EXPECT_EQ(Field(header, "LoggerNumber"), "4711");
    EXPECT_EQ(Field(header, "HighPassFilterIndex"), "0");
    EXPECT_EQ(Field(header, "DeadBandSetting"), "12");
    EXPECT_EQ(Field(header, "WorkingStrongLimit1"), "40");  // the preset, pressed first
    // The export file is named after the save dialog's name: DIR/ + the suggested name.
    const std::string ipis = out + "/NewFileName A 2023 05 17 IPIs.txt";
    const auto lines = Lines(ReadFileText(ipis));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "IPI\tAmp\tt 250ns");

    fs::remove_all(out);
    fs::create_directories(out);
    args.insert(args.begin() + 1, "--graphs");
    EXPECT_EQ(RunCli(dir, args).status, 0);
    EXPECT_EQ(fs::file_size(ipis), 0u);  // no peak reached the detector

    fs::remove_all(out);
    fs::create_directories(out);
    const Result undated = RunCli(dir, {"convert", "--no-dates", "--no-linkage", "--no-recordings",
                                        "--site", "S", "--out", out, wavs});
    EXPECT_EQ(undated.status, 0) << undated.err;
    const auto summary = Lines(undated.out);
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(summary[1].substr(0, 9), "S .TK1\t1\t");
    ASSERT_TRUE(fs::exists(out + "/S .TK1"));
    EXPECT_EQ(ReadTk1(out + "/S .TK1").StartMin(), 60487200);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

TEST_F(CliTest, OptionsThatSetOneControlApplyInCommandLineOrder) {
    // Faint noise whose peaks pass the dead band at a high fixed gain: the IPI export has lines.
    synth::RecordingSpec faint;
    faint.SampleRate = 96000;  // small buffers: quick conversions
    faint.Seconds = 0.2;
    faint.NoiseRms = 2;
    synth::WriteWav(wavs + "/A.20230517140000.wav", faint);
    const std::string ipis = out + "/NewFileName A 2023 05 17 IPIs.txt";
    const std::string tk1 = out + "/NewFileNameA 2023 05 17.TK1";
    struct Case {
        std::vector<std::string> options;
        int ipiLines;  // data lines of the IPI export file; -1: no such file
        std::string deadBand;
    };
    const std::vector<Case> cases = {
        {{"--ipi-limit", "2", "--ipi-export", "--set", "MakeIPIexportFile=0"}, -1, "10"},
        {{"--set", "MakeIPIexportFile=0", "--ipi-export", "--ipi-limit", "2"}, 2, "10"},
        {{"--ipi-export", "--ipi-limit", "1", "--set", "IPIFileLineLimitEdit=3"}, 3, "10"},
        {{"--ipi-export", "--set", "IPIFileLineLimitEdit=3", "--ipi-limit=1"}, 1, "10"},
        {{"--set", "DeadbandEdit=12", "--preset", "severe"}, -1, "12"},
        {{"--set", "DeadbandEdit=12", "--set=DeadbandEdit=7"}, -1, "7"},
        {{"--preset", "minimal", "--preset", "severe"}, -1, "20"},
    };
    for (const Case& c : cases) {
        fs::remove_all(out);
        std::vector<std::string> args = {"convert", "-r96", "--set", "FixedScalerEdit=0.005",
                                         "-o",      out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(wavs);
        const Result r = RunCli(dir, args);
        ASSERT_EQ(r.status, 0) << ::testing::PrintToString(args) << r.err;
        if (c.ipiLines < 0) {
            EXPECT_FALSE(fs::exists(ipis)) << ::testing::PrintToString(c.options);
        } else {
            EXPECT_EQ(Lines(ReadFileText(ipis)).size(), static_cast<size_t>(c.ipiLines) + 1)
                << ::testing::PrintToString(c.options);
        }
        EXPECT_EQ(Field(Lines(RunCli(dir, {"dump", tk1}).out), "DeadBandSetting"), c.deadBand)
            << ::testing::PrintToString(c.options);
    }
}

// Every output file of a folder, the TK1 header's finalisation minute (wall clock) masked.
std::map<std::string, std::string> OutputFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        std::string bytes = ReadFileText(e.path().string());
        if (e.path().extension() == ".TK1" && bytes.size() >= 268) {
            std::fill(bytes.begin() + 264, bytes.begin() + 268, '\0');
        }
        files[e.path().filename().string()] = bytes;
    }
    return files;
}

TEST_F(CliTest, JobsGiveWhatOneRunPerLocationGives) {
    // Three locations of click trains; B has two files with a gap between them.
    auto write = [&](const std::string& name, uint64_t seed, double noise) {
        synth::RecordingSpec spec;
        spec.SampleRate = 192000;  // small buffers keep the many runs quick
        spec.Seconds = 1.5;
        spec.NoiseRms = noise;
        spec.Seed = seed;
        synth::ClickTrain t;
        t.FrequencyHz = 40000;
        t.StartSec = 0.1;
        t.Clicks = 20;
        t.PeakAmplitude = 1500 + 500 * static_cast<double>(seed);
        spec.Trains = {t};
        synth::WriteWav(wavs + "/" + name, spec);
    };
    write("A.20230517140000.wav", 1, 5);
    write("B.20230517120000.wav", 2, 12);
    write("B.20230517120300.wav", 3, 12);
    write("C.20230517100000.wav", 4, 3);
    const std::vector<std::string> common = {"--rate",      "192", "--ipi-export",
                                             "--ipi-limit", "500", wavs};
    auto run = [&](const std::string& verb, std::vector<std::string> extra,
                   const std::string& folder, const std::string& minutes) {
        std::vector<std::string> args = {verb,        "--out", folder,
                                         "--minutes", minutes, "--overwrite"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), common.begin(), common.end());
        return RunCli(dir, args);
    };
    const Result names = RunCli(dir, {"list", "--locations", wavs});
    ASSERT_EQ(names.out, "A\nB\nC\n");

    struct Case {
        std::string verb;
        int jobs;
    };
    std::map<std::string, Result> once;  // per verb: the per-location runs' texts in order
    for (const Case& k :
         std::vector<Case>{{"convert", 1}, {"convert", 2}, {"convert", 4}, {"scrapbook", 2}}) {
        SCOPED_TRACE(k.verb + " --jobs " + std::to_string(k.jobs));
        const std::string each = dir / (k.verb + "-each");
        if (!once.count(k.verb)) {
            Result& all = once[k.verb];
            all.status = 0;
            for (const std::string name : {"A", "B", "C"}) {
                const Result r = run(k.verb, {"--location", name}, each, dir / "minutes");
                EXPECT_EQ(r.status, 0) << r.err;
                all.out += r.out;
                all.err += ReadFileText(dir / "minutes");
            }
        }
        const std::string jobs = dir / (k.verb + "-jobs-" + std::to_string(k.jobs));
        const Result r = run(k.verb, {"--jobs", std::to_string(k.jobs)}, jobs, dir / "minutes");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, once[k.verb].out);
        EXPECT_EQ(ReadFileText(dir / "minutes"), once[k.verb].err);
        const auto expected = OutputFiles(each);
        EXPECT_EQ(expected.size(), 12u);  // per location: TK1, linkage, recordings, IPI export
        EXPECT_TRUE(OutputFiles(jobs) == expected);
    }
    // Without --jobs one batch carries the sensitivity from location to location.
    EXPECT_EQ(run("convert", {}, dir / "one", dir / "minutes").status, 0);
    EXPECT_FALSE(OutputFiles(dir / "one") == OutputFiles(dir / "convert-each"));
}

TEST_F(CliTest, JobsGoOnPastALocationThatFails) {
    for (const char* name :
         {"A.20230517140000.wav", "B.20230517140000.wav", "C.20230517140000.wav"})
        Silent(name, 1);
    fs::create_directories(out + "/NewFileNameB 2023 05 17.TK1");  // B's TK1 file cannot be made
    const Result r =
        RunCli(dir, {"convert", "--rate", "2", "--jobs", "2", "--overwrite", "--out", out, wavs});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("TK1 open failed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("wavtokeb-cli: file concerned: " + out + "/NewFileNameB 2023 05 17.TK1"),
              std::string::npos)
        << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u);  // each location's header, and no line for B's file
    EXPECT_EQ(lines[1].substr(0, 28), "NewFileNameA 2023 05 17.TK1\t");
    EXPECT_EQ(lines[4].substr(0, 28), "NewFileNameC 2023 05 17.TK1\t");
    EXPECT_TRUE(ReadTk1(out + "/NewFileNameC 2023 05 17.TK1").wellFormed);
}

TEST_F(CliTest, ALocationsMinuteLinesInABatchAreThoseOfTheLocationAlone) {
    // The bundled example: REEF follows HARBOUR in one batch. The clicks of HARBOUR's last
    // minute, which is never closed, stay out of REEF's first minute line.
    for (const synth::ExampleFile& f : synth::ExampleArchive()) {
        synth::WriteWav(wavs + "/" + f.Name, f.Spec);
    }
    auto minutes = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {
            "convert",   "-o",          dir / "o", "--overwrite",
            "--minutes", dir / "m.txt", "--set",   "GainControlGroup=2"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(wavs);
        EXPECT_EQ(RunCli(dir, args).status, 0);
        return Lines(ReadFileText(dir / "m.txt"));
    };
    const std::vector<std::string> batch = minutes({});
    const std::vector<std::string> reef = minutes({"--location", "REEF"});
    ASSERT_GE(reef.size(), 2u);
    ASSERT_GT(batch.size(), reef.size());
    EXPECT_EQ(
        std::vector<std::string>(batch.end() - static_cast<long>(reef.size() - 1), batch.end()),
        std::vector<std::string>(reef.begin() + 1, reef.end()));
    // Its first line counts the clicks of its first minute in the TK1 file.
    const std::string kinds = ReadTk1(dir / "o/NewFileNameREEF 2024 06 11.TK1").Kinds();
    const size_t first = kinds.find('M'), second = kinds.find('M', first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(Split(reef[1], '\t').at(1), std::to_string(second - first - 1));
}

// Starts the tool with stdout and stderr in the files given; returns its process id.
pid_t StartCli(std::vector<std::string> args, const std::string& outPath,
               const std::string& errPath) {
    args.insert(args.begin(), WTK_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
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
    return pid;
}

int WaitCli(pid_t pid) {
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

TEST_F(CliTest, RunsSharingAnOutputFolderNeverGetInEachOthersWay) {
    // Two runs of one location each and a --jobs 8 run of 32 more, all at once into one
    // folder, as cluster tasks do: every batch cleans the folder of stale files as it begins
    // while the others make their lock files. No run may see a conflict, and every file must
    // be what the same run alone writes. WTK_STRESS_REPEAT sets the number of rounds.
    const std::vector<std::string> groups = {dir / "x", dir / "y", dir / "z"};
    for (size_t g = 0; g < groups.size(); ++g) {
        fs::create_directories(groups[g]);
        const int locations = g < 2 ? 1 : 32;
        for (int l = 0; l < locations; ++l) {
            const std::string name = "L" + std::to_string(g) + "-" + std::to_string(l);
            WriteSamplesFile(groups[g] + "/" + name + ".20230517140000.wav",
                             std::vector<int16_t>(500, static_cast<int16_t>(l)), 2000);
        }
    }
    auto args = [&](size_t g, const std::string& folder) {
        std::vector<std::string> a = {"convert", "-r", "2", "-o", folder};
        if (g == 2) a.insert(a.end(), {"--jobs", "8"});
        a.push_back(groups[g]);
        return a;
    };
    const std::string alone = dir / "alone";
    for (size_t g = 0; g < groups.size(); ++g) ASSERT_EQ(RunCli(dir, args(g, alone)).status, 0);
    const auto expected = OutputFiles(alone);
    ASSERT_EQ(expected.size(), 102u);  // TK1 file, linkage file and recordings table each

    const char* repeat = std::getenv("WTK_STRESS_REPEAT");
    const int rounds = repeat != nullptr ? std::max(1, std::atoi(repeat)) : 10;
    int failedRounds = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string shared = dir / ("shared" + std::to_string(round));
        fs::create_directories(shared);
        std::vector<pid_t> pids;
        for (size_t g = 0; g < groups.size(); ++g) {
            const std::string log = dir / ("log" + std::to_string(g));
            pids.push_back(StartCli(args(g, shared), log + ".out", log + ".err"));
        }
        bool ok = true;
        for (size_t g = 0; g < groups.size(); ++g) {
            const int status = WaitCli(pids[g]);
            const std::string err = ReadFileText(dir / ("log" + std::to_string(g) + ".err"));
            EXPECT_EQ(status, 0) << "round " << round << ", run " << g << ": " << err;
            EXPECT_EQ(err, "") << "round " << round << ", run " << g;
            ok = ok && status == 0 && err.empty();
        }
        const bool same = OutputFiles(shared) == expected;
        EXPECT_TRUE(same) << "round " << round;
        failedRounds += !(ok && same);
        fs::remove_all(shared);
    }
    EXPECT_EQ(failedRounds, 0) << "of " << rounds << " rounds";
}

TEST_F(CliTest, NamesAreShownWithEscapesAndStoredByTheirBytes) {
    // A location name with a line feed, a tab and a byte that is not UTF-8.
    Silent("L\nx\ty\xFF.20230517140000.wav", 1);
    const std::string shown = "L\\nx\\ty\xEF\xBF\xBD";
    const std::string wav = wavs + "/" + shown + ".20230517140000.wav";
    const Result list = RunCli(dir, {"list", "--rate", "2", wavs});
    EXPECT_EQ(list.status, 0) << list.err;
    const auto lines = Lines(list.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Split(lines[1], '\t'),
              (std::vector<std::string>{"17/5/2023 14:00", "0", "1.00", shown, wav,
                                        "NewFileName" + shown + " 2023 05 17.TK1"}));
    EXPECT_EQ(RunCli(dir, {"list", "--locations", wavs}).out, shown + "\n");
    // --location takes the name as shown there.
    EXPECT_EQ(Lines(RunCli(dir, {"list", "-r2", "--location", shown, wavs}).out).size(), 3u);

    const Result r = RunCli(dir, {"convert", "--rate", "2", "--out", out, wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto summary = Lines(r.out);
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(Split(summary[1], '\t').at(0), "NewFileName" + shown + " 2023 05 17.TK1");
    // The files carry the real bytes in their names, and the linkage file and the recordings
    // table the recording's real path, quoted for its line end, so that dump finds it again.
    const std::string tk1 = out + "/NewFileNameL\nx\ty\xFF 2023 05 17.TK1";
    EXPECT_TRUE(ReadTk1(tk1).wellFormed);
    const std::string real = wavs + "/L\nx\ty\xFF.20230517140000.wav";
    EXPECT_EQ(ReadFileText(out + "/NewFileNameL\nx\ty\xFF 2023 05 17.txt"),
              "64891560\t\"" + real + "\"\r\n");
    EXPECT_NE(ReadFileText(out + "/NewFileNameL\nx\ty\xFF 2023 05 17.recordings.csv")
                  .find("\r\n\"" + real + "\",2023-05-17T14:00:00.000000,name,"),
              std::string::npos);
    EXPECT_EQ(Lines(RunCli(dir, {"dump", tk1}).out).at(0),
              "File\t" + out + "/NewFileName" + shown + " 2023 05 17.TK1");
    for (const std::string& table : {std::string("--linkage"), std::string("--recordings")}) {
        SCOPED_TRACE(table);
        const std::string side = table == "--linkage" ? ".txt" : ".recordings.csv";
        const Result raven = RunCli(dir, {"dump", "--raven", table,
                                          out + "/NewFileNameL\nx\ty\xFF 2023 05 17" + side, tk1});
        EXPECT_EQ(raven.status, 0);
        EXPECT_EQ(raven.err, "");  // no recording that cannot be read here
    }
}

// The TK1 file and its side files take the date as the name writes it, though the month "+5"
// places the recording in May.
TEST_F(CliTest, OutputNamesTakeTheNamesDateAsItIsWritten) {
    Silent("Plus.2023+517120000.wav", 1);
    const Result r = RunCli(dir, {"convert", "-r", "2", "-o", out, wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Lines(r.out).size(), 2u);
    EXPECT_EQ(Split(Lines(r.out)[1], '\t').at(0), "NewFileNamePlus 2023 +5 17.TK1");
    for (const char* side : {".txt", ".recordings.csv"}) {
        EXPECT_TRUE(fs::exists(out + "/NewFileNamePlus 2023 +5 17" + side)) << side;
    }
    EXPECT_EQ(ReadTk1(out + "/NewFileNamePlus 2023 +5 17.TK1").StartMin(), 64891440);
}

TEST_F(CliTest, ADirectoryThatCannotBeSearchedIsNamedAndTheRestConverted) {
    Silent("A.20230517140000.wav", 1);
    fs::create_directories(wavs + "/locked");
    Silent("locked/B.20230517140000.wav", 1);
    fs::permissions(wavs + "/locked", fs::perms::none);
    fs::permissions(out, fs::perms::all);
    const Result r =
        RunCli(dir, {"convert", "--rate", "2", "--out", out, wavs}, {.unprivileged = true});
    const Result list = RunCli(dir, {"list", "--rate", "2", wavs}, {.unprivileged = true});
    fs::permissions(wavs + "/locked", fs::perms::owner_all);
    if (r.status == 127) GTEST_SKIP() << "the tool cannot be run as the user nobody here";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "wavtokeb-cli: " + wavs + "/locked not searched: Permission denied\n");
    EXPECT_TRUE(ReadTk1(out + "/NewFileNameA 2023 05 17.TK1").wellFormed);
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.err, r.err);
}

TEST_F(CliTest, AReaderThatGoesAwayDoesNotStopTheBatch) {
    Silent("A.20230517140000.wav", 5);
    Silent("B.20230517140000.wav", 5);
    const Result r =
        RunCli(dir, {"convert", "--rate", "2", "--out", out, wavs}, {.closedStdout = true});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Failed to write to standard output"), std::string::npos) << r.err;
    for (const char* name : {"/NewFileNameA 2023 05 17.TK1", "/NewFileNameB 2023 05 17.TK1"}) {
        ASSERT_TRUE(fs::exists(out + name)) << name;
        EXPECT_TRUE(ReadTk1(out + name).wellFormed) << name;
    }
}

TEST_F(CliTest, AStopDuringTheBatchFinishesTheFileAndTheTK1File) {
    // Three locations of one file each. The stop comes during the first file, or while the
    // tool waits to report the first TK1 file; it takes effect after the file in progress.
    synth::RecordingSpec quiet;
    quiet.SampleRate = 384000;
    quiet.Seconds = 20;
    quiet.NoiseRms = 0;
    for (const char* name :
         {"A.20230517140000.wav", "B.20230517140000.wav", "C.20230517140000.wav"})
        synth::WriteWav(wavs + "/" + name, quiet);
    const Result r = RunCli(dir, {"convert", "--rate", "384", "--out", out, wavs},
                            {.terminateAtBatchStart = true});
    EXPECT_EQ(r.status, 128 + SIGTERM);
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    ASSERT_LE(lines.size(), 3u);
    const auto err = Lines(r.err, "\n");
    ASSERT_EQ(err.size(), 1u) << r.err;  // the files are shorter than a minute
    const std::string file = std::to_string(lines.size() - 1);
    EXPECT_EQ(err[0].rfind("Stop took effect at the end of file " + file + ", ", 0), 0u) << err[0];
    EXPECT_EQ(lines[0], "TK1BriefName\tNofWavFiles\tcompression");
    // Every file begun is finished, with its TK1 file and its summary line; the rest is left.
    for (size_t k = 1; k < lines.size(); ++k) {
        const std::string name = std::string("NewFileName") + char('A' + k - 1) + " 2023 05 17";
        EXPECT_EQ(lines[k].substr(0, 30), name + ".TK1\t1\t");
        EXPECT_TRUE(ReadTk1(out + "/" + name + ".TK1").wellFormed) << name;
        EXPECT_EQ(Lines(ReadFileText(out + "/" + name + ".txt")).size(), 1u) << name;
    }
    EXPECT_FALSE(fs::exists(out + "/NewFileNameC 2023 05 17.TK1"));
    if (lines.size() == 2) {
        EXPECT_FALSE(fs::exists(out + "/NewFileNameB 2023 05 17.TK1"));
    }
}

// Where the SIGINT that stops a conversion comes.
enum class Interruption {
    // At the first minute end: the --minutes file is the named pipe fifo, which the tool opens
    // when the batch begins, after its first stdout line, and waits there until the pipe has a
    // reader; the SIGINT is sent while it waits.
    AtTheFirstMinuteEnd,
    // As above, and then a second SIGINT: stderr is a full pipe, so the tool cannot get past the
    // line that says where the stop took effect, and the second one comes once a file has
    // appeared in out.
    ThenAbortWhileWriting,
    // With --jobs and --progress, no --minutes: stderr is a full pipe, so the first batch to
    // report the start of its file waits there, and every other one waits for it before it
    // reports its own; the SIGINT goes to the waiting thread, which takes it before its write
    // returns, and so before any batch gets to a minute end.
    AtTheFirstFileStart,
};

// Runs a conversion and interrupts it as `when` says.
Result RunInterrupted(std::vector<std::string> args, const std::string& fifo,
                      const std::string& out, Interruption when) {
    const bool toMinutes = when != Interruption::AtTheFirstFileStart;
    if (toMinutes) {
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    }
    args.insert(args.begin(), WTK_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int outPipe[2], errPipe[2];
    EXPECT_EQ(::pipe(outPipe), 0);
    EXPECT_EQ(::pipe(errPipe), 0);
    const bool errFull = when != Interruption::AtTheFirstMinuteEnd;
    if (errFull) {
        const int flags = ::fcntl(errPipe[1], F_GETFL);
        ::fcntl(errPipe[1], F_SETFL, flags | O_NONBLOCK);
        const std::string filler(4096, 'x');
        while (::write(errPipe[1], filler.data(), filler.size()) > 0) {
        }
        ::fcntl(errPipe[1], F_SETFL, flags);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    Result r;
    char buf[4096];
    ssize_t n = 0;
    int wstatus = 0;
    bool ended = false;
    int minutes = -1;
    if (toMinutes) {
        while (r.out.find("\r\n") == std::string::npos &&
               (n = ::read(outPipe[0], buf, sizeof buf)) > 0)
            r.out.append(buf, static_cast<size_t>(n));
        ::kill(pid, SIGINT);
        minutes = ::open(fifo.c_str(), O_RDONLY);
        if (when == Interruption::ThenAbortWhileWriting) {
            while (fs::is_empty(out) && !(ended = ::waitpid(pid, &wstatus, WNOHANG) == pid))
                ::usleep(1000);
            ::kill(pid, SIGINT);
        }
    } else {
        pid_t waiting = 0;
        while ((waiting = ThreadInSystemCall(pid, SYS_write, STDERR_FILENO)) == 0 &&
               !(ended = ::waitpid(pid, &wstatus, WNOHANG) == pid))
            ::usleep(1000);
        // Where the threads cannot be seen, the tool is killed (status 128 + SIGKILL).
        if (waiting < 0) ::kill(pid, SIGKILL);
        if (waiting > 0) ::syscall(SYS_tgkill, pid, waiting, SIGINT);
    }
    while ((n = ::read(errPipe[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
    while ((n = ::read(outPipe[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    if (minutes >= 0) {
        while (::read(minutes, buf, sizeof buf) > 0) {
        }
        ::close(minutes);
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (!ended) ::waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (errFull) r.err.erase(0, r.err.find_first_not_of('x'));
    return r;
}

TEST_F(CliTest, SigintTakesEffectAtTheNextMinuteEndAndASecondOneAborts) {
    const std::string ten = Silent("A.20230517140000.wav", 600);
    const std::vector<std::string> args = {"convert",   "--rate",        "2", "--out", out,
                                           "--minutes", dir / "minutes", wavs};
    const Result r = RunInterrupted(args, dir / "minutes", out, Interruption::AtTheFirstMinuteEnd);
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_EQ(r.err,
              "Stop took effect at the end of minute 0 (17/5/2023 14:00) of NewFileNameA 2023 05 "
              "17.TK1, in file 1: " +
                  ten + "\n");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 30), "NewFileNameA 2023 05 17.TK1\t1\t");
    // The first minute closed, the record that opens the next one, the end record.
    const Tk1File f = ReadTk1(out + "/NewFileNameA 2023 05 17.TK1");
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.Kinds(), "LMME");

    // The progress lines count the minute converted, not the file's ten.
    fs::remove_all(out);
    fs::remove(dir / "minutes");
    std::vector<std::string> withProgress = args;
    withProgress.insert(withProgress.begin() + 1, "--progress=1");
    const Result progress =
        RunInterrupted(withProgress, dir / "minutes", out, Interruption::AtTheFirstMinuteEnd);
    EXPECT_EQ(progress.status, 128 + SIGINT);
    const auto progressLines = Lines(progress.err, "\n");
    ASSERT_FALSE(progressLines.empty());
    EXPECT_TRUE(progressLines.back().starts_with("done: 1.0 min of audio in ")) << progress.err;

    // The second SIGINT comes before the TK1 file is finished: nothing unfinished is left.
    fs::remove_all(out);
    fs::create_directories(out);
    fs::remove(dir / "minutes");
    const Result aborted =
        RunInterrupted(args, dir / "minutes", out, Interruption::ThenAbortWhileWriting);
    EXPECT_EQ(aborted.status, 128 + SIGINT);
    EXPECT_NE(aborted.err.find("wavtokeb-cli: aborted, unfinished files removed"),
              std::string::npos)
        << aborted.err;
    std::string left;
    for (const auto& e : fs::directory_iterator(out)) left += e.path().filename().string() + " ";
    EXPECT_EQ(left, "");

    // With --jobs each batch that runs stops at its next minute end, and none starts after.
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string other = Silent("B.20230517140000.wav", 600);
    const Result both = RunInterrupted(
        {"convert", "--jobs", "2", "--progress=1", "--rate", "2", "--out", out, wavs}, "", out,
        Interruption::AtTheFirstFileStart);
    if (both.status == 128 + SIGKILL)
        GTEST_SKIP() << "the system calls of the tool's threads are hidden here";
    EXPECT_EQ(both.status, 128 + SIGINT);
    // The batch whose thread took the stop began; the other one began before it or never.
    std::vector<std::string> stops;
    for (const auto& [name, wav] : {std::pair{"A", ten}, std::pair{"B", other}}) {
        const std::string tk1 = std::string("NewFileName") + name + " 2023 05 17.TK1";
        if (!fs::exists(out + "/" + tk1)) continue;
        EXPECT_EQ(ReadTk1(out + "/" + tk1).Kinds(), "LMME") << name;
        stops.push_back("Stop took effect at the end of minute 0 (17/5/2023 14:00) of " + tk1 +
                        ", in file 1: " + wav);
    }
    ASSERT_FALSE(stops.empty());
    std::vector<std::string> said;
    for (const std::string& line : Lines(both.err, "\n"))
        if (!line.starts_with("file ") && !line.starts_with("done: ")) said.push_back(line);
    EXPECT_EQ(said, stops) << both.err;
}

// The names in a folder, hidden ones included.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(CliTest, AKilledOrFailedConversionLeavesTheEarlierFilesAsTheyWere) {
    Silent("A.20230517140000.wav", 1);
    Silent("A.20230517140500.wav", 1);
    const std::vector<std::string> made = {"NewFileNameA 2023 05 17.TK1",
                                           "NewFileNameA 2023 05 17.txt"};
    auto convert = [&](const std::string& folder, std::vector<std::string> more) {
        // The recordings table is written as the linkage file is; left out here.
        std::vector<std::string> args = {"convert", "-r", "2", "--no-recordings", "-o", folder};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(wavs);
        return args;
    };
    ASSERT_EQ(RunCli(dir, convert(out, {})).status, 0);
    const std::string tk1 = out + "/" + made[0], linkage = out + "/" + made[1];
    const auto earlier = ReadFileBytes(tk1), earlierLinkage = ReadFileBytes(linkage);

    // Killed while it writes a longer file of the same name: the earlier files keep their
    // bytes, and what was written lies under hidden names only.
    Silent("A.20230517141000.wav", 1);
    Result killed;
    for (int attempt = 0; attempt < 10; ++attempt) {
        killed = RunCli(dir, convert(out, {"--overwrite"}),
                        {.terminateAtBatchStart = true, .killWhileWritingIn = out});
        if (!killed.missedWriting) break;
        // Too late to stop it while it wrote: the earlier files again, and another run.
        for (const std::string& name : Names(out)) fs::remove(out + "/" + name);
        WriteFileBytes(tk1, earlier);
        WriteFileBytes(linkage, earlierLinkage);
    }
    ASSERT_FALSE(killed.missedWriting) << "never stopped while it wrote";
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    EXPECT_EQ(ReadFileBytes(tk1), earlier);
    EXPECT_EQ(ReadFileBytes(linkage), earlierLinkage);
    for (const std::string& name : Names(out)) {
        EXPECT_TRUE(name == made[0] || name == made[1] || name.starts_with(".")) << name;
    }
    // A rerun refuses to replace them and changes nothing; with --overwrite it replaces them
    // whole and removes what the killed run left.
    EXPECT_EQ(RunCli(dir, convert(out, {})).status, 2);
    EXPECT_EQ(ReadFileBytes(tk1), earlier);
    const Result again = RunCli(dir, convert(out, {"--overwrite"}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadTk1(tk1).Kinds(), "LMMMMMMMMMMME");  // 14:00 to 14:10
    EXPECT_EQ(Names(out), made);

    // A full disk: the longer file cannot be written; the earlier files keep their bytes and
    // nothing else is left. The disk is a small file system in a mount namespace of this test's
    // own, where that may be made.
    const std::string small = dir / "small";
    fs::create_directories(small);
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "no small file system can be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    fs::remove(wavs + "/A.20230517141000.wav");
    ASSERT_EQ(RunCli(dir, convert(small, {})).status, 0);
    const auto small1 = ReadFileBytes(small + "/" + made[0]);
    const auto small2 = ReadFileBytes(small + "/" + made[1]);
    Silent("A.20230521033000.wav", 1);  // 5000 minutes on: more than the disk holds
    const Result full = RunCli(dir, convert(small, {"--overwrite"}));
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find(std::strerror(ENOSPC)), std::string::npos) << full.err;
    EXPECT_EQ(ReadFileBytes(small + "/" + made[0]), small1);
    EXPECT_EQ(ReadFileBytes(small + "/" + made[1]), small2);
    EXPECT_EQ(Names(small), made);
}

// The hidden files (temporary and lock files) in a folder.
std::vector<std::string> HiddenFiles(const std::string& folder) {
    std::vector<std::string> hidden;
    for (const std::string& name : Names(folder))
        if (name.starts_with(".")) hidden.push_back(name);
    return hidden;
}

TEST_F(CliTest, AFailedRunReplacesNoEarlierFile) {
    // Two locations of noise (so the IPI export fills), B with two files.
    auto noise = [&](const std::string& name, double seconds) {
        synth::RecordingSpec spec;
        spec.SampleRate = 2000;
        spec.Seconds = seconds;
        spec.NoiseRms = 3000;
        spec.Seed = name.size() + static_cast<uint64_t>(seconds * 10);
        synth::WriteWav(wavs + "/" + name, spec);
        return wavs + "/" + name;
    };
    noise("A.20230517140000.wav", 2);
    const std::string b1 = noise("B.20230517140000.wav", 3);
    const std::string b2 = noise("B.20230517140500.wav", 2);
    const std::string earlier = dir / "earlier";
    auto convert = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"convert", "-r",           "2",         "-o",
                                         out,       "--ipi-export", "--minutes", out + "/m.txt"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(wavs);
        return args;
    };
    ASSERT_EQ(RunCli(dir, convert({})).status, 0);
    fs::copy(out, earlier);
    const std::map<std::string, std::string> before = OutputFiles(earlier);
    // Two TK1 files with their linkage files and recordings tables, the export, the minutes.
    ASSERT_EQ(before.size(), 8u);
    // The next run writes other files: A has a file more, 5000 minutes on (a full buffer).
    noise("A.20230521033000.wav", 1);
    auto fresh = [&](bool withEarlierFiles) {
        fs::remove_all(out);
        if (withEarlierFiles) {
            fs::copy(earlier, out);
        } else {
            fs::create_directories(out);
        }
    };
    auto expectEarlierFiles = [&](const std::string& what) {
        EXPECT_TRUE(OutputFiles(out) == before) << what;
        EXPECT_EQ(HiddenFiles(out), std::vector<std::string>{}) << what;
    };

    // A full disk at several fill levels: whenever the run fails, every earlier file is as it
    // was, and it says so; when it succeeds, they are all replaced.
    int failed = 0;
    for (const long limit :
         {0L, 500L, 1100L, 3000L, 10000L, 30000L, 70000L, 100000L, 200000L, 2000000L}) {
        const std::string what = "file size limit " + std::to_string(limit);
        fresh(true);
        const Result r = RunCli(dir, convert({"--overwrite"}), {.fileSizeLimit = limit});
        if (r.status != 0) {
            ++failed;
            EXPECT_EQ(r.status, 1) << what << r.err;
            expectEarlierFiles(what);
            // Each is named (where stderr itself had room).
            for (const auto& [name, bytes] : before) {
                if (limit < 10000) break;
                EXPECT_NE(r.err.find("wavtokeb-cli: Earlier file kept, not replaced by this "
                                     "failed conversion: " +
                                     out + "/" + name + "\n"),
                          std::string::npos)
                    << what << r.err;
            }
        } else {
            EXPECT_GE(limit, 100000L) << r.err;
            EXPECT_NE(OutputFiles(out).at("NewFileNameA 2023 05 17.TK1"),
                      before.at("NewFileNameA 2023 05 17.TK1"));
        }
        // Without earlier files, what was finished keeps its name and is sound.
        fresh(false);
        const Result lone = RunCli(dir, convert({}), {.fileSizeLimit = limit});
        EXPECT_EQ(lone.status, r.status) << what << lone.err;
        EXPECT_EQ(HiddenFiles(out), std::vector<std::string>{}) << what;
        for (const auto& [name, bytes] : OutputFiles(out)) {
            if (name.ends_with(".TK1")) {
                EXPECT_TRUE(ReadTk1(out + "/" + name).wellFormed) << name;
            }
        }
    }
    EXPECT_GE(failed, 7);

    // A recording taken away or cut short while an --overwrite run converts another location:
    // the run fails, and no earlier file is replaced.
    const std::vector<uint8_t> b1Bytes = ReadFileBytes(b1), b2Bytes = ReadFileBytes(b2);
    struct Case {
        std::string what;
        std::function<void()> meanwhile;
        std::string message;  // the line that says what went wrong
    };
    const std::vector<Case> cases = {
        {"moved away", [&] { fs::rename(b2, dir / "moved.wav"); },
         std::string("Failed to open wav file B.20230517140500: ") + std::strerror(ENOENT)},
        {"cut short", [&] { fs::resize_file(b1, 3000); },
         "wavtokeb-cli: Recording changed size since it was listed (12044 bytes, now 3000), "
         "converted as far as it went: " +
             b1},
    };
    for (const Case& c : cases) {
        fresh(true);
        const Result r = RunCli(
            dir, convert({"--overwrite"}),
            {.terminateAtBatchStart = true, .killWhileWritingIn = out, .meanwhile = c.meanwhile});
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_NE(r.err.find(c.message + "\n"), std::string::npos) << c.what << r.err;
        expectEarlierFiles(c.what);
        if (fs::exists(dir / "moved.wav")) fs::rename(dir / "moved.wav", b2);
        WriteFileBytes(b1, b1Bytes);
        ASSERT_EQ(ReadFileBytes(b2), b2Bytes);
    }
    // Cut short without earlier files: converted as far as it went, and said so.
    fresh(false);
    const Result cut =
        RunCli(dir, convert({}),
               {.terminateAtBatchStart = true, .killWhileWritingIn = out, .meanwhile = [&] {
                    fs::resize_file(b1, 3000);
                }});
    EXPECT_EQ(cut.status, 1) << cut.err;
    EXPECT_TRUE(ReadTk1(out + "/NewFileNameB 2023 05 17.TK1").wellFormed);
    WriteFileBytes(b1, b1Bytes);
}

TEST_F(CliTest, ANameTakenMeanwhileIsNeverReplaced) {
    // Another run finishes a file of this run's names after this one planned it: before this
    // one creates it (B's), or while it writes it (A's). This run fails and names the file;
    // the other run's file stays.
    Silent("A.20230517140000.wav", 1);
    Silent("B.20230517140000.wav", 1);
    const std::string a = out + "/NewFileNameA 2023 05 17.TK1";
    const std::string b = out + "/NewFileNameB 2023 05 17.TK1";
    for (const std::string& taken : {b, a}) {
        SCOPED_TRACE(taken);
        fs::remove_all(out);
        fs::create_directories(out);
        const Result r =
            RunCli(dir, {"convert", "-r", "2", "-o", out, wavs},
                   {.terminateAtBatchStart = true, .killWhileWritingIn = out, .meanwhile = [&] {
                        WriteFileBytes(taken, {'o', 't', 'h', 'e', 'r'});
                    }});
        EXPECT_EQ(r.status, 1);
        const std::string stem = taken.substr(0, taken.size() - 4);
        EXPECT_EQ(r.err, "Failed to finalise TK1File\nwavtokeb-cli: file concerned: " + taken +
                             ": another conversion wrote this file meanwhile, and its file was "
                             "kept\nwavtokeb-cli: Removed, not written: " +
                             taken + "\nwavtokeb-cli: Removed, not written: " + stem +
                             ".txt\nwavtokeb-cli: Removed, not written: " + stem +
                             ".recordings.csv\n");
        EXPECT_EQ(ReadFileText(taken), "other");
        EXPECT_TRUE(ReadTk1(taken == a ? b : a).wellFormed);
        EXPECT_EQ(HiddenFiles(out), std::vector<std::string>{});
        // Its linkage file went with it: nothing of this run under that name.
        EXPECT_FALSE(fs::exists(taken.substr(0, taken.size() - 4) + ".txt"));
    }
}

TEST_F(CliTest, AKilledRunLocksNoOtherUserOutOfASharedFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a second user";
    Silent("A.20230517140000.wav", 1);
    Silent("A.20230517140500.wav", 1);
    // A folder shared by a group (set-group-ID, group-writable), written with umask 002.
    const std::string shared = dir / "shared";
    fs::create_directories(shared);
    ASSERT_EQ(::chown(shared.c_str(), 0, 65534), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 02775), 0);
    fs::permissions(dir.path(), fs::perms::all);
    const std::vector<std::string> args = {"convert", "-r", "2", "-o", shared, wavs};
    auto mode = [&](const std::string& name) {
        struct stat st {};
        return ::stat((shared + "/" + name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    };
    // Killed while it writes: its lock and temporary files stay, with the outputs' permissions.
    const Result killed = RunCli(
        dir, args, {.terminateAtBatchStart = true, .killWhileWritingIn = shared, .umask = 002});
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    const std::vector<std::string> left = HiddenFiles(shared);
    for (const char* name :
         {".NewFileNameA 2023 05 17.TK1.wtk-lock", ".NewFileNameA 2023 05 17.TK1.wtk-part"}) {
        EXPECT_NE(std::find(left.begin(), left.end(), name), left.end()) << name;
    }
    for (const std::string& hidden : HiddenFiles(shared)) EXPECT_EQ(mode(hidden), 0664u) << hidden;
    // Another user of the group converts there: what the killed run left is taken over and
    // removed.
    const Result other = RunCli(dir, args, {.unprivileged = true, .umask = 002});
    if (other.status == 127) GTEST_SKIP() << "the tool cannot be run as the user nobody here";
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_TRUE(ReadTk1(shared + "/NewFileNameA 2023 05 17.TK1").wellFormed);
    EXPECT_EQ(mode("NewFileNameA 2023 05 17.TK1"), 0664u);
    EXPECT_EQ(HiddenFiles(shared), std::vector<std::string>{});
}

TEST_F(CliTest, AStopDuringTheListingConvertsNothing) {
    Silent("A.20230517140000.wav", 5);
    const Result r =
        RunCli(dir, {"convert", "--rate", "2", "--out", out, wavs}, {.pendingInterrupt = true});
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(fs::is_empty(out));
}

// The report of converted recordings is written whole; a damaged TK1 file among its inputs is
// named with the place of the damage, and nothing is written.
TEST_F(CliTest, ReportOfConvertedFilesAndNoneOfDamagedOnes) {
    synth::ExampleOptions example;
    example.SampleRate = 384000;
    example.Seconds = 4;
    for (const synth::ExampleFile& f : synth::ExampleArchive(example)) {
        synth::WriteWav(wavs + "/" + f.Name, f.Spec);
    }
    ASSERT_EQ(RunCli(dir, {"convert", "-q", "-r", "384", "-o", out, wavs}).status, 0);
    const std::string report = dir / "report.html";
    const Result r = RunCli(dir, {"report", out, "-o", report, "--utc-offset", "+02:00"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, report + "\n");
    EXPECT_EQ(r.err, "");
    const std::string html = ReadFileText(report);
    EXPECT_NE(html.find("<h2>NewFileNameHARBOUR</h2>"), std::string::npos);
    EXPECT_NE(html.find("<h2>NewFileNameREEF</h2>"), std::string::npos);
    EXPECT_NE(html.find("Hours and days in UTC+02:00."), std::string::npos);

    // The same files with one of them cut short.
    const std::string damaged = dir / "damaged";
    fs::create_directories(damaged);
    std::string cut;
    for (const auto& e : fs::directory_iterator(out)) {
        const std::string copy = damaged + "/" + e.path().filename().string();
        fs::copy_file(e.path(), copy);
        if (copy.ends_with(".TK1") && cut.empty()) cut = copy;
    }
    fs::resize_file(cut, fs::file_size(cut) - 20);
    const std::vector<std::string> before = FilesUnder(dir.path());
    const Result bad = RunCli(dir, {"report", damaged, "-o", dir / "damaged.html"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err.rfind("wavtokeb-cli: " + cut + ": ", 0), 0u) << bad.err;
    EXPECT_TRUE(bad.err.ends_with("; nothing written\n")) << bad.err;
    EXPECT_EQ(FilesUnder(dir.path()), before);
}

TEST_F(CliTest, DumpDecodesHeaderRecordsAndClicks) {
    // Clicks at 576 k samples/s.
    const synth::RecordingSpec spec{
        .SampleRate = 576000,
        .Seconds = 1.5,
        .NoiseRms = 5,
        .Trains = {{.StartSec = 0.2, .Clicks = 15, .PeakAmplitude = 3000}}};
    synth::WriteWav(wavs + "/P.20230517140000.wav", spec);
    ASSERT_EQ(RunCli(dir, {"convert", "--out", out, wavs}).status, 0);
    const std::string tk1 = out + "/NewFileNameP 2023 05 17.TK1";
    const Tk1File f = ReadTk1(tk1);
    ASSERT_TRUE(f.wellFormed);
    const auto clicks = f.Clicks();
    ASSERT_GT(clicks.size(), 5u);

    const Result text = RunCli(dir, {"dump", tk1});
    EXPECT_EQ(text.status, 0) << text.err;
    const auto lines = Lines(text.out);
    auto field = [&](const std::string& name) {
        for (const auto& l : lines)
            if (l.rfind(name + "\t", 0) == 0) return l.substr(name.size() + 1);
        return std::string("<missing>");
    };
    EXPECT_EQ(field("LoggerNumber"), "9999");
    EXPECT_EQ(field("DeadBandSetting"), "10");
    EXPECT_EQ(field("TK1StartMin"), "64891560\t17/5/2023 14:00");
    EXPECT_EQ(field("MinuteRecords"), "1");
    int clickLines = 0;
    for (const auto& l : lines) clickLines += l.find("\tCLICK\t") != std::string::npos;
    EXPECT_EQ(clickLines, static_cast<int>(clicks.size()));
    EXPECT_EQ(lines[lines.size() - 2], std::to_string(f.bytes.size() - 16) + "\tEND");

    const Result csv = RunCli(dir, {"dump", "--csv", tk1});
    EXPECT_EQ(csv.status, 0);
    const auto rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), clicks.size() + 1);
    const auto head = Split(rows[0], ',');
    auto col = [&](const std::string& name) {
        return static_cast<size_t>(std::find(head.begin(), head.end(), name) - head.begin());
    };
    for (size_t i = 0; i < clicks.size(); ++i) {
        const auto cells = Split(rows[i + 1], ',');
        ASSERT_EQ(cells.size(), head.size());
        const Tk1Record& c = clicks[i];
        // The absolute time: minute start plus ClkTime5MuSecs x 5 us.
        const int64_t us = int64_t{c.ClkTime5MuSecs()} * 5;
        char expect[40];
        std::snprintf(expect, sizeof expect, "2023-05-17 14:00:%02d.%06d",
                      static_cast<int>(us / 1000000), static_cast<int>(us % 1000000));
        EXPECT_EQ(cells[col("DateTime")], expect);
        EXPECT_EQ(cells[col("Minute")], "64891560");
        EXPECT_EQ(cells[col("Ncyc")], std::to_string(c.b[3]));
        EXPECT_EQ(cells[col("PkAtPosn")], std::to_string(c.b[4] >> 4));
        EXPECT_EQ(cells[col("ClkIPIrangeCode")], std::to_string(c.b[4] & 15));
        EXPECT_EQ(cells[col("IPIpreMax")], std::to_string(c.b[5]));
        EXPECT_NEAR(std::stod(cells[col("IPIpreMax_kHz")]), 4000.0 / c.b[5], 0.0005);
        EXPECT_EQ(cells[col("Pmax")], std::to_string(c.b[10]));
        EXPECT_EQ(cells[col("AmpReversalCount")], std::to_string(c.b[13] & 15));
        EXPECT_EQ(cells[col("Durationto16CycDiv256")], std::to_string(c.b[13] >> 4));
        EXPECT_EQ(cells[col("Durationto16CycLow8")], std::to_string(c.b[14]));
        EXPECT_EQ(cells[col("PreLastIPI")], std::to_string(c.b[15]));
    }

    // IPI 255 stands for 255 or more: no frequency.
    auto bytes = ReadFileBytes(tk1);
    ASSERT_LT(bytes[1056], 254);  // the first click record
    bytes[1056 + 5] = 255;
    WriteFileBytes(dir / "ipi255.TK1", bytes);
    const auto long255 =
        Split(Lines(RunCli(dir, {"dump", "--csv", dir / "ipi255.TK1"}).out)[1], ',');
    EXPECT_EQ(long255.at(col("IPIpreMax")), "255");
    EXPECT_EQ(long255.at(col("IPIpreMax_kHz")), "");

    // A file cut short is decoded as far as it goes and reported.
    bytes = ReadFileBytes(tk1);
    bytes.resize(bytes.size() - 24);
    WriteFileBytes(dir / "cut.TK1", bytes);
    const Result cut = RunCli(dir, {"dump", "--csv", dir / "cut.TK1"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("no end record"), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find("partial record"), std::string::npos) << cut.err;

    const Result folder = RunCli(dir, {"dump", wavs});
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, "wavtokeb-cli: " + wavs + " is not a TK1 file: it is a directory\n");

    // A damaged header's start minute: the minutes after it count on past the 32-bit range.
    // (Its counts agree with the two minute records: 2, and the start minute plus 2.)
    bytes = ReadFileBytes(tk1);
    for (size_t k = 256; k < 260; ++k) bytes[k] = k == 256 ? 0x7F : 0xFF;
    bytes.insert(bytes.begin() + 1040, bytes.begin() + 1024, bytes.begin() + 1040);
    bytes[342] = 2;
    for (const size_t at : {260u, 276u}) {
        bytes[at] = 0x80;
        bytes[at + 1] = bytes[at + 2] = 0;
        bytes[at + 3] = 1;
    }
    WriteFileBytes(dir / "damaged.TK1", bytes);
    const Result damaged = RunCli(dir, {"dump", dir / "damaged.TK1"});
    EXPECT_EQ(damaged.status, 0) << damaged.err;
    EXPECT_NE(damaged.out.find("\tMINUTE\t2147483648\t"), std::string::npos);
    const Result damagedCsv = RunCli(dir, {"dump", "--csv", dir / "damaged.TK1"});
    EXPECT_EQ(damagedCsv.status, 0) << damagedCsv.err;
    EXPECT_NE(damagedCsv.out.find(",2147483648,"), std::string::npos);

    // Header counts that disagree with the records (a count that wrapped, a patch that failed).
    bytes = ReadFileBytes(tk1);
    bytes[341] = 1;  // 257 minute records
    bytes[279] ^= 1;
    WriteFileBytes(dir / "miscounted.TK1", bytes);
    const Result miscounted = RunCli(dir, {"dump", dir / "miscounted.TK1"});
    EXPECT_EQ(miscounted.status, 1);
    const std::string name = "wavtokeb-cli: " + dir / "miscounted.TK1" + ": ";
    EXPECT_EQ(miscounted.err,
              name + "its header counts 257 minute records, the file holds 1\n" + name +
                  "its header's last logging minute at offset 276 is 64891560, its start minute "
                  "and minute records give 64891561\n");
}

// TK1 files of crafted records behind a header the tool wrote: each damage is reported alone,
// with exit status 1, and the clicks are given their recordings across the steps back in time
// that block ends make within one recording.
TEST_F(CliTest, DumpTablesOfCraftedRecords) {
    Silent("Q.20230517140000.wav", 1);
    ASSERT_EQ(RunCli(dir, {"convert", "-q", "--rate", "2", "--out", out, wavs}).status, 0);
    const std::vector<uint8_t> written = ReadFileBytes(out + "/NewFileNameQ 2023 05 17.TK1");
    ASSERT_EQ(written.size(), 1072u);
    constexpr uint32_t kStart = 64891560;  // 2023-05-17 14:00
    using Record = std::array<uint8_t, 16>;
    const Record minute = {254}, end = {255, 255, 255, 255, 255, 255, 255, 255,
                                        255, 255, 255, 255, 255, 255, 255, 255};
    auto click = [](uint32_t time, uint8_t durationHigh = 0) {
        Record r{};
        r[0] = static_cast<uint8_t>(time >> 16);
        r[1] = static_cast<uint8_t>(time >> 8);
        r[2] = static_cast<uint8_t>(time);
        r[3] = 9;
        r[13] = static_cast<uint8_t>(durationHigh << 4);
        r[14] = 3;
        return r;
    };
    // The header with counts that agree with the records.
    auto file = [&](const std::vector<Record>& records) {
        std::vector<uint8_t> b(written.begin(), written.begin() + 1024);
        uint32_t minutes = 0;
        for (const Record& r : records) {
            minutes += r[0] == 254;
            b.insert(b.end(), r.begin(), r.end());
        }
        minutes -= 1;  // the lead record
        for (const size_t at : {260u, 276u}) {
            for (int k = 0; k < 4; ++k)
                b[at + k] = static_cast<uint8_t>((kStart + minutes) >> (24 - 8 * k));
        }
        for (int k = 0; k < 3; ++k) b[340 + k] = static_cast<uint8_t>(minutes >> (16 - 8 * k));
        return b;
    };

    struct Damage {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string problem;  // "": none
    };
    std::vector<uint8_t> oneByteMore = file({minute, minute, click(100), end});
    oneByteMore.push_back(0);
    const Damage damages[] = {
        {"sound", file({minute, minute, click(100), end}), ""},
        {"a partial record of one byte", oneByteMore, "ends in a partial record of 1 bytes"},
        {"a click time at its minute's end", file({minute, minute, click(12'000'000), end}),
         "holds click times beyond the end of their minute"},
        {"the last click time of a minute", file({minute, minute, click(11'999'999), end}), ""},
        {"a record after the end", file({minute, minute, end, click(100)}),
         "holds data after its end record"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        const std::string path = dir / "crafted.TK1";
        WriteFileBytes(path, d.bytes);
        const Result r = RunCli(dir, {"dump", "--csv", path});
        EXPECT_EQ(r.status, d.problem.empty() ? 0 : 1);
        EXPECT_EQ(r.err,
                  d.problem.empty() ? "" : "wavtokeb-cli: " + path + ": " + d.problem + "\n");
    }

    // A duration that saturated its high part is no number.
    WriteFileBytes(dir / "durations.TK1",
                   file({minute, minute, click(100, 14), click(200, 15), end}));
    Result r = RunCli(dir, {"dump", "--csv", dir / "durations.TK1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> rows = Lines(r.out);
    ASSERT_EQ(rows.size(), 3u);
    std::vector<std::string> head = Split(rows[0], ',');
    const size_t duration =
        static_cast<size_t>(std::find(head.begin(), head.end(), "Durationto16Cyc") - head.begin());
    ASSERT_LT(duration, head.size());
    EXPECT_EQ(Split(rows[1], ',').at(duration), std::to_string(14 * 256 + 3));
    EXPECT_EQ(Split(rows[2], ',').at(duration), "");

    // At 1 k samples/s the last samples of a block (up to 125 ms) open the next minute, and
    // the recording's next block starts that minute's times again: a step back of 110 ms is
    // no new recording, even where the next recording may begin in that minute.
    const std::string linked = dir / "linked.TK1";
    WriteFileBytes(linked, file({minute, minute, click(6'000'000), minute, click(22'000),
                                 click(200), click(6'000'000), minute, click(300), end}));
    WriteFileBytes(
        dir / "linked.txt",
        std::vector<uint8_t>{'6', '4', '8', '9', '1', '5', '6', '0', '\t', 'A', '\r', '\n',
                             '6', '4', '8', '9', '1', '5', '6', '2', '\t', 'B', '\r', '\n'});
    r = RunCli(dir, {"dump", "--csv", linked});
    ASSERT_EQ(r.status, 0) << r.err;
    rows = Lines(r.out);
    ASSERT_EQ(rows.size(), 6u);
    std::string sources;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string> cells = Split(rows[i], ',');
        sources += cells.at(cells.size() - 2);
    }
    EXPECT_EQ(sources, "AAAAB");

    // Raven's boxes hold every period a click's intervals can stand for: the detector times
    // peaks to the half tick (at 576 k samples/s 0.868 of a 250 ns unit) before an interval is
    // rounded, and nothing lies above half the rate. A 130 kHz click (30.8 units) read as
    // 26 ... 30 lies in its box.
    auto tonal = [&](std::array<uint8_t, 4> ipis) {
        Record r = click(100);
        std::copy(ipis.begin(), ipis.end(), r.begin() + 5);
        return r;
    };
    const std::string boxes = dir / "boxes.TK1";
    WriteFileBytes(boxes, file({minute, minute, tonal({26, 27, 30, 30}), tonal({3, 3, 3, 3}),
                                tonal({255, 40, 255, 255}), end}));
    const std::string table =
        "path,start,time_source,correction_s,rate_hz,samples,duration_s,placed_minute,"
        "placed_offset_s\r\n/x.wav,,,,576000,576000,1.000000,2023-05-17T14:00:00,\r\n";
    WriteFileBytes(dir / "boxes.recordings.csv", std::vector<uint8_t>(table.begin(), table.end()));
    auto bands = [&] {
        const Result raven = RunCli(dir, {"dump", "--raven", boxes});
        EXPECT_EQ(raven.status, 0) << raven.err;
        std::string text;
        for (const std::string& row : Lines(raven.out)) {
            const auto cells = Split(row, '\t');
            text += cells.at(5) + "-" + cells.at(6) + " ";
        }
        return text;
    };
    EXPECT_EQ(bands(),
              "Low Freq (Hz)-High Freq (Hz) 127518.3-162390.8 288000.0-288000.0 0.0-103541.3 ");
    // Without the rate, a half tick of 250 ns.
    fs::remove(dir / "boxes.recordings.csv");
    EXPECT_EQ(bands(),
              "Low Freq (Hz)-High Freq (Hz) 126984.1-163265.3 888888.9-2666666.7 0.0-103896.1 ");
}

// The TK1 bytes apart from the finalisation minute (the wall clock).
std::vector<uint8_t> Tk1BytesWithoutClock(const std::string& path) {
    std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() >= 268) std::fill(b.begin() + 264, b.begin() + 268, 0);
    return b;
}

TEST_F(CliTest, HeadersAreCheckedBeforeAnythingIsWritten) {
    synth::RecordingSpec spec{.SampleRate = 384000,
                              .Seconds = 0.3,
                              .NoiseRms = 5,
                              .Trains = {{.StartSec = 0.05, .Clicks = 10, .PeakAmplitude = 3000}}};
    const std::string fit = wavs + "/A.20230517140000.wav";
    synth::WriteWav(fit, spec);

    // Another rate given than the header's: converted, with one warning naming both.
    Result r = RunCli(dir, {"convert", "--rate", "576", "--out", out + "/576", wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "wavtokeb-cli: " + fit +
                         ": its header says 384000 samples/s, not the 576 k samples/s of --rate\n");
    // Without --rate, and with --rate header, the header's rate is taken: --rate 384.
    r = RunCli(dir, {"convert", "--rate", "384", "--out", out + "/384", wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const std::string tk1 = "/NewFileNameA 2023 05 17.TK1";
    ASSERT_GT(ReadTk1(out + "/384" + tk1).Clicks().size(), 3u);
    for (const std::string rate : {"header", ""}) {
        std::vector<std::string> args = {"convert", "--out", out + "/h" + rate, wavs};
        if (!rate.empty()) args.insert(args.begin() + 1, {"--rate", rate});
        r = RunCli(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_EQ(Tk1BytesWithoutClock(out + "/h" + rate + tk1),
                  Tk1BytesWithoutClock(out + "/384" + tk1));
    }

    // Float, 24-bit, 8-bit, stereo and FLAC named .wav: refused, naming each, nothing written.
    const std::vector<uint8_t> plain = ReadFileBytes(fit);
    auto variant = [&](const std::string& name, uint16_t tag, uint16_t channels, uint16_t bits) {
        std::vector<uint8_t> b = plain;
        b[20] = static_cast<uint8_t>(tag);
        b[22] = static_cast<uint8_t>(channels);
        b[34] = static_cast<uint8_t>(bits);
        if (tag == 0) std::copy_n("fLaC", 4, b.begin());
        const std::string path = wavs + "/" + name + ".20230517140000.wav";
        WriteFileBytes(path, b);
        return path;
    };
    const std::vector<std::string> unfit = {variant("F", 3, 1, 32), variant("G", 1, 1, 24),
                                            variant("H", 1, 1, 8), variant("S", 1, 2, 16),
                                            variant("X", 0, 1, 16)};
    const std::string refusedOut = dir / "refused";
    fs::create_directories(refusedOut);
    r = RunCli(dir, {"convert", "--rate", "384", "--out", refusedOut, wavs});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(fs::is_empty(refusedOut));
    auto err = Lines(r.err, "\n");
    ASSERT_EQ(err.size(), 6u) << r.err;
    EXPECT_EQ(err[0],
              "wavtokeb-cli: " + unfit[0] +
                  ": not 16-bit PCM mono: IEEE float, 32 bits, 1 channel, 384000 samples/s");
    EXPECT_EQ(err[3], "wavtokeb-cli: " + unfit[3] +
                          ": not 16-bit PCM mono: PCM, 16 bits, 2 channels, 384000 samples/s");
    EXPECT_EQ(err[4], "wavtokeb-cli: " + unfit[4] +
                          ": not 16-bit PCM mono: FLAC stream without a STREAMINFO");
    EXPECT_EQ(err[5],
              "wavtokeb-cli: 5 files are not 16-bit PCM mono WAV: nothing converted "
              "(--ignore-headers converts them anyway)");
    // list tells the same and lists as before; --ignore-headers converts them.
    r = RunCli(dir, {"list", "--rate", "384", wavs});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out).size(), 8u);
    EXPECT_EQ(Lines(r.err, "\n").size(), 5u) << r.err;
    r = RunCli(dir, {"convert", "--rate", "384", "--ignore-headers", "--out", refusedOut, wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 7u);

    // --rate header needs headers that agree on a valid rate.
    spec.SampleRate = 576000;
    synth::WriteWav(wavs + "/B.20230517140000.wav", spec);
    r = RunCli(dir, {"convert", "--rate", "header", "--ignore-headers", "--out", refusedOut, wavs});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "wavtokeb-cli: --rate header: the headers give different rates: 384000 "
              "samples/s in " +
                  fit + ", 576000 samples/s in " + wavs + "/B.20230517140000.wav\n");
    // Without --rate too, naming a file of each rate; a listing goes on at 576.
    r = RunCli(dir, {"convert", "--ignore-headers", "--out", out + "/none", wavs});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wavtokeb-cli: the headers give different rates: 384000 samples/s in " + fit +
                         ", 576000 samples/s in " + wavs +
                         "/B.20230517140000.wav: nothing converted (the files of each location "
                         "share one rate: convert each location in a run of its own with "
                         "--location NAME, which reads it at its rate; list --locations names "
                         "them)\n");
    EXPECT_FALSE(fs::exists(out + "/none"));
    // Each location at its own rate, as a run with --rate gives it.
    for (const std::string location : {"A", "B"}) {
        r = RunCli(dir, {"convert", "--ignore-headers", "--location", location, "--out",
                         out + "/alone", wavs});
        EXPECT_EQ(r.status, 0) << r.err;
        r = RunCli(dir, {"convert", "--ignore-headers", "--location", location, "--rate",
                         location == "A" ? "384" : "576", "--out", out + "/rated", wavs});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string tk1 = "/NewFileName" + location + " 2023 05 17.TK1";
        EXPECT_EQ(Tk1BytesWithoutClock(out + "/alone" + tk1),
                  Tk1BytesWithoutClock(out + "/rated" + tk1));
    }
    // Where a location holds files of both rates, the files of each rate go apart.
    spec.SampleRate = 576000;
    synth::WriteWav(wavs + "/A.20230517150000.wav", spec);
    r = RunCli(dir, {"convert", "--ignore-headers", "--out", out + "/none", wavs});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(": nothing converted (location A holds files of different rates: "
                         "convert the files of each rate in a run of their own)\n"),
              std::string::npos)
        << r.err;
    fs::remove(wavs + "/A.20230517150000.wav");
    // A rate that is no whole number of k samples/s, in every file: --rate is what is right.
    fs::create_directories(dir / "cd");
    WriteSamplesFile(dir / "cd/C.20230517140000.wav", std::vector<int16_t>(4410), 44100);
    r = RunCli(dir, {"convert", "--out", out + "/none", dir / "cd"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is no whole number of k samples/s in 1 ... 2000: nothing converted "
                         "(--rate K converts every file at K k samples/s)\n"),
              std::string::npos)
        << r.err;
    r = RunCli(dir, {"list", "--csv", fit, wavs + "/B.20230517140000.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out)[1].substr(0, 42),
              "2023-05-17T14:00:00.000000,name,0.200,A,1,");  // 0.3 s at 576 k
    r = RunCli(dir, {"list", "--rate", "header", unfit[0]});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "wavtokeb-cli: --rate header: no file has a 16-bit PCM mono header to take "
              "the rate from\n");
    // Without --rate, files without a readable rate are read at 576.
    r = RunCli(dir, {"list", "--csv", unfit[0]});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliTest, ArchiveFormsAreFoundListedAndConvertedWithTheirChoices) {
    const synth::RecordingSpec spec{
        .SampleRate = 384000,
        .Seconds = 0.6,
        .NoiseRms = 5,
        .Trains = {{.StartSec = 0.1, .Clicks = 10, .PeakAmplitude = 3000}}};
    const std::string plain = wavs + "/A.20230517140000.wav";
    synth::WriteWav(plain, spec);
    const std::string flac = wavs + "/B.20230517140000.flac";
    synth::WavToFlac(plain, flac, true);
    const std::string wide = wavs + "/F.20230517140000.wav";
    synth::WriteWav(wide, spec, {}, {}, {synth::SampleStore::Float32});
    const std::string stereo = wavs + "/S.20230517140000.wav";
    synth::WriteWav(stereo, spec, {}, {}, {synth::SampleStore::Pcm24, 2, 2});
    const int64_t start = (int64_t{45063} * 86400 + 15 * 3600) * 1000000;  // 2023-05-17 15:00
    synth::WriteXwav(wavs + "/X.20230517150000.x.wav",
                     {{spec, start}, {spec, start + 300 * int64_t{1000000}}});

    // The search finds the FLAC file; list shows a row per raw file of the XWAV file, at its
    // own start, and what the files that need a choice need.
    Result r = RunCli(dir, {"list", "--csv", "--rate", "384", wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> rows = Lines(r.out);
    ASSERT_EQ(rows.size(), 7u) << r.out;
    EXPECT_EQ(rows[2], "2023-05-17T14:00:00.000000,name,0.600,B,2," + flac);
    EXPECT_EQ(rows[5],
              "2023-05-17T15:00:00.000000,harp,0.600,X,5," + wavs + "/X.20230517150000.x.wav#1");
    EXPECT_EQ(rows[6],
              "2023-05-17T15:05:00.000000,harp,0.600,X,5," + wavs + "/X.20230517150000.x.wav#2");
    const std::string needs16 = "wavtokeb-cli: " + wide +
                                ": IEEE float, 32 bits, 1 channel, 384000 samples/s: needs "
                                "--to-16-bit\n";
    const std::string needsBoth = "wavtokeb-cli: " + stereo +
                                  ": PCM, 24 bits, 2 channels, 384000 samples/s: needs "
                                  "--to-16-bit and --channel N\n";
    EXPECT_EQ(r.err, needs16 + needsBoth + "6 WAV files in 5 name groups\n");
    // Under the time of a name, which is the first raw file's, each later raw file starts as
    // much later as its own time says.
    const std::string named = dir / "named";
    fs::create_directories(named);
    synth::WriteXwav(named + "/Y.20230517160000.wav",
                     {{spec, start}, {spec, start + 300'000'000}, {spec, start + 900'000'000}});
    const Result byName =
        RunCli(dir, {"list", "--csv", "--rate", "384", "--time-source", "name", named});
    const std::vector<std::string> listed = Lines(byName.out);
    ASSERT_EQ(listed.size(), 4u) << byName.out;
    EXPECT_EQ(listed[3].substr(0, 26), "2023-05-17T16:15:00.000000") << listed[3];

    // Without the choices: refused, naming what each file needs, never --ignore-headers.
    r = RunCli(dir, {"convert", "--rate", "384", "--ignore-headers", "--out", out, wavs});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, needs16 + needsBoth +
                         "wavtokeb-cli: 2 files are not 16-bit PCM of one channel: nothing "
                         "converted (--to-16-bit converts their samples to 16 bits, --channel "
                         "N reads channel N)\n");
    EXPECT_TRUE(fs::is_empty(out));
    // Channel 2 of files of one channel is refused, naming each file once.
    r = RunCli(dir,
               {"convert", "--rate", "384", "--to-16-bit", "--channel", "2", "--out", out, wavs});
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> err = Lines(r.err, "\n");
    ASSERT_EQ(err.size(), 5u) << r.err;
    EXPECT_EQ(err[1], "wavtokeb-cli: " + flac +
                          ": FLAC, 16 bits, 1 channel, 384000 samples/s: it has no channel 2");
    EXPECT_EQ(err[4], "wavtokeb-cli: 4 files have fewer than 2 channels: nothing converted");
    EXPECT_TRUE(fs::is_empty(out));

    r = RunCli(dir,
               {"convert", "--rate", "384", "--to-16-bit", "--channel", "1", "--out", out, wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find("NewFileNameX 2023 05 17.TK1\t2\t"), std::string::npos) << r.out;
    // The XWAV file's raw files are named by their number in the side files.
    for (const char* side : {".recordings.csv", ".txt"}) {
        const std::string text = ReadFileText(out + "/NewFileNameX 2023 05 17" + side);
        EXPECT_NE(text.find("X.20230517150000.x.wav#2"), std::string::npos) << text;
    }

    // A FLAC file gives the TK1 and side-file bytes of the WAV file it was made from, apart
    // from the file names.
    const std::string flacs = dir / "flacs", flacOut = dir / "flacOut", wavOut = dir / "wavOut";
    fs::create_directories(flacs);
    synth::WavToFlac(plain, flacs + "/A.20230517140000.flac", false);
    ASSERT_EQ(RunCli(dir, {"convert", "-r", "384", "-o", wavOut, plain}).status, 0);
    r = RunCli(dir, {"convert", "-r", "384", "-o", flacOut, flacs});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string name = "/NewFileNameA 2023 05 17";
    EXPECT_EQ(Tk1BytesWithoutClock(flacOut + name + ".TK1"),
              Tk1BytesWithoutClock(wavOut + name + ".TK1"));
    for (const char* side : {".txt", ".recordings.csv"}) {
        std::string text = ReadFileText(flacOut + name + side);
        for (size_t at; (at = text.find(flacs + "/A.20230517140000.flac")) != std::string::npos;)
            text.replace(at, flacs.size() + 22, plain);
        EXPECT_EQ(text, ReadFileText(wavOut + name + side)) << side;
    }

    // A damaged FLAC file is converted up to its last good sample with a message naming it and
    // the time in it; the next location is converted all the same, and the exit status is 1.
    std::vector<uint8_t> bytes = ReadFileBytes(flacs + "/A.20230517140000.flac");
    std::fill(bytes.end() - 3000, bytes.end() - 1000, 0xA5);
    WriteFileBytes(flacs + "/A.20230517140000.flac", bytes);
    fs::copy_file(plain, flacs + "/Z.20230517140000.wav");
    const std::string damagedOut = dir / "damaged";
    r = RunCli(dir, {"convert", "-r", "384", "-o", damagedOut, flacs});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Failed to decode " + flacs + "/A.20230517140000.flac at 0.", 0), 0u)
        << r.err;
    EXPECT_TRUE(fs::exists(damagedOut + "/NewFileNameZ 2023 05 17.TK1"));
    EXPECT_LE(ReadTk1(damagedOut + name + ".TK1").Clicks().size(),
              ReadTk1(wavOut + name + ".TK1").Clicks().size());
}

TEST_F(CliTest, NameDatePatternsDateOtherRecordersNames) {
    Silent("PAM_20210610_033655_123.wav", 1);
    Silent("20190527_190000.wav", 1);
    const Result r = RunCli(dir, {"convert", "--rate", "2", "--out", out, "--name-date",
                                  "{location}_%Y%m%d_%H%M%S*", wavs});
    EXPECT_EQ(r.status, 0) << r.err;
    // The name that does not match has no date and the built-in identity.
    EXPECT_EQ(r.err,
              "Date/time conversion failed (D2)           0\n"
              "wavtokeb-cli: no date from the name of " +
                  wavs +
                  "/20190527_190000.wav (try --name-date, e.g. '%Y%m%d_%H%M%S*', or "
                  "--time-source file)\n");
    const std::string pam = out + "/NewFileNamePAM 2021 06 10.TK1";
    ASSERT_TRUE(fs::exists(pam));
    EXPECT_EQ(Field(Lines(RunCli(dir, {"dump", pam}).out), "TK1StartMin"),
              "63874296\t10/6/2021 03:36");
    // Without {location}: the folder's name.
    const Result folder = RunCli(dir, {"list", "--rate", "2", "--name-date", "%Y%m%d_%H%M%S",
                                       wavs + "/20190527_190000.wav"});
    EXPECT_EQ(folder.status, 0) << folder.err;
    EXPECT_EQ(Split(Lines(folder.out).at(1), '\t').at(3), "wavs");
    EXPECT_EQ(Split(Lines(folder.out).at(1), '\t').at(0), "27/5/2019 19:00");
    const Result bad = RunCli(dir, {"convert", "--out", out, "--name-date", "%Y%m%d", wavs});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err,
              "wavtokeb-cli: --name-date: Name-date pattern \"%Y%m%d\": the hour (%H) is "
              "missing\n");
}

// Clicks traced back to their recording and second: the bundled example's two REEF files (the
// second placed at a later minute), then a file that continues the minute the second one ran
// into, then one whose name gives an earlier minute than the file before reached (the linkage
// file gives it the next minute, its samples begin in the open one).
TEST_F(CliTest, DumpCsvTracesEveryLoudClickToItsRecordingAndSecond) {
    constexpr int32_t kRate = 192000;  // small files; the trains moved below half the rate
    synth::ExampleOptions options;
    options.SampleRate = kRate;
    options.Seconds = 62;
    options.HarbourFiles = 0;
    options.ReefFiles = 2;
    std::vector<synth::ExampleFile> files = synth::ExampleArchive(options);
    synth::ClickTrain loud;
    loud.Clicks = 10;
    loud.FrequencyHz = 70000;
    loud.PeakAmplitude = 12000;  // louder than the example's clicks, so no echo of theirs
    loud.Shape = synth::TrainShape::Flat;
    auto train = [&](double start) {
        synth::ClickTrain t = loud;
        t.StartSec = start;
        return t;
    };
    for (synth::ExampleFile& f : files) {
        for (synth::ClickTrain& t : f.Spec.Trains) t.FrequencyHz -= 60000;
    }
    files[0].Spec.Trains.push_back(train(30));
    files[1].Spec.Trains.push_back(train(30));
    files[1].Spec.Trains.push_back(train(60.5));  // in the minute after its first one
    synth::ExampleFile continuing{"REEF.20240611080300.wav", files[1].Spec};
    continuing.Spec.Trains = {train(0.2), train(60.3)};
    synth::ExampleFile moved{"REEF.20240611080330.wav", files[1].Spec};
    moved.Spec.Seconds = 10;
    moved.Spec.Trains = {train(0.1)};
    files.push_back(continuing);
    files.push_back(moved);
    std::vector<std::string> paths;
    std::vector<std::vector<synth::ClickTruth>> truth;
    for (const synth::ExampleFile& f : files) {
        paths.push_back(wavs + "/" + f.Name);
        truth.push_back(synth::WriteWav(paths.back(), f.Spec).Truth);
    }
    std::vector<std::string> args = {"convert", "-qr192", "-o", out};
    args.insert(args.end(), paths.begin(), paths.end());  // in this order: the last two share 08:03
    ASSERT_EQ(RunCli(dir, args).status, 0);
    const std::string tk1 = out + "/NewFileNameREEF 2024 06 11.TK1";
    ASSERT_EQ(Lines(ReadFileText(out + "/NewFileNameREEF 2024 06 11.txt")),
              (std::vector<std::string>{"65454240\t" + paths[0], "65454242\t" + paths[1],
                                        "65454243\t" + paths[2], "65454245\t" + paths[3]}));

    const Result csv = RunCli(dir, {"dump", "--csv", tk1});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = Lines(csv.out);
    ASSERT_GT(rows.size(), 1u);
    const auto head = Split(rows[0], ',');
    ASSERT_GE(head.size(), 3u);
    EXPECT_EQ(head[head.size() - 3], "source_wav");
    EXPECT_EQ(head[head.size() - 2], "offset_s");
    EXPECT_EQ(head.back(), "recording_time");  // from the recordings table beside it
    // Every loud click (only the loud trains reach the top of the amplitude scale) is given
    // its file and its second in that file to within 2 ms, and its time: the start its name
    // gives, seconds included, plus that second.
    const size_t pmax =
        static_cast<size_t>(std::find(head.begin(), head.end(), "Pmax") - head.begin());
    std::vector<int> loudRows(paths.size());
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto cells = Split(rows[i], ',');
        ASSERT_EQ(cells.size(), head.size());
        const auto file = std::find(paths.begin(), paths.end(), cells[cells.size() - 3]);
        ASSERT_NE(file, paths.end()) << rows[i];
        if (std::stoi(cells.at(pmax)) < 245) continue;
        const auto k = static_cast<size_t>(file - paths.begin());
        ++loudRows[k];
        const double offset = std::stod(cells[cells.size() - 2]);
        EXPECT_TRUE(std::any_of(truth[k].begin(), truth[k].end(), [&](const synth::ClickTruth& c) {
            return c.PeakAmplitude >= 10000 &&
                   std::abs(synth::ConverterSeconds(c, kRate) - offset) < 0.002;
        })) << rows[i];
        // "2024-06-11 08:03:30.100..." for the file named ...080330 and the offset 0.1.
        const std::string stamp = files[k].Name.substr(13, 6);
        const double start = std::stoi(stamp.substr(0, 2)) * 3600 +
                             std::stoi(stamp.substr(2, 2)) * 60 + std::stoi(stamp.substr(4, 2));
        const std::string& time = cells.back();
        ASSERT_EQ(time.substr(0, 11), "2024-06-11 ") << rows[i];
        const double seconds = std::stoi(time.substr(11, 2)) * 3600 +
                               std::stoi(time.substr(14, 2)) * 60 + std::stod(time.substr(17));
        EXPECT_NEAR(seconds, start + offset, 1e-6) << rows[i];
    }
    // The detector may miss a loud click where one file's samples follow another's in a minute.
    for (size_t k = 0; k < paths.size(); ++k) EXPECT_GE(loudRows[k], 9) << files[k].Name;

    // The same clicks for Raven and Audacity, in seconds from a file's first sample (where a
    // player puts it): every loud click within 1 ms of where it was put. The tables over the
    // whole sequence count from the first file, the recordings played one after another.
    auto putThere = [&](size_t k, double at) {
        return std::any_of(truth[k].begin(), truth[k].end(), [&](const synth::ClickTruth& c) {
            return c.PeakAmplitude >= 10000 && std::abs(c.CentreSec - at) < 0.001;
        });
    };
    std::vector<double> sequenceStart = {0};
    for (const synth::ExampleFile& f : files) {
        sequenceStart.push_back(sequenceStart.back() + f.Spec.Seconds);
    }
    const std::string ravenHeading =
        "Selection\tView\tChannel\tBegin Time (s)\tEnd Time (s)\tLow Freq (Hz)\tHigh Freq "
        "(Hz)\tBegin File\tBegin Path\tFile Offset (s)\tNcyc\tPmax\tkHz\tPkAtPosn\t"
        "ClkIPIrangeCode\tIPIpreMax\tIPIPostMax\tIPIPost1\tIPIPost2\tPkMinus1\tPkPlus1\t"
        "IPIbefore\tAmpReversalCount\tDurationto16Cyc\tPreLastIPI\tRecording Time";
    // Raven rows of the file at k (sequence: of every file), checked; the loud ones counted.
    auto checkRaven = [&](const std::vector<std::string>& table, bool sequence) -> int {
        EXPECT_EQ(table.at(0), ravenHeading);
        int loud = 0;
        for (size_t i = 1; i < table.size(); ++i) {
            const auto cells = Split(table[i], '\t');
            const auto k = static_cast<size_t>(std::find(paths.begin(), paths.end(), cells.at(8)) -
                                               paths.begin());
            if (cells.size() != 26 || k == paths.size()) {
                ADD_FAILURE() << table[i];
                continue;
            }
            EXPECT_EQ(cells[0] + cells[1] + cells[2], std::to_string(i) + "Spectrogram 11");
            EXPECT_EQ(cells[7], files[k].Name);
            const double begin = std::stod(cells[3]), offset = std::stod(cells[9]);
            EXPECT_NEAR(begin - offset, sequence ? sequenceStart[k] : 0.0, 1e-6) << table[i];
            EXPECT_GT(std::stod(cells[4]), begin);
            EXPECT_LT(std::stod(cells[5]), std::stod(cells[6]));
            if (std::stoi(cells[11]) < 245) continue;
            ++loud;
            EXPECT_TRUE(putThere(k, offset)) << table[i];
        }
        return loud;
    };
    const Result raven = RunCli(dir, {"dump", "--raven", tk1});
    ASSERT_EQ(raven.status, 0) << raven.err;
    const auto ravenRows = Lines(raven.out);
    ASSERT_EQ(ravenRows.size(), rows.size());
    EXPECT_EQ(checkRaven(ravenRows, true), std::accumulate(loudRows.begin(), loudRows.end(), 0));
    // Its Recording Time is dump --csv's recording_time.
    EXPECT_EQ(Split(ravenRows[1], '\t').back(), Split(rows[1], ',').back());
    // A file's first sample lies 28 samples before the first one the conversion read (byte 100
    // of a plain 44-byte header); where the recordings cannot be read, their times count from
    // the one read.
    fs::rename(wavs, dir / "away");
    const Result unread = RunCli(dir, {"dump", "--raven", tk1});
    fs::rename(dir / "away", wavs);
    ASSERT_EQ(unread.status, 0) << unread.err;
    const auto unreadRows = Lines(unread.out);
    ASSERT_EQ(unreadRows.size(), ravenRows.size());
    for (size_t i = 1; i < ravenRows.size(); ++i) {
        const double fileOffset = std::stod(Split(ravenRows[i], '\t').at(9));
        const double fromRead = std::stod(Split(unreadRows[i], '\t').at(9));
        if (fromRead == 0) continue;  // a span cut at the file's start
        EXPECT_NEAR(fileOffset - fromRead, 28.0 / kRate, 1.1e-6) << ravenRows[i];
    }
    const Result perFile = RunCli(dir, {"dump", "--raven", "--per-file", dir / "raven", tk1});
    ASSERT_EQ(perFile.status, 0) << perFile.err;
    const Result labels = RunCli(dir, {"dump", "--audacity", dir / "labels", tk1});
    ASSERT_EQ(labels.status, 0) << labels.err;
    const auto written = Lines(labels.out);
    ASSERT_EQ(written.size(), paths.size());
    for (size_t k = 0; k < paths.size(); ++k) {
        const std::string stem = files[k].Name.substr(0, files[k].Name.size() - 4);
        const std::string table = dir / ("raven/" + stem + ".Table.1.selections.txt");
        EXPECT_EQ(Lines(perFile.out).at(k),
                  table + "\t" + std::to_string(Lines(ReadFileText(table)).size() - 1));
        EXPECT_EQ(checkRaven(Lines(ReadFileText(table)), false), loudRows[k]) << table;
        const std::string labelFile = dir / ("labels/" + stem + ".txt");
        const auto lines = Lines(ReadFileText(labelFile));
        EXPECT_EQ(written[k], labelFile + "\t" + std::to_string(lines.size()));
        int loud = 0;
        for (const std::string& line : lines) {
            const auto cells = Split(line, '\t');
            ASSERT_EQ(cells.size(), 3u) << line;
            const auto label = Split(cells[2], ' ');
            ASSERT_EQ(label.size(), 2u) << line;  // "Pmax kHz"
            EXPECT_LT(std::stod(cells[0]), std::stod(cells[1]));
            if (std::stoi(label[0]) < 245) continue;
            ++loud;
            EXPECT_TRUE(putThere(k, std::stod(cells[0]))) << line;
        }
        EXPECT_EQ(loud, loudRows[k]) << labelFile;
    }
    EXPECT_EQ(RunCli(dir, {"dump", "--audacity", dir / "labels", tk1}).status, 2);
    EXPECT_EQ(RunCli(dir, {"dump", "--audacity", dir / "labels", "--overwrite", tk1}).out,
              labels.out);
    // An export that fails on one file replaces none of the earlier files, and names them.
    const std::string first = Split(written.front(), '\t').at(0);
    const std::string last = Split(written.back(), '\t').at(0);
    WriteFileBytes(first, {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
    fs::remove(last);
    fs::create_directories(last);
    const Result failed = RunCli(dir, {"dump", "--audacity", dir / "labels", "--overwrite", tk1});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("wavtokeb-cli: cannot write " + last + ": " + std::strerror(EISDIR)),
              std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find("wavtokeb-cli: earlier file kept: " + first + "\n"),
              std::string::npos)
        << failed.err;
    EXPECT_EQ(ReadFileText(first), "earlier");
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(Names(dir / "labels").size(), written.size());
    fs::remove(last);
    // A label file another run writes after the export has begun is kept, and the export fails
    // (it waits here at its note that the recordings cannot be read).
    fs::remove_all(dir / "labels");
    fs::rename(wavs, dir / "away");
    const Result meanwhile =
        RunCli(dir, {"dump", "--audacity", dir / "labels", tk1}, {.atFirstMessage = [&] {
                   WriteFileBytes(first, {'o', 't', 'h', 'e', 'r'});
               }});
    fs::rename(dir / "away", wavs);
    EXPECT_EQ(meanwhile.status, 1);
    EXPECT_NE(meanwhile.err.find("wavtokeb-cli: cannot write " + first +
                                 ": another conversion wrote this file meanwhile, and its file "
                                 "was kept\n"),
              std::string::npos)
        << meanwhile.err;
    EXPECT_EQ(ReadFileText(first), "other");
    // Recordings of one name in two folders: the second one's file is told apart.
    std::string same = ReadFileText(out + "/NewFileNameREEF 2024 06 11.recordings.csv");
    same.replace(same.find(paths[1]), paths[1].size(), dir / ("other/" + files[0].Name));
    WriteFileBytes(dir / "same.csv", std::vector<uint8_t>(same.begin(), same.end()));
    const Result twice =
        RunCli(dir, {"dump", "--audacity", dir / "same", "--recordings", dir / "same.csv", tk1});
    EXPECT_EQ(Split(Lines(twice.out).at(1), '\t').at(0),
              dir / ("same/" + files[0].Name.substr(0, files[0].Name.size() - 4) + " (2).txt"));

    // The minute table: a row for every minute of the TK1 file, gaps included, whose seconds
    // of recording add up to the recordings' and whose clicks to the file's.
    const Result minutes = RunCli(dir, {"dump", "--minutes-csv", tk1});
    ASSERT_EQ(minutes.status, 0) << minutes.err;
    const auto minuteRows = Lines(minutes.out);
    EXPECT_EQ(minuteRows.at(0),
              "minute,recorded_s,clicks,MinuteScalerX2560,scaler,DeadBandPlusUplift,threshold");
    EXPECT_EQ(std::to_string(minuteRows.size() - 1),
              Field(Lines(RunCli(dir, {"dump", tk1}).out), "MinuteRecords"));
    EXPECT_EQ(minuteRows[1].substr(0, 20), "2024-06-11T08:00:00,");
    double recorded = 0, duration = 0;
    size_t clicks = 0;
    for (size_t i = 1; i < minuteRows.size(); ++i) {
        const auto cells = Split(minuteRows[i], ',');
        ASSERT_EQ(cells.size(), 7u) << minuteRows[i];
        recorded += std::stod(cells[1]);
        clicks += std::stoul(cells[2]);
    }
    const auto recordings = Lines(ReadFileText(out + "/NewFileNameREEF 2024 06 11.recordings.csv"));
    for (size_t i = 1; i < recordings.size(); ++i) {
        duration += std::stod(Split(recordings[i], ',').at(6));
    }
    EXPECT_NEAR(recorded, duration, 1e-5);
    EXPECT_EQ(clicks, rows.size() - 1);
    // Each minute has its own seconds: the first file's 62 s fill its first minute (which
    // closes a few hundred ticks early) and run 2 s into the next; the threshold is the setting
    // plus the minute's uplift.
    const std::string deadBand = Field(Lines(RunCli(dir, {"dump", tk1}).out), "DeadBandSetting");
    for (size_t i = 1; i < minuteRows.size(); ++i) {
        const auto cells = Split(minuteRows[i], ',');
        EXPECT_EQ(std::stol(cells[6]), std::stol(deadBand) + std::stol(cells[5])) << minuteRows[i];
    }
    EXPECT_NEAR(std::stod(Split(minuteRows[1], ',').at(1)), 60, 1e-3) << minuteRows[1];
    EXPECT_EQ(minuteRows[2].substr(0, 20), "2024-06-11T08:01:00,");
    EXPECT_NEAR(std::stod(Split(minuteRows[2], ',').at(1)), 2, 1e-3) << minuteRows[2];

    // A linkage file named instead; without one the recordings table tells the sources.
    fs::rename(out + "/NewFileNameREEF 2024 06 11.txt", dir / "linkage.txt");
    const Result named = RunCli(dir, {"dump", "--csv", "--linkage", dir / "linkage.txt", tk1});
    EXPECT_EQ(named.out, csv.out);
    const Result tableOnly = RunCli(dir, {"dump", "--csv", tk1});
    EXPECT_EQ(tableOnly.out, csv.out);
    // A table named instead; without both there are no source columns.
    fs::rename(out + "/NewFileNameREEF 2024 06 11.recordings.csv", dir / "table.csv");
    const Result table = RunCli(dir, {"dump", "--csv", "--recordings", dir / "table.csv", tk1});
    EXPECT_EQ(table.out, csv.out);
    const Result none = RunCli(dir, {"dump", "--csv", tk1});
    EXPECT_EQ(Lines(none.out)[0] + ",source_wav,offset_s,recording_time", rows[0]);
    const Result noTable = RunCli(dir, {"dump", "--csv", "--recordings", dir / "linkage.txt", tk1});
    EXPECT_EQ(noTable.status, 2);
    EXPECT_EQ(noTable.err, "wavtokeb-cli: --recordings " + dir / "linkage.txt" +
                               ": its first line is no recordings table heading (path, start, "
                               "..., placed_minute)\n");
    const Result missing = RunCli(dir, {"dump", "--csv", "--linkage", dir / "no.txt", tk1});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err,
              "wavtokeb-cli: --linkage " + dir / "no.txt" + ": No such file or directory\n");
    EXPECT_TRUE(missing.out.empty());
}

// An XWAV file's raw files are recordings of their own in the TK1 file and in dump --csv, but
// players open the XWAV file: the Raven and Audacity exports put each click at its raw file's
// place in it, and dump reads the XWAV file for where each raw file's samples begin.
TEST_F(CliTest, XwavExportsLineUpWithTheXwavFile) {
    constexpr int32_t kRate = 192000;
    std::vector<synth::RawFileSpec> raws;
    const int64_t start = (int64_t{45454} * 86400 + 10 * 3600) * 1000000;  // 2024-06-11 10:00
    for (int k = 0; k < 3; ++k) {
        synth::RecordingSpec spec;
        spec.SampleRate = kRate;
        spec.Seconds = 3 + k;
        synth::ClickTrain t;
        t.StartSec = 0.5 + 0.3 * k;
        t.Clicks = 10;
        t.FrequencyHz = 70000;
        t.PeakAmplitude = 12000;
        t.Shape = synth::TrainShape::Flat;
        spec.Trains = {t};
        raws.push_back({spec, start + k * 300'250'000});  // 10:00:00, 10:05:00.250, ...
    }
    const std::string xwav = wavs + "/X.20240611100000.wav";
    const synth::XwavResult written = synth::WriteXwav(xwav, raws);
    const Result converted = RunCli(dir, {"convert", "--out", out, wavs});
    ASSERT_EQ(converted.status, 0) << converted.err;
    const std::string tk1 = out + "/NewFileNameX 2024 06 11.TK1";
    ASSERT_TRUE(fs::exists(tk1)) << converted.out << converted.err;
    // Where each loud click lies in the XWAV file as a player shows it: its raw file's samples
    // follow the ones before it.
    std::vector<double> truth;
    double at = 0;
    for (size_t k = 0; k < raws.size(); ++k) {
        for (const synth::ClickTruth& c : written.Raws[k].Truth) truth.push_back(at + c.CentreSec);
        at += static_cast<double>(written.Raws[k].Samples) / kRate;
    }
    auto placed = [&](double t) {
        return std::any_of(truth.begin(), truth.end(),
                           [&](double c) { return std::abs(c - t) < 0.001; });
    };

    // One label file, for the XWAV file.
    const Result labels = RunCli(dir, {"dump", "--audacity", dir / "labels", tk1});
    ASSERT_EQ(labels.status, 0) << labels.err;
    EXPECT_EQ(labels.err, "");
    const std::string labelFile = dir / "labels/X.20240611100000.txt";
    const auto lines = Lines(ReadFileText(labelFile));
    EXPECT_EQ(labels.out, labelFile + "\t" + std::to_string(lines.size()) + "\r\n");
    int loud = 0;
    for (const std::string& line : lines) {
        const auto cells = Split(line, '\t');
        ASSERT_EQ(cells.size(), 3u) << line;
        if (std::stoi(cells[2]) < 245) continue;
        ++loud;
        EXPECT_TRUE(placed(std::stod(cells[0]))) << line;
    }
    EXPECT_GE(loud, 27);

    // Raven: Begin File is the XWAV file, File Offset the click's second in it; one table for
    // it with --per-file.
    const Result raven = RunCli(dir, {"dump", "--raven", tk1});
    ASSERT_EQ(raven.status, 0) << raven.err;
    EXPECT_EQ(raven.err, "");
    const auto rows = Lines(raven.out);
    ASSERT_EQ(rows.size(), lines.size() + 1);
    loud = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto cells = Split(rows[i], '\t');
        ASSERT_EQ(cells.size(), 26u) << rows[i];
        EXPECT_EQ(cells[7], "X.20240611100000.wav");
        EXPECT_EQ(cells[8], xwav);
        EXPECT_EQ(cells[3], cells[9]);  // one file: Begin Time is File Offset
        if (std::stoi(cells[11]) < 245) continue;
        ++loud;
        EXPECT_TRUE(placed(std::stod(cells[9]))) << rows[i];
    }
    EXPECT_GE(loud, 27);
    const Result perFile = RunCli(dir, {"dump", "--raven", "--per-file", dir / "raven", tk1});
    ASSERT_EQ(perFile.status, 0) << perFile.err;
    const std::string table = dir / "raven/X.20240611100000.Table.1.selections.txt";
    EXPECT_EQ(perFile.out, table + "\t" + std::to_string(lines.size()) + "\r\n");
    EXPECT_EQ(Lines(ReadFileText(table)), rows);

    // dump --csv keeps each raw file and the second in it.
    const auto csv = Lines(RunCli(dir, {"dump", "--csv", tk1}).out);
    ASSERT_EQ(csv.size(), rows.size());
    for (size_t i = 1; i < csv.size(); ++i) {
        const auto cells = Split(csv[i], ',');
        const std::string source = cells.at(cells.size() - 3);
        ASSERT_EQ(source.substr(0, xwav.size() + 1), xwav + "#") << csv[i];
        const size_t k = std::stoul(source.substr(xwav.size() + 1)) - 1;
        ASSERT_LT(k, raws.size());
        double before = 0;
        for (size_t j = 0; j < k; ++j)
            before += static_cast<double>(written.Raws[j].Samples) / kRate;
        // Raven's box begins at most a third of a millisecond before the click's time.
        EXPECT_NEAR(std::stod(cells[cells.size() - 2]) + before,
                    std::stod(Split(rows[i], '\t').at(9)), 0.001)
            << csv[i];
    }
}

// Seconds since 1899-12-30 00:00 of "2021-06-10T03:36:54.250000" (or a blank for the T; a
// trailing Z is ignored).
double IsoSeconds(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double sec = 0;
    EXPECT_EQ(std::sscanf(text.c_str(), "%d-%d-%d%*c%d:%d:%lf", &y, &mo, &d, &h, &mi, &sec), 6)
        << text;
    return static_cast<double>(DayNumberFromCivil(y, mo, d)) * 86400 + h * 3600 + mi * 60 + sec;
}

// Recordings that share a minute of the TK1 file: every click goes to the recording it came
// from, at its second there, whether the later recording starts where the earlier one ends
// (placed at its start second, or continuing the minute from its start with the minute's
// first tick), or while the earlier one still runs.
TEST_F(CliTest, ClicksOfASharedMinuteGoToTheirOwnRecording) {
    constexpr int32_t kRate = 192000;
    struct File {
        std::string name;
        double seconds;
        std::vector<double> trains;  // the first click of each loud train
    };
    struct Row {
        const char* what;
        std::vector<File> files;
        std::vector<std::string> args;
        bool flac = false;
    };
    const std::vector<Row> rows = {
        {"the second file placed at its start second, where the first ends",
         {{"LOC.20240611080000.wav", 30, {5, 20}}, {"LOC.20240611080030.wav", 30, {3, 18}}},
         {"--exact-start"}},
        {"two FLAC files of one minute, both from its first tick",
         {{"LOC.20240611080000.flac", 10, {2, 6}}, {"LOC.20240611080010.flac", 20, {1, 9, 14}}},
         {}},
        {"the first file running past the second one's start second",
         {{"LOC.20240611080000.wav", 45, {10, 38}}, {"LOC.20240611080030.wav", 20, {2, 12}}},
         {"--exact-start"}},
        {"the first file running past the second one's start, both from the first tick",
         {{"LOC.20240611080000.wav", 20, {4, 14}}, {"LOC.20240611080010.wav", 20, {2, 12}}},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = dir / ("in" + std::to_string(&row - rows.data()));
        const std::string outFolder = folder + "-out";
        fs::create_directories(folder);
        std::vector<std::string> paths;
        std::vector<std::vector<synth::ClickTruth>> truth;
        for (const File& f : row.files) {
            synth::RecordingSpec spec;
            spec.SampleRate = kRate;
            spec.Seconds = f.seconds;
            for (const double at : f.trains) {
                synth::ClickTrain t;
                t.StartSec = at;
                t.Clicks = 10;
                t.FrequencyHz = 70000;
                t.PeakAmplitude = 12000;
                t.Shape = synth::TrainShape::Flat;
                spec.Trains.push_back(t);
            }
            paths.push_back(folder + "/" + f.name);
            if (row.flac) {
                const std::string wav = dir / "plain.wav";
                truth.push_back(synth::WriteWav(wav, spec).Truth);
                synth::WavToFlac(wav, paths.back(), false);
            } else {
                truth.push_back(synth::WriteWav(paths.back(), spec).Truth);
            }
        }
        std::vector<std::string> args = {"convert", "-q", "--out", outFolder};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.push_back(folder);
        ASSERT_EQ(RunCli(dir, args).status, 0);
        const std::string tk1 = outFolder + "/NewFileNameLOC 2024 06 11.TK1";
        const Result csv = RunCli(dir, {"dump", "--csv", tk1});
        ASSERT_EQ(csv.status, 0) << csv.err;
        const auto lines = Lines(csv.out);
        ASSERT_GT(lines.size(), 1u);
        std::vector<int> loud(paths.size());
        for (size_t i = 1; i < lines.size(); ++i) {
            const auto cells = Split(lines[i], ',');
            const auto k = static_cast<size_t>(
                std::find(paths.begin(), paths.end(), cells.at(cells.size() - 3)) - paths.begin());
            ASSERT_LT(k, paths.size()) << lines[i];
            const double offset = std::stod(cells[cells.size() - 2]);
            EXPECT_GE(offset, 0) << lines[i];
            EXPECT_LT(offset, row.files[k].seconds + 0.001) << lines[i];
            // recording_time is the file's start (its name's time) plus its offset.
            const std::string stamp = row.files[k].name.substr(4, 14);
            const double start = IsoSeconds(stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" +
                                            stamp.substr(6, 2) + "T" + stamp.substr(8, 2) + ":" +
                                            stamp.substr(10, 2) + ":" + stamp.substr(12, 2));
            EXPECT_NEAR(IsoSeconds(cells.back()), start + offset, 2e-6) << lines[i];
            // Only the loud trains' clicks reach the top of the amplitude scale.
            if (std::stoi(cells.at(15)) < 245) continue;
            ++loud[k];
            EXPECT_TRUE(std::any_of(truth[k].begin(), truth[k].end(), [&](const auto& c) {
                return std::abs(synth::ConverterSeconds(c, kRate) - offset) < 0.002;
            })) << lines[i];
        }
        for (size_t k = 0; k < paths.size(); ++k) {
            EXPECT_GE(loud[k], 9 * static_cast<int>(row.files[k].trains.size()))
                << row.files[k].name;
        }
        // Raven's sequence of the files (a FLAC file as long as its samples): each click
        // after the files before its own.
        const Result raven = RunCli(dir, {"dump", "--raven", tk1});
        ASSERT_EQ(raven.status, 0) << raven.err;
        const auto ravenRows = Lines(raven.out);
        ASSERT_EQ(ravenRows.size(), lines.size());
        for (size_t i = 1; i < ravenRows.size(); ++i) {
            const auto cells = Split(ravenRows[i], '\t');
            const auto k = static_cast<size_t>(std::find(paths.begin(), paths.end(), cells.at(8)) -
                                               paths.begin());
            ASSERT_LT(k, paths.size()) << ravenRows[i];
            const double before = k == 0 ? 0 : row.files[0].seconds;
            EXPECT_NEAR(std::stod(cells[3]) - std::stod(cells[9]), before, 1e-5) << ravenRows[i];
        }
    }
}

// Start times from the recordings themselves, in every output: files as five recorders write
// them and a built-in name with seconds, listed and converted with the defaults and with each
// option. Each row's clicks must come back in dump --csv with a recording_time within 1 ms of
// where they were put (moved by the row's expected error: a name's time taken, a correction).
TEST_F(CliTest, StartTimesFromEachRecorderReachEveryOutput) {
    using synth::RecorderStyle;
    constexpr double kNoTruth = 1e9;  // the name's own time is taken: only consistency checked
    struct Row {
        const char* what;
        std::optional<RecorderStyle> style;  // none: LOC.20210610033637.wav, a plain header
        int zoneMinutes;
        bool zoneWritten;
        const char* start;  // UTC of the first sample
        std::vector<std::string> args;
        const char* listed;  // list --csv start and time_source
        double errorS;       // recording_time less the true time
        const char* warning;
        const char* note = "";  // the listing's note on names in local time
    };
    const std::vector<Row> rows = {
        // The name is the click-snippet stream's start, a second late; the log's time counts.
        {"soundtrap",
         RecorderStyle::SoundTrap,
         0,
         true,
         "2021-06-10T03:36:54",
         {},
         "2021-06-10T03:36:54.000000Z,log.xml",
         0,
         ""},
        {"audiomoth",
         RecorderStyle::AudioMoth,
         0,
         true,
         "2021-06-10T03:36:54",
         {},
         "2021-06-10T03:36:54.000000Z,icmt",
         0,
         ""},
        {"sm4",
         RecorderStyle::Sm4,
         0,
         true,
         "2021-06-10T03:36:54.25",
         {},
         "2021-06-10T03:36:54.250000Z,wamd",
         0,
         ""},
        {"guano",
         RecorderStyle::Guano,
         0,
         true,
         "2021-06-10T03:36:54.25",
         {},
         "2021-06-10T03:36:54.250000Z,guan",
         0,
         ""},
        {"bext",
         RecorderStyle::Bext,
         0,
         true,
         "2021-06-10T03:36:54.25",
         {},
         "2021-06-10T03:36:54.250000,bext",
         0,
         ""},
        {"named",
         std::nullopt,
         0,
         true,
         "2021-06-10T03:36:37",
         {},
         "2021-06-10T03:36:37.000000,name",
         0,
         ""},
        // The log's time a second before the minute the name gives.
        {"soundtrap59",
         RecorderStyle::SoundTrap,
         0,
         true,
         "2021-06-10T03:36:59",
         {},
         "2021-06-10T03:36:59.000000Z,log.xml",
         0,
         ""},
        // Recorders set to local time, whose own times carry the zone: placed in UTC.
        {"mothlocal",
         RecorderStyle::AudioMoth,
         120,
         true,
         "2021-06-10T03:36:54",
         {},
         "2021-06-10T03:36:54.000000Z,icmt",
         0,
         "",
         "1 recording is named in its recorder's local time (UTC+02:00)"},
        {"sm4local",
         RecorderStyle::Sm4,
         -210,
         true,
         "2021-06-10T03:36:54.25",
         {},
         "2021-06-10T03:36:54.250000Z,wamd",
         0,
         "",
         "1 recording is named in its recorder's local time (UTC-03:30)"},
        // A recorder set to local time whose own time is UTC: the name's time stands, with a
        // warning naming both and the options that give the other.
        {"zone",
         RecorderStyle::SoundTrap,
         120,
         true,
         "2021-06-10T03:36:54",
         {},
         "2021-06-10T05:36:55.000000,name",
         kNoTruth,
         "5987.210610053655.wav: its name says 2021-06-10T05:36:55.000000, its log.xml "
         "2021-06-10T03:36:54.000000Z (7201.000 s apart: a clock or time-zone mistake?); the "
         "name's time is taken (--time-source file takes the log.xml's, --time-shift -02:00 "
         "moves every start by the difference)"},
        {"file",
         RecorderStyle::SoundTrap,
         120,
         true,
         "2021-06-10T03:36:54",
         {"--time-source", "file"},
         "2021-06-10T03:36:54.000000Z,log.xml",
         0,
         "the log.xml's time is taken (--time-source name takes the name's, --time-shift "
         "+02:00 moves every start by the difference)"},
        {"shift",
         RecorderStyle::Guano,
         120,
         false,
         "2021-06-10T03:36:54.25",
         {"--time-shift", "-02:00"},
         "2021-06-10T03:36:54.250000,guan",
         0,
         ""},
        // The clock ran 10 s fast at midnight and 20 s at the next: 11.506279 s at 03:36:54.
        {"clock",
         RecorderStyle::Bext,
         0,
         true,
         "2021-06-10T03:36:54.25",
         {"--clock-error", "2021-06-10T00:00=+10", "--clock-error", "2021-06-11 00:00:00=20"},
         "2021-06-10T03:36:42.743721,bext",
         -11.506279,
         ""},
        // Placed at their exact start, fractions of a second included: the TK1 file's own
        // times are the true ones.
        {"exact guano",
         RecorderStyle::Guano,
         0,
         true,
         "2021-06-10T03:36:54.25",
         {"--exact-start"},
         "2021-06-10T03:36:54.250000Z,guan",
         0,
         ""},
        {"exact sm4",
         RecorderStyle::Sm4,
         0,
         true,
         "2021-06-10T03:36:54.5",
         {"--exact-start"},
         "2021-06-10T03:36:54.500000Z,wamd",
         0,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = wavs + "/" + row.what;
        fs::create_directories(folder);
        synth::RecordingSpec spec;
        spec.SampleRate = row.style == RecorderStyle::AudioMoth ? 384000 : 576000;
        // (The last train lies in the minute after a start at 03:36:54.)
        spec.Seconds = 8;
        spec.NoiseRms = 5;
        for (const double at : {0.4, 1.6, 6.4}) {
            synth::ClickTrain t;
            t.StartSec = at;
            t.Clicks = 10;
            t.PeakAmplitude = 3000;
            spec.Trains.push_back(t);
        }
        const double trueStart = IsoSeconds(row.start);
        synth::WriteResult written;
        if (row.style) {
            synth::RecorderStamp stamp;
            stamp.Style = *row.style;
            stamp.StartUtcMicroseconds = std::llround(trueStart * 1e6);
            stamp.ZoneMinutes = row.zoneMinutes;
            stamp.ZoneWritten = row.zoneWritten;
            written = synth::WriteRecorderRecording(folder, spec, stamp);
        } else {
            written = synth::WriteWav(folder + "/LOC.20210610033637.wav", spec);
        }

        std::vector<std::string> args = {"list", "--csv"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.push_back(folder);
        const bool exact = std::erase(args, "--exact-start") > 0;  // a choice of placement
        const Result list = RunCli(dir, args);
        ASSERT_EQ(list.status, 0) << list.err;
        const auto listed = Lines(list.out);
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[1].substr(0, std::string(row.listed).size()), row.listed);
        if (row.warning[0] != '\0') {
            EXPECT_NE(list.err.find(row.warning), std::string::npos) << list.err;
        } else {
            EXPECT_EQ(list.err.find("apart"), std::string::npos) << list.err;
        }
        EXPECT_EQ(list.err.find("local time") != std::string::npos, row.note[0] != '\0');
        EXPECT_NE(list.err.find(row.note), std::string::npos) << list.err;

        args[0] = "convert";
        args[1] = "--out=" + out + "/" + row.what;
        if (exact) args.insert(args.begin() + 1, "--exact-start");
        const Result converted = RunCli(dir, args);
        ASSERT_EQ(converted.status, 0) << converted.err;
        std::string tk1;
        for (const auto& e : fs::directory_iterator(out + "/" + row.what)) {
            if (e.path().extension() == ".TK1") tk1 = e.path().string();
        }
        // Dated by the start it lists, at its minute.
        const std::string start = Split(listed[1], ',')[0];
        EXPECT_EQ(ReadTk1(tk1).StartMin(),
                  static_cast<int64_t>(std::floor(IsoSeconds(start) / 60)));
        const auto table = Lines(ReadFileText(tk1.substr(0, tk1.size() - 4) + ".recordings.csv"));
        ASSERT_EQ(table.size(), 2u);
        EXPECT_EQ(Split(table[1], ',')[1], start);
        if (exact) {
            EXPECT_EQ(Split(table[1], ',')[7] + "Z", start);  // placed_minute
        }

        const Result dump = RunCli(dir, {"dump", "--csv", tk1});
        ASSERT_EQ(dump.status, 0) << dump.err;
        const auto clicks = Lines(dump.out);
        int loud = 0;
        for (size_t i = 1; i < clicks.size(); ++i) {
            const auto cells = Split(clicks[i], ',');
            ++loud;
            const double offset = std::stod(cells[cells.size() - 2]);
            const double time = IsoSeconds(cells.back());
            EXPECT_NEAR(time, IsoSeconds(start) + offset, 2e-6) << clicks[i];
            if (exact) {
                // DateTime, the TK1 file's time, is recording_time to the 5 us of its records.
                EXPECT_NEAR(IsoSeconds(cells[0]), time, 2e-6) << clicks[i];
            }
            if (row.errorS == kNoTruth) continue;
            EXPECT_TRUE(std::any_of(written.Truth.begin(), written.Truth.end(), [&](const auto& c) {
                return std::abs(trueStart + c.CentreSample / spec.SampleRate + row.errorS - time) <
                       0.001;
            })) << clicks[i];
        }
        EXPECT_GE(loud, 15);
    }
}

// The clicks of a dump --csv whose recording_time lies within 1 ms of a truth click's time
// (start: the recording's first sample, seconds since 1899-12-30), and how many truth clicks of
// at least minPeak counts were found so.
struct Matched {
    size_t clicks = 0, found = 0, placed = 0;
};
Matched MatchClicks(const std::string& dumpCsv, const std::vector<synth::ClickTruth>& truth,
                    double start, int32_t rate, double minPeak) {
    std::vector<double> times;
    const auto rows = Lines(dumpCsv);
    for (size_t i = 1; i < rows.size(); ++i)
        times.push_back(IsoSeconds(Split(rows[i], ',').back()));
    Matched m;
    m.clicks = times.size();
    for (const synth::ClickTruth& c : truth) {
        if (c.PeakAmplitude < minPeak) continue;
        ++m.placed;
        const double at = start + c.CentreSample / rate;
        m.found += std::any_of(times.begin(), times.end(),
                               [&](double t) { return std::abs(t - at) < 0.001; });
    }
    return m;
}

// An AudioMoth folder with the defaults: the rate of its headers, the date of its names and its
// comments' times give back its clicks where they were put; at the old default rate almost none.
TEST_F(CliTest, AnAudioMothFolderConvertsWithTheDefaults) {
    const std::string folder = wavs + "/MOTH";
    fs::create_directories(folder);
    synth::RecordingSpec spec;
    spec.SampleRate = 384000;
    spec.Seconds = 30;
    synth::TrainPlan plan;
    plan.Seconds = spec.Seconds;
    plan.MinPeak = 100;
    spec.Trains = synth::PlanTrains(plan);
    synth::RecorderStamp stamp;
    stamp.Style = synth::RecorderStyle::AudioMoth;
    stamp.StartUtcMicroseconds = std::llround(IsoSeconds("2022-06-07T02:32:00") * 1e6);
    const auto written = synth::WriteRecorderRecording(folder, spec, stamp);
    for (const std::string rate : {"", "576"}) {
        SCOPED_TRACE("--rate " + rate);
        std::vector<std::string> args = {"convert", "-q", "--out", out + "/r" + rate, folder};
        if (!rate.empty()) args.insert(args.begin() + 1, {"--rate", rate});
        ASSERT_EQ(RunCli(dir, args).status, 0);
        const std::string tk1 = out + "/r" + rate + "/NewFileNameMOTH 2022 06 07.TK1";
        const Matched m = MatchClicks(RunCli(dir, {"dump", "--csv", tk1}).out, written.Truth,
                                      IsoSeconds("2022-06-07T02:32:00"), 384000, 100);
        ASSERT_GT(m.placed, 100u);
        std::printf("AudioMoth folder, --rate %s: %zu of %zu placed clicks found\n",
                    rate.empty() ? "(headers)" : rate.c_str(), m.found, m.placed);
        if (rate.empty()) {
            EXPECT_GE(m.found * 100, m.placed * 95) << m.found << " of " << m.placed;
        } else {
            EXPECT_LT(m.found * 2, m.placed) << m.found << " of " << m.placed;
        }
    }
}

// --exact-start: a file starting at second 37 keeps every click's true time in the TK1 file,
// and a file starting where it ends continues the same timeline, within the same minutes.
TEST_F(CliTest, ExactStartKeepsTheTrueTimeOfEveryClick) {
    synth::RecordingSpec spec;
    spec.Seconds = 40;
    synth::TrainPlan plan;
    plan.Seconds = spec.Seconds;
    spec.Trains = synth::PlanTrains(plan);
    const auto first = synth::WriteWav(wavs + "/LOC.20210610033637.wav", spec);
    spec.Seconds = 30;  // 03:36:37 + 40 s
    plan.Seconds = spec.Seconds;
    plan.Seed = 2;
    spec.Trains = synth::PlanTrains(plan);
    const auto second = synth::WriteWav(wavs + "/LOC.20210610033717.wav", spec);
    ASSERT_EQ(RunCli(dir, {"convert", "-q", "--exact-start", "--out", out, wavs}).status, 0);
    const std::string tk1 = out + "/NewFileNameLOC 2021 06 10.TK1";
    EXPECT_EQ(ReadTk1(tk1).Kinds().substr(0, 2), "LM");
    EXPECT_EQ(ReadTk1(tk1).MinuteCount(), 2);  // 03:36 and 03:37: one timeline
    const std::string csv = RunCli(dir, {"dump", "--csv", tk1}).out;
    const auto rows = Lines(csv);
    ASSERT_GT(rows.size(), 100u);
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto cells = Split(rows[i], ',');
        ASSERT_EQ(cells[0], cells.back()) << rows[i];  // DateTime is recording_time
    }
    const double start = IsoSeconds("2021-06-10T03:36:37");
    const Matched a = MatchClicks(csv, first.Truth, start, 576000, 300);
    const Matched b = MatchClicks(csv, second.Truth, start + 40, 576000, 300);
    EXPECT_GE(a.found * 100, a.placed * 95) << a.found << " of " << a.placed;
    EXPECT_GE(b.found * 100, b.placed * 95) << b.found << " of " << b.placed;
    // The table says where each file lies: at its start second.
    const auto table = Lines(ReadFileText(out + "/NewFileNameLOC 2021 06 10.recordings.csv"));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(Split(table[2], ',')[7], "2021-06-10T03:37:17");
    EXPECT_EQ(Split(table[2], ',')[8], "0.000000");
}

// settings lists the settings model itself: every control, in the model's order, with its
// value after start-up, or after the preset and the controls given.
TEST_F(CliTest, SettingsListsEveryControlOfTheModel) {
    struct Case {
        std::vector<std::string> options;
        void (*press)(SettingsForm&);
        std::vector<std::pair<std::string, std::string>> sets;
    };
    const std::vector<Case> cases = {
        {{}, [](SettingsForm& f) { f.DefaultSettingsBtnClick(); }, {}},
        {{"--set", "MinNcycFedit=7", "--ipi-export", "--preset", "severe"},
         [](SettingsForm& f) { f.SevereNoiseSettingsBtnClick(); },
         {{"MinNcycFedit", "7"}, {"MakeIPIexportFile", "1"}}},
    };
    for (const Case& c : cases) {
        SettingsForm form;
        c.press(form);
        for (const auto& [name, value] : c.sets) form.Set(name, value);
        std::vector<std::string> args = {"settings", "--csv"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = RunCli(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto rows = Lines(r.out);
        const auto& controls = SettingsForm::Controls();
        ASSERT_EQ(rows.size(), controls.size() + 1);
        EXPECT_EQ(rows[0], "name,caption,kind,accepts,value");
        for (size_t i = 0; i < controls.size(); ++i) {
            EXPECT_EQ(rows[i + 1].substr(0, rows[i + 1].find(',')), controls[i].Name);
            EXPECT_EQ(rows[i + 1].substr(rows[i + 1].rfind(',') + 1), form.Get(controls[i].Name))
                << rows[i + 1];
        }
    }
    const Result text = RunCli(dir, {"settings"});
    const auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), SettingsForm::Controls().size() + 1);
    EXPECT_EQ(lines[26].substr(0, 16), "GainControlGroup");
    EXPECT_NE(lines[26].find(" method "), std::string::npos) << lines[26];
    EXPECT_NE(lines[26].find(" radio group "), std::string::npos) << lines[26];
    EXPECT_NE(lines[26].find(" 0 ... 2 (gain, level, none) "), std::string::npos) << lines[26];
}

TEST_F(CliTest, HelpAndVersion) {
    const Result help = RunCli(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("wavtokeb-cli dump      [options] FILE.TK1"), std::string::npos);
    const Result version = RunCli(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("wavtokeb-cli ", 0), 0u);
    // A full disk under stdout: the text did not arrive, and the tool says so.
    for (const char* option : {"--help", "--version", "convert --help"}) {
        const std::string err = dir / "full.txt";
        const int status = std::system(
            (std::string(WTK_CLI_PATH) + " " + option + " > /dev/full 2> " + err).c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << option;
        EXPECT_EQ(ReadFileText(err), "wavtokeb-cli: Failed to write to standard output: " +
                                         std::string(std::strerror(ENOSPC)) + "\n")
            << option;
    }
}

}  // namespace
}  // namespace wtk::test
