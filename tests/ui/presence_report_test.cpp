// The Report menu: presence reports of the last conversion and of chosen TK1 files, written
// beside them and handed to the browser (here a stand-in that records what it was given).
#include "ui/presence_report.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "temp_dir.h"
#include "ui/main_window.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

namespace fs = std::filesystem;

class PresenceReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        files = test::WriteExampleArchive(in.path().string(), 4);
        Cv = StartUp(std::make_unique<test::FakeDialogs>(script, log));
        Cv->KsamplesPerSecEdit->setText("384");
        script.openAnswer = files;
        script.saveDirectory = QString::fromStdString(out.path().string());
        Cv->PresenceReport->OpenUrl = [this](const QUrl& url) {
            opened << url;
            return browserStarts;
        };
    }

    void Convert() {
        Cv->SelectBatchBtn->click();
        Cv->ConvertBatchBtn->click();
        ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done)
            << log.messages.join("|").toStdString();
        ASSERT_EQ(Tk1Files().size(), 2u);
    }
    std::vector<std::string> Tk1Files() const {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(out.path())) {
            if (e.path().extension() == ".TK1") found.push_back(e.path().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string Report() const { return out / PresenceReportMenu::kReportName; }

    wtk::test::TempDir in;
    wtk::test::TempDir out;
    QStringList files;
    test::FakeDialogs::Script script;
    test::FakeDialogs::Log log;
    std::unique_ptr<TCv> Cv;
    QList<QUrl> opened;
    bool browserStarts = true;
};

TEST_F(PresenceReportTest, TheLastConversionsReportIsWrittenBesideItsFilesAndOpened) {
    EXPECT_EQ(Cv->PresenceReport->Menu->title(), "&Report");
    EXPECT_FALSE(Cv->PresenceReport->ConvertedAction->isEnabled());
    Convert();
    ASSERT_TRUE(Cv->PresenceReport->ConvertedAction->isEnabled());
    Cv->PresenceReport->ConvertedAction->trigger();
    EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join("|").toStdString();
    ASSERT_TRUE(fs::exists(Report()));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(Report())));
    const std::string html = wtk::test::ReadFileText(Report());
    EXPECT_NE(html.find("<h2>NewFileNameHARBOUR</h2>"), std::string::npos);
    EXPECT_NE(html.find("<h2>NewFileNameREEF</h2>"), std::string::npos);

    // Again: the earlier report stays unless the user says to replace it.
    fs::resize_file(Report(), 10);
    script.yesNoAnswer = false;
    Cv->PresenceReport->ConvertedAction->trigger();
    ASSERT_EQ(log.questions.size(), 1);
    EXPECT_TRUE(log.questions[0].contains("is there already")) << log.questions[0].toStdString();
    EXPECT_EQ(fs::file_size(Report()), 10u);
    EXPECT_EQ(opened.size(), 1);
    script.yesNoAnswer = true;
    Cv->PresenceReport->ConvertedAction->trigger();
    EXPECT_EQ(wtk::test::ReadFileText(Report()), html);
    EXPECT_EQ(opened.size(), 2);

    // Once the TK1 files are gone there is nothing to report on.
    for (const std::string& f : Tk1Files()) fs::remove(f);
    emit Cv->PresenceReport->Menu->aboutToShow();
    EXPECT_FALSE(Cv->PresenceReport->ConvertedAction->isEnabled());
}

TEST_F(PresenceReportTest, ChosenFilesAreReportedAndADamagedOneIsNamed) {
    Convert();
    // One location's file.
    script.openAnswer = QStringList{QString::fromStdString(Tk1Files()[0])};
    Cv->PresenceReport->ChooseAction->trigger();
    ASSERT_TRUE(fs::exists(Report())) << log.messages.join("|").toStdString();
    std::string html = wtk::test::ReadFileText(Report());
    EXPECT_NE(html.find("<h2>NewFileNameHARBOUR</h2>"), std::string::npos);
    EXPECT_EQ(html.find("<h2>NewFileNameREEF</h2>"), std::string::npos);
    EXPECT_EQ(opened.size(), 1);
    fs::remove(Report());

    // A TK1 file cut short: the message names it, nothing is written or opened.
    const std::string broken = out / "Broken 2024 01 01.TK1";
    fs::copy_file(Tk1Files()[1], broken);
    fs::resize_file(broken, 1030);
    script.openAnswer =
        QStringList{QString::fromStdString(Tk1Files()[0]), QString::fromStdString(broken)};
    Cv->PresenceReport->ChooseAction->trigger();
    ASSERT_EQ(log.messages.size(), 1);
    EXPECT_TRUE(log.messages[0].startsWith("No presence report written: "));
    EXPECT_TRUE(log.messages[0].contains("Broken 2024 01 01.TK1")) << log.messages[0].toStdString();
    EXPECT_FALSE(fs::exists(Report()));
    EXPECT_EQ(opened.size(), 1);

    // Cancelled: nothing happens.
    script.openAnswer.reset();
    Cv->PresenceReport->ChooseAction->trigger();
    EXPECT_EQ(log.messages.size(), 1);
    EXPECT_FALSE(fs::exists(Report()));
}

TEST_F(PresenceReportTest, AReportNoBrowserCanShowIsStillWrittenAndSaidWhere) {
    Convert();
    browserStarts = false;
    Cv->PresenceReport->ConvertedAction->trigger();
    EXPECT_TRUE(fs::exists(Report()));
    ASSERT_EQ(log.messages.size(), 1);
    EXPECT_EQ(log.messages[0].toStdString(), "The presence report is written to " + Report() +
                                                 ", but no browser could be started to show it.");
}

}  // namespace
}  // namespace wtk::ui
