#include "reviewchart.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>

namespace quorvid {

namespace {

const QColor kCh1Colour(200, 30, 30);
const QColor kCh2Colour(20, 70, 200);
const QColor kGridColour(225, 225, 225);
const QColor kMarkColour(110, 110, 110);
const QColor kCursorColour(20, 140, 60);

constexpr double kChartLow = 0;     // the live chart's scale
constexpr double kChartHigh = 300;
// Columns further apart than this in time are not joined: the recording has a
// gap there (a port lost, a board that stopped).
constexpr std::int64_t kGapMicroseconds = 1'000'000;

// 1, 2 or 5 times a power of ten, at least rough.
double niceStep(double rough)
{
    const double magnitude = std::pow(10.0, std::floor(std::log10(std::max(rough, 1e-9))));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * magnitude >= rough) return m * magnitude;
    return 10 * magnitude;
}

// Seconds on the axis: above a minute in whole minutes and hours as a clock does.
double niceTimeStep(double roughSeconds)
{
    if (roughSeconds <= 30) return niceStep(roughSeconds);
    for (const double s : {60.0, 120.0, 300.0, 600.0, 900.0, 1800.0, 3600.0, 7200.0})
        if (s >= roughSeconds) return s;
    return 3600 * niceStep(roughSeconds / 3600);
}

QString latin(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

// What changed: the channels whose status is new, e.g. "ch1 Zeroing ok".
QString statusLabel(const StatusCodes* before, StatusCodes now)
{
    QStringList parts;
    if (!before || before->ch1 != now.ch1) parts << QStringLiteral("ch1 %1").arg(latin(statusTextFor(now.ch1)));
    if (!before || before->ch2 != now.ch2) parts << QStringLiteral("ch2 %1").arg(latin(statusTextFor(now.ch2)));
    return parts.join(QLatin1String(", "));
}

}  // namespace

void ReviewChart::setRecording(const review::Recording* recording)
{
    m_recording = recording;
    m_overview = {};
    m_overviewImage = {};
}

std::int64_t ReviewChart::length() const
{
    if (!m_recording) return 1'000'000;
    return std::max<std::int64_t>(1'000'000, m_recording->lastMicroseconds);
}

QRect ReviewChart::plotArea(QRect whole)
{
    return QRect(whole.left() + kLeftMargin, whole.top() + kMarksHeight, std::max(1, whole.width() - kLeftMargin - 8),
                 std::max(1, whole.height() - kMarksHeight - kAxisHeight - kOverviewHeight - 6));
}

QRect ReviewChart::overviewArea(QRect whole)
{
    return QRect(whole.left() + kLeftMargin, whole.bottom() - kOverviewHeight + 1,
                 std::max(1, whole.width() - kLeftMargin - 8), kOverviewHeight);
}

double ReviewChart::xOf(std::int64_t t, const ReviewScene& scene, QRect plot)
{
    const double span = static_cast<double>(std::max<std::int64_t>(1, scene.to - scene.from));
    return plot.left() + static_cast<double>(t - scene.from) * plot.width() / span;
}

std::int64_t ReviewChart::timeAt(double x, const ReviewScene& scene, QRect plot)
{
    const double span = static_cast<double>(std::max<std::int64_t>(1, scene.to - scene.from));
    return scene.from + std::llround((x - plot.left()) * span / std::max(1, plot.width()));
}

std::int64_t ReviewChart::overviewTimeAt(double x, QRect overview) const
{
    const double t = (x - overview.left()) * static_cast<double>(length()) / std::max(1, overview.width());
    return std::clamp<std::int64_t>(std::llround(t), 0, length());
}

void ReviewChart::paint(QPainter& p, QRect whole, const ReviewScene& scene)
{
    p.fillRect(whole, Qt::white);
    const QRect plot = plotArea(whole);
    static const review::Trace kNoTrace;
    review::reduce(m_recording ? m_recording->trace : kNoTrace, scene.from, scene.to, plot.width(), m_view);

    double low = kChartLow, high = kChartHigh;
    if (scene.fitScale) {
        int lo = INT16_MAX, hi = INT16_MIN;
        for (const auto* columns : {&m_view.ch1, &m_view.ch2})
            for (const review::Column& c : *columns)
                if (!c.empty) lo = std::min<int>(lo, c.min), hi = std::max<int>(hi, c.max);
        if (lo <= hi) {
            const double margin = std::max(5.0, (hi - lo) * 0.05);
            low = lo - margin;
            high = hi + margin;
        }
    }

    // The mmHg grid and scale.
    p.setPen(kGridColour);
    const double step = niceStep((high - low) / 6);
    QFont small = p.font();
    small.setPixelSize(11);
    p.setFont(small);
    for (double v = std::ceil(low / step) * step; v <= high; v += step) {
        const double y = plot.bottom() - (v - low) * plot.height() / (high - low);
        p.setPen(kGridColour);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(Qt::black);
        p.drawText(QRectF(whole.left(), y - 8, kLeftMargin - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v));
    }
    p.save();
    p.translate(whole.left() + 9, plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-40, -8, 80, 16), Qt::AlignCenter, QStringLiteral("mmHg"));
    p.restore();

