#include "report.h"

#include "checkkinds.h"
#include "csvrows.h"
#include "uncertainty.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>

namespace quorvid::evaluate {

namespace {

// Characters XML 1.0 cannot carry at all, even escaped; a board may send any
// byte below 128 in its identification.
QString printable(const QString& s)
{
    QString out = s;
    for (QChar& c : out)
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') c = QChar(0xFFFD);
    return out;
}

QString esc(const QString& s) { return printable(s).toHtmlEscaped().replace(u'\'', QLatin1String("&#39;")); }

QJsonValue orNull(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); }

QString fixed(const std::optional<double>& v, int decimals = 1)
{
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("–");
}

QString seconds(qint64 ms) { return record::secondsText(ms * 1000, 3); }

// A small x/y plot as inline SVG: points or lines per series, an optional
// band (the limits) drawn beneath them.
struct Series {
    QString label, color;
    std::vector<std::pair<double, double>> points;
    bool line = false;
};

// Round ticks (1, 2 or 5 x 10^n) over [lo, hi], about five of them: a reader
// reads 0.4 and 1.2 off an axis, not 0.3984 and 1.195.
double roundStep(double lo, double hi)
{
    const double raw = (hi - lo) / 5;
    const double decade = std::pow(10, std::floor(std::log10(raw)));
    const double m = raw / decade;
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * decade;
}

std::vector<double> roundTicks(double lo, double hi, double step)
{
    std::vector<double> ticks;
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; ++k) ticks.push_back(k * step);
    return ticks;
}

// On a logarithmic axis: 1, 2 and 5 of each decade within [lo, hi].
std::vector<double> decadeTicks(double lo, double hi)
{
    std::vector<double> ticks;
    for (int d = int(std::floor(std::log10(lo))); d <= int(std::ceil(std::log10(hi))); ++d)
        for (double m : {1.0, 2.0, 5.0})
            if (const double v = m * std::pow(10, d); v >= lo * (1 - 1e-9) && v <= hi * (1 + 1e-9)) ticks.push_back(v);
    return ticks;
}

QString tickText(double v) { return QString::number(v, 'g', 6); }

enum class Axis { Linear, Log };

