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
}

// The whole catalogue, two of it used: browsing, scrolling, searching and clicking in the view.
TEST(EmojiBrowserView, DrawsScrollsSearchesAndActivatesTheClickedCell) {
    QList<EmojiEntry> entries = shippedCatalogue();
    for (EmojiEntry& e : entries)
        e.useCount = e.aliases.contains(QStringLiteral("tada")) ? 4 : e.aliases.contains("heart") ? 2 : 0;
    EmojiBrowserViewModel model;
    model.load(entries);
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

    QImage image = render();
    for (int index : {0, 1, 2, 12}) // 🎉 and ❤ used, then the smileys
        EXPECT_GT(countPixels(image, cellInView(index), isSaturated), 60) << "cell " << index;

    // The selected cell and the one under the pointer are washed.
    const auto washed = [&](int index) {
        const QRect cell = cellInView(index);
        return !static_cast<bool>(near(image.pixelColor(cell.left() + 3, cell.center().y()), palette::ink));
    };
    EXPECT_TRUE(washed(0) && !washed(1));
    model.moveSelection(MoveDirection::right);
    QTest::mouseMove(grid.viewport(), cellInView(4).center() - origin);
    image = render();
    EXPECT_TRUE(!washed(0) && washed(1) && !washed(3) && washed(4));

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

    EXPECT_FALSE(view.searchLine()->clearButton()->isVisibleTo(&view));
    model.appendToQuery(QStringLiteral("tada"));
    ASSERT_TRUE(view.searchLine()->clearButton()->isVisibleTo(&view));
    EXPECT_EQ(model.searchResults().value(0).emoji, QStringLiteral("🎉"));
    // No results: the empty-state face and message.
    model.appendToQuery(QStringLiteral("qqqzz"));
    ASSERT_TRUE(model.searchResults().isEmpty());
    image = render();
    const QRect message(origin.x(), origin.y() + 64, grid.viewport()->width(), 100);
    EXPECT_GT(countPixels(image, message, [](const QColor& c) { return c.red() > 80; }), 100);
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

// The hidden window renders its first screen ahead, scrolling renders each emoji once while only a
// few screens are kept, and a hidden browser does no work.
TEST(EmojiBrowserCache, FirstScreenIsRenderedAheadEachEmojiOnceAndAFewScreensAreKept) {
    const QList<EmojiEntry> entries = shippedCatalogue();
    EmojiBrowserWindowController controller(WindowActivation{});
    QSignalSpy prepared(&controller, &EmojiBrowserWindowController::prepared);
    controller.prepare(entries);
    ASSERT_TRUE(!prepared.isEmpty() || prepared.wait(20000));
    EmojiBrowserGrid& grid = *controller.panel()->view()->grid();
    const int page = grid.viewport()->height();
    QSet<QString> firstScreen, distinct;
    for (int i = 0; i < grid.gridLayout().cellCount(); ++i) {
        if (grid.gridLayout().cellRect(i).top() < page)
            firstScreen.insert(controller.viewModel().visibleEntries()[i].emoji);
    }
    for (const EmojiEntry& e : entries)
        distinct.insert(e.emoji);
    ASSERT_GT(firstScreen.size(), 50);
    EXPECT_EQ(grid.renderedEmojiCount(), firstScreen.size());

    controller.show(entries);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.panel()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid.isWarmingUp(); }, 20000));
    QScrollBar* bar = grid.verticalScrollBar();
    for (int y = 0; y < bar->maximum() + page; y += page) {
        bar->setValue(y);
        grid.viewport()->repaint();
        ASSERT_LE(grid.cachedEmojiCount(), grid.cacheCapacity());
    }
    EXPECT_EQ(grid.renderedEmojiCount(), distinct.size()) << "each emoji rendered once on the way down";
    EXPECT_LT(grid.cacheCapacity(), distinct.size() / 4);
    const int rendered = grid.renderedEmojiCount();
    bar->setValue(0);
    EXPECT_GT(countPixels(grid.viewport()->grab().toImage(), grid.gridLayout().cellRect(0), isSaturated), 60);
    EXPECT_EQ(grid.renderedEmojiCount(), rendered + firstScreen.size()) << "the top was dropped long ago";
    controller.cancel();
    QTest::qWait(20);
    EXPECT_EQ(grid.renderedEmojiCount(), rendered + firstScreen.size()) << "a hidden browser works on";
}
