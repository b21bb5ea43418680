#include "widgets/c_dialog_units.h"

#include <QFontMetrics>

namespace kestrum {

namespace {

// The average width of the 52 letters, rounded, as dialog templates measure it.
int AverageLetterWidth(const QFontMetrics& metrics)
{
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    averageCharWidth_ = std::max(1, AverageLetterWidth(metrics));
    lineHeight_ = std::max(1, metrics.height());
}

int CDialogUnits::X(int units) const
{
    return (units * averageCharWidth_ + 2) / 4;
}

int CDialogUnits::Y(int units) const
{
    return (units * lineHeight_ + 4) / 8;
}

}  // namespace kestrum
