// Windows has no pseudo-terminals that a program can open as a COM port.
#include "boardlink.h"

namespace quorvid::sim {

std::unique_ptr<BoardLink> openPseudoTerminalLink(QString*, QString* error)
{
    if (error)
        *error = QStringLiteral("this system has no pseudo-terminals; drive a serial port with --port "
                                "(a null-modem pair such as COM5/COM6)");
    return nullptr;
}

}  // namespace quorvid::sim
