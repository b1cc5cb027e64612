// The sweep chart: the exact drawing sequence on a recording surface, and the
// pixels it leaves on a real image.
#include "graph.h"
#include "recordingsurface.h"
#include "sweepchart.h"

#include <QPainter>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quorvid;
using quorvid::test::RecordingSurface;

namespace {

void plot(SweepChart& chart, int a, int b)
{
    std::int16_t s1 = static_cast<std::int16_t>(a), s2 = static_cast<std::int16_t>(b);
    chart.PlotSamples(s1, s2);
}

// Does any pixel within radius of a logical point have this colour?
bool colourNear(const QImage& img, QPointF logical, int radius, QColor colour)
{
    const qreal dpr = img.devicePixelRatio();
    const int cx = int(logical.x() * dpr), cy = int(logical.y() * dpr);
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if (img.rect().contains(x, y) && img.pixelColor(x, y) == colour) return true;
    return false;
}

QPointF unitsToPixels(double x, double y) { return {x * 589.0 / 737.0, y * 221.0 / 340.0}; }

const QColor kRedPx(255, 0, 0), kBluePx(0, 0, 255), kGreyPx(128, 128, 128);

}  // namespace

TEST(SweepChartOps, StartupGridIsFourRowsOnEveryFourthColumn)
{
    RecordingSurface surface;
    SweepChart chart(surface);
    chart.drawStartupGrid();
    ASSERT_EQ(surface.ops.size(), 185 * 4);
    EXPECT_EQ(surface.ops.mid(0, 4),
              (QStringList{"pset 0 320", "pset 0 220", "pset 0 120", "pset 0 20"}));
    EXPECT_EQ(surface.ops.last(), "pset 736 20");
    EXPECT_EQ(chart.GridX, 740);
}

TEST(SweepChartOps, GridEndsAtTheRoundedScaleWidthTiesToEven)
{
    struct Row { double width; int lastColumn; };
    for (const Row r : {Row{737.5, 736}, Row{740.5, 740}, Row{736.49, 736}, Row{739.6, 740}}) {
        RecordingSurface surface(r.width, 340);
        SweepChart chart(surface);
        chart.drawStartupGrid();
        EXPECT_EQ(surface.ops.last(), QStringLiteral("pset %1 20").arg(r.lastColumn)) << r.width;
    }
}

TEST(SweepChartOps, FirstCallStartsAtTheTopLeftCorner)
{
    RecordingSurface surface;
    SweepChart chart(surface);
    std::int16_t s1 = 300, s2 = 45;
    chart.PlotSamples(s1, s2);
    EXPECT_EQ(s1, 120);
    EXPECT_EQ(s2, 376);
    EXPECT_EQ(surface.ops, (QStringList{
                               "width 2", "color 0x80000005", "line 2 1 2 340", "line 3 1 3 340",
                               "color 0x808080", "width 1",
                               "width 2", "color 0x0000ff", "line 0 0 2 120",
                               "color 0xff0000", "line 0 0 2 376"}));
    EXPECT_EQ(chart.SweepX, 2);
    EXPECT_EQ(chart.LastY1, 120);
    EXPECT_EQ(chart.LastY2, 376);
}

TEST(SweepChartOps, GridDotsComeBackOnlyAtMultiplesOfFour)
{
    RecordingSurface surface;
    SweepChart chart(surface);
    plot(chart, 200, 200);  // x = 2
    surface.ops.clear();
    plot(chart, 200, 200);  // x = 4
    EXPECT_EQ(surface.ops.mid(4, 6), (QStringList{"color 0x808080", "width 1", "pset 4 320", "pset 4 220",
                                                  "pset 4 120", "pset 4 20"}));
    surface.ops.clear();
    plot(chart, 200, 200);  // x = 6
    EXPECT_FALSE(surface.ops.join(' ').contains("pset"));
}

