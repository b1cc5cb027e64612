#include "frontend.h"

#include "serialcontrol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSysInfo>

#include <algorithm>
#include <array>

namespace quorvid::evaluate {

namespace {

QString verdictWord(Verdict v) { return verdictName(v).toUpper(); }

// Copies source over target by way of a file beside it: the target is either
// left as it was or replaced whole.
bool copyOver(QFile& source, const QString& target, QString* error)
{
    QSaveFile out(target);
    if (out.open(QIODevice::WriteOnly)) {
        while (!source.atEnd()) {
            const QByteArray chunk = source.read(1 << 16);
            if (chunk.isEmpty()) {
                out.cancelWriting();
                if (error)
                    *error = QStringLiteral("Cannot write %1: reading %2: %3")
                                 .arg(QDir::toNativeSeparators(target), QDir::toNativeSeparators(source.fileName()),
                                      source.errorString());
                return false;
            }
            if (out.write(chunk) != chunk.size()) break;
        }
        if (out.commit()) return true;
    }
    if (error) *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(target), out.errorString());
    return false;
}

}  // namespace

QString programVersion() { return QStringLiteral(QUORVID_VERSION); }

QString benchName(const QString& given)
{
    if (const QString trimmed = given.trimmed(); !trimmed.isEmpty()) return trimmed;
    if (const QString env = qEnvironmentVariable("QUORVID_BENCH").trimmed(); !env.isEmpty()) return env;
    return QSysInfo::machineHostName();
}

ReferenceChoice chooseReference(const QString& command)
{
    ReferenceChoice choice;
    if (const QString trimmed = command.trimmed(); !trimmed.isEmpty()) {
        choice.setter = std::make_unique<CommandReferenceSetter>(trimmed);
    } else {
        auto person = std::make_unique<OperatorReferenceSetter>();
        choice.person = person.get();
        choice.setter = std::move(person);
    }
    return choice;
}

SessionSetup sessionSetup(const RunRequest& run, const BoardLink& board)
{
    SessionSetup setup;
    setup.name = run.name;
    setup.operatorName = run.operatorName;
    setup.port = board.port;
    if (board.comm) setup.device = board.comm->deviceName(board.comm->commPort());
    setup.version = programVersion();
    setup.program = QStringLiteral("%1 %2").arg(run.program, setup.version);
    setup.board = board.state;
    setup.referenceEquipment = run.referenceEquipment;
    setup.bench = run.bench;
    setup.ambient = run.ambient;
    setup.boardId = board.boardId;
    return setup;
}

QString resultLine(const Result& r, const QString& check)
{
    if (check.isEmpty()) return QStringLiteral("%1  %2").arg(verdictWords(r), -7).arg(describe(r));
    return QStringLiteral("%1  %2  %3").arg(verdictWords(r), -7).arg(check, -8).arg(describe(r));
}

QString verdictSentence(const ReportInfo& report)
{
    if (report.verdict == Verdict::Pass) return QStringLiteral("PASS");
    const int n = failedResults(report.checks);
    const QString failed = n == 1 ? QStringLiteral("1 result failed") : QStringLiteral("%1 results failed").arg(n);
    return report.aborted.isEmpty() ? QStringLiteral("FAIL: %1").arg(failed)
                                    : QStringLiteral("FAIL: ended early, %1").arg(failed);
}

QStringList summaryLines(const Session& session)
{
    QStringList lines = reportSummaryLines(session.report());
    if (session.reportError().isEmpty())
        lines << QStringLiteral("Report:  %1.json, %1.html, %1.xml (written in %2 ms); recording %1.csv, %1.bytes")
                     .arg(session.setup().name)
                     .arg(session.reportMilliseconds());
    return lines;
}

