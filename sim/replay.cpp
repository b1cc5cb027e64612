#include "replay.h"

#include "boardmodel.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace quorvid::sim {

namespace {

class MemoryBlocks final : public BlockSource {
public:
    explicit MemoryBlocks(std::vector<record::RecordedBlock> blocks) : m_blocks(std::move(blocks)) {}
    std::optional<record::RecordedBlock> next() override
    {
        if (m_next >= m_blocks.size()) return std::nullopt;
        return m_blocks[m_next++];
    }
    bool rewind() override
    {
        m_next = 0;
        return true;
    }

private:
    std::vector<record::RecordedBlock> m_blocks;
    std::size_t m_next = 0;
};

class FileBlocks final : public BlockSource {
public:
    explicit FileBlocks(const QString& path) : m_file(path) {}
    bool open(QString* error)
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            if (error) *error = QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        m_reader = std::make_unique<record::BytesReader>(&m_file);
        return true;
    }
    std::optional<record::RecordedBlock> next() override
    {
        if (!m_reader) return std::nullopt;
        return m_reader->next();
    }
    bool rewind() override
    {
        m_reader.reset();
        if (!m_file.seek(0)) return false;
        m_reader = std::make_unique<record::BytesReader>(&m_file);
        return true;
    }
    QString error() const override
    {
        if (!m_reader) return QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
        return m_reader->error().isEmpty() ? QString() : QStringLiteral("%1, %2").arg(m_file.fileName(), m_reader->error());
    }

private:
    QFile m_file;
    std::unique_ptr<record::BytesReader> m_reader;
};

}  // namespace

std::unique_ptr<BlockSource> blocksInMemory(std::vector<record::RecordedBlock> blocks)
{
    return std::make_unique<MemoryBlocks>(std::move(blocks));
}

std::unique_ptr<BlockSource> blocksFromFile(const QString& path, QString* error)
{
    auto source = std::make_unique<FileBlocks>(path);
    if (!source->open(error)) return nullptr;
    return source;
}

ReplaySchedule::ReplaySchedule(std::unique_ptr<BlockSource> source, double speed, bool loop)
    : m_source(std::move(source)),
      m_speed(std::clamp(speed > 0 ? speed : 1.0, kMinReplaySpeed, kMaxReplaySpeed)),
      m_loop(loop)
{
    fetch(true);
}

ReplaySchedule::ReplaySchedule(std::vector<record::RecordedBlock> blocks, double speed, bool loop)
    : ReplaySchedule(blocksInMemory(std::move(blocks)), speed, loop)
{
}

void ReplaySchedule::startAt(SimTime now)
{
    m_passStart = now;
    m_lineFreeAt = now;
}

void ReplaySchedule::fetch(bool first)
{
    m_block = m_source->next();
    if (!m_block) {
        m_error = m_source->error();
        return;
    }
    if (first) m_passFirst = m_block->microseconds;
}

SimTime ReplaySchedule::scheduled() const
{
    const double recorded = static_cast<double>(m_block->microseconds - m_passFirst);
    return m_passStart + SimTime{std::llround(recorded / m_speed)};
}

std::optional<SimTime> ReplaySchedule::nextDue() const
{
    if (ended()) return std::nullopt;
    return std::max(scheduled(), m_lineFreeAt);
}

const QByteArray* ReplaySchedule::take(SimTime now)
{
    const std::optional<SimTime> due = nextDue();
    if (!due || *due > now) return nullptr;
    m_out = std::move(m_block->bytes);
    // From the moment of the write, not from when it was due: a late timer
    // must not let two blocks share the line's time.
    m_lineFreeAt = now + BoardModel::lineTime(static_cast<std::size_t>(m_out.size()));
    ++m_taken;
    fetch(false);
    if (!m_block && m_error.isEmpty()) {
        ++m_pass;
        m_passStart = m_lineFreeAt;
        if (m_loop) {
            if (m_source->rewind())
                fetch(true);
            else
                m_error = m_source->error();
        }
    }
    return &m_out;
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

void ReplayServer::start()
{
    m_schedule.startAt(m_clock());
    serviceDue();
}

void ReplayServer::serviceDue()
{
    const SimTime now = m_clock();
    while (const QByteArray* block = m_schedule.take(now)) {
        const auto* data = reinterpret_cast<const Byte*>(block->constData());
        if (!m_link.writeFrame(Bytes(data, static_cast<std::size_t>(block->size())))) ++m_refused;
    }
    if (const std::optional<SimTime> due = m_schedule.nextDue()) {
        // Round up: waking early would find nothing due and wake again at once.
        // A longer wait than the timer holds is taken in steps.
        const std::int64_t wait = std::max<std::int64_t>((*due - m_clock()).count(), 0);
        const std::int64_t ms = std::min<std::int64_t>((wait + 999) / 1000, kMaxTimerWait.count());
        m_timer.start(static_cast<int>(ms));
    } else if (!m_finished) {
        m_finished = true;
        emit finished();
    }
}

}  // namespace quorvid::sim
