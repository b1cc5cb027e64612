// Across runs: the history's statistics against figures worked out by hand,
// what it passes over and why, the marginal band's edges, a stored plan read
// back, the monitor's options for it and the window's Evaluate > History....
#include "evaluatedialog.h"
#include "fakeserialcontrol.h"
#include "frontend.h"
#include "history.h"
#include "historyaction.h"
#include "measure.h"
#include "boardstate.h"
#include "options.h"
#include "storedreport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace quorvid;
using namespace quorvid::evaluate;

namespace {

struct Run {
    const char* path;
    const char* boardId;  // none: the report has no board_id, its port stands in
    const char* started;
    double ch1Error;      // ch1 at 100 mmHg; ch2 reads true
    bool marginal = false;
    const char* sha = nullptr;  // the recording's; by default one of its own
    const char* rescoredFrom = nullptr;
};

// A report as a run writes it: the default plan, a static check at 100 mmHg
// and a skipped point, which counts in no statistic.
QJsonObject reportOf(const Run& run)
{
    ReportInfo info;
    info.startedUtc = QString::fromLatin1(run.started);
    info.version = QStringLiteral("1.0.1");
    info.operatorName = QStringLiteral("A. Tester");
    info.port = QStringLiteral("COM7");
    info.identification = QStringLiteral("Quorvid simulated IBP board");
    info.plan = defaultPlan();
    info.csvPath = QStringLiteral("r.csv");
    info.bytesPath = QStringLiteral("r.bytes");
    info.bytesSha256 = run.sha ? QString::fromLatin1(run.sha) : QString::fromLatin1(QByteArray(run.path).toHex());
    if (run.rescoredFrom) info.rescoredFrom = QString::fromLatin1(run.rescoredFrom);
    CheckOutcome o{QStringLiteral("static"), CheckKind::Static, Verdict::Pass, {}, {}};
    for (int ch = 1; ch <= 2; ++ch) {
        Result r;
        r.channel = ch, r.quantity = QStringLiteral("pressure"), r.unit = QStringLiteral("mmHg");
        r.reference = 100, r.limit = 4, r.n = 500;
        r.error = ch == 1 ? run.ch1Error : 0;
        r.mean = 100 + *r.error;
        r.verdict = std::abs(*r.error) <= 4 ? Verdict::Pass : Verdict::Fail;
        r.marginal = ch == 1 && run.marginal;
        o.results.push_back(r);
    }
    Result skipped;
    skipped.quantity = QStringLiteral("static 200");
    skipped.verdict = Verdict::Skipped;
    o.results.push_back(skipped);
    o.verdict = checkVerdict(o.results);
    info.checks = {o};
    info.verdict = Verdict::Fail;
    QJsonObject json = reportJson(info);
    if (run.boardId) json.insert(QStringLiteral("board_id"), QString::fromLatin1(run.boardId));
    return json;
}

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

void writeRuns(const QTemporaryDir& dir, std::initializer_list<Run> runs)
{
    for (const Run& r : runs)
        write(dir.filePath(QString::fromLatin1(r.path)), QJsonDocument(reportOf(r)).toJson());
}

const ResultStats* statsOf(const History& h, int channel)
{
    for (const ResultStats& s : h.results)
        if (s.key.kind == u"static" && s.key.channel == channel && s.key.reference == 100.0) return &s;
    return nullptr;
}

}  // namespace

namespace {

class AtOnce : public ReferenceSetter {
public:
    void request(const ReferenceRequest&) override { emit finished(ReferenceOutcome::Set, {}); }
};

DecodedFrame waveform(int mmHg)
{
    DecodedFrame f;
    f.kind = FrameKind::Waveform, f.shown = true;
    f.samples = {std::int16_t(mmHg + kPressureOffset), std::int16_t(mmHg + kPressureOffset)};
    return f;
}

DecodedFrame statusFrame(Byte code)
{
    DecodedFrame f;
    f.kind = FrameKind::Status, f.shown = true;
    f.codes = {code, code};
    return f;
}

}  // namespace

