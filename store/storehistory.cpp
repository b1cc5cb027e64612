// --history STORE: the runs read from the store, and the statistics of each
// result across them computed in SQL (grouped, never every result row
// fetched), the same figures by the same formulas as evaluate/history.cpp
// works out over a folder's reports.
#include "resultsstore.h"

#include "backend.h"
#include "schema.h"

#include <QSqlQuery>

#include <cmath>
#include <map>

namespace quorvid::store {

namespace {

// A run's results are numbered within it; a result's place across runs is
// its run's place in time times this, plus its own.
constexpr qint64 kPlace = 1000000;

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
               "WITH ranked AS (SELECT id, ROW_NUMBER() OVER (PARTITION BY CASE WHEN bytes_sha256 = '' THEN run_id ELSE bytes_sha256 END "
               "ORDER BY CASE WHEN rescored_from = '' THEN 0 ELSE 1 END, report_path%1) AS copy FROM runs), "
               "kept AS (SELECT r.id, r.board_id, ROW_NUMBER() OVER (ORDER BY r.started_utc%1, r.report_path%1) AS place "
               "FROM ranked k JOIN runs r ON r.id = k.id WHERE k.copy = 1 AND (? = '' OR r.board_id = ?) "
               "AND (? = '' OR substr(r.started_utc, 1, 10) >= ?)) ")
        .arg(c);
}

std::optional<double> number(const QVariant& v) { return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble()); }

}  // namespace

