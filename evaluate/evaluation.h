// The evaluation itself: runs a plan's checks against the board, fed the
// completed frames and the time they arrived, sending commands through the
// serial control and asking a ReferenceSetter for each reference. It owns no
// timer and reads no clock but the one it is given, so a test runs it on
// simulated time; a front end calls poll() now and then and on every frame.
//
// Times are those of the evaluation's recording (t_s, in milliseconds): a
// measurement over [from, to) takes exactly the CSV rows whose t_s lies there.
#pragma once

#include "boardstate.h"
#include "frames.h"
#include "plan.h"
#include "reference.h"

#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quorvid {
class SerialControl;
}

namespace quorvid::evaluate {

struct KindDescription;
struct WindowFrames;
class BeatCollector;

enum class Verdict { Pass, Fail, Skipped };
QString verdictName(Verdict v);  // "pass", "fail", "skipped"

// A statement of conformity under the plan's decision rule (uncertainty.h).
enum class Statement { Pass, ConditionalPass, ConditionalFail, Fail };
QString statementName(Statement s);  // "pass", "conditional pass", "conditional fail", "fail"
std::optional<Statement> statementNamed(const QString& name);

// A standard uncertainty of a result in its own unit, with its degrees of
// freedom (none for infinite: a type B term taken as known exactly).
struct UncertaintyComponent {
    QString name;          // "repeatability", "reference", "resolution", ...
    double value = 0;      // the standard uncertainty
    QString distribution;  // "normal" or "rectangular"
    std::optional<double> dof;
};

// A result's budget (uncertainty.h): its components, the combined standard
// uncertainty, the effective degrees of freedom (none: infinite), the
// coverage factor and the expanded uncertainty U = k u_c.
struct Uncertainty {
    std::vector<UncertaintyComponent> components;
    double uc = 0;
    std::optional<double> nuEff;
    double k = 2, U = 0;
};

struct Result {
    int channel = 0;     // 1 or 2; 0 for none
    QString quantity;    // "pressure", "frame rate", "systolic", "status after M", ...
    QString unit;        // "mmHg", "/s", "/min", "mmHg/h", or "" for a state
    std::optional<double> reference, mean, sd, error, limit;
    int n = 0;
    Verdict verdict = Verdict::Pass;
    qint64 fromMs = 0, toMs = 0;  // [from, to) in the recording's t_s
    QString message;     // what went wrong, or what was seen
    bool marginal = false;  // passed, with |error| above the plan's band of its limit
    // A frequency response's row: the sine's frequency, the amplitude read
    // and 20 log10 of read over set; its error is the gain against the lowest
    // frequency's.
    std::optional<double> frequencyHz, amplitudeMmHg, gainDb;
    // A mains rejection's row (frequencyHz is the interference's): the
    // amplitude applied and left, and -20 log10 of left over applied; no
    // rejection when nothing of the frequency is left.
    std::optional<double> appliedMmHg, residualMmHg, rejectionDb;
    // The standard uncertainty of the figure from its own readings (s/sqrt n
    // of a mean, a fit's standard error) with its degrees of freedom; none
    // where the figure is not a mean or a fit.
    std::optional<double> repeatability;
    double repeatabilityDof = 0;
    std::optional<Uncertainty> uncertainty;  // none: not stated
    std::optional<Statement> statement;      // none for a skipped result
};

// A frequency check's first gain on a channel, every other gain's reference,
// with its fit's standard error in dB and that error's degrees of freedom.
struct LowestGain {
    double db = 0;
    std::optional<double> repeatability;
    double dof = 0;
};

// "ch1 300 mmHg: read 318.1, error +18.1 > limit 12.0"
QString describe(const Result& r);

// The board's beat values against its own waveform, for the dynamic plot.
struct BeatPoint {
    int channel = 1;
    qint64 tMs = 0;
    double sys = 0, dia = 0;          // the board's values frame
    double waveMax = 0, waveMin = 0;  // its waveform's maximum over the beat, minimum over its first half
};

struct CheckOutcome {
    QString name;
    CheckKind kind = CheckKind::Identify;
    Verdict verdict = Verdict::Pass;
    std::vector<Result> results;
    std::vector<BeatPoint> beats;  // dynamic
};

class Evaluation : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<qint64()>;  // the recording's time now, ms

    Evaluation(SerialControl& comm, ReferenceSetter& reference, Plan plan, Clock clock,
               QObject* parent = nullptr);
    ~Evaluation() override;

    // What the board was told before the run; restored at its end.
    void setStateBefore(const BoardState& before);

