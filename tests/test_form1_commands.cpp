// The window's command buttons and option buttons: what goes on the line, the
// speed cycle, and what the user is told when no port is open.
#include "controls.h"
#include "fakeserialcontrol.h"
#include "form1.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include "qtprinters.h"


using namespace quorvid;

namespace {

// Remembers the Speed caption at the moment each byte is written.
class CaptionWitness : public FakeSerialControl {
public:
    CommResult output(const QByteArray& data) override
    {
        if (speed) captions << speed->text();
        return FakeSerialControl::output(data);
    }
    QLabel* speed = nullptr;
    QStringList captions;
};

class Form1Commands : public ::testing::Test {
protected:
    Form1Commands()
    {
        form.Form_Load();
        comm.setOpenablePorts({3});
        EXPECT_TRUE(comm.setCommPort(3));
        EXPECT_TRUE(comm.setPortOpen(true));
        comm.speed = form.findChild<QLabel*>("Speed");
        comm.clearJournal();
    }

    void click(const char* name)
    {
        auto* button = form.findChild<QAbstractButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }
    QString speed() { return comm.speed->text(); }

    CaptionWitness comm;
    Form1 form{comm};
};

}  // namespace

TEST_F(Form1Commands, EachButtonPutsItsCommandOnTheLine)
{
    struct Row { const char* control; QByteArray bytes; };
    const Row rows[] = {
        {"GetInfo", "I"}, {"Option2", "M"}, {"Option1", "O"}, {"Option4", "6"},
        {"Option3", "5"}, {"Zero1", "Z1"},  {"Zero2", "Z2"},  {"Zeroall", "Z3"},
    };
    for (const Row& r : rows) {
        comm.clearJournal();
        click(r.control);
        EXPECT_EQ(comm.written(), r.bytes) << r.control;
        EXPECT_EQ(comm.journal().size(), r.bytes.size()) << r.control;  // one write per character
    }
    EXPECT_TRUE(form.statusBar1().text().isEmpty());
}

TEST_F(Form1Commands, RepeatedClicksSendAgain)
{
    click("Zeroall");
    click("Zeroall");
    click("GetInfo");
    EXPECT_EQ(comm.written(), QByteArray("Z3Z3I"));
}

TEST_F(Form1Commands, SpeedCycleWritesTheCaptionBeforeTheCommand)
{
    struct Step { const char* caption; QByteArray command; };
    const Step cycle[] = {{"150", "S2"}, {"50", "S0"}, {"100", "S1"}, {"150", "S2"}};
    ASSERT_EQ(speed(), "100");
    for (const Step& step : cycle) {
        comm.clearJournal();
        comm.captions.clear();
        click("SelectSpeed");
        EXPECT_EQ(speed(), step.caption);
        EXPECT_EQ(comm.written(), step.command);
        EXPECT_EQ(comm.captions, QStringList(step.command.size(), step.caption));
    }
}

TEST_F(Form1Commands, ClosedPortNamesTheRefusedCommandForAWhile)
{
    ASSERT_TRUE(comm.setPortOpen(false));
    comm.clearJournal();
    form.statusBar1().setSimpleText("14:05:09");
    click("Zero1");
    EXPECT_TRUE(comm.written().isEmpty());
    // The first refused character ends the command.
    EXPECT_EQ(comm.journal(), QStringList{"write 5a refused"});
    EXPECT_EQ(form.statusBar1().text(), "Not sent: Z1 (no port is open)");
    auto* timer = form.statusBar1().findChild<QTimer*>("noticeTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), Form1::kNoticeMilliseconds);

    // The clock keeps time underneath and comes back when the notice ends.
    form.RTC_Timer_Timer();
    EXPECT_EQ(form.statusBar1().text(), "Not sent: Z1 (no port is open)");
    QMetaObject::invokeMethod(timer, "timeout");
    timer->stop();
    EXPECT_EQ(form.statusBar1().text(), clockText(form.ClockTime, QLocale::system()));
}

TEST_F(Form1Commands, SpeedCaptionChangesEvenWhenTheCommandIsRefused)
{
    ASSERT_TRUE(comm.setPortOpen(false));
    click("SelectSpeed");
    EXPECT_EQ(speed(), "150");
    EXPECT_EQ(form.statusBar1().text(), "Not sent: S2 (no port is open)");
}

TEST_F(Form1Commands, ExitClosesTheWindow)
{
    form.show();
    auto* exit = form.findChild<QAction*>("menEnde");
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_FALSE(form.isVisible());
}
