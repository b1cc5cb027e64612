#include "station.h"

#include "csvrows.h"
#include "receiver.h"
#include "report.h"
#include "serialcontrol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUrl>
#include <QXmlStreamWriter>

#include <algorithm>
#include <memory>

namespace quorvid::evaluate {

namespace {

// Longer IDs than a label or a bar code carries are a mistake, and would make
// file names some systems refuse.
constexpr qsizetype kMaxIdLength = 64;

QString verdictWord(Verdict v) { return verdictName(v).toUpper(); }

int boardsFailed(const StationReport& report)
{
    return int(std::count_if(report.boards.begin(), report.boards.end(),
                             [](const StationBoardReport& b) { return b.verdict != Verdict::Pass; }));
}

QString boardFileName(const QString& name, const QString& id) { return name + u'-' + fileSafeId(id); }

}  // namespace

QString fileSafeId(const QString& id)
{
    QString out = id;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        const bool safe = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'.' ||
                          u == u'_' || u == u'-';
        if (!safe) c = u'_';
    }
    return out;
}

QString stationIdsProblem(const QStringList& ids, const QStringList& ports)
{
    if (ids.size() > kMaxStationBoards)
        return QStringLiteral("a station takes at most %1 boards, not %2").arg(kMaxStationBoards).arg(ids.size());
    QStringList seen;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QString id = ids[i].isEmpty() ? ports.value(i) : ids[i];
        if (id.size() > kMaxIdLength)
            return QStringLiteral("the board ID \"%1\" is longer than %2 characters").arg(id).arg(kMaxIdLength);
        // Compared as a file system that ignores case would.
        const QString file = fileSafeId(id).toLower();
        if (const qsizetype j = seen.indexOf(file); j >= 0) {
            const QString other = ids[j].isEmpty() ? ports.value(j) : ids[j];
            return QStringLiteral("the boards \"%1\" and \"%2\" would have the same report files (%3): give them different IDs")
                .arg(other, id, fileSafeId(id));
        }
        seen << file;
    }
    return {};
}

// Each board's evaluation asks this for its references; the station asks its
// one real setter once every board still running has asked.
class Station::StandIn : public ReferenceSetter {
public:
    StandIn(Station& station, int board)
        : m_station(station), m_board(board)
    {
    }
    void request(const ReferenceRequest& request) override { m_station.asked(m_board, request); }
    void cancel() override { m_station.cancelled(m_board); }
    void answer(ReferenceOutcome outcome, const QString& message) { emit finished(outcome, message); }

private:
    Station& m_station;
    int m_board;
};

Station::Station(ReferenceSetter& reference, QString name)
    : m_reference(reference), m_name(std::move(name))
{
    connect(&m_reference, &ReferenceSetter::finished, this, &Station::referenceFinished);
}

Station::~Station()
{
    // Each session ends its own run as it goes; what it says on the way is
    // no longer the station's business.
    m_closing = true;
    for (Board& b : m_boards) {
        b.ended = true;
        b.session.reset();
    }
    if (m_inFlight) m_reference.cancel();
}

