// Serves the board model on a line in real time: every frame is written when it
// falls due, one write per frame, and what the host sends goes to the model
// with the time it arrived.
#pragma once

#include "boardlink.h"
#include "boardmodel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace quorvid::sim {

// Bytes heard from the host as a log shows them: printable ASCII as it is,
// anything else as \xNN.
QByteArray printableBytes(const QByteArray& bytes);

class BoardServer : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<SimTime()>;

    // The clock defaults to the time since construction; a test passes its own.
    BoardServer(BoardModel& model, BoardLink& link, Clock clock = {}, QObject* parent = nullptr);

    // Writes what is due now and arms the timer for the next frame.
    void start();

    // Writes every frame due by the clock's time, then arms the timer.
    void serviceDue();

    // A setting in the control line's words, in effect at the clock's time:
    // empty when taken, else what is wrong with it (nothing changes then).
    std::string applySetting(std::string_view line);

    // Logs each command heard to standard error.
    void setVerbose(bool on) { m_verbose = on; }
    // Names the board in those lines ("board 2"), one of several on a bench.
    void setName(std::string name) { m_name = std::move(name); }

    // Called just before the write that follows a values frame: the header
    // byte it starts with is what completes the values frame on the line.
    void setValuesCompleteHook(std::function<void()> hook) { m_valuesComplete = std::move(hook); }

    // Frames overdue by more than this are not written: after the process was
    // stopped or starved, the board goes on from now instead of pouring the
    // missed seconds onto the line at once.
    static constexpr SimTime kStale{500'000};

    quint64 framesWritten() const { return m_framesWritten; }
    // Of one kind; a frame that lost bytes on the line counts as written.
    quint64 framesWritten(FrameKind kind) const { return m_writtenByKind[static_cast<std::size_t>(kind)]; }
    quint64 framesRefused() const { return m_framesRefused; }
    quint64 framesSkipped() const { return m_framesSkipped; }

private:
    void hear(const QByteArray& bytes);
    void arm();

    BoardModel& m_model;
    BoardLink& m_link;
    Clock m_clock;
    QElapsedTimer m_elapsed;
    QTimer m_timer;
    bool m_verbose = false;
    std::string m_name;
    std::function<void()> m_valuesComplete;
    bool m_valuesOpen = false;  // the last frame written was a values frame
    quint64 m_framesWritten = 0;
    std::array<quint64, 5> m_writtenByKind{};  // by FrameKind
    quint64 m_framesRefused = 0;
    quint64 m_framesSkipped = 0;
};

}  // namespace quorvid::sim
