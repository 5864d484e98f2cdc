// The main window and the settings window: start-up state, the settings link, presets, the
// model kept in step with the widgets, memo and clipboard commands, refusals while busy.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <memory>

#include "session/progress.h"
#include "settings/settings_form.h"
#include "temp_dir.h"
#include "ui/clickable_label.h"
#include "ui/settings_window.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        Cv = StartUp(std::make_unique<test::FakeDialogs>(script, log));
    }
    QLineEdit* SetEdit(const char* name) {
        return qobject_cast<QLineEdit*>(Cv->SetFm()->Control(name));
    }
    const std::string& Model(const char* name) { return Cv->session().SetFm.Get(name); }
    QStringList Lines(QPlainTextEdit* memo) { return memo->toPlainText().split(QLatin1Char('\n')); }

    test::FakeDialogs::Script script;
    test::FakeDialogs::Log log;
    std::unique_ptr<TCv> Cv;
};

TEST_F(MainWindowTest, StartsWithTheNoticeAndTheDefaults) {
    EXPECT_EQ(QApplication::applicationName(), QStringLiteral("WAVtoKEB"));
    EXPECT_EQ(Cv->windowTitle(),
              QStringLiteral("Convert 16bit  .wav files to virtual Tkeb  .TK1 files"));
    const QStringList notice = Lines(Cv->FilesMemo);
    ASSERT_EQ(notice.size(), 6);
    EXPECT_EQ(notice[0], "This software converts .wav files to virtual TKEB  .TK1 files");
    EXPECT_EQ(notice[1],
              "It does not produce what an T-KEB would have produced - T-KEBs sample at 1MHz.");
    EXPECT_EQ(notice[2],
              "The VESKA-T classifier results from virtual TKEB  .TK1 files may be very bad!!");
    EXPECT_EQ(notice[3], "The value is in showing where click trains may exist in your .wav files");
    // Built, not installed: the README of the sources.
    EXPECT_EQ(notice[4], "More information will be placed on " WTK_SOURCE_README);
    EXPECT_EQ(notice[5], "");
    EXPECT_TRUE(Cv->UseFileNameDateTimes->isChecked());
    EXPECT_FALSE(Cv->SearchDirectories->isChecked());
    EXPECT_TRUE(Cv->ShowGraphs->isChecked());
    EXPECT_TRUE(Cv->MakeSourceLinkageFile->isChecked());
    EXPECT_TRUE(Cv->DataMemo->toPlainText().isEmpty());
    EXPECT_TRUE(Cv->DATA2Memo->toPlainText().isEmpty());
    for (QPlainTextEdit* memo : {Cv->FilesMemo, Cv->DataMemo, Cv->DATA2Memo}) {
        EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
        EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }

    // The settings window exists, hidden, with the "normal operation" preset applied.
    ASSERT_NE(Cv->SetFm(), nullptr);
    EXPECT_FALSE(Cv->SetFm()->isVisible());
    EXPECT_EQ(Cv->SetFm()->windowTitle(), "Settings for virtual T-KEB");
    EXPECT_EQ(SetEdit("Strong1Edit")->text(), "25");
    EXPECT_EQ(SetEdit("MinNcycFedit")->text(), "5");
    EXPECT_EQ(Cv->session().AppliedSettings().WorkingStrongLimit4, 100);
    EXPECT_EQ(Cv->session().AppliedSettings().DeadBandSetting, 10);
    EXPECT_TRUE(Cv->session().Rate().Valid);
    EXPECT_EQ(Cv->session().Rate().SamplesPerSec, 576000);
    EXPECT_TRUE(log.messages.isEmpty());

    // Notes box and fixed texts come from the settings model.
    const QStringList notes = Lines(Cv->SetFm()->NotesBox);
    ASSERT_EQ(notes.size(), static_cast<qsizetype>(SettingsForm::NotesLines().size()));
    EXPECT_EQ(notes[13].toStdString(), SettingsForm::NotesLines()[13]);
}

