#include "input/selection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "base/main_controls.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "input/location_groups.h"
#include "input/start_times.h"
#include "recording_host.h"
#include "riff_bytes.h"
#include "synth/synth.h"
#include "temp_dir.h"

namespace wtk {
namespace {

namespace fs = std::filesystem;

void MakeFile(const std::string& path, uintmax_t bytes) {
    test::WriteFileBytes(path, {});
    fs::resize_file(path, bytes);
}

// Cells of exactly 20, 4, 10, 50 and 111 characters before the last one.
const std::string kHeader =
    "Start time          \ts   \tDuration s\t"
    "Identity name                                     \t"
    "Long name                                                                                     "
    "                 \tTK1 name";

// The front end's state that a selection works on.
class Selection : public ::testing::Test {
protected:
    Selection() { Rate.KsamplesPerSecEditChange("384"); }

    SelectionContext Ctx() {
        return {host, Controls, Rate, Scrapbook, IpiBox,  Busy,
                STOP, Export,   Recs, Found,     nullptr, &Skipped};
    }
    void Select() {
        SelectionContext c = Ctx();
        SelectBatchBtnClick(c);
    }
    void SelectFiles(const std::vector<std::string>& paths) {
        host.openAnswer = paths;
        Select();
    }
    std::vector<std::string> Identities() const {
        std::vector<std::string> ids;
        for (const auto& r : Recs) ids.push_back(r.IdentityName);
        return ids;
    }
    std::vector<std::string> LabelLog(Label which) const {
        std::vector<std::string> log;
        for (const auto& [l, t] : host.textLog) {
            if (l == which) log.push_back(t);
        }
        return log;
    }
    const std::vector<std::string>& Memo() { return host.MemoLines(wtk::Memo::FilesMemo); }

    test::RecordingHost host;
    test::TempDir tmp;
    MainControls Controls;
    SampleRate Rate;
    bool Scrapbook = false, IpiBox = false, Busy = false, STOP = false, Export = false;
    WavFileRecTable Recs;
    int32_t Found = -1;
    int32_t Skipped = -1;
};

TEST(SelectionTexts, DurationsAndCells) {
    EXPECT_EQ(DurationMsFromSize(2000044, 384000), 2604);
    EXPECT_EQ(DurationMsFromSize(2000045, 384000), 2604);  // an odd byte is no sample
    EXPECT_EQ(DurationMsFromSize(2000044, 576000), 1736);
    EXPECT_EQ(DurationMsFromSize(90, 2000), 0);   // 0.5 -> 0
    EXPECT_EQ(DurationMsFromSize(94, 2000), 2);   // 1.5 -> 2
    EXPECT_EQ(DurationMsFromSize(86, 2000), 0);   // -0.5 -> 0
    EXPECT_EQ(DurationMsFromSize(82, 2000), -2);  // -1.5 -> -2
    EXPECT_EQ(DurationMsFromSize(0, 1000), -44);
    EXPECT_EQ(DurationMsFromSize(int64_t{1} << 40, 1000), INT32_MAX);
    EXPECT_EQ(DurationMsFromSize(INT64_MAX, 2000000), INT32_MAX);
    EXPECT_EQ(DurationMsFromSize(2000044, 0), 0);

    EXPECT_EQ(DurationCell(2604), "2.60");
    EXPECT_EQ(DurationCell(2605), "2.61");
    EXPECT_EQ(DurationCell(-15), "-0.02");
    EXPECT_EQ(DurationCell(-4), "0.00");
    EXPECT_EQ(DurationCell(0), "0.00");
    EXPECT_EQ(DurationCell(99995), "100.00");
    EXPECT_EQ(DurationCell(INT32_MIN), "-2147483.65");

    EXPECT_EQ(FilesMemoHeader(), kHeader);
    WavFileRec r;
    r.NameWithPath = "/d/LOC1.20230517143000.wav";
    r.OriginalShortNameMinusSuffix = "LOC1.20230517143000";
    r.IdentityName = "LOC1";
    r.Start.Mn = 64891590;
    r.DurationMs = 2604;
    r.DateString = "2023 05 17";
    EXPECT_EQ(
        FilesMemoLine(r, TK1NameOf("Site", r)),
        "17/5/2023 14:30\t0\t2.60\tLOC1\t/d/LOC1.20230517143000.wav\tSiteLOC1 2023 05 17.TK1");
    EXPECT_EQ(FilesMemoLine(BlankWavFileRec, ""), "30/12/1899 00:00\t0\t0.00\t\t\t");
}

// Repeated passes exchanging strictly out-of-order neighbours: the order the sorts must give.
void PassSortByName(WavFileRecTable& t) {
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i + 1 < t.size(); ++i) {
            if (CompareUtf16(t[i].IdentityName, t[i + 1].IdentityName) > 0) {
                std::swap(t[i], t[i + 1]);
                changed = true;
            }
        }
    }
}
void PassSortByTime(WavFileRecTable& t) {
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i + 1 < t.size(); ++i) {
            const auto &a = t[i].Start, &b = t[i + 1].Start;
            if (t[i].IdentityName == t[i + 1].IdentityName &&
                (a.Mn > b.Mn ||
                 (a.Mn == b.Mn && a.TimeInMinuteNear2MHz > b.TimeInMinuteNear2MHz))) {
                std::swap(t[i], t[i + 1]);
                changed = true;
            }
        }
    }
}

