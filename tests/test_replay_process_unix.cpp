// The built quorvid-board replaying a recording on a real pseudo-terminal:
// the bytes arrive as recorded, no sooner than their times allow, the board
// says when it is done and stays until ended; a bad file or option is refused
// with status 2. Waits are bounded and generous.
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "boardprocess_unix.h"

using quorvid::test::BoardProcess;

namespace {

constexpr int kWaitMs = 8000;

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    QFile f(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return f.fileName();
}

// Runs quorvid-board to its end; returns the exit status, standard error in *err.
int runBoard(const QStringList& args, QString* err)
{
    QProcess p;
    quorvid::test::dieWithParent(p);
    p.start(quorvid::test::boardProgram(), args);
    if (!p.waitForFinished(kWaitMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The first n bytes from the line, and how long they took from the first to
// the last.
struct Arrival {
    QByteArray bytes;
    qint64 spreadMs = 0;
};

Arrival readBytes(QSerialPort& port, qsizetype n)
{
    Arrival got;
    QElapsedTimer clock;
    clock.start();
    qint64 firstAt = -1;
    while (got.bytes.size() < n && clock.elapsed() < kWaitMs && port.waitForReadyRead(kWaitMs)) {
        if (firstAt < 0) firstAt = clock.elapsed();
        got.bytes += port.readAll();
    }
    got.spreadMs = firstAt < 0 ? 0 : clock.elapsed() - firstAt;
    return got;
}

}  // namespace

TEST(ReplayProcess, SendsTheRecordedBytesWithTheirTimingAndStaysUntilEnded)
{
    QTemporaryDir dir;
    // Three blocks over 0.6 s; played at speed 2 they take at least 0.3 s.
    const QString file = writeFile(dir, "session.bytes",
                                   "# 2026-12-07T09:56:02.123Z start port COM1 (/dev/pts/4)\n"
                                   "10.000000\t80 a3 d5\n"
                                   "10.300000\t83 01 02\r\n"
                                   "# 10.350000 port lost: gone\n"
                                   "\n"
                                   "10.600000\t81 4d\n");
    BoardProcess board({QStringLiteral("--replay"), file, QStringLiteral("--replay-speed"), QStringLiteral("2")});
    ASSERT_FALSE(board.path.isEmpty());

    QSerialPort port(board.path);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    port.write("I");  // heard and logged, not answered
    const Arrival got = readBytes(port, 8);
    EXPECT_EQ(got.bytes.toHex(' '), QByteArray("80 a3 d5 83 01 02 81 4d"));
    EXPECT_GE(got.spreadMs, 250) << "the recorded 0.6 s at speed 2";

    // Ended, not gone: the line stays open and silent, the board says so.
    ASSERT_TRUE(QTest::qWaitFor([&] { return board.heard().contains(u'I') && board.log().contains(QStringLiteral("replay ended")); },
                                kWaitMs))
        << board.log().toStdString();
    EXPECT_EQ(board.process().state(), QProcess::Running);
    EXPECT_FALSE(port.waitForReadyRead(300)) << "nothing after the last block";
    EXPECT_TRUE(board.end()) << "SIGTERM ends it";
    EXPECT_EQ(board.process().exitCode(), 0);
}

TEST(ReplayProcess, RefusesBadFilesAndOptionsWithStatus2)
{
    QTemporaryDir dir;
    const QString good = writeFile(dir, "good.bytes", "0.000000\t80 01\n");
    const QString bad = writeFile(dir, "bad.bytes", "0.000000\t80 01\n0.5\t8g\n");
    struct Case {
        QStringList args;
        int status;
        QString stderrHas;
    };
    const Case cases[] = {
        {{"--replay", bad}, 2, "line 2"},
        {{"--replay", dir.filePath("missing.bytes")}, 2, "missing.bytes"},
        {{"--replay", good, "--replay-speed", "0"}, 2, "--replay-speed"},
        {{"--replay", good, "--replay-speed", "fast"}, 2, "--replay-speed"},
        {{"--replay", good, "--replay-speed", "0.009"}, 2, "from 0.01 to 1000"},
        {{"--replay", good, "--replay-speed", "1001"}, 2, "from 0.01 to 1000"},
        {{"--replay", good, "--replay-speed", "inf"}, 2, "--replay-speed"},
        {{"--replay", good, "--replay-speed", "nan"}, 2, "--replay-speed"},
        {{"--replay", good, "--replay-start", "later"}, 2, "--replay-start"},
        {{"--replay-start", "now"}, 2, "goes with --replay"},
        {{"--replay", good, "--set", "ch1 static 1"}, 2, "--set"},
        {{"--replay", good, "--drop", "0.1"}, 2, "--drop"},
        {{"--loop"}, 2, "--loop"},
        {{"--replay"}, 2, "Missing value after '--replay'"},
        {{"--bogus"}, 2, "Unknown option 'bogus'"},
        {{"--help"}, 0, ""},
        {{"--help-all"}, 0, ""},
        {{"--version"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        QString err;
        EXPECT_EQ(runBoard(c.args, &err), c.status);
        EXPECT_TRUE(err.contains(c.stderrHas)) << err.toStdString();
        if (c.status == 2) {
            EXPECT_EQ(err.count(u'\n'), 1) << "one line: " << err.toStdString();
        }
    }
}

TEST(ReplayProcess, StartsWhenTheLineIsOpenedNotBefore)
{
    QTemporaryDir dir;
    // The identification first, then two more blocks over 0.6 s.
    const QString file = writeFile(dir, "late.bytes",
                                   "0.000000\tc0 41 42\n"
                                   "0.300000\t83 01 02\n"
                                   "0.600000\t81 4d\n");
    BoardProcess board({QStringLiteral("--replay"), file});
    ASSERT_FALSE(board.path.isEmpty());
    // Nobody listens for three seconds: the replay waits for them.
    QTest::qWait(3000);
    EXPECT_FALSE(board.log().contains(QStringLiteral("replay ended"))) << board.log().toStdString();

    QSerialPort port(board.path);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    const Arrival got = readBytes(port, 8);
    EXPECT_EQ(got.bytes.toHex(' '), QByteArray("c0 41 42 83 01 02 81 4d"));
    EXPECT_GE(got.spreadMs, 500) << "the recorded timing runs from the open, not in a burst";
}

TEST(ReplayProcess, ASmallFileReplaysUnderAnAddressSpaceLimit)
{
#if defined(QUORVID_ADDRESS_SANITIZER)
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space; no limit can hold it";
#endif
    QTemporaryDir dir;
    QByteArray text;
    for (int i = 0; i < 400; ++i) text += QByteArray::number(i * 0.01, 'f', 6) + "\t80 01 02\n";  // about 5 kB
    const QString file = writeFile(dir, "small.bytes", text);
    QProcess p;
    quorvid::test::dieWithParent(p);
    p.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("ulimit -v 700000 && exec \"$0\" --replay \"$1\" --replay-start now "
                                                  "--replay-speed 100"),
             quorvid::test::boardProgram(), file});
    QByteArray err;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            err += p.readAllStandardError();
            return err.contains("replay ended") || p.state() == QProcess::NotRunning;
        },
        kWaitMs))
        << err.toStdString();
    EXPECT_TRUE(err.contains("the replay ended after 400 blocks")) << err.toStdString();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(kWaitMs));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
}
