// Scaling and drawing of the three traces, checked on the off-screen pictures.
#include "ui/graphs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <vector>

#include "base/numbers.h"
#include "ui/clickable_label.h"
#include "ui/main_window.h"
#include "ui_test_support.h"

namespace wtk::ui {
namespace {

const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGreyLine = qRgb(128, 128, 128);

// A window surface with a 667 x 300 graph area at left 18, as the main window lays it out.
class GraphsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        window = std::make_unique<QWidget>();
        window->resize(1000, 400);
        canvas = new ImageCanvas(kWindowColour, window.get());
        canvas->setGeometry(0, 0, 18, 400);
        box = new ImageCanvas(Qt::black, window.get());
        box->setGeometry(18, 0, 667, 300);
        bar = new AmpScaleBar(window.get());
        graphs = std::make_unique<SignalGraphs>(*box, *bar, *canvas);
        graphs->DisplayWidth = 667;
    }

    // Rows of column x holding the colour.
    std::vector<int> RowsWith(int x, QRgb colour) {
        std::vector<int> rows;
        const QImage& img = box->Image();
        for (int y = 0; y < img.height(); ++y)
            if (img.pixel(x, y) == colour) rows.push_back(y);
        return rows;
    }
    int CountColour(QRgb colour, int fromX = 0) {
        int n = 0;
        const QImage& img = box->Image();
        for (int y = 0; y < img.height(); ++y)
            for (int x = fromX; x < img.width(); ++x) n += img.pixel(x, y) == colour;
        return n;
    }

    std::unique_ptr<QWidget> window;
    ImageCanvas* canvas = nullptr;
    ImageCanvas* box = nullptr;
    AmpScaleBar* bar = nullptr;
    std::unique_ptr<SignalGraphs> graphs;
};

TEST_F(GraphsTest, AllZeroDataLiesOnTheMidLineWithAOnePixelBar) {
    std::vector<int32_t> zeros(2000, 0);
    graphs->Graphvals(zeros, 3, 2, true);
    EXPECT_EQ(graphs->LastMaxY, 1);
    EXPECT_EQ(graphs->Yscale, 1.0f);
    EXPECT_EQ(bar->height(), 1);
    EXPECT_EQ(bar->y(), 299);  // bottom edge level with the graph area's bottom
    EXPECT_EQ(bar->x(), 2);
    EXPECT_EQ(bar->width(), 10);
    EXPECT_EQ(RowsWith(300, kWhite), std::vector<int>{150});
    EXPECT_EQ(CountColour(kWhite), 667);  // one full-width line, nothing else
    // The label was drawn on the window surface just above the bar's top.
    const QImage margin = canvas->Image().copy();
    int ink = 0;
    for (int y = 200; y < 299; ++y)
        for (int x = 4; x < 18; ++x) ink += qGray(margin.pixel(x, y)) < 100;
    EXPECT_GT(ink, 0);
    // It reads four blanks, 1 and 125 blanks, upwards from the bar's top at x 4.
    const QString blanks(125, QLatin1Char(' '));
    canvas->Image().fill(kWindowColour);
    graphs->RotatedTextOut(90, 4, 299, -9, QStringLiteral("    1") + blanks);
    EXPECT_EQ(canvas->Image(), margin);
    canvas->Image().fill(kWindowColour);
    graphs->RotatedTextOut(90, 4, 299, -9, QStringLiteral("    7") + blanks);
    EXPECT_NE(canvas->Image(), margin);
}

TEST_F(GraphsTest, FullScaleValueFillsTheBarHeight) {
    std::vector<int32_t> buf(200, 0);
    buf[40] = -32767;
    graphs->Graphvals(buf, 1, 8, true);
    EXPECT_EQ(graphs->LastMaxY, 32767);
    EXPECT_EQ(bar->height(), 300);
    EXPECT_EQ(bar->y(), 0);
    const QImage shape = bar->grab().toImage();  // navy inside a 2-pixel border
    EXPECT_EQ(shape.pixel(5, 150), qRgb(0, 0, 128));
    EXPECT_EQ(shape.pixel(0, 150), qRgb(0, 0, 0));
    EXPECT_EQ(shape.pixel(1, 150), qRgb(0, 0, 0));
    EXPECT_EQ(shape.pixel(2, 150), qRgb(0, 0, 128));
    EXPECT_FLOAT_EQ(graphs->Yscale, 300.0f / (2 * 32767.0f));
}

