// Plays a recording's blocks back on a line, as the board sent them: each
// block when its recorded time, scaled by the replay speed, has come and the
// line has carried the block before it. The line carries 960 bytes a second
// whatever the speed, so a block that falls due while the line is busy waits
// for it, and a replay never writes faster than a real board could.
#pragma once

#include "boardlink.h"
#include "bytesreader.h"
#include "pressurewave.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quorvid::sim {

// When each block goes out: pure, the caller says what time it is.
class ReplaySchedule {
public:
    // speed > 0: 2 plays twice as fast. With loop, the recording starts over
    // once its last block has left the line. The first block is due at time 0,
    // whatever its recorded time.
    ReplaySchedule(std::vector<record::RecordedBlock> blocks, double speed, bool loop);

    // The next block, when it may be written at time now (its time has come
    // and the line is free); taking it keeps the line busy for its bytes from
    // now on. Null when nothing may be written yet, or the replay has ended.
    const QByteArray* take(SimTime now);

    // The earliest time take() may give a block; nullopt once ended.
    std::optional<SimTime> nextDue() const;

    // Every block written and no loop.
    bool ended() const { return m_blocks.empty() || (!m_loop && m_pass > 0); }
    // Completed passes over the recording.
    int passes() const { return m_pass; }
    std::uint64_t blocksTaken() const { return m_taken; }

private:
    SimTime scheduled(std::size_t index) const;

    std::vector<record::RecordedBlock> m_blocks;
    double m_speed;
    bool m_loop;
    std::size_t m_next = 0;
    int m_pass = 0;
    SimTime m_passStart{0};
    SimTime m_lineFreeAt{0};
    std::uint64_t m_taken = 0;
};

// Puts a schedule on a line in real time. What the host sends is logged, not
// acted on: the recording already holds the board's answers.
class ReplayServer : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<SimTime()>;

    // The clock defaults to the time since construction; a test passes its own.
    ReplayServer(ReplaySchedule& schedule, BoardLink& link, Clock clock = {}, QObject* parent = nullptr);

    void start();
    // Writes every block the schedule gives at the clock's time, then arms
    // the timer for the next.
    void serviceDue();

    std::uint64_t blocksRefused() const { return m_refused; }

signals:
    // The last block is written (never with loop). The line stays open.
    void finished();
    // Bytes the host sent, for the log.
    void heard(const QByteArray& bytes);

private:
    ReplaySchedule& m_schedule;
    BoardLink& m_link;
    Clock m_clock;
    QElapsedTimer m_elapsed;
    QTimer m_timer;
    bool m_finished = false;
    std::uint64_t m_refused = 0;
};

}  // namespace quorvid::sim
