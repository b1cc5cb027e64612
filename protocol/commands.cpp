#include "commands.h"

#include "serialcontrol.h"

namespace quorvid {

std::string_view commandFor(std::string_view control)
{
    if (control == "SelectSpeed") return {};  // a cycle, not one command
    for (const Command& c : kCommands)
        if (c.control == control) return c.text;
    return {};
}

CommResult SendCommand(SerialControl& comm, std::string_view cmd)
{
    for (const char c : cmd) {
        CommResult r = comm.output(QByteArray(1, c));
        if (!r) return r;
    }
    return CommResult::success();
}

SpeedStep nextSpeed(const QString& caption)
{
    if (caption == u"50") return {QString::number(100), "S1"};
    if (caption == u"150") return {QString::number(50), "S0"};
    return {QString::number(150), "S2"};
}

}  // namespace quorvid
