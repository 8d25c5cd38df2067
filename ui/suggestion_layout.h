#pragma once

// Geometry of the suggestion popover, shared by the window's sizing and the view's drawing and
// hit-testing. Logical pixels, relative to the panel's top-left corner.

#include <QRect>
#include <QSize>

namespace pimsel::suggestion_layout {

inline constexpr int rowHeight = 30;
inline constexpr int contentWidth = 260;
inline constexpr int outerPadding = 6;
inline constexpr int toneStripHeight = 40;

inline constexpr int rowHorizontalPadding = 8;
inline constexpr int rowSpacing = 9;
inline constexpr int emojiBoxWidth = 24;
inline constexpr int emojiPixelSize = 18;
inline constexpr int labelPixelSize = 13;

inline constexpr int toneCellSize = 28;
inline constexpr int toneCellSpacing = 4;
inline constexpr int toneHorizontalPadding = 8;
inline constexpr int toneTopPadding = 4;
inline constexpr int toneEmojiPixelSize = 17;
inline constexpr int hairlineInset = 4;
// Space between the last row and the hairline; the same space stays under the cells.
inline constexpr int toneStripLead = (toneStripHeight - 1 - toneTopPadding - toneCellSize) / 2;

// An empty list is sized as one row.
QSize panelSize(int rowCount, bool hasToneStrip);

QRect rowRect(int row);
// Where the emoji of a row is centred, and where its trigger and alias go.
QRect rowEmojiRect(int row);
QRect rowLabelRect(int row);

// The strip under the rows (rowCount as given to panelSize).
QRect toneStripRect(int rowCount);
QRect hairlineRect(int rowCount);
QRect toneCellRect(int rowCount, int variantCount, int variant);

} // namespace pimsel::suggestion_layout
