#include "engine/emoji_search_engine.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/emoji_browser_window_controller.h"
#include "ui/palette.h"

#include "ui_test_support.h"

#include <QApplication>
#include <QHelpEvent>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

const QString smileys = QStringLiteral("Smileys & Emotion");

QStringList titles(const QList<EmojiBrowserSection>& sections) {
    QStringList result;
    for (const EmojiBrowserSection& section : sections)
        result.append(section.title);
    return result;
}

} // namespace

TEST(EmojiBrowserModel, SectionsInTheFixedOrderAfterTheTwentyFourMostUsedWithTiesInCatalogueOrder) {
    // Catalogue order deliberately differs from the grid order.
    QList<EmojiEntry> entries = {entry("🅰", "zed", "Zeta"),           entry("🇫🇷", "fr", "Flags"),
                                 entry("🅱", "custom", "Custom"),      entry("😀", "grinning", smileys),
                                 entry("👋", "wave", "People & Body"), entry("😃", "smiley", smileys),
                                 entry("🆎", "custom2", "Custom")};
    QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    EXPECT_EQ(titles(sections), (QStringList{smileys, "People & Body", "Flags", "Custom", "Zeta"}));
    EXPECT_EQ(aliasesOf(sections[0].entries), (QStringList{"grinning", "smiley"}));
    EXPECT_EQ(aliasesOf(sections[3].entries), (QStringList{"custom", "custom2"}));

    // Thirty used entries: counts 1…6 repeating, so the cut falls inside a tie.
    entries = numbered(30, QStringLiteral("u"), smileys);
    for (int i = 0; i < 30; ++i)
        entries[i].useCount = i % 6 + 1;
    entries.append(entry("🪨", "never", smileys));
    sections = EmojiBrowserViewModel::buildSections(entries);
    ASSERT_EQ(titles(sections), (QStringList{EmojiBrowserViewModel::frequentlyUsedTitle, smileys}));
    QStringList expected;
    for (int count = 6; count >= 1; --count)
        for (int i = count - 1; i < 30; i += 6)
            expected.append(QStringLiteral("u%1").arg(i));
    EXPECT_EQ(aliasesOf(sections[0].entries), expected.mid(0, 24));
    EXPECT_EQ(sections[1].entries.size(), 31) << "used entries stay in their category too";
}

TEST(EmojiBrowserModel, SelectionMovesOverNineColumnsAcrossSectionsAndEveryEditPutsItBackOnTheFirstCell) {
    // Twenty cells in rows of nine: moves clamp at both ends, left and right run across rows, and a
    // move down with no cell below goes to the last.
    EmojiBrowserViewModel model;
    model.load(numbered(20));
    const QString keys = QStringLiteral("RRDLLLDDRDUUUL");
    const int expected[] = {1, 2, 11, 10, 9, 8, 17, 19, 19, 19, 10, 1, 0, 0};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QChar key = keys[i];
        model.moveSelection(key == 'R'   ? MoveDirection::right
                            : key == 'L' ? MoveDirection::left
                            : key == 'U' ? MoveDirection::up
                                         : MoveDirection::down);
        EXPECT_EQ(model.selectedIndex(), expected[i]) << "move " << i << " " << key.toLatin1();
    }

    QList<EmojiEntry> entries = numbered(12, QStringLiteral("obj"));
    entries[10].useCount = 3; // frequent: cell 0, and again at 1 + 1 + 10 = 12
    entries.prepend(entry("😀", "grinning", smileys));
    model.load(entries);
    ASSERT_EQ(model.visibleEntries().size(), 14);
    QStringList selected{model.selectedEntry()->aliases.first()};
    for (int i = 0; i < 2; ++i) {
        model.moveSelection(MoveDirection::down);
        selected.append(model.selectedEntry()->aliases.first());
    }
    EXPECT_EQ(selected, (QStringList{"obj10", "obj7", "obj11"}));

    model.load(numbered(30));
    QSignalSpy published(&model, &EmojiBrowserViewModel::selectedIndexChanged);
    QSignalSpy sessions(&model, &EmojiBrowserViewModel::sessionIDChanged);
    const QUuid firstSession = model.sessionID();
    const std::vector<std::function<void()>> edits = {
        [&] { model.appendToQuery(QStringLiteral("c")); }, [&] { model.appendToQuery(QStringLiteral(" ")); },
        [&] { model.deleteBackward(); }, [&] { model.refresh(); }, [&] { model.load(numbered(30)); }};
    for (size_t i = 0; i < edits.size(); ++i) {
        model.moveSelection(MoveDirection::down);
        model.moveSelection(MoveDirection::right);
        ASSERT_EQ(model.selectedIndex(), 10) << "edit " << i;
        published.clear();
        edits[i]();
        // Published even when it was already 0, so the view re-centres the first cell.
        EXPECT_TRUE(model.selectedIndex() == 0 && !published.isEmpty()) << "edit " << i;
    }
    EXPECT_EQ(sessions.count(), 1) << "only a load starts a session";
    EXPECT_NE(model.sessionID(), firstSession);
    EXPECT_TRUE(model.query().isEmpty() && model.searchResults().isEmpty());

    model.appendToQuery(QStringLiteral("zzzz"));
    ASSERT_TRUE(model.isSearching() && model.searchResults().isEmpty());
    published.clear();
    model.moveSelection(MoveDirection::down);
    EXPECT_TRUE(published.isEmpty() && !model.selectedEntry()) << "an empty grid ignores moves";
}

