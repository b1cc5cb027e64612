// A station on simulated time: a board model behind each scripted serial
// control, one reference setter putting the control words into every model at
// once (a manifold), the station running the plan on all boards in step.
#include "boardmodel.h"
#include "fakeserialcontrol.h"
#include "history.h"
#include "portnames.h"
#include "plan.h"
#include "report.h"
#include "rescore.h"
#include "station.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <set>
#include <string>

using namespace quorvid;
using namespace quorvid::evaluate;
using sim::SimTime;

namespace {

// Sets every board's pressure source at once, as one calibrator through a
// manifold; refuses the request numbered refuseAt (from 1) when set.
class ManifoldReference : public ReferenceSetter {
public:
    explicit ManifoldReference(std::vector<std::unique_ptr<sim::BoardModel>>& models, const SimTime& now)
        : m_models(models), m_now(now) {}
    void request(const ReferenceRequest& r) override
    {
        ++requests;
        if (requests == refuseAt) {
            emit finished(ReferenceOutcome::Aborted, QStringLiteral("the reference command exited with status 1"));
            return;
        }
        for (auto& model : m_models)
            for (const QString& line : {QStringLiteral("ch1 ") + r.ch1, QStringLiteral("ch2 ") + r.ch2, QStringLiteral("rate %1").arg(r.rate)})
                EXPECT_EQ(model->applySetting(line.toStdString(), m_now), "") << line.toStdString();
        emit finished(ReferenceOutcome::Set, {});
    }
    int requests = 0;
    int refuseAt = 0;

private:
    std::vector<std::unique_ptr<sim::BoardModel>>& m_models;
    const SimTime& m_now;
};

// planTable: a [plan] table put before the checks.
Plan shortPlan(const char* planTable = "")
{
    const PlanResult r = parsePlan(std::string(planTable) + "[[check]]\nkind = \"identify\"\n[[check]]\nkind = \"speed\"\nrates = [50]\nmeasure_s = 1\n"
                                   "[[check]]\nkind = \"static\"\npoints = [0, 100]\nsettle_s = 1\nmeasure_s = 2\n",
                                   QStringLiteral("short"));
    EXPECT_TRUE(r.plan) << r.error.toStdString();
    return r.plan.value_or(Plan{});
}

// n boards, board k with seed k; each hears what was written to its control.
class Bench {
public:
    explicit Bench(int n, QString folder = {})
        : reference(models, now)
    {
        name = (folder.isEmpty() ? dir.path() : folder) + QStringLiteral("/r");
        for (int k = 1; k <= n; ++k) {
            sim::BoardOptions options;
            options.seed = std::uint64_t(k), options.number = k, options.count = n;
            models.push_back(std::make_unique<sim::BoardModel>(options));
            auto comm = std::make_unique<FakeSerialControl>();
            comm->setOpenablePorts({k});
            EXPECT_TRUE(comm->setCommPort(k) && comm->setRThreshold(1) && comm->setPortOpen(true));
            comms.push_back(std::move(comm));
            heard.push_back(0);
            deaf.push_back(false);
            lag.push_back(0);
            sizes.emplace_back();
            ids << QStringLiteral("SN%1").arg(k);
        }
    }

    void create(Plan plan)
    {
        std::vector<StationBoard> boards;
        for (std::size_t i = 0; i < comms.size(); ++i) {
            StationBoard b{comms[i].get(), comName(int(i) + 1), ids.value(qsizetype(i)), kStartUpState, {}, false};
            if (i < openErrors.size()) b.openError = openErrors[i];
            if (!b.openError.isEmpty()) (void)comms[i]->setPortOpen(false);
            boards.push_back(b);
        }
        QString error;
        station = Station::create(std::move(boards), reference, std::move(plan), {name, QStringLiteral("Test Operator"), QStringLiteral("test"), equipment},
                                  &error, {[this] { return 1'796'000'000'000 + now.count() / 1000; }, [this] { return now.count(); }});
        ASSERT_TRUE(station) << error.toStdString();
    }