QString svgPlot(const QString& xLabel, const QString& yLabel, const std::vector<Series>& series,
                const std::vector<std::pair<double, std::pair<double, double>>>& band = {}, Axis xAxis = Axis::Linear)
{
    constexpr double W = 640, H = 240, L = 56, R = 130, T = 12, B = 36;
    const bool logX = xAxis == Axis::Log;
    double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    auto grow = [&](double x, double y) {
        if (logX && !(x > 0)) return;  // no place on a logarithmic axis
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    };
    for (const Series& s : series)
        for (auto [x, y] : s.points) grow(x, y);
    for (const auto& [x, lh] : band) grow(x, lh.first), grow(x, lh.second);
    if (!std::isfinite(x0)) return {};
    if (logX) {
        x0 /= 1.3, x1 *= 1.3;
    } else if (x1 - x0 < 1e-9) {
        x0 -= 1, x1 += 1;
    }
    if (y1 - y0 < 1e-9) y0 -= 1, y1 += 1;
    const double padY = (y1 - y0) * 0.08;
    y0 -= padY, y1 += padY;
    // Each linear axis ends on a tick.
    const double yStep = roundStep(y0, y1);
    y0 = std::floor(y0 / yStep + 1e-9) * yStep, y1 = std::ceil(y1 / yStep - 1e-9) * yStep;
    double xStep = 0;
    if (!logX) {
        xStep = roundStep(x0, x1);
        x0 = std::floor(x0 / xStep + 1e-9) * xStep, x1 = std::ceil(x1 / xStep - 1e-9) * xStep;
    }
    auto fx = [&](double x) { return logX ? std::log10(x) : x; };
    auto px = [&](double x) { return L + (fx(x) - fx(x0)) / (fx(x1) - fx(x0)) * (W - L - R); };
    auto py = [&](double y) { return H - B - (y - y0) / (y1 - y0) * (H - T - B); };
    auto n = [](double v) { return QString::number(v, 'f', 1); };
    QString s = QStringLiteral("<svg class=\"plot\" viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" role=\"img\">").arg(W).arg(H);
    s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#fff\" stroke=\"#888\"/>")
             .arg(n(L), n(T), n(W - L - R), n(H - T - B));
    if (!band.empty()) {
        QString upper, lower;
        for (const auto& [x, lh] : band) upper += n(px(x)) + u',' + n(py(lh.second)) + u' ';
        for (auto it = band.rbegin(); it != band.rend(); ++it) lower += n(px(it->first)) + u',' + n(py(it->second.first)) + u' ';
        s += QStringLiteral("<polygon points=\"%1%2\" fill=\"#dfeedd\" stroke=\"#9c9\"/>").arg(upper, lower);
    }
    if (y0 < 0 && y1 > 0)
        s += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#bbb\"/>").arg(n(L), n(W - R), n(py(0)));
    for (double xv : logX ? decadeTicks(x0, x1) : roundTicks(x0, x1, xStep)) {
        s += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" stroke=\"#888\"/>").arg(n(px(xv)), n(H - B), n(H - B + 4));
        s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>").arg(n(px(xv)), n(H - B + 14), tickText(xv));
    }
    for (double yv : roundTicks(y0, y1, yStep)) {
        s += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#888\"/>").arg(n(L - 4), n(L), n(py(yv)));
        s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>").arg(n(L - 6), n(py(yv) + 4), tickText(yv));
    }
    s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>").arg(n((L + W - R) / 2), n(H - 4), esc(xLabel));
    s += QStringLiteral("<text x=\"12\" y=\"%1\" transform=\"rotate(-90 12 %1)\" text-anchor=\"middle\">%2</text>").arg(n((T + H - B) / 2), esc(yLabel));
    int legend = 0;
    for (const Series& se : series) {
        if (se.line && se.points.size() > 1) {
            QString pts;
            for (auto [x, y] : se.points) pts += n(px(x)) + u',' + n(py(y)) + u' ';
            s += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"1.5\"/>").arg(pts, se.color);
        } else {
            for (auto [x, y] : se.points)
                s += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"%3\"/>").arg(n(px(x)), n(py(y)), se.color);
        }
        const double ly = T + 12 + 16 * legend++;
        s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"%3\"/><text x=\"%4\" y=\"%5\">%6</text>")
                 .arg(n(W - R + 10), n(ly - 9), se.color, n(W - R + 24), n(ly), esc(se.label));
    }
    if (!band.empty()) {
        const double ly = T + 12 + 16 * legend;
        s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"#dfeedd\" stroke=\"#9c9\"/><text x=\"%3\" y=\"%4\">limit</text>")
                 .arg(n(W - R + 10), n(ly - 9), n(W - R + 24), n(ly));
    }
    return s + QStringLiteral("</svg>");
}

const QString kColors[2] = {QStringLiteral("#c0392b"), QStringLiteral("#2c6fbb")};

QString plotFor(const CheckOutcome& o)
{
    const auto plot = kindDescription(o.kind).plot;
    return plot ? plot(o) : QString();
}

// A check's limits as its plan gives them, the marginal band and where the
// limits come from, above its results.
QString limitsHtml(const Plan& plan, const Check& check)
{
    Plan alone = plan;
    alone.checks = {check};
    const QJsonObject written = planJson(alone)[u"checks"].toArray().at(0).toObject();
    QStringList limits;
    for (const Setting<Check>& s : kindDescription(check.kind).keys) {
        const QString key = QString::fromUtf8(s.key->name.data(), qsizetype(s.key->name.size()));
        // What was measured, the references and the source are not limits.
        if (s.key->rejudge != Rejudge::Free || std::holds_alternative<MeanOf<Check>>(s.key->field) || key == u"source") continue;
        const QJsonValue v = written[key];
        if (v.isDouble()) limits << QStringLiteral("%1 = %2").arg(key, QString::number(v.toDouble()));
    }
    QString out;
    if (!limits.isEmpty()) out += QStringLiteral("Limits: %1").arg(esc(limits.join(QStringLiteral(", "))));
    if (const std::optional<double> band = plan.marginalFor(check); band && !limits.isEmpty())
        out += QStringLiteral("%1MARGINAL: passed with |error| above %2 % of the limit")
                   .arg(out.isEmpty() ? QString() : QStringLiteral("; "), QString::number(*band));
    if (check.source && !check.source->isEmpty())
        out += QStringLiteral("%1Source: %2").arg(out.isEmpty() ? QString() : QStringLiteral(". "), esc(*check.source));
    return out.isEmpty() ? QString() : QStringLiteral("<p class=\"limits\">%1</p>\n").arg(out);
}