// Every caption, initial text and hint of the two panels, blanks included.
TEST_F(MainWindowTest, CaptionsAndHintsOfBothPanels) {
    struct Expected {
        QWidget* control;
        const char* text;
        const char* hint;
    };
    const Expected table[] = {
        {Cv->BigLbl, "No files selected", ""},
        {Cv->StopBtn, "STOP", "processed data is retained."},
        {Cv->Label9, "1.    Sample rate k/s :", "  All files must have this sample rate"},
        {Cv->KsamplesPerSecEdit, "576", " sample rate as thousands of samples per second"},
        {Cv->Label8, "2.    Site name / logger ID (for KEB file name) :",
         "This prefix applies to the vTkeb file that will be created"},
        {Cv->AddedSiteNameEdit, "NewFileName", ""},
        {Cv->LoggerNumberEdit, "Logger ID number",
         "  This is the instrument number.  Max value is 4,294,967,296!"},
        {Cv->Label5, "3.    ", ""},
        {Cv->UseFileNameDateTimes, "Get Date/time from file name", ""},
        {Cv->Label10, "4.", ""},
        {Cv->SelectBatchBtn, "Select WAV files",
         "This program works correctly with 16bit  .wav  files sampled at 384k with filename "
         "format = LocationOrInstrumentNumber.yyyymmddhhmmss.wav.  The scrapbook option handles "
         "other name formats"},
        {Cv->SearchDirectories, "Search directories",
         "  this enables you to process all the *.wav files in a directory, and all its "
         "subdirectories.  You only select the directory."},
        {Cv->ViewSettingsLbl, "5.    Click to view advanced settings (optional)", ""},
        {Cv->Label2, "6.    Proceed with one of these:", ""},
        {Cv->ConvertBatchBtn, "Create vTkeb files for each location",
         "Creates a single *.TK1 file from all the *.wav files selected. Separate files are "
         "created for each location or intrument identifier in the file names, and the data time "
         "is taken from the filename. The TK1 files can be viewed in RKEB.exe"},
        {Cv->MakeScrapbookBtn, "Create a single 'vTkeb scrapbook' file",
         "Creates a single *.TK1 file from all the *.wav files selected, putting each one in a "
         "new minute.  This file can be viewed in RKEB.exe"},
        {Cv->ShowGraphs, " show graphs", ""},
        {Cv->ProgressLbl, "...", ""},
        {Cv->MakeSourceLinkageFile, "Make source linkage file",
         "This creates a text file listing all the wav files. It enables you, in Nyctar.exe, to "
         "instantly find the wav file that was the source of the data you are viewing in the "
         "virtual Nyctar file (in high resolution)"},
        {Cv->CopyDataToClip, "Copy To clipboard", ""},
        {Cv->ClearDataMemo, "Clear Memos", ""},
        {Cv->CopyFilesMemoToClip, "Copy list to clipboard", ""},
        {Cv->ClearFilesMemo, "Clear Memo", ""},
        {Cv->FilesMemo, nullptr,
         "These data can be pasted directly into a spreadsheet or document from the clipboard."},
        {Cv->Label1, "_______ .wav file data         ",
         "this is the raw data from the .wav file. Initial zeroes are skipped."},
        {Cv->Label3, "_______ high pass filtered                 ",
         "The data after filtering to remove low frequency noise"},
        {Cv->Label4, "_______ band pass filtered * scaler   ",
         "the data after further filtering to remove high frequency noise"},
        {Cv->GraphBox, nullptr,
         "Graphs here show the data at the start of the wav file. Expand the width of the window "
         "to view a longer series. The Y axis is adjusted automatically to show the largest "
         "amplitude in the actual data as full height on the screen."},
    };
    for (const Expected& e : table) {
        ASSERT_NE(e.control, nullptr);
        SCOPED_TRACE(e.text != nullptr ? e.text : e.hint);
        if (e.text != nullptr) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(e.control)) text = label->text();
            if (auto* button = qobject_cast<QAbstractButton*>(e.control)) text = button->text();
            if (auto* edit = qobject_cast<QLineEdit*>(e.control)) text = edit->text();
            EXPECT_EQ(text.toStdString(), e.text);
        }
        EXPECT_EQ(e.control->toolTip().toStdString(), e.hint);
    }
    // The red progress label, and the legends: 20 pixels high at top 4 on black in their
    // trace's colour, where the window definition put them when the window has its design size.
    EXPECT_EQ(Cv->ProgressLbl->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    Cv->FormResize(TCv::kDesignClientWidth, TCv::kDesignClientHeight);
    const struct {
        QLabel* label;
        QRect geometry;
        QColor colour;
    } legends[] = {{Cv->Label1, QRect(309, 4, 138, 20), QColor(0, 255, 0)},
                   {Cv->Label3, QRect(444, 4, 167, 20), QColor(255, 0, 0)},
                   {Cv->Label4, QRect(607, 4, 184, 20), QColor(255, 255, 255)}};
    for (const auto& l : legends) {
        EXPECT_EQ(l.label->parentWidget(), Cv->ResultsPanel);
        EXPECT_EQ(l.label->geometry(), l.geometry);
        EXPECT_EQ(l.label->palette().color(QPalette::WindowText), l.colour);
        EXPECT_EQ(l.label->palette().color(QPalette::Window), QColor(0, 0, 0));
        EXPECT_TRUE(l.label->autoFillBackground());
    }
}

