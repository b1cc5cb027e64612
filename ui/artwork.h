// The program's own pictures, drawn in code so that no binary resource has to
// be kept: the two-image window icon (32 x 32 and 16 x 16, 16 colours) and the
// 220 x 50 picture in the corner of the main window (8 colours).
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace quorvid {

// The icon at one of its two sizes, 32 or 16 pixels, in the classic 16-colour
// palette with transparent corners.
QImage iconImage(int size);

// Both sizes; the application's, the main window's and the About window's icon.
QIcon appIcon();

// The main window's picture, 220 x 50 logical pixels in an 8-colour palette,
// drawn for the given device pixel ratio.
QImage pictureImage(qreal devicePixelRatio = 1.0);

inline constexpr int kPictureWidth = 220;
inline constexpr int kPictureHeight = 50;

}  // namespace quorvid

namespace quorvid {

// One beat of an arterial pressure curve over phase 0..1: the systolic peak,
// the dicrotic notch and the diastolic run-off, scaled to 0..1. The pictures
// use it, and so does the screenshot tool to feed the chart.
double pulseShape(double phase);

}  // namespace quorvid
