// The desktop's own dialogs as the window uses them: titles, filters, buttons, the overwrite
// prompt and where the Yes/No question sits. Each dialog is answered, while it runs modally, by
// a step that a timer hands it.
#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "temp_dir.h"
#include "ui/main_window.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

// Hands each modal dialog that comes up to the next step; the step answers or closes it. A
// dialog that its step left open, or one that comes when no step is left, is rejected, so that
// a failing test cannot hang, however slowly the machine runs.
class ModalAnswers {
public:
    using Step = std::function<void(QWidget*)>;
    explicit ModalAnswers(std::vector<Step> steps) : steps_(std::move(steps)) { Schedule(); }
    size_t Answered() const { return next_; }
    bool Unanswered() const { return unanswered_; }

private:
    void Schedule() {
        // A fresh timer each time, so that it also fires inside a step's nested dialog.
        QTimer::singleShot(5, &context_, [this] { Poll(); });
    }
    void Poll() {
        Schedule();
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        if (modal == last_ || next_ >= steps_.size()) {
            unanswered_ = true;
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
            return;
        }
        last_ = modal;
        steps_[next_++](modal);
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    QPointer<QWidget> last_;
    QObject context_;
    bool unanswered_ = false;
};

void Click(QWidget* modal, QMessageBox::StandardButton which) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        if (QAbstractButton* b = box->button(which)) {
            b->click();
            return;
        }
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
}

struct Seen {
    QString title, text;
    QMessageBox::StandardButtons buttons;
    QRect geometry;
};

Seen Look(QWidget* modal) {
    Seen s;
    s.title = modal->windowTitle();
    s.geometry = modal->frameGeometry();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        s.text = box->text();
        s.buttons = box->standardButtons();
    }
    return s;
}

// Through the window with the real dialogs: the message boxes carry the application's title,
// and the directory question is a Yes/No box centred on the window.
TEST(QtDialogsTest, WindowAsksAndTellsInModalBoxes) {
    test::App();
    std::unique_ptr<TCv> Cv = StartUp();
    Cv->show();
    std::vector<Seen> seen;
    bool chooserDirsOnly = false;
    ModalAnswers answers({
        [&](QWidget* w) {
            seen.push_back(Look(w));
            Click(w, QMessageBox::Ok);
        },
        [&](QWidget* w) {
            seen.push_back(Look(w));
            Click(w, QMessageBox::Yes);
        },
        [&](QWidget* w) {  // the directory chooser: cancelled
            seen.push_back(Look(w));
            if (auto* chooser = qobject_cast<QFileDialog*>(w))
                chooserDirsOnly = chooser->fileMode() == QFileDialog::Directory;
            Click(w, QMessageBox::Cancel);
        },
        [&](QWidget* w) {
            seen.push_back(Look(w));
            Click(w, QMessageBox::Ok);
        },
    });
    Cv->ConvertBatchBtn->click();
    Cv->SearchDirectories->setChecked(true);
    Cv->SelectBatchBtn->click();
    ASSERT_FALSE(answers.Unanswered());
    ASSERT_EQ(seen.size(), 4u);

    EXPECT_EQ(seen[0].title, "WAVtoKEB");
    EXPECT_EQ(seen[0].text, "No WAV files listed");
    EXPECT_EQ(seen[0].buttons, QMessageBox::Ok);

    EXPECT_EQ(seen[1].text,
              "Do you wish to select all files in a directory and its sub-directories?");
    EXPECT_EQ(seen[1].buttons, QMessageBox::Yes | QMessageBox::No);
    const QPoint centre = Cv->frameGeometry().center();
    EXPECT_LE((seen[1].geometry.center() - centre).manhattanLength(), 2)
        << seen[1].geometry.center().x() << "," << seen[1].geometry.center().y() << " vs "
        << centre.x() << "," << centre.y();

    EXPECT_EQ(seen[2].title, "Find WAV files in a directory and its subdirectories");
    EXPECT_TRUE(chooserDirsOnly);
    EXPECT_EQ(seen[3].text, "No Files selected");
    EXPECT_EQ(Cv->BigLbl->text(), "No Files selected");
}

