#include "platform/qt/dialog_units.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

namespace platform::qt {

namespace {

constexpr int PointsPerInch = 72;
// Used when no screen is known yet; it is what every platform plugin we run on reports.
constexpr int DefaultLogicalDpi = 96;
constexpr const char* AlphabetSample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int LettersInAlphabet = 26;

}  // namespace

int mulDiv(int a, int b, int c)
{
    if (c == 0) {
        return -1;
    }
    long long product = static_cast<long long>(a) * b;
    long long half = (c < 0 ? -c : c) / 2;
    bool negative = (product < 0) != (c < 0);
    long long magnitude = (product < 0 ? -product : product);
    long long divisor = (c < 0 ? -static_cast<long long>(c) : c);
    long long result = (magnitude + half) / divisor;
    return static_cast<int>(negative ? -result : result);
}

QFont dialogFont(const QString& face, int pointSize)
{
    int dpi = DefaultLogicalDpi;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        dpi = qRound(screen->logicalDotsPerInchY());
    }
    QFont font(face);
    // A pixel size rather than a point size: the system rounds the height to whole pixels before
    // it measures anything, and the layout must see the same font it does.
    font.setPixelSize(mulDiv(pointSize, dpi, PointsPerInch));
    font.setStyleStrategy(QFont::PreferMatch);
    return font;
}

DialogBaseUnits baseUnitsOf(const QFont& font)
{
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(QString::fromLatin1(AlphabetSample));
    // Average over 52 letters, rounded: (width / 26 + 1) / 2.
    return DialogBaseUnits{(width / LettersInAlphabet + 1) / 2, metrics.height()};
}

int dialogXToPixels(int du, DialogBaseUnits base)
{
    return mulDiv(du, base.x, 4);
}

int dialogYToPixels(int du, DialogBaseUnits base)
{
    return mulDiv(du, base.y, 8);
}

QRect dialogRectToPixels(int left, int top, int width, int height, DialogBaseUnits base)
{
    // Position and size are converted each on its own, as the system does when it builds a
    // dialog from its template, so our pixels match a native build of the same template.
    return QRect(dialogXToPixels(left, base), dialogYToPixels(top, base),
                 dialogXToPixels(width, base), dialogYToPixels(height, base));
}

}  // namespace platform::qt
