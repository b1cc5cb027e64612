#include "figures.h"

#include "checkkinds.h"
#include "plan.h"
#include "resultsstore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace quorvid::line {

namespace {

QJsonValue orNull(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); }
QJsonValue share(qint64 of, qint64 in) { return in > 0 ? QJsonValue(double(of) / double(in)) : QJsonValue(QJsonValue::Null); }

bool inWindow(const LineRun& r, const Window& w) { return r.counts() && r.startedMs >= w.since && r.startedMs < w.until; }

// The yield's figures of some of the window's runs (their indexes, oldest first).
QJsonObject yieldOf(const LineData& data, const std::vector<std::size_t>& runs, const QHash<QString, std::size_t>& first)
{
    qint64 passed = 0, withoutId = 0, firstPass = 0, firstPassed = 0, retests = 0;
    std::map<QString, bool> latest;  // board: its latest run in these passed
    for (std::size_t i : runs) {
        const LineRun& r = data.runs[i];
        passed += r.passed();
        if (r.boardId.isEmpty()) {
            ++withoutId;
            continue;
        }
        latest[r.boardId] = r.passed();
        if (first.value(r.boardId) == i) {
            ++firstPass;
            firstPassed += r.passed();
        } else {
            ++retests;
        }
    }
    const auto finalPassed = std::count_if(latest.begin(), latest.end(), [](const auto& b) { return b.second; });
    return QJsonObject{
        {QStringLiteral("runs"), qint64(runs.size())},
        {QStringLiteral("passed"), passed},
        {QStringLiteral("failed"), qint64(runs.size()) - passed},
        {QStringLiteral("runs_without_board_id"), withoutId},
        {QStringLiteral("boards"), qint64(latest.size())},
        {QStringLiteral("first_pass_boards"), firstPass},
        {QStringLiteral("first_pass_yield"), share(firstPassed, firstPass)},
        {QStringLiteral("final_yield"), share(qint64(finalPassed), qint64(latest.size()))},
        {QStringLiteral("retests"), retests},
    };
}

std::vector<std::size_t> windowRuns(const LineData& data, const Window& w)
{
    std::vector<std::size_t> out;
    const auto from = std::lower_bound(data.runs.begin(), data.runs.end(), w.since,
                                       [](const LineRun& r, qint64 t) { return r.startedMs < t; });
    for (auto it = from; it != data.runs.end() && it->startedMs < w.until; ++it)
        if (inWindow(*it, w)) out.push_back(std::size_t(it - data.runs.begin()));
    return out;
}

bool knownKind(const QString& name)
{
    return std::any_of(evaluate::checkKinds().begin(), evaluate::checkKinds().end(), [&name](const evaluate::KindDescription& d) {
        return name == QLatin1String(d.name.data(), qsizetype(d.name.size()));
    });
}

}  // namespace

void markCopies(LineData& data)
{
    QHash<QString, std::size_t> counted;  // by recording
    for (std::size_t i = 0; i < data.runs.size(); ++i) {
        LineRun& run = data.runs[i];
        run.copy = false;
        const auto at = counted.find(run.recording);
        if (at == counted.end()) {
            counted.insert(run.recording, i);
            continue;
        }
        std::size_t& kept = *at;
        std::size_t dropped = i;
        const LineRun& held = data.runs[kept];
        if (!store::countedBefore(held.judgedAgain, held.storedPath, run.judgedAgain, run.storedPath)) std::swap(dropped, kept);
        data.runs[dropped].copy = true;
    }
}

void indexFirstRuns(LineData& data)
{
    // The runs come oldest first: the first seen.
    data.firstRun.clear();
    for (std::size_t i = 0; i < data.runs.size(); ++i) {
        const LineRun& r = data.runs[i];
        if (r.counts() && !r.boardId.isEmpty() && !data.firstRun.contains(r.boardId)) data.firstRun.insert(r.boardId, i);
    }
}

void KeyFigures::add(const KeyRow& row)
{
    const Seq at{row.startedMs, row.run, row.position};
    if (n == 0 || at < first) first = at;
    ++n;
    passed += row.passed;
    marginal += row.marginal;
    if (row.hasLimit && (!limited || at > lastLimit)) limit = row.limit, lastLimit = at, limited = true;
    if (!row.hasError) return;
    minError = sums.count > 0 ? std::min(minError, row.error) : row.error;
    maxError = sums.count > 0 ? std::max(maxError, row.error) : row.error;
    sums.add(row.error);
}

