#include "reference.h"

#include <QProcess>

namespace quorvid::evaluate {

// cmd.exe parses its own command line: the command goes to it as typed.
void setShellCommand(QProcess& process, const QString& command)
{
    process.setProgram(QStringLiteral("cmd.exe"));
    process.setNativeArguments(QStringLiteral("/c ") + command);
}

}  // namespace quorvid::evaluate
