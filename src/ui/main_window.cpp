#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QSessionManager>
#include <algorithm>

#include "settings/settings_form.h"
#include "ui/clickable_label.h"
#include "ui/settings_window.h"

namespace wtk::ui {

const char* const TCv::kWindowCaption = "Convert 16bit  .wav files to virtual Tkeb  .TK1 files";
const char* const TCv::kViewSettingsInitial = "5.    Click to view advanced settings (optional)";

namespace {

const QColor kSkyBlue(166, 202, 240);
constexpr int kRateMaxLength = 4;  // the rate accepts 1 ... 2000 k samples/s

const char* const kStartupNotice[] = {
    "This software converts .wav files to virtual TKEB  .TK1 files",
    "It does not produce what an T-KEB would have produced - T-KEBs sample at 1MHz.",
    "The VESKA-T classifier results from virtual TKEB  .TK1 files may be very bad!!",
    "The value is in showing where click trains may exist in your .wav files",
    "More information will be placed on www.example.org/wavtokeb",
    "",
};

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setPointSize(8);
    return font;
}

void Fill(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

QPlainTextEdit* NewMemo(QWidget* parent) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return memo;
}

QLabel* NewLegend(QWidget* parent, const QString& caption, const QColor& colour,
                  const QString& hint, int left, int width) {
    auto* label = new QLabel(caption, parent);
    Fill(label, Qt::black);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setToolTip(hint);
    label->setGeometry(left, 4, width, 20);
    return label;
}

// Select the whole memo and copy the selection to the clipboard.
void CopyAll(QPlainTextEdit* memo) {
    memo->selectAll();
    memo->copy();
}

}  // namespace

QString FromEngine(const std::string& s) {
    return QFile::decodeName(QByteArray(s.data(), static_cast<qsizetype>(s.size())));
}

std::string ToEngine(const QString& s) {
    return QFile::encodeName(s).toStdString();
}

TCv::TCv(std::unique_ptr<Dialogs> dialogs)
    : dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtDialogs>()) {
    setObjectName(QStringLiteral("Cv"));
    setWindowTitle(Q(kWindowCaption));
    setFont(WindowFont());
    Fill(this, kWindowColour);
    resize(kDesignClientWidth, kDesignClientHeight);

    // The session holds the flags (WavFileOpen, TK1Open, IndexFileOpen, STOP, Busy all false).
    session_ = std::make_unique<Session>(*this);

    WindowCanvas = new ImageCanvas(kWindowColour, this);
    WindowCanvas->setGeometry(0, 0, kGraphBoxLeft, kDesignClientHeight);
    GraphBox = new ImageCanvas(Qt::black, this);
    GraphBox->setToolTip(
        Q("Graphs here show the data at the start of the wav file. Expand the width of the window "
          "to view a longer series. The Y axis is adjusted automatically to show the largest "
          "amplitude in the actual data as full height on the screen."));
    AmpScaleBarShape = new AmpScaleBar(this);
    AmpScaleBarShape->setGeometry(SignalGraphs::kBarLeft, 0, SignalGraphs::kBarWidth, 1);
    AmpScaleBarShape->hide();  // appears with the first trace
    graphs_ = std::make_unique<SignalGraphs>(*GraphBox, *AmpScaleBarShape, *WindowCanvas);

    BuildControlPanel();
    BuildResultsPanel();

    // The window sits at the top left of the screen, as wide as the screen less 40 pixels.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.topLeft());
        resize(std::max(screen->geometry().width() - 40, 400), kDesignClientHeight);
    }
    FormResize(width(), height());

#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TCv::WMQueryEndSession);
#endif

    for (const char* line : kStartupNotice) AppendMemo(Memo::FilesMemo, line);
    UpdateBusyState();
}

TCv::~TCv() {
    // The settings window goes first: its hide handler reaches back into this window.
    delete setFm_;
    setFm_ = nullptr;
    // FormDestroy: release the buffers and close an open TK1 or WAV file.
    session_->FormDestroy();
}

