// The Qt SerialPort control over real pseudo-terminals, mapped through
// QUORVID_COMn as a user would.
#include "portlink.h"
#include "portnames.h"
#include "pseudoterminal.h"
#include "qtserialcontrol.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <ctime>
#include <memory>

using namespace quorvid;
using quorvid::sim::PseudoTerminal;

namespace {

constexpr int kWaitMs = 5000;

void clearPortMap()
{
    for (int i = 1; i <= 8; ++i) qunsetenv(qPrintable(QStringLiteral("QUORVID_COM%1").arg(i)));
}

void mapPort(int port, const std::string& path)
{
    qputenv(qPrintable(QStringLiteral("QUORVID_COM%1").arg(port)), QByteArray::fromStdString(path));
}

std::unique_ptr<PseudoTerminal> newPty()
{
    std::string error;
    auto pty = PseudoTerminal::open(&error);
    EXPECT_TRUE(pty) << error;
    return pty;
}

// Collects what the receive event hands over, as the program's receiver does.
struct Receiver {
    explicit Receiver(SerialControl& comm)
    {
        QObject::connect(&comm, &SerialControl::onComm, &comm, [this, &comm] {
            events << comm.commEvent();
            if (comm.commEvent() == CommEvent::Receive) {
                while (comm.inBufferCount() > 0) bytes += comm.input();
            }
        });
    }
    QList<int> events;
    QByteArray bytes;
};

// Everything the far end receives within the bound, up to size bytes.
QByteArray readFarEnd(PseudoTerminal& pty, qsizetype size)
{
    QByteArray got;
    char buf[1024];
    while (got.size() < size && pty.waitReadable(kWaitMs)) {
        const std::ptrdiff_t n = pty.read(buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, n);
    }
    return got;
}

CommResult openOn(QtSerialControl& comm, int port, const QString& settings = "9600,n,8,1")
{
    if (auto r = comm.setCommPort(port); !r) return r;
    if (auto r = comm.setSettings(settings); !r) return r;
    if (auto r = comm.setInputMode(1); !r) return r;
    if (auto r = comm.setRThreshold(1); !r) return r;
    if (auto r = comm.setInBufferSize(16); !r) return r;
    return comm.setPortOpen(true);
}

class QtSerialOverPty : public ::testing::Test {
protected:
    void SetUp() override { clearPortMap(); }
    void TearDown() override { clearPortMap(); }
};

}  // namespace

TEST_F(QtSerialOverPty, ReceivesExactlyWhatTheFarEndWrites)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(2, pty->path());
    QtSerialControl comm;
    EXPECT_EQ(comm.deviceName(2), QString::fromStdString(pty->path()));
    ASSERT_TRUE(openOn(comm, 2));
    EXPECT_TRUE(comm.portOpen());
    EXPECT_EQ(comm.openDevicePath(), QString::fromStdString(pty->path()));

    Receiver rx(comm);
    const QByteArray frame = QByteArray::fromHex("c1 02 7f 00 80 ff 0d 0a 11 13");  // no translation of any kind
    ASSERT_TRUE(pty->write(frame.constData(), frame.size()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= frame.size(); }, kWaitMs));
    EXPECT_EQ(rx.bytes.toHex(' '), frame.toHex(' '));
    ASSERT_FALSE(rx.events.isEmpty());
    for (int e : rx.events) EXPECT_EQ(e, CommEvent::Receive);
}

TEST_F(QtSerialOverPty, BurstFarBeyondTheReceiveBufferSizeLosesNothing)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(1, pty->path());
    QtSerialControl comm;
    ASSERT_TRUE(openOn(comm, 1));
    ASSERT_EQ(comm.inBufferSize(), 16);

    // The receiver drains only on its event, and the burst is written before
    // the event loop runs at all.
    Receiver rx(comm);
    QByteArray burst(4096, '\0');
    for (int i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    ASSERT_TRUE(pty->write(burst.constData(), burst.size()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= burst.size(); }, kWaitMs));
    EXPECT_EQ(rx.bytes.size(), burst.size());
    EXPECT_TRUE(rx.bytes == burst);
}

