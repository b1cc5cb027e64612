// The line's snapshots: a worker with its own read-only connection looks at
// most every 5 s whether the store changed, computes the figures again when
// it did (and at least once a minute, so that "the last 24 hours" moves on),
// and publishes them whole. A request takes the published snapshot and copies
// bytes; it never waits for the store. While the store is away the last
// snapshot stays, marked stale, with the reason.
#pragma once

#include "figures.h"
#include "reader.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quorvid::line {

inline constexpr qint64 kLookMs = 5000;
inline constexpr qint64 kRecomputeMs = 60000;

// A JSON answer's figures, serialised once: the object without its closing
// brace, so that a request appends as_of, stale and age_s; its ETag is over
// the figures alone.
struct Answer {
    QByteArray head;
    QByteArray etag;
};
Answer answerOf(const QJsonObject& figures);
Answer answerOf(const QByteArray& compact);  // the figures as QJsonDocument's compact form holds them

struct Snapshot {
    LineData data;
    qint64 asOfMs = 0;
    Window window;  // the default one: the 24 hours before asOfMs
    Answer benches, yield, pareto, capability;
};

struct Published {
    std::shared_ptr<const Snapshot> snapshot;  // null until the first one
    bool stale = true;
    QString problem;  // why it is stale, scrubbed
};

class Snapshotter {
public:
    explicit Snapshotter(store::StoreAddress address);
    ~Snapshotter();

    // One look at the store at the time now (ms since the epoch, UTC): the
    // worker's step, which tests drive with a clock of their own. True when
    // a new snapshot was published.
    bool poll(qint64 nowMs);
    Published published() const;
    // The result rows held do not reach as far back as the longest window yet:
    // each look reaches back a part more (the reader's partRuns()).
    bool reachingBack() const { return m_reader.rowsShort(); }
    // The reader, to set how far one look reaches back, before start().
    StoreReader& reader() { return m_reader; }

    // The worker: polls once a second on the system's clock until stop().
    void start();
    void stop();

private:
    StoreReader m_reader;
    std::optional<std::pair<qint64, qint64>> m_signature;
    qint64 m_lastLook = 0, m_lastCompute = 0;
    bool m_looked = false;

    mutable std::mutex m_mutex;
    Published m_published;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace quorvid::line
