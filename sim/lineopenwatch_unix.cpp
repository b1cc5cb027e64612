// Linux reports every open of a device file to inotify, a pseudo-terminal's
// near end included. (The pseudo-terminals themselves come from glibc's pty.h.)
#include "lineopenwatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace quorvid::sim {

namespace {

class InotifyWatch final : public LineOpenWatch {
public:
    explicit InotifyWatch(int fd) : m_fd(fd), m_notifier(fd, QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
    }
    ~InotifyWatch() override { ::close(m_fd); }

private:
    void readEvents()
    {
        alignas(inotify_event) char buf[4096];
        bool open = false;
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
                if (e->mask & IN_OPEN) open = true;
                i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        if (open) emit opened();
    }

    int m_fd;
    QSocketNotifier m_notifier;
};

}  // namespace

std::unique_ptr<LineOpenWatch> LineOpenWatch::create(const QString& path, QString* error)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, QFile::encodeName(path).constData(), IN_OPEN) < 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    return std::make_unique<InotifyWatch>(fd);
}

LineOpenWatch::~LineOpenWatch() = default;

}  // namespace quorvid::sim
