#include "ui/settings_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QValidator>
#include <set>
#include <string_view>

#include "ui/clickable_label.h"

namespace wtk::ui {

namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

// Which column a control sits in: the automatic sensitivity adjustment on the right, the
// detector on the left. Layout only; captions and values come from the model.
const std::set<std::string_view> kSensitivityControls = {
    "NoisyMinsEdit",         "QuietMinsEdit",    "NoisyLevelEdit",        "QuietLevelEdit",
    "TooQuietCountEdit",     "GainControlGroup", "GainPerCentChangeEdit", "AmpStepEdit",
    "MinAmpScalerValueEdit", "FixedScalerEdit",  "MaxAmpScalerValueEdit"};
// The scale factors' row, left to right.
const char* const kScaleRow[] = {"MinAmpScalerValueEdit", "FixedScalerEdit",
                                 "MaxAmpScalerValueEdit"};

bool HasCaption(const ControlDef& def) {
    return def.Caption != nullptr && def.Caption[0] != '\0';
}

// Lets into an edit only what the settings model accepts for its control (digit edits: digits
// up to the control's length).
class ControlValidator : public QValidator {
public:
    ControlValidator(const ControlDef& def, QObject* parent) : QValidator(parent), def_(def) {}
    State validate(QString& input, int&) const override {
        return SettingsForm::Accepts(def_, input.toStdString()) ? Acceptable : Invalid;
    }

private:
    const ControlDef& def_;
};

int IndexOf(const std::string& value) {
    bool ok = false;
    const int i = QString::fromStdString(value).toInt(&ok);
    return ok ? i : -1;
}

}  // namespace

TSetFm::TSetFm(SettingsForm& model, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window), model_(model) {
    setObjectName(QStringLiteral("SetFm"));
    setWindowTitle(Q(SettingsTexts::kWindowCaption));

    auto* outer = new QVBoxLayout(this);
    NotesBox = new QPlainTextEdit(this);
    NotesBox->setReadOnly(true);
    NotesBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    NotesBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    NotesBox->setFixedHeight(110);
    for (const std::string& line : SettingsForm::NotesLines())
        NotesBox->appendPlainText(QString::fromStdString(line));
    NotesBox->moveCursor(QTextCursor::Start);
    outer->addWidget(NotesBox);

    auto* heading = new QLabel(Q(SettingsTexts::kAdvancedHeading), this);
    QFont italic = heading->font();
    italic.setItalic(true);
    italic.setBold(true);
    heading->setFont(italic);
    outer->addWidget(heading);

    auto* columns = new QHBoxLayout;
    outer->addLayout(columns);
    auto* left = new QGridLayout;
    auto* right = new QGridLayout;
    columns->addLayout(left);
    columns->addSpacing(16);
    columns->addLayout(right);

    auto* sensHeading = new QLabel(Q(SettingsTexts::kAutoSensitivityHeading), this);
    QFont bold = sensHeading->font();
    bold.setBold(true);
    sensHeading->setFont(bold);
    int rightRow = 0;
    right->addWidget(sensHeading, rightRow++, 0, 1, 4);

    int leftRow = 0;
    QGridLayout* lastGrid = nullptr;
    int lastRow = 0;
    const std::vector<ControlDef>& defs = SettingsForm::Controls();
    for (size_t k = 0; k < defs.size(); ++k) {
        const ControlDef& def = defs[k];
        QWidget* w = BuildControl(def);
        widgets_[def.Name] = w;
        const std::string_view name = def.Name;
        bool inScaleRow = false;
        for (const char* s : kScaleRow) inScaleRow = inScaleRow || name == s;
        if (inScaleRow) continue;  // placed below as one row
        const bool sens = kSensitivityControls.count(name) != 0;
        QGridLayout* grid = sens ? right : left;
        int& row = sens ? rightRow : leftRow;
        if (def.Kind == ControlKind::CheckBox || def.Kind == ControlKind::RadioGroup) {
            // A check box leaves the edit column free when the next control shares its row.
            const bool shared = k + 1 < defs.size() && !HasCaption(defs[k + 1]) &&
                                defs[k + 1].Kind == ControlKind::DigitEdit;
            grid->addWidget(w, row, 0, 1,
                            def.Kind == ControlKind::RadioGroup ? 4 : (shared ? 1 : 2));
            lastGrid = grid;
            lastRow = row++;
        } else if (!HasCaption(def) && lastGrid == grid) {
            // Shares the row of the control before it (the amplitude-drop level).
            grid->addWidget(w, lastRow, 1);
        } else {
            auto* caption = new QLabel(Q(def.Caption), this);
            caption->setBuddy(w);
            grid->addWidget(caption, row, 0);
            grid->addWidget(w, row, 1);
            lastGrid = grid;
            lastRow = row++;
        }
    }

    // The scale factors: one row under its heading with the column heads.
    right->addWidget(new QLabel(Q(SettingsTexts::kScaleFactorHeads), this), rightRow++, 1, 1, 3);
    auto* scaleCaption = new QLabel(Q(SettingsTexts::kScaleFactor), this);
    scaleCaption->setBuddy(Control(kScaleRow[0]));
    right->addWidget(scaleCaption, rightRow, 0);
    for (int i = 0; i < 3; ++i) {
        if (QWidget* w = Control(kScaleRow[i])) right->addWidget(w, rightRow, 1 + i);
    }
    ++rightRow;

    left->addWidget(new QLabel(Q(SettingsTexts::kClickLimitLabel), this), leftRow++, 0, 1, 3);
    left->setRowStretch(leftRow, 1);

    right->addWidget(new QLabel(Q(SettingsTexts::kShowSettingsFor), this), rightRow++, 0, 1, 4);
    auto* presets = new QHBoxLayout;
    for (const PresetDef& preset : SettingsForm::Presets()) {
        auto* button = new QPushButton(Q(preset.Caption), this);
        button->setObjectName(Q(preset.ButtonName));
        button->setToolTip(Q(preset.Hint));
        connect(button, &QPushButton::clicked, this, [this, &preset] {
            model_.LoadPreset(preset);
            LoadFromModel();
        });
        presets->addWidget(button);
        presetButtons_.push_back(button);
    }
    right->addLayout(presets, rightRow++, 0, 1, 4);
    right->setRowStretch(rightRow++, 1);
    auto* hide = new ClickableLabel(Q(SettingsTexts::kHideLabel), this);
    QFont hideFont = hide->font();
    hideFont.setUnderline(true);
    hide->setFont(hideFont);
    hide->setCursor(Qt::PointingHandCursor);
    connect(hide, &ClickableLabel::clicked, this, &TSetFm::SetFormHideLblClick);
    right->addWidget(hide, rightRow, 3, Qt::AlignRight | Qt::AlignBottom);

    LoadFromModel();
}

