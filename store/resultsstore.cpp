// Runs into the store: one run one transaction, the outbox for a store that
// cannot take it, --results-init, --sync and --import.
#include "resultsstore.h"

#include "backend.h"
#include "report.h"
#include "schema.h"
#include "storerun.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QSqlQuery>

#include <algorithm>
#include <utility>

namespace quorvid::store {

namespace {

using evaluate::StoredReport;

QVariant number(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>()); }
QVariant whole(const std::optional<qint64>& v) { return v ? QVariant(*v) : QVariant(QMetaType::fromType<qint64>()); }

// Every part with its length before it, so no text of one part reads as another's.
QString keyText(const QString& check, const QString& kind, int channel, const QString& quantity, const QString& unit,
                const std::optional<double>& reference)
{
    QString out;
    for (const QString& part : {check, kind, QString::number(channel), quantity, unit,
                                reference ? QString::number(*reference, 'g', 17) : QStringLiteral("none")})
        out += QString::number(part.size()) + u':' + part;
    return out;
}

}  // namespace

std::optional<qint64> resultKeyId(Backend& db, const QString& check, const QString& kind, int channel, const QString& quantity,
                                  const QString& unit, const std::optional<double>& reference)
{
    const QString text = keyText(check, kind, channel, quantity, unit, reference);
    if (!db.exec(QStringLiteral("INSERT INTO result_keys (key_text, check_name, kind, channel, quantity, unit, reference) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (key_text) DO NOTHING"),
                 {text, check, kind, channel, quantity, unit, number(reference)}))
        return std::nullopt;
    std::optional<QSqlQuery> id = db.exec(QStringLiteral("SELECT id FROM result_keys WHERE key_text = ?"), {text});
    if (!id || !id->next()) return std::nullopt;
    return id->value(0).toLongLong();
}

