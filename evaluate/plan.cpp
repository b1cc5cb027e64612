#include "plan.h"

#include <QFile>
#include <QJsonArray>

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace quorvid::evaluate {

namespace {

constexpr std::string_view kDefaultPlan = R"(# Quorvid evaluation plan. Checks run in the order given; remove a [[check]]
# to leave it out. Times are in seconds, pressures in mmHg. A plan names
# pressures only: the command that sets them is given by whoever runs it.

[plan]
name = "default"
rate = 60                  # beats a minute of the reference source

# "I": an identification frame within timeout_s; its text heads the report.
[[check]]
kind = "identify"
timeout_s = 3

# "S0", "S1", "S2": the waveform frame rate over measure_s after settle_s,
# within tolerance_percent; ends at the speed in force before.
[[check]]
kind = "speed"
rates = [50, 100, 150]
settle_s = 1
measure_s = 5
tolerance_percent = 2

# "M": "Simulated Output" on both channels, then "O": "Normal Operation",
# each within timeout_s.
[[check]]
kind = "mode"
timeout_s = 3

# Reference 0 on both channels (transducers open to air); "Z3"; each channel
# shows "Zeroing..." then "Zeroing ok" within timeout_s; then its mean over
# measure_s is within limit_mmHg of 0.
[[check]]
kind = "zero"
timeout_s = 10
measure_s = 2
limit_mmHg = 1

# Each point on both channels: settle_s, then the waveform's mean over
# measure_s; error = mean - reference, limit = the larger of limit_mmHg and
# limit_percent of the reference.
[[check]]
kind = "static"
points = [0, 50, 100, 200, 300]
settle_s = 2
measure_s = 5
limit_mmHg = 4
limit_percent = 4

# A waveform per channel ("arterial" or "pa" S/D; ch1_mean or ch2_mean
# give a mean reference, else D + (S - D) / 3); after settle_s, the means of
# the board's values over the beats against the reference and the pulse rate
# against the plan's rate; and per beat, the board's systolic and diastolic
# against its own waveform's maximum and minimum.
[[check]]
kind = "dynamic"
ch1 = "arterial 120/80"
ch2 = "pa 25/10"
settle_s = 5
beats = 30
limit_mmHg = 4
limit_percent = 4
pulse_limit_per_min = 1
pulse_limit_percent = 1

# A reference held for measure_s; the drift of the mean in mmHg an hour
# (first tenth of the time against the last) within limit_mmHg_per_h.
# [[check]]
# kind = "drift"
# point = 100
# settle_s = 2
# measure_s = 600
# limit_mmHg_per_h = 2
)";

struct Refusal {
    std::int64_t line = 0;
    QString what;
};

QString q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

std::int64_t lineOf(const toml::node& n) { return static_cast<std::int64_t>(n.source().begin.line); }

// Refuses with the line of the node.
[[noreturn]] void refuse(const toml::node& n, const QString& what) { throw Refusal{lineOf(n), what}; }

double number(const toml::node& n, std::string_view key, double low, double high)
{
    const std::optional<double> v = n.value<double>();
    if (!v || !std::isfinite(*v) || *v < low || *v > high)
        refuse(n, QStringLiteral("%1 wants a number from %2 to %3").arg(q(key)).arg(low).arg(high));
    return *v;
}

QString text(const toml::node& n, std::string_view key)
{
    const std::optional<std::string> v = n.value<std::string>();
    if (!v) refuse(n, QStringLiteral("%1 wants a text in quotes").arg(q(key)));
    return QString::fromStdString(*v);
}

Waveform waveform(const toml::node& n, std::string_view key)
{
    // Only a shape from the list and two numbers: the words go to a command
    // line later, so nothing else from the plan may reach it.
    const QString t = text(n, key).simplified();
    const QStringList parts = t.split(u' ');
    const QStringList shapes{QStringLiteral("arterial"), QStringLiteral("pa")};
    Waveform w;
    if (parts.size() == 2 && shapes.contains(parts[0])) {
        const QStringList sd = parts[1].split(u'/');
        bool okS = false, okD = false;
        if (sd.size() == 2) {
            w.sys = sd[0].toDouble(&okS);
            w.dia = sd[1].toDouble(&okD);
        }
        if (okS && okD && w.dia >= 0 && w.sys > w.dia && w.sys <= 300) {
            w.shape = parts[0];
            return w;
        }
    }
    refuse(n, QStringLiteral("%1 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"%2\"")
                  .arg(q(key), t));
}

Check check(const toml::table& t)
{
    Check c;
    const toml::node* kindNode = t.get("kind");
    if (!kindNode) refuse(t, QStringLiteral("a [[check]] needs a kind"));
    const QString kind = text(*kindNode, "kind");
    const std::map<QString, CheckKind> kinds{
        {QStringLiteral("identify"), CheckKind::Identify}, {QStringLiteral("speed"), CheckKind::Speed},
        {QStringLiteral("mode"), CheckKind::Mode},         {QStringLiteral("zero"), CheckKind::Zero},
        {QStringLiteral("static"), CheckKind::Static},     {QStringLiteral("dynamic"), CheckKind::Dynamic},
        {QStringLiteral("drift"), CheckKind::Drift}};
    const auto k = kinds.find(kind);
    if (k == kinds.end())
        refuse(*kindNode, QStringLiteral("unknown kind \"%1\" (identify, speed, mode, zero, static, dynamic, drift)").arg(kind));
    c.kind = k->second;
    c.name = kind;
    // Each kind's defaults, those of the default plan.
    switch (c.kind) {
    case CheckKind::Identify: c.timeoutS = 3; break;
    case CheckKind::Speed: c.rates = {50, 100, 150}; c.settleS = 1; c.measureS = 5; break;
    case CheckKind::Mode: c.timeoutS = 3; break;
    case CheckKind::Zero: c.timeoutS = 10; c.measureS = 2; c.limitMmHg = 1; c.limitPercent = 0; break;
    case CheckKind::Static: c.points = {0, 50, 100, 200, 300}; c.settleS = 2; c.measureS = 5; break;
    case CheckKind::Dynamic:
        c.ch1 = {QStringLiteral("arterial"), 120, 80, {}};
        c.ch2 = {QStringLiteral("pa"), 25, 10, {}};
        c.settleS = 5;
        break;
    case CheckKind::Drift: c.settleS = 2; c.measureS = 600; break;
    }

    // The keys each kind takes; anything else is a mistake worth hearing of.
    using K = CheckKind;
    const std::map<std::string_view, std::vector<K>> allowed{
        {"kind", {K::Identify, K::Speed, K::Mode, K::Zero, K::Static, K::Dynamic, K::Drift}},
        {"name", {K::Identify, K::Speed, K::Mode, K::Zero, K::Static, K::Dynamic, K::Drift}},
        {"timeout_s", {K::Identify, K::Mode, K::Zero}},
        {"settle_s", {K::Speed, K::Static, K::Dynamic, K::Drift}},
        {"measure_s", {K::Speed, K::Zero, K::Static, K::Drift}},
        {"rates", {K::Speed}},
        {"tolerance_percent", {K::Speed}},
        {"points", {K::Static}},
        {"point", {K::Drift}},
        {"limit_mmHg", {K::Zero, K::Static, K::Dynamic}},
        {"limit_percent", {K::Static, K::Dynamic}},
        {"ch1", {K::Dynamic}}, {"ch2", {K::Dynamic}},
        {"ch1_mean", {K::Dynamic}}, {"ch2_mean", {K::Dynamic}},
        {"beats", {K::Dynamic}},
        {"pulse_limit_per_min", {K::Dynamic}},
        {"pulse_limit_percent", {K::Dynamic}},
        {"limit_mmHg_per_h", {K::Drift}},
    };
    std::optional<double> mean1, mean2;
    for (auto&& [key, node] : t) {
        const std::string_view name = key.str();
        const auto a = allowed.find(name);
        if (a == allowed.end() || std::find(a->second.begin(), a->second.end(), c.kind) == a->second.end()) {
            if (q(name).contains(QLatin1String("command"), Qt::CaseInsensitive))
                refuse(node, QStringLiteral("a plan carries no command: the reference command is given by "
                                            "whoever runs the evaluation"));
            refuse(node, QStringLiteral("a %1 check has no key \"%2\"").arg(kind, q(name)));
        }
        if (name == "name") c.name = text(node, name);
        else if (name == "timeout_s") c.timeoutS = number(node, name, 0.1, 3600);
        else if (name == "settle_s") c.settleS = number(node, name, 0, 3600);
        else if (name == "measure_s") c.measureS = number(node, name, 0.5, 24 * 3600);
        else if (name == "tolerance_percent") c.tolerancePercent = number(node, name, 0, 100);
        else if (name == "point") c.pointMmHg = number(node, name, -50, 300);
        else if (name == "limit_mmHg") c.limitMmHg = number(node, name, 0, 100);
        else if (name == "limit_percent") c.limitPercent = number(node, name, 0, 100);
        else if (name == "ch1") c.ch1 = waveform(node, name);
        else if (name == "ch2") c.ch2 = waveform(node, name);
        else if (name == "ch1_mean") mean1 = number(node, name, 0, 300);
        else if (name == "ch2_mean") mean2 = number(node, name, 0, 300);
        else if (name == "beats") c.beats = static_cast<int>(number(node, name, 1, 1000));
        else if (name == "pulse_limit_per_min") c.pulseLimitPerMin = number(node, name, 0, 100);
        else if (name == "pulse_limit_percent") c.pulseLimitPercent = number(node, name, 0, 100);
        else if (name == "limit_mmHg_per_h") c.limitMmHgPerHour = number(node, name, 0, 1000);
        else if (name == "rates" || name == "points") {
            const toml::array* list = node.as_array();
            if (!list || list->empty()) refuse(node, QStringLiteral("%1 wants a list such as [50, 100]").arg(q(name)));
            std::vector<double> values;
            for (const toml::node& v : *list) values.push_back(number(v, name, name == "rates" ? 50 : -50, name == "rates" ? 150 : 300));
            if (name == "points") {
                c.points = values;
            } else {
                c.rates.clear();
                for (std::size_t i = 0; i < values.size(); ++i) {
                    const double r = values[i];
                    if (r != 50 && r != 100 && r != 150) refuse((*list)[i], QStringLiteral("rates are 50, 100 or 150"));
                    c.rates.push_back(static_cast<int>(r));
                }
            }
        }
    }
    if (mean1) c.ch1.mean = mean1;
    if (mean2) c.ch2.mean = mean2;
    return c;
}

Plan plan(const toml::table& doc)
{
    Plan p;
    p.checks.clear();
    for (auto&& [key, node] : doc) {
        const std::string_view name = key.str();
        if (name == "plan") {
            const toml::table* t = node.as_table();
            if (!t) refuse(node, QStringLiteral("plan wants a table: [plan]"));
            for (auto&& [k, v] : *t) {
                if (k.str() == "name") p.name = text(v, "name");
                else if (k.str() == "rate") p.rate = static_cast<int>(std::lround(number(v, "rate", 20, 240)));
                else if (q(k.str()).contains(QLatin1String("command"), Qt::CaseInsensitive))
                    refuse(v, QStringLiteral("a plan carries no command: the reference command is given by "
                                             "whoever runs the evaluation"));
                else refuse(v, QStringLiteral("[plan] has no key \"%1\" (name, rate)").arg(q(k.str())));
            }
        } else if (name == "check") {
            const toml::array* list = node.as_array();
            if (!list || !list->is_array_of_tables()) refuse(node, QStringLiteral("checks are written [[check]]"));
            for (const toml::node& c : *list) p.checks.push_back(check(*c.as_table()));
        } else if (q(name).contains(QLatin1String("command"), Qt::CaseInsensitive)) {
            refuse(node, QStringLiteral("a plan carries no command: the reference command is given by whoever "
                                        "runs the evaluation"));
        } else {
            refuse(node, QStringLiteral("unknown key \"%1\" ([plan] and [[check]] only)").arg(q(name)));
        }
    }
    if (p.checks.empty()) throw Refusal{1, QStringLiteral("the plan has no [[check]]")};
    return p;
}

}  // namespace

