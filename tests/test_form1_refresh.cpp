// The readout refresh: frames from the framer's slots into the labels, the
// clock and the status bar's notices.
#include "controls.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "frames.h"
#include "graph.h"
#include "sweepchart.h"

#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include "qtprinters.h"


using namespace quorvid;

namespace {

const char* const kValueLabels[] = {"SYS1", "MAP1", "DIA1", "SYS2", "MAP2", "DIA2", "PULSE"};

class Refresh : public ::testing::Test {
protected:
    Refresh()
    {
        comm.setOpenablePorts({1, 2, 3, 4, 5, 6, 7, 8});
        form.Form_Load();
        EXPECT_TRUE(comm.setRThreshold(1));
    }

    QString text(const char* name)
    {
        auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(label, nullptr) << name;
        return label ? label->text() : QString();
    }
    QStringList values()
    {
        QStringList out;
        for (const char* name : kValueLabels) out << text(name);
        return out;
    }
    // Bytes as they come off the line, through the serial control's event.
    void receive(const ByteString& bytes)
    {
        comm.deliver(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    }
    QTimer* valUpdate() { return form.findChild<QTimer*>("Val_Update"); }

    FakeSerialControl comm;
    Form1 form{comm};
};

ByteString withHeaderAfter(ByteString frame)
{
    frame.push_back(0xC0);  // the next header completes the frame
    return frame;
}

}  // namespace

TEST_F(Refresh, InitialCaptionsUntilFramesArrive)
{
    EXPECT_EQ(values(), QStringList(7, "0"));
    EXPECT_EQ(text("Stat1"), "Status");
    EXPECT_EQ(text("Stat2"), "Status");
    EXPECT_EQ(text("Identify"), "Press Identify");
    form.Val_Update_Timer();  // nothing waiting: nothing changes
    EXPECT_EQ(values(), QStringList(7, "0"));
    EXPECT_EQ(text("Identify"), "Press Identify");
}

TEST_F(Refresh, ValuesFramesDecodeIntoTheSevenLabels)
{
    struct Row {
        const char* name;
        ByteString frame;
        QStringList shown;
    };
    const Row rows[] = {
        {"worked example", {0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16},
         {"120", "93", "80", "300", "15", "10", "150"}},
        {"all zero shows hyphen-minus", {0x80, 0, 0, 0, 0, 0, 0, 0, 0},
         {"-100", "-100", "-100", "-100", "-100", "-100", "0"}},
        {"every high bit set", {0xBF, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F},
         {"411", "411", "411", "411", "411", "411", "255"}},
        {"tenth byte ignored", {0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16, 0x7F},
         {"120", "93", "80", "300", "15", "10", "150"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        form.framer().FrameValues = r.frame;
        form.Val_Update_Timer();
        EXPECT_EQ(values(), r.shown);
        EXPECT_TRUE(form.framer().FrameValues.empty());
    }
}

TEST_F(Refresh, ValuesFrameOfEightBytesWaitsUntouched)
{
    const ByteString shortFrame = {0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E};
    form.framer().FrameValues = shortFrame;
    form.Val_Update_Timer();
    form.Val_Update_Timer();
    EXPECT_EQ(values(), QStringList(7, "0"));
    EXPECT_EQ(form.framer().FrameValues, shortFrame);
}

TEST_F(Refresh, StatusFramesPickTheirTexts)
{
    struct Row {
        const char* name;
        ByteString frame;
        const char* stat1;
        const char* stat2;
    };
    const Row rows[] = {
        {"worked example", {0xD0, 0x06, 0x07}, "Zeroing ok", "No Sensor !!!"},
        {"first and last of the table", {0xD5, 0x00, 0x0B}, "Normal Operation", "Selftest Error !!!"},
        {"empty entries", {0xD0, 0x0C, 0x14}, "", ""},
        {"past the table", {0xD0, 0x15, 0x7F}, "", ""},
        {"one past, one inside", {0xD0, 0x7F, 0x09}, "", "Simulated Output"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        form.framer().FrameStatus = {0xD0, 0x08, 0x08};  // a known caption first
        form.Val_Update_Timer();
        form.framer().FrameStatus = r.frame;
        form.Val_Update_Timer();
        EXPECT_EQ(text("Stat1"), r.stat1);
        EXPECT_EQ(text("Stat2"), r.stat2);
        EXPECT_TRUE(form.framer().FrameStatus.empty());
    }
}

TEST_F(Refresh, EveryStatusCodeFromTwelveUpShowsBlank)
{
    for (Byte code = 12; code < 128; ++code) {
        form.framer().FrameStatus = {0xD0, 0x00, 0x00};
        form.Val_Update_Timer();
        form.framer().FrameStatus = {0xD0, code, code};
        form.Val_Update_Timer();
        EXPECT_EQ(text("Stat1"), "") << int(code);
        EXPECT_EQ(text("Stat2"), "") << int(code);
    }
}

TEST_F(Refresh, StatusFrameOfTwoBytesWaitsUntouched)
{
    form.framer().FrameStatus = {0xD0, 0x06};
    form.Val_Update_Timer();
    EXPECT_EQ(text("Stat1"), "Status");
    EXPECT_EQ(text("Stat2"), "Status");
    EXPECT_EQ(form.framer().FrameStatus, (ByteString{0xD0, 0x06}));
}

TEST_F(Refresh, IdentificationNeedsFiftyCharacters)
{
    const std::string text49(49, 'A');
    receive(withHeaderAfter(encodeIdentification(text49)));
    ASSERT_EQ(form.framer().FrameInfo.size(), 99u);
    form.Val_Update_Timer();
    EXPECT_EQ(text("Identify"), "Press Identify");
    EXPECT_EQ(form.framer().FrameInfo.size(), 99u);

    // Control characters and markup come through as received, untrimmed.
    const std::string text50 = " QX 04100 <b>fw</b> 2.31\tserial 0471-2209-18  ok. ";
    ASSERT_EQ(text50.size(), 50u);
    receive(withHeaderAfter(encodeIdentification(text50)));
    ASSERT_EQ(form.framer().FrameInfo.size(), 101u);
    form.Val_Update_Timer();
    EXPECT_EQ(text("Identify"), QString::fromLatin1(text50.c_str()));
    EXPECT_TRUE(form.framer().FrameInfo.empty());
}

TEST_F(Refresh, AllThreeStepsRunInOneTick)
{
    form.framer().FrameValues = {0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16};
    form.framer().FrameStatus = {0xD0, 0x7F, 0x06};  // one code past the table
    // The stored form: header, then each character as the byte and 0x00.
    ByteString stored = {0xE0};
    for (int i = 0; i < 60; ++i) stored.insert(stored.end(), {Byte('x'), 0x00});
    form.framer().FrameInfo = stored;

    form.Val_Update_Timer();

    EXPECT_EQ(text("Identify"), QString(60, 'x'));
    EXPECT_EQ(text("Stat1"), "");
    EXPECT_EQ(text("Stat2"), "Zeroing ok");
    EXPECT_EQ(values(), (QStringList{"120", "93", "80", "300", "15", "10", "150"}));
    EXPECT_TRUE(form.framer().FrameInfo.empty());
    EXPECT_TRUE(form.framer().FrameStatus.empty());
    EXPECT_TRUE(form.framer().FrameValues.empty());
}

TEST_F(Refresh, AShortSlotDoesNotHoldUpTheOthers)
{
    const ByteString shortInfo = {0xE0, 'x', 0x00};
    form.framer().FrameInfo = shortInfo;
    form.framer().FrameStatus = {0xD0, 0x06};
    form.framer().FrameValues = {0x80, 0, 0, 0, 0, 0, 0, 0, 0};
    form.Val_Update_Timer();
    EXPECT_EQ(text("Identify"), "Press Identify");
    EXPECT_EQ(form.framer().FrameInfo, shortInfo);
    EXPECT_EQ(form.framer().FrameStatus.size(), 2u);
    EXPECT_EQ(text("PULSE"), "0");
    EXPECT_EQ(text("SYS1"), "-100");
}

TEST_F(Refresh, ReceivedFramesArmTheRefreshAndItsTickShowsThem)
{
    QTimer* timer = valUpdate();
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());

    // Waveform frames go straight to the chart: nothing to refresh.
    receive({0xC0, 0x10, 0x20, 0xC0, 0x11, 0x21, 0xC0});
    EXPECT_FALSE(timer->isActive());

    receive(withHeaderAfter({0x80, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1);
    EXPECT_EQ(values(), QStringList(7, "0"));  // nothing shown before the tick

    // The tick is the timer's own timeout, driven here rather than waited for.
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_EQ(values(), (QStringList{"-100", "-100", "-100", "-100", "-100", "-100", "0"}));
}

TEST_F(Refresh, WaveformFramesDrawOnTheGraph)
{
    auto* graph = form.findChild<Graph*>("Graph");
    ASSERT_NE(graph, nullptr);
    ByteString stream;
    for (int i = 0; i < 40; ++i) {
        const ByteString frame = encodeWaveform({250, 150});
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    receive(withHeaderAfter(stream));
    EXPECT_GT(form.chart().SweepX, 0);
    // Sample 1 of 250 lies at y = 170 units: a red trace crosses there.
    const QImage image = graph->image();
    const int y = qRound(170 * 221.0 / 340);
    bool red = false;
    for (int dy = -2; dy <= 2 && !red; ++dy)
        red = image.pixelColor(qRound(40 * 589.0 / 737), y + dy) == QColor(255, 0, 0);
    EXPECT_TRUE(red);
}

TEST(Clock, ZonePartLeavesTheFormatWithItsSeparators)
{
    struct Row { const char* format; const char* expected; };
    const Row rows[] = {
        {"HH:mm:ss t", "HH:mm:ss"},
        {"h:mm:ss AP t", "h:mm:ss AP"},
        {"h:mm:ss AP, t", "h:mm:ss AP"},
        {"HH:mm:ss (t)", "HH:mm:ss"},
        {"APh:mm:ss [t]", "APh:mm:ss"},
        {"t HH:mm:ss", "HH:mm:ss"},
        {"t h:mm:ss AP", "h:mm:ss AP"},
        {"HH 'h' mm 'min' ss 's' t", "HH 'h' mm 'min' ss 's'"},
        {"H-'a' 'horo' 'kaj' m:ss t", "H-'a' 'horo' 'kaj' m:ss"},
        {"'Klock' H.mm:ss (t)", "'Klock' H.mm:ss"},
        {"'kl'. HH:mm:ss t", "'kl'. HH:mm:ss"},
        {"HH:mm:ss", "HH:mm:ss"},
        {"HH:mm:ss tttt", "HH:mm:ss"},
        {"'at' HH:mm:ss", "'at' HH:mm:ss"},  // a quoted t is text, not a zone
    };
    for (const Row& r : rows)
        EXPECT_EQ(timeFormatWithoutZone(QString::fromUtf8(r.format)), QString::fromUtf8(r.expected))
            << r.format;
}

TEST(Clock, TextHasSecondsInTheLocalesOwnFormat)
{
    const QTime t(14, 5, 9);
    EXPECT_EQ(clockText(t, QLocale::c()), "14:05:09");
    EXPECT_EQ(clockText(t, QLocale(QLocale::German, QLocale::Germany)), "14:05:09");
    // CLDR puts a narrow no-break space before the day period in newer data.
    const QString us = clockText(t, QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.startsWith("2:05:09") && us.endsWith("PM") && us.size() <= 11) << us.toStdString();
    // Every locale Qt knows: seconds present, no zone, nothing dangling.
    for (const QLocale& locale :
         QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
        const QString format = timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
        QString unquoted;
        bool quoted = false;
        for (const QChar c : format) {
            if (c == u'\'') quoted = !quoted;
            else if (!quoted) unquoted += c;
        }
        SCOPED_TRACE(locale.name().toStdString() + " " + format.toStdString());
        EXPECT_FALSE(unquoted.contains(u't'));
        EXPECT_TRUE(unquoted.contains(u's'));
        EXPECT_FALSE(unquoted.contains(u'(') || unquoted.contains(u'['));
        EXPECT_FALSE(format.endsWith(u',') || format.startsWith(u' ') || format.endsWith(u' '));
        EXPECT_TRUE(clockText(t, locale).contains(locale.toString(9)));  // the seconds
    }
}

TEST_F(Refresh, ClockTickWritesTheTimeAsTheStatusBarText)
{
    EXPECT_TRUE(form.statusBar1().text().isEmpty());
    const QTime before = QTime::currentTime();
    QMetaObject::invokeMethod(form.findChild<QTimer*>("RTC_Timer"), "timeout");
    EXPECT_TRUE(form.ClockTime.isValid());
    EXPECT_LE(std::abs(before.secsTo(form.ClockTime)), 1);
    EXPECT_EQ(form.statusBar1().text(), clockText(form.ClockTime, QLocale::system()));
}

TEST(StatusBar, NoticeHoldsOffTheClockUntilItExpires)
{
    SimpleStatusBar bar;
    bar.setSimpleText("14:05:09");
    EXPECT_EQ(bar.text(), "14:05:09");

    bar.showNotice("Not sent: Z1 (Port not open)", 4000);
    EXPECT_EQ(bar.text(), "Not sent: Z1 (Port not open)");
    bar.setSimpleText("14:05:10");
    EXPECT_EQ(bar.text(), "Not sent: Z1 (Port not open)");
    EXPECT_EQ(bar.simpleText(), "14:05:10");

    auto* timer = bar.findChild<QTimer*>("noticeTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 4000);
    QMetaObject::invokeMethod(timer, "timeout");
    timer->stop();
    EXPECT_FALSE(bar.noticeShowing());
    EXPECT_EQ(bar.text(), "14:05:10");
    bar.setSimpleText("14:05:11");
    EXPECT_EQ(bar.text(), "14:05:11");
}

TEST(StatusBar, ANewNoticeRestartsItsTime)
{
    SimpleStatusBar bar;
    bar.setSimpleText("clock");
    bar.showNotice("first", 4000);
    bar.showNotice("second", 4000);
    EXPECT_EQ(bar.text(), "second");
    auto* timer = bar.findChild<QTimer*>("noticeTimer");
    QMetaObject::invokeMethod(timer, "timeout");
    timer->stop();
    EXPECT_EQ(bar.text(), "clock");
}
