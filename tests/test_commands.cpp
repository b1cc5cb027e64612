// Commands on the line and the speed cycle.
#include "commands.h"
#include "fakeserialcontrol.h"

#include <gtest/gtest.h>

using namespace quorvid;

TEST(Commands, EachControlSendsItsBytesOneWritePerCharacter)
{
    struct Row { const char* control; QByteArray hex; };
    const Row rows[] = {{"GetInfo", "49"},   {"Option1", "4f"}, {"Option2", "4d"},
                        {"Option3", "35"},   {"Option4", "36"}, {"Zero1", "5a31"},
                        {"Zero2", "5a32"},   {"Zeroall", "5a33"}};
    for (const Row& r : rows) {
        FakeSerialControl comm;
        comm.setOpenablePorts({2});
        ASSERT_TRUE(comm.setCommPort(2));
        ASSERT_TRUE(comm.setPortOpen(true));
        comm.clearJournal();
        EXPECT_TRUE(SendCommand(comm, commandFor(r.control))) << r.control;
        EXPECT_EQ(comm.written().toHex(), r.hex) << r.control;
        EXPECT_EQ(comm.journal().size(), comm.written().size()) << r.control;  // one write per byte
    }
    EXPECT_TRUE(commandFor("SelectSpeed").empty());
    EXPECT_TRUE(commandFor("Speed").empty());
}

TEST(Commands, RepeatsAreNotSuppressed)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    ASSERT_TRUE(comm.setPortOpen(true));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(SendCommand(comm, "Z3"));
    EXPECT_EQ(comm.written(), QByteArray("Z3Z3Z3"));
}

TEST(Commands, ClosedPortRefusesWithReason)
{
    FakeSerialControl comm;
    const CommResult r = SendCommand(comm, "Z1");
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, CommError::NotOpen);
    EXPECT_FALSE(r.reason.isEmpty());
    EXPECT_TRUE(comm.written().isEmpty());
    EXPECT_EQ(comm.journal().size(), 1);  // stops at the first refusal
}

TEST(SpeedCycle, ExactComparisonsFiftyFirst)
{
    struct Row { QString before; QString after; const char* command; };
    const Row rows[] = {{"50", "100", "S1"},  {"150", "50", "S0"},  {"100", "150", "S2"},
                        {"", "150", "S2"},    {" 50", "150", "S2"}, {"050", "150", "S2"},
                        {"150 ", "150", "S2"}, {"Fifty", "150", "S2"}};
    for (const Row& r : rows) {
        const SpeedStep step = nextSpeed(r.before);
        EXPECT_EQ(step.caption, r.after) << r.before.toStdString();
        EXPECT_EQ(step.command, r.command) << r.before.toStdString();
    }
    QString caption = "100";
    QStringList seen;
    for (int i = 0; i < 4; ++i) seen << (caption = nextSpeed(caption).caption);
    EXPECT_EQ(seen, (QStringList{"150", "50", "100", "150"}));
}

TEST(LineSettings, ParsedNotAssumed)
{
    const auto s = LineSettings::parse("9600,n,8,1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baudRate, 9600);
    EXPECT_EQ(s->parity, QSerialPort::NoParity);
    EXPECT_EQ(s->dataBits, QSerialPort::Data8);
    EXPECT_EQ(s->stopBits, QSerialPort::OneStop);
    const auto t = LineSettings::parse("19200,E,7,2");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->baudRate, 19200);
    EXPECT_EQ(t->parity, QSerialPort::EvenParity);
    EXPECT_EQ(t->dataBits, QSerialPort::Data7);
    EXPECT_EQ(t->stopBits, QSerialPort::TwoStop);
    for (const char* bad : {"", "9600", "9600,n,8", "x,n,8,1", "9600,q,8,1", "9600,n,9,1", "9600,n,8,3",
                            "-1,n,8,1"})
        EXPECT_FALSE(LineSettings::parse(bad)) << bad;
}

TEST(SerialControlProperties, RefusalsCarryAReason)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    EXPECT_EQ(comm.setCommPort(0).error, CommError::InvalidArgument);
    EXPECT_EQ(comm.setSettings("fast").error, CommError::InvalidArgument);
    EXPECT_EQ(comm.settings(), "9600,n,8,1");
    EXPECT_EQ(comm.setInputMode(2).error, CommError::InvalidArgument);
    ASSERT_TRUE(comm.setPortOpen(true));
    EXPECT_EQ(comm.setPortOpen(true).error, CommError::PortOpen);
    EXPECT_EQ(comm.setInBufferSize(16).error, CommError::PortOpen);
    EXPECT_EQ(comm.setCommPort(2).error, CommError::PortOpen);
    EXPECT_FALSE(comm.setCommPort(2).reason.isEmpty());
    ASSERT_TRUE(comm.setPortOpen(false));
    EXPECT_TRUE(comm.setPortOpen(false));  // closing a closed port does nothing
    EXPECT_TRUE(comm.setInBufferSize(16));
}
