// The sweep chart: two traces drawn left to right, one step of 2 units per
// waveform frame, over a dotted grid of four rows. When the newest point has
// passed the right edge drawing starts again at the left, and an erase bar at
// the newest point wipes what the previous sweep left there. The chart keeps no
// history: everything lives on the surface.
#pragma once

#include "drawsurface.h"
#include "framer.h"

#include <cstdint>

namespace quorvid {

class SweepChart : public WaveformSink {
public:
    explicit SweepChart(DrawSurface& surface)
        : m_surface(surface)
    {
    }

    // The start-up grid: rows at ScaleHeight - 20, -120, -220, -320 on every
    // fourth column, in the surface's current colour and pen width.
    void drawStartupGrid();

    // One step of both traces. On return s1 and s2 hold their y positions.
    void PlotSamples(std::int16_t& s1, std::int16_t& s2) override;

    std::int16_t GridX = 0;
    std::int16_t SweepX = 0;
    std::int16_t LastY1 = 0;
    std::int16_t LastY2 = 0;

private:
    void gridColumn(float x, float height);

    DrawSurface& m_surface;
};

}  // namespace quorvid