// A kind's budget, once: that of its result with the largest U.
QString budgetHtml(const CheckOutcome& o)
{
    const Result* widest = nullptr;
    for (const Result& r : o.results)
        if (r.uncertainty && (!widest || r.uncertainty->U > widest->uncertainty->U)) widest = &r;
    if (!widest) return {};
    const Uncertainty& u = *widest->uncertainty;
    auto dof = [](std::optional<double> v) { return v ? QString::number(*v, 'f', 1) : QStringLiteral("∞"); };
    QString h = QStringLiteral("<p class=\"caption\">The uncertainty budget of %1 (%2):</p>\n<table><tr><th class=\"t\">Component</th>"
                               "<th class=\"t\">Distribution</th><th>Standard uncertainty</th><th>Degrees of freedom</th></tr>\n")
                    .arg(esc(resultName(*widest)), esc(widest->unit));
    for (const UncertaintyComponent& c : u.components)
        h += QStringLiteral("<tr><td class=\"t\">%1</td><td class=\"t\">%2</td><td>%3</td><td>%4</td></tr>\n")
                 .arg(esc(c.name), c.distribution, QString::number(c.value, 'f', 4), dof(c.dof));
    h += QStringLiteral("<tr><th class=\"t\" colspan=\"2\">u<sub>c</sub>, ν<sub>eff</sub>; k, U</th><td>%1</td><td>%2</td></tr>\n"
                        "<tr><td class=\"t\" colspan=\"2\">k = %3, U = k u<sub>c</sub></td><td>%4</td><td></td></tr>\n</table>\n")
             .arg(QString::number(u.uc, 'f', 4), dof(u.nuEff), QString::number(u.k, 'f', 2), QString::number(u.U, 'f', 4));
    return h;
}

bool refused(const QSaveFile& file, QString* error)
{
    if (error) *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
    return false;
}

}  // namespace

QString htmlEscaped(const QString& text) { return esc(text); }
QString xmlCarried(const QString& text) { return printable(text); }

QString staticPlot(const CheckOutcome& o)
{
    std::vector<Series> series;
    std::vector<std::pair<double, std::pair<double, double>>> band;
    for (int ch = 1; ch <= 2; ++ch) {
        Series s{QStringLiteral("ch%1 error").arg(ch), kColors[ch - 1], {}, true};
        for (const Result& r : o.results)
            if (r.channel == ch && r.reference && r.error) s.points.push_back({*r.reference, *r.error});
        series.push_back(s);
    }
    for (const Result& r : o.results)
        if (r.channel == 1 && r.reference && r.limit) band.push_back({*r.reference, {-*r.limit, *r.limit}});
    return svgPlot(QStringLiteral("reference (mmHg)"), QStringLiteral("error (mmHg)"), series, band);
}

QString speedPlot(const CheckOutcome& o)
{
    std::vector<Series> series;
    std::vector<std::pair<double, std::pair<double, double>>> band;
    Series measured{QStringLiteral("measured"), kColors[0], {}, false};
    for (const Result& r : o.results)
        if (r.reference && r.error) {
            measured.points.push_back({*r.reference, *r.error});
            band.push_back({*r.reference, {-r.limit.value_or(0), r.limit.value_or(0)}});
        }
    series.push_back(measured);
    return svgPlot(QStringLiteral("speed set (frames/s)"), QStringLiteral("measured - set (frames/s)"), series, band);
}

