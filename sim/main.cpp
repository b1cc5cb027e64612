// quorvid-board: the simulated IBP board on a pseudo-terminal or a serial port.
#include "boardlink.h"
#include "boardmodel.h"
#include "boardserver.h"
#include "boardsettings.h"
#include "bytesreader.h"
#include "controlpipe.h"
#include "lineopenwatch.h"
#include "replay.h"
#include "shutdown.h"
#include "symboliclink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace quorvid::sim;

namespace {

int fail(const QString& message, int code)
{
    std::fprintf(stderr, "quorvid-board: %s\n", qPrintable(message));
    return code;
}

// The most boards one bench serves.
constexpr int kMaxBoards = 8;

// A setting for every board (board 0) or for one.
struct BoardSetting {
    int board = 0;
    std::string line;
};

// What the command line asks for, checked.
struct BoardCommandLine {
    QString port;  // a serial device, else a pseudo-terminal
    QString link;
    int boards = 1;
    BoardOptions options;
    std::vector<BoardSetting> settings;  // --set, in order
    QString control;
    bool verbose = false;
    QString trace;
    QString replay;
    double replaySpeed = 1;
    bool loop = false;
    bool replayStartNow = false;
    std::uint64_t replayBlocks = 0;  // counted when the file was checked
};

// The command line, or the exit status with the message already printed.
// --help, --help-all and --version answer and exit here.
std::optional<BoardCommandLine> readCommandLine(const QCoreApplication& app, int* code)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated two-channel IBP board for Quorvid.\n\n"
        "It creates a pseudo-terminal, prints the path of the end a program opens as its\n"
        "serial port on one line of standard output, and speaks the board's protocol on\n"
        "it at 9600 baud until it gets SIGINT or SIGTERM, when it exits with status 0.\n"
        "It answers the commands I, O, M, 5, 6, Z1, Z2, Z3, S0, S1 and S2.\n\n"
        "With --boards N it serves N independent boards at once, each on a pseudo-terminal of\n"
        "its own (one path a line, board 1 first), all set through one control pipe as a\n"
        "manifold feeds one pressure to every transducer: a setting without a number is for\n"
        "every board, \"K: setting\" for board K only.\n\n"
        "As a bench, it takes the pressure applied to each channel and reads it through a\n"
        "transducer with the errors you set: gain x pressure + offset (+ drift x time) + noise\n"
        "- zero. Z1, Z2 and Z3 capture a static input's reading as the zero; they fail on a\n"
        "pulsatile or sine input, without a transducer, and beyond +-50 mmHg. With no\n"
        "pulsatile input there are no beats: a values frame once a second, pulse 0.\n"
        "Settings, with --set or one a line on the --control pipe:\n") + QString::fromLatin1(settingGrammar()) +
        QStringLiteral(
        "\nWith --replay it sends a recording's .bytes file instead, with its recorded timing\n"
        "from when a program opens the line, and logs the commands it hears without acting on them.\n\n"
        "Exit status: 0 when ended by a signal (and for --help, --version), 1 when the line\n"
        "cannot be opened or is lost, 2 for a usage error or a file that cannot be replayed."));
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
        QStringLiteral("Also make <path> a symbolic link to the pseudo-terminal (an existing symbolic "
                       "link there is replaced); removed when the board exits. With --boards N, "
                       "<path>1 to <path>N."),
        QStringLiteral("path"));
    const QCommandLineOption boardsOpt(QStringLiteral("boards"),
        QStringLiteral("Serve <n> independent boards, 1 to 8 (default 1), each on its own "
                       "pseudo-terminal with its own seed (--seed + K - 1), commands and "
                       "identification, which names its number."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption portOpt(QStringLiteral("port"),
        QStringLiteral("Drive the existing serial device <device> at 9600 8N1 instead of a "
                       "pseudo-terminal (e.g. /dev/ttyUSB0 or COM5, for a null-modem cable)."),
        QStringLiteral("device"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
        QStringLiteral("Seed of the beat-to-beat variation, the noise and the byte drops; the same "
                       "seed, settings and commands give the same bytes (default 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption dropOpt(QStringLiteral("drop"),
        QStringLiteral("Drop each outgoing byte with probability <p>, 0 to 1 (default 0)."),
        QStringLiteral("p"), QStringLiteral("0"));
    const QCommandLineOption noSensorOpt(QStringLiteral("no-sensor"),
        QStringLiteral("Channel <n> (1 or 2) has no transducer: status 7 \"No Sensor !!!\" and a "
                       "flat line at 0 mmHg. The same as --set \"ch<n> off\"."),
        QStringLiteral("n"));
    const QCommandLineOption setOpt(QStringLiteral("set"),
        QStringLiteral("A setting from the start, in the words of a control line, e.g. "
                       "--set \"ch1 static 100\", or --set \"2: ch1 gain 1.06\" for board 2 "
                       "alone; repeatable."),
        QStringLiteral("setting"));
    const QCommandLineOption controlOpt(QStringLiteral("control"),
        QStringLiteral("Make <path> a named pipe (removed at exit) and take one setting a line from "
                       "it while running: echo \"ch1 static 200\" > <path>. Not on Windows."),
        QStringLiteral("path"));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"),
        QStringLiteral("Log every command heard and every setting taken to standard error."));
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
        QStringLiteral("Play the recording <x> times as fast, 0.01 to 1000 (default 1)."),
        QStringLiteral("x"), QStringLiteral("1"));
    const QCommandLineOption replayStartOpt(QStringLiteral("replay-start"),
        QStringLiteral("When the replay starts: \"open\", when a program opens the pseudo-terminal "
                       "(the default), or \"now\". With --port it starts now."),
        QStringLiteral("when"), QStringLiteral("open"));
    const QCommandLineOption loopOpt(QStringLiteral("loop"),
        QStringLiteral("Start the recording over after its last block, until ended."));
    parser.addOptions({linkOpt, boardsOpt, portOpt, seedOpt, dropOpt, noSensorOpt, setOpt, controlOpt, verboseOpt,
                       traceOpt, replayOpt, replaySpeedOpt, replayStartOpt, loopOpt});
    auto usage = [code](const QString& message) {
        *code = fail(message, 2);
        return std::nullopt;
    };
    if (!parser.parse(app.arguments())) {
        QString text = parser.errorText();
        if (text.endsWith(u'.')) text.chop(1);
        return usage(QStringLiteral("%1 (see quorvid-board --help)").arg(text));
    }
    if (parser.isSet(helpOpt)) parser.showHelp(0);
    // Qt's parser prints its own options too for --help-all, and exits 0.
    if (parser.isSet(QStringLiteral("help-all"))) parser.process(app.arguments());
    if (parser.isSet(versionOpt)) parser.showVersion();

    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));

    BoardCommandLine c;
    bool ok = false;
    c.boards = parser.value(boardsOpt).toInt(&ok);
    if (!ok || c.boards < 1 || c.boards > kMaxBoards)
        return usage(QStringLiteral("--boards wants a number from 1 to %1").arg(kMaxBoards));
    if (c.boards > 1) {
        for (const QCommandLineOption* o : {&portOpt, &replayOpt, &traceOpt})
            if (parser.isSet(*o)) return usage(QStringLiteral("--%1 goes with one board, not --boards").arg(o->names().first()));
    }
    c.options.seed = parser.value(seedOpt).toULongLong(&ok);
    if (!ok) return usage(QStringLiteral("--seed wants a non-negative integer"));
    c.options.dropProbability = parser.value(dropOpt).toDouble(&ok);
    if (!ok || !(c.options.dropProbability >= 0 && c.options.dropProbability <= 1))
        return usage(QStringLiteral("--drop wants a probability from 0 to 1"));
    if (parser.isSet(noSensorOpt)) {
        c.options.noSensorChannel = parser.value(noSensorOpt).toInt(&ok);
        if (!ok || (c.options.noSensorChannel != 1 && c.options.noSensorChannel != 2))
            return usage(QStringLiteral("--no-sensor wants channel 1 or 2"));
    }
    for (const QString& s : parser.values(setOpt)) {
        const std::string text = s.toStdString();
        const auto split = splitBoardNumber(text, c.boards);
        if (const auto* why = std::get_if<std::string>(&split))
            return usage(QStringLiteral("--set \"%1\": %2").arg(s, QString::fromStdString(*why)));
        const BoardLine& line = std::get<BoardLine>(split);
        const auto parsed = parseSetting(line.line);
        if (const auto* why = std::get_if<std::string>(&parsed))
            return usage(QStringLiteral("--set \"%1\": %2").arg(s, QString::fromStdString(*why)));
        c.settings.push_back({line.board, std::string(line.line)});
    }
    if (parser.isSet(portOpt) && parser.isSet(linkOpt))
        return usage(QStringLiteral("--link names a pseudo-terminal; it does not go with --port"));
    c.port = parser.value(portOpt);
    c.link = parser.value(linkOpt);
    c.control = parser.value(controlOpt);
    c.verbose = parser.isSet(verboseOpt);
    c.trace = parser.value(traceOpt);
    c.loop = parser.isSet(loopOpt);
    c.replay = parser.value(replayOpt);

    c.replaySpeed = parser.value(replaySpeedOpt).toDouble(&ok);
    if (!ok || !(c.replaySpeed >= kMinReplaySpeed && c.replaySpeed <= kMaxReplaySpeed))
        return usage(QStringLiteral("--replay-speed wants a number from 0.01 to 1000"));
    const QString start = parser.value(replayStartOpt);
    if (start != QLatin1String("open") && start != QLatin1String("now"))
        return usage(QStringLiteral("--replay-start wants \"open\" or \"now\""));
    c.replayStartNow = start == QLatin1String("now");

    if (!parser.isSet(replayOpt)) {
        for (const QCommandLineOption* o : {&replaySpeedOpt, &replayStartOpt, &loopOpt})
            if (parser.isSet(*o)) return usage(QStringLiteral("--%1 goes with --replay").arg(o->names().first()));
        return c;
    }
    // The recording already holds what the board sent: nothing to simulate.
    for (const QCommandLineOption* o : {&seedOpt, &dropOpt, &noSensorOpt, &setOpt, &controlOpt, &traceOpt})
        if (parser.isSet(*o))
            return usage(QStringLiteral("--%1 simulates the board; it does not go with --replay").arg(o->names().first()));
    // Read through once before the line opens, so that a bad file is refused
    // now rather than halfway through; in bounded memory, whatever its size.
    QFile file(c.replay);
    if (!file.open(QIODevice::ReadOnly))
        return usage(QStringLiteral("cannot replay %1: %2").arg(c.replay, file.errorString()));
    quorvid::record::BytesReader reader(&file);
    while (reader.next()) ++c.replayBlocks;
    if (!reader.error().isEmpty())
        return usage(QStringLiteral("cannot replay %1, %2").arg(c.replay, reader.error()));
    for (const QString& w : reader.warnings()) fail(QStringLiteral("%1, %2").arg(c.replay, w), 0);
    if (c.replayBlocks == 0)
        return usage(QStringLiteral("cannot replay %1: it holds no received bytes").arg(c.replay));
    return c;
}

