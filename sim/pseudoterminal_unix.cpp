#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace quorvid::sim {

namespace {

void makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::open(std::string* error)
{
    int far = -1, nearFd = -1;
    char name[256] = {};
    if (openpty(&far, &nearFd, name, nullptr, nullptr) != 0) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    makeRaw(nearFd);
    makeRaw(far);
    fcntl(far, F_SETFL, fcntl(far, F_GETFL) | O_NONBLOCK);
    fcntl(far, F_SETFD, FD_CLOEXEC);
    fcntl(nearFd, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<PseudoTerminal>(new PseudoTerminal(far, nearFd, name));
}

PseudoTerminal::PseudoTerminal(int far, int nearKeep, std::string path)
    : m_far(far), m_nearKeep(nearKeep), m_path(std::move(path))
{
}

PseudoTerminal::~PseudoTerminal()
{
    closeFarEnd();
    if (m_nearKeep >= 0) ::close(m_nearKeep);
}

bool PseudoTerminal::write(const void* data, std::size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0 && m_far >= 0) {
        const ssize_t n = ::write(m_far, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{m_far, POLLOUT, 0};
            if (::poll(&pfd, 1, 1000) <= 0) return false;  // nobody drains the line
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return size == 0;
}

std::ptrdiff_t PseudoTerminal::read(void* data, std::size_t max)
{
    if (m_far < 0) return -1;
    for (;;) {
        const ssize_t n = ::read(m_far, data, max);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

bool PseudoTerminal::waitReadable(int timeoutMs)
{
    if (m_far < 0) return false;
    pollfd pfd{m_far, POLLIN, 0};
    return ::poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & POLLIN);
}

std::size_t PseudoTerminal::waitingAtNearEnd() const
{
    int n = 0;
    if (m_nearKeep < 0 || ::ioctl(m_nearKeep, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<std::size_t>(n);
}

void PseudoTerminal::discardWaitingAtNearEnd()
{
    if (m_nearKeep >= 0) ::tcflush(m_nearKeep, TCIFLUSH);
}

void PseudoTerminal::releaseExclusiveUse()
{
    if (m_nearKeep >= 0) ::ioctl(m_nearKeep, TIOCNXCL);
}

void PseudoTerminal::closeFarEnd()
{
    if (m_far >= 0) ::close(m_far);
    m_far = -1;
}

}  // namespace quorvid::sim
