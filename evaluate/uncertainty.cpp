#include "uncertainty.h"

#include "measure.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvid::evaluate {

namespace {

// The share either side outside the interval U covers: 95.45 % in all.
constexpr double kTail = (1 - 0.9545) / 2;

const double kSqrt3 = std::sqrt(3.0);
const double kSqrt12 = std::sqrt(12.0);
// dB per relative change of an amplitude, for small changes: 20 / ln 10.
const double kDbPerRelative = 20 / std::numbers::ln10;

// The continued fraction of the regularised incomplete beta function
// (modified Lentz); converges fast for x < (a + 1) / (a + b + 2).
double betaFraction(double a, double b, double x)
{
    constexpr double tiny = 1e-300;
    double c = 1, d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::abs(d) < tiny ? tiny : d);
    double h = d;
    for (int m = 1; m <= 500; ++m) {
        for (int odd = 0; odd < 2; ++odd) {
            const double num = odd ? -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))
                                   : m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m));
            d = 1 + num * d;
            d = 1 / (std::abs(d) < tiny ? tiny : d);
            c = 1 + num / c;
            if (std::abs(c) < tiny) c = tiny;
            h *= d * c;
            if (odd && std::abs(d * c - 1) < 1e-15) return h;
        }
    }
    return h;
}

// I_x(a, b).
double incompleteBeta(double a, double b, double x)
{
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    if (x < (a + 1) / (a + b + 2)) return front * betaFraction(a, b, x) / a;
    return 1 - front * betaFraction(b, a, 1 - x) / b;
}

// P(T > t) for Student's t with nu degrees of freedom, t >= 0.
double upperTail(double t, double nu) { return 0.5 * incompleteBeta(nu / 2, 0.5, nu / (nu + t * t)); }

QString number(double v) { return QString::number(v, 'f', 2); }

// The results a check will give, with their references and limits but no
// readings yet: what its budget can be told before it runs.
std::vector<Result> expected(const Check& c, int planRate)
{
    std::vector<Result> out;
    auto add = [&](const QString& quantity, const QString& unit, std::optional<double> reference, double limit, double seconds = 0, int n = 0) {
        for (int ch = 1; ch <= 2; ++ch) {
            Result r;
            r.channel = unit == u"/min" || unit == u"/s" ? 0 : ch;
            r.quantity = quantity;
            r.unit = unit;
            r.reference = reference;
            r.limit = limit;
            r.error = 0;
            r.toMs = std::llround(seconds * 1000);
            r.n = n;
            out.push_back(r);
            if (r.channel == 0) break;
        }
    };
    switch (c.kind) {
    case CheckKind::Zero: add(QStringLiteral("zero"), QStringLiteral("mmHg"), 0.0, c.limitMmHg); break;
    case CheckKind::Static:
        for (double p : c.points) add(QStringLiteral("pressure"), QStringLiteral("mmHg"), p, c.limitFor(p));
        break;
    case CheckKind::Dynamic:
        for (const Waveform* w : {&c.ch1, &c.ch2})
            for (const auto& [name, v] : {std::pair{QStringLiteral("systolic"), w->sys}, std::pair{QStringLiteral("mean"), w->meanReference()},
                                          std::pair{QStringLiteral("diastolic"), w->dia}})
                add(name, QStringLiteral("mmHg"), v, c.limitFor(v));
        add(QStringLiteral("pulse rate"), QStringLiteral("/min"), planRate, std::max(c.pulseLimitPerMin, planRate * c.pulseLimitPercent / 100.0));
        break;
    case CheckKind::Drift: add(QStringLiteral("drift"), QStringLiteral("mmHg/h"), 0.0, c.limitMmHgPerHour, c.measureS); break;
    case CheckKind::Frequency:
        for (double hz : c.frequenciesHz)
            add(gainQuantity(hz), QStringLiteral("dB"), std::nullopt, c.limitDb, c.measureS, int(c.speed * c.measureS));
        break;
    case CheckKind::Speed:
        for (int rate : c.rates) add(QStringLiteral("frame rate"), QStringLiteral("/s"), rate, rate * c.tolerancePercent / 100.0, c.measureS);
        break;
    default: break;
    }
    return out;
}

}  // namespace

QString resultName(const Result& r)
{
    Result name;
    name.channel = r.channel;
    name.quantity = r.quantity;
    name.unit = r.unit;
    name.reference = r.reference;
    return describe(name);
}

QString statementName(Statement s)
{
    switch (s) {
    case Statement::Pass: return QStringLiteral("pass");
    case Statement::ConditionalPass: return QStringLiteral("conditional pass");
    case Statement::ConditionalFail: return QStringLiteral("conditional fail");
    case Statement::Fail: return QStringLiteral("fail");
    }
    return {};
}

std::optional<Statement> statementNamed(const QString& name)
{
    for (Statement s : {Statement::Pass, Statement::ConditionalPass, Statement::ConditionalFail, Statement::Fail})
        if (statementName(s) == name) return s;
    return std::nullopt;
}

