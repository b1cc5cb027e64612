// The results store's figures (bench/store.sh runs it; RESULTS.md keeps them):
//   quorvid_store_bench load STORE RUNS BOARDS     RUNS runs of 33 results of
//                                                  BOARDS boards, 1,000 a transaction
//   quorvid_store_bench history STORE [BOARD [DAY]] the summary (JSON, CSV, HTML); BOARD may be ""
//                                                  read and written, median of 3
//   quorvid_store_bench copies STORE N SPREAD BOARDS N runs judged again, of runs
//                                                  spread over the first SPREAD
//   quorvid_store_bench one STORE DIR              one run's report stored
//                                                  (deliverRun), median of 20
//   quorvid_store_bench writers STORE DIR          eight writer processes at once,
//                                                  20 runs the same and 20 their own
//   quorvid_store_bench folder DIR RUNS            RUNS reports written under DIR
//   quorvid_store_bench compare STORE DIR          DIR imported into STORE (new),
//                                                  the history from each compared
//   quorvid_store_bench write STORE REPORT...      (a writer: deliverRun each)
#include "backend.h"
#include "history.h"
#include "measure.h"
#include "report.h"
#include "resultsstore.h"
#include "storerun.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <cstdio>

using namespace quorvid;
using namespace quorvid::evaluate;

namespace {

// Run i of a line: board i % boards, a run every ten minutes from the start
// of 2026, 33 results: 20 static points, 2 zeros, 6 dynamic, 5 speeds, with
// errors spread over their limits.
StoredReport runOf(qint64 i, int boards)
{
    StoredReport s;
    ReportInfo& info = s.info;
    info.runId = QUuid::createUuidV5(QUuid(), QStringLiteral("bench-%1").arg(i)).toString(QUuid::WithoutBraces);
    const QDateTime at = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i * 600);
    info.startedUtc = at.toString(Qt::ISODateWithMs);
    info.endedUtc = at.addSecs(480).toString(Qt::ISODateWithMs);
    info.version = QStringLiteral("1.0.1");
    info.operatorName = QStringLiteral("line %1").arg(i % 8);
    info.bench = QStringLiteral("bench-%1").arg(i % 6);
    info.boardId = QStringLiteral("SN-%1").arg(i % boards, 4, 10, QChar(u'0'));
    info.port = QStringLiteral("/dev/ttyUSB%1").arg(i % 4);
    info.identification = QStringLiteral("Quorvid simulated IBP board");
    info.plan = defaultPlan();
    info.bytesSha256 = QString::fromLatin1(QCryptographicHash::hash(info.runId.toLatin1(), QCryptographicHash::Sha256).toHex());
    unsigned x = unsigned(i) * 2654435761u + 1;
    auto spread = [&x](double limit) {
        x = x * 1103515245u + 12345;
        return limit * (double(int(x >> 8) % 20001 - 10000) / 8000.0);
    };
    auto add = [&](CheckOutcome& o, int ch, const QString& quantity, const QString& unit, double reference, double limit) {
        Result r;
        r.channel = ch, r.quantity = quantity, r.unit = unit, r.reference = reference, r.limit = limit, r.n = 500;
        r.error = spread(limit);
        r.mean = reference + *r.error;
        r.verdict = std::abs(*r.error) <= limit ? Verdict::Pass : Verdict::Fail;
        r.marginal = r.verdict == Verdict::Pass && std::abs(*r.error) > 0.75 * limit;
        r.toMs = 2000;
        o.results.push_back(r);
    };
    CheckOutcome zero{QStringLiteral("zero"), CheckKind::Zero, Verdict::Pass, {}, {}};
    CheckOutcome stat{QStringLiteral("static"), CheckKind::Static, Verdict::Pass, {}, {}};
    CheckOutcome dyn{QStringLiteral("dynamic"), CheckKind::Dynamic, Verdict::Pass, {}, {}};
    CheckOutcome speed{QStringLiteral("speed"), CheckKind::Speed, Verdict::Pass, {}, {}};
    for (int ch = 1; ch <= 2; ++ch) {
        add(zero, ch, QStringLiteral("pressure"), QStringLiteral("mmHg"), 0, 1);
        for (int k = 0; k < 10; ++k) add(stat, ch, QStringLiteral("pressure"), QStringLiteral("mmHg"), 30.0 * k, 4);
        add(dyn, ch, QStringLiteral("systolic"), QStringLiteral("mmHg"), 120, 5);
        add(dyn, ch, QStringLiteral("diastolic"), QStringLiteral("mmHg"), 80, 5);
        add(dyn, ch, QStringLiteral("pulse rate"), QStringLiteral("/min"), 60, 2);
    }
    for (int k = 1; k <= 5; ++k) add(speed, 0, QStringLiteral("frame rate"), QStringLiteral("frames/s"), 100.0 * k, 2);
    for (CheckOutcome* o : {&zero, &stat, &dyn, &speed}) {
        o->verdict = checkVerdict(o->results);
        info.checks.push_back(*o);
    }
    info.verdict = runVerdict(info.checks, info.checks.size(), {});
    return s;
}

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

