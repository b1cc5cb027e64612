// The configuration every open for use must carry, whatever the control held
// before: "9600,n,8,1", binary input, events at one byte, 16-byte buffers.
#pragma once

#include "fakeserialcontrol.h"

#include <ostream>

namespace quorvid::test {

inline FakeSerialControl::OpenRecord workingOpen(int port)
{
    return {port, QStringLiteral("9600,n,8,1"), 1, 1, 1, 16, 16};
}

}  // namespace quorvid::test

namespace quorvid {
inline void PrintTo(const FakeSerialControl::OpenRecord& r, std::ostream* os)
{
    *os << "{port " << r.port << ", \"" << r.settings.toStdString() << "\", input mode " << r.inputMode
        << ", thresholds " << r.rThreshold << '/' << r.sThreshold << ", buffers in " << r.inBufferSize
        << " out " << r.outBufferSize << '}';
}
}  // namespace quorvid
