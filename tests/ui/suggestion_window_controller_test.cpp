#include "ui/suggestion_compositor.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"
#include "ui/suggestion_window_controller.h"

#include "ui_test_support.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <vector>

namespace pimsel {
namespace {

using namespace pimsel::testing;

// A desktop the test steers: one 1920×1080 screen with a 40 px bottom panel unless changed.
struct FakeDesktop {
    QList<ScreenArea> screens{{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)}};
    std::optional<int> primary = 0;
    QPoint pointer{500, 400};
    bool compositor = true;

    SuggestionDesktop desktop() {
        return {[this] { return screens; }, [this] { return primary; }, [this] { return pointer; },
                [this] { return compositor; }};
    }
};

class SuggestionWindowControllerTest : public ::testing::Test {
protected:
    QRect geometry() const { return controller.panel()->geometry(); }

    FakeDesktop fake;
    SuggestionWindowController controller{fake.desktop()};
    const QRect caret{100, 200, 2, 18};
};

TEST_F(SuggestionWindowControllerTest, FirstShowCreatesThePanelLaterShowsReuseIt) {
    EXPECT_EQ(controller.panel(), nullptr);
    controller.hide(); // nothing to hide yet
    controller.updateSelection(1);
    controller.hideToneVariants();
    EXPECT_EQ(controller.panel(), nullptr);

    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    SuggestionPanelView* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isWindow());

    controller.hide();
    EXPECT_FALSE(panel->isVisible());
    controller.show(sampleRows(2), 0, caret, QStringLiteral(":"));
    EXPECT_EQ(controller.panel(), panel);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(SuggestionWindowControllerTest, ShowFillsTheModelAndKeepsTheToneStrip) {
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 2);
    controller.updateSelection(2);

    controller.show(sampleRows(4), 1, caret, QStringLiteral(";"));
    const SuggestionViewModel& model = controller.model();
    EXPECT_EQ(model.results(), sampleRows(4));
    EXPECT_EQ(model.selectedIndex(), 1);
    EXPECT_EQ(model.trigger(), QStringLiteral(";"));
    EXPECT_EQ(model.toneVariants().size(), 6);
    EXPECT_EQ(model.selectedToneIndex(), 2);
    // Sized with the strip it kept.
    EXPECT_EQ(geometry().size(), QSize(272, 30 * 4 + 12 + 40));

    // Hiding keeps the contents for the next show.
    controller.hide();
    EXPECT_EQ(model.results().size(), 4);
    EXPECT_EQ(model.toneVariants().size(), 6);
}

TEST_F(SuggestionWindowControllerTest, PanelSizeForEachRowCount) {
    struct Size {
        int rows, height, heightWithTones;
    };
    // An empty list is sized as one row; the panel draws however many rows it is given.
    const Size sizes[] = {{0, 42, 82},   {1, 42, 82},   {2, 72, 112},  {3, 102, 142},
                          {4, 132, 172}, {5, 162, 202}, {6, 192, 232}, {7, 222, 262}};
    for (const Size& size : sizes) {
        controller.hideToneVariants();
        controller.show(sampleRows(size.rows), 0, caret, QStringLiteral(":"));
        EXPECT_EQ(geometry().size(), QSize(272, size.height)) << size.rows << " rows";
        controller.showToneVariants(toneVariants(sampleRows(3)[2]), 0);
        EXPECT_EQ(geometry().size(), QSize(272, size.heightWithTones)) << size.rows << " rows with tones";
    }
}

TEST_F(SuggestionWindowControllerTest, PlacesAtTheCaretOrThePointer) {
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    EXPECT_EQ(geometry(), QRect(100, 224, 272, 102));
    EXPECT_EQ(controller.currentAnchor(), caret);

    // Each show follows the caret.
    controller.show(sampleRows(3), 0, QRect(1800, 980, 2, 18), QStringLiteral(":"));
    EXPECT_EQ(geometry(), QRect(1644, 872, 272, 102));

    // No caret: under the pointer.
    fake.pointer = QPoint(700, 300);
    controller.show(sampleRows(3), 0, std::nullopt, QStringLiteral(":"));
    EXPECT_EQ(controller.currentAnchor(), std::nullopt);
    EXPECT_EQ(geometry(), QRect(700, 324, 272, 102));

    // A second screen to the right: its own area clamps.
    fake.screens.append({QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)});
    controller.show(sampleRows(3), 0, QRect(3190, 500, 2, 18), QStringLiteral(":"));
    EXPECT_EQ(geometry(), QRect(2924, 524, 272, 102));
}

