// Whole conversions driven through the window, with the dialogs answered by a test double.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "input/selection.h"
#include "synth/archive_formats.h"
#include "synth/synth.h"
#include "temp_dir.h"
#include "ui/clickable_label.h"
#include "ui/main_window.h"
#include "ui/settings_window.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

namespace fs = std::filesystem;

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        fs::create_directories(in.path());
        synth::ExampleOptions options;
        options.SampleRate = 384000;
        options.Seconds = 4;
        for (const synth::ExampleFile& f : synth::ExampleArchive(options)) {
            const std::string path = (in.path() / f.Name).string();
            synth::WriteWav(path, f.Spec);
            files << QString::fromStdString(path);
        }
        files.sort();
        Cv = StartUp(std::make_unique<test::FakeDialogs>(script, log));
        Cv->KsamplesPerSecEdit->setText("384");
        script.openAnswer = files;
        script.saveDirectory = QString::fromStdString(out.path().string());
    }

    void Select() {
        Cv->SelectBatchBtn->click();
        ASSERT_EQ(Cv->session().NofWAVfilesFound, files.size())
            << log.messages.join("|").toStdString();
    }
    std::vector<fs::path> Outputs(const std::string& extension) {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(out.path()))
            if (e.path().extension() == extension) found.push_back(e.path());
        std::sort(found.begin(), found.end());
        return found;
    }
    int CountColour(QRgb colour) {
        const QImage& img = Cv->GraphBox->Image();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y) == colour;
        return n;
    }

    wtk::test::TempDir in;
    wtk::test::TempDir out;
    QStringList files;
    test::FakeDialogs::Script script;
    test::FakeDialogs::Log log;
    std::unique_ptr<TCv> Cv;
};

TEST_F(ConversionTest, PerLocationConversionRunsInTheWindow) {
    Select();
    EXPECT_EQ(Cv->BigLbl->text(), "3 WAV files in 2 name groups");
    EXPECT_EQ(Cv->FilesMemo->toPlainText().split('\n').size(), 6 + 1 + 3);

    Cv->ViewSettingsLblClick();
    ASSERT_TRUE(Cv->SetFm()->isVisible());
    Cv->ConvertBatchBtn->click();
    EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join("|").toStdString();
    EXPECT_FALSE(Cv->SetFm()->isVisible());  // the per-location conversion hides it
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to show advanced settings");
    EXPECT_EQ(Cv->session().LastOutcome, Session::Outcome::Done);
    ASSERT_EQ(log.suggestedNames.size(), 1);
    EXPECT_TRUE(log.suggestedNames[0].startsWith("NewFileName HARBOUR "));

    EXPECT_EQ(Outputs(".TK1").size(), 2u);
    EXPECT_EQ(Outputs(".txt").size(), 2u);  // source linkage files
    const QStringList data = Cv->DataMemo->toPlainText().split('\n');
    ASSERT_EQ(data.size(), 3);
    EXPECT_EQ(data[0], "TK1BriefName\tNofWavFiles\tcompression");
    EXPECT_TRUE(data[1].startsWith("NewFileNameHARBOUR "));
    const QStringList minutes = Cv->DATA2Memo->toPlainText().split('\n');
    EXPECT_EQ(minutes[0], "MinsInThisTK1File\tClicksThisMin\tAdjustedDeadBand\tCurrentAmpScaler");
    EXPECT_EQ(Cv->windowTitle(), files.last());  // the caption names the file converted last
    EXPECT_EQ(Cv->ProgressLbl->text(), "3 .wav files converted");
    EXPECT_FALSE(Cv->session().Busy);
    EXPECT_TRUE(Cv->ConvertBatchBtn->isEnabled());
    EXPECT_TRUE(Cv->QueryEndSession());

    // The three traces of the last block are in the graph area.
    EXPECT_GT(CountColour(qRgb(0, 255, 0)), 0);
    EXPECT_GT(CountColour(qRgb(255, 0, 0)), 0);
    EXPECT_GT(CountColour(qRgb(255, 255, 255)), 0);
    EXPECT_TRUE(Cv->AmpScaleBarShape->isVisibleTo(Cv.get()));
}

