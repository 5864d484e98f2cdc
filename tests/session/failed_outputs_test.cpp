// A batch that fails never leaves a file cut short under its final name: a location whose
// files cannot all be written whole keeps none of them (each named), the export of a batch
// that did not convert all it was asked is given up, and the data memo lists only the files
// written. A recording taken away while it is read is no success either.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/replacing_file.h"
#include "recording_host.h"
#include "session/session.h"
#include "temp_dir.h"
#include "tk1_reader.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class FailedOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.Start();
        s.Controls.ShowGraphs = false;
        s.Controls.KsamplesPerSecEdit = "2";
        s.KsamplesPerSecEditChange();
        s.SetFm.Set("MakeIPIexportFile", "1");
        fs::create_directories(out);
        host.saveAnswer = out + "/chosen.TK1";
        host.yesNoAnswer = true;  // earlier files are replaced
    }
    std::string Silent(const std::string& path, double seconds) {
        fs::create_directories(fs::path(path).parent_path());
        WriteSamplesFile(path, std::vector<int16_t>(static_cast<size_t>(2000 * seconds)), 2000);
        return path;
    }
    // The files reported removed unfinished.
    std::vector<std::string> Removed() const {
        std::vector<std::string> removed;
        for (const Event& e : host.events) {
            if (e.Kind == EventKind::OutputRemoved) removed.push_back(e.File);
        }
        return removed;
    }
    std::string Out(const std::string& name) const { return out + "/" + name; }

    TempDir dir;
    RecordingHost host;
    Session s{host};
    std::string out = dir / "out";
};

TEST_F(FailedOutputsTest, AFullDiskLeavesNoFileUnderItsNameAndNamesEveryOneRemoved) {
    // The disk: a file system of 8 KiB where root may mount one; else a limit on the size of
    // every file, under which the TK1 file fits and a linkage line naming a long path does not.
    std::string wav = Silent(dir / "A.20230517140000.wav", 1);
    std::optional<FileSizeLimit> limit;
    const SmallFileSystem disk(out, "size=8k");
    if (!disk.Mounted()) {
        std::string deep = dir.path().string();
        for (int i = 0; i < 8; ++i) deep += "/" + std::string(200, 'd');
        wav = Silent(deep + "/A.20230517140000.wav", 1);
        limit.emplace(1500);
    }
    s.SelectPaths({wav});
    s.ConvertBatchBtnClick();
    limit.reset();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    const std::string stem = Out("NewFileNameA 2023 05 17");
    EXPECT_EQ(Removed(),
              (std::vector<std::string>{stem + ".TK1", stem + ".txt", stem + ".recordings.csv",
                                        Out("chosen IPIs.txt")}))
        << (disk.Mounted() ? "" : disk.Why());
    EXPECT_TRUE(Names(out).empty()) << ::testing::PrintToString(Names(out));
    // Only the heading: no file was written.
    EXPECT_EQ(host.MemoLines(Memo::DataMemo).size(), 1u);
    EXPECT_TRUE(s.Idle());
}

TEST_F(FailedOutputsTest, NoInodeLeftGivesUpTheExportOfTheBatch) {
    Silent(dir / "A.20230517140000.wav", 1);
    // The folder itself, the export's lock and temporary files and the TK1 file's lock file.
    const SmallFileSystem disk(out, "size=1m,nr_inodes=4");
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    s.SelectPaths({dir / "A.20230517140000.wav"});
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages[0], "TK1 open failed " + std::string(std::strerror(ENOSPC)));
    EXPECT_EQ(Removed(), std::vector<std::string>{Out("chosen IPIs.txt")});
    EXPECT_TRUE(Names(out).empty()) << ::testing::PrintToString(Names(out));
}

// The sync of the files whose names hold `failing` fails as on a full disk.
std::string failing;
int FailingSync(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::error_code ec;
    if (fs::read_symlink(link, ec).string().find(failing) != std::string::npos) {
        errno = ENOSPC;
        return -1;
    }
    return ::fsync(fd);
}

