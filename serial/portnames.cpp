#include "portnames.h"

#include <algorithm>

namespace quorvid {

QString comName(int port) { return QStringLiteral("COM%1").arg(port); }

void setExplicitComDevice(int port, const QString& device)
{
    // The variable itself, rather than a second map beside it: whatever reads
    // the map (the probe, each open, the Port menu's tooltips) then sees one.
    qputenv(qPrintable(QStringLiteral("QUORVID_COM%1").arg(port)), device.toLocal8Bit());
}

namespace {

// Splits at the next boundary between digits and other characters.
QStringView nextRun(QStringView s, qsizetype from)
{
    const bool digits = s[from].isDigit();
    qsizetype end = from + 1;
    while (end < s.size() && s[end].isDigit() == digits) ++end;
    return s.mid(from, end - from);
}

// Compares two runs of digits by value, without overflow for long runs.
int compareNumbers(QStringView a, QStringView b)
{
    auto stripZeros = [](QStringView v) {
        qsizetype i = 0;
        while (i + 1 < v.size() && v[i] == u'0') ++i;
        return v.mid(i);
    };
    const QStringView x = stripZeros(a), y = stripZeros(b);
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

int groupOf(const QString& name)
{
    if (name.startsWith(u"ttyUSB")) return 0;
    if (name.startsWith(u"ttyACM")) return 1;
    return 2;
}

QString baseName(const SystemPort& p)
{
    if (!p.name.isEmpty()) return p.name;
    return p.location.mid(p.location.lastIndexOf(u'/') + 1);
}

}  // namespace

bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const QStringView x = nextRun(a, i), y = nextRun(b, j);
        const bool xNum = x[0].isDigit(), yNum = y[0].isDigit();
        int c = 0;
        if (xNum && yNum) c = compareNumbers(x, y);
        else c = x.compare(y);
        if (c != 0) return c < 0;
        i += x.size();
        j += y.size();
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;  // "ttyUSB01" and "ttyUSB1": any fixed order will do
}

QList<SystemPort> orderForComPorts(QList<SystemPort> ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const SystemPort& a, const SystemPort& b) {
        const QString x = baseName(a), y = baseName(b);
        const int gx = groupOf(x), gy = groupOf(y);
        if (gx != gy) return gx < gy;
        if (naturalLess(x, y)) return true;
        if (naturalLess(y, x)) return false;
        return naturalLess(a.location, b.location);
    });
    return ports;
}

PortTarget mapComPort(int port, const QStringList& explicitPaths, const QList<SystemPort>& ports)
{
    const QString com = comName(port);
    if (port < 1 || port > kMenuPorts)
        return {{}, QStringLiteral("%1 names no device: only COM1 to COM8 are mapped").arg(com)};

    const bool isExplicit = std::any_of(explicitPaths.begin(), explicitPaths.end(),
                                        [](const QString& p) { return !p.isEmpty(); });
    if (isExplicit) {
        const QString path = port <= explicitPaths.size() ? explicitPaths[port - 1] : QString();
        if (path.isEmpty())
            return {{}, QStringLiteral("%1 names no device: QUORVID_COM%2 is not set").arg(com).arg(port)};
        return {path, {}};
    }

    const QList<SystemPort> ordered = orderForComPorts(ports);
    if (port > ordered.size()) {
        const QString found = ordered.isEmpty()
                                  ? QStringLiteral("the system reports no serial port")
                                  : ordered.size() == 1
                                      ? QStringLiteral("the system reports 1 serial port")
                                      : QStringLiteral("the system reports %1 serial ports").arg(ordered.size());
        return {{}, QStringLiteral("%1 names no device: %2").arg(com, found)};
    }
    const SystemPort& p = ordered[port - 1];
    return {p.location.isEmpty() ? p.name : p.location, {}};
}

}  // namespace quorvid
