// Port names on Windows: COMn is the system's COMn, unless the command line
// (quorvid --port) or the environment names another device for it.
#include "portnames.h"

namespace quorvid {

PortTarget resolveComPort(int port)
{
    if (port < 1 || port > SerialControl::kMaxPort)
        return {{}, QStringLiteral("%1 names no device").arg(comName(port))};
    // Only the port named is changed: the others stay the system's, which is
    // what a Windows user reads in the device manager.
    const QString named = qEnvironmentVariable(qPrintable(QStringLiteral("QUORVID_COM%1").arg(port)));
    if (!named.isEmpty()) return {named, {}};
    return {comName(port), {}};
}

int mapDeviceToPort(const QString& device, QString* error)
{
    QString name = device;
    if (name.startsWith(QLatin1String("\\\\.\\"))) name = name.mid(4);
    bool ok = false;
    const int port = name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? name.mid(3).toInt(&ok) : 0;
    if (!ok || port < 1 || port > SerialControl::kMaxPort) {
        if (error) *error = QStringLiteral("%1 is not a COM port name (COM1 to COM%2)").arg(device).arg(SerialControl::kMaxPort);
        return 0;
    }
    return port;
}

CommError openErrorFor(QSerialPort::SerialPortError error, const QString& device)
{
    Q_UNUSED(device);
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return CommError::NoSuchPort;
    case QSerialPort::PermissionError:
        // Windows answers "access denied" for a port that another program holds.
        return CommError::PortBusy;
    case QSerialPort::OpenError:
        return CommError::PortOpen;
    default:
        return CommError::Io;
    }
}

}  // namespace quorvid
