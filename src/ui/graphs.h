// The signal graphs: the graph area GraphBox (an off-screen image shown by a widget, so traces
// survive repaints), the scale bar AmpScaleBar, the window's left margin that carries the
// rotated maxY label, and Graphvals that draws one trace with its bar and label.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace wtk::ui {

inline const QColor kWindowColour(192, 192, 192);  // silver
inline const QColor kNavy(0, 0, 128);
inline const QColor kGrey(128, 128, 128);

// A widget that shows an image it owns; resizing keeps the picture at the top left and fills
// new area with the background colour (the traces are not redrawn on a resize).
class ImageCanvas : public QWidget {
public:
    ImageCanvas(QColor background, QWidget* parent);
    // The picture, at the widget's current size.
    QImage& Image();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitImage();

    QColor background_;
    QImage image_;
};

// The navy rectangle at the left of the graph area whose height shows the last trace's
// largest value against the 16-bit full scale.
class AmpScaleBar : public QWidget {
public:
    explicit AmpScaleBar(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class SignalGraphs {
public:
    static constexpr int kBarLeft = 2;
    static constexpr int kBarWidth = 10;

    // GraphBox: the black graph area; WindowCanvas: the window's own surface left of it
    // (at window point 0,0), where the rotated label goes.
    SignalGraphs(ImageCanvas& GraphBox, AmpScaleBar& Bar, ImageCanvas& WindowCanvas);

    // Draw one trace. GraphID 1 raw (green, from index 21), 2 high-pass (red, from index 1),
    // 3 band-pass x scaler (white, from index 0); Xinc pixels per value.
    void Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst);

    // Text on the window surface at window point (X, Y), rotated Angle degrees anticlockwise,
    // character height -Height pixels when Height is negative; background in the window colour.
    void RotatedTextOut(int Angle, int X, int Y, int Height, const QString& Text);

    // Draws the traces shown since the last clearing one again, at the graph area's current
    // size, with the bar and label they set; after a resize of the window. Each trace keeps the
    // values a graph area up to RedrawWidth pixels wide shows. Nothing happens before the first
    // trace.
    void Redraw();

    int32_t DisplayWidth = 0;  // graph area width in pixels, set by the window's resize
    int32_t RedrawWidth = 0;   // widest graph area a redraw fills (the screen width)
    float Yscale = 0;          // vertical scale of the trace drawn last (at most 1)
    int64_t LastMaxY = 0;      // largest absolute value of the trace drawn last (at least 1)

private:
    struct Shown {
        std::vector<int32_t> Values;  // the start of the trace's buffer
        int GraphID = 0;
        int Xinc = 1;
        bool ClearFirst = false;
    };
    void Draw(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst);

    ImageCanvas& graphBox_;
    AmpScaleBar& bar_;
    ImageCanvas& windowCanvas_;
    std::array<Shown, 3> shown_;  // the traces on the picture, in drawing order
    size_t nShown_ = 0;
};

}  // namespace wtk::ui
