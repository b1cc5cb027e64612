// The evaluation on simulated time: the board model answers the commands the
// evaluation writes to the scripted serial control, a reference setter puts the
// control words into the model, and a session records and reports each run.
#include "boardmodel.h"
#include "fakeserialcontrol.h"
#include "framer.h"
#include "plan.h"
#include "report.h"
#include "rescore.h"
#include "session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include "platform.h"

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <set>

using namespace quorvid;
using namespace quorvid::evaluate;
using sim::SimTime;

namespace {

// Applies each request's words to the model at once, as the control pipe does.
class ModelReference : public ReferenceSetter {
public:
    ModelReference(sim::BoardModel& model, const SimTime& now)
        : m_model(model), m_now(now) {}
    void request(const ReferenceRequest& r) override
    {
        asked.push_back(r);
        for (const QString& line : {QStringLiteral("ch1 ") + r.ch1, QStringLiteral("ch2 ") + r.ch2, QStringLiteral("rate %1").arg(r.rate)})
            if (!line.startsWith(QStringLiteral("ch%1").arg(unplugged))) {
                EXPECT_EQ(m_model.applySetting(line.toStdString(), m_now), "") << line.toStdString();
            }
        emit finished(ReferenceOutcome::Set, {});
    }
    int unplugged = 0;  // a channel without transducer
    std::vector<ReferenceRequest> asked;

private:
    sim::BoardModel& m_model;
    const SimTime& m_now;
};

class Bench {
public:
    explicit Bench(std::vector<std::string> settings = {}, sim::BoardOptions options = {})
        : model(options)
    {
        comm.setOpenablePorts({1});
        EXPECT_TRUE(comm.setCommPort(1));
        EXPECT_TRUE(comm.setPortOpen(true));
        for (const std::string& s : settings) EXPECT_EQ(model.applySetting(s, now), "") << s;
    }

    // Runs the plan to its report; the board hears the commands unless deaf.
    // each() runs at every step, as a person at the bench would.
    void run(Plan plan, bool deaf = false, ReferenceSetter* setter = nullptr, const std::function<void()>& each = {})
    {
        runToReport(std::move(plan), deaf, setter, each);
        ASSERT_TRUE(session && session->reportDone());
        ASSERT_TRUE(session->reportError().isEmpty()) << session->reportError().toStdString();
        if (qEnvironmentVariableIsSet("QUORVID_KEEP_REPORT")) QFile::copy(dir.filePath(QStringLiteral("r.json")), qEnvironmentVariable("QUORVID_KEEP_REPORT"));
    }

    // As run(), whether or not the report could be written.
    void runToReport(Plan plan, bool deaf = false, ReferenceSetter* setter = nullptr, const std::function<void()>& each = {})
    {
        QString error;
        SessionSetup setup;
        setup.name = name;
        setup.operatorName = QStringLiteral("Test Operator");
        setup.bench = QStringLiteral("bench-3");
        setup.port = QStringLiteral("COM1");
        setup.version = QStringLiteral("1.0.1");
        setup.board = board;
        setup.clock = {[this] { return 1'796'000'000'000 + now.count() / 1000; }, [this] { return now.count(); }};
        session = Session::create(comm, setter ? *setter : reference, std::move(plan), setup, &error);
        ASSERT_TRUE(session) << error.toStdString();
        framer.setFrameObserver(session.get());
        session->start();
        qsizetype heard = 0;
        while (!session->evaluation().done() && now < SimTime{3'600'000'000}) {
            const QByteArray written = comm.written();
            if (written.size() > heard && !deaf)
                model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + heard, std::size_t(written.size() - heard)), boardNow);
            heard = written.size();
            // Blocks as a port read every 40 ms hands them over, as the
            // monitor reads: a block holds the end of one beat and the start
            // of the next.
            now += SimTime{40'000};
            boardNow = SimTime{std::llround(static_cast<double>(now.count()) * boardClock)};
            ByteString block;
            for (const sim::DueFrame& f : model.takeDue(boardNow)) block.insert(block.end(), f.bytes.begin(), f.bytes.end());
            if (!block.empty()) framer.feed(block);
            session->poll();
            if (each) each();
        }
        ASSERT_TRUE(session->evaluation().done());
        const QByteArray written = comm.written();
        model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + heard, std::size_t(written.size() - heard)), boardNow);
        QCoreApplication::processEvents();  // the report is written from the event loop
    }

    // "ch1 pressure 300" for each failed row.
    std::set<std::string> failedRows() const
    {
        std::set<std::string> rows;
        for (const CheckOutcome& o : session->evaluation().outcomes())
            for (const Result& r : o.results)
                if (r.verdict == Verdict::Fail)
                    rows.insert(QStringLiteral("%1 ch%2 %3 %4").arg(o.name).arg(r.channel).arg(r.quantity).arg(r.reference.value_or(-1)).toStdString());
        return rows;
    }

    QByteArray file(const char* ext) const
    {
        QFile f(dir.filePath(QStringLiteral("r.") + QLatin1String(ext)));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << ext;
        return f.readAll();
    }

    // The recording's rows from the CSV: t_s in ms, kind, and the numeric
    // columns ch1_mmHg .. pulse.
    struct Row {
        qint64 ms;
        QByteArray kind;
        std::vector<double> v;
    };
    std::vector<Row> csvRows() const
    {
        std::vector<Row> rows;
        for (const QByteArray& line : file("csv").split('\n').mid(1)) {
            const QList<QByteArray> f = line.split(',');
            if (f.size() < 12) continue;
            Row row{std::llround(f[1].toDouble() * 1000), f[2], {}};
            for (int i = 3; i < 12; ++i) row.v.push_back(f[i].toDouble());
            rows.push_back(row);
        }
        return rows;
    }

    sim::BoardModel model;
    SimTime now{0};       // the evaluation's
    SimTime boardNow{0};  // the board's, which its own clock may run fast or slow
    double boardClock = 1;
    BoardState board;  // what the window told the board before the run
    FakeSerialControl comm;
    ModelReference reference{model, boardNow};
    Framer framer;
    QTemporaryDir dir;
    QString name = dir.filePath(QStringLiteral("r"));
    std::unique_ptr<Session> session;
};

