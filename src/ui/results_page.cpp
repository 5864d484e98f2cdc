#include "ui/results_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "base/numbers.h"
#include "base/utf8.h"
#include "presence/tables.h"
#include "ui/results_axes.h"
#include "ui/results_export.h"
#include "ui/results_plots.h"

namespace wtk::ui {

namespace {

QString FromEngineText(const std::string& s) {
    return QFile::decodeName(QByteArray(s.data(), static_cast<qsizetype>(s.size())));
}

std::string ToEngineText(const QString& s) {
    return QFile::encodeName(s).toStdString();
}

// The wait cursor while files are read.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString Thousands(int64_t n) {
    QString digits = QString::number(n);
    for (int i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
    return digits;
}

const char* const kFormatNames[] = {"Raven selection tables", "Audacity labels", "CSV"};

}  // namespace

ResultsPage::ResultsPage(std::function<Dialogs&()> dialogs, std::function<bool()> busy,
                         QWidget* parent)
    : QWidget(parent), dialogs_(std::move(dialogs)), busy_(std::move(busy)) {
    setObjectName(QStringLiteral("ResultsPage"));
    setAcceptDrops(false);  // the window takes the drops
    BuildControls();
    UpdateActions();
}

ResultsPage::~ResultsPage() = default;

void ResultsPage::BuildControls() {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(4);

    auto* bar = new QHBoxLayout;
    OpenButton = new QPushButton(QStringLiteral("Open TK1 files..."), this);
    OpenButton->setToolTip(
        QStringLiteral("Open TK1 files (several locations at once) to look at "
                       "their clicks, trains and presence"));
    connect(OpenButton, &QPushButton::clicked, this, &ResultsPage::OpenFilesDialog);
    OpenFolderButton = new QPushButton(QStringLiteral("Open folder..."), this);
    OpenFolderButton->setToolTip(
        QStringLiteral("Open every TK1 file of a folder and its sub-folders"));
    connect(OpenFolderButton, &QPushButton::clicked, this, &ResultsPage::OpenFolderDialog);
    LocationBox = new QComboBox(this);
    LocationBox->setMinimumContentsLength(16);
    LocationBox->setToolTip(QStringLiteral("The location shown"));
    connect(LocationBox, &QComboBox::currentIndexChanged, this, &ResultsPage::ShowLocation);
    bar->addWidget(OpenButton);
    bar->addWidget(OpenFolderButton);
    bar->addSpacing(8);
    bar->addWidget(new QLabel(QStringLiteral("Location:"), this));
    bar->addWidget(LocationBox);
    bar->addSpacing(8);
    bar->addWidget(new QLabel(QStringLiteral("Show:"), this));
    for (int k = 0; k < kPointKinds; ++k) {
        const auto kind = static_cast<PointKind>(k);
        auto* box = new QCheckBox(KindName(kind), this);
        box->setChecked(true);
        QPixmap swatch(10, 10);
        swatch.fill(KindColour(kind));
        box->setIcon(QIcon(swatch));
        box->setToolTip(k == static_cast<int>(PointKind::NoTrain)
                            ? QStringLiteral("Clicks in no train (shrimp, noise, isolated clicks)")
                            : QStringLiteral("Clicks of %1 trains; the train keys step through "
                                             "the trains shown")
                                  .arg(KindName(kind)));
        connect(box, &QCheckBox::toggled, this, [this] {
            Clicks->SetShown(Shown());
            ShowSpanText();
        });
        KindBoxes[static_cast<size_t>(k)] = box;
        bar->addWidget(box);
    }
    bar->addStretch(1);
    v->addLayout(bar);

    Overview = new OverviewPlot(this);
    connect(Overview, &OverviewPlot::SpanChosen, this, [this](TimeSpan s) {
        SelectTrain(std::nullopt, false);
        ShowSpan(s);
    });
    v->addWidget(Overview);

    auto* nav = new QHBoxLayout;
    auto button = [this, nav](const QString& text, const QString& tip, auto slot) {
        auto* b = new QPushButton(text, this);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, slot);
        nav->addWidget(b);
        return b;
    };
    PreviousTrainButton =
        button(QStringLiteral("< Train"), QStringLiteral("The previous train (Left)"),
               [this] { StepTrain(-1); });
    NextTrainButton = button(QStringLiteral("Train >"), QStringLiteral("The next train (Right)"),
                             [this] { StepTrain(+1); });
    PreviousEncounterButton =
        button(QStringLiteral("<< Encounter"),
               QStringLiteral("The previous encounter: NBHF trains less than 10 minutes apart "
                              "(Page Up)"),
               [this] { StepEncounter(-1); });
    NextEncounterButton =
        button(QStringLiteral("Encounter >>"), QStringLiteral("The next encounter (Page Down)"),
               [this] { StepEncounter(+1); });
    WholeButton =
        button(QStringLiteral("Whole"), QStringLiteral("Every day of the location (Home)"), [this] {
            if (const ResultsLocation* l = Current()) ShowSpan(l->Whole());
        });
    SpanLabel = new QLabel(this);
    SpanLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    nav->addSpacing(8);
    nav->addWidget(SpanLabel, 1);