void KeyFigures::add(const KeyFigures& other)
{
    if (other.n == 0) return;
    if (n == 0 || other.first < first) first = other.first;
    n += other.n;
    passed += other.passed;
    marginal += other.marginal;
    if (other.limited && (!limited || other.lastLimit > lastLimit)) limit = other.limit, lastLimit = other.lastLimit, limited = true;
    if (other.sums.count == 0) return;
    minError = sums.count > 0 ? std::min(minError, other.minError) : other.minError;
    maxError = sums.count > 0 ? std::max(maxError, other.maxError) : other.maxError;
    sums.count += other.sums.count;
    sums.sum += other.sums.sum;
    sums.squaresHigh += other.sums.squaresHigh;
    sums.squaresLow += other.sums.squaresLow;
}

std::shared_ptr<const HeldDay> heldDay(std::vector<KeyRow> rows, const QSet<qint64>& uncounted)
{
    auto day = std::make_shared<HeldDay>();
    day->rows = std::move(rows);
    for (const KeyRow& row : day->rows)
        if (!uncounted.contains(row.run)) day->figures[row.keyId].add(row);
    return day;
}

std::optional<qint64> utcMs(const QString& text)
{
    // The store's own form, "2026-12-07T14:02:03.123Z", read digit by digit:
    // a snapshot reads one per run.
    if (text.size() == 24 && text[4] == u'-' && text[7] == u'-' && text[10] == u'T' && text[13] == u':' && text[16] == u':' &&
        text[19] == u'.' && text[23] == u'Z') {
        auto number = [&text](int from, int digits) {
            int n = 0;
            for (int i = from; i < from + digits; ++i) {
                const int d = text[i].unicode() - u'0';
                if (d < 0 || d > 9) return -1;
                n = n * 10 + d;
            }
            return n;
        };
        const QDate day(number(0, 4), number(5, 2), number(8, 2));
        const int h = number(11, 2), m = number(14, 2), s = number(17, 2), ms = number(20, 3);
        if (day.isValid() && h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60 && ms >= 0)
            return (day.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * kDayMs + ((h * 60LL + m) * 60 + s) * 1000 + ms;
    }
    QDateTime t;
    if (text.size() == 10) t = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0), Qt::UTC);
    else if (text.endsWith(u'Z')) t = QDateTime::fromString(text, text.contains(u'.') ? Qt::ISODateWithMs : Qt::ISODate);
    if (!t.isValid()) return std::nullopt;
    return t.toMSecsSinceEpoch();
}

QString utcText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject benchesJson(const LineData& data, const Window& w)
{
    const QHash<QString, std::size_t>& first = data.firstRun;
    std::map<QString, std::vector<std::size_t>> inWindowOf;  // by name
    std::map<QString, std::size_t> last;                     // the latest counted run before until
    for (std::size_t i = 0; i < data.runs.size(); ++i) {
        const LineRun& r = data.runs[i];
        inWindowOf[r.bench];  // every bench in the store
        if (!r.counts() || r.startedMs >= w.until) continue;
        last[r.bench] = i;
        if (r.startedMs >= w.since) inWindowOf[r.bench].push_back(i);
    }
    QJsonArray benches;
    for (const auto& [name, runs] : inWindowOf) {
        const QJsonObject y = yieldOf(data, runs, first);
        QJsonObject b{{QStringLiteral("bench"), name},
                      {QStringLiteral("runs"), y[u"runs"]},
                      {QStringLiteral("passed"), y[u"passed"]},
                      {QStringLiteral("failed"), y[u"failed"]},
                      {QStringLiteral("first_pass_yield"), y[u"first_pass_yield"]},
                      {QStringLiteral("last_run_utc"), QJsonValue::Null},
                      {QStringLiteral("last_verdict"), QJsonValue::Null},
                      {QStringLiteral("seconds_since_last_run"), QJsonValue::Null}};
        if (const auto at = last.find(name); at != last.end()) {
            const LineRun& r = data.runs[at->second];
            b[u"last_run_utc"] = r.startedUtc;
            b[u"last_verdict"] = r.verdict;
            b[u"seconds_since_last_run"] = double(w.until - r.startedMs) / 1000.0;
        }
        benches.append(b);
    }
    return {{QStringLiteral("benches"), benches}};
}

QJsonObject yieldJson(const LineData& data, const Window& w)
{
    const QHash<QString, std::size_t>& first = data.firstRun;
    const std::vector<std::size_t> runs = windowRuns(data, w);
    std::map<QString, std::vector<std::size_t>> byBench, byDay;
    for (std::size_t i : runs) {
        byBench[data.runs[i].bench].push_back(i);
        byDay[data.runs[i].startedUtc.left(10)].push_back(i);
    }
    QJsonObject out = yieldOf(data, runs, first);
    QJsonArray perBench, perDay;
    for (const auto& [name, of] : byBench) {
        QJsonObject o = yieldOf(data, of, first);
        o.insert(QStringLiteral("bench"), name);
        perBench.append(o);
    }
    for (const auto& [day, of] : byDay) {
        QJsonObject o = yieldOf(data, of, first);
        o.insert(QStringLiteral("day"), day);
        perDay.append(o);
    }
    out.insert(QStringLiteral("per_bench"), perBench);
    out.insert(QStringLiteral("per_day"), perDay);
    return out;
}

