#include "monitor.h"

#include "commands.h"
#include "receiver.h"
#include "recorder.h"
#include "serialcontrol.h"

#include <QDateTime>

namespace quorvid::monitor {

Monitor::Monitor(SerialControl& comm, Format format, bool waveform, LineSink out, LineSink err,
                 QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_format(format)
    , m_waveform(waveform)
    , m_out(std::move(out))
    , m_err(std::move(err))
{
    m_framer.setFrameObserver(this);
    m_linkTimer.setInterval(kLinkSeconds * 1000);
    connect(&m_linkTimer, &QTimer::timeout, this, [this] {
        const qint64 now = m_started.elapsed();
        printLink(m_lastLink, static_cast<double>(now - m_lastLinkMs) / 1000.0);
        m_lastLink = m_counts;
        m_lastLinkMs = now;
    });
    m_gap.setSingleShot(true);
    m_gap.setInterval(kCommandGapMs);
    connect(&m_gap, &QTimer::timeout, this, &Monitor::sendNext);
}

Monitor::~Monitor() = default;

void Monitor::setRecorder(record::Recorder* recorder) { m_recorder = recorder; }

void Monitor::start()
{
    m_started.start();
    m_running = true;
    if (m_format == Format::Csv) m_out(record::kCsvHeader);
    else m_linkTimer.start();
    connect(&m_comm, &SerialControl::onComm, this, &Monitor::onComm);
    connect(&m_comm, &SerialControl::portLost, this, &Monitor::portLost);
}

void Monitor::finish()
{
    if (!m_running) return;
    m_running = false;
    disconnect(&m_comm, nullptr, this, nullptr);
    m_linkTimer.stop();
    m_gap.stop();
    if (m_format == Format::Text) printLink({}, static_cast<double>(m_started.elapsed()) / 1000.0);
}

void Monitor::printLink(const LinkCounts& before, double seconds)
{
    m_out(stamped(QTime::currentTime(), linkText(m_counts, before, seconds)));
}

void Monitor::onComm()
{
    // The framer's slots are the window's readout refresh; here every frame
    // is taken as the observer sees it, so the slots are not read.
    (void)MSComm1_OnComm(m_comm, m_framer);
}

void Monitor::blockReceived(Bytes block)
{
    m_counts.bytes += block.size();
    // Only the system clock here: the local time of day costs the C library a
    // look at the time zone file each time, so text lines convert when one is
    // printed, not for every block.
    m_blockTime.utcMilliseconds = QDateTime::currentMSecsSinceEpoch();
    m_blockTime.elapsedMicroseconds = m_started.nsecsElapsed() / 1000;
    if (m_recorder) m_recorder->blockReceived(block);
}

void Monitor::frameCompleted(Bytes storedFrame)
{
    const DecodedFrame frame = decodeFrame(storedFrame);
    m_counts.countFrame(frame);
    if (m_recorder) m_recorder->frameCompleted(storedFrame);

    if (m_format == Format::Text) {
        if (const auto text = m_lines.lineFor(frame))
            m_out(stamped(QDateTime::fromMSecsSinceEpoch(m_blockTime.utcMilliseconds).time(), *text));
        return;
    }
    if (!m_waveform && frame.kind == FrameKind::Waveform) return;
    if (const auto row = record::csvRow(frame, m_blockTime)) m_out(*row);
}

void Monitor::bytesOutsideFrames(std::size_t count)
{
    m_counts.outsideFrames += count;
    if (m_recorder) m_recorder->bytesOutsideFrames(count);
}

void Monitor::sendNow(std::string_view command)
{
    const CommResult result = SendCommand(m_comm, command);
    if (result) return;
    const QString reason = result.reason.isEmpty() ? commErrorName(result.error) : result.reason;
    m_err(QStringLiteral("not sent: %1 (%2)")
              .arg(QString::fromLatin1(command.data(), qsizetype(command.size())), reason)
              .toStdString());
}

void Monitor::enqueue(std::string_view command)
{
    m_queue.push_back(command);
    if (!m_gap.isActive()) m_gap.start();
}

void Monitor::sendNext()
{
    if (m_queue.empty()) return;
    const std::string_view command = m_queue.front();
    m_queue.pop_front();
    sendNow(command);
    // The gap follows every command, so one typed just after a queued one
    // still keeps its distance.
    m_gap.start();
}

void Monitor::typed(const QString& line)
{
    if (line.trimmed().isEmpty()) return;
    if (const auto command = commandNamed(line)) {
        enqueue(*command);
        return;
    }
    m_err(QStringLiteral("not a command of the board: \"%1\" (one of %2); not sent")
              .arg(line.trimmed(), commandList())
              .toStdString());
}

}  // namespace quorvid::monitor
