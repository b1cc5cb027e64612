// quorvid-monitor --serve: the line's page and API over a store (line/)
// until Ctrl-C or SIGTERM. This chooses the store and the token, says where
// it listens and ends cleanly; the serving is line/'s.
#pragma once

#include "options.h"

#include <QString>

#include <functional>

namespace quorvid::monitor {

// 0 ended as asked; kUsage for a store or token file given wrongly, or an
// address that cannot be listened on.
int runServe(const Options& options, const std::function<void(const QString&)>& print,
             const std::function<void(const QString&)>& printError);

}  // namespace quorvid::monitor