TEST_F(QtSerialOverPty, OutputReachesTheFarEndByteExact)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(4, pty->path());
    QtSerialControl comm;
    ASSERT_TRUE(openOn(comm, 4));

    QByteArray all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    // One write per character, as commands are sent.
    for (const char c : QByteArray("S1O5")) ASSERT_TRUE(comm.output(QByteArray(1, c)));
    ASSERT_TRUE(comm.output(all));
    EXPECT_EQ(readFarEnd(*pty, 4 + all.size()).toHex(' '), (QByteArray("S1O5") + all).toHex(' '));
}

TEST_F(QtSerialOverPty, OutputOnAClosedPortIsRefusedWithAReason)
{
    QtSerialControl comm;
    const CommResult r = comm.output("I");
    EXPECT_EQ(r.error, CommError::NotOpen);
    EXPECT_TRUE(r.reason.contains("COM1"));
}

// Read at most every so often: every byte still arrives, in order, in a few
// receive events instead of one per write, and a lost line is still noticed.
TEST_F(QtSerialOverPty, AReceiveIntervalGathersArrivalsAndLosesNothing)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(1, pty->path());
    QtSerialControl comm;
    comm.setReceiveInterval(100);
    ASSERT_TRUE(openOn(comm, 1));
    Receiver rx(comm);

    // Forty frames written apart from each other, as the board writes them.
    QByteArray sent;
    for (int i = 0; i < 40; ++i) {
        const QByteArray frame = QByteArray::fromHex("c1") + QByteArray(2, static_cast<char>(i));
        ASSERT_TRUE(pty->write(frame.constData(), frame.size()));
        sent += frame;
        QTest::qWait(5);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= sent.size(); }, kWaitMs));
    EXPECT_EQ(rx.bytes.toHex(' '), sent.toHex(' '));
    // The writes span at least 200 ms, so three reads or a few more; one per
    // write would be forty.
    EXPECT_GE(rx.events.size(), 2);
    EXPECT_LE(rx.events.size(), 10);

    // Back to every arrival: what gathered comes out at once.
    const qsizetype before = rx.bytes.size();
    ASSERT_TRUE(pty->write("\x80\x01", 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return comm.inBufferCount() > 0 || rx.bytes.size() > before; }, kWaitMs));
    comm.setReceiveInterval(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= before + 2; }, 200));

    // A line that hangs up while the control gathers is reported as lost.
    comm.setReceiveInterval(100);
    QSignalSpy lost(&comm, &SerialControl::portLost);
    ASSERT_TRUE(pty->write("\x81", 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rx.bytes.endsWith('\x81'); }, kWaitMs));
    pty->closeFarEnd();
    ASSERT_TRUE(lost.wait(kWaitMs));
    EXPECT_FALSE(comm.portOpen());
}

TEST_F(QtSerialOverPty, LineSettingsAreTheOnesWritten)
{
    // A pseudo-terminal keeps only the speed and the stop bits (the system
    // forces 8 bits without parity on it), so those are what can be seen.
    struct Row { const char* settings; speed_t speed; bool twoStop; };
    const Row rows[] = {{"9600,n,8,1", B9600, false}, {"19200,e,7,2", B19200, true}, {"4800,o,8,1", B4800, false}};
    for (const Row& r : rows) {
        auto pty = newPty();
        ASSERT_TRUE(pty);
        mapPort(3, pty->path());
        QtSerialControl comm;
        ASSERT_TRUE(openOn(comm, 3, r.settings)) << r.settings;

        // Look at the line from a second descriptor. The control asks for
        // exclusive use, which only a privileged user may override.
        const int fd = ::open(pty->path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) GTEST_SKIP() << "cannot inspect the line without privileges";
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ::close(fd);
        EXPECT_EQ(cfgetospeed(&t), r.speed) << r.settings;
        EXPECT_EQ(cfgetispeed(&t), r.speed) << r.settings;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.twoStop) << r.settings;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u) << r.settings;
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << r.settings;
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u) << r.settings;  // raw: bytes pass unchanged
    }
}

