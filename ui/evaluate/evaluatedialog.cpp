#include "evaluatedialog.h"

#include "portnames.h"
#include "serialcontrol.h"
#include "session.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace quorvid;
using namespace quorvid::evaluate;

EvaluateDialog::EvaluateDialog(SerialControl& comm, const BoardState& board, QWidget* parent)
    : QDialog(parent)
    , m_comm(comm)
    , m_board(board)
    , m_plan(defaultPlan())
    , m_planSource(QStringLiteral("the default plan"))
{
    setObjectName(QStringLiteral("evaluateDialog"));
    setWindowTitle(QStringLiteral("Run Evaluation"));
    setModal(false);
    m_workFolder = defaultWorkFolder();

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* planRow = new QHBoxLayout;
    m_planLabel = new QLabel(this);
    m_planLabel->setObjectName(QStringLiteral("planLabel"));
    m_planLabel->setWordWrap(true);
    auto* openPlan = new QPushButton(QStringLiteral("Open P&lan..."), this);
    openPlan->setObjectName(QStringLiteral("openPlan"));
    connect(openPlan, &QPushButton::clicked, this, &EvaluateDialog::openPlan);
    planRow->addWidget(m_planLabel, 1);
    planRow->addWidget(openPlan);
    form->addRow(QStringLiteral("Plan:"), planRow);
    m_operator = new QLineEdit(this);
    m_operator->setObjectName(QStringLiteral("operatorName"));
    form->addRow(QStringLiteral("&Operator:"), m_operator);
    m_boardId = new QLineEdit(this);
    m_boardId->setObjectName(QStringLiteral("boardId"));
    m_boardId->setPlaceholderText(QStringLiteral("serial number or asset tag, typed or scanned; empty: the port's name"));
    form->addRow(QStringLiteral("Board &ID:"), m_boardId);
    m_command = new QLineEdit(this);
    m_command->setObjectName(QStringLiteral("referenceCommand"));
    m_command->setPlaceholderText(QStringLiteral("empty: ask for each reference; e.g. printf \"ch1 {ch1}\\nch2 {ch2}\\nrate {rate}\\n\" > /tmp/ctl"));
    form->addRow(QStringLiteral("&Reference command:"), m_command);
    m_equipment = new QLineEdit(this);
    m_equipment->setObjectName(QStringLiteral("referenceEquipment"));
    m_equipment->setPlaceholderText(QStringLiteral("e.g. the calibrator's serial number and calibration due date"));
    form->addRow(QStringLiteral("Reference e&quipment:"), m_equipment);
    layout->addLayout(form);

    auto* buttons = new QHBoxLayout;
    m_start = new QPushButton(QStringLiteral("&Start"), this);
    m_start->setObjectName(QStringLiteral("startEvaluation"));
    m_abort = new QPushButton(QStringLiteral("A&bort Run"), this);
    m_abort->setObjectName(QStringLiteral("abortEvaluation"));
    m_abort->setEnabled(false);
    connect(m_start, &QPushButton::clicked, this, &EvaluateDialog::start);
    connect(m_abort, &QPushButton::clicked, this, &EvaluateDialog::abortRun);
    buttons->addWidget(m_start);
    buttons->addWidget(m_abort);
    buttons->addStretch();
    layout->addLayout(buttons);

    m_steps = new QTreeWidget(this);
    m_steps->setObjectName(QStringLiteral("steps"));
    m_steps->setHeaderLabels({QStringLiteral("Check"), QStringLiteral("State")});
    m_steps->setRootIsDecorated(false);
    m_steps->setMaximumHeight(150);
    layout->addWidget(m_steps);

    m_instruction = new QLabel(this);
    m_instruction->setObjectName(QStringLiteral("instruction"));
    m_instruction->setWordWrap(true);
    layout->addWidget(m_instruction);
    auto* answers = new QHBoxLayout;
    m_measure = new QPushButton(QStringLiteral("&Measure"), this);
    m_measure->setObjectName(QStringLiteral("measure"));
    m_skip = new QPushButton(QStringLiteral("S&kip"), this);
    m_skip->setObjectName(QStringLiteral("skip"));
    m_abortStep = new QPushButton(QStringLiteral("Abor&t"), this);
    m_abortStep->setObjectName(QStringLiteral("abortStep"));
    for (QPushButton* b : {m_measure, m_skip, m_abortStep}) {
        b->setEnabled(false);
        answers->addWidget(b);
    }
    answers->addStretch();
    layout->addLayout(answers);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    layout->addWidget(m_progress);

    m_results = new QPlainTextEdit(this);
    m_results->setObjectName(QStringLiteral("results"));
    m_results->setReadOnly(true);
    m_results->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_results->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(m_results, 1);

    auto* end = new QHBoxLayout;
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    QFont big = m_verdict->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    m_verdict->setFont(big);
    m_save = new QPushButton(QStringLiteral("Save Re&port..."), this);
    m_save->setObjectName(QStringLiteral("saveReport"));
    m_save->setEnabled(false);
    connect(m_save, &QPushButton::clicked, this, &EvaluateDialog::askSave);
    end->addWidget(m_verdict, 1);
    end->addWidget(m_save);
    layout->addLayout(end);

    resize(640, 620);
    setPlan(m_plan, m_planSource);
}

