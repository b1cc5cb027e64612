#include "schema.h"

#include "history.h"
#include "storerun.h"

#include <QSqlQuery>
#include <QStringList>

#include <vector>

namespace quorvid::store {

namespace {

// The statements of version 1, in order; %1 is the driver's own key column.
QStringList versionOne(bool postgresql)
{
    const QString key = postgresql ? QStringLiteral("BIGSERIAL PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS quorvid_schema (version INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS runs ("
                       "id %1, run_id TEXT NOT NULL UNIQUE, board_id TEXT NOT NULL, port TEXT NOT NULL, "
                       "device TEXT NOT NULL, identification TEXT NOT NULL, operator TEXT NOT NULL, station TEXT NOT NULL, "
                       "plan_name TEXT NOT NULL, plan TEXT NOT NULL, reference_equipment TEXT NOT NULL, "
                       "started_utc TEXT NOT NULL, ended_utc TEXT NOT NULL, verdict TEXT NOT NULL, "
                       "failed INTEGER NOT NULL, marginal INTEGER NOT NULL, aborted TEXT NOT NULL, "
                       "quorvid_version TEXT NOT NULL, report_path TEXT NOT NULL, bytes_sha256 TEXT NOT NULL, "
                       "rescored_from TEXT NOT NULL)")
            .arg(key),
        QStringLiteral("CREATE TABLE IF NOT EXISTS results ("
                       "id %1, run BIGINT NOT NULL REFERENCES runs (id), position INTEGER NOT NULL, "
                       "check_name TEXT NOT NULL, kind TEXT NOT NULL, channel INTEGER NOT NULL, quantity TEXT NOT NULL, "
                       "unit TEXT NOT NULL, reference DOUBLE PRECISION, reading DOUBLE PRECISION, sd DOUBLE PRECISION, "
                       "n INTEGER NOT NULL, error DOUBLE PRECISION, limit_value DOUBLE PRECISION, "
                       "marginal_threshold DOUBLE PRECISION, verdict TEXT NOT NULL, passed INTEGER NOT NULL, "
                       "marginal INTEGER NOT NULL, from_ms BIGINT NOT NULL, to_ms BIGINT NOT NULL, "
                       "message TEXT NOT NULL, source TEXT NOT NULL)")
            .arg(key),
        QStringLiteral("CREATE INDEX IF NOT EXISTS runs_board ON runs (board_id)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS runs_started ON runs (started_utc)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS results_run ON results (run)"),
    };
}

// Version 2: each counted result's key as a number, its error in exact
// millionths (evaluate::ErrorSums) and its run's day, so that the history
// groups and sums the rows in no order at all, from an index holding every
// figure it reads and the day it filters on.
QStringList versionTwo(bool postgresql)
{
    const QString key = postgresql ? QStringLiteral("BIGSERIAL PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS result_keys (id %1, key_text TEXT NOT NULL UNIQUE, check_name TEXT NOT NULL, "
                       "kind TEXT NOT NULL, channel INTEGER NOT NULL, quantity TEXT NOT NULL, unit TEXT NOT NULL, "
                       "reference DOUBLE PRECISION)")
            .arg(key),
        QStringLiteral("ALTER TABLE results ADD COLUMN key_id BIGINT"),
        QStringLiteral("ALTER TABLE results ADD COLUMN error_q BIGINT"),
        QStringLiteral("ALTER TABLE results ADD COLUMN squares_high BIGINT"),
        QStringLiteral("ALTER TABLE results ADD COLUMN squares_low BIGINT"),
        QStringLiteral("ALTER TABLE results ADD COLUMN started_day TEXT"),
    };
}

// Version 3, which bench ran each run: runs stored before name none ("").
QStringList versionThreeBench()
{
    return {
        QStringLiteral("ALTER TABLE runs ADD COLUMN bench TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS runs_bench ON runs (bench, started_utc)"),
    };
}

