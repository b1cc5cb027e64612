#include "plan.h"

#include "checkkinds.h"

#include <QFile>
#include <QJsonArray>

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>

namespace quorvid::evaluate {

namespace {

constexpr std::string_view kHeading = R"(# Quorvid evaluation plan. Checks run in the order given; remove a [[check]]
# to leave it out. Times are in seconds, pressures in mmHg. A plan names
# pressures only: the command that sets them is given by whoever runs it.
# Any check may give source = "..." (where its limits come from) and
# marginal_percent (as may [plan]): a result that passes with its error above
# that share of its limit is reported MARGINAL.
)";

// Where a comment after a key's default begins in the printed plan.
constexpr qsizetype kNoteColumn = 27;

struct Refusal {
    std::int64_t line = 0;
    QString what;
};

QString q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

std::int64_t lineOf(const toml::node& n) { return static_cast<std::int64_t>(n.source().begin.line); }

// Refuses with the line of the node.
[[noreturn]] void refuse(const toml::node& n, const QString& what) { throw Refusal{lineOf(n), what}; }

// A key nobody takes; one that would carry a command is told why there is none.
[[noreturn]] void refuseKey(const toml::node& n, std::string_view key, const QString& what)
{
    if (q(key).contains(QLatin1String("command"), Qt::CaseInsensitive))
        refuse(n, QStringLiteral("a plan carries no command: the reference command is given by whoever runs the "
                                 "evaluation"));
    refuse(n, what);
}

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

// Each item in the key's range.
std::vector<double> numbers(const toml::node& n, std::string_view key, double low, double high)
{
    const toml::array* list = n.as_array();
    if (!list || list->empty()) refuse(n, QStringLiteral("%1 wants a list such as [50, 100]").arg(q(key)));
    std::vector<double> values;
    for (const toml::node& v : *list) values.push_back(number(v, key, low, high));
    return values;
}

std::vector<int> speeds(const toml::node& n, std::string_view key, double low, double high)
{
    const std::vector<double> values = numbers(n, key, low, high);
    std::vector<int> rates;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double r = values[i];
        if (r != 50 && r != 100 && r != 150) refuse(*n.as_array()->get(i), QStringLiteral("%1 are 50, 100 or 150").arg(q(key)));
        rates.push_back(static_cast<int>(r));
    }
    return rates;
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

template <class Target>
void read(const Key<Target>& key, const toml::node& n, Target& into)
{
    const std::string_view name = key.name;
    const double low = key.low, high = key.high;
    std::visit(Overloaded{
                   [&](double Target::*m) { into.*m = number(n, name, low, high); },
                   [&](int Target::*m) { into.*m = static_cast<int>(number(n, name, low, high)); },
                   [&](NearestOf<Target> m) { into.*m.value = static_cast<int>(std::lround(number(n, name, low, high))); },
                   [&](QString Target::*m) { into.*m = text(n, name); },
                   [&](Waveform Target::*m) {
                       // Its mean may have been given already: keys come in order of their names.
                       const std::optional<double> mean = (into.*m).mean;
                       into.*m = waveform(n, name);
                       (into.*m).mean = mean;
                   },
                   [&](MeanOf<Target> m) { (into.*m.wave).mean = number(n, name, low, high); },
                   [&](std::vector<int> Target::*m) { into.*m = speeds(n, name, low, high); },
                   [&](std::vector<double> Target::*m) { into.*m = numbers(n, name, low, high); },
                   [&](std::optional<double> Target::*m) { into.*m = number(n, name, low, high); },
                   [&](std::optional<QString> Target::*m) { into.*m = text(n, name); },
               },
               key.field);
}

template <class Target>
QJsonValue json(const Key<Target>& key, const Target& from)
{
    return std::visit(Overloaded{
                          [&](double Target::*m) { return QJsonValue(from.*m); },
                          [&](int Target::*m) { return QJsonValue(from.*m); },
                          [&](NearestOf<Target> m) { return QJsonValue(from.*m.value); },
                          [&](QString Target::*m) { return QJsonValue(from.*m); },
                          [&](Waveform Target::*m) { return QJsonValue((from.*m).controlWords()); },
                          [&](MeanOf<Target> m) { return QJsonValue((from.*m.wave).meanReference()); },
                          [&](std::vector<int> Target::*m) {
                              QJsonArray a;
                              for (int v : from.*m) a.append(v);
                              return QJsonValue(a);
                          },
                          [&](std::vector<double> Target::*m) {
                              QJsonArray a;
                              for (double v : from.*m) a.append(v);
                              return QJsonValue(a);
                          },
                          // Left out when not given, so that it reads back as not given.
                          [&](std::optional<double> Target::*m) {
                              return (from.*m) ? QJsonValue(*(from.*m)) : QJsonValue(QJsonValue::Undefined);
                          },
                          [&](std::optional<QString> Target::*m) {
                              return (from.*m) ? QJsonValue(*(from.*m)) : QJsonValue(QJsonValue::Undefined);
                          },
                      },
                      key.field);
}

template <class Target>
const Setting<Target>* find(std::span<const Setting<Target>> settings, std::string_view name)
{
    const auto s = std::find_if(settings.begin(), settings.end(), [name](const Setting<Target>& s) { return s.key->name == name; });
    return s == settings.end() ? nullptr : &*s;
}

template <class Target>
QString names(std::span<const Setting<Target>> settings)
{
    QStringList list;
    for (const Setting<Target>& s : settings) list << q(s.key->name);
    return list.join(QStringLiteral(", "));
}

// The defaults, read as a plan's values are.
template <class Target>
void setDefaults(std::span<const Setting<Target>> settings, Target& into)
{
    for (const Setting<Target>& s : settings) {
        if (s.value.empty()) continue;
        const std::string line = std::string(s.key->name) + " = " + std::string(s.value);
        const toml::table t = toml::parse(line);
        read(*s.key, *t.get(s.key->name), into);
    }
}

template <class Target>
QString printed(std::span<const Setting<Target>> settings, const QString& prefix)
{
    QString out;
    for (const Setting<Target>& s : settings) {
        if (s.value.empty()) continue;
        QString line = prefix + q(s.key->name) + QStringLiteral(" = ") + q(s.value);
        if (!s.note.empty()) line = line.leftJustified(kNoteColumn) + QStringLiteral("# ") + q(s.note);
        out += line + u'\n';
    }
    return out;
}

void insertGiven(QJsonObject& o, const QString& key, const QJsonValue& v)
{
    if (!v.isUndefined()) o.insert(key, v);
}

// A JSON value as the TOML node a plan file would hold; TOML has no null.
toml::table tomlTable(const QJsonObject& o);
toml::array tomlArray(const QJsonArray& a, const QString& key)
{
    toml::array out;
    for (const QJsonValue v : a) {
        switch (v.type()) {
        case QJsonValue::Bool: out.push_back(v.toBool()); break;
        case QJsonValue::Double: out.push_back(v.toDouble()); break;
        case QJsonValue::String: out.push_back(v.toString().toStdString()); break;
        case QJsonValue::Array: out.push_back(tomlArray(v.toArray(), key)); break;
        case QJsonValue::Object: out.push_back(tomlTable(v.toObject())); break;
        default: throw Refusal{0, QStringLiteral("%1 holds a null").arg(key)};
        }
    }
    return out;
}
void insertToml(toml::table& t, const QString& key, const QJsonValue& v)
{
    const std::string k = key.toStdString();
    switch (v.type()) {
    case QJsonValue::Bool: t.insert_or_assign(k, v.toBool()); break;
    case QJsonValue::Double: t.insert_or_assign(k, v.toDouble()); break;
    case QJsonValue::String: t.insert_or_assign(k, v.toString().toStdString()); break;
    case QJsonValue::Array: t.insert_or_assign(k, tomlArray(v.toArray(), key)); break;
    case QJsonValue::Object: t.insert_or_assign(k, tomlTable(v.toObject())); break;
    default: throw Refusal{0, QStringLiteral("%1 is null").arg(key)};
    }
}
toml::table tomlTable(const QJsonObject& o)
{
    toml::table t;
    for (auto it = o.begin(); it != o.end(); ++it) insertToml(t, it.key(), it.value());
    return t;
}

const KindDescription* kindNamed(const QString& name)
{
    for (const KindDescription& d : checkKinds())
        if (q(d.name) == name) return &d;
    return nullptr;
}

Check check(const toml::table& t)
{
    const toml::node* kindNode = t.get("kind");
    if (!kindNode) refuse(t, QStringLiteral("a [[check]] needs a kind"));
    const QString kind = text(*kindNode, "kind");
    const KindDescription* d = kindNamed(kind);
    if (!d) {
        QStringList kinds;
        for (const KindDescription& k : checkKinds()) kinds << q(k.name);
        refuse(*kindNode, QStringLiteral("unknown kind \"%1\" (%2)").arg(kind, kinds.join(QStringLiteral(", "))));
    }
    Check c;
    c.kind = d->kind;
    c.name = kind;
    setDefaults<Check>(d->keys, c);
    // Anything the kind does not take is a mistake worth hearing of.
    for (auto&& [key, node] : t) {
        const std::string_view name = key.str();
        if (name == "kind") continue;
        const Setting<Check>* s = find(checkKeys(), name);
        if (!s) s = find<Check>(d->keys, name);
        if (!s) refuseKey(node, name, QStringLiteral("a %1 check has no key \"%2\"").arg(kind, q(name)));
        read(*s->key, node, c);
    }
    if (d->refusal)
        if (const auto why = d->refusal(c)) {
            const toml::node* given = t.get(why->first);
            refuse(given ? *given : static_cast<const toml::node&>(t), why->second);
        }
    return c;
}

// A table such as [reference], from its defaults and the keys given.
template <class Target>
Target table(const toml::node& node, std::string_view heading, std::span<const Setting<Target>> keys)
{
    const toml::table* t = node.as_table();
    if (!t) refuse(node, QStringLiteral("%1 wants a table: [%1]").arg(q(heading)));
    Target into;
    setDefaults(keys, into);
    for (auto&& [k, v] : *t) {
        const Setting<Target>* s = find(keys, k.str());
        if (!s) refuseKey(v, k.str(), QStringLiteral("[%1] has no key \"%2\" (%3)").arg(q(heading), q(k.str()), names(keys)));
        read(*s->key, v, into);
    }
    return into;
}

// A text key of a table that must be one of a few words.
void oneOf(const toml::node& table, std::string_view key, const QString& value, const QStringList& words)
{
    if (words.contains(value)) return;
    const toml::node* given = table.as_table() ? table.as_table()->get(key) : nullptr;
    refuse(given ? *given : table, QStringLiteral("%1 is %2, not \"%3\"").arg(q(key), u'"' + words.join(QStringLiteral("\", \"")) + u'"', value));
}

Plan plan(const toml::table& doc)
{
    Plan p;
    setDefaults(planKeys(), p);
    for (auto&& [key, node] : doc) {
        const std::string_view name = key.str();
        if (name == "plan") {
            const toml::table* t = node.as_table();
            if (!t) refuse(node, QStringLiteral("plan wants a table: [plan]"));
            for (auto&& [k, v] : *t) {
                const Setting<Plan>* s = find(planKeys(), k.str());
                if (!s) refuseKey(v, k.str(), QStringLiteral("[plan] has no key \"%1\" (%2)").arg(q(k.str()), names(planKeys())));
                read(*s->key, v, p);
            }
            QStringList rules;
            for (DecisionRule r : {DecisionRule::Simple, DecisionRule::Guarded, DecisionRule::GuardedNonbinary}) rules << decisionRuleName(r);
            if (p.decisionRule) oneOf(node, "decision_rule", *p.decisionRule, rules);
        } else if (name == "reference") {
            p.reference = table(node, name, referenceKeys());
            oneOf(node, "distribution", p.reference->distribution, {QStringLiteral("rectangular"), QStringLiteral("normal")});
        } else if (name == "certificate") {
            p.certificate = table(node, name, certificateKeys());
        } else if (name == "check") {
            const toml::array* list = node.as_array();
            if (!list || !list->is_array_of_tables()) refuse(node, QStringLiteral("checks are written [[check]]"));
            for (const toml::node& c : *list) p.checks.push_back(check(*c.as_table()));
        } else {
            refuseKey(node, name, QStringLiteral("unknown key \"%1\" ([plan], [reference], [certificate] and [[check]] only)").arg(q(name)));
        }
    }
    if (p.checks.empty()) throw Refusal{1, QStringLiteral("the plan has no [[check]]")};
    return p;
}

}  // namespace

