// Opening, switching and probing ports, against the scripted control.
#include "fakeserialcontrol.h"
#include "portlink.h"

#include <gtest/gtest.h>

#include "workingconfig.h"

#include <array>

using namespace quorvid;

namespace {

// A Port menu that remembers its state and checks that marks follow the port:
// every mark is cleared while the port is closed, set while it is open.
class RecordingPortMenu : public PortMenu {
public:
    explicit RecordingPortMenu(const SerialControl* comm = nullptr) : m_comm(comm) { enabled.fill(true); }

    void setPortChecked(int port, bool on) override
    {
        ASSERT_GE(port, 1);
        ASSERT_LE(port, 8);
        checked[port] = on;
        log << QStringLiteral("%1 %2").arg(on ? "check" : "uncheck").arg(port);
        if (m_comm) {
            EXPECT_EQ(m_comm->portOpen(), on) << "mark " << port << " changed in the wrong state";
        }
    }
    void setPortEnabled(int port, bool on) override
    {
        ASSERT_GE(port, 1);
        ASSERT_LE(port, 8);
        enabled[port] = on;
        log << QStringLiteral("%1 %2").arg(on ? "enable" : "disable").arg(port);
    }

    QList<int> checkedPorts() const
    {
        QList<int> ports;
        for (int p = 1; p <= 8; ++p)
            if (checked[p]) ports << p;
        return ports;
    }
    QList<int> disabledPorts() const
    {
        QList<int> ports;
        for (int p = 1; p <= 8; ++p)
            if (!enabled[p]) ports << p;
        return ports;
    }

    std::array<bool, 9> checked{};
    std::array<bool, 9> enabled{};
    QStringList log;

private:
    const SerialControl* m_comm;
};

QStringList openCloseEntries(const QStringList& journal)
{
    QStringList out;
    for (const QString& e : journal)
        if (e.startsWith(u"open") || e.startsWith(u"close")) out << e;
    return out;
}

}  // namespace

// ---- the probe ------------------------------------------------------------

TEST(FindPort, OnlyCom3AndCom5Open)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({3, 5});
    RecordingPortMenu menu;

    EXPECT_EQ(FindPort(comm, menu), 3);
    EXPECT_EQ(menu.disabledPorts(), (QList<int>{1, 2, 4, 6, 7, 8}));
    EXPECT_EQ(openCloseEntries(comm.journal()),
              (QStringList{"open 1 failed", "open 2 failed", "open 3", "close 3", "open 4 failed", "open 5",
                           "close 5", "open 6 failed", "open 7 failed", "open 8 failed"}));
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(menu.checkedPorts().isEmpty());
}

TEST(FindPort, AllOpenTakesTheFirstAndTriesEveryPortInOrder)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1, 2, 3, 4, 5, 6, 7, 8});
    RecordingPortMenu menu;

    EXPECT_EQ(FindPort(comm, menu), 1);
    EXPECT_TRUE(menu.disabledPorts().isEmpty());
    QStringList expected;
    for (int p = 1; p <= 8; ++p) expected << QStringLiteral("open %1").arg(p) << QStringLiteral("close %1").arg(p);
    EXPECT_EQ(openCloseEntries(comm.journal()), expected);
    EXPECT_FALSE(comm.portOpen());
}

TEST(FindPort, NoneOpenGivesZeroAndDisablesAll)
{
    FakeSerialControl comm;
    RecordingPortMenu menu;

    EXPECT_EQ(FindPort(comm, menu), 0);
    EXPECT_EQ(menu.disabledPorts(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(comm.opens().size(), 0);
}

TEST(FindPort, PortThatFailsToCloseIsDisabledButStillRecorded)
{
    // The record is taken before the close, so the first port to open counts
    // even though its close then fails.
    FakeSerialControl comm;
    comm.setOpenablePorts({2, 6});
    comm.setCloseFails(2);
    RecordingPortMenu menu;

    EXPECT_EQ(FindPort(comm, menu), 2);
    EXPECT_EQ(menu.disabledPorts(), (QList<int>{1, 2, 3, 4, 5, 7, 8}));
    EXPECT_TRUE(comm.journal().contains("close 2 failed"));
    EXPECT_TRUE(comm.journal().contains("close 6"));
    EXPECT_FALSE(comm.portOpen());
}

TEST(FindPort, BusyPortCountsAsFailing)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({2, 4});
    comm.setBusy(2);
    RecordingPortMenu menu;

    EXPECT_EQ(FindPort(comm, menu), 4);
    EXPECT_FALSE(menu.enabled[2]);
    EXPECT_TRUE(menu.enabled[4]);
    EXPECT_FALSE(comm.portOpen());
}

// The terminal monitor names why each port refused; the probe itself is the same.
TEST(FindPort, HandsOverTheReasonOfEachRefusedOpenInPortOrder)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({3, 4});
    comm.setBusy(2);
    RecordingPortMenu menu;
    QStringList refusals;

    EXPECT_EQ(FindPort(comm, menu, &refusals), 3);
    EXPECT_EQ(refusals, (QStringList{"No such file or directory", "Device or resource busy", "No such file or directory",
                                     "No such file or directory", "No such file or directory", "No such file or directory"}));
    EXPECT_EQ(FindPort(comm, menu), 3);  // without a list, as before
    EXPECT_FALSE(comm.portOpen());
}

