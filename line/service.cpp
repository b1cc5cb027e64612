#include "service.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>

#include <cmath>

namespace quorvid::line {

namespace {

struct Refusal {
    QString line;
};

// The window a request asks for; the snapshot's own when it names none.
std::optional<Window> windowOf(const Param& param, const Snapshot& s, QString* why)
{
    const std::optional<QString> since = param("since"), until = param("until");
    if (!since && !until) return s.window;
    Window w;
    for (const auto& [name, given, into] : {std::tuple{"since", since, &w.since}, std::tuple{"until", until, &w.until}}) {
        if (!given) continue;
        const std::optional<qint64> ms = utcMs(*given);
        if (!ms) {
            *why = QStringLiteral("%1: not a UTC time such as 2026-12-07T14:00:00Z or a day such as 2026-12-07").arg(QLatin1String(name));
            return std::nullopt;
        }
        *into = *ms;
    }
    if (!until) w.until = s.window.until;
    if (!since) w.since = w.until - kDayMs;
    if (w.until <= w.since) {
        *why = QStringLiteral("until: not after since");
        return std::nullopt;
    }
    if (w.until - w.since > kMaxWindowMs) {
        *why = QStringLiteral("since: a window is at most 400 days");
        return std::nullopt;
    }
    return w;
}

// The figures' bytes with what every answer carries appended.
Reply jsonReply(const Answer& a, const Published& p, qint64 now, const std::optional<Window>& window)
{
    const Snapshot& s = *p.snapshot;
    QByteArray body = a.head;
    body += ",\"as_of\":\"" + utcText(s.asOfMs).toLatin1() + "\",\"stale\":" + (p.stale ? "true" : "false") +
            ",\"age_s\":" + QByteArray::number(std::max<qint64>(0, now - s.asOfMs) / 1000.0, 'g', 17);
    if (window)
        body += ",\"since\":\"" + utcText(window->since).toLatin1() + "\",\"until\":\"" + utcText(window->until).toLatin1() + '"';
    body += '}';
    return {200, "application/json", body, a.etag};
}

}  // namespace

Reply textReply(int status, const QString& line) { return {status, "text/plain; charset=utf-8", line.toUtf8() + '\n', {}}; }

LineService::LineService(const Snapshotter& snapshots, std::function<qint64()> clock)
    : m_snapshots(snapshots)
    , m_clock(std::move(clock))
{
}

Reply LineService::api(Api what, const Param& param) const
{
    const Published p = m_snapshots.published();
    if (!p.snapshot) return textReply(503, QStringLiteral("no figures yet: %1").arg(p.problem.isEmpty() ? QStringLiteral("reading the store") : p.problem));
    const Snapshot& s = *p.snapshot;
    const qint64 now = m_clock();
    QString why;
    switch (what) {
    case Api::Benches:
    case Api::Yield:
    case Api::Pareto:
    case Api::Capability: {
        const std::optional<Window> w = windowOf(param, s, &why);
        if (!w) return textReply(400, why);
        const bool own = w->since == s.window.since && w->until == s.window.until;
        if (own)
            return jsonReply(what == Api::Benches ? s.benches : what == Api::Yield ? s.yield : what == Api::Pareto ? s.pareto : s.capability,
                             p, now, w);
        // The snapshot holds the rows of results as far back as the longest
        // window from its own time reaches, not the whole store's.
        const qint64 reach = what == Api::Capability ? s.data.rowsSince : what == Api::Pareto ? s.data.checksSince : w->since;
        if (w->since < reach) return textReply(400, QStringLiteral("since: the results' figures reach back to %1").arg(utcText(reach)));
        const QJsonObject figures = what == Api::Benches ? benchesJson(s.data, *w)
                                    : what == Api::Yield ? yieldJson(s.data, *w)
                                    : what == Api::Pareto ? paretoJson(s.data, *w)
                                                          : capabilityJson(s.data, *w);
        return jsonReply(answerOf(figures), p, now, w);
    }
    case Api::Spc: {
        const std::optional<QString> key = param("key");
        if (!key || key->isEmpty()) return textReply(400, QStringLiteral("key: missing; capability's key names a result"));
        {
            std::lock_guard lock(m_chartsMutex);
            if (m_chartsOf.lock() != p.snapshot) m_charts.clear(), m_chartsOf = p.snapshot;
            if (const auto at = m_charts.constFind(*key); at != m_charts.cend()) return jsonReply(*at, p, now, std::nullopt);
        }
        const std::optional<QByteArray> chart = spcJson(s.data, *key);
        if (!chart) return textReply(404, QStringLiteral("key: no result with that key in the store"));
        const Answer answer = answerOf(*chart);
        std::lock_guard lock(m_chartsMutex);
        if (m_chartsOf.lock() == p.snapshot) m_charts.insert(*key, answer);
        return jsonReply(answer, p, now, std::nullopt);
    }
    case Api::Board: {
        const std::optional<QString> id = param("id");
        if (!id || id->isEmpty()) return textReply(400, QStringLiteral("id: missing; a board's ID as stored"));
        if (id->size() > 1000) return textReply(400, QStringLiteral("id: longer than 1000 characters"));
        return jsonReply(answerOf(boardJson(s.data, *id)), p, now, std::nullopt);
    }
    }
    return textReply(404, QStringLiteral("not found"));
}

Reply LineService::healthz() const
{
    const Published p = m_snapshots.published();
    if (!p.stale && p.snapshot) return textReply(200, QStringLiteral("ok"));
    return textReply(503, QStringLiteral("store: %1").arg(p.problem.isEmpty() ? QStringLiteral("not read yet") : p.problem));
}

std::optional<Reply> LineService::pageFile(const QString& path)
{
    static const QHash<QString, std::pair<QString, QByteArray>> files{
        {QStringLiteral("/"), {QStringLiteral(":/line/index.html"), "text/html; charset=utf-8"}},
        {QStringLiteral("/line.js"), {QStringLiteral(":/line/line.js"), "text/javascript; charset=utf-8"}},
        {QStringLiteral("/line.css"), {QStringLiteral(":/line/line.css"), "text/css; charset=utf-8"}},
        {QStringLiteral("/chart.min.js"), {QStringLiteral(":/line/chart.min.js"), "text/javascript; charset=utf-8"}},
    };
    const auto at = files.find(path);
    if (at == files.end()) return std::nullopt;
    QFile f(at->first);
    if (!f.open(QIODevice::ReadOnly)) return textReply(500, QStringLiteral("the page's %1 is not in this build").arg(path));
    return Reply{200, at->second, f.readAll(), {}};
}

}  // namespace quorvid::line
