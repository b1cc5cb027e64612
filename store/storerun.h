// A run's rows written through a backend: the one path of deliverRun, --sync
// and --import, and of the tests and benchmarks that store runs directly.
#pragma once

#include "backend.h"
#include "storedreport.h"

#include <functional>
#include <optional>

namespace quorvid::store {

enum class Stored { Added, Present, Failed };

// The run's row in runs, unless its run_id is there already, then its
// results, all in one transaction; Failed with backend.problem(). afterResult,
// when given, hears of each result row written (how many so far) before the
// run commits. With callerTransaction the caller has begun a transaction and
// commits it (a bulk load's many runs in one).
// The id in result_keys of a result the history counts, added when new
// (texts as stored, storedText); nullopt with backend.problem().
std::optional<qint64> resultKeyId(Backend& backend, const QString& check, const QString& kind, int channel, const QString& quantity,
                                  const QString& unit, const std::optional<double>& reference);

Stored storeRun(Backend& backend, const evaluate::StoredReport& report, const QString& jsonPath, const QString& station,
                const std::function<void(int)>& afterResult = {}, bool callerTransaction = false);

}  // namespace quorvid::store
