#include "storedreport.h"

#include "checkkinds.h"
#include "uncertainty.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <cmath>

namespace quorvid::evaluate {

namespace {

struct Refused {
    QString why;
};

[[noreturn]] void refuse(const QString& where, const QString& what) { throw Refused{QStringLiteral("%1: %2").arg(where, what)}; }

QString text(const QJsonObject& o, const char* key, const QString& where, bool needed = true)
{
    const QJsonValue v = o[QLatin1String(key)];
    if (v.isUndefined() && !needed) return {};
    if (!v.isString()) refuse(where, QStringLiteral("%1 is not a text").arg(QLatin1String(key)));
    return v.toString();
}

double number(const QJsonObject& o, const char* key, const QString& where)
{
    const QJsonValue v = o[QLatin1String(key)];
    if (!v.isDouble() || !std::isfinite(v.toDouble())) refuse(where, QStringLiteral("%1 is not a number").arg(QLatin1String(key)));
    return v.toDouble();
}

std::optional<double> numberOrNull(const QJsonObject& o, const char* key, const QString& where)
{
    const QJsonValue v = o[QLatin1String(key)];
    if (v.isNull() || v.isUndefined()) return std::nullopt;
    return number(o, key, where);
}

QJsonArray array(const QJsonObject& o, const char* key, const QString& where)
{
    const QJsonValue v = o[QLatin1String(key)];
    if (!v.isArray()) refuse(where, QStringLiteral("%1 is not a list").arg(QLatin1String(key)));
    return v.toArray();
}

QJsonObject object(const QJsonValue& v, const QString& where)
{
    if (!v.isObject()) refuse(where, QStringLiteral("not an object"));
    return v.toObject();
}

// Seconds as written (ms / 1000.0) back to whole milliseconds; far past any
// recording's length is refused rather than overflowed.
qint64 milliseconds(const QJsonObject& o, const char* key, const QString& where)
{
    const double s = number(o, key, where);
    if (std::abs(s) > 1e12) refuse(where, QStringLiteral("%1 is out of range").arg(QLatin1String(key)));
    return std::llround(s * 1000);
}

Verdict verdictOf(const QString& word, const QString& where)
{
    for (Verdict v : {Verdict::Pass, Verdict::Fail, Verdict::Skipped})
        if (word == verdictName(v)) return v;
    refuse(where, QStringLiteral("verdict is not pass, fail or skipped"));
}

CheckKind kindOf(const QString& name, const QString& where)
{
    for (const KindDescription& d : checkKinds())
        if (name == QLatin1String(d.name.data(), qsizetype(d.name.size()))) return d.kind;
    refuse(where, QStringLiteral("unknown kind \"%1\"").arg(name));
}

Result result(const QJsonObject& o, const QString& where)
{
    Result r;
    const QJsonValue channel = o[u"channel"];
    if (!channel.isNull()) {
        const double ch = number(o, "channel", where);
        if (ch != 1 && ch != 2) refuse(where, QStringLiteral("channel is not 1, 2 or null"));
        r.channel = int(ch);
    }
    r.quantity = text(o, "quantity", where);
    r.unit = text(o, "unit", where);
    r.reference = numberOrNull(o, "reference", where);
    r.mean = numberOrNull(o, "mean", where);
    r.sd = numberOrNull(o, "sd", where);
    r.error = numberOrNull(o, "error", where);
    r.limit = numberOrNull(o, "limit", where);
    const double n = number(o, "n", where);
    if (n < 0 || n > 1e9 || n != std::floor(n)) refuse(where, QStringLiteral("n is not a count"));
    r.n = int(n);
    r.verdict = verdictOf(text(o, "verdict", where), where);
    r.fromMs = milliseconds(o, "from_s", where);
    r.toMs = milliseconds(o, "to_s", where);
    r.message = text(o, "message", where);
    const QJsonValue marginal = o[u"marginal"];
    if (!marginal.isUndefined() && !marginal.isBool()) refuse(where, QStringLiteral("marginal is not true or false"));
    r.marginal = marginal.toBool();
    r.frequencyHz = numberOrNull(o, "frequency_hz", where);
    r.amplitudeMmHg = numberOrNull(o, "amplitude_mmHg", where);
    r.gainDb = numberOrNull(o, "gain_db", where);
    r.appliedMmHg = numberOrNull(o, "applied_mmHg", where);
    r.residualMmHg = numberOrNull(o, "residual_mmHg", where);
    r.rejectionDb = numberOrNull(o, "rejection_db", where);
    // Reports before uncertainties have neither; "not stated" is null.
    r.uncertainty = uncertaintyFromJson(o[u"uncertainty"]);
    if (o[u"statement"].isString()) r.statement = statementNamed(o[u"statement"].toString());
    return r;
}

}  // namespace

QString derivedRunId(const QJsonObject& json)
{
    // Ours, fixed for ever: the same report gives the same ID on every bench.
    static const QUuid kNamespace(QStringLiteral("5d0c6a2e-8f0b-4e61-9a57-2b7c41f3d9e8"));
    return QUuid::createUuidV5(kNamespace, QJsonDocument(json).toJson(QJsonDocument::Compact)).toString(QUuid::WithoutBraces);
}

StoredKind storedKind(const QJsonObject& json)
{
    if (json[u"station"].toBool()) return StoredKind::StationSummary;
    if (json.contains(u"history_of") && json.contains(u"runs")) return StoredKind::HistorySummary;
    if (json.contains(u"quorvid_version") && json.contains(u"checks") && json.contains(u"plan")) return StoredKind::Report;
    return StoredKind::Foreign;
}

std::optional<StoredReport> readReportJson(const QJsonObject& json, const QString& source, QString* why)
{
    try {
        StoredReport s;
        s.json = json;
        ReportInfo& info = s.info;
        const QString top = QStringLiteral("the report");
        const QString verdict = text(json, "verdict", top);
        if (verdict != u"pass" && verdict != u"fail") refuse(top, QStringLiteral("verdict is not pass or fail"));
        info.verdict = verdict == u"pass" ? Verdict::Pass : Verdict::Fail;
        info.startedUtc = text(json, "started_utc", top);
        info.version = text(json, "quorvid_version", top);
        info.operatorName = text(json, "operator", top);
        info.port = text(json, "port", top);
        info.device = text(json, "device", top);
        info.identification = text(json, "identification", top);
        info.aborted = text(json, "aborted", top, false);
        info.referenceEquipment = text(json, "reference_equipment", top, false);
        info.bench = text(json, "bench", top, false);
        info.ambient = json[u"ambient"].toString();
        info.rescoredFrom = text(json, "rescored_from", top, false);
        info.runId = text(json, "run_id", top, false);
        if (info.runId.isEmpty()) info.runId = derivedRunId(json);
        info.endedUtc = text(json, "ended_utc", top, false);
        info.boardId = text(json, "board_id", top, false);
        if (info.boardId.isEmpty()) info.boardId = info.port;

        const PlanResult plan = parsePlanJson(object(json[u"plan"], QStringLiteral("plan")), source + QStringLiteral(" plan"));
        if (!plan.plan) throw Refused{plan.error};
        info.plan = *plan.plan;

        const QJsonObject recording = object(json[u"recording"], QStringLiteral("recording"));
        info.csvPath = text(recording, "csv", QStringLiteral("recording"));
        info.bytesPath = text(recording, "bytes", QStringLiteral("recording"));
        info.bytesSha256 = text(recording, "bytes_sha256", QStringLiteral("recording"));

        const QJsonArray checks = array(json, "checks", top);
        for (qsizetype i = 0; i < checks.size(); ++i) {
            const QString where = QStringLiteral("checks[%1]").arg(i);
            const QJsonObject c = object(checks[i], where);
            CheckOutcome o;
            o.name = text(c, "name", where);
            o.kind = kindOf(text(c, "kind", where), where);
            o.verdict = verdictOf(text(c, "verdict", where), where);
            const QJsonArray results = array(c, "results", where);
            for (qsizetype k = 0; k < results.size(); ++k) {
                const QString at = QStringLiteral("%1.results[%2]").arg(where).arg(k);
                o.results.push_back(result(object(results[k], at), at));
            }
            info.checks.push_back(std::move(o));
        }
        return s;
    } catch (const Refused& r) {
        if (why) *why = r.why;
        return std::nullopt;
    }
}

std::optional<QJsonObject> readJsonFile(const QString& path, QString* why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (why) *why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxReportBytes) {
        if (why) *why = QStringLiteral("larger than %1 MiB, too large for a report").arg(kMaxReportBytes >> 20);
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (why) *why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        if (why) *why = QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return std::nullopt;
    }
    if (!doc.isObject()) {
        if (why) *why = QStringLiteral("not an evaluation report: JSON, but not an object");
        return std::nullopt;
    }
    return doc.object();
}

std::optional<StoredReport> readReportFile(const QString& path, QString* error)
{
    const QString name = QDir::toNativeSeparators(path);
    QString why;
    const std::optional<QJsonObject> json = readJsonFile(path, &why);
    if (!json) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, why);
        return std::nullopt;
    }
    switch (storedKind(*json)) {
    case StoredKind::Report: break;
    case StoredKind::StationSummary:
        if (error) *error = QStringLiteral("%1: a station's summary, not a board's report: each board has a report of its own").arg(name);
        return std::nullopt;
    case StoredKind::HistorySummary:
        if (error) *error = QStringLiteral("%1: a history summary, not a board's report").arg(name);
        return std::nullopt;
    case StoredKind::Foreign:
        if (error) *error = QStringLiteral("%1: not an evaluation report (it has no quorvid_version, plan and checks)").arg(name);
        return std::nullopt;
    }
    std::optional<StoredReport> r = readReportJson(*json, QFileInfo(path).fileName(), &why);
    if (!r && error) *error = QStringLiteral("%1: %2").arg(name, why);
    return r;
}

}  // namespace quorvid::evaluate
