// No control pipe on Windows: its named pipes are no files that echo can write to.
#include "controlpipe.h"

namespace quorvid::sim {

std::unique_ptr<ControlPipe> ControlPipe::create(const QString&, QString* error)
{
    if (error)
        *error = QStringLiteral("--control is not available on Windows; give the settings with --set");
    return nullptr;
}

ControlPipe::~ControlPipe() = default;

}  // namespace quorvid::sim