TEST(EmojiBrowserModel, QuerySearchesTrimmedCappedAndAgainstTheLatestCatalogueAndDeletesWholeCharacters) {
    const QList<EmojiEntry> two = {entry("😀", "grinning", smileys), entry("🎉", "tada", "Activities")};
    EmojiBrowserViewModel model;
    for (const QString& blank : {QStringLiteral(" \t "), QString(QChar(0x00A0)), QString(QChar(0x3000))}) {
        model.load(two);
        model.appendToQuery(blank);
        EXPECT_TRUE(!model.isSearching() && model.visibleEntries().size() == 2) << blank.toStdString();
    }
    model.load(two);
    model.appendToQuery(QStringLiteral("tada f")); // inner spaces are searched: a prefix of "tada face"
    EXPECT_EQ(model.searchResults(), QList<EmojiEntry>{two[1]});

    QList<EmojiEntry> entries = numbered(500, QStringLiteral("ab"));
    entries[321].useCount = 7;
    entries[42].aliases = {QStringLiteral("ab")};
    model.load(entries);
    model.appendToQuery(QStringLiteral("ab"));
    ASSERT_EQ(model.visibleEntries().size(), EmojiBrowserViewModel::searchLimit);
    EXPECT_EQ(model.searchResults(), EmojiSearchEngine().search(QStringLiteral("ab"), entries, 400));
    // Same size, one entry renamed: the old alias no longer matches, the new one does.
    entries[7].aliases = {QStringLiteral("kitty")};
    entries[7].name = QStringLiteral("kitty face");
    model.load(entries);
    model.appendToQuery(QStringLiteral("ab7"));
    EXPECT_FALSE(aliasesOf(model.searchResults()).contains(QStringLiteral("kitty")));
    model.setQuery(QStringLiteral("kitty"));
    model.refresh();
    EXPECT_EQ(aliasesOf(model.searchResults()), QStringList{"kitty"});

    const QStringList typed = {"ok👍🏽", "a🇫🇷", "cafe\u0301", "x👩‍👩‍👧", "tada"};
    const QStringList after = {"ok", "a", "caf", "x", "tad"};
    for (qsizetype i = 0; i < typed.size(); ++i) {
        model.load(two);
        model.appendToQuery(typed[i].left(1));
        model.appendToQuery(typed[i].mid(1));
        model.deleteBackward();
        EXPECT_EQ(model.query(), after[i]) << typed[i].toStdString();
    }
    model.load(two);
    QSignalSpy queryPublished(&model, &EmojiBrowserViewModel::queryChanged);
    model.deleteBackward();
    EXPECT_EQ(queryPublished.count(), 0);
}