// What is in force when a conversion starts is what it uses: a pattern typed after the files
// were selected dates the output, and a rate taken from the headers gives the list's durations
// at once.
TEST_F(ConversionTest, APatternTypedAfterSelectingDatesTheOutput) {
    synth::RecordingSpec spec;
    spec.SampleRate = 384000;
    spec.Seconds = 2;
    const std::string path = (in.path() / "rec_2021-06-10_03-36-55.wav").string();
    synth::WriteWav(path, spec);
    script.openAnswer = QStringList{QString::fromStdString(path)};
    Cv->KsamplesPerSecEdit->setText("576");
    script.yesNoAnswer = true;  // take 384 k from the header
    Cv->SelectBatchBtn->click();
    EXPECT_EQ(Cv->KsamplesPerSecEdit->text(), "384");
    EXPECT_TRUE(Cv->FilesMemo->toPlainText().split('\n').last().contains("\t2.00\t"))
        << Cv->FilesMemo->toPlainText().toStdString();
    EXPECT_FALSE(Cv->session().WavFileRecs[0].DateFound);

    Cv->NameDatePatternEdit->setText("rec_%Y-%m-%d_%H-%M-%S");
    Cv->TimeSourceCombo->setCurrentIndex(1);  // the name's time
    Cv->ExactStart->setChecked(true);
    Cv->ConvertBatchBtn->click();
    EXPECT_EQ(Cv->session().LastOutcome, Session::Outcome::Done);
    const auto tk1 = Outputs(".TK1");
    ASSERT_EQ(tk1.size(), 1u);
    EXPECT_TRUE(tk1[0].filename().string().ends_with(" 2021 06 10.TK1")) << tk1[0];
    const WavFileRec& rec = Cv->session().WavFileRecs[0];
    EXPECT_EQ(rec.StartTime.Source, TimeSource::Pattern);
    EXPECT_EQ(rec.Start.Second, 55);        // placed at its start second
    ASSERT_EQ(Outputs(".csv").size(), 1u);  // the recordings table
}

// The bundled example converted through the window: the progress bar climbs file by file,
// never back, to 100 % at the end, with the file, the speed and the time left as its text.
TEST_F(ConversionTest, ProgressBarReachesTheEndOfTheBundledExample) {
    wtk::test::TempDir example;
    fs::create_directories(example.path());
    for (const synth::ExampleFile& f : synth::ExampleArchive())
        synth::WriteWav((example.path() / f.Name).string(), f.Spec);
    Cv->KsamplesPerSecEdit->setText("576");
    Cv->ShowGraphs->setChecked(false);
    QProgressBar* bar = Cv->BatchProgressBar;
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->text(), "");
    EXPECT_EQ(bar->parentWidget(), Cv->ControlPanel);
    EXPECT_GT(bar->y(), Cv->ProgressLbl->geometry().bottom());  // between the label and the memos
    EXPECT_LT(bar->geometry().bottom(), Cv->DataMemo->y());
    Cv->DropPaths({QString::fromStdString(example.path().string())});
    ASSERT_EQ(Cv->session().NofWAVfilesFound, 3);

    std::vector<int> values;
    QStringList texts;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
        values.push_back(v);
        texts << bar->text();
    });
    Cv->ConvertBatchBtn->click();
    ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done);
    EXPECT_EQ(Cv->ProgressLbl->text(), "3 .wav files converted");
    ASSERT_GE(values.size(), 6u);  // minute ends and file ends of three 90-second files
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.back(), bar->maximum());
    EXPECT_LT(values[values.size() - 2], bar->maximum());
    EXPECT_TRUE(texts
                    .filter(QRegularExpression(
                        "^[1-9][0-9]? %, file 2 of 3, [0-9]+x, ETA [0-9]+:[0-5][0-9]$"))
                    .size() > 0)
        << texts.join("|").toStdString();
    EXPECT_TRUE(QRegularExpression("^100 %, file 3 of 3, [0-9]+x, done in [0-9]+:[0-5][0-9]$")
                    .match(bar->text())
                    .hasMatch())
        << bar->text().toStdString();
    EXPECT_TRUE(bar->toolTip().startsWith("done: 4.5 min of audio in "))
        << bar->toolTip().toStdString();
}