    auto exportButton = [this, nav](const QString& text, const QString& tip, bool train) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setPopupMode(QToolButton::InstantPopup);
        b->setFocusPolicy(Qt::NoFocus);
        auto* menu = new QMenu(b);
        for (const ExportFormat f :
             {ExportFormat::Raven, ExportFormat::Audacity, ExportFormat::Csv}) {
            QAction* a = menu->addAction(QString::fromUtf8(kFormatNames[static_cast<int>(f)]) +
                                         QStringLiteral("..."));
            connect(a, &QAction::triggered, this, [this, f, train] {
                if (train) {
                    ExportTrain(f);
                } else {
                    ExportSpan(f);
                }
            });
        }
        b->setMenu(menu);
        nav->addWidget(b);
        return b;
    };
    ExportTrainButton = exportButton(
        QStringLiteral("Export train"),
        QStringLiteral("The selected train's clicks as dump writes them: a Raven selection table "
                       "or an Audacity label file for its recording, or CSV rows"),
        true);
    ExportSpanButton = exportButton(
        QStringLiteral("Export span"),
        QStringLiteral("The clicks of the span shown (of the kinds shown) as dump writes them: "
                       "Raven selection tables or Audacity label files, one per recording, or "
                       "CSV rows"),
        false);
    CopyButton = new QPushButton(QStringLiteral("Copy recording and second"), this);
    CopyButton->setToolTip(QStringLiteral(
        "The chosen click's recording and its second there (tab-separated) to the clipboard, to "
        "open the recording at that point in Raven or Audacity (Ctrl+C)"));
    CopyButton->setFocusPolicy(Qt::NoFocus);
    connect(CopyButton, &QPushButton::clicked, this, &ResultsPage::CopyRecordingSecond);
    nav->addWidget(CopyButton);
    v->addLayout(nav);

    Clicks = new ClickPlot(this);
    Clicks->setToolTip(QString());
    connect(Clicks, &ClickPlot::SpanChanged, this, [this](TimeSpan s) {
        Overview->SetShownSpan(s);
        ShowSpanText();
    });
    connect(Clicks, &ClickPlot::Hovered, this,
            [this](std::optional<size_t> c) { ShowClickInfo(c ? c : click_); });
    connect(Clicks, &ClickPlot::Chosen, this, &ResultsPage::ChooseClick);
    v->addWidget(Clicks, 1);

    ClickInfo = new QLabel(this);
    ClickInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ClickInfo->setWordWrap(true);
    ClickInfo->setMinimumHeight(2 * fontMetrics().lineSpacing() + 4);
    ClickInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    v->addWidget(ClickInfo);

    TrainTable = new QTableWidget(1, 0, this);
    const QStringList heading =
        QString::fromUtf8(presence::kTrainsHeading.data(),
                          static_cast<qsizetype>(presence::kTrainsHeading.size()))
            .split(QLatin1Char(','));
    TrainTable->setColumnCount(static_cast<int>(heading.size()));
    TrainTable->setHorizontalHeaderLabels(heading);
    TrainTable->verticalHeader()->hide();
    TrainTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TrainTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TrainTable->setFixedHeight(TrainTable->horizontalHeader()->sizeHint().height() +
                               TrainTable->verticalHeader()->defaultSectionSize() +
                               TrainTable->horizontalScrollBar()->sizeHint().height() + 4);
    TrainTable->setToolTip(QStringLiteral("The selected train's row of the trains table"));
    v->addWidget(TrainTable);

    // Keys of the page.
    const struct {
        QKeySequence keys;
        std::function<void()> act;
    } keys[] = {
        {QKeySequence(Qt::Key_Right), [this] { StepTrain(+1); }},
        {QKeySequence(Qt::Key_Left), [this] { StepTrain(-1); }},
        {QKeySequence(Qt::Key_PageDown), [this] { StepEncounter(+1); }},
        {QKeySequence(Qt::Key_PageUp), [this] { StepEncounter(-1); }},
        {QKeySequence(Qt::Key_Plus),
         [this] { Clicks->ZoomAbout(0.5, Clicks->Span().FromUs + Clicks->Span().Length() / 2); }},
        {QKeySequence(Qt::Key_Equal),
         [this] { Clicks->ZoomAbout(0.5, Clicks->Span().FromUs + Clicks->Span().Length() / 2); }},
        {QKeySequence(Qt::Key_Minus),
         [this] { Clicks->ZoomAbout(2, Clicks->Span().FromUs + Clicks->Span().Length() / 2); }},
        {QKeySequence(Qt::Key_Home),
         [this] {
             if (const ResultsLocation* l = Current()) ShowSpan(l->Whole());
         }},
        {QKeySequence::Copy, [this] { CopyRecordingSecond(); }},
    };
    for (const auto& k : keys) {
        auto* shortcut = new QShortcut(k.keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, k.act);
    }
}

