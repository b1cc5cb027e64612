#include "sweepchart.h"

#include <cmath>

namespace quorvid {

void SweepChart::gridColumn(float x, float height)
{
    m_surface.pset(x, height - 20);
    m_surface.pset(x, height - 120);
    m_surface.pset(x, height - 220);
    m_surface.pset(x, height - 320);
}

void SweepChart::drawStartupGrid()
{
    // Nearest integer, ties to even (the default rounding mode).
    const auto lastColumn = static_cast<std::int16_t>(std::nearbyint(m_surface.scaleWidth()));
    const auto height = static_cast<float>(m_surface.scaleHeight());
    for (GridX = 0; GridX <= lastColumn; GridX = static_cast<std::int16_t>(GridX + 4))
        gridColumn(GridX, height);
}

void SweepChart::PlotSamples(std::int16_t& s1, std::int16_t& s2)
{
    m_surface.setDrawWidth(2);

    if (static_cast<float>(SweepX) < static_cast<float>(m_surface.scaleWidth()))
        SweepX = static_cast<std::int16_t>(SweepX + 2);
    else
        SweepX = 0;
    const float x = SweepX;

    s1 = static_cast<std::int16_t>(420 - s1);
    s2 = static_cast<std::int16_t>(421 - s2);
    const float y1 = s1;
    const float y2 = s2;

    const auto height = static_cast<float>(m_surface.scaleHeight());
    m_surface.setForeColor(kWindowBackground);
    m_surface.line(x, 1, x, height);
    m_surface.line(x + 1, 1, x + 1, height);

    m_surface.setForeColor(kGrey);
    m_surface.setDrawWidth(1);
    if (SweepX % 4 == 0) gridColumn(x, height);

    m_surface.setDrawWidth(2);
    m_surface.setForeColor(kRed);
    if (x >= 1) m_surface.line(x - 2, LastY1, x, y1);
    m_surface.setForeColor(kBlue);
    if (x >= 1) m_surface.line(x - 2, LastY2, x, y2);

    LastY1 = s1;
    LastY2 = s2;
}

}  // namespace quorvid