// The board's end of the line, and the symbolic link to it.
struct Line {
    QString name;
    std::unique_ptr<BoardLink> link;
    std::unique_ptr<SymbolicLink> symlink;
};

// Board number (1 to c.boards)'s line.
std::optional<Line> openLine(const BoardCommandLine& c, int number, int* code)
{
    Line line;
    QString error;
    if (!c.port.isEmpty()) {
        line.name = c.port;
        line.link = openSerialPortLink(line.name, &error);
        if (!line.link) return *code = fail(QStringLiteral("cannot open %1: %2").arg(line.name, error), 1), std::nullopt;
    } else {
        line.link = openPseudoTerminalLink(&line.name, &error);
        if (!line.link) return *code = fail(QStringLiteral("cannot create a pseudo-terminal: %1").arg(error), 1), std::nullopt;
    }
    if (!c.link.isEmpty()) {
        std::string why;
        const QString link = c.boards > 1 ? c.link + QString::number(number) : c.link;
        line.symlink = SymbolicLink::create(link.toStdString(), line.name.toStdString(), &why);
        if (!line.symlink) return *code = fail(QString::fromStdString(why), 1), std::nullopt;
    }
    return line;
}

// The simulated boards until a signal ends them.
int runLiveBoards(const BoardCommandLine& c, std::vector<Line>& lines, ControlPipe* control, int& code)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
    if (!c.trace.isEmpty()) {
        trace.reset(std::fopen(QFile::encodeName(c.trace).constData(), "a"));
        if (!trace) return fail(QStringLiteral("cannot append to %1").arg(c.trace), 1);
    }
    const bool several = c.boards > 1;
    // "board 2: " before what a board of several logs.
    auto named = [several](int number) { return several ? "board " + std::to_string(number) + ": " : std::string(); };
    std::vector<std::unique_ptr<BoardModel>> models;
    std::vector<std::unique_ptr<BoardServer>> servers;
    for (int k = 1; k <= c.boards; ++k) {
        BoardOptions options = c.options;
        if (several) {
            options.seed = c.options.seed + std::uint64_t(k - 1);
            options.number = k;
            options.count = c.boards;
        }
        auto model = std::make_unique<BoardModel>(options);
        for (const BoardSetting& s : c.settings) {
            if (s.board != 0 && s.board != k) continue;
            model->applySetting(s.line, SimTime{0});  // checked with the command line
            if (c.verbose) std::fprintf(stderr, "quorvid-board: %sset \"%s\"\n", named(k).c_str(), s.line.c_str());
        }
        auto server = std::make_unique<BoardServer>(*model, *lines[std::size_t(k - 1)].link);
        server->setVerbose(c.verbose);
        if (several) server->setName("board " + std::to_string(k));
        models.push_back(std::move(model));
        servers.push_back(std::move(server));
    }
    if (trace) {
        servers.front()->setValuesCompleteHook([file = trace.get()] {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
            std::fprintf(file, "%lld values-complete\n", static_cast<long long>(ns));
            std::fflush(file);
        });
    }
    if (control) {
        QObject::connect(control, &ControlPipe::lineReceived, control, [&servers, &c, named](const QString& text) {
            const std::string whole = text.trimmed().toStdString();
            const auto split = splitBoardNumber(whole, c.boards);
            if (const auto* why = std::get_if<std::string>(&split)) {
                std::fprintf(stderr, "quorvid-board: ignored \"%s\": %s\n", whole.c_str(), why->c_str());
                return;
            }
            const BoardLine& line = std::get<BoardLine>(split);
            const std::string setting(line.line);
            // Checked once, so that a line for every board is taken by all or by none.
            if (const auto parsed = parseSetting(setting); const auto* why = std::get_if<std::string>(&parsed)) {
                std::fprintf(stderr, "quorvid-board: ignored \"%s\": %s\n", whole.c_str(), why->c_str());
                return;
            }
            for (int k = 1; k <= c.boards; ++k) {
                if (line.board != 0 && line.board != k) continue;
                (void)servers[std::size_t(k - 1)]->applySetting(setting);
                if (c.verbose) std::fprintf(stderr, "quorvid-board: %sset \"%s\"\n", named(k).c_str(), setting.c_str());
            }
        });
        QObject::connect(control, &ControlPipe::lineRefused, control, [](const QString& why) {
            std::fprintf(stderr, "quorvid-board: %s\n", qPrintable(why));
        });
    }
    for (const std::unique_ptr<BoardServer>& server : servers) server->start();
    QCoreApplication::exec();
    // For a comparison with what a program received (and recorded).
    for (int k = 1; k <= c.boards; ++k) {
        const BoardServer& server = *servers[std::size_t(k - 1)];
        std::fprintf(stderr,
                     "quorvid-board: %swrote %llu frames: waveform %llu, values %llu, status %llu, "
                     "identification %llu\n",
                     named(k).c_str(), static_cast<unsigned long long>(server.framesWritten()),
                     static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Waveform)),
                     static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Values)),
                     static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Status)),
                     static_cast<unsigned long long>(server.framesWritten(quorvid::FrameKind::Identification)));
    }
    return code;
}

