// The built quorvid-monitor as a user or a script runs it: on a
// pseudo-terminal whose far end the test holds (to see the bytes sent, to feed
// frames, to pull the line away), or on the built simulated board. Every wait
// is on a condition with a generous bound.
#include "frames.h"
#include "pseudoterminal.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "boardprocess_unix.h"

#include <csignal>
#include <memory>

using namespace quorvid;
using quorvid::sim::PseudoTerminal;

namespace {

constexpr int kWaitMs = 10000;

// The built program with its output gathered as it comes; the port map is
// the test's alone.
class Monitor {
public:
    explicit Monitor(const QStringList& args, const QMap<QString, QString>& env = {})
    {
        test::dieWithParent(m_process);
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (int i = 1; i <= 8; ++i) e.remove(QStringLiteral("QUORVID_COM%1").arg(i));
        for (auto it = env.begin(); it != env.end(); ++it) e.insert(it.key(), it.value());
        m_process.setProcessEnvironment(e);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { out += QString::fromUtf8(m_process.readAllStandardOutput()); });
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { err += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(QStringLiteral(QUORVID_MONITOR_PATH), args);
        m_process.waitForStarted(kWaitMs);
    }
    ~Monitor()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kWaitMs);
        }
    }

    // The exit status, or -1 when it did not end in time or crashed.
    int finish()
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(kWaitMs)) return -1;
        out += QString::fromUtf8(m_process.readAllStandardOutput());
        err += QString::fromUtf8(m_process.readAllStandardError());
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    void signal(int sig) { ::kill(static_cast<pid_t>(m_process.processId()), sig); }
    void type(const QByteArray& text) { m_process.write(text); }
    void endInput() { m_process.closeWriteChannel(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    bool waitForOutput(const QString& text) { return QTest::qWaitFor([&] { return out.contains(text); }, kWaitMs); }

    QString out, err;

private:
    QProcess m_process;
};

// What arrives at the far end, gathered until it reads as wanted.
bool heardAtFarEnd(PseudoTerminal& line, QByteArray& heard, const QByteArray& wanted)
{
    return QTest::qWaitFor(
        [&] {
            char buf[256];
            while (line.waitReadable(0)) {
                const auto n = line.read(buf, sizeof buf);
                if (n <= 0) break;
                heard.append(buf, n);
            }
            return heard.startsWith(wanted) && heard.size() >= wanted.size();
        },
        kWaitMs);
}

std::unique_ptr<PseudoTerminal> openLine()
{
    std::string why;
    auto line = PseudoTerminal::open(&why);
    EXPECT_TRUE(line) << why;
    return line;
}

QString portOf(const PseudoTerminal& line) { return QString::fromStdString(line.path()); }

const QRegularExpression kValuesLine(
    QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d{3}  ch1 (\d+)/(\d+) \((\d+)\)  ch2 (\d+)/(\d+) \((\d+)\)  pulse (\d+)$)"),
    QRegularExpression::MultilineOption);
const QRegularExpression kLinkLine(QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d{3}  link  \d+ B/s  \d+ waveform/s  frames: )"),
                                   QRegularExpression::MultilineOption);

TEST(MonitorProgram, UsageErrorsExitWithTwoAndOneLine)
{
    const std::vector<QStringList> cases = {
        {"--bogus"}, {"--send", "Z9"}, {"--com", "12"}, {"--port", "/dev/null", "--com", "1"}, {"--waveform"}, {"stray"}};
    for (const QStringList& args : cases) {
        Monitor m(args);
        EXPECT_EQ(m.finish(), 2) << args.join(' ').toStdString();
        EXPECT_EQ(m.err.count(u'\n'), 1) << m.err.toStdString();
        EXPECT_TRUE(m.err.startsWith(QLatin1String("quorvid-monitor: "))) << m.err.toStdString();
        EXPECT_TRUE(m.err.contains(QLatin1String("--help"))) << m.err.toStdString();
        EXPECT_TRUE(m.out.isEmpty()) << m.out.toStdString();
    }
}