KindsShown ResultsPage::Shown() const {
    KindsShown shown{};
    for (size_t k = 0; k < KindBoxes.size(); ++k) shown[k] = KindBoxes[k]->isChecked();
    return shown;
}

const ResultsLocation* ResultsPage::Current() const {
    return current_ >= 0 && static_cast<size_t>(current_) < locations_.size()
               ? locations_[static_cast<size_t>(current_)].get()
               : nullptr;
}

int ResultsPage::Open(const std::vector<std::string>& paths) {
    if (busy_() || paths.empty()) return static_cast<int>(locations_.size());
    OpenedResults opened;
    {
        WaitCursor wait;
        opened = OpenResults(paths);
    }
    QStringList problems;
    for (const std::string& r : opened.Refused) problems << FromEngineText(r);
    const bool anyOpened = !opened.Locations.empty();
    if (anyOpened) {
        // What was open gives way to what opened.
        Clicks->SetLocation(nullptr);
        Overview->SetLocation(nullptr);
        current_ = -1;
        locations_ = std::move(opened.Locations);
        const QSignalBlocker block(LocationBox);
        LocationBox->clear();
        for (const auto& l : locations_) {
            LocationBox->addItem(FromEngineText(PrintableName(l->Name)));
            for (const std::string& w : l->Warnings) problems << FromEngineText(w);
        }
        ShowLocation(0);
    }
    if (!opened.Refused.empty()) {
        problems.prepend(QStringLiteral("Not opened (%1):").arg(opened.Refused.size()));
        if (!anyOpened) problems << QStringLiteral("Nothing else to open.");
    }
    if (!problems.isEmpty()) dialogs_().ShowMessage(this, problems.join(QLatin1Char('\n')));
    UpdateActions();
    return static_cast<int>(locations_.size());
}

void ResultsPage::OpenFilesDialog() {
    if (busy_()) return;
    const auto chosen =
        dialogs_().OpenFiles(this, QStringLiteral("Open TK1 files"),
                             QStringLiteral("TK1 files (*.TK1 *.tk1);;All files (*)"));
    if (!chosen || chosen->isEmpty()) return;
    std::vector<std::string> paths;
    for (const QString& p : *chosen) paths.push_back(ToEngineText(p));
    Open(paths);
}

