// The suggestion popover: where it goes, its window and its pointer handling.

#include "ui/popover_placement.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_window_controller.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QPoint& p, std::ostream* os) {
    *os << "(" << p.x() << ", " << p.y() << ")";
}
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << " " << r.width() << "x" << r.height() << ")";
}

namespace pimsel {
namespace {

// Two plain rows and one with skin tones.
QList<EmojiEntry> sampleRows(int count) {
    const QList<EmojiEntry> all{{"😄", "smile face", {"smile"}, {}, false, 0},
                                {"😃", "smiley face", {"smiley"}, {}, false, 0},
                                {"👋", "wave face", {"wave"}, {}, true, 0}};
    return all.mid(0, count);
}

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
    QRect caret; // the pointer stands in without one: the window scenario's
    int height;  // of a 272 px wide panel: 192 is six rows, 42 one
    QList<ScreenArea> screens;
    std::optional<int> primary;
    QPoint expected;
};

TEST(PopoverPlacement, PlacesThePanelOnTheCaretsScreen) {
    const Placement placements[] = {
        // 6 px under the caret's bottom edge unless that passes the available bottom (1040): above it then.
        {"NoFlipButInset", QRect(100, 824, 2, 18), 192, single, 0, {100, 844}},
        {"FlipByOnePixel", QRect(100, 825, 2, 18), 192, single, 0, {100, 627}},
        {"LeftEdge", QRect(1, 200, 2, 18), 192, single, 0, {4, 224}},
        {"FlipRunsIntoTopBar", QRect(100, 150, 2, 18), 192, topBar, 0, {100, 34}},
        // Narrower than the panel: the right inset wins. Shorter: the top inset wins.
        {"NarrowScreen", QRect(50, 20, 2, 18), 42, narrow, 0, {-76, 44}},
        {"ShortScreen", QRect(50, 20, 2, 18), 192, shortScreen, 0, {50, 4}},
        // The caret's own screen clamps, not the primary one.
        {"RightScreenFlip", QRect(2000, 700, 2, 18), 192, sideBySide, 0, {2000, 502}},
        {"NoSpillToTheNextScreen", QRect(1900, 300, 2, 18), 192, sideBySide, 1, {1644, 324}},
        {"StraddlingCaretGoesByItsCentre", QRect(1910, 300, 30, 18), 192, sideBySide, 0, {1994, 324}},
        {"LowerScreenTop", QRect(100, 1085, 2, 18), 192, stacked, 0, {100, 1109}},
        {"OffScreenUsesPrimary", QRect(5000, 100, 2, 18), 192, sideBySide, 1, {2924, 124}},
        {"NoScreens", QRect(5000, 100, 2, 18), 192, {}, std::nullopt, {5000, 124}},
        {"NoMatchBadPrimary", QRect(5000, 100, 2, 18), 192, sideBySide, 5, {5000, 124}},
        // Frames are half open: a caret centred on the shared edge belongs to the right screen.
        {"CentreOnTheSharedEdge", QRect(1919, 500, 2, 18), 192, sideBySide, 0, {1994, 524}},
    };
    for (const Placement& p : placements)
        EXPECT_EQ(placePopover({p.caret, {}, QSize(272, p.height), p.screens, p.primary}), p.expected)
            << p.name;
}

// A desktop the test steers: one 1920×1080 screen with a 40 px bottom panel unless changed.
struct FakeDesktop {
    QList<ScreenArea> screens{mainScreen};
    QPoint pointer{500, 400};
    bool compositor = true;

    SuggestionDesktop desktop() {
        return {[this] { return screens; }, [] { return std::optional<int>(0); }, [this] { return pointer; },
                [this] { return compositor; }};
    }
};

class SuggestionPopover : public ::testing::Test {
protected:
    void show(int rows, std::optional<QRect> anchor = QRect(100, 200, 2, 18)) {
        controller.show(sampleRows(rows), 0, anchor, ":");
    }
    QRect geometry() const { return controller.panel()->geometry(); }

