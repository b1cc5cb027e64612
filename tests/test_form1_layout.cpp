// The main window as designed: every control by name, its caption, place in
// pixels at 96 dpi, font, colours, tooltip and alignment; the menus, timers,
// tab order and the initial selections; the pictures.
#include "artwork.h"
#include "controls.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "graph.h"
#include "syscolors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "qtprinters.h"


using namespace quorvid;

namespace {

class Form1Layout : public ::testing::Test {
protected:
    Form1Layout()
    {
        comm.setOpenablePorts({1, 2, 3, 4, 5, 6, 7, 8});
        form.Form_Load();
    }

    template <typename T = QWidget>
    T* control(const char* name)
    {
        T* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // A colour in the window as rendered, in client-area coordinates.
    QColor pixelAt(const QImage& client, int x, int y) { return client.pixelColor(x, y); }

    FakeSerialControl comm;
    Form1 form{comm};
};

struct LabelRow {
    const char* name;
    const char* caption;
    QRect geometry;
    int fontPx;
    bool bold;
    Qt::Alignment horizontal;
    const char* tooltip;
};

const Qt::Alignment L = Qt::AlignLeft, R = Qt::AlignRight, C = Qt::AlignHCenter;

const LabelRow kLabelRows[] = {
    {"Label11", "IBP OEM  -  QX 04100  -  Evaluation Software", {8, 0, 609, 25}, 17, true, C, ""},
    {"SYS1", "0", {16, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"MAP1", "0", {96, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"DIA1", "0", {176, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"SYS2", "0", {272, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"MAP2", "0", {352, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"DIA2", "0", {432, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"PULSE", "0", {528, 32, 57, 24}, 18, true, R, "Pulse Rate"},
    {"Label6", "SYS [mmHg]", {16, 64, 73, 17}, 10, false, L, ""},
    {"Label13", "MAP [mmHg]", {96, 64, 73, 17}, 10, false, L, ""},
    {"Label5", "DIA  [mmHg]", {176, 64, 73, 17}, 10, false, L, ""},
    {"Label12", "SYS [mmHg]", {272, 64, 73, 17}, 10, false, L, ""},
    {"Label10", "MAP [mmHg]", {352, 64, 73, 17}, 10, false, L, ""},
    {"Label15", "DIA  [mmHg]", {432, 64, 73, 17}, 10, false, L, ""},
    {"Label14", "Pulse [bpm]", {528, 64, 65, 17}, 10, false, L, ""},
    {"Label19", "Channel 1", {16, 88, 73, 17}, 10, true, L, ""},
    {"Stat1", "Status", {96, 88, 137, 16}, 12, false, C, "Pulse Rate"},
    {"Label20", "Channel 2", {272, 88, 73, 17}, 10, true, L, ""},
    {"Stat2", "Status", {352, 88, 137, 16}, 12, false, C, "Pulse Rate"},
    {"Label1", "300", {608, 128, 17, 17}, 8, true, L, ""},
    {"Label4", "200", {608, 192, 17, 17}, 8, true, L, ""},
    {"Label25", "100", {608, 256, 17, 17}, 8, true, L, ""},
    {"Label26", "000", {608, 320, 17, 17}, 8, true, L, ""},
    {"Label2", "Hz", {608, 360, 17, 17}, 8, true, L, ""},
    {"Identify", "Press Identify", {328, 352, 97, 57}, 10, false, C, ""},
    {"Speed", "100", {504, 352, 97, 24}, 14, false, C, "Pulse Rate"},
};

struct ButtonRow {
    const char* name;
    const char* caption;
    QRect geometry;
    const char* tooltip;
};

const ButtonRow kButtonRows[] = {
    {"SelectSpeed", "Set Speed", {504, 384, 97, 17}, "Set Initial Cuff Pump Up Value"},
    {"Zero1", "Zero Ch. 1", {16, 416, 89, 17}, "Reset the Board"},
    {"Zero2", "Zero Ch. 2", {120, 416, 89, 17}, "Reset the Board"},
    {"Zeroall", "Zero All", {224, 416, 89, 17}, "Reset the Board"},
    {"GetInfo", "Identify", {328, 416, 97, 17}, "Set Cycle Time for Automated Measurements"},
};

struct OptionRow {
    const char* name;
    const char* frame;
    const char* caption;
    QRect geometry;  // within the frame
    bool selected;
};

const OptionRow kOptionRows[] = {
    {"Option1", "Frame1", "Normal", {8, 16, 73, 17}, true},
    {"Option2", "Frame1", "Simulate", {8, 40, 73, 17}, false},
    {"Option3", "Filter", "50 Hz", {16, 16, 65, 17}, true},
    {"Option4", "Filter", "60 Hz", {16, 40, 65, 17}, false},
};

}  // namespace

TEST_F(Form1Layout, LabelsStandWhereDesignedWithTheirCaptionsFontsAndTooltips)
{
    for (const LabelRow& row : kLabelRows) {
        SCOPED_TRACE(row.name);
        auto* label = control<QLabel>(row.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->parentWidget(), form.clientArea());
        EXPECT_EQ(label->text(), QString::fromLatin1(row.caption));
        EXPECT_EQ(label->geometry(), row.geometry);
        EXPECT_EQ(label->font().family(), "Arial");
        EXPECT_EQ(label->font().pixelSize(), row.fontPx);
        EXPECT_EQ(label->font().weight(), row.bold ? QFont::Bold : QFont::Normal);
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, row.horizontal);
        EXPECT_EQ(label->toolTip(), QString::fromLatin1(row.tooltip));
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_TRUE(label->autoFillBackground());  // opaque
    }
}

TEST_F(Form1Layout, LabelColoursAndBordersFollowTheDesign)
{
    struct Row {
        const char* name;
        QColor foreground, background;
        bool border;
    };
    const QColor window = systemColor(SysColor::WindowBackground);
    const QColor face = systemColor(SysColor::ButtonFace);
    const QColor workspace = systemColor(SysColor::AppWorkspace);
    const QColor red(255, 0, 0), blue(0, 0, 255), green(0, 192, 0);
    const Row rows[] = {
        {"Label11", QColor(0x40, 0x40, 0x40), face, false},
        {"SYS1", red, window, true},
        {"DIA1", red, window, true},
        {"SYS2", blue, window, true},
        {"DIA2", blue, window, true},
        {"PULSE", green, window, true},
        {"Label6", workspace, face, false},
        {"Label14", workspace, face, false},
        {"Label19", red, face, false},
        {"Label20", blue, face, false},
        {"Stat1", red, window, true},
        {"Stat2", blue, window, true},
        {"Label26", workspace, face, false},
        {"Speed", QColor(0, 0, 0), window, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto* label = control<QLabel>(row.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), row.foreground);
        EXPECT_EQ(label->palette().color(QPalette::Window), row.background);
        EXPECT_EQ(label->frameShape() != QFrame::NoFrame, row.border);
    }
    // Caption-text background: the text must still stand out against it.
    auto* identify = control<QLabel>("Identify");
    EXPECT_EQ(identify->palette().color(QPalette::Window), systemColor(SysColor::CaptionText));
    EXPECT_NE(identify->palette().color(QPalette::WindowText),
              identify->palette().color(QPalette::Window));
    EXPECT_NE(identify->frameShape(), QFrame::NoFrame);
}

TEST(ReadableTextColor, KeepsTheDesignUnlessTextWouldVanish)
{
    struct Row {
        const char* name;
        QColor text, background, expected;
    };
    const Row rows[] = {
        {"red on white stays", QColor(255, 0, 0), QColor(255, 255, 255), QColor(255, 0, 0)},
        {"workspace grey on face stays", QColor(0xAB, 0xAB, 0xAB), QColor(0xF0, 0xF0, 0xF0),
         QColor(0xAB, 0xAB, 0xAB)},
        {"white on white turns black", QColor(255, 255, 255), QColor(255, 255, 255), QColor(0, 0, 0)},
        {"black on black turns white", QColor(0, 0, 0), QColor(0, 0, 0), QColor(255, 255, 255)},
        {"near-equal dark turns white", QColor(30, 30, 40), QColor(20, 20, 20), QColor(255, 255, 255)},
    };
    for (const Row& r : rows) EXPECT_EQ(readableTextColor(r.text, r.background), r.expected) << r.name;
}

TEST_F(Form1Layout, ButtonsFramesAndOptionButtons)
{
    for (const ButtonRow& row : kButtonRows) {
        SCOPED_TRACE(row.name);
        auto* button = control<QPushButton>(row.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(row.caption));
        EXPECT_EQ(button->geometry(), row.geometry);
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(row.tooltip));
        EXPECT_EQ(button->font().family(), "Arial");
        EXPECT_EQ(button->font().pixelSize(), 13);
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
        EXPECT_TRUE(button->shortcut().isEmpty());  // no access keys
    }

    struct FrameRow {
        const char* name;
        const char* caption;
        QRect geometry;
    };
    for (const FrameRow& row : {FrameRow{"Frame1", "Mode", {16, 344, 89, 65}},
                                FrameRow{"Filter", "Filter", {120, 344, 89, 65}}}) {
        SCOPED_TRACE(row.name);
        auto* frame = control<QGroupBox>(row.name);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->title(), QString::fromLatin1(row.caption));
        EXPECT_EQ(frame->geometry(), row.geometry);
        EXPECT_EQ(frame->font().pixelSize(), 13);
    }

    for (const OptionRow& row : kOptionRows) {
        SCOPED_TRACE(row.name);
        auto* option = control<QRadioButton>(row.name);
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->parentWidget()->objectName(), row.frame);
        EXPECT_EQ(option->text(), QString::fromLatin1(row.caption));
        EXPECT_EQ(option->geometry(), row.geometry);
        EXPECT_EQ(option->isChecked(), row.selected);
        EXPECT_EQ(option->font().pixelSize(), 13);
    }
}

TEST_F(Form1Layout, ChartPictureAndStatusBar)
{
    EXPECT_EQ(control("Graph")->geometry(), QRect(8, 120, 593, 225));
    auto* image = control<QLabel>("Image1");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->geometry(), QRect(448, 408, 220, 50));
    EXPECT_EQ(image->pixmap().deviceIndependentSize(), QSizeF(220, 50));

    auto* bar = control<QStatusBar>("StsBar1");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(0, 462, 675, 25));
    EXPECT_TRUE(bar->currentMessage().isEmpty());
    EXPECT_FALSE(bar->isSizeGripEnabled());
}

TEST_F(Form1Layout, ScaleLabelsStandLevelWithTheirGridRows)
{
    // A row at y units lies 1830 + 9.75 y twips below the client area's top.
    struct Row { const char* name; int y; };
    for (const Row r : {Row{"Label1", 20}, Row{"Label4", 120}, Row{"Label25", 220}, Row{"Label26", 320}}) {
        const double rowPx = (1830 + 9.75 * r.y) / 15.0;
        const QRect g = control(r.name)->geometry();
        EXPECT_LE(std::abs(g.top() + g.height() / 2.0 - rowPx), 2.0) << r.name;
    }
}

TEST_F(Form1Layout, ShapesAreTwoPixelOutlinesInsideTheirBoxes)
{
    struct Row { const char* name; QRect box; QColor colour; };
    const Row rows[] = {
        {"Shape3", {8, 24, 233, 89}, QColor(255, 0, 0)},
        {"Shape4", {264, 24, 233, 89}, QColor(0, 0, 255)},
        {"Shape1", {520, 24, 81, 89}, QColor(0, 192, 0)},
    };
    form.show();
    const QImage client = form.clientArea()->grab().toImage();
    ASSERT_EQ(client.devicePixelRatio(), 1.0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(control(r.name)->geometry(), r.box);
        const int midX = r.box.center().x(), midY = r.box.center().y();
        // Both pixels of each edge, and nothing just outside or just inside.
        for (const QPoint p : {QPoint(r.box.left(), midY), QPoint(r.box.left() + 1, midY),
                               QPoint(r.box.right(), midY), QPoint(r.box.right() - 1, midY),
                               QPoint(midX, r.box.top()), QPoint(midX, r.box.top() + 1),
                               QPoint(midX, r.box.bottom()), QPoint(midX, r.box.bottom() - 1)})
            EXPECT_EQ(client.pixelColor(p), r.colour) << p.x() << "," << p.y();
        for (const QPoint p : {QPoint(r.box.left() - 1, midY), QPoint(r.box.left() + 2, midY),
                               QPoint(r.box.right() + 1, midY), QPoint(midX, r.box.bottom() + 1),
                               QPoint(midX, r.box.bottom() - 2)})
            EXPECT_NE(client.pixelColor(p), r.colour) << p.x() << "," << p.y();
    }
}

TEST_F(Form1Layout, WindowIsFixedWithCaptionIconAndNoMaximiseButton)
{
    EXPECT_EQ(form.windowTitle(), "Quorvid");
    EXPECT_EQ(form.clientArea()->size(), QSize(675, 487));
    form.show();
    EXPECT_EQ(form.clientArea()->geometry(), QRect(QPoint(0, form.menuBar()->height()), QSize(675, 487)));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.size(), QSize(675, 487 + form.menuBar()->height()));

    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);

    const QList<QSize> sizes = form.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_EQ(form.font().family(), "Arial");
    EXPECT_EQ(form.font().pixelSize(), 13);
}

