// --history STORE: the runs read from the store, and the statistics of each
// result across them computed in SQL (grouped, never every result row
// fetched), the same figures by the same code as evaluate/history.cpp works
// out over a folder's reports: the errors summed in exact millionths
// (evaluate::ErrorSums), so in no order, by a plain GROUP BY on the key's id
// read from an index; what depends on the runs' order (the first run to
// give a result, the latest limit, the worst board among equals) is taken
// from the few rows that decide it. A recording stored under two reports (a
// run judged again) counts once: the other report's rows are taken back out
// of the sums, exactly, rather than every row grouped again over the runs
// that count.
#include "resultsstore.h"

#include "backend.h"
#include "schema.h"

#include <QHash>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <set>

namespace quorvid::store {

namespace {

// The runs counted, as a folder counts them: a recording stored under several
// reports (a run judged again) counts once, by its own report before a
// judgement of it again, then by the first path; then the request's board and
// day. Ranked oldest first. Two values bound twice each: the board, the day.
QString keptRuns(bool postgresql)
{
    // Paths and times compare as the folder compares them, character by
    // character, not in the server's language.
    const QString c = postgresql ? QStringLiteral(" COLLATE \"C\"") : QString();
    return QStringLiteral(
               "WITH ranked AS (SELECT id, ROW_NUMBER() OVER (PARTITION BY %2 "
               "ORDER BY CASE WHEN rescored_from = '' THEN 0 ELSE 1 END, report_path%1) AS copy FROM runs), "
               "kept AS (SELECT r.id, r.board_id, ROW_NUMBER() OVER (ORDER BY r.started_utc%1, r.report_path%1) AS place "
               "FROM ranked k JOIN runs r ON r.id = k.id WHERE k.copy = 1 AND (? = '' OR r.board_id = ?) "
               "AND (? = '' OR substr(r.started_utc, 1, 10) >= ?)) ")
        .arg(c, QLatin1String(kRecordingSql));
}

std::optional<double> number(const QVariant& v) { return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble()); }

// A statement's list of bound places: "?, ?, ?".
QString places(std::size_t n)
{
    QString out;
    for (std::size_t i = 0; i < n; ++i) out += i ? QStringLiteral(", ?") : QStringLiteral("?");
    return out;
}

// A result's row by the order the folder reads them: its run's place, then
// its place in the run.
struct Seq {
    qint64 place = 0, position = 0;
    friend auto operator<=>(const Seq&, const Seq&) = default;
};

constexpr std::size_t kBatch = 256;

struct Group {
    evaluate::ResultStats stats;
    evaluate::ErrorSums sums;
    double worst = 0;
    qint64 limits = 0;
    Seq first{std::numeric_limits<qint64>::max(), 0}, lastLimit{0, -1};
    bool haveFirst = false;
};

struct Grouped {
    std::map<qint64, Group> groups;  // by key id
    qint64 runs = 0;                 // the runs in the store
    QString why;                     // what stopped it
};

// Key ids from, to (to excluded).
struct KeyRange {
    qint64 from = std::numeric_limits<qint64>::min(), to = std::numeric_limits<qint64>::max();
};

// Each counted result's figures grouped by its key, of the keys in range:
// over every row when kept and since are empty; over the rows of runs started
// on since or after when kept is empty (a row holds its run's day); else over
// the kept runs' (filter bound to kept). Read on a connection of its own, so
// on any thread.
Grouped groupedFigures(const StoreAddress& store, const QString& kept, const QVariantList& filter, const QString& since = {},
                       KeyRange range = {})
{
    Grouped out;
    Backend db(store);
    if (!db.open() || !checkSchema(db)) {
        out.why = db.problem().why;
        return out;
    }
    // Compiling the one grouping costs the server more than it saves.
    if (!db.exec(db.isPostgresql() ? QStringLiteral("SET jit = off") : QStringLiteral("PRAGMA mmap_size = 17179869184"))) {
        out.why = db.problem().why;
        return out;
    }
    std::optional<QSqlQuery> all = db.exec(QStringLiteral("SELECT COUNT(*) FROM runs"));
    if (!all || !all->next()) {
        out.why = db.problem().why;
        return out;
    }
    out.runs = all->value(0).toLongLong();
    all.reset();
    // Over every row, a key's least and greatest error are the ends of its
    // range of the index on key and error, read after; over some runs, here.
    const bool everyRow = kept.isEmpty() && since.isEmpty();
    std::optional<QSqlQuery> stats = db.exec(
        kept + QStringLiteral("SELECT x.key_id, COUNT(*), SUM(x.passed), SUM(x.marginal), COUNT(x.error_q), CAST(SUM(x.error_q) AS BIGINT), "
                              "CAST(SUM(x.squares_high) AS BIGINT), CAST(SUM(x.squares_low) AS BIGINT), COUNT(x.limit_value)%1 "
                              "FROM results x WHERE x.key_id >= ? AND x.key_id < ?%2 GROUP BY x.key_id")
                   .arg(everyRow ? QString() : QStringLiteral(", MIN(x.error), MAX(x.error)"),
                        !kept.isEmpty()   ? QStringLiteral(" AND x.run IN (SELECT id FROM kept)")
                        : since.isEmpty() ? QString()
                        : db.isPostgresql() ? QStringLiteral(" AND x.started_day COLLATE \"C\" >= ?")
                                            : QStringLiteral(" AND x.started_day >= ?")),
        (!kept.isEmpty() ? filter : QVariantList{}) + QVariantList{range.from, range.to} +
            (kept.isEmpty() && !since.isEmpty() ? QVariantList{since} : QVariantList{}));
    if (!stats) {
        out.why = db.problem().why;
        return out;
    }
    while (stats->next()) {
        Group& g = out.groups[stats->value(0).toLongLong()];
        g.stats.n = stats->value(1).toInt();
        g.stats.passed = stats->value(2).toInt();
        g.stats.marginal = stats->value(3).toInt();
        g.sums.count = stats->value(4).toLongLong();
        g.sums.sum = stats->value(5).toLongLong();
        g.sums.squaresHigh = stats->value(6).toLongLong();
        g.sums.squaresLow = stats->value(7).toLongLong();
        g.stats.figures = int(g.sums.count);
        g.limits = stats->value(8).toLongLong();
        if (g.sums.count > 0 && !everyRow) g.stats.minError = number(stats->value(9)), g.stats.maxError = number(stats->value(10));
    }
    stats.reset();
    for (auto& [key, g] : out.groups) {
        if (g.sums.count == 0) continue;
        if (everyRow) {
            for (const bool least : {true, false}) {
                std::optional<QSqlQuery> end = db.exec(
                    QStringLiteral("SELECT %1(error) FROM results WHERE key_id = ?").arg(least ? QStringLiteral("MIN") : QStringLiteral("MAX")),
                    {key});
                if (!end || !end->next()) {
                    out.why = db.problem().why;
                    return out;
                }
                (least ? g.stats.minError : g.stats.maxError) = number(end->value(0));
            }
        }
    }
    return out;
}

// Takes the rows of the copies' runs out of the figures grouped over every
// row. A least or greatest error that one of them held is read again from the
// key's index, from that end, up to the first row of a counted run.
bool withoutCopies(Backend& db, const std::vector<qint64>& copies, std::map<qint64, Group>& groups, const QHash<qint64, qint64>& placeOf)
{
    std::set<std::pair<qint64, bool>> ends;  // (key, least) to read again
    for (std::size_t from = 0; from < copies.size(); from += kBatch) {
        const std::size_t n = std::min(kBatch, copies.size() - from);
        std::optional<QSqlQuery> rows = db.exec(
            QStringLiteral("SELECT key_id, passed, marginal, error_q, squares_high, squares_low, limit_value, error FROM results "
                           "WHERE run IN (%1) AND key_id IS NOT NULL")
                .arg(places(n)),
            QVariantList(copies.begin() + qsizetype(from), copies.begin() + qsizetype(from + n)));
        if (!rows) return false;
        while (rows->next()) {
            const auto found = groups.find(rows->value(0).toLongLong());
            if (found == groups.end()) continue;
            Group& g = found->second;
            --g.stats.n;
            g.stats.passed -= rows->value(1).toInt();
            g.stats.marginal -= rows->value(2).toInt();
            g.limits -= !rows->value(6).isNull();
            if (rows->value(3).isNull()) continue;
            --g.sums.count, --g.stats.figures;
            g.sums.sum -= rows->value(3).toLongLong();
            g.sums.squaresHigh -= rows->value(4).toLongLong();
            g.sums.squaresLow -= rows->value(5).toLongLong();
            const double error = rows->value(7).toDouble();
            if (error == g.stats.minError) ends.insert({found->first, true});
            if (error == g.stats.maxError) ends.insert({found->first, false});
        }
    }
    for (auto g = groups.begin(); g != groups.end();)
        g = g->second.stats.n > 0 ? std::next(g) : groups.erase(g);
    for (const auto& [key, least] : ends) {
        const auto g = groups.find(key);
        if (g == groups.end()) continue;
        std::optional<double>& end = least ? g->second.stats.minError : g->second.stats.maxError;
        end.reset();
        if (g->second.sums.count == 0) continue;
        // Rows in order from that end, more each time, until a counted run's.
        for (qint64 limit = 64; !end; limit *= 4) {
            std::optional<QSqlQuery> rows =
                db.exec(QStringLiteral("SELECT run, error FROM results WHERE key_id = ? AND error IS NOT NULL ORDER BY error %1 LIMIT ?")
                            .arg(least ? QStringLiteral("ASC") : QStringLiteral("DESC")),
                        {key, limit});
            if (!rows) return false;
            qint64 seen = 0;
            while (!end && rows->next()) {
                ++seen;
                if (placeOf.contains(rows->value(0).toLongLong())) end = rows->value(1).toDouble();
            }
            if (seen < limit) break;
        }
    }
    return true;
}

}  // namespace

