#include "ui/suggestion_layout.h"

#include <algorithm>

namespace pimsel::suggestion_layout {

namespace {

int rowsHeight(int rowCount) {
    return rowHeight * std::max(rowCount, 1);
}

} // namespace

QSize panelSize(int rowCount, bool hasToneStrip) {
    const int height = rowsHeight(rowCount) + 2 * outerPadding + (hasToneStrip ? toneStripHeight : 0);
    return QSize(contentWidth + 2 * outerPadding, height);
}

QRect rowRect(int row) {
    return QRect(outerPadding, outerPadding + row * rowHeight, contentWidth, rowHeight);
}

QRect rowEmojiRect(int row) {
    const QRect r = rowRect(row);
    return QRect(r.x() + rowHorizontalPadding, r.y(), emojiBoxWidth, r.height());
}

QRect rowLabelRect(int row) {
    const QRect r = rowRect(row);
    const int left = r.x() + rowHorizontalPadding + emojiBoxWidth + rowSpacing;
    const int right = r.x() + r.width() - rowHorizontalPadding;
    return QRect(left, r.y(), right - left, r.height());
}

QRect toneStripRect(int rowCount) {
    return QRect(outerPadding, outerPadding + rowsHeight(rowCount), contentWidth, toneStripHeight);
}

QRect hairlineRect(int rowCount) {
    const QRect strip = toneStripRect(rowCount);
    return QRect(strip.x() + hairlineInset, strip.y() + toneStripLead, strip.width() - 2 * hairlineInset, 1);
}

QRect toneCellRect(int rowCount, int variantCount, int variant) {
    const QRect strip = toneStripRect(rowCount);
    const int available = strip.width() - 2 * toneHorizontalPadding;
    const int used = variantCount * toneCellSize + std::max(variantCount - 1, 0) * toneCellSpacing;
    const int left = strip.x() + toneHorizontalPadding + (available - used) / 2;
    const int top = hairlineRect(rowCount).y() + 1 + toneTopPadding;
    return QRect(left + variant * (toneCellSize + toneCellSpacing), top, toneCellSize, toneCellSize);
}

} // namespace pimsel::suggestion_layout