TEST_F(Form1Layout, WindowOpensCentredOnTheScreen)
{
    form.show();
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_LE((form.frameGeometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(Form1Layout, MenuBarHoldsFilePortEvaluateAndAboutInThatOrder)
{
    const QList<QAction*> top = form.menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[0]->text(), "&File");
    EXPECT_EQ(top[1]->text(), "&Port");
    EXPECT_EQ(top[2]->text(), "&Evaluate");  // the program's own addition
    EXPECT_EQ(top[3]->text(), "&About");
    EXPECT_EQ(top[3]->menu(), nullptr);  // a command of the menu bar itself
    EXPECT_EQ(top[3]->objectName(), "menAbout");

    auto* menDatei = control<QMenu>("menDatei");
    ASSERT_NE(menDatei, nullptr);
    EXPECT_EQ(menDatei->menuAction(), top[0]);
    // Record... (the program's own addition), then the design's Exit.
    ASSERT_EQ(menDatei->actions().size(), 3);
    EXPECT_EQ(menDatei->actions()[0]->objectName(), "menOpenRecording");
    EXPECT_EQ(menDatei->actions()[0]->shortcut(), QKeySequence(QKeySequence::Open));
    EXPECT_EQ(menDatei->actions()[1]->objectName(), "menRecord");
    EXPECT_EQ(menDatei->actions()[1]->text(), "&Record...");
    EXPECT_EQ(menDatei->actions()[2]->objectName(), "menEnde");
    EXPECT_EQ(menDatei->actions()[2]->text(), "&Exit");

    auto* menPort = control<QMenu>("menPort");
    ASSERT_NE(menPort, nullptr);
    EXPECT_EQ(menPort->menuAction(), top[1]);
    const QList<QAction*> ports = menPort->actions();
    ASSERT_EQ(ports.size(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(ports[i]->objectName(), QStringLiteral("setCOM%1").arg(i + 1));
        EXPECT_EQ(ports[i]->text(), QStringLiteral("COM%1").arg(i + 1));
        EXPECT_TRUE(ports[i]->isCheckable());
        EXPECT_TRUE(ports[i]->isEnabled());
    }
}

TEST_F(Form1Layout, BothTimersRunFromTheStart)
{
    auto* rtc = control<QTimer>("RTC_Timer");
    auto* val = control<QTimer>("Val_Update");
    ASSERT_TRUE(rtc && val);
    EXPECT_EQ(rtc->interval(), 350);
    EXPECT_TRUE(rtc->isActive());
    EXPECT_FALSE(rtc->isSingleShot());
    EXPECT_EQ(val->interval(), 1);
}

TEST_F(Form1Layout, FormLoadFillsTheStatusTableAndSetsTheSpeed)
{
    EXPECT_EQ(form.StatusText[0], "Normal Operation");
    EXPECT_EQ(form.StatusText[6], "Zeroing ok");
    EXPECT_EQ(form.StatusText[11], "Selftest Error !!!");
    for (std::size_t i = 12; i <= 20; ++i) EXPECT_TRUE(form.StatusText[i].isEmpty()) << i;
    EXPECT_EQ(control<QLabel>("Speed")->text(), "100");
    // The start-up grid is on the chart before the window is shown.
    auto* graph = control<Graph>("Graph");
    EXPECT_EQ(graph->image().pixelColor(0, qRound(320 * 221.0 / 340)), QColor(128, 128, 128));
}

TEST_F(Form1Layout, FocusStartsOnIdentifyAndTabFollowsTheDesign)
{
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "GetInfo");

    // Within an option group only the selected button is a tab stop.
    const QStringList expected = {"Zero1", "SelectSpeed", "Zero2",   "Zeroall",
                                  "Graph", "Option1",     "Option3", "GetInfo"};
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(Form1Layout, OptionGroupsAreIndependent)
{
    auto* normal = control<QRadioButton>("Option1");
    auto* simulate = control<QRadioButton>("Option2");
    auto* hz50 = control<QRadioButton>("Option3");
    auto* hz60 = control<QRadioButton>("Option4");
    simulate->click();
    EXPECT_TRUE(simulate->isChecked());
    EXPECT_FALSE(normal->isChecked());
    EXPECT_TRUE(hz50->isChecked());
    hz60->click();
    EXPECT_TRUE(hz60->isChecked());
    EXPECT_FALSE(hz50->isChecked());
    EXPECT_TRUE(simulate->isChecked());
    normal->click();
    EXPECT_TRUE(normal->isChecked());
    EXPECT_TRUE(hz60->isChecked());
}

TEST(Artwork, IconHasBothSizesInSixteenColours)
{
    for (const int size : {32, 16}) {
        const QImage icon = iconImage(size);
        EXPECT_EQ(icon.size(), QSize(size, size));
        QSet<QRgb> opaque;
        bool transparent = false;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb c = icon.pixel(x, y);
                if (qAlpha(c) == 0) transparent = true;
                else opaque.insert(c);
            }
        EXPECT_LE(opaque.size(), 16) << size;
        EXPECT_GE(opaque.size(), 3) << size;  // a picture, not a blank
        EXPECT_TRUE(transparent) << size;     // rounded corners
    }
}

TEST(Artwork, PictureIs220By50InEightColoursAtAnyPixelRatio)
{
    for (const qreal dpr : {1.0, 2.0}) {
        const QImage picture = pictureImage(dpr);
        EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(220, 50)) << dpr;
        EXPECT_EQ(picture.format(), QImage::Format_Indexed8);
        EXPECT_LE(picture.colorCount(), 8);
    }
}

namespace {

// The rows and columns of a label's rendering that differ from its background.
QRect inkBounds(QLabel* label)
{
    const QImage image = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb background = label->palette().color(QPalette::Window).rgb();
    const QRect inside = label->contentsRect();
    QRect ink;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (image.pixel(x, y) != background) ink |= QRect(x, y, 1, 1);
    return ink;
}

}  // namespace

// Captions are drawn from the top of the box: an identification too long for
// its box shows its first lines and loses its last, exactly as if only the
// lines that fit had been sent.
TEST_F(Form1Layout, ALongCaptionKeepsItsFirstLinesAndLosesItsLast)
{
    auto* identify = control<QLabel>("Identify");
    ASSERT_NE(identify, nullptr);
    const int linesThatFit = identify->contentsRect().height() / QFontMetrics(identify->font()).lineSpacing();
    ASSERT_GE(linesThatFit, 2);
    QStringList lines;
    for (int i = 1; i <= 12; ++i) lines << QStringLiteral("Line %1").arg(i);

    identify->setText(lines.mid(0, linesThatFit + 1).join('\n'));
    const QImage fitting = identify->grab().toImage();
    identify->setText(lines.join('\n'));
    const QImage all = identify->grab().toImage();
    EXPECT_EQ(all, fitting);
    identify->setText(lines.mid(1).join('\n'));  // without its first line
    EXPECT_NE(identify->grab().toImage(), all);
}

// A readout's digits stand against the top and the aligned side of the box,
// inside the border, with no indent.
TEST_F(Form1Layout, ReadoutDigitsStartAtTheTopInsideTheBorder)
{
    for (const char* name : {"SYS1", "PULSE", "Speed", "Stat1"}) {
        SCOPED_TRACE(name);
        auto* label = control<QLabel>(name);
        ASSERT_NE(label, nullptr);
        label->setText(QStringLiteral("120"));
        const QFontMetrics fm(label->font());
        const QRect inside = label->contentsRect();
        const QRect ink = inkBounds(label);
        ASSERT_FALSE(ink.isEmpty());
        // The glyphs' tops lie where the first line's ascent puts them.
        EXPECT_NEAR(ink.top(), inside.top() + fm.ascent() + fm.tightBoundingRect(QStringLiteral("120")).top(), 1);
        if (label->alignment() & Qt::AlignRight) {
            EXPECT_GE(ink.right(), inside.right() - 2);
        }
    }
}