store::StoreAddress address(const QString& text)
{
    QString why;
    const std::optional<store::StoreAddress> a = store::parseStoreAddress(text, &why);
    if (!a) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        std::exit(2);
    }
    return *a;
}

QString writeReportFile(const QString& dir, qint64 i, int boards)
{
    const StoredReport r = runOf(i, boards);
    const QString path = QDir(dir).filePath(QStringLiteral("%1/run-%2.json").arg(r.info.boardId).arg(i));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) std::exit(1);
    f.write(QJsonDocument(reportJson(r.info)).toJson(QJsonDocument::Compact));
    return path;
}

// COUNT runs judged again, of runs spread over the first SPREAD: the same
// recordings (a store counts each once), the first result's error off the
// scale, so that the history must find each end again without them.
int copies(const store::StoreAddress& a, qint64 count, qint64 spread, int boards)
{
    store::Backend db(a);
    if (!db.open() || !db.begin()) return 1;
    for (qint64 k = 0; k < count; ++k) {
        const qint64 i = k * (spread / count);
        StoredReport r = runOf(i, boards);
        r.info.runId = QUuid::createUuidV5(QUuid(), QStringLiteral("bench-again-%1").arg(i)).toString(QUuid::WithoutBraces);
        r.info.rescoredFrom = QStringLiteral("run-%1.json").arg(i);
        r.info.checks.front().results.front().error = k % 2 ? 1e3 : -1e3;
        if (store::storeRun(db, r, QStringLiteral("/bench/run-%1-again.json").arg(i), {}, {}, true) == store::Stored::Failed)
            return std::fprintf(stderr, "%s\n", qPrintable(db.problem().why)), 1;
    }
    if (!db.commit()) return std::fprintf(stderr, "%s\n", qPrintable(db.problem().why)), 1;
    std::printf("copies     %lld runs judged again stored\n", count);
    return 0;
}

int load(const store::StoreAddress& a, qint64 runs, int boards)
{
    QString said, error;
    if (!store::initSchema(a, &said, &error)) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    store::Backend db(a);
    if (!db.open()) return 1;
    QElapsedTimer t;
    t.start();
    for (qint64 i = 0; i < runs; i += 1000) {
        db.begin();
        for (qint64 k = i; k < std::min(runs, i + 1000); ++k)
            if (store::storeRun(db, runOf(k, boards), QStringLiteral("/bench/run-%1.json").arg(k), {}, {}, true) == store::Stored::Failed)
                return std::fprintf(stderr, "%s\n", qPrintable(db.problem().why)), 1;
        if (!db.commit()) return std::fprintf(stderr, "%s\n", qPrintable(db.problem().why)), 1;
    }
    std::printf("load       %lld runs of 33 results, %d boards: %.1f s (%.0f runs/s)\n", runs, boards, seconds(t), runs / seconds(t));
    return 0;
}

int history(const QString& source, const QString& board, const QString& day)
{
    const std::optional<QDate> since = day.isEmpty() ? std::nullopt : std::optional(QDate::fromString(day, Qt::ISODate));
    QTemporaryDir out;
    std::vector<double> times, reads, json;
    std::size_t runs = 0, results = 0;
    qint64 bytes = 0;
    for (int k = 0; k < 3; ++k) {
        QElapsedTimer t;
        t.start();
        QString error;
        const bool folder = QFileInfo(source).isDir();
        const std::optional<History> h = folder ? readHistory({source, board, since}, &error)
                                                : store::readStoreHistory(address(source), {{}, board, since}, &error);
        reads.push_back(seconds(t));
        if (!h || !writeHistory(*h, out.filePath(QStringLiteral("summary")), &error))
            return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
        times.push_back(seconds(t));
        t.start();
        (void)historyJsonText(*h);
        json.push_back(seconds(t));
        runs = h->runs.size(), results = h->results.size();
        bytes = QFileInfo(out.filePath(QStringLiteral("summary.html"))).size();
    }
    std::printf("history    %s%s: %zu runs, %zu results: %.2f s median of 3 (slowest %.2f s; read in %.2f s, JSON text %.3f s); page %.2f MB\n",
                qPrintable(QFileInfo(source).isDir() ? QStringLiteral("folder") : address(source).display().section(u':', 0, 0)),
                qPrintable((board.isEmpty() ? QString() : QStringLiteral(" --board-id ") + board) +
                           (day.isEmpty() ? QString() : QStringLiteral(" --since ") + day)),
                runs, results, median(times),
                *std::max_element(times.begin(), times.end()), median(reads), median(json), bytes / 1e6);
    return 0;
}

