#include "stdinlines.h"

#include <QMetaObject>

#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace quorvid::monitor {

// What the reading thread and the object share: the object to post to, null
// once it is gone. Posting under the lock means the object cannot be
// destroyed between the check and the post; an event posted before that is
// dropped with the object by Qt.
struct StdinLines::Shared {
    std::mutex mutex;
    StdinLines* target = nullptr;
};

StdinLines::StdinLines(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->target = this;
}

StdinLines::~StdinLines()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->target = nullptr;
}

void StdinLines::start()
{
    std::thread([shared = m_shared] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const QString text = QString::fromLocal8Bit(line);
            const std::lock_guard lock(shared->mutex);
            StdinLines* target = shared->target;
            if (!target) return;
            QMetaObject::invokeMethod(
                target, [target, text] { emit target->lineRead(text); }, Qt::QueuedConnection);
        }
    }).detach();
}

}  // namespace quorvid::monitor