QString dynamicPlot(const CheckOutcome& o)
{
    if (o.beats.empty()) return {};
    QString out;
    for (int ch = 1; ch <= 2; ++ch) {
        Series sys{QStringLiteral("board sys"), kColors[0], {}, false}, dia{QStringLiteral("board dia"), kColors[1], {}, false};
        Series max{QStringLiteral("wave max"), QStringLiteral("#e59866"), {}, true}, min{QStringLiteral("wave min"), QStringLiteral("#85c1e9"), {}, true};
        int beat = 0;
        for (const BeatPoint& b : o.beats) {
            if (b.channel != ch) continue;
            ++beat;
            sys.points.push_back({double(beat), b.sys}), dia.points.push_back({double(beat), b.dia});
            max.points.push_back({double(beat), b.waveMax}), min.points.push_back({double(beat), b.waveMin});
        }
        out += QStringLiteral("<p class=\"caption\">Channel %1: the board's beat values against its own waveform</p>").arg(ch);
        out += svgPlot(QStringLiteral("beat (number)"), QStringLiteral("pressure (mmHg)"), {max, min, sys, dia});
    }
    return out;
}

QString frequencyPlot(const CheckOutcome& o)
{
    QString out;
    for (int ch = 1; ch <= 2; ++ch) {
        Series response{QStringLiteral("ch%1 gain").arg(ch), kColors[ch - 1], {}, true};
        Series pass{QStringLiteral("pass"), QStringLiteral("#1e7b34"), {}, false};
        Series marginal{QStringLiteral("marginal"), QStringLiteral("#d68910"), {}, false};
        Series fail{QStringLiteral("fail"), QStringLiteral("#b3261e"), {}, false};
        std::vector<std::pair<double, std::pair<double, double>>> band;
        for (const Result& r : o.results) {
            if (r.channel != ch || !r.frequencyHz || !r.error) continue;
            const std::pair<double, double> at{*r.frequencyHz, *r.error};
            response.points.push_back(at);
            (r.marginal ? marginal : r.verdict == Verdict::Pass ? pass : fail).points.push_back(at);
            if (r.limit) band.push_back({*r.frequencyHz, {-*r.limit, *r.limit}});
        }
        if (response.points.empty()) continue;
        std::vector<Series> series{response};
        for (const Series* s : {&pass, &marginal, &fail})
            if (!s->points.empty()) series.push_back(*s);
        out += QStringLiteral("<p class=\"caption\">Channel %1: the gain at each frequency against the lowest's</p>").arg(ch);
        out += svgPlot(QStringLiteral("frequency (Hz)"), QStringLiteral("gain (dB)"), series, band, Axis::Log);
    }
    return out;
}

QString mainsPlot(const CheckOutcome& o)
{
    QString out;
    for (int ch = 1; ch <= 2; ++ch) {
        Series applied{QStringLiteral("applied"), QStringLiteral("#5f6368"), {}, true};  // grey: red and green say fail and pass
        Series pass{QStringLiteral("left, pass"), QStringLiteral("#1e7b34"), {}, false};
        Series fail{QStringLiteral("left, fail"), QStringLiteral("#b3261e"), {}, false};
        for (const Result& r : o.results) {
            if (r.channel != ch || !r.frequencyHz || !r.appliedMmHg || !r.residualMmHg) continue;
            applied.points.push_back({*r.frequencyHz, *r.appliedMmHg});
            (r.verdict == Verdict::Pass ? pass : fail).points.push_back({*r.frequencyHz, *r.residualMmHg});
        }
        if (applied.points.empty()) continue;
        std::vector<Series> series{applied};
        for (const Series* s : {&pass, &fail})
            if (!s->points.empty()) series.push_back(*s);
        out += QStringLiteral("<p class=\"caption\">Channel %1: the interference applied and what the filter left of it</p>").arg(ch);
        out += svgPlot(QStringLiteral("frequency (Hz)"), QStringLiteral("amplitude (mmHg)"), series);
    }
    return out;
}

