// quorvid-monitor: the board on the command line. See --help.
#include "commands.h"
#include "evaluaterun.h"
#include "historyrun.h"
#include "exitstatus.h"
#include "monitor.h"
#include "options.h"
#include "portlink.h"
#include "portmenu.h"
#include "portmessages.h"
#include "portnames.h"
#include "qtserialcontrol.h"
#include "recorder.h"
#include "shutdown.h"
#include "stationrun.h"
#include "resultsrun.h"
#if QUORVID_SERVE
#include "serverun.h"
#endif
#include "stdinlines.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>

#include <cstdio>
#include <string_view>
#include <memory>
#include <string>

using namespace quorvid;
using namespace quorvid::monitor;

namespace {

bool g_outputGone = false;  // the reader of standard output went away

// Whole lines, flushed at once: a pipe or a log sees each line as it comes.
// When the reader of standard output goes away (`| head -3`), the program
// ends as asked, through its normal path, with the recording closed whole.
void writeLine(std::FILE* to, std::string_view line)
{
    if (to == stdout && g_outputGone) return;
    std::fwrite(line.data(), 1, line.size(), to);
    std::fputc('\n', to);
    if (std::fflush(to) != 0 && to == stdout) {
        g_outputGone = true;
        QCoreApplication::exit(kEndedAsAsked);
    }
}

void printError(const QString& message)
{
    writeLine(stderr, QStringLiteral("%1: %2").arg(QLatin1String(kProgramName), message).toStdString());
}

// How often the port is read at most (see QtSerialControl::setReceiveInterval):
// at speed 150 this takes the monitor from 0.69 % of one core to 0.24 % (at
// 50 ms; 0.44 % at 20 ms), and 40 ms is still well below what a person reads.
constexpr int kReceiveIntervalMs = 40;

// The opened port number, or 0 after saying why there is none.
std::uint8_t openPort(const Options& options, QtSerialControl& comm, PortMenu& menu)
{
    int port = 0;
    switch (options.port) {
    case Options::Port::Device: {
        QString why;
        port = mapDeviceToPort(options.device, &why);
        if (port == 0) {
            printError(QStringLiteral("%1: %2").arg(options.device, why));
            return 0;
        }
        break;
    }
    case Options::Port::Com:
        port = options.com;
        break;
    case Options::Port::Probe: {
        QStringList refusals;
        port = FindPort(comm, menu, &refusals);
        if (port == 0) {
            // The window's message, and the system's reason for each port
            // that names a device.
            QStringList parts{noPortOpenedText()};
            if (const QString tried = triedDevicesText(comm); !tried.isEmpty()) parts << tried;
            refusals.removeIf([](const QString& r) { return r.contains(QLatin1String("names no device")); });
            if (!refusals.isEmpty()) parts << refusals.join(QStringLiteral("; "));
            printError(parts.join(u' '));
            return 0;
        }
        break;
    }
    }
    if (const CommResult opened = OpenPort(comm, menu, static_cast<std::uint8_t>(port)); !opened) {
        printError(QStringLiteral("%1 %2").arg(openRefusedText(port), opened.reason));
        return 0;
    }
    return static_cast<std::uint8_t>(port);
}

}  // namespace

namespace {

QtMessageHandler previousHandler = nullptr;

// Qt Gui, made, looks for its settings in every standard folder, the runtime
// folder among them, and warns where the session names none (a service, a
// container): nothing for a program that opens no window to say.
void withoutRuntimeFolderWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (previousHandler) previousHandler(type, context, message);
    else std::fputs((qFormatLogMessage(type, context, message) + u'\n').toLocal8Bit().constData(), stderr);
}

}  // namespace