TEST_F(MainWindowTest, WindowIsAsWideAsTheScreenLess40AtTheTopLeft) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen->geometry().width();
    EXPECT_EQ(Cv->width(), screenWidth - 40);
    EXPECT_EQ(Cv->pos(), screen->availableGeometry().topLeft());
    EXPECT_EQ(Cv->HiResSamplesLength(), (screenWidth - 263) / 2);
}

TEST_F(MainWindowTest, SettingsLinkAndLabel5ShowAndHideTheSettingsWindow) {
    TSetFm* SetFm = Cv->SetFm();
    QTest::mouseClick(Cv->ViewSettingsLbl, Qt::LeftButton);
    EXPECT_TRUE(SetFm->isVisible());
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to hide advanced settings");
    QTest::mouseClick(Cv->ViewSettingsLbl, Qt::LeftButton);
    EXPECT_FALSE(SetFm->isVisible());
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to show advanced settings");

    QTest::mouseClick(Cv->Label5, Qt::LeftButton);  // "3.    " acts like the link
    EXPECT_TRUE(SetFm->isVisible());
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to hide advanced settings");

    // The window's own "Hide" label, and its close button, reset the link caption.
    auto* hide = SetFm->findChild<ClickableLabel*>();
    ASSERT_NE(hide, nullptr);
    EXPECT_EQ(hide->text(), "Hide");
    QTest::mouseClick(hide, Qt::LeftButton);
    EXPECT_FALSE(SetFm->isVisible());
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to show advanced settings");
    Cv->ViewSettingsLblClick();
    SetFm->close();
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to show advanced settings");

    // Selecting files hides it too (here the dialog is cancelled).
    Cv->ViewSettingsLblClick();
    ASSERT_TRUE(SetFm->isVisible());
    Cv->SelectBatchBtn->click();
    EXPECT_FALSE(SetFm->isVisible());
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "4.    Click to show advanced settings");
    EXPECT_EQ(log.messages, QStringList{"No Files selected"});
    EXPECT_EQ(Cv->BigLbl->text(), "No Files selected");
    EXPECT_EQ(log.titles, QStringList{"Select one or more files"});
    EXPECT_EQ(log.filters, QStringList{"Recordings (*.wav *.flac);;WAV files (*.wav);;FLAC files "
                                       "(*.flac);;All files (*)"});
}

TEST_F(MainWindowTest, PresetButtonsFillTheControlsOnly) {
    TSetFm* SetFm = Cv->SetFm();
    auto* severe = qobject_cast<QPushButton*>(SetFm->PresetButton(1));
    ASSERT_NE(severe, nullptr);
    EXPECT_EQ(severe->text(), "severe noise");
    EXPECT_EQ(severe->toolTip().toStdString(), SettingsForm::kSevereHint);
    auto* onOff = qobject_cast<QComboBox*>(SetFm->Control("MinsOnOffFcombo"));
    ASSERT_NE(onOff, nullptr);
    EXPECT_FALSE(onOff->isEnabled());
    onOff->setCurrentIndex(2);  // only a program can move it
    EXPECT_EQ(Model("MinsOnOffFcombo"), "2");

    severe->click();
    EXPECT_EQ(SetEdit("Strong1Edit")->text(), "40");
    EXPECT_EQ(SetEdit("Strong4Edit")->text(), "200");
    EXPECT_EQ(SetEdit("DeadbandEdit")->text(), "20");
    EXPECT_FALSE(qobject_cast<QCheckBox*>(SetFm->Control("UseToughAmpDrop"))->isChecked());
    EXPECT_EQ(qobject_cast<QComboBox*>(SetFm->Control("HighPassFilterCombo"))->currentIndex(), 1);
    EXPECT_EQ(onOff->currentIndex(), 2);  // "severe noise" leaves it
    EXPECT_EQ(Model("Strong1Edit"), "40");
    EXPECT_EQ(Cv->session().AppliedSettings().WorkingStrongLimit1, 25);  // not applied yet

    qobject_cast<QPushButton*>(SetFm->PresetButton(2))->click();  // minimal noise
    EXPECT_EQ(onOff->currentIndex(), 0);
    EXPECT_EQ(SetEdit("DeadbandEdit")->text(), "5");
    EXPECT_EQ(Model("MaxSPLforAmpDropTestEdit"), "1");
}

