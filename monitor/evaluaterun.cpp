#include "evaluaterun.h"

#include "commands.h"
#include "frontend.h"
#include "portmessages.h"
#include "portnames.h"
#include "receiver.h"
#include "serialcontrol.h"
#include "session.h"
#include "stdinlines.h"
#include "resultsrun.h"
#include "uncertainty.h"
#include "certificate.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace quorvid::monitor {

void printLine(std::FILE* to, const QString& line)
{
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to);
    std::fputc('\n', to);
    std::fflush(to);
}

void answerOnTerminal(evaluate::OperatorReferenceSetter& person, StdinLines& typed, const QString& forWhom)
{
    using evaluate::OperatorReferenceSetter;
    QObject::connect(&person, &OperatorReferenceSetter::instructionShown, &person, [forWhom](const QString& text) {
        printLine(stderr, QStringLiteral("%1%2  [Enter: measure, s Enter: skip, a Enter: abort]").arg(text, forWhom));
    });
    QObject::connect(&typed, &StdinLines::lineRead, &person, [p = &person](const QString& line) {
        const QString answer = line.trimmed().toLower();
        if (answer == u"s") p->skip();
        else if (answer == u"a") p->abort();
        else p->measure();
    });
    typed.start();
}

QString evaluateOptions(bool evaluate, const QString& planFile, const QString& report, const QString& referenceCommand,
                        const QString& operatorName, Options* o)
{
    if (!evaluate) {
        if (!report.isEmpty() || !referenceCommand.isEmpty() || !operatorName.isEmpty())
            return QStringLiteral("--report, --reference-command and --operator go with --evaluate");
        return {};
    }
    if (report.isEmpty()) return QStringLiteral("--evaluate wants --report NAME, e.g. --report board-0042");
    if (!o->record.isEmpty() || !o->sends.empty() || o->milliseconds || o->format != Format::Text || o->waveform)
        return QStringLiteral("--evaluate records and reports by itself: it does not go with --record, --send, "
                              "--seconds, --format or --waveform");
    o->evaluate = true;
    o->plan = planFile;
    o->report = report;
    o->referenceCommand = referenceCommand;
    o->operatorName = operatorName;
    return {};
}

std::optional<evaluate::Plan> evaluationPlan(const Options& options, QString* error)
{
    if (options.plan.isEmpty()) return evaluate::defaultPlan();
    evaluate::PlanResult r = evaluate::readPlanFile(options.plan);
    if (!r.plan && error) *error = r.error;
    return r.plan;
}

int runEvaluation(const Options& options, const evaluate::Plan& plan, SerialControl& comm, int port,
                  const std::function<void(const QString&)>& printError)
{
    using namespace evaluate;
    const ReferenceChoice reference = chooseReference(options.referenceCommand);
    OperatorReferenceSetter* person = reference.person;

    // The start-up state, which --no-setup leaves as the board has it.
    const SessionSetup setup = sessionSetup({options.report, options.operatorName, QLatin1String(kProgramName), options.referenceEquipment, benchName(options.bench), options.ambient},
                                            {&comm, comName(port), kStartUpState, options.boardIds.value(0)});
    QString why;
    std::unique_ptr<Session> session = Session::create(comm, *reference.setter, plan, setup, &why);
    if (!session) {
        printError(why);
        return kUsage;
    }
    for (const QString& warning : predictPlan(plan).warnings) printError(warning);

    Framer framer;
    framer.setFrameObserver(session.get());
    QObject::connect(&comm, &SerialControl::onComm, session.get(), [&] { (void)MSComm1_OnComm(comm, framer); });

    int status = -1;
    QObject::connect(&comm, &SerialControl::portLost, session.get(), [&](const CommResult& reason) {
        printError(QStringLiteral("%1 %2").arg(portLostText(port), reason.reason));
        status = kPortLost;
        session->evaluation().abort(QStringLiteral("the port was lost: %1").arg(reason.reason));
    });
    // A recording that cannot be written ends the evaluation: its figures
    // could no longer be checked against the rows, as for --record.
    QObject::connect(session.get(), &Session::recordingFailed, session.get(), [&](const QString& m) {
        printError(m);
        if (status < 0) status = kRecordingFailed;
    });

    Evaluation& e = session->evaluation();
    const int checks = static_cast<int>(plan.checks.size());
    QObject::connect(&e, &Evaluation::checkStarted, &e, [checks](int i, const QString& name) {
        printLine(stdout, QStringLiteral("[%1/%2] %3").arg(i + 1).arg(checks).arg(name));
    });
    QObject::connect(&e, &Evaluation::resultAdded, &e, [](int, const Result& r) {
        printLine(stdout, QStringLiteral("  ") + resultLine(r));
    });
    QObject::connect(&e, &Evaluation::checkFinished, &e, [&e](int i, Verdict v) {
        printLine(stdout, QStringLiteral("  %1: %2").arg(e.outcomes().at(std::size_t(i)).name, verdictName(v)));
    });

    StdinLines typed;
    if (person) answerOnTerminal(*person, typed);

    bool reportWritten = false;
    QObject::connect(session.get(), &Session::reportFinished, session.get(), [&](const QString& error) {
        if (!error.isEmpty()) {
            printError(error);
            if (status < 0) status = kUsage;
        }
        reportWritten = error.isEmpty();
        QCoreApplication::exit(kEndedAsAsked);
    });

    // The start-up state first, as the window's.
    if (options.setup)
        for (std::string_view command : kStartUpCommands) (void)SendCommand(comm, command);
    session->start();
    QCoreApplication::exec();
    if (!session->reportDone()) {
        // Ended by a signal: close the run and write what it has.
        e.abort(QStringLiteral("ended by a signal"));
        QCoreApplication::processEvents();
    }

    printLine(stdout, QString());
    for (const QString& line : summaryLines(*session)) printLine(stdout, line);
    if (reportWritten) {
        QString why;
        if (certificate::writeCertificate(session->report(), setup.name + QStringLiteral(".pdf"), &why))
            printLine(stdout, QStringLiteral("Certificate: %1.pdf").arg(setup.name));
        else
            printError(why);
    }
    if (comm.portOpen()) (void)comm.setPortOpen(false);
    // The report files first, the record of truth; then the store, with the
    // port closed.
    if (reportWritten)
        if (const auto to = runStore(options, printError)) deliver(*to, {setup.name + QStringLiteral(".json")}, {}, printError);
    if (status >= 0) return status;
    return session->report().verdict == Verdict::Pass ? kEndedAsAsked : kEvaluationFailed;
}

}  // namespace quorvid::monitor
