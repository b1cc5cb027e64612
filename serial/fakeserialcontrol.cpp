#include "fakeserialcontrol.h"

namespace quorvid {

FakeSerialControl::FakeSerialControl(QObject* parent)
    : SerialControl(parent)
{
}

void FakeSerialControl::setCloseFails(int port, bool fails)
{
    if (fails) {
        m_closeFails.insert(port);
        m_openable.insert(port);
    } else {
        m_closeFails.remove(port);
    }
}

void FakeSerialControl::setBusy(int port, bool busy)
{
    if (busy) m_busy.insert(port);
    else m_busy.remove(port);
}

void FakeSerialControl::queue(const QByteArray& block)
{
    if (block.isEmpty()) return;
    m_pending.append(block);
    m_pendingBytes += block.size();
}

void FakeSerialControl::deliver(const QByteArray& block)
{
    queue(block);
    bytesArrived();
}

void FakeSerialControl::lose(const QString& reason)
{
    m_journal << QStringLiteral("lost %1").arg(m_openPort);
    reportLost(CommResult::failure(CommError::Io, reason));
}

int FakeSerialControl::inBufferCount() const
{
    return static_cast<int>(m_pendingBytes);
}

QByteArray FakeSerialControl::input()
{
    if (m_pending.isEmpty()) return {};
    QByteArray block = m_pending.takeFirst();
    m_pendingBytes -= block.size();
    m_journal << QStringLiteral("input %1").arg(block.size());
    return block;
}

CommResult FakeSerialControl::output(const QByteArray& data)
{
    if (!m_openPort) {
        m_journal << QStringLiteral("write %1 refused").arg(QString::fromLatin1(data.toHex(' ')));
        return CommResult::failure(CommError::NotOpen, QStringLiteral("Port not open"));
    }
    m_journal << QStringLiteral("write %1").arg(QString::fromLatin1(data.toHex(' ')));
    m_written += data;
    return CommResult::success();
}

QString FakeSerialControl::deviceName(int port) const
{
    return port >= 1 && port <= 8 ? QStringLiteral("fake%1").arg(port) : QString();
}

CommResult FakeSerialControl::openDevice()
{
    const int port = commPort();
    if (m_busy.contains(port)) {
        m_journal << QStringLiteral("open %1 failed").arg(port);
        return CommResult::failure(CommError::PortBusy, QStringLiteral("Device or resource busy"));
    }
    if (!m_openable.contains(port)) {
        m_journal << QStringLiteral("open %1 failed").arg(port);
        return CommResult::failure(CommError::NoSuchPort, QStringLiteral("No such file or directory"));
    }
    m_openPort = port;
    m_journal << QStringLiteral("open %1").arg(port);
    m_opens.append({port, settings(), inputMode(), rThreshold(), sThreshold(), inBufferSize(),
                    outBufferSize()});
    return CommResult::success();
}

CommResult FakeSerialControl::closeDevice()
{
    if (m_closeFails.contains(m_openPort)) {
        m_journal << QStringLiteral("close %1 failed").arg(m_openPort);
        // A system close that reports an error still gives up the handle.
        m_openPort = 0;
        return CommResult::failure(CommError::Io, QStringLiteral("Input/output error"));
    }
    m_journal << QStringLiteral("close %1").arg(m_openPort);
    m_openPort = 0;
    m_pending.clear();
    m_pendingBytes = 0;
    return CommResult::success();
}

}  // namespace quorvid
