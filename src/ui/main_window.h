// The main window TCv: a Help menu above the client area, which holds the control panel with the
// six numbered steps, the results panel with the file list, and the graph area; and the host
// side of the engine (messages, labels, memos, event pump, graphs, dialogs). Everything runs on
// the GUI thread; a conversion runs inside the handler of the button that started it and lets
// events through at the engine's fixed points.
//
// The panels lay their controls out by the size of their texts and give the memos the height
// that is left; FormResize places the panels and the graph area in the client area, so the
// graph area and the memos take the room the window gives them.
#pragma once

#include <QWidget>
#include <memory>

#include "base/host.h"
#include "session/session.h"
#include "ui/dialogs.h"
#include "ui/graphs.h"
#include "ui/memo_columns.h"

class QAction;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSessionManager;
class QVBoxLayout;

namespace wtk::ui {

class ClickableLabel;
class TSetFm;

class TCv : public QWidget, public Host {
    Q_OBJECT
public:
    // Sizes of the window definition (pixels). The control panel is at least this wide and the
    // results panel at least this high; either grows when its texts need more room.
    static constexpr int kDesignClientWidth = 1347;
    static constexpr int kDesignClientHeight = 669;
    static constexpr int kControlPanelWidth = 263;
    static constexpr int kControlPanelHeight = 590;
    static constexpr int kResultsPanelHeight = 150;
    static constexpr int kGraphBoxLeft = 18;

    static const char* const kWindowCaption;
    static const char* const kViewSettingsInitial;

    // FormCreate: builds the controls, clears the flags and writes the start-up notice. Dialogs
    // default to the real ones.
    explicit TCv(std::unique_ptr<Dialogs> dialogs = nullptr);
    ~TCv() override;  // FormDestroy

    // Start-up step 3: the settings window, created after this one (applying the settings
    // needs the sample-rate tables), then the engine's start (rate tables, "normal operation"
    // preset, ApplySettings).
    void CreateSettingsWindow();

    Session& session() { return *session_; }
    TSetFm* SetFm() { return setFm_; }
    SignalGraphs& Graphs() { return *graphs_; }
    void SetDialogs(std::unique_ptr<Dialogs> dialogs);

    // Answer to the desktop session's log-off or shutdown query: refuse while Busy.
    bool QueryEndSession() const { return !session_->Busy; }

    // Host.
    void ShowMessage(const std::string& text) override;
    void SetText(Label which, const std::string& text) override;
    void AppendMemo(Memo which, const std::string& line) override;
    void AppendNote(Memo which, const std::string& line) override;
    void ProcessMessages() override;
    void ShowProgress(const BatchProgress& progress) override;
    void Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst) override;
    int32_t HiResSamplesLength() override;
    std::optional<std::string> SaveTK1Dialog(const std::string& suggestedName) override;
    bool AskYesNo(const std::string& question) override;
    std::optional<int> AskChoice(const std::string& question,
                                 const std::vector<std::string>& choices) override;
    std::optional<std::vector<std::string>> OpenFilesDialog(const std::string& title,
                                                            const std::string& filter) override;
    std::optional<std::string> ChooseDirectory(const std::string& caption) override;
    void HideSettingsWindow() override;

    // Lays the panels and the graph area out for a client area of CW x CH and redraws the
    // traces at the graph area's new size. The control panel hugs the right edge; the results
    // panel sits on the bottom edge, spanning the window when the client area is tall enough
    // for both panels, and gets a third of any height beyond the design height.
    void FormResize(int CW, int CH);

    // Selects dropped paths as the select button would with the dialog's answer: a folder is
    // searched with its sub-folders for WAV files. Does nothing while Busy.
    void DropPaths(const QStringList& paths);

    // The texts of the Help menu's two boxes (Markdown).
    static QString UsageText();
    static QString AboutText();
    // Where the documentation is: the installed documentation folder beside a program installed
    // in programDir, else the README of the sources it was built from.
    static QString DocumentationAddress(const QString& programDir);

    // Menu and client area.
    QMenuBar* MenuBar = nullptr;
    QMenu* HelpMenu = nullptr;
    QAction* UsageAction = nullptr;
    QAction* AboutAction = nullptr;
    QWidget* ClientArea = nullptr;

