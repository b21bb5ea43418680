#include "widgets/c_text_progress_ctrl.h"

#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace kestrum {

namespace {

// Draws the text centred in the whole bar, but only the part of it inside area.
void DrawTextIn(QPainter& painter, const QRect& bar, const QRect& area, const QString& text,
                const QColor& colour)
{
    painter.save();
    painter.setClipRect(area);
    painter.setPen(colour);
    painter.drawText(bar, Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.restore();
}

} // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent)
    : QWidget(parent), barColour_(palette().color(QPalette::Highlight)),
      backgroundColour_(palette().color(QPalette::Base)),
      textOnBackgroundColour_(palette().color(QPalette::Highlight)),
      textOnBarColour_(palette().color(QPalette::Base))
{
    // Every paint covers the whole bar; Qt's backing store keeps it from flickering.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTextProgressCtrl::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = upper;
}

int CTextProgressCtrl::SetPos(int position)
{
    const int previous = position_;
    position_ = position;
    const int filled = FilledWidth();
    if (filled != drawnWidth_) {
        drawnWidth_ = filled;
        repaint();
    }
    return previous;
}

int CTextProgressCtrl::SetStep(int step)
{
    return std::exchange(step_, step);
}

int CTextProgressCtrl::StepIt()
{
    // A large step count must not wrap the position round to the other end.
    const std::int64_t next = std::int64_t{position_} + step_;
    return SetPos(static_cast<int>(
        std::clamp<std::int64_t>(next, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
}

void CTextProgressCtrl::SetBackgroundColour(const QColor& colour)
{
    backgroundColour_ = colour;
}

void CTextProgressCtrl::ShowText(bool show)
{
    if (show == showText_)
        return;
    showText_ = show;
    update();
}

void CTextProgressCtrl::SetText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
}

double CTextProgressCtrl::Fraction() const
{
    // In double, so neither the difference nor the ratio can overflow.
    const double fraction =
        (static_cast<double>(position_) - lower_) / (static_cast<double>(upper_) - lower_);
    // A position outside the range shows an empty or a full bar, never more.
    return std::clamp(fraction, 0.0, 1.0);
}

int CTextProgressCtrl::FilledWidth() const
{
    return HasRange() ? static_cast<int>(width() * Fraction()) : 0;
}

QString CTextProgressCtrl::ShownText() const
{
    if (!text_.isEmpty())
        return text_;
    return QStringLiteral("%1%").arg(static_cast<int>(Fraction() * 100));
}

void CTextProgressCtrl::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRect whole = rect();
    if (!HasRange()) {
        painter.fillRect(whole, backgroundColour_);
        return;
    }
    const int filled = FilledWidth();
    const QRect bar(whole.left(), whole.top(), filled, whole.height());
    const QRect empty(whole.left() + filled, whole.top(), whole.width() - filled, whole.height());
    painter.fillRect(bar, barColour_);
    painter.fillRect(empty, backgroundColour_);
    if (!showText_)
        return;
    const QString text = ShownText();
    DrawTextIn(painter, whole, bar, text, textOnBarColour_);
    DrawTextIn(painter, whole, empty, text, textOnBackgroundColour_);
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event)
{
    drawnWidth_ = -1;
    QWidget::resizeEvent(event);
}

} // namespace kestrum
