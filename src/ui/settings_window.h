// The advanced-settings window TSetFm: its widgets are built from the settings model's control
// definitions and write every change straight into the model that ApplySettings reads.
#pragma once

#include <QWidget>
#include <map>
#include <string>

#include "settings/settings_form.h"

class QPlainTextEdit;

namespace wtk::ui {

class TSetFm : public QWidget {
    Q_OBJECT
public:
    // A separate, non-modal window belonging to the main window; hidden until asked for.
    TSetFm(SettingsForm& model, QWidget* mainWindow);

    // Put every control's widget in the state the model holds (after a preset or start-up).
    void LoadFromModel();

    // The widget of a control by its model name (nullptr when unknown).
    QWidget* Control(const std::string& name) const;
    QWidget* PresetButton(int index) const;  // 0 normal operation, 1 severe noise, 2 minimal
    QPlainTextEdit* NotesBox = nullptr;

signals:
    void FormHidden();  // FormHide: every hiding of the window

public slots:
    void SetFormHideLblClick() { hide(); }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* BuildControl(const ControlDef& def);

    SettingsForm& model_;
    std::map<std::string, QWidget*> widgets_;
    std::vector<QWidget*> presetButtons_;
};

}  // namespace wtk::ui