QStringList reportSummaryLines(const ReportInfo& report)
{
    QStringList lines;
    lines << QStringLiteral("Board:   %1").arg(report.identification.isEmpty() ? QStringLiteral("(no identification)")
                                                                             : report.identification);
    int rows = 0, marginal = 0;
    for (const CheckOutcome& o : report.checks) {
        rows += int(o.results.size());
        const int m = marginalResults(o);
        marginal += m;
        lines << QStringLiteral("%1 %2%3").arg(o.name + u':', -10).arg(verdictWord(o.verdict))
                     .arg(m ? QStringLiteral(" (%1 MARGINAL)").arg(m) : QString());
    }
    for (const CheckOutcome& o : report.checks)
        for (const Result& r : o.results)
            if (r.verdict == Verdict::Fail) lines << QStringLiteral("  %1 %2 %3").arg(verdictWords(r), o.name, describe(r));
    for (const CheckOutcome& o : report.checks)
        for (const Result& r : o.results)
            if (r.marginal) lines << QStringLiteral("  %1 %2 %3").arg(verdictWords(r), o.name, describe(r));
    if (!report.aborted.isEmpty()) lines << QStringLiteral("Ended early: %1").arg(report.aborted);
    // A plan that states its reference or guards its limits says how it judged.
    if (report.plan.reference || report.plan.rule() != DecisionRule::Simple)
        lines << QStringLiteral("Rule:    %1, guard band %2 x U%3")
                     .arg(decisionRuleName(report.plan.rule()), QString::number(report.plan.guard()),
                          report.plan.reference ? QString() : QStringLiteral(" (no [reference]: U not stated, no band)"));
    lines << QStringLiteral("Verdict: %1 (%2 of %3 results failed%4)")
                 .arg(verdictWord(report.verdict))
                 .arg(failedResults(report.checks))
                 .arg(rows)
                 .arg(marginal ? QStringLiteral(", %1 marginal").arg(marginal) : QString());
    return lines;
}

bool saveRunAs(const Session& session, const QString& chosen, QString* error, QString* notSaved)
{
    if (notSaved) notSaved->clear();
    if (!session.reportDone()) {
        if (error) *error = QStringLiteral("The run has not ended yet.");
        return false;
    }
    QString name = chosen;
    for (const char* ext : {".json", ".html", ".xml", ".csv", ".bytes"})
        if (name.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) name.chop(qsizetype(qstrlen(ext)));
    const QString from = session.setup().name;
    // The report that could not be written there is only in memory: it is
    // written here even when NAME is where the run was.
    const bool unwritten = !session.reportError().isEmpty();
    if (!unwritten && QFileInfo(name).absoluteFilePath() == QFileInfo(from).absoluteFilePath()) return true;
    const bool samePlace = QFileInfo(name).absoluteFilePath() == QFileInfo(from).absoluteFilePath();

    // Both parts of the recording are opened before either copy is begun:
    // one that cannot be read leaves both targets as they were.
    const std::array<QLatin1String, 2> parts = {QLatin1String(".csv"), QLatin1String(".bytes")};
    std::array<QFile, 2> sources;
    std::array<bool, 2> readable = {true, true};
    QStringList missing;
    for (std::size_t i = 0; i < parts.size() && !samePlace; ++i) {
        sources[i].setFileName(from + parts[i]);
        if (!sources[i].open(QIODevice::ReadOnly)) {
            const QString why = QStringLiteral("reading %1: %2").arg(QDir::toNativeSeparators(sources[i].fileName()), sources[i].errorString());
            if (!unwritten) {
                if (error) *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(name + parts[i]), why);
                return false;
            }
            readable[i] = false;
            missing << QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(name + parts[i]), why);
        }
    }
    ReportInfo info = session.report();
    for (std::size_t i = 0; i < parts.size() && !samePlace; ++i) {
        if (!readable[i]) continue;
        if (!copyOver(sources[i], name + parts[i], error)) return false;
        (i == 0 ? info.csvPath : info.bytesPath) = QFileInfo(name + parts[i]).fileName();
    }
    if (notSaved && !missing.isEmpty()) *notSaved = QStringLiteral("not saved: %1").arg(missing.join(QStringLiteral("; ")));
    return writeReport(info, name, error);
}

}  // namespace quorvid::evaluate
