#include "stationrun.h"

#include "certificate.h"
#include "uncertainty.h"
#include "commands.h"
#include "evaluaterun.h"
#include "exitstatus.h"
#include "portlink.h"
#include "portmenu.h"
#include "qtserialcontrol.h"
#include "station.h"
#include "stdinlines.h"
#include "resultsrun.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <vector>

namespace quorvid::monitor {

namespace {

// The monitor's own read interval (see main.cpp), for each board's port.
constexpr int kReceiveIntervalMs = 40;

}  // namespace

int runStation(const Options& options, const evaluate::Plan& plan, const std::function<void(const QString&)>& printError)
{
    using namespace evaluate;
    // The IDs are checked before any port is opened.
    const QStringList& ports = options.ports;
    QStringList ids = options.boardIds;
    while (ids.size() < ports.size()) ids << QString();
    if (const QString why = stationIdsProblem(ids, ports); !why.isEmpty()) {
        printError(why);
        return kUsage;
    }

    NoPortMenu menu;
    std::vector<std::unique_ptr<QtSerialControl>> comms;
    std::vector<StationBoard> boards;
    int opened = 0;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        auto comm = std::make_unique<QtSerialControl>();
        comm->setReceiveInterval(kReceiveIntervalMs);
        // Each port as it is named, numbered COM1 to COM8 in the order given.
        comm->setDevicePath(ports[i]);
        StationBoard board{comm.get(), ports[i], ids[i], kStartUpState, {}, false};
        if (const CommResult r = OpenPort(*comm, menu, std::uint8_t(i + 1)); !r) {
            board.openError = r.reason;
            printError(QStringLiteral("%1: could not open %2: %3").arg(ids[i].isEmpty() ? ports[i] : ids[i], ports[i], r.reason));
        } else {
            ++opened;
        }
        comms.push_back(std::move(comm));
        boards.push_back(board);
    }
    auto closeAll = [&comms] {
        for (const std::unique_ptr<QtSerialControl>& comm : comms)
            if (comm->portOpen()) (void)comm->setPortOpen(false);
    };
    if (opened == 0) return kNoPort;

    const ReferenceChoice reference = chooseReference(options.referenceCommand);
    OperatorReferenceSetter* person = reference.person;
    QString why;
    std::unique_ptr<Station> station = Station::create(boards, *reference.setter, plan,
                                                       {options.report, options.operatorName, QLatin1String(kProgramName), options.referenceEquipment, benchName(options.bench), options.ambient}, &why);
    if (!station) {
        closeAll();
        printError(why);
        return kUsage;
    }
    for (const QString& warning : predictPlan(plan).warnings) printError(warning);

    int status = -1;
    // A check's line once, when its first board begins it.
    int announced = -1;
    const int checks = static_cast<int>(plan.checks.size());
    for (int i = 0; i < station->boardCount(); ++i) {
        const QString id = station->boardId(i);
        Session& session = station->session(i);
        Evaluation& e = session.evaluation();
        QObject::connect(&e, &Evaluation::checkStarted, &e, [&announced, checks](int check, const QString& name) {
            if (check <= announced) return;
            announced = check;
            printLine(stdout, QStringLiteral("[%1/%2] %3").arg(check + 1).arg(checks).arg(name));
        });
        // Boards go through a check at their own pace between the references:
        // each line names its check.
        QObject::connect(&e, &Evaluation::resultAdded, &e, [id, &plan](int check, const Result& r) {
            printLine(stdout, QStringLiteral("  ") + stationResultLine(id, r, plan.checks.at(std::size_t(check)).name));
        });
        QObject::connect(&e, &Evaluation::checkFinished, &e, [id, &e](int check, Verdict v) {
            printLine(stdout, QStringLiteral("  %1  %2: %3").arg(id, -8).arg(e.outcomes().at(std::size_t(check)).name, verdictName(v)));
        });
        QObject::connect(&session, &Session::recordingFailed, &session, [&, id](const QString& m) {
            printError(QStringLiteral("%1: %2").arg(id, m));
            status = kRecordingFailed;
        });
        QObject::connect(comms[std::size_t(i)].get(), &SerialControl::portLost, &session, [&printError, id, port = ports[i]](const CommResult& r) {
            printError(QStringLiteral("%1: the connection on %2 was lost and the port has been closed. %3").arg(id, port, r.reason));
        });
    }

    StdinLines typed;
    if (person) answerOnTerminal(*person, typed, QStringLiteral(" (all %1 boards)").arg(station->boardCount()));

    QObject::connect(station.get(), &Station::finished, station.get(), [&](const QString& error) {
        if (!error.isEmpty()) {
            printError(error);
            if (status < 0) status = kUsage;
        }
        QCoreApplication::exit(kEndedAsAsked);
    });

    // The start-up state first on every board, as the window's.
    if (options.setup)
        for (std::size_t i = 0; i < comms.size(); ++i)
            if (comms[i]->portOpen())
                for (std::string_view command : kStartUpCommands) (void)SendCommand(*comms[i], command);
    station->start();
    if (!station->reportDone()) QCoreApplication::exec();
    // Ended by a signal: every board is put back and every report written.
    if (!station->reportDone()) station->endNow(QStringLiteral("ended by a signal"));

    printLine(stdout, QString());
    for (const QString& line : stationSummaryLines(*station)) printLine(stdout, line);
    closeAll();
    // Each board's certificate beside its report.
    if (station->reportError().isEmpty())
        for (int i = 0; i < station->boardCount(); ++i) {
            const Session& board = station->session(i);
            QString why;
            if (!certificate::writeCertificate(board.report(), board.setup().name + QStringLiteral(".pdf"), &why)) printError(why);
        }
    // Each board's run on its own, once every report is written, the ports closed.
    if (station->reportError().isEmpty())
        if (const auto to = runStore(options, printError)) {
            QStringList reports;
            for (int i = 0; i < station->boardCount(); ++i) reports << station->session(i).setup().name + QStringLiteral(".json");
            deliver(*to, reports, station->name(), printError);
        }
    if (status >= 0) return status;
    return station->report().verdict == Verdict::Pass ? kEndedAsAsked : kEvaluationFailed;
}

}  // namespace quorvid::monitor