    // Runs to the summary; each() runs at every 40 ms read.
    void run(Plan plan, const std::function<void()>& each = {})
    {
        create(std::move(plan));
        station->start();
        while (!station->reportDone() && now < SimTime{600'000'000}) {
            tick();
            if (each) each();
            QCoreApplication::processEvents();  // the reports are written from the event loop
        }
        ASSERT_TRUE(station->reportDone());
        // What the runs wrote last (the speed set again) reaches the boards.
        for (std::size_t i = 0; i < comms.size(); ++i) {
            const QByteArray all = comms[i]->written();
            if (!deaf[i] && all.size() > heard[i])
                models[i]->feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(all.constData()) + heard[i], std::size_t(all.size() - heard[i])), now);
        }
    }

    // 40 ms of every board: what it heard, what it sent, and the sessions' polls.
    void tick()
    {
        for (std::size_t i = 0; i < comms.size(); ++i) {
            // A board with a lag hears what was written that many reads ago.
            const QByteArray all = comms[i]->written();
            sizes[i].push_back(all.size());
            if (qsizetype(sizes[i].size()) <= lag[i]) continue;
            const qsizetype upTo = sizes[i].front();
            sizes[i].pop_front();
            if (!deaf[i] && upTo > heard[i])
                models[i]->feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(all.constData()) + heard[i], std::size_t(upTo - heard[i])), now);
            heard[i] = std::max(heard[i], upTo);
        }
        now += SimTime{40'000};
        for (std::size_t i = 0; i < comms.size(); ++i) {
            QByteArray block;
            for (const sim::DueFrame& f : models[i]->takeDue(now)) block.append(reinterpret_cast<const char*>(f.bytes.data()), qsizetype(f.bytes.size()));
            if (!block.isEmpty() && comms[i]->portOpen()) comms[i]->deliver(block);
        }
        for (int i = 0; station && i < station->boardCount(); ++i) station->session(i).poll();
    }

    // "static ch1 pressure 100" for each failed result of a board.
    std::set<std::string> failed(int board) const
    {
        std::set<std::string> rows;
        for (const CheckOutcome& o : station->session(board).evaluation().outcomes())
            for (const Result& r : o.results)
                if (r.verdict == Verdict::Fail)
                    rows.insert(QStringLiteral("%1 ch%2 %3 %4").arg(o.name).arg(r.channel).arg(r.quantity).arg(r.reference.value_or(-1)).toStdString());
        return rows;
    }

    QJsonObject json(const QString& file) const
    {
        QFile f(QFileInfo(name).dir().filePath(file));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        return QJsonDocument::fromJson(f.readAll()).object();
    }

    QTemporaryDir dir;
    QString name;
    SimTime now{0};
    std::vector<std::unique_ptr<sim::BoardModel>> models;
    std::vector<std::unique_ptr<FakeSerialControl>> comms;
    std::vector<qsizetype> heard;
    std::vector<bool> deaf;
    std::vector<qsizetype> lag;  // reads
    std::vector<std::deque<qsizetype>> sizes;
    QStringList ids;
    QString equipment;  // the reference equipment the run names
    std::vector<QString> openErrors;
    ManifoldReference reference;
    std::unique_ptr<Station> station;
};

}  // namespace

