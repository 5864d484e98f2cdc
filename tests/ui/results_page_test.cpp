// The Results page in the window: TK1 files opened from the File menu or dropped, a cell of the
// grid and a stretch of the strip opened, a train zoomed into with the keys, the wheel and
// drags, a click's fields and recording, the refusal of damaged files.
#include "ui/results_page.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "dump/tk1_dump.h"
#include "results_fixture.h"
#include "temp_dir.h"
#include "ui/main_window.h"
#include "ui/results_plots.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

namespace fs = std::filesystem;

class ResultsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        Cv = StartUp(std::make_unique<test::FakeDialogs>(script, log));
        Cv->resize(1400, 900);
        Cv->show();
        tk1 = QString::fromStdString(test::WriteTwoTrainLocation(dir.path(), "SiteA"));
    }

    // Opens the files through File > Open TK1 files.
    void OpenFromMenu(const QStringList& files) {
        script.openAnswer = files;
        Cv->OpenTK1Action->trigger();
        QCoreApplication::processEvents();
    }
    ResultsPage& Page() { return *Cv->Results; }
    const ResultsLocation& Location() { return *Page().Current(); }
    void Mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons held, Qt::KeyboardModifiers modifiers = {}) {
        QMouseEvent e(type, at, w->mapToGlobal(at), button, held, modifiers);
        QCoreApplication::sendEvent(w, &e);
    }
    // A drag from one point to another with a button held.
    void Drag(QWidget* w, QPointF from, QPointF to, Qt::MouseButton button,
              Qt::KeyboardModifiers modifiers = {}) {
        Mouse(w, QEvent::MouseButtonPress, from, button, button, modifiers);
        Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button, modifiers);
        Mouse(w, QEvent::MouseMove, to, Qt::NoButton, button, modifiers);
        Mouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
    }

    wtk::test::TempDir dir;
    QString tk1;
    test::FakeDialogs::Script script;
    test::FakeDialogs::Log log;
    std::unique_ptr<TCv> Cv;
};

TEST_F(ResultsPageTest, OpenedFromTheFileMenuAGridCellOrAStretchOfTheStripOpensInTheClicks) {
    EXPECT_EQ(Cv->Pages->tabText(0), "Convert");
    EXPECT_EQ(Cv->Pages->tabText(1), "Results");
    EXPECT_EQ(Cv->Pages->currentWidget(), Cv->ClientArea);
    OpenFromMenu({tk1});
    EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join("|").toStdString();
    EXPECT_EQ(log.titles.last(), "Open TK1 files");
    EXPECT_EQ(Cv->Pages->currentWidget(), Cv->Results);
    ASSERT_NE(Page().Current(), nullptr);
    EXPECT_EQ(Page().LocationBox->currentText(), "SiteA");
    EXPECT_EQ(Page().Clicks->Span(), Location().Whole());
    EXPECT_EQ(Page().SpanLabel->text(), "81 clicks shown in 1 d");

    // The cell of 10:00 on the first (only) day: that hour, with the second train's clicks.
    OverviewPlot* overview = Page().Overview;
    QTest::mouseClick(overview, Qt::LeftButton, {}, overview->CellRect(0, 10).center());
    const TimeSpan hour{test::kDay0Us + 10 * test::kHourUs, test::kDay0Us + 11 * test::kHourUs};
    EXPECT_EQ(Page().Clicks->Span(), hour);
    EXPECT_EQ(Page().SpanLabel->text(), "40 clicks shown in 1 h");

    // A stretch of the strip: the times under the ends of the drag.
    const QRect strip = overview->StripRect();
    const QPointF from(strip.left() + strip.width() / 3, strip.center().y());
    const QPointF to(strip.left() + strip.width() / 2, strip.center().y());
    Drag(overview, from, to, Qt::LeftButton);
    EXPECT_EQ(Page().Clicks->Span(),
              (TimeSpan{overview->TimeAt(from.x()), overview->TimeAt(to.x())}));
}