TEST_F(GraphsTest, SmallValuesAreNotMagnified) {
    std::vector<int32_t> buf(400);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = i % 2 ? 100 : -100;
    graphs->Graphvals(buf, 3, 2, true);
    EXPECT_EQ(graphs->Yscale, 1.0f);
    EXPECT_EQ(bar->height(), 1);  // Round(100 / 32768 x 300) = 1
    int top = 300, bottom = -1;
    for (int x = 0; x < 667; ++x) {
        for (int y : RowsWith(x, kWhite)) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    EXPECT_EQ(top, 50);  // -100 drawn 100 pixels above the mid line
    EXPECT_EQ(bottom, 250);
    EXPECT_EQ(RowsWith(100, kWhite).front(), 50);  // index 50 (-100) at x 100
    EXPECT_EQ(RowsWith(102, kWhite).back(), 250);  // index 51 (+100) at x 102
}

TEST_F(GraphsTest, PositiveValuesAreDrawnBelowTheMidLine) {
    std::vector<int32_t> buf(400, 0);
    buf[10] = 60;  // trace 2 starts at index 1: value 10 is at x = 9 x 8 = 72
    graphs->Graphvals(buf, 2, 8, true);
    const std::vector<int> rows = RowsWith(72, kRed);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back(), 210);
    EXPECT_EQ(RowsWith(64, kRed).front(), 150);  // falling from the mid line at x 64 ...
    EXPECT_EQ(RowsWith(80, kRed).front(), 150);  // ... and back to it at x 80
}

TEST_F(GraphsTest, RawTraceStartsAtIndex21AndClearsTheArea) {
    std::vector<int32_t> old(400, 0);
    graphs->Graphvals(old, 3, 2, true);
    ASSERT_GT(CountColour(kWhite), 0);
    std::vector<int32_t> buf(400, 0);
    buf[21] = 100;  // drawn at x 0, from the pen's start at index 20's value
    graphs->Graphvals(buf, 1, 8, true);
    EXPECT_EQ(CountColour(kWhite), 0);
    const std::vector<int> rows = RowsWith(0, kGreen);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), 150);
    EXPECT_EQ(rows.back(), 250);
    EXPECT_EQ(RowsWith(8, kGreen), std::vector<int>{150});  // index 22
    EXPECT_EQ(RowsWith(16, kGreen), std::vector<int>{150});
    buf[20] = -100;  // the pen starts at index 20's value
    graphs->Graphvals(buf, 1, 8, true);
    EXPECT_EQ(RowsWith(0, kGreen).front(), 50);
}

TEST_F(GraphsTest, LaterTracesDrawOverTheFirst) {
    std::vector<int32_t> raw(400, 0);
    raw[30] = 100;  // x = (30 - 21) x 8 = 72
    graphs->Graphvals(raw, 1, 8, true);
    std::vector<int32_t> filtered(400, 0);
    filtered[5] = 90;  // x = 32
    graphs->Graphvals(filtered, 2, 8, false);
    EXPECT_EQ(RowsWith(72, kGreen).back(), 250);  // trace 1 kept
    EXPECT_EQ(RowsWith(32, kRed).back(), 240);
    EXPECT_EQ(box->Image().pixel(28, 150), kGreyLine);  // each trace draws the mid line anew
    EXPECT_EQ(graphs->LastMaxY, 90);                    // bar and label follow the trace drawn last
    EXPECT_EQ(bar->height(), 1);
}

