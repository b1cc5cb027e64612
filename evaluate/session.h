// One evaluation as a front end runs it: the evaluation itself, its recording
// (NAME.csv and NAME.bytes, through record/'s Recorder) and, when it ends, its
// report (NAME.json, NAME.html, NAME.xml). The session stands between the
// front end's framer and the front end's own observer, so the readouts and the
// chart go on as before while every block is recorded and every frame judged
// on the recording's own clock.
#pragma once

#include "evaluation.h"
#include "framer.h"
#include "recorder.h"
#include "report.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace quorvid::evaluate {

struct SessionSetup {
    QString name;          // NAME of NAME.csv, NAME.bytes, NAME.json, NAME.html, NAME.xml
    QString operatorName;
    QString port, device;  // "COM1", "/dev/pts/4"
    QString version;       // Quorvid's, "1.0.1"
    QString program;       // for the recording's start comment, "quorvid-monitor 1.0.1"
    BoardState board;      // what the board was told before the run, restored at its end
    record::Recorder::Clock clock = record::Recorder::systemClock();
    QString referenceEquipment;  // for the report's header
    QString bench;               // which bench runs it
    QString ambient;             // the ambient conditions, for the certificate
    QString boardId;       // the board's serial number or asset tag; empty: the port stands in
    // The moment t_s counts from and started_utc names, when several runs
    // share one (a station's boards): their times are then the same numbers.
    // Without it, the moment the session is made, read from the clock.
    struct Origin {
        std::int64_t utcMilliseconds = 0;
        std::int64_t monotonicMicroseconds = 0;
    };
    std::optional<Origin> origin;
};

class Session : public QObject, public FrameObserver {
    Q_OBJECT

public:
    // How often poll() runs by itself while the evaluation goes on.
    static constexpr int kPollIntervalMs = 100;

    // Starts the recording; null with *error when a file cannot be created.
    // Nothing is sent before start().
    static std::unique_ptr<Session> create(SerialControl& comm, ReferenceSetter& reference, Plan plan,
                                           SessionSetup setup, QString* error);
    ~Session() override;

    // Blocks and frames go on to this observer too (the front end's own); not owned.
    void setNext(FrameObserver* next) { m_next = next; }

    void start();
    // Time has passed; also done on a timer while the evaluation runs.
    void poll();
    // Ends a run at once, as when the program closes: the board's speed and
    // mode are put back and the report written before this returns, while the
    // port is still open and before the event loop has gone.
    void endNow(const QString& reason);

    // The board's last values and status frames, for a front end's readouts.
    struct Readouts {
        std::optional<Values> values;
        std::optional<StatusCodes> status;
    };
    const Readouts& readouts() const { return m_readouts; }

    Evaluation& evaluation() { return *m_evaluation; }
    const Evaluation& evaluation() const { return *m_evaluation; }
    const SessionSetup& setup() const { return m_setup; }
    // Filled in once the evaluation has ended.
    const ReportInfo& report() const { return m_report; }
    QString reportError() const { return m_reportError; }
    qint64 reportMilliseconds() const { return m_reportMs; }
    bool reportDone() const { return m_reportDone; }

    // FrameObserver
    void blockReceived(Bytes block) override;
    void frameCompleted(Bytes storedFrame) override;
    void bytesOutsideFrames(std::size_t count) override;

signals:
    // The recording is closed and the report written, or *error says why not.
    void reportFinished(const QString& error);
    // The recording refused a write: the evaluation is aborted.
    void recordingFailed(const QString& message);

private:
    Session(SessionSetup setup);
    void writeReport();

    SessionSetup m_setup;
    std::optional<std::int64_t> m_blockMicros;  // the block being taken, for the recording too
    std::optional<std::int64_t> m_startingUtc;  // while the recording starts, its started_utc
    std::int64_t m_startMicros = 0;
    std::int64_t m_frameMs = 0;
    std::unique_ptr<record::Recorder> m_recorder;
    std::unique_ptr<Evaluation> m_evaluation;
    FrameObserver* m_next = nullptr;
    QTimer m_poll;
    ReportInfo m_report;
    QString m_reportError;
    qint64 m_reportMs = 0;
    bool m_reportDone = false;
    Readouts m_readouts;
};

}  // namespace quorvid::evaluate
