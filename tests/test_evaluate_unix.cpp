// quorvid-monitor --evaluate end to end: the built program on the built
// simulated board, the references set through the board's control pipe by the
// reference command, as an unattended production line runs it.
#include "boardprocess_unix.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvid;

namespace {

// A short plan: the whole default one takes a minute and a half.
constexpr const char* kPlan = R"([[check]]
kind = "identify"
[[check]]
kind = "static"
points = [0, 100]
settle_s = 1
measure_s = 2
)";

struct Outcome {
    int status = -1;
    QString out, err;
};

Outcome evaluate(const QStringList& args)
{
    QProcess p;
    test::dieWithParent(p);
    p.start(QStringLiteral(QUORVID_MONITOR_PATH), args);
    Outcome r;
    if (!p.waitForFinished(60'000)) {
        p.kill();
        p.waitForFinished();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    if (p.exitStatus() == QProcess::NormalExit) r.status = p.exitCode();
    return r;
}

}  // namespace

TEST(EvaluateProgram, VerdictInTheExitStatusAndABadPlanSendsNothing)
{
    QTemporaryDir dir;
    const QString plan = dir.filePath(QStringLiteral("plan.toml"));
    const QString bad = dir.filePath(QStringLiteral("bad.toml"));
    for (const auto& [path, text] : {std::pair{plan, kPlan}, std::pair{bad, "[[check]]\nkind = \"static\"\ncommand = \"reboot\"\n"}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    struct Case {
        const char* name;
        QStringList board;
        QString plan;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"ch1 gain 1.06", {QStringLiteral("--set"), QStringLiteral("ch1 gain 1.06")}, plan, 5, "Verdict: FAIL (1 of 5 results failed)"},
        {"clean", {}, plan, 0, "Verdict: PASS (0 of 5 results failed)"},
        {"bad plan", {}, bad, 2, "bad.toml line 3: a plan carries no command"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString control = dir.filePath(QStringLiteral("ctl"));
        test::BoardProcess board(QStringList{QStringLiteral("--control"), control} + c.board);
        ASSERT_FALSE(board.path.isEmpty()) << board.log().toStdString();
        const QString name = dir.filePath(QStringLiteral("r"));
        const Outcome run = evaluate({QStringLiteral("--port"), board.path, QStringLiteral("--evaluate"), c.plan,
                                  QStringLiteral("--report"), name, QStringLiteral("--operator"), QStringLiteral("ctest"),
                                  QStringLiteral("--reference-command"),
                                  QStringLiteral("printf 'ch1 {ch1}\\nch2 {ch2}\\nrate {rate}\\n' > '%1'").arg(control)});
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE((run.out + run.err).contains(QLatin1String(c.says))) << run.out.toStdString() << run.err.toStdString();
        if (c.status == 2) {
            EXPECT_EQ(board.heard(), QString());  // refused before anything went out
            continue;
        }
        QFile json(name + QStringLiteral(".json"));
        ASSERT_TRUE(json.open(QIODevice::ReadOnly));
        const QJsonObject report = QJsonDocument::fromJson(json.readAll()).object();
        EXPECT_EQ(report[u"verdict"].toString(), c.status == 0 ? u"pass" : u"fail");
        EXPECT_TRUE(report[u"identification"].toString().startsWith(u"Quorvid simulated IBP board"));
        EXPECT_EQ(report[u"operator"].toString(), u"ctest");
        EXPECT_TRUE(board.end());
    }
}