int one(const store::StoreAddress& a, const QString& dir)
{
    std::vector<double> times;
    for (int k = 0; k < 20; ++k) {
        const QString path = writeReportFile(dir, 900'000'000 + QDateTime::currentMSecsSinceEpoch() % 1'000'000 * 100 + k, 500);
        QElapsedTimer t;
        t.start();
        const store::Delivery d = store::deliverRun(a, path);
        times.push_back(seconds(t));
        if (d.outcome != store::Delivery::Outcome::Stored) return std::fprintf(stderr, "%s\n", qPrintable(d.line)), 1;
    }
    std::printf("one run    deliverRun of a report: %.1f ms median of 20 (slowest %.1f ms)\n", median(times) * 1e3,
                *std::max_element(times.begin(), times.end()) * 1e3);
    return 0;
}

int writers(const QString& store, const QString& dir)
{
    const store::StoreAddress a = address(store);
    const qint64 base = 800'000'000 + QDateTime::currentMSecsSinceEpoch() % 1'000'000 * 1000;
    QStringList same;
    for (int k = 0; k < 20; ++k) same << writeReportFile(dir, base + k, 500);
    std::vector<std::unique_ptr<QProcess>> procs;
    QStringList all = same;
    QElapsedTimer t;
    t.start();
    for (int w = 0; w < 8; ++w) {
        QStringList own;
        for (int k = 0; k < 20; ++k) own << writeReportFile(dir, base + 100 + 20 * w + k, 500);
        all += own;
        procs.push_back(std::make_unique<QProcess>());
        procs.back()->start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("write"), store} + same + own);
    }
    int failed = 0;
    for (auto& p : procs) failed += !p->waitForFinished(600000) || p->exitCode() != 0;
    const double took = seconds(t);
    store::Backend db(a);
    int once = 0;
    for (const QString& path : all) {
        const QString id = readReportFile(path, nullptr)->info.runId;
        std::optional<QSqlQuery> q = db.open() ? db.exec(QStringLiteral("SELECT COUNT(*) FROM runs WHERE run_id = ?"), {id}) : std::nullopt;
        once += q && q->next() && q->value(0).toInt() == 1;
    }
    std::printf("writers    8 processes at once, 40 runs each (20 the same): %.2f s; %d writers failed; %d of %lld runs stored once\n",
                took, failed, once, qint64(all.size()));
    return failed || once != all.size();
}

int compare(const store::StoreAddress& a, const QString& dir)
{
    QString said, error;
    if (!store::initSchema(a, &said, &error)) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    QElapsedTimer t;
    t.start();
    const store::ImportOutcome imported = store::importReports(a, dir);
    const double took = seconds(t);
    if (!imported.ok) return std::fprintf(stderr, "%s\n", qPrintable(imported.line)), 1;
    const std::optional<History> folder = readHistory({dir, {}, {}}, &error);
    const std::optional<History> stored = store::readStoreHistory(a, {}, &error);
    if (!folder || !stored) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    int differ = 0;
    const QJsonArray x = historyJson(*folder)[u"results"].toArray(), y = historyJson(*stored)[u"results"].toArray();
    for (qsizetype i = 0; i < std::max(x.size(), y.size()); ++i) differ += x.at(i) != y.at(i);
    std::printf("compare    %s: %d imported in %.1f s (%.0f runs/s); history from the store and from the folder: %s, "
                "%zu and %zu runs, %lld of %lld results differ%s\n",
                qPrintable(a.display().section(u':', 0, 0)), imported.stored, took, imported.stored / took,
                historyCsv(*folder) == historyCsv(*stored) ? "the same CSV" : "CSV DIFFERS", folder->runs.size(),
                stored->runs.size(), qint64(differ), qint64(std::max(x.size(), y.size())), differ ? " (JSON)" : ", JSON figures to the last bit");
    return differ ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments().mid(1);
    const QString what = a.value(0);
    if (what == u"load" && a.size() == 4) return load(address(a[1]), a[2].toLongLong(), a[3].toInt());
    if (what == u"copies" && a.size() == 5) return copies(address(a[1]), a[2].toLongLong(), a[3].toLongLong(), a[4].toInt());
    if (what == u"history" && a.size() >= 2) return history(a[1], a.value(2), a.value(3));
    if (what == u"one" && a.size() == 3) return one(address(a[1]), a[2]);
    if (what == u"writers" && a.size() == 3) return writers(a[1], a[2]);
    if (what == u"compare" && a.size() == 3) return compare(address(a[1]), a[2]);
    if (what == u"folder" && a.size() == 3) {
        for (qint64 i = 0; i < a[2].toLongLong(); ++i) writeReportFile(a[1], i, 500);
        return 0;
    }
    if (what == u"write" && a.size() >= 3) {
        int lost = 0;
        for (const QString& report : a.mid(2)) {
            const store::Delivery d = store::deliverRun(address(a[1]), report);
            lost += d.outcome != store::Delivery::Outcome::Stored && d.outcome != store::Delivery::Outcome::AlreadyStored;
        }
        return lost ? 1 : 0;
    }
    std::fprintf(stderr, "usage: quorvid_store_bench load|history|one|writers|folder|write ... (see the source's head)\n");
    return 2;
}
