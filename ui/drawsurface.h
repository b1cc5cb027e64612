// What the sweep chart draws on: a picture box with a user scale, a current
// colour and a current pen width, which keeps what is drawn on it.
#pragma once

#include "syscolors.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QSizeF>

#include <memory>

namespace quorvid {

class DrawSurface {
public:
    virtual ~DrawSurface() = default;

    // Client area in user units.
    virtual double scaleWidth() const = 0;
    virtual double scaleHeight() const = 0;

    // Apply to every point and line drawn after them.
    virtual void setForeColor(OleColor color) = 0;
    virtual void setDrawWidth(int pixels) = 0;

    virtual void pset(float x, float y) = 0;
    virtual void line(float x1, float y1, float x2, float y2) = 0;
};

// A surface backed by an image of the client area. User units map linearly
// onto logical pixels; the image holds device pixels at the given ratio.
// Points and wide lines, all that the chart draws, are filled into the image's
// rows directly; thin lines go through a painter that stays open between
// calls, since opening one per line costs more than the line.
class ImageSurface : public DrawSurface {
public:
    ImageSurface(QSize clientPixels, QSizeF scale, qreal devicePixelRatio = 1.0);
    ~ImageSurface() override;

    double scaleWidth() const override { return m_scale.width(); }
    double scaleHeight() const override { return m_scale.height(); }
    void setForeColor(OleColor color) override;
    void setDrawWidth(int pixels) override;
    void pset(float x, float y) override;
    void line(float x1, float y1, float x2, float y2) override;

    // The backing image; pending drawing is flushed first.
    const QImage& image();
    QSize clientPixels() const { return m_client; }
    qreal devicePixelRatio() const { return m_image.devicePixelRatio(); }
    // Re-renders the kept image at another device pixel ratio.
    void setDevicePixelRatio(qreal ratio);

    // Logical-pixel area touched since the last call, and forgets it.
    QRect takeDirty();

    QPointF toPixels(float x, float y) const;

private:
    QPainter& painter();
    void touch(QPointF a, QPointF b);
    // Fill with the current colour: a rectangle, and a wide line with round
    // ends, in logical pixels.
    void fill(QRectF logical);
    void fillCapsule(QPointF a, QPointF b);
    // The image's rows for writing spans of device pixels in the current colour.
    struct Rows {
        uchar* bits;
        qsizetype stride;
        int width, height;
        QRgb colour;
        void fill(int y, int left, int right) const;  // clipped to the image
    };
    Rows rows();
    void endPainting();

    QSize m_client;
    QSizeF m_scale;
    qreal m_sx, m_sy;
    QImage m_image;
    std::unique_ptr<QPainter> m_painter;
    QColor m_color;
    int m_width = 1;
    QRect m_dirty;
};

}  // namespace quorvid
