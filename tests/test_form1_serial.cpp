// The window on the serial link, against the scripted control: start-up with
// and without a port, the Port menu, the messages, a lost port and the two
// ways out of the program.
#include "controls.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "frmabout.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "qtprinters.h"
#include "workingconfig.h"

#include <functional>


using namespace quorvid;

namespace {

const QSet<int> kAllPorts = {1, 2, 3, 4, 5, 6, 7, 8};
const char* const kCommandControls[] = {"GetInfo", "Option1", "Option2", "Option3",
                                        "Option4", "Zero1",   "Zero2",   "Zeroall"};

QList<int> checkedPorts(const Form1& form)
{
    QList<int> out;
    for (int p = 1; p <= 8; ++p)
        if (form.portItem(p)->isChecked()) out << p;
    return out;
}

QList<int> disabledPorts(const Form1& form)
{
    QList<int> out;
    for (int p = 1; p <= 8; ++p)
        if (!form.portItem(p)->isEnabled()) out << p;
    return out;
}

// Every message window on screen, wherever it hangs.
QList<QMessageBox*> shownMessages()
{
    QList<QMessageBox*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) out << box;
    return out;
}

bool anyEntryStartsWith(const QStringList& journal, const QString& prefix)
{
    return std::any_of(journal.begin(), journal.end(), [&](const QString& e) { return e.startsWith(prefix); });
}

// A window on the scripted control, loaded with the ports given.
class Window : public ::testing::Test {
protected:
    void load(const QSet<int>& openable)
    {
        comm.setOpenablePorts(openable);
        form.Form_Load();
    }
    // Shown as the program shows it, with the events of the first showing run.
    void showWindow()
    {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QCoreApplication::processEvents();
    }
    QAbstractButton* button(const char* name)
    {
        return form.findChild<QAbstractButton*>(QString::fromLatin1(name));
    }
    QString speed() { return form.findChild<QLabel*>("Speed")->text(); }
    void choosePort(int port) { form.portItem(port)->trigger(); }

    // The one message window on screen; fails unless there is exactly one.
    QMessageBox* theMessage()
    {
        const QList<QMessageBox*> shown = shownMessages();
        EXPECT_EQ(shown.size(), 1);
        if (shown.size() != 1) return nullptr;
        QMessageBox* box = shown.front();
        EXPECT_EQ(box->objectName(), "message");
        EXPECT_EQ(box->windowModality(), Qt::NonModal);
        EXPECT_EQ(form.messageWindow(), box);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        return box;
    }

    void TearDown() override
    {
        // No message outlives its test.
        for (QMessageBox* box : shownMessages()) delete box;
    }

    FakeSerialControl comm;
    Form1 form{comm};
};

}  // namespace

// ---- start-up -------------------------------------------------------------

namespace {

struct StartupRow {
    const char* name;
    QSet<int> openable;
    int activePort;
    QList<int> disabled;
    QList<int> checked;
    QByteArray written;
};

void PrintTo(const StartupRow& row, std::ostream* os) { *os << row.name; }

class Startup : public Window, public ::testing::WithParamInterface<StartupRow> {};

}  // namespace

