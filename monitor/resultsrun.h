// quorvid-monitor and the results store: a run stored once its report files
// are written, and --results-init, --sync and --import. The work is store/'s
// (resultsstore.h); this prints what was done and chooses the exit status.
// Standard output keeps the run's own lines: what the store did goes to
// standard error, one line.
#pragma once

#include "options.h"
#include "resultsstore.h"

#include <QString>

#include <functional>
#include <optional>

namespace quorvid::monitor {

using Printer = std::function<void(const QString&)>;

// The store a run of these options goes to (--results, else QUORVID_RESULTS,
// else the default one); nullopt after saying why, before any port is opened.
std::optional<store::StoreAddress> runStore(const Options& options, const Printer& printError);

// Stores the runs whose reports are reportJsons (a station's boards:
// stationName is the station's NAME) and says in a line each what became of
// it. A run the store cannot take waits in the outbox: the run's exit status
// is not the store's business, so nothing is returned.
void deliver(const store::StoreAddress& to, const QStringList& reportJsons, const QString& stationName,
             const Printer& printError);

// --results-init, --sync and --import DIR: 0 done, kCannotRead when the store
// (or DIR) cannot be reached or read, kUsage for a store given wrongly.
int runResultsInit(const Options& options, const Printer& print, const Printer& printError);
int runSync(const Options& options, const Printer& print, const Printer& printError);
int runImport(const Options& options, const Printer& print, const Printer& printError);

}  // namespace quorvid::monitor
