#include "output/tk1_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "recording_host.h"
#include "settings/detector_settings.h"
#include "settings_fixtures.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::ReadFileBytes;
using test::RecordingHost;
using test::TempDir;
namespace fs = std::filesystem;

constexpr int32_t kStart2015 = 60487200;  // 2015-01-01 00:00

// Independent big-endian decoding of the stored bytes.
uint32_t BE(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | b.at(at + k);
    return v;
}

TK1Record Click(uint8_t tag) {
    TK1Record r{};
    r[0] = 0x12;
    r[1] = tag;
    r[3] = 7;
    r[15] = 0xAB;  // a non-zero last byte that a later minute record must not inherit
    return r;
}

struct WriterFixture : ::testing::Test {
    RecordingHost host;
    TempDir dir;
    DetectorSettings settings = test::NormalOperationSettings();
    TK1HeaderInputs in;
    TK1Writer w{host};

    WriterFixture() {
        in.Settings = &settings;
        in.LoggerNumberText = "Logger ID number";
        in.HighPassFilterIndex = 2;
        in.DeadBandPlusUplift = 7;
        in.MinuteScalerX2560 = 3;
        w.NowMinute = [] { return 63000000; };
        w.AllocateOutBuf();
    }

    void Create(const std::string& name, int32_t start = kStart2015) {
        w.TK1StartMin = start;
        w.TK1min = start;
        w.CreateTK1file(name, in);
    }
};

TEST_F(WriterFixture, EmptyConversionGivesCompleteFileWithEveryHeaderField) {
    const std::string name = dir / "SiteA 2015 01 01.TK1";
    in.MakeSourceLinkageFile = true;
    Create(name);
    ASSERT_TRUE(w.TK1Open);
    EXPECT_EQ(w.TK1min, kStart2015);
    EXPECT_EQ(w.MinsWritten, 1);
    EXPECT_EQ(w.OutBufPtr, 16);
    w.TK1BriefName = "SiteA 2015 01 01.TK1";
    w.NofWavFilesInNameGroup = 2;
    w.BytesInWavNameGroup = 1000000000;
    w.FinaliseTK1File();
    EXPECT_FALSE(w.TK1Open);
    EXPECT_EQ(w.NofTK1files, 1);
    EXPECT_TRUE(host.messages.empty());

    const auto b = ReadFileBytes(name);
    ASSERT_EQ(b.size(), 1072u);
    // Every header byte: the listed fields, zero elsewhere.
    std::map<size_t, uint8_t> expected = {
        {2, 0},   {3, 0},    {4, 0x27}, {5, 0x0F},  // logger 9999
        {12, 1},  {31, 245}, {65, 2},   {66, 11},  {67, 10},
        {68, 18}, {69, 220}, {70, 5},   {71, 50},  {72, 3},
        {73, 25}, {74, 40},  {75, 60},  {76, 100}, {77, 1 + (30 & 15) * 8},
        {78, 15}, {79, 50},  {93, 24},  {94, 8},   {95, 3},
        {96, 2},  {113, 5},
    };
    for (size_t i = 0; i < 1024; ++i) {
        if (i >= 256 && i < 280) continue;
        if (i >= 340 && i < 343) continue;
        const uint8_t want = expected.count(i) ? expected[i] : 0;
        EXPECT_EQ(b[i], want) << "header offset " << i;
    }
    EXPECT_EQ(b[77], 113);
    EXPECT_EQ(BE(b, 256, 4), uint32_t(kStart2015));
    EXPECT_EQ(BE(b, 268, 4), uint32_t(kStart2015));
    EXPECT_EQ(BE(b, 272, 4), uint32_t(kStart2015));
    EXPECT_EQ(BE(b, 260, 4), uint32_t(kStart2015 + 1));
    EXPECT_EQ(BE(b, 276, 4), uint32_t(kStart2015 + 1));
    EXPECT_EQ(BE(b, 264, 4), 63000000u);
    EXPECT_EQ(BE(b, 340, 3), 1u);
    // Lead record, first counted minute record, end record.
    EXPECT_EQ(b[1024], 254);
    for (size_t i = 1025; i < 1040; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[1040], 254);
    for (size_t i = 1041; i <= 1052; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[1053], 7);
    EXPECT_EQ(b[1054], 3);
    EXPECT_EQ(b[1055], 0);
    for (size_t i = 1056; i < 1072; ++i) EXPECT_EQ(b[i], 255) << i;

    // Summary line: 1,000,000,000 div (16 x 1072) = 58302.
    ASSERT_EQ(host.MemoLines(Memo::DataMemo).size(), 1u);
    EXPECT_EQ(host.MemoLines(Memo::DataMemo)[0], "SiteA 2015 01 01.TK1\t2\t58302");
    // The linkage file was created beside it and closed with it.
    EXPECT_FALSE(w.IndexFile.IndexFileOpen);
    EXPECT_TRUE(fs::exists(dir / "SiteA 2015 01 01.txt"));
    EXPECT_EQ(fs::file_size(dir / "SiteA 2015 01 01.txt"), 0u);
}