TEST(EmojiGridLayout, CellsHitTestBackToTheirIndexAcrossSectionsAndHeadersPin) {
    QList<EmojiEntry> entries = numbered(40, QStringLiteral("e"));
    for (int i = 0; i < 11; ++i)
        entries[i].category = smileys;
    entries[30].useCount = 1;
    EmojiBrowserViewModel model;
    model.load(entries);
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

namespace {

// `color` drawn over ink, as the window shows it.
QColor overInk(const QColor& color) {
    const double a = color.alphaF();
    auto mix = [a](int top, int bottom) { return static_cast<int>(std::lround(top * a + bottom * (1 - a))); };
    return QColor(mix(color.red(), palette::ink.red()), mix(color.green(), palette::ink.green()),
                  mix(color.blue(), palette::ink.blue()));
}

} // namespace

// The whole catalogue, two of it used: browsing, scrolling, searching and clicking in the view.
TEST(EmojiBrowserView, DrawsScrollsSearchesAndActivatesTheClickedCell) {
    QList<EmojiEntry> entries = shippedCatalogue();
    for (EmojiEntry& e : entries)
        e.useCount = e.aliases.contains(QStringLiteral("tada")) ? 4 : e.aliases.contains("heart") ? 2 : 0;
    EmojiBrowserViewModel model;
    model.load(entries);
    EXPECT_EQ(titles(model.sections()).mid(1), EmojiBrowserViewModel::categoryOrder);
    EXPECT_EQ(model.visibleEntries().size(), entries.size() + 2);
    EmojiBrowserView view(&model);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EmojiBrowserGrid& grid = *view.grid();
    const QPoint origin = grid.viewport()->mapTo(&view, QPoint());
    const auto cellInView = [&](int index) {
        return grid.gridLayout().cellRect(index).translated(origin).translated(0, -grid.scrollY());
    };
    // Pending layout requests (the scroll bar showing or hiding) settle first, as before a real paint.
    const auto render = [&] {
        QCoreApplication::processEvents();
        return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };

    // Ink background, a hairline under the search line, light headers and colour emoji.
    EXPECT_EQ(view.size(), QSize(440, 520));
    QImage image = render();
    const int lineHeight = view.searchLine()->height();
    EXPECT_TRUE(near(image.pixelColor(3, lineHeight / 2), palette::ink));
    EXPECT_TRUE(near(image.pixelColor(3, image.height() - 3), palette::ink));
    EXPECT_TRUE(near(image.pixelColor(200, lineHeight), overInk(palette::hairline())));
    EXPECT_EQ(view.searchLine()->displayedText(), QStringLiteral("Search emoji"));
    const QRect header(origin.x() + 14, origin.y(), 200, grid.gridLayout().headerHeight());
    EXPECT_GT(countPixels(image, header, [](const QColor& c) { return c.red() > 80 && !isSaturated(c); }),
              30);
    for (int index : {0, 1, 2, 12}) // 🎉 and ❤ used, then the smileys
        EXPECT_GT(countPixels(image, cellInView(index), isSaturated), 60) << "cell " << index;

    // The selected cell and the one under the pointer are washed.
    const QColor wash = overInk(palette::accentWash());
    const auto edge = [&](int index) {
        return image.pixelColor(cellInView(index).left() + 3, cellInView(index).center().y());
    };
    EXPECT_TRUE(near(edge(0), wash));
    EXPECT_TRUE(near(edge(1), palette::ink));
    model.moveSelection(MoveDirection::right);
    QTest::mouseMove(grid.viewport(), cellInView(4).center() - origin);
    image = render();
    EXPECT_TRUE(near(edge(0), palette::ink));
    EXPECT_TRUE(near(edge(1), wash));
    EXPECT_TRUE(near(edge(4), wash)) << "under the pointer";
    EXPECT_TRUE(near(edge(3), palette::ink));

    // Cells name their shortcode; a click activates the cell pressed and released on.
    QStringList activated;
    view.onActivate = [&](const EmojiEntry& e) { activated.append(e.emoji); };
    const QPoint centre = cellInView(1).center() - origin;
    QHelpEvent help(QEvent::ToolTip, centre, grid.viewport()->mapToGlobal(centre));
    QApplication::sendEvent(grid.viewport(), &help);
    EXPECT_EQ(QToolTip::text(), ":" + model.visibleEntries()[1].aliases.first() + ":");
    QToolTip::hideText();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, centre);
    QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, cellInView(5).center() - origin);
    EXPECT_EQ(activated, QStringList{model.visibleEntries()[1].emoji});

    // A selection far down is scrolled to the centre, under a header that hides what passes below.
    for (int i = 0; i < 60; ++i)
        model.moveSelection(MoveDirection::down);
    const int far = model.selectedIndex();
    ASSERT_GT(far, 500);
    EXPECT_NEAR(grid.gridLayout().cellRect(far).center().y() - grid.scrollY(), grid.viewport()->height() / 2,
                1);
    const QRect pinned(origin.x(), origin.y(), grid.viewport()->width(), grid.gridLayout().headerHeight());
    EXPECT_EQ(countPixels(render(), pinned, isSaturated), 0);
    model.load(entries);
    EXPECT_EQ(grid.scrollY(), 0) << "a new session starts at the top";

    // Search results, one person per gendered sequence.
    EXPECT_FALSE(view.searchLine()->clearButton()->isVisibleTo(&view));
    model.appendToQuery(QStringLiteral("tada"));
    EXPECT_EQ(view.searchLine()->displayedText(), QStringLiteral("tada"));
    ASSERT_TRUE(view.searchLine()->clearButton()->isVisibleTo(&view));
    EXPECT_EQ(model.searchResults().value(0).emoji, QStringLiteral("🎉"));
    // Measured against each cell's own background, the wash of a selected cell included, in a band
    // clear of the wash's rounded corners.
    const auto emojiWidth = [&](const QImage& shown, int index) {
        const QRect cell = cellInView(index);
        return paintedWidth(shown, cell.adjusted(0, 10, 0, -10),
                            shown.pixelColor(cell.left() + 1, cell.center().y()));
    };
    const int tadaWidth = emojiWidth(render(), 0);
    model.setQuery(QStringLiteral("detective"));
    model.refresh();
    const QImage detectives = render();
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(model.searchResults().value(index).emoji.toStdString());
        EXPECT_GT(countPixels(detectives, cellInView(index), isSaturated), 60);
        EXPECT_LE(emojiWidth(detectives, index), tadaWidth + 2);
    }

    // No results: the empty-state face and message, centred below an empty top.
    model.appendToQuery(QStringLiteral("qqqzz"));
    ASSERT_TRUE(model.searchResults().isEmpty());
    image = render();
    const QRect message(origin.x(), origin.y() + 64, grid.viewport()->width(), 100);
    EXPECT_GT(countPixels(image, message, [](const QColor& c) { return c.red() > 80; }), 100);
    EXPECT_EQ(countPixels(image, QRect(origin.x(), origin.y(), 440, 60),
                          [](const QColor& c) { return c.red() > 30; }),
              0);
    QTest::mouseClick(view.searchLine()->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(model.query().isEmpty());
    EXPECT_FALSE(view.searchLine()->clearButton()->isVisibleTo(&view));
}