Plan only(CheckKind kind)
{
    Plan p = defaultPlan();
    std::erase_if(p.checks, [kind](const Check& c) { return c.kind != kind; });
    return p;
}

}  // namespace

TEST(Evaluate, CleanBoardPassesEveryCheckAndIsLeftAsBefore)
{
    Bench bench;
    bench.run(defaultPlan());
    const Evaluation& e = bench.session->evaluation();
    EXPECT_EQ(bench.failedRows(), std::set<std::string>{});
    EXPECT_EQ(e.verdict(), Verdict::Pass);
    ASSERT_EQ(e.outcomes().size(), 8u);
    EXPECT_EQ(e.identification().toStdString(), sim::BoardModel::identificationText());
    // Speed 100 and normal operation, as before the run.
    EXPECT_EQ(bench.model.framesPerSecond(), 100);
    EXPECT_EQ(bench.model.mode(), sim::WaveMode::Patient);
    EXPECT_LT(bench.now, SimTime{150'000'000}) << "the default plan takes too long";
}

TEST(Evaluate, GainOnChannelOneFailsItsPressuresAndNothingElse)
{
    Bench bench({"ch1 gain 1.06"});
    bench.run(defaultPlan());
    EXPECT_EQ(bench.failedRows(), (std::set<std::string>{
                                      "static ch1 pressure 100", "static ch1 pressure 200", "static ch1 pressure 300",
                                      "dynamic ch1 systolic 120", "dynamic ch1 mean 93.3333", "dynamic ch1 diastolic 80"}));
    for (const CheckOutcome& o : bench.session->evaluation().outcomes()) {
        if (o.kind != CheckKind::Static) continue;
        for (const Result& r : o.results) {
            if (r.channel != 1) continue;
            SCOPED_TRACE(*r.reference);
            EXPECT_NEAR(*r.error, 0.06 * *r.reference, 0.5);
            EXPECT_DOUBLE_EQ(*r.limit, std::max(4.0, 0.04 * *r.reference));
        }
    }
    EXPECT_EQ(bench.session->evaluation().verdict(), Verdict::Fail);

    // The report's figures are the CSV rows' between from_s and to_s.
    const QJsonObject json = QJsonDocument::fromJson(bench.file("json")).object();
    EXPECT_EQ(json[u"verdict"].toString(), u"fail");
    EXPECT_EQ(json[u"recording"][u"bytes_sha256"].toString().size(), 64);
    // Per row: t_s in ms, kind, and the numeric columns ch1_mmHg .. pulse.
    struct Row {
        qint64 ms;
        QByteArray kind;
        std::vector<double> v;
    };
    std::vector<Row> rows;
    for (const QByteArray& line : bench.file("csv").split('\n').mid(1)) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() < 12) continue;
        Row row{std::llround(f[1].toDouble() * 1000), f[2], {}};
        for (int i = 3; i < 12; ++i) row.v.push_back(f[i].toDouble());
        rows.push_back(row);
    }
    // Which rows and column a result's mean is taken from.
    const std::map<QString, std::pair<QByteArray, int>> sources{
        {QStringLiteral("pressure"), {"waveform", 0}}, {QStringLiteral("zero"), {"waveform", 0}},
        {QStringLiteral("systolic"), {"values", 2}},   {QStringLiteral("mean"), {"values", 3}},
        {QStringLiteral("diastolic"), {"values", 4}},  {QStringLiteral("pulse rate"), {"values", 8}},
    };
    int recomputed = 0, failures = 0;
    for (const QJsonValue c : json[u"checks"].toArray()) {
        for (const QJsonValue r : c[u"results"].toArray()) {
            failures += r[u"verdict"].toString() == u"fail";
            const auto source = sources.find(r[u"quantity"].toString());
            if (source == sources.end()) continue;
            const qint64 from = std::llround(r[u"from_s"].toDouble() * 1000), to = std::llround(r[u"to_s"].toDouble() * 1000);
            const int ch = r[u"channel"].isNull() ? 0 : r[u"channel"].toInt() - 1;
            // ch1_mmHg, ch2_mmHg; sys1, map1, dia1, then sys2, map2, dia2 three on.
            const int column = source->second.second + (source->second.first == "values" && source->second.second < 8 ? 3 * ch : ch);
            double sum = 0;
            int n = 0;
            for (const Row& row : rows)
                if (row.kind == source->second.first && row.ms >= from && row.ms < to) sum += row.v[std::size_t(column)], ++n;
            SCOPED_TRACE(r[u"quantity"].toString().toStdString());
            ASSERT_EQ(r[u"n"].toInt(), n);
            EXPECT_NEAR(r[u"mean"].toDouble(), sum / n, 1e-9);
            EXPECT_NEAR(r[u"error"].toDouble(), sum / n - r[u"reference"].toDouble(), 1e-9);
            ++recomputed;
        }
    }
    EXPECT_EQ(recomputed, 12 + 7);
    EXPECT_EQ(failures, 6);

    // The JUnit file parses and counts the same failures.
    QXmlStreamReader xml(bench.file("xml"));
    int junitFailures = 0, cases = 0;
    QString message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        cases += xml.name() == u"testcase";
        if (xml.name() == u"failure") {
            ++junitFailures;
            if (message.isEmpty()) message = xml.attributes().value(QStringLiteral("message")).toString();
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(junitFailures, 6);
    EXPECT_GT(cases, 30);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ch1 100 mmHg: read 10[5-7]\\.[0-9], error \\+[5-7]\\.[0-9] > limit 4\\.0$"))
                    .match(message).hasMatch()) << message.toStdString();
    EXPECT_LT(bench.session->reportMilliseconds(), 1000);

    // The page stands alone: its plots inline (speed, static, a dynamic and a
    // frequency response and a mains rejection one per channel).
    const QString html = QString::fromUtf8(bench.file("html"));
    EXPECT_EQ(html.count(u"<svg"), 8);
    EXPECT_FALSE(html.contains(QRegularExpression(QStringLiteral("<script|<link|<img|\\b(src|href)=|url\\(|https?:"))));
}

