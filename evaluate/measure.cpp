#include "measure.h"

#include "csvrows.h"
#include "meansd.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvid::evaluate {

namespace {

QString seconds(double s) { return record::secondsText(std::llround(s * 1e6), 1, record::SecondsRounding::Nearest); }

struct Stats {
    double mean = 0, sd = 0;
    int n = 0;
};
Stats stats(const std::vector<double>& v)
{
    const record::MeanSd s = record::meanSd(v);
    return {s.mean, s.sd, static_cast<int>(s.count)};
}

// A mean's own scatter: s / sqrt n with n - 1 degrees of freedom.
void meanRepeatability(Result& r, const Stats& st)
{
    if (st.n < 2) return;
    r.repeatability = st.sd / std::sqrt(double(st.n));
    r.repeatabilityDof = st.n - 1;
}

}  // namespace

void WindowFrames::clear()
{
    ch[0].clear(), ch[1].clear(), times.clear();
}

void WindowFrames::take(const DecodedFrame& f, qint64 t)
{
    if (!f.shown || f.kind != FrameKind::Waveform) return;
    ch[0].push_back(mmHgOf(f.samples.s1));
    ch[1].push_back(mmHgOf(f.samples.s2));
    times.push_back(t);
}

void BeatCollector::clear()
{
    m_beats.clear();
    m_samples[0].clear(), m_samples[1].clear();
    m_started = false;
}

BeatCollector::Took BeatCollector::take(const DecodedFrame& f, qint64 t)
{
    if (!f.shown) return Took::Nothing;
    if (f.kind == FrameKind::Waveform) {
        m_samples[0].push_back(mmHgOf(f.samples.s1));
        m_samples[1].push_back(mmHgOf(f.samples.s2));
        return Took::Nothing;
    }
    if (f.kind != FrameKind::Values) return Took::Nothing;
    if (!m_started) {
        // The beat in progress began before: the measurement starts with the next one.
        m_started = true;
        m_samples[0].clear(), m_samples[1].clear();
        return Took::Boundary;
    }
    // The beat's maximum over all its samples; its diastolic is the trough it
    // starts from, so its minimum over the first half: the end of a beat
    // already glides towards the next beat's level.
    const std::size_t n = m_samples[0].size();
    Took took = Took::Nothing;
    if (n > 0) {
        Beat b;
        b.tMs = t;
        b.values = f.values;
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<double>& v = m_samples[ch];
            b.max[ch] = *std::max_element(v.begin(), v.end());
            b.min[ch] = *std::min_element(v.begin(), v.begin() + std::ptrdiff_t((n + 1) / 2));
        }
        m_beats.push_back(b);
        took = Took::Beat;
    }
    m_samples[0].clear(), m_samples[1].clear();
    return took;
}

std::array<Result, 2> pressureRows(const WindowFrames& frames, const QString& quantity, double reference,
                                   double limit, Interval in)
{
    std::array<Result, 2> rows;
    for (int ch = 0; ch < 2; ++ch) {
        const Stats st = stats(frames.ch[ch]);
        Result& r = rows[std::size_t(ch)];
        r.channel = ch + 1;
        r.quantity = quantity;
        r.unit = QStringLiteral("mmHg");
        r.reference = reference;
        r.limit = limit;
        r.n = st.n;
        r.fromMs = in.fromMs;
        r.toMs = in.toMs;
        if (st.n == 0) {
            r.verdict = Verdict::Fail;
            r.message = QStringLiteral("no waveform frames in %1 s").arg(seconds((in.toMs - in.fromMs) / 1000.0));
        } else {
            r.mean = st.mean;
            r.sd = st.sd;
            r.error = st.mean - reference;
            r.verdict = std::abs(*r.error) <= limit ? Verdict::Pass : Verdict::Fail;
            meanRepeatability(r, st);
        }
    }
    return rows;
}