// The recording, from when a program opens the line, until a signal ends it.
int runReplay(const BoardCommandLine& c, Line& line, int& code, const std::function<void()>& announce)
{
    QString error;
    std::unique_ptr<BlockSource> source = blocksFromFile(c.replay, &error);
    if (!source) return fail(QStringLiteral("cannot replay %1").arg(error), 2);
    ReplaySchedule schedule(std::move(source), c.replaySpeed, c.loop);
    ReplayServer replay(schedule, *line.link);
    QObject::connect(&replay, &ReplayServer::heard, [](const QByteArray& bytes) {
        std::fprintf(stderr, "quorvid-board: replaying, not acted on: heard \"%s\"\n",
                     printableBytes(bytes).constData());
    });
    // Silence, not a closed line: a program reading it would report a
    // lost port, which the recording never showed.
    QObject::connect(&replay, &ReplayServer::finished, [&schedule, &c] {
        if (!schedule.error().isEmpty())
            std::fprintf(stderr, "quorvid-board: the replay stopped after %llu blocks: %s\n",
                         static_cast<unsigned long long>(schedule.blocksTaken()), qPrintable(schedule.error()));
        else
            std::fprintf(stderr,
                         "quorvid-board: the replay ended after %llu blocks; the line stays open until "
                         "SIGINT or SIGTERM\n",
                         static_cast<unsigned long long>(c.replayBlocks));
    });
    // A serial device cannot say when the far side opens it; a pseudo-terminal can.
    std::unique_ptr<LineOpenWatch> watch;
    if (!c.replayStartNow && c.port.isEmpty()) {
        watch = LineOpenWatch::create(line.name, &error);
        if (!watch)
            fail(QStringLiteral("the replay starts now: %1").arg(error), 0);
    }
    // Only now that an open would be seen: a script that opens the line as
    // soon as it is named would otherwise wait for a replay that never starts.
    announce();
    if (watch) {
        // Once: the replay's timing runs from the first open.
        QObject::connect(watch.get(), &LineOpenWatch::opened, &replay, [&replay, &c, started = false]() mutable {
            if (started) return;
            started = true;
            if (c.verbose) std::fprintf(stderr, "quorvid-board: the line is open; the replay starts\n");
            replay.start();
        });
    } else {
        replay.start();
    }
    QCoreApplication::exec();
    return code;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvid-board"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVID_BOARD_VERSION));

    int code = 0;
    const std::optional<BoardCommandLine> c = readCommandLine(app, &code);
    if (!c) return code;

    QString error;
    std::unique_ptr<ControlPipe> control;
    if (!c->control.isEmpty()) {
        control = ControlPipe::create(c->control, &error);
        if (!control) return fail(error, 2);
    }
    if (!quorvid::quitOnTerminationRequest(&error)) return fail(error, 1);
    std::vector<Line> lines;
    for (int k = 1; k <= c->boards; ++k) {
        std::optional<Line> line = openLine(*c, k, &code);
        if (!line) return code;
        lines.push_back(std::move(*line));
    }

    // The lines a script waits for, one a board; flushed, since stdout is a pipe then.
    const auto announce = [&lines] {
        for (const Line& line : lines) std::fprintf(stdout, "%s\n", qPrintable(line.name));
        std::fflush(stdout);
    };
    if (c->replay.isEmpty()) announce();

    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string name = c->boards > 1 ? "board " + std::to_string(k + 1) + ": " : std::string();
        QObject::connect(lines[k].link.get(), &BoardLink::failed, &app, [&code, name](const QString& reason) {
            std::fprintf(stderr, "quorvid-board: %sthe line is gone: %s\n", name.c_str(), qPrintable(reason));
            code = 1;
            QCoreApplication::quit();
        });
    }
    return c->replay.isEmpty() ? runLiveBoards(*c, lines, control.get(), code) : runReplay(*c, lines.front(), code, announce);
}
