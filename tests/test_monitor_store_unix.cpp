// The built quorvid-monitor on the built board against a PostgreSQL server of
// its own (scripts/postgres-test.sh) that goes away and comes back: nothing of
// a run is lost or stored twice, and the password is in no output or file.
#include "boardprocess_unix.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

using namespace quorvid;

namespace {

constexpr const char* kPassword = "pw-of-the-bench-9Zq";

std::tuple<int, QString, QString> run(const QString& program, const QStringList& args, const QString& dataHome = {})
{
    QProcess p;
    test::dieWithParent(p);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("BENCH_PASSWORD"), QLatin1String(kPassword));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(120'000)) p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(MonitorStore, AServerAwayKeepsTheRunInTheOutboxUntilSyncSendsItOnce)
{
    QTemporaryDir dir;
    // The server's own user (postgres, when the test runs as root) goes through it.
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
    const QString pg = dir.filePath(QStringLiteral("pg")), work = dir.filePath(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkpath(work));
    const auto server = [&](const char* action) {
        const auto [status, out, err] = run(QStringLiteral("bash"), {QStringLiteral(QUORVID_POSTGRES_SCRIPT), QLatin1String(action), pg});
        return status == 0 ? QString() : QStringLiteral("postgres-test.sh %1: %2").arg(QLatin1String(action), err);
    };
    ASSERT_EQ(server("start"), QString());
    const struct Stop {
        std::function<void()> stop;
        ~Stop() { stop(); }
    } stopped{[&] { EXPECT_EQ(server("stop"), QString()); }};
    const auto url = [&](const char* user) {
        return QStringLiteral("postgresql://%1@%2/quorvid").arg(QLatin1String(user), QLatin1String(QUrl::toPercentEncoding(pg)));
    };
    const QString store = url("bench:pw-of-the-bench-9Zq");
    QFile plan(dir.filePath(QStringLiteral("plan.toml")));
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly) && plan.write("[[check]]\nkind = \"identify\"\n") > 0);
    plan.close();
    test::BoardProcess board;
    ASSERT_FALSE(board.path.isEmpty()) << board.log().toStdString();

    // The tables made by their owner; the server away for the run (its own
    // status, one line naming the store, the run in the outbox) and back for
    // --sync, which sends it once; a run judged again is stored too.
    const QString monitor = QStringLiteral(QUORVID_MONITOR_PATH);
    const struct {
        const char* server;  // before the step, or nullptr
        QStringList args;
        const char* says;
    } steps[] = {
        {nullptr, {"--results", url("quorvid"), "--results-init"}, "created at version"},
        {"pause", {"--port", board.path, "--evaluate", plan.fileName(), "--report", work + "/r", "--board-id", "SN-1\"; <script>", "--results", store},
         "waits in the outbox"},
        {"resume", {"--results", store, "--sync"}, ": 1 runs sent"},
        {nullptr, {"--results", store, "--sync"}, ": 0 runs sent"},
        {nullptr, {"--history", store, "--summary", work + "/line"}, "History: 1 runs of 1 boards"},
        {nullptr, {"--rescore", work + "/r.json", "--report", work + "/again", "--results", store}, " stored\n"},
    };
    QString said;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.args.join(u' ').toStdString());
        if (s.server) ASSERT_EQ(server(s.server), QString());
        const auto [status, out, err] = run(monitor, s.args, work + QStringLiteral("/data"));
        said += out + err;
        EXPECT_EQ(status, 0) << err.toStdString();
        EXPECT_TRUE((out + err).contains(QLatin1String(s.says))) << out.toStdString() << err.toStdString();
        if (s.server && QByteArray(s.server) == "pause")
            EXPECT_TRUE(err.count(u'\n') == 1 && err.contains(url("bench"))) << err.toStdString();
    }

    // The password in no output, report, summary or outbox.
    EXPECT_FALSE(said.contains(QLatin1String(kPassword))) << said.toStdString();
    QStringList files;
    for (QDirIterator it(work, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile f(it.next());
        files << QFileInfo(f).fileName();
        EXPECT_TRUE(f.open(QIODevice::ReadOnly) && !f.readAll().contains(kPassword)) << f.fileName().toStdString();
    }
    EXPECT_TRUE(files.contains(u"outbox.sqlite") && files.contains(u"line.json") && files.contains(u"again.json")) << files.join(u' ').toStdString();
}
