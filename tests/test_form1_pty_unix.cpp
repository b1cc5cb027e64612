// The whole program path on real pseudo-terminals: the window on the Qt
// SerialPort control, its ports mapped through QUORVID_COMn as a user would,
// the far ends played by the test.
#include "controls.h"
#include "form1.h"
#include "frames.h"
#include "pseudoterminal.h"
#include "qtserialcontrol.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QEventLoop>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "qtprinters.h"

#include <sys/resource.h>

#include <array>
#include <memory>
#include <optional>


using namespace quorvid;
using quorvid::sim::PseudoTerminal;

namespace {

constexpr int kWaitMs = 5000;
const char* const kValueLabels[] = {"SYS1", "MAP1", "DIA1", "SYS2", "MAP2", "DIA2", "PULSE"};

std::unique_ptr<PseudoTerminal> newPty()
{
    std::string error;
    auto pty = PseudoTerminal::open(&error);
    EXPECT_TRUE(pty) << error;
    return pty;
}

QByteArray bytesOf(const ByteString& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

bool writeFar(PseudoTerminal& pty, const QByteArray& bytes)
{
    return pty.write(bytes.constData(), std::size_t(bytes.size()));
}

// What the far end receives, up to size bytes, each within the bound.
QByteArray readFarEnd(PseudoTerminal& pty, qsizetype size)
{
    QByteArray got;
    char buf[256];
    while (got.size() < size && pty.waitReadable(kWaitMs)) {
        const std::ptrdiff_t n = pty.read(buf, std::size_t(qMin<qsizetype>(sizeof buf, size - got.size())));
        if (n <= 0) break;
        got.append(buf, n);
    }
    return got;
}

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QList<QMessageBox*> shownMessages()
{
    QList<QMessageBox*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) out << box;
    return out;
}

// The port map is the process's environment: taken over for the test, given back after.
class ProgramOnPtys : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 8; ++i) {
            const QByteArray name = varName(i + 1);
            if (qEnvironmentVariableIsSet(name.constData())) m_saved[std::size_t(i)] = qgetenv(name.constData());
            qunsetenv(name.constData());
        }
    }
    void TearDown() override
    {
        for (QMessageBox* box : shownMessages()) delete box;
        for (int i = 0; i < 8; ++i) {
            const QByteArray name = varName(i + 1);
            if (m_saved[std::size_t(i)]) qputenv(name.constData(), *m_saved[std::size_t(i)]);
            else qunsetenv(name.constData());
        }
    }

    static QByteArray varName(int port) { return QByteArrayLiteral("QUORVID_COM") + QByteArray::number(port); }
    static void mapPort(int port, const PseudoTerminal& pty)
    {
        qputenv(varName(port).constData(), QByteArray::fromStdString(pty.path()));
    }

    QStringList values()
    {
        QStringList out;
        for (const char* name : kValueLabels) out << form.findChild<QLabel*>(QString::fromLatin1(name))->text();
        return out;
    }
    bool valuesShown(const QStringList& expected)
    {
        return QTest::qWaitFor([&] { return values() == expected; }, kWaitMs);
    }
    QList<int> checkedPorts() const
    {
        QList<int> out;
        for (int p = 1; p <= 8; ++p)
            if (form.portItem(p)->isChecked()) out << p;
        return out;
    }
    void clickIdentify()
    {
        QTest::mouseClick(form.findChild<QAbstractButton*>("GetInfo"), Qt::LeftButton);
    }

    std::array<std::optional<QByteArray>, 8> m_saved;
    QtSerialControl comm;
    Form1 form{comm};
};

}  // namespace