    FakeDesktop fake;
    SuggestionWindowController controller{fake.desktop()};
    const QStringList tones = toneVariants(sampleRows(3)[2]);
};

// One window, reused and never given the keyboard, placed at every show from the stored caret (the
// pointer only without one) and again when the tone strip comes or goes, never on a selection change.
TEST_F(SuggestionPopover, OneReusedWindowPlacedAtEachShowAndWhenTheToneStripComesOrGoes) {
    controller.hide(); // nothing to act on before the first show
    controller.updateSelection(1);
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 250)));
    show(3, QRect(1800, 980, 2, 18));
    SuggestionPanelView* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    // Work asked for meanwhile waits until the new popover is painted, and runs at once after.
    int drawn = 0;
    controller.whenDrawn([&] { ++drawn; });
    EXPECT_EQ(drawn, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return drawn == 1; }));
    controller.whenDrawn([&] { ++drawn; });
    EXPECT_EQ(drawn, 2);
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
    EXPECT_EQ(geometry(), QRect(1644, 872, 272, 102));
    fake.pointer = QPoint(700, 300);
    show(3, std::nullopt);
    EXPECT_EQ(geometry(), QRect(700, 324, 272, 102));

    // Room for three rows under the caret but not for the strip as well.
    show(3, QRect(100, 900, 2, 18));
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    fake.pointer = QPoint(10, 10);
    controller.showToneVariants(tones, 0);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    controller.showToneVariants(tones, 4);
    controller.updateSelection(2);
    controller.show(sampleRows(3), 1, QRect(100, 900, 2, 18), ";");
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    EXPECT_EQ(controller.model().selectedToneIndex(), 4) << "a new list keeps the strip";
    controller.hideToneVariants();
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    EXPECT_EQ(controller.panel(), panel);
    // A click counts as inside on the frame's own edges (100, 924) – (371, 1025).
    EXPECT_TRUE(controller.containsGlobalPoint(QPoint(100, 924)) &&
                controller.containsGlobalPoint(QPoint(371, 1025)));
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(99, 950)) ||
                 controller.containsGlobalPoint(QPoint(150, 1026)));
    // Hidden, the window waits off every screen, whatever comes meanwhile; shown, it comes back in place.
    controller.showToneVariants(tones, 0);
    controller.hide();
    controller.hideToneVariants();
    EXPECT_FALSE(geometry().intersects(mainScreen.frame) || controller.containsGlobalPoint(QPoint(150, 950)));
    show(1);
    EXPECT_EQ(geometry(), QRect(100, 224, 272, 42));
    EXPECT_EQ(controller.panel(), panel);
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
        {3, 0, {6, 6}, "pick 0"},     {3, 0, {100, 95}, "pick 2"}, {3, 0, {5, 20}, ""},
        {3, 0, {100, 96}, ""},        {3, 6, {42, 104}, "tone 0"}, {3, 6, {71, 110}, ""},
        {3, 6, {229, 131}, "tone 5"}, {1, 2, {138, 50}, "tone 1"}, {2, 0, {100, 80}, ""},
    };
    for (const auto& c : clicks) {
        show(c.rows);
        if (c.variants)
            controller.showToneVariants(tones.mid(0, c.variants), 0);
        else
            controller.hideToneVariants();
        log.clear();
        QTest::mouseClick(controller.panel(), Qt::LeftButton, {}, c.point);
        EXPECT_EQ(log.join(u','), c.reported)
            << c.point.x() << "," << c.point.y() << " rows " << c.rows << " variants " << c.variants;
    }

    // Another button or a drag to another item picks nothing. Hovering reports each row entered, not
    // padding or the strip, and leaving a row and coming back counts again.
    SuggestionPanelView& panel = *controller.panel();
    show(3);
    controller.showToneVariants(tones, 0);
    log.clear();
    QTest::mouseClick(&panel, Qt::RightButton, {}, {100, 20});
    for (const auto& [down, up] : {std::pair{QPoint(100, 20), QPoint(100, 50)}, {{100, 80}, {50, 110}}}) {
        QTest::mousePress(&panel, Qt::LeftButton, {}, down);
        QTest::mouseRelease(&panel, Qt::LeftButton, {}, up);
    }
    // The popover showing under a resting pointer chooses nothing: only the pointer's motion does.
    QEnterEvent appeared(QPointF(100, 50), QPointF(100, 50), panel.mapToGlobal(QPointF(100, 50)));
    QCoreApplication::sendEvent(&panel, &appeared);
    for (QPoint p : {QPoint(100, 50), QPoint(20, 10), QPoint(200, 30), QPoint(100, 80), QPoint(100, 40),
                     QPoint(2, 40), QPoint(50, 110), QPoint(100, 40)}) {
        QMouseEvent move(QEvent::MouseMove, p, panel.mapToGlobal(p), Qt::NoButton, {}, {});
        QCoreApplication::sendEvent(&panel, &move);
    }
    EXPECT_EQ(log, QStringList({"hover 0", "hover 2", "hover 1", "hover 1"}));

    // A pick may hide the popover, and show it again, from inside the callback.
    controller.setCallbacks({[&](int row) {
                                 log << QStringLiteral("pick %1").arg(row), controller.hide(), show(1),
                                     controller.hide();
                             },
                             nullptr, nullptr});
    QTest::mouseClick(&panel, Qt::LeftButton, {}, {100, 80});
    EXPECT_EQ(log.last(), "pick 2");
    EXPECT_FALSE(panel.geometry().intersects(mainScreen.frame));
}

} // namespace
} // namespace pimsel