TEST(MonitorProgram, HelpAndVersionExitWithZero)
{
    Monitor help({"--help"});
    EXPECT_EQ(help.finish(), 0);
    EXPECT_TRUE(help.out.contains(QLatin1String("Exit status:")));
    Monitor version({"--version"});
    EXPECT_EQ(version.finish(), 0);
    EXPECT_TRUE(version.out.startsWith(QLatin1String("quorvid-monitor 1."))) << version.out.toStdString();
}

// Each names the port, its device and the system's reason, as the window does.
TEST(MonitorProgram, NoPortExitsWithThree)
{
    struct Case {
        QStringList args;
        QMap<QString, QString> env;
        QStringList says;
    };
    const std::vector<Case> cases = {
        {{"--port", "/nonexistent/tty"},
         {},
         {"COM1 could not be opened.", "COM1 (/nonexistent/tty): ", "No such file or directory"}},
        {{"--com", "2"}, {{"QUORVID_COM1", "/dev/null"}}, {"COM2 could not be opened.", "QUORVID_COM2 is not set"}},
        {{},
         {{"QUORVID_COM1", "/nonexistent/a"}},
         {"No port among COM1 to COM8 could be opened", "Tried: COM1 (/nonexistent/a)",
          "COM1 (/nonexistent/a): No such file or directory"}},
    };
    for (const Case& c : cases) {
        Monitor m(c.args, c.env);
        EXPECT_EQ(m.finish(), 3) << c.args.join(' ').toStdString();
        for (const QString& part : c.says) EXPECT_TRUE(m.err.contains(part)) << m.err.toStdString();
        EXPECT_TRUE(m.out.isEmpty()) << m.out.toStdString();
    }
}

TEST(MonitorProgram, SetupSentCommandsAndTypedCommandsReachTheLineInOrder)
{
    auto line = openLine();
    ASSERT_TRUE(line);
    Monitor m({"--port", portOf(*line), "--send", "Z3", "--send", "i"});
    QByteArray heard;
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5Z3I")) << heard.toStdString() << m.err.toStdString();

    m.type("m\nno such thing\n\ns2\n");
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5Z3IMS2")) << heard.toStdString();
    EXPECT_EQ(heard, "S1O5Z3IMS2");
    EXPECT_TRUE(QTest::qWaitFor([&] { return m.err.contains(QLatin1String("\"no such thing\"")); }, kWaitMs))
        << m.err.toStdString();
    EXPECT_EQ(m.err.count(u'\n'), 1) << m.err.toStdString();

    // The end of standard input ends nothing: frames still become lines.
    m.endInput();
    ByteString frames = encodeValues({120, 93, 80, 25, 15, 10, 75});
    const ByteString next = encodeWaveform({100, 100});
    frames.insert(frames.end(), next.begin(), next.end());
    ASSERT_TRUE(line->write(frames.data(), frames.size()));
    EXPECT_TRUE(m.waitForOutput(QStringLiteral("  ch1 120/80 (93)  ch2 25/10 (15)  pulse 75\n"))) << m.out.toStdString();
    EXPECT_TRUE(m.running());
    m.signal(SIGTERM);
    EXPECT_EQ(m.finish(), 0);
}

TEST(MonitorProgram, NoSetupSendsOnlyWhatIsAsked)
{
    auto line = openLine();
    ASSERT_TRUE(line);
    Monitor m({"--port", portOf(*line), "--no-setup", "--send", "Z1", "--seconds", "1"});
    EXPECT_EQ(m.finish(), 0);
    QByteArray heard;
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "Z1"));
    EXPECT_EQ(heard, "Z1");
}

