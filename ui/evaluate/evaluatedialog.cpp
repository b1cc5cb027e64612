#include "evaluatedialog.h"

#include "certificate.h"
#include "portnames.h"
#include "runsetupform.h"
#include "serialcontrol.h"
#include "session.h"
#include "stepanswers.h"
#include "uncertainty.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QStandardPaths>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace quorvid;
using namespace quorvid::evaluate;

EvaluateDialog::EvaluateDialog(SerialControl& comm, const BoardState& board, QWidget* parent)
    : RunDialog(parent)
    , m_comm(comm)
    , m_board(board)
{
    setObjectName(QStringLiteral("evaluateDialog"));
    setWindowTitle(QStringLiteral("Run Evaluation"));

    auto* layout = new QVBoxLayout(this);
    addSetupForm(layout, [this](QFormLayout* form) {
        m_boardId = new QLineEdit(this);
        m_boardId->setObjectName(QStringLiteral("boardId"));
        m_boardId->setPlaceholderText(QStringLiteral("serial number or asset tag, typed or scanned; empty: the port's name"));
        form->addRow(QStringLiteral("Board &ID:"), m_boardId);
        m_ambient = new QLineEdit(this);
        m_ambient->setObjectName(QStringLiteral("ambient"));
        m_ambient->setPlaceholderText(QStringLiteral("for the certificate, e.g. 23 °C, 45 %RH"));
        form->addRow(QStringLiteral("A&mbient:"), m_ambient);
    });

    auto* buttons = new QHBoxLayout;
    makeRunButtons(QStringLiteral("Evaluation"));
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

    addStepAnswers(layout);
    connect(m_form, &RunSetupForm::planChanged, this, [this] {
        if (!running()) showSteps();
    });

    addProgress(layout);

    m_results = new QPlainTextEdit(this);
    m_results->setObjectName(QStringLiteral("results"));
    m_results->setReadOnly(true);
    m_results->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_results->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(m_results, 1);

    addVerdictLine(layout);
    // The certificate of the run just ended: the dialogs only choose where it goes.
    auto* certificate = new QHBoxLayout;
    m_print = new QPushButton(QStringLiteral("P&rint..."), this);
    m_print->setObjectName(QStringLiteral("printCertificate"));
    m_export = new QPushButton(QStringLiteral("E&xport PDF..."), this);
    m_export->setObjectName(QStringLiteral("exportCertificate"));
    for (QPushButton* b : {m_print, m_export}) {
        b->setEnabled(false);
        certificate->addWidget(b);
    }
    certificate->insertStretch(0);
    connect(m_print, &QPushButton::clicked, this, &EvaluateDialog::askPrint);
    connect(m_export, &QPushButton::clicked, this, &EvaluateDialog::askExport);
    layout->addLayout(certificate);

    resize(640, 620);
    showSteps();
}

EvaluateDialog::~EvaluateDialog()
{
    endRouting();
    m_session.reset();
}

bool EvaluateDialog::running() const { return m_session && m_session->evaluation().running(); }

void EvaluateDialog::showSteps()
{
    m_steps->clear();
    for (const Check& c : m_form->plan().checks) new QTreeWidgetItem(m_steps, {c.name, QStringLiteral("waiting")});
}

