// Setting the reference pressures: by a shell command for unattended runs, or
// by asking the operator. Either way the evaluation hears back once per
// request: set, skipped or aborted.
#pragma once

#include <QObject>
#include <QString>

class QProcess;

namespace quorvid::evaluate {

// What one check asks of the pressure source, in the simulated board's
// control words: "static 100", "arterial 120/80", "pa 25/10".
struct ReferenceRequest {
    QString ch1;
    QString ch2;
    int rate = 60;
    QString instruction;  // for a person: "Set channel 1 to 100 mmHg ..."
};

enum class ReferenceOutcome { Set, Skipped, Aborted };

class ReferenceSetter : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    // Starts setting; finished() follows, possibly at once.
    virtual void request(const ReferenceRequest& request) = 0;
    // The evaluation ends: a request in flight is dropped without finished().
    virtual void cancel() {}

signals:
    void finished(quorvid::evaluate::ReferenceOutcome outcome, const QString& message);
};

// Runs the command through the shell with {ch1}, {ch2} and {rate} replaced,
// and waits for it to exit; a status other than 0 aborts with its message.
class CommandReferenceSetter : public ReferenceSetter {
    Q_OBJECT

public:
    static constexpr int kTimeoutMs = 60'000;
    explicit CommandReferenceSetter(QString command, QObject* parent = nullptr);
    ~CommandReferenceSetter() override;

    // The command with the request's words in place of the placeholders.
    static QString substituted(const QString& command, const ReferenceRequest& request);

    void request(const ReferenceRequest& request) override;
    void cancel() override;

private:
    QString m_command;
    QProcess* m_process = nullptr;
};

// Sets process up to run command through the system's shell: /bin/sh -c
// elsewhere, cmd.exe /c on Windows (each in its own file).
void setShellCommand(QProcess& process, const QString& command);

// Asks a person: instructionShown() tells the front end what to say; its
// Measure, Skip and Abort (or Enter on a terminal) answer.
class OperatorReferenceSetter : public ReferenceSetter {
    Q_OBJECT

public:
    using ReferenceSetter::ReferenceSetter;
    void request(const ReferenceRequest& request) override;
    void cancel() override { m_waiting = false; }
    bool waiting() const { return m_waiting; }

public slots:
    void measure() { answer(ReferenceOutcome::Set, {}); }
    void skip() { answer(ReferenceOutcome::Skipped, QStringLiteral("skipped by the operator")); }
    void abort() { answer(ReferenceOutcome::Aborted, QStringLiteral("aborted by the operator")); }

signals:
    void instructionShown(const QString& instruction);

private:
    void answer(ReferenceOutcome outcome, const QString& message);
    bool m_waiting = false;
};

}  // namespace quorvid::evaluate
