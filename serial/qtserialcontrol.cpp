#include "qtserialcontrol.h"

#include "portnames.h"

#include <QMetaObject>
#include <QScopedValueRollback>

#include <algorithm>
#include <limits>
#include <utility>

namespace quorvid {

namespace {

// Errors that mean the device is no longer there to talk to.
bool meansGone(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError || error == QSerialPort::DeviceNotFoundError;
}

// A hung-up line reads as end of file, for which the system gives no
// reason of its own: the text that Qt passes on is then left over from some
// earlier call, and would mislead.
QString lossText(QSerialPort::SerialPortError error, const QString& systemText)
{
    switch (error) {
    case QSerialPort::ReadError:
        return QStringLiteral("the line was hung up or the device removed");
    case QSerialPort::ResourceError:
        // Qt's text here is whatever errno last held, often "Resource
        // temporarily unavailable": true of the read, not of the cause.
        return QStringLiteral("the device was removed or disconnected");
    case QSerialPort::WriteError:
        return QStringLiteral("the device no longer accepts data (%1)").arg(systemText);
    default:
        return QStringLiteral("the device was removed or disconnected (%1)").arg(systemText);
    }
}

}  // namespace

QtSerialControl::QtSerialControl(QObject* parent)
    : SerialControl(parent)
{
    // Unlimited: Qt then reads everything the system has, and nothing is
    // ever dropped for want of room.
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    m_gather.setSingleShot(true);
    m_gather.setTimerType(Qt::PreciseTimer);
    connect(&m_gather, &QTimer::timeout, this, &QtSerialControl::readGathered);
}

void QtSerialControl::setReceiveInterval(int milliseconds)
{
    m_receiveInterval = std::max(0, milliseconds);
    m_gather.setInterval(m_receiveInterval);
    if (m_receiveInterval == 0) {
        // Whatever gathered goes to the program now, and every arrival after it.
        const bool pending = m_gather.isActive();
        m_gather.stop();
        m_port.setReadBufferSize(0);
        if (pending && m_port.isOpen() && m_port.bytesAvailable() > 0) bytesArrived();
        return;
    }
    // A buffer of one byte: Qt stops watching the port once it holds that
    // byte, and the rest waits in the system's buffer for the read.
    if (!m_gather.isActive()) m_port.setReadBufferSize(1);
}

QtSerialControl::~QtSerialControl()
{
    disconnect(&m_port, nullptr, this, nullptr);
    if (m_port.isOpen()) m_port.close();
}

CommResult QtSerialControl::failure(CommError error, const QString& what) const
{
    return CommResult::failure(error, QStringLiteral("%1 (%2): %3").arg(comName(commPort()), m_device, what));
}

int QtSerialControl::inBufferCount() const
{
    if (!m_port.isOpen()) return 0;
    return static_cast<int>(qMin<qint64>(m_port.bytesAvailable(), std::numeric_limits<int>::max()));
}

QByteArray QtSerialControl::input()
{
    if (!m_port.isOpen()) return {};
    return m_port.readAll();
}

CommResult QtSerialControl::output(const QByteArray& data)
{
    if (!m_port.isOpen())
        return CommResult::failure(CommError::NotOpen, QStringLiteral("%1 is not open").arg(comName(commPort())));
    if (m_losing) return m_lossReason;

    m_port.clearError();
    const qint64 n = m_port.write(data);
    // Hand the bytes to the system now rather than on the next pass of the
    // event loop, so that a failing line is reported to this caller.
    if (n == data.size()) m_port.flush();
    if (m_losing) return m_lossReason;
    if (n != data.size() || m_port.error() != QSerialPort::NoError)
        return failure(CommError::Io, m_port.errorString());
    return CommResult::success();
}

QString QtSerialControl::deviceName(int port) const
{
    if (!m_devicePath.isEmpty() && port == commPort()) return m_devicePath;
    return resolveComPort(port).device;
}

QString QtSerialControl::openDevicePath() const { return m_port.isOpen() ? m_device : QString(); }

bool QtSerialControl::isDeviceOpen() const { return m_port.isOpen(); }

CommResult QtSerialControl::openDevice()
{
    const PortTarget target = m_devicePath.isEmpty() ? resolveComPort(commPort()) : PortTarget{m_devicePath, {}};
    if (!target.found()) return CommResult::failure(CommError::NoSuchPort, target.reason);
    m_device = target.device;

    const LineSettings line = lineSettings();
    m_port.setPortName(target.device);  // a full path is opened as it stands
    m_port.setBaudRate(line.baudRate);
    m_port.setDataBits(line.dataBits);
    m_port.setParity(line.parity);
    m_port.setStopBits(line.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    bool opened = false;
    {
        const QScopedValueRollback quiet(m_quiet, true);
        m_port.clearError();
        opened = m_port.open(QIODevice::ReadWrite);
    }
    if (!opened) {
        const CommError error = openErrorFor(m_port.error(), m_device);
        const QString why = error == CommError::PortBusy
                                ? QStringLiteral("in use by another program (%1)").arg(m_port.errorString())
                                : m_port.errorString();
        const CommResult r = failure(error, why);
        m_port.clearError();
        return r;
    }
    ++m_opening;
    m_gather.stop();
    m_port.setReadBufferSize(m_receiveInterval > 0 ? 1 : 0);
    m_losing = false;
    m_lossReason = {};
    assertModemLines();
    m_port.clearError();
    return CommResult::success();
}

void QtSerialControl::assertModemLines()
{
    // A terminal raises DTR and RTS on open; do the same where the system
    // leaves it to the program. Lines that the device does not have (a
    // pseudo-terminal has none) are no reason to refuse the port.
    const QScopedValueRollback quiet(m_quiet, true);
    (void)m_port.setDataTerminalReady(true);
    (void)m_port.setRequestToSend(true);
}

CommResult QtSerialControl::closeDevice()
{
    if (!m_port.isOpen()) return CommResult::success();
    // Closed on purpose: a loss noticed but not yet reported is moot.
    const bool losing = std::exchange(m_losing, false);
    m_gather.stop();
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString reason;
    {
        const QScopedValueRollback quiet(m_quiet, true);
        m_port.clearError();
        m_port.close();
        error = m_port.error();
        reason = m_port.errorString();
        m_port.clearError();
    }
    // Closing a device that is gone fails too; the loss says what happened.
    if (error != QSerialPort::NoError && !losing) return failure(CommError::Io, reason);
    return CommResult::success();
}

void QtSerialControl::onReadyRead()
{
    // Bytes that came in before a hang-up are still the board's: hand them over.
    if (!m_port.isOpen()) return;
    if (m_receiveInterval == 0) {
        bytesArrived();
        return;
    }
    if (m_atReadPoint) return;  // readGathered hands them over itself
    if (!m_gather.isActive()) m_gather.start();
}

void QtSerialControl::readGathered()
{
    if (!m_port.isOpen()) return;
    {
        // Unlimited again, and one read of everything waiting; a port that
        // went away in the meantime reports itself here.
        const QScopedValueRollback reading(m_atReadPoint, true);
        m_port.setReadBufferSize(0);
        if (m_port.waitForReadyRead(0) == false && m_port.error() == QSerialPort::TimeoutError)
            m_port.clearError();
    }
    // Bytes that came in before a hang-up are still the board's.
    if (m_port.isOpen() && m_port.bytesAvailable() > 0) bytesArrived();
    // Gather again from the next byte on.
    if (m_port.isOpen() && m_receiveInterval > 0) m_port.setReadBufferSize(1);
}

void QtSerialControl::readWaiting()
{
    m_gather.stop();
    readGathered();
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || m_quiet || !m_port.isOpen()) return;
    if (!meansGone(error)) return;  // left for the operation that met it to report
    if (m_losing) return;

    // Qt is still inside its own notification: close after it, then tell the
    // program, as one event of its own. A newer open in between is not lost.
    m_losing = true;
    m_lossReason = failure(CommError::Io, lossText(error, m_port.errorString()));
    const quint64 opening = m_opening;
    QMetaObject::invokeMethod(
        this,
        [this, opening] {
            if (opening != m_opening || !m_losing) return;
            const CommResult reason = m_lossReason;
            (void)closeDevice();
            reportLost(reason);
        },
        Qt::QueuedConnection);
}

}  // namespace quorvid