TEST_F(FailedOutputsTest, ALocationWhoseFilesCannotAllBeMadeWholeKeepsNoneOfThem) {
    Silent(dir / "A.20230517140000.wav", 1);
    Silent(dir / "B.20230517140000.wav", 1);
    s.SelectPaths({dir.path().string()});
    failing = ".NewFileNameA 2023 05 17.recordings.csv";
    const SyncCall before = ReplaceSyncCall(&FailingSync);
    s.ConvertBatchBtnClick();
    ReplaceSyncCall(before);
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    const std::string a = Out("NewFileNameA 2023 05 17");
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events[0].Kind, EventKind::RecordingsTableFailure);
    EXPECT_EQ(host.events[0].File, a + ".recordings.csv");
    EXPECT_EQ(host.events[0].Errno, ENOSPC);
    // B's files are whole; the export holds A's peaks too, so it goes with A's files.
    EXPECT_EQ(Removed(), (std::vector<std::string>{a + ".TK1", a + ".txt", a + ".recordings.csv",
                                                   Out("chosen IPIs.txt")}));
    EXPECT_EQ(Names(out), (std::vector<std::string>{"NewFileNameB 2023 05 17.TK1",
                                                    "NewFileNameB 2023 05 17.recordings.csv",
                                                    "NewFileNameB 2023 05 17.txt"}));
    const std::vector<std::string> memo = host.MemoLines(Memo::DataMemo);
    ASSERT_EQ(memo.size(), 2u);
    EXPECT_EQ(memo[1].substr(0, 28), "NewFileNameB 2023 05 17.TK1\t");
}

TEST_F(FailedOutputsTest, TheDataMemoListsTheFilesWrittenInTheirOrder) {
    s.SetFm.Set("MakeIPIexportFile", "0");
    Silent(dir / "A.20230517140000.wav", 1);
    Silent(dir / "B.20230517140000.wav", 1);
    auto lines = [&] {
        std::vector<std::string> names;
        for (const std::string& line : host.MemoLines(Memo::DataMemo)) {
            names.push_back(line.substr(0, line.find('\t')));
        }
        host.memos.clear();
        return names;
    };
    // A's name is taken: its file waits for the batch's end to replace the earlier one, and
    // B's line waits behind A's.
    WriteFileBytes(Out("NewFileNameA 2023 05 17.TK1"), {1, 2, 3});
    s.SelectPaths({dir.path().string()});
    s.ConvertBatchBtnClick();
    ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(lines(), (std::vector<std::string>{"TK1BriefName", "NewFileNameA 2023 05 17.TK1",
                                                 "NewFileNameB 2023 05 17.TK1"}));

    // A batch that fails at C: A's new file does not replace the earlier one and has no line;
    // B's name was free, so its file was written.
    const std::string c = Silent(dir / "C.20230517140000.wav", 1);
    for (const char* ext : {".TK1", ".txt", ".recordings.csv"}) {
        fs::remove(Out(std::string("NewFileNameB 2023 05 17") + ext));
    }
    s.SelectPaths({dir.path().string()});
    fs::remove(c);
    s.ConvertBatchBtnClick();
    EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
    EXPECT_EQ(host.messages.back(),
              "Failed to open wav file C.20230517140000: " + std::string(std::strerror(ENOENT)));
    EXPECT_EQ(lines(), (std::vector<std::string>{"TK1BriefName", "NewFileNameB 2023 05 17.TK1"}));
    EXPECT_TRUE(fs::exists(Out("NewFileNameB 2023 05 17.TK1")));
    EXPECT_FALSE(fs::exists(Out("NewFileNameC 2023 05 17.TK1")));
}

TEST_F(FailedOutputsTest, ARecordingTakenAwayWhileItIsReadIsNamedAndFailsTheBatch) {
    const std::string a = dir / "A.20230517140000.wav";
    // Moved away; or another file put in its place, as a copy over it would leave it.
    const std::vector<std::function<void()>> takeAway = {
        [&] { fs::rename(a, dir / "moved.wav"); },
        [&] {
            fs::copy_file(a, dir / "copy.wav");
            fs::rename(dir / "copy.wav", a);
        },
    };
    for (size_t k = 0; k < takeAway.size(); ++k) {
        SCOPED_TRACE(k);
        fs::remove_all(out);  // no earlier files to keep
        fs::create_directories(out);
        Silent(a, 70);  // a minute end on the way
        s.SelectPaths({a});
        host.events.clear();
        int calls = 0;
        host.onProcessMessages = [&](int) {
            if (++calls == 1) takeAway[k]();
        };
        s.ConvertBatchBtnClick();
        host.onProcessMessages = nullptr;
        EXPECT_EQ(s.LastOutcome, Session::Outcome::Failed);
        ASSERT_EQ(host.Kinds(), std::vector<EventKind>{EventKind::RecordingChanged});
        EXPECT_EQ(host.events[0].File, a);
        EXPECT_EQ(host.events[0].Text,
                  "Recording moved or removed while it was converted, no longer at its path: " + a);
        // What was read is whole: the file it was read from went on being read to its end.
        EXPECT_TRUE(ReadTk1(Out("NewFileNameA 2023 05 17.TK1")).wellFormed);
    }
}

}  // namespace
}  // namespace wtk::test