QWidget* TSetFm::BuildControl(const ControlDef& def) {
    const std::string name = def.Name;
    QWidget* result = nullptr;
    switch (def.Kind) {
        case ControlKind::DigitEdit:
        case ControlKind::TextEdit: {
            auto* edit = new QLineEdit(this);
            if (def.Kind == ControlKind::DigitEdit) {
                edit->setMaxLength(def.MaxLength);
                edit->setValidator(new ControlValidator(def, edit));
                edit->setMaximumWidth(16 + 9 * def.MaxLength);
            } else {
                edit->setMaximumWidth(80);
            }
            connect(edit, &QLineEdit::textChanged, this,
                    [this, name](const QString& t) { model_.Set(name, t.toStdString()); });
            result = edit;
            break;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(Q(def.Caption), this);
            connect(box, &QCheckBox::toggled, this,
                    [this, name](bool on) { model_.Set(name, on ? "1" : "0"); });
            result = box;
            break;
        }
        case ControlKind::RadioGroup: {
            auto* group = new QGroupBox(Q(def.Caption), this);
            auto* grid = new QGridLayout(group);
            auto* buttons = new QButtonGroup(group);
            const int columns = def.Columns > 0 ? def.Columns : 1;
            for (size_t i = 0; i < def.Items.size(); ++i) {
                auto* radio = new QRadioButton(Q(def.Items[i]), group);
                buttons->addButton(radio, static_cast<int>(i));
                grid->addWidget(radio, static_cast<int>(i) / columns,
                                static_cast<int>(i) % columns);
            }
            connect(buttons, &QButtonGroup::idToggled, this, [this, name](int id, bool on) {
                if (on) model_.Set(name, std::to_string(id));
            });
            result = group;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(this);
            for (const char* item : def.Items) combo->addItem(Q(item));
            combo->setEnabled(def.Enabled);
            connect(combo, &QComboBox::currentIndexChanged, this,
                    [this, name](int i) { model_.Set(name, std::to_string(i)); });
            result = combo;
            break;
        }
    }
    result->setObjectName(QString::fromStdString(name));
    if (def.Hint != nullptr && def.Hint[0] != '\0') result->setToolTip(Q(def.Hint));
    return result;
}

void TSetFm::LoadFromModel() {
    for (const ControlDef& def : SettingsForm::Controls()) {
        QWidget* w = Control(def.Name);
        if (w == nullptr) continue;
        const std::string& value = model_.Get(def.Name);
        switch (def.Kind) {
            case ControlKind::DigitEdit:
            case ControlKind::TextEdit: {
                auto* edit = static_cast<QLineEdit*>(w);
                const QSignalBlocker block(edit);
                edit->setText(QString::fromStdString(value));
                break;
            }
            case ControlKind::CheckBox: {
                auto* box = static_cast<QCheckBox*>(w);
                const QSignalBlocker block(box);
                box->setChecked(value == "1");
                break;
            }
            case ControlKind::RadioGroup: {
                auto* group = w->findChild<QButtonGroup*>();
                const QSignalBlocker block(group);
                const int i = IndexOf(value);
                if (QAbstractButton* b = group->button(i)) {
                    b->setChecked(true);
                } else if (QAbstractButton* checked = group->checkedButton()) {
                    group->setExclusive(false);
                    checked->setChecked(false);
                    group->setExclusive(true);
                }
                break;
            }
            case ControlKind::ComboBox: {
                auto* combo = static_cast<QComboBox*>(w);
                const QSignalBlocker block(combo);
                const int i = IndexOf(value);
                combo->setCurrentIndex(i >= 0 && i < combo->count() ? i : -1);
                break;
            }
        }
    }
}

QWidget* TSetFm::Control(const std::string& name) const {
    auto it = widgets_.find(name);
    return it == widgets_.end() ? nullptr : it->second;
}

QWidget* TSetFm::PresetButton(int index) const {
    return index >= 0 && index < static_cast<int>(presetButtons_.size())
               ? presetButtons_[static_cast<size_t>(index)]
               : nullptr;
}

void TSetFm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) emit FormHidden();  // not when the desktop minimises it
}

}  // namespace wtk::ui
