// Colours as the window's design gives them: 0x00BBGGRR, or with the top bit
// set the index of a system colour.
#pragma once

#include <QColor>

#include <cstdint>

namespace quorvid {

using OleColor = std::uint32_t;

namespace SysColor {
inline constexpr int WindowBackground = 5;
inline constexpr int CaptionText = 9;
inline constexpr int AppWorkspace = 12;
inline constexpr int ButtonFace = 15;
inline constexpr int ButtonText = 18;
}  // namespace SysColor

constexpr OleColor systemColorValue(int index) { return 0x80000000u | static_cast<OleColor>(index); }

inline constexpr OleColor kWindowBackground = systemColorValue(SysColor::WindowBackground);
inline constexpr OleColor kGrey = 0x808080;
inline constexpr OleColor kRed = 0x0000FF;
inline constexpr OleColor kBlue = 0xFF0000;
inline constexpr OleColor kGreen = 0x00C000;

// The platform's colour where it has one, otherwise the classic value.
QColor systemColor(int index);

// Resolves a design colour: a system colour by index, or RGB from 0x00BBGGRR.
QColor oleColor(OleColor value);

}  // namespace quorvid