TEST(SweepChartOps, WrapsAfterTheRightEdge)
{
    RecordingSurface surface;
    SweepChart chart(surface);
    for (int i = 0; i < 369; ++i) plot(chart, 100, 100);
    EXPECT_EQ(chart.SweepX, 738);
    surface.ops.clear();
    plot(chart, 150, 160);  // x = 0: erase bar and grid, no segment
    EXPECT_EQ(chart.SweepX, 0);
    EXPECT_EQ(surface.ops, (QStringList{"width 2", "color 0x80000005", "line 0 1 0 340", "line 1 1 1 340",
                                        "color 0x808080", "width 1", "pset 0 320", "pset 0 220",
                                        "pset 0 120", "pset 0 20", "width 2", "color 0x0000ff",
                                        "color 0xff0000"}));
    EXPECT_EQ(chart.LastY1, 270);
    EXPECT_EQ(chart.LastY2, 261);
    surface.ops.clear();
    plot(chart, 400, 400);
    EXPECT_TRUE(surface.ops.contains("line 0 270 2 20"));
    EXPECT_TRUE(surface.ops.contains("line 0 261 2 21"));
}

TEST(SweepChartOps, SweepWrapsAfterFirstEvenNotBelowAFractionalWidth)
{
    RecordingSurface surface(101.5, 340);
    SweepChart chart(surface);
    for (int i = 0; i < 51; ++i) plot(chart, 0, 0);
    EXPECT_EQ(chart.SweepX, 102);
    plot(chart, 0, 0);
    EXPECT_EQ(chart.SweepX, 0);
}

TEST(SweepChartPixels, TracesGridAndEraseBar)
{
    ImageSurface surface(QSize(589, 221), QSizeF(737, 340));
    SweepChart chart(surface);
    chart.drawStartupGrid();
    EXPECT_TRUE(colourNear(surface.image(), unitsToPixels(400, 20), 1, kGreyPx));
    EXPECT_TRUE(colourNear(surface.image(), unitsToPixels(400, 320), 1, kGreyPx));
    EXPECT_FALSE(colourNear(surface.image(), unitsToPixels(402, 170), 3, kGreyPx));

    // A full sweep of trace 1 on the "200" row (y 120) and trace 2 on "000" (y 321).
    for (int i = 0; i < 370; ++i) plot(chart, 300, 100);
    EXPECT_TRUE(colourNear(surface.image(), unitsToPixels(300, 120), 1, kRedPx));
    EXPECT_TRUE(colourNear(surface.image(), unitsToPixels(300, 321), 1, kBluePx));
    EXPECT_FALSE(colourNear(surface.image(), unitsToPixels(300, 220), 3, kRedPx));

    // Part of the next sweep, lower on trace 1: where the bar has passed the
    // old trace is gone, ahead of it the old trace stands.
    for (int i = 0; i < 150; ++i) plot(chart, 200, 100);
    const QImage& img = surface.image();
    EXPECT_TRUE(colourNear(img, unitsToPixels(150, 220), 1, kRedPx));
    EXPECT_FALSE(colourNear(img, unitsToPixels(150, 120), 2, kRedPx));
    EXPECT_TRUE(colourNear(img, unitsToPixels(500, 120), 1, kRedPx));
    EXPECT_FALSE(colourNear(img, unitsToPixels(500, 220), 2, kRedPx));
}

TEST(SweepChartPixels, ExactTraceColours)
{
    ImageSurface surface(QSize(589, 221), QSizeF(737, 340), 2.0);
    SweepChart chart(surface);
    for (int i = 0; i < 20; ++i) plot(chart, 250, 250);
    // Equal samples: blue lies one unit below red, both exact colours.
    EXPECT_TRUE(colourNear(surface.image(), unitsToPixels(20, 170), 1, kRedPx));
    EXPECT_TRUE(colourNear(surface.image(), unitsToPixels(20, 171), 2, kBluePx));
    EXPECT_EQ(surface.image().size(), QSize(1178, 442));
}

TEST(GraphWidget, GeometryAndKeptDrawingBeforeShow)
{
    Graph graph;
    EXPECT_EQ(graph.size(), QSize(593, 225));
    EXPECT_EQ(graph.contentsRect(), QRect(2, 2, 589, 221));
    EXPECT_EQ(graph.scaleWidth(), 737);
    EXPECT_EQ(graph.scaleHeight(), 340);

    SweepChart chart(graph);
    chart.drawStartupGrid();
    for (int i = 0; i < 50; ++i) plot(chart, 300, 300);
    // Drawn before the widget is shown; a grab of the shown widget holds it.
    graph.show();
    const QImage shot = graph.grab().toImage();
    const QPointF red = unitsToPixels(60, 120) + QPointF(2, 2);
    EXPECT_TRUE(colourNear(shot, red, 2, kRedPx));
    const QPointF grid = unitsToPixels(400, 20) + QPointF(2, 2);
    EXPECT_TRUE(colourNear(shot, grid, 1, kGreyPx));
}

