// The line's server over a real store, each case against both drivers (a
// SQLite file, and the PostgreSQL server ctest starts), and the page in a
// real browser (Debian's chromium, headless). The runs are written so that
// each figure below can be worked out from them by hand, with a retest, a run
// judged again, a run without a board ID and a board ID that is markup.
#include "history.h"
#include "measure.h"
#include "report.h"
#include "support/postgresowner.h"
#include "resultsstore.h"
#include "server.h"
#include "storerun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <httplib.h>

#include <gtest/gtest.h>

#include <map>

using namespace quorvid;
using namespace quorvid::evaluate;
using store::StoreAddress;
using testsupport::serverOwner;

namespace {

enum class Driver { Sqlite, Postgresql };

const QString kMarkup = QStringLiteral("<img src=x onerror=document.title='owned'>");
const qint64 kNow = *line::utcMs(QStringLiteral("2026-12-08T12:00:00Z"));
const qint64 kHour = 3600 * 1000;

// A run: a static check of two results (ch1 and ch2 at 100 mmHg), the one
// named in fails failing.
struct StoredRun {
    QString board, bench;
    qint64 startedMs;
    int fails = 0;  // 0: passed; 1 or 2: that channel failed
    int seed = 0;
    int judgesAgain = 0;  // the seed of the run this one judges again
    int copyOf = 0;       // the seed of the run whose recording this stores again
    bool mains = false;   // with a mains check too, whose row has no error
    double limit = 4;
};

StoredReport reportOf(const StoredRun& run)
{
    ReportInfo info;
    info.runId = QUuid::createUuidV5(QUuid(), QString::number(run.seed)).toString(QUuid::WithoutBraces);
    const int seed = run.copyOf ? run.copyOf : run.seed;
    info.startedUtc = info.endedUtc = line::utcText(run.startedMs);
    info.version = QStringLiteral("1.0.1");
    info.boardId = run.board;
    info.bench = run.bench;
    info.plan = defaultPlan();
    info.bytesSha256 = QString::number(run.judgesAgain ? run.judgesAgain : seed).repeated(4);
    if (run.judgesAgain) info.rescoredFrom = QStringLiteral("r%1.json").arg(run.judgesAgain);
    CheckOutcome o{QStringLiteral("static"), CheckKind::Static, Verdict::Pass, {}, {}};
    for (int ch = 1; ch <= 2; ++ch) {
        Result r;
        r.channel = ch, r.quantity = QStringLiteral("pressure"), r.unit = QStringLiteral("mmHg"), r.reference = 100, r.limit = run.limit, r.n = 500;
        r.error = run.fails == ch ? 5.5 : 0.1 * seed - 0.37 * ch;
        r.mean = 100 + *r.error;
        r.verdict = std::abs(*r.error) <= 4 ? Verdict::Pass : Verdict::Fail;
        o.results.push_back(r);
    }
    o.verdict = checkVerdict(o.results);
    info.checks = {o};
    if (run.mains) {
        Result r;
        r.channel = 1, r.quantity = QStringLiteral("rejection at 60 Hz"), r.unit = QStringLiteral("dB"), r.limit = 20, r.n = 500;
        r.appliedMmHg = 20, r.residualMmHg = 0.5, r.mean = r.rejectionDb = 32.04, r.verdict = Verdict::Pass;
        info.checks.push_back({QStringLiteral("mains"), CheckKind::Mains, Verdict::Pass, {r}, {}});
    }
    info.verdict = o.verdict;
    QString why;
    std::optional<StoredReport> s = readReportJson(reportJson(info), QStringLiteral("test"), &why);
    EXPECT_TRUE(s) << why.toStdString();
    return *s;
}

// The window is the 24 hours before kNow. b1 failed yesterday and passes on
// a retest today; b2 passed first time (and was judged again, a fail that
// counts nowhere); b3 failed first on bench B and passed its retest on A;
// the markup board passed first time; one run has no board ID at all. b3's
// retest is stored twice, under another run ID: it counts once.
const std::vector<StoredRun> kRuns = {
    {"b1", "A", kNow - 30 * kHour, 1, 1},
    {"b1", "A", kNow - 2 * kHour, 0, 2},
    {"b2", "B", kNow - 3 * kHour, 0, 3},
    {"b2", "B", kNow - 3 * kHour, 2, 4, 3},
    {"b3", "B", kNow - 2 * kHour, 2, 5},
    {"b3", "A", kNow - 1 * kHour, 0, 6},
    {"b3", "A", kNow - 1 * kHour, 0, 10, 0, 6},
    {kMarkup, "", kNow - kHour / 2, 0, 7},
    {"", "C", kNow - kHour / 6, 0, 8},
};


class LineTest : public ::testing::TestWithParam<Driver> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        if (GetParam() == Driver::Sqlite) {
            owner.kind = StoreAddress::Kind::Sqlite;
            owner.path = dir.filePath(QStringLiteral("results.sqlite"));
            reader = owner;
        } else {
            if (!serverOwner()) GTEST_SKIP() << "no PostgreSQL server: QUORVID_TEST_POSTGRESQL names the one ctest starts";
            const QString name = QStringLiteral("t%1").arg(QUuid::createUuid().toString(QUuid::Id128));
            store::Backend admin(*serverOwner());
            ASSERT_TRUE(admin.open() && admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name))) << admin.problem().why.toStdString();
            owner = *serverOwner(name);
            reader = *store::parseStoreAddress(qEnvironmentVariable("QUORVID_TEST_POSTGRESQL"), nullptr);
            reader.database = name;
            store::Backend grant(owner);
            ASSERT_TRUE(grant.open() && grant.exec(QStringLiteral("ALTER DEFAULT PRIVILEGES GRANT SELECT ON TABLES TO bench")));
        }
        ASSERT_TRUE(store::initSchema(owner, nullptr, nullptr));
        for (const StoredRun& r : kRuns) add(r);
        snapshots.emplace(reader);
        server.emplace(*snapshots, QString(), [this] { return now; });
        ASSERT_TRUE(snapshots->poll(kNow)) << snapshots->published().problem.toStdString();
        ASSERT_TRUE(server->start(QStringLiteral("127.0.0.1"), 0, nullptr));
    }
    void add(const StoredRun& r)
    {
        store::Backend db(owner);
        ASSERT_TRUE(db.open()) << db.problem().why.toStdString();
        ASSERT_EQ(store::storeRun(db, reportOf(r), QStringLiteral("/reports/r%1.json").arg(r.seed), QStringLiteral("st")),
                  store::Stored::Added) << db.problem().why.toStdString();
    }
    // capability?since=DAY (QUERY: that, or none for the default window, whose
    // first hours hold no run) has the history's figures for the same runs.
    void expectTheHistorys(const QDate& since, const std::string& query, qsizetype keys)
    {
        SCOPED_TRACE(query);
        QString error;
        const std::optional<History> h = store::readStoreHistory(owner, {{}, {}, since}, &error);
        ASSERT_TRUE(h) << error.toStdString();
        const QJsonArray history = historyJson(*h)[u"results"].toArray();
        const QJsonArray capability = get("/api/v1/capability" + query)[u"capability"].toArray();
        ASSERT_EQ(capability.size(), history.size());
        ASSERT_EQ(capability.size(), keys);
        for (int i = 0; i < capability.size(); ++i)
            for (const char* name : {"check", "kind", "channel", "quantity", "unit", "reference", "n", "figures", "mean_error", "sd_error",
                                     "min_error", "max_error", "limit", "cpk", "marginal"})
                EXPECT_EQ(capability[i][QLatin1String(name)], history[i][QLatin1String(name)]) << name;
    }
    QJsonObject get(const std::string& path)
    {
        httplib::Client c("127.0.0.1", server->port());
        const httplib::Result res = c.Get(path.c_str());
        EXPECT_TRUE(res && res->status == 200) << path << ": " << (res ? res->body : "no answer");
        return res ? QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object() : QJsonObject();
    }
    QTemporaryDir dir;
    StoreAddress owner, reader;  // reader: the bench role on PostgreSQL, which may SELECT
    qint64 now = kNow;
    std::optional<line::Snapshotter> snapshots;
    std::optional<line::LineServer> server;
};