TEST_F(WriterFixture, LoggerNumberFilterIndexAndFlagsEdgeValues) {
    struct Case {
        std::string text;
        uint32_t stored;
    };
    for (const Case& c : {Case{"4294967295", 9999}, Case{"123456789", 123456789}, Case{"-5", 0},
                          Case{"", 9999}, Case{"12a", 9999}}) {
        in.LoggerNumberText = c.text;
        in.HighPassFilterIndex = -1;
        settings.UsingToughAmpDrop = false;
        settings.UserMaxSPLforBWtest = 255;
        const std::string name = dir / "L.TK1";
        fs::remove(name);  // a taken name is replaced only by a batch's end
        Create(name);
        w.FinaliseTK1File();
        const auto b = ReadFileBytes(name);
        EXPECT_EQ(BE(b, 2, 4), c.stored) << c.text;
        EXPECT_EQ(b[65], 0);
        EXPECT_EQ(b[77], 120);  // bit 0 clear, bits 3..6 set
    }
}

TEST_F(WriterFixture, FullBufferIsWrittenOnlyWhenTheNextRecordArrives) {
    const std::string name = dir / "F.TK1";
    Create(name);
    for (int k = 1; k <= 4095; ++k) w.StoreRecord(Click(static_cast<uint8_t>(k)));
    EXPECT_EQ(w.OutBufPtr, 65536);
    const std::string written = TemporaryNameOf(name);  // until finalised
    EXPECT_EQ(fs::file_size(written), 1040u);           // nothing of the body written yet

    TK1Record next = Click(0xEE);
    w.StoreRecord(next);
    EXPECT_EQ(fs::file_size(written), 1040u + 65536u);
    EXPECT_EQ(w.OutBufPtr, 16);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), w.OutBuf.begin()));

    // A minute record that lands where a click stood carries byte 15 = 0.
    w.WriteMinuteRecs(1, 4, 9);
    w.FinaliseTK1File();
    const auto b = ReadFileBytes(name);
    ASSERT_EQ(b.size(), 1040u + 65536u + 32u + 16u);
    EXPECT_EQ(b[1040], 254);
    for (size_t k = 1; k <= 4095; ++k) {
        const size_t at = 1040 + 16 * k;
        ASSERT_EQ(b[at + 1], static_cast<uint8_t>(k)) << k;
        ASSERT_EQ(b[at + 15], 0xAB);
    }
    const size_t tail = 1040 + 65536;
    EXPECT_EQ(b[tail + 1], 0xEE);
    EXPECT_EQ(b[tail + 16], 254);
    EXPECT_EQ(b[tail + 29], 4);
    EXPECT_EQ(b[tail + 30], 9);
    EXPECT_EQ(b[tail + 31], 0);
    EXPECT_EQ(b[tail + 32], 255);
    EXPECT_EQ(BE(b, 340, 3), 2u);
    EXPECT_EQ(BE(b, 260, 4), uint32_t(kStart2015 + 2));
}

