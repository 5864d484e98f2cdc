// The desktop application: start-up order, then the message loop until the main window closes.
// With --screenshot it converts a directory of recordings through the window without asking
// anything, saves a picture of the window and ends. --results opens TK1 files on the Results
// page (with --screenshot: a picture of that page, or of a train with --train).
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "ui/main_window.h"
#include "ui/results_page.h"

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
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&,
                                    const QString&) override {
        return std::nullopt;
    }

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
    const QCommandLineOption results(
        QStringLiteral("results"),
        QStringLiteral("Open the TK1 file or folder <path> on the Results page (repeatable). With "
                       "--screenshot (and no --convert): save a picture of the window showing "
                       "them and quit."),
        QStringLiteral("path"));
    const QCommandLineOption train(
        QStringLiteral("train"),
        QStringLiteral("With --results: select train <number> of the first location and show "
                       "it."),
        QStringLiteral("number"));
    parser.addOption(screenshot);
    parser.addOption(convert);
    parser.addOption(results);
    parser.addOption(train);
    parser.addPositionalArgument(QStringLiteral("outdir"),
                                 QStringLiteral("With --screenshot: where the TK1 files go."),
                                 QStringLiteral("[outdir]"));
    parser.process(app);

    const bool showResults = parser.isSet(results);
    const bool unattended = parser.isSet(screenshot) && !showResults;
    if (showResults && parser.isSet(convert)) {
        std::fprintf(stderr, "--results and --convert do not go together\n");
        return 2;
    }
    if (parser.isSet(train) && !showResults) {
        std::fprintf(stderr, "--train goes with --results only\n");
        return 2;
    }
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
    if (showResults) {
        std::vector<std::string> paths;
        for (const QString& p : parser.values(results)) paths.push_back(wtk::ui::ToEngine(p));
        // The whole height of the screen for the clicks.
        if (QScreen* screen = Cv->screen())
            Cv->resize(Cv->width(), screen->availableGeometry().height());
        Cv->Pages->setCurrentWidget(Cv->Results);
        if (Cv->Results->Open(paths) == 0) return 1;
        if (parser.isSet(train)) {
            const auto& trains = Cv->Results->Locations().front()->Trains;
            const qint64 number = parser.value(train).toLongLong();
            const auto at = std::find_if(trains.begin(), trains.end(),
                                         [&](const auto& t) { return t.Number == number; });
            if (at == trains.end()) {
                std::fprintf(stderr, "--train %lld: no such train\n",
                             static_cast<long long>(number));
                return 2;
            }
            Cv->Results->SelectTrain(static_cast<size_t>(at - trains.begin()), true);
        }
        if (!parser.isSet(screenshot)) return app.exec();
        int status = 0;
        QTimer::singleShot(200, Cv.get(), [&] {
            QCoreApplication::processEvents();
            if (!Cv->grab().save(parser.value(screenshot), "PNG")) status = 1;
            QCoreApplication::exit(status);
        });
        return app.exec();
    }
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
