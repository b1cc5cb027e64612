// The built quorvid-board on a real pseudo-terminal: what a program on the near
// end sees, how the board answers, and how it ends. Waits are bounded and
// generous; the rates checked are wide enough for a loaded machine.
#include "boardmodel.h"
#include "framer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "boardprocess_unix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace quorvid;

namespace {

// A program's end of the line, opened as a serial port would be.
class NearEnd {
public:
    explicit NearEnd(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) return;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    ~NearEnd() { close(); }

    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    void send(std::string_view s) { ASSERT_EQ(::write(m_fd, s.data(), s.size()), static_cast<ssize_t>(s.size())); }

    // Everything that arrives within ms milliseconds.
    ByteString readFor(int ms)
    {
        ByteString got;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(ms - clock.elapsed())) <= 0) continue;
            Byte buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

private:
    int m_fd = -1;
};

int count(const ByteString& stream, FrameKind kind)
{
    return static_cast<int>(std::count_if(stream.begin(), stream.end(),
                                          [kind](Byte b) { return isHeader(b) && frameKind(b) == kind; }));
}

using quorvid::test::cpuSeconds;
using Board = quorvid::test::BoardProcess;

}  // namespace

TEST(BoardProcess, ServesTheLineAndAnswersCommands)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string link = dir.filePath(QStringLiteral("board")).toStdString();
    Board board({QStringLiteral("--link"), QString::fromStdString(link)});
    ASSERT_FALSE(board.path.isEmpty()) << "no path on standard output";
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), board.path.toStdString());

    NearEnd line(link);
    ASSERT_TRUE(line.isOpen()) << std::strerror(errno);
    line.readFor(200);  // let the stream settle after opening

    const ByteString normal = line.readFor(2000);
    const double rate100 = count(normal, FrameKind::Waveform) / 2.0;
    EXPECT_TRUE(rate100 >= 60 && rate100 <= 140) << rate100 << " frames a second";
    EXPECT_GE(count(normal, FrameKind::Status), 1);
    EXPECT_GE(count(normal, FrameKind::Values), 1);
    EXPECT_LE(normal.size(), 2 * 960u + 16) << "faster than the line";

    line.send("S");
    line.send("2");
    line.readFor(300);
    const ByteString fast = line.readFor(2000);
    const double rate150 = count(fast, FrameKind::Waveform) / 2.0;
    EXPECT_TRUE(rate150 >= 100 && rate150 <= 200) << rate150 << " frames a second";
    EXPECT_GT(rate150, rate100 * 1.2);

    line.send("I");
    Framer framer;
    for (int i = 0; i < 20 && framer.FrameInfo.empty(); ++i) framer.feed(line.readFor(100));
    const std::u16string id = decodeIdentification(framer.FrameInfo);
    EXPECT_GE(id.size(), kMinIdentificationChars);
    EXPECT_NE(std::string(id.begin(), id.end()).find("simulated"), std::string::npos);

    QElapsedTimer clock;
    clock.start();
    board.process().terminate();  // SIGTERM
    ASSERT_TRUE(board.process().waitForFinished(1000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(board.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(board.process().exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "link left behind";
}

TEST(BoardProcess, EndsAtOnceAndCleanlyOnEverySignal)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        QTemporaryDir dir;
        const std::string link = dir.filePath(QStringLiteral("board")).toStdString();
        Board board({QStringLiteral("--link"), QString::fromStdString(link)});
        ASSERT_FALSE(board.path.isEmpty());
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(::kill(static_cast<pid_t>(board.pid()), sig), 0);
        ASSERT_TRUE(board.process().waitForFinished(1000)) << "signal " << sig;
        EXPECT_LT(clock.elapsed(), 1000) << "signal " << sig;
        EXPECT_EQ(board.process().exitStatus(), QProcess::NormalExit) << "signal " << sig;
        EXPECT_EQ(board.process().exitCode(), 0) << "signal " << sig;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "signal " << sig;
    }
}

TEST(BoardProcess, KeepsServingAfterTheNearEndClosesAndReopens)
{
    Board board;
    ASSERT_FALSE(board.path.isEmpty());
    {
        NearEnd line(board.path.toStdString());
        ASSERT_TRUE(line.isOpen());
        EXPECT_GT(count(line.readFor(500), FrameKind::Waveform), 20);
    }
    // Nobody on the line: the board neither ends nor spins.
    // A measuring window, not a wait for something to happen.
    const double before = cpuSeconds(board.pid());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double used = cpuSeconds(board.pid()) - before;
    EXPECT_LT(used, 0.3) << "CPU seconds used in 2 s with the near end closed";
    ASSERT_EQ(board.process().state(), QProcess::Running);

    NearEnd again(board.path.toStdString());
    ASSERT_TRUE(again.isOpen());
    const ByteString after = again.readFor(1000);
    EXPECT_GT(count(after, FrameKind::Waveform), 50);
    again.send("S0");
    again.readFor(300);
    const int slow = count(again.readFor(2000), FrameKind::Waveform);
    EXPECT_TRUE(slow >= 60 && slow <= 140) << slow << " frames in 2 s at speed 50";
}

TEST(BoardProcess, FaultOptions)
{
    {
        Board board({QStringLiteral("--drop"), QStringLiteral("1")});
        ASSERT_FALSE(board.path.isEmpty());
        NearEnd line(board.path.toStdString());
        EXPECT_TRUE(line.readFor(700).empty()) << "--drop 1 let bytes through";
    }
    {
        Board board({QStringLiteral("--no-sensor"), QStringLiteral("2")});
        ASSERT_FALSE(board.path.isEmpty());
        NearEnd line(board.path.toStdString());
        const ByteString got = line.readFor(1500);
        Framer framer;
        framer.feed(got);
        const auto status = decodeStatus(framer.FrameStatus);
        ASSERT_TRUE(status);
        EXPECT_EQ(*status, (StatusCodes{0, 7}));
    }
}

TEST(BoardProcess, RefusesBadOptions)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("precious"));
    std::ofstream(file.toStdString()) << "keep";
    struct Row { QStringList args; int code; };
    const Row rows[] = {
        {{QStringLiteral("--drop"), QStringLiteral("1.5")}, 2},
        {{QStringLiteral("--drop"), QStringLiteral("lots")}, 2},
        {{QStringLiteral("--no-sensor"), QStringLiteral("3")}, 2},
        {{QStringLiteral("--seed"), QStringLiteral("-4")}, 2},
        {{QStringLiteral("--link"), QStringLiteral("x"), QStringLiteral("--port"), QStringLiteral("/dev/null")}, 2},
        {{QStringLiteral("extra")}, 2},
        {{QStringLiteral("--set"), QStringLiteral("ch1 statik 100")}, 2},
        {{QStringLiteral("--control"), file}, 2},  // not a named pipe: left as it is
        {{QStringLiteral("--link"), file}, 1},
        {{QStringLiteral("--port"), dir.filePath(QStringLiteral("no-such-device"))}, 1},
    };
    for (const Row& r : rows) {
        QProcess p;
        p.start(quorvid::test::boardProgram(), r.args);
        ASSERT_TRUE(p.waitForFinished(5000)) << r.args.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), r.code) << r.args.join(' ').toStdString();
        EXPECT_FALSE(p.readAllStandardError().isEmpty()) << r.args.join(' ').toStdString();
    }
    std::ifstream in(file.toStdString());
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");
}

