#include "stdinlines.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace quorvid::monitor {

namespace {

// While the program is in the background of its terminal, it looks again this often.
constexpr int kForegroundCheckMs = 500;

// Standard input is the controlling terminal and another job has it.
bool inBackground()
{
    if (!::isatty(STDIN_FILENO)) return false;
    const pid_t owner = ::tcgetpgrp(STDIN_FILENO);
    return owner != -1 && owner != ::getpgrp();
}

}  // namespace

struct StdinLines::Reader {
    QSocketNotifier* notifier = nullptr;
    QTimer* foreground = nullptr;
};

StdinLines::StdinLines(QObject* parent)
    : QObject(parent)
    , m_reader(std::make_unique<Reader>())
{
}

StdinLines::~StdinLines() = default;

void StdinLines::keepStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        // open() takes the lowest free descriptor: the closed one.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) (void)::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

void StdinLines::start()
{
    // A read from the background then fails instead of stopping the program.
    std::signal(SIGTTIN, SIG_IGN);
    Reader& r = *m_reader;
    r.notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    r.foreground = new QTimer(this);
    r.foreground->setInterval(kForegroundCheckMs);
    connect(r.foreground, &QTimer::timeout, this, [this] {
        if (m_stopped || inBackground()) return;
        m_reader->foreground->stop();
        m_reader->notifier->setEnabled(true);
    });
    connect(r.notifier, &QSocketNotifier::activated, this, [this] {
        Reader& r = *m_reader;
        if (inBackground()) {
            r.notifier->setEnabled(false);
            r.foreground->start();
            return;
        }
        // The notifier says a read will not block; one read of what is there.
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
            take(QByteArrayView(buffer, n));
        } else if (n == 0) {
            stop({});  // the end of the input
        } else if (errno == EIO) {
            r.notifier->setEnabled(false);  // put in the background just now
            r.foreground->start();
        } else if (errno != EINTR && errno != EAGAIN) {
            stop({});
        }
    });
}

void StdinLines::stop(const QString& message)
{
    m_stopped = true;
    if (m_reader->notifier) m_reader->notifier->setEnabled(false);
    if (m_reader->foreground) m_reader->foreground->stop();
    if (!message.isEmpty()) emit refused(message);
}

}  // namespace quorvid::monitor
