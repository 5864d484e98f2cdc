#include "ui/presence_report.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>

#include "base/utf8.h"
#include "presence/report.h"
#include "ui/main_window.h"

namespace wtk::ui {

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The wait cursor while the report is made (the window takes no input meanwhile).
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

PresenceReportMenu::PresenceReportMenu(QMenuBar* menuBar, Host& host, std::function<bool()> busy,
                                       QObject* parent)
    : QObject(parent), host_(host), busy_(std::move(busy)) {
    OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    Menu = menuBar->addMenu(QStringLiteral("&Report"));
    ConvertedAction = Menu->addAction(QStringLiteral("&Presence report of the last conversion"));
    ConvertedAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    ConvertedAction->setToolTip(
        QStringLiteral("Writes \"presence report.html\" beside the TK1 files just converted and "
                       "opens it in the browser"));
    connect(ConvertedAction, &QAction::triggered, this, &PresenceReportMenu::ConvertedActionClick);
    ChooseAction = Menu->addAction(QStringLiteral("Presence report of &TK1 files..."));
    connect(ChooseAction, &QAction::triggered, this, &PresenceReportMenu::ChooseActionClick);
    Menu->setToolTipsVisible(true);
    connect(Menu, &QMenu::aboutToShow, this, &PresenceReportMenu::UpdateActions);
    UpdateActions();
}

void PresenceReportMenu::SetConvertedFiles(std::vector<std::string> tk1Files) {
    converted_ = std::move(tk1Files);
    UpdateActions();
}

std::vector<std::string> PresenceReportMenu::ConvertedFilesThere() const {
    std::vector<std::string> there;
    for (const std::string& f : converted_) {
        if (IsFile(f)) there.push_back(f);
    }
    return there;
}

void PresenceReportMenu::UpdateActions() {
    const bool idle = !busy_();
    ConvertedAction->setEnabled(idle && !ConvertedFilesThere().empty());
    ChooseAction->setEnabled(idle);
}

void PresenceReportMenu::ConvertedActionClick() {
    if (busy_()) return;
    const std::vector<std::string> files = ConvertedFilesThere();
    if (files.empty()) return;
    WriteAndOpen(files);
}

void PresenceReportMenu::ChooseActionClick() {
    if (busy_()) return;
    const auto files = host_.OpenFilesDialog("TK1 files for the presence report",
                                             "TK1 files|*.TK1 *.tk1|All files|*.*");
    if (!files || files->empty()) return;
    WriteAndOpen(*files);
}

std::optional<std::string> PresenceReportMenu::WriteAndOpen(
    const std::vector<std::string>& tk1Files) {
    if (tk1Files.empty()) return std::nullopt;
    const std::string path = std::string(DirectoryPart(tk1Files.front())) + kReportName;
    bool overwrite = false;
    if (IsFile(path)) {
        if (!host_.AskYesNo("The presence report " + path +
                            " is there already. Replace it with a new one?")) {
            return std::nullopt;
        }
        overwrite = true;
    }
    std::string html;
    try {
        WaitCursor wait;
        // Hours and days in UTC and no night: the window knows neither the place nor its clock.
        const presence::ReportOptions options;
        html = presence::ReportHtml(presence::GatherReport(tk1Files, options), options);
    } catch (const std::exception& e) {
        // A damaged or unreadable file (named, with the place), or no memory.
        host_.ShowMessage(std::string("No presence report written: ") + e.what());
        return std::nullopt;
    }
    if (const auto why = presence::WriteReportFile(path, html, overwrite)) {
        host_.ShowMessage("The presence report could not be written to " + path + ": " + *why);
        return std::nullopt;
    }
    if (!OpenUrl(QUrl::fromLocalFile(FromEngine(path)))) {
        host_.ShowMessage("The presence report is written to " + path +
                          ", but no browser could be started to show it.");
    }
    return path;
}

}  // namespace wtk::ui