TEST(BoardProcess, TheControlPipeSetsWhatTheLineCarries)
{
    QTemporaryDir dir;
    const std::string control = dir.filePath(QStringLiteral("ctl")).toStdString();
    Board board({QStringLiteral("--control"), QString::fromStdString(control), QStringLiteral("--set"),
                 QStringLiteral("ch1 offset 7"), QStringLiteral("--set"), QStringLiteral("ch2 static 20")});
    ASSERT_FALSE(board.path.isEmpty());
    ASSERT_TRUE(std::filesystem::is_fifo(control));
    NearEnd line(board.path.toStdString());

    // The latest values frame within a generous bound, once it is the one wanted.
    Framer framer;
    auto valuesBecome = [&](const Values& wanted) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 8000) {
            framer.feed(line.readFor(200));
            if (decodeValues(framer.FrameValues) == wanted) return true;
        }
        return false;
    };
    // Each writer in turn, as echo would be; a bad line among good ones.
    std::ofstream(control) << "ch1 statik 100\nch1 static 100\n";
    EXPECT_TRUE(valuesBecome({107, 107, 107, 20, 20, 20, 0}));
    std::ofstream(control) << "ch1 gain 1.06\n" << "ch1 static 300";  // the last line without its line end
    EXPECT_TRUE(valuesBecome({325, 325, 325, 20, 20, 20, 0}));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return board.log().contains(QStringLiteral("ignored \"ch1 statik 100\": \"statik\" is not a setting")); },
        8000))
        << board.log().toStdString();

    EXPECT_TRUE(board.end());
    EXPECT_EQ(board.process().exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(control)) << "the pipe outlived the board";
}

