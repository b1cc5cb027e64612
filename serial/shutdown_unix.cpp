#include "shutdown.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvid {

namespace {

int g_wakeWrite = -1;
volatile std::sig_atomic_t g_asked = 0;

// Only async-signal-safe work here: one byte into the pipe wakes the event
// loop. A second request ends the program at once, as if none were caught.
void onSignal(int sig)
{
    if (g_asked) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    g_asked = 1;
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(g_wakeWrite, &b, 1);
    errno = saved;
}

}  // namespace

bool quitOnTerminationRequest(QString* error)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    g_wakeWrite = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(),
                     [] { QCoreApplication::quit(); });

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(sig, &sa, nullptr) != 0) {
            if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    // A reader that went away (`| head -3`) is an end the program handles,
    // as a write refused, rather than a death with the files half written.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

}  // namespace quorvid