Stored storeRun(Backend& db, const StoredReport& report, const QString& jsonPath, const QString& station,
                const std::function<void(int)>& afterResult, bool callerTransaction)
{
    const evaluate::ReportInfo& info = report.info;
    if (!checkSchema(db) || (!callerTransaction && !db.begin())) return Stored::Failed;
    auto rollback = [&] {
        if (!callerTransaction) db.rollback();
    };
    std::optional<QSqlQuery> run = db.exec(
        QStringLiteral("INSERT INTO runs (run_id, board_id, port, device, identification, operator, station, plan_name, plan, "
                       "reference_equipment, started_utc, ended_utc, verdict, failed, marginal, aborted, quorvid_version, "
                       "report_path, bytes_sha256, rescored_from, bench) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                       "ON CONFLICT (run_id) DO NOTHING RETURNING id"),
        {storedText(info.runId), storedText(info.boardId), storedText(info.port), storedText(info.device),
         storedText(info.identification), storedText(info.operatorName), storedText(station), storedText(info.plan.name),
         QString::fromUtf8(QJsonDocument(evaluate::planJson(info.plan)).toJson(QJsonDocument::Compact)),
         storedText(info.referenceEquipment), storedText(info.startedUtc), storedText(info.endedUtc),
         info.verdict == evaluate::Verdict::Pass ? QStringLiteral("pass") : QStringLiteral("fail"),
         evaluate::failedResults(info.checks), evaluate::marginalResults(info.checks), storedText(info.aborted),
         storedText(info.version), storedText(QDir::fromNativeSeparators(QFileInfo(jsonPath).absoluteFilePath())),
         storedText(info.bytesSha256), storedText(info.rescoredFrom), storedText(info.bench)});
    if (!run) {
        rollback();
        return Stored::Failed;
    }
    if (!run->next()) {  // another writer stored it, now or before
        run.reset();
        rollback();
        return Stored::Present;
    }
    const qint64 id = run->value(0).toLongLong();
    run.reset();
    // The keys known already, in one statement; a new one is added.
    QHash<QString, qint64> keys;
    if (std::optional<QSqlQuery> known = db.exec(QStringLiteral("SELECT key_text, id FROM result_keys")); known) {
        while (known->next()) keys.insert(known->value(0).toString(), known->value(1).toLongLong());
    } else {
        rollback();
        return Stored::Failed;
    }
    std::optional<QSqlQuery> insert = db.prepare(QStringLiteral(
        "INSERT INTO results (run, position, check_name, kind, channel, quantity, unit, reference, reading, sd, n, error, "
        "limit_value, marginal_threshold, verdict, passed, marginal, from_ms, to_ms, message, source, key_id, error_q, "
        "squares_high, squares_low, started_day, "
        "uncertainty_u, coverage_k, statement) "  // version 3: the result's uncertainty
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const QString day = storedText(info.startedUtc).left(10);  // as the history compares it
    bool ok = insert.has_value();
    int position = 0;
    for (const evaluate::CheckOutcome& o : info.checks) {
        if (!ok) break;
        const auto planned = std::find_if(info.plan.checks.begin(), info.plan.checks.end(),
                                          [&o](const evaluate::Check& c) { return c.name == o.name && c.kind == o.kind; });
        const bool known = planned != info.plan.checks.end();
        const std::optional<double> threshold = known ? info.plan.marginalFor(*planned) : std::nullopt;
        const QString source = known && planned->source ? *planned->source : QString();
        for (const evaluate::Result& r : o.results) {
            // The history counts what a folder's history counts.
            std::optional<qint64> key;
            if (r.verdict != evaluate::Verdict::Skipped && r.quantity != u"aborted") {
                const QString check = storedText(o.name), kind = evaluate::kindName(o.kind), quantity = storedText(r.quantity),
                              unit = storedText(r.unit);
                const QString text = keyText(check, kind, r.channel, quantity, unit, r.reference);
                if (const auto known = keys.constFind(text); known != keys.cend()) {
                    key = *known;
                } else {
                    key = resultKeyId(db, check, kind, r.channel, quantity, unit, r.reference);
                    if (!key) {
                        ok = false;
                        break;
                    }
                    keys.insert(text, *key);
                }
            }
            std::optional<qint64> q;
            if (r.error) q = evaluate::errorMillionths(*r.error);
            ok = db.execute(*insert, {id, position++, storedText(o.name), evaluate::kindName(o.kind), r.channel,
                                      storedText(r.quantity), storedText(r.unit), number(r.reference), number(r.mean),
                                      number(r.sd), r.n, number(r.error), number(r.limit), number(threshold),
                                      evaluate::verdictName(r.verdict), r.verdict == evaluate::Verdict::Pass ? 1 : 0,
                                      r.marginal ? 1 : 0, r.fromMs, r.toMs, storedText(r.message), storedText(source),
                                      whole(key), whole(q), whole(q ? std::optional(evaluate::ErrorSums::squareHigh(*q)) : std::nullopt),
                                      whole(q ? std::optional(evaluate::ErrorSums::squareLow(*q)) : std::nullopt), day,
                                      number(r.uncertainty ? std::optional(r.uncertainty->U) : std::nullopt),
                                      number(r.uncertainty ? std::optional(r.uncertainty->k) : std::nullopt),
                                      r.statement ? QVariant(evaluate::statementName(*r.statement)) : QVariant()});
            if (!ok) break;
            if (afterResult) afterResult(position);
        }
    }
    insert.reset();
    if (!ok || (!callerTransaction && !db.commit())) {
        rollback();
        return Stored::Failed;
    }
    return Stored::Added;
}

namespace {

// The outbox: a SQLite file of the runs waiting for their store, keyed by the
// store's display (never its password) and the run.
class Outbox {
public:
    Outbox() : m_db(outboxAddress()) {}
    bool open()
    {
        return m_db.open() &&
               m_db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS waiting (store TEXT NOT NULL, run_id TEXT NOT NULL, "
                                        "report_path TEXT NOT NULL, station TEXT NOT NULL, report TEXT NOT NULL, "
                                        "queued_utc TEXT NOT NULL, PRIMARY KEY (store, run_id))"));
    }
    QString why() const { return m_db.problem().why; }

    bool add(const QString& store, const StoredReport& report, const QString& path, const QString& station)
    {
        return open() &&
               m_db.exec(QStringLiteral("INSERT INTO waiting (store, run_id, report_path, station, report, queued_utc) "
                                        "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (store, run_id) DO NOTHING"),
                         {store, report.info.runId, QFileInfo(path).absoluteFilePath(), station,
                          QString::fromUtf8(QJsonDocument(report.json).toJson(QJsonDocument::Compact)),
                          QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)});
    }

    struct Waiting {
        QString runId, path, station, report;
    };
    std::optional<std::vector<Waiting>> waiting(const QString& store)
    {
        if (!QFileInfo::exists(outboxPath())) return std::vector<Waiting>{};
        if (!open()) return std::nullopt;
        std::optional<QSqlQuery> q =
            m_db.exec(QStringLiteral("SELECT run_id, report_path, station, report FROM waiting WHERE store = ? ORDER BY rowid"), {store});
        if (!q) return std::nullopt;
        std::vector<Waiting> out;
        while (q->next()) out.push_back({q->value(0).toString(), q->value(1).toString(), q->value(2).toString(), q->value(3).toString()});
        return out;
    }

    bool remove(const QString& store, const QString& runId)
    {
        return m_db.exec(QStringLiteral("DELETE FROM waiting WHERE store = ? AND run_id = ?"), {store, runId}).has_value();
    }

private:
    static StoreAddress outboxAddress()
    {
        StoreAddress a;
        a.kind = StoreAddress::Kind::Sqlite;
        a.path = outboxPath();
        return a;
    }
    Backend m_db;
};

struct Sent {
    int sent = 0, left = 0;
    bool reached = true;
    QString why;
};

// Sends the outbox's runs for the store, oldest first, each once: a run is
// taken out of the outbox only once the store holds it.
Sent sendWaiting(Backend& db, Outbox& outbox)
{
    Sent s;
    const QString key = db.address().display();
    const std::optional<std::vector<Outbox::Waiting>> waiting = outbox.waiting(key);
    if (!waiting) {
        s.why = QStringLiteral("the outbox %1 cannot be read: %2").arg(QDir::toNativeSeparators(outboxPath()), outbox.why());
        return s;
    }
    for (std::size_t i = 0; i < waiting->size(); ++i) {
        const Outbox::Waiting& w = (*waiting)[i];
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(w.report.toUtf8(), &error);
        QString why;
        const std::optional<StoredReport> report =
            doc.isObject() ? evaluate::readReportJson(doc.object(), QFileInfo(w.path).fileName(), &why) : std::nullopt;
        if (!report) {  // a damaged entry stays, named, for someone to look at
            ++s.left;
            s.why = QStringLiteral("the outbox's run %1 cannot be read: %2").arg(w.runId, why.isEmpty() ? error.errorString() : why);
            continue;
        }
        const Stored stored = storeRun(db, *report, w.path, w.station);
        if (stored == Stored::Failed) {
            s.reached = db.problem().kind != Problem::Kind::Connection;
            s.why = db.problem().why;
            s.left += int(waiting->size() - i);
            return s;
        }
        if (!outbox.remove(key, w.runId)) {
            s.why = outbox.why();
            ++s.left;
            continue;
        }
        s.sent += stored == Stored::Added;
    }
    return s;
}

QString syncCommand(const StoreAddress& store)
{
    return QStringLiteral("quorvid-monitor --results %1 --sync sends it").arg(store.display());
}

}  // namespace

std::vector<Delivery> deliverRuns(const StoreAddress& store, const QStringList& reportJsonPaths, const QString& stationName)
{
    std::vector<Delivery> out(std::size_t(reportJsonPaths.size()));
    const QString name = store.display();
    if (store.kind == StoreAddress::Kind::None) {
        for (Delivery& d : out) d.line = QStringLiteral("Results store none: the run is in its report files only");
        return out;
    }
    Backend db(store);
    Outbox outbox;
    // One attempt to reach the store for all the runs: a server that is away
    // costs its wait once, not once a board.
    bool reached = false, tried = false;
    QString stillWaiting;  // said with the first run stored
    for (qsizetype i = 0; i < reportJsonPaths.size(); ++i) {
        Delivery& d = out[std::size_t(i)];
        const QString& path = reportJsonPaths[i];
        QString error;
        const std::optional<StoredReport> report = evaluate::readReportFile(path, &error);
        if (!report) {
            d.outcome = Delivery::Outcome::Lost;
            d.line = QStringLiteral("Results store %1: the run is not stored: %2").arg(name, error);
            continue;
        }
        if (!tried) {
            tried = true;
            reached = db.open();
            if (reached) {
                const Sent sent = sendWaiting(db, outbox);
                d.sentFromOutbox = sent.sent;
                if (sent.left > 0) stillWaiting = QStringLiteral("; %1 still wait in the outbox (%2)").arg(sent.left).arg(sent.why);
            }
        }
        bool refused = false;
        if (reached) {
            switch (storeRun(db, *report, path, stationName)) {
            case Stored::Added:
                d.outcome = Delivery::Outcome::Stored;
                d.line = QStringLiteral("Results store %1: run %2 stored").arg(name, report->info.runId);
                break;
            case Stored::Present:
                d.outcome = Delivery::Outcome::AlreadyStored;
                d.line = QStringLiteral("Results store %1: run %2 was stored already").arg(name, report->info.runId);
                break;
            case Stored::Failed:
                // A connection lost now holds for the runs after this one.
                refused = db.problem().kind != Problem::Kind::Connection;
                reached = refused;
                break;
            }
            if (d.outcome == Delivery::Outcome::Stored || d.outcome == Delivery::Outcome::AlreadyStored) {
                if (d.sentFromOutbox > 0) d.line += QStringLiteral(", and %1 from the outbox before it").arg(d.sentFromOutbox);
                d.line += std::exchange(stillWaiting, QString());
                continue;
            }
        }
        const QString problem = refused ? QStringLiteral("Results store %1 refused the run (%2)").arg(name, db.problem().why)
                                        : QStringLiteral("Results store %1 not reached (%2)").arg(name, db.problem().why);
        if (!outbox.add(name, *report, path, stationName)) {
            d.outcome = Delivery::Outcome::Lost;
            d.line = QStringLiteral("%1, and the outbox %2 did not take it (%3): the run is in its report files only")
                         .arg(problem, QDir::toNativeSeparators(outboxPath()), outbox.why());
            continue;
        }
        d.outcome = Delivery::Outcome::Queued;
        d.line = QStringLiteral("%1: the run waits in the outbox %2; %3")
                     .arg(problem, QDir::toNativeSeparators(outboxPath()), syncCommand(store));
    }
    return out;
}

Delivery deliverRun(const StoreAddress& store, const QString& reportJsonPath, const QString& stationName)
{
    return deliverRuns(store, {reportJsonPath}, stationName).front();
}

bool initSchema(const StoreAddress& store, QString* said, QString* error)
{
    if (store.kind == StoreAddress::Kind::None) {
        if (error) *error = QStringLiteral("--results-init: the store is none");
        return false;
    }
    Backend db(store);
    QString how;
    if (db.open() && makeSchema(db, &how)) {
        if (said) *said = QStringLiteral("Results store %1: schema %2").arg(store.display(), how);
        return true;
    }
    if (error)
        *error = QStringLiteral("Results store %1: the schema was not made: %2")
                     .arg(store.display(), how.isEmpty() ? db.problem().why : how);
    return false;
}

SyncOutcome syncOutbox(const StoreAddress& store)
{
    SyncOutcome out;
    const QString name = store.display();
    if (store.kind == StoreAddress::Kind::None) {
        out.line = QStringLiteral("Results store none: nothing to send");
        return out;
    }
    Backend db(store);
    Outbox outbox;
    if (!db.open()) {
        const std::optional<std::vector<Outbox::Waiting>> waiting = outbox.waiting(name);
        out.left = waiting ? int(waiting->size()) : 0;
        // One arg() of them all: an address's %2F is no place marker.
        out.line = QStringLiteral("Results store %1 not reached (%2): %3 runs wait in the outbox %4")
                       .arg(name, db.problem().why, QString::number(out.left), QDir::toNativeSeparators(outboxPath()));
        return out;
    }
    const Sent sent = sendWaiting(db, outbox);
    out.sent = sent.sent;
    out.left = sent.left;
    out.reached = sent.reached;
    out.line = QStringLiteral("Results store %1: %2 runs sent from the outbox").arg(name, QString::number(sent.sent));
    if (sent.left > 0) out.line += QStringLiteral(", %1 still wait (%2)").arg(sent.left).arg(sent.why);
    return out;
}

ImportOutcome importReports(const StoreAddress& store, const QString& dir, const std::function<void(int, int)>& progress)
{
    ImportOutcome out;
    const QString name = store.display();
    if (store.kind == StoreAddress::Kind::None) {
        out.line = QStringLiteral("--import: the store is none, nothing to import into");
        return out;
    }
    // The same reader as --history DIR, so the same reports and the same skips.
    QString error;
    const std::optional<evaluate::History> history = evaluate::readHistory({dir, {}, {}}, &error);
    if (!history) {
        out.line = error;
        return out;
    }
    out.skipped = history->skipped;
    Backend db(store);
    if (!db.open() || !checkSchema(db)) {
        out.line = QStringLiteral("Results store %1 not reached (%2): nothing imported").arg(name, db.problem().why);
        return out;
    }
    const int total = int(history->runs.size());
    for (int i = 0; i < total; ++i) {
        if (progress) progress(i, total);
        const evaluate::HistoryRun& run = history->runs[std::size_t(i)];
        const std::optional<StoredReport> report = evaluate::readReportFile(run.path, &error);
        if (!report) {  // changed since it was read a moment ago
            out.skipped.push_back({run.report, error});
            continue;
        }
        switch (storeRun(db, *report, run.path, {})) {
        case Stored::Added: ++out.stored; break;
        case Stored::Present: ++out.present; break;
        case Stored::Failed:
            out.line = QStringLiteral("Results store %1 stopped the import (%2): stored %3, already present %4, %5 not imported")
                           .arg(name, db.problem().why, QString::number(out.stored), QString::number(out.present),
                                QString::number(total - i));
            return out;
        }
    }
    if (progress) progress(total, total);
    out.ok = true;
    out.line = QStringLiteral("Results store %1: stored %2, already present %3, skipped %4")
                   .arg(name, QString::number(out.stored), QString::number(out.present), QString::number(out.skipped.size()));
    return out;
}

}  // namespace quorvid::store
