#include "stdinlines.h"

#include <QMetaObject>

#include <memory>
#include <mutex>
#include <thread>

#include <windows.h>

namespace quorvid::monitor {

namespace {

// What the reading thread and the object share: the object to post to, null
// once it is gone. Posting under the lock means the object cannot be
// destroyed between the check and the post.
// The thread still waiting in ReadFile when the program ends is left to end
// with it; it holds no lock that exit takes.
struct Shared {
    std::mutex mutex;
    StdinLines* target = nullptr;
};

}  // namespace

struct StdinLines::Reader {
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
};

StdinLines::StdinLines(QObject* parent)
    : QObject(parent)
    , m_reader(std::make_unique<Reader>())
{
    m_reader->shared->target = this;
}

StdinLines::~StdinLines()
{
    const std::lock_guard lock(m_reader->shared->mutex);
    m_reader->shared->target = nullptr;
}

void StdinLines::keepStandardStreams()
{
    // A closed standard handle is never handed to a port that opens later.
}

void StdinLines::start()
{
    std::thread([reader = m_reader->shared] {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char buffer[4096];
        DWORD n = 0;
        while (input != nullptr && input != INVALID_HANDLE_VALUE
               && ReadFile(input, buffer, sizeof buffer, &n, nullptr) && n > 0) {
            const QByteArray bytes(buffer, static_cast<qsizetype>(n));
            const std::lock_guard lock(reader->mutex);
            StdinLines* target = reader->target;
            if (!target) return;
            QMetaObject::invokeMethod(target, [target, bytes] { target->take(bytes); }, Qt::QueuedConnection);
        }
    }).detach();
}

void StdinLines::stop(const QString& message)
{
    m_stopped = true;
    if (!message.isEmpty()) emit refused(message);
}

}  // namespace quorvid::monitor