QJsonObject reportJson(const ReportInfo& info)
{
    QJsonArray checks;
    for (const CheckOutcome& o : info.checks) {
        QJsonArray results;
        for (const Result& r : o.results) {
            QJsonObject row{
                {QStringLiteral("channel"), r.channel ? QJsonValue(r.channel) : QJsonValue(QJsonValue::Null)},
                {QStringLiteral("quantity"), r.quantity},
                {QStringLiteral("unit"), r.unit},
                {QStringLiteral("reference"), orNull(r.reference)},
                {QStringLiteral("mean"), orNull(r.mean)},
                {QStringLiteral("sd"), orNull(r.sd)},
                {QStringLiteral("n"), r.n},
                {QStringLiteral("error"), orNull(r.error)},
                {QStringLiteral("limit"), orNull(r.limit)},
                {QStringLiteral("verdict"), verdictName(r.verdict)},
                {QStringLiteral("from_s"), r.fromMs / 1000.0},
                {QStringLiteral("to_s"), r.toMs / 1000.0},
                {QStringLiteral("message"), r.message},
            };
            if (r.marginal) row.insert(QStringLiteral("marginal"), true);
            if (r.frequencyHz) row.insert(QStringLiteral("frequency_hz"), *r.frequencyHz);
            if (r.frequencyHz && !r.appliedMmHg) row.insert(QStringLiteral("amplitude_mmHg"), orNull(r.amplitudeMmHg));
            if (r.frequencyHz && !r.appliedMmHg) row.insert(QStringLiteral("gain_db"), orNull(r.gainDb));
            if (r.appliedMmHg) {
                row.insert(QStringLiteral("applied_mmHg"), *r.appliedMmHg);
                row.insert(QStringLiteral("residual_mmHg"), orNull(r.residualMmHg));
                row.insert(QStringLiteral("rejection_db"), orNull(r.rejectionDb));
            }
            row.insert(QStringLiteral("uncertainty"), uncertaintyJson(r.uncertainty));
            row.insert(QStringLiteral("statement"), r.statement ? QJsonValue(statementName(*r.statement)) : QJsonValue(QJsonValue::Null));
            results.append(row);
        }
        checks.append(QJsonObject{{QStringLiteral("name"), o.name},
                                  {QStringLiteral("kind"), kindName(o.kind)},
                                  {QStringLiteral("verdict"), verdictName(o.verdict)},
                                  {QStringLiteral("results"), results}});
    }
    QJsonObject o{
        {QStringLiteral("verdict"), info.verdict == Verdict::Pass ? QStringLiteral("pass") : QStringLiteral("fail")},
        {QStringLiteral("started_utc"), info.startedUtc},
        {QStringLiteral("quorvid_version"), info.version},
        {QStringLiteral("operator"), info.operatorName},
        {QStringLiteral("board_id"), info.boardId},
        {QStringLiteral("port"), info.port},
        {QStringLiteral("device"), info.device},
        {QStringLiteral("identification"), info.identification},
        {QStringLiteral("plan"), planJson(info.plan)},
        {QStringLiteral("recording"), QJsonObject{{QStringLiteral("csv"), info.csvPath},
                                                  {QStringLiteral("bytes"), info.bytesPath},
                                                  {QStringLiteral("bytes_sha256"), info.bytesSha256}}},
        {QStringLiteral("checks"), checks},
    };
    if (!info.aborted.isEmpty()) o.insert(QStringLiteral("aborted"), info.aborted);
    if (!info.runId.isEmpty()) o.insert(QStringLiteral("run_id"), info.runId);
    if (!info.endedUtc.isEmpty()) o.insert(QStringLiteral("ended_utc"), info.endedUtc);
    o.insert(QStringLiteral("reference_equipment"), info.referenceEquipment);
    if (!info.bench.isEmpty()) o.insert(QStringLiteral("bench"), info.bench);
    if (!info.rescoredFrom.isEmpty()) o.insert(QStringLiteral("rescored_from"), info.rescoredFrom);
    o.insert(QStringLiteral("decision_rule"), decisionRuleName(info.plan.rule()));
    o.insert(QStringLiteral("guard_factor"), info.plan.guard());
    if (!info.ambient.isEmpty()) o.insert(QStringLiteral("ambient"), info.ambient);
    for (auto it = info.carried.begin(); it != info.carried.end(); ++it)
        if (!o.contains(it.key())) o.insert(it.key(), it.value());
    return o;
}