void TCv::BuildControlPanel() {
    ControlPanel = new QWidget(this);
    Fill(ControlPanel, kSkyBlue);
    ControlPanel->resize(kControlPanelWidth, kControlPanelHeight);
    QWidget* cp = ControlPanel;

    BigLbl = new QLabel(QStringLiteral("No files selected"), cp);
    BigLbl->setWordWrap(true);
    QFont big = font();
    big.setBold(true);
    BigLbl->setFont(big);
    BigLbl->setGeometry(8, 6, 188, 34);

    StopBtn = new QPushButton(QStringLiteral("STOP"), cp);
    StopBtn->setToolTip(QStringLiteral("processed data is retained."));
    StopBtn->setFont(big);
    StopBtn->setGeometry(200, 8, 55, 28);
    connect(StopBtn, &QPushButton::clicked, this, &TCv::StopBtnClick);

    Label9 = new QLabel(QStringLiteral("1.    Sample rate k/s :"), cp);
    Label9->setToolTip(QStringLiteral("  All files must have this sample rate"));
    Label9->setGeometry(8, 48, 150, 16);
    KsamplesPerSecEdit = new QLineEdit(QStringLiteral("576"), cp);
    KsamplesPerSecEdit->setToolTip(
        QStringLiteral(" sample rate as thousands of samples per second"));
    KsamplesPerSecEdit->setMaxLength(kRateMaxLength);
    KsamplesPerSecEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kRateMaxLength)), KsamplesPerSecEdit));
    KsamplesPerSecEdit->setGeometry(160, 45, 50, 21);
    session_->Controls.KsamplesPerSecEdit = "576";
    connect(KsamplesPerSecEdit, &QLineEdit::textChanged, this, &TCv::KsamplesPerSecEditChange);

    Label8 = new QLabel(QStringLiteral("2.    Site name / logger ID (for KEB file name) :"), cp);
    Label8->setToolTip(
        QStringLiteral("This prefix applies to the vTkeb file that will be created"));
    Label8->setGeometry(8, 71, 250, 16);
    AddedSiteNameEdit = new QLineEdit(QStringLiteral("NewFileName"), cp);
    AddedSiteNameEdit->setGeometry(22, 89, 110, 21);
    session_->Controls.AddedSiteNameEdit = "NewFileName";
    connect(AddedSiteNameEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { session_->Controls.AddedSiteNameEdit = ToEngine(t); });
    LoggerNumberEdit = new QLineEdit(QStringLiteral("Logger ID number"), cp);
    LoggerNumberEdit->setToolTip(
        QStringLiteral("  This is the instrument number.  Max value is 4,294,967,296!"));
    LoggerNumberEdit->setGeometry(138, 89, 117, 21);
    session_->Controls.LoggerNumberEdit = "Logger ID number";
    connect(LoggerNumberEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { session_->Controls.LoggerNumberEdit = t.toStdString(); });

    Label5 = new ClickableLabel(QStringLiteral("3.    "), cp);
    Label5->setGeometry(8, 119, 20, 16);
    connect(Label5, &ClickableLabel::clicked, this, &TCv::ViewSettingsLblClick);
    UseFileNameDateTimes = new QCheckBox(QStringLiteral("Get Date/time from file name"), cp);
    UseFileNameDateTimes->setChecked(true);
    UseFileNameDateTimes->setGeometry(28, 117, 225, 20);
    session_->Controls.UseFileNameDateTimes = true;
    connect(UseFileNameDateTimes, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.UseFileNameDateTimes = on; });

    Label10 = new QLabel(QStringLiteral("4."), cp);
    Label10->setGeometry(8, 147, 20, 16);
    SelectBatchBtn = new QPushButton(QStringLiteral("Select WAV files"), cp);
    SelectBatchBtn->setToolTip(
        QStringLiteral("This program works correctly with 16bit  .wav  files sampled at 384k with "
                       "filename format = LocationOrInstrumentNumber.yyyymmddhhmmss.wav.  The "
                       "scrapbook option handles other name formats"));
    SelectBatchBtn->setGeometry(28, 142, 110, 27);
    connect(SelectBatchBtn, &QPushButton::clicked, this, &TCv::SelectBatchBtnClick);
    SearchDirectories = new QCheckBox(QStringLiteral("Search directories"), cp);
    SearchDirectories->setToolTip(
        QStringLiteral("  this enables you to process all the *.wav files in a directory, and all "
                       "its subdirectories.  You only select the directory."));
    SearchDirectories->setGeometry(142, 146, 120, 20);
    session_->Controls.SearchDirectories = false;
    connect(SearchDirectories, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.SearchDirectories = on; });

    ViewSettingsLbl = new ClickableLabel(Q(kViewSettingsInitial), cp);
    QFont link = font();
    link.setUnderline(true);
    ViewSettingsLbl->setFont(link);
    QPalette linkPal = ViewSettingsLbl->palette();
    linkPal.setColor(QPalette::WindowText, QColor(0, 0, 160));
    ViewSettingsLbl->setPalette(linkPal);
    ViewSettingsLbl->setCursor(Qt::PointingHandCursor);
    ViewSettingsLbl->setGeometry(8, 178, 250, 16);
    connect(ViewSettingsLbl, &ClickableLabel::clicked, this, &TCv::ViewSettingsLblClick);

    Label2 = new QLabel(QStringLiteral("6.    Proceed with one of these:"), cp);
    Label2->setGeometry(8, 201, 250, 16);
    ConvertBatchBtn = new QPushButton(QStringLiteral("Create vTkeb files for each location"), cp);
    ConvertBatchBtn->setToolTip(
        QStringLiteral("Creates a single *.TK1 file from all the *.wav files selected. Separate "
                       "files are created for each location or intrument identifier in the file "
                       "names, and the data time is taken from the filename. The TK1 files can be "
                       "viewed in RKEB.exe"));
    ConvertBatchBtn->setGeometry(22, 220, 233, 27);
    connect(ConvertBatchBtn, &QPushButton::clicked, this, &TCv::ConvertBatchBtnClick);
    MakeScrapbookBtn =
        new QPushButton(QStringLiteral("Create a single 'vTkeb scrapbook' file"), cp);
    MakeScrapbookBtn->setToolTip(
        QStringLiteral("Creates a single *.TK1 file from all the *.wav files selected, putting "
                       "each one in a new minute.  This file can be viewed in RKEB.exe"));
    MakeScrapbookBtn->setGeometry(22, 250, 233, 27);
    connect(MakeScrapbookBtn, &QPushButton::clicked, this, &TCv::MakeScrapbookBtnClick);

    ShowGraphs = new QCheckBox(QStringLiteral(" show graphs"), cp);
    ShowGraphs->setChecked(true);
    ShowGraphs->setGeometry(22, 282, 95, 20);
    session_->Controls.ShowGraphs = true;
    connect(ShowGraphs, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.ShowGraphs = on; });
    MakeSourceLinkageFile = new QCheckBox(QStringLiteral("Make source linkage file"), cp);
    MakeSourceLinkageFile->setChecked(true);
    MakeSourceLinkageFile->setToolTip(
        QStringLiteral("This creates a text file listing all the wav files. It enables you, in "
                       "Nyctar.exe, to instantly find the wav file that was the source of the data "
                       "you are viewing in the virtual Nyctar file (in high resolution)"));
    MakeSourceLinkageFile->setGeometry(120, 282, 140, 20);
    session_->Controls.MakeSourceLinkageFile = true;
    connect(MakeSourceLinkageFile, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.MakeSourceLinkageFile = on; });

    ProgressLbl = new QLabel(QStringLiteral("..."), cp);
    QPalette red = ProgressLbl->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    ProgressLbl->setPalette(red);
    ProgressLbl->setGeometry(8, 304, 250, 16);

    DataMemo = NewMemo(cp);
    DataMemo->setGeometry(4, 324, 255, 80);
    DATA2Memo = NewMemo(cp);
    DATA2Memo->setGeometry(4, 408, 255, 120);
    CopyDataToClip = new QPushButton(QStringLiteral("Copy To clipboard"), cp);
    CopyDataToClip->setGeometry(4, 532, 125, 25);
    connect(CopyDataToClip, &QPushButton::clicked, this, &TCv::CopyDataToClipClick);
    ClearDataMemo = new QPushButton(QStringLiteral("Clear Memos"), cp);
    ClearDataMemo->setGeometry(134, 532, 125, 25);
    connect(ClearDataMemo, &QPushButton::clicked, this, &TCv::ClearDataMemoClick);
}

