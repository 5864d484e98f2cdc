#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>

#include "session/progress.h"
#include "settings/settings_form.h"
#include "ui/clickable_label.h"
#include "ui/settings_window.h"

namespace wtk::ui {

const char* const TCv::kWindowCaption = "Convert 16bit  .wav files to virtual Tkeb  .TK1 files";
const char* const TCv::kViewSettingsInitial = "5.    Click to view advanced settings (optional)";

namespace {

const QColor kSkyBlue(166, 202, 240);
constexpr int kRateMaxLength = 4;   // the rate accepts 1 ... 2000 k samples/s
constexpr int kRedrawWidth = 4096;  // pixels of trace kept for a redraw, at least
constexpr int kLegendGap = 53;      // with the row's spacing, 59 pixels from buttons to legends

const char* const kStartupNotice[] = {
    "This software converts .wav files to virtual TKEB  .TK1 files",
    "It does not produce what an T-KEB would have produced - T-KEBs sample at 1MHz.",
    "The VESKA-T classifier results from virtual TKEB  .TK1 files may be very bad!!",
    "The value is in showing where click trains may exist in your .wav files",
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
    // Files dropped on a memo select them like a drop anywhere else on the window.
    memo->setAcceptDrops(false);
    memo->viewport()->setAcceptDrops(false);
    return memo;
}

// A control at least as large as the window definition made it, and larger when its text needs
// it (a 0 keeps the text's own size).
void AtLeast(QWidget* w, int width, int height) {
    w->setMinimumSize(std::max(width, w->sizeHint().width()), height);
    w->setSizePolicy(w->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

// Gives a panel its rectangle and lays its controls out at once, shown or not.
void Place(QWidget* panel, const QRect& r) {
    panel->setGeometry(r);
    if (QLayout* layout = panel->layout()) layout->setGeometry(panel->rect());
}

QLabel* NewLegend(QWidget* parent, const QString& caption, const QColor& colour,
                  const QString& hint) {
    auto* label = new QLabel(caption, parent);
    Fill(label, Qt::black);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setToolTip(hint);
    return label;
}

// The three trace legends as one item of the button row: 20 pixels high, 2 below the row's
// top, at their design widths (wider only when their words need it), each overlapping its
// left neighbour's trailing blanks as in the window definition.
class LegendItem : public QLayoutItem {
public:
    explicit LegendItem(std::array<QLabel*, 3> labels) : labels_(labels) {
        constexpr std::array<int, 3> kWidth = {138, 167, 184};
        constexpr std::array<int, 3> kOverlap = {0, 3, 4};  // with the label to the left
        int x = 0;
        for (size_t i = 0; i < labels_.size(); ++i) {
            const QFontMetrics fm(labels_[i]->font());
            const int words = fm.horizontalAdvance(labels_[i]->text().trimmed()) + 4;
            x -= kOverlap[i];
            left_[i] = x;
            width_[i] = std::max(kWidth[i], words);
            x += width_[i];
        }
        size_ = QSize(x, 22);
    }
    QSize sizeHint() const override { return size_; }
    QSize minimumSize() const override { return size_; }
    QSize maximumSize() const override { return size_; }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool isEmpty() const override { return false; }
    QRect geometry() const override { return rect_; }
    void setGeometry(const QRect& r) override {
        rect_ = r;
        for (size_t i = 0; i < labels_.size(); ++i)
            labels_[i]->setGeometry(r.x() + left_[i], r.y() + 2, width_[i], 20);
    }

private:
    std::array<QLabel*, 3> labels_;
    std::array<int, 3> left_{};
    std::array<int, 3> width_{};
    QSize size_;
    QRect rect_;
};

// The local WAV and FLAC files and folders among dragged items, in their order.
QStringList DroppableWavPaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (info.isDir() ||
            (info.isFile() && (path.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive) ||
                               path.endsWith(QStringLiteral(".flac"), Qt::CaseInsensitive))))
            paths << path;
    }
    return paths;
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
    setAcceptDrops(true);

    // The session holds the flags (WavFileOpen, TK1Open, IndexFileOpen, STOP, Busy all false).
    session_ = std::make_unique<Session>(*this);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    BuildMenu();
    root->setMenuBar(MenuBar);
    ClientArea = new QWidget(this);
    root->addWidget(ClientArea);
    QWidget* client = ClientArea;