// Three boards, the second reading 6 % high on channel 1: its six gain
// results fail and nothing else; each reference is set once for all; every
// board measures over the same interval of the one clock.
TEST(Station, ThreeBoardsInStepOnlyTheHighOneFails)
{
    Bench bench(3);
    ASSERT_EQ(bench.models[1]->applySetting("ch1 gain 1.06", SimTime{0}), "");
    // The third board answers a fifth of a second late: the others wait for it.
    bench.lag[2] = 5;
    bench.run(defaultPlan());

    EXPECT_EQ(bench.failed(0), std::set<std::string>{});
    EXPECT_EQ(bench.failed(1), (std::set<std::string>{"static ch1 pressure 100", "static ch1 pressure 200", "static ch1 pressure 300",
                                                      "dynamic ch1 systolic 120", "dynamic ch1 mean 93.3333", "dynamic ch1 diastolic 80"}));
    EXPECT_EQ(bench.failed(2), std::set<std::string>{});
    EXPECT_EQ(bench.station->report().verdict, Verdict::Fail);
    // Zero, five static points, the dynamic shapes, four sines and two mains:
    // once each, not thrice.
    EXPECT_EQ(bench.reference.requests, 13);
    EXPECT_EQ(bench.station->referenceRequests(), 13);
    EXPECT_LT(bench.now, SimTime{150'000'000}) << "the station took much longer than one board";

    // The same intervals, result by result: every window of speed, zero,
    // static, frequency and mains; the dynamic check's beats begin within a beat of
    // each other.
    const auto& first = bench.station->session(0).evaluation().outcomes();
    int compared = 0;
    for (int b = 1; b < 3; ++b) {
        const auto& other = bench.station->session(b).evaluation().outcomes();
        ASSERT_EQ(other.size(), first.size());
        for (std::size_t c = 0; c < first.size(); ++c) {
            ASSERT_EQ(other[c].results.size(), first[c].results.size()) << first[c].name.toStdString();
            for (std::size_t r = 0; r < first[c].results.size(); ++r) {
                const Result &a = first[c].results[r], &o = other[c].results[r];
                SCOPED_TRACE(QStringLiteral("board %1 %2 %3").arg(b + 1).arg(first[c].name, describe(a)).toStdString());
                if (a.quantity == u"frame rate" || a.quantity == u"zero" || a.quantity == u"pressure" || a.frequencyHz) {
                    EXPECT_EQ(o.fromMs, a.fromMs);
                    EXPECT_EQ(o.toMs, a.toMs);
                    ++compared;
                } else if (first[c].kind == CheckKind::Dynamic && a.channel) {
                    EXPECT_LT(std::abs(o.fromMs - a.fromMs), 1000);
                }
            }
        }
    }
    EXPECT_EQ(compared, 2 * (3 + 2 + 10 + 8 + 4));

    // The summary, and each board's own report beside it.
    const QJsonObject summary = bench.json(QStringLiteral("r.json"));
    EXPECT_TRUE(summary[u"station"].toBool());
    EXPECT_EQ(summary[u"verdict"].toString(), u"fail");
    EXPECT_EQ(summary[u"operator"].toString(), u"Test Operator");
    const QJsonArray boards = summary[u"boards"].toArray();
    ASSERT_EQ(boards.size(), 3);
    for (int b = 0; b < 3; ++b) {
        const QJsonObject o = boards[b].toObject();
        SCOPED_TRACE(b + 1);
        EXPECT_EQ(o[u"board_id"].toString(), QStringLiteral("SN%1").arg(b + 1));
        EXPECT_EQ(o[u"port"].toString(), QStringLiteral("COM%1").arg(b + 1));
        EXPECT_EQ(o[u"verdict"].toString(), b == 1 ? u"fail" : u"pass");
        EXPECT_EQ(o[u"failed"].toInt(), b == 1 ? 6 : 0);
        EXPECT_EQ(o[u"identification"].toString().toStdString(), sim::BoardModel::identificationText(b + 1, 3));
        EXPECT_EQ(o[u"report"].toString(), QStringLiteral("r-SN%1.json").arg(b + 1));
        const QJsonObject own = bench.json(o[u"report"].toString());
        EXPECT_EQ(own[u"board_id"].toString(), QStringLiteral("SN%1").arg(b + 1));
        EXPECT_EQ(own[u"started_utc"].toString(), summary[u"started_utc"].toString());
        EXPECT_EQ(own[u"recording"][u"csv"].toString(), QStringLiteral("r-SN%1.csv").arg(b + 1));
    }
    QStringList lines = stationSummaryLines(*bench.station);
    EXPECT_EQ(lines.last(), u"Station: FAIL (1 of 3 boards failed)");
    EXPECT_TRUE(lines.at(lines.size() - 3).startsWith(QStringLiteral("SN2       FAIL (6 of 45 results failed)"))) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^  SN2 +FAIL "))).size(), 6);
    // Every board as it was before the run.
    for (const auto& model : bench.models) EXPECT_EQ(model->framesPerSecond(), 100);
}

