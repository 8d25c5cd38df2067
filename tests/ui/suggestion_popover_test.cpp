#include "ui/suggestion_compositor.h"
#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"
#include "ui/suggestion_window_controller.h"

#include "ui_test_support.h"

#include <QApplication>

namespace pimsel {
namespace {

using namespace pimsel::testing;

// A desktop the test steers: one 1920×1080 screen with a 40 px bottom panel unless changed.
struct FakeDesktop {
    QList<ScreenArea> screens{{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)}};
    QPoint pointer{500, 400};
    bool compositor = true;

    SuggestionDesktop desktop() {
        return {[this] { return screens; }, [] { return std::optional<int>(0); }, [this] { return pointer; },
                [this] { return compositor; }};
    }
};

class SuggestionPopover : public ::testing::Test {
protected:
    void show(int rows, std::optional<QRect> anchor = QRect(100, 200, 2, 18), const QString& trigger = ":") {
        controller.show(sampleRows(rows), 0, anchor, trigger);
    }
    QRect geometry() const { return controller.panel()->geometry(); }

    FakeDesktop fake;
    SuggestionWindowController controller{fake.desktop()};
    const QStringList tones = toneVariants(sampleRows(3)[2]);
};

TEST_F(SuggestionPopover, OneReusedWindowThatNeverTakesFocusCoversItsRowsAndKeepsTheToneStrip) {
    controller.hide(); // nothing to act on before the first show
    controller.updateSelection(1);
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 250)));
    show(3); // frame (100, 224) – (371, 325)
    SuggestionPanelView* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
    for (QPoint inside : {QPoint(100, 224), QPoint(371, 325)})
        EXPECT_TRUE(controller.containsGlobalPoint(inside));
    for (QPoint outside : {QPoint(99, 250), QPoint(372, 250), QPoint(150, 223), QPoint(150, 326)})
        EXPECT_FALSE(controller.containsGlobalPoint(outside));
    controller.showToneVariants(tones, 2);
    EXPECT_TRUE(controller.containsGlobalPoint(QPoint(150, 360)));
    controller.show(sampleRows(4), 1, QRect(100, 200, 2, 18), ";");
    EXPECT_EQ(controller.panel(), panel);
    EXPECT_EQ(controller.model().selectedToneIndex(), 2) << "a new list keeps the strip";
    controller.hide();
    EXPECT_FALSE(panel->isVisible() || controller.containsGlobalPoint(QPoint(150, 250)));
}

TEST_F(SuggestionPopover, PlacedAtEachShowAndWhenTheToneStripComesOrGoes) {
    show(3, QRect(1800, 980, 2, 18));
    EXPECT_EQ(geometry(), QRect(1644, 872, 272, 102));
    fake.pointer = QPoint(700, 300);
    show(3, std::nullopt);
    EXPECT_EQ(geometry(), QRect(700, 324, 272, 102));
    fake.screens.append({QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)});
    show(3, QRect(3190, 500, 2, 18));
    EXPECT_EQ(geometry(), QRect(2924, 524, 272, 102));

    // Room for three rows under the caret but not for the strip as well; the stored caret is
    // used, not the pointer, and a selection change moves nothing.
    show(3, QRect(100, 900, 2, 18));
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    fake.pointer = QPoint(10, 10);
    controller.showToneVariants(tones, 0);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    controller.showToneVariants(tones, 4);
    controller.updateSelection(2);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    controller.hideToneVariants();
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    EXPECT_FALSE(controller.model().hasToneVariants());
}

// See-through with a compositor at the first show; otherwise cut by a mask, for good.
TEST(SuggestionPopoverShape, RoundedByTranslucencyOrByAMask) {
    const QStringList tones = toneVariants(sampleRows(3)[2]);
    for (bool compositorAtFirstShow : {true, false}) {
        FakeDesktop desktop;
        desktop.compositor = compositorAtFirstShow;
        SuggestionWindowController controller(desktop.desktop());
        controller.show(sampleRows(2), 0, QRect(100, 200, 2, 18), ":");
        SuggestionPanelView* panel = controller.panel();
        EXPECT_EQ(panel->testAttribute(Qt::WA_TranslucentBackground), compositorAtFirstShow);
        EXPECT_EQ(panel->hasTranslucentBackdrop(), compositorAtFirstShow);
        EXPECT_EQ(panel->mask().isEmpty(), compositorAtFirstShow);

        // The compositor comes or goes: a see-through window is cut from then on, at every size.
        desktop.compositor = !compositorAtFirstShow;
        controller.show(sampleRows(3), 0, QRect(100, 200, 2, 18), ":");
        controller.showToneVariants(tones, 0);
        const QRegion mask = panel->mask();
        for (QPoint corner : {QPoint(0, 0), QPoint(271, 0), QPoint(0, 141), QPoint(271, 141)})
            EXPECT_FALSE(mask.contains(corner)) << corner.x() << "," << corner.y();
        for (QPoint inside : {QPoint(12, 0), QPoint(0, 36), QPoint(136, 130)})
            EXPECT_TRUE(mask.contains(inside)) << inside.x() << "," << inside.y();
        desktop.compositor = compositorAtFirstShow;
        controller.show(sampleRows(3), 0, QRect(100, 200, 2, 18), ":");
        EXPECT_EQ(panel->mask().isEmpty(), compositorAtFirstShow);
    }
}

