// quorvid-board: the simulated IBP board on a pseudo-terminal or a serial port.
#include "boardlink.h"
#include "boardmodel.h"
#include "boardserver.h"
#include "bytesreader.h"
#include "replay.h"
#include "shutdown.h"
#include "symboliclink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

using namespace quorvid::sim;

namespace {

int fail(const QString& message, int code)
{
    std::fprintf(stderr, "quorvid-board: %s\n", qPrintable(message));
    return code;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvid-board"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVID_BOARD_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated two-channel IBP board for Quorvid.\n\n"
        "It creates a pseudo-terminal, prints the path of the end a program opens as its\n"
        "serial port on one line of standard output, and speaks the board's protocol on\n"
        "it at 9600 baud until it gets SIGINT or SIGTERM, when it exits with status 0.\n"
        "It answers the commands I, O, M, 5, 6, Z1, Z2, Z3, S0, S1 and S2.\n\n"
        "With --replay it sends a recording's .bytes file instead, with its recorded timing,\n"
        "and logs the commands it hears without acting on them.\n\n"
        "Exit status: 0 when ended by a signal (and for --help, --version), 1 when the line\n"
        "cannot be opened or is lost, 2 for a usage error or a file that cannot be replayed."));
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
        QStringLiteral("Also make <path> a symbolic link to the pseudo-terminal (an existing symbolic "
                       "link there is replaced); removed when the board exits."),
        QStringLiteral("path"));
    const QCommandLineOption portOpt(QStringLiteral("port"),
        QStringLiteral("Drive the existing serial device <device> at 9600 8N1 instead of a "
                       "pseudo-terminal (e.g. /dev/ttyUSB0 or COM5, for a null-modem cable)."),
        QStringLiteral("device"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
        QStringLiteral("Seed of the beat-to-beat variation and of the byte drops; the same seed "
                       "gives the same beats (default 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption dropOpt(QStringLiteral("drop"),
        QStringLiteral("Drop each outgoing byte with probability <p>, 0 to 1 (default 0)."),
        QStringLiteral("p"), QStringLiteral("0"));
    const QCommandLineOption noSensorOpt(QStringLiteral("no-sensor"),
        QStringLiteral("Channel <n> (1 or 2) has no transducer: status 7 \"No Sensor !!!\" and a "
                       "flat line at 0 mmHg."),
        QStringLiteral("n"));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"),
        QStringLiteral("Log every command heard to standard error."));
    const QCommandLineOption traceOpt(QStringLiteral("trace"),
        QStringLiteral("Append \"<ns since the epoch> values-complete\" to <file> each time a values "
                       "frame is completed on the line, that is, when the next frame's first byte "
                       "is written (for the program's load figures)."),
        QStringLiteral("file"));
    const QCommandLineOption replayOpt(QStringLiteral("replay"),
        QStringLiteral("Send the blocks recorded in <file> (a recording's .bytes file) with their "
                       "recorded timing, never faster than 9600 baud carries, instead of simulating "
                       "the board; then keep the line open and silent until ended."),
        QStringLiteral("file"));
    const QCommandLineOption replaySpeedOpt(QStringLiteral("replay-speed"),
        QStringLiteral("Play the recording <x> times as fast (greater than 0; default 1)."),
        QStringLiteral("x"), QStringLiteral("1"));
    const QCommandLineOption loopOpt(QStringLiteral("loop"),
        QStringLiteral("Start the recording over after its last block, until ended."));
    parser.addOptions({linkOpt, portOpt, seedOpt, dropOpt, noSensorOpt, verboseOpt, traceOpt,
                       replayOpt, replaySpeedOpt, loopOpt});
    if (!parser.parse(app.arguments())) {
        QString text = parser.errorText();
        if (text.endsWith(u'.')) text.chop(1);
        return fail(QStringLiteral("%1 (see quorvid-board --help)").arg(text), 2);
    }
    if (parser.isSet(helpOpt)) parser.showHelp(0);
    // Qt's parser prints its own options too for --help-all, and exits 0.
    if (parser.isSet(QStringLiteral("help-all"))) parser.process(app.arguments());
    if (parser.isSet(versionOpt)) parser.showVersion();

    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()), 2);

    BoardOptions options;
    bool ok = false;
    options.seed = parser.value(seedOpt).toULongLong(&ok);
    if (!ok) return fail(QStringLiteral("--seed wants a non-negative integer"), 2);
    options.dropProbability = parser.value(dropOpt).toDouble(&ok);
    if (!ok || !(options.dropProbability >= 0 && options.dropProbability <= 1))
        return fail(QStringLiteral("--drop wants a probability from 0 to 1"), 2);
    if (parser.isSet(noSensorOpt)) {
        options.noSensorChannel = parser.value(noSensorOpt).toInt(&ok);
        if (!ok || (options.noSensorChannel != 1 && options.noSensorChannel != 2))
            return fail(QStringLiteral("--no-sensor wants channel 1 or 2"), 2);
    }
    if (parser.isSet(portOpt) && parser.isSet(linkOpt))
        return fail(QStringLiteral("--link names a pseudo-terminal; it does not go with --port"), 2);

    const bool replaying = parser.isSet(replayOpt);
    const double replaySpeed = parser.value(replaySpeedOpt).toDouble(&ok);
    if (!ok || !(replaySpeed > 0 && std::isfinite(replaySpeed)))
        return fail(QStringLiteral("--replay-speed wants a number greater than 0"), 2);
    if (!replaying) {
        for (const QCommandLineOption* o : {&replaySpeedOpt, &loopOpt})
            if (parser.isSet(*o))
                return fail(QStringLiteral("--%1 goes with --replay").arg(o->names().first()), 2);
    } else {
        // The recording already holds what the board sent: nothing to simulate.
        for (const QCommandLineOption* o : {&seedOpt, &dropOpt, &noSensorOpt, &traceOpt})
            if (parser.isSet(*o))
                return fail(QStringLiteral("--%1 simulates the board; it does not go with --replay")
                                .arg(o->names().first()),
                            2);
    }
    std::optional<quorvid::record::BytesRecording> recording;
    if (replaying) {
        QString why;
        recording = quorvid::record::readBytesFile(parser.value(replayOpt), &why);
        if (!recording) return fail(QStringLiteral("cannot replay %1").arg(why), 2);
        if (recording->blocks.empty())
            return fail(QStringLiteral("cannot replay %1: it holds no received bytes").arg(parser.value(replayOpt)), 2);
    }

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
    if (parser.isSet(traceOpt)) {
        trace.reset(std::fopen(QFile::encodeName(parser.value(traceOpt)).constData(), "a"));
        if (!trace) return fail(QStringLiteral("cannot append to %1").arg(parser.value(traceOpt)), 1);
    }

    QString error;
    if (!quorvid::quitOnTerminationRequest(&error)) return fail(error, 1);

    QString lineName;
    std::unique_ptr<BoardLink> link;
    if (parser.isSet(portOpt)) {
        lineName = parser.value(portOpt);
        link = openSerialPortLink(lineName, &error);
        if (!link) return fail(QStringLiteral("cannot open %1: %2").arg(lineName, error), 1);
    } else {
        link = openPseudoTerminalLink(&lineName, &error);
        if (!link) return fail(QStringLiteral("cannot create a pseudo-terminal: %1").arg(error), 1);
    }

    std::unique_ptr<SymbolicLink> symlink;
    if (parser.isSet(linkOpt)) {
        std::string why;
        symlink = SymbolicLink::create(parser.value(linkOpt).toStdString(), lineName.toStdString(), &why);
        if (!symlink) return fail(QString::fromStdString(why), 1);
    }

    // The one line a script waits for; flushed, since stdout is a pipe then.
    std::fprintf(stdout, "%s\n", qPrintable(lineName));
    std::fflush(stdout);

    int code = 0;
    QObject::connect(link.get(), &BoardLink::failed, &app, [&code](const QString& reason) {
        std::fprintf(stderr, "quorvid-board: the line is gone: %s\n", qPrintable(reason));
        code = 1;
        QCoreApplication::quit();
    });

    if (recording) {
        const std::size_t blocks = recording->blocks.size();
        ReplaySchedule schedule(std::move(recording->blocks), replaySpeed, parser.isSet(loopOpt));
        ReplayServer replay(schedule, *link);
        QObject::connect(&replay, &ReplayServer::heard, &app, [](const QByteArray& bytes) {
            std::fprintf(stderr, "quorvid-board: replaying, not acted on: heard \"%s\"\n",
                         printableBytes(bytes).constData());
        });
        // Silence, not a closed line: a program reading it would report a
        // lost port, which the recording never showed.
        QObject::connect(&replay, &ReplayServer::finished, &app, [blocks] {
            std::fprintf(stderr,
                         "quorvid-board: the replay ended after %zu blocks; the line stays open until "
                         "SIGINT or SIGTERM\n",
                         blocks);
        });
        replay.start();
        app.exec();
        return code;
    }

    BoardModel model(options);
    BoardServer server(model, *link);
    server.setVerbose(parser.isSet(verboseOpt));
    if (trace) {
        server.setValuesCompleteHook([file = trace.get()] {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
            std::fprintf(file, "%lld values-complete\n", static_cast<long long>(ns));
            std::fflush(file);
        });
    }
    server.start();
    app.exec();
    // For a comparison with what a program received (and recorded).
    std::fprintf(stderr,
                 "quorvid-board: wrote %llu frames: waveform %llu, values %llu, status %llu, "
                 "identification %llu\n",
                 static_cast<unsigned long long>(server.framesWritten()),
                 static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Waveform)),
                 static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Values)),
                 static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Status)),
                 static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Identification)));
    return code;
}