// Faults stay with their board, save one that is everyone's: the reference.
TEST(Station, FaultsStayWithTheirBoard)
{
    struct Case {
        const char* name;
        std::function<void(Bench&)> before;      // before the run
        std::function<void(Bench&)> during;      // at every read
        const char* aborted[2];                  // each board's reason, "" for none
        Verdict verdicts[2];
    };
    const Case cases[] = {
        {"the first board's line goes away while measuring",
         {},
         [](Bench& b) {
             if (b.comms[0]->portOpen() && b.station->session(0).evaluation().outcomes().size() == 3 && b.now > SimTime{5'000'000})
                 b.comms[0]->lose(QStringLiteral("the device was removed"));
         },
         {"the port COM1 was lost: the device was removed", ""},
         {Verdict::Fail, Verdict::Pass}},
        {"the first board never identifies itself",
         [](Bench& b) { b.deaf[0] = true; },
         {},
         {"the board on COM1 did not identify itself; it is left out", ""},
         {Verdict::Fail, Verdict::Pass}},
        {"the second board's port does not open",
         [](Bench& b) { b.openErrors = {QString(), QStringLiteral("COM2: No such file or directory")}; },
         {},
         {"", "could not open COM2: COM2: No such file or directory"},
         {Verdict::Pass, Verdict::Fail}},
        {"the reference command fails at the second reference",
         [](Bench& b) { b.reference.refuseAt = 2; },
         {},
         {"the reference command exited with status 1", "the reference command exited with status 1"},
         {Verdict::Fail, Verdict::Fail}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(2);
        if (c.before) c.before(bench);
        bench.run(shortPlan(), [&] {
            if (c.during) c.during(bench);
        });
        for (int b = 0; b < 2; ++b) {
            SCOPED_TRACE(b + 1);
            const ReportInfo& r = bench.station->session(b).report();
            EXPECT_EQ(r.aborted.toStdString(), c.aborted[b]);
            EXPECT_EQ(r.verdict, c.verdicts[b]);
            // Its report, whatever became of it.
            const QJsonObject json = bench.json(QStringLiteral("r-SN%1.json").arg(b + 1));
            EXPECT_EQ(json[u"aborted"].toString().toStdString(), c.aborted[b]);
            if (c.verdicts[b] == Verdict::Pass) {
                EXPECT_EQ(bench.failed(b), std::set<std::string>{});
                EXPECT_EQ(r.checks.size(), 3u);
            }
        }
        const QJsonObject summary = bench.json(QStringLiteral("r.json"));
        EXPECT_EQ(summary[u"verdict"].toString(), u"fail");
        EXPECT_EQ(summary[u"boards"][0][u"aborted"].toString().toStdString(), c.aborted[0]);
        // The board that carried on was not held up by the other.
        EXPECT_LT(bench.now, SimTime{30'000'000});
    }
}

// Ended from outside (Ctrl-C, the program closing): every board put back as
// it was and every report written before endNow returns.
TEST(Station, EndedFromOutsidePutsEveryBoardBackAndWritesEveryReport)
{
    Bench bench(2);
    bench.create(shortPlan());
    bench.station->start();
    while (bench.models[0]->framesPerSecond() != 50 && bench.now < SimTime{20'000'000}) bench.tick();
    ASSERT_EQ(bench.models[1]->framesPerSecond(), 50);  // both in the speed check
    bench.station->endNow(QStringLiteral("ended by a signal"));
    ASSERT_TRUE(bench.station->reportDone());
    for (int b = 0; b < 2; ++b) {
        bench.tick();  // the boards hear what they were told last
        EXPECT_EQ(bench.models[std::size_t(b)]->framesPerSecond(), 100) << b;
        EXPECT_EQ(bench.json(QStringLiteral("r-SN%1.json").arg(b + 1))[u"aborted"].toString(), u"ended by a signal");
    }
    EXPECT_EQ(bench.json(QStringLiteral("r.json"))[u"verdict"].toString(), u"fail");
}

// A board ID is made file-safe: whatever it holds, every file stays in the
// report's folder; IDs that would share a file are refused before anything.
TEST(Station, UnsafeBoardIdStaysInsideTheReportFolder)
{
    struct Safe { const char* id; const char* file; };
    for (const Safe& s : {Safe{"../x y", ".._x_y"}, Safe{"SN-0042_a.b", "SN-0042_a.b"}, Safe{"C:\\a/b:c", "C__a_b_c"},
                          Safe{"\xc3\xa9t\xc3\xa9", "_t_"}, Safe{"..", ".."}})
        EXPECT_EQ(fileSafeId(QString::fromUtf8(s.id)), QLatin1String(s.file)) << s.id;
    EXPECT_TRUE(stationIdsProblem({"a b", "a_b"}, {"COM1", "COM2"}).contains(u"the same report files"));
    EXPECT_TRUE(stationIdsProblem({"SN1", "sn1"}, {"COM1", "COM2"}).contains(u"the same report files"));
    EXPECT_TRUE(stationIdsProblem({"", "COM1"}, {"COM1", "COM2"}).contains(u"the same report files"));
    EXPECT_TRUE(stationIdsProblem({QString(65, u'x'), "b"}, {"COM1", "COM2"}).contains(u"longer than 64"));
    EXPECT_EQ(stationIdsProblem({"SN1", ""}, {"COM1", "COM2"}), QString());

    QTemporaryDir outer;
    ASSERT_TRUE(QDir(outer.path()).mkdir(QStringLiteral("reports")));
    Bench bench(2, outer.filePath(QStringLiteral("reports")));
    bench.ids = {QStringLiteral("../x y"), QString()};
    const PlanResult plan = parsePlan("[[check]]\nkind = \"identify\"\n", QStringLiteral("p"));
    bench.run(*plan.plan);
    QStringList written;
    QDirIterator it(outer.path(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) written << QDir(outer.path()).relativeFilePath(it.next());
    written.sort();
    QStringList expected{QStringLiteral("reports")};
    for (const char* board : {"r-.._x_y", "r-COM2"})
        for (const char* ext : {".bytes", ".csv", ".html", ".json", ".xml"}) expected << QStringLiteral("reports/%1%2").arg(QLatin1String(board), QLatin1String(ext));
    for (const char* ext : {".html", ".json", ".xml"}) expected << QStringLiteral("reports/r%1").arg(QLatin1String(ext));
    expected.sort();
    EXPECT_EQ(written, expected);
    // The ID itself is kept as given, and the port stands in for none.
    EXPECT_EQ(bench.json(QStringLiteral("r-.._x_y.json"))[u"board_id"].toString(), u"../x y");
    EXPECT_EQ(bench.json(QStringLiteral("r-COM2.json"))[u"board_id"].toString(), u"COM2");
}

// The summary page escapes every text that comes from outside and links
// nothing but the boards' own pages beside it; the JUnit file parses.
TEST(Station, SummaryEscapesEveryOutsideText)
{
    const QString hostile = QStringLiteral("<script>alert(1)</script>\"'&\x01");
    StationReport report;
    report.startedUtc = hostile;
    report.operatorName = hostile;
    report.version = QStringLiteral("1.0.1");
    report.plan = defaultPlan();
    report.plan.name = hostile;
    report.plan.checks[0].name = hostile;
    Result r;
    r.channel = 1, r.quantity = hostile, r.unit = QStringLiteral("mmHg"), r.verdict = Verdict::Fail, r.message = hostile;
    r.reference = 100, r.mean = 106, r.error = 6, r.limit = 4;
    StationBoardReport b;
    b.boardId = hostile;
    b.port = hostile;
    b.identification = hostile;
    b.aborted = hostile;
    b.failed = 1;
    b.report = QStringLiteral("r-x\" onclick=\"a#?.json");
    b.checks.push_back({hostile, CheckKind::Static, Verdict::Fail, {r}, {}});
    report.boards = {b, b};

    const QString html = stationHtml(report);
    for (const char* raw : {"<script", "<img", "<link", "<iframe", "url(", "@import", "http:", "https:", "onclick=\"", "\x01"})
        EXPECT_FALSE(html.contains(QLatin1String(raw), Qt::CaseInsensitive)) << raw;
    EXPECT_TRUE(html.contains(u"&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;"));
    // Links only to the boards' pages, their names percent-encoded.
    const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
    int links = 0;
    for (auto m = href.globalMatch(html); m.hasNext(); ++links)
        EXPECT_EQ(m.next().captured(1), u"r-x%22%20onclick%3D%22a%23%3F.html");
    EXPECT_EQ(links, 2);
    EXPECT_TRUE(html.contains(u">FAIL<"));

    QXmlStreamReader xml(stationJUnit(report));
    QStringList suites;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"testsuite") suites << xml.attributes().value(QStringLiteral("name")).toString();
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(suites.size(), 2);
    EXPECT_TRUE(suites.value(0).startsWith(u"<script>alert(1)</script>\"'&"));

    const QJsonObject json = stationJson(report);
    EXPECT_EQ(json[u"boards"][1][u"board_id"].toString(), hostile);
}

// One board's report names it: board_id, the top of the page, the JUnit
// suites; the port stands in when no ID is given.
TEST(Station, OneBoardsReportNamesItsBoard)
{
    ReportInfo info;
    info.port = QStringLiteral("COM1");
    info.identification = QStringLiteral("Board v2");
    info.plan = defaultPlan();
    info.checks.push_back({QStringLiteral("static"), CheckKind::Static, Verdict::Pass, {}, {}});
    for (const char* id : {"SN-0042", ""}) {
        info.boardId = QLatin1String(id);
        SCOPED_TRACE(id);
        EXPECT_EQ(reportJson(info)[u"board_id"].toString(), QLatin1String(id));
        const QString html = reportHtml(info);
        if (*id) {
            EXPECT_TRUE(html.contains(u"<h1>Board evaluation: SN-0042</h1>"));
            EXPECT_TRUE(reportJUnit(info).contains("<testsuite name=\"SN-0042: static\""));
        } else {
            EXPECT_TRUE(html.contains(u"<h1>Board evaluation</h1>"));
        }
    }
    // A session without an ID reports its port as the board's.
    QTemporaryDir dir;
    FakeSerialControl comm;
    comm.setOpenablePorts({2});
    ASSERT_TRUE(comm.setCommPort(2) && comm.setPortOpen(true));
    OperatorReferenceSetter person;
    for (const char* id : {"", "SN-7"}) {
        SessionSetup setup = sessionSetup({dir.filePath(QStringLiteral("one%1").arg(QLatin1String(id))), {}, QStringLiteral("test"), {}},
                                          {&comm, QStringLiteral("COM2"), kStartUpState, QLatin1String(id)});
        QString error;
        std::unique_ptr<Session> s = Session::create(comm, person, defaultPlan(), setup, &error);
        ASSERT_TRUE(s) << error.toStdString();
        s->endNow(QStringLiteral("ended"));
        EXPECT_EQ(s->report().boardId, *id ? QLatin1String(id) : QLatin1String("COM2"));
    }
}

// The plan's marginal band holds on every board of a station, in its result
// lines, its summary lines, the summary's JSON and page; the reference
// equipment goes into every board's report and the summary.
TEST(Station, MarginalResultsAndReferenceEquipmentOnEveryBoard)
{
    Bench bench(3);
    bench.equipment = QStringLiteral("Calibrator PC-9 SN 4411, due 2027-05-31");
    // Board 2 reads 3 % high on channel 1: +3 mmHg at 100 against a limit of
    // 4, above the band's half of it; at 0 it reads true.
    ASSERT_EQ(bench.models[1]->applySetting("ch1 gain 1.03", SimTime{0}), "");
    bench.run(shortPlan("[plan]\nmarginal_percent = 50\n"));
    EXPECT_EQ(bench.station->report().verdict, Verdict::Pass);

    std::vector<std::string> marginal;
    for (int b = 0; b < 3; ++b)
        for (const CheckOutcome& o : bench.station->session(b).report().checks)
            for (const Result& r : o.results)
                if (r.marginal) {
                    marginal.push_back(stationResultLine(bench.station->boardId(b), r, o.name).toStdString());
                    EXPECT_EQ(r.verdict, Verdict::Pass);
                }
    ASSERT_EQ(marginal.size(), 1u);
    EXPECT_EQ(marginal[0].rfind("SN2       MARGINAL  static    ch1 100 mmHg: read 103.0, error +3.0", 0), 0u) << marginal[0];
    EXPECT_EQ(stationBoardVerdict(bench.station->session(1).report()), u"PASS, 1 MARGINAL");
    EXPECT_EQ(stationBoardVerdict(bench.station->session(0).report()), u"PASS");

    const QStringList lines = stationSummaryLines(*bench.station);
    const QString all = lines.join(u'\n');
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^  SN2 +MARGINAL static ch1 100 mmHg: read 103\\.0"))).size(), 1) << all.toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("MARGINAL")).size(), 1) << all.toStdString();
    const int results = int(std::accumulate(bench.station->session(1).report().checks.begin(), bench.station->session(1).report().checks.end(),
                                            std::size_t(0), [](std::size_t n, const CheckOutcome& o) { return n + o.results.size(); }));
    EXPECT_TRUE(all.contains(QStringLiteral("SN2       PASS (0 of %1 results failed, 1 marginal)  COM2").arg(results))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("SN1       PASS (0 of %1 results failed)  COM1").arg(results))) << all.toStdString();

    const QJsonObject summary = bench.json(QStringLiteral("r.json"));
    EXPECT_EQ(summary[u"reference_equipment"].toString(), bench.equipment);
    for (int b = 0; b < 3; ++b) {
        SCOPED_TRACE(b + 1);
        EXPECT_EQ(summary[u"boards"][b][u"marginal"].toInt(-1), b == 1 ? 1 : 0);
        EXPECT_EQ(bench.json(QStringLiteral("r-SN%1.json").arg(b + 1))[u"reference_equipment"].toString(), bench.equipment);
    }
    QFile page(QFileInfo(bench.name).dir().filePath(QStringLiteral("r.html")));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(html.contains(u"<dt>Reference equipment</dt><dd>Calibrator PC-9 SN 4411, due 2027-05-31</dd>"));
    EXPECT_EQ(html.count(u"PASS, 1 MARGINAL"), 1);  // board 2's static cell
    EXPECT_TRUE(html.contains(u"MARGINAL static ch1 100 mmHg: read 103.0"));
}

