// The About window: one at a time, its name and version, its layout, and
// every way of closing it unloads it so the next opening loads afresh.
#include "artwork.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "frmabout.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "qtprinters.h"


using namespace quorvid;

namespace {

class About : public ::testing::Test {
protected:
    About()
    {
        comm.setOpenablePorts({1, 2, 3, 4, 5, 6, 7, 8});
        form.Form_Load();
        form.show();
    }

    frmAbout* open()
    {
        form.findChild<QAction*>("menAbout")->trigger();
        return form.aboutWindow();
    }
    // Runs the deletions that closing a window schedules.
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    FakeSerialControl comm;
    Form1 form{comm};
};

}  // namespace

TEST_F(About, OpensOnceModelessWithNameAndVersion)
{
    frmAbout* about = open();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->windowTitle(), "Quorvid");
    EXPECT_EQ(about->findChild<QLabel*>("lblVersion")->text(), "Version " QUORVID_VERSION);
    EXPECT_EQ(about->findChild<QLabel*>("lblVersion")->text(), "Version 1.0.1");

    EXPECT_EQ(open(), about);
    EXPECT_EQ(form.findChildren<frmAbout*>().size(), 1);
    EXPECT_TRUE(about->isVisible());

    // Hidden behind or away: a further click brings the same one back.
    about->hide();
    EXPECT_EQ(open(), about);
    EXPECT_TRUE(about->isVisible());
}

TEST_F(About, MainWindowKeepsWorkingWhileItIsOpen)
{
    open();
    form.framer().FrameValues = {0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16};
    form.Val_Update_Timer();
    EXPECT_EQ(form.findChild<QLabel*>("SYS1")->text(), "120");
    form.findChild<QPushButton*>("SelectSpeed")->click();
    EXPECT_EQ(form.findChild<QLabel*>("Speed")->text(), "150");
}

TEST_F(About, OkEscapeEnterAndTheCloseBoxEachUnloadIt)
{
    struct Row {
        const char* name;
        void (*close)(frmAbout*);
    };
    const Row rows[] = {
        {"OK clicked", [](frmAbout* a) { a->findChild<QPushButton*>("cmdOK")->click(); }},
        {"Escape", [](frmAbout* a) { QTest::keyClick(a, Qt::Key_Escape); }},
        {"Enter", [](frmAbout* a) { QTest::keyClick(a, Qt::Key_Return); }},
        {"close box", [](frmAbout* a) { a->close(); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QPointer<frmAbout> about = open();
        ASSERT_FALSE(about.isNull());
        r.close(about);
        EXPECT_FALSE(about && about->isVisible());
        flushDeletes();
        EXPECT_TRUE(about.isNull());
        EXPECT_EQ(form.aboutWindow(), nullptr);

        // The next opening loads a new window with the same texts.
        frmAbout* again = open();
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->windowTitle(), "Quorvid");
        EXPECT_EQ(again->findChild<QLabel*>("lblVersion")->text(), "Version 1.0.1");
        again->close();
        flushDeletes();
    }
}

TEST_F(About, LayoutFollowsTheDesign)
{
    frmAbout* about = open();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->size(), QSize(382, 212));
    EXPECT_EQ(about->minimumSize(), about->maximumSize());

    struct Row {
        const char* name;
        QRect geometry;
        int fontPx;
    };
    const Row rows[] = {
        {"NBIP", {70, 32, 259, 32}, 16},
        {"lblVersion", {70, 72, 259, 15}, 12},
        {"lblDescription", {70, 104, 291, 46}, 12},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto* label = about->findChild<QLabel*>(r.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), r.geometry);
        EXPECT_EQ(label->font().family(), "Arial");
        EXPECT_EQ(label->font().pixelSize(), r.fontPx);
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    }
    EXPECT_EQ(about->findChild<QLabel*>("NBIP")->text(), "IBP Testprogramm");
    EXPECT_EQ(about->findChild<QLabel*>("NBIP")->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    auto* description = about->findChild<QLabel*>("lblDescription");
    EXPECT_TRUE(description->text().startsWith("Test program for evaluation of the Corvane IBP board."));
    EXPECT_TRUE(description->wordWrap());
    // The whole description fits its box at the designed font.
    EXPECT_LE(description->heightForWidth(description->width()), description->height());

    auto* icon = about->findChild<QLabel*>("picIcon");
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->geometry(), QRect(16, 16, 32, 32));
    EXPECT_EQ(icon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
              iconImage(32).convertToFormat(QImage::Format_ARGB32));

    auto* ok = about->findChild<QPushButton*>("cmdOK");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->geometry(), QRect(283, 175, 84, 23));
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());

    // The etched separator: grey above, white below.
    QMap<int, QWidget*> lines;
    for (QWidget* w : about->findChildren<QWidget*>("Line1")) lines[w->property("index").toInt()] = w;
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1]->geometry(), QRect(6, 163, 372, 1));
    EXPECT_EQ(lines[0]->geometry(), QRect(7, 164, 371, 2));
    const QImage shot = about->grab().toImage();
    EXPECT_EQ(shot.pixelColor(100, 163), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(shot.pixelColor(100, 164), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(shot.pixelColor(100, 165), QColor(0xFF, 0xFF, 0xFF));
}

TEST_F(About, DialogWindowCentredOverTheMainWindowWithTheFocusOnOk)
{
    form.activateWindow();
    frmAbout* about = open();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowType(), Qt::Dialog);  // owned: no taskbar button
    EXPECT_EQ(about->parentWidget(), &form);
    const Qt::WindowFlags flags = about->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_LE((about->frameGeometry().center() - form.frameGeometry().center()).manhattanLength(), 2);
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    EXPECT_EQ(QApplication::focusWidget(), about->findChild<QPushButton*>("cmdOK"));
}

TEST(AboutVersion, TakesMajorMinorAndRevisionOfTheApplication)
{
    const QString saved = QCoreApplication::applicationVersion();
    struct Row { const char* version; const char* text; };
    for (const Row r : {Row{"1.0.1", "Version 1.0.1"}, Row{"2.10.3.7", "Version 2.10.3"},
                        Row{"3", "Version 3.0.0"}}) {
        QCoreApplication::setApplicationVersion(QString::fromLatin1(r.version));
        EXPECT_EQ(frmAbout::versionText(), r.text) << r.version;
    }
    QCoreApplication::setApplicationVersion(saved);
}
