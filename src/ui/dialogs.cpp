#include "ui/dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QShowEvent>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

namespace wtk::ui {

namespace {

// A message box centred on the window it belongs to. It is placed when it shows, after it has
// sized itself to its text and buttons.
class CentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (QWidget* owner = parentWidget()) {
            const QPoint centre = owner->frameGeometry().center();
            move(centre.x() - width() / 2, centre.y() - height() / 2);
        }
    }
};

}  // namespace

void QtDialogs::ShowMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& question) {
    CentredMessageBox box(QMessageBox::Question, QApplication::applicationName(), question,
                          QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

std::optional<int> QtDialogs::AskChoice(QWidget* parent, const QString& question,
                                        const QStringList& choices) {
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, QApplication::applicationName(), question,
                                                 choices, 0, false, &ok);
    const auto index = static_cast<int>(choices.indexOf(chosen));
    if (!ok || index < 0) return std::nullopt;
    return index;
}

std::optional<QStringList> QtDialogs::OpenFiles(QWidget* parent, const QString& title,
                                                const QString& filter) {
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString qtFilter = ToQtFilter(filter);
    dialog.setNameFilter(qtFilter);
    dialog.selectNameFilter(qtFilter.section(QStringLiteral(";;"), 0, 0));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles();
}

std::optional<QString> QtDialogs::ChooseDirectory(QWidget* parent, const QString& caption) {
    const QString dir = QFileDialog::getExistingDirectory(parent, caption);
    if (dir.isEmpty()) return std::nullopt;
    return dir;
}

std::optional<QString> QtDialogs::SaveTK1(QWidget* parent, const QString& suggestedName) {
    const QString dir =
        QFileDialog::getExistingDirectory(parent, QString::fromUtf8(kTK1FolderTitle));
    if (dir.isEmpty()) return std::nullopt;
    return QDir(dir).filePath(suggestedName);
}

void QtDialogs::ShowDocument(QWidget* parent, const QString& title, const QString& markdown) {
    QDialog box(parent);
    box.setWindowTitle(title);
    auto* text = new QTextBrowser(&box);
    text->setOpenExternalLinks(true);
    text->setMarkdown(markdown);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &box);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(text);
    layout->addWidget(buttons);
    box.resize(680, 520);
    box.exec();
}

std::optional<QString> QtDialogs::SaveFile(QWidget* parent, const QString& title,
                                           const QString& suggestedName, const QString& filter) {
    const QString name =
        QFileDialog::getSaveFileName(parent, title, suggestedName, ToQtFilter(filter), nullptr,
                                     QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return std::nullopt;
    return name;
}

QString ToQtFilter(const QString& filter) {
    if (!filter.contains(QLatin1Char('|'))) return filter;
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            p = p.trimmed();
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        }
        entries << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace wtk::ui