// Dropping a folder selects the WAV files of its tree as the select button does with the
// same boxes, without asking; dropped files are taken as the file dialog takes them. Only
// local WAV files and folders are accepted, and nothing while a command runs.
TEST_F(ConversionTest, DroppedFoldersAndFilesAreSelected) {
    fs::create_directories(in.path() / "sub");
    fs::rename(files[0].toStdString(),
               in.path() / "sub" / fs::path(files[0].toStdString()).filename());
    wtk::test::WriteFileBytes(in / "notes.txt", std::vector<uint8_t>(2000, 'x'));
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(Cv.get(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(Cv.get(), &dropped);
        return dropped.isAccepted();
    };
    const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(in.path().string()));
    const QUrl text = QUrl::fromLocalFile(QString::fromStdString(in / "notes.txt"));

    Cv->SearchDirectories->setChecked(true);
    Cv->ViewSettingsLblClick();
    ASSERT_TRUE(drop({folder, text}));
    EXPECT_FALSE(Cv->SetFm()->isVisible());
    EXPECT_EQ(Cv->session().NofWAVfilesFound, 3);
    EXPECT_EQ(Cv->BigLbl->text(), "3 WAV files in 2 name groups");
    EXPECT_TRUE(log.questions.isEmpty());
    EXPECT_TRUE(log.titles.isEmpty());
    const QStringList lines = Cv->FilesMemo->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 6 + 1 + 3);
    EXPECT_TRUE(lines[7].contains("HARBOUR"));
    EXPECT_TRUE(lines[7].contains("/sub/"));  // found in the sub-folder
    EXPECT_FALSE(Cv->FilesMemo->toPlainText().contains("notes.txt"));

    // Files, with the date box unticked: one group, in the order dropped.
    Cv->UseFileNameDateTimes->setChecked(false);
    ASSERT_TRUE(drop({QUrl::fromLocalFile(files[2]), QUrl::fromLocalFile(files[1])}));
    EXPECT_EQ(Cv->session().NofWAVfilesFound, 2);
    EXPECT_EQ(Cv->BigLbl->text(), "2 WAV files, all in one name group");
    const QStringList listed = Cv->FilesMemo->toPlainText().split('\n');
    EXPECT_TRUE(listed[listed.size() - 2].contains(files[2]));
    EXPECT_TRUE(listed.last().contains(files[1]));

    EXPECT_FALSE(drop({text}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://www.example.org/a.wav"))}));
    Cv->session().Busy = true;
    EXPECT_FALSE(drop({folder}));
    Cv->session().Busy = false;
    EXPECT_EQ(Cv->session().NofWAVfilesFound, 2);
    EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join("|").toStdString();
}

// Archive forms in the window: a dropped folder's FLAC file is found, the files that need a
// choice are asked about (samples to 16 bits, which channel), and each converts to the bytes
// of the 16-bit mono WAV file holding the samples of its channel; a new selection asks again.
TEST_F(ConversionTest, FlacFilesAndFilesNeedingChoicesConvertAfterTheQuestions) {
    const fs::path archive = in.path() / "archive";
    fs::create_directories(archive);
    const synth::RecordingSpec spec{
        .SampleRate = 384000,
        .Seconds = 1.5,
        .NoiseRms = 5,
        .Trains = {{.StartSec = 0.2, .Clicks = 15, .PeakAmplitude = 4000}}};
    const std::string wav = (in.path() / "A.20230517140000.wav").string();
    synth::WriteWav(wav, spec);
    const std::string stereo = (archive / "C.20230517140000.wav").string();
    synth::WriteWav(stereo, spec, {}, {}, {synth::SampleStore::Pcm24, 2, 2});
    synth::WavToFlac(stereo, (archive / "B.20230517140000.flac").string(), true);
    Cv->ShowGraphs->setChecked(false);
    Cv->UseFileNameDateTimes->setChecked(true);
    script.yesNoAnswer = true;
    script.choiceAnswer = 1;  // channel 2
    Cv->DropPaths({QString::fromStdString(archive.string())});
    ASSERT_EQ(Cv->session().NofWAVfilesFound, 2);
    ASSERT_EQ(log.questions.size(), 2);
    EXPECT_TRUE(
        log.questions[0].endsWith("as a 16-bit recorder of the same full scale would have "
                                  "written them?"))
        << log.questions[0].toStdString();
    EXPECT_TRUE(
        log.questions[1].endsWith("Which channel should be converted?\nChannel 1|Channel 2"))
        << log.questions[1].toStdString();
    EXPECT_TRUE(Cv->FilesMemo->toPlainText().contains("B.20230517140000.flac"));
    Cv->ConvertBatchBtn->click();
    ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done)
        << log.messages.join("|").toStdString();
    EXPECT_EQ(log.questions.size(), 2) << "nothing more asked before converting";

    // The WAV file converted alone gives the same TK1 bytes, apart from the clock.
    const auto tk1 = Outputs(".TK1");
    ASSERT_EQ(tk1.size(), 2u);
    const fs::path reference = out.path() / "reference";
    fs::create_directories(reference);
    script.saveDirectory = QString::fromStdString(reference.string());
    Cv->DropPaths({QString::fromStdString(wav)});
    EXPECT_FALSE(Cv->session().Controls.ToSixteenBit) << "the choices are asked of each selection";
    Cv->ConvertBatchBtn->click();
    ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done);
    auto bytes = [](const fs::path& p) {
        std::vector<uint8_t> b = wtk::test::ReadFileBytes(p.string());
        if (b.size() >= 268) std::fill(b.begin() + 264, b.begin() + 268, 0);
        return b;
    };
    const std::vector<uint8_t> expected = bytes(reference / "NewFileNameA 2023 05 17.TK1");
    EXPECT_TRUE(bytes(out.path() / "NewFileNameB 2023 05 17.TK1") == expected);
    EXPECT_TRUE(bytes(out.path() / "NewFileNameC 2023 05 17.TK1") == expected);
}

