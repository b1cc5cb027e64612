// Evaluate > Run Evaluation... on the scripted control, the board model
// answering on simulated time: the window follows the commands the evaluation
// sends, keeps its own command controls out of the way meanwhile, ends as it
// began, and comes to the evaluation's verdicts. Then the dialog with no
// window at all, and the words and saving it shares with the monitor.
#include "boardmodel.h"
#include "evaluatedialog.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "frontend.h"
#include "receiver.h"
#include "session.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
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

// Reads until the run has ended and its report is written.
void runToTheEnd(FakeSerialControl& comm, sim::BoardModel& model, SimTime& now, qsizetype& heard, EvaluateDialog& dialog,
                 const std::function<void()>& each = [] {})
{
    while (dialog.running() && now < SimTime{60'000'000}) {
        readEvery40ms(comm, model, now, heard, dialog);
        each();
    }
    hear(comm, model, now, heard);
    QCoreApplication::processEvents();  // the report is written from the event loop
    ASSERT_TRUE(dialog.session()->reportDone());
}

Plan testPlan(const char* toml)
{
    const PlanResult plan = parsePlan(toml, QStringLiteral("test plan"));
    EXPECT_TRUE(plan.plan) << plan.error.toStdString();
    return plan.plan.value_or(Plan{});
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
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
    bool simulateShown = false, sixtyShown = false;
    auto* sixty = form.findChild<QRadioButton*>(QStringLiteral("Option4"));
    qsizetype heard = 0;
    while (dialog->running() && now < SimTime{300'000'000}) {
        readEvery40ms(comm, model, now, heard, *dialog);
        speedsShown.insert(speed->text());
        simulateShown |= simulate->isChecked();
        // The Filter buttons say what the board was last told.
        EXPECT_EQ(sixty->isChecked(), form.boardState().filter == Filter::Hz60);
        sixtyShown |= sixty->isChecked();
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
            } else if (const auto f = QRegularExpression("^Set a sine of (\\d+) ± (\\d+) mmHg at (\\d+) Hz on both channels\\.$").match(said); f.hasMatch()) {
                words = {"ch1 sine " + f.captured(1) + " " + f.captured(2) + " " + f.captured(3), "ch2 sine " + f.captured(1) + " " + f.captured(2) + " " + f.captured(3)};
            } else if (const auto i = QRegularExpression("^Add (\\d+) Hz interference of (\\d+) mmHg to both channels at (\\d+) mmHg$").match(said); i.hasMatch()) {
                const QString w = "static " + i.captured(3) + " mains " + i.captured(1) + " " + i.captured(2);
                words = {"ch1 " + w, "ch2 " + w};
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
    EXPECT_TRUE(sixtyShown);
    // As before the run, in the window and on the board.
    EXPECT_EQ(speed->text(), u"100");
    EXPECT_TRUE(normal->isChecked());
    EXPECT_FALSE(sixty->isChecked());
    EXPECT_EQ(model.filterHz(), 50);
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
    // The certificate beside the run's report, and exported where asked.
    EXPECT_TRUE(QFileInfo::exists(dialog->session()->setup().name + QStringLiteral(".pdf")));
    EXPECT_TRUE(dialog->findChild<QPushButton*>(QStringLiteral("exportCertificate"))->isEnabled());
    ASSERT_TRUE(dialog->exportCertificate(saved + QStringLiteral(".pdf"), &error)) << error.toStdString();
    QFile pdf(saved + QStringLiteral(".pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_EQ(pdf.read(5), "%PDF-");
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

// The speed, mode and filter the user chose come back after a run that
// changed them: taken from what the window holds, put back on the board and
// shown again in the Speed label and the option buttons.
TEST_F(WindowEvaluation, TheUsersSpeedModeAndFilterComeBackAfterTheRun)
{
    auto* speed = form.findChild<QLabel*>(QStringLiteral("Speed"));
    auto* setSpeed = form.findChild<QPushButton*>(QStringLiteral("SelectSpeed"));
    auto option = [this](const char* name) { return form.findChild<QRadioButton*>(QString::fromLatin1(name)); };
    setSpeed->click();
    setSpeed->click();
    option("Option2")->click();
    option("Option4")->click();
    qsizetype heard = 0;
    hear(comm, model, now, heard);
    const BoardState chosen{Speed::Fps50, Mode::Simulated, Filter::Hz60};
    ASSERT_EQ(form.boardState(), chosen);

    EvaluateDialog* dialog = openDialog();
    ASSERT_TRUE(dialog);
    dialog->setPlan(testPlan("[[check]]\nkind = \"speed\"\nrates = [150]\nmeasure_s = 1\n[[check]]\nkind = \"mode\"\n"), {});
    ASSERT_TRUE(dialog->start());
    EXPECT_EQ(dialog->session()->setup().board, chosen);
    std::set<QString> shown;
    runToTheEnd(comm, model, now, heard, *dialog, [&] {
        shown.insert(speed->text() + (option("Option1")->isChecked() ? " normal" : " simulate"));
        EXPECT_EQ(speed->text().toInt(), framesPerSecond(form.boardState().speed));
    });
    EXPECT_TRUE(shown.count(QStringLiteral("150 simulate")) && shown.count(QStringLiteral("50 normal")));

    EXPECT_EQ(form.boardState(), chosen);
    EXPECT_EQ(speed->text(), u"50");
    EXPECT_TRUE(option("Option2")->isChecked() && option("Option4")->isChecked());
    EXPECT_EQ(model.framesPerSecond(), 50);
    EXPECT_EQ(model.mode(), sim::WaveMode::Synthetic);
    EXPECT_EQ(model.filterHz(), 60);
    setSpeed->click();  // and the cycle goes on from there
    EXPECT_EQ(speed->text(), u"100");
}

// The dialog with no window at all: the test's own framer takes the frames
// while the dialog says a run is on.
class DialogAlone : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm.setOpenablePorts({3});
        ASSERT_TRUE(comm.setCommPort(3) && comm.setRThreshold(1) && comm.setPortOpen(true));
        model.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>("S26"), 3), now);  // the board as told before
        dialog.setPlan(testPlan("[[check]]\nkind = \"identify\"\n[[check]]\nkind = \"speed\"\nrates = [50]\n"
                                "measure_s = 1\n[[check]]\nkind = \"mode\"\n"), {});
        dialog.setWorkFolder(dir.filePath(QStringLiteral("work")));
        dialog.setClock({[this] { return 1'796'000'000'000 + now.count() / 1000; }, [this] { return now.count(); }});
        QObject::connect(&comm, &SerialControl::onComm, [this] { MSComm1_OnComm(comm, framer); });
        QObject::connect(&dialog, &EvaluateDialog::runStarted, [this](Session* s) { framer.setFrameObserver(s), ++started; });
        QObject::connect(&dialog, &EvaluateDialog::boardStateChanged, [this](const BoardState& s) { told.push_back(s); });
        QObject::connect(&dialog, &EvaluateDialog::runEnded, [this] { framer.setFrameObserver(nullptr), ++ended; });
        ASSERT_TRUE(dialog.start());
        runToTheEnd(comm, model, now, heard, dialog);
    }

    FakeSerialControl comm;
    sim::BoardModel model;
    SimTime now{0};
    qsizetype heard = 0;
    Framer framer;
    QTemporaryDir dir;
    const BoardState board{Speed::Fps150, Mode::Normal, Filter::Hz60};
    EvaluateDialog dialog{comm, board};
    int started = 0, ended = 0;
    std::vector<BoardState> told;
};

