#include "recordingsurface.h"

namespace quorvid::test {

void RecordingSurface::setForeColor(OleColor color)
{
    ops << QStringLiteral("color 0x%1").arg(color, 6, 16, QLatin1Char('0'));
}

void RecordingSurface::setDrawWidth(int pixels) { ops << QStringLiteral("width %1").arg(pixels); }

void RecordingSurface::pset(float x, float y) { ops << QStringLiteral("pset %1 %2").arg(x).arg(y); }

void RecordingSurface::line(float x1, float y1, float x2, float y2)
{
    ops << QStringLiteral("line %1 %2 %3 %4").arg(x1).arg(y1).arg(x2).arg(y2);
}

}  // namespace quorvid::test