    paintAxis(p, plot, scene);
    p.save();
    p.setClipRect(plot.adjusted(0, -kMarksHeight, 0, 0));
    paintMarks(p, plot, whole, scene, low, high);
    paintTraces(p, plot, scene, low, high);
    p.restore();
    p.setPen(Qt::gray);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    paintOverview(p, overviewArea(whole), scene);
}

void ReviewChart::paintTraces(QPainter& p, QRect plot, const ReviewScene&, double low, double high)
{
    const double scale = plot.height() / (high - low);
    auto y = [&](int v) { return plot.bottom() - (v - low) * scale; };
    QPolygonF line;
    line.reserve(4 * plot.width());
    for (const auto& [columns, colour] : {std::pair{&m_view.ch1, kCh1Colour}, std::pair{&m_view.ch2, kCh2Colour}}) {
        p.setPen(QPen(colour, 1));
        line.clear();
        std::size_t previous = 0;
        for (std::size_t i = 0; i < columns->size(); ++i) {
            const review::Column& c = (*columns)[i];
            if (c.empty) continue;
            if (!line.isEmpty() && m_view.columnStart(i) - m_view.columnStart(previous + 1) > kGapMicroseconds) {
                p.drawPolyline(line);
                line.clear();
            }
            const double x = plot.left() + i + 0.5;
            line << QPointF(x, y(c.first)) << QPointF(x, y(c.min)) << QPointF(x, y(c.max)) << QPointF(x, y(c.last));
            previous = i;
        }
        if (!line.isEmpty()) p.drawPolyline(line);
    }
}

void ReviewChart::paintMarks(QPainter& p, QRect plot, QRect, const ReviewScene& scene, double low, double high)
{
    if (!m_recording) return;
    const review::Recording& r = *m_recording;
    const double scale = plot.height() / (high - low);
    auto y = [&](int v) { return plot.bottom() - (v - low) * scale; };

    // The A-B range, shaded.
    if (scene.cursorA && scene.cursorB) {
        const double a = xOf(*scene.cursorA, scene, plot), b = xOf(*scene.cursorB, scene, plot);
        p.fillRect(QRectF(std::min(a, b), plot.top(), std::abs(b - a), plot.height()), QColor(20, 140, 60, 28));
    }

    // Each beat's systolic, mean and diastolic on its trace, while they can be told apart.
    const auto firstBeat = std::lower_bound(r.beats.begin(), r.beats.end(), scene.from,
                                            [](const review::Beat& b, std::int64_t t) { return b.microseconds < t; });
    const auto lastBeat = std::upper_bound(firstBeat, r.beats.end(), scene.to,
                                           [](std::int64_t t, const review::Beat& b) { return t < b.microseconds; });
    if (lastBeat - firstBeat <= plot.width() / 6) {
        for (auto it = firstBeat; it != lastBeat; ++it) {
            const double x = xOf(it->microseconds, scene, plot);
            const Values& v = it->values;
            for (const auto& [colour, sys, map, dia] :
                 {std::tuple{kCh1Colour.darker(150), v.sys1, v.map1, v.dia1}, std::tuple{kCh2Colour.darker(150), v.sys2, v.map2, v.dia2}}) {
                p.setPen(QPen(colour, 2));
                p.drawLine(QPointF(x - 4, y(sys)), QPointF(x + 4, y(sys)));
                p.drawLine(QPointF(x - 4, y(dia)), QPointF(x + 4, y(dia)));
                p.drawEllipse(QPointF(x, y(map)), 2, 2);
            }
        }
    }

    // Status changes and identifications, labelled above the plot.
    QFont small = p.font();
    small.setPixelSize(10);
    p.setFont(small);
    const QFontMetrics metrics(small);
    // Two rows: status changes above the plot, identifications just inside
    // its top. In each, a label that would overlap the one before is left out.
    double freeFrom[2] = {plot.left() - 1e9, plot.left() - 1e9};
    auto mark = [&](std::int64_t t, const QString& label, int row) {
        const double x = xOf(t, scene, plot);
        p.setPen(QPen(kMarkColour, 1, Qt::DotLine));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        if (x < freeFrom[row]) return;
        const QString text = metrics.elidedText(label, Qt::ElideRight, 220);
        p.setPen(kMarkColour);
        p.drawText(QPointF(x + 2, row == 0 ? plot.top() - 4 : plot.top() + metrics.ascent() + 2), text);
        freeFrom[row] = x + metrics.horizontalAdvance(text) + 8;
    };
    const auto firstStatus = std::lower_bound(r.statuses.begin(), r.statuses.end(), scene.from,
                                              [](const review::StatusMark& s, std::int64_t t) { return s.microseconds < t; });
    int shown = 0;
    for (auto it = firstStatus; it != r.statuses.end() && it->microseconds <= scene.to && shown < plot.width(); ++it) {
        const StatusCodes* before = it == r.statuses.begin() ? nullptr : &std::prev(it)->codes;
        if (!before || *before != it->codes) mark(it->microseconds, statusLabel(before, it->codes), 0), ++shown;
    }
    for (const review::IdentificationMark& id : r.identifications)
        if (id.microseconds >= scene.from && id.microseconds <= scene.to)
            mark(id.microseconds, QStringLiteral("ID %1").arg(id.text.simplified()), 1);

    // The cursors.
    QFont bold = small;
    bold.setBold(true);
    p.setFont(bold);
    for (const auto& [cursor, name] : {std::pair{scene.cursorA, QStringLiteral("A")}, std::pair{scene.cursorB, QStringLiteral("B")}}) {
        if (!cursor) continue;
        const double x = xOf(*cursor, scene, plot);
        p.setPen(QPen(kCursorColour, 1.5));
        p.drawLine(QPointF(x, plot.top() - kMarksHeight), QPointF(x, plot.bottom()));
        p.fillRect(QRectF(x - 6, plot.top() - kMarksHeight, 12, kMarksHeight - 2), kCursorColour);
        p.setPen(Qt::white);
        p.drawText(QRectF(x - 6, plot.top() - kMarksHeight, 12, kMarksHeight - 2), Qt::AlignCenter, name);
    }
}

