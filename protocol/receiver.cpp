#include "receiver.h"

#include "serialcontrol.h"

namespace quorvid {

bool MSComm1_OnComm(SerialControl& comm, Framer& framer)
{
    if (comm.commEvent() != CommEvent::Receive) return false;
    bool stored = false;
    while (comm.inBufferCount() > 0) {
        const QByteArray block = comm.input();
        if (block.isEmpty()) break;  // a control that reports bytes it cannot hand over
        stored |= framer.feed(Bytes(reinterpret_cast<const Byte*>(block.constData()),
                                    static_cast<std::size_t>(block.size())));
    }
    return stored;
}

}  // namespace quorvid
