// The control line as a FIFO. It is opened for reading without blocking and
// watched by a socket notifier; when the last writer closes it, the end of
// file is taken as the end of a line and the FIFO is opened again for the
// next writer (an open read end with no writer would otherwise poll readable
// for ever).
#include "controlpipe.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvid::sim {

namespace {

class FifoControlPipe final : public ControlPipe {
public:
    FifoControlPipe(QByteArray path, int fd) : m_path(std::move(path)) { watch(fd); }

    ~FifoControlPipe() override
    {
        close();
        // Only the FIFO this board made; something else may have taken the name since.
        struct stat st{};
        if (::lstat(m_path.constData(), &st) == 0 && S_ISFIFO(st.st_mode) && st.st_ino == m_inode)
            ::unlink(m_path.constData());
    }

    ino_t m_inode = 0;

private:
    void watch(int fd)
    {
        m_fd = fd;
        m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readAvailable(); });
    }

    void close()
    {
        m_notifier.reset();
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    void readAvailable()
    {
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                take(buf, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            // End of file (every writer closed) or an error: what is left is a
            // last line without its line end; then wait for the next writer.
            endLine();
            close();
            const int fd = ::open(m_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                emit lineRefused(QStringLiteral("the control pipe %1 cannot be opened again: %2")
                                     .arg(QFile::decodeName(m_path), QString::fromLocal8Bit(std::strerror(errno))));
                return;
            }
            watch(fd);
            return;
        }
    }

    void take(const char* p, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] == '\n') {
                endLine();
            } else if (m_line.size() < kMaxLine) {
                m_line += p[i];
            } else {
                m_tooLong = true;
            }
        }
    }

    void endLine()
    {
        if (m_tooLong)
            emit lineRefused(QStringLiteral("a line longer than %1 bytes was refused (\"%2...\")")
                                 .arg(kMaxLine)
                                 .arg(QString::fromUtf8(m_line.left(40))));
        else if (!m_line.trimmed().isEmpty())
            emit lineReceived(QString::fromUtf8(m_line));
        m_line.clear();
        m_tooLong = false;
    }

    QByteArray m_path;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_line;
    bool m_tooLong = false;
};

}  // namespace

std::unique_ptr<ControlPipe> ControlPipe::create(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    auto fail = [&](const QString& what) {
        if (error) *error = QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    };
    struct stat st{};
    if (::lstat(name.constData(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            if (error) *error = QStringLiteral("%1 exists and is not a named pipe; not touched").arg(path);
            return nullptr;
        }
        if (::unlink(name.constData()) != 0) return fail(QStringLiteral("cannot replace"));
    }
    if (::mkfifo(name.constData(), 0600) != 0) return fail(QStringLiteral("cannot make the named pipe"));
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int saved = errno;
        ::unlink(name.constData());
        errno = saved;
        return fail(QStringLiteral("cannot open"));
    }
    auto pipe = std::make_unique<FifoControlPipe>(name, fd);
    if (::fstat(fd, &st) == 0) pipe->m_inode = st.st_ino;
    return pipe;
}

ControlPipe::~ControlPipe() = default;

}  // namespace quorvid::sim
