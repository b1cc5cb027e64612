// Opening the serial port for use, switching it from the Port menu, and the
// start-up probe that finds out which ports can be opened.
#pragma once

#include "portmenu.h"
#include "serialcontrol.h"

#include <QStringList>

#include <cstdint>

namespace quorvid {

// Clears the check marks of COM1 .. COM8, in that order.
void UncheckPorts(PortMenu& menu);

// Closes the open port, writes the whole line configuration and opens port n;
// on success the item of n (1..8) carries the only check mark. Stops at the
// first refused step and returns it: the port is then closed and no item is
// checked, unless the old port could not be closed at all, in which case it
// stays open and checked. Port 0 is refused at the port number.
[[nodiscard]] CommResult OpenPort(SerialControl& comm, PortMenu& menu, std::uint8_t n);

// Tries COM1 .. COM8 with the configuration the control holds: opens and
// closes each, disables the item of every port for which a step is refused,
// and returns the first port that opened, 0 when none did. Absorbs every
// refusal, but hands each refused open's reason to refusals when given one;
// leaves the port closed.
std::uint8_t FindPort(SerialControl& comm, PortMenu& menu, QStringList* refusals = nullptr);

}  // namespace quorvid