void ResultsPage::OpenFolderDialog() {
    if (busy_()) return;
    const auto chosen =
        dialogs_().ChooseDirectory(this, QStringLiteral("Open the TK1 files of a folder"));
    if (!chosen) return;
    Open({ToEngineText(*chosen)});
}

void ResultsPage::ShowLocation(int index) {
    if (index < 0 || static_cast<size_t>(index) >= locations_.size()) return;
    current_ = index;
    if (LocationBox->currentIndex() != index) {
        const QSignalBlocker block(LocationBox);
        LocationBox->setCurrentIndex(index);
    }
    train_.reset();
    click_.reset();
    const ResultsLocation* l = Current();
    Overview->SetLocation(l);
    Clicks->SetLocation(l);
    Clicks->SetShown(Shown());
    ShowSpan(l->Whole());
    ShowClickInfo(std::nullopt);
    ShowTrainRow();
    UpdateActions();
}

void ResultsPage::ShowSpan(TimeSpan span) {
    if (Current() == nullptr) return;
    Clicks->SetSpan(span);  // tells the overview and the span text
}

void ResultsPage::ShowSpanText() {
    const ResultsLocation* l = Current();
    if (l == nullptr) {
        SpanLabel->clear();
        return;
    }
    const auto [first, last] = l->ClicksIn(Clicks->Span());
    const KindsShown shown = Shown();
    int64_t count = 0;
    if (shown == kAllKinds) {
        count = static_cast<int64_t>(last - first);
    } else {
        for (size_t i = first; i < last; ++i)
            count += shown[static_cast<size_t>(l->Clicks[i].Kind)];
    }
    SpanLabel->setText(
        QStringLiteral("%1 clicks shown in %2")
            .arg(Thousands(count), FromEngineText(LengthText(Clicks->Span().Length()))));
}

void ResultsPage::SelectTrain(std::optional<size_t> train, bool showIt) {
    const ResultsLocation* l = Current();
    if (l == nullptr || (train && *train >= l->Trains.size())) train.reset();
    train_ = train;
    if (train_ && click_ && l->Clicks[*click_].Train != static_cast<int32_t>(*train_))
        click_.reset();
    Clicks->SetSelection(train_, click_);
    if (train_ && showIt) ShowSpan(AroundTrain(l->Trains[*train_]));
    ShowTrainRow();
    ShowClickInfo(click_);
    UpdateActions();
}

void ResultsPage::ChooseClick(std::optional<size_t> click) {
    const ResultsLocation* l = Current();
    if (l == nullptr) return;
    click_ = click;
    std::optional<size_t> train;
    if (click_ && l->Clicks[*click_].Train >= 0)
        train = static_cast<size_t>(l->Clicks[*click_].Train);
    SelectTrain(train, false);
}

void ResultsPage::StepTrain(int direction) {
    const ResultsLocation* l = Current();
    if (l == nullptr) return;
    const auto next = wtk::ui::StepTrain(*l, Shown(), train_, Clicks->Span().FromUs, direction);
    if (!next) return;
    click_.reset();
    SelectTrain(next, true);
}

void ResultsPage::StepEncounter(int direction) {
    const ResultsLocation* l = Current();
    if (l == nullptr) return;
    std::optional<size_t> current;
    if (train_ && l->Trains[*train_].Encounter > 0) {
        const int64_t number = l->Trains[*train_].Encounter;
        const auto at = std::find_if(l->Encounters.begin(), l->Encounters.end(),
                                     [&](const Encounter& e) { return e.Number == number; });
        if (at != l->Encounters.end()) current = static_cast<size_t>(at - l->Encounters.begin());
    }
    const auto next = wtk::ui::StepEncounter(*l, current, Clicks->Span().FromUs, direction);
    if (!next) return;
    const Encounter& e = l->Encounters[*next];
    click_.reset();
    SelectTrain(e.FirstTrain, false);
    ShowSpan(AroundEncounter(e));
}

