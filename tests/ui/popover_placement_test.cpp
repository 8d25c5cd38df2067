#include "ui/popover_placement.h"

#include "ui_test_support.h"

#include <gtest/gtest.h>

namespace pimsel {
namespace {

const QSize sixRows(272, 192);

// A 1920×1080 screen with a 40 px panel along its bottom.
ScreenArea mainScreen() {
    return {QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)};
}

struct PlacementCase {
    const char* name;
    std::optional<QRect> caret;
    QPoint pointer;
    QSize panel;
    QList<ScreenArea> screens;
    std::optional<int> primary;
    QPoint expected;
};

void PrintTo(const PlacementCase& c, std::ostream* os) {
    *os << c.name;
}

class PopoverPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PopoverPlacement, PlacesPanel) {
    const PlacementCase& c = GetParam();
    PopoverPlacementInput input;
    input.caret = c.caret;
    input.pointer = c.pointer;
    input.panelSize = c.panel;
    input.screens = c.screens;
    input.primaryScreen = c.primary;
    EXPECT_EQ(placePopover(input), c.expected);
}

// Two screens: the right one is 1280×1024 with a dock on its left and a 124 px panel at its bottom.
const QList<ScreenArea> sideBySide{mainScreen(), {QRect(1920, 0, 1280, 1024), QRect(1990, 0, 1210, 900)}};
// The second screen sits below the first.
const QList<ScreenArea> stacked{mainScreen(), {QRect(0, 1080, 1920, 1080), QRect(0, 1080, 1920, 1080)}};