WavFileRec Rec(const std::string& id, int32_t mn, int32_t tick, const std::string& path) {
    WavFileRec r;
    r.IdentityName = id;
    r.Start.Mn = mn;
    r.Start.TimeInMinuteNear2MHz = tick;
    r.NameWithPath = path;
    return r;
}

TEST(SelectionSorts, OrdinalStableAndOnlyWithinNames) {
    WavFileRecTable t{Rec("a", 1, 0, "1"), Rec("B", 2, 0, "2"), Rec("", 9, 0, "3"),
                      Rec("B", 1, 5, "4"), Rec("B", 1, 3, "5"), Rec("", 9, 0, "6")};
    SortWavFileRecsByName(t);
    SortWavFileRecsByTime(t);
    std::vector<std::string> order;
    for (const auto& r : t) order.push_back(r.NameWithPath);
    EXPECT_EQ(order, (std::vector<std::string>{"3", "6", "5", "4", "2", "1"}));
    EXPECT_EQ(CountNameGroups(t), 3);  // the empty names are a group, with a TK1 file of theirs

    // The time sort compares neighbours of equal names only: a table not yet sorted by name
    // keeps runs of different names where they are.
    WavFileRecTable u{Rec("A", 5, 0, "1"), Rec("B", 1, 0, "2"), Rec("A", 3, 0, "3")};
    SortWavFileRecsByTime(u);
    EXPECT_EQ(u[0].NameWithPath, "1");
    EXPECT_EQ(u[2].NameWithPath, "3");
    EXPECT_EQ(CountNameGroups(u), 3);
    EXPECT_EQ(CountNameGroups({}), 0);
}

TEST(SelectionSorts, SameOrderAsNeighbourExchangePasses) {
    std::mt19937 gen(7);
    const std::vector<std::string> names{
        "", "A", "B", "a", "LOC1", "LOC10", "\xC3\xA9", "\xF0\x9F\x90\xAC", "\xEF\xBC\x81"};
    for (int round = 0; round < 200; ++round) {
        WavFileRecTable t;
        const size_t n = gen() % 40;
        for (size_t i = 0; i < n; ++i) {
            t.push_back(Rec(names[gen() % names.size()], static_cast<int32_t>(gen() % 4) - 1,
                            static_cast<int32_t>(gen() % 3), std::to_string(i)));
        }
        WavFileRecTable expected = t;
        PassSortByName(expected);
        PassSortByTime(expected);
        SortWavFileRecsByName(t);
        SortWavFileRecsByTime(t);
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(t[i].NameWithPath, expected[i].NameWithPath);
    }
}

