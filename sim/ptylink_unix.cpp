// The board on a pseudo-terminal's far end.
#include "boardlink.h"
#include "pseudoterminal.h"

#include <QSocketNotifier>
#include <QTimer>

namespace quorvid::sim {

namespace {

// Over two seconds of line data at the steady rate. A program that has not
// read that much has closed its port, or is not reading at all; a real port
// would have lost those bytes rather than keep them for the next opener. Nor
// would it stay locked for a program that crashed while holding it.
constexpr std::size_t kStaleBytes = 2048;

class PtyLink final : public BoardLink {
public:
    explicit PtyLink(std::unique_ptr<PseudoTerminal> pty)
        : m_pty(std::move(pty)), m_notifier(m_pty->farEnd(), QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readCommands(); });
        m_resume.setSingleShot(true);
        m_resume.setInterval(250);
        connect(&m_resume, &QTimer::timeout, this, [this] { m_notifier.setEnabled(true); });
    }

    bool writeFrame(Bytes frame) override
    {
        if (frame.empty()) return true;
        if (m_pty->waitingAtNearEnd() > kStaleBytes) {
            m_pty->discardWaitingAtNearEnd();
            m_pty->releaseExclusiveUse();
        }
        return m_pty->write(frame.data(), frame.size());
    }

private:
    void readCommands()
    {
        char buf[256];
        for (;;) {
            const std::ptrdiff_t n = m_pty->read(buf, sizeof buf);
            if (n > 0) {
                emit commandBytes(QByteArray(buf, static_cast<qsizetype>(n)));
                continue;
            }
            if (n < 0) {
                // The far end reports an error (EIO while no near end is open,
                // should the kept descriptor ever be lost). Polling it again at
                // once would spin; look again a little later instead.
                m_notifier.setEnabled(false);
                m_resume.start();
            }
            return;
        }
    }

    std::unique_ptr<PseudoTerminal> m_pty;
    QSocketNotifier m_notifier;
    QTimer m_resume;
};

}  // namespace

std::unique_ptr<BoardLink> openPseudoTerminalLink(QString* nearEnd, QString* error)
{
    std::string why;
    auto pty = PseudoTerminal::open(&why);
    if (!pty) {
        if (error) *error = QString::fromStdString(why);
        return nullptr;
    }
    if (nearEnd) *nearEnd = QString::fromStdString(pty->path());
    return std::make_unique<PtyLink>(std::move(pty));
}

}  // namespace quorvid::sim