std::optional<evaluate::History> readStoreHistory(const StoreAddress& store, const evaluate::HistoryRequest& request, QString* error)
{
    auto failed = [&](const QString& why) -> std::optional<evaluate::History> {
        if (error) *error = QStringLiteral("Results store %1 cannot be read: %2").arg(store.display(), why);
        return std::nullopt;
    };
    if (store.kind == StoreAddress::Kind::None) return failed(QStringLiteral("the store is none"));
    Backend db(store);
    if (!db.open() || !checkSchema(db)) return failed(db.problem().why);

    evaluate::History h;
    h.request = request;
    h.request.dir = store.display();
    const QString board = storedText(request.boardId);
    const QString since = request.since ? request.since->toString(Qt::ISODate) : QString();
    const QVariantList filter{board, board, since, since};
    const QString kept = keptRuns(db.isPostgresql());

    std::optional<QSqlQuery> runs = db.exec(
        kept + QStringLiteral("SELECT r.board_id, r.started_utc, r.identification, r.operator, r.plan_name, r.verdict, r.failed, "
                              "r.marginal, r.report_path FROM kept k JOIN runs r ON r.id = k.id ORDER BY k.place"),
        filter);
    if (!runs) return failed(db.problem().why);
    while (runs->next()) {
        evaluate::HistoryRun run;
        run.boardId = textRead(runs->value(0).toString());
        run.startedUtc = textRead(runs->value(1).toString());
        run.identification = textRead(runs->value(2).toString());
        run.operatorName = textRead(runs->value(3).toString());
        run.plan = textRead(runs->value(4).toString());
        run.verdict = runs->value(5).toString();
        run.failed = runs->value(6).toInt();
        run.marginal = runs->value(7).toInt();
        run.path = textRead(runs->value(8).toString());
        run.report = run.path;  // a store's runs are named by their reports' own paths
        h.runs.push_back(std::move(run));
    }
    runs.reset();

    // Two passes, as the folder's: the mean first, then the squares about it,
    // each summed in the folder's order (oldest run first, a run's results in
    // order), so the figures are the folder's to the last bit. PostgreSQL sums
    // in the order given it; SQLite in the order of the ordered rows it reads.
    // The key's reference may be none: SQLite matches it with IS, PostgreSQL
    // as NaN, which equals itself there and, unlike IS NOT DISTINCT FROM,
    // lets the server hash the join rather than loop over it.
    // The rows sorted by their key compare it byte by byte (COLLATE "C"),
    // several times quicker than in the server's language, and in memory.
    const bool pg = db.isPostgresql();
    if (pg && !db.exec(QStringLiteral("SET work_mem = '512MB'"))) return failed(db.problem().why);
    const QString inOrder = pg ? QStringLiteral(" ORDER BY seq") : QString();
    const QString same = pg ? QStringLiteral("COALESCE(x.reference, 'NaN') = COALESCE(g.reference, 'NaN')")
                            : QStringLiteral("x.reference IS g.reference");
    const QString key = QStringLiteral("check_name, kind, channel, quantity, unit, reference");
    std::optional<QSqlQuery> stats = db.exec(
        kept + QStringLiteral(
                   ", rows AS (SELECT x.check_name%5 AS check_name, x.kind%5 AS kind, x.channel, x.quantity%5 AS quantity, "
                   "x.unit%5 AS unit, x.reference, x.error, x.limit_value, "
                   "x.passed, x.marginal, k.place * %1 + x.position AS seq FROM results x JOIN kept k ON x.run = k.id "
                   "WHERE x.verdict <> 'skipped' AND x.quantity <> 'aborted' ORDER BY %4, seq), "
                   "groups AS (SELECT %4, COUNT(*) AS n, SUM(passed) AS passed, "
                   "SUM(marginal) AS marginal, COUNT(error) AS figures, SUM(error%3) / NULLIF(COUNT(error), 0) AS mean, "
                   "MIN(error) AS lo, MAX(error) AS hi, MAX(ABS(error)) AS worst, MIN(seq) AS first, "
                   "MAX(CASE WHEN limit_value IS NOT NULL THEN seq END) AS lastlimit FROM rows GROUP BY %4), "
                   // The second pass keyed by the group's first place alone, so
                   // its rows are narrow to sort.
                   "squares AS (SELECT g.first, x.seq, x.error, g.mean, g.worst, g.lastlimit, x.limit_value "
                   "FROM groups g JOIN rows x ON x.check_name = g.check_name AND x.kind = g.kind AND x.channel = g.channel "
                   "AND x.quantity = g.quantity AND x.unit = g.unit AND %2 ORDER BY g.first, x.seq), "
                   "second AS (SELECT first, SUM((error - mean) * (error - mean)%3) AS squares, "
                   "MIN(CASE WHEN ABS(error) = worst THEN seq END) AS worstseq, "
                   "MAX(CASE WHEN seq = lastlimit THEN limit_value END) AS lim FROM squares GROUP BY first) "
                   "SELECT g.check_name, g.kind, g.channel, g.quantity, g.unit, g.reference, g.n, g.passed, g.marginal, "
                   "g.figures, g.mean, g.lo, g.hi, s.squares, s.worstseq, s.lim FROM groups g JOIN second s ON s.first = g.first "
                   "ORDER BY g.first")
                   .arg(kPlace)
                   .arg(same, inOrder, key, pg ? QStringLiteral(" COLLATE \"C\"") : QString()),
        filter);
    if (!stats) return failed(db.problem().why);
    while (stats->next()) {
        evaluate::ResultStats s;
        s.key = {textRead(stats->value(0).toString()), stats->value(1).toString(), stats->value(2).toInt(),
                 textRead(stats->value(3).toString()), textRead(stats->value(4).toString()), number(stats->value(5))};
        s.n = stats->value(6).toInt();
        s.passed = stats->value(7).toInt();
        s.marginal = stats->value(8).toInt();
        s.figures = stats->value(9).toInt();
        s.limit = number(stats->value(15));
        if (const QVariant worst = stats->value(14); !worst.isNull()) {
            const qint64 place = worst.toLongLong() / kPlace;
            if (place >= 1 && place <= qint64(h.runs.size())) s.worstBoard = h.runs[std::size_t(place - 1)].boardId;
        }
        if (s.figures > 0) {
            s.meanError = number(stats->value(10));
            s.minError = number(stats->value(11));
            s.maxError = number(stats->value(12));
            if (s.figures > 1) {
                const double sd = std::sqrt(stats->value(13).toDouble() / double(s.figures - 1));
                s.sdError = sd;
                if (sd > 0 && s.limit) s.cpk = (*s.limit - std::abs(*s.meanError)) / (3 * sd);
            }
        }
        h.results.push_back(std::move(s));
    }
    stats.reset();

    // The page plots a few boards' static errors: only their rows are read.
    const QString staticKind = evaluate::kindName(evaluate::CheckKind::Static);
    for (const QString& plotted : evaluate::plottedBoards(h)) {
        QVariantList values = filter;
        values << staticKind << storedText(plotted);
        std::optional<QSqlQuery> rows = db.exec(
            kept + QStringLiteral("SELECT k.place, x.check_name, x.channel, x.reference, x.error FROM results x "
                                  "JOIN kept k ON x.run = k.id WHERE x.kind = ? AND x.quantity = 'pressure' AND k.board_id = ? "
                                  "ORDER BY k.place, x.position"),
            values);
        if (!rows) return failed(db.problem().why);
        while (rows->next()) {
            const qint64 place = rows->value(0).toLongLong();
            if (place < 1 || place > qint64(h.runs.size())) continue;
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
    return h;
}

}  // namespace quorvid::store