QString reportHtml(const ReportInfo& info)
{
    const bool pass = info.verdict == Verdict::Pass;
    QString h = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Evaluation %1</title>\n<style>\n"
        "@page { size: A4; margin: 15mm; }\n"
        "body { font-family: sans-serif; font-size: 10pt; color: #222; max-width: 190mm; margin: 1em auto; }\n"
        "h1 { font-size: 16pt; margin: 0 0 .3em; } h2 { font-size: 12pt; margin: 1.2em 0 .3em; break-after: avoid; }\n"
        "table { border-collapse: collapse; width: 100%; margin: .3em 0; }\n"
        "th, td { border: 1px solid #bbb; padding: 2px 5px; text-align: right; } th { background: #eee; }\n"
        "td.t, th.t { text-align: left; } dl { display: grid; grid-template-columns: 11em auto; margin: 0; }\n"
        "dt { font-weight: bold; } dd { margin: 0; } .marginal { color: #8a5300; font-weight: bold; } .pass { color: #1e7b34; } .fail { color: #b3261e; font-weight: bold; }\n"
        ".skipped { color: #8a6d00; } .verdict { font-size: 18pt; padding: .2em .5em; border: 2px solid; display: inline-block; margin: .4em 0; }\n"
        "section { break-inside: avoid; } svg.plot { max-width: 100%; height: auto; font-size: 10px; }\n"
        ".caption { margin: .5em 0 0; font-style: italic; } .limits { margin: .2em 0; }\n"
        "</style></head><body>\n")
                    .arg(esc(info.identification));
    h += info.boardId.isEmpty() ? QStringLiteral("<h1>Board evaluation</h1>\n<dl>")
                                : QStringLiteral("<h1>Board evaluation: %1</h1>\n<dl>").arg(esc(info.boardId));
    const std::pair<const char*, QString> head[] = {
        {"Board ID", info.boardId}, {"Board", info.identification}, {"Date (UTC)", info.startedUtc}, {"Run", info.runId}, {"Operator", info.operatorName},
        {"Reference equipment", info.referenceEquipment.isEmpty() ? QStringLiteral("not given") : info.referenceEquipment},
        {"Port", info.device.isEmpty() || info.device == info.port ? info.port : QStringLiteral("%1 (%2)").arg(info.port, info.device)},
        {"Quorvid", info.version}, {"Plan", info.plan.name},
        {"Recording", QStringLiteral("%1, %2").arg(info.csvPath, info.bytesPath)}, {"SHA-256", info.bytesSha256}};
    for (const auto& [k, v] : head) h += QStringLiteral("<dt>%1</dt><dd>%2</dd>").arg(QLatin1String(k), esc(v));
    if (!info.rescoredFrom.isEmpty())
        h += QStringLiteral("<dt>Judged again</dt><dd>from %1, under the plan below</dd>").arg(esc(info.rescoredFrom));
    h += QStringLiteral("</dl>\n<div class=\"verdict %1\">%2</div>\n").arg(pass ? QStringLiteral("pass") : QStringLiteral("fail"), pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    if (!info.aborted.isEmpty()) h += QStringLiteral("<p class=\"fail\">Ended early: %1</p>\n").arg(esc(info.aborted));

    h += QStringLiteral("<h2>Summary</h2>\n<table><tr><th class=\"t\">Check</th><th class=\"t\">Kind</th><th>Rows</th><th>Failed</th><th>Marginal</th><th class=\"t\">Verdict</th></tr>\n");
    for (const CheckOutcome& o : info.checks) {
        h += QStringLiteral("<tr><td class=\"t\">%1</td><td class=\"t\">%2</td><td>%3</td><td>%4</td><td>%5</td><td class=\"t %6\">%7</td></tr>\n")
                 .arg(esc(o.name), kindName(o.kind)).arg(o.results.size()).arg(failedResults(o)).arg(marginalResults(o))
                 .arg(verdictName(o.verdict), verdictName(o.verdict).toUpper());
    }
    h += QStringLiteral("</table>\n");

    std::set<CheckKind> budgetShown;
    for (const CheckOutcome& o : info.checks) {
        h += QStringLiteral("<section><h2>%1 <span class=\"%2\">%3</span></h2>\n").arg(esc(o.name), verdictName(o.verdict), verdictName(o.verdict).toUpper());
        const auto planned = std::find_if(info.plan.checks.begin(), info.plan.checks.end(),
                                          [&o](const Check& c) { return c.name == o.name && c.kind == o.kind; });
        if (planned != info.plan.checks.end()) h += limitsHtml(info.plan, *planned);
        // U beside each error only where the plan states its reference: a
        // report without one reads as it always did.
        const bool stated = info.plan.reference.has_value();
        h += QStringLiteral("<table><tr><th>Ch</th><th class=\"t\">Quantity</th><th>Reference</th><th>Mean</th><th>SD</th><th>n</th>"
                            "<th>Error</th>%1<th>Limit</th><th class=\"t\">Verdict</th><th>From (s)</th><th>To (s)</th><th class=\"t\">Note</th></tr>\n")
                 .arg(stated ? QStringLiteral("<th>U (k)</th>") : QString());
        for (const Result& r : o.results) {
            const QString u = !stated ? QString()
                              : r.uncertainty ? QStringLiteral("<td>±%1 (%2)</td>").arg(fixed(r.uncertainty->U, 2), QString::number(r.uncertainty->k, 'f', 2))
                                              : QStringLiteral("<td>–</td>");
            h += QStringLiteral("<tr><td>%1</td><td class=\"t\">%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td>%14<td>%8</td>"
                                "<td class=\"t %9\">%10</td><td>%11</td><td>%12</td><td class=\"t\">%13</td></tr>\n")
                     .arg(r.channel ? QString::number(r.channel) : QStringLiteral("–"),
                          esc(r.quantity + (r.unit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.unit))),
                          fixed(r.reference), fixed(r.mean), fixed(r.sd, 2), QString::number(r.n), fixed(r.error), fixed(r.limit),
                          r.marginal ? QStringLiteral("marginal") : verdictName(r.verdict))
                     .arg(verdictWords(r), seconds(r.fromMs), seconds(r.toMs), esc(r.message), u);
        }
        h += QStringLiteral("</table>\n");
        if (stated && budgetShown.insert(o.kind).second) h += budgetHtml(o);
        h += plotFor(o) + QStringLiteral("</section>\n");
    }
    h += QStringLiteral("</body></html>\n");
    return h;
}