    void start();
    // A completed frame that arrived at tMs.
    void frame(const DecodedFrame& frame, qint64 tMs);
    // Time has passed: ends settling, measurements and waits that are due.
    void poll();
    // Ends the run at once; the checks not done are left out of the verdict.
    // A run not started yet ends without sending anything, its reason kept.
    void abort(const QString& why);

    // Boards run side by side (a station) measure together: when gated, the
    // run stops before each measurement and says gateReached(); passGate()
    // lets it on, its settling and measuring counted from atMs. Ungated (one
    // board) it goes straight on, as it always did.
    void setGated(bool gated) { m_gated = gated; }
    bool atGate() const { return m_atGate; }
    void passGate(qint64 atMs);
    // With a reason, an identify check that fails ends the run with it: a
    // board that does not answer is not waited for through the other checks.
    void setEndWithoutIdentification(const QString& why) { m_endWithoutIdentification = why; }

    bool running() const { return m_running; }
    bool done() const { return m_done; }
    const Plan& plan() const { return m_plan; }
    const std::vector<CheckOutcome>& outcomes() const { return m_outcomes; }
    QString identification() const { return m_identification; }
    QString abortReason() const { return m_abortReason; }
    // What the board has been told, the run's commands included.
    const BoardState& boardState() const { return m_told; }
    // Pass only when every check ran and passed.
    Verdict verdict() const;
    int failures() const;

signals:
    void checkStarted(int index, const QString& name);
    void checkFinished(int index, quorvid::evaluate::Verdict verdict);
    void resultAdded(int index, const quorvid::evaluate::Result& result);
    // What is being done now, in a sentence.
    void activity(const QString& text);
    // Seconds left of settling and measuring, and the share done (0..100).
    void progress(int secondsLeft, int percent);
    // A command went to the board (the window follows it in its controls).
    void commandSent(const QString& command);
    // Gated, the run waits before a measurement for passGate().
    void gateReached();
    void finished();

private:
    // The kinds' descriptions name the member that queues each kind's steps.
    friend std::span<const KindDescription> checkKinds();

    struct Step;
    // The steps of a check, queued when it begins.
    void plan(const Check& c);
    void planIdentify(const Check& c);
    void planSpeed(const Check& c);
    void planMode(const Check& c);
    void planZero(const Check& c);
    void planStatic(const Check& c);
    void planDynamic(const Check& c);
    void planDrift(const Check& c);
    void planFrequency(const Check& c);
    void planMains(const Check& c);
    void sendStep(const QString& command);
    void referenceStep(const QString& ch1, const QString& ch2, const QString& instruction);
    void windowStep(double settleS, double measureS, const QString& activity, std::function<void()> done);
    void gateStep();
    // Waits until both channels have shown a status; a row per channel.
    void statusWait(const QString& after, status::Code wanted, double timeoutS);
    // The results of a measurement that has ended, from measure.h.
    void pressureRows(const QString& quantity, double reference, double limit);
    void dynamicRows(const Check& c);
    void driftRows(const Check& c);
    void next();
    void runStep();
    void finishCheck();
    void end();
    void send(const QString& command);
    void referenceFinished(ReferenceOutcome outcome, const QString& message);
    void add(Result r);
    void endWindow();
    qint64 now() const { return m_clock(); }

    SerialControl& m_comm;
    ReferenceSetter& m_reference;
    Plan m_plan;
    Clock m_clock;

    BoardState m_before, m_told;

    std::deque<Step> m_steps;
    int m_check = -1;
    bool m_running = false;
    bool m_done = false;
    bool m_waitingReference = false;
    bool m_skipCheck = false;
    bool m_gated = false;
    bool m_atGate = false;
    std::optional<qint64> m_gatePassedAt;  // the next step starts then
    QString m_endWithoutIdentification;
    std::vector<CheckOutcome> m_outcomes;
    QString m_identification;
    QString m_abortReason;

    // The step in progress.
    qint64 m_stepStart = 0;
    qint64 m_windowFrom = 0, m_windowTo = 0;
    int m_lastSecondsLeft = -1;
    qint64 m_lastFrameMs = -1;  // the time of the last frame seen
    std::unique_ptr<WindowFrames> m_window;    // the waveform frames in the window
    std::unique_ptr<BeatCollector> m_beats;    // the beats of a dynamic check
    std::optional<LowestGain> m_lowestGainDb[2];   // a frequency check's first gain on each channel
};

}  // namespace quorvid::evaluate

Q_DECLARE_METATYPE(quorvid::evaluate::Result)
