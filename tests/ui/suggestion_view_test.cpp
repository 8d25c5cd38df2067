#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"

#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace pimsel {
namespace {

using namespace pimsel::testing;

// Counts every change signal the model publishes.
struct ChangeLog {
    explicit ChangeLog(SuggestionViewModel& model) {
        QObject::connect(&model, &SuggestionViewModel::resultsChanged, [this] { ++results; });
        QObject::connect(&model, &SuggestionViewModel::selectedIndexChanged, [this] { ++selectedIndex; });
        QObject::connect(&model, &SuggestionViewModel::toneVariantsChanged, [this] { ++toneVariants; });
        QObject::connect(&model, &SuggestionViewModel::selectedToneIndexChanged, [this] { ++selectedTone; });
        QObject::connect(&model, &SuggestionViewModel::triggerChanged, [this] { ++trigger; });
    }
    int results = 0, selectedIndex = 0, toneVariants = 0, selectedTone = 0, trigger = 0;
};

TEST(SuggestionViewModel, StartsEmptyWithColonTrigger) {
    SuggestionViewModel model;
    EXPECT_TRUE(model.results().isEmpty());
    EXPECT_EQ(model.selectedIndex(), 0);
    EXPECT_TRUE(model.toneVariants().isEmpty());
    EXPECT_FALSE(model.hasToneVariants());
    EXPECT_EQ(model.selectedToneIndex(), 0);
    EXPECT_EQ(model.trigger(), QStringLiteral(":"));
    EXPECT_FALSE(model.onPick);
    EXPECT_FALSE(model.onHover);
    EXPECT_FALSE(model.onPickTone);
}

TEST(SuggestionViewModel, PublishesRealChangesOnly) {
    SuggestionViewModel model;
    ChangeLog log(model);

    model.setResults(sampleRows(3));
    model.setResults(sampleRows(3));
    model.setSelectedIndex(2);
    model.setSelectedIndex(2);
    model.setTrigger(QStringLiteral(";"));
    model.setTrigger(QStringLiteral(";"));
    model.setToneVariants(toneVariants(sampleRows(3)[2]));
    model.setToneVariants(toneVariants(sampleRows(3)[2]));
    model.setSelectedToneIndex(4);
    model.setSelectedToneIndex(4);
    EXPECT_EQ(log.results, 1);
    EXPECT_EQ(log.selectedIndex, 1);
    EXPECT_EQ(log.trigger, 1);
    EXPECT_EQ(log.toneVariants, 1);
    EXPECT_EQ(log.selectedTone, 1);

    // A different list with the same length still counts as a change.
    model.setResults(sampleRows(4).mid(1));
    EXPECT_EQ(log.results, 2);
    EXPECT_EQ(model.results().first().emoji, QStringLiteral("😃"));
    model.setToneVariants({});
    EXPECT_EQ(log.toneVariants, 2);
    EXPECT_FALSE(model.hasToneVariants());
    // The rows and the tone choice are independent of each other.
    EXPECT_EQ(model.selectedIndex(), 2);
    EXPECT_EQ(model.selectedToneIndex(), 4);
}

// A view of three rows and, on demand, the six tone variants of the wave.
class SuggestionPanelViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.setResults(sampleRows(3));
        model.onPick = [this](int row) { picks.push_back(row); };
        model.onHover = [this](int row) { hovers.push_back(row); };
        model.onPickTone = [this](int variant) { tonePicks.push_back(variant); };
        view.resize(suggestion_layout::panelSize(3, true));
    }
    void showTones() { model.setToneVariants(toneVariants(sampleRows(3)[2])); }

    SuggestionViewModel model;
    SuggestionPanelView view{&model};
    std::vector<int> picks, hovers, tonePicks;
};

struct HitCase {
    QPoint point;
    bool withTones;
    std::optional<int> row;
    std::optional<int> cell;
};

TEST_F(SuggestionPanelViewTest, HitTestsRowsAndToneCells) {
    // Rows span x 6..265 and y 6+30i..35+30i; the strip under three rows begins at y 96, its cells
    // are 28 px squares 4 px apart, centred, from x 42 and y 104.
    const std::vector<HitCase> cases{
        {{6, 6}, false, 0, std::nullopt},
        {{265, 35}, false, 0, std::nullopt},
        {{100, 36}, false, 1, std::nullopt},
        {{100, 95}, false, 2, std::nullopt},
        {{5, 20}, false, std::nullopt, std::nullopt},
        {{266, 20}, false, std::nullopt, std::nullopt},
        {{100, 5}, false, std::nullopt, std::nullopt},
        {{100, 96}, false, std::nullopt, std::nullopt},
        {{50, 110}, false, std::nullopt, std::nullopt},
        {{42, 104}, true, std::nullopt, 0},
        {{69, 131}, true, std::nullopt, 0},
        {{71, 110}, true, std::nullopt, std::nullopt},
        {{74, 110}, true, std::nullopt, 1},
        {{202, 120}, true, std::nullopt, 5},
        {{230, 120}, true, std::nullopt, std::nullopt},
        {{150, 99}, true, std::nullopt, std::nullopt},
        {{150, 132}, true, std::nullopt, std::nullopt},
        {{41, 110}, true, std::nullopt, std::nullopt},
    };
    for (const HitCase& c : cases) {
        model.setToneVariants(c.withTones ? toneVariants(sampleRows(3)[2]) : QStringList());
        SCOPED_TRACE(::testing::Message() << c.point.x() << "," << c.point.y() << " tones " << c.withTones);
        EXPECT_EQ(view.rowAt(c.point), c.row);
        EXPECT_EQ(view.toneCellAt(c.point), c.cell);
    }
}