QJsonObject paretoJson(const LineData& data, const Window& w)
{
    // Runs in which a check's result failed, by check and channel (0: none,
    // which sorts first as null does).
    std::map<std::pair<QString, int>, std::set<std::size_t>> failed;
    for (const FailedCheck& f : data.failedChecks)
        if (inWindow(data.runs[f.run], w)) failed[{f.check, f.channel}].insert(f.run);
    std::vector<std::pair<std::pair<QString, int>, qint64>> rows;
    for (const auto& [key, runs] : failed) rows.push_back({key, qint64(runs.size())});
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    QJsonArray out;
    for (const auto& [key, count] : rows)
        out.append(QJsonObject{{QStringLiteral("check"), key.first},
                               {QStringLiteral("channel"), key.second == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(key.second)},
                               {QStringLiteral("failed_runs"), count}});
    return {{QStringLiteral("pareto"), out}};
}

QJsonObject capabilityJson(const LineData& data, const Window& w)
{
    // The history's statistics gathered from the days the window holds whole,
    // as they are, and from the rows of the days it holds in part: a window
    // of a year holds millions of rows, too many to add at each request.
    std::map<qint64, KeyFigures> gathered;  // by the key's store id
    for (auto day = data.days.lower_bound(w.since - ((w.since % kDayMs) + kDayMs) % kDayMs);
         day != data.days.end() && day->first < w.until; ++day) {
        if (day->first >= w.since && day->first + kDayMs <= w.until) {
            for (const auto& [key, figures] : day->second->figures) gathered[key].add(figures);
            continue;
        }
        for (const KeyRow& row : day->second->rows) {
            if (row.startedMs < w.since || row.startedMs >= w.until) continue;
            const auto run = data.place.find(row.run);
            if (run != data.place.end() && data.runs[*run].counts()) gathered[row.keyId].add(row);
        }
    }
    struct Found {
        std::size_t key;  // index into data.keys
        const KeyFigures* figures;
    };
    std::vector<Found> order;
    for (const auto& [id, figures] : gathered) {
        const auto key = data.keyIndex.find(id);
        // A key of a known kind, not an aborted row's, as the history keeps them.
        if (key == data.keyIndex.end() || !knownKind(data.keys[*key].key.kind) || data.keys[*key].key.quantity == u"aborted") continue;
        order.push_back({*key, &figures});
    }
    std::sort(order.begin(), order.end(), [](const Found& a, const Found& b) { return a.figures->first < b.figures->first; });
    QJsonArray out;
    for (const auto& [k, g] : order) {
        evaluate::ResultStats s;
        s.key = data.keys[k].key;
        s.n = g->n;
        s.passed = g->passed;
        s.marginal = g->marginal;
        if (g->limited) s.limit = g->limit;
        if (g->sums.count > 0) s.minError = g->minError, s.maxError = g->maxError;
        evaluate::finishStatistics(s, g->sums);
        const QString& text = data.keys[k].text;
        out.append(QJsonObject{
            {QStringLiteral("key"), text},
            {QStringLiteral("check"), s.key.check},
            {QStringLiteral("kind"), s.key.kind},
            {QStringLiteral("channel"), s.key.channel == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(s.key.channel)},
            {QStringLiteral("quantity"), s.key.quantity},
            {QStringLiteral("unit"), s.key.unit},
            {QStringLiteral("reference"), orNull(s.key.reference)},
            {QStringLiteral("n"), s.n},
            {QStringLiteral("figures"), s.figures},
            {QStringLiteral("mean_error"), orNull(s.meanError)},
            {QStringLiteral("sd_error"), orNull(s.sdError)},
            {QStringLiteral("min_error"), orNull(s.minError)},
            {QStringLiteral("max_error"), orNull(s.maxError)},
            {QStringLiteral("limit"), orNull(s.limit)},
            {QStringLiteral("cpk"), orNull(s.cpk)},
            {QStringLiteral("marginal"), s.marginal},
            {QStringLiteral("flagged"), s.cpk.has_value() && *s.cpk < 1.33},
        });
    }
    return {{QStringLiteral("capability"), out}};
}

