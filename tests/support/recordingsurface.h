// A drawing surface that records every operation as text, in order:
// "color 0x808080", "width 2", "pset 4 320", "line 0 0 2 120".
#pragma once

#include "drawsurface.h"

#include <QString>
#include <QStringList>

namespace quorvid::test {

class RecordingSurface : public DrawSurface {
public:
    explicit RecordingSurface(double width = 737, double height = 340)
        : m_width(width), m_height(height)
    {
    }

    double scaleWidth() const override { return m_width; }
    double scaleHeight() const override { return m_height; }
    void setForeColor(OleColor color) override;
    void setDrawWidth(int pixels) override;
    void pset(float x, float y) override;
    void line(float x1, float y1, float x2, float y2) override;

    QStringList ops;

private:
    double m_width;
    double m_height;
};

}  // namespace quorvid::test
