#include "statistics.h"

#include "meansd.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <span>

namespace quorvid::review {

namespace {

ChannelStatistics channel(const std::int16_t* first, const std::int16_t* last)
{
    ChannelStatistics s;
    const record::MeanSd m = record::meanSd(std::span(first, last));
    s.count = m.count;
    if (s.count == 0) return s;
    const auto [lo, hi] = std::minmax_element(first, last);
    s.min = *lo;
    s.max = *hi;
    s.mean = m.mean;
    s.sd = m.sd;
    return s;
}

template <typename Marks>
std::pair<typename Marks::const_iterator, typename Marks::const_iterator> within(const Marks& marks, TimeRange range)
{
    const auto first = std::lower_bound(marks.begin(), marks.end(), range.from,
                                        [](const auto& m, std::int64_t t) { return m.microseconds < t; });
    const auto last = std::upper_bound(first, marks.end(), range.to,
                                       [](std::int64_t t, const auto& m) { return t < m.microseconds; });
    return {first, last};
}

double rounded(double v) { return std::round(v * 1000.0) / 1000.0; }

// A time in seconds as the rows' t_s has it: cut down to the millisecond.
double rowSeconds(std::int64_t microseconds) { return static_cast<double>(microseconds / 1000) / 1000.0; }

}  // namespace

RangeStatistics statistics(const Recording& recording, TimeRange asked)
{
    RangeStatistics s;
    s.range = asked;
    // The frames whose rows' t_s (cut to the millisecond) lie in the range, so
    // that the figures are those of the rows a range export writes.
    const TimeRange range{(asked.from + 999) / 1000 * 1000, asked.to / 1000 * 1000 + 999};
    const Trace& trace = recording.trace;
    const std::size_t first = trace.lowerIndex(range.from);
    const std::size_t last = std::max(first, trace.upperIndex(range.to));
    s.channels[0] = channel(trace.ch1.data() + first, trace.ch1.data() + last);
    s.channels[1] = channel(trace.ch2.data() + first, trace.ch2.data() + last);
    s.waveformFrames = last - first;

    const auto [b0, b1] = within(recording.beats, range);
    BeatStatistics& b = s.beats;
    for (auto it = b0; it != b1; ++it) {
        const Values& v = it->values;
        b.sys1 += v.sys1, b.map1 += v.map1, b.dia1 += v.dia1;
        b.sys2 += v.sys2, b.map2 += v.map2, b.dia2 += v.dia2;
        b.pulse += v.pulse;
        ++b.count;
    }
    if (b.count > 0) {
        const double n = static_cast<double>(b.count);
        for (double* m : {&b.sys1, &b.map1, &b.dia1, &b.sys2, &b.map2, &b.dia2, &b.pulse}) *m /= n;
    }
    s.valuesFrames = b.count;

    const auto [s0, s1] = within(recording.statuses, range);
    s.statusFrames = static_cast<std::size_t>(s1 - s0);
    for (auto it = s0; it != s1; ++it)
        if (std::find(s.statusesSeen.begin(), s.statusesSeen.end(), it->codes) == s.statusesSeen.end())
            s.statusesSeen.push_back(it->codes);
    const auto [i0, i1] = within(recording.identifications, range);
    s.identificationFrames = static_cast<std::size_t>(i1 - i0);
    return s;
}

QByteArray statisticsJson(const RangeStatistics& s)
{
    QJsonArray channels;
    for (std::size_t i = 0; i < s.channels.size(); ++i) {
        const ChannelStatistics& c = s.channels[i];
        QJsonObject o{{QStringLiteral("channel"), int(i + 1)}, {QStringLiteral("readings"), qint64(c.count)}};
        if (c.count > 0) {
            o.insert(QStringLiteral("mean_mmHg"), rounded(c.mean));
            o.insert(QStringLiteral("sd_mmHg"), rounded(c.sd));
            o.insert(QStringLiteral("min_mmHg"), c.min);
            o.insert(QStringLiteral("max_mmHg"), c.max);
        }
        channels.append(o);
    }
    QJsonObject beats{{QStringLiteral("count"), qint64(s.beats.count)}};
    if (s.beats.count > 0) {
        const BeatStatistics& b = s.beats;
        beats.insert(QStringLiteral("sys1"), rounded(b.sys1));
        beats.insert(QStringLiteral("map1"), rounded(b.map1));
        beats.insert(QStringLiteral("dia1"), rounded(b.dia1));
        beats.insert(QStringLiteral("sys2"), rounded(b.sys2));
        beats.insert(QStringLiteral("map2"), rounded(b.map2));
        beats.insert(QStringLiteral("dia2"), rounded(b.dia2));
        beats.insert(QStringLiteral("pulse"), rounded(b.pulse));
    }
    QJsonArray statuses;
    for (const StatusCodes& c : s.statusesSeen) {
        statuses.append(QJsonObject{
            {QStringLiteral("status1"), int(c.ch1)},
            {QStringLiteral("status2"), int(c.ch2)},
            {QStringLiteral("text"), QStringLiteral("%1 | %2").arg(QString::fromUtf8(statusTextFor(c.ch1).data(), qsizetype(statusTextFor(c.ch1).size())),
                                                                    QString::fromUtf8(statusTextFor(c.ch2).data(), qsizetype(statusTextFor(c.ch2).size())))},
        });
    }
    const QJsonObject root{
        {QStringLiteral("from_s"), rowSeconds(s.range.from)},
        {QStringLiteral("to_s"), rowSeconds(s.range.to)},
        {QStringLiteral("channels"), channels},
        {QStringLiteral("beats"), beats},
        {QStringLiteral("frames"), QJsonObject{{QStringLiteral("waveform"), qint64(s.waveformFrames)},
                                               {QStringLiteral("values"), qint64(s.valuesFrames)},
                                               {QStringLiteral("status"), qint64(s.statusFrames)},
                                               {QStringLiteral("identification"), qint64(s.identificationFrames)}}},
        {QStringLiteral("statuses"), statuses},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<Reading> readingAt(const Trace& trace, std::int64_t t)
{
    if (trace.size() == 0) return std::nullopt;
    std::size_t i = trace.upperDrawnIndex(t);
    i = i == 0 ? 0 : i - 1;
    return Reading{trace.drawnAt[i], trace.ch1[i], trace.ch2[i]};
}

}  // namespace quorvid::review
