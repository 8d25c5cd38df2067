#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"

#include "ui_test_support.h"

#include <gtest/gtest.h>

namespace pimsel {
namespace {

using namespace pimsel::testing;

struct Hit {
    int rows, variants;
    QPoint point;
    int row, cell; // -1: none
};

// Three rows span x 6..265 and y 6+30i..35+30i; the strip under them begins at y 96, its cells
// are 28 px squares 4 px apart, centred, from x 42 and y 104. Under one row the cells start at y 44.
const Hit hits[] = {
    {3, 0, {6, 6}, 0, -1},     {3, 0, {265, 35}, 0, -1},   {3, 0, {100, 36}, 1, -1},
    {3, 0, {100, 95}, 2, -1},  {3, 0, {5, 20}, -1, -1},    {3, 0, {266, 20}, -1, -1},
    {3, 0, {100, 5}, -1, -1},  {3, 0, {100, 96}, -1, -1},  {3, 0, {50, 110}, -1, -1},
    {3, 6, {42, 104}, -1, 0},  {3, 6, {69, 131}, -1, 0},   {3, 6, {71, 110}, -1, -1},
    {3, 6, {74, 110}, -1, 1},  {3, 6, {202, 120}, -1, 5},  {3, 6, {230, 120}, -1, -1},
    {3, 6, {150, 99}, -1, -1}, {3, 6, {150, 132}, -1, -1}, {3, 6, {41, 110}, -1, -1},
    {1, 6, {42, 44}, -1, 0},   {1, 6, {42, 104}, -1, -1},  {1, 6, {100, 40}, -1, -1},
    {1, 2, {106, 50}, -1, 0},  {1, 2, {138, 50}, -1, 1},   {1, 2, {42, 50}, -1, -1},
};

TEST(SuggestionPanelView, HitTestsRowsAndToneCells) {
    SuggestionViewModel model;
    SuggestionPanelView view(&model);
    for (const Hit& hit : hits) {
        model.setResults(sampleRows(hit.rows));
        model.setToneVariants(toneVariants(sampleRows(3)[2]).mid(0, hit.variants));
        SCOPED_TRACE(::testing::Message() << hit.point.x() << "," << hit.point.y() << " rows " << hit.rows
                                          << " variants " << hit.variants);
        EXPECT_EQ(view.rowAt(hit.point).value_or(-1), hit.row);
        EXPECT_EQ(view.toneCellAt(hit.point).value_or(-1), hit.cell);
    }
}

// Three rows and the wave's six tones; every callback is noted in one log.
class SuggestionPanelPointer : public ::testing::Test {
protected:
    void SetUp() override {
        model.setResults(sampleRows(3));
        model.setToneVariants(toneVariants(sampleRows(3)[2]));
        model.onPick = [this](int row) { log << QStringLiteral("pick %1").arg(row); };
        model.onHover = [this](int row) { log << QStringLiteral("hover %1").arg(row); };
        model.onPickTone = [this](int variant) { log << QStringLiteral("tone %1").arg(variant); };
        view.resize(suggestion_layout::panelSize(3, true));
    }
    void press(QPoint down, QPoint up, Qt::MouseButton button = Qt::LeftButton) {
        sendMouse(view, QEvent::MouseButtonPress, down, button);
        sendMouse(view, QEvent::MouseButtonRelease, up, button);
    }
    std::string logged() const { return log.join(QLatin1Char(',')).toStdString(); }

    SuggestionViewModel model;
    SuggestionPanelView view{&model};
    QStringList log;
};

TEST_F(SuggestionPanelPointer, HoverReportsEachRowOnceOnEntering) {
    for (QPoint p : {QPoint(20, 10), QPoint(200, 30), QPoint(100, 20), QPoint(100, 80), QPoint(100, 40)})
        moveTo(view, p);
    // Padding and the tone strip report nothing, but leaving a row and coming back counts again.
    for (QPoint p : {QPoint(2, 40), QPoint(50, 110), QPoint(100, 40)})
        moveTo(view, p);
    // Leaving the window forgets the row; entering straight onto it reports it.
    leave(view);
    enter(view, {100, 40});
    moveTo(view, {110, 41});
    EXPECT_EQ(logged(), "hover 0,hover 2,hover 1,hover 1,hover 1");
}

TEST_F(SuggestionPanelPointer, ClicksReportTheItemPressedAndReleasedOn) {
    press({100, 80}, {100, 80});
    press({10, 10}, {10, 10});
    press({148, 110}, {148, 110}); // cell 3
    press({229, 131}, {229, 131}); // the last pixel of cell 5
    press({3, 50}, {3, 50});       // outer padding
    press({72, 110}, {72, 110});   // between two cells
    press({150, 100}, {150, 100}); // the hairline
    press({100, 20}, {100, 20}, Qt::RightButton);
    press({100, 20}, {100, 50}); // dragged to another row
    press({100, 80}, {50, 110}); // dragged onto a cell
    EXPECT_EQ(logged(), "pick 2,pick 0,tone 3,tone 5");

    // Without a strip the place of a cell is empty panel; beyond the rows there is nothing.
    model.setToneVariants({});
    model.setResults(sampleRows(2));
    log.clear();
    press({50, 110}, {50, 110});
    press({100, 80}, {100, 80});
    press({100, 50}, {100, 50});
    EXPECT_EQ(logged(), "pick 1");
}

TEST_F(SuggestionPanelPointer, MissingCallbacksAreSkipped) {
    model.onPick = nullptr;
    model.onHover = nullptr;
    press({100, 20}, {100, 20});
    moveTo(view, {100, 50});
    press({42, 104}, {42, 104});
    EXPECT_EQ(logged(), "tone 0");
}

} // namespace
} // namespace pimsel