QString kindName(CheckKind kind) { return q(kindDescription(kind).name); }

QString Waveform::controlWords() const
{
    return QStringLiteral("%1 %2/%3").arg(shape).arg(sys).arg(dia);
}

std::optional<double> Plan::marginalFor(const Check& check) const
{
    return check.marginalPercent ? check.marginalPercent : marginalPercent;
}

double ReferenceAccuracy::accuracyAt(double setting) const
{
    return accuracyMmHg + std::abs(setting) * accuracyPercent / 100.0;
}

QString decisionRuleName(DecisionRule rule)
{
    switch (rule) {
    case DecisionRule::Simple: return QStringLiteral("simple");
    case DecisionRule::Guarded: return QStringLiteral("guarded");
    case DecisionRule::GuardedNonbinary: return QStringLiteral("guarded-nonbinary");
    }
    return {};
}

DecisionRule Plan::rule() const
{
    for (DecisionRule r : {DecisionRule::Guarded, DecisionRule::GuardedNonbinary})
        if (decisionRule == decisionRuleName(r)) return r;
    return DecisionRule::Simple;
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

QString defaultPlanToml()
{
    QString out = q(kHeading) + QStringLiteral("\n[plan]\n") + printed(planKeys(), {});
    for (const KindDescription& d : checkKinds()) {
        // A kind left out of the default plan is there to be taken in.
        const QString off = d.inDefaultPlan ? QString() : QStringLiteral("# ");
        out += u'\n';
        for (const QString& line : q(d.about).split(u'\n')) out += QStringLiteral("# ") + line + u'\n';
        out += off + QStringLiteral("[[check]]\n") + off + QStringLiteral("kind = \"%1\"\n").arg(q(d.name));
        out += printed<Check>(d.keys, off);
    }
    return out;
}

Plan defaultPlan()
{
    const QByteArray toml = defaultPlanToml().toUtf8();
    return *parsePlan(std::string_view(toml.constData(), std::size_t(toml.size())), QStringLiteral("default plan")).plan;
}

QJsonObject planJson(const Plan& p)
{
    QJsonArray checks;
    for (const Check& c : p.checks) {
        const KindDescription& d = kindDescription(c.kind);
        QJsonObject o{{QStringLiteral("kind"), q(d.name)}};
        for (const Setting<Check>& s : checkKeys()) insertGiven(o, q(s.key->name), json(*s.key, c));
        for (const Setting<Check>& s : d.keys) insertGiven(o, q(s.key->name), json(*s.key, c));
        checks.append(o);
    }
    QJsonObject o;
    for (const Setting<Plan>& s : planKeys()) insertGiven(o, q(s.key->name), json(*s.key, p));
    if (p.reference) {
        QJsonObject r;
        for (const Setting<ReferenceAccuracy>& s : referenceKeys()) insertGiven(r, q(s.key->name), json(*s.key, *p.reference));
        o.insert(QStringLiteral("reference"), r);
    }
    if (p.certificate) {
        QJsonObject c;
        for (const Setting<CertificateIssuer>& s : certificateKeys()) insertGiven(c, q(s.key->name), json(*s.key, *p.certificate));
        o.insert(QStringLiteral("certificate"), c);
    }
    o.insert(QStringLiteral("checks"), checks);
    return o;
}

PlanResult parsePlanJson(const QJsonObject& json, const QString& source)
{
    // The same reading as a TOML plan's: [plan] from the top level, a
    // [[check]] from each of "checks".
    try {
        toml::table doc, head;
        // [reference] and [certificate] are tables of their own beside [plan].
        for (auto it = json.begin(); it != json.end(); ++it)
            if (it.key() == u"reference" || it.key() == u"certificate") insertToml(doc, it.key(), it.value());
            else if (it.key() != u"checks") insertToml(head, it.key(), it.value());
        doc.insert_or_assign("plan", std::move(head));
        if (json.contains(u"checks")) insertToml(doc, QStringLiteral("check"), json[u"checks"]);
        return {plan(doc), {}};
    } catch (const Refusal& r) {
        return {std::nullopt, QStringLiteral("%1: %2").arg(source, r.what)};
    }
}

}  // namespace quorvid::evaluate