TEST(Evaluate, FrequencyResponseFailsOnlyWhereTheInputStageRoundsOff)
{
    // Channel 1's gains at 1, 2, 5 and 10 Hz against 1 Hz's (a 6 Hz stage's
    // as designed, see test_evaluate_frequency.cpp), its own at 1 Hz, and the
    // rows that fail: a gain error is flat, and only the static check sees it.
    struct Row {
        const char* name;
        std::vector<std::string> settings;
        std::array<double, 4> ch1Db;
        double ch1AtOneHz;
        std::set<std::string> failed;
    };
    const Row rows[] = {
        {"clean, a 6 Hz stage switched off", {"ch1 bandwidth 6", "ch1 bandwidth off"}, {0, 0, 0, 0}, 0, {}},
        {"a 6 Hz input stage", {"ch1 bandwidth 6"}, {0, -0.05, -1.70, -9.55}, 0, {"frequency ch1 gain at 10 Hz -1"}},
        {"a gain of 1.06", {"ch1 gain 1.06"}, {0, 0, 0, 0}, 20 * std::log10(1.06), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench(row.settings);
        bench.run(only(CheckKind::Frequency));
        EXPECT_EQ(bench.failedRows(), row.failed);
        const std::vector<Result>& results = bench.session->evaluation().outcomes().at(0).results;
        ASSERT_EQ(results.size(), 8u);
        for (std::size_t i = 0; i < results.size(); ++i) {
            const Result& r = results[i];
            SCOPED_TRACE(describe(r).toStdString());
            EXPECT_EQ(r.channel, int(i % 2) + 1);
            EXPECT_EQ(*r.frequencyHz, (std::array{1.0, 2.0, 5.0, 10.0})[i / 2]);
            EXPECT_NEAR(*r.error, r.channel == 1 ? row.ch1Db[i / 2] : 0, 0.05);
            EXPECT_NEAR(*r.gainDb, *r.error + (r.channel == 1 ? row.ch1AtOneHz : 0), 0.05);
            EXPECT_NEAR(20 * std::log10(*r.amplitudeMmHg / 50), *r.gainDb, 1e-9);
        }
        // Set as every reference is, measured at speed 150, the speed before set again.
        ASSERT_EQ(bench.reference.asked.size(), 4u);
        EXPECT_EQ(bench.reference.asked.back().ch1, u"sine 100 50 10");
        EXPECT_EQ(bench.reference.asked.back().instruction, u"Set a sine of 100 ± 50 mmHg at 10 Hz on both channels.");
        EXPECT_TRUE(bench.comm.written().startsWith("S2")) << bench.comm.written().toStdString();
        EXPECT_EQ(bench.model.framesPerSecond(), 100);
        // The report draws the response against a logarithmic axis, each point marked.
        const QString html = QString::fromUtf8(bench.file("html")), plot = html.mid(html.indexOf(u"Channel 1: the gain"));
        QStringList x;
        for (auto m = QRegularExpression(QStringLiteral("\"middle\">([^<]*)<")).globalMatch(plot.left(plot.indexOf(u"</svg>"))); m.hasNext();)
            x << m.next().captured(1);
        EXPECT_EQ(x.join(u' '), u"1 2 5 10 frequency (Hz) gain (dB)");
        EXPECT_EQ(html.count(u"fill=\"#b3261e\"/>"), 2 * int(row.failed.size())) << "a failed point and its legend";
    }
}

TEST(Evaluate, MainsCheckFailsTheFrequenciesTheBoardsFilterLets)
{
    // The filter told for each frequency, and the one the window had chosen
    // told again at the end. A board told "5" at 60 Hz leaks as one stuck at
    // 50 Hz does (test_sim_settings.cpp).
    struct Row {
        const char* name;
        std::vector<std::string> settings;
        Filter windowHad;
        std::set<std::string> failed;
        double leakedMmHg;  // what a failing row's filter leaves of 20 mmHg
    };
    const Row rows[] = {
        {"a sound board", {}, Filter::Hz50, {}, 0},
        {"a sound board, the window at 60 Hz", {}, Filter::Hz60, {}, 0},
        {"filter broken", {"ch1 filter broken", "ch2 filter broken"}, Filter::Hz50,
         {"mains ch1 rejection at 50 Hz -1", "mains ch1 rejection at 60 Hz -1", "mains ch2 rejection at 50 Hz -1",
          "mains ch2 rejection at 60 Hz -1"},
         20},
        {"channel 2 stuck at 50 Hz", {"ch2 filter 50"}, Filter::Hz50, {"mains ch2 rejection at 60 Hz -1"}, 20 * 0.878},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench(row.settings);
        bench.board.filter = row.windowHad;
        bench.run(only(CheckKind::Mains));
        EXPECT_EQ(bench.failedRows(), row.failed);
        const std::vector<Result>& results = bench.session->evaluation().outcomes().at(0).results;
        ASSERT_EQ(results.size(), 4u);
        for (const Result& r : results) {
            // Nothing left where the notch sits; 1.1 dB at the other frequency,
            // none broken. 50 Hz falls on three phases of 150 frames a second,
            // whose rounding to whole mmHg does not average out.
            const bool leaks = r.verdict == Verdict::Fail;
            EXPECT_NEAR(*r.residualMmHg, leaks ? row.leakedMmHg : 0, 0.5) << describe(r).toStdString();
            EXPECT_EQ(r.rejectionDb.has_value(), leaks);
        }
        EXPECT_EQ(bench.reference.asked.back().ch2, u"static 100 mains 60 20");
        EXPECT_EQ(bench.reference.asked.back().instruction, u"Add 60 Hz interference of 20 mmHg to both channels at 100 mmHg");
        EXPECT_EQ(bench.comm.written().toStdString(), row.windowHad == Filter::Hz60 ? "S2566S1" : "S2565S1");
        const QJsonObject last = QJsonDocument::fromJson(bench.file("json")).object()[u"checks"][0][u"results"][3].toObject();
        EXPECT_EQ(last[u"rejection_db"].isNull(), row.failed.empty()) << QJsonDocument(last).toJson().toStdString();
        EXPECT_EQ(last[u"applied_mmHg"].toDouble(), 20);
        EXPECT_NEAR(last[u"residual_mmHg"].toDouble(), row.leakedMmHg, 0.5);
        EXPECT_EQ(QString::fromUtf8(bench.file("html")).count(u"what the filter left of it"), 2);
    }
}

TEST(Evaluate, ChannelWithoutTransducerFailsZeroing)
{
    // The pressure source cannot plug a transducer in: its words for channel 2 go nowhere.
    Bench bench({"ch2 off"});
    bench.reference.unplugged = 2;
    bench.run(only(CheckKind::Zero));
    const std::vector<Result>& rows = bench.session->evaluation().outcomes().at(0).results;
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].verdict, Verdict::Pass);
    EXPECT_EQ(rows[1].channel, 2);
    EXPECT_EQ(rows[1].verdict, Verdict::Fail);
    EXPECT_TRUE(rows[1].message.contains(u"\"Zeroing Failed !!!\"")) << rows[1].message.toStdString();
}

