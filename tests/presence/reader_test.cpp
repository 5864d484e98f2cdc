// Reading a location's TK1 files: exact times from the recordings table, the minute clock
// without one, locations gathered from folders, and damaged files refused by name and place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/calendar.h"
#include "presence/location_clicks.h"
#include "synth/tk1_sketch.h"
#include "temp_dir.h"
#include "train_fixtures.h"

namespace wtk::presence {
namespace {

using wtk::test::TempDir;
constexpr int64_t kMinute = kMicrosecondsPerMinute;
constexpr int64_t kSecond = kMicrosecondsPerSecond;
const int32_t kStartMin = *EncodeMinuteNumber(2024, 6, 11, 8, 0);

struct SketchClickAt {
    int64_t Minute;  // from the file's start
    int64_t InMinuteUs;
    tk1::Click Fields = synth::SketchClick(0, 133, 14, 200);
};

// A TK1 file of `minutes` minutes holding the clicks given (NBHF-like), and optionally its
// recordings table: one recording starting startSecond into the first minute, placed at its
// exact start or at the minute's.
std::string WriteFile(const TempDir& dir, const std::string& name, int minutes,
                      const std::vector<SketchClickAt>& clicks, bool table = true,
                      double startSecond = 20.5, bool exactStart = false,
                      int32_t startMin = kStartMin) {
    const std::string path = dir / name;
    synth::TK1Sketch sketch(path, startMin);
    for (const SketchClickAt& c : clicks) {
        tk1::Click fields = c.Fields;
        fields.ClkTime5MuSecs = static_cast<int32_t>(c.InMinuteUs / tk1::kMicrosecondsPerTimeUnit);
        sketch.Click(startMin + c.Minute, fields);
    }
    sketch.Finish(startMin + minutes - 1);
    if (table) {
        tk1::RecordingRow row;
        row.Path = "/rec/A.20240611080020.wav";
        row.StartUs = int64_t{startMin} * kMinute + std::llround(startSecond * 1e6);
        row.Zoned = true;
        row.TimeSource = "name";
        row.RateHz = 576000;
        row.Samples = int64_t{576000} * 60 * (minutes - 1);
        row.PlacedUs = exactStart ? *row.StartUs : int64_t{startMin} * kMinute;
        synth::WriteSketchSideFiles(path, {row});
    }
    return path;
}

std::vector<TimedClick> ReadAll(LocationReader& reader) {
    std::vector<TimedClick> clicks;
    TimedClick c;
    while (reader.Next(c)) clicks.push_back(c);
    return clicks;
}

TEST(LocationReader, ClicksAreTimedByTheirRecordingsStartWithOrWithoutExactStart) {
    TempDir dir;
    for (const bool exact : {false, true}) {
        // A click 10 s after the recording's first sample: at 10 s into the file's minute when
        // files start at their minute, 10 s after the start second when they start there (the
        // table gives placed starts to the second).
        const double startSecond = exact ? 20 : 20.5;
        const int64_t inMinute = exact ? 30'000'000 : 10'000'000;
        const std::string path =
            WriteFile(dir, exact ? "SiteA 2024 06 11.TK1" : "SiteB 2024 06 11.TK1", 4,
                      {{0, inMinute}, {2, 1'000'000}}, true, startSecond, exact);
        LocationReader reader({LocationOfTK1Name(path), {path}});
        EXPECT_TRUE(reader.Warnings().empty());
        const std::vector<TimedClick> clicks = ReadAll(reader);
        ASSERT_EQ(clicks.size(), 2u);
        const int64_t start = int64_t{kStartMin} * kMinute + std::llround(startSecond * 1e6);
        EXPECT_EQ(clicks[0].TimeUs, start + 10 * kSecond) << exact;
        EXPECT_EQ(clicks[0].Recording, 0);
        ASSERT_EQ(reader.Effort().size(), 1u);
        EXPECT_EQ(reader.Effort()[0].first, start);
        EXPECT_EQ(reader.Effort()[0].second, start + 180 * kSecond);
        ASSERT_EQ(reader.Recordings().size(), 1u);
        EXPECT_EQ(reader.Recordings()[0].Path, "/rec/A.20240611080020.wav");
        // Again from the start.
        reader.Rewind();
        EXPECT_EQ(ReadAll(reader).size(), 2u);
    }
}

TEST(LocationReader, WithoutARecordingsTableTheMinuteClockAndOneWarning) {
    TempDir dir;
    const std::string path = WriteFile(dir, "SiteA 2024 06 11.TK1", 3, {{1, 2'500'000}}, false);
    LocationReader reader({"SiteA", {path}});
    ASSERT_EQ(reader.Warnings().size(), 1u);
    EXPECT_NE(reader.Warnings()[0].find("minute-exact only"), std::string::npos);
    const std::vector<TimedClick> clicks = ReadAll(reader);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].TimeUs, (int64_t{kStartMin} + 1) * kMinute + 2'500'000);
    EXPECT_EQ(clicks[0].Recording, kNoRecording);
    ASSERT_EQ(reader.Effort().size(), 1u);  // every minute of the file
    EXPECT_EQ(reader.Effort()[0].second - reader.Effort()[0].first, 3 * kMinute);
}