TEST_F(GraphsTest, ShortBufferEndsTheTraceAtItsLastValue) {
    std::vector<int32_t> buf(30, 50);
    graphs->Graphvals(buf, 3, 2, true);  // values 0..29 at x 0..58
    EXPECT_FALSE(RowsWith(58, kWhite).empty());
    EXPECT_EQ(CountColour(kWhite, 59), 0);
    EXPECT_EQ(CountColour(kGreyLine, 59), 667 - 59);
    // A buffer that does not reach the first drawn index draws no trace.
    std::vector<int32_t> tiny(5, 70);
    graphs->Graphvals(tiny, 1, 8, true);
    EXPECT_EQ(CountColour(kGreen), 0);
    EXPECT_EQ(graphs->LastMaxY, 70);
    graphs->Graphvals({}, 3, 2, true);
    EXPECT_EQ(graphs->LastMaxY, 1);
}

TEST_F(GraphsTest, MaxScanCoversOnlyTheValuesAFullWidthTraceShows) {
    std::vector<int32_t> buf(2000, 10);
    buf[667 / 2 + 1] = 20000;  // past DisplayWidth div Xinc: not scanned
    graphs->Graphvals(buf, 3, 2, true);
    EXPECT_EQ(graphs->LastMaxY, 10);
    buf[667 / 2] = 20000;  // the last scanned index
    graphs->Graphvals(buf, 3, 2, true);
    EXPECT_EQ(graphs->LastMaxY, 20000);
}

TEST_F(GraphsTest, TracesSurviveARepaint) {
    std::vector<int32_t> buf(400, 0);
    buf[3] = 80;  // x 6, y 230
    graphs->Graphvals(buf, 3, 2, true);
    window->show();
    const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(6, 230), kWhite);
    window->resize(1200, 500);  // a resize neither clears nor redraws the picture
    box->setGeometry(18, 0, 800, 400);
    EXPECT_EQ(box->Image().pixel(6, 230), kWhite);
    EXPECT_EQ(box->Image().pixel(700, 350), qRgb(0, 0, 0));
}

// After a resize the picture is what drawing the same traces at the new size gives: traces,
// mid line, bar and label, with the maxY scan over the new width.
TEST_F(GraphsTest, RedrawShowsTheTracesAsIfDrawnAtTheNewSize) {
    graphs->Redraw();  // nothing drawn yet: nothing happens
    EXPECT_EQ(CountColour(qRgb(0, 0, 0)), 667 * 300);
    std::vector<int32_t> raw(2000, 0), filtered(2000, 0), band(600, 0);
    raw[30] = 200;
    raw[21 + 700 / 8] = -9000;  // only a graph area wider than 667 shows it
    filtered[40] = 120;
    band[100] = -300;
    auto drawAll = [&](SignalGraphs& g) {
        g.Graphvals(raw, 1, 8, true);
        g.Graphvals(filtered, 2, 8, false);
        g.Graphvals(band, 3, 2, false);
    };
    graphs->RedrawWidth = 900;
    drawAll(*graphs);
    EXPECT_EQ(graphs->LastMaxY, 300);

    window->resize(1200, 500);
    box->setGeometry(18, 0, 900, 420);
    graphs->DisplayWidth = 900;
    graphs->Redraw();

    QWidget fresh;
    fresh.resize(1200, 500);
    auto* freshCanvas = new ImageCanvas(kWindowColour, &fresh);
    freshCanvas->setGeometry(0, 0, 18, 400);
    auto* freshBox = new ImageCanvas(Qt::black, &fresh);
    freshBox->setGeometry(18, 0, 900, 420);
    auto* freshBar = new AmpScaleBar(&fresh);
    SignalGraphs expected(*freshBox, *freshBar, *freshCanvas);
    expected.DisplayWidth = 900;
    drawAll(expected);
    EXPECT_EQ(box->Image(), freshBox->Image());
    EXPECT_EQ(bar->geometry(), freshBar->geometry());
    EXPECT_EQ(graphs->LastMaxY, expected.LastMaxY);
    EXPECT_EQ(graphs->Yscale, expected.Yscale);
    EXPECT_EQ(canvas->Image(), freshCanvas->Image());
    EXPECT_GT(CountColour(kGreen, 667), 0);  // the raw trace goes on where it used to end

    // A block drawn with fewer traces replaces the picture. A trace keeps the values of the
    // wider of the graph area and RedrawWidth; a redraw wider than that ends the trace there.
    std::vector<int32_t> flat(2000, 5);
    graphs->DisplayWidth = 400;
    graphs->RedrawWidth = 400;
    graphs->Graphvals(flat, 1, 8, true);
    graphs->DisplayWidth = 900;
    graphs->Redraw();
    EXPECT_EQ(CountColour(kRed), 0);
    EXPECT_EQ(CountColour(kWhite), 0);
    EXPECT_GT(CountColour(kGreen, 0), 0);
    EXPECT_EQ(CountColour(kGreen, 410), 0);
}

