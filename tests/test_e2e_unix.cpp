// The whole program on a real serial line: the main window over the Qt serial
// control, talking through a pseudo-terminal to the built quorvid-board (or to
// a far end the test holds itself), and the built quorvid program run as a user
// would. Every wait is on a condition with a generous bound; rates are taken
// over a count of frames, and their bounds leave room for a loaded machine.
#include "boardmodel.h"
#include "controls.h"
#include "form1.h"
#include "pseudoterminal.h"
#include "qtserialcontrol.h"
#include "sweepchart.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "boardprocess_unix.h"

#include <csignal>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace quorvid;
using quorvid::sim::PseudoTerminal;

namespace {

constexpr int kStartMs = 5000;
constexpr int kWaitMs = 8000;

void mapOnlyCom1(const QString& device)
{
    for (int i = 2; i <= 8; ++i) qunsetenv(qPrintable(QStringLiteral("QUORVID_COM%1").arg(i)));
    qputenv("QUORVID_COM1", device.toLocal8Bit());
}

using quorvid::test::cpuSeconds;
using quorvid::test::dieWithParent;
using Board = quorvid::test::BoardProcess;

// Passes each waveform frame on to the window's chart, counting them, so that
// the rate of frames reaching the chart can be measured.
class CountingSink : public WaveformSink {
public:
    explicit CountingSink(WaveformSink& chart)
        : m_chart(chart)
    {
    }
    void PlotSamples(std::int16_t& s1, std::int16_t& s2) override
    {
        ++frames;
        m_chart.PlotSamples(s1, s2);
    }
    long frames = 0;

private:
    WaveformSink& m_chart;
};

// The seven readouts, in label order, as numbers.
using Reading = std::array<int, 7>;
const std::array<const char*, 7> kReadouts = {"SYS1", "MAP1", "DIA1", "SYS2", "MAP2", "DIA2", "PULSE"};

// The plausible span of each readout for the simulated patient.
struct Span {
    int low, high;
};
constexpr std::array<Span, 7> kPlausible = {
    Span{110, 130}, Span{80, 105}, Span{70, 90},  // channel 1, about 120/80
    Span{20, 30}, Span{8, 20}, Span{5, 15},        // channel 2, about 25/10
    Span{65, 85},                                  // pulse, about 75
};

bool plausible(const Reading& r)
{
    for (std::size_t i = 0; i < r.size(); ++i)
        if (r[i] < kPlausible[i].low || r[i] > kPlausible[i].high) return false;
    return true;
}

std::string show(const Reading& r)
{
    std::string s;
    for (int v : r) s += std::to_string(v) + " ";
    return s;
}

// The window as the program builds it, on the serial control the program uses,
// with COM1 mapped to the given device. Every refresh tick is watched: the
// readouts and statuses it leaves are recorded whenever they change.
class Window {
public:
    explicit Window(const QString& device)
    {
        mapOnlyCom1(device);
        form.framer().setWaveformSink(&sink);
        auto* tick = form.findChild<QTimer*>(QStringLiteral("Val_Update"));
        // Connected after the window's own handler, so it sees what the tick wrote.
        QObject::connect(tick, &QTimer::timeout, &form, [this] { record(); });
        form.Form_Load();
        form.show();
    }
    ~Window() { form.framer().setWaveformSink(nullptr); }

    QLabel* label(const char* name) const
    {
        return form.clientArea()->findChild<QLabel*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return label(name)->text(); }
    void click(const char* button)
    {
        auto* b = form.clientArea()->findChild<QPushButton*>(QString::fromLatin1(button));
        ASSERT_TRUE(b) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    bool statuses(const QString& both) const { return text("Stat1") == both && text("Stat2") == both; }

    // Waveform frames a second reaching the chart, over `count` frames after
    // `settle` frames have passed (those may still be of the speed before).
    double frameRate(long settle, long count)
    {
        const long start = sink.frames + settle;
        if (!QTest::qWaitFor([&] { return sink.frames >= start; }, kWaitMs)) return 0;
        QElapsedTimer clock;
        clock.start();
        const long first = sink.frames;
        if (!QTest::qWaitFor([&] { return sink.frames >= first + count; }, kWaitMs)) return 0;
        return static_cast<double>(sink.frames - first) * 1000.0 / static_cast<double>(clock.elapsed());
    }

    QtSerialControl comm;
    Form1 form{comm};
    CountingSink sink{form.chart()};
    std::vector<Reading> readings;                        // each new set of readouts
    std::vector<std::pair<QString, QString>> statusSeen;  // each new pair of statuses

private:
    void record()
    {
        Reading r{};
        for (std::size_t i = 0; i < r.size(); ++i) r[i] = text(kReadouts[i]).toInt();
        if (text("SYS1") != QStringLiteral("0") && (readings.empty() || readings.back() != r))
            readings.push_back(r);
        std::pair<QString, QString> s{text("Stat1"), text("Stat2")};
        if (statusSeen.empty() || statusSeen.back() != s) statusSeen.push_back(s);
    }
};

}  // namespace

TEST(EndToEnd, StartUpPutsTheBoardIntoTheStateTheWindowShows)
{
    // A far end held here, so that every byte the program sends is seen.
    std::string error;
    auto line = PseudoTerminal::open(&error);
    ASSERT_TRUE(line) << error;
    Window w(QString::fromStdString(line->path()));
    ASSERT_TRUE(w.comm.portOpen());
    EXPECT_EQ(w.form.ActivePort, 1);
    EXPECT_TRUE(w.form.portItem(1)->isChecked());

    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        char buf[64];
        while (line->waitReadable(0)) {
            const auto n = line->read(buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, n);
        }
        return got.size() >= 4;
    }, kStartMs));
    EXPECT_EQ(got.toHex(' '), QByteArray("53 31 4f 35"));
    EXPECT_EQ(w.text("Speed"), QStringLiteral("100"));
}

