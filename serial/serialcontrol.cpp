#include "serialcontrol.h"

#include <QStringList>

namespace quorvid {

namespace {

CommResult refuse(CommError error, const QString& reason) { return CommResult::failure(error, reason); }

CommResult refuseWhileOpen(const SerialControl& c, const char* property)
{
    if (!c.portOpen()) return CommResult::success();
    return refuse(CommError::PortOpen,
                  QStringLiteral("%1 cannot be changed while the port is open").arg(QLatin1String(property)));
}

}  // namespace

std::optional<LineSettings> LineSettings::parse(const QString& text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) return std::nullopt;

    LineSettings s;
    bool ok = false;
    s.baudRate = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0) return std::nullopt;

    const QString parity = parts[1].trimmed().toLower();
    if (parity == u"n") s.parity = QSerialPort::NoParity;
    else if (parity == u"e") s.parity = QSerialPort::EvenParity;
    else if (parity == u"o") s.parity = QSerialPort::OddParity;
    else if (parity == u"m") s.parity = QSerialPort::MarkParity;
    else if (parity == u"s") s.parity = QSerialPort::SpaceParity;
    else return std::nullopt;

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8) return std::nullopt;
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);

    const QString stop = parts[3].trimmed();
    if (stop == u"1") s.stopBits = QSerialPort::OneStop;
    else if (stop == u"1.5") s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == u"2") s.stopBits = QSerialPort::TwoStop;
    else return std::nullopt;
    return s;
}

SerialControl::SerialControl(QObject* parent)
    : QObject(parent)
{
    static const int registered = qRegisterMetaType<quorvid::CommResult>();
    Q_UNUSED(registered);
}

SerialControl::~SerialControl() = default;

CommResult SerialControl::setCommPort(int port)
{
    if (auto r = refuseWhileOpen(*this, "CommPort"); !r) return r;
    if (port < 1 || port > kMaxPort)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid port number %1").arg(port));
    m_commPort = port;
    return CommResult::success();
}

CommResult SerialControl::setSettings(const QString& settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid line settings \"%1\"").arg(settings));
    m_settings = settings;
    m_lineSettings = *parsed;
    return CommResult::success();
}

CommResult SerialControl::setInputMode(int mode)
{
    if (mode != 0 && mode != 1)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid input mode %1").arg(mode));
    m_inputMode = mode;
    return CommResult::success();
}

CommResult SerialControl::setRThreshold(int threshold)
{
    if (threshold < 0 || threshold > 32767)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid receive threshold %1").arg(threshold));
    m_rThreshold = threshold;
    return CommResult::success();
}

CommResult SerialControl::setSThreshold(int threshold)
{
    if (threshold < 0 || threshold > 32767)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid send threshold %1").arg(threshold));
    m_sThreshold = threshold;
    return CommResult::success();
}

CommResult SerialControl::setInBufferSize(int size)
{
    if (auto r = refuseWhileOpen(*this, "InBufferSize"); !r) return r;
    if (size < 1 || size > 32767)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid receive buffer size %1").arg(size));
    m_inBufferSize = size;
    return CommResult::success();
}

CommResult SerialControl::setOutBufferSize(int size)
{
    if (auto r = refuseWhileOpen(*this, "OutBufferSize"); !r) return r;
    if (size < 1 || size > 32767)
        return refuse(CommError::InvalidArgument, QStringLiteral("Invalid transmit buffer size %1").arg(size));
    m_outBufferSize = size;
    return CommResult::success();
}

CommResult SerialControl::setPortOpen(bool open)
{
    if (open == isDeviceOpen()) {
        if (open) return refuse(CommError::PortOpen, QStringLiteral("Port already open"));
        return CommResult::success();
    }
    if (!open) return closeDevice();
    CommResult r = openDevice();
    if (r) m_lostReported = false;
    return r;
}

void SerialControl::bytesArrived()
{
    if (m_rThreshold > 0 && inBufferCount() >= m_rThreshold) raiseComm(CommEvent::Receive);
}

void SerialControl::raiseComm(int event)
{
    m_commEvent = event;
    emit onComm();
}

void SerialControl::reportLost(const CommResult& reason)
{
    if (isDeviceOpen()) (void)closeDevice();
    if (m_lostReported) return;
    m_lostReported = true;
    emit portLost(reason);
}

QString commErrorName(CommError error)
{
    switch (error) {
    case CommError::None: return QStringLiteral("no error");
    case CommError::InvalidArgument: return QStringLiteral("invalid value");
    case CommError::PortOpen: return QStringLiteral("port open");
    case CommError::NotOpen: return QStringLiteral("port not open");
    case CommError::NoSuchPort: return QStringLiteral("no such port");
    case CommError::PortBusy: return QStringLiteral("port busy");
    case CommError::PermissionDenied: return QStringLiteral("permission denied");
    case CommError::Io: return QStringLiteral("input/output error");
    }
    return {};
}

}  // namespace quorvid
