#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace kestrum {

// Dialog units of a font: a horizontal unit is a quarter of the font's average character
// width, a vertical unit an eighth of its line height. Laying windows out in them keeps
// their proportions in any font and at any screen resolution.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }
    QRect Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }

    int AverageCharWidth() const { return averageCharWidth_; }
    int LineHeight() const { return lineHeight_; }

private:
    int averageCharWidth_;
    int lineHeight_;
};

}  // namespace kestrum
