// What a resumed run makes of the files an earlier run left of a location: complete ones are
// kept, what a stopped or killed run leaves is converted again, and files of other recordings
// or settings are told apart from both.
#include "session/earlier_outputs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "recording_host.h"
#include "session/session.h"
#include "temp_dir.h"

namespace wtk::test {
namespace {

namespace fs = std::filesystem;

const char* StateName(EarlierState s) {
    switch (s) {
        case EarlierState::None:
            return "None";
        case EarlierState::Complete:
            return "Complete";
        case EarlierState::Unfinished:
            return "Unfinished";
        case EarlierState::Changed:
            return "Changed";
    }
    return "?";
}

// The lines of a CR LF text, and the text of lines.
std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}
void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

class EarlierOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.Start();
        s.Controls.ShowGraphs = false;
        s.Controls.KsamplesPerSecEdit = "2";
        s.KsamplesPerSecEditChange();
        fs::create_directories(archive);
        for (const char* name : {"A.20230517140000.wav", "A.20230517140200.wav"}) {
            WriteSamplesFile(archive + "/" + name, std::vector<int16_t>(2000 * 10), 2000);
        }
        Convert(base);
    }
    void Convert(const std::string& folder) {
        fs::create_directories(folder);
        host.saveAnswer = folder + "/chosen.TK1";
        s.SelectPaths({archive});
        s.ConvertBatchBtnClick();
        ASSERT_EQ(s.LastOutcome, Session::Outcome::Done);
    }
    EarlierState Judge(const std::string& folder) {
        s.SelectPaths({archive});
        const BatchPlan plan = s.PlanBatch(BatchKind::PerLocation);
        last = s.JudgeEarlierOutputs(plan, folder + "/chosen.TK1", s.WavFileRecs);
        return last.State;
    }

    TempDir dir;
    RecordingHost host;
    Session s{host};
    std::string archive = dir / "archive";
    std::string base = dir / "base";
    EarlierOutputs last;
};

TEST_F(EarlierOutputsTest, CompleteUnfinishedAndChangedLocationsAreToldApart) {
    const std::string tk1 = "/NewFileNameA 2023 05 17.TK1";
    const std::string linkage = "/NewFileNameA 2023 05 17.txt";
    const std::string table = "/NewFileNameA 2023 05 17.recordings.csv";
    const std::string second = archive + "/A.20230517140200.wav";
    struct Case {
        const char* what;
        std::function<void(const std::string& folder)> change;
        EarlierState expected;
        std::function<void()> undo = {};  // of a change to the archive
    };
    auto tableLines = [&](const std::string& folder,
                          const std::function<void(std::vector<std::string>&)>& edit) {
        std::vector<std::string> lines = CrLfLines(ReadFileText(folder + table));
        edit(lines);
        WriteLines(folder + table, lines);
    };
    const std::vector<Case> cases = {
        {"as the run left them", [](const std::string&) {}, EarlierState::Complete},
        {"none of them", [](const std::string& f) { fs::remove_all(f); }, EarlierState::None},
        {"the linkage file missing", [&](const std::string& f) { fs::remove(f + linkage); },
         EarlierState::Unfinished},
        {"the TK1 file without its end record",
         [&](const std::string& f) { fs::resize_file(f + tk1, fs::file_size(f + tk1) - 16); },
         EarlierState::Unfinished},
        {"the TK1 file's minute count patched",
         [&](const std::string& f) {
             std::vector<uint8_t> b = ReadFileBytes(f + tk1);
             b[342] += 1;
             WriteFileBytes(f + tk1, b);
         },
         EarlierState::Unfinished},
        {"the table listing the first recording only (a run stopped there)",
         [&](const std::string& f) { tableLines(f, [](auto& l) { l.pop_back(); }); },
         EarlierState::Unfinished},
        {"the last recording converted in part",
         [&](const std::string& f) {
             tableLines(f, [](auto& l) {
                 const std::string whole = ",20000,";  // the 10 s at 2 k samples/s
                 const size_t at = l.back().find(whole);
                 ASSERT_NE(at, std::string::npos) << l.back();
                 l.back().replace(at, whole.size(), ",12000,");
             });
         },
         EarlierState::Unfinished},
        {"a recording added after the last one",
         [&](const std::string&) {
             WriteSamplesFile(archive + "/A.20230517140400.wav", std::vector<int16_t>(2000), 2000);
         },
         EarlierState::Unfinished, [&] { fs::remove(archive + "/A.20230517140400.wav"); }},
        {"a recording removed", [&](const std::string&) { fs::rename(second, dir / "away.wav"); },
         EarlierState::Changed, [&] { fs::rename(dir / "away.wav", second); }},
        {"a recording renamed (its start the same)",
         [&](const std::string&) { fs::rename(second, archive + "/A.20230517140200.WAV"); },
         EarlierState::Changed, [&] { fs::rename(archive + "/A.20230517140200.WAV", second); }},
        {"a recording shorter than it was converted",
         [&](const std::string&) { fs::resize_file(second, 30100); }, EarlierState::Changed,
         [&] { fs::resize_file(second, 40100); }},
        {"another first recording",
         [&](const std::string&) {
             WriteSamplesFile(archive + "/A.20230517135900.wav", std::vector<int16_t>(2000), 2000);
         },
         EarlierState::Changed, [&] { fs::remove(archive + "/A.20230517135900.wav"); }},
        {"other settings", [&](const std::string&) { s.SetFm.Set("AmpStepEdit", "7"); },
         EarlierState::Changed, [&] { s.SetFm.DefaultSettingsBtnClick(); }},
        {"a directory in the table's place",
         [&](const std::string& f) {
             fs::remove(f + table);
             fs::create_directory(f + table);
         },
         EarlierState::Changed},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = dir / ("case" + std::to_string(++n));
        fs::copy(base, folder);
        c.change(folder);
        EXPECT_STREQ(StateName(Judge(folder)), StateName(c.expected)) << last.Why;
        EXPECT_EQ(last.Why.empty(),
                  c.expected == EarlierState::Complete || c.expected == EarlierState::None)
            << last.Why;
        if (c.undo) c.undo();
    }
    // Undone, the archive is the one converted.
    EXPECT_EQ(Judge(base), EarlierState::Complete) << last.Why;
}

TEST_F(EarlierOutputsTest, AKeptLocationHasTheSummaryLineItsBatchGaveIt) {
    const std::vector<std::string> memo = host.MemoLines(Memo::DataMemo);
    ASSERT_EQ(memo.size(), 2u);  // the heading and the TK1 file's line
    s.SelectPaths({archive});
    const BatchPlan plan = s.PlanBatch(BatchKind::PerLocation);
    EXPECT_EQ(s.SummaryLineOf(plan, base + "/chosen.TK1", s.WavFileRecs), memo[1]);
}

}  // namespace
}  // namespace wtk::test
