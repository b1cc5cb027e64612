#include "reference.h"

#include <QProcess>
#include <QTimer>

namespace quorvid::evaluate {

CommandReferenceSetter::CommandReferenceSetter(QString command, QObject* parent)
    : ReferenceSetter(parent)
    , m_command(std::move(command))
{
}

CommandReferenceSetter::~CommandReferenceSetter() { cancel(); }

QString CommandReferenceSetter::substituted(const QString& command, const ReferenceRequest& r)
{
    QString s = command;
    s.replace(QLatin1String("{ch1}"), r.ch1);
    s.replace(QLatin1String("{ch2}"), r.ch2);
    s.replace(QLatin1String("{rate}"), QString::number(r.rate));
    return s;
}

void CommandReferenceSetter::request(const ReferenceRequest& r)
{
    cancel();
    m_process = new QProcess(this);
    QProcess* p = m_process;
    p->setProcessChannelMode(QProcess::MergedChannels);
    auto* timer = new QTimer(p);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, p, [this, p] {
        p->disconnect(this);
        p->kill();
        p->waitForFinished(1000);
        p->deleteLater();
        m_process = nullptr;
        emit finished(ReferenceOutcome::Aborted,
                      QStringLiteral("the reference command did not end within %1 s").arg(kTimeoutMs / 1000));
    });
    connect(p, &QProcess::finished, this, [this, p](int code, QProcess::ExitStatus status) {
        const QString output = QString::fromLocal8Bit(p->readAll()).trimmed();
        p->deleteLater();
        m_process = nullptr;
        if (status == QProcess::NormalExit && code == 0) {
            emit finished(ReferenceOutcome::Set, {});
            return;
        }
        QString why = status == QProcess::NormalExit ? QStringLiteral("exited with status %1").arg(code)
                                                     : QStringLiteral("crashed");
        if (!output.isEmpty()) why += QStringLiteral(": ") + output;
        emit finished(ReferenceOutcome::Aborted, QStringLiteral("the reference command %1").arg(why));
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart) return;
        const QString why = p->errorString();
        p->deleteLater();
        m_process = nullptr;
        emit finished(ReferenceOutcome::Aborted, QStringLiteral("the reference command did not start: %1").arg(why));
    });
    setShellCommand(*p, substituted(m_command, r));
    timer->start(kTimeoutMs);
    p->start();
}

void CommandReferenceSetter::cancel()
{
    if (!m_process) return;
    QProcess* p = m_process;
    m_process = nullptr;
    p->disconnect(this);
    p->kill();
    p->waitForFinished(1000);
    delete p;
}

void OperatorReferenceSetter::request(const ReferenceRequest& r)
{
    m_waiting = true;
    emit instructionShown(r.instruction);
}

void OperatorReferenceSetter::answer(ReferenceOutcome outcome, const QString& message)
{
    if (!m_waiting) return;
    m_waiting = false;
    emit finished(outcome, message);
}

}  // namespace quorvid::evaluate
