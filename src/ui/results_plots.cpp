#include "ui/results_plots.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "base/calendar.h"
#include "ui/results_axes.h"

namespace wtk::ui {

namespace {

constexpr int64_t kHourUs = 60 * kMicrosecondsPerMinute;
constexpr int64_t kDayUs = 24 * kHourUs;
constexpr int kDragThreshold = 3;  // pixels a press moves before it is a drag

const QColor kNotRecorded(180, 180, 180);
const QColor kAxisText(40, 40, 40);
const QColor kGridLine(228, 228, 228);
const QColor kFrameLine(150, 150, 150);
const QColor kSpanMark(48, 112, 192);

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Draws text rotated a quarter turn anticlockwise, centred on (x, y).
void UprightText(QPainter& p, double x, double y, const QString& text) {
    p.save();
    p.translate(x, y);
    p.rotate(-90);
    const QFontMetrics fm(p.font());
    p.drawText(QPointF(-fm.horizontalAdvance(text) / 2.0, fm.ascent() / 2.0 - 1), text);
    p.restore();
}

// The colour of an hour with dpm detection-positive minutes, most being the most of any hour
// of the location (a duty-cycled recorder may record a few minutes an hour): white for none,
// then from pale yellow to dark red by the square root of the share of most.
QColor DpmColour(int32_t dpm, int32_t most) {
    if (dpm <= 0) return Qt::white;
    const double f = std::sqrt(std::min(dpm, most) / static_cast<double>(std::max(most, 1)));
    const QColor stops[] = {QColor(255, 233, 168), QColor(240, 140, 60), QColor(140, 26, 15)};
    const double at = f * 2;
    const int i = std::min(static_cast<int>(at), 1);
    const double t = at - i;
    auto mix = [&](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
    return QColor(mix(stops[i].red(), stops[i + 1].red()),
                  mix(stops[i].green(), stops[i + 1].green()),
                  mix(stops[i].blue(), stops[i + 1].blue()));
}

// The most detection-positive minutes of any hour of a location, at least 1.
int32_t MostDpm(const ResultsLocation& l) {
    int32_t most = 1;
    for (const HourCell& c : l.Hours) most = std::max(most, c.NbhfDpm);
    return most;
}

QString ClockName(const ResultsLocation* l) {
    return l != nullptr && l->AllZoned ? QStringLiteral("UTC") : QStringLiteral("recorder clock");
}

}  // namespace

QColor KindColour(PointKind kind) {
    switch (kind) {
        case PointKind::Nbhf:
            return QColor(213, 94, 0);
        case PointKind::Dolphin:
            return QColor(0, 114, 178);
        case PointKind::Sonar:
            return QColor(0, 158, 115);
        case PointKind::Unclassed:
            return QColor(204, 121, 167);
        case PointKind::NoTrain:
            break;
    }
    return QColor(160, 160, 160);
}

QString KindName(PointKind kind) {
    switch (kind) {
        case PointKind::Nbhf:
            return QStringLiteral("NBHF");
        case PointKind::Dolphin:
            return QStringLiteral("dolphin");
        case PointKind::Sonar:
            return QStringLiteral("sonar");
        case PointKind::Unclassed:
            return QStringLiteral("unclassed");
        case PointKind::NoTrain:
            break;
    }
    return QStringLiteral("in no train");
}

// ---- overview ----

namespace {
constexpr int kOverLeft = 64;
constexpr int kOverRight = 116;
constexpr int kOverTop = 20;
constexpr int kCellHeight = 6;
constexpr int kStripGap = 10;
constexpr int kStripHeight = 60;
constexpr int kDateRoom = 20;
}  // namespace

OverviewPlot::OverviewPlot(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize OverviewPlot::sizeHint() const {
    return {900, minimumSizeHint().height()};
}

QSize OverviewPlot::minimumSizeHint() const {
    return {kOverLeft + kOverRight + 200,
            kOverTop + 24 * kCellHeight + kStripGap + kStripHeight + kDateRoom + 4};
}

void OverviewPlot::SetLocation(const ResultsLocation* location) {
    location_ = location;
    shown_.reset();
    update();
}

void OverviewPlot::SetShownSpan(std::optional<TimeSpan> span) {
    shown_ = span;
    update();
}

QRect OverviewPlot::GridRect() const {
    return {kOverLeft, kOverTop, std::max(width() - kOverLeft - kOverRight, 1), 24 * kCellHeight};
}

QRect OverviewPlot::StripRect() const {
    const QRect g = GridRect();
    return {g.left(), g.bottom() + 1 + kStripGap, g.width(), kStripHeight};
}

double OverviewPlot::XOf(int64_t us) const {
    const QRect g = GridRect();
    if (location_ == nullptr) return g.left();
    const TimeSpan whole = location_->Whole();
    return g.left() + static_cast<double>(us - whole.FromUs) * g.width() /
                          static_cast<double>(std::max<int64_t>(whole.Length(), 1));
}

int64_t OverviewPlot::TimeAt(double x) const {
    const QRect g = GridRect();
    if (location_ == nullptr) return 0;
    const TimeSpan whole = location_->Whole();
    return whole.FromUs +
           std::llround((x - g.left()) * static_cast<double>(whole.Length()) / g.width());
}

QRect OverviewPlot::CellRect(int32_t day, int32_t hour) const {
    const QRect g = GridRect();
    const int32_t days = location_ != nullptr ? std::max(location_->Days, 1) : 1;
    const int x0 = g.left() + static_cast<int>(int64_t{day} * g.width() / days);
    const int x1 = g.left() + static_cast<int>(int64_t{day + 1} * g.width() / days);
    return {x0, g.top() + hour * kCellHeight, std::max(x1 - x0, 1), kCellHeight};
}

std::optional<std::pair<int32_t, int32_t>> OverviewPlot::CellAt(QPoint p) const {
    const QRect g = GridRect();
    if (location_ == nullptr || location_->Days <= 0 || !g.contains(p)) return std::nullopt;
    const auto day = static_cast<int32_t>(int64_t{p.x() - g.left()} * location_->Days / g.width());
    const int32_t hour = (p.y() - g.top()) / kCellHeight;
    return std::pair{std::clamp(day, 0, location_->Days - 1), std::clamp(hour, 0, 23)};
}

void OverviewPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(kAxisText);
    if (location_ == nullptr) {
        p.drawText(rect(), Qt::AlignCenter,
                   QStringLiteral("No results open: File > Open TK1 files, or drop TK1 files on "
                                  "the window."));
        return;
    }
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QPointF(kOverLeft, kOverTop - 6),
               Q(location_->Name) + QStringLiteral(": NBHF detection-positive minutes per hour"));
    p.setFont(font());
    PaintGrid(p);
    PaintStrip(p);
    PaintDates(p);
    PaintLegend(p);
}

void OverviewPlot::PaintGrid(QPainter& p) {
    const QRect g = GridRect();
    const int32_t most = MostDpm(*location_);
    for (int32_t day = 0; day < location_->Days; ++day) {
        for (int32_t hour = 0; hour < 24; ++hour) {
            const HourCell& cell = location_->Cell(day, hour);
            p.fillRect(CellRect(day, hour),
                       cell.RecordedMinutes > 0 ? DpmColour(cell.NbhfDpm, most) : kNotRecorded);
        }
    }
    // Days apart where their columns are wide enough to tell.
    if (g.width() >= 4 * location_->Days) {
        p.setPen(kGridLine);
        for (int32_t day = 1; day < location_->Days; ++day) {
            const int x = CellRect(day, 0).left();
            p.drawLine(x, g.top(), x, g.bottom());
        }
    }
    p.setPen(kFrameLine);
    p.drawRect(g.adjusted(0, 0, -1, -1));
    // Hours of the day down the left, 00 at the top.
    p.setPen(kAxisText);
    const QFontMetrics fm(font());
    for (int hour = 0; hour <= 24; hour += 6) {
        const int y = g.top() + hour * kCellHeight;
        p.drawLine(g.left() - 4, y, g.left() - 1, y);
        const QString label = QStringLiteral("%1").arg(hour, 2, 10, QChar(u'0'));
        p.drawText(QPointF(g.left() - 7 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1),
                   label);
    }
    UprightText(p, 12, g.center().y(), QStringLiteral("hour (") + ClockName(location_) + ")");
}

void OverviewPlot::PaintStrip(QPainter& p) {
    const QRect s = StripRect();
    p.fillRect(s, Qt::white);
    const auto& total = location_->ClicksPerMinute;
    const auto& nbhf = location_->NbhfClicksPerMinute;
    const int32_t most = total.empty() ? 0 : *std::max_element(total.begin(), total.end());
    const double top = std::log10(1.0 + std::max(most, 1));
    auto height = [&](int32_t v) {
        return static_cast<int>(std::lround(std::log10(1.0 + v) / top * (s.height() - 2)));
    };
    const int64_t minutes = static_cast<int64_t>(total.size());
    const int64_t firstUs = location_->FirstMinute * kMicrosecondsPerMinute;
    for (int x = 0; x < s.width(); ++x) {
        const int64_t m0 = std::clamp<int64_t>(
            FloorDivide(TimeAt(s.left() + x) - firstUs, kMicrosecondsPerMinute).Quotient, 0,
            minutes);
        const int64_t m1 = std::clamp<int64_t>(
            FloorDivide(TimeAt(s.left() + x + 1) - firstUs - 1, kMicrosecondsPerMinute).Quotient +
                1,
            m0 + 1, minutes);
        int32_t all = 0, porpoise = 0;
        bool recorded = false;
        for (int64_t m = m0; m < m1; ++m) {
            all = std::max(all, total[static_cast<size_t>(m)]);
            porpoise = std::max(porpoise, nbhf[static_cast<size_t>(m)]);
        }
        for (int64_t h = m0 / 60; h <= (m1 - 1) / 60 && !recorded; ++h) {
            recorded = location_->Hours[static_cast<size_t>(h)].RecordedMinutes > 0;
        }
        const int left = s.left() + x;
        if (!recorded) p.fillRect(left, s.top(), 1, s.height(), kNotRecorded);
        if (all > 0) {
            p.fillRect(left, s.bottom() - height(all) + 1, 1, height(all),
                       KindColour(PointKind::NoTrain));
        }
        if (porpoise > 0) {
            p.fillRect(left, s.bottom() - height(porpoise) + 1, 1, height(porpoise),
                       KindColour(PointKind::Nbhf));
        }
    }
    if (shown_) {
        const double x0 = std::clamp(XOf(shown_->FromUs), double(s.left()), double(s.right()));
        const double x1 = std::clamp(XOf(shown_->ToUs), double(s.left()), double(s.right() + 1));
        QColor fill = kSpanMark;
        fill.setAlpha(50);
        const QRectF mark(x0, s.top(), std::max(x1 - x0, 2.0), s.height());
        p.fillRect(mark, fill);
        p.setPen(kSpanMark);
        p.drawRect(mark.adjusted(0, 0, -1, -1));
    }
    if (dragFrom_) {
        QColor fill = kSpanMark;
        fill.setAlpha(90);
        p.fillRect(QRect(std::min(*dragFrom_, dragTo_), s.top(), std::abs(dragTo_ - *dragFrom_) + 1,
                         s.height()),
                   fill);
    }
    p.setPen(kFrameLine);
    p.drawRect(s.adjusted(0, 0, -1, -1));
    // The log scale of the clicks per minute.
    p.setPen(kAxisText);
    const QFontMetrics fm(font());
    for (int32_t v = 1; v <= std::max(most, 1); v *= 10) {
        const int y = s.bottom() - height(v);
        const QString label = QString::number(v);
        p.drawLine(s.left() - 4, y, s.left() - 1, y);
        p.drawText(QPointF(s.left() - 7 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1),
                   label);
    }
    UprightText(p, 12, s.center().y(), QStringLiteral("clicks/min"));
}

void OverviewPlot::PaintDates(QPainter& p) {
    const QRect g = GridRect();
    const QRect s = StripRect();
    const QFontMetrics fm(font());
    p.setPen(kAxisText);
    const auto ticks = TimeTicks(location_->Whole(), g.width(), 64);
    for (const TimeTick& t : ticks) {
        const int x = static_cast<int>(std::lround(XOf(t.AtUs)));
        p.drawLine(x, s.bottom() + 1, x, s.bottom() + 4);
        p.drawLine(x, g.bottom() + 1, x, g.bottom() + 3);
        const QString label = Q(t.Label);
        const int w = fm.horizontalAdvance(label);
        p.drawText(QPointF(std::clamp(x - w / 2, 0, width() - w), s.bottom() + 5 + fm.ascent()),
                   label);
    }
}

void OverviewPlot::PaintLegend(QPainter& p) {
    const QRect g = GridRect();
    const QFontMetrics fm(font());
    const int x = g.right() + 16;
    const int barTop = g.top() + fm.height() + 2;
    const int barHeight = g.height() - fm.height() - 2;
    p.setPen(kAxisText);
    p.drawText(QPointF(x, g.top() + fm.ascent()), QStringLiteral("DPM per hour"));
    const int32_t most = MostDpm(*location_);
    for (int y = 0; y < barHeight; ++y) {
        const int dpm =
            static_cast<int>(std::lround(most * (barHeight - 1.0 - y) / (barHeight - 1)));
        p.fillRect(x, barTop + y, 12, 1, DpmColour(dpm, most));
    }
    p.setPen(kFrameLine);
    p.drawRect(x, barTop, 11, barHeight - 1);
    p.setPen(kAxisText);
    // Whole minutes at a step that leaves room for the labels.
    const int32_t step = std::max(1, static_cast<int32_t>(std::ceil(most / 4.0)));
    for (int32_t dpm = 0;; dpm = std::min(dpm + step, most)) {
        const int y =
            barTop + static_cast<int>(std::lround((barHeight - 1) * (1 - double(dpm) / most)));
        p.drawLine(x + 12, y, x + 15, y);
        p.drawText(QPointF(x + 18, y + fm.ascent() / 2.0 - 1), QString::number(dpm));
        if (dpm == most) break;
    }
    const QRect s = StripRect();
    p.fillRect(x, s.top(), 12, 10, kNotRecorded);
    p.drawText(QPointF(x + 16, s.top() + 9), QStringLiteral("not recorded"));
    p.fillRect(x, s.top() + 16, 12, 10, KindColour(PointKind::Nbhf));
    p.drawText(QPointF(x + 16, s.top() + 25), QStringLiteral("in NBHF trains"));
    p.fillRect(x, s.top() + 32, 12, 10, KindColour(PointKind::NoTrain));
    p.drawText(QPointF(x + 16, s.top() + 41), QStringLiteral("all clicks"));
}

void OverviewPlot::mousePressEvent(QMouseEvent* event) {
    if (location_ == nullptr || event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    if (StripRect().contains(at)) {
        dragFrom_ = dragTo_ = at.x();
        update();
    }
}

void OverviewPlot::mouseMoveEvent(QMouseEvent* event) {
    if (!dragFrom_) return;
    const QRect s = StripRect();
    dragTo_ = std::clamp(event->position().toPoint().x(), s.left(), s.right() + 1);
    update();
}

void OverviewPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (location_ == nullptr || event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    if (dragFrom_) {
        const int from = *dragFrom_;
        dragFrom_.reset();
        update();
        const int to = std::clamp(at.x(), StripRect().left(), StripRect().right() + 1);
        if (std::abs(to - from) >= kDragThreshold) {
            emit SpanChosen({TimeAt(std::min(from, to)), TimeAt(std::max(from, to))});
        } else {
            const int64_t hour = FloorDivide(TimeAt(from), kHourUs).Quotient * kHourUs;
            emit SpanChosen({hour, hour + kHourUs});
        }
        return;
    }
    if (const auto cell = CellAt(at)) {
        const int64_t from = (location_->FirstDay + cell->first) * kDayUs + cell->second * kHourUs;
        emit SpanChosen({from, from + kHourUs});
    }
}

bool OverviewPlot::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && location_ != nullptr) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (const auto cell = CellAt(help->pos())) {
            const HourCell& c = location_->Cell(cell->first, cell->second);
            const int64_t from =
                (location_->FirstDay + cell->first) * kDayUs + cell->second * kHourUs;
            QString text = Q(TimeTextTo(from, kMicrosecondsPerMinute)) + QStringLiteral(" ") +
                           ClockName(location_) + QStringLiteral(": ");
            text += c.RecordedMinutes > 0
                        ? QStringLiteral("%1 NBHF detection-positive minutes of %2 recorded")
                              .arg(c.NbhfDpm)
                              .arg(c.RecordedMinutes)
                        : QStringLiteral("nothing recorded");
            QToolTip::showText(help->globalPos(), text + QStringLiteral(" (click: show the hour)"),
                               this);
            return true;
        }
        if (StripRect().contains(help->pos())) {
            QToolTip::showText(help->globalPos(),
                               QStringLiteral("Drag over the strip to show that stretch of time; "
                                              "click to show an hour"),
                               this);
            return true;
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

// ---- click display ----

namespace {
constexpr int kPlotLeft = 70;
constexpr int kPlotRight = 14;
constexpr int kPlotTop = 22;
constexpr int kPanelGap = 8;
constexpr int kPlotBottom = 40;
constexpr double kHoverRadius = 6;

// Each panel's title, and the short one for a panel too low for it.
const char* const kPanelTitles[kPanels] = {"ICI (ms)", "Frequency (kHz)", "Amplitude (Pmax)"};
const char* const kShortTitles[kPanels] = {"ICI ms", "kHz", "Pmax"};
}  // namespace

ClickPlot::ClickPlot(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize ClickPlot::sizeHint() const {
    return {900, 420};
}

QSize ClickPlot::minimumSizeHint() const {
    return {kPlotLeft + kPlotRight + 200, kPlotTop + kPlotBottom + 3 * 40 + 2 * kPanelGap};
}

void ClickPlot::SetLocation(const ResultsLocation* location) {
    location_ = location;
    train_.reset();
    click_.reset();
    hovered_.reset();
    if (location_ != nullptr) {
        axes_ = AxesFor(*location_);
        span_ = location_->Whole();
    }
    update();
}

void ClickPlot::SetSpan(TimeSpan span) {
    if (location_ == nullptr) return;
    if (span.Length() < kShortestSpanUs) {
        const int64_t middle = span.FromUs + span.Length() / 2;
        span = {middle - kShortestSpanUs / 2, middle - kShortestSpanUs / 2 + kShortestSpanUs};
    }
    const TimeSpan limits = Limits();
    span_ = span.Length() > limits.Length() ? limits : Panned(span, 0, limits);
    hovered_.reset();
    update();
    emit SpanChanged(span_);
}

TimeSpan ClickPlot::Limits() const {
    return location_ != nullptr ? location_->Whole() : TimeSpan{0, 1};
}

void ClickPlot::SetShown(const KindsShown& shown) {
    shown_ = shown;
    update();
}

void ClickPlot::SetSelection(std::optional<size_t> train, std::optional<size_t> click) {
    train_ = train;
    click_ = click;
    update();
}

void ClickPlot::ZoomAbout(double factor, int64_t anchorUs) {
    SetSpan(Zoomed(span_, factor, anchorUs, Limits()));
}

PlotFrame ClickPlot::Frame() const {
    const QRect r = PanelRect(Panel::Ici);
    PlotFrame f;
    f.Span = span_;
    f.Width = r.width();
    f.Rows = r.height();
    f.Axes = axes_;
    f.Shown = shown_;
    return f;
}

QRect ClickPlot::PanelRect(Panel panel) const {
    const int h = std::max((height() - kPlotTop - kPlotBottom - 2 * kPanelGap) / kPanels, 10);
    return {kPlotLeft, kPlotTop + static_cast<int>(panel) * (h + kPanelGap),
            std::max(width() - kPlotLeft - kPlotRight, 10), h};
}

std::optional<QPointF> ClickPlot::PointOf(size_t click, Panel panel) const {
    if (location_ == nullptr || click >= location_->Clicks.size()) return std::nullopt;
    const PlotFrame f = Frame();
    const ResultsClick& c = location_->Clicks[click];
    const double x = f.X(c.TimeUs);
    const std::optional<int> row =
        f.Axes[static_cast<size_t>(panel)].Row(PanelValue(c, panel), f.Rows);
    if (!row || x < 0 || x >= f.Width) return std::nullopt;
    const QRect r = PanelRect(panel);
    return QPointF(r.left() + std::floor(x) + 0.5, r.top() + *row + 0.5);
}

QImage ClickPlot::PointsImage(const PlotFrame& frame, const std::vector<uint32_t>& visible) {
    QImage image(frame.Width, kPanels * frame.Rows, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const std::array<AxisRows, kPanels> rows = {AxisRows(frame.Axes[0], frame.Rows),
                                                AxisRows(frame.Axes[1], frame.Rows),
                                                AxisRows(frame.Axes[2], frame.Rows)};
    auto plot = [&](size_t i, int size, QRgb colour) {
        const ResultsClick& c = location_->Clicks[i];
        const int x = static_cast<int>(std::floor(frame.X(c.TimeUs)));
        for (int p = 0; p < kPanels; ++p) {
            const int row = rows[static_cast<size_t>(p)].Row(PanelValue(c, static_cast<Panel>(p)));
            if (row < 0) continue;
            // Each panel is a band of rows of the image.
            const int half = size / 2;
            for (int dy = -half; dy <= half; ++dy) {
                const int py = row + dy;
                if (py < 0 || py >= frame.Rows) continue;
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(p * frame.Rows + py));
                for (int dx = -half; dx <= half; ++dx) {
                    const int px = x + dx;
                    if (px >= 0 && px < frame.Width) line[px] = colour;
                }
            }
        }
    };
    // The selected train's clicks, every one of them in the span, ringed in black underneath.
    if (train_ && *train_ < location_->TrainEnds.size()) {
        const TrainClicks& ends = location_->TrainEnds[*train_];
        const auto [first, last] = location_->ClicksIn(span_);
        for (size_t i = std::max(first, ends.First); i < std::min(last, ends.Last + 1); ++i) {
            if (location_->Clicks[i].Train == static_cast<int32_t>(*train_))
                plot(i, 5, qRgb(0, 0, 0));
        }
        for (size_t i = std::max(first, ends.First); i < std::min(last, ends.Last + 1); ++i) {
            const ResultsClick& c = location_->Clicks[i];
            if (c.Train == static_cast<int32_t>(*train_)) plot(i, 3, KindColour(c.Kind).rgb());
        }
    }
    // Kinds drawn in turn, NBHF last and so on top.
    for (int k = kPointKinds - 1; k >= 0; --k) {
        const QRgb colour = KindColour(static_cast<PointKind>(k)).rgb();
        for (const uint32_t i : visible) {
            const ResultsClick& c = location_->Clicks[i];
            if (static_cast<int>(c.Kind) != k) continue;
            if (train_ && c.Train == static_cast<int32_t>(*train_)) continue;
            plot(i, 3, colour);
        }
    }
    return image;
}

void ClickPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(kAxisText);
    if (location_ == nullptr) {
        drawn_ = 0;
        p.drawText(rect(), Qt::AlignCenter,
                   QStringLiteral("Open TK1 files to see their clicks: File > Open TK1 files, or "
                                  "drop TK1 files on the window."));
        return;
    }
    const PlotFrame frame = Frame();
    for (int panel = 0; panel < kPanels; ++panel)
        PaintPanelFrame(p, static_cast<Panel>(panel), frame);
    const std::vector<uint32_t> visible = VisibleClicks(*location_, frame);
    drawn_ = visible.size();
    const QImage points = PointsImage(frame, visible);
    for (int panel = 0; panel < kPanels; ++panel) {
        const QRect r = PanelRect(static_cast<Panel>(panel));
        p.drawImage(r.topLeft(), points, QRect(0, panel * frame.Rows, frame.Width, frame.Rows));
    }
    // The chosen click and the one under the mouse, ringed.
    p.setRenderHint(QPainter::Antialiasing);
    for (const auto& [which, colour] :
         {std::pair{click_, QColor(0, 0, 0)}, std::pair{hovered_, QColor(30, 30, 30)}}) {
        if (!which) continue;
        for (int panel = 0; panel < kPanels; ++panel) {
            if (const auto at = PointOf(*which, static_cast<Panel>(panel))) {
                p.setPen(QPen(colour, 1.5));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(*at, 5, 5);
            }
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    if (pressAt_ && band_) {
        QColor fill = kSpanMark;
        fill.setAlpha(60);
        const double x0 = std::min(pressAt_->x(), bandTo_), x1 = std::max(pressAt_->x(), bandTo_);
        const QRect top = PanelRect(Panel::Ici), bottom = PanelRect(Panel::Amplitude);
        p.fillRect(QRectF(x0, top.top(), x1 - x0, bottom.bottom() - top.top()), fill);
    }
    PaintTimeAxis(p, frame);
    PaintLegend(p);
}

void ClickPlot::PaintPanelFrame(QPainter& p, Panel panel, const PlotFrame& frame) {
    const QRect r = PanelRect(panel);
    p.fillRect(r, Qt::white);
    const ValueAxis& axis = frame.Axes[static_cast<size_t>(panel)];
    const QFontMetrics fm(font());
    // Time grid lines.
    p.setPen(kGridLine);
    for (const TimeTick& t : TimeTicks(frame.Span, frame.Width, 100)) {
        const int x = r.left() + static_cast<int>(std::floor(frame.X(t.AtUs)));
        p.drawLine(x, r.top(), x, r.bottom());
    }
    for (const double v : ValueTicks(axis, r.height(), 24)) {
        const std::optional<int> row = axis.Row(v, r.height());
        if (!row) continue;
        const int y = r.top() + *row;
        p.setPen(kGridLine);
        p.drawLine(r.left(), y, r.right(), y);
        p.setPen(kAxisText);
        p.drawLine(r.left() - 4, y, r.left() - 1, y);
        const QString label = QString::number(v, 'g', 6);
        p.drawText(QPointF(r.left() - 7 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1),
                   label);
    }
    p.setPen(kFrameLine);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(kAxisText);
    QString title = QString::fromUtf8(kPanelTitles[static_cast<size_t>(panel)]);
    if (fm.horizontalAdvance(title) > r.height()) {
        title = QString::fromUtf8(kShortTitles[static_cast<size_t>(panel)]);
    }
    UprightText(p, 10, r.center().y(), title);
}

void ClickPlot::PaintTimeAxis(QPainter& p, const PlotFrame& frame) {
    const QRect r = PanelRect(Panel::Amplitude);
    const QFontMetrics fm(font());
    p.setPen(kAxisText);
    const auto ticks = TimeTicks(frame.Span, frame.Width, 100);
    for (const TimeTick& t : ticks) {
        const int x = r.left() + static_cast<int>(std::floor(frame.X(t.AtUs)));
        p.drawLine(x, r.bottom() + 1, x, r.bottom() + 4);
        const QString label = Q(t.Label);
        const int w = fm.horizontalAdvance(label);
        p.drawText(QPointF(std::clamp(x - w / 2, 0, width() - w), r.bottom() + 5 + fm.ascent()),
                   label);
    }
    const int64_t step = TimeStep(frame.Span, frame.Width, 100);
    const QString caption =
        QStringLiteral("time (%1): %2 to %3, %4 shown")
            .arg(ClockName(location_), Q(TimeTextTo(frame.Span.FromUs, step / 10)),
                 Q(TimeTextTo(frame.Span.ToUs, step / 10)), Q(LengthText(frame.Span.Length())));
    p.drawText(QPointF(r.left(), r.bottom() + 6 + fm.ascent() + fm.height()), caption);
}

void ClickPlot::PaintLegend(QPainter& p) {
    const QFontMetrics fm(font());
    int x = kPlotLeft;
    const int y = kPlotTop - 8;
    p.setPen(kAxisText);
    p.drawText(QPointF(x, y + fm.ascent() / 2.0 - 1), QStringLiteral("Train class:"));
    x += fm.horizontalAdvance(QStringLiteral("Train class:")) + 10;
    for (int k = 0; k < kPointKinds; ++k) {
        if (!shown_[static_cast<size_t>(k)]) continue;
        const auto kind = static_cast<PointKind>(k);
        p.fillRect(x, y - 4, 9, 9, KindColour(kind));
        x += 13;
        const QString name = KindName(kind);
        p.drawText(QPointF(x, y + fm.ascent() / 2.0 - 1), name);
        x += fm.horizontalAdvance(name) + 14;
    }
}

std::optional<size_t> ClickPlot::ClickNear(QPointF at) const {
    if (location_ == nullptr) return std::nullopt;
    for (int panel = 0; panel < kPanels; ++panel) {
        const QRect r = PanelRect(static_cast<Panel>(panel));
        if (!r.adjusted(-3, -3, 3, 3).contains(at.toPoint())) continue;
        return ClickUnder(*location_, Frame(), static_cast<Panel>(panel), at.x() - r.left(),
                          at.y() - r.top(), kHoverRadius);
    }
    return std::nullopt;
}

void ClickPlot::mousePressEvent(QMouseEvent* event) {
    if (location_ == nullptr) return;
    const bool band = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton &&
                       (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) != 0);
    if (event->button() != Qt::LeftButton && !band) return;
    pressAt_ = event->position();
    pressSpan_ = span_;
    band_ = band;
    moved_ = false;
    bandTo_ = pressAt_->x();
}

void ClickPlot::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (!pressAt_) {
        const std::optional<size_t> near = ClickNear(at);
        if (near != hovered_) {
            hovered_ = near;
            update();
            emit Hovered(hovered_);
        }
        return;
    }
    if (std::abs(at.x() - pressAt_->x()) >= kDragThreshold) moved_ = true;
    if (band_) {
        const QRect r = PanelRect(Panel::Ici);
        bandTo_ = std::clamp(at.x(), double(r.left()), double(r.right() + 1));
        update();
        return;
    }
    if (!moved_) return;
    const PlotFrame f = Frame();
    const auto by = static_cast<int64_t>(std::llround(
        (pressAt_->x() - at.x()) * static_cast<double>(pressSpan_.Length()) / f.Width));
    span_ = Panned(pressSpan_, by, Limits());
    update();
    emit SpanChanged(span_);
}

void ClickPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressAt_) return;
    const QPointF from = *pressAt_;
    pressAt_.reset();
    if (band_) {
        band_ = false;
        update();
        if (moved_) {
            const PlotFrame f = Frame();
            const double left = PanelRect(Panel::Ici).left();
            const double x0 = std::min(from.x(), bandTo_) - left;
            const double x1 = std::max(from.x(), bandTo_) - left;
            SetSpan({f.TimeAt(x0), f.TimeAt(x1)});
        }
        return;
    }
    if (!moved_) emit Chosen(ClickNear(event->position()));
}

void ClickPlot::wheelEvent(QWheelEvent* event) {
    if (location_ == nullptr) return;
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    const PlotFrame f = Frame();
    const int64_t anchor = f.TimeAt(event->position().x() - PanelRect(Panel::Ici).left());
    ZoomAbout(std::pow(0.8, steps), anchor);
    event->accept();
}

void ClickPlot::leaveEvent(QEvent*) {
    if (hovered_) {
        hovered_.reset();
        update();
        emit Hovered(std::nullopt);
    }
}

}  // namespace wtk::ui
