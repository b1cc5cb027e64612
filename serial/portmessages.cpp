#include "portmessages.h"

#include "portnames.h"
#include "serialcontrol.h"

#include <QStringList>

namespace quorvid {

QString portWithDevice(const SerialControl& comm, int port)
{
    const QString device = comm.deviceName(port);
    if (device.isEmpty() || device == comName(port)) return comName(port);
    return QStringLiteral("%1 (%2)").arg(comName(port), device);
}

QString openRefusedText(int port) { return QStringLiteral("%1 could not be opened.").arg(comName(port)); }

QString noPortOpenedText()
{
    return QStringLiteral("No port among COM1 to COM8 could be opened, so no board is connected.");
}

QString triedDevicesText(const SerialControl& comm)
{
    // "No board" is not the whole story when a device was there but refused,
    // as it is for a user not allowed to use serial devices: name what the
    // probe tried. Where COMn is the system's own name there is nothing to add.
    QStringList tried;
    bool anyDevice = false;
    for (int port = 1; port <= kMenuPorts; ++port) {
        const QString device = comm.deviceName(port);
        anyDevice |= !device.isEmpty();
        if (!device.isEmpty() && device != comName(port)) tried << portWithDevice(comm, port);
    }
    if (!anyDevice) return QStringLiteral("The system reports no serial device.");
    if (tried.isEmpty()) return {};
    return QStringLiteral("Tried: %1. A device may be missing, in use by another "
                          "program, or not open to this user.")
        .arg(tried.join(QStringLiteral(", ")));
}

QString portLostText(int port)
{
    return QStringLiteral("The connection on %1 was lost and the port has been closed.").arg(comName(port));
}

}  // namespace quorvid