std::unique_ptr<Station> Station::create(std::vector<StationBoard> boards, ReferenceSetter& reference, Plan plan,
                                         const RunRequest& run, QString* error, record::Recorder::Clock clock)
{
    QStringList ids, ports;
    for (const StationBoard& b : boards) ids << b.boardId, ports << b.port;
    if (const QString why = stationIdsProblem(ids, ports); !why.isEmpty()) {
        if (error) *error = why;
        return nullptr;
    }
    std::unique_ptr<Station> s(new Station(reference, run.name));
    Station* self = s.get();
    s->m_clock = clock;
    // One origin for every board: their t_s and started_utc are the same numbers.
    s->m_origin = {clock.utcMilliseconds(), clock.monotonicMicroseconds()};
    s->m_boards.resize(boards.size());
    for (std::size_t i = 0; i < boards.size(); ++i) {
        Board& b = s->m_boards[i];
        b.given = std::move(boards[i]);
        b.id = b.given.boardId.isEmpty() ? b.given.port : b.given.boardId;
        b.reference = std::make_unique<StandIn>(*self, int(i));
        RunRequest boardRun = run;
        boardRun.name = boardFileName(run.name, b.id);
        SessionSetup setup = sessionSetup(boardRun, {b.given.comm, b.given.port, b.given.state, b.given.boardId});
        setup.clock = clock;
        setup.origin = s->m_origin;
        b.session = Session::create(*b.given.comm, *b.reference, plan, setup, error);
        if (!b.session) return nullptr;
        Evaluation& e = b.session->evaluation();
        e.setGated(true);
        e.setEndWithoutIdentification(QStringLiteral("the board on %1 did not identify itself; it is left out").arg(b.given.port));
        const int index = int(i);
        connect(&e, &Evaluation::gateReached, self, &Station::meet);
        connect(&e, &Evaluation::finished, self, [self, index] { self->boardEnded(index); });
        connect(b.session.get(), &Session::reportFinished, self, [self, index](const QString& why) {
            if (self->m_closing) return;
            emit self->boardFinished(index, why);
            if (--self->m_reportsLeft == 0) self->summarize();
        });
        if (!b.given.framedOutside) {
            b.framer = std::make_unique<Framer>();
            b.framer->setFrameObserver(b.session.get());
            SerialControl* comm = b.given.comm;
            Framer* framer = b.framer.get();
            connect(comm, &SerialControl::onComm, b.session.get(), [comm, framer] { (void)MSComm1_OnComm(*comm, *framer); });
        }
        connect(b.given.comm, &SerialControl::portLost, self, [self, index](const CommResult& reason) {
            Board& lost = self->m_boards[std::size_t(index)];
            lost.session->evaluation().abort(QStringLiteral("the port %1 was lost: %2").arg(lost.given.port, reason.reason));
        });
    }
    s->m_reportsLeft = int(s->m_boards.size());
    s->m_report.startedUtc = QString::fromStdString(record::isoUtc(s->m_origin.utcMilliseconds));
    s->m_report.version = programVersion();
    s->m_report.operatorName = run.operatorName;
    s->m_report.referenceEquipment = run.referenceEquipment;
    s->m_report.bench = run.bench;
    s->m_report.plan = std::move(plan);
    return s;
}

QString Station::boardId(int board) const { return m_boards[std::size_t(board)].id; }

bool Station::running() const
{
    return std::any_of(m_boards.begin(), m_boards.end(), [](const Board& b) { return !b.ended; });
}

qint64 Station::nowMs() const { return (m_clock.monotonicMicroseconds() - m_origin.monotonicMicroseconds) / 1000; }

void Station::start()
{
    if (m_started) return;
    m_started = true;
    // No board is let on before every board has begun.
    m_starting = true;
    for (Board& b : m_boards) {
        if (!b.given.openError.isEmpty())
            b.session->evaluation().abort(QStringLiteral("could not open %1: %2").arg(b.given.port, b.given.openError));
        else
            b.session->start();
    }
    m_starting = false;
    meet();
}

void Station::abort(const QString& why)
{
    for (Board& b : m_boards)
        if (!b.ended) b.session->evaluation().abort(why);
}

void Station::endNow(const QString& why)
{
    for (Board& b : m_boards) b.session->endNow(why);
    if (!m_reportDone) summarize();
}

void Station::asked(int board, const ReferenceRequest& request)
{
    Board& b = m_boards[std::size_t(board)];
    b.asked = true;
    b.request = request;
    meet();
}

void Station::cancelled(int board)
{
    if (!m_closing) m_boards[std::size_t(board)].asked = false;
}

void Station::boardEnded(int board)
{
    if (m_closing) return;
    Board& b = m_boards[std::size_t(board)];
    b.ended = true;
    b.asked = false;
    meet();
}