TEST_F(ConversionTest, StopAndMemoButtonsWorkWhileNestedCommandsAreRefused) {
    Select();
    Cv->ShowGraphs->setChecked(false);
    struct Seen {
        bool ran = false, convertEnabled = true, selectEnabled = true, rateEnabled = true;
        bool queryAllowed = true, settingsShown = false;
        QString clipboard;
    } seen;
    QTimer::singleShot(0, Cv.get(), [&] {  // runs at the first event point of the batch
        seen.ran = true;
        seen.convertEnabled = Cv->ConvertBatchBtn->isEnabled();
        seen.selectEnabled = Cv->SelectBatchBtn->isEnabled();
        seen.rateEnabled = Cv->KsamplesPerSecEdit->isEnabled();
        seen.queryAllowed = Cv->QueryEndSession();
        Cv->ConvertBatchBtnClick();
        Cv->MakeScrapbookBtnClick();
        Cv->SelectBatchBtnClick();
        Cv->ViewSettingsLblClick();
        seen.settingsShown = Cv->SetFm()->isVisible();
        Cv->CopyDataToClip->click();
        seen.clipboard = QGuiApplication::clipboard()->text();
        Cv->StopBtn->click();
    });
    Cv->ConvertBatchBtn->click();
    ASSERT_TRUE(seen.ran);
    EXPECT_FALSE(seen.convertEnabled);
    EXPECT_FALSE(seen.selectEnabled);
    EXPECT_FALSE(seen.rateEnabled);
    EXPECT_FALSE(seen.queryAllowed);
    EXPECT_FALSE(seen.settingsShown);
    EXPECT_TRUE(seen.clipboard.startsWith("MinsInThisTK1File"));
    EXPECT_EQ(log.suggestedNames.size(), 1);  // no nested batch
    EXPECT_EQ(log.titles.size(), 1);          // no nested selection
    EXPECT_EQ(Cv->BigLbl->text(), "File conversion stopped at file 1");
    EXPECT_EQ(Cv->ProgressLbl->text(), "0 .wav files converted");
    EXPECT_EQ(Outputs(".TK1").size(), 1u);
    EXPECT_TRUE(Cv->ConvertBatchBtn->isEnabled());
    // With graphs off nothing was drawn.
    EXPECT_EQ(CountColour(qRgb(0, 0, 0)), Cv->GraphBox->width() * Cv->GraphBox->height());
    EXPECT_TRUE(Cv->AmpScaleBarShape->isHidden());
}

