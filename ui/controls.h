// The classic controls the windows are built from, placed in twips as the
// window designs give them: labels with a colour pair and an optional sunken
// border, rectangle shapes drawn as an outline, straight lines, and the status
// bar in simple style.
#pragma once

#include "syscolors.h"

#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QRect>
#include <QStatusBar>
#include <QString>
#include <QTimer>
#include <QWidget>

class QFont;

namespace quorvid {

// 15 twips are one logical pixel at 96 dpi. Every figure goes through this one
// rounding, to the nearest pixel (no twips figure lies halfway).
constexpr int twipsToPixels(int twips)
{
    return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15);
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

// Arial at a whole pixel size, so that it scales with the device pixel ratio
// like everything else; fontconfig substitutes Liberation Sans where Arial is
// missing.
QFont arialFont(int pixelSize, bool bold = false);

// The text colour to use on a background: the designed one unless the two
// cannot be told apart (a platform palette can make "button text" equal to
// "caption text"), then black or white, whichever stands out.
QColor readableTextColor(const QColor& text, const QColor& background);

struct LabelStyle {
    OleColor foreground = systemColorValue(SysColor::ButtonText);
    OleColor background = systemColorValue(SysColor::ButtonFace);
    bool border = false;  // fixed single: a sunken 1-pixel edge
    Qt::Alignment alignment = Qt::AlignLeft;
};

// An opaque label that shows its caption as plain text (the board's
// identification must not be taken for markup), from the top of its box,
// wraps at word boundaries and cuts off at the bottom what does not fit.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                  const QFont& font, const LabelStyle& style);

// A frame around a group of option buttons, drawn the classic way: an etched
// edge with the caption standing on its top line, so the buttons placed at
// their designed offsets sit clear of both.
class FrameBox : public QGroupBox {
    Q_OBJECT

public:
    explicit FrameBox(const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A rectangle shape: a 2-pixel outline lying inside its box, nothing else.
// It takes no mouse input, so it can sit above the controls it frames.
class ShapeWidget : public QWidget {
    Q_OBJECT

public:
    ShapeWidget(QColor colour, QWidget* parent = nullptr);
    static constexpr int kBorderWidth = 2;
    QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
};

// A horizontal line of a given colour and width, its top row at the widget's top.
class LineWidget : public QWidget {
    Q_OBJECT

public:
    LineWidget(QColor colour, int width, QWidget* parent = nullptr);
    QColor colour() const { return m_colour; }
    int lineWidth() const { return m_width; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
    int m_width;
};

// A status bar in simple style: one text over the full width. The clock writes
// the simple text several times a second; a notice shown over it stays for its
// time, then the simple text shows again.
class SimpleStatusBar : public QStatusBar {
    Q_OBJECT

public:
    explicit SimpleStatusBar(QWidget* parent = nullptr);

    void setSimpleText(const QString& text);
    QString simpleText() const { return m_simple; }

    void showNotice(const QString& text, int milliseconds);
    bool noticeShowing() const { return m_noticeTimer->isActive(); }

    // What the bar shows now.
    QString text() const { return currentMessage(); }

private:
    void noticeExpired();

    QString m_simple;
    QTimer* m_noticeTimer;  // "noticeTimer", single-shot
};

}  // namespace quorvid
