#include "input/dir_search.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>

#include "temp_dir.h"

namespace wtk {
namespace {

namespace fs = std::filesystem;

void MakeFile(const std::string& path, size_t bytes) {
    test::WriteFileBytes(path, std::vector<uint8_t>(bytes, 0x11));
}

const StringList kWav{".WAV"};

// root: B.wav, a.WAV, c.Wav, x.wav (1000 bytes), notes.txt, sub2/z.wav, sub1/y.wav,
// sub1/deeper/w.wav, and an empty sub0.
class DirSearch : public ::testing::Test {
protected:
    DirSearch() {
        root = tmp.path().string();
        for (const char* d : {"sub0", "sub1/deeper", "sub2"}) fs::create_directories(tmp / d);
        for (const char* f : {"B.wav", "a.WAV", "c.Wav", "sub2/z.wav", "sub1/y.wav",
                              "sub1/deeper/w.wav", "notes.txt"}) {
            MakeFile(tmp / f, 1001);
        }
        MakeFile(tmp / "x.wav", 1000);
    }
    test::TempDir tmp;
    std::string root;
};

TEST_F(DirSearch, FilesBeforeSubDirectoriesInPreOrderAndByteOrder) {
    EXPECT_EQ(GetDirectoriesByIteration(root),
              (StringList{root + "/sub0", root + "/sub1", root + "/sub1/deeper", root + "/sub2"}));
    EXPECT_EQ(GetAllFileNamesInSubDirsFromDir(root, kWav),
              (StringList{root + "/B.wav", root + "/a.WAV", root + "/c.Wav", root + "/sub1/y.wav",
                          root + "/sub1/deeper/w.wav", root + "/sub2/z.wav"}));
    // A trailing separator is not doubled.
    const StringList withSlash = GetAllFileNamesInSubDirsFromDir(root + "/", kWav);
    ASSERT_EQ(withSlash.size(), 6u);
    EXPECT_EQ(withSlash[0], root + "/B.wav");
    EXPECT_EQ(withSlash[3], root + "/sub1/y.wav");
}

TEST_F(DirSearch, TypeListsDecideWhatMatches) {
    EXPECT_TRUE(IsFileTypeListEmpty(nullptr));
    const StringList none, blankFirst{"", ".WAV"};
    EXPECT_TRUE(IsFileTypeListEmpty(&none));
    EXPECT_TRUE(IsFileTypeListEmpty(&blankFirst));
    EXPECT_FALSE(IsFileTypeListEmpty(&kWav));

    StringList all;
    GetFilesInDir(root, blankFirst, all);  // every file, any size; no directories
    EXPECT_EQ(all, (StringList{root + "/B.wav", root + "/a.WAV", root + "/c.Wav",
                               root + "/notes.txt", root + "/x.wav"}));

    MakeFile(tmp / "tiny.wax", 3);
    StringList star;
    GetFilesInDir(root, {".wa*"}, star);  // without the last character; no size test
    EXPECT_EQ(star, (StringList{root + "/B.wav", root + "/a.WAV", root + "/c.Wav",
                                root + "/tiny.wax", root + "/x.wav"}));

    StringList twice;
    GetFilesInDir(root + "/sub2", {".wav", ".WAV"}, twice);  // one entry per matching type
    EXPECT_EQ(twice, (StringList{root + "/sub2/z.wav", root + "/sub2/z.wav"}));

    StringList missing;
    GetFilesInDir(root + "/nowhere", kWav, missing);
    EXPECT_TRUE(missing.empty());
    EXPECT_TRUE(GetAllFileNamesInSubDirsFromDir(root + "/sub0", kWav).empty());
}

TEST_F(DirSearch, LinksToDirectoriesAreNotFollowedLinksToFilesCountByTarget) {
    test::TempDir outside;
    MakeFile(outside / "big.dat", 2000);
    MakeFile(outside / "small.dat", 500);
    fs::create_symlink(outside / "big.dat", tmp / "sub2/linked.wav");
    fs::create_symlink(outside / "small.dat", tmp / "sub2/small.wav");
    fs::create_symlink(tmp / "nowhere.dat", tmp / "sub2/dead.wav");
    fs::create_symlink(root, tmp / "sub1/loop");             // a loop back to the root
    fs::create_symlink(outside.path(), tmp / "sub1/o.wav");  // a directory with a .wav name
    MakeFile(outside / "hidden.wav", 2000);

    EXPECT_EQ(GetDirectoriesByIteration(root),
              (StringList{root + "/sub0", root + "/sub1", root + "/sub1/deeper", root + "/sub2"}));
    EXPECT_EQ(
        GetAllFileNamesInSubDirsFromDir(root, kWav),
        (StringList{root + "/B.wav", root + "/a.WAV", root + "/c.Wav", root + "/sub1/y.wav",
                    root + "/sub1/deeper/w.wav", root + "/sub2/linked.wav", root + "/sub2/z.wav"}));
}

TEST_F(DirSearch, EntriesThatCannotBeExaminedAreReportedAndTheRestIsFound) {
    // Below sub2, a chain of directories whose path grows past PATH_MAX; made and removed
    // through descriptors, since no path can name its end.
    const std::string name(200, 'd');
    std::vector<int> fds{::open((tmp / "sub2").c_str(), O_RDONLY | O_DIRECTORY)};
    std::string path = root + "/sub2";
    std::string tooLong;
    while (tooLong.empty()) {
        ASSERT_EQ(::mkdirat(fds.back(), name.c_str(), 0755), 0);
        path += "/" + name;
        if (path.size() >= PATH_MAX) tooLong = path;
        fds.push_back(::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
        ASSERT_GE(fds.back(), 0);
    }
    const int wav = ::openat(fds.back(), "deep.wav", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(wav, 0);
    ASSERT_EQ(::ftruncate(wav, 2000), 0);
    ::close(wav);

    StringList skipped;
    EXPECT_EQ(GetAllFileNamesInSubDirsFromDir(root, kWav, &skipped),
              (StringList{root + "/B.wav", root + "/a.WAV", root + "/c.Wav", root + "/sub1/y.wav",
                          root + "/sub1/deeper/w.wav", root + "/sub2/z.wav"}));
    EXPECT_EQ(skipped, (StringList{tooLong + " not opened: File name too long"}));
    // A directory that cannot be read at all.
    skipped.clear();
    EXPECT_TRUE(GetAllFileNamesInSubDirsFromDir(root + "/nowhere", kWav, &skipped).empty());
    EXPECT_EQ(skipped, (StringList{root + "/nowhere not searched: No such file or directory"}));

    ASSERT_EQ(::unlinkat(fds.back(), "deep.wav", 0), 0);
    for (size_t i = fds.size() - 1; i > 0; --i) {
        ::close(fds[i]);
        ASSERT_EQ(::unlinkat(fds[i - 1], name.c_str(), AT_REMOVEDIR), 0);
    }
    ::close(fds[0]);
}

}  // namespace
}  // namespace wtk