TEST(LocationReader, LocationsAreGatheredFromFoldersByName) {
    TempDir dir;
    std::filesystem::create_directories(dir / "a/deeper");
    WriteFile(dir, "a/SiteREEF 2024 06 12.TK1", 2, {}, true, 0, false, kStartMin + 1440);
    WriteFile(dir, "a/deeper/SiteREEF 2024 06 11.TK1", 2, {});
    WriteFile(dir, "a/SiteHARBOUR 2024 06 11.tk1", 2, {});
    wtk::test::WriteFileBytes(dir / "a/notes.txt", {'x'});
    const std::vector<LocationFiles> locations = GatherLocations({dir / "a"});
    ASSERT_EQ(locations.size(), 2u);
    EXPECT_EQ(locations[0].Location, "SiteHARBOUR");
    EXPECT_EQ(locations[1].Location, "SiteREEF");
    ASSERT_EQ(locations[1].Tk1Paths.size(), 2u);
    LocationReader reef(locations[1]);
    ASSERT_EQ(reef.Recordings().size(), 2u);  // the earlier file first
    EXPECT_LT(reef.Effort()[0].first, reef.Effort()[1].first);

    for (const auto& [name, location] :
         {std::pair{"/x/SiteREEF 2024 06 11.TK1", "SiteREEF"}, std::pair{"REEF.TK1", "REEF"},
          std::pair{"NewFileNamePlus 2023 +5 17.TK1", "NewFileNamePlus"},
          std::pair{"A  2024 06 11.TK1", "A "}}) {
        EXPECT_EQ(LocationOfTK1Name(name), location) << name;
    }
    EXPECT_THROW(GatherLocations({dir / "none"}), InputError);
    std::filesystem::create_directories(dir / "empty");
    EXPECT_THROW(GatherLocations({dir / "empty"}), InputError);
}

// The bytes of a file changed by f.
void Change(const std::string& path, const std::function<void(std::vector<uint8_t>&)>& f) {
    std::vector<uint8_t> bytes = wtk::test::ReadFileBytes(path);
    f(bytes);
    wtk::test::WriteFileBytes(path, bytes);
}

