// Draws the desktop program's pictures (logo, window icon, lamp strip) and the icon the
// desktop's menu shows for it, at the sizes of the hicolor theme, as PNG files. The pictures
// are committed under src/widgets/resources and packaging/icons; run this after changing a
// drawing:
//   build/src/gui/art_gen src/widgets/resources packaging/icons
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

// A kestrel's wing over a chip: loading firmware into a device.
void DrawBadge(QPainter& p, double size)
{
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 64.0;
    QLinearGradient sky(0, 0, 0, size);
    sky.setColorAt(0, QColor(38, 110, 160));
    sky.setColorAt(1, QColor(18, 56, 96));
    p.setPen(QPen(QColor(12, 36, 64), 1.5 * u));
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(1.5 * u, 1.5 * u, 61 * u, 61 * u), 12 * u, 12 * u);

    // The chip with its pins.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 226, 232));
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF((21 + 6.5 * i) * u, 37 * u, 3 * u, 21 * u));
    }
    p.setBrush(QColor(44, 48, 56));
    p.drawRoundedRect(QRectF(17 * u, 41 * u, 30 * u, 13 * u), 2 * u, 2 * u);
    p.setBrush(QColor(255, 196, 40));
    p.drawEllipse(QPointF(22 * u, 47.5 * u), 2 * u, 2 * u);

    // The wing: a swept curve with three primaries, pointing down towards the chip.
    QPainterPath wing;
    wing.moveTo(8 * u, 14 * u);
    wing.cubicTo(24 * u, 8 * u, 44 * u, 8 * u, 57 * u, 12 * u);
    wing.cubicTo(48 * u, 16 * u, 42 * u, 22 * u, 40 * u, 33 * u);
    wing.lineTo(35 * u, 26 * u);
    wing.lineTo(32 * u, 34 * u);
    wing.lineTo(27 * u, 25 * u);
    wing.lineTo(23 * u, 31 * u);
    wing.cubicTo(20 * u, 22 * u, 14 * u, 17 * u, 8 * u, 14 * u);
    QLinearGradient feather(0, 8 * u, 0, 34 * u);
    feather.setColorAt(0, QColor(250, 170, 90));
    feather.setColorAt(1, QColor(196, 98, 40));
    p.setBrush(feather);
    p.setPen(QPen(QColor(120, 56, 20), 1.2 * u));
    p.drawPath(wing);
}

// The lamps: three columns (bright, dark, grey) of 16 by 16 cells, eight rows: round red,
// green, yellow and blue lamps, then square ones. Magenta is the transparent colour.
QImage LampStrip()
{
    constexpr int kCell = 16;
    const QColor hues[] = {QColor(230, 30, 30), QColor(30, 200, 40), QColor(245, 210, 20), QColor(40, 90, 240)};
    QImage strip(3 * kCell, 8 * kCell, QImage::Format_RGB32);
    strip.fill(QColor(255, 0, 255));
    QPainter p(&strip);
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 3; ++column) {
            QColor face = hues[row % 4];
            if (column == 1)
                face = face.darker(250);
            if (column == 2)
                face = QColor(150, 150, 150);
            const QRectF cell(column * kCell + 2.5, row * kCell + 2.5, kCell - 5, kCell - 5);
            QRadialGradient shine(cell.center() - QPointF(2, 2), cell.width() * 0.7);
            shine.setColorAt(0, column == 0 ? face.lighter(170) : face.lighter(120));
            shine.setColorAt(1, face);
            p.setBrush(shine);
            p.setPen(QPen(face.darker(200), 1));
            // No antialiasing: edge pixels blended with magenta would show as pink.
            if (row < 4)
                p.drawEllipse(cell);
            else
                p.drawRect(cell);
        }
    }
    return strip;
}

bool Save(const QImage& image, const QString& path)
{
    if (image.save(path))
        return true;
    std::fprintf(stderr, "art_gen: cannot write %s\n", qPrintable(path));
    return false;
}

QImage Badge(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    DrawBadge(painter, size);
    return image;
}

// The badge at each size desktops pick from: DIR/16x16/kestrum.png and so on.
bool SaveIcons(const QString& dir)
{
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sizeDir = dir + QStringLiteral("/%1x%1").arg(size);
        if (!QDir().mkpath(sizeDir)) {
            std::fprintf(stderr, "art_gen: cannot make %s\n", qPrintable(sizeDir));
            return false;
        }
        if (!Save(Badge(size), sizeDir + QStringLiteral("/kestrum.png")))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: art_gen RESOURCE_DIR ICON_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const bool ok = Save(Badge(48), dir + QStringLiteral("/logo.png")) &&
                    Save(Badge(64), dir + QStringLiteral("/kestrum.png")) &&
                    Save(LampStrip(), dir + QStringLiteral("/lamps.png")) &&
                    SaveIcons(QString::fromLocal8Bit(argv[2]));
    return ok ? 0 : 1;
}