TEST(Evaluate, TimeoutFailsWithTheTimeItWaited)
{
    struct Case {
        const char* name;
        CheckKind kind;
        std::vector<std::string> settings;
        bool deaf;
        const char* message;  // of the first failed row
    };
    const Case cases[] = {
        {"no identification", CheckKind::Identify, {}, true, "timed out after 3.0 s waiting for an identification frame"},
        {"no normal operation", CheckKind::Mode, {"ch1 off"}, false,
         "timed out after 3.0 s waiting for \"Normal Operation\": showed \"No Sensor !!!\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.settings);
        bench.run(only(c.kind), c.deaf);
        QString first;
        for (const Result& r : bench.session->evaluation().outcomes().at(0).results)
            if (r.verdict == Verdict::Fail && first.isEmpty()) first = r.message;
        EXPECT_EQ(first.toStdString(), c.message);
    }
}

TEST(Evaluate, BadPlanIsRefusedNamingTheLine)
{
    struct Case {
        const char* toml;
        const char* error;
    };
    const Case cases[] = {
        {"[[check]]\nkind = \"static\"\npoints = [0, 400]\n", "p.toml line 3: points wants a number from -50 to 300"},
        {"[[check]]\nkind = \"identify\"\n\nreference_command = \"rm -rf ~\"\n",
         "p.toml line 4: a plan carries no command: the reference command is given by whoever runs the evaluation"},
        {"[[check]]\nkind = \"dynamic\"\nch1 = \"arterial 120/80; reboot\"\n",
         "p.toml line 3: ch1 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"arterial 120/80; reboot\""},
        {"[[check]]\nkind = \"zero\"\nrates = [50]\n", "p.toml line 3: a zero check has no key \"rates\""},
        {"[[check]]\nkind = \"sing\"\n", "p.toml line 2: unknown kind \"sing\" (identify, speed, mode, zero, static, dynamic, frequency, mains, drift)"},
        {"[plan]\nrate = 60\n[[check]\n", "p.toml line 3: "},
        {"[plan]\nname = \"x\"\n", "p.toml line 1: the plan has no [[check]]"},
    };
    for (const Case& c : cases) {
        const PlanResult r = parsePlan(c.toml, QStringLiteral("p.toml"));
        EXPECT_FALSE(r.plan) << c.toml;
        EXPECT_TRUE(r.error.startsWith(QLatin1String(c.error))) << r.error.toStdString();
    }
    // What --print-plan prints is the default plan.
    const PlanResult printed = parsePlan(defaultPlanToml().toStdString(), QStringLiteral("printed"));
    ASSERT_TRUE(printed.plan) << printed.error.toStdString();
    EXPECT_EQ(planJson(*printed.plan), planJson(defaultPlan()));
    EXPECT_EQ(printed.plan->checks.size(), 8u);
}

TEST(Evaluate, ReportEscapesOutsideTextAndReferencesNothingOutside)
{
    ReportInfo info;
    info.identification = QStringLiteral("<script>alert(1)</script>\x01");
    info.operatorName = QStringLiteral("\"><img onerror=alert(2)>");
    info.csvPath = QStringLiteral("<b>.csv");
    info.plan = defaultPlan();
    CheckOutcome o{QStringLiteral("static"), CheckKind::Static, Verdict::Fail, {}, {}};
    Result r;
    r.channel = 1, r.quantity = QStringLiteral("pressure"), r.unit = QStringLiteral("mmHg");
    r.reference = 300, r.mean = 318.1, r.error = 18.1, r.limit = 12, r.n = 500, r.verdict = Verdict::Fail;
    o.results = {r};
    info.checks = {o};

    const QString html = reportHtml(info);
    for (const char* outside : {"<script", "<img", "<link", "<b>", "<iframe", "<object", "url(", "@import", "http:", "https:"})
        EXPECT_FALSE(html.contains(QLatin1String(outside), Qt::CaseInsensitive)) << outside;
    EXPECT_FALSE(html.contains(QRegularExpression(QStringLiteral("<[^>]*\\b(src|href)="))));
    EXPECT_TRUE(html.contains(u"&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_TRUE(html.contains(u"<svg"));
    EXPECT_TRUE(html.contains(u">FAIL<"));  // in words, not only in colour

    QXmlStreamReader xml(reportJUnit(info));
    QString name;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"testsuites") name = xml.attributes().value(QStringLiteral("name")).toString();
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(name.contains(u"<script>alert(1)</script>"));
}

TEST(Evaluate, ReferenceCommandGetsTheWordsAndItsFailureAborts)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("ctl"));
    const ReferenceRequest request{QStringLiteral("static 100"), QStringLiteral("pa 25/10"), 72, {}};
    {
        CommandReferenceSetter setter(test::shellCommandWriting({"ch1 {ch1}", "ch2 {ch2}", "rate {rate}"}, out));
        QSignalSpy done(&setter, &ReferenceSetter::finished);
        setter.request(request);
        ASSERT_TRUE(done.wait(10'000));
        EXPECT_EQ(done.at(0).at(0).value<ReferenceOutcome>(), ReferenceOutcome::Set);
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), test::shellLinesWritten({"ch1 static 100", "ch2 pa 25/10", "rate 72"}));
    }
    {
        CommandReferenceSetter setter(test::shellCommandFailing(QStringLiteral("no source"), 3));
        QSignalSpy done(&setter, &ReferenceSetter::finished);
        setter.request(request);
        ASSERT_TRUE(done.wait(10'000));
        EXPECT_EQ(done.at(0).at(0).value<ReferenceOutcome>(), ReferenceOutcome::Aborted);
        EXPECT_EQ(done.at(0).at(1).toString(), u"the reference command exited with status 3: no source");
    }
}

TEST(Evaluate, OperatorSkipLeavesTheMeasurementOutAndAbortEndsWithAReport)
{
    struct Case {
        const char* name;
        std::function<void(OperatorReferenceSetter&)> answer;
        std::vector<Verdict> rows;  // of the static check: 100 mmHg on both channels, then the case's
        const char* aborted;
    };
    const Case cases[] = {
        {"skip", [](OperatorReferenceSetter& p) { p.skip(); }, {Verdict::Pass, Verdict::Pass, Verdict::Skipped}, ""},
        {"abort", [](OperatorReferenceSetter& p) { p.abort(); }, {Verdict::Pass, Verdict::Pass, Verdict::Fail}, "aborted by the operator"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        OperatorReferenceSetter person;
        QStringList instructions;
        QObject::connect(&person, &OperatorReferenceSetter::instructionShown, [&](const QString& text) { instructions << text; });
        Plan plan = only(CheckKind::Static);
        plan.checks[0].points = {100, 200};
        // The first reference is answered; the second as the case says.
        bench.run(plan, false, &person, [&] {
            if (!person.waiting()) return;
            if (instructions.size() == 1) {
                bench.model.applySetting("ch1 static 100", bench.now), bench.model.applySetting("ch2 static 100", bench.now);
                person.measure();
            } else {
                c.answer(person);
            }
        });
        EXPECT_EQ(instructions, (QStringList{"Set both channels to 100 mmHg.", "Set both channels to 200 mmHg."}));
        const Evaluation& e = bench.session->evaluation();
        std::vector<Verdict> rows;
        for (const Result& r : e.outcomes().at(0).results) rows.push_back(r.verdict);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(e.verdict(), Verdict::Fail);  // not everything was checked
        EXPECT_EQ(e.abortReason().toStdString(), c.aborted);
        const QJsonObject json = QJsonDocument::fromJson(bench.file("json")).object();
        EXPECT_EQ(json[u"verdict"].toString(), u"fail");
        EXPECT_EQ(json[u"aborted"].toString().toStdString(), c.aborted);
    }
}

TEST(Evaluate, DriftIsTheLastTenthAgainstTheFirstInMmHgAnHour)
{
    struct Case {
        const char* name;
        std::vector<std::string> settings;
        double drift[2];        // mmHg an hour, as set
        Verdict verdicts[2];    // the default limit is 2 mmHg/h
    };
    // Noise of 1 mmHg lets the whole-mmHg samples show a fraction of a mmHg.
    const Case cases[] = {
        {"clean", {"ch1 noise 1", "ch2 noise 1"}, {0, 0}, {Verdict::Pass, Verdict::Pass}},
        {"ch1 rising", {"ch1 noise 1", "ch2 noise 1", "ch1 drift 6"}, {6, 0}, {Verdict::Fail, Verdict::Pass}},
        {"ch2 falling", {"ch1 noise 1", "ch2 noise 1", "ch2 drift -3"}, {0, -3}, {Verdict::Pass, Verdict::Fail}},
    };
    const PlanResult plan = parsePlan("[[check]]\nkind = \"drift\"\n", QStringLiteral("drift.toml"));
    ASSERT_TRUE(plan.plan) << plan.error.toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.settings);
        bench.run(*plan.plan);
        const std::vector<Result>& results = bench.session->evaluation().outcomes().at(0).results;
        ASSERT_EQ(results.size(), 2u);
        const std::vector<Bench::Row> rows = bench.csvRows();
        for (int ch = 0; ch < 2; ++ch) {
            const Result& r = results[std::size_t(ch)];
            SCOPED_TRACE(ch + 1);
            EXPECT_EQ(r.channel, ch + 1);
            EXPECT_EQ(r.unit, u"mmHg/h");
            EXPECT_EQ(r.toMs - r.fromMs, 600'000);  // measure_s of the default
            ASSERT_TRUE(r.error);
            EXPECT_NEAR(*r.error, c.drift[ch], 0.5);
            EXPECT_EQ(r.verdict, c.verdicts[ch]) << describe(r).toStdString();
            // The figure from the recording's rows: the mean of the last tenth
            // of the time less that of the first, over the hours between them.
            const qint64 tenth = (r.toMs - r.fromMs) / 10;
            double first = 0, last = 0;
            int nFirst = 0, nLast = 0, n = 0;
            for (const Bench::Row& row : rows) {
                if (row.kind != "waveform" || row.ms < r.fromMs || row.ms >= r.toMs) continue;
                ++n;
                if (row.ms < r.fromMs + tenth) first += row.v[std::size_t(ch)], ++nFirst;
                if (row.ms >= r.toMs - tenth) last += row.v[std::size_t(ch)], ++nLast;
            }
            ASSERT_GT(nFirst, 5000);
            ASSERT_GT(nLast, 5000);
            EXPECT_EQ(r.n, n);
            EXPECT_NEAR(*r.error, (last / nLast - first / nFirst) / ((r.toMs - r.fromMs - tenth) / 3.6e6), 1e-9);
        }
    }
}

TEST(Evaluate, BoardAtTheWrongSpeedFailsWithTheRateMeasured)
{
    struct Case {
        const char* name;
        double clock;  // the board's clock against the host's
        Verdict verdict;
    };
    // The default tolerance is 2 %.
    const Case cases[] = {
        {"5 % slow", 0.95, Verdict::Fail},
        {"3 % fast", 1.03, Verdict::Fail},
        {"1 % fast", 1.01, Verdict::Pass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.boardClock = c.clock;
        bench.run(only(CheckKind::Speed));
        const std::vector<Result>& results = bench.session->evaluation().outcomes().at(0).results;
        ASSERT_EQ(results.size(), 3u);
        for (const Result& r : results) {
            SCOPED_TRACE(*r.reference);
            // Frames counted over 5 s: one more or less is 0.2 a second.
            ASSERT_TRUE(r.mean);
            EXPECT_NEAR(*r.mean, *r.reference * c.clock, 0.25);
            EXPECT_EQ(r.verdict, c.verdict);
            EXPECT_TRUE(describe(r).startsWith(QStringLiteral("frame rate %1 /s: read %2, error ")
                                                   .arg(*r.reference)
                                                   .arg(QString::number(*r.mean, 'f', 1))))
                << describe(r).toStdString();
        }
        EXPECT_EQ(bench.session->evaluation().verdict(), c.verdict);
        EXPECT_EQ(bench.model.framesPerSecond(), 100);  // as before the run
    }
}

TEST(Evaluate, ReportThatCannotBeWrittenSaysWhichFileAndWhy)
{
    struct Case {
        const char* name;
        const char* file;    // the file refused
        QString reason;      // the system's words
        std::function<bool(Bench&)> refuse;  // after the recording has begun
    };
    const Case cases[] = {
        {"its folder gone", "gone/r.json", test::noSuchFolderText(),
         [](Bench& b) { return QDir(b.dir.path()).rename(QStringLiteral("gone"), QStringLiteral("moved")); }},
        {"a folder where a file goes", "gone/r.html", QStringLiteral("Filename refers to a directory"),
         [](Bench& b) { return QDir(b.dir.path()).mkdir(QStringLiteral("gone/r.html")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ASSERT_TRUE(QDir(bench.dir.path()).mkdir(QStringLiteral("gone")));
        bench.name = bench.dir.filePath(QStringLiteral("gone/r"));
        bool refused = false, heard = false;
        std::optional<QString> finished;
        bench.runToReport(only(CheckKind::Identify), false, nullptr, [&] {
            if (!refused) refused = c.refuse(bench);
            if (!heard)
                QObject::connect(bench.session.get(), &Session::reportFinished, [&](const QString& e) { finished = e; });
            heard = true;
        });
        if (!refused) GTEST_SKIP() << "this system would not " << c.name;
        ASSERT_TRUE(bench.session->reportDone());
        EXPECT_EQ(bench.session->evaluation().verdict(), Verdict::Pass);
        const QString expected = QStringLiteral("Cannot write %1: %2")
                                     .arg(QDir::toNativeSeparators(bench.dir.filePath(QLatin1String(c.file))), c.reason);
        EXPECT_EQ(bench.session->reportError().toStdString(), expected.toStdString());
        ASSERT_TRUE(finished);
        EXPECT_EQ(finished->toStdString(), expected.toStdString());
        // No part of the report claims a verdict the session says was not written.
        for (const char* ext : {"json", "html", "xml"})
            EXPECT_FALSE(QFileInfo(bench.dir.filePath(QStringLiteral("gone/r.") + QLatin1String(ext))).isFile()) << ext;
    }
}

// Judging a run again from its recording: under its own plan every figure and
// verdict is the run's, to the bit; under a wider plan the failed rows pass;
// a recording changed by one byte, a missing one and a plan asking for what
// the run did not measure are refused with nothing written.
TEST(Evaluate, RunJudgedAgainFromItsRecording)
{
    Bench bench({"ch1 gain 1.06", "ch1 noise 1", "ch2 noise 1", "ch2 drift 3"});
    Plan plan = defaultPlan();
    PlanResult drift = parsePlan("[[check]]\nkind = \"drift\"\nsettle_s = 1\nmeasure_s = 20\nlimit_mmHg_per_h = 5\n",
                                 QStringLiteral("drift.toml"));
    ASSERT_TRUE(drift.plan) << drift.error.toStdString();
    plan.checks.push_back(drift.plan->checks.at(0));
    bench.run(plan);
    const QString report = bench.name + QStringLiteral(".json");
    const QString again = bench.dir.filePath(QStringLiteral("again"));
    const std::vector<CheckOutcome>& live = bench.session->evaluation().outcomes();

    const Rescored own = rescoreReport(report, std::nullopt, {}, again);
    ASSERT_TRUE(own.report) << own.error.toStdString();
    ASSERT_EQ(own.report->checks.size(), live.size());
    int compared = 0, figures = 0;
    for (std::size_t c = 0; c < live.size(); ++c) {
        const CheckOutcome& was = live[c];
        const CheckOutcome& now = own.report->checks[c];
        SCOPED_TRACE(was.name.toStdString());
        EXPECT_EQ(now.name, was.name);
        EXPECT_EQ(now.verdict, was.verdict);
        ASSERT_EQ(now.results.size(), was.results.size());
        for (std::size_t i = 0; i < was.results.size(); ++i) {
            const Result& a = was.results[i];
            const Result& b = now.results[i];
            SCOPED_TRACE(describe(a).toStdString());
            // Exactly: the same frames through the same functions.
            EXPECT_EQ(b.channel, a.channel);
            EXPECT_EQ(b.quantity, a.quantity);
            EXPECT_EQ(b.unit, a.unit);
            EXPECT_EQ(b.reference, a.reference);
            EXPECT_EQ(b.mean, a.mean);
            EXPECT_EQ(b.sd, a.sd);
            EXPECT_EQ(b.error, a.error);
            EXPECT_EQ(b.limit, a.limit);
            EXPECT_EQ(b.n, a.n);
            EXPECT_EQ(b.verdict, a.verdict);
            EXPECT_EQ(b.fromMs, a.fromMs);
            EXPECT_EQ(b.toMs, a.toMs);
            EXPECT_EQ(b.message, a.message);
            EXPECT_EQ(b.marginal, a.marginal);
            EXPECT_EQ(b.frequencyHz, a.frequencyHz);
            EXPECT_EQ(b.amplitudeMmHg, a.amplitudeMmHg);
            EXPECT_EQ(b.gainDb, a.gainDb);
            EXPECT_EQ(b.appliedMmHg, a.appliedMmHg);
            EXPECT_EQ(b.residualMmHg, a.residualMmHg);
            EXPECT_EQ(b.rejectionDb, a.rejectionDb);
            ++compared;
            figures += a.error.has_value();
        }
        ASSERT_EQ(now.beats.size(), was.beats.size());
        for (std::size_t i = 0; i < was.beats.size(); ++i) {
            EXPECT_EQ(now.beats[i].tMs, was.beats[i].tMs);
            EXPECT_EQ(now.beats[i].waveMax, was.beats[i].waveMax);
            EXPECT_EQ(now.beats[i].waveMin, was.beats[i].waveMin);
        }
    }
    EXPECT_EQ(compared, 47);
    EXPECT_EQ(figures, 3 + 2 + 10 + 11 + 8 + 2);  // speed, zero, static, dynamic, frequency, drift
    EXPECT_EQ(own.report->verdict, bench.session->evaluation().verdict());
    EXPECT_EQ(own.report->rescoredFrom, u"r.json");
    EXPECT_EQ(own.report->bench, u"bench-3");  // judged again elsewhere, still the bench that measured it
    EXPECT_EQ(own.report->bytesPath, u"r.bytes");

    // A wider plan, with a band: what failed passes, close to its limit.
    QByteArray wide = defaultPlanToml().toUtf8();
    wide.replace("limit_mmHg = 4\nlimit_percent = 4", "limit_mmHg = 10\nlimit_percent = 7\nmarginal_percent = 80");
    wide += "[[check]]\nkind = \"drift\"\nsettle_s = 1\nmeasure_s = 20\nlimit_mmHg_per_h = 100\nsource = \"house rule 7\"\n";
    const PlanResult widePlan = parsePlan(wide.toStdString(), QStringLiteral("wide.toml"));
    ASSERT_TRUE(widePlan.plan) << widePlan.error.toStdString();
    const Rescored wider = rescoreReport(report, widePlan.plan, QStringLiteral("wide.toml"), again);
    ASSERT_TRUE(wider.report) << wider.error.toStdString();
    EXPECT_EQ(wider.report->verdict, Verdict::Pass);
    int marginal = 0;
    for (const CheckOutcome& o : wider.report->checks)
        for (const Result& r : o.results) {
            EXPECT_NE(r.verdict, Verdict::Fail) << describe(r).toStdString();
            marginal += r.marginal;
        }
    EXPECT_GE(marginal, 1);  // ch1 at 200 mmHg: +12 of 14
    ASSERT_TRUE(writeReport(*wider.report, again, nullptr));
    const QJsonObject json = QJsonDocument::fromJson([&] {
        QFile f(again + QStringLiteral(".json"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }()).object();
    EXPECT_EQ(json[u"rescored_from"].toString(), u"r.json");
    EXPECT_EQ(json[u"plan"][u"checks"][4][u"limit_mmHg"].toDouble(), 10);
    EXPECT_EQ(json[u"plan"][u"checks"][8][u"source"].toString(), u"house rule 7");

    // Refusals, each naming what it refuses; nothing is written.
    QFile bytes(bench.name + QStringLiteral(".bytes"));
    ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
    const QByteArray recorded = bytes.readAll();
    bytes.close();
    QByteArray changed = recorded;
    const qsizetype at = changed.lastIndexOf("\t") + 1;  // a byte of the last block
    changed[at] = changed[at] == '8' ? '9' : '8';
    struct Case {
        const char* name;
        QByteArray bytes;       // the recording as it is then; empty for none
        const char* plan;       // a plan's TOML, or none
        QString says;
    };
    const Case cases[] = {
        {"one byte changed", changed, nullptr, QStringLiteral("it is not that run's recording")},
        {"recording gone", {}, nullptr, QStringLiteral("r.bytes: ") + test::noSuchFileText()},
        {"a point not measured", recorded, "[[check]]\nkind = \"static\"\npoints = [100, 150]\n",
         "p.toml: the static check \"static\" asks for points 150, which the run did not measure (points [0, 50, 100, 200, 300])"},
        {"a measurement made otherwise", recorded, "[[check]]\nkind = \"static\"\nmeasure_s = 10\n",
         "p.toml: the static check \"static\" has measure_s = 10 where the run had 5"},
        {"a check the run had not", recorded, "[[check]]\nkind = \"speed\"\nname = \"other\"\n[[check]]\nkind = \"drift\"\nname = \"x\"\npoint = 50\n",
         "p.toml: the drift check \"x\" has point = 50 where the run had 100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(bytes.fileName());
        if (!c.bytes.isEmpty()) {
            ASSERT_TRUE(bytes.open(QIODevice::WriteOnly));
            bytes.write(c.bytes);
            bytes.close();
        }
        std::optional<Plan> p;
        if (c.plan) {
            const PlanResult r = parsePlan(c.plan, QStringLiteral("p.toml"));
            ASSERT_TRUE(r.plan) << r.error.toStdString();
            p = r.plan;
        }
        const QString name = bench.dir.filePath(QStringLiteral("refused"));
        const Rescored r = rescoreReport(report, p, QStringLiteral("p.toml"), name);
        EXPECT_FALSE(r.report);
        EXPECT_TRUE(r.error.contains(c.says)) << r.error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(name + QStringLiteral(".json")));
    }
}

// A stated reference under the nonbinary rule: a reading 3 mmHg off a 4 mmHg
// limit with U = 1.29 mmHg is a conditional pass, counted as a pass and
// marked; judged again under the guarded rule it fails, and without the
// reference it is judged as it always was.
TEST(Evaluate, StatedReferenceGivesEachResultItsUncertaintyAndAnotherRuleJudgesAgain)
{
    Bench bench({"ch1 gain 1.03"});
    const std::string checks = "[[check]]\nkind = \"static\"\npoints = [100]\nlimit_percent = 0\n";
    const std::string reference = "[reference]\naccuracy_mmHg = 1\n";
    const PlanResult nonbinary = parsePlan("[plan]\ndecision_rule = \"guarded-nonbinary\"\n" + reference + checks, QStringLiteral("n.toml"));
    ASSERT_TRUE(nonbinary.plan) << nonbinary.error.toStdString();
    bench.run(*nonbinary.plan);
    ASSERT_EQ(bench.session->evaluation().outcomes().size(), 1u);
    const std::vector<Result>& live = bench.session->evaluation().outcomes()[0].results;
    ASSERT_EQ(live.size(), 2u);
    ASSERT_TRUE(live[0].uncertainty && live[0].error);
    EXPECT_NEAR(*live[0].error, 3, 0.2);
    EXPECT_NEAR(live[0].uncertainty->U, 2 * std::sqrt(1 / 3.0 + 1 / 12.0), 0.01);
    EXPECT_EQ(live[0].statement, Statement::ConditionalPass);
    EXPECT_TRUE(live[0].marginal);
    EXPECT_EQ(live[1].statement, Statement::Pass);
    EXPECT_EQ(bench.session->evaluation().verdict(), Verdict::Pass);

    const QJsonObject json = QJsonDocument::fromJson(bench.file("json")).object();
    EXPECT_EQ(json[u"decision_rule"].toString(), u"guarded-nonbinary");
    EXPECT_EQ(json[u"guard_factor"].toDouble(), 1);
    const QJsonObject row = json[u"checks"][0][u"results"][0].toObject();
    EXPECT_EQ(row[u"statement"].toString(), u"conditional pass");
    EXPECT_EQ(row[u"uncertainty"][u"U"].toDouble(), live[0].uncertainty->U);
    EXPECT_EQ(row[u"uncertainty"][u"components"].toArray().size(), 3);

    struct Case {
        const char* name;
        std::string plan;
        Verdict verdict;
        std::optional<Statement> statement;
        bool stated;
    };
    const Case cases[] = {
        {"guarded", "[plan]\ndecision_rule = \"guarded\"\n" + reference + checks, Verdict::Fail, Statement::Fail, true},
        {"no reference", checks, Verdict::Pass, Statement::Pass, false},
    };
    // A guarded plan that nothing could pass: refused before a file is made.
    const PlanResult impossible = parsePlan("[plan]\ndecision_rule = \"guarded\"\n[reference]\naccuracy_mmHg = 4\n" + checks,
                                            QStringLiteral("i.toml"));
    ASSERT_TRUE(impossible.plan) << impossible.error.toStdString();
    SessionSetup refused;
    refused.name = bench.dir.filePath(QStringLiteral("refused"));
    QString why;
    EXPECT_FALSE(Session::create(bench.comm, bench.reference, *impossible.plan, refused, &why));
    EXPECT_TRUE(why.startsWith(u"The plan cannot pass under the guarded rule: static ch1 100 mmHg: U = 4.65 mmHg")) << why.toStdString();
    EXPECT_FALSE(QFileInfo::exists(refused.name + QStringLiteral(".csv")));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlanResult p = parsePlan(c.plan, QStringLiteral("p.toml"));
        ASSERT_TRUE(p.plan) << p.error.toStdString();
        const Rescored again = rescoreReport(bench.name + QStringLiteral(".json"), p.plan, QStringLiteral("p.toml"),
                                             bench.dir.filePath(QStringLiteral("again")));
        ASSERT_TRUE(again.report) << again.error.toStdString();
        const Result& r = again.report->checks.at(0).results.at(0);
        EXPECT_EQ(r.error, live[0].error);
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.statement, c.statement);
        EXPECT_EQ(r.uncertainty.has_value(), c.stated);
        EXPECT_EQ(again.report->verdict, c.verdict);
    }
}