QString EvaluateDialog::defaultWorkFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).filePath(QStringLiteral("evaluations"));
}

EvaluateDialog::~EvaluateDialog()
{
    endRouting();
    m_session.reset();
}

void EvaluateDialog::endRouting()
{
    if (!m_routed) return;
    m_routed = false;
    emit runEnded();
}

bool EvaluateDialog::running() const { return m_session && m_session->evaluation().running(); }

void EvaluateDialog::setPlan(const Plan& plan, const QString& source)
{
    m_plan = plan;
    m_planSource = source;
    QStringList names;
    for (const Check& c : plan.checks) names << c.name;
    m_planLabel->setTextFormat(Qt::PlainText);
    m_planLabel->setText(QStringLiteral("%1: %2").arg(source, names.join(QStringLiteral(", "))));
    if (!running()) showSteps();
}

void EvaluateDialog::showSteps()
{
    m_steps->clear();
    for (const Check& c : m_plan.checks) new QTreeWidgetItem(m_steps, {c.name, QStringLiteral("waiting")});
}

void EvaluateDialog::openPlan()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Plan"), {}, QStringLiteral("Plans (*.toml);;All files (*)"));
    if (path.isEmpty()) return;
    const PlanResult r = readPlanFile(path);
    if (!r.plan) {
        m_instruction->setText(QStringLiteral("Plan refused: %1").arg(r.error));
        return;
    }
    m_instruction->clear();
    setPlan(*r.plan, QFileInfo(path).fileName());
}

void EvaluateDialog::showEvent(QShowEvent* event)
{
    // The command comes from the person who starts a run, each time.
    if (!running()) {
        m_command->clear();
        m_operator->setFocus();
    }
    QDialog::showEvent(event);
}

void EvaluateDialog::closeEvent(QCloseEvent* event)
{
    // Closing hides the dialog; a run goes on and can be looked at again.
    QDialog::closeEvent(event);
}