    WindowCanvas = new ImageCanvas(kWindowColour, client);
    WindowCanvas->setGeometry(0, 0, kGraphBoxLeft, kDesignClientHeight);
    GraphBox = new ImageCanvas(Qt::black, client);
    GraphBox->setToolTip(
        Q("Graphs here show the data at the start of the wav file. Expand the width of the window "
          "to view a longer series. The Y axis is adjusted automatically to show the largest "
          "amplitude in the actual data as full height on the screen."));
    AmpScaleBarShape = new AmpScaleBar(client);
    AmpScaleBarShape->setGeometry(SignalGraphs::kBarLeft, 0, SignalGraphs::kBarWidth, 1);
    AmpScaleBarShape->hide();  // appears with the first trace
    graphs_ = std::make_unique<SignalGraphs>(*GraphBox, *AmpScaleBarShape, *WindowCanvas);

    BuildControlPanel();
    BuildResultsPanel();
    BuildShortcuts();
    client->installEventFilter(this);

    // The client area is never smaller than the control panel with a narrow graph area beside
    // it.
    const QSize panel = ControlPanel->minimumSizeHint();
    client->setMinimumSize(std::max(panel.width(), kControlPanelWidth) + kGraphBoxLeft + 120,
                           std::max(panel.height(), kResultsPanelHeight + 60));

    // The window sits at the top left of the screen, as wide as the screen less 40 pixels,
    // with a client area of the design height. A resize redraws the traces across any window
    // the desktop can hold.
    const int menuHeight = MenuBar->sizeHint().height();
    resize(kDesignClientWidth, kDesignClientHeight + menuHeight);
    graphs_->RedrawWidth = kRedrawWidth;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.topLeft());
        resize(std::max(screen->geometry().width() - 40, 400), kDesignClientHeight + menuHeight);
        graphs_->RedrawWidth = std::max(kRedrawWidth, screen->virtualGeometry().width());
    }
    // The layout places the client area once the window is shown; until then it already has
    // the size it will get.
    client->setGeometry(0, menuHeight, width(), std::max(height() - menuHeight, 1));
    FormResize(client->width(), client->height());

#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TCv::WMQueryEndSession);
#endif

    for (const char* line : kStartupNotice) AppendMemo(Memo::FilesMemo, line);
    AppendMemo(Memo::FilesMemo,
               "More information will be placed on " +
                   ToEngine(DocumentationAddress(QCoreApplication::applicationDirPath())));
    AppendMemo(Memo::FilesMemo, "");
    UpdateBusyState();
}

TCv::~TCv() {
    // The settings window goes first: its hide handler reaches back into this window.
    delete setFm_;
    setFm_ = nullptr;
    // FormDestroy: release the buffers and close an open TK1 or WAV file.
    session_->FormDestroy();
}

void TCv::BuildMenu() {
    MenuBar = new QMenuBar(this);
    HelpMenu = MenuBar->addMenu(QStringLiteral("&Help"));
    UsageAction = HelpMenu->addAction(QStringLiteral("&Usage"));
    UsageAction->setShortcut(QKeySequence::HelpContents);
    connect(UsageAction, &QAction::triggered, this, &TCv::UsageActionClick);
    AboutAction = HelpMenu->addAction(QStringLiteral("&About WAVtoKEB"));
    connect(AboutAction, &QAction::triggered, this, &TCv::AboutActionClick);
}

void TCv::BuildShortcuts() {
    // Window-wide keys; each does what its button does, and nothing while a command runs
    // (STOP excepted).
    const struct {
        QKeySequence keys;
        void (TCv::*slot)();
    } keys[] = {
        {QKeySequence::Open, &TCv::SelectBatchBtnClick},
        {QKeySequence(Qt::CTRL | Qt::Key_L), &TCv::ConvertBatchBtnClick},
        {QKeySequence(Qt::CTRL | Qt::Key_B), &TCv::MakeScrapbookBtnClick},
        {QKeySequence(Qt::Key_Escape), &TCv::StopBtnClick},
    };
    for (const auto& k : keys) {
        auto* shortcut = new QShortcut(k.keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, k.slot);
    }
}

// The control panel, top to bottom: the status line with STOP, the six numbered steps, the
// progress, and the memos with their buttons.
void TCv::BuildControlPanel() {
    ControlPanel = new QWidget(ClientArea);
    Fill(ControlPanel, kSkyBlue);
    auto* v = new QVBoxLayout(ControlPanel);
    v->setContentsMargins(4, 6, 4, 4);
    v->setSpacing(5);
    // The step numbers' column: "3.    " is as wide as the number part of the step captions.
    const PanelRows rows{v, QFontMetrics(font()).horizontalAdvance(QStringLiteral("3.    "))};
    BuildStatusRow(rows);
    v->addSpacing(2);
    BuildRateAndSiteSteps(rows);
    BuildDateSteps(rows);
    BuildSelectStep(rows);
    v->addSpacing(2);
    BuildProceedSteps(rows);
    BuildProgressRows(rows);
    BuildMemos(v);
}

