// The terminal monitor's work while it runs: the framer's one observer, which
// prints each frame's line and keeps the link figures, and hands every block
// and frame on to a recording when there is one; and the commands queued for
// the line.
#pragma once

#include "csvrows.h"
#include "framer.h"
#include "lines.h"
#include "options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace quorvid {
class SerialControl;
struct CommResult;
namespace record {
class Recorder;
}
}  // namespace quorvid

namespace quorvid::monitor {

class Monitor : public QObject, public FrameObserver {
    Q_OBJECT

public:
    // Each call of a sink is one whole line, without its line end.
    using LineSink = std::function<void(std::string_view)>;

    static constexpr int kLinkSeconds = 10;

    Monitor(SerialControl& comm, Format format, bool waveform, LineSink out, LineSink err,
            QObject* parent = nullptr);
    ~Monitor() override;

    // Blocks and frames go to the recording too; null for none. Not owned.
    void setRecorder(record::Recorder* recorder);

    // Starts reading the open port: the CSV header, then a line per frame.
    void start();
    // Stops reading; in text format prints the last link figures.
    void finish();

    // Writes a command now, as the window does; a refusal is reported on the
    // error sink.
    void sendNow(std::string_view command);
    // Writes a command after those queued before it, kCommandGapMs apart.
    void enqueue(std::string_view command);
    // A line typed by the user: queued when it is a command, refused on the
    // error sink otherwise; a blank line is nothing.
    void typed(const QString& line);

    const LinkCounts& counts() const { return m_counts; }

    // FrameObserver
    void blockReceived(Bytes block) override;
    void frameCompleted(Bytes storedFrame) override;
    void bytesOutsideFrames(std::size_t count) override;

signals:
    // The port went away; the control has closed it.
    void portLost(const quorvid::CommResult& reason);

private:
    void onComm();
    void sendNext();
    void printLink(const LinkCounts& before, double seconds);

    SerialControl& m_comm;
    Format m_format;
    bool m_waveform;
    LineSink m_out;
    LineSink m_err;
    record::Recorder* m_recorder = nullptr;

    Framer m_framer;
    TextLines m_lines;
    LinkCounts m_counts;
    LinkCounts m_lastLink;
    QElapsedTimer m_started;     // for t_s and the link rates
    qint64 m_lastLinkMs = 0;
    QTimer m_linkTimer;
    record::RowTime m_blockTime;  // when the block being cut arrived

    std::deque<std::string_view> m_queue;
    QTimer m_gap;
    bool m_running = false;
};

}  // namespace quorvid::monitor