TEST_F(WriterFixture, WriteMinuteRecsAdvancesMinutesAndCounts) {
    const std::string name = dir / "M.TK1";
    Create(name, 100);
    w.WriteMinuteRecs(0, 1, 2);
    EXPECT_EQ(w.TK1min, 100);
    EXPECT_EQ(w.MinsWritten, 1);
    EXPECT_EQ(w.OutBufPtr, 16);

    w.WriteMinuteRecs(3, 200, 255);
    EXPECT_EQ(w.TK1min, 103);
    EXPECT_EQ(w.MinsWritten, 4);
    EXPECT_EQ(w.OutBufPtr, 64);
    w.FinaliseTK1File();

    const auto b = ReadFileBytes(name);
    ASSERT_EQ(b.size(), 1024u + 16u * 6);
    for (size_t at : {1056u, 1072u, 1088u}) {
        EXPECT_EQ(b[at], 254);
        for (size_t i = 1; i <= 12; ++i) EXPECT_EQ(b[at + i], 0);
        EXPECT_EQ(b[at + 13], 200);
        EXPECT_EQ(b[at + 14], 255);
        EXPECT_EQ(b[at + 15], 0);
    }
    EXPECT_EQ(BE(b, 260, 4), 104u);
    EXPECT_EQ(BE(b, 276, 4), 104u);
    EXPECT_EQ(BE(b, 340, 3), 4u);
}

// The files in dir, hidden ones included, by name.
std::vector<std::string> Listing(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(WriterFixture, FilesReplaceTheirNamesOnlyWhenFinalisedAndTheBatchSucceeded) {
    const std::string name = dir / "R.TK1";
    test::WriteFileBytes(name, {1, 2, 3});
    test::WriteFileBytes(dir / "R.txt", {4});
    in.MakeSourceLinkageFile = true;
    PendingReplacements pending;
    w.Replacements = &pending;
    auto write = [&] {
        Create(name);
        w.IndexFile.WriteLine(kStart2015, "/rec/R.wav");
        for (int k = 0; k < 5000; ++k) w.StoreRecord(Click(1));  // one full buffer written
    };
    write();
    // Meanwhile the earlier files are untouched, and the new ones lie under hidden names.
    EXPECT_EQ(ReadFileBytes(name), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadFileBytes(dir / "R.txt"), std::vector<uint8_t>{4});
    const std::vector<std::string> writing = {".R.TK1.wtk-lock", ".R.TK1.wtk-part",
                                              ".R.txt.wtk-lock", ".R.txt.wtk-part",
                                              "R.TK1",           "R.txt"};
    EXPECT_EQ(Listing(dir), writing);
    EXPECT_GE(fs::file_size(TemporaryNameOf(name)), 1040u + 65536u);
    // Finished, they wait for the batch's end, complete and still held.
    w.FinaliseTK1File();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(ReadFileBytes(name), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Listing(dir), writing);
    // A batch that failed keeps the earlier files; one that succeeded replaces them.
    EXPECT_EQ(pending.Keep(), (std::vector<std::string>{name, dir / "R.txt"}));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"R.TK1", "R.txt"}));
    EXPECT_EQ(ReadFileBytes(name), (std::vector<uint8_t>{1, 2, 3}));
    write();
    w.FinaliseTK1File();
    const auto replaced = pending.Replace();
    ASSERT_EQ(replaced.size(), 2u);
    EXPECT_EQ(replaced[0], (std::pair<std::string, int>{name, 0}));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"R.TK1", "R.txt"}));
    EXPECT_EQ(fs::file_size(name), 1040u + 5001u * 16 + 16);
    EXPECT_EQ(test::ReadFileText(dir / "R.txt"), "60487200\t/rec/R.wav\r\n");

    // Without a place to wait, a finished file leaves the file that has its name as it is.
    w.Replacements = nullptr;
    write();
    w.FinaliseTK1File();
    EXPECT_EQ(host.messages, std::vector<std::string>{"Failed to finalise TK1File"});
    EXPECT_EQ(fs::file_size(name), 1040u + 5001u * 16 + 16);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"R.TK1", "R.txt"}));
}