QHBoxLayout* TCv::PanelRows::Row(int indent) const {
    auto* h = new QHBoxLayout;
    h->setSpacing(4);
    // Captions start 4 pixels right of the memos' edge.
    h->setContentsMargins(4 + indent, 0, 0, 0);
    Panel->addLayout(h);
    return h;
}

// The status label (two lines) and STOP.
void TCv::BuildStatusRow(const PanelRows& rows) {
    BigLbl = new QLabel(QStringLiteral("No files selected"), ControlPanel);
    BigLbl->setWordWrap(true);
    QFont big = font();
    big.setBold(true);
    BigLbl->setFont(big);
    // Two lines of status, whatever their length; long texts wrap instead of widening the panel.
    BigLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    BigLbl->setFixedHeight(std::max(34, 2 * QFontMetrics(big).lineSpacing() + 4));
    StopBtn = new QPushButton(QStringLiteral("STOP"), ControlPanel);
    StopBtn->setToolTip(QStringLiteral("processed data is retained."));
    StopBtn->setFont(big);
    AtLeast(StopBtn, 55, 28);
    connect(StopBtn, &QPushButton::clicked, this, &TCv::StopBtnClick);
    QHBoxLayout* top = rows.Row();
    top->addWidget(BigLbl, 1);
    top->addWidget(StopBtn, 0, Qt::AlignTop);
}

// Steps 1 and 2: the sample rate, the site name and the logger number.
void TCv::BuildRateAndSiteSteps(const PanelRows& rows) {
    const MainControls defaults;
    Label9 = new QLabel(QStringLiteral("1.    Sample rate k/s :"), ControlPanel);
    Label9->setToolTip(QStringLiteral("  All files must have this sample rate"));
    KsamplesPerSecEdit = new QLineEdit(FromEngine(defaults.KsamplesPerSecEdit), ControlPanel);
    KsamplesPerSecEdit->setToolTip(
        QStringLiteral(" sample rate as thousands of samples per second"));
    KsamplesPerSecEdit->setMaxLength(kRateMaxLength);
    KsamplesPerSecEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kRateMaxLength)), KsamplesPerSecEdit));
    KsamplesPerSecEdit->setFixedWidth(
        std::max(50, QFontMetrics(font()).horizontalAdvance(QStringLiteral("00000")) + 12));
    KsamplesPerSecEdit->setAcceptDrops(false);
    session_->Controls.KsamplesPerSecEdit = defaults.KsamplesPerSecEdit;
    connect(KsamplesPerSecEdit, &QLineEdit::textChanged, this, &TCv::KsamplesPerSecEditChange);
    QHBoxLayout* step1 = rows.Row();
    step1->addWidget(Label9);
    step1->addWidget(KsamplesPerSecEdit);
    step1->addStretch(1);

    Label8 = new QLabel(QStringLiteral("2.    Site name / logger ID (for KEB file name) :"),
                        ControlPanel);
    Label8->setToolTip(
        QStringLiteral("This prefix applies to the vTkeb file that will be created"));
    rows.Row()->addWidget(Label8);
    AddedSiteNameEdit = new QLineEdit(FromEngine(defaults.AddedSiteNameEdit), ControlPanel);
    session_->Controls.AddedSiteNameEdit = defaults.AddedSiteNameEdit;
    connect(AddedSiteNameEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { session_->Controls.AddedSiteNameEdit = ToEngine(t); });
    LoggerNumberEdit = new QLineEdit(FromEngine(defaults.LoggerNumberEdit), ControlPanel);
    LoggerNumberEdit->setToolTip(
        QStringLiteral("  This is the instrument number.  Max value is 4,294,967,296!"));
    session_->Controls.LoggerNumberEdit = defaults.LoggerNumberEdit;
    connect(LoggerNumberEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { session_->Controls.LoggerNumberEdit = t.toStdString(); });
    for (QLineEdit* edit : {AddedSiteNameEdit, LoggerNumberEdit}) {
        edit->setAcceptDrops(false);  // dropped files select, whatever they land on
        edit->setMinimumWidth(
            QFontMetrics(font()).horizontalAdvance(QStringLiteral("Logger ID number")) + 12);
    }
    QHBoxLayout* step2 = rows.Row(rows.StepWidth - 6);
    step2->addWidget(AddedSiteNameEdit, 1);
    step2->addWidget(LoggerNumberEdit, 1);
}