TEST_F(Selection, GroupsLocationsAndListsTheRecords) {
    const std::string loc2 = tmp / "LOC2.20230101000000.wav";
    const std::string loc1b = tmp / "LOC1.20230102000000.wav";
    const std::string loc1a = tmp / "LOC1.20230101000000.wav";
    for (const auto& p : {loc2, loc1b, loc1a}) MakeFile(p, 2000044);
    host.memos[wtk::Memo::FilesMemo] = {"earlier line"};
    IpiBox = true;
    SelectFiles({loc2, loc1b, loc1a});

    EXPECT_EQ(Found, 3);
    ASSERT_EQ(Recs.size(), 3u);
    EXPECT_EQ(Recs[0].NameWithPath, loc1a);
    EXPECT_EQ(Recs[1].NameWithPath, loc1b);
    EXPECT_EQ(Recs[2].NameWithPath, loc2);
    EXPECT_EQ(host.Text(Label::BigLbl), "3 WAV files in 2 name groups");
    EXPECT_EQ(host.Text(Label::SelectBatchBtn), "Select WAV files");
    EXPECT_EQ(host.questions, (std::vector<std::string>{"Select one or more files"}));
    EXPECT_EQ(host.hideSettingsCalls, 1);
    EXPECT_EQ(host.processMessagesCalls, 3);
    EXPECT_TRUE(Export);
    EXPECT_FALSE(Busy);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(LabelLog(Label::BigLbl),
              (std::vector<std::string>{"Finding WAV files", "Ordering list of 3 WAV files",
                                        "Sorting WAV file names", "Sorting WAV file times",
                                        "3 WAV files in 2 name groups"}));
    EXPECT_EQ(Memo(),
              (std::vector<std::string>{
                  "earlier line", kHeader,
                  "1/1/2023 00:00\t0\t2.60\tLOC1\t" + loc1a + "\tNewFileNameLOC1 2023 01 01.TK1",
                  "2/1/2023 00:00\t0\t2.60\tLOC1\t" + loc1b + "\tNewFileNameLOC1 2023 01 01.TK1",
                  "1/1/2023 00:00\t0\t2.60\tLOC2\t" + loc2 + "\tNewFileNameLOC2 2023 01 01.TK1"}));

    // The next selection starts from a fresh table and adds to the memo.
    SelectFiles({loc1b});
    EXPECT_EQ(Recs.size(), 1u);
    EXPECT_EQ(host.Text(Label::BigLbl), "1 WAV files, all in one name group");
    EXPECT_EQ(Memo().size(), 7u);

    // One location only: the other's files are neither counted nor listed.
    const std::string only = "LOC1";
    SelectionContext c = Ctx();
    c.OnlyLocation = &only;
    SelectPaths(c, {loc2, loc1b, loc1a});
    EXPECT_EQ(Found, 2);
    ASSERT_EQ(Recs.size(), 2u);
    EXPECT_EQ(Recs[1].NameWithPath, loc1b);
    EXPECT_EQ(host.Text(Label::BigLbl), "2 WAV files, all in one name group");
    EXPECT_EQ(Memo().size(), 10u);
    EXPECT_EQ(Memo().back().substr(0, 20), "2/1/2023 00:00\t0\t2.6");
    // Two files given out of order are sorted too.
    SelectFiles({loc1b, loc1a});
    ASSERT_EQ(Recs.size(), 2u);
    EXPECT_EQ(Recs[0].NameWithPath, loc1a);
    EXPECT_EQ(Recs[1].NameWithPath, loc1b);
}