QString kindName(CheckKind kind)
{
    switch (kind) {
    case CheckKind::Identify: return QStringLiteral("identify");
    case CheckKind::Speed: return QStringLiteral("speed");
    case CheckKind::Mode: return QStringLiteral("mode");
    case CheckKind::Zero: return QStringLiteral("zero");
    case CheckKind::Static: return QStringLiteral("static");
    case CheckKind::Dynamic: return QStringLiteral("dynamic");
    case CheckKind::Drift: return QStringLiteral("drift");
    }
    return {};
}

QString Waveform::controlWords() const
{
    return QStringLiteral("%1 %2/%3").arg(shape).arg(sys).arg(dia);
}

double Check::limitFor(double reference) const
{
    return std::max(limitMmHg, std::abs(reference) * limitPercent / 100.0);
}

PlanResult parsePlan(std::string_view toml, const QString& source)
{
    try {
        const toml::table doc = toml::parse(toml, source.toStdString());
        return {plan(doc), {}};
    } catch (const toml::parse_error& e) {
        return {std::nullopt, QStringLiteral("%1 line %2: %3")
                                  .arg(source)
                                  .arg(e.source().begin.line)
                                  .arg(q(e.description()))};
    } catch (const Refusal& r) {
        return {std::nullopt, QStringLiteral("%1 line %2: %3").arg(source).arg(r.line).arg(r.what)};
    }
}