TEST_F(QtSerialOverPty, FarEndClosingIsReportedOnceAndLeavesTheProcessIdle)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(5, pty->path());
    QtSerialControl comm;
    ASSERT_TRUE(openOn(comm, 5));
    QSignalSpy lost(&comm, &SerialControl::portLost);

    pty->closeFarEnd();
    ASSERT_TRUE(lost.wait(kWaitMs));
    EXPECT_FALSE(comm.portOpen());
    const auto reason = lost.at(0).at(0).value<CommResult>();
    EXPECT_FALSE(reason.ok());
    EXPECT_TRUE(reason.reason.contains(QString::fromStdString(pty->path()))) << reason.reason.toStdString();

    // A second of the event loop with the device gone: no further report,
    // no error loop eating the processor.
    const std::clock_t before = std::clock();
    QTest::qWait(1000);
    const double cpuSeconds = double(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuSeconds, 0.02);
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(comm.output("I").error, CommError::NotOpen);

    // The program carries on: another line opens and works.
    auto next = newPty();
    ASSERT_TRUE(next);
    mapPort(5, next->path());
    ASSERT_TRUE(comm.setPortOpen(true));
    Receiver rx(comm);
    ASSERT_TRUE(next->write("\x81\x01", 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= 2; }, kWaitMs));
    EXPECT_EQ(rx.bytes, QByteArray("\x81\x01", 2));
    ASSERT_TRUE(comm.output("I"));
    EXPECT_EQ(readFarEnd(*next, 1), QByteArray("I"));
    EXPECT_EQ(lost.count(), 1);
}

TEST_F(QtSerialOverPty, PortsWithoutADeviceAreRefusedAsMissing)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(1, pty->path());
    mapPort(3, "/dev/quorvid-no-such-device");
    QtSerialControl comm;

    struct Row { int port; const char* mentions; };
    const Row rows[] = {{3, "/dev/quorvid-no-such-device"}, {4, "QUORVID_COM4"}, {4, "COM4"}};
    for (const Row& r : rows) {
        ASSERT_TRUE(comm.setCommPort(r.port));
        const CommResult res = comm.setPortOpen(true);
        EXPECT_EQ(res.error, CommError::NoSuchPort) << r.port;
        EXPECT_TRUE(res.reason.contains(r.mentions)) << res.reason.toStdString();
        EXPECT_FALSE(comm.portOpen());
    }
    EXPECT_TRUE(comm.deviceName(4).isEmpty());
    // The mapped port still opens after the refusals.
    ASSERT_TRUE(comm.setCommPort(1));
    EXPECT_TRUE(comm.setPortOpen(true));
}

TEST_F(QtSerialOverPty, WritingToAVanishedLineFailsAndTheLossIsReportedOnce)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(6, pty->path());
    QtSerialControl comm;
    ASSERT_TRUE(openOn(comm, 6));
    QSignalSpy lost(&comm, &SerialControl::portLost);

    // The write comes before the event loop has seen the hang-up.
    pty->closeFarEnd();
    const CommResult r = comm.output("Z3");
    EXPECT_EQ(r.error, CommError::Io);
    EXPECT_TRUE(r.reason.contains("COM6")) << r.reason.toStdString();
    EXPECT_EQ(lost.count(), 0);  // reported after the caller's event, not inside it
    ASSERT_TRUE(lost.wait(kWaitMs));
    EXPECT_FALSE(comm.portOpen());
    QCoreApplication::processEvents();
    EXPECT_EQ(lost.count(), 1);
}

