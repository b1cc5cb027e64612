#include "boardprocess_unix.h"

#include <fstream>
#include <sstream>
#include <string>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace quorvid::test {

namespace {
constexpr int kStartMs = 5000;
}

QString boardProgram() { return QStringLiteral(QUORVID_BOARD_PATH); }

double cpuSeconds(qint64 pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

BoardProcess::BoardProcess(QStringList args)
{
    dieWithParent(m_process);
    m_process.setProgram(boardProgram());
    m_process.setArguments(args << QStringLiteral("--verbose"));
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
        m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
    });
    m_process.start();
    if (!m_process.waitForStarted(kStartMs)) return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartMs)) {
    }
    path = QString::fromLocal8Bit(m_process.readLine().trimmed());
    paths << path;
    // One line a board.
    const qsizetype boards = args.indexOf(QStringLiteral("--boards"));
    const int count = boards >= 0 ? args.value(boards + 1).toInt() : 1;
    while (paths.size() < count) {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartMs)) {
        }
        if (!m_process.canReadLine()) break;
        paths << QString::fromLocal8Bit(m_process.readLine().trimmed());
    }
}

BoardProcess::~BoardProcess() { end(); }

QString BoardProcess::heard() const
{
    QString all;
    for (const QString& line : m_log.split(u'\n')) {
        const qsizetype open = line.indexOf(QStringLiteral("heard \""));
        if (open >= 0) all += line.mid(open + 7).chopped(1);
    }
    return all;
}

bool BoardProcess::end()
{
    if (m_process.state() == QProcess::NotRunning) return true;
    m_process.terminate();
    if (m_process.waitForFinished(kStartMs)) return true;
    m_process.kill();
    m_process.waitForFinished(kStartMs);
    return false;
}

}  // namespace quorvid::test