TEST_F(DialogAlone, RunsWithNoWindowAndTellsItsFrontEndThroughItsSignals)
{
    EXPECT_EQ(started, 1);
    EXPECT_EQ(ended, 1);
    // What it told the board, as it told it, and the board put back at the end.
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](const BoardState& s) { return s.speed == Speed::Fps50; }));
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), board);
    EXPECT_EQ(model.framesPerSecond(), 150);
    EXPECT_EQ(model.mode(), sim::WaveMode::Patient);

    const Session& session = *dialog.session();
    const SessionSetup& setup = session.setup();
    EXPECT_EQ(QStringList({setup.port, setup.device, setup.version, setup.program}),
              QStringList({"COM3", comm.deviceName(3), QUORVID_VERSION, "quorvid " QUORVID_VERSION}));
    EXPECT_EQ(setup.board, board);

    // Its lines and its verdict are the shared ones.
    QStringList lines;
    for (const CheckOutcome& o : session.report().checks)
        for (const Result& r : o.results) lines << resultLine(r, o.name);
    EXPECT_EQ(dialog.findChild<QPlainTextEdit*>(QStringLiteral("results"))->toPlainText().split(u'\n'), lines);
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("verdict"))->text(), verdictSentence(session.report()));
    EXPECT_TRUE(summaryLines(session).contains(QStringLiteral("Verdict: PASS (0 of %1 results failed)").arg(lines.size())));
}

