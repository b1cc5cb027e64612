#include "drawsurface.h"

#include <algorithm>
#include <cmath>

namespace quorvid {

ImageSurface::ImageSurface(QSize clientPixels, QSizeF scale, qreal devicePixelRatio)
    : m_client(clientPixels)
    , m_scale(scale)
    , m_sx(clientPixels.width() / scale.width())
    , m_sy(clientPixels.height() / scale.height())
    , m_color(oleColor(kGrey))
{
    m_image = QImage(clientPixels * devicePixelRatio, QImage::Format_RGB32);
    m_image.setDevicePixelRatio(devicePixelRatio);
    m_image.fill(oleColor(kWindowBackground));
    m_pen = QPen(m_color, m_width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

ImageSurface::~ImageSurface() { endPainting(); }

QPainter& ImageSurface::painter()
{
    if (!m_painter) {
        m_painter = std::make_unique<QPainter>(&m_image);
        m_painter->setRenderHint(QPainter::Antialiasing, false);
        m_painter->setClipRect(QRect(QPoint(0, 0), m_client));
        m_painter->setPen(m_pen);
    }
    return *m_painter;
}

void ImageSurface::endPainting()
{
    if (m_painter) {
        m_painter->end();
        m_painter.reset();
    }
}

void ImageSurface::setForeColor(OleColor color)
{
    m_color = oleColor(color);
    m_pen.setColor(m_color);
    if (m_painter) m_painter->setPen(m_pen);
}

void ImageSurface::setDrawWidth(int pixels)
{
    m_width = std::max(1, pixels);
    m_pen.setWidth(m_width);
    if (m_painter) m_painter->setPen(m_pen);
}

QPointF ImageSurface::toPixels(float x, float y) const { return {x * m_sx, y * m_sy}; }

void ImageSurface::touch(QPointF a, QPointF b)
{
    const int pad = m_width + 1;
    const QRect r = QRect(QPoint(int(std::floor(std::min(a.x(), b.x()))) - pad,
                                 int(std::floor(std::min(a.y(), b.y()))) - pad),
                          QPoint(int(std::ceil(std::max(a.x(), b.x()))) + pad,
                                 int(std::ceil(std::max(a.y(), b.y()))) + pad))
                        .intersected(QRect(QPoint(0, 0), m_client));
    m_dirty |= r;
}

void ImageSurface::pset(float x, float y)
{
    const QPointF p = toPixels(x, y);
    QPainter& painter = this->painter();
    if (m_width <= 1) {
        painter.drawPoint(p);
    } else {
        // A wide point is a filled dot of the pen's width.
        const qreal r = m_width / 2.0;
        painter.fillRect(QRectF(p.x() - r, p.y() - r, m_width, m_width), m_color);
    }
    touch(p, p);
}

void ImageSurface::line(float x1, float y1, float x2, float y2)
{
    const QPointF a = toPixels(x1, y1);
    const QPointF b = toPixels(x2, y2);
    if (a.x() == b.x() && m_width > 1) {
        // A wide vertical line (the erase bar) is a rectangle; filling it skips
        // the stroker.
        const qreal half = m_width / 2.0;
        painter().fillRect(QRectF(a.x() - half, std::min(a.y(), b.y()) - half, m_width,
                                  std::abs(b.y() - a.y()) + m_width),
                           m_color);
    } else {
        painter().drawLine(a, b);
    }
    touch(a, b);
}

const QImage& ImageSurface::image()
{
    // Drawing through the open painter lands in the image at once on the
    // raster engine; nothing to flush.
    return m_image;
}

void ImageSurface::setDevicePixelRatio(qreal ratio)
{
    if (qFuzzyCompare(ratio, m_image.devicePixelRatio())) return;
    endPainting();
    QImage scaled = m_image.scaled(m_client * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    scaled.setDevicePixelRatio(ratio);
    m_image = std::move(scaled);
    m_dirty = QRect(QPoint(0, 0), m_client);
}

QRect ImageSurface::takeDirty()
{
    QRect r = m_dirty;
    m_dirty = QRect();
    return r;
}

}  // namespace quorvid
