#include "ui/popover_placement.h"

#include <algorithm>

namespace pimsel {

namespace {

// QRect::right()/bottom() are one short of the edge; placement works with edges.
int maxX(const QRect& r) {
    return r.x() + r.width();
}
int maxY(const QRect& r) {
    return r.y() + r.height();
}

bool frameHolds(const QRect& frame, double x, double y) {
    return x >= frame.x() && x < maxX(frame) && y >= frame.y() && y < maxY(frame);
}

} // namespace

QRect popoverAnchor(const std::optional<QRect>& caret, const QPoint& pointer) {
    if (caret.has_value())
        return *caret;
    return QRect(pointer.x(), pointer.y(), 1, popoverPointerCaretHeight);
}

std::optional<int> popoverScreenIndex(const QRect& anchor, const QList<ScreenArea>& screens,
                                      std::optional<int> primaryScreen) {
    const double centreX = anchor.x() + anchor.width() / 2.0;
    const double centreY = anchor.y() + anchor.height() / 2.0;
    for (qsizetype i = 0; i < screens.size(); ++i) {
        if (frameHolds(screens[i].frame, centreX, centreY))
            return static_cast<int>(i);
    }
    if (primaryScreen.has_value() && *primaryScreen >= 0 && *primaryScreen < screens.size())
        return primaryScreen;
    return std::nullopt;
}

QPoint placePopover(const PopoverPlacementInput& input) {
    const QRect anchor = popoverAnchor(input.caret, input.pointer);
    const int w = input.panelSize.width();
    const int h = input.panelSize.height();
    int x = anchor.x();
    int y = maxY(anchor) + popoverCaretGap;

    const std::optional<int> screen = popoverScreenIndex(anchor, input.screens, input.primaryScreen);
    if (!screen.has_value())
        return QPoint(x, y);
    const QRect v = input.screens[*screen].available;

    if (y + h > maxY(v))
        y = anchor.y() - popoverCaretGap - h;

    x = std::max(x, v.x() + popoverScreenInset);
    x = std::min(x, maxX(v) - w - popoverScreenInset);
    // The top bound wins on a screen too short for the panel, so its first rows stay visible.
    y = std::min(y, maxY(v) - h - popoverScreenInset);
    y = std::max(y, v.y() + popoverScreenInset);
    return QPoint(x, y);
}

} // namespace pimsel
