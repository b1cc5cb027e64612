#include "portlink.h"

#include "portnames.h"

namespace quorvid {

void UncheckPorts(PortMenu& menu)
{
    for (int port = 1; port <= kMenuPorts; ++port) menu.setPortChecked(port, false);
}

CommResult OpenPort(SerialControl& comm, PortMenu& menu, std::uint8_t n)
{
    CommResult closed = CommResult::success();
    if (comm.portOpen()) closed = comm.setPortOpen(false);
    // A close that failed without letting go of the port leaves the old port
    // in use: its check mark stays true to what is open.
    if (comm.portOpen()) return closed;
    UncheckPorts(menu);
    if (!closed) return closed;

    if (auto r = comm.setCommPort(n); !r) return r;
    if (auto r = comm.setSettings(QStringLiteral("9600,n,8,1")); !r) return r;
    if (auto r = comm.setInputMode(1); !r) return r;
    if (auto r = comm.setRThreshold(1); !r) return r;
    if (auto r = comm.setSThreshold(1); !r) return r;
    if (auto r = comm.setOutBufferSize(16); !r) return r;
    if (auto r = comm.setInBufferSize(16); !r) return r;
    if (auto r = comm.setPortOpen(true); !r) return r;

    if (n >= 1 && n <= kMenuPorts) menu.setPortChecked(n, true);
    return CommResult::success();
}

std::uint8_t FindPort(SerialControl& comm, PortMenu& menu, QStringList* refusals)
{
    std::uint8_t recorded = 0;
    for (std::uint8_t i = 1; i <= kMenuPorts; ++i) {
        // Every refused step disables the item and the pass goes on with the
        // next step, so that each port that opens is also closed again.
        if (!comm.setCommPort(i)) menu.setPortEnabled(i, false);
        const CommResult open = comm.setPortOpen(true);
        const bool opened = open.ok();
        if (!opened) {
            menu.setPortEnabled(i, false);
            if (refusals) refusals->append(open.reason.isEmpty() ? commErrorName(open.error) : open.reason);
        }
        // Only an open of this pass counts: a port still open from an
        // earlier pass is not port i.
        if (recorded == 0 && opened && comm.portOpen()) recorded = i;
        if (!comm.setPortOpen(false)) menu.setPortEnabled(i, false);
    }
    // The control gives up the port even when the system reports a failed
    // close; should one ever hold on, try once more so the probe ends closed.
    if (comm.portOpen()) (void)comm.setPortOpen(false);
    return recorded;
}

}  // namespace quorvid