// A measurement that begins inside a block (the zero's, as soon as "Zeroing
// ok" comes) takes exactly the frames its interval names: those of that block
// before it came are not in its interval, so judging it again from the
// recording, which goes by time, finds the same frames.
TEST(EvaluateHistory, WindowBegunInsideABlockNamesExactlyItsFrames)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    ASSERT_TRUE(comm.setCommPort(1));
    ASSERT_TRUE(comm.setPortOpen(true));
    AtOnce reference;
    qint64 now = 0;
    const PlanResult plan = parsePlan("[[check]]\nkind = \"zero\"\nmeasure_s = 0.5\n", QStringLiteral("p.toml"));
    ASSERT_TRUE(plan.plan);
    Evaluation e(comm, reference, *plan.plan, [&now] { return now; });
    e.start();
    std::vector<std::pair<qint64, DecodedFrame>> fed;
    auto feed = [&](qint64 t, const DecodedFrame& f) {
        now = t;
        fed.push_back({t, f});
        e.frame(f, t);
    };
    feed(10, statusFrame(status::Zeroing));
    // One block: two readings, "Zeroing ok", one more reading.
    feed(20, waveform(1));
    feed(20, waveform(1));
    feed(20, statusFrame(status::ZeroingOk));
    feed(20, waveform(0));
    for (qint64 t = 30; t <= 600 && !e.done(); t += 10) feed(t, waveform(0));
    ASSERT_TRUE(e.done());
    const std::vector<Result>& rows = e.outcomes().at(0).results;
    ASSERT_EQ(rows.size(), 4u);
    for (const Result& r : {rows[2], rows[3]}) {
        EXPECT_EQ(r.quantity, u"zero");
        int inside = 0;
        for (const auto& [t, f] : fed) inside += f.kind == FrameKind::Waveform && t >= r.fromMs && t < r.toMs;
        EXPECT_EQ(r.n, inside) << r.fromMs << " to " << r.toMs;
        EXPECT_EQ(r.mean, 0.0);
    }
}