TEST_P(Startup, PortMenuPortAndBoardSetUp)
{
    const StartupRow& row = GetParam();
    load(row.openable);

    EXPECT_EQ(form.ActivePort, row.activePort);
    EXPECT_EQ(comm.portOpen(), row.activePort != 0);
    EXPECT_EQ(comm.openPort(), row.activePort);
    EXPECT_EQ(disabledPorts(form), row.disabled);
    EXPECT_EQ(checkedPorts(form), row.checked);
    EXPECT_EQ(speed(), "100");
    EXPECT_EQ(comm.written().toHex(' '), row.written.toHex(' '));
    if (row.activePort == 0) {
        // Nothing is even tried on a port that is not there.
        EXPECT_FALSE(anyEntryStartsWith(comm.journal(), "write")) << comm.journal().join(", ").toStdString();
    }
    // Nothing pops up before the window itself is shown.
    EXPECT_TRUE(shownMessages().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Form1Serial, Startup,
    ::testing::Values(StartupRow{"OnlyCom3AndCom5", {3, 5}, 3, {1, 2, 4, 6, 7, 8}, {3}, "S1O5"},
                      StartupRow{"AllPorts", kAllPorts, 1, {}, {1}, "S1O5"},
                      StartupRow{"NoPort", {}, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {}}),
    [](const ::testing::TestParamInfo<StartupRow>& info) { return std::string(info.param.name); });

TEST_F(Window, StartupProbesThenOpensThenSendsInThatOrder)
{
    load({3, 5});
    EXPECT_EQ(comm.journal(), (QStringList{"open 1 failed", "open 2 failed", "open 3", "close 3",
                                           "open 4 failed", "open 5", "close 5", "open 6 failed",
                                           "open 7 failed", "open 8 failed", "open 3", "write 53",
                                           "write 31", "write 4f", "write 35"}));
    // The open for use carries the whole configuration.
    ASSERT_EQ(comm.opens().size(), 3);
    EXPECT_EQ(comm.opens().back(), test::workingOpen(3));
}

TEST_F(Window, PortThatFailsOnCloseInTheProbeIsDisabledAndTheNextOneUsed)
{
    comm.setCloseFails(2);
    load({2, 6});
    EXPECT_EQ(disabledPorts(form), (QList<int>{1, 2, 3, 4, 5, 7, 8}));
    EXPECT_EQ(form.ActivePort, 2);
    // The close failed, but the system let go of the port: it opens for use.
    EXPECT_EQ(comm.openPort(), 2);
    EXPECT_EQ(checkedPorts(form), QList<int>{2});
    EXPECT_EQ(comm.written(), QByteArray("S1O5"));
}

TEST_F(Window, NoPortSaysSoOnceShownWithoutBlockingTheWindow)
{
    load({});
    showWindow();

    QMessageBox* box = theMessage();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->windowTitle().startsWith("Quorvid: ")) << box->windowTitle().toStdString();
    EXPECT_GT(box->windowTitle().size(), QStringLiteral("Quorvid: ").size());
    EXPECT_TRUE(box->text().contains("No port among COM1 to COM8 could be opened")) << box->text().toStdString();

    // The clock and the buttons go on working underneath, through real input.
    form.RTC_Timer_Timer();
    EXPECT_EQ(form.statusBar1().text(), clockText(form.ClockTime, QLocale::system()));
    QTest::mouseClick(button("Zero2"), Qt::LeftButton);
    EXPECT_TRUE(form.statusBar1().text().startsWith("Not sent: Z2")) << form.statusBar1().text().toStdString();
    QTest::mouseClick(button("SelectSpeed"), Qt::LeftButton);
    EXPECT_EQ(speed(), "150");
    EXPECT_TRUE(comm.written().isEmpty());

    // Showing the window again (restored from the taskbar) brings no second message.
    box->close();
    form.hide();
    showWindow();
    EXPECT_TRUE(shownMessages().isEmpty());
}