void Station::meet()
{
    if (!m_started || m_starting || m_closing) return;
    std::vector<int> running, atGate;
    const ReferenceRequest* request = nullptr;
    for (std::size_t i = 0; i < m_boards.size(); ++i) {
        Board& b = m_boards[i];
        if (b.ended) continue;
        running.push_back(int(i));
        if (b.session->evaluation().atGate()) atGate.push_back(int(i));
        else if (b.asked && !request) request = &b.request;
        else if (!b.asked) return;  // still on its way
    }
    if (running.empty()) {
        if (m_inFlight) m_reference.cancel();
        m_inFlight = false;
        return;
    }
    if (!atGate.empty()) {
        // Every board still running is here: they measure from the same moment.
        const qint64 t = nowMs();
        for (int i : atGate) m_boards[std::size_t(i)].session->evaluation().passGate(t);
        return;
    }
    if (m_inFlight || !request) return;
    m_inFlight = true;
    ++m_requests;
    m_reference.request(*request);
}

void Station::referenceFinished(ReferenceOutcome outcome, const QString& message)
{
    if (!m_inFlight) return;
    m_inFlight = false;
    // Every board hears before any goes on to its next wait: the first one
    // answered must not find the others still asking.
    std::vector<int> waiting;
    for (std::size_t i = 0; i < m_boards.size(); ++i) {
        Board& b = m_boards[i];
        if (b.asked && !b.ended) waiting.push_back(int(i));
        b.asked = false;
    }
    for (int i : waiting) m_boards[std::size_t(i)].reference->answer(outcome, message);
    meet();
}

void Station::summarize()
{
    if (m_reportDone) return;
    QElapsedTimer timer;
    timer.start();
    bool pass = true;
    m_report.boards.clear();
    for (const Board& b : m_boards) {
        const ReportInfo& r = b.session->report();
        StationBoardReport out;
        out.boardId = b.id;
        out.port = b.given.port;
        out.identification = r.identification;
        out.verdict = r.verdict;
        out.failed = failedResults(r.checks);
        out.marginal = marginalResults(r.checks);
        out.aborted = r.aborted;
        out.report = QFileInfo(b.session->setup().name).fileName() + QStringLiteral(".json");
        out.checks = r.checks;
        pass = pass && r.verdict == Verdict::Pass;
        m_report.boards.push_back(std::move(out));
    }
    m_report.verdict = pass ? Verdict::Pass : Verdict::Fail;
    QString error;
    if (!writeStationReport(m_report, m_name, &error)) m_reportError = error;
    m_reportMs = timer.elapsed();
    m_reportDone = true;
    emit finished(m_reportError);
}

// The summary's files.

QJsonObject stationJson(const StationReport& report)
{
    QJsonArray boards;
    for (const StationBoardReport& b : report.boards) {
        QJsonObject o{{QStringLiteral("board_id"), b.boardId},
                      {QStringLiteral("port"), b.port},
                      {QStringLiteral("identification"), b.identification},
                      {QStringLiteral("verdict"), b.verdict == Verdict::Pass ? QStringLiteral("pass") : QStringLiteral("fail")},
                      {QStringLiteral("failed"), b.failed},
                      {QStringLiteral("marginal"), b.marginal},
                      {QStringLiteral("report"), b.report}};
        if (!b.aborted.isEmpty()) o.insert(QStringLiteral("aborted"), b.aborted);
        boards.append(o);
    }
    QJsonObject o{
        {QStringLiteral("station"), true},
        {QStringLiteral("verdict"), report.verdict == Verdict::Pass ? QStringLiteral("pass") : QStringLiteral("fail")},
        {QStringLiteral("started_utc"), report.startedUtc},
        {QStringLiteral("quorvid_version"), report.version},
        {QStringLiteral("operator"), report.operatorName},
        {QStringLiteral("reference_equipment"), report.referenceEquipment},
        {QStringLiteral("plan"), planJson(report.plan)},
        {QStringLiteral("boards"), boards},
    };
    if (!report.bench.isEmpty()) o.insert(QStringLiteral("bench"), report.bench);
    return o;
}

