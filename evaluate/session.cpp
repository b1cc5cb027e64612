#include "session.h"

#include "csvrows.h"
#include "uncertainty.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace quorvid::evaluate {

Session::Session(SessionSetup setup)
    : m_setup(std::move(setup))
{
}

Session::~Session()
{
    if (m_evaluation && m_evaluation->running()) m_evaluation->abort(QStringLiteral("the evaluation was closed"));
}

std::unique_ptr<Session> Session::create(SerialControl& comm, ReferenceSetter& reference, Plan plan,
                                         SessionSetup setup, QString* error)
{
    // A guarded plan that nothing could pass is refused before a file is made or a byte sent.
    if (const PlanPrediction prediction = predictPlan(plan); !prediction.refusal.isEmpty()) {
        if (error) *error = prediction.refusal;
        return nullptr;
    }
    if (plan.reference && plan.reference->id.isEmpty()) plan.reference->id = setup.referenceEquipment;
    std::unique_ptr<Session> s(new Session(std::move(setup)));
    Session* self = s.get();
    const record::Recorder::Clock base = s->m_setup.clock;
    // The recording reads the time a block arrived from here, so its rows'
    // t_s and the evaluation's times are the same numbers.
    record::Recorder::Clock clock{[self, base] { return self->m_startingUtc ? *self->m_startingUtc : base.utcMilliseconds(); },
                                  [self, base] {
                                      return self->m_blockMicros ? *self->m_blockMicros : base.monotonicMicroseconds();
                                  }};
    const std::optional<SessionSetup::Origin>& origin = s->m_setup.origin;
    s->m_startMicros = origin ? origin->monotonicMicroseconds : base.monotonicMicroseconds();
    s->m_startingUtc = origin ? origin->utcMilliseconds : base.utcMilliseconds();
    s->m_blockMicros = s->m_startMicros;
    const QString& name = s->m_setup.name;
    s->m_recorder = record::Recorder::startOn(name + QLatin1String(".csv"), name + QLatin1String(".bytes"),
                                              {s->m_setup.port, s->m_setup.device, s->m_setup.program}, error, clock);
    s->m_blockMicros.reset();
    const std::int64_t startedUtc = *s->m_startingUtc;
    s->m_startingUtc.reset();
    if (!s->m_recorder) return nullptr;
    connect(s->m_recorder.get(), &record::Recorder::failed, self, [self](const QString& message) {
        emit self->recordingFailed(message);
        self->m_evaluation->abort(message);
    });

    s->m_report.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    s->m_report.startedUtc = QString::fromStdString(record::isoUtc(startedUtc));
    s->m_report.boardId = s->m_setup.boardId.isEmpty() ? s->m_setup.port : s->m_setup.boardId;
    s->m_report.version = s->m_setup.version;
    s->m_report.operatorName = s->m_setup.operatorName;
    s->m_report.referenceEquipment = s->m_setup.referenceEquipment;
    s->m_report.bench = s->m_setup.bench;
    s->m_report.ambient = s->m_setup.ambient;
    s->m_report.port = s->m_setup.port;
    s->m_report.device = s->m_setup.device;
    s->m_report.plan = plan;
    s->m_report.csvPath = QFileInfo(s->m_recorder->csvPath()).fileName();
    s->m_report.bytesPath = QFileInfo(s->m_recorder->bytesPath()).fileName();

    s->m_evaluation = std::make_unique<Evaluation>(comm, reference, std::move(plan), [self, base] {
        return (base.monotonicMicroseconds() - self->m_startMicros) / 1000;
    });
    s->m_evaluation->setStateBefore(s->m_setup.board);
    // The report waits for the event loop: the end may come from inside the
    // framer, which is still using the recording.
    connect(s->m_evaluation.get(), &Evaluation::finished, self, &Session::writeReport, Qt::QueuedConnection);
    s->m_poll.setInterval(kPollIntervalMs);
    connect(&s->m_poll, &QTimer::timeout, self, &Session::poll);
    return s;
}

void Session::start()
{
    m_poll.start();
    m_evaluation->start();
}

void Session::poll()
{
    m_blockMicros.reset();
    m_evaluation->poll();
}

void Session::endNow(const QString& reason)
{
    if (m_evaluation->running()) m_evaluation->abort(reason);
    writeReport();
}

void Session::blockReceived(Bytes block)
{
    m_blockMicros = m_setup.clock.monotonicMicroseconds();
    m_frameMs = (*m_blockMicros - m_startMicros) / 1000;
    if (m_recorder) m_recorder->blockReceived(block);
    if (m_next) m_next->blockReceived(block);
}

void Session::frameCompleted(Bytes storedFrame)
{
    if (m_recorder) m_recorder->frameCompleted(storedFrame);
    if (m_next) m_next->frameCompleted(storedFrame);
    const DecodedFrame frame = decodeFrame(storedFrame);
    if (frame.shown && frame.kind == FrameKind::Values) m_readouts.values = frame.values;
    if (frame.shown && frame.kind == FrameKind::Status) m_readouts.status = frame.codes;
    m_evaluation->frame(frame, m_frameMs);
}

void Session::bytesOutsideFrames(std::size_t count)
{
    if (m_recorder) m_recorder->bytesOutsideFrames(count);
    if (m_next) m_next->bytesOutsideFrames(count);
}

void Session::writeReport()
{
    if (m_reportDone) return;
    m_poll.stop();
    QElapsedTimer timer;
    timer.start();
    // Closing the recording writes what it still holds.
    if (m_recorder) {
        const bool failed = m_recorder->hasFailed();
        const QString bytesPath = m_recorder->bytesPath();
        m_recorder.reset();
        QFile bytes(bytesPath);
        if (!failed && bytes.open(QIODevice::ReadOnly)) {
            QCryptographicHash hash(QCryptographicHash::Sha256);
            hash.addData(&bytes);
            m_report.bytesSha256 = QString::fromLatin1(hash.result().toHex());
        }
    }
    const Evaluation& e = *m_evaluation;
    m_report.identification = e.identification();
    m_report.verdict = e.verdict();
    m_report.aborted = e.abortReason();
    m_report.checks = e.outcomes();
    if (m_setup.clock.utcMilliseconds) m_report.endedUtc = QString::fromStdString(record::isoUtc(m_setup.clock.utcMilliseconds()));
    QString error;
    if (!evaluate::writeReport(m_report, m_setup.name, &error)) m_reportError = error;
    m_reportMs = timer.elapsed();
    m_reportDone = true;
    emit reportFinished(m_reportError);
}

}  // namespace quorvid::evaluate