QByteArray reportJUnit(const ReportInfo& info)
{
    QByteArray out;
    QXmlStreamWriter x(&out);
    x.setAutoFormatting(true);
    x.writeStartDocument();
    x.writeStartElement(QStringLiteral("testsuites"));
    x.writeAttribute(QStringLiteral("name"), printable(info.boardId.isEmpty() ? QStringLiteral("Evaluation of %1").arg(info.identification)
                                                                              : QStringLiteral("Evaluation of %1: %2").arg(info.boardId, info.identification)));
    x.writeAttribute(QStringLiteral("tests"), QString::number(resultCount(info.checks)));
    x.writeAttribute(QStringLiteral("failures"), QString::number(failedResults(info.checks)));
    for (const CheckOutcome& o : info.checks) {
        x.writeStartElement(QStringLiteral("testsuite"));
        // Suites of several boards' files side by side stay apart by the board.
        x.writeAttribute(QStringLiteral("name"), printable(info.boardId.isEmpty() ? o.name : info.boardId + QStringLiteral(": ") + o.name));
        x.writeAttribute(QStringLiteral("tests"), QString::number(o.results.size()));
        x.writeAttribute(QStringLiteral("failures"), QString::number(failedResults(o)));
        x.writeAttribute(QStringLiteral("skipped"), QString::number(skippedResults(o)));
        x.writeAttribute(QStringLiteral("timestamp"), info.startedUtc);
        writeJUnitProperties(x, {{"board_id", info.boardId},
                                 {"run_id", info.runId},
                                 {"identification", info.identification},
                                 {"operator", info.operatorName},
                                 {"port", info.port},
                                 {"recording", info.csvPath}});
        for (const Result& r : o.results) writeJUnitCase(x, QStringLiteral("quorvid.%1").arg(o.name), r);
        x.writeEndElement();
    }
    x.writeEndElement();
    x.writeEndDocument();
    return out;
}

void writeJUnitProperties(QXmlStreamWriter& x, std::initializer_list<std::pair<const char*, QString>> properties)
{
    x.writeStartElement(QStringLiteral("properties"));
    for (const auto& [k, v] : properties) {
        x.writeStartElement(QStringLiteral("property"));
        x.writeAttribute(QStringLiteral("name"), QLatin1String(k));
        x.writeAttribute(QStringLiteral("value"), printable(v));
        x.writeEndElement();
    }
    x.writeEndElement();
}

