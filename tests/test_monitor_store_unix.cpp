// quorvid-monitor and a PostgreSQL store end to end: the built program on the
// built simulated board, against a server of this test's own
// (scripts/postgres-test.sh), stopped and started again as a line's server
// goes away and comes back. Nothing of a run is lost, nothing is stored twice,
// and the bench's password is in no output and no file.
#include "boardprocess_unix.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace quorvid;

namespace {

constexpr const char* kPassword = "pw-of-the-bench-9Zq";

struct Outcome {
    int status = -1;
    QString out, err;
};

Outcome monitor(const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    test::dieWithParent(p);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUORVID_MONITOR_PATH), args);
    if (!p.waitForFinished(60'000)) {
        p.kill();
        p.waitForFinished();
    }
    Outcome r{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
              QString::fromUtf8(p.readAllStandardError())};
    return r;
}

bool server(const char* action, const QString& dir)
{
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral(QUORVID_POSTGRES_SCRIPT), QLatin1String(action), dir});
    if (!p.waitForFinished(120'000)) p.kill();
    const bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) ADD_FAILURE() << "postgres-test.sh " << action << ": " << p.readAllStandardError().toStdString();
    return ok;
}

// Its own server in DIR/pg for the test's length.
struct Server {
    explicit Server(const QString& dir)
        : dir(dir)
    {
        qputenv("BENCH_PASSWORD", kPassword);
        up = server("start", dir);
    }
    ~Server() { server("stop", dir); }
    // The socket's folder as the URL's host.
    QString url(const QString& user) const
    {
        return QStringLiteral("postgresql://%1@%2/quorvid").arg(user, QString::fromLatin1(QUrl::toPercentEncoding(dir)));
    }
    QString dir;
    bool up = false;
};

}  // namespace

TEST(MonitorStore, AServerAwayKeepsTheRunInTheOutboxUntilSyncSendsItOnce)
{
    QTemporaryDir dir;
    // The server's own user (postgres, when the test runs as root) goes through it.
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
    const QString work = dir.filePath(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkpath(work));
    Server pg(dir.filePath(QStringLiteral("pg")));
    ASSERT_TRUE(pg.up);
    const QString store = pg.url(QStringLiteral("bench:") + QLatin1String(kPassword));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), work + QStringLiteral("/data"));
    env.remove(QStringLiteral("QUORVID_RESULTS"));
    env.remove(QStringLiteral("PGPASSWORD"));

    // The tables, made by their owner; the bench may then only add runs.
    Outcome r = monitor({QStringLiteral("--results"), pg.url(QStringLiteral("quorvid")), QStringLiteral("--results-init")}, env);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();

    // The server goes away before a run: the run's own status, one line
    // naming the store, the run in the outbox.
    ASSERT_TRUE(server("pause", pg.dir));
    {
        const QString plan = work + QStringLiteral("/plan.toml");
        QFile f(plan);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[[check]]\nkind = \"identify\"\n");
        f.close();
        test::BoardProcess board;
        ASSERT_FALSE(board.path.isEmpty()) << board.log().toStdString();
        r = monitor({QStringLiteral("--port"), board.path, QStringLiteral("--evaluate"), plan, QStringLiteral("--report"),
                     work + QStringLiteral("/r"), QStringLiteral("--board-id"), QStringLiteral("SN-1\"; <script>"),
                     QStringLiteral("--results"), store},
                    env);
    }
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << r.err.toStdString();
    EXPECT_TRUE(lines.first().contains(u"outbox")) << r.err.toStdString();
    EXPECT_TRUE(lines.first().contains(pg.url(QStringLiteral("bench")))) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(work + QStringLiteral("/data/Quorvid/outbox.sqlite")));

    // Back again: --sync sends it once, the next --sync nothing; the store
    // holds the one run, as the report has it.
    ASSERT_TRUE(server("resume", pg.dir));
    struct Step {
        QStringList args;
        const char* says;
    };
    const Step steps[] = {
        {{QStringLiteral("--results"), store, QStringLiteral("--sync")}, ": 1 runs sent"},
        {{QStringLiteral("--results"), store, QStringLiteral("--sync")}, ": 0 runs sent"},
        {{QStringLiteral("--history"), store, QStringLiteral("--summary"), work + QStringLiteral("/line")}, "1 runs of 1 boards"},
        // A run judged again is a run of its own, stored as it is written.
        {{QStringLiteral("--rescore"), work + QStringLiteral("/r.json"), QStringLiteral("--report"), work + QStringLiteral("/again"),
          QStringLiteral("--results"), store},
         " stored\n"},
    };
    QString said = r.out + r.err;
    for (const Step& s : steps) {
        r = monitor(s.args, env);
        said += r.out + r.err;
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_TRUE((r.out + r.err).contains(QLatin1String(s.says))) << r.out.toStdString() << r.err.toStdString();
    }
    QFile summary(work + QStringLiteral("/line.json"));
    ASSERT_TRUE(summary.open(QIODevice::ReadOnly));
    const QJsonArray runs = QJsonDocument::fromJson(summary.readAll()).object()[u"runs"].toArray();
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(runs.first()[u"board_id"].toString(), u"SN-1\"; <script>");

    // The password in no output, report, summary or outbox.
    EXPECT_FALSE(said.contains(QLatin1String(kPassword))) << said.toStdString();
    QDirIterator files(work, QDir::Files, QDirIterator::Subdirectories);
    int read = 0;
    while (files.hasNext()) {
        QFile f(files.next());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
        EXPECT_FALSE(f.readAll().contains(kPassword)) << f.fileName().toStdString();
        ++read;
    }
    EXPECT_GE(read, 12);  // r.*: five; line.*: three; again.*: three; the outbox
}
