#include "graph.h"

#include <QPaintEvent>

namespace quorvid {

Graph::Graph(QWidget* parent)
    : QFrame(parent)
    , m_surface(QSize(kClientWidth, kClientHeight), QSizeF(kScaleWidth, kScaleHeight),
                parent ? parent->devicePixelRatioF() : 1.0)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kBorder);
    setFixedSize(kClientWidth + 2 * kBorder, kClientHeight + 2 * kBorder);
    setFocusPolicy(Qt::TabFocus);
    // The backing image covers the client area; nothing underneath needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
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
    if (!dirty.isEmpty()) update(dirty.translated(contentsRect().topLeft()));
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
    p.drawImage(area, image,
                QRectF(source.x() * dpr, source.y() * dpr, source.width() * dpr,
                       source.height() * dpr));
}

}  // namespace quorvid
