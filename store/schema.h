// The store's tables. Version 1: quorvid_schema (its version), runs (a row per
// run, run_id unique) and results (a row per result of a run). Version 2:
// result_keys (a row per result the history counts, by its key's text) and,
// in results, that key's id and the error in millionths with its square's
// parts (evaluate::ErrorSums), indexed by key. Version 3: in runs, the bench
// that ran it (empty for runs stored before); in results, each
// result's expanded uncertainty U, its coverage factor k and its statement
// under the run's decision rule (NULL where not stated). Only
// makeSchema changes them: a bench writing runs needs SELECT and INSERT on the
// tables and USAGE on their sequences, nothing more.
#pragma once

#include "backend.h"

#include <optional>

namespace quorvid::store {

inline constexpr int kSchemaVersion = 3;

// The store's schema version, 0 when it has none; nullopt with the backend's
// problem when it cannot be read.
std::optional<int> schemaVersion(Backend& backend);

// Creates the schema or upgrades an older one; *said tells which.
bool makeSchema(Backend& backend, QString* said);

// Before a write or a read: a SQLite store makes its schema on first use; a
// PostgreSQL one without it refuses ("no schema: run quorvid-monitor
// --results STORE --results-init").
bool checkSchema(Backend& backend);

}  // namespace quorvid::store