// Ctrl-C and SIGTERM leave through the normal path: the last link figures,
// the port closed (the line can be opened again at once), status 0.
TEST(MonitorProgram, TerminationRequestsEndWithZero)
{
    for (const int sig : {SIGINT, SIGTERM}) {
        auto line = openLine();
        ASSERT_TRUE(line);
        Monitor m({"--port", portOf(*line)});
        QByteArray heard;
        ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5"));
        m.signal(sig);
        EXPECT_EQ(m.finish(), 0) << "signal " << sig << ": " << m.err.toStdString();
        EXPECT_TRUE(kLinkLine.match(m.out).hasMatch()) << m.out.toStdString();
        EXPECT_TRUE(m.err.isEmpty()) << m.err.toStdString();

        Monitor again({"--port", portOf(*line), "--seconds", "0.2"});
        EXPECT_EQ(again.finish(), 0) << again.err.toStdString();
    }
}

TEST(MonitorProgram, SecondsEndWithZero)
{
    auto line = openLine();
    ASSERT_TRUE(line);
    QElapsedTimer clock;
    clock.start();
    Monitor m({"--port", portOf(*line), "--seconds", "1.5"});
    EXPECT_EQ(m.finish(), 0) << m.err.toStdString();
    EXPECT_GE(clock.elapsed(), 1500);
    EXPECT_TRUE(kLinkLine.match(m.out).hasMatch()) << m.out.toStdString();
}

TEST(MonitorProgram, LostPortExitsWithOneAndSaysWhy)
{
    auto line = openLine();
    ASSERT_TRUE(line);
    Monitor m({"--port", portOf(*line)});
    QByteArray heard;
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5"));
    line->closeFarEnd();
    EXPECT_EQ(m.finish(), 1) << m.err.toStdString();
    EXPECT_TRUE(m.err.contains(QStringLiteral("The connection on COM1 was lost and the port has been closed. COM1 (%1): ")
                                   .arg(portOf(*line))))
        << m.err.toStdString();
    EXPECT_TRUE(kLinkLine.match(m.out).hasMatch()) << m.out.toStdString();
}

// The simulated board as it runs: plausible values lines, zeroing statuses,
// and the CSV and a recording from the same program.
TEST(MonitorProgram, ShowsTheSimulatedBoard)
{
    test::BoardProcess board;
    ASSERT_FALSE(board.path.isEmpty());
    Monitor m({"--port", board.path, "--send", "Z3", "--seconds", "4"});
    EXPECT_EQ(m.finish(), 0) << m.err.toStdString();
    int values = 0;
    for (auto it = kValuesLine.globalMatch(m.out); it.hasNext(); ++values) {
        const auto match = it.next();
        EXPECT_NEAR(match.captured(1).toInt(), 120, 15) << match.captured(0).toStdString();
        EXPECT_NEAR(match.captured(4).toInt(), 25, 8) << match.captured(0).toStdString();
        EXPECT_NEAR(match.captured(7).toInt(), 75, 12) << match.captured(0).toStdString();
    }
    EXPECT_GE(values, 2) << m.out.toStdString();
    EXPECT_TRUE(m.out.contains(QLatin1String("  status  Zeroing... | Zeroing...\n"))) << m.out.toStdString();
    EXPECT_TRUE(m.out.contains(QLatin1String("  status  Zeroing ok | Zeroing ok\n"))) << m.out.toStdString();
    // The board's log comes in through the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return board.heard().startsWith(QLatin1String("S1O5Z3")); }, kWaitMs))
        << board.heard().toStdString();
}