ControlChart controlChart(const std::vector<double>& values)
{
    ControlChart c;
    c.flags.resize(values.size());
    if (values.empty()) return c;
    double sum = 0, ranges = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        sum += values[i];
        if (i > 0) ranges += std::abs(values[i] - values[i - 1]);
    }
    c.centre = sum / double(values.size());
    c.sigma = values.size() > 1 ? ranges / double(values.size() - 1) / 1.128 : 0;
    if (c.sigma <= 0) return c;
    // Each point's side (+1, -1, 0 on the centre) and how many sigmas out.
    auto zone = [&](std::size_t i) { return (values[i] - c.centre) / c.sigma; };
    auto beyond = [&](std::size_t i, double k, int side) { return side > 0 ? zone(i) > k : zone(i) < -k; };
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::vector<int>& f = c.flags[i];
        const int side = zone(i) > 0 ? 1 : zone(i) < 0 ? -1 : 0;
        if (std::abs(zone(i)) > 3) f.push_back(1);
        auto countOut = [&](std::size_t n, double k) {
            int count = 0;
            for (std::size_t j = i + 1 - std::min(n, i + 1); j <= i; ++j) count += beyond(j, k, side);
            return count;
        };
        if (side != 0 && beyond(i, 2, side) && i + 1 >= 3 && countOut(3, 2) >= 2) f.push_back(2);
        if (side != 0 && beyond(i, 1, side) && i + 1 >= 5 && countOut(5, 1) >= 4) f.push_back(3);
        if (side != 0 && i + 1 >= 8) {
            bool same = true;
            for (std::size_t j = i - 7; j <= i && same; ++j) same = (side > 0 ? zone(j) > 0 : zone(j) < 0);
            if (same) f.push_back(4);
        }
    }
    return c;
}

std::optional<QByteArray> spcJson(const LineData& data, const QString& key)
{
    const auto at = std::find_if(data.keys.begin(), data.keys.end(), [&](const LineKey& k) { return k.text == key; });
    if (at == data.keys.end()) return std::nullopt;
    std::vector<double> values;
    values.reserve(at->points.size());
    for (const KeyPoint& p : at->points) values.push_back(p.error);
    const ControlChart chart = controlChart(values);
    // The points written by hand as QJsonDocument writes them (members by
    // name): 10,000 of them through QJsonObject took 40 ms of a request's
    // time (bench/RESULTS.md).
    QByteArray points = "[";
    points.reserve(qsizetype(at->points.size()) * 160);
    for (std::size_t i = 0; i < at->points.size(); ++i) {
        const LineRun& r = data.runs[at->points[i].run];
        points += i == 0 ? "{\"bench\":" : ",{\"bench\":";
        evaluate::appendJsonText(points, r.bench);
        points += ",\"board_id\":";
        evaluate::appendJsonText(points, r.boardId);
        points += ",\"error\":";
        evaluate::appendJsonNumber(points, at->points[i].error);
        points += ",\"flags\":[";
        for (std::size_t f = 0; f < chart.flags[i].size(); ++f) {
            if (f > 0) points += ',';
            points += QByteArray::number(chart.flags[i][f]);
        }
        points += "],\"run_id\":";
        evaluate::appendJsonText(points, r.runId);
        points += ",\"started_utc\":";
        evaluate::appendJsonText(points, r.startedUtc);
        points += '}';
    }
    points += ']';
    const bool any = !values.empty();
    const QJsonObject head{
        {QStringLiteral("key"), at->text},
        {QStringLiteral("check"), at->key.check},
        {QStringLiteral("kind"), at->key.kind},
        {QStringLiteral("channel"), at->key.channel == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(at->key.channel)},
        {QStringLiteral("quantity"), at->key.quantity},
        {QStringLiteral("unit"), at->key.unit},
        {QStringLiteral("reference"), orNull(at->key.reference)},
        {QStringLiteral("centre"), any ? QJsonValue(chart.centre) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("sigma"), any ? QJsonValue(chart.sigma) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("ucl"), any ? QJsonValue(chart.centre + 3 * chart.sigma) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("lcl"), any ? QJsonValue(chart.centre - 3 * chart.sigma) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("points"), QJsonArray()},
    };
    // Inside a text a quote is escaped: the member's name, with its quotes, is found only where it stands.
    QByteArray out = QJsonDocument(head).toJson(QJsonDocument::Compact);
    const qsizetype place = out.indexOf("\"points\":[]");
    out.replace(place + 9, 2, points);
    return out;
}

QJsonObject boardJson(const LineData& data, const QString& boardId)
{
    QJsonArray runs;
    for (auto it = data.runs.rbegin(); it != data.runs.rend() && std::size_t(runs.size()) < kBoardRuns; ++it) {
        if (it->boardId != boardId) continue;
        runs.append(QJsonObject{{QStringLiteral("run_id"), it->runId},
                                {QStringLiteral("started_utc"), it->startedUtc},
                                {QStringLiteral("bench"), it->bench},
                                {QStringLiteral("station"), it->station},
                                {QStringLiteral("operator"), it->operatorName},
                                {QStringLiteral("verdict"), it->verdict},
                                {QStringLiteral("failed"), it->failed},
                                {QStringLiteral("report_path"), it->reportPath}});
    }
    return {{QStringLiteral("board_id"), boardId}, {QStringLiteral("runs"), runs}};
}

}  // namespace quorvid::line