TEST_F(QtSerialOverPty, LineHeldByAnotherControlIsBusy)
{
    auto pty = newPty();
    ASSERT_TRUE(pty);
    mapPort(7, pty->path());
    QtSerialControl holder, comm;
    ASSERT_TRUE(openOn(holder, 7));

    const CommResult r = openOn(comm, 7);
    EXPECT_EQ(r.error, CommError::PortBusy);
    EXPECT_TRUE(r.reason.contains(QString::fromStdString(pty->path()))) << r.reason.toStdString();
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(holder.portOpen());

    ASSERT_TRUE(holder.setPortOpen(false));
    EXPECT_TRUE(comm.setPortOpen(true));
}

namespace {

struct MenuState : PortMenu {
    void setPortChecked(int port, bool on) override { checked[port] = on; }
    void setPortEnabled(int port, bool on) override { enabled[port] = on; }
    QList<int> checkedPorts() const
    {
        QList<int> out;
        for (int p = 1; p <= 8; ++p)
            if (checked[p]) out << p;
        return out;
    }
    bool checked[9] = {};
    bool enabled[9] = {false, true, true, true, true, true, true, true, true};
};

}  // namespace

TEST_F(QtSerialOverPty, ProbeOpenAndSwitchMoveTheTraffic)
{
    auto com3 = newPty(), com5 = newPty();
    ASSERT_TRUE(com3 && com5);
    mapPort(1, "/dev/quorvid-no-such-device");
    mapPort(3, com3->path());
    mapPort(5, com5->path());
    QtSerialControl comm;
    MenuState menu;
    Receiver rx(comm);

    ASSERT_EQ(FindPort(comm, menu), 3);
    EXPECT_FALSE(comm.portOpen());
    for (int p = 1; p <= 8; ++p) EXPECT_EQ(menu.enabled[p], p == 3 || p == 5) << "COM" << p;

    ASSERT_TRUE(OpenPort(comm, menu, 3));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{3});
    ASSERT_TRUE(comm.output("I"));
    EXPECT_EQ(readFarEnd(*com3, 1), QByteArray("I"));
    ASSERT_TRUE(com3->write("\x82\x05", 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= 2; }, kWaitMs));

    ASSERT_TRUE(OpenPort(comm, menu, 5));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{5});
    ASSERT_TRUE(comm.output("Z1"));
    EXPECT_EQ(readFarEnd(*com5, 2), QByteArray("Z1"));
    EXPECT_FALSE(com3->waitReadable(0));
    ASSERT_TRUE(com5->write("\x83", 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rx.bytes.size() >= 3; }, kWaitMs));
    EXPECT_EQ(rx.bytes, QByteArray("\x82\x05\x83", 3));

    // Reopening the open port; then the port of a refused open stays closed.
    ASSERT_TRUE(OpenPort(comm, menu, 5));
    EXPECT_EQ(menu.checkedPorts(), QList<int>{5});
    const CommResult refused = OpenPort(comm, menu, 1);
    EXPECT_EQ(refused.error, CommError::NoSuchPort);
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(menu.checkedPorts().isEmpty());
}

// --port on the command line sets COM1 as QUORVID_COM1 would, beside whatever
// other variables say.
TEST(PortNames, TheCommandLinesCom1IsTheVariablesCom1)
{
    clearPortMap();
    mapPort(3, "/dev/pts/9");
    setExplicitComDevice(1, QStringLiteral("/tmp/some board"));
    EXPECT_EQ(resolveComPort(1).device, QStringLiteral("/tmp/some board"));
    EXPECT_EQ(resolveComPort(3).device, QStringLiteral("/dev/pts/9"));
    // With the map explicit, a COM name without a variable names nothing,
    // whatever ports the system has.
    EXPECT_FALSE(resolveComPort(2).found());
    EXPECT_TRUE(resolveComPort(2).reason.contains(QStringLiteral("QUORVID_COM2")));
    clearPortMap();
}
