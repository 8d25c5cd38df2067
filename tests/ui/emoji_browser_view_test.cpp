#include "engine/emoji_store.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
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

namespace {

QList<EmojiEntry> shippedCatalogue() {
    QFile file(EmojiStore::defaultCatalogPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return EmojiStore::decodeCatalog(file.readAll());
}

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

} // namespace

// ---- Geometry ---------------------------------------------------------------------------------

TEST(EmojiGridLayoutTest, CellsHitTestBackToTheirIndexAcrossSections) {
    EmojiBrowserViewModel model;
    QList<EmojiEntry> entries;
    for (int i = 0; i < 40; ++i) {
        EmojiEntry e;
        e.emoji = QString(QChar(0x2600 + i));
        e.aliases = {QStringLiteral("e%1").arg(i)};
        e.category = i < 11 ? QStringLiteral("Smileys & Emotion") : QStringLiteral("Objects");
        e.useCount = i == 30 ? 1 : 0;
        entries.append(e);
    }
    model.load(entries);
    EmojiGridLayout layout;
    layout.rebuild(model, 432, 25);

    ASSERT_EQ(layout.blocks().size(), 3); // Frequently Used (1), Smileys (11), Objects (29)
    ASSERT_EQ(layout.cellCount(), 41);
    EXPECT_EQ(layout.blocks()[1].firstIndex, 1);
    EXPECT_EQ(layout.blocks()[2].firstIndex, 12);
    for (const EmojiGridLayout::Block& block : layout.blocks())
        EXPECT_EQ(block.gridTop, block.headerTop + 25);
    EXPECT_EQ(layout.contentHeight(), layout.blocks().last().bottom);

    for (int i = 0; i < layout.cellCount(); ++i) {
        const QRect cell = layout.cellRect(i);
        EXPECT_EQ(cell.size(), QSize(40, 40));
        EXPECT_GE(cell.left(), 12);
        EXPECT_LE(cell.right(), 432 - 12);
        EXPECT_EQ(layout.indexAt(cell.center()), i);
    }
    // Rows are 44 apart; a section's first cell starts a new row.
    EXPECT_EQ(layout.cellRect(9 + 12).top() - layout.cellRect(12).top(), 44);
    EXPECT_EQ(layout.cellRect(10).left(), layout.cellRect(1).left());
    EXPECT_EQ(layout.cellRect(12).left(), layout.cellRect(1).left());
    // Gaps, headers and the space after a short last row hit nothing.
    EXPECT_EQ(layout.indexAt(QPoint(layout.cellRect(0).center().x(), layout.cellRect(0).bottom() + 2)), -1);
    EXPECT_EQ(layout.indexAt(QPoint(5, layout.cellRect(0).center().y())), -1);
    EXPECT_EQ(layout.indexAt(QPoint(200, 5)), -1);
    EXPECT_EQ(layout.indexAt(QPoint(layout.cellRect(11).right() + 30, layout.cellRect(11).center().y())), -1);
    EXPECT_TRUE(layout.cellRect(41).isNull());

    // Search results form one untitled grid inset on all sides; no results give the empty state.
    model.appendToQuery(QStringLiteral("e1"));
    layout.rebuild(model, 432, 25);
    ASSERT_EQ(layout.blocks().size(), 1);
    EXPECT_TRUE(layout.blocks()[0].title.isEmpty());
    EXPECT_EQ(layout.cellRect(0).top(), 12);
    EXPECT_EQ(layout.cellCount(), model.searchResults().size());
    model.setQuery(QStringLiteral("nothing like it"));
    model.refresh();
    layout.rebuild(model, 432, 25);
    EXPECT_TRUE(layout.showsEmptyState());
    EXPECT_EQ(layout.cellCount(), 0);
}

TEST(EmojiGridLayoutTest, PinnedHeaderSticksUntilTheNextSectionPushesIt) {
    EmojiBrowserViewModel model;
    QList<EmojiEntry> entries;
    for (int i = 0; i < 30; ++i) {
        EmojiEntry e;
        e.emoji = QString(QChar(0x2600 + i));
        e.aliases = {QStringLiteral("e%1").arg(i)};
        e.category = i < 18 ? QStringLiteral("Smileys & Emotion") : QStringLiteral("Objects");
        entries.append(e);
    }
    model.load(entries);
    EmojiGridLayout layout;
    layout.rebuild(model, 432, 25);
    const EmojiGridLayout::Block first = layout.blocks()[0];
    EXPECT_EQ(layout.pinnedHeaderTop(0, 0), 0);
    EXPECT_EQ(layout.pinnedHeaderTop(0, 30), 30);                          // stuck to the top
    EXPECT_EQ(layout.pinnedHeaderTop(0, first.bottom), first.bottom - 25); // pushed out
    EXPECT_EQ(layout.pinnedHeaderTop(1, 10), first.bottom);                // not reached yet
}

// ---- Rendering --------------------------------------------------------------------------------

TEST_F(EmojiBrowserViewTest, DrawsInkBackgroundHeadersColourEmojiAndTheSelectedWash) {
    EXPECT_EQ(view->size(), QSize(440, 520));
    QImage image = render();
    image.save(QStringLiteral("/tmp/pimsel-browser.png"));

    const int lineHeight = view->searchLine()->height();
    EXPECT_TRUE(near(image.pixelColor(3, lineHeight / 2), palette::ink));
    EXPECT_TRUE(near(image.pixelColor(3, image.height() - 3), palette::ink));
    EXPECT_TRUE(near(image.pixelColor(200, lineHeight), overInk(palette::hairline())));
    // The placeholder is drawn in the search line.
    EXPECT_GT(countPixels(image, QRect(40, 0, 200, lineHeight), [](const QColor& c) { return c.red() > 60; }),
              20);

    // Header band of the first section: light text on ink.
    const QPoint gridOrigin = grid().viewport()->mapTo(view.get(), QPoint());
    const QRect header(gridOrigin.x() + 14, gridOrigin.y(), 200, grid().gridLayout().headerHeight());
    EXPECT_GT(countPixels(image, header, [](const QColor& c) { return c.red() > 80 && !isSaturated(c); }),
              30);
    EXPECT_TRUE(near(image.pixelColor(header.left() - 10, header.center().y()), palette::ink));

    // Colour emoji: 🎉 (frequent, cell 0) and ❤ (cell 1), and a plain smiley further on.
    for (int index : {0, 1, 2, 12}) {
        EXPECT_GT(countPixels(image, cellInView(index), isSaturated), 60) << "cell " << index;
    }

    // The selected cell (0) is washed in accent; its neighbour is not.
    const QColor wash = overInk(palette::accentWash());
    auto edge = [&](int index) {
        return image.pixelColor(cellInView(index).left() + 3, cellInView(index).center().y());
    };
    EXPECT_TRUE(near(edge(0), wash)) << edge(0).name().toStdString();
    EXPECT_TRUE(near(edge(1), palette::ink));

    model.moveSelection(MoveDirection::right);
    image = render();
    EXPECT_TRUE(near(edge(0), palette::ink));
    EXPECT_TRUE(near(edge(1), wash));
}

TEST_F(EmojiBrowserViewTest, SelectionFarDownScrollsItsCellToTheCentreAndANewSessionScrollsBack) {
    for (int i = 0; i < 60; ++i)
        model.moveSelection(MoveDirection::down);
    const int selected = model.selectedIndex();
    ASSERT_EQ(selected, 540);
    const QRect cell = grid().gridLayout().cellRect(selected);
    EXPECT_NEAR(cell.center().y() - grid().scrollY(), grid().viewport()->height() / 2, 1);

    // The header pinned above the cells hides what scrolls under it.
    const QImage image = render();
    const QPoint origin = grid().viewport()->mapTo(view.get(), QPoint());
    const QRect pinned(origin.x(), origin.y(), grid().viewport()->width(),
                       grid().gridLayout().headerHeight());
    EXPECT_EQ(countPixels(image, pinned, isSaturated), 0);
    EXPECT_GT(
        countPixels(image, pinned.adjusted(14, 0, -200, 0), [](const QColor& c) { return c.red() > 80; }),
        30);

    model.load(entries);
    EXPECT_EQ(grid().scrollY(), 0);
}

TEST_F(EmojiBrowserViewTest, SearchShowsResultsThenTheEmptyStateAndTheClearButtonResets) {
    EXPECT_FALSE(view->searchLine()->clearButton()->isVisibleTo(view.get()));
    EXPECT_EQ(view->searchLine()->displayedText(), QStringLiteral("Search emoji"));

    for (const QString& key :
         {QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("a")})
        model.appendToQuery(key);
    EXPECT_EQ(view->searchLine()->displayedText(), QStringLiteral("tada"));
    ASSERT_TRUE(view->searchLine()->clearButton()->isVisibleTo(view.get()));
    EXPECT_EQ(view->searchLine()->clearButton()->toolTip(), QStringLiteral("Clear search"));
    ASSERT_FALSE(model.searchResults().isEmpty());
    EXPECT_EQ(model.searchResults().first().emoji, QStringLiteral("🎉"));
    QImage image = render();
    EXPECT_GT(countPixels(image, cellInView(0), isSaturated), 60);
    EXPECT_EQ(cellInView(0).top() - grid().viewport()->mapTo(view.get(), QPoint()).y(), 12);

    model.appendToQuery(QStringLiteral("qqqzz"));
    ASSERT_TRUE(model.searchResults().isEmpty());
    image = render();
    const QPoint origin = grid().viewport()->mapTo(view.get(), QPoint());
    // 🫥 and the message below it, centred.
    const QRect message(origin.x(), origin.y() + 64, grid().viewport()->width(), 100);
    EXPECT_GT(countPixels(image, message, [](const QColor& c) { return c.red() > 80; }), 100);
    EXPECT_EQ(countPixels(image, QRect(origin.x(), origin.y(), 440, 60),
                          [](const QColor& c) { return c.red() > 30; }),
              0);

    QTest::mouseClick(view->searchLine()->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(model.query().isEmpty());
    EXPECT_FALSE(model.isSearching());
    EXPECT_FALSE(view->searchLine()->clearButton()->isVisibleTo(view.get()));
}

TEST_F(EmojiBrowserViewTest, CellsShowTheirShortcodeAndAClickActivatesThatEntry) {
    QStringList activated;
    view->onActivate = [&](const EmojiEntry& e) { activated.append(e.emoji); };
    const QPoint viewportOrigin = grid().viewport()->mapTo(view.get(), QPoint());
    const QPoint centre = cellInView(1).center() - viewportOrigin;

    QHelpEvent help(QEvent::ToolTip, centre, grid().viewport()->mapToGlobal(centre));
    QApplication::sendEvent(grid().viewport(), &help);
    EXPECT_EQ(QToolTip::text(),
              QStringLiteral(":") + model.visibleEntries()[1].aliases.first() + QStringLiteral(":"));
    QToolTip::hideText();

    QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(activated, QStringList{model.visibleEntries()[1].emoji});
    // A press that ends on another cell is no click.
    QTest::mousePress(grid().viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(grid().viewport(), Qt::LeftButton, {}, cellInView(5).center() - viewportOrigin);
    EXPECT_EQ(activated.size(), 1);
}

TEST_F(EmojiBrowserViewTest, TheCellUnderThePointerIsWashedUntilThePointerLeaves) {
    const QPoint viewportOrigin = grid().viewport()->mapTo(view.get(), QPoint());
    const QColor wash = overInk(palette::accentWash());
    auto edge = [&](const QImage& image, int index) {
        return image.pixelColor(cellInView(index).left() + 3, cellInView(index).center().y());
    };
    ASSERT_TRUE(near(edge(render(), 4), palette::ink));

    QTest::mouseMove(grid().viewport(), cellInView(4).center() - viewportOrigin);
    QImage image = render();
    EXPECT_TRUE(near(edge(image, 4), wash));
    EXPECT_TRUE(near(edge(image, 0), wash)); // still selected
    EXPECT_TRUE(near(edge(image, 3), palette::ink));

    // Into the gap between two rows: no cell is under the pointer any more.
    QTest::mouseMove(grid().viewport(),
                     QPoint(cellInView(4).center().x(), cellInView(4).bottom() + 3) - viewportOrigin);
    image = render();
    EXPECT_TRUE(near(edge(image, 4), palette::ink));
}

TEST_F(EmojiBrowserViewTest, IdleTimeRendersEveryEmojiOnceWhileShown) {
    QSet<QString> distinct;
    for (const EmojiEntry& e : entries)
        distinct.insert(e.emoji);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid().isWarmingUp(); }, 20000));
    EXPECT_EQ(grid().cachedEmojiCount(), distinct.size());
    // Painting and searching afterwards find everything in the cache.
    model.appendToQuery(QStringLiteral("s"));
    render();
    EXPECT_EQ(grid().cachedEmojiCount(), distinct.size());

    // A hidden browser does no work in the background.
    view->hide();
    model.load(entries);
    QTest::qWait(20);
    EXPECT_FALSE(grid().isWarmingUp());
}