TEST_F(ProgramOnPtys, StartsOnTheLineTalksAndFollowsThePortMenu)
{
    auto com1 = newPty(), com2 = newPty();
    ASSERT_TRUE(com1 && com2);
    mapPort(1, *com1);
    mapPort(2, *com2);

    form.Form_Load();
    EXPECT_EQ(form.ActivePort, 1);
    EXPECT_EQ(comm.openDevicePath(), QString::fromStdString(com1->path()));
    EXPECT_EQ(checkedPorts(), QList<int>{1});
    for (int p = 3; p <= 8; ++p) EXPECT_FALSE(form.portItem(p)->isEnabled()) << "COM" << p;
    EXPECT_EQ(form.portItem(2)->toolTip(), QString::fromStdString(com2->path()));

    // The board is put into the state the window shows, and nothing else is said.
    EXPECT_EQ(readFarEnd(*com1, 4).toHex(' '), QByteArray("53 31 4f 35"));
    EXPECT_FALSE(com1->waitReadable(0));
    EXPECT_FALSE(com2->waitReadable(0));  // the probe only opened and closed it

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(shownMessages().isEmpty());

    // A values frame, closed by the next header, reaches the labels through the event loop.
    ASSERT_TRUE(writeFar(*com1, QByteArray::fromHex("955c41347010736e16") + QByteArray(1, char(0xD0))));
    EXPECT_TRUE(valuesShown({"120", "93", "80", "300", "15", "10", "150"})) << values().join(' ').toStdString();

    clickIdentify();
    EXPECT_EQ(readFarEnd(*com1, 1), QByteArray("I"));

    // Switch to COM2: the traffic goes with it.
    form.portItem(2)->trigger();
    EXPECT_EQ(checkedPorts(), QList<int>{2});
    EXPECT_EQ(comm.openDevicePath(), QString::fromStdString(com2->path()));
    EXPECT_EQ(form.ActivePort, 1);
    const Values second{.sys1 = 101, .map1 = 82, .dia1 = 64, .sys2 = 35, .map2 = 20, .dia2 = 11, .pulse = 72};
    ASSERT_TRUE(writeFar(*com2, bytesOf(encodeValues(second)) + QByteArray(1, char(0xD0))));
    EXPECT_TRUE(valuesShown({"101", "82", "64", "35", "20", "11", "72"})) << values().join(' ').toStdString();
    clickIdentify();
    EXPECT_EQ(readFarEnd(*com2, 1), QByteArray("I"));
    EXPECT_FALSE(com1->waitReadable(0));
    EXPECT_TRUE(shownMessages().isEmpty());
}

TEST_F(ProgramOnPtys, FarEndGoneLeavesTheProgramIdleAndTheLineCanBeChosenAgain)
{
    auto com1 = newPty(), com2 = newPty();
    ASSERT_TRUE(com1 && com2);
    mapPort(1, *com1);
    mapPort(2, *com2);
    form.Form_Load();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_EQ(readFarEnd(*com1, 4), QByteArray("S1O5"));
    form.portItem(2)->trigger();
    ASSERT_EQ(checkedPorts(), QList<int>{2});

    com2->closeFarEnd();
    ASSERT_TRUE(QTest::qWaitFor([] { return !shownMessages().isEmpty(); }, kWaitMs));
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(checkedPorts().isEmpty());
    ASSERT_EQ(shownMessages().size(), 1);
    QMessageBox* box = shownMessages().front();
    EXPECT_EQ(box->windowTitle(), "Quorvid: COM2");
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_TRUE(box->text().contains(QString::fromStdString(com2->path()))) << box->text().toStdString();

    // A second of the program with the device gone: no error loop, no second message.
    // The event loop as the program runs it, not a polling wait that would
    // itself wake a hundred times a second.
    const double before = cpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double used = cpuSeconds() - before;
    RecordProperty("idle_cpu_microseconds", int(used * 1e6));
    EXPECT_LT(used, 0.02) << "CPU seconds over one second idle";
    EXPECT_EQ(shownMessages().size(), 1);
    EXPECT_TRUE(form.isVisible());

    // Commands are refused without a sound, and a new line behind COM2 works.
    clickIdentify();
    EXPECT_TRUE(form.statusBar1().text().startsWith("Not sent: I")) << form.statusBar1().text().toStdString();
    auto com2b = newPty();
    ASSERT_TRUE(com2b);
    mapPort(2, *com2b);
    form.portItem(2)->trigger();
    EXPECT_EQ(checkedPorts(), QList<int>{2});
    clickIdentify();
    EXPECT_EQ(readFarEnd(*com2b, 1), QByteArray("I"));
    ASSERT_TRUE(writeFar(*com2b, QByteArray::fromHex("955c41347010736e16") + QByteArray(1, char(0xD0))));
    EXPECT_TRUE(valuesShown({"120", "93", "80", "300", "15", "10", "150"})) << values().join(' ').toStdString();
    EXPECT_FALSE(com1->waitReadable(0));
}
