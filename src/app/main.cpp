// The desktop application: start-up order, then the message loop until the main window closes.
// With --screenshot it converts a directory of recordings through the window without asking
// anything, saves a picture of the window and ends.
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "ui/main_window.h"

namespace {

// Answers every dialog for an unattended conversion of one directory into another.
class UnattendedDialogs : public wtk::ui::Dialogs {
public:
    UnattendedDialogs(QString sourceDir, QString outDir)
        : sourceDir_(std::move(sourceDir)), outDir_(std::move(outDir)) {}

    void ShowMessage(QWidget*, const QString& text) override {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    bool AskYesNo(QWidget*, const QString&) override { return true; }
    std::optional<int> AskChoice(QWidget*, const QString&, const QStringList&) override {
        return 0;
    }
    std::optional<QStringList> OpenFiles(QWidget*, const QString&, const QString&) override {
        QStringList files;
        QDirIterator it(sourceDir_,
                        {QStringLiteral("*.wav"), QStringLiteral("*.WAV"), QStringLiteral("*.flac"),
                         QStringLiteral("*.FLAC")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) files << it.next();
        files.sort();
        if (files.isEmpty()) return std::nullopt;
        return files;
    }
    std::optional<QString> ChooseDirectory(QWidget*, const QString&) override { return sourceDir_; }
    std::optional<QString> SaveTK1(QWidget*, const QString& suggestedName) override {
        return QDir(outDir_).filePath(suggestedName);
    }
    void ShowDocument(QWidget*, const QString&, const QString&) override {}

private:
    QString sourceDir_;
    QString outDir_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Converts 16-bit .wav recordings into virtual TK1 click-data files.\n"
                       "Without options the window opens and the user works through its steps."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Convert the recordings given by --convert through the window without "
                       "asking anything, with graphs on, save a picture of the window to <file> "
                       "(PNG) and quit."),
        QStringLiteral("file"));
    const QCommandLineOption convert(
        QStringLiteral("convert"),
        QStringLiteral("With --screenshot: the directory <dir> whose .wav files (sub-directories "
                       "included) are converted, one TK1 file per location, into the directory "
                       "given as the first positional argument."),
        QStringLiteral("dir"));
    parser.addOption(screenshot);
    parser.addOption(convert);
    parser.addPositionalArgument(QStringLiteral("outdir"),
                                 QStringLiteral("With --screenshot: where the TK1 files go."),
                                 QStringLiteral("[outdir]"));
    parser.process(app);

    const bool unattended = parser.isSet(screenshot);
    if (unattended && (!parser.isSet(convert) || parser.positionalArguments().size() != 1)) {
        std::fprintf(stderr, "--screenshot needs --convert <dir> and an output directory\n");
        return 2;
    }
    if (!unattended && (parser.isSet(convert) || !parser.positionalArguments().isEmpty())) {
        std::fprintf(stderr, "--convert and an output directory go with --screenshot only\n");
        return 2;
    }

    std::unique_ptr<wtk::ui::TCv> Cv = wtk::ui::StartUp();
    Cv->show();
    if (!unattended) return app.exec();

    const QString outDir = parser.positionalArguments().first();
    QDir().mkpath(outDir);
    Cv->SetDialogs(std::make_unique<UnattendedDialogs>(parser.value(convert), outDir));
    int status = 0;
    QTimer::singleShot(200, Cv.get(), [&] {
        Cv->ShowGraphs->setChecked(true);
        Cv->SearchDirectories->setChecked(true);
        Cv->SelectBatchBtn->click();
        Cv->ConvertBatchBtn->click();
        if (Cv->session().LastOutcome != wtk::Session::Outcome::Done) status = 1;
        QCoreApplication::processEvents();
        if (!Cv->grab().save(parser.value(screenshot), "PNG")) {
            std::fprintf(stderr, "could not write %s\n",
                         parser.value(screenshot).toLocal8Bit().constData());
            status = 1;
        }
        QCoreApplication::exit(status);
    });
    return app.exec();
}