TEST_F(MainWindowTest, SettingsWidgetsWriteTheModelAndAcceptDigitsOnly) {
    QLineEdit* cyc = SetEdit("MinNcycFedit");
    cyc->clear();
    QTest::keyClicks(cyc, "3a0x07");
    EXPECT_EQ(cyc->text(), "300");  // letters refused, at most 3 digits
    EXPECT_EQ(Model("MinNcycFedit"), "300");
    QLineEdit* limit = SetEdit("IPIFileLineLimitEdit");
    limit->clear();
    QTest::keyClicks(limit, "1234567890");
    EXPECT_EQ(limit->text(), "12345678");
    QLineEdit* scaler = SetEdit("FixedScalerEdit");
    scaler->setText("0.2");
    EXPECT_EQ(Model("FixedScalerEdit"), "0.2");
    qobject_cast<QCheckBox*>(Cv->SetFm()->Control("MakeIPIexportFile"))->setChecked(true);
    EXPECT_EQ(Model("MakeIPIexportFile"), "1");
    auto* radios = Cv->SetFm()->Control("GainControlGroup");
    auto buttons = radios->findChildren<QAbstractButton*>();
    ASSERT_EQ(buttons.size(), 3);
    buttons[1]->click();
    EXPECT_EQ(Model("GainControlGroup"), "1");
}

TEST_F(MainWindowTest, MainControlsModelFollowsTheWidgets) {
    MainControls& c = Cv->session().Controls;
    Cv->AddedSiteNameEdit->setText("Bay");
    EXPECT_EQ(c.AddedSiteNameEdit, "Bay");
    Cv->LoggerNumberEdit->setText("1234");
    EXPECT_EQ(c.LoggerNumberEdit, "1234");
    Cv->NameDatePatternEdit->setText("{location}_%Y%m%d_%H%M%S*");
    EXPECT_EQ(c.NameDatePatternEdit, "{location}_%Y%m%d_%H%M%S*");
    Cv->UseFileNameDateTimes->setChecked(false);
    Cv->SearchDirectories->setChecked(true);
    Cv->ShowGraphs->setChecked(false);
    Cv->MakeSourceLinkageFile->setChecked(false);
    EXPECT_FALSE(c.UseFileNameDateTimes);
    EXPECT_TRUE(c.SearchDirectories);
    EXPECT_FALSE(c.ShowGraphs);
    EXPECT_FALSE(c.MakeSourceLinkageFile);

    // The rate edit takes digits only, and every change recomputes the rate tables.
    Cv->KsamplesPerSecEdit->clear();
    EXPECT_FALSE(Cv->session().Rate().Valid);
    QTest::keyClicks(Cv->KsamplesPerSecEdit, "3k84");
    EXPECT_EQ(Cv->KsamplesPerSecEdit->text(), "384");
    EXPECT_EQ(c.KsamplesPerSecEdit, "384");
    EXPECT_TRUE(Cv->session().Rate().Valid);
    EXPECT_EQ(Cv->session().Rate().SamplesPerSec, 384000);
}

