#include "artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvid {

namespace {

// The classic 16-colour palette.
const QList<QRgb>& vgaPalette()
{
    static const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
    };
    return palette;
}

// Eight colours: paper, three greys, ink, and the two trace colours with a
// dark red for their soft edges.
const QList<QRgb>& picturePalette()
{
    static const QList<QRgb> palette = {
        qRgb(255, 255, 255), qRgb(224, 224, 224), qRgb(160, 160, 160), qRgb(96, 96, 96),
        qRgb(32, 32, 32),    qRgb(255, 0, 0),     qRgb(0, 0, 255),     qRgb(160, 0, 0),
    };
    return palette;
}

double bump(double x, double centre, double width)
{
    const double d = (x - centre) / width;
    return std::exp(-d * d);
}

// Points of `beats` beats across [left, right], baseline at `bottom`, peak
// `height` above it.
QPolygonF pulseTrace(double left, double right, double bottom, double height, double beats,
                     double phase0 = 0.0)
{
    QPolygonF points;
    const int steps = std::max(8, int((right - left) * 2));
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double phase = std::fmod(phase0 + t * beats, 1.0);
        points << QPointF(left + t * (right - left), bottom - height * pulseShape(phase));
    }
    return points;
}

}  // namespace

double pulseShape(double phase)
{
    const double p = phase - std::floor(phase);
    constexpr double kRise = 0.12, kTau = 0.38;
    if (p < kRise) {
        const double s = std::sin(0.5 * std::numbers::pi * p / kRise);
        return s * s;
    }
    // Run-off from the peak back to the baseline at the next beat, with the
    // dicrotic notch and the reflected wave after it.
    const double end = std::exp(-(1.0 - kRise) / kTau);
    const double runoff = (std::exp(-(p - kRise) / kTau) - end) / (1.0 - end);
    const double value = runoff - 0.14 * bump(p, 0.30, 0.025) + 0.16 * bump(p, 0.37, 0.05);
    return std::clamp(value, 0.0, 1.0);
}

QImage iconImage(int size)
{
    // Drawn without antialiasing in palette colours only, as a 16-colour icon
    // is: every pixel is one of the sixteen, or transparent.
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);

    const double s = size / 32.0;
    const QColor navy(0, 0, 128), white(255, 255, 255), red(255, 0, 0), silver(192, 192, 192);
    // A monitor face: a navy screen in a silver bezel.
    p.setPen(Qt::NoPen);
    p.setBrush(silver);
    p.drawRoundedRect(QRectF(0, 0, size, size), 4 * s, 4 * s);
    p.setBrush(navy);
    const QRectF screen(2 * s, 2 * s, size - 4 * s, size - 4 * s);
    p.drawRoundedRect(screen, 3 * s, 3 * s);

    // Two traces, as on the chart: the arterial curve in white over a red one.
    const double left = screen.left() + 1, right = screen.right() - 1;
    QPen pen(red, size >= 32 ? 2 : 1);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(pulseTrace(left, right, screen.bottom() - 4 * s, 7 * s, 1.6, 0.55));
    pen.setColor(white);
    p.setPen(pen);
    p.drawPolyline(pulseTrace(left, right, screen.top() + 15 * s, 10 * s, 1.6, 0.55));
    p.end();

    // Snap anything the rasteriser blended back onto the palette, keeping
    // transparency as the mask.
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const QRgb c = image.pixel(x, y);
            if (qAlpha(c) < 128) {
                image.setPixel(x, y, qRgba(0, 0, 0, 0));
                continue;
            }
            QRgb best = vgaPalette().front();
            int bestDistance = 1 << 30;
            for (const QRgb candidate : vgaPalette()) {
                const int dr = qRed(c) - qRed(candidate), dg = qGreen(c) - qGreen(candidate),
                          db = qBlue(c) - qBlue(candidate);
                const int d = dr * dr + dg * dg + db * db;
                if (d < bestDistance) bestDistance = d, best = candidate;
            }
            image.setPixel(x, y, best);
        }
    return image;
}

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(iconImage(32)));
    icon.addPixmap(QPixmap::fromImage(iconImage(16)));
    return icon;
}

QImage pictureImage(qreal devicePixelRatio)
{
    const qreal dpr = std::max<qreal>(1.0, devicePixelRatio);
    QImage image(QSize(qRound(kPictureWidth * dpr), qRound(kPictureHeight * dpr)),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::white);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Left: a small two-trace chart in a grey frame, as the window's own chart.
    const QRectF chart(4, 4, 70, 42);
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(chart.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setPen(QPen(QColor(160, 160, 160), 1, Qt::DotLine));
    for (int row = 1; row < 4; ++row) {
        const double y = chart.top() + row * chart.height() / 4;
        p.drawLine(QPointF(chart.left() + 2, y), QPointF(chart.right() - 2, y));
    }
    p.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(pulseTrace(chart.left() + 3, chart.right() - 3, chart.top() + 24, 18, 2.2, 0.7));
    p.setPen(QPen(QColor(0, 0, 255), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(pulseTrace(chart.left() + 3, chart.right() - 3, chart.bottom() - 4, 9, 2.2, 0.7));

    // A hairline edge so the card stands off the window's face.
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawRect(QRectF(0.5, 0.5, kPictureWidth - 1, kPictureHeight - 1));

    // Right: the name and what it is for.
    QFont name(QStringLiteral("Arial"));
    name.setStyleHint(QFont::SansSerif);
    name.setPixelSize(24);
    name.setBold(true);
    p.setFont(name);
    p.setPen(QColor(32, 32, 32));
    p.drawText(QRectF(84, 2, 134, 28), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Quorvid"));
    QFont tag = name;
    tag.setPixelSize(11);
    tag.setBold(false);
    p.setFont(tag);
    p.setPen(QColor(96, 96, 96));
    p.drawText(QRectF(85, 31, 134, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("2-channel IBP monitor"));
    p.end();

    // Down to the eight colours, nearest match, no dithering noise.
    QImage indexed = image.convertToFormat(QImage::Format_Indexed8, picturePalette(),
                                           Qt::ThresholdDither | Qt::AvoidDither);
    indexed.setDevicePixelRatio(dpr);
    return indexed;
}

}  // namespace quorvid
