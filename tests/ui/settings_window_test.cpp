// The advanced-settings window as the user sees it: every control with its caption, items and
// value as the window definition holds them, the fixed texts, the notes box and the preset
// buttons. (Presets filling the widgets: main_window_test.)
#include "ui/settings_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "settings/settings_form.h"
#include "ui/clickable_label.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        window = std::make_unique<TSetFm>(model, nullptr);  // the form values, no preset
    }
    // The label whose buddy is the control, or the control's own text.
    QString CaptionOf(QWidget* w) {
        if (auto* box = qobject_cast<QCheckBox*>(w)) return box->text();
        if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
        QString found;
        for (QLabel* label : window->findChildren<QLabel*>())
            if (label->buddy() == w) found += label->text();
        return found;
    }
    QLabel* LabelWithText(const char* text) {
        for (QLabel* label : window->findChildren<QLabel*>())
            if (label->text() == QString::fromUtf8(text)) return label;
        return nullptr;
    }

    SettingsForm model;
    std::unique_ptr<TSetFm> window;
};

TEST_F(SettingsWindowTest, EveryControlShowsItsCaptionAndFormValue) {
    EXPECT_EQ(window->windowTitle(), "Settings for virtual T-KEB");
    struct Expected {
        const char* name;
        const char* caption;
        const char* value;  // edit text, "1"/"0" for boxes, the selected index otherwise
    };
    const Expected table[] = {
        {"MinNcycFedit", "Min nCyc", "5"},
        {"Strong1Edit", "Max 1 Bias", "1"},
        {"Strong2Edit", "Max 2 Bias", "1"},
        {"Strong3Edit", "Max 3 Bias", "1"},
        {"Strong4Edit", "Max 4 Bias", "1"},
        {"ZmaxStartEditFS", "Stmax", "220"},
        {"ZminStartEditFS", "Stmin", "18"},
        {"ExcludedMinIPIEdit", "ExcludedMinIPI", "255"},
        {"ExcludedMaxIPIEdit", "ExcludedMaxIPI", "0"},
        {"DeadbandEdit", "Deadband", "1"},
        {"UseToughAmpDrop", "use 1/4 ADF below", "1"},
        {"MaxSPLforAmpDropTestEdit", "", "1"},
        {"MaxSPLforBWtestEdit", "Use BW filter below", "1"},
        {"FBWaddonEdit", "BW tolerance", "1"},
        {"MaxSPLforReversalTestEdit", "Reversal test below", "1"},
        {"MakeIPIexportFile", "create text file of IPI and Amplitudes", "0"},
        {"IPIFileLineLimitEdit", "File line limit", "10000"},
        {"NoisyMinsEdit", "NoisyMins", "1"},
        {"QuietMinsEdit", "QuietMins", "1"},
        {"NoisyLevelEdit", "NoisyLevel", "1"},
        {"QuietLevelEdit", "QuietLevel", "1"},
        {"TooQuietCountEdit", "Too quiet", "1"},
        {"GainControlGroup", " method ", "0"},
        {"MinAmpScalerValueEdit", "Scale factor", "0.00005"},
        {"FixedScalerEdit", "", "0.001"},
        {"MaxAmpScalerValueEdit", "", "0.005"},
        {"GainPerCentChangeEdit", "Gain%change", "30"},
        {"AmpStepEdit", "AmpStep", "5"},
        {"HighPassFilterCombo", "Filter ", "3"},
        {"MinsOnOffFcombo", "Continuous logging?", "0"},
        {"FilterSonars", "Filter out boat sonars", "0"},
    };
    ASSERT_EQ(std::size(table), SettingsForm::Controls().size());
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        QWidget* w = window->Control(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(CaptionOf(w).toStdString(), e.caption);
        QString value;
        if (auto* edit = qobject_cast<QLineEdit*>(w)) value = edit->text();
        if (auto* box = qobject_cast<QCheckBox*>(w)) value = box->isChecked() ? "1" : "0";
        if (auto* combo = qobject_cast<QComboBox*>(w))
            value = QString::number(combo->currentIndex());
        if (auto* group = w->findChild<QButtonGroup*>())
            value = QString::number(group->checkedId());
        EXPECT_EQ(value.toStdString(), e.value);
    }

    // Digit edits: 3 digits, the line limit 8; the scale factors take free text.
    for (const ControlDef& def : SettingsForm::Controls()) {
        auto* edit = qobject_cast<QLineEdit*>(window->Control(def.Name));
        if (edit == nullptr) continue;
        SCOPED_TRACE(def.Name);
        const bool lineLimit = std::string_view(def.Name) == "IPIFileLineLimitEdit";
        if (def.Kind == ControlKind::TextEdit) {
            EXPECT_EQ(edit->validator(), nullptr);
            continue;
        }
        EXPECT_EQ(edit->maxLength(), lineLimit ? 8 : 3);
        edit->clear();
        QTest::keyClicks(edit, "-1x2.3 4567890");
        EXPECT_EQ(edit->text(), lineLimit ? "12345678" : "123");
    }

    // Items of the radio group (three columns) and the two disabled drop-down lists.
    auto* group = window->Control("GainControlGroup")->findChild<QButtonGroup*>();
    ASSERT_EQ(group->buttons().size(), 3);
    EXPECT_EQ(group->button(0)->text(), "gain");
    EXPECT_EQ(group->button(1)->text(), "level");
    EXPECT_EQ(group->button(2)->text(), "none");
    window->show();
    EXPECT_EQ(group->button(0)->y(), group->button(2)->y());
    EXPECT_LT(group->button(0)->x(), group->button(1)->x());
    EXPECT_LT(group->button(1)->x(), group->button(2)->x());
    const struct {
        const char* name;
        QStringList items;
    } lists[] = {{"HighPassFilterCombo", {"120kHz", "80kHz", "40kHz", "20kHz"}},
                 {"MinsOnOffFcombo", {"continuous", "1min in 2", "1min in 5", "1min in 10"}}};
    for (const auto& l : lists) {
        auto* combo = qobject_cast<QComboBox*>(window->Control(l.name));
        ASSERT_NE(combo, nullptr);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        EXPECT_EQ(items, l.items);
        EXPECT_FALSE(combo->isEnabled());
    }

    // The amplitude-drop level sits on the check box's row; the scale factors Min, Start, Max
    // left to right under their column heads.
    auto centreY = [](QWidget* w) { return w->mapToGlobal(w->rect().center()).y(); };
    EXPECT_NEAR(centreY(window->Control("MaxSPLforAmpDropTestEdit")),
                centreY(window->Control("UseToughAmpDrop")), 4);
    QWidget* lo = window->Control("MinAmpScalerValueEdit");
    QWidget* start = window->Control("FixedScalerEdit");
    QWidget* hi = window->Control("MaxAmpScalerValueEdit");
    EXPECT_EQ(centreY(lo), centreY(start));
    EXPECT_EQ(centreY(start), centreY(hi));
    EXPECT_LT(lo->x(), start->x());
    EXPECT_LT(start->x(), hi->x());
    QLabel* heads = LabelWithText("Min               Start          Max");
    ASSERT_NE(heads, nullptr);
    EXPECT_LT(centreY(heads), centreY(start));
}