// Version 3, the results' uncertainties: U and k as the report states them
// and the statement made under the run's rule; older rows keep NULL, their
// uncertainty never having been stated.
QStringList versionThreeUncertainty()
{
    return {
        QStringLiteral("ALTER TABLE results ADD COLUMN uncertainty_u DOUBLE PRECISION"),
        QStringLiteral("ALTER TABLE results ADD COLUMN coverage_k DOUBLE PRECISION"),
        QStringLiteral("ALTER TABLE results ADD COLUMN statement TEXT"),
    };
}

// Version 3 as a whole; each part its own list above.
QStringList versionThree() { return versionThreeBench() + versionThreeUncertainty(); }

// Built after the rows of an older store are given their keys and millionths.
QStringList versionTwoIndexes()
{
    return {
        QStringLiteral("CREATE INDEX IF NOT EXISTS results_key ON results (key_id, run, error_q, squares_high, squares_low, "
                       "error, passed, marginal, limit_value, started_day)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS results_key_error ON results (key_id, error, run)"),
    };
}

// An older store's counted rows given their keys and their errors' millionths,
// each distinct key and error worked out once, by the same code as a run's.
bool fillVersionTwo(Backend& backend)
{
    std::optional<QSqlQuery> keys = backend.exec(QStringLiteral(
        "SELECT DISTINCT check_name, kind, channel, quantity, unit, reference FROM results "
        "WHERE verdict <> 'skipped' AND quantity <> 'aborted'"));
    if (!keys) return false;
    std::vector<QVariantList> found;
    while (keys->next())
        found.push_back({keys->value(0), keys->value(1), keys->value(2), keys->value(3), keys->value(4), keys->value(5)});
    keys.reset();
    for (const QVariantList& k : found)
        if (!resultKeyId(backend, k[0].toString(), k[1].toString(), k[2].toInt(), k[3].toString(), k[4].toString(),
                         k[5].isNull() ? std::nullopt : std::optional<double>(k[5].toDouble())))
            return false;
    // Each row joined to its key and to its error's millionths, one statement
    // each, however many rows. A key's missing reference matches as NaN on
    // PostgreSQL, so the server can hash the join.
    const bool pg = backend.isPostgresql();
    const QString same = pg ? QStringLiteral("COALESCE(results.reference, 'NaN') = COALESCE(k.reference, 'NaN')")
                            : QStringLiteral("results.reference IS k.reference");
    if (!backend.exec(QStringLiteral("UPDATE results SET key_id = k.id FROM result_keys k WHERE results.check_name = k.check_name "
                                     "AND results.kind = k.kind AND results.channel = k.channel AND results.quantity = k.quantity "
                                     "AND results.unit = k.unit AND %1 AND results.verdict <> 'skipped' AND results.quantity <> 'aborted'")
                          .arg(same)))
        return false;
    std::optional<QSqlQuery> errors = backend.exec(QStringLiteral("SELECT DISTINCT error FROM results WHERE error IS NOT NULL"));
    if (!errors) return false;
    std::vector<double> values;
    while (errors->next()) values.push_back(errors->value(0).toDouble());
    errors.reset();
    if (!backend.exec(QStringLiteral("CREATE TEMPORARY TABLE upgrade_millionths (error DOUBLE PRECISION PRIMARY KEY, q BIGINT NOT NULL, "
                                     "high BIGINT NOT NULL, low BIGINT NOT NULL)")))
        return false;
    std::optional<QSqlQuery> insert =
        backend.prepare(QStringLiteral("INSERT INTO upgrade_millionths (error, q, high, low) VALUES (?, ?, ?, ?)"));
    if (!insert) return false;
    for (double e : values) {
        const qint64 q = evaluate::errorMillionths(e);
        if (!backend.execute(*insert, {e, q, evaluate::ErrorSums::squareHigh(q), evaluate::ErrorSums::squareLow(q)})) return false;
    }
    insert.reset();
    return backend.exec(QStringLiteral("UPDATE results SET error_q = m.q, squares_high = m.high, squares_low = m.low "
                                       "FROM upgrade_millionths m WHERE results.error = m.error")) &&
           backend.exec(QStringLiteral("DROP TABLE upgrade_millionths")) &&
           backend.exec(QStringLiteral("UPDATE results SET started_day = substr(r.started_utc, 1, 10) FROM runs r WHERE r.id = results.run"));
}

}  // namespace