TEST(MonitorProgram, CsvWithWaveformAndARecording)
{
    test::BoardProcess board;
    ASSERT_FALSE(board.path.isEmpty());
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("run"));
    Monitor m({"--port", board.path, "--format", "csv", "--waveform", "--record", name, "--seconds", "2.5"});
    EXPECT_EQ(m.finish(), 0) << m.err.toStdString();
    const QStringList lines = m.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 100) << m.out.toStdString();
    EXPECT_EQ(lines[0], QLatin1String("time_utc,t_s,kind,ch1_mmHg,ch2_mmHg,sys1,map1,dia1,sys2,map2,dia2,pulse,status1,status2,text"));
    int waveform = 0;
    for (const QString& l : lines.mid(1)) waveform += l.section(u',', 2, 2) == u"waveform";
    EXPECT_GT(waveform, 100);

    QFile csv(name + QStringLiteral(".csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readLine().startsWith("time_utc,t_s,kind,"));
    const QByteArray recorded = csv.readAll();
    EXPECT_GT(recorded.count("\n"), 100);
    EXPECT_TRUE(QFileInfo::exists(name + QStringLiteral(".bytes")));
}

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A recording that cannot be kept whole is a status of its own, 4; a reader
// that goes away early is an end as asked, 0. Either way both files end with
// a whole line.
TEST(MonitorProgram, RecordingEndsWholeAndItsFailureIsStatusFour)
{
    test::BoardProcess board;
    ASSERT_FALSE(board.path.isEmpty());
    const QString monitor = QStringLiteral(QUORVID_MONITOR_PATH);
    struct Case {
        const char* what;
        QString command;  // for bash; %1 the recording's name
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"a file size limit (a full disk)",
         QStringLiteral("ulimit -f 16; trap '' XFSZ; '%1' --port '%2' --format csv --waveform --record %3 "
                        "--seconds 4 </dev/null >/dev/null"),
         4, "File too large"},
        {"standard output closed early",
         QStringLiteral("'%1' --port '%2' --format csv --waveform --record %3 </dev/null | head -3 >/dev/null; "
                        "exit ${PIPESTATUS[0]}"),
         0, ""},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("run"));
        QProcess shell;
        test::dieWithParent(shell);
        shell.start(QStringLiteral("bash"), {"-c", c.command.arg(monitor, board.path, name)});
        ASSERT_TRUE(shell.waitForFinished(kWaitMs)) << c.what;
        const QString err = QString::fromUtf8(shell.readAllStandardError());
        EXPECT_EQ(shell.exitStatus(), QProcess::NormalExit) << c.what;
        EXPECT_EQ(shell.exitCode(), c.status) << c.what << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.says))) << c.what << ": " << err.toStdString();
        for (const char* ext : {".csv", ".bytes"}) {
            const QByteArray text = fileText(name + QLatin1String(ext));
            EXPECT_TRUE(text.size() > 100 && text.endsWith('\n')) << c.what << ext << ": " << text.right(40).toStdString();
        }
    }
}

// Bytes that arrive in the last receive interval before the end are read,
// printed and recorded.
TEST(MonitorProgram, TheLastBytesBeforeTheEndAreKept)
{
    auto line = openLine();
    ASSERT_TRUE(line);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("last"));
    Monitor m({"--port", portOf(*line), "--format", "csv", "--record", name});
    QByteArray heard;
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5"));
    // A frame is complete when the next one starts.
    ByteString frame = encodeValues({121, 94, 81, 26, 16, 11, 76});
    const ByteString next = encodeWaveform({100, 100});
    frame.insert(frame.end(), next.begin(), next.end());
    ASSERT_TRUE(line->write(frame.data(), frame.size()));
    m.signal(SIGTERM);
    EXPECT_EQ(m.finish(), 0) << m.err.toStdString();
    EXPECT_TRUE(m.out.contains(QLatin1String(",values,,,121,94,81,26,16,11,76,"))) << m.out.toStdString();
    EXPECT_TRUE(fileText(name + ".csv").contains(",values,,,121,94,81,26,16,11,76,"));
    const QByteArray hex =
        QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size())).toHex(' ');
    EXPECT_TRUE(fileText(name + ".bytes").contains(hex)) << hex.toStdString();
}