TEST_F(SettingsWindowTest, FixedTextsNotesAndPresetButtons) {
    QLabel* heading = LabelWithText("Advanced settings: ");
    ASSERT_NE(heading, nullptr);
    EXPECT_TRUE(heading->font().italic());
    EXPECT_NE(LabelWithText("Limit on clicks/m fixed at  65536"), nullptr);
    EXPECT_NE(LabelWithText("Automatic sensitivity adjustment:"), nullptr);
    QLabel* showFor = LabelWithText("Show settings for:");
    ASSERT_NE(showFor, nullptr);

    const QStringList notes = window->NotesBox->toPlainText().split(QLatin1Char('\n'));
    const QStringList expectedNotes = {
        "NB: This app does NOT create the file that would have been created from an T-KEB in "
        "the same location and time.  This is because the time resolution of the ",
        "source ",
        "data - the .wav file - is generally lower than the 1MHz sampling rate of the KEB.  ",
        "",
        "In the KEB the samples from the Analogue-to-Digital-Converter are upsampled to give a "
        "4MHz virtual rate and the amplitude and timing of peaks are derived from ",
        "that. ",
        "To mimic a KEB here the data are 'upsampled' but this introduces noise because the "
        "source sampling rate is too low. ",
        "",
        "Various features of the KEB process perform poorly or are not enabled or are impossible:",
        "The frequencies are correct only if the sampling rate of the sources was 500k/s",
        "The real time sonar detection algorithm",
        "The capture of raw data is not enabled.",
        "Minutes OFF between minutes ON",
        "Angle recording and switching; Temperature recording",
    };
    EXPECT_EQ(notes, expectedNotes);
    EXPECT_TRUE(window->NotesBox->isReadOnly());
    EXPECT_EQ(window->NotesBox->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    const struct {
        const char* caption;
        const char* hint;
    } presets[] = {
        {"normal operation",
         "  these are the standard, general purpose settings, which include adaption to noisy "
         "periods."},
        {"severe noise",
         " useful in shallow water with heavy wave action, especially for NBHF species as this "
         "strongly filters out weak broadband clicks and adapts rapidly to noise."},
        {"minimal noise",
         " useful for quiet deep water locations.  Sensitivity to broadband clicks is increased. "
         "Results are not directly comparable with other settings."},
    };
    window->show();
    for (int i = 0; i < 3; ++i) {
        auto* button = qobject_cast<QPushButton*>(window->PresetButton(i));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text().toStdString(), presets[i].caption);
        EXPECT_EQ(button->toolTip().toStdString(), presets[i].hint);
        EXPECT_GT(button->mapTo(window.get(), QPoint()).y(),
                  showFor->mapTo(window.get(), QPoint()).y());
    }
    EXPECT_EQ(window->PresetButton(3), nullptr);

    // "Hide" at the lower right, below and right of everything else.
    auto* hide = window->findChild<ClickableLabel*>();
    ASSERT_NE(hide, nullptr);
    EXPECT_EQ(hide->text(), "Hide");
    const QRect hideRect(hide->mapTo(window.get(), QPoint()), hide->size());
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w == hide || !w->isVisible() || w->parentWidget() != window.get()) continue;
        const QRect r(w->mapTo(window.get(), QPoint()), w->size());
        EXPECT_GE(hideRect.right(), r.right()) << w->objectName().toStdString();
    }
    EXPECT_GT(hideRect.top(), window->PresetButton(0)->mapTo(window.get(), QPoint()).y());
}

}  // namespace
}  // namespace wtk::ui
