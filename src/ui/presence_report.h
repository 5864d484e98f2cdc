// The window's Report menu: "Presence report" of the TK1 files the last conversion wrote, or of
// TK1 files chosen in a dialog. The report (one HTML file) is written beside the TK1 files, as
// "presence report.html" in the folder of the first, and opened in the default browser.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"

class QAction;
class QMenu;
class QMenuBar;

namespace wtk::ui {

class PresenceReportMenu : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kReportName = "presence report.html";

    // Adds the menu to menuBar. host answers the questions and shows the messages (the main
    // window); busy tells whether a command runs, during which nothing is reported.
    PresenceReportMenu(QMenuBar* menuBar, Host& host, std::function<bool()> busy,
                       QObject* parent = nullptr);

    // The TK1 files of the conversion that has just ended; the action for them is offered
    // while any of them is there.
    void SetConvertedFiles(std::vector<std::string> tk1Files);

    // Writes the report of tk1Files beside the first and opens it. Returns the report's path,
    // or nothing when it was not written (the reason shown) or the user kept an earlier one.
    std::optional<std::string> WriteAndOpen(const std::vector<std::string>& tk1Files);

    // Opens a file in the default browser; tests put their own in its place.
    std::function<bool(const QUrl&)> OpenUrl;

    QMenu* Menu = nullptr;
    QAction* ConvertedAction = nullptr;  // "Presence report of the last conversion"
    QAction* ChooseAction = nullptr;     // "Presence report of TK1 files..."

public slots:
    void ConvertedActionClick();
    void ChooseActionClick();

private:
    // The converted files that are there now.
    std::vector<std::string> ConvertedFilesThere() const;
    void UpdateActions();

    Host& host_;
    std::function<bool()> busy_;
    std::vector<std::string> converted_;
};

}  // namespace wtk::ui
