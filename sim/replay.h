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

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quorvid::sim {

// Where the blocks come from, one at a time, so that a replay holds one block
// in memory rather than the recording.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    // The next block; nullopt at the end, or at a line that cannot be read (error() says).
    virtual std::optional<record::RecordedBlock> next() = 0;
    // Back to the first block, for a loop; false when that cannot be done (error() says).
    virtual bool rewind() = 0;
    virtual QString error() const { return {}; }
};

// Blocks held in memory.
std::unique_ptr<BlockSource> blocksInMemory(std::vector<record::RecordedBlock> blocks);
// A .bytes file read as the replay goes; null with the reason when it cannot be opened.
std::unique_ptr<BlockSource> blocksFromFile(const QString& path, QString* error);

// The slowest and fastest replay: below, a recording's seconds become hours;
// above, the line's 960 bytes a second decide the pace anyway.
constexpr double kMinReplaySpeed = 0.01;
constexpr double kMaxReplaySpeed = 1000;

// When each block goes out: pure, the caller says what time it is.
class ReplaySchedule {
public:
    // speed from kMinReplaySpeed to kMaxReplaySpeed (clamped): 2 plays twice as
    // fast. With loop, the recording starts over once its last block has left
    // the line. The first block is due at the start (time 0 until startAt()),
    // whatever its recorded time.
    ReplaySchedule(std::unique_ptr<BlockSource> source, double speed, bool loop);
    ReplaySchedule(std::vector<record::RecordedBlock> blocks, double speed, bool loop);

    // The replay starts at time now: the first block is due then.
    void startAt(SimTime now);

    // The next block, when it may be written at time now (its time has come
    // and the line is free); taking it keeps the line busy for its bytes from
    // now on. Null when nothing may be written yet, or the replay has ended.
    const QByteArray* take(SimTime now);

    // The earliest time take() may give a block; nullopt once ended.
    std::optional<SimTime> nextDue() const;

    // Every block written and no loop, or the source failed.
    bool ended() const { return !m_block; }
    // Why the source stopped early; empty when it did not.
    QString error() const { return m_error; }
    // Completed passes over the recording.
    int passes() const { return m_pass; }
    std::uint64_t blocksTaken() const { return m_taken; }

private:
    SimTime scheduled() const;
    void fetch(bool first);

    std::unique_ptr<BlockSource> m_source;
    std::optional<record::RecordedBlock> m_block;  // the next to go; none once ended
    QByteArray m_out;                              // the block take() gave last
    std::int64_t m_passFirst = 0;                  // the recorded time of a pass's first block
    double m_speed;
    bool m_loop;
    QString m_error;
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

    // The first block goes out now, the rest with their recorded timing from now.
    void start();
    // Writes every block the schedule gives at the clock's time, then arms
    // the timer for the next.
    void serviceDue();

    std::uint64_t blocksRefused() const { return m_refused; }
    // How long the timer waits now. A wait longer than kMaxTimerWait (a
    // recording with a pause of days, a slow replay) is taken in steps.
    std::chrono::milliseconds timerWait() const { return std::chrono::milliseconds(m_timer.interval()); }
    static constexpr std::chrono::milliseconds kMaxTimerWait{3'600'000};

signals:
    // The last block is written (never with loop), or the file could not be
    // read on (the schedule's error() says why). The line stays open.
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