Result frameRateRow(const WindowFrames& frames, int rate, double tolerancePercent, Interval in)
{
    Result r;
    r.quantity = QStringLiteral("frame rate");
    r.unit = QStringLiteral("/s");
    r.reference = rate;
    r.n = static_cast<int>(frames.times.size());
    r.mean = r.n / ((in.toMs - in.fromMs) / 1000.0);
    r.error = *r.mean - rate;
    r.limit = rate * tolerancePercent / 100.0;
    r.verdict = std::abs(*r.error) <= *r.limit ? Verdict::Pass : Verdict::Fail;
    r.fromMs = in.fromMs;
    r.toMs = in.toMs;
    return r;
}

std::vector<Result> dynamicRows(const std::vector<Beat>& beats, const Check& c, int planRate, Interval in,
                                std::vector<BeatPoint>* plot)
{
    std::vector<Result> rows;
    const Waveform* refs[2] = {&c.ch1, &c.ch2};
    const int n = static_cast<int>(beats.size());
    const QString shortBy = n < c.beats ? QStringLiteral("%1 of %2 beats").arg(n).arg(c.beats) : QString();
    auto row = [&](int ch, const QString& quantity, const QString& unit, double reference, double limit,
                   const std::vector<double>& values) {
        const Stats st = stats(values);
        Result r;
        r.channel = ch;
        r.quantity = quantity;
        r.unit = unit;
        r.reference = reference;
        r.limit = limit;
        r.n = st.n;
        r.fromMs = in.fromMs;
        r.toMs = in.toMs;
        if (st.n > 0) {
            r.mean = st.mean;
            r.sd = st.sd;
            r.error = st.mean - reference;
            meanRepeatability(r, st);
        }
        r.verdict = st.n > 0 && std::abs(*r.error) <= limit && shortBy.isEmpty() ? Verdict::Pass : Verdict::Fail;
        r.message = shortBy;
        rows.push_back(r);
    };
    auto sysOf = [](const Beat& b, int ch) -> double { return ch == 0 ? b.values.sys1 : b.values.sys2; };
    auto diaOf = [](const Beat& b, int ch) -> double { return ch == 0 ? b.values.dia1 : b.values.dia2; };
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<double> sys, map, dia;
        for (const Beat& b : beats) {
            sys.push_back(sysOf(b, ch));
            map.push_back(ch == 0 ? b.values.map1 : b.values.map2);
            dia.push_back(diaOf(b, ch));
            if (plot) plot->push_back({ch + 1, b.tMs, sys.back(), dia.back(), b.max[ch], b.min[ch]});
        }
        const Waveform& w = *refs[ch];
        row(ch + 1, QStringLiteral("systolic"), QStringLiteral("mmHg"), w.sys, c.limitFor(w.sys), sys);
        row(ch + 1, QStringLiteral("mean"), QStringLiteral("mmHg"), w.meanReference(), c.limitFor(w.meanReference()), map);
        row(ch + 1, QStringLiteral("diastolic"), QStringLiteral("mmHg"), w.dia, c.limitFor(w.dia), dia);
    }
    std::vector<double> pulse;
    for (const Beat& b : beats) pulse.push_back(b.values.pulse);
    row(0, QStringLiteral("pulse rate"), QStringLiteral("/min"), planRate,
        std::max(c.pulseLimitPerMin, planRate * c.pulseLimitPercent / 100.0), pulse);

    // The board's own numbers against its own trace, beat by beat: the row's
    // error is the worst difference, its mean and SD those of all beats.
    for (int ch = 0; ch < 2; ++ch) {
        const Waveform& w = *refs[ch];
        for (int which = 0; which < 2; ++which) {
            const double limit = c.limitFor(which == 0 ? w.sys : w.dia);
            std::vector<double> diffs;
            double worst = 0;
            const Beat* worstBeat = nullptr;
            for (const Beat& b : beats) {
                const double d = which == 0 ? sysOf(b, ch) - b.max[ch] : diaOf(b, ch) - b.min[ch];
                diffs.push_back(d);
                if (!worstBeat || std::abs(d) > std::abs(worst)) worst = d, worstBeat = &b;
            }
            const Stats st = stats(diffs);
            Result r;
            r.channel = ch + 1;
            r.quantity = which == 0 ? QStringLiteral("systolic vs waveform maximum") : QStringLiteral("diastolic vs waveform minimum");
            r.unit = QStringLiteral("mmHg");
            r.limit = limit;
            r.n = n;
            r.fromMs = in.fromMs;
            r.toMs = in.toMs;
            r.mean = st.mean;
            r.sd = st.sd;
            r.error = worst;
            r.verdict = n > 0 && std::abs(worst) <= limit && shortBy.isEmpty() ? Verdict::Pass : Verdict::Fail;
            r.message = worstBeat && std::abs(worst) > limit
                            ? QStringLiteral("worst beat at %1 s").arg(record::secondsText(worstBeat->tMs * 1000, 3))
                            : shortBy;
            rows.push_back(r);
        }
    }
    return rows;
}