INSTANTIATE_TEST_SUITE_P(
    SingleScreen, PopoverPlacement,
    ::testing::Values(
        // 6 px under the caret's bottom edge, left edges aligned.
        PlacementCase{"below", QRect(100, 200, 2, 18), {}, sixRows, {mainScreen()}, 0, QPoint(100, 224)},
        PlacementCase{
            "oneRow", QRect(300, 500, 2, 20), {}, QSize(272, 42), {mainScreen()}, 0, QPoint(300, 526)},
        // The bottom edge would be at 1166, past the panel's top at 1040: above the caret instead.
        PlacementCase{"flipAbove", QRect(100, 950, 2, 18), {}, sixRows, {mainScreen()}, 0, QPoint(100, 752)},
        // Its bottom edge lands on the available bottom: no flip, but the 4 px inset lifts it.
        PlacementCase{
            "noFlipButInset", QRect(100, 824, 2, 18), {}, sixRows, {mainScreen()}, 0, QPoint(100, 844)},
        PlacementCase{
            "flipByOnePixel", QRect(100, 825, 2, 18), {}, sixRows, {mainScreen()}, 0, QPoint(100, 627)},
        // A caret inside the bottom panel area still opens above.
        PlacementCase{
            "caretOverBottomPanel", QRect(100, 1030, 2, 8), {}, sixRows, {mainScreen()}, 0, QPoint(100, 832)},
        PlacementCase{
            "rightEdge", QRect(1800, 200, 2, 18), {}, sixRows, {mainScreen()}, 0, QPoint(1644, 224)},
        PlacementCase{"leftEdge", QRect(1, 200, 2, 18), {}, sixRows, {mainScreen()}, 0, QPoint(4, 224)},
        // A top bar takes 30 px; flipping above a caret high on a short screen runs into it.
        PlacementCase{"topEdge",
                      QRect(100, 150, 2, 18),
                      {},
                      sixRows,
                      {{QRect(0, 0, 800, 300), QRect(0, 30, 800, 270)}},
                      0,
                      QPoint(100, 34)},
        // Narrower than the panel: the right edge wins, 4 px inside.
        PlacementCase{"narrowScreen",
                      QRect(50, 20, 2, 18),
                      {},
                      QSize(272, 42),
                      {{QRect(0, 0, 200, 600), QRect(0, 0, 200, 600)}},
                      0,
                      QPoint(-76, 44)},
        // Shorter than the panel: the top edge stays 4 px under the top so the first rows show.
        PlacementCase{"shortScreen",
                      QRect(50, 20, 2, 18),
                      {},
                      sixRows,
                      {{QRect(0, 0, 800, 150), QRect(0, 0, 800, 150)}},
                      0,
                      QPoint(50, 4)}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SeveralScreens, PopoverPlacement,
    ::testing::Values(
        // The caret's own screen clamps, not the primary one.
        PlacementCase{
            "rightScreenRightEdge", QRect(3150, 500, 2, 18), {}, sixRows, sideBySide, 0, QPoint(2924, 524)},
        PlacementCase{
            "rightScreenDock", QRect(1925, 300, 2, 18), {}, sixRows, sideBySide, 0, QPoint(1994, 324)},
        // Fits on the primary screen's height but not above the right screen's bottom panel.
        PlacementCase{
            "rightScreenFlip", QRect(2000, 700, 2, 18), {}, sixRows, sideBySide, 0, QPoint(2000, 502)},
        // Near the right edge of the left screen the panel may not spill onto the right one.
        PlacementCase{
            "leftScreenRightEdge", QRect(1900, 300, 2, 18), {}, sixRows, sideBySide, 1, QPoint(1644, 324)},
        // A caret straddling both screens belongs to the one holding its centre.
        PlacementCase{
            "straddleCentreRight", QRect(1910, 300, 30, 18), {}, sixRows, sideBySide, 0, QPoint(1994, 324)},
        PlacementCase{
            "upperScreenBottom", QRect(100, 1000, 2, 18), {}, sixRows, stacked, 0, QPoint(100, 802)},
        PlacementCase{"lowerScreenTop", QRect(100, 1085, 2, 18), {}, sixRows, stacked, 0, QPoint(100, 1109)},
        // The centre on no screen at all: the primary screen's area clamps.
        PlacementCase{"offEveryScreenUsesPrimary",
                      QRect(5000, 100, 2, 18),
                      {},
                      sixRows,
                      sideBySide,
                      1,
                      QPoint(2924, 124)},
        PlacementCase{"offEveryScreenPrimaryFirst",
                      QRect(5000, 100, 2, 18),
                      {},
                      sixRows,
                      sideBySide,
                      0,
                      QPoint(1644, 124)},
        // Neither a matching screen nor a primary one: the preferred spot, unclamped.
        PlacementCase{"noScreens", QRect(5000, 100, 2, 18), {}, sixRows, {}, std::nullopt, QPoint(5000, 124)},
        PlacementCase{"noMatchNoPrimary",
                      QRect(5000, 100, 2, 18),
                      {},
                      sixRows,
                      sideBySide,
                      std::nullopt,
                      QPoint(5000, 124)}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WithoutCaret, PopoverPlacement,
    ::testing::Values(
        // An 18 px tall stand-in caret hangs from the pointer.
        PlacementCase{
            "underPointer", std::nullopt, QPoint(500, 400), sixRows, {mainScreen()}, 0, QPoint(500, 424)},
        PlacementCase{"pointerNearBottom",
                      std::nullopt,
                      QPoint(500, 1000),
                      sixRows,
                      {mainScreen()},
                      0,
                      QPoint(500, 802)},
        PlacementCase{"pointerOnRightScreen", std::nullopt, QPoint(3190, 100), sixRows, sideBySide, 0,
                      QPoint(2924, 124)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PopoverAnchor, PointerStandInAndScreenChoice) {
    EXPECT_EQ(popoverAnchor(QRect(7, 8, 2, 20), QPoint(1, 1)), QRect(7, 8, 2, 20));
    EXPECT_EQ(popoverAnchor(std::nullopt, QPoint(30, 40)), QRect(30, 40, 1, 18));

    // Frames are half-open: a centre on the shared edge belongs to the right-hand screen.
    EXPECT_EQ(popoverScreenIndex(QRect(1919, 10, 2, 2), sideBySide, 0), 1);
    EXPECT_EQ(popoverScreenIndex(QRect(1918, 10, 2, 2), sideBySide, 1), 0);
    EXPECT_EQ(popoverScreenIndex(QRect(-50, 10, 2, 2), sideBySide, 1), 1);
    // A primary index that names no screen counts as none.
    EXPECT_EQ(popoverScreenIndex(QRect(-50, 10, 2, 2), sideBySide, 5), std::nullopt);
}

} // namespace
} // namespace pimsel
