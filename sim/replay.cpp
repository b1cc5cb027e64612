#include "replay.h"

#include "boardmodel.h"

#include <algorithm>
#include <cmath>

namespace quorvid::sim {

ReplaySchedule::ReplaySchedule(std::vector<record::RecordedBlock> blocks, double speed, bool loop)
    : m_blocks(std::move(blocks)), m_speed(speed > 0 ? speed : 1.0), m_loop(loop)
{
}

SimTime ReplaySchedule::scheduled(std::size_t index) const
{
    const double recorded = static_cast<double>(m_blocks[index].microseconds - m_blocks.front().microseconds);
    return m_passStart + SimTime{std::llround(recorded / m_speed)};
}

std::optional<SimTime> ReplaySchedule::nextDue() const
{
    if (ended()) return std::nullopt;
    return std::max(scheduled(m_next), m_lineFreeAt);
}

const QByteArray* ReplaySchedule::take(SimTime now)
{
    const std::optional<SimTime> due = nextDue();
    if (!due || *due > now) return nullptr;
    const QByteArray* block = &m_blocks[m_next].bytes;
    // From the moment of the write, not from when it was due: a late timer
    // must not let two blocks share the line's time.
    m_lineFreeAt = now + BoardModel::lineTime(static_cast<std::size_t>(block->size()));
    ++m_taken;
    if (++m_next == m_blocks.size()) {
        m_next = 0;
        ++m_pass;
        m_passStart = m_lineFreeAt;
    }
    return block;
}

ReplayServer::ReplayServer(ReplaySchedule& schedule, BoardLink& link, Clock clock, QObject* parent)
    : QObject(parent), m_schedule(schedule), m_link(link), m_clock(std::move(clock))
{
    m_elapsed.start();
    if (!m_clock) m_clock = [this] { return SimTime{m_elapsed.nsecsElapsed() / 1000}; };
    // Blocks a few milliseconds apart would bunch up with a coarse timer's slack.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplayServer::serviceDue);
    connect(&m_link, &BoardLink::commandBytes, this, &ReplayServer::heard);
}

void ReplayServer::start() { serviceDue(); }

void ReplayServer::serviceDue()
{
    const SimTime now = m_clock();
    while (const QByteArray* block = m_schedule.take(now)) {
        const auto* data = reinterpret_cast<const Byte*>(block->constData());
        if (!m_link.writeFrame(Bytes(data, static_cast<std::size_t>(block->size())))) ++m_refused;
    }
    if (const std::optional<SimTime> due = m_schedule.nextDue()) {
        // Round up: waking early would find nothing due and wake again at once.
        const auto wait = (*due - m_clock()).count();
        m_timer.start(wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000));
    } else if (!m_finished) {
        m_finished = true;
        emit finished();
    }
}

}  // namespace quorvid::sim