TEST_F(MainWindowTest, MemoAndClipboardCommands) {
    QClipboard* clip = QGuiApplication::clipboard();
    Cv->AppendMemo(Memo::DataMemo, "TK1BriefName\tNofWavFiles\tcompression");
    Cv->AppendMemo(Memo::DATA2Memo, "1\t2\t3\t0.00100");
    Cv->AppendMemo(Memo::DATA2Memo, "2\t0\t10\t0.00100");

    Cv->CopyDataToClip->click();  // only the per-minute memo
    EXPECT_EQ(clip->text(), "1\t2\t3\t0.00100\n2\t0\t10\t0.00100");
    Cv->CopyFilesMemoToClip->click();
    EXPECT_EQ(clip->text(), Cv->FilesMemo->toPlainText());
    EXPECT_TRUE(clip->text().startsWith("This software converts"));

    Cv->ClearDataMemo->click();
    EXPECT_TRUE(Cv->DataMemo->toPlainText().isEmpty());
    EXPECT_TRUE(Cv->DATA2Memo->toPlainText().isEmpty());

    // A double-click copies the file list and empties it.
    clip->setText("something else");
    const QString before = Cv->FilesMemo->toPlainText();
    QTest::mouseDClick(Cv->FilesMemo->viewport(), Qt::LeftButton);
    EXPECT_EQ(clip->text(), before);
    EXPECT_TRUE(Cv->FilesMemo->toPlainText().isEmpty());

    Cv->AppendMemo(Memo::FilesMemo, "x");
    Cv->ClearFilesMemo->click();
    EXPECT_TRUE(Cv->FilesMemo->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, BusyRefusesNestedCommandsAndTheShutdownQuery) {
    EXPECT_TRUE(Cv->QueryEndSession());
    Cv->session().Busy = true;
    Cv->ProcessMessages();  // the window notices Busy at the engine's event points
    EXPECT_FALSE(Cv->QueryEndSession());
    EXPECT_FALSE(Cv->SelectBatchBtn->isEnabled());
    EXPECT_FALSE(Cv->ConvertBatchBtn->isEnabled());
    EXPECT_FALSE(Cv->MakeScrapbookBtn->isEnabled());
    EXPECT_FALSE(Cv->KsamplesPerSecEdit->isEnabled());
    EXPECT_TRUE(Cv->StopBtn->isEnabled());
    EXPECT_TRUE(Cv->CopyDataToClip->isEnabled());

    // Even when reached directly, the handlers do nothing.
    Cv->SelectBatchBtnClick();
    Cv->ConvertBatchBtnClick();
    Cv->MakeScrapbookBtnClick();
    Cv->ViewSettingsLblClick();
    EXPECT_TRUE(log.titles.isEmpty());
    EXPECT_TRUE(log.messages.isEmpty());
    EXPECT_FALSE(Cv->SetFm()->isVisible());
    EXPECT_EQ(Cv->ViewSettingsLbl->text(), "5.    Click to view advanced settings (optional)");

    Cv->StopBtn->click();
    EXPECT_TRUE(Cv->session().STOP);

    Cv->session().Busy = false;
    Cv->session().STOP = false;
    Cv->ProcessMessages();
    EXPECT_TRUE(Cv->QueryEndSession());
    EXPECT_TRUE(Cv->ConvertBatchBtn->isEnabled());
}

TEST_F(MainWindowTest, HelpMenuShowsTheUsageSectionAndTheAboutBox) {
    EXPECT_EQ(Cv->HelpMenu->title(), "&Help");
    ASSERT_EQ(Cv->HelpMenu->actions(), (QList<QAction*>{Cv->UsageAction, Cv->AboutAction}));
    EXPECT_EQ(Cv->UsageAction->shortcut(), QKeySequence(QKeySequence::HelpContents));
    Cv->UsageAction->trigger();
    Cv->AboutAction->trigger();
    ASSERT_EQ(log.documents.size(), 4);
    EXPECT_EQ(log.documents[0], "WAVtoKEB usage");
    const QString& usage = log.documents[1];
    EXPECT_TRUE(usage.startsWith("## Using it\n")) << usage.left(80).toStdString();
    EXPECT_TRUE(usage.contains("wavtokeb-cli convert"));
    EXPECT_FALSE(usage.contains("\n## "));  // it ends before the next section
    EXPECT_FALSE(usage.contains("!["));     // and shows no pictures
    EXPECT_EQ(log.documents[2], "About WAVtoKEB");
    const QString& about = log.documents[3];
    EXPECT_TRUE(about.contains("WAVtoKEB " WTK_VERSION)) << about.toStdString();
    EXPECT_TRUE(about.contains("**Licence:** MIT License")) << about.toStdString();
    EXPECT_TRUE(about.contains(WTK_SOURCE_README)) << about.toStdString();
}

// An installed window names the documentation folder its package installs beside it (however
// the program's folder is spelt); a window run where it was built names the sources' README.
TEST_F(MainWindowTest, DocumentationAddressIsTheInstalledFolderOrTheReadme) {
    wtk::test::TempDir prefix;
    const QString root = QString::fromStdString(prefix.path().string());
    QDir().mkpath(root + "/bin");
    EXPECT_EQ(TCv::DocumentationAddress(root + "/bin"), WTK_SOURCE_README);
    QDir().mkpath(root + "/share/doc/wavtokeb");
    EXPECT_EQ(TCv::DocumentationAddress(root + "/bin"), WTK_SOURCE_README);  // no README there
    QFile readme(root + "/share/doc/wavtokeb/README.md");
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.close();
    EXPECT_EQ(TCv::DocumentationAddress(root + "/bin"), root + "/share/doc/wavtokeb");
    EXPECT_EQ(TCv::DocumentationAddress(root + "/bin/"), root + "/share/doc/wavtokeb");
    EXPECT_EQ(TCv::DocumentationAddress(root + "/share/../bin"), root + "/share/doc/wavtokeb");
}

// Ctrl+O selects, Ctrl+L and Ctrl+B start the two conversions, Esc is STOP (also from an edit);
// while a command runs only Esc does anything.
TEST_F(MainWindowTest, KeysSelectConvertAndStop) {
    Cv->show();
    QApplication::setActiveWindow(Cv.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Cv.get()));
    QTest::keyClick(Cv.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(Cv.get(), Qt::Key_L, Qt::ControlModifier);
    QTest::keyClick(Cv.get(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(log.titles, QStringList{"Select one or more files"});
    EXPECT_EQ(log.messages,
              (QStringList{"No Files selected", "No WAV files listed", "No WAV files found"}));
    EXPECT_FALSE(Cv->session().STOP);

    Cv->session().Busy = true;
    Cv->ProcessMessages();
    log.messages.clear();
    QTest::keyClick(Cv.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(Cv.get(), Qt::Key_L, Qt::ControlModifier);
    QTest::keyClick(Cv.get(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(log.titles.size(), 1);
    EXPECT_TRUE(log.messages.isEmpty());
    Cv->AddedSiteNameEdit->setFocus();
    QTest::keyClick(Cv->AddedSiteNameEdit, Qt::Key_Escape);
    EXPECT_TRUE(Cv->session().STOP);
    Cv->session().Busy = false;
}

// The progress bar's value (bytes done in thousandths, rounded down) and its text.
TEST_F(MainWindowTest, ProgressBarShowsFileSpeedAndTimeLeft) {
    struct Row {
        BatchProgress p;
        int value;
        const char* text;
    };
    const Row rows[] = {
        {{0, 3, 0, 3000, 0, 90, 0, false}, 0, "0 %"},  // begun, nothing opened yet
        {{1, 3, 0, 3000, 0, 90, 0.2, false}, 0, "0 %, file 1 of 3"},
        {{2, 3, 1500, 3000, 45, 90, 0.5, false}, 500, "50 %, file 2 of 3, 90x, ETA 0:01"},
        {{3, 12, 2999, 3000, 3.2e4, 3.3e4, 3723, false}, 999, "99 %, file 3 of 12, 9x, ETA 0:01"},
        {{5, 12, 1000, 3000, 3e4, 9e4, 3723, false}, 333, "33 %, file 5 of 12, 8x, ETA 2:04:06"},
        {{3, 3, 3000, 3000, 90, 90, 1, true}, 1000, "100 %, file 3 of 3, 90x, done in 0:01"},
        {{2, 3, 1500, 3000, 45, 90, 61.4, true}, 500, "50 %, file 2 of 3, 1x, ended after 1:01"},
        {{0, 0, 0, 0, 0, 0, 0, true}, 1000, "100 %, done in 0:00"},  // an empty batch
    };
    QProgressBar* bar = Cv->BatchProgressBar;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        Cv->ShowProgress(r.p);
        EXPECT_EQ(bar->value(), r.value);
        EXPECT_EQ(bar->text().toStdString(), r.text);
        EXPECT_EQ(bar->toolTip().toStdString(), ProgressText(r.p));
    }
}

TEST_F(MainWindowTest, ConversionWithoutFilesIsRefusedWithAMessage) {
    Cv->ConvertBatchBtn->click();
    Cv->MakeScrapbookBtn->click();
    EXPECT_EQ(log.messages, (QStringList{"No WAV files listed", "No WAV files found"}));
    EXPECT_TRUE(log.suggestedNames.isEmpty());
}

}  // namespace
}  // namespace wtk::ui
