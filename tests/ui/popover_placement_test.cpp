#include "ui/popover_placement.h"

#include "ui_test_support.h"

#include <gtest/gtest.h>

namespace pimsel {
namespace {

// A 1920×1080 screen with a 40 px panel along its bottom.
const ScreenArea mainScreen{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)};
// To its right, 1280×1024 with a dock on the left and a 124 px panel at the bottom.
const QList<ScreenArea> sideBySide{mainScreen, {QRect(1920, 0, 1280, 1024), QRect(1990, 0, 1210, 900)}};
const QList<ScreenArea> stacked{mainScreen, {QRect(0, 1080, 1920, 1080), QRect(0, 1080, 1920, 1080)}};
const QList<ScreenArea> topBar{{QRect(0, 0, 800, 300), QRect(0, 30, 800, 270)}};
const QList<ScreenArea> narrow{{QRect(0, 0, 200, 600), QRect(0, 0, 200, 600)}};
const QList<ScreenArea> shortScreen{{QRect(0, 0, 800, 150), QRect(0, 0, 800, 150)}};
const QList<ScreenArea> single{mainScreen};

struct Placement {
    const char* name;
    std::optional<QRect> caret;
    QPoint pointer;
    int height; // of a 272 px wide panel: 192 is six rows, 42 one
    QList<ScreenArea> screens;
    std::optional<int> primary;
    QPoint expected;
};

void PrintTo(const Placement& p, std::ostream* os) {
    *os << p.name;
}

const QList<Placement> placements{
    // 6 px under the caret's bottom edge, left edges aligned.
    {"Below", QRect(100, 200, 2, 18), {}, 192, single, 0, {100, 224}},
    // The bottom would pass the available bottom (1040): above the caret instead.
    {"FlipAbove", QRect(100, 950, 2, 18), {}, 192, single, 0, {100, 752}},
    {"NoFlipButInset", QRect(100, 824, 2, 18), {}, 192, single, 0, {100, 844}},
    {"FlipByOnePixel", QRect(100, 825, 2, 18), {}, 192, single, 0, {100, 627}},
    {"RightEdge", QRect(1800, 200, 2, 18), {}, 192, single, 0, {1644, 224}},
    {"LeftEdge", QRect(1, 200, 2, 18), {}, 192, single, 0, {4, 224}},
    {"FlipRunsIntoTopBar", QRect(100, 150, 2, 18), {}, 192, topBar, 0, {100, 34}},
    // Narrower than the panel: the right inset wins. Shorter: the top inset wins.
    {"NarrowScreen", QRect(50, 20, 2, 18), {}, 42, narrow, 0, {-76, 44}},
    {"ShortScreen", QRect(50, 20, 2, 18), {}, 192, shortScreen, 0, {50, 4}},
    // The caret's own screen clamps, not the primary one.
    {"RightScreenRightEdge", QRect(3150, 500, 2, 18), {}, 192, sideBySide, 0, {2924, 524}},
    {"RightScreenFlip", QRect(2000, 700, 2, 18), {}, 192, sideBySide, 0, {2000, 502}},
    {"NoSpillToTheNextScreen", QRect(1900, 300, 2, 18), {}, 192, sideBySide, 1, {1644, 324}},
    {"StraddlingCaretGoesByItsCentre", QRect(1910, 300, 30, 18), {}, 192, sideBySide, 0, {1994, 324}},
    {"UpperScreenBottom", QRect(100, 1000, 2, 18), {}, 192, stacked, 0, {100, 802}},
    {"LowerScreenTop", QRect(100, 1085, 2, 18), {}, 192, stacked, 0, {100, 1109}},
    {"OffScreenUsesPrimary", QRect(5000, 100, 2, 18), {}, 192, sideBySide, 1, {2924, 124}},
    {"NoScreens", QRect(5000, 100, 2, 18), {}, 192, {}, std::nullopt, {5000, 124}},
    {"NoMatchNoPrimary", QRect(5000, 100, 2, 18), {}, 192, sideBySide, std::nullopt, {5000, 124}},
    // No caret: an 18 px stand-in hangs from the pointer.
    {"UnderPointer", std::nullopt, {500, 400}, 192, single, 0, {500, 424}},
    {"PointerNearBottom", std::nullopt, {500, 1000}, 192, single, 0, {500, 802}},
};

class PopoverPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(PopoverPlacement, PlacesThePanel) {
    const Placement& p = GetParam();
    EXPECT_EQ(placePopover({p.caret, p.pointer, QSize(272, p.height), p.screens, p.primary}), p.expected);
}

INSTANTIATE_TEST_SUITE_P(Popover, PopoverPlacement, ::testing::ValuesIn(placements),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PopoverScreen, FramesAreHalfOpenAndABadPrimaryIsNone) {
    EXPECT_EQ(popoverScreenIndex(QRect(1919, 10, 2, 2), sideBySide, 0), 1); // centre on the shared edge
    EXPECT_EQ(popoverScreenIndex(QRect(1918, 10, 2, 2), sideBySide, 1), 0);
    EXPECT_EQ(popoverScreenIndex(QRect(-50, 10, 2, 2), sideBySide, 1), 1);
    EXPECT_EQ(popoverScreenIndex(QRect(-50, 10, 2, 2), sideBySide, 5), std::nullopt);
}

} // namespace
} // namespace pimsel
