#include "syscolors.h"

#include <QGuiApplication>
#include <QPalette>

namespace quorvid {

QColor systemColor(int index)
{
    // Roles that Qt's palette has; the others take their classic values.
    const QPalette palette = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                                 ? QGuiApplication::palette()
                                 : QPalette();
    switch (index) {
    case SysColor::WindowBackground: return palette.color(QPalette::Active, QPalette::Base);
    case SysColor::ButtonFace: return palette.color(QPalette::Active, QPalette::Button);
    case SysColor::ButtonText: return palette.color(QPalette::Active, QPalette::ButtonText);
    case SysColor::CaptionText: return QColor(0xFF, 0xFF, 0xFF);
    case SysColor::AppWorkspace: return QColor(0xAB, 0xAB, 0xAB);
    default: break;
    }
    return QColor(0, 0, 0);
}

QColor oleColor(OleColor value)
{
    if (value & 0x80000000u) return systemColor(static_cast<int>(value & 0xFF));
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

}  // namespace quorvid
