// Dialog units to pixels, the way a Windows dialog box measures them: the horizontal base unit is
// the average width of the letters "A".."Z" "a".."z" in the dialog's font, the vertical one the
// font's height; x px = du * baseX / 4 and y px = du * baseY / 8, rounded to the nearest pixel.
// With "Arial" 8 pt (fontconfig gives Liberation Sans, its metric twin) at 96 dpi the bases are
// 6 x 12, so one dialog unit is 1.5 px both ways.
// Results: plain values; a font that cannot be measured gives the bases of the fallback font Qt
// picked.
// Thread rule: UI thread (font metrics need the running QGuiApplication).
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

namespace platform::qt {

struct DialogBaseUnits {
    int x = 0;  // average character width, px
    int y = 0;  // font height, px
};

// The font a dialog template names, sized as Windows sizes it: the point size turned into whole
// pixels at the screen's logical resolution.
QFont dialogFont(const QString& face, int pointSize);

DialogBaseUnits baseUnitsOf(const QFont& font);

// a * b / c rounded half away from zero, as the system's MulDiv.
int mulDiv(int a, int b, int c);

int dialogXToPixels(int du, DialogBaseUnits base);
int dialogYToPixels(int du, DialogBaseUnits base);
// A control's rectangle: left, top, width and height in dialog units.
QRect dialogRectToPixels(int left, int top, int width, int height, DialogBaseUnits base);

}  // namespace platform::qt
