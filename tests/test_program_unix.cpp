// The built quorvid as a user runs it: its command line without a display, a
// recording cut short by SIGKILL on the simulated board, and a recording
// replayed by quorvid-board and recorded again. Every wait is on a condition
// with a generous bound.
#include "bytesreader.h"
#include "csvrows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "boardprocess_unix.h"
#include "qtprinters.h"

using quorvid::test::BoardProcess;
using quorvid::test::dieWithParent;

namespace {

constexpr int kStartMs = 5000;
constexpr int kWaitMs = 20000;

QString program() { return QStringLiteral(QUORVID_PROGRAM_PATH); }

// The environment of a user without a display or any port variable.
QProcessEnvironment plainEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (int i = 1; i <= 8; ++i) env.remove(QStringLiteral("QUORVID_COM%1").arg(i));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    return env;
}

struct Finished {
    int status = -1;
    QByteArray out, err;
};

Finished runToEnd(const QStringList& args)
{
    QProcess p;
    dieWithParent(p);
    p.setProcessEnvironment(plainEnvironment());
    p.start(program(), args);
    Finished r;
    if (!p.waitForFinished(kStartMs)) {
        p.kill();
        p.waitForFinished(kStartMs);
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// quorvid offscreen with COM1 given on the command line only.
void startProgram(QProcess& p, const QStringList& args)
{
    dieWithParent(p);
    QProcessEnvironment env = plainEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program(), args);
}

// RFC 4180 fields of one record; the records of a whole file.
QList<QStringList> parseCsv(const QByteArray& text, bool* wholeLines)
{
    QList<QStringList> records;
    QStringList fields;
    QByteArray field;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += '"', ++i;
            else if (c == '"') quoted = false;
            else field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << QString::fromUtf8(field), field.clear();
        } else if (c == '\n') {
            fields << QString::fromUtf8(field), field.clear();
            records << fields, fields.clear();
            any = false;
            continue;
        } else {
            field += c;
        }
        any = true;
    }
    *wholeLines = !any && !quoted;
    return records;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int countKind(const QString& csv, const QString& kind)
{
    bool whole = false;
    int n = 0;
    for (const QStringList& r : parseCsv(readAll(csv), &whole)) n += r.value(2) == kind;
    return n;
}

// The rows below the header without their two times: what the board said.
QList<QStringList> rowsWithoutTimes(const QString& csv)
{
    bool whole = false;
    QList<QStringList> rows = parseCsv(readAll(csv), &whole);
    if (!rows.isEmpty()) rows.removeFirst();
    for (QStringList& r : rows) r = r.mid(2);
    return rows;
}

}  // namespace