TEST(FormResizeTest, GraphAreaFollowsTheWindow) {
    test::App();
    TCv Cv;
    Cv.FormResize(1000, 669);
    EXPECT_EQ(Cv.ControlPanel->x(), 1000 - 263);
    EXPECT_EQ(Cv.GraphBox->width(), 667);
    EXPECT_EQ(Cv.Graphs().DisplayWidth, 667);
    EXPECT_EQ(Cv.GraphBox->geometry().topLeft(), QPoint(18, 0));
    EXPECT_EQ(Cv.ResultsPanel->y(), 669 - TCv::kResultsPanelHeight);
    EXPECT_EQ(Cv.GraphBox->height(), 669 - TCv::kResultsPanelHeight - 30);
    EXPECT_EQ(Cv.ResultsPanel->width(), 1000 - 263 - 10);  // beside the control panel
    EXPECT_EQ(Cv.FilesMemo->width(), Cv.ResultsPanel->width() - 4);
    const int tall = TCv::kControlPanelHeight + TCv::kResultsPanelHeight + 1;
    Cv.FormResize(1000, tall);  // room below the control panel: the results span the window
    EXPECT_EQ(Cv.ResultsPanel->width(), 998);
    EXPECT_EQ(Cv.FilesMemo->width(), 994);
}