// The destination is a folder: the batch names the TK1 files by location and date, so the
// dialog asks for nothing else and hands the suggested name back inside the chosen folder.
TEST(QtDialogsTest, DestinationDialogChoosesAFolder) {
    test::App();
    wtk::test::TempDir dir;
    wtk::test::WriteFileBytes(dir / "Bay HARBOUR 2024 06 11.TK1", {1, 2, 3});
    QWidget owner;
    QtDialogs dialogs;
    QString title;
    bool foldersOnly = false;
    int asked = 0;
    ModalAnswers answers({
        [&](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (fd == nullptr) return Click(w, QMessageBox::Cancel);
            ++asked;
            title = fd->windowTitle();
            foldersOnly = fd->fileMode() == QFileDialog::Directory;
            fd->setDirectory(QString::fromStdString(dir.path().string()));
            static_cast<QDialog*>(fd)->accept();  // no question about the file inside
        },
        [&](QWidget* w) {
            ++asked;
            Click(w, QMessageBox::Cancel);
        },
    });
    const std::optional<QString> chosen =
        dialogs.SaveTK1(&owner, QStringLiteral("Bay HARBOUR 2024 06 11.TK1"));
    EXPECT_FALSE(dialogs.SaveTK1(&owner, QStringLiteral("Bay HARBOUR 2024 06 11.TK1")));
    ASSERT_FALSE(answers.Unanswered());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(title, "Choose the folder for the TK1 files (named by location and date)");
    EXPECT_TRUE(foldersOnly);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(QDir::cleanPath(*chosen), QString::fromStdString(dir / "Bay HARBOUR 2024 06 11.TK1"));
}

TEST(QtDialogsTest, OpenDialogTakesSeveralExistingFilesWithTheWavFilterFirst) {
    test::App();
    wtk::test::TempDir dir;
    wtk::test::WriteFileBytes(dir / "A.20240611080000.wav", {0});
    wtk::test::WriteFileBytes(dir / "B.20240611080000.wav", {0});
    QWidget owner;
    QtDialogs dialogs;
    QString title, selectedFilter;
    QStringList filters;
    bool several = false;
    ModalAnswers answers({
        [&](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (fd == nullptr) return Click(w, QMessageBox::Cancel);
            title = fd->windowTitle();
            filters = fd->nameFilters();
            selectedFilter = fd->selectedNameFilter();
            several = fd->fileMode() == QFileDialog::ExistingFiles;
            fd->reject();
        },
        [&](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (fd == nullptr) return Click(w, QMessageBox::Cancel);
            fd->setDirectory(QString::fromStdString(dir.path().string()));
            if (auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(QStringLiteral("\"A.20240611080000.wav\" \"B.20240611080000.wav\""));
            static_cast<QDialog*>(fd)->accept();
        },
    });
    const QString filter = QStringLiteral("WAV files|*.wav|All files|*.*");
    EXPECT_FALSE(dialogs.OpenFiles(&owner, QStringLiteral("Select one or more files"), filter));
    const std::optional<QStringList> chosen =
        dialogs.OpenFiles(&owner, QStringLiteral("Select one or more files"), filter);
    ASSERT_FALSE(answers.Unanswered());
    EXPECT_EQ(title, "Select one or more files");
    EXPECT_EQ(filters, (QStringList{"WAV files (*.wav)", "All files (*)"}));
    EXPECT_EQ(selectedFilter, "WAV files (*.wav)");
    EXPECT_TRUE(several);
    ASSERT_TRUE(chosen.has_value());
    ASSERT_EQ(chosen->size(), 2);
    EXPECT_TRUE(chosen->at(0).endsWith("A.20240611080000.wav"));
    EXPECT_TRUE(chosen->at(1).endsWith("B.20240611080000.wav"));
}

}  // namespace
}  // namespace wtk::ui
