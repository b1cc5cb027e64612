#include "commands.h"

#include "boardstate.h"
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
    const Speed shown = caption == u"50" ? Speed::Fps50 : caption == u"150" ? Speed::Fps150 : Speed::Fps100;
    const Speed next = nextSpeed(shown);
    return {QString::number(framesPerSecond(next)), commandOf(next)};
}

}  // namespace quorvid
