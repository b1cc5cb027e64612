#include "evaluation.h"

#include "checkkinds.h"
#include "commands.h"
#include "csvrows.h"
#include "measure.h"
#include "serialcontrol.h"
#include "uncertainty.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace quorvid::evaluate {

namespace {

// A measurement ends with the first frame past its end, or this long after
// it when no frame comes.
constexpr qint64 kWindowGraceMs = 500;

QString seconds(double s) { return record::secondsText(std::llround(s * 1e6), 1, record::SecondsRounding::Nearest); }
QString num(double v) { return QString::number(v, 'f', 1); }
QString signedNum(double v) { return (v >= 0 ? QStringLiteral("+") : QString()) + num(v); }
QString refText(double v) { return v == std::round(v) ? QString::number(v, 'f', 0) : QString::number(v, 'f', 1); }

// " ± 1.30" after an error whose uncertainty is stated.
QString uncertaintyText(const Result& r)
{
    return r.uncertainty ? QStringLiteral(" ± %1").arg(QString::number(r.uncertainty->U, 'f', 2)) : QString();
}

QString text(std::string_view command) { return QString::fromLatin1(command.data(), qsizetype(command.size())); }

QString staticWords(double p) { return QStringLiteral("static %1").arg(refText(p)); }

QString statusQuoted(Byte code) { return QLatin1Char('"') + QString::fromUtf8(statusTextFor(code).data(), qsizetype(statusTextFor(code).size())) + QLatin1Char('"'); }

}  // namespace

QString verdictName(Verdict v)
{
    switch (v) {
    case Verdict::Pass: return QStringLiteral("pass");
    case Verdict::Fail: return QStringLiteral("fail");
    case Verdict::Skipped: return QStringLiteral("skipped");
    }
    return {};
}

QString describe(const Result& r)
{
    QString s;
    if (r.channel) s = QStringLiteral("ch%1 ").arg(r.channel);
    if (r.quantity != u"pressure") s += r.quantity + u' ';
    if (r.reference) s += refText(*r.reference) + u' ' + r.unit + u' ';
    s = s.trimmed();
    if (r.appliedMmHg && r.residualMmHg && r.limit) {
        s += QStringLiteral(": applied %1 mmHg, left %2 mmHg").arg(num(*r.appliedMmHg), num(*r.residualMmHg));
        if (r.rejectionDb)
            s += QStringLiteral(", rejection %1 dB %2 limit %3 dB")
                     .arg(num(*r.rejectionDb), *r.rejectionDb >= *r.limit ? QStringLiteral(">=") : QStringLiteral("<"), num(*r.limit));
        else
            s += QStringLiteral(" (") + r.message + u')';
    } else if (r.frequencyHz && r.amplitudeMmHg && r.gainDb && r.error && r.limit) {
        const QString against = std::abs(*r.error) <= *r.limit ? QStringLiteral("<=") : QStringLiteral(">");
        s += QStringLiteral(": amplitude %1 mmHg, gain %2 dB, error %3 dB %4 limit %5 dB")
                 .arg(num(*r.amplitudeMmHg), signedNum(*r.gainDb), signedNum(*r.error) + uncertaintyText(r), against, num(*r.limit));
    } else if (r.mean && r.error && r.limit) {
        const QString against = std::abs(*r.error) <= *r.limit ? QStringLiteral("<=") : QStringLiteral(">");
        // A row without a reference compares the board with itself, beat by
        // beat: its mean is the mean difference, its error the worst beat's.
        s += (r.reference ? QStringLiteral(": read %1, error %2 %3 limit %4")
                          : QStringLiteral(": mean difference %1, worst beat %2 %3 limit %4"))
                 .arg(num(*r.mean), signedNum(*r.error) + uncertaintyText(r), against, num(*r.limit));
        if (!r.message.isEmpty()) s += QStringLiteral(" (") + r.message + u')';
    } else if (!r.message.isEmpty()) {
        s += QStringLiteral(": ") + r.message;
    }
    return s;
}