QJsonObject yieldOf(int runs, int passed, int withoutId, int boards, int firstPass, QJsonValue fpy, QJsonValue fy, int retests)
{
    return {{"runs", runs},           {"passed", passed},   {"failed", runs - passed},    {"runs_without_board_id", withoutId},
            {"boards", boards},       {"first_pass_boards", firstPass}, {"first_pass_yield", fpy}, {"final_yield", fy},
            {"retests", retests}};
}

QJsonObject without(QJsonObject o, std::initializer_list<const char*> keys)
{
    for (const char* k : keys) o.remove(QLatin1String(k));
    return o;
}

// The figures a supervisor reads: a retest is no first pass, a run judged
// again counts nowhere, a run without a board ID counts only as a run.
TEST_P(LineTest, FiguresAreThoseOfTheRows)
{
    const QJsonObject y = get("/api/v1/yield");
    EXPECT_EQ(without(y, {"per_bench", "per_day", "as_of", "stale", "age_s", "since", "until"}),
              yieldOf(6, 5, 1, 4, 3, 2.0 / 3, 1.0, 2));
    EXPECT_EQ(y[u"since"].toString(), QStringLiteral("2026-12-07T12:00:00.000Z"));
    EXPECT_FALSE(y[u"stale"].toBool());
    const QJsonArray perBench = y[u"per_bench"].toArray();
    ASSERT_EQ(perBench.size(), 4);
    struct Row { const char* bench; QJsonObject figures; };
    const Row rows[] = {
        {"", yieldOf(1, 1, 0, 1, 1, 1.0, 1.0, 0)},
        {"A", yieldOf(2, 2, 0, 2, 0, QJsonValue::Null, 1.0, 2)},
        {"B", yieldOf(2, 1, 0, 2, 2, 0.5, 0.5, 0)},
        {"C", yieldOf(1, 1, 1, 0, 0, QJsonValue::Null, QJsonValue::Null, 0)},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(rows[i].bench);
        EXPECT_EQ(perBench[i][u"bench"].toString(), QLatin1String(rows[i].bench));
        EXPECT_EQ(without(perBench[i].toObject(), {"bench"}), rows[i].figures);
    }

    const QJsonArray benches = get("/api/v1/benches")[u"benches"].toArray();
    ASSERT_EQ(benches.size(), 4);
    EXPECT_EQ(benches[2].toObject(), (QJsonObject{{"bench", "B"}, {"runs", 2}, {"passed", 1}, {"failed", 1}, {"first_pass_yield", 0.5},
                                                 {"last_run_utc", "2026-12-08T10:00:00.000Z"}, {"last_verdict", "fail"},
                                                 {"seconds_since_last_run", 7200}}));

    EXPECT_EQ(get("/api/v1/pareto")[u"pareto"].toArray(),
              (QJsonArray{QJsonObject{{"check", "static"}, {"channel", 2}, {"failed_runs", 1}}}));

    // Capability: the history's figures for the same runs, today's and
    // (from the snapshot's rows, which reach back from the second) both days'.
    ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
    expectTheHistorys(QDate(2026, 12, 8), "", 2);
    expectTheHistorys(QDate(2026, 12, 7), "?since=2026-12-07", 2);
    EXPECT_EQ(get("/api/v1/capability")[u"capability"][0][u"n"].toInt(), 6);
    EXPECT_EQ(get("/api/v1/capability?since=2026-12-07")[u"capability"][0][u"n"].toInt(), 7);
    EXPECT_EQ(get("/api/v1/pareto?since=2026-12-07")[u"pareto"].toArray(),
              (QJsonArray{QJsonObject{{"check", "static"}, {"channel", 1}, {"failed_runs", 1}},
                          QJsonObject{{"check", "static"}, {"channel", 2}, {"failed_runs", 1}}}));
    const QJsonArray capability = get("/api/v1/capability")[u"capability"].toArray();

    // Its key opens the control chart of that result's points, oldest first.
    const QJsonObject spc = get("/api/v1/spc?key=" + QUrl::toPercentEncoding(capability[0][u"key"].toString()).toStdString());
    EXPECT_EQ(spc[u"points"].toArray().size(), 7);  // every run but the one judged again
    // Its points are written by hand, as Qt writes them.
    const QByteArray chart = *line::spcJson(snapshots->published().snapshot->data, capability[0][u"key"].toString());
    EXPECT_EQ(QJsonDocument::fromJson(chart).toJson(QJsonDocument::Compact), chart);
    EXPECT_EQ(spc[u"points"][0][u"board_id"].toString(), QStringLiteral("b1"));

    const QJsonArray markup = get("/api/v1/board?id=" + QUrl::toPercentEncoding(kMarkup).toStdString())[u"runs"].toArray();
    ASSERT_EQ(markup.size(), 1);
    EXPECT_EQ(markup[0][u"bench"].toString(), QString());
    EXPECT_EQ(get("/api/v1/board?id=nobody")[u"runs"].toArray(), QJsonArray());
}

