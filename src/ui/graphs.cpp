#include "ui/graphs.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "base/numbers.h"

namespace wtk::ui {

ImageCanvas::ImageCanvas(QColor background, QWidget* parent)
    : QWidget(parent), background_(background) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageCanvas::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.drawImage(event->rect(), Image(), event->rect());
}

QImage& ImageCanvas::Image() {
    FitImage();
    return image_;
}

void ImageCanvas::resizeEvent(QResizeEvent*) {
    FitImage();
}

void ImageCanvas::FitImage() {
    const QSize size = this->size().expandedTo(QSize(1, 1));
    if (image_.size() == size) return;
    QImage grown(size, QImage::Format_RGB32);
    grown.fill(background_);
    if (!image_.isNull()) {
        QPainter p(&grown);
        p.drawImage(0, 0, image_);
    }
    image_ = std::move(grown);
}

AmpScaleBar::AmpScaleBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void AmpScaleBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kNavy);
    if (width() > 4 && height() > 4) {  // 2-pixel border
        p.setPen(QPen(Qt::black, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(1, 1, width() - 2, height() - 2));
    }
}

SignalGraphs::SignalGraphs(ImageCanvas& GraphBox, AmpScaleBar& Bar, ImageCanvas& WindowCanvas)
    : graphBox_(GraphBox), bar_(Bar), windowCanvas_(WindowCanvas) {}

namespace {

struct TraceStyle {
    QColor Pen;
    int32_t YvalueOffset;  // first index drawn
};

TraceStyle StyleOf(int GraphID) {
    switch (GraphID) {
        case 1:
            return {QColor(0, 255, 0), 21};
        case 2:
            return {QColor(255, 0, 0), 1};
        default:
            return {QColor(255, 255, 255), 0};
    }
}

// A y coordinate kept well inside what the painter handles; far-off points are clipped anyway.
int ClampY(int64_t y) {
    return static_cast<int>(std::clamp<int64_t>(y, -100000, 100000));
}

}  // namespace

void SignalGraphs::Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst) {
    assert(GraphID >= 1 && GraphID <= 3);
    if (Xinc < 1) Xinc = 1;
    // Keep what a redraw at up to RedrawWidth pixels needs: the values of the maxY scan and of
    // a full-width trace. A picture holds the three traces of one block; should more come
    // without a clearing one, the oldest goes.
    if (ClearFirst) nShown_ = 0;
    if (nShown_ == shown_.size()) {
        std::rotate(shown_.begin(), shown_.begin() + 1, shown_.end());
        --nShown_;
    }
    Shown& kept = shown_[nShown_++];
    const int32_t width = std::max({DisplayWidth, RedrawWidth, int32_t{0}});
    const size_t keep =
        static_cast<size_t>(width / Xinc) + 2 + static_cast<size_t>(StyleOf(GraphID).YvalueOffset);
    kept.Values.assign(Buf.begin(),
                       Buf.begin() + static_cast<std::ptrdiff_t>(std::min(keep, Buf.size())));
    kept.GraphID = GraphID;
    kept.Xinc = Xinc;
    kept.ClearFirst = ClearFirst;
    Draw(Buf, GraphID, Xinc, ClearFirst);
}

void SignalGraphs::Redraw() {
    if (nShown_ == 0) return;
    graphBox_.Image().fill(Qt::black);
    for (size_t i = 0; i < nShown_; ++i) {
        const Shown& s = shown_[i];
        Draw(s.Values, s.GraphID, s.Xinc, s.ClearFirst);
    }
}

void SignalGraphs::Draw(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst) {
    QImage& image = graphBox_.Image();
    const int W = graphBox_.width();
    const int H = graphBox_.height();
    QPainter p(&image);
    if (ClearFirst) p.fillRect(0, 0, W, H, Qt::black);

    // Largest absolute value over the values a full-width trace can show; the scan starts at
    // index 0 and stops at the buffer's last index.
    int64_t maxY = 0;
    const size_t scanEnd =
        std::min(Buf.size(), static_cast<size_t>(std::max<int32_t>(DisplayWidth, 0) / Xinc) + 1);
    for (size_t i = 0; i < scanEnd; ++i) maxY = std::max(maxY, std::abs(int64_t{Buf[i]}));
    if (maxY < 1) maxY = 1;
    LastMaxY = maxY;

    Yscale = static_cast<float>(static_cast<double>(H) / (2.0 * static_cast<double>(maxY)));
    if (Yscale > 1.0f) Yscale = 1.0f;

    // Scale bar: bottom level with the graph area's bottom; a full-scale value fills the
    // height (anything taller would lie above the window's top edge).
    int64_t barHeight = RoundHalfEven(static_cast<double>(maxY) / 32768.0 * H);
    barHeight = std::clamp<int64_t>(barHeight, 1, std::max(H, 1));
    const int barTop = graphBox_.y() + H - static_cast<int>(barHeight);
    bar_.setGeometry(kBarLeft, barTop, kBarWidth, static_cast<int>(barHeight));
    bar_.repaint();

    RotatedTextOut(90, 4, barTop, -9,
                   QStringLiteral("    ") + QString::number(maxY) + QString(125, QLatin1Char(' ')));

    const int MidScreen = H / 2;
    p.setPen(QPen(kGrey, 0));
    p.drawLine(0, MidScreen, W, MidScreen);

    const TraceStyle style = StyleOf(GraphID);
    const size_t first = static_cast<size_t>(style.YvalueOffset);
    if (Buf.size() > first) {  // a buffer that does not reach the first index has no trace
        p.setPen(QPen(style.Pen, 0));
        auto yOf = [&](int32_t v) {
            return ClampY(MidScreen +
                          RoundHalfEven(static_cast<double>(v) * static_cast<double>(Yscale)));
        };
        QPoint pen(0, yOf(Buf[first > 0 ? first - 1 : 0]));
        int X = 0;
        size_t posn = first;
        do {
            const QPoint to(X, yOf(Buf[posn]));
            p.drawLine(pen, to);
            pen = to;
            X += Xinc;
            ++posn;
        } while (X < W && posn < Buf.size());
    }
    p.end();
    if (graphBox_.isVisible()) graphBox_.repaint();
}

void SignalGraphs::RotatedTextOut(int Angle, int X, int Y, int Height, const QString& Text) {
    QImage& image = windowCanvas_.Image();
    QPainter p(&image);
    QFont font = windowCanvas_.font();
    if (Height < 0) {
        font.setPixelSize(-Height);
    } else if (Height > 0) {
        font.setPixelSize(std::max(1, Height * 3 / 4));  // cell height -> character height
    }
    p.setFont(font);
    p.setPen(windowCanvas_.palette().color(QPalette::WindowText));
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(kWindowColour);
    p.translate(X - windowCanvas_.x(), Y - windowCanvas_.y());
    p.rotate(-Angle);  // the painter turns clockwise on screen; the angle is anticlockwise
    p.drawText(QPoint(0, QFontMetrics(font).ascent()), Text);
    p.end();
    if (windowCanvas_.isVisible()) windowCanvas_.repaint();
}

}  // namespace wtk::ui
