#include "engine/emoji_store.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/emoji_browser_window_controller.h"
#include "ui/palette.h"

#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include "ui_test_support.h"

using namespace pimsel;
using namespace pimsel::testing;

namespace {

// `color` drawn over ink, as the window shows it.
QColor overInk(const QColor& color) {
    const double a = color.alphaF();
    auto mix = [a](int top, int bottom) { return static_cast<int>(std::lround(top * a + bottom * (1 - a))); };
    return QColor(mix(color.red(), palette::ink.red()), mix(color.green(), palette::ink.green()),
                  mix(color.blue(), palette::ink.blue()));
}

bool near(const QColor& a, const QColor& b, int tolerance = 3) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

bool isSaturated(const QColor& c) {
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60;
}

int countPixels(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test) {
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (test(image.pixelColor(x, y)))
                ++count;
        }
    }
    return count;
}

class EmojiBrowserViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        entries = shippedCatalogue();
        ASSERT_GT(entries.size(), 1000);
        // Two used emoji give a "Frequently Used" section in front.
        for (EmojiEntry& e : entries) {
            if (e.aliases.contains(QStringLiteral("tada")))
                e.useCount = 4;
            if (e.aliases.contains(QStringLiteral("heart")))
                e.useCount = 2;
        }
        model.load(entries);
        view = std::make_unique<EmojiBrowserView>(&model);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    // Pending layout requests (the scroll bar showing or hiding) settle first, as before a real paint.
    QImage render() const {
        QCoreApplication::processEvents();
        return view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    EmojiBrowserGrid& grid() const { return *view->grid(); }
    // A cell's frame in view coordinates.
    QRect cellInView(int index) const {
        return grid()
            .gridLayout()
            .cellRect(index)
            .translated(grid().viewport()->mapTo(view.get(), QPoint()))
            .translated(0, -grid().scrollY());
    }

    QList<EmojiEntry> entries;
    EmojiBrowserViewModel model;
    std::unique_ptr<EmojiBrowserView> view;
};

QList<EmojiEntry> objects(int count, int smileyCount, int usedIndex = -1) {
    QList<EmojiEntry> entries;
    for (int i = 0; i < count; ++i) {
        const QString category =
            i < smileyCount ? QStringLiteral("Smileys & Emotion") : QStringLiteral("Objects");
        entries.append(EmojiEntry{QString(QChar(0x2600 + i)),
                                  {},
                                  {QStringLiteral("e%1").arg(i)},
                                  category,
                                  false,
                                  i == usedIndex ? 1 : 0});
    }
    return entries;
}

} // namespace

TEST(EmojiGridLayoutTest, CellsHitTestBackToTheirIndexAcrossSectionsAndHeadersPin) {
    EmojiBrowserViewModel model;
    model.load(objects(40, 11, 30));
    EmojiGridLayout layout;
    layout.rebuild(model, 432, 25);
    ASSERT_EQ(layout.blocks().size(), 3); // Frequently Used (1), Smileys (11), Objects (29)
    ASSERT_EQ(layout.cellCount(), 41);
    EXPECT_EQ(layout.blocks()[2].firstIndex, 12);
    for (int i = 0; i < layout.cellCount(); ++i) {
        const QRect cell = layout.cellRect(i);
        EXPECT_EQ(cell.size(), QSize(40, 40));
        EXPECT_TRUE(cell.left() >= 12 && cell.right() <= 432 - 12) << i;
        EXPECT_EQ(layout.indexAt(cell.center()), i);
    }
    // Rows are 44 apart; a section's first cell starts a new row.
    EXPECT_EQ(layout.cellRect(9 + 12).top() - layout.cellRect(12).top(), 44);
    EXPECT_EQ(layout.cellRect(12).left(), layout.cellRect(1).left());
    // Gaps, headers and the space after a short last row hit nothing.
    EXPECT_EQ(layout.indexAt(QPoint(layout.cellRect(0).center().x(), layout.cellRect(0).bottom() + 2)), -1);
    EXPECT_EQ(layout.indexAt(QPoint(200, 5)), -1);
    EXPECT_EQ(layout.indexAt(QPoint(layout.cellRect(11).right() + 30, layout.cellRect(11).center().y())), -1);

    // A header sticks to the top until the next section pushes it out.
    const EmojiGridLayout::Block first = layout.blocks()[0];
    EXPECT_EQ(layout.pinnedHeaderTop(0, 30), 30);
    EXPECT_EQ(layout.pinnedHeaderTop(0, first.bottom), first.bottom - 25);
    EXPECT_EQ(layout.pinnedHeaderTop(1, 10), first.bottom);

    // Search results form one untitled grid; no results give the empty state.
    model.appendToQuery(QStringLiteral("e1"));
    layout.rebuild(model, 432, 25);
    ASSERT_EQ(layout.blocks().size(), 1);
    EXPECT_TRUE(layout.blocks()[0].title.isEmpty());
    EXPECT_EQ(layout.cellCount(), model.searchResults().size());
    model.appendToQuery(QStringLiteral("nothing like it"));
    layout.rebuild(model, 432, 25);
    EXPECT_TRUE(layout.showsEmptyState());
}