TEST(EndToEnd, LiveReadoutsStatusesAndTracesFromTheBoard)
{
    Board board;
    ASSERT_FALSE(board.path.isEmpty());
    Window w(board.path);
    ASSERT_TRUE(w.comm.portOpen());

    // Two beats with readouts that differ: the values are live, not one frame.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.readings.size() >= 2; }, kWaitMs))
        << w.readings.size() << " readings";
    for (const Reading& r : w.readings) EXPECT_TRUE(plausible(r)) << show(r);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.statuses(QStringLiteral("Normal Operation")); }, kWaitMs))
        << w.text("Stat1").toStdString() << " / " << w.text("Stat2").toStdString();

    // Traces: about a second of frames has reached the chart and moved the sweep.
    EXPECT_GT(w.sink.frames, 50);
    EXPECT_NE(w.form.chart().SweepX, 0);

    EXPECT_TRUE(board.heard().startsWith(QStringLiteral("S1O5"))) << board.heard().toStdString();
}

TEST(EndToEnd, IdentifyShowsTheBoardsIdentification)
{
    Board board;
    ASSERT_FALSE(board.path.isEmpty());
    Window w(board.path);
    EXPECT_EQ(w.text("Identify"), QStringLiteral("Press Identify"));

    w.click("GetInfo");
    const QString expected = QString::fromStdString(sim::BoardModel::identificationText());
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.text("Identify") == expected; }, kWaitMs))
        << w.text("Identify").toStdString();
    EXPECT_TRUE(board.heard().contains(QStringLiteral("S1O5I"))) << board.heard().toStdString();
}

TEST(EndToEnd, ZeroAllTakesBothChannelsThroughZeroing)
{
    Board board;
    ASSERT_FALSE(board.path.isEmpty());
    Window w(board.path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statuses(QStringLiteral("Normal Operation")); }, kWaitMs));

    w.statusSeen = {{w.text("Stat1"), w.text("Stat2")}};
    w.click("Zeroall");
    // About a second of "Zeroing...", two of "Zeroing ok", then back.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statuses(QStringLiteral("Zeroing...")); }, kStartMs))
        << w.text("Stat1").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statuses(QStringLiteral("Zeroing ok")); }, kStartMs))
        << w.text("Stat1").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statuses(QStringLiteral("Normal Operation")); }, kStartMs))
        << w.text("Stat1").toStdString();

    // Both channels moved together and through nothing else.
    const std::vector<std::pair<QString, QString>> expected = {
        {QStringLiteral("Normal Operation"), QStringLiteral("Normal Operation")},
        {QStringLiteral("Zeroing..."), QStringLiteral("Zeroing...")},
        {QStringLiteral("Zeroing ok"), QStringLiteral("Zeroing ok")},
        {QStringLiteral("Normal Operation"), QStringLiteral("Normal Operation")},
    };
    EXPECT_EQ(w.statusSeen, expected);
    EXPECT_TRUE(board.heard().contains(QStringLiteral("Z3"))) << board.heard().toStdString();
}

TEST(EndToEnd, SetSpeedChangesTheFrameRateOnTheLine)
{
    Board board;
    ASSERT_FALSE(board.path.isEmpty());
    Window w(board.path);

    const double at100 = w.frameRate(20, 100);
    w.click("SelectSpeed");
    EXPECT_EQ(w.text("Speed"), QStringLiteral("150"));
    const double at150 = w.frameRate(30, 150);
    w.click("SelectSpeed");
    EXPECT_EQ(w.text("Speed"), QStringLiteral("50"));
    const double at50 = w.frameRate(20, 60);

    EXPECT_TRUE(at100 >= 70 && at100 <= 130) << at100 << " frames a second at 100";
    EXPECT_TRUE(at150 >= 105 && at150 <= 190) << at150 << " frames a second at 150";
    EXPECT_TRUE(at50 >= 35 && at50 <= 65) << at50 << " frames a second at 50";
    EXPECT_GT(at150, at100 * 1.2);
    EXPECT_GT(at100, at50 * 1.5);
    EXPECT_TRUE(board.heard().contains(QStringLiteral("S2S0"))) << board.heard().toStdString();
}

