// How a port that would not open, or went away, is put to the user: the same
// words in the window's message boxes and on the terminal monitor's standard
// error. Each function gives one paragraph; the window sets them apart with
// blank lines, the monitor puts them on one line.
#pragma once

#include <QString>

namespace quorvid {

class SerialControl;

// "COM2 (/dev/ttyUSB1)", or "COM2" alone where the device is the system's
// COM2 or there is none.
QString portWithDevice(const SerialControl& comm, int port);

// "COM2 could not be opened." The control's refusal (port, device and the
// system's reason) follows it.
QString openRefusedText(int port);

// "No port among COM1 to COM8 could be opened, so no board is connected."
QString noPortOpenedText();

// What the start-up probe tried, for the message after noPortOpenedText():
// "Tried: COM1 (/dev/ttyUSB0), COM2 (/dev/ttyUSB1). A device may be ...",
// "The system reports no serial device.", or empty where COMn is the
// system's own name and there is nothing to add.
QString triedDevicesText(const SerialControl& comm);

// "The connection on COM1 was lost and the port has been closed." The
// control's reason follows it.
QString portLostText(int port);

}  // namespace quorvid