TEST_F(Selection, WithoutNameDatesEveryRecordIsOneUndatedGroupInSelectionOrder) {
    Controls.UseFileNameDateTimes = false;
    const std::string b = tmp / "LOC2.20230101000000.wav", a = tmp / "LOC1.20230101000000.wav";
    MakeFile(b, 2000);
    MakeFile(a, 2000);
    SelectFiles({b, a});
    ASSERT_EQ(Recs.size(), 2u);
    EXPECT_EQ(Recs[0].NameWithPath, b);
    EXPECT_EQ(Recs[0].IdentityName, "");
    EXPECT_EQ(Recs[0].OriginalShortNameMinusSuffix, "");
    EXPECT_EQ(Recs[0].Start.Mn, 0);
    EXPECT_FALSE(Recs[0].DateFound);
    EXPECT_EQ(host.Text(Label::BigLbl), "2 WAV files, all in one name group");
    EXPECT_FALSE(host.texts.count(Label::ProgressLbl));
}

TEST_F(Selection, StopEndsTheListingButEveryRecordIsSortedAndListed) {
    std::vector<std::string> paths;
    for (int i = 0; i < 10; ++i) {
        paths.push_back(tmp / ("S" + std::to_string(9 - i) + ".20230101000000.wav"));
        MakeFile(paths.back(), 2000);
    }
    host.onProcessMessages = [&](int call) {
        if (call == 3) STOP = true;
    };
    SelectFiles(paths);
    EXPECT_EQ(host.processMessagesCalls, 3);
    EXPECT_EQ(Found, 10);
    ASSERT_EQ(Recs.size(), 10u);
    const auto big = LabelLog(Label::BigLbl);
    EXPECT_NE(std::find(big.begin(), big.end(), "File listing stopped at file 3"), big.end());
    EXPECT_EQ(host.Text(Label::BigLbl), "10 WAV files in 3 name groups");
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(Recs[static_cast<size_t>(i)].NameWithPath.empty());
    EXPECT_EQ(Identities()[7], "S7");
    EXPECT_EQ(Identities()[9], "S9");
    EXPECT_EQ(Memo().size(), 11u);
    EXPECT_EQ(Memo()[1], "30/12/1899 00:00\t0\t0.00\t\t\t");
    EXPECT_FALSE(STOP);
    EXPECT_FALSE(Busy);

    // The blank records belong to no location.
    const auto groups = SplitIntoLocations(Recs);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].Name, "S7");
    EXPECT_EQ(groups[0].Recs.size(), 1u);
    EXPECT_EQ(groups[2].Recs.at(0).NameWithPath, Recs[9].NameWithPath);
    KeepLocation(Recs, "");
    EXPECT_TRUE(Recs.empty());
}

TEST_F(Selection, CountsFilesOnTheButtonEveryTwentyAndYieldsAfterEach) {
    std::vector<std::string> paths;
    for (int i = 0; i < 41; ++i) {
        paths.push_back(tmp / ("f" + std::to_string(i) + ".wav"));
        MakeFile(paths.back(), 10);
    }
    SelectFiles(paths);
    EXPECT_EQ(LabelLog(Label::SelectBatchBtn),
              (std::vector<std::string>{"Select WAV files", "0", "20", "40", "Select WAV files"}));
    EXPECT_EQ(host.processMessagesCalls, 41);
    EXPECT_EQ(Recs[0].DurationMs, 0);  // (5 - 44) samples: rounds to 0 ms
}