TEST(Program, HelpVersionAndUsageErrorsNeedNoDisplay)
{
    const Finished help = runToEnd({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.contains("--record <file>")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--port <device>"));

    const Finished version = runToEnd({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, QByteArray("quorvid " QUORVID_VERSION "\n"));

    struct Bad {
        QStringList args;
        QByteArray line;
    };
    for (const Bad& b : {Bad{{"--bogus"}, "quorvid: Unknown option 'bogus' (see quorvid --help)\n"},
                         Bad{{"--record"}, "quorvid: Missing value after '--record' (see quorvid --help)\n"},
                         Bad{{"stray"}, "quorvid: unexpected argument 'stray' (see quorvid --help)\n"}}) {
        const Finished r = runToEnd(b.args);
        EXPECT_EQ(r.status, 2) << b.line.toStdString();
        EXPECT_EQ(r.err, b.line);
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST(Program, AKilledRecordingLeavesWholeLinesInBothFiles)
{
    QTemporaryDir dir;
    BoardProcess board;
    ASSERT_FALSE(board.path.isEmpty());
    const QString csv = dir.filePath(QStringLiteral("killed.csv"));
    QProcess quorvid;
    startProgram(quorvid, {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--record"), csv,
                           QStringLiteral("--port"), board.path});
    ASSERT_TRUE(quorvid.waitForStarted(kStartMs));
    // Two beats' values rows: the recording has run a while and been written out.
    ASSERT_TRUE(QTest::qWaitFor([&] { return countKind(csv, QStringLiteral("values")) >= 2; }, kWaitMs))
        << readAll(csv).left(500).toStdString();
    quorvid.kill();
    ASSERT_TRUE(quorvid.waitForFinished(kStartMs));

    const QByteArray text = readAll(csv);
    bool whole = false;
    const QList<QStringList> records = parseCsv(text, &whole);
    EXPECT_TRUE(whole) << "the CSV ends inside a line";
    ASSERT_FALSE(records.isEmpty());
    EXPECT_EQ(records.front().join(u',').toStdString(), std::string(quorvid::record::kCsvHeader));
    const QStringList kinds = {"waveform", "values", "status", "identification"};
    for (qsizetype i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].size(), 15) << "row " << i;
        EXPECT_TRUE(kinds.contains(records[i].value(2))) << "row " << i;
    }

    const QByteArray bytes = readAll(dir.filePath(QStringLiteral("killed.bytes")));
    EXPECT_TRUE(bytes.endsWith('\n')) << "the .bytes file ends inside a line";
    QString error;
    const auto recorded = quorvid::record::parseBytes(bytes, &error);
    ASSERT_TRUE(recorded) << error.toStdString();
    EXPECT_FALSE(recorded->blocks.empty());
    EXPECT_TRUE(recorded->comments.contains(QStringLiteral("port COM1 (%1)").arg(board.path)))
        << recorded->comments.join(u'\n').toStdString();
}

TEST(Program, AReplayedRecordingRecordsTheSameRows)
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.csv"));
    {
        BoardProcess board;
        ASSERT_FALSE(board.path.isEmpty());
        QProcess quorvid;
        startProgram(quorvid, {QStringLiteral("--record"), first, QStringLiteral("--port"), board.path});
        ASSERT_TRUE(QTest::qWaitFor([&] { return countKind(first, QStringLiteral("values")) >= 3; }, kWaitMs));
        quorvid.kill();
        ASSERT_TRUE(quorvid.waitForFinished(kStartMs));
    }

    const QString second = dir.filePath(QStringLiteral("second.csv"));
    // The replay starts when the program opens the line, so the recording goes as it is.
    BoardProcess board({QStringLiteral("--replay"), dir.filePath(QStringLiteral("first.bytes"))});
    ASSERT_FALSE(board.path.isEmpty());
    QProcess quorvid;
    startProgram(quorvid, {QStringLiteral("--record"), second, QStringLiteral("--port"), board.path});
    // The program has the line before the recorded bytes come.
    ASSERT_TRUE(QTest::qWaitFor([&] { return board.heard().contains(QStringLiteral("S1O5")); }, kWaitMs))
        << board.log().toStdString();
    EXPECT_FALSE(board.log().contains(QStringLiteral("replay ended")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return board.log().contains(QStringLiteral("replay ended")); }, kWaitMs));

    QElapsedTimer sinceEnd;
    sinceEnd.start();

    const QList<QStringList> before = rowsWithoutTimes(first);
    // Everything the replay sent is written out within the recorder's flush
    // interval (half a second) of the end.
    // Either way the comparison below says what is missing.
    (void)QTest::qWaitFor(
        [&] { return rowsWithoutTimes(second).size() >= before.size() || sinceEnd.elapsed() > 2000; }, kWaitMs);
    quorvid.kill();
    ASSERT_TRUE(quorvid.waitForFinished(kStartMs));

    // Both programs start with the same bytes in a fresh framer, and the frame
    // left open by the last block is a row in neither: the rows are the same.
    // The first program was killed, so one file may have been written out a
    // moment before the other; the SIGKILL landing between the two writes is
    // the only way the counts could differ, and then the .bytes file is behind.
    const QList<QStringList> after = rowsWithoutTimes(second);
    ASSERT_LE(after.size(), before.size());
    EXPECT_GE(after.size(), before.size() - 200);
    EXPECT_GT(after.size(), 100);
    for (qsizetype i = 0; i < after.size(); ++i) ASSERT_EQ(after[i], before[i]) << "row " << i + 1;
}
