#include "ui_test_support.h"

#include <QDir>
#include <cstdlib>
#include <filesystem>

#include "synth/synth.h"

namespace wtk::ui::test {

QApplication& App() {
    static int argc = 1;
    static char name[] = "wtk_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

QStringList WriteExampleArchive(const std::string& folder, double seconds) {
    std::filesystem::create_directories(folder);
    synth::ExampleOptions options;
    options.SampleRate = 384000;
    options.Seconds = seconds;
    QStringList files;
    for (const synth::ExampleFile& f : synth::ExampleArchive(options)) {
        const std::string path = folder + "/" + f.Name;
        synth::WriteWav(path, f.Spec);
        files << QString::fromStdString(path);
    }
    files.sort();
    return files;
}

void FakeDialogs::ShowMessage(QWidget*, const QString& text) {
    log_.messages << text;
    if (script_.onMessage) script_.onMessage(text);
}

bool FakeDialogs::AskYesNo(QWidget*, const QString& question) {
    log_.questions << question;
    return script_.yesNoAnswer;
}

std::optional<int> FakeDialogs::AskChoice(QWidget*, const QString& question,
                                          const QStringList& choices) {
    log_.questions << question + "\n" + choices.join(QStringLiteral("|"));
    return script_.choiceAnswer;
}

std::optional<QStringList> FakeDialogs::OpenFiles(QWidget*, const QString& title,
                                                  const QString& filter) {
    log_.titles << title;
    log_.filters << filter;
    return script_.openAnswer;
}

std::optional<QString> FakeDialogs::ChooseDirectory(QWidget*, const QString& caption) {
    log_.titles << caption;
    return script_.directoryAnswer;
}

std::optional<QString> FakeDialogs::SaveTK1(QWidget*, const QString& suggestedName) {
    log_.suggestedNames << suggestedName;
    if (!script_.saveDirectory) return std::nullopt;
    return QDir(*script_.saveDirectory).filePath(suggestedName);
}

void FakeDialogs::ShowDocument(QWidget*, const QString& title, const QString& markdown) {
    log_.documents << title << markdown;
}

std::optional<QString> FakeDialogs::SaveFile(QWidget*, const QString& title,
                                             const QString& suggestedName, const QString& filter) {
    log_.titles << title;
    log_.filters << filter;
    log_.suggestedNames << suggestedName;
    return script_.saveFileAnswer;
}

}  // namespace wtk::ui::test

// The font library keeps a cache for the life of the process that the leak checker of the
// sanitizer build reports; it is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
