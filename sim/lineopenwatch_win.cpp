// Windows has no pseudo-terminals, and a serial device cannot say when the far
// side opens it: the replay starts at once.
#include "lineopenwatch.h"

namespace quorvid::sim {

std::unique_ptr<LineOpenWatch> LineOpenWatch::create(const QString&, QString* error)
{
    if (error) *error = QStringLiteral("a serial line cannot tell when it is opened");
    return nullptr;
}

LineOpenWatch::~LineOpenWatch() = default;

}  // namespace quorvid::sim