TEST_F(SuggestionWindowControllerTest, ToneStripGrowsAndShrinksThePanelInPlace) {
    // Room for three rows under the caret, but not for the strip as well.
    const QRect low(100, 900, 2, 18);
    controller.show(sampleRows(3), 0, low, QStringLiteral(":"));
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));

    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 0);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    EXPECT_TRUE(controller.model().hasToneVariants());

    // A new highlight re-places from the stored caret (the pointer does not matter).
    fake.pointer = QPoint(10, 10);
    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 4);
    EXPECT_EQ(controller.model().selectedToneIndex(), 4);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));

    controller.hideToneVariants();
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    EXPECT_FALSE(controller.model().hasToneVariants());
}

TEST_F(SuggestionWindowControllerTest, OnlyTheToneStripAndShowMoveThePanel) {
    // Placed from the pointer, so a re-placement would follow the pointer's new position.
    controller.show(sampleRows(3), 0, std::nullopt, QStringLiteral(":"));
    const QRect shown = geometry();
    fake.pointer = QPoint(900, 100);

    controller.hideToneVariants(); // already hidden
    EXPECT_EQ(geometry(), shown);
    controller.updateSelection(2);
    EXPECT_EQ(controller.model().selectedIndex(), 2);
    EXPECT_EQ(geometry(), shown);

    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 0);
    EXPECT_EQ(geometry(), QRect(900, 124, 272, 142));
}

TEST_F(SuggestionWindowControllerTest, ContainsGlobalPointOnlyWhileShown) {
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 250)));
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    // Frame (100, 224) – (371, 325).
    EXPECT_TRUE(controller.containsGlobalPoint(QPoint(100, 224)));
    EXPECT_TRUE(controller.containsGlobalPoint(QPoint(371, 325)));
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(99, 250)));
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(372, 250)));
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 223)));
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 326)));
    // The caret itself is outside.
    EXPECT_FALSE(controller.containsGlobalPoint(caret.center()));

    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 0);
    EXPECT_TRUE(controller.containsGlobalPoint(QPoint(150, 360)));

    controller.hide();
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 250)));
}

TEST_F(SuggestionWindowControllerTest, WindowNeverTakesFocus) {
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    SuggestionPanelView* panel = controller.panel();
    EXPECT_EQ(panel->windowType(), Qt::ToolTip);
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(panel->focusPolicy(), Qt::NoFocus);
    QCoreApplication::processEvents();
    EXPECT_FALSE(panel->isActiveWindow());
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
}

TEST_F(SuggestionWindowControllerTest, RoundedByTranslucencyWithACompositor) {
    fake.compositor = true;
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    SuggestionPanelView* panel = controller.panel();
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(panel->hasTranslucentBackdrop());
    EXPECT_TRUE(panel->mask().isEmpty());

    // The compositor went away: the corners are cut from then on, at every size.
    fake.compositor = false;
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    EXPECT_FALSE(panel->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(panel->mask().contains(QPoint(136, 50)));
    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 0);
    EXPECT_TRUE(panel->mask().contains(QPoint(136, 130)));
    EXPECT_FALSE(panel->mask().contains(QPoint(271, 141)));

    fake.compositor = true;
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    EXPECT_TRUE(panel->mask().isEmpty());
}