void EvaluateDialog::showEvent(QShowEvent* event)
{
    // The command comes from the person who starts a run, each time.
    if (!running()) {
        m_form->clearCommand();
        m_form->focusOperator();
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
        m_answers->say(QStringLiteral("No port is open: choose one in the Port menu."));
        return false;
    }
    if (m_portCheck && refused(m_portCheck())) return false;
    if (m_session) {
        endRouting();
        m_session.reset();
    }
    m_reference = m_form->chooseReference();
    if (OperatorReferenceSetter* person = m_reference.person) m_answers->follow(person);

    if (refused(makeWorkFolder()) || !chooseRunStore()) return false;
    RunRequest run = m_form->runRequest(newRunName(QStringLiteral("evaluation")));
    run.ambient = m_ambient->text().trimmed();
    SessionSetup setup = sessionSetup(run, {&m_comm, comName(m_comm.commPort()), m_board, m_boardId->text().trimmed()});
    QString why;
    if (m_clock.monotonicMicroseconds) setup.clock = m_clock;
    m_session = Session::create(m_comm, *m_reference.setter, m_form->plan(), setup, &why);
    if (!m_session) {
        m_answers->say(why);
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
    // The run's own plan names its checks: another plan may be opened while it runs.
    connect(&e, &Evaluation::resultAdded, this, [this, &e](int i, const Result& r) {
        m_results->appendPlainText(resultLine(r, e.plan().checks.at(std::size_t(i)).name));
        // The newest result stays in sight, failures included.
        m_results->verticalScrollBar()->setValue(m_results->verticalScrollBar()->maximum());
    });
    connect(&e, &Evaluation::activity, this, [this](const QString& text) {
        if (!m_reference.person || !m_reference.person->waiting()) m_answers->say(text);
    });
    connect(&e, &Evaluation::progress, this, &EvaluateDialog::showProgress);
    connect(m_session.get(), &Session::reportFinished, this, &EvaluateDialog::finished);

    showSteps();
    m_results->clear();
    // What the plan's reference says before anything is measured.
    for (const QString& warning : predictPlan(m_session->evaluation().plan()).warnings) m_results->appendPlainText(warning);
    m_verdict->clear();
    m_save->setEnabled(false);
    m_print->setEnabled(false);
    m_export->setEnabled(false);
    showRunning(true);
    startRouting(m_session.get());
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
    m_answers->stopAsking();
    showRunning(false);
    showProgress(0, 100);
    const Evaluation& e = m_session->evaluation();
    showVerdict(verdictSentence(m_session->report()), m_session->report().verdict == Verdict::Pass);
    m_answers->say(!reportError.isEmpty() ? reportError
                   : !e.abortReason().isEmpty() ? QStringLiteral("Ended early: %1").arg(e.abortReason())
                                                : QStringLiteral("Done."));
    // Also when the report could not be written to the work folder: then
    // most of all, Save Report... writes it elsewhere from memory.
    m_save->setEnabled(true);
    m_print->setEnabled(true);
    m_export->setEnabled(true);
    if (!reportError.isEmpty()) {
        m_answers->say(QStringLiteral("%1 Save Report... writes it elsewhere.").arg(reportError));
        return;
    }
    // The certificate beside the report; the report files first, the record
    // of truth; then the store.
    if (QString why; !exportCertificate(m_session->setup().name + QStringLiteral(".pdf"), &why)) m_answers->say(why);
    deliverRuns({m_session->setup().name + QStringLiteral(".json")});
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

CertificateIssuer EvaluateDialog::settingsIssuer()
{
    const QSettings settings;
    return {settings.value(QStringLiteral("certificate/organisation")).toString(),
            settings.value(QStringLiteral("certificate/address")).toString()};
}

bool EvaluateDialog::exportCertificate(const QString& path, QString* error)
{
    if (!m_session || !m_session->reportDone()) {
        if (error) *error = QStringLiteral("No run has ended yet: its certificate is made when it ends.");
        return false;
    }
    return certificate::writeCertificate(m_session->report(), path, error, settingsIssuer());
}

void EvaluateDialog::askPrint()
{
    if (!m_session || !m_session->reportDone()) return;
    auto* printer = new QPrinter(QPrinter::HighResolution);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setDocName(QStringLiteral("Certificate %1").arg(m_session->report().runId));
    auto* dialog = new QPrintDialog(printer, this);
    dialog->setObjectName(QStringLiteral("printCertificateDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QObject::destroyed, this, [printer] { delete printer; });
    connect(dialog, &QDialog::accepted, this, [this, printer] {
        const ReportInfo& report = m_session->report();
        certificate::renderCertificate(*certificate::certificateDocument(report, settingsIssuer()), *printer, report.runId);
        m_answers->say(QStringLiteral("The certificate went to %1.").arg(printer->printerName().isEmpty() ? printer->outputFileName()
                                                                                                       : printer->printerName()));
    });
    dialog->open();
}

void EvaluateDialog::askExport()
{
    if (!m_session || !m_session->reportDone()) return;
    auto* dialog = new QFileDialog(this, QStringLiteral("Export PDF"), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                   QStringLiteral("PDF (*.pdf)"));
    dialog->setObjectName(QStringLiteral("exportCertificateDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("pdf"));
    dialog->selectFile(QFileInfo(m_session->setup().name).fileName() + QStringLiteral(".pdf"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString why;
        m_answers->say(exportCertificate(path, &why) ? QStringLiteral("Exported %1").arg(QDir::toNativeSeparators(path)) : why);
    });
    dialog->open();
}

void EvaluateDialog::askSave()
{
    askReportName(QFileInfo(m_session->setup().name).fileName(), [this](const QString& path) {
        QString why;
        const bool saved = saveReport(path, &why);
        m_answers->say(!saved ? why
                       : why.isEmpty() ? QStringLiteral("Saved %1.html, .json, .xml, .csv and .bytes").arg(QDir::toNativeSeparators(path))
                                       : QStringLiteral("Saved %1.html, .json and .xml; the recording %2").arg(QDir::toNativeSeparators(path), why));
    });
}
