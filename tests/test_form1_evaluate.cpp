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
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

using namespace quorvid;
using namespace quorvid::evaluate;
using sim::SimTime;

namespace {

// The board hears what the window has written since last time.
void hear(FakeSerialControl& comm, sim::BoardModel& model, SimTime now, qsizetype& heard)
{
    const QByteArray written = comm.written();
    model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + heard, std::size_t(written.size() - heard)), now);
    heard = written.size();
}

// One read of the port, 40 ms after the last: what the board has sent meanwhile.
void readEvery40ms(FakeSerialControl& comm, sim::BoardModel& model, SimTime& now, qsizetype& heard, EvaluateDialog& dialog)
{
    hear(comm, model, now, heard);
    now += SimTime{40'000};
    QByteArray block;
    for (const sim::DueFrame& f : model.takeDue(now)) block.append(reinterpret_cast<const char*>(f.bytes.data()), qsizetype(f.bytes.size()));
    if (!block.isEmpty()) comm.deliver(block);
    dialog.session()->poll();
}

}  // namespace

// The window on the scripted control with its port open, the board model
// behind it, and the evaluation dialog opened on simulated time.
class WindowEvaluation : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm.setOpenablePorts({1});
        form.Form_Load();
        ASSERT_TRUE(comm.portOpen());
    }

    EvaluateDialog* openDialog()
    {
        form.menEvaluate_Click();
        EvaluateDialog* dialog = form.evaluateDialog();
        if (!dialog) return nullptr;
        dialog->setWorkFolder(dir.path());
        dialog->setClock({[this] { return 1'796'000'000'000 + now.count() / 1000; }, [this] { return now.count(); }});
        return dialog;
    }

    // The window goes first, while its folder and clock are still there.
    FakeSerialControl comm;
    QTemporaryDir dir;
    SimTime now{0};
    sim::BoardModel model;
    Form1 form{comm};
};

TEST_F(WindowEvaluation, DefaultPlanFollowedByTheWindowEndsAsItBeganWithTheMonitorsVerdicts)
{
    // The menu sits between Port and About.
    QStringList menus;
    for (QAction* a : form.menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Port", "&Evaluate", "&About"}));

    ASSERT_EQ(model.applySetting("ch1 gain 1.06", SimTime{0}), "");
    EvaluateDialog* dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    // The default plan, as the dialog offers it.
    ASSERT_TRUE(dialog->start());

    auto* getInfo = form.findChild<QAbstractButton*>(QStringLiteral("GetInfo"));
    auto* simulate = form.findChild<QRadioButton*>(QStringLiteral("Option2"));
    auto* normal = form.findChild<QRadioButton*>(QStringLiteral("Option1"));
    auto* speed = form.findChild<QLabel*>(QStringLiteral("Speed"));
    auto* measure = dialog->findChild<QPushButton*>(QStringLiteral("measure"));
    auto* instruction = dialog->findChild<QLabel*>(QStringLiteral("instruction"));
    auto* menPort = form.menuBar()->findChild<QMenu*>(QStringLiteral("menPort"));
    EXPECT_FALSE(getInfo->isEnabled());
    EXPECT_FALSE(menPort->menuAction()->isEnabled());
    EXPECT_FALSE(form.recordItem()->isEnabled());

    std::set<QString> speedsShown;
    bool simulateShown = false;
    qsizetype heard = 0;
    while (dialog->running() && now < SimTime{300'000'000}) {
        readEvery40ms(comm, model, now, heard, *dialog);
        speedsShown.insert(speed->text());
        simulateShown |= simulate->isChecked();
        if (measure->isEnabled()) {
            // The operator sets the source as the dialog says, then measures.
            const QString said = instruction->text();
            QStringList words;
            if (said.startsWith(u"Open both transducers to air")) {
                words = {"ch1 static 0", "ch2 static 0"};
            } else if (const auto m = QRegularExpression("^Set both channels to (\\d+) mmHg\\.$").match(said); m.hasMatch()) {
                words = {"ch1 static " + m.captured(1), "ch2 static " + m.captured(1)};
            } else if (const auto d = QRegularExpression("^Set channel 1 to (.+), channel 2 to (.+), rate (\\d+) /min\\.$").match(said); d.hasMatch()) {
                words = {"ch1 " + d.captured(1), "ch2 " + d.captured(2), "rate " + d.captured(3)};
            }
            ASSERT_FALSE(words.isEmpty()) << said.toStdString();
            for (const QString& w : words) EXPECT_EQ(model.applySetting(w.toStdString(), now), "") << w.toStdString();
            measure->click();
        }
    }
    hear(comm, model, now, heard);
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

    // The verdicts quorvid-monitor --evaluate comes to on the same board.
    std::set<std::string> failed;
    for (const CheckOutcome& o : dialog->session()->evaluation().outcomes())
        for (const Result& r : o.results)
            if (r.verdict == Verdict::Fail) failed.insert(describe(r).section(u':', 0, 0).toStdString());
    EXPECT_EQ(failed, (std::set<std::string>{"ch1 100 mmHg", "ch1 200 mmHg", "ch1 300 mmHg", "ch1 systolic 120 mmHg",
                                             "ch1 mean 93.3 mmHg", "ch1 diastolic 80 mmHg"}));
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("verdict"))->text(), u"FAIL: 6 results failed");

    const QString saved = dir.filePath(QStringLiteral("board-42"));
    QString error;
    ASSERT_TRUE(dialog->saveReport(saved + QStringLiteral(".html"), &error)) << error.toStdString();
    for (const char* ext : {".json", ".html", ".xml", ".csv", ".bytes"})
        EXPECT_TRUE(QFileInfo::exists(saved + QLatin1String(ext))) << ext;
}

// Closing the window in the middle of a run: the board goes back to the speed
// it had and the report is written, before the port closes and the event loop
// ends.
TEST_F(WindowEvaluation, ClosingTheWindowMidRunPutsTheBoardBackAndWritesTheReport)
{
    EvaluateDialog* dialog = openDialog();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(dialog->start());
    auto* speed = form.findChild<QLabel*>(QStringLiteral("Speed"));
    qsizetype heard = 0;
    while (speed->text() != u"50" && now < SimTime{30'000'000}) readEvery40ms(comm, model, now, heard, *dialog);
    ASSERT_EQ(speed->text(), u"50");  // the speed check under way, the board at S0

    form.close();
    hear(comm, model, now, heard);
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(model.framesPerSecond(), 100);
    ASSERT_TRUE(dialog->session()->reportDone());
    EXPECT_EQ(dialog->session()->evaluation().abortReason(), u"the program was closed");
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("verdict"))->text().startsWith(u"FAIL: ended early"));
    const QString name = dialog->session()->setup().name;
    for (const char* ext : {".json", ".html", ".xml"}) EXPECT_TRUE(QFileInfo::exists(name + QLatin1String(ext))) << ext;
}