TEST_F(Selection, CancelledDialogsLeaveNoUsableSelection) {
    Recs.assign(2, BlankWavFileRec);
    Found = 2;
    Busy = false;
    host.openAnswer.reset();
    Select();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"No Files selected"}));
    EXPECT_EQ(host.Text(Label::BigLbl), "No Files selected");
    EXPECT_EQ(Found, 0);
    EXPECT_EQ(Recs.size(), 2u);
    EXPECT_FALSE(Busy);
    EXPECT_EQ(Memo(), (std::vector<std::string>{kHeader}));

    // Directory mode, chooser cancelled.
    Controls.SearchDirectories = true;
    host.yesNoAnswer = true;
    host.questions.clear();
    Select();
    EXPECT_EQ(host.questions,
              (std::vector<std::string>{
                  "Do you wish to select all files in a directory and its sub-directories?",
                  "Find WAV files in a directory and its subdirectories"}));
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_FALSE(Busy);

    // A selection already running: nothing happens.
    Busy = true;
    Select();
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.hideSettingsCalls, 2);
    EXPECT_TRUE(Busy);
}

TEST_F(Selection, DirectoryModeSearchesTheTreeAndNoAnswersTheFileDialog) {
    fs::create_directories(tmp / "deep");
    MakeFile(tmp / "deep/LOC1.20230517143000.WAV", 1001);
    MakeFile(tmp / "small.wav", 1000);
    MakeFile(tmp / "notes.txt", 5000);
    Controls.SearchDirectories = true;
    host.yesNoAnswer = true;
    host.directoryAnswer = tmp.path().string() + "/";
    Select();
    ASSERT_EQ(Recs.size(), 1u);
    EXPECT_EQ(Recs[0].NameWithPath, tmp / "deep/LOC1.20230517143000.WAV");
    EXPECT_EQ(Recs[0].Start.Mn, 64891590);
    EXPECT_EQ(Skipped, 0);

    // A directory that cannot be read is named beside the file list after the listing.
    host.directoryAnswer = tmp / "gone";
    Select();
    EXPECT_TRUE(Recs.empty());
    EXPECT_EQ(Skipped, 1);
    EXPECT_EQ(Memo().back(), kHeader);
    EXPECT_EQ(
        host.notes[wtk::Memo::FilesMemo],
        (std::vector<std::string>{tmp / "gone" + " not searched: No such file or directory"}));

    host.yesNoAnswer = false;  // "No": the file dialog, which takes any file
    SelectFiles({tmp / "small.wav", tmp / "notes.txt"});
    EXPECT_EQ(Recs.size(), 2u);
    EXPECT_EQ(host.questions.back(), "Select one or more files");
}

TEST_F(Selection, PathsThatCannotBeOpenedAreReportedAndLeftBlank) {
    const std::string good = tmp / "LOC1.20230517143000.wav";
    MakeFile(good, 5000);
    const std::string dead = tmp / "dead.wav";
    fs::create_symlink(tmp / "missing.wav", dead);
    const std::string fifo = tmp / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string dir = tmp.path().string();
    SelectFiles({dead, fifo, dir, good, good});  // a file chosen twice is listed once
    EXPECT_EQ(host.messages, (std::vector<std::string>{dead + " not opened", fifo + " not opened",
                                                       dir + " not opened"}));
    ASSERT_EQ(Recs.size(), 4u);
    EXPECT_EQ(Found, 4);
    EXPECT_EQ(Skipped, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Recs[static_cast<size_t>(i)].NameWithPath, "");
    EXPECT_EQ(Recs[3].NameWithPath, good);
    EXPECT_EQ(host.Text(Label::BigLbl), "4 WAV files, all in one name group");
}

