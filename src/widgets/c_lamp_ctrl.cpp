#include "widgets/c_lamp_ctrl.h"

#include <QBitmap>
#include <QPainter>

namespace kestrum {

namespace {

const QColor kTransparent(255, 0, 255);

// The strip, with magenta masked once for all lamps.
const QPixmap& Strip()
{
    static const QPixmap strip = [] {
        QPixmap pixmap(QStringLiteral(":/resources/lamps.png"));
        pixmap.setMask(pixmap.createMaskFromColor(kTransparent, Qt::MaskInColor));
        return pixmap;
    }();
    return strip;
}

}  // namespace

CLampCtrl::CLampCtrl(QWidget* parent) : QWidget(parent), cell_(Cell(colour_, shade_))
{
    setFixedSize(kCellSize, kCellSize);
}

QPixmap CLampCtrl::Cell(Colour colour, Shade shade)
{
    return Strip().copy(static_cast<int>(shade) * kCellSize, static_cast<int>(colour) * kCellSize, kCellSize,
                        kCellSize);
}

void CLampCtrl::SetCell(Colour colour, Shade shade)
{
    if (colour == colour_ && shade == shade_)
        return;
    colour_ = colour;
    shade_ = shade;
    cell_ = Cell(colour, shade);
    repaint();
}

void CLampCtrl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap((width() - cell_.width()) / 2, (height() - cell_.height()) / 2, cell_);
}

}  // namespace kestrum