void TCv::BuildResultsPanel() {
    ResultsPanel = new QWidget(this);
    ResultsPanel->resize(kDesignClientWidth - kControlPanelWidth - 10, kResultsPanelHeight);
    QWidget* rp = ResultsPanel;

    CopyFilesMemoToClip = new QPushButton(QStringLiteral("Copy list to clipboard"), rp);
    CopyFilesMemoToClip->setGeometry(4, 2, 140, 25);
    connect(CopyFilesMemoToClip, &QPushButton::clicked, this, &TCv::CopyFilesMemoToClipClick);
    ClearFilesMemo = new QPushButton(QStringLiteral("Clear Memo"), rp);
    ClearFilesMemo->setGeometry(150, 2, 100, 25);
    connect(ClearFilesMemo, &QPushButton::clicked, this, &TCv::ClearFilesMemoClick);

    Label1 = NewLegend(rp, QStringLiteral("_______ .wav file data") + QString(9, u' '),
                       QColor(0, 255, 0),
                       QStringLiteral("this is the raw data from the .wav file. Initial zeroes are "
                                      "skipped."),
                       309, 138);
    Label3 = NewLegend(
        rp, QStringLiteral("_______ high pass filtered") + QString(17, u' '), QColor(255, 0, 0),
        QStringLiteral("The data after filtering to remove low frequency noise"), 444, 167);
    Label4 =
        NewLegend(rp, QStringLiteral("_______ band pass filtered * scaler") + QString(3, u' '),
                  QColor(255, 255, 255),
                  QStringLiteral("the data after further filtering to remove high frequency noise"),
                  607, 184);

    FilesMemo = NewMemo(rp);
    FilesMemo->setToolTip(QStringLiteral(
        "These data can be pasted directly into a spreadsheet or document from the clipboard."));
    FilesMemo->setGeometry(2, 28, ResultsPanel->width() - 4, kResultsPanelHeight - 30);
    FilesMemo->viewport()->installEventFilter(this);
}

