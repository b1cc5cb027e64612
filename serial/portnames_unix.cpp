// Port names where the system has no COMn: an explicit map from the
// environment, or the system's serial ports in a stable order.
#include "portnames.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace quorvid {

PortTarget resolveComPort(int port)
{
    QStringList explicitPaths;
    bool isExplicit = false;
    for (int i = 1; i <= kMenuPorts; ++i) {
        explicitPaths << qEnvironmentVariable(qPrintable(QStringLiteral("QUORVID_COM%1").arg(i)));
        isExplicit |= !explicitPaths.back().isEmpty();
    }

    // With an explicit map the system's list is not consulted: a
    // pseudo-terminal is not on it, and listing takes time at every open.
    QList<SystemPort> ports;
    if (!isExplicit) {
        const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo& info : infos) ports.append({info.portName(), info.systemLocation()});
    }
    return mapComPort(port, explicitPaths, ports);
}

int mapDeviceToPort(const QString& device, QString* error)
{
    if (device.isEmpty()) {
        if (error) *error = QStringLiteral("no device named");
        return 0;
    }
    // The window's --port does the same: one map for every open and message.
    setExplicitComDevice(1, device);
    return 1;
}

CommError openErrorFor(QSerialPort::SerialPortError error, const QString& device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return CommError::NoSuchPort;
    case QSerialPort::PermissionError: {
        // The system says "busy" (exclusive use, lock file) and "not
        // allowed" with the same code; a device we may read and write is busy.
        const QFileInfo info(device);
        if (!info.exists()) return CommError::NoSuchPort;
        return info.isReadable() && info.isWritable() ? CommError::PortBusy : CommError::PermissionDenied;
    }
    case QSerialPort::OpenError:
        return CommError::PortOpen;
    default:
        return CommError::Io;
    }
}

}  // namespace quorvid