TEST(EvaluateHistory, StatisticsAcrossReportsAreThoseWorkedOutByHand)
{
    QTemporaryDir dir;
    writeRuns(dir, {
                       {"a/sn1-jan.json", "SN-1", "2026-01-10T09:00:00.000Z", 1.0},
                       {"b/sn2.json", "SN-2", "2026-01-15T09:00:00.000Z", -2.0},
                       {"a/sn1-feb.json", "SN-1", "2026-02-10T09:00:00.000Z", 3.0, true},
                       {"old.json", nullptr, "2026-03-01T09:00:00.000Z", 6.0},
                   });
    // Errors at ch1 100 mmHg: 1, -2, 3, 6 against a limit of 4.
    struct Case {
        const char* name;
        HistoryRequest request;
        std::vector<const char*> runs;  // oldest first
        int n;
        double mean, sd, min, max;
        const char* worst;
        double passRate, cpk;
        int marginal;
    };
    const double sd4 = std::sqrt((1.0 + 16 + 1 + 16) / 3);  // deviations -1, -4, 1, 4 from 2
    const Case cases[] = {
        {"every board", {dir.path(), {}, std::nullopt}, {"SN-1", "SN-2", "SN-1", "COM7"},
         4, 2.0, sd4, -2, 6, "COM7", 0.75, (4 - 2.0) / (3 * sd4), 1},
        {"one board", {dir.path(), QStringLiteral("SN-1"), std::nullopt}, {"SN-1", "SN-1"},
         2, 2.0, std::sqrt(2.0), 1, 3, "SN-1", 1.0, (4 - 2.0) / (3 * std::sqrt(2.0)), 1},
        {"since a day", {dir.path(), {}, QDate(2026, 2, 10)}, {"SN-1", "COM7"},
         2, 4.5, std::sqrt(4.5), 3, 6, "COM7", 0.5, (4 - 4.5) / (3 * std::sqrt(4.5)), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const std::optional<History> h = readHistory(c.request, &error);
        ASSERT_TRUE(h) << error.toStdString();
        std::vector<std::string> boards;
        for (const HistoryRun& r : h->runs) boards.push_back(r.boardId.toStdString());
        EXPECT_EQ(boards, std::vector<std::string>(c.runs.begin(), c.runs.end()));
        const ResultStats* s = statsOf(*h, 1);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->n, c.n);
        EXPECT_DOUBLE_EQ(*s->meanError, c.mean);
        EXPECT_DOUBLE_EQ(*s->sdError, c.sd);
        EXPECT_EQ(*s->minError, c.min);
        EXPECT_EQ(*s->maxError, c.max);
        EXPECT_EQ(s->worstBoard.toStdString(), c.worst);
        EXPECT_DOUBLE_EQ(s->passRate(), c.passRate);
        ASSERT_TRUE(s->cpk);
        EXPECT_NEAR(*s->cpk, c.cpk, 1e-12);
        EXPECT_EQ(s->marginal, c.marginal);
        // Channel 2 reads true every time: no spread, so no Cpk.
        const ResultStats* two = statsOf(*h, 2);
        ASSERT_TRUE(two);
        EXPECT_EQ(*two->sdError, 0);
        EXPECT_FALSE(two->cpk);
        EXPECT_TRUE(h->skipped.empty());
    }

    // The three files: the JSON's figures, the CSV's row, the page's plot of
    // the board with two runs and its links to the reports.
    QString error;
    const std::optional<History> h = readHistory({dir.path(), {}, std::nullopt}, &error);
    ASSERT_TRUE(h);
    QTemporaryDir out;
    ASSERT_TRUE(writeHistory(*h, out.filePath(QStringLiteral("sum")), &error)) << error.toStdString();
    QFile json(out.filePath(QStringLiteral("sum.json")));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject summary = QJsonDocument::fromJson(json.readAll()).object();
    const QJsonArray runs = summary[u"runs"].toArray();
    ASSERT_EQ(runs.size(), 4);
    EXPECT_EQ(runs[0][u"report"].toString(), u"a/sn1-jan.json");
    EXPECT_EQ(runs[3][u"failed"].toInt(), 1);
    EXPECT_EQ(runs[2][u"marginal"].toInt(), 1);
    bool found = false;
    for (const QJsonValue r : summary[u"results"].toArray()) {
        if (r[u"kind"].toString() != u"static" || r[u"channel"].toInt() != 1) continue;
        found = true;
        EXPECT_EQ(r[u"n"].toInt(), 4);
        EXPECT_DOUBLE_EQ(r[u"mean_error"].toDouble(), 2.0);
        EXPECT_EQ(r[u"worst_board"].toString(), u"COM7");
        EXPECT_DOUBLE_EQ(r[u"pass_rate"].toDouble(), 0.75);
        EXPECT_NEAR(r[u"cpk"].toDouble(), (4 - 2.0) / (3 * sd4), 1e-12);
    }
    EXPECT_TRUE(found);
    QFile csv(out.filePath(QStringLiteral("sum.csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readAll().contains("static,static,1,pressure,mmHg,100,4,4,2.0000,3.3665,-2.0000,6.0000,COM7,0.7500,1,4.0000,0.198\n"));
    QFile html(out.filePath(QStringLiteral("sum.html")));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(html.readAll());
    EXPECT_EQ(page.count(u"<svg"), 2);  // SN-1, a plot per channel
    EXPECT_TRUE(page.contains(u"Board SN-1, channel 1"));
    EXPECT_TRUE(page.contains(QStringLiteral("href=\"%1/a/sn1-jan.json\"").arg(QDir(out.path()).relativeFilePath(dir.path()))));
    EXPECT_TRUE(page.contains(u"1 MARGINAL"));
}

// The errors' figures are summed in whole millionths: the same bits in every
// order (a store sums in none), and exact where a double's sum would not be.
TEST(EvaluateHistory, ErrorFiguresAreTheSameInEveryOrder)
{
    struct Case {
        const char* name;
        std::vector<double> errors;
        double mean, sd;
    };
    const Case cases[] = {
        {"far from zero, a millionth apart", {100.000003, 100.000001, 100.000002}, 100.000002, 1e-6},
        {"both signs", {2.75, -1.5, 0.25, -0.5}, 0.25, std::sqrt(9.875 / 3)},
        {"no binary fractions", {0.1, 0.7, 0.3, 0.2}, 0.325, std::sqrt(0.2075 / 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> e = c.errors;
        std::sort(e.begin(), e.end());
        ErrorSums first;
        for (double v : e) first.add(v);
        EXPECT_DOUBLE_EQ(first.mean(), c.mean);
        EXPECT_DOUBLE_EQ(*first.sd(), c.sd);
        while (std::next_permutation(e.begin(), e.end())) {
            ErrorSums again;
            for (double v : e) again.add(v);
            EXPECT_EQ(again.mean(), first.mean());
            EXPECT_EQ(*again.sd(), *first.sd());
        }
    }
    EXPECT_EQ(errorMillionths(-0.0000015), -2);  // half a millionth away from zero
    EXPECT_EQ(ErrorSums::squareHigh(3'000'000'000) * (qint64(1) << ErrorSums::kLowBits) + ErrorSums::squareLow(3'000'000'000),
              qint64(9'000'000'000'000'000'000));
}

// The summary's JSON is written directly, not through QJsonDocument: it is
// still the form QJsonDocument writes, and every text and figure reads back
// exactly, whatever a board ID or a file's name holds.
TEST(EvaluateHistory, SummaryJsonIsQtsOwnFormWithEveryValueKept)
{
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c) controls += QChar(c);
    const QString texts[] = {
        QStringLiteral("SN-0042"),
        {},
        QStringLiteral("quote \" back\\slash / <script>alert(1)</script>'; DROP TABLE runs;--"),
        controls + QChar(0x7f) + QStringLiteral(" after NUL and every control"),
        QStringLiteral("Zürich 測定 \U0001F600 \u2028"),
        QString(QChar(0xd800)) + QStringLiteral(" a lone surrogate ") + QChar(0xdc00),
    };
    const std::optional<double> numbers[] = {std::nullopt, 0.0, -0.0, 2.0, 0.1, -1e-7, 123456789.125, 1e15, 9007199254740992.0, 1e21,
                                             5e-324, std::numeric_limits<double>::quiet_NaN()};
    for (const bool empty : {false, true}) {
        SCOPED_TRACE(empty ? "nothing found" : "hostile texts");
        History h;
        h.request = {texts[2], empty ? QString() : texts[3], empty ? std::nullopt : std::optional(QDate(2026, 12, 1))};
        for (std::size_t i = 0; !empty && i < std::size(texts); ++i) {
            const QString& t = texts[i];
            h.runs.push_back({t, t, t, t, t, t, int(i), -int(i), t, t, {}});
            h.skipped.push_back({t, t});
        }
        for (std::size_t i = 0; !empty && i < std::size(numbers); ++i) {
            const std::optional<double>& v = numbers[i];
            ResultStats s;
            s.key = {texts[i % std::size(texts)], QStringLiteral("static"), int(i % 3), texts[(i + 1) % std::size(texts)], {}, v};
            s.n = int(i), s.figures = int(i), s.marginal = 1;
            s.meanError = s.sdError = s.minError = s.maxError = s.limit = s.cpk = v;
            s.worstBoard = texts[(i + 2) % std::size(texts)];
            h.results.push_back(s);
        }
        const QByteArray text = historyJsonText(h);
        QJsonParseError parsed;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &parsed);
        ASSERT_EQ(parsed.error, QJsonParseError::NoError) << parsed.errorString().toStdString();
        EXPECT_EQ(text, doc.toJson(QJsonDocument::Indented));
        const QJsonObject o = doc.object();
        EXPECT_EQ(o[u"history_of"].toString(), QDir::toNativeSeparators(texts[2]));
        EXPECT_EQ(o[u"runs"].toArray().size(), qsizetype(h.runs.size()));
        for (std::size_t i = 0; i < h.runs.size(); ++i) {
            const QJsonObject run = o[u"runs"][qsizetype(i)].toObject();
            for (const char* key : {"board_id", "identification", "operator", "plan", "verdict", "report"})
                EXPECT_EQ(run[QLatin1String(key)].toString(), texts[i]) << key << " " << i;
            EXPECT_EQ(run[u"marginal"].toInt(), -int(i));
            EXPECT_EQ(o[u"skipped"][qsizetype(i)][u"reason"].toString(), run[u"board_id"].toString());
        }
        for (std::size_t i = 0; i < h.results.size(); ++i) {
            const QJsonObject r = o[u"results"][qsizetype(i)].toObject();
            const std::optional<double>& v = numbers[i];
            for (const char* key : {"mean_error", "sd_error", "min_error", "max_error", "limit", "cpk", "reference"}) {
                if (v && std::isfinite(*v))
                    EXPECT_EQ(r[QLatin1String(key)].toDouble(), *v) << key << " " << i;
                else
                    EXPECT_TRUE(r[QLatin1String(key)].isNull()) << key << " " << i;
            }
            EXPECT_EQ(r[u"channel"].isNull(), i % 3 == 0);
        }
    }
}

// The page stays light at any size: the latest runs listed with a count of
// the earlier ones, plots of the board asked for or else of the few worst;
// the JSON keeps every run. A report without a run_id is given the same one
// every time it is read.
TEST(EvaluateHistory, PageListsTheLatestRunsAndPlotsTheWorstBoards)
{
    QTemporaryDir dir;
    std::vector<std::string> names;
    names.reserve(250 * 3);
    for (int i = 0; i < 250; ++i) {
        const int board = i % 10;
        names.push_back(QStringLiteral("r%1.json").arg(i, 3, 10, QChar(u'0')).toStdString());
        names.push_back(QStringLiteral("b%1").arg(board).toStdString());
        names.push_back(QStringLiteral("2026-12-01T%1:%2:00.000Z").arg(i / 60, 2, 10, QChar(u'0')).arg(i % 60, 2, 10, QChar(u'0')).toStdString());
        const std::size_t at = names.size() - 3;
        // b3 fails every run, b7 every other; b1 passes close to its limit.
        const double error = board == 3 || (board == 7 && i % 20 == 7) ? 5.0 : board == 1 ? 3.5 : 1.0;
        write(dir.filePath(QString::fromStdString(names[at])),
              QJsonDocument(reportOf({names[at].c_str(), names[at + 1].c_str(), names[at + 2].c_str(), error, board == 1})).toJson());
    }
    struct Row {
        const char* name;
        QString board;
        QStringList plotted;
        int listed, earlier;
    };
    const Row rows[] = {{"every board", {}, {"b3", "b7", "b1", "b0", "b2"}, 200, 50}, {"one board", "b5", {"b5"}, 25, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QString error;
        const std::optional<History> h = readHistory({dir.path(), r.board, {}}, &error);
        ASSERT_TRUE(h) << error.toStdString();
        EXPECT_EQ(plottedBoards(*h), r.plotted);
        const QString page = historyHtml(*h, dir.path());
        EXPECT_EQ(page.count(QStringLiteral("<td class=\"t\"><a href=")), r.listed);
        EXPECT_EQ(page.contains(QStringLiteral("%1 earlier runs").arg(r.earlier)), r.earlier > 0);
        EXPECT_EQ(page.count(QStringLiteral("<p class=\"caption\">Board ")), 2 * r.plotted.size());
        EXPECT_EQ(historyJson(*h)[u"runs"].toArray().size(), r.board.isEmpty() ? 250 : 25);
    }
    QString why;
    const std::optional<QJsonObject> json = readJsonFile(dir.filePath(QStringLiteral("r000.json")), &why);
    ASSERT_TRUE(json) << why.toStdString();
    const QString derived = readReportJson(*json, {}, nullptr)->info.runId;
    EXPECT_EQ(readReportJson(*json, {}, nullptr)->info.runId, derived);
    EXPECT_NE(readReportFile(dir.filePath(QStringLiteral("r001.json")), nullptr)->info.runId, derived);
}

TEST(EvaluateHistory, WhatIsNotAReportIsSkippedAndNamedAndARunCountsOnce)
{
    QTemporaryDir dir;
    writeRuns(dir, {
                       {"r1.json", "SN-1", "2026-01-10T09:00:00.000Z", 1.0, false, "aa"},
                       {"saved/r1-copy.json", "SN-1", "2026-01-10T09:00:00.000Z", 1.0, false, "aa"},
                       {"again/r2-wide.json", "SN-2", "2026-01-11T09:00:00.000Z", 2.0, false, "bb", "../r2.json"},
                       {"r2.json", "SN-2", "2026-01-11T09:00:00.000Z", 2.0, false, "bb"},
                       {"station/bench-SN-3.json", "SN-3", "2026-01-12T09:00:00.000Z", 0.5},
                   });
    write(dir.filePath(QStringLiteral("broken.json")), "{\"verdict\": \"pass\", ");
    write(dir.filePath(QStringLiteral("package.json")), "{\"name\": \"something else\"}");
    write(dir.filePath(QStringLiteral("station/bench.json")), "{\"station\": true, \"boards\": []}");
    QJsonObject bad = reportOf({"x", "SN-9", "2026-01-01T00:00:00.000Z", 0});
    bad.insert(QStringLiteral("checks"), QJsonArray{QJsonObject{{QStringLiteral("name"), 3}}});
    write(dir.filePath(QStringLiteral("bad.json")), QJsonDocument(bad).toJson());
    // A file that cannot be opened, whoever runs the test: a link to nothing.
    // Where QFile::link makes a shortcut file instead (Windows), that file is
    // no symbolic link and leaves the case out.
    const QString gone = dir.filePath(QStringLiteral("gone.json"));
    bool linked = QFile::link(dir.filePath(QStringLiteral("nowhere")), gone);
    if (linked && !QFileInfo(gone).isSymbolicLink()) linked = !QFile::remove(gone);
    write(dir.filePath(QStringLiteral("notes.txt")), "not JSON and not named so");

    QString error;
    std::optional<History> h = readHistory({dir.path(), {}, std::nullopt}, &error);
    ASSERT_TRUE(h) << error.toStdString();
    std::vector<std::string> counted;
    for (const HistoryRun& r : h->runs) counted.push_back(r.report.toStdString());
    EXPECT_EQ(counted, (std::vector<std::string>{"r1.json", "r2.json", "station/bench-SN-3.json"}));
    std::map<std::string, std::string> skipped;
    for (const HistorySkip& s : h->skipped) skipped[s.path.toStdString()] = s.reason.toStdString();
    std::map<std::string, std::string> expected{
        {"bad.json", "a report that cannot be read: checks[0]: name is not a text"},
        {"broken.json", "not JSON: unterminated object at byte 20"},
        {"package.json", "not an evaluation report (no quorvid_version, plan and checks)"},
        {"station/bench.json", "a station's summary: its boards' own reports are counted"},
        {"saved/r1-copy.json", "the same run as r1.json (the same recording)"},
        {"again/r2-wide.json", "the same run as r2.json (the same recording)"},
    };
    if (linked) expected["gone.json"] = "cannot be read: a link to nothing";
    EXPECT_EQ(skipped, expected);

    // The summary written into the folder is passed over the next time.
    ASSERT_TRUE(writeHistory(*h, dir.filePath(QStringLiteral("sum")), &error)) << error.toStdString();
    h = readHistory({dir.path(), {}, std::nullopt}, &error);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->runs.size(), 3u);
    EXPECT_TRUE(std::any_of(h->skipped.begin(), h->skipped.end(), [](const HistorySkip& s) {
        return s.path == u"sum.json" && s.reason == u"a history summary";
    }));

    // A folder given by a relative name names its reports from itself.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    h = readHistory({QStringLiteral("saved"), {}, std::nullopt}, &error);
    QDir::setCurrent(before);
    ASSERT_TRUE(h);
    ASSERT_EQ(h->runs.size(), 1u);
    EXPECT_EQ(h->runs[0].report, u"r1-copy.json");

    // A folder that cannot be read is refused as a whole.
    EXPECT_FALSE(readHistory({dir.filePath(QStringLiteral("none")), {}, std::nullopt}, &error));
    EXPECT_EQ(error.toStdString(), "Cannot read the folder " + QDir::toNativeSeparators(dir.filePath(QStringLiteral("none"))).toStdString()
                                       + ": No such file or directory");
}

TEST(EvaluateHistory, MarginalBandEdges)
{
    // Readings at reference 0 whose means are exact: limit 4, band 75 % = 3.
    struct Case {
        const char* name;
        std::vector<int> samples;
        std::optional<double> band;
        Verdict verdict;
        bool marginal;
    };
    auto many = [](int value, int n, int last) {
        std::vector<int> v(std::size_t(n - 1), value);
        v.push_back(last);
        return v;
    };
    const Case cases[] = {
        {"inside the band", many(2, 16, 3), 75, Verdict::Pass, false},
        {"exactly at the band", many(3, 16, 3), 75, Verdict::Pass, false},
        {"just over the band", many(3, 16, 4), 75, Verdict::Pass, true},  // 3.0625
        {"below, just over", many(-3, 16, -4), 75, Verdict::Pass, true},
        {"at the limit", many(4, 16, 4), 75, Verdict::Pass, true},
        {"just over the limit", many(4, 16, 5), 75, Verdict::Fail, false},  // fails, so not marginal
        {"no band", many(4, 16, 4), std::nullopt, Verdict::Pass, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowFrames frames;
        for (std::size_t i = 0; i < c.samples.size(); ++i) {
            DecodedFrame f;
            f.kind = FrameKind::Waveform, f.shown = true;
            f.samples = {std::int16_t(c.samples[i] + kPressureOffset), std::int16_t(kPressureOffset)};
            frames.take(f, qint64(i));
        }
        Result r = pressureRows(frames, QStringLiteral("pressure"), 0, 4, {0, 100})[0];
        markMarginal(r, c.band);
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.marginal, c.marginal);
        if (c.marginal) {
            EXPECT_EQ(verdictWords(r), u"MARGINAL");
            EXPECT_TRUE(resultLine(r).startsWith(u"MARGINAL  ch1 0 mmHg: read")) << resultLine(r).toStdString();
            // In words in the report, the summary and the JSON.
            ReportInfo info;
            info.plan = defaultPlan();
            info.plan.checks[4].marginalPercent = 75;
            info.checks = {{QStringLiteral("static"), CheckKind::Static, Verdict::Pass, {r}, {}}};
            info.verdict = Verdict::Pass;
            EXPECT_TRUE(reportHtml(info).contains(u">MARGINAL<"));
            EXPECT_TRUE(reportHtml(info).contains(u"MARGINAL: passed with |error| above 75 % of the limit"));
            EXPECT_TRUE(reportJson(info)[u"checks"][0][u"results"][0][u"marginal"].toBool());
            EXPECT_TRUE(reportSummaryLines(info).contains(QStringLiteral("Verdict: PASS (0 of 1 results failed, 1 marginal)")));
        }
    }
    // A check's band before the plan's.
    Plan p = *parsePlan("[plan]\nmarginal_percent = 90\n[[check]]\nkind = \"zero\"\n[[check]]\nkind = \"static\"\nmarginal_percent = 50\n",
                        QStringLiteral("p.toml")).plan;
    EXPECT_EQ(p.marginalFor(p.checks[0]), 90);
    EXPECT_EQ(p.marginalFor(p.checks[1]), 50);
    EXPECT_FALSE(defaultPlan().marginalFor(defaultPlan().checks[4]));
}

TEST(EvaluateHistory, StoredPlanReadsBackThroughTheSameKeys)
{
    constexpr const char* kPlan = R"([plan]
name = "customer"
rate = 72
marginal_percent = 80
[[check]]
kind = "speed"
rates = [150]
tolerance_percent = 1.5
source = "house rule 3"
[[check]]
kind = "static"
points = [-20, 37.5]
limit_mmHg = 3
marginal_percent = 60
source = ""
[[check]]
kind = "dynamic"
ch1 = "pa 40/15"
ch1_mean = 22
beats = 12
[[check]]
kind = "drift"
name = "long hold"
measure_s = 60
)";
    for (const std::string& toml : {std::string(kPlan), defaultPlanToml().toStdString()}) {
        const PlanResult p = parsePlan(toml, QStringLiteral("p.toml"));
        ASSERT_TRUE(p.plan) << p.error.toStdString();
        const QJsonObject json = planJson(*p.plan);
        const PlanResult back = parsePlanJson(json, QStringLiteral("r.json plan"));
        ASSERT_TRUE(back.plan) << back.error.toStdString();
        EXPECT_EQ(planJson(*back.plan), json);
    }
    const Plan p = *parsePlan(kPlan, QStringLiteral("p.toml")).plan;
    EXPECT_EQ(p.checks[0].source, QStringLiteral("house rule 3"));
    EXPECT_EQ(p.checks[1].source, QString());  // given empty: none, not the default's
    EXPECT_TRUE(p.checks[2].source->contains(u"IEC 60601-2-34"));
    EXPECT_FALSE(p.checks[3].source);

    // A stored plan is refused in the same words as a plan file.
    struct Case {
        const char* json;
        const char* error;
    };
    const Case cases[] = {
        {R"({"checks":[{"kind":"static","rates":[50]}]})", "r.json plan: a static check has no key \"rates\""},
        {R"({"checks":[{"kind":"static","points":[0,400]}]})", "r.json plan: points wants a number from -50 to 300"},
        {R"({"rate":60})", "r.json plan: the plan has no [[check]]"},
        {R"({"checks":[{"kind":"zero","command":"x"}]})", "r.json plan: a plan carries no command: the reference command is given by whoever runs the evaluation"},
        {R"({"checks":[{"kind":"zero","limit_mmHg":null}]})", "r.json plan: limit_mmHg is null"},
        {R"({"marginal_percent":101,"checks":[{"kind":"zero"}]})", "r.json plan: marginal_percent wants a number from 0 to 100"},
        {R"({"checks":{"kind":"zero"}})", "r.json plan: checks are written [[check]]"},
    };
    for (const Case& c : cases) {
        const PlanResult r = parsePlanJson(QJsonDocument::fromJson(c.json).object(), QStringLiteral("r.json plan"));
        EXPECT_FALSE(r.plan) << c.json;
        EXPECT_EQ(r.error.toStdString(), c.error);
    }
}

TEST(EvaluateHistory, MonitorOptionsForHistoryAndJudgingAgain)
{
    using monitor::parseOptions;
    const auto ok = parseOptions({"--history", "evals", "--summary", "batch", "--board-id", "SN-1", "--since", "2026-02-01"});
    ASSERT_TRUE(ok.options) << ok.error.toStdString();
    EXPECT_EQ(ok.options->history, u"evals");
    EXPECT_EQ(ok.options->summary, u"batch");
    EXPECT_EQ(ok.options->historyBoardId, u"SN-1");
    EXPECT_EQ(ok.options->since, QDate(2026, 2, 1));
    const auto again = parseOptions({"--rescore", "r.json", "wide.toml", "--report", "r-wide"});
    ASSERT_TRUE(again.options) << again.error.toStdString();
    EXPECT_EQ(again.options->rescore, u"r.json");
    EXPECT_EQ(again.options->rescorePlan, u"wide.toml");
    EXPECT_EQ(again.options->report, u"r-wide");
    const auto own = parseOptions({"--rescore", "r.json", "--report", "r2"});
    ASSERT_TRUE(own.options);
    EXPECT_TRUE(own.options->rescorePlan.isEmpty());
    const auto equipment = parseOptions({"--evaluate", "--report", "r", "--reference-equipment", "Cal 12, due 2027-01"});
    ASSERT_TRUE(equipment.options);
    EXPECT_EQ(equipment.options->referenceEquipment, u"Cal 12, due 2027-01");

    struct Case {
        QStringList args;
        const char* error;
    };
    const Case cases[] = {
        {{"--history", "evals"}, "--history wants --summary NAME, e.g. --summary batch-12"},
        {{"--history", "evals", "--summary", "s", "--since", "2026-2-1"}, "--since wants a day as YYYY-MM-DD, not \"2026-2-1\""},
        {{"--history", "evals", "--summary", "s", "--port", "/dev/ttyUSB0"}, "--port does not go with --history (which takes --summary, --board-id, --since)"},
        {{"--rescore", "r.json"}, "--rescore wants --report NAME for the new report"},
        {{"--rescore", "r.json", "--report", "x", "--operator", "me"}, "--operator does not go with --rescore (which takes --report)"},
        {{"--rescore", "r.json", "--history", "d"}, "--history and --rescore exclude each other"},
        {{"--summary", "s"}, "--summary goes with --history"},
        {{"--reference-equipment", "x"}, "--reference-equipment goes with --evaluate"},
    };
    for (const Case& c : cases) {
        const auto r = parseOptions(c.args);
        EXPECT_FALSE(r.options) << c.args.join(u' ').toStdString();
        EXPECT_EQ(r.error.toStdString(), c.error);
    }
    // Every option is in the help, which the manual page is checked against.
    for (const char* option : {"--history DIR", "--summary NAME", "--board-id ID", "--since YYYY-MM-DD", "--rescore REPORT.json", "--reference-equipment TEXT"})
        EXPECT_TRUE(monitor::helpText().contains(QLatin1String(option))) << option;
}

TEST(EvaluateHistory, WindowSummarisesTheEvaluationsFolderAndOpensThePage)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("evaluations"));
    writeRuns(dir, {{"evaluations/e1.json", "SN-1", "2026-01-10T09:00:00.000Z", 1.0},
                    {"evaluations/e2.json", "SN-1", "2026-01-11T09:00:00.000Z", 2.0}});
    QWidget window;
    HistoryAction action(&window);
    action.setQuiet(true);
    std::vector<QUrl> opened;
    action.setOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    QSignalSpy finished(&action, &HistoryAction::finished);
    ASSERT_TRUE(action.run(folder));
    EXPECT_FALSE(action.run(folder));  // one at a time
    ASSERT_TRUE(finished.wait(10'000));
    const QString page = dir.filePath(QStringLiteral("evaluations-history.html"));
    EXPECT_EQ(finished.at(0).at(0).toString(), page);
    EXPECT_EQ(finished.at(0).at(1).toString(), QString());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(page));
    for (const char* ext : {".json", ".csv", ".html"})
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("evaluations-history") + QLatin1String(ext)))) << ext;

    // No folder yet: said, and nothing opened.
    ASSERT_TRUE(action.run(dir.filePath(QStringLiteral("none"))));
    ASSERT_TRUE(finished.wait(10'000));
    EXPECT_TRUE(finished.at(1).at(1).toString().startsWith(u"Cannot read the folder"));
    EXPECT_EQ(opened.size(), 1u);

    // The dialog's Reference equipment goes into the run's setup and report.
    FakeSerialControl comm;
    BoardState board;
    EvaluateDialog dialog(comm, board);
    EXPECT_TRUE(dialog.findChild<QLineEdit*>(QStringLiteral("referenceEquipment")));
    EXPECT_EQ(dialog.workFolder(), EvaluateDialog::defaultWorkFolder());
    const SessionSetup setup = sessionSetup({QStringLiteral("r"), {}, QStringLiteral("quorvid"), QStringLiteral("Cal SN 77")}, {});
    EXPECT_EQ(setup.referenceEquipment, u"Cal SN 77");
    ReportInfo info;
    info.referenceEquipment = setup.referenceEquipment;
    info.plan = defaultPlan();
    EXPECT_EQ(reportJson(info)[u"reference_equipment"].toString(), u"Cal SN 77");
    EXPECT_TRUE(reportHtml(info).contains(u"<dt>Reference equipment</dt><dd>Cal SN 77</dd>"));
}