TEST(Form1Serial, NoPortMessageNamesWhatWasTried)
{
    // A control whose port map the row decides.
    struct Mapped : FakeSerialControl {
        QString deviceName(int port) const override { return map(port); }
        std::function<QString(int)> map;
    };
    struct Row {
        const char* name;
        std::function<QString(int)> map;
        QStringList shown, notShown;
    };
    const Row rows[] = {
        {"devices that refused",
         [](int p) { return p <= 2 ? QStringLiteral("/dev/ttyUSB%1").arg(p - 1) : QString(); },
         {"Tried: COM1 (/dev/ttyUSB0), COM2 (/dev/ttyUSB1).", "in use by another program"}, {"COM3"}},
        {"no device at all", [](int) { return QString(); }, {"The system reports no serial device."}, {"Tried"}},
        {"COMn is the system's own name", [](int p) { return QStringLiteral("COM%1").arg(p); }, {},
         {"Tried", "no serial device"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Mapped comm;
        comm.map = r.map;
        Form1 window(comm);
        window.Form_Load();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        ASSERT_NE(window.messageWindow(), nullptr);
        const QString text = window.messageWindow()->text();
        EXPECT_TRUE(text.startsWith("No port among COM1 to COM8 could be opened")) << text.toStdString();
        for (const QString& part : r.shown) EXPECT_TRUE(text.contains(part)) << text.toStdString();
        for (const QString& part : r.notShown) EXPECT_FALSE(text.contains(part)) << text.toStdString();
        delete window.messageWindow();
    }
}

TEST_F(Window, StartupOpenThatIsRefusedSaysWhichPortAndWhy)
{
    // The port opens in the probe, then another program takes it.
    struct TakenAfterProbe : FakeSerialControl {
        CommResult openDevice() override
        {
            if (commPort() == 4 && ++opens == 2) setBusy(4);
            return FakeSerialControl::openDevice();
        }
        int opens = 0;
    } taken;
    taken.setOpenablePorts({4});
    Form1 window(taken);
    window.Form_Load();
    EXPECT_EQ(window.ActivePort, 4);
    EXPECT_FALSE(taken.portOpen());
    EXPECT_TRUE(checkedPorts(window).isEmpty());
    EXPECT_FALSE(anyEntryStartsWith(taken.journal(), "write"));

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    ASSERT_EQ(shownMessages().size(), 1);
    EXPECT_EQ(shownMessages().front()->windowTitle(), "Quorvid: COM4");
    EXPECT_TRUE(shownMessages().front()->text().contains("Device or resource busy"));
}

// ---- the Port menu --------------------------------------------------------

TEST_F(Window, ChoosingAnotherPortMovesToIt)
{
    load({3, 5});
    comm.clearJournal();
    choosePort(5);
    EXPECT_EQ(comm.journal(), (QStringList{"close 3", "open 5"}));
    EXPECT_EQ(comm.openPort(), 5);
    EXPECT_EQ(checkedPorts(form), QList<int>{5});
    EXPECT_EQ(form.ActivePort, 3);

    button("GetInfo")->click();
    EXPECT_EQ(comm.written(), QByteArray("I"));
}

TEST_F(Window, ChoosingTheOpenPortReopensItWithTheWholeConfiguration)
{
    load({3, 5});
    // Settings that may change while open, changed behind the program's back.
    ASSERT_TRUE(comm.setSettings("19200,e,7,2"));
    ASSERT_TRUE(comm.setInputMode(0));
    ASSERT_TRUE(comm.setRThreshold(8));
    ASSERT_TRUE(comm.setSThreshold(0));
    comm.clearJournal();

    choosePort(3);
    EXPECT_EQ(comm.journal(), (QStringList{"close 3", "open 3"}));
    EXPECT_EQ(checkedPorts(form), QList<int>{3});
    ASSERT_EQ(comm.opens().size(), 1);
    EXPECT_EQ(comm.opens().front(), test::workingOpen(3));
    EXPECT_EQ(form.ActivePort, 3);
}

TEST_F(Window, RefusedPortStaysClosedUncheckedAndIsNamedWithTheReason)
{
    struct Row {
        const char* name;
        int port;
        std::function<void(FakeSerialControl&)> refuse;
        const char* reason;
    };
    const Row rows[] = {
        {"another program holds it", 5, [](FakeSerialControl& c) { c.setBusy(5); }, "Device or resource busy"},
        {"adapter removed since start-up", 5, [](FakeSerialControl& c) { c.setOpenablePorts({3}); },
         "No such file or directory"},
        {"the open port itself, now held", 3, [](FakeSerialControl& c) { c.setBusy(3); },
         "Device or resource busy"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FakeSerialControl control;
        control.setOpenablePorts({3, 5});
        Form1 window(control);
        window.Form_Load();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        r.refuse(control);
        control.clearJournal();

        window.portItem(r.port)->trigger();
        EXPECT_FALSE(control.portOpen());
        EXPECT_TRUE(checkedPorts(window).isEmpty());
        EXPECT_EQ(control.journal(), (QStringList{"close 3", QStringLiteral("open %1 failed").arg(r.port)}));
        EXPECT_EQ(window.ActivePort, 3);
        const QList<QMessageBox*> shown = shownMessages();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown.front()->windowTitle(), QStringLiteral("Quorvid: COM%1").arg(r.port));
        EXPECT_TRUE(shown.front()->text().contains(QStringLiteral("COM%1").arg(r.port)));
        EXPECT_TRUE(shown.front()->text().contains(r.reason)) << shown.front()->text().toStdString();
        EXPECT_EQ(shown.front()->windowModality(), Qt::NonModal);
        window.hide();
        delete shown.front();
    }
}

TEST_F(Window, RepeatedRefusalsKeepOneMessageAndAGoodPortClearsTheWay)
{
    load({3, 5});
    showWindow();
    comm.setBusy(5);
    choosePort(5);
    choosePort(5);
    ASSERT_NE(theMessage(), nullptr);

    choosePort(3);
    EXPECT_EQ(comm.openPort(), 3);
    EXPECT_EQ(checkedPorts(form), QList<int>{3});
    EXPECT_FALSE(form.portItem(5)->isChecked());
}

// ---- commands without a port ----------------------------------------------

TEST_F(Window, CommandsWithoutAPortSendNothingAndSaySo)
{
    load({});
    comm.clearJournal();
    for (const char* control : kCommandControls) {
        SCOPED_TRACE(control);
        button(control)->click();
        EXPECT_TRUE(form.statusBar1().text().startsWith("Not sent: ")) << form.statusBar1().text().toStdString();
        EXPECT_TRUE(form.statusBar1().noticeShowing());
    }
    // The caption is the only record of the speed: it cycles all the same.
    const char* const captions[] = {"150", "50", "100", "150"};
    const char* const commands[] = {"S2", "S0", "S1", "S2"};
    for (int i = 0; i < 4; ++i) {
        button("SelectSpeed")->click();
        EXPECT_EQ(speed(), captions[i]);
        EXPECT_EQ(form.statusBar1().text(), QStringLiteral("Not sent: %1 (no port is open)").arg(commands[i]));
    }
    EXPECT_TRUE(comm.written().isEmpty());
    EXPECT_TRUE(shownMessages().isEmpty());  // a status-bar notice, never a dialog
}

// ---- a port that goes away ------------------------------------------------

TEST_F(Window, LostPortIsUncheckedAndToldOnceThenAnotherCanBeChosen)
{
    load({3, 5});
    showWindow();
    comm.lose("Input/output error");
    comm.lose("Input/output error");  // the control reports a loss once per opening

    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(checkedPorts(form).isEmpty());
    QMessageBox* box = theMessage();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Quorvid: COM3");
    EXPECT_TRUE(box->text().contains("Input/output error")) << box->text().toStdString();

    // Idle until the user acts: nothing is sent, the clock runs.
    button("Zero1")->click();
    EXPECT_EQ(comm.written(), QByteArray("S1O5"));
    form.RTC_Timer_Timer();

    choosePort(5);
    EXPECT_EQ(comm.openPort(), 5);
    EXPECT_EQ(checkedPorts(form), QList<int>{5});
    comm.clearJournal();
    button("Zero1")->click();
    EXPECT_EQ(comm.written(), QByteArray("Z1"));
    // A frame on the new port reaches the labels.
    comm.deliver(QByteArray::fromHex("955c41347010736e16d0"));
    auto* refresh = form.findChild<QTimer*>("Val_Update");
    ASSERT_NE(refresh, nullptr);
    EXPECT_TRUE(refresh->isActive());
    form.Val_Update_Timer();
    EXPECT_EQ(form.findChild<QLabel*>("SYS1")->text(), "120");
}

TEST_F(Window, PortLostBeforeTheWindowIsShownIsToldWhenItIs)
{
    load({3});
    comm.lose("the device was removed");
    EXPECT_TRUE(shownMessages().isEmpty());
    showWindow();
    QMessageBox* box = theMessage();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Quorvid: COM3");
}

// ---- shut-down ------------------------------------------------------------

namespace {

struct ShutdownRow {
    const char* name;
    bool portOpen;
    bool byClosingTheWindow;
};

void PrintTo(const ShutdownRow& row, std::ostream* os) { *os << row.name; }

class Shutdown : public Window, public ::testing::WithParamInterface<ShutdownRow> {
protected:
    // Runs the program's event loop as main() does and ends the program by the
    // door of the row; returns the loop's exit code.
    int runAndLeave(bool byClosingTheWindow)
    {
        const bool quitOnLast = QApplication::quitOnLastWindowClosed();
        // Only the window itself may end the loop here.
        QApplication::setQuitOnLastWindowClosed(false);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(10000);
        QTimer::singleShot(0, &form, [this, byClosingTheWindow] {
            if (byClosingTheWindow) form.close();
            else form.findChild<QAction*>("menEnde")->trigger();
        });
        const int code = QCoreApplication::exec();
        QApplication::setQuitOnLastWindowClosed(quitOnLast);
        return code;
    }
};

}  // namespace

TEST_P(Shutdown, ClosesWhatIsOpenAndEndsTheProgram)
{
    const ShutdownRow& row = GetParam();
    load(row.portOpen ? QSet<int>{3} : QSet<int>{});
    showWindow();
    form.menAbout_Click();
    ASSERT_NE(form.aboutWindow(), nullptr);
    comm.clearJournal();

    EXPECT_EQ(runAndLeave(row.byClosingTheWindow), 0);
    EXPECT_TRUE(form.hasEnded());
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(comm.journal(), row.portOpen ? QStringList{"close 3"} : QStringList{});
    EXPECT_TRUE(form.aboutWindow() == nullptr || !form.aboutWindow()->isVisible());
    EXPECT_TRUE(shownMessages().isEmpty());

    // Nothing of the program runs any more: no tick, no receive event, and the
    // other door does not run the shut-down a second time.
    for (QTimer* timer : form.findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
        EXPECT_FALSE(timer->isActive()) << timer->objectName().toStdString();
    comm.setOpenablePorts({3});
    ASSERT_TRUE(comm.setCommPort(3));
    ASSERT_TRUE(comm.setPortOpen(true));
    comm.clearJournal();
    comm.deliver(QByteArray::fromHex("955c41347010736e16d0"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.framer().FrameValues.empty());
    EXPECT_TRUE(form.framer().FrameCur.empty());
    comm.lose("gone");
    EXPECT_TRUE(shownMessages().isEmpty());
    ASSERT_TRUE(comm.setPortOpen(true));
    comm.clearJournal();
    if (row.byClosingTheWindow) form.menEnde_Click();
    else form.close();
    EXPECT_FALSE(anyEntryStartsWith(comm.journal(), "close")) << comm.journal().join(", ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Form1Serial, Shutdown,
                         ::testing::Values(ShutdownRow{"ExitWithPortOpen", true, false},
                                           ShutdownRow{"ExitWithNoPort", false, false},
                                           ShutdownRow{"CloseWindowWithPortOpen", true, true},
                                           ShutdownRow{"CloseWindowWithNoPort", false, true}),
                         [](const ::testing::TestParamInfo<ShutdownRow>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Window, ShutdownAfterSwitchingClosesThePortInUse)
{
    load({3, 5});
    choosePort(5);
    comm.clearJournal();
    form.menEnde_Click();
    EXPECT_EQ(comm.journal(), QStringList{"close 5"});
    EXPECT_EQ(form.ActivePort, 3);
    EXPECT_TRUE(form.hasEnded());
}
