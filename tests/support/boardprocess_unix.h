// The built quorvid-board as a child process of a test, and the process
// figures tests measure (Linux).
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace quorvid::test {

// Where the build put quorvid-board.
QString boardProgram();

// CPU seconds (user + system) a process has used so far, from /proc.
double cpuSeconds(qint64 pid);

// A child that outlived a crashed test would hold its line forever.
void dieWithParent(QProcess& process);

// quorvid-board with --verbose, so that the commands it hears can be checked;
// path is the pseudo-terminal a program opens, empty when it did not start.
class BoardProcess {
public:
    explicit BoardProcess(QStringList args = {});
    ~BoardProcess();

    // Everything heard so far, in order: the board logs each read as
    // heard "<bytes>", and a command may come in one read or in several.
    QString heard() const;
    // Its standard error so far.
    QString log() const { return m_log; }

    // SIGTERM, as a user ending it would; SIGKILL if that does not end it.
    // True when SIGTERM sufficed.
    bool end();

    qint64 pid() const { return m_process.processId(); }
    QProcess& process() { return m_process; }

    QString path;
    // With --boards N, every board's path in order (path is the first).
    QStringList paths;

private:
    QProcess m_process;
    QString m_log;
};

}  // namespace quorvid::test
