#include "graph.h"

#include <QPaintEvent>

#include <algorithm>

namespace quorvid {

Graph::Graph(QWidget* parent)
    : QFrame(parent)
    , m_surface(QSize(kClientWidth, kClientHeight), QSizeF(kScaleWidth, kScaleHeight),
                parent ? parent->devicePixelRatioF() : 1.0)
    , m_repaint(this)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kBorder);
    setFixedSize(kClientWidth + 2 * kBorder, kClientHeight + 2 * kBorder);
    // Asked for on every drawing operation, and the border never changes.
    m_clientOrigin = contentsRect().topLeft();
    setFocusPolicy(Qt::TabFocus);
    // The backing image covers the client area; nothing underneath needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_repaint.setSingleShot(true);
    m_repaint.setInterval(kRepaintInterval);
    connect(&m_repaint, &QTimer::timeout, this, &Graph::repaintPending);
}

void Graph::pset(float x, float y)
{
    m_surface.pset(x, y);
    scheduleRepaint();
}

void Graph::line(float x1, float y1, float x2, float y2)
{
    m_surface.line(x1, y1, x2, y2);
    scheduleRepaint();
}

void Graph::scheduleRepaint()
{
    const QRect dirty = m_surface.takeDirty();
    if (dirty.isEmpty()) return;
    m_pending |= dirty.translated(m_clientOrigin);
    // The first change after a quiet spell waits one interval, and those
    // that follow within it ride along.
    if (!m_repaint.isActive()) m_repaint.start();
}

void Graph::repaintPending()
{
    m_repaint.stop();
    if (m_pending.isEmpty()) return;
    update(m_pending);
    m_pending = QRect();
}

void Graph::paintEvent(QPaintEvent* event)
{
    m_surface.setDevicePixelRatio(devicePixelRatioF());
    const QRect client = contentsRect();
    if (!client.contains(event->rect())) QFrame::paintEvent(event);
    QPainter p(this);
    const QRect area = event->rect().intersected(client);
    const QImage& image = m_surface.image();
    const qreal dpr = image.devicePixelRatio();
    const QRect source = area.translated(-client.topLeft());
    // In bands of a few dozen rows: the raster engine hands a copy of more
    // rows than that to a worker thread and waits for it, which costs more
    // than the copy of a column as narrow as the sweep's.
    constexpr int kBand = 64;
    for (int y = 0; y < area.height(); y += kBand) {
        const int rows = std::min(kBand, area.height() - y);
        p.drawImage(QRect(area.x(), area.y() + y, area.width(), rows), image,
                    QRectF(source.x() * dpr, (source.y() + y) * dpr, source.width() * dpr,
                           rows * dpr));
    }
}

}  // namespace quorvid