TEST(FindPort, OpensWithWhatTheControlHoldsAndTouchesNoMark)
{
    FakeSerialControl comm;  // the control's defaults stand for the design-time values
    comm.setOpenablePorts({7});
    RecordingPortMenu menu;

    EXPECT_EQ(FindPort(comm, menu), 7);
    ASSERT_EQ(comm.opens().size(), 1);
    EXPECT_EQ(comm.opens()[0].inBufferSize, 1024);
    EXPECT_EQ(comm.opens()[0].outBufferSize, 512);
    EXPECT_EQ(comm.opens()[0].rThreshold, 0);
    EXPECT_TRUE(comm.written().isEmpty());
    for (const QString& e : menu.log) EXPECT_TRUE(e.startsWith(u"disable")) << e.toStdString();
}

// ---- opening and switching ---------------------------------------------------

TEST(OpenPort, WritesTheWholeConfigurationWhateverTheControlHeld)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_TRUE(comm.setSettings("1200,e,7,2"));
    ASSERT_TRUE(comm.setInputMode(0));
    ASSERT_TRUE(comm.setRThreshold(40));
    ASSERT_TRUE(comm.setSThreshold(9));
    ASSERT_TRUE(comm.setInBufferSize(4096));
    ASSERT_TRUE(comm.setOutBufferSize(2048));

    for (std::uint8_t n = 1; n <= 8; ++n) {
        RecordingPortMenu menu(&comm);
        ASSERT_TRUE(OpenPort(comm, menu, n)) << int(n);
        EXPECT_EQ(comm.opens().back(), test::workingOpen(n));
        EXPECT_EQ(comm.lineSettings(), *LineSettings::parse("9600,n,8,1"));
        EXPECT_EQ(menu.checkedPorts(), QList<int>{n}) << "exactly one mark after OpenPort " << int(n);
        EXPECT_EQ(menu.log.mid(0, 8),
                  (QStringList{"uncheck 1", "uncheck 2", "uncheck 3", "uncheck 4", "uncheck 5", "uncheck 6",
                               "uncheck 7", "uncheck 8"}));
    }
}

TEST(OpenPort, ReopeningTheOpenPortClosesAndOpensItAgain)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({3});
    RecordingPortMenu menu(&comm);
    ASSERT_TRUE(OpenPort(comm, menu, 3));
    ASSERT_TRUE(OpenPort(comm, menu, 3));

    EXPECT_EQ(openCloseEntries(comm.journal()), (QStringList{"open 3", "close 3", "open 3"}));
    ASSERT_EQ(comm.opens().size(), 2);
    EXPECT_EQ(comm.opens()[1], test::workingOpen(3));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{3});
    EXPECT_TRUE(comm.portOpen());
}

TEST(OpenPort, SwitchingFromCom2ToCom5)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({2, 5});
    RecordingPortMenu menu(&comm);
    ASSERT_TRUE(OpenPort(comm, menu, 2));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{2});
    ASSERT_TRUE(OpenPort(comm, menu, 5));

    EXPECT_EQ(openCloseEntries(comm.journal()), (QStringList{"open 2", "close 2", "open 5"}));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{5});
    EXPECT_EQ(comm.openPort(), 5);
}

TEST(OpenPort, RefusedOpenLeavesThePortClosedAndNothingChecked)
{
    struct Row { const char* name; bool busy; CommError error; };
    const Row rows[] = {{"missing", false, CommError::NoSuchPort}, {"busy", true, CommError::PortBusy}};
    for (const Row& row : rows) {
        FakeSerialControl comm;
        comm.setOpenablePorts({2});
        if (row.busy) comm.setBusy(6);
        RecordingPortMenu menu(&comm);
        ASSERT_TRUE(OpenPort(comm, menu, 2));

        const CommResult r = OpenPort(comm, menu, 6);
        EXPECT_EQ(r.error, row.error) << row.name;
        EXPECT_FALSE(r.reason.isEmpty()) << row.name;
        EXPECT_FALSE(comm.portOpen()) << row.name;
        EXPECT_TRUE(menu.checkedPorts().isEmpty()) << row.name;
        EXPECT_EQ(comm.commPort(), 6) << row.name;  // the configuration stays written
        EXPECT_EQ(comm.inBufferSize(), 16) << row.name;
    }
}

TEST(OpenPort, PortZeroIsRefusedAtThePortNumber)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1, 2, 3, 4, 5, 6, 7, 8});
    RecordingPortMenu menu(&comm);
    ASSERT_TRUE(OpenPort(comm, menu, 4));
    comm.clearJournal();

    const CommResult r = OpenPort(comm, menu, 0);
    EXPECT_EQ(r.error, CommError::InvalidArgument);
    EXPECT_FALSE(r.reason.isEmpty());
    EXPECT_EQ(comm.journal(), QStringList{"close 4"});  // nothing is opened
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(menu.checkedPorts().isEmpty());
}

TEST(OpenPort, FailedCloseOfTheOldPortIsReportedAndNothingStaysChecked)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({2, 5});
    comm.setCloseFails(2);
    RecordingPortMenu menu(&comm);
    ASSERT_TRUE(OpenPort(comm, menu, 2));

    const CommResult r = OpenPort(comm, menu, 5);
    EXPECT_EQ(r.error, CommError::Io);
    EXPECT_FALSE(r.reason.isEmpty());
    EXPECT_FALSE(comm.journal().contains("open 5"));
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(menu.checkedPorts().isEmpty());

    // The next choice opens as usual.
    ASSERT_TRUE(OpenPort(comm, menu, 5));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{5});
}
