#include "notes.h"

#include "csvrows.h"

namespace quorvid::record {

namespace {

constexpr QLatin1StringView kStarted("recording started ");
constexpr QLatin1StringView kProgram("program ");
constexpr QLatin1StringView kPort("port ");
constexpr QLatin1StringView kNone("none");

// A note is one line whatever the caller hands over.
QByteArray oneLine(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    utf8.replace('\r', ' ').replace('\n', ' ');
    return utf8;
}

// Where the parenthesis that closes text opens; -1 when text does not end
// with a balanced one.
qsizetype openingBracket(const QString& text)
{
    if (!text.endsWith(u')')) return -1;
    int depth = 0;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (text[i] == u')') ++depth;
        if (text[i] == u'(' && --depth == 0) return i;
    }
    return -1;
}

}  // namespace

QByteArray startNotes(const RecordingStart& where, std::int64_t utcMilliseconds)
{
    const std::string started = isoUtc(utcMilliseconds);
    QByteArray lines = "# " + QByteArray(kStarted.data(), kStarted.size());
    lines.append(started.data(), static_cast<qsizetype>(started.size()));
    lines += "\n# " + QByteArray(kProgram.data(), kProgram.size()) + oneLine(where.program) + '\n';
    lines += "# " + QByteArray(kPort.data(), kPort.size());
    if (where.port.isEmpty() && where.device.isEmpty()) {
        lines += QByteArray(kNone.data(), kNone.size());
    } else {
        lines += oneLine(where.port);
        if (!where.device.isEmpty()) lines += " (" + oneLine(where.device) + ')';
    }
    return lines + '\n';
}

bool StartNotes::take(const QString& comment)
{
    if (comment.startsWith(kStarted)) {
        if (started.isValid()) return false;
        const auto ms = parseIsoUtc(comment.sliced(kStarted.size()).trimmed().toLatin1());
        if (ms) started = QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC);
        return true;
    }
    if (comment.startsWith(kProgram)) {
        if (!where.program.isEmpty()) return false;
        where.program = comment.sliced(kProgram.size());
        return true;
    }
    if (comment.startsWith(kPort)) {
        if (portNoted) return false;
        portNoted = true;
        const QString port = comment.sliced(kPort.size());
        if (port == kNone) return true;
        // "NAME (DEVICE)": the device is in the parentheses that close the
        // note, which may hold parentheses of their own.
        const qsizetype open = openingBracket(port);
        if (open > 0 && port[open - 1] == u' ') {
            where.port = port.left(open - 1);
            where.device = port.sliced(open + 1).chopped(1);
        } else {
            where.port = port;
        }
        return true;
    }
    return false;
}

QString StartNotes::portText() const
{
    if (!portNoted) return {};
    if (where.port.isEmpty() && where.device.isEmpty()) return kNone;
    return where.device.isEmpty() ? where.port : QStringLiteral("%1 (%2)").arg(where.port, where.device);
}

QByteArray timedNote(std::int64_t microseconds, const QString& text)
{
    char time[kSecondsTextMax];
    return "# " + QByteArray(time, writeSeconds(time, microseconds, 6) - time) + ' ' + oneLine(text) + '\n';
}

QString portNote(const QString& portWithDevice) { return kPort + portWithDevice; }

QString portNotOpenedNote(const QString& portWithDevice, const QString& reason)
{
    return QStringLiteral("%1%2 not opened: %3").arg(kPort, portWithDevice, reason);
}

QString portLostNote(const QString& reason) { return QStringLiteral("%1lost: %2").arg(kPort, reason); }

}  // namespace quorvid::record