double coverageFactor(std::optional<double> nu)
{
    // Infinite degrees: the normal distribution's 2, as the coverage is chosen for.
    if (!nu || !std::isfinite(*nu)) return 2;
    const double v = std::max(*nu, 0.5);
    // The tail falls as t grows: halve the bracket until it is a hair wide.
    double low = 0, high = 1e4;
    for (int i = 0; i < 200 && high - low > 1e-12 * high; ++i) {
        const double mid = (low + high) / 2;
        (upperTail(mid, v) > kTail ? low : high) = mid;
    }
    return (low + high) / 2;
}

Uncertainty combineUncertainty(std::vector<UncertaintyComponent> components)
{
    Uncertainty u;
    double squares = 0, fourths = 0;
    for (const UncertaintyComponent& c : components) {
        squares += c.value * c.value;
        if (c.dof && *c.dof > 0) fourths += std::pow(c.value, 4) / *c.dof;
    }
    u.components = std::move(components);
    u.uc = std::sqrt(squares);
    // Welch-Satterthwaite; only the terms of finite degrees add to the sum.
    if (fourths > 0) u.nuEff = std::pow(u.uc, 4) / fourths;
    u.k = coverageFactor(u.nuEff);
    u.U = u.k * u.uc;
    return u;
}

UncertaintyComponent referenceComponent(const ReferenceAccuracy& ref, double setting, const QString& name)
{
    const double a = ref.accuracyAt(setting);
    return {name.isEmpty() ? QStringLiteral("reference") : name, ref.normal() ? a / ref.k : a / kSqrt3,
            ref.normal() ? QStringLiteral("normal") : QStringLiteral("rectangular"), std::nullopt};
}

UncertaintyComponent resolutionComponent(double step, const QString& name)
{
    return {name.isEmpty() ? QStringLiteral("resolution") : name, step / kSqrt12, QStringLiteral("rectangular"), std::nullopt};
}

std::optional<Uncertainty> resultUncertainty(const Result& r, const Plan& plan, const Check& check)
{
    if (!plan.reference || !r.error || !r.limit) return std::nullopt;
    const ReferenceAccuracy& ref = *plan.reference;
    std::vector<UncertaintyComponent> c;
    if (r.repeatability)
        c.push_back({QStringLiteral("repeatability"), *r.repeatability, QStringLiteral("normal"),
                     r.repeatabilityDof > 0 ? std::optional<double>(r.repeatabilityDof) : std::nullopt});
    const double seconds = (r.toMs - r.fromMs) / 1000.0;
    if (r.unit == u"mmHg" && r.reference) {
        c.push_back(referenceComponent(ref, *r.reference));
        c.push_back(resolutionComponent(kDisplayResolution));
    } else if (r.unit == u"mmHg") {
        // The board's values against its own waveform: the reference is in
        // both and drops out; each side is read to a whole mmHg.
        c.push_back(resolutionComponent(kDisplayResolution, QStringLiteral("resolution of the values")));
        c.push_back(resolutionComponent(kDisplayResolution, QStringLiteral("resolution of the waveform")));
    } else if (r.unit == u"/min") {
        c.push_back(resolutionComponent(kDisplayResolution));
    } else if (r.unit == u"/s") {
        if (!(seconds > 0)) return std::nullopt;
        c.push_back(resolutionComponent(1 / seconds, QStringLiteral("count of frames")));
    } else if (r.unit == u"mmHg/h") {
        // A difference of two means: the reference's offset drops out, its
        // share of the setting scales the drift; each mean read to a whole mmHg.
        const qint64 span = r.toMs - r.fromMs;
        const double hours = double(span - span / 10) / 3'600'000.0;
        if (!(hours > 0)) return std::nullopt;
        ReferenceAccuracy scale = ref;
        scale.accuracyMmHg = 0;
        c.push_back(referenceComponent(scale, *r.error));
        c.push_back(resolutionComponent(std::sqrt(2.0) * kDisplayResolution / hours));
    } else if (r.unit == u"dB") {
        // The reference's accuracy of each sine's amplitude, relative, in dB:
        // the lowest frequency's gain is in every other's error.
        const double amplitude = check.amplitudeMmHg;
        if (!(amplitude > 0)) return std::nullopt;
        const bool againstLowest = r.message != u"the other frequencies' reference";
        UncertaintyComponent part = referenceComponent(ref, amplitude);
        part.value *= kDbPerRelative / amplitude * (againstLowest ? std::sqrt(2.0) : 1.0);
        c.push_back(part);
        // A whole mmHg's step over the fitted samples.
        if (r.n > 0) c.push_back(resolutionComponent(kDisplayResolution * std::sqrt(2.0 / r.n) * kDbPerRelative / amplitude));
    } else {
        return std::nullopt;
    }
    return combineUncertainty(std::move(c));
}

Statement statementFor(double e, double T, double w, DecisionRule rule)
{
    switch (rule) {
    case DecisionRule::Simple: return e <= T ? Statement::Pass : Statement::Fail;
    case DecisionRule::Guarded: return e <= T - w ? Statement::Pass : Statement::Fail;
    case DecisionRule::GuardedNonbinary:
        return e <= T - w ? Statement::Pass
               : e <= T   ? Statement::ConditionalPass
               : e <= T + w ? Statement::ConditionalFail
                            : Statement::Fail;
    }
    return Statement::Fail;
}

