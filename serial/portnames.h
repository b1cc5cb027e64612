// Which device each of COM1 to COM8 stands for.
//
// On Windows COMn is the system's COMn. Elsewhere there are no COM names, so
// the program maps them: explicitly, when any of QUORVID_COM1 .. QUORVID_COM8
// names a device path (a COMn without a variable then names nothing), or
// automatically onto the serial ports the system reports, USB adapters first.
// The map is read again at every open, so an adapter plugged in after start-up
// is found.
#pragma once

#include "serialcontrol.h"

#include <QList>
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace quorvid {

inline constexpr int kMenuPorts = 8;

// "COM3": the name the program shows for a port number.
QString comName(int port);

// A serial port as the system reports it: "ttyUSB0", "/dev/ttyUSB0".
struct SystemPort {
    QString name;
    QString location;
    friend bool operator==(const SystemPort&, const SystemPort&) = default;
};

// What a COMn stands for: the device to open, or why there is none.
struct PortTarget {
    QString device;
    QString reason;  // set when device is empty
    bool found() const { return !device.isEmpty(); }
};

// "ttyUSB2" before "ttyUSB10": runs of digits compare by their value.
bool naturalLess(const QString& a, const QString& b);

// The order of the automatic map: ttyUSB*, then ttyACM*, then the others,
// each group in natural order of the name.
QList<SystemPort> orderForComPorts(QList<SystemPort> ports);

// The map itself, without reading the environment or the system: explicit
// holds QUORVID_COM1 .. QUORVID_COM8 in order (an empty entry is unset), ports
// the system's serial ports in any order.
PortTarget mapComPort(int port, const QStringList& explicitPaths, const QList<SystemPort>& ports);

// What COMn stands for on this system, now.
PortTarget resolveComPort(int port);

// Makes device COMn for the rest of this run, exactly as QUORVID_COMn=device
// in the environment does (which turns the explicit map on). For the command
// line; call it before any port is looked up.
void setExplicitComDevice(int port, const QString& device);

// Makes a device that the user names on the command line reachable as a port
// number, the way the explicit map does, and returns that number. Elsewhere
// than on Windows the device becomes COM1 (QUORVID_COM1 of this process, which
// turns the explicit map on), opened as it stands, whether or not the system
// lists it.
// On Windows the name must be a COM name ("COM5", "\\.\COM12"); anything
// else returns 0 with the reason in *error.
int mapDeviceToPort(const QString& device, QString* error);

// The refusal to report for a failed open of device.
CommError openErrorFor(QSerialPort::SerialPortError error, const QString& device);

}  // namespace quorvid
