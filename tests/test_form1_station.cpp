// Evaluate > Run Station... on simulated time: the window's own board and a
// second one on a scripted control the dialog opens, a board model behind
// each, the operator answering the one instruction for both. The window goes
// on showing its board, its port is opened once, and the dialog comes to the
// station's verdict. Then Save Report... of a single-board run whose report
// could not be written where it ran.
#include "boardmodel.h"
#include "evaluatedialog.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "session.h"
#include "stationdialog.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvid;
using namespace quorvid::evaluate;
using sim::SimTime;

namespace {

Plan testPlan(const char* toml)
{
    const PlanResult plan = parsePlan(toml, QStringLiteral("test plan"));
    EXPECT_TRUE(plan.plan) << plan.error.toStdString();
    return plan.plan.value_or(Plan{});
}

// A board model behind a scripted control: what it hears, what it sends.
struct Line {
    FakeSerialControl* comm = nullptr;
    sim::BoardModel model;
    qsizetype heard = 0;

    explicit Line(int number) : model(sim::BoardOptions{std::uint64_t(number), 0, 0, number, 2}) {}
    void read(SimTime now)
    {
        const QByteArray written = comm->written();
        model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + heard, std::size_t(written.size() - heard)), now);
        heard = written.size();
        QByteArray block;
        for (const sim::DueFrame& f : model.takeDue(now)) block.append(reinterpret_cast<const char*>(f.bytes.data()), qsizetype(f.bytes.size()));
        if (!block.isEmpty() && comm->portOpen()) comm->deliver(block);
    }
};

}  // namespace

TEST(WindowStation, TwoBoardsOneOfThemTheWindowsToTheVerdict)
{
    FakeSerialControl windowComm;
    windowComm.setOpenablePorts({1});
    QTemporaryDir dir;
    SimTime now{0};
    Line lines[2] = {Line(1), Line(2)};
    Form1 form{windowComm};
    form.Form_Load();
    ASSERT_TRUE(windowComm.portOpen());
    lines[0].comm = &windowComm;
    ASSERT_EQ(lines[1].model.applySetting("ch1 gain 1.06", SimTime{0}), "");

    form.menStation_Click();
    StationDialog* dialog = form.stationDialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    dialog->setWorkFolder(dir.path());
    dialog->setClock({[&now] { return 1'796'000'000'000 + now.count() / 1000; }, [&now] { return now.count(); }});
    dialog->setPlan(testPlan("[[check]]\nkind = \"identify\"\n[[check]]\nkind = \"static\"\npoints = [0, 100]\nsettle_s = 1\nmeasure_s = 2\n"), {});
    std::vector<QString> made;
    dialog->setControlFactory([&](const QString& port, int) {
        made.push_back(port);
        auto comm = std::make_unique<FakeSerialControl>();
        comm->setOpenablePorts({2});
        lines[1].comm = comm.get();
        return StationDialog::Control{std::move(comm), 2};
    });
    // The window's port is offered first; the second board is typed in.
    ASSERT_EQ(dialog->boardRows(), 1);
    EXPECT_EQ(dialog->findChild<QComboBox*>(QStringLiteral("port0"))->currentText(), u"COM1");
    ASSERT_EQ(dialog->addBoard(QStringLiteral("COM2"), QStringLiteral("SN-2")), 1);
    auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("boards"));
    table->item(0, StationDialog::IdColumn)->setText(QStringLiteral("SN-1"));
    windowComm.clearJournal();
    ASSERT_TRUE(dialog->start());
    EXPECT_EQ(made, std::vector<QString>{QStringLiteral("COM2")});  // the window's port is not opened again

    auto* measure = dialog->findChild<QPushButton*>(QStringLiteral("measure"));
    auto* instruction = dialog->findChild<QLabel*>(QStringLiteral("instruction"));
    auto* menPort = form.menuBar()->findChild<QMenu*>(QStringLiteral("menPort"));
    auto* identify = form.findChild<QLabel*>(QStringLiteral("Identify"));
    EXPECT_FALSE(menPort->menuAction()->isEnabled());
    int instructions = 0;
    bool readoutsShown = false;
    while (dialog->running() && now < SimTime{60'000'000}) {
        now += SimTime{40'000};
        for (Line& l : lines) l.read(now);
        for (int i = 0; i < 2; ++i) dialog->station()->session(i).poll();
        QCoreApplication::processEvents();
        if (measure->isEnabled()) {
            // One instruction for both boards; the source set on both, as a manifold does.
            const auto m = QRegularExpression(QStringLiteral("Set both channels to (\\d+) mmHg\\. \\(all boards\\)")).match(instruction->text());
            ASSERT_TRUE(m.hasMatch()) << instruction->text().toStdString();
            for (Line& l : lines)
                for (const char* ch : {"ch1", "ch2"})
                    EXPECT_EQ(l.model.applySetting(QStringLiteral("%1 static %2").arg(QLatin1String(ch), m.captured(1)).toStdString(), now), "");
            ++instructions;
            measure->click();
        }
        if (!readoutsShown && instructions == 2) {
            dialog->showReadouts();
            readoutsShown = !table->item(1, StationDialog::Ch1Column)->text().isEmpty();
            if (readoutsShown) {
                EXPECT_EQ(table->item(0, StationDialog::Status1Column)->text(), u"Normal Operation");
                EXPECT_TRUE(table->item(1, StationDialog::StepColumn)->text().startsWith(u"static")) << table->item(1, StationDialog::StepColumn)->text().toStdString();
            }
        }
    }
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog->station() && dialog->station()->reportDone());
    EXPECT_EQ(instructions, 2);
    EXPECT_TRUE(readoutsShown);

    // The window showed its own board all along, and opened its port once.
    EXPECT_TRUE(identify->text().contains(u"1 of 2")) << identify->text().toStdString();
    EXPECT_FALSE(windowComm.journal().contains(QStringLiteral("open 1")));
    EXPECT_TRUE(windowComm.portOpen());
    EXPECT_TRUE(menPort->menuAction()->isEnabled());
    EXPECT_FALSE(lines[1].comm->portOpen());  // the station's own port goes back

    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("verdict"))->text(), u"FAIL: 1 of 2 boards failed");
    EXPECT_EQ(table->item(0, StationDialog::VerdictColumn)->text(), u"PASS");
    EXPECT_EQ(table->item(1, StationDialog::VerdictColumn)->text(), u"FAIL: 1 result failed");
    const QString name = dialog->station()->name();
    EXPECT_TRUE(QFileInfo(name).fileName().startsWith(u"station-"));
    for (const char* file : {".json", ".html", ".xml", "-SN-1.json", "-SN-2.csv"})
        EXPECT_TRUE(QFileInfo::exists(name + QLatin1String(file))) << file;

    const QString saved = dir.filePath(QStringLiteral("batch-7"));
    QString error;
    ASSERT_TRUE(dialog->saveReport(saved + QStringLiteral(".html"), &error)) << error.toStdString();
    for (const char* file : {".json", ".html", ".xml", "-SN-1.json", "-SN-1.bytes", "-SN-2.html", "-SN-2.csv"})
        EXPECT_TRUE(QFileInfo::exists(saved + QLatin1String(file))) << file;
    QFile summary(saved + QStringLiteral(".json"));
    ASSERT_TRUE(summary.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(summary.readAll()).object()[u"boards"][1][u"report"].toString(), u"batch-7-SN-2.json");
}