TEST_F(Selection, PathsAreTakenInOrderDirectoriesSearchedFilesTakenAsGiven) {
    fs::create_directories(tmp / "d/e");
    MakeFile(tmp / "d/e/B.20230101000000.wav", 2000);
    MakeFile(tmp / "d/tiny.wav", 10);
    MakeFile(tmp / "A.20230101000000.txt", 10);
    Controls.UseFileNameDateTimes = false;  // keep the found order visible
    EXPECT_EQ(ExpandSelectionPaths({tmp / "A.20230101000000.txt", tmp / "d"}),
              (StringList{tmp / "A.20230101000000.txt", tmp / "d/e/B.20230101000000.wav"}));
    SelectionContext c = Ctx();
    SelectPaths(c, {tmp / "d/", tmp / "A.20230101000000.txt"});
    ASSERT_EQ(Recs.size(), 2u);
    EXPECT_EQ(Recs[0].NameWithPath, tmp / "d/e/B.20230101000000.wav");
    EXPECT_EQ(Recs[1].NameWithPath, tmp / "A.20230101000000.txt");
    EXPECT_EQ(Memo().front(), kHeader);
    EXPECT_EQ(LabelLog(Label::BigLbl).front(), "Finding WAV files");

    // A file named more than once is listed once, under the first of its names: a folder and
    // a file in it, a folder inside another, a link beside its target.
    const std::string b = tmp / "d/e/B.20230101000000.wav";
    fs::create_symlink(b, tmp / "d/e/C.20230101000000.wav");
    EXPECT_EQ(ExpandSelectionPaths({tmp / "d/e", tmp / "d/", b, tmp / "d/e/../e/"}),
              (StringList{b}));
    SelectPaths(c, {b, tmp / "A.20230101000000.txt", tmp / "d/e/C.20230101000000.wav", b,
                    tmp / "A.20230101000000.txt", tmp / "missing.wav", tmp / "missing.wav"});
    ASSERT_EQ(Recs.size(), 4u);
    EXPECT_EQ(Found, 4);
    EXPECT_EQ(Skipped, 2);
    fs::remove(tmp / "d/e/C.20230101000000.wav");

    SelectPaths(c, {tmp / "d/tiny.wav"});  // an empty tree or any file
    EXPECT_EQ(Recs.size(), 1u);
    fs::create_directories(tmp / "empty");
    SelectPaths(c, {tmp / "empty"});
    EXPECT_TRUE(Recs.empty());
    EXPECT_EQ(Found, 0);
    EXPECT_EQ(host.Text(Label::BigLbl), "0 WAV files, all in one name group");
}

// Recordings dated by their recorders' own times: names that give no location take their
// folder's, so two sites never share a TK1 file; names in a recorder's local time, which its own
// time with a zone shows, place the files in UTC, said once for the listing.
TEST_F(Selection, RecordersOwnTimesGroupByFolderAndReadLocalNames) {
    using synth::RecorderStyle;
    synth::RecordingSpec spec;
    spec.Seconds = 0.2;
    auto write = [&](const std::string& folder, RecorderStyle style, int32_t zone, int32_t hour) {
        synth::RecorderStamp stamp;
        stamp.Style = style;
        stamp.ZoneMinutes = zone;
        stamp.StartUtcMicroseconds = synth::StartMicroseconds(2024, 6, 11, hour, 0, 0);
        spec.SampleRate = style == RecorderStyle::AudioMoth ? 384000 : 576000;
        fs::create_directories(tmp / folder);
        return synth::WriteRecorderRecording(tmp / folder, spec, stamp).Path;
    };
    const std::string north = write("sites/north", RecorderStyle::Guano, 0, 6);
    const std::string south = write("sites/south", RecorderStyle::Guano, 0, 6);
    const std::string west = write("sites/west", RecorderStyle::Bext, 0, 7);
    write("moths", RecorderStyle::AudioMoth, 120, 6);
    write("moths", RecorderStyle::AudioMoth, 120, 7);
    SelectionContext c = Ctx();
    SelectPaths(c, {tmp / "sites", tmp / "moths"});

    EXPECT_EQ(Identities(), (std::vector<std::string>{"moths", "moths", "north", "south", "west"}));
    EXPECT_EQ(host.Text(Label::BigLbl), "5 WAV files in 4 name groups");
    EXPECT_EQ(Memo()[3],
              "11/6/2024 06:00\t0\t0.30\tnorth\t" + north + "\tNewFileNamenorth 2024 06 11.TK1");
    // The moths' names give 08:00 and 09:00 at UTC+2: placed at 06:00 and 07:00 UTC.
    EXPECT_EQ(StartTimeText(Recs[0].StartTime), "2024-06-11T06:00:00.000000Z");
    EXPECT_EQ(StartTimeText(Recs[1].StartTime), "2024-06-11T07:00:00.000000Z");
    EXPECT_EQ(Recs[1].DateString, "2024 06 11");
    const std::vector<std::string> notes = LabelLog(Label::StartTimeWarning);
    EXPECT_EQ(notes,
              (std::vector<std::string>{
                  "2 recordings are named in their recorders' local time (UTC+02:00), as their "
                  "own start time with its zone shows: placed by their own time, in UTC "
                  "(--time-source name places by the name)",
                  "1 recording in " + (tmp / "sites/north") +
                      ", dated by its own time, has no location in its name: location \"north\", "
                      "the folder's name",
                  "1 recording in " + (tmp / "sites/south") +
                      ", dated by its own time, has no location in its name: location \"south\", "
                      "the folder's name",
                  "1 recording in " + (tmp / "sites/west") +
                      ", dated by its own time, has no location in its name: location \"west\", "
                      "the folder's name"}));

    // Names that give a location, and recordings without a time of their own, stay as they were.
    Controls.TimeSourceCombo = static_cast<int>(TimeSourceChoice::Name);
    host.textLog.clear();
    SelectPaths(c, {north, south, west});
    EXPECT_EQ(Identities(), (std::vector<std::string>(3, "NewFileName ")));
    EXPECT_TRUE(LabelLog(Label::StartTimeWarning).empty());
}