void ResultsPage::ShowClickInfo(std::optional<size_t> click) {
    const ResultsLocation* l = Current();
    if (l == nullptr || !click || *click >= l->Clicks.size()) {
        ClickInfo->setText(l == nullptr ? QString()
                                        : QStringLiteral("Point at a click to see its fields; "
                                                         "click it to choose it and its train."));
        return;
    }
    const ResultsClick& c = l->Clicks[*click];
    const tk1::Click& f = c.Fields;
    QString text = QStringLiteral("<b>%1</b> %2")
                       .arg(FromEngineText(TimeText(c.TimeUs)),
                            l->AllZoned ? QStringLiteral("UTC") : QString());
    text += QStringLiteral(" &nbsp; %1 kHz")
                .arg(c.Khz > 0 ? QString::number(c.Khz, 'f', 1) : QStringLiteral("?"));
    if (c.IciMs == c.IciMs)
        text += QStringLiteral(", ICI %1 ms").arg(QString::number(c.IciMs, 'f', 3));
    text += c.Train >= 0 ? QStringLiteral(", train %1 (%2)")
                               .arg(l->Trains[static_cast<size_t>(c.Train)].Number)
                               .arg(KindName(c.Kind))
                         : QStringLiteral(", in no train");
    text +=
        QStringLiteral(
            "<br>Ncyc %1, Pmax %2, PkAtPosn %3, ClkIPIrangeCode %4, IPIpreMax %5, IPIPostMax %6, "
            "IPIPost1 %7, IPIPost2 %8, PkMinus1 %9, PkPlus1 %10, IPIbefore %11, "
            "AmpReversalCount %12, PreLastIPI %13")
            .arg(f.Ncyc)
            .arg(f.Pmax)
            .arg(f.PkAtPosn)
            .arg(f.IPIrangeCode)
            .arg(f.IPIpreMax)
            .arg(f.IPIPostMax)
            .arg(f.IPIPost1)
            .arg(f.IPIPost2)
            .arg(f.PkMinus1)
            .arg(f.PkPlus1)
            .arg(f.IPIbefore)
            .arg(f.AmpReversalCount)
            .arg(f.PreLastIPI);
    const std::string path = l->RecordingPath(c);
    if (const auto second = l->RecordingSecond(c); second && !path.empty()) {
        text += QStringLiteral("<br>Recording %1 at %2 s")
                    .arg(FromEngineText(PrintableName(path)).toHtmlEscaped(),
                         QString::fromStdString(FixedText(*second, 6)));
    } else {
        text += QStringLiteral("<br>Recording not known (no recordings table or linkage file)");
    }
    ClickInfo->setText(text);
}

void ResultsPage::ShowTrainRow() {
    const ResultsLocation* l = Current();
    TrainTable->clearContents();
    if (l == nullptr || !train_) return;
    const std::string row = l->TrainRowText(*train_);
    // The row's cells as CSV gives them (a quoted cell may hold commas).
    QStringList cells;
    QString cell;
    bool quoted = false;
    const QString text = FromEngineText(row);
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                cell += ch;
                ++i;
            } else if (ch == u'"') {
                quoted = false;
            } else {
                cell += ch;
            }
        } else if (ch == u'"') {
            quoted = true;
        } else if (ch == u',') {
            cells << cell;
            cell.clear();
        } else {
            cell += ch;
        }
    }
    cells << cell;
    for (int i = 0; i < cells.size() && i < TrainTable->columnCount(); ++i) {
        TrainTable->setItem(0, i, new QTableWidgetItem(cells[i]));
    }
}

void ResultsPage::UpdateActions() {
    const bool idle = !busy_();
    const bool open = Current() != nullptr;
    OpenButton->setEnabled(idle);
    OpenFolderButton->setEnabled(idle);
    LocationBox->setEnabled(locations_.size() > 1);
    for (QPushButton* b : {PreviousTrainButton, NextTrainButton, PreviousEncounterButton,
                           NextEncounterButton, WholeButton}) {
        b->setEnabled(open);
    }
    ExportTrainButton->setEnabled(open && train_.has_value());
    ExportSpanButton->setEnabled(open);
    CopyButton->setEnabled(open && (click_.has_value() || train_.has_value()));
}

bool ResultsPage::ExportTrain(ExportFormat format) {
    if (Current() == nullptr || !train_) return false;
    return Export(train_, format);
}