std::array<Result, 2> driftRows(const WindowFrames& frames, const Check& c, Interval in)
{
    // The first tenth of the time against the last.
    std::array<Result, 2> rows;
    const qint64 span = in.toMs - in.fromMs, tenth = span / 10;
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<double> first, last;
        for (std::size_t i = 0; i < frames.times.size(); ++i) {
            if (frames.times[i] < in.fromMs + tenth) first.push_back(frames.ch[ch][i]);
            else if (frames.times[i] >= in.toMs - tenth) last.push_back(frames.ch[ch][i]);
        }
        Result& r = rows[std::size_t(ch)];
        r.channel = ch + 1;
        r.quantity = QStringLiteral("drift");
        r.unit = QStringLiteral("mmHg/h");
        r.reference = 0;
        r.limit = c.limitMmHgPerHour;
        r.n = static_cast<int>(frames.times.size());
        r.fromMs = in.fromMs;
        r.toMs = in.toMs;
        if (first.empty() || last.empty()) {
            r.verdict = Verdict::Fail;
            r.message = QStringLiteral("too few waveform frames");
        } else {
            const double hours = (span - tenth) / 3'600'000.0;
            const Stats a = stats(first), b = stats(last);
            r.mean = r.error = (b.mean - a.mean) / hours;
            r.sd = stats(frames.ch[ch]).sd;
            // The slope's standard error from the scatter of either end.
            if (a.n >= 2 && b.n >= 2) {
                const double va = a.sd * a.sd / a.n, vb = b.sd * b.sd / b.n;
                r.repeatability = std::sqrt(va + vb) / hours;
                if (va + vb > 0) r.repeatabilityDof = (va + vb) * (va + vb) / (va * va / (a.n - 1) + vb * vb / (b.n - 1));
            }
            r.verdict = std::abs(*r.error) <= *r.limit ? Verdict::Pass : Verdict::Fail;
        }
    }
    return rows;
}

namespace {

// y = a + b sin(wi) + c cos(wi) over samples [from, to) by least squares: the
// normal equations, solved by elimination. Nothing when they are singular.
struct SineTerms {
    double a = 0, b = 0, c = 0;
    double amplitude() const { return std::hypot(b, c); }
    double phase() const { return std::atan2(c, b); }
};
std::optional<SineTerms> sineTerms(const std::vector<double>& v, std::size_t from, std::size_t to, double w)
{
    double m[3][4] = {};
    for (std::size_t i = from; i < to; ++i) {
        const double basis[3] = {1, std::sin(w * double(i)), std::cos(w * double(i))};
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) m[r][k] += basis[r] * basis[k];
            m[r][3] += basis[r] * v[i];
        }
    }
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
        if (std::abs(m[pivot][col]) < 1e-9) return std::nullopt;
        std::swap(m[col], m[pivot]);
        for (int r = 0; r < 3; ++r) {
            if (r == col) continue;
            const double f = m[r][col] / m[col][col];
            for (int k = col; k < 4; ++k) m[r][k] -= f * m[col][k];
        }
    }
    return SineTerms{m[0][3] / m[0][0], m[1][3] / m[1][1], m[2][3] / m[2][2]};
}

}  // namespace