bool countedBefore(bool judgedAgain, const QString& path, bool otherJudgedAgain, const QString& otherPath)
{
    return judgedAgain != otherJudgedAgain ? !judgedAgain : path < otherPath;
}

std::optional<evaluate::History> readStoreHistory(const StoreAddress& store, const evaluate::HistoryRequest& request, QString* error)
{
    auto failed = [&](const QString& why) -> std::optional<evaluate::History> {
        if (error) *error = QStringLiteral("Results store %1 cannot be read: %2").arg(store.display(), why);
        return std::nullopt;
    };
    if (store.kind == StoreAddress::Kind::None) return failed(QStringLiteral("the store is none"));
    Backend db(store);
    if (!db.open() || !checkSchema(db)) return failed(db.problem().why);
    // A SQLite store read through the memory the system maps, not copied
    // page by page into the connection's small cache.
    if (!db.isPostgresql() && !db.exec(QStringLiteral("PRAGMA mmap_size = 17179869184"))) return failed(db.problem().why);

    evaluate::History h;
    h.request = request;
    h.request.dir = store.display();
    const QString board = storedText(request.boardId);
    const QString since = request.since ? request.since->toString(Qt::ISODate) : QString();
    const QVariantList filter{board, board, since, since};
    const QString kept = keptRuns(db.isPostgresql());

    // The grouped figures on connections of their own, while this one reads
    // the runs: every row, or those of runs from a day, unless a board is
    // asked for. SQLite groups in the program: half the keys each on two
    // connections; PostgreSQL's server scans in parallel itself.
    std::vector<KeyRange> ranges(1);
    if (!db.isPostgresql() && board.isEmpty()) {
        std::optional<QSqlQuery> keys = db.exec(QStringLiteral("SELECT id FROM result_keys ORDER BY id"));
        if (!keys) return failed(db.problem().why);
        std::vector<qint64> ids;
        while (keys->next()) ids.push_back(keys->value(0).toLongLong());
        if (ids.size() >= 2) ranges = {{KeyRange{}.from, ids[ids.size() / 2]}, {ids[ids.size() / 2], KeyRange{}.to}};
    }
    // On Windows a PostgreSQL grouping waits for this connection's reading
    // rather than running beside it: a thread that has used libpq crashed
    // now and then as it ended there (seen under Wine), and the server
    // scans in parallel anyway.
#ifdef Q_OS_WIN
    const auto launch = db.isPostgresql() ? std::launch::deferred : std::launch::async;
#else
    const auto launch = std::launch::async;
#endif
    std::vector<std::future<Grouped>> figures;
    for (const KeyRange& range : ranges)
        figures.push_back(std::async(launch, [&store, kept, filter, board, since, range] {
            return board.isEmpty() ? groupedFigures(store, {}, filter, since, range) : groupedFigures(store, kept, filter);
        }));
    // Every run's row, counted and ranked here as the folder counts and ranks
    // its reports (kept: the same, in SQL, for the grouped figures).
    std::optional<QSqlQuery> runs = db.exec(QStringLiteral(
        "SELECT id, board_id, started_utc, identification, operator, plan_name, verdict, failed, marginal, report_path, "
        "%1, rescored_from <> '', bench FROM runs").arg(QLatin1String(kRecordingSql)));
    if (!runs) return failed(db.problem().why);
    struct Stored {
        qint64 id;
        QString board, started, path;  // as stored
        bool judgedAgain;
        evaluate::HistoryRun run;
        bool counted = true;
    };
    std::vector<Stored> stored;
    // The runs whose rows the figures over every row (or every row from the
    // day) took although another report of their recording is the one counted.
    std::vector<qint64> copies;
    auto grouped = [&since](const QString& started) { return since.isEmpty() || started.left(10) >= since; };
    QHash<QString, std::size_t> byRecording;
    byRecording.reserve(100000);
    qint64 inStore = 0;
    while (runs->next()) {
        ++inStore;
        Stored r{runs->value(0).toLongLong(), runs->value(1).toString(), runs->value(2).toString(), runs->value(9).toString(),
                 runs->value(11).toBool(), {}};
        std::size_t& first = byRecording[runs->value(10).toString()];
        if (first > 0) {  // the one counted: its own report before a judgement of it again, then the first path
            Stored& was = stored[first - 1];
            const bool wasKept = countedBefore(was.judgedAgain, was.path, r.judgedAgain, r.path);
            Stored& copy = wasKept ? r : was;
            if (grouped(copy.started)) copies.push_back(copy.id);
            if (&copy == &r) continue;
            was.counted = false;
        }
        first = stored.size() + 1;
        r.counted = (board.isEmpty() || r.board == board) && (since.isEmpty() || r.started.left(10) >= since);
        r.run.boardId = textRead(r.board);
        r.run.startedUtc = textRead(r.started);
        r.run.identification = textRead(runs->value(3).toString());
        r.run.operatorName = textRead(runs->value(4).toString());
        r.run.plan = textRead(runs->value(5).toString());
        r.run.verdict = runs->value(6).toString();
        r.run.failed = runs->value(7).toInt();
        r.run.marginal = runs->value(8).toInt();
        r.run.bench = textRead(runs->value(12).toString());
        r.run.path = textRead(r.path);
        r.run.report = r.run.path;  // a store's runs are named by their reports' own paths
        stored.push_back(std::move(r));
    }
    runs.reset();
    std::vector<Stored*> counted;
    for (Stored& r : stored)
        if (r.counted) counted.push_back(&r);
    std::sort(counted.begin(), counted.end(),
              [](const Stored* a, const Stored* b) { return a->started != b->started ? a->started < b->started : a->path < b->path; });
    std::vector<qint64> ids;        // by place - 1
    QHash<qint64, qint64> placeOf;  // a counted run's place, from 1
    for (Stored* r : counted) {
        h.runs.push_back(std::move(r->run));
        ids.push_back(r->id);
        placeOf.insert(r->id, qint64(ids.size()));
    }
    stored.clear();
    stored.shrink_to_fit();

    std::optional<Grouped> figured = figures.front().get();
    for (std::size_t i = 1; i < figures.size(); ++i) {
        Grouped more = figures[i].get();
        if (figured->why.isEmpty()) figured->why = more.why;
        if (more.runs != figured->runs) figured->runs = -1;  // a run stored between the two
        figured->groups.merge(more.groups);
    }
    // A run stored between this connection's reading and a grouping's makes
    // the figures over every row wrong: taken again over the counted.
    const bool everyRow = board.isEmpty() && figured->runs == inStore;
    if (board.isEmpty() && !everyRow) figured = groupedFigures(store, kept, filter);
    if (!figured->why.isEmpty()) return failed(figured->why);
    std::map<qint64, Group>& groups = figured->groups;
    // A recording stored under two reports (a run judged again) counts once:
    // the rows of its other reports taken back out of the sums, which are
    // exact, and a least or greatest error that was theirs found again.
    if (everyRow && !copies.empty() && !withoutCopies(db, copies, groups, placeOf)) return failed(db.problem().why);
    for (auto& [key, g] : groups)
        if (g.stats.minError && g.stats.maxError) g.worst = std::max(std::abs(*g.stats.minError), std::abs(*g.stats.maxError));
    std::optional<QSqlQuery> keys =
        db.exec(QStringLiteral("SELECT id, check_name, kind, channel, quantity, unit, reference FROM result_keys"));
    if (!keys) return failed(db.problem().why);
    while (keys->next()) {
        const auto g = groups.find(keys->value(0).toLongLong());
        if (g == groups.end()) continue;
        g->second.stats.key = {textRead(keys->value(1).toString()), keys->value(2).toString(), keys->value(3).toInt(),
                               textRead(keys->value(4).toString()), textRead(keys->value(5).toString()), number(keys->value(6))};
    }
    keys.reset();

    // The first row of each result and its latest limit, from the runs at
    // either end: batches of runs from the oldest until every result has been
    // seen, from the latest until every one with a limit has given it. Each
    // batch twice the last, so a result new late in the history costs rows in
    // proportion to how late.
    auto walk = [&](bool fromOldest) -> bool {
        std::size_t left = 0;
        for (const auto& [id, g] : groups) left += fromOldest ? 1 : g.limits > 0;
        std::size_t done = 0, batch = kBatch;
        while (left > 0 && done < ids.size()) {
            const std::size_t n = std::min(batch, ids.size() - done);
            QVariantList of;
            for (std::size_t i = 0; i < n; ++i) of << ids[fromOldest ? done + i : ids.size() - 1 - done - i];
            std::optional<QSqlQuery> rows = db.exec(
                QStringLiteral("SELECT run, position, key_id, limit_value FROM results WHERE run IN (%1) AND key_id IS NOT NULL%2")
                    .arg(places(n), fromOldest ? QString() : QStringLiteral(" AND limit_value IS NOT NULL")),
                of);
            if (!rows) return false;
            std::map<qint64, std::pair<Seq, double>> seen;  // in this batch, by key
            while (rows->next()) {
                const Seq at{placeOf.value(rows->value(0).toLongLong()), rows->value(1).toLongLong()};
                const auto g = groups.find(rows->value(2).toLongLong());
                if (g == groups.end()) continue;
                auto [was, added] = seen.try_emplace(g->first, at, rows->value(3).toDouble());
                if (!added && (fromOldest ? at < was->second.first : was->second.first < at)) was->second = {at, rows->value(3).toDouble()};
            }
            for (const auto& [key, found] : seen) {
                Group& g = groups[key];
                if (fromOldest && !g.haveFirst) g.first = found.first, g.haveFirst = true, --left;
                if (!fromOldest && !g.stats.limit) g.stats.limit = found.second, --left;
            }
            done += n;
            batch *= 2;
        }
        return true;
    };
    if (!walk(true) || !walk(false)) return failed(db.problem().why);

    // The worst board: of the oldest run among those of the largest |error|,
    // as the folder keeps the first it meets.
    std::optional<QSqlQuery> worst =
        db.prepare(QStringLiteral("SELECT run FROM results WHERE key_id = ? AND error IN (?, ?)"));
    if (!worst) return failed(db.problem().why);
    for (auto& [key, g] : groups) {
        if (g.sums.count == 0) continue;
        if (!db.execute(*worst, {key, g.worst, -g.worst})) return failed(db.problem().why);
        qint64 oldest = 0;
        while (worst->next())
            if (const qint64 place = placeOf.value(worst->value(0).toLongLong()); place > 0 && (oldest == 0 || place < oldest)) oldest = place;
        if (oldest > 0) g.stats.worstBoard = h.runs[std::size_t(oldest - 1)].boardId;
    }
    worst.reset();

    std::vector<Group*> ordered;
    for (auto& [key, g] : groups) ordered.push_back(&g);
    std::sort(ordered.begin(), ordered.end(), [](const Group* a, const Group* b) { return a->first < b->first; });
    for (Group* g : ordered) {
        evaluate::ResultStats& s = g->stats;
        if (g->sums.count > 0) {
            s.meanError = g->sums.mean();
            s.sdError = g->sums.sd();
            if (s.sdError && *s.sdError > 0 && s.limit) s.cpk = (*s.limit - std::abs(*s.meanError)) / (3 * *s.sdError);
        }
        h.results.push_back(std::move(s));
    }

    // The page plots a few boards' static errors: only their runs' rows are read.
    const QString staticKind = evaluate::kindName(evaluate::CheckKind::Static);
    for (const QString& plotted : evaluate::plottedBoards(h)) {
        std::vector<std::size_t> of;
        for (std::size_t i = 0; i < h.runs.size(); ++i)
            if (h.runs[i].boardId == plotted) of.push_back(i);
        for (std::size_t from = 0; from < of.size(); from += kBatch) {
            const std::size_t n = std::min(kBatch, of.size() - from);
            QVariantList values{staticKind};
            for (std::size_t i = 0; i < n; ++i) values << ids[of[from + i]];
            std::optional<QSqlQuery> rows = db.exec(
                QStringLiteral("SELECT run, check_name, channel, reference, error FROM results WHERE kind = ? AND quantity = 'pressure' "
                               "AND run IN (%1) ORDER BY run, position")
                    .arg(places(n)),
                values);
            if (!rows) return failed(db.problem().why);
            while (rows->next()) {
                const qint64 place = placeOf.value(rows->value(0).toLongLong());
                if (place < 1) continue;
                std::vector<evaluate::CheckOutcome>& checks = h.runs[std::size_t(place - 1)].checks;
                const QString name = textRead(rows->value(1).toString());
                if (checks.empty() || checks.back().name != name)
                    checks.push_back({name, evaluate::CheckKind::Static, evaluate::Verdict::Pass, {}, {}});
                evaluate::Result r;
                r.channel = rows->value(2).toInt();
                r.quantity = QStringLiteral("pressure");
                r.reference = number(rows->value(3));
                r.error = number(rows->value(4));
                checks.back().results.push_back(r);
            }
        }
    }
    return h;
}

}  // namespace quorvid::store