// The history counts each board of a station by its own report and skips the
// station's summary, saying why; a board's run judged again keeps its ID.
TEST(Station, HistoryCountsEachBoardAndJudgingAgainKeepsItsId)
{
    Bench bench(3);
    ASSERT_EQ(bench.models[1]->applySetting("ch1 gain 1.06", SimTime{0}), "");
    bench.run(shortPlan());
    const QString folder = QFileInfo(bench.name).absolutePath();

    QString error;
    const std::optional<History> h = readHistory({folder, {}, {}}, &error);
    ASSERT_TRUE(h) << error.toStdString();
    std::vector<std::string> boards, reports, verdicts;
    for (const HistoryRun& r : h->runs)
        boards.push_back(r.boardId.toStdString()), reports.push_back(r.report.toStdString()), verdicts.push_back(r.verdict.toStdString());
    EXPECT_EQ(boards, (std::vector<std::string>{"SN1", "SN2", "SN3"}));
    EXPECT_EQ(reports, (std::vector<std::string>{"r-SN1.json", "r-SN2.json", "r-SN3.json"}));
    EXPECT_EQ(verdicts, (std::vector<std::string>{"pass", "fail", "pass"}));
    ASSERT_EQ(h->skipped.size(), 1u);
    EXPECT_EQ(h->skipped[0].path, u"r.json");
    EXPECT_EQ(h->skipped[0].reason, u"a station's summary: its boards' own reports are counted");
    const QJsonArray runs = historyJson(*h)[u"runs"].toArray();
    ASSERT_EQ(runs.size(), 3);
    EXPECT_EQ(runs[1][u"board_id"].toString(), u"SN2");
    EXPECT_EQ(runs[1][u"failed"].toInt(), 1);  // ch1 at 100 mmHg
    // One board's runs, by the ID it was given at the station.
    const std::optional<History> one = readHistory({folder, QStringLiteral("SN3"), {}}, &error);
    ASSERT_TRUE(one);
    ASSERT_EQ(one->runs.size(), 1u);
    EXPECT_EQ(one->runs[0].report, u"r-SN3.json");

    // Judged again, the run is still board 2's; board_id is written from the
    // board's ID once, never from a field carried over from the old report.
    const Rescored again = rescoreReport(QDir(folder).filePath(QStringLiteral("r-SN2.json")), std::nullopt, {},
                                         QDir(folder).filePath(QStringLiteral("again")));
    ASSERT_TRUE(again.report) << again.error.toStdString();
    EXPECT_EQ(again.report->boardId, u"SN2");
    EXPECT_EQ(again.report->verdict, Verdict::Fail);
    ReportInfo carried = *again.report;
    carried.carried.insert(QStringLiteral("board_id"), QStringLiteral("SN-old"));
    EXPECT_EQ(reportJson(carried)[u"board_id"].toString(), u"SN2");
    // A report from before board IDs: its port stands in, judged again too.
    QJsonObject old = bench.json(QStringLiteral("r-SN3.json"));
    old.remove(QStringLiteral("board_id"));
    QFile file(QDir(folder).filePath(QStringLiteral("old.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(old).toJson());
    file.close();
    const Rescored older = rescoreReport(file.fileName(), std::nullopt, {}, QDir(folder).filePath(QStringLiteral("older")));
    ASSERT_TRUE(older.report) << older.error.toStdString();
    EXPECT_EQ(reportJson(*older.report)[u"board_id"].toString(), u"COM3");
}