// Step 3: dates from the names (and the pattern of other recorders' names), which start time
// counts, and whether recordings start at their exact second.
void TCv::BuildDateSteps(const PanelRows& rows) {
    Label5 = new ClickableLabel(QStringLiteral("3.    "), ControlPanel);
    Label5->setFixedWidth(rows.StepWidth);
    connect(Label5, &ClickableLabel::clicked, this, &TCv::ViewSettingsLblClick);
    UseFileNameDateTimes =
        new QCheckBox(QStringLiteral("Get Date/time from file name"), ControlPanel);
    UseFileNameDateTimes->setChecked(true);
    session_->Controls.UseFileNameDateTimes = true;
    connect(UseFileNameDateTimes, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.UseFileNameDateTimes = on; });
    QHBoxLayout* step3 = rows.Row();
    step3->setSpacing(0);
    step3->addWidget(Label5);
    step3->addWidget(UseFileNameDateTimes);
    step3->addStretch(1);
    // Names of other recorders: the pattern their dates follow; empty, the built-in form.
    NameDatePatternEdit = new QLineEdit(ControlPanel);
    NameDatePatternEdit->setPlaceholderText(QStringLiteral("name pattern, e.g. %Y%m%d_%H%M%S"));
    NameDatePatternEdit->setToolTip(QStringLiteral(
        "Dates and locations from names of other recorders, matched against the name without "
        "its extension: %Y (4 digits), %y (2 digits, 2000-2099), %m %d %H %M %S (2 digits), "
        "{location} (the location), * (any text). Without {location} the folder's name is the "
        "location. Example: {location}_%Y%m%d_%H%M%S* for PAM_20210610_033655_123.wav. Empty: "
        "Location.yyyymmddhhmmss.wav"));
    session_->Controls.NameDatePatternEdit.clear();
    connect(NameDatePatternEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { session_->Controls.NameDatePatternEdit = ToEngine(t); });
    rows.Row(rows.StepWidth)->addWidget(NameDatePatternEdit, 1);
    // Which start time counts: the name's or the recording's own.
    TimeSourceCombo = new QComboBox(ControlPanel);
    TimeSourceCombo->addItems({QStringLiteral("name, else file"), QStringLiteral("name only"),
                               QStringLiteral("file, else name")});
    TimeSourceCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    TimeSourceCombo->setMinimumContentsLength(10);
    TimeSourceCombo->setToolTip(QStringLiteral(
        "Where each recording's start time comes from: its name, or the time the recorder "
        "wrote into it (a GUANO, wamd, ICMT or bext chunk) or beside it (NAME.log.xml). "
        "\"name, else file\": a name's time places the file; its own time does where it lies "
        "less than a minute from the name's, or where its zone's local time is the name's (a "
        "recorder that names its files in local time)."));
    session_->Controls.TimeSourceCombo = 0;
    connect(TimeSourceCombo, &QComboBox::currentIndexChanged, this,
            [this](int index) { session_->Controls.TimeSourceCombo = index; });
    ExactStart = new QCheckBox(QStringLiteral("exact second"), ControlPanel);
    ExactStart->setToolTip(QStringLiteral(
        "Each recording starts at its start second in the TK1 file, so clicks keep their true "
        "time; unticked, at the start of its minute."));
    session_->Controls.ExactStart = false;
    connect(ExactStart, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.ExactStart = on; });
    QHBoxLayout* times = rows.Row(rows.StepWidth);
    times->addWidget(TimeSourceCombo, 1);
    times->addWidget(ExactStart);
}

// Step 4: the selection and the directory search.
void TCv::BuildSelectStep(const PanelRows& rows) {
    Label10 = new QLabel(QStringLiteral("4."), ControlPanel);
    Label10->setFixedWidth(rows.StepWidth);
    SelectBatchBtn = new QPushButton(QStringLiteral("Select WAV files"), ControlPanel);
    SelectBatchBtn->setToolTip(
        QStringLiteral("This program works correctly with 16bit  .wav  files sampled at 384k with "
                       "filename format = LocationOrInstrumentNumber.yyyymmddhhmmss.wav.  The "
                       "scrapbook option handles other name formats"));
    AtLeast(SelectBatchBtn, 110, 27);  // keeps its width while the caption counts files
    connect(SelectBatchBtn, &QPushButton::clicked, this, &TCv::SelectBatchBtnClick);
    SearchDirectories = new QCheckBox(QStringLiteral("Search directories"), ControlPanel);
    SearchDirectories->setToolTip(
        QStringLiteral("  this enables you to process all the *.wav files in a directory, and all "
                       "its subdirectories.  You only select the directory."));
    session_->Controls.SearchDirectories = false;
    connect(SearchDirectories, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.SearchDirectories = on; });
    QHBoxLayout* step4 = rows.Row();
    step4->setSpacing(0);
    step4->addWidget(Label10);
    step4->addWidget(SelectBatchBtn);
    step4->addSpacing(4);
    step4->addWidget(SearchDirectories);
    step4->addStretch(1);
}

