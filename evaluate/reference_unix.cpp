#include "reference.h"

#include <QProcess>

namespace quorvid::evaluate {

void setShellCommand(QProcess& process, const QString& command)
{
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments({QStringLiteral("-c"), command});
}

}  // namespace quorvid::evaluate