QString stationHtml(const StationReport& report)
{
    const auto esc = htmlEscaped;
    const bool pass = report.verdict == Verdict::Pass;
    QString h = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Station %1</title>\n<style>\n"
        "@page { size: A4 landscape; margin: 12mm; }\n"
        "body { font-family: sans-serif; font-size: 10pt; color: #222; max-width: 270mm; margin: 1em auto; }\n"
        "h1 { font-size: 16pt; margin: 0 0 .3em; } h2 { font-size: 12pt; margin: 1.2em 0 .3em; break-after: avoid; }\n"
        "table { border-collapse: collapse; width: 100%; margin: .3em 0; }\n"
        "th, td { border: 1px solid #bbb; padding: 2px 5px; text-align: left; } th { background: #eee; }\n"
        "td.n { text-align: right; } dl { display: grid; grid-template-columns: 9em auto; margin: 0; }\n"
        "dt { font-weight: bold; } dd { margin: 0; } .pass { color: #1e7b34; } .fail { color: #b3261e; font-weight: bold; }\n"
        ".marginal { color: #8a5300; font-weight: bold; }\n"
        ".skipped { color: #8a6d00; } .verdict { font-size: 18pt; padding: .2em .5em; border: 2px solid; display: inline-block; margin: .4em 0; }\n"
        "section { break-inside: avoid; } ul { margin: .2em 0; }\n"
        "</style></head><body>\n")
                    .arg(esc(report.startedUtc));
    h += QStringLiteral("<h1>Station evaluation: %1 boards</h1>\n<dl>").arg(report.boards.size());
    const std::pair<const char*, QString> head[] = {{"Date (UTC)", report.startedUtc},
                                                     {"Operator", report.operatorName},
                                                     {"Reference equipment", report.referenceEquipment.isEmpty()
                                                                                 ? QStringLiteral("not given")
                                                                                 : report.referenceEquipment},
                                                     {"Quorvid", report.version},
                                                     {"Plan", report.plan.name}};
    for (const auto& [k, v] : head) h += QStringLiteral("<dt>%1</dt><dd>%2</dd>").arg(QLatin1String(k), esc(v));
    const int failed = boardsFailed(report);
    h += QStringLiteral("</dl>\n<div class=\"verdict %1\">%2</div>\n")
             .arg(pass ? QStringLiteral("pass") : QStringLiteral("fail"),
                  pass ? QStringLiteral("PASS") : QStringLiteral("FAIL: %1 of %2 boards failed").arg(failed).arg(report.boards.size()));

    // A board by the plan's checks.
    h += QStringLiteral("<h2>Boards</h2>\n<table><tr><th>Board ID</th><th>Port</th>");
    for (const Check& c : report.plan.checks) h += QStringLiteral("<th>%1</th>").arg(esc(c.name));
    h += QStringLiteral("<th>Failed</th><th>Marginal</th><th>Verdict</th><th>Report</th></tr>\n");
    for (const StationBoardReport& b : report.boards) {
        h += QStringLiteral("<tr><td>%1</td><td>%2</td>").arg(esc(b.boardId), esc(b.port));
        for (std::size_t i = 0; i < report.plan.checks.size(); ++i) {
            if (i < b.checks.size()) {
                const QString v = verdictName(b.checks[i].verdict);
                // A pass close to its limit says so in words, not only in colour.
                const int marginal = marginalResults(b.checks[i]);
                h += marginal ? QStringLiteral("<td class=\"marginal\">%1, %2 MARGINAL</td>").arg(v.toUpper()).arg(marginal)
                              : QStringLiteral("<td class=\"%1\">%2</td>").arg(v, v.toUpper());
            } else {
                h += QStringLiteral("<td>not run</td>");
            }
        }
        const QString v = b.verdict == Verdict::Pass ? QStringLiteral("pass") : QStringLiteral("fail");
        const QString page = QFileInfo(b.report).completeBaseName() + QStringLiteral(".html");
        h += QStringLiteral("<td class=\"n\">%1</td><td class=\"n\">%2</td><td class=\"%3\">%4</td><td><a href=\"%5\">%6</a></td></tr>\n")
                 .arg(b.failed)
                 .arg(b.marginal)
                 .arg(v, v.toUpper(), esc(QString::fromLatin1(QUrl::toPercentEncoding(page))), esc(page));
    }
    h += QStringLiteral("</table>\n");

    // Each board that failed, or passed with results close to their limits.
    for (const StationBoardReport& b : report.boards) {
        const bool pass = b.verdict == Verdict::Pass;
        if (pass && b.marginal == 0) continue;
        h += QStringLiteral("<section><h2>%1 %2</h2>\n<p>%3</p>\n<ul>\n")
                 .arg(esc(b.boardId),
                      pass ? QStringLiteral("<span class=\"pass\">PASS</span>, <span class=\"marginal\">%1 MARGINAL</span>").arg(b.marginal)
                           : QStringLiteral("<span class=\"fail\">FAIL</span>"),
                      esc(b.identification.isEmpty() ? QStringLiteral("(no identification)") : b.identification));
        if (!b.aborted.isEmpty()) h += QStringLiteral("<li>Ended early: %1</li>\n").arg(esc(b.aborted));
        for (const CheckOutcome& o : b.checks)
            for (const Result& r : o.results) {
                if (r.verdict == Verdict::Fail && r.quantity != u"aborted")
                    h += QStringLiteral("<li>FAIL %1 %2</li>\n").arg(esc(o.name), esc(describe(r)));
                else if (r.verdict == Verdict::Skipped)
                    h += QStringLiteral("<li>SKIPPED %1 %2</li>\n").arg(esc(o.name), esc(describe(r)));
            }
        for (const CheckOutcome& o : b.checks)
            for (const Result& r : o.results)
                if (r.marginal) h += QStringLiteral("<li class=\"marginal\">MARGINAL %1 %2</li>\n").arg(esc(o.name), esc(describe(r)));
        h += QStringLiteral("</ul></section>\n");
    }
    h += QStringLiteral("</body></html>\n");
    return h;
}