// Step 5 (the settings link) and step 6: the two conversions, graphs and the linkage file.
void TCv::BuildProceedSteps(const PanelRows& rows) {
    ViewSettingsLbl = new ClickableLabel(Q(kViewSettingsInitial), ControlPanel);
    QFont link = font();
    link.setUnderline(true);
    ViewSettingsLbl->setFont(link);
    QPalette linkPal = ViewSettingsLbl->palette();
    linkPal.setColor(QPalette::WindowText, QColor(0, 0, 160));
    ViewSettingsLbl->setPalette(linkPal);
    ViewSettingsLbl->setCursor(Qt::PointingHandCursor);
    connect(ViewSettingsLbl, &ClickableLabel::clicked, this, &TCv::ViewSettingsLblClick);
    rows.Row()->addWidget(ViewSettingsLbl);

    Label2 = new QLabel(QStringLiteral("6.    Proceed with one of these:"), ControlPanel);
    rows.Row()->addWidget(Label2);
    ConvertBatchBtn =
        new QPushButton(QStringLiteral("Create vTkeb files for each location"), ControlPanel);
    ConvertBatchBtn->setToolTip(
        QStringLiteral("Creates a single *.TK1 file from all the *.wav files selected. Separate "
                       "files are created for each location or intrument identifier in the file "
                       "names, and the data time is taken from the filename. The TK1 files can be "
                       "viewed in RKEB.exe"));
    AtLeast(ConvertBatchBtn, 0, 27);
    connect(ConvertBatchBtn, &QPushButton::clicked, this, &TCv::ConvertBatchBtnClick);
    rows.Row(rows.StepWidth - 6)->addWidget(ConvertBatchBtn, 1);
    MakeScrapbookBtn =
        new QPushButton(QStringLiteral("Create a single 'vTkeb scrapbook' file"), ControlPanel);
    MakeScrapbookBtn->setToolTip(
        QStringLiteral("Creates a single *.TK1 file from all the *.wav files selected, putting "
                       "each one in a new minute.  This file can be viewed in RKEB.exe"));
    AtLeast(MakeScrapbookBtn, 0, 27);
    connect(MakeScrapbookBtn, &QPushButton::clicked, this, &TCv::MakeScrapbookBtnClick);
    rows.Row(rows.StepWidth - 6)->addWidget(MakeScrapbookBtn, 1);

    ShowGraphs = new QCheckBox(QStringLiteral(" show graphs"), ControlPanel);
    ShowGraphs->setChecked(true);
    session_->Controls.ShowGraphs = true;
    connect(ShowGraphs, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.ShowGraphs = on; });
    MakeSourceLinkageFile = new QCheckBox(QStringLiteral("Make source linkage file"), ControlPanel);
    MakeSourceLinkageFile->setChecked(true);
    MakeSourceLinkageFile->setToolTip(
        QStringLiteral("This creates a text file listing all the wav files. It enables you, in "
                       "Nyctar.exe, to instantly find the wav file that was the source of the data "
                       "you are viewing in the virtual Nyctar file (in high resolution)"));
    session_->Controls.MakeSourceLinkageFile = true;
    connect(MakeSourceLinkageFile, &QCheckBox::toggled, this,
            [this](bool on) { session_->Controls.MakeSourceLinkageFile = on; });
    QHBoxLayout* options = rows.Row(rows.StepWidth - 8);
    options->setSpacing(1);
    options->addWidget(ShowGraphs);
    options->addWidget(MakeSourceLinkageFile);
    options->addStretch(1);
}

// The progress text and bar of the batch.
void TCv::BuildProgressRows(const PanelRows& rows) {
    ProgressLbl = new QLabel(QStringLiteral("..."), ControlPanel);
    QPalette red = ProgressLbl->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    ProgressLbl->setPalette(red);
    // Long progress and name-failure texts are cut at the panel's edge rather than widening it.
    ProgressLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    rows.Row()->addWidget(ProgressLbl, 1);
    BatchProgressBar = new QProgressBar(ControlPanel);
    BatchProgressBar->setRange(0, kProgressSteps);
    BatchProgressBar->setValue(0);
    BatchProgressBar->setFormat(QString());  // no text before the first batch
    BatchProgressBar->setAlignment(Qt::AlignCenter);
    BatchProgressBar->setFixedHeight(QFontMetrics(font()).height() + 6);
    BatchProgressBar->setAcceptDrops(false);
    rows.Row()->addWidget(BatchProgressBar, 1);
}

