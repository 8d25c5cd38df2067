#pragma once

// The one set of colours, corner radii and fonts every Pimsel window and popover is drawn with.
// Everything is dark: ink backgrounds, inkRaised list rows, cream text, accent highlights.

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace pimsel::palette {

// All sRGB.
inline constexpr QColor accent{204, 247, 67};
inline constexpr QColor cream{251, 246, 236};
inline constexpr QColor ink{11, 11, 11};
inline constexpr QColor inkRaised{22, 22, 22};
inline constexpr QColor inkHigh{31, 31, 31};

// `color` with its alpha set to `opacity` (0…1).
QColor withOpacity(QColor color, double opacity);

QColor creamSecondary(); // cream at 0.62
QColor creamTertiary();  // cream at 0.38
QColor hairline();       // cream at 0.1
QColor accentWash();     // accent at 0.16
// The colour as a style-sheet value, alpha included.
QString css(const QColor& color);

inline constexpr qreal cornerLarge = 14;
inline constexpr qreal cornerMedium = 10;
inline constexpr qreal cornerSmall = 7;

// The one font every view draws emoji with: the colour emoji font alone, so each catalogue emoji
// is one colour glyph. `pixelSize` is in logical pixels.
QFont emojiFont(int pixelSize);
// The interface font for labels at `pixelSize` logical pixels and the given weight.
QFont textFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// The dark palette of Pimsel's windows, whatever the desktop theme says.
QPalette darkPalette();
// Gives `window` (and so its children) the dark palette.
void applyDarkAppearance(QWidget* window);

} // namespace pimsel::palette