bool ResultsPage::ExportSpan(ExportFormat format) {
    if (Current() == nullptr) return false;
    return Export(std::nullopt, format);
}

bool ResultsPage::Export(std::optional<size_t> train, ExportFormat format) {
    const ResultsLocation& l = *Current();
    ExportRequest request;
    request.Format = format;
    if (train) {
        request.Span = {l.Trains[*train].StartUs, l.Trains[*train].EndUs + 1};
        const TrainClicks& ends = l.TrainEnds[*train];
        for (size_t i = ends.First; i <= ends.Last; ++i) {
            if (l.Clicks[i].Train == static_cast<int32_t>(*train))
                request.Times.push_back(l.Clicks[i].TimeUs);
        }
    } else {
        request.Span = Clicks->Span();
        const KindsShown shown = Shown();
        if (shown != kAllKinds) {
            const auto [first, last] = l.ClicksIn(request.Span);
            for (size_t i = first; i < last; ++i) {
                if (shown[static_cast<size_t>(l.Clicks[i].Kind)])
                    request.Times.push_back(l.Clicks[i].TimeUs);
            }
        } else {
            request.AllInSpan = true;
        }
    }
    const QString what =
        train ? QStringLiteral("train %1").arg(l.Trains[*train].Number) : QStringLiteral("span");
    if (format == ExportFormat::Csv) {
        const QString suggested = FromEngineText(PrintableName(l.Name)) + QLatin1Char(' ') + what +
                                  QStringLiteral(".csv");
        const auto chosen =
            dialogs_().SaveFile(this, QStringLiteral("Export the %1 as CSV").arg(what), suggested,
                                QStringLiteral("CSV files (*.csv);;All files (*)"));
        if (!chosen) return false;
        request.Target = ToEngineText(*chosen);
    } else {
        const auto chosen = dialogs_().ChooseDirectory(
            this, QStringLiteral("Folder for the %1 of the %2 (one file per recording)")
                      .arg(QString::fromUtf8(kFormatNames[static_cast<int>(format)]), what));
        if (!chosen) return false;
        request.Target = ToEngineText(*chosen);
    }
    ExportOutcome outcome = ExportClicks(l, request);
    if (outcome.Existing.size() > 0) {
        QStringList names;
        for (const std::string& n : outcome.Existing) names << FromEngineText(PrintableName(n));
        if (!dialogs_().AskYesNo(this,
                                 QStringLiteral("These files are there already:\n%1\nReplace them?")
                                     .arg(names.join(QLatin1Char('\n'))))) {
            return false;
        }
        request.Overwrite = true;
        outcome = ExportClicks(l, request);
    }
    QString message;
    if (!outcome.Written.empty()) {
        QStringList lines;
        for (const std::string& w : outcome.Written) lines << FromEngineText(PrintableName(w));
        message = QStringLiteral("Written:\n") + lines.join(QLatin1Char('\n'));
    }
    if (!outcome.Problems.empty()) {
        if (!message.isEmpty()) message += QStringLiteral("\n\n");
        message += FromEngineText(outcome.Problems);
    }
    if (!message.isEmpty()) dialogs_().ShowMessage(this, message);
    return outcome.Ok;
}

bool ResultsPage::CopyRecordingSecond() {
    const ResultsLocation* l = Current();
    if (l == nullptr) return false;
    std::optional<size_t> click = click_;
    if (!click && train_) click = l->TrainEnds[*train_].First;
    if (!click) return false;
    const ResultsClick& c = l->Clicks[*click];
    const std::string path = l->RecordingPath(c);
    const auto second = l->RecordingSecond(c);
    if (path.empty() || !second) return false;
    QGuiApplication::clipboard()->setText(FromEngineText(path) + QLatin1Char('\t') +
                                          QString::fromStdString(FixedText(*second, 6)));
    return true;
}

QStringList ResultsPage::DroppablePaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (info.isDir() ||
            (info.isFile() && path.endsWith(QStringLiteral(".tk1"), Qt::CaseInsensitive))) {
            paths << path;
        }
    }
    return paths;
}

}  // namespace wtk::ui