TEST_F(WriterFixture, ASecondWriterOfTheNameIsRefusedAndAKilledRunsLeftoversAreRemoved) {
    const std::string name = dir / "S.TK1";
    Create(name);
    TK1Writer other{host};
    other.TK1StartMin = other.TK1min = kStart2015;
    other.CreateTK1file(name, in);
    EXPECT_FALSE(other.TK1Open);
    EXPECT_EQ(host.messages, std::vector<std::string>{
                                 "TK1 open failed another conversion is writing this file now"});

    // What killed runs left is removed (with or without its lock file); the file being
    // written stays.
    test::WriteFileBytes(TemporaryNameOf(dir / "K.TK1"), {1});
    test::WriteFileBytes(LockNameOf(dir / "K.TK1"), {});
    test::WriteFileBytes(TemporaryNameOf(dir / "L.txt"), {1});
    test::WriteFileBytes(dir / ".hidden.wtk-partial", {1});  // not one of ours
    EXPECT_EQ(RemoveStaleTemporaries(dir.path().string() + "/"), 2);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{".S.TK1.wtk-lock", ".S.TK1.wtk-part",
                                                      ".hidden.wtk-partial"}));
    w.FinaliseTK1File();
    EXPECT_EQ(fs::file_size(name), 1072u);

    // A name near the file system's limit gets shortened hidden names.
    const std::string longName = dir / (std::string(250, 'n') + ".TK1");
    EXPECT_LE(fs::path(TemporaryNameOf(longName)).filename().string().size(), 255u);
    EXPECT_NE(TemporaryNameOf(longName), TemporaryNameOf(dir / (std::string(251, 'n') + ".TK1")));
    Create(longName);
    w.FinaliseTK1File();
    EXPECT_EQ(fs::file_size(longName), 1072u);
    EXPECT_EQ(host.messages.size(), 1u);

    // A name that was free when writing began is not taken from a file another run put there
    // meanwhile: the finalisation fails and leaves that file and no hidden one.
    const std::string late = dir / "T.TK1";
    Create(late);
    test::WriteFileBytes(late, {7});
    w.FinaliseTK1File();
    EXPECT_EQ(ReadFileBytes(late), std::vector<uint8_t>{7});
    EXPECT_EQ(host.messages.back(), "Failed to finalise TK1File");
    EXPECT_FALSE(fs::exists(TemporaryNameOf(late)));
    EXPECT_FALSE(fs::exists(LockNameOf(late)));
}

// Whether thread tid of this process is in system call `call`; empty where that cannot be seen.
std::optional<bool> InSystemCall(pid_t tid, long call) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string number;
    if (!(file >> number)) return std::nullopt;
    return number == std::to_string(call);
}

TEST(StaleFiles, TheCleanUpNeverTakesALockFileMadeButNotYetLocked) {
    // A run in the middle of making its files: it has made its lock file and not locked it yet
    // (and holds the folder, as a run does there). A clean-up that begins now must not take
    // that lock file for a killed run's and remove the run's files.
    TempDir dir;
    const std::string name = dir / "V.TK1";
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(folder, LOCK_SH), 0);
    const int lock = ::open(LockNameOf(name).c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(lock, 0);
    test::WriteFileBytes(TemporaryNameOf(name), {1});
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    std::thread cleaner([&] {
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
        RemoveStaleTemporaries(dir.path().string() + "/");
        done = true;
    });
    // The clean-up either finishes or waits for the folder.
    bool seen = true;
    while (!done) {
        if (tid == 0) continue;
        const std::optional<bool> waiting = InSystemCall(tid, SYS_flock);
        if (!waiting) seen = false;
        if (!waiting || *waiting) break;
        ::usleep(1000);
    }
    // The run locks its lock file and goes on.
    EXPECT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    ::close(folder);
    cleaner.join();
    if (!seen) GTEST_SKIP() << "the threads' system calls cannot be seen here";
    EXPECT_TRUE(fs::exists(TemporaryNameOf(name)));
    EXPECT_TRUE(fs::exists(LockNameOf(name)));
    ::close(lock);
    // The folder's lock is held on the folder: no file is made for it.
    EXPECT_FALSE(fs::exists(dir / ".wtk-folder-lock"));
}