QByteArray stationJUnit(const StationReport& report)
{
    const auto text = xmlCarried;
    QByteArray out;
    QXmlStreamWriter x(&out);
    x.setAutoFormatting(true);
    x.writeStartDocument();
    int tests = 0, failures = 0;
    for (const StationBoardReport& b : report.boards) tests += resultCount(b.checks), failures += b.failed;
    x.writeStartElement(QStringLiteral("testsuites"));
    x.writeAttribute(QStringLiteral("name"), QStringLiteral("Station of %1 boards").arg(report.boards.size()));
    x.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    x.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    for (const StationBoardReport& b : report.boards) {
        // A board that never ran has one failed case: its reason.
        const bool none = resultCount(b.checks) == 0;
        int skipped = 0;
        for (const CheckOutcome& o : b.checks) skipped += skippedResults(o);
        x.writeStartElement(QStringLiteral("testsuite"));
        x.writeAttribute(QStringLiteral("name"), text(b.boardId));
        x.writeAttribute(QStringLiteral("tests"), QString::number(none ? 1 : resultCount(b.checks)));
        x.writeAttribute(QStringLiteral("failures"), QString::number(none ? 1 : b.failed));
        x.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        x.writeAttribute(QStringLiteral("timestamp"), report.startedUtc);
        writeJUnitProperties(x, {{"board_id", b.boardId},
                                 {"port", b.port},
                                 {"identification", b.identification},
                                 {"operator", report.operatorName},
                                 {"report", b.report}});
        if (none) {
            x.writeStartElement(QStringLiteral("testcase"));
            x.writeAttribute(QStringLiteral("classname"), text(QStringLiteral("quorvid.%1").arg(b.boardId)));
            x.writeAttribute(QStringLiteral("name"), QStringLiteral("run"));
            x.writeStartElement(QStringLiteral("failure"));
            x.writeAttribute(QStringLiteral("message"), text(b.aborted));
            x.writeEndElement();
            x.writeEndElement();
        }
        for (const CheckOutcome& o : b.checks)
            for (const Result& r : o.results) writeJUnitCase(x, QStringLiteral("quorvid.%1.%2").arg(b.boardId, o.name), r);
        x.writeEndElement();
    }
    x.writeEndElement();
    x.writeEndDocument();
    return out;
}

bool writeStationReport(const StationReport& report, const QString& name, QString* error)
{
    const std::pair<const char*, QByteArray> files[] = {
        {".json", QJsonDocument(stationJson(report)).toJson(QJsonDocument::Indented)},
        {".html", stationHtml(report).toUtf8()},
        {".xml", stationJUnit(report)},
    };
    std::vector<std::unique_ptr<QSaveFile>> written;
    auto refused = [error](const QSaveFile& file) {
        if (error) *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        return false;
    };
    for (const auto& [ext, bytes] : files) {
        auto file = std::make_unique<QSaveFile>(name + QLatin1String(ext));
        if (!file->open(QIODevice::WriteOnly) || file->write(bytes) != bytes.size()) return refused(*file);
        written.push_back(std::move(file));
    }
    QStringList named;
    for (const std::unique_ptr<QSaveFile>& file : written) {
        if (!file->commit()) {
            for (const QString& path : named) QFile::remove(path);
            return refused(*file);
        }
        named << file->fileName();
    }
    return true;
}