void writeJUnitCase(QXmlStreamWriter& x, const QString& classname, const Result& r)
{
    x.writeStartElement(QStringLiteral("testcase"));
    x.writeAttribute(QStringLiteral("classname"), printable(classname));
    Result named = r;
    named.message.clear();
    x.writeAttribute(QStringLiteral("name"), printable(describe(named).section(u':', 0, 0)));
    x.writeAttribute(QStringLiteral("time"), seconds(r.toMs - r.fromMs));
    if (r.verdict != Verdict::Pass) {
        const bool failed = r.verdict == Verdict::Fail;
        x.writeStartElement(failed ? QStringLiteral("failure") : QStringLiteral("skipped"));
        x.writeAttribute(QStringLiteral("message"), printable(failed ? describe(r) : r.message));
        x.writeEndElement();
    }
    x.writeEndElement();
}

namespace {

bool failed(const Result& r) { return r.verdict == Verdict::Fail; }
bool skipped(const Result& r) { return r.verdict == Verdict::Skipped; }
bool marginal(const Result& r) { return r.marginal; }

int countIn(const CheckOutcome& o, bool (*pred)(const Result&)) { return int(std::count_if(o.results.begin(), o.results.end(), pred)); }

int countIn(const std::vector<CheckOutcome>& checks, bool (*pred)(const Result&))
{
    int n = 0;
    for (const CheckOutcome& o : checks) n += countIn(o, pred);
    return n;
}

}  // namespace

int resultCount(const std::vector<CheckOutcome>& checks)
{
    return countIn(checks, [](const Result&) { return true; });
}

int failedResults(const std::vector<CheckOutcome>& checks) { return countIn(checks, failed); }
int failedResults(const CheckOutcome& outcome) { return countIn(outcome, failed); }
int skippedResults(const CheckOutcome& outcome) { return countIn(outcome, skipped); }
int marginalResults(const std::vector<CheckOutcome>& checks) { return countIn(checks, marginal); }
int marginalResults(const CheckOutcome& outcome) { return countIn(outcome, marginal); }

bool writeReport(const ReportInfo& info, const QString& name, QString* error)
{
    return writeAllOrNone({
                              {name + QStringLiteral(".json"), QJsonDocument(reportJson(info)).toJson(QJsonDocument::Indented)},
                              {name + QStringLiteral(".html"), reportHtml(info).toUtf8()},
                              {name + QStringLiteral(".xml"), reportJUnit(info)},
                          },
                          error);
}

bool writeAllOrNone(const std::vector<std::pair<QString, QByteArray>>& files, QString* error)
{
    // All or none: a NAME.json with its verdict beside a page that could not
    // be written would pass for a report. Each is written aside first, and
    // none takes its name before all have been written.
    std::vector<std::unique_ptr<QSaveFile>> written;  // one not committed is discarded
    for (const auto& [path, bytes] : files) {
        auto file = std::make_unique<QSaveFile>(path);
        if (!file->open(QIODevice::WriteOnly) || file->write(bytes) != bytes.size()) return refused(*file, error);
        written.push_back(std::move(file));
    }
    QStringList named;
    for (const std::unique_ptr<QSaveFile>& file : written) {
        if (!file->commit()) {
            for (const QString& path : named) QFile::remove(path);
            return refused(*file, error);
        }
        named << file->fileName();
    }
    return true;
}

QString linePlot(const QString& xLabel, const QString& yLabel, const std::vector<PlotLine>& lines)
{
    static const QString palette[] = {QStringLiteral("#c0392b"), QStringLiteral("#2c6fbb"), QStringLiteral("#1e8449"),
                                      QStringLiteral("#8e44ad"), QStringLiteral("#d68910"), QStringLiteral("#17a589"),
                                      QStringLiteral("#7f8c8d"), QStringLiteral("#a04000")};
    std::vector<Series> series;
    for (std::size_t i = 0; i < lines.size(); ++i)
        series.push_back({lines[i].label, palette[i % std::size(palette)], lines[i].points, true});
    return svgPlot(xLabel, yLabel, series);
}

QString verdictWords(const Result& r)
{
    if (r.statement == Statement::ConditionalPass) return QStringLiteral("COND PASS");
    if (r.statement == Statement::ConditionalFail) return QStringLiteral("COND FAIL");
    return r.marginal ? QStringLiteral("MARGINAL") : verdictName(r.verdict).toUpper();
}

}  // namespace quorvid::evaluate