std::optional<SineFit> fitSine(const std::vector<double>& v, double sampleHz, double hz)
{
    if (!(hz > 0) || !(sampleHz > 2 * hz)) return std::nullopt;
    const double perPeriod = sampleHz / hz;
    // A window a frame short of its last period (where its blocks fell) keeps it.
    const int periods = static_cast<int>(std::floor((double(v.size()) + 1.5) / perPeriod));
    if (periods < 1) return std::nullopt;
    const std::size_t n = std::min(v.size(), static_cast<std::size_t>(std::llround(periods * perPeriod)));
    double w = 2 * std::numbers::pi / perPeriod;
    std::optional<SineTerms> fit = sineTerms(v, 0, n, w);
    if (!fit) return std::nullopt;
    // A board's own clock a little off its rate turns the sine against the
    // samples over many periods: the phase of each half says by how much,
    // and the fit at the rate that explains it is taken when it reads more.
    const std::optional<SineTerms> first = sineTerms(v, 0, n / 2, w), second = sineTerms(v, n / 2, n, w);
    if (first && second) {
        const double turned = std::remainder(second->phase() - first->phase(), 2 * std::numbers::pi);
        const double adjusted = w + turned / double(n / 2);
        if (std::abs(adjusted / w - 1) <= 0.025)  // the speed check's 2 %, and some
            if (const std::optional<SineTerms> better = sineTerms(v, 0, n, adjusted); better && better->amplitude() > fit->amplitude())
                fit = better, w = adjusted;
    }
    double squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = v[i] - (fit->a + fit->b * std::sin(w * double(i)) + fit->c * std::cos(w * double(i)));
        squares += r * r;
    }
    SineFit out;
    out.amplitude = fit->amplitude();
    out.offset = fit->a;
    out.residualSd = n > 3 ? std::sqrt(squares / double(n - 3)) : 0;
    out.n = static_cast<int>(n);
    out.periods = periods;
    return out;
}

QString gainQuantity(double hz) { return QStringLiteral("gain at %1 Hz").arg(QString::number(hz, 'g', 6)); }

namespace {

// A row in dB of a sine of one frequency fitted to a channel's window, as
// the frequency response and the mains rejection both take it: failed, and
// no fit, when the window spans no whole period.
std::optional<SineFit> fittedRow(Result& r, const WindowFrames& frames, int channel, double hz, const Check& c, Interval in,
                                 const QString& quantity, double limit)
{
    r.channel = channel;
    r.quantity = quantity;
    r.unit = QStringLiteral("dB");
    r.limit = limit;
    r.frequencyHz = hz;
    r.fromMs = in.fromMs;
    r.toMs = in.toMs;
    std::optional<SineFit> fit = fitSine(frames.ch[channel - 1], c.speed, hz);
    r.n = fit ? fit->n : static_cast<int>(frames.times.size());
    if (!fit) {
        r.verdict = Verdict::Fail;
        r.message = QStringLiteral("%1 waveform frames in %2 s span no whole period").arg(frames.times.size()).arg(seconds((in.toMs - in.fromMs) / 1000.0));
    }
    return fit;
}

}  // namespace