// What the front ends say.

QString stationResultLine(const QString& boardId, const Result& r, const QString& check)
{
    return QStringLiteral("%1  %2").arg(boardId, -8).arg(resultLine(r, check));
}

QString stationVerdictSentence(const StationReport& report)
{
    if (report.verdict == Verdict::Pass) return QStringLiteral("PASS");
    return QStringLiteral("FAIL: %1 of %2 boards failed").arg(boardsFailed(report)).arg(report.boards.size());
}

QString stationBoardVerdict(const ReportInfo& report)
{
    const int marginal = marginalResults(report.checks);
    const QString sentence = verdictSentence(report);
    return marginal ? QStringLiteral("%1, %2 MARGINAL").arg(sentence).arg(marginal) : sentence;
}

QStringList stationSummaryLines(const Station& station)
{
    const StationReport& report = station.report();
    QStringList lines;
    for (const StationBoardReport& b : report.boards) {
        for (const CheckOutcome& o : b.checks)
            for (const Result& r : o.results)
                if (r.verdict == Verdict::Fail && r.quantity != u"aborted")
                    lines << QStringLiteral("  %1  FAIL %2 %3").arg(b.boardId, -8).arg(o.name, describe(r));
        for (const CheckOutcome& o : b.checks)
            for (const Result& r : o.results)
                if (r.marginal) lines << QStringLiteral("  %1  MARGINAL %2 %3").arg(b.boardId, -8).arg(o.name, describe(r));
        if (!b.aborted.isEmpty()) lines << QStringLiteral("  %1  Ended early: %2").arg(b.boardId, -8).arg(b.aborted);
    }
    if (station.reportError().isEmpty()) {
        const QString name = station.name();
        lines << QStringLiteral("Report:  %1.json, %1.html, %1.xml (written in %2 ms); each board's %1-ID.json, .html, .xml, .csv, .bytes")
                     .arg(name)
                     .arg(station.reportMilliseconds());
    }
    for (int i = 0; i < station.boardCount(); ++i) {
        const ReportInfo& r = station.session(i).report();
        const int marginal = marginalResults(r.checks);
        lines << QStringLiteral("%1  %2 (%3 of %4 results failed%5)  %6")
                     .arg(station.boardId(i), -8)
                     .arg(verdictWord(r.verdict))
                     .arg(failedResults(r.checks))
                     .arg(resultCount(r.checks))
                     .arg(marginal ? QStringLiteral(", %1 marginal").arg(marginal) : QString())
                     .arg(r.aborted.isEmpty() ? station.board(i).port : QStringLiteral("%1, ended early").arg(station.board(i).port));
    }
    lines << QStringLiteral("Station: %1 (%2 of %3 boards failed)")
                 .arg(verdictWord(report.verdict))
                 .arg(boardsFailed(report))
                 .arg(report.boards.size());
    return lines;
}

bool saveStationAs(const Station& station, const QString& chosen, QString* error)
{
    if (!station.reportDone()) {
        if (error) *error = QStringLiteral("The run has not ended yet.");
        return false;
    }
    QString name = chosen;
    for (const char* ext : {".json", ".html", ".xml", ".csv", ".bytes"})
        if (name.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) name.chop(qsizetype(qstrlen(ext)));
    StationReport report = station.report();
    for (int i = 0; i < station.boardCount(); ++i) {
        const QString boardName = boardFileName(name, station.boardId(i));
        if (!saveRunAs(station.session(i), boardName, error)) return false;
        report.boards[std::size_t(i)].report = QFileInfo(boardName).fileName() + QStringLiteral(".json");
    }
    return writeStationReport(report, name, error);
}

}  // namespace quorvid::evaluate