namespace {

constexpr quint32 editorWindow = 0x4200007;

// What the controller asks of the desktop and reports, in one timeline.
class EmojiBrowserController : public ::testing::Test {
protected:
    void SetUp() override {
        controller->setCallbacks({[this](const EmojiEntry& e) { events << "pick " + e.aliases.first(); },
                                  [this] { events << QStringLiteral("dismiss"); }});
    }
    // Shows the browser and lets the deferred make-key step run.
    void open() {
        controller->show(catalogue);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->panel()));
        QCoreApplication::processEvents();
    }
    static QString activate(quint32 window) { return QStringLiteral("activate %1").arg(window, 0, 16); }
    qsizetype count(const QString& prefix) const {
        return std::count_if(events.begin(), events.end(),
                             [&](const QString& e) { return e.startsWith(prefix); });
    }

    const QList<EmojiEntry> catalogue = numbered(10);
    QStringList events;
    quint32 activeWindow = editorWindow;
    std::unique_ptr<EmojiBrowserWindowController> controller =
        std::make_unique<EmojiBrowserWindowController>(WindowActivation{
            [this] { return activeWindow; }, [this](quint32 window) { events << activate(window); }});
};

} // namespace

TEST_F(EmojiBrowserController, TakesTheKeyboardForItselfAndAPickReachesTheEditorOnceItHasItBack) {
    open();
    EmojiBrowserPanel* panel = controller->panel();
    const QString panelTakesTheKeyboard = activate(panel->winId());
    EXPECT_EQ(panel->size(), QSize(440, 520));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Browse Emoji"));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(panel->windowType(), Qt::Tool);
    EXPECT_EQ(controller->targetWindow(), editorWindow);
    EXPECT_EQ(events, QStringList{panelTakesTheKeyboard});
    EXPECT_EQ(QApplication::activeWindow(), panel);
    // Keys reach the model through the input hook: nothing inside takes them a second time.
    for (QWidget* child : panel->findChildren<QWidget*>())
        EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->metaObject()->className();
    QTest::keyClicks(panel, QStringLiteral("cat"));
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Escape, Qt::Key_Return})
        QTest::keyClick(panel, key);
    EXPECT_TRUE(controller->model().query().isEmpty());
    EXPECT_EQ(controller->viewModel().selectedIndex(), 0);
    EXPECT_TRUE(panel->isVisible());

    events.clear();
    EmojiBrowserGrid* grid = panel->view()->grid();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->gridLayout().cellRect(3).center());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(count("pick"), 0) << "not before the target has the keyboard again";
    // Further picks, closes and the deactivation that follows hiding change nothing.
    controller->model().pick(catalogue[1]);
    controller->model().close();
    controller->cancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return count("pick") > 0; }, 2000));
    QTest::qWait(2 * EmojiBrowserWindowController::reactivateDelayMs);
    EXPECT_EQ(events, (QStringList{activate(editorWindow), "pick cell3"}));

    // The next session reuses the window and targets whatever had the keyboard then, never the
    // browser itself, which the window manager may not have deactivated yet; with no target a pick
    // activates nothing. A pick still waiting dies with the controller.
    activeWindow = static_cast<quint32>(panel->winId());
    open();
    EXPECT_EQ(controller->panel(), panel);
    EXPECT_EQ(controller->targetWindow(), editorWindow);
    controller->model().close();
    activeWindow = 0;
    open();
    events.clear();
    controller->model().pick(catalogue[1]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count("pick") > 0; }, 2000));
    open();
    controller->model().pick(catalogue[2]);
    controller.reset();
    QTest::qWait(2 * EmojiBrowserWindowController::reactivateDelayMs);
    EXPECT_EQ(events, (QStringList{"pick cell1", panelTakesTheKeyboard}));
}

