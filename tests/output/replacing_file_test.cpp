// A replacing file on a power loss and after a killed run: its bytes are on the disk before
// its name is, and a temporary file that a killed run left is no obstacle.
#include "output/replacing_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace wtk {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;

// What each sync saw: the file or folder it was called for, whether the final name was there
// yet, and the bytes the file held.
struct Synced {
    std::string path;
    bool finalThere = false;
    int64_t size = -1;  // of a file; -1 for a folder
    bool operator==(const Synced&) const = default;
};
std::vector<Synced> synced;
std::string watchedName;
int failWith = 0;  // an error the sync of a file gives

int RecordingSync(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::error_code ec;
    const std::string path = fs::read_symlink(link, ec).string();
    struct stat st {};
    ::fstat(fd, &st);
    const bool folder = S_ISDIR(st.st_mode);
    synced.push_back(
        {path, fs::exists(watchedName), folder ? int64_t{-1} : static_cast<int64_t>(st.st_size)});
    if (!folder && failWith != 0) {
        errno = failWith;
        return -1;
    }
    return 0;
}

class ReplacingFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        synced.clear();
        failWith = 0;
        watchedName = name;
        previous = ReplaceSyncCall(&RecordingSync);
    }
    void TearDown() override { ReplaceSyncCall(previous); }

    TempDir dir;
    std::string name = dir / "F.TK1";
    SyncCall previous = nullptr;
};

TEST_F(ReplacingFileTest, TheFileIsSyncedWholeBeforeItsRenameAndItsFolderAfter) {
    ReplacingFile f;
    ASSERT_EQ(f.Open(name), 0);
    std::fputs("twelve bytes", f.Stream());  // still in the stream's buffer
    const std::string temporary = fs::canonical(f.TemporaryName()).string();
    ASSERT_EQ(f.Commit(), 0);
    EXPECT_EQ(synced, (std::vector<Synced>{{temporary, false, 12},
                                           {fs::canonical(dir.path()).string(), true, -1}}));
    EXPECT_EQ(ReadFileBytes(name).size(), 12u);

    // A file that replaces an earlier one: synced when complete, its folder once it is put in
    // place when the batch ends.
    PendingReplacements later;
    ASSERT_EQ(f.Open(name), 0);
    std::fputs("seven b", f.Stream());
    const std::string held = fs::canonical(f.TemporaryName()).string();
    synced.clear();
    ASSERT_EQ(f.Commit(&later), ReplacingFile::kReplacesLater);
    EXPECT_EQ(synced, (std::vector<Synced>{{held, true, 7}}));
    synced.clear();
    const auto replaced = later.Replace();
    ASSERT_EQ(replaced.size(), 1u);
    EXPECT_EQ(replaced[0].second, 0);
    EXPECT_EQ(synced, (std::vector<Synced>{{fs::canonical(dir.path()).string(), true, -1}}));
    EXPECT_EQ(ReadFileBytes(name).size(), 7u);
}

TEST_F(ReplacingFileTest, AFileThatCannotBeSyncedNeverGetsItsName) {
    ReplacingFile f;
    ASSERT_EQ(f.Open(name), 0);
    std::fputs("lost on a power loss", f.Stream());
    failWith = EIO;
    EXPECT_EQ(f.Commit(), EIO);
    EXPECT_FALSE(fs::exists(name));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    ASSERT_EQ(synced.size(), 1u);  // nothing renamed: no folder to sync
}

TEST_F(ReplacingFileTest, ATemporaryFileAKilledRunLeftIsReplaced) {
    test::WriteFileBytes(TemporaryNameOf(name), {1, 2, 3});
    ReplacingFile f;
    ASSERT_EQ(f.Open(name), 0);
    std::fputs("new", f.Stream());
    ASSERT_EQ(f.Commit(), 0);
    EXPECT_EQ(ReadFileBytes(name), (std::vector<uint8_t>{'n', 'e', 'w'}));
    EXPECT_FALSE(fs::exists(TemporaryNameOf(name)));
}

}  // namespace
}  // namespace wtk
