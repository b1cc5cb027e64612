#include "reader.h"

#include "schema.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <set>

namespace quorvid::line {

using store::textRead;

StoreReader::StoreReader(store::StoreAddress address) : m_address(std::move(address)) {}

void StoreReader::forget()
{
    m_readUpTo = 0;
    m_failed.clear();
    m_errors.clear();
    m_rows.reset();
}

bool StoreReader::fail(const QString& why)
{
    m_problem = why;
    forget();  // the store that comes back may be another
    // A connection that failed once is made again at the next look: the
    // server may have restarted, the file may be back.
    m_db.reset();
    return false;
}

bool StoreReader::connect()
{
    if (m_db) return true;
    m_db = std::make_unique<store::Backend>(m_address);
    m_db->setReadOnly();
    if (!m_db->open()) return fail(m_db->problem().why);
    const std::optional<int> version = store::schemaVersion(*m_db);
    if (!version) return fail(m_db->problem().why);
    // Reading only, this program upgrades nothing: --results-init does.
    if (*version != store::kSchemaVersion)
        return fail(*version == 0 ? QStringLiteral("no schema: run quorvid-monitor --results STORE --results-init")
                                  : QStringLiteral("schema version %1, not this program's %2: run quorvid-monitor --results STORE "
                                                   "--results-init with the newer of the two")
                                        .arg(*version)
                                        .arg(store::kSchemaVersion));
    return true;
}

std::optional<std::pair<qint64, qint64>> StoreReader::signature()
{
    // An open SQLite file reads on after it is moved or deleted: the store
    // is where its path says, or away.
    if (m_address.kind == store::StoreAddress::Kind::Sqlite && !QFileInfo::exists(m_address.path)) {
        fail(QStringLiteral("no store at %1").arg(QDir::toNativeSeparators(m_address.path)));
        return std::nullopt;
    }
    if (!connect()) return std::nullopt;
    std::optional<QSqlQuery> q = m_db->exec(QStringLiteral("SELECT COUNT(*), COALESCE(MAX(id), 0) FROM runs"));
    if (!q || !q->next()) {
        fail(m_db->problem().why);
        return std::nullopt;
    }
    return std::pair{q->value(0).toLongLong(), q->value(1).toLongLong()};
}

std::optional<LineData> StoreReader::read(qint64 rowsSince, qint64 firstRowsSince)
{
    if (!connect()) return std::nullopt;
    store::Backend& db = *m_db;
    // One consistent view of the store for every statement below.
    if (!db.exec(db.isPostgresql() ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY") : QStringLiteral("BEGIN"))) {
        fail(db.problem().why);
        return std::nullopt;
    }
    auto failed = [&]() -> std::optional<LineData> {
        const QString why = db.problem().why;
        db.rollback();
        fail(why);
        return std::nullopt;
    };
    LineData data;
    // The texts many runs share (benches, stations, operators, verdicts) held once.
    QSet<QString> shared;
    auto once = [&shared](const QString& text) { return *shared.insert(text); };

    std::optional<QSqlQuery> runs = db.exec(QStringLiteral("SELECT id, run_id, board_id, bench, station, operator, verdict, report_path, "
                                                           "started_utc, failed, rescored_from <> '', %1 FROM runs")
                                                .arg(QLatin1String(store::kRecordingSql)));
    if (!runs) return failed();
    std::vector<QString> recordings, paths;  // by run, as read
    while (runs->next()) {
        recordings.push_back(runs->value(11).toString());
        paths.push_back(runs->value(7).toString());
        LineRun r;
        r.id = runs->value(0).toLongLong();
        r.runId = runs->value(1).toString();
        r.boardId = textRead(runs->value(2).toString());
        r.bench = once(textRead(runs->value(3).toString()));
        r.station = once(textRead(runs->value(4).toString()));
        r.operatorName = once(textRead(runs->value(5).toString()));
        r.verdict = once(runs->value(6).toString());
        r.reportPath = textRead(runs->value(7).toString());
        r.startedUtc = textRead(runs->value(8).toString());
        r.startedMs = utcMs(r.startedUtc).value_or(0);
        r.failed = runs->value(9).toInt();
        r.judgedAgain = runs->value(10).toBool();
        data.runs.push_back(std::move(r));
    }
    runs.reset();
    markCopies(data, recordings, paths);
    recordings = {}, paths = {};
    std::sort(data.runs.begin(), data.runs.end(),
              [](const LineRun& a, const LineRun& b) { return a.startedMs != b.startedMs ? a.startedMs < b.startedMs : a.id < b.id; });
    indexFirstRuns(data);
    QHash<qint64, std::size_t>& place = data.place;
    place.reserve(qsizetype(data.runs.size()));
    for (std::size_t i = 0; i < data.runs.size(); ++i) place.insert(data.runs[i].id, i);

    std::optional<QSqlQuery> keys = db.exec(
        QStringLiteral("SELECT id, key_text, check_name, kind, channel, quantity, unit, reference FROM result_keys ORDER BY id"));
    if (!keys) return failed();
    while (keys->next()) {
        LineKey k;
        k.text = keys->value(1).toString();
        k.key = {textRead(keys->value(2).toString()), keys->value(3).toString(), keys->value(4).toInt(),
                 textRead(keys->value(5).toString()), textRead(keys->value(6).toString()),
                 keys->value(7).isNull() ? std::nullopt : std::optional<double>(keys->value(7).toDouble())};
        data.keyIndex.insert(keys->value(0).toLongLong(), data.keys.size());
        data.keys.push_back(std::move(k));
    }
    keys.reset();

    // Only the runs that failed a result have rows to look at, and only
    // those the longest window can hold.
    // After the first read, only the runs added since (a run's rows are
    // written in one transaction, so a run is read whole or not at all).
    qint64 upTo = 0;
    for (const LineRun& r : data.runs) upTo = std::max(upTo, r.id);
    if (upTo < m_readUpTo) forget();  // fewer rows than before: another store
    // The failed checks and the result rows: those of the runs added since
    // the last read, and, while those held do not reach back to rowsSince
    // yet, those of the earlier runs before the oldest held. The first read
    // takes the first window's alone, so that the first figures come soon;
    // the next reaches back the rest of the way.
    const qint64 from = m_rows ? rowsSince : std::max(rowsSince, firstRowsSince);
    const qint64 heldFrom = m_rows ? m_rowsFrom : from;  // what was read before reaches back to it
    auto startOf = [&](qint64 run) -> std::optional<qint64> {
        const auto at = place.find(run);
        return at == place.end() ? std::nullopt : std::optional<qint64>(data.runs[*at].startedMs);
    };
    auto wanted = [&](qint64 run) {
        const std::optional<qint64> started = startOf(run);
        return started && *started >= from && (run > m_readUpTo || *started < heldFrom);  // else held already
    };
    // The statements bounded by whole days, then exactly by wanted(). (Nothing
    // read yet: no bound on the run's row, which would lead the planner
    // through every run's results.)
    std::vector<std::pair<QString, QVariantList>> ranges = {
        {QStringLiteral("r.started_utc >= ? AND ") + (m_readUpTo > 0 ? QStringLiteral("r.id > ?") : QStringLiteral("? = 0")),
         {utcText(from).left(10), m_readUpTo}}};
    if (heldFrom > from)
        ranges.push_back({QStringLiteral("r.started_utc >= ? AND r.id <= ? AND r.started_utc <= ?"),
                          {utcText(from).left(10), m_readUpTo, utcText(heldFrom + kDayMs).left(10)}});

    QSet<QString> checks;
    for (const auto& f : m_failed) checks.insert(std::get<1>(f));
    // The runs that failed lead (a range of their rows would be read whole).
    for (const auto& [where, values] : ranges) {
        std::optional<QSqlQuery> fails = db.exec(QStringLiteral("SELECT DISTINCT run, check_name, channel FROM results WHERE verdict = 'fail' "
                                                                "AND run IN (SELECT r.id FROM runs r WHERE r.failed > 0 AND %1)")
                                                     .arg(where),
                                                 values);
        if (!fails) return failed();
        while (fails->next())
            if (wanted(fails->value(0).toLongLong()))
                m_failed.emplace_back(fails->value(0).toLongLong(), *checks.insert(textRead(fails->value(1).toString())),
                                      fails->value(2).toInt());
    }
    for (const auto& [run, check, channel] : m_failed)
        if (const auto at = place.find(run); at != place.end()) data.failedChecks.push_back({*at, check, channel});
    data.checksSince = from;

    std::vector<KeyRow> added;
    for (const auto& [where, values] : ranges) {
        std::optional<QSqlQuery> rows = db.exec(
            QStringLiteral("SELECT x.run, x.position, x.key_id, x.passed, x.marginal, x.error, x.limit_value FROM results x JOIN runs r "
                           "ON r.id = x.run WHERE r.rescored_from = '' AND x.key_id IS NOT NULL AND %1")
                .arg(where),
            values);
        if (!rows) return failed();
        while (rows->next()) {
            KeyRow row;
            row.run = rows->value(0).toLongLong();
            if (!wanted(row.run)) continue;
            row.startedMs = *startOf(row.run);
            row.position = rows->value(1).toInt();
            row.keyId = rows->value(2).toLongLong();
            row.passed = rows->value(3).toInt() != 0;
            row.marginal = rows->value(4).toInt() != 0;
            row.hasError = !rows->value(5).isNull(), row.error = rows->value(5).toDouble();
            row.hasLimit = !rows->value(6).isNull(), row.limit = rows->value(6).toDouble();
            added.push_back(row);
        }
    }
    // The rows held are copied only when some come or go (the snapshot
    // before shares them).
    if (!m_rows || !added.empty() || from > m_rowsFrom) {
        auto next = std::make_shared<std::vector<KeyRow>>();
        next->reserve((m_rows ? m_rows->size() : 0) + added.size());
        if (m_rows)
            std::copy_if(m_rows->begin(), m_rows->end(), std::back_inserter(*next), [&](const KeyRow& r) { return r.startedMs >= from; });
        next->insert(next->end(), added.begin(), added.end());
        data.keyRows = std::move(next);
    } else {
        data.keyRows = m_rows;
    }
    data.rowsSince = from;

    // Each key's newest points straight from the index that holds the key
    // and its run; enough more to drop the runs judged again.
    const auto uncounted = std::count_if(data.runs.begin(), data.runs.end(), [](const LineRun& r) { return !r.counts(); });
    const std::size_t kept = kSpcPoints + std::size_t(uncounted);
    std::optional<QSqlQuery> points = db.prepare(
        QStringLiteral("SELECT run, error FROM results WHERE key_id = ? AND error IS NOT NULL AND run > ? ORDER BY run DESC LIMIT ?"));
    if (!points) return failed();
    for (auto it = data.keyIndex.cbegin(); it != data.keyIndex.cend(); ++it) {
        if (!db.execute(*points, {it.key(), m_readUpTo, qint64(kept)})) return failed();
        std::vector<std::pair<qint64, double>> added;
        while (points->next()) added.emplace_back(points->value(0).toLongLong(), points->value(1).toDouble());
        std::vector<std::pair<qint64, double>>& errors = m_errors[it.key()];
        errors.insert(errors.end(), added.rbegin(), added.rend());
        if (errors.size() > kept) errors.erase(errors.begin(), errors.end() - std::ptrdiff_t(kept));
        LineKey& k = data.keys[it.value()];
        for (auto e = errors.rbegin(); e != errors.rend() && k.points.size() < kSpcPoints; ++e)
            if (const auto at = place.find(e->first); at != place.end() && data.runs[*at].counts()) k.points.push_back({*at, e->second});
        std::sort(k.points.begin(), k.points.end(), [](const KeyPoint& a, const KeyPoint& b) { return a.run < b.run; });
    }
    points.reset();
    if (!db.exec(QStringLiteral("COMMIT"))) return failed();
    m_readUpTo = upTo;
    m_rows = data.keyRows;
    m_rowsFrom = from;
    m_rowsWanted = rowsSince;
    return data;
}

}  // namespace quorvid::line
