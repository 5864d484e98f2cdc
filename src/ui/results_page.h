// The window's Results page: TK1 files opened (chosen, dropped, or the ones a conversion has
// just written), one location at a time, as an overview of the location over the click display
// of a span, with the hovered click's fields and the selected train's row of the trains table
// below. From there a train or the span shown goes to Raven, Audacity or a spreadsheet (the
// exports dump writes), and a click's recording and second to the clipboard.
//
// Keys (while the page has the focus): Right / Left the next / previous train, Page Down /
// Page Up the next / previous encounter, + and - zoom in and out, Home the whole location,
// Ctrl+C copies the chosen click's recording and second.
#pragma once

#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialogs.h"
#include "ui/results_export.h"
#include "ui/results_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QMimeData;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace wtk::ui {

class ClickPlot;
class OverviewPlot;

class ResultsPage : public QWidget {
    Q_OBJECT
public:
    // dialogs: the window's dialogs (they may be replaced while the page lives); busy: a
    // conversion runs (nothing is opened meanwhile).
    ResultsPage(std::function<Dialogs&()> dialogs, std::function<bool()> busy,
                QWidget* parent = nullptr);
    ~ResultsPage() override;

    // Opens TK1 files and folders in place of what was open; files that cannot be opened are
    // named in one message and the rest open. The number of locations open.
    int Open(const std::vector<std::string>& paths);
    // File > Open TK1 files / Open a folder of TK1 files.
    void OpenFilesDialog();
    void OpenFolderDialog();

    const std::vector<std::unique_ptr<ResultsLocation>>& Locations() const { return locations_; }
    const ResultsLocation* Current() const;
    void ShowLocation(int index);

    // The display of a span, the train and click chosen.
    void ShowSpan(TimeSpan span);
    void SelectTrain(std::optional<size_t> train, bool showIt);
    void ChooseClick(std::optional<size_t> click);
    std::optional<size_t> SelectedTrain() const { return train_; }
    std::optional<size_t> ChosenClick() const { return click_; }
    void StepTrain(int direction);
    void StepEncounter(int direction);

    // The selected train, or the clicks of the span shown, to a Raven selection table per
    // recording or an Audacity label file per recording (into a folder asked for), or to one
    // CSV file (asked for). False when nothing was written (the reason shown).
    bool ExportTrain(ExportFormat format);
    bool ExportSpan(ExportFormat format);
    // "PATH<tab>SECONDS" of the chosen click (else the selected train's first click) to the
    // clipboard; false when no click is chosen or its recording is not known.
    bool CopyRecordingSecond();

    // The TK1 files and folders among dragged items.
    static QStringList DroppablePaths(const QMimeData* mime);

    // Controls.
    QPushButton* OpenButton = nullptr;
    QPushButton* OpenFolderButton = nullptr;
    QComboBox* LocationBox = nullptr;
    std::array<QCheckBox*, kPointKinds> KindBoxes{};
    QPushButton* PreviousTrainButton = nullptr;
    QPushButton* NextTrainButton = nullptr;
    QPushButton* PreviousEncounterButton = nullptr;
    QPushButton* NextEncounterButton = nullptr;
    QPushButton* WholeButton = nullptr;
    QToolButton* ExportTrainButton = nullptr;
    QToolButton* ExportSpanButton = nullptr;
    QPushButton* CopyButton = nullptr;
    QLabel* SpanLabel = nullptr;
    QLabel* ClickInfo = nullptr;
    QTableWidget* TrainTable = nullptr;
    OverviewPlot* Overview = nullptr;
    ClickPlot* Clicks = nullptr;

private:
    void BuildControls();
    void UpdateActions();
    void ShowSpanText();
    void ShowClickInfo(std::optional<size_t> click);
    void ShowTrainRow();
    KindsShown Shown() const;
    bool Export(std::optional<size_t> train, ExportFormat format);

    std::function<Dialogs&()> dialogs_;
    std::function<bool()> busy_;
    std::vector<std::unique_ptr<ResultsLocation>> locations_;
    int current_ = -1;
    std::optional<size_t> train_, click_;
};

}  // namespace wtk::ui
