// The exports of the results view over a location of several TK1 files: dump's CSV rows of
// every file under one heading, the per-recording files of the recordings that hold a chosen
// click, and nothing written when a file opened has gone since.
#include "ui/results_export.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dump/tk1_dump.h"
#include "results_fixture.h"
#include "temp_dir.h"

namespace wtk::ui {
namespace {

namespace fs = std::filesystem;

std::string TextOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string CsvDumpOf(const std::string& tk1) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    std::FILE* err = std::tmpfile();
    dump::DumpOptions options;
    options.Csv = true;
    EXPECT_EQ(dump::DumpTK1(tk1, options, out, err), dump::kDumpSound);
    std::fclose(out);
    std::fclose(err);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

class ResultsExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        first = test::WriteTwoTrainLocation(dir.path(), "SiteA");
        // The next day: one recording at 06:00:00 with a train at 06:00:05.
        second = (dir.path() / "SiteA 2024 06 12.TK1").string();
        const int64_t start = test::kDay0Us + 30 * test::kHourUs;
        synth::WriteClickFile(second, {{"/rec/SiteA.20240612060000.wav", start, 576000LL * 300}},
                              test::PorpoiseTrain(start + 5'000'000, 30));
        OpenedResults opened = OpenResults({first, second});
        EXPECT_TRUE(opened.Refused.empty());
        location = std::move(opened.Locations.at(0));
    }

    wtk::test::TempDir dir;
    std::string first, second;
    std::unique_ptr<ResultsLocation> location;
};

TEST_F(ResultsExportTest, TheCsvOfALocationHoldsTheRowsOfEachFileUnderOneHeading) {
    ASSERT_EQ(location->Files.size(), 2u);
    ASSERT_EQ(location->Clicks.size(), 111u);
    ExportRequest r;
    r.Format = ExportFormat::Csv;
    r.Span = location->Whole();
    r.AllInSpan = true;
    r.Target = (dir.path() / "all.csv").string();
    const ExportOutcome done = ExportClicks(*location, r);
    EXPECT_TRUE(done.Ok) << done.Problems;
    EXPECT_EQ(done.Problems, "");
    EXPECT_EQ(done.Written, std::vector<std::string>{r.Target});
    const std::string a = CsvDumpOf(first), b = CsvDumpOf(second);
    EXPECT_EQ(TextOf(r.Target), a + b.substr(b.find('\n') + 1));

    // There now: refused unless it may be replaced.
    r.Span = {test::kDay0Us + 29 * test::kHourUs, test::kDay0Us + 31 * test::kHourUs};
    const ExportOutcome refused = ExportClicks(*location, r);
    EXPECT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Existing, std::vector<std::string>{r.Target});
    r.Overwrite = true;
    EXPECT_TRUE(ExportClicks(*location, r).Ok);
    // Only the second day's clicks, under the heading of the first file (which has none).
    EXPECT_EQ(TextOf(r.Target), b);
}

TEST_F(ResultsExportTest, ATrainOfTheSecondFileWritesItsRecordingsFileOnly) {
    ASSERT_EQ(location->Trains.size(), 3u);
    const presence::Train& t = location->Trains[2];
    ExportRequest r;
    r.Format = ExportFormat::Audacity;
    r.Span = {t.StartUs, t.EndUs + 1};
    const TrainClicks ends = location->TrainEnds[2];
    for (size_t i = ends.First; i <= ends.Last; ++i) r.Times.push_back(location->Clicks[i].TimeUs);
    // Every click but the last.
    r.Times.pop_back();
    const fs::path folder = dir.path() / "labels";
    fs::create_directories(folder);
    r.Target = folder.string();
    const ExportOutcome done = ExportClicks(*location, r);
    EXPECT_TRUE(done.Ok) << done.Problems;
    ASSERT_EQ(done.Written.size(), 1u);
    EXPECT_EQ(done.Written[0], (folder / "SiteA.20240612060000.txt").string());
    std::ifstream labels(done.Written[0]);
    int lines = 0;
    for (std::string line; std::getline(labels, line);) ++lines;
    EXPECT_EQ(lines, 29);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1);
}

TEST_F(ResultsExportTest, AFileGoneSinceItWasOpenedIsNamedAndNothingIsWritten) {
    fs::remove(second);
    ExportRequest r;
    r.Format = ExportFormat::Csv;
    r.Span = location->Whole();
    r.AllInSpan = true;
    r.Target = (dir.path() / "all.csv").string();
    const ExportOutcome csv = ExportClicks(*location, r);
    EXPECT_FALSE(csv.Ok);
    EXPECT_NE(csv.Problems.find(second), std::string::npos) << csv.Problems;
    EXPECT_NE(csv.Problems.find("30 of the 111 clicks were not found"), std::string::npos)
        << csv.Problems;
    EXPECT_FALSE(fs::exists(r.Target));

    r.Format = ExportFormat::Raven;
    r.Target = dir.path().string();
    const ExportOutcome raven = ExportClicks(*location, r);
    EXPECT_NE(raven.Problems.find(second), std::string::npos) << raven.Problems;
    EXPECT_NE(raven.Problems.find("30 of the 111 clicks"), std::string::npos) << raven.Problems;
    EXPECT_FALSE(raven.Ok);
}

}  // namespace
}  // namespace wtk::ui