void TCv::BuildMemos(QVBoxLayout* v) {
    // The memos share the height that is left, the per-minute one the larger part.
    DataMemo = NewMemo(ControlPanel);
    DataMemo->setMinimumSize(60, 60);
    // A point smaller than the window's font: a TK1 file's line, its name, file count and
    // compression in columns, fits the panel's width.
    QFont small = WindowFont();
    small.setPointSize(7);
    DataMemo->setFont(small);
    DataColumns = std::make_unique<MemoColumns>(DataMemo);
    DATA2Memo = NewMemo(ControlPanel);
    DATA2Memo->setMinimumSize(60, 80);
    CopyDataToClip = new QPushButton(QStringLiteral("Copy To clipboard"), ControlPanel);
    connect(CopyDataToClip, &QPushButton::clicked, this, &TCv::CopyDataToClipClick);
    ClearDataMemo = new QPushButton(QStringLiteral("Clear Memos"), ControlPanel);
    connect(ClearDataMemo, &QPushButton::clicked, this, &TCv::ClearDataMemoClick);
    for (QPushButton* b : {CopyDataToClip, ClearDataMemo}) AtLeast(b, 0, 25);
    auto* memos = new QVBoxLayout;
    memos->setSpacing(4);
    memos->addWidget(DataMemo, 2);
    memos->addWidget(DATA2Memo, 3);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(5);
    buttons->addWidget(CopyDataToClip, 1);
    buttons->addWidget(ClearDataMemo, 1);
    memos->addLayout(buttons);
    v->addLayout(memos, 1);
}

void TCv::BuildResultsPanel() {
    ResultsPanel = new QWidget(ClientArea);
    QWidget* rp = ResultsPanel;
    auto* v = new QVBoxLayout(rp);
    v->setContentsMargins(2, 2, 2, 2);
    v->setSpacing(1);

    CopyFilesMemoToClip = new QPushButton(QStringLiteral("Copy list to clipboard"), rp);
    AtLeast(CopyFilesMemoToClip, 140, 25);
    connect(CopyFilesMemoToClip, &QPushButton::clicked, this, &TCv::CopyFilesMemoToClipClick);
    ClearFilesMemo = new QPushButton(QStringLiteral("Clear Memo"), rp);
    AtLeast(ClearFilesMemo, 100, 25);
    connect(ClearFilesMemo, &QPushButton::clicked, this, &TCv::ClearFilesMemoClick);

    Label1 = NewLegend(rp, QStringLiteral("_______ .wav file data") + QString(9, u' '),
                       QColor(0, 255, 0),
                       QStringLiteral("this is the raw data from the .wav file. Initial zeroes are "
                                      "skipped."));
    Label3 = NewLegend(rp, QStringLiteral("_______ high pass filtered") + QString(17, u' '),
                       QColor(255, 0, 0),
                       QStringLiteral("The data after filtering to remove low frequency noise"));
    Label4 = NewLegend(
        rp, QStringLiteral("_______ band pass filtered * scaler") + QString(3, u' '),
        QColor(255, 255, 255),
        QStringLiteral("the data after further filtering to remove high frequency noise"));

    auto* top = new QHBoxLayout;
    top->setContentsMargins(2, 0, 0, 0);
    top->setSpacing(6);
    top->addWidget(CopyFilesMemoToClip);
    top->addWidget(ClearFilesMemo);
    // The legends keep their distance from the buttons while there is room, and move up to
    // them when there is not.
    top->addSpacerItem(new QSpacerItem(kLegendGap, 0, QSizePolicy::Maximum, QSizePolicy::Minimum));
    top->addItem(new LegendItem({Label1, Label3, Label4}));
    top->addStretch(1);
    v->addLayout(top);

    FilesMemo = NewMemo(rp);
    FilesMemo->setToolTip(QStringLiteral(
        "These data can be pasted directly into a spreadsheet or document from the clipboard."));
    FilesMemo->setMinimumHeight(60);
    FilesMemo->viewport()->installEventFilter(this);
    FilesColumns = std::make_unique<MemoColumns>(FilesMemo);
    v->addWidget(FilesMemo, 1);
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
    const QSize panelMin = ControlPanel->minimumSizeHint();
    const int panelWidth = std::max(kControlPanelWidth, panelMin.width());
    const int panelHeight = std::max(kControlPanelHeight, panelMin.height());
    const int controlPanelLeft = CW - panelWidth;
    int resultsHeight = std::max(kResultsPanelHeight, ResultsPanel->minimumSizeHint().height());
    resultsHeight += std::max(0, CH - kDesignClientHeight) / 3;
    int resultsWidth = CW - panelWidth - 10;
    int controlHeight = CH;
    if (CH > panelHeight + kResultsPanelHeight) {
        // Room below the control panel: the results span the window there.
        resultsHeight = std::min(resultsHeight, CH - panelHeight);
        resultsWidth = CW - 2;
        controlHeight = CH - resultsHeight;
    }
    const int resultsTop = CH - resultsHeight;
    Place(ControlPanel, QRect(controlPanelLeft, 0, panelWidth, controlHeight));
    Place(ResultsPanel, QRect(0, resultsTop, std::max(resultsWidth, 1), resultsHeight));

    const int graphHeight = std::max(resultsTop - 30, 1);
    const int graphWidth = std::max(controlPanelLeft - 70, 1);
    const QSize oldGraph = GraphBox->size();
    GraphBox->setGeometry(kGraphBoxLeft, 0, graphWidth, graphHeight);
    WindowCanvas->setGeometry(0, 0, kGraphBoxLeft, std::max(CH, 1));
    graphs_->DisplayWidth = graphWidth;
    if (GraphBox->size() != oldGraph) graphs_->Redraw();
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
        case Label::DateFailureFile:
            // The date/time failure text just shown, and the file whose name gave it.
            ProgressLbl->setText(ProgressLbl->text() + QStringLiteral("  in  ") + t);
            if (ProgressLbl->isVisible()) ProgressLbl->repaint();
            break;
        case Label::StartTimeWarning:
            // Beside the file list, which the listing writes just then.
            FilesMemo->appendPlainText(t);
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
    const QString text = FromEngine(line);
    if (which == Memo::FilesMemo && FilesColumns) FilesColumns->Fit(text);
    if (which == Memo::DataMemo && DataColumns) DataColumns->Fit(text);
    MemoOf(which)->appendPlainText(text);
}

