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