TEST(SuggestionWindowControllerShape, RoundedByMaskWithoutACompositor) {
    FakeDesktop fake;
    fake.compositor = false;
    SuggestionWindowController controller(fake.desktop());
    controller.show(sampleRows(2), 0, QRect(100, 200, 2, 18), QStringLiteral(":"));
    SuggestionPanelView* panel = controller.panel();
    EXPECT_FALSE(panel->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_FALSE(panel->hasTranslucentBackdrop());
    const QRegion mask = panel->mask();
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_FALSE(mask.contains(QPoint(271, 0)));
    EXPECT_FALSE(mask.contains(QPoint(0, 71)));
    EXPECT_TRUE(mask.contains(QPoint(12, 0)));
    EXPECT_TRUE(mask.contains(QPoint(0, 36)));
    EXPECT_TRUE(mask.contains(QPoint(136, 36)));

    // A compositor appearing later changes nothing: the window has no see-through surface.
    fake.compositor = true;
    controller.show(sampleRows(2), 0, QRect(100, 200, 2, 18), QStringLiteral(":"));
    EXPECT_FALSE(panel->mask().contains(QPoint(0, 0)));
}

TEST_F(SuggestionWindowControllerTest, CallbacksReachTheViewAndCanBeReplaced) {
    std::vector<int> picks, hovers, tones;
    controller.setCallbacks({[&](int row) { picks.push_back(row); }, [&](int row) { hovers.push_back(row); },
                             [&](int variant) { tones.push_back(variant); }});
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    controller.showToneVariants(toneVariants(sampleRows(3)[2]), 0);
    SuggestionPanelView& panel = *controller.panel();

    moveTo(panel, {100, 50});
    click(panel, {100, 50});
    click(panel, {42 + 2 * 32 + 5, 110});
    EXPECT_EQ(hovers, (std::vector<int>{1}));
    EXPECT_EQ(picks, (std::vector<int>{1}));
    EXPECT_EQ(tones, (std::vector<int>{2}));

    // A hidden panel forgets the hovered row: the same row is reported after the next show.
    controller.hide();
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    moveTo(panel, {100, 50});
    EXPECT_EQ(hovers, (std::vector<int>{1, 1}));

    std::vector<int> later;
    controller.setCallbacks({[&](int row) { later.push_back(row); }, nullptr, nullptr});
    click(panel, {100, 20});
    moveTo(panel, {100, 80});
    click(panel, {42, 104});
    EXPECT_EQ(later, (std::vector<int>{0}));
    EXPECT_EQ(picks.size(), 1u);
    EXPECT_EQ(hovers.size(), 2u);
    EXPECT_EQ(tones.size(), 1u);
}

TEST_F(SuggestionWindowControllerTest, ClickThatHidesThePanelIsSafe) {
    // The coordinator accepts on a pick and hides the popover from inside the callback.
    int picked = -1;
    controller.setCallbacks({[&](int row) {
                                 picked = row;
                                 controller.hide();
                                 controller.show(sampleRows(1), 0, caret, QStringLiteral(":"));
                                 controller.hide();
                             },
                             nullptr, nullptr});
    controller.show(sampleRows(3), 0, caret, QStringLiteral(":"));
    click(*controller.panel(), {100, 80});
    EXPECT_EQ(picked, 2);
    EXPECT_FALSE(controller.panel()->isVisible());
    EXPECT_EQ(controller.model().results().size(), 1);
}

TEST(CompositorSelection, NamesTheScreenOfTheDisplay) {
    const std::vector<std::pair<QByteArray, QByteArray>> cases{
        {":0", "_NET_WM_CM_S0"},        {":1.1", "_NET_WM_CM_S1"},     {"localhost:10.2", "_NET_WM_CM_S2"},
        {"", "_NET_WM_CM_S0"},          {"host:0.x", "_NET_WM_CM_S0"}, {"[::1]:0.3", "_NET_WM_CM_S3"},
        {"unix:12.0", "_NET_WM_CM_S0"},
    };
    for (const auto& [display, expected] : cases)
        EXPECT_EQ(compositorSelectionName(display), expected) << display.toStdString();
}

TEST(CompositorSelection, NoCompositorWithoutX11) {
    if (QGuiApplication::platformName() == QStringLiteral("xcb"))
        GTEST_SKIP() << "runs on an X server";
    EXPECT_FALSE(isCompositorRunning());
}

} // namespace
} // namespace pimsel
