// The chart's picture box: a sunken 2-pixel frame around a 589 x 221 client
// area with a user scale of 737 x 340 units. Its backing image keeps all that
// is drawn, from before the window is first shown and across covering. The
// screen is repainted for the changed area only, at most once per
// kRepaintInterval: the board sends up to 150 steps a second, more than a
// screen shows, and each repaint costs a pass through the window system
// whatever its size.
#pragma once

#include "drawsurface.h"

#include <QFrame>
#include <QTimer>

namespace quorvid {

class Graph : public QFrame, public DrawSurface {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 589;
    static constexpr int kClientHeight = 221;
    static constexpr double kScaleWidth = 737;
    static constexpr double kScaleHeight = 340;
    static constexpr int kBorder = 2;
    static constexpr int kRepaintInterval = 20;  // ms: 50 repaints a second at most

    explicit Graph(QWidget* parent = nullptr);

    double scaleWidth() const override { return m_surface.scaleWidth(); }
    double scaleHeight() const override { return m_surface.scaleHeight(); }
    void setForeColor(OleColor color) override { m_surface.setForeColor(color); }
    void setDrawWidth(int pixels) override { m_surface.setDrawWidth(pixels); }
    void pset(float x, float y) override;
    void line(float x1, float y1, float x2, float y2) override;

    // The kept drawing, for tests and screenshots.
    const QImage& image() { return m_surface.image(); }

    // The changed area not yet handed to the screen, in widget coordinates.
    QRect pendingRepaint() const { return m_pending; }
    // Hands the changed area to the screen now rather than at the next tick.
    void repaintPending();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void scheduleRepaint();

    ImageSurface m_surface;
    QPoint m_clientOrigin;
    QRect m_pending;
    QTimer m_repaint;
};

}  // namespace quorvid
