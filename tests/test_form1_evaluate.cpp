// Evaluate > Run Evaluation... on the scripted control, the board model
// answering on simulated time: the window follows the commands the evaluation
// sends, keeps its own command controls out of the way meanwhile, ends as it
// began, and comes to the evaluation's verdicts.
#include "boardmodel.h"
#include "evaluatedialog.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "session.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

using namespace quorvid;
using namespace quorvid::evaluate;
using sim::SimTime;

TEST(WindowEvaluation, FollowsTheBoardDuringTheRunAndEndsAsItBegan)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    Form1 form{comm};
    form.Form_Load();
    ASSERT_TRUE(comm.portOpen());

    // The menu sits between Port and About.
    QStringList menus;
    for (QAction* a : form.menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Port", "&Evaluate", "&About"}));

    sim::BoardModel model;
    ASSERT_EQ(model.applySetting("ch1 gain 1.06", SimTime{0}), "");
    SimTime now{0};
    QTemporaryDir dir;
    form.menEvaluate_Click();
    EvaluateDialog* dialog = form.evaluateDialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    dialog->setWorkFolder(dir.path());
    dialog->setClock({[&] { return 1'796'000'000'000 + now.count() / 1000; }, [&] { return now.count(); }});
    PlanResult plan = parsePlan(R"(
[[check]]
kind = "speed"
rates = [150]
settle_s = 0.5
measure_s = 2
[[check]]
kind = "mode"
[[check]]
kind = "static"
points = [100]
settle_s = 1
measure_s = 2
)", QStringLiteral("test.toml"));
    ASSERT_TRUE(plan.plan) << plan.error.toStdString();
    dialog->setPlan(*plan.plan, QStringLiteral("test.toml"));
    ASSERT_TRUE(dialog->start());

    auto* getInfo = form.findChild<QAbstractButton*>(QStringLiteral("GetInfo"));
    auto* simulate = form.findChild<QRadioButton*>(QStringLiteral("Option2"));
    auto* normal = form.findChild<QRadioButton*>(QStringLiteral("Option1"));
    auto* speed = form.findChild<QLabel*>(QStringLiteral("Speed"));
    auto* measure = dialog->findChild<QPushButton*>(QStringLiteral("measure"));
    auto* menPort = form.menuBar()->findChild<QMenu*>(QStringLiteral("menPort"));
    EXPECT_FALSE(getInfo->isEnabled());
    EXPECT_FALSE(menPort->menuAction()->isEnabled());
    EXPECT_FALSE(form.recordItem()->isEnabled());

    std::set<QString> speedsShown;
    bool simulateShown = false;
    qsizetype heard = 0;
    while (dialog->running() && now < SimTime{60'000'000}) {
        const QByteArray written = comm.written();
        model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + heard, std::size_t(written.size() - heard)), now);
        heard = written.size();
        now = std::min(model.nextDue(), now + SimTime{100'000});
        QByteArray block;
        for (const sim::DueFrame& f : model.takeDue(now)) block.append(reinterpret_cast<const char*>(f.bytes.data()), qsizetype(f.bytes.size()));
        if (!block.isEmpty()) comm.deliver(block);
        dialog->session()->poll();
        speedsShown.insert(speed->text());
        simulateShown |= simulate->isChecked();
        if (measure->isEnabled()) {
            // The operator sets the source as told, then measures.
            EXPECT_EQ(model.applySetting("ch1 static 100", now), "");
            EXPECT_EQ(model.applySetting("ch2 static 100", now), "");
            measure->click();
        }
    }
    const QByteArray written = comm.written();
    model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + heard, std::size_t(written.size() - heard)), now);
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog->session()->reportDone());

    EXPECT_TRUE(speedsShown.count(QStringLiteral("150")));
    EXPECT_TRUE(simulateShown);
    // As before the run, in the window and on the board.
    EXPECT_EQ(speed->text(), u"100");
    EXPECT_TRUE(normal->isChecked());
    EXPECT_EQ(model.framesPerSecond(), 100);
    EXPECT_EQ(model.mode(), sim::WaveMode::Patient);
    EXPECT_TRUE(getInfo->isEnabled());
    EXPECT_TRUE(menPort->menuAction()->isEnabled());

    // The evaluation's verdicts: only channel 1 at 100 mmHg fails.
    std::set<std::string> failed;
    for (const CheckOutcome& o : dialog->session()->evaluation().outcomes())
        for (const Result& r : o.results)
            if (r.verdict == Verdict::Fail) failed.insert(describe(r).section(u':', 0, 0).toStdString());
    EXPECT_EQ(failed, std::set<std::string>{"ch1 100 mmHg"});
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("verdict"))->text(), u"FAIL: 1 results failed");

    const QString saved = dir.filePath(QStringLiteral("board-42"));
    QString error;
    ASSERT_TRUE(dialog->saveReport(saved + QStringLiteral(".html"), &error)) << error.toStdString();
    for (const char* ext : {".json", ".html", ".xml", ".csv", ".bytes"})
        EXPECT_TRUE(QFileInfo::exists(saved + QLatin1String(ext))) << ext;
}