TEST_F(EmojiBrowserController, EscapeAnotherWindowOrTheWindowManagerDismissOnce) {
    // Closed in the same turn of the event loop as it opened: the keyboard is left alone.
    controller->show(catalogue);
    controller->model().close();
    QTest::qWait(20);
    EXPECT_EQ(events, (QStringList{activate(editorWindow), "dismiss"}));

    open();
    events.clear();
    controller->model().close();
    EXPECT_EQ(count("dismiss"), 1) << "at once, no delay";
    QWidget other;
    other.show();
    other.activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(events, (QStringList{activate(editorWindow), "dismiss"}));

    open();
    ASSERT_EQ(QApplication::activeWindow(), controller->panel());
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return count("dismiss") > 1; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(count("dismiss"), 2);
    EXPECT_FALSE(controller->panel()->isVisible());

    activeWindow = 0x4300001;
    open();
    controller->panel()->close();
    EXPECT_EQ(count("dismiss"), 3);
    EXPECT_EQ(controller->targetWindow(), 0x4300001u);
    open();
    EXPECT_TRUE(controller->panel()->isVisible()) << "a window the window manager closed opens again";
    EXPECT_EQ(count("pick"), 0);
}

// The hidden window renders its first screen ahead; once open, idle time renders the screens
// around the one in view, anything else is rendered as it scrolls into view, each emoji once, and
// only the last few screens seen are kept.
TEST(EmojiBrowserCache, FirstScreenIsRenderedAheadTheRestAroundTheViewAndAFewScreensAreKept) {
    const QList<EmojiEntry> entries = shippedCatalogue();
    EmojiBrowserWindowController controller(WindowActivation{});
    QSignalSpy prepared(&controller, &EmojiBrowserWindowController::prepared);
    controller.prepare(entries);
    ASSERT_TRUE(!prepared.isEmpty() || prepared.wait(20000));
    EmojiBrowserGrid& grid = *controller.panel()->view()->grid();
    const int page = grid.viewport()->height();
    // The distinct emoji of the cells reaching into content rows [top, bottom).
    const auto emojiIn = [&](int top, int bottom) {
        QSet<QString> shown;
        for (int i = 0; i < grid.gridLayout().cellCount(); ++i) {
            if (grid.gridLayout().cellRect(i).intersects(
                    QRect(0, top, grid.viewport()->width(), bottom - top)))
                shown.insert(controller.viewModel().visibleEntries()[i].emoji);
        }
        return shown.size();
    };
    const qsizetype firstScreen = emojiIn(0, page);
    ASSERT_GT(firstScreen, 50);
    EXPECT_EQ(grid.renderedEmojiCount(), firstScreen);

    controller.show(entries);
    grid.viewport()->repaint();
    EXPECT_EQ(grid.renderedEmojiCount(), firstScreen) << "opening renders nothing more";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.panel()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid.isWarmingUp(); }, 20000));
    EXPECT_EQ(grid.renderedEmojiCount(), emojiIn(0, 2 * page)) << "the next screen, no more";
    QScrollBar* bar = grid.verticalScrollBar();
    bar->setValue(page);
    grid.viewport()->repaint();
    EXPECT_EQ(grid.renderedEmojiCount(), emojiIn(0, 2 * page));

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
    EXPECT_EQ(grid.renderedEmojiCount(), rendered + firstScreen);
    EXPECT_GT(countPixels(top, grid.gridLayout().cellRect(0), isSaturated), 60);

    controller.cancel();
    QTest::qWait(20);
    EXPECT_EQ(grid.renderedEmojiCount(), rendered + firstScreen)
        << "a hidden browser does no work in the background";
}