struct Evaluation::Step {
    enum Type { Send, Reference, Wait, Window, Beats, Call, Gate } type = Call;
    QString command;
    ReferenceRequest request;
    double timeoutS = 0;
    std::function<bool(const DecodedFrame&, qint64)> accept;  // Wait: true when met
    std::function<void(double waitedS)> timedOut;              // Wait
    double settleS = 0, measureS = 0;
    int beats = 0;
    std::function<void()> done;  // Window, Beats, Call
    QString activity;
};

Evaluation::Evaluation(SerialControl& comm, ReferenceSetter& reference, Plan plan, Clock clock, QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_reference(reference)
    , m_plan(std::move(plan))
    , m_clock(std::move(clock))
    , m_window(std::make_unique<WindowFrames>())
    , m_beats(std::make_unique<BeatCollector>())
{
    connect(&m_reference, &ReferenceSetter::finished, this, &Evaluation::referenceFinished);
}

Evaluation::~Evaluation() = default;

void Evaluation::setStateBefore(const BoardState& before)
{
    m_before = m_told = before;
}

void Evaluation::start()
{
    if (m_running || m_done) return;
    m_running = true;
    next();
}

Verdict Evaluation::verdict() const
{
    return runVerdict(m_outcomes, m_plan.checks.size(), m_abortReason);
}

int Evaluation::failures() const
{
    int n = 0;
    for (const CheckOutcome& o : m_outcomes)
        for (const Result& r : o.results) n += r.verdict == Verdict::Fail;
    return n;
}

void Evaluation::send(const QString& command)
{
    const QByteArray bytes = command.toLatin1();
    if (const CommResult r = SendCommand(m_comm, std::string_view(bytes.constData(), std::size_t(bytes.size()))); !r) {
        abort(QStringLiteral("the board did not take \"%1\": %2").arg(command, r.reason));
        return;
    }
    m_told = m_told.after(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    emit commandSent(command);
}

void Evaluation::add(Result r)
{
    judgeResult(r, m_plan, m_plan.checks[std::size_t(m_check)]);
    CheckOutcome& o = m_outcomes.back();
    o.results.push_back(r);
    emit resultAdded(m_check, r);
}

void Evaluation::next()
{
    if (!m_running) return;
    if (m_check >= 0) finishCheck();
    ++m_check;
    if (m_check >= static_cast<int>(m_plan.checks.size())) {
        end();
        return;
    }
    const Check& c = m_plan.checks[static_cast<std::size_t>(m_check)];
    m_outcomes.push_back({c.name, c.kind, Verdict::Pass, {}, {}});
    emit checkStarted(m_check, c.name);
    plan(c);
    runStep();
}

void Evaluation::finishCheck()
{
    CheckOutcome& o = m_outcomes.back();
    o.verdict = checkVerdict(o.results);
    emit checkFinished(m_check, o.verdict);
}

void Evaluation::end()
{
    m_running = false;
    m_done = true;
    m_steps.clear();
    // The board as it was before: the speed, then the mode.
    if (m_comm.portOpen())
        for (const std::string_view command : m_told.commandsTo(m_before)) send(text(command));
    emit progress(0, 100);
    emit finished();
}

void Evaluation::abort(const QString& why)
{
    if (!m_running && !m_done && m_check < 0) {
        // Never started (its port did not open): nothing to send or put back.
        m_abortReason = why;
        m_check = static_cast<int>(m_plan.checks.size());
        m_done = true;
        emit finished();
        return;
    }
    if (!m_running) return;
    m_atGate = false;
    m_abortReason = why;
    m_reference.cancel();
    m_waitingReference = false;
    if (m_check >= 0 && m_check < static_cast<int>(m_outcomes.size())) {
        Result r;
        r.quantity = QStringLiteral("aborted");
        r.verdict = Verdict::Fail;
        r.fromMs = r.toMs = now();
        r.message = why;
        add(r);
        finishCheck();
    }
    m_running = false;  // end() sends the restoring commands without coming back here
    m_check = static_cast<int>(m_plan.checks.size());
    end();
}

void Evaluation::runStep()
{
    while (m_running && !m_steps.empty()) {
        Step& s = m_steps.front();
        m_stepStart = m_gatePassedAt.value_or(now());
        m_gatePassedAt.reset();
        m_lastSecondsLeft = -1;
        if (!s.activity.isEmpty() && (s.type != Step::Gate || m_gated)) emit activity(s.activity);
        switch (s.type) {
        case Step::Send: {
            const QString command = s.command;
            m_steps.pop_front();
            send(command);
            continue;
        }
        case Step::Call: {
            const auto done = std::move(s.done);
            m_steps.pop_front();
            done();
            continue;
        }
        case Step::Reference:
        {
            // A setter may answer at once, which takes this step off the list.
            const ReferenceRequest request = s.request;
            m_waitingReference = true;
            m_reference.request(request);
            return;
        }
        case Step::Gate:
            if (!m_gated) {
                m_steps.pop_front();
                continue;
            }
            // passGate() may come from inside this signal: nothing after it.
            m_atGate = true;
            emit gateReached();
            return;
        case Step::Wait:
            return;
        case Step::Window:
        case Step::Beats:
            // A window takes every frame whose time lies in it: it begins
            // after any frame already seen, which it can no longer take.
            m_windowFrom = std::max(m_stepStart + std::llround(s.settleS * 1000), m_lastFrameMs + 1);
            m_windowTo = m_windowFrom + std::llround(s.measureS * 1000);
            m_window->clear();
            m_beats->clear();
            return;
        }
    }
    if (m_running) next();
}

void Evaluation::passGate(qint64 atMs)
{
    if (!m_running || !m_atGate || m_steps.empty() || m_steps.front().type != Step::Gate) return;
    m_atGate = false;
    m_steps.pop_front();
    m_gatePassedAt = atMs;
    runStep();
}

void Evaluation::referenceFinished(ReferenceOutcome outcome, const QString& message)
{
    if (!m_running || !m_waitingReference || m_steps.empty()) return;
    m_waitingReference = false;
    const ReferenceRequest request = m_steps.front().request;
    m_steps.pop_front();
    switch (outcome) {
    case ReferenceOutcome::Set:
        break;
    case ReferenceOutcome::Aborted:
        abort(message);
        return;
    case ReferenceOutcome::Skipped: {
        // What measures at this reference goes with it, up to the next one.
        while (!m_steps.empty() && m_steps.front().type != Step::Reference) m_steps.pop_front();
        Result r;
        r.quantity = request.ch1 == request.ch2 ? request.ch1 : request.ch1 + QStringLiteral(", ") + request.ch2;
        r.verdict = Verdict::Skipped;
        r.fromMs = r.toMs = now();
        r.message = message;
        add(r);
        break;
    }
    }
    runStep();
}

void Evaluation::frame(const DecodedFrame& f, qint64 t)
{
    m_lastFrameMs = std::max(m_lastFrameMs, t);
    if (!f.shown) return;
    if (f.kind == FrameKind::Identification) m_identification = QString::fromStdU16String(f.text);
    if (!m_running || m_waitingReference || m_steps.empty()) return;
    Step& s = m_steps.front();
    switch (s.type) {
    case Step::Wait:
        if (s.accept(f, t)) {
            m_steps.pop_front();
            runStep();
        }
        return;
    case Step::Window:
        if (t >= m_windowTo) {
            endWindow();
            return;
        }
        if (t >= m_windowFrom) m_window->take(f, t);
        return;
    case Step::Beats:
        // Settling goes by time; from the first beat boundary on, frames go
        // to beats in the order they came: the samples that follow a values
        // frame in the same block belong to the next beat.
        if (!m_beats->started() && t < m_windowFrom) return;
        switch (m_beats->take(f, t)) {
        case BeatCollector::Took::Boundary:
            m_windowFrom = t + 1;
            return;
        case BeatCollector::Took::Beat:
        case BeatCollector::Took::Nothing:
            if (f.kind == FrameKind::Values && static_cast<int>(m_beats->beats().size()) >= s.beats) {
                m_windowTo = t + 1;
                endWindow();
            }
            return;
        }
        return;
    default:
        return;
    }
}

void Evaluation::poll()
{
    if (!m_running || m_waitingReference || m_steps.empty()) return;
    const qint64 t = now();
    Step& s = m_steps.front();
    auto report = [this, t](qint64 total, qint64 end) {
        const int left = static_cast<int>(std::max<qint64>(0, (end - t + 999) / 1000));
        if (left == m_lastSecondsLeft) return;
        m_lastSecondsLeft = left;
        const qint64 spent = std::clamp<qint64>(t - m_stepStart, 0, total);
        emit progress(left, total > 0 ? static_cast<int>(100 * spent / total) : 100);
    };
    switch (s.type) {
    case Step::Wait: {
        const qint64 limit = std::llround(s.timeoutS * 1000);
        report(limit, m_stepStart + limit);
        if (t - m_stepStart >= limit) {
            const auto timedOut = std::move(s.timedOut);
            m_steps.pop_front();
            timedOut((t - m_stepStart) / 1000.0);
            runStep();
        }
        return;
    }
    case Step::Window:
        report(m_windowTo - m_stepStart, m_windowTo);
        if (t >= m_windowTo + kWindowGraceMs) endWindow();
        return;
    case Step::Beats: {
        // Twice the beats' time at the plan's rate, and settling, before
        // giving up on a board that sends no values.
        const qint64 expected = std::llround(s.settleS * 1000) + s.beats * 60'000LL / std::max(1, m_plan.rate);
        report(expected, m_stepStart + expected);
        if (t - m_stepStart >= 2 * expected + 5000) {
            m_windowTo = t;
            endWindow();
        }
        return;
    }
    default:
        return;
    }
}

void Evaluation::endWindow()
{
    const auto done = std::move(m_steps.front().done);
    m_steps.pop_front();
    done();
    runStep();
}

// The steps of each kind of check, queued when the check begins.

void Evaluation::sendStep(const QString& command)
{
    Step s;
    s.type = Step::Send;
    s.command = command;
    m_steps.push_back(s);
}

void Evaluation::referenceStep(const QString& ch1, const QString& ch2, const QString& instruction)
{
    Step s;
    s.type = Step::Reference;
    s.request = {ch1, ch2, m_plan.rate, instruction};
    s.activity = instruction;
    m_steps.push_back(s);
}

void Evaluation::gateStep()
{
    Step s;
    s.type = Step::Gate;
    s.activity = QStringLiteral("Waiting for the other boards");
    m_steps.push_back(s);
}

void Evaluation::windowStep(double settleS, double measureS, const QString& activity, std::function<void()> done)
{
    gateStep();
    Step s;
    s.type = Step::Window;
    s.settleS = settleS;
    s.measureS = measureS;
    s.activity = activity;
    s.done = std::move(done);
    m_steps.push_back(s);
}

void Evaluation::pressureRows(const QString& quantity, double reference, double limit)
{
    for (const Result& r : evaluate::pressureRows(*m_window, quantity, reference, limit, {m_windowFrom, m_windowTo})) add(r);
}

void Evaluation::statusWait(const QString& after, status::Code wanted, double timeoutS)
{
    // Each channel passes once it has shown the wanted status.
    struct Seen {
        bool ok[2] = {false, false};
        Byte last[2] = {255, 255};
    };
    auto seen = std::make_shared<Seen>();
    auto rows = [this, seen, after, wanted](double waited) {
        for (int ch = 0; ch < 2; ++ch) {
            Result r;
            r.channel = ch + 1;
            r.quantity = QStringLiteral("status after %1").arg(after);
            r.fromMs = m_stepStart;
            r.toMs = now();
            r.verdict = seen->ok[ch] ? Verdict::Pass : Verdict::Fail;
            const QString waiting = QStringLiteral("timed out after %1 s waiting for %2").arg(seconds(waited), statusQuoted(wanted));
            r.message = seen->ok[ch] ? statusQuoted(wanted)
                        : seen->last[ch] == 255 ? waiting + QStringLiteral(": no status frame")
                                                : waiting + QStringLiteral(": showed ") + statusQuoted(seen->last[ch]);
            add(r);
        }
    };
    Step s;
    s.type = Step::Wait;
    s.timeoutS = timeoutS;
    s.activity = QStringLiteral("Waiting for %1 on both channels").arg(statusQuoted(wanted));
    s.accept = [seen, wanted, rows](const DecodedFrame& f, qint64) {
        if (f.kind != FrameKind::Status) return false;
        const Byte codes[2] = {f.codes.ch1, f.codes.ch2};
        for (int ch = 0; ch < 2; ++ch) {
            seen->last[ch] = codes[ch];
            seen->ok[ch] |= codes[ch] == wanted;
        }
        if (!(seen->ok[0] && seen->ok[1])) return false;
        rows(0);
        return true;
    };
    s.timedOut = rows;
    m_steps.push_back(s);
}

void Evaluation::plan(const Check& c)
{
    (this->*kindDescription(c.kind).queueSteps)(c);
}

void Evaluation::planIdentify(const Check& c)
{
    sendStep(text(command::kIdentify));
    Step s;
    s.type = Step::Wait;
    s.timeoutS = c.timeoutS;
    s.activity = QStringLiteral("Waiting for the board's identification");
    s.accept = [this](const DecodedFrame& f, qint64 t) {
        if (f.kind != FrameKind::Identification) return false;
        Result r;
        r.quantity = QStringLiteral("identification");
        r.fromMs = m_stepStart;
        r.toMs = t + 1;
        r.message = QString::fromStdU16String(f.text);
        add(r);
        return true;
    };
    s.timedOut = [this](double waited) {
        Result r;
        r.quantity = QStringLiteral("identification");
        r.verdict = Verdict::Fail;
        r.fromMs = m_stepStart;
        r.toMs = now();
        r.message = QStringLiteral("timed out after %1 s waiting for an identification frame").arg(seconds(waited));
        add(r);
        if (!m_endWithoutIdentification.isEmpty()) {
            m_steps.clear();
            Step end;
            end.type = Step::Call;
            end.done = [this] { abort(m_endWithoutIdentification); };
            m_steps.push_back(end);
        }
    };
    m_steps.push_back(s);
}

void Evaluation::planSpeed(const Check& c)
{
    for (int rate : c.rates) {
        sendStep(text(commandOf(speedOfRate(rate).value_or(Speed::Fps100))));
        windowStep(c.settleS, c.measureS, QStringLiteral("Counting waveform frames at speed %1").arg(rate), [this, rate, c] {
            add(frameRateRow(*m_window, rate, c.tolerancePercent, {m_windowFrom, m_windowTo}));
        });
    }
    if (!c.rates.empty() && speedOfRate(c.rates.back()) != m_before.speed) sendStep(text(commandOf(m_before.speed)));
}

void Evaluation::planMode(const Check& c)
{
    sendStep(text(commandOf(Mode::Simulated)));
    statusWait(text(commandOf(Mode::Simulated)), statusIn(Mode::Simulated), c.timeoutS);
    sendStep(text(commandOf(Mode::Normal)));
    statusWait(text(commandOf(Mode::Normal)), statusIn(Mode::Normal), c.timeoutS);
}

void Evaluation::planZero(const Check& c)
{
    referenceStep(staticWords(0), staticWords(0), QStringLiteral("Open both transducers to air (0 mmHg on both channels)."));
    sendStep(text(command::kZeroBoth));
    // Per channel: 0 before "Zeroing...", 1 zeroing, 2 ok, 3 failed; and the
    // last status shown.
    struct Zeroing {
        int state[2] = {0, 0};
        Byte last[2] = {255, 255};
    };
    auto z = std::make_shared<Zeroing>();
    auto rows = [this, z](double waited) {
        for (int ch = 0; ch < 2; ++ch) {
            Result r;
            r.channel = ch + 1;
            r.quantity = QStringLiteral("zeroing");
            r.fromMs = m_stepStart;
            r.toMs = now();
            const int st = z->state[ch];
            r.verdict = st == 2 ? Verdict::Pass : Verdict::Fail;
            if (st == 2)
                r.message = statusQuoted(status::ZeroingOk);
            else if (st == 3)
                r.message = QStringLiteral("the board showed %1").arg(statusQuoted(status::ZeroingFailed));
            else
                r.message = QStringLiteral("timed out after %1 s waiting for %2%3")
                                .arg(seconds(waited), statusQuoted(st == 0 ? status::Zeroing : status::ZeroingOk),
                                     z->last[ch] == 255 ? QString() : QStringLiteral(": showed ") + statusQuoted(z->last[ch]));
            add(r);
        }
    };
    Step s;
    s.type = Step::Wait;
    s.timeoutS = c.timeoutS;
    s.activity = QStringLiteral("Zeroing both channels");
    s.accept = [z, rows](const DecodedFrame& f, qint64) {
        if (f.kind != FrameKind::Status) return false;
        const Byte codes[2] = {f.codes.ch1, f.codes.ch2};
        for (int ch = 0; ch < 2; ++ch) {
            int& st = z->state[ch];
            z->last[ch] = codes[ch];
            if (codes[ch] == status::ZeroingFailed && st < 2) st = 3;
            else if (codes[ch] == status::Zeroing && st == 0) st = 1;
            else if (codes[ch] == status::ZeroingOk && st == 1) st = 2;
        }
        if (z->state[0] < 2 || z->state[1] < 2) return false;
        rows(0);
        return true;
    };
    s.timedOut = rows;
    m_steps.push_back(s);
    windowStep(0, c.measureS, QStringLiteral("Measuring the zero"),
               [this, c] { pressureRows(QStringLiteral("zero"), 0, c.limitMmHg); });
}

void Evaluation::planStatic(const Check& c)
{
    for (double p : c.points) {
        referenceStep(staticWords(p), staticWords(p), QStringLiteral("Set both channels to %1 mmHg.").arg(refText(p)));
        windowStep(c.settleS, c.measureS, QStringLiteral("Measuring at %1 mmHg").arg(refText(p)),
                   [this, p, c] { pressureRows(QStringLiteral("pressure"), p, c.limitFor(p)); });
    }
}

void Evaluation::planDynamic(const Check& c)
{
    referenceStep(c.ch1.controlWords(), c.ch2.controlWords(),
                  QStringLiteral("Set channel 1 to %1, channel 2 to %2, rate %3 /min.")
                      .arg(c.ch1.controlWords(), c.ch2.controlWords())
                      .arg(m_plan.rate));
    Step s;
    s.type = Step::Beats;
    s.settleS = c.settleS;
    s.beats = c.beats;
    s.activity = QStringLiteral("Measuring %1 beats").arg(c.beats);
    s.done = [this, c] { dynamicRows(c); };
    gateStep();
    m_steps.push_back(s);
}

void Evaluation::dynamicRows(const Check& c)
{
    CheckOutcome& o = m_outcomes.back();
    std::vector<BeatPoint> plot;
    const std::vector<Result> rows = evaluate::dynamicRows(m_beats->beats(), c, m_plan.rate, {m_windowFrom, m_windowTo}, &plot);
    o.beats.insert(o.beats.end(), plot.begin(), plot.end());
    for (const Result& r : rows) add(r);
}

void Evaluation::planDrift(const Check& c)
{
    referenceStep(staticWords(c.pointMmHg), staticWords(c.pointMmHg),
                  QStringLiteral("Set both channels to %1 mmHg and leave them.").arg(refText(c.pointMmHg)));
    windowStep(c.settleS, c.measureS, QStringLiteral("Holding %1 mmHg").arg(refText(c.pointMmHg)),
               [this, c] { driftRows(c); });
}

void Evaluation::planFrequency(const Check& c)
{
    // Lowest first: every other frequency's gain is against the lowest's.
    std::vector<double> sweep = c.frequenciesHz;
    std::sort(sweep.begin(), sweep.end());
    const Speed before = m_told.speed;
    const std::optional<Speed> speed = speedOfRate(c.speed);
    if (speed && *speed != before) sendStep(text(commandOf(*speed)));
    m_lowestGainDb[0] = m_lowestGainDb[1] = std::nullopt;
    for (double hz : sweep) {
        const QString words = QStringLiteral("sine %1 %2 %3").arg(refText(c.meanMmHg), refText(c.amplitudeMmHg), QString::number(hz, 'g', 6));
        referenceStep(words, words,
                      QStringLiteral("Set a sine of %1 ± %2 mmHg at %3 Hz on both channels.")
                          .arg(refText(c.meanMmHg), refText(c.amplitudeMmHg), QString::number(hz, 'g', 6)));
        windowStep(c.settleS, c.measureS, QStringLiteral("Measuring the response at %1 Hz").arg(QString::number(hz, 'g', 6)),
                   [this, hz, c] {
                       for (int ch = 1; ch <= 2; ++ch)
                           add(frequencyRow(*m_window, ch, hz, c, &m_lowestGainDb[ch - 1], {m_windowFrom, m_windowTo}));
                   });
    }
    if (speed && *speed != before) sendStep(text(commandOf(before)));
}

void Evaluation::planMains(const Check& c)
{
    const Speed speedBefore = m_told.speed;
    const Filter filterBefore = m_told.filter;
    const std::optional<Speed> speed = speedOfRate(c.speed);
    if (speed && *speed != speedBefore) sendStep(text(commandOf(*speed)));
    for (double hz : c.frequenciesHz) {
        const QString f = QString::number(hz, 'g', 6);
        const QString words = QStringLiteral("static %1 mains %2 %3").arg(refText(c.meanMmHg), f, refText(c.amplitudeMmHg));
        sendStep(text(commandOf(hz < 55 ? Filter::Hz50 : Filter::Hz60)));  // the nearer of the two
        referenceStep(words, words,
                      QStringLiteral("Add %1 Hz interference of %2 mmHg to both channels at %3 mmHg")
                          .arg(f, refText(c.amplitudeMmHg), refText(c.meanMmHg)));
        windowStep(c.settleS, c.measureS, QStringLiteral("Measuring what the filter leaves of %1 Hz").arg(f), [this, hz, c] {
            for (int ch = 1; ch <= 2; ++ch) add(mainsRow(*m_window, ch, hz, c, {m_windowFrom, m_windowTo}));
        });
    }
    // The filter the window's buttons chose, said again whatever the board
    // was told last: what the run found is what it leaves.
    sendStep(text(commandOf(filterBefore)));
    if (speed && *speed != speedBefore) sendStep(text(commandOf(speedBefore)));
}

void Evaluation::driftRows(const Check& c)
{
    for (const Result& r : evaluate::driftRows(*m_window, c, {m_windowFrom, m_windowTo})) add(r);
}

}  // namespace quorvid::evaluate