// Standard input is for typed commands: a line past the cap is refused and
// the next still counts; input that is not text is no longer read, and the
// monitor goes on.
TEST(MonitorProgram, TypedLinesAreCappedAndBinaryInputIsLeftAlone)
{
    auto line = openLine();
    ASSERT_TRUE(line);
    Monitor m({"--port", portOf(*line)});
    QByteArray heard;
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5"));
    m.type(QByteArray(300, 'x') + "\nm\n");
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5M")) << heard.toStdString() << m.err.toStdString();
    EXPECT_TRUE(m.err.contains(QLatin1String("a typed line longer than 256 bytes; not sent"))) << m.err.toStdString();
    EXPECT_FALSE(m.err.contains(QLatin1String("xxx"))) << m.err.toStdString();

    m.type(QByteArray(1 << 20, '\0') + "s2\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return m.err.contains(QLatin1String("not text")); }, kWaitMs)) << m.err.toStdString();
    EXPECT_TRUE(m.running());
    m.signal(SIGTERM);
    EXPECT_EQ(m.finish(), 0);
    ASSERT_TRUE(heardAtFarEnd(*line, heard, "S1O5M"));
    EXPECT_EQ(heard, "S1O5M");
}

// Started in the background of a terminal (`quorvid-monitor ... &` with job
// control), it is not stopped for reading the terminal: it runs its time and
// ends as asked.
TEST(MonitorProgram, RunsInTheBackgroundOfItsTerminal)
{
    test::BoardProcess board;
    ASSERT_FALSE(board.path.isEmpty());
    QTemporaryDir dir;
    // script(1) gives the shell a terminal of its own; set -m, job control.
    const QString job = QStringLiteral("set -m; '%1' --port '%2' --record '%3' --seconds 1 >/dev/null & wait $!; "
                                       "echo status=$?")
                            .arg(QStringLiteral(QUORVID_MONITOR_PATH), board.path, dir.filePath("bg"));
    QProcess terminal;
    test::dieWithParent(terminal);
    terminal.start(QStringLiteral("script"), {"-qec", job, "/dev/null"});
    ASSERT_TRUE(terminal.waitForStarted(kWaitMs));
    const bool ended = terminal.waitForFinished(kWaitMs);
    if (!ended) terminal.kill();
    const QString said = QString::fromUtf8(terminal.readAll());
    EXPECT_TRUE(ended && said.contains(QLatin1String("status=0"))) << said.toStdString();
    EXPECT_TRUE(fileText(dir.filePath("bg.csv")).endsWith('\n'));
}

// A certificate's fonts want Qt Gui, which the program brings up for
// --certificate however the option is written; without it Qt aborts.
TEST(MonitorProgram, MakesACertificateWithTheOptionInEitherForm)
{
    QTemporaryDir dir;
    const QString report = QStringLiteral(QUORVID_REPORT_SEEDS "/rescored.json");
    const QString a = dir.filePath("a.pdf"), b = dir.filePath("b.pdf");
    for (const auto& [args, pdf] : {std::pair{QStringList{"--certificate", report, "--out", a}, a},
                                    std::pair{QStringList{"--certificate=" + report, "--out=" + b}, b}}) {
        QProcess monitor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));  // no display, and none named
        monitor.setProcessEnvironment(env);
        monitor.start(QStringLiteral(QUORVID_MONITOR_PATH), args);
        ASSERT_TRUE(monitor.waitForFinished(kWaitMs)) << args.join(u' ').toStdString();
        EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit) << args.join(u' ').toStdString();
        EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
        EXPECT_GT(QFile(pdf).size(), 0) << pdf.toStdString();
    }
}

// A console program: no widget or print library is linked. Qt Gui is, for
// the certificate's fonts alone, on the offscreen platform (no display).
TEST(MonitorProgram, LinksNoWidgetLibrary)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(QUORVID_MONITOR_PATH)});
    ASSERT_TRUE(ldd.waitForFinished(kWaitMs));
    const QString libs = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    ASSERT_TRUE(libs.contains(QLatin1String("libQt6Core"))) << libs.toStdString();
    EXPECT_TRUE(libs.contains(QLatin1String("libQt6SerialPort"))) << libs.toStdString();
    EXPECT_FALSE(libs.contains(QLatin1String("libQt6Widgets"))) << libs.toStdString();
    EXPECT_FALSE(libs.contains(QLatin1String("libQt6PrintSupport"))) << libs.toStdString();
}

}  // namespace