TEST_F(WriterFixture, SecondCreationWithoutFinalisingGivesUpTheFirstFile) {
    const std::string first = dir / "A.TK1";
    test::WriteFileBytes(first, {9, 9});  // an earlier conversion's file
    in.MakeSourceLinkageFile = true;
    Create(first);
    w.IndexFile.WriteLine(kStart2015, "/rec/A.wav");
    for (int k = 0; k < 10; ++k) w.StoreRecord(Click(1));

    const std::string second = dir / "B.TK1";
    Create(second, 52597440);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "TK1 open = error");
    EXPECT_TRUE(w.TK1Open);
    EXPECT_EQ(w.OutBufPtr, 16);  // the first file's buffered records are gone

    // Nothing of the unfinished file, nor of its linkage file, is left under a name.
    EXPECT_EQ(ReadFileBytes(first), (std::vector<uint8_t>{9, 9}));
    EXPECT_FALSE(fs::exists(dir / "A.txt"));
    EXPECT_FALSE(fs::exists(TemporaryNameOf(first)));
    EXPECT_FALSE(fs::exists(TemporaryNameOf(dir / "A.txt")));

    w.FinaliseTK1File();
    const auto b = ReadFileBytes(second);
    ASSERT_EQ(b.size(), 1072u);
    EXPECT_EQ(BE(b, 256, 4), 52597440u);
    EXPECT_EQ(BE(b, 260, 4), 52597441u);
    EXPECT_TRUE(fs::exists(dir / "B.txt"));
}

TEST_F(WriterFixture, CreationFailureReportsSystemTextAndMakesNoLinkageFile) {
    in.MakeSourceLinkageFile = true;
    Create(dir / "missing/X.TK1");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], std::string("TK1 open failed ") + std::strerror(ENOENT));
    EXPECT_FALSE(w.TK1Open);

    // A directory in the file's place: creation fails, no linkage file appears beside it.
    fs::create_directory(dir / "G.TK1");
    Create(dir / "G.TK1");
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1], std::string("TK1 open failed ") + std::strerror(EISDIR));
    EXPECT_FALSE(w.TK1Open);
    EXPECT_FALSE(w.IndexFile.IndexFileOpen);
    EXPECT_FALSE(fs::exists(dir / "G.txt"));
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"G.TK1"});

    // Records go on into the buffer; the first full-buffer write is refused, never lost quietly.
    EXPECT_EQ(w.OutBufPtr, 0);
    for (int k = 0; k < 4096; ++k) w.StoreRecord(Click(1));
    EXPECT_THROW(w.StoreRecord(Click(2)), TK1WriteError);
}

TEST_F(WriterFixture, FailedFullBufferWriteRaisesAndFileCanBeClosedUnfinished) {
    const std::string name = dir / "Full.TK1";
    test::WriteFileBytes(name, {7});
    in.MakeSourceLinkageFile = true;
    {
        test::FileSizeLimit full(2000);  // the header fits, the first full buffer does not
        Create(name);
        ASSERT_TRUE(w.TK1Open);
        EXPECT_TRUE(host.messages.empty());
        for (int k = 0; k < 4095; ++k) w.StoreRecord(Click(1));
        try {
            w.StoreRecord(Click(2));
            FAIL() << "a failed write was taken for success";
        } catch (const TK1WriteError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(name), std::string::npos) << what;
            EXPECT_NE(what.find(std::strerror(EFBIG)), std::string::npos) << what;
        }
    }
    EXPECT_TRUE(w.TK1Open);
    w.CloseUnfinished();
    EXPECT_FALSE(w.TK1Open);
    EXPECT_EQ(w.NofTK1files, 0);
    EXPECT_TRUE(host.MemoLines(Memo::DataMemo).empty());
    // The earlier file is untouched; nothing else is left.
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"Full.TK1"});
    EXPECT_EQ(ReadFileBytes(name), std::vector<uint8_t>{7});
}

TEST_F(WriterFixture, FinalisationFailuresAreReportedAndTheFileCountsAsClosed) {
    const std::string name = dir / "Full.TK1";
    test::FileSizeLimit full(0);
    Create(name);
    ASSERT_TRUE(w.TK1Open);
    w.StoreRecord(Click(1));
    w.FinaliseTK1File();
    ASSERT_EQ(host.messages.size(), 4u) << ::testing::PrintToString(host.messages);
    EXPECT_EQ(host.messages[0], "Failed to write TK1 header: error " + std::to_string(EFBIG) +
                                    " (" + std::strerror(EFBIG) + ")");
    EXPECT_EQ(host.messages[1], "BlockWrite failed in FinaliseTK1File");
    EXPECT_EQ(host.messages[2], "Failed to write to TK1 header");
    // The damaged file does not take the name.
    EXPECT_EQ(host.messages[3], "Failed to finalise TK1File");
    EXPECT_FALSE(w.TK1Open);
    EXPECT_EQ(w.NofTK1files, 1);
    EXPECT_TRUE(host.MemoLines(Memo::DataMemo).empty()) << "no summary line: nothing written";
    EXPECT_TRUE(Listing(dir).empty());
}

