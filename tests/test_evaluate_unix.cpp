// quorvid-monitor --evaluate end to end: the built program on the built
// simulated board, the references set through the board's control pipe by the
// reference command, as an unattended production line runs it.
#include "boardprocess_unix.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
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

// A station of three simulated boards on one bench, the second reading 6 %
// high on channel 1: one command line, one reference command for all, exit
// status 5 for the one board that fails, a summary line per board.
TEST(EvaluateProgram, StationOfThreeBoardsFailsForTheOneThatReadsHigh)
{
    QTemporaryDir dir;
    const QString plan = dir.filePath(QStringLiteral("plan.toml"));
    {
        QFile f(plan);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kPlan);
    }
    const QString control = dir.filePath(QStringLiteral("ctl"));
    test::BoardProcess board({QStringLiteral("--boards"), QStringLiteral("3"), QStringLiteral("--control"), control,
                              QStringLiteral("--set"), QStringLiteral("2: ch1 gain 1.06")});
    ASSERT_EQ(board.paths.size(), 3) << board.log().toStdString();
    const QString name = dir.filePath(QStringLiteral("batch"));
    QStringList args{QStringLiteral("--evaluate"), plan, QStringLiteral("--report"), name, QStringLiteral("--reference-command"),
                     QStringLiteral("printf 'ch1 {ch1}\\nch2 {ch2}\\nrate {rate}\\n' > '%1'").arg(control)};
    for (int k = 0; k < 3; ++k) args << QStringLiteral("--port") << board.paths[k] << QStringLiteral("--board-id") << QStringLiteral("SN%1").arg(k + 1);
    const Outcome run = evaluate(args);
    EXPECT_EQ(run.status, 5) << run.err.toStdString();
    const QStringList lines = run.out.trimmed().split(u'\n');
    ASSERT_GE(lines.size(), 4) << run.out.toStdString();
    EXPECT_EQ(lines.last(), u"Station: FAIL (1 of 3 boards failed)");
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(lines.at(lines.size() - 5 + k).startsWith(QStringLiteral("SN%1       %2 (%3 of 5 results failed)").arg(k).arg(k == 2 ? "FAIL" : "PASS").arg(k == 2 ? 1 : 0)))
            << lines.at(lines.size() - 5 + k).toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^  SN2 +FAIL static ch1 100 mmHg: read 10[5-7]"))).size(), 1) << run.out.toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("FAIL"))).size(), 4) << run.out.toStdString();  // result, check, summary, board line

    QFile json(name + QStringLiteral(".json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject summary = QJsonDocument::fromJson(json.readAll()).object();
    EXPECT_TRUE(summary[u"station"].toBool());
    EXPECT_EQ(summary[u"boards"][1][u"report"].toString(), u"batch-SN2.json");
    for (int k = 1; k <= 3; ++k)
        for (const char* ext : {".json", ".html", ".xml", ".csv", ".bytes"})
            EXPECT_TRUE(QFileInfo::exists(QStringLiteral("%1-SN%2%3").arg(name).arg(k).arg(QLatin1String(ext)))) << k << ext;
    EXPECT_TRUE(board.end());
}
