#include "historyrun.h"

#include "certificate.h"
#include "frontend.h"
#include "history.h"
#include "rescore.h"
#include "resultsrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace quorvid::monitor {

namespace {

QString withoutEnding(QString name, std::initializer_list<const char*> endings)
{
    for (const char* ext : endings)
        if (name.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) name.chop(qsizetype(qstrlen(ext)));
    return name;
}

}  // namespace

int runHistory(const Options& options, const Printer& print, const Printer& printError)
{
    using namespace evaluate;
    QElapsedTimer timer;
    timer.start();
    QString why;
    const HistoryRequest request{options.history, options.historyBoardId, options.since};
    std::optional<History> h;
    QString source = QStringLiteral("under ") + QDir::toNativeSeparators(options.history);
    if (namesStore(options.history)) {
        // Checked when the options were read.
        const std::optional<store::StoreAddress> from = store::parseStoreAddress(options.history, &why);
        if (from) h = store::readStoreHistory(*from, request, &why);
        if (from) source = QStringLiteral("in ") + from->display();
    } else {
        h = readHistory(request, &why);
    }
    if (!h) {
        printError(why);
        return kCannotRead;
    }
    const QString name = withoutEnding(options.summary, {".json", ".csv", ".html"});
    if (!writeHistory(*h, name, &why)) {
        printError(why);
        return kUsage;
    }
    QStringList boards;
    int failed = 0, marginal = 0;
    for (const HistoryRun& r : h->runs) {
        if (!boards.contains(r.boardId)) boards << r.boardId;
        failed += r.verdict != u"pass";
        marginal += r.marginal;
    }
    print(QStringLiteral("History: %1 runs of %2 boards %3, %4 failed, %5 MARGINAL results; %6 files skipped")
              .arg(h->runs.size())
              .arg(boards.size())
              .arg(source)
              .arg(failed)
              .arg(marginal)
              .arg(h->skipped.size()));
    for (const HistorySkip& s : h->skipped) print(QStringLiteral("  skipped %1: %2").arg(s.path, s.reason));
    print(QStringLiteral("Summary: %1.json, %1.csv, %1.html (in %2 ms)").arg(name).arg(timer.elapsed()));
    return kEndedAsAsked;
}

int runRescore(const Options& options, const Printer& print, const Printer& printError)
{
    using namespace evaluate;
    std::optional<Plan> plan;
    QString planSource;
    if (!options.rescorePlan.isEmpty()) {
        const PlanResult r = readPlanFile(options.rescorePlan);
        if (!r.plan) {
            printError(r.error);
            return kUsage;
        }
        plan = r.plan;
        planSource = options.rescorePlan;
    }
    // A store given wrongly is said before anything is judged or written.
    const std::optional<store::StoreAddress> to = runStore(options, printError);
    if (!to) return kUsage;
    const QString name = withoutEnding(options.report, {".json", ".html", ".xml"});
    // The run's own report is never replaced by its judgement again.
    if (QFileInfo(name + QStringLiteral(".json")).absoluteFilePath() == QFileInfo(options.rescore).absoluteFilePath()) {
        printError(QStringLiteral("--report %1 would replace the report being judged again; choose another name").arg(options.report));
        return kUsage;
    }
    const Rescored r = rescoreReport(options.rescore, plan, planSource, name);
    if (!r.report) {
        printError(r.error);
        return kCannotRead;
    }
    QString why;
    if (!writeReport(*r.report, name, &why)) {
        printError(why);
        return kUsage;
    }
    for (const QString& line : reportSummaryLines(*r.report)) print(line);
    print(QStringLiteral("Report:  %1.json, %1.html, %1.xml, judged again from %2 under %3")
              .arg(name, QDir::toNativeSeparators(options.rescore),
                   plan ? QDir::toNativeSeparators(options.rescorePlan) : QStringLiteral("its own plan")));
    if (certificate::writeCertificate(*r.report, name + QStringLiteral(".pdf"), &why))
        print(QStringLiteral("Certificate: %1.pdf").arg(name));
    else
        printError(why);
    deliver(*to, {name + QStringLiteral(".json")}, {}, printError);
    return r.report->verdict == Verdict::Pass ? kEndedAsAsked : kEvaluationFailed;
}

int runCertificate(const Options& options, const Printer& print, const Printer& printError)
{
    QString why;
    const std::optional<evaluate::StoredReport> report = evaluate::readReportFile(options.certificate, &why);
    if (!report) {
        printError(why);
        return kCannotRead;
    }
    const QString out = options.certificateOut.isEmpty()
                            ? withoutEnding(options.certificate, {".json"}) + QStringLiteral(".pdf")
                            : options.certificateOut;
    if (!certificate::writeCertificate(report->info, out, &why)) {
        printError(why);
        return kUsage;
    }
    print(QStringLiteral("Certificate: %1").arg(QDir::toNativeSeparators(out)));
    return kEndedAsAsked;
}

}  // namespace quorvid::monitor