    // Controls (named as in the window definition).
    QWidget* ControlPanel = nullptr;
    QWidget* ResultsPanel = nullptr;
    QLabel* BigLbl = nullptr;
    QPushButton* StopBtn = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* KsamplesPerSecEdit = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* AddedSiteNameEdit = nullptr;
    QLineEdit* LoggerNumberEdit = nullptr;
    ClickableLabel* Label5 = nullptr;
    QCheckBox* UseFileNameDateTimes = nullptr;
    QLineEdit* NameDatePatternEdit = nullptr;  // step 3: the date pattern of other names
    QComboBox* TimeSourceCombo = nullptr;      // step 3: start times from auto, name or file
    QCheckBox* ExactStart = nullptr;           // step 3: files placed at their start second
    QLabel* Label10 = nullptr;
    QPushButton* SelectBatchBtn = nullptr;
    QCheckBox* SearchDirectories = nullptr;
    ClickableLabel* ViewSettingsLbl = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* ConvertBatchBtn = nullptr;
    QPushButton* MakeScrapbookBtn = nullptr;
    QCheckBox* ShowGraphs = nullptr;
    QLabel* ProgressLbl = nullptr;
    // The batch's progress under ProgressLbl: bytes done of the total in thousandths, with the
    // file, the speed as a multiple of real time and the time left as its text.
    QProgressBar* BatchProgressBar = nullptr;
    static constexpr int kProgressSteps = 1000;
    QCheckBox* MakeSourceLinkageFile = nullptr;
    QPlainTextEdit* DataMemo = nullptr;
    QPlainTextEdit* DATA2Memo = nullptr;
    QPushButton* CopyDataToClip = nullptr;
    QPushButton* ClearDataMemo = nullptr;
    QPushButton* CopyFilesMemoToClip = nullptr;
    QPushButton* ClearFilesMemo = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPlainTextEdit* FilesMemo = nullptr;
    // The file list and the summary memo show their tab-separated cells in columns.
    std::unique_ptr<MemoColumns> FilesColumns, DataColumns;
    ImageCanvas* GraphBox = nullptr;
    AmpScaleBar* AmpScaleBarShape = nullptr;
    ImageCanvas* WindowCanvas = nullptr;  // the window's own surface left of the graph area

public slots:
    void StopBtnClick();
    void SelectBatchBtnClick();
    void ConvertBatchBtnClick();
    void MakeScrapbookBtnClick();
    void KsamplesPerSecEditChange();
    void ViewSettingsLblClick();
    void ClearFilesMemoClick();
    void ClearDataMemoClick();
    void CopyFilesMemoToClipClick();
    void CopyDataToClipClick();
    void FilesMemoDblClick();
    void SettingsFormHidden();  // the settings window's FormHide
    void UsageActionClick();
    void AboutActionClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Puts the session's rate text into the rate edit where they differ.
    void ShowRateOfSession();
    // Clears the choices of to 16 bits and a channel before a new selection.
    void ForgetFormatChoices();
    // Before a conversion: a pattern changed since the listing parses, and unfit files are
    // confirmed.
    bool ReadyToConvert();
    void BuildMenu();
    void BuildControlPanel();
    // The control panel's layout while it is built: its column, and the width (pixels) of the
    // step numbers' column.
    struct PanelRows {
        QVBoxLayout* Panel;
        int StepWidth;
        QHBoxLayout* Row(int indent = 0) const;  // a new row, indented by indent pixels
    };
    void BuildStatusRow(const PanelRows& rows);
    void BuildRateAndSiteSteps(const PanelRows& rows);
    void BuildDateSteps(const PanelRows& rows);
    void BuildSelectStep(const PanelRows& rows);
    void BuildProceedSteps(const PanelRows& rows);
    void BuildProgressRows(const PanelRows& rows);
    void BuildMemos(QVBoxLayout* v);
    void BuildResultsPanel();
    void BuildShortcuts();
    void UpdateBusyState();  // refuses the commands that must not nest while Busy
    void WMQueryEndSession(QSessionManager& manager);
    QPlainTextEdit* MemoOf(Memo which);

    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<SignalGraphs> graphs_;
    TSetFm* setFm_ = nullptr;
};

// The application's title, which its message boxes carry.
inline constexpr const char* kApplicationTitle = "WAVtoKEB";

// The program's start-up order: the application's title, the main window, then the settings
// window and the engine's start. Needs the QApplication; the caller shows the main window.
std::unique_ptr<TCv> StartUp(std::unique_ptr<Dialogs> dialogs = nullptr);

// Engine strings are UTF-8 bytes (paths byte for byte as the file system gave them).
QString FromEngine(const std::string& s);
std::string ToEngine(const QString& s);

}  // namespace wtk::ui