TEST(GraphWidget, RepaintsGatherTheChangedAreaUntilTheNextTick)
{
    Graph graph;
    graph.show();
    SweepChart chart(graph);
    auto* tick = graph.findChild<QTimer*>();
    ASSERT_NE(tick, nullptr);
    EXPECT_FALSE(tick->isActive());
    EXPECT_TRUE(graph.pendingRepaint().isNull());

    // Three steps of the sweep, x = 2, 4 and 6 units: one narrow band the
    // height of the chart, waiting for a single repaint.
    for (int i = 0; i < 3; ++i) plot(chart, 300, 300);
    EXPECT_TRUE(tick->isActive());
    EXPECT_EQ(tick->interval(), Graph::kRepaintInterval);
    const QRect pending = graph.pendingRepaint();
    EXPECT_TRUE(graph.contentsRect().contains(pending)) << pending.x() << "," << pending.width();
    EXPECT_EQ(pending.top(), graph.contentsRect().top());
    EXPECT_EQ(pending.bottom(), graph.contentsRect().bottom());
    EXPECT_GE(pending.right(), 2 + int(6 * 589.0 / 737));
    EXPECT_LE(pending.width(), 12);

    graph.repaintPending();
    EXPECT_TRUE(graph.pendingRepaint().isNull());
    EXPECT_FALSE(tick->isActive());
    const QImage shot = graph.grab().toImage();
    EXPECT_TRUE(colourNear(shot, unitsToPixels(6, 120) + QPointF(2, 2), 2, kRedPx));
}

// Wide lines are filled row by row rather than stroked; they must cover what
// the painter's round-capped stroke covers, but for the odd pixel on an edge.
TEST(SweepChartPixels, WideLinesCoverWhatARoundCappedStrokeCovers)
{
    struct Row {
        const char* name;
        QLineF line;  // user units
    };
    const Row rows[] = {
        {"trace step", {100, 170, 102, 150}},  {"steep", {200, 20, 202, 330}},
        {"flat", {300, 100, 340, 100}},        {"shallow", {10, 200, 200, 230}},
        {"a dot", {400, 50, 400.0001, 50}},    {"over the top edge", {500, -60, 502, 40}},
        {"beyond the right edge", {730, 100, 745, 120}}, {"backwards", {600, 300, 560, 250}},
    };
    for (const qreal dpr : {1.0, 2.0, 1.25}) {
        for (const Row& r : rows) {
            SCOPED_TRACE(testing::Message() << r.name << " at " << dpr);
            ImageSurface surface(QSize(589, 221), QSizeF(737, 340), dpr);
            surface.setForeColor(kRed);
            surface.setDrawWidth(2);
            surface.line(float(r.line.x1()), float(r.line.y1()), float(r.line.x2()), float(r.line.y2()));

            QImage stroke(surface.image().size(), QImage::Format_RGB32);
            stroke.setDevicePixelRatio(dpr);
            stroke.fill(Qt::white);
            QPainter p(&stroke);
            p.setClipRect(QRect(0, 0, 589, 221));
            p.setPen(QPen(kRedPx, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(surface.toPixels(float(r.line.x1()), float(r.line.y1())),
                       surface.toPixels(float(r.line.x2()), float(r.line.y2())));
            p.end();

            int covered = 0, differing = 0;
            const QImage& filled = surface.image();
            for (int y = 0; y < stroke.height(); ++y)
                for (int x = 0; x < stroke.width(); ++x) {
                    const bool a = filled.pixelColor(x, y) == kRedPx;
                    const bool b = stroke.pixelColor(x, y) == kRedPx;
                    covered += b;
                    differing += a != b;
                }
            EXPECT_GT(covered, 0);
            EXPECT_LE(differing, std::max(2, covered / 10)) << "of " << covered;
        }
    }
}