PlanResult readPlanFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("Cannot read %1: %2").arg(path, file.errorString())};
    const QByteArray bytes = file.readAll();
    return parsePlan(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), path);
}

QString defaultPlanToml() { return q(kDefaultPlan); }

Plan defaultPlan() { return *parsePlan(kDefaultPlan, QStringLiteral("default plan")).plan; }

QJsonObject planJson(const Plan& p)
{
    QJsonArray checks;
    for (const Check& c : p.checks) {
        QJsonObject o{{QStringLiteral("kind"), kindName(c.kind)}, {QStringLiteral("name"), c.name}};
        auto put = [&o](const char* key, double v) { o.insert(QLatin1String(key), v); };
        switch (c.kind) {
        case CheckKind::Identify:
        case CheckKind::Mode: put("timeout_s", c.timeoutS); break;
        case CheckKind::Speed: {
            QJsonArray rates;
            for (int r : c.rates) rates.append(r);
            o.insert(QStringLiteral("rates"), rates);
            put("settle_s", c.settleS), put("measure_s", c.measureS), put("tolerance_percent", c.tolerancePercent);
            break;
        }
        case CheckKind::Zero:
            put("timeout_s", c.timeoutS), put("measure_s", c.measureS), put("limit_mmHg", c.limitMmHg);
            break;
        case CheckKind::Static: {
            QJsonArray points;
            for (double v : c.points) points.append(v);
            o.insert(QStringLiteral("points"), points);
            put("settle_s", c.settleS), put("measure_s", c.measureS);
            put("limit_mmHg", c.limitMmHg), put("limit_percent", c.limitPercent);
            break;
        }
        case CheckKind::Dynamic:
            o.insert(QStringLiteral("ch1"), c.ch1.controlWords());
            o.insert(QStringLiteral("ch2"), c.ch2.controlWords());
            put("ch1_mean", c.ch1.meanReference()), put("ch2_mean", c.ch2.meanReference());
            put("settle_s", c.settleS), put("beats", c.beats);
            put("limit_mmHg", c.limitMmHg), put("limit_percent", c.limitPercent);
            put("pulse_limit_per_min", c.pulseLimitPerMin), put("pulse_limit_percent", c.pulseLimitPercent);
            break;
        case CheckKind::Drift:
            put("point", c.pointMmHg), put("settle_s", c.settleS), put("measure_s", c.measureS);
            put("limit_mmHg_per_h", c.limitMmHgPerHour);
            break;
        }
        checks.append(o);
    }
    return {{QStringLiteral("name"), p.name}, {QStringLiteral("rate"), p.rate}, {QStringLiteral("checks"), checks}};
}

}  // namespace quorvid::evaluate