// Save Report over files already there: one that cannot be replaced keeps
// what it held, and the message names it and says why.
TEST_F(DialogAlone, SaveReportKeepsAFileItCannotReplace)
{
    const QString work = dialog.session()->setup().name, target = dir.filePath(QStringLiteral("board-42"));
    put(target + QStringLiteral(".csv"), "old csv");
    put(target + QStringLiteral(".bytes"), "old bytes");
    auto refused = [&](const char* unreplaced, const QString& reason) {
        QString error;
        EXPECT_FALSE(dialog.saveReport(target + QStringLiteral(".html"), &error));
        const QString head = QStringLiteral("Cannot write %1: ").arg(QDir::toNativeSeparators(target + QLatin1String(unreplaced)));
        EXPECT_TRUE(error.startsWith(head) && error.size() > head.size() && error.endsWith(reason)) << error.toStdString();
        EXPECT_EQ(contents(target + QStringLiteral(".bytes")), "old bytes");
    };

    // The run's recording has gone from the work folder: neither file is touched.
    ASSERT_TRUE(QFile::rename(work + QStringLiteral(".bytes"), work + QStringLiteral(".gone")));
    QFile missing(work + QStringLiteral(".bytes"));
    EXPECT_FALSE(missing.open(QIODevice::ReadOnly));
    refused(".bytes", missing.errorString());
    EXPECT_EQ(contents(target + QStringLiteral(".csv")), "old csv");
    ASSERT_TRUE(QFile::rename(work + QStringLiteral(".gone"), work + QStringLiteral(".bytes")));

    // A folder stands where the CSV would go.
    ASSERT_TRUE(QFile::remove(target + QStringLiteral(".csv")) && QDir().mkpath(target + QStringLiteral(".csv")));
    refused(".csv", {});
    ASSERT_TRUE(QDir().rmdir(target + QStringLiteral(".csv")));

    // Where it can, it replaces them whole.
    QString error;
    ASSERT_TRUE(dialog.saveReport(target + QStringLiteral(".html"), &error)) << error.toStdString();
    for (const char* ext : {".csv", ".bytes"})
        EXPECT_EQ(contents(target + QLatin1String(ext)), contents(work + QLatin1String(ext))) << ext;
}

// A plan opened while a run goes on is the next run's: the run's results keep
// its own checks' names, however few the new plan has, and its steps stay.
TEST_F(DialogAlone, APlanOpenedMidRunIsTheNextRuns)
{
    dialog.setWorkFolder(dir.filePath(QStringLiteral("second")));
    ASSERT_TRUE(dialog.start());
    dialog.setPlan(testPlan("[[check]]\nkind = \"identify\"\nname = \"only\"\n"), QStringLiteral("short.toml"));
    runToTheEnd(comm, model, now, heard, dialog);

    const Session& session = *dialog.session();
    QStringList lines;
    for (const CheckOutcome& o : session.report().checks)
        for (const Result& r : o.results) lines << resultLine(r, o.name);
    ASSERT_EQ(session.report().checks.size(), 3u);
    ASSERT_FALSE(session.report().checks.back().results.empty());
    EXPECT_EQ(dialog.findChild<QPlainTextEdit*>(QStringLiteral("results"))->toPlainText().split(u'\n'), lines);
    EXPECT_EQ(dialog.findChild<QTreeWidget*>(QStringLiteral("steps"))->topLevelItemCount(), 3);
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("planLabel"))->text(), u"short.toml: only");

    // The next run is the new plan's.
    dialog.setWorkFolder(dir.filePath(QStringLiteral("third")));
    ASSERT_TRUE(dialog.start());
    EXPECT_EQ(dialog.session()->evaluation().plan().checks.size(), 1u);
    EXPECT_EQ(dialog.findChild<QTreeWidget*>(QStringLiteral("steps"))->topLevelItemCount(), 1);
    runToTheEnd(comm, model, now, heard, dialog);
}

TEST(EvaluateFrontEnd, TheWordsEveryFrontEndUses)
{
    Result r;
    r.channel = 1, r.quantity = QStringLiteral("pressure"), r.unit = QStringLiteral("mmHg");
    r.reference = 300, r.mean = 318.1, r.error = 18.1, r.limit = 12, r.verdict = Verdict::Fail;
    // The dialog's line names the check; the monitor's follows the check's own line.
    EXPECT_EQ(resultLine(r, QStringLiteral("static")), u"FAIL     static    ch1 300 mmHg: read 318.1, error +18.1 > limit 12.0");
    EXPECT_EQ(resultLine(r), u"FAIL     ch1 300 mmHg: read 318.1, error +18.1 > limit 12.0");

    struct Row { Verdict verdict; int failures; const char* aborted; const char* sentence; };
    const Row rows[] = {
        {Verdict::Pass, 0, "", "PASS"},
        {Verdict::Fail, 6, "", "FAIL: 6 results failed"},
        {Verdict::Fail, 1, "aborted by the operator", "FAIL: ended early, 1 result failed"},
        {Verdict::Fail, 0, "the port was lost", "FAIL: ended early, 0 results failed"},
    };
    for (const Row& row : rows) {
        ReportInfo report;
        report.verdict = row.verdict;
        report.aborted = QString::fromLatin1(row.aborted);
        report.checks.push_back({QStringLiteral("static"), CheckKind::Static, row.verdict, std::vector<Result>(std::size_t(row.failures), r), {}});
        EXPECT_EQ(verdictSentence(report), QLatin1String(row.sentence)) << row.sentence;
    }
    // A blank reference command asks the operator.
    for (const char* blank : {"", "  ", "\t\n"}) EXPECT_TRUE(chooseReference(QString::fromLatin1(blank)).person) << blank;
    EXPECT_FALSE(chooseReference(QStringLiteral(" true ")).person);
}