TEST_F(SuggestionPanelViewTest, ToneCellsFollowTheRowCount) {
    showTones();
    model.setResults(sampleRows(1));
    // One row: the strip starts at y 36, cells at y 44.
    EXPECT_EQ(view.toneCellAt(QPointF(42, 44)), 0);
    EXPECT_EQ(view.toneCellAt(QPointF(42, 104)), std::nullopt);
    EXPECT_EQ(view.rowAt(QPointF(100, 40)), std::nullopt);
    // Fewer variants stay centred.
    model.setToneVariants({QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(view.toneCellAt(QPointF(106, 50)), 0);
    EXPECT_EQ(view.toneCellAt(QPointF(138, 50)), 1);
    EXPECT_EQ(view.toneCellAt(QPointF(42, 50)), std::nullopt);
}

TEST_F(SuggestionPanelViewTest, HoverReportsEachRowOnceOnEntering) {
    showTones();
    moveTo(view, {20, 10});
    moveTo(view, {200, 30});
    moveTo(view, {100, 20});
    EXPECT_EQ(hovers, (std::vector<int>{0}));

    moveTo(view, {100, 80});
    moveTo(view, {100, 40}); // back up through row 1
    EXPECT_EQ(hovers, (std::vector<int>{0, 2, 1}));

    // Padding and the tone strip report nothing, but leaving a row and coming back counts again.
    moveTo(view, {2, 40});
    moveTo(view, {50, 110});
    moveTo(view, {100, 40});
    EXPECT_EQ(hovers, (std::vector<int>{0, 2, 1, 1}));

    // Leaving the window forgets the row; entering straight onto it reports it.
    leave(view);
    enter(view, {100, 40});
    moveTo(view, {110, 41});
    EXPECT_EQ(hovers, (std::vector<int>{0, 2, 1, 1, 1}));
    EXPECT_TRUE(picks.empty());
    EXPECT_TRUE(tonePicks.empty());
}

TEST_F(SuggestionPanelViewTest, ClicksReportRowsAndToneCells) {
    showTones();
    click(view, {100, 80});
    click(view, {10, 10});
    click(view, {42 + 3 * 32 + 10, 110});
    click(view, {42 + 5 * 32 + 27, 131});
    EXPECT_EQ(picks, (std::vector<int>{2, 0}));
    EXPECT_EQ(tonePicks, (std::vector<int>{3, 5}));
}

TEST_F(SuggestionPanelViewTest, ClicksOutsideItemsOrDraggedAwayReportNothing) {
    showTones();
    click(view, {3, 50});                    // outer padding
    click(view, {72, 110});                  // between two cells
    click(view, {150, 100});                 // on the hairline
    click(view, {100, 20}, Qt::RightButton); // not the primary button
    // Pressed on one row, released on another: no click.
    sendMouse(view, QEvent::MouseButtonPress, {100, 20});
    sendMouse(view, QEvent::MouseButtonRelease, {100, 50});
    // Pressed on a row, released on a cell.
    sendMouse(view, QEvent::MouseButtonPress, {100, 80});
    sendMouse(view, QEvent::MouseButtonRelease, {50, 110});
    EXPECT_TRUE(picks.empty());
    EXPECT_TRUE(tonePicks.empty());

    // Without a strip the place of a cell is empty panel.
    model.setToneVariants({});
    click(view, {50, 110});
    EXPECT_TRUE(tonePicks.empty());
}

TEST_F(SuggestionPanelViewTest, MissingCallbacksAndRowsBeyondTheResults) {
    model.onPick = nullptr;
    model.onHover = nullptr;
    click(view, {100, 20});
    moveTo(view, {100, 50});
    // Two rows left: where the third was is nothing.
    model.onPick = [this](int row) { picks.push_back(row); };
    model.setResults(sampleRows(2));
    click(view, {100, 80});
    click(view, {100, 50});
    EXPECT_EQ(picks, (std::vector<int>{1}));
}

} // namespace
} // namespace pimsel
