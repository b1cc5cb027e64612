#include "boardserver.h"

#include <cstdio>

namespace quorvid::sim {

QByteArray printableBytes(const QByteArray& bytes)
{
    QByteArray shown;
    for (char c : bytes) shown += (c >= 0x20 && c < 0x7F) ? QByteArray(1, c) : "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16);
    return shown;
}

BoardServer::BoardServer(BoardModel& model, BoardLink& link, Clock clock, QObject* parent)
    : QObject(parent), m_model(model), m_link(link), m_clock(std::move(clock))
{
    m_elapsed.start();
    if (!m_clock) m_clock = [this] { return SimTime{m_elapsed.nsecsElapsed() / 1000}; };
    // Millisecond timers would otherwise be allowed 5 % slack, and at 150
    // frames a second the samples would bunch up.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BoardServer::serviceDue);
    connect(&m_link, &BoardLink::commandBytes, this, &BoardServer::hear);
}

void BoardServer::start() { serviceDue(); }

void BoardServer::serviceDue()
{
    const SimTime now = m_clock();
    for (const DueFrame& f : m_model.takeDue(now)) {
        if (f.bytes.empty()) continue;  // every byte of it dropped
        if (now - f.due > kStale) {
            ++m_framesSkipped;
            continue;
        }
        if (m_valuesOpen && m_valuesComplete) m_valuesComplete();
        m_valuesOpen = false;
        if (m_link.writeFrame(f.bytes)) {
            ++m_framesWritten;
            ++m_writtenByKind[static_cast<std::size_t>(f.kind)];
            m_valuesOpen = f.kind == FrameKind::Values;
        } else {
            ++m_framesRefused;
        }
    }
    arm();
}

void BoardServer::hear(const QByteArray& bytes)
{
    if (m_verbose)
        std::fprintf(stderr, "quorvid-board: %s%sheard \"%s\"\n", m_name.c_str(), m_name.empty() ? "" : ": ",
                     printableBytes(bytes).constData());
    const auto* data = reinterpret_cast<const Byte*>(bytes.constData());
    m_model.feedCommandBytes(Bytes(data, static_cast<std::size_t>(bytes.size())), m_clock());
    // An answer or a status change may now be due before the timer would fire.
    serviceDue();
}

std::string BoardServer::applySetting(std::string_view line)
{
    std::string why = m_model.applySetting(line, m_clock());
    // A status frame may now be due before the timer would fire. Not written
    // from here: settings that come together (lines of one write to the pipe,
    // --set) all apply before the frames due now are made.
    if (why.empty()) m_timer.start(0);
    return why;
}

void BoardServer::arm()
{
    const SimTime wait = m_model.nextDue() - m_clock();
    // Round up: waking early would find nothing due and wake again at once.
    const auto ms = wait.count() <= 0 ? 0 : static_cast<int>((wait.count() + 999) / 1000);
    m_timer.start(ms);
}

}  // namespace quorvid::sim