int main(int argc, char* argv[])
{
    StdinLines::keepStandardStreams();
    // A certificate is painted with fonts, which want Qt Gui: a run, its
    // judgement again and --certificate get it, on no screen.
    bool paints = false;
    // As the parser takes them: "--rescore r.json" or "--rescore=r.json".
    for (int i = 1; i < argc; ++i)
        for (std::string_view option : {"--evaluate", "--rescore", "--certificate"}) {
            const std::string_view arg = argv[i];
            paints |= arg.substr(0, option.size()) == option && (arg.size() == option.size() || arg[option.size()] == '=');
        }
    if (paints && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (paints) previousHandler = qInstallMessageHandler(withoutRuntimeFolderWarning);
    std::unique_ptr<QCoreApplication> application =
        paints ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (paints) qInstallMessageHandler(previousHandler);
    QCoreApplication::setApplicationName(QLatin1String(kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));

    const ParsedOptions parsed = parseOptions(QCoreApplication::arguments().mid(1));
    if (!parsed.options) {
        QString why = parsed.error;
        if (why.endsWith(u'.')) why.chop(1);
        printError(QStringLiteral("%1 (see %2 --help)").arg(why, QLatin1String(kProgramName)));
        return kUsage;
    }
    const Options& options = *parsed.options;
    if (options.help) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return kEndedAsAsked;
    }
    if (options.version) {
        writeLine(stdout, QStringLiteral("%1 %2").arg(QLatin1String(kProgramName), QStringLiteral(QUORVID_VERSION)).toStdString());
        return kEndedAsAsked;
    }

    if (options.printPlan) {
        // A plan is for reading back: UTF-8 as every plan file is, never the
        // console's code page, in which Windows would write its "±" as a byte
        // the plan reader refuses.
        std::fputs(evaluate::defaultPlanToml().toUtf8().constData(), stdout);
        return kEndedAsAsked;
    }
    // Past reports are read without a port.
    const auto printOut = [](const QString& line) { writeLine(stdout, line.toLocal8Bit().toStdString()); };
    if (!options.history.isEmpty()) return runHistory(options, printOut, printError);
    if (!options.rescore.isEmpty()) return runRescore(options, printOut, printError);
    if (!options.certificate.isEmpty()) return runCertificate(options, printOut, printError);
    if (options.resultsInit) return runResultsInit(options, printOut, printError);
    if (options.sync) return runSync(options, printOut, printError);
    if (!options.importDir.isEmpty()) return runImport(options, printOut, printError);
    if (options.servePort > 0) {
#if QUORVID_SERVE
        return runServe(options, printOut, printError);
#else
        printError(QStringLiteral("--serve: this build has no server (it needs cpp-httplib)"));
        return kUsage;
#endif
    }

    // A bad plan is refused before the port is even opened.
    std::optional<evaluate::Plan> plan;
    if (options.evaluate) {
        QString why;
        plan = evaluationPlan(options, &why);
        if (!plan) {
            printError(why);
            return kUsage;
        }
        // So is a store given wrongly (QUORVID_RESULTS too).
        if (!runStore(options, printError)) return kUsage;
    }

    // Without it Ctrl-C would end the program before the port is closed and
    // the recording flushed; with a reason it still runs, ended by the system.
    if (QString why; !quitOnTerminationRequest(&why))
        printError(QStringLiteral("Ctrl-C and SIGTERM will not end the program cleanly: %1").arg(why));

    // Several ports: a station of boards evaluated together.
    if (plan && options.ports.size() > 1) return runStation(options, *plan, printError);

    QtSerialControl comm;
    // A terminal needs no reaction faster than this, and reading the port
    // at most this often rather than for every frame takes most of the
    // monitor's work away; block times are then those of the reads.
    comm.setReceiveInterval(kReceiveIntervalMs);
    NoPortMenu menu;
    const std::uint8_t port = openPort(options, comm, menu);
    if (port == 0) return kNoPort;
    if (plan) return runEvaluation(options, *plan, comm, port, printError);

    std::unique_ptr<record::Recorder> recorder;
    if (!options.record.isEmpty()) {
        QString why;
        recorder = record::Recorder::start(
            options.record,
            {comName(port), comm.openDevicePath(),
             QStringLiteral("%1 %2").arg(QLatin1String(kProgramName), QStringLiteral(QUORVID_VERSION))},
            &why);
        if (!recorder) {
            (void)comm.setPortOpen(false);
            printError(why);
            return kUsage;
        }
    }

    Monitor monitor(comm, options.format, options.waveform,
                    [](std::string_view line) { writeLine(stdout, line); },
                    [](std::string_view line) {
                        printError(QString::fromUtf8(line.data(), qsizetype(line.size())));
                    });
    monitor.setRecorder(recorder.get());
    bool recordingFailed = false;
    if (recorder) {
        // A recording that fails stops; the monitor goes on printing, as the
        // window goes on showing, and says so in its exit status.
        QObject::connect(recorder.get(), &record::Recorder::failed, application.get(), [&](const QString& message) {
            monitor.setRecorder(nullptr);
            recordingFailed = true;
            printError(message);
        });
    }

    int status = kEndedAsAsked;
    QObject::connect(&monitor, &Monitor::portLost, application.get(), [&](const CommResult& reason) {
        printError(QStringLiteral("%1 %2").arg(portLostText(port), reason.reason));
        if (recorder && !recorder->hasFailed()) recorder->note(record::portLostNote(reason.reason));
        status = kPortLost;
        QCoreApplication::exit(kPortLost);
    });

    monitor.start();
    if (options.setup) {
        // The state the window starts in.
        for (std::string_view command : kStartUpCommands) monitor.sendNow(command);
    }
    for (std::string_view command : options.sends) monitor.enqueue(command);

    StdinLines typed;
    QObject::connect(&typed, &StdinLines::lineRead, &monitor, &Monitor::typed);
    QObject::connect(&typed, &StdinLines::refused, application.get(), [](const QString& message) { printError(message); });
    typed.start();

    if (options.milliseconds)
        QTimer::singleShot(static_cast<int>(*options.milliseconds), application.get(), [] { QCoreApplication::exit(kEndedAsAsked); });

    const int loopStatus = QCoreApplication::exec();
    // What arrived in the last receive interval is the session's too.
    if (comm.portOpen()) comm.readWaiting();
    monitor.finish();
    monitor.setRecorder(nullptr);
    // A close the system refuses has nobody left to tell: the program ends
    // and the system releases the port with it.
    if (comm.portOpen()) (void)comm.setPortOpen(false);
    if (recorder && !recordingFailed) {
        recorder->flush();  // a refusal here is reported through failed()
    }
    recorder.reset();
    if (recordingFailed) return kRecordingFailed;
    return status != kEndedAsAsked ? status : loopStatus;
}
