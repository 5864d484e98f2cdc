// The two pictures of the results view. The overview shows a location whole: the hour-of-day x
// date grid of NBHF detection-positive minutes (grey where nothing was recorded) above a strip
// of clicks per minute on the same dates; a cell clicked, or a stretch dragged over the strip,
// opens in the click display. The click display shows every click of its span as a point on
// three panels over one time axis (interval, frequency, amplitude), coloured by the class of its
// train; the wheel zooms about the mouse, a drag pans, a drag with the right button (or Shift)
// zooms to the stretch dragged over, and a click chooses the point under the mouse.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>
#include <utility>

#include "ui/results_model.h"

namespace wtk::ui {

QColor KindColour(PointKind kind);
// "NBHF", "dolphin", "sonar", "unclassed", "in no train".
QString KindName(PointKind kind);

class OverviewPlot : public QWidget {
    Q_OBJECT
public:
    explicit OverviewPlot(QWidget* parent = nullptr);

    void SetLocation(const ResultsLocation* location);
    // The span the click display shows, marked on the strip.
    void SetShownSpan(std::optional<TimeSpan> span);

    QRect GridRect() const;
    QRect StripRect() const;
    QRect CellRect(int32_t day, int32_t hour) const;
    // The day and hour of the cell at a point of the widget.
    std::optional<std::pair<int32_t, int32_t>> CellAt(QPoint p) const;
    double XOf(int64_t us) const;
    int64_t TimeAt(double x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void SpanChosen(wtk::ui::TimeSpan span);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void PaintGrid(QPainter& p);
    void PaintStrip(QPainter& p);
    void PaintDates(QPainter& p);
    void PaintLegend(QPainter& p);

    const ResultsLocation* location_ = nullptr;
    std::optional<TimeSpan> shown_;
    std::optional<int> dragFrom_;  // x where a drag over the strip began
    int dragTo_ = 0;
};

class ClickPlot : public QWidget {
    Q_OBJECT
public:
    explicit ClickPlot(QWidget* parent = nullptr);

    void SetLocation(const ResultsLocation* location);
    void SetSpan(TimeSpan span);
    TimeSpan Span() const { return span_; }
    void SetShown(const KindsShown& shown);
    void SetSelection(std::optional<size_t> train, std::optional<size_t> click);
    // Zooms by factor (< 1: in) about a time, within the location's days.
    void ZoomAbout(double factor, int64_t anchorUs);
    TimeSpan Limits() const;

    // What is drawn where: the frame of the span at the widget's size, each panel's rectangle,
    // and the point of a click in a panel (widget coordinates; nothing where it is not drawn).
    PlotFrame Frame() const;
    QRect PanelRect(Panel panel) const;
    std::optional<QPointF> PointOf(size_t click, Panel panel) const;
    // The clicks drawn at the last paint.
    size_t DrawnClicks() const { return drawn_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void SpanChanged(wtk::ui::TimeSpan span);
    void Hovered(std::optional<size_t> click);
    void Chosen(std::optional<size_t> click);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The panel at a point and the click nearest to it.
    std::optional<size_t> ClickNear(QPointF p) const;
    void PaintPanelFrame(QPainter& p, Panel panel, const PlotFrame& frame);
    void PaintTimeAxis(QPainter& p, const PlotFrame& frame);
    void PaintLegend(QPainter& p);
    QImage PointsImage(const PlotFrame& frame, const std::vector<uint32_t>& visible);

    const ResultsLocation* location_ = nullptr;
    TimeSpan span_{0, 1};
    KindsShown shown_ = kAllKinds;
    std::array<ValueAxis, kPanels> axes_{};
    std::optional<size_t> train_, click_, hovered_;
    size_t drawn_ = 0;
    // A drag: where it began and the span then; band: a zoom to a stretch.
    std::optional<QPointF> pressAt_;
    TimeSpan pressSpan_;
    bool band_ = false;
    bool moved_ = false;
    double bandTo_ = 0;
};

}  // namespace wtk::ui
