#include "controls.h"

#include <QFont>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cstdlib>

namespace quorvid {

QFont arialFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

QColor readableTextColor(const QColor& text, const QColor& background)
{
    const int distance = std::max({std::abs(text.red() - background.red()),
                                   std::abs(text.green() - background.green()),
                                   std::abs(text.blue() - background.blue())});
    // Below this the two read as one colour on any screen.
    constexpr int kIndistinguishable = 32;
    if (distance >= kIndistinguishable) return text;
    const int luma = (299 * background.red() + 587 * background.green() + 114 * background.blue()) / 1000;
    return luma >= 128 ? QColor(Qt::black) : QColor(Qt::white);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                  const QFont& font, const LabelStyle& style)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    // Captions start at the top of the box, as the design's labels draw them:
    // a caption taller than its box keeps its first lines and loses the last.
    // No indent either: the text starts right inside the border.
    label->setAlignment(style.alignment | Qt::AlignTop);
    label->setIndent(0);
    label->setMargin(0);
    label->setFont(font);
    label->setGeometry(geometry);

    const QColor background = oleColor(style.background);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, readableTextColor(oleColor(style.foreground), background));
    label->setPalette(palette);
    label->setAutoFillBackground(true);

    if (style.border) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
    }
    label->setText(caption);
    return label;
}

FrameBox::FrameBox(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent)
{
}

void FrameBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QFontMetrics fm(font());
    const int top = fm.height() / 2;
    const QRect edge(0, top, width() - 2, height() - top - 2);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(edge);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(edge.translated(1, 1));

    constexpr int kIndent = 6, kPad = 2;
    const int textWidth = fm.horizontalAdvance(title());
    const QRect caption(kIndent, 0, textWidth + 2 * kPad, fm.height());
    // Break only the two etched lines behind the caption: the frame's top row
    // may share a pixel row with whatever stands just above it.
    p.fillRect(caption.left(), top, caption.width(), 2, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter, title());
}

ShapeWidget::ShapeWidget(QColor colour, QWidget* parent)
    : QWidget(parent)
    , m_colour(colour)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void ShapeWidget::paintEvent(QPaintEvent*)
{
    // Four filled bands rather than a stroked rectangle: a pen straddles the
    // path and would put half its width outside the box.
    QPainter p(this);
    const int w = width(), h = height(), b = kBorderWidth;
    p.fillRect(0, 0, w, b, m_colour);
    p.fillRect(0, h - b, w, b, m_colour);
    p.fillRect(0, b, b, h - 2 * b, m_colour);
    p.fillRect(w - b, b, b, h - 2 * b, m_colour);
}

LineWidget::LineWidget(QColor colour, int width, QWidget* parent)
    : QWidget(parent)
    , m_colour(colour)
    , m_width(width)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void LineWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(0, 0, width(), m_width, m_colour);
}

SimpleStatusBar::SimpleStatusBar(QWidget* parent)
    : QStatusBar(parent)
    , m_noticeTimer(new QTimer(this))
{
    // The window cannot be resized, so a size grip would only mislead.
    setSizeGripEnabled(false);
    m_noticeTimer->setObjectName(QStringLiteral("noticeTimer"));
    m_noticeTimer->setSingleShot(true);
    connect(m_noticeTimer, &QTimer::timeout, this, &SimpleStatusBar::noticeExpired);
}

void SimpleStatusBar::setSimpleText(const QString& text)
{
    m_simple = text;
    if (!m_noticeTimer->isActive()) showMessage(m_simple);
}

void SimpleStatusBar::showNotice(const QString& text, int milliseconds)
{
    showMessage(text);
    m_noticeTimer->start(milliseconds);
}

void SimpleStatusBar::noticeExpired()
{
    showMessage(m_simple);
}

}  // namespace quorvid
