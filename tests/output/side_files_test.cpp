#include "output/side_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "recording_host.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::ReadFileText;
using test::RecordingHost;
using test::TempDir;
namespace fs = std::filesystem;

// Lines of a text file (CR LF ends).
size_t CountLines(const std::string& text) {
    size_t n = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
        ++n;
    }
    return n;
}

TEST(SourceLinkageFile, NamedAfterTheTK1FileWithOneLinePerWavFile) {
    RecordingHost host;
    TempDir dir;
    SourceLinkageFile f;
    f.CreateIndexFile(dir / "SiteA 2019 06 01.TK1", host);
    ASSERT_TRUE(f.IndexFileOpen);
    EXPECT_EQ(f.FileName(), dir / "SiteA 2019 06 01.txt");
    f.WriteLine(62809200, "C:\\rec\\A.20190601120000.wav");
    f.WriteLine(62809260, "/rec/A.20190601120100.wav");
    f.WriteLine(62809321, "/rec/\xC3\xA9t\xC3\xA9.wav");
    EXPECT_EQ(f.Close(), 0);
    EXPECT_FALSE(f.IndexFileOpen);
    EXPECT_EQ(ReadFileText(dir / "SiteA 2019 06 01.txt"),
              "62809200\tC:\\rec\\A.20190601120000.wav\r\n"
              "62809260\t/rec/A.20190601120100.wav\r\n"
              "62809321\t/rec/\xC3\xA9t\xC3\xA9.wav\r\n");
    EXPECT_TRUE(host.messages.empty());

    // The last four characters are code points, not bytes.
    SourceLinkageFile g;
    g.CreateIndexFile(dir / "Site\xC3\xA9\xE2\x82\xAC.TK1", host);
    EXPECT_EQ(g.FileName(), dir / "Site\xC3\xA9\xE2\x82\xAC.txt");
    // Creating again closes the first one.
    g.CreateIndexFile(dir / "Other.TK1", host);
    EXPECT_TRUE(g.IndexFileOpen);
    EXPECT_EQ(g.FileName(), dir / "Other.txt");
}

TEST(SourceLinkageFile, FailuresAreReportedNotSwallowed) {
    RecordingHost host;
    TempDir dir;
    SourceLinkageFile f;
    f.CreateIndexFile(dir / "missing/A.TK1", host);
    EXPECT_FALSE(f.IndexFileOpen);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Failed to create source linkage file");
    EXPECT_THROW(f.WriteLine(1, "x"), std::runtime_error);

    test::WriteFileBytes(dir / "Full.txt", {1, 2});
    f.CreateIndexFile(dir / "Full.TK1", host);
    ASSERT_TRUE(f.IndexFileOpen);
    {
        test::FileSizeLimit full(0);
        try {
            f.WriteLine(62809200, "/rec/A.wav");
            FAIL() << "a failed line write was taken for success";
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(dir / "Full.txt"), std::string::npos) << what;
            EXPECT_NE(what.find(std::strerror(EFBIG)), std::string::npos) << what;
        }
    }
    // A file with a failed write never takes the name.
    EXPECT_NE(f.Close(), 0);
    EXPECT_EQ(test::ReadFileBytes(dir / "Full.txt"), (std::vector<uint8_t>{1, 2}));
    EXPECT_FALSE(fs::exists(TemporaryNameOf(dir / "Full.txt")));
}

TEST(IpiExportFile, HeadingWithFirstPeakThenLinesUpToTheLimit) {
    RecordingHost host;
    TempDir dir;
    IpiExportFile f;
    f.CreateIPIexportFile(dir / "SiteA 2019 06 01.TK1", 10000, host);
    ASSERT_TRUE(f.IPIExportFileOpen);
    EXPECT_EQ(f.FileName(), dir / "SiteA 2019 06 01 IPIs.txt");
    f.WritePeak(31, 200, 59999999);  // 500 ns units: written as 250 ns units
    f.WritePeak(255, 0, 0);
    for (int k = 0; k < 12000; ++k) f.WritePeak(20, 7, k);
    EXPECT_EQ(f.IPIFileLineCount, 10000);
    EXPECT_EQ(f.Close(), 0);
    EXPECT_FALSE(f.IPIExportFileOpen);

    const std::string text = ReadFileText(dir / "SiteA 2019 06 01 IPIs.txt");
    const std::string head = "IPI\tAmp\tt 250ns\r\n31\t200\t119999998\r\n255\t0\t0\r\n20\t7\t0\r\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(CountLines(text), 10001u);  // heading and exactly 10,000 data lines
    // The last line is the 9,998th peak of the loop (k = 9997): 2 x 9997.
    EXPECT_TRUE(text.ends_with("20\t7\t19994\r\n"));
}

TEST(IpiExportFile, LimitZeroNoPeaksAndNamesWithoutExtension) {
    RecordingHost host;
    TempDir dir;
    {
        IpiExportFile f;
        f.CreateIPIexportFile(dir / "abcdefgh", 0, host);
        EXPECT_EQ(f.FileName(), dir / "abcd IPIs.txt");
        for (int k = 0; k < 5; ++k) f.WritePeak(20, 7, k);
        EXPECT_EQ(f.Close(), 0);
        EXPECT_EQ(ReadFileText(dir / "abcd IPIs.txt"), "IPI\tAmp\tt 250ns\r\n");
    }
    {
        IpiExportFile f;  // a batch in which no peak arrives
        f.CreateIPIexportFile(dir /
                                  "xyz\xC3\xA9\xE2\x82\xAC"
                                  "ab",
                              10000, host);
        EXPECT_EQ(f.FileName(), dir / "xyz IPIs.txt");
        EXPECT_EQ(f.Close(), 0);
        EXPECT_EQ(fs::file_size(dir / "xyz IPIs.txt"), 0u);
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST(IpiExportFile, CreationFailureDropsLinesAndWriteFailureRaises) {
    RecordingHost host;
    TempDir dir;
    IpiExportFile f;
    f.CreateIPIexportFile(dir / "missing/A.TK1", 10000, host);
    EXPECT_FALSE(f.IPIExportFileOpen);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Failed to create IPI export file " + (dir / "missing/A IPIs.txt") +
                                    ": " + std::strerror(ENOENT));
    f.WritePeak(20, 7, 1);  // the batch goes on without export lines
    EXPECT_EQ(f.IPIFileLineCount, 0);

    f.CreateIPIexportFile(dir / "B.TK1", 1000000, host);
    ASSERT_TRUE(f.IPIExportFileOpen);
    bool raised = false;
    {
        test::FileSizeLimit full(100000);
        try {
            for (int k = 0; k < 1000000; ++k) f.WritePeak(20, 7, k);
        } catch (const std::runtime_error& e) {
            raised = true;
            EXPECT_NE(std::string(e.what()).find(std::strerror(EFBIG)), std::string::npos);
        }
    }
    EXPECT_TRUE(raised) << "lines written to a full disk were taken for success";
    EXPECT_NE(f.Close(), 0);
    EXPECT_FALSE(fs::exists(dir / "B IPIs.txt"));
}

}  // namespace
}  // namespace wtk