bool EvaluateDialog::start()
{
    if (running()) return false;
    if (!m_comm.portOpen()) {
        m_instruction->setText(QStringLiteral("No port is open: choose one in the Port menu."));
        return false;
    }
    if (m_portCheck) {
        if (const QString why = m_portCheck(); !why.isEmpty()) {
            m_instruction->setText(why);
            return false;
        }
    }
    if (m_session) {
        endRouting();
        m_session.reset();
    }
    m_reference = chooseReference(m_command->text());
    if (OperatorReferenceSetter* person = m_reference.person) {
        connect(person, &OperatorReferenceSetter::instructionShown, this, [this](const QString& text) {
            m_instruction->setText(text);
            for (QPushButton* b : {m_measure, m_skip, m_abortStep}) b->setEnabled(true);
            m_measure->setFocus();
        });
        auto answered = [this] {
            for (QPushButton* b : {m_measure, m_skip, m_abortStep}) b->setEnabled(false);
        };
        connect(m_measure, &QPushButton::clicked, person, [person, answered] { answered(); person->measure(); });
        connect(m_skip, &QPushButton::clicked, person, [person, answered] { answered(); person->skip(); });
        connect(m_abortStep, &QPushButton::clicked, person, [person, answered] { answered(); person->abort(); });
    }

    if (!QDir().mkpath(m_workFolder)) {
        m_instruction->setText(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(m_workFolder)));
        return false;
    }
    const RunRequest run{
        QDir(m_workFolder).filePath(QDateTime::currentDateTime().toString(QStringLiteral("'evaluation-'yyyyMMdd-HHmmss"))),
        m_operator->text(), QStringLiteral("quorvid"), m_equipment->text().trimmed()};
    SessionSetup setup = sessionSetup(run, {&m_comm, comName(m_comm.commPort()), m_board, m_boardId->text().trimmed()});
    QString why;
    if (m_clock.monotonicMicroseconds) setup.clock = m_clock;
    m_session = Session::create(m_comm, *m_reference.setter, m_plan, setup, &why);
    if (!m_session) {
        m_instruction->setText(why);
        return false;
    }

    Evaluation& e = m_session->evaluation();
    connect(&e, &Evaluation::commandSent, this, [this, &e] { emit boardStateChanged(e.boardState()); });
    connect(&e, &Evaluation::checkStarted, this, [this](int i, const QString&) {
        if (QTreeWidgetItem* item = m_steps->topLevelItem(i)) item->setText(1, QStringLiteral("running"));
    });
    connect(&e, &Evaluation::checkFinished, this, [this](int i, Verdict v) {
        if (QTreeWidgetItem* item = m_steps->topLevelItem(i)) item->setText(1, verdictName(v).toUpper());
    });
    connect(&e, &Evaluation::resultAdded, this, [this](int i, const Result& r) {
        m_results->appendPlainText(resultLine(r, m_plan.checks.at(std::size_t(i)).name));
        // The newest result stays in sight, failures included.
        m_results->verticalScrollBar()->setValue(m_results->verticalScrollBar()->maximum());
    });
    connect(&e, &Evaluation::activity, this, [this](const QString& text) {
        if (!m_reference.person || !m_reference.person->waiting()) m_instruction->setText(text);
    });
    connect(&e, &Evaluation::progress, this, [this](int secondsLeft, int percent) {
        m_progress->setValue(percent);
        m_progress->setFormat(secondsLeft > 0 ? QStringLiteral("%1 s left").arg(secondsLeft) : QString());
    });
    connect(m_session.get(), &Session::reportFinished, this, &EvaluateDialog::finished);

    showSteps();
    m_results->clear();
    m_verdict->clear();
    m_save->setEnabled(false);
    m_start->setEnabled(false);
    m_abort->setEnabled(true);
    m_routed = true;
    emit runStarted(m_session.get());
    m_session->start();
    return true;
}

void EvaluateDialog::abortRun()
{
    if (running()) m_session->evaluation().abort(QStringLiteral("aborted by the operator"));
}

void EvaluateDialog::endForExit()
{
    if (running()) m_session->endNow(QStringLiteral("the program was closed"));
}

void EvaluateDialog::finished(const QString& reportError)
{
    endRouting();
    for (QPushButton* b : {m_measure, m_skip, m_abortStep}) b->setEnabled(false);
    m_start->setEnabled(true);
    m_abort->setEnabled(false);
    m_progress->setValue(100);
    m_progress->setFormat(QString());
    const Evaluation& e = m_session->evaluation();
    const bool pass = m_session->report().verdict == Verdict::Pass;
    m_verdict->setText(verdictSentence(m_session->report()));
    m_verdict->setStyleSheet(pass ? QStringLiteral("color: #1e7b34") : QStringLiteral("color: #b3261e"));
    m_instruction->setText(!reportError.isEmpty() ? reportError
                           : !e.abortReason().isEmpty() ? QStringLiteral("Ended early: %1").arg(e.abortReason())
                                                        : QStringLiteral("Done."));
    // Also when the report could not be written to the work folder: then
    // most of all, Save Report... writes it elsewhere from memory.
    m_save->setEnabled(true);
    if (!reportError.isEmpty()) m_instruction->setText(QStringLiteral("%1 Save Report... writes it elsewhere.").arg(reportError));
}

bool EvaluateDialog::saveReport(const QString& chosen, QString* error)
{
    if (!m_session || !m_session->reportDone()) return false;
    QString notSaved;
    const bool saved = saveRunAs(*m_session, chosen, error, &notSaved);
    // The report is out; what of its recording could not be is told.
    if (saved && !notSaved.isEmpty() && error) *error = notSaved;
    return saved;
}

void EvaluateDialog::askSave()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Save Report"), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                   QStringLiteral("Reports (*.html *.json *.xml);;All files (*)"));
    dialog->setObjectName(QStringLiteral("saveReportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->selectFile(QFileInfo(m_session->setup().name).fileName());
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString why;
        const bool saved = saveReport(path, &why);
        m_instruction->setText(!saved ? why
                               : why.isEmpty() ? QStringLiteral("Saved %1.html, .json, .xml, .csv and .bytes").arg(QDir::toNativeSeparators(path))
                                               : QStringLiteral("Saved %1.html, .json and .xml; the recording %2").arg(QDir::toNativeSeparators(path), why));
    });
    dialog->open();
}