// Several boards on one bench: a line each, one control pipe feeding them all,
// "K: " for one of them, each naming its number; one board is the lone board.
TEST(BoardProcess, SeveralBoardsOnOneControlPipe)
{
    QTemporaryDir dir;
    const QString control = dir.filePath(QStringLiteral("ctl")), link = dir.filePath(QStringLiteral("st"));
    Board board({QStringLiteral("--boards"), QStringLiteral("3"), QStringLiteral("--link"), link, QStringLiteral("--control"), control,
                 QStringLiteral("--set"), QStringLiteral("ch2 static 20"), QStringLiteral("--set"), QStringLiteral("2: ch2 static 40")});
    ASSERT_EQ(board.paths.size(), 3) << board.log().toStdString();
    std::vector<std::unique_ptr<NearEnd>> lines;
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(std::filesystem::read_symlink((link + QString::number(k)).toStdString()).string(), board.paths[k - 1].toStdString());
        lines.push_back(std::make_unique<NearEnd>(board.paths[k - 1].toStdString()));
        ASSERT_TRUE(lines.back()->isOpen());
        lines.back()->send("I");
    }
    std::ofstream(control.toStdString()) << "ch1 static 100\n3: ch1 static 200\n9: ch1 static 1\n";
    const Values wanted[3] = {{100, 100, 100, 20, 20, 20, 0}, {100, 100, 100, 40, 40, 40, 0}, {200, 200, 200, 20, 20, 20, 0}};
    std::vector<Framer> framers(3);
    QElapsedTimer clock;
    clock.start();
    auto done = [&] {
        for (int k = 0; k < 3; ++k)
            if (framers[k].FrameInfo.empty() || decodeValues(framers[k].FrameValues) != wanted[k]) return false;
        return true;
    };
    while (!done() && clock.elapsed() < 8000)
        for (int k = 0; k < 3; ++k) framers[k].feed(lines[k]->readFor(70));
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k + 1);
        const std::u16string id = decodeIdentification(framers[k].FrameInfo);
        EXPECT_EQ(std::string(id.begin(), id.end()), sim::BoardModel::identificationText(k + 1, 3));
        EXPECT_EQ(decodeValues(framers[k].FrameValues), wanted[k]);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return board.log().contains(QStringLiteral("ignored \"9: ch1 static 1\": board 9 is not one of 1 to 3")); }, 5000))
        << board.log().toStdString();
    EXPECT_TRUE(board.end());

    // --boards 1 is the lone board: one line, the identification it always gave.
    Board one({QStringLiteral("--boards"), QStringLiteral("1")});
    ASSERT_EQ(one.paths.size(), 1);
    NearEnd line(one.path.toStdString());
    line.send("I");
    Framer framer;
    for (int i = 0; i < 40 && framer.FrameInfo.empty(); ++i) framer.feed(line.readFor(100));
    const std::u16string id = decodeIdentification(framer.FrameInfo);
    EXPECT_EQ(std::string(id.begin(), id.end()), sim::BoardModel::identificationText());

    for (const QStringList& args : {QStringList{"--boards", "9"}, QStringList{"--boards", "2", "--port", "/dev/null"},
                                    QStringList{"--boards", "3", "--set", "4: ch1 static 1"}}) {
        QProcess p;
        p.start(quorvid::test::boardProgram(), args);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
    }
}