// The window's port is one run's at a time: the station refuses it while the
// single-board dialog runs on it.
TEST(WindowStation, TheWindowsPortIsOneRunsAtATime)
{
    FakeSerialControl windowComm;
    windowComm.setOpenablePorts({1});
    QTemporaryDir dir;
    Form1 form{windowComm};
    form.Form_Load();
    form.menEvaluate_Click();
    form.evaluateDialog()->setWorkFolder(dir.path());
    ASSERT_TRUE(form.evaluateDialog()->start());
    form.menStation_Click();
    StationDialog* dialog = form.stationDialog();
    dialog->setWorkFolder(dir.path());
    EXPECT_FALSE(dialog->start());
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("instruction"))->text().contains(u"being evaluated already"));
    form.evaluateDialog()->abortRun();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->start());
    // And the other way round.
    EXPECT_FALSE(form.evaluateDialog()->start());
    dialog->abortRun();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog->running());
}

// Save Report... of a run whose report could not be written to its work
// folder: enabled, and it writes the report from memory elsewhere.
TEST(WindowStation, SaveReportOfARunWhoseReportWasNotWritten)
{
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    ASSERT_TRUE(comm.setCommPort(1) && comm.setPortOpen(true));
    QTemporaryDir dir;
    const BoardState board;
    EvaluateDialog dialog(comm, board);
    SimTime now{0};
    dialog.setWorkFolder(dir.filePath(QStringLiteral("work")));
    dialog.setClock({[&now] { return 1'796'000'000'000 + now.count() / 1000; }, [&now] { return now.count(); }});
    dialog.setPlan(testPlan("[[check]]\nkind = \"identify\"\n"), {});
    dialog.findChild<QLineEdit*>(QStringLiteral("boardId"))->setText(QStringLiteral(" SN-0042 "));
    ASSERT_TRUE(dialog.start());
    // The work folder goes away under the run.
    ASSERT_TRUE(QDir(dir.path()).rename(QStringLiteral("work"), QStringLiteral("gone")));
    while (dialog.running() && now < SimTime{10'000'000}) {
        now += SimTime{100'000};
        dialog.session()->poll();
    }
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog.session()->reportDone());
    ASSERT_FALSE(dialog.session()->reportError().isEmpty());
    auto* save = dialog.findChild<QPushButton*>(QStringLiteral("saveReport"));
    EXPECT_TRUE(save->isEnabled());
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("instruction"))->text().contains(u"Save Report... writes it elsewhere"));

    const QString target = dir.filePath(QStringLiteral("kept"));
    QString notSaved;
    ASSERT_TRUE(dialog.saveReport(target, &notSaved)) << notSaved.toStdString();
    EXPECT_TRUE(notSaved.contains(u"kept.csv") && notSaved.contains(u"kept.bytes")) << notSaved.toStdString();
    for (const char* ext : {".json", ".html", ".xml"}) EXPECT_TRUE(QFileInfo::exists(target + QLatin1String(ext))) << ext;
    QFile json(target + QStringLiteral(".json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(json.readAll()).object();
    EXPECT_EQ(report[u"board_id"].toString(), u"SN-0042");
    EXPECT_EQ(report[u"verdict"].toString(), u"fail");  // the deaf board never identified itself
}

// The station dialog's Reference equipment goes into every board's report
// and the summary, and a board that passes close to its limits says MARGINAL
// in its verdict cell, as the plan's band has it.
TEST(WindowStation, ReferenceEquipmentAndMarginalOnEveryBoard)
{
    FakeSerialControl windowComm;  // no port of its own: the station's boards are typed in
    QTemporaryDir dir;
    SimTime now{0};
    Line lines[2] = {Line(1), Line(2)};
    ASSERT_EQ(lines[1].model.applySetting("ch1 gain 1.03", SimTime{0}), "");
    const BoardState board;
    StationDialog dialog(windowComm, board);
    dialog.setWorkFolder(dir.path());
    dialog.setClock({[&now] { return 1'796'000'000'000 + now.count() / 1000; }, [&now] { return now.count(); }});
    dialog.setPlan(testPlan("[plan]\nmarginal_percent = 50\n[[check]]\nkind = \"identify\"\n"
                            "[[check]]\nkind = \"static\"\npoints = [100]\nsettle_s = 1\nmeasure_s = 2\n"), {});
    dialog.setControlFactory([&](const QString&, int index) {
        auto comm = std::make_unique<FakeSerialControl>();
        comm->setOpenablePorts({index + 2});
        lines[index].comm = comm.get();
        return StationDialog::Control{std::move(comm), index + 2};
    });
    ASSERT_EQ(dialog.boardRows(), 0);
    ASSERT_EQ(dialog.addBoard(QStringLiteral("COM2"), QStringLiteral("SN-1")), 0);
    ASSERT_EQ(dialog.addBoard(QStringLiteral("COM3"), QStringLiteral("SN-2")), 1);
    const QString equipment = QStringLiteral("Calibrator PC-9 SN 4411, due 2027-05-31");
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("referenceEquipment"));
    ASSERT_TRUE(field);
    field->setText(QStringLiteral("  %1 ").arg(equipment));
    ASSERT_TRUE(dialog.start());

    auto* measure = dialog.findChild<QPushButton*>(QStringLiteral("measure"));
    while (dialog.running() && now < SimTime{30'000'000}) {
        now += SimTime{40'000};
        for (Line& l : lines) l.read(now);
        for (int i = 0; i < 2; ++i) dialog.station()->session(i).poll();
        QCoreApplication::processEvents();
        if (measure->isEnabled()) {
            for (Line& l : lines)
                for (const char* ch : {"ch1 static 100", "ch2 static 100"}) EXPECT_EQ(l.model.applySetting(ch, now), "");
            measure->click();
        }
    }
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog.station() && dialog.station()->reportDone());
    auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("boards"));
    EXPECT_EQ(table->item(0, StationDialog::VerdictColumn)->text(), u"PASS");
    EXPECT_EQ(table->item(1, StationDialog::VerdictColumn)->text(), u"PASS, 1 MARGINAL");
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("verdict"))->text(), u"PASS");

    const QString name = dialog.station()->name();
    for (const char* file : {".json", "-SN-1.json", "-SN-2.json"}) {
        QFile json(name + QLatin1String(file));
        ASSERT_TRUE(json.open(QIODevice::ReadOnly)) << file;
        EXPECT_EQ(QJsonDocument::fromJson(json.readAll()).object()[u"reference_equipment"].toString(), equipment) << file;
    }
}

// The Evaluate menu: the two runs, then the history of their reports, each
// with an access key of its own.
TEST(WindowStation, EvaluateMenuHoldsTheRunsThenTheHistory)
{
    FakeSerialControl windowComm;
    Form1 form{windowComm};
    auto* menu = form.menuBar()->findChild<QMenu*>(QStringLiteral("menEvaluate"));
    ASSERT_TRUE(menu);
    QStringList names, keys;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        names << a->objectName();
        const qsizetype amp = a->text().indexOf(u'&');
        ASSERT_GE(amp, 0) << a->text().toStdString();
        keys << a->text().mid(amp + 1, 1).toLower();
    }
    EXPECT_EQ(names, (QStringList{"menRunEvaluation", "menRunStation", "menHistory"}));
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size()) << keys.join(u' ').toStdString();
}