TEST(LocationReader, DamagedFilesAreRefusedByNameAndPlace) {
    const tk1::Record click = tk1::EncodeClick(synth::SketchClick(0, 130, 10, 100));
    const struct {
        const char* What;
        std::function<void(const std::string& tk1)> Damage;
        const char* File;   // the suffix of the file named
        const char* Place;  // "" where none is given
        const char* Text;
    } kRows[] = {
        {"partial record",
         [](const std::string& p) { Change(p, [](auto& b) { b.resize(b.size() + 5); }); }, ".TK1",
         "byte 1120", "partial record of 5 bytes"},
        {"no end record",
         [](const std::string& p) { Change(p, [](auto& b) { b.resize(b.size() - 16); }); }, ".TK1",
         "byte 1104", "no end record"},
        {"data after the end",
         [&](const std::string& p) {
             Change(p, [&](auto& b) { b.insert(b.end(), click.begin(), click.end()); });
         },
         ".TK1", "byte 1120", "data after the end record"},
        {"header count", [](const std::string& p) { Change(p, [](auto& b) { b[342] = 9; }); },
         ".TK1", "byte 340", "the header counts 9 minute records, the file holds 3"},
        {"not TK1", [](const std::string& p) { Change(p, [](auto& b) { b[31] = 0; }); }, ".TK1", "",
         "is not a TK1 file"},
        {"too short", [](const std::string& p) { Change(p, [](auto& b) { b.resize(100); }); },
         ".TK1", "", "too short for a TK1 file (100 bytes)"},
        {"click time",
         [](const std::string& p) {
             Change(p, [](auto& b) {
                 b[1056] = 0xB8;  // the click at 1056: 12,058,624 units, past its minute
             });
         },
         ".TK1", "byte 1056", "a click time beyond the end of its minute"},
        {"table row",
         [](const std::string& p) {
             std::ofstream(p.substr(0, p.size() - 4) + ".recordings.csv", std::ios::app)
                 << "not,a,row\r\n";
         },
         ".recordings.csv", "", "line 3 is no recordings table row"},
        {"linkage line",
         [](const std::string& p) {
             std::ofstream(p.substr(0, p.size() - 4) + ".txt", std::ios::app) << "x\r\n";
         },
         ".txt", "line 2", "no source linkage line"},
    };
    for (const auto& row : kRows) {
        TempDir dir;
        const std::string path = WriteFile(dir, "SiteA 2024 06 11.TK1", 3, {{0, 1000}});
        row.Damage(path);
        try {
            LocationReader reader({"SiteA", {path}});
            ADD_FAILURE() << row.What << ": not refused";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.Path().ends_with(row.File)) << row.What << ": " << e.what();
            EXPECT_EQ(e.Place(), row.Place) << row.What << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(row.Text), std::string::npos)
                << row.What << ": " << e.what();
        }
    }
}

TEST(LocationReader, LabelsGiveEachClickTheTrainFindTrainsFound) {
    TempDir dir;
    // A porpoise train and random clicks in minute 1 of a file.
    test::TrainSpec s;
    s.StartUs = 5 * kSecond;
    const std::vector<TimedClick> clicks =
        test::Merged({test::TrainClicks(s), test::RandomClicks(0, 50, 2, 3)});
    std::vector<SketchClickAt> at;
    for (const TimedClick& c : clicks) at.push_back({1, c.TimeUs, c.Fields});
    const std::string path = WriteFile(dir, "SiteA 2024 06 11.TK1", 3, at);
    LocationReader reader({"SiteA", {path}});
    TrainIndex index;
    std::vector<Train> trains;
    FindTrains(reader, {}, TrainQuality::Moderate, [&](const Train& t) {
        trains.push_back(t);
        index.Add(t);
    });
    ASSERT_EQ(trains.size(), 1u);
    EXPECT_EQ(trains[0].Encounter, 1);
    EXPECT_EQ(trains[0].Clicks, s.Clicks);
    int labelled = 0, all = 0;
    LabelClicks(reader, {}, index, [&](const TimedClick&, const TrainLabel* label) {
        ++all;
        if (label != nullptr) {
            ++labelled;
            EXPECT_EQ(label->Number, 1);
            EXPECT_EQ(label->Class, TrainClass::Nbhf);
        }
    });
    EXPECT_EQ(all, static_cast<int>(clicks.size()));
    EXPECT_EQ(labelled, s.Clicks);
}

}  // namespace
}  // namespace wtk::presence
