#pragma once

// Where the suggestion popover goes, as plain rectangle arithmetic over the screen list.
// Global coordinates: origin at the top-left of the virtual desktop, y growing downwards.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace pimsel {

struct ScreenArea {
    QRect frame;     // the whole screen
    QRect available; // without panels and docks
};

struct PopoverPlacementInput {
    std::optional<QRect> caret; // none when the focused field did not say where its caret is
    QPoint pointer;             // stands in for the caret when there is none
    QSize panelSize;
    QList<ScreenArea> screens;
    std::optional<int> primaryScreen; // index into `screens`
};

inline constexpr int popoverCaretGap = 6;
inline constexpr int popoverScreenInset = 4;
// The stand-in caret under the pointer.
inline constexpr int popoverPointerCaretHeight = 18;

// The caret rectangle placement works from: the caret, or a 1×18 box hanging from the pointer.
QRect popoverAnchor(const std::optional<QRect>& caret, const QPoint& pointer);

// The screen whose frame holds the anchor's centre, else the primary one; none when neither exists.
std::optional<int> popoverScreenIndex(const QRect& anchor, const QList<ScreenArea>& screens,
                                      std::optional<int> primaryScreen);

// Top-left corner of the panel: under the caret, above it when there is no room below, kept
// 4 px inside the chosen screen's available area.
QPoint placePopover(const PopoverPlacementInput& input);

} // namespace pimsel