void ReviewChart::paintAxis(QPainter& p, QRect plot, const ReviewScene& scene)
{
    const double spanSeconds = (scene.to - scene.from) / 1e6;
    const double step = niceTimeStep(spanSeconds / std::max(1.0, plot.width() / 110.0));
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
    const QDateTime started = m_recording ? m_recording->started : QDateTime();
    QFont small = p.font();
    small.setPixelSize(11);
    p.setFont(small);
    for (double s = std::ceil(scene.from / 1e6 / step) * step; s <= scene.to / 1e6 + 1e-9; s += step) {
        const double x = xOf(std::llround(s * 1e6), scene, plot);
        p.setPen(kGridColour);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(Qt::black);
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        p.drawText(QRectF(x - 60, plot.bottom() + 4, 120, 14), Qt::AlignCenter,
                   QStringLiteral("%1 s").arg(s, 0, 'f', decimals));
        if (started.isValid()) {
            const QDateTime at = started.addMSecs(std::llround(s * 1000)).toLocalTime();
            p.setPen(Qt::darkGray);
            p.drawText(QRectF(x - 60, plot.bottom() + 18, 120, 14), Qt::AlignCenter,
                       at.toString(step < 1 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss")));
        }
    }
}

void ReviewChart::paintOverview(QPainter& p, QRect overview, const ReviewScene& scene)
{
    // The whole recording does not change while it is moved through: drawn once
    // per size, then copied.
    if (m_overviewImage.size() != overview.size()) {
        m_overviewImage = QImage(overview.size(), QImage::Format_RGB32);
        m_overviewImage.fill(QColor(246, 246, 246));
        if (m_recording) review::reduce(m_recording->trace, 0, length(), overview.width(), m_overview);
        QPainter image(&m_overviewImage);
        const double scale = overview.height() / (kChartHigh - kChartLow);
        auto y = [&](int v) { return overview.height() - 1 - std::clamp(v - kChartLow, 0.0, kChartHigh) * scale; };
        for (const auto& [columns, colour] : {std::pair{&m_overview.ch1, kCh1Colour}, std::pair{&m_overview.ch2, kCh2Colour}}) {
            image.setPen(colour.lighter(130));
            for (std::size_t i = 0; i < columns->size(); ++i) {
                const review::Column& c = (*columns)[i];
                if (!c.empty) image.drawLine(QPointF(i + 0.5, y(c.min)), QPointF(i + 0.5, y(c.max)));
            }
        }
    }
    p.drawImage(overview.topLeft(), m_overviewImage);
    const double a = overview.left() + double(scene.from) * overview.width() / length();
    const double b = overview.left() + double(scene.to) * overview.width() / length();
    const QRectF visible(a, overview.top(), std::max(2.0, b - a), overview.height() - 1);
    p.fillRect(visible, QColor(20, 140, 60, 40));
    p.setPen(kCursorColour);
    p.drawRect(visible);
    p.setPen(Qt::gray);
    p.drawRect(overview.adjusted(0, 0, -1, -1));
}

QImage renderReview(const review::Recording& recording, const ReviewScene& scene, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    ReviewChart chart;
    chart.setRecording(&recording);
    chart.paint(painter, image.rect(), scene);
    return image;
}

}  // namespace quorvid