void judgeResult(Result& r, const Plan& plan, const Check& check)
{
    r.uncertainty = resultUncertainty(r, plan, check);
    r.statement.reset();
    if (r.verdict != Verdict::Skipped) {
        Statement s = r.verdict == Verdict::Pass ? Statement::Pass : Statement::Fail;
        // A result failed for another reason than its figure (too few beats)
        // stays failed whatever its figure says.
        const bool figureDecides = r.error && r.limit && (r.verdict == Verdict::Pass || std::abs(*r.error) > *r.limit);
        if (figureDecides) {
            const DecisionRule rule = plan.rule();
            const double w = rule != DecisionRule::Simple && r.uncertainty ? plan.guard() * r.uncertainty->U : 0;
            s = statementFor(std::abs(*r.error), *r.limit, w, rule);
            if (r.verdict == Verdict::Pass && (s == Statement::Fail || s == Statement::ConditionalFail)) {
                r.verdict = Verdict::Fail;
                const QString why = QStringLiteral("beyond the guarded limit %1").arg(number(*r.limit - w));
                r.message = r.message.isEmpty() ? why : r.message + QStringLiteral("; ") + why;
            }
        }
        r.statement = s;
    }
    markMarginal(r, plan.marginalFor(check));
    if (r.statement == Statement::ConditionalPass) r.marginal = true;
}

PlanPrediction predictPlan(const Plan& plan)
{
    PlanPrediction p;
    if (!plan.reference) return p;
    const DecisionRule rule = plan.rule();
    for (const Check& c : plan.checks) {
        // Per check, the result with the least room: the smallest T / U.
        std::optional<std::pair<Result, Uncertainty>> worst;
        for (const Result& r : expected(c, plan.rate)) {
            const std::optional<Uncertainty> u = resultUncertainty(r, plan, c);
            if (!u || !(u->U > 0)) continue;
            if (!worst || *r.limit / u->U < *worst->first.limit / worst->second.U) worst = {r, *u};
        }
        if (!worst) continue;
        const auto& [r, u] = *worst;
        const double T = *r.limit, w = plan.guard() * u.U;
        const QString figures = QStringLiteral("%1 %2: U = %3 %4 against the limit %5 %4")
                                    .arg(c.name, resultName(r), number(u.U), r.unit, number(T));
        if (rule != DecisionRule::Simple && w >= T) {
            const QString band = QStringLiteral("%1, a guard band of %2 x U = %3 %4 leaves no reading able to pass")
                                     .arg(figures, QString::number(plan.guard()), number(w), r.unit);
            if (rule == DecisionRule::Guarded) {
                p.refusal = QStringLiteral("The plan cannot pass under the guarded rule: %1").arg(band);
                return p;
            }
            p.warnings << QStringLiteral("Warning: %1 (only conditional passes are left)").arg(band);
        }
        if (T / u.U < 4)
            p.warnings << QStringLiteral("Warning: %1, a test uncertainty ratio of %2 (below 4)").arg(figures, QString::number(T / u.U, 'f', 1));
    }
    return p;
}

QJsonValue uncertaintyJson(const std::optional<Uncertainty>& u)
{
    if (!u) return QJsonValue(QJsonValue::Null);
    auto orNull = [](std::optional<double> v) { return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); };
    QJsonArray components;
    for (const UncertaintyComponent& c : u->components)
        components.append(QJsonObject{{QStringLiteral("name"), c.name},
                                      {QStringLiteral("value"), c.value},
                                      {QStringLiteral("distribution"), c.distribution},
                                      {QStringLiteral("dof"), orNull(c.dof)}});
    return QJsonObject{{QStringLiteral("components"), components}, {QStringLiteral("u_c"), u->uc},
                       {QStringLiteral("nu_eff"), orNull(u->nuEff)}, {QStringLiteral("k"), u->k},
                       {QStringLiteral("U"), u->U}};
}

std::optional<Uncertainty> uncertaintyFromJson(const QJsonValue& v)
{
    if (!v.isObject()) return std::nullopt;
    const QJsonObject o = v.toObject();
    if (!o[u"u_c"].isDouble() || !o[u"k"].isDouble() || !o[u"U"].isDouble()) return std::nullopt;
    Uncertainty u;
    for (const QJsonValue c : o[u"components"].toArray()) {
        const QJsonObject co = c.toObject();
        u.components.push_back({co[u"name"].toString(), co[u"value"].toDouble(), co[u"distribution"].toString(),
                                co[u"dof"].isDouble() ? std::optional<double>(co[u"dof"].toDouble()) : std::nullopt});
    }
    u.uc = o[u"u_c"].toDouble();
    if (o[u"nu_eff"].isDouble()) u.nuEff = o[u"nu_eff"].toDouble();
    u.k = o[u"k"].toDouble();
    u.U = o[u"U"].toDouble();
    return u;
}

}  // namespace quorvid::evaluate
