// Helpers for the window tests: one QApplication on Qt's offscreen platform, and dialogs
// answered from a script.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialogs.h"

namespace wtk::ui::test {

// Created at first use; the offscreen platform unless the environment names another.
QApplication& App();

// The bundled example archive (two locations) at 384 k samples/s, each file the given seconds
// long, written into folder: the files' paths, sorted.
QStringList WriteExampleArchive(const std::string& folder, double seconds);

class FakeDialogs : public Dialogs {
public:
    struct Log {
        QStringList messages;   // message boxes, in order
        QStringList questions;  // Yes/No questions and choices
        QStringList titles;     // titles and captions of the file dialogs
        QStringList filters;
        QStringList suggestedNames;  // of the TK1 folder dialog
        QStringList documents;       // title, then text, of each document box
    };
    // The answers; they and the log outlive the dialogs object inside the window.
    struct Script {
        std::optional<QStringList> openAnswer;
        std::optional<QString> directoryAnswer;
        std::optional<QString> saveDirectory;  // the folder dialog returns this + suggested name
        bool yesNoAnswer = false;
        std::optional<int> choiceAnswer;  // index of the choice taken; nullopt: cancelled
        std::optional<QString> saveFileAnswer;
        std::function<void(const QString&)> onMessage;
    };

    FakeDialogs(Script& script, Log& log) : script_(script), log_(log) {}

    void ShowMessage(QWidget*, const QString& text) override;
    bool AskYesNo(QWidget*, const QString& question) override;
    std::optional<int> AskChoice(QWidget*, const QString& question,
                                 const QStringList& choices) override;
    std::optional<QStringList> OpenFiles(QWidget*, const QString& title,
                                         const QString& filter) override;
    std::optional<QString> ChooseDirectory(QWidget*, const QString& caption) override;
    std::optional<QString> SaveTK1(QWidget*, const QString& suggestedName) override;
    void ShowDocument(QWidget*, const QString& title, const QString& markdown) override;
    std::optional<QString> SaveFile(QWidget*, const QString& title, const QString& suggestedName,
                                    const QString& filter) override;

private:
    Script& script_;
    Log& log_;
};

}  // namespace wtk::ui::test