TEST_F(SuggestionPopover, PointerReportsEachRowEnteredAndTheItemPressedAndReleasedOn) {
    QStringList log;
    controller.setCallbacks({[&](int row) { log << QStringLiteral("pick %1").arg(row); },
                             [&](int row) { log << QStringLiteral("hover %1").arg(row); },
                             [&](int variant) { log << QStringLiteral("tone %1").arg(variant); }});
    // Three rows span x 6..265 and y 6+30i..35+30i; the strip under them begins at y 96, its cells
    // are 28 px squares 4 px apart, centred, from x 42 and y 104. Under one row the cells start at y 44.
    const struct {
        int rows, variants;
        QPoint point;
        const char* reported;
    } clicks[] = {
        {3, 0, {6, 6}, "pick 0"}, {3, 0, {100, 36}, "pick 1"}, {3, 0, {100, 95}, "pick 2"},
        {3, 0, {5, 20}, ""},      {3, 0, {100, 96}, ""},       {3, 6, {42, 104}, "tone 0"},
        {3, 6, {71, 110}, ""},    {3, 6, {74, 110}, "tone 1"}, {3, 6, {229, 131}, "tone 5"},
        {3, 6, {230, 120}, ""},   {1, 6, {42, 44}, "tone 0"},  {1, 2, {138, 50}, "tone 1"},
        {1, 2, {42, 50}, ""},     {2, 0, {100, 80}, ""},
    };
    for (const auto& c : clicks) {
        show(c.rows);
        if (c.variants)
            controller.showToneVariants(tones.mid(0, c.variants), 0);
        else
            controller.hideToneVariants();
        log.clear();
        click(*controller.panel(), c.point);
        EXPECT_EQ(log.join(u','), c.reported)
            << c.point.x() << "," << c.point.y() << " rows " << c.rows << " variants " << c.variants;
    }

    SuggestionPanelView& panel = *controller.panel();
    show(3);
    controller.showToneVariants(tones, 0);
    log.clear();
    click(panel, {100, 20}, {}, Qt::RightButton);
    click(panel, {100, 20}, QPoint(100, 50)); // dragged to another row
    click(panel, {100, 80}, QPoint(50, 110)); // dragged onto a cell
    for (QPoint p : {QPoint(20, 10), QPoint(200, 30), QPoint(100, 20), QPoint(100, 80), QPoint(100, 40)})
        moveTo(panel, p);
    // Padding and the tone strip report nothing, but leaving a row and coming back counts again.
    for (QPoint p : {QPoint(2, 40), QPoint(50, 110), QPoint(100, 40)})
        moveTo(panel, p);
    // Leaving the window forgets the row; entering straight onto it reports it.
    leave(panel);
    enter(panel, {100, 40});
    moveTo(panel, {110, 41});
    // So does hiding the panel: the same row is reported after the next show.
    controller.hide();
    show(3);
    moveTo(panel, {100, 50});
    EXPECT_EQ(log, QStringList({"hover 0", "hover 2", "hover 1", "hover 1", "hover 1", "hover 1"}));

    // Missing callbacks are skipped.
    controller.setCallbacks({});
    click(panel, {100, 20});
    moveTo(panel, {100, 80});
    click(panel, {42, 104});

    // The coordinator accepts on a pick and hides the popover from inside the callback.
    controller.setCallbacks({[&](int row) {
                                 log << QStringLiteral("pick %1").arg(row), controller.hide(), show(1),
                                     controller.hide();
                             },
                             nullptr, nullptr});
    click(panel, {100, 80});
    EXPECT_EQ(log.last(), "pick 2");
    EXPECT_FALSE(panel.isVisible());
}

TEST(CompositorSelection, NamesTheScreenOfTheDisplay) {
    const std::pair<QByteArray, QByteArray> cases[] = {
        {":0", "_NET_WM_CM_S0"},       {":1.1", "_NET_WM_CM_S1"},     {"localhost:10.2", "_NET_WM_CM_S2"},
        {"", "_NET_WM_CM_S0"},         {"host:0.x", "_NET_WM_CM_S0"}, {"[::1]:0.3", "_NET_WM_CM_S3"},
        {"unix:12.0", "_NET_WM_CM_S0"}};
    for (const auto& [display, expected] : cases)
        EXPECT_EQ(compositorSelectionName(display), expected) << display.toStdString();
    // Off X11 there is nothing to blend with.
    EXPECT_TRUE(QGuiApplication::platformName() == "xcb" || !isCompositorRunning());
}

} // namespace
} // namespace pimsel