TEST_F(Selection, RealRecordingsListWithTheirRecordersNames) {
    const std::string corpus = WTK_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    Rate.KsamplesPerSecEditChange("500");
    SelectionContext c = Ctx();
    SelectPaths(c, {corpus});
    ASSERT_EQ(Recs.size(), 3u);
    // LOCATION_YYYYMMDD_HHMMSS_...: the prefix is the location, the stamp the start.
    EXPECT_EQ(Identities(),
              (std::vector<std::string>{"Detection_CalCURSeas_Dalls - Copy.OE2.400000003CH1",
                                        "Detection_CalCURSeas_Dalls_NoDecimation.OE1.389000004CH1",
                                        "stand"}));
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(StartTimeText(Recs[i].StartTime), "2014-08-11T16:00:18.000000");
        EXPECT_EQ(Recs[i].StartTime.Source, TimeSource::Name);
    }
    EXPECT_FALSE(Recs[2].DateFound);
    EXPECT_EQ(Recs[0].DurationMs, 56);  // 28000 samples at 500 k samples/s
    EXPECT_EQ(host.Text(Label::BigLbl), "3 WAV files in 3 name groups");
    EXPECT_EQ(Memo()[1].substr(0, 21), "11/8/2014 16:00\t0\t0.0");
    EXPECT_NE(host.Text(Label::ProgressLbl).find("Date/time conversion failed (D2) "),
              std::string::npos);
}

// A 16-bit file's duration runs to the end of its data chunk: chunks after it are no sound.
TEST_F(Selection, DurationsEndWithTheDataChunk) {
    const std::string path = tmp / "A.20230101000000.wav";
    const test::Bytes samples(2 * 384000 * 2 + 88, 0);  // 2 s and 44 samples at 384 k
    test::WriteFileBytes(path, test::Riff({{"fmt ", test::Fmt(1, 1, 384000, 16)},
                                           {"data", samples},
                                           {"guan", test::Bytes(8 << 20, ' ')}}));
    SelectFiles({path});
    ASSERT_EQ(Recs.size(), 1u);
    EXPECT_EQ(Memo().back(),
              "1/1/2023 00:00\t0\t2.00\tA\t" + path + "\tNewFileNameA 2023 01 01.TK1");
}

}  // namespace
}  // namespace wtk