void TCv::CreateSettingsWindow() {
    setFm_ = new TSetFm(session_->SetFm, this);
    connect(setFm_, &TSetFm::FormHidden, this, &TCv::SettingsFormHidden);
    session_->Start();
    setFm_->LoadFromModel();
}

void TCv::SetDialogs(std::unique_ptr<Dialogs> dialogs) {
    dialogs_ = std::move(dialogs);
}

// ---- layout ----

void TCv::FormResize(int CW, int CH) {
    const int controlPanelLeft = CW - kControlPanelWidth;
    ControlPanel->setGeometry(controlPanelLeft, 0, kControlPanelWidth, kControlPanelHeight);
    const int resultsWidth =
        CH > kControlPanelHeight + kResultsPanelHeight ? CW - 2 : CW - kControlPanelWidth - 10;
    const int resultsTop = CH - kResultsPanelHeight;
    ResultsPanel->setGeometry(0, resultsTop, std::max(resultsWidth, 1), kResultsPanelHeight);
    FilesMemo->setGeometry(2, 28, std::max(resultsWidth - 4, 1), kResultsPanelHeight - 30);
    const int graphHeight = std::max(resultsTop - 30, 1);
    const int graphWidth = std::max(controlPanelLeft - 70, 1);
    GraphBox->setGeometry(kGraphBoxLeft, 0, graphWidth, graphHeight);
    WindowCanvas->setGeometry(0, 0, kGraphBoxLeft, std::max(CH, 1));
    graphs_->DisplayWidth = graphWidth;
}

void TCv::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize(event->size().width(), event->size().height());
}

// ---- host ----

void TCv::ShowMessage(const std::string& text) {
    dialogs_->ShowMessage(this, FromEngine(text));
}

void TCv::SetText(Label which, const std::string& text) {
    const QString t = FromEngine(text);
    switch (which) {
        case Label::BigLbl:
            BigLbl->setText(t);
            break;
        case Label::ProgressLbl:
            ProgressLbl->setText(t);
            if (ProgressLbl->isVisible()) ProgressLbl->repaint();
            break;
        case Label::Caption:
            setWindowTitle(t);
            break;
        case Label::SelectBatchBtn:
            SelectBatchBtn->setText(t);
            break;
        case Label::ConvertBatchBtn:
            ConvertBatchBtn->setText(t);
            break;
        case Label::MakeScrapbookBtn:
            MakeScrapbookBtn->setText(t);
            break;
    }
}

QPlainTextEdit* TCv::MemoOf(Memo which) {
    switch (which) {
        case Memo::FilesMemo:
            return FilesMemo;
        case Memo::DataMemo:
            return DataMemo;
        case Memo::DATA2Memo:
            return DATA2Memo;
    }
    return FilesMemo;
}

void TCv::AppendMemo(Memo which, const std::string& line) {
    MemoOf(which)->appendPlainText(FromEngine(line));
}

void TCv::ProcessMessages() {
    UpdateBusyState();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TCv::Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst) {
    if (AmpScaleBarShape->isHidden()) AmpScaleBarShape->show();
    graphs_->Graphvals(Buf, GraphID, Xinc, ClearFirst);
}

int32_t TCv::HiResSamplesLength() {
    QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const int screenWidth = s != nullptr ? s->geometry().width() : kDesignClientWidth;
    return std::max((screenWidth - kControlPanelWidth) / 2, 2);
}