TEST_F(EmojiBrowserViewTest, DrawsInkHeadersColourEmojiAndWashesTheSelectedAndHoveredCells) {
    EXPECT_EQ(view->size(), QSize(440, 520));
    QImage image = render();
    const int lineHeight = view->searchLine()->height();
    EXPECT_TRUE(near(image.pixelColor(3, lineHeight / 2), palette::ink));
    EXPECT_TRUE(near(image.pixelColor(3, image.height() - 3), palette::ink));
    EXPECT_TRUE(near(image.pixelColor(200, lineHeight), overInk(palette::hairline())));
    EXPECT_EQ(view->searchLine()->displayedText(), QStringLiteral("Search emoji"));
    // Header band of the first section: light text on ink.
    const QPoint origin = grid().viewport()->mapTo(view.get(), QPoint());
    const QRect header(origin.x() + 14, origin.y(), 200, grid().gridLayout().headerHeight());
    EXPECT_GT(countPixels(image, header, [](const QColor& c) { return c.red() > 80 && !isSaturated(c); }),
              30);
    // Colour emoji: 🎉 (frequent, cell 0), ❤ (cell 1) and smileys further on.
    for (int index : {0, 1, 2, 12})
        EXPECT_GT(countPixels(image, cellInView(index), isSaturated), 60) << "cell " << index;

    const QColor wash = overInk(palette::accentWash());
    auto edge = [&](int index) {
        return image.pixelColor(cellInView(index).left() + 3, cellInView(index).center().y());
    };
    EXPECT_TRUE(near(edge(0), wash)) << edge(0).name().toStdString();
    EXPECT_TRUE(near(edge(1), palette::ink));
    model.moveSelection(MoveDirection::right);
    QTest::mouseMove(grid().viewport(), cellInView(4).center() - origin);
    image = render();
    EXPECT_TRUE(near(edge(0), palette::ink));
    EXPECT_TRUE(near(edge(1), wash));
    EXPECT_TRUE(near(edge(4), wash)) << "under the pointer";
    EXPECT_TRUE(near(edge(3), palette::ink));
}

TEST_F(EmojiBrowserViewTest, SelectionFarDownScrollsItsCellToTheCentreAndANewSessionScrollsBack) {
    for (int i = 0; i < 60; ++i)
        model.moveSelection(MoveDirection::down);
    ASSERT_EQ(model.selectedIndex(), 540);
    const QRect cell = grid().gridLayout().cellRect(540);
    EXPECT_NEAR(cell.center().y() - grid().scrollY(), grid().viewport()->height() / 2, 1);
    // The header pinned above the cells hides what scrolls under it.
    const QPoint origin = grid().viewport()->mapTo(view.get(), QPoint());
    const QRect pinned(origin.x(), origin.y(), grid().viewport()->width(),
                       grid().gridLayout().headerHeight());
    EXPECT_EQ(countPixels(render(), pinned, isSaturated), 0);
    model.load(entries);
    EXPECT_EQ(grid().scrollY(), 0);
}

TEST_F(EmojiBrowserViewTest, SearchShowsResultsThenTheEmptyStateAndTheClearButtonResets) {
    EXPECT_FALSE(view->searchLine()->clearButton()->isVisibleTo(view.get()));
    model.appendToQuery(QStringLiteral("tada"));
    EXPECT_EQ(view->searchLine()->displayedText(), QStringLiteral("tada"));
    ASSERT_TRUE(view->searchLine()->clearButton()->isVisibleTo(view.get()));
    EXPECT_EQ(model.searchResults().value(0).emoji, QStringLiteral("🎉"));
    EXPECT_GT(countPixels(render(), cellInView(0), isSaturated), 60);
    // Measured against each cell's own background, the wash of a selected cell included, in a band
    // clear of the wash's rounded corners.
    const auto emojiWidth = [this](const QImage& image, int index) {
        const QRect cell = cellInView(index);
        return paintedWidth(image, cell.adjusted(0, 10, 0, -10),
                            image.pixelColor(cell.left() + 1, cell.center().y()));
    };
    const int tadaWidth = emojiWidth(render(), 0);

    // Gendered sequences are one person, no separate sign drawn beside it.
    model.setQuery(QStringLiteral("detective"));
    model.refresh();
    const QImage detectives = render();
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(model.searchResults().value(index).emoji.toStdString());
        EXPECT_GT(countPixels(detectives, cellInView(index), isSaturated), 60);
        EXPECT_LE(emojiWidth(detectives, index), tadaWidth + 2);
    }

    model.appendToQuery(QStringLiteral("qqqzz"));
    ASSERT_TRUE(model.searchResults().isEmpty());
    const QImage image = render();
    const QPoint origin = grid().viewport()->mapTo(view.get(), QPoint());
    // The empty-state face and message, centred below an empty top.
    const QRect message(origin.x(), origin.y() + 64, grid().viewport()->width(), 100);
    EXPECT_GT(countPixels(image, message, [](const QColor& c) { return c.red() > 80; }), 100);
    EXPECT_EQ(countPixels(image, QRect(origin.x(), origin.y(), 440, 60),
                          [](const QColor& c) { return c.red() > 30; }),
              0);

    QTest::mouseClick(view->searchLine()->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(model.query().isEmpty());
    EXPECT_FALSE(view->searchLine()->clearButton()->isVisibleTo(view.get()));
}

