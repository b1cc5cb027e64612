// The receive event of the serial control: drains every waiting byte into the
// framer.
#pragma once

#include "framer.h"

namespace quorvid {

class SerialControl;

// Only a receive event reads anything; every other event (errors, line state,
// transmit) is ignored. Bytes that arrive while a block is being cut into
// frames are read in the same event. Returns true when a slot was stored.
bool MSComm1_OnComm(SerialControl& comm, Framer& framer);

}  // namespace quorvid