TEST_F(WriterFixture, StoringWithoutBufferIsRefused) {
    w.ReleaseOutBuf();
    EXPECT_THROW(w.StoreRecord(Click(1)), std::logic_error);
}

TEST(CompressionFigure, IsIntegerQuotientOfSixteenTimesFileSize) {
    EXPECT_EQ(CompressionFigure(1000000000, 100000), 625);
    EXPECT_EQ(CompressionFigure(1599999, 100000), 0);
    EXPECT_EQ(CompressionFigure(1600000, 100000), 1);
    EXPECT_EQ(CompressionFigure(int64_t{1} << 40, 1072), (int64_t{1} << 40) / 17152);
    EXPECT_EQ(CompressionFigure(5, 0), 0);
}

TEST(MinToDateStr, DatesAndTimesFromMinuteNumbers) {
    EXPECT_EQ(MinToDateStr(60487200), "1/1/2015 00:00");
    EXPECT_EQ(MinToDateStr(52597501), "1/1/2000 01:01");
    EXPECT_EQ(MinToDateStr(0), "30/12/1899 00:00");
    EXPECT_EQ(MinToDateStr(1439), "30/12/1899 23:59");
    EXPECT_EQ(MinToDateStr(-1), "29/12/1899 23:59");
    // 2020-02-29 12:34: 36526 days to 2000-01-01, 7305 to 2020-01-01, 59 to 29 February.
    EXPECT_EQ(MinToDateStr((36526 + 7305 + 59) * 1440 + 12 * 60 + 34), "29/2/2020 12:34");
    EXPECT_EQ(MinToDateStr((36526 + 7305 + 60) * 1440), "1/3/2020 00:00");
    // 1900 is no leap year: day 60 is 28 February, day 61 is 1 March.
    EXPECT_EQ(MinToDateStr(60 * 1440), "28/2/1900 00:00");
    EXPECT_EQ(MinToDateStr(61 * 1440 + 5), "1/3/1900 00:05");
    // 2100-01-01 is 36525 days after 2000-01-01; 2100 is no leap year.
    EXPECT_EQ(MinToDateStr((36526 + 36525) * 1440 - 1), "31/12/2099 23:59");
    EXPECT_EQ(MinToDateStr((36526 + 36525 + 59) * 1440), "1/3/2100 00:00");
}

TEST(LocalNowMinute, IsTheWallClockWithinAnyTimeZone) {
    const int64_t utcMinute = static_cast<int64_t>(std::time(nullptr)) / 60 + 25569 * 1440;
    const int64_t local = LocalNowMinute();
    EXPECT_LE(std::llabs(local - utcMinute), 14 * 60 + 1);
}

TEST(Int32toBuffer, StoresLowBytesBigEndianAndNegativesAsZero) {
    std::vector<uint8_t> b(8, 0xAA);
    Int32toBuffer(b.data(), b.size(), 1, 4, -5);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xAA, 0, 0, 0, 0, 0xAA, 0xAA, 0xAA}));

    b.assign(8, 0xAA);
    Int32toBuffer(b.data(), b.size(), 2, 3, 16909060);  // 01 02 03 04
    EXPECT_EQ(b, (std::vector<uint8_t>{0xAA, 0xAA, 2, 3, 4, 0xAA, 0xAA, 0xAA}));

    b.assign(8, 0xAA);
    Int32toBuffer(b.data(), b.size(), 0, 5, 16909060);
    Int32toBuffer(b.data(), b.size(), 0, 0, 16909060);
    EXPECT_EQ(b, std::vector<uint8_t>(8, 0xAA));

    Int32toBuffer(b.data(), b.size(), 7, 1, 0x1FF);
    EXPECT_EQ(b[7], 0xFF);
    Int32toBuffer(b.data(), b.size(), 4, 4, 2147483647);
    EXPECT_EQ(b[4], 0x7F);
    EXPECT_THROW(Int32toBuffer(b.data(), b.size(), 6, 3, 1), std::out_of_range);
    EXPECT_THROW(Int32toBuffer(b.data(), b.size(), -1, 1, 1), std::out_of_range);
}

}  // namespace
}  // namespace wtk