TEST_F(ResultsPageTest, ATrainIsZoomedIntoByTheKeysAndTheWheelAndShowsItsRowAndClicks) {
    OpenFromMenu({tk1});
    ClickPlot* plot = Page().Clicks;
    plot->setFocus();
    // Right: the first train, zoomed to, its row of the trains table below.
    QTest::keyClick(plot, Qt::Key_Right);
    ASSERT_EQ(Page().SelectedTrain(), std::optional<size_t>(0));
    const presence::Train& first = Location().Trains[0];
    EXPECT_EQ(plot->Span(), AroundTrain(first));
    EXPECT_LT(plot->Span().Length(), 3'000'000);
    EXPECT_EQ(Page().TrainTable->item(0, 0)->text(), "1");
    EXPECT_EQ(Page().TrainTable->item(0, 1)->text(), "SiteA");
    EXPECT_EQ(Page().TrainTable->item(0, 2)->text(), "/rec/SiteA.20240611080030.wav");
    EXPECT_EQ(Page().TrainTable->item(0, 11)->text(), "nbhf");
    // Every click of the train is drawn: at this size each has a pixel of its own.
    const TrainClicks ends = Location().TrainEnds[0];
    for (size_t i = ends.First; i <= ends.Last; ++i) {
        EXPECT_TRUE(plot->PointOf(i, Panel::Khz).has_value()) << i;
    }
    plot->grab();  // paints
    EXPECT_EQ(plot->DrawnClicks(), 40u);
    QTest::keyClick(plot, Qt::Key_Right);
    EXPECT_EQ(Page().SelectedTrain(), std::optional<size_t>(1));
    QTest::keyClick(plot, Qt::Key_Left);
    EXPECT_EQ(Page().SelectedTrain(), std::optional<size_t>(0));
    // Page Down: the next encounter (the second train's).
    QTest::keyClick(plot, Qt::Key_PageDown);
    EXPECT_EQ(Page().SelectedTrain(), std::optional<size_t>(1));
    QTest::keyClick(plot, Qt::Key_PageUp);
    EXPECT_EQ(Page().SelectedTrain(), std::optional<size_t>(0));

    // The wheel zooms in about the time under the mouse, which keeps its place.
    const QRect panel = plot->PanelRect(Panel::Khz);
    const QPointF at(panel.left() + panel.width() / 4.0, panel.center().y());
    const TimeSpan before = plot->Span();
    const int64_t anchor = plot->Frame().TimeAt(at.x() - panel.left());
    QWheelEvent wheel(at, plot->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(plot, &wheel);
    EXPECT_NEAR(static_cast<double>(plot->Span().Length()), before.Length() * 0.8, 2);
    EXPECT_NEAR(static_cast<double>(plot->Frame().TimeAt(at.x() - panel.left())),
                static_cast<double>(anchor), before.Length() / 1000.0);
    // Down to a few milliseconds, and no further.
    for (int i = 0; i < 40; ++i) QCoreApplication::sendEvent(plot, &wheel);
    EXPECT_EQ(plot->Span().Length(), kShortestSpanUs);

    // A drag pans by what the mouse moved; a drag with the right button zooms to the stretch.
    Page().SelectTrain(0, true);
    const TimeSpan shown = plot->Span();
    Drag(plot, QPointF(panel.center()), QPointF(panel.center()) - QPointF(100, 0), Qt::LeftButton);
    const double perPixel = static_cast<double>(shown.Length()) / panel.width();
    EXPECT_NEAR(static_cast<double>(plot->Span().FromUs - shown.FromUs), 100 * perPixel, 1);
    EXPECT_EQ(Page().SelectedTrain(), std::optional<size_t>(0));  // a drag chooses nothing
    const TimeSpan panned = plot->Span();
    Drag(plot, QPointF(panel.left() + 100, panel.center().y()),
         QPointF(panel.left() + 300, panel.center().y()), Qt::RightButton);
    const double step = static_cast<double>(panned.Length()) / panel.width();
    EXPECT_NEAR(static_cast<double>(plot->Span().FromUs - panned.FromUs), 100 * step, 1);
    EXPECT_NEAR(static_cast<double>(plot->Span().Length()), 200 * step, 2);
}

TEST_F(ResultsPageTest, AClickPointedAtShowsItsFieldsAndItsRecordingGoesToTheClipboard) {
    OpenFromMenu({tk1});
    ClickPlot* plot = Page().Clicks;
    Page().SelectTrain(0, true);
    const size_t fifth = Location().TrainEnds[0].First + 4;
    const QPointF at = *plot->PointOf(fifth, Panel::Amplitude);
    Mouse(plot, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    const QString info = Page().ClickInfo->text();
    EXPECT_TRUE(info.contains("Ncyc 12, Pmax ")) << info.toStdString();
    EXPECT_TRUE(info.contains("train 1 (NBHF)")) << info.toStdString();
    const double second = *Location().RecordingSecond(Location().Clicks[fifth]);
    EXPECT_TRUE(info.contains(
        QStringLiteral("Recording /rec/SiteA.20240611080030.wav at %1 s").arg(second, 0, 'f', 6)))
        << info.toStdString();

    // Clicked: chosen; Ctrl+C copies its recording and second.
    QTest::mouseClick(plot, Qt::LeftButton, {}, at.toPoint());
    EXPECT_EQ(Page().ChosenClick(), std::optional<size_t>(fifth));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(plot, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("/rec/SiteA.20240611080030.wav\t%1").arg(second, 0, 'f', 6));
    // A click on empty ground chooses nothing, and the train stays unselected.
    QTest::mouseClick(plot, Qt::LeftButton, {},
                      plot->PanelRect(Panel::Khz).bottomLeft() + QPoint(2, -2));
    EXPECT_EQ(Page().ChosenClick(), std::nullopt);
    EXPECT_EQ(Page().SelectedTrain(), std::nullopt);
    EXPECT_FALSE(Page().CopyButton->isEnabled());
}

// The whole of a file's text.
std::string TextOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What dump writes of the whole file: the per-recording files into folder (Raven or Audacity),
// or the CSV text.
std::string DumpOf(const std::string& tk1, bool csv, const std::string& raven,
                   const std::string& audacity) {
    dump::DumpOptions options;
    options.Csv = csv;
    options.Raven = !raven.empty();
    options.PerFileDir = raven;
    options.AudacityDir = audacity;
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(dump::DumpTK1(tk1, options, out, err), dump::kDumpSound);
    std::fclose(out);
    std::fclose(err);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST_F(ResultsPageTest, ATrainOrASpanIsExportedAsDumpWritesItsClicks) {
    OpenFromMenu({tk1});
    const fs::path whole = dir.path() / "whole", train = dir.path() / "train";
    fs::create_directories(whole);
    fs::create_directories(train);
    DumpOf(tk1.toStdString(), false, whole.string(), "");
    const std::string first = "SiteA.20240611080030.Table.1.selections.txt";
    const std::string second = "SiteA.20240611100210.Table.1.selections.txt";

    // The first train: its recording's table as dump writes it, less the isolated click that
    // follows the train there; no table of the other recording.
    Page().SelectTrain(0, true);
    ASSERT_TRUE(Page().ExportTrainButton->isEnabled());
    script.directoryAnswer = QString::fromStdString(train.string());
    Page().ExportTrainButton->menu()->actions()[0]->trigger();  // Raven...
    EXPECT_EQ(log.messages.last(), "Written:\n" + QString::fromStdString((train / first).string()));
    std::string expected = TextOf(whole / first);
    expected.erase(expected.rfind('\n', expected.size() - 2) + 1);
    EXPECT_EQ(TextOf(train / first), expected);
    EXPECT_FALSE(fs::exists(train / second));

    // Again: the file is there; replaced only when the question is answered yes.
    fs::remove(train / first);
    { std::ofstream(train / first) << "mine"; }
    script.yesNoAnswer = false;
    EXPECT_FALSE(Page().ExportTrain(ExportFormat::Raven));
    EXPECT_TRUE(log.questions.last().contains(QString::fromStdString((train / first).string())));
    EXPECT_EQ(TextOf(train / first), "mine");
    script.yesNoAnswer = true;
    EXPECT_TRUE(Page().ExportTrain(ExportFormat::Raven));
    EXPECT_EQ(TextOf(train / first), expected);

    // The whole location as CSV: dump --csv byte for byte; the Audacity labels of the hour of
    // the second train: that recording's file only, as dump writes it.
    Page().Clicks->SetSpan(Location().Whole());
    const fs::path csv = dir.path() / "span.csv";
    script.saveFileAnswer = QString::fromStdString(csv.string());
    EXPECT_TRUE(Page().ExportSpan(ExportFormat::Csv));
    EXPECT_EQ(TextOf(csv), DumpOf(tk1.toStdString(), true, "", ""));
    const fs::path labels = dir.path() / "labels", all = dir.path() / "all-labels";
    fs::create_directories(labels);
    fs::create_directories(all);
    DumpOf(tk1.toStdString(), false, "", all.string());
    Page().Clicks->SetSpan(
        {test::kDay0Us + 10 * test::kHourUs, test::kDay0Us + 11 * test::kHourUs});
    script.directoryAnswer = QString::fromStdString(labels.string());
    EXPECT_TRUE(Page().ExportSpan(ExportFormat::Audacity));
    EXPECT_FALSE(fs::exists(labels / "SiteA.20240611080030.txt"));
    EXPECT_EQ(TextOf(labels / "SiteA.20240611100210.txt"),
              TextOf(all / "SiteA.20240611100210.txt"));

    // A span of no click writes nothing and says so.
    Page().Clicks->SetSpan({test::kDay0Us + 3 * test::kHourUs, test::kDay0Us + 4 * test::kHourUs});
    fs::remove_all(labels);
    fs::create_directories(labels);
    EXPECT_FALSE(Page().ExportSpan(ExportFormat::Audacity));
    EXPECT_EQ(log.messages.last(), "No click to export.");
    EXPECT_TRUE(fs::is_empty(labels));
}

TEST_F(ResultsPageTest, DamagedAndForeignFilesAreNamedAndTheRestOpen) {
    const std::string cut = (dir.path() / "SiteA 2024 06 12.TK1").string();
    fs::copy_file(tk1.toStdString(), cut);
    fs::resize_file(cut, fs::file_size(cut) - 20);
    const std::string wav = (dir.path() / "rec.wav").string();
    wtk::test::WriteFileBytes(wav, std::vector<uint8_t>(2000, 0));
    {
        std::FILE* f = std::fopen(wav.c_str(), "r+b");
        std::fwrite("RIFF\0\0\0\0WAVEfmt ", 1, 16, f);
        std::fclose(f);
    }
    OpenFromMenu({tk1, QString::fromStdString(cut), QString::fromStdString(wav)});
    ASSERT_EQ(log.messages.size(), 1);
    const QStringList lines = log.messages[0].split('\n');
    ASSERT_EQ(lines.size(), 3) << log.messages.join("#").toStdString();
    EXPECT_EQ(lines[0], "Not opened (2):");
    EXPECT_TRUE(lines[1].startsWith(QString::fromStdString(cut) + ": ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QString::fromStdString(wav) + ": is not a TK1 file"))
        << lines[2].toStdString();
    ASSERT_EQ(Page().Locations().size(), 1u);  // SiteA with its sound file
    EXPECT_EQ(Page().Locations()[0]->Clicks.size(), 81u);

    // Nothing that opens: what was open stays open.
    OpenFromMenu({QString::fromStdString(cut)});
    EXPECT_EQ(log.messages.last(), "Not opened (1):\n" + lines[1] + "\nNothing else to open.");
    EXPECT_EQ(Page().Locations().size(), 1u);
}

TEST_F(ResultsPageTest, TK1FilesDroppedOnTheWindowOpenOnTheResultsPage) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(tk1)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Cv.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Cv.get(), &dropped);
    EXPECT_EQ(Cv->Pages->currentWidget(), Cv->Results);
    ASSERT_NE(Page().Current(), nullptr);
    EXPECT_EQ(Page().Current()->Name, "SiteA");
    EXPECT_EQ(Cv->session().NofWAVfilesFound, 0);  // nothing selected for a conversion

    // A folder dropped on the Results page opens its TK1 files too.
    Page().Open({});
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path().string()))});
    QDropEvent droppedFolder(QPointF(5, 5), Qt::CopyAction, &folder, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Cv.get(), &droppedFolder);
    EXPECT_EQ(Page().Locations().size(), 1u);
    EXPECT_EQ(Cv->session().NofWAVfilesFound, 0);
}

}  // namespace
}  // namespace wtk::ui