TEST_F(ConversionTest, ClosingTheWindowMidBatchFinishesTheOpenTK1File) {
    Select();
    Cv->ShowGraphs->setChecked(false);
    Cv->show();
    QTimer::singleShot(0, Cv.get(), [&] { Cv->close(); });
    Cv->ConvertBatchBtn->click();
    EXPECT_FALSE(Cv->isVisible());
    EXPECT_EQ(Cv->BigLbl->text(), "File conversion stopped at file 1");
    const std::vector<fs::path> tk1 = Outputs(".TK1");
    ASSERT_EQ(tk1.size(), 1u);
    const std::vector<uint8_t> bytes = wtk::test::ReadFileBytes(tk1[0].string());
    ASSERT_GE(bytes.size(), 1024u + 16u);
    EXPECT_EQ(bytes[bytes.size() - 16], 255);  // ends with the end record
    Cv.reset();                                // FormDestroy with nothing left open
}

// The same files and settings give the same bytes from the window as from the command-line
// tool, apart from the finalisation time in the header.
class CliIdentityTest : public ConversionTest {
protected:
    void ExpectSameAsCli(const QStringList& cliArguments) {
#ifndef WTK_CLI_PATH
        GTEST_SKIP() << "wavtokeb-cli is not part of this build";
#else
        wtk::test::TempDir cliOut;
        QStringList args = cliArguments;
        args << "--rate"
             << "384"
             << "--out" << QString::fromStdString(cliOut.path().string());
        args << files;
        QProcess cli;
        cli.start(QStringLiteral(WTK_CLI_PATH), args);
        ASSERT_TRUE(cli.waitForFinished(120000));
        ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();

        const std::vector<fs::path> mine = Outputs(".TK1");
        ASSERT_FALSE(mine.empty());
        size_t compared = 0;
        for (const auto& e : fs::directory_iterator(cliOut.path())) {
            const fs::path ours = out.path() / e.path().filename();
            ASSERT_TRUE(fs::exists(ours)) << e.path().filename();
            std::vector<uint8_t> a = wtk::test::ReadFileBytes(ours.string());
            std::vector<uint8_t> b = wtk::test::ReadFileBytes(e.path().string());
            if (e.path().extension() == ".TK1") {
                ASSERT_GE(a.size(), 268u);
                ASSERT_GE(b.size(), 268u);
                for (size_t i = 264; i < 268; ++i) a[i] = b[i] = 0;  // finalisation time
            }
            EXPECT_TRUE(a == b) << e.path().filename();
            ++compared;
        }
        EXPECT_EQ(compared, static_cast<size_t>(std::distance(fs::directory_iterator(out.path()),
                                                              fs::directory_iterator())));
#endif
    }
};

TEST_F(CliIdentityTest, PerLocationConversionWithAPresetAndAnEditedControl) {
    Select();
    Cv->ShowGraphs->setChecked(false);
    qobject_cast<QPushButton*>(Cv->SetFm()->PresetButton(1))->click();  // severe noise
    auto* cyc = qobject_cast<QLineEdit*>(Cv->SetFm()->Control("MinNcycFedit"));
    cyc->setText("4");
    Cv->ConvertBatchBtn->click();
    ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done);
    ExpectSameAsCli({"convert", "--preset", "severe", "--set", "MinNcycFedit=4"});
}

TEST_F(CliIdentityTest, ScrapbookWithoutLinkageFiles) {
    Select();
    Cv->ShowGraphs->setChecked(false);
    Cv->MakeSourceLinkageFile->setChecked(false);
    Cv->AddedSiteNameEdit->setText("Bay");
    Cv->ViewSettingsLblClick();
    Cv->MakeScrapbookBtn->click();
    ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done);
    EXPECT_TRUE(Cv->SetFm()->isVisible());  // the scrapbook leaves the settings window open
    ASSERT_EQ(Outputs(".txt").size(), 0u);
    ExpectSameAsCli({"scrapbook", "--no-linkage", "--site", "Bay"});
}

