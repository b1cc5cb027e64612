#include "rundialog.h"

#include "runsetupform.h"
#include "stepanswers.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>

#include <memory>

namespace quorvid {

RunDialog::RunDialog(QWidget* parent)
    : QDialog(parent)
    , m_workFolder(defaultWorkFolder())
{
    setModal(false);
    store::loadDrivers();
}

RunDialog::~RunDialog()
{
    // A run being stored is stored whole before the dialog goes.
    if (m_delivery) {
        m_delivery->wait();
        delete m_delivery;
    }
}

QString RunDialog::defaultWorkFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).filePath(QStringLiteral("evaluations"));
}

void RunDialog::setPlan(const evaluate::Plan& plan, const QString& source) { m_form->setPlan(plan, source); }

void RunDialog::addSetupForm(QBoxLayout* layout, const std::function<void(QFormLayout* form)>& afterOperator)
{
    m_form = new RunSetupForm(this, layout, afterOperator);
}

void RunDialog::addStepAnswers(QBoxLayout* layout)
{
    m_answers = new StepAnswers(this, layout);
    if (m_form) connect(m_form, &RunSetupForm::said, m_answers, &StepAnswers::say);
}

void RunDialog::makeRunButtons(const QString& what)
{
    m_start = new QPushButton(QStringLiteral("&Start"), this);
    m_start->setObjectName(QStringLiteral("start") + what);
    m_abort = new QPushButton(QStringLiteral("A&bort Run"), this);
    m_abort->setObjectName(QStringLiteral("abort") + what);
    m_abort->setEnabled(false);
    connect(m_start, &QPushButton::clicked, this, &RunDialog::start);
    connect(m_abort, &QPushButton::clicked, this, &RunDialog::abortRun);
}

void RunDialog::showRunning(bool running)
{
    m_start->setEnabled(!running && !delivering());
    m_abort->setEnabled(running);
}

bool RunDialog::refused(const QString& why)
{
    if (why.isEmpty()) return false;
    m_answers->say(why);
    return true;
}

void RunDialog::startRouting(evaluate::Session* session)
{
    m_routed = true;
    emit runStarted(session);
}

void RunDialog::endRouting()
{
    if (!m_routed) return;
    m_routed = false;
    emit runEnded();
}

bool RunDialog::chooseRunStore()
{
    // The Start button waits for the last run to be stored; a start from
    // elsewhere waits here.
    if (m_delivery) {
        m_delivery->wait();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    QString why;
    const std::optional<store::StoreAddress> to = m_form->chooseResultsStore(&why);
    if (!to) return !refused(why);
    m_store = *to;
    return true;
}

void RunDialog::deliverRuns(const QStringList& reports, const QString& stationName)
{
    if (m_store.kind == store::StoreAddress::Kind::None || reports.isEmpty() || delivering()) return;
    // What the store has to say, written on the thread, read after it ended.
    struct Said {
        QStringList lines;
        bool kept = true;
    };
    auto said = std::make_shared<Said>();
    m_delivery = QThread::create([to = m_store, reports, stationName, said] {
        for (const store::Delivery& d : store::deliverRuns(to, reports, stationName)) {
            if (!d.line.isEmpty() && !said->lines.contains(d.line)) said->lines.append(d.line);
            if (d.outcome == store::Delivery::Outcome::Lost) said->kept = false;
        }
    });
    connect(m_delivery, &QThread::finished, this, [this, said] {
        if (!m_delivery) return;
        m_delivery->deleteLater();
        m_delivery = nullptr;
        const QString line = said->lines.join(u'\n');
        if (!line.isEmpty()) m_verdict->setText(m_verdict->text() + u'\n' + line);
        showRunning(running());
        emit delivered(line, said->kept);
    });
    showRunning(running());
    m_delivery->start();
}

QString RunDialog::makeWorkFolder() const
{
    if (QDir().mkpath(m_workFolder)) return {};
    return QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(m_workFolder));
}

QString RunDialog::newRunName(const QString& prefix) const
{
    return QDir(m_workFolder).filePath(QDateTime::currentDateTime().toString(QStringLiteral("'%1-'yyyyMMdd-HHmmss").arg(prefix)));
}

QProgressBar* RunDialog::addProgress(QBoxLayout* layout)
{
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    layout->addWidget(m_progress);
    return m_progress;
}

void RunDialog::showProgress(int secondsLeft, int percent)
{
    m_progress->setValue(percent);
    m_progress->setFormat(secondsLeft > 0 ? QStringLiteral("%1 s left").arg(secondsLeft) : QString());
}

void RunDialog::addVerdictLine(QBoxLayout* layout)
{
    auto* end = new QHBoxLayout;
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    m_verdict->setTextFormat(Qt::PlainText);
    QFont big = m_verdict->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    m_verdict->setFont(big);
    m_save = new QPushButton(QStringLiteral("Save Re&port..."), this);
    m_save->setObjectName(QStringLiteral("saveReport"));
    m_save->setEnabled(false);
    connect(m_save, &QPushButton::clicked, this, [this] { askSave(); });
    end->addWidget(m_verdict, 1);
    end->addWidget(m_save);
    layout->addLayout(end);
}

void RunDialog::showVerdict(const QString& text, bool pass)
{
    m_verdict->setText(text);
    m_verdict->setStyleSheet(pass ? QStringLiteral("color: #1e7b34") : QStringLiteral("color: #b3261e"));
}

void RunDialog::askReportName(const QString& name, std::function<void(const QString& path)> saveTo)
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Save Report"), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                   QStringLiteral("Reports (*.html *.json *.xml);;All files (*)"));
    dialog->setObjectName(QStringLiteral("saveReportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->selectFile(name);
    connect(dialog, &QFileDialog::fileSelected, this, std::move(saveTo));
    dialog->open();
}

}  // namespace quorvid
