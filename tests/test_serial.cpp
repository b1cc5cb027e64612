// The COM port map: natural order, grouping, explicit and automatic maps.
#include "portnames.h"

#include <gtest/gtest.h>

using namespace quorvid;

namespace {

QList<SystemPort> devPorts(const QStringList& names)
{
    QList<SystemPort> ports;
    for (const QString& n : names) ports.append({n, "/dev/" + n});
    return ports;
}

QStringList namesOf(const QList<SystemPort>& ports)
{
    QStringList out;
    for (const SystemPort& p : ports) out << p.name;
    return out;
}

}  // namespace

TEST(PortNames, NaturalOrder)
{
    struct Row { const char* a; const char* b; bool less; };
    const Row rows[] = {
        {"ttyUSB2", "ttyUSB10", true},  {"ttyUSB10", "ttyUSB2", false}, {"ttyUSB0", "ttyUSB1", true},
        {"ttyS9", "ttyS10", true},      {"ttyS10", "ttyS9", false},     {"ttyUSB1", "ttyUSB1", false},
        {"ttyACM", "ttyACM0", true},    {"rfcomm1", "ttyS0", true},     {"ttyS1", "ttyS1a", true},
        {"a99999999999999999999", "a100000000000000000000", true},  // longer than any integer
        {"ttyUSB007", "ttyUSB8", true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(naturalLess(r.a, r.b), r.less) << r.a << " < " << r.b;
    // A strict order: equal-valued names with leading zeros still have one order.
    EXPECT_NE(naturalLess("ttyUSB01", "ttyUSB1"), naturalLess("ttyUSB1", "ttyUSB01"));
}

TEST(PortNames, AutomaticOrderUsbThenAcmThenTheRest)
{
    struct Row { const char* name; QStringList given; QStringList ordered; };
    const Row rows[] = {
        {"empty", {}, {}},
        {"groups", {"ttyS0", "ttyACM0", "ttyUSB0"}, {"ttyUSB0", "ttyACM0", "ttyS0"}},
        {"natural within a group",
         {"ttyUSB10", "ttyUSB2", "ttyACM11", "ttyACM1", "ttyS10", "ttyS2"},
         {"ttyUSB2", "ttyUSB10", "ttyACM1", "ttyACM11", "ttyS2", "ttyS10"}},
        {"others in name order", {"ttyS1", "rfcomm0", "ttyAMA0"}, {"rfcomm0", "ttyAMA0", "ttyS1"}},
        {"prefix only at the start", {"xttyUSB0", "ttyACM3"}, {"ttyACM3", "xttyUSB0"}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(namesOf(orderForComPorts(devPorts(r.given))), r.ordered) << r.name;
}

TEST(PortNames, AutomaticMapNumbersTheOrderedPorts)
{
    const QList<SystemPort> system = devPorts({"ttyS0", "ttyUSB10", "ttyACM0", "ttyUSB2"});
    const QStringList noExplicit(8);
    struct Row { int port; const char* device; };
    const Row rows[] = {{1, "/dev/ttyUSB2"}, {2, "/dev/ttyUSB10"}, {3, "/dev/ttyACM0"}, {4, "/dev/ttyS0"},
                        {5, ""},             {8, ""},              {0, ""},             {9, ""}};
    for (const Row& r : rows) {
        const PortTarget t = mapComPort(r.port, noExplicit, system);
        EXPECT_EQ(t.device, r.device) << "COM" << r.port;
        if (!t.found()) {
            EXPECT_TRUE(t.reason.contains(comName(r.port))) << t.reason.toStdString();
        }
    }
    EXPECT_TRUE(mapComPort(1, noExplicit, {}).reason.contains("no serial port"));
    EXPECT_TRUE(mapComPort(5, noExplicit, system).reason.contains("4 serial ports"));
}

TEST(PortNames, ExplicitMapTakesPathsAsTheyStandAndIgnoresTheSystem)
{
    QStringList vars(8);
    vars[1] = "/dev/pts/7";
    vars[4] = "/tmp/not-in-any-list";
    const QList<SystemPort> system = devPorts({"ttyUSB0", "ttyUSB1"});

    struct Row { int port; const char* device; };
    const Row rows[] = {{1, ""}, {2, "/dev/pts/7"}, {3, ""}, {5, "/tmp/not-in-any-list"}, {8, ""}, {9, ""}};
    for (const Row& r : rows) {
        const PortTarget t = mapComPort(r.port, vars, system);
        EXPECT_EQ(t.device, r.device) << "COM" << r.port;
        EXPECT_EQ(t.found(), t.reason.isEmpty()) << "COM" << r.port;
    }
    const PortTarget unset = mapComPort(3, vars, system);
    EXPECT_TRUE(unset.reason.contains("COM3"));
    EXPECT_TRUE(unset.reason.contains("QUORVID_COM3"));
}