void TCv::AppendNote(Memo which, const std::string& line) {
    MemoOf(which)->appendPlainText(FromEngine(line));
}

void TCv::ProcessMessages() {
    UpdateBusyState();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace {

// "0:42", "2:10", "1:05:00".
QString Clock(double seconds) {
    const auto s = static_cast<qint64>(std::llround(std::max(0.0, seconds)));
    const QString mmss = QStringLiteral("%1:%2").arg(s / 60 % 60).arg(s % 60, 2, 10, QChar(u'0'));
    if (s < 3600) return mmss;
    return QStringLiteral("%1:%2").arg(s / 3600).arg(mmss.rightJustified(5, QChar(u'0')));
}

}  // namespace

void TCv::ShowProgress(const BatchProgress& progress) {
    // The bar's own percentage (%p) rounds down, so it shows 100 % only when all is done.
    const int value = static_cast<int>(std::floor(progress.Fraction() * kProgressSteps));
    QString text = QStringLiteral("%p %");
    if (progress.FileNumber > 0) {
        text += QStringLiteral(", file %1 of %2").arg(progress.FileNumber).arg(progress.FileCount);
    }
    if (const double speed = progress.RealTimeFactor(); speed > 0)
        text += QStringLiteral(", %1x").arg(std::llround(speed));
    if (progress.Finished) {
        text += (value == kProgressSteps ? QStringLiteral(", done in ")
                                         : QStringLiteral(", ended after ")) +
                Clock(progress.ElapsedSeconds);
    } else if (const auto eta = progress.EtaSeconds()) {
        text += QStringLiteral(", ETA ") + Clock(*eta);
    }
    BatchProgressBar->setValue(value);
    BatchProgressBar->setFormat(text);
    BatchProgressBar->setToolTip(FromEngine(ProgressText(progress)));
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

std::optional<int> TCv::AskChoice(const std::string& question,
                                  const std::vector<std::string>& choices) {
    QStringList items;
    for (const std::string& choice : choices) items << FromEngine(choice);
    return dialogs_->AskChoice(this, FromEngine(question), items);
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
    session_->RequestStop();
}

void TCv::SelectBatchBtnClick() {
    if (session_->Busy) return;
    ForgetFormatChoices();
    session_->SelectBatchBtnClick();
    ShowRateOfSession();
    UpdateBusyState();
}

void TCv::ForgetFormatChoices() {
    // The questions about samples and channels are asked again of each new selection.
    session_->Controls.ToSixteenBit = false;
    session_->Controls.Channel = 0;
}

void TCv::ShowRateOfSession() {
    // The format check after a selection may have taken the headers' rate.
    const QString rate = QString::fromStdString(session_->Controls.KsamplesPerSecEdit);
    if (KsamplesPerSecEdit->text() != rate) KsamplesPerSecEdit->setText(rate);
}

bool TCv::ReadyToConvert() {
    // The pattern, time source and rate in force now are the ones the conversion uses: a
    // pattern changed since the listing must parse.
    if (session_->SelectionOutdated()) {
        if (const auto refusal = session_->CheckNameDatePattern()) {
            ShowMessage(*refusal);
            return false;
        }
    }
    return session_->NofWAVfilesFound < 1 || session_->ConfirmUnfitFiles();
}

void TCv::ConvertBatchBtnClick() {
    if (session_->Busy) return;
    if (!ReadyToConvert()) return;
    session_->ConvertBatchBtnClick();
    UpdateBusyState();
}

void TCv::MakeScrapbookBtnClick() {
    if (session_->Busy) return;
    if (!ReadyToConvert()) return;
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
    if (watched == ClientArea && event->type() == QEvent::Resize)
        FormResize(ClientArea->width(), ClientArea->height());
    return QWidget::eventFilter(watched, event);
}

void TCv::DropPaths(const QStringList& paths) {
    if (session_->Busy) return;
    std::vector<std::string> engine;
    engine.reserve(static_cast<size_t>(paths.size()));
    for (const QString& p : paths) engine.push_back(ToEngine(p));
    // As the select button does: a pattern that cannot give dates is refused first, and the
    // format check follows the listing.
    if (const auto refusal = session_->CheckNameDatePattern()) {
        ShowMessage(*refusal);
        return;
    }
    ForgetFormatChoices();
    session_->DropPaths(engine);
    ShowRateOfSession();
    UpdateBusyState();
}

void TCv::dragEnterEvent(QDragEnterEvent* event) {
    if (!session_->Busy && !DroppableWavPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TCv::dropEvent(QDropEvent* event) {
    const QStringList paths = DroppableWavPaths(event->mimeData());
    if (session_->Busy || paths.isEmpty()) return;
    event->acceptProposedAction();
    DropPaths(paths);
}

void TCv::UsageActionClick() {
    dialogs_->ShowDocument(this, QStringLiteral("WAVtoKEB usage"), UsageText());
}

void TCv::AboutActionClick() {
    dialogs_->ShowDocument(this, QStringLiteral("About WAVtoKEB"), AboutText());
}

QString TCv::UsageText() {
    // The README's usage section, as built into the program, without its pictures.
    QFile readme(QStringLiteral(":/wavtokeb/README.md"));
    if (!readme.open(QIODevice::ReadOnly)) return {};
    const QStringList lines = QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'));
    QStringList section;
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("## "))) {
            if (!section.isEmpty()) break;
            if (line.trimmed() != QStringLiteral("## Using it")) continue;
        }
        if (section.isEmpty() && !line.startsWith(QStringLiteral("## "))) continue;
        if (line.startsWith(QStringLiteral("!["))) continue;
        section << line;
    }
    while (!section.isEmpty() && section.last().trimmed().isEmpty()) section.removeLast();
    return section.join(QLatin1Char('\n'));
}

QString TCv::DocumentationAddress(const QString& programDir) {
    const QString installed =
        QDir::cleanPath(programDir + QStringLiteral("/" WTK_DOC_DIR_FROM_PROGRAM));
    if (QFileInfo(installed + QStringLiteral("/README.md")).isFile()) return installed;
    return QStringLiteral(WTK_SOURCE_README);
}

QString TCv::AboutText() {
    QString licence = QStringLiteral("not declared yet (this copy has no LICENSE file)");
    QFile file(QStringLiteral(":/wavtokeb/LICENSE"));
    if (file.open(QIODevice::ReadOnly)) {
        const QString first = QString::fromUtf8(file.readLine()).trimmed();
        if (!first.isEmpty()) licence = first;
    }
    return QStringLiteral(
               "## WAVtoKEB %1\n\n"
               "Turns 16-bit PCM `.wav` recordings of underwater sound into TK1 "
               "click-data files.\n\n"
               "**Licence:** %2\n\n"
               "**Documentation:** %3 (the README's usage section: Help > Usage)\n")
        .arg(QStringLiteral(WTK_VERSION), licence,
             DocumentationAddress(QCoreApplication::applicationDirPath()));
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
    if (session_->Busy) session_->RequestStop();
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
