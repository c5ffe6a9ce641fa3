#pragma once

// Converts the dialog-unit positions of the dialog templates into pixels of a given font, the way
// Windows lays out a template: a horizontal unit is a quarter of the font's average character width,
// a vertical unit an eighth of its height.

#include <QFont>
#include <QFontMetrics>
#include <QRect>

namespace vantrel {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        QFontMetrics metrics(font);
        int alphabet =
            metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX_ = (alphabet / 26 + 1) / 2;
        baseY_ = metrics.height();
    }

    int X(int units) const { return (units * baseX_ + 2) / 4; }
    int Y(int units) const { return (units * baseY_ + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

private:
    int baseX_ = 6;
    int baseY_ = 13;
};

// The templates' font. Their 8 points were the desktop's own size where they were drawn; here the text follows
// the desktop's font and size, and the dialog units above scale the layout with it.
inline QFont TemplateFont(QFont font) {
    return font;
}

}  // namespace vantrel
