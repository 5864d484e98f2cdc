// The window's dialogs behind one replaceable object, so that tests (and the screenshot run)
// can answer them without a person. Paths travel as QString; the window converts them to the
// engine's byte strings.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace wtk::ui {

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal message box with an OK button.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // A modal question with Yes and No, centred on the parent window. True for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& question) = 0;
    // A modal choice of one of the choices under a question: its index, nullopt: cancelled.
    virtual std::optional<int> AskChoice(QWidget* parent, const QString& question,
                                         const QStringList& choices) = 0;
    // Multi-select open dialog; filter in the "Name (*.a);;Name (*)" form. nullopt: cancelled.
    virtual std::optional<QStringList> OpenFiles(QWidget* parent, const QString& title,
                                                 const QString& filter) = 0;
    // Directory chooser. nullopt: cancelled.
    virtual std::optional<QString> ChooseDirectory(QWidget* parent, const QString& caption) = 0;
    // Where the TK1 files go: a folder chooser titled kTK1FolderTitle. Returns the chosen
    // folder joined with suggestedName (the batch names its TK1 files itself and takes only
    // the folder). nullopt: cancelled.
    virtual std::optional<QString> SaveTK1(QWidget* parent, const QString& suggestedName) = 0;
    // A modal box that shows a Markdown document (the Help menu's texts).
    virtual void ShowDocument(QWidget* parent, const QString& title, const QString& markdown) = 0;
    // The name of a file to write, suggestedName offered; the caller asks before it replaces a
    // file. nullopt: cancelled.
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& title,
                                            const QString& suggestedName,
                                            const QString& filter) = 0;
};

inline constexpr const char* kTK1FolderTitle =
    "Choose the folder for the TK1 files (named by location and date)";

// The real dialogs of the desktop.
class QtDialogs : public Dialogs {
public:
    void ShowMessage(QWidget* parent, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& question) override;
    std::optional<int> AskChoice(QWidget* parent, const QString& question,
                                 const QStringList& choices) override;
    std::optional<QStringList> OpenFiles(QWidget* parent, const QString& title,
                                         const QString& filter) override;
    std::optional<QString> ChooseDirectory(QWidget* parent, const QString& caption) override;
    std::optional<QString> SaveTK1(QWidget* parent, const QString& suggestedName) override;
    void ShowDocument(QWidget* parent, const QString& title, const QString& markdown) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& title,
                                    const QString& suggestedName, const QString& filter) override;
};

// The engine's filter texts may come as "Name|pattern|Name|pattern"; the dialogs take
// "Name (pattern);;Name (pattern)". "*.*" becomes "*" (every file, with or without a dot).
QString ToQtFilter(const QString& filter);

}  // namespace wtk::ui
