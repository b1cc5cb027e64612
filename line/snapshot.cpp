#include "snapshot.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>

namespace quorvid::line {

Answer answerOf(const QJsonObject& figures) { return answerOf(QJsonDocument(figures).toJson(QJsonDocument::Compact)); }

Answer answerOf(const QByteArray& compact)
{
    return {compact.chopped(1), '"' + QCryptographicHash::hash(compact, QCryptographicHash::Sha256).toHex().left(32) + '"'};
}

Snapshotter::Snapshotter(store::StoreAddress address) : m_reader(std::move(address)) {}

Snapshotter::~Snapshotter() { stop(); }

bool Snapshotter::poll(qint64 nowMs)
{
    if (m_looked && nowMs - m_lastLook < kLookMs) return false;
    m_looked = true;
    m_lastLook = nowMs;
    auto away = [this] {
        std::lock_guard lock(m_mutex);
        m_published.stale = true;
        m_published.problem = m_reader.problem();
        return false;
    };
    const std::optional<std::pair<qint64, qint64>> signature = m_reader.signature();
    if (!signature) return away();
    // The first snapshot's rows are its own window's: the next reaches back.
    const bool due = !m_signature || *signature != *m_signature || nowMs - m_lastCompute >= kRecomputeMs || m_reader.rowsShort();
    if (!due) {
        std::lock_guard lock(m_mutex);
        m_published.stale = false;
        m_published.problem.clear();
        return false;
    }
    auto next = std::make_shared<Snapshot>();
    next->asOfMs = nowMs;
    next->window = {nowMs - kDayMs, nowMs};
    // Whole days back, so that the rows held are copied at most once a day to let the oldest go.
    const qint64 reach = next->window.until - kMaxWindowMs - kDayMs;
    std::optional<LineData> data = m_reader.read(reach - reach % kDayMs, next->window.since);
    if (!data) return away();
    next->data = std::move(*data);
    next->benches = answerOf(benchesJson(next->data, next->window));
    next->yield = answerOf(yieldJson(next->data, next->window));
    next->pareto = answerOf(paretoJson(next->data, next->window));
    next->capability = answerOf(capabilityJson(next->data, next->window));
    m_signature = signature;
    m_lastCompute = nowMs;
    std::lock_guard lock(m_mutex);
    m_published = {std::move(next), false, {}};
    return true;
}

Published Snapshotter::published() const
{
    std::lock_guard lock(m_mutex);
    return m_published;
}

void Snapshotter::start()
{
    m_thread = std::thread([this] {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            lock.unlock();
            poll(QDateTime::currentMSecsSinceEpoch());
            lock.lock();
            m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping; });
        }
        m_reader.close();
    });
}

void Snapshotter::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace quorvid::line
