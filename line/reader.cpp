#include "reader.h"

#include "schema.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <set>
#include <tuple>

namespace quorvid::line {

using store::textRead;

namespace {

// Rows asked for by their ids, so many to a statement.
constexpr std::size_t kBatch = 256;

QString placeholders(std::size_t n)
{
    QString out = QStringLiteral("?");
    for (std::size_t i = 1; i < n; ++i) out += QStringLiteral(", ?");
    return out;
}

}  // namespace

StoreReader::StoreReader(store::StoreAddress address) : m_address(std::move(address)) {}

void StoreReader::forget()
{
    m_readUpTo = 0;
    m_failed.clear();
    m_errors.clear();
    m_runs.clear();
    m_place.clear();
    m_firstRun.clear();
    m_days.clear();
    m_copies.clear();
    m_held = false;
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
    // The runs: those read before, and those added since. Runs are only ever
    // added, but on PostgreSQL not always in the order of their rows: a run
    // takes its row when its bench starts writing it and shows when the
    // bench commits, so a run can show under a row below one read before.
    // The count tells: when the runs held and those above fall short of it,
    // the rows below are listed to find the late ones.
    std::optional<QSqlQuery> counted = db.exec(QStringLiteral("SELECT COUNT(*) FROM runs"));
    if (!counted || !counted->next()) return failed();
    const qint64 total = counted->value(0).toLongLong();
    counted.reset();
    std::vector<LineRun> newRuns;
    // The texts many runs share (benches, stations, operators, verdicts) held once.
    auto shared = [this](const QString& text) { return *m_texts.insert(text); };
    auto readRuns = [&](const QString& where, const QVariantList& values) {
        std::optional<QSqlQuery> runs = db.exec(QStringLiteral("SELECT id, run_id, board_id, bench, station, operator, verdict, report_path, "
                                                               "started_utc, failed, rescored_from <> '', %1 FROM runs WHERE %2")
                                                    .arg(QLatin1String(store::kRecordingSql), where),
                                                values);
        if (!runs) return false;
        while (runs->next()) {
            LineRun r;
            r.id = runs->value(0).toLongLong();
            r.runId = runs->value(1).toString();
            r.boardId = textRead(runs->value(2).toString());
            r.bench = shared(textRead(runs->value(3).toString()));
            r.station = shared(textRead(runs->value(4).toString()));
            r.operatorName = shared(textRead(runs->value(5).toString()));
            r.verdict = shared(runs->value(6).toString());
            r.storedPath = runs->value(7).toString();
            r.reportPath = textRead(r.storedPath);
            r.startedUtc = textRead(runs->value(8).toString());
            r.startedMs = utcMs(r.startedUtc).value_or(0);
            r.failed = runs->value(9).toInt();
            r.judgedAgain = runs->value(10).toBool();
            r.recording = runs->value(11).toString();
            newRuns.push_back(std::move(r));
        }
        return true;
    };
    if (!readRuns(QStringLiteral("id > ?"), {m_readUpTo})) return failed();
    if (m_runs.size() + newRuns.size() > std::size_t(total)) {
        // Fewer runs than were read: another store. All of it afresh.
        forget();
        newRuns.clear();
        if (!readRuns(QStringLiteral("id > ?"), {m_readUpTo})) return failed();
    }
    std::vector<qint64> late;  // rows below the largest read before
    if (m_runs.size() + newRuns.size() < std::size_t(total)) {
        QSet<qint64> held;
        held.reserve(qsizetype(m_runs.size()));
        for (const LineRun& r : m_runs) held.insert(r.id);
        std::optional<QSqlQuery> ids = db.exec(QStringLiteral("SELECT id FROM runs WHERE id <= ?"), {m_readUpTo});
        if (!ids) return failed();
        while (ids->next())
            if (!held.contains(ids->value(0).toLongLong())) late.push_back(ids->value(0).toLongLong());
        ids.reset();
        for (std::size_t from = 0; from < late.size(); from += kBatch) {
            const std::size_t n = std::min(kBatch, late.size() - from);
            if (!readRuns(QStringLiteral("id IN (%1)").arg(placeholders(n)),
                          QVariantList(late.begin() + qsizetype(from), late.begin() + qsizetype(from + n))))
                return failed();
        }
    }
    QSet<qint64> fresh;  // the runs not read before
    for (const LineRun& r : newRuns) fresh.insert(r.id);
    qint64 upTo = m_readUpTo;
    for (const LineRun& r : newRuns) upTo = std::max(upTo, r.id);

    LineData data;
    QHash<qint64, std::size_t>& place = data.place;
    if (newRuns.empty()) {
        data.runs = m_runs;
        data.place = m_place;
        data.firstRun = m_firstRun;
    } else {
        // In order by their starts alone, each run moved once: a run is large.
        std::vector<std::tuple<qint64, qint64, std::size_t>> order;  // started, row, index into newRuns
        order.reserve(newRuns.size());
        for (std::size_t i = 0; i < newRuns.size(); ++i) order.emplace_back(newRuns[i].startedMs, newRuns[i].id, i);
        std::sort(order.begin(), order.end());
        auto before = [](const LineRun& held, const std::tuple<qint64, qint64, std::size_t>& next) {
            return std::pair(held.startedMs, held.id) < std::pair(std::get<0>(next), std::get<1>(next));
        };
        data.runs.reserve(m_runs.size() + newRuns.size());
        auto held = m_runs.cbegin();
        for (const auto& next : order) {
            for (; held != m_runs.cend() && before(*held, next); ++held) data.runs.push_back(*held);
            data.runs.push_back(std::move(newRuns[std::get<2>(next)]));
        }
        data.runs.insert(data.runs.end(), held, m_runs.cend());
        // A new run may make one held a copy, or stop it being one.
        markCopies(data);
        indexFirstRuns(data);
        place.reserve(qsizetype(data.runs.size()));
        for (std::size_t i = 0; i < data.runs.size(); ++i) place.insert(data.runs[i].id, i);
    }
    newRuns = {};

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

    // The failed checks and the result rows: those of the runs added since
    // the last read (a run's rows are written in one transaction, so a run
    // is read whole or not at all), and, while those held do not reach back
    // to rowsSince yet, those of the earlier runs before the oldest held;
    // only the runs that failed a result have failed checks. The first read
    // takes the first window's alone, so that the first figures come soon;
    // each next one reaches back a part more, at most partRuns() runs of
    // whole days, so that no look keeps a new snapshot waiting long.
    const qint64 heldFrom = m_held ? m_rowsFrom : std::max(rowsSince, firstRowsSince);  // what was read before reaches back to it
    qint64 from = std::max(rowsSince, heldFrom);
    if (m_held && heldFrom > rowsSince) {
        const auto held = std::lower_bound(data.runs.begin(), data.runs.end(), heldFrom,
                                           [](const LineRun& r, qint64 t) { return r.startedMs < t; });
        const std::ptrdiff_t earlier = held - data.runs.begin();
        if (earlier > m_partRuns) {
            const qint64 t = held[-m_partRuns].startedMs;
            from = std::max(rowsSince, t - t % kDayMs);
        } else {
            from = rowsSince;
        }
    }
    auto startOf = [&](qint64 run) -> std::optional<qint64> {
        const auto at = place.find(run);
        return at == place.end() ? std::nullopt : std::optional<qint64>(data.runs[*at].startedMs);
    };
    // The statements bounded by whole days, then exactly by wanted(). (Nothing read yet: no bound on the run's row, which
    // would lead the planner through every run's results.)
    struct Range {
        QString where;
        QVariantList values;
        qint64 startedFrom;
    };
    std::vector<Range> ranges;
    if (upTo > m_readUpTo || !m_held)
        ranges.push_back({QStringLiteral("r.started_utc >= ? AND ") + (m_readUpTo > 0 ? QStringLiteral("r.id > ?") : QStringLiteral("? = 0")),
                          {utcText(from).left(10), m_readUpTo}, from});
    if (heldFrom > from)
        ranges.push_back({QStringLiteral("r.started_utc >= ? AND r.id <= ? AND r.started_utc <= ?"),
                          {utcText(from).left(10), m_readUpTo, utcText(heldFrom + kDayMs).left(10)}, from});
    // The late runs; those before heldFrom came with the range above.
    for (std::size_t at = 0; at < late.size(); at += kBatch) {
        const std::size_t n = std::min(kBatch, late.size() - at);
        ranges.push_back({QStringLiteral("r.id IN (%1)").arg(placeholders(n)),
                          QVariantList(late.begin() + qsizetype(at), late.begin() + qsizetype(at + n)), std::max(from, heldFrom)});
    }
    // A run's start when its rows are wanted from that range: not held already, nor read by another range.
    auto wanted = [&](const Range& range, qint64 run) -> std::optional<qint64> {
        const std::optional<qint64> started = startOf(run);
        if (!started || *started < range.startedFrom || !(fresh.contains(run) || *started < heldFrom)) return std::nullopt;
        return started;
    };

    QSet<QString> checks;
    for (const auto& f : m_failed) checks.insert(std::get<1>(f));
    // The runs that failed lead (a range of their rows would be read whole).
    for (const Range& range : ranges) {
        std::optional<QSqlQuery> fails = db.exec(QStringLiteral("SELECT DISTINCT run, check_name, channel FROM results WHERE verdict = 'fail' "
                                                                "AND run IN (SELECT r.id FROM runs r WHERE r.failed > 0 AND %1)")
                                                     .arg(range.where),
                                                 range.values);
        if (!fails) return failed();
        while (fails->next())
            if (wanted(range, fails->value(0).toLongLong()))
                m_failed.emplace_back(fails->value(0).toLongLong(), *checks.insert(textRead(fails->value(1).toString())),
                                      fails->value(2).toInt());
    }
    for (const auto& [run, check, channel] : m_failed)
        if (const auto at = place.find(run); at != place.end()) data.failedChecks.push_back({*at, check, channel});
    data.checksSince = from;

    std::vector<KeyRow> added;
    for (const Range& range : ranges) {
        std::optional<QSqlQuery> rows = db.exec(
            QStringLiteral("SELECT x.run, x.position, x.key_id, x.passed, x.marginal, x.error, x.limit_value FROM results x JOIN runs r "
                           "ON r.id = x.run WHERE r.rescored_from = '' AND x.key_id IS NOT NULL AND %1")
                .arg(range.where),
            range.values);
        if (!rows) return failed();
        while (rows->next()) {
            KeyRow row;
            row.run = rows->value(0).toLongLong();
            const std::optional<qint64> started = wanted(range, row.run);
            if (!started) continue;
            row.startedMs = *started;
            row.position = rows->value(1).toInt();
            row.keyId = rows->value(2).toLongLong();
            row.passed = rows->value(3).toInt() != 0;
            row.marginal = rows->value(4).toInt() != 0;
            row.hasError = !rows->value(5).isNull(), row.error = rows->value(5).toDouble();
            row.hasLimit = !rows->value(6).isNull(), row.limit = rows->value(6).toDouble();
            added.push_back(row);
        }
    }
    // A day is made anew only when rows come to it or leave it, or a run of
    // it becomes a copy or stops being one (the snapshot before shares the
    // others).
    QSet<qint64> copies;
    for (const LineRun& r : data.runs)
        if (r.copy) copies.insert(r.id);
    auto dayOf = [](qint64 ms) { return ms - ms % kDayMs; };
    std::map<qint64, std::vector<KeyRow>> addedTo;
    for (const KeyRow& row : added) addedTo[dayOf(row.startedMs)].push_back(row);
    std::set<qint64> changed;
    for (const auto& [day, rows] : addedTo) changed.insert(day);
    for (const QSet<qint64>* set : {&copies, &m_copies})
        for (qint64 run : *set)
            if (copies.contains(run) != m_copies.contains(run))
                if (const std::optional<qint64> started = startOf(run)) changed.insert(dayOf(*started));
    HeldDays days = m_days;
    for (auto day = days.begin(); day != days.end() && day->first < from;)
        if (day->first + kDayMs <= from) day = days.erase(day);
        else changed.insert(day++->first);
    for (qint64 day : changed) {
        std::vector<KeyRow> rows;
        if (const auto held = days.find(day); held != days.end())
            std::copy_if(held->second->rows.begin(), held->second->rows.end(), std::back_inserter(rows),
                         [from](const KeyRow& r) { return r.startedMs >= from; });
        if (const auto more = addedTo.find(day); more != addedTo.end()) rows.insert(rows.end(), more->second.begin(), more->second.end());
        if (rows.empty()) days.erase(day);
        else days[day] = heldDay(std::move(rows), copies);
    }
    data.days = days;
    data.rowsSince = from;

    // Each key's newest points straight from the index that holds the key
    // and its run; enough more to drop the runs judged again.
    const auto uncounted = std::count_if(data.runs.begin(), data.runs.end(), [](const LineRun& r) { return !r.counts(); });
    const std::size_t kept = kSpcPoints + std::size_t(uncounted);
    // The late runs' errors go among those held, in the order of their rows.
    std::set<qint64> resorted;
    for (std::size_t at = 0; at < late.size(); at += kBatch) {
        const std::size_t n = std::min(kBatch, late.size() - at);
        std::optional<QSqlQuery> errors =
            db.exec(QStringLiteral("SELECT key_id, run, error FROM results WHERE key_id IS NOT NULL AND error IS NOT NULL AND run IN (%1)")
                        .arg(placeholders(n)),
                    QVariantList(late.begin() + qsizetype(at), late.begin() + qsizetype(at + n)));
        if (!errors) return failed();
        while (errors->next()) {
            const qint64 key = errors->value(0).toLongLong();
            m_errors[key].emplace_back(errors->value(1).toLongLong(), errors->value(2).toDouble());
            resorted.insert(key);
        }
    }
    for (qint64 key : resorted) std::sort(m_errors[key].begin(), m_errors[key].end());
    std::optional<QSqlQuery> points = db.prepare(
        QStringLiteral("SELECT run, error FROM results WHERE key_id = ? AND error IS NOT NULL AND run > ? ORDER BY run DESC LIMIT ?"));
    if (!points) return failed();
    for (auto it = data.keyIndex.cbegin(); it != data.keyIndex.cend(); ++it) {
        std::vector<std::pair<qint64, double>>& errors = m_errors[it.key()];
        if (upTo > m_readUpTo) {
            if (!db.execute(*points, {it.key(), m_readUpTo, qint64(kept)})) return failed();
            std::vector<std::pair<qint64, double>> added;
            while (points->next()) added.emplace_back(points->value(0).toLongLong(), points->value(1).toDouble());
            errors.insert(errors.end(), added.rbegin(), added.rend());
        }
        if (errors.size() > kept) errors.erase(errors.begin(), errors.end() - std::ptrdiff_t(kept));
        LineKey& k = data.keys[it.value()];
        for (auto e = errors.rbegin(); e != errors.rend() && k.points.size() < kSpcPoints; ++e)
            if (const auto at = place.find(e->first); at != place.end() && data.runs[*at].counts()) k.points.push_back({*at, e->second});
        std::sort(k.points.begin(), k.points.end(), [](const KeyPoint& a, const KeyPoint& b) { return a.run < b.run; });
    }
    points.reset();
    if (!db.exec(QStringLiteral("COMMIT"))) return failed();
    m_readUpTo = upTo;
    if (!fresh.isEmpty()) {
        m_runs = data.runs;
        m_place = data.place;
        m_firstRun = data.firstRun;
    }
    m_days = std::move(days);
    m_copies = std::move(copies);
    m_held = true;
    m_rowsFrom = from;
    m_rowsWanted = rowsSince;
    return data;
}

}  // namespace quorvid::line