// The window at 1024 x 700 and at 1800 x 1100 (CTest runs this group a second time at a scale
// factor of 2): every control whole, inside the window and clear of its neighbours; the graph
// area and the memos grow with the window; the traces are drawn anew at the graph area's size.
TEST(FormResizeTest, EveryControlStaysWholeAndTheTracesFollowTheWindow) {
    test::App();
    std::unique_ptr<TCv> Cv = StartUp();
    Cv->show();
    EXPECT_EQ(Cv->devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());
    std::vector<int32_t> raw(4000, 0);
    raw[21 + 10] = -20000;  // the largest value, at x 80
    raw[21 + 40] = 10000;   // at x 320
    Cv->Graphvals(raw, 1, 8, true);

    const std::vector<QWidget*> controls = {Cv->MenuBar,
                                            Cv->GraphBox,
                                            Cv->ControlPanel,
                                            Cv->ResultsPanel,
                                            Cv->BigLbl,
                                            Cv->StopBtn,
                                            Cv->Label9,
                                            Cv->KsamplesPerSecEdit,
                                            Cv->Label8,
                                            Cv->AddedSiteNameEdit,
                                            Cv->LoggerNumberEdit,
                                            Cv->Label5,
                                            Cv->UseFileNameDateTimes,
                                            Cv->Label10,
                                            Cv->SelectBatchBtn,
                                            Cv->SearchDirectories,
                                            Cv->ViewSettingsLbl,
                                            Cv->Label2,
                                            Cv->ConvertBatchBtn,
                                            Cv->MakeScrapbookBtn,
                                            Cv->ShowGraphs,
                                            Cv->MakeSourceLinkageFile,
                                            Cv->ProgressLbl,
                                            Cv->DataMemo,
                                            Cv->DATA2Memo,
                                            Cv->CopyDataToClip,
                                            Cv->ClearDataMemo,
                                            Cv->CopyFilesMemoToClip,
                                            Cv->ClearFilesMemo,
                                            Cv->Label1,
                                            Cv->Label3,
                                            Cv->Label4,
                                            Cv->FilesMemo};
    const std::vector<QLabel*> legends = {Cv->Label1, Cv->Label3, Cv->Label4};
    auto isLegend = [&](QWidget* w) {
        return std::find(legends.begin(), legends.end(), w) != legends.end();
    };
    struct Room {
        QSize graph;
        int files, minutes;
    };
    std::vector<Room> rooms;
    for (const QSize size : {QSize(1024, 700), QSize(1800, 1100)}) {
        SCOPED_TRACE(size.width());
        Cv->resize(size);
        QCoreApplication::processEvents();
        ASSERT_EQ(Cv->size(), size);
        for (QWidget* w : controls) {
            SCOPED_TRACE(w->metaObject()->className() + (": " + w->objectName()).toStdString());
            EXPECT_TRUE(w->isVisibleTo(Cv.get()));
            EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()));
            EXPECT_TRUE(Cv->rect().contains(QRect(w->mapTo(Cv.get(), QPoint(0, 0)), w->size())));
            // Whole: at least the size its text asks for (status texts wrap or end at the edge;
            // the legends are checked below).
            if (isLegend(w)) continue;
            const bool cut = w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored;
            if (qobject_cast<QAbstractButton*>(w) != nullptr ||
                (qobject_cast<QLabel*>(w) != nullptr && !cut)) {
                EXPECT_GE(w->width(), w->sizeHint().width());
                EXPECT_GE(w->height(), w->sizeHint().height());
            }
            EXPECT_GE(w->width(), w->minimumSizeHint().width());
            // Clear of the other controls of its panel.
            for (QWidget* other : controls) {
                if (other == w || other->parentWidget() != w->parentWidget()) continue;
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << other->metaObject()->className();
            }
        }
        // The legends overlap only in their trailing blanks.
        for (size_t i = 0; i < legends.size(); ++i) {
            const int words =
                QFontMetrics(legends[i]->font()).horizontalAdvance(legends[i]->text().trimmed());
            const int room = i + 1 < legends.size() ? legends[i + 1]->x() - legends[i]->x()
                                                    : legends[i]->width();
            EXPECT_LE(words, room) << legends[i]->text().toStdString();
        }

        // The traces drawn anew: mid line across the new width, the spike scaled to the new
        // height, the bar's bottom level with the graph area's.
        const QImage& img = Cv->GraphBox->Image();
        ASSERT_EQ(img.size(), Cv->GraphBox->size());
        const int H = img.height(), mid = H / 2;
        EXPECT_EQ(img.pixel(img.width() - 1, mid), qRgb(128, 128, 128));
        const int spike = mid + static_cast<int>(RoundHalfEven(10000.0 * Cv->Graphs().Yscale));
        EXPECT_EQ(Cv->Graphs().Yscale, static_cast<float>(H / 40000.0));
        EXPECT_EQ(img.pixel(320, spike), kGreen);
        EXPECT_EQ(img.pixel(320, spike + 2), qRgb(0, 0, 0));
        EXPECT_EQ(Cv->AmpScaleBarShape->geometry().bottom(), Cv->GraphBox->geometry().bottom());
        rooms.push_back({Cv->GraphBox->size(), Cv->FilesMemo->height(), Cv->DATA2Memo->height()});
    }
    EXPECT_EQ(rooms[1].graph.width() - rooms[0].graph.width(), 1800 - 1024);
    EXPECT_GT(rooms[1].graph.height(), rooms[0].graph.height() + 200);
    EXPECT_GT(rooms[1].files, rooms[0].files + 100);
    EXPECT_GT(rooms[1].minutes, rooms[0].minutes + 50);
}

}  // namespace
}  // namespace wtk::ui