TEST_F(EmojiBrowserViewTest, CellsShowTheirShortcodeAndAClickActivatesThatEntry) {
    QStringList activated;
    view->onActivate = [&](const EmojiEntry& e) { activated.append(e.emoji); };
    const QPoint origin = grid().viewport()->mapTo(view.get(), QPoint());
    const QPoint centre = cellInView(1).center() - origin;
    QHelpEvent help(QEvent::ToolTip, centre, grid().viewport()->mapToGlobal(centre));
    QApplication::sendEvent(grid().viewport(), &help);
    EXPECT_EQ(QToolTip::text(), ":" + model.visibleEntries()[1].aliases.first() + ":");
    QToolTip::hideText();

    QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(activated, QStringList{model.visibleEntries()[1].emoji});
    // A press that ends on another cell is no click.
    QTest::mousePress(grid().viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(grid().viewport(), Qt::LeftButton, {}, cellInView(5).center() - origin);
    EXPECT_EQ(activated.size(), 1);
}

// The hidden window renders its first screen ahead; once open, idle time renders the screens
// around the one in view, anything else is rendered as it scrolls into view, each emoji once, and
// only the last few screens seen are kept.
TEST(EmojiBrowserCacheTest, FirstScreenIsRenderedAheadTheRestAroundTheViewAndAFewScreensAreKept) {
    const QList<EmojiEntry> entries = shippedCatalogue();
    EmojiBrowserWindowController controller(WindowActivation{});
    bool prepared = false;
    QObject::connect(&controller, &EmojiBrowserWindowController::prepared, [&] { prepared = true; });
    controller.prepare(entries);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prepared; }, 20000));
    EmojiBrowserGrid& grid = *controller.panel()->view()->grid();
    const int page = grid.viewport()->height();
    // The distinct emoji of the cells reaching into content rows [top, bottom).
    const auto emojiIn = [&](int top, int bottom) {
        QSet<QString> shown;
        const QRect band(0, top, grid.viewport()->width(), bottom - top);
        for (int i = 0; i < grid.gridLayout().cellCount(); ++i) {
            if (grid.gridLayout().cellRect(i).intersects(band))
                shown.insert(controller.viewModel().visibleEntries()[i].emoji);
        }
        return shown;
    };
    const QSet<QString> firstScreen = emojiIn(0, page);
    ASSERT_GT(firstScreen.size(), 50);
    EXPECT_EQ(grid.renderedEmojiCount(), firstScreen.size());

    controller.show(entries);
    grid.viewport()->repaint();
    EXPECT_EQ(grid.renderedEmojiCount(), firstScreen.size()) << "opening renders nothing more";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.panel()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid.isWarmingUp(); }, 20000));
    EXPECT_EQ(grid.renderedEmojiCount(), emojiIn(0, 2 * page).size()) << "the next screen, no more";
    QScrollBar* bar = grid.verticalScrollBar();
    bar->setValue(page);
    grid.viewport()->repaint();
    EXPECT_EQ(grid.renderedEmojiCount(), emojiIn(0, 2 * page).size());

    // Scrolled without a pause, each page is rendered as it comes into view.
    QSet<QString> distinct;
    for (const EmojiEntry& e : entries)
        distinct.insert(e.emoji);
    for (int y = 0; y < bar->maximum() + page; y += page) {
        bar->setValue(y);
        grid.viewport()->repaint();
        ASSERT_LE(grid.cachedEmojiCount(), grid.cacheCapacity());
    }
    EXPECT_EQ(grid.renderedEmojiCount(), distinct.size()) << "each emoji rendered once on the way down";
    EXPECT_LT(grid.cacheCapacity(), distinct.size() / 4);

    // A page back is still kept; the top, long dropped, is rendered and drawn afresh.
    const int rendered = grid.renderedEmojiCount();
    bar->setValue(bar->maximum() - page);
    grid.viewport()->repaint();
    EXPECT_EQ(grid.renderedEmojiCount(), rendered);
    bar->setValue(0);
    const QImage top = grid.viewport()->grab().toImage();
    EXPECT_EQ(grid.renderedEmojiCount(), rendered + firstScreen.size());
    EXPECT_GT(countPixels(top, grid.gridLayout().cellRect(0), isSaturated), 60);

    controller.cancel();
    QTest::qWait(20);
    EXPECT_EQ(grid.renderedEmojiCount(), rendered + firstScreen.size())
        << "a hidden browser does no work in the background";
}