Result frequencyRow(const WindowFrames& frames, int channel, double hz, const Check& c, std::optional<LowestGain>* lowest,
                    Interval in)
{
    Result r;
    const std::optional<SineFit> fit = fittedRow(r, frames, channel, hz, c, in, gainQuantity(hz), c.limitDb);
    if (!fit) return r;
    if (!(fit->amplitude > 0)) {
        r.verdict = Verdict::Fail;
        r.message = QStringLiteral("no sine in the waveform");
        return r;
    }
    r.amplitudeMmHg = fit->amplitude;
    r.gainDb = r.mean = 20 * std::log10(fit->amplitude / c.amplitudeMmHg);
    // The amplitude's standard error from the fit's residuals, in dB.
    std::optional<double> se;
    if (fit->n > 3) se = fit->residualSd * std::sqrt(2.0 / fit->n) / fit->amplitude * 20 / std::numbers::ln10;
    const double dof = fit->n - 3;
    if (!*lowest) {
        *lowest = LowestGain{*r.gainDb, se, dof};
        r.message = QStringLiteral("the other frequencies' reference");
        r.error = 0;
        r.repeatability = se;
        r.repeatabilityDof = dof;
    } else {
        // A difference of two fitted gains carries both fits' errors.
        r.error = *r.gainDb - (*lowest)->db;
        const double a = se ? *se * *se : 0, b = (*lowest)->repeatability ? *(*lowest)->repeatability * *(*lowest)->repeatability : 0;
        if (se || (*lowest)->repeatability) {
            r.repeatability = std::sqrt(a + b);
            const double fourths = (se ? a * a / dof : 0) + ((*lowest)->repeatability ? b * b / (*lowest)->dof : 0);
            if (fourths > 0) r.repeatabilityDof = (a + b) * (a + b) / fourths;
        }
    }
    r.verdict = std::abs(*r.error) <= c.limitDb ? Verdict::Pass : Verdict::Fail;
    return r;
}

QString rejectionQuantity(double hz) { return QStringLiteral("rejection at %1 Hz").arg(QString::number(hz, 'g', 6)); }

Result mainsRow(const WindowFrames& frames, int channel, double hz, const Check& c, Interval in)
{
    Result r;
    r.appliedMmHg = c.amplitudeMmHg;
    const std::optional<SineFit> fit = fittedRow(r, frames, channel, hz, c, in, rejectionQuantity(hz), c.rejectionDb);
    if (!fit) return r;
    r.residualMmHg = fit->amplitude;
    // Whole-mmHg frames show nothing of a residual under half a mmHg: the
    // fit then finds none, to rounding, and there is no ratio to take.
    if (!(fit->amplitude > 1e-9 * c.amplitudeMmHg)) {
        r.residualMmHg = 0;
        r.message = QStringLiteral("nothing of %1 Hz left").arg(QString::number(hz, 'g', 6));
        return r;
    }
    r.rejectionDb = r.mean = -20 * std::log10(fit->amplitude / c.amplitudeMmHg);
    r.verdict = *r.rejectionDb >= c.rejectionDb ? Verdict::Pass : Verdict::Fail;
    return r;
}

void markMarginal(Result& r, std::optional<double> percent)
{
    r.marginal = percent && r.verdict == Verdict::Pass && r.error && r.limit
                 && std::abs(*r.error) > *r.limit * *percent / 100.0;
}

Verdict checkVerdict(const std::vector<Result>& results)
{
    Verdict v = Verdict::Pass;
    for (const Result& r : results) {
        if (r.verdict == Verdict::Fail) v = Verdict::Fail;
        else if (r.verdict == Verdict::Skipped && v == Verdict::Pass) v = Verdict::Skipped;
    }
    return v;
}

Verdict runVerdict(const std::vector<CheckOutcome>& outcomes, std::size_t planChecks, const QString& aborted)
{
    if (!aborted.isEmpty() || outcomes.size() < planChecks) return Verdict::Fail;
    for (const CheckOutcome& o : outcomes)
        if (o.verdict != Verdict::Pass) return Verdict::Fail;
    return Verdict::Pass;
}

}  // namespace quorvid::evaluate