// Refused requests say why in one line, change nothing, and carry the same
// headers as any answer; an unchanged answer is a 304.
TEST_P(LineTest, RequestsAreAnsweredOrRefusedAsTheApiSays)
{
    httplib::Client c("127.0.0.1", server->port());
    const QByteArray before = QJsonDocument(get("/api/v1/yield")).toJson();
    struct Case {
        const char* name;
        std::function<httplib::Result()> ask;
        int status;
        std::string body;  // its start
    };
    const Case cases[] = {
        {"POST", [&] { return c.Post("/api/v1/yield", "{}", "application/json"); }, 405, "method not allowed"},
        {"DELETE", [&] { return c.Delete("/api/v1/board?id=b1"); }, 405, "method not allowed"},
        {"a bad since", [&] { return c.Get("/api/v1/yield?since=yesterday"); }, 400, "since: "},
        {"a window too long", [&] { return c.Get("/api/v1/pareto?since=2024-01-01"); }, 400, "since: "},
        {"results older than the snapshot holds", [&] { return c.Get("/api/v1/capability?since=2024-01-01&until=2024-12-01"); }, 400,
         "since: the results' figures reach back to "},
        {"until before since", [&] { return c.Get("/api/v1/benches?since=2026-12-08&until=2026-12-07"); }, 400, "until: "},
        {"no key", [&] { return c.Get("/api/v1/spc"); }, 400, "key: "},
        {"an unknown key", [&] { return c.Get("/api/v1/spc?key=nothing"); }, 404, "key: "},
        {"an unknown path", [&] { return c.Get("/api/v2/yield"); }, 404, "not found"},
        {"HEAD", [&] { return c.Head("/api/v1/yield"); }, 200, ""},
        // As a browser asks: the library's brotli would spend seconds on a control chart.
        {"a browser's API request", [&] { return c.Get("/api/v1/capability", {{"Accept-Encoding", "gzip, deflate, br"}}); }, 200, "{"},
        {"a browser's page request", [&] { return c.Get("/chart.min.js", {{"Accept-Encoding", "gzip, deflate, br"}}); }, 200, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const httplib::Result res = k.ask();
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, k.status);
        EXPECT_EQ(res->body.substr(0, k.body.size()), k.body);
        EXPECT_EQ(res->get_header_value("Content-Security-Policy"), "default-src 'self'");
        EXPECT_EQ(res->get_header_value_count("Content-Security-Policy"), 1u);
        EXPECT_EQ(res->get_header_value("X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(res->get_header_value("Referrer-Policy"), "no-referrer");
        EXPECT_FALSE(res->get_header_value("Content-Type").empty());
        EXPECT_FALSE(res->has_header("Content-Encoding"));
        if (k.status == 405) {
            EXPECT_EQ(res->get_header_value("Allow"), "GET, HEAD");
        }
        if (k.status >= 400) {
            EXPECT_EQ(std::count(res->body.begin(), res->body.end(), '\n'), 1);
        }
    }
    // Nothing above changed the store or the figures.
    EXPECT_TRUE(snapshots->poll(now += line::kRecomputeMs));
    EXPECT_EQ(without(get("/api/v1/yield"), {"as_of", "age_s", "since", "until"}),
              without(QJsonDocument::fromJson(before).object(), {"as_of", "age_s", "since", "until"}));

    const httplib::Result first = c.Get("/api/v1/pareto");
    ASSERT_TRUE(first);
    const std::string etag = first->get_header_value("ETag");
    ASSERT_FALSE(etag.empty());
    const httplib::Result again = c.Get("/api/v1/pareto", {{"If-None-Match", etag}});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 304);
}

// A new run shows within the next look (5 s at most), not before; a store
// that goes away leaves the last figures, stale, and /healthz says why.
TEST_P(LineTest, TheSnapshotFollowsTheStoreAndSurvivesItsAbsence)
{
    const std::string chart = "/api/v1/spc?key=" + QUrl::toPercentEncoding(get("/api/v1/capability")[u"capability"][0][u"key"].toString()).toStdString();
    ASSERT_EQ(get(chart)[u"points"].toArray().size(), 7);
    add({"b9", "A", kNow - kHour / 12, 1, 9});  // failing on channel 1
    EXPECT_FALSE(snapshots->poll(now + 1000));
    EXPECT_EQ(get("/api/v1/yield")[u"runs"].toInt(), 6);
    EXPECT_TRUE(snapshots->poll(now += line::kLookMs));
    EXPECT_EQ(get("/api/v1/yield")[u"runs"].toInt(), 7);
    // What is kept from the reads before and what the new run adds, together.
    EXPECT_EQ(get("/api/v1/pareto")[u"pareto"].toArray(),
              (QJsonArray{QJsonObject{{"check", "static"}, {"channel", 1}, {"failed_runs", 1}},
                          QJsonObject{{"check", "static"}, {"channel", 2}, {"failed_runs", 1}}}));
    // The rows held from before, those of the new run, and those of the
    // days before the first window, which this look reached back for.
    EXPECT_EQ(get("/api/v1/capability?since=2026-12-07")[u"capability"][0][u"n"].toInt(), 8);
    const QJsonArray points = get(chart)[u"points"].toArray();
    ASSERT_EQ(points.size(), 8);
    EXPECT_EQ(points[7][u"board_id"].toString(), QStringLiteral("b9"));
    EXPECT_FALSE(snapshots->poll(now += line::kLookMs));  // unchanged: nothing computed again

    // A run stored late (from a bench's outbox) that started before b3's
    // first: b3's first pass is now that one, and its failed run a retest.
    add({"b3", "C", kNow - 4 * kHour, 0, 13});
    ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
    EXPECT_EQ(without(get("/api/v1/yield"), {"per_bench", "per_day", "as_of", "stale", "age_s", "since", "until"}),
              yieldOf(8, 6, 1, 5, 4, 0.75, 0.8, 3));

    if (GetParam() == Driver::Postgresql) {
        // A run whose bench took its row before another's but committed
        // after it: it shows under a row below those read, and counts all
        // the same.
        store::Backend db(owner);
        ASSERT_TRUE(db.open() && db.exec(QStringLiteral("SELECT setval('runs_id_seq', 100)")));
        add({"b10", "B", kNow - kHour / 15, 0, 11});
        ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
        ASSERT_TRUE(db.exec(QStringLiteral("SELECT setval('runs_id_seq', 50)")));
        add({"b11", "B", kNow - kHour / 20, 1, 12});
        ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
        EXPECT_EQ(get("/api/v1/yield")[u"runs"].toInt(), 10);
        EXPECT_EQ(get("/api/v1/pareto")[u"pareto"][0].toObject(), (QJsonObject{{"check", "static"}, {"channel", 1}, {"failed_runs", 2}}));
        expectTheHistorys(QDate(2026, 12, 7), "?since=2026-12-07", 2);
        EXPECT_EQ(get(chart)[u"points"].toArray().size(), 11);
    }

    // An address the server refuses, with a password that must not show.
    StoreAddress away = reader;
    if (GetParam() == Driver::Sqlite) away.path = dir.filePath(QStringLiteral("gone/results.sqlite"));
    else away.database = QStringLiteral("no_such_db"), away.password = QStringLiteral("hunter2-secret");
    line::Snapshotter gone(away);
    EXPECT_FALSE(gone.poll(now));
    const line::Reply health = line::LineService(gone, [this] { return now; }).healthz();
    EXPECT_EQ(health.status, 503);
    EXPECT_TRUE(health.body.startsWith("store: ")) << health.body.toStdString();
    EXPECT_FALSE(health.body.contains("hunter2")) << health.body.toStdString();

    if (GetParam() != Driver::Sqlite) return;
    // The file taken away and put back.
    ASSERT_TRUE(QFile::rename(owner.path, owner.path + QStringLiteral(".away")));
    EXPECT_FALSE(snapshots->poll(now += line::kLookMs));
    const QJsonObject stale = get("/api/v1/yield");
    EXPECT_TRUE(stale[u"stale"].toBool());
    EXPECT_EQ(stale[u"runs"].toInt(), 8);
    EXPECT_DOUBLE_EQ(stale[u"age_s"].toDouble(), 5.0);
    httplib::Client c("127.0.0.1", server->port());
    EXPECT_EQ(c.Get("/healthz")->status, 503);
    ASSERT_TRUE(QFile::rename(owner.path + QStringLiteral(".away"), owner.path));
    snapshots->poll(now += line::kLookMs);
    EXPECT_FALSE(get("/api/v1/yield")[u"stale"].toBool());
    EXPECT_EQ(c.Get("/healthz")->body, "ok\n");
}

// The rows before the first window come a part at each look; a window they
// do not reach yet is refused, one they reach has the history's figures,
// whole days added as they are. A run that makes an earlier one a copy
// takes that one out of its day, though the day gains no row.
TEST_P(LineTest, ReachesBackInPartsWithTheHistorysFigures)
{
    // Their limits differ: the latest run's is the one that counts.
    for (int d = 2; d <= 6; ++d) add({"b8", "A", kNow - d * line::kDayMs - kHour, 0, 40 + d, 0, 0, d == 4, 4 + 0.1 * d});
    snapshots->reader().setPartRuns(2);
    // Before the first window: the run of 2026-12-07 06:00, and one a day from 12-06 back to 12-02.
    struct Look { QDate reached; int keys; bool reaching; };
    for (const Look& look : {Look{QDate(2026, 12, 6), 2, true}, Look{QDate(2026, 12, 4), 3, true}, Look{QDate(2026, 12, 2), 3, false}}) {
        SCOPED_TRACE(look.reached.toString(Qt::ISODate).toStdString());
        ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
        EXPECT_EQ(snapshots->reachingBack(), look.reaching);
        expectTheHistorys(look.reached, "?since=" + look.reached.toString(Qt::ISODate).toStdString(), look.keys);
        httplib::Client c("127.0.0.1", server->port());
        EXPECT_EQ(c.Get(("/api/v1/capability?since=" + look.reached.addDays(-1).toString(Qt::ISODate).toStdString()).c_str())->status,
                  look.reaching ? 400 : 200);
    }
    // Stored again on 12-05 from 12-04's recording, under a report path
    // that sorts first: the one 12-04 held is now the copy.
    add({"b8", "A", kNow - 3 * line::kDayMs, 0, 399, 0, 44, true});
    ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
    expectTheHistorys(QDate(2026, 12, 3), "?since=2026-12-03", 3);
    EXPECT_EQ(get("/api/v1/capability?since=2026-12-03")[u"capability"][0][u"n"].toInt(), 11);

    // A run purged from the store leaves the figures, its day's among them.
    store::Backend db(owner);
    ASSERT_TRUE(db.open());
    for (const char* purge : {"DELETE FROM results WHERE run IN (SELECT id FROM runs WHERE report_path = '/reports/r46.json')",
                              "DELETE FROM runs WHERE report_path = '/reports/r46.json'"})
        ASSERT_TRUE(db.exec(QLatin1String(purge))) << db.problem().why.toStdString();
    do ASSERT_TRUE(snapshots->poll(now += line::kLookMs));
    while (snapshots->reachingBack());
    expectTheHistorys(QDate(2026, 12, 1), "?since=2026-12-01", 3);
    // Whole days alone: the latest limit is 12-06's.
    EXPECT_DOUBLE_EQ(get("/api/v1/capability?since=2026-12-02&until=2026-12-07")[u"capability"][0][u"limit"].toDouble(), 4.2);
}

TEST_P(LineTest, TheTokenGuardsTheApiAndTheReaderWritesNothing)
{
    // The reader's connection refuses a write even to the store's owner.
    store::Backend readOnly(owner);
    readOnly.setReadOnly();
    ASSERT_TRUE(readOnly.open()) << readOnly.problem().why.toStdString();
    EXPECT_FALSE(readOnly.exec(QStringLiteral("DELETE FROM runs")));
    store::Backend writer(owner);
    ASSERT_TRUE(writer.open());
    std::optional<QSqlQuery> left = writer.exec(QStringLiteral("SELECT COUNT(*) FROM runs"));
    ASSERT_TRUE(left && left->next());
    EXPECT_EQ(left->value(0).toInt(), int(kRuns.size()));

    const QString token = QStringLiteral("s3cret-token");
    line::LineServer guarded(*snapshots, token, [this] { return now; });
    ASSERT_TRUE(guarded.start(QStringLiteral("127.0.0.1"), 0, nullptr));
    httplib::Client c("127.0.0.1", guarded.port());
    const httplib::Result refused = c.Get("/api/v1/yield", {{"Authorization", "Bearer wrong"}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    EXPECT_EQ(refused->get_header_value("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(c.Get("/api/v1/yield", {{"Authorization", "Bearer s3cret-token"}})->status, 200);
    EXPECT_EQ(c.Get("/")->status, 200);  // the page asks for the token itself
}

// Western Electric flags on the point that completes each pattern, and only
// there; sigma from the mean moving range.
TEST(LineControlChart, FlagsGoOnThePointThatCompletesThePattern)
{
    auto alternating = [](int n) {
        std::vector<double> v;
        for (int i = 0; i < n; ++i) v.push_back(i % 2);
        return v;
    };
    struct Case {
        const char* name;
        std::vector<double> values;
        std::map<std::size_t, std::vector<int>> flags;  // the points flagged, with their flags
        double sigma;
    };
    std::vector<double> outlier = alternating(20), eight = alternating(16), seven = std::vector<double>(7, 1.0);
    outlier.push_back(10);  // 7.3 sigma out; moving ranges 19 x 1 and 9
    eight.insert(eight.end(), 8, 1.0);  // 1 is above the centre 2/3: with the 1 before them, nine in a row
    seven.insert(seven.end(), {0.0, 0.0});
    const Case cases[] = {
        {"a point beyond 3 sigma", outlier, {{20, {1}}}, 28.0 / 20 / 1.128},
        {"the 8th point on one side and the 9th", eight, {{22, {4}}, {23, {4}}}, 15.0 / 23 / 1.128},
        // 1 is 2.005 sigma above the centre 7/9, 0 is 7 below: rule 2 from the
        // third point, rule 3 from the fifth, never a run of 8.
        {"seven high then two far low", seven, {{2, {2}}, {3, {2}}, {4, {2, 3}}, {5, {2, 3}}, {6, {2, 3}}, {7, {1}}, {8, {1, 2}}},
         1.0 / 8 / 1.128},
        {"a flat line", std::vector<double>(12, 2.5), {}, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const line::ControlChart chart = line::controlChart(c.values);
        EXPECT_NEAR(chart.sigma, c.sigma, 1e-12);
        std::map<std::size_t, std::vector<int>> flagged;
        for (std::size_t i = 0; i < chart.flags.size(); ++i)
            if (!chart.flags[i].empty()) flagged[i] = chart.flags[i];
        EXPECT_EQ(flagged, c.flags);
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, LineTest, ::testing::Values(Driver::Sqlite, Driver::Postgresql),
                         [](const auto& info) { return info.param == Driver::Sqlite ? "Sqlite" : "Postgresql"; });

// The page in a real browser shows the API's figures, and a board ID that is
// markup stays text. QUORVID_LINE_SHOT=FILE.png also takes the README's picture.
TEST(LinePage, ShowsTheFiguresAndStoredTextAsText)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) GTEST_SKIP() << "no chromium (scripts/deps.sh installs it)";
    QTemporaryDir dir, profile;
    StoreAddress a;
    a.kind = StoreAddress::Kind::Sqlite;
    a.path = dir.filePath(QStringLiteral("results.sqlite"));
    ASSERT_TRUE(store::initSchema(a, nullptr, nullptr));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (StoredRun r : kRuns) {
        r.startedMs += now - kNow;  // today's, so that the browser's week holds them too
        store::Backend db(a);
        ASSERT_TRUE(db.open());
        ASSERT_EQ(store::storeRun(db, reportOf(r), QStringLiteral("/r/%1.json").arg(r.seed), QStringLiteral("st")), store::Stored::Added);
    }
    line::Snapshotter snapshots(a);
    ASSERT_TRUE(snapshots.poll(now));
    line::LineServer server(snapshots, {}, [now] { return now; });
    ASSERT_TRUE(server.start(QStringLiteral("127.0.0.1"), 0, nullptr));
    const QString key = QString::fromLatin1(QUrl::toPercentEncoding(snapshots.published().snapshot->data.keys[0].text));
    const QString url = QStringLiteral("http://127.0.0.1:%1/?board=%2&key=%3")
                            .arg(server.port())
                            .arg(QString::fromLatin1(QUrl::toPercentEncoding(kMarkup)), key);
    QStringList args{QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                     QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                     QStringLiteral("--user-data-dir=") + profile.path(), QStringLiteral("--virtual-time-budget=8000"),
                     QStringLiteral("--window-size=1280,2200")};
    QProcess browser;
    browser.start(chromium, args + QStringList{QStringLiteral("--dump-dom"), url});
    ASSERT_TRUE(browser.waitForFinished(60000)) << browser.errorString().toStdString();
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    ASSERT_TRUE(dom.contains(QStringLiteral("data-loaded=\"yes\""))) << dom.left(3000).toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("<dd id=\"first-pass-yield\">66.7 %</dd>"))) << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("<dd id=\"retests\">2</dd>")));
    EXPECT_TRUE(dom.contains(QStringLiteral("<dd id=\"runs\">6</dd>")));
    EXPECT_TRUE(dom.contains(QStringLiteral("<td>static</td><td class=\"num\">2</td><td class=\"num\">1</td>")));
    EXPECT_TRUE(dom.contains(QStringLiteral("1 runs of &lt;img src=x onerror=document.title='owned'&gt;")));
    EXPECT_FALSE(dom.contains(QStringLiteral("<img")));
    // The chart drawn (a failure would stand in its title), its flagged point listed.
    EXPECT_TRUE(dom.contains(QStringLiteral("<p id=\"spc-title\">static ch1 pressure at 100 mmHg: centre 0.911, limits -1.868 to 3.691</p>")));
    EXPECT_TRUE(dom.contains(QRegularExpression(QStringLiteral("<canvas id=\"spc-chart\"[^>]* width=\"[1-9]"))));
    EXPECT_TRUE(dom.contains(QStringLiteral("<td>b1</td><td>A</td><td>5.500</td><td>1</td>")));
    EXPECT_FALSE(dom.contains(QStringLiteral("owned</title>")));

    if (const QString shot = qEnvironmentVariable("QUORVID_LINE_SHOT"); !shot.isEmpty()) {
        QProcess camera;
        camera.start(chromium, args + QStringList{QStringLiteral("--hide-scrollbars"), QStringLiteral("--screenshot=") + shot,
                                                  url.section(u'?', 0, 0) + QStringLiteral("?key=") + key});
        ASSERT_TRUE(camera.waitForFinished(60000));
        EXPECT_TRUE(QFile::exists(shot));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