std::optional<std::string> TCv::SaveTK1Dialog(const std::string& suggestedName) {
    auto chosen = dialogs_->SaveTK1(this, FromEngine(suggestedName));
    if (!chosen) return std::nullopt;
    return ToEngine(*chosen);
}

bool TCv::AskYesNo(const std::string& question) {
    return dialogs_->AskYesNo(this, FromEngine(question));
}

std::optional<std::vector<std::string>> TCv::OpenFilesDialog(const std::string& title,
                                                             const std::string& filter) {
    auto chosen = dialogs_->OpenFiles(this, FromEngine(title), ToQtFilter(FromEngine(filter)));
    if (!chosen) return std::nullopt;
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(chosen->size()));
    for (const QString& p : *chosen) paths.push_back(ToEngine(p));
    return paths;
}

std::optional<std::string> TCv::ChooseDirectory(const std::string& caption) {
    auto chosen = dialogs_->ChooseDirectory(this, FromEngine(caption));
    if (!chosen) return std::nullopt;
    return ToEngine(*chosen);
}

void TCv::HideSettingsWindow() {
    if (setFm_ != nullptr) setFm_->hide();
}

// ---- commands ----

void TCv::UpdateBusyState() {
    const bool idle = !session_->Busy;
    SelectBatchBtn->setEnabled(idle);
    ConvertBatchBtn->setEnabled(idle);
    MakeScrapbookBtn->setEnabled(idle);
    KsamplesPerSecEdit->setEnabled(idle);
    ViewSettingsLbl->setEnabled(idle);
    Label5->setEnabled(idle);
}

void TCv::StopBtnClick() {
    session_->StopBtnClick();
}

void TCv::SelectBatchBtnClick() {
    if (session_->Busy) return;
    session_->SelectBatchBtnClick();
    UpdateBusyState();
}

void TCv::ConvertBatchBtnClick() {
    if (session_->Busy) return;
    session_->ConvertBatchBtnClick();
    UpdateBusyState();
}

void TCv::MakeScrapbookBtnClick() {
    if (session_->Busy) return;
    session_->MakeScrapbookBtnClick();
    UpdateBusyState();
}

void TCv::KsamplesPerSecEditChange() {
    if (session_->Busy) return;  // the edit is disabled then; the batch keeps its rate
    session_->Controls.KsamplesPerSecEdit = KsamplesPerSecEdit->text().toStdString();
    session_->KsamplesPerSecEditChange();
}

void TCv::ViewSettingsLblClick() {
    if (session_->Busy || setFm_ == nullptr) return;
    if (setFm_->isVisible()) {
        ViewSettingsLbl->setText(Q(SettingsTexts::kViewSettingsWhenHidden));
        setFm_->hide();
    } else {
        ViewSettingsLbl->setText(Q(SettingsTexts::kViewSettingsWhenShown));
        setFm_->show();
        setFm_->raise();
    }
}

void TCv::SettingsFormHidden() {
    ViewSettingsLbl->setText(Q(SettingsTexts::kViewSettingsWhenHidden));
}

void TCv::ClearFilesMemoClick() {
    FilesMemo->clear();
}

void TCv::ClearDataMemoClick() {
    DataMemo->clear();
    DATA2Memo->clear();
}

void TCv::CopyFilesMemoToClipClick() {
    CopyAll(FilesMemo);
}

void TCv::CopyDataToClipClick() {
    CopyAll(DATA2Memo);
}

void TCv::FilesMemoDblClick() {
    CopyAll(FilesMemo);
    FilesMemo->clear();
}

bool TCv::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FilesMemo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        FilesMemoDblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TCv::WMQueryEndSession(QSessionManager& manager) {
    // Refusing needs the session manager's leave to interact; without it the desktop ends
    // the session regardless.
    if (!QueryEndSession() && manager.allowsInteraction()) {
        manager.cancel();
        manager.release();
    }
}

void TCv::closeEvent(QCloseEvent* event) {
    // Closing while a command runs: the batch stops after the file in progress and finalises
    // its TK1 file; the program ends when the command has returned.
    if (session_->Busy) session_->StopBtnClick();
    if (setFm_ != nullptr) setFm_->hide();
    event->accept();
}

std::unique_ptr<TCv> StartUp(std::unique_ptr<Dialogs> dialogs) {
    QApplication::setApplicationName(Q(kApplicationTitle));
    auto Cv = std::make_unique<TCv>(std::move(dialogs));
    Cv->CreateSettingsWindow();
    return Cv;
}

}  // namespace wtk::ui