TEST(EndToEnd, ResynchronisesAfterDroppedBytes)
{
    // One byte in twenty lost. The line has no checksum, so a frame that lost a
    // byte and swallowed the next frame's payload can still decode to nonsense
    // now and then; what matters is that the framer finds its feet at the next
    // header, so good readings keep coming and nothing breaks.
    Board board({QStringLiteral("--drop"), QStringLiteral("0.05"), QStringLiteral("--seed"),
                 QStringLiteral("5")});
    ASSERT_FALSE(board.path.isEmpty());
    Window w(board.path);

    auto good = [&] {
        return std::count_if(w.readings.begin(), w.readings.end(), plausible);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return good() >= 5; }, 15000))
        << good() << " plausible of " << w.readings.size() << " readings";
    const auto bad = static_cast<long>(w.readings.size()) - good();
    EXPECT_LE(bad, good() / 2) << bad << " implausible readings";
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.statuses(QStringLiteral("Normal Operation")); }, kWaitMs));
    EXPECT_GT(w.sink.frames, 300);
    EXPECT_TRUE(w.comm.portOpen());
}

TEST(EndToEnd, BoardEndingLeavesTheProgramRunningAndIdle)
{
    auto board = std::make_unique<Board>();
    ASSERT_FALSE(board->path.isEmpty());
    Window w(board->path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.readings.empty(); }, kWaitMs));

    ASSERT_TRUE(board->end());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.form.messageWindow() && w.form.messageWindow()->isVisible(); },
                                kStartMs));
    EXPECT_EQ(w.form.messageWindow()->windowTitle(), QStringLiteral("Quorvid: COM1"));
    EXPECT_TRUE(w.form.messageWindow()->text().contains(QStringLiteral("lost")));
    EXPECT_FALSE(w.comm.portOpen());
    EXPECT_FALSE(w.form.portItem(1)->isChecked());
    EXPECT_FALSE(w.form.hasEnded());

    // Idle: nothing more reaches the chart, and a command is refused and said so.
    const long frames = w.sink.frames;
    QTest::qWait(300);  // a measuring window: nothing is expected to happen in it
    EXPECT_EQ(w.sink.frames, frames);
    w.click("GetInfo");
    EXPECT_TRUE(w.form.statusBar1().text().startsWith(QStringLiteral("Not sent: I")))
        << w.form.statusBar1().text().toStdString();

    // A board back on the line is taken up again from the Port menu.
    board = std::make_unique<Board>();
    ASSERT_FALSE(board->path.isEmpty());
    mapOnlyCom1(board->path);
    w.readings.clear();
    w.form.portItem(1)->trigger();
    EXPECT_TRUE(w.comm.portOpen());
    EXPECT_TRUE(w.form.portItem(1)->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.readings.empty(); }, kWaitMs));
    EXPECT_GT(w.sink.frames, frames);
}

// The program itself, as a user starts it, on a line held here.
TEST(EndToEnd, ProgramSendsStartUpCommandsAndOutlivesItsLine)
{
    std::string error;
    auto line = PseudoTerminal::open(&error);
    ASSERT_TRUE(line) << error;

    QProcess program;
    dieWithParent(program);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (int i = 1; i <= 8; ++i) env.remove(QStringLiteral("QUORVID_COM%1").arg(i));
    env.insert(QStringLiteral("QUORVID_COM1"), QString::fromStdString(line->path()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(QUORVID_PROGRAM_PATH), {});
    ASSERT_TRUE(program.waitForStarted(kStartMs));

    QByteArray got;
    char buf[64];
    while (got.size() < 4 && line->waitReadable(kWaitMs)) {
        const auto n = line->read(buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, n);
    }
    EXPECT_EQ(got.toHex(' '), QByteArray("53 31 4f 35"));

    // The line vanishes: the program stays up, and does not spin on the dead port.
    line->closeFarEnd();
    const double before = cpuSeconds(program.processId());
    EXPECT_FALSE(program.waitForFinished(1500)) << "ended with " << program.exitCode();  // a measuring window
    EXPECT_EQ(program.state(), QProcess::Running);
    EXPECT_LT(cpuSeconds(program.processId()) - before, 0.5) << "CPU seconds in 1.5 s with the line gone";

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(kStartMs));
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(kStartMs);
    }
}