std::optional<int> schemaVersion(Backend& backend)
{
    std::optional<QSqlQuery> has = backend.exec(
        backend.isPostgresql()
            ? QStringLiteral("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                             "AND table_name = 'quorvid_schema'")
            : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'quorvid_schema'"));
    if (!has || !has->next()) return std::nullopt;
    if (has->value(0).toInt() == 0) return 0;
    std::optional<QSqlQuery> version = backend.exec(QStringLiteral("SELECT MAX(version) FROM quorvid_schema"));
    if (!version || !version->next()) return std::nullopt;
    return version->value(0).toInt();
}

bool makeSchema(Backend& backend, QString* said)
{
    const std::optional<int> was = schemaVersion(backend);
    if (!was) return false;
    if (*was == kSchemaVersion) {
        if (said) *said = QStringLiteral("already at version %1").arg(kSchemaVersion);
        backend.setSchemaChecked();
        return true;
    }
    if (*was > kSchemaVersion) {
        if (said) *said = QStringLiteral("at version %1, newer than this program's %2: left as it is").arg(*was).arg(kSchemaVersion);
        return false;
    }
    if (!backend.begin()) return false;
    // Each version's statements; an upgrade runs those after the store's.
    // Version 1 is the first.
    QStringList statements;
    if (*was < 1) statements += versionOne(backend.isPostgresql());
    if (*was < 2) statements += versionTwo(backend.isPostgresql());
    if (*was < 3) statements += versionThree();
    for (const QString& statement : statements) {
        if (!backend.exec(statement)) {
            backend.rollback();
            return false;
        }
    }
    if ((*was == 1 && !fillVersionTwo(backend))) {
        backend.rollback();
        return false;
    }
    for (const QString& statement : versionTwoIndexes()) {
        if (!backend.exec(statement)) {
            backend.rollback();
            return false;
        }
    }
    if (!backend.exec(QStringLiteral("DELETE FROM quorvid_schema")) ||
        !backend.exec(QStringLiteral("INSERT INTO quorvid_schema (version) VALUES (?)"), {kSchemaVersion}) || !backend.commit()) {
        backend.rollback();
        return false;
    }
    if (said)
        *said = *was == 0 ? QStringLiteral("created at version %1").arg(kSchemaVersion)
                          : QStringLiteral("upgraded from version %1 to %2").arg(*was).arg(kSchemaVersion);
    backend.setSchemaChecked();
    return true;
}

bool checkSchema(Backend& backend)
{
    if (backend.state() == Backend::State::OpenSchemaChecked) return true;
    std::optional<int> version = schemaVersion(backend);
    if (!version) return false;
    if (*version == kSchemaVersion) {
        backend.setSchemaChecked();
        return true;
    }
    if (!backend.isPostgresql() && *version < kSchemaVersion) return makeSchema(backend, nullptr);
    // Lacking or older, a shared store is made or upgraded by --results-init
    // alone; a newer one is not this program's to write.
    backend.refuse(*version == 0 ? QStringLiteral("no schema: run quorvid-monitor --results STORE --results-init")
                   : *version < kSchemaVersion
                       ? QStringLiteral("schema version %1 is older than this program's %2: run quorvid-monitor --results STORE --results-init")
                             .arg(*version).arg(kSchemaVersion)
                       : QStringLiteral("schema version %1 is newer than this program's %2").arg(*version).arg(kSchemaVersion));
    return false;
}

}  // namespace quorvid::store
