// Systems without inotify cannot say when a device is opened.
#include "lineopenwatch.h"

namespace quorvid::sim {

std::unique_ptr<LineOpenWatch> LineOpenWatch::create(const QString&, QString* error)
{
    if (error) *error = QStringLiteral("this system does not tell when the line is opened");
    return nullptr;
}

LineOpenWatch::~LineOpenWatch() = default;

}  // namespace quorvid::sim