// Where a cell of a memo's line begins, in pixels: the character after the line's n-th tab.
qreal CellX(QPlainTextEdit* memo, const QString& line, int n) {
    const QTextBlock block = memo->document()->find(line).block();
    EXPECT_TRUE(block.isValid()) << line.toStdString();
    memo->document()->documentLayout()->blockBoundingRect(block);  // laid out now
    int at = -1;
    for (int k = 0; k < n; ++k) at = static_cast<int>(line.indexOf(u'\t', at + 1));
    return block.layout()->lineAt(0).cursorToX(at + 1);
}

// Files that need choices: the questions first, then the list once, at the rate taken from
// their headers, each line naming the TK1 file it goes into under its heading; the summary
// memo shows the whole line of each TK1 file.
TEST_F(ConversionTest, TheFileListIsShownOnceInColumnsAndTheSummaryWhole) {
    const fs::path archive = in.path() / "flac";
    fs::create_directories(archive);
    const synth::RecordingSpec spec{
        .SampleRate = 384000, .Seconds = 1.5, .NoiseRms = 5, .Trains = {}};
    const std::string stereo = (in.path() / "stereo.wav").string();
    synth::WriteWav(stereo, spec, {}, {}, {synth::SampleStore::Pcm24, 2, 2});
    synth::WavToFlac(stereo, (archive / "B.20230517140000.flac").string(), false);
    synth::WavToFlac(stereo, (archive / "B.20230517140100.flac").string(), false);
    Cv->KsamplesPerSecEdit->setText("576");
    Cv->ShowGraphs->setChecked(false);
    script.yesNoAnswer = true;  // to 16 bits, and the headers' rate
    script.choiceAnswer = 0;
    Cv->FilesMemo->clear();
    Cv->DropPaths({QString::fromStdString(archive.string())});
    ASSERT_EQ(Cv->session().NofWAVfilesFound, 2);
    ASSERT_EQ(log.questions.size(), 3) << log.questions.join("|").toStdString();
    EXPECT_EQ(Cv->KsamplesPerSecEdit->text(), "384");
    const QStringList lines = Cv->FilesMemo->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 3) << Cv->FilesMemo->toPlainText().toStdString();
    const QString header = QString::fromStdString(FilesMemoHeader());
    EXPECT_EQ(lines[0], header);
    for (int k = 1; k <= 2; ++k) {
        const QStringList cells = lines[k].split(u'\t');
        ASSERT_EQ(cells.size(), 6);
        EXPECT_EQ(cells[2], "1.50") << "the duration at 384 k samples/s";
        EXPECT_EQ(cells[5], "NewFileNameB 2023 05 17.TK1");
        for (int n = 1; n <= 5; ++n) {
            EXPECT_EQ(CellX(Cv->FilesMemo, lines[k], n), CellX(Cv->FilesMemo, header, n))
                << "cell " << n << " of line " << k;
        }
    }

    Cv->ConvertBatchBtn->click();
    ASSERT_EQ(Cv->session().LastOutcome, Session::Outcome::Done)
        << log.messages.join("|").toStdString();
    const QStringList summary = Cv->DataMemo->toPlainText().split(u'\n');
    ASSERT_EQ(summary.size(), 2);
    EXPECT_TRUE(summary[1].startsWith("NewFileNameB 2023 05 17.TK1\t2\t"));
    const QTextBlock last = Cv->DataMemo->document()->lastBlock();
    Cv->DataMemo->document()->documentLayout()->blockBoundingRect(last);
    const QTextLayout* layout = last.layout();
    const QTextLine end = layout->lineForTextPosition(last.length() - 1);
    EXPECT_LE(end.cursorToX(last.length() - 1), Cv->DataMemo->viewport()->width())
        << "the compression figure is in view";
    EXPECT_EQ(CellX(Cv->DataMemo, summary[1], 1), CellX(Cv->DataMemo, summary[0], 1));
}

}  // namespace
}  // namespace wtk::ui
